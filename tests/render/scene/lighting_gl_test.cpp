// Per-light drawing on llvmpipe with the engine's own interaction and shadow programs: a lit wall is
// brighter near its light, a light's scissor rectangle limits it, a box between a light and the wall
// leaves a stencil shadow, fog volumes tint what they hold.
#include "tests/render/scene/support/lightinggl.h"

namespace {

using lightinggl::kHeight;
using lightinggl::kWidth;
using lightinggl::LeftRightWorld;
using lightinggl::LightingGLTest;
using lightinggl::Rgb;

TEST_F(LightingGLTest, AWallIsBrighterNearItsLightAndBlackWithoutOne) {
  addEntity(box(wallMaterial, Vec3(100, -80, -60), Vec3(104, 80, 60)));
  // No light: the wall has only interaction stages and stays black.
  render();
  EXPECT_LT(atWorld(Vec3(100, 30, 0)).sum(), 10) << console.text;
  // A light close to the wall's left part.
  const int light = addLight(Vec3(80, 30, 0), Vec3(300, 300, 300), 0);
  render();
  const Rgb nearSide = atWorld(Vec3(100, 30, 0));
  const Rgb farSide = atWorld(Vec3(100, -60, 0));
  EXPECT_GT(nearSide.sum(), 300) << console.text;
  EXPECT_GT(nearSide.sum(), farSide.sum() + 150);
  EXPECT_GT(manager->surfacesDrawn(), 0);
  // A second light on the other side adds up there.
  addLight(Vec3(80, -60, 0), Vec3(300, 300, 300), 0);
  render();
  EXPECT_GT(atWorld(Vec3(100, -60, 0)).sum(), farSide.sum() + 150);
  EXPECT_GT(atWorld(Vec3(100, 30, 0)).sum(), 300);
  // "r_skipLights" leaves the wall black again.
  g_conVarSystem->setInt("r_skipLights", 1);
  render();
  EXPECT_LT(atWorld(Vec3(100, 30, 0)).sum(), 10);
  g_conVarSystem->setInt("r_skipLights", 0);
  manager->freeLightDef(light);
}

TEST_F(LightingGLTest, TheScissorRectangleOfTheLightsAreasLimitsIt) {
  LeftRightWorld world;
  g_spatialSystem = &world;
  addEntity(box(wallMaterial, Vec3(100, -80, -60), Vec3(104, 80, 60)));
  // The light's box lies in area 0 (y 10..70); the camera stands in area 1.
  addLight(Vec3(80, 40, 0), Vec3(300, 30, 300), 0);
  // Area 0 covers only the left quarter of the screen.
  world.leftRect = Bounds(Vec3(0, 0, 0), Vec3(0.25f, 1, 1));
  render(Vec3(0, -0.5f, 0));
  const int quarter = kWidth / 4;
  EXPECT_GT(at(quarter - 6, kHeight / 2).sum(), 150) << console.text;
  EXPECT_LT(at(quarter + 6, kHeight / 2).sum(), 10);
  // Without scissoring the same light reaches past the quarter.
  g_conVarSystem->setInt("r_useScissor", 0);
  render(Vec3(0, -0.5f, 0));
  EXPECT_GT(at(quarter + 6, kHeight / 2).sum(), 150);
  g_conVarSystem->setInt("r_useScissor", 1);
}

// Unlit stages keep to their area's rectangle too: a white wall standing in area 0, seen from
// area 1, shows only where area 0's rectangle lies; without scissoring all of it shows.
TEST_F(LightingGLTest, AmbientStagesKeepToTheirAreasRectangle) {
  LeftRightWorld world;
  g_spatialSystem = &world;
  addEntity(box(material("{\nmap _white\n}\n"), Vec3(100, 5, -60), Vec3(104, 80, 60)));
  world.leftRect = Bounds(Vec3(0, 0, 0), Vec3(0.25f, 1, 1));
  const int quarter = kWidth / 4;
  struct Case {
    int useScissor;
    int viewFlags;
  };
  for (const Case c : {Case{1, 0xb}, Case{1, 0x2}, Case{0, 0xb}}) {
    SCOPED_TRACE(testing::Message() << "r_useScissor " << c.useScissor << ", flags " << c.viewFlags);
    g_conVarSystem->setInt("r_useScissor", c.useScissor);
    render(Vec3(0, -0.5f, 0), c.viewFlags);
    EXPECT_GT(at(quarter - 6, kHeight / 2).sum(), 600) << console.text;
    if (c.useScissor)
      EXPECT_LT(at(quarter + 6, kHeight / 2).sum(), 10);
    else
      EXPECT_GT(at(quarter + 6, kHeight / 2).sum(), 600);
  }
  // Area 0 off the screen: nothing of it is drawn, neither the first of its surfaces nor the next.
  addEntity(box(material("{\nmap _white\n}\n"), Vec3(120, 10, -60), Vec3(124, 40, 60)));
  g_conVarSystem->setInt("r_useScissor", 1);
  world.leftRect = Bounds();
  render(Vec3(0, -0.5f, 0));
  EXPECT_LT(at(quarter - 6, kHeight / 2).sum(), 10);
  EXPECT_EQ(manager->surfacesDrawn(), 0);
}

TEST_F(LightingGLTest, ABoxBetweenTheLightAndTheWallLeavesAShadow) {
  addEntity(box(wallMaterial, Vec3(100, -80, -60), Vec3(104, 80, 60)));
  addEntity(box(wallMaterial, Vec3(66, -4, 11), Vec3(74, 4, 19)));
  addLight(Vec3(40, 0, 30), Vec3(300, 300, 300), kLightShadows);
  const Vec3 inShadow(100, 0, 0);
  const Vec3 lit(100, 0, -30);
  const Vec3 litSide(100, 30, 0);
  for (int shadows : {1, 0}) {
    SCOPED_TRACE(shadows ? "stencil shadows" : "shadows off");
    g_conVarSystem->setInt("r_shadows", shadows);
    render();
    EXPECT_GT(atWorld(lit).sum(), 250) << console.text;
    EXPECT_GT(atWorld(litSide).sum(), 250);
    if (shadows) {
      EXPECT_LT(atWorld(inShadow).sum(), 40);
      EXPECT_GT(manager->shadowTrianglesDrawn(), 0);
    } else {
      EXPECT_GT(atWorld(inShadow).sum(), 250);
    }
  }
  g_conVarSystem->setInt("r_shadows", 1);

  // A camera inside the shadow volume (between the box and the wall) still sees the shadow: the
  // volume is counted depth-fail with caps. (100, 0, 2) is shadowed, (100, 12, 2) lit.
  render(Vec3(85, 0, 8));
  EXPECT_LT(at(kWidth / 2, 147).sum(), 40) << "viewer inside the volume";
  EXPECT_GT(at(25, 147).sum(), 250);
  // A box that owns the light casts no shadow from it.
  RenderLight owned = *manager->getLightDef(0);
  owned.ownerId = 2;  // entity slot 1, plus one
  manager->updateLightDef(0, &owned);
  render();
  EXPECT_GT(atWorld(inShadow).sum(), 250);
}

}  // namespace

