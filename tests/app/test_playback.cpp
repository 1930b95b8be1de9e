// Playback in the real window with real libmpv: clips of known length and covers served
// on loopback, rows listed by a fake worker, input given as a person would.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <set>
#include <vector>

#include "app/images.h"
#include "app/player_state.h"
#include "app/player_window.h"
#include "app_fixture.h"
#include "support/process_memory.h"
#include "util/duration.h"

namespace newsbar::test {
namespace {

ByteSet Bytes(const std::string& text) {
  return ByteSet(text.begin(), text.end());
}

class Playback : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    clips_ = new std::map<std::string, std::string>{
        {"three.wav", MakeWav(3.6)},
        {"short.wav", MakeWav(2.2)},
        // 1234.6 s; a low rate keeps it at about 5 MB.
        {"long.wav", MakeWav(1234.6, 4000)},
        {"c0.png", MakeCover(0x1f7ae0)},
        {"c1.png", MakeCover(0xe0501f)},
        // Served late by the test that overtakes a start.
        {"slow.png", MakeCover(0x30a050)},
        {"slow.wav", MakeWav(3.6)},
    };
  }
  static void TearDownTestSuite() {
    delete clips_;
    clips_ = nullptr;
  }

  void SetUp() override {
    for (const auto& [name, bytes] : *clips_) {
      server_.Add(name, bytes, name.ends_with(".png") ? "image/png" : "audio/wav");
    }
  }

  Row MakeRow(const std::string& title, const std::string& clip, const std::string& cover,
              int seconds) {
    return {title, server_.Url(clip), server_.Url(cover), seconds};
  }

  // Creates the window with one run of rows and waits until row 0 has started.
  std::unique_ptr<PlayerWindow> StartWith(const std::vector<Row>& rows) {
    auto window = std::make_unique<PlayerWindow>(ListingWorker({rows}));
    window->CreateAndShow();
    EXPECT_TRUE(WaitUntil([&] { return window->playTimer->Interval() == 1000; }));
    return window;
  }

  static const std::string& Clip(const std::string& name) { return clips_->at(name); }

  MediaServer server_;
  static std::map<std::string, std::string>* clips_;
};

std::map<std::string, std::string>* Playback::clips_ = nullptr;

TEST_F(Playback, FirstRowStartsAndADoubleClickMovesTheMark) {
  auto window = StartWith({MakeRow("早报第一期", "three.wav", "c0.png", 3),
                           MakeRow("晚报第二期", "short.wav", "c1.png", 2)});
  EXPECT_EQ(Utf8(window->statusLabel->Caption()), "早报第一期");
  EXPECT_EQ(Utf8(window->totalLabel->Caption()), "00分03秒");
  EXPECT_EQ(Utf8(window->elapsedLabel->Caption()), "00分00秒");
  EXPECT_EQ(window->progress->MaximumPosition(), 3);
  EXPECT_EQ(window->progress->Position(), 0);
  EXPECT_TRUE(window->progress->isEnabled());
  EXPECT_EQ(window->cover->Picture(), Bytes(Clip("c0.png")));
  EXPECT_FALSE(window->cover->StillImage().isNull());
  EXPECT_EQ(Utf8(window->episodeList->CellText(0, 3)), "正在播放...");
  EXPECT_EQ(Utf8(window->episodeList->CellText(1, 3)), "00分02秒");
  EXPECT_EQ(window->Media().State(), 1);
  EXPECT_EQ(CurrentRow, 0);

  // The cover is asked for with the URL alone: a GET with the default headers.
  int coverRequests = 0;
  for (const auto& request : server_.Requests()) {
    if (request.path != "/media/c0.png") continue;
    ++coverRequests;
    EXPECT_EQ(request.method, "GET");
    auto header = [&](const char* name) { return request.Header(name).value_or("(none)"); };
    EXPECT_EQ(header("accept"), "*/*");
    EXPECT_EQ(header("referer"), server_.Url("c0.png"));
    EXPECT_EQ(header("accept-language"), "zh-cn");
    EXPECT_EQ(header("user-agent"), "Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)");
  }
  EXPECT_EQ(coverRequests, 1);

  // Open the list and double-click the second row.
  QTest::mouseClick(window->listButton, Qt::LeftButton);
  ASSERT_EQ(window->height(), 332);
  QTreeWidget* list = window->episodeList;
  const QPoint second = list->visualItemRect(list->topLevelItem(1)).center();
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, second);
  QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, second);
  // The row, its marks and title at once; its cover, media and length once they are there.
  EXPECT_EQ(CurrentRow, 1);
  EXPECT_EQ(Utf8(window->statusLabel->Caption()), "晚报第二期");
  EXPECT_EQ(Utf8(window->episodeList->CellText(0, 3)), "00分03秒");
  EXPECT_EQ(Utf8(window->episodeList->CellText(1, 3)), "正在播放...");
  ASSERT_TRUE(WaitForStart(*window));
  EXPECT_EQ(window->cover->Picture(), Bytes(Clip("c1.png")));
  EXPECT_EQ(window->progress->MaximumPosition(), 2);
  EXPECT_EQ(Utf8(window->totalLabel->Caption()), "00分02秒");

  // With nothing selected a double-click stops; title, marks and timer stay.
  list->clearSelection();
  QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, second);
  EXPECT_EQ(window->Media().State(), 0);
  EXPECT_EQ(CurrentRow, 1);
  EXPECT_EQ(Utf8(window->statusLabel->Caption()), "晚报第二期");
  EXPECT_EQ(window->playTimer->Interval(), 1000);
}

