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
#include "catalogue_server/catalogue_server.h"
#include "util/types.h"

namespace newsbar::test {

// Mono 8-bit PCM of a steady tone, `seconds` long (fractions kept to the sample).
std::string MakeWav(double seconds, int sampleRate = 8000);

// A small PNG cover in the given colour.
std::string MakeCover(unsigned rgb);

// The loopback catalogue server's media host as the window tests use it: named files
// under /media/<name> (unknown names get 404), every request recorded with its headers.
class MediaServer : public loopback::CatalogueServer {
 public:
  MediaServer();  // started, or the test fails

  void Add(const std::string& name, std::string bytes, std::string contentType) {
    AddFile(name, std::move(bytes), std::move(contentType));
  }
  // Every answer for that name (added before) waits `ms` first.
  void Delay(const std::string& name, int ms) { SetFileDelay(name, std::chrono::milliseconds(ms)); }
  std::string Url(const std::string& name) const { return MediaUrl(name); }
  // Requests for one name (any method).
  int CountFor(const std::string& name) const;
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
