// Timed debug primitives without a GL context: lifetimes on the view clock, the shapes that arrows,
// axes, boxes, trace models and polygons queue, the clear rules for undrawn entries and the caps.
#include <gtest/gtest.h>

#include <string>

#include "lib/interface/convarsystem.h"
#include "lib/interface/rendermodelsystem.h"
#include "lib/interface/tracemodel.h"
#include "render/material/expression.h"
#include "render/scene/rendermanager.h"
#include "system/convarmanager.h"
#include "tests/support/capturecmdsystem.h"

namespace {

const float kRed[4] = {1, 0, 0, 1};

class DebugPrimsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    getConVarManager();
    getRenderModelSystem();
    ASSERT_TRUE(manager.init());
    manager.setRenderView(nullptr, 1000);
  }
  void TearDown() override {
    manager.shutdown();
    destroyRenderModelSystem();
    destroyConVarManager();
    clearExpressions();
  }

  CaptureCmdSystem console;
  RenderManager manager;
};

TEST_F(DebugPrimsTest, ExpiryIsTheViewTimePlusALifetimeWithAFloor) {
  struct Case {
    int lifetime;
    int line;  // expiry of lines and polygons
    int text;
  };
  const Case cases[] = {{0, 1008, 1016}, {-50, 1008, 1016}, {5, 1008, 1016}, {8, 1008, 1016},
                        {12, 1012, 1016}, {20, 1020, 1020}, {100, 1100, 1100}};
  ConvexPolygon triangle;
  triangle.addPoint(Vec3(0, 0, 0));
  triangle.addPoint(Vec3(1, 0, 0));
  triangle.addPoint(Vec3(0, 1, 0));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lifetime);
    manager.clearDebugLines(0);
    manager.clearDebugPolygons(0);
    manager.debugLine(kRed, Vec3(), Vec3(1, 0, 0), c.lifetime, true);
    manager.debugPolygon(kRed, triangle, Vec3(), Mat3(), false, c.lifetime, true);
    manager.debugText("x", Vec3(), 1.0f, kRed, Mat3(), 0, c.lifetime);
    ASSERT_EQ(manager.debugLines().num(), 1);
    ASSERT_EQ(manager.debugPolygons().num(), 1);
    ASSERT_EQ(manager.debugTexts().num(), 1);
    EXPECT_EQ(manager.debugLines()[0].expireTime, c.line);
    EXPECT_EQ(manager.debugPolygons()[0].expireTime, c.line);
    EXPECT_EQ(manager.debugTexts()[0].expireTime, c.text);
  }
  // The flags: depth test as asked, not drawn yet.
  EXPECT_EQ(manager.debugLines()[0].flags, RenderManager::kDebugDepthTest);
  EXPECT_EQ(manager.debugPolygons()[0].flags, RenderManager::kDebugDepthTest);
}

TEST_F(DebugPrimsTest, UndrawnEntriesSurviveTimedClearsButTextsDoNot) {
  manager.debugLine(kRed, Vec3(), Vec3(1, 0, 0), 0, false);
  ConvexPolygon triangle;
  triangle.addPoint(Vec3(0, 0, 0));
  triangle.addPoint(Vec3(1, 0, 0));
  triangle.addPoint(Vec3(0, 1, 0));
  manager.debugPolygon(kRed, triangle, Vec3(), Mat3(), true, 0, false);
  manager.debugText("a", Vec3(), 1.0f, kRed, Mat3(), 0, 0);     // expires 1016
  manager.debugText("b", Vec3(), 1.0f, kRed, Mat3(), 0, 5000);  // expires 6000
  for (int time : {1, 1009, 99999}) {
    manager.clearDebugLines(time);
    EXPECT_EQ(manager.debugLines().num(), 1) << time;
  }
  manager.clearDebugPolygons(2000);
  EXPECT_EQ(manager.debugPolygons().num(), 1) << "never drawn";
  ASSERT_EQ(manager.debugTexts().num(), 1) << "texts go when expired, drawn or not";
  EXPECT_STREQ(manager.debugTexts()[0].text.c_str(), "b");
  manager.clearDebugLines(0);
  EXPECT_EQ(manager.debugLines().num(), 0);
  EXPECT_EQ(manager.debugPolygons().num(), 1) << "lines only";
  manager.clearDebugPolygons(0);
  EXPECT_EQ(manager.debugPolygons().num(), 0);
  EXPECT_EQ(manager.debugTexts().num(), 0);
}

