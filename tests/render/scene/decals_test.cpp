// Projected decals and entity overlays without a GL context: clipping against a box world (the
// pieces, their texture coordinates, offsets and fades), the material filter, the pool, expiry,
// entity decals that follow their entity, and the overlay slots.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "lib/interface/convarsystem.h"
#include "lib/interface/rendermodelsystem.h"
#include "lib/interface/spatialsystem.h"
#include "render/material/expression.h"
#include "render/material/material.h"
#include "render/model/basemodel.h"
#include "render/scene/decals.h"
#include "render/scene/rendermanager.h"
#include "system/convarmanager.h"
#include "tests/support/capturecmdsystem.h"

namespace {

std::unique_ptr<Material> makeMaterial(const char* body) {
  auto m = std::make_unique<Material>();
  m->parse(body, int(std::strlen(body)));
  return m;
}

DrawVertex at(float x, float y, float z) {
  DrawVertex v = {};
  v.xyz[0] = x;
  v.xyz[1] = y;
  v.xyz[2] = z;
  return v;
}

// Adds a surface of triangles (three points each) to a model, with facet planes.
void addTriangles(BaseModel* model, Material* material, const std::vector<Vec3>& points) {
  SurfaceGeometry* g = model->allocGeometry(int(points.size()), int(points.size()));
  ASSERT_NE(g, nullptr);
  g->bounds.clear();
  for (size_t i = 0; i < points.size(); i++) {
    g->verts[i] = at(points[i].x, points[i].y, points[i].z);
    g->indexes[i] = int(i);
    g->bounds.addPoint(points[i]);
  }
  for (size_t t = 0; t < points.size() / 3; t++)
    g->planes[t].fromPoints(points[t * 3], points[t * 3 + 1], points[t * 3 + 2]);
  g->facetsValid = 1;
  model->addSurface({material, g, 0});
}

// One area whose model is the box world.
class BoxWorld : public SpatialSystem {
 public:
  bool load(const char*) override { return true; }
  int pointToArea(const float*) override { return 0; }
  int areasVisibleFromPoint(const Vec3&, const Bounds&, int* out, int max) override {
    if (max < 1)
      return 0;
    out[0] = 0;
    return 1;
  }
  int areasInBounds(const Bounds&, int* out, int max) override {
    if (max < 1)
      return 0;
    out[0] = 0;
    return 1;
  }
  RenderModel* getAreaModel(int area) override { return area == 0 ? model : nullptr; }
  RenderModel* model = nullptr;
};

class DecalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    getConVarManager();
    getRenderModelSystem();
    ASSERT_TRUE(manager.init());
    plain = makeMaterial("{\nmap _white\n}\n");
    noMarks = makeMaterial("surfaceparm nomarks\n{\nmap _white\n}\n");
    forced = makeMaterial("surfaceparm nomarks\nsurfaceparm forceOverlay\n{\nmap _white\n}\n");
    stageless = makeMaterial("sort decal\n");
    decal = makeMaterial("{\nmap _white\nblendfunc blend\n}\n");
    world.model = g_renderModelSystem->allocEmptyModel();
    g_spatialSystem = &world;
  }
  void TearDown() override {
    g_spatialSystem = nullptr;
    manager.unloadMap();
    manager.shutdown();
    destroyRenderModelSystem();
    destroyConVarManager();
    clearExpressions();
  }
  BaseModel* worldModel() { return static_cast<BaseModel*>(world.model); }

  // The floor z = 0 over [-64, 64]^2 in two triangles split along the x = y diagonal.
  void addFloor(Material* material) {
    addTriangles(worldModel(), material,
                 {Vec3(-64, -64, 0), Vec3(64, -64, 0), Vec3(64, 64, 0), Vec3(-64, -64, 0), Vec3(64, 64, 0),
                  Vec3(-64, 64, 0)});
  }

  // A 32-unit square under the floor (z = -8) projected from 8 units above it; the winding's s
  // runs with x, its t with y.
  void project(bool parallel, float fade, int time) {
    const float winding[4][5] = {
        {-16, -16, -8, 0, 0}, {-16, 16, -8, 0, 1}, {16, 16, -8, 1, 1}, {16, -16, -8, 1, 0}};
    manager.projectDecal(winding, Vec3(0, 0, 8), parallel, fade, decal.get(), time);
  }

  BaseModel* build(int time) {
    manager.setRenderView(nullptr, time);
    return renderDecals().buildDecalModel(manager);
  }

  CaptureCmdSystem console;
  RenderManager manager;
  BoxWorld world;
  std::unique_ptr<Material> plain, noMarks, forced, stageless, decal;
};

