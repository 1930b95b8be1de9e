#include "catalogue/catalogue_worker.h"

#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "catalogue/catalogue_page.h"
#include "catalogue/catalogue_request.h"
#include "catalogue/episode_merge.h"
#include "catalogue/network_time.h"
#include "json/json_document.h"
#include "json/script_control.h"
#include "net/curl_exchange.h"
#include "runtime/controls.h"
#include "util/charset.h"
#include "util/log.h"

namespace newsbar {

static_assert(kScriptLimit == ScriptControl::kTimeLimit, "one shipped script limit");

namespace {

// Loads a programme's reply; true when a page that came with status 200 loaded. A page
// that came but is not JSON is logged here (a failed request was logged by the request
// itself: one line per cause).
bool LoadPage(JsonDocument& document, const Text& text, int selector, bool answered) {
  ScriptError error;
  const bool loaded = document.Load(text, false, &error);
  if (answered && !loaded) {
    NEWSBAR_CATALOGUE_WARNING(
        "%s catalogue: the reply (%zu bytes) is not JSON: %s at line %d, column %d",
        ProgrammeName(selector), text.size(), GbkToUtf8Text(error.Description).c_str(), error.Line,
        error.Column);
  }
  return answered && loaded;
}

// A page that loaded yet lists nothing is a cause of its own.
void WarnIfEmpty(bool loaded, const std::vector<CatalogueEpisode>& page, int selector) {
  if (!loaded || !page.empty()) return;
  NEWSBAR_CATALOGUE_WARNING(
      "%s catalogue: the reply lists no episodes (data.list missing or empty)",
      ProgrammeName(selector));
}

}  // namespace

CatalogueReplies FetchCatalogues(const Endpoints& endpoints) {
  // One multi handle for the process's loads, so that a retry or a refresh finds the
  // connections, the resolved names and the TLS session of the load before it. Loads do
  // not overlap in practice; one that does gets a multi handle of its own rather than
  // waiting. Never destroyed: a load may still be under way as the process ends.
  struct Kept {
    std::mutex mutex;
    net::CurlMulti multi;
  };
  static Kept* const kept = new Kept;
  std::unique_lock lock(kept->mutex, std::try_to_lock);
  std::optional<net::CurlMulti> own;
  net::CurlMulti& multi = lock.owns_lock() ? kept->multi : own.emplace();

  // Issued in the order the servers expect (morning, the time, then evening), none
  // waiting for another's reply; the load waits for all three, each within its limit.
  CatalogueRequest morning(endpoints, kMorningProgramme, multi);
  NetworkTimeRequest time(endpoints.timeUrl, endpoints.requestLimit, multi);
  CatalogueRequest evening(endpoints, kEveningProgramme, multi);
  multi.Run();

  CatalogueReplies replies;
  replies.morning = morning.Finish(&replies.morningStatus);
  replies.time = FromDateTime(time.Finish());
  replies.evening = evening.Finish(&replies.eveningStatus);
  return replies;
}

void CatalogueWorker(const Endpoints& endpoints, const WorkerTargets& targets) {
  CatalogueWorker(
      endpoints, [&endpoints] { return FetchCatalogues(endpoints); }, targets);
}

LoadedCatalogue LoadCatalogue(std::chrono::milliseconds scriptLimit,
                              const std::function<CatalogueReplies()>& fetch) {
  // One document (and script engine) per programme, made on this thread.
  const auto engine = [scriptLimit] { return ScriptControl::Create(scriptLimit); };
  JsonDocument morningDocument("da", engine);
  JsonDocument eveningDocument("da", engine);

  const CatalogueReplies replies = fetch();
  const bool morningLoaded =
      LoadPage(morningDocument, replies.morning, kMorningProgramme, replies.morningStatus == 200);
  const bool eveningLoaded =
      LoadPage(eveningDocument, replies.evening, kEveningProgramme, replies.eveningStatus == 200);

  const CalendarTime& time = replies.time;
  const NetworkNow now{.year = time.year, .month = time.month, .day = time.day, .hour = time.hour};
  const std::vector<CatalogueEpisode> morning = ReadPage(morningDocument);
  const std::vector<CatalogueEpisode> evening = ReadPage(eveningDocument);
  WarnIfEmpty(morningLoaded, morning, kMorningProgramme);
  WarnIfEmpty(eveningLoaded, evening, kEveningProgramme);
  LoadedCatalogue loaded{.rows = MergeEpisodes(morning, evening, now), .time = time};
  qCDebug(lcCatalogue, "merge: %zu morning and %zu evening episodes, %zu of them due and listed",
          morning.size(), evening.size(), loaded.rows.size());
  if (loaded.rows.empty() && !(morning.empty() && evening.empty())) {
    NEWSBAR_CATALOGUE_WARNING(
        "none of the %zu episodes is due by the network time %04d-%02d-%02d %02d:00 at UTC+8",
        morning.size() + evening.size(), now.year, now.month, now.day, now.hour);
  }
  return loaded;
}

void CatalogueWorker(const Endpoints& endpoints, const std::function<CatalogueReplies()>& fetch,
                     const WorkerTargets& targets) {
  if (targets.loopMode != nullptr) targets.loopMode->store(1);
  const LoadedCatalogue loaded = LoadCatalogue(endpoints.scriptLimit, fetch);

  int lastRow = -1;
  if (targets.list != nullptr) {
    for (const EpisodeRow& row : loaded.rows) {
      const int index = targets.list->AppendRow();
      for (int column = 0; column < static_cast<int>(row.size()); ++column) {
        targets.list->SetCellText(index, column, row[column]);
      }
    }
    lastRow = targets.list->RowCount() - 1;
  }
  if (targets.networkTime != nullptr) *targets.networkTime = loaded.time;
  // LastRow first: the window reads it when the signal arrives.
  if (targets.lastRow != nullptr) targets.lastRow->store(lastRow);
  if (targets.doneBox != nullptr) targets.doneBox->SetContent("1");
  // Returning ends the thread; its handle then reports it as ended.
}

CatalogueHeadStart::CatalogueHeadStart(Endpoints endpoints, std::function<bool()> mayStart)
    : endpoints_(std::move(endpoints)) {
  try {
    first_ =
        std::async(std::launch::async,
                   [this, mayStart = std::move(mayStart)]() -> std::optional<CatalogueReplies> {
                     if (mayStart && !mayStart()) return std::nullopt;
                     return FetchCatalogues(endpoints_);
                   });
  } catch (const std::system_error& error) {
    // No thread to spare: the worker sends the requests itself.
    qCWarning(lcCatalogue, "the catalogue requests wait for the window: %s", error.what());
  }
}

CatalogueReplies CatalogueHeadStart::TakeReplies() {
  if (!taken_.exchange(true) && first_.valid()) {
    if (std::optional<CatalogueReplies> replies = first_.get()) return std::move(*replies);
  }
  return FetchCatalogues(endpoints_);
}

std::function<void(const WorkerTargets&)> CatalogueHeadStart::Worker() {
  return [this](const WorkerTargets& targets) {
    CatalogueWorker(
        endpoints_, [this] { return TakeReplies(); }, targets);
  };
}

}  // namespace newsbar
