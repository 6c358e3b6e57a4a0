// Game-step accumulation, frame cap and frame-rate text.
#include "system/framedriver.h"

#include <cstdio>

int GameStepClock::advance(uint64_t now, float timescale) {
  uint64_t elapsed = now - lastGameFrame_;
  lastGameFrame_ = now;
  float scaled = (float)elapsed * timescale;
  float total = accumulator_ + scaled;
  // NaN (a bad timescale) counts as no time at all.
  if (!(total >= 0.0f))
    total = 0.0f;
  if (total > kMaxGameAccumulator)
    total = kMaxGameAccumulator;
  int steps = 0;
  while (total >= (float)kGameStepMilliseconds) {
    total -= (float)kGameStepMilliseconds;
    ++steps;
  }
  accumulator_ = total;
  return steps;
}

int frameCapSleep(int maxFps, uint64_t previousFrameEnd, uint64_t now) {
  if (maxFps <= 0)
    return 0;
  int64_t wait = (int64_t)(1000 / maxFps) + (int64_t)previousFrameEnd - (int64_t)now;
  if (wait <= 0)
    return 0;
  return wait > kMaxFrameSleep ? kMaxFrameSleep : (int)wait;
}

FrameRateCounter::FrameRateCounter() {
  std::snprintf(text_, sizeof(text_), "fps: n/a");
}

void FrameRateCounter::reset(uint64_t now) {
  frames_ = 0;
  windowStart_ = now;
  rate_ = 0.0f;
  std::snprintf(text_, sizeof(text_), "fps: n/a");
}

void FrameRateCounter::frameEnded(uint64_t frameStart) {
  ++frames_;
  if (frameStart > windowStart_ && frameStart - windowStart_ > 999) {
    rate_ = (float)frames_ / ((float)(frameStart - windowStart_) / 1000.0f);
    std::snprintf(text_, sizeof(text_), "fps: %.1f", rate_);
    frames_ = 0;
    windowStart_ = frameStart;
  }
}