TEST_F(DecalTest, ParallelDecalIsClippedIntoTheFloorTriangles) {
  addFloor(plain.get());
  // A wall facing the projection and one perpendicular to it inside the volume.
  addTriangles(worldModel(), plain.get(), {Vec3(0, -4, 1), Vec3(0, 4, 1), Vec3(0, 0, 5)});
  project(true, 16.0f, 1000);
  ASSERT_EQ(renderDecals().numUsed(), 2) << "one piece per floor triangle; the perpendicular triangle gets none";
  BaseModel* model = build(1000);
  ASSERT_NE(model, nullptr);
  EXPECT_STREQ(model->name(), "_decalModel_");
  ASSERT_EQ(model->numSurfaces(), 1) << "one run: same time, same material";
  EXPECT_EQ(model->getSurface(0)->material, decal.get());
  EXPECT_EQ(model->getSurface(0)->id, 0) << "the one area holding it";
  ASSERT_EQ(renderDecals().surfaceTimes().num(), 1);
  EXPECT_EQ(renderDecals().surfaceTimes()[0], 1000);
  const SurfaceGeometry* g = model->getSurface(0)->geometry;
  ASSERT_EQ(g->numVerts, 6) << "two triangles";
  EXPECT_EQ(g->numIndexes, 6);
  for (int i = 0; i < g->numVerts; i++) {
    const DrawVertex& v = g->verts[i];
    SCOPED_TRACE(i);
    // The parallel prism covers [-16, 16]^2; s and t run 0..1 across it.
    EXPECT_NEAR(std::fabs(v.xyz[0]), 16.0f, 1e-3f);
    EXPECT_NEAR(std::fabs(v.xyz[1]), 16.0f, 1e-3f);
    EXPECT_NEAR(v.xyz[2], 0.135f, 1e-4f) << "0.125 off the surface, then 0.01";
    EXPECT_NEAR(v.st[0], (v.xyz[0] + 16.0f) / 32.0f, 1e-4f);
    // The frame's second tangent runs against increasing t (the engine's tangent convention).
    EXPECT_NEAR(v.st[1], (16.0f - v.xyz[1]) / 32.0f, 1e-4f);
    EXPECT_NEAR(v.normal[2], 1.0f, 1e-4f);
    // Depth behind the caps: 8.135 and 7.865; over a fade of 16: 7.865 / 16 x 255 = 125.
    EXPECT_EQ(v.color[0], 125);
    EXPECT_EQ(v.color[3], 125);
  }
}

TEST_F(DecalTest, PointProjectionNarrowsToTheApexAndFadeZeroIsFull) {
  addFloor(plain.get());
  project(false, 0.0f, 5);
  ASSERT_EQ(renderDecals().numUsed(), 2);
  const SurfaceGeometry* g = build(5)->getSurface(0)->geometry;
  for (int i = 0; i < g->numVerts; i++) {
    // Halfway between the winding (z = -8) and the apex (z = 8): [-8, 8]^2 (at z = 0; the points
    // are then lifted, the texture coordinates read where they end up).
    EXPECT_NEAR(std::fabs(g->verts[i].xyz[0]), 8.0f, 1e-3f);
    EXPECT_NEAR(g->verts[i].st[0], (g->verts[i].xyz[0] + 16.0f) / 32.0f, 1e-4f);
    EXPECT_EQ(g->verts[i].color[0], 255) << "no fade distance: no fade, and no division by zero";
  }
}

