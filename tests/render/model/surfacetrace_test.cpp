// Segment and swept-segment traces against one surface: the plane crossing codes, the convex
// clip, nearest hits across triangles, back-face culling, the caller's best fraction carried
// from surface to surface, and random segments against a plain ray-triangle reference.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "lib/interface/rendermodelsystem.h"
#include "render/model/surfacetrace.h"

namespace {

// A surface built from plain arrays (the trace reads only bounds, vertices and indexes).
struct TestSurface {
  std::vector<DrawVertex> verts;
  std::vector<int> indexes;
  SurfaceGeometry geometry;

  void add(const Vec3& a, const Vec3& b, const Vec3& c) {
    for (const Vec3* p : {&a, &b, &c}) {
      DrawVertex v{};
      v.xyz[0] = p->x;
      v.xyz[1] = p->y;
      v.xyz[2] = p->z;
      indexes.push_back(static_cast<int>(verts.size()));
      verts.push_back(v);
    }
  }
  const SurfaceGeometry& finish() {
    geometry.verts = verts.data();
    geometry.numVerts = static_cast<int>(verts.size());
    geometry.indexes = indexes.data();
    geometry.numIndexes = static_cast<int>(indexes.size());
    geometry.bounds.clear();
    for (const DrawVertex& v : verts)
      geometry.bounds.addPoint(Vec3(v.xyz[0], v.xyz[1], v.xyz[2]));
    return geometry;
  }
};

// The unit square at height z, facing +z (two triangles, wound so their plane faces up).
void addFloor(TestSurface& s, float z) {
  s.add(Vec3(0, 0, z), Vec3(1, 0, z), Vec3(1, 1, z));
  s.add(Vec3(0, 0, z), Vec3(1, 1, z), Vec3(0, 1, z));
}

// Whichever way the polygon code winds its planes, the floor's plane must face +z for these
// tables; the test asserts it instead of assuming it.
Plane floorPlane(const SurfaceGeometry& g) {
  SurfaceTraceHit hit;
  float fraction = 1.0f;
  traceSurfaceTriangles(g, Vec3(0.25f, 0.5f, 1), Vec3(0.25f, 0.5f, -1), 0.0f, hit, fraction, false);
  return hit.plane;
}

TEST(PlaneSegmentFraction, CodesAndFractions) {
  const Plane up(Vec3(0, 0, 1), 0.0f);
  struct Case {
    Vec3 start, end;
    float epsilon;
    int code;
    float fraction;
  } cases[] = {
      {{0, 0, 1}, {0, 0, -1}, 0.0f, kCrossingEnters, 0.5f},
      {{0, 0, 1}, {0, 0, -1}, 0.5f, kCrossingEnters, 0.25f},
      {{0, 0, -1}, {0, 0, 1}, 0.0f, kCrossingBehind, 0.5f},
      {{0, 0, -1}, {0, 0, -3}, 0.0f, kCrossingBehind, -0.5f},  // behind and moving away
      {{0, 0, 0.1f}, {0, 0, -1}, 0.5f, kCrossingEnters, 0.0f},  // the bias would step back: clamped
      {{0, 0, 2}, {5, 0, 2}, 0.0f, kCrossingParallel, 1.0f},
  };
  for (const Case& c : cases) {
    Vec3 point;
    float f = -7.0f;
    EXPECT_EQ(planeSegmentFraction(up, c.start, c.end, point, &f, c.epsilon), c.code);
    EXPECT_NEAR(f, c.fraction, 1e-6f);
    if (c.code != kCrossingParallel)
      EXPECT_NEAR(up.distance(point), 0.0f, 1e-6f) << "the point is projected onto the plane";
    else
      EXPECT_EQ(point, c.end);
  }
}

TEST(ClipSegmentToPlanes, EntersTheNearestFaceOfABox) {
  Plane planes[6];
  Bounds(Vec3(-1, -1, -1), Vec3(1, 1, 1)).toPlanes(planes);
  SurfaceTraceHit hit;
  float fraction = 1.0f;
  ASSERT_TRUE(clipSegmentToPlanes(hit, planes, Vec3(-5, 0, 0), fraction, Vec3(5, 0, 0), 6));
  EXPECT_NEAR(fraction, 0.4f - 0.0001f, 1e-5f) << "the entry is biased back by the clip epsilon";
  EXPECT_NEAR(hit.plane.normal().x, -1.0f, 1e-6f);
  EXPECT_NEAR(hit.point.x, -1.0f - 0.001f, 1e-4f);

  float nearer = 0.2f;
  EXPECT_FALSE(clipSegmentToPlanes(hit, planes, Vec3(-5, 0, 0), nearer, Vec3(5, 0, 0), 6))
      << "a hit no nearer than the best so far is not taken";
  EXPECT_EQ(nearer, 0.2f);

  fraction = 1.0f;
  EXPECT_FALSE(clipSegmentToPlanes(hit, planes, Vec3(-5, 3, 0), fraction, Vec3(5, 3, 0), 6)) << "passes by";
  EXPECT_FALSE(clipSegmentToPlanes(hit, planes, Vec3(-5, 0, 0), fraction, Vec3(-3, 0, 0), 6)) << "stops short";

  fraction = 1.0f;
  ASSERT_TRUE(clipSegmentToPlanes(hit, planes, Vec3(0.5f, 0, 0), fraction, Vec3(5, 0, 0), 6));
  EXPECT_EQ(fraction, 0.0f) << "a start inside the volume hits at once";
  EXPECT_EQ(hit.point, Vec3(0.5f, 0, 0));
}

TEST(TraceSurfaceTriangles, NearestTriangleWinsAndTheCallersBestIsKept) {
  TestSurface s;
  addFloor(s, 0.0f);
  addFloor(s, 0.5f);
  const SurfaceGeometry& g = s.finish();
  ASSERT_GT(floorPlane(g).c, 0.99f) << "the fixture's triangles face +z";

  SurfaceTraceHit hit;
  float fraction = 1.0f;
  ASSERT_TRUE(traceSurfaceTriangles(g, Vec3(0.5f, 0.25f, 1), Vec3(0.5f, 0.25f, -1), 0.0f, hit, fraction, false));
  EXPECT_NEAR(fraction, 0.25f, 1e-6f) << "the upper floor is nearer";
  EXPECT_NEAR(hit.point.z, 0.5f, 1e-6f);
  EXPECT_EQ(hit.firstIndex, 6) << "first vertex index of the upper floor's first triangle";

  // Carried to a second surface that lies farther: nothing changes.
  TestSurface far;
  addFloor(far, -0.5f);
  SurfaceTraceHit kept = hit;
  EXPECT_FALSE(
      traceSurfaceTriangles(far.finish(), Vec3(0.5f, 0.25f, 1), Vec3(0.5f, 0.25f, -1), 0.0f, hit, fraction, false));
  EXPECT_NEAR(fraction, 0.25f, 1e-6f);
  EXPECT_EQ(hit.firstIndex, kept.firstIndex);
  EXPECT_EQ(hit.point, kept.point);

  // Misses: beside the surface, stopping short, parallel inside the plane.
  struct Miss {
    Vec3 start, end;
  } misses[] = {{{2, 2, 1}, {2, 2, -1}}, {{0.5f, 0.5f, 2}, {0.5f, 0.5f, 1}}, {{-1, 0.5f, 0}, {2, 0.5f, 0}}};
  for (const Miss& m : misses) {
    float f = 1.0f;
    EXPECT_FALSE(traceSurfaceTriangles(g, m.start, m.end, 0.0f, hit, f, false));
    EXPECT_EQ(f, 1.0f);
  }
}

TEST(TraceSurfaceTriangles, BackFacesAreSkippedWhenCulling) {
  TestSurface s;
  addFloor(s, 0.0f);
  const SurfaceGeometry& g = s.finish();
  for (float radius : {0.0f, 0.1f}) {
    SCOPED_TRACE(radius);
    SurfaceTraceHit hit;
    float fraction = 1.0f;
    EXPECT_FALSE(traceSurfaceTriangles(g, Vec3(0.5f, 0.5f, -1), Vec3(0.5f, 0.5f, 1), radius, hit, fraction, true));
    EXPECT_TRUE(traceSurfaceTriangles(g, Vec3(0.5f, 0.5f, -1), Vec3(0.5f, 0.5f, 1), radius, hit, fraction, false));
    EXPECT_LE(fraction, 0.5f) << "from below, the back side is hit at or before the plane";
    EXPECT_GT(fraction, 0.4f);
  }
}

TEST(TraceSurfaceTriangles, SweptSegmentsStopARadiusEarly) {
  TestSurface s;
  addFloor(s, 0.0f);
  const SurfaceGeometry& g = s.finish();

  SurfaceTraceHit hit;
  float fraction = 1.0f;
  ASSERT_TRUE(traceSurfaceTriangles(g, Vec3(0.5f, 0.5f, 1), Vec3(0.5f, 0.5f, -1), 0.25f, hit, fraction, false));
  EXPECT_NEAR(hit.point.z, 0.25f, 2e-3f) << "the sphere's centre stops a radius above the floor";

  // Beside the floor's edge by less than the radius: still a hit; by more: none.
  fraction = 1.0f;
  EXPECT_TRUE(traceSurfaceTriangles(g, Vec3(1.2f, 0.5f, 1), Vec3(1.2f, 0.5f, -1), 0.25f, hit, fraction, false));
  fraction = 1.0f;
  EXPECT_FALSE(traceSurfaceTriangles(g, Vec3(1.4f, 0.5f, 1), Vec3(1.4f, 0.5f, -1), 0.25f, hit, fraction, false));

  // A start already inside the grown triangle hits at once.
  fraction = 1.0f;
  ASSERT_TRUE(traceSurfaceTriangles(g, Vec3(0.5f, 0.5f, 0.1f), Vec3(0.5f, 0.5f, 1), 0.25f, hit, fraction, false));
  EXPECT_EQ(fraction, 0.0f);
  EXPECT_EQ(hit.point, Vec3(0.5f, 0.5f, 0.1f));
}

// Reference: the segment against each triangle with the plain ray-triangle test; slack widens
// (positive) or narrows (negative) every triangle by a barycentric margin.
bool referenceHit(const SurfaceGeometry& g, const Vec3& start, const Vec3& end, float slack, float& best) {
  best = 1.0f;
  const Vec3 dir = end - start;
  for (int i = 0; i + 2 < g.numIndexes; i += 3) {
    Vec3 p[3];
    for (int k = 0; k < 3; k++) {
      const float* xyz = g.verts[g.indexes[i + k]].xyz;
      p[k] = Vec3(xyz[0], xyz[1], xyz[2]);
    }
    const Vec3 e1 = p[1] - p[0], e2 = p[2] - p[0];
    const Vec3 h = dir.cross(e2);
    const float a = e1.dot(h);
    if (std::fabs(a) < 1e-9f)
      continue;
    const Vec3 s = start - p[0];
    const float u = s.dot(h) / a;
    const Vec3 q = s.cross(e1);
    const float v = dir.dot(q) / a;
    const float t = e2.dot(q) / a;
    if (u >= -slack && v >= -slack && u + v <= 1 + slack && t >= -slack && t <= 1 + slack)
      best = std::min(best, std::max(t, 0.0f));
  }
  return best < 1.0f;
}

TEST(TraceSurfaceTriangles, MatchesARayTriangleReferenceOnRandomSegments) {
  std::mt19937 rng(1234);
  std::uniform_real_distribution<float> coord(-4.0f, 4.0f);
  int hits = 0, misses = 0;
  for (int round = 0; round < 20; round++) {
    TestSurface s;
    for (int t = 0; t < 8; t++)
      s.add(Vec3(coord(rng), coord(rng), coord(rng)), Vec3(coord(rng), coord(rng), coord(rng)),
            Vec3(coord(rng), coord(rng), coord(rng)));
    const SurfaceGeometry& g = s.finish();
    for (int i = 0; i < 200; i++) {
      const Vec3 start(coord(rng) * 2, coord(rng) * 2, coord(rng) * 2);
      const Vec3 end(coord(rng) * 2, coord(rng) * 2, coord(rng) * 2);
      float narrow, wide;
      const bool narrowHit = referenceHit(g, start, end, -1e-3f, narrow);
      const bool wideHit = referenceHit(g, start, end, 1e-3f, wide);
      if (narrowHit != wideHit || std::fabs(narrow - wide) > 1e-3f)
        continue;  // grazes an edge or an end: either answer is right
      SurfaceTraceHit hit;
      float fraction = 1.0f;
      const bool got = traceSurfaceTriangles(g, start, end, 0.0f, hit, fraction, false);
      EXPECT_EQ(got, narrowHit) << "segment " << i << " of round " << round;
      if (got && narrowHit) {
        hits++;
        EXPECT_NEAR(fraction, narrow, 1e-4f);
      } else {
        misses++;
      }
    }
  }
  EXPECT_GT(hits, 100) << "the random cases must exercise hits";
  EXPECT_GT(misses, 100);
}

}  // namespace
