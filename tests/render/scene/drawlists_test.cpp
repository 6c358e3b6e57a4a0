// Draw lists, light culling, shadow geometry and deforms without a GL context (this suite also runs
// under ThreadSanitizer: the entity update job set must be race-free). A small spatial system of two
// areas split at x = 0 stands in for a loaded world.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "lib/interface/convarsystem.h"
#include "lib/interface/declsystem.h"
#include "lib/interface/rendermodelsystem.h"
#include "render/material/expression.h"
#include "render/material/material.h"
#include "render/model/basemodel.h"
#include "render/scene/deforms.h"
#include "render/scene/rendermanager.h"
#include "system/convarmanager.h"
#include "tests/support/capturecmdsystem.h"

namespace {

// Area 0 is x < 0, area 1 is x >= 0. Visible areas and world surfaces are set by the test.
class TwoAreaWorld : public SpatialSystem {
 public:
  bool load(const char*) override { return true; }
  int pointToArea(const float p[3]) override { return p[0] < 0.0f ? 0 : 1; }
  int getNumAreas() override { return 2; }
  int areasInBounds(const Bounds& b, int* out, int max) override {
    int n = 0;
    if (b.mins.x < 0.0f && n < max)
      out[n++] = 0;
    if (b.maxs.x >= 0.0f && n < max)
      out[n++] = 1;
    return n;
  }
  int areasVisibleFromPoint(const Vec3&, const Bounds& b, int* out, int max) override {
    return areasInBounds(b, out, max);
  }
  int areasVisibleFromView(const SpatialView*, int* out, int max) override {
    int n = 0;
    for (int a : visible)
      if (n < max)
        out[n++] = a;
    return n;
  }
  void surfacesVisibleFromView(SurfaceList* list, const SpatialView*, const AreaBitArray&) override {
    for (ModelSurface* s : world)
      list->append(s);
  }
  bool boundsTouchAreaMask(const AreaBitArray& mask, const Bounds& b) override {
    int areas[2];
    const int n = areasInBounds(b, areas, 2);
    for (int i = 0; i < n; i++)
      if (mask.test(areas[i]))
        return true;
    return false;
  }
  std::vector<int> visible{0, 1};
  std::vector<ModelSurface*> world;
};

// A box model of 24 vertices (four per face) and 12 triangles wound outwards.
void fillBox(SurfaceGeometry* g, const Vec3& mins, const Vec3& maxs) {
  static const int kFaces[6][4][3] = {
      {{0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0, 1, 1}}, {{0, 1, 0}, {1, 1, 0}, {1, 0, 0}, {0, 0, 0}},
      {{1, 0, 0}, {1, 1, 0}, {1, 1, 1}, {1, 0, 1}}, {{0, 1, 0}, {0, 0, 0}, {0, 0, 1}, {0, 1, 1}},
      {{1, 1, 0}, {0, 1, 0}, {0, 1, 1}, {1, 1, 1}}, {{0, 0, 0}, {1, 0, 0}, {1, 0, 1}, {0, 0, 1}}};
  for (int f = 0; f < 6; f++) {
    for (int k = 0; k < 4; k++) {
      DrawVertex& v = g->verts[f * 4 + k];
      std::memset(&v, 0, sizeof(v));
      for (int a = 0; a < 3; a++)
        v.xyz[a] = kFaces[f][k][a] ? maxs[a] : mins[a];
      v.st[0] = float(k == 1 || k == 2);
      v.st[1] = float(k >= 2);
    }
    int* t = g->indexes + f * 6;
    t[0] = f * 4, t[1] = f * 4 + 1, t[2] = f * 4 + 2, t[3] = f * 4, t[4] = f * 4 + 2, t[5] = f * 4 + 3;
  }
  g->numVerts = 24;
  g->numIndexes = 36;
  g->bounds = Bounds(mins, maxs);
}

class DrawListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    getConVarManager();
    g_conVarSystem->setInt("r_viewwidth", 640);
    g_conVarSystem->setInt("r_viewheight", 480);
    getRenderModelSystem();
    ASSERT_TRUE(manager.init());
  }
  void TearDown() override {
    g_spatialSystem = nullptr;
    g_conVarSystem->setInt("r_smp", 1);
    g_conVarSystem->setInt("r_singlelight", -1);
    manager.unloadMap();
    manager.shutdown();
    for (BaseModel* m : models)
      delete m;
    models.clear();
    materials.clear();
    destroyRenderModelSystem();
    destroyConVarManager();
    clearExpressions();
  }

  Material* material(const char* body) {
    materials.push_back(std::make_unique<Material>());
    Material* m = materials.back().get();
    EXPECT_TRUE(m->parse(body, int(std::strlen(body)))) << body;
    return m;
  }

  BaseModel* boxModel(Material* m, const Vec3& mins = Vec3(-8, -8, -8), const Vec3& maxs = Vec3(8, 8, 8)) {
    BaseModel* model = new BaseModel();
    model->init("box");
    SurfaceGeometry* g = model->allocGeometry(24, 36);
    fillBox(g, mins, maxs);
    model->addSurface({m, g, -1});
    models.push_back(model);
    return model;
  }

  int addEntity(BaseModel* model, const Vec3& origin) {
    RenderEntity e;
    e.model = model;
    e.origin = origin;
    for (float& p : e.shaderParms)
      p = 1.0f;
    return manager.addEntityDef(&e);
  }

  void build(const Vec3& origin = Vec3(-100, 0, 0)) {
    RenderView v;
    v.width = 640;
    v.height = 480;
    v.fovX = 90.0f;
    v.fovY = 73.74f;
    v.origin = origin;
    manager.setRenderView(&v, 0);
    manager.buildDrawLists();
  }

  int listOf(const Material* m) {
    for (int i = 0; i < RenderManager::kNumSortLists; i++)
      for (const DrawSurface& ds : manager.sortList(i))
        if (ds.material == m)
          return i;
    return -1;
  }

  CaptureCmdSystem console;
  RenderManager manager;
  std::vector<std::unique_ptr<Material>> materials;
  std::vector<BaseModel*> models;
};

