// The Lua side of the interfaces: one state per interface, window shells that swap the state's
// globals for a window's table, protected runs with a traceback and an interrupt hook, and the
// "sys" table. Functions called from Lua keep no C++ objects with destructors alive across a
// Lua error (errors unwind with longjmp).
#include "ui/uiprogram.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>
}

#include "lib/interface/cmdsystem.h"
#include "lib/interface/convarsystem.h"
#include "lib/interface/iosystem.h"
#include "lib/tokenparser.h"
#include "ui/uiwindow.h"
#include "ui/userinterfacelocal.h"

int g_uiShellDepth = 0;

namespace {

UIProgram* s_programStack[UIProgram::kMaxNestedRuns];
int s_programDepth = -1;

// The state of the innermost protected call, and the handler its interrupt handler replaced.
lua_State* volatile s_interruptState = nullptr;
struct sigaction* volatile s_previousHandler = nullptr;

// Lua's own error print: visible on the console, never read as a format.
void errorPrint(const char* text) {
  if (g_cmdSystem)
    g_cmdSystem->error(0, "%s", text);
}

void interruptHook(lua_State* L, lua_Debug*) {
  lua_sethook(L, nullptr, 0, 0);
  luaL_error(L, "interrupted!");
}

void onInterruptSignal(int) {
  // Hand later signals to whoever had them before this run, not to the default (which ends the
  // process).
  if (s_previousHandler)
    sigaction(SIGINT, s_previousHandler, nullptr);
  UIProgram::interruptRunning();
}

int errorHandler(lua_State* L) {
  lua_getglobal(L, "debug");
  if (!lua_istable(L, -1)) {
    lua_pop(L, 1);
    return 1;
  }
  lua_getfield(L, -1, "traceback");
  if (!lua_isfunction(L, -1)) {
    lua_pop(L, 2);
    return 1;
  }
  lua_pushvalue(L, 1);
  lua_pushinteger(L, 2);
  lua_call(L, 2, 1);
  return 1;
}

// Every call into the state is protected; should one not be, say why before Lua ends the process.
int panicPrint(lua_State* L) {
  std::fprintf(stderr, "PANIC: unprotected error in call to Lua API (%s)\n",
               lua_isstring(L, -1) ? lua_tostring(L, -1) : "?");
  return 0;
}

int collectGarbage(lua_State* L) {
  lua_gc(L, LUA_GCCOLLECT, 0);
  return 0;
}

// The registry key of the error handler, made once per state: fetching it allocates nothing, so a
// state whose scripts took all of their memory still reaches its protected calls.
char s_errorHandlerKey;

int protectedCall(lua_State* L) {
  const int base = lua_gettop(L);  // the chunk
  lua_pushlightuserdata(L, &s_errorHandlerKey);
  lua_rawget(L, LUA_REGISTRYINDEX);
  if (!lua_isfunction(L, -1)) {
    lua_pop(L, 1);
    lua_pushcfunction(L, errorHandler);
  }
  lua_insert(L, base);
  lua_State* outerState = s_interruptState;
  struct sigaction* outerPrevious = s_previousHandler;
  struct sigaction previous;
  struct sigaction handler;
  std::memset(&handler, 0, sizeof(handler));
  handler.sa_handler = onInterruptSignal;
  sigemptyset(&handler.sa_mask);
  sigaction(SIGINT, &handler, &previous);
  s_previousHandler = &previous;
  s_interruptState = L;
  const int status = lua_pcall(L, 0, 0, base);
  sigaction(SIGINT, &previous, nullptr);
  s_interruptState = outerState;
  s_previousHandler = outerPrevious;
  if (!outerState)
    lua_sethook(L, nullptr, 0, 0);  // an interrupt that came as the run ended must not hit the next
  lua_remove(L, base);
  if (status != 0 && lua_cpcall(L, collectGarbage, nullptr) != 0)
    lua_pop(L, 1);  // no memory even to collect: the run's own error is the one to report
  return status;
}

void report(lua_State* L, int status) {
  if (status == 0 || lua_isnil(L, -1))
    return;
  const char* message = lua_tostring(L, -1);
  if (!message)
    message = "(error object is not a string)";
  // The message names the chunk (the script or the handler's window) and the line.
  char text[8192];
  std::snprintf(text, sizeof(text), "WARNING: %s\n", message);
  errorPrint(text);
  lua_pop(L, 1);
}

// Interface scripts never need much memory; a script that builds huge strings or tables gets a
// Lua memory error (which its protected run reports) instead of taking the process's memory.
constexpr size_t kLuaMemoryLimit = size_t(64) << 20;

struct LuaBudget {
  size_t used = 0;
};

void* budgetAlloc(void* ud, void* block, size_t oldSize, size_t newSize) {
  LuaBudget* budget = static_cast<LuaBudget*>(ud);
  if (newSize == 0) {
    std::free(block);
    budget->used -= oldSize;
    return nullptr;
  }
  if (newSize > oldSize && budget->used - oldSize + newSize > kLuaMemoryLimit)
    return nullptr;
  void* grown = std::realloc(block, newSize);
  if (grown)
    budget->used = budget->used - oldSize + newSize;
  return grown;
}

int openLibraries(lua_State* L) {
  static const lua_CFunction kLibraries[] = {luaopen_base, luaopen_table, luaopen_string, luaopen_math,
                                             luaopen_debug};
  for (lua_CFunction library : kLibraries) {
    lua_pushcfunction(L, library);
    lua_call(L, 0, 0);
  }
  // The one way a script makes a value with a finaliser: a finaliser that raises an error runs
  // inside whatever allocation starts the collection, also in the engine's own calls, and ends
  // the process there.
  lua_pushnil(L);
  lua_setglobal(L, "newproxy");
  return 0;
}

// --- "sys" ---

constexpr int kArgBufferSize = 1024;

struct SysArgs {
  char buffer[kArgBufferSize];
  const char* texts[kArgBufferSize];
  int count;
};

// Each argument through the global "tostring", packed into one 1,024-byte buffer; what no longer
// fits is cut, and collecting stops when the buffer is full.
void collectArgs(lua_State* L, SysArgs& args, const char* functionName) {
  const int n = lua_gettop(L);
  args.count = 0;
  int used = 0;
  luaL_checkstack(L, 3, "sys arguments");
  lua_getglobal(L, "tostring");
  for (int i = 1; i <= n; ++i) {
    if (kArgBufferSize - used <= 1)
      break;
    lua_pushvalue(L, -1);
    lua_pushvalue(L, i);
    lua_call(L, 1, 1);
    const char* s = lua_tostring(L, -1);
    if (!s) {
      luaL_error(L, "'tostring' must return a string to '%s'", functionName);
      return;
    }
    size_t length = std::strlen(s);
    const size_t room = size_t(kArgBufferSize - used - 1);
    if (length > room)
      length = room;
    std::memcpy(args.buffer + used, s, length);
    args.buffer[used + int(length)] = '\0';
    args.texts[args.count++] = args.buffer + used;
    used += int(length) + 1;
    lua_pop(L, 1);
  }
  lua_pop(L, 1);
}

UIWindow* currentWindow() {
  UIProgram* program = UIProgram::top();
  return program ? program->getCurrentWindow() : nullptr;
}

int printArgs(lua_State* L, bool newline) {
  const int n = lua_gettop(L);
  luaL_checkstack(L, 3, "sys.print");
  luaL_Buffer b;
  lua_getglobal(L, "tostring");
  const int tostringIndex = lua_gettop(L);
  luaL_buffinit(L, &b);
  for (int i = 1; i <= n + (newline ? 1 : 0); ++i) {
    if (i > 1)
      luaL_addchar(&b, '\t');
    lua_pushvalue(L, tostringIndex);
    if (i <= n)
      lua_pushvalue(L, i);
    else
      lua_pushliteral(L, "\n");
    lua_call(L, 1, 1);
    if (!lua_isstring(L, -1))
      return luaL_error(L, "'tostring' must return a string to 'sys.print'");
    luaL_addvalue(&b);
  }
  luaL_pushresult(&b);
  errorPrint(lua_tostring(L, -1));
  return 0;
}

int sysPrint(lua_State* L) {
  return printArgs(L, false);
}

int sysPrintln(lua_State* L) {
  return printArgs(L, true);
}

int sysInclude(lua_State* L) {
  const int n = lua_gettop(L);
  lua_getglobal(L, "tostring");
  const int tostringIndex = lua_gettop(L);
  for (int i = 1; i <= n; ++i) {
    lua_pushvalue(L, tostringIndex);
    lua_pushvalue(L, i);
    lua_call(L, 1, 1);
    const char* name = lua_tostring(L, -1);
    if (!name)
      return luaL_error(L, "'tostring' must return a string to 'sys.include'");
    UIProgram* program = UIProgram::top();
    if (program) {
      if (UIProgram::depth() >= UIProgram::kMaxNestedRuns)
        return luaL_error(L, "sys.include: '%s' would nest more than %d running scripts", name,
                          UIProgram::kMaxNestedRuns);
      char file[512];
      std::snprintf(file, sizeof(file), "%s", name);
      lua_pop(L, 1);
      program->runFile(file, L);
    } else {
      lua_pop(L, 1);
    }
  }
  return 0;
}

int sysExec(lua_State* L) {
  SysArgs args;
  collectArgs(L, args, "sys.print");
  UIProgram* program = UIProgram::top();
  if (!program)
    return 0;
  for (int i = 0; i < args.count; ++i)
    program->queueCommand(args.texts[i], nullptr);
  return 0;
}

// The head of the functions acting on the current window: the arguments, then the window (null:
// nothing to do), then the count, which must lie in [minArgs, maxArgs] or the call is a Lua error
// naming the function (luaL_error does not return).
UIWindow* windowCall(lua_State* L, SysArgs& args, const char* name, int minArgs, int maxArgs) {
  collectArgs(L, args, "sys.print");
  UIWindow* window = currentWindow();
  if (window && (args.count < minArgs || args.count > maxArgs))
    luaL_error(L, "'%s' has invalid arguments 'sys.print'", name);
  return window;
}

int sysTransition(lua_State* L) {
  SysArgs args;
  UIWindow* window = windowCall(L, args, "transition", 4, 4);
  if (!window)
    return 0;
  // The values are taken as they stand; one no window can show says where the script holds it.
  for (int i = 1; i < 4; ++i) {
    if (const char* number = findNumberOutOfRange(args.texts[i])) {
      luaL_where(L, 1);
      cmdPrintf("WARNING: %sthe number '%.*s' in sys.transition is out of range\n", lua_tostring(L, -1),
                int(std::min<size_t>(std::strspn(number, "+-0123456789.eE"), 40)), number);
      lua_pop(L, 1);
      break;
    }
  }
  window->transition(args.texts[0], args.texts[1], args.texts[2], args.texts[3]);
  return 0;
}

int sysSet(lua_State* L) {
  SysArgs args;
  UIWindow* window = windowCall(L, args, "set", 2, 2);
  if (!window)
    return 0;
  window->setVar(args.texts[0], args.texts[1]);
  const char* colon = std::strrchr(args.texts[0], ':');
  if (colon) {
    char path[kArgBufferSize + 8];
    std::snprintf(path, sizeof(path), "%.*s:update", int(colon - args.texts[0]), args.texts[0]);
    window->setVar(path, "1");
  } else {
    window->setVar("update", "1");
  }
  return 0;
}

int sysGet(lua_State* L) {
  SysArgs args;
  UIWindow* window = windowCall(L, args, "get", 1, 1);
  if (!window)
    return 0;
  return window->pushVar(L, args.texts[0]);
}

int sysGetCvar(lua_State* L) {
  SysArgs args;
  collectArgs(L, args, "sys.print");
  if (args.count != 1)
    return luaL_error(L, "'getcvar' has invalid arguments 'sys.print'");
  ConVar* var = g_conVarSystem ? g_conVarSystem->find(args.texts[0]) : nullptr;
  if (var)
    lua_pushstring(L, var->getString());
  else
    lua_pushnil(L);
  return 1;
}

int sysResetTime(lua_State* L) {
  SysArgs args;
  UIWindow* window = windowCall(L, args, "resetTime", 0, 2);
  if (!window)
    return 0;
  if (args.count == 0) {
    // The window's own name as the time text, read as "no time": the clock restarts at now.
    window->resetTime(window->getName(), "");
  } else {
    window->resetTime(args.texts[0], args.count > 1 ? args.texts[1] : "");
  }
  return 0;
}

int sysStopTransitions(lua_State* L) {
  SysArgs args;
  UIWindow* window = windowCall(L, args, "stopTransitions", 1, 1);
  if (!window)
    return 0;
  window->stopTransitions(args.texts[0]);
  return 0;
}

int sysNamedEvent(lua_State* L) {
  SysArgs args;
  UIWindow* window = windowCall(L, args, "namedEvent", 1, 1);
  if (!window)
    return 0;
  window->postNamedEvent(args.texts[0]);
  return 0;
}

const luaL_Reg kSysFunctions[] = {
    {"print", sysPrint},
    {"println", sysPrintln},
    {"include", sysInclude},
    {"exec", sysExec},
    {"transition", sysTransition},
    {"set", sysSet},
    {"get", sysGet},
    {"getcvar", sysGetCvar},
    {"resetTime", sysResetTime},
    {"stopTransitions", sysStopTransitions},
    {"namedEvent", sysNamedEvent},
    {nullptr, nullptr},
};

// The shell stack lives in the registry: scripts that assign a global of that name cannot break
// the way back to the real globals.
constexpr const char* kShellStackKey = "quill.shellStack";

void pushShellStack(lua_State* L) {
  lua_getfield(L, LUA_REGISTRYINDEX, kShellStackKey);
  if (!lua_istable(L, -1)) {
    lua_pop(L, 1);
    lua_newtable(L);
    lua_pushvalue(L, -1);
    lua_setfield(L, LUA_REGISTRYINDEX, kShellStackKey);
  }
}

}  // namespace

