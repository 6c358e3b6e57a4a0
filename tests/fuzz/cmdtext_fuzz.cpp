// Fuzzes command text: the input runs through the command buffer as typed text, as a
// configuration file read by "loadcfg" and through tab completion, with the console variables
// and the file system in place.
// Runs inside a scratch directory of its own, which it removes at exit.
#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "lib/keydict.h"
#include "system/cmdmanager.h"
#include "system/convarmanager.h"
#include "system/iomanager.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

namespace fs = std::filesystem;

fs::path g_root;

// "wait" counts on this clock; large steps let the drain below end any wait quickly.
uint32_t fastClock() {
  static uint32_t now = 0;
  return now += 1u << 24;
}

void removeScratch() {
  std::error_code ignored;
  fs::current_path(g_root.parent_path(), ignored);
  fs::remove_all(g_root, ignored);
}

// The file-system paths are console variables; pointed elsewhere, "writecfg" would write outside
// the scratch directory. Renaming every "fs_" keeps the rest of the text as it was.
void defuseFsVariables(std::string& text) {
  for (size_t i = 0; i + 2 < text.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) == 'f' &&
        std::tolower(static_cast<unsigned char>(text[i + 1])) == 's' && text[i + 2] == '_')
      text[i] = 'z';
  }
}

void startManagers() {
  CmdManager* cmd = getCmdManager();
  cmd->setOutput(fuzz::dropOutput, nullptr);
  cmd->setClock(fastClock);
  cmd->setAssertPrompt(nullptr);  // "crash" only prints
  cmd->setErrorBox(nullptr);
  getConVarManager();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  g_root = fuzz::makeScratchDirectory("cmd");
  std::atexit(removeScratch);

  KeyDict::initPools();
  startManagers();
  if (!IOManager::getInstance()->initialize("media"))
    std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0)
    return 0;
  const uint8_t mode = data[0];
  std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  defuseFsVariables(text);

  if (mode & 1)
    g_cmdSystem->executeText(text.c_str());  // typed text ends at the first NUL
  if (mode & 2) {
    // Removed first: truncating a file in place makes some file systems flush it.
    std::remove("media/fuzz.cfg");
    if (FILE* f = std::fopen("media/fuzz.cfg", "wb")) {
      std::fwrite(text.data(), 1, text.size(), f);
      std::fclose(f);
    }
    g_cmdSystem->executeText("loadcfg fuzz.cfg");
  }
  if (mode & 4) {
    // The console's tab completion over the same text, in a line buffer of the console's size.
    char line[256];
    std::snprintf(line, sizeof(line), "%s", text.c_str());
    g_cmdSystem->completeCommand(line, sizeof(line));
  }
  // Runs what a "wait" held back for a few frames. A script that waits and loads itself again
  // runs for ever, a frame at a time; rather than carry it into the next input, the command and
  // variable managers start afresh.
  for (int frame = 0; frame < 8 && g_cmdSystem->bufferedText()[0]; ++frame)
    g_cmdSystem->executeText("");
  if (g_cmdSystem->bufferedText()[0]) {
    // The file system again too: it sets "fs_basepath", which "writecfg" writes below.
    IOManager::getInstance()->shutdown();
    destroyConVarManager();
    destroyCmdManager();
    startManagers();
    if (!IOManager::getInstance()->initialize("media"))
      std::abort();
  }
  // "writecfg" leaves a file under every name the inputs make up; a small memory-backed
  // directory would fill up over a long run.
  static unsigned inputs = 0;
  if (++inputs % 256 == 0) {
    std::error_code ignored;
    for (const fs::directory_entry& entry : fs::directory_iterator(g_root / "media", ignored))
      fs::remove_all(entry.path(), ignored);
  }
  return 0;
}
