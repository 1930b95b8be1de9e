// The control kinds of the player window, as standard Qt widgets with the properties and
// events the program uses. Texts cross as GBK (see runtime/qt_text.h); pictures as bytes.
#pragma once

#include <QAbstractButton>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QSlider>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>
#include <QWidget>
#include <functional>
#include <memory>
#include <string_view>
#include <type_traits>
#include <vector>

#include "runtime/window_calls.h"
#include "util/types.h"

class QBuffer;
class QMovie;

namespace newsbar {

// Top-level window: frameless, dragged by its background. `created` is raised once, when
// the window and all its controls exist, before it is first shown (see Window::Create).
// Assistive technology sees a window named by its title, holding only the controls that
// are neither hidden nor beyond the window's edge.
class Window : public QWidget {
  Q_OBJECT
 public:
  explicit Window(QWidget* parent = nullptr);
  // Raises `created` (once) and then shows the window.
  void CreateAndShow();
 signals:
  void created();

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  bool created_ = false;
  bool dragging_ = false;
  QPoint dragOffset_;
};

class Label : public QLabel {
  Q_OBJECT
 public:
  explicit Label(QWidget* parent = nullptr);
  void SetCaption(std::string_view gbk);
  Text Caption() const;
};

// A button that shows a picture (and optionally a caption beside it). Picture() gives back
// exactly the bytes last written. A left click raises pressed, released, then clicked
// (QAbstractButton's own signals, in that order).
//
// Reached with Tab (not by clicking), with a focus ring while it has the focus; Space
// clicks it, as on any button.
class PictureButton : public QAbstractButton {
  Q_OBJECT
 public:
  // Gives the same drawing at twice the size for the bytes of a picture, or null when
  // there is none. Used on screens with a device pixel ratio above 1; Picture() still
  // gives the bytes written.
  using DoubleSizeLookup = std::function<const ByteSet*(const ByteSet&)>;
  // For every button, also those that have painted already. Window's thread only.
  static void SetDoubleSizeLookup(DoubleSizeLookup lookup);

  explicit PictureButton(QWidget* parent = nullptr);
  void SetPicture(const ByteSet& bytes);
  const ByteSet& Picture() const { return picture_; }
  void SetCaption(std::string_view gbk);
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  // The picture for a paint device of the given pixel ratio: the double-size drawing
  // (looked up once per picture) when the ratio is above 1 and one exists.
  const QPixmap& PixmapFor(qreal ratio);

  ByteSet picture_;
  QPixmap pixmap_;
  QPixmap doublePixmap_;
  // The lookup's generation that doublePixmap_ came from; 0: not looked up yet.
  unsigned doubleLookedUp_ = 0;
};

// Writing the content raises contentChanged every time (also for an equal text), always
// on the window's thread: a write from another thread is carried there (queued, so the
// writer does not wait). Typing into the box raises it too.
class EditBox : public QLineEdit {
  Q_OBJECT
 public:
  explicit EditBox(QWidget* parent = nullptr);
  // Safe from any thread.
  void SetContent(std::string_view gbk);
  // On the window's thread.
  Text Content() const;
 signals:
  void contentChanged();

 private:
  void ApplyContent(const QString& text);

  WindowCalls calls_;
};

// Shows picture bytes: JPEG (libjpeg), PNG (libpng), GIF (animated, looping) and BMP (Qt).
// Empty or undecodable bytes show nothing. Still pictures are scaled to fit the box,
// keeping their proportions; an animation keeps its own size unless it is too big.
class PictureBox : public QLabel {
  Q_OBJECT
 public:
  explicit PictureBox(QWidget* parent = nullptr);
  ~PictureBox() override;
  void SetPicture(const ByteSet& bytes);
  const ByteSet& Picture() const { return picture_; }
  // What is shown: the running animation (or null), the still picture (or null).
  QMovie* Animation() const { return movie_.get(); }
  const QImage& StillImage() const { return image_; }

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  bool StartAnimation(const ByteSet& bytes);
  void StopAnimation();
  void ShowStill();

  ByteSet picture_;
  QImage image_;
  // Declared before the movie so that the movie, which reads from it, goes first.
  std::unique_ptr<QBuffer> movieBuffer_;
  std::unique_ptr<QMovie> movie_;
};

// Position in whole units, always within 0..maximum (a negative maximum counts as 0).
// Program writes raise nothing; moves by the user (dragging, clicking the groove, which
// jumps there, keys, wheel) raise userPositionChanged once per change of position.
class Slider : public QSlider {
  Q_OBJECT
 public:
  explicit Slider(QWidget* parent = nullptr);
  void SetMaximumPosition(int maximum);
  int MaximumPosition() const;
  void SetPosition(int position);
  int Position() const;
 signals:
  void userPositionChanged();

 private:
  bool programWrite_ = false;
};

// Interval in milliseconds; 0 (or less) stops the timer, any other value (re)starts it.
// tick is raised on the window's thread.
class Timer : public QObject {
  Q_OBJECT
 public:
  explicit Timer(QObject* parent = nullptr);
  void SetInterval(int milliseconds);
  int Interval() const { return interval_; }
 signals:
  void tick();

 private:
  QTimer timer_;
  int interval_ = 0;
};

// Rows of text cells. Every operation is safe from any thread: a call from another
// thread is carried to the window's thread and waits for it (so the window's thread must
// keep processing events while a worker uses the list: it waits only in WaitWithMessages).
// Cells may be set in any column, also beyond the visible ones.
//
// Columns are numbered as SetColumns lists them. A hidden column (width 0) is no column
// of the view: its cells go with their row but are neither shown nor offered to
// assistive technology. Without SetColumns the view's own columns count, and cells
// beyond them are kept the same way.
class ListView : public QTreeWidget {
  Q_OBJECT
 public:
  struct Column {
    QString header;
    int width = 0;  // 0: hidden
  };

  explicit ListView(QWidget* parent = nullptr);
  // On the window's thread, before rows are added.
  void SetColumns(const std::vector<Column>& columns);
  // The column as set, or nullptr for a column not set.
  const Column* ColumnAt(int column) const;
  int RowCount();
  // Index of the new, empty row.
  int AppendRow();
  // Index of a new, empty row put before row `at` (held to 0..RowCount()). Scrolled away
  // from its top, the list keeps showing the same rows where they were: a row inserted
  // above them does not push them down. At its top, the new row shows there.
  int InsertRow(int at);
  Text CellText(int row, int column);                           // "" for a missing row or cell
  void SetCellText(int row, int column, std::string_view gbk);  // a missing row is ignored
  int SelectedRow();                                            // -1 when none
 signals:
  // A left double-click anywhere in the list; the handler reads SelectedRow.
  void rowDoubleClicked();
  // Return or Enter in the list, which first selects the row that has the keyboard's
  // focus; the handler reads SelectedRow.
  void returnPressed();

 protected:
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  // The view's column that shows a column, or -1 for a hidden one or one beyond the view.
  int ViewColumn(int column) const;
  // Runs f on the window's thread and gives its result.
  template <typename F>
  auto OnWindowThread(F f) -> std::invoke_result_t<F>;

  WindowCalls calls_;
  std::vector<Column> columns_;
  std::vector<int> viewColumns_;  // by column of SetColumns
};

}  // namespace newsbar
