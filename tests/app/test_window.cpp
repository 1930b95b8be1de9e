// The window as loaded, its pictures, the hand-over verdict, the retry flow, the loop
// button and the window heights, with fake workers in place of the catalogue load.
#include <gtest/gtest.h>

#include <QApplication>
#include <QBuffer>
#include <QHeaderView>
#include <QImage>
#include <QImageReader>
#include <QScrollBar>
#include <QTest>
#include <algorithm>
#include <initializer_list>
#include <utility>

#include "app/images.h"
#include "app/player_state.h"
#include "app/player_window.h"
#include "app_fixture.h"

namespace newsbar::test {
namespace {

QImage Decode(const ByteSet& bytes, QByteArray* format = nullptr) {
  QByteArray data(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<qsizetype>(bytes.size()));
  QBuffer buffer(&data);
  QImageReader reader(&buffer);
  if (format) *format = reader.format();
  return reader.read();
}

TEST(PlayerWindowLayout, ControlsAtTheirPlacesWithTheirStartState) {
  PlayerWindow window(nullptr);
  EXPECT_EQ(window.pos(), QPoint(50, 50));
  EXPECT_EQ(window.size(), QSize(408, 109));
  EXPECT_TRUE(window.windowFlags() & Qt::FramelessWindowHint);
  EXPECT_FALSE(window.windowIcon().isNull());

  struct Expected {
    const char* name;
    const char* kind;
    QRect geometry;
    bool visible;
    bool enabled;
  };
  const Expected controls[] = {
      {"图片框1", "newsbar::PictureBox", {3, 3, 101, 101}, true, true},
      {"按钮_重试", "newsbar::PictureButton", {3, 3, 101, 101}, false, true},
      {"标签1", "newsbar::Label", {111, 3, 282, 48}, true, true},
      {"按钮_关闭", "newsbar::PictureButton", {393, 0, 15, 15}, true, true},
      {"滑块条_播放进度", "newsbar::Slider", {104, 56, 304, 16}, true, false},
      {"标签_现行时长", "newsbar::Label", {110, 69, 45, 15}, true, true},
      {"标签_总时长", "newsbar::Label", {356, 69, 45, 15}, true, true},
      {"按钮_循环方式", "newsbar::PictureButton", {108, 82, 24, 24}, true, true},
      {"编辑框_初始化完成", "newsbar::EditBox", {136, 87, 16, 16}, false, true},
      {"按钮_上一个", "newsbar::PictureButton", {174, 82, 48, 24}, true, false},
      {"按钮_播放暂停", "newsbar::PictureButton", {228, 82, 43, 24}, true, false},
      {"按钮_下一个", "newsbar::PictureButton", {278, 82, 48, 24}, true, false},
      {"按钮_列表", "newsbar::PictureButton", {382, 82, 24, 24}, true, false},
      {"超级列表框1", "newsbar::ListView", {-8, 108, 416, 211}, true, true},
      {"按钮_收缩展开", "newsbar::PictureButton", {0, 317, 408, 16}, true, true},
  };
  for (const Expected& expected : controls) {
    SCOPED_TRACE(expected.name);
    auto* control = window.findChild<QWidget*>(QString::fromUtf8(expected.name));
    ASSERT_NE(control, nullptr);
    EXPECT_STREQ(control->metaObject()->className(), expected.kind);
    EXPECT_EQ(control->geometry(), expected.geometry);
    EXPECT_EQ(!control->isHidden(), expected.visible);
    EXPECT_EQ(control->isEnabled(), expected.enabled);
  }
  for (const char* timer : {"时钟_播放", "时钟_快进"}) {
    auto* found = window.findChild<Timer*>(QString::fromUtf8(timer));
    ASSERT_NE(found, nullptr) << timer;
    EXPECT_EQ(found->Interval(), 0) << timer;
  }

  EXPECT_EQ(Utf8(window.statusLabel->Caption()), "正在初始化...");
  EXPECT_TRUE(window.statusLabel->font().bold());
  EXPECT_EQ(Utf8(window.elapsedLabel->Caption()), "00分00秒");
  EXPECT_EQ(Utf8(window.totalLabel->Caption()), "00分00秒");
  EXPECT_EQ(window.collapseButton->text(), QString::fromUtf8("往期节目"));
  EXPECT_TRUE(window.doneBox->Content().empty());
  EXPECT_EQ(window.episodeList->RowCount(), 0);

  EXPECT_EQ(window.playPauseButton->Picture(), PauseImage());
  EXPECT_EQ(window.loopButton->Picture(), LoopImageInOrder());
  EXPECT_EQ(window.cover->Picture(), LoadingAnimation());
  EXPECT_NE(window.cover->Animation(), nullptr);
  for (PictureButton* button : {window.retryButton, window.closeButton, window.previousButton,
                                window.nextButton, window.listButton, window.collapseButton}) {
    EXPECT_FALSE(button->Picture().empty()) << button->objectName().toStdString();
  }
}

TEST(PlayerWindowLayout, CreatedMovesTheWindowAndStartsTheWorkerOnce) {
  auto started = std::make_shared<std::atomic<int>>(0);
  PlayerWindow window(ListingWorker({{}}, started));
  LoopMode = 0;
  window.CreateAndShow();
  EXPECT_EQ(window.pos(), QPoint(3, 4));
  EXPECT_EQ(window.size(), QSize(408, 109));
  ASSERT_TRUE(WaitUntil([&] { return !window.retryButton->isHidden(); }));
  EXPECT_EQ(started->load(), 1);
  EXPECT_EQ(LoopMode, 1);
}

// A dark desktop theme: dark colours for the whole application and, as themes give them,
// for lists and scroll bars of their own. The bar draws dark text on its light background
// all the same, and so do the list, its scroll bar and the collapse bar's caption.
TEST(PlayerWindowLook, ADarkDesktopPaletteReachesNoPartOfTheBar) {
  const QPalette before = QApplication::palette();
  QPalette dark;
  for (QPalette::ColorRole role : {QPalette::Window, QPalette::Base, QPalette::Button,
                                   QPalette::AlternateBase, QPalette::Highlight}) {
    dark.setColor(role, QColor(0x24, 0x24, 0x24));
  }
  for (QPalette::ColorRole role :
       {QPalette::WindowText, QPalette::Text, QPalette::ButtonText, QPalette::HighlightedText}) {
    dark.setColor(role, QColor(0xf0, 0xf0, 0xf0));
  }
  QApplication::setPalette(dark);
  QApplication::setPalette(dark, "QAbstractItemView");
  QApplication::setPalette(dark, "QScrollBar");
  {
    PlayerWindow window(ListingWorker({{{"第一期", "", "", 61}}}));
    window.resize(408, 332);
    window.statusLabel->setText(QStringLiteral("标题"));
    auto lightness = [](QWidget* widget, QPalette::ColorRole role) {
      return widget->palette().color(role).lightness();
    };
    QScrollBar* scroll = window.episodeList->verticalScrollBar();
    for (auto [widget, role] : std::initializer_list<std::pair<QWidget*, QPalette::ColorRole>>{
             {window.statusLabel, QPalette::WindowText},
             {window.collapseButton, QPalette::ButtonText},
             {window.episodeList, QPalette::Text},
             {window.episodeList->header(), QPalette::ButtonText},
             {scroll, QPalette::ButtonText}}) {
      EXPECT_LT(lightness(widget, role), 80) << widget->objectName().toStdString();
    }
    for (auto [widget, role] : std::initializer_list<std::pair<QWidget*, QPalette::ColorRole>>{
             {&window, QPalette::Window},
             {window.episodeList->viewport(), QPalette::Base},
             {scroll, QPalette::Button},
             {scroll, QPalette::Window}}) {
      EXPECT_GT(lightness(widget, role), 200) << widget->objectName().toStdString();
    }
    // As drawn: the title's darkest pixel is dark, the window around it light.
    const QImage title = window.statusLabel->grab().toImage();
    int darkest = 255;
    for (int y = 0; y < title.height(); ++y) {
      for (int x = 0; x < title.width(); ++x) darkest = std::min(darkest, qGray(title.pixel(x, y)));
    }
    EXPECT_LT(darkest, 80);
    EXPECT_GT(qGray(window.grab().toImage().pixel(200, 2)), 200);
  }
  QApplication::setPalette(before);
}

TEST(Pictures, ButtonPicturesAre16PixelArgbWithCrispDoubles) {
  const ByteSet* pictures[] = {&PauseImage(),         &PlayImage(),        &LoopImageInOrder(),
                               &LoopImageRepeatOne(), &LoopImageShuffle(), &PreviousImage(),
                               &NextImage(),          &CloseImage(),       &ListImage(),
                               &CollapseImage(),      &RetryImage()};
  for (const ByteSet* picture : pictures) {
    QByteArray format;
    const QImage image = Decode(*picture, &format);
    EXPECT_EQ(format, "png");
    EXPECT_EQ(image.size(), QSize(16, 16));
    EXPECT_TRUE(image.hasAlphaChannel());
    const QImage doubled = Decode(DoubleSizeImage(*picture));
    EXPECT_EQ(doubled.size(), QSize(32, 32));
  }
  EXPECT_TRUE(DoubleSizeImage(LoadingAnimation()).empty());
  EXPECT_TRUE(DoubleSizeImage(ByteSet{1, 2, 3}).empty());

  // The loop mode is read back from the picture, so the three must differ.
  EXPECT_NE(LoopImageInOrder(), LoopImageRepeatOne());
  EXPECT_NE(LoopImageRepeatOne(), LoopImageShuffle());
  EXPECT_NE(LoopImageInOrder(), LoopImageShuffle());
  EXPECT_NE(PauseImage(), PlayImage());
}

TEST(Pictures, LoadingAnimationIsA66By6LoopOfSevenFrames) {
  const ByteSet& gif = LoadingAnimation();
  QByteArray data(reinterpret_cast<const char*>(gif.data()), static_cast<qsizetype>(gif.size()));
  QBuffer buffer(&data);
  QImageReader reader(&buffer, "gif");
  EXPECT_EQ(reader.size(), QSize(66, 6));
  EXPECT_EQ(reader.imageCount(), 7);
  EXPECT_EQ(reader.loopCount(), -1);  // forever
}

TEST(InitialisationVerdict, EmptyListShowsTheFailureAndTheRetryButton) {
  PlayerWindow window(ListingWorker({{}}));
  window.CreateAndShow();
  ASSERT_TRUE(WaitUntil([&] { return !window.retryButton->isHidden(); }));
  EXPECT_EQ(Utf8(window.statusLabel->Caption()), "初始化失败，请重试...");
  EXPECT_EQ(LastRow, -1);
  for (QWidget* control :
       std::initializer_list<QWidget*>{window.listButton, window.playPauseButton,
                                       window.previousButton, window.nextButton, window.progress}) {
    EXPECT_FALSE(control->isEnabled()) << control->objectName().toStdString();
  }
  EXPECT_EQ(window.playTimer->Interval(), 0);
  EXPECT_EQ(window.Media().State(), 0);
}

// A double-click on the empty list asks for row -1, which only stops.
TEST(InitialisationVerdict, DoubleClickOnTheEmptyListPlaysNothing) {
  PlayerWindow window(nullptr);
  window.CreateAndShow();
  QTest::mouseDClick(window.episodeList->viewport(), Qt::LeftButton, {}, QPoint(20, 20));
  EXPECT_EQ(Utf8(window.statusLabel->Caption()), "正在初始化...");
  EXPECT_EQ(CurrentRow, 0);
  EXPECT_EQ(window.playTimer->Interval(), 0);
}

// After a failed load, a retry whose worker cannot start finds nothing running and shows
// the failure again at once.
TEST(InitialisationVerdict, RetryWithoutAWorkerShowsTheFailureAgain) {
  PlayerWindow window(nullptr);
  window.CreateAndShow();
  EXPECT_EQ(Utf8(window.statusLabel->Caption()), "正在初始化...");
  // Where a worker that listed nothing leaves the window.
  LastRow = -1;
  window.retryButton->show();
  QTest::mouseClick(window.retryButton, Qt::LeftButton);
  EXPECT_FALSE(window.retryButton->isHidden());
  EXPECT_EQ(Utf8(window.statusLabel->Caption()), "初始化失败，请重试...");
}

// The user picks shuffle while the load fails, then retries: the new worker resets
// LoopMode to 1 but the button keeps its picture, and the next click moves on from the
// picture (shuffle -> in order), not from LoopMode.
TEST(LoopButton, CyclesByItsPictureAlsoAcrossARetry) {
  auto started = std::make_shared<std::atomic<int>>(0);
  // The second run lists a row whose audio cannot be opened: no server is needed.
  PlayerWindow window(ListingWorker(
      {{}, {{"唯一一期", "http://127.0.0.1:1/missing.wav", "http://127.0.0.1:1/c.png", 5}}},
      started));
  window.CreateAndShow();
  ASSERT_TRUE(WaitUntil([&] { return !window.retryButton->isHidden(); }));

  QTest::mouseClick(window.loopButton, Qt::LeftButton);
  EXPECT_EQ(window.loopButton->Picture(), LoopImageRepeatOne());
  EXPECT_EQ(LoopMode, 2);
  QTest::mouseClick(window.loopButton, Qt::LeftButton);
  EXPECT_EQ(window.loopButton->Picture(), LoopImageShuffle());
  EXPECT_EQ(LoopMode, 3);

  QTest::mouseClick(window.retryButton, Qt::LeftButton);
  EXPECT_EQ(started->load(), 2);
  EXPECT_EQ(LoopMode, 1);
  EXPECT_EQ(window.loopButton->Picture(), LoopImageShuffle());
  EXPECT_TRUE(window.retryButton->isHidden());
  EXPECT_TRUE(window.playPauseButton->isEnabled());
  EXPECT_EQ(Utf8(window.statusLabel->Caption()), "唯一一期");

  QTest::mouseClick(window.loopButton, Qt::LeftButton);
  EXPECT_EQ(window.loopButton->Picture(), LoopImageInOrder());
  EXPECT_EQ(LoopMode, 1);
  QTest::mouseClick(window.loopButton, Qt::LeftButton);
  EXPECT_EQ(window.loopButton->Picture(), LoopImageRepeatOne());
  EXPECT_EQ(LoopMode, 2);

  // A picture that is none of the three changes nothing.
  window.loopButton->SetPicture(PauseImage());
  QTest::mouseClick(window.loopButton, Qt::LeftButton);
  EXPECT_EQ(window.loopButton->Picture(), PauseImage());
  EXPECT_EQ(LoopMode, 2);
}

TEST(EpisodeList, ColumnsAndWindowHeights) {
  PlayerWindow window(
      ListingWorker({{{"第一期", "http://127.0.0.1:1/a.wav", "", 61}, {"第二期", "", "", 62}}}));
  window.CreateAndShow();
  ASSERT_TRUE(WaitUntil([&] { return window.listButton->isEnabled(); }));

  // Five columns; the three of width 0 hold the program's own cells and are not the
  // view's: it shows the title and the status.
  const char* headers[] = {"标题", "链接", "图片", "状态", "bak"};
  const int widths[] = {310, 0, 0, 85, 0};
  for (int column = 0; column < 5; ++column) {
    const ListView::Column* defined = window.episodeList->ColumnAt(column);
    ASSERT_NE(defined, nullptr) << column;
    EXPECT_EQ(defined->header, QString::fromUtf8(headers[column]));
    EXPECT_EQ(defined->width, widths[column]) << column;
  }
  ASSERT_EQ(window.episodeList->columnCount(), 2);
  EXPECT_EQ(window.episodeList->headerItem()->text(0), QStringLiteral("标题"));
  EXPECT_EQ(window.episodeList->headerItem()->text(1), QStringLiteral("状态"));
  EXPECT_EQ(window.episodeList->header()->sectionSize(0), 310);
  EXPECT_EQ(window.episodeList->header()->sectionSize(1), 85);
  EXPECT_EQ(window.episodeList->topLevelItem(1)->text(1), QStringLiteral("01分02秒"));
  EXPECT_EQ(Utf8(window.episodeList->CellText(1, 4)), "01分02秒");
  // Both visible columns fit beside each other: nothing to scroll sideways.
  EXPECT_EQ(window.episodeList->header()->length(), 395);
  EXPECT_EQ(Utf8(window.episodeList->CellText(0, 3)), "正在播放...");
  EXPECT_EQ(Utf8(window.episodeList->CellText(1, 3)), "01分02秒");

  EXPECT_EQ(window.height(), 109);
  QTest::mouseClick(window.listButton, Qt::LeftButton);
  EXPECT_EQ(window.height(), 332);
  EXPECT_TRUE(window.collapseButton->isVisible());
  QTest::mouseClick(window.listButton, Qt::LeftButton);
  EXPECT_EQ(window.height(), 109);

  QTest::mouseClick(window.listButton, Qt::LeftButton);
  EXPECT_EQ(window.height(), 332);
  QTest::mouseClick(window.collapseButton, Qt::LeftButton);
  EXPECT_EQ(window.height(), 110);
  QTest::mouseClick(window.listButton, Qt::LeftButton);
  EXPECT_EQ(window.height(), 332);
  EXPECT_EQ(window.width(), 408);
}

}  // namespace
}  // namespace newsbar::test

namespace newsbar::test {
namespace {

TEST(CloseButton, EndsTheProcessAtOnceWithCodeZero) {
  // Re-runs this test alone in a fresh process: safer than forking one with threads.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        PlayerWindow window(nullptr);
        window.CreateAndShow();
        QTest::mouseClick(window.closeButton, Qt::LeftButton);
        std::exit(3);  // not reached when the click ends the process
      },
      testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace newsbar::test
