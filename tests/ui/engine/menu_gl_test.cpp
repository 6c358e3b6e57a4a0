// The engine with the sample content, headless: the main menu opens at start-up and draws, the
// mouse (synthesised platform input) hovers and clicks "Start", and the sample map loads behind
// the loading screen, whose bar follows the progress it is given; the settings screen changes a
// key binding and a console variable, and its button saves them with "writecfg".
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "lib/interface/cmdsystem.h"
#include "lib/interface/commonsystem.h"
#include "lib/interface/convarsystem.h"
#include "lib/interface/gameinterface.h"
#include "lib/interface/iosystem.h"
#include "lib/interface/keybindsystem.h"
#include "lib/interface/rendersystem.h"
#include "lib/interface/spatialsystem.h"
#include "lib/interface/texmanager.h"
#include "lib/interface/userinterfacesystem.h"
#include "platform/clock.h"
#include "tests/support/engineinprocess.h"
#include "ui/uirenderdef.h"
#include "ui/uiwindow.h"
#include "ui/userinterfacelocal.h"

namespace {

struct Rgb {
  int r, g, b;
};

class MenuEngineTest : public enginetest::InProcessEngineTest {
 protected:
  void SetUp() override { startEngine(""); }

  void framesFor(int milliseconds) {
    const uint32_t start = platformMilliseconds();
    while (int(platformMilliseconds() - start) < milliseconds)
      frames(1);
  }

  // The colour of a point of the 640 x 480 interface screen, drawn afresh with only `gui`.
  Rgb pixelAt(UserInterface* gui, float x, float y) { return brightestOnRow(gui, x, x, y); }