namespace {

TEST_F(LightingGLTest, AFogVolumeTintsWhatItHolds) {
  addEntity(box(wallMaterial, Vec3(100, -80, -60), Vec3(104, 80, 60)));
  // A blue fog box around the left part of the wall (y 10..70); no ordinary light.
  RenderLight fog;
  fog.shape = 2;
  fog.kind = 2;
  fog.origin = Vec3(100, 40, 0);
  fog.radius = Vec3(20, 30, 80);
  fog.material = lightMaterial;
  fog.shaderParms[2] = 1.0f;
  fog.shaderParms[3] = 1.0f;
  manager->addLightDef(&fog);
  render();
  const Rgb inside = atWorld(Vec3(100, 40, 0));
  const Rgb outside = atWorld(Vec3(100, -40, 0));
  EXPECT_GT(inside.b, 100) << console.text;
  EXPECT_LT(inside.r, 30);
  EXPECT_LT(outside.sum(), 10);
  // "r_skipFogLights" leaves it out.
  g_conVarSystem->setInt("r_skipFogLights", 1);
  render();
  EXPECT_LT(atWorld(Vec3(100, 40, 0)).sum(), 10);
  g_conVarSystem->setInt("r_skipFogLights", 0);
}

}  // namespace

namespace {

// A fog volume whose material is not a blend light thickens with distance from the viewer: the
// farther of two walls inside it is tinted more; a blend light's fog keeps its own box planes.
TEST_F(LightingGLTest, FogThickensWithDistanceFromTheViewer) {
  addEntity(box(wallMaterial, Vec3(60, 5, -40), Vec3(62, 60, 40)));
  addEntity(box(wallMaterial, Vec3(150, -120, -40), Vec3(152, -5, 40)));
  RenderLight fog;
  fog.shape = 2;
  fog.kind = 2;
  fog.origin = Vec3(100, 0, 0);
  fog.radius = Vec3(120, 150, 100);
  fog.material = material("lightFalloffImage _quadratic\n{\nmap _white\ncolored\n}\n");
  fog.shaderParms[2] = 1.0f;
  fog.shaderParms[3] = 1.0f;
  const int index = manager->addLightDef(&fog);
  manager->lightRecord(index)->fogDistance = 200.0f;
  render();
  const Rgb nearWall = atWorld(Vec3(60, 30, 0));
  const Rgb farWall = atWorld(Vec3(150, -60, 0));
  // (1 - 60 / 200)^2 and (1 - 150 / 200)^2 of full blue, through the ramp's 16 texels.
  EXPECT_LT(nearWall.b, 60) << console.text;
  EXPECT_GT(farWall.b, 100);
  EXPECT_GT(farWall.b, nearWall.b + 60);
  EXPECT_LT(farWall.r, 10);

  // The same fog as a blend light: the falloff runs along the box's own third axis (z 0 here for
  // both walls), so both walls take the same tint.
  fog.material = material("blendLight\nlightFalloffImage _quadratic\n{\nmap _white\ncolored\n}\n");
  manager->updateLightDef(index, &fog);
  render();
  EXPECT_NEAR(atWorld(Vec3(60, 30, 0)).b, atWorld(Vec3(150, -60, 0)).b, 6);
}

}  // namespace