// A start that a later one overtook never lands: not its cover, not its media, not its
// length. Each row's cover and audio leave together; a slow cover never holds the audio.
TEST_F(Playback, AnOvertakenStartNeverLandsAndTheCoverNeverDelaysTheAudio) {
  // Held long enough for a sanitizer build's slower start of the audio.
  constexpr int kHeldMs = 2000;
  server_.Delay("slow.png", kHeldMs);
  server_.Delay("slow.wav", kHeldMs);
  auto window = StartWith(
      {MakeRow("第一期", "three.wav", "c0.png", 3), MakeRow("慢封面", "long.wav", "slow.png", 1234),
       MakeRow("慢音频", "slow.wav", "c1.png", 3), MakeRow("第四期", "three.wav", "c0.png", 3)});
  // Next while row 1's cover is on its way, and again while row 2's audio is.
  QTest::mouseClick(window->nextButton, Qt::LeftButton);
  // Row 1's audio is asked for while its cover's answer is still held back (by the
  // server's clock, so that a slow build does not blur it).
  ASSERT_TRUE(WaitUntil(
      [&] { return server_.CountFor("slow.png") == 1 && server_.CountFor("long.wav") >= 1; }));
  auto arrived = [this](const std::string& name) {
    for (const auto& request : server_.Requests()) {
      if (request.path == "/media/" + name) return request.arrived;
    }
    return std::chrono::steady_clock::time_point::max();
  };
  EXPECT_LT(arrived("long.wav") - arrived("slow.png"), std::chrono::milliseconds(kHeldMs));
  EXPECT_NE(window->cover->Picture(), Bytes(Clip("slow.png")));
  QTest::mouseClick(window->nextButton, Qt::LeftButton);
  ASSERT_TRUE(WaitUntil([&] { return server_.CountFor("slow.wav") >= 1; }));
  QTest::mouseClick(window->nextButton, Qt::LeftButton);
  ASSERT_TRUE(WaitForStart(*window));
  HandleEventsFor(kHeldMs + 200);  // past both late answers

  EXPECT_EQ(CurrentRow, 3);
  EXPECT_EQ(Utf8(window->statusLabel->Caption()), "第四期");
  EXPECT_EQ(window->cover->Picture(), Bytes(Clip("c0.png")));
  EXPECT_EQ(window->progress->MaximumPosition(), 3);
  EXPECT_EQ(Utf8(window->totalLabel->Caption()), "00分03秒");
  EXPECT_EQ(window->Media().Length(), 3);
  EXPECT_EQ(window->Media().State(), 1);
  EXPECT_EQ(Utf8(window->episodeList->CellText(3, 3)), "正在播放...");
  for (int row : {1, 2}) {
    EXPECT_EQ(window->episodeList->CellText(row, 3), window->episodeList->CellText(row, 4));
  }

  // On the wire: each start's cover and audio, one start after the other. Within a start
  // the cover is issued first, but the two leave on different threads, so either may
  // arrive first.
  std::vector<std::string> order;
  for (const auto& request : server_.Requests()) {
    const std::string name = request.path.substr(request.path.rfind('/') + 1);
    if (order.empty() || order.back() != name) order.push_back(name);
  }
  const std::vector<std::set<std::string>> expected = {{"c0.png", "three.wav"},
                                                       {"slow.png", "long.wav"},
                                                       {"c1.png", "slow.wav"},
                                                       {"c0.png", "three.wav"}};
  ASSERT_EQ(order.size(), 2 * expected.size());
  for (std::size_t k = 0; k < expected.size(); ++k) {
    EXPECT_EQ((std::set<std::string>{order[2 * k], order[2 * k + 1]}), expected[k]) << k;
  }
}

