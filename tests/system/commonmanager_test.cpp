// The common manager: managers made in order under their mask bits, destroyed
// in the shutdown order, torn down after a failed start so the next start is
// clean; the init-error boxes; the event pump's routing; the common print.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "lib/interface/cmdsystem.h"
#include "lib/interface/convarsystem.h"
#include "lib/interface/keybindsystem.h"
#include "lib/interface/managerfactory.h"
#include "lib/interface/networksystem.h"
#include "network/bitmsg.h"
#include "lib/interface/systeminterface.h"
#include "lib/interface/userinterfacesystem.h"
#include "platform/dialog.h"
#include "system/commonmanager.h"
#include "tests/support/nullkeybinds.h"

namespace {

const char* const kNames[kManagerCount] = {"decl",        "console",   "keybinds", "renderdevice",
                                           "rendermodel", "texture",   "render",   "sound",
                                           "network",     "collision", "ui",       "effects"};

std::vector<std::string> s_log;
bool s_fail[kManagerCount];
bool s_alive[kManagerCount];

template <int Id>
bool fakeCreate() {
  s_log.push_back(std::string("create:") + kNames[Id]);
  s_alive[Id] = true;  // a failed start still leaves something for destroy
  return !s_fail[Id];
}
template <int Id>
void fakeShutdown() {
  s_log.push_back(std::string("shutdown:") + kNames[Id]);
}
template <int Id>
void fakeDestroy() {
  if (!s_alive[Id])
    return;  // destroying what does not exist does nothing
  s_alive[Id] = false;
  s_log.push_back(std::string("destroy:") + kNames[Id]);
}

template <int Id>
void installFake() {
  g_managerFactories[Id].create = fakeCreate<Id>;
  g_managerFactories[Id].shutdown =
      (Id == kManagerEffects || Id == kManagerRenderModel || Id == kManagerRender) ? fakeShutdown<Id>
                                                                                   : nullptr;
  g_managerFactories[Id].destroy = fakeDestroy<Id>;
}

std::vector<std::string> s_boxes;
int captureBox(void*, const char* text, const char* caption, PlatformDialogButtons,
               PlatformDialogAnswer answer) {
  s_boxes.push_back(std::string(caption) + "|" + text);
  return answer;
}

class CommonManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = std::vector<ManagerFactory>(g_managerFactories, g_managerFactories + kManagerCount);
    installFake<0>();
    installFake<1>();
    installFake<2>();
    installFake<3>();
    installFake<4>();
    installFake<5>();
    installFake<6>();
    installFake<7>();
    installFake<8>();
    installFake<9>();
    installFake<10>();
    installFake<11>();
    s_log.clear();
    s_boxes.clear();
    std::memset(s_fail, 0, sizeof(s_fail));
    std::memset(s_alive, 0, sizeof(s_alive));
    platformSetDialogHook(captureBox, nullptr);
  }
  void TearDown() override {
    destroyCommonManager();
    for (int i = 0; i < kManagerCount; ++i)
      g_managerFactories[i] = saved_[(size_t)i];
    platformSetDialogHook(nullptr, nullptr);
  }

  std::vector<std::string> created() const {
    std::vector<std::string> out;
    for (const std::string& entry : s_log)
      if (entry.rfind("create:", 0) == 0)
        out.push_back(entry.substr(7));
    return out;
  }

  std::vector<ManagerFactory> saved_;
};

TEST_F(CommonManagerTest, StartsEveryManagerInOrderAndStopsThemInTheShutdownOrder) {
  CommonManager* common = getCommonManager();
  ASSERT_TRUE(common->init(nullptr, nullptr, kInitEverything));
  EXPECT_TRUE(common->isInitialised());
  EXPECT_NE(g_systemInterface, nullptr);
  EXPECT_NE(g_cmdSystem, nullptr);
  EXPECT_NE(g_conVarSystem, nullptr);
  EXPECT_NE(g_ioSystem, nullptr);
  EXPECT_EQ(created(),
            (std::vector<std::string>{"decl", "console", "keybinds", "renderdevice", "rendermodel", "texture",
                                      "render", "sound", "network", "collision", "ui", "effects"}));
  EXPECT_NE(g_cmdSystem->findCommand("com_showStringPool"), nullptr);
  EXPECT_NE(g_cmdSystem->findCommand("listStringKeys"), nullptr);
  EXPECT_NE(g_cmdSystem->findCommand("listStringValues"), nullptr);

  s_log.clear();
  common->shutdown();
  EXPECT_EQ(s_log, (std::vector<std::string>{"shutdown:effects", "shutdown:rendermodel", "shutdown:render",
                                             "destroy:ui", "destroy:network", "destroy:collision",
                                             "destroy:keybinds", "destroy:console", "destroy:effects",
                                             "destroy:decl", "destroy:render", "destroy:rendermodel",
                                             "destroy:texture", "destroy:sound", "destroy:renderdevice"}));
  EXPECT_EQ(g_systemInterface, nullptr);
  EXPECT_EQ(g_cmdSystem, nullptr);
  EXPECT_EQ(g_conVarSystem, nullptr);
  EXPECT_EQ(g_ioSystem, nullptr);
  s_log.clear();
  common->shutdown();
  EXPECT_TRUE(s_log.empty()) << "a second shutdown does nothing";
}

