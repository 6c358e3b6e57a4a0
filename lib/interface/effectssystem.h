// The effects manager's interface, as far as the engine core calls it; the
// effects subsystem extends it. Absent (null) until built.
#pragma once

class EffectsSystem {
 public:
  virtual ~EffectsSystem() = default;

  // Deletes every running effect (first in the common manager's shutdown).
  virtual void shutdown() = 0;
};

inline EffectsSystem* g_effectsSystem = nullptr;