const char kPlain[] = "{\n{\nmap _white\n}\n}\n";

TEST_F(DrawListTest, SurfacesLandInTheSortListOfTheirMaterial) {
  struct Case {
    int sort;
    int list;
  };
  const Case cases[] = {{-5, 0}, {0, 0}, {2, 2}, {9, 9}, {15, 15}, {20, 15}};
  std::vector<Material*> made;
  for (const Case& c : cases) {
    Material* m = material(kPlain);
    m->sort = c.sort;
    made.push_back(m);
    addEntity(boxModel(m), Vec3(0, 0, 0));
  }
  build();
  for (size_t i = 0; i < made.size(); i++)
    EXPECT_EQ(listOf(made[i]), cases[i].list) << "sort " << cases[i].sort;

  // A flare goes to the bloom and flare list only; a bloom material to both lists.
  Material* flare = material("deform flare 4\n{\nmap _white\n}\n");
  flare->deformType = kDeformFlare;
  Material* bloom = material(kPlain);
  bloom->bloomStage = *bloom->getStage(0);
  bloom->bloomStage.flags |= kStageBloom;
  const ModelSurface flareSurface{flare, models[0]->getSurface(0)->geometry, -1};
  const ModelSurface bloomSurface{bloom, models[0]->getSurface(0)->geometry, -1};
  manager.addDrawSurface(&flareSurface, nullptr);
  manager.addDrawSurface(&bloomSurface, nullptr);
  EXPECT_EQ(listOf(flare), -1);
  EXPECT_NE(listOf(bloom), -1);
  int inBloomList = 0;
  for (const DrawSurface& ds : manager.bloomFlareList())
    inBloomList += ds.material == flare || ds.material == bloom;
  EXPECT_EQ(inBloomList, 2);
  // Without an entity the parameters are white: the first four 1, the rest 0.
  const DrawSurface& plainWorld = manager.bloomFlareList()[0];
  EXPECT_EQ(plainWorld.shaderParms[3], 1.0f);
  EXPECT_EQ(plainWorld.shaderParms[4], 0.0f);
}

TEST_F(DrawListTest, TranslucentSurfacesRunFarthestFirstAndTiesReverseTheirOrder) {
  Material* glass = material("surfaceparm translucent\n{\nmap _white\nblend blend\n}\n");
  ASSERT_TRUE(glass->getSurfaceFlags() & kMaterialTranslucent);
  BaseModel* near = boxModel(glass, Vec3(10, -1, -1), Vec3(12, 1, 1));
  BaseModel* far = boxModel(glass, Vec3(100, -1, -1), Vec3(102, 1, 1));
  BaseModel* tieA = boxModel(glass, Vec3(50, -1, -1), Vec3(52, 1, 1));
  BaseModel* tieB = boxModel(glass, Vec3(50, -1, -1), Vec3(52, 1, 1));
  manager.setRenderView(nullptr, 0);
  manager.clearDrawLists();
  for (BaseModel* m : {near, tieA, far, tieB})
    manager.addDrawSurface(m->getSurface(0), nullptr);
  const List<DrawSurface>& list = manager.sortList(glass->getSort() <= 0 ? 0 : glass->getSort());
  ASSERT_EQ(list.num(), 4);
  EXPECT_EQ(list[0].surface, far->getSurface(0));
  EXPECT_EQ(list[1].surface, tieB->getSurface(0));  // the later of two equal distances comes first
  EXPECT_EQ(list[2].surface, tieA->getSurface(0));
  EXPECT_EQ(list[3].surface, near->getSurface(0));
}

