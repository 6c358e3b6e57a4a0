// Vectors, planes, bounds and the free geometric tests.
#include "lib/vector.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>

#include "lib/matrix.h"
#include "support/shapes.h"

namespace {

const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kInf = std::numeric_limits<float>::infinity();

using shapes::randomUnit;

Vec3 randomPoint(std::mt19937& rng, float range) {
  std::uniform_real_distribution<float> u(-range, range);
  return Vec3(u(rng), u(rng), u(rng));
}

bool contains(const Bounds& b, const Vec3& p, float eps) {
  return p.x >= b.mins.x - eps && p.y >= b.mins.y - eps && p.z >= b.mins.z - eps && p.x <= b.maxs.x + eps &&
         p.y <= b.maxs.y + eps && p.z <= b.maxs.z + eps;
}

}  // namespace

TEST(Vec3, NormalizeAndLengths) {
  Vec3 v(3, 4, 0);
  EXPECT_EQ(v.normalize(), 5.0f);
  EXPECT_FLOAT_EQ(v.length(), 1.0f);
  Vec3 tiny(1e-7f, 0, 0);
  EXPECT_EQ(tiny.normalize(), 0.0f);
  EXPECT_EQ(tiny, Vec3(1e-7f, 0, 0)) << "vectors shorter than 1e-6 are left unchanged";
  Vec3 f(0, 3, 4);
  EXPECT_NEAR(f.normalizeFast(), 5.0f, 1e-4f);
  EXPECT_NEAR(f.length(), 1.0f, 1e-5f);
  Vec3 z;
  EXPECT_EQ(z.normalizeFast(), 0.0f);
  EXPECT_EQ(z, Vec3());
  Vec3 nan(kNaN, 0, 0);
  EXPECT_EQ(nan.normalize(), 0.0f);
}

TEST(Vec3, MajorAxisSnapAndCompare) {
  EXPECT_EQ(Vec3(1, 1, 1).majorAxis(), 0);
  EXPECT_EQ(Vec3(0, 2, 2).majorAxis(), 1);
  Vec3 unit;
  EXPECT_EQ(Vec3(0, -1, -3).majorAxis(&unit), 2);
  EXPECT_EQ(unit, Vec3(0, 0, 1));

  struct Case {
    Vec3 in, out;
    bool changed;
  } cases[] = {
      {{0, 0, 5}, {0, 0, 1}, true},
      {{0, -2, 0}, {0, -1, 0}, true},
      {{0.5f, 0, 0}, {1, 0, 0}, true},
      {{0, 0, 0}, {0, 0, -1}, true},
      {{1, 0, 0}, {1, 0, 0}, false},
      {{1, 0.1f, 0}, {1, 0, 0}, true},
      {{0.3f, 0.4f, 0.5f}, {0.3f, 0.4f, 0.5f}, false},
  };
  for (const Case& c : cases) {
    Vec3 v = c.in;
    EXPECT_EQ(v.snapToAxis(), c.changed) << v.toString();
    EXPECT_EQ(v, c.out);
  }
  EXPECT_TRUE(Vec3(1, 2, 3).compare(Vec3(1.05f, 2, 2.95f), 0.1f));
  EXPECT_FALSE(Vec3(1, 2, 3).compare(Vec3(1.2f, 2, 3), 0.1f));
  Vec3 s(1.26f, -0.74f, 0.5f);
  s.snap(2.0f);
  EXPECT_EQ(s, Vec3(1.5f, -0.5f, 0.5f));
  EXPECT_EQ(std::string(Vec3(1, 2.5f, -3).toString(1)), "1.0 2.5 -3.0");
}

TEST(Vec3, OrthogonalAndToMat3AreOrthonormal) {
  std::mt19937 rng(7);
  for (int i = 0; i < 500; i++) {
    const Vec3 v = randomUnit(rng);
    const Vec3 o = v.orthogonal();
    EXPECT_NEAR(o.length(), 1.0f, 1e-5f);
    EXPECT_NEAR(o.dot(v), 0.0f, 1e-5f);
    const Mat3 m = v.toMat3();
    EXPECT_TRUE(m[0].compare(v, 1e-6f)) << "row 0 is the vector (normalised again)";
    EXPECT_NEAR(m[1].length(), 1.0f, 1e-5f);
    EXPECT_NEAR(m[2].length(), 1.0f, 1e-5f);
    EXPECT_NEAR(m[0].dot(m[1]), 0.0f, 1e-5f);
    EXPECT_NEAR(m[1].dot(m[2]), 0.0f, 1e-5f);
  }
  const Mat3 up = Vec3(0, 0, 1).toMat3();
  EXPECT_EQ(up[1], Vec3(1, 0, 0));
  EXPECT_EQ(up[2], Vec3(0, 1, 0));
}

