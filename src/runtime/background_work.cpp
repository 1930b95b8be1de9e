#include "runtime/background_work.h"

#include <algorithm>
#include <system_error>
#include <thread>

namespace newsbar {

BackgroundWork::BackgroundWork(int threads)
    : threads_(std::max(1, threads)), shared_(std::make_shared<Shared>()) {
  shared_->calls = &calls_;
}

BackgroundWork::~BackgroundWork() {
  std::deque<std::function<void()>> dropped;
  {
    // A job that finishes from now on finds no way back; one that is posting right now is
    // done before calls_ goes.
    std::lock_guard lock(shared_->mutex);
    shared_->calls = nullptr;
    shared_->ending = true;
    dropped.swap(shared_->jobs);
  }
  shared_->wake.notify_all();
}

bool BackgroundWork::Queue(std::function<void()> job) {
  std::unique_lock lock(shared_->mutex);
  shared_->jobs.push_back(std::move(job));
  const bool waiting = shared_->jobs.size() > static_cast<std::size_t>(shared_->idle);
  if (waiting && shared_->started < threads_) {
    try {
      // Each thread holds the shared state, not this object: it may outlive it by the
      // rest of a job.
      std::thread(&BackgroundWork::Serve, shared_).detach();
      ++shared_->started;
    } catch (const std::system_error&) {
      if (shared_->started == 0) {
        shared_->jobs.pop_back();
        return false;
      }
      // The threads there take the job in turn.
    }
  }
  lock.unlock();
  shared_->wake.notify_one();
  return true;
}

void BackgroundWork::Serve(const std::shared_ptr<Shared>& shared) {
  std::unique_lock lock(shared->mutex);
  while (true) {
    ++shared->idle;
    shared->wake.wait(lock, [&] { return shared->ending || !shared->jobs.empty(); });
    --shared->idle;
    if (shared->ending) return;
    std::function<void()> job = std::move(shared->jobs.front());
    shared->jobs.pop_front();
    lock.unlock();
    job();
    // What the job holds goes before the next one, outside the lock.
    job = nullptr;
    lock.lock();
  }
}

void BackgroundWork::DropWaiting() {
  std::deque<std::function<void()>> dropped;
  std::lock_guard lock(shared_->mutex);
  dropped.swap(shared_->jobs);
}

int BackgroundWork::ThreadsStarted() const {
  std::lock_guard lock(shared_->mutex);
  return shared_->started;
}

}  // namespace newsbar