TEST_F(DebugPrimsTest, ArrowsAreAThreeSidedHeadAndAShaftWhenLongEnough) {
  struct Case {
    Vec3 start, end;
    int size;
    int polygons;
    int lines;
    Vec3 shaftEnd;
  };
  const Case cases[] = {
      {Vec3(0, 0, 0), Vec3(5, 0, 0), 10, 4, 0, Vec3()},            // all head
      {Vec3(0, 0, 0), Vec3(10, 0, 0), 10, 4, 0, Vec3()},           // exactly the head's length
      {Vec3(0, 0, 0), Vec3(0, 0, 30), 10, 4, 1, Vec3(0, 0, 20)},   // head and shaft
      {Vec3(1, 2, 3), Vec3(1, 2, 3), 10, 0, 0, Vec3()},            // no direction: nothing
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.end.x << "," << c.end.z << " size " << c.size);
    manager.clearDebugLines(0);
    manager.clearDebugPolygons(0);
    manager.debugArrow(kRed, c.start, c.end, c.size, 0, true);
    ASSERT_EQ(manager.debugPolygons().num(), c.polygons);
    ASSERT_EQ(manager.debugLines().num(), c.lines);
    if (c.lines) {
      EXPECT_EQ(manager.debugLines()[0].start, c.start);
      EXPECT_NEAR((manager.debugLines()[0].end - c.shaftEnd).length(), 0.0f, 1e-4f);
    }
    if (!c.polygons)
      continue;
    const Vec3 dir = (c.end - c.start).normalized();
    for (int i = 0; i < 4; i++) {
      const RenderManager::DebugPolygon& p = manager.debugPolygons()[i];
      ASSERT_EQ(p.points.numPoints, 3);
      EXPECT_EQ(p.flags & RenderManager::kDebugFilled, 0) << "outlines";
      for (int k = 0; k < 3; k++) {
        const Vec3 d = p.points[k] - c.end;
        const float along = d.dot(dir);
        if (d.lengthSqr() < 1e-8f)
          continue;  // the tip
        // Base points: one head length back, half a head length from the axis.
        EXPECT_NEAR(along, -float(c.size), 1e-3f);
        EXPECT_NEAR((d - dir * along).length(), float(c.size) * 0.5f, 1e-3f);
      }
    }
    // Three sides in the arrow's colour, the base in half of it (alpha kept).
    EXPECT_EQ(manager.debugPolygons()[0].color[0], 1.0f);
    EXPECT_EQ(manager.debugPolygons()[3].color[0], 0.5f);
    EXPECT_EQ(manager.debugPolygons()[3].color[3], 1.0f);
  }
}

TEST_F(DebugPrimsTest, AxisIsThreeColouredArrowsOfLengthEight) {
  const Vec3 origin(10, 20, 30);
  manager.debugAxis(origin, Mat3());
  ASSERT_EQ(manager.debugLines().num(), 3);
  ASSERT_EQ(manager.debugPolygons().num(), 12);
  for (int k = 0; k < 3; k++) {
    const RenderManager::DebugLine& l = manager.debugLines()[k];
    EXPECT_EQ(l.start, origin);
    EXPECT_NEAR((l.end - l.start).length(), 7.0f, 1e-4f);
    EXPECT_EQ(l.flags & RenderManager::kDebugDepthTest, 0);
    for (int c = 0; c < 3; c++)
      EXPECT_EQ(l.color[c], c == k ? 1.0f : 0.0f) << k;
    EXPECT_EQ(l.expireTime, 1008);
  }
}

TEST_F(DebugPrimsTest, BoundsAreSixFacesOnTheBoxAtTheOrigin) {
  const Bounds box(Vec3(-1, -2, -3), Vec3(4, 5, 6));
  const Vec3 origin(100, 0, 0);
  manager.debugBounds(kRed, box, origin, true, 0, false);
  ASSERT_EQ(manager.debugPolygons().num(), 6);
  Bounds seen;
  seen.clear();
  for (const RenderManager::DebugPolygon& p : manager.debugPolygons()) {
    ASSERT_EQ(p.points.numPoints, 4);
    EXPECT_EQ(p.flags, RenderManager::kDebugFilled);
    // Every corner is a corner of the moved box.
    for (int i = 0; i < 4; i++) {
      const Vec3 local = p.points[i] - origin;
      for (int a = 0; a < 3; a++)
        EXPECT_TRUE(std::fabs(local[a] - box.mins[a]) < 1e-3f || std::fabs(local[a] - box.maxs[a]) < 1e-3f);
      seen.addPoint(local);
    }
  }
  EXPECT_EQ(seen.mins, box.mins);
  EXPECT_EQ(seen.maxs, box.maxs);
  // Cleared bounds queue nothing.
  manager.clearDebugPolygons(0);
  Bounds empty;
  empty.clear();
  manager.debugBounds(kRed, empty, origin, false, 0, false);
  EXPECT_EQ(manager.debugPolygons().num(), 0);
}

