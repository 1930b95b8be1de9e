// newsbar-bench: the player against its anchors, side by side in one run, on loopback.
//
//   launch -> audio request  the player, against a bare pipeline doing the same work
//                            (curl for the catalogue POSTs, the time HEAD and the cover,
//                            then the mpv command line on the audio URL)
//   memory after 10 s        VmRSS and VmHWM, against the mpv command line playing the
//                            same URL
//   CPU over 30 s            user + system time, against the same mpv
//   catalogue load           newsbar-bench-load, for 2 x 20, 2 x 200 and 2 x 2000 episodes
//   window lateness          how late a 10 ms timer of the player's window thread runs:
//                            playing, a stalled cover, stalled audio, a slider drag
//                            against slow range requests, a retry against a stalled
//                            catalogue, refreshes of 2 x 20 and 2 x 2000 episodes;
//                            and the memory's growth over 100 refreshes
//   back after an outage     the stream cut 15 s in, the media host then away (0 s,
//                            20 s refused or silent, 90 s and 10 min refused): how soon
//                            the sound is back once it answers, and where (outage.h)
//   episode changes          VmRSS over 200 clicks of next through 2 x 20 episodes
//
// Every figure is the median of --runs runs (three times as many launches, which are short
// and vary most); the player and its anchor take turns, so
// that a change in the machine's load falls on both. --smoke runs each measure once with
// short windows, to show that every part works; it judges no time.
#include <unistd.h>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bench_server.h"
#include "catalogue/catalogue_request.h"
#include "figures.h"
#include "outage.h"
#include "process.h"

namespace newsbar::bench {
namespace {

using namespace std::chrono_literals;
using Milliseconds = std::chrono::duration<double, std::milli>;

constexpr auto kRequestWait = 30s;

void PrintUsage() {
  std::fputs(
      "usage: newsbar-bench [--runs=N] [--smoke]\n"
      "                     [--only=launch,play,load,lateness,outage,episodes]\n"
      "       newsbar-bench --serve [--stall-audio]   (the catalogue only, until stdin\n"
      "                     closes; with audio requests never answered)\n"
      "                     [--player=PATH] [--load-bench=PATH] [--clip=PATH]\n"
      "                     [--mpv=PATH] [--curl=PATH]\n",
      stderr);
}

// --- the machine --------------------------------------------------------------------------

std::string FirstLineWith(const std::string& path, std::string_view key) {
  const std::optional<std::string> text = ReadWholeFile(path);
  if (!text) return {};
  std::size_t at = 0;
  while (at < text->size()) {
    const std::size_t end = std::min(text->find('\n', at), text->size());
    const std::string line = text->substr(at, end - at);
    at = end + 1;
    if (!line.starts_with(key)) continue;
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    const std::size_t start = line.find_first_not_of(" \t", colon + 1);
    return start == std::string::npos ? std::string() : line.substr(start);
  }
  return {};
}

std::string LoadAverage() {
  const std::optional<std::string> text = ReadWholeFile("/proc/loadavg");
  if (!text) return "?";
  const std::size_t end = text->find(' ', text->find(' ', text->find(' ') + 1) + 1);
  return text->substr(0, end);
}

void PrintMachine() {
  const long cpus = sysconf(_SC_NPROCESSORS_ONLN);
  std::printf("machine: %s, %ld CPUs, memory %s\n",
              FirstLineWith("/proc/cpuinfo", "model name").c_str(), cpus,
              FirstLineWith("/proc/meminfo", "MemTotal").c_str());
  std::printf("load average at start: %s\n", LoadAverage().c_str());
}

// --- measures -------------------------------------------------------------------------------

struct Samples {
  std::vector<double> values;
  int failures = 0;
  void Add(std::optional<double> value) {
    if (value) {
      values.push_back(*value);
    } else {
      ++failures;
    }
  }
};

class Bench {
 public:
  Bench(const Options& options, BenchServer& server) : options_(options), server_(server) {}

  std::vector<std::string> PlayerCommand() const {
    return BenchPlayerCommand(options_.player, server_);
  }
  std::vector<std::string> MpvCommand() const {
    return {options_.mpv, "--no-config", "--no-video", "--ao=null", server_.MediaUrl(kClipName)};
  }
  static std::vector<std::string> PlayerEnvironment() { return BenchPlayerEnvironment(); }

  // A launch in milliseconds from the start: to the first catalogue POST, to the cover
  // request and to the audio request (the figure that counts).
  struct Launch {
    double toWindow = 0;  // the window first drawn (the player only)
    double toCatalogue = 0;
    double toCover = 0;
    double toAudio = 0;
    double toMorning = 0;  // each catalogue request and the time's, on their own
    double toTime = 0;
    double toEvening = 0;
  };

  // Start of the player to the first request for its audio. With `refreshMs`, then the
  // time a refresh takes (the same requests and load as a retry's), into *refreshMs.
  std::optional<Launch> LaunchPlayer(std::optional<double>* refreshMs = nullptr) {
    server_.ResetMarks();
    const std::vector<std::string> command =
        BenchPlayerCommand(options_.player, server_, /*script=*/true);
    const Clock::time_point start = Clock::now();
    ChildProcess player = ChildProcess::SpawnTalking(command, PlayerEnvironment());
    if (!player.Started()) return Fail("the player did not start: " + options_.player);
    const bool painted = player.Hear("painted", kRequestWait).has_value();
    const Clock::time_point paintedAt = Clock::now();
    const std::optional<Clock::time_point> audio = server_.WaitForFirstAudioRequest(kRequestWait);
    if (refreshMs != nullptr && audio) {
      const Clock::time_point asked = Clock::now();
      if (Refresh(player)) *refreshMs = Milliseconds(Clock::now() - asked).count();
    }
    player.End();
    if (!painted) return Fail("the player never drew its window");
    if (!audio) return Fail("the player never asked for its audio");
    const RequestMarks marks = server_.Marks();
    if (marks.cataloguePosts < 2 || marks.timeRequests < 1 || marks.coverRequests < 1)
      return Fail("the player skipped a catalogue, time or cover request");
    coverPath_ = marks.lastCoverPath;
    std::optional<Launch> launch = Phases(start, marks);
    if (launch) launch->toWindow = Milliseconds(paintedAt - start).count();
    return launch;
  }