TEST(Vec3, ToMat3NormalisesRowZeroOfLongAndShortVectors) {
  const Vec3 cases[] = {Vec3(3, 4, 0), Vec3(0, 0, -7), Vec3(0.01f, -0.02f, 0.03f), Vec3(100, 50, -20)};
  for (const Vec3& v : cases) {
    const Mat3 m = v.toMat3();
    EXPECT_TRUE(m[0].compare(v.normalized(), 1e-6f)) << v.x << " " << v.y << " " << v.z;
    for (int r = 0; r < 3; ++r)
      EXPECT_NEAR(m[r].length(), 1.0f, 1e-5f) << "row " << r;
    EXPECT_NEAR(m[0].dot(m[1]), 0.0f, 1e-5f);
    EXPECT_NEAR(m[0].dot(m[2]), 0.0f, 1e-5f);
    EXPECT_NEAR(m[1].dot(m[2]), 0.0f, 1e-5f);
  }
  EXPECT_TRUE(Vec3(0, 0, 5).toMat3().compare(Vec3(0, 0, 1).toMat3(), 0.0f)) << "the straight-up case";
}

TEST(Vec3, AnglesAndAngleBytes) {
  const Angles a = Vec3(0, 1, 0).toAngles();
  EXPECT_EQ(a.yaw, 90.0f);
  EXPECT_EQ(a.pitch, 0.0f);
  EXPECT_EQ(Vec3(0, -1, 0).toAngles().yaw, 270.0f);
  EXPECT_EQ(Vec3(0, 0, 1).toAngles().pitch, 90.0f);
  EXPECT_EQ(Vec3(0, 0, -1).toAngles().pitch, 270.0f);
  EXPECT_EQ(Vec3(1, 0, -1).toAngles().pitch, 315.0f);

  uint8_t b[2];
  Vec3(0, 0, 1).toAngleBytes(b);
  EXPECT_EQ(b[0], 0);
  EXPECT_EQ(b[1], 0);
  Vec3(0, 0, -1).toAngleBytes(b);
  EXPECT_EQ(b[0], 128);
  Vec3(0, 1, 0).toAngleBytes(b);
  EXPECT_EQ(b[0], 64);
  EXPECT_EQ(b[1], 64);
  Vec3(0, -1, 0).toAngleBytes(b);
  EXPECT_EQ(b[1], 192) << "a quarter turn clockwise wraps to 192";
  // z just beyond 1 (an unnormalised input): acos is clamped, no NaN byte.
  Vec3(1e-4f, 0, 1.0001f).toAngleBytes(b);
  EXPECT_EQ(b[0], 0);
  Vec3(kNaN, kNaN, kNaN).toAngleBytes(b);  // must not crash
}

TEST(Vec3, Lerp) {
  const Vec3 a(0, 0, 0), b(2, 4, 6);
  EXPECT_EQ(Vec3::lerp(a, b, -1), a);
  EXPECT_EQ(Vec3::lerp(a, b, 2), b);
  EXPECT_EQ(Vec3::lerp(a, b, 0.5f), Vec3(1, 2, 3));
}

TEST(Plane, DistanceProjectCompareFromPoints) {
  Plane p(0, 0, 1, 2);
  EXPECT_EQ(p.distance(Vec3(5, 5, 5)), 3.0f);
  EXPECT_EQ(p.projectPoint(Vec3(1, 1, 7)), Vec3(1, 1, 2));
  p.negate();
  EXPECT_EQ(p.distance(Vec3(5, 5, 5)), -3.0f);
  EXPECT_TRUE(Plane(0, 0, 1, 2).compare(Plane(0, 0.00001f, 1, 2.0005f), 0.0001f, 0.001f));
  EXPECT_FALSE(Plane(0, 0, 1, 2).compare(Plane(0, 0, 1, 2.002f), 0.0001f, 0.001f));
  EXPECT_FALSE(Plane(0, 0, 1, 0.5f).compare(Plane(0, 0, 1, 0.5f + 0.0009765625f), 0.0001f, 0.0009765625f))
      << "distance epsilon is exclusive";
  Plane q;
  ASSERT_TRUE(q.fromPoints(Vec3(0, 0, 1), Vec3(1, 0, 1), Vec3(0, 1, 1)));
  EXPECT_EQ(q.normal(), Vec3(0, 0, 1)) << "counter-clockwise points face the viewer";
  EXPECT_EQ(q.d, 1.0f);
  EXPECT_FALSE(q.fromPoints(Vec3(0, 0, 0), Vec3(1, 1, 1), Vec3(2, 2, 2)));
  EXPECT_EQ(q, Plane());
}

