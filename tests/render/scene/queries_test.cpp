// The render manager's world queries without a GL context: forwarding to a spatial system of the
// test's own (and the answers without one), the area bit sets of a view and a point, map entity
// dictionaries, segment traces against a cube entity and the in-world interface trace.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "lib/interface/convarsystem.h"
#include "lib/interface/rendermodelsystem.h"
#include "lib/interface/spatialsystem.h"
#include "lib/interface/userinterfacesystem.h"
#include "lib/keydict.h"
#include "render/material/expression.h"
#include "render/material/material.h"
#include "render/model/basemodel.h"
#include "render/model/dynamicmodel.h"
#include "render/scene/rendermanager.h"
#include "system/convarmanager.h"
#include "tests/support/capturecmdsystem.h"

namespace {

// Nine areas; the view sees 0, 3 and 8 (and an out-of-range answer that must be ignored), a point
// sees 2 and 5; portals and connections answer recognisable values.
class TestSpatialSystem : public SpatialSystem {
 public:
  bool load(const char*) override { return true; }
  int pointToArea(const float p[3]) override { return p[0] > 0 ? 4 : -1; }
  int getNumAreas() override { return 9; }
  int getNumPortals() override { return 3; }
  int findPortal(const Bounds& b) override { return b.mins.x > 100 ? 0 : 2; }
  void setPortalState(int portal, int bits) override { lastPortal = portal, lastBits = bits; }
  int getPortalState(int portal) override { return portal == lastPortal ? lastBits : 0; }
  bool areasConnected(int a, int b, int mask) override { return a + b == mask; }
  void getConnectedAreas(AreaBitArray& bits, int, const Vec3&) override { bits.bytes[0] = 0x81; }
  int areasInBounds(const Bounds&, int* out, int max) override {
    for (int i = 0; i < max && i < 2; i++)
      out[i] = i + 6;
    return max < 2 ? max : 2;
  }
  int areasVisibleFromView(const SpatialView* view, int* out, int max) override {
    lastViewOrigin = view->origin;
    const int areas[] = {0, 3, 8, 40};
    int n = 0;
    for (int a : areas)
      if (n < max)
        out[n++] = a;
    return n;
  }
  int areasVisibleFromPoint(const Vec3& point, const Bounds& bounds, int* out, int max) override {
    lastPointBounds = bounds;
    lastPoint = point;
    const int areas[] = {2, 5};
    int n = 0;
    for (int a : areas)
      if (n < max)
        out[n++] = a;
    return n;
  }
  const List<KeyDict*>* getEntities() override { return &entities; }

  int lastPortal = -1;
  int lastBits = 0;
  Vec3 lastViewOrigin;
  Vec3 lastPoint;
  Bounds lastPointBounds;
  List<KeyDict*> entities;
};

std::vector<int> setBits(const AreaBitArray& bits) {
  std::vector<int> out;
  for (int i = 0; i < bits.numBits; i++)
    if (bits.test(i))
      out.push_back(i);
  return out;
}

class QueriesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    getConVarManager();
    getRenderModelSystem();
    ASSERT_TRUE(manager.init());
  }
  void TearDown() override {
    g_spatialSystem = nullptr;
    manager.unloadMap();
    manager.shutdown();
    destroyRenderModelSystem();
    destroyConVarManager();
    clearExpressions();
  }

  CaptureCmdSystem console;
  RenderManager manager;
};

TEST_F(QueriesTest, WithoutASpatialSystemEveryQueryAnswersNothing) {
  g_spatialSystem = nullptr;
  EXPECT_EQ(manager.getNumPortals(), 0);
  EXPECT_EQ(manager.findPortal(Bounds(Vec3(0, 0, 0), Vec3(1, 1, 1))), 0);
  manager.setPortalState(1, 3);
  EXPECT_EQ(manager.getPortalState(1), 0);
  EXPECT_FALSE(manager.areasConnected(1, 2, 3));
  EXPECT_EQ(manager.getNumAreas(), 0);
  EXPECT_EQ(manager.getNumMapEntities(), 0);
  EXPECT_EQ(manager.pointToArea(Vec3(5, 0, 0)), -1);
  int areas[4] = {-7, -7, -7, -7};
  EXPECT_EQ(manager.areasInBounds(Bounds(Vec3(0, 0, 0), Vec3(1, 1, 1)), areas, 4), 0);
  EXPECT_EQ(areas[0], -7);
  AreaBitArray bits;
  bits.resize(16);
  bits.bytes[0] = 0xff;
  manager.getConnectedAreas(bits, 0, Vec3());
  EXPECT_EQ(bits.bytes[0], 0xff) << "nothing to ask: the set is left alone";
  // No areas: the view's set is emptied, the point's set sized to nothing.
  RenderView view;
  manager.getViewPVS(&view, &bits);
  EXPECT_TRUE(setBits(bits).empty());
  manager.collectAreas(Vec3(), &bits);
  EXPECT_EQ(bits.numBits, 0);
  // The empty dictionary, never null.
  KeyDict* dict = manager.getMapEntityDict(0);
  ASSERT_NE(dict, nullptr);
  EXPECT_EQ(dict->num(), 0);
  EXPECT_EQ(console.text.find("not available"), std::string::npos) << console.text;
}