  // A launch while another player holds the session (needs a session bus): the requests
  // the second one sends before it ends, and how long it takes to end.
  struct SecondLaunch {
    int requests = 0;  // catalogue POSTs and time requests
    double endedMs = 0;
  };
  std::optional<SecondLaunch> LaunchSecond() {
    server_.ResetMarks();
    ChildProcess first = ChildProcess::Spawn(PlayerCommand(), PlayerEnvironment());
    if (!first.Started()) return Fail("the player did not start: " + options_.player);
    if (!server_.WaitForFirstAudioRequest(kRequestWait))
      return Fail("the first player never asked for its audio");
    server_.ResetMarks();
    const Clock::time_point start = Clock::now();
    ChildProcess second = ChildProcess::Spawn(PlayerCommand(), PlayerEnvironment());
    const std::optional<int> status = second.Wait(10s);
    const double endedMs = Milliseconds(Clock::now() - start).count();
    first.End();
    if (status != 0) return Fail("the second launch did not hand over and end");
    const RequestMarks marks = server_.Marks();
    return SecondLaunch{.requests = marks.cataloguePosts + marks.timeRequests, .endedMs = endedMs};
  }

  // The same work without the program: the two catalogue POSTs and the time HEAD in the
  // player's order, the cover GET, then mpv on the audio URL.
  std::optional<Launch> LaunchBarePipeline() {
    const Endpoints endpoints = server_.PlayerEndpoints();
    const std::string cover = "http://127.0.0.1:" + std::to_string(server_.HttpPort()) +
                              (coverPath_.empty() ? "/media/evening.png" : coverPath_);
    const std::string agent(kCatalogueUserAgent);
    const std::vector<std::vector<std::string>> requests = {
        {options_.curl, "-s", "-o", "/dev/null", "-A", agent, "--data-binary", "",
         CatalogueUrl(endpoints, kMorningProgramme, MakeTimestamp())},
        {options_.curl, "-s", "-o", "/dev/null", "-I", endpoints.timeUrl},
        {options_.curl, "-s", "-k", "-o", "/dev/null", "-A", agent, "--data-binary", "",
         CatalogueUrl(endpoints, kEveningProgramme, MakeTimestamp())},
        {options_.curl, "-s", "-o", "/dev/null", cover},
    };
    server_.ResetMarks();
    const Clock::time_point start = Clock::now();
    for (const auto& request : requests) {
      if (RunToEnd(request, kRequestWait) != 0) return Fail("curl failed: " + request.back());
    }
    ChildProcess mpv = ChildProcess::Spawn(MpvCommand());
    if (!mpv.Started()) return Fail("mpv did not start: " + options_.mpv);
    const std::optional<Clock::time_point> audio = server_.WaitForFirstAudioRequest(kRequestWait);
    mpv.End();
    if (!audio) return Fail("mpv never asked for the audio");
    return Phases(start, server_.Marks());
  }

  struct Playing {
    double rssMiB = 0;
    double hwmMiB = 0;
    std::optional<double> anonMiB;
    std::optional<double> pssMiB;
    std::optional<double> privateMiB;
    std::optional<double> privateDirtyMiB;
    ResidentBreakdown breakdown;
    double cpuMs = 0;
  };

  // Memory `memoryAfter` and CPU time over `cpuOver` from the first audio request on.
  std::optional<Playing> Play(const std::vector<std::string>& command,
                              const std::vector<std::string>& environment) {
    server_.ResetMarks();
    ChildProcess child = ChildProcess::Spawn(command, environment);
    if (!child.Started()) return Fail("could not start " + command.front());
    const std::optional<Clock::time_point> audio = server_.WaitForFirstAudioRequest(kRequestWait);
    if (!audio) return Fail(command.front() + " never asked for the audio");
    const std::optional<double> cpuStart = ReadCpuSeconds(child.Pid());
    std::this_thread::sleep_until(*audio + options_.memoryAfter);
    const std::optional<MemoryUse> memory = ReadMemoryUse(child.Pid());
    const std::optional<ResidentBreakdown> breakdown = ReadResidentBreakdown(child.Pid());
    std::this_thread::sleep_until(*audio + options_.cpuOver);
    const std::optional<double> cpuEnd = ReadCpuSeconds(child.Pid());
    if (!child.Running()) return Fail(command.front() + " stopped while playing");
    child.End();
    if (!cpuStart || !cpuEnd || !memory || !breakdown) return Fail("/proc could not be read");
    return Playing{
        .rssMiB = memory->rssKb / 1024.0,
        .hwmMiB = memory->hwmKb / 1024.0,
        .anonMiB = memory->anonKb >= 0 ? std::optional(memory->anonKb / 1024.0) : std::nullopt,
        .pssMiB = memory->pssKb >= 0 ? std::optional(memory->pssKb / 1024.0) : std::nullopt,
        .privateMiB =
            memory->privateKb >= 0 ? std::optional(memory->privateKb / 1024.0) : std::nullopt,
        .privateDirtyMiB = memory->privateDirtyKb >= 0
                               ? std::optional(memory->privateDirtyKb / 1024.0)
                               : std::nullopt,
        .breakdown = *breakdown,
        .cpuMs = (*cpuEnd - *cpuStart) * 1000.0};
  }

  // Situations in which the window's thread is watched.
  enum class Situation {
    kPlaying,
    kStalledCover,
    kStalledAudio,
    kSliderDrag,
    kStalledRetry,
    kRefresh20,
    kRefresh2000
  };

