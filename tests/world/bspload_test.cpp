// ".bsp" loading and writing: the structures read from a small map, every refusal of a bad file
// (with the message saying why), every truncation of the small map, and write-then-load round
// trips of the small map and of the generated sample map.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lib/interface/commonsystem.h"
#include "lib/interface/userinterfacesystem.h"
#include "lib/keydict.h"
#include "tests/support/capturecmdsystem.h"
#include "tests/support/memoryiosystem.h"
#include "tests/support/nullcommon.h"
#include "tests/world/worldtest_support.h"
#include "world/bspworld.h"

namespace {

// Two areas split at x = 100 by one node, a door portal between them, a one-quad area model each,
// and the prelight volume of the light "lamp" (in the order the writer writes them).
const char* kSmallMap = R"(!BSP02
areaPortals { 2 1
4 1 0 ( 100 10 0 ) ( 100 20 0 ) ( 100 20 10 ) ( 100 10 10 )
}
shadowModel { "_prelight_lamp" 5 0 1 3 7
( 0 0 0 ) ( 1 0 0 ) ( 0 1 0 ) ( 0 0 1 ) ( 1 1 1 )
0 1 4
}
model { "_area0" 1
{ "floor" 4 6 0
( 0 0 0 ) ( 0 0 ) ( 0 0 ) ( 0 0 1 )
( 100 0 0 ) ( 1 0 ) ( 1 0 ) ( 0 0 1 )
( 100 50 0 ) ( 1 1 ) ( 1 1 ) ( 0 0 1 )
( 0 50 0 ) ( 0 1 ) ( 0 1 ) ( 0 0 1 )
0 1 2 0 2 3
}
}
model { "_AREA1" 1
{ "floor" 4 6 -1
( 100 0 0 ) ( 0 0 ) ( 0 0 ) ( 0 0 1 )
( 200 0 0 ) ( 1 0 ) ( 1 0 ) ( 0 0 1 )
( 200 50 0 ) ( 1 1 ) ( 1 1 ) ( 0 0 1 )
( 100 50 0 ) ( 0 1 ) ( 0 1 ) ( 0 0 1 )
0 1 2 0 2 3
}
}
leafs { 2
{ 0 }
{ 1 }
}
nodes { 1
( 1 0 0 100 ) -2 -1
}
entities { 2
{
"classname" "worldspawn"
}
{
"classname" "light"
"name" "lamp"
"origin" "50 25 5"
}
}
)";

class BspLoadTest : public ::testing::Test {
 protected:
  CaptureCmdSystem cmd_;
  void SetUp() override { KeyDict::initPools(); }
};

TEST_F(BspLoadTest, SmallMapStructures) {
  BspSpatialSystem w;
  ASSERT_TRUE(w.loadText(kSmallMap)) << cmd_.output;
  EXPECT_STREQ(w.getFileId(), "!BSP02");
  EXPECT_EQ(w.getNumAreas(), 2);
  EXPECT_EQ(w.getNumPortals(), 1);
  ASSERT_EQ(w.portals().size(), 1u);
  const AreaPortal& p = w.portals()[0];
  EXPECT_EQ(p.areas[0], 1);
  EXPECT_EQ(p.areas[1], 0);
  EXPECT_EQ(p.polygon.numPoints, 4);
  // Positive side is areas[0] (x > 100).
  EXPECT_GT(p.plane.distance(Vec3(150, 15, 5)), 0.0f);
  EXPECT_EQ(p.bounds.mins, Vec3(100, 10, 0));
  EXPECT_EQ(p.bounds.maxs, Vec3(100, 20, 10));
  // "_AREA1" in capitals still names area 1; its surfaces carry the area id.
  ASSERT_NE(w.areaWorldModel(1), nullptr);
  EXPECT_EQ(w.areaWorldModel(1)->surfaces[0].id, 1);
  EXPECT_EQ(w.areaWorldModel(0)->surfaces[0].lightmap, 0);
  EXPECT_EQ(w.getBounds().mins, Vec3(0, 0, 0));
  EXPECT_EQ(w.getBounds().maxs, Vec3(200, 50, 0));
  ASSERT_EQ(w.getEntities()->num(), 2);
  EXPECT_STREQ((*w.getEntities())[1]->getString("classname"), "light");
  const WorldModel* shadow = nullptr;
  for (const WorldModel& m : w.models())
    if (m.shadow)
      shadow = &m;
  ASSERT_NE(shadow, nullptr);
  EXPECT_EQ(shadow->name, "_prelight_lamp");
  EXPECT_EQ(shadow->noFrontCaps, 1);
  EXPECT_EQ(shadow->planeBits, 7);
  EXPECT_EQ(shadow->shadowIndexes.size(), 3u);
  // One node: x < 100 is leaf 0 (area 0), x >= 100 (on the plane too) is leaf 1.
  float a[3] = {50, 25, 5}, b[3] = {150, 25, 5}, on[3] = {100, 25, 5};
  EXPECT_EQ(w.pointToArea(a), 0);
  EXPECT_EQ(w.pointToArea(b), 1);
  EXPECT_EQ(w.pointToArea(on), 1);
  EXPECT_FALSE(w.pointInSolid(Vec3(50, 25, 5)));
}

