// "writecfg" and "loadcfg": the byte-exact "default.cfg" format and a round trip of every saved
// variable and key binding, over an in-memory file system that records what is written.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "system/cmdmanager.h"
#include "system/convarmanager.h"

namespace {

// Files by operating-system path; buildOSPath marks its result so writes through any other path
// are caught. Game-relative loads look the name up under the same mark.
class MemoryFileSystem : public IOSystem {
 public:
  std::map<std::string, std::string> files;
  std::map<IOFileHandle, std::string> open;
  IOFileHandle nextHandle = 1;
  std::string lastPath;

  int openFileRead(const char*, IOFileHandle*, bool) override { return -1; }
  int openOSFileRead(const char*, IOFileHandle*) override { return 0; }
  IOFileHandle openFileWrite(const char* path) override {
    if (std::strncmp(path, "os/", 3) != 0)
      return 0;
    files[path].clear();
    open[nextHandle] = path;
    return nextHandle++;
  }
  int printf(IOFileHandle file, const char* format, ...) override {
    char text[4096];
    va_list args;
    va_start(args, format);
    int length = std::vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    if (!open.count(file))
      return 0;
    files[open[file]] += text;
    return length;
  }
  int read(void*, int, IOFileHandle) override { return 0; }
  int write(const void* buffer, int length, IOFileHandle file) override {
    if (!open.count(file))
      return 0;
    files[open[file]].append(static_cast<const char*>(buffer), static_cast<size_t>(length));
    return length;
  }
  void closeFile(IOFileHandle file) override { open.erase(file); }
  int tell(IOFileHandle) override { return 0; }
  int seek(IOFileHandle, int, int) override { return 0; }
  int copyFileToPack(const char*, const char*) override { return -1; }
  int writeToPack(const char*, const char*, const void*, int) override { return -1; }
  int readFileToBuffer(const char*, void*, int, bool) override { return 0; }
  bool readFile(const char*, IOData*, bool) override { return false; }
  IOData* loadFile(const char* name, bool osPath) override {
    auto it = files.find(osPath ? std::string(name) : "os/game/" + std::string(name));
    if (it == files.end())
      return nullptr;
    auto* data = new IOData;
    data->length = static_cast<int>(it->second.size());
    data->buffer = new char[it->second.size() + 1];
    std::memcpy(data->buffer, it->second.c_str(), it->second.size() + 1);
    data->heapOwned = true;
    return data;
  }
  void freeFile(IOData* data) override { delete data; }
  void replaceFileName(char*, size_t, const char*) override {}
  void getExtension(char*, size_t, const char*) override {}
  void setExtension(char*, size_t, const char*) override {}
  bool getFileName(const char*, char*, int) override { return false; }
  void fixSlashes(char*) override {}
  int getFileListShort(const char*, char*, int, bool) override { return 0; }
  int getFileList(const char*, const char*, char*, int, bool) override { return 0; }
  int countOSFiles(const char*) override { return 0; }
  bool createPath(const char*) override { return true; }
  bool fileExists(const char* name) override { return files.count("os/game/" + std::string(name)) != 0; }
  bool osFileExists(const char* path) override { return files.count(path) != 0; }
  const char* buildOSPath(const char* basePath, const char* gameDir, const char* name) override {
    lastPath = "os/" + std::string(gameDir && *gameDir ? gameDir : "game") + "/" + name;
    (void)basePath;
    return lastPath.c_str();
  }
};

// Key bindings as the key-binding manager would keep them, with its two commands.
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

std::string g_output;
void capture(void*, const char* text) {
  g_output += text;
}

class CmdConfigTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_output.clear();
    g_bindings.clear();
    g_ioSystem = &fs;
    g_keyBindingWriter = &bindings;
    CmdManager* cmd = getCmdManager();
    cmd->setOutput(capture, nullptr);
    cmd->addCommand("setkey", cmdSetKey, kCmdFlagEngine, "bind key to console command");
    cmd->addCommand("clearkeys", cmdClearKeys, kCmdFlagEngine, "remove all key binds");
    getConVarManager();
  }
  void TearDown() override {
    destroyConVarManager();
    destroyCmdManager();
    g_ioSystem = nullptr;
    g_keyBindingWriter = nullptr;
  }
  MemoryFileSystem fs;
  TestBindings bindings;
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
  std::string variables;
  for (int i = 0; i < g_conVarSystem->count(); ++i) {
    ConVar* var = g_conVarSystem->at(i);
    if (!(var->getFlags() & kConVarArchive))
      continue;
    char line[512];
    std::snprintf(line, sizeof(line), "%-24s \"%s\"\n", var->getName(), var->getString());
    variables += line;
  }
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
  std::string reloaded;
  for (int i = 0; i < g_conVarSystem->count(); ++i) {
    ConVar* var = g_conVarSystem->at(i);
    if (!(var->getFlags() & kConVarArchive))
      continue;
    char line[512];
    std::snprintf(line, sizeof(line), "%-24s \"%s\"\n", var->getName(), var->getString());
    reloaded += line;
  }
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
  for (const char* name : {"../escape.cfg", "sub/../../x.cfg", "c::x.cfg", "/etc/passwd", "\\abs.cfg"}) {
    SCOPED_TRACE(name);
    g_output.clear();
    CmdArgs args;
    args.addWord("writecfg");
    args.addWord(name);
    g_cmdSystem->findCommand("writecfg")->function(args);
    EXPECT_EQ(g_output, "WARNING: writecfg: refusing the file name \"" + std::string(name) + "\"\n");
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