TEST_F(DrawListTest, WorldSurfacesAndEntitiesFollowTheVisibleAreas) {
  TwoAreaWorld world;
  g_spatialSystem = &world;
  Material* m = material(kPlain);
  BaseModel* wallModel = boxModel(m);
  ModelSurface inArea0{m, wallModel->getSurface(0)->geometry, 0};
  ModelSurface inArea1{m, wallModel->getSurface(0)->geometry, 1};
  ModelSurface noArea{m, wallModel->getSurface(0)->geometry, -1};
  world.world = {&inArea0, &inArea1, &noArea};
  // Entities get their areas from their placed bounds on add and on update.
  const int left = addEntity(boxModel(m), Vec3(-50, 0, 0));
  const int right = addEntity(boxModel(m), Vec3(50, 0, 0));
  const int across = addEntity(boxModel(m), Vec3(0, 0, 0));
  EXPECT_EQ(manager.entityRecord(left)->numAreas, 1);
  EXPECT_EQ(manager.entityRecord(left)->areas[0], 0);
  EXPECT_EQ(manager.entityRecord(across)->numAreas, 2);
  RenderEntity moved = *manager.getRenderEntity(right);
  moved.origin = Vec3(-60, 0, 0);
  manager.updateEntityDef(right, &moved);
  EXPECT_EQ(manager.entityRecord(right)->areas[0], 0);
  moved.origin = Vec3(60, 0, 0);
  manager.updateEntityDef(right, &moved);

  struct Case {
    std::vector<int> visible;
    std::vector<const ModelSurface*> worldSurfaces;
    std::vector<int> entities;
  };
  const Case cases[] = {
      {{0, 1}, {&inArea0, &inArea1, &noArea}, {left, right, across}},
      {{0}, {&inArea0, &noArea}, {left, across}},
      {{1}, {&inArea1, &noArea}, {right, across}},
      {{}, {&noArea}, {}},
  };
  for (const Case& c : cases) {
    world.visible = c.visible;
    build();
    std::vector<const ModelSurface*> worldSeen;
    std::vector<const RenderEntity*> entitiesSeen;
    for (int i = 0; i < RenderManager::kNumSortLists; i++)
      for (const DrawSurface& ds : manager.sortList(i)) {
        if (ds.entity)
          entitiesSeen.push_back(ds.entity);
        else
          worldSeen.push_back(ds.surface);
      }
    EXPECT_EQ(worldSeen, c.worldSurfaces) << c.visible.size() << " areas visible";
    std::vector<const RenderEntity*> want;
    for (int e : c.entities)
      want.push_back(manager.getRenderEntity(e));
    EXPECT_EQ(entitiesSeen, want) << c.visible.size() << " areas visible";
  }
}

// In lightmap mode the light pass skips the lights without an owner: their light is baked.
TEST_F(DrawListTest, LightmapModeDrawsOnlyOwnedLights) {
  TwoAreaWorld world;
  g_spatialSystem = &world;
  world.visible = {0, 1};
  RenderLight l;
  l.origin = Vec3(-50, 0, 0);
  l.radius = Vec3(10, 10, 10);
  const int mapLight = manager.addLightDef(&l);
  l.ownerId = 7;
  const int owned = manager.addLightDef(&l);
  build(Vec3(-100, 0, 0));
  ASSERT_EQ(manager.visibleLights().num(), 2);
  struct Case {
    int quality;
    bool mapLightDrawn;
  };
  for (const Case& c : {Case{0, false}, Case{1, true}, Case{2, true}}) {
    g_conVarSystem->setInt("r_lightquality", c.quality);
    EXPECT_EQ(manager.skippedByLightQuality(mapLight), !c.mapLightDrawn) << c.quality;
    EXPECT_FALSE(manager.skippedByLightQuality(owned)) << c.quality;
  }
  g_conVarSystem->setInt("r_lightquality", 2);
}

TEST_F(DrawListTest, LightCullingSingleLightAndFogOrder) {
  TwoAreaWorld world;
  g_spatialSystem = &world;
  world.visible = {0, 1};
  auto addLight = [&](const Vec3& origin, int kind) {
    RenderLight l;
    l.origin = origin;
    l.radius = Vec3(10, 10, 10);
    l.kind = kind;
    return manager.addLightDef(&l);
  };
  const int a = addLight(Vec3(-50, 0, 0), 1);
  const int fogNear = addLight(Vec3(-20, 0, 0), 2);
  const int b = addLight(Vec3(50, 0, 0), 1);
  const int fogFar = addLight(Vec3(200, 0, 0), 2);
  build(Vec3(-100, 0, 0));
  ASSERT_EQ(manager.visibleLights().num(), 2);
  EXPECT_EQ(manager.visibleLights()[0], a);
  EXPECT_EQ(manager.visibleLights()[1], b);
  ASSERT_EQ(manager.visibleFogs().num(), 2);
  EXPECT_EQ(manager.visibleFogs()[0].light, fogFar);  // farthest first
  EXPECT_EQ(manager.visibleFogs()[1].light, fogNear);

  // Only area 0 visible: the lights over x >= 0 drop out.
  world.visible = {0};
  build();
  ASSERT_EQ(manager.visibleLights().num(), 1);
  EXPECT_EQ(manager.visibleLights()[0], a);
  ASSERT_EQ(manager.visibleFogs().num(), 1);

  // "r_singlelight" keeps one slot, fog volumes included.
  world.visible = {0, 1};
  g_conVarSystem->setInt("r_singlelight", fogFar);
  build();
  EXPECT_EQ(manager.visibleLights().num(), 0);
  ASSERT_EQ(manager.visibleFogs().num(), 1);
  EXPECT_EQ(manager.visibleFogs()[0].light, fogFar);
}

TEST_F(DrawListTest, ZeroLightRadiusIsClampedToASmallExtent) {
  RenderLight l;
  l.radius = Vec3(0, 5, 0);
  const int index = manager.addLightDef(&l);
  const RenderLight* stored = manager.getLightDef(index);
  EXPECT_GT(stored->radius.x, 0.0f);
  EXPECT_GT(stored->radius.z, 0.0f);
  EXPECT_EQ(stored->radius.y, 5.0f);
  // The light's texture planes stay finite.
  float planes[4][4];
  manager.lightProjection(manager.lightRecord(index), planes);
  for (auto& p : planes)
    for (float f : p)
      EXPECT_TRUE(std::isfinite(f));
}

