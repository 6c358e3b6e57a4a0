// The Lua program of an interface: the "sys" functions, errors with their traceback, the
// interrupt of an endless script, handler arguments that stay strings, window tables.
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "tests/ui/uitest.h"

extern "C" {
#include <lauxlib.h>
}

namespace {

const char* kOneWindow =
    "windowDef desktop {\n"
    "  windowDef w {\n"
    "    rect 10 20 30 40\n"
    "    text \"hi\"\n"
    "  }\n"
    "}\n";

std::string textOf(UIWindow* window, const char* name) {
  std::string text;
  window->getVarText(name, nullptr, &text);
  return text;
}

// Runs Lua text in a window's environment, as its handlers run.
bool runIn(UIWindow* window, const std::string& text) {
  return window->getShell() && window->getShell()->run(text.c_str(), "test");
}

}  // namespace

TEST_F(UITest, TheProgramOpensOnlyTheNamedLibrariesAndRunsTheCommonScriptFirst) {
  UserInterfaceLocal* gui = load(kOneWindow);
  ASSERT_NE(gui, nullptr);
  EXPECT_NE(cmd.output.find("loading script/ui/ui_common.lua"), std::string::npos);
  EXPECT_EQ(eval(gui, "type(util)"), "table") << "ui_common.lua ran";
  const char* present[] = {"coroutine", "table", "string", "math", "debug", "sys"};
  for (const char* name : present)
    EXPECT_EQ(eval(gui, std::string("type(") + name + ")"), "table") << name;
  const char* absent[] = {"io", "os", "package", "require", "loadlib"};
  for (const char* name : absent)
    EXPECT_EQ(eval(gui, std::string("type(") + name + ")"), "nil") << name;
  const char* sysNames[] = {"print", "println", "include", "exec", "transition", "set",
                            "get", "getcvar", "resetTime", "stopTransitions", "namedEvent"};
  for (const char* name : sysNames)
    EXPECT_EQ(eval(gui, std::string("type(sys.") + name + ")"), "function") << name;
}

// A transition to values no window can show still runs, but says where the script asks for it.
TEST_F(UITest, TransitionValuesOutOfRangeNameTheScriptAndLine) {
  UserInterfaceLocal* gui = load(kOneWindow);
  ASSERT_NE(gui, nullptr);
  UIWindow* w = gui->getDesktop()->childAt(0);
  cmd.output.clear();
  ASSERT_TRUE(runIn(w, "sys.transition('backcolor', '0 0 0 1', '1 1 1 1', '250')"));
  EXPECT_EQ(cmd.output.find("out of range"), std::string::npos) << cmd.output;
  ASSERT_TRUE(
      runIn(w, "local x = 1\nsys.transition('backcolor', '0 0 0 1', '1 1 4294967296999.5 1', '250')"));
  EXPECT_NE(
      cmd.output.find("WARNING: [string \"test\"]:2: the number '4294967296999.5' in sys.transition is out "
                      "of range\n"),
      std::string::npos)
      << cmd.output;
}

TEST_F(UITest, WindowTablesNestByNameAndReachTheGlobalsThroughTheirMetatable) {
  UserInterfaceLocal* gui = load(kOneWindow);
  ASSERT_NE(gui, nullptr);
  UIWindow* w = gui->getDesktop()->childAt(0);
  EXPECT_EQ(eval(gui, "desktop.w.this == desktop.w"), "true");
  EXPECT_EQ(eval(gui, "type(desktop.w.self)"), "userdata");
  EXPECT_EQ(eval(gui, "desktop.w.parent == desktop"), "true");
  ASSERT_TRUE(runIn(w, "answer = 42\nsys.exec(type(print) .. ' ' .. type(sys))"));
  EXPECT_EQ(eval(gui, "desktop.w.answer"), "42") << "a handler's global lands in its window's table";
  EXPECT_EQ(eval(gui, "answer"), "nil");
  ASSERT_EQ(gui->getProgram()->getCommands().size(), 1u);
  EXPECT_STREQ(gui->getProgram()->getCommands()[0].text, "function table");
  // A script that takes the name the shells keep their stack under changes nothing for them.
  ASSERT_TRUE(runIn(w, "shellStack = 5"));
  ASSERT_TRUE(runIn(w, "x = 1"));
  EXPECT_EQ(eval(gui, "desktop.w.x"), "1");
  EXPECT_EQ(g_uiShellDepth, 0);
}

