// Convex polygons, polygon sets and the point-list clippers.
#include "lib/polygon.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "lib/matrix.h"
#include "support/shapes.h"

namespace {

ConvexPolygon polygonOf(const std::vector<Vec3>& pts) {
  ConvexPolygon p;
  for (const Vec3& v : pts)
    p.points[p.numPoints++] = v;
  return p;
}

ConvexPolygon square(float x0, float y0, float x1, float y1, float z = 0) {
  return polygonOf({{x0, y0, z}, {x1, y0, z}, {x1, y1, z}, {x0, y1, z}});
}

Mat3 randomAxis(std::mt19937& rng) {
  std::uniform_real_distribution<float> a(0.0f, 360.0f);
  return Angles(a(rng), a(rng), a(rng)).toMat3();
}

Plane randomPlaneThrough(std::mt19937& rng, const Vec3& p) {
  std::normal_distribution<float> n(0.0f, 1.0f);
  Vec3 dir(n(rng), n(rng), n(rng));
  dir.normalize();
  return Plane(dir, dir.dot(p));
}

}  // namespace

TEST(ConvexPolygon, CapacityAndEditing) {
  ConvexPolygon p;
  for (int i = 0; i < 64; i++)
    ASSERT_EQ(p.addPoint(Vec3(float(i), 0, 0)), i);
  const ConvexPolygon full = p;
  EXPECT_EQ(p.addPoint(Vec3(100, 0, 0)), -1) << "a 65th point is refused";
  EXPECT_EQ(p.addPoint(Vec3(5, 0, 0)), 5) << "an existing point still answers";
  p.insertPoint(Vec3(-1, 0, 0), 0);
  EXPECT_EQ(p, full) << "inserting into a full polygon does nothing";

  ConvexPolygon q;
  q.addPoint(Vec3(0, 0, 0));
  EXPECT_EQ(q.addPoint(Vec3(0.05f, 0, 0), 0.1f), 0);
  EXPECT_EQ(q.addPoint(Vec3(0.05f, 0, 0)), 1) << "eps 0 wants an exact match";
  q.insertPoint(Vec3(9, 9, 9), 1);
  EXPECT_EQ(q[1], Vec3(9, 9, 9));
  q.insertPoint(Vec3(7, 7, 7), 99);
  EXPECT_EQ(q[3], Vec3(7, 7, 7));
  q.removePoint(1);
  q.removePoint(-1);
  q.removePoint(3);
  EXPECT_EQ(q.numPoints, 3);
  EXPECT_EQ(q[1], Vec3(0.05f, 0, 0));

  ConvexPolygon d = polygonOf({{0, 0, 0}, {0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {1.005f, 1, 0}, {0, 0, 0}});
  d.removeDuplicatePoints(0.01f);
  EXPECT_EQ(d.numPoints, 4) << "the last-first pair is not compared";
  ConvexPolygon c = polygonOf({{0, 0, 0}, {1, 0, 0}, {2, 0.00001f, 0}, {2, 2, 0}, {0, 2, 0}});
  c.removeClosePoints(0.0001f);
  EXPECT_EQ(c.numPoints, 4) << "nearly collinear points go";
  EXPECT_NEAR(c.area(), 4.0f, 1e-4f);
  ConvexPolygon r;
  c.reversed(r);
  c.reverse();
  EXPECT_EQ(r, c);
  EXPECT_EQ(c[0], Vec3(0, 2, 0));
}

TEST(ConvexPolygon, PlanesSidesAndQueries) {
  const ConvexPolygon sq = square(0, 0, 2, 2, 5);
  const Plane pl = sq.plane();
  EXPECT_EQ(pl.normal(), Vec3(0, 0, 1)) << "an axial square gets an exact normal";
  EXPECT_EQ(pl.d, 5.0f);
  ConvexPolygon rev;
  sq.reversed(rev);
  EXPECT_EQ(rev.plane().normal(), Vec3(0, 0, -1));
  EXPECT_EQ(ConvexPolygon().plane(), Plane());
  EXPECT_EQ(sq.planeSide(Plane(0, 0, 1, 5.0005f), 0.001f), ConvexPolygon::kOn);
  EXPECT_EQ(sq.planeSide(Plane(0, 0, 1, 0), 0.001f), ConvexPolygon::kFront);
  EXPECT_EQ(sq.planeSide(Plane(0, 0, 1, 9), 0.001f), ConvexPolygon::kBack);
  EXPECT_EQ(sq.planeSide(Plane(1, 0, 0, 1), 0.001f), ConvexPolygon::kCross);
  EXPECT_EQ(ConvexPolygon().planeSide(Plane(1, 0, 0, 1), 0.001f), ConvexPolygon::kCross);
  EXPECT_EQ(sq.area(), 4.0f);
  EXPECT_EQ(sq.center(), Vec3(1, 1, 5));
  float lo, hi;
  EXPECT_TRUE(sq.projectOnAxis(Vec3(1, 0, 0), lo, hi, 0.5f));
  EXPECT_EQ(lo, -0.5f);
  EXPECT_EQ(hi, 2.5f);
  EXPECT_FALSE(ConvexPolygon().projectOnAxis(Vec3(1, 0, 0), lo, hi));
  Bounds b(Vec3(-9, -9, -9), Vec3(-8, -8, -8));
  sq.addToBounds(b);
  EXPECT_EQ(b, Bounds(Vec3(-9, -9, -9), Vec3(2, 2, 5))) << "addToBounds grows";
  sq.getBounds(b);
  EXPECT_EQ(b, Bounds(Vec3(0, 0, 5), Vec3(2, 2, 5))) << "getBounds starts cleared";

  EXPECT_TRUE(sq.isConvex(0.01f));
  EXPECT_FALSE(polygonOf(shapes::lShape()).isConvex(0.01f));
  EXPECT_TRUE(polygonOf({{0, 0, 0}, {1, 0, 0}, {0.001f, 0, 0}}).isTiny(0.01f));
  EXPECT_FALSE(sq.isTiny(0.01f));
  EXPECT_EQ(sq.findPoint(Vec3(2.001f, 2, 5), 0.01f), 2);
  EXPECT_EQ(sq.findEdge(Vec3(2, 0, 5), Vec3(2, 2, 5), 0.01f), 1);
  EXPECT_EQ(sq.findEdge(Vec3(2, 2, 5), Vec3(2, 0, 5), 0.01f), -1);
  float frac = -1;
  EXPECT_EQ(sq.findEdgeContaining(Vec3(0, 1, 5), &frac, 0.01f), 3)
      << "the closing edge reports the last index";
  EXPECT_FLOAT_EQ(frac, 0.5f);
  EXPECT_EQ(sq.findEdgeContaining(Vec3(1, 0.005f, 5), nullptr, 0.01f), 0);
  EXPECT_EQ(sq.findEdgeContaining(Vec3(1, 1, 5), nullptr, 0.01f), -1);
  EXPECT_TRUE(sq.pointInside(Vec3(0, 0, 1), Vec3(1, 1, 7), 0));
  EXPECT_FALSE(sq.pointInside(Vec3(0, 0, 1), Vec3(2.1f, 1, 5), 0.01f));
  EXPECT_TRUE(sq.pointInside(pl, Vec3(2.005f, 1, 5), 0.01f));

  ConvexPolygon fp;
  fp.fromPlane(Plane(Vec3(0, 1, 0), 3), 10);
  EXPECT_EQ(fp.numPoints, 4);
  EXPECT_TRUE(fp.plane().compare(Plane(0, 1, 0, 3), 1e-6f, 1e-4f)) << "the square faces along its plane";
  EXPECT_NEAR(fp.area(), 400.0f, 1e-2f);
}

TEST(ConvexPolygon, SplitEdgeCasesAndAreasAddUp) {
  const ConvexPolygon tri = polygonOf({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}});
  ConvexPolygon f, b;
  tri.split(&f, &b, Plane(0, 0, 1, 0), 0.01f);
  EXPECT_EQ(f, tri) << "a polygon on the plane goes to both sides";
  EXPECT_EQ(b, tri);
  const ConvexPolygon big = polygonOf({{0, 0, 0}, {2, 0, 0}, {0, 2, 0}});
  big.split(&f, &b, Plane(1, 1, 0, 2), 0.01f);
  EXPECT_EQ(f.numPoints, 0) << "two front points (both on the plane) are not a polygon";
  EXPECT_EQ(b, big);
  tri.split(nullptr, &b, Plane(1, 0, 0, 0.5f), 0.01f);
  EXPECT_EQ(b.numPoints, 4);

  std::mt19937 rng(21);
  for (int i = 0; i < 500; i++) {
    const int n = 3 + int(rng() % 62);
    const Mat3 axis = randomAxis(rng);
    ConvexPolygon p = polygonOf(shapes::placed(shapes::convex(rng, n), axis, Vec3(3, -2, 7)));
    const Plane cut = randomPlaneThrough(rng, p.center() + axis[0] * 2.0f);
    p.split(&f, &b, cut, 0.0f);
    if (f.numPoints == 0 || b.numPoints == 0)
      continue;
    EXPECT_NEAR(f.area() + b.area(), p.area(), p.area() * 1e-4f) << n << " points";
    EXPECT_EQ(f.planeSide(cut, 1e-3f), ConvexPolygon::kFront);
    EXPECT_EQ(b.planeSide(cut, 1e-3f), ConvexPolygon::kBack);
    EXPECT_LE(f.numPoints, 64);
  }
  // A 64-point polygon cut in two: each half stays within 64.
  const ConvexPolygon full = polygonOf(shapes::convex(rng, 64));
  full.split(&f, &b, Plane(1, 0, 0, 0), 0.0f);
  EXPECT_LE(f.numPoints, 64);
  EXPECT_LE(b.numPoints, 64);
  EXPECT_EQ(f.numPoints + b.numPoints, 64 + 4);
  // Cutting off one corner would give the back part 63 + 2 points: it stops at 64.
  const Vec3 corner = full[0];
  Vec3 dir = corner;
  dir.normalize();
  full.split(&f, &b, Plane(dir, dir.dot(corner) - 0.01f), 0.0f);
  EXPECT_EQ(f.numPoints, 3);
  EXPECT_EQ(b.numPoints, 64);
}