namespace {

// A fog takes its light material's blend: a black fog laid over a lit room hides the far wall more
// than the near one; the same fog with an additive stage adds nothing.
TEST_F(LightingGLTest, BlackFogHidesALitWallMoreWithDistance) {
  addEntity(box(wallMaterial, Vec3(60, 5, -40), Vec3(62, 60, 40)));
  addEntity(box(wallMaterial, Vec3(150, -120, -40), Vec3(152, -5, 40)));
  addLight(Vec3(40, 0, 0), Vec3(400, 400, 400), 0);
  render();
  const Rgb nearLit = atWorld(Vec3(60, 30, 0));
  const Rgb farLit = atWorld(Vec3(150, -60, 0));
  ASSERT_GT(nearLit.sum(), 150) << console.text;
  ASSERT_GT(farLit.sum(), 150);

  RenderLight fog;
  fog.shape = 2;
  fog.kind = 2;
  fog.origin = Vec3(100, 0, 0);
  fog.radius = Vec3(120, 150, 100);
  fog.material = material("lightFalloffImage _quadratic\n{\nmap _white\ncolored\n}\n");
  fog.shaderParms[3] = 1.0f;  // black, fully dense where the falloff says so
  const int index = manager->addLightDef(&fog);
  manager->lightRecord(index)->fogDistance = 200.0f;
  render();
  const Rgb nearFog = atWorld(Vec3(60, 30, 0));
  const Rgb farFog = atWorld(Vec3(150, -60, 0));
  EXPECT_LT(farFog.sum(), farLit.sum() * 6 / 10) << console.text;
  EXPECT_GT(nearFog.sum(), nearLit.sum() * 7 / 10);
  EXPECT_LT(farFog.sum() * nearLit.sum(), nearFog.sum() * farLit.sum()) << "darker in proportion with distance";

  // An additive stage of black adds nothing: the blend is the stage's own.
  fog.material = material("lightFalloffImage _quadratic\n{\nblendfunc add\nmap _white\ncolored\n}\n");
  manager->updateLightDef(index, &fog);
  render();
  EXPECT_NEAR(atWorld(Vec3(150, -60, 0)).sum(), farLit.sum(), 6);
}

// A fog volume has a model of its own, its box's faces turned inwards: its far side lays the fog
// over what is seen through the volume. A lit wall behind a black fog box is hidden where the box
// stands before it and lit beside it; a wall in front of the box is left alone.
TEST_F(LightingGLTest, AFogVolumesOwnFacesHideWhatLiesBehindIt) {
  addEntity(box(wallMaterial, Vec3(150, -80, -60), Vec3(152, 80, 60)));
  addEntity(box(wallMaterial, Vec3(100, 20, -28), Vec3(104, 28, -20)));  // inside the fog
  addEntity(box(wallMaterial, Vec3(60, -40, 16), Vec3(62, -4, 24)));     // in front of it
  addLight(Vec3(40, 0, 0), Vec3(400, 400, 400), 0);
  const Vec3 behind(150, 0, 0);
  const Vec3 beside(150, 60, 0);
  const Vec3 before(60, -20, 20);
  render();
  ASSERT_GT(atWorld(behind).sum(), 150) << console.text;
  const Rgb besideLit = atWorld(beside);
  const Rgb beforeLit = atWorld(before);
  ASSERT_GT(beforeLit.sum(), 150);

  RenderLight fog;
  fog.shape = 2;
  fog.kind = 2;
  fog.origin = Vec3(100, 0, 0);
  fog.radius = Vec3(20, 30, 30);
  fog.material = material("lightFalloffImage _white\n{\nmap _white\ncolored\n}\n");
  fog.shaderParms[3] = 1.0f;  // black and fully dense
  const int index = manager->addLightDef(&fog);
  render();
  EXPECT_LT(atWorld(behind).sum(), 30) << console.text;
  EXPECT_LT(atWorld(Vec3(100, 24, -24)).sum(), 30) << "what stands inside is fogged too";
  EXPECT_NEAR(atWorld(beside).sum(), besideLit.sum(), 6);
  EXPECT_NEAR(atWorld(before).sum(), beforeLit.sum(), 6);

  // The model: eight shared corners, twelve triangles, refilled in place when the box changes.
  const BaseModel* model = manager->lightRecord(index)->lightModel;
  ASSERT_NE(model, nullptr);
  EXPECT_STREQ(model->name(), ("light_model_" + std::to_string(index)).c_str());
  ASSERT_EQ(model->numSurfaces(), 1);
  const SurfaceGeometry* g = const_cast<BaseModel*>(model)->getSurface(0)->geometry;
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(g->numVerts, 8);
  EXPECT_EQ(g->numIndexes, 36);
  fog.radius = Vec3(20, 50, 30);
  manager->updateLightDef(index, &fog);
  render();
  EXPECT_EQ(manager->lightRecord(index)->lightModel, model);
  EXPECT_EQ(const_cast<BaseModel*>(model)->getSurface(0)->geometry, g);
  EXPECT_FLOAT_EQ(g->bounds.maxs.y, 50.0f);
  EXPECT_LT(atWorld(Vec3(150, 60, 0)).sum(), 30) << "the wider box now hides that part too";

  // "reloadModels" turns a model without a file into the default box: the fog makes its own again.
  g_renderModelSystem->reloadModels(true);
  render();
  const BaseModel* rebuilt = manager->lightRecord(index)->lightModel;
  ASSERT_NE(rebuilt, nullptr);
  EXPECT_FALSE(rebuilt->isDefaultModel());
  ASSERT_EQ(rebuilt->numSurfaces(), 1);
  EXPECT_EQ(const_cast<BaseModel*>(rebuilt)->getSurface(0)->geometry->numVerts, 8);
}

// A bump/diffuse/specular group draws with its own diffuse image: black stays black under a light
// that makes a white one bright.
TEST_F(LightingGLTest, AGroupsDiffuseImageColoursItsLight) {
  Material* dark = material("bumpmap _flatbump\ndiffusemap _black\nspecularmap _black\n");
  Material* bright = material("bumpmap _flatbump\ndiffusemap _white\nspecularmap _black\n");
  addEntity(box(dark, Vec3(100, -80, -60), Vec3(104, 0, 60)));
  addEntity(box(bright, Vec3(100, 0, -60), Vec3(104, 80, 60)));
  addLight(Vec3(80, 0, 0), Vec3(300, 300, 300), 0);
  render();
  EXPECT_GT(atWorld(Vec3(100, 30, 0)).sum(), 300) << console.text;
  EXPECT_LT(atWorld(Vec3(100, -30, 0)).sum(), 10) << console.text;
}

// A material made only of an explicit light-interaction stage is lit like a bump/diffuse group.
TEST_F(LightingGLTest, AnExplicitLightInteractionStageIsLit) {
  addEntity(box(material("{\nlightInteraction\nmap _flatbump\n}\n"), Vec3(100, -80, -60), Vec3(104, 80, 60)));
  render();
  EXPECT_LT(atWorld(Vec3(100, 30, 0)).sum(), 10) << console.text;
  addLight(Vec3(80, 30, 0), Vec3(300, 300, 300), 0);
  render();
  EXPECT_GT(atWorld(Vec3(100, 30, 0)).sum(), 300) << console.text;
}

}  // namespace

