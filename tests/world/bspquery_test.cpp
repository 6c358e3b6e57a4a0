// Queries of the ".bsp" world on the generated sample map: three rooms in a row along x (area 0
// x 0..256, area 1 256..512, area 2 512..768; y 0..256, z 0..128) joined by two doors at x = 256
// and x = 512 (y 96..160, z 0..96). Views look through the doors with portals open and closed.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <vector>

#include "lib/interface/convarsystem.h"
#include "lib/keydict.h"
#include "system/convarmanager.h"
#include "tests/support/capturecmdsystem.h"
#include "tests/world/worldtest_support.h"
#include "world/bspworld.h"
#include "world/kdworld.h"

namespace {

using worldtest::makeView;

class BspQueryTest : public ::testing::Test {
 protected:
  CaptureCmdSystem cmd_;
  BspSpatialSystem world_;

  void SetUp() override {
    KeyDict::initPools();
    getConVarManager();
    ASSERT_TRUE(world_.loadText(worldtest::readSourceFile("demo/media/maps/demo.bsp").c_str())) << cmd_.output;
    ASSERT_EQ(world_.getNumAreas(), 3);
    ASSERT_EQ(world_.getNumPortals(), 2);
  }
  void TearDown() override { destroyConVarManager(); }

  std::set<int> viewAreas(const Vec3& origin, const Vec3& forward) {
    SpatialView v = makeView(origin, forward);
    int out[16];
    int n = world_.areasVisibleFromView(&v, out, 16);
    std::set<int> s(out, out + n);
    EXPECT_EQ(int(s.size()), n) << "an area was listed twice";
    return s;
  }
};

TEST_F(BspQueryTest, PointsLocateTheirRooms) {
  struct Case {
    Vec3 p;
    int area;
    bool solid;
  };
  const Case cases[] = {
      {{10, 10, 10}, 0, false},   {{300, 10, 10}, 1, false},  {{700, 200, 100}, 2, false},
      {{256, 128, 10}, 1, false},  // on the plane: the positive side
      {{100, 100, -5}, -1, true},  // below the floor
  };
  for (const Case& c : cases) {
    EXPECT_EQ(world_.pointToArea(&c.p.x), c.area) << c.p.x << " " << c.p.z;
    EXPECT_EQ(world_.pointInSolid(c.p), c.solid) << c.p.x << " " << c.p.z;
  }
  // On the floor plane itself one side is solid and one open: not solid.
  EXPECT_FALSE(world_.pointInSolid(Vec3(100, 100, 0)));
}

TEST_F(BspQueryTest, ViewFloodThroughDoorsOpenAndClosed) {
  const Vec3 alongDoors(64, 128, 48);
  // Looking down the row of doors reaches every room; looking at the back wall only the first.
  EXPECT_EQ(viewAreas(alongDoors, Vec3(1, 0, 0)), (std::set<int>{0, 1, 2}));
  EXPECT_EQ(viewAreas(alongDoors, Vec3(-1, 0, 0)), (std::set<int>{0}));
  // The first door outside the field of view: nothing beyond the room.
  EXPECT_EQ(viewAreas(Vec3(64, 20, 48), Vec3(0, 1, 0)), (std::set<int>{0}));
  // Seen at a slant the first door leaves the second one outside its narrowed view, although the
  // second door lies inside the full frustum.
  EXPECT_EQ(viewAreas(Vec3(128, 40, 48), Vec3(1, 0, 0)), (std::set<int>{0, 1}));

  world_.setPortalState(2, 1);
  EXPECT_EQ(viewAreas(alongDoors, Vec3(1, 0, 0)), (std::set<int>{0, 1}));
  world_.setPortalState(1, 1);
  EXPECT_EQ(viewAreas(alongDoors, Vec3(1, 0, 0)), (std::set<int>{0}));
  // Higher bits do not stop a view.
  world_.setPortalState(1, 2);
  world_.setPortalState(2, 0);
  EXPECT_EQ(viewAreas(alongDoors, Vec3(1, 0, 0)), (std::set<int>{0, 1, 2}));
  // From the far room the flood runs the other way.
  EXPECT_EQ(viewAreas(Vec3(700, 128, 48), Vec3(-1, 0, 0)), (std::set<int>{0, 1, 2}));
  // No portal is left marked as being on a flood path.
  for (const AreaPortal& p : world_.portals())
    EXPECT_FALSE(p.inFlood);
}

TEST_F(BspQueryTest, OutsideEveryAreaAndSingleAreaSelection) {
  SpatialView below = makeView(Vec3(100, 100, -50), Vec3(1, 0, 0));
  int out[8];
  EXPECT_EQ(world_.areasVisibleFromView(&below, out, 8), 3);
  r_singlearea.setInt(1);
  SpatialView inside = makeView(Vec3(64, 128, 48), Vec3(1, 0, 0));
  ASSERT_EQ(world_.areasVisibleFromView(&inside, out, 8), 1);
  EXPECT_EQ(out[0], 1);
  r_singlearea.setInt(9);  // beyond the areas: the last one
  ASSERT_EQ(world_.areasVisibleFromView(&inside, out, 8), 1);
  EXPECT_EQ(out[0], 2);
}

TEST_F(BspQueryTest, SurfacesFollowTheFloodAndTheMask) {
  SurfaceList list;
  SpatialView v = makeView(Vec3(64, 128, 48), Vec3(1, 0, 0));
  AreaBitArray all;
  world_.surfacesVisibleFromView(&list, &v, all);
  std::set<int> ids;
  for (ModelSurface* s : list)
    ids.insert(s->id);
  EXPECT_EQ(ids, (std::set<int>{0, 1, 2}));
  // A repeated query empties the list first and never lists a surface twice.
  world_.surfacesVisibleFromView(&list, &v, all);
  std::vector<ModelSurface*> sorted(list.begin(), list.end());
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(std::unique(sorted.begin(), sorted.end()), sorted.end());

  // From outside every area the mask picks the areas.
  SpatialView below = makeView(Vec3(100, 100, -50), Vec3(1, 0, 0));
  AreaBitArray mask;
  mask.resize(3);
  mask.bytes[0] = 1 << 2;
  world_.surfacesVisibleFromView(&list, &below, mask);
  ASSERT_EQ(list.num(), 1);
  EXPECT_EQ(list[0]->id, 2);

  world_.surfacesInBounds(list, Bounds(Vec3(300, 10, 10), Vec3(310, 20, 20)));
  ASSERT_EQ(list.num(), 1);
  EXPECT_EQ(list[0]->id, 1);
}

TEST_F(BspQueryTest, BoxVisibility) {
  const Bounds inLastRoom(Vec3(690, 120, 40), Vec3(710, 136, 56));
  SpatialView along = makeView(Vec3(64, 128, 48), Vec3(1, 0, 0));
  SpatialView slanted = makeView(Vec3(128, 40, 48), Vec3(1, 0, 0));
  SpatialView back = makeView(Vec3(64, 128, 48), Vec3(-1, 0, 0));
  EXPECT_TRUE(world_.isBoundsVisibleFromView(&along, inLastRoom));
  EXPECT_FALSE(world_.isBoundsVisibleFromView(&slanted, inLastRoom));
  EXPECT_FALSE(world_.isBoundsVisibleFromView(&back, inLastRoom));
  // A box touching the viewer's own room is always visible.
  EXPECT_TRUE(world_.isBoundsVisibleFromView(&back, Bounds(Vec3(200, 10, 10), Vec3(300, 20, 20))));
  world_.setPortalState(2, 1);
  EXPECT_FALSE(world_.isBoundsVisibleFromView(&along, inLastRoom));
  int seen[] = {2};
  world_.setPortalState(2, 0);
  EXPECT_TRUE(world_.viewSeesAnyArea(seen, 1, &along));
  EXPECT_FALSE(world_.viewSeesAnyArea(seen, 1, &slanted));
}

TEST_F(BspQueryTest, PointFloodsWithABox) {
  const Vec3 p(64, 128, 48);
  int out[8];
  const Bounds everything(Vec3(-1000, -1000, -1000), Vec3(1000, 1000, 1000));
  EXPECT_EQ(world_.areasVisibleFromPoint(p, everything, out, 8), 3);
  // Blocking does not stop a box-limited flood.
  world_.setPortalState(1, 1);
  EXPECT_EQ(world_.areasVisibleFromPoint(p, everything, out, 8), 3);
  // A box that ends before the second door stops there.
  int n = world_.areasVisibleFromPoint(p, Bounds(Vec3(0, 0, 0), Vec3(300, 256, 128)), out, 8);
  EXPECT_EQ(std::set<int>(out, out + n), (std::set<int>{0, 1}));
  // The capacity bounds the output.
  EXPECT_EQ(world_.areasVisibleFromPoint(p, everything, out, 2), 2);
  // Outside every area: the areas the box touches.
  n = world_.areasVisibleFromPoint(Vec3(0, 0, -50), Bounds(Vec3(0, 0, -60), Vec3(10, 10, 10)), out, 8);
  ASSERT_EQ(n, 1);
  EXPECT_EQ(out[0], 0);
}

TEST_F(BspQueryTest, AreaListsAndBounds) {
  int out[8];
  EXPECT_EQ(world_.areasInBounds(Bounds(Vec3(250, 0, 0), Vec3(520, 10, 10)), out, 8), 3);
  EXPECT_EQ(world_.areasInBounds(Bounds(Vec3(250, 0, 0), Vec3(520, 10, 10)), out, 1), 1);
  EXPECT_EQ(out[0], 0);
  const int list[] = {2, 99, -1};
  EXPECT_TRUE(world_.boundsTouchAreaList(list, 3, Bounds(Vec3(600, 10, 10), Vec3(610, 20, 20))));
  EXPECT_FALSE(world_.boundsTouchAreaList(list, 3, Bounds(Vec3(10, 10, 10), Vec3(20, 20, 20))));
  AreaBitArray bits;
  bits.resize(3);
  bits.bytes[0] = 1;
  EXPECT_TRUE(world_.boundsTouchAreaMask(bits, Bounds(Vec3(10, 10, 10), Vec3(20, 20, 20))));
  EXPECT_FALSE(world_.boundsTouchAreaMask(bits, Bounds(Vec3(600, 10, 10), Vec3(610, 20, 20))));
  const int a[] = {1, 2}, b[] = {3, 2};
  EXPECT_TRUE(world_.areaListsIntersect(a, 2, b, 2));
  EXPECT_FALSE(world_.areaListsIntersect(a, 1, b, 2));
}

TEST_F(BspQueryTest, PortalStatesAndConnectedAreas) {
  EXPECT_EQ(world_.getPortalState(0), -1);
  EXPECT_EQ(world_.getPortalState(3), -1);  // beyond the count
  world_.setPortalState(0, 5);
  world_.setPortalState(3, 5);
  world_.setPortalState(1, 0x12345);
  EXPECT_EQ(world_.getPortalState(1), 0x2345);
  EXPECT_EQ(world_.findPortal(Bounds(Vec3(510, 100, 10), Vec3(514, 110, 20))), 2);
  EXPECT_EQ(world_.findPortal(Bounds(Vec3(10, 10, 10), Vec3(20, 20, 20))), 0);

  world_.setPortalState(1, 0);
  world_.setPortalState(2, 4);
  EXPECT_TRUE(world_.areasConnected(0, 2, 1));
  EXPECT_FALSE(world_.areasConnected(0, 2, 4));
  EXPECT_TRUE(world_.areasConnected(0, 1, 4));
  EXPECT_TRUE(world_.areasConnected(2, 2, 0xFFFF));
  EXPECT_FALSE(world_.areasConnected(0, 7, 0));
  EXPECT_FALSE(world_.areasConnected(-3, 1, 0));

  AreaBitArray bits;
  bits.resize(3);
  world_.getConnectedAreas(bits, 4, Vec3(64, 128, 48));
  EXPECT_TRUE(bits.test(0));
  EXPECT_TRUE(bits.test(1));
  EXPECT_FALSE(bits.test(2));
  // Too small an array is a fatal error and stays untouched.
  AreaBitArray small;
  small.resize(2);
  small.bytes[0] = 0xAA;
  world_.getConnectedAreas(small, 0, Vec3(64, 128, 48));
  EXPECT_EQ(small.bytes[0], 0xAA);
  EXPECT_NE(cmd_.errors.find("be sure to resize before calling getConnectedAreas()"), std::string::npos);
  // A bit count that claims more than the bytes hold is refused the same way, nothing written.
  cmd_.errors.clear();
  AreaBitArray lying;
  lying.resize(3);
  lying.bytes.setNum(0);
  world_.getConnectedAreas(lying, 0, Vec3(64, 128, 48));
  EXPECT_EQ(lying.bytes.num(), 0);
  EXPECT_NE(cmd_.errors.find("be sure to resize before calling getConnectedAreas()"), std::string::npos);
}

// A view query without a view answers nothing, in both worlds, and leaves the next real query
// as it would be (no stale view from before).
TEST_F(BspQueryTest, ViewQueriesRefuseANullView) {
  KDSpatialSystem kd;
  ASSERT_TRUE(kd.loadText(worldtest::readSourceFile("demo/media/maps/demo.kdt").c_str())) << cmd_.output;
  const std::set<int> before = viewAreas(Vec3(64, 128, 48), Vec3(1, 0, 0));
  for (SpatialSystem* world : {static_cast<SpatialSystem*>(&world_), static_cast<SpatialSystem*>(&kd)}) {
    SCOPED_TRACE(world->getFileId());
    int out[16] = {-7};
    EXPECT_EQ(world->areasVisibleFromView(nullptr, out, 16), 0);
    EXPECT_EQ(out[0], -7);
    SurfaceList list;
    ModelSurface stale;
    list.append(&stale);
    AreaBitArray all;
    world->surfacesVisibleFromView(&list, nullptr, all);
    EXPECT_EQ(list.num(), 0);
    EXPECT_FALSE(world->isBoundsVisibleFromView(nullptr, Bounds(Vec3(0, 0, 0), Vec3(768, 256, 128))));
    const int areas[] = {0, 1, 2};
    EXPECT_FALSE(world->viewSeesAnyArea(areas, 3, nullptr));
    world->computeAreaScreenRects(nullptr);
  }
  EXPECT_EQ(viewAreas(Vec3(64, 128, 48), Vec3(1, 0, 0)), before);
}

TEST_F(BspQueryTest, ScreenRectanglesOfAreasSeenThroughDoors) {
  SpatialView v = makeView(Vec3(64, 128, 48), Vec3(1, 0, 0));
  // A symmetric perspective projection (90 degrees, column-major) with the view looking down +x:
  // eye space x = world -y, y = world z, z = -(world x).
  float mv[16] = {0, 0, -1, 0, -1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 1};
  // translation by -origin in eye space
  mv[12] = 128;  // -(-1 * 128)
  mv[13] = -48;
  mv[14] = 64;
  float proj[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, -1, -1, 0, 0, -2, 0};
  std::copy(mv, mv + 16, v.modelView);
  std::copy(proj, proj + 16, v.projection);
  world_.computeAreaScreenRects(&v);
  Bounds r;
  EXPECT_TRUE(world_.getAreaScreenRect(r, 0).isCleared());  // entered without a portal
  world_.getAreaScreenRect(r, 1);
  ASSERT_FALSE(r.isCleared());
  // The door spans y 96..160 and z 0..96 at 192 units: a centred band, below the middle.
  EXPECT_NEAR(r.mins.x, 0.5f - 32.0f / 192.0f * 0.5f - 0.001f, 0.01f);
  EXPECT_NEAR(r.maxs.x, 0.5f + 32.0f / 192.0f * 0.5f + 0.001f, 0.01f);
  EXPECT_NEAR(r.mins.y, 0.5f - 48.0f / 192.0f * 0.5f - 0.001f, 0.01f);
  EXPECT_LT(r.maxs.y, 0.7f);
  world_.getAreaScreenRect(r, 2);
  EXPECT_FALSE(r.isCleared());
  world_.getAreaScreenRect(r, 17);
  EXPECT_TRUE(r.isCleared());
}

TEST_F(BspQueryTest, DrawDebugShowsPortalsOfTheLastFloodAndAreaRectangles) {
  worldtest::DebugRecorder recorder;
  SpatialView v = makeView(Vec3(128, 40, 48), Vec3(1, 0, 0));
  int out[16];
  world_.drawDebug();
  EXPECT_TRUE(recorder.polygons.empty()) << "nothing without r_showPortals";

  // At a slant the first door passes the view and the second is culled.
  g_conVarSystem->setString("r_showPortals", "1");
  ASSERT_EQ(world_.areasVisibleFromView(&v, out, 16), 2);
  world_.drawDebug();
  ASSERT_EQ(recorder.polygons.size(), 2u);
  for (const worldtest::DebugRecorder::Polygon& p : recorder.polygons) {
    const bool first = p.winding.points[0].x == 256.0f;
    EXPECT_EQ(p.color, first ? Vec4(0.2f, 1, 0.2f, 1) : Vec4(1, 0.2f, 0.2f, 1));
    EXPECT_EQ(p.winding.numPoints, 4);
    EXPECT_EQ(p.origin, Vec3());
    EXPECT_EQ(p.lifetime, 1000);
    EXPECT_FALSE(p.depthTest);
  }

  // Above 1 the areas' screen rectangles go back into the world in front of the eye.
  recorder.polygons.clear();
  const float mv[16] = {0, 0, -1, 0, -1, 0, 0, 0, 0, 1, 0, 0, 40, -48, 128, 1};
  const float proj[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, -1, -1, 0, 0, -2, 0};
  std::copy(mv, mv + 16, v.modelView);
  std::copy(proj, proj + 16, v.projection);
  world_.computeAreaScreenRects(&v);
  g_conVarSystem->setString("r_showPortals", "2");
  world_.drawDebug();
  int rects = 0;
  for (const worldtest::DebugRecorder::Polygon& p : recorder.polygons) {
    if (p.color != Vec4(0.6f, 0, 0.6f, 1))
      continue;
    ++rects;
    ASSERT_EQ(p.winding.numPoints, 4);
    for (int i = 0; i < 4; ++i) {
      EXPECT_GT(p.winding.points[i].x, 128.0f) << "in front of the eye";
      EXPECT_LT(p.winding.points[i].x, 140.0f) << "near the near plane";
    }
  }
  EXPECT_EQ(rects, 1) << "only the room behind the first door has a rectangle";
  g_conVarSystem->setString("r_showPortals", "0");
}

TEST_F(BspQueryTest, DrawDebugShowsTheLightGridAroundTheView) {
  worldtest::DebugRecorder recorder;
  // A 2 x 1 x 1 grid of 64-unit cells at the origin, directed light straight up.
  LightmapFile grid;
  grid.counts[0] = 2;
  grid.counts[1] = grid.counts[2] = 1;
  grid.invCellSize = Vec3(1.0f / 64, 1.0f / 64, 1.0f / 64);
  grid.cells = {40, 40, 40, 200, 100, 0, 0, 0, 40, 40, 40, 200, 100, 0, 0, 0};
  world_.setLightGrid(grid);
  world_.drawDebug();
  EXPECT_TRUE(recorder.arrows.empty());
  g_conVarSystem->setString("r_showgridlight", "1");
  recorder.view = Vec3(0, 0, 0);
  world_.drawDebug();
  ASSERT_EQ(recorder.arrows.size(), 2u);
  ASSERT_EQ(recorder.boxes.size(), 2u);
  EXPECT_EQ(recorder.arrows[1].start, Vec3(64, 0, 0));
  EXPECT_NEAR((recorder.arrows[1].end - recorder.arrows[1].start).length(), 8.0f, 1e-3f);
  EXPECT_EQ(recorder.arrows[1].size, 3);
  EXPECT_EQ(recorder.boxes[0].bounds, Bounds::fromSize(3.0f));
  EXPECT_EQ(recorder.boxes[0].origin, Vec3(0, 0, 0));
  // Only the cells within 256 units of the view on every axis.
  recorder.arrows.clear();
  recorder.view = Vec3(300, 0, 0);
  world_.drawDebug();
  ASSERT_EQ(recorder.arrows.size(), 1u);
  EXPECT_EQ(recorder.arrows[0].start, Vec3(64, 0, 0));
  g_conVarSystem->setString("r_showgridlight", "0");
}

}  // namespace