TEST(ConvexPolygon, ClipInPlaceKeepsTheBackPart) {
  ConvexPolygon p = square(-10, -10, 10, 10);
  Plane box[6];
  Bounds(Vec3(-1, -2, -1), Vec3(3, 4, 1)).toPlanes(box);
  const int mask = p.clipInPlace(box, 6);
  EXPECT_EQ(mask, 0xF) << "the four side planes cut, the z planes do not";
  EXPECT_NEAR(p.area(), 24.0f, 1e-4f);
  for (int i = 0; i < p.numPoints; i++)
    for (const Plane& pl : box)
      EXPECT_LE(pl.distance(p[i]), 0.002f);

  ConvexPolygon out = square(5, 5, 6, 6);
  EXPECT_EQ(out.clipInPlace(box, 6), 1 << 1);
  EXPECT_EQ(out.numPoints, 0) << "wholly in front of a plane: nothing is left";
  ConvexPolygon in = square(0, 0, 1, 1);
  EXPECT_EQ(in.clipInPlace(box, 6), 0);
  EXPECT_EQ(in, square(0, 0, 1, 1));
  ConvexPolygon grown = square(0, 0, 3.5f, 1);
  EXPECT_EQ(grown.clipInPlace(box, 6, 1.0f), 0) << "expand moves the planes outward";

  // Random clips: area never grows and the result stays behind every plane.
  std::mt19937 rng(22);
  for (int i = 0; i < 300; i++) {
    ConvexPolygon c =
        polygonOf(shapes::placed(shapes::convex(rng, 3 + int(rng() % 30)), randomAxis(rng), Vec3()));
    const float before = c.area();
    Plane planes[6];
    for (Plane& pl : planes)
      pl = randomPlaneThrough(rng, Vec3(float(rng() % 7) - 3.0f, 0, 0));
    c.clipInPlace(planes, 6);
    EXPECT_LE(c.area(), before * 1.0001f);
    for (int k = 0; k < c.numPoints; k++)
      for (const Plane& pl : planes)
        EXPECT_LE(pl.distance(c[k]), 0.01f);
  }
}

