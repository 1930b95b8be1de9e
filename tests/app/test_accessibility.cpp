// What screen readers and keyboard users get: names and tooltips read back through Qt's
// accessibility interfaces (what the desktop's accessibility bus is fed from), the loop
// button naming its mode, Space for play/pause, and Tab over the controls.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QTest>

#include "app/images.h"
#include "app/player_state.h"
#include "app/player_window.h"
#include "app_fixture.h"

namespace newsbar::test {
namespace {

std::string AccessibleName(QWidget* widget) {
  QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
  return accessible ? accessible->text(QAccessible::Name).toStdString() : "(none)";
}

QAccessible::Role AccessibleRole(QWidget* widget) {
  QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
  return accessible ? accessible->role() : QAccessible::NoRole;
}

TEST(Accessibility, ButtonsSliderAndListCarryNamesAndTooltips) {
  PlayerWindow window(nullptr);
  const std::pair<QWidget*, const char*> expected[] = {
      {window.playPauseButton, "播放/暂停"}, {window.previousButton, "上一个"},
      {window.nextButton, "下一个"},         {window.loopButton, "循环方式：顺序播放"},
      {window.listButton, "列表"},           {window.closeButton, "关闭"},
      {window.retryButton, "重试"},          {window.collapseButton, "收起列表"},
      {window.progress, "播放进度"},         {window.episodeList, "节目列表"}};
  for (const auto& [widget, name] : expected) {
    SCOPED_TRACE(widget->objectName().toStdString());
    EXPECT_EQ(AccessibleName(widget), name);
    EXPECT_EQ(widget->toolTip().toStdString(), name);
  }
  EXPECT_EQ(AccessibleRole(window.playPauseButton), QAccessible::Button);
  EXPECT_EQ(AccessibleRole(window.progress), QAccessible::Slider);
  EXPECT_EQ(AccessibleRole(window.episodeList), QAccessible::Tree);
}

TEST(Accessibility, LoopButtonNamesTheModeItsPictureShows) {
  PlayerWindow window(nullptr);
  for (const char* name : {"循环方式：单曲循环", "循环方式：随机播放", "循环方式：顺序播放"}) {
    QTest::mouseClick(window.loopButton, Qt::LeftButton);
    EXPECT_EQ(AccessibleName(window.loopButton), name);
    EXPECT_EQ(window.loopButton->toolTip().toStdString(), name);
  }
  EXPECT_EQ(window.loopButton->Picture(), LoopImageInOrder());
}

class Keyboard : public testing::Test {
 protected:
  void SetUp() override {
    server_.Add("a.wav", MakeWav(20.0, 4000), "audio/wav");
    server_.Add("b.wav", MakeWav(20.0, 4000), "audio/wav");
  }

  // Presses a key where the keyboard's input goes: the focused control, or the window.
  static void Press(PlayerWindow& window, Qt::Key key) {
    QWidget* focused = QApplication::focusWidget();
    QTest::keyClick(focused ? focused : &window, key);
  }

  MediaServer server_;
};

TEST_F(Keyboard, SpacePlaysAndPausesTabWalksTheControlsAndAFocusedButtonTakesSpace) {
  PlayerWindow window(ListingWorker(
      {{{"早报", server_.Url("a.wav"), "", 20}, {"晚报", server_.Url("b.wav"), "", 20}}}));
  // While loading, play/pause is disabled and so is Space.
  window.CreateAndShow();
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  EXPECT_EQ(QApplication::focusWidget(), &window);
  ASSERT_TRUE(WaitUntil([&] { return window.Media().State() == 1; }));

  Press(window, Qt::Key_Space);
  EXPECT_EQ(window.Media().State(), 3);
  EXPECT_EQ(window.playPauseButton->Picture(), PlayImage());
  Press(window, Qt::Key_Space);
  EXPECT_EQ(window.Media().State(), 1);
  EXPECT_EQ(window.playPauseButton->Picture(), PauseImage());

  // Play/pause first, close last; the hidden retry button is passed over.
  const QWidget* order[] = {window.playPauseButton, window.previousButton, window.nextButton,
                            window.progress,        window.loopButton,     window.listButton,
                            window.episodeList,     window.collapseButton, window.closeButton};
  for (const QWidget* expected : order) {
    Press(window, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), expected)
        << "expected " << expected->objectName().toStdString() << ", got "
        << (QApplication::focusWidget() ? QApplication::focusWidget()->objectName().toStdString()
                                        : "nothing");
  }

  // On a focused button Space clicks that button, as anywhere else on the desktop.
  window.nextButton->setFocus(Qt::TabFocusReason);
  Press(window, Qt::Key_Space);
  EXPECT_EQ(CurrentRow, 1);
  ASSERT_TRUE(WaitForStart(window));
  EXPECT_EQ(window.Media().State(), 1);
}

TEST_F(Keyboard, SpaceDoesNothingWhilePlayPauseIsDisabled) {
  PlayerWindow window(nullptr);  // no worker: the window stays loading
  window.CreateAndShow();
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  Press(window, Qt::Key_Space);
  EXPECT_EQ(window.Media().State(), 0);
  EXPECT_EQ(window.playPauseButton->Picture(), PauseImage());
  EXPECT_EQ(Utf8(window.statusLabel->Caption()), "正在初始化...");
}

}  // namespace
}  // namespace newsbar::test