namespace {

int registerSys(lua_State* L) {
  lua_pushlightuserdata(L, &s_errorHandlerKey);
  lua_pushcfunction(L, errorHandler);
  lua_rawset(L, LUA_REGISTRYINDEX);
  luaL_register(L, "sys", kSysFunctions);
  lua_pushboolean(L, 0);
  *static_cast<int*>(lua_touserdata(L, 1)) = luaL_ref(L, LUA_REGISTRYINDEX);
  return 0;
}

void closeState(lua_State* L) {
  void* budget = nullptr;
  lua_getallocf(L, &budget);
  lua_close(L);
  delete static_cast<LuaBudget*>(budget);
}

}  // namespace

// --- UIProgram ---

UIProgram::UIProgram() = default;

UIProgram::~UIProgram() {
  if (state_)
    closeState(state_);
  state_ = nullptr;
}

UIProgram* UIProgram::top() {
  return s_programDepth >= 0 ? s_programStack[s_programDepth] : nullptr;
}

int UIProgram::depth() {
  return s_programDepth + 1;
}

void UIProgram::interruptRunning() {
  lua_State* L = s_interruptState;
  if (L)
    lua_sethook(L, interruptHook, LUA_MASKCALL | LUA_MASKRET | LUA_MASKCOUNT, 1);
}

