// Helpers of the player-window tests: a loopback media server, generated WAV files and
// covers, fake catalogue workers that list given rows, and waiting on conditions while
// the window's events are handled.
#pragma once

#include <QByteArray>
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/player_window.h"
#include "util/types.h"

namespace httplib {
class Server;
}

namespace newsbar::test {

// Mono 8-bit PCM of a steady tone, `seconds` long (fractions kept to the sample).
std::string MakeWav(double seconds, int sampleRate = 8000);

// A small PNG cover in the given colour.
std::string MakeCover(unsigned rgb);

// Serves named files under /media/<name> on 127.0.0.1 (ephemeral port) and records every
// request with its headers. Unknown names get 404.
class MediaServer {
 public:
  struct Request {
    std::string method;
    std::string path;
    std::multimap<std::string, std::string> headers;  // names lower-cased
  };

  MediaServer();
  ~MediaServer();
  MediaServer(const MediaServer&) = delete;
  MediaServer& operator=(const MediaServer&) = delete;

  void Add(const std::string& name, std::string bytes, std::string contentType);
  // Every answer for that name waits `ms` first.
  void Delay(const std::string& name, int ms);
  std::string Url(const std::string& name) const;
  std::vector<Request> Requests() const;
  // Requests for one name (any method).
  int CountFor(const std::string& name) const;

 private:
  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
  int port_ = 0;
  mutable std::mutex mutex_;
  std::map<std::string, std::pair<std::string, std::string>> files_;
  std::map<std::string, int> delays_;
  std::vector<Request> requests_;
};

// One list row as the catalogue worker would write it.
struct Row {
  std::string titleUtf8;
  std::string audioUrl;
  std::string coverUrl;
  int seconds = 0;  // for the duration text in columns 3 and 4
};

// A worker that does what the catalogue worker does with the window: LoopMode := 1, the
// rows appended, LastRow := count - 1, then "1" into the hand-over box. Each run takes
// the next entry of `runs` (the last one repeats); `started` counts the runs.
PlayerWindow::WorkerRoutine ListingWorker(std::vector<std::vector<Row>> runs,
                                          std::shared_ptr<std::atomic<int>> started = nullptr);

// Handles the window's events until `condition` holds or `timeoutMs` has passed.
bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = 5000);

// Handles events until the row last started has its cover, media and length (the start
// no longer under way).
bool WaitForStart(const PlayerWindow& window, int timeoutMs = 10000);

// Handles the window's events for `ms` (only where the absence of something is checked,
// or where the test holds a button for a while, as a person would).
void HandleEventsFor(int ms);

// GBK <-> UTF-8 for expectations written in the test sources.
Text Gbk(const std::string& utf8);
std::string Utf8(const Text& gbk);

}  // namespace newsbar::test
