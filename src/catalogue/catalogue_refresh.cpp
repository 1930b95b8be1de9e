#include "catalogue/catalogue_refresh.h"

#include <system_error>
#include <utility>

#include "util/log.h"

namespace newsbar {

CatalogueRefresh::CatalogueRefresh(Endpoints endpoints, Deliver deliver)
    : endpoints_(std::move(endpoints)), deliver_(std::move(deliver)) {}

CatalogueRefresh::~CatalogueRefresh() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

bool CatalogueRefresh::Start() {
  if (underWay_) return false;
  if (!thread_.joinable()) {
    try {
      thread_ = std::thread([this] { Run(); });
    } catch (const std::system_error& error) {
      NEWSBAR_CATALOGUE_WARNING("no thread for the catalogue refresh: %s", error.what());
      return false;
    }
  }
  underWay_ = true;
  {
    std::lock_guard lock(mutex_);
    requested_ = true;
  }
  wake_.notify_all();
  return true;
}

void CatalogueRefresh::Run() {
  for (;;) {
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return requested_ || stopping_; });
      if (stopping_) return;
      requested_ = false;
    }
    RefreshResult result;
    {
      WarningGathering warnings;
      result.loaded =
          LoadCatalogue(endpoints_.scriptLimit, [this] { return FetchCatalogues(endpoints_); });
      result.problems = warnings.Lines();
    }
    calls_.Post([this, result = std::move(result)]() mutable {
      underWay_ = false;
      deliver_(std::move(result));
    });
  }
}

}  // namespace newsbar
