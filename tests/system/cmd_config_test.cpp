// "writecfg" and "loadcfg": the byte-exact "default.cfg" format and a round trip of every saved
// variable and key binding, over an in-memory file system that records what is written.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "system/cmdmanager.h"
#include "system/convarmanager.h"
#include "tests/support/capturecmdsystem.h"
#include "tests/support/memoryiosystem.h"
#include "tests/system/support/configbindings.h"

namespace {

using cfgtest::g_bindings;

std::string g_output;

class CmdConfigTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_output.clear();
    fs.gamePrefix = "os/game/";
    g_ioSystem = &fs;
    CmdManager* cmd = getCmdManager();
    cmd->setOutput(appendOutput, &g_output);
    cfgtest::installBindings(cmd, &bindings);
    getConVarManager();
  }
  void TearDown() override {
    destroyConVarManager();
    destroyCmdManager();
    g_ioSystem = nullptr;
    g_keyBindingWriter = nullptr;
  }
  MemoryIOSystem fs;
  cfgtest::TestBindings bindings;
};

}  // namespace

TEST_F(CmdConfigTest, WriteThenLoadRestoresEverySavedVariableAndBinding) {
  ConVar volume("cfg_volume", "75", kConVarInt | kConVarArchive, "", 0.0f, 100.0f);
  ConVar pitch("cfg_Pitch", "0.022", kConVarFloat | kConVarArchive);
  ConVar name("cfg_name", "", kConVarString | kConVarArchive);
  ConVar verylongname("cfg_a_variable_name_longer_than_24", "x", kConVarArchive);
  ConVar transient("cfg_transient", "1", kConVarInt);

  volume.setInt(40);
  pitch.setString("0.5");
  name.setString("two words; semi");
  g_bindings["w"] = "_forward";
  g_bindings["MOUSE1"] = "_button0";
  g_bindings["x"] = "_forward;say hi";
  transient.setInt(7);

  g_cmdSystem->executeText("writecfg");
  ASSERT_EQ(fs.files.count("os/game/default.cfg"), 1u);
  const std::string& written = fs.files["os/game/default.cfg"];
  const std::string keys =
      "// KEYS\n"
      "clearkeys\n"
      "setkey MOUSE1                 \"_button0\"\n"
      "setkey w                      \"_forward\"\n"
      "setkey x                      \"_forward;say hi\"\n"
      "\n// SYSTEM VARIABLES\n";
  ASSERT_EQ(written.substr(0, keys.size()), keys);
  // Every saved variable of the registry (the engine's own too, when linked), in name order.
  const std::string variables = cfgtest::savedVariableLines();
  EXPECT_EQ(written.substr(keys.size()), variables);
  // The test's own lines, literally: padding to 24, none for longer names, unsaved ones left out.
  std::string ours;
  for (size_t at = keys.size(); at < written.size();) {
    size_t end = written.find('\n', at) + 1;
    if (written.compare(at, 4, "cfg_") == 0)
      ours += written.substr(at, end - at);
    at = end;
  }
  EXPECT_EQ(ours,
            "cfg_a_variable_name_longer_than_24 \"x\"\n"
            "cfg_name                 \"two words; semi\"\n"
            "cfg_Pitch                \"0.5\"\n"
            "cfg_volume               \"40\"\n");
  EXPECT_EQ(g_output, "default.cfg saved.\n");
  EXPECT_TRUE(fs.open.empty());

  // Every saved variable takes another value before loading.
  for (int i = 0; i < g_conVarSystem->count(); ++i) {
    ConVar* var = g_conVarSystem->at(i);
    if (var->getFlags() & kConVarArchive)
      var->setString("3");
  }
  volume.setInt(1);
  pitch.setInt(2);
  name.setString("other");
  verylongname.setString("y");
  transient.setInt(3);
  g_bindings["z"] = "stale";
  g_output.clear();
  g_cmdSystem->executeText("loadcfg default.cfg");
  EXPECT_EQ(volume.getInt(), 40);
  EXPECT_STREQ(pitch.getString(), "0.5");
  EXPECT_STREQ(name.getString(), "two words; semi");
  EXPECT_STREQ(verylongname.getString(), "x");
  EXPECT_EQ(transient.getInt(), 3);  // not saved, not touched
  const std::string reloaded = cfgtest::savedVariableLines();
  EXPECT_EQ(reloaded, variables);
  EXPECT_EQ(g_bindings, (std::map<std::string, std::string>{
                            {"MOUSE1", "_button0"}, {"w", "_forward"}, {"x", "_forward;say hi"}}));
  EXPECT_EQ(g_output, "Config file default.cfg loaded.\n");
  EXPECT_STREQ(g_cmdSystem->bufferedText(), "");

  // Writing again gives the same bytes.
  std::string first = fs.files["os/game/default.cfg"];
  g_cmdSystem->executeText("writecfg");
  EXPECT_EQ(fs.files["os/game/default.cfg"], first);
}

