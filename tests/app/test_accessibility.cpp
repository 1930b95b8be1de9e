// What screen readers and keyboard users get: names and tooltips read back through Qt's
// accessibility interfaces (what the desktop's accessibility bus is fed from), the loop
// button naming its mode, Space for play/pause, and Tab over the controls.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QTest>
#include <algorithm>
#include <vector>

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
      {window.playPauseButton, "暂停"}, {window.previousButton, "上一个"},
      {window.nextButton, "下一个"},    {window.loopButton, "循环方式：顺序播放"},
      {window.listButton, "列表"},      {window.closeButton, "关闭"},
      {window.retryButton, "重试"},     {window.collapseButton, "收起列表"},
      {window.progress, "播放进度"},    {window.episodeList, "节目列表"}};
  for (const auto& [widget, name] : expected) {
    SCOPED_TRACE(widget->objectName().toStdString());
    EXPECT_EQ(AccessibleName(widget), name);
    EXPECT_EQ(widget->toolTip().toStdString(), name);
  }
  EXPECT_EQ(AccessibleRole(window.playPauseButton), QAccessible::Button);
  EXPECT_EQ(AccessibleRole(window.progress), QAccessible::Slider);
  EXPECT_EQ(AccessibleRole(window.episodeList), QAccessible::Tree);
  EXPECT_EQ(AccessibleName(window.cover), "封面");
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

  // Play/pause first, close last; the hidden retry button is passed over, and so are the
  // list and the collapse bar while the window is collapsed.
  auto tabsThrough = [&](std::vector<const QWidget*> order) {
    for (const QWidget* expected : order) {
      Press(window, Qt::Key_Tab);
      EXPECT_EQ(QApplication::focusWidget(), expected)
          << "expected " << expected->objectName().toStdString() << ", got "
          << (QApplication::focusWidget() ? QApplication::focusWidget()->objectName().toStdString()
                                          : "nothing");
    }
  };
  tabsThrough({window.playPauseButton, window.previousButton, window.nextButton, window.progress,
               window.loopButton, window.listButton, window.closeButton, window.playPauseButton});
  window.listButton->setFocus(Qt::TabFocusReason);
  Press(window, Qt::Key_Space);
  ASSERT_EQ(window.height(), 332);
  tabsThrough({window.episodeList, window.collapseButton, window.closeButton});

  // In the list: Tab puts the focus on the first row, Down selects the second, Return
  // plays it, as a double-click does.
  window.episodeList->setFocus(Qt::TabFocusReason);
  Press(window, Qt::Key_Down);
  EXPECT_EQ(window.episodeList->SelectedRow(), 1);
  Press(window, Qt::Key_Return);
  EXPECT_EQ(CurrentRow, 1);
  EXPECT_EQ(Utf8(window.statusLabel->Caption()), "晚报");
  ASSERT_TRUE(WaitForStart(window));
  EXPECT_EQ(window.Media().State(), 1);

  // On a focused button Space clicks that button, as anywhere else on the desktop.
  window.nextButton->setFocus(Qt::TabFocusReason);
  Press(window, Qt::Key_Space);
  EXPECT_EQ(CurrentRow, 0);
  ASSERT_TRUE(WaitForStart(window));
  EXPECT_EQ(window.Media().State(), 1);

  // Collapsing takes the list out of reach again, and the focus with it.
  window.episodeList->setFocus(Qt::TabFocusReason);
  QTest::mouseClick(window.collapseButton, Qt::LeftButton);
  EXPECT_EQ(window.episodeList->focusPolicy(), Qt::NoFocus);
  EXPECT_FALSE(window.episodeList->hasFocus());
}

// The tree a screen reader walks: a named window, the controls in view with their names,
// and nothing of what only the program uses.
TEST_F(Keyboard, TheAccessibleTreeHoldsWhatAPersonNeeds) {
  const std::string title = "7月20日小涟早报：头条";
  PlayerWindow window(ListingWorker({{{title, server_.Url("a.wav"), "", 20}}}));
  window.CreateAndShow();
  ASSERT_TRUE(WaitUntil([&] { return window.Media().State() == 1; }));
  QAccessibleInterface* root = QAccessible::queryAccessibleInterface(&window);
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(root->role(), QAccessible::Window);
  EXPECT_EQ(root->text(QAccessible::Name).toStdString(), "newsbar");

  auto children = [&] {
    std::vector<QObject*> shown;
    for (int i = 0; i < root->childCount(); ++i) {
      QAccessibleInterface* child = root->child(i);
      EXPECT_EQ(root->indexOfChild(child), i);
      shown.push_back(child ? child->object() : nullptr);
    }
    return shown;
  };
  auto has = [](const std::vector<QObject*>& shown, QObject* control) {
    return std::find(shown.begin(), shown.end(), control) != shown.end();
  };
  std::vector<QObject*> shown = children();
  EXPECT_TRUE(has(shown, window.cover));
  EXPECT_TRUE(has(shown, window.playPauseButton));
  for (QObject* unseen :
       {static_cast<QObject*>(window.doneBox), static_cast<QObject*>(window.retryButton),
        static_cast<QObject*>(window.episodeList), static_cast<QObject*>(window.collapseButton)}) {
    EXPECT_FALSE(has(shown, unseen)) << unseen->objectName().toStdString();
  }
  // The cover's answer (empty here) may come after the audio's: it names the picture.
  EXPECT_TRUE(WaitUntil([&] { return AccessibleName(window.cover) == title; }))
      << AccessibleName(window.cover);

  // The play/pause button says what a press does.
  EXPECT_EQ(AccessibleName(window.playPauseButton), "暂停");
  QTest::mouseClick(window.playPauseButton, Qt::LeftButton);
  EXPECT_EQ(AccessibleName(window.playPauseButton), "播放");
  EXPECT_EQ(window.playPauseButton->toolTip().toStdString(), "播放");

  // Open, the list shows the title and the status, never the program's own columns.
  QTest::mouseClick(window.listButton, Qt::LeftButton);
  ASSERT_EQ(window.height(), 332);
  shown = children();
  EXPECT_TRUE(has(shown, window.episodeList));
  EXPECT_TRUE(has(shown, window.collapseButton));
  EXPECT_FALSE(has(shown, window.doneBox));
  QAccessibleInterface* list = QAccessible::queryAccessibleInterface(window.episodeList);
  ASSERT_NE(list->tableInterface(), nullptr);
  EXPECT_EQ(list->tableInterface()->columnCount(), 2);
  std::vector<std::string> texts;
  for (int i = 0; i < list->childCount(); ++i)
    texts.push_back(list->child(i)->text(QAccessible::Name).toStdString());
  const std::vector<std::string> expected = {"标题", "状态", title, "正在播放..."};
  EXPECT_EQ(texts, expected);
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