TEST_F(UITest, SysFunctionsActOnTheCurrentWindow) {
  UserInterfaceLocal* gui = load(kOneWindow);
  ASSERT_NE(gui, nullptr);
  UIWindow* w = gui->getDesktop()->childAt(0);
  cmd.output.clear();
  ASSERT_TRUE(runIn(w, "sys.println('a', 1)"));
  EXPECT_EQ(cmd.errors, "a\t1\t\n");
  ASSERT_TRUE(runIn(w, "sys.set('text', 'changed')"));
  EXPECT_EQ(textOf(w, "text"), "changed");
  EXPECT_EQ(textOf(w, "update"), "1");
  ASSERT_TRUE(runIn(gui->getDesktop(), "sys.set('w:text', 'by path')"));
  EXPECT_EQ(textOf(w, "text"), "by path");
  EXPECT_EQ(textOf(w, "update"), "1");
  ASSERT_TRUE(runIn(w, "v = sys.get('textscale'); r = sys.get('rect'); n = sys.get('nothing'); t = sys.get('text')"));
  EXPECT_EQ(eval(gui, "type(desktop.w.v) .. desktop.w.v"), "number1");
  EXPECT_EQ(eval(gui, "desktop.w.r.x + desktop.w.r.w"), "50");
  EXPECT_EQ(eval(gui, "desktop.w.n"), "nil");
  EXPECT_EQ(eval(gui, "desktop.w.t"), "by path");
  ASSERT_TRUE(runIn(w, "c = sys.getcvar('no_such_variable')"));
  EXPECT_EQ(eval(gui, "desktop.w.c"), "nil");

  // New variables take their type from their first text.
  ASSERT_TRUE(runIn(w, "sys.set('i', '12'); sys.set('f', '-0.5'); sys.set('s', 'red'); sys.set('v4', '1 2 3 4')"));
  EXPECT_EQ(w->getVar(w->findVarIndex("i"))->value.type, kUIVarInt);
  EXPECT_EQ(w->getVar(w->findVarIndex("f"))->value.type, kUIVarFloat);
  EXPECT_EQ(w->getVar(w->findVarIndex("s"))->value.type, kUIVarText);
  EXPECT_EQ(w->getVar(w->findVarIndex("v4"))->value.w, 4.0f);

  struct Case {
    const char* call;
    const char* error;
  };
  const Case errors[] = {
      {"sys.transition('a', 'b')", "'transition' has invalid arguments 'sys.print'"},
      {"sys.set('a')", "'set' has invalid arguments 'sys.print'"},
      {"sys.get()", "'get' has invalid arguments 'sys.print'"},
      {"sys.getcvar()", "'getcvar' has invalid arguments 'sys.print'"},
      {"sys.resetTime('a', 'b', 'c')", "'resetTime' has invalid arguments 'sys.print'"},
      {"sys.stopTransitions()", "'stopTransitions' has invalid arguments 'sys.print'"},
      {"sys.namedEvent('a', 'b')", "'namedEvent' has invalid arguments 'sys.print'"},
      // The first argument fills the 1,024-byte buffer: the second is dropped and "set" sees one.
      {"sys.set(string.rep('a', 1100), 'b')", "'set' has invalid arguments 'sys.print'"},
  };
  for (const Case& c : errors) {
    cmd.errors.clear();
    EXPECT_FALSE(runIn(w, c.call)) << c.call;
    EXPECT_NE(cmd.errors.find(c.error), std::string::npos) << cmd.errors;
  }
  // Outside a window's shell there is no current window: the window functions do nothing.
  cmd.errors.clear();
  EXPECT_TRUE(gui->runScript("sys.set('text', 'x'); sys.transition('a')"));
  EXPECT_EQ(cmd.errors, "");
}