TEST_F(BspLoadTest, EdgeFilesThatLoad) {
  BspSpatialSystem w;
  // Only the header: no areas, no portals, cleared bounds.
  ASSERT_TRUE(w.loadText("!BSP02"));
  EXPECT_EQ(w.getNumAreas(), 0);
  EXPECT_EQ(w.getNumPortals(), 0);
  EXPECT_TRUE(w.getBounds().isCleared());
  float p[3] = {0, 0, 0};
  EXPECT_EQ(w.pointToArea(p), -1);

  // 70 points keep 64; numPoints 0 gives an empty portal with a zero plane and cleared bounds.
  std::string many = "!BSP02 areaPortals { 2 2 70 0 1 ";
  for (int i = 0; i < 64; ++i)
    many += "( " + std::to_string(i) + " 0 0 ) ";
  many += "0 1 0 }";
  ASSERT_TRUE(w.loadText(many.c_str())) << cmd_.output;
  EXPECT_EQ(w.portals()[0].polygon.numPoints, 64);
  EXPECT_EQ(w.portals()[1].polygon.numPoints, 0);
  EXPECT_EQ(w.portals()[1].plane, Plane());
  EXPECT_TRUE(w.portals()[1].bounds.isCleared());

  // An unknown empty block only warns.
  ASSERT_TRUE(w.loadText("!BSP02 extras { }"));
  EXPECT_NE(cmd_.output.find("WARNING in BspSpatialSystem::load, invalid token 'extras' on line 1"),
            std::string::npos);
}

