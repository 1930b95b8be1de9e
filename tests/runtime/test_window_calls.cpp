#include <gtest/gtest.h>

#include <QThread>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "runtime/background_work.h"
#include "runtime/window_calls.h"
#include "support/wait_until.h"

namespace newsbar {
namespace {

using namespace std::chrono_literals;
using test::WaitUntil;

TEST(WindowCalls, CallsFromAThreadRunOnTheWindowThreadInTheirOrder) {
  WindowCalls calls;
  QThread* const windowThread = QThread::currentThread();
  std::vector<int> order;  // touched only on the window's thread
  std::atomic<bool> allOnWindowThread = true;
  std::atomic<bool> done = false;
  std::atomic<int> waitedFor = 0;

  std::thread worker([&] {
    for (int i = 0; i < 50; ++i) {
      auto call = [&, i] {
        if (QThread::currentThread() != windowThread) allOnWindowThread = false;
        order.push_back(i);
      };
      if (i % 2 == 0) {
        calls.Post(call);
      } else if (calls.RunAndWait(call)) {
        ++waitedFor;
      }
    }
    done = true;
  });
  ASSERT_TRUE(WaitUntil([&] { return done.load(); }));
  worker.join();
  // The last Post may still wait for the window's thread.
  ASSERT_TRUE(WaitUntil([&] { return order.size() == 50; }));

  EXPECT_TRUE(allOnWindowThread);
  EXPECT_EQ(waitedFor, 25);
  for (int i = 0; i < 50; ++i) EXPECT_EQ(order[static_cast<std::size_t>(i)], i);
}

TEST(WindowCalls, APostedCallRunsOnlyWhenTheWindowThreadTakesItsEvents) {
  // Posted calls run only when the window's thread takes its events, never inside Post.
  WindowCalls calls;
  bool ran = false;
  calls.Post([&] { ran = true; });
  EXPECT_FALSE(ran);
  EXPECT_TRUE(WaitUntil([&] { return ran; }));
}

TEST(WindowCalls, DestroyedWhileAThreadWaitsLetsItGoWithoutRunningTheCall) {
  auto calls = std::make_unique<WindowCalls>();
  WindowCalls* const shared = calls.get();
  std::atomic<bool> ran = false;
  std::atomic<int> outcome = -1;
  std::atomic<bool> queued = false;
  std::thread worker([&] {
    queued = true;
    outcome = shared->RunAndWait([&] { ran = true; }) ? 1 : 0;
  });
  // The window's thread takes no events here, so the call cannot run before the end.
  while (!queued) std::this_thread::yield();
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(outcome, -1);
  calls.reset();
  worker.join();

  EXPECT_EQ(outcome, 0);
  EXPECT_FALSE(ran);
  // The wake-up went with the object: nothing runs later either.
  EXPECT_FALSE(WaitUntil([&] { return ran.load(); }, 100ms));
}

// Work off the window's thread: its result comes back to the window's thread; once the
// object that ran it has gone, a late result is dropped and the work ends on its own.
TEST(BackgroundWork, ResultsComeBackToTheWindowThreadAndLateOnesAreDropped) {
  QThread* const windowThread = QThread::currentThread();
  auto work = std::make_unique<BackgroundWork>();
  std::atomic<bool> workedElsewhere = false;
  int delivered = 0;  // touched only on the window's thread
  bool deliveredOnWindowThread = false;
  work->Run<int>(
      [&] {
        workedElsewhere = QThread::currentThread() != windowThread;
        return 7;
      },
      [&](int result) {
        deliveredOnWindowThread = QThread::currentThread() == windowThread;
        delivered = result;
      });
  ASSERT_TRUE(WaitUntil([&] { return delivered == 7; }));
  EXPECT_TRUE(workedElsewhere);
  EXPECT_TRUE(deliveredOnWindowThread);

  // Jobs run in order on the one long-lived thread; while one runs, those waiting can be
  // dropped unrun, and a job asked for after that still runs.
  std::vector<int> order;
  auto hold = std::make_shared<std::atomic<bool>>(true);
  auto begun = std::make_shared<std::atomic<bool>>(false);
  for (int job = 1; job <= 5; ++job) {
    work->Run<int>(
        [job, hold, begun] {
          if (job == 1) begun->store(true);
          while (job == 1 && hold->load()) std::this_thread::sleep_for(1ms);
          return job;
        },
        [&](int result) { order.push_back(result); });
  }
  ASSERT_TRUE(WaitUntil([&] { return begun->load(); }));
  work->DropWaiting();
  work->Run<int>([] { return 6; }, [&](int result) { order.push_back(result); });
  hold->store(false);
  ASSERT_TRUE(WaitUntil([&] { return order.size() == 2; }));
  EXPECT_FALSE(WaitUntil([&] { return order.size() > 2; }, 100ms));
  EXPECT_EQ(order, (std::vector<int>{1, 6}));
  EXPECT_EQ(work->ThreadsStarted(), 1);

  // The object goes while a job runs and another waits: the running one finishes, its
  // result dropped; the waiting one never runs.
  auto finished = std::make_shared<std::atomic<bool>>(false);
  auto release = std::make_shared<std::atomic<bool>>(false);
  auto waitingRan = std::make_shared<std::atomic<bool>>(false);
  begun->store(false);
  bool lateDelivered = false;
  work->Run<int>(
      [finished, release, begun] {
        begun->store(true);
        while (!release->load()) std::this_thread::sleep_for(1ms);
        finished->store(true);
        return 1;
      },
      [&](int) { lateDelivered = true; });
  work->Run<int>([waitingRan] { return waitingRan->exchange(true) ? 1 : 0; },
                 [&](int) { lateDelivered = true; });
  ASSERT_TRUE(WaitUntil([&] { return begun->load(); }));
  work.reset();
  release->store(true);
  ASSERT_TRUE(WaitUntil([&] { return finished->load(); }));
  EXPECT_FALSE(WaitUntil([&] { return lateDelivered || waitingRan->load(); }, 200ms));
}

}  // namespace
}  // namespace newsbar
