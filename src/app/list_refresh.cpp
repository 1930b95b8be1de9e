// Keeping the list current while the bar stays open: the refresh schedule, taking a
// refresh's rows in without moving what is there, and retrying a failed start by itself.
#include <algorithm>
#include <cmath>
#include <string>

#include "app/player_state.h"
#include "app/player_window.h"
#include "catalogue/date_time.h"
#include "util/log.h"
#include "util/threads.h"

namespace newsbar {

namespace {

using std::chrono::system_clock;

constexpr int kFirstYear = 100;  // the network time's year when it could not be read
constexpr double kSecondsPerDay = 86400.0;

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += (text.empty() ? "" : "; ") + line;
  return text.empty() ? std::string("no cause given") : text;
}

}  // namespace

void PlayerWindow::KeepListCurrent(const Endpoints& endpoints, RefreshTiming timing) {
  timing_ = std::move(timing);
  nextRetry_ = timing_.firstRetry;
  refresh_ = std::make_unique<CatalogueRefresh>(
      endpoints, [this](RefreshResult result) { OnRefreshed(std::move(result)); });
  // Checks the wall clock rather than trusting an interval: the timer's clock stands
  // still while the machine sleeps, the wall clock does not.
  scheduleTimer_.setTimerType(Qt::VeryCoarseTimer);
  connect(&scheduleTimer_, &QTimer::timeout, this, &PlayerWindow::OnScheduleCheck,
          Qt::UniqueConnection);
  retryTimer_.setSingleShot(true);
  connect(&retryTimer_, &QTimer::timeout, this, &PlayerWindow::OnRetryDue, Qt::UniqueConnection);
  if (listLoaded_) {
    OnListLoaded();
  } else if (!retryButton->isHidden()) {
    ArmRetry();
  }
}

system_clock::time_point PlayerWindow::WallNow() const {
  return timing_.wallClock ? timing_.wallClock() : system_clock::now();
}

void PlayerWindow::OnListLoaded() {
  listLoaded_ = true;
  if (!refresh_) return;
  retryTimer_.stop();
  nextRetry_ = timing_.firstRetry;
  const system_clock::time_point now = WallNow();
  nextPeriodic_ = now + timing_.period;
  AnchorNetworkTime(loadTime_, now);
  scheduleTimer_.start(timing_.check);
  WatchNetwork();
}

void PlayerWindow::AnchorNetworkTime(const CalendarTime& time, system_clock::time_point wall) {
  if (time.year <= kFirstYear) return;  // no network time: the periodic refresh brings one
  const DateTime now = ToDateTime(time);
  DateTime morning = std::floor(now) + 5.0 / 24.0;
  if (morning <= now) morning += 1.0;
  const std::chrono::duration<double> ahead((morning - now) * kSecondsPerDay);
  nextMorning_ = wall + std::chrono::duration_cast<system_clock::duration>(ahead);
}

void PlayerWindow::OnScheduleCheck() {
  if (!listLoaded_ || !refresh_) return;
  const system_clock::time_point now = WallNow();
  if (now >= nextPeriodic_ || (nextMorning_ && now >= *nextMorning_)) StartRefresh();
}

void PlayerWindow::RefreshNow() {
  if (!refresh_) return;
  if (listLoaded_) {
    StartRefresh();
  } else {
    OnRetryDue();
  }
}

void PlayerWindow::StartRefresh() {
  // One under way is not interrupted; it brings the news as well.
  if (!refresh_->Start()) return;
  const system_clock::time_point now = WallNow();
  nextPeriodic_ = now + timing_.period;
  // The morning's refresh is taken, also when it fails; the network time it brings sets
  // the next one.
  if (nextMorning_ && now >= *nextMorning_) *nextMorning_ += std::chrono::hours(24);
}

void PlayerWindow::OnRefreshed(RefreshResult result) {
  if (result.loaded.rows.empty()) {
    // Nothing on screen changes; the schedule tries again.
    qCWarning(lcCatalogue, "catalogue refresh failed, the list stays as it is: %s",
              Joined(result.problems).c_str());
    emit refreshed(false);
    return;
  }
  if (!result.problems.empty()) {
    qCWarning(lcCatalogue, "catalogue refresh, in part: %s", Joined(result.problems).c_str());
  }
  AnchorNetworkTime(result.loaded.time, WallNow());
  InsertNewRows(result.loaded.rows);
  emit refreshed(true);
}

// Only rows go in: the media, the title, the slider and the selection stay as they are.
void PlayerWindow::InsertNewRows(const std::vector<EpisodeRow>& fresh) {
  std::vector<Text> listed;
  const int count = episodeList->RowCount();
  listed.reserve(static_cast<std::size_t>(count));
  for (int row = 0; row < count; ++row) listed.push_back(episodeList->CellText(row, kAudioColumn));
  for (const RowInsertion& insertion : PlanInsertions(listed, fresh)) {
    const int at = episodeList->InsertRow(insertion.at);
    for (int column = 0; column < static_cast<int>(insertion.row.size()); ++column) {
      episodeList->SetCellText(at, column, insertion.row[static_cast<std::size_t>(column)]);
    }
    // The row that plays (or played last) moves down with the rows above it.
    if (at <= CurrentRow) ++CurrentRow;
    ++rowsAdded_;
  }
  LastRow = episodeList->RowCount() - 1;
}

void PlayerWindow::ArmRetry() {
  if (!refresh_ || listLoaded_ || retryTimer_.isActive()) return;
  WatchNetwork();
  retryTimer_.start(nextRetry_);
  nextRetry_ = std::min(nextRetry_ * 2, timing_.longestRetry);
}

// The retry button's flow, as if it had been clicked, unless it is out of reach (a load
// or a retry under way, or the list loaded).
void PlayerWindow::OnRetryDue() {
  if (listLoaded_ || retryButton->isHidden() || ThreadRunState(WorkerThread) == 1) return;
  OnRetryClicked();
}

// Only after the first verdict: loading the backend (a plugin, and with NetworkManager's a
// few calls on the system bus) waits for nothing the start needs.
void PlayerWindow::WatchNetwork() {
  if (watchingNetwork_) return;
  watchingNetwork_ = true;
  const auto start = std::chrono::steady_clock::now();
  if (QNetworkInformation::instance() == nullptr &&
      !QNetworkInformation::loadBackendByFeatures(QNetworkInformation::Feature::Reachability)) {
    qCDebug(lcCatalogue, "no network information backend: refreshes keep to the schedule");
    return;
  }
  QNetworkInformation* information = QNetworkInformation::instance();
  reachability_ = information->reachability();
  qCDebug(
      lcCatalogue, "network information from the %s backend, loaded in %.1f ms",
      qUtf8Printable(information->backendName()),
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
  connect(information, &QNetworkInformation::reachabilityChanged, this,
          &PlayerWindow::OnReachabilityChanged, Qt::UniqueConnection);
}

void PlayerWindow::OnReachabilityChanged(QNetworkInformation::Reachability reachability) {
  using Reachability = QNetworkInformation::Reachability;
  const Reachability before = std::exchange(reachability_, reachability);
  // Back online after a loss; the backend's first answer (from Unknown) is no news.
  if (reachability != Reachability::Online || before == Reachability::Online ||
      before == Reachability::Unknown) {
    return;
  }
  qCDebug(lcCatalogue, "the network is back");
  // Not from inside the backend's signal: the retry's flow handles events while it waits.
  QTimer::singleShot(0, this, &PlayerWindow::RefreshNow);
}

}  // namespace newsbar
