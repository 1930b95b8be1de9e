#include "hardening_harness.h"

#include <QCoreApplication>
#include <QEventLoop>

#include "catalogue/catalogue_worker.h"
#include "util/charset.h"

namespace newsbar::test {

Text Gbk(const std::string& utf8) {
  return Utf8ToGbk(utf8);
}

std::string Utf8(const Text& gbk) {
  return GbkToUtf8Text(gbk);
}

FreezeProbe::FreezeProbe() {
  timer_.setInterval(10);
  QObject::connect(&timer_, &QTimer::timeout, this,
                   [this] { longestMs_ = std::max(longestMs_, sinceTick_.restart()); });
  sinceTick_.start();
  timer_.start();
}

void FreezeProbe::Reset() {
  longestMs_ = 0;
  sinceTick_.restart();
}

std::chrono::milliseconds FreezeProbe::Longest() const {
  // A freeze still going on counts too.
  return std::chrono::milliseconds(std::max(longestMs_, sinceTick_.elapsed()));
}

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  QElapsedTimer clock;
  clock.start();
  while (!condition()) {
    if (clock.elapsed() >= timeout.count()) return condition();
    QEventLoop loop;
    QTimer::singleShot(5, &loop, &QEventLoop::quit);
    loop.exec();
  }
  return true;
}

WindowRun::WindowRun(Endpoints endpoints, RunLimits limits)
    : mutex_(std::make_shared<std::mutex>()),
      endpoints_(std::make_shared<Endpoints>(std::move(endpoints))) {
  window_ = std::make_unique<PlayerWindow>(
      [mutex = mutex_, endpoints = endpoints_, limits](const WorkerTargets& targets) {
        Endpoints now;
        {
          std::lock_guard lock(*mutex);
          now = *endpoints;
        }
        now.requestLimit = limits.request;
        CatalogueWorker(now, targets);
      });
  window_->SetCoverLimit(limits.cover);
  window_->Media().SetOpenBound(limits.open);
}

WindowRun::~WindowRun() = default;

void WindowRun::SetEndpoints(Endpoints endpoints) {
  std::lock_guard lock(*mutex_);
  *endpoints_ = std::move(endpoints);
}

void WindowRun::Start() {
  probe_ = std::make_unique<FreezeProbe>();
  sinceStart_.start();
  window_->CreateAndShow();
}

bool WindowRun::ShowsFailure() {
  return !window_->retryButton->isHidden() &&
         window_->statusLabel->Caption() == Gbk("初始化失败，请重试...");
}

bool WindowRun::ShowsPlaying() {
  return window_->listButton->isEnabled() && window_->playPauseButton->isEnabled() &&
         window_->episodeList->RowCount() > 0 &&
         window_->statusLabel->Caption() == window_->episodeList->CellText(0, 0);
}

bool WindowRun::WaitForVerdict(std::chrono::milliseconds timeout) {
  if (!probe_) probe_ = std::make_unique<FreezeProbe>();
  probe_->Reset();
  const bool came = WaitFor(
      [this] {
        if (ShowsFailure() || ShowsPlaying()) return true;
        freezeBeforeVerdict_ = std::max(freezeBeforeVerdict_, probe_->Longest());
        return false;
      },
      timeout);
  timeToVerdict_ = std::chrono::milliseconds(sinceStart_.isValid() ? sinceStart_.elapsed() : 0);
  return came;
}

std::vector<ListedRow> WindowRun::Rows() {
  std::vector<ListedRow> rows;
  ListView& list = *window_->episodeList;
  for (int row = 0; row < list.RowCount(); ++row) {
    ListedRow listed;
    for (int column = 0; column < 5; ++column) listed[column] = Utf8(list.CellText(row, column));
    rows.push_back(listed);
  }
  return rows;
}

std::string WindowRun::StatusText() {
  return Utf8(window_->statusLabel->Caption());
}

Endpoints WithMorningAt(const CatalogueFixture& fixture, int morningPort) {
  Endpoints endpoints = fixture.Endpoints();
  endpoints.httpPort = morningPort;
  return endpoints;
}

void FillFixture(CatalogueFixture& fixture, int count) {
  fixture.SetEpisodes(FixtureProgramme::kMorning,
                      fixture.MakeEpisodes(FixtureProgramme::kMorning, 2020, 7, 20, count));
  fixture.SetEpisodes(FixtureProgramme::kEvening,
                      fixture.MakeEpisodes(FixtureProgramme::kEvening, 2020, 7, 20, count));
  fixture.SetDateHeader("Mon, 20 Jul 2020 12:00:00 GMT");
}

std::vector<std::string> Titles(const std::vector<FixtureEpisode>& episodes) {
  std::vector<std::string> titles;
  for (const FixtureEpisode& episode : episodes) titles.push_back(episode.title);
  return titles;
}

std::vector<std::string> ListedTitles(const std::vector<ListedRow>& rows) {
  std::vector<std::string> titles;
  for (const ListedRow& row : rows) titles.push_back(row[0]);
  return titles;
}

}  // namespace newsbar::test
