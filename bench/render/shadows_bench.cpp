// Shadowed frame time on llvmpipe (SDL's offscreen driver) with the engine's own interaction, shadow
// and shadow-map programs: a wall, 40 boxes in front of it and 4 shadow-casting lights drawn by
// RenderManager::renderScene, with shadows off (the peer), stencil shadow volumes, and shadow maps.
// Every iteration finishes the GPU work. Run with --benchmark_repetitions=N
// --benchmark_enable_random_interleaving=true and compare medians.
#include <benchmark/benchmark.h>

#include <cstring>
#include <filesystem>
#include <vector>

#include "bench/support/glbench.h"
#include "lib/interface/convarsystem.h"
#include "platform/gl.h"
#include "render/backend/renderbackend.h"
#include "render/device/glextensions.h"
#include "render/device/renderopengl.h"
#include "render/material/material.h"
#include "render/model/basemodel.h"
#include "render/scene/rendermanager.h"
#include "system/declmanager.h"

namespace {

constexpr int kWidth = 256;
constexpr int kHeight = 192;
constexpr int kBoxes = 40;
constexpr int kMaxLights = 16;

// An axis-aligned box of 24 vertices wound outwards, with face frames.
BaseModel* makeBox(Material* m, const Vec3& mins, const Vec3& maxs) {
  static const int kFaces[6][4][3] = {
      {{0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0, 1, 1}}, {{0, 1, 0}, {1, 1, 0}, {1, 0, 0}, {0, 0, 0}},
      {{1, 0, 0}, {1, 1, 0}, {1, 1, 1}, {1, 0, 1}}, {{0, 1, 0}, {0, 0, 0}, {0, 0, 1}, {0, 1, 1}},
      {{1, 1, 0}, {0, 1, 0}, {0, 1, 1}, {1, 1, 1}}, {{0, 0, 0}, {1, 0, 0}, {1, 0, 1}, {0, 0, 1}}};
  BaseModel* model = new BaseModel();
  model->init("box");
  SurfaceGeometry* g = model->allocGeometryForMode(24, 36, kGeometryVertices | kGeometryIndexes, true);
  for (int f = 0; f < 6; f++) {
    DrawVertex* q = g->verts + f * 4;
    for (int k = 0; k < 4; k++) {
      std::memset(&q[k], 0, sizeof(DrawVertex));
      for (int a = 0; a < 3; a++)
        q[k].xyz[a] = kFaces[f][k][a] ? maxs[a] : mins[a];
      q[k].st[0] = float(k == 1 || k == 2);
      q[k].st[1] = float(k >= 2);
      std::memset(q[k].color, 255, 4);
    }
    Vec3 t0 = Vec3(q[1].xyz[0], q[1].xyz[1], q[1].xyz[2]) - Vec3(q[0].xyz[0], q[0].xyz[1], q[0].xyz[2]);
    Vec3 t1 = Vec3(q[3].xyz[0], q[3].xyz[1], q[3].xyz[2]) - Vec3(q[0].xyz[0], q[0].xyz[1], q[0].xyz[2]);
    t0.normalize();
    t1.normalize();
    Vec3 n = t0.cross(t1);
    n.normalize();
    for (int k = 0; k < 4; k++) {
      std::memcpy(q[k].tangents[0], &t0.x, sizeof(float) * 3);
      std::memcpy(q[k].tangents[1], &t1.x, sizeof(float) * 3);
      std::memcpy(q[k].normal, &n.x, sizeof(float) * 3);
    }
    int* t = g->indexes + f * 6;
    t[0] = f * 4, t[1] = f * 4 + 1, t[2] = f * 4 + 2, t[3] = f * 4, t[4] = f * 4 + 2, t[5] = f * 4 + 3;
  }
  g->numVerts = 24;
  g->numIndexes = 36;
  g->bounds = Bounds(mins, maxs);
  model->addSurface({m, g, -1});
  return model;
}

Material* parsed(const char* body) {
  Material* m = new Material();
  m->parse(body, static_cast<int>(std::strlen(body)));
  return m;
}

struct Context {
  void* window = nullptr;
  RenderOpenGL* device = nullptr;
  RenderManager* manager = nullptr;
  RenderView view;
  Material* lightMaterial = nullptr;
  int mode = -1;
  int lights = 0;
  int lightIndex[kMaxLights] = {};
};

Context* context() {
  static Context* shared = [] {
    Context* c = new Context();
    // The engine's own programs over the tree's unlit one, and its lighting materials (the
    // shadow maps' depth fill and compare).
    benchgl::openGameTree("shadows_bench", [](const std::filesystem::path& media) {
      const std::filesystem::path source = std::filesystem::path(QUILL_SOURCE_ROOT) / "demo/media";
      for (const auto& entry : std::filesystem::directory_iterator(source / "glprogs")) {
        std::filesystem::copy_file(entry.path(), media / "glprogs" / entry.path().filename(),
                                   std::filesystem::copy_options::overwrite_existing);
      }
      std::filesystem::create_directories(media / "materials");
      std::filesystem::copy_file(source / "materials/lighting.mtx", media / "materials/lighting.mtx",
                                 std::filesystem::copy_options::overwrite_existing);
    });
    const benchgl::Device d = benchgl::openDevice("shadows_bench", kWidth, kHeight);
    c->window = d.window;
    c->device = d.device;
    createDeclSystem();
    c->manager = benchgl::openRenderManager(kWidth, kHeight);
    Material* wall = parsed("diffusemap _white\n");
    c->lightMaterial = parsed("lightFalloffImage _white\n{\nmap _white\ncolored\n}\n");
    auto add = [&](BaseModel* model) {
      RenderEntity e;
      e.model = model;
      for (float& p : e.shaderParms)
        p = 1.0f;
      c->manager->addEntityDef(&e);
    };
    add(makeBox(wall, Vec3(200, -200, -150), Vec3(204, 200, 150)));
    for (int i = 0; i < kBoxes; ++i) {
      const Vec3 at(140.0f + float(i % 4) * 8.0f, float(i / 4) * 30.0f - 135.0f,
                    float(i % 5) * 20.0f - 40.0f);
      add(makeBox(wall, at - Vec3(5, 5, 5), at + Vec3(5, 5, 5)));
    }
    c->view.width = 640;
    c->view.height = 480;
    c->view.fovX = 90.0f;
    c->view.fovY = 73.74f;
    c->view.axis = Mat3(Vec3(1, 0, 0), Vec3(0, 1, 0), Vec3(0, 0, 1));
    c->manager->renderScene(&c->view, 0x1b);
    return c;
  }();
  return shared;
}

// 0: shadows off, 1: stencil shadow volumes, 2: shadow maps; lights spread along the wall.
void setMode(Context* c, int mode, int lights) {
  if (c->mode == mode && c->lights == lights)
    return;
  for (int i = 0; i < c->lights; ++i)
    c->manager->freeLightDef(c->lightIndex[i]);
  c->mode = mode;
  c->lights = lights;
  g_conVarSystem->setInt("r_shadows", mode == 0 ? 0 : 1);
  for (int i = 0; i < lights; ++i) {
    RenderLight l;
    l.shape = 1;
    l.origin = Vec3(60.0f, float(i) * (300.0f / float(lights)) - 150.0f, 40.0f);
    l.radius = Vec3(400, 400, 400);
    l.flags = uint8_t(mode == 2 ? (kLightShadows | kLightShadowMap) : kLightShadows);
    l.material = c->lightMaterial;
    for (int k = 0; k < 4; ++k)
      l.shaderParms[k] = 0.5f;
    c->lightIndex[i] = c->manager->addLightDef(&l);
  }
}

void BM_ShadowedFrame(benchmark::State& state) {
  Context* c = context();
  setMode(c, int(state.range(0)), int(state.range(1)));
  for (auto _ : state) {
    c->manager->clearScreen();
    g_renderInterface->clear(kClearStencil);
    c->manager->renderScene(&c->view, 0x1b);
    c->manager->endFrame();
    qgl::glFinish();
  }
  if (state.range(0) == 2 && c->manager->shadowMapsRendered() != c->lights)
    state.SkipWithError("the lights did not render shadow maps");
  if (state.range(0) == 1 && c->manager->shadowTrianglesDrawn() == 0)
    state.SkipWithError("no shadow volumes were drawn");
  state.counters["shadow maps"] = c->manager->shadowMapsRendered();
  state.counters["volume triangles"] = c->manager->shadowTrianglesDrawn();
}
BENCHMARK(BM_ShadowedFrame)
    ->ArgNames({"mode", "lights"})
    ->ArgsProduct({{0, 1, 2}, {4, 8, 16}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
