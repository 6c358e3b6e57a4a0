// Monotonic clocks and sleeping. The runtime's clock() is CPU time on Linux,
// so every engine time stamp comes from here instead.
#pragma once

#include <cstdint>

// Nanoseconds on the monotonic clock; the engine's high-resolution counter.
uint64_t platformNanoseconds();

// Milliseconds on the monotonic clock (the multimedia timer's stand-in).
uint32_t platformMilliseconds();

void platformSleepMilliseconds(int milliseconds);
