// The benchmark's configuration of the loopback catalogue server: the demo's catalogue
// and covers with every episode pointing at one long programme clip, and the request
// marks a run reads (when the catalogue, a cover or the audio was first asked for).
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue_server/catalogue_server.h"

namespace newsbar::bench {

using Clock = std::chrono::steady_clock;
using BenchFaults = loopback::ServerFaults;

// The name the programme clip is served under (below /media/).
inline constexpr std::string_view kClipName = "programme.mp3";

// The demo's episodes with their audio replaced by the clip: every episode plays the
// same bytes, so the player and the command-line anchor play the very same URL.
loopback::MediaSet BenchMedia(loopback::MediaSet demoMedia, std::string clipBytes, int clipSeconds);

// What the server has seen since the last ResetMarks.
struct RequestMarks {
  int cataloguePosts = 0;
  int timeRequests = 0;   // GET or HEAD of "/"
  int coverRequests = 0;  // pictures under /media/
  int audioRequests = 0;  // clips under /media/
  std::optional<Clock::time_point> firstAudio;
  std::optional<Clock::time_point> firstCatalogue;
  std::optional<Clock::time_point> firstMorning;  // the morning POST (http)
  std::optional<Clock::time_point> firstTime;     // the time HEAD
  std::optional<Clock::time_point> firstEvening;  // the evening POST (https)
  std::optional<Clock::time_point> firstCover;
  std::string lastCoverPath;  // the path of the latest cover request
};

// The benchmark's player (at `player`) pointed at the server's ports, the time asked of a
// host of its own as the shipped build asks it; "--script" added, it talks on stdin and
// stdout.
std::vector<std::string> BenchPlayerCommand(const std::string& player,
                                            const loopback::CatalogueServer& server,
                                            bool script = false);
// What it runs with: no display and no sound device needed (the window draws off screen,
// the media player falls back to its null output).
std::vector<std::string> BenchPlayerEnvironment();

// The marks of a run's recorded requests.
RequestMarks MarksOf(const std::vector<loopback::RecordedRequest>& requests);

class BenchServer : public loopback::CatalogueServer {
 public:
  // With a latency, a far server (loopback::ServerOptions::latency).
  explicit BenchServer(loopback::MediaSet media, std::chrono::milliseconds latency = {});

  // Makes every episode of the catalogue point at one of the files served, with that
  // listed length.
  void SetEpisodeClip(std::string_view name, int seconds);

  // Forgets what has been seen, before a new run.
  void ResetMarks() { ClearRequests(); }
  RequestMarks Marks() const { return MarksOf(Requests()); }
  // The moment of the first audio request since ResetMarks, waiting for it at most
  // `timeout`; nothing when none came.
  std::optional<Clock::time_point> WaitForFirstAudioRequest(std::chrono::milliseconds timeout);
  // Waits at most `timeout` for the marks to satisfy `condition`; whether they did.
  bool WaitForMarks(const std::function<bool(const RequestMarks&)>& condition,
                    std::chrono::milliseconds timeout);
};

}  // namespace newsbar::bench
