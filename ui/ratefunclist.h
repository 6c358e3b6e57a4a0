// Rate functions: callbacks stepped once per interface frame with the time since their start,
// which drive variable transitions. One list lives in the user-interface manager.
#pragma once

#include <cstddef>
#include <vector>

// Returns false to end the function at this step.
using RateFuncCallback = bool (*)(void* payload, int elapsed, int delta);

struct RateFunc {
  // Room for a transition's own state (window, variable name, from, to, timing).
  static constexpr int kPayloadSize = 256;

  RateFuncCallback callback = nullptr;
  alignas(8) unsigned char payload[kPayloadSize] = {};
  int start = 0;
  int duration = 0;  // -1: endless
  int id = 0;
};

class RateFuncList {
 public:
  // The new function's id, or 0 after a message (no callback, or a payload larger than the
  // node). A start of 0 means the time of the last update; a negative duration is endless.
  int RFCreateFunc(RateFuncCallback callback, const void* payload, int payloadSize, int start,
                   int duration);
  // Id 0 does nothing.
  void remove(int id);
  // Steps every function whose start lies before now, last to first; ends those whose duration
  // has passed or whose callback returned false.
  void update(int now);
  void reset();

  int lastUpdateTime() const { return time_; }
  int count() const { return int(nodes_.size()); }
  // The node of an id, or null (valid until the list changes).
  RateFunc* find(int id);

 private:
  int time_ = 0;
  std::vector<RateFunc> nodes_;
};

// The id the next function gets: starts at 1, never 0.
extern int g_rateFuncNextId;
