// Per-light drawing on llvmpipe with the engine's own interaction and shadow programs: a lit wall is
// brighter near its light, a light's scissor rectangle limits it, a box between a light and the wall
// leaves a stencil shadow, fog volumes tint what they hold.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "render/model/basemodel.h"
#include "tests/render/scene/support/managergl.h"

namespace {

using managergl::kHeight;
using managergl::kWidth;
using managergl::Rgb;

// Two areas split at y = 0: area 0 is the left half of the camera's view (y >= 0), area 1 the right.
class LeftRightWorld : public SpatialSystem {
 public:
  bool load(const char*) override { return true; }
  int pointToArea(const float p[3]) override { return p[1] >= 0.0f ? 0 : 1; }
  int getNumAreas() override { return 2; }
  int areasInBounds(const Bounds& b, int* out, int max) override {
    int n = 0;
    if (b.maxs.y >= 0.0f && n < max)
      out[n++] = 0;
    if (b.mins.y < 0.0f && n < max)
      out[n++] = 1;
    return n;
  }
  int areasVisibleFromPoint(const Vec3&, const Bounds& b, int* out, int max) override {
    return areasInBounds(b, out, max);
  }
  int areasVisibleFromView(const SpatialView*, int* out, int max) override {
    int n = 0;
    for (int a = 0; a < 2 && n < max; a++)
      out[n++] = a;
    return n;
  }
  Bounds& getAreaScreenRect(Bounds& out, int area) override {
    out = area == 0 ? leftRect : Bounds(Vec3(0.5f, 0, 0), Vec3(1, 1, 1));
    return out;
  }
  Bounds leftRect{Vec3(0, 0, 0), Vec3(0.5f, 1, 1)};
};

class LightingGLTest : public managergl::ManagerGLTest {
 protected:
  LightingGLTest()
      : ManagerGLTest({.programFolder = std::string(QUILL_SOURCE_DIR) + "/demo/media/glprogs"}) {}

  void SetUp() override {
    managergl::ManagerGLTest::SetUp();
    if (!running() || HasFatalFailure())
      return;
    g_conVarSystem->setString("r_lightScale", "1");
    ASSERT_TRUE(device->hasStencilFeature(kStencilFeatureWrap));
    lightMaterial = material("lightFalloffImage _white\n{\nmap _white\ncolored\n}\n");
    wallMaterial = material("diffusemap _white\n");
  }

  void TearDown() override {
    g_spatialSystem = nullptr;
    managergl::ManagerGLTest::TearDown();
  }

  // An axis-aligned box of 24 vertices wound outwards, normals and tangents derived.
  BaseModel* box(Material* m, const Vec3& mins, const Vec3& maxs) {
    static const int kFaces[6][4][3] = {
        {{0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0, 1, 1}}, {{0, 1, 0}, {1, 1, 0}, {1, 0, 0}, {0, 0, 0}},
        {{1, 0, 0}, {1, 1, 0}, {1, 1, 1}, {1, 0, 1}}, {{0, 1, 0}, {0, 0, 0}, {0, 0, 1}, {0, 1, 1}},
        {{1, 1, 0}, {0, 1, 0}, {0, 1, 1}, {1, 1, 1}}, {{0, 0, 0}, {1, 0, 0}, {1, 0, 1}, {0, 0, 1}}};
    models.push_back(std::make_unique<BaseModel>());
    BaseModel* model = models.back().get();
    model->init("box");
    SurfaceGeometry* g = model->allocGeometryForMode(24, 36, kGeometryVertices | kGeometryIndexes, true);
    for (int f = 0; f < 6; f++) {
      for (int k = 0; k < 4; k++) {
        DrawVertex& v = g->verts[f * 4 + k];
        std::memset(&v, 0, sizeof(v));
        for (int a = 0; a < 3; a++)
          v.xyz[a] = kFaces[f][k][a] ? maxs[a] : mins[a];
        v.st[0] = float(k == 1 || k == 2);
        v.st[1] = float(k >= 2);
        std::memset(v.color, 255, 4);
      }
      int* t = g->indexes + f * 6;
      t[0] = f * 4, t[1] = f * 4 + 1, t[2] = f * 4 + 2, t[3] = f * 4, t[4] = f * 4 + 2, t[5] = f * 4 + 3;
    }
    // Face frames: tangent 0 along s, tangent 1 along t, the normal outwards.
    for (int f = 0; f < 6; f++) {
      DrawVertex* q = g->verts + f * 4;
      auto p = [&](int k) { return Vec3(q[k].xyz[0], q[k].xyz[1], q[k].xyz[2]); };
      Vec3 t0 = p(1) - p(0);
      Vec3 t1 = p(3) - p(0);
      t0.normalize();
      t1.normalize();
      Vec3 n = t0.cross(t1);
      n.normalize();
      for (int k = 0; k < 4; k++) {
        std::memcpy(q[k].tangents[0], &t0.x, sizeof(float) * 3);
        std::memcpy(q[k].tangents[1], &t1.x, sizeof(float) * 3);
        std::memcpy(q[k].normal, &n.x, sizeof(float) * 3);
      }
    }
    g->numVerts = 24;
    g->numIndexes = 36;
    g->bounds = Bounds(mins, maxs);
    model->addSurface({m, g, -1});
    return model;
  }

