// Stand-ins for the key-binding manager in the "writecfg"/"loadcfg" tests: bindings in a map, its
// "setkey" and "clearkeys" commands and its "writecfg" writer, plus the saved variables as
// "writecfg" lists them.
#pragma once

#include <cstdio>
#include <map>
#include <string>

#include "lib/interface/cmdsystem.h"
#include "lib/interface/convarsystem.h"
#include "lib/interface/iosystem.h"

namespace cfgtest {

// Commands are plain functions, so the bindings they change live here.
inline std::map<std::string, std::string> g_bindings;

class TestBindings : public KeyBindingWriter {
 public:
  void writeSetKeys(IOFileHandle file) override {
    for (const auto& [key, command] : g_bindings)
      g_ioSystem->printf(file, "setkey %-22s \"%s\"\n", key.c_str(), command.c_str());
  }
};

inline void cmdSetKey(const CmdArgs& args) {
  if (args.argc() == 3)
    g_bindings[args.argv(1)] = args.argv(2);
}

inline void cmdClearKeys(const CmdArgs&) {
  g_bindings.clear();
}

// Empties the bindings, registers both commands and installs the writer.
inline void installBindings(CmdSystem* cmd, TestBindings* writer) {
  g_bindings.clear();
  g_keyBindingWriter = writer;
  cmd->addCommand("setkey", cmdSetKey, kCmdFlagEngine, "bind key to console command");
  cmd->addCommand("clearkeys", cmdClearKeys, kCmdFlagEngine, "remove all key binds");
}

// One "%-24s \"%s\"\n" line per saved variable of the registry, in registry order.
inline std::string savedVariableLines() {
  std::string lines;
  for (int i = 0; i < g_conVarSystem->count(); ++i) {
    ConVar* var = g_conVarSystem->at(i);
    if (!(var->getFlags() & kConVarArchive))
      continue;
    char line[512];
    std::snprintf(line, sizeof(line), "%-24s \"%s\"\n", var->getName(), var->getString());
    lines += line;
  }
  return lines;
}

}  // namespace cfgtest
