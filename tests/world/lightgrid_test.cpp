// ".lmf" light grids and lightmaps: trilinear samples against hand-computed values, the refusals
// of bad files, and loading beside a map through the file system.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "lib/fastmath.h"
#include "lib/keydict.h"
#include "tests/support/capturecmdsystem.h"
#include "tests/support/memoryiosystem.h"
#include "tests/world/worldtest_support.h"
#include "world/bspworld.h"

namespace {

void put32(std::vector<uint8_t>& out, int v) {
  for (int i = 0; i < 4; ++i)
    out.push_back(uint8_t(uint32_t(v) >> (8 * i)));
}
void putTag(std::vector<uint8_t>& out, const char* tag) {
  out.insert(out.end(), tag, tag + 4);
}

struct Cell {
  uint8_t ambient[3];
  uint8_t directed[3];
  uint16_t dir;
};

// A grid at `origin` with 10-unit cells; cells x fastest.
std::vector<uint8_t> makeLmf(const int counts[3], const std::vector<Cell>& cells, int gridSizeDelta = 0,
                             int numMaps = 1, int mapSize = 2, int bpp = 3, int cellSize = 10) {
  std::vector<uint8_t> out;
  putTag(out, "!LMF");
  putTag(out, "GRID");
  put32(out, 36 + int(cells.size()) * 8 + gridSizeDelta);
  for (int v : {0, 0, 0, cellSize, cellSize, cellSize, counts[0], counts[1], counts[2]})
    put32(out, v);
  for (const Cell& c : cells) {
    out.insert(out.end(), c.ambient, c.ambient + 3);
    out.insert(out.end(), c.directed, c.directed + 3);
    out.push_back(uint8_t(c.dir & 0xFF));
    out.push_back(uint8_t(c.dir >> 8));
  }
  putTag(out, "lmap");  // tags ignore case
  for (int v : {numMaps, mapSize, bpp, 0})
    put32(out, v);
  if (numMaps > 0)
    out.resize(out.size() + size_t(numMaps * mapSize * mapSize * bpp), 0x80);
  return out;
}

class LightGridTest : public ::testing::Test {
 protected:
  CaptureCmdSystem cmd_;
  void SetUp() override { KeyDict::initPools(); }
};

// Packed normals of +x and +z, found by decoding (the encoding belongs to the foundation).
uint16_t packedFor(const Vec3& want) {
  for (uint32_t b = 0; b < 65536; ++b) {
    Vec3 d = decodePackedNormal(uint16_t(b));
    if ((d - want).length() < 0.02f)
      return uint16_t(b);
  }
  return 0;
}

TEST_F(LightGridTest, TrilinearSamplesMatchHandValues) {
  const int counts[3] = {2, 1, 1};
  const uint16_t px = packedFor(Vec3(1, 0, 0)), pz = packedFor(Vec3(0, 0, 1));
  LightmapFile g;
  std::vector<uint8_t> bytes = makeLmf(counts, {{{255, 0, 0}, {0, 0, 255}, px}, {{51, 102, 0}, {255, 0, 0}, pz}});
  ASSERT_TRUE(parseLightmapFile(bytes.data(), bytes.size(), g, "t.lmf")) << cmd_.output;
  Vec3 amb, dir, direction;

  // On the origin: cell 0 with weight 1.
  sampleGrid(g, Vec3(0, 0, 0), amb, dir, direction);
  EXPECT_NEAR(amb.x, 1.0f, 1e-4f);
  EXPECT_NEAR(amb.y, 0.0f, 1e-4f);
  EXPECT_NEAR(dir.z, 1.0f, 1e-4f);
  EXPECT_NEAR(direction.x, 1.0f, 0.02f);

  // A quarter of the way: 0.75 of cell 0, 0.25 of cell 1 (y and z are single cells, so their
  // upper corners read the same row and the weights still sum to 1).
  sampleGrid(g, Vec3(2.5f, 0, 0), amb, dir, direction);
  EXPECT_NEAR(amb.x, 0.75f * 1.0f + 0.25f * 0.2f, 1e-3f);
  EXPECT_NEAR(amb.y, 0.25f * 0.4f, 1e-3f);
  EXPECT_NEAR(dir.x, 0.25f, 1e-3f);
  EXPECT_NEAR(dir.z, 0.75f, 1e-3f);
  // direction = normalise(0.75 x + 0.25 z)
  EXPECT_NEAR(direction.x, 0.75f / std::sqrt(0.75f * 0.75f + 0.25f * 0.25f), 0.03f);

  // Beyond the last cell everything clamps to cell 1. Below the grid the cell clamps to 0 and the
  // fraction stays in [0, 1) (floor), so weights never go negative: x = -5 mixes cells 0 and 1
  // half and half rather than extrapolating.
  sampleGrid(g, Vec3(100, 0, 0), amb, dir, direction);
  EXPECT_NEAR(amb.x, 0.2f, 1e-3f);
  sampleGrid(g, Vec3(-5, 0, 0), amb, dir, direction);
  EXPECT_NEAR(amb.x, 0.5f * 1.0f + 0.5f * 0.2f, 1e-3f);
  EXPECT_GE(amb.y, 0.0f);
}

TEST_F(LightGridTest, DarkCornersAreSkippedAndTheRestRenormalised) {
  const int counts[3] = {2, 1, 1};
  LightmapFile g;
  // Cell 1 has no ambient light but a directed one: it contributes nothing.
  std::vector<uint8_t> bytes = makeLmf(counts, {{{100, 100, 100}, {0, 0, 0}, 0}, {{0, 0, 0}, {255, 255, 255}, 0}});
  ASSERT_TRUE(parseLightmapFile(bytes.data(), bytes.size(), g, "t.lmf"));
  Vec3 amb, dir, direction;
  sampleGrid(g, Vec3(5, 0, 0), amb, dir, direction);
  // Total weight 0.5 < 0.99: ambient is scaled back up to cell 0's value.
  EXPECT_NEAR(amb.x, 100.0f / 255.0f, 1e-3f);
  EXPECT_NEAR(dir.x, 0.0f, 1e-6f);

  // No cells: everything zero.
  LightmapFile empty;
  sampleGrid(empty, Vec3(5, 0, 0), amb, dir, direction);
  EXPECT_EQ(amb, Vec3(0, 0, 0));
  EXPECT_EQ(direction, Vec3(0, 0, 0));
}

TEST_F(LightGridTest, RefusesBadFiles) {
  const int counts[3] = {2, 1, 1};
  const std::vector<Cell> cells = {{{1, 1, 1}, {0, 0, 0}, 0}, {{1, 1, 1}, {0, 0, 0}, 0}};
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    const char* message;
    bool gridKept;
  };
  std::vector<Case> cases;
  std::vector<uint8_t> badHeader = makeLmf(counts, cells);
  badHeader[0] = 'X';
  cases.push_back({"bad header", badHeader, "ERROR: invalid header for 't.lmf'", false});
  std::vector<uint8_t> badGrid = makeLmf(counts, cells);
  badGrid[4] = 'X';
  cases.push_back({"bad grid tag", badGrid, "expected 'GRID'", false});
  cases.push_back({"grid size below its header", makeLmf(counts, cells, -(36 + 16 + 1)), "bad light grid size", false});
  cases.push_back({"grid size off its counts", makeLmf(counts, cells, 8), "bad light grid size", false});
  cases.push_back({"zero cell size", makeLmf(counts, cells, 0, 1, 2, 3, 0), "bad light grid", false});
  const int negative[3] = {-2, -1, 1};
  cases.push_back({"negative counts", makeLmf(negative, cells), "bad light grid", false});
  cases.push_back({"two bytes a pixel", makeLmf(counts, cells, 0, 1, 2, 2), "bad lightmap header", true});
  cases.push_back({"negative lightmap count", makeLmf(counts, cells, 0, -1), "bad lightmap header", true});
  std::vector<uint8_t> badMapTag = makeLmf(counts, cells);
  badMapTag[48 + 16] = 'X';
  cases.push_back({"bad lightmap tag", badMapTag, "expected 'LMAP'", true});
  std::vector<uint8_t> full = makeLmf(counts, cells, 0, 3, 4, 4);
  for (size_t cut : {size_t(2), size_t(40), size_t(60), full.size() - 1}) {
    std::vector<uint8_t> shortFile(full.begin(), full.begin() + long(cut));
    cases.push_back({"short file", shortFile, "", cut >= 68});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    cmd_.output.clear();
    LightmapFile g;
    EXPECT_FALSE(parseLightmapFile(c.bytes.data(), c.bytes.size(), g, "t.lmf"));
    EXPECT_NE(cmd_.output.find(c.message), std::string::npos) << cmd_.output;
    EXPECT_EQ(!g.cells.empty(), c.gridKept);
    EXPECT_FALSE(g.hasMaps);
  }
}

