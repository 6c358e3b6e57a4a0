// Thread identity for lock owners; the mutex itself is header-only.
#include "platform/mutex.h"

#include <atomic>

// The libstdc++ recursive mutex is initialised by a constant initialiser;
// this keeps it that way, so static locks never depend on construction order.
static constinit PlatformMutex s_constantInitCheck;

namespace {
std::atomic<uint64_t> s_nextThreadId{1};
// Constant-initialised, so reading it needs no per-thread guard; the
// allocator takes this path on every call.
constinit thread_local uint64_t t_threadId = 0;
}  // namespace

uint64_t platformCurrentThreadId() {
  uint64_t id = t_threadId;
  if (id == 0) {
    id = s_nextThreadId.fetch_add(1, std::memory_order_relaxed);
    t_threadId = id;
  }
  return id;
}
