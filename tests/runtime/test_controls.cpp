#include <gtest/gtest.h>

#include <QBuffer>
#include <QStyleOptionSlider>
#include <QTest>
#include <QThread>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "runtime/controls.h"
#include "runtime/window_platform.h"
#include "support/wait_until.h"
#include "util/threads.h"

namespace newsbar {
namespace {

using namespace std::chrono_literals;
using test::WaitUntil;

const char kGbkNews[] = "\xD0\xC2\xCE\xC5";  // the word "news" in GBK

TEST(Window, CreatedIsRaisedOnceBeforeTheFirstShow) {
  Window window;
  EXPECT_TRUE(window.windowFlags() & Qt::FramelessWindowHint);
  std::vector<bool> visibleAtCreated;
  QObject::connect(&window, &Window::created,
                   [&] { visibleAtCreated.push_back(window.isVisible()); });
  window.CreateAndShow();
  EXPECT_TRUE(window.isVisible());
  window.hide();
  window.CreateAndShow();
  EXPECT_EQ(visibleAtCreated, std::vector<bool>{false});
}

TEST(Window, DraggingTheBackgroundMovesTheWindow) {
  Window window;
  window.setGeometry(50, 50, 408, 109);
  window.CreateAndShow();
  const QPoint before = window.pos();
  QTest::mousePress(&window, Qt::LeftButton, Qt::NoModifier, QPoint(10, 10));
  QMouseEvent move(QEvent::MouseMove, QPointF(40, 30), window.mapToGlobal(QPointF(40, 30)),
                   Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(&window, &move);
  QTest::mouseRelease(&window, Qt::LeftButton, Qt::NoModifier, QPoint(40, 30));
  EXPECT_EQ(window.pos(), before + QPoint(30, 20));
}

// On Wayland the bar could not sit at its place near the corner: X11 when it is at hand,
// unless the user chose a platform.
TEST(WindowPlatform, X11IsPreferredOnWaylandWhenAtHand) {
  EXPECT_EQ(PreferredPlatform({.wayland = true, .x11 = true}), "xcb");
  EXPECT_EQ(PreferredPlatform({.userChosePlatform = true, .wayland = true, .x11 = true}),
            std::nullopt);
  EXPECT_EQ(PreferredPlatform({.wayland = true}), std::nullopt);
  EXPECT_EQ(PreferredPlatform({.x11 = true}), std::nullopt);
  EXPECT_EQ(PreferredPlatform({}), std::nullopt);
}

TEST(Label, CaptionRoundTripsGbkAndIsNeverMarkup) {
  Label label;
  label.SetCaption(kGbkNews);
  EXPECT_EQ(label.Caption(), kGbkNews);
  EXPECT_EQ(label.text(), QString::fromUtf8("\xE6\x96\xB0\xE9\x97\xBB"));
  label.SetCaption("<b>bold?</b>");
  EXPECT_EQ(label.textFormat(), Qt::PlainText);
  EXPECT_EQ(label.Caption(), "<b>bold?</b>");
}

TEST(PictureButton, GivesBackExactlyTheBytesWrittenAndClicksInOrder) {
  PictureButton button;
  QImage icon(16, 16, QImage::Format_ARGB32);
  icon.fill(Qt::red);
  QByteArray png;
  {
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(icon.save(&buffer, "PNG"));
  }
  const ByteSet pictureBytes(png.begin(), png.end());
  button.SetPicture(pictureBytes);
  EXPECT_EQ(button.Picture(), pictureBytes);
  EXPECT_EQ(button.sizeHint(), QSize(20, 20));  // the picture and its padding
  // Bytes that are no picture are still kept as they were written.
  const ByteSet junk = {0x00, 0xFF, 0x10, 0x00, 0x42};
  button.SetPicture(junk);
  EXPECT_EQ(button.Picture(), junk);

  button.resize(24, 24);
  std::vector<std::string> order;
  QObject::connect(&button, &QAbstractButton::pressed, [&] { order.push_back("pressed"); });
  QObject::connect(&button, &QAbstractButton::released, [&] { order.push_back("released"); });
  QObject::connect(&button, &QAbstractButton::clicked, [&] { order.push_back("clicked"); });
  QTest::mouseClick(&button, Qt::LeftButton);
  EXPECT_EQ(order, (std::vector<std::string>{"pressed", "released", "clicked"}));
}

TEST(EditBox, EveryWriteRaisesOneEventOnTheWindowThread) {
  EditBox box;
  std::vector<Qt::HANDLE> raisedOn;
  std::vector<Text> contents;
  QObject::connect(&box, &EditBox::contentChanged, [&] {
    raisedOn.push_back(QThread::currentThreadId());
    contents.push_back(box.Content());
  });

  // From the window's thread: at once, also when the text does not change.
  box.SetContent("1");
  box.SetContent("1");
  EXPECT_EQ(raisedOn.size(), 2u);

  // From another thread: two equal writes, two events, both on the window's thread.
  std::thread worker([&] {
    box.SetContent("1");
    box.SetContent("1");
  });
  worker.join();
  ASSERT_TRUE(WaitUntil([&] { return raisedOn.size() == 4; }));
  for (Qt::HANDLE thread : raisedOn) EXPECT_EQ(thread, QThread::currentThreadId());
  EXPECT_EQ(contents, std::vector<Text>(4, "1"));

  box.SetContent(kGbkNews);
  EXPECT_EQ(box.Content(), kGbkNews);
  box.SetContent("");
  EXPECT_EQ(box.Content(), "");
  EXPECT_EQ(raisedOn.size(), 6u);
}

TEST(EditBox, AWriteQueuedForABoxThatIsGoneIsDropped) {
  auto* box = new EditBox();
  int raised = 0;
  QObject::connect(box, &EditBox::contentChanged, [&] { ++raised; });
  std::thread worker([&] { box->SetContent("1"); });
  worker.join();
  delete box;
  ProcessPendingMessages();
  EXPECT_EQ(raised, 0);
}

class SliderTest : public testing::Test {
 protected:
  void SetUp() override {
    slider_.resize(304, 16);
    slider_.show();
    QObject::connect(&slider_, &Slider::userPositionChanged,
                     [this] { moves_.push_back(slider_.Position()); });
  }
  // The centre of the handle, in slider coordinates.
  QPoint HandleCentre() {
    QStyleOptionSlider option;
    option.initFrom(&slider_);
    option.orientation = Qt::Horizontal;
    option.minimum = slider_.minimum();
    option.maximum = slider_.maximum();
    option.sliderPosition = slider_.sliderPosition();
    option.sliderValue = slider_.value();
    return slider_.style()
        ->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, &slider_)
        .center();
  }
  Slider slider_;
  std::vector<int> moves_;
};

TEST_F(SliderTest, ProgramWritesRaiseNothingAndStayInRange) {
  slider_.SetMaximumPosition(100);
  slider_.SetPosition(40);
  EXPECT_EQ(slider_.Position(), 40);
  slider_.SetPosition(150);
  EXPECT_EQ(slider_.Position(), 100);
  slider_.SetPosition(-3);
  EXPECT_EQ(slider_.Position(), 0);
  slider_.SetPosition(90);
  slider_.SetMaximumPosition(30);  // pulls the position down with it
  EXPECT_EQ(slider_.Position(), 30);
  slider_.SetMaximumPosition(-5);  // not a range below 0
  EXPECT_EQ(slider_.MaximumPosition(), 0);
  EXPECT_EQ(slider_.minimum(), 0);
  EXPECT_EQ(slider_.Position(), 0);
  EXPECT_TRUE(moves_.empty());
}

TEST_F(SliderTest, AClickOnTheGrooveJumpsThereWithOneEvent) {
  slider_.SetMaximumPosition(100);
  QTest::mouseClick(&slider_, Qt::LeftButton, Qt::NoModifier, QPoint(228, 8));
  ASSERT_EQ(moves_.size(), 1u);
  EXPECT_NEAR(moves_[0], 75, 4);
  EXPECT_EQ(slider_.Position(), moves_[0]);
}

TEST(Slider, AClickOnTheGrooveJumpsThereAlsoUnderAStyleSheet) {
  // The window styles its slider; the jump must survive the style sheet.
  QWidget window;
  window.setStyleSheet(
      "QSlider::groove:horizontal { height: 4px; background: #dde1e7; }"
      "QSlider::handle:horizontal { width: 10px; margin: -4px 0; background: #ffffff; }");
  auto* slider = new Slider(&window);
  slider->setGeometry(0, 0, 304, 16);
  window.show();
  slider->SetMaximumPosition(100);
  int moves = 0;
  QObject::connect(slider, &Slider::userPositionChanged, [&] { ++moves; });
  QTest::mouseClick(slider, Qt::LeftButton, Qt::NoModifier, QPoint(76, 8));
  EXPECT_EQ(moves, 1);
  EXPECT_NEAR(slider->Position(), 24, 4);
}

TEST_F(SliderTest, DraggingRaisesOneEventPerChangeOfPosition) {
  slider_.SetMaximumPosition(3);  // about 100 pixels a step
  const QPoint start = HandleCentre();
  QTest::mousePress(&slider_, Qt::LeftButton, Qt::NoModifier, start);
  // Small moves inside one step change nothing.
  for (int dx = 1; dx <= 10; ++dx) QTest::mouseMove(&slider_, start + QPoint(dx, 0));
  EXPECT_TRUE(moves_.empty());
  // Across the whole groove: positions 1, 2 and 3, one event each.
  for (int x = start.x(); x <= 303; x += 5) QTest::mouseMove(&slider_, QPoint(x, start.y()));
  QTest::mouseRelease(&slider_, Qt::LeftButton, Qt::NoModifier, QPoint(303, start.y()));
  EXPECT_EQ(moves_, (std::vector<int>{1, 2, 3}));
}

TEST_F(SliderTest, KeysMoveItToo) {
  slider_.SetMaximumPosition(10);
  slider_.setFocus();
  QTest::keyClick(&slider_, Qt::Key_Right);
  QTest::keyClick(&slider_, Qt::Key_Left);
  QTest::keyClick(&slider_, Qt::Key_Left);  // already at 0: no change, no event
  EXPECT_EQ(moves_, (std::vector<int>{1, 0}));
}

TEST(Timer, TicksAtItsIntervalAndStopsAtZero) {
  Timer timer;
  int ticks = 0;
  QObject::connect(&timer, &Timer::tick, [&] { ++ticks; });
  EXPECT_EQ(timer.Interval(), 0);
  timer.SetInterval(10);
  EXPECT_EQ(timer.Interval(), 10);
  ASSERT_TRUE(WaitUntil([&] { return ticks >= 3; }, 2s));
  timer.SetInterval(0);
  const int stoppedAt = ticks;
  EXPECT_FALSE(WaitUntil([&] { return ticks > stoppedAt; }, 100ms));
  timer.SetInterval(-20);
  EXPECT_EQ(timer.Interval(), 0);
  EXPECT_FALSE(WaitUntil([&] { return ticks > stoppedAt; }, 50ms));
}

TEST(ListView, RowsAndCells) {
  ListView list;
  list.setColumnCount(2);
  EXPECT_EQ(list.RowCount(), 0);
  EXPECT_EQ(list.SelectedRow(), -1);
  EXPECT_EQ(list.CellText(0, 0), "");
  EXPECT_EQ(list.CellText(-1, -1), "");

  EXPECT_EQ(list.AppendRow(), 0);
  EXPECT_EQ(list.AppendRow(), 1);
  EXPECT_EQ(list.RowCount(), 2);
  EXPECT_EQ(list.CellText(1, 0), "");  // a new row is empty

  list.SetCellText(0, 0, kGbkNews);
  list.SetCellText(1, 4, "hidden column");  // beyond the shown columns
  list.SetCellText(5, 0, "no such row");
  list.SetCellText(-1, 0, "no such row");
  list.SetCellText(0, -1, "no such column");
  EXPECT_EQ(list.CellText(0, 0), kGbkNews);
  EXPECT_EQ(list.CellText(1, 4), "hidden column");
  EXPECT_EQ(list.CellText(1, 3), "");
  EXPECT_EQ(list.CellText(0, 9), "");
  EXPECT_EQ(list.RowCount(), 2);

  list.setCurrentItem(list.topLevelItem(1));
  EXPECT_EQ(list.SelectedRow(), 1);
  list.clearSelection();
  EXPECT_EQ(list.SelectedRow(), -1);
}

TEST(ListView, DoubleClickRaisesTheEventWithTheRowSelected) {
  ListView list;
  list.resize(416, 211);
  list.show();
  int raised = 0;
  int selectedThen = -2;
  QObject::connect(&list, &ListView::rowDoubleClicked, [&] {
    ++raised;
    selectedThen = list.SelectedRow();
  });
  // An empty list: the event comes, and no row is selected.
  QTest::mouseDClick(list.viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(20, 20));
  EXPECT_EQ(raised, 1);
  EXPECT_EQ(selectedThen, -1);

  list.AppendRow();
  list.AppendRow();
  list.SetCellText(1, 0, "second");
  const QRect second = list.visualItemRect(list.topLevelItem(1));
  QTest::mouseClick(list.viewport(), Qt::LeftButton, Qt::NoModifier, second.center());
  QTest::mouseDClick(list.viewport(), Qt::LeftButton, Qt::NoModifier, second.center());
  EXPECT_EQ(raised, 2);
  EXPECT_EQ(selectedThen, 1);
}

// The hand-over as the player uses it: a worker fills the list through the window's
// thread, then writes the edit box; the window waits with WaitWithMessages meanwhile.
TEST(ListView, AWorkerFillsItWhileTheWindowWaits) {
  ListView list;
  EditBox done;
  std::atomic<int> lastRow = -2;
  int rowsAtSignal = -1;
  Text lastCellAtSignal;
  QObject::connect(&done, &EditBox::contentChanged, [&] {
    rowsAtSignal = list.RowCount();
    lastCellAtSignal = list.CellText(lastRow, 1);
  });

  ThreadHandle worker = ThreadHandle::Start([&] {
    int row = -1;
    for (int i = 0; i < 50; ++i) {
      row = list.AppendRow();
      list.SetCellText(row, 0, "title " + std::to_string(i));
      list.SetCellText(row, 1, list.CellText(row, 0) + " again");
    }
    lastRow = row;
    done.SetContent("1");
    StopThread(ThreadHandle::Current());
  });
  while (ThreadRunState(worker) == 1) WaitWithMessages(100);

  ASSERT_TRUE(WaitUntil([&] { return rowsAtSignal >= 0; }));
  EXPECT_EQ(lastRow, 49);
  EXPECT_EQ(rowsAtSignal, 50);
  EXPECT_EQ(lastCellAtSignal, "title 49 again");
  EXPECT_EQ(list.CellText(17, 0), "title 17");
}

}  // namespace
}  // namespace newsbar
