// Where the catalogue and the network time come from, and how long the load may wait on
// them. main() uses the build settings and the shipped limits; tests and the demo point
// the same code at loopback servers, and tests shorten the limits so that a fault case
// waits tenths of a second.
#pragma once

#include <chrono>
#include <string>

namespace newsbar {

// The shipped limits of the load: a catalogue POST or the time HEAD without an answer,
// and one statement of a page's script engine.
inline constexpr std::chrono::milliseconds kRequestLimit{15000};
inline constexpr std::chrono::milliseconds kScriptLimit{3000};

struct Endpoints {
  // Host (optionally host:port) serving both programmes, for http and https alike.
  std::string catalogueHost{};
  // URL asked with HEAD for its Date header.
  std::string timeUrl{};
  // Port overrides for the two schemes when catalogueHost carries none (0 = scheme default).
  int httpPort = 0;
  int httpsPort = 0;
  // Each catalogue POST and the time HEAD give up after this long.
  std::chrono::milliseconds requestLimit = kRequestLimit;
  // Each statement run on a page's script engine is interrupted after this long.
  std::chrono::milliseconds scriptLimit = kScriptLimit;
};

// The compiled-in build settings NEWSBAR_CATALOGUE_HOST and NEWSBAR_TIME_URL.
Endpoints BuildEndpoints();

}  // namespace newsbar
