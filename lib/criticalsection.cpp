// Critical section over the platform's recursive mutex with owner tracking.
#include "lib/criticalsection.h"

CriticalSection::~CriticalSection() = default;

void CriticalSection::setEnabled(bool enabled) {
  uint8_t flags = flags_.load(std::memory_order_relaxed);
  uint8_t wanted;
  do {
    wanted = enabled ? uint8_t(flags | FLAG_ENABLED) : uint8_t(flags & ~FLAG_ENABLED);
  } while (!flags_.compare_exchange_weak(flags, wanted, std::memory_order_acq_rel));
}

bool CriticalSection::isHeldByCurrentThread() const {
  return owner_.load(std::memory_order_relaxed) == platformCurrentThreadId();
}

void CriticalSection::lock() {
  if (!isEnabled()) {
    return;
  }
  uint64_t self = platformCurrentThreadId();
  if (owner_.load(std::memory_order_relaxed) == self) {
    ++depth_;  // re-entry by the holder needs no second mutex acquisition
    return;
  }
  mutex_.lock();
  owner_.store(self, std::memory_order_relaxed);
  depth_ = 1;
}

void CriticalSection::unlock() {
  if (!isEnabled()) {
    return;
  }
  // Only the holder's own unlock counts: a stray unlock from another thread
  // would corrupt the owner record and the mutex.
  if (!isHeldByCurrentThread() || depth_ <= 0) {
    return;
  }
  if (--depth_ == 0) {
    owner_.store(0, std::memory_order_relaxed);
    mutex_.unlock();
  }
}

bool CriticalSection::lockIfNotHeld() {
  if (!isEnabled()) {
    return true;
  }
  // Only the holder itself can see its own id here, so this read needs no lock.
  if (isHeldByCurrentThread()) {
    return false;
  }
  lock();
  return true;
}
