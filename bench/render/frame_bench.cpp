// A frame of the sample map on llvmpipe (SDL's offscreen driver), drawn by RenderManager::renderScene
// from the player start with the demo's own map, materials, images, meshes and GPU programs: the
// map's two lights, the heat-haze panel that reads "_currentRender" and the fog volume over the far
// room. Arg 1 draws the post-process pass and the fog; arg 0, the peer, is the same frame with
// "r_skipPostProcess" and "r_skipFogLights" set. Every iteration finishes the GPU work. Run a
// release build with --benchmark_repetitions=N --benchmark_enable_random_interleaving=true and
// compare medians.
#include <benchmark/benchmark.h>

#include <filesystem>

#include "bench/support/glbench.h"
#include "lib/interface/convarsystem.h"
#include "lib/interface/rendermodelsystem.h"
#include "platform/gl.h"
#include "render/device/glextensions.h"
#include "render/backend/renderbackend.h"
#include "render/device/renderopengl.h"
#include "render/scene/rendermanager.h"
#include "system/declmanager.h"
#include "world/bspworld.h"

namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 240;

struct Context {
  RenderManager* manager = nullptr;
  BspSpatialSystem* world = nullptr;
  RenderView view;
};

Context* context() {
  static Context* shared = [] {
    Context* c = new Context();
    benchgl::openGameTree("frame_bench", [](const std::filesystem::path& media) {
      const std::filesystem::path source = std::filesystem::path(QUILL_SOURCE_ROOT) / "demo/media";
      for (const char* folder : {"glprogs", "materials", "textures", "maps", "models"}) {
        std::filesystem::copy(source / folder, media / folder,
                              std::filesystem::copy_options::recursive |
                                  std::filesystem::copy_options::overwrite_existing);
      }
    });
    benchgl::openDevice("frame_bench", kWidth, kHeight);
    if (createDeclSystem() == nullptr)
      benchgl::fail("frame_bench", "no declaration manager");
    c->manager = benchgl::openRenderManager(kWidth, kHeight);
    c->world = new BspSpatialSystem();
    if (!c->world->load("maps/demo"))
      benchgl::fail("frame_bench", "maps/demo did not load");
    g_spatialSystem = c->world;
    c->manager->onMapLoaded();
    // The map's lights (demo/tools/demo.rooms), the fog over the third room, the haze panel.
    RenderLight light;
    light.ownerId = 1;
    light.shape = 1;
    light.flags = kLightShadows | kLightSpecular;
    light.radius = Vec3(300, 300, 300);
    light.shaderParms[0] = light.shaderParms[1] = light.shaderParms[2] = light.shaderParms[3] = 1.0f;
    light.origin = Vec3(128, 128, 100);
    c->manager->addLightDef(&light);
    light.origin = Vec3(640, 128, 100);
    c->manager->addLightDef(&light);
    RenderLight fog;
    fog.ownerId = 1;
    fog.kind = 2;
    fog.shape = 2;
    fog.flags = kLightAmbient;
    fog.origin = Vec3(640, 128, 64);
    fog.radius = Vec3(128, 128, 64);
    fog.shaderParms[0] = fog.shaderParms[1] = 0.45f;
    fog.shaderParms[2] = 0.5f;
    fog.shaderParms[3] = 1.0f;
    c->manager->addLightDef(&fog);
    RenderEntity panel;
    panel.model = g_renderModelSystem->findOrLoadModel("models/haze.mesh");
    panel.origin = Vec3(200, 176, 0);
    panel.noShadows = 1;
    for (float& p : panel.shaderParms)
      p = 1.0f;
    c->manager->addEntityDef(&panel);
    c->view.width = 640;
    c->view.height = 480;
    c->view.fovX = 90.0f;
    c->view.fovY = 73.74f;
    c->view.origin = Vec3(64, 128, 48);
    c->view.axis = Mat3(Vec3(1, 0, 0), Vec3(0, 1, 0), Vec3(0, 0, 1));
    // One frame of each kind builds instances, light models and the copy before anything is timed.
    for (int skip : {1, 0}) {
      g_conVarSystem->setInt("r_skipPostProcess", skip);
      g_conVarSystem->setInt("r_skipFogLights", skip);
      c->manager->renderScene(&c->view, 0x1b);
    }
    if (c->manager->postProcessDrawn() == 0)
      benchgl::fail("frame_bench", "the haze panel drew no post-process pass");
    return c;
  }();
  return shared;
}

void BM_SampleMapFrame(benchmark::State& state) {
  Context* c = context();
  const int skip = state.range(0) ? 0 : 1;
  g_conVarSystem->setInt("r_skipPostProcess", skip);
  g_conVarSystem->setInt("r_skipFogLights", skip);
  for (auto _ : state) {
    c->manager->renderScene(&c->view, 0x1b);
    c->manager->endFrame();
    qgl::glFinish();
  }
  state.SetLabel(skip ? "without post-process and fog" : "with post-process and fog");
}
BENCHMARK(BM_SampleMapFrame)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
