// Memory manager and the process-wide operator new/delete: every block comes
// from the runtime heap, rounded up to a multiple of 16 bytes. The heap is
// thread-safe, so no lock of ours is taken around it (one process-wide lock
// serialised every allocation of every thread for nothing).
#include "lib/interface/memsystem.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "lib/criticalsection.h"

namespace {

// Constant-initialised and never destroyed: code may take the lock from the
// first static initialiser on and from the last static destructor or atexit
// handler, after this translation unit's destructors have run.
union MemLockStorage {
  constexpr MemLockStorage() : lock(true) {}
  ~MemLockStorage() {}
  CriticalSection lock;
};
constinit MemLockStorage s_memLockStorage;

}  // namespace

// For code that serialises its own work with the memory manager explicitly;
// the allocation paths do not take it.
constinit CriticalSection& g_memLock = s_memLockStorage.lock;

namespace {

constexpr size_t kRoundTo = 16;

// Rounds to a multiple of 16; false when that does not fit in size_t.
bool roundSize(size_t size, size_t* rounded) {
  if (size > SIZE_MAX - (kRoundTo - 1)) {
    return false;
  }
  *rounded = (size + kRoundTo - 1) & ~(kRoundTo - 1);
  return true;
}

void* heapAlloc(size_t size) {
  size_t rounded;
  if (!roundSize(size, &rounded)) {
    return nullptr;
  }
  return std::malloc(rounded);
}

// std::aligned_alloc wants a size that is a multiple of the alignment.
bool roundAligned(size_t size, size_t alignment, size_t* rounded) {
  if (alignment == 0 || (alignment & (alignment - 1)) != 0 || size > SIZE_MAX - (alignment - 1)) {
    return false;
  }
  *rounded = (size + alignment - 1) & ~(alignment - 1);
  if (*rounded == 0) {
    *rounded = alignment;
  }
  return true;
}

void* heapAllocAligned(size_t size, size_t alignment) {
  if (alignment <= kRoundTo) {
    return heapAlloc(size);
  }
  size_t rounded;
  if (!roundAligned(size, alignment, &rounded)) {
    return nullptr;
  }
  return std::aligned_alloc(alignment, rounded);
}

void heapFree(void* pointer) {
  std::free(pointer);
}

void* managedAlloc(size_t size, size_t alignment) {
  MemManager* manager = g_memManager;
  if (manager) {
    return alignment > kRoundTo ? manager->allocAligned(size, alignment) : manager->alloc(size);
  }
  if (alignment > kRoundTo) {
    size_t rounded;
    return roundAligned(size, alignment, &rounded) ? std::aligned_alloc(alignment, rounded) : nullptr;
  }
  return std::malloc(size);
}

void managedFree(void* pointer) {
  MemManager* manager = g_memManager;
  if (manager) {
    manager->free(pointer);
  } else {
    std::free(pointer);
  }
}

// operator new never returns null: the new-handler gets its chance (as the
// library requires), then the process reports and stops. Printing here must
// not allocate.
void* newOrDie(size_t size, size_t alignment) {
  if (size == 0) {
    size = 1;
  }
  for (;;) {
    void* p = managedAlloc(size, alignment);
    if (p) {
      return p;
    }
    std::new_handler handler = std::get_new_handler();
    if (!handler) {
      std::fprintf(stderr, "ERROR: out of memory allocating %zu bytes (alignment %zu)\n", size, alignment);
      std::fflush(stderr);
      std::abort();
    }
    handler();
  }
}

void* newNothrow(size_t size, size_t alignment) noexcept {
  if (size == 0) {
    size = 1;
  }
  for (;;) {
    void* p = managedAlloc(size, alignment);
    if (p) {
      return p;
    }
    std::new_handler handler = std::get_new_handler();
    if (!handler) {
      return nullptr;
    }
    try {
      handler();
    } catch (...) {
      return nullptr;
    }
  }
}

}  // namespace

MemManager::~MemManager() = default;

void MemManager::operator delete(void* pointer) { std::free(pointer); }

void* MemManager::allocTagged(size_t size, int, const char*, int) {
  return alloc(size);
}

void* MemManager::alloc(size_t size) {
  return heapAlloc(size);
}

void MemManager::free(void* pointer) {
  heapFree(pointer);
}

void MemManager::setFlag(int value) {
  flag = value;
}

void* MemManager::allocAligned(size_t size, size_t alignment) {
  return heapAllocAligned(size, alignment);
}

void createMemManager() {
  if (g_memManager) {
    return;
  }
  // Built in runtime-heap memory so it never allocates through itself.
  void* storage = std::malloc(sizeof(MemManager));
  if (!storage) {
    std::fprintf(stderr, "ERROR: could not create the memory manager\n");
    std::abort();
  }
  g_memManager = new (storage) MemManager();
}

void destroyMemManager() {
  MemManager* manager = g_memManager;
  if (!manager) {
    return;
  }
  g_memManager = nullptr;
  delete manager;
}

// Every form of the global allocation functions, so sized, aligned, array and
// nothrow allocations of any code in the process meet the same heap.
void* operator new(size_t size) {
  return newOrDie(size, 0);
}
void* operator new[](size_t size) {
  return newOrDie(size, 0);
}
void* operator new(size_t size, const std::nothrow_t&) noexcept {
  return newNothrow(size, 0);
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
  return newNothrow(size, 0);
}
void* operator new(size_t size, std::align_val_t align) {
  return newOrDie(size, size_t(align));
}
void* operator new[](size_t size, std::align_val_t align) {
  return newOrDie(size, size_t(align));
}
void* operator new(size_t size, std::align_val_t align, const std::nothrow_t&) noexcept {
  return newNothrow(size, size_t(align));
}
void* operator new[](size_t size, std::align_val_t align, const std::nothrow_t&) noexcept {
  return newNothrow(size, size_t(align));
}

void operator delete(void* p) noexcept {
  managedFree(p);
}
void operator delete[](void* p) noexcept {
  managedFree(p);
}
void operator delete(void* p, size_t) noexcept {
  managedFree(p);
}
void operator delete[](void* p, size_t) noexcept {
  managedFree(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
  managedFree(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
  managedFree(p);
}
void operator delete(void* p, std::align_val_t) noexcept {
  managedFree(p);
}
void operator delete[](void* p, std::align_val_t) noexcept {
  managedFree(p);
}
void operator delete(void* p, size_t, std::align_val_t) noexcept {
  managedFree(p);
}
void operator delete[](void* p, size_t, std::align_val_t) noexcept {
  managedFree(p);
}
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept {
  managedFree(p);
}
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept {
  managedFree(p);
}
