#include "util/threads.h"

#include <signal.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <thread>
#include <utility>

namespace newsbar {

struct ThreadHandle::State {
  std::atomic<bool> running{true};
  std::atomic<std::thread::id> id{};
};

namespace {

// The state of the thread we are on, when Start made it.
thread_local std::shared_ptr<ThreadHandle::State> currentThreadState;

// A wait longer than this (about 31 years) is cut down to it, so the clock arithmetic
// cannot overflow.
constexpr double kLongestWaitMs = 1e12;

}  // namespace

ThreadHandle ThreadHandle::Start(std::function<void()> routine) {
  if (!routine) return {};
  auto state = std::make_shared<State>();
  try {
    std::thread([state, routine = std::move(routine)]() mutable {
      state->id.store(std::this_thread::get_id());
      currentThreadState = state;
      {
        // The routine (and whatever it captured) is gone before the thread reads as ended.
        auto run = std::move(routine);
        try {
          run();
        } catch (...) {
          // Failures are silent; an escaping exception must not take the process down.
        }
      }
      currentThreadState.reset();
      state->running.store(false);
    }).detach();
  } catch (...) {
    return {};
  }
  return ThreadHandle(std::move(state));
}

ThreadHandle ThreadHandle::Current() {
  return ThreadHandle(currentThreadState);
}

int ThreadRunState(const ThreadHandle& handle) {
  if (!handle.state_) return -1;
  return handle.state_->running.load() ? 1 : 0;
}

void StopThread(const ThreadHandle& handle) {
  if (!handle.state_) return;
  if (handle.state_->id.load() == std::this_thread::get_id()) handle.state_->running.store(false);
}

bool WaitWithMessages(double amount, int unit) {
  double multiplier = 1;
  switch (unit) {
    case 1:
      multiplier = 1000;
      break;
    case 2:
      multiplier = 60000;
      break;
    case 3:
      multiplier = 3600000;
      break;
    default:
      break;
  }
  const double ms = std::min(amount * multiplier, kLongestWaitMs);
  if (!(ms > 0)) return true;  // also NaN
  // Whole 100 ns steps, truncated, as a waitable timer would count them.
  using Ticks = std::chrono::duration<std::int64_t, std::ratio<1, 10000000>>;
  const auto due = Ticks(static_cast<std::int64_t>(ms * 10000));
  const auto deadline = std::chrono::steady_clock::now() + due;

  if (!QCoreApplication::instance()) {
    std::this_thread::sleep_until(deadline);
    return true;
  }
  // Not a nested event loop: once the application is quitting, every such loop returns at
  // once, and the wait would spin. Processing events with a timer that wakes us at the
  // deadline keeps handling the window's events (and the worker's calls) without spinning.
  QTimer wake;
  wake.setSingleShot(true);
  wake.setTimerType(Qt::PreciseTimer);
  for (;;) {
    const auto left = deadline - std::chrono::steady_clock::now();
    if (left <= decltype(left)::zero()) break;
    // Round up: a timer may not fire before the deadline has passed.
    const auto leftMs = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    wake.start(static_cast<int>(std::min<std::int64_t>(leftMs, INT_MAX)));
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
  }
  return true;
}

void ProcessPendingMessages() {
  if (QCoreApplication::instance()) QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void EndProcess() {
  std::_Exit(0);
}

namespace {
extern "C" void EndOnSignal(int /*signal*/) {
  // Async-signal-safe, and works whatever the window's thread is doing.
  std::_Exit(0);
}
}  // namespace

void EndProcessOnTerminationSignals() {
  struct sigaction action {};
  action.sa_handler = EndOnSignal;
  sigemptyset(&action.sa_mask);
  for (const int signal : {SIGTERM, SIGINT}) sigaction(signal, &action, nullptr);
}

}  // namespace newsbar
