// Recursive mutex that is usable from the first static initialiser on: it is
// constant-initialised, so no constructor has to run before the first lock.
#pragma once

#include <cstdint>
#include <mutex>

class PlatformMutex {
 public:
  constexpr PlatformMutex() = default;
  PlatformMutex(const PlatformMutex&) = delete;
  PlatformMutex& operator=(const PlatformMutex&) = delete;

  void lock() { mutex_.lock(); }
  bool tryLock() { return mutex_.try_lock(); }
  void unlock() { mutex_.unlock(); }

 private:
  std::recursive_mutex mutex_;
};

// A number for the calling thread, unique for the life of the process and
// never 0 (0 means "no thread" to the callers that record owners).
uint64_t platformCurrentThreadId();