TEST(ConvexPolygon, BrushFacesFromPlanes) {
  Plane cube[6];
  Bounds(Vec3(-1, -1, -1), Vec3(1, 1, 1)).toPlanes(cube);
  for (int i = 0; i < 6; i++) {
    ConvexPolygon face;
    face.clipByPlanes(cube[i], cube, 6);
    EXPECT_EQ(face.numPoints, 4) << "face " << i;
    EXPECT_NEAR(face.area(), 4.0f, 1e-2f);
    EXPECT_TRUE(face.plane().compare(cube[i], 1e-5f, 1e-3f)) << "the face faces outward";
  }
}

TEST(ConvexPolygon, CarveByPlanes) {
  Plane box[6];
  Bounds(Vec3(-1, -1, -1), Vec3(1, 1, 1)).toPlanes(box);
  const ConvexPolygon p = square(-3, -3, 3, 3);
  PolygonSet set;
  EXPECT_TRUE(p.carveByPlanes(set, box, 6));
  float total = 0;
  for (int i = 0; i < set.num(); i++)
    total += set[i].area();
  EXPECT_NEAR(total, 36.0f - 4.0f, 1e-3f) << "the outside pieces cover all but the hole";

  PolygonSet whole;
  EXPECT_FALSE(square(5, 5, 6, 6).carveByPlanes(whole, box, 6));
  ASSERT_EQ(whole.num(), 1);
  EXPECT_EQ(whole[0], square(5, 5, 6, 6));

  // A round volume of 60 planes: the pieces around the hole cover the rest.
  std::vector<Plane> round;
  for (int i = 0; i < 60; i++) {
    const float a = float(i) * 6.2831853f / 60.0f;
    round.emplace_back(Vec3(std::cos(a), std::sin(a), 0), 2.0f);
  }
  PolygonSet pieces;
  EXPECT_TRUE(square(-10, -10, 10, 10).carveByPlanes(pieces, round.data(), 60));
  total = 0;
  for (int i = 0; i < pieces.num(); i++)
    total += pieces[i].area();
  const float inner = 60.0f * 4.0f * std::tan(3.14159265f / 60.0f);  // the 60-gon of inradius 2
  EXPECT_NEAR(total, 400.0f - inner, 0.05f);

  // 100 nested slabs each shave a strip: more outside pieces than a fixed
  // array of 65 would hold.
  std::vector<Plane> slabs;
  for (int i = 0; i < 100; i++)
    slabs.emplace_back(Vec3(1, 0, 0), 10.0f - 0.15f * float(i + 1));
  PolygonSet strips;
  EXPECT_TRUE(square(-10, -10, 10, 10).carveByPlanes(strips, slabs.data(), 100));
  EXPECT_EQ(strips.num(), 100);
  total = 0;
  for (int i = 0; i < strips.num(); i++)
    total += strips[i].area();
  EXPECT_NEAR(total, 300.0f, 0.05f);
}