  int addEntity(BaseModel* model) {
    RenderEntity e;
    e.model = model;
    for (float& p : e.shaderParms)
      p = 1.0f;
    return manager->addEntityDef(&e);
  }

  int addLight(const Vec3& origin, const Vec3& radius, uint8_t flags) {
    RenderLight l;
    l.shape = 1;
    l.origin = origin;
    l.radius = radius;
    l.flags = flags;
    l.material = lightMaterial;
    for (int i = 0; i < 4; i++)
      l.shaderParms[i] = 1.0f;
    return manager->addLightDef(&l);
  }

  // A camera at `origin` looking down +x, 90 x 73.74 degrees.
  void render(const Vec3& origin = Vec3(0, 0, 0)) {
    device->setClearColor(0, 0, 0, 1);
    manager->clearScreen();
    g_renderInterface->setClearStencil(128);
    g_renderInterface->clear(4);
    RenderView v;
    v.width = 640;
    v.height = 480;
    v.fovX = 90.0f;
    v.fovY = 73.74f;
    v.origin = origin;
    manager->renderScene(&v, 0);
  }

  // Where a point of the world lands on the window (y down), for a camera at the origin.
  static void project(const Vec3& p, int* x, int* y) {
    const float ndcX = -p.y / p.x;          // tan(45) = 1
    const float ndcY = p.z / p.x / 0.75f;  // tan(73.74 / 2) = 0.75
    *x = int((ndcX * 0.5f + 0.5f) * kWidth);
    *y = int((0.5f - ndcY * 0.5f) * kHeight);
  }

  Rgb atWorld(const Vec3& p) {
    int x, y;
    project(p, &x, &y);
    return at(x, y);
  }

