// The segment runtime against a scripted clock (start delays, durations, restarts, spawning,
// stopping) with recording stand-ins of the renderer, the sound system and the game, and the
// effects manager's handles, re-parse restarts and decal quads.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "lib/interface/convarsystem.h"
#include "lib/interface/renderview.h"
#include "effects/support/fxstandins.h"
#include "system/convarmanager.h"

namespace {

using fxtest::EffectsTest;
using fxtest::makeParams;

class RuntimeTest : public EffectsTest {
 protected:
  // A parsed effect that no manager holds.
  DeclEffect& effect(const std::string& body) {
    effects_.push_back(std::make_unique<DeclEffect>());
    EXPECT_TRUE(parseBody(*effects_.back(), body)) << body << "\n" << cmd_.output;
    return *effects_.back();
  }
  std::vector<std::unique_ptr<DeclEffect>> effects_;
};

TEST_F(RuntimeTest, SegmentsStartAfterTheirDelayAndEndOrRestartOnTime) {
  const DeclEffect& e = effect("emitter a { start 0.5, 0.5 duration 1, 1 count 10, 10 sprite { duration 0.2, 0.2 } }");
  const DeclEffectSegment& seg = *e.segment(0);
  for (bool looping : {false, true}) {
    const RenderEffectParams params = makeParams(&e, looping);
    EffectSegmentInstance s;
    s.start(0.0f, params, seg);
    EXPECT_EQ(s.startTime, 0.5f);
    EXPECT_EQ(s.spawnAccumulator, 1.0f) << "0.16 owed, raised to one particle";
    EXPECT_TRUE(s.update(0.25f, params, seg));
    EXPECT_EQ(s.numParticles(), 0) << "waiting";
    // The update that crosses the start is not a first update: 1 + 10 * 0.25 owed.
    EXPECT_TRUE(s.update(0.5f, params, seg));
    EXPECT_EQ(s.numParticles(), 3);
    EXPECT_NEAR(s.spawnAccumulator, 0.5f, 1e-5);
    // Particles expire at their end time (0.5 + 0.2).
    EXPECT_TRUE(s.update(0.75f, params, seg));
    for (Particle* p = s.firstParticle(); p; p = p->ownerNode.nextOwner())
      EXPECT_GT(p->endTime, 0.75f);
    const bool alive = s.update(1.5f, params, seg);
    EXPECT_EQ(alive, looping) << "the segment's end";
    if (looping) {
      EXPECT_EQ(s.startTime, 2.0f) << "restarted with its delay";
      EXPECT_TRUE(s.update(1.6f, params, seg));
    }
  }
  // "noLooping" ends even when the effect loops.
  const DeclEffect& once = effect("emitter a { duration 1, 1 noLooping sprite { } }");
  const RenderEffectParams params = makeParams(&once, true);
  EffectSegmentInstance s;
  s.start(0.0f, params, *once.segment(0));
  EXPECT_TRUE(s.update(0.5f, params, *once.segment(0)));
  EXPECT_FALSE(s.update(1.0f, params, *once.segment(0)));
}

TEST_F(RuntimeTest, SpawnCreditPerSecondAndAtOnce) {
  const DeclEffect& e = effect("emitter a { duration 10, 10 count 10, 10 sprite { duration 5, 5 } }");
  const RenderEffectParams params = makeParams(&e);
  EffectSegmentInstance s;
  s.start(0.0f, params, *e.segment(0));
  ASSERT_TRUE(s.update(0.1f, params, *e.segment(0)));
  EXPECT_EQ(s.numParticles(), 2) << "1 at start + 10 * 0.1";
  ASSERT_TRUE(s.update(0.2f, params, *e.segment(0)));
  EXPECT_EQ(s.numParticles(), 3);

  const DeclEffect& burst = effect("emitter a { duration 10, 10 count 5, 5 spawnAtOnce sprite { duration 5, 5 } }");
  EffectSegmentInstance b;
  b.start(0.0f, makeParams(&burst), *burst.segment(0));
  ASSERT_TRUE(b.update(0.1f, makeParams(&burst), *burst.segment(0)));
  EXPECT_EQ(b.numParticles(), 5);
  ASSERT_TRUE(b.update(0.2f, makeParams(&burst), *burst.segment(0)));
  EXPECT_EQ(b.numParticles(), 5) << "no further credit";

  // A runaway count is capped at the pool: no endless loop, no more than the pool recycles.
  const DeclEffect& flood = effect("emitter a { duration 10, 10 count 2000000000, 2000000000 spawnAtOnce sprite { duration 5, 5 } }");
  EffectSegmentInstance f;
  f.start(0.0f, makeParams(&flood), *flood.segment(0));
  EXPECT_LE(f.spawnAccumulator, float(ParticlePool::kMaxParticles));
  ASSERT_TRUE(f.update(0.1f, makeParams(&flood), *flood.segment(0)));
  EXPECT_LE(f.numParticles(), ParticlePool::kMaxParticles);
}

TEST_F(RuntimeTest, ParticlesThatWouldOutliveAFiniteSegmentAreNotKept) {
  const DeclEffect& e = effect("emitter a { duration 1, 1 count 100, 100 sprite { duration 2, 2 } }");
  const RenderEffectParams params = makeParams(&e);
  EffectSegmentInstance s;
  s.start(0.0f, params, *e.segment(0));
  ASSERT_TRUE(s.update(0.1f, params, *e.segment(0)));
  EXPECT_GT(s.numParticles(), 0) << "first update keeps them";
  const int kept = s.numParticles();
  ASSERT_TRUE(s.update(0.2f, params, *e.segment(0)));
  EXPECT_EQ(s.numParticles(), kept) << "later ones would end after the segment";
  // A looping effect keeps them.
  EffectSegmentInstance l;
  l.start(0.0f, makeParams(&e, true), *e.segment(0));
  l.update(0.1f, makeParams(&e, true), *e.segment(0));
  const int first = l.numParticles();
  l.update(0.2f, makeParams(&e, true), *e.segment(0));
  EXPECT_GT(l.numParticles(), first);
}

TEST_F(RuntimeTest, StoppedSegmentsEnd) {
  const DeclEffect& e = effect("emitter a { duration 10, 10 count 3, 3 constant sprite { duration 1, 1 } }");
  EffectsManager manager;
  const int h = manager.addEffect(makeParams(&e));
  EXPECT_FALSE(manager.updateEffect(h, makeParams(&e), 100));
  EXPECT_EQ(g_particlePool.numActive(), 3);
  manager.stopEffect(h);
  EXPECT_TRUE(manager.updateEffect(h, makeParams(&e), 200)) << "a stopped constant emitter ends at once";
  EXPECT_EQ(g_particlePool.numActive(), 0) << "finished: its particles go back";

  // Without "constant" a stopped emitter lives until its particles are gone.
  const DeclEffect& slow = effect("emitter a { duration 10, 10 count 3, 3 spawnAtOnce sprite { duration 1, 1 } }");
  const int s = manager.addEffect(makeParams(&slow));
  EXPECT_FALSE(manager.updateEffect(s, makeParams(&slow), 100));
  manager.stopEffect(s);
  EXPECT_FALSE(manager.updateEffect(s, makeParams(&slow), 500));
  EXPECT_FALSE(manager.updateEffect(s, makeParams(&slow), 1200)) << "expired this update, the list was not yet empty";
  EXPECT_TRUE(manager.updateEffect(s, makeParams(&slow), 1300));
  // "noStopWait" ends a stopped segment at once.
  const DeclEffect& quick = effect("emitter a { duration 10, 10 count 3, 3 noStopWait spawnAtOnce sprite { duration 5, 5 } }");
  const int q = manager.addEffect(makeParams(&quick));
  manager.updateEffect(q, makeParams(&quick), 100);
  manager.stopEffect(q);
  EXPECT_TRUE(manager.updateEffect(q, makeParams(&quick), 200));
}

TEST_F(RuntimeTest, ViewEffectsActOnTheFirstUpdateWithAttenuation) {
  defineMaterial("fx/tunnelmat");
  fxtest::RecordingGame game;
  const DeclEffect& e = effect(
      "shake a { duration 2, 2 scale 4 attenuation 100, 300 }\n"
      "doubleVision b { duration 1, 1 attenuation 150, 150 }\n"
      "tunnel c { duration 1, 1 emitter_is_not_a_key }\n");
  // The third segment carries an unknown word after its common keys: no loader reads it, so it stays.
  struct Case {
    float distance;
    float shake;   // scale 4 * (1 - f)^2
    float double_; // a step at 150
  };
  const Case cases[] = {{200.0f, 1.0f, 0.0f}, {50.0f, 4.0f, 1.0f}, {400.0f, 0.0f, 0.0f}, {199.0f, 4.0f * 0.505f * 0.505f, 0.0f}, {149.0f, 4.0f * 0.755f * 0.755f, 1.0f}};
  for (const Case& c : cases) {
    game.viewEffects.clear();
    game.viewOrigin = Vec3(c.distance, 0, 0);
    RenderEffectParams params = makeParams(&e);
    EffectSegmentInstance shake, dv;
    shake.start(0.0f, params, *e.segment(0));
    dv.start(0.0f, params, *e.segment(1));
    EXPECT_FALSE(shake.update(0.1f, params, *e.segment(0))) << "returns looping";
    dv.update(0.1f, params, *e.segment(1));
    ASSERT_EQ(game.viewEffects.size(), 2u);
    EXPECT_EQ(game.viewEffects[0].kind, kViewShake);
    EXPECT_EQ(game.viewEffects[0].material, "");
    EXPECT_EQ(game.viewEffects[0].duration, 2.0f);
    EXPECT_NEAR(game.viewEffects[0].intensity, c.shake, 2e-3) << c.distance;
    EXPECT_EQ(game.viewEffects[1].kind, kViewDoubleVision);
    EXPECT_NEAR(game.viewEffects[1].intensity, c.double_, 1e-5) << "equal distances make a step at " << c.distance;
    params.looping = true;
    EXPECT_TRUE(shake.update(0.2f, params, *e.segment(0)));
    EXPECT_EQ(game.viewEffects.size(), 2u) << "only the first update acts";
  }
}

TEST_F(RuntimeTest, SoundSegmentsPlayOnAnEmitterWithDrawnVolumes) {
  fxtest::RecordingSoundSystem sound;
  SoundShader shader;
  DeclEffectSegment seg("sound", "s");
  seg.soundShader = &shader;
  seg.soundChannel = 3;
  seg.volume = {0.5f, 1.0f};
  seg.duration = {5.0f, 5.0f};
  RenderEffectParams params = makeParams(nullptr, true);
  params.origin = Vec3(1, 2, 3);
  {
    EffectSegmentInstance s;
    s.start(0.0f, params, seg);
    ASSERT_EQ(sound.emitters.size(), 1u);
    fxtest::RecordingEmitter* emitter = sound.emitters[0];
    ASSERT_EQ(emitter->stops.size(), 1u);
    EXPECT_EQ(emitter->stops[0], 33);
    EXPECT_EQ(emitter->started.size(), 1u);
    EXPECT_EQ(emitter->startChannels[0], 3);
    EXPECT_EQ(emitter->volumes[0], -1.0f) << "placed without overrides";
    for (int i = 1; i <= 50; i++)
      ASSERT_TRUE(s.update(0.016f * float(i), params, seg));
    for (size_t i = 1; i < emitter->volumes.size(); i++) {
      EXPECT_GE(emitter->volumes[i], 7.5f);
      EXPECT_LE(emitter->volumes[i], 15.0f);
      EXPECT_EQ(emitter->overrideFlags[i], 0x20);
    }
    // A finished sound restarts when the effect loops, ends when it does not.
    emitter->playing = false;
    EXPECT_TRUE(s.update(1.0f, params, seg));
    EXPECT_EQ(emitter->started.size(), 2u);
    params.looping = false;
    EXPECT_FALSE(s.update(1.1f, params, seg));
  }
  EXPECT_EQ(sound.deleted, 1) << "the segment gives its emitter back";
  // No emitter to be had: silent, and finished at the next update.
  sound.refuse = true;
  EffectSegmentInstance s;
  s.start(0.0f, params, seg);
  EXPECT_FALSE(s.update(0.1f, params, seg));
}

TEST_F(RuntimeTest, LightSegmentsKeepOneLightInTheRenderer) {
  fxtest::RecordingRenderSystem render;
  defineMaterial("fx/lightmat");
  const DeclEffect& e = effect(
      "light a { duration 1, 1 light { material fx/lightmat start { tint 0.5,0.5,0.5, 0.5,0.5,0.5 size 100, 50, 100, 50 } } }");
  const DeclEffectSegment& seg = *e.segment(0);
  RenderEffectParams params = makeParams(&e);
  params.origin = Vec3(10, 0, 0);
  EffectSegmentInstance s;
  s.start(0.0f, params, seg);
  ASSERT_EQ(render.lightAdds, 1);
  const RenderLight& light = render.lights[0];
  EXPECT_TRUE(light.radius.compare(Vec3(100, 100, 50), 1e-5f));
  EXPECT_TRUE(light.center.compare(Vec3(0, 0, 32), 1e-5f));
  EXPECT_EQ(light.shape, 1);
  EXPECT_EQ(light.ownerId, -1);
  EXPECT_EQ(light.shaderParms[0], 0.5f);
  EXPECT_EQ(light.shaderParms[3], 1.0f);
  EXPECT_NE(light.material, nullptr);
  EXPECT_TRUE(light.origin.compare(params.origin, 1e-6f));

  EXPECT_TRUE(s.update(0.1f, params, seg));
  EXPECT_EQ(render.lightUpdates, 0) << "nothing moved";
  params.origin = Vec3(20, 0, 0);
  EXPECT_TRUE(s.update(0.2f, params, seg));
  EXPECT_EQ(render.lightUpdates, 1);
  params.resubmitLight = true;
  EXPECT_TRUE(s.update(0.3f, params, seg));
  EXPECT_EQ(render.lightUpdates, 2);
  // Lights are continuous: at their end they restart (keeping the light) unless stopped.
  EXPECT_TRUE(s.update(1.0f, params, seg));
  EXPECT_EQ(render.lightAdds, 1);
  s.stop();
  EXPECT_FALSE(s.update(2.5f, params, seg));
  EXPECT_EQ(render.lightFrees, 1);
  EXPECT_FALSE(s.update(2.6f, params, seg));
}

// The sample's flickering light: a short light segment of a looping effect restarts with a new colour
// each time its duration runs out, and the renderer gets each colour; stopped, it ends at its next end.
TEST_F(RuntimeTest, LoopingLightsFlickerAndEndWhenStopped) {
  fxtest::RecordingRenderSystem render;
  const DeclEffect& e = effect(
      "light glow { duration 0.04, 0.12 light { start { tint 1,0.4,0.1, 1,0.75,0.3 size 200,200, 260,260 } } }");
  const DeclEffectSegment& seg = *e.segment(0);
  const RenderEffectParams params = makeParams(&e, true);
  EffectSegmentInstance s;
  s.start(0.0f, params, seg);
  ASSERT_EQ(render.lightAdds, 1);
  const int handle = s.lightHandle;
  ASSERT_GE(handle, 0);
  std::vector<float> greens;
  float t = 0.0f;
  for (int i = 0; i < 60; i++) {
    t += 0.016f;
    ASSERT_TRUE(s.update(t, params, seg)) << t;
    const float g = render.lights[size_t(handle)].shaderParms[1];
    EXPECT_GE(g, 0.4f);
    EXPECT_LE(g, 0.75f);
    if (greens.empty() || greens.back() != g)
      greens.push_back(g);
  }
  EXPECT_EQ(render.lightAdds, 1) << "one light, restarted in place";
  EXPECT_GE(render.lightUpdates, 6) << "about one restart every 0.08 s for a second";
  EXPECT_GE(greens.size(), 6u) << "the colour the renderer holds changes";
  s.stop();
  bool ended = false;
  for (int i = 0; i < 10 && !ended; i++) {
    t += 0.016f;
    ended = !s.update(t, params, seg);
  }
  EXPECT_TRUE(ended) << "a stopped looping light ends within its longest duration";
  EXPECT_EQ(render.lightFrees, 1);
  EXPECT_EQ(s.lightHandle, -1);
}

TEST_F(RuntimeTest, DecalsProjectQuadsAndWaitForTheirLifetime) {
  fxtest::RecordingRenderSystem render;
  defineMaterial("fx/decalmat");
  const DeclEffect& e =
      effect("decal a { duration 10, 10 decal { material fx/decalmat duration 2, 2 start { size 8, 4, 8, 4 } } }");
  const RenderEffectParams params = makeParams(&e, true);
  EffectSegmentInstance s;
  s.start(0.0f, params, *e.segment(0));
  EXPECT_TRUE(s.update(0.5f, params, *e.segment(0)));
  ASSERT_EQ(render.decals.size(), 1u);
  EXPECT_EQ(render.decals[0].time, 2500) << "end time in ms";
  EXPECT_EQ(render.decals[0].depth, 2.0f) << "half the smaller of width and length";
  EXPECT_TRUE(render.decals[0].offsetOrigin);
  EXPECT_EQ(s.startTime, 2.5f) << "the next decal waits for this one";
  EXPECT_TRUE(s.update(1.0f, params, *e.segment(0)));
  EXPECT_EQ(render.decals.size(), 1u);
  EXPECT_EQ(g_particlePool.numActive(), 0) << "the decal's particle went back";
}

TEST_F(RuntimeTest, DecalQuadOnAnUpFacingSurface) {
  fxtest::RecordingRenderSystem render;
  EffectsManager::projectDecal(1.25f, Vec3(0, 0, 0), Vec3(0, 0, 5), 4.0f, true, 2.0f, 6.0f, nullptr, 0.0f);
  ASSERT_EQ(render.decals.size(), 1u);
  const auto& d = render.decals[0];
  // right (1, 0, 0), up (0, -1, 0): a1 = (1, 0, 0), a2 = (0, 1, 0); centre (0, 0, 4).
  const float expected[4][5] = {{1, 3, 4, 1, 1}, {-1, 3, 4, 0, 1}, {-1, -3, 4, 0, 0}, {1, -3, 4, 1, 0}};
  for (int i = 0; i < 4; i++)
    for (int k = 0; k < 5; k++)
      EXPECT_NEAR(d.winding[i][k], expected[i][k], 1e-4) << i << " " << k;
  EXPECT_TRUE(d.origin.compare(Vec3(0, 0, -4), 1e-4f));
  EXPECT_EQ(d.depth, 2.0f);
  EXPECT_EQ(d.time, 1250);
  // A quarter turn swaps the axes.
  EffectsManager::projectDecal(0.0f, Vec3(), Vec3(0, 0, 1), 0.0f, false, 2.0f, 6.0f, nullptr, 90.0f);
  EXPECT_NEAR(render.decals[1].winding[0][0], -3.0f, 1e-4);
  EXPECT_NEAR(render.decals[1].winding[0][1], 1.0f, 1e-4);
  EXPECT_TRUE(render.decals[1].origin.compare(Vec3(), 1e-6f));
}

// A decal's roll is drawn in turns like every rotation: the quad of a decal rolled by a quarter turn
// stands at 90 degrees to the unrolled one, by half a turn at 180, by an eighth at 45.
TEST_F(RuntimeTest, DecalRollIsTurnedOnce) {
  fxtest::RecordingRenderSystem render;
  auto spray = [&](float turns) {
    const std::string r = std::to_string(turns);
    const DeclEffect& e = effect("decal a { duration 10, 10 decal { duration 2, 2 start { size 2, 6, 2, 6 rotate 0,0," +
                                 r + ", 0,0," + r + " } } }");
    const RenderEffectParams params = makeParams(&e, true);
    EffectSegmentInstance s;
    s.start(0.0f, params, *e.segment(0));
    EXPECT_TRUE(s.update(0.5f, params, *e.segment(0)));
    EXPECT_FALSE(render.decals.empty());
    const auto& w = render.decals.back().winding;
    Vec3 edge(w[0][0] - w[1][0], w[0][1] - w[1][1], w[0][2] - w[1][2]);
    EXPECT_NEAR(edge.normalize(), 2.0f, 1e-3f) << "the quad is as wide as the decal";
    return edge;
  };
  const Vec3 unrolled = spray(0.0f);
  for (const float turns : {0.25f, 0.5f, 0.125f}) {
    SCOPED_TRACE(turns);
    EXPECT_NEAR(spray(turns).dot(unrolled), std::cos(turns * 6.2831853f), 1e-3f);
  }
}

TEST_F(RuntimeTest, ManagerHandlesAreReusedAndTheTableShrinks) {
  const DeclEffect& e = effect("emitter a { duration 1, 1 sprite { } }");
  EffectsManager manager;
  const RenderEffectParams params = makeParams(&e);
  EXPECT_EQ(manager.addEffect(params), 0);
  EXPECT_EQ(manager.addEffect(params), 1);
  EXPECT_EQ(manager.addEffect(params), 2);
  manager.freeEffect(1);
  EXPECT_EQ(manager.getEffectParams(1), nullptr);
  EXPECT_TRUE(manager.updateEffect(1, params, 10)) << "a freed handle inside the table is finished";
  EXPECT_EQ(manager.addEffect(params), 1);
  manager.freeEffect(1);
  manager.freeEffect(2);
  EXPECT_EQ(manager.effectList().num(), 1) << "trailing free entries are dropped";
  // Handles outside the table are refused everywhere.
  for (int bad : {-1, 5, 1000}) {
    EXPECT_TRUE(manager.updateEffect(bad, params, 10));
    manager.freeEffect(bad);
    manager.stopEffect(bad);
    EXPECT_EQ(manager.getEffectParams(bad), nullptr);
  }
  ASSERT_NE(manager.getEffectParams(0), nullptr);
  EXPECT_EQ(manager.getEffectParams(0)->decl, &e);
  EXPECT_EQ(manager.reservedFloat(7), 0.0f);
  // An effect without a declaration does nothing and is finished at once.
  const int none = manager.addEffect(makeParams(nullptr));
  EXPECT_TRUE(manager.updateEffect(none, makeParams(nullptr), 10));
  EXPECT_FALSE(manager.hasSoundSegment(nullptr));
  EXPECT_FALSE(manager.hasSoundSegment(&e));
  EXPECT_TRUE(manager.hasSoundSegment(&effect("shake a { }\nsound b { }")));
  manager.clear();
  EXPECT_EQ(manager.effectList().num(), 0);
}

TEST_F(RuntimeTest, ReparsedDeclarationsRestartRunningEffects) {
  DeclEffect* e = define("fx/live", "emitter a { duration 10, 10 count 1, 1 spawnAtOnce sprite { duration 5, 5 } }");
  ASSERT_NE(e, nullptr);
  EffectsManager manager;
  const int h = manager.addEffect(makeParams(e));
  EXPECT_FALSE(manager.updateEffect(h, makeParams(e), 100));
  const EffectSegmentInstance* before = manager.effectList()[h]->segmentInstances[0];
  EXPECT_EQ(before->numParticles(), 1);
  // The same text parsed again takes a new serial; two segments now.
  e->decl->setText("emitter a { duration 10, 10 count 1, 1 spawnAtOnce sprite { duration 5, 5 } }\nshake b { }");
  ASSERT_TRUE(e->decl->parse());
  EXPECT_FALSE(manager.updateEffect(h, makeParams(e), 200));
  ASSERT_EQ(manager.effectList()[h]->segmentInstances.num(), 2);
  EXPECT_EQ(manager.effectList()[h]->declSerial, e->getParseSerial());
  // A declaration whose new text fails has no segments: the effect ends.
  e->decl->setText("emitter a { sprite { bogus } }");
  e->decl->parse();
  EXPECT_TRUE(manager.updateEffect(h, makeParams(e), 300));
  EXPECT_EQ(g_particlePool.numActive(), 0);
}

TEST_F(RuntimeTest, UpdatesFreezeWhileTheDebugVariableIsSet) {
  getConVarManager();
  const DeclEffect& e = effect("emitter a { duration 10, 10 count 100, 100 sprite { duration 5, 5 } }");
  EffectsManager manager;
  const int h = manager.addEffect(makeParams(&e));
  manager.updateEffect(h, makeParams(&e), 100);
  const int active = g_particlePool.numActive();
  g_conVarSystem->setInt("r_noEffectUpdate", 1);
  manager.updateEffect(h, makeParams(&e), 500);
  EXPECT_EQ(g_particlePool.numActive(), active);
  g_conVarSystem->setInt("r_noEffectUpdate", 0);
  manager.updateEffect(h, makeParams(&e), 600);
  EXPECT_GT(g_particlePool.numActive(), active);
  manager.clear();
  destroyConVarManager();
}

}  // namespace

