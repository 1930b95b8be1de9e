// Calls carried from another thread to the thread of the window's controls.
#pragma once

#include <QObject>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>

namespace newsbar {

// Lives on the window's thread. Another thread hands it a call; the window's thread runs
// the calls in the order given while it processes events. The calls wait in a queue of
// our own, under a plain lock, so the hand-over is one a thread checker can follow; Qt
// only carries a wake-up event that holds no data.
class WindowCalls : public QObject {
 public:
  explicit WindowCalls(QObject* parent = nullptr);
  // Waiting callers are let go without their call having run.
  ~WindowCalls() override;
  WindowCalls(const WindowCalls&) = delete;
  WindowCalls& operator=(const WindowCalls&) = delete;

  // Queues the call and returns at once. Dropped if this object is gone before it runs.
  void Post(std::function<void()> call);
  // Queues the call and waits until the window's thread has run it: true, or false when
  // this object was destroyed first. The window's thread must keep processing events.
  bool RunAndWait(std::function<void()> call);

 protected:
  void customEvent(QEvent* event) override;

 private:
  // The call's ticket (its place in the order), or 0 when this object is closing.
  std::uint64_t Enqueue(std::function<void()> call, bool willWait);

  std::mutex mutex_;
  std::condition_variable finished_;
  std::deque<std::function<void()>> pending_;
  std::uint64_t queued_ = 0;  // calls handed over so far
  std::uint64_t ran_ = 0;     // of those, calls run (they run in order)
  int waiting_ = 0;           // callers inside RunAndWait
  bool closed_ = false;
};

}  // namespace newsbar