  Material* lightMaterial = nullptr;
  Material* wallMaterial = nullptr;
};

TEST_F(LightingGLTest, AWallIsBrighterNearItsLightAndBlackWithoutOne) {
  addEntity(box(wallMaterial, Vec3(100, -80, -60), Vec3(104, 80, 60)));
  // No light: the wall has only interaction stages and stays black.
  render();
  EXPECT_LT(atWorld(Vec3(100, 30, 0)).sum(), 10) << console.text;
  // A light close to the wall's left part.
  const int light = addLight(Vec3(80, 30, 0), Vec3(300, 300, 300), 0);
  render();
  const Rgb nearSide = atWorld(Vec3(100, 30, 0));
  const Rgb farSide = atWorld(Vec3(100, -60, 0));
  EXPECT_GT(nearSide.sum(), 300) << console.text;
  EXPECT_GT(nearSide.sum(), farSide.sum() + 150);
  EXPECT_GT(manager->surfacesDrawn(), 0);
  // A second light on the other side adds up there.
  addLight(Vec3(80, -60, 0), Vec3(300, 300, 300), 0);
  render();
  EXPECT_GT(atWorld(Vec3(100, -60, 0)).sum(), farSide.sum() + 150);
  EXPECT_GT(atWorld(Vec3(100, 30, 0)).sum(), 300);
  // "r_skipLights" leaves the wall black again.
  g_conVarSystem->setInt("r_skipLights", 1);
  render();
  EXPECT_LT(atWorld(Vec3(100, 30, 0)).sum(), 10);
  g_conVarSystem->setInt("r_skipLights", 0);
  manager->freeLightDef(light);
}

TEST_F(LightingGLTest, TheScissorRectangleOfTheLightsAreasLimitsIt) {
  LeftRightWorld world;
  g_spatialSystem = &world;
  addEntity(box(wallMaterial, Vec3(100, -80, -60), Vec3(104, 80, 60)));
  // The light's box lies in area 0 (y 10..70); the camera stands in area 1.
  addLight(Vec3(80, 40, 0), Vec3(300, 30, 300), 0);
  // Area 0 covers only the left quarter of the screen.
  world.leftRect = Bounds(Vec3(0, 0, 0), Vec3(0.25f, 1, 1));
  render(Vec3(0, -0.5f, 0));
  const int quarter = kWidth / 4;
  EXPECT_GT(at(quarter - 6, kHeight / 2).sum(), 150) << console.text;
  EXPECT_LT(at(quarter + 6, kHeight / 2).sum(), 10);
  // Without scissoring the same light reaches past the quarter.
  g_conVarSystem->setInt("r_useScissor", 0);
  render(Vec3(0, -0.5f, 0));
  EXPECT_GT(at(quarter + 6, kHeight / 2).sum(), 150);
  g_conVarSystem->setInt("r_useScissor", 1);
}

TEST_F(LightingGLTest, ABoxBetweenTheLightAndTheWallLeavesAShadow) {
  addEntity(box(wallMaterial, Vec3(100, -80, -60), Vec3(104, 80, 60)));
  addEntity(box(wallMaterial, Vec3(66, -4, 11), Vec3(74, 4, 19)));
  addLight(Vec3(40, 0, 30), Vec3(300, 300, 300), kLightShadows);
  const Vec3 inShadow(100, 0, 0);
  const Vec3 lit(100, 0, -30);
  const Vec3 litSide(100, 30, 0);
  for (int shadows : {1, 0}) {
    SCOPED_TRACE(shadows ? "stencil shadows" : "shadows off");
    g_conVarSystem->setInt("r_shadows", shadows);
    render();
    EXPECT_GT(atWorld(lit).sum(), 250) << console.text;
    EXPECT_GT(atWorld(litSide).sum(), 250);
    if (shadows) {
      EXPECT_LT(atWorld(inShadow).sum(), 40);
      EXPECT_GT(manager->shadowTrianglesDrawn(), 0);
    } else {
      EXPECT_GT(atWorld(inShadow).sum(), 250);
    }
  }
  g_conVarSystem->setInt("r_shadows", 1);

  // A camera inside the shadow volume (between the box and the wall) still sees the shadow: the
  // volume is counted depth-fail with caps. (100, 0, 2) is shadowed, (100, 12, 2) lit.
  render(Vec3(85, 0, 8));
  EXPECT_LT(at(kWidth / 2, 147).sum(), 40) << "viewer inside the volume";
  EXPECT_GT(at(25, 147).sum(), 250);
  // A box that owns the light casts no shadow from it.
  RenderLight owned = *manager->getLightDef(0);
  owned.ownerId = 2;  // entity slot 1, plus one
  manager->updateLightDef(0, &owned);
  render();
  EXPECT_GT(atWorld(inShadow).sum(), 250);
}

}  // namespace

namespace {

TEST_F(LightingGLTest, AFogVolumeTintsWhatItHolds) {
  addEntity(box(wallMaterial, Vec3(100, -80, -60), Vec3(104, 80, 60)));
  // A blue fog box around the left part of the wall (y 10..70); no ordinary light.
  RenderLight fog;
  fog.shape = 2;
  fog.kind = 2;
  fog.origin = Vec3(100, 40, 0);
  fog.radius = Vec3(20, 30, 80);
  fog.material = lightMaterial;
  fog.shaderParms[2] = 1.0f;
  fog.shaderParms[3] = 1.0f;
  manager->addLightDef(&fog);
  render();
  const Rgb inside = atWorld(Vec3(100, 40, 0));
  const Rgb outside = atWorld(Vec3(100, -40, 0));
  EXPECT_GT(inside.b, 100) << console.text;
  EXPECT_LT(inside.r, 30);
  EXPECT_LT(outside.sum(), 10);
  // "r_skipFogLights" leaves it out.
  g_conVarSystem->setInt("r_skipFogLights", 1);
  render();
  EXPECT_LT(atWorld(Vec3(100, 40, 0)).sum(), 10);
  g_conVarSystem->setInt("r_skipFogLights", 0);
}

}  // namespace
