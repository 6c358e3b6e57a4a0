// Platform threads, auto-reset event groups, thread ids and the constant-
// initialised recursive mutex.
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/mutex.h"
#include "platform/thread.h"

namespace {

constinit PlatformMutex s_mutex;

TEST(PlatformEvents, AutoResetAndLowestIndexFirst) {
  PlatformEvents* events = platformEventsCreate(3);
  ASSERT_NE(events, nullptr);
  EXPECT_EQ(platformEventsWait(events, 0x7, 0), -1) << "created unsignalled";
  platformEventsSet(events, 2);
  platformEventsSet(events, 1);
  platformEventsSet(events, 1);  // setting twice is still one signal
  EXPECT_EQ(platformEventsPeek(events), 0x6u);
  EXPECT_EQ(platformEventsWait(events, 0x3, 0), 1);
  EXPECT_EQ(platformEventsWait(events, 0x3, 0), -1) << "one signal releases one wait";
  EXPECT_EQ(platformEventsPeek(events), 0x4u) << "an event outside the mask stays set";
  EXPECT_EQ(platformEventsWait(events, 0x4, -1), 2);
  platformEventsSet(events, 5);  // out of range: ignored
  EXPECT_EQ(platformEventsPeek(events), 0u);
  EXPECT_EQ(platformEventsWait(nullptr, 1, 0), -1);
  platformEventsDestroy(events);
  EXPECT_EQ(platformEventsCreate(0), nullptr);
  EXPECT_EQ(platformEventsCreate(33), nullptr);
}

TEST(PlatformEvents, TimeoutWaitsAboutAsLongAsAsked) {
  PlatformEvents* events = platformEventsCreate(1);
  uint32_t start = platformMilliseconds();
  EXPECT_EQ(platformEventsWait(events, 1, 30), -1);
  EXPECT_GE(platformMilliseconds() - start, 29u);
  platformEventsDestroy(events);
}

struct PingPong {
  PlatformEvents* events;
  std::atomic<int> rounds{0};
};

void pongEntry(void* argument) {
  PingPong* game = static_cast<PingPong*>(argument);
  for (;;) {
    int event = platformEventsWait(game->events, 0x3, -1);
    if (event == 1) {
      return;
    }
    game->rounds.fetch_add(1);
    platformEventsSet(game->events, 2);
  }
}

TEST(PlatformThread, WakesAndJoins) {
  PingPong game;
  game.events = platformEventsCreate(3);
  PlatformThread* thread = platformThreadStart(pongEntry, &game);
  ASSERT_NE(thread, nullptr);
  for (int i = 0; i < 100; ++i) {
    platformEventsSet(game.events, 0);
    ASSERT_EQ(platformEventsWait(game.events, 0x4, 5000), 2);
  }
  platformEventsSet(game.events, 1);
  platformThreadJoin(thread);
  EXPECT_EQ(game.rounds.load(), 100);
  platformEventsDestroy(game.events);
  platformThreadJoin(nullptr);
}

void noop(void*) {}

TEST(PlatformThread, InjectedFailuresAndNullEntry) {
  EXPECT_EQ(platformThreadStart(nullptr, nullptr), nullptr);
  platformThreadFailNextStarts(2);
  EXPECT_EQ(platformThreadStart(noop, nullptr), nullptr);
  EXPECT_EQ(platformThreadStart(noop, nullptr), nullptr);
  PlatformThread* thread = platformThreadStart(noop, nullptr);
  EXPECT_NE(thread, nullptr);
  platformThreadJoin(thread);
  EXPECT_GE(platformProcessorCount(), 1);
}

TEST(PlatformMutex, RecursiveAndExclusive) {
  s_mutex.lock();
  s_mutex.lock();
  EXPECT_TRUE(s_mutex.tryLock());
  std::atomic<int> otherGot{-1};
  std::thread other([&] {
    otherGot = s_mutex.tryLock() ? 1 : 0;
    if (otherGot == 1) {
      s_mutex.unlock();
    }
  });
  other.join();
  EXPECT_EQ(otherGot.load(), 0);
  s_mutex.unlock();
  s_mutex.unlock();
  s_mutex.unlock();
  std::thread after([&] {
    otherGot = s_mutex.tryLock() ? 1 : 0;
    if (otherGot == 1) {
      s_mutex.unlock();
    }
  });
  after.join();
  EXPECT_EQ(otherGot.load(), 1);
}

TEST(PlatformMutex, ThreadIdsAreUniqueAndNonZero) {
  uint64_t mine = platformCurrentThreadId();
  EXPECT_NE(mine, 0u);
  EXPECT_EQ(platformCurrentThreadId(), mine);
  std::vector<uint64_t> ids(8);
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) {
    threads.emplace_back([&ids, i] { ids[size_t(i)] = platformCurrentThreadId(); });
  }
  for (auto& t : threads) {
    t.join();
  }
  std::set<uint64_t> unique(ids.begin(), ids.end());
  unique.insert(mine);
  EXPECT_EQ(unique.size(), 9u);
  EXPECT_EQ(unique.count(0), 0u);
}

}  // namespace