TEST_F(CommonManagerTest, TheMaskSelectsTheManagers) {
  struct Case {
    uint32_t mask;
    std::vector<std::string> managers;
    bool commands;
  } cases[] = {
      {0x0, {}, false},
      {0x2, {}, true},
      {0x4, {"console"}, true},
      {0x40, {"renderdevice"}, false},
      {0x80, {"renderdevice", "render", "effects"}, false},
      {0x800 | 0x400, {"texture", "sound"}, false},
      {0x2000 | 0x1000 | 0x100 | 0x8 | 0x20, {"decl", "keybinds", "network", "collision", "ui"}, false},
  };
  for (const Case& c : cases) {
    s_log.clear();
    CommonManager* common = getCommonManager();
    ASSERT_TRUE(common->init(nullptr, nullptr, c.mask)) << std::hex << c.mask;
    EXPECT_EQ(created(), c.managers) << std::hex << c.mask;
    EXPECT_EQ(g_cmdSystem != nullptr, c.commands) << std::hex << c.mask;
    EXPECT_NE(g_systemInterface, nullptr) << "the system manager is always made";
    destroyCommonManager();
    EXPECT_EQ(g_systemInterface, nullptr);
  }
}

TEST_F(CommonManagerTest, ASecondInitReturnsFalseAndChangesNothing) {
  CommonManager* common = getCommonManager();
  int window = 0;
  ASSERT_TRUE(common->init(&window, nullptr, 0x2));
  SystemInterface* system = g_systemInterface;
  s_log.clear();
  EXPECT_FALSE(common->init(nullptr, nullptr, kInitEverything));
  EXPECT_TRUE(s_log.empty());
  EXPECT_EQ(common->windowHandle(), &window);
  EXPECT_EQ(g_systemInterface, system);
}

TEST_F(CommonManagerTest, AFailedStartShowsItsBoxTearsDownAndTheNextStartIsClean) {
  struct Case {
    ManagerId failing;
    const char* box;
    std::vector<std::string> created;
  } cases[] = {
      {kManagerTexture,
       "init error|failed to initialize texture manager",
       {"decl", "console", "keybinds", "renderdevice", "rendermodel", "texture"}},
      {kManagerRender,
       "init error|failed to initialize render system",
       {"decl", "console", "keybinds", "renderdevice", "rendermodel", "texture", "render"}},
      {kManagerSound,
       "init error|failed to initialize sound manager",
       {"decl", "console", "keybinds", "renderdevice", "rendermodel", "texture", "render", "sound"}},
      {kManagerRenderDevice, nullptr, {"decl", "console", "keybinds", "renderdevice"}},
      {kManagerNetwork,
       nullptr,
       {"decl", "console", "keybinds", "renderdevice", "rendermodel", "texture", "render", "sound",
        "network"}},
  };
  for (const Case& c : cases) {
    std::memset(s_fail, 0, sizeof(s_fail));
    s_fail[c.failing] = true;
    s_log.clear();
    s_boxes.clear();
    CommonManager* common = getCommonManager();
    EXPECT_FALSE(common->init(nullptr, nullptr, kInitEverything)) << kNames[c.failing];
    EXPECT_EQ(created(), c.created) << kNames[c.failing];
    if (c.box) {
      ASSERT_EQ(s_boxes.size(), 1u) << kNames[c.failing];
      EXPECT_EQ(s_boxes[0], c.box);
    } else {
      EXPECT_TRUE(s_boxes.empty()) << kNames[c.failing];
    }
    for (int i = 0; i < kManagerCount; ++i)
      EXPECT_FALSE(s_alive[i]) << kNames[c.failing] << " left " << kNames[i] << " behind";
    EXPECT_EQ(g_systemInterface, nullptr) << kNames[c.failing];
    EXPECT_EQ(g_cmdSystem, nullptr) << kNames[c.failing];
    EXPECT_EQ(g_conVarSystem, nullptr) << kNames[c.failing];
    EXPECT_FALSE(common->isInitialised());

    // The same manager, started again once the failure is gone.
    s_fail[c.failing] = false;
    s_log.clear();
    EXPECT_TRUE(common->init(nullptr, nullptr, kInitEverything)) << kNames[c.failing];
    EXPECT_EQ(created().size(), 12u);
    destroyCommonManager();
  }
}

