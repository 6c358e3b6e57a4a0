// Block processors: copies and fills over sizes and alignments with guard
// bytes around the destination, and the selection rule with its message.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "lib/simd.h"
#include "tests/support/capturecmdsystem.h"

namespace {

constexpr uint8_t kGuard = 0xCD;
constexpr size_t kGuardBytes = 64;

const size_t kSizes[] = {0,     1,     3,      7,      8,      15,     16,     17,     31,     63,
                         64,    65,    127,    200,    1000,   4095,   4096,   4097,   8191,   65535,
                         65536, 65537, 200000, 201728, 201729, 201791, 201792, 201857, 262144, 300001};
const size_t kOffsets[] = {0, 1, 3, 7, 8, 13};

std::vector<std::unique_ptr<SIMD_Processor>> allProcessors() {
  std::vector<std::unique_ptr<SIMD_Processor>> list;
  list.emplace_back(new SIMD_Generic(0));
  list.emplace_back(new SIMD_MMX(0x10));
  list.emplace_back(new SIMD_3DNow(0x30));
  return list;
}

TEST(SimdCopy, EverySizeAndAlignmentCopiesExactlyTheBlock) {
  std::vector<uint8_t> source(300001 + 64);
  for (size_t i = 0; i < source.size(); ++i) {
    source[i] = uint8_t(i * 7 + (i >> 8) + 1);
  }
  std::vector<uint8_t> target(300001 + 2 * kGuardBytes + 64);
  for (auto& processor : allProcessors()) {
    for (size_t size : kSizes) {
      for (size_t dstOffset : kOffsets) {
        for (size_t srcOffset : {size_t(0), size_t(3), size_t(8), size_t(13)}) {
          std::memset(target.data(), kGuard, target.size());
          uint8_t* dst = target.data() + kGuardBytes + dstOffset;
          const uint8_t* src = source.data() + srcOffset;
          processor->memcpy(dst, src, size);
          ASSERT_EQ(std::memcmp(dst, src, size), 0)
              << processor->getName() << " size " << size << " dst+" << dstOffset << " src+" << srcOffset;
          for (size_t g = 0; g < kGuardBytes; ++g) {
            ASSERT_EQ(dst[-1 - ptrdiff_t(g)], kGuard)
                << processor->getName() << " wrote before, size " << size;
            ASSERT_EQ(dst[size + g], kGuard) << processor->getName() << " wrote past, size " << size;
          }
        }
      }
    }
  }
}

TEST(SimdFill, EverySizeAndAlignmentFillsExactlyTheBlock) {
  std::vector<uint8_t> target(300001 + 2 * kGuardBytes + 64);
  for (auto& processor : allProcessors()) {
    for (size_t size : kSizes) {
      for (size_t offset : kOffsets) {
        std::memset(target.data(), kGuard, target.size());
        uint8_t* dst = target.data() + kGuardBytes + offset;
        const int value = 0x1A7;  // only the low byte counts
        processor->memset(dst, value, size);
        for (size_t i = 0; i < size; ++i) {
          ASSERT_EQ(dst[i], 0xA7) << processor->getName() << " size " << size << " at " << i;
        }
        for (size_t g = 0; g < kGuardBytes; ++g) {
          ASSERT_EQ(dst[-1 - ptrdiff_t(g)], kGuard) << processor->getName() << " size " << size;
          ASSERT_EQ(dst[size + g], kGuard) << processor->getName() << " size " << size;
        }
      }
    }
  }
}

class SimdSelect : public ::testing::Test {
 protected:
  void SetUp() override { SIMD_Processor::init(); }
  void TearDown() override { SIMD_Processor::shutdown(); }
  CaptureCmdSystem console;
};

TEST_F(SimdSelect, RuleAndAnnouncement) {
  const struct {
    bool forceGeneric;
    int flags;
    const char* name;
  } cases[] = {
      {false, 0x10, "SIMD_MMX"},     {false, 0x30, "SIMD_3DNow"},
      {false, 0x20, "SIMD_Generic"}, {false, 0x04 | 0x40 | 0x80, "SIMD_Generic"},
      {true, 0x30, "SIMD_Generic"},  {false, 0x0, "SIMD_Generic"},
  };
  for (const auto& c : cases) {
    SIMD_Processor::shutdown();
    EXPECT_STREQ(g_simd->getName(), "SIMD_Generic");
    console.text.clear();
    SIMD_Processor::select(c.forceGeneric, c.flags);
    EXPECT_STREQ(g_simd->getName(), c.name) << std::hex << c.flags;
    if (std::strcmp(c.name, "SIMD_Generic") == 0) {
      EXPECT_EQ(console.text, "");
      EXPECT_EQ(g_simd->getCpuFlags(), 0) << "the static processor records no flags";
    } else {
      EXPECT_EQ(console.text, std::string("using ") + c.name + " for SIMD processing\n");
      EXPECT_EQ(g_simd->getCpuFlags(), c.flags);
    }
  }
}

TEST_F(SimdSelect, SecondSelectWithSameFlagsKeepsTheProcessorQuietly) {
  SIMD_Processor::select(false, 0x10);
  SIMD_Processor* first = g_simd;
  console.text.clear();
  SIMD_Processor::select(false, 0x10);
  EXPECT_EQ(g_simd, first);
  EXPECT_EQ(console.text, "");
  SIMD_Processor::select(false, 0x30);
  EXPECT_STREQ(g_simd->getName(), "SIMD_3DNow");
  EXPECT_EQ(console.text, "using SIMD_3DNow for SIMD processing\n");
  console.text.clear();
  SIMD_Processor::select(false, 0x0);
  EXPECT_STREQ(g_simd->getName(), "SIMD_Generic");
  EXPECT_EQ(console.text, "using SIMD_Generic for SIMD processing\n");
}

TEST_F(SimdSelect, FlushToZeroAndDenormalMessages) {
  SIMD_Processor::select(false, 0x10 | 0x4000 | 0x8000);
  EXPECT_EQ(
      console.text,
      "using SIMD_MMX for SIMD processing\nenabled Flush-To-Zero mode\nenabled Denormals-Are-Zero mode\n");
}

TEST_F(SimdSelect, DetectedFlagsPickMMXOnThisMachine) {
  SIMD_Processor::select(false);
  EXPECT_STREQ(g_simd->getName(), "SIMD_MMX") << "x86-64 always reports MMX and never 3DNow! here";
  SIMD_Processor::shutdown();
  EXPECT_STREQ(g_simd->getName(), "SIMD_Generic");
  uint8_t a[32] = {1, 2, 3}, b[32];
  g_simd->memcpy(b, a, sizeof(a));
  EXPECT_EQ(std::memcmp(a, b, sizeof(a)), 0);
}

TEST(SimdSelectWithoutConsole, SelectionWorksSilently) {
  CmdSystem* saved = g_cmdSystem;
  g_cmdSystem = nullptr;
  SIMD_Processor::select(false, 0x10);
  EXPECT_STREQ(g_simd->getName(), "SIMD_MMX");
  SIMD_Processor::shutdown();
  g_cmdSystem = saved;
}

}  // namespace
