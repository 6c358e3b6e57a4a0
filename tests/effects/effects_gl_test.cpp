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
#include "tests/support/capturecmdsystem.h"
#include "tests/support/memoryiosystem.h"

namespace {

constexpr int kWidth = 256;
constexpr int kHeight = 192;

const char* kUnlitProgram =
    "!!ARBvp1.0\n"
    "PARAM mvp[4] = { state.matrix.mvp };\n"
    "PARAM tm[4] = { state.matrix.texture[0] };\n"
    "PARAM mul = program.env[16];\n"
    "PARAM add = program.env[17];\n"
    "DP4 result.position.x, mvp[0], vertex.position;\n"
    "DP4 result.position.y, mvp[1], vertex.position;\n"
    "DP4 result.position.z, mvp[2], vertex.position;\n"
    "DP4 result.position.w, mvp[3], vertex.position;\n"
    "MAD result.color, vertex.color, mul, add;\n"
    "DP4 result.texcoord[0].x, tm[0], vertex.texcoord[0];\n"
    "DP4 result.texcoord[0].y, tm[1], vertex.texcoord[0];\n"
    "MOV result.texcoord[0].zw, vertex.texcoord[0];\n"
    "END\n";

struct Rgb {
  int r, g, b;
};

class EffectsGLTest : public ::testing::Test {
 protected:
  void SetUp() override {
    io.addFile("glprogs/unlit.vp", kUnlitProgram);
    getConVarManager();
    g_conVarSystem->setInt("r_viewwidth", kWidth);
    g_conVarSystem->setInt("r_viewheight", kHeight);
    window = platformGLCreateHiddenWindow(kWidth, kHeight, 32);
    device = std::make_unique<RenderOpenGL>();
    if (window == nullptr || !device->init(window, nullptr, 0)) {
      const std::string why = window == nullptr ? platformGLError() : "device init failed";
      if (std::getenv("CI") != nullptr) {
        FAIL() << "no GL context under CI: " << why;
      }
      GTEST_SKIP() << "no GL context: " << why;
    }
    g_renderInterface = device.get();
    ASSERT_NE(TexMgrInfo::getInstance(), nullptr);
    getRenderModelSystem();
    manager = std::make_unique<RenderManager>();
    ASSERT_TRUE(manager->init());
    previousRender = g_renderSystem;
    g_renderSystem = manager.get();
    g_particlePool.relinkAll();
    clear();
  }

  void TearDown() override {
    effects.reset();
    g_particlePool.relinkAll();
    if (device == nullptr || g_renderInterface == nullptr) {
      destroyConVarManager();
      return;
    }
    g_renderSystem = previousRender;
    manager.reset();
    decl.reset();
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

  void clear() {
    device->setClearColor(0.0f, 0.0f, 1.0f, 1.0f);
    manager->clearScreen();
  }

  Material* material(const char* body) {
    materials.push_back(std::make_unique<Material>());
    Material* m = materials.back().get();
    EXPECT_TRUE(m->parse(body, static_cast<int>(std::strlen(body)))) << body;
    return m;
  }

  Rgb at(int x, int y) {
    unsigned char p[4] = {};
    device->readPixels(p, x, kHeight - 1 - y, 1, 1, kPixelFormatRGBA);
    return {p[0], p[1], p[2]};
  }

  static bool near(Rgb a, Rgb b) {
    return std::abs(a.r - b.r) <= 2 && std::abs(a.g - b.g) <= 2 && std::abs(a.b - b.b) <= 2;
  }

  // A camera at the origin looking down +x with a 90 degree field of view across.
  static RenderView camera() {
    RenderView v;
    v.width = 640;
    v.height = 480;
    v.fovX = 90.0f;
    v.fovY = 73.74f;
    v.axis = Mat3(Vec3(1, 0, 0), Vec3(0, 1, 0), Vec3(0, 0, 1));
    return v;
  }

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

  MemoryIOSystem io;
  CaptureCmdSystem console;
  void* window = nullptr;
  RenderSystem* previousRender = nullptr;
  std::unique_ptr<RenderOpenGL> device;
  std::unique_ptr<RenderManager> manager;
  std::vector<std::unique_ptr<Material>> materials;
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
  manager->renderScene(&view, 0);
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
  manager->renderScene(&view, 0);
  EXPECT_TRUE(near(at(cx, cy), kBlue));
  EXPECT_TRUE(near(at(cx, cy - 60), kGreen)) << "30 units up: 60 pixels above the middle";

  // Freed, the effect leaves nothing; the entity stays for the next effects.
  effects->freeEffect(handle);
  clear();
  effects->submitEffectsModel(view);
  manager->renderScene(&view, 0);
  EXPECT_TRUE(near(at(cx, cy - 60), kBlue));
  EXPECT_TRUE(near(at(cx - 80, cy), kBlue));
  EXPECT_GE(effects->effectsEntity(), 0);
}

}  // namespace