void UIProgram::setFile(const char* name) {
  file_ = name ? name : "";
  open();
}

bool UIProgram::open() {
  if (state_)
    closeState(state_);
  LuaBudget* budget = new LuaBudget;
  state_ = lua_newstate(budgetAlloc, budget);
  if (!state_) {
    delete budget;
    return false;
  }
  lua_State* L = state_;
  lua_atpanic(L, panicPrint);
  if (lua_cpcall(L, openLibraries, nullptr) != 0 || lua_cpcall(L, registerSys, &resultSlot_) != 0) {
    closeState(L);
    state_ = nullptr;
    return false;
  }
  if (!file_.empty()) {
    std::string file = file_;
    runFile(file.c_str());
  }
  return true;
}

void UIProgram::close() {
  if (!state_)
    return;
  file_.clear();
  closeState(state_);
  state_ = nullptr;
}

bool UIProgram::protect(lua_State* L, int (*fn)(lua_State*), void* data) {
  if (!L)
    return false;
  const int top = lua_gettop(L);
  const int status = lua_cpcall(L, fn, data);
  if (status != 0) {
    const char* message = lua_isstring(L, -1) ? lua_tostring(L, -1) : nullptr;
    char text[1024];
    std::snprintf(text, sizeof(text), "WARNING: %s\n", message ? message : "(error object is not a string)");
    errorPrint(text);
  }
  lua_settop(L, top);
  return status == 0;
}