TEST_F(LightGridTest, EmptyGridAndLoadingBesideTheMap) {
  const int none[3] = {0, 0, 0};
  LightmapFile g;
  std::vector<uint8_t> bytes = makeLmf(none, {});
  ASSERT_TRUE(parseLightmapFile(bytes.data(), bytes.size(), g, "t.lmf"));
  EXPECT_TRUE(g.cells.empty());

  MemoryIOSystem io;
  io.addFile("maps/demo.bsp", worldtest::readSourceFile("demo/media/maps/demo.bsp"));
  io.addFile("maps/demo.lmf", worldtest::readSourceFile("demo/media/maps/demo.lmf"));
  BspSpatialSystem w;
  ASSERT_TRUE(w.load("maps/demo"));
  EXPECT_FALSE(w.hasLightGrid());
  EXPECT_TRUE(w.loadLightmaps());  // no texture manager here: the grid still loads
  EXPECT_TRUE(w.hasLightGrid());
  EXPECT_FALSE(w.bindLightmap(-1));
  EXPECT_FALSE(w.bindLightmap(5));
  // The generator lights the first room from a light at (128, 128, 100) with radius 300.
  Vec3 amb, dir, direction;
  w.sampleLightGrid(Vec3(128, 128, 64), amb, dir, direction);
  EXPECT_GT(amb.x, 0.3f);
  w.sampleLightGrid(Vec3(384, 0, 0), amb, dir, direction);
  EXPECT_LT(amb.x, 0.3f);
  EXPECT_TRUE(w.freeLightmaps());
  EXPECT_FALSE(w.hasLightGrid());

  BspSpatialSystem bare;
  ASSERT_TRUE(bare.loadText("!BSP02"));
  EXPECT_FALSE(bare.loadLightmaps());  // no map name
  ASSERT_TRUE(bare.load("maps/demo"));
  io.files.erase("maps/demo.lmf");
  EXPECT_FALSE(bare.loadLightmaps());
  EXPECT_NE(cmd_.output.find("no lightmaps located in 'maps/demo.lmf'"), std::string::npos);
}

}  // namespace
