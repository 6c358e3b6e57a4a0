// The frame around the surface passes, read back from llvmpipe: renderScene's flags (clear to
// "r_clearcolor", lit or unlit), the post-process pass over a "_currentRender" copy, the override
// material, flares.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "effects/effectsmanager.h"
#include "effects/particle.h"
#include "lib/interface/texmanager.h"
#include "lib/interface/convarsystem.h"
#include "lib/interface/effectssystem.h"
#include "lib/interface/renderview.h"
#include "render/backend/framebufferopengl.h"
#include "render/backend/renderbackend.h"
#include "render/device/glextensions.h"
#include "render/material/material.h"
#include "render/model/basemodel.h"
#include "render/model/geometryedges.h"
#include "render/scene/rendermanager.h"
#include "tests/render/scene/support/managergl.h"

namespace {

using managergl::camera;
using managergl::kHeight;
using managergl::kWidth;
using managergl::near;
using managergl::Rgb;

const Rgb kRed{255, 0, 0};
const Rgb kGreen{0, 255, 0};
const Rgb kBlue{0, 0, 255};
const Rgb kBlack{0, 0, 0};

// One running sprite effect of one particle, drawn by the renderer's own effects model through a
// real effects manager; gone with the object.
struct RunningSprite {
  RunningSprite(RenderSystem* render, Material* m, const Vec3& position = Vec3(64, 0, 0), float size = 8.0f) {
    g_particlePool.relinkAll();
    previousRender = g_renderSystem;
    g_renderSystem = render;
    effects = std::make_unique<EffectsManager>();
    g_effectsSystem = effects.get();
    DeclEffectSegment* s = new DeclEffectSegment("emitter", "p");
    s->type = kSegmentSprite;
    s->particles.material = m;
    s->particles.flags = kSegmentSpawnAtOnce;
    s->count = {1, 1};
    s->duration = {10.0f, 10.0f};
    s->particles.lifetime = {10.0f, 10.0f};
    for (ParticleState* st : {&s->particles.startRange.min, &s->particles.startRange.max,
                              &s->particles.endRange.min, &s->particles.endRange.max}) {
      st->position = position;
      st->tint = Vec3(1, 1, 1);
      st->alpha = 1.0f;
      st->width = size;
      st->length = size;
    }
    decl.segments.append(s);
    params.decl = &decl;
    params.draw = true;
    handle = effects->addEffect(params);
    effects->updateEffect(handle, params, 16);
  }
  ~RunningSprite() {
    free();
    g_effectsSystem = nullptr;
    effects.reset();
    g_particlePool.relinkAll();
    g_renderSystem = previousRender;
  }
  void free() {
    if (handle >= 0)
      effects->freeEffect(handle);
    handle = -1;
  }
  RenderSystem* previousRender = nullptr;
  std::unique_ptr<EffectsManager> effects;
  DeclEffect decl;
  RenderEffectParams params;
  int handle = -1;
};

class FrameGLTest : public managergl::ManagerGLTest {
 protected:
  void TearDown() override {
    if (running()) {
      g_conVarSystem->setString("r_clearcolor", "0 0 0");
      g_conVarSystem->setString("r_skipPostProcess", "0");
      manager->unloadMap();
    }
    ManagerGLTest::TearDown();
  }

  // A quad at x = `x` facing the camera (at the origin, looking down +x), y over [y0, y1] and z
  // over [-half, half]; `flip` turns its front away from the camera.
  BaseModel* quad(Material* m, float x, float y0, float y1, float half, bool flip = false) {
    models.push_back(std::make_unique<BaseModel>());
    BaseModel* model = models.back().get();
    model->init("quad");
    SurfaceGeometry* g = model->allocGeometryForMode(4, 6, kGeometryVertices | kGeometryIndexes, true);
    const float corners[4][2] = {{y1, -half}, {y0, -half}, {y0, half}, {y1, half}};
    for (int i = 0; i < 4; i++) {
      DrawVertex& v = g->verts[i];
      v = DrawVertex{};
      v.xyz[0] = x;
      v.xyz[1] = corners[i][0];
      v.xyz[2] = corners[i][1];
      v.st[0] = float(i == 1 || i == 2);
      v.st[1] = float(i >= 2);
      v.normal[0] = -1.0f;
      std::memset(v.color, 255, 4);
    }
    const int front[6] = {0, 1, 2, 0, 2, 3};
    const int back[6] = {0, 2, 1, 0, 3, 2};
    std::memcpy(g->indexes, flip ? back : front, sizeof(front));
    g->numVerts = 4;
    g->numIndexes = 6;
    g->bounds = Bounds(Vec3(x, y0, -half), Vec3(x, y1, half));
    model->addSurface({m, g, 0});
    return model;
  }