TEST(Bounds, ClearAddShrinkExpand) {
  Bounds b;
  EXPECT_TRUE(b.isCleared());
  b.addPoint(Vec3(1, 2, 3));
  EXPECT_EQ(b, Bounds(Vec3(1, 2, 3), Vec3(1, 2, 3)));
  Bounds u(Vec3(0, 0, 0), Vec3(1, 1, 1));
  u.shrink(Vec3(1, 1, 1));
  EXPECT_TRUE(u.isCleared());
  Bounds t(Vec3(0, 0, 0), Vec3(2, 2, 2));
  t.shrink(Vec3(1, 1, 1));
  EXPECT_EQ(t, Bounds::fromPoint(Vec3(1, 1, 1)));
  EXPECT_EQ(Bounds::fromSize(0), Bounds(Vec3(), Vec3()));
  EXPECT_EQ(Bounds::fromSize(4), Bounds(Vec3(-2, -2, -2), Vec3(2, 2, 2)));
  EXPECT_EQ(t.expanded(0), t);
  EXPECT_EQ(Bounds(Vec3(0, 0, 0), Vec3(2, 2, 2)).expanded(-0.5f),
            Bounds(Vec3(0.5f, 0.5f, 0.5f), Vec3(1.5f, 1.5f, 1.5f)));
  EXPECT_TRUE(Bounds(Vec3(0, 0, 0), Vec3(2, 2, 2)).expanded(-2).isCleared());
  EXPECT_EQ(t.expandedBy(Vec3(1, 2, 3)), Bounds(Vec3(0, -1, -2), Vec3(2, 3, 4)));
  EXPECT_EQ(Bounds(Vec3(0, 0, 0), Vec3(1, 1, 1)).merged(Bounds(Vec3(-1, 2, 0), Vec3(0, 3, 0))),
            Bounds(Vec3(-1, 0, 0), Vec3(1, 3, 1)));
  EXPECT_EQ(Bounds(Vec3(0, 0, 0), Vec3(1, 1, 1)).merged(Bounds()), Bounds(Vec3(0, 0, 0), Vec3(1, 1, 1)))
      << "an empty box adds nothing";
  EXPECT_TRUE(Bounds().merged(Bounds()).isCleared());
  Bounds empty;
  empty.toSphereBox();
  EXPECT_TRUE(empty.isCleared());
  EXPECT_TRUE(Bounds().rotated(Angles(10, 30, 0).toMat3()).isCleared());
  EXPECT_TRUE(Bounds::fromTransformedBounds(Bounds(), Vec3(5, 0, 0), Mat3::identity()).isCleared());
  const Vec3 pts[3] = {{1, 5, -1}, {-2, 0, 0}, {0, 0, 9}};
  EXPECT_EQ(Bounds::fromVertices(pts, 3), Bounds(Vec3(-2, 0, -1), Vec3(1, 5, 9)));
  Bounds s(Vec3(-1, -1, -1), Vec3(1, 1, 1));
  s.toSphereBox();
  EXPECT_NEAR(s.maxs.x, std::sqrt(3.0f), 1e-6f);
}