TEST(ConvexPolygon, PyramidAndSlabPlanes) {
  const ConvexPolygon sq = square(0, 0, 1, 1);
  Plane planes[8];
  EXPECT_EQ(sq.pyramidPlanes(Vec3(0.5f, 0.5f, 0), planes, 8, 0.01f), 0) << "origin on the plane";
  EXPECT_EQ(polygonOf({{0, 0, 0}, {1, 0, 0}}).pyramidPlanes(Vec3(0, 0, 1), planes, 8, 0.01f), 0);
  EXPECT_EQ(sq.pyramidPlanes(Vec3(0.5f, 0.5f, 2), planes, 4, 0.01f), 0) << "more planes than allowed";
  ASSERT_EQ(sq.pyramidPlanes(Vec3(0.5f, 0.5f, 2), planes, 8, 0.01f), 5);
  // Points in the shadow beneath the square are behind every plane.
  for (int i = 0; i < 5; i++)
    EXPECT_LT(planes[i].distance(Vec3(0.5f, 0.5f, -3)), 0.0f) << i;
  float outside = -1e30f;
  for (int i = 1; i < 5; i++)
    outside = std::max(outside, planes[i].distance(Vec3(0.5f, -5, -3)));
  EXPECT_GT(outside, 0.0f) << "a point beside the shadow lies in front of a side plane";
  ASSERT_EQ(sq.pyramidPlanes(Vec3(0.5f, 0.5f, -2), planes, 8, 0.01f), 5);
  for (int i = 0; i < 5; i++)
    EXPECT_LT(planes[i].distance(Vec3(0.5f, 0.5f, 3)), 0.0f) << "flipped " << i;

  Plane slab[6];
  EXPECT_EQ(sq.toSlabPlanes(slab, 6, 2.0f, 0.0f), 6);
  EXPECT_EQ(slab[0], Plane(0, 0, 1, 1));
  EXPECT_EQ(slab[1], Plane(0, 0, -1, 1));
  EXPECT_EQ(slab[2].normal(), Vec3(0, -1, 0)) << "edge normals snap to exact axes";
  for (int i = 0; i < 6; i++)
    EXPECT_LT(slab[i].distance(Vec3(0.5f, 0.5f, 0.5f)), 0.0f);
  Plane small[3] = {Plane(9, 9, 9, 9), Plane(9, 9, 9, 9), Plane(9, 9, 9, 9)};
  EXPECT_EQ(sq.toSlabPlanes(small, 2, -1.0f, 0.0f), 2) << "never past the capacity";
  EXPECT_EQ(small[1].d, 1.0f) << "a negative thickness moves only the back plane";
  EXPECT_EQ(small[0].d, 0.0f);
  EXPECT_EQ(ConvexPolygon().toSlabPlanes(slab, 6, 0, 0), 2);
  EXPECT_EQ(sq.toSlabPlanes(slab, 0, 0, 0), 0);
}

