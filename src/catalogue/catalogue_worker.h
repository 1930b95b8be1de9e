// The background load: both programmes' first pages, the network time, the merge and
// the date filter, the rows of the episode list, then the hand-over to the window.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <optional>
#include <vector>

#include "catalogue/date_time.h"
#include "catalogue/endpoints.h"
#include "catalogue/episode_merge.h"
#include "util/types.h"

namespace newsbar {

class ListView;
class EditBox;

// What the worker writes. The window owns all four; they must outlive the worker.
struct WorkerTargets {
  // The episode list; rows are appended through its thread-safe calls.
  ListView* list = nullptr;
  // The hidden hand-over box; the worker writes "1" there as its last act.
  EditBox* doneBox = nullptr;
  // Row count - 1 after the load (-1 when nothing was listed); stored before the signal.
  std::atomic<int>* lastRow = nullptr;
  // Reset to 1 (in order) when the worker starts.
  std::atomic<int>* loopMode = nullptr;
  // The network time the load judged by; written before the signal.
  CalendarTime* networkTime = nullptr;
};

// What the load's three requests brought back.
struct CatalogueReplies {
  Text morning;
  int morningStatus = 0;  // HTTP status, 0 without a response
  Text evening;
  int eveningStatus = 0;
  CalendarTime time;  // the network time at UTC+8 (the year 100 when it failed)
};

// The three requests, in the order the servers expect: morning, the time, then evening.
// Touches nothing of the window, so it may run before the window exists.
CatalogueReplies FetchCatalogues(const Endpoints& endpoints);

// Thread routine: runs the whole load once and returns (which ends the thread). Null
// targets are skipped. Writes "1" into doneBox on every run, with or without episodes.
void CatalogueWorker(const Endpoints& endpoints, const WorkerTargets& targets);

// What a load found: the rows to list (merged and filtered) and the network time they were
// judged by.
struct LoadedCatalogue {
  std::vector<EpisodeRow> rows;
  CalendarTime time;
};

// The load without the window: makes the two documents (engines bounded by
// `scriptLimit`), takes the replies from `fetch`, reads, merges and filters. What went
// wrong is logged (NEWSBAR_CATALOGUE_WARNING), one line per cause.
LoadedCatalogue LoadCatalogue(std::chrono::milliseconds scriptLimit,
                              const std::function<CatalogueReplies()>& fetch);

// The same with the replies coming from `fetch`, which may wait for requests already
// sent elsewhere (`endpoints` then gives only the script engines' time limit). The
// engines are made before `fetch` is called, so that making them overlaps with requests
// that are under way.
void CatalogueWorker(const Endpoints& endpoints, const std::function<CatalogueReplies()>& fetch,
                     const WorkerTargets& targets);

// The first load's requests, sent on a thread of their own from the moment this is made,
// typically as the process starts, while the toolkit and the window are still being set
// up. The window's worker then makes its script engines and takes the replies. Only the
// first run of Worker() takes them; a retry sends its own requests.
class CatalogueHeadStart {
 public:
  // `mayStart`, when given, is asked first on that thread: false sends nothing (a launch
  // that is about to end), and the worker then sends the requests itself if it runs.
  explicit CatalogueHeadStart(Endpoints endpoints, std::function<bool()> mayStart = {});
  // Waits for the requests, if they are still under way (each has its own time bound):
  // the future of std::async does so as it goes.
  ~CatalogueHeadStart() = default;
  CatalogueHeadStart(const CatalogueHeadStart&) = delete;
  CatalogueHeadStart& operator=(const CatalogueHeadStart&) = delete;

  // The worker routine for the window; it refers to this object, which must outlive it.
  std::function<void(const WorkerTargets&)> Worker();

 private:
  CatalogueReplies TakeReplies();

  const Endpoints endpoints_;
  std::future<std::optional<CatalogueReplies>> first_;
  std::atomic<bool> taken_{false};
};

}  // namespace newsbar