namespace {

TEST_F(RuntimeTest, MissingGameSoundAndRendererAreGuarded) {
  ASSERT_EQ(g_gameInterface, nullptr);
  ASSERT_EQ(g_soundSystem, nullptr);
  ASSERT_EQ(g_renderSystem, nullptr);
  SoundShader shader;
  DeclEffect& e = effect(
      "shake a { attenuation 100, 300 }\n"
      "sound b { }\n"
      "light c { light { } }\n"
      "decal d { decal { } }\n"
      "emitter f { count 5, 5 sprite { useSurface impact { bounce 1 } start { velocity 0,0,-50, 0,0,-50 } } }");
  e.segment(1)->soundShader = &shader;
  RenderEffectParams params = makeParams(&e, true);
  params.entityHandle = 2;
  EffectsManager manager;
  const int h = manager.addEffect(params);
  for (int ms = 16; ms <= 160; ms += 16)
    manager.updateEffect(h, params, ms);
  // Without a game, view effects only keep their looping state; without a sound system the sound
  // segment has no emitter; without a renderer neither lights nor decals exist.
  const RenderEffectLocal* local = manager.effectList()[h];
  EXPECT_EQ(local->segmentInstances[1]->soundEmitter, nullptr);
  EXPECT_EQ(local->segmentInstances[2]->lightHandle, -1);
  EXPECT_GT(local->segmentInstances[4]->numParticles(), 0);
  RenderView view;
  manager.submitEffectsModel(view);
  EXPECT_EQ(manager.effectsEntity(), -1);
  manager.freeEffect(h);
  EXPECT_EQ(g_particlePool.numActive(), 0);
}

}  // namespace
