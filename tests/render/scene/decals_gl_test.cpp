// Projected decals and entity overlays drawn through the render manager on llvmpipe: a decal on a
// wall changes the pixels where it lands, fades with its age through shader parameter 4, and is
// gone after its expiry; an overlay marks its entity until the entity's decals are removed; entities
// leave blob shadows on the ground in the lightmap and hybrid modes.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "render/model/basemodel.h"
#include "render/scene/decals.h"
#include "tests/render/scene/support/managergl.h"

namespace {

using managergl::Rgb;

// One area whose model holds the wall the decals are clipped against.
class WallWorld : public SpatialSystem {
 public:
  bool load(const char*) override { return true; }
  int pointToArea(const float*) override { return 0; }
  int getNumAreas() override { return 1; }
  int areasVisibleFromPoint(const Vec3&, const Bounds&, int* out, int max) override {
    if (max < 1)
      return 0;
    out[0] = 0;
    return 1;
  }
  RenderModel* getAreaModel(int area) override { return area == 0 ? model : nullptr; }
  RenderModel* model = nullptr;
};

class DecalsGLTest : public managergl::ManagerGLTest {
 protected:
  void SetUp() override {
    ManagerGLTest::SetUp();
    if (!running())
      return;
    grey = material("{\nmap _white\nrgb 0.25\n}\n");
    // Red that fades out over the decal's ten seconds: "time" reads the age.
    fading = material(
        "translucent\n{\nblendfunc add\nmap _white\nred \"0.5 - time * 0.05\"\ngreen 0\nblue 0\n}\n");
    wall = makeWall(grey, 100.0f);
    world.model = wall;
    g_spatialSystem = &world;
  }
  void TearDown() override {
    g_spatialSystem = nullptr;
    if (running()) {
      renderDecals().clearAll();
      manager->unloadMap();
    }
    for (BaseModel* m : models)
      delete m;
    models.clear();
    ManagerGLTest::TearDown();
  }

  // A wall at x = `x` facing the camera, y and z over [-half, half].
  BaseModel* makeWall(Material* m, float x, float half = 60.0f) {
    BaseModel* model = new BaseModel();
    models.push_back(model);
    model->init("wall");
    SurfaceGeometry* g = model->allocGeometryForMode(4, 6, kGeometryVertices | kGeometryIndexes, true);
    const float corners[4][2] = {{half, -half}, {-half, -half}, {-half, half}, {half, half}};
    for (int i = 0; i < 4; i++) {
      DrawVertex& v = g->verts[i];
      v = DrawVertex{};
      v.xyz[0] = x;
      v.xyz[1] = corners[i][0];
      v.xyz[2] = corners[i][1];
      v.st[0] = float(i == 1 || i == 2);
      v.st[1] = float(i >= 2);
      v.normal[0] = -1.0f;
      std::memset(v.color, 255, 4);
    }
    const int idx[6] = {0, 1, 2, 0, 2, 3};
    std::memcpy(g->indexes, idx, sizeof(idx));
    g->numVerts = 4;
    g->numIndexes = 6;
    g->bounds = Bounds(Vec3(x, -half, -half), Vec3(x, half, half));
    model->addSurface({m, g, 0});
    return model;
  }

  int addEntity(BaseModel* model) {
    RenderEntity e;
    e.model = model;
    for (float& p : e.shaderParms)
      p = 1.0f;
    return manager->addEntityDef(&e);
  }

  // A 32-unit square projected onto the wall around (100, 0, 0) from 8 units in front of it.
  void projectOnWall(Material* m, int time) {
    const float winding[4][5] = {
        {108, -16, -16, 0, 0}, {108, 16, -16, 0, 1}, {108, 16, 16, 1, 1}, {108, -16, 16, 1, 0}};
    manager->projectDecal(winding, Vec3(92, 0, 0), true, 0.0f, m, time);
  }

  void render(int time) {
    clearTo(0, 0, 0);
    RenderView v = managergl::camera(time);
    manager->renderScene(&v, 0xb);
  }

