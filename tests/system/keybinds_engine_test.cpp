// The key bindings inside the engine: the common manager creates them through the manager table,
// and a key from the window travels the system event queue and the event pump to its binding.
#include <gtest/gtest.h>

#include <string>

#include "lib/interface/cmdsystem.h"
#include "lib/interface/inputinterface.h"
#include "lib/interface/keybindsystem.h"
#include "lib/interface/systeminterface.h"
#include "platform/window.h"
#include "system/commonmanager.h"
#include "system/keybinds.h"
#include "system/keymap.h"

namespace {

void mute(void*, const char*) {}

class KeyBindsEngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    KeyBinds::setDeviceFlags(kInputMouse);
    common_ = getCommonManager();
    ASSERT_TRUE(common_->init(nullptr, nullptr, kInitCommands | kInitConVars | kInitKeyBinds));
    g_cmdSystem->setOutput(mute, nullptr);
  }
  void TearDown() override {
    destroyCommonManager();
    KeyBinds::setDeviceFlags(kInputMouse | kInputJoystick);
  }
  // A key as the window reports it: an SDL scan code made set-1, then the engine's code.
  void windowKey(int sdlScanCode, bool down) {
    bool extended = false;
    int scan = platformScanCodeToSet1(sdlScanCode, &extended);
    queueSystemEvent(kSystemEventKey, mapWin32Key(scan, extended), down ? 1 : 0, 0, nullptr);
  }
  CommonManager* common_ = nullptr;
};

TEST_F(KeyBindsEngineTest, CreatedWithDefaultsAndTheInputManager) {
  ASSERT_NE(g_keyBindSystem, nullptr);
  EXPECT_EQ(g_keyBindSystem, getKeyBinds(false));
  EXPECT_EQ(g_keyBindingWriter, getKeyBinds(false));
  EXPECT_NE(g_inputInterface, nullptr);
  EXPECT_EQ(g_keyBindSystem->getMode(), 4);
  char names[256];
  g_keyBindSystem->keysForCommand("_forward", names);
  EXPECT_STREQ(names, "w");
  EXPECT_NE(g_cmdSystem->findCommand("in_restart"), nullptr);
  EXPECT_NE(g_cmdSystem->findCommand("_impulse31"), nullptr);
  EXPECT_NE(g_cmdSystem->findCommand("_button7"), nullptr);
}

TEST_F(KeyBindsEngineTest, WindowKeysReachTheirBindingsThroughThePump) {
  windowKey(26, true);  // "w"
  common_->processEvents();
  EXPECT_TRUE(g_keyBindSystem->isDown('w'));
  g_cmdSystem->executeText("");  // the next frame runs the buffer
  UserCmd cmd;
  g_keyBindSystem->getUserCmd(&cmd, 16, 1);
  EXPECT_EQ(cmd.forward, 127);

  windowKey(26, false);
  windowKey(44, true);  // space, pressed and released within the frame
  windowKey(44, false);
  common_->processEvents();
  g_cmdSystem->executeText("");
  g_keyBindSystem->getUserCmd(&cmd, 32, 2);
  EXPECT_EQ(cmd.forward, 0);
  EXPECT_EQ(cmd.up, 0);

  g_cmdSystem->executeText("in_restart");
  EXPECT_NE(g_inputInterface, nullptr);
  EXPECT_FALSE(g_keyBindSystem->isDown('w'));
}

TEST_F(KeyBindsEngineTest, ShutdownClearsThePointers) {
  common_->shutdown();
  EXPECT_EQ(g_keyBindSystem, nullptr);
  EXPECT_EQ(g_keyBindingWriter, nullptr);
  EXPECT_EQ(g_inputInterface, nullptr);
  EXPECT_EQ(getKeyBinds(false), nullptr);
}

}  // namespace
