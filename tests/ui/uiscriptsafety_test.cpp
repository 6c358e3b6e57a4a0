// Hostile interface scripts through the interface manager: values of the wrong type where window
// tables belong, errors in every event kind, endless recursion, huge strings, coroutine errors.
// Each gives a warning naming what went wrong; none ends the process, and the interface goes on.
#include <functional>
#include <string>

#include "tests/ui/uitest.h"

namespace {

// A desktop with a panel holding a window that fails in every event it has, and a probe window
// whose handler still works afterwards.
const char* kHostileGui =
    "windowDef desktop {\n"
    "  rect 0 0 640 480\n"
    "  menugui 1\n"
    "  eventDef { onTrigger failTrigger }\n"
    "  scriptDef {\n"
    "    function this:failTrigger() error('failed in Trigger') end\n"
    "  }\n"
    "  windowDef panel {\n"
    "    rect 100 100 200 200\n"
    "    windowDef inner {\n"
    "      rect 10 10 50 50\n"
    "      eventDef { onMouseEnter failEnter }\n"
    "      eventDef { onMouseExit failExit }\n"
    "      eventDef { onAction failAction }\n"
    "      eventDef { onActionRelease failRelease }\n"
    "      eventDef { onKeyPress failKey }\n"
    "      eventDef { onTab failTab }\n"
    "      eventDef { onEsc failEsc }\n"
    "      eventDef { onNamedEvent poke failNamed }\n"
    "      eventDef { onActivate failActivate }\n"
    "      eventDef { onDeactivate failDeactivate }\n"
    "      eventDef { onTime 0 failTime }\n"
    "      scriptDef {\n"
    "        for _, n in ipairs({'Enter', 'Exit', 'Action', 'Release', 'Key', 'Tab', 'Esc', 'Named',\n"
    "                            'Activate', 'Deactivate', 'Time'}) do\n"
    "          this['fail' .. n] = function(self) error('failed in ' .. n) end\n"
    "        end\n"
    "      }\n"
    "    }\n"
    "  }\n"
    "  windowDef probe {\n"
    "    rect 400 400 10 10\n"
    "    eventDef { onNamedEvent probe ping }\n"
    "    scriptDef { function this:ping() note('alive') end }\n"
    "  }\n"
    "}\n";

class ScriptSafetyTest : public UITest {
 public:
  UserInterfaceManager* ui() { return manager; }
  void key(UserInterfaceLocal* gui, int code, bool down) {
    UIInputEvent event;
    event.type = 1;
    event.value = code;
    event.value2 = down ? 1 : 0;
    gui->handleEvent(&event, 0, nullptr);
  }

 protected:
  // Runs Lua text in a window's shell, as its handlers run.
  static bool runIn(UIWindow* window, const char* text) {
    return window && window->getShell() && window->getShell()->run(text, "hostile");
  }
};

struct Case {
  const char* name;
  // Lua text run in the desktop's shell first ("" for none).
  const char* desktopScript;
  // What then happens to the interface.
  std::function<void(ScriptSafetyTest&, UserInterfaceLocal*)> action;
  // Fragments the warnings must hold.
  std::vector<std::string> expected;
  // Whether the other windows' scripts still run (not when the desktop's own table went).
  bool othersRun = true;
};

}  // namespace

