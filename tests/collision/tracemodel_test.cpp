// Trace models: the builders' topology, edge normals, the segment clip, moving, turning, growing,
// splitting, and the side counts and point counts that would lose faces.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "cmtest.h"
#include "collision/cmmodel.h"
#include "lib/interface/tracemodel.h"
#include "lib/polygon.h"
#include "tests/support/capturecmdsystem.h"

namespace {

using cmtest::v;

// Every edge of a closed solid is walked once forwards and once backwards.
void expectClosed(const TraceModel& t) {
  std::vector<int> forward(t.numEdges + 1), backward(t.numEdges + 1);
  for (int f = 0; f < t.numPolys; f++)
    for (int k = 0; k < t.polys[f].numEdges; k++) {
      const int e = t.polys[f].edges[k];
      (e > 0 ? forward : backward)[std::abs(e)]++;
    }
  for (int e = 1; e <= t.numEdges; e++) {
    EXPECT_EQ(forward[e], 1) << "edge " << e;
    EXPECT_EQ(backward[e], 1) << "edge " << e;
  }
}

// Every vertex lies on or behind every face plane, and each face's corners lie on its plane.
void expectConvexOutward(const TraceModel& t) {
  for (int f = 0; f < t.numPolys; f++) {
    const Plane& p = t.polys[f].plane;
    EXPECT_NEAR(p.normal().length(), 1.0f, 1e-4f);
    for (int i = 0; i < t.numVerts; i++)
      EXPECT_LE(p.distance(t.verts[i]), 1e-3f) << "face " << f << " vertex " << i;
  }
}

TEST(TraceModelBuild, BoxHasSixOutwardFacesInOrder) {
  const TraceModel t = cmtest::box(1.0f);
  EXPECT_EQ(t.type, kTrmBox);
  EXPECT_EQ(t.numVerts, 8);
  EXPECT_EQ(t.numEdges, 12);
  ASSERT_EQ(t.numPolys, 6);
  const Vec3 normals[6] = {v(0, 0, 1), v(0, 0, -1), v(0, 1, 0), v(0, -1, 0), v(1, 0, 0), v(-1, 0, 0)};
  for (int f = 0; f < 6; f++) {
    EXPECT_EQ(t.polys[f].plane.normal(), normals[f]) << "face " << f;
    EXPECT_FLOAT_EQ(t.polys[f].plane.d, 1.0f);
  }
  EXPECT_EQ(t.offset, Vec3());
  expectClosed(t);
  // Faces at right angles: the edge normal is the sum of the two face normals.
  for (int e = 1; e <= t.numEdges; e++)
    EXPECT_NEAR(t.edges[e].normal.length(), std::sqrt(2.0f), 1e-5f);
}

struct SideCase {
  const char* what;
  int type;
  int sides;
  int verts, edges, polys;
  bool warns;
};

TEST(TraceModelBuild, SideCountsGiveWholeSolids) {
  const SideCase cases[] = {
      {"cylinder 8", kTrmCylinder, 8, 16, 24, 10, false},
      {"cylinder 2 warns, 3 sides", kTrmCylinder, 2, 6, 9, 5, true},
      {"cylinder 10 is the largest that fits", kTrmCylinder, 10, 20, 30, 12, false},
      {"cylinder 12 warns, clamped to 10", kTrmCylinder, 12, 20, 30, 12, true},
      {"cylinder 14 warns, clamped to 10", kTrmCylinder, 14, 20, 30, 12, true},
      {"cylinder 40 warns, clamped to 10", kTrmCylinder, 40, 20, 30, 12, true},
      {"cone 4", kTrmCone, 4, 5, 8, 5, false},
      {"cone 15 fits whole", kTrmCone, 15, 16, 30, 16, false},
      {"cone 16 warns, clamped to 15", kTrmCone, 16, 16, 30, 16, true},
  };
  for (const SideCase& c : cases) {
    CaptureCmdSystem cmd;
    TraceModel t;
    const Bounds b(v(-8, -8, -16), v(8, 8, 16));
    if (c.type == kTrmCylinder)
      t.setupCylinder(b, c.sides);
    else
      t.setupCone(b, c.sides);
    SCOPED_TRACE(c.what);
    EXPECT_EQ(t.numVerts, c.verts);
    EXPECT_EQ(t.numEdges, c.edges);
    EXPECT_EQ(t.numPolys, c.polys);
    EXPECT_EQ(cmd.text.find("WARNING: trace model") != std::string::npos, c.warns) << cmd.text;
    expectClosed(t);
    expectConvexOutward(t);
  }
}

TEST(TraceModelBuild, ConeApexAboveCentreAndBipyramidFace) {
  TraceModel cone;
  cone.setupCone(Bounds(v(-4, -4, 0), v(4, 4, 10)), 4);
  bool apex = false;
  for (int i = 0; i < cone.numVerts; i++)
    apex = apex || cone.verts[i] == v(0, 0, 10);
  EXPECT_TRUE(apex);

  TraceModel bp;
  bp.setupBipyramid(2.0f, 2.0f);
  EXPECT_EQ(bp.type, kTrmBipyramid);
  Vec3 expected(1.5f, -1.0f, -1.0f);
  expected.normalize();
  EXPECT_TRUE(bp.polys[0].plane.normal().compare(expected, 1e-5f));
  expectClosed(bp);
  expectConvexOutward(bp);
}

TEST(TraceModelBuild, PolygonPointLimits) {
  CaptureCmdSystem cmd;
  Vec3 pts[20];
  for (int i = 0; i < 20; i++) {
    const float a = float(i) * 6.2831855f / 20.0f;
    pts[i] = v(std::cos(a) * 10, std::sin(a) * 10, 0);
  }
  TraceModel t;
  t.setupPolygon(pts, 16);
  EXPECT_EQ(t.type, kTrmPolygon);
  EXPECT_EQ(t.numPolys, 1);
  EXPECT_EQ(t.numVerts, 16);
  EXPECT_TRUE(cmd.text.empty());
  // Seventeen points would not fit one face: refused with the warning, no half-made shape.
  t.setupPolygon(pts, 17);
  EXPECT_NE(cmd.text.find("WARNING: trace model polygon has invalid side count (17)"), std::string::npos);
  EXPECT_EQ(t.numPolys, 0);
  EXPECT_EQ(t.numVerts, 0);
  EXPECT_EQ(t.numEdges, 0);
}

TEST(TraceModelBuild, FaceNeedingA33rdVertexIsRefusedWhole) {
  TraceModel t;
  t.clear(kTrmConvex);
  ConvexPolygon p;
  for (int face = 0; face < 2; face++) {
    p.clear();
    for (int i = 0; i < 16; i++)
      p.points[p.numPoints++] = v(float(i), float(i * i), float(face * 100));
    ASSERT_TRUE(t.addPolygon(p)) << face;
  }
  ASSERT_EQ(t.numVerts, 32);
  p.clear();
  p.points[p.numPoints++] = v(0, 0, 0);
  p.points[p.numPoints++] = v(1, 1, 0);
  p.points[p.numPoints++] = v(500, 500, 500);  // a 33rd vertex
  EXPECT_FALSE(t.addPolygon(p));
  EXPECT_EQ(t.numPolys, 2);
  EXPECT_EQ(t.numVerts, 32);
}

TEST(TraceModelGeometry, SharpEdgeBetweenOppositeFaces) {
  const Vec3 pts[3] = {v(0, 0, 0), v(10, 0, 0), v(0, 10, 0)};
  TraceModel t;
  t.setupPolygon(pts, 3);
  ConvexPolygon back;
  t.getPolygon(0, back);
  back.reverse();
  ASSERT_TRUE(t.addPolygon(back));
  EXPECT_EQ(t.computeEdgeNormals(), 3);
  for (int e = 1; e <= t.numEdges; e++)
    EXPECT_NEAR(t.edges[e].normal.length(), 3.3333333f, 1e-4f);
}

TEST(TraceModelGeometry, ClipSegment) {
  const TraceModel t = cmtest::box(1.0f);
  TraceSegmentHit hit;
  ASSERT_TRUE(t.clipSegment(v(-10, 0, 0), v(10, 0, 0), hit));
  EXPECT_FLOAT_EQ(hit.fraction, (9.0f - 0.125f) / 20.0f);
  EXPECT_EQ(hit.plane.normal(), v(-1, 0, 0));
  EXPECT_NEAR(hit.point.x, -10.0f + 20.0f * hit.fraction, 1e-5f);
  ASSERT_TRUE(t.clipSegment(v(0, 0, 0), v(10, 0, 0), hit));
  EXPECT_EQ(hit.fraction, 0.0f);
  EXPECT_FALSE(t.clipSegment(v(-10, 5, 0), v(10, 5, 0), hit));  // passes beside
  EXPECT_FALSE(t.clipSegment(v(-10, 0, 0), v(-5, 0, 0), hit));  // stops short
  EXPECT_FALSE(t.clipSegment(v(10, 0, 0), v(20, 0, 0), hit));   // moves away
  TraceModel none;
  EXPECT_FALSE(none.clipSegment(v(-10, 0, 0), v(10, 0, 0), hit));
}

TEST(TraceModelGeometry, TranslateMovesEverything) {
  TraceModel t = cmtest::box(1.0f);
  const TraceModel before = t;
  t.translate(v(1, 2, 3));
  EXPECT_EQ(t.bounds, Bounds(v(0, 1, 2), v(2, 3, 4)));
  EXPECT_EQ(t.offset, v(1, 2, 3));
  for (int f = 0; f < 6; f++)
    EXPECT_FLOAT_EQ(t.polys[f].plane.d,
                    before.polys[f].plane.d + before.polys[f].plane.normal().dot(v(1, 2, 3)));
}

TEST(TraceModelGeometry, RotateTurnsExtentsAndBecomesConvex) {
  TraceModel t;
  t.setupBox(Bounds(v(-4, -1, -2), v(4, 1, 2)));
  const Mat3 quarter = Angles(0, 90, 0).toMat3();
  t.rotate(quarter);
  EXPECT_EQ(t.type, kTrmConvex);
  EXPECT_TRUE(t.bounds.mins.compare(v(-1, -4, -2), 1e-4f));
  EXPECT_TRUE(t.bounds.maxs.compare(v(1, 4, 2), 1e-4f));
  expectConvexOutward(t);
  // The identity leaves the type alone.
  TraceModel b = cmtest::box(2.0f);
  b.rotate(Mat3::identity());
  EXPECT_EQ(b.type, kTrmBox);
}

TEST(TraceModelGeometry, BoundsOnlyTurnsAsItsBox) {
  TraceModel t;
  t.setupBoundsOnly(2.0f);
  t.rotate(Angles(0, 45, 0).toMat3());
  EXPECT_EQ(t.type, kTrmBoundsOnly);
  EXPECT_FALSE(t.bounds.isCleared());
  EXPECT_NEAR(t.bounds.maxs.x, 2.0f * std::sqrt(2.0f), 1e-4f);
  EXPECT_NEAR(t.bounds.maxs.z, 2.0f, 1e-4f);
}

TEST(TraceModelGeometry, ExpandMovesFacesOut) {
  TraceModel t = cmtest::box(4.0f);
  t.expand(-0.5f);
  EXPECT_EQ(t.numPolys, 6);
  EXPECT_TRUE(t.bounds.maxs.compare(v(4.5f, 4.5f, 4.5f), 1e-3f));
  EXPECT_TRUE(t.bounds.mins.compare(v(-4.5f, -4.5f, -4.5f), 1e-3f));
  expectClosed(t);
}

// Every kind and side count the builders accept, grown and shrunk by a table of distances, stays a
// closed convex solid whose faces moved by exactly the distance.
TEST(TraceModelGeometry, ExpandKeepsEveryShapeClosedAndConvex) {
  struct Shape {
    std::string what;
    TraceModel trm;
  };
  std::vector<Shape> shapes;
  const Bounds b(v(-8, -8, -32), v(8, 8, 32));
  shapes.push_back({"box", cmtest::box(4.0f)});
  TraceModel t;
  t.setupBox(Bounds(v(-16, -3, 0), v(2, 40, 72)));
  shapes.push_back({"long box off the origin", t});
  for (int n = 3; n <= 10; n++) {
    t.setupCylinder(b, n);
    shapes.push_back({"cylinder " + std::to_string(n), t});
    t.setupCylinder(Bounds(v(100, -30, 5), v(140, 10, 25)), n);
    shapes.push_back({"flat cylinder off the origin " + std::to_string(n), t});
  }
  for (int n = 3; n <= 15; n++) {
    t.setupCone(b, n);
    shapes.push_back({"cone " + std::to_string(n), t});
    // Over an ellipse the grown sides no longer meet in one apex: it opens into short edges.
    t.setupCone(Bounds(v(-4, -12, 0), v(4, 12, 30)), n);
    shapes.push_back({"cone over an ellipse " + std::to_string(n), t});
  }
  t.setupBipyramid(40.0f, 16.0f);
  shapes.push_back({"bipyramid", t});
  t.setupBipyramid(8.0f, 20.0f);
  shapes.push_back({"flat bipyramid", t});
  t.setupCylinder(b, 8);
  t.rotate(Angles(30, 45, 10).toMat3());
  shapes.push_back({"turned cylinder", t});
  t.setupCone(b, 7);
  t.rotate(Angles(-60, 10, 80).toMat3());
  shapes.push_back({"turned cone", t});

  const float distances[] = {-0.03125f, -0.25f, -1.0f, -4.0f, 0.03125f, 0.25f, 1.0f, 2.5f};
  for (const Shape& shape : shapes) {
    for (const float inset : distances) {
      SCOPED_TRACE(shape.what + " by " + std::to_string(inset));
      TraceModel grown = shape.trm;
      grown.expand(inset);
      const bool degreeThree = shape.trm.type == kTrmBox || shape.trm.type == kTrmCylinder;
      // Shrunk so far that a face would vanish, a shape cannot keep its faces: it stays as it was.
      Plane moved[TraceModel::kMaxPolys];
      int vanishing = 0;
      for (int f = 0; f < shape.trm.numPolys; f++)
        moved[f] = Plane(shape.trm.polys[f].plane.normal(), shape.trm.polys[f].plane.d - inset);
      for (int f = 0; f < shape.trm.numPolys; f++) {
        ConvexPolygon face;
        cm::planePolygon(face, moved[f], moved, shape.trm.numPolys);
        vanishing += face.numPoints < 3;
      }
      if (vanishing > 0) {
        EXPECT_GT(inset, 0.0f) << "only shrinking loses faces";
        EXPECT_EQ(grown.bounds, shape.trm.bounds);
        EXPECT_EQ(grown.numVerts, shape.trm.numVerts);
        expectClosed(grown);
        continue;
      }
      ASSERT_EQ(grown.numPolys, shape.trm.numPolys);
      EXPECT_EQ(grown.type, shape.trm.type);
      EXPECT_EQ(grown.offset, shape.trm.offset);
      expectClosed(grown);
      // Euler: a closed solid of genus 0.
      EXPECT_EQ(grown.numVerts - grown.numEdges + grown.numPolys, 2);
      for (int f = 0; f < grown.numPolys; f++) {
        const Plane& p = grown.polys[f].plane;
        const Plane& was = shape.trm.polys[f].plane;
        EXPECT_TRUE(p.normal().compare(was.normal(), 1e-6f)) << "face " << f;
        EXPECT_NEAR(p.d, was.d - inset, 1e-4f) << "face " << f;
        float reach = -1e30f;
        for (int i = 0; i < grown.numVerts; i++) {
          EXPECT_LE(p.distance(grown.verts[i]), 1e-4f) << "face " << f << " vertex " << i;
          reach = std::max(reach, p.distance(grown.verts[i]));
        }
        // The solid reaches out to every moved face.
        EXPECT_GE(reach, -1e-4f) << "face " << f;
        // Where no more than three faces meet, the corners of each face lie in its plane.
        ConvexPolygon corners;
        grown.getPolygon(f, corners);
        for (int k = 0; k < corners.numPoints && degreeThree; k++)
          EXPECT_NEAR(p.distance(corners[k]), 0.0f, 1e-4f) << "face " << f << " corner " << k;
      }
      for (int i = 0; i < grown.numVerts; i++)
        EXPECT_TRUE(grown.bounds.containsPoint(grown.verts[i]));
      // Where no more than three faces meet, the shape keeps its vertices and edges.
      if (degreeThree) {
        EXPECT_EQ(grown.numVerts, shape.trm.numVerts);
        EXPECT_EQ(grown.numEdges, shape.trm.numEdges);
      }
    }
  }
}

TEST(TraceModelGeometry, ExpandLeavesShapesWithoutVolumeAlone) {
  const Vec3 pts[4] = {v(0, 0, 0), v(10, 0, 0), v(10, 10, 0), v(0, 10, 0)};
  TraceModel flat;
  flat.setupPolygon(pts, 4);
  const TraceModel before = flat;
  flat.expand(-0.03125f);
  EXPECT_EQ(flat.numVerts, before.numVerts);
  EXPECT_EQ(flat.bounds, before.bounds);
  TraceModel none;
  none.setupBoundsOnly(4.0f);
  none.expand(-1.0f);
  EXPECT_EQ(none.bounds, Bounds(v(-4, -4, -4), v(4, 4, 4)));
  // Shrunk past its own size a box has no volume left: it stays as it was.
  TraceModel small = cmtest::box(1.0f);
  small.expand(2.0f);
  EXPECT_EQ(small.bounds, Bounds(v(-1, -1, -1), v(1, 1, 1)));
  expectClosed(small);
}

TEST(TraceModelGeometry, SplitGivesTwoClosedHalves) {
  const TraceModel t = cmtest::box(4.0f);
  TraceModel front, back;
  t.split(Plane(v(1, 0, 0), 1.0f), 0.001f, &front, &back);
  EXPECT_NEAR(front.bounds.mins.x, 1.0f, 1e-3f);
  EXPECT_NEAR(front.bounds.maxs.x, 4.0f, 1e-3f);
  EXPECT_NEAR(back.bounds.maxs.x, 1.0f, 1e-3f);
  EXPECT_EQ(front.numPolys, 6);
  EXPECT_EQ(back.numPolys, 6);
  expectClosed(front);
  expectClosed(back);
  // A plane that misses the solid hands it whole to one side.
  t.split(Plane(v(1, 0, 0), 10.0f), 0.001f, &front, &back);
  EXPECT_EQ(front.numPolys, 0);
  EXPECT_EQ(back.numPolys, 6);
}

TEST(TraceModelGeometry, ProjectionAndPlaneContact) {
  TraceModel t = cmtest::box(2.0f);
  float mn, mx;
  ASSERT_TRUE(t.projectionBounds(v(1, 0, 0), mn, mx, 0.5f));
  EXPECT_FLOAT_EQ(mn, -2.5f);
  EXPECT_FLOAT_EQ(mx, 2.5f);
  TraceModel none;
  EXPECT_FALSE(none.projectionBounds(v(1, 0, 0), mn, mx, 0.0f));
  EXPECT_EQ(mn, 1.0f);
  EXPECT_EQ(mx, -1.0f);
  Vec3 point;
  EXPECT_FLOAT_EQ(t.planeContact(Plane(v(1, 0, 0), 2.0f), point), 0.0f);
  EXPECT_EQ(point, v(2, 0, 0));  // the average of the face's four corners
  EXPECT_EQ(none.planeContact(Plane(v(1, 0, 0), 0.0f), point), 4096.0f);
}

}  // namespace