TEST_F(UITest, ExecQueuesConsoleCommandsThatRunAfterEveryInterfaceUpdated) {
  UserInterfaceLocal* a = load(
      "windowDef desktop {\n eventDef { onTime 0 go }\n"
      " scriptDef { function this:go() sys.exec('first', string.rep('x', 300)) end }\n}\n");
  UserInterfaceLocal* b = load(
      "windowDef desktop {\n eventDef { onTime 0 go }\n scriptDef { function this:go() sys.exec('second') end }\n}\n");
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  a->activate(true, 0);
  b->activate(true, 0);
  manager->frame(10);
  ASSERT_EQ(cmd.executed.size(), 3u);
  EXPECT_EQ(cmd.executed[0], "first");
  EXPECT_EQ(cmd.executed[1], std::string(255, 'x')) << "at most 255 characters are kept";
  EXPECT_EQ(cmd.executed[2], "second");
  EXPECT_TRUE(a->getProgram()->getCommands().empty());
}

TEST_F(UITest, ErrorsPrintTheirTracebackAndLeaveTheWindowUsable) {
  UserInterfaceLocal* gui = load(
      "windowDef desktop {\n"
      "  eventDef { onAction boom }\n"
      "  scriptDef {\n"
      "    function deeper() error('broken on purpose') end\n"
      "    function this:boom() deeper() end\n"
      "  }\n"
      "}\n");
  ASSERT_NE(gui, nullptr);
  cmd.errors.clear();
  bool handled = false;
  UIWindow::runEvents(gui->getDesktop(), "onAction", "", &handled);
  EXPECT_FALSE(handled);
  EXPECT_NE(cmd.errors.find("broken on purpose"), std::string::npos) << cmd.errors;
  EXPECT_NE(cmd.errors.find("stack traceback:"), std::string::npos) << cmd.errors;
  EXPECT_NE(cmd.errors.find("deeper"), std::string::npos) << cmd.errors;
  EXPECT_EQ(g_uiShellDepth, 0);
  EXPECT_EQ(UIProgram::depth(), 0);
  EXPECT_TRUE(runIn(gui->getDesktop(), "ok = 1"));
  EXPECT_EQ(eval(gui, "desktop.ok"), "1");
  cmd.errors.clear();
  EXPECT_FALSE(gui->runScript("error({})"));
  EXPECT_NE(cmd.errors.find("(error object is not a string)"), std::string::npos) << cmd.errors;
  EXPECT_FALSE(gui->runScript("this is not lua"));
}

TEST_F(UITest, HandlerArgumentsStayStrings) {
  UserInterfaceLocal* gui = load(
      "windowDef desktop {\n"
      "  scriptDef { function this:got(a) received = a end }\n"
      "}\n");
  ASSERT_NE(gui, nullptr);
  const std::string values[] = {
      "\" ) os.exit() --",
      "back\\slash \\\" ) error('x') --",
      "line\nbreak\r\n\" .. note('injected') .. \"",
  };
  for (const std::string& value : values) {
    UIEvent handler("onNamedEvent");
    handler.setParam("x");
    handler.setMethod("got");
    cmd.errors.clear();
    EXPECT_TRUE(gui->getDesktop()->callEventText(handler, value.c_str())) << cmd.errors;
    lua_State* L = gui->getProgram()->getState();
    lua_getglobal(L, "desktop");
    lua_getfield(L, -1, "received");
    ASSERT_TRUE(lua_isstring(L, -1));
    EXPECT_EQ(std::string(lua_tostring(L, -1)), value);
    lua_pop(L, 2);
  }
  EXPECT_EQ(trace(gui), "") << "nothing inside an argument ran";
}

