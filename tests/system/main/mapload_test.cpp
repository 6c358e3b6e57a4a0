// Map loading against the recording game module: the order of the game's calls, which map file
// kind wins, refusals and world failures, the loading screen's texts under an injected clock, and
// the event pump's handling of network packets.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "lib/interface/cmdsystem.h"
#include "lib/interface/convarsystem.h"
#include "lib/interface/keybindsystem.h"
#include "lib/interface/memsystem.h"
#include "lib/interface/networksystem.h"
#include "network/bitmsg.h"
#include "lib/interface/soundsystem.h"
#include "lib/interface/spatialsystem.h"
#include "lib/interface/systeminterface.h"
#include "lib/interface/userinterfacesystem.h"
#include "lib/interface/videoplayer.h"
#include "platform/dialog.h"
#include "platform/module.h"
#include "system/commonmanager.h"
#include "system/testgame/testgame.h"
#include "tests/support/nullkeybinds.h"

namespace fs = std::filesystem;

namespace {

// What the worlds and the loading screen did, in order.
std::vector<std::string> s_log;

uint32_t s_now = 0;
uint32_t fakeNow() {
  return s_now;
}
int s_sleeps = 0;
void fakeSleep(int milliseconds) {
  ++s_sleeps;
  s_now += uint32_t(milliseconds);
}

bool s_worldLoads = true;
int s_worldsAlive = 0;

class FakeWorld : public SpatialSystem {
 public:
  explicit FakeWorld(const char* kind) : kind_(kind) {
    ++s_worldsAlive;
    s_log.push_back(std::string("create ") + kind);
  }
  ~FakeWorld() override {
    --s_worldsAlive;
    s_log.push_back("delete " + kind_);
  }
  bool load(const char* path) override {
    s_log.push_back(std::string("load ") + path);
    return s_worldLoads;
  }
  int pointToArea(const float*) override { return 0; }
  std::string kind_;
};
SpatialSystem* makeBsp() {
  return new FakeWorld("bsp");
}
SpatialSystem* makeKdt() {
  return new FakeWorld("kdt");
}

class FakeGui : public UserInterface {
 public:
  void namedEvent(const char* name) override {
    if (std::strcmp(name, "updateLoading") != 0)
      s_log.push_back(std::string("event ") + name);
  }
  void redraw(int) override { ++redraws; }
  void setStateString(const char* name, const char* text) override {
    s_log.push_back(std::string(name) + "=" + text);
  }
  void setStateFloat(const char* name, float value) override {
    s_log.push_back(std::string(name) + "=" + std::to_string(int(value)));
  }
  void activate(bool active, int) override { s_log.push_back(active ? "activate" : "deactivate"); }
  const char* handleEvent(const UIInputEvent*, int, bool*) override { return ""; }
  int redraws = 0;
};

class FakeUi : public UserInterfaceSystem {
 public:
  UserInterface* findGui(const char* name, bool, bool) override {
    s_log.push_back(std::string("find ") + name);
    return known == name ? &gui : nullptr;
  }
  void freeGui(UserInterface* freed) override { s_log.push_back(freed == &gui ? "free gui" : "free other"); }
  void frame(int) override {}
  FakeGui gui;
  std::string known;
};

class FakeSound : public SoundSystem {
 public:
  void update() override {}
  void setMuted(bool muted) override { s_log.push_back(muted ? "mute" : "unmute"); }
  void stopAllSounds() override { s_log.push_back("stop sounds"); }
  void stopAllEmitters() override { s_log.push_back("stop emitters"); }
  void fadeOutAllEmitters() override { s_log.push_back("fade emitters"); }
  int playLocalSound(const char* name, int channel, int flags) override {
    s_log.push_back("play " + std::string(name) + " " + std::to_string(channel) + " " +
                    std::to_string(flags));
    return 0;
  }
  void setBackground(bool) override {}
  void setSoundWindow(void*) override {}
  SoundEmitter* allocSoundEmitter() override { return nullptr; }
  void fadeSoundClass(int, float, float) override {}
  float currentFadeLevel(int) override { return 0.0f; }
  int playLocalShader(SoundShader*, int, int) override { return 0; }
  void stopLocalSound(int channel) override { s_log.push_back("stop local " + std::to_string(channel)); }
  bool fadeLocalSound(float, float, int) override { return false; }
  int localSoundPosition(int) override { return 0; }
  SoundStream* openAnalysisStream(const char*, SoundVisState*) override { return nullptr; }
  bool analyzeStream(SoundStream*, SoundVisState*, int64_t) override { return false; }
  void closeStream(SoundStream*) override {}
  int streamBytesPerSecond(SoundStream*) override { return 0; }
  int streamBytesPerFrame(SoundStream*) override { return 0; }
  void setListener(const Vec3&, const Mat3&, const Vec3&, bool) override {}
};

constexpr uint32_t kMask = 0x1 | 0x2 | 0x10;  // console variables, commands, files

class MapLoadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* base = std::getenv("QUILL_TEST_TMP");
    root_ = fs::path(base ? base : "/tmp") / "mapload" /
            ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::remove_all(root_);
    fs::create_directories(root_ / "media" / "maps");
    oldCwd_ = fs::current_path();
    fs::current_path(root_);

