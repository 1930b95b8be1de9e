// The cover or the audio of the first episode served by a faulty server. Neither is
// waited for on the window's thread, which keeps handling events throughout; within the
// limit (the cover download's, the media player's open bound) playback goes on as the
// failure path says: no cover and the episode plays, or the episode counts as ended and
// the next one starts. The list itself is never touched by either fault. The fault cases
// run with short limits; ShippedLimits waits out the player's own 10 s of each once.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include <QBuffer>
#include <QImage>
#include <QMovie>

#include <cstdio>
#include <cstdlib>

#include "hardening_harness.h"
#include "support/fault_server.h"
#include "support/http_server.h"
#include "support/media_files.h"

namespace newsbar::test {
namespace {

// The cover download's whole-exchange limit, and the media player's open bound.
constexpr auto kCoverBound = kShortLimits.cover;
constexpr auto kOpenBound = kShortLimits.open;
// The longest the window's thread may go without handling events: far below either
// bound, with room for a busy machine and sanitizer builds.
constexpr auto kResponsive = 1s;

std::string CoverPng() {
  QImage image(48, 48, QImage::Format_RGB32);
  image.fill(QColor(200, 90, 40));
  QByteArray png;
  QBuffer buffer(&png);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "PNG");
  return png.toStdString();
}

// The evening page alone (the morning one empty), its first episode's cover or audio
// taken from `server`.
struct PlaybackScene {
  enum class Part { kCover, kAudio };

  PlaybackScene(CatalogueFixture& fixture, FaultServer& server, Part part) {
    fixture.SetFailure(FixtureProgramme::kMorning, FixtureFailure::kEmptyList);
    episodes = fixture.MakeEpisodes(FixtureProgramme::kEvening, 2020, 7, 20, 2);
    if (part == Part::kCover) {
      episodes[0].coverUrl = server.Url("/cover.png");
    } else {
      episodes[0].audioUrl = server.Url("/episode.wav");
    }
    fixture.SetEpisodes(FixtureProgramme::kEvening, episodes);
    fixture.SetDateHeader("Mon, 20 Jul 2020 12:00:00 GMT");
  }

  std::vector<FixtureEpisode> episodes;
};

// Nothing but the status column of the played rows may change in the list.
void ExpectListIntact(WindowRun& run, const std::vector<FixtureEpisode>& episodes) {
  const auto rows = run.Rows();
  ASSERT_EQ(rows.size(), episodes.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(rows[i][0], episodes[i].title);
    EXPECT_EQ(rows[i][1], episodes[i].audioUrl);
    EXPECT_EQ(rows[i][2], episodes[i].coverUrl);
    EXPECT_FALSE(rows[i][4].empty());
  }
}

bool ShowsCover(PlayerWindow& window) {
  return !window.cover->StillImage().isNull() || window.cover->Animation() != nullptr;
}

class CoverFault : public testing::TestWithParam<Fault> {};

TEST_P(CoverFault, NoCoverAndTheEpisodePlays) {
  CatalogueFixture fixture;
  WindowRun run(fixture.Endpoints());
  FaultServer server(GetParam(), CoverPng(), "image/png");
  PlaybackScene scene(fixture, server, PlaybackScene::Part::kCover);
  FreezeProbe probe;

  run.Start();
  ASSERT_TRUE(run.WaitForVerdict(10s)) << run.StatusText();
  ASSERT_TRUE(WaitFor([&] { return !run.window().StartUnderWay(); }, kCoverBound + 5s));
  EXPECT_LE(probe.Longest(), kResponsive);
  if (GetParam() != Fault::kRefuse) {
    EXPECT_GE(server.ConnectionCount(), 1u);
  }

  PlayerWindow& window = run.window();
  EXPECT_EQ(run.StatusText(), scene.episodes[0].title);
  if (GetParam() == Fault::kNone) {
    // The audio does not wait for the picture, which shows when it comes.
    EXPECT_TRUE(WaitFor([&] { return ShowsCover(window); }, kCoverBound));
  } else {
    // The loading picture stays until the cover's outcome, which empties the box.
    EXPECT_TRUE(WaitFor([&] { return !ShowsCover(window); }, kCoverBound + 5s))
        << window.cover->Picture().size() << " bytes";
  }
  // The audio was opened all the same: its length is on the total label.
  EXPECT_EQ(Utf8(window.totalLabel->Caption()), "00分01秒");
  EXPECT_EQ(run.Rows()[0][3], "正在播放...");
  ExpectListIntact(run, scene.episodes);
}

INSTANTIATE_TEST_SUITE_P(Faults, CoverFault,
                         testing::Values(Fault::kNone, Fault::kRefuse, Fault::kSilent,
                                         Fault::kHeadersThenStall, Fault::kEndlessBody,
                                         Fault::kEarlyClose, Fault::kNotFound, Fault::kServerError,
                                         Fault::kHtml, Fault::kTruncated, Fault::kDrip,
                                         Fault::kDripBody, Fault::kRedirectLoop),
                         [](const testing::TestParamInfo<Fault>& info) {
                           return std::string(FaultName(info.param));
                         });

class AudioFault : public testing::TestWithParam<Fault> {};

TEST_P(AudioFault, NextEpisodeStartsWithinTheBound) {
  CatalogueFixture fixture;
  WindowRun run(fixture.Endpoints());
  FaultServer server(GetParam(), ToneWav(4.0), "audio/wav");
  PlaybackScene scene(fixture, server, PlaybackScene::Part::kAudio);
  FreezeProbe probe;

  run.Start();
  // The first episode cannot be played: within the open bound and a tick of the play
  // timer the second one is playing.
  const bool movedOn =
      WaitFor([&] { return run.StatusText() == scene.episodes[1].title; }, kOpenBound + 15s);
  EXPECT_TRUE(movedOn) << run.StatusText();
  EXPECT_LE(probe.Longest(), kResponsive);
  if (GetParam() != Fault::kRefuse) {
    EXPECT_GE(server.ConnectionCount(), 1u);
  }
  const auto rows = run.Rows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[1][3], "正在播放...");
  EXPECT_EQ(rows[0][3], rows[0][4]);
  ExpectListIntact(run, scene.episodes);
}