TEST(Bounds, IntersectsAndPlanes) {
  const Bounds a(Vec3(0, 0, 0), Vec3(1, 1, 1));
  EXPECT_TRUE(a.intersects(Bounds(Vec3(1, 0, 0), Vec3(2, 1, 1)))) << "sharing a face counts";
  EXPECT_FALSE(a.intersects(Bounds(Vec3(1.001f, 0, 0), Vec3(2, 1, 1))));
  EXPECT_EQ(a.planeDistance(Plane(1, 0, 0, 0.5f)), 0.0f) << "a box cut by the plane";
  EXPECT_EQ(a.planeDistance(Plane(1, 0, 0, -1)), 1.5f) << "centre distance when wholly in front";
  EXPECT_EQ(a.planeDistance(Plane(1, 0, 0, 3)), -2.5f);
  Plane planes[6];
  a.toPlanes(planes);
  const Vec3 inside(0.5f, 0.5f, 0.5f);
  for (const Plane& p : planes)
    EXPECT_LT(p.distance(inside), 0.0f) << "box planes face outward";
  EXPECT_EQ(planes[1].distance(Vec3(1, 0.5f, 0.5f)), 0.0f);
  EXPECT_TRUE(Bounds(Vec3(0.2f, 0.2f, 0.2f), Vec3(0.3f, 0.3f, 0.3f)).insidePlanes(planes, 6, 0));
  EXPECT_FALSE(Bounds(Vec3(2, 0, 0), Vec3(3, 1, 1)).insidePlanes(planes, 6, 0.5f));
  EXPECT_TRUE(Bounds(Vec3(1.2f, 0, 0), Vec3(3, 1, 1)).insidePlanes(planes, 6, 0.5f)) << "within epsilon";
  EXPECT_TRUE(a.insidePlanes(planes, 0, 0));
  EXPECT_TRUE(Bounds(Vec3(-3, 0, 0), Vec3(-2, 1, 1)).isBehindPlanes(&planes[1], 1));
  EXPECT_FALSE(Bounds(Vec3(-3, 0, 0), Vec3(2, 1, 1)).isBehindPlanes(&planes[1], 1));

  // Transformed planes agree with transformed points.
  std::mt19937 rng(3);
  for (int i = 0; i < 50; i++) {
    const Mat3 axis = Angles(float(rng() % 360), float(rng() % 360), float(rng() % 360)).toMat3();
    const Vec3 origin = randomPoint(rng, 50);
    Plane tp[6];
    a.toTransformedPlanes(tp, origin, axis);
    Vec3 corners[8];
    a.toPoints(corners);
    for (const Plane& p : tp) {
      float worst = -1e30f;
      for (const Vec3& c : corners)
        worst = std::max(worst, p.distance(origin + axis.transform(c)));
      EXPECT_NEAR(worst, 0.0f, 1e-3f) << "each plane touches the placed box";
      EXPECT_LT(p.distance(origin + axis.transform(inside)), 0.0f);
    }
  }
}

TEST(Bounds, CornersRotationAndProjection) {
  const Bounds a(Vec3(0, 0, 0), Vec3(1, 2, 3));
  Vec3 pts[8];
  a.toPoints(pts);
  EXPECT_EQ(pts[0], Vec3(0, 0, 0));
  EXPECT_EQ(pts[1], Vec3(1, 0, 0));
  EXPECT_EQ(pts[2], Vec3(1, 2, 0));
  EXPECT_EQ(pts[3], Vec3(0, 2, 0));
  EXPECT_EQ(pts[6], Vec3(1, 2, 3));
  const Mat3 yaw90 = Angles(0, 90, 0).toMat3();
  const Bounds r = a.rotated(yaw90);
  EXPECT_TRUE(r.mins.compare(Vec3(-2, 0, 0), 1e-5f)) << r.mins.toString(4);
  EXPECT_TRUE(r.maxs.compare(Vec3(0, 1, 3), 1e-5f)) << r.maxs.toString(4);
  float range[2];
  a.projectOnAxis(Vec3(1, 0, 0), range, 0.5f);
  EXPECT_EQ(range[0], -0.5f);
  EXPECT_EQ(range[1], 1.5f);
  EXPECT_EQ(a.projectedRadius(Vec3(0, 0, 1)), 1.5f);
  EXPECT_FLOAT_EQ(Bounds(Vec3(-1, -1, -1), Vec3(1, 1, 1)).distanceFromPoint(Vec3(5, 0, 0)), 4.0f);
  Vec3 rp[8];
  a.toRotatedPoints(rp, Vec3(0, 0, 0), yaw90);
  for (int i = 0; i < 8; i++)
    EXPECT_TRUE(rp[i].compare(yaw90.transform(pts[i]), 1e-6f));
  const Bounds sweep = Bounds::fromRotatedSweep(a, Vec3(10, 0, 0), Mat3(), Vec3(0, 0, 0), Vec3(0, 5, 0));
  EXPECT_EQ(sweep, Bounds(Vec3(10, 0, 0), Vec3(11, 7, 3)));
  EXPECT_EQ(Bounds::fromTransformedBounds(a, Vec3(1, 1, 1), Mat3()), a.translated(Vec3(1, 1, 1)));
}