TEST_F(Playback, InOrderPlaysTheNextRowThenStopsAfterTheLast) {
  auto window = StartWith(
      {MakeRow("第一期", "short.wav", "c0.png", 2), MakeRow("第二期", "short.wav", "c1.png", 2)});
  ASSERT_TRUE(WaitUntil([&] { return CurrentRow == 1; }, 10000));
  EXPECT_EQ(Utf8(window->statusLabel->Caption()), "第二期");
  EXPECT_EQ(Utf8(window->episodeList->CellText(0, 3)), "00分02秒");

  // After the last row the media is closed; the timer keeps running and starts nothing.
  ASSERT_TRUE(WaitForStart(*window));
  ASSERT_TRUE(WaitUntil([&] { return window->Media().State() == 0; }, 10000));
  HandleEventsFor(1500);
  EXPECT_EQ(server_.CountFor("c0.png"), 1);
  EXPECT_EQ(server_.CountFor("c1.png"), 1);
  EXPECT_EQ(CurrentRow, 1);
  EXPECT_EQ(window->playTimer->Interval(), 1000);
  EXPECT_EQ(window->progress->Position(), 0);
  EXPECT_EQ(window->progress->MaximumPosition(), 2);
  EXPECT_EQ(Utf8(window->statusLabel->Caption()), "第二期");
  EXPECT_EQ(Utf8(window->episodeList->CellText(1, 3)), "正在播放...");

  // The button offers to play, and playing starts the row shown again.
  EXPECT_EQ(window->playPauseButton->Picture(), PlayImage());
  QTest::mouseClick(window->playPauseButton, Qt::LeftButton);
  EXPECT_EQ(window->playPauseButton->Picture(), PauseImage());
  EXPECT_EQ(CurrentRow, 1);
  ASSERT_TRUE(WaitForStart(*window));
  EXPECT_EQ(server_.CountFor("c1.png"), 2);
  EXPECT_EQ(window->Media().State(), 1);
  EXPECT_EQ(window->progress->MaximumPosition(), 2);
}

TEST_F(Playback, RepeatOneAndShuffleReplayTheOnlyRow) {
  auto window = StartWith({MakeRow("唯一一期", "short.wav", "c0.png", 2)});
  QTest::mouseClick(window->loopButton, Qt::LeftButton);
  ASSERT_EQ(LoopMode, 2);
  ASSERT_TRUE(WaitUntil([&] { return server_.CountFor("c0.png") == 2; }, 10000));
  EXPECT_EQ(CurrentRow, 0);
  ASSERT_TRUE(WaitForStart(*window));
  EXPECT_EQ(window->Media().State(), 1);

  QTest::mouseClick(window->loopButton, Qt::LeftButton);
  ASSERT_EQ(LoopMode, 3);
  ASSERT_TRUE(WaitUntil([&] { return server_.CountFor("c0.png") == 3; }, 10000));
  EXPECT_EQ(CurrentRow, 0);
  ASSERT_TRUE(WaitForStart(*window));
  EXPECT_EQ(window->Media().State(), 1);
}

TEST_F(Playback, AnAudioUrlThatCannotBeOpenedMovesOnWithinASecond) {
  auto window = StartWith(
      {MakeRow("坏链接", "missing.wav", "c0.png", 3), MakeRow("好链接", "three.wav", "c1.png", 3)});
  QElapsedTimer clock;
  clock.start();
  EXPECT_EQ(Utf8(window->statusLabel->Caption()), "坏链接");
  EXPECT_EQ(Utf8(window->totalLabel->Caption()), "00分00秒");
  EXPECT_EQ(window->progress->MaximumPosition(), 0);
  ASSERT_TRUE(WaitUntil([&] { return CurrentRow == 1; }, 2500));
  EXPECT_LT(clock.elapsed(), 1600);
  EXPECT_EQ(Utf8(window->statusLabel->Caption()), "好链接");
  ASSERT_TRUE(WaitForStart(*window));
  EXPECT_EQ(window->Media().State(), 1);
}

