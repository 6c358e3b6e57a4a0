// The engine driving a game module: start-up, frames and shutdown in order,
// every way loading can fail, the zeroed block at shutdown, "-guionly", and
// the fixed game step under the frame's own clock.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "lib/interface/cmdsystem.h"
#include "lib/interface/convarsystem.h"
#include "lib/interface/iosystem.h"
#include "lib/interface/keybindsystem.h"
#include "lib/interface/memsystem.h"
#include "lib/interface/rendersystem.h"
#include "lib/interface/spatialsystem.h"
#include "lib/interface/systeminterface.h"
#include "lib/interface/userinterfacesystem.h"
#include "platform/dialog.h"
#include "platform/module.h"
#include "system/appwindowhandler.h"
#include "system/commonmanager.h"
#include "system/testgame/testgame.h"
#include "tests/support/nullkeybinds.h"

namespace fs = std::filesystem;

namespace {

uint32_t s_now = 0;
uint32_t fakeNow() {
  return s_now;
}
int s_slept = 0;
void fakeSleep(int milliseconds) {
  s_slept += milliseconds;
}

std::string s_boxText;
std::string s_boxCaption;
int s_boxes = 0;
int captureBox(void*, const char* text, const char* caption, PlatformDialogButtons,
               PlatformDialogAnswer answer) {
  ++s_boxes;
  s_boxText = text;
  s_boxCaption = caption;
  return answer;
}

class FakeGui : public UserInterface {
 public:
  void namedEvent(const char*) override {}
  void redraw(int) override { ++redraws; }
  void setStateString(const char* name, const char* text) override { state[name] = text; }
  void setStateFloat(const char*, float) override {}
  void activate(bool active, int) override { activations += active ? 1 : 0; }
  const char* handleEvent(const UIInputEvent*, int, bool*) override { return ""; }
  int redraws = 0;
  int activations = 0;
  std::map<std::string, std::string> state;
};

class FakeUi : public UserInterfaceSystem {
 public:
  UserInterface* findGui(const char* name, bool, bool) override {
    lastFound = name;
    return known.empty() || known == name ? &gui : nullptr;
  }
  void freeGui(UserInterface*) override { ++frees; }
  void frame(int) override { ++frames; }
  FakeGui gui;
  std::string known;
  std::string lastFound;
  int frees = 0;
  int frames = 0;
};

// The managers this suite needs: console variables, commands, files.
constexpr uint32_t kMask = 0x1 | 0x2 | 0x10;

class GameModuleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* base = std::getenv("QUILL_TEST_TMP");
    root_ = fs::path(base ? base : "/tmp") / "gamemodule" /
            ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::remove_all(root_);
    fs::create_directories(root_ / "media");
    oldCwd_ = fs::current_path();
    fs::current_path(root_);
    root_ = fs::current_path();  // as getcwd reports it

    // Held for the whole test: the module outlives the engine's free, so
    // its record can be read after shutdown.
    module_ = platformModuleLoad(QUILL_TEST_GAME_MODULE);
    ASSERT_NE(module_, nullptr);
    auto control =
        reinterpret_cast<TestGameControlFunction>(platformModuleSymbol(module_, kTestGameControlName));
    ASSERT_NE(control, nullptr);
    game_ = control();
    game_->reset();

    s_now = 1000;
    s_slept = 0;
    s_boxes = 0;
    s_boxText.clear();
    s_boxCaption.clear();
    platformSetDialogHook(captureBox, nullptr);
    createMemManager();
  }

  void TearDown() override {
    destroyAppWindowHandler();
    destroyCommonManager();
    g_uiSystem = nullptr;
    g_activeGui = nullptr;
    destroyMemManager();
    platformSetDialogHook(nullptr, nullptr);
    platformModuleFree(module_);
    fs::current_path(oldCwd_);
    fs::remove_all(root_);
  }

  void installModule(const char* path) { fs::create_symlink(path, root_ / "media" / "game.so"); }

  // The common manager and the handler, as createWindowAndCommon makes
  // them but without a window.
  AppWindowHandler* startEngine() {
    EXPECT_TRUE(getCommonManager()->init(nullptr, nullptr, kMask));
    AppWindowHandler* app = createAppWindowHandler();
    FrameClock clock;
    clock.now = fakeNow;
    clock.sleep = fakeSleep;
    app->setClock(clock);
    return app;
  }

  // The file the platform layer really tries for "game.dll": the load error names it.
  std::string modulePathText() const { return (root_ / "media" / "game.so").string(); }

  fs::path root_;
  fs::path oldCwd_;
  void* module_ = nullptr;
  TestGameControl* game_ = nullptr;
};

