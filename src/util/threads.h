// Thread handles and the waits built on them.
#pragma once

#include <functional>
#include <memory>

namespace newsbar {

// Shared state of a started thread; the handle stays valid after the thread ends.
class ThreadHandle {
 public:
  ThreadHandle() = default;  // an invalid handle
  // Runs routine on a new operating-system thread (detached; its end is recorded here).
  // Gives an invalid handle when there is no routine or the thread cannot be started.
  static ThreadHandle Start(std::function<void()> routine);
  // The handle of the calling thread when it was started by Start, else an invalid one.
  // Lets a routine stop itself without being handed its own handle.
  static ThreadHandle Current();
  bool Valid() const { return state_ != nullptr; }
  // For tests and for the worker itself.
  struct State;

 private:
  explicit ThreadHandle(std::shared_ptr<State> state) : state_(std::move(state)) {}
  std::shared_ptr<State> state_;
  friend int ThreadRunState(const ThreadHandle& handle);
  friend void StopThread(const ThreadHandle& handle);
};

// 1 running, 0 ended, -1 invalid handle.
int ThreadRunState(const ThreadHandle& handle);

// With no forced termination here, a thread ends by returning from its routine; the
// worker calls this as its last act and then returns. Called on the thread's own handle
// it marks the thread ended at once (ThreadRunState gives 0 from then on); called from
// any other thread it has no effect.
void StopThread(const ThreadHandle& handle);

// Processes the window's events until `amount` units have passed (unit 0 ms, 1 s,
// 2 min, 3 h; any other unit counts as ms); always true. Returns at once for an amount
// of zero or less. Without a QCoreApplication it simply sleeps.
bool WaitWithMessages(double amount, int unit = 0);

// Processes the pending window events on the calling thread, then returns.
void ProcessPendingMessages();

// Ends the process at once with exit code 0.
[[noreturn]] void EndProcess();

// From now on SIGTERM and SIGINT end the process as EndProcess does: at once, in any
// phase, with exit code 0.
void EndProcessOnTerminationSignals();

}  // namespace newsbar