TEST_F(QueriesTest, ForwardersReachTheSpatialSystem) {
  TestSpatialSystem world;
  g_spatialSystem = &world;
  EXPECT_EQ(manager.getNumPortals(), 3);
  EXPECT_EQ(manager.findPortal(Bounds(Vec3(0, 0, 0), Vec3(1, 1, 1))), 2);
  EXPECT_EQ(manager.findPortal(Bounds(Vec3(200, 0, 0), Vec3(201, 1, 1))), 0);
  manager.setPortalState(2, 0x8001);
  EXPECT_EQ(manager.getPortalState(2), 0x8001);
  EXPECT_TRUE(manager.areasConnected(1, 2, 3));
  EXPECT_FALSE(manager.areasConnected(1, 2, 4));
  EXPECT_EQ(manager.getNumAreas(), 9);
  EXPECT_EQ(manager.pointToArea(Vec3(5, 0, 0)), 4);
  EXPECT_EQ(manager.pointToArea(Vec3(-5, 0, 0)), -1);
  int areas[4] = {};
  EXPECT_EQ(manager.areasInBounds(Bounds(Vec3(0, 0, 0), Vec3(1, 1, 1)), areas, 4), 2);
  EXPECT_EQ(areas[0], 6);
  EXPECT_EQ(areas[1], 7);
  EXPECT_EQ(manager.areasInBounds(Bounds(Vec3(0, 0, 0), Vec3(1, 1, 1)), nullptr, 4), 0);
  AreaBitArray bits;
  bits.resize(9);
  manager.getConnectedAreas(bits, 0, Vec3());
  EXPECT_EQ(setBits(bits), (std::vector<int>{0, 7}));
}

TEST_F(QueriesTest, ViewVisibilityBitsNeedRoomForEveryArea) {
  TestSpatialSystem world;
  g_spatialSystem = &world;
  RenderView view;
  view.origin = Vec3(10, 20, 30);
  view.width = 640;
  view.height = 480;
  view.fovX = view.fovY = 90.0f;
  manager.setRenderView(nullptr, 555);

  // 7 bits for 9 areas: a warning, the set as it was.
  AreaBitArray small;
  small.resize(7);
  small.bytes[0] = 0x40;
  manager.getViewPVS(&view, &small);
  EXPECT_NE(console.text.find("WARNING: pvsArray.size() < getNumAreas(), be sure to resize before calling getViewPVS()"),
            std::string::npos);
  EXPECT_EQ(small.bytes[0], 0x40);

  // 16 bits: the old bits are zeroed before the visible ones are set; the area past the count is
  // ignored; the view was current while it was asked, and the previous view is current again.
  AreaBitArray bits;
  bits.resize(16);
  bits.bytes[0] = 0xff;
  bits.bytes[1] = 0xff;
  manager.getViewPVS(&view, &bits);
  EXPECT_EQ(setBits(bits), (std::vector<int>{0, 3, 8}));
  EXPECT_EQ(world.lastViewOrigin, view.origin);
  EXPECT_EQ(manager.currentView().time, 555);
  EXPECT_EQ(manager.currentView().origin, Vec3());
}