  int add(BaseModel* model) {
    RenderEntity e;
    e.model = model;
    for (float& p : e.shaderParms)
      p = 1.0f;
    return manager->addEntityDef(&e);
  }

  // The camera of every case: at the origin, looking down +x.
  RenderView view = camera();

  // Red on the left half of the view, green on the right, 100 units ahead.
  void redGreenWall() {
    add(quad(material("{\nmap _white\ngreen 0\nblue 0\n}\n"), 100, 0, 200, 200));
    add(quad(material("{\nmap _white\nred 0\nblue 0\n}\n"), 100, -200, 0, 200));
  }
};

TEST_F(FrameGLTest, FlagsChooseTheClearAndTheLitOrUnlitPasses) {
  add(quad(material("{\nmap _white\ngreen 0\nblue 0\n}\n"), 100, -20, 20, 20));
  g_conVarSystem->setString("r_clearcolor", "1 0 1");
  struct Case {
    int flags;
    Rgb corner;  // the background after a blue clear
    Rgb middle;  // where the red quad stands
  };
  const Case cases[] = {
      {0x1b, {255, 0, 255}, kRed},  // clear colour and depth, lit, ambient stages
      {0x0b, kBlue, kRed},          // depth only: the picture under the view stays
      {0x12, {255, 0, 255}, kRed},  // colour only, unlit: every ambient stage
      {0x19, {255, 0, 255}, {255, 0, 255}},  // lit without ambient stages: no light, nothing drawn
      {0x00, kBlue, kBlue},                  // nothing asked, nothing drawn
  };
  for (const Case& c : cases) {
    clearTo(0.0f, 0.0f, 1.0f);
    manager->renderScene(&view, c.flags);
    EXPECT_TRUE(near(at(4, 4), c.corner)) << "flags " << c.flags;
    EXPECT_TRUE(near(at(kWidth / 2, kHeight / 2), c.middle)) << "flags " << c.flags << console.text;
  }
  // Missing components keep black and alpha 1; the caller's clear colour is back to black after.
  g_conVarSystem->setString("r_clearcolor", "0 1");
  clearTo(0.0f, 0.0f, 1.0f);
  manager->renderScene(&view, 0x1b);
  EXPECT_TRUE(near(at(4, 4), kGreen));
  manager->clearScreen();
  EXPECT_TRUE(near(at(4, 4), kBlack));
}

TEST_F(FrameGLTest, PostProcessStageDrawsTheCopiedFrameBehindIt) {
  redGreenWall();
  // A panel across the middle that shows the frame at half brightness, looked up in
  // "_currentRender" where the panel stands on the screen.
  Material* tint = material(
      "translucent\n{\nmap _currentRender\ntexgen view\nrgb 0.5\n}\n");
  ASSERT_NE(tint->extraFlags & kExtraPostProcess, 0u);
  add(quad(tint, 50, -20, 20, 20));
  const int before = manager->postProcessDrawn();
  manager->renderScene(&view, 0x1b);
  EXPECT_EQ(manager->postProcessDrawn(), before + 1);
  const int y = kHeight / 2;
  EXPECT_TRUE(near(at(kWidth / 2 - 20, y), {128, 0, 0}, 6)) << console.text;
  EXPECT_TRUE(near(at(kWidth / 2 + 20, y), {0, 128, 0}, 6));
  EXPECT_TRUE(near(at(10, y), kRed)) << "outside the panel the frame is untouched";
  EXPECT_TRUE(near(at(kWidth - 10, y), kGreen));

  // Without the post-process pass the stage is cut and the wall shows through untouched.
  g_conVarSystem->setString("r_skipPostProcess", "1");
  manager->renderScene(&view, 0x1b);
  EXPECT_TRUE(near(at(kWidth / 2 - 20, y), kRed));
  EXPECT_TRUE(near(at(kWidth / 2 + 20, y), kGreen));
}

TEST_F(FrameGLTest, OverrideMaterialReplacesEveryOpaqueSurface) {
  redGreenWall();
  // A translucent surface is not opaque and keeps out of the override.
  add(quad(material("translucent\n{\nblendfunc add\nmap _white\nrgb 0.5\n}\n"), 50, -10, 10, 10));
  view.overrideMaterial = material("{\nmap _white\nred 0\ngreen 0\nblue 1\n}\n");
  manager->renderScene(&view, 0x1b);
  EXPECT_TRUE(near(at(10, kHeight / 2), kBlue)) << console.text;
  EXPECT_TRUE(near(at(kWidth - 10, kHeight / 2), kBlue));
  EXPECT_TRUE(near(at(kWidth / 2 - 2, kHeight / 2), kBlue)) << "the translucent panel is not drawn";
  view.overrideMaterial = nullptr;
  manager->renderScene(&view, 0x1b);
  EXPECT_TRUE(near(at(10, kHeight / 2), kRed));
  EXPECT_FALSE(near(at(kWidth / 2 - 2, kHeight / 2), kRed)) << "the panel adds over the wall";
}

TEST_F(FrameGLTest, FlareGlowsAroundItsQuadAndOnlyFromTheFront) {
  // A 4-unit quad 100 units ahead with a flare 16 units wide, fading to its outer edge; culled as
  // its quad is, so it must face where the quad faces.
  Material* flare = material("deform flare 16\n{\nblendfunc add\nmap _white\nvertexColor\n}\n");
  add(quad(flare, 100, -2, 2, 2));
  const int before = manager->flaresDrawn();
  manager->renderScene(&view, 0x1b);
  EXPECT_EQ(manager->flaresDrawn(), before + 1) << console.text;
  const Rgb centre = at(kWidth / 2, kHeight / 2);
  EXPECT_GT(centre.sum(), 700) << "white at the quad";
  // 10 units beside the quad's edge (about 13 pixels at this distance): inside the fade.
  const Rgb fade = at(kWidth / 2 + 15, kHeight / 2);
  EXPECT_GT(fade.sum(), 30);
  EXPECT_LT(fade.sum(), centre.sum());
  EXPECT_TRUE(near(at(kWidth / 2 + 60, kHeight / 2), kBlack)) << "beyond the flare's size";

  // Seen from behind its quad the flare is not built.
  manager->unloadMap();
  add(quad(flare, 100, -2, 2, 2, true));
  manager->renderScene(&view, 0x1b);
  EXPECT_EQ(manager->flaresDrawn(), before + 1);
  EXPECT_TRUE(near(at(kWidth / 2 + 15, kHeight / 2), kBlack));

  // A flare surface that is not made of quads warns and draws nothing.
  manager->unloadMap();
  BaseModel* odd = quad(flare, 100, -2, 2, 2);
  odd->getSurface(0)->geometry->numIndexes = 3;
  add(odd);
  manager->renderScene(&view, 0x1b);
  EXPECT_NE(console.text.find("WARNING: odd index count for flare.."), std::string::npos);
}

// A sprite particle seen in a mirror is turned to the mirror's own view. The mirror stands at 45
// degrees, so its view looks along -y: a sprite built for the main view (square to x) would show
// edge-on in it; built for the mirror's view it shows whole.
TEST_F(FrameGLTest, MirrorsShowSpritesTurnedToTheirOwnView) {
  // The mirror: through (100, 0, 0), facing (-1, -1, 0), 60 units across and high.
  BaseModel* mirror = quad(material("{\n{\nmirrorRenderMap 256 256\n}\n}\n"), 100, -30, 30, 30);
  SurfaceGeometry* g = mirror->getSurface(0)->geometry;
  const float h = 30.0f * 0.70710678f;
  for (int i = 0; i < 4; ++i) {
    const float across = g->verts[i].xyz[1] > 0.0f ? 1.0f : -1.0f;  // +y corners move to -x
    g->verts[i].xyz[0] = 100.0f - across * h;
    g->verts[i].xyz[1] = across * h;
  }
  g->bounds = Bounds(Vec3(100 - h, -h, -30), Vec3(100 + h, h, 30));
  add(mirror);
  // On the right of the view, and in the mirror's middle.
  RunningSprite sprite(manager.get(), material("twoSided\n{\nred 0\ngreen 1\nblue 0\n}\n"), Vec3(100, -50, 0),
                       16.0f);
  manager->renderScene(&view, 0x1b);
  EXPECT_EQ(manager->subviewsDrawn(), 1) << console.text;
  EXPECT_TRUE(near(at(192, kHeight / 2), kGreen, 12)) << "the sprite itself, facing the camera";
  int mirrored = 0;
  for (int x = 112; x <= 144; ++x)
    mirrored += near(at(x, kHeight / 2), kGreen, 40);
  EXPECT_GT(mirrored, 8) << "facing the mirror's eye, it shows across the mirror's middle";
}

// The renderer builds the effects of each view itself: a running effect shows without the game
// ever handing the renderer an effects model or entity.
TEST_F(FrameGLTest, RunningEffectsDrawWithoutBeingSubmitted) {
  RunningSprite sprite(manager.get(), material("{\n{\nred 0\ngreen 1\nblue 0\n}\n}\n"));
  manager->renderScene(&view, 0x1b);
  EXPECT_TRUE(near(at(kWidth / 2, kHeight / 2), kGreen)) << console.text;
  EXPECT_TRUE(near(at(kWidth / 2 + 40, kHeight / 2), kBlack));
  EXPECT_LT(sprite.effects->effectsEntity(), 0) << "no entity was submitted";
  // Freed, the next view's model is empty again.
  sprite.free();
  manager->renderScene(&view, 0x1b);
  EXPECT_TRUE(near(at(kWidth / 2, kHeight / 2), kBlack));
}

// Effects with lit materials (a model emitter's crates) are lit by the lights that reach them, like
// any entity: a sprite drawn only by a diffuse stage is black without a light and bright under one.
class LitEffectsGLTest : public managergl::ManagerGLTest {
 protected:
  LitEffectsGLTest() : ManagerGLTest(stage()) {}
  static managergl::Stage stage() {
    managergl::Stage s;
    s.programFolder = std::string(QUILL_SOURCE_DIR) + "/demo/media/glprogs";
    return s;
  }
  RenderView view = camera();
};

TEST_F(LitEffectsGLTest, AnEffectsLitStagesAreLitByTheLightsThatReachIt) {
  RunningSprite sprite(manager.get(), material("diffusemap _white\n"));
  manager->renderScene(&view, 0x1b);
  EXPECT_LT(at(kWidth / 2, kHeight / 2).sum(), 10) << console.text;
  RenderLight l;
  l.origin = Vec3(32, 0, 0);
  l.radius = Vec3(200, 200, 200);
  l.material = material("lightFalloffImage _white\n{\nmap _white\ncolored\n}\n");
  for (int i = 0; i < 4; i++)
    l.shaderParms[i] = 1.0f;
  manager->addLightDef(&l);
  manager->renderScene(&view, 0x1b);
  EXPECT_GT(at(kWidth / 2, kHeight / 2).sum(), 300) << console.text;
  EXPECT_LT(at(kWidth / 2 + 40, kHeight / 2).sum(), 10) << "only the sprite";
}

// The owner's callback poses the entity for each view (here: it slides with the view's time), and
// the renderer keeps the entity's slot index in its stored parameters.
bool slideWithTime(RenderEntity* entity, const RenderView* view) {
  int* calls = static_cast<int*>(entity->callbackData);
  ++*calls;
  entity->origin = Vec3(100.0f, view->time == 0 ? 40.0f : -40.0f, 0.0f);
  return true;
}

TEST_F(FrameGLTest, EntityCallbackPosesItForEachViewAndTheSlotIndexIsKept) {
  add(quad(material("{\nmap _white\nred 0\nblue 0\n}\n"), 200, -300, 300, 300));  // green far wall
  RenderEntity e;
  e.model = quad(material("{\nmap _white\ngreen 0\nblue 0\n}\n"), 0, -10, 10, 10);  // red, at x 0
  for (float& p : e.shaderParms)
    p = 1.0f;
  int calls = 0;
  e.callback = slideWithTime;
  e.callbackData = &calls;
  const int index = manager->addEntityDef(&e);
  ASSERT_NE(manager->getRenderEntity(index), nullptr);
  EXPECT_EQ(manager->getRenderEntity(index)->entityIndex, index);
  // Without the callback the quad would stand at the eye; it is drawn where the callback put it.
  manager->renderScene(&view, 0x1b);
  EXPECT_EQ(calls, 1);
  const int left = kWidth / 2 - int(40.0f / 100.0f * kWidth / 2);
  const int right = kWidth / 2 + int(40.0f / 100.0f * kWidth / 2);
  EXPECT_TRUE(near(at(left, kHeight / 2), kRed)) << console.text;
  EXPECT_TRUE(near(at(right, kHeight / 2), kGreen));
  view = camera(1000);
  manager->renderScene(&view, 0x1b);
  EXPECT_EQ(calls, 2);
  EXPECT_TRUE(near(at(right, kHeight / 2), kRed));
  EXPECT_TRUE(near(at(left, kHeight / 2), kGreen));
  // An update keeps the index (the caller's copy says -1).
  RenderEntity next = e;
  EXPECT_EQ(next.entityIndex, -1);
  manager->updateEntityDef(index, &next);
  EXPECT_EQ(manager->getRenderEntity(index)->entityIndex, index);
}

// getImageData reads what the texture manager holds: built-in and generated images too.
TEST_F(FrameGLTest, ImageDataReadsBuiltInAndGeneratedImages) {
  std::vector<uint8_t> pixels(128 * 128 * 4, 0x11);
  int w = 0, h = 0, bpp = 0;
  ASSERT_TRUE(manager->getImageData("_white", pixels.data(), int(pixels.size()), &w, &h, &bpp)) << console.text;
  ASSERT_GT(w * h, 0);
  EXPECT_EQ(pixels[0], 255);
  EXPECT_EQ(pixels[size_t(w * h * bpp / 8) - 1], 255);
  ASSERT_TRUE(manager->getImageData("_fog", pixels.data(), int(pixels.size()), &w, &h, &bpp));
  EXPECT_EQ(w, 128);
  EXPECT_EQ(h, 128);
  EXPECT_EQ(bpp, 32);
  // The fog's density grows from its middle outwards.
  const size_t middle = (size_t(64) * 128 + 64) * 4 + 3;
  EXPECT_LT(pixels[middle], 16);
  EXPECT_GT(pixels[3], 200);
  // One byte short of the fog: all but its last byte, and false.
  std::vector<uint8_t> small(128 * 128 * 4 - 1, 0);
  EXPECT_FALSE(manager->getImageData("_fog", small.data(), int(small.size()), &w, &h, &bpp));
  EXPECT_GT(small[3], 200);
}

// A model whose edges change with its counts kept (a reload) does not freeze its entities: the
// instance is made again and follows the entity.
TEST_F(FrameGLTest, AnEntityFollowsItsModelWhenTheModelsEdgesChange) {
  BaseModel* model = quad(material("{\nmap _white\ngreen 0\nblue 0\n}\n"), 0, -10, 10, 10);
  RenderEntity e;
  e.model = model;
  e.origin = Vec3(100, 40, 0);
  for (float& p : e.shaderParms)
    p = 1.0f;
  const int index = manager->addEntityDef(&e);
  const int left = kWidth / 2 - int(40.0f / 100.0f * kWidth / 2);
  const int right = kWidth / 2 + int(40.0f / 100.0f * kWidth / 2);
  manager->renderScene(&view, 0x1b);
  ASSERT_TRUE(near(at(left, kHeight / 2), kRed));
  SurfaceGeometry* g = model->getSurface(0)->geometry;
  const int edgesBefore = g->numEdges;
  buildGeometryEdges(g);
  ASSERT_NE(g->numEdges, edgesBefore);
  e.origin = Vec3(100, -40, 0);
  manager->updateEntityDef(index, &e);
  manager->renderScene(&view, 0x1b);
  EXPECT_TRUE(near(at(right, kHeight / 2), kRed)) << console.text;
  EXPECT_TRUE(near(at(left, kHeight / 2), kBlack));
}

// "r_skipMainRender" draws nothing into the main view, debug primitives included; a missing
// render target switches the mirror and glow paths off through their variables.
TEST_F(FrameGLTest, SkippedMainViewAndMissingTargets) {
  add(quad(material("{\nmap _white\ngreen 0\nblue 0\n}\n"), 100, -20, 20, 20));
  static const float kGreenF[4] = {0, 1, 0, 1};
  manager->debugLine(kGreenF, Vec3(64, 60, -10), Vec3(64, -60, -10), 0, false);
  g_conVarSystem->setString("r_skipMainRender", "1");
  clearTo(0.0f, 0.0f, 1.0f);
  manager->renderScene(&view, 0x1b);
  g_conVarSystem->setString("r_skipMainRender", "0");
  EXPECT_TRUE(near(at(kWidth / 2, kHeight / 2), kBlue)) << console.text;
  EXPECT_TRUE(near(at(4, 4), kBlue)) << "not even cleared";
  int greens = 0;
  for (int y = kHeight / 2; y < kHeight; ++y)
    greens += near(at(kWidth / 4, y), kGreen, 40);
  EXPECT_EQ(greens, 0) << "no debug line in a skipped view";
  manager->renderScene(&view, 0x1b);
  EXPECT_TRUE(near(at(kWidth / 2, kHeight / 2), kRed));
  for (int y = kHeight / 2; y < kHeight; ++y)
    greens += near(at(kWidth / 4, y), kGreen, 40);
  EXPECT_GT(greens, 0) << "the line draws into a view that is not skipped";

  // Half the window's sides, but 256 for sides below 512.
  ASSERT_NE(manager->shadowMaskTarget(), nullptr);
  EXPECT_EQ(manager->shadowMaskTarget()->targetWidth(), 256);
  EXPECT_EQ(manager->shadowMaskTarget()->targetHeight(), 256);
  g_conVarSystem->setString("r_skipMirrorMaps", "0");
  g_conVarSystem->setString("r_skipBloomFilter", "0");
  manager->renderScene(&view, 0x1b);
  EXPECT_EQ(g_conVarSystem->getInt("r_skipMirrorMaps"), 0);
  manager->freeGlowTargets();
  manager->renderScene(&view, 0x1b);
  EXPECT_EQ(g_conVarSystem->getInt("r_skipMirrorMaps"), 1);
  EXPECT_EQ(g_conVarSystem->getInt("r_skipBloomFilter"), 1);
  manager->createGlowTargets();
  g_conVarSystem->setString("r_skipMirrorMaps", "0");
  g_conVarSystem->setString("r_skipBloomFilter", "0");
}

// The light pass clears the "_shadowMask" target's depth once (when the target is next bound); an
// unlit view has no light pass and leaves it. The bloom targets were offered the mask's depth
// buffer, which is larger than they are: they keep none, stay complete and the glow still draws
// through them.
TEST_F(FrameGLTest, TheShadowMaskDepthIsClearedByTheLightPassAndTheBloomTargetsKeepNoDepth) {
  FrameBufferOpenGL* mask = manager->shadowMaskTarget();
  ASSERT_NE(mask, nullptr);
  auto fillMaskDepth = [&](float value) {
    ASSERT_TRUE(mask->pushRenderTarget(true));
    qgl::glClearDepth(value);
    g_renderBackEnd.clear(false, true);
    qgl::glClearDepth(1.0);
    FrameBufferObject::popRenderTarget();
  };
  auto maskDepth = [&]() {
    float depth = -1.0f;
    EXPECT_TRUE(mask->pushRenderTarget(true));
    qgl::glReadPixels(mask->targetWidth() / 2, mask->targetHeight() / 2, 1, 1, GL_DEPTH_COMPONENT, GL_FLOAT,
                      &depth);
    FrameBufferObject::popRenderTarget();
    return depth;
  };
  add(quad(material("{\nmap _white\n}\n"), 100, -20, 20, 20));
  fillMaskDepth(0.25f);
  manager->renderScene(&view, 0x12);
  EXPECT_NEAR(maskDepth(), 0.25f, 1e-3f) << "no light pass in an unlit view";
  manager->renderScene(&view, 0x1b);
  EXPECT_NEAR(maskDepth(), 1.0f, 1e-3f) << console.text;

  for (FrameBufferOpenGL* bloom : {manager->bloomTarget(0), manager->bloomTarget(1)}) {
    ASSERT_NE(bloom, nullptr);
    EXPECT_EQ(bloom->getDepthRenderbuffer(), -1);
    EXPECT_FALSE(bloom->ownsDepth());
    EXPECT_EQ(bloom->checkStatus(true), GL_FRAMEBUFFER_COMPLETE_EXT) << console.text;
  }
}

// Surfaces without geometry are skipped with a message: in the view's passes, and as shadow
// casters unless their material casts no shadows.
TEST_F(FrameGLTest, SurfacesWithoutGeometryAreSkippedWithAMessage) {
  Material* plain = material("{\nmap _white\n}\n");
  BaseModel* empty = quad(plain, 100, -20, 20, 20);
  // The surface loses its geometry (the model keeps it and frees it with itself).
  empty->getSurface(0)->geometry = nullptr;
  add(empty);
  manager->renderScene(&view, 0x1b);
  EXPECT_NE(console.text.find("RenderManager::isInView: null model??"), std::string::npos) << console.text;

  RenderLight l;
  l.origin = Vec3(50, 0, 0);
  l.radius = Vec3(100, 100, 100);
  l.flags = kLightShadows;
  const int light = manager->addLightDef(&l);
  console.text.clear();
  const ModelSurface bare{plain, nullptr, 0};
  manager->drawShadowVolume(manager->lightRecord(light), &bare, 0);
  EXPECT_NE(console.text.find("WARNING: null model??"), std::string::npos);
  console.text.clear();
  const ModelSurface quiet{material("noShadows\n{\nmap _white\n}\n"), nullptr, 0};
  manager->drawShadowVolume(manager->lightRecord(light), &quiet, 0);
  EXPECT_EQ(console.text.find("null model"), std::string::npos);
}

TEST_F(FrameGLTest, SurfacesOfOneMaterialShareItsStateButEachDrawsItsOwnGeometryAndParameters) {
  // Six quads side by side, listed in this order: three of a constant red material (the middle one
  // drawn in front of the world, which breaks the run), two of a material coloured by each entity's
  // parameters, and the red material once more.
  Material* red = material("{\nmap _white\ngreen 0\nblue 0\n}\n");
  Material* byParms = material("{\nmap _white\nred 0\ngreen parm0\nblue parm1\n}\n");
  struct Quad {
    Material* material;
    float parm0, parm1;
    bool depthHack;
    Rgb expected;
  };
  const Quad quads[] = {
      {red, 1, 1, false, kRed},       {red, 1, 1, true, kRed},       {red, 1, 1, false, kRed},
      {byParms, 1, 0, false, kGreen}, {byParms, 0, 1, false, kBlue}, {red, 1, 1, false, kRed},
  };
  for (int i = 0; i < 6; i++) {
    const float y = 90.0f - 30.0f * float(i);
    RenderEntity e;
    e.model = quad(quads[i].material, 100, y - 30.0f, y, 20);
    for (float& p : e.shaderParms)
      p = 1.0f;
    e.shaderParms[0] = quads[i].parm0;
    e.shaderParms[1] = quads[i].parm1;
    e.reserved4 = quads[i].depthHack ? 1 : 0;
    manager->addEntityDef(&e);
  }
  for (int frame = 0; frame < 2; frame++) {
    clearTo(0.0f, 0.0f, 0.0f);
    manager->renderScene(&view, 0x1b);
    for (int i = 0; i < 6; i++) {
      // 100 units ahead with a 90 degree view, y = 100 is the left edge.
      const float centre = 75.0f - 30.0f * float(i);
      const int x = int(float(kWidth) * 0.5f * (1.0f - centre / 100.0f));
      EXPECT_TRUE(near(at(x, kHeight / 2), quads[i].expected)) << "frame " << frame << " quad " << i;
    }
    EXPECT_TRUE(near(at(kWidth / 2, 4), kBlack)) << "nothing above the quads";
  }
}

TEST_F(FrameGLTest, EntitiesDrawnInFrontOfTheWorldStayInFrontThroughoutARun) {
  // A grey wall near the camera over the left half, then three red quads behind it that are drawn
  // in front of the world, listed one after another.
  add(quad(material("{\nmap _white\nrgb 0.5\n}\n"), 50, 0, 100, 100));
  Material* red = material("{\nmap _white\ngreen 0\nblue 0\n}\n");
  for (int i = 0; i < 3; i++) {
    const float y = 90.0f - 30.0f * float(i);
    RenderEntity e;
    e.model = quad(red, 100, y - 30.0f, y, 20);
    for (float& p : e.shaderParms)
      p = 1.0f;
    e.reserved4 = 1;
    manager->addEntityDef(&e);
  }
  manager->renderScene(&view, 0x1b);
  for (int i = 0; i < 3; i++) {
    const float centre = 75.0f - 30.0f * float(i);
    const int x = int(float(kWidth) * 0.5f * (1.0f - centre / 100.0f));
    EXPECT_TRUE(near(at(x, kHeight / 2), kRed)) << "quad " << i << console.text;
  }
  EXPECT_TRUE(near(at(kWidth / 4, kHeight / 2 + 40), {128, 128, 128}, 4)) << "the wall around them";
}

}  // namespace
