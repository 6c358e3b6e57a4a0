// The map's baked light in the running engine, headless, over the staged sample content: the
// engine's own start-up loads "maps/demo" on the console's command, and screenshots from the sample
// game's camera (the player start, looking down the three rooms) show what each "r_lightquality"
// gives: at 0 the far room lit from the light map, at 1 the crate lit from the light grid, at 2 the
// dynamic lights. A map whose light names a "_shadowMask_" model, with a prelight volume, goes
// through loads, reloads, a video restart and a model reload under the sanitizers.
#include "tests/render/scene/engine/enginetest.h"

#include <cmath>
#include <fstream>
#include <string>

#include "lib/interface/rendermodelsystem.h"
#include "lib/interface/spatialsystem.h"
#include "render/model/basemodel.h"
#include "render/scene/rendermanager.h"

namespace {

using enginetest::Picture;
using enginetest::readFile;

// The third room's far wall, seen through both doors at the centre of the picture.
constexpr double kFarRoom[4] = {0.48, 0.46, 0.52, 0.54};
// The crate in front of the camera, at the lower right.
constexpr double kCrate[4] = {0.85, 0.72, 0.97, 0.94};

class MapLightingEngineTest : public enginetest::EngineTest {
 protected:
  Picture atQuality(int quality) {
    char text[64];
    std::snprintf(text, sizeof(text), "r_lightquality %d\n", quality);
    run(text);
    return screenshot();
  }
};

TEST_F(MapLightingEngineTest, EachLightQualityLightsTheSampleMap) {
  frames(3);
  run("map demo\n");
  ASSERT_NE(g_spatialSystem, nullptr) << "the sample map loaded";
  EXPECT_TRUE(g_spatialSystem->hasLightGrid()) << "the map load read the light file";
  EXPECT_TRUE(enginetest::consoleShows("maps/demo.lmf")) << "the console tells of the light file";

  const Picture lightmap = atQuality(0);
  const Picture hybrid = atQuality(1);
  const Picture dynamic = atQuality(2);
  ASSERT_GT(lightmap.width, 0);
  const double far0 = lightmap.mean(kFarRoom[0], kFarRoom[1], kFarRoom[2], kFarRoom[3]);
  const double crate0 = lightmap.mean(kCrate[0], kCrate[1], kCrate[2], kCrate[3]);
  const double crate1 = hybrid.mean(kCrate[0], kCrate[1], kCrate[2], kCrate[3]);
  const double far2 = dynamic.mean(kFarRoom[0], kFarRoom[1], kFarRoom[2], kFarRoom[3]);
  const double crate2 = dynamic.mean(kCrate[0], kCrate[1], kCrate[2], kCrate[3]);
  // Map lights without an owner are skipped at 0: the far room's light comes from the light map.
  EXPECT_GT(far0, 30.0) << "the far room is lit from the light map";
  // Entities take no map light below 2: the crate's light comes from the grid at 0 and 1.
  EXPECT_GT(crate0, 30.0) << "the crate is lit from the light grid";
  EXPECT_GT(crate1, 30.0) << "the crate is lit from the light grid";
  EXPECT_GT(far2, 30.0) << "the far room's light";
  EXPECT_GT(crate2, 30.0) << "the lights on the crate";

  // After a video restart the light maps are made again in the new context.
  run("r_lightquality 0\n");
  run("vid_restart\n");
  const Picture restarted = screenshot();
  // (Without them the far room falls to the ambient light, about a fifth of this.)
  EXPECT_GT(restarted.mean(kFarRoom[0], kFarRoom[1], kFarRoom[2], kFarRoom[3]), far0 * 0.6);
  run("r_lightquality 2\n");
}

// The map load looks up the shadow maps' two materials in the sample content: lights that ask for a
// shadow map render one, also after a video restart has made the context and its programs anew,
// and after the next map load has purged the declarations.
TEST_F(MapLightingEngineTest, ShadowMapLightsRenderTheirMapsFromTheSampleMaterials) {
  RenderManager* renderer = static_cast<RenderManager*>(g_renderSystem);
  // The sample game's shadow-casting lights ask for shadow maps; the number asked.
  auto askShadowMaps = [renderer] {
    int asked = 0;
    for (int i = 0; i < renderer->numLightSlots(); i++) {
      const RenderManager::LightRecord* l = renderer->lightRecord(i);
      if (l == nullptr || l->parms.kind != 1 || (l->parms.flags & kLightShadows) == 0 ||
          (l->parms.flags & kLightAmbient) != 0)
        continue;
      RenderLight mapped = l->parms;
      mapped.flags |= kLightShadowMap;
      renderer->updateLightDef(i, &mapped);
      asked++;
    }
    return asked;
  };
  frames(3);
  run("map demo\n");
  ASSERT_NE(g_spatialSystem, nullptr);
  ASSERT_GT(askShadowMaps(), 0) << "the sample game's lights cast shadows";
  frames(2);
  EXPECT_GT(renderer->shadowMapsRendered(), 0) << "\"_renderDepth\" and \"_renderShadowMap\" were found";
  EXPECT_EQ(renderer->shadowTrianglesDrawn(), 0) << "no light fell back to shadow volumes";
  run("vid_restart\n");
  frames(3);
  EXPECT_GT(renderer->shadowMapsRendered(), 0) << "after the video restart";
  run("map demo\n");
  ASSERT_NE(g_spatialSystem, nullptr);
  ASSERT_GT(askShadowMaps(), 0);
  frames(2);
  EXPECT_GT(renderer->shadowMapsRendered(), 0) << "after the next map load";
}

// The sample game's grey fog fills the third room. From the middle room (the sample map with its
// player start moved there, no sample effects) the third room's far wall, seen through the door,
// turns to the fog's grey (0.45, 0.45, 0.5); the fog's own box is built as its light model.
TEST_F(MapLightingEngineTest, TheFogHidesTheFarRoom) {
  std::string text = readFile("media/maps/demo.bsp");
  const std::string start = "\"origin\" \"64 128 48\"";
  const size_t at = text.find(start);
  ASSERT_NE(at, std::string::npos);
  text.replace(at, start.size(), "\"origin\" \"300 128 48\"");
  const std::string path = "media/maps/fogview.bsp";
  {
    std::ofstream out(path, std::ios::binary);
    out << text;
  }
  frames(3);
  run("g_demoEffects 0\n");
  run("map fogview\n");
  ASSERT_NE(g_spatialSystem, nullptr);
  // The third room's far wall through the middle room's far door.
  constexpr double kWall[4] = {0.47, 0.45, 0.53, 0.55};
  run("r_skipFogLights 1\n");
  const Picture clear = screenshot();
  run("r_skipFogLights 0\n");
  const Picture fogged = screenshot();
  ASSERT_GT(fogged.width, 0);
  // Red minus blue over the wall: the brick is orange, the fog a bluish grey.
  auto redOverBlue = [&](const Picture& p) {
    double sum = 0.0;
    int n = 0;
    for (int y = int(kWall[1] * p.height); y < int(kWall[3] * p.height); y++)
      for (int x = int(kWall[0] * p.width); x < int(kWall[2] * p.width); x++) {
        const int row = p.topFirst ? y : p.height - 1 - y;
        const size_t i = 18 + (size_t(row) * size_t(p.width) + size_t(x)) * size_t(p.bpp);
        sum += double(p.data[i + 2]) - double(p.data[i]);  // BGR
        n++;
      }
    return n ? sum / n : 0.0;
  };
  const double after = fogged.mean(kWall[0], kWall[1], kWall[2], kWall[3]);
  EXPECT_GT(redOverBlue(clear), 15.0) << "the lit brick of the far wall, under a bluish light";
  EXPECT_LT(redOverBlue(fogged), 0.0) << "the fog's blue-grey over it";
  EXPECT_NEAR(after, 0.467 * 255.0, 20.0) << "the far wall is the fog's grey";
  RenderManager* renderer = static_cast<RenderManager*>(g_renderSystem);
  int fogModels = 0;
  for (int i = 0; i < renderer->numLightSlots(); i++) {
    const RenderManager::LightRecord* l = renderer->lightRecord(i);
    if (l != nullptr && l->parms.kind == 2 && l->lightModel != nullptr && l->lightModel->numSurfaces() == 1)
      fogModels++;
  }
  EXPECT_EQ(fogModels, 1);
  run("g_demoEffects 1\n");
  run("disconnect\n");
  frames(2);
  std::remove(path.c_str());
}

// The sample map with a light-mask model for its first light (a light entity frees it, so it is
// built again) and, in place of its baked one, a prelight volume for it: a closed box below the
// light.
std::string shadowMaskMap() {
  std::string text = readFile("media/maps/demo.bsp");
  const std::string blocks = R"(
model { "_shadowMask_light_0" 1
{ "textures/samples/wall" 3 3 -1
0 0 1  0 0  0 0  0 0 1
16 0 1  1 0  1 0  0 0 1
16 16 1  1 1  1 1  0 0 1
0 1 2
}
}
shadowModel { "_prelight_light_0" 8 0 0 36 0
(96 96 20) (160 96 20) (160 160 20) (96 160 20) (96 96 40)
(160 96 40) (160 160 40) (96 160 40)
0 2 1 0 3 2 4 5 6 4 6 7 0 1 5 0 5 4 3 7 6 3 6 2 0 4 7 0 7 3 1 2 6 1 6 5
}
)";
  // The sample map's own baked volume of that light gives way to the box.
  const size_t own = text.find("\nshadowModel { /* name = */ \"_prelight_light_0\"");
  const size_t ownEnd = own == std::string::npos ? own : text.find("\n}\n", own);
  if (ownEnd != std::string::npos)
    text.erase(own, ownEnd + 3 - own);
  const size_t at = text.find("\nleafs");
  if (at == std::string::npos)
    return "";
  return text.insert(at, blocks);
}