TEST_F(BspLoadTest, RefusesBadFiles) {
  struct Case {
    const char* name;
    const char* text;
    const char* message;  // part of what is printed
  };
  const Case cases[] = {
      {"wrong header", "!BSP01", "while expecting '!BSP02'"},
      {"missing brace", "!BSP02 leafs 1 { 0 } }", "while expecting '{'"},
      {"unclosed block", "!BSP02 leafs { 1 { 0 }", "while expecting '}'"},
      {"bad number", "!BSP02 leafs { x }", "expected an integer, found 'x'"},
      {"negative count", "!BSP02 leafs { -1 }", "count -1 out of range"},
      {"count beyond the text", "!BSP02 nodes { 100000000 }", "out of range"},
      {"portal area beyond the areas", "!BSP02 areaPortals { 2 1 0 0 2 }", "portal 0 names area 2 of 2"},
      {"negative portal area", "!BSP02 areaPortals { 2 1 0 -1 0 }", "portal 0 names area -1"},
      {"leaf area beyond the areas", "!BSP02 areaPortals { 1 0 } leafs { 1 { 1 } }", "leaf 0 names area 1 of 1"},
      {"node names a missing leaf", "!BSP02 leafs { 1 { -1 } } nodes { 1 ( 1 0 0 0 ) -2 0 }",
       "node 0 names leaf 1 of 1"},
      {"node child beyond the nodes", "!BSP02 nodes { 1 ( 1 0 0 0 ) 1 0 }", "outside the tree or shared"},
      {"node cycle", "!BSP02 nodes { 3 ( 1 0 0 0 ) 0 0 ( 1 0 0 0 ) 2 0 ( 1 0 0 0 ) 1 0 }", "not below the root"},
      {"shared subtree", "!BSP02 nodes { 3 ( 1 0 0 0 ) 1 2 ( 1 0 0 0 ) 2 0 ( 1 0 0 0 ) 0 0 }",
       "outside the tree or shared"},
      {"index beyond the vertices",
       "!BSP02 model { \"_area0\" 1 { \"m\" 1 3 0 ( 0 0 0 ) ( 0 0 ) ( 0 0 ) ( 0 0 1 ) 0 0 1 } }",
       "index 1 outside 1 vertices"},
      {"shadow index beyond the points", "!BSP02 shadowModel { \"s\" 1 0 0 1 0 ( 0 0 0 ) 5 }",
       "index 5 outside 1 vertices"},
      {"second areaPortals block", "!BSP02 areaPortals { 0 0 } areaPortals { 0 0 }", "second areaPortals"},
      {"duplicate entity key", "!BSP02 entities { 1 { \"a\" \"1\" \"a\" \"2\" } }", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    cmd_.output.clear();
    BspSpatialSystem w;
    EXPECT_FALSE(w.loadText(c.text));
    EXPECT_NE(cmd_.output.find(c.message), std::string::npos) << cmd_.output;
  }
}

// Every prefix of the small map is read without fault; it loads exactly when it ends between
// top-level blocks.
TEST_F(BspLoadTest, EveryTruncationOfTheSmallMap) {
  const std::string full = kSmallMap;
  int depth = 0;
  for (size_t n = 0; n <= full.size(); ++n) {
    if (n > 0 && full[n - 1] == '{')
      ++depth;
    if (n > 0 && full[n - 1] == '}')
      --depth;
    std::string prefix = full.substr(0, n);
    size_t end = prefix.find_last_not_of(" \n");
    std::string trimmed = end == std::string::npos ? "" : prefix.substr(0, end + 1);
    const bool expected = trimmed == "!BSP02" || (depth == 0 && !trimmed.empty() && trimmed.back() == '}');
    BspSpatialSystem w;
    EXPECT_EQ(w.loadText(prefix.c_str()), expected) << "prefix of " << n << " bytes";
  }
}

void expectSameWorld(BspSpatialSystem& a, BspSpatialSystem& b) {
  ASSERT_EQ(a.getNumAreas(), b.getNumAreas());
  ASSERT_EQ(a.portals().size(), b.portals().size());
  for (size_t i = 0; i < a.portals().size(); ++i) {
    EXPECT_EQ(a.portals()[i].areas[0], b.portals()[i].areas[0]);
    EXPECT_EQ(a.portals()[i].areas[1], b.portals()[i].areas[1]);
    EXPECT_TRUE(a.portals()[i].polygon == b.portals()[i].polygon);
  }
  ASSERT_EQ(a.nodes().size(), b.nodes().size());
  for (size_t i = 0; i < a.nodes().size(); ++i) {
    EXPECT_EQ(a.nodes()[i].plane, b.nodes()[i].plane);
    EXPECT_EQ(a.nodes()[i].children[0], b.nodes()[i].children[0]);
    EXPECT_EQ(a.nodes()[i].children[1], b.nodes()[i].children[1]);
  }
  EXPECT_EQ(a.leafAreas(), b.leafAreas());
  ASSERT_EQ(a.models().size(), b.models().size());
  for (size_t i = 0; i < a.models().size(); ++i) {
    const WorldModel& ma = a.models()[i];
    const WorldModel& mb = b.models()[i];
    EXPECT_EQ(ma.name, mb.name);
    EXPECT_EQ(ma.shadowPoints, mb.shadowPoints);
    EXPECT_EQ(ma.shadowIndexes, mb.shadowIndexes);
    ASSERT_EQ(ma.surfaces.size(), mb.surfaces.size());
    for (size_t s = 0; s < ma.surfaces.size(); ++s) {
      EXPECT_EQ(ma.surfaces[s].material, mb.surfaces[s].material);
      EXPECT_EQ(ma.surfaces[s].verts, mb.surfaces[s].verts);
      EXPECT_EQ(ma.surfaces[s].indexes, mb.surfaces[s].indexes);
      EXPECT_EQ(ma.surfaces[s].lightmap, mb.surfaces[s].lightmap);
    }
  }
  ASSERT_EQ(a.getEntities()->num(), b.getEntities()->num());
  for (int i = 0; i < a.getEntities()->num(); ++i) {
    const KeyDict* da = (*a.getEntities())[i];
    const KeyDict* db = (*b.getEntities())[i];
    ASSERT_EQ(da->count(), db->count());
    for (int k = 0; k < da->count(); ++k)
      EXPECT_STREQ(da->valueAt(k), db->getString(da->keyAt(k)));
  }
}

TEST_F(BspLoadTest, WriteThenLoadGivesTheSameWorld) {
  const std::string sample = worldtest::readSourceFile("demo/media/maps/demo.bsp");
  ASSERT_FALSE(sample.empty());
  for (const char* text : {kSmallMap, sample.c_str()}) {
    BspSpatialSystem first;
    ASSERT_TRUE(first.loadText(text)) << cmd_.output;
    const std::string written = first.writeText();
    BspSpatialSystem second;
    ASSERT_TRUE(second.loadText(written.c_str())) << cmd_.output;
    expectSameWorld(first, second);
    EXPECT_EQ(second.writeText(), written);
  }
}

TEST_F(BspLoadTest, LongEntityValuesSurviveAndEmptyOnesAreDropped) {
  const std::string longValue(400, 'v');
  const std::string text = "!BSP02 entities { 1 { \"long\" \"" + longValue + "\" \"empty\" \"\" } }";
  BspSpatialSystem first;
  ASSERT_TRUE(first.loadText(text.c_str()));
  BspSpatialSystem second;
  ASSERT_TRUE(second.loadText(first.writeText().c_str()));
  const KeyDict* d = (*second.getEntities())[0];
  EXPECT_EQ(std::string(d->getString("long")), longValue);
  EXPECT_EQ(d->findKeyIndex("empty"), -1);
}

// A quote inside an unquoted token cannot stand between quotes: it is written as an apostrophe so
// the written map still reads back.
TEST_F(BspLoadTest, QuotesInsideTokensAreWrittenReadably) {
  BspSpatialSystem first;
  ASSERT_TRUE(first.loadText("!BSP02 entities { 1 { a\"b c\"d } }"));
  BspSpatialSystem second;
  ASSERT_TRUE(second.loadText(first.writeText().c_str())) << first.writeText();
  EXPECT_STREQ((*second.getEntities())[0]->getString("a'b"), "c'd");
}

TEST_F(BspLoadTest, LoadFindsMapsThroughTheFileSystem) {
  MemoryIOSystem io;
  io.addFile("maps/small.bsp", kSmallMap);
  BspSpatialSystem w;
  EXPECT_TRUE(w.load("maps/small"));
  EXPECT_EQ(w.name(), "maps/small.bsp");
  EXPECT_EQ(w.getNumAreas(), 2);
  EXPECT_FALSE(w.load("maps/missing"));
  EXPECT_EQ(w.getNumAreas(), 0);
}

TEST_F(BspLoadTest, FactoriesMakeBothWorlds) {
  registerWorldFactories();
  ASSERT_NE(g_bspSpatialFactory, nullptr);
  ASSERT_NE(g_kdSpatialFactory, nullptr);
  SpatialSystem* bsp = g_bspSpatialFactory();
  SpatialSystem* kd = g_kdSpatialFactory();
  EXPECT_STREQ(bsp->getFileId(), "!BSP02");
  EXPECT_STREQ(kd->getFileId(), "!KDT");
  delete bsp;
  delete kd;
}

}  // namespace