    module_ = platformModuleLoad(QUILL_TEST_GAME_MODULE);
    ASSERT_NE(module_, nullptr);
    auto control =
        reinterpret_cast<TestGameControlFunction>(platformModuleSymbol(module_, kTestGameControlName));
    auto getApi = reinterpret_cast<GetGameAPIFunction>(platformModuleSymbol(module_, kGetGameAPIName));
    ASSERT_TRUE(control && getApi);
    game_ = control();
    game_->reset();

    createMemManager();
    common_ = getCommonManager();
    ASSERT_TRUE(common_->init(nullptr, nullptr, kMask));
    FrameClock clock;
    clock.now = fakeNow;
    clock.sleep = fakeSleep;
    common_->setClock(clock);
    g_cmdSystem->setOutput(capture, this);

    GameImports imports = {};
    imports.version = kGameApiVersion;
    GameExports* exports = getApi(&imports);
    ASSERT_TRUE(exports && exports->game);
    g_gameInterface = exports->game;
    game_->calls[0] = '\0';

    savedBsp_ = g_bspSpatialFactory;
    savedKdt_ = g_kdSpatialFactory;
    g_bspSpatialFactory = makeBsp;
    g_kdSpatialFactory = makeKdt;
    s_log.clear();
    s_now = 5000;
    s_sleeps = 0;
    s_worldLoads = true;
    s_worldsAlive = 0;
  }

  void TearDown() override {
    g_uiSystem = nullptr;
    g_soundSystem = nullptr;
    if (common_)
      common_->unloadMap();
    EXPECT_EQ(s_worldsAlive, 0) << "every world made is deleted";
    g_gameInterface = nullptr;
    g_uiSystem = nullptr;
    g_activeGui = nullptr;
    g_soundSystem = nullptr;
    g_bspSpatialFactory = savedBsp_;
    g_kdSpatialFactory = savedKdt_;
    destroyCommonManager();
    destroyMemManager();
    if (module_)
      platformModuleFree(module_);
    fs::current_path(oldCwd_);
    fs::remove_all(root_);
  }

  static void capture(void* user, const char* text) { static_cast<MapLoadTest*>(user)->output_ += text; }

  void addMap(const std::string& name) { std::ofstream(root_ / "media" / "maps" / name) << "map\n"; }

  // The game's calls with runs of one name counted: "setPersistentDict*32;loadMap;...".
  std::string calls() const {
    std::string out;
    std::string text = game_->calls;
    std::string previous;
    int run = 0;
    auto flush = [&]() {
      if (run)
        out += previous + (run > 1 ? "*" + std::to_string(run) : "") + ";";
    };
    size_t start = 0;
    for (size_t end; (end = text.find(';', start)) != std::string::npos; start = end + 1) {
      std::string name = text.substr(start, end - start);
      if (name == previous) {
        ++run;
        continue;
      }
      flush();
      previous = name;
      run = 1;
    }
    flush();
    return out;
  }

  fs::path root_;
  fs::path oldCwd_;
  void* module_ = nullptr;
  TestGameControl* game_ = nullptr;
  CommonManager* common_ = nullptr;
  SpatialSystemFactory savedBsp_ = nullptr;
  SpatialSystemFactory savedKdt_ = nullptr;
  std::string output_;
  FakeUi ui_;
  FakeSound sound_;
};

