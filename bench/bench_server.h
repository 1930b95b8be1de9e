// The benchmark's catalogue server: the demo's catalogue, covers and network time on
// 127.0.0.1 over http and https, with every episode pointing at one long programme clip,
// and a clock on the requests so that a run can tell when the audio was first asked for.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "catalogue/endpoints.h"
#include "demo/catalogue_server.h"

namespace newsbar::bench {

using Clock = std::chrono::steady_clock;

// The name the programme clip is served under (below /media/).
inline constexpr std::string_view kClipName = "programme.mp3";

// The demo's episodes with their audio replaced by the clip: every episode plays the
// same bytes, so the player and the command-line anchor play the very same URL.
demo::DemoMedia BenchMedia(demo::DemoMedia demoMedia, std::string clipBytes, int clipSeconds);

// What the server has seen since the last ResetMarks.
struct RequestMarks {
  int cataloguePosts = 0;
  int timeRequests = 0;   // GET or HEAD of "/"
  int coverRequests = 0;  // pictures under /media/
  int audioRequests = 0;  // clips under /media/
  std::optional<Clock::time_point> firstAudio;
  std::optional<Clock::time_point> firstCatalogue;
  std::optional<Clock::time_point> firstCover;
  std::string lastCoverPath;  // the path of the latest cover request
};

// Faults the server can be switched into at any time, for the responsiveness measures
// and the tests that close the player in each phase.
struct BenchFaults {
  bool emptyCatalogue = false;  // both programmes answer with an empty list
  bool stallCatalogue = false;  // catalogue requests are never answered (until Stop)
  bool stallCovers = false;     // cover requests are never answered
  bool stallAudio = false;      // audio requests are never answered
  // Every audio request that asks for a byte range waits this long before its answer.
  std::chrono::milliseconds rangeDelay{0};
};

class BenchServer {
 public:
  explicit BenchServer(demo::DemoMedia media);
  ~BenchServer();
  BenchServer(const BenchServer&) = delete;
  BenchServer& operator=(const BenchServer&) = delete;

  // Makes a certificate and starts both listeners on ephemeral ports; false on failure.
  bool Start();
  void Stop();

  int HttpPort() const;
  int HttpsPort() const;
  // The catalogue on 127.0.0.1 with both ports, the time from this server's root.
  Endpoints PlayerEndpoints() const;
  // http://127.0.0.1:<port>/media/<name>
  std::string MediaUrl(std::string_view name) const;

  void SetFaults(const BenchFaults& faults);
  // Serves a file of its own (below /media/), and makes every episode of the catalogue
  // point at one of the files served, with that listed length.
  void AddFile(std::string name, std::string bytes);
  void SetEpisodeClip(std::string_view name, int seconds);

  // Forgets what has been seen, before a new run.
  void ResetMarks();
  RequestMarks Marks() const;
  // The moment of the first audio request since ResetMarks, waiting for it at most
  // `timeout`; nothing when none came.
  std::optional<Clock::time_point> WaitForFirstAudioRequest(std::chrono::milliseconds timeout);
  // Waits at most `timeout` for the marks to satisfy `condition`; whether they did.
  bool WaitForMarks(const std::function<bool(const RequestMarks&)>& condition,
                    std::chrono::milliseconds timeout);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace newsbar::bench