TEST_F(CmdConfigTest, WithoutBindingsTheKeySectionStillClears) {
  g_keyBindingWriter = nullptr;
  g_cmdSystem->executeText("writecfg user.cfg");
  const std::string head = "// KEYS\nclearkeys\n\n// SYSTEM VARIABLES\n";
  EXPECT_EQ(fs.files["os/game/user.cfg"].substr(0, head.size()), head);
  EXPECT_EQ(g_output, "user.cfg saved.\n");
}

TEST_F(CmdConfigTest, WriteRefusesNamesLeavingTheGameDirectory) {
  // Only configuration files: never the game module, a map, a drive name or a hidden file.
  for (const char* name : {"../escape.cfg", "sub/../../x.cfg", "c::x.cfg", "/etc/passwd", "\\abs.cfg", "game.so",
                           "maps/demo.bsp", "c:default.cfg", "x:y.cfg", ".cfg", "sub/.hidden.cfg", "default.cfg.bak",
                           "guis/mainmenu.gui"}) {
    SCOPED_TRACE(name);
    g_output.clear();
    CmdArgs args;
    args.addWord("writecfg");
    args.addWord(name);
    g_cmdSystem->findCommand("writecfg")->function(args);
    EXPECT_EQ(g_output, "WARNING: writecfg: refusing the file name \"" + std::string(name) +
                            "\": only configuration files (NAME.cfg) inside the game folder are written\n");
  }
  EXPECT_TRUE(fs.files.empty());
  g_cmdSystem->executeText("writecfg sub/ok.cfg");
  EXPECT_EQ(fs.files.count("os/game/sub/ok.cfg"), 1u);
}

TEST_F(CmdConfigTest, LoadSkipsCommentsAndBlankLines) {
  ConVar a("cfg_a", "0", kConVarInt);
  ConVar b("cfg_b", "0", kConVarString);
  fs.files["os/game/c.cfg"] =
      "// a comment\r\n"
      "cfg_a 5 // trailing\r\n"
      "\n"
      "/* block\n"
      "cfg_a 9\n"
      "*/ cfg_b \"http://x;y\"\n";
  g_cmdSystem->executeText("loadcfg c.cfg");
  EXPECT_EQ(a.getInt(), 5);
  EXPECT_STREQ(b.getString(), "http://x;y");
  EXPECT_EQ(g_output, "Config file c.cfg loaded.\n");
}

TEST_F(CmdConfigTest, LoadWarnsAboutNumbersTheVariablesCannotHoldWithFileAndLine) {
  ConVar integer("cfg_i", "0", kConVarInt);
  ConVar flag("cfg_b", "0", kConVarBool);
  ConVar real("cfg_f", "0", kConVarFloat);
  ConVar ranged("cfg_r", "0", kConVarInt, "", 0.0f, 100.0f);
  ConVar text("cfg_s", "", kConVarString);
  fs.files["os/game/n.cfg"] =
      "// numbers\n"
      "cfg_i 2147483647; cfg_f 1e9; cfg_r 100; cfg_s 4294967296999\n"
      "cfg_i 4294967296999\n"
      "cfg_b \"4294967296999\"\n"
      "cfg_f 0.5; cfg_f -1e20\n"
      "cfg_r 101\n";
  g_cmdSystem->executeText("loadcfg n.cfg");
  EXPECT_EQ(g_output,
            "WARNING: n.cfg line 3: \"4294967296999\" is out of range for \"cfg_i\"\n"
            "WARNING: n.cfg line 4: \"4294967296999\" is out of range for \"cfg_b\"\n"
            "WARNING: n.cfg line 5: \"-1e20\" is out of range for \"cfg_f\"\n"
            "WARNING: n.cfg line 6: \"101\" is out of range for \"cfg_r\"\n"
            "Config file n.cfg loaded.\n");
  EXPECT_EQ(ranged.getInt(), 100) << "the value is still set, clamped";
  EXPECT_STREQ(text.getString(), "4294967296999");
}