TEST_F(QueriesTest, PointAreaBitsAreSizedToTheAreaCount) {
  TestSpatialSystem world;
  g_spatialSystem = &world;
  AreaBitArray bits;
  bits.resize(1);
  bits.bytes[0] = 0xff;
  manager.collectAreas(Vec3(1, 2, 3), &bits);
  EXPECT_EQ(bits.numBits, 9);
  EXPECT_EQ(bits.bytes.num(), 4) << "two bytes for nine bits, raised to a multiple of four";
  EXPECT_EQ(setBits(bits), (std::vector<int>{2, 5}));
  EXPECT_EQ(world.lastPoint, Vec3(1, 2, 3));
  EXPECT_EQ(world.lastPointBounds.mins, Vec3(1 - 65536.0f, 2 - 65536.0f, 3 - 65536.0f));
  EXPECT_EQ(world.lastPointBounds.maxs, Vec3(1 + 65536.0f, 2 + 65536.0f, 3 + 65536.0f));
}

TEST_F(QueriesTest, MapEntityDictionariesComeFromTheSpatialSystem) {
  TestSpatialSystem world;
  KeyDict first;
  first.set("classname", "worldspawn");
  world.entities.append(&first);
  world.entities.append(nullptr);
  g_spatialSystem = &world;
  EXPECT_EQ(manager.getNumMapEntities(), 2);
  EXPECT_EQ(manager.getMapEntityDict(0), &first);
  for (int index : {-1, 1, 2, 1000}) {
    KeyDict* d = manager.getMapEntityDict(index);
    ASSERT_NE(d, nullptr) << index;
    EXPECT_EQ(d->num(), 0) << index;
  }
}

// The 16-unit default cube at (100, 0, 0): segments along the axes and diagonals.
TEST_F(QueriesTest, TraceAgainstACubeEntityFindsTheNearestHit) {
  BaseModel cube;
  cube.makeDefault();
  Material solid;
  RenderEntity entity;
  entity.model = &cube;
  entity.customMaterial = &solid;
  entity.origin = Vec3(100, 0, 0);
  const int index = manager.addEntityDef(&entity);
  ASSERT_GE(index, 0);

  struct Case {
    Vec3 start, end;
    float radius;
    bool hit;
    Vec3 point;
    float fraction;
    Vec3 normal;
  };
  const Case cases[] = {
      // Straight through along +x: enters the -x face at 92.
      {Vec3(0, 0, 0), Vec3(200, 0, 0), 0.0f, true, Vec3(92, 0, 0), 0.46f, Vec3(-1, 0, 0)},
      // From the far side: the +x face at 108.
      {Vec3(200, 2, 3), Vec3(0, 2, 3), 0.0f, true, Vec3(108, 2, 3), 0.46f, Vec3(1, 0, 0)},
      // Down onto the top.
      {Vec3(100, 1, 50), Vec3(100, 1, -50), 0.0f, true, Vec3(100, 1, 8), 0.42f, Vec3(0, 0, 1)},
      // Passes beside the cube.
      {Vec3(0, 20, 0), Vec3(200, 20, 0), 0.0f, false, Vec3(200, 20, 0), 1.0f, Vec3()},
      // Stops short of it.
      {Vec3(0, 0, 0), Vec3(90, 0, 0), 0.0f, false, Vec3(90, 0, 0), 1.0f, Vec3()},
      // Swept with a radius of 4, the segment meets the -x face 4 units early.
      {Vec3(0, 0, 0), Vec3(200, 0, 0), 4.0f, true, Vec3(88, 0, 0), 0.44f, Vec3(-1, 0, 0)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "start " << c.start.x << "," << c.start.y << "," << c.start.z
                                    << " radius " << c.radius);
    ModelTraceResult r;
    r.jointIndex = 5;
    EXPECT_EQ(manager.traceEntityModel(&r, index, c.start, c.end, c.radius), c.hit);
    EXPECT_NEAR(r.fraction, c.fraction, 0.01f);
    EXPECT_NEAR((r.endPosition - c.point).length(), 0.0f, 0.3f);
    EXPECT_EQ(r.jointIndex, -1);
    EXPECT_EQ(r.entity, manager.getRenderEntity(index));
    if (c.hit) {
      EXPECT_NEAR(std::fabs(r.plane.normal().dot(c.normal)), 1.0f, 1e-3f);
      EXPECT_EQ(r.material, &solid);
    } else {
      EXPECT_EQ(r.material, nullptr);
    }
  }

  // A free slot, a negative index and one past the list answer false with the end as the position.
  manager.freeEntityDef(index);
  for (int bad : {index, -1, 50}) {
    ModelTraceResult r;
    EXPECT_FALSE(manager.traceEntityModel(&r, bad, Vec3(0, 0, 0), Vec3(200, 0, 0), 0.0f));
    EXPECT_EQ(r.fraction, 1.0f);
    EXPECT_EQ(r.endPosition, Vec3(200, 0, 0));
    EXPECT_EQ(r.entity, nullptr);
  }
}

