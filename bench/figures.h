// The runner's command line and the figures it reads back from the load benchmark.
#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace newsbar::bench {

struct Options {
  int runs = 5;
  bool smoke = false;
  std::chrono::seconds memoryAfter{10};
  std::chrono::seconds cpuOver{30};
  bool launch = true;
  bool play = true;
  bool load = true;
  // How late the window's thread handles a 10 ms timer, in five situations.
  bool lateness = true;
  // The stream cut partway and the media host away for a while (outage.h).
  bool outage = true;
  // Resident memory over 200 episode changes.
  bool episodes = true;
  // Only serve the catalogue (for profiling a player by hand) until stdin closes.
  bool serve = false;
  // While serving: audio requests are never answered.
  bool stallAudio = false;
  std::string player;
  std::string loadBench;
  std::string clip;
  std::string mpv = "mpv";
  std::string curl = "curl";
  // --latency=0,50,100: instead of the rest, each launch's requests and a refresh against
  // a far server at each of these latencies (ms each way).
  std::vector<int> latencies;
};

// --runs=N (1..100), --smoke, --serve, --stall-audio,
// --only=<launch,play,load,lateness,outage,episodes>, --player=, --load-bench=, --clip=,
// --mpv=, --curl=, --latency=<ms,...> over `defaults`; nothing for anything else. A smoke
// run is one run with windows of 1 s (memory) and 2 s (CPU).
std::optional<Options> ParseOptions(int argc, const char* const* argv, Options defaults);

struct LoadFigure {
  double ms = 0;    // wall-clock time of one iteration
  double rows = 0;  // the benchmark's "rows" counter
};

// Google Benchmark's JSON output -> "CatalogueLoad/20" etc. (the "/real_time" suffix
// dropped): the median when repetitions were aggregated, else the first run; runs that
// failed and runs in another unit than ms are left out.
std::map<std::string, LoadFigure> ReadLoadFigures(std::string_view json);

}  // namespace newsbar::bench
