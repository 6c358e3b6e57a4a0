// The render manager on llvmpipe with the engine's own interaction and shadow programs (read from
// the source tree: the suite defines QUILL_SOURCE_DIR), boxes as entities, lights, and a camera
// looking down +x: the fixture of the lighting and shadow pixel tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "lib/interface/convarsystem.h"
#include "lib/interface/rendermodelsystem.h"
#include "lib/interface/texmanager.h"
#include "platform/gl.h"
#include "render/backend/renderbackend.h"
#include "render/device/renderopengl.h"
#include "render/material/expression.h"
#include "render/material/material.h"
#include "render/model/basemodel.h"
#include "render/scene/rendermanager.h"
#include "render/texture/texmgrinfo.h"
#include "system/convarmanager.h"
#include "tests/support/capturecmdsystem.h"
#include "tests/support/gldevice.h"
#include "tests/support/memoryiosystem.h"

namespace lightinggl {

constexpr int kWidth = 256;
constexpr int kHeight = 192;

inline std::string readSource(const std::string& relative) {
  std::ifstream in(std::string(QUILL_SOURCE_DIR) + "/" + relative, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

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

struct Rgb {
  int r, g, b;
  int sum() const { return r + g + b; }
};

class LightingGLTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"unlit.vp", "shadow.vp", "interaction.vfp", "interaction_nos.vp",
                             "interaction_nob.fp", "interaction_nos.fp", "interaction_nobs.fp",
                             "ambientInteraction.vfp", "vertexInteraction.vfp", "shadowMap.vfp", "fog.vfp"}) {
      programs.push_back(readSource(std::string("demo/media/glprogs/") + name));
      io.addFile((std::string("glprogs/") + name).c_str(), programs.back().c_str());
    }
    getConVarManager();
    g_conVarSystem->setInt("r_viewwidth", kWidth);
    g_conVarSystem->setInt("r_viewheight", kHeight);
    g_conVarSystem->setString("r_lightScale", "1");
    gltest::openDevice(kWidth, kHeight, &window, &device);
    if (IsSkipped() || HasFatalFailure())
      return;
    g_renderInterface = device.get();
    ASSERT_TRUE(device->hasStencilFeature(kStencilFeatureWrap));
    ASSERT_NE(TexMgrInfo::getInstance(), nullptr);
    getRenderModelSystem();
    manager = std::make_unique<RenderManager>();
    ASSERT_TRUE(manager->init());
    lightMaterial = material("lightFalloffImage _white\n{\nmap _white\ncolored\n}\n");
    wallMaterial = material("diffusemap _white\n");
  }

  void TearDown() override {
    g_spatialSystem = nullptr;
    if (device == nullptr || g_renderInterface == nullptr) {
      destroyConVarManager();
      return;
    }
    manager.reset();
    for (BaseModel* m : models)
      delete m;
    models.clear();
    materials.clear();
    destroyRenderModelSystem();
    g_renderBackEnd.reset();
    destroyTexManager();
    clearExpressions();
    g_renderInterface = nullptr;
    device.reset();
    platformGLDestroyHiddenWindow(window);
    destroyConVarManager();
  }

  Material* material(const char* body) {
    materials.push_back(std::make_unique<Material>());
    Material* m = materials.back().get();
    EXPECT_TRUE(m->parse(body, static_cast<int>(std::strlen(body)))) << body;
    return m;
  }

  // An axis-aligned box of 24 vertices wound outwards, normals and tangents derived.
  BaseModel* box(Material* m, const Vec3& mins, const Vec3& maxs) {
    static const int kFaces[6][4][3] = {
        {{0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0, 1, 1}}, {{0, 1, 0}, {1, 1, 0}, {1, 0, 0}, {0, 0, 0}},
        {{1, 0, 0}, {1, 1, 0}, {1, 1, 1}, {1, 0, 1}}, {{0, 1, 0}, {0, 0, 0}, {0, 0, 1}, {0, 1, 1}},
        {{1, 1, 0}, {0, 1, 0}, {0, 1, 1}, {1, 1, 1}}, {{0, 0, 0}, {1, 0, 0}, {1, 0, 1}, {0, 0, 1}}};
    BaseModel* model = new BaseModel();
    models.push_back(model);
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
  void render(const Vec3& origin = Vec3(0, 0, 0), int flags = 0xb) {
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
    manager->renderScene(&v, flags);
  }

  // Where a point of the world lands on the window (y down), for a camera at the origin.
  static void project(const Vec3& p, int* x, int* y) {
    const float ndcX = -p.y / p.x;         // tan(45) = 1
    const float ndcY = p.z / p.x / 0.75f;  // tan(73.74 / 2) = 0.75
    *x = int((ndcX * 0.5f + 0.5f) * kWidth);
    *y = int((0.5f - ndcY * 0.5f) * kHeight);
  }

  Rgb at(int x, int y) {
    unsigned char p[4] = {};
    device->readPixels(p, x, kHeight - 1 - y, 1, 1, kPixelFormatRGBA);
    return {p[0], p[1], p[2]};
  }
  Rgb atWorld(const Vec3& p) {
    int x, y;
    project(p, &x, &y);
    return at(x, y);
  }

  std::vector<std::string> programs;
  MemoryIOSystem io;
  CaptureCmdSystem console;
  void* window = nullptr;
  std::unique_ptr<RenderOpenGL> device;
  std::unique_ptr<RenderManager> manager;
  std::vector<std::unique_ptr<Material>> materials;
  std::vector<BaseModel*> models;
  Material* lightMaterial = nullptr;
  Material* wallMaterial = nullptr;
};

}  // namespace lightinggl
