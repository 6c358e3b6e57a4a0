// The sample map's collision model as the map generator writes it: "map demo" finds it beside the
// map, and traces of the player's box walk the rooms, pass the doors and stop at walls and crates.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "cmtest.h"
#include "tests/support/capturecmdsystem.h"
#include "tests/support/memoryiosystem.h"

namespace {

std::string readSource(const char* relative) {
  std::ifstream in(std::string(QUILL_SOURCE_DIR) + "/" + relative, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class SampleMap : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string text = readSource("demo/media/maps/demo.cm");
    ASSERT_FALSE(text.empty());
    io.addFile("maps/demo.cm", text);
    cm.loadMap("demo.bsp", false);
    ASSERT_EQ(cm.numModels(), 2) << cmd.output;
    player.setupBox(Bounds(Vec3(-16, -16, -40), Vec3(16, 16, 8)));
  }
  // Sweeps the player's box from `from` to `to` through the world model.
  TraceResult sweep(const Vec3& from, const Vec3& to, const TraceModel* trm) {
    TraceResult r;
    cm.translation(&r, from, to, trm, Mat3::identity(), kContentsClipMask, 0, Vec3(), Mat3::identity());
    return r;
  }
  CaptureCmdSystem cmd;
  MemoryIOSystem io;
  cmtest::FakeMaterials materials;
  CollisionManager cm;
  TraceModel player;
};

TEST_F(SampleMap, TheWorldModelLoadsBesideTheMap) {
  EXPECT_STREQ(cm.modelName(0), "worldMap");
  EXPECT_STREQ(cm.modelName(1), "empty");
  const cmModel_t* world = cm.model(0);
  // Four brushes a room (floor, ceiling, the two long walls), eight wall pieces, three crates.
  EXPECT_EQ(world->brushes.num(), 23);
  EXPECT_EQ(world->leafs.num(), 3);
  Bounds b;
  ASSERT_TRUE(cm.modelBounds(0, b));
  EXPECT_EQ(b, Bounds(Vec3(-8, -8, -8), Vec3(776, 264, 136)));
  EXPECT_EQ(cmd.output.find("rror"), std::string::npos) << cmd.output;
}

TEST_F(SampleMap, ThePlayerBoxStopsAtWallsAndCratesAndPassesTheDoors) {
  const Vec3 start(64, 128, 48);
  struct Case {
    const char* what;
    Vec3 from, to;
    bool hits;
    Vec3 stop;  // where the box stops (only the blocked axis is compared when it hits)
  };
  const Case cases[] = {
      {"through both doors to the third crate", start, Vec3(1000, 128, 48), true, Vec3(600, 128, 48)},
      {"past the crate to the far wall", Vec3(560, 200, 48), Vec3(1000, 200, 48), true, Vec3(752, 200, 48)},
      {"back to the first wall", start, Vec3(-500, 128, 48), true, Vec3(16, 128, 48)},
      {"sideways to the wall at y = 0", start, Vec3(64, -500, 48), true, Vec3(64, 16, 48)},
      {"sideways to the wall at y = 256", Vec3(300, 128, 48), Vec3(300, 900, 48), true, Vec3(300, 240, 48)},
      {"into the first crate", Vec3(20, 64, 48), Vec3(300, 64, 48), true, Vec3(96, 64, 48)},
      {"beside the door, into the wall between the rooms", Vec3(200, 40, 48), Vec3(400, 40, 48), true,
       Vec3(236, 40, 48)},
      {"within the first room", start, Vec3(200, 200, 48), false, Vec3(200, 200, 48)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const TraceResult r = sweep(c.from, c.to, &player);
    if (!c.hits) {
      EXPECT_EQ(r.fraction, 1.0f);
      EXPECT_EQ(r.endPos, c.to);
      continue;
    }
    ASSERT_LT(r.fraction, 1.0f);
    EXPECT_NEAR(r.endPos.x, c.stop.x, 0.5f);
    EXPECT_NEAR(r.endPos.y, c.stop.y, 0.5f);
    EXPECT_NEAR(r.endPos.z, c.stop.z, 0.5f);
    // The contact faces back along the move.
    EXPECT_LT(r.contact.normal.dot(c.to - c.from), 0.0f);
    // And the box stays clear of the solid where it stopped.
    EXPECT_EQ(cm.contents(r.endPos, &player, Mat3::identity(), kContentsClipMask, 0, Vec3(), Mat3::identity()), 0);
  }
}

TEST_F(SampleMap, PointTracesAndContents) {
  const TraceResult down = sweep(Vec3(64, 128, 48), Vec3(64, 128, -100), nullptr);
  EXPECT_NEAR(down.fraction, 48.0f / 148.0f, 1e-3f);
  EXPECT_NEAR(down.endPos.z, 0.0f, 0.25f);  // kept a hair off the floor
  EXPECT_NEAR(down.contact.normal.z, 1.0f, 1e-5f);
  auto at = [&](const Vec3& p) {
    return cm.contents(p, nullptr, Mat3::identity(), kContentsClipMask, 0, Vec3(), Mat3::identity());
  };
  EXPECT_NE(at(Vec3(256, 40, 50)), 0) << "inside the wall between the first two rooms";
  EXPECT_EQ(at(Vec3(256, 128, 50)), 0) << "in the door";
  EXPECT_NE(at(Vec3(256, 128, 110)), 0) << "above the door";
  EXPECT_NE(at(Vec3(640, 96, 10)), 0) << "inside the third crate";
  EXPECT_EQ(at(Vec3(640, 200, 10)), 0);
}

}  // namespace