TEST_F(Playback, ASuccessfulRetryStartsRowZeroTwiceFromItsBeginning) {
  auto started = std::make_shared<std::atomic<int>>(0);
  PlayerWindow window(
      ListingWorker({{}, {MakeRow("重试后", "long.wav", "c0.png", 1234)}}, started));
  window.CreateAndShow();
  ASSERT_TRUE(WaitUntil([&] { return !window.retryButton->isHidden(); }));
  EXPECT_EQ(server_.CountFor("c0.png"), 0);

  QTest::mouseClick(window.retryButton, Qt::LeftButton);
  EXPECT_EQ(started->load(), 2);
  // Once from the verdict inside the retry's wait, once from the retry's last step.
  EXPECT_TRUE(WaitUntil([&] { return server_.CountFor("c0.png") == 2; }));
  ASSERT_TRUE(WaitForStart(window));
  EXPECT_TRUE(window.retryButton->isHidden());
  EXPECT_TRUE(window.nextButton->isEnabled());
  EXPECT_EQ(Utf8(window.statusLabel->Caption()), "重试后");
  EXPECT_EQ(window.Media().State(), 1);
  EXPECT_LT(window.Media().Position(), 1500);
  EXPECT_EQ(window.progress->Position(), 0);
}

TEST_F(Playback, NextPreviousAndPlayPause) {
  auto window = StartWith(
      {MakeRow("第一期", "three.wav", "c0.png", 3), MakeRow("第二期", "three.wav", "c1.png", 3)});

  QTest::mouseClick(window->playPauseButton, Qt::LeftButton);
  EXPECT_EQ(window->playPauseButton->Picture(), PlayImage());
  EXPECT_EQ(window->Media().State(), 3);
  QTest::mouseClick(window->playPauseButton, Qt::LeftButton);
  EXPECT_EQ(window->playPauseButton->Picture(), PauseImage());
  EXPECT_EQ(window->Media().State(), 1);

  QTest::mouseClick(window->nextButton, Qt::LeftButton);
  EXPECT_EQ(CurrentRow, 1);
  EXPECT_EQ(Utf8(window->statusLabel->Caption()), "第二期");
  QTest::mouseClick(window->nextButton, Qt::LeftButton);  // wraps to the first row
  EXPECT_EQ(CurrentRow, 0);
  EXPECT_TRUE(WaitUntil([&] { return server_.CountFor("c0.png") == 2; }));
  QTest::mouseClick(window->previousButton, Qt::LeftButton);  // restarts the first row
  EXPECT_EQ(CurrentRow, 0);
  EXPECT_TRUE(WaitUntil([&] { return server_.CountFor("c0.png") == 3; }));
  QTest::mouseClick(window->nextButton, Qt::LeftButton);
  QTest::mouseClick(window->previousButton, Qt::LeftButton);
  EXPECT_EQ(CurrentRow, 0);
  EXPECT_EQ(Utf8(window->episodeList->CellText(1, 3)), "00分03秒");
  // The overtaken row's cover may not even have left; the first row's is asked again.
  EXPECT_TRUE(WaitUntil([&] { return server_.CountFor("c0.png") == 4; }));
  EXPECT_LE(server_.CountFor("c1.png"), 2);

  // After a pause a new episode shows the pause picture again and plays.
  ASSERT_TRUE(WaitForStart(*window));
  QTest::mouseClick(window->playPauseButton, Qt::LeftButton);
  ASSERT_EQ(window->playPauseButton->Picture(), PlayImage());
  QTest::mouseClick(window->nextButton, Qt::LeftButton);
  EXPECT_EQ(window->playPauseButton->Picture(), PauseImage());
  ASSERT_TRUE(WaitForStart(*window));
  EXPECT_EQ(window->Media().State(), 1);
}

// A day of episode changes leaves memory where the first lap of them took it: 40 rows, a
// lap to warm up, then four more, each change waiting for the new row's length. Each
// lap's peak is held against the lap's before: an allocator arena that keeps a block of
// the media library's per file would show as a step of 10 MiB. (This process also runs
// the server, whose own memory creeps by some hundreds of KiB a lap.)
TEST_F(Playback, MemoryStaysFlatAsEpisodesChange) {
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "a sanitizer brings its own allocator and shadow memory";
#endif
  constexpr int kRows = 40;
  constexpr int kLaps = 4;
  constexpr long kBoundKb = 3 * 1024;
  std::vector<Row> rows;
  for (int row = 0; row < kRows; ++row) {
    // Every row its own audio and cover URL, as a catalogue lists them.
    const std::string tag = "?e=" + std::to_string(row);
    rows.push_back(MakeRow("第" + std::to_string(row + 1) + "期", "three.wav" + tag,
                           (row % 2 ? "c1.png" : "c0.png") + tag, 3));
  }
  auto window = StartWith(rows);
  std::vector<long> peaks;
  for (int lap = 0; lap <= kLaps; ++lap) {
    long peak = 0;
    for (int change = 0; change < kRows; ++change) {
      window->OnNextClicked();
      ASSERT_TRUE(WaitForStart(*window));
      peak = std::max(peak, ResidentKb());
    }
    peaks.push_back(peak);
  }
  for (int lap = 2; lap <= kLaps; ++lap) {
    EXPECT_LE(peaks[lap] - peaks[lap - 1], kBoundKb) << "lap " << lap << " after the warm-up";
  }
}

