// The outage measure of newsbar-bench: the player streams the programme clip, the media
// host cuts the stream partway and then stays away (refusing connections, or taking them
// and answering nothing) for a while before it serves again. What counts: how soon the
// sound is back once the host answers, where it goes on against where it stopped, whether
// the episode was taken for ended, and how late the window's thread ran meanwhile.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "bench_server.h"
#include "figures.h"

namespace newsbar::bench {

struct OutageCase {
  const char* name;
  loopback::OutageKind kind;
  std::chrono::milliseconds length;  // from the moment the sound stopped
  int runs;
};

// One outage as the player lived through it.
struct OutageResult {
  bool endedEarly = false;  // another row started, or the row stopped
  bool stopped = false;     // the sound stopped at all (a quick reconnect hides the cut)
  // From the host's first answer after the outage to the sound; nothing when it never
  // came back (or the player does not say).
  std::optional<double> answerToSoundMs;
  // Where the sound went on less where it stopped, seconds.
  std::optional<double> placeOffSeconds;
  double latenessMs = 0;
};

struct OutageFigures {
  OutageCase outage;
  std::vector<OutageResult> results;
  int failures = 0;  // runs that could not be measured
};

// The five outages: 0 s, 20 s refused, 20 s silent, 90 s refused, 10 min refused (a
// tenth of each and fewer runs in a smoke run). The clip's stream is cut `cut` into it.
std::vector<OutageCase> OutageCases(const Options& options);

// Runs each case against `server` (which must serve kClipName and be started) with the
// player of `options`; what could not be measured goes to `failures`.
std::vector<OutageFigures> MeasureOutages(const Options& options, BenchServer& server,
                                          std::vector<std::string>& failures);

void PrintOutageTable(const std::vector<OutageFigures>& figures, bool judge);

}  // namespace newsbar::bench
