// The renderer's debug switches through the engine's own command line, in the sample map: each
// one changes the screenshot where its drawing belongs, and one frame after it is turned off none
// of its debug pixels are left. The debug commands exist and work.
#include "tests/render/scene/engine/enginetest.h"

#include "lib/interface/spatialsystem.h"
#include "lib/interface/texmanager.h"
#include "render/scene/rendermanager.h"

namespace {

using enginetest::countPixels;
using enginetest::Picture;

bool green(int r, int g, int b) {
  return g > r + 80 && g > b + 80;
}
bool blue(int r, int g, int b) {
  return b > r + 80 && b > g + 80;
}
bool cyan(int r, int g, int b) {
  return g > r + 80 && b > r + 80;
}
bool magenta(int r, int g, int b) {
  return r > 180 && b > 180 && g < 90;
}
// The pure red and orange of the edge lines (the bricks are darker and duller).
bool edgeColor(int r, int g, int b) { return r > 240 && b < 30 && (g < 30 || (g > 110 && g < 145)); }
bool white(int r, int g, int b) {
  return r > 235 && g > 235 && b > 235;
}
// The stencil overlay's colours, exact.
bool stencilColor(int r, int g, int b) {
  const bool pure = (r == 0 || r == 255) && (g == 0 || g == 255) && (b == 0 || b == 255);
  return pure && r + g + b > 0;
}

// Pixels of one kind inside a box given in fractions of the picture (rows top first).
int countIn(const Picture& p, double x0, double y0, double x1, double y1, bool (*test)(int, int, int)) {
  int n = 0;
  for (int y = int(y0 * p.height); y < int(y1 * p.height); y++)
    for (int x = int(x0 * p.width); x < int(x1 * p.width); x++) {
      const int row = p.topFirst ? y : p.height - 1 - y;
      const size_t at = 18 + (size_t(row) * size_t(p.width) + size_t(x)) * size_t(p.bpp);
      n += test(p.data[at + 2], p.data[at + 1], p.data[at]) ? 1 : 0;
    }
  return n;
}

class DebugSwitchesEngineTest : public enginetest::EngineTest {};

TEST_F(DebugSwitchesEngineTest, EachSwitchDrawsAndLeavesNothingAFrameAfterItIsOff) {
  // The sample game's sparks, streaks and circling spark fly on between the pictures compared, in
  // the colours the switches draw with: the comparisons are of the map and its switches alone.
  run("g_demoEffects 0\n");
  frames(3);
  run("map demo\n");
  ASSERT_NE(g_spatialSystem, nullptr);
  const Picture base = screenshot();
  ASSERT_GT(base.width, 0);

  struct Case {
    const char* on;
    const char* off;
    bool (*kind)(int, int, int);
    double box[4];  // where the drawing belongs
    int atLeast;
  };
  const Case cases[] = {
      // The door portal at x = 256, seen through the first room: its outline, green (passed).
      {"r_showPortals 1\n", "r_showPortals 0\n", green, {0.38, 0.30, 0.62, 0.70}, 200},
      // The light volumes' sides, filled blue.
      {"r_showLights 2\n", "r_showLights 0\n", blue, {0.0, 0.0, 1.0, 1.0}, 2000},
      // The world surfaces the lights reach, as cyan lines (below the cyan frame-rate text).
      {"r_showLightTris 1\n", "r_showLightTris 0\n", cyan, {0.0, 0.1, 1.0, 1.0}, 300},
      // Shadow counts of the stencil buffer over the picture in pure colours.
      {"r_debugStencil 1\n", "r_debugStencil 0\n", stencilColor, {0.0, 0.0, 1.0, 1.0}, 2000},
      // The shadow volumes' bounds as magenta boxes.
      {"r_showShadows 1\n", "r_showShadows 0\n", magenta, {0.0, 0.0, 1.0, 1.0}, 500},
      // The casters' edges for each light: red (static) and orange (entities) lines.
      {"r_showEdges 1\n", "r_showEdges 0\n", edgeColor, {0.0, 0.0, 1.0, 1.0}, 300},
      {"r_showSilhouette 1\n", "r_showSilhouette 0\n", edgeColor, {0.0, 0.0, 1.0, 1.0}, 100},
      // Every drawn triangle outlined in white.
      {"r_showtris 1\n", "r_showtris 0\n", white, {0.0, 0.0, 1.0, 1.0}, 2000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.on);
    const int before = countIn(base, c.box[0], c.box[1], c.box[2], c.box[3], c.kind);
    run(c.on);
    const Picture on = screenshot();
    const int drawn = countIn(on, c.box[0], c.box[1], c.box[2], c.box[3], c.kind);
    EXPECT_GT(drawn, before + c.atLeast) << "before " << before;
    run(c.off);
    const Picture off = screenshot(1);
    const int left = countIn(off, c.box[0], c.box[1], c.box[2], c.box[3], c.kind);
    // (Sparks and highlights move between frames: a little noise either way.)
    EXPECT_LE(left, before + c.atLeast / 5) << "drawn " << drawn << ", before " << before;
  }

  // Switches whose drawing the camera does not see from the start (the world origin stands behind
  // it) or that the moving sparks hide in a picture: what they queue for the frame, and that it
  // goes a frame after they are turned off. "r_showgridlight" reaches the renderer through the
  // spatial system's debug drawing.
  RenderManager* renderer = static_cast<RenderManager*>(g_renderSystem);
  const int quietPolygons = renderer->debugPolygons().num();
  const int quietLines = renderer->debugLines().num();
  for (const char* name : {"r_showgridlight", "r_showorigin"}) {
    SCOPED_TRACE(name);
    g_conVarSystem->setInt(name, 1);
    frames(2);
    // Light-grid cells: a box (6 sides) and an arrow head each; the axes: three arrows.
    EXPECT_GE(renderer->debugPolygons().num(), quietPolygons + 3);
    EXPECT_GE(renderer->debugLines().num(), quietLines + 3);
    g_conVarSystem->setInt(name, 0);
    frames(1);
    EXPECT_LE(renderer->debugPolygons().num(), quietPolygons);
    EXPECT_LE(renderer->debugLines().num(), quietLines);
  }

  // "r_showLights" also prints a line per visible light.
  EXPECT_TRUE(enginetest::consoleShows("numCachedSurfaces"));

  // "r_showTexture" shows a loaded image over a magenta box in the lower-left quarter.
  int loaded = -1;
  for (int i = 0; i < g_texManager->getNumImages() && loaded < 0; i++)
    if (ImageInterface* image = g_texManager->getImage(i); image && image->loaded && image->info.width >= 8)
      loaded = i;
  ASSERT_GE(loaded, 0);
  char text[64];
  std::snprintf(text, sizeof(text), "r_showTexture %d\n", g_texManager->getNumImages() + 5);
  run(text);
  EXPECT_LE(countIn(screenshot(1), 0.0, 0.5, 0.5, 1.0, magenta),
            countIn(base, 0.0, 0.5, 0.5, 1.0, magenta) + 50)
      << "no image of that index: nothing";
  run("r_showTexture 0\n");
  const Picture shown = screenshot(1);
  run("r_showTexture -1\n");
  const Picture hidden = screenshot(1);
  const int boxed = countIn(shown, 0.0, 0.5, 0.5, 1.0, magenta) + countIn(shown, 0.0, 0.5, 0.5, 1.0, white);
  const int bare = countIn(hidden, 0.0, 0.5, 0.5, 1.0, magenta) + countIn(hidden, 0.0, 0.5, 0.5, 1.0, white);
  EXPECT_GT(boxed, bare + shown.width * shown.height / 8)
      << "the lower-left quarter holds the image or its box";

  // The commands the queue-full warning names empty the queues: the portals' polygons (queued
  // with a lifetime of a second) go at once.
  run("r_showPortals 1\n");
  frames(2);
  EXPECT_GT(renderer->debugPolygons().num(), 0);
  run("clearDebugPolygons\n");
  EXPECT_EQ(renderer->debugPolygons().num(), 0);
  run("r_showPortals 0\n");
  g_conVarSystem->setInt("r_showEdges", 1);
  frames(1);
  g_conVarSystem->setInt("r_showEdges", 0);
  run("clearDebugLines\n");
  EXPECT_EQ(renderer->debugLines().num(), 0);

  // The debug commands exist; reloading the programs keeps the scene drawn.
  for (const char* name : {"reloadARBprograms", "clearDebugLines", "clearDebugPolygons"})
    EXPECT_NE(g_cmdSystem->findCommand(name), nullptr) << name;
  run("reloadARBprograms\n");
  const Picture reloaded = screenshot();
  EXPECT_NEAR(reloaded.mean(0.1, 0.1, 0.9, 0.9), base.mean(0.1, 0.1, 0.9, 0.9), 20.0);
}

}  // namespace