TEST_F(MapLoadTest, ALoadHandsTheGameItsDictionariesTheMapAndTenZeroedSteps) {
  addMap("base.bsp");
  ASSERT_TRUE(common_->loadMap("base", 1, 2));
  EXPECT_EQ(calls(), "setPersistentDict*32;loadMap;runFrame*10;") << "no map was loaded: no mapUnloaded";
  EXPECT_STREQ(game_->lastMapName, "base.bsp");
  EXPECT_EQ(game_->lastMapArgs[0], 1);
  EXPECT_EQ(game_->lastMapArgs[1], 2);
  EXPECT_EQ(game_->lastMapArgs[2], 0);
  EXPECT_EQ(game_->stepMilliseconds, 16);
  EXPECT_EQ(game_->nonZeroCommandSteps, 0);
  EXPECT_STREQ(g_conVarSystem->getString("g_mapname"), "base.bsp");
  EXPECT_TRUE(common_->hasSpatialSystem());
  EXPECT_EQ(s_log, (std::vector<std::string>{"create bsp", "load maps/base.bsp"}));

  // Loading over it unloads the old world first, and the game hears of it once.
  game_->calls[0] = '\0';
  s_log.clear();
  ASSERT_TRUE(common_->loadMap("base.kdt", 0, 0));
  EXPECT_EQ(calls(), "mapUnloaded;setPersistentDict*32;loadMap;runFrame*10;");
  EXPECT_EQ(s_log, (std::vector<std::string>{"delete bsp", "create bsp", "load maps/base.bsp"}));
}

TEST_F(MapLoadTest, TheBspFileWinsOverTheKdTreeFile) {
  struct Case {
    std::vector<std::string> files;
    const char* request;
    const char* kind;  // null: no map
  } cases[] = {
      {{"both.bsp", "both.kdt"}, "both", "create bsp"},
      {{"tree.kdt"}, "tree.bsp", "create kdt"},
      {{"flat.bsp"}, "flat.kdt", "create bsp"},
      {{}, "nowhere", nullptr},
  };
  for (const Case& c : cases) {
    for (const std::string& file : c.files)
      addMap(file);
    s_log.clear();
    game_->calls[0] = '\0';
    EXPECT_EQ(common_->loadMap(c.request, 0, 0), c.kind != nullptr) << c.request;
    if (c.kind) {
      EXPECT_EQ(s_log.at(s_log.size() - 2), c.kind) << c.request;
    }
    common_->unloadMap();
  }
  EXPECT_EQ(calls(), "") << "a missing map touches neither the game nor the world";
}

TEST_F(MapLoadTest, ARefusalOrAFailedWorldUnloadsAndReportsFalse) {
  addMap("base.bsp");
  ui_.known = "guis/map/loading.gui";
  g_uiSystem = &ui_;
  g_soundSystem = &sound_;

  game_->refuseLoadMap = true;
  EXPECT_FALSE(common_->loadMap("base", 0, 0));
  EXPECT_EQ(calls(), "setPersistentDict*32;loadMap;mapUnloaded;") << "no steps after a refusal";
  EXPECT_FALSE(common_->hasSpatialSystem());
  EXPECT_EQ(s_worldsAlive, 0);
  // The loading screen still finishes and the sound comes back.
  ASSERT_GE(s_log.size(), 6u);
  EXPECT_EQ(std::vector<std::string>(s_log.end() - 6, s_log.end()),
            (std::vector<std::string>{"delete bsp", "fade emitters", "map_loading=1", "event loadingComplete",
                                      "unmute", "free gui"}));
  EXPECT_EQ(g_activeGui, nullptr);

  game_->refuseLoadMap = false;
  game_->calls[0] = '\0';
  s_worldLoads = false;
  EXPECT_FALSE(common_->loadMap("base", 0, 0));
  EXPECT_EQ(calls(), "") << "a world that does not load never reaches the game";
  EXPECT_EQ(s_worldsAlive, 0);
}

