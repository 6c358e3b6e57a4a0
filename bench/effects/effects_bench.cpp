// Particles updated and built per second: one effect keeping N particles alive (N up to the fixed
// pool of 2048), stepped by 16 ms and built into an effects model each frame, per emitter kind.
// Larger counts are not reachable: the pool recycles the earliest-ending particle instead.
#include <benchmark/benchmark.h>

#include <memory>

#include "effects/effectsmanager.h"
#include "lib/interface/rendermodelsystem.h"
#include "lib/interface/renderview.h"
#include "render/material/material.h"
#include "render/model/basemodel.h"

namespace {

struct Scene {
  explicit Scene(int type, int count, int trailType) {
    getRenderModelSystem();
    material.parse("translucent", 11);
    DeclEffectSegment* s = new DeclEffectSegment("emitter", "bench");
    s->type = type;
    s->particles.material = &material;
    s->particles.flags = kSegmentSpawnAtOnce;
    s->particles.trailType = trailType;
    s->particles.trailCount = {4, 4};
    s->particles.trailTime = {0.02f, 0.02f};
    s->count = {count, count};
    s->duration = {1000.0f, 1000.0f};
    s->particles.lifetime = {1000.0f, 1000.0f};
    ParticleBlock& b = s->particles;
    for (ParticleState* st : {&b.startRange.min, &b.startRange.max, &b.endRange.min, &b.endRange.max}) {
      st->tint = Vec3(1, 1, 1);
      st->alpha = 1.0f;
      st->width = 2.0f;
      st->length = 2.0f;
    }
    b.startRange.min.position = Vec3(-50, -50, 0);
    b.startRange.max.position = Vec3(50, 50, 100);
    b.startRange.min.velocity = Vec3(-10, -10, 0);
    b.startRange.max.velocity = Vec3(10, 10, 40);
    b.startRange.min.friction = Vec3(0.1f, 0.1f, 0.1f);
    b.startRange.max.friction = Vec3(0.2f, 0.2f, 0.2f);
    b.startRange.min.gravity = b.startRange.max.gravity = 5.0f;
    decl.segments.append(s);
    params.decl = &decl;
    params.draw = true;
    params.looping = true;
    params.gravity = Vec3(0, 0, -1);
    handle = manager.addEffect(params);
    model.init("_effectsModel");
    view.origin = Vec3(-300, 20, 50);
    manager.updateEffect(handle, params, 16);
  }
  ~Scene() {
    manager.shutdown();
    model.init("gone");
  }
  Material material;
  DeclEffect decl;
  EffectsManager manager;
  RenderEffectParams params;
  BaseModel model;
  RenderView view;
  int handle = -1;
  int time = 16;
};

void run(benchmark::State& state, int type, int trailType) {
  const int count = int(state.range(0));
  Scene scene(type, count, trailType);
  for (auto _ : state) {
    scene.time += 16;
    scene.manager.updateEffect(scene.handle, scene.params, scene.time);
    scene.manager.buildEffectsModel(&scene.model, scene.view);
    benchmark::DoNotOptimize(scene.model.getSurface(0));
  }
  state.SetItemsProcessed(state.iterations() * count);
  state.counters["live"] = double(g_particlePool.numActive());
}

void BM_Sprites(benchmark::State& state) {
  run(state, kSegmentSprite, kTrailFixed);
}
void BM_Lines(benchmark::State& state) {
  run(state, kSegmentLine, kTrailFixed);
}
void BM_Linked(benchmark::State& state) {
  run(state, kSegmentLinked, kTrailFixed);
}
void BM_SpriteTrails(benchmark::State& state) {
  run(state, kSegmentSprite, kTrailMotion);
}

}  // namespace

BENCHMARK(BM_Sprites)->Arg(256)->Arg(1024)->Arg(ParticlePool::kMaxParticles);
BENCHMARK(BM_Lines)->Arg(ParticlePool::kMaxParticles);
BENCHMARK(BM_Linked)->Arg(ParticlePool::kMaxParticles);
BENCHMARK(BM_SpriteTrails)->Arg(ParticlePool::kMaxParticles);
