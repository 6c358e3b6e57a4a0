// "writecfg" and "loadcfg" through the real file system: the file lands under the base path and
// game directory, reads back through the search list, and restores every saved variable.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "lib/keydict.h"
#include "system/cmdmanager.h"
#include "system/convarmanager.h"
#include "system/iomanager.h"

namespace {

namespace fs = std::filesystem;

std::string g_output;
void capture(void*, const char* text) {
  g_output += text;
}

std::map<std::string, std::string> g_bindings;
class TestBindings : public KeyBindingWriter {
 public:
  void writeSetKeys(IOFileHandle file) override {
    for (const auto& [key, command] : g_bindings)
      g_ioSystem->printf(file, "setkey %-22s \"%s\"\n", key.c_str(), command.c_str());
  }
};
void cmdSetKey(const CmdArgs& args) {
  if (args.argc() == 3)
    g_bindings[args.argv(1)] = args.argv(2);
}
void cmdClearKeys(const CmdArgs&) {
  g_bindings.clear();
}

class CmdConfigFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* base = std::getenv("QUILL_TEST_TMP");
    fs::path root = base && *base ? fs::path(base) : fs::temp_directory_path();
    tree_ = root / ("cmdcfg_" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    fs::create_directories(tree_ / "media");
    previous_ = fs::current_path();
    fs::current_path(tree_);

    g_output.clear();
    g_bindings.clear();
    g_keyBindingWriter = &bindings_;
    KeyDict::initPools();
    CmdManager* cmd = getCmdManager();
    cmd->setOutput(capture, nullptr);
    cmd->addCommand("setkey", cmdSetKey, kCmdFlagEngine, "bind key to console command");
    cmd->addCommand("clearkeys", cmdClearKeys, kCmdFlagEngine, "remove all key binds");
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
  TestBindings bindings_;
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
  for (int i = 0; i < g_conVarSystem->count(); ++i) {
    ConVar* var = g_conVarSystem->at(i);
    if (!(var->getFlags() & kConVarArchive))
      continue;
    char line[512];
    std::snprintf(line, sizeof(line), "%-24s \"%s\"\n", var->getName(), var->getString());
    expected += line;
  }
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
