// POSIX threads; events are a flag word under a mutex with a condition variable.
#include "platform/thread.h"

#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

struct PlatformThread {
  pthread_t handle;
  PlatformThreadEntry entry;
  void* argument;
};

struct PlatformEvents {
  std::mutex mutex;
  std::condition_variable signalled;
  uint32_t flags = 0;
  int count = 0;
};

namespace {

std::atomic<int> s_failStarts{0};

void* threadMain(void* data) {
  PlatformThread* thread = static_cast<PlatformThread*>(data);
  thread->entry(thread->argument);
  return nullptr;
}

int lowestBit(uint32_t bits) {
  return __builtin_ctz(bits);
}

}  // namespace

PlatformThread* platformThreadStart(PlatformThreadEntry entry, void* argument) {
  if (!entry) {
    return nullptr;
  }
  int fail = s_failStarts.load();
  while (fail > 0) {
    if (s_failStarts.compare_exchange_weak(fail, fail - 1)) {
      return nullptr;
    }
  }
  PlatformThread* thread = new PlatformThread{};
  thread->entry = entry;
  thread->argument = argument;
  if (pthread_create(&thread->handle, nullptr, threadMain, thread) != 0) {
    delete thread;
    return nullptr;
  }
  return thread;
}

void platformThreadJoin(PlatformThread* thread) {
  if (!thread) {
    return;
  }
  pthread_join(thread->handle, nullptr);
  delete thread;
}

void platformThreadFailNextStarts(int count) {
  s_failStarts.store(count > 0 ? count : 0);
}

int platformProcessorCount() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof(set), &set) == 0) {
    int count = CPU_COUNT(&set);
    if (count > 0) {
      return count;
    }
  }
  long online = sysconf(_SC_NPROCESSORS_ONLN);
  return online > 0 ? int(online) : 1;
}

PlatformEvents* platformEventsCreate(int count) {
  if (count <= 0 || count > 32) {
    return nullptr;
  }
  PlatformEvents* events = new PlatformEvents;
  events->count = count;
  return events;
}

void platformEventsDestroy(PlatformEvents* events) {
  delete events;
}

void platformEventsSet(PlatformEvents* events, int index) {
  if (!events || index < 0 || index >= events->count) {
    return;
  }
  {
    std::lock_guard<std::mutex> guard(events->mutex);
    events->flags |= 1u << index;
  }
  // Every waiter re-checks its own mask; a group has two or three waiters.
  events->signalled.notify_all();
}

int platformEventsWait(PlatformEvents* events, uint32_t mask, int timeoutMs) {
  if (!events || mask == 0) {
    return -1;
  }
  std::unique_lock<std::mutex> lock(events->mutex);
  auto ready = [&] { return (events->flags & mask) != 0; };
  if (timeoutMs < 0) {
    events->signalled.wait(lock, ready);
  } else if (!events->signalled.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready)) {
    return -1;
  }
  int index = lowestBit(events->flags & mask);
  events->flags &= ~(1u << index);
  return index;
}

uint32_t platformEventsPeek(PlatformEvents* events) {
  if (!events) {
    return 0;
  }
  std::lock_guard<std::mutex> guard(events->mutex);
  return events->flags;
}