TEST_F(CmdConfigTest, LoadNamesTheLinesOfACutFile) {
  ConVar a("cfg_a", "0", kConVarInt);
  ConVar s("cfg_s", "", kConVarString);
  // Cut inside a name, and cut inside a quoted value: both name the file and the line. A file cut
  // between statements or inside a comment reads as the shorter valid file it is.
  fs.files["os/game/cut.cfg"] = "cfg_a 3\nwait 0; cfg_s \"two words\"\ncfg_s \"half a val\ncfg_";
  g_cmdSystem->executeText("loadcfg cut.cfg");
  EXPECT_NE(g_output.find(
                "WARNING: cut.cfg line 3: a quoted value is not closed; the file may be cut or damaged\n"),
            std::string::npos)
      << g_output;
  EXPECT_NE(
      g_output.find("WARNING: cut.cfg line 4: \"cfg_\" is no command or variable; the file may be cut or "
                    "damaged\n"),
      std::string::npos)
      << g_output;
  EXPECT_EQ(g_output.find("line 1"), std::string::npos);
  EXPECT_EQ(g_output.find("line 2"), std::string::npos) << "wait and a closed quote are whole statements";
  EXPECT_EQ(a.getInt(), 3);
}

TEST_F(CmdConfigTest, LoadRunsLinesUpTo511CharactersAndSkipsLongerOnes) {
  ConVar a("cfg_a", "0", kConVarString);
  ConVar b("cfg_b", "0", kConVarString);
  const std::string fits(505, 'y');  // "cfg_a " + 505 = 511 characters
  const std::string tooLong(506, 'z');
  fs.files["os/game/long.cfg"] = "cfg_a " + fits + "\ncfg_b " + tooLong + "\ncfg_b last";
  g_cmdSystem->executeText("loadcfg long.cfg");
  EXPECT_EQ(a.getString(), fits);
  EXPECT_STREQ(b.getString(), "last");  // the final line needs no line break
  EXPECT_EQ(g_output,
            "WARNING: loadcfg: line 2 of \"long.cfg\" is longer than 511 characters, skipped\n"
            "Config file long.cfg loaded.\n");
}

TEST_F(CmdConfigTest, LoadingAFileThatLoadsItselfStopsAtDepth16) {
  ConVar count("cfg_count", "0", kConVarInt);
  fs.files["os/game/self.cfg"] =
      "toggle cfg_count 0 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20\nloadcfg self.cfg\n";
  g_cmdSystem->executeText("loadcfg self.cfg");
  EXPECT_EQ(count.getInt(), 16);
  EXPECT_NE(g_output.find("WARNING: loadcfg: \"self.cfg\" nested deeper than 16 files, skipped\n"),
            std::string::npos);
  size_t loaded = 0;
  for (size_t at = g_output.find("Config file self.cfg loaded."); at != std::string::npos;
       at = g_output.find("Config file self.cfg loaded.", at + 1))
    ++loaded;
  EXPECT_EQ(loaded, 16u);
  // The depth unwinds: the file loads again afterwards.
  g_cmdSystem->executeText("loadcfg self.cfg");
  EXPECT_EQ(count.getInt(), 11);  // 16 more steps from 16, wrapping after 20
}

// Found by fuzzing: the depth limit alone let a file that loads itself on three lines run 3^16
// loads (a hang). One executeText from outside a file (a typed line, a frame's buffer) loads at
// most 64 files in all, however many "loadcfg" statements it holds; the next starts afresh.
TEST_F(CmdConfigTest, AFileLoadingItselfOnSeveralLinesStopsAfter64Loads) {
  fs.files["os/game/triple.cfg"] = "loadcfg triple.cfg\nloadcfg triple.cfg\nloadcfg triple.cfg\n";
  auto countLoads = [] {
    size_t loaded = 0;
    for (size_t at = g_output.find("Config file triple.cfg loaded."); at != std::string::npos;
         at = g_output.find("Config file triple.cfg loaded.", at + 1))
      ++loaded;
    return loaded;
  };
  g_cmdSystem->executeText("loadcfg triple.cfg");
  EXPECT_EQ(countLoads(), 64u);
  EXPECT_NE(g_output.find("WARNING: loadcfg: \"triple.cfg\" skipped, 64 files loaded already\n"),
            std::string::npos);
  g_output.clear();
  g_cmdSystem->executeText("loadcfg triple.cfg; loadcfg triple.cfg\nloadcfg triple.cfg");
  EXPECT_EQ(countLoads(), 64u);
}

TEST_F(CmdConfigTest, MissingFileWritesDefaultsOnlyForDefaultCfg) {
  g_cmdSystem->executeText("loadcfg");
  g_cmdSystem->executeText("loadcfg missing.cfg");
  EXPECT_TRUE(fs.files.empty());
  EXPECT_EQ(g_output,
            "usage: loadcfg <filename>\n"
            "ERROR: Loading \"missing.cfg\" config file. Does it exist?\n");
  g_output.clear();
  g_cmdSystem->executeText("loadcfg DEFAULT.CFG");
  EXPECT_EQ(fs.files.count("os/game/default.cfg"), 1u);
  EXPECT_EQ(g_output,
            "ERROR: Loading \"DEFAULT.CFG\" config file. Does it exist?\n"
            "default.cfg saved.\n");
}
