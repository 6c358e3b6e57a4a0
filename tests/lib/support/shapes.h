// Test outlines: random convex polygons, L-shapes, combs and spirals, placed
// in arbitrary planes, and the area/facing checks of their triangulations; random unit vectors.
#pragma once

#include <cmath>
#include <random>
#include <vector>

#include "lib/list.h"
#include "lib/matrix.h"
#include "lib/vector.h"

namespace shapes {

// A direction spread evenly over the sphere.
inline Vec3 randomUnit(std::mt19937& rng) {
  std::normal_distribution<float> n(0.0f, 1.0f);
  Vec3 v;
  do
    v = Vec3(n(rng), n(rng), n(rng));
  while (v.length() < 0.01f);
  v.normalize();
  return v;
}

// Outlines in the xy plane, counter-clockwise seen from +z.
inline std::vector<Vec3> convex(std::mt19937& rng, int n, float radius = 10.0f) {
  std::uniform_real_distribution<float> u(0.0f, 1.0f);
  std::vector<float> ang(static_cast<size_t>(n));
  // Distinct angles spread over the circle keep every corner strictly convex.
  for (int i = 0; i < n; i++)
    ang[size_t(i)] = (float(i) + 0.15f + 0.7f * u(rng)) * (6.2831853f / float(n));
  std::vector<Vec3> pts;
  for (float a : ang)
    pts.emplace_back(radius * std::cos(a), radius * std::sin(a), 0.0f);
  return pts;
}

inline std::vector<Vec3> lShape() {
  return {{0, 0, 0}, {2, 0, 0}, {2, 1, 0}, {1, 1, 0}, {1, 2, 0}, {0, 2, 0}};
}

// A comb: teeth of width 1 and height 3 hanging from a bar of height 1.
inline std::vector<Vec3> comb(int teeth) {
  std::vector<Vec3> pts;
  for (int t = 0; t < teeth; t++) {
    const float x = float(2 * t);
    if (t > 0)
      pts.emplace_back(x, 3.0f, 0.0f);
    pts.emplace_back(x, 0.0f, 0.0f);
    pts.emplace_back(x + 1.0f, 0.0f, 0.0f);
    if (t + 1 < teeth)
      pts.emplace_back(x + 1.0f, 3.0f, 0.0f);
  }
  pts.emplace_back(float(2 * teeth - 1), 4.0f, 0.0f);
  pts.emplace_back(0.0f, 4.0f, 0.0f);
  return pts;
}

// A thick spiral band: out along the outer edge, back along the inner one.
inline std::vector<Vec3> spiral(int stepsPerSide) {
  std::vector<Vec3> pts;
  const float turns = 1.6f * 6.2831853f;
  for (int i = 0; i < stepsPerSide; i++) {
    const float a = turns * float(i) / float(stepsPerSide - 1);
    const float r = 2.0f + 0.9f * a;
    pts.emplace_back(r * std::cos(a), r * std::sin(a), 0.0f);
  }
  for (int i = stepsPerSide - 1; i >= 0; i--) {
    const float a = turns * float(i) / float(stepsPerSide - 1);
    const float r = 1.0f + 0.9f * a;
    pts.emplace_back(r * std::cos(a), r * std::sin(a), 0.0f);
  }
  return pts;
}

// Signed area in the xy plane (positive counter-clockwise).
inline double shoelace(const std::vector<Vec3>& pts) {
  double a = 0;
  for (size_t i = 0; i < pts.size(); i++) {
    const Vec3& p = pts[i];
    const Vec3& q = pts[(i + 1) % pts.size()];
    a += double(p.x) * q.y - double(q.x) * p.y;
  }
  return a * 0.5;
}

inline std::vector<Vec3> reversed(std::vector<Vec3> pts) {
  std::vector<Vec3> r(pts.rbegin(), pts.rend());
  return r;
}

inline std::vector<Vec3> placed(const std::vector<Vec3>& pts, const Mat3& axis, const Vec3& origin) {
  std::vector<Vec3> r;
  for (const Vec3& p : pts)
    r.push_back(origin + axis.transform(p));
  return r;
}

// Sum of triangle areas, and whether every triangle faces along the normal.
struct Coverage {
  double area = 0;
  int wrongFacing = 0;
  int triangles = 0;
};

inline Coverage cover(const Vec3* points, int numPoints, const List<int>& idx, const Vec3& normal) {
  Coverage c;
  for (int i = 0; i + 2 < idx.num(); i += 3) {
    if (idx[i] < 0 || idx[i + 1] < 0 || idx[i + 2] < 0 || idx[i] >= numPoints || idx[i + 1] >= numPoints ||
        idx[i + 2] >= numPoints) {
      c.wrongFacing++;
      continue;
    }
    const Vec3 n = (points[idx[i + 1]] - points[idx[i]]).cross(points[idx[i + 2]] - points[idx[i]]);
    c.area += 0.5 * double(n.length());
    if (n.dot(normal) <= 0.0f)
      c.wrongFacing++;
    c.triangles++;
  }
  return c;
}

}  // namespace shapes
