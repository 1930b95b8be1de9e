// The catalogue fetched and read again while the window runs, on one long-lived thread:
// the first load's requests (FetchCatalogues), the same merge and filter, then the result
// handed back to the window's thread. A refresh shows nothing on its own: what it found
// goes to the window, which decides what changes.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "catalogue/catalogue_worker.h"
#include "catalogue/endpoints.h"
#include "runtime/window_calls.h"

namespace newsbar {

struct RefreshResult {
  LoadedCatalogue loaded;
  // What went wrong on the way, one line per cause, as the first load would have logged
  // them. A refresh that listed nothing failed.
  std::vector<std::string> problems;
};

// Lives on the window's thread.
class CatalogueRefresh {
 public:
  using Deliver = std::function<void(RefreshResult)>;

  // `deliver` runs on the window's thread, once per refresh.
  CatalogueRefresh(Endpoints endpoints, Deliver deliver);
  // Stops the thread; a refresh under way is waited for (each request has its time
  // limit) and its result dropped.
  ~CatalogueRefresh();
  CatalogueRefresh(const CatalogueRefresh&) = delete;
  CatalogueRefresh& operator=(const CatalogueRefresh&) = delete;

  // Starts a refresh: true, or false when one is under way (it is not interrupted, and
  // its result will be the newer one anyway) or no thread could be started.
  bool Start();
  // From Start until its result has been delivered.
  bool UnderWay() const { return underWay_; }

 private:
  void Run();

  const Endpoints endpoints_;
  const Deliver deliver_;
  WindowCalls calls_;
  bool underWay_ = false;  // the window's thread only

  std::mutex mutex_;
  std::condition_variable wake_;
  bool requested_ = false;
  bool stopping_ = false;
  std::thread thread_;  // started by the first Start
};

}  // namespace newsbar