TEST_F(DecalTest, MaterialFilter) {
  struct Case {
    const char* what;
    Material* material;
    int pieces;
  };
  const Case cases[] = {
      {"plain", plain.get(), 2},
      {"nomarks", noMarks.get(), 0},
      {"nomarks with forceOverlay", forced.get(), 2},
      {"no stages", stageless.get(), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    worldModel()->init("area0");
    renderDecals().clearAll();
    addFloor(c.material);
    project(true, 16.0f, 1);
    EXPECT_EQ(renderDecals().numUsed(), c.pieces);
  }
}

TEST_F(DecalTest, PoolRecyclesTheOldestAndExpiryFollowsTheViewTime) {
  const DrawVertex quad[4] = {at(0, 0, 0), at(1, 0, 0), at(1, 1, 0), at(0, 1, 0)};
  for (int i = 0; i < kDecalPoolSize + 1; i++)
    renderDecals().addDecalVertices(quad, 4, decal.get(), i + 1);
  EXPECT_EQ(renderDecals().numUsed(), kDecalPoolSize);
  EXPECT_EQ(renderDecals().oldest()->time, 2) << "the 513th replaced the oldest";
  EXPECT_NEAR(renderDecals().oldest()->vertices[0].xyz[2], 0.01f, 1e-6f);
  renderDecals().clearAll();

  renderDecals().addDecalVertices(quad, 4, decal.get(), 1000);
  renderDecals().addDecalVertices(quad, 4, plain.get(), 2000);
  BaseModel* model = build(1000 + kDecalLifetime);
  EXPECT_EQ(model->numSurfaces(), 2) << "drawn in the frame at T + 10000";
  EXPECT_EQ(renderDecals().numUsed(), 1) << "and released after it";
  EXPECT_FALSE(renderDecals().modelUpToDate());
  model = build(2000 + kDecalLifetime + 1);
  EXPECT_EQ(model->numSurfaces(), 0) << "at T + 10001 released before the build";
  EXPECT_EQ(renderDecals().numUsed(), 0);
}

TEST_F(DecalTest, EntityDecalsFollowTheirEntity) {
  RenderModel* box = g_renderModelSystem->allocEmptyModel();
  addTriangles(static_cast<BaseModel*>(box), plain.get(),
               {Vec3(-64, -64, 0), Vec3(64, -64, 0), Vec3(64, 64, 0), Vec3(-64, -64, 0), Vec3(64, 64, 0),
                Vec3(-64, 64, 0)});
  RenderEntity entity;
  entity.model = box;
  entity.origin = Vec3(0, 0, 0);
  const int index = manager.addEntityDef(&entity);
  manager.getEntityVertex(index, nullptr, nullptr, 0);  // builds the instance
  const float winding[4][5] = {
      {-16, -16, -8, 0, 0}, {-16, 16, -8, 0, 1}, {16, 16, -8, 1, 1}, {16, -16, -8, 1, 0}};
  manager.projectDecalOnEntity(index, winding, Vec3(0, 0, 8), true, 16.0f, decal.get(), 100);
  manager.projectDecalOnEntity(index + 7, winding, Vec3(0, 0, 8), true, 16.0f, decal.get(), 100);
  ASSERT_EQ(renderDecals().numUsed(), 2) << "nothing for an entity that does not exist";
  entity.origin = Vec3(100, 0, 0);
  manager.updateEntityDef(index, &entity);
  const SurfaceGeometry* g = build(100)->getSurface(0)->geometry;
  for (int i = 0; i < g->numVerts; i++)
    EXPECT_NEAR(std::fabs(g->verts[i].xyz[0] - 100.0f), 16.0f, 1e-3f) << "moved with the entity";
  manager.removeEntityDecals(index);
  EXPECT_EQ(renderDecals().numUsed(), 0);
  // At its new place (instance rebuilt): a winding around x = 100 hits, and the pieces are kept
  // in the entity's space.
  manager.getEntityVertex(index, nullptr, nullptr, 0);
  float moved[4][5];
  std::memcpy(moved, winding, sizeof(moved));
  for (auto& p : moved)
    p[0] += 100.0f;
  manager.projectDecalOnEntity(index, moved, Vec3(100, 0, 8), true, 16.0f, decal.get(), 100);
  ASSERT_EQ(renderDecals().numUsed(), 2);
  EXPECT_NEAR(std::fabs(renderDecals().oldest()->vertices[0].xyz[0]), 16.0f, 1e-3f);
  manager.freeEntityDef(index);
  EXPECT_EQ(renderDecals().numUsed(), 0) << "freeing the entity takes its decals";

  // Entity decals need no world: without a map loaded the model is still built, the surfaces
  // carrying no area.
  const int again = manager.addEntityDef(&entity);
  manager.getEntityVertex(again, nullptr, nullptr, 0);
  g_spatialSystem = nullptr;
  manager.projectDecalOnEntity(again, moved, Vec3(100, 0, 8), true, 16.0f, decal.get(), 200);
  ASSERT_EQ(renderDecals().numUsed(), 2);
  BaseModel* model = build(200);
  ASSERT_EQ(model->numSurfaces(), 1);
  EXPECT_EQ(model->getSurface(0)->id, -1);
  EXPECT_EQ(model->getSurface(0)->geometry->numVerts, 6);
}

// A decal projected right after the entity was added or moved clips against the instance as it is
// drawn: built for the entity's parameters first, not left empty or at its old place.
TEST_F(DecalTest, EntityDecalsClipAgainstAFreshOrMovedInstance) {
  RenderModel* box = g_renderModelSystem->allocEmptyModel();
  addTriangles(static_cast<BaseModel*>(box), plain.get(),
               {Vec3(-64, -64, 0), Vec3(64, -64, 0), Vec3(64, 64, 0), Vec3(-64, -64, 0), Vec3(64, 64, 0),
                Vec3(-64, 64, 0)});
  RenderEntity entity;
  entity.model = box;
  entity.origin = Vec3(100, 0, 0);
  const int index = manager.addEntityDef(&entity);
  float winding[4][5] = {{84, -16, -8, 0, 0}, {84, 16, -8, 0, 1}, {116, 16, -8, 1, 1}, {116, -16, -8, 1, 0}};
  manager.projectDecalOnEntity(index, winding, Vec3(100, 0, 8), true, 16.0f, decal.get(), 100);
  EXPECT_EQ(renderDecals().numUsed(), 2) << "a fresh entity";
  manager.removeEntityDecals(index);
  // Moved 200 along y: the winding at the new place hits, the old place misses.
  entity.origin = Vec3(100, 200, 0);
  manager.updateEntityDef(index, &entity);
  manager.projectDecalOnEntity(index, winding, Vec3(100, 0, 8), true, 16.0f, decal.get(), 100);
  EXPECT_EQ(renderDecals().numUsed(), 0) << "the old place";
  for (auto& p : winding)
    p[1] += 200.0f;
  manager.projectDecalOnEntity(index, winding, Vec3(100, 200, 8), true, 16.0f, decal.get(), 100);
  EXPECT_EQ(renderDecals().numUsed(), 2) << "the new place";
  manager.freeEntityDef(index);
}

TEST_F(DecalTest, OverlaysFillEightSlotsThenReplaceTheOldest) {
  RenderModel* quadModel = g_renderModelSystem->allocEmptyModel();
  addTriangles(static_cast<BaseModel*>(quadModel), plain.get(),
               {Vec3(0, 0, 0), Vec3(32, 0, 0), Vec3(32, 32, 0), Vec3(0, 0, 0), Vec3(32, 32, 0), Vec3(64, 64, 0)});
  addTriangles(static_cast<BaseModel*>(quadModel), noMarks.get(), {Vec3(0, 0, 0), Vec3(32, 0, 0), Vec3(32, 32, 0)});
  RenderEntity entity;
  entity.model = quadModel;
  const int index = manager.addEntityDef(&entity);
  // s = x / 32, t = y / 32: the first triangle lies in the unit square, the second from s = 0 to 2.
  const Plane planes[2] = {Plane(Vec3(1.0f / 32, 0, 0), 0), Plane(Vec3(0, 1.0f / 32, 0), 0)};
  for (int i = 0; i < kOverlaySlots; i++) {
    manager.setRenderView(nullptr, 100 + i);
    manager.addEntityOverlay(index, planes, decal.get());
  }
  const OverlaySlot* slots = renderDecals().overlays(index);
  ASSERT_NE(slots, nullptr);
  for (int i = 0; i < kOverlaySlots; i++) {
    EXPECT_EQ(slots[i].surface, 0) << "the nomarks surface takes none";
    EXPECT_EQ(slots[i].time, 100 + i);
    ASSERT_EQ(slots[i].entries.num(), 6) << "both triangles meet the unit square";
  }
  EXPECT_EQ(slots[0].entries[1].vertex, 1);
  EXPECT_NEAR(slots[0].entries[1].s, 1.0f, 1e-6f);
  EXPECT_NEAR(slots[0].entries[5].s, 2.0f, 1e-6f);
  manager.setRenderView(nullptr, 500);
  const Plane shifted[2] = {Plane(Vec3(1.0f / 32, 0, 0), 1.5f), Plane(Vec3(0, 1.0f / 32, 0), 0)};
  manager.addEntityOverlay(index, shifted, plain.get());
  EXPECT_EQ(slots[0].time, 500) << "the slot with the smallest time is replaced";
  EXPECT_EQ(slots[0].material, plain.get());
  EXPECT_EQ(slots[0].entries.num(), 3) << "only the second triangle reaches s in 0..1 now";
  // A rebuilt instance (another model layout) clears the slots.
  RenderModel* other = g_renderModelSystem->allocEmptyModel();
  addTriangles(static_cast<BaseModel*>(other), plain.get(), {Vec3(0, 0, 0), Vec3(1, 0, 0), Vec3(1, 1, 0)});
  entity.model = other;
  manager.updateEntityDef(index, &entity);
  for (int i = 0; i < kOverlaySlots; i++) {
    EXPECT_EQ(slots[i].surface, -1);
    EXPECT_EQ(slots[i].entries.num(), 0);
  }
  manager.removeEntityDecals(index);
  manager.addEntityOverlay(index + 3, planes, decal.get());  // no such entity: nothing
  EXPECT_EQ(renderDecals().overlays(index + 3), nullptr);
}

}  // namespace
