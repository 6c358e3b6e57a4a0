#include "platform/clock.h"

#include <gtest/gtest.h>

TEST(PlatformClock, MonotonicAndSleepAdvances) {
  uint64_t a = platformNanoseconds();
  uint32_t ma = platformMilliseconds();
  platformSleepMilliseconds(5);
  uint64_t b = platformNanoseconds();
  EXPECT_GE(b - a, 5000000u) << "sleeping 5 ms must advance the clock by at least 5 ms";
  EXPECT_GE(uint32_t(platformMilliseconds() - ma), 4u);
}