TEST(ConvexPolygon, AddPointToHull) {
  const Vec3 up(0, 0, 1);
  ConvexPolygon h;
  EXPECT_EQ(h.addPointToHull(Vec3(0, 0, 0), up, 0.01f), 2);
  EXPECT_EQ(h.addPointToHull(Vec3(0.001f, 0, 0), up, 0.01f), 0);
  EXPECT_EQ(h.addPointToHull(Vec3(1, 0, 0), up, 0.01f), 2);
  EXPECT_EQ(h.addPointToHull(Vec3(2, 0, 0), up, 0.01f), 0) << "collinear third point";
  EXPECT_EQ(h.numPoints, 2);
  EXPECT_EQ(h.addPointToHull(Vec3(0, 1, 0), up, 0.01f), 2);
  const ConvexPolygon tri = h;
  EXPECT_EQ(h.addPointToHull(Vec3(0.2f, 0.2f, 0), up, 0.01f), 1);
  EXPECT_EQ(h, tri);
  EXPECT_EQ(h.plane().normal(), up) << "wound counter-clockwise about the normal";

  // Points on a circle in random order: the outline grows and stays convex.
  std::mt19937 rng(31);
  std::vector<Vec3> ring = shapes::convex(rng, 40);
  std::shuffle(ring.begin(), ring.end(), rng);
  ConvexPolygon c;
  for (const Vec3& p : ring)
    c.addPointToHull(p, up, 0.001f);
  EXPECT_GE(c.numPoints, 3);
  EXPECT_TRUE(c.isConvex(0.01f));
  EXPECT_LE(c.numPoints, 63);

  // A far point below a hexagon sees three edges: two corners go and the outline shrinks to 5.
  ConvexPolygon hex;
  for (int i = 0; i < 6; i++)
    ASSERT_EQ(hex.addPointToHull(Vec3(std::cos(i * 1.0471976f), std::sin(i * 1.0471976f), 0), up, 0.001f), 2);
  const Vec3 far(0, -100, 0);
  EXPECT_EQ(hex.addPointToHull(far, up, 0.001f), 2);
  EXPECT_EQ(hex.numPoints, 5);
  EXPECT_GE(hex.findPoint(far, 0.0f), 0);
  EXPECT_TRUE(hex.isConvex(0.01f));
}

