// Memory manager: rounding, overflow, lifecycle, the replaced operator new and
// delete forms, and allocation from many threads at once.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <new>
#include <thread>
#include <vector>

#include "lib/criticalsection.h"
#include "lib/interface/memsystem.h"

namespace {

// Volatile, so the compiler neither warns about nor folds the impossible size.
volatile size_t g_hugeSize = SIZE_MAX - 8;

class MemManagerTest : public ::testing::Test {
 protected:
  void SetUp() override { createMemManager(); }
  void TearDown() override { destroyMemManager(); }
};

TEST_F(MemManagerTest, BlocksAreRoundedUpToSixteenBytes) {
  // Writing the whole rounded size must be legal: AddressSanitizer reports it
  // if the heap was asked for fewer bytes.
  const struct {
    size_t requested;
    size_t usable;
  } cases[] = {{1, 16}, {15, 16}, {16, 16}, {17, 32}, {31, 32}, {32, 32}, {100, 112}, {4097, 4112}};
  for (const auto& c : cases) {
    uint8_t* p = static_cast<uint8_t*>(g_memManager->alloc(c.requested));
    ASSERT_NE(p, nullptr) << c.requested;
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 16, 0u) << c.requested;
    std::memset(p, 0xA5, c.usable);
    EXPECT_EQ(p[c.usable - 1], 0xA5);
    g_memManager->free(p);
  }
}

TEST_F(MemManagerTest, SizesThatCannotBeRoundedFailInsteadOfWrapping) {
  // Without the overflow check these wrap to 0 and return a tiny block.
  for (size_t size : {SIZE_MAX, SIZE_MAX - 1, SIZE_MAX - 14}) {
    EXPECT_EQ(g_memManager->alloc(size), nullptr) << size;
    EXPECT_EQ(g_memManager->allocTagged(size, 1, "file", 2), nullptr) << size;
  }
}

TEST_F(MemManagerTest, TaggedAllocationIgnoresTheTags) {
  uint8_t* p = static_cast<uint8_t*>(g_memManager->allocTagged(17, 99, "ignored.cpp", -4));
  ASSERT_NE(p, nullptr);
  std::memset(p, 0, 32);
  g_memManager->free(p);
  g_memManager->free(nullptr);
}

TEST_F(MemManagerTest, AlignedAllocations) {
  for (size_t alignment : {32u, 64u, 256u, 4096u}) {
    void* p = g_memManager->allocAligned(10, alignment);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % alignment, 0u) << alignment;
    std::memset(p, 1, 16);
    g_memManager->free(p);
  }
  EXPECT_EQ(g_memManager->allocAligned(10, 48), nullptr) << "alignment must be a power of two";
  EXPECT_EQ(g_memManager->allocAligned(SIZE_MAX - 8, 64), nullptr);
}

TEST_F(MemManagerTest, SecondCreateKeepsTheFirstManager) {
  MemManager* first = g_memManager;
  first->setFlag(7);
  createMemManager();
  EXPECT_EQ(g_memManager, first);
  EXPECT_EQ(g_memManager->getFlag(), 7);
}

TEST(MemManagerLifecycle, HeapAndManagerBlocksAreInterchangeable) {
  destroyMemManager();
  ASSERT_EQ(g_memManager, nullptr);
  int* before = new int(1);
  createMemManager();
  ASSERT_NE(g_memManager, nullptr);
  EXPECT_EQ(g_memManager->getFlag(), 1);
  int* during = new int(2);
  delete before;
  destroyMemManager();
  EXPECT_EQ(g_memManager, nullptr);
  delete during;        // freed by the runtime heap, not by the destroyed manager
  destroyMemManager();  // a second destroy is harmless
  EXPECT_EQ(g_memManager, nullptr);
}

struct alignas(128) Wide {
  uint8_t bytes[200];
};

TEST_F(MemManagerTest, EveryOperatorNewFormWorks) {
  Wide* wide = new Wide;
  EXPECT_EQ(reinterpret_cast<uintptr_t>(wide) % 128, 0u);
  delete wide;

  Wide* wides = new Wide[3];
  EXPECT_EQ(reinterpret_cast<uintptr_t>(wides) % 128, 0u);
  delete[] wides;

  char* chars = new char[33];
  std::memset(chars, 'x', 33);
  delete[] chars;

  int* nothrow = new (std::nothrow) int(5);
  ASSERT_NE(nothrow, nullptr);
  delete nothrow;

  void* raw = ::operator new(0);
  EXPECT_NE(raw, nullptr);
  ::operator delete(raw, size_t(0));

  void* aligned = ::operator new(24, std::align_val_t(64), std::nothrow);
  ASSERT_NE(aligned, nullptr);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(aligned) % 64, 0u);
  ::operator delete(aligned, std::align_val_t(64), std::nothrow);

  void* sized = ::operator new[](48, std::align_val_t(32));
  ::operator delete[](sized, 48, std::align_val_t(32));
}

TEST_F(MemManagerTest, NothrowNewReportsExhaustionWithNull) {
  EXPECT_EQ(::operator new(g_hugeSize, std::nothrow), nullptr);
  EXPECT_EQ(::operator new[](g_hugeSize, std::nothrow), nullptr);
  EXPECT_EQ(::operator new(g_hugeSize, std::align_val_t(64), std::nothrow), nullptr);
}

TEST(MemManagerDeathTest, OperatorNewNeverReturnsNull) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // Plain and aligned forms, with and without a manager.
  EXPECT_DEATH(
      {
        createMemManager();
        void* p = ::operator new(g_hugeSize);
        std::fprintf(stderr, "returned %p\n", p);
      },
      "ERROR: out of memory allocating");
  EXPECT_DEATH(
      {
        destroyMemManager();
        void* p = ::operator new[](g_hugeSize, std::align_val_t(64));
        std::fprintf(stderr, "returned %p\n", p);
      },
      "ERROR: out of memory allocating");
}

// Many threads allocate, fill, check and free at once while they also count
// under a shared critical section; torn blocks or lost counts fail.
TEST_F(MemManagerTest, ManyThreadsAllocateAndLockAtOnce) {
  constexpr int kThreads = 8;
  constexpr int kRounds = 2000;
  CriticalSection counterLock;
  long counter = 0;
  std::vector<int> corrupt(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      std::vector<uint8_t*> live;
      uint32_t seed = 1234u + uint32_t(t);
      for (int i = 0; i < kRounds; ++i) {
        seed = seed * 1664525u + 1013904223u;
        size_t size = 1 + (seed >> 8) % 700;
        uint8_t* p = (i & 1) ? static_cast<uint8_t*>(g_memManager->alloc(size)) : new uint8_t[size];
        std::memset(p, uint8_t(t), size);
        live.push_back(p);
        counterLock.lock();
        counterLock.lock();  // re-entry by the holder
        ++counter;
        counterLock.unlock();
        counterLock.unlock();
        if (live.size() > 16) {
          uint8_t* old = live.front();
          if (old[0] != uint8_t(t)) {
            ++corrupt[t];
          }
          live.erase(live.begin());
          g_memManager->free(old);  // blocks from new[] and alloc meet the same heap
        }
      }
      for (uint8_t* p : live) {
        if (p[0] != uint8_t(t)) {
          ++corrupt[t];
        }
        g_memManager->free(p);
      }
    });
  }
  for (auto& thread : threads) {
    thread.join();
  }
  EXPECT_EQ(counter, long(kThreads) * kRounds);
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_EQ(corrupt[t], 0) << "thread " << t;
  }
}

}  // namespace