TEST_F(DrawListTest, LightMaterialTextureModifiersApplyOnTopOfTheLightPlanes) {
  RenderLight l;
  l.shape = 2;
  l.origin = Vec3(10, 0, 0);
  l.radius = Vec3(100, 50, 100);
  l.material = material("{\nmap _white\n}\n");
  const int index = manager.addLightDef(&l);
  manager.updateLightInteractions(index);
  auto st = [&](const Vec3& p, float* s, float* t) {
    float planes[4][4];
    manager.lightProjection(manager.lightRecord(index), planes);
    *s = planes[0][0] * p.x + planes[0][1] * p.y + planes[0][2] * p.z + planes[0][3];
    *t = planes[1][0] * p.x + planes[1][1] * p.y + planes[1][2] * p.z + planes[1][3];
  };
  struct Case {
    const char* stage;
    float s, t;  // at the point (60, 25, 0): plain s 0.75, t 0.75
  };
  const Case cases[] = {
      {"", 0.75f, 0.75f},
      {"translate 0.25 0.5\n", 1.0f, 1.25f},
      {"scale 2 3\n", 1.5f, 2.25f},
      {"translate 0.25 0\nscale 2 1\n", 2.0f, 0.75f},  // in written order: moved, then scaled
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stage);
    l.material = material((std::string("{\nmap _white\n") + c.stage + "}\n").c_str());
    manager.updateLightDef(index, &l);
    manager.updateLightInteractions(index);
    float s = 0, t = 0;
    st(Vec3(60, 25, 0), &s, &t);
    EXPECT_NEAR(s, c.s, 1e-4f);
    EXPECT_NEAR(t, c.t, 1e-4f);
  }
}

TEST_F(DrawListTest, SilhouetteAndEdgeDebugLinesFollowTheLight) {
  BaseModel* box = boxModel(material(kPlain));
  SurfaceGeometry* g = box->getSurface(0)->geometry;
  RenderLight l;
  l.shape = 1;
  l.radius = Vec3(300, 300, 300);
  l.flags = kLightShadows;
  const float kRed[4] = {1, 0, 0, 1};
  struct Case {
    const char* what;
    Vec3 light;
    int silhouette;  // lines with "r_showSilhouette"
  };
  const Case cases[] = {
      {"above the top face: its rim", Vec3(0, 0, 50), 4},
      {"beyond a top corner: six edges round the three lit faces", Vec3(50, 50, 50), 6},
  };
  const int index = manager.addLightDef(&l);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    l.origin = c.light;
    manager.updateLightDef(index, &l);
    const RenderManager::LightRecord* record = manager.lightRecord(index);
    EXPECT_EQ(manager.drawSilhouetteLines(g, record, kRed), 0) << "both switches off";
    g_conVarSystem->setInt("r_showSilhouette", 1);
    const int before = manager.debugLines().num();
    EXPECT_EQ(manager.drawSilhouetteLines(g, record, kRed), c.silhouette);
    EXPECT_EQ(manager.debugLines().num(), before + c.silhouette);
    g_conVarSystem->setInt("r_showSilhouette", 0);
    g_conVarSystem->setInt("r_showEdges", 1);
    EXPECT_EQ(manager.drawSilhouetteLines(g, record, kRed), 18) << "twelve sides and six diagonals";
    g_conVarSystem->setInt("r_showEdges", 0);
  }
}

TEST_F(DrawListTest, ShadowMapViewsOfPointConeAndParallelLights) {
  RenderLight l;
  l.origin = Vec3(10, 20, 30);
  l.radius = Vec3(100, 50, 200);
  l.shape = 1;
  const int point = manager.addLightDef(&l);
  l.shape = 4;
  const int cone = manager.addLightDef(&l);
  l.shape = 2;
  l.center = Vec3(0, 0, 1);  // light from above
  l.flags = kLightParallel;
  const int parallel = manager.addLightDef(&l);
  RenderManager::ShadowMapView view;

  manager.shadowMapView(manager.lightRecord(point), &view);
  EXPECT_FALSE(view.orthographic);
  EXPECT_TRUE(view.eye.compare(Vec3(10, 20, 30), 1e-4f));
  EXPECT_TRUE(view.axis[0].compare(Vec3(1, 0, 0), 1e-4f)) << "down the first axis";
  // fov across = 2 atan(50 / 100): the projection's x scale is 100 / 50.
  EXPECT_NEAR(view.projection.m[0], 2.0f, 1e-3f);
  EXPECT_NEAR(view.projection.m[5], 0.5f, 1e-3f);

  manager.shadowMapView(manager.lightRecord(cone), &view);
  EXPECT_TRUE(view.axis[0].compare(Vec3(0, 0, -1), 1e-4f)) << "down the cone";
  EXPECT_FLOAT_EQ(view.zNear, 1.0f);
  EXPECT_FLOAT_EQ(view.zFar, 200.0f);
  EXPECT_NEAR(view.projection.m[0], 2.0f, 1e-3f);  // 200 / 100
  EXPECT_NEAR(view.projection.m[5], 4.0f, 1e-3f);  // 200 / 50

  manager.shadowMapView(manager.lightRecord(parallel), &view);
  EXPECT_TRUE(view.orthographic);
  EXPECT_TRUE(view.axis[0].compare(Vec3(0, 0, -1), 1e-4f)) << "against the light's direction";
  // The box of the bounds seen from above it: eye 1 unit over the top, depth over the full height.
  EXPECT_NEAR(view.eye.z, 30.0f + 200.0f + 1.0f, 1e-3f);
  EXPECT_NEAR(view.zFar - view.zNear, 400.0f + 1.0f, 1e-3f);
  EXPECT_FLOAT_EQ(view.projection.m[15], 1.0f);
}