TEST(Bounds, RayAndSegmentTests) {
  const Bounds a(Vec3(-1, -1, -1), Vec3(1, 1, 1));
  float scale = -1;
  EXPECT_TRUE(a.rayIntersection(Vec3(0, 0, 0), Vec3(1, 0, 0), scale));
  EXPECT_EQ(scale, 0.0f) << "starting inside";
  EXPECT_TRUE(a.rayIntersection(Vec3(-5, 0, 0), Vec3(1, 0, 0), scale));
  EXPECT_EQ(scale, 4.0f);
  EXPECT_FALSE(a.rayIntersection(Vec3(-5, 3, 0), Vec3(1, 0, 0), scale));
  EXPECT_TRUE(a.rayIntersection(Vec3(-5, -5, 0), Vec3(1, 1, 0), scale));
  EXPECT_EQ(scale, 4.0f);

  // The segment test agrees with dense sampling of random segments.
  std::mt19937 rng(11);
  int hits = 0;
  for (int i = 0; i < 2000; i++) {
    const Vec3 s = randomPoint(rng, 3), e = randomPoint(rng, 3);
    bool sampled = false;
    for (int k = 0; k <= 400 && !sampled; k++)
      sampled = contains(a, Vec3::lerp(s, e, k / 400.0f), 0);
    const bool sat = a.lineSegmentTest(s, e);
    if (sampled) {
      EXPECT_TRUE(sat) << "a sampled point lies inside";
    }
    hits += sat;
    if (sat && !sampled) {
      // Only grazing segments may be missed by the sampling.
      bool near = false;
      for (int k = 0; k <= 400 && !near; k++)
        near = contains(a, Vec3::lerp(s, e, k / 400.0f), 0.03f);
      EXPECT_TRUE(near);
    }
  }
  EXPECT_GT(hits, 100);

  float enter = -1, exit = -1;
  const Bounds mover(Vec3(-0.5f, -0.5f, -0.5f), Vec3(0.5f, 0.5f, 0.5f));
  EXPECT_TRUE(a.lineIntersection(mover, Vec3(-5.5f, 0, 0), Vec3(4.5f, 0, 0), 1.0f, enter, exit));
  EXPECT_FLOAT_EQ(enter, 0.4f);
  EXPECT_FLOAT_EQ(exit, 0.7f);
  EXPECT_FALSE(a.lineIntersection(mover, Vec3(-5.5f, 0, 0), Vec3(4.5f, 0, 0), 0.3f, enter, exit));
  EXPECT_FALSE(a.lineIntersection(mover, Vec3(-5.5f, 3, 0), Vec3(4.5f, 3, 0), 1.0f, enter, exit))
      << "separated on an axis it does not move along";
  EXPECT_FALSE(a.lineIntersection(mover, Vec3(5.5f, 0, 0), Vec3(9, 0, 0), 1.0f, enter, exit))
      << "moving away";
  EXPECT_TRUE(a.lineIntersection(mover, Vec3(0, 0, 0), Vec3(9, 0, 0), 1.0f, enter, exit));
  EXPECT_EQ(enter, 0.0f);
  EXPECT_FALSE(a.lineIntersection(mover, Vec3(5, 5, 5), Vec3(5, 5, 5), 1.0f, enter, exit));
}