TEST_F(MapLoadTest, TheLoadingScreenShowsEachStageInOrder) {
  addMap("base.bsp");
  ui_.known = "guis/map/base.gui";
  g_uiSystem = &ui_;
  g_soundSystem = &sound_;
  ASSERT_TRUE(common_->loadMap("base", 0, 0));
  const std::vector<std::string> expected = {
      "fade emitters",  // the unload before the load
      "mute",
      "find guis/map/base.gui",
      "map_loadstatus=loading spatial system",
      "map_loading=0",
      "activate",
      "create bsp",
      "load maps/base.bsp",
      "stop emitters",
      "map_loadstatus=processing entities",
      "map_loadstatus=normalizing physics",
      "map_loadstatus=pre-caching evironment interactions",
      "map_loading=1",
      "event loadingComplete",
      "unmute",
      "free gui",
  };
  // The world was created by mapFileName before the screen opened.
  std::vector<std::string> log = s_log;
  log.erase(std::remove(log.begin(), log.end(), "create bsp"), log.end());
  std::vector<std::string> want = expected;
  want.erase(std::remove(want.begin(), want.end(), "create bsp"), want.end());
  EXPECT_EQ(log, want);
  EXPECT_GT(ui_.gui.redraws, 0);
  EXPECT_EQ(g_activeGui, nullptr);
  EXPECT_EQ(s_sleeps, 2 * 64) << "two waits of 1,000 ms in 16 ms steps";

  // Without the map's own screen the common one is opened.
  s_log.clear();
  ui_.known = "guis/map/loading.gui";
  ASSERT_TRUE(common_->loadMap("base", 0, 0));
  std::vector<std::string> finds;
  for (const std::string& entry : s_log)
    if (entry.rfind("find ", 0) == 0)
      finds.push_back(entry);
  EXPECT_EQ(finds, (std::vector<std::string>{"find guis/map/base.gui", "find guis/map/loading.gui"}));
}

TEST_F(MapLoadTest, WaitLoadingWaitsSixteenMillisecondsLonger) {
  common_->waitLoading(1000);
  EXPECT_GE(s_now - 5000, 1016u);
  EXPECT_EQ(s_sleeps, 64);
  s_sleeps = 0;
  common_->waitLoading(0);
  EXPECT_EQ(s_sleeps, 1);
}

TEST_F(MapLoadTest, AMissingWorldLoadsOnlyWhenAllowed) {
  EXPECT_FALSE(common_->loadMap("nowhere", 0, 0));
  common_->setAllowMissingWorld(true);
  EXPECT_TRUE(common_->loadMap("nowhere", 0, 0));
  EXPECT_STREQ(game_->lastMapName, "");
  EXPECT_STREQ(g_conVarSystem->getString("g_mapname"), "");
  EXPECT_FALSE(common_->hasSpatialSystem());
  game_->calls[0] = '\0';
  common_->unloadMap();
  EXPECT_EQ(calls(), "mapUnloaded;") << "an allowed empty world counts as a map";
  common_->setAllowMissingWorld(false);
}

TEST_F(MapLoadTest, AKindWithoutAFactoryFailsWithAMessage) {
  addMap("base.bsp");
  addMap("base.kdt");
  g_bspSpatialFactory = nullptr;
  output_.clear();
  EXPECT_FALSE(common_->loadMap("base", 0, 0));
  EXPECT_EQ(output_, "WARNING: no spatial system for '.bsp' maps: cannot load 'maps/base.bsp'\n");
  EXPECT_EQ(calls(), "");
}

TEST_F(MapLoadTest, SaveGameDictsCopiesTheGamesDictionaries) {
  common_->persistentDict(3).set("kept", "no");
  common_->saveGameDicts();
  EXPECT_EQ(calls(), "getPersistentDict*32;");
  EXPECT_EQ(common_->persistentDict(3).count(), 0) << "the game had none";
}

// The event pump: a packet too large for the bit message is dropped, the next one still arrives.
class CountingNet : public NetworkSystem {
 public:
  void frame(int) override {}
  const UserCmd* getUserCmds() override { return nullptr; }
  int getTime() override { return 0; }
  bool getPacket(BitMsg&, NetAddress&) override { return false; }
  void packetEvent(const NetAddress& from, BitMsg& msg) override {
    lengths.push_back(msg.getWriteBit() / 8);
    ports.push_back(from.port);
  }
  std::vector<int> lengths;
  std::vector<int> ports;
};

