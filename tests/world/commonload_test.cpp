// The engine core's map road with the real worlds: "demo" finds maps/demo.bsp, the factory makes
// the area-and-portal world, the sample map loads, and the map-entity pass turns its entities into
// model, light and speaker descriptions; ".kdt" names make the kd-tree world.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "lib/interface/memsystem.h"
#include "lib/interface/spatialsystem.h"
#include "system/commonmanager.h"
#include "tests/world/worldtest_support.h"
#include "world/bspworld.h"
#include "world/mapentities.h"

namespace fs = std::filesystem;

namespace {

TEST(CommonLoadTest, MapDemoLoadsTheSampleWorld) {
  const char* base = std::getenv("QUILL_TEST_TMP");
  const fs::path root = fs::path(base ? base : "/tmp") / "world_commonload";
  fs::remove_all(root);
  fs::create_directories(root / "media" / "maps");
  for (const char* name : {"demo.bsp", "demo.kdt", "demo.lmf"}) {
    std::ofstream out(root / "media" / "maps" / name, std::ios::binary);
    out << worldtest::readSourceFile((std::string("demo/media/maps/") + name).c_str());
  }
  const fs::path oldCwd = fs::current_path();
  fs::current_path(root);
  createMemManager();
  CommonManager* common = getCommonManager();
  ASSERT_TRUE(common->init(nullptr, nullptr, 0x1 | 0x2 | 0x10));
  registerWorldFactories();

  ASSERT_TRUE(common->loadMap("demo", 0, 0));
  ASSERT_NE(g_spatialSystem, nullptr);
  EXPECT_STREQ(g_spatialSystem->getFileId(), "!BSP02");
  EXPECT_EQ(g_spatialSystem->getNumAreas(), 3);
  EXPECT_EQ(g_spatialSystem->getNumPortals(), 2);
  const float start[3] = {64, 128, 48};
  EXPECT_EQ(g_spatialSystem->pointToArea(start), 0);
  EXPECT_EQ(mapEntities().models.size(), 4u);  // three crates and the panel
  EXPECT_EQ(mapEntities().lights.size(), 2u);
  EXPECT_EQ(mapEntities().speakers.size(), 1u);
  EXPECT_TRUE(g_spatialSystem->loadLightmaps());
  EXPECT_TRUE(g_spatialSystem->hasLightGrid());

  // The ".bsp" file wins while it exists; without it the ".kdt" twin loads.
  fs::remove(root / "media" / "maps" / "demo.bsp");
  ASSERT_TRUE(common->loadMap("demo", 0, 0));
  ASSERT_NE(g_spatialSystem, nullptr);
  EXPECT_STREQ(g_spatialSystem->getFileId(), "!KDT");
  EXPECT_EQ(g_spatialSystem->getNumAreas(), 3);

  EXPECT_FALSE(common->loadMap("missing", 0, 0));
  common->unloadMap();
  EXPECT_EQ(g_spatialSystem, nullptr);
  destroyCommonManager();
  destroyMemManager();
  fs::current_path(oldCwd);
  fs::remove_all(root);
}

}  // namespace
