// The frame driver's clocks: the fixed 16 ms game step with its clamped
// accumulator, the frame-rate cap and the frame-rate counter. Time comes in as
// plain milliseconds so tests can drive it with a made-up clock.
#pragma once

#include <cstdint>

constexpr int kGameStepMilliseconds = 16;
constexpr float kMaxGameAccumulator = 40.0f;
constexpr int kMaxFrameSleep = 50;

// The clock and the sleep the frame uses; tests inject their own.
struct FrameClock {
  uint32_t (*now)() = nullptr;
  void (*sleep)(int milliseconds) = nullptr;
};

class GameStepClock {
 public:
  // Adds the real time since the previous call, scaled by the timescale, to
  // the accumulator (clamped to 0..40 ms) and returns the number of 16 ms
  // steps due now, taking them from the accumulator.
  int advance(uint64_t now, float timescale);

  float accumulator() const { return accumulator_; }
  uint64_t lastGameFrame() const { return lastGameFrame_; }
  void reset(uint64_t now) {
    accumulator_ = 0.0f;
    lastGameFrame_ = now;
  }

 private:
  float accumulator_ = 0.0f;
  uint64_t lastGameFrame_ = 0;
};

// Milliseconds to sleep so frames start 1000 / maxFps ms apart: never more than
// 50 in one sleep, 0 when the frame is already late or no cap applies.
int frameCapSleep(int maxFps, uint64_t previousFrameEnd, uint64_t now);

// "fps: %.1f" over windows of at least one second; "fps: n/a" before the first.
class FrameRateCounter {
 public:
  FrameRateCounter();
  // Counts a frame that began at `frameStart`; closes the window when more
  // than 999 ms have passed since it began.
  void frameEnded(uint64_t frameStart);
  const char* text() const { return text_; }
  float rate() const { return rate_; }
  void reset(uint64_t now);

 private:
  int frames_ = 0;
  uint64_t windowStart_ = 0;
  float rate_ = 0.0f;
  char text_[256];
};
