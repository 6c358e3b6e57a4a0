// Monotonic clocks over clock_gettime(CLOCK_MONOTONIC).
#include "platform/clock.h"

#include <time.h>

uint64_t platformNanoseconds() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return uint64_t(ts.tv_sec) * 1000000000ull + uint64_t(ts.tv_nsec);
}

uint32_t platformMilliseconds() {
  return uint32_t(platformNanoseconds() / 1000000ull);
}

void platformSleepMilliseconds(int milliseconds) {
  if (milliseconds <= 0) {
    return;
  }
  timespec ts;
  ts.tv_sec = milliseconds / 1000;
  ts.tv_nsec = long(milliseconds % 1000) * 1000000L;
  while (nanosleep(&ts, &ts) != 0) {
  }
}