namespace {

// A parallel light shines along its center from far away: the caster's faces turned towards it
// cast, so the shadow falls beyond the caster along that direction, and nowhere else.
TEST_F(LightingGLTest, AParallelLightCastsBeyondTheCasterAlongItsDirection) {
  addEntity(box(wallMaterial, Vec3(100, -80, -60), Vec3(104, 80, 60)));
  addEntity(box(wallMaterial, Vec3(66, -4, 11), Vec3(74, 4, 19)));
  // From the camera's side and above: (1, 0, -0.3) is the way the light travels.
  RenderLight l;
  l.shape = 2;
  l.origin = Vec3(60, 0, 0);
  l.radius = Vec3(300, 300, 300);
  l.center = Vec3(-1.0f, 0.0f, 0.3f);
  l.flags = kLightShadows | kLightParallel;
  l.material = lightMaterial;
  for (int i = 0; i < 4; i++)
    l.shaderParms[i] = 1.0f;
  manager->addLightDef(&l);
  render();
  // The caster's centre (70, 0, 15) meets the wall 30 units on, 9 lower.
  EXPECT_LT(atWorld(Vec3(100, 0, 6)).sum(), 40) << console.text;
  EXPECT_GT(manager->shadowTrianglesDrawn(), 0);
  // Lit above the shadow, beside it and below it.
  EXPECT_GT(atWorld(Vec3(100, 0, 30)).sum(), 250);
  EXPECT_GT(atWorld(Vec3(100, 30, 0)).sum(), 250);
  EXPECT_GT(atWorld(Vec3(100, 0, -30)).sum(), 250);
}

}  // namespace

