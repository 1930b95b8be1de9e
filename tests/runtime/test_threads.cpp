#include <gtest/gtest.h>

#include <time.h>

#include <QCoreApplication>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <limits>
#include <memory>
#include <stdexcept>
#include <thread>

#include "support/wait_until.h"
#include "util/threads.h"

namespace newsbar {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::WaitUntil;

// Milliseconds that a WaitWithMessages call took.
double TimedWait(double amount, int unit) {
  const auto start = Clock::now();
  EXPECT_TRUE(WaitWithMessages(amount, unit));
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

TEST(WaitWithMessages, WaitsItsTimeAndRunsWhatArrivesMeanwhile) {
  // Events posted before the wait, from timers during it, and from another thread.
  int posted = 0;
  int ticks = 0;
  std::atomic<bool> fromThreadRan = false;
  QObject context;
  QMetaObject::invokeMethod(
      &context, [&] { ++posted; }, Qt::QueuedConnection);
  QTimer ticker;
  QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
  ticker.start(10);
  std::thread other([&] {
    std::this_thread::sleep_for(30ms);
    QMetaObject::invokeMethod(
        &context, [&] { fromThreadRan = true; }, Qt::QueuedConnection);
  });

  const double took = TimedWait(100, 0);
  other.join();
  ticker.stop();

  EXPECT_GE(took, 100.0);
  EXPECT_LT(took, 1000.0);
  EXPECT_EQ(posted, 1);
  EXPECT_GE(ticks, 3);
  EXPECT_TRUE(fromThreadRan);
}

// Once the application is quitting (a desktop close or a logout during a retry), every
// nested event loop returns at once. The wait must still wait, handle what arrives, and
// not spin a core while it does.
TEST(WaitWithMessages, DoesNotSpinOnceTheApplicationQuits) {
  QCoreApplication::exit(0);
  QObject context;
  bool ran = false;
  QMetaObject::invokeMethod(
      &context, [&] { ran = true; }, Qt::QueuedConnection);
  timespec cpuBefore{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpuBefore);
  const double took = TimedWait(300, 0);
  timespec cpuAfter{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpuAfter);
  const double cpuMs =
      (cpuAfter.tv_sec - cpuBefore.tv_sec) * 1000.0 + (cpuAfter.tv_nsec - cpuBefore.tv_nsec) / 1e6;
  // Leave the application as it was for whatever runs next in this process.
  QTimer::singleShot(0, [] { QCoreApplication::quit(); });
  QCoreApplication::exec();

  EXPECT_GE(took, 300.0);
  EXPECT_TRUE(ran);
  EXPECT_LT(cpuMs, 100.0) << "the wait spun";
}

TEST(WaitWithMessages, UnitsMultiplyTheAmount) {
  // Fractions keep the larger units quick: 0.06 s, 0.001 min (60 ms), 0.00002 h (72 ms).
  EXPECT_GE(TimedWait(0.06, 1), 60.0);
  EXPECT_GE(TimedWait(0.001, 2), 60.0);
  EXPECT_GE(TimedWait(0.00002, 3), 72.0);
  const double seconds = TimedWait(0.06, 1);
  EXPECT_GE(seconds, 60.0);
  EXPECT_LT(seconds, 1000.0);
  // An unknown unit counts milliseconds, not something far longer.
  const double unknown = TimedWait(50, 7);
  EXPECT_GE(unknown, 50.0);
  EXPECT_LT(unknown, 1000.0);
}

TEST(WaitWithMessages, NothingToWaitForReturnsAtOnce) {
  EXPECT_LT(TimedWait(0, 0), 50.0);
  EXPECT_LT(TimedWait(-5, 1), 50.0);
  EXPECT_LT(TimedWait(std::numeric_limits<double>::quiet_NaN(), 0), 50.0);
}

TEST(ProcessPendingMessages, RunsWhatIsQueuedAndReturns) {
  int ran = 0;
  QObject context;
  for (int i = 0; i < 3; ++i)
    QMetaObject::invokeMethod(
        &context, [&] { ++ran; }, Qt::QueuedConnection);
  ProcessPendingMessages();
  EXPECT_EQ(ran, 3);
}

TEST(ThreadRunState, RunningThenEndedAndInvalid) {
  EXPECT_EQ(ThreadRunState(ThreadHandle()), -1);
  EXPECT_FALSE(ThreadHandle().Valid());

  std::atomic<bool> release = false;
  ThreadHandle handle = ThreadHandle::Start([&] {
    while (!release) std::this_thread::sleep_for(1ms);
  });
  ASSERT_TRUE(handle.Valid());
  EXPECT_EQ(ThreadRunState(handle), 1);
  // Another thread cannot end it: no forced termination here.
  StopThread(handle);
  EXPECT_EQ(ThreadRunState(handle), 1);

  release = true;
  ASSERT_TRUE(WaitUntil([&] { return ThreadRunState(handle) == 0; }));
  // A copy of the handle reads the same, and the handle stays valid after the end.
  ThreadHandle copy = handle;
  EXPECT_EQ(ThreadRunState(copy), 0);
}

TEST(ThreadRunState, WhatTheRoutineDidIsVisibleOnceItReadsEnded) {
  int written = 0;  // plain int: the handle's end must publish it
  ThreadHandle handle = ThreadHandle::Start([&] { written = 42; });
  ASSERT_TRUE(WaitUntil([&] { return ThreadRunState(handle) == 0; }));
  EXPECT_EQ(written, 42);
}

TEST(StopThread, OnItsOwnHandleTheThreadReadsEndedFromThen) {
  // Shared, not on this stack: the thread outlives what its handle says.
  struct Flags {
    std::atomic<bool> stopped = false;
    std::atomic<bool> release = false;
    std::atomic<bool> returned = false;
    std::atomic<int> seenInside = -2;
  };
  auto flags = std::make_shared<Flags>();
  ThreadHandle handle = ThreadHandle::Start([flags] {
    StopThread(ThreadHandle::Current());
    flags->seenInside = ThreadRunState(ThreadHandle::Current());
    flags->stopped = true;
    // Still busy after the stop: the handle must read ended all the same.
    while (!flags->release) std::this_thread::sleep_for(1ms);
    flags->returned = true;
  });
  ASSERT_TRUE(WaitUntil([&] { return flags->stopped.load(); }));
  EXPECT_EQ(flags->seenInside, 0);
  EXPECT_EQ(ThreadRunState(handle), 0);
  flags->release = true;
  EXPECT_TRUE(WaitUntil([&] { return flags->returned.load(); }));
}

TEST(ThreadHandle, CurrentIsInvalidOutsideStartedThreads) {
  EXPECT_FALSE(ThreadHandle::Current().Valid());
  std::atomic<int> inside = -2;
  ThreadHandle handle =
      ThreadHandle::Start([&] { inside = ThreadRunState(ThreadHandle::Current()); });
  ASSERT_TRUE(WaitUntil([&] { return ThreadRunState(handle) == 0; }));
  EXPECT_EQ(inside, 1);
}

TEST(ThreadHandle, AThrowingRoutineEndsQuietlyAndAnEmptyOneDoesNotStart) {
  ThreadHandle handle = ThreadHandle::Start([] { throw std::runtime_error("boom"); });
  ASSERT_TRUE(handle.Valid());
  EXPECT_TRUE(WaitUntil([&] { return ThreadRunState(handle) == 0; }));

  ThreadHandle none = ThreadHandle::Start(std::function<void()>());
  EXPECT_FALSE(none.Valid());
  EXPECT_EQ(ThreadRunState(none), -1);
}

TEST(EndProcess, EndsAtOnceWithCodeZero) {
  // The process has Qt's threads: let the child start afresh instead of forking them.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        std::atexit([] { std::_Exit(3); });  // would turn the code into 3 if it ran
        EndProcess();
      },
      testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace newsbar
