#include "app/player_window.h"

#include <QCloseEvent>
#include <QFont>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPalette>
#include <iterator>
#include <utility>

#include "app/app_texts.h"
#include "app/images.h"
#include "app/player_state.h"

namespace newsbar {

namespace {

template <typename Control>
Control* Place(QWidget* window, const char* utf8Name, int left, int top, int width, int height) {
  auto* control = new Control(window);
  control->setObjectName(QString::fromUtf8(utf8Name));
  control->setGeometry(left, top, width, height);
  return control;
}

Timer* MakeTimer(QObject* owner, const char* utf8Name) {
  auto* timer = new Timer(owner);
  timer->setObjectName(QString::fromUtf8(utf8Name));
  return timer;
}

QFont PixelFont(int pixels, bool bold = false) {
  QFont font;
  font.setPixelSize(pixels);
  font.setBold(bold);
  return font;
}

// Colours of the bar and the list; the button pictures use the same ink and accent.
constexpr const char* kStyle = R"(
QSlider::groove:horizontal { height: 4px; background: #dde1e7; border-radius: 2px; }
QSlider::sub-page:horizontal { background: #1f7ae0; border-radius: 2px; }
QSlider::sub-page:horizontal:disabled { background: #c9ced6; }
QSlider::handle:horizontal {
  width: 10px; margin: -4px 0; border-radius: 6px;
  background: #ffffff; border: 1px solid #1f7ae0;
}
QSlider::handle:horizontal:disabled { border-color: #c9ced6; }
QTreeWidget {
  border: none; border-top: 1px solid #e1e4e9; background: #ffffff;
  alternate-background-color: #f6f7f9; color: #1d2430;
  selection-background-color: #d8e7fb; selection-color: #1d2430;
}
QHeaderView::section {
  background: #eef0f3; color: #5b6472; border: none;
  border-right: 1px solid #e1e4e9; border-bottom: 1px solid #e1e4e9; padding: 2px 6px;
}
QHeaderView::section:first { padding-left: 14px; }
QTreeWidget::branch:selected { background: #d8e7fb; }
QTreeWidget::item:selected { background: #d8e7fb; color: #1d2430; }
QTreeWidget::item:focus { border-top: 1px solid #1f7ae0; border-bottom: 1px solid #1f7ae0; }
QSlider::handle:horizontal:focus { background: #1f7ae0; border: 2px solid #0b4f9c; }
)";

// The bar's own colours for every role, so that a desktop theme (a dark one above all)
// cannot give it light text on its light background, or a dark list or scroll bar.
QPalette BarPalette() {
  struct Role {
    QPalette::ColorRole role;
    QRgb normal;
    QRgb disabled;
  };
  static constexpr Role kRoles[] = {
      {QPalette::Window, 0xf6f7f9, 0xf6f7f9},      {QPalette::WindowText, 0x1d2430, 0x9aa3af},
      {QPalette::Base, 0xffffff, 0xf6f7f9},        {QPalette::AlternateBase, 0xf6f7f9, 0xf6f7f9},
      {QPalette::Text, 0x1d2430, 0x9aa3af},        {QPalette::PlaceholderText, 0x6b7482, 0x9aa3af},
      {QPalette::Button, 0xeef0f3, 0xeef0f3},      {QPalette::ButtonText, 0x1d2430, 0x9aa3af},
      {QPalette::BrightText, 0xffffff, 0xffffff},  {QPalette::Light, 0xffffff, 0xffffff},
      {QPalette::Midlight, 0xeef0f3, 0xeef0f3},    {QPalette::Mid, 0xc9ced6, 0xc9ced6},
      {QPalette::Dark, 0x9aa3af, 0x9aa3af},        {QPalette::Shadow, 0x5b6472, 0x5b6472},
      {QPalette::Highlight, 0x1f7ae0, 0xc9ced6},   {QPalette::HighlightedText, 0xffffff, 0xffffff},
      {QPalette::Link, 0x1f7ae0, 0x9aa3af},        {QPalette::LinkVisited, 0x1a5fb4, 0x9aa3af},
      {QPalette::ToolTipBase, 0xffffff, 0xffffff}, {QPalette::ToolTipText, 0x1d2430, 0x1d2430},
  };
  QPalette palette;
  for (const Role& entry : kRoles) {
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
      palette.setColor(group, entry.role, QColor(entry.normal));
    }
    palette.setColor(QPalette::Disabled, entry.role, QColor(entry.disabled));
  }
  return palette;
}

}  // namespace

PlayerWindow::PlayerWindow(WorkerRoutine worker, QWidget* parent)
    : Window(parent), worker_(std::move(worker)), media_(std::make_unique<MediaPlayer>()) {
  ResetPlayerState();
  // Crisp pictures on high-density screens: each button draws the double-size drawing
  // of the picture it shows, while its picture stays the bytes written.
  PictureButton::SetDoubleSizeLookup([](const ByteSet& picture) -> const ByteSet* {
    const ByteSet& doubled = DoubleSizeImage(picture);
    return doubled.empty() ? nullptr : &doubled;
  });
  setObjectName(QStringLiteral("PlayerWindow"));
  setWindowTitle(QStringLiteral("newsbar"));
  setWindowIcon(WindowIcon());
  // Loaded at 50,50; the created handler moves it to its place near the corner.
  move(50, 50);
  resize(408, 109);
  CreateControls();
  SetUpListColumns();
  ApplyLook();
  ConnectHandlers();
  SetUpKeyboard();
}

PlayerWindow::~PlayerWindow() {
  // The worker appends rows through the list view, which waits for this thread: keep
  // handling events until it has returned, but no longer act on its signal.
  disconnect(doneBox, nullptr, this, nullptr);
  while (ThreadRunState(WorkerThread) == 1) WaitWithMessages(10);
  playTimer->SetInterval(0);
  seekTimer->SetInterval(0);
}

void PlayerWindow::CreateControls() {
  cover = Place<PictureBox>(this, "图片框1", 3, 3, 101, 101);
  cover->SetPicture(LoadingAnimation());

  retryButton = Place<PictureButton>(this, "按钮_重试", 3, 3, 101, 101);
  retryButton->SetPicture(RetryImage());
  retryButton->setVisible(false);

  statusLabel = Place<Label>(this, "标签1", 111, 3, 282, 48);
  statusLabel->SetCaption(app_text::kInitialising);

  closeButton = Place<PictureButton>(this, "按钮_关闭", 393, 0, 15, 15);
  closeButton->SetPicture(CloseImage());

  progress = Place<Slider>(this, "滑块条_播放进度", 104, 56, 304, 16);
  progress->setEnabled(false);

  elapsedLabel = Place<Label>(this, "标签_现行时长", 110, 69, 45, 15);
  elapsedLabel->SetCaption(app_text::kZeroTime);
  totalLabel = Place<Label>(this, "标签_总时长", 356, 69, 45, 15);
  totalLabel->SetCaption(app_text::kZeroTime);
  // Between the two times, where the eye goes when the sound stops.
  waitingLabel = Place<Label>(this, "标签_等待网络", 158, 69, 196, 15);
  waitingLabel->SetCaption(app_text::kReconnecting);
  waitingLabel->setVisible(false);

  loopButton = Place<PictureButton>(this, "按钮_循环方式", 108, 82, 24, 24);
  loopButton->SetPicture(LoopImageInOrder());

  doneBox = Place<EditBox>(this, "编辑框_初始化完成", 136, 87, 16, 16);
  doneBox->setVisible(false);

  previousButton = Place<PictureButton>(this, "按钮_上一个", 174, 82, 48, 24);
  previousButton->SetPicture(PreviousImage());
  previousButton->setEnabled(false);

  playPauseButton = Place<PictureButton>(this, "按钮_播放暂停", 228, 82, 43, 24);
  SetPlayPausePicture(PauseImage());
  playPauseButton->setEnabled(false);

  nextButton = Place<PictureButton>(this, "按钮_下一个", 278, 82, 48, 24);
  nextButton->SetPicture(NextImage());
  nextButton->setEnabled(false);

  listButton = Place<PictureButton>(this, "按钮_列表", 382, 82, 24, 24);
  listButton->SetPicture(ListImage());
  listButton->setEnabled(false);

  // Lies below the collapsed window's edge until the window grows to 332.
  episodeList = Place<ListView>(this, "超级列表框1", -8, 108, 416, 211);

  collapseButton = Place<PictureButton>(this, "按钮_收缩展开", 0, 317, 408, 16);
  collapseButton->SetPicture(CollapseImage());
  collapseButton->SetCaption(app_text::kCollapseCaption);

  playTimer = MakeTimer(this, "时钟_播放");
  seekTimer = MakeTimer(this, "时钟_快进");

  // The retry button covers the cover picture when it shows.
  retryButton->raise();
}

void PlayerWindow::ApplyLook() {
  // On every widget, not only the window: a widget under a style sheet, or one for which
  // the theme has colours of its own (lists, scroll bars), does not inherit the window's.
  const QPalette colours = BarPalette();
  setPalette(colours);
  for (QWidget* widget : findChildren<QWidget*>()) widget->setPalette(colours);
  setAutoFillBackground(true);
  setStyleSheet(QString::fromLatin1(kStyle));

  statusLabel->setFont(PixelFont(13, true));
  statusLabel->setWordWrap(true);
  statusLabel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);

  QPalette muted = elapsedLabel->palette();
  muted.setColor(QPalette::WindowText, QColor(0x6b, 0x74, 0x82));
  for (Label* time : {elapsedLabel, totalLabel}) {
    time->setFont(PixelFont(10));
    time->setPalette(muted);
  }
  elapsedLabel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  totalLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  QPalette notice = waitingLabel->palette();
  notice.setColor(QPalette::WindowText, QColor(0xb4, 0x5a, 0x09));
  waitingLabel->setPalette(notice);
  waitingLabel->setFont(PixelFont(10));
  waitingLabel->setAlignment(Qt::AlignCenter);
  // A screen reader reads the notice as soon as it shows (an alert, in its own words).
  waitingLabel->setAccessibleName(waitingLabel->text());

  // A quiet tile behind the cover and the retry button, so both read as one square.
  cover->setAlignment(Qt::AlignCenter);
  const QString tile = QStringLiteral("background-color: #e8ebf0; border-radius: 6px;");
  cover->setStyleSheet(tile);
  retryButton->setAttribute(Qt::WA_StyledBackground, true);
  retryButton->setStyleSheet(tile);
  collapseButton->setFont(PixelFont(11));
  episodeList->setFont(PixelFont(12));
  episodeList->setAlternatingRowColors(true);
  // The list sits 8 px left of the window's edge; an empty branch area of that width
  // brings the titles back into view.
  episodeList->setRootIsDecorated(true);
  episodeList->setIndentation(10);
  episodeList->header()->setFont(PixelFont(11));
  // Picture-only controls still need a name for tooltips and screen readers.
  const std::pair<QWidget*, const char*> names[] = {
      {retryButton, "重试"},  {closeButton, "关闭"},    {previousButton, "上一个"},
      {nextButton, "下一个"}, {listButton, "列表"},     {collapseButton, "收起列表"},
      {progress, "播放进度"}, {episodeList, "节目列表"}};
  for (const auto& [control, name] : names) {
    control->setToolTip(QString::fromUtf8(name));
    control->setAccessibleName(QString::fromUtf8(name));
  }
  // Until an episode's cover shows (then the episode's title names it).
  cover->setAccessibleName(QString::fromUtf8("封面"));
  for (PictureButton* button : {retryButton, closeButton, loopButton, previousButton,
                                playPauseButton, nextButton, listButton, collapseButton}) {
    button->setCursor(Qt::PointingHandCursor);
  }
  NameLoopButton();
}

void PlayerWindow::NameLoopButton() {
  const ByteSet& shown = loopButton->Picture();
  const char* name = "循环方式";
  if (shown == LoopImageInOrder()) name = "循环方式：顺序播放";
  if (shown == LoopImageRepeatOne()) name = "循环方式：单曲循环";
  if (shown == LoopImageShuffle()) name = "循环方式：随机播放";
  loopButton->setToolTip(QString::fromUtf8(name));
  loopButton->setAccessibleName(QString::fromUtf8(name));
}

void PlayerWindow::SetUpKeyboard() {
  // The window itself holds the focus at first (and again when clicked), so Space plays
  // and pauses until the user tabs onto a control.
  setFocusPolicy(Qt::ClickFocus);
  setFocus(Qt::OtherFocusReason);
  // Play/pause first, close last: a stray Space after a Tab never ends the program.
  QWidget* order[] = {playPauseButton, previousButton, nextButton,     progress,    loopButton,
                      listButton,      episodeList,    collapseButton, retryButton, closeButton};
  for (std::size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);
  UpdateReachableControls();
}

void PlayerWindow::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Space && event->modifiers() == Qt::NoModifier) {
    if (!event->isAutoRepeat() && playPauseButton->isEnabled()) OnPlayPauseClicked();
    event->accept();
    return;
  }
  Window::keyPressEvent(event);
}

void PlayerWindow::resizeEvent(QResizeEvent* event) {
  Window::resizeEvent(event);
  UpdateReachableControls();
}

void PlayerWindow::closeEvent(QCloseEvent* event) {
  event->accept();
  OnCloseClicked();
}

void PlayerWindow::ConnectHandlers() {
  connect(this, &Window::created, this, &PlayerWindow::OnCreated);
  connect(media_.get(), &MediaPlayer::lengthKnown, this, &PlayerWindow::OnLengthKnown);
  connect(media_.get(), &MediaPlayer::waitingChanged, this, &PlayerWindow::OnWaitingChanged);
  connect(media_.get(), &MediaPlayer::soundPlayingChanged, this, &PlayerWindow::playbackChanged);
  connect(doneBox, &EditBox::contentChanged, this, &PlayerWindow::OnInitialisationDone);
  connect(retryButton, &QAbstractButton::clicked, this, &PlayerWindow::OnRetryClicked);
  connect(closeButton, &QAbstractButton::clicked, this, &PlayerWindow::OnCloseClicked);

  connect(playPauseButton, &QAbstractButton::clicked, this, &PlayerWindow::OnPlayPauseClicked);
  // A click raises pressed, released, clicked in that order: the release restarts the
  // media at the slider's position, then the click changes the episode, unless the press
  // was a hold that moved the slider.
  connect(nextButton, &QAbstractButton::pressed, this, [this] { OnSeekPressed(+1); });
  connect(nextButton, &QAbstractButton::released, this, &PlayerWindow::OnSeekReleased);
  connect(nextButton, &QAbstractButton::clicked, this, [this] { OnSeekButtonClicked(+1); });
  connect(previousButton, &QAbstractButton::pressed, this, [this] { OnSeekPressed(-1); });
  connect(previousButton, &QAbstractButton::released, this, &PlayerWindow::OnSeekReleased);
  connect(previousButton, &QAbstractButton::clicked, this, [this] { OnSeekButtonClicked(-1); });
  connect(seekTimer, &Timer::tick, this, &PlayerWindow::OnSeekTimerTick);
  connect(playTimer, &Timer::tick, this, &PlayerWindow::OnPlayTimerTick);
  connect(progress, &Slider::userPositionChanged, this, &PlayerWindow::OnProgressMoved);
  connect(loopButton, &QAbstractButton::clicked, this, &PlayerWindow::OnLoopClicked);

  connect(episodeList, &ListView::rowDoubleClicked, this, &PlayerWindow::OnListDoubleClicked);
  connect(episodeList, &ListView::returnPressed, this, &PlayerWindow::OnListReturnPressed);
  connect(listButton, &QAbstractButton::clicked, this, &PlayerWindow::OnListButtonClicked);
  connect(collapseButton, &QAbstractButton::clicked, this, &PlayerWindow::OnCollapseClicked);
}

}  // namespace newsbar