  // The longest a 10 ms timer of the player's window thread ran late, in milliseconds.
  std::optional<double> Lateness(Situation situation) {
    const bool smoke = options_.smoke;
    BenchFaults faults;
    faults.emptyCatalogue = situation == Situation::kStalledRetry;
    faults.stallCovers = situation == Situation::kStalledCover;
    faults.stallAudio = situation == Situation::kStalledAudio;
    if (situation == Situation::kSliderDrag) faults.rangeDelay = 1s;
    server_.SetFaults(faults);
    const std::vector<loopback::Episode> listed = server_.Episodes();
    if (situation == Situation::kRefresh20) server_.SetEpisodes(ManyEpisodes(20, 0));
    if (situation == Situation::kRefresh2000) server_.SetEpisodes(ManyEpisodes(2000, 0));
    server_.ResetMarks();
    const std::vector<std::string> command =
        BenchPlayerCommand(options_.player, server_, /*script=*/true);
    ChildProcess player = ChildProcess::SpawnTalking(command, PlayerEnvironment());
    if (!player.Started()) return Fail("the player did not start: " + options_.player);
    auto seen = [this](auto condition) { return server_.WaitForMarks(condition, kRequestWait); };
    // Past the cover's and the open's 10 s bounds, so a frozen window shows in full.
    const auto pastTheBound = smoke ? 2s : 11s;
    switch (situation) {
      case Situation::kPlaying:
        if (!seen([](const RequestMarks& m) { return m.firstAudio.has_value(); }))
          return Fail("the player never asked for its audio");
        std::this_thread::sleep_for(options_.memoryAfter);
        break;
      case Situation::kStalledCover:
        if (!seen([](const RequestMarks& m) { return m.firstCover.has_value(); }))
          return Fail("the player never asked for a cover");
        std::this_thread::sleep_for(pastTheBound);
        break;
      case Situation::kStalledAudio:
        if (!seen([](const RequestMarks& m) { return m.firstAudio.has_value(); }))
          return Fail("the player never asked for its audio");
        std::this_thread::sleep_for(pastTheBound);
        break;
      case Situation::kSliderDrag:
        if (!player.Say(smoke ? "drag 1" : "drag 3")) return Fail("the player stopped answering");
        if (const auto dragged = player.Hear("dragged ", kRequestWait)) {
          dragSeeks_.push_back(std::atof(dragged->c_str() + 8));
        } else {
          return Fail("the slider drag did not happen");
        }
        break;
      case Situation::kStalledRetry:
        if (!player.Say("await 按钮_重试") || !player.Hear("shown", kRequestWait))
          return Fail("the retry button never showed");
        faults.emptyCatalogue = false;
        faults.stallCatalogue = true;
        server_.SetFaults(faults);
        if (!player.Say("click 按钮_重试") || !player.Hear("clicking", kRequestWait))
          return Fail("the retry button could not be clicked");
        std::this_thread::sleep_for(smoke ? 1s : 5s);
        break;
      case Situation::kRefresh20:
      case Situation::kRefresh2000: {
        if (!seen([](const RequestMarks& m) { return m.firstAudio.has_value(); }))
          return Fail("the player never asked for its audio");
        if (!player.Say("lateness") || !player.Hear("lateness ", kRequestWait))
          return Fail("the player stopped answering");
        // Three refreshes, each with one new edition on top.
        const int count = situation == Situation::kRefresh20 ? 20 : 2000;
        for (int refresh = 1; refresh <= 3; ++refresh) {
          server_.SetEpisodes(ManyEpisodes(count, refresh));
          if (!Refresh(player)) return Fail("a refresh did not come back");
        }
        break;
      }
    }
    if (!player.Say("lateness")) return Fail("the player stopped answering");
    const std::optional<std::string> answer = player.Hear("lateness ", kRequestWait);
    player.End();
    server_.SetFaults({});
    server_.SetEpisodes(listed);
    if (!answer) return Fail("the player gave no lateness");
    return std::atof(answer->c_str() + 9);
  }

  // How the memory moves over 100 refreshes of 2 x 20 episodes with nothing new, after
  // five to settle: VmRSS and private dirty memory, MiB, last minus first.
  struct RefreshMemory {
    double rssMiB = 0;
    double privateDirtyMiB = 0;
  };
  // The player with its script on `count` episodes of each programme (the episodes listed
  // before are put back by `restore`), once it has asked for its first row's audio;
  // nothing (and the episodes put back) when it did not get that far.
  std::optional<ChildProcess> StartOnManyEpisodes(int count, std::function<void()>& restore) {
    const std::vector<loopback::Episode> listed = server_.Episodes();
    restore = [this, listed] { server_.SetEpisodes(listed); };
    server_.SetEpisodes(ManyEpisodes(count, 0));
    server_.ResetMarks();
    const std::vector<std::string> command =
        BenchPlayerCommand(options_.player, server_, /*script=*/true);
    ChildProcess player = ChildProcess::SpawnTalking(command, PlayerEnvironment());
    if (!player.Started()) return restore(), Fail("the player did not start: " + options_.player);
    if (!server_.WaitForMarks([](const RequestMarks& m) { return m.firstAudio.has_value(); },
                              kRequestWait)) {
      return restore(), Fail("the player never asked for its audio");
    }
    return player;
  }

  std::optional<RefreshMemory> MemoryOverRefreshes() {
    std::function<void()> restore;
    std::optional<ChildProcess> started = StartOnManyEpisodes(20, restore);
    if (!started) return std::nullopt;
    ChildProcess& player = *started;
    const int refreshes = options_.smoke ? 10 : 100;
    std::optional<MemoryUse> first;
    for (int refresh = -5; refresh < refreshes; ++refresh) {
      if (refresh == 0) first = ReadMemoryUse(player.Pid());
      if (!Refresh(player)) return restore(), Fail("a refresh did not come back");
    }
    const std::optional<MemoryUse> last = ReadMemoryUse(player.Pid());
    player.End();
    restore();
    if (!first || !last) return Fail("/proc could not be read");
    return RefreshMemory{
        .rssMiB = (last->rssKb - first->rssKb) / 1024.0,
        .privateDirtyMiB = (last->privateDirtyKb - first->privateDirtyKb) / 1024.0};
  }

