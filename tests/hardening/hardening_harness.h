// What the hardening tests share: the real player window running the real catalogue
// worker against chosen endpoints, a probe for how long the window's thread stops
// handling events, and the list read back as rows.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/player_window.h"
#include "catalogue/endpoints.h"
#include "support/catalogue_fixture.h"
#include "util/types.h"

namespace newsbar::test {

using namespace std::chrono_literals;

// GBK <-> UTF-8 for expectations written in these sources.
Text Gbk(const std::string& utf8);
std::string Utf8(const Text& gbk);

// The window's thread ticks a timer every 10 ms; the longest gap between two ticks is
// how long the window was frozen (handled no event at all).
class FreezeProbe : public QObject {
 public:
  FreezeProbe();
  void Reset();
  std::chrono::milliseconds Longest() const;

 private:
  QTimer timer_;
  QElapsedTimer sinceTick_;
  qint64 longestMs_ = 0;
};

// One list row, columns 0..4, as UTF-8 for readable failures.
using ListedRow = std::array<std::string, 5>;

// How long a run's worker and window wait on what is faulty: the catalogue requests and
// the time request, a cover download, the opening of an episode's audio.
struct RunLimits {
  std::chrono::milliseconds request;
  std::chrono::milliseconds cover;
  std::chrono::milliseconds open;
};
// The player's own limits, which the ShippedLimits cases wait out.
inline constexpr RunLimits kShippedLimits{.request = kRequestLimit, .cover = 10s, .open = 10s};
// What the fault cases run with: a fault costs a second or two, while a healthy exchange
// on loopback ends far inside these, also on a busy machine and under a sanitizer.
inline constexpr RunLimits kShortLimits{.request = 1s, .cover = 1s, .open = 2s};

// A PlayerWindow whose worker routine is the real CatalogueWorker, waiting with the given
// limits (whatever the endpoints say). The endpoints can be changed between runs (a retry
// then reaches the new ones).
class WindowRun {
 public:
  explicit WindowRun(Endpoints endpoints, RunLimits limits = kShortLimits);
  ~WindowRun();

  void SetEndpoints(Endpoints endpoints);
  // Creates and shows the window, which starts the worker.
  void Start();
  PlayerWindow& window() { return *window_; }

  // Handles events until the verdict has run (the list played or the failure shown), at
  // most `timeout`; true when it came.
  bool WaitForVerdict(std::chrono::milliseconds timeout);
  // How long that took, and the longest freeze of the window's thread before the verdict
  // ran.
  std::chrono::milliseconds TimeToVerdict() const { return timeToVerdict_; }
  std::chrono::milliseconds FreezeBeforeVerdict() const { return freezeBeforeVerdict_; }
  // The verdict's outcome: the retry button and "初始化失败，请重试...".
  bool ShowsFailure();
  // The controls enabled and the first row's title in the status label.
  bool ShowsPlaying();

  std::vector<ListedRow> Rows();
  std::string StatusText();

 private:
  std::shared_ptr<std::mutex> mutex_;
  std::shared_ptr<Endpoints> endpoints_;
  std::unique_ptr<PlayerWindow> window_;
  std::unique_ptr<FreezeProbe> probe_;
  QElapsedTimer sinceStart_;
  std::chrono::milliseconds timeToVerdict_{0};
  std::chrono::milliseconds freezeBeforeVerdict_{0};
};

// Endpoints that ask the fixture for everything but the morning catalogue (plain http),
// which goes to `morningHostPort` ("127.0.0.1:<port>") instead.
Endpoints WithMorningAt(const CatalogueFixture& fixture, int morningPort);

// A fixture answering both programmes with `count` episodes each, dated from 20 July
// 2020 backwards, and a Date header of that day at 20:00 UTC+8.
void FillFixture(CatalogueFixture& fixture, int count);

// The rows the window should list for the given pages, morning first (alternating as
// long as both last), as UTF-8 titles.
std::vector<std::string> Titles(const std::vector<FixtureEpisode>& episodes);
std::vector<std::string> ListedTitles(const std::vector<ListedRow>& rows);

// Handles events until `condition` holds or `timeout` passes.
bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout);

}  // namespace newsbar::test
