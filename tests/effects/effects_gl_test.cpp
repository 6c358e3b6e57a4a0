// Effects on llvmpipe: particles of a running effect reach the screen through the effects model
// entity that the manager keeps in the render manager: their material's colour where the particles
// stand, the clear colour elsewhere, and nothing once the effect is freed.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "effects/effectsmanager.h"
#include "lib/interface/convarsystem.h"
#include "lib/interface/rendermodelsystem.h"
#include "lib/interface/renderview.h"
#include "lib/interface/texmanager.h"
#include "platform/gl.h"
#include "render/backend/renderbackend.h"
#include "render/device/renderopengl.h"
#include "render/material/expression.h"
#include "render/material/material.h"
#include "render/scene/rendermanager.h"
#include "render/texture/texmgrinfo.h"
#include "system/convarmanager.h"
#include "tests/render/scene/support/managergl.h"
#include "tests/support/capturecmdsystem.h"
#include "tests/support/memoryiosystem.h"

namespace {

using managergl::camera;
using managergl::kHeight;
using managergl::kWidth;
using managergl::near;
using managergl::Rgb;

class EffectsGLTest : public managergl::ManagerGLTest {
 protected:
  void SetUp() override {
    managergl::ManagerGLTest::SetUp();
    if (!running() || HasFatalFailure())
      return;
    previousRender = g_renderSystem;
    g_renderSystem = manager.get();
    g_particlePool.relinkAll();
  }

  void TearDown() override {
    effects.reset();
    g_particlePool.relinkAll();
    if (running()) {
      g_renderSystem = previousRender;
      manager.reset();
      decl.reset();
    }
    managergl::ManagerGLTest::TearDown();
  }

  void clear() { clearTo(0.0f, 0.0f, 1.0f); }

  // One segment of one particle at a fixed point.
  static DeclEffectSegment* particleAt(int type, Material* m, const Vec3& position, float size) {
    DeclEffectSegment* s = new DeclEffectSegment("emitter", "p");
    s->type = type;
    s->particles.material = m;
    s->particles.flags = kSegmentSpawnAtOnce;
    s->count = {1, 1};
    s->duration = {10.0f, 10.0f};
    s->particles.lifetime = {10.0f, 10.0f};
    for (ParticleState* st : {&s->particles.startRange.min, &s->particles.startRange.max, &s->particles.endRange.min,
                              &s->particles.endRange.max}) {
      st->position = position;
      st->tint = Vec3(1, 1, 1);
      st->alpha = 1.0f;
      st->width = size;
      st->length = size;
    }
    return s;
  }

  RenderSystem* previousRender = nullptr;
  std::unique_ptr<DeclEffect> decl;
  std::unique_ptr<EffectsManager> effects;
};

const Rgb kGreen{0, 255, 0};
const Rgb kBlue{0, 0, 255};

TEST_F(EffectsGLTest, ParticlesLeavePixelsWhereTheyStand) {
  Material* green = material("{\n{\nred 0\ngreen 1\nblue 0\n}\n}\n");
  decl = std::make_unique<DeclEffect>();
  // A sprite in the middle of the view, an oriented quad on its left (+y), a beam-like line below.
  decl->segments.append(particleAt(kSegmentSprite, green, Vec3(64, 0, 0), 8.0f));
  decl->segments.append(particleAt(kSegmentOriented, green, Vec3(64, 40, 0), 8.0f));
  effects = std::make_unique<EffectsManager>();
  RenderEffectParams params;
  params.decl = decl.get();
  params.draw = true;
  const int handle = effects->addEffect(params);
  EXPECT_FALSE(effects->updateEffect(handle, params, 16));

  const RenderView view = camera();
  effects->submitEffectsModel(view);
  ASSERT_GE(effects->effectsEntity(), 0);
  manager->renderScene(&view, 0xb);
  const int cx = kWidth / 2;
  const int cy = kHeight / 2;
  // 8 units either side at 64 units away: 16 of the 128 pixels of half the width.
  EXPECT_TRUE(near(at(cx, cy), kGreen)) << console.text;
  EXPECT_TRUE(near(at(cx + 12, cy - 12), kGreen));
  EXPECT_TRUE(near(at(cx + 22, cy), kBlue)) << "outside the sprite";
  EXPECT_TRUE(near(at(cx - 80, cy), kGreen)) << "the quad on the left";
  EXPECT_TRUE(near(at(cx + 80, cy), kBlue));
  EXPECT_TRUE(near(at(4, 4), kBlue));

  // The particles move: the next frame draws them where they went.
  Particle* p = effects->effectList()[handle]->segmentInstances[0]->firstParticle();
  ASSERT_NE(p, nullptr);
  p->currentState.position = Vec3(64, 0, 30);
  clear();
  effects->submitEffectsModel(view);
  manager->renderScene(&view, 0xb);
  EXPECT_TRUE(near(at(cx, cy), kBlue));
  EXPECT_TRUE(near(at(cx, cy - 60), kGreen)) << "30 units up: 60 pixels above the middle";

  // Freed, the effect leaves nothing; the entity stays for the next effects.
  effects->freeEffect(handle);
  clear();
  effects->submitEffectsModel(view);
  manager->renderScene(&view, 0xb);
  EXPECT_TRUE(near(at(cx, cy - 60), kBlue));
  EXPECT_TRUE(near(at(cx - 80, cy), kBlue));
  EXPECT_GE(effects->effectsEntity(), 0);
}

}  // namespace
