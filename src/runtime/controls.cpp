#include "runtime/controls.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QBuffer>
#include <QIcon>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QMovie>
#include <QPaintEngine>
#include <QPainter>
#include <QProxyStyle>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOption>
#include <QWindow>
#include <algorithm>
#include <utility>

#include "runtime/image_decode.h"
#include "runtime/qt_text.h"

namespace newsbar {

// ------------------------------------------------------------------------------- Window

namespace {

// What assistive technology sees of the window: a window (not a mere client area), and
// of its controls only those a person can see: not the hidden ones, nor those that lie
// beyond the window's edge.
class WindowAccessible : public QAccessibleWidget {
 public:
  explicit WindowAccessible(QWidget* window) : QAccessibleWidget(window, QAccessible::Window) {}

  int childCount() const override { return static_cast<int>(Shown().size()); }
  QAccessibleInterface* child(int index) const override {
    const QList<QWidget*> shown = Shown();
    if (index < 0 || index >= shown.size()) return nullptr;
    return QAccessible::queryAccessibleInterface(shown.at(index));
  }
  int indexOfChild(const QAccessibleInterface* child) const override {
    if (!child || !child->object() || !child->object()->isWidgetType()) return -1;
    return static_cast<int>(Shown().indexOf(static_cast<QWidget*>(child->object())));
  }

 private:
  QList<QWidget*> Shown() const {
    QList<QWidget*> shown;
    const QRect inside = widget()->rect();
    for (QObject* object : widget()->children()) {
      auto* control = qobject_cast<QWidget*>(object);
      if (!control || control->isWindow() || control->isHidden()) continue;
      if (!inside.contains(control->geometry().center())) continue;
      shown.append(control);
    }
    return shown;
  }
};

QAccessibleInterface* WindowAccessibleFactory(const QString& className, QObject* object) {
  if (className == QLatin1String("newsbar::Window") && object && object->isWidgetType())
    return new WindowAccessible(static_cast<QWidget*>(object));
  return nullptr;
}

}  // namespace

Window::Window(QWidget* parent) : QWidget(parent, Qt::Window | Qt::FramelessWindowHint) {
  static const bool factoryInstalled = [] {
    QAccessible::installFactory(&WindowAccessibleFactory);
    return true;
  }();
  (void)factoryInstalled;
}

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

void ListView::SetColumns(const std::vector<Column>& columns) {
  columns_ = columns;
  viewColumns_.clear();
  QStringList headers;
  std::vector<int> widths;
  for (const Column& column : columns) {
    viewColumns_.push_back(column.width > 0 ? static_cast<int>(headers.size()) : -1);
    if (column.width > 0) {
      headers.append(column.header);
      widths.push_back(column.width);
    }
  }
  setColumnCount(static_cast<int>(headers.size()));
  setHeaderLabels(headers);
  for (std::size_t view = 0; view < widths.size(); ++view)
    setColumnWidth(static_cast<int>(view), widths[view]);
}

const ListView::Column* ListView::ColumnAt(int column) const {
  if (column < 0 || static_cast<std::size_t>(column) >= columns_.size()) return nullptr;
  return &columns_[static_cast<std::size_t>(column)];
}

int ListView::ViewColumn(int column) const {
  if (column < 0) return -1;
  if (columns_.empty()) return column < columnCount() ? column : -1;
  if (static_cast<std::size_t>(column) >= viewColumns_.size()) return -1;
  return viewColumns_[static_cast<std::size_t>(column)];
}

namespace {
// Cells of columns that are not the view's are kept as data of the row's first cell.
constexpr int kKeptCellRole = Qt::UserRole + 1;
}  // namespace

int ListView::RowCount() {
  return OnWindowThread([this] { return topLevelItemCount(); });
}

int ListView::AppendRow() {
  return OnWindowThread([this] {
    addTopLevelItem(new QTreeWidgetItem());
    return topLevelItemCount() - 1;
  });
}

int ListView::InsertRow(int at) {
  return OnWindowThread([this, at] {
    const int index = std::clamp(at, 0, topLevelItemCount());
    // Rows and scroll range as they are now, not as at the last layout.
    executeDelayedItemsLayout();
    QScrollBar* bar = verticalScrollBar();
    const int scrolled = bar->value();
    // The row at the top of what is shown, and where it is.
    QTreeWidgetItem* shown = scrolled > 0 ? itemAt(QPoint(0, 0)) : nullptr;
    const int shownTop = shown ? visualItemRect(shown).top() : 0;
    insertTopLevelItem(index, new QTreeWidgetItem());
    if (shown) {
      // The scroll range takes the new row in now rather than at the next layout.
      executeDelayedItemsLayout();
      if (verticalScrollMode() == QAbstractItemView::ScrollPerItem) {
        if (index <= indexOfTopLevelItem(shown)) bar->setValue(scrolled + 1);
      } else {
        bar->setValue(scrolled + visualItemRect(shown).top() - shownTop);
      }
    }
    return index;
  });
}

Text ListView::CellText(int row, int column) {
  const QString text = OnWindowThread([this, row, column] {
    const QTreeWidgetItem* item = row >= 0 ? topLevelItem(row) : nullptr;
    if (!item || column < 0) return QString();
    const int view = ViewColumn(column);
    return view >= 0 ? item->text(view) : item->data(0, kKeptCellRole + column).toString();
  });
  return FromQString(text);
}

void ListView::SetCellText(int row, int column, std::string_view gbk) {
  QString text = ToQString(gbk);
  OnWindowThread([this, row, column, text = std::move(text)] {
    QTreeWidgetItem* item = row >= 0 ? topLevelItem(row) : nullptr;
    if (!item || column < 0) return;
    const int view = ViewColumn(column);
    if (view >= 0) {
      item->setText(view, text);
    } else {
      item->setData(0, kKeptCellRole + column, text);
    }
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

void ListView::keyPressEvent(QKeyEvent* event) {
  const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  if (!enter || (event->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) {
    QTreeWidget::keyPressEvent(event);
    return;
  }
  event->accept();
  // Held down, it does not start the row again and again.
  if (event->isAutoRepeat()) return;
  // The row with the focus frame may not be selected yet (after a Tab into the list).
  if (QTreeWidgetItem* current = currentItem(); current && !current->isSelected())
    setCurrentItem(current, 0, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  emit returnPressed();
}

}  // namespace newsbar