bool UIProgram::runFile(const char* name, lua_State* state) {
  cmdPrintf("loading %s\n", name ? name : "");
  if (!g_ioSystem || !name)
    return false;
  IOData* data = g_ioSystem->loadFile(name);
  if (!data)
    return false;
  if (!data->buffer) {
    g_ioSystem->freeFile(data);
    return false;
  }
  if (data->length == 0 || !data->buffer[0])
    cmdPrintf("WARNING: script '%s' is empty: the functions it should define are missing\n", name);
  runText(name, data->buffer, state);
  g_ioSystem->freeFile(data);
  return true;
}

bool UIProgram::runText(const char* chunkName, const char* text, lua_State* state) {
  lua_State* L = state ? state : state_;
  if (!L || !text)
    return false;
  return runBuffer(L, text, chunkName ? chunkName : "") == 0;
}

int UIProgram::runBuffer(lua_State* L, const char* text, const char* chunkName) {
  if (s_programDepth + 1 >= kMaxNestedRuns) {
    errorPrint("ERROR: interface scripts nested more than 64 runs deep; run refused\n");
    return LUA_ERRRUN;
  }
  s_programStack[++s_programDepth] = this;
  int status = luaL_loadbuffer(L, text, std::strlen(text), chunkName);
  if (status == 0)
    status = protectedCall(L);
  --s_programDepth;
  report(L, status);
  return status;
}