  WallWorld world;
  std::vector<BaseModel*> models;
  Material* grey = nullptr;
  Material* fading = nullptr;
  BaseModel* wall = nullptr;
};

constexpr int kCentreX = managergl::kWidth / 2;
constexpr int kCentreY = managergl::kHeight / 2;
// (100, 40, 0): on the wall, outside the decal.
constexpr int kBesideX = int((0.5f - 0.4f * 0.5f) * managergl::kWidth);

TEST_F(DecalsGLTest, ADecalLandsWhereProjectedFadesWithAgeAndExpires) {
  if (!running())
    return;
  addEntity(wall);
  render(1000);
  const Rgb bare = at(kCentreX, kCentreY);
  EXPECT_TRUE(managergl::near(bare, {64, 64, 64}, 3))
      << bare.r << " " << bare.g << " " << bare.b << console.text;

  projectOnWall(fading, 1000);
  ASSERT_GT(renderDecals().numUsed(), 0);
  // Age 1 s: red 0.45 added where the decal lands, nothing beside it.
  render(2000);
  const Rgb young = at(kCentreX, kCentreY);
  EXPECT_NEAR(young.r, 64 + 115, 4) << console.text;
  EXPECT_NEAR(young.g, 64, 3);
  EXPECT_TRUE(managergl::near(at(kBesideX, kCentreY), bare, 3));
  // Age 9 s: nearly faded.
  render(10000);
  const Rgb old = at(kCentreX, kCentreY);
  EXPECT_NEAR(old.r, 64 + 13, 4);
  EXPECT_LT(old.r, young.r - 80);
  // The frame after the last one of its life (time + 10000) no longer has it.
  render(11000);
  render(11001);
  EXPECT_EQ(renderDecals().numUsed(), 0);
  EXPECT_TRUE(managergl::near(at(kCentreX, kCentreY), bare, 3));
}

TEST_F(DecalsGLTest, DecalsCastNoShadowsAndTheirAgeIsPerSurface) {
  if (!running())
    return;
  addEntity(wall);
  projectOnWall(fading, 1000);
  projectOnWall(fading, 5000);
  RenderView v = managergl::camera(6000);
  manager->setRenderView(&v, 6000);
  manager->buildDrawLists();
  std::vector<float> ages;
  for (int l = 0; l < RenderManager::kNumSortLists; l++) {
    for (const DrawSurface& ds : manager->sortList(l)) {
      if (ds.material != fading)
        continue;
      ASSERT_NE(ds.entity, nullptr);
      EXPECT_NE(ds.entity->noShadows, 0);
      EXPECT_FLOAT_EQ(ds.shaderParms[0], 1.0f);
      ages.push_back(ds.shaderParms[4]);
    }
  }
  // Two runs (two time stamps), each with its own stamp in seconds.
  std::sort(ages.begin(), ages.end());
  EXPECT_EQ(ages, (std::vector<float>{-5.0f, -1.0f}));
}

TEST_F(DecalsGLTest, EntityOverlaysDrawUntilTheEntitysDecalsAreRemoved) {
  if (!running())
    return;
  const int e = addEntity(wall);
  Material* red = material("{\nblendfunc add\nmap _white\nrgb 0.5\ngreen 0\nblue 0\n}\n");
  render(100);
  const Rgb bare = at(kCentreX, kCentreY);
  // s and t across the middle of the wall: s = y / 40 + 0.5, t = z / 40 + 0.5.
  const Plane planes[2] = {Plane(Vec3(0, 1.0f / 40.0f, 0), -0.5f), Plane(Vec3(0, 0, 1.0f / 40.0f), -0.5f)};
  manager->addEntityOverlay(e, planes, red);
  render(200);
  EXPECT_GT(manager->overlayTrianglesDrawn(), 0);
  const Rgb marked = at(kCentreX, kCentreY);
  EXPECT_NEAR(marked.r, bare.r + 128, 4) << console.text;
  EXPECT_NEAR(marked.g, bare.g, 3);
  manager->removeEntityDecals(e);
  render(300);
  EXPECT_EQ(manager->overlayTrianglesDrawn(), 0);
  EXPECT_TRUE(managergl::near(at(kCentreX, kCentreY), bare, 3));
}

// A floor at z = -100 seen from above: the camera at the origin looks straight down.
TEST_F(DecalsGLTest, EntitiesLeaveABlobShadowBelowThemInLightmapAndHybridModes) {
  if (!running())
    return;
  BaseModel* floor = new BaseModel();
  models.push_back(floor);
  floor->init("floor");
  SurfaceGeometry* g = floor->allocGeometryForMode(4, 6, kGeometryVertices | kGeometryIndexes, true);
  const float corners[4][2] = {{-120, -120}, {120, -120}, {120, 120}, {-120, 120}};
  for (int i = 0; i < 4; i++) {
    g->verts[i] = DrawVertex{};
    g->verts[i].xyz[0] = corners[i][0];
    g->verts[i].xyz[1] = corners[i][1];
    g->verts[i].xyz[2] = -100.0f;
    g->verts[i].normal[2] = 1.0f;
    std::memset(g->verts[i].color, 255, 4);
  }
  const int idx[6] = {0, 1, 2, 0, 2, 3};
  std::memcpy(g->indexes, idx, sizeof(idx));
  g->numVerts = 4;
  g->numIndexes = 6;
  g->bounds = Bounds(Vec3(-120, -120, -100), Vec3(120, 120, -100));
  Material* mid = material("{\nmap _white\nrgb 0.5\n}\n");
  floor->addSurface({mid, g, 0});
  world.model = floor;
  RenderEntity ground;
  ground.model = floor;
  ground.noShadows = 1;
  for (float& p : ground.shaderParms)
    p = 1.0f;
  manager->addEntityDef(&ground);
  // A small upright quad standing on the floor at (0, 40), edge-on to the camera; lit surfaces
  // cast shadows.
  BaseModel* small = makeWall(material("diffusemap _white\n"), 4.0f, 2.0f);
  RenderEntity standing;
  standing.model = small;
  standing.origin = Vec3(-4, 40, -100);
  for (float& p : standing.shaderParms)
    p = 1.0f;
  const int standingIndex = manager->addEntityDef(&standing);
  manager->setBlobShadowMaterial(material("translucent\n{\nblendfunc filter\nmap _white\nrgb 0.5\n}\n"));

  RenderView v = managergl::camera(5000);
  v.axis = Mat3(Vec3(0, 0, -1), Vec3(0, 1, 0), Vec3(1, 0, 0));
  // Screen point of a floor point: right is -y, up is +x, 100 units away.
  auto floorAt = [&](float x, float y) {
    const int px = int((0.5f - y / 100.0f * 0.5f) * managergl::kWidth);
    const int py = int((0.5f - x / 100.0f / 0.75f * 0.5f) * managergl::kHeight);
    return at(px, py);
  };
  auto draw = [&]() {
    clearTo(0, 0, 0);
    manager->renderScene(&v, 0xb);
  };
  struct Case {
    const char* what;
    int quality;
    bool world;
    bool noShadows;
    bool blob;
  };
  const Case cases[] = {
      {"dynamic lighting: none", 2, true, false, false},
      {"hybrid mode", 1, true, false, true},
      {"lightmap mode", 0, true, false, true},
      {"no map loaded", 1, false, false, false},
      {"an entity without shadows", 1, true, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    g_conVarSystem->setInt("r_lightquality", c.quality);
    g_spatialSystem = c.world ? &world : nullptr;
    standing.noShadows = c.noShadows ? 1 : 0;
    manager->updateEntityDef(standingIndex, &standing);
    draw();
    const Rgb under = floorAt(20, 40);
    const Rgb away = floorAt(0, -40);
    EXPECT_NEAR(away.r, 128, 3) << console.text;
    EXPECT_NEAR(under.r, c.blob ? 64 : 128, 3);
    EXPECT_EQ(renderDecals().numUsed(), 0) << "a blob lives for one frame";
  }
  g_conVarSystem->setInt("r_lightquality", 2);
  g_spatialSystem = &world;
}

}  // namespace