TEST_F(QueriesTest, NonSolidSurfacesAreNotHit) {
  BaseModel cube;
  cube.makeDefault();
  Material nonSolid;
  nonSolid.materialFlags = kMaterialNonSolid;
  RenderEntity entity;
  entity.model = &cube;
  entity.customMaterial = &nonSolid;
  entity.origin = Vec3(100, 0, 0);
  const int index = manager.addEntityDef(&entity);
  ModelTraceResult r;
  EXPECT_FALSE(manager.traceEntityModel(&r, index, Vec3(0, 0, 0), Vec3(200, 0, 0), 0.0f));
  EXPECT_EQ(r.fraction, 1.0f);
}

// A hit on a skinned model reports the joint that weighs most on the hit triangle: two triangles of
// a square at x = 0, one following joint 1, the other joint 2.
TEST_F(QueriesTest, TraceOnASkinnedModelReportsTheHitJoint) {
  const char* text = R"(meshVersion 1
numJoints 3
numMeshes 1
joints {
  "root" -1 ( 0 0 0 ) ( 0 0 0 )
  "lower" 0 ( 0 0 0 ) ( 0 0 0 )
  "upper" 1 ( 0 0 0 ) ( 0 0 0 )
}
mesh {
  shader "textures/skin"
  numverts 6
  vert ( 0 -10 -10 ) ( 0 0 ) ( 1 0 0 0 ) ( 1 0 0 0 )
  vert ( 0 10 -10 ) ( 1 0 ) ( 1 0 0 0 ) ( 1 0 0 0 )
  vert ( 0 10 10 ) ( 1 1 ) ( 1 0 0 0 ) ( 1 0 0 0 )
  vert ( 0 -10 -10 ) ( 0 0 ) ( 2 0 0 0 ) ( 1 0 0 0 )
  vert ( 0 10 10 ) ( 1 1 ) ( 2 0 0 0 ) ( 1 0 0 0 )
  vert ( 0 -10 10 ) ( 0 1 ) ( 2 0 0 0 ) ( 1 0 0 0 )
  numtris 2
  tri 0 1 2
  tri 3 4 5
}
)";
  DynamicModel skinned;
  skinned.init("models/square.dmesh");
  skinned.loadFromDmeshText(text);
  ASSERT_EQ(skinned.numSurfaces(), 1) << console.text;
  RenderEntity entity;
  entity.model = &skinned;
  entity.origin = Vec3(50, 0, 0);
  const int index = manager.addEntityDef(&entity);
  // (y, z) = (5, -5) lies in the first triangle (below the diagonal), (-5, 5) in the second.
  struct Case {
    float y, z;
    int joint;
  };
  for (const Case& c : {Case{5, -5, 1}, Case{-5, 5, 2}}) {
    bool hit = false;
    for (float from : {0.0f, 100.0f}) {
      ModelTraceResult r;
      if (!manager.traceEntityModel(&r, index, Vec3(from, c.y, c.z), Vec3(100 - from, c.y, c.z), 0.0f))
        continue;
      hit = true;
      EXPECT_EQ(r.jointIndex, c.joint) << c.y << "," << c.z;
    }
    EXPECT_TRUE(hit) << c.y << "," << c.z;
  }
  manager.freeEntityDef(index);
  skinned.purge();
}

// An interface that only answers whether it loaded.
class PanelInterface : public UserInterface {
 public:
  bool isValid() override { return valid; }
  const char* handleEvent(const UIInputEvent*, int, bool*) override { return ""; }
  void namedEvent(const char*) override {}
  void redraw(int) override {}
  void setStateString(const char*, const char*) override {}
  void setStateFloat(const char*, float) override {}
  void activate(bool, int) override {}
  bool valid = true;
};

