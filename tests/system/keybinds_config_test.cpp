// "writecfg" with the real key bindings, command manager and file system: every bound key is
// written as a "setkey" line in code order and "loadcfg" brings the same bindings back.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "lib/keydict.h"
#include "system/cmdmanager.h"
#include "system/convarmanager.h"
#include "system/inputmanager.h"
#include "system/iomanager.h"
#include "system/keybinds.h"

namespace {

namespace fs = std::filesystem;

std::string g_output;
void capture(void*, const char* text) {
  g_output += text;
}

class KeyBindsConfigTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* base = std::getenv("QUILL_TEST_TMP");
    fs::path root = base && *base ? fs::path(base) : fs::temp_directory_path();
    tree_ = root / ("keycfg_" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    fs::create_directories(tree_ / "media");
    previous_ = fs::current_path();
    fs::current_path(tree_);

    g_output.clear();
    KeyDict::initPools();
    getCmdManager()->setOutput(capture, nullptr);
    getConVarManager();
    ASSERT_TRUE(IOManager::getInstance()->initialize("media"));
    KeyBinds::setDeviceFlags(kInputMouse);
    keys_ = getKeyBinds(true);
    g_output.clear();
  }
  void TearDown() override {
    destroyKeyBinds();
    KeyBinds::setDeviceFlags(kInputMouse | kInputJoystick);
    destroyIOManager();
    destroyConVarManager();
    destroyCmdManager();
    KeyDict::shutdownPools();
    fs::current_path(previous_);
    std::error_code ignored;
    fs::remove_all(tree_, ignored);
  }
  std::string read(const std::string& relative) const {
    std::ifstream in(tree_ / relative, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  fs::path tree_;
  fs::path previous_;
  KeyBinds* keys_ = nullptr;
};

}  // namespace

TEST_F(KeyBindsConfigTest, WriteCfgSavesTheBindingsAndLoadCfgRestoresThem) {
  g_cmdSystem->executeText(
      "unsetkey a; unsetkey d; unsetkey s; unsetkey SPACE; unsetkey SHIFT; unsetkey CTRL");
  g_cmdSystem->executeText("setkey F1 \"say hello; echo x\"; setkey MOUSE3 _button3; setkey 0xe6 _impulse4");
  g_output.clear();
  g_cmdSystem->executeText("writecfg keys.cfg");
  EXPECT_EQ(g_output, "keys.cfg saved.\n");
  const std::string written = read("media/keys.cfg");
  const std::string keys =
      "// KEYS\n"
      "clearkeys\n"
      "setkey w                      \"_forward\"\n"
      "setkey F1                     \"say hello; echo x\"\n"
      "setkey MOUSE1                 \"_button0\"\n"
      "setkey MOUSE2                 \"_button1\"\n"
      "setkey MOUSE3                 \"_button3\"\n"
      "setkey 0xe6                   \"_impulse4\"\n"
      "\n// SYSTEM VARIABLES\n";
  EXPECT_EQ(written.substr(0, keys.size()), keys);

  g_cmdSystem->executeText("setkey F1 other; setkey z zoom");
  g_output.clear();
  g_cmdSystem->executeText("loadcfg keys.cfg");
  EXPECT_EQ(g_output, "Config file keys.cfg loaded.\n");
  EXPECT_STREQ(keys_->binding(145), "say hello; echo x");
  EXPECT_STREQ(keys_->binding('z'), "");
  EXPECT_STREQ(keys_->binding(230), "_impulse4");
  EXPECT_STREQ(keys_->binding(180), "_button3");

  // A loaded binding works: pressing MOUSE3 holds button 3 in the next command.
  keys_->keyEvent(180, true);
  keys_->endFrame();
  g_cmdSystem->executeText("");
  UserCmd cmd;
  keys_->getUserCmd(&cmd, 16, 1);
  EXPECT_EQ(cmd.buttons & 0x8, 0x8);
  EXPECT_EQ(cmd.buttons & 0x3, 0);

  g_cmdSystem->executeText("writecfg keys.cfg");
  EXPECT_EQ(read("media/keys.cfg"), written);
}

// "loadcfg" reads lines of at most 511 characters: a binding whose "setkey" line would be longer is
// refused when it is set, so everything "writecfg" saves comes back.
TEST_F(KeyBindsConfigTest, BindingsTooLongToReloadAreRefusedWhenSet) {
  // "setkey F1" padded to 22, a blank and two quotes: 32 characters around the binding.
  const std::string longest(kCmdConfigLineLength - 32, 'a');
  const std::string tooLong(longest.size() + 1, 'b');
  g_cmdSystem->executeText(("setkey F1 \"" + longest + "\"").c_str());
  EXPECT_EQ(g_output, "");
  g_cmdSystem->executeText(("setkey F2 \"" + tooLong + "\"").c_str());
  EXPECT_NE(g_output.find("WARNING: setkey: the binding of \"F2\" is too long to save"), std::string::npos)
      << g_output;
  EXPECT_STREQ(keys_->binding(146), "") << "the refused binding is not set";

  g_output.clear();
  g_cmdSystem->executeText("writecfg keys.cfg");
  g_cmdSystem->executeText("setkey F1 other");
  g_cmdSystem->executeText("loadcfg keys.cfg");
  EXPECT_EQ(g_output, "keys.cfg saved.\nConfig file keys.cfg loaded.\n") << "no line was skipped";
  EXPECT_EQ(keys_->binding(145), longest);
}
