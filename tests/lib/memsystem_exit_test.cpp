// A process that creates the memory manager and exits without destroying it:
// allocations from atexit handlers and static destructors that run after the
// foundation's own must still work (the sanitizers abort otherwise).
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "lib/criticalsection.h"
#include "lib/interface/memsystem.h"

namespace {

// Registered before any other translation unit's statics, so it runs after
// all of their destructors: the last code of the process.
void allocateAtTheVeryEnd() {
  std::string* text = new std::string(64, 'x');
  delete text;
  g_memLock.lock();
  g_memLock.unlock();
}

__attribute__((constructor(101))) void registerLateAllocation() {
  std::atexit(allocateAtTheVeryEnd);
}

TEST(MemManagerExit, ExitingWithTheManagerAliveIsClean) {
  EXPECT_EXIT(
      {
        createMemManager();
        void* block = g_memManager->alloc(100);
        g_memManager->free(block);
        std::exit(3);
      },
      ::testing::ExitedWithCode(3), "");
}

}  // namespace

// The test process itself ends the same way: the manager stays alive.
int main(int argc, char** argv) {
  createMemManager();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