TEST_F(UITest, AnEndlessScriptIsInterruptedAndThePreviousHandlerComesBack) {
#if defined(__SANITIZE_THREAD__)
  // ThreadSanitizer holds an asynchronous signal until the thread next calls into the C library,
  // which a Lua loop never does: the interrupt would never arrive. The address-sanitizer run covers it.
  GTEST_SKIP() << "signals are deferred under ThreadSanitizer";
#endif
  UserInterfaceLocal* gui = load(kOneWindow);
  ASSERT_NE(gui, nullptr);
  static std::atomic<int> s_ours{0};
  struct sigaction mine = {};
  mine.sa_handler = [](int) { s_ours++; };
  sigemptyset(&mine.sa_mask);
  struct sigaction saved = {};
  ASSERT_EQ(sigaction(SIGINT, &mine, &saved), 0);

  std::atomic<bool> done{false};
  const pthread_t target = pthread_self();
  std::thread interrupter([&] {
    // Until the loop has been stopped: a signal that comes before it runs reaches our handler.
    while (!done) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      if (!done)
        pthread_kill(target, SIGINT);
    }
  });
  cmd.errors.clear();
  const bool ok = runIn(gui->getDesktop()->childAt(0), "while true do end");
  done = true;
  interrupter.join();
  EXPECT_FALSE(ok);
  EXPECT_NE(cmd.errors.find("interrupted!"), std::string::npos) << cmd.errors;

  struct sigaction now = {};
  sigaction(SIGINT, nullptr, &now);
  EXPECT_EQ(now.sa_handler, mine.sa_handler) << "the handler from before the run is back";
  const int before = s_ours;
  raise(SIGINT);
  EXPECT_EQ(s_ours, before + 1);
  sigaction(SIGINT, &saved, nullptr);
  // The state still runs scripts.
  EXPECT_TRUE(runIn(gui->getDesktop(), "after = 2"));
  EXPECT_EQ(eval(gui, "desktop.after"), "2");
}

TEST_F(UITest, RunsNestedDeeperThanTheStackAreRefused) {
  io.addFile("script/ui/self.lua", "depth = (depth or 0) + 1\nsys.include('script/ui/self.lua')\n");
  UserInterfaceLocal* gui = load(kOneWindow);
  ASSERT_NE(gui, nullptr);
  cmd.errors.clear();
  gui->runScript("sys.include('script/ui/self.lua')");
  EXPECT_NE(cmd.errors.find("nest more than 64"), std::string::npos) << cmd.errors.substr(0, 400);
  EXPECT_EQ(eval(gui, "depth"), "63") << "the raw script and 63 files fill the 64 places";
  EXPECT_EQ(UIProgram::depth(), 0);
}

TEST_F(UITest, ResetTimeRestartsTheClock) {
  UserInterfaceLocal* gui = load(
      "windowDef desktop {\n"
      "  eventDef { onTime 0 t }\n eventDef { onTime 100 t }\n"
      "  scriptDef { function this:t(n) note(n) end }\n"
      "}\n");
  ASSERT_NE(gui, nullptr);
  gui->activate(true, 0);
  manager->frame(1000);
  manager->frame(1200);
  EXPECT_EQ(trace(gui), "0,100");
  ASSERT_TRUE(runIn(gui->getDesktop(), "sys.resetTime()"));
  manager->frame(1201);
  EXPECT_EQ(trace(gui), "0,100,0");
  ASSERT_TRUE(runIn(gui->getDesktop(), "sys.resetTime('desktop', '50')"));
  manager->frame(1202);
  manager->frame(1260);
  EXPECT_EQ(trace(gui), "0,100,0,100") << "below 50 counts as fired, 100 is 50 ms later";
}

TEST_F(UITest, AShellGivesBackItsTableWhenItsWindowGoes) {
  UserInterfaceLocal* gui = load(kOneWindow);
  ASSERT_NE(gui, nullptr);
  EXPECT_EQ(eval(gui, "type(desktop.w)"), "table");
  UIWindow::destroyTree(gui->getDesktop()->childAt(0));
  EXPECT_EQ(eval(gui, "type(desktop.w)"), "nil");
  EXPECT_EQ(gui->getDesktop()->numChildren(), 0);
}
