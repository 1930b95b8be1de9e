#include "runtime/controls.h"

#include <QBuffer>
#include <QIcon>
#include <QMouseEvent>
#include <QMovie>
#include <QPaintEngine>
#include <QPainter>
#include <QProxyStyle>
#include <QStyle>
#include <QStyleOption>
#include <QWindow>
#include <algorithm>
#include <utility>

#include "runtime/image_decode.h"
#include "runtime/qt_text.h"

namespace newsbar {

// ------------------------------------------------------------------------------- Window

Window::Window(QWidget* parent) : QWidget(parent, Qt::Window | Qt::FramelessWindowHint) {}

void Window::CreateAndShow() {
  if (!created_) {
    created_ = true;
    emit created();
  }
  show();
}

void Window::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    QWidget::mousePressEvent(event);
    return;
  }
  // The window manager moves it when it can (the only way on some desktops); otherwise
  // we follow the mouse ourselves.
  QWindow* handle = windowHandle();
  if (handle && handle->startSystemMove()) {
    dragging_ = false;
  } else {
    dragging_ = true;
    dragOffset_ = event->globalPosition().toPoint() - frameGeometry().topLeft();
  }
  event->accept();
}

void Window::mouseMoveEvent(QMouseEvent* event) {
  if (dragging_ && (event->buttons() & Qt::LeftButton)) {
    move(event->globalPosition().toPoint() - dragOffset_);
    event->accept();
    return;
  }
  QWidget::mouseMoveEvent(event);
}

void Window::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) dragging_ = false;
  QWidget::mouseReleaseEvent(event);
}

// -------------------------------------------------------------------------------- Label

Label::Label(QWidget* parent) : QLabel(parent) {
  // Titles come from the network: never let them be read as markup.
  setTextFormat(Qt::PlainText);
}

void Label::SetCaption(std::string_view gbk) {
  setText(ToQString(gbk));
}

Text Label::Caption() const {
  return FromQString(text());
}

// ------------------------------------------------------------------------ PictureButton

namespace {
constexpr int kButtonPadding = 2;
constexpr int kCaptionGap = 4;

PictureButton::DoubleSizeLookup& DoubleSizeLookupFunction() {
  static PictureButton::DoubleSizeLookup lookup;
  return lookup;
}
// Bumped by each new lookup, so that buttons look their picture up again.
unsigned doubleSizeGeneration = 1;

// The paint device's own ratio: an image rendered at ratio 2 on a ratio-1 screen needs
// the large picture, and so does a ratio-2 screen.
qreal DeviceRatio(QPainter& painter, const QWidget& widget) {
  const QPaintEngine* engine = painter.paintEngine();
  const QPaintDevice* device = engine ? engine->paintDevice() : nullptr;
  return std::max(device ? device->devicePixelRatioF() : 1.0, widget.devicePixelRatioF());
}
}  // namespace

void PictureButton::SetDoubleSizeLookup(DoubleSizeLookup lookup) {
  DoubleSizeLookupFunction() = std::move(lookup);
  ++doubleSizeGeneration;
}

PictureButton::PictureButton(QWidget* parent) : QAbstractButton(parent) {
  setAttribute(Qt::WA_Hover);
  setFocusPolicy(Qt::TabFocus);
}

void PictureButton::SetPicture(const ByteSet& bytes) {
  picture_ = bytes;
  const QImage image = DecodePicture(bytes);
  pixmap_ = image.isNull() ? QPixmap() : QPixmap::fromImage(image);
  doublePixmap_ = QPixmap();
  doubleLookedUp_ = 0;
  updateGeometry();
  update();
}

const QPixmap& PictureButton::PixmapFor(qreal ratio) {
  if (ratio <= 1.0 || pixmap_.isNull()) return pixmap_;
  if (doubleLookedUp_ != doubleSizeGeneration) {
    doubleLookedUp_ = doubleSizeGeneration;
    doublePixmap_ = QPixmap();
    const DoubleSizeLookup& lookup = DoubleSizeLookupFunction();
    const ByteSet* bytes = lookup ? lookup(picture_) : nullptr;
    const QImage image = bytes ? DecodePicture(*bytes) : QImage();
    if (!image.isNull()) {
      doublePixmap_ = QPixmap::fromImage(image);
      doublePixmap_.setDevicePixelRatio(2.0);
    }
  }
  return doublePixmap_.isNull() ? pixmap_ : doublePixmap_;
}

void PictureButton::SetCaption(std::string_view gbk) {
  setText(ToQString(gbk));
  updateGeometry();
}

QSize PictureButton::sizeHint() const {
  QSize size = pixmap_.isNull() ? QSize(0, 0) : pixmap_.size();
  if (!text().isEmpty()) {
    const QSize textSize = fontMetrics().size(Qt::TextSingleLine, text());
    size.setWidth(size.width() + (pixmap_.isNull() ? 0 : kCaptionGap) + textSize.width());
    size.setHeight(std::max(size.height(), textSize.height()));
  }
  return size + QSize(2 * kButtonPadding, 2 * kButtonPadding);
}

void PictureButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  if (isEnabled() && (isDown() || underMouse())) {
    QColor shade = palette().color(QPalette::Highlight);
    shade.setAlpha(isDown() ? 90 : 40);
    painter.fillRect(rect(), shade);
  }

  const QRect area =
      rect().adjusted(kButtonPadding, kButtonPadding, -kButtonPadding, -kButtonPadding);
  QPixmap shown = PixmapFor(DeviceRatio(painter, *this));
  const QSizeF logical = shown.deviceIndependentSize();
  if (!shown.isNull() && (logical.width() > area.width() || logical.height() > area.height())) {
    const qreal ratio = shown.devicePixelRatio();
    shown = shown.scaled(area.size() * ratio, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    shown.setDevicePixelRatio(ratio);
  }
  if (!shown.isNull() && !isEnabled()) {
    QStyleOption option;
    option.initFrom(this);
    const qreal ratio = shown.devicePixelRatio();
    shown = style()->generatedIconPixmap(QIcon::Disabled, shown, &option);
    shown.setDevicePixelRatio(ratio);
  }

  const QString caption = text();
  const int textWidth = caption.isEmpty() ? 0 : fontMetrics().horizontalAdvance(caption);
  const int pictureWidth =
      shown.isNull() ? 0 : static_cast<int>(shown.width() / shown.devicePixelRatio());
  const int gap = (pictureWidth > 0 && textWidth > 0) ? kCaptionGap : 0;
  // Picture and caption side by side, centred together.
  int x = area.x() + (area.width() - (pictureWidth + gap + textWidth)) / 2;
  if (!shown.isNull()) {
    const int pictureHeight = static_cast<int>(shown.height() / shown.devicePixelRatio());
    painter.drawPixmap(x, area.y() + (area.height() - pictureHeight) / 2, shown);
    x += pictureWidth + gap;
  }
  if (textWidth > 0) {
    painter.setPen(
        palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::ButtonText));
    painter.drawText(QRect(x, area.y(), textWidth, area.height()), Qt::AlignVCenter, caption);
  }

  // Buttons take the focus only from the keyboard, so a ring means "Space clicks this".
  if (hasFocus()) {
    QPen ring(palette().color(QPalette::Active, QPalette::Highlight));
    ring.setWidth(2);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(ring);
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 3, 3);
  }
}

// ------------------------------------------------------------------------------ EditBox

EditBox::EditBox(QWidget* parent) : QLineEdit(parent), calls_(this) {
  connect(this, &QLineEdit::textEdited, this, &EditBox::contentChanged);
}

void EditBox::SetContent(std::string_view gbk) {
  QString text = ToQString(gbk);
  if (QThread::currentThread() == thread()) {
    ApplyContent(text);
    return;
  }
  // Posted to the window's thread; dropped there if the box is gone by then.
  calls_.Post([this, text = std::move(text)] { ApplyContent(text); });
}

void EditBox::ApplyContent(const QString& text) {
  setText(text);
  emit contentChanged();
}

Text EditBox::Content() const {
  return FromQString(text());
}

// --------------------------------------------------------------------------- PictureBox

PictureBox::PictureBox(QWidget* parent) : QLabel(parent) {
  setAlignment(Qt::AlignCenter);
}

PictureBox::~PictureBox() {
  StopAnimation();
}

void PictureBox::SetPicture(const ByteSet& bytes) {
  picture_ = bytes;
  StopAnimation();
  image_ = QImage();
  clear();
  const PictureFormat format = SniffPictureFormat(bytes);
  if (format == PictureFormat::Gif && StartAnimation(bytes)) return;
  image_ = DecodePicture(bytes);
  ShowStill();
}

bool PictureBox::StartAnimation(const ByteSet& bytes) {
  const QSize size = PictureSizeWithQt(bytes, PictureFormat::Gif);
  if (!size.isValid() || size.width() > kMaxPictureSide || size.height() > kMaxPictureSide)
    return false;
  auto buffer = std::make_unique<QBuffer>();
  buffer->setData(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<qsizetype>(bytes.size()));
  if (!buffer->open(QIODevice::ReadOnly)) return false;
  auto movie = std::make_unique<QMovie>(buffer.get(), QByteArray("gif"));
  // A single frame is a still picture: shown as one, it needs no timer at all.
  if (!movie->isValid() || movie->frameCount() < 2) return false;
  movie->setCacheMode(QMovie::CacheAll);
  const QSize room = contentsRect().size();
  if (room.isValid() && (size.width() > room.width() || size.height() > room.height()))
    movie->setScaledSize(size.scaled(room, Qt::KeepAspectRatio));
  // An animation without a loop count plays once; the box always loops. The pause before
  // the restart keeps a GIF whose frames have no delay from spinning.
  QMovie* raw = movie.get();
  connect(raw, &QMovie::finished, this, [raw] { QTimer::singleShot(100, raw, &QMovie::start); });
  movieBuffer_ = std::move(buffer);
  movie_ = std::move(movie);
  setMovie(raw);
  raw->start();
  return true;
}

