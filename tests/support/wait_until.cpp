#include "support/wait_until.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <thread>

namespace newsbar::test {

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  using Clock = std::chrono::steady_clock;
  // Conditions set by other threads raise no Qt event, so look again every few ms.
  constexpr auto kStep = std::chrono::milliseconds(5);
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    if (condition()) return true;
    if (Clock::now() >= deadline) return condition();
    if (QCoreApplication::instance()) {
      QEventLoop loop;
      QTimer::singleShot(kStep, &loop, &QEventLoop::quit);
      loop.exec();
    } else {
      std::this_thread::sleep_for(kStep);
    }
  }
}

}  // namespace newsbar::test
