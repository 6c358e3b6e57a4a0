// The ".kdt" world: the generated twin of the sample map answers point and box questions as the
// ".bsp" world of the same rooms does; the loader refuses bad trees; edge files load.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "lib/interface/convarsystem.h"
#include "lib/keydict.h"
#include "system/convarmanager.h"
#include "tests/support/capturecmdsystem.h"
#include "tests/world/worldtest_support.h"
#include "world/bspworld.h"
#include "world/kdworld.h"

namespace {

using worldtest::makeView;

class KDWorldTest : public ::testing::Test {
 protected:
  CaptureCmdSystem cmd_;
  void SetUp() override {
    KeyDict::initPools();
    getConVarManager();
  }
  void TearDown() override { destroyConVarManager(); }
};

TEST_F(KDWorldTest, AnswersMatchTheBspTwin) {
  BspSpatialSystem bsp;
  KDSpatialSystem kd;
  ASSERT_TRUE(bsp.loadText(worldtest::readSourceFile("demo/media/maps/demo.bsp").c_str())) << cmd_.output;
  ASSERT_TRUE(kd.loadText(worldtest::readSourceFile("demo/media/maps/demo.kdt").c_str())) << cmd_.output;
  EXPECT_STREQ(kd.getFileId(), "!KDT");
  ASSERT_EQ(kd.getNumAreas(), bsp.getNumAreas());
  EXPECT_EQ(kd.getBounds(), bsp.getBounds());
  EXPECT_EQ(kd.getEntities()->num(), bsp.getEntities()->num());
  EXPECT_EQ(kd.getNumPortals(), 0);

  // Points well inside each room (the kd-tree knows rooms by their model bounds).
  const Vec3 points[] = {{10, 10, 10}, {128, 200, 100}, {300, 10, 10}, {500, 250, 120}, {700, 128, 64}};
  for (const Vec3& p : points)
    EXPECT_EQ(kd.pointToArea(&p.x), bsp.pointToArea(&p.x)) << p.x;
  const Vec3 outside(2000, 0, 0);
  EXPECT_EQ(kd.pointToArea(&outside.x), -1);

  const Bounds boxes[] = {
      Bounds(Vec3(10, 10, 10), Vec3(20, 20, 20)),     Bounds(Vec3(250, 0, 0), Vec3(260, 10, 10)),
      Bounds(Vec3(300, 0, 0), Vec3(600, 10, 10)),     Bounds(Vec3(-10, -10, -10), Vec3(900, 300, 300)),
      Bounds(Vec3(1000, 0, 0), Vec3(1100, 10, 10)),
  };
  for (const Bounds& b : boxes) {
    int a[8], c[8];
    int na = kd.areasInBounds(b, a, 8);
    int nc = bsp.areasInBounds(b, c, 8);
    EXPECT_EQ(std::set<int>(a, a + na), std::set<int>(c, c + nc)) << b.mins.x << ".." << b.maxs.x;
  }

  SurfaceList list;
  kd.surfacesInBounds(list, Bounds(Vec3(300, 0, 0), Vec3(310, 10, 10)));
  ASSERT_EQ(list.num(), 1);
  EXPECT_EQ(list[0]->id, 1);

  // The frustum prunes: looking back from the first room reaches only that room.
  SpatialView back = makeView(Vec3(200, 128, 48), Vec3(-1, 0, 0));
  int out[8];
  int n = kd.areasVisibleFromView(&back, out, 8);
  EXPECT_EQ(std::set<int>(out, out + n), (std::set<int>{0}));
  // A view distance bounds the walk too.
  SpatialView near = makeView(Vec3(64, 128, 48), Vec3(1, 0, 0), 100.0f);
  n = kd.areasVisibleFromView(&near, out, 8);
  EXPECT_EQ(std::set<int>(out, out + n), (std::set<int>{0}));
  SpatialView far = makeView(Vec3(64, 128, 48), Vec3(1, 0, 0));
  n = kd.areasVisibleFromView(&far, out, 8);
  EXPECT_EQ(std::set<int>(out, out + n), (std::set<int>{0, 1, 2}));
  const int areas[] = {0};
  EXPECT_TRUE(kd.viewSeesAnyArea(areas, 1, &back));

  // No portals: connected everywhere, unit screen rectangles.
  EXPECT_TRUE(kd.areasConnected(0, 2, 0xFFFF));
  AreaBitArray bits;
  bits.resize(3);
  kd.getConnectedAreas(bits, 0, Vec3(0, 0, 0));
  EXPECT_EQ(bits.bytes[0], 0xFF);
  Bounds r;
  EXPECT_EQ(kd.getAreaScreenRect(r, 1), Bounds(Vec3(0, 0, 0), Vec3(1, 1, 1)));

  r_singlearea.setInt(2);
  kd.surfacesVisibleFromView(&list, &far, AreaBitArray());
  ASSERT_EQ(list.num(), 1);
  EXPECT_EQ(list[0]->id, 2);
}

TEST_F(KDWorldTest, EdgeFilesAndRefusals) {
  KDSpatialSystem kd;
  ASSERT_TRUE(kd.loadText("!KDT"));
  EXPECT_EQ(kd.getNumAreas(), 0);
  EXPECT_TRUE(kd.getBounds().isCleared());
  float p[3] = {0, 0, 0};
  EXPECT_EQ(kd.pointToArea(p), -1);  // an empty tree never answers with stale data

  ASSERT_TRUE(kd.loadText("!KDT nodes { 3 0 5 1 2 -1 0 -1 1 }"));
  EXPECT_EQ(kd.getNumAreas(), 2);
  EXPECT_EQ(kd.getAreaModel(0), nullptr);  // no model blocks: no models
  EXPECT_TRUE(kd.getBounds().isCleared());

  struct Case {
    const char* name;
    const char* text;
    const char* message;
  };
  const Case cases[] = {
      {"wrong header", "!BSP02", "while expecting '!KDT'"},
      {"child beyond the nodes", "!KDT nodes { 2 0 5 1 2 -1 0 }", "outside the tree or shared"},
      {"child names the root", "!KDT nodes { 2 0 5 0 1 -1 0 }", "outside the tree or shared"},
      {"shared child", "!KDT nodes { 2 0 5 1 1 -1 0 }", "outside the tree or shared"},
      {"cycle", "!KDT nodes { 3 -1 0 0 5 2 2 0 5 1 1 }", "outside the tree or shared"},
      {"unreached nodes", "!KDT nodes { 4 -1 0 0 1 2 3 -1 1 -1 2 }", "not below the root"},
      {"negative leaf area", "!KDT nodes { 1 -1 -4 }", "leaf area out of range"},
      {"second nodes block", "!KDT nodes { 1 -1 0 } nodes { 1 -1 0 }", "second nodes block"},
      {"huge count", "!KDT nodes { 99999999 }", "out of range"},
      {"bad number", "!KDT nodes { 1 -1 zero }", "expected an integer"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    cmd_.output.clear();
    EXPECT_FALSE(kd.loadText(c.text));
    EXPECT_NE(cmd_.output.find(c.message), std::string::npos) << cmd_.output;
  }
}

// A walk that meets more than 1024 leaves keeps the first 1024 areas.
TEST_F(KDWorldTest, AreaBufferKeepsTheFirst1024) {
  const int leaves = 1100;
  std::string text = "!KDT\n";
  for (int i = 0; i < leaves; ++i)
    text += "model { \"_area" + std::to_string(i) + "\" 1 { \"m\" 1 0 0 ( " + std::to_string(i) +
            " 0 0 ) ( 0 0 ) ( 0 0 ) ( 0 0 1 ) } }\n";
  text += "nodes { " + std::to_string(2 * leaves - 1) + "\n";
  // A chain: interior node 2i has leaf 2i+1 first and the next interior node 2i+2 second.
  for (int i = 0; i < leaves - 1; ++i) {
    text += "0 0 " + std::to_string(2 * i + 1) + " " + std::to_string(2 * i + 2) + "\n";
    text += "-1 " + std::to_string(i) + "\n";
  }
  text += "-1 " + std::to_string(leaves - 1) + "\n}";
  KDSpatialSystem kd;
  ASSERT_TRUE(kd.loadText(text.c_str())) << cmd_.output;
  ASSERT_EQ(kd.getNumAreas(), leaves);
  std::vector<int> out(2000);
  const Bounds all(Vec3(-1, -1, -1), Vec3(5000, 1, 1));
  ASSERT_EQ(kd.areasInBounds(all, out.data(), 2000), 1024);
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(out[1023], 1023);
  // The box prunes by position.
  ASSERT_EQ(kd.areasInBounds(Bounds(Vec3(1049.5f, -1, -1), Vec3(1050.5f, 1, 1)), out.data(), 2000), 1);
  EXPECT_EQ(out[0], 1050);
}

}  // namespace