  // Resident memory as the episode changes: 2 x 20 episodes, the next button clicked 200
  // times, each click waiting for the new row's length. VmRSS in MiB once the first row
  // plays and after each change.
  struct EpisodeWalk {
    double firstRow = 0;
    std::vector<double> afterChange;
  };
  std::optional<EpisodeWalk> MemoryOverEpisodeChanges() {
    std::function<void()> restore;
    std::optional<ChildProcess> started = StartOnManyEpisodes(kWalkRows / 2, restore);
    if (!started) return std::nullopt;
    ChildProcess& player = *started;
    // The first row's start settles (its cover and length) before the walk.
    std::this_thread::sleep_for(1s);
    EpisodeWalk walk;
    const std::optional<MemoryUse> first = ReadMemoryUse(player.Pid());
    if (!first) return restore(), Fail("/proc could not be read");
    walk.firstRow = first->rssKb / 1024.0;
    const int changes = options_.smoke ? 4 * kWalkRows : kWalkChanges;
    for (int change = 1; change <= changes; ++change) {
      if (!player.Say("next") || !player.Hear("playing ", kRequestWait))
        return restore(), Fail("an episode change did not come back");
      const std::optional<MemoryUse> now = ReadMemoryUse(player.Pid());
      if (!now) return restore(), Fail("/proc could not be read");
      walk.afterChange.push_back(now->rssKb / 1024.0);
    }
    player.End();
    restore();
    return walk;
  }
  static constexpr int kWalkRows = 40;
  static constexpr int kWalkChanges = 200;

  const std::vector<std::string>& Failures() const { return failures_; }
  // Seeks the player sent to the media library during each slider drag.
  const std::vector<double>& DragSeeks() const { return dragSeeks_; }

 private:
  // `count` episodes of each programme, one a day back from today, every one its own audio
  // URL (the one clip, told apart by a query the server ignores). `edition` renames today's
  // morning episode: a new edition for a refresh to find.
  std::vector<loopback::Episode> ManyEpisodes(int count, int edition) const {
    std::vector<loopback::Episode> episodes;
    for (int programme = 1; programme <= 2; ++programme) {
      for (int day = 0; day < count; ++day) {
        const bool renamed = programme == 1 && day == 0;
        episodes.push_back(
            {.programme = programme,
             .daysAgo = day,
             .audioFile = std::string(kClipName) + "?e=" + std::to_string(programme) + "-" +
                          std::to_string(day) + (renamed ? "-" + std::to_string(edition) : ""),
             .seconds = 240,
             .headline = "第" + std::to_string(day + 1) + "期"});
      }
    }
    return episodes;
  }

  // Asks the player for a refresh and waits for its result.
  bool Refresh(ChildProcess& player) {
    return player.Say("refresh") && player.Hear("refreshed 1", kRequestWait).has_value();
  }

  std::optional<Launch> Phases(Clock::time_point start, const RequestMarks& marks) {
    if (!marks.firstCatalogue || !marks.firstCover || !marks.firstAudio)
      return Fail("a launch request went unseen");
    auto since = [start](const std::optional<Clock::time_point>& mark) {
      return mark ? Milliseconds(*mark - start).count() : -1.0;
    };
    return Launch{.toCatalogue = since(marks.firstCatalogue),
                  .toCover = since(marks.firstCover),
                  .toAudio = since(marks.firstAudio),
                  .toMorning = since(marks.firstMorning),
                  .toTime = since(marks.firstTime),
                  .toEvening = since(marks.firstEvening)};
  }

  std::nullopt_t Fail(const std::string& why) {
    failures_.push_back(why);
    return std::nullopt;
  }

