// The control kinds of the player window, as standard Qt widgets with the properties and
// events the program uses. Texts cross as GBK (see runtime/qt_text.h); pictures as bytes.
#pragma once

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QSlider>
#include <QTimer>
#include <QTreeWidget>
#include <QWidget>
#include <memory>
#include <string_view>

#include "util/types.h"

class QMovie;

namespace newsbar {

// Top-level window: frameless, dragged by its background. `created` is raised once, when
// the window and all its controls exist, before it is first shown (see Window::Create).
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
class PictureButton : public QAbstractButton {
  Q_OBJECT
 public:
  explicit PictureButton(QWidget* parent = nullptr);
  void SetPicture(const ByteSet& bytes);
  const ByteSet& Picture() const { return picture_; }
  void SetCaption(std::string_view gbk);
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  ByteSet picture_;
  QPixmap pixmap_;
};

// Writing the content raises contentChanged every time (also for an equal text), always
// on the window's thread: a write from another thread is carried there.
class EditBox : public QLineEdit {
  Q_OBJECT
 public:
  explicit EditBox(QWidget* parent = nullptr);
  // Safe from any thread.
  void SetContent(std::string_view gbk);
  Text Content() const;
 signals:
  void contentChanged();
};

// Shows picture bytes: JPEG (libjpeg), PNG (libpng), GIF (animated, looping) and BMP (Qt).
// Empty or undecodable bytes show nothing.
class PictureBox : public QLabel {
  Q_OBJECT
 public:
  explicit PictureBox(QWidget* parent = nullptr);
  ~PictureBox() override;
  void SetPicture(const ByteSet& bytes);
  const ByteSet& Picture() const { return picture_; }

 private:
  ByteSet picture_;
  std::unique_ptr<QMovie> movie_;
  std::unique_ptr<class QBuffer> movieBuffer_;
};

// Position in whole units, always within 0..maximum. Program writes raise nothing;
// moves by the user raise userPositionChanged.
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
};

// Interval in milliseconds; 0 stops the timer. tick is raised on the window's thread.
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
// thread is carried to the window's thread and waits for it.
class ListView : public QTreeWidget {
  Q_OBJECT
 public:
  explicit ListView(QWidget* parent = nullptr);
  int RowCount();
  // Index of the new, empty row.
  int AppendRow();
  Text CellText(int row, int column);  // "" for a missing row or cell
  void SetCellText(int row, int column, std::string_view gbk);
  int SelectedRow();  // -1 when none
 signals:
  void rowDoubleClicked();
};

}  // namespace newsbar