// Five and more visible entities update as a job set; the lists and the rebuilt vertices are the
// same with "r_smp" 0 and 1 (this test runs under ThreadSanitizer too).
TEST_F(DrawListTest, EntityUpdateAsAJobSetGivesTheSameLists) {
  Material* plain = material(kPlain);
  Material* moving = material("deform move 1 2 3\n{\nmap _white\n}\n");
  ASSERT_EQ(moving->deformType, kDeformMove) << console.text;
  struct Snapshot {
    std::vector<std::pair<int, const ModelSurface*>> entries;
    std::vector<float> positions;
  };
  auto snapshot = [&]() {
    Snapshot s;
    for (int i = 0; i < RenderManager::kNumSortLists; i++)
      for (const DrawSurface& ds : manager.sortList(i)) {
        s.entries.push_back({i, ds.surface});
        const SurfaceGeometry* g = ds.surface->geometry;
        for (int v = 0; v < g->numVerts; v++)
          s.positions.insert(s.positions.end(), g->verts[v].xyz, g->verts[v].xyz + 3);
      }
    return s;
  };
  std::vector<int> entities;
  for (int i = 0; i < 4; i++)
    entities.push_back(addEntity(boxModel(i == 2 ? moving : plain), Vec3(float(i * 20), 0, 0)));
  g_conVarSystem->setInt("r_smp", 1);
  build();
  EXPECT_EQ(manager.lastJobSetSize(), 0) << "four entities update on the main thread";
  for (int i = 4; i < 40; i++)
    entities.push_back(addEntity(boxModel(i % 3 == 0 ? moving : plain), Vec3(float(i * 20), float(i), 0)));

  g_conVarSystem->setInt("r_smp", 0);
  for (int e : entities) {
    RenderEntity parms = *manager.getRenderEntity(e);
    manager.updateEntityDef(e, &parms);
  }
  build();
  EXPECT_EQ(manager.lastJobSetSize(), 0);
  const Snapshot serial = snapshot();

  g_conVarSystem->setInt("r_smp", 1);
  for (int e : entities) {
    RenderEntity parms = *manager.getRenderEntity(e);
    manager.updateEntityDef(e, &parms);
  }
  build();
  EXPECT_EQ(manager.lastJobSetSize(), 40);
  const Snapshot parallel = snapshot();
  EXPECT_EQ(serial.entries, parallel.entries);
  EXPECT_EQ(serial.positions, parallel.positions);
  // The moved boxes were moved once per rebuild, by (1, 2, 3) from their placed corners.
  const SurfaceGeometry* g = manager.entityRecord(entities[2])->instanceModel->getSurface(0)->geometry;
  EXPECT_FLOAT_EQ(g->verts[0].xyz[0], 40.0f - 8.0f + 1.0f);
  EXPECT_FLOAT_EQ(g->verts[0].xyz[1], -8.0f + 2.0f);
}

TEST_F(DrawListTest, AFrameWithoutRebuildsWakesNoWorkers) {
  Material* plain = material(kPlain);
  std::vector<int> entities;
  for (int i = 0; i < 10; i++)
    entities.push_back(addEntity(boxModel(plain), Vec3(float(i * 20), 0, 0)));
  g_conVarSystem->setInt("r_smp", 1);
  build();
  EXPECT_EQ(manager.lastJobSetSize(), 10) << "new entities build their instances as a job set";
  const int surfaces = manager.sortList(0).num();
  build();
  EXPECT_EQ(manager.lastJobSetSize(), 0) << "unchanged entities have nothing to rebuild";
  EXPECT_EQ(manager.sortList(0).num(), surfaces) << "and still reach the lists";
  for (int i = 0; i < 5; i++) {
    RenderEntity parms = *manager.getRenderEntity(entities[i]);
    manager.updateEntityDef(entities[i], &parms);
  }
  build();
  EXPECT_EQ(manager.lastJobSetSize(), 10) << "five changed entities are more than the threshold";
}

// A world with a light grid and lightmaps: records where the grid is sampled and which lightmaps
// are bound; lightmap 7 cannot be bound.
class LitWorld : public TwoAreaWorld {
 public:
  bool hasLightGrid() override { return true; }
  void sampleLightGrid(const Vec3& p, Vec3& ambient, Vec3& directed, Vec3& direction) override {
    samples.push_back(p);
    ambient = directed = direction = Vec3(1, 1, 1);
  }
  bool bindLightmap(int n) override {
    bound.push_back(n);
    return n != 7;
  }
  std::vector<Vec3> samples;
  std::vector<int> bound;
};

