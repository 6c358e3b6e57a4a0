// The engine with the staged sample content, headless and in process: 2D drawing blends by its
// materials (text over a bright fill shows the fill between its glyphs; the main menu's
// translucent panel shows the sky and the floor behind it), and a material whose text is refused
// (found first through "fs_game") is parsed and reported once however often it is drawn, and
// once more after "reloadDecls".
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

#include "lib/interface/cmdsystem.h"
#include "lib/interface/declsystem.h"
#include "lib/interface/gameinterface.h"
#include "lib/interface/rendersystem.h"
#include "lib/interface/userinterfacesystem.h"
#include "platform/clock.h"
#include "tests/support/engineinprocess.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kGameFolder = "drawtest_fsgame";
constexpr const char* kCommandLine = "fs_game drawtest_fsgame";

class DrawingEngineTest : public enginetest::InProcessEngineTest {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(makeGameFolder(kGameFolder));
    fs::create_directories(std::string(kGameFolder) + "/materials");
    std::ofstream(std::string(kGameFolder) + "/materials/drawtest.mtx")
        << "material drawtest/refused\n{\n\tfrobnicate 1 2\n\t{\n\t\tmap _white\n\t}\n}\n";
    startEngine(kCommandLine);
  }
  using Screen = enginetest::Screen;
};

TEST_F(DrawingEngineTest, TextOverABrightFillShowsTheFillBetweenItsGlyphs) {
  // Materials derive from DeclResource alone (single inheritance, first base): the same address.
  Material* white = reinterpret_cast<Material*>(g_declSystem->findMaterial("guiWhite", false));
  ASSERT_NE(white, nullptr);
  frames(2);
  g_renderSystem->setRenderView(nullptr, int(platformMilliseconds()));
  g_renderSystem->clearScreen();
  g_renderSystem->setColor(1.0f, 1.0f, 1.0f, 1.0f);
  g_renderSystem->drawStretchPic(white, 0.0f, 0.0f, 640.0f, 480.0f, 0.0f, 0.0f, 1.0f, 1.0f);
  static const float kBlack[4] = {0.0f, 0.0f, 0.0f, 1.0f};
  g_renderSystem->drawText("HHHHHHHH", 100.0f, 200.0f, 1.0f, 0, 0, kBlack);
  const Screen s = readScreen();
  g_renderSystem->endFrame();

  // Rows through the text: between its first and last dark pixel the fill must show (a glyph's
  // box drawn opaque would leave them dark from end to end).
  int best = 0;
  for (float y = 195.0f; y < 230.0f; y += 0.5f) {
    float first = -1.0f, last = -1.0f;
    for (float x = 90.0f; x < 300.0f; x += 0.25f)
      if (s.sum(x, y) < 150) {
        if (first < 0.0f)
          first = x;
        last = x;
      }
    if (first < 0.0f)
      continue;
    int bright = 0;
    for (float x = first; x <= last; x += 0.25f)
      bright += s.sum(x, y) > 600;
    best = std::max(best, bright);
  }
  EXPECT_GT(best, 40) << "no row through the text shows the fill between its glyphs";
  EXPECT_GT(s.sum(50.0f, 50.0f), 700) << "the fill itself";
}

TEST_F(DrawingEngineTest, TheMenuPanelShowsTheSkyAndTheFloorBehindIt) {
  frames(5);
  ASSERT_NE(g_activeGui, nullptr) << "the main menu is open";
  ASSERT_NE(g_gameInterface, nullptr);
  // One frame as the engine draws it: the game's scene, then the menu over it.
  const int time = int(platformMilliseconds());
  g_renderSystem->clearScreen();
  g_gameInterface->draw(0);
  g_activeGui->redraw(time);
  const Screen s = readScreen();
  g_renderSystem->endFrame();

  // The panel (180, 170, 280 x 290) spans the black sky at its top and the bright floor at its
  // bottom; its colour (0.04, 0.06, 0.10) at alpha 0.85 must let each through.
  int skyDarkest = 765, floorBrightest = 0;
  for (float x = 182.0f; x < 216.0f; x += 0.5f) {
    skyDarkest = std::min(skyDarkest, s.sum(x, 174.0f));
    floorBrightest = std::max(floorBrightest, s.sum(x, 456.0f));
  }
  EXPECT_GT(floorBrightest, skyDarkest + 30)
      << "panel over the floor " << floorBrightest << ", over the sky " << skyDarkest;
  EXPECT_LT(skyDarkest, 10 + 15 + 26) << "over the black sky the panel is darker than its own colour";
}

TEST_F(DrawingEngineTest, ARefusedMaterialIsParsedOnceAcrossAThousandFrames) {
  DeclResource* decl = g_declSystem->findMaterial("drawtest/refused", false);
  ASSERT_NE(decl, nullptr);
  Material* refused = reinterpret_cast<Material*>(decl);
  EXPECT_EQ(consoleLines("'frobnicate'"), 1) << "the refusal is said when the material is found";
  for (int i = 0; i < 1000; ++i) {
    g_renderSystem->setRenderView(nullptr, i * 16);
    g_renderSystem->drawStretchPic(refused, 10.0f, 10.0f, 100.0f, 100.0f, 0.0f, 0.0f, 1.0f, 1.0f);
    g_renderSystem->endFrame();
  }
  frames(5);
  EXPECT_EQ(consoleLines("'frobnicate'"), 1) << "drawn a thousand times, parsed once";
  EXPECT_EQ(decl->getState(), kDeclDefaulted);

  // A reload reads the text again and says so again, once.
  g_cmdSystem->executeText("reloadDecls");
  for (int i = 0; i < 100; ++i) {
    g_renderSystem->setRenderView(nullptr, i * 16);
    g_renderSystem->drawStretchPic(refused, 10.0f, 10.0f, 100.0f, 100.0f, 0.0f, 0.0f, 1.0f, 1.0f);
    g_renderSystem->endFrame();
  }
  EXPECT_EQ(consoleLines("'frobnicate'"), 2);
}

}  // namespace
