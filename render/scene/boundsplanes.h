// Culling test the scene renderer's shadow passes share; private to render/scene.
#pragma once

#include <cmath>

#include "lib/vector.h"

// False when the box lies wholly on the outer side of any of the six planes.
inline bool boundsInsidePlanes(const Bounds& b, const Plane planes[6]) {
  const Vec3 c = b.center();
  const Vec3 h = b.halfSize();
  for (int i = 0; i < 6; ++i) {
    const Vec3 n = planes[i].normal();
    if (planes[i].distance(c) - (std::fabs(n.x) * h.x + std::fabs(n.y) * h.y + std::fabs(n.z) * h.z) > 0.0f) {
      return false;
    }
  }
  return true;
}
