// The application window on the headless video driver: display modes, the
// window and its variables, the window procedure's message table, the video
// restart, and the display-mode failure box. The window carries a GL surface.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "lib/interface/cmdsystem.h"
#include "lib/interface/convarsystem.h"
#include "lib/interface/renderinterface.h"
#include "lib/interface/systeminterface.h"
#include "platform/dialog.h"
#include "system/appwindowhandler.h"
#include "system/commonmanager.h"

namespace {

std::vector<std::string> s_boxes;
int captureBox(void*, const char* text, const char* caption, PlatformDialogButtons,
               PlatformDialogAnswer answer) {
  s_boxes.push_back(std::string(caption) + "|" + text);
  return answer;
}

std::vector<int> s_hooked;
void hookA(const PlatformEvent& event) {
  s_hooked.push_back(event.type);
}

PlatformDisplayMode mode(int w, int h, int bpp, int hz) {
  PlatformDisplayMode m;
  m.width = w;
  m.height = h;
  m.bitsPerPixel = bpp;
  m.refreshRate = hz;
  return m;
}

std::string takeEvents() {
  std::string out;
  for (SystemEvent e = g_systemInterface->getEvent(); e.type; e = g_systemInterface->getEvent())
    out += std::to_string(e.type) + ":" + std::to_string(e.value) + ":" + std::to_string(e.value2) + ";";
  return out;
}

class AppWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    s_boxes.clear();
    s_hooked.clear();
    platformSetDialogHook(captureBox, nullptr);
    app_ = createAppWindowHandler();
  }
  void TearDown() override {
    destroyAppWindowHandler();
    platformSetDialogHook(nullptr, nullptr);
  }
  int var(const char* name) { return g_conVarSystem->find(name)->getInt(); }

  AppWindowHandler* app_ = nullptr;
};

TEST_F(AppWindowTest, OpensTheWindowInTheChosenModeAndPublishesItsVariables) {
  ASSERT_TRUE(app_->createWindowAndCommon(nullptr, 0x1 | 0x2));
  ASSERT_NE(app_->window(), nullptr);
  EXPECT_EQ(g_commonSystem->windowHandle(), app_->window());
  ASSERT_FALSE(app_->displayModes().empty()) << "the headless driver offers its desktop mode";
  const PlatformDisplayMode& chosen = app_->displayModes()[(size_t)var("r_mode")];
  EXPECT_GE(chosen.width, 640);
  EXPECT_EQ(chosen.bitsPerPixel, 32) << "bytes per pixel x 8";
  EXPECT_EQ(var("r_viewwidth"), chosen.width);
  EXPECT_EQ(var("r_viewheight"), chosen.height);
  EXPECT_EQ(var("r_colordepth"), 32);
  EXPECT_STREQ(app_->windowText(), "Quillmere, LLC");
  EXPECT_FALSE(app_->flags() & WindowHandler::kFlagFullScreen) << "the first window is windowed";
  EXPECT_NE(g_cmdSystem->findCommand("vid_restart"), nullptr);
  EXPECT_NE(g_cmdSystem->findCommand("listVideoModes"), nullptr);
  EXPECT_NE(g_cmdSystem->findCommand("showStringPool"), nullptr);
  EXPECT_FALSE(app_->createWindowAndCommon(nullptr, 0x1 | 0x2)) << "created once";

  g_cmdSystem->executeText("listVideoModes");
  char line[128];
  size_t last = app_->displayModes().size() - 1;
  std::snprintf(line, sizeof(line), "%-6d | %-6d | %-6d | %-6d\n", (int)last,
                app_->displayModes()[last].width, app_->displayModes()[last].height,
                app_->displayModes()[last].bitsPerPixel);
  EXPECT_STREQ(g_commonSystem->lastPrintedText(), line);
}

TEST_F(AppWindowTest, RModeMinusOnePicks640x480AtTheNextVideoRestart) {
  std::vector<PlatformDisplayMode> modes = {mode(800, 600, 32, 60), mode(640, 480, 32, 60),
                                            mode(1024, 768, 32, 60), mode(640, 480, 32, 75)};
  PlatformDisplayMode desktop = mode(1024, 768, 32, 60);
  app_->setModeSource(&modes, &desktop);
  ASSERT_TRUE(app_->createWindowAndCommon(nullptr, 0x1 | 0x2));
  EXPECT_EQ(var("r_mode"), 1) << "the default mode 1 exists here";
  EXPECT_EQ(var("r_viewwidth"), 800);
  g_cmdSystem->executeText("r_mode -1; vid_restart");
  EXPECT_EQ(var("r_mode"), 0);
  EXPECT_STREQ(g_conVarSystem->find("r_modelist")->getString(), " 640x480 ; 800x600 ;1024x768 ");
  EXPECT_EQ(var("r_viewwidth"), 640);
  EXPECT_EQ(app_->displayModes().size(), 3u);
}