TEST_F(ScriptSafetyTest, HostileScriptsWarnAndTheInterfaceKeepsRunning) {
  auto moveTo = [](float x, float y) {
    return [x, y](ScriptSafetyTest&, UserInterfaceLocal* gui) { gui->mouseMove(x, y); };
  };
  auto onInner = [](int code, bool down) {
    return [code, down](ScriptSafetyTest& t, UserInterfaceLocal* gui) {
      gui->mouseMove(120, 120);
      t.key(gui, code, down);
    };
  };
  const std::string line = "WARNING: [string \"inner\"]:";
  const Case cases[] = {
      // Globals of the desktop's script that take the place of a window's table.
      {"number over a window", "panel = 3", moveTo(120, 120), {"'desktop.panel' is a number"}},
      {"boolean over a window", "panel = true", moveTo(120, 120), {"'desktop.panel' is a boolean"}},
      {"string over a window", "panel = 'inner'", moveTo(120, 120), {"'desktop.panel' is a string"}},
      {"function over a window",
       "panel = function() end",
       moveTo(120, 120),
       {"'desktop.panel' is a function"}},
      {"number over the window itself",
       "panel.inner = 7",
       moveTo(120, 120),
       {"'desktop.panel.inner' is a number"}},
      {"number over the desktop",
       "_G.desktop = 5",
       [](ScriptSafetyTest&, UserInterfaceLocal* gui) { gui->trigger(); },
       {"'desktop' is a number"},
       false},
      {"boolean over a window, then the gui is freed",
       "panel = true",
       [](ScriptSafetyTest& t, UserInterfaceLocal* gui) { t.ui()->freeGui(gui); },
       {}},
      {"a globals table that raises on every missing name",
       "setmetatable(_G, {__index = function(t, k) error('hostile index ' .. tostring(k)) end}) _G.desktop = "
       "nil",
       [](ScriptSafetyTest&, UserInterfaceLocal* gui) { gui->trigger(); },
       {"WARNING: ", "hostile index desktop"},
       false},
      // An error in every event kind, with the script's name and line.
      {"onMouseEnter", "", moveTo(120, 120), {line, "failed in Enter"}},
      {"onMouseExit",
       "",
       [](ScriptSafetyTest&, UserInterfaceLocal* gui) {
         gui->mouseMove(120, 120);
         gui->mouseMove(5, 5);
       },
       {line, "failed in Exit"}},
      {"onAction", "", onInner(kUIKeyMouse1, true), {line, "failed in Action"}},
      {"onActionRelease", "", onInner(kUIKeyMouse1, false), {line, "failed in Release"}},
      {"onKeyPress", "", onInner('a', true), {line, "failed in Key"}},
      {"onTab", "", onInner(9, true), {line, "failed in Tab"}},
      {"onEsc", "", onInner(27, true), {line, "failed in Esc"}},
      {"onNamedEvent",
       "",
       [](ScriptSafetyTest&, UserInterfaceLocal* gui) { gui->namedEvent("poke"); },
       {line, "failed in Named"}},
      {"onActivate",
       "",
       [](ScriptSafetyTest&, UserInterfaceLocal* gui) {
         gui->activate(false, 0);
         gui->activate(true, 0);
       },
       {line, "failed in Activate"}},
      {"onDeactivate",
       "",
       [](ScriptSafetyTest&, UserInterfaceLocal* gui) { gui->activate(false, 0); },
       {line, "failed in Deactivate"}},
      {"onTime",
       "",
       [](ScriptSafetyTest& t, UserInterfaceLocal*) { t.ui()->frame(100); },
       {line, "failed in Time"}},
      {"onTrigger",
       "",
       [](ScriptSafetyTest&, UserInterfaceLocal* gui) { gui->trigger(); },
       {"WARNING: [string \"desktop\"]:", "failed in Trigger"}},
      // Scripts that never end by themselves or take everything.
      {"endless Lua recursion",
       "local function f() return f() + 1 end f()",
       nullptr,
       {"WARNING: ", "stack overflow"}},
      {"endless recursion through a metamethod",
       "local t = setmetatable({}, {}) getmetatable(t).__index = function(s, k) return s[k] end local x = "
       "t.a",
       nullptr,
       {"WARNING: ", "stack overflow"}},
      {"a string beyond the scripts' memory",
       "local s = string.rep('x', 2^30)",
       nullptr,
       {"WARNING: not enough memory"}},
      {"the scripts' memory filled and kept",
       // Links of shrinking size fill what each failure left, up to the last few bytes.
       "local function fill(n) while true do hoard = {hoard, string.rep('0123456789abcdef', n)} end end "
       "for _, n in ipairs({256, 16, 1, 0}) do pcall(fill, n) end "
       "local function tiny() while true do hoard = {hoard} end end pcall(tiny) pcall(tiny) error('full')",
       moveTo(120, 120),
       {"WARNING: "},
       false},
      {"a table beyond the scripts' memory",
       "local t = {} for i = 1, 2^28 do t[i] = i end",
       nullptr,
       {"WARNING: not enough memory"}},
      {"huge texts through sys",
       "sys.set('text', string.rep('x', 2^22)) sys.exec(string.rep('y', 2^20)) error('after huge')",
       nullptr,
       {"after huge"}},
      // Coroutines.
      {"an error inside a coroutine",
       "coroutine.wrap(function() error('inside the coroutine') end)()",
       nullptr,
       {"WARNING: ", "inside the coroutine"}},
      {"a yield across the handler's call", "coroutine.yield(1)", nullptr, {"WARNING: ", "yield across"}},
      {"sys from a coroutine, then an error",
       "coroutine.wrap(function() sys.set('text', 'co') sys.get(nil, nil) end)()",
       nullptr,
       {"WARNING: ", "'get' has invalid arguments"}},
      // The functions the engine itself relies on, taken away.
      {"tostring shadowed", "tostring = 5 sys.set('text', 'x')", nullptr, {"WARNING: ", "attempt to call"}},
      {"this removed from a window",
       "panel.inner.this = nil",
       onInner(kUIKeyMouse1, true),
       {line.substr(0, 10), "this"}},
      {"a finaliser that raises",
       "local p = newproxy(true) getmetatable(p).__gc = function() error('in gc') end",
       nullptr,
       {"WARNING: ", "newproxy"}},
      {"an error object that is no string",
       "error(setmetatable({}, {}))",
       nullptr,
       {"WARNING: (error object is not a string)"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    UserInterfaceLocal* gui = load(kHostileGui);
    ASSERT_NE(gui, nullptr);
    gui->activate(true, 0);
    gui->mouseMove(5, 5);
    cmd.errors.clear();
    if (c.desktopScript[0])
      runIn(gui->getDesktop(), c.desktopScript);
    if (c.action)
      c.action(*this, gui);
    for (const std::string& fragment : c.expected)
      EXPECT_NE(cmd.errors.find(fragment), std::string::npos) << cmd.errors.substr(0, 2000);
    EXPECT_EQ(g_uiShellDepth, 0);
    EXPECT_EQ(UIProgram::depth(), 0);
    if (std::string(c.name).find("freed") != std::string::npos)
      continue;
    lua_State* L = gui->getProgram()->getState();
    ASSERT_NE(L, nullptr);
    EXPECT_EQ(lua_gettop(L), 0) << "nothing left on the Lua stack";
    // The interface goes on: the probe's handler runs, its state still takes scripts, and it draws
    // and frames without the hostile value in the way.
    gui->namedEvent("probe");
    if (c.othersRun) {
      EXPECT_EQ(trace(gui), "alive");
    }
    gui->activate(true, 0);
    manager->frame(200);
    gui->mouseMove(120, 120);
    gui->mouseMove(405, 405);
    EXPECT_STREQ(gui->getFocusWindow() ? gui->getFocusWindow()->getName() : "", "probe");
    manager->freeGui(gui);
  }
}

TEST_F(ScriptSafetyTest, AWindowTableOfTheWrongTypeIsRefusedOnceAndComesBackWhenRestored) {
  UserInterfaceLocal* gui = load(kHostileGui);
  ASSERT_NE(gui, nullptr);
  UIWindow* inner = gui->getDesktop()->findChild("panel")->findChild("inner");
  ASSERT_NE(inner, nullptr);
  lua_State* L = gui->getProgram()->getState();
  ASSERT_TRUE(runIn(gui->getDesktop(), "saved = panel panel = 3"));
  cmd.errors.clear();
  EXPECT_FALSE(inner->pushTable());
  EXPECT_EQ(lua_gettop(L), 0);
  EXPECT_NE(cmd.errors.find("WARNING: 'desktop.panel' is a number, not the table of window 'inner'"),
            std::string::npos)
      << cmd.errors;
  EXPECT_FALSE(runIn(inner, "x = 1")) << "no shell runs without its table";
  ASSERT_TRUE(runIn(gui->getDesktop(), "panel = saved"));
  ASSERT_TRUE(inner->pushTable());
  EXPECT_TRUE(lua_istable(L, -1));
  lua_pop(L, 1);
  EXPECT_TRUE(runIn(inner, "x = 1"));
  EXPECT_EQ(eval(gui, "desktop.panel.inner.x"), "1");
}