TEST_F(GameModuleTest, StartUpFramesAndShutdownCallTheGameInOrder) {
  installModule(QUILL_TEST_GAME_MODULE);
  AppWindowHandler* app = startEngine();
  ASSERT_TRUE(app->init(""));
  EXPECT_STREQ(app->modulePath(), (root_ / "media" / "game.dll").string().c_str())
      << "the name asked of the layer";
  EXPECT_STREQ(game_->calls, "GetGameAPI;init;getMenu;") << "no interface manager: no menu to hand over";

  const GameImports& imports = game_->firstImports;
  EXPECT_EQ(imports.version, 1u);
  EXPECT_EQ(imports.system, g_systemInterface);
  EXPECT_EQ(imports.common, g_commonSystem);
  EXPECT_EQ(imports.cmdSystem, g_cmdSystem);
  EXPECT_EQ(imports.conVarSystem, g_conVarSystem);
  EXPECT_EQ(imports.ioSystem, g_ioSystem);
  EXPECT_NE(imports.ioSystem, nullptr);
  EXPECT_EQ(imports.networkSystem, nullptr) << "absent managers are handed as null";
  EXPECT_EQ(imports.memManager, g_memManager);
  EXPECT_NE(g_gameInterface, nullptr);

  game_->calls[0] = '\0';
  for (int i = 0; i < 3; ++i) {
    s_now += 16;
    ASSERT_TRUE(app->frame());
  }
  EXPECT_STREQ(game_->calls, "runFrame;draw;runFrame;draw;runFrame;draw;");
  EXPECT_EQ(game_->stepMilliseconds, 16);

  game_->calls[0] = '\0';
  app->shutdown();
  EXPECT_STREQ(game_->calls, "shutdown;GetGameAPI;");
  EXPECT_EQ(game_->getGameApiCalls, 2);
  GameImports zeroed = {};
  zeroed.version = 1;
  EXPECT_EQ(std::memcmp(&game_->lastImports, &zeroed, sizeof(zeroed)), 0)
      << "the last call hands a zeroed block";
  EXPECT_EQ(g_gameInterface, nullptr);
  EXPECT_FALSE(app->moduleLoaded());
  EXPECT_EQ(s_boxes, 0);
}

TEST_F(GameModuleTest, AMissingModuleShowsTheLoadErrorBoxAndStops) {
  AppWindowHandler* app = startEngine();
  EXPECT_FALSE(app->init(""));
  EXPECT_TRUE(app->stopRequested());
  EXPECT_TRUE(app->startFailed()) << "a failed start is no quit: the process ends non-zero";
  EXPECT_EQ(s_boxes, 1);
  EXPECT_EQ(s_boxCaption, "Load Error");
  std::string prefix = "FAILED TO LOAD '" + modulePathText() + "'\nWORKING PATH: '" + root_.string() +
                       "'\nSYSTEM ERROR MSGS:\nerror code[";
  EXPECT_EQ(s_boxText.rfind(prefix, 0), 0u) << s_boxText;
  EXPECT_NE(s_boxText.find("game.so"), std::string::npos) << s_boxText;
  EXPECT_FALSE(app->frame());
  EXPECT_EQ(game_->getGameApiCalls, 0);
}

TEST_F(GameModuleTest, EachSilentLoadFailureStopsWithoutABox) {
  struct Case {
    const char* what;
    const char* module;
    int failure;
    int getGameApiCallsAfterShutdown;
  } cases[] = {
      {"no GetGameAPI", QUILL_TEST_NOAPI_MODULE, kTestGameOk, 0},
      {"a null block", QUILL_TEST_GAME_MODULE, kTestGameNullBlock, 2},
      {"a null game interface", QUILL_TEST_GAME_MODULE, kTestGameNullInterface, 2},
  };
  for (const Case& c : cases) {
    game_->reset();
    game_->failure = c.failure;
    fs::remove(root_ / "media" / "game.so");
    installModule(c.module);
    AppWindowHandler* app = startEngine();
    EXPECT_FALSE(app->init("")) << c.what;
    EXPECT_TRUE(app->stopRequested()) << c.what;
    EXPECT_TRUE(app->startFailed()) << c.what;
    EXPECT_EQ(g_gameInterface, nullptr) << c.what;
    EXPECT_FALSE(app->frame()) << c.what;
    EXPECT_EQ(s_boxes, 0) << c.what;
    EXPECT_EQ(std::strstr(game_->calls, "init;"), nullptr) << c.what << ": the game is never initialised";
    app->shutdown();
    EXPECT_EQ(game_->getGameApiCalls, c.getGameApiCallsAfterShutdown) << c.what;
    destroyAppWindowHandler();
    destroyCommonManager();
  }
}