TEST_F(MapLoadTest, PacketsTooLargeForTheMessageAreDroppedAndFreed) {
  CountingNet net;
  g_networkSystem = &net;
  for (int payload : {16385, 16384, 0}) {
    const int length = payload + 6;
    auto* data = new uint8_t[size_t(length)];  // the queue's owner frees it
    std::memset(data, 0, size_t(length));
    data[4] = 0x10;  // port 16, little-endian
    queueSystemEvent(kSystemEventPacket, 0, 0, length, data);
  }
  common_->processEvents();
  g_networkSystem = nullptr;
  EXPECT_EQ(net.lengths, (std::vector<int>{16384, 0}));
  EXPECT_EQ(net.ports, (std::vector<int>{16, 16}));
}

}  // namespace

namespace {

std::string s_boxText;
int answerCancel(void*, const char* text, const char*, PlatformDialogButtons, PlatformDialogAnswer) {
  s_boxText = text;
  return PLATFORM_ANSWER_CANCEL;
}

TEST_F(MapLoadTest, TheAssertBoxCarriesTheCallStackAndMapsTheAnswer) {
  platformSetDialogHook(answerCancel, nullptr);
  EXPECT_EQ(common_->assertBox("x > 0", "assert"), 2);
  platformSetDialogHook(nullptr, nullptr);
  ASSERT_EQ(s_boxText.rfind("x > 0\n", 0), 0u) << s_boxText;
  EXPECT_NE(s_boxText.find("0x"), std::string::npos) << "frames follow the text: " << s_boxText;
  EXPECT_EQ(std::string(common_->lastPrintedText()).rfind("assert: x > 0\n", 0), 0u);
}

// A video of a number of frames: each draw shows the next.
class FakeVideo : public VideoPlayer {
 public:
  void* open(const char* name, int flags) override {
    s_log.push_back("open " + std::string(name) + " " + std::to_string(flags));
    return exists ? this : nullptr;
  }
  bool isAtEnd(void*) override { return drawn >= frames; }
  void draw(void*, float x, float y, float w, float h, float s0, float t0, float s1, float t1) override {
    ++drawn;
    EXPECT_TRUE(x == 0 && y == 0 && w == 640 && h == 480 && s0 == 0 && t0 == 0 && s1 == 1 && t1 == 1);
  }
  void setExpressionParms(const float* parms) override {
    if (!parms) {
      s_log.push_back("parms restored");
      return;
    }
    std::string text = "parms";
    for (int i = 0; i < 12; ++i)
      text += " " + std::to_string(int(parms[i]));
    s_log.push_back(text);
  }
  void close(void*) override { s_log.push_back("close"); }
  bool exists = true;
  int frames = 5;
  int drawn = 0;
};

// Reports space held from a given poll on.
class SpaceKey : public NullKeyBinds {
 public:
  void pollInput() override { ++polls; }
  bool isDown(int key) override { return key == 32 && pressAt > 0 && polls >= pressAt; }
  int polls = 0;
  int pressAt = 0;
};

TEST_F(MapLoadTest, AVideoPlaysToItsEndWithItsSound) {
  EXPECT_FALSE(common_->playVideo("video/intro.ovid", nullptr, true)) << "no player: nothing plays";
  FakeVideo video;
  g_videoPlayer = &video;
  g_soundSystem = &sound_;
  SpaceKey keys;
  g_keyBindSystem = &keys;

  EXPECT_TRUE(common_->playVideo("video/intro.ovid", "video/intro.ogg", false));
  EXPECT_EQ(video.drawn, 5);
  EXPECT_EQ(keys.polls, 0) << "a video that cannot be skipped pumps no input";
  EXPECT_EQ(s_sleeps, 5);
  EXPECT_EQ(s_log, (std::vector<std::string>{"open video/intro.ovid 70", "parms 1 1 1 1 0 0 0 0 0 0 0 0",
                                             "stop local 33", "play video/intro.ogg 7 1048", "parms restored",
                                             "close", "stop local 7"}));

  // Skippable: space ends it early.
  s_log.clear();
  video.drawn = 0;
  keys.pressAt = 2;
  EXPECT_TRUE(common_->playVideo("video/intro.ovid", nullptr, true));
  EXPECT_EQ(keys.polls, 2);
  EXPECT_EQ(video.drawn, 1);

  // A name that is no video.
  video.exists = false;
  s_log.clear();
  EXPECT_FALSE(common_->playVideo("video/none.ovid", "x.ogg", true));
  EXPECT_EQ(s_log, (std::vector<std::string>{"open video/none.ovid 70"})) << "nothing else is touched";
  g_keyBindSystem = nullptr;
  g_videoPlayer = nullptr;
}

}  // namespace