TEST_F(DrawListTest, LightmapAndLightGridPassesFollowTheLightQuality) {
  LitWorld world;
  g_spatialSystem = &world;
  Material* lit = material("diffusemap _white\n");
  ASSERT_TRUE(lit->hasInteractionStages());
  std::vector<ModelSurface> surfaces;
  for (int lightmap : {3, 3, -1, 4, 7, 5}) {
    SurfaceGeometry* g = boxModel(lit, Vec3(20, -8, -8), Vec3(36, 8, 8))->getSurface(0)->geometry;
    g->lightmap = lightmap;
    surfaces.push_back({lit, g, 1});
  }
  for (ModelSurface& surface : surfaces)
    world.world.push_back(&surface);
  addEntity(boxModel(lit), Vec3(40, 5, 0));
  addEntity(boxModel(lit), Vec3(60, -5, 0));
  build(Vec3(0, 0, 0));
  manager.selectDrawSurfaces(false, false);
  struct Case {
    int quality;
    std::vector<int> bound;
    size_t samples;
  };
  // A run of one lightmap binds it once; the unbindable lightmap 7 ends the pass before 5.
  const Case cases[] = {{0, {3, 4, 7}, 2}, {1, {}, 2}, {2, {}, 0}};
  for (const Case& c : cases) {
    g_conVarSystem->setInt("r_lightquality", c.quality);
    world.bound.clear();
    world.samples.clear();
    manager.drawLightmapPass();
    manager.drawLightGridPass();
    EXPECT_EQ(world.bound, c.bound) << "quality " << c.quality;
    ASSERT_EQ(world.samples.size(), c.samples) << "quality " << c.quality;
    if (c.samples == 2) {
      EXPECT_EQ(world.samples[0], Vec3(40, 5, 16));
      EXPECT_EQ(world.samples[1], Vec3(60, -5, 16));
    }
  }
  g_conVarSystem->setInt("r_lightquality", 2);
}

// --- Shadow geometry ---

TEST_F(DrawListTest, ShadowGeometryOfABoxUnderAPointAndAParallelLight) {
  Material* m = material(kPlain);
  BaseModel* model = boxModel(m);
  SurfaceGeometry* g = model->getSurface(0)->geometry;
  RenderManager::ShadowVolume sv;
  // A light straight above: the top face is lit, the four upper edges form the silhouette.
  ASSERT_TRUE(RenderManager::buildShadowGeometry(g, Vec3(0, 0, 100), false, &sv));
  EXPECT_EQ(sv.numVerts, 48);
  EXPECT_EQ(sv.verts.num(), 48 * 4);
  EXPECT_EQ(sv.sideEnd, 4 * 6);                       // four side quads
  EXPECT_EQ(sv.indexes.num() - sv.capStart, 2 * 6);  // two lit triangles, near and far caps
  for (int i = 0; i < 24; i++) {
    EXPECT_EQ(sv.verts[i * 4 + 3], 1.0f);
    EXPECT_EQ(sv.verts[(24 + i) * 4 + 3], 0.0f);
    EXPECT_FLOAT_EQ(sv.verts[(24 + i) * 4 + 2], g->verts[i].xyz[2] - 100.0f);
  }
  // Every side quad faces out of the volume: away from the box's vertical axis.
  for (int q = 0; q < 4; q++) {
    const unsigned* t = sv.indexes.ptr() + q * 6;
    const Vec3 a(sv.verts[t[0] * 4], sv.verts[t[0] * 4 + 1], sv.verts[t[0] * 4 + 2]);
    const Vec3 b(sv.verts[t[1] * 4], sv.verts[t[1] * 4 + 1], sv.verts[t[1] * 4 + 2]);
    const Vec3 dir(sv.verts[t[2] * 4], sv.verts[t[2] * 4 + 1], sv.verts[t[2] * 4 + 2]);
    const Vec3 farPoint = a + dir * 10.0f;  // a point along the far edge
    const Vec3 n = (b - a).cross(farPoint - a);
    const Vec3 mid = (a + b) * 0.5f;
    EXPECT_GT(n.dot(Vec3(mid.x, mid.y, 0)), 0.0f) << "quad " << q;
  }
  // A parallel light shares one point at infinity: n + 1 vertices, no far cap.
  ASSERT_TRUE(RenderManager::buildShadowGeometry(g, Vec3(0, 0, 1000), true, &sv));
  EXPECT_EQ(sv.numVerts, 25);
  EXPECT_EQ(sv.verts[24 * 4 + 3], 0.0f);
  EXPECT_EQ(sv.indexes.num() - sv.capStart, 6);
  // A light inside the box sees only back faces: nothing casts.
  EXPECT_FALSE(RenderManager::buildShadowGeometry(g, Vec3(0, 0, 0), false, &sv));
}