INSTANTIATE_TEST_SUITE_P(Faults, AudioFault,
                         testing::Values(Fault::kRefuse, Fault::kSilent, Fault::kHeadersThenStall,
                                         Fault::kEndlessBody, Fault::kEarlyClose, Fault::kNotFound,
                                         Fault::kServerError, Fault::kHtml, Fault::kTruncated,
                                         Fault::kDrip, Fault::kDripBody, Fault::kRedirectLoop),
                         [](const testing::TestParamInfo<Fault>& info) {
                           return std::string(FaultName(info.param));
                         });

// Line breaks in a cover or audio URL must not turn into header lines of the request.
TEST(UrlsWithLineBreaks, NoHeaderIsInjected) {
  HttpServer server;
  server.Handle("/c.png", [](const httplib::Request&, httplib::Response& response) {
    response.set_content(CoverPng(), "image/png");
  });
  CatalogueFixture fixture;
  WindowRun run(fixture.Endpoints());
  fixture.SetFailure(FixtureProgramme::kMorning, FixtureFailure::kEmptyList);
  auto episodes = fixture.MakeEpisodes(FixtureProgramme::kEvening, 2020, 7, 20, 2);
  episodes[0].coverUrl = server.Url("/c.png") + "?x=1\r\nX-Injected: cover";
  episodes[0].audioUrl = server.Url("/a.wav") + "?x=1\r\nX-Injected: audio";
  fixture.SetEpisodes(FixtureProgramme::kEvening, episodes);
  fixture.SetDateHeader("Mon, 20 Jul 2020 12:00:00 GMT");

  run.Start();
  EXPECT_TRUE(WaitFor([&] { return run.StatusText() == episodes[1].title; }, kOpenBound + 15s));
  for (const ReceivedRequest& request : server.Requests()) {
    EXPECT_EQ(request.HeaderCount("X-Injected"), 0u) << request.target;
  }
  ExpectListIntact(run, episodes);
}

// A catalogue may name local files and devices as audio: one that never ends, one that
// blocks whoever opens it. Neither holds the window longer than the open bound; the
// player moves on to the episode after them.
TEST(LocalAudioPaths, DevicesAndPipesAreLeftBehind) {
  char directory[] = "/tmp/newsbar-fifo-XXXXXX";
  ASSERT_NE(mkdtemp(directory), nullptr);
  const std::string fifo = std::string(directory) + "/audio.wav";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);

  CatalogueFixture fixture;
  WindowRun run(fixture.Endpoints());
  fixture.SetFailure(FixtureProgramme::kMorning, FixtureFailure::kEmptyList);
  auto episodes = fixture.MakeEpisodes(FixtureProgramme::kEvening, 2020, 7, 20, 3);
  episodes[0].audioUrl = "/dev/zero";
  episodes[1].audioUrl = "file://" + fifo;
  fixture.SetEpisodes(FixtureProgramme::kEvening, episodes);
  fixture.SetDateHeader("Mon, 20 Jul 2020 12:00:00 GMT");
  FreezeProbe probe;

  run.Start();
  EXPECT_TRUE(WaitFor([&] { return run.StatusText() == episodes[2].title; }, 2 * kOpenBound + 15s))
      << run.StatusText();
  EXPECT_LE(probe.Longest(), kResponsive);
  ExpectListIntact(run, episodes);
  std::remove(fifo.c_str());
  rmdir(directory);
}

// The shipped limits, end to end: an audio server that never answers is given up after
// 10 s, not before, and the next episode plays; a cover server that never answers holds
// nothing: the episode plays at once, without its cover.
// Returns the milliseconds from the verdict (a moment after the start went out) until
// then; -1 when that did not come.
qint64 SilentPartGivenUpAfter(PlaybackScene::Part part) {
  CatalogueFixture fixture;
  WindowRun run(fixture.Endpoints(), kShippedLimits);
  FaultServer server(Fault::kSilent);
  PlaybackScene scene(fixture, server, part);
  run.Start();
  if (!run.WaitForVerdict(10s)) return -1;
  QElapsedTimer sinceVerdict;
  sinceVerdict.start();
  const bool cover = part == PlaybackScene::Part::kCover;
  const std::string& playing = scene.episodes[cover ? 0 : 1].title;
  if (!WaitFor([&] { return !run.window().StartUnderWay() && run.StatusText() == playing; }, 25s)) {
    return -1;
  }
  return sinceVerdict.elapsed();
}

TEST(ShippedLimits, SilentCoverNeverHoldsTheAudio) {
  const qint64 played = SilentPartGivenUpAfter(PlaybackScene::Part::kCover);
  EXPECT_GE(played, 0);
  EXPECT_LT(played, (kShippedLimits.cover / 2).count());
}

TEST(ShippedLimits, SilentAudioIsGivenUpAfterTenSeconds) {
  EXPECT_GE(SilentPartGivenUpAfter(PlaybackScene::Part::kAudio),
            (kShippedLimits.open - 500ms).count());
}

}  // namespace
}  // namespace newsbar::test