namespace {

// A cone light keeps its cone's planes: its screen rectangle (and so its scissor) is the cone's,
// smaller than the box around it, and it lights the wall where the cone meets it.
TEST_F(LightingGLTest, AConeLightsScissorIsItsConesNotItsBoxs) {
  LeftRightWorld world;
  world.leftRect = Bounds(Vec3(0, 0, 0), Vec3(1, 1, 1));
  g_spatialSystem = &world;
  addEntity(box(wallMaterial, Vec3(100, -80, -60), Vec3(104, 80, 60)));
  RenderLight l;
  l.shape = 4;
  l.origin = Vec3(50, 0, 0);
  l.axis = Mat3(Vec3(0, 1, 0), Vec3(0, 0, -1), Vec3(-1, 0, 0));  // the cone runs down -axis 2: +x
  l.radius = Vec3(16, 16, 60);
  l.material = lightMaterial;
  for (int i = 0; i < 4; i++)
    l.shaderParms[i] = 1.0f;
  const int cone = manager->addLightDef(&l);
  render();
  EXPECT_GT(atWorld(Vec3(100, 0, 0)).sum(), 100) << console.text;
  // The box's screen rectangle, then the cone's, for the same view.
  RenderManager::LightRecord* record = manager->lightRecord(cone);
  ASSERT_NE(record, nullptr);
  manager->computeLightScreenBounds(record);
  const Bounds coneRect = record->screenBounds;
  l.shape = 2;
  const int boxIndex = manager->addLightDef(&l);
  manager->computeLightScreenBounds(manager->lightRecord(boxIndex));
  const Bounds boxRect = manager->lightRecord(boxIndex)->screenBounds;
  ASSERT_FALSE(coneRect.isCleared());
  ASSERT_FALSE(boxRect.isCleared());
  const float coneWidth = coneRect.maxs.x - coneRect.mins.x;
  const float boxWidth = boxRect.maxs.x - boxRect.mins.x;
  EXPECT_LT(coneWidth, boxWidth * 0.75f) << coneWidth << " " << boxWidth;
  EXPECT_LT(coneRect.maxs.y - coneRect.mins.y, (boxRect.maxs.y - boxRect.mins.y) * 0.75f);
}

}  // namespace