TEST_F(GameModuleTest, GuiOnlyRunsTheNamedInterfaceWithoutTheModule) {
  installModule(QUILL_TEST_GAME_MODULE);
  FakeUi ui;
  ui.known = "guis/test.gui";
  g_uiSystem = &ui;
  AppWindowHandler* app = startEngine();
  ASSERT_TRUE(app->init("-guionly guis/test.gui -wndname \"Gui Only\""));
  EXPECT_EQ(game_->getGameApiCalls, 0);
  EXPECT_EQ(g_activeGui, &ui.gui);
  EXPECT_EQ(ui.gui.activations, 1) << "activated once, so it draws and takes input; no main menu over it";
  EXPECT_STREQ(app->windowText(), "Gui Only");
  s_now += 16;
  ASSERT_TRUE(app->frame());
  EXPECT_EQ(ui.gui.redraws, 1);
  EXPECT_EQ(ui.frames, 1);

  ui.known = "guis/other.gui";
  destroyAppWindowHandler();
  destroyCommonManager();
  g_activeGui = nullptr;
  app = startEngine();
  EXPECT_FALSE(app->init("-guionly guis/missing.gui")) << "an interface that cannot be opened stops the run";
  EXPECT_TRUE(app->startFailed());
  EXPECT_FALSE(app->frame());
}

TEST_F(GameModuleTest, TheMainMenuComesFromTheGameOrTheDefaultFile) {
  installModule(QUILL_TEST_GAME_MODULE);
  FakeUi ui;
  g_uiSystem = &ui;
  AppWindowHandler* app = startEngine();
  ASSERT_TRUE(app->init(""));
  EXPECT_EQ(ui.lastFound, "guis/mainmenu.gui");
  EXPECT_EQ(game_->menuSet, &ui.gui);
  EXPECT_EQ(g_activeGui, &ui.gui);
  EXPECT_EQ(ui.gui.activations, 1);

  FakeGui own;
  game_->menuAnswer = 2;
  game_->menuGui = &own;
  openMainMenu(false);
  EXPECT_EQ(game_->menuSet, &own);
  EXPECT_EQ(g_activeGui, &own);

  game_->menuAnswer = 3;
  game_->menuSet = nullptr;
  openMainMenu(false);
  EXPECT_EQ(game_->menuSet, nullptr) << "the game stored nothing: no menu";
}

// The "map" command takes the menu away before it loads; a load that fails brings the menu back
// on the next frame with the reason in its "map_message", which the next plain opening clears.
TEST_F(GameModuleTest, AFailedMapLoadReturnsToTheMainMenuWithTheReason) {
  installModule(QUILL_TEST_GAME_MODULE);
  FakeUi ui;
  g_uiSystem = &ui;
  AppWindowHandler* app = startEngine();
  ASSERT_TRUE(app->init(""));
  ASSERT_EQ(g_activeGui, &ui.gui);
  g_activeGui = nullptr;
  EXPECT_FALSE(g_commonSystem->loadMap("nosuchmap", 0, 0));
  s_now += 16;
  ASSERT_TRUE(app->frame());
  EXPECT_EQ(g_activeGui, &ui.gui);
  EXPECT_EQ(ui.gui.activations, 2);
  EXPECT_EQ(ui.gui.state["map_message"], "Map \"nosuchmap\" not found (no .bsp or .kdt in maps/)");
  s_now += 16;
  ASSERT_TRUE(app->frame());
  EXPECT_EQ(ui.gui.activations, 2) << "the reason is shown once";
  openMainMenu(true);
  EXPECT_EQ(ui.gui.state["map_message"], "");
}

