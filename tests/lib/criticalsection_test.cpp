// Critical sections (recursion, cross-thread exclusion, owner-aware
// lockIfNotHeld, disabled sections) and the two timers on the real clocks.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "lib/criticalsection.h"
#include "lib/timer.h"
#include "platform/clock.h"

namespace {

// Statically constructed and used before main's first line would be fine:
// constant initialisation leaves nothing to construct.
constinit CriticalSection s_staticSection(true);

TEST(CriticalSection, HolderMayReenterAndOthersWait) {
  CriticalSection section;
  section.lock();
  section.lock();
  EXPECT_TRUE(section.isHeldByCurrentThread());
  std::atomic<bool> entered{false};
  std::thread other([&] {
    section.lock();
    entered = true;
    section.unlock();
  });
  platformSleepMilliseconds(20);
  section.unlock();
  EXPECT_FALSE(entered.load()) << "one unlock of two must keep the section held";
  EXPECT_TRUE(section.isHeld());
  section.unlock();
  other.join();
  EXPECT_TRUE(entered.load());
  EXPECT_FALSE(section.isHeld());
}

TEST(CriticalSection, LockIfNotHeldRefusesOnlyTheHolder) {
  CriticalSection section;
  ASSERT_TRUE(section.lockIfNotHeld());
  EXPECT_FALSE(section.lockIfNotHeld()) << "the holder is told it already holds the section";

  // Another thread is not told "held" and proceeds unlocked: it waits for the
  // section, then gets it.
  std::atomic<int> answer{-1};
  std::atomic<bool> inside{false};
  std::thread other([&] {
    bool locked = section.lockIfNotHeld();
    answer = locked ? 1 : 0;
    inside = true;
    if (locked) {
      EXPECT_TRUE(section.isHeldByCurrentThread());
      section.unlock();
    }
  });
  platformSleepMilliseconds(20);
  EXPECT_FALSE(inside.load()) << "the second thread must wait for the holder";
  section.unlock();
  other.join();
  EXPECT_EQ(answer.load(), 1);
  EXPECT_FALSE(section.isHeld());
}

TEST(CriticalSection, DisabledSectionNeverLocks) {
  CriticalSection section(false);
  section.lock();
  EXPECT_FALSE(section.isHeld());
  EXPECT_TRUE(section.lockIfNotHeld());
  std::atomic<bool> entered{false};
  std::thread other([&] {
    section.lock();
    entered = true;
    section.unlock();
  });
  other.join();
  EXPECT_TRUE(entered.load());
  section.unlock();

  section.setEnabled(true);
  EXPECT_TRUE(section.isEnabled());
  section.lock();
  EXPECT_TRUE(section.isHeldByCurrentThread());
  section.unlock();
}

TEST(CriticalSection, UnlockFromANonHolderIsIgnored) {
  CriticalSection section;
  section.lock();
  std::thread other([&] { section.unlock(); });
  other.join();
  EXPECT_TRUE(section.isHeldByCurrentThread());
  section.unlock();
  EXPECT_FALSE(section.isHeld());
}

TEST(CriticalSection, StaticSectionCountsFromManyThreads) {
  long counter = 0;
  std::thread threads[4];
  for (auto& t : threads) {
    t = std::thread([&] {
      for (int i = 0; i < 5000; ++i) {
        s_staticSection.lock();
        ++counter;
        s_staticSection.unlock();
      }
    });
  }
  for (auto& t : threads) {
    t.join();
  }
  EXPECT_EQ(counter, 20000);
}

void spinMicroseconds(uint64_t us) {
  uint64_t end = platformNanoseconds() + us * 1000;
  while (platformNanoseconds() < end) {
  }
}

TEST(Timer, FrequentCallsStillAdvance) {
  // Calls 0.2 ms apart: moving the start to "now" on each call would drop
  // every fraction and leave the total at 0.
  Timer timer;
  uint64_t begin = platformNanoseconds();
  while (platformNanoseconds() - begin < 60'000'000ull) {
    timer.elapsed();
    spinMicroseconds(200);
  }
  uint64_t total = timer.elapsed();
  EXPECT_GE(total, 55u);
  EXPECT_LE(total, (platformNanoseconds() - begin) / 1000000ull + 1) << "never more than the real time";
  EXPECT_DOUBLE_EQ(timer.getFrequency(), 1e9);
}

// Upper bounds come from the real time measured around each step, so a
// loaded machine cannot fail them.
uint64_t msSince(uint64_t startNs) {
  return (platformNanoseconds() - startNs) / 1000000ull;
}

TEST(Timer, StopFreezesAndStartResumes) {
  Timer timer;
  platformSleepMilliseconds(15);
  timer.stop();
  EXPECT_TRUE(timer.isStopped());
  uint64_t frozen = timer.elapsed();
  EXPECT_GE(frozen, 15u) << "stop counts the time up to now";
  platformSleepMilliseconds(15);
  EXPECT_EQ(timer.elapsed(), frozen);
  uint64_t resumedAt = platformNanoseconds();
  timer.start();
  EXPECT_FALSE(timer.isStopped());
  platformSleepMilliseconds(10);
  uint64_t resumed = timer.elapsed();
  EXPECT_GE(resumed, frozen + 10);
  EXPECT_LE(resumed, frozen + msSince(resumedAt) + 1) << "the stopped interval must not count";
  uint64_t initAt = platformNanoseconds();
  timer.init();
  EXPECT_LE(timer.elapsed(), msSince(initAt) + 1);
}

TEST(ClockTimer, CountsMillisecondsAndIgnoresStartWhileRunning) {
  ClockTimer clock;
  platformSleepMilliseconds(12);
  clock.start();  // running: nothing changes
  EXPECT_GE(clock.elapsedMilliseconds(), 12u);
  clock.stop();
  // Read after stopping: the clock may tick between a read and the stop.
  uint64_t first = clock.elapsedMilliseconds();
  platformSleepMilliseconds(12);
  EXPECT_EQ(clock.elapsedMilliseconds(), first);
  uint64_t resumedAt = platformNanoseconds();
  clock.start();
  platformSleepMilliseconds(5);
  uint64_t second = clock.elapsedMilliseconds();
  EXPECT_GE(second, first + 5);
  EXPECT_LE(second, first + msSince(resumedAt) + 2);
  uint64_t resetAt = platformNanoseconds();
  clock.reset();
  EXPECT_LE(clock.elapsedMilliseconds(), msSince(resetAt) + 2);
}

}  // namespace
