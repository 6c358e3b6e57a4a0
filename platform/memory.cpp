// Heap settings through glibc's mallopt.
#include "platform/memory.h"

#include <malloc.h>

namespace {

// Blocks up to this size come from the heap, not from their own mapping (glibc's own dynamic
// threshold stops growing at the same 32 MiB).
constexpr int kMmapThreshold = 32 * 1024 * 1024;
// Free memory at the top of a heap stays mapped up to this much before it is given back.
constexpr int kTrimThreshold = 64 * 1024 * 1024;

}  // namespace

bool platformKeepFreedMemory() {
  const bool mmap = mallopt(M_MMAP_THRESHOLD, kMmapThreshold) == 1;
  const bool trim = mallopt(M_TRIM_THRESHOLD, kTrimThreshold) == 1;
  return mmap && trim;
}
