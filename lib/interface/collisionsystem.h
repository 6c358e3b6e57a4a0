// The collision manager's interface, as far as the engine core calls it; the
// collision subsystem extends it. Absent (null) until built.
#pragma once

class CollisionSystem {
 public:
  virtual ~CollisionSystem() = default;

  // Frees every collision model (after a map load and when a map goes).
  virtual void freeModels() = 0;
};

inline CollisionSystem* g_collisionSystem = nullptr;