namespace {

// The loading screen as the world's parse sees it: the values of "map_loading" and the frames
// drawn for them.
class RecordingLoadingGui : public UserInterface {
 public:
  const char* handleEvent(const UIInputEvent*, int, bool*) override { return ""; }
  void namedEvent(const char*) override {}
  void redraw(int) override {}
  void setStateString(const char*, const char*) override {}
  void setStateFloat(const char* name, float value) override {
    if (std::string(name) == "map_loading")
      values.push_back(value);
  }
  void activate(bool, int) override {}
  std::vector<float> values;
};

class CountingCommon : public NullCommon {
 public:
  void updateLoading() override { ++frames; }
  int frames = 0;
};

}  // namespace

// While the loading screen is up the bar follows the world's parse through the text, within the
// first quarter, a frame drawn for each step: after every top-level block and every model surface.
TEST(BspLoadProgress, TheLoadingBarMovesWhileTheWorldParses) {
  KeyDict::initPools();
  CaptureCmdSystem cmd;
  RecordingLoadingGui gui;
  CountingCommon common;
  g_activeGui = &gui;
  g_commonSystem = &common;
  BspSpatialSystem world;
  const bool loaded = world.loadText(worldtest::readSourceFile("demo/media/maps/demo.bsp").c_str());
  g_activeGui = nullptr;
  g_commonSystem = nullptr;
  ASSERT_TRUE(loaded) << cmd.output;
  // 7 models of one surface each and 2 prelight volumes (one step each), and the areaPortals, 9
  // model, leafs, nodes and entities blocks.
  ASSERT_EQ(gui.values.size(), 9u + 13u);
  EXPECT_EQ(common.frames, int(gui.values.size()));
  for (size_t i = 1; i < gui.values.size(); ++i)
    EXPECT_GE(gui.values[i], gui.values[i - 1]) << i;
  EXPECT_GT(gui.values.front(), 0.0f);
  EXPECT_NEAR(gui.values.back(), 0.25f, 0.01f);
}
