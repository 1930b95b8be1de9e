// Work that may wait (on the network, say) runs off the window's thread, and its result is
// handed back to the window's thread, so that the window never waits for it.
#pragma once

#include <QObject>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>

#include "runtime/window_calls.h"

namespace newsbar {

// Lives on the window's thread. The work runs on long-lived threads of this object's own,
// at most `threads` of them, started as jobs need them and kept while the object lives:
// a thread per job would leave the allocator an arena per thread that ever ran alongside
// another, each keeping what it once held.
class BackgroundWork : public QObject {
 public:
  explicit BackgroundWork(int threads = 1);
  // Jobs not yet begun are dropped, results still on their way too; a job already running
  // finishes on its thread, touching nothing of this object, and the thread then ends.
  ~BackgroundWork() override;
  BackgroundWork(const BackgroundWork&) = delete;
  BackgroundWork& operator=(const BackgroundWork&) = delete;

  // Runs `work` on one of the threads (in the order asked, as soon as one is free) and
  // `deliver` with its result on the window's thread. When no thread can be started and
  // none is there, `deliver` gets an empty Result instead (still queued, never from inside
  // this call). `work` must not touch the window's objects.
  template <typename Result>
  void Run(std::function<Result()> work, std::function<void(Result)> deliver);

  // Jobs that have not begun are dropped unrun, their `deliver` with them: for work whose
  // latest request makes the earlier ones moot.
  void DropWaiting();

  // Threads started so far (for tests).
  int ThreadsStarted() const;

 private:
  // What the threads share with this object; the way back is cut when the object goes.
  struct Shared {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::function<void()>> jobs;
    WindowCalls* calls = nullptr;
    bool ending = false;
    int idle = 0;     // threads waiting for a job
    int started = 0;  // threads started
  };

  template <typename Result>
  static void Deliver(Shared& shared, std::function<void(Result)> deliver, Result result) {
    std::lock_guard lock(shared.mutex);
    if (!shared.calls) return;
    shared.calls->Post([deliver = std::move(deliver), result = std::move(result)]() mutable {
      deliver(std::move(result));
    });
  }

  // Queues the job; false when it cannot run (no thread and none could be started).
  bool Queue(std::function<void()> job);
  static void Serve(const std::shared_ptr<Shared>& shared);

  const int threads_;
  WindowCalls calls_;
  std::shared_ptr<Shared> shared_;
};

template <typename Result>
void BackgroundWork::Run(std::function<Result()> work, std::function<void(Result)> deliver) {
  auto shared = std::make_shared<std::function<void(Result)>>(std::move(deliver));
  const bool queued = Queue([state = shared_.get(), work = std::move(work), shared] {
    Result result = work();
    Deliver(*state, std::move(*shared), std::move(result));
  });
  if (!queued && *shared) Deliver(*shared_, std::move(*shared), Result{});
}

}  // namespace newsbar
