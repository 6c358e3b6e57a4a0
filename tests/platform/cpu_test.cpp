// Processor identification and the flag word built from it.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/cpu.h"

namespace {

PlatformCpuInfo makeInfo(const char* vendor, uint32_t edx) {
  PlatformCpuInfo info{};
  info.available = true;
  std::strncpy(info.vendor, vendor, 12);
  info.leaf1Edx = edx;
  return info;
}

TEST(PlatformCpu, FlagWordFromIdentification) {
  const uint32_t mmx = 1u << 23, sse = 1u << 25, sse2 = 1u << 26, ht = 1u << 28, cmov = 1u << 15;
  const struct {
    const char* vendor;
    uint32_t edx;
    int flags;
  } cases[] = {
      {"GenuineIntel", mmx | sse | sse2 | ht | cmov, 0x4 | 0x10 | 0x40 | 0x80 | 0x1000 | 0x2000},
      {"AuthenticAMD", mmx | ht, 0x8 | 0x10},
      {"AMD ISBETTER", mmx | sse | ht, 0x8 | 0x10 | 0x40},
      {"CentaurHauls", mmx | ht, 0x2 | 0x10},
      {"GenuineIntel", 0, 0x4},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(platformCpuFlagsFrom(makeInfo(c.vendor, c.edx)), c.flags) << c.vendor;
  }
  PlatformCpuInfo none{};
  EXPECT_EQ(platformCpuFlagsFrom(none), 0);
}

TEST(PlatformCpu, ThisMachine) {
  const PlatformCpuInfo& info = platformCpuInfo();
  ASSERT_TRUE(info.available);
  EXPECT_EQ(std::strlen(info.vendor), 12u);
  int flags = platformCpuFlags();
  EXPECT_TRUE(flags & CPUFLAG_MMX);
  EXPECT_TRUE(flags & CPUFLAG_SSE2) << "every x86-64 processor has SSE2";
  EXPECT_FALSE(flags & (CPUFLAG_3DNOW | CPUFLAG_FTZ | CPUFLAG_DAZ));
  EXPECT_EQ(&platformCpuInfo(), &info);
}

}  // namespace