TEST_F(GameModuleTest, TheFrameRunsFixedStepsFromItsClockAndCapsTheRate) {
  installModule(QUILL_TEST_GAME_MODULE);
  AppWindowHandler* app = startEngine();
  ASSERT_TRUE(app->init("vid_maxfps 10"));
  s_now += 1000;  // a long first frame: two steps, 8 ms kept
  ASSERT_TRUE(app->frame());
  EXPECT_EQ(game_->runFrames, 2);
  EXPECT_EQ(s_slept, 0) << "the frame is late: no sleep";
  s_now += 8;  // 8 + 8 = one more step
  ASSERT_TRUE(app->frame());
  EXPECT_EQ(game_->runFrames, 3);
  EXPECT_EQ(s_slept, 50) << "a 100 ms period sleeps at most 50 ms at once";
  EXPECT_EQ(game_->draws, 2);

  g_cmdSystem->executeText("timescale 0");
  s_now += 500;
  ASSERT_TRUE(app->frame());
  EXPECT_EQ(game_->runFrames, 3) << "timescale 0 stops the game";
  EXPECT_EQ(game_->draws, 3) << "but it still draws";

  g_cmdSystem->executeText("timescale 1; quit");
  EXPECT_FALSE(app->frame());
}

TEST_F(GameModuleTest, TheCommandLineRunsAsConsoleTextLast) {
  installModule(QUILL_TEST_GAME_MODULE);
  AppWindowHandler* app = startEngine();
  EXPECT_FALSE(app->init("-wndname \"My Title\" ; timescale 2 ; quit"));
  EXPECT_FALSE(app->startFailed()) << "\"quit\" on the command line is a normal end";
  EXPECT_STREQ(app->windowText(), "My Title");
  EXPECT_FLOAT_EQ(g_conVarSystem->find("timescale")->getFloat(), 2.0f);
  EXPECT_FALSE(app->frame()) << "\"quit\" on the command line ends the run at the first frame";
}

TEST_F(GameModuleTest, GameTextsBecomeCommandsAndScreens) {
  installModule(QUILL_TEST_GAME_MODULE);
  FakeUi ui;
  g_uiSystem = &ui;
  AppWindowHandler* app = startEngine();
  ASSERT_TRUE(app->init(""));
  const char* texts[] = {"map  \"test map\" extra", "DISCONNECT", "died", "victory; map other",
                         "unknown words"};
  for (const char* text : texts)
    std::snprintf(game_->scripted[game_->scriptedCount++], kGameCommandSize, "%s", text);

  game_->calls[0] = '\0';
  s_now += 16;
  ASSERT_TRUE(app->frame());
  EXPECT_NE(std::strstr(g_cmdSystem->bufferedText(), "map test map"), nullptr) << g_cmdSystem->bufferedText();
  int dictCopies = 0;
  for (const char* p = game_->calls; (p = std::strstr(p, "getPersistentDict;")); ++p)
    ++dictCopies;
  EXPECT_EQ(dictCopies, 32) << "the persistent dictionaries are saved before a map change";

  s_now += 16;
  ASSERT_TRUE(app->frame());
  EXPECT_NE(std::strstr(g_cmdSystem->bufferedText(), "disconnect"), nullptr);

  int activations = ui.gui.activations;
  s_now += 16;
  ASSERT_TRUE(app->frame());
  EXPECT_EQ(ui.lastFound, "guis/deadmenu.gui");
  EXPECT_EQ(ui.gui.activations, activations + 1);
  s_now += 16;
  ASSERT_TRUE(app->frame());
  EXPECT_EQ(ui.lastFound, "guis/victory.gui") << "only the first statement counts";

  ui.known = "guis/none.gui";
  s_now += 16;
  ASSERT_TRUE(app->frame());
  EXPECT_EQ(ui.lastFound, "guis/victory.gui");
}

TEST_F(GameModuleTest, AnUnterminatedGameTextIsCutAtItsLastByte) {
  installModule(QUILL_TEST_GAME_MODULE);
  AppWindowHandler* app = startEngine();
  ASSERT_TRUE(app->init(""));
  // The block is filled to its end; reading past it is what AddressSanitizer
  // would report here.
  std::snprintf(game_->scripted[0], kGameCommandSize, "disconnect ");
  game_->scriptedCount = 1;
  game_->unterminated = true;
  s_now += 16;
  ASSERT_TRUE(app->frame());
  EXPECT_NE(std::strstr(g_cmdSystem->bufferedText(), "disconnect"), nullptr);
}

