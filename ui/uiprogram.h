// The Lua program of an interface (one Lua 5.1 state running "script/ui/ui_common.lua" first),
// the window shells that run text with a window's table standing in for the globals, and the
// "sys" table through which scripts reach the engine.
#pragma once

#include <string>
#include <vector>

struct lua_State;
class UIWindow;
class UserInterfaceLocal;

// A command queued by a script: for the game when it names a gui, else console text.
struct UICommand {
  char text[256];
  UserInterfaceLocal* gui;
};

class UIShell;

class UIProgram {
 public:
  static constexpr int kMaxNestedRuns = 64;

  UIProgram();
  virtual ~UIProgram();
  UIProgram(const UIProgram&) = delete;
  UIProgram& operator=(const UIProgram&) = delete;

  // Stores the file name and opens a new state, which runs the file.
  void setFile(const char* name);
  // A new state with the base, table, string, math and debug libraries and "sys".
  bool open();
  void close();
  bool isOpen() const { return state_ != nullptr; }
  lua_State* getState() const { return state_; }
  const char* getFile() const { return file_.c_str(); }

  // Prints "loading %s"; false when the file cannot be read, else true whatever the script did.
  bool runFile(const char* name, lua_State* state = nullptr);
  // True when the text loaded and ran without error.
  bool runText(const char* chunkName, const char* text, lua_State* state = nullptr);
  // 0 on success, else the Lua status; errors are printed with their traceback.
  int runBuffer(lua_State* state, const char* text, const char* chunkName);
  // Runs text protected and under the interrupt hook, ignoring its errors.
  static void runQuiet(lua_State* state, const char* text);
  // Runs fn(state) with `data` as its only argument (a light userdata) in a protected call: what
  // the engine does to a script's values can meet anything a script left there. An error is
  // printed as a warning and gives false.
  static bool protect(lua_State* state, int (*fn)(lua_State*), void* data);
  // A registry slot of this state where protected functions leave the value they looked up.
  int resultSlot() const { return resultSlot_; }

  UIShell* createShell(const char* kindName);
  bool attachShell(UIWindow* window, UIShell* shell);
  void bindWindow(UIWindow* window);
  void setSelf(UIWindow* window);

  UIWindow* getCurrentWindow() const { return current_; }
  void setCurrentWindow(UIWindow* window) { current_ = window; }

  void queueCommand(const char* text, UserInterfaceLocal* gui);
  std::vector<UICommand>& getCommands() { return commands_; }
  void clearCommands() { commands_.clear(); }

  // The program whose text runs at the top of the stack, or null.
  static UIProgram* top();
  static int depth();
  // Asks the running protected call to stop at its next call, return or instruction; what the
  // interrupt signal does. Safe inside a signal handler.
  static void interruptRunning();

 private:
  lua_State* state_ = nullptr;
  int resultSlot_ = 0;
  std::string file_;
  UIWindow* current_ = nullptr;
  std::vector<UICommand> commands_;
};

class UIShell {
 public:
  explicit UIShell(UIProgram* program) : program_(program) {}
  // Clears the window's table where it was stored.
  virtual ~UIShell();
  UIShell(const UIShell&) = delete;
  UIShell& operator=(const UIShell&) = delete;

  void setName(const char* kindName) { kind_ = kindName ? kindName : ""; }
  const char* getKind() const { return kind_.c_str(); }
  const char* getTableName() const { return table_.c_str(); }
  bool createTable();
  bool enter();
  void leave();
  bool run(const char* text, const char* chunkName);
  bool loadWindowScript(UIWindow* window);
  lua_State* getState() const;
  UIProgram* getProgram() const { return program_; }

 private:
  // The Lua side of each operation, run in a protected call.
  static int forgetTableCall(lua_State* L);
  static int createTableCall(lua_State* L);
  static int enterCall(lua_State* L);
  static int leaveCall(lua_State* L);

  std::string kind_;
  std::string table_;
  UIProgram* program_;
  UIWindow* window_ = nullptr;
  bool stored_ = false;
  bool storedInParent_ = false;  // in the parent's table, else a global
  bool entered_ = false;
};

// Nested shell entries across every program.
extern int g_uiShellDepth;
