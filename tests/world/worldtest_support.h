// Shared fixtures of the world tests: views and the three-room sample map.
#pragma once

#include <cmath>
#include <fstream>
#include <sstream>
#include <string>

#include "lib/interface/spatialsystem.h"

namespace worldtest {

// A view at `origin` looking along `forward` (unit, axial or not) with a 90-degree field of view;
// planes face out of the frustum.
inline SpatialView makeView(const Vec3& origin, const Vec3& forward, float farDist = 10000.0f) {
  Vec3 up(0, 0, 1);
  if (std::fabs(forward.z) > 0.9f)
    up = Vec3(1, 0, 0);
  Vec3 right = forward.cross(up);
  right.normalize();
  up = right.cross(forward);
  SpatialView v;
  v.origin = origin;
  auto plane = [&](Vec3 n, const Vec3& through) {
    n.normalize();
    return Plane(n, n.dot(through));
  };
  v.frustum[0] = plane(forward * -1.0f, origin + forward * 1.0f);
  v.frustum[1] = plane(right - forward, origin);
  v.frustum[2] = plane(right * -1.0f - forward, origin);
  v.frustum[3] = plane(up - forward, origin);
  v.frustum[4] = plane(up * -1.0f - forward, origin);
  v.frustum[5] = plane(forward, origin + forward * farDist);
  v.viewDistance = farDist;
  return v;
}

inline std::string readSourceFile(const char* relative) {
  std::ifstream in(std::string(QUILL_SOURCE_DIR) + "/" + relative, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace worldtest