  const Options& options_;
  BenchServer& server_;
  std::string coverPath_;
  std::vector<std::string> failures_;
  std::vector<double> dragSeeks_;
};

// --- the catalogue load --------------------------------------------------------------------

std::optional<std::map<std::string, LoadFigure>> RunLoadBench(const Options& options,
                                                              std::vector<std::string>& failures) {
  char path[] = "/tmp/newsbar-bench-load-XXXXXX";
  const int descriptor = mkstemp(path);
  if (descriptor < 0) {
    failures.push_back("no temporary file for the load figures");
    return std::nullopt;
  }
  close(descriptor);
  std::vector<std::string> command = {options.loadBench, "--benchmark_out=" + std::string(path),
                                      "--benchmark_out_format=json"};
  if (options.smoke) {
    command.push_back("--benchmark_min_time=0.000001");
  } else {
    command.push_back("--benchmark_repetitions=" + std::to_string(options.runs));
    command.push_back("--benchmark_report_aggregates_only=true");
  }
  const std::optional<int> status = RunToEnd(command, 20min);
  const std::optional<std::string> json = ReadWholeFile(path);
  unlink(path);
  if (status != 0 || !json) {
    failures.push_back("newsbar-bench-load failed: " + options.loadBench);
    return std::nullopt;
  }
  return ReadLoadFigures(*json);
}

// --- the table -----------------------------------------------------------------------------

std::string Spread(const std::vector<double>& values, const char* format) {
  if (values.empty()) return "failed";
  char text[128];
  const double median = Median(values);
  if (values.size() == 1) {
    std::snprintf(text, sizeof text, format, median);
    return text;
  }
  const auto [low, high] = std::minmax_element(values.begin(), values.end());
  char middle[32], lowText[32], highText[32];
  std::snprintf(middle, sizeof middle, format, median);
  std::snprintf(lowText, sizeof lowText, format, *low);
  std::snprintf(highText, sizeof highText, format, *high);
  std::snprintf(text, sizeof text, "%s (%s-%s)", middle, lowText, highText);
  return text;
}

void PrintRatioRow(const char* measure, const char* unit, const std::vector<double>& ours,
                   const std::vector<double>& anchor, const char* anchorName, const char* format,
                   std::optional<double> goal) {
  std::string ratio = "-";
  std::string verdict;
  if (!ours.empty() && !anchor.empty() && Median(anchor) > 0) {
    const double value = Median(ours) / Median(anchor);
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", value);
    ratio = text;
    if (goal) verdict = value <= *goal ? "met" : "MISSED";
  }
  char goalText[32] = "";
  if (goal) std::snprintf(goalText, sizeof goalText, "<= %.2f", *goal);
  std::printf("%-30s %-4s %-24s %-24s %-14s %-6s %-8s %s\n", measure, unit,
              Spread(ours, format).c_str(), Spread(anchor, format).c_str(), anchorName,
              ratio.c_str(), goalText, verdict.c_str());
}

constexpr int kSizes[] = {20, 200, 2000};
constexpr const char* kLoadFamilies[] = {"CatalogueLoad",  "Step/Documents", "Step/Reads",
                                         "Step/Merge",     "Step/List",      "Step/Requests",
                                         "CatalogueWorker"};

// Growth over the whole walk, from the first row playing to the last change; then the
// first four laps through the 40 rows, the peaks of laps 2-4 against the first lap's.
void PrintEpisodeWalks(const std::vector<Bench::EpisodeWalk>& walks, bool judge) {
  std::vector<double> growth;
  std::vector<double> lapGrowth;
  std::vector<double> firstRow;
  std::vector<std::vector<double>> peaks;
  for (const Bench::EpisodeWalk& walk : walks) {
    firstRow.push_back(walk.firstRow);
    if (walk.afterChange.empty()) continue;
    growth.push_back(walk.afterChange.back() - walk.firstRow);
    std::vector<double> lapPeaks;
    for (std::size_t start = 0; start < walk.afterChange.size(); start += Bench::kWalkRows) {
      const auto from = walk.afterChange.begin() + static_cast<std::ptrdiff_t>(start);
      const auto to =
          walk.afterChange.begin() +
          static_cast<std::ptrdiff_t>(std::min(walk.afterChange.size(), start + Bench::kWalkRows));
      lapPeaks.push_back(*std::max_element(from, to));
    }
    if (lapPeaks.size() >= 4) {
      lapGrowth.push_back(*std::max_element(lapPeaks.begin() + 1, lapPeaks.begin() + 4) -
                          lapPeaks[0]);
    }
    peaks.push_back(std::move(lapPeaks));
  }
  auto verdict = [judge](const std::vector<double>& values) {
    if (!judge || values.empty()) return "";
    return Median(values) <= 3.0 ? "met" : "MISSED";
  };
  std::printf(
      "\nVmRSS as the episode changes (next clicked through 2 x 20 rows), MiB, median "
      "(range)  goal\n");
  std::printf("  %-40s %-24s\n", "first row playing", Spread(firstRow, "%.1f").c_str());
  std::printf("  %-40s %-24s <= 3  %s\n", "growth over the walk's changes",
              Spread(growth, "%.2f").c_str(), verdict(growth));
  std::printf("  %-40s %-24s <= 3  %s\n", "peaks of laps 2-4 over lap 1's",
              Spread(lapGrowth, "%.2f").c_str(), verdict(lapGrowth));
  for (const std::vector<double>& lapPeaks : peaks) {
    std::printf("  lap peaks:");
    for (double peak : lapPeaks) std::printf(" %.1f", peak);
    std::printf("\n");
  }
}

void PrintLoadTable(const std::map<std::string, LoadFigure>& figures, bool judge) {
  std::printf(
      "\ncatalogue load without the network (newsbar-bench-load), median ms; its steps one at a\n"
      "time; the worker's 3 requests on loopback, and the whole worker with them\n");
  std::printf("%-10s %8s %10s %6s | %9s %8s %7s %7s | %8s %8s\n", "episodes", "load", "us/episode",
              "rows", "documents", "reads", "merge", "list", "requests", "worker");
  auto figure = [&figures](const std::string& family, int size) -> std::optional<LoadFigure> {
    const auto found = figures.find(family + "/" + std::to_string(size));
    if (found == figures.end()) return std::nullopt;
    return found->second;
  };
  auto cell = [&figure](const std::string& family, int size) {
    char text[32] = "failed";
    if (const auto value = figure(family, size))
      std::snprintf(text, sizeof text, "%.1f", value->ms);
    return std::string(text);
  };
  for (int size : kSizes) {
    const std::string episodes = "2 x " + std::to_string(size);
    const std::optional<LoadFigure> load = figure("CatalogueLoad", size);
    if (!load) {
      std::printf("%-10s %8s\n", episodes.c_str(), "failed");
      continue;
    }
    std::printf("%-10s %8.1f %10.1f %6.0f | %9s %8s %7s %7s | %8s %8s\n", episodes.c_str(),
                load->ms, load->ms * 1000.0 / (2.0 * size), load->rows,
                cell("Step/Documents", size).c_str(), cell("Step/Reads", size).c_str(),
                cell("Step/Merge", size).c_str(), cell("Step/List", size).c_str(),
                cell("Step/Requests", size).c_str(), cell("CatalogueWorker", size).c_str());
  }
  const std::optional<LoadFigure> small = figure("CatalogueLoad", 20);
  const std::optional<LoadFigure> middle = figure("CatalogueLoad", 200);
  const std::optional<LoadFigure> large = figure("CatalogueLoad", 2000);
  if (small) {
    std::printf("goal 2 x 20 <= 50 ms: %.1f ms%s\n", small->ms,
                judge ? (small->ms <= 50.0 ? "  met" : "  MISSED") : "");
  }
  if (middle && large && middle->ms > 0) {
    // Ten times the episodes: linear growth is a factor of 10 (exponent 1).
    const double factor = large->ms / middle->ms;
    const double exponent = std::log(factor) / std::log(10.0);
    std::printf("growth 2 x 200 -> 2 x 2000: x%.2f for x10 episodes (exponent %.2f)%s\n", factor,
                exponent,
                judge ? (exponent <= 1.1 ? "  no faster than linear: met" : "  MISSED") : "");
  }
}

// Each launch's requests against a far server at each latency, newsbar beside the bare
// pipeline, and a refresh once the audio was asked for.
int RunFar(const Options& options, const std::string& clip) {
  const int launches = options.smoke ? 1 : options.runs;
  std::printf(
      "\nfar server: D ms each way and a round trip more for each new connection; median ms\n"
      "from the launch to each request's arrival (%d launches of each)\n",
      launches);
  std::printf("%5s  %-22s %9s %15s %7s\n", "D", "request", "newsbar", "bare pipeline", "ratio");
  std::vector<std::string> failures;
  for (const int latency : options.latencies) {
    BenchServer server(BenchMedia(loopback::BuiltInMedia(), clip, 240),
                       std::chrono::milliseconds(latency));
    if (!server.Start()) {
      std::fputs("newsbar-bench: the loopback server did not start\n", stderr);
      return 1;
    }
    Bench bench(options, server);
    Samples ours[5], bare[5], refresh;
    for (int run = 0; run < launches; ++run) {
      // Requests still in the relays when a process ends arrive late: let them land before
      // the next launch counts.
      const auto settle = 4 * std::chrono::milliseconds(latency) + 300ms;
      std::optional<double> refreshMs;
      const std::optional<Bench::Launch> player = bench.LaunchPlayer(&refreshMs);
      std::this_thread::sleep_for(settle);
      const std::optional<Bench::Launch> pipeline = bench.LaunchBarePipeline();
      std::this_thread::sleep_for(settle);
      refresh.Add(refreshMs);
      for (auto [launch, samples] : {std::pair{&player, ours}, std::pair{&pipeline, bare}}) {
        const std::optional<Bench::Launch>& l = *launch;
        samples[0].Add(l ? std::optional(l->toMorning) : std::nullopt);
        samples[1].Add(l ? std::optional(l->toTime) : std::nullopt);
        samples[2].Add(l ? std::optional(l->toEvening) : std::nullopt);
        samples[3].Add(l ? std::optional(l->toCover) : std::nullopt);
        samples[4].Add(l ? std::optional(l->toAudio) : std::nullopt);
      }
    }
    server.Stop();
    const char* names[] = {"morning POST (http)", "time HEAD", "evening POST (https)", "cover GET",
                           "audio GET"};
    for (int k = 0; k < 5; ++k) {
      const double a = Median(ours[k].values);
      const double b = Median(bare[k].values);
      std::printf("%5d  %-22s %9.0f %15.0f %7.2f\n", latency, names[k], a, b, b > 0 ? a / b : 0);
    }
    std::printf("%5d  %-22s %9.0f %15s\n", latency, "refresh: the load", Median(refresh.values),
                "-");
    std::fflush(stdout);
    for (const std::string& failure : bench.Failures()) failures.push_back(failure);
  }
  for (const std::string& failure : failures) std::printf("failed: %s\n", failure.c_str());
  return failures.empty() ? 0 : 1;
}

int Run(const Options& options) {
  PrintMachine();
  if (!options.latencies.empty()) {
    const std::optional<std::string> clip = ReadWholeFile(options.clip);
    if (!clip || clip->empty()) {
      std::fprintf(stderr, "newsbar-bench: the programme clip %s is missing\n",
                   options.clip.c_str());
      return 1;
    }
    return RunFar(options, *clip);
  }
  if (options.smoke) {
    std::printf("smoke run, each measure once\n");
  } else {
    std::printf("benchmark, %d runs of each measure (%d of the launch)\n", options.runs,
                3 * options.runs);
  }
  std::fflush(stdout);

  std::vector<std::string> failures;
  const bool needServer = options.launch || options.play || options.lateness || options.outage ||
                          options.episodes || options.serve;
  std::optional<std::string> clip;
  if (needServer) {
    clip = ReadWholeFile(options.clip);
    if (!clip || clip->empty()) {
      std::fprintf(stderr, "newsbar-bench: the programme clip %s is missing\n",
                   options.clip.c_str());
      return 1;
    }
  }
  loopback::MediaSet demoMedia = loopback::BuiltInMedia();
  if (demoMedia.episodes.empty()) {
    std::fputs("newsbar-bench: the demo's built-in episodes are missing\n", stderr);
    return 1;
  }
  // The listed length only feeds the duration text; the player ends an episode by the
  // media's own length.
  BenchServer server(BenchMedia(std::move(demoMedia), clip.value_or(std::string()), 240));
  // The memory measure's two episode lengths, made beside the programme clip.
  const std::string clipStem = options.clip.substr(0, options.clip.rfind(".mp3"));
  const std::pair<const char*, int> lengths[] = {{"programme-long.mp3", 3693},
                                                 {"programme-short.mp3", 30}};
  if (options.play) {
    for (const auto& [name, seconds] : lengths) {
      const std::string path = clipStem + std::string(name).substr(9);
      const std::optional<std::string> bytes = ReadWholeFile(path);
      if (!bytes || bytes->empty()) {
        std::fprintf(stderr, "newsbar-bench: the clip %s is missing\n", path.c_str());
        return 1;
      }
      server.AddFile(name, *bytes);
    }
  }
  if (needServer && !server.Start()) {
    std::fputs("newsbar-bench: the loopback server did not start\n", stderr);
    return 1;
  }
  if (options.serve) {
    if (options.stallAudio) server.SetFaults({.stallAudio = true});
    std::printf("serving: %s %d %d  (the player's command, its ports)\naudio: %s\n",
                options.player.c_str(), server.HttpPort(), server.HttpsPort(),
                server.MediaUrl(kClipName).c_str());
    std::fflush(stdout);
    while (std::getchar() != EOF) {
    }
    return 0;
  }
  Bench bench(options, server);

  Samples launchOurs, launchBare;
  std::vector<Bench::Playing> playedOurs, playedMpv;
  std::vector<Bench::Playing> byLength[2];  // [0] a 60-minute episode, [1] a 30-second one
  // Phases of the launch: [0] to the first catalogue POST, [1] to the cover request, [2] to
  // the window first drawn (the player only).
  Samples phasesOurs[3], phasesBare[3];
  if (options.launch) {
    auto add = [](const std::optional<Bench::Launch>& launch, Samples& total, Samples* phases) {
      total.Add(launch ? std::optional(launch->toAudio) : std::nullopt);
      phases[0].Add(launch ? std::optional(launch->toCatalogue) : std::nullopt);
      phases[1].Add(launch ? std::optional(launch->toCover) : std::nullopt);
      phases[2].Add(launch ? std::optional(launch->toWindow) : std::nullopt);
    };
    // A launch takes a fraction of a second and varies most: three times the runs.
    const int launches = options.smoke ? 1 : 3 * options.runs;
    for (int run = 0; run < launches; ++run) {
      add(bench.LaunchPlayer(), launchOurs, phasesOurs);
      add(bench.LaunchBarePipeline(), launchBare, phasesBare);
    }
  }
  // Only with a session bus, where one player holds the session.
  Samples secondRequests, secondEnded;
  if (options.launch && std::getenv("DBUS_SESSION_BUS_ADDRESS")) {
    for (int run = 0; run < (options.smoke ? 1 : options.runs); ++run) {
      const std::optional<Bench::SecondLaunch> second = bench.LaunchSecond();
      secondRequests.Add(second ? std::optional<double>(second->requests) : std::nullopt);
      secondEnded.Add(second ? std::optional(second->endedMs) : std::nullopt);
    }
  }
  if (options.play) {
    for (int run = 0; run < options.runs; ++run) {
      if (auto playing = bench.Play(bench.PlayerCommand(), Bench::PlayerEnvironment()))
        playedOurs.push_back(*playing);
      if (auto playing = bench.Play(bench.MpvCommand(), {})) playedMpv.push_back(*playing);
    }
    // The same measure with every episode an hour long, then 30 seconds long.
    for (int run = 0; run < options.runs; ++run) {
      for (std::size_t which = 0; which < 2; ++which) {
        server.SetEpisodeClip(lengths[which].first, lengths[which].second);
        if (auto playing = bench.Play(bench.PlayerCommand(), Bench::PlayerEnvironment()))
          byLength[which].push_back(*playing);
      }
    }
    server.SetEpisodeClip(kClipName, 240);
  }
  using Situation = Bench::Situation;
  const std::pair<Situation, const char*> situations[] = {
      {Situation::kPlaying, "start-up and playing"},
      {Situation::kStalledCover, "cover server never answers"},
      {Situation::kStalledAudio, "audio server never answers"},
      {Situation::kSliderDrag, "slider drag, ranges 1 s late"},
      {Situation::kStalledRetry, "retry, catalogue never answers"},
      {Situation::kRefresh20, "3 refreshes of 2 x 20, one new each"},
      {Situation::kRefresh2000, "3 refreshes of 2 x 2000, one new each"},
  };
  std::map<Situation, Samples> lateness;
  if (options.lateness) {
    for (int run = 0; run < options.runs; ++run) {
      for (const auto& [situation, name] : situations) {
        lateness[situation].Add(bench.Lateness(situation));
      }
    }
  }
  Samples refreshRss;
  Samples refreshDirty;
  if (options.lateness) {
    for (int run = 0; run < options.runs; ++run) {
      if (const auto memory = bench.MemoryOverRefreshes()) {
        refreshRss.Add(memory->rssMiB);
        refreshDirty.Add(memory->privateDirtyMiB);
      }
    }
  }
  std::vector<OutageFigures> outages;
  if (options.outage) outages = MeasureOutages(options, server, failures);
  std::vector<Bench::EpisodeWalk> walks;
  if (options.episodes) {
    for (int run = 0; run < options.runs; ++run) {
      if (auto walk = bench.MemoryOverEpisodeChanges()) walks.push_back(std::move(*walk));
    }
  }
  server.Stop();

  std::optional<std::map<std::string, LoadFigure>> loadFigures;
  if (options.load) loadFigures = RunLoadBench(options, failures);

  // Timing is only judged on a real run; a smoke run shows the figures and nothing more.
  const bool judge = !options.smoke;
  auto goal = [judge](double value) { return judge ? std::optional(value) : std::nullopt; };
  if (options.launch || options.play) {
    std::printf("\n%-30s %-4s %-24s %-24s %-14s %-6s %-8s\n", "measure", "unit",
                "newsbar, median (range)", "anchor, median (range)", "anchor", "ratio", "goal");
  }
  if (options.launch) {
    PrintRatioRow("launch -> audio request", "ms", launchOurs.values, launchBare.values,
                  "bare pipeline", "%.0f", goal(0.60));
  }
  if (options.play) {
    const std::string memoryWhen =
        "after " + std::to_string(options.memoryAfter.count()) + " s of playing";
    const std::string cpuWhen = "over " + std::to_string(options.cpuOver.count()) + " s of playing";
    auto column = [](const std::vector<Bench::Playing>& played, auto pick) {
      std::vector<double> values;
      for (const Bench::Playing& playing : played) {
        if (const std::optional<double> value = pick(playing)) values.push_back(*value);
      }
      return values;
    };
    auto rss = [](const Bench::Playing& p) { return std::optional(p.rssMiB); };
    auto hwm = [](const Bench::Playing& p) { return std::optional(p.hwmMiB); };
    auto anon = [](const Bench::Playing& p) { return p.anonMiB; };
    auto pss = [](const Bench::Playing& p) { return p.pssMiB; };
    auto own = [](const Bench::Playing& p) { return p.privateMiB; };
    auto dirty = [](const Bench::Playing& p) { return p.privateDirtyMiB; };
    auto cpu = [](const Bench::Playing& p) { return std::optional(p.cpuMs); };
    PrintRatioRow(("VmRSS " + memoryWhen).c_str(), "MiB", column(playedOurs, rss),
                  column(playedMpv, rss), "mpv", "%.1f", std::nullopt);
    PrintRatioRow(("VmHWM " + memoryWhen).c_str(), "MiB", column(playedOurs, hwm),
                  column(playedMpv, hwm), "mpv", "%.1f", std::nullopt);
    PrintRatioRow(("RssAnon " + memoryWhen).c_str(), "MiB", column(playedOurs, anon),
                  column(playedMpv, anon), "mpv", "%.1f", std::nullopt);
    PrintRatioRow(("PSS " + memoryWhen).c_str(), "MiB", column(playedOurs, pss),
                  column(playedMpv, pss), "mpv", "%.1f", std::nullopt);
    PrintRatioRow(("private " + memoryWhen).c_str(), "MiB", column(playedOurs, own),
                  column(playedMpv, own), "mpv", "%.1f", goal(0.85));
    PrintRatioRow(("dirty " + memoryWhen).c_str(), "MiB", column(playedOurs, dirty),
                  column(playedMpv, dirty), "mpv", "%.1f", std::nullopt);
    PrintRatioRow(("CPU " + cpuWhen).c_str(), "ms", column(playedOurs, cpu), column(playedMpv, cpu),
                  "mpv", "%.0f", goal(1.1));

    // Memory must not grow with the episode: an hour against half a minute.
    const std::vector<double> longRss = column(byLength[0], rss);
    const std::vector<double> shortRss = column(byLength[1], rss);
    std::printf("\nVmRSS %s by the episode's length, MiB   median (range)\n", memoryWhen.c_str());
    std::printf("  %-40s %s\n", "60-minute MP3 at 64 kbit/s", Spread(longRss, "%.1f").c_str());
    std::printf("  %-40s %s\n", "30-second MP3 at 64 kbit/s", Spread(shortRss, "%.1f").c_str());
    if (!longRss.empty() && !shortRss.empty()) {
      const double difference = Median(longRss) - Median(shortRss);
      std::printf("  %-40s %.1f  goal <= 3.0  %s\n", "difference", difference,
                  judge ? (difference <= 3.0 ? "met" : "MISSED") : "");
    }

    // Where the resident memory lies: the process's own, the toolkit's libraries, fonts,
    // every other mapped file.
    std::printf("\nVmRSS %s by mapping, median MiB    newsbar      mpv\n", memoryWhen.c_str());
    const std::pair<const char*, long ResidentBreakdown::*> kinds[] = {
        {"own (anonymous, heap, stacks)", &ResidentBreakdown::ownKb},
        {"toolkit libraries (libQt6*, plugins)", &ResidentBreakdown::toolkitKb},
        {"font files", &ResidentBreakdown::fontsKb},
        {"other files (libraries, executable)", &ResidentBreakdown::librariesKb},
    };
    for (const auto& [name, kind] : kinds) {
      // A copy: clang 14 cannot capture a structured binding.
      const auto member = kind;
      auto pick = [member](const Bench::Playing& p) {
        return std::optional((p.breakdown.*member) / 1024.0);
      };
      std::printf("  %-40s %8.1f %8.1f\n", name, Median(column(playedOurs, pick)),
                  Median(column(playedMpv, pick)));
    }
  }
  if (options.launch) {
    std::printf("\nlaunch phases, median ms from the start     newsbar  bare pipeline\n");
    std::printf("  %-40s %7.0f  %13s\n", "window first drawn", Median(phasesOurs[2].values), "-");
    const std::pair<const char*, std::pair<Samples*, Samples*>> phases[] = {
        {"first catalogue POST", {&phasesOurs[0], &phasesBare[0]}},
        {"cover request", {&phasesOurs[1], &phasesBare[1]}},
        {"audio request", {&launchOurs, &launchBare}},
    };
    for (const auto& [name, samples] : phases) {
      std::printf("  %-40s %7.0f  %13.0f\n", name, Median(samples.first->values),
                  Median(samples.second->values));
    }
    const double toCatalogue = Median(phasesOurs[0].values);
    std::printf(
        "goal first catalogue POST <= 60 ms: %.0f ms  %s\n", toCatalogue,
        options.smoke ? "(not judged in a smoke run)" : (toCatalogue <= 60 ? "met" : "MISSED"));
    if (!secondRequests.values.empty()) {
      std::printf("\na launch while another player holds the session, median (range)\n");
      std::printf("  %-40s %s\n", "catalogue and time requests sent",
                  Spread(secondRequests.values, "%.0f").c_str());
      std::printf("  %-40s %s\n", "ended after, ms", Spread(secondEnded.values, "%.0f").c_str());
    }
  }
  if (options.lateness) {
    std::printf(
        "\nwindow's thread: the longest lateness of a 10 ms timer, ms, median (range)  goal\n");
    for (const auto& [situation, name] : situations) {
      const std::vector<double>& values = lateness[situation].values;
      const char* verdict = "";
      if (judge && !values.empty()) verdict = Median(values) <= 100 ? "met" : "MISSED";
      std::printf("  %-40s %-24s <= 100  %s\n", name, Spread(values, "%.0f").c_str(), verdict);
    }
    std::printf("  seeks sent during a drag (the mouse moves every 10 ms): %s\n",
                Spread(bench.DragSeeks(), "%.0f").c_str());
    const char* verdict = "";
    if (judge && !refreshRss.values.empty())
      verdict = Median(refreshRss.values) <= 2 ? "met" : "MISSED";
    std::printf("\nmemory over %d refreshes of 2 x 20, MiB, median (range)  goal\n",
                options.smoke ? 10 : 100);
    std::printf("  %-40s %-24s <= 2  %s\n", "VmRSS growth",
                Spread(refreshRss.values, "%.2f").c_str(), verdict);
    std::printf("  %-40s %-24s\n", "private dirty growth",
                Spread(refreshDirty.values, "%.2f").c_str());
  }
  PrintOutageTable(outages, judge);
  if (!walks.empty()) PrintEpisodeWalks(walks, judge);
  if (loadFigures) PrintLoadTable(*loadFigures, judge);
  std::printf("\nload average at end: %s\n", LoadAverage().c_str());

  failures.insert(failures.end(), bench.Failures().begin(), bench.Failures().end());
  if (loadFigures) {
    for (const char* family : kLoadFamilies) {
      for (int size : kSizes) {
        const std::string name = std::string(family) + "/" + std::to_string(size);
        if (!loadFigures->contains(name)) failures.push_back("no figure for " + name);
      }
    }
  }
  for (const std::string& failure : failures) std::printf("failed: %s\n", failure.c_str());
  return failures.empty() ? 0 : 1;
}

}  // namespace
}  // namespace newsbar::bench

int main(int argc, char** argv) {
  newsbar::bench::Options defaults;
  defaults.player = NEWSBAR_BENCH_PLAYER;
  defaults.loadBench = NEWSBAR_BENCH_LOAD;
  defaults.clip = NEWSBAR_BENCH_CLIP;
  const std::optional<newsbar::bench::Options> options =
      newsbar::bench::ParseOptions(argc, argv, defaults);
  if (!options) {
    newsbar::bench::PrintUsage();
    return 2;
  }
  return newsbar::bench::Run(*options);
}