void UIProgram::runQuiet(lua_State* L, const char* text) {
  if (!L || !text)
    return;
  const int top = lua_gettop(L);
  if (luaL_loadbuffer(L, text, std::strlen(text), "quiet") == 0)
    protectedCall(L);
  lua_settop(L, top);
}

UIShell* UIProgram::createShell(const char* kindName) {
  UIShell* shell = new UIShell(this);
  shell->setName(kindName);
  return shell;
}

bool UIProgram::attachShell(UIWindow* window, UIShell* shell) {
  if (!shell)
    return false;
  if (!window || !shell->loadWindowScript(window)) {
    delete shell;
    return false;
  }
  return true;
}

// The window's own fields go in raw: a metatable a script gave its table never runs here.
namespace {

struct SelfCall {
  UIWindow* window;
  bool setThis;
};

int bindWindowCall(lua_State* L) {
  SelfCall* call = static_cast<SelfCall*>(lua_touserdata(L, 1));
  if (!call->window->pushTable())
    return 0;
  const int table = lua_gettop(L);
  if (call->setThis) {
    lua_pushliteral(L, "this");
    lua_pushvalue(L, table);
    lua_rawset(L, table);
  }
  lua_pushliteral(L, "self");
  UIWindow** slot = static_cast<UIWindow**>(lua_newuserdata(L, sizeof(UIWindow*)));
  *slot = call->window;
  lua_rawset(L, table);
  return 0;
}

}  // namespace

void UIProgram::bindWindow(UIWindow* window) {
  if (!state_ || !window)
    return;
  SelfCall call{window, true};
  protect(state_, bindWindowCall, &call);
}

void UIProgram::setSelf(UIWindow* window) {
  if (!state_ || !window)
    return;
  SelfCall call{window, false};
  protect(state_, bindWindowCall, &call);
}

void UIProgram::queueCommand(const char* text, UserInterfaceLocal* gui) {
  UICommand command;
  std::snprintf(command.text, sizeof(command.text), "%s", text ? text : "");
  command.gui = gui;
  commands_.push_back(command);
}

// --- UIShell ---

