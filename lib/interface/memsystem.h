// The process's one allocator. The engine, SDL, Mesa's C++ code and the game
// module all allocate through it (global operator new/delete are replaced).
#pragma once

#include <cstddef>

class MemPool {
 public:
  virtual ~MemPool() {}
  // The three further values are accepted for the game module and ignored.
  virtual void* allocTagged(size_t size, int tag, const char* file, int line) = 0;
  // At least size bytes, 16-byte aligned, or null when the heap is exhausted
  // or size cannot be rounded up to a multiple of 16.
  virtual void* alloc(size_t size) = 0;
  virtual void free(void* pointer) = 0;
};

class MemManagerInternal {};

// Final, so calls through g_memManager bind directly (no virtual dispatch on the hot path).
class MemManager final : public MemManagerInternal, public MemPool {
 public:
  MemManager() = default;
  ~MemManager() override;
  // The manager lives in runtime-heap memory, never in its own blocks, so
  // deleting it must not route through itself.
  static void operator delete(void* pointer);

  void* allocTagged(size_t size, int tag, const char* file, int line) override;
  void* alloc(size_t size) override;
  void free(void* pointer) override;
  virtual void setFlag(int flag);
  // Over-aligned blocks (alignment a power of two); release them with free.
  virtual void* allocAligned(size_t size, size_t alignment);

  int getFlag() const { return flag; }

 private:
  int flag = 1;
};

// Null before createMemManager and after destroyMemManager; the runtime heap
// serves in between.
inline MemManager* g_memManager = nullptr;

class CriticalSection;
// Lives for the whole process (never destroyed); the allocation paths do not
// take it, code that must exclude the memory manager's users explicitly may.
extern CriticalSection& g_memLock;

// Creates the manager from the runtime heap (never through itself); a second
// call keeps the first manager.
void createMemManager();
void destroyMemManager();
