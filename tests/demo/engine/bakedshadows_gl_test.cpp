// The sample map's baked static shadows in the running engine, headless, over the staged sample
// content: after the engine's own start-up and "map demo", every light of the map has the
// "_prelight_<light>" volume the map tool baked, the renderer casts the light's static shadows from
// it, and the screenshot from the player start shows the shadow it casts while "r_useEmapShadows"
// is set and not while it is 0 (with the shadows built from the world's surfaces off, nothing else
// shades there).
#include <string>

#include "lib/interface/rendermodelsystem.h"
#include "lib/interface/spatialsystem.h"
#include "lib/keydict.h"
#include "render/scene/rendermanager.h"
#include "tests/render/scene/engine/enginetest.h"

namespace {

using enginetest::Picture;

// Boxes in fractions of the screenshot from the player start (rows top first): the middle room
// seen through the first door between its lintel and the panel, and the start room's side wall
// on the right.
constexpr double kBeyondDoor[4] = {0.43, 0.34, 0.57, 0.38};
constexpr double kNearWall[4] = {0.86, 0.30, 0.96, 0.50};

class BakedShadowsEngineTest : public enginetest::EngineTest {};

TEST_F(BakedShadowsEngineTest, TheSampleLightsCastFromTheirBakedVolumes) {
  run("g_demoEffects 0\n");
  frames(3);
  run("map demo\n");
  ASSERT_NE(g_spatialSystem, nullptr) << "the sample map loaded";
  const List<KeyDict*>* entities = g_spatialSystem->getEntities();
  ASSERT_NE(entities, nullptr);
  RenderManager* renderer = static_cast<RenderManager*>(g_renderSystem);
  frames(3);
  int lights = 0;
  for (const KeyDict* d : *entities) {
    if (d == nullptr || String::icmp(d->getString("classname", ""), "light") != 0)
      continue;
    lights++;
    const std::string name = std::string("_prelight_") + d->getString("name", "");
    RenderModel* prelight = g_renderModelSystem->findModel(name.c_str());
    ASSERT_NE(prelight, nullptr) << name << " is a listed model";
    ASSERT_EQ(prelight->numSurfaces(), 1) << name;
    const SurfaceGeometry* g = prelight->getSurface(0)->geometry;
    ASSERT_NE(g, nullptr);
    EXPECT_GT(g->numShadowVerts, 0) << name;
    EXPECT_GT(g->numShadowIndexes, 0) << name;
    EXPECT_EQ(g->numShadowIndexes % 3, 0) << name;
    // The light the sample game made from this entity draws its static shadows from the volume.
    Vec3 origin;
    d->getVec3("origin", "0 0 0", origin);
    bool fromVolume = false;
    for (int i = 0; i < renderer->numLightSlots(); i++)
      if (const RenderManager::LightRecord* l = renderer->lightRecord(i))
        fromVolume = fromVolume || (l->parms.origin.compare(origin, 0.01f) &&
                                    l->staticShadowModel0 == prelight && l->cachedFromPrelight);
    EXPECT_TRUE(fromVolume) << name << " casts the light's static shadows";
  }
  EXPECT_EQ(lights, 2);
  run("listModels\n");
  EXPECT_TRUE(enginetest::consoleShows("_prelight_light_0")) << "listModels lists the volumes";

  // Dynamic lights only, and no shadow volumes built from the world's surfaces: what shades the
  // picture is the baked volume alone. Through the first door, above the panel, the camera sees
  // the middle room's ceiling near the second door: the first light does not reach it, and the
  // wall above the second door stands between it and the second light.
  run("r_lightquality 2\n");
  run("r_skipDynamicShadows 1\n");
  const Picture baked = screenshot();
  run("r_useEmapShadows 0\n");
  const Picture unshadowed = screenshot();
  run("r_useEmapShadows 1\n");
  run("r_skipDynamicShadows 0\n");
  ASSERT_GT(baked.width, 0);
  ASSERT_EQ(baked.width, unshadowed.width);
  const double inBaked = baked.mean(kBeyondDoor[0], kBeyondDoor[1], kBeyondDoor[2], kBeyondDoor[3]);
  const double inUnshadowed = unshadowed.mean(kBeyondDoor[0], kBeyondDoor[1], kBeyondDoor[2], kBeyondDoor[3]);
  EXPECT_LT(inBaked, inUnshadowed * 0.8)
      << "the baked volume shades the ceiling behind the wall: " << inBaked << " against " << inUnshadowed;
  // The start room is lit alike either way: its walls, which the light reaches, are no part of
  // the volume.
  const double nearBaked = baked.mean(kNearWall[0], kNearWall[1], kNearWall[2], kNearWall[3]);
  const double nearUnshadowed = unshadowed.mean(kNearWall[0], kNearWall[1], kNearWall[2], kNearWall[3]);
  EXPECT_GT(nearBaked, 30.0);
  EXPECT_NEAR(nearBaked, nearUnshadowed, 0.05 * nearUnshadowed);
}

}  // namespace
