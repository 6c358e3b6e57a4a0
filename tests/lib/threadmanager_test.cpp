// Thread manager: every index of a job set runs exactly once for any worker
// count, failed thread starts, dedicated threads, and the progress bar.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "lib/threadmanager.h"
#include "platform/clock.h"
#include "platform/thread.h"

namespace {

struct Tally {
  std::vector<std::atomic<int>> hits;
  std::atomic<int> onCaller{0};
  std::thread::id caller;
  explicit Tally(int count) : hits(size_t(count)), caller(std::this_thread::get_id()) {}
};

void countIndex(ThreadJob* job, int index) {
  Tally* tally = static_cast<Tally*>(job->user);
  tally->hits[size_t(index)].fetch_add(1);
  if (std::this_thread::get_id() == tally->caller) {
    tally->onCaller.fetch_add(1);
  }
}

// Every index exactly once; returns how many ran on the calling thread.
int runAndCheck(ThreadManagerWin32& manager, int count, bool progress = false) {
  Tally tally(count);
  ThreadJob job;
  job.count = count;
  job.user = &tally;
  job.fn = countIndex;
  EXPECT_TRUE(manager.runJobs(&job, progress));
  for (int i = 0; i < count; ++i) {
    EXPECT_EQ(tally.hits[size_t(i)].load(), 1) << "index " << i << " of " << count;
  }
  return tally.onCaller.load();
}

TEST(ThreadManager, EveryIndexRunsExactlyOnce) {
  for (int workers : {1, 2, 4, 16}) {
    ThreadManagerWin32 manager;
    manager.setWorkerCount(workers);
    EXPECT_EQ(manager.getWorkerCount(), workers);
    EXPECT_EQ(manager.liveWorkerCount(), 0) << "workers start with the first job set";
    for (int count : {0, 1, 10, 1000}) {
      SCOPED_TRACE(testing::Message() << workers << " workers, count " << count);
      EXPECT_EQ(runAndCheck(manager, count), 0) << "the caller only waits";
    }
    EXPECT_EQ(manager.liveWorkerCount(), workers);
  }
}

TEST(ThreadManager, ZeroWorkersRunTheSetOnTheCallingThread) {
  ThreadManagerWin32 manager;
  manager.setWorkerCount(0);
  EXPECT_EQ(manager.getWorkerCount(), 0);
  EXPECT_EQ(runAndCheck(manager, 10), 10);
  EXPECT_EQ(manager.liveWorkerCount(), 0);
}

TEST(ThreadManager, SlotsWhoseThreadFailedGetNoWork) {
  ThreadManagerWin32 manager;
  manager.setWorkerCount(4);
  platformThreadFailNextStarts(2);
  EXPECT_EQ(runAndCheck(manager, 1000), 0);
  EXPECT_EQ(manager.liveWorkerCount(), 2);
  // The next set retries the empty slots.
  EXPECT_EQ(runAndCheck(manager, 100), 0);
  EXPECT_EQ(manager.liveWorkerCount(), 4);
}

TEST(ThreadManager, NoLiveWorkerRunsTheSetInline) {
  ThreadManagerWin32 manager;
  manager.setWorkerCount(3);
  platformThreadFailNextStarts(3);
  EXPECT_EQ(runAndCheck(manager, 50), 50);
  EXPECT_EQ(manager.liveWorkerCount(), 0);
  platformThreadFailNextStarts(0);
}

TEST(ThreadManager, WorkerCountIsClamped) {
  ThreadManagerWin32 manager;
  int processors = std::min(manager.getProcessorCount(), 16);
  ASSERT_GE(processors, 1);
  const struct {
    int requested;
    int expected;
  } cases[] = {{-5, processors}, {40, 16}, {16, 16}, {15, 15}, {0, 0}, {-1, processors}, {3, 3}};
  for (const auto& c : cases) {
    manager.setWorkerCount(c.requested);
    EXPECT_EQ(manager.getWorkerCount(), c.expected) << c.requested;
  }
}

TEST(ThreadManager, RunChoosesOneWorkerPerProcessorOnFirstUse) {
  ThreadManagerWin32 manager;
  EXPECT_EQ(manager.getWorkerCount(), -1);
  Tally tally(20);
  ThreadJob job{20, &tally, countIndex};
  EXPECT_TRUE(manager.run(&job, false));
  EXPECT_EQ(manager.getWorkerCount(), std::min(manager.getProcessorCount(), 16));
  for (auto& hit : tally.hits) {
    EXPECT_EQ(hit.load(), 1);
  }
}

TEST(ThreadManager, ChangingTheCountStopsTheWorkers) {
  ThreadManagerWin32 manager;
  manager.setWorkerCount(4);
  runAndCheck(manager, 10);
  EXPECT_EQ(manager.liveWorkerCount(), 4);
  manager.setWorkerCount(2);
  EXPECT_EQ(manager.liveWorkerCount(), 0);
  runAndCheck(manager, 10);
  EXPECT_EQ(manager.liveWorkerCount(), 2);
}

int countStars(const std::string& text) {
  return int(std::count(text.begin(), text.end(), '*'));
}

struct Nested {
  ThreadManagerWin32* manager;
  std::atomic<int> inner{0};
};

void innerJob(ThreadJob* job, int) {
  static_cast<Nested*>(job->user)->inner.fetch_add(1);
}

void outerJob(ThreadJob* job, int) {
  Nested* nested = static_cast<Nested*>(job->user);
  ThreadJob inner{5, nested, innerJob};
  nested->manager->runJobs(&inner, false);
}

TEST(ThreadManager, AJobSetStartedInsideAJobRunsInline) {
  ThreadManagerWin32 manager;
  manager.setWorkerCount(4);
  Nested nested;
  nested.manager = &manager;
  ThreadJob outer{8, &nested, outerJob};
  EXPECT_TRUE(manager.runJobs(&outer, false));
  EXPECT_EQ(nested.inner.load(), 40);
}

TEST(ThreadManager, NestedSetOnTheCallingThreadKeepsTheOuterSet) {
  ThreadManagerWin32 manager;
  manager.setWorkerCount(0);
  Nested nested;
  nested.manager = &manager;
  ThreadJob outer{6, &nested, outerJob};
  testing::internal::CaptureStdout();
  EXPECT_TRUE(manager.runJobs(&outer, true));
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(nested.inner.load(), 30);
  EXPECT_EQ(countStars(out), 51) << "one bar, for the outer set";
}

TEST(ThreadManager, SetsFromTwoThreadsAreSerialised) {
  ThreadManagerWin32 manager;
  manager.setWorkerCount(4);
  std::thread other([&] {
    for (int i = 0; i < 20; ++i) {
      runAndCheck(manager, 300);
    }
  });
  for (int i = 0; i < 20; ++i) {
    runAndCheck(manager, 300);
  }
  other.join();
}

TEST(ThreadManager, SlotQueriesWithoutAJob) {
  ThreadManagerWin32 manager;
  ThreadSlot empty;
  EXPECT_EQ(manager.nextJobIndex(&empty), -2);
  EXPECT_EQ(manager.waitForWork(&empty, 0), -1);
  EXPECT_FALSE(manager.isQuitPending(&empty));
  ThreadJob nothing{0, nullptr, nullptr};
  EXPECT_TRUE(manager.runJobs(&nothing, false));
  EXPECT_TRUE(manager.runJobs(nullptr, false));
}

std::atomic<int> g_dedicatedCalls{0};
void countCall(ThreadSlot*) {
  g_dedicatedCalls.fetch_add(1);
}

bool waitFor(const std::atomic<int>& value, int wanted) {
  for (int i = 0; i < 2000 && value.load() < wanted; ++i) {
    platformSleepMilliseconds(1);
  }
  return value.load() >= wanted;
}

TEST(ThreadManager, DedicatedThreadsFillSixteenSlots) {
  ThreadManagerWin32 manager;
  g_dedicatedCalls = 0;
  EXPECT_EQ(manager.startDedicatedThread(nullptr), -1);
  for (int i = 0; i < 16; ++i) {
    EXPECT_EQ(manager.startDedicatedThread(countCall), i);
  }
  EXPECT_EQ(manager.startDedicatedThread(countCall), -1) << "all 16 slots are in use";
  manager.wakeDedicatedThread(16);
  manager.wakeDedicatedThread(-1);
  manager.wakeDedicatedThread(3);
  EXPECT_TRUE(waitFor(g_dedicatedCalls, 1));
  manager.wakeDedicatedThread(7);
  EXPECT_TRUE(waitFor(g_dedicatedCalls, 2));
  manager.stopDedicatedThread(5);
  manager.stopDedicatedThread(16);
  EXPECT_EQ(manager.startDedicatedThread(countCall), 5) << "a stopped slot is free again";
  platformSleepMilliseconds(5);
  EXPECT_EQ(g_dedicatedCalls.load(), 2);
}

TEST(ThreadManager, RefusedDedicatedThreadReportsMinusOne) {
  ThreadManagerWin32 manager;
  platformThreadFailNextStarts(1);
  EXPECT_EQ(manager.startDedicatedThread(countCall), -1);
  EXPECT_EQ(manager.startDedicatedThread(countCall), 0);
}

std::atomic<int> g_pollingStarted{0};
std::atomic<int> g_pollingEnded{0};
void pollUntilQuit(ThreadSlot* slot) {
  g_pollingStarted.fetch_add(1);
  while (!slot->owner->isQuitPending(slot)) {
    platformSleepMilliseconds(1);
  }
  g_pollingEnded.fetch_add(1);
}

TEST(ThreadManager, QuitPollDoesNotConsumeTheQuit) {
  ThreadManagerWin32 manager;
  int slot = manager.startDedicatedThread(pollUntilQuit);
  ASSERT_EQ(slot, 0);
  manager.wakeDedicatedThread(slot);
  ASSERT_TRUE(waitFor(g_pollingStarted, 1));
  // The function sees the quit by polling; the loop must still see it after,
  // or this stop would wait forever.
  manager.stopDedicatedThread(slot);
  EXPECT_EQ(g_pollingEnded.load(), 1);
}

TEST(ProgressBar, StarsFollowTheCountAndDeletionCompletesTheBar) {
  testing::internal::CaptureStdout();
  {
    ProgressBar bar(100, 2);
    bar.advance(10);
    std::string partial = testing::internal::GetCapturedStdout();
    EXPECT_EQ(partial,
              "  0         20        40        60        80      100\n"
              "  |----|----|----|----|----|----|----|----|----|----|\n"
              "  ******");
    testing::internal::CaptureStdout();
  }
  std::string rest = testing::internal::GetCapturedStdout();
  EXPECT_EQ(countStars(rest), 45);
  EXPECT_NE(rest.find("\n     elapsed time: "), std::string::npos) << rest;
  EXPECT_NE(rest.find(" seconds ("), std::string::npos);
  EXPECT_NE(rest.find(" minutes)\n"), std::string::npos);
}

TEST(ProgressBar, EveryTotalEndsWithFiftyOneStars) {
  for (int total : {0, 1, 3, 7, 49, 50, 51, 99, 1000, 12345}) {
    testing::internal::CaptureStdout();
    {
      ProgressBar bar(total, 0);
      for (int i = 0; i < total; ++i) {
        bar.step();
      }
      bar.step();  // past the end: nothing
    }
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(countStars(out), 51) << total;
    size_t first = out.find("elapsed time");
    EXPECT_NE(first, std::string::npos) << total;
    EXPECT_EQ(out.find("elapsed time", first + 1), std::string::npos) << "printed once, total " << total;
  }
}

TEST(ProgressBar, JobSetWithProgressDrawsTheBar) {
  ThreadManagerWin32 manager;
  manager.setWorkerCount(4);
  testing::internal::CaptureStdout();
  runAndCheck(manager, 200, true);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(countStars(out), 51);
  EXPECT_NE(out.find("elapsed time"), std::string::npos);
}

TEST(ThreadManager, GlobalManagerIsTheStaticOne) {
  EXPECT_EQ(g_threadManager, static_cast<ThreadSystem*>(getThreadManager()));
  EXPECT_GE(g_threadManager->getProcessorCount(), 1);
}

}  // namespace
