#include "outage.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string_view>
#include <thread>
#include <utility>

#include "process.h"

namespace newsbar::bench {
namespace {

using namespace std::chrono_literals;
using loopback::OutageKind;
using Milliseconds = std::chrono::duration<double, std::milli>;

// The clip is 64 kbit/s: 8000 bytes a second.
constexpr int kClipBytesPerSecond = 8000;
// Where the stream breaks off: a quarter of a minute into the episode (6 s in a smoke run,
// past the 32 KiB the library reads as it opens the stream).
constexpr auto kCut = 15s;
constexpr auto kSmokeCut = 6s;
// Until the cut the clip goes out at four times its rate, as over a link of 256 kbit/s:
// the cut then comes a few seconds in, after the media has opened.
constexpr std::size_t kPace = 4 * kClipBytesPerSecond;
// How long the sound may take to come back once the host answers before the run counts
// as failed: longer than the player's longest pause between tries and an open's bound.
constexpr auto kBackBound = 75s;
// How long the episode is watched once the sound is back, for a late end.
constexpr auto kAfterwards = 4s;

// What the player says on its own ("waiting", "sound") as it comes, with the moment.
class PlayerLines {
 public:
  explicit PlayerLines(ChildProcess& player) : player_(player) {}

  // Reads what the player says until `until`; false once it is gone.
  bool ListenUntil(Clock::time_point until) {
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
      if (left <= 0ms) return player_.Running();
      const std::optional<std::string> line = player_.Hear("", left);
      if (!line) return player_.Running();
      Note(*line, Clock::now());
      if (stop_ && stop_()) return true;
    }
  }
  // ListenUntil stops early once `stop` holds (checked after each line).
  void StopWhen(std::function<bool()> stop) { stop_ = std::move(stop); }

  // The sound's first stop after it had started, and its return after that.
  std::optional<Clock::time_point> stoppedAt, backAt;
  std::optional<int> stoppedMs, backMs;
  std::optional<std::string> answer;  // the latest line that answered a command

 private:
  void Note(const std::string& line, Clock::time_point at) {
    if (line.starts_with("sound ")) {
      const bool playing = line.size() > 6 && line[6] == '1';
      const int ms = std::atoi(line.c_str() + std::min<std::size_t>(line.size(), 8));
      if (playing) {
        started_ = true;
        if (stoppedAt && !backAt) {
          backAt = at;
          backMs = ms;
        }
      } else if (started_ && !stoppedAt) {
        stoppedAt = at;
        stoppedMs = ms;
      }
    } else if (line.starts_with("where ") || line.starts_with("lateness ")) {
      answer = line;
    }
  }