void PictureBox::StopAnimation() {
  if (movie_) {
    movie_->stop();
    setMovie(nullptr);
    clear();
  }
  movie_.reset();
  movieBuffer_.reset();
}

void PictureBox::ShowStill() {
  if (image_.isNull()) {
    clear();
    return;
  }
  const QSize room = contentsRect().size();
  QImage shown = image_;
  if (room.width() > 0 && room.height() > 0 && shown.size() != room)
    shown = image_.scaled(room, Qt::KeepAspectRatio, Qt::SmoothTransformation);
  setPixmap(QPixmap::fromImage(shown));
}

void PictureBox::resizeEvent(QResizeEvent* event) {
  QLabel::resizeEvent(event);
  if (!movie_ && !image_.isNull()) ShowStill();
}

// ------------------------------------------------------------------------------- Slider

namespace {

// Clicking the groove puts the handle there (and starts dragging it) instead of paging.
class JumpingSliderStyle : public QProxyStyle {
 public:
  using QProxyStyle::QProxyStyle;
  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* returnData) const override {
    if (hint == QStyle::SH_Slider_AbsoluteSetButtons) return Qt::LeftButton;
    return QProxyStyle::styleHint(hint, option, widget, returnData);
  }
};

// Marks the writes that come from the program, so that they raise nothing.
class ProgramWrite {
 public:
  explicit ProgramWrite(bool& flag) : flag_(flag), before_(flag) { flag_ = true; }
  ~ProgramWrite() { flag_ = before_; }
  ProgramWrite(const ProgramWrite&) = delete;
  ProgramWrite& operator=(const ProgramWrite&) = delete;

 private:
  bool& flag_;
  bool before_;
};

}  // namespace

Slider::Slider(QWidget* parent) : QSlider(Qt::Horizontal, parent) {
  auto* jumping = new JumpingSliderStyle();
  jumping->setParent(this);
  setStyle(jumping);
  setRange(0, 0);
  connect(this, &QSlider::valueChanged, this, [this] {
    if (!programWrite_) emit userPositionChanged();
  });
}

void Slider::SetMaximumPosition(int maximum) {
  ProgramWrite write(programWrite_);
  setRange(0, std::max(0, maximum));
}

int Slider::MaximumPosition() const {
  return maximum();
}

void Slider::SetPosition(int position) {
  ProgramWrite write(programWrite_);
  setValue(std::clamp(position, 0, maximum()));
}

int Slider::Position() const {
  return value();
}

// -------------------------------------------------------------------------------- Timer

Timer::Timer(QObject* parent) : QObject(parent) {
  connect(&timer_, &QTimer::timeout, this, &Timer::tick);
}

void Timer::SetInterval(int milliseconds) {
  interval_ = std::max(0, milliseconds);
  if (interval_ == 0) {
    timer_.stop();
  } else {
    timer_.start(interval_);
  }
}

// ----------------------------------------------------------------------------- ListView

ListView::ListView(QWidget* parent) : QTreeWidget(parent), calls_(this) {
  setRootIsDecorated(false);
  setUniformRowHeights(true);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
}

template <typename F>
auto ListView::OnWindowThread(F f) -> std::invoke_result_t<F> {
  using Result = std::invoke_result_t<F>;
  if (QThread::currentThread() == thread()) return f();
  if constexpr (std::is_void_v<Result>) {
    calls_.RunAndWait(std::move(f));
  } else {
    // Stays empty if the list is destroyed before the call runs.
    Result result{};
    calls_.RunAndWait([&result, &f] { result = f(); });
    return result;
  }
}

int ListView::RowCount() {
  return OnWindowThread([this] { return topLevelItemCount(); });
}

int ListView::AppendRow() {
  return OnWindowThread([this] {
    addTopLevelItem(new QTreeWidgetItem());
    return topLevelItemCount() - 1;
  });
}

Text ListView::CellText(int row, int column) {
  const QString text = OnWindowThread([this, row, column] {
    const QTreeWidgetItem* item = row >= 0 ? topLevelItem(row) : nullptr;
    return (item && column >= 0) ? item->text(column) : QString();
  });
  return FromQString(text);
}

void ListView::SetCellText(int row, int column, std::string_view gbk) {
  QString text = ToQString(gbk);
  OnWindowThread([this, row, column, text = std::move(text)] {
    QTreeWidgetItem* item = row >= 0 ? topLevelItem(row) : nullptr;
    if (item && column >= 0) item->setText(column, text);
  });
}

int ListView::SelectedRow() {
  return OnWindowThread([this] {
    const QList<QTreeWidgetItem*> selected = selectedItems();
    return selected.isEmpty() ? -1 : indexOfTopLevelItem(selected.first());
  });
}

void ListView::mouseDoubleClickEvent(QMouseEvent* event) {
  QTreeWidget::mouseDoubleClickEvent(event);
  if (event->button() == Qt::LeftButton) emit rowDoubleClicked();
}

}  // namespace newsbar
