#include "runtime/window_calls.h"

#include <QCoreApplication>
#include <QEvent>
#include <utility>

namespace newsbar {

namespace {
// The wake-up event; registered once, so it never clashes with another user type.
QEvent::Type WakeType() {
  static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
  return type;
}
}  // namespace

WindowCalls::WindowCalls(QObject* parent) : QObject(parent) {}

WindowCalls::~WindowCalls() {
  std::unique_lock lock(mutex_);
  closed_ = true;
  pending_.clear();
  finished_.notify_all();
  // The lock and the condition go with this object: the let-go callers must be out first.
  finished_.wait(lock, [this] { return waiting_ == 0; });
}

std::uint64_t WindowCalls::Enqueue(std::function<void()> call, bool willWait) {
  std::lock_guard lock(mutex_);
  if (closed_) return 0;
  pending_.push_back(std::move(call));
  const std::uint64_t ticket = ++queued_;
  // Counted from here, so the destructor waits for this caller from now on.
  if (willWait) ++waiting_;
  // The event carries nothing: customEvent takes the calls from the queue. Qt owns and
  // deletes the event, and drops it when this object goes first. Posted under the lock:
  // the destructor closes the queue under it, so the object is still whole here (posted
  // after the lock, the event could name an object already being destroyed).
  QCoreApplication::postEvent(this, new QEvent(WakeType()));
  return ticket;
}

void WindowCalls::Post(std::function<void()> call) {
  Enqueue(std::move(call), false);
}

bool WindowCalls::RunAndWait(std::function<void()> call) {
  const std::uint64_t ticket = Enqueue(std::move(call), true);
  if (ticket == 0) return false;
  std::unique_lock lock(mutex_);
  finished_.wait(lock, [&] { return ran_ >= ticket || closed_; });
  const bool ran = ran_ >= ticket;
  if (--waiting_ == 0 && closed_) finished_.notify_all();
  return ran;
}

void WindowCalls::customEvent(QEvent* /*event*/) {
  // One wake-up may find several calls (or none, when an earlier one ran them all).
  for (;;) {
    std::function<void()> call;
    {
      std::lock_guard lock(mutex_);
      if (pending_.empty()) return;
      call = std::move(pending_.front());
      pending_.pop_front();
    }
    call();
    {
      std::lock_guard lock(mutex_);
      ++ran_;
    }
    // Outside the lock, so the caller that wakes does not at once wait for it again.
    finished_.notify_all();
  }
}

}  // namespace newsbar