TEST(Bounds, RotatedPointAndBoundsCoverTheSweep) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<float> angle(-400.0f, 400.0f);
  for (int i = 0; i < 300; i++) {
    const Vec3 axisVec = randomUnit(rng);
    const Rotation rot(randomPoint(rng, 20), axisVec, angle(rng));
    const Bounds box(randomPoint(rng, 3).min(0, 0, 0), randomPoint(rng, 3).max(0.1f, 0.1f, 0.1f));
    const Vec3 origin = randomPoint(rng, 30);
    const Mat3 axis = Angles(float(rng() % 360), float(rng() % 360), 0).toMat3();
    const Bounds swept = Bounds::fromRotatedBounds(box, origin, axis, rot);
    Vec3 corners[8];
    box.toPoints(corners);
    for (int k = 0; k <= 64; k++) {
      const Rotation part(rot.origin(), rot.vec(), rot.angle() * k / 64.0f);
      for (const Vec3& c : corners) {
        const Vec3 p = part.rotatePoint(origin + axis.transform(c));
        ASSERT_TRUE(contains(swept, p, 1e-2f))
            << "angle " << rot.angle() << " step " << k << " point " << p.toString(3) << " outside "
            << swept.mins.toString(3) << " / " << swept.maxs.toString(3);
      }
    }
  }
  // The arc of a single point: a half turn about z sweeps through +y.
  const Rotation half(Vec3(), Vec3(0, 0, 1), 90);
  const Bounds arc = Bounds::fromRotatedPoint(Vec3(1, 0, 0), half);
  EXPECT_TRUE(contains(arc, half.rotatePoint(Vec3(1, 0, 0)), 1e-5f));
  EXPECT_LE(arc.maxs.x - arc.mins.x, 1.0f + 1e-5f);
  // Zero rotation with the identity axis is a plain move.
  EXPECT_EQ(Bounds::fromRotatedBounds(Bounds(Vec3(), Vec3(1, 1, 1)), Vec3(2, 0, 0), Mat3(), Rotation()),
            Bounds(Vec3(2, 0, 0), Vec3(3, 1, 1)));
  // fromRotation: the box as given.
  const Bounds whole =
      Bounds::fromRotation(Bounds(Vec3(4, -1, -1), Vec3(6, 1, 1)), Rotation(Vec3(), Vec3(0, 0, 1), 360));
  EXPECT_TRUE(contains(whole, Vec3(-6, 0, 0), 1e-4f));
}

TEST(Geometry, RayTriangleAndClosestPoints) {
  float t, u, v;
  EXPECT_FALSE(rayTriangleIntersection(Vec3(0, 0, 1), Vec3(1, 0, 0), Vec3(0, 0, 0), Vec3(1, 0, 0),
                                       Vec3(0, 1, 0), t, u, v))
      << "a ray parallel to the triangle";
  ASSERT_TRUE(rayTriangleIntersection(Vec3(0.25f, 0.25f, 2), Vec3(0, 0, -1), Vec3(0, 0, 0), Vec3(1, 0, 0),
                                      Vec3(0, 1, 0), t, u, v));
  EXPECT_FLOAT_EQ(t, 2.0f);
  EXPECT_FLOAT_EQ(u, 0.25f);
  EXPECT_FLOAT_EQ(v, 0.25f);
  ASSERT_TRUE(segmentTriangleIntersection(Vec3(0.25f, 0.25f, 2), Vec3(0.25f, 0.25f, -2), Vec3(0, 0, 0),
                                          Vec3(1, 0, 0), Vec3(0, 1, 0), t, u, v));
  EXPECT_FLOAT_EQ(t, 0.5f);

  Vec3 out;
  EXPECT_EQ(closestPointOnSegment(Vec3(0, 0, 0), Vec3(2, 0, 0), Vec3(-1, 1, 0), out), -1.0f);
  EXPECT_EQ(out, Vec3(0, 0, 0));
  EXPECT_EQ(closestPointOnSegment(Vec3(0, 0, 0), Vec3(2, 0, 0), Vec3(3, 1, 0), out), -1.0f);
  EXPECT_EQ(out, Vec3(2, 0, 0));
  EXPECT_EQ(closestPointOnSegment(Vec3(0, 0, 0), Vec3(2, 0, 0), Vec3(0.5f, 1, 0), out), 0.25f);
  EXPECT_EQ(closestPointOnSegment(Vec3(1, 1, 1), Vec3(1, 1, 1), Vec3(0, 0, 0), out), 0.0f)
      << "zero-length segment";

  // Against a brute-force search in double precision.
  std::mt19937 rng(9);
  for (int i = 0; i < 300; i++) {
    const Vec3 a0 = randomPoint(rng, 5), a1 = randomPoint(rng, 5), b0 = randomPoint(rng, 5),
               b1 = randomPoint(rng, 5);
    Vec3 pa, pb;
    float fa, fb;
    ASSERT_TRUE(closestPointsOfSegments(a0, a1, b0, b1, pa, pb, fa, fb));
    if (fa < 0 || fa > 1 || fb < 0 || fb > 1)
      continue;  // the lines' closest points fall outside
    double best = 1e30;
    for (int s = 0; s <= 200; s++)
      for (int k = 0; k <= 200; k++) {
        const Vec3 d = Vec3::lerp(a0, a1, s / 200.0f) - Vec3::lerp(b0, b1, k / 200.0f);
        best = std::min(best, double(d.length()));
      }
    EXPECT_LE((pa - pb).length(), best + 1e-3) << "closest points are no farther apart than any sample";
  }
}

