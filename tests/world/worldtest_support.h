// Shared fixtures of the world tests: views and the three-room sample map.
#pragma once

#include <cmath>
#include <fstream>
#include <sstream>
#include <string>

#include <vector>

#include "lib/interface/rendersystem.h"
#include "lib/interface/spatialsystem.h"
#include "lib/polygon.h"
#include "tests/support/nullrender.h"

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

// A scene renderer that records the debug primitives drawn through it; installed as
// g_renderSystem for its lifetime.
class DebugRecorder : public NullRenderSystem {
 public:
  struct Polygon {
    Vec4 color;
    ConvexPolygon winding;
    Vec3 origin;
    Mat3 axis;
    int flag;
    int lifetime;
    bool depthTest;
  };
  struct Arrow {
    Vec4 color;
    Vec3 start, end;
    int size;
  };
  struct Box {
    Vec4 color;
    Bounds bounds;
    Vec3 origin;
  };
  DebugRecorder() : previous_(g_renderSystem) { g_renderSystem = this; }
  ~DebugRecorder() override { g_renderSystem = previous_; }

  void viewOrigin(float out[3]) override {
    out[0] = view.x;
    out[1] = view.y;
    out[2] = view.z;
  }
  void debugPolygon(const float* c, const ConvexPolygon& w, const Vec3& origin, const Mat3& axis, bool flag,
                    int lifetime, bool depthTest) override {
    polygons.push_back({Vec4(c[0], c[1], c[2], c[3]), w, origin, axis, flag, lifetime, depthTest});
  }
  void debugArrow(const float* c, const Vec3& start, const Vec3& end, int size, int, bool) override {
    arrows.push_back({Vec4(c[0], c[1], c[2], c[3]), start, end, size});
  }
  void debugBounds(const float* c, const Bounds& b, const Vec3& origin, bool, int, bool) override {
    boxes.push_back({Vec4(c[0], c[1], c[2], c[3]), b, origin});
  }

  Vec3 view;
  std::vector<Polygon> polygons;
  std::vector<Arrow> arrows;
  std::vector<Box> boxes;

 private:
  RenderSystem* previous_;
};

}  // namespace worldtest