TEST_F(DrawListTest, ShadowVolumesGrowWithTheCasterBeyondThirtyTwoSilhouetteEdges) {
  // A closed 24-sided prism: a light beside it sees a silhouette of 2 x 12 + 2 edges or so; a
  // light above one end sees all 24 rim edges. Nothing is capped at a fixed count.
  constexpr int kSides = 40;
  BaseModel* model = new BaseModel();
  models.push_back(model);
  model->init("prism");
  SurfaceGeometry* g = model->allocGeometry(kSides * 2 + 2, kSides * 12);
  for (int i = 0; i < kSides; i++) {
    const float a = float(i) / kSides * 6.2831853f;
    for (int z = 0; z < 2; z++) {
      DrawVertex& v = g->verts[i * 2 + z];
      std::memset(&v, 0, sizeof(v));
      v.xyz[0] = 10.0f * std::cos(a);
      v.xyz[1] = 10.0f * std::sin(a);
      v.xyz[2] = z ? 10.0f : 0.0f;
    }
  }
  const int bottom = kSides * 2;
  const int top = bottom + 1;
  std::memset(&g->verts[bottom], 0, sizeof(DrawVertex));
  std::memset(&g->verts[top], 0, sizeof(DrawVertex));
  g->verts[top].xyz[2] = 10.0f;
  int* t = g->indexes;
  for (int i = 0; i < kSides; i++) {
    const int a0 = i * 2, a1 = a0 + 1, b0 = ((i + 1) % kSides) * 2, b1 = b0 + 1;
    *t++ = a0, *t++ = b0, *t++ = b1, *t++ = a0, *t++ = b1, *t++ = a1;  // side, outwards
    *t++ = top, *t++ = a1, *t++ = b1;                                    // top cap
    *t++ = bottom, *t++ = b0, *t++ = a0;                                 // bottom cap
  }
  g->numVerts = kSides * 2 + 2;
  g->numIndexes = kSides * 12;
  g->bounds = Bounds(Vec3(-10, -10, 0), Vec3(10, 10, 10));
  RenderManager::ShadowVolume sv;
  ASSERT_TRUE(RenderManager::buildShadowGeometry(g, Vec3(0, 0, 1000), false, &sv));
  EXPECT_EQ(sv.sideEnd / 6, kSides) << "every rim edge of the lit top is on the silhouette";
  EXPECT_EQ(sv.numVerts, 2 * g->numVerts);
}

// --- Deforms ---