TEST_F(DebugPrimsTest, TraceModelFacesAndPolygonsAreMovedByOriginAndAxis) {
  TraceModel box;
  box.setupBox(Bounds(Vec3(-1, -1, -1), Vec3(1, 1, 1)));
  ASSERT_EQ(box.numPolys, 6);
  const Mat3 quarterTurn(Vec3(0, 1, 0), Vec3(-1, 0, 0), Vec3(0, 0, 1));
  manager.debugTraceModel(kRed, box, Vec3(0, 0, 50), quarterTurn, false, 0, true);
  ASSERT_EQ(manager.debugPolygons().num(), 6);
  for (const RenderManager::DebugPolygon& p : manager.debugPolygons()) {
    ASSERT_EQ(p.points.numPoints, 4);
    for (int i = 0; i < 4; i++)
      EXPECT_NEAR(std::fabs(p.points[i].z - 50.0f), 1.0f, 1e-4f);
  }
  // A corrupt edge number from the game module is skipped; the rest of the face stays.
  manager.clearDebugPolygons(0);
  box.polys[0].edges[1] = 1000;
  box.polys[1].numEdges = 99;
  manager.debugTraceModel(kRed, box, Vec3(), Mat3(), false, 0, true);
  ASSERT_GE(manager.debugPolygons().num(), 5);
  EXPECT_EQ(manager.debugPolygons()[0].points.numPoints, 3);

  // A polygon's points go through the axis rows and the origin.
  manager.clearDebugPolygons(0);
  ConvexPolygon p;
  p.addPoint(Vec3(1, 0, 0));
  p.addPoint(Vec3(0, 2, 0));
  p.addPoint(Vec3(0, 0, 3));
  manager.debugPolygon(kRed, p, Vec3(10, 0, 0), quarterTurn, true, 0, true);
  ASSERT_EQ(manager.debugPolygons().num(), 1);
  const ConvexPolygon& q = manager.debugPolygons()[0].points;
  EXPECT_EQ(q[0], Vec3(10, 1, 0));
  EXPECT_EQ(q[1], Vec3(8, 0, 0));
  EXPECT_EQ(q[2], Vec3(10, 0, 3));
  EXPECT_EQ(manager.debugPolygons()[0].flags, RenderManager::kDebugDepthTest | RenderManager::kDebugFilled);
}

TEST_F(DebugPrimsTest, QueuesStopGrowingAtTheirCapsWithOneWarning) {
  for (int i = 0; i < RenderManager::kMaxDebugLines + 100; i++)
    manager.debugLine(kRed, Vec3(), Vec3(1, 0, 0), 0, false);
  EXPECT_EQ(manager.debugLines().num(), RenderManager::kMaxDebugLines);
  size_t first = console.text.find("WARNING: debug primitive queue full");
  ASSERT_NE(first, std::string::npos);
  EXPECT_EQ(console.text.find("WARNING: debug primitive queue full", first + 1), std::string::npos);
  for (int i = 0; i < RenderManager::kMaxDebugTexts + 5; i++)
    manager.debugText("t", Vec3(), 1.0f, kRed, Mat3(), 0, 0);
  EXPECT_EQ(manager.debugTexts().num(), RenderManager::kMaxDebugTexts);
  const Bounds box(Vec3(-1, -1, -1), Vec3(1, 1, 1));
  for (int i = 0; i < RenderManager::kMaxDebugPolygons / 6 + 10; i++)
    manager.debugBounds(kRed, box, Vec3(), false, 0, false);
  EXPECT_EQ(manager.debugPolygons().num(), RenderManager::kMaxDebugPolygons);
  // Clearing makes room again.
  manager.clearDebugLines(0);
  manager.debugLine(kRed, Vec3(), Vec3(1, 0, 0), 0, false);
  EXPECT_EQ(manager.debugLines().num(), 1);
}

}  // namespace
