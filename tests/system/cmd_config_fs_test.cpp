// "writecfg" and "loadcfg" through the real file system: the file lands under the base path and
// game directory, reads back through the search list, and restores every saved variable.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "lib/keydict.h"
#include "system/cmdmanager.h"
#include "system/convarmanager.h"
#include "system/iomanager.h"
#include "tests/support/capturecmdsystem.h"
#include "tests/support/temptree.h"
#include "tests/system/support/configbindings.h"

namespace {

namespace fs = std::filesystem;

using cfgtest::g_bindings;

std::string g_output;

class CmdConfigFileTest : public ::testing::Test {
 protected:
  CmdConfigFileTest() : tree_("cmdcfg"), cwd_(tree_.path()) {}

  void SetUp() override {
    fs::create_directories(tree_ / "media");
    g_output.clear();
    KeyDict::initPools();
    CmdManager* cmd = getCmdManager();
    cmd->setOutput(appendOutput, &g_output);
    cfgtest::installBindings(cmd, &bindings_);
    getConVarManager();
    ASSERT_TRUE(IOManager::getInstance()->initialize("media"));
    g_output.clear();
  }
  void TearDown() override {
    destroyIOManager();
    destroyConVarManager();
    destroyCmdManager();
    KeyDict::shutdownPools();
    g_keyBindingWriter = nullptr;
  }
  std::string read(const std::string& relative) const { return tree_.read(relative); }

  TempTree tree_;
  WorkingDirectory cwd_;
  cfgtest::TestBindings bindings_;
};

}  // namespace

TEST_F(CmdConfigFileTest, RoundTripThroughTheGameDirectory) {
  ConVar volume("cfgfs_volume", "75", kConVarInt | kConVarArchive, "", 0.0f, 100.0f);
  ConVar text("cfgfs_text", "", kConVarString | kConVarArchive);
  volume.setInt(12);
  text.setString("a b; c // not a comment");
  g_bindings["SPACE"] = "_moveup";

  std::string expected =
      "// KEYS\nclearkeys\nsetkey SPACE                  \"_moveup\"\n\n// SYSTEM VARIABLES\n";
  expected += cfgtest::savedVariableLines();
  g_cmdSystem->executeText("writecfg");
  EXPECT_EQ(g_output, "default.cfg saved.\n");
  const std::string written = read("media/default.cfg");
  EXPECT_EQ(written, expected);
  EXPECT_NE(written.find("cfgfs_text               \"a b; c // not a comment\"\n"), std::string::npos);

  for (int i = 0; i < g_conVarSystem->count(); ++i) {
    ConVar* var = g_conVarSystem->at(i);
    if (var->getFlags() & kConVarArchive)
      var->setString("1");
  }
  g_bindings.clear();
  g_output.clear();
  g_cmdSystem->executeText("loadcfg default.cfg");
  EXPECT_EQ(g_output, "Config file default.cfg loaded.\n");
  EXPECT_EQ(volume.getInt(), 12);
  EXPECT_STREQ(text.getString(), "a b; c // not a comment");
  EXPECT_EQ(g_bindings, (std::map<std::string, std::string>{{"SPACE", "_moveup"}}));

  // Writing the reloaded state reproduces the file byte for byte.
  g_cmdSystem->executeText("writecfg");
  EXPECT_EQ(read("media/default.cfg"), written);
}

TEST_F(CmdConfigFileTest, MissingDefaultIsWrittenAndOthersAreNot) {
  g_cmdSystem->executeText("loadcfg other.cfg");
  EXPECT_FALSE(fs::exists(tree_ / "media" / "other.cfg"));
  EXPECT_FALSE(fs::exists(tree_ / "media" / "default.cfg"));
  g_cmdSystem->executeText("loadcfg default.cfg");
  EXPECT_TRUE(fs::exists(tree_ / "media" / "default.cfg"));
  EXPECT_EQ(g_output,
            "ERROR: Loading \"other.cfg\" config file. Does it exist?\n"
            "ERROR: Loading \"default.cfg\" config file. Does it exist?\n"
            "default.cfg saved.\n");
}
