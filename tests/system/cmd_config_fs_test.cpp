// "writecfg" and "loadcfg" through the real file system: the file lands under the base path and
// game directory, reads back through the search list, and restores every saved variable.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <functional>
#include <map>
#include <string>

#include "lib/keydict.h"
#include "platform/fs.h"
#include "system/cmdmanager.h"
#include "system/convarmanager.h"
#include "system/iomanager.h"
#include "tests/support/blockguard.h"
#include "tests/support/capturecmdsystem.h"
#include "tests/support/temptree.h"
#include "tests/system/io_test_tree.h"
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

// A full disk, emulated by a file-size limit on this process: writes past it fail as they do when
// the disk fills. "writecfg" must keep the old file whole and say that it failed.
TEST_F(CmdConfigFileTest, AFullDiskKeepsTheOldConfigurationWhole) {
  const std::string old =
      "// KEYS\nclearkeys\nsetkey SPACE \"_moveup\"\n\n// SYSTEM VARIABLES\ncfgfs_big \"old\"\n";
  tree_.write("media/default.cfg", old);
  ConVar big("cfgfs_big", "", kConVarString | kConVarArchive);
  ConVar big2("cfgfs_big2", "", kConVarString | kConVarArchive);
  big.setString(std::string(3000, 'b').c_str());
  big2.setString(std::string(3000, 'c').c_str());

  struct rlimit saved;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  void (*previous)(int) = signal(SIGXFSZ, SIG_IGN);
  struct rlimit limited = saved;
  limited.rlim_cur = 4096;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
  g_cmdSystem->executeText("writecfg");
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, previous);

  EXPECT_EQ(read("media/default.cfg"), old) << "the old file was cut";
  EXPECT_FALSE(fs::exists(tree_ / "media" / "default.cfg.tmp")) << "the temporary file is left behind";
  EXPECT_EQ(g_output.find("saved."), std::string::npos) << g_output;
  EXPECT_NE(g_output.find("ERROR: writecfg: \"default.cfg\" was not saved"), std::string::npos) << g_output;
  EXPECT_NE(g_output.find("WARNING: could not write '"), std::string::npos) << "what failed: " << g_output;

  // With room again the same command replaces the file whole.
  g_output.clear();
  g_cmdSystem->executeText("writecfg");
  EXPECT_EQ(g_output, "default.cfg saved.\n");
  EXPECT_NE(read("media/default.cfg").find(std::string(3000, 'c')), std::string::npos);
  EXPECT_FALSE(fs::exists(tree_ / "media" / "default.cfg.tmp"));
}

// The disk fills while the configuration goes out, at its first block, half way or in its last
// buffered block (the platform layer's write budget): never "saved.", a message saying what
// failed, the old file whole and no temporary left. A folder of the name is refused up front.
TEST_F(CmdConfigFileTest, AWriteThatFailsAnywhereKeepsTheOldConfiguration) {
  const std::string old = "// KEYS\nclearkeys\n\n// SYSTEM VARIABLES\ncfgfs_old \"1\"\n";
  ConVar big("cfgfs_budget", "", kConVarString | kConVarArchive);
  ConVar big2("cfgfs_budget2", "", kConVarString | kConVarArchive);
  big.setString(std::string(3000, 'y').c_str());
  big2.setString(std::string(3000, 'z').c_str());
  g_cmdSystem->executeText("writecfg sized.cfg");
  const uintmax_t size = fs::file_size(tree_ / "media" / "sized.cfg");
  ASSERT_GT(size, 6000u);
  for (const int64_t budget : {int64_t(0), int64_t(size / 2), int64_t(size - 18), int64_t(size - 1)}) {
    SCOPED_TRACE(budget);
    tree_.write("media/default.cfg", old);
    g_output.clear();
    fsSetWriteBudget(budget);
    g_cmdSystem->executeText("writecfg");
    fsSetWriteBudget(-1);
    EXPECT_EQ(read("media/default.cfg"), old);
    EXPECT_FALSE(fs::exists(tree_ / "media" / "default.cfg.tmp"));
    EXPECT_EQ(g_output.find("saved."), std::string::npos) << g_output;
    EXPECT_NE(g_output.find("WARNING: could not write '" + tree_.str("media/default.cfg") + "'"), std::string::npos)
        << g_output;
    EXPECT_NE(g_output.find("No space left on device"), std::string::npos) << g_output;
    EXPECT_NE(g_output.find("ERROR: writecfg: \"default.cfg\" was not saved"), std::string::npos) << g_output;
  }
  fs::create_directories(tree_ / "media" / "folder.cfg");
  g_output.clear();
  g_cmdSystem->executeText("writecfg folder.cfg");
  EXPECT_EQ(g_output, "ERROR: writecfg: \"folder.cfg\" is a folder or a special file; nothing written\n");
  EXPECT_TRUE(fs::is_directory(tree_ / "media" / "folder.cfg"));
  EXPECT_TRUE(fs::is_empty(tree_ / "media" / "folder.cfg"));
}