  // The brightest point between x0 and x1 on one row of the 640 x 480 interface screen, in one
  // frame drawn afresh with only `gui`.
  Rgb brightestOnRow(UserInterface* gui, float x0, float x1, float y) {
    const int time = int(platformMilliseconds());
    g_renderSystem->setRenderView(nullptr, time);
    g_renderSystem->clearScreen();
    gui->redraw(time);
    const enginetest::Screen frame = readScreen();
    g_renderSystem->endFrame();
    Rgb best{0, 0, 0};
    const int width = frame.width;
    const int row = int(y * float(frame.height) / 480.0f);  // rows come top first
    for (int px = int(x0 * float(width) / 640.0f); px <= int(x1 * float(width) / 640.0f); ++px) {
      const uint8_t* rgb = &frame.rgb[(size_t(row) * width + px) * 3];
      if (rgb[0] + rgb[1] + rgb[2] >= best.r + best.g + best.b)
        best = {rgb[0], rgb[1], rgb[2]};
    }
    return best;
  }
};

// Mouse input enters where the input devices hand it over: the key bindings, which route it to
// the full-screen interface while that owns the input.
void move(int dx, int dy) {
  g_keyBindSystem->mouseEvent(dx, dy, int(platformMilliseconds()));
}

void button(bool down) {
  g_keyBindSystem->keyEvent(kUIKeyMouse1, down);
}

std::string readFile(const std::string& path, bool* exists) {
  std::ifstream in(path, std::ios::binary);
  *exists = bool(in);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

TEST_F(MenuEngineTest, ClickingStartLoadsTheSampleMap) {
  frames(3);
  ASSERT_NE(g_activeGui, nullptr) << "the engine opens the main menu at start-up (game "
                                  << (g_gameInterface != nullptr) << ", input mode "
                                  << (g_keyBindSystem ? g_keyBindSystem->getMode() : -1) << ")";
  EXPECT_STREQ(g_activeGui->getName(), "guis/mainmenu.gui");
  UserInterfaceLocal* menu = static_cast<UserInterfaceLocal*>(g_activeGui);
  EXPECT_TRUE(menu->getStateBool("active"));
  ASSERT_NE(g_keyBindSystem, nullptr);
  EXPECT_TRUE(g_keyBindSystem->getMode() & kKeyModeGui) << "the menu owns the input";

  // The menu draws: its buttons stand out against the dark panel behind them (the rest of the
  // screen is left to the game's scene), once they have faded in.
  framesFor(500);
  const Rgb idle = pixelAt(menu, 230, 205);
  const Rgb panel = pixelAt(menu, 190, 180);
  EXPECT_GT(idle.b, panel.b + 40) << "the Start button's blue over the dark panel";
  EXPECT_LT(panel.r + panel.g + panel.b, 120);

  // No mouse has moved yet, so no cursor is drawn; its image was read with the first drawing all
  // the same, so that a damaged one says so at once.
  bool cursorRead = false;
  for (int i = 0; g_texManager && i < g_texManager->getNumImages(); ++i) {
    const ImageInterface* image = g_texManager->getImage(i);
    if (image && std::strcmp(image->name, "guis/assets/guicursor_arrow") == 0)
      cursorRead = image->loaded;
  }
  EXPECT_TRUE(cursorRead);

  // The mouse: into the corner, then onto "Start".
  move(-4000, -4000);
  frames(2);
  move(320, 224);
  frames(2);
  ASSERT_NE(menu->getFocusWindow(), nullptr);
  EXPECT_STREQ(menu->getFocusWindow()->getName(), "start") << menu->mouseX() << "," << menu->mouseY();
  framesFor(400);
  const Rgb hot = pixelAt(menu, 230, 205);
  EXPECT_GT(hot.r + hot.g + hot.b, idle.r + idle.g + idle.b + 60) << "the hover transition brightened it";

  // Click: the release runs "map demo"; the map loads behind the loading screen.
  button(true);
  frames(2);
  button(false);
  const uint32_t start = platformMilliseconds();
  while (!g_spatialSystem && platformMilliseconds() - start < 30000)
    frames(1);
  ASSERT_NE(g_spatialSystem, nullptr) << "the sample map loaded";
  EXPECT_STREQ(g_conVarSystem->find("g_mapname")->getString(), "demo.bsp");
  EXPECT_EQ(g_activeGui, nullptr) << "the menu and the loading screen are gone";
}

TEST_F(MenuEngineTest, TheLoadingBarFollowsTheProgress) {
  frames(2);
  UserInterface* loading = g_uiSystem->findGui("guis/map/loading.gui", true, false);
  ASSERT_NE(loading, nullptr);
  loading->setStateString("map_loadstatus", "processing entities");
  loading->setStateFloat("map_loading", 0.0f);
  loading->activate(true, 0);
  auto settle = [&] {
    const uint32_t begin = platformMilliseconds();
    while (platformMilliseconds() - begin < 400) {
      g_uiSystem->frame(int(platformMilliseconds()));
      loading->namedEvent("updateLoading");
    }
  };
  settle();
  // The bar spans 120..520 at y 240..256; "processing entities" fills 45 % of it.
  const Rgb filled = pixelAt(loading, 130, 248);
  const Rgb empty = pixelAt(loading, 480, 248);
  EXPECT_GT(filled.b, empty.b + 60) << "the filled part is bright blue, the rest dark";
  loading->setStateFloat("map_loading", 1.0f);
  loading->namedEvent("loadingComplete");
  settle();
  const Rgb full = pixelAt(loading, 480, 248);
  EXPECT_GT(full.b, empty.b + 60) << "the whole bar is filled when the load completes";
  g_uiSystem->freeGui(loading);
}

TEST_F(MenuEngineTest, TheSettingsScreenChangesABindingAndAVariableThatWritecfgSaves) {
  frames(3);
  ASSERT_NE(g_activeGui, nullptr);
  UserInterfaceLocal* menu = static_cast<UserInterfaceLocal*>(g_activeGui);
  // "writecfg" replaces the configuration beside the executable: keep what was there.
  const std::string path = g_ioSystem->buildOSPath(g_conVarSystem->getString("fs_basepath"), nullptr, "default.cfg");
  bool existed = false;
  const std::string before = readFile(path, &existed);
  struct Restore {
    std::string path, text;
    bool existed;
    ~Restore() {
      if (existed) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
      } else {
        std::remove(path.c_str());
      }
    }
  } restore{path, before, existed};

  // The mouse moves by relative steps: from the top-left corner to a point of the screen.
  auto pointAt = [&](int x, int y) {
    move(-4000, -4000);
    frames(1);
    move(x, y);
    frames(2);
  };
  auto click = [&] {
    button(true);
    frames(1);
    button(false);
    frames(2);
  };
  auto focus = [&] { return std::string(menu->getFocusWindow() ? menu->getFocusWindow()->getName() : "<none>"); };

  // Beside the panel the render window shows the sample tube, lit, over the cleared screen.
  // The tube leans with its clip's clock: look for it along the row through its lower half.
  const Rgb tube = brightestOnRow(menu, 500, 600, 360);
  const Rgb beside = pixelAt(menu, 500, 200);
  EXPECT_GT(tube.r + tube.g + tube.b, 60) << "the tube's lower half";
  EXPECT_LT(beside.r + beside.g + beside.b, 30) << "the window has no background of its own";
  // The engine's renderer poses the tube through the window's joint callback as the frames go by:
  // of three poses 300 ms apart, the later ones are not all the first (two equal poses straddle
  // a turn of the swing, and its turns are a second apart).
  UIRenderDef* tubeView = dynamic_cast<UIRenderDef*>(menu->getDesktop()->findChild("tubeView"));
  ASSERT_NE(tubeView, nullptr);
  ASSERT_EQ(tubeView->entity().callback, &UIRenderDef::jointCallback);
  ASSERT_GT(tubeView->entity().numJoints, 1);
  const int joints = tubeView->entity().numJoints;
  const std::vector<Mat4> firstPose(tubeView->jointMatrices(), tubeView->jointMatrices() + joints);
  float moved = 0.0f;
  for (int step = 0; step < 2; ++step) {
    framesFor(300);
    for (int j = 0; j < joints; ++j)
      for (int k = 0; k < 16; ++k)
        moved = std::max(moved, std::fabs(tubeView->jointMatrices()[j].m[k] - firstPose[size_t(j)].m[k]));
  }
  EXPECT_GT(moved, 0.01f) << "the tube swings in the engine's frames";

  UIWindow* settings = menu->getDesktop()->findChild("settings");
  ASSERT_NE(settings, nullptr);
  EXPECT_FALSE(settings->getBoolVar("visible", true));
  pointAt(320, 360);
  ASSERT_EQ(focus(), "openSettings");
  click();
  EXPECT_TRUE(settings->getBoolVar("visible", false)) << "the Settings button opens the screen";

  // "Move forward": click its key box, then press K.
  char keys[256];
  g_keyBindSystem->keysForCommand("_forward", keys);
  EXPECT_STREQ(keys, "w") << "the default binding";
  pointAt(430, 165);
  ASSERT_EQ(focus(), "bindForward");
  UIWindow* bindForward = menu->getFocusWindow();
  click();
  EXPECT_TRUE(bindForward->isCapturingKeys());
  g_keyBindSystem->keyEvent('k', true);
  frames(1);
  g_keyBindSystem->keyEvent('k', false);
  frames(1);
  EXPECT_FALSE(bindForward->isCapturingKeys());
  g_keyBindSystem->keysForCommand("_forward", keys);
  EXPECT_STREQ(keys, "k") << "the new key replaces the old one";
  std::string shown;
  bindForward->getVarText("text", nullptr, &shown);
  EXPECT_EQ(shown, "k");

  // "Shadows": one click steps to the next value, wrapping.
  const int shadows = g_conVarSystem->getInt("r_shadows");
  pointAt(430, 309);
  ASSERT_EQ(focus(), "shadows");
  click();
  EXPECT_EQ(g_conVarSystem->getInt("r_shadows"), shadows ? 0 : 1);
  menu->getFocusWindow()->getVarText("text", nullptr, &shown);
  EXPECT_EQ(shown, shadows ? "Off" : "On");

  // "Save and close" runs "writecfg" and closes the screen.
  pointAt(320, 430);
  ASSERT_EQ(focus(), "done");
  click();
  frames(2);
  EXPECT_FALSE(settings->getBoolVar("visible", true));
  bool written = false;
  const std::string saved = readFile(path, &written);
  ASSERT_TRUE(written) << path;
  EXPECT_NE(saved.find("setkey k                      \"_forward\"\n"), std::string::npos) << saved;
  EXPECT_EQ(saved.find("setkey w                      \"_forward\"\n"), std::string::npos) << saved;
  const std::string line = std::string("r_shadows                \"") + (shadows ? "0" : "1") + "\"\n";
  EXPECT_NE(saved.find(line), std::string::npos) << saved;
}

// The panel in the sample map's first room shows its interface on its screen; the game moves the
// interface's cursor to where the middle of the view meets the screen, so the button there lights
// up, and a turn of the view moves the light to another button. A click on the aimed panel
// triggers it.
TEST_F(MenuEngineTest, ThePanelInTheMapLightsTheButtonInTheMiddleOfTheView) {
  frames(2);
  g_cmdSystem->executeText("map demo");
  const uint32_t start = platformMilliseconds();
  while (!g_spatialSystem && platformMilliseconds() - start < 30000)
    frames(1);
  ASSERT_NE(g_spatialSystem, nullptr);
  UserInterface* panel = g_uiSystem->findGui("guis/panel.gui", false, false);
  ASSERT_NE(panel, nullptr) << "the map's panel loaded its interface";
  framesFor(600);
  ASSERT_EQ(g_activeGui, nullptr) << "the game has the input";
  ASSERT_EQ(g_keyBindSystem->getMode(), 4) << "the game owns the input";

  // Along the row through the middle of the view: where the buttons' blue lies, and where the lit
  // one lies within it (0 its left end, 1 its right end).
  const int width = g_conVarSystem->find("r_viewwidth")->getInt();
  const int height = g_conVarSystem->find("r_viewheight")->getInt();
  auto litPlace = [&](int* lit) {
    frames(1);
    const enginetest::Screen frame = readScreen();
    const uint8_t* row = &frame.rgb[size_t(height / 2) * width * 3];
    int blueMin = width, blueMax = -1;
    double litSum = 0.0;
    *lit = 0;
    for (int x = 0; x < width; ++x) {
      const int r = row[x * 3], g = row[x * 3 + 1], b = row[x * 3 + 2];
      if (b < r + 40 || b < g + 20)
        continue;
      blueMin = std::min(blueMin, x);
      blueMax = std::max(blueMax, x);
      if (b > 170) {
        litSum += x;
        ++*lit;
      }
    }
    if (*lit == 0 || blueMax <= blueMin)
      return -1.0;
    return (litSum / *lit - blueMin) / double(blueMax - blueMin);
  };
  int lit = 0;
  const double before = litPlace(&lit);
  EXPECT_GT(lit, width / 100) << "a lit button on the row";
  EXPECT_GT(before, 0.35) << "the middle button is the lit one";
  EXPECT_LT(before, 0.65);

  // Turn left a little: the middle of the view goes to another button, which takes the light.
  move(-80, 0);
  framesFor(600);
  const double after = litPlace(&lit);
  EXPECT_GT(lit, width / 100) << "still a lit button";
  EXPECT_TRUE(after >= 0.0 && (after < 0.33 || after > 0.67))
      << "lit at " << after << ", before at " << before;

  // A click while the panel is aimed at triggers it.
  EXPECT_STREQ(panel->getStateString("count.text"), "pressed 0");
  button(true);
  frames(2);
  button(false);
  frames(1);
  EXPECT_STREQ(panel->getStateString("count.text"), "pressed 1");
}