TEST_F(DrawListTest, DeformsMoveVerticesAsTheirTableSays) {
  Material* m = material(kPlain);
  SurfaceGeometry* g = boxModel(m)->getSurface(0)->geometry;
  for (int i = 0; i < 24; i++) {
    g->verts[i].normal[2] = 1.0f;
    g->verts[i].tangents[0][0] = 1.0f;
    g->verts[i].tangents[1][1] = 1.0f;
  }
  std::vector<DrawVertex> original(g->verts, g->verts + 24);
  DeclTable table;
  const char* tableText = "{ 0, 1 }";
  ASSERT_TRUE(table.parse(tableText, int(std::strlen(tableText))));
  struct Case {
    const char* what;
    DeformInput input;
    float dx, dy, dz, ds;  // expected change of vertex 0
    bool result;
  };
  const Case cases[] = {
      {"none", {0, nullptr, {1, 2, 3, 0}}, 0, 0, 0, 0, false},
      {"flare", {kDeformFlare, nullptr, {1, 2, 3, 0}}, 0, 0, 0, 0, false},
      {"move", {kDeformMove, nullptr, {1, 2, 3, 0}}, 1, 2, 3, 0, true},
      {"expand along the normal", {kDeformExpand, nullptr, {4, 5, 6, 0}}, 0, 0, 6, 0, true},
      {"eyeball", {kDeformEyeball, nullptr, {1, 2, 3, 0}}, 0, 0, 0, 0, true},
      // u = x / range + phase = -8 / 16 + 0.75 = 0.25 -> table 0.25, times amplitude 2
      {"turbulent", {kDeformTurbulent, &table, {2, 0.75f, 16, 0}}, 0, 0, 0, 0.5f, true},
      {"turbulent without a table", {kDeformTurbulent, nullptr, {2, 0.75f, 16, 0}}, 0, 0, 0, 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::copy(original.begin(), original.end(), g->verts);
    EXPECT_EQ(applyDeform(c.input, g, Mat3(), Vec3()), c.result);
    EXPECT_FLOAT_EQ(g->verts[0].xyz[0] - original[0].xyz[0], c.dx);
    EXPECT_FLOAT_EQ(g->verts[0].xyz[1] - original[0].xyz[1], c.dy);
    EXPECT_FLOAT_EQ(g->verts[0].xyz[2] - original[0].xyz[2], c.dz);
    EXPECT_FLOAT_EQ(g->verts[0].st[0] - original[0].st[0], c.ds);
  }
  // Moving refreshes the bounds; a turbulent range below 1 counts as 1.
  std::copy(original.begin(), original.end(), g->verts);
  applyDeform({kDeformMove, nullptr, {10, 0, 0, 0}}, g, Mat3(), Vec3());
  EXPECT_FLOAT_EQ(g->bounds.mins.x, 2.0f);
  std::copy(original.begin(), original.end(), g->verts);
  DeformInput small{kDeformTurbulent, &table, {1, 0.0f, 0.5f, 0}};
  DeformInput one{kDeformTurbulent, &table, {1, 0.0f, 1.0f, 0}};
  SurfaceGeometry* g2 = boxModel(m)->getSurface(0)->geometry;
  std::copy(original.begin(), original.end(), g2->verts);
  applyDeform(small, g, Mat3(), Vec3());
  applyDeform(one, g2, Mat3(), Vec3());
  for (int i = 0; i < 24; i++)
    EXPECT_EQ(g->verts[i].st[0], g2->verts[i].st[0]);
}

TEST_F(DrawListTest, SpritesFaceTheViewAndOddCountsWarn) {
  Material* m = material(kPlain);
  BaseModel* model = new BaseModel();
  models.push_back(model);
  model->init("sprite");
  SurfaceGeometry* g = model->allocGeometry(4, 6);
  // A quad in the x-y plane (normal +z) around (5, 5, 5).
  const float xy[4][2] = {{4, 4}, {6, 4}, {6, 6}, {4, 6}};
  for (int i = 0; i < 4; i++) {
    std::memset(&g->verts[i], 0, sizeof(DrawVertex));
    g->verts[i].xyz[0] = xy[i][0];
    g->verts[i].xyz[1] = xy[i][1];
    g->verts[i].xyz[2] = 5;
  }
  const int idx[6] = {0, 1, 2, 0, 2, 3};
  std::memcpy(g->indexes, idx, sizeof(idx));
  g->numVerts = 4;
  g->numIndexes = 6;
  model->addSurface({m, g, -1});
  // A viewer looking along +x: afterwards the quad stands in the y-z plane, facing -x.
  const Mat3 viewAxis(Vec3(1, 0, 0), Vec3(0, 1, 0), Vec3(0, 0, 1));
  ASSERT_TRUE(applyDeform({kDeformSprite, nullptr, {}}, g, viewAxis, Vec3(-100, 5, 5)));
  auto pos = [&](int i) { return Vec3(g->verts[i].xyz[0], g->verts[i].xyz[1], g->verts[i].xyz[2]); };
  Vec3 normal = (pos(1) - pos(0)).cross(pos(2) - pos(0));
  normal.normalize();
  EXPECT_NEAR(normal.x, -1.0f, 1e-5f);
  for (int i = 0; i < 4; i++)
    EXPECT_NEAR(pos(i).x, 5.0f, 1e-5f);
  EXPECT_NEAR((pos(2) - pos(0)).length(), std::sqrt(8.0f), 1e-4f);  // same shape

  // sprite2 keeps the long axis and turns about it to face the viewer.
  const float tall[4][3] = {{0, -1, 0}, {0, 1, 0}, {0, 1, 10}, {0, -1, 10}};
  for (int i = 0; i < 4; i++)
    std::memcpy(g->verts[i].xyz, tall[i], sizeof(tall[i]));
  ASSERT_TRUE(applyDeform({kDeformSprite2, nullptr, {}}, g, viewAxis, Vec3(0, -100, 5)));
  for (int i = 0; i < 4; i++) {
    EXPECT_NEAR(pos(i).y, 0.0f, 1e-4f) << i;  // now spread along x, across the line of sight
    EXPECT_NEAR(std::fabs(pos(i).x), 1.0f, 1e-3f) << i;
  }
  EXPECT_NEAR(pos(2).z, 10.0f, 1e-5f);

  // Six vertices, and eight with six indexes, leave the geometry alone with a warning.
  console.text.clear();
  g->numVerts = 3;
  g->numIndexes = 3;
  const Vec3 before = pos(0);
  applyDeform({kDeformSprite, nullptr, {}}, g, viewAxis, Vec3());
  EXPECT_NE(console.text.find("WARNING: odd vertex count for sprite..\n"), std::string::npos);
  g->numVerts = 4;
  g->numIndexes = 3;
  applyDeform({kDeformSprite2, nullptr, {}}, g, viewAxis, Vec3());
  EXPECT_NE(console.text.find("WARNING: odd index count for auto sprite..\n"), std::string::npos);
  EXPECT_EQ(pos(0), before);
}

TEST_F(DrawListTest, MissingDefaultLightMaterialIsAnErrorAndNormalLinesFollowTheFrame) {
  RenderLight l;
  l.shape = 1;
  EXPECT_EQ(manager.findLightMaterial(&l), nullptr);
  EXPECT_NE(console.text.find("ERROR: failed to locate default light shader\n"), std::string::npos);
  Material* own = material(kPlain);
  l.material = own;
  EXPECT_EQ(manager.findLightMaterial(&l), own);

  SurfaceGeometry* g = boxModel(own)->getSurface(0)->geometry;
  g->verts[0].normal[2] = 1.0f;
  g->verts[0].tangents[0][0] = 1.0f;
  g->verts[0].tangents[1][1] = 1.0f;
  List<Vec3> lines;
  RenderManager::normalLines(g, 3.0f, &lines);
  ASSERT_EQ(lines.num(), 24 * 6);
  const Vec3 start = Vec3(g->verts[0].xyz[0], g->verts[0].xyz[1], g->verts[0].xyz[2] + 2.0f);
  EXPECT_EQ(lines[0], start);
  EXPECT_EQ(lines[1], start + Vec3(3, 0, 0));
  EXPECT_EQ(lines[3], start + Vec3(0, 3, 0));
  EXPECT_EQ(lines[5], start + Vec3(0, 0, 3));
}

}  // namespace