// A 64 x 48 interface panel in the y-z plane at x = 0, facing -x, with texture coordinates
// s = 0..1 left to right (y 32 .. -32) and t = 0..1 top to bottom (z 24 .. -24).
class GuiTraceTest : public QueriesTest {
 protected:
  void SetUp() override {
    QueriesTest::SetUp();
    panel.init("test_panel");
    SurfaceGeometry* g = panel.allocGeometry(4, 6);
    ASSERT_NE(g, nullptr);
    const float corners[4][4] = {{32, 24, 0, 0}, {-32, 24, 1, 0}, {-32, -24, 1, 1}, {32, -24, 0, 1}};
    for (int i = 0; i < 4; i++) {
      DrawVertex& v = g->verts[i];
      v = DrawVertex{};
      v.xyz[0] = 0;
      v.xyz[1] = corners[i][0];
      v.xyz[2] = corners[i][1];
      v.st[0] = corners[i][2];
      v.st[1] = corners[i][3];
    }
    const int idx[6] = {0, 1, 2, 0, 2, 3};
    for (int i = 0; i < 6; i++)
      g->indexes[i] = idx[i];
    g->bounds = Bounds(Vec3(0, -32, -24), Vec3(0, 32, 24));
    panel.addSurface({nullptr, g, -1});
    guiMaterial.guiEntity = 1;
    entity.model = &panel;
    entity.customMaterial = &guiMaterial;
    entity.guis[1] = &gui;
  }
  void TearDown() override {
    manager.unloadMap();
    panel.purge();  // its geometry goes back to the model manager before that is destroyed
    QueriesTest::TearDown();
  }
  BaseModel panel;
  Material guiMaterial;
  PanelInterface gui;
  RenderEntity entity;
};

TEST_F(GuiTraceTest, HitsMapToInterfaceCoordinates) {
  const int index = manager.addEntityDef(&entity);
  // Which side the panel's plane faces depends on the winding: find the front from the hit.
  const Vec3 fronts[2] = {Vec3(-50, 0, 0), Vec3(50, 0, 0)};
  Vec3 front;
  for (const Vec3& f : fronts)
    if (manager.guiTrace(index, f, Vec3(-f.x, 0, 0)).guiIndex == 1)
      front = f;
  ASSERT_NE(front, Vec3()) << "the panel is hit from neither side";

  struct Case {
    float y, z;  // where the segment crosses the panel
    float x, yOut;
  };
  const Case cases[] = {{0, 0, 320, 240}, {32, 24, 0, 0}, {-16, 12, 480, 120}, {24, -18, 80, 420}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.y << "," << c.z);
    const GuiTraceResult r = manager.guiTrace(index, Vec3(front.x, c.y, c.z), Vec3(-front.x, c.y, c.z));
    EXPECT_EQ(r.guiIndex, 1);
    EXPECT_NEAR(r.x, c.x, 0.5f);
    EXPECT_NEAR(r.y, c.yOut, 0.5f);
  }

  struct Miss {
    Vec3 start, end;
    const char* why;
  };
  const Miss misses[] = {
      {Vec3(front.x, 40, 0), Vec3(-front.x, 40, 0), "beside the panel"},
      {Vec3(-front.x, 0, 0), Vec3(front.x, 0, 0), "from behind"},
      {Vec3(-front.x, 0, 0), Vec3(-front.x, 10, 0), "parallel, behind"},
      {Vec3(front.x, 0, 0), Vec3(front.x * 0.5f, 0, 0), "stops short"},
  };
  for (const Miss& m : misses) {
    const GuiTraceResult r = manager.guiTrace(index, m.start, m.end);
    EXPECT_EQ(r.guiIndex, -1) << m.why;
    EXPECT_EQ(r.x, -1.0f) << m.why;
    EXPECT_EQ(r.y, -1.0f) << m.why;
  }

  // An interface that reports itself not valid takes no hit.
  gui.valid = false;
  EXPECT_EQ(manager.guiTrace(index, Vec3(front.x, 0, 0), Vec3(-front.x, 0, 0)).guiIndex, -1);
  gui.valid = true;
  EXPECT_EQ(manager.guiTrace(index, Vec3(front.x, 0, 0), Vec3(-front.x, 0, 0)).guiIndex, 1);

  // Without an interface in the entity's slot the surface is skipped; a free slot answers -1.
  entity.guis[1] = nullptr;
  manager.updateEntityDef(index, &entity);
  EXPECT_EQ(manager.guiTrace(index, Vec3(front.x, 0, 0), Vec3(-front.x, 0, 0)).guiIndex, -1);
  manager.freeEntityDef(index);
  EXPECT_EQ(manager.guiTrace(index, Vec3(front.x, 0, 0), Vec3(-front.x, 0, 0)).guiIndex, -1);
  EXPECT_EQ(manager.guiTrace(-3, Vec3(front.x, 0, 0), Vec3(-front.x, 0, 0)).guiIndex, -1);
}

}  // namespace
