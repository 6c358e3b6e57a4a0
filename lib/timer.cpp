// Timers over the platform's monotonic clocks.
#include "lib/timer.h"

#include "platform/clock.h"

namespace {
constexpr double kCounterFrequency = 1e9;
}

void Timer::init() {
  // The monotonic clock cannot fail to answer, so the old query retries are moot.
  frequency = kCounterFrequency;
  startCounter = platformNanoseconds();
  total = 0;
  stopped = false;
}

void Timer::start() {
  if (stopped) {
    startCounter = platformNanoseconds();
    stopped = false;
  }
}

uint64_t Timer::elapsed() {
  if (stopped) {
    return total;
  }
  uint64_t now = platformNanoseconds();
  if (now <= startCounter) {
    return total;
  }
  uint64_t counts = now - startCounter;
  uint64_t ms = uint64_t(double(counts) / frequency * 1000.0);
  uint64_t consumed = uint64_t(double(ms) * frequency / 1000.0);
  // Guard the double rounding: never consume more than has passed.
  while (consumed > counts && ms > 0) {
    --ms;
    consumed = uint64_t(double(ms) * frequency / 1000.0);
  }
  total += ms;
  startCounter += consumed;
  return total;
}

double Timer::getCounter() {
  return double(platformNanoseconds());
}

void ClockTimer::reset() {
  startTime = platformMilliseconds();
  total = 0;
  stopped = false;
}

void ClockTimer::start() {
  if (stopped) {
    startTime = platformMilliseconds();
    stopped = false;
  }
}

uint64_t ClockTimer::elapsedMilliseconds() {
  if (!stopped) {
    uint32_t now = platformMilliseconds();
    // 32-bit difference: correct across the clock's wrap.
    total += uint32_t(now - uint32_t(startTime));
    startTime = now;
  }
  return total;
}
