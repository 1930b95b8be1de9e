// An episode's stream cut partway by the loopback media host, which then refuses
// connections or answers nothing for a while and then serves again. A loss is not an end:
// the row stays, the slider stays where the sound stopped, the bar says it waits, and the
// sound goes on from there once the host answers. The outages are counted from the moment
// the bar starts waiting and run at a tenth of their real length, with the player's tries
// and the library's own reconnects shortened to match; ShippedReconnects waits out a real
// 20 s outage with the shipped values.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <optional>

#include "app/player_state.h"
#include "app/player_window.h"
#include "app_fixture.h"
#include "support/media_files.h"

namespace newsbar::test {
namespace {

using namespace std::chrono_literals;
using loopback::MediaOutage;
using loopback::OutageKind;

constexpr int kRate = 4000;  // bytes per second of the clips (8-bit mono)
constexpr int kWavHeader = 44;
constexpr double kEpisodeSeconds = 12;
constexpr double kCutSeconds = 4;  // where the stream breaks off
constexpr double kShippedSeconds = 60;
constexpr double kShippedCutSeconds = 10;
constexpr std::size_t kMp3Rate = 8000;  // bytes per second of an MP3 at 64 kbit/s

std::size_t ByteAt(double seconds) {
  return kWavHeader + static_cast<std::size_t>(seconds * kRate);
}

class NetworkLoss : public testing::Test {
 protected:
  void SetUp() override {
    server_.Add("episode.wav", MakeWav(kEpisodeSeconds, kRate), "audio/wav");
    server_.Add("next.wav", MakeWav(kEpisodeSeconds, kRate), "audio/wav");
    server_.Add("c0.png", MakeCover(0x1f7ae0), "image/png");
  }

  // Row 0 is the episode whose stream is cut; row 1 is what would start if the loss were
  // taken for its end. The outage lasts until EndMediaOutage.
  //
  // The library reads a fair way into a stream as it opens it (8 s of these 8-bit clips,
  // to the end of a small WAV for its trailing chunks), so the cut at 4 s comes while the
  // media opens; with the library's reconnects cut to one that fails at once, the open
  // goes through with what it read. With the shipped values (reconnects 1, 3 and 7 s
  // after the break) the cut must come after the open, which would otherwise run past its
  // bound: the episode is then an MP3 at 64 kbit/s, cut at 10 s of 60, sent at four times
  // its rate until the cut (and long enough that the library looks for a tag at its end
  // with a request of its own rather than by reading through the cut).
  std::unique_ptr<PlayerWindow> Start(OutageKind kind, bool shipped = false) {
    if (shipped) {
      const std::string mp3 = temp_.filePath("episode.mp3").toStdString();
      if (!WriteMp3(mp3, kShippedSeconds)) ADD_FAILURE() << "lame could not make " << mp3;
      const ByteSet bytes = ReadFileBytes(mp3);
      server_.Add("episode.wav", std::string(bytes.begin(), bytes.end()), "audio/mpeg");
      cutSeconds_ = kShippedCutSeconds;
    }
    const std::size_t cutAt =
        shipped ? static_cast<std::size_t>(kShippedCutSeconds * kMp3Rate) : ByteAt(kCutSeconds);
    server_.SetMediaOutage({.name = "episode.wav",
                            .cutAt = cutAt,
                            .kind = kind,
                            .length = {},
                            .pace = shipped ? 4 * kMp3Rate : 0});
    auto window = std::make_unique<PlayerWindow>(ListingWorker({{
        {"被切断的一期", server_.Url("episode.wav"), server_.Url("c0.png"), 12},
        {"下一期", server_.Url("next.wav"), server_.Url("c0.png"), 12},
    }}));
    if (!shipped) {
      window->Media().SetRetryDelays(100ms, 3s);
      window->Media().SetLibraryReconnectLimit(0s);
    }
    QObject::connect(&window->Media(), &MediaPlayer::soundPlayingChanged, [this](bool playing) {
      if (playing) soundAt_.push_back(std::chrono::steady_clock::now());
    });
    window->CreateAndShow();
    EXPECT_TRUE(WaitUntil([&] { return window->playTimer->Interval() == 1000; }, 15000));
    return window;
  }

  // Waits for the bar to say it waits, and checks what it shows meanwhile.
  void ExpectWaitingAtTheCut(PlayerWindow& window, int timeoutMs = 30000) {
    ASSERT_TRUE(WaitUntil([&] { return window.Media().Waiting(); }, timeoutMs));
    EXPECT_TRUE(window.waitingLabel->isVisible());
    EXPECT_EQ(Utf8(window.waitingLabel->Caption()), "网络中断，正在重连...");
    EXPECT_FALSE(window.Media().SoundPlaying());
    EXPECT_EQ(CurrentRow, 0);
    // The place is where the sound stopped: the cut, give or take what was buffered.
    const int kept = window.Media().Position();
    EXPECT_NEAR(kept / 1000.0, cutSeconds_, 1.0);
    HandleEventsFor(1100);  // a tick of the play timer
    EXPECT_NEAR(window.progress->Position(), kept / 1000, 1);
    EXPECT_EQ(window.progress->MaximumPosition(), cutSeconds_ == kCutSeconds ? 12 : 60);
  }

