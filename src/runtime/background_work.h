// Work that may wait (on the network, say) runs on a thread of its own, and its result is
// handed back to the window's thread, so that the window never waits for it.
#pragma once

#include <QObject>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>

#include "runtime/window_calls.h"
#include "util/threads.h"

namespace newsbar {

// Lives on the window's thread.
class BackgroundWork : public QObject {
 public:
  explicit BackgroundWork(QObject* parent = nullptr);
  // Results still on their way are dropped; work already running finishes on its own
  // thread, touching nothing of this object.
  ~BackgroundWork() override;
  BackgroundWork(const BackgroundWork&) = delete;
  BackgroundWork& operator=(const BackgroundWork&) = delete;

  // Runs `work` on a new thread and `deliver` with its result on the window's thread. When
  // no thread can be started, `deliver` gets an empty Result instead (still queued, never
  // from inside this call). `work` must not touch the window's objects.
  template <typename Result>
  void Run(std::function<Result()> work, std::function<void(Result)> deliver);

 private:
  // What a running thread keeps of this object: the way back, cut when it goes.
  struct Channel {
    std::mutex mutex;
    WindowCalls* calls = nullptr;
  };

  template <typename Result>
  static void Deliver(Channel& channel, std::function<void(Result)> deliver, Result result) {
    std::lock_guard lock(channel.mutex);
    if (!channel.calls) return;
    channel.calls->Post([deliver = std::move(deliver), result = std::move(result)]() mutable {
      deliver(std::move(result));
    });
  }

  WindowCalls calls_;
  std::shared_ptr<Channel> channel_;
};

template <typename Result>
void BackgroundWork::Run(std::function<Result()> work, std::function<void(Result)> deliver) {
  auto shared = std::make_shared<std::function<void(Result)>>(std::move(deliver));
  const ThreadHandle thread =
      ThreadHandle::Start([channel = channel_, work = std::move(work), shared]() mutable {
        Result result = work();
        Deliver(*channel, std::move(*shared), std::move(result));
      });
  if (!thread.Valid() && *shared) Deliver(*channel_, std::move(*shared), Result{});
}

}  // namespace newsbar