TEST_F(Playback, LongEpisodeSeeksBySliderAndByHoldingTheButtons) {
  auto window = StartWith({MakeRow("长节目", "long.wav", "c0.png", 1234)});
  EXPECT_EQ(window->progress->MaximumPosition(), 1234);
  EXPECT_EQ(Utf8(window->totalLabel->Caption()), "20分34秒");

  // Once a second the slider and the elapsed label follow the media.
  ASSERT_TRUE(WaitUntil([&] { return window->progress->Position() >= 1; }, 10000));
  EXPECT_EQ(window->elapsedLabel->Caption(),
            FormatDuration(window->progress->Position(), Gbk("m分s秒")));

  // A move by the user plays from the new position. Over HTTP the media may take a
  // moment to get there after the seek has been issued.
  auto mediaReaches = [&](int seconds) {
    return WaitUntil([&] { return std::abs(window->Media().Position() - seconds * 1000) < 1500; },
                     4000);
  };
  window->progress->setFocus();
  QTest::keyClick(window->progress, Qt::Key_PageUp);
  const int moved = window->progress->Position();
  ASSERT_GT(moved, 0);
  EXPECT_TRUE(mediaReaches(moved));

  // Hold next for about a second: ten steps of 10 s on the slider, media untouched.
  int sliderAtRelease = -1;
  bool mediaFollowedRelease = false;
  QObject::connect(window->nextButton, &QAbstractButton::released, window.get(), [&] {
    // Between the release and the click that follows it.
    sliderAtRelease = window->progress->Position();
    mediaFollowedRelease = mediaReaches(sliderAtRelease);
  });
  QTest::mousePress(window->nextButton, Qt::LeftButton);
  EXPECT_EQ(SeekDirection, 1);
  EXPECT_EQ(window->seekTimer->Interval(), 100);
  EXPECT_EQ(window->playTimer->Interval(), 0);
  HandleEventsFor(1000);
  const int held = window->progress->Position();
  EXPECT_GE(held - moved, 80);
  EXPECT_LE(held - moved, 110);
  // The label shows the position from before the last step.
  EXPECT_EQ(window->elapsedLabel->Caption(), FormatDuration(held - 10, Gbk("m分s秒")));
  EXPECT_LT(window->Media().Position(), (moved + 10) * 1000);

  // Release plays from the slider (seen between release and click); the click that ends
  // the hold changes nothing: the same row plays on from there.
  QTest::mouseRelease(window->nextButton, Qt::LeftButton);
  EXPECT_EQ(sliderAtRelease, held);
  EXPECT_TRUE(mediaFollowedRelease);
  EXPECT_EQ(SeekDirection, 0);
  EXPECT_EQ(window->seekTimer->Interval(), 0);
  EXPECT_EQ(window->playTimer->Interval(), 1000);
  EXPECT_FALSE(window->StartUnderWay());
  HandleEventsFor(1200);
  EXPECT_EQ(server_.CountFor("c0.png"), 1);
  EXPECT_GE(window->progress->Position(), held);
  EXPECT_EQ(window->Media().State(), 1);
  EXPECT_TRUE(mediaReaches(window->progress->Position()));

  // A click, released before the first step, still changes the episode: here the only
  // row starts again.
  QTest::mouseClick(window->nextButton, Qt::LeftButton);
  EXPECT_TRUE(WaitUntil([&] { return server_.CountFor("c0.png") == 2; }));
  ASSERT_TRUE(WaitForStart(*window));
  EXPECT_EQ(window->playTimer->Interval(), 1000);
  EXPECT_EQ(window->progress->Position(), 0);
  EXPECT_LT(window->Media().Position(), 1000);

  // Holding previous at the start cannot go below 0.
  QTest::mousePress(window->previousButton, Qt::LeftButton);
  EXPECT_EQ(SeekDirection, -1);
  HandleEventsFor(350);
  EXPECT_EQ(window->progress->Position(), 0);
  QTest::mouseRelease(window->previousButton, Qt::LeftButton);
  EXPECT_EQ(SeekDirection, 0);
  EXPECT_EQ(CurrentRow, 0);
  EXPECT_EQ(server_.CountFor("c0.png"), 2);
}

}  // namespace
}  // namespace newsbar::test
