// The background load: both programmes' first pages, the network time, the merge and
// the date filter, the rows of the episode list, then the hand-over to the window.
#pragma once

#include <atomic>

#include "catalogue/endpoints.h"

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
};

// Thread routine: runs the whole load once and returns (which ends the thread). Null
// targets are skipped. Writes "1" into doneBox on every run, with or without episodes.
void CatalogueWorker(const Endpoints& endpoints, const WorkerTargets& targets);

}  // namespace newsbar
