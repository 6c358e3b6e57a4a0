// The engine's one mutual-exclusion primitive: a recursive lock that can be
// switched off (then it costs one flag test) and knows which thread holds it.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/mutex.h"

class CriticalSection {
 public:
  // Constant-initialised: static sections lock correctly from the first
  // static initialiser on, whatever the construction order.
  explicit constexpr CriticalSection(bool enabled = true) : flags_(enabled ? FLAG_ENABLED : 0) {}
  virtual ~CriticalSection();

  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;

  // Only bit 0 changes. Switch a section off only while no thread holds it.
  void setEnabled(bool enabled);
  bool isEnabled() const { return (flags_.load(std::memory_order_acquire) & FLAG_ENABLED) != 0; }

  // The lock exists from construction; kept for callers that prepare it.
  void create() {}

  void lock();
  void unlock();
  // False only when the calling thread already holds the section (it then
  // proceeds under the lock it has); a disabled section answers true and does
  // nothing; otherwise locks, waiting for another holder, and answers true.
  bool lockIfNotHeld();

  // True while some thread holds the section; a hint only, for diagnostics.
  bool isHeld() const { return owner_.load(std::memory_order_relaxed) != 0; }
  bool isHeldByCurrentThread() const;

 private:
  static constexpr uint8_t FLAG_ENABLED = 1;

  PlatformMutex mutex_;
  std::atomic<uint64_t> owner_{0};  // platformCurrentThreadId of the holder: the "held" state
  int depth_ = 0;                   // recursion depth, touched only by the holder
  std::atomic<uint8_t> flags_;
};
