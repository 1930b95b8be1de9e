// The player as a process of its own, closed in every phase: a close from the desktop
// (the window's close event, as the title bar, Alt+F4 or a taskbar send it), the
// application asked to quit (as at the end of a session), SIGTERM and SIGINT each end it
// within a second with exit status 0, also while the window's thread has a retry under
// way and while a request stalls.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <ostream>
#include <string>

#include "bench_server.h"
#include "process.h"

namespace newsbar::test {
namespace {

using namespace std::chrono_literals;
using bench::BenchFaults;
using bench::BenchServer;
using bench::ChildProcess;
using bench::RequestMarks;

enum class Phase { kFirstLoad, kRetry, kPlaying, kStalledCover, kStalledAudio };
enum class Way { kDesktop, kQuit, kTerm, kInt };

// Names for ctest's list, in the order of the enumerations.
constexpr const char* kPhaseNames[] = {"FirstLoad", "Retry", "Playing", "StalledCover",
                                       "StalledAudio"};
constexpr const char* kWayNames[] = {"Desktop", "Quit", "Sigterm", "Sigint"};

std::string Name(Phase phase) {
  return kPhaseNames[static_cast<int>(phase)];
}
std::string Name(Way way) {
  return kWayNames[static_cast<int>(way)];
}
void PrintTo(Phase phase, std::ostream* out) {
  *out << Name(phase);
}
void PrintTo(Way way, std::ostream* out) {
  *out << Name(way);
}

class CloseInEveryPhase : public testing::TestWithParam<std::tuple<Phase, Way>> {};

TEST_P(CloseInEveryPhase, EndsWithinASecondWithStatusZero) {
  const auto [phase, way] = GetParam();
  BenchServer server(loopback::BuiltInMedia());
  ASSERT_TRUE(server.Start());
  BenchFaults faults;
  faults.stallCatalogue = phase == Phase::kFirstLoad;
  faults.emptyCatalogue = phase == Phase::kRetry;
  faults.stallCovers = phase == Phase::kStalledCover;
  faults.stallAudio = phase == Phase::kStalledAudio;
  server.SetFaults(faults);

  ChildProcess player =
      ChildProcess::SpawnTalking({NEWSBAR_BENCH_PLAYER, std::to_string(server.HttpPort()),
                                  std::to_string(server.HttpsPort()), "--script"},
                                 {"QT_QPA_PLATFORM=offscreen"});
  ASSERT_TRUE(player.Started());
  auto seen = [&](auto condition) { return server.WaitForMarks(condition, 30s); };
  switch (phase) {
    case Phase::kFirstLoad:
      ASSERT_TRUE(seen([](const RequestMarks& m) { return m.cataloguePosts >= 1; }));
      break;
    case Phase::kRetry:
      // The first load fails; the retry then waits for a worker whose request stalls.
      ASSERT_TRUE(player.Say("await 按钮_重试"));
      ASSERT_TRUE(player.Hear("shown", 30s));
      faults.emptyCatalogue = false;
      faults.stallCatalogue = true;
      server.SetFaults(faults);
      ASSERT_TRUE(player.Say("click 按钮_重试"));
      ASSERT_TRUE(player.Hear("clicking", 30s));
      ASSERT_TRUE(seen([](const RequestMarks& m) { return m.cataloguePosts >= 3; }));
      break;
    case Phase::kPlaying:
    case Phase::kStalledAudio:
      ASSERT_TRUE(seen([](const RequestMarks& m) { return m.audioRequests >= 1; }));
      break;
    case Phase::kStalledCover:
      ASSERT_TRUE(seen([](const RequestMarks& m) { return m.coverRequests >= 1; }));
      break;
  }
  // Still running: nothing in the phase ended it by itself.
  ASSERT_TRUE(player.Running());

  const auto start = std::chrono::steady_clock::now();
  switch (way) {
    case Way::kDesktop:
      ASSERT_TRUE(player.Say("close"));
      break;
    case Way::kQuit:
      ASSERT_TRUE(player.Say("quit"));
      break;
    case Way::kTerm:
      kill(player.Pid(), SIGTERM);
      break;
    case Way::kInt:
      kill(player.Pid(), SIGINT);
      break;
  }
  const std::optional<int> status = player.Wait(1s);
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(status, std::optional(0)) << "still running, or killed by a signal";
  EXPECT_LT(took, 1s);
  EXPECT_FALSE(player.Running());
}

INSTANTIATE_TEST_SUITE_P(
    Phases, CloseInEveryPhase,
    testing::Combine(testing::Values(Phase::kFirstLoad, Phase::kRetry, Phase::kPlaying,
                                     Phase::kStalledCover, Phase::kStalledAudio),
                     testing::Values(Way::kDesktop, Way::kQuit, Way::kTerm, Way::kInt)),
    [](const testing::TestParamInfo<std::tuple<Phase, Way>>& info) {
      return Name(std::get<0>(info.param)) + Name(std::get<1>(info.param));
    });

}  // namespace
}  // namespace newsbar::test