// Loading default.cfg can fail for reasons other than absence; then no file may be replaced by
// defaults. Only a default.cfg that exists nowhere in the search list is written anew.
TEST_F(CmdConfigFileTest, AnUnreadableDefaultConfigurationIsNeverReplaced) {
  const std::string good = "cfgfs_keep \"7\"\n";
  struct Case {
    const char* what;
    std::function<void()> make;
  } cases[] = {
      {"a pack entry failing its checksum",
       [&] {
         const std::string text = "cfgfs_keep \"1\"\n";
         ASSERT_TRUE(
             iotest::writeZip(tree_.str("media/damaged.bqp"),
                              {{"default.cfg", text, 0, true, text.size(), iotest::crcOf(text) ^ 1}}));
       }},
      {"a FIFO", [&] { ASSERT_TRUE(makeFifo(tree_.str("media/default.cfg"))); }},
      {"a directory", [&] { fs::create_directories(tree_ / "media" / "default.cfg"); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(tree_ / "media");
    fs::create_directories(tree_ / "media");
    c.make();
    if (!fs::exists(tree_ / "media" / "default.cfg"))
      tree_.write("media/default.cfg", good);
    destroyIOManager();
    ASSERT_TRUE(IOManager::getInstance()->initialize("media"));
    g_output.clear();
    const bool inTime = finishesWithoutBlocking([] { g_cmdSystem->executeText("loadcfg default.cfg"); },
                                                tree_.str("media/default.cfg"));
    EXPECT_TRUE(inTime) << "loadcfg blocked";
    EXPECT_NE(g_output.find("ERROR: loadcfg: \"default.cfg\" exists but cannot be read"), std::string::npos)
        << g_output;
    EXPECT_EQ(g_output.find("saved."), std::string::npos) << g_output;
    if (fs::is_regular_file(tree_ / "media" / "default.cfg")) {
      EXPECT_EQ(read("media/default.cfg"), good);
    }
    EXPECT_FALSE(fs::is_regular_file(tree_ / "media" / "default.cfg.tmp"));
  }
}

// A small pack may declare a huge configuration: the declared size is refused before anything is
// inflated, whatever the file's name.
TEST_F(CmdConfigFileTest, AnOversizedConfigurationIsRefusedBeforeItIsRead) {
  const std::string huge(CmdManager::kMaxConfigBytes + 1, '\n');
  ASSERT_TRUE(iotest::writeZip(tree_.str("media/big.bqp"), {{"default.cfg", huge}, {"big.cfg", huge}}));
  ASSERT_LT(fs::file_size(tree_ / "media" / "big.bqp"), 65536u);
  destroyIOManager();
  ASSERT_TRUE(IOManager::getInstance()->initialize("media"));
  for (const char* name : {"big.cfg", "default.cfg"}) {
    SCOPED_TRACE(name);
    g_output.clear();
    g_cmdSystem->executeText((std::string("loadcfg ") + name).c_str());
    EXPECT_EQ(g_output, "ERROR: loadcfg: \"" + std::string(name) + "\" is " + std::to_string(huge.size()) +
                            " bytes, more than the " + std::to_string(CmdManager::kMaxConfigBytes) +
                            " a configuration file may hold; not loaded\n");
  }
  EXPECT_FALSE(fs::exists(tree_ / "media" / "default.cfg")) << "a refused default.cfg is not replaced";
  // At the cap it still loads.
  ASSERT_TRUE(iotest::writeZip(tree_.str("media/fits.bqp"),
                               {{"fits.cfg", std::string(CmdManager::kMaxConfigBytes, '\n')}}));
  destroyIOManager();
  ASSERT_TRUE(IOManager::getInstance()->initialize("media"));
  g_output.clear();
  g_cmdSystem->executeText("loadcfg fits.cfg");
  EXPECT_EQ(g_output, "Config file fits.cfg loaded.\n");
}

// The path variables only take effect at start-up: console text (a configuration from someone
// else's pack) cannot move where "writecfg" writes.
TEST_F(CmdConfigFileTest, PathVariablesCannotBeChangedOnceTheFileSystemRuns) {
  const std::string base = g_conVarSystem->getString("fs_basepath");
  TempTree elsewhere("elsewhere");
  fs::create_directories(elsewhere / "media");
  tree_.write("media/evil.cfg",
              "fs_basepath \"" + elsewhere.str() + "\"\nfs_cdpath /\nfs_game x\nwritecfg\n");
  g_cmdSystem->executeText("loadcfg evil.cfg");
  EXPECT_EQ(g_conVarSystem->getString("fs_basepath"), base);
  EXPECT_STREQ(g_conVarSystem->getString("fs_cdpath"), "");
  EXPECT_STREQ(g_conVarSystem->getString("fs_game"), "");
  EXPECT_FALSE(fs::exists(elsewhere / "media" / "default.cfg"));
  EXPECT_TRUE(fs::exists(tree_ / "media" / "default.cfg"));
  EXPECT_NE(g_output.find("WARNING: \"fs_basepath\" is read only at start-up"), std::string::npos)
      << g_output;
  EXPECT_NE(g_output.find("WARNING: \"fs_game\" is read only at start-up"), std::string::npos) << g_output;
  // Setting the value it already has says nothing.
  g_output.clear();
  g_cmdSystem->executeText(("fs_basepath \"" + base + "\"").c_str());
  EXPECT_EQ(g_output, "");

  // On the command line they do take effect, before the search list is built.
  destroyIOManager();
  setFileSystemCommandLine(("con_devconsole 1 ; fs_basepath \"" + elsewhere.str() + "\" ; quit").c_str());
  const bool started = IOManager::getInstance()->initialize("media");
  setFileSystemCommandLine(nullptr);
  ASSERT_TRUE(started);
  EXPECT_EQ(g_conVarSystem->getString("fs_basepath"), elsewhere.str());
  g_output.clear();
  g_cmdSystem->executeText("writecfg");
  EXPECT_EQ(g_output, "default.cfg saved.\n");
  EXPECT_TRUE(fs::exists(elsewhere / "media" / "default.cfg"));
}