TEST(ConvexPolygon, MergeAndTJunctions) {
  ConvexPolygon a = square(0, 0, 1, 1);
  EXPECT_TRUE(a.tryMerge(square(1, 0, 2, 1), true));
  EXPECT_EQ(a.numPoints, 4);
  EXPECT_NEAR(a.area(), 2.0f, 1e-5f);
  EXPECT_FALSE(square(0, 0, 1, 1).tryMerge(square(3, 0, 4, 1), true)) << "apart";
  ConvexPolygon l = square(0, 0, 1, 1);
  EXPECT_FALSE(l.tryMerge(square(1, 0, 2, 1, 0.5f), true)) << "not coplanar";
  std::mt19937 rng(41);
  ConvexPolygon forty = polygonOf(shapes::convex(rng, 40));
  EXPECT_FALSE(forty.tryMerge(forty, false)) << "40 + 40 points cannot fit";

  PolygonSet grid;
  for (int y = 0; y < 3; y++)
    for (int x = 0; x < 4; x++)
      grid.append(square(float(x), float(y), float(x + 1), float(y + 1)));
  grid.append(polygonOf({{9, 9, 0}, {10, 9, 0}}));
  EXPECT_TRUE(grid.mergeAll(true, true));
  float total = 0;
  for (int i = 0; i < grid.num(); i++) {
    EXPECT_TRUE(grid[i].isConvex(0.01f));
    total += grid[i].area();
  }
  EXPECT_NEAR(total, 12.0f, 1e-4f);
  EXPECT_LT(grid.num(), 4) << "twelve squares merge into a few convex pieces";
  PolygonSet empty;
  EXPECT_FALSE(empty.mergeAll(false, false));

  PolygonSet t;
  t.append(square(0, 0, 2, 2));
  t.append(square(2, 0, 3, 1));
  t.append(square(2, 1, 3, 2));
  EXPECT_EQ(t.fixTJunctions(), 1) << "the small squares' shared corner lands on the big square's edge";
  EXPECT_EQ(t[0].numPoints, 5);
  EXPECT_EQ(t[0][2], Vec3(2, 1, 0));
  EXPECT_EQ(t.fixTJunctions(), 0);
}

TEST(PolygonSet, SplitByPlane) {
  PolygonSet s, front, back;
  s.append(square(0, 0, 2, 2));
  s.append(square(-5, 0, -4, 1));
  s.append(square(0, 0, 1, 1, 0.005f));
  s.splitByPlane(Plane(1, 0, 0, 1), 0.001f, 0.01f, &front, &back);
  EXPECT_EQ(front.num(), 1);
  EXPECT_EQ(back.num(), 3);
  PolygonSet on;
  s.splitByPlane(Plane(0, 0, 1, 0), 0.001f, 0.01f, &on, nullptr);
  EXPECT_EQ(on.num(), 3) << "polygons lying on the plane are not split";
}

TEST(ConvexPolygon, TriangulationCoversAreaWithTheRightFacing) {
  std::mt19937 rng(51);
  for (int n = 3; n <= 64; n++) {
    for (bool flip : {false, true}) {
      std::vector<Vec3> pts = shapes::convex(rng, n);
      if (flip)
        pts = shapes::reversed(pts);
      const ConvexPolygon p = polygonOf(shapes::placed(pts, randomAxis(rng), Vec3(1, 2, 3)));
      List<int> idx;
      const int count = p.triangulate(idx);
      EXPECT_EQ(count, 3 * (n - 2)) << n;
      const Vec3 normal = p.plane().normal();
      const shapes::Coverage c = shapes::cover(p.points, p.numPoints, idx, normal);
      EXPECT_EQ(c.wrongFacing, 0) << n;
      EXPECT_NEAR(c.area, p.area(), p.area() * 1e-4) << n;

      ConvexPolygon w = p;
      const int wc = w.triangulateWithCenter(idx);
      EXPECT_GT(wc, 0);
      const shapes::Coverage cw = shapes::cover(w.points, w.numPoints, idx, normal);
      EXPECT_EQ(cw.wrongFacing, 0);
      EXPECT_NEAR(cw.area, p.area(), p.area() * 1e-4) << n;
    }
  }
  // Concave outlines fall through to the ear cutter and still cover exactly.
  for (const std::vector<Vec3>& shape : {shapes::lShape(), shapes::comb(6), shapes::spiral(30)}) {
    for (bool flip : {false, true}) {
      const std::vector<Vec3> pts = flip ? shapes::reversed(shape) : shape;
      const ConvexPolygon p = polygonOf(pts);
      List<int> idx;
      p.triangulate(idx);
      const Vec3 normal(0, 0, flip ? -1.0f : 1.0f);
      const shapes::Coverage c = shapes::cover(p.points, p.numPoints, idx, normal);
      EXPECT_EQ(c.wrongFacing, 0) << pts.size() << " points, flipped " << flip;
      EXPECT_NEAR(c.area, std::fabs(shapes::shoelace(pts)), 1e-3)
          << pts.size() << " points, flipped " << flip;
    }
  }
  List<int> idx;
  EXPECT_EQ(ConvexPolygon().triangulate(idx), 0);
  EXPECT_EQ(polygonOf({{0, 0, 0}, {1, 0, 0}, {2, 0, 0}}).triangulate(idx), 0)
      << "degenerate triangles are dropped";
  ConvexPolygon full = polygonOf(shapes::convex(rng, 64));
  full.points[10] = (full.points[9] + full.points[11]) * 0.5f;  // a straight corner breaks the first fans
  EXPECT_GT(full.triangulateWithCenter(idx), 0);
}