class FakeKeys : public NullKeyBinds {
 public:
  void keyEvent(int key, bool down) override {
    log += "key " + std::to_string(key) + (down ? " down;" : " up;");
  }
  void charEvent(int c) override { log += "char " + std::to_string(c) + ";"; }
  void mouseEvent(int dx, int dy, int time) override {
    log += "mouse " + std::to_string(dx) + " " + std::to_string(dy) + " @" + std::to_string(time) + ";";
  }
  void endFrame() override { log += "end;"; }
  void pollInput() override {
    log += "poll;";
    queueSystemEvent(kSystemEventKey, 178, 1, 0, nullptr);
  }
  std::string log;
};

class FakeNet : public NetworkSystem {
 public:
  void frame(int) override {}
  const UserCmd* getUserCmds() override { return nullptr; }
  int getTime() override { return 480; }
  bool getPacket(BitMsg&, NetAddress&) override { return false; }
  void packetEvent(const NetAddress& from, BitMsg& msg) override {
    const BitMsg& payload = msg;
    packets.push_back(std::to_string(from.ip[0]) + "." + std::to_string(from.ip[3]) + ":" +
                      std::to_string(from.port) + " " +
                      std::string((const char*)payload.getData(), size_t(msg.getWriteBit() / 8)));
  }
  std::vector<std::string> packets;
};

uint8_t* packet(const char* payload, int* length) {
  size_t n = std::strlen(payload);
  uint8_t* data = new uint8_t[n + 6];
  data[0] = 127;
  data[1] = 0;
  data[2] = 0;
  data[3] = 1;
  data[4] = 0x39;
  data[5] = 0x30;  // port 12345
  std::memcpy(data + 6, payload, n);
  *length = (int)n + 6;
  return data;
}

TEST_F(CommonManagerTest, TheEventPumpRoutesEachEventToItsReceiver) {
  CommonManager* common = getCommonManager();
  ASSERT_TRUE(common->init(nullptr, nullptr, 0));
  FakeKeys keys;
  FakeNet net;
  g_keyBindSystem = &keys;
  g_networkSystem = &net;
  queueSystemEvent(kSystemEventKey, 'w', 1, 0, nullptr);
  queueSystemEvent(kSystemEventChar, 'W', 0, 0, nullptr);
  queueSystemEvent(kSystemEventMouse, -4, 9, 0, nullptr);
  int length = 0;
  uint8_t* data = packet("ping", &length);
  queueSystemEvent(kSystemEventPacket, 0, 0, length, data);
  queueSystemEvent(kSystemEventPacket, 0, 0, 3, new uint8_t[3]);  // shorter than an address: dropped
  queueSystemEvent(kSystemEventKey, 'w', 0, 0, nullptr);
  common->processEvents();
  g_keyBindSystem = nullptr;
  g_networkSystem = nullptr;
  EXPECT_EQ(keys.log, "poll;key 119 down;char 87;mouse -4 9 @480;key 119 up;key 178 down;end;");
  EXPECT_EQ(net.packets, (std::vector<std::string>{"127.1:12345 ping"}));

  // Without receivers the events are dropped (and their data freed).
  queueSystemEvent(kSystemEventKey, 'w', 1, 0, nullptr);
  data = packet("lost", &length);
  queueSystemEvent(kSystemEventPacket, 0, 0, length, data);
  common->processEvents();
  EXPECT_EQ(g_systemInterface->getEvent().type, kSystemEventNone);
}

TEST_F(CommonManagerTest, TheCommonPrintKeepsTheTextWithoutShowingIt) {
  CommonManager* common = getCommonManager();
  common->printf("%s %d\n", "kept", 7);
  EXPECT_STREQ(common->lastPrintedText(), "kept 7\n");
  commonPrintf("%s", "again");
  EXPECT_STREQ(common->lastPrintedText(), "again");
  std::string longText(20000, 'y');
  commonPrintf("%s", longText.c_str());
  EXPECT_EQ(std::strlen(common->lastPrintedText()), (size_t)CommonManager::kMessageBufferSize - 1);
}

TEST_F(CommonManagerTest, ShutdownForgetsTheActiveInterfaceOfTheDestroyedInterfaceManager) {
  struct StaleGui : UserInterface {
    void namedEvent(const char*) override {}
    void redraw(int) override {}
    void setStateString(const char*, const char*) override {}
    void setStateFloat(const char*, float) override {}
    void activate(bool, int) override {}
    const char* handleEvent(const UIInputEvent*, int, bool*) override { return ""; }
  } menu;
  CommonManager* common = getCommonManager();
  ASSERT_TRUE(common->init(nullptr, nullptr, kInitUserInterface));
  g_activeGui = &menu;
  common->shutdown();
  EXPECT_EQ(g_activeGui, nullptr) << "the next start would free and draw an interface that is gone";
  g_activeGui = nullptr;
}

}  // namespace