// The configuration runs before the render device exists: the window the device is made on already
// has the configured mode, so no restart (a second build of every GL program) is owed afterwards.
TEST_F(AppWindowTest, TheConfigurationChoosesTheWindowTheRendererIsMadeOn) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("quill_cfgmode." + std::to_string(getpid()));
  fs::create_directories(dir / "media");
  std::ofstream(dir / "media" / "default.cfg") << "r_mode 2\nr_fullscreen 0\n";
  std::vector<PlatformDisplayMode> modes = {mode(800, 600, 32, 60), mode(640, 480, 32, 60), mode(1024, 768, 32, 60)};
  PlatformDisplayMode desktop = mode(1024, 768, 32, 60);
  app_->setModeSource(&modes, &desktop);
  const fs::path previous = fs::current_path();
  fs::current_path(dir);
  const bool started = app_->createWindowAndCommon(nullptr, 0x1 | 0x2 | 0x10 | 0x40);
  fs::current_path(previous);
  fs::remove_all(dir);
  ASSERT_TRUE(started);
  ASSERT_NE(g_renderInterface, nullptr);
  EXPECT_EQ(var("r_mode"), 2);
  EXPECT_EQ(var("r_viewwidth"), 1024) << "published before the renderer reads it";
  EXPECT_EQ(var("r_viewheight"), 768);
  int width = 0;
  int height = 0;
  platformWindowClientSize(app_->window(), &width, &height);
  EXPECT_EQ(width, 1024);
  EXPECT_EQ(height, 768);
  EXPECT_FALSE(app_->flags() & WindowHandler::kFlagFullScreen) << "as the configuration says";
  EXPECT_EQ(g_commonSystem->windowHandle(), app_->window()) << "the device's window is the handler's";
  EXPECT_TRUE(app_->windowMatchesVariables()) << "nothing left for a restart to apply";
  float viewport[4] = {};
  g_renderInterface->getViewport(viewport);
  EXPECT_EQ(viewport[2], 1024.0f);
  EXPECT_EQ(viewport[3], 768.0f);
}

TEST_F(AppWindowTest, NoUsableModeFailsWithTheEnumerationBox) {
  std::vector<PlatformDisplayMode> modes = {mode(320, 240, 32, 60), mode(800, 600, 16, 60)};
  PlatformDisplayMode desktop = mode(800, 600, 32, 60);
  app_->setModeSource(&modes, &desktop);
  EXPECT_FALSE(app_->createWindowAndCommon(nullptr, 0x1 | 0x2));
  ASSERT_EQ(s_boxes.size(), 1u);
  EXPECT_EQ(s_boxes[0],
            "ERROR: Enum Video Modes|Failed to enumerate for valid video modes...\nMinimum Requirement: "
            "640x480 32bit");
  EXPECT_EQ(app_->window(), nullptr);
  EXPECT_EQ(g_commonSystem, nullptr);
}

TEST_F(AppWindowTest, TheWindowProcedureTurnsMessagesIntoSystemEvents) {
  ASSERT_TRUE(app_->createWindowAndCommon(nullptr, 0x1 | 0x2));
  app_->addMessageHook(hookA);
  app_->addMessageHook(hookA);
  takeEvents();

  PlatformEvent e;
  e.type = kPlatformEventKeyDown;
  e.value = 0x1E;  // a
  app_->handleEvent(e);
  e.type = kPlatformEventKeyUp;
  app_->handleEvent(e);
  e.type = kPlatformEventKeyDown;
  e.value = 0x48;  // up arrow, extended
  e.value2 = 1;
  app_->handleEvent(e);
  e = PlatformEvent();
  e.type = kPlatformEventCharacter;
  e.value = 'Q';
  app_->handleEvent(e);
  e.type = kPlatformEventMouseWheel;
  e.value = 120;
  app_->handleEvent(e);
  e.value = -1;
  app_->handleEvent(e);
  e.value = 0;
  app_->handleEvent(e);
  EXPECT_EQ(takeEvents(), "1:97:1;1:97:0;1:132:1;2:81:0;1:184:1;1:184:0;1:183:1;1:183:0;");
  EXPECT_EQ(s_hooked.size(), 7u) << "each message reaches the hook once";

  e = PlatformEvent();
  e.type = kPlatformEventSize;
  e.value = 0;
  e.value2 = 333;
  app_->handleEvent(e);
  EXPECT_EQ(var("r_viewwidth"), 1);
  EXPECT_EQ(var("r_viewheight"), 333);

  e = PlatformEvent();
  e.type = kPlatformEventActivate;
  e.value = 0;
  app_->handleEvent(e);
  EXPECT_TRUE(app_->flags() & WindowHandler::kFlagInactive);
  e.value = 1;
  app_->handleEvent(e);
  EXPECT_FALSE(app_->flags() & WindowHandler::kFlagInactive);

  // Alt+Enter: full screen toggles and the video restarts in the next frame.
  int full = var("r_fullscreen");
  s_hooked.clear();
  e = PlatformEvent();
  e.type = kPlatformEventKeyDown;
  e.value = 0x1C;
  e.system = true;
  app_->handleEvent(e);
  EXPECT_EQ(var("r_fullscreen"), full ? 0 : 1);
  EXPECT_NE(std::string(g_cmdSystem->bufferedText()).find("vid_restart"), std::string::npos);
  EXPECT_EQ(takeEvents(), "") << "the key itself is not queued";
  EXPECT_TRUE(s_hooked.empty()) << "handled messages return before the hooks";

  e = PlatformEvent();
  e.type = kPlatformEventClose;
  app_->handleEvent(e);
  EXPECT_TRUE(app_->stopRequested()) << "closing the window ends the run";
}

TEST_F(AppWindowTest, VidRestartMakesANewWindowInTheRequestedMode) {
  ASSERT_TRUE(app_->createWindowAndCommon(nullptr, 0x1 | 0x2));
  g_cmdSystem->executeText("r_fullscreen 1; vid_restart");
  ASSERT_NE(app_->window(), nullptr);
  EXPECT_EQ(g_commonSystem->windowHandle(), app_->window()) << "the common manager follows the new window";
  EXPECT_TRUE(app_->flags() & WindowHandler::kFlagFullScreen);
  g_cmdSystem->executeText("r_fullscreen 0; vid_restart");
  ASSERT_NE(app_->window(), nullptr);
  EXPECT_FALSE(app_->flags() & WindowHandler::kFlagFullScreen);
  app_->pumpMessages();
  EXPECT_FALSE(app_->stopRequested());
}

}  // namespace