TEST(PointList, ClipsWithinTheCallersCapacity) {
  // A square with texture coordinates, clipped to x <= 0.5 and y <= 0.5.
  std::vector<float> pts = {0, 0, 0, 0, 0, 1, 0, 0, 1, 0, 1, 1, 0, 1, 1, 0, 1, 0, 0, 1};
  pts.resize(4 * 5 + 2 * 5);  // room for two more points, no more
  const Plane planes[2] = {Plane(1, 0, 0, 0.5f), Plane(0, 1, 0, 0.5f)};
  const int n = clipPointListByPlanes(planes, 2, pts.data(), 4, 6);
  ASSERT_EQ(n, 4);
  for (int i = 0; i < n; i++) {
    EXPECT_LE(pts[size_t(i) * 5], 0.5f);
    EXPECT_LE(pts[size_t(i) * 5 + 1], 0.5f);
    EXPECT_EQ(pts[size_t(i) * 5 + 3], pts[size_t(i) * 5]) << "s interpolates with x";
    EXPECT_EQ(pts[size_t(i) * 5 + 4], pts[size_t(i) * 5 + 1]);
  }
  EXPECT_EQ(clipPointListByPlanes(planes, 0, pts.data(), 4, 6), 4);
  EXPECT_EQ(clipPointListByPlanes(planes, 2, pts.data(), 0, 6), 0);
  const Plane away(1, 0, 0, -5);
  EXPECT_EQ(clipPointListByPlanes(&away, 1, pts.data(), 4, 6), 0);

  // A zig-zag list crossing the plane many times would grow far beyond its
  // array; the clip stops at the capacity (ASan watches the exact-size buffer).
  std::vector<float> zig;
  for (int i = 0; i < 40; i++) {
    const float v[5] = {float(i), (i & 1) ? 1.0f : -1.0f, 0, 0, 0};
    zig.insert(zig.end(), v, v + 5);
  }
  std::vector<float> exact(zig);
  const Plane y0(0, 1, 0, 0);
  const int m = clipPointListByPlanes(&y0, 1, exact.data(), 40, 40);
  EXPECT_LE(m, 40);
  std::vector<float> out(size_t(10) * 5);
  EXPECT_LE(clipPointListByPlane(40, zig.data(), out.data(), 10, y0), 10);
}

TEST(ConvexPolygon, NonFiniteInputsDoNotCrash) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  ConvexPolygon p = polygonOf({{nan, 0, 0}, {1, nan, 0}, {1, 1, nan}, {0, 1, 0}});
  Plane planes[6];
  Bounds(Vec3(-1, -1, -1), Vec3(1, 1, 1)).toPlanes(planes);
  ConvexPolygon f, b;
  p.split(&f, &b, Plane(nan, 0, 0, 0), 0.01f);
  p.plane();
  p.isConvex(0.01f);
  PolygonSet s;
  p.carveByPlanes(s, planes, 6);
  List<int> idx;
  p.triangulate(idx);
  p.triangulateWithCenter(idx);
  p.pyramidPlanes(Vec3(nan, nan, nan), planes, 6, 0.01f);
  p.clipInPlace(planes, 6);
  SUCCEED();
}