  MediaServer server_;
  QTemporaryDir temp_;
  double cutSeconds_ = kCutSeconds;
  std::vector<std::chrono::steady_clock::time_point> soundAt_;
};

struct Outage {
  const char* name;
  OutageKind kind;
  std::chrono::milliseconds length;
};

class Outages : public NetworkLoss, public testing::WithParamInterface<Outage> {};

// Back at once, 20 s refused, 20 s silent, 90 s refused and 10 min refused, at a tenth.
TEST_P(Outages, TheEpisodeGoesOnWhereItStopped) {
  const Outage outage = GetParam();
  auto window = Start(outage.kind);
  ASSERT_TRUE(WaitUntil([&] { return server_.OutageBegan().has_value(); }, 10000));
  if (outage.kind != OutageKind::kNone) {
    ExpectWaitingAtTheCut(*window);
    HandleEventsFor(static_cast<int>(outage.length.count()) - 1100);
    EXPECT_TRUE(window->Media().Waiting());
    EXPECT_TRUE(window->waitingLabel->isVisible());
    EXPECT_EQ(CurrentRow, 0);
    server_.EndMediaOutage();
    // The sound goes on from the cut within 2 s of the host's first answer.
    ASSERT_TRUE(WaitUntil([&] { return window->Media().SoundPlaying(); }, 35000));
    EXPECT_LE(soundAt_.back() - *server_.FirstAnswerAfterOutage(), 2s);
    EXPECT_FALSE(window->waitingLabel->isVisible());
    EXPECT_EQ(CurrentRow, 0);
    EXPECT_NEAR(window->Media().Position() / 1000.0, kCutSeconds, 1.0);
  }
  // It plays on to its real end, and only then does the next row start.
  ASSERT_TRUE(WaitUntil([&] { return CurrentRow == 1; }, 20000));
  EXPECT_EQ(window->progress->MaximumPosition(), 12);
  EXPECT_EQ(Utf8(window->episodeList->CellText(0, 3)), "00分12秒");
}

INSTANTIATE_TEST_SUITE_P(Scaled, Outages,
                         testing::Values(Outage{"BackAtOnce", OutageKind::kNone, 0ms},
                                         Outage{"Refused20s", OutageKind::kRefuse, 2s},
                                         Outage{"Refused90s", OutageKind::kRefuse, 9s},
                                         Outage{"Refused10min", OutageKind::kRefuse, 60s}),
                         [](const testing::TestParamInfo<Outage>& info) {
                           return std::string(info.param.name);
                         });

TEST_F(NetworkLoss, PauseStopsTheTriesAndPlayResumesThem) {
  auto window = Start(OutageKind::kRefuse);
  ExpectWaitingAtTheCut(*window);
  QTest::mouseClick(window->playPauseButton, Qt::LeftButton);
  EXPECT_EQ(window->Media().State(), 3);
  const int tries = window->Media().ReopensSent();
  // Paused past the outage: no try goes out, nothing plays.
  server_.EndMediaOutage();
  HandleEventsFor(1500);
  EXPECT_EQ(window->Media().ReopensSent(), tries);
  EXPECT_TRUE(window->Media().Waiting());
  EXPECT_FALSE(window->Media().SoundPlaying());

  QTest::mouseClick(window->playPauseButton, Qt::LeftButton);
  ASSERT_TRUE(WaitUntil([&] { return window->Media().SoundPlaying(); }, 5000));
  EXPECT_EQ(CurrentRow, 0);
  EXPECT_NEAR(window->Media().Position() / 1000.0, kCutSeconds, 1.0);
}

TEST_F(NetworkLoss, ASeekWhileWaitingMovesTheKeptPlace) {
  auto window = Start(OutageKind::kRefuse);
  ExpectWaitingAtTheCut(*window);
  window->JumpTo(8);
  EXPECT_EQ(window->Media().Position(), 8000);
  HandleEventsFor(1100);
  EXPECT_EQ(window->progress->Position(), 8);
  EXPECT_TRUE(window->Media().Waiting());
  server_.EndMediaOutage();
  ASSERT_TRUE(WaitUntil([&] { return window->Media().SoundPlaying(); }, 15000));
  EXPECT_EQ(CurrentRow, 0);
  EXPECT_NEAR(window->Media().Position() / 1000.0, 8, 1.0);
}

TEST_F(NetworkLoss, NextWhileWaitingStartsTheNextRow) {
  auto window = Start(OutageKind::kRefuse);
  ExpectWaitingAtTheCut(*window);
  server_.EndMediaOutage();
  QTest::mouseClick(window->nextButton, Qt::LeftButton);
  EXPECT_EQ(CurrentRow, 1);
  EXPECT_FALSE(window->Media().Waiting());
  EXPECT_FALSE(window->waitingLabel->isVisible());
  // The next row plays from its start; the lost one is not opened again.
  ASSERT_TRUE(WaitForStart(*window));
  ASSERT_TRUE(WaitUntil([&] { return window->Media().SoundPlaying(); }, 5000));
  const int episodeRequests = server_.CountFor("episode.wav");
  HandleEventsFor(1500);
  EXPECT_EQ(server_.CountFor("episode.wav"), episodeRequests);
  EXPECT_EQ(CurrentRow, 1);
  EXPECT_LT(window->Media().Position(), 4000);
}

// The shipped tries and the library's own reconnects (1, 3 and 7 s): a 20 s refusal.
TEST_F(NetworkLoss, ShippedReconnects) {
  auto window = Start(OutageKind::kRefuse, /*shipped=*/true);
  ExpectWaitingAtTheCut(*window);
  HandleEventsFor(20000 - 1100);
  EXPECT_TRUE(window->Media().Waiting());
  server_.EndMediaOutage();
  ASSERT_TRUE(WaitUntil([&] { return window->Media().SoundPlaying(); }, 40000));
  EXPECT_LE(soundAt_.back() - *server_.FirstAnswerAfterOutage(), 2s);
  EXPECT_EQ(CurrentRow, 0);
  EXPECT_NEAR(window->Media().Position() / 1000.0, kShippedCutSeconds, 1.0);
}

}  // namespace
}  // namespace newsbar::test