class FakeKeys : public NullKeyBinds {
 public:
  int getMode() override { return mode; }
  int setMode(int value) override {
    modes.push_back(value);
    return mode = value;
  }
  void releaseAllKeys() override { ++releases; }
  int mode = 0;
  std::vector<int> modes;
  int releases = 0;
};

TEST_F(GameModuleTest, GameStartMenuOpensTheMenuUnderGameInputAndKeepsTheConsole) {
  installModule(QUILL_TEST_GAME_MODULE);
  FakeUi ui;
  g_uiSystem = &ui;
  FakeKeys keys;
  keys.mode = kKeyModeConsole | kKeyModeGui;  // the menu may not open by itself now
  g_keyBindSystem = &keys;
  AppWindowHandler* app = startEngine();
  ASSERT_TRUE(app->init(""));
  EXPECT_EQ(game_->menuSet, nullptr) << "mode 3 keeps the menu closed";
  app->handleGameCommand("game_startmenu");
  g_keyBindSystem = nullptr;
  EXPECT_EQ(game_->menuSet, &ui.gui);
  EXPECT_EQ(keys.modes, (std::vector<int>{kKeyModeGame, kKeyModeGame | kKeyModeConsole}));
  EXPECT_EQ(keys.releases, 1);
}

class FakeRender : public RenderSystem {
 public:
  bool init() override { return true; }
  void shutdown() override {}
  void setRenderView(const RenderView*, int) override { log += "view;"; }
  void clearScreen() override { log += "clear;"; }
  void drawText(const char* text, float x, float y, float, int, int align, const float* color) override {
    log += std::string("text ") + text + " " + std::to_string((int)x) + "," + std::to_string((int)y) +
           (align ? " right" : " left") + (color[0] == 0.5f ? " cyan;" : ";");
  }
  void endFrame() override { log += "end;"; }
  void mapLoaded() override {}
  void precacheInteractions() override {}
  void unloadMap() override {}
  void viewOrigin(float out[3]) override { out[0] = out[1] = out[2] = 0.0f; }
  std::string log;
};

TEST_F(GameModuleTest, AFrameClearsDrawsTheGameTheMenuAndTheRateThenEnds) {
  installModule(QUILL_TEST_GAME_MODULE);
  FakeUi ui;
  g_uiSystem = &ui;
  FakeRender render;
  g_renderSystem = &render;
  AppWindowHandler* app = startEngine();
  ASSERT_TRUE(app->init("com_showFPS 1"));
  render.log.clear();
  s_now += 16;
  ASSERT_TRUE(app->frame());
  g_renderSystem = nullptr;
  EXPECT_EQ(render.log, "clear;view;text fps: n/a 640,0 right cyan;end;");
  EXPECT_EQ(game_->draws, 1);
  EXPECT_EQ(ui.gui.redraws, 1) << "the open menu is drawn over the game";
}

class FakeWorld : public SpatialSystem {
 public:
  explicit FakeWorld(int* deleted) : deleted_(deleted) {}
  ~FakeWorld() override { ++*deleted_; }
  bool load(const char*) override { return true; }
  int pointToArea(const float*) override { return 0; }
  int* deleted_;
};

TEST_F(GameModuleTest, ShutdownUnloadsTheMapAndTellsTheGameOnce) {
  installModule(QUILL_TEST_GAME_MODULE);
  AppWindowHandler* app = startEngine();
  ASSERT_TRUE(app->init(""));
  int deleted = 0;
  g_spatialSystem = new FakeWorld(&deleted);
  EXPECT_TRUE(g_commonSystem->hasSpatialSystem());
  game_->calls[0] = '\0';
  app->shutdown();
  EXPECT_EQ(deleted, 1);
  EXPECT_EQ(g_spatialSystem, nullptr);
  EXPECT_STREQ(game_->calls, "mapUnloaded;shutdown;GetGameAPI;");
  g_commonSystem->unloadMap();
  EXPECT_EQ(deleted, 1) << "no world, no second unload";
}

TEST_F(GameModuleTest, AMapThatDoesNotExistFailsToLoadWithoutTouchingTheGame) {
  installModule(QUILL_TEST_GAME_MODULE);
  AppWindowHandler* app = startEngine();
  ASSERT_TRUE(app->init(""));
  game_->calls[0] = '\0';
  EXPECT_FALSE(g_commonSystem->loadMap("nowhere", 0, 0));
  EXPECT_STREQ(game_->calls, "") << "no world was loaded, so none is reported unloaded";
}

}  // namespace