int UIShell::forgetTableCall(lua_State* L) {
  UIShell* shell = static_cast<UIShell*>(lua_touserdata(L, 1));
  if (shell->storedInParent_) {
    UIWindow* parent = shell->window_ ? shell->window_->getParent() : nullptr;
    if (!parent || !parent->pushTable(true))
      return 0;
  } else {
    lua_pushvalue(L, LUA_GLOBALSINDEX);
  }
  lua_pushstring(L, shell->table_.c_str());
  lua_pushnil(L);
  lua_rawset(L, -3);
  return 0;
}

UIShell::~UIShell() {
  lua_State* L = getState();
  if (!L || !stored_ || table_.empty())
    return;
  UIProgram::protect(L, forgetTableCall, this);
}

lua_State* UIShell::getState() const {
  return program_ ? program_->getState() : nullptr;
}

int UIShell::createTableCall(lua_State* L) {
  UIShell* shell = static_cast<UIShell*>(lua_touserdata(L, 1));
  UIWindow* parent = shell->window_->getParent();
  if (parent) {
    if (!parent->pushTable())
      return 0;
  } else {
    lua_getglobal(L, "_G");
  }
  if (!lua_istable(L, -1))
    return 0;
  const int holder = lua_gettop(L);
  shell->table_ = shell->window_->getName();
  lua_pushstring(L, shell->table_.c_str());
  lua_newtable(L);
  lua_newtable(L);
  lua_getglobal(L, "_G");
  lua_setfield(L, -2, "__index");
  lua_setmetatable(L, -2);
  lua_rawset(L, holder);
  shell->stored_ = true;
  shell->storedInParent_ = parent != nullptr;
  return 0;
}

bool UIShell::createTable() {
  lua_State* L = getState();
  if (!L || !window_)
    return false;
  stored_ = false;
  UIProgram::protect(L, createTableCall, this);
  return stored_;
}

int UIShell::enterCall(lua_State* L) {
  UIShell* shell = static_cast<UIShell*>(lua_touserdata(L, 1));
  pushShellStack(L);
  ++g_uiShellDepth;
  lua_pushvalue(L, LUA_GLOBALSINDEX);
  lua_rawseti(L, -2, g_uiShellDepth);
  lua_pop(L, 1);
  if (!shell->window_->pushTable()) {
    pushShellStack(L);
    lua_pushnil(L);
    lua_rawseti(L, -2, g_uiShellDepth);
    lua_pop(L, 1);
    --g_uiShellDepth;
    return 0;
  }
  if (!lua_istable(L, -1)) {
    char text[600];
    std::snprintf(text, sizeof(text), "ERROR: object state table not found (%s)\n", shell->table_.c_str());
    errorPrint(text);
    lua_pop(L, 1);
    leaveCall(L);
    return 0;
  }
  lua_replace(L, LUA_GLOBALSINDEX);
  shell->entered_ = true;
  return 0;
}

bool UIShell::enter() {
  lua_State* L = getState();
  if (!L || !window_)
    return false;
  const int depth = g_uiShellDepth;
  entered_ = false;
  UIProgram::protect(L, enterCall, this);
  if (!entered_)
    g_uiShellDepth = depth;  // also after a memory error part-way, before the way back was stored
  return entered_;
}

int UIShell::leaveCall(lua_State* L) {
  pushShellStack(L);
  lua_rawgeti(L, -1, g_uiShellDepth);
  if (lua_istable(L, -1))
    lua_replace(L, LUA_GLOBALSINDEX);
  else
    lua_pop(L, 1);
  lua_pushnil(L);
  lua_rawseti(L, -2, g_uiShellDepth);
  lua_pop(L, 1);
  return 0;
}

void UIShell::leave() {
  lua_State* L = getState();
  if (!L)
    return;
  UIProgram::protect(L, leaveCall, nullptr);
  --g_uiShellDepth;
}

bool UIShell::run(const char* text, const char* chunkName) {
  if (!enter())
    return false;
  UIWindow* previous = program_->getCurrentWindow();
  program_->setCurrentWindow(window_);
  const bool ok = program_->runText(chunkName, text);
  program_->setCurrentWindow(previous);
  leave();
  return ok;
}

bool UIShell::loadWindowScript(UIWindow* window) {
  window_ = window;
  if (!createTable())
    return false;
  if (enter()) {
    program_->bindWindow(window);
    leave();
  }
  return true;
}
