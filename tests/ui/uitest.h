// Shared set-up of the interface tests: a captured command system, an in-memory file system with
// the interface scripts, and the manager.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

extern "C" {
#include <lua.h>
}

#include "tests/support/capturecmdsystem.h"
#include "tests/support/memoryiosystem.h"
#include "ui/uiwindow.h"
#include "ui/userinterfacelocal.h"
#include "ui/userinterfacemanager.h"

// Records console text run by the manager's frame.
class RecordingCmdSystem : public CaptureCmdSystem {
 public:
  std::vector<std::string> executed;
  void executeText(const char* text) override { executed.push_back(text ? text : ""); }
};

// The interface scripts of the tests: a no-op globals dump and a trace the handlers append to.
inline const char* kTestCommonLua =
    "util = {}\n"
    "function util.pt(t) end\n"
    "trace = {}\n"
    "function note(s) trace[#trace + 1] = tostring(s) end\n";

class UITest : public ::testing::Test {
 protected:
  void SetUp() override {
    io.addFile("script/ui/ui_common.lua", kTestCommonLua);
    manager = getUserInterfaceManager();
  }
  void TearDown() override {
    destroyUserInterfaceManager();
    g_activeGui = nullptr;
  }

  // Loads text as a new gui file (a fresh one each call).
  UserInterfaceLocal* load(const std::string& text, const char* name = nullptr) {
    static int s_counter = 0;
    std::string file = name ? name : "guis/test" + std::to_string(++s_counter) + ".gui";
    io.addFile(file, text);
    return manager->findGui(file.c_str(), true, true);
  }

  // The text of a Lua expression evaluated in the gui's state ("" for nil).
  static std::string eval(UserInterfaceLocal* gui, const std::string& expression) {
    lua_State* L = gui->getProgram()->getState();
    if (!L)
      return "<no state>";
    std::string chunk = "__result = tostring(" + expression + ")";
    gui->runScript(chunk.c_str());
    lua_getglobal(L, "__result");
    std::string out = lua_isstring(L, -1) ? lua_tostring(L, -1) : "";
    lua_pop(L, 1);
    return out;
  }

  static std::string trace(UserInterfaceLocal* gui) { return eval(gui, "table.concat(trace, ',')"); }

  RecordingCmdSystem cmd;
  MemoryIOSystem io;
  UserInterfaceManager* manager = nullptr;
};
