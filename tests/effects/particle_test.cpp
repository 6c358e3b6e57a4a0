// The particle pool (overflow rule, free-list order, statistics) and one particle's life: birth in
// the emission frame and on the spawn shapes, motion against closed-form positions, friction,
// end origins, impacts, trails and envelope animation.
#include <gtest/gtest.h>

#include <cmath>

#include "lib/interface/convarsystem.h"
#include "lib/interface/rendermodelsystem.h"
#include "render/model/basemodel.h"
#include "effects/support/fxstandins.h"
#include "system/convarmanager.h"

namespace {

using fxtest::EffectsTest;
using fxtest::makeParams;

// A sprite segment whose ranges are single values, so a birth is exact.
DeclEffectSegment fixedSegment() {
  DeclEffectSegment s("emitter", "a");
  s.type = kSegmentSprite;
  ParticleBlock& b = s.particles;
  for (ParticleState* st : {&b.startRange.min, &b.startRange.max, &b.endRange.min, &b.endRange.max}) {
    st->tint = Vec3(1, 1, 1);
    st->alpha = st->width = st->length = 1.0f;
  }
  b.lifetime = {2.0f, 2.0f};
  return s;
}

class ParticleTest : public EffectsTest {};

TEST_F(ParticleTest, PoolOverflowRecyclesTheEarliestEndingParticleAndWarnsOnce) {
  Particle* all[ParticlePool::kMaxParticles];
  for (int i = 0; i < ParticlePool::kMaxParticles; i++) {
    all[i] = g_particlePool.alloc();
    all[i]->endTime = 100.0f + float(i % 7);
  }
  EXPECT_EQ(g_particlePool.numFree(), 0);
  EXPECT_EQ(cmd_.text.find("overflow"), std::string::npos);
  // End times 100 repeat every 7 particles: the lowest index holding 100 is recycled.
  Particle* p = g_particlePool.alloc();
  EXPECT_EQ(p, all[0]);
  EXPECT_NE(cmd_.text.find("^1WARNING: ^2particle system overflow\n"), std::string::npos);
  p->endTime = 200.0f;
  cmd_.text.clear();
  EXPECT_EQ(g_particlePool.alloc(), all[7]);
  size_t warnings = 0;
  for (size_t at = cmd_.text.find("overflow"); at != std::string::npos; at = cmd_.text.find("overflow", at + 1))
    warnings++;
  EXPECT_EQ(warnings, 1u);

  // A released particle is the next one handed out; relinkAll frees everything in index order.
  g_particlePool.release(all[100]);
  EXPECT_EQ(g_particlePool.alloc(), all[100]);
  g_particlePool.relinkAll();
  EXPECT_EQ(g_particlePool.numFree(), ParticlePool::kMaxParticles);
  EXPECT_EQ(g_particlePool.numActive(), 0);
  EXPECT_EQ(g_particlePool.alloc(), &g_particlePool.at(0));
  EXPECT_TRUE(g_particlePool.isDirty());
  g_particlePool.clearDirty();
  EXPECT_FALSE(g_particlePool.isDirty());
}

TEST_F(ParticleTest, StatisticsAreDrawnOnlyWhileTheVariableIsSet) {
  getConVarManager();
  fxtest::RecordingRenderSystem render;
  g_particlePool.alloc();
  g_particlePool.alloc();
  g_particlePool.printStats();
  EXPECT_TRUE(render.texts.empty());
  g_conVarSystem->setInt("r_debugParticles", 1);
  g_particlePool.printStats();
  ASSERT_EQ(render.texts.size(), 2u);
  EXPECT_EQ(render.texts[0].text, "active particles: 2");
  EXPECT_EQ(render.texts[1].text, "  free particles: 2046");
  EXPECT_EQ(render.texts[1].y, 14.0f);
  EXPECT_EQ(render.texts[0].scale, 0.5f);
  EXPECT_EQ(render.alignment, 0);
  EXPECT_EQ(render.color[3], 1.0f);
  destroyConVarManager();
}

TEST_F(ParticleTest, MotionFollowsTheClosedForm) {
  struct Case {
    Vec3 velocity, acceleration;
    float gravity;
  };
  const Case cases[] = {
      {{10, 0, 0}, {0, 0, 0}, 0.0f},
      {{0, 5, 2}, {1, 2, 3}, 0.0f},
      {{3, -4, 8}, {0, 0, 0}, 9.0f},
      {{1, 1, 1}, {-2, 4, -6}, 3.5f},
  };
  for (const Case& c : cases) {
    DeclEffectSegment s = fixedSegment();
    for (ParticleState* st : {&s.particles.startRange.min, &s.particles.startRange.max}) {
      st->velocity = c.velocity;
      st->acceleration = c.acceleration;
      st->gravity = c.gravity;
    }
    RenderEffectParams params = makeParams(nullptr);
    params.origin = Vec3(10, 20, 30);
    params.gravity = Vec3(0, 0, -1);
    Particle p;
    p.init(s, params, nullptr);
    // Acceleration and friction are made non-negative in the emission frame.
    const Vec3 a(std::fabs(c.acceleration.x), std::fabs(c.acceleration.y), std::fabs(c.acceleration.z));
    const float dt = 0.016f;
    const int steps = 50;
    for (int i = 1; i <= steps; i++)
      p.move(s, params, dt, float(i) * dt);
    // Each step adds half of (a + g) dt to the velocity, then moves by the new velocity.
    const Vec3 pull = a + params.gravity * c.gravity;
    const Vec3 v = c.velocity + pull * (steps * dt * 0.5f);
    const Vec3 x = params.origin + c.velocity * (steps * dt) + pull * (dt * dt * 0.5f * steps * (steps + 1) * 0.5f);
    for (int k = 0; k < 3; k++) {
      EXPECT_NEAR(p.currentState.velocity[k], v[k], 1e-3) << k;
      EXPECT_NEAR(p.currentState.position[k], x[k], 1e-3) << k;
    }
  }
}

TEST_F(ParticleTest, FrictionSlowsEachAxisAndNeverReverses) {
  struct Case {
    float speed, friction, dt, expected;
  };
  const Case cases[] = {
      {2.0f, 0.5f, 0.1f, 1.9f},             // s - dt f s
      {0.2f, 0.5f, 0.1f, 0.2f - 0.025f},    // below the friction: s - dt f^2
      {-2.0f, 0.5f, 0.1f, -1.9f},           // the sign stays
      {1.0f, 100.0f, 0.1f, 0.0f},           // stops, never turns back
      {0.0f, 1.0f, 0.1f, 0.0f},
  };
  for (const Case& c : cases) {
    DeclEffectSegment s = fixedSegment();
    for (ParticleState* st : {&s.particles.startRange.min, &s.particles.startRange.max}) {
      st->velocity = Vec3(c.speed, 0, 0);
      st->friction = Vec3(c.friction, 0, 0);
    }
    RenderEffectParams params = makeParams(nullptr);
    Particle p;
    p.init(s, params, nullptr);
    p.move(s, params, c.dt, c.dt);
    EXPECT_NEAR(p.currentState.velocity.x, c.expected, 1e-6) << c.speed << " " << c.friction;
  }
}

TEST_F(ParticleTest, EndOriginParticlesSitOnTheEndOrigin) {
  DeclEffectSegment s = fixedSegment();
  s.particles.startRange.min.position = Vec3(1, 1, 1);  // "useEndOrigin"
  s.particles.startRange.max.position = Vec3(0, 0, 0);
  for (ParticleState* st : {&s.particles.startRange.min, &s.particles.startRange.max})
    st->velocity = Vec3(0, 0, 10);
  RenderEffectParams params = makeParams(nullptr);
  params.origin = Vec3(100, 0, 0);
  params.axis = Angles(0, 90, 0).toMat3();
  params.endOrigin = Vec3(100, 50, 0);
  params.hasEndOrigin = true;
  Particle p;
  p.init(s, params, nullptr);
  p.move(s, params, 0.1f, 0.1f);
  EXPECT_TRUE(p.currentState.position.compare(params.endOrigin, 1e-4f));
  // Locked: the end origin in the effect's frame (yawed 90 degrees: +y world is +x local).
  s.particles.flags |= kSegmentLocked;
  p.move(s, params, 0.1f, 0.2f);
  EXPECT_TRUE(p.currentState.position.compare(Vec3(50, 0, 0), 1e-3f)) << p.currentState.position.x;
  // Without an end origin the particle moves normally.
  s.particles.flags = 0;
  params.hasEndOrigin = false;
  Particle q;
  q.init(s, params, nullptr);
  const Vec3 before = q.currentState.position;
  q.move(s, params, 0.1f, 0.1f);
  EXPECT_NEAR(q.currentState.position.z - before.z, 1.0f, 1e-5);
}

TEST_F(ParticleTest, ImpactsBounceRemoveAndSpawn) {
  fxtest::RecordingGame game;
  game.floorZ = 0.0f;
  DeclEffect impactEffect;
  DeclEffectSegment s = fixedSegment();
  s.particles.flags |= kSegmentImpact;
  s.particles.impact.bounce = 1.0f;
  s.particles.impact.effect = &impactEffect;
  for (ParticleState* st : {&s.particles.startRange.min, &s.particles.startRange.max}) {
    st->position = Vec3(0, 0, 1);
    st->velocity = Vec3(3, 0, -20);
  }
  RenderEffectParams params = makeParams(nullptr);
  params.origin = Vec3(0, 0, 0);
  Particle p;
  p.init(s, params, nullptr);
  p.endTime = 5.0f;
  p.move(s, params, 0.1f, 0.1f);
  ASSERT_EQ(game.traces.size(), 1u);
  EXPECT_TRUE(game.traces[0].start.compare(Vec3(0, 0, 1), 1e-5f));
  // Bounce 1 reflects the normal part: w = 2, d = v.n * 2, v - n d.
  EXPECT_NEAR(p.currentState.velocity.z, 20.0f, 1e-4);
  EXPECT_NEAR(p.currentState.velocity.x, 3.0f, 1e-4);
  EXPECT_NEAR(p.currentState.position.z, 0.0f, 1e-4);
  ASSERT_EQ(game.impacts.size(), 1u);
  EXPECT_EQ(game.impacts[0].effect, &impactEffect);
  EXPECT_TRUE(game.impacts[0].axis[0].compare(Vec3(0, 0, 1), 1e-5f));
  for (float parm : game.impacts[0].parms)
    EXPECT_EQ(parm, 1.0f);
  EXPECT_EQ(p.endTime, 5.0f);

  // Bounce 0 slides along the floor; "remove" ends the particle a second ago.
  s.particles.impact.bounce = 0.0f;
  s.particles.impact.remove = true;
  s.particles.impact.effect = nullptr;
  Particle q;
  q.init(s, params, nullptr);
  q.endTime = 5.0f;
  q.move(s, params, 0.1f, 0.3f);
  EXPECT_NEAR(q.currentState.velocity.z, 0.0f, 1e-4);
  EXPECT_EQ(q.endTime, 0.3f - 1.0f);
  EXPECT_EQ(game.impacts.size(), 1u);
}

TEST_F(ParticleTest, SpawnShapesPlaceParticlesOnTheirSurfaces) {
  RenderEffectParams params = makeParams(nullptr);
  ParticleStateRange range;
  range.min.position = Vec3(-10, -20, 0);
  range.max.position = Vec3(30, 20, 40);
  const Vec3 c(10, 0, 20);
  const Vec3 h(20, 20, 20);
  for (int i = 0; i < 200; i++) {
    ParticleState st;
    sampleParticleState(st, range, kShapeSphere, params);
    const Vec3 d = st.position - c;
    const float r = (d.x / h.x) * (d.x / h.x) + (d.y / h.y) * (d.y / h.y) + (d.z / h.z) * (d.z / h.z);
    ASSERT_NEAR(r, 1.0f, 1e-3) << "sphere: on the ellipsoid";
    sampleParticleState(st, range, kShapeCylinder, params);
    const Vec3 e = st.position - c;
    ASSERT_NEAR((e.x / h.x) * (e.x / h.x) + (e.y / h.y) * (e.y / h.y), 1.0f, 1e-3) << "cylinder: on its side";
    ASSERT_GE(st.position.z, 0.0f);
    ASSERT_LE(st.position.z, 40.0f);
    sampleParticleState(st, range, kShapeBox, params);
    ASSERT_TRUE(st.position.x >= -10 && st.position.x <= 30 && st.position.z >= 0 && st.position.z <= 40);
  }
  // A cone without height spawns on its base (never a division by zero).
  range.max.position.z = 0.0f;
  for (int i = 0; i < 50; i++) {
    ParticleState st;
    sampleParticleState(st, range, kShapeCone, params);
    ASSERT_TRUE(std::isfinite(st.position.x) && std::isfinite(st.position.y));
    const Vec3 e = st.position - Vec3(10, 0, 0);
    ASSERT_NEAR((e.x / h.x) * (e.x / h.x) + (e.y / h.y) * (e.y / h.y), 1.0f, 1e-3);
    ASSERT_EQ(st.position.z, 0.0f);
  }
  // Rotations are turns: drawn values come back in degrees.
  range.min.rotate = Vec3(0.25f, 0.5f, 1.0f);
  range.max.rotate = range.min.rotate;
  ParticleState st;
  sampleParticleState(st, range, kShapeLinear, params);
  EXPECT_TRUE(st.rotate.compare(Vec3(90, 180, 360), 1e-4f));
  // "length useEndOrigin" draws -1 when the params carry an end origin.
  range.min.length = 1.0f;
  range.max.length = 0.0f;
  params.hasEndOrigin = true;
  sampleParticleState(st, range, kShapeLinear, params);
  EXPECT_EQ(st.length, -1.0f);
}

TEST_F(ParticleTest, EmissionFrameTurnsTheStateIntoTheEffectsFrame) {
  DeclEffectSegment s = fixedSegment();
  for (ParticleState* st : {&s.particles.startRange.min, &s.particles.startRange.max}) {
    st->position = Vec3(4, 0, 0);
    st->velocity = Vec3(1, 0, 0);
    st->acceleration = Vec3(-2, 0, 0);
    st->offset = Vec3(0, 3, 0);
  }
  RenderEffectParams params = makeParams(nullptr);
  params.origin = Vec3(100, 0, 0);
  params.axis = Angles(0, 90, 0).toMat3();  // forward is +y
  Particle p;
  Mat3 axis;
  p.init(s, params, &axis);
  EXPECT_TRUE(p.currentState.position.compare(Vec3(100, 4, 0), 1e-4f));
  EXPECT_TRUE(p.currentState.velocity.compare(Vec3(0, 1, 0), 1e-4f));
  EXPECT_TRUE(p.currentState.acceleration.compare(Vec3(0, 2, 0), 1e-4f)) << "made non-negative";
  EXPECT_TRUE(p.currentState.offset.compare(Vec3(-3, 0, 0), 1e-4f));
  EXPECT_NEAR(p.startState.rotate.y, 90.0f, 1e-3) << "the frame's yaw joins the rotation";
  EXPECT_NEAR(p.endState.rotate.y, 90.0f, 1e-3);
  EXPECT_TRUE(axis.compare(params.axis, 1e-5f));

  // Locked particles stay in the effect's local frame.
  s.particles.flags = kSegmentLocked;
  Particle q;
  q.init(s, params, nullptr);
  EXPECT_TRUE(q.currentState.position.compare(Vec3(4, 0, 0), 1e-5f));
  EXPECT_TRUE(q.drawPoint(s, params).compare(Vec3(100, 4, 0) + Vec3(-3, 0, 0), 1e-4f));

  // "flipNormal" turns the frame half round in yaw.
  s.particles.flags = kSegmentFlipNormal;
  params.axis = Mat3::identity();
  params.origin = Vec3();
  Particle f;
  f.init(s, params, nullptr);
  EXPECT_TRUE(f.currentState.position.compare(Vec3(-4, 0, 0), 1e-4f));
}

TEST_F(ParticleTest, SurfaceSpawnsUseTheEntityOrTheModelAndSurviveEmptyModels) {
  fxtest::RecordingRenderSystem render;
  DeclEffectSegment s = fixedSegment();
  s.particles.flags = kSegmentUseSurface;
  RenderEffectParams params = makeParams(nullptr);
  params.origin = Vec3(1, 1, 1);
  params.entityHandle = 3;
  Particle p;
  p.init(s, params, nullptr);
  EXPECT_EQ(render.entityVertexCalls, 1);
  EXPECT_TRUE(p.currentState.position.compare(render.entityVertex, 1e-5f)) << "vertex - origin + origin";

  ASSERT_NE(getRenderModelSystem(), nullptr);
  {
    BaseModel model;
    model.init("nothing");
    s.particles.model = &model;
    Particle q;
    q.init(s, params, nullptr);  // no surfaces
    EXPECT_TRUE(q.currentState.position.compare(params.origin, 1e-5f));
    model.addSurface({nullptr, model.allocGeometry(0, 0), -1});
    q.init(s, params, nullptr);  // a surface without vertices
    EXPECT_TRUE(q.currentState.position.compare(params.origin, 1e-5f));
    SurfaceGeometry* g = model.allocGeometry(1, 0);
    ASSERT_NE(g, nullptr);
    g->verts[0] = DrawVertex{};
    g->verts[0].xyz[2] = 8.0f;
    model.setSurface(0, {nullptr, g, -1});
    q.init(s, params, nullptr);
    EXPECT_TRUE(q.currentState.position.compare(Vec3(1, 1, 9), 1e-5f));
  }
  destroyRenderModelSystem();
}

TEST_F(ParticleTest, AnimationFollowsEnvelopesAndKeepsStartValuesWithoutThem) {
  defineTable("fx/ramp", "{ clamp 0, 1 }");
  DeclTable* ramp = g_declSystem->findTable("fx/ramp", false);
  ASSERT_NE(ramp, nullptr);
  DeclEffectSegment s = fixedSegment();
  ParticleBlock& b = s.particles;
  for (ParticleState* st : {&b.endRange.min, &b.endRange.max}) {
    st->alpha = 0.0f;
    st->tint = Vec3(0, 0, 0);
    st->width = 9.0f;
  }
  RenderEffectParams params = makeParams(nullptr, true);
  Particle p;
  p.init(s, params, nullptr);
  p.startTime = 0.0f;
  p.endTime = 2.0f;
  p.animate(s, params, 100.0f, 1.0f);
  EXPECT_EQ(p.currentState.alpha, 1.0f) << "no envelope: the start value";
  EXPECT_EQ(p.currentState.width, 1.0f);

  b.motion[kMotionAlpha].table = ramp;
  p.animate(s, params, 100.0f, 1.0f - 0.008f);
  EXPECT_NEAR(p.currentState.alpha, 0.5f, 1e-4);
  EXPECT_NEAR(p.currentState.tint.x, 0.5f, 1e-4) << "tint follows the alpha envelope without its own";
  EXPECT_EQ(p.currentState.width, 1.0f);
  // Without looping the fade ends with the segment: half way through a segment of 1 s.
  params.looping = false;
  p.animate(s, params, 1.0f, 0.5f - 0.008f);
  EXPECT_NEAR(p.currentState.alpha, 0.5f, 1e-4);
  b.motion[kMotionWidth].table = ramp;
  p.animate(s, params, 1.0f, 0.5f - 0.008f);
  EXPECT_NEAR(p.currentState.width, 1.0f + 0.25f * 8.0f, 1e-3) << "width runs over the particle's own life";
}

TEST_F(ParticleTest, MotionTrailsKeepTheNewestPointFirst) {
  DeclEffectSegment s = fixedSegment();
  s.particles.trailType = kTrailMotion;
  s.particles.trailCount = {4, 4};
  s.particles.trailTime = {0.1f, 0.1f};
  for (ParticleState* st : {&s.particles.startRange.min, &s.particles.startRange.max})
    st->velocity = Vec3(10, 0, 0);
  RenderEffectParams params = makeParams(nullptr);
  Particle p;
  p.init(s, params, nullptr);
  ASSERT_EQ(p.trailCount, 4);
  for (int i = 1; i <= 3; i++)
    p.move(s, params, 0.1f, 0.1f * float(i));
  // Samples at 0.1, 0.2, 0.3 took the position before each move: x = 0, 1, 2.
  EXPECT_NEAR(p.trail[0].x, 2.0f, 1e-4);
  EXPECT_NEAR(p.trail[1].x, 1.0f, 1e-4);
  EXPECT_NEAR(p.trail[2].x, 0.0f, 1e-4);
  EXPECT_NEAR(p.trail[3].x, 0.0f, 1e-4);
}

}  // namespace