  ChildProcess& player_;
  std::function<bool()> stop_;
  bool started_ = false;
};

std::string Format(double value, const char* format) {
  char text[32];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

// The numbers after the first word of a line such as "where 0 15230 1".
std::vector<long> NumbersOf(std::string_view line) {
  std::vector<long> numbers;
  std::size_t at = line.find(' ');
  while (at != std::string_view::npos && at + 1 < line.size()) {
    long value = 0;
    const char* begin = line.data() + at + 1;
    const auto [rest, error] = std::from_chars(begin, line.data() + line.size(), value);
    if (error != std::errc()) break;
    numbers.push_back(value);
    at = line.find(' ', static_cast<std::size_t>(rest - line.data()));
  }
  return numbers;
}

class OutageRunner {
 public:
  OutageRunner(const Options& options, BenchServer& server, std::vector<std::string>& failures)
      : options_(options), server_(server), failures_(failures) {}

  // Every episode gets a clip of its own (the same bytes under its own name), so that a
  // row started in the episode's place shows on the wire; the first row's name is learnt
  // from a launch.
  bool Prepare() {
    const std::optional<std::string> clip = ReadWholeFile(options_.clip);
    if (!clip) return Failed("the programme clip cannot be read");
    listed_ = server_.Episodes();
    std::vector<loopback::Episode> episodes = listed_;
    for (std::size_t i = 0; i < episodes.size(); ++i) {
      episodes[i].audioFile = "outage-" + std::to_string(i) + ".mp3";
      server_.AddFile(episodes[i].audioFile, *clip);
    }
    server_.SetEpisodes(std::move(episodes));
    server_.ResetMarks();
    ChildProcess player = ChildProcess::SpawnTalking(
        BenchPlayerCommand(options_.player, server_, /*script=*/true), BenchPlayerEnvironment());
    if (!player.Started()) return Failed("the player did not start: " + options_.player);
    if (!server_.WaitForFirstAudioRequest(30s)) return Failed("the player never asked for audio");
    player.End();
    for (const auto& request : server_.Requests()) {
      if (loopback::IsAudioName(request.path)) {
        firstRowPath_ = request.path;
        break;
      }
    }
    return !firstRowPath_.empty();
  }

  void Restore() {
    server_.SetMediaOutage({});
    server_.SetEpisodes(listed_);
  }

  std::optional<OutageResult> Run(const OutageCase& outage) {
    const auto cut = options_.smoke ? kSmokeCut : kCut;
    const std::string name = firstRowPath_.substr(firstRowPath_.rfind('/') + 1);
    server_.SetMediaOutage({.name = name,
                            .cutAt = static_cast<std::size_t>(cut.count() * kClipBytesPerSecond),
                            .kind = outage.kind,
                            .length = {},
                            .pace = kPace});
    // However the run ends, the host serves again before the next one.
    struct OutageEnd {
      BenchServer& server;
      ~OutageEnd() { server.EndMediaOutage(); }
    } outageEnd{server_};
    server_.ResetMarks();
    ChildProcess player = ChildProcess::SpawnTalking(
        BenchPlayerCommand(options_.player, server_, /*script=*/true), BenchPlayerEnvironment());
    if (!player.Started()) return Fail("the player did not start: " + options_.player);
    const std::optional<Clock::time_point> first = server_.WaitForFirstAudioRequest(30s);
    if (!first) return Fail("the player never asked for its audio");
    PlayerLines lines(player);
    OutageResult result;
    lines.StopWhen([&] { return lines.stoppedAt.has_value() || AnotherRowAsked(); });

    // Until the sound stops at the cut (a player that does not say so shows it by starting
    // another row), or plays on past it.
    const Clock::time_point pastTheCut =
        *first + cut + (outage.kind == OutageKind::kNone ? 5s : 30s);
    lines.ListenUntil(pastTheCut);
    result.stopped = lines.stoppedAt.has_value();
    if (AnotherRowAsked()) result.endedEarly = true;
    if (outage.kind != OutageKind::kNone && !result.stopped && !result.endedEarly)
      return Fail(std::string(outage.name) + ": the sound never stopped at the cut");

    if (outage.kind != OutageKind::kNone) {
      const Clock::time_point stopped =
          lines.stoppedAt.value_or(FirstOtherRowRequest().value_or(Clock::now()));
      lines.StopWhen(nullptr);
      lines.ListenUntil(stopped + outage.length);
      server_.EndMediaOutage();
      const Clock::time_point ended = server_.OutageEnded().value_or(Clock::now());
      lines.StopWhen([&] { return lines.backAt.has_value() || AnotherRowAsked(); });
      if (!result.endedEarly) lines.ListenUntil(ended + kBackBound);
      if (lines.backAt) {
        const Clock::time_point answered = server_.FirstAnswerAfterOutage().value_or(ended);
        result.answerToSoundMs = std::max(0.0, Milliseconds(*lines.backAt - answered).count());
        if (lines.stoppedMs && lines.backMs)
          result.placeOffSeconds = (*lines.backMs - *lines.stoppedMs) / 1000.0;
      }
    } else if (result.stopped) {
      // The library's own reconnect: the sound may have dropped for a moment.
      lines.StopWhen([&] { return lines.backAt.has_value(); });
      lines.ListenUntil(Clock::now() + kBackBound);
      if (lines.backAt && lines.stoppedAt) {
        result.answerToSoundMs = Milliseconds(*lines.backAt - *lines.stoppedAt).count();
        if (lines.stoppedMs && lines.backMs)
          result.placeOffSeconds = (*lines.backMs - *lines.stoppedMs) / 1000.0;
      }
    } else {
      result.placeOffSeconds = 0;
    }

    // The episode goes on in its row: nothing else asked for, the place moving on.
    lines.StopWhen(nullptr);
    lines.ListenUntil(Clock::now() + kAfterwards);
    if (AnotherRowAsked()) result.endedEarly = true;
    if (const auto where = Ask(player, lines, "where")) {
      const std::vector<long> numbers = NumbersOf(*where);
      if (numbers.size() >= 2 && (numbers[0] != 0 || numbers[1] < cut.count() * 1000))
        result.endedEarly = true;
    }
    if (const auto lateness = Ask(player, lines, "lateness")) {
      const std::vector<long> numbers = NumbersOf(*lateness);
      if (!numbers.empty()) result.latenessMs = static_cast<double>(numbers[0]);
    }
    if (!result.answerToSoundMs && !result.endedEarly && outage.kind != OutageKind::kNone)
      return Fail(std::string(outage.name) + ": the sound did not come back, nor did the row end");
    player.End();
    return result;
  }

 private:
  // A command's answer; nothing from a player that does not know the command.
  static std::optional<std::string> Ask(ChildProcess& player, PlayerLines& lines,
                                        const std::string& command) {
    lines.answer.reset();
    if (!player.Say(command)) return std::nullopt;
    lines.StopWhen([&] { return lines.answer.has_value(); });
    lines.ListenUntil(Clock::now() + 2s);
    lines.StopWhen(nullptr);
    return lines.answer;
  }

  std::optional<Clock::time_point> FirstOtherRowRequest() const {
    for (const auto& request : server_.Requests()) {
      if (loopback::IsAudioName(request.path) && request.path != firstRowPath_)
        return request.arrived;
    }
    return std::nullopt;
  }
  bool AnotherRowAsked() const { return FirstOtherRowRequest().has_value(); }

  bool Failed(const std::string& why) {
    failures_.push_back("outage: " + why);
    return false;
  }
  std::nullopt_t Fail(const std::string& why) {
    Failed(why);
    return std::nullopt;
  }

  const Options& options_;
  BenchServer& server_;
  std::vector<std::string>& failures_;
  std::vector<loopback::Episode> listed_;
  std::string firstRowPath_;
};

}  // namespace

std::vector<OutageCase> OutageCases(const Options& options) {
  if (options.smoke) {
    return {{"0 s", OutageKind::kNone, 0ms, 1},
            {"2 s refused", OutageKind::kRefuse, 2s, 1},
            {"2 s silent", OutageKind::kSilent, 2s, 1}};
  }
  // The long ones take their whole length each time: fewer runs of them.
  const int runs = std::min(options.runs, 3);
  return {{"0 s", OutageKind::kNone, 0ms, runs},
          {"20 s refused", OutageKind::kRefuse, 20s, runs},
          {"20 s silent", OutageKind::kSilent, 20s, runs},
          {"90 s refused", OutageKind::kRefuse, 90s, std::min(runs, 2)},
          {"10 min refused", OutageKind::kRefuse, 600s, 1}};
}

std::vector<OutageFigures> MeasureOutages(const Options& options, BenchServer& server,
                                          std::vector<std::string>& failures) {
  OutageRunner runner(options, server, failures);
  std::vector<OutageFigures> figures;
  if (!runner.Prepare()) {
    runner.Restore();
    return figures;
  }
  for (const OutageCase& outage : OutageCases(options)) {
    OutageFigures figure{.outage = outage, .results = {}};
    for (int run = 0; run < outage.runs; ++run) {
      if (auto result = runner.Run(outage)) {
        figure.results.push_back(*result);
      } else {
        ++figure.failures;
      }
    }
    figures.push_back(std::move(figure));
  }
  runner.Restore();
  return figures;
}

void PrintOutageTable(const std::vector<OutageFigures>& figures, bool judge) {
  if (figures.empty()) return;
  std::printf(
      "\nback after an outage (cut %d s in; the outage counted from the sound's stop), median\n",
      judge ? static_cast<int>(kCut.count()) : static_cast<int>(kSmokeCut.count()));
  std::printf("  %-16s %5s %22s %22s %12s %14s\n", "outage", "runs", "answer -> sound, ms",
              "place, s from stop", "ended early", "lateness, ms");
  bool met = true;
  for (const OutageFigures& figure : figures) {
    std::vector<double> back, place, lateness;
    int early = 0;
    int silent = 0;  // the sound never stopped
    for (const OutageResult& result : figure.results) {
      if (result.answerToSoundMs) back.push_back(*result.answerToSoundMs);
      if (result.placeOffSeconds) place.push_back(*result.placeOffSeconds);
      lateness.push_back(result.latenessMs);
      if (result.endedEarly) ++early;
      if (!result.stopped && !result.endedEarly) ++silent;
    }
    std::string backText = back.empty() ? "-" : Format(Median(back), "%.0f");
    if (back.empty() && silent > 0) backText = "no break";
    const std::string placeText = place.empty() ? "-" : Format(Median(place), "%+.2f");
    std::printf("  %-16s %5zu %22s %22s %12d %14s%s\n", figure.outage.name, figure.results.size(),
                backText.c_str(), placeText.c_str(), early,
                lateness.empty() ? "-" : Format(Median(lateness), "%.0f").c_str(),
                figure.failures ? "  (runs failed)" : "");
    if (early > 0 || figure.failures > 0) met = false;
    if (!back.empty() && Median(back) > 2000) met = false;
    if (!place.empty() && std::abs(Median(place)) > 1.0) met = false;
    if (!lateness.empty() && Median(lateness) > 100) met = false;
  }
  std::printf(
      "goal: sound <= 2000 ms after the answer, within 1 s of its stop, 0 ended early, "
      "lateness <= 100 ms: %s\n",
      judge ? (met ? "met" : "MISSED") : "(not judged in a smoke run)");
}

}  // namespace newsbar::bench