TEST(Geometry, FrustumPlanesFaceOutward) {
  Plane p[6];
  frustumPlanes(p, Vec3(), Mat3(), 90.0f, 1.0f, 1.0f, 100.0f);
  // The identity axis looks along -z.
  for (int i = 0; i < 6; i++) {
    EXPECT_NEAR(p[i].normal().length(), 1.0f, 1e-5f) << i;
    EXPECT_LT(p[i].distance(Vec3(0, 0, -10)), 0.0f) << "plane " << i << " keeps the inside behind it";
  }
  EXPECT_GT(p[0].distance(Vec3(0, 0, -0.5f)), 0.0f) << "near";
  EXPECT_GT(p[5].distance(Vec3(0, 0, -200)), 0.0f) << "far";
  EXPECT_GT(p[1].distance(Vec3(0, 20, -10)), 0.0f) << "top";
  EXPECT_GT(p[2].distance(Vec3(0, -20, -10)), 0.0f) << "bottom";
  EXPECT_GT(p[3].distance(Vec3(-20, 0, -10)), 0.0f) << "left";
  EXPECT_GT(p[4].distance(Vec3(20, 0, -10)), 0.0f) << "right";
  EXPECT_NEAR(p[0].d, -1.0f, 1e-5f) << "the near plane z = -1 faces +z";

  // Near below 0.01 is raised, far below near + 1 too: still a closed volume.
  frustumPlanes(p, Vec3(5, 5, 5), Angles(0, 45, 0).toMat3(), 60.0f, 1.5f, 0.0f, 0.0f);
  for (int i = 0; i < 6; i++)
    EXPECT_NEAR(p[i].normal().length(), 1.0f, 1e-4f) << i;
}

TEST(Geometry, ValidFloatsXorAndClipBits) {
  const float good[3] = {1.0f, -0.0f, 1e30f};
  EXPECT_TRUE(isValidFloatArray(good, 3));
  const float nan[1] = {kNaN};
  EXPECT_FALSE(isValidFloatArray(nan, 1));
  const float inf[2] = {0.0f, -kInf};
  EXPECT_FALSE(isValidFloatArray(inf, 2));
  const uint32_t words[3] = {0xF0F0F0F0u, 0x0F0F0F0Fu, 0x1u};
  EXPECT_EQ(xorBlock(words, 3), 0xFFFFFFFEu);
  EXPECT_EQ(Bounds::clipBits(Vec3(5, 0, -5), Vec3(0, 0, 0), 2.0f), 1 | 0 << 2 | 2 << 4);
  EXPECT_EQ(Bounds::clipBits(Vec3(1, -1, 0), Vec3(0, 0, 0), 2.0f), 3 | 3 << 2);
}

TEST(Geometry, NonFiniteInputsDoNotCrash) {
  const Vec3 n(kNaN, kNaN, kNaN), i(kInf, -kInf, kInf);
  Bounds b(Vec3(-1, -1, -1), Vec3(1, 1, 1));
  float s, e, x;
  b.rayIntersection(n, i, s);
  b.lineIntersection(b, n, i, 1.0f, e, x);
  b.lineSegmentTest(n, i);
  b.planeDistance(Plane(kNaN, 0, 0, 0));
  b.distanceFromPoint(n);
  Bounds::fromRotatedPoint(n, Rotation(n, n, kNaN));
  Bounds::fromRotatedBounds(b, i, Mat3(n, n, n), Rotation(n, i, 90));
  Plane p[6];
  frustumPlanes(p, n, Mat3(), kNaN, kNaN, kNaN, kNaN);
  n.toMat3();
  n.toAngles();
  Vec3 c;
  closestPointOnSegment(n, i, n, c);
  float fa, fb;
  closestPointsOfSegments(n, i, n, i, c, c, fa, fb);
  SUCCEED();
}
