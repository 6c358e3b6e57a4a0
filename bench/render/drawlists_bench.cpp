// Draw-list building without a GL context: buildDrawLists over 1,000 entities (each a 32 x 32 grid
// of 2,048 triangles whose material deforms, so every instance is rebuilt every view) and 50 lights,
// with the entity update as a job set on 1, 2, 4 and 8 workers (the 1-worker run is the peer); and
// shadow-volume building in triangles per second for a closed 4,608-triangle mesh under a point light.
// Run with --benchmark_repetitions=N --benchmark_enable_random_interleaving=true, compare medians.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "lib/interface/convarsystem.h"
#include "lib/interface/rendermodelsystem.h"
#include "lib/threadmanager.h"
#include "render/material/material.h"
#include "render/model/basemodel.h"
#include "render/model/geometryedges.h"
#include "render/scene/rendermanager.h"
#include "system/convarmanager.h"

namespace {

constexpr int kEntities = 1000;
constexpr int kLights = 50;
constexpr int kGrid = 32;

// A grid of kGrid x kGrid quads in the x-y plane, 16 units across.
void fillGrid(SurfaceGeometry* g) {
  const int side = kGrid + 1;
  for (int y = 0; y < side; y++) {
    for (int x = 0; x < side; x++) {
      DrawVertex& v = g->verts[y * side + x];
      std::memset(&v, 0, sizeof(v));
      v.xyz[0] = float(x) * 16.0f / kGrid - 8.0f;
      v.xyz[1] = float(y) * 16.0f / kGrid - 8.0f;
      v.normal[2] = 1.0f;
      v.tangents[0][0] = 1.0f;
      v.tangents[1][1] = 1.0f;
    }
  }
  int* t = g->indexes;
  for (int y = 0; y < kGrid; y++) {
    for (int x = 0; x < kGrid; x++) {
      const int a = y * side + x;
      *t++ = a, *t++ = a + 1, *t++ = a + side + 1;
      *t++ = a, *t++ = a + side + 1, *t++ = a + side;
    }
  }
  g->numVerts = side * side;
  g->numIndexes = kGrid * kGrid * 6;
  g->bounds = Bounds(Vec3(-8, -8, 0), Vec3(8, 8, 0));
}

struct Scene {
  Scene() {
    getConVarManager();
    getRenderModelSystem();
    manager.init();
    const char* text = "deform expand 0.01\n{\nmap _white\n}\n";
    material.parse(text, int(std::strlen(text)));
    model.init("grid");
    SurfaceGeometry* g = model.allocGeometry((kGrid + 1) * (kGrid + 1), kGrid * kGrid * 6);
    fillGrid(g);
    model.addSurface({&material, g, -1});
    for (int i = 0; i < kEntities; i++) {
      RenderEntity e;
      e.model = &model;
      e.origin = Vec3(200.0f + float(i % 40) * 20.0f, float(i / 40) * 20.0f - 250.0f, float(i % 7) * 10.0f);
      for (float& p : e.shaderParms)
        p = 1.0f;
      manager.addEntityDef(&e);
    }
    for (int i = 0; i < kLights; i++) {
      RenderLight l;
      l.origin = Vec3(200.0f + float(i) * 16.0f, float(i % 5) * 100.0f - 250.0f, 64.0f);
      l.radius = Vec3(128, 128, 128);
      l.flags = kLightShadows;
      manager.addLightDef(&l);
    }
    view.width = 640;
    view.height = 480;
    view.fovX = 90.0f;
    view.fovY = 73.74f;
  }
  RenderManager manager;
  Material material;
  BaseModel model;
  RenderView view;
};

Scene& scene() {
  static Scene* s = new Scene();  // lives to the end of the process
  return *s;
}

void BM_BuildDrawLists(benchmark::State& state) {
  Scene& s = scene();
  auto* threads = static_cast<ThreadManagerWin32*>(g_threadManager);
  threads->setWorkerCount(int(state.range(0)));
  g_conVarSystem->setInt("r_smp", 1);
  for (auto _ : state) {
    s.manager.setRenderView(&s.view, 0);
    s.manager.buildDrawLists();
    benchmark::DoNotOptimize(s.manager.sortList(0).num());
  }
  if (s.manager.lastJobSetSize() != kEntities)
    state.SkipWithError("the entities did not update as one job set");
  state.counters["entities"] = kEntities;
  state.counters["lights"] = double(s.manager.visibleLights().num());
}
BENCHMARK(BM_BuildDrawLists)->Arg(1)->Arg(2)->Arg(4)->Arg(8)->Unit(benchmark::kMillisecond)->UseRealTime();

// A closed mesh: a 48 x 48 latitude-longitude sphere of radius 32 (4,512 triangles plus the poles'
// degenerate ones), welded edges built once.
void BM_ShadowVolumeBuild(benchmark::State& state) {
  Scene& s = scene();
  (void)s;
  constexpr int kRings = 48;
  constexpr int kSegments = 48;
  BaseModel sphere;
  sphere.init("sphere");
  const int numVerts = (kRings + 1) * (kSegments + 1);
  SurfaceGeometry* g = sphere.allocGeometry(numVerts, kRings * kSegments * 6);
  for (int r = 0; r <= kRings; r++) {
    const float phi = float(r) / kRings * 3.14159265f;
    for (int k = 0; k <= kSegments; k++) {
      const float theta = float(k) / kSegments * 6.2831853f;
      DrawVertex& v = g->verts[r * (kSegments + 1) + k];
      std::memset(&v, 0, sizeof(v));
      v.xyz[0] = 32.0f * std::sin(phi) * std::cos(theta);
      v.xyz[1] = 32.0f * std::sin(phi) * std::sin(theta);
      v.xyz[2] = 32.0f * std::cos(phi);
    }
  }
  int* t = g->indexes;
  for (int r = 0; r < kRings; r++) {
    for (int k = 0; k < kSegments; k++) {
      const int a = r * (kSegments + 1) + k;
      const int b = a + kSegments + 1;
      *t++ = a, *t++ = b, *t++ = a + 1;
      *t++ = a + 1, *t++ = b, *t++ = b + 1;
    }
  }
  g->numVerts = numVerts;
  g->numIndexes = kRings * kSegments * 6;
  buildGeometryEdges(g);
  RenderManager::ShadowVolume volume;
  int64_t triangles = 0;
  for (auto _ : state) {
    RenderManager::buildShadowGeometry(g, Vec3(100, 40, 80), false, &volume);
    triangles += g->numIndexes / 3;
    benchmark::DoNotOptimize(volume.indexes.num());
  }
  state.counters["triangles/s"] = benchmark::Counter(double(triangles), benchmark::Counter::kIsRate);
  state.counters["volume triangles"] = double(volume.indexes.num() / 3);
}
BENCHMARK(BM_ShadowVolumeBuild)->Unit(benchmark::kMicrosecond);

}  // namespace