TEST_F(MapLightingEngineTest, MapModelsSurviveEveryLoadOrderOnce) {
  const std::string text = shadowMaskMap();
  ASSERT_FALSE(text.empty());
  const std::string path = "media/maps/lightcycle.bsp";
  {
    std::ofstream out(path, std::ios::binary);
    out << text;
  }
  frames(2);
  for (const char* step : {"map lightcycle\n", "map lightcycle\n"}) {
    run(step);
    ASSERT_NE(g_spatialSystem, nullptr) << step;
    // The light entity freed its stale mask; the prelight volume is a listed model found by name.
    EXPECT_EQ(g_renderModelSystem->findModel("_shadowMask_light_0"), nullptr);
    RenderModel* prelight = g_renderModelSystem->findModel("_prelight_light_0");
    ASSERT_NE(prelight, nullptr);
    ASSERT_EQ(prelight->numSurfaces(), 1);
    const SurfaceGeometry* g = prelight->getSurface(0)->geometry;
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(g->numShadowVerts, 8);
    EXPECT_EQ(g->numShadowIndexes, 36);
    EXPECT_NE(prelight->getFlags() & kModelFlagWorld, 0);
    frames(3);
    // The renderer casts the light's static shadows from the map's volume.
    RenderManager* renderer = static_cast<RenderManager*>(g_renderSystem);
    bool fromPrelight = false;
    for (int i = 0; i < renderer->numLightSlots(); i++)
      if (const RenderManager::LightRecord* l = renderer->lightRecord(i))
        fromPrelight = fromPrelight || (l->cachedFromPrelight && l->staticShadowModel0 == prelight);
    EXPECT_TRUE(fromPrelight) << "the first light's shadows come from its prelight volume";
  }
  run("vid_restart\n");
  frames(2);
  run("reloadModels\n");
  frames(2);
  EXPECT_NE(g_renderModelSystem->findModel("_prelight_light_0"), nullptr) << "reloaded from the map file";
  run("map demo\n");
  ASSERT_NE(g_spatialSystem, nullptr);
  // The sample map's own baked volume of that light stands in place of the one the unload freed.
  RenderModel* sampleVolume = g_renderModelSystem->findModel("_prelight_light_0");
  ASSERT_NE(sampleVolume, nullptr);
  EXPECT_NE(sampleVolume->getSurface(0)->geometry->numShadowVerts, 8) << "the unload freed the map's models";
  EXPECT_NE(g_renderModelSystem->findModel("_area0"), nullptr);
  run("map lightcycle\n");
  frames(2);
  run("disconnect\n");
  frames(2);
  EXPECT_EQ(g_spatialSystem, nullptr);
  EXPECT_EQ(g_renderModelSystem->findModel("_area0"), nullptr);
  std::remove(path.c_str());
}

}  // namespace
