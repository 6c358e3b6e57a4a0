// Windows as ".gui" files build them: properties, nesting, bad input, variables by path,
// transitions against time, events in order and input routed by mouse position.
#include <cstdio>
#include <string>

#include "lib/tokenparser.h"
#include "lib/vector.h"
#include "tests/ui/recordingrender.h"
#include "tests/ui/uitest.h"
#include "ui/uikinds.h"
#include "ui/uirenderdef.h"

namespace {

std::string textOf(UIWindow* window, const char* name) {
  std::string text;
  window->getVarText(name, nullptr, &text);
  return text;
}

UIVarValue valueOf(UIWindow* window, const char* name) {
  UIVarValue value;
  window->getVarText(name, &value, nullptr);
  return value;
}

const char* kTwoChildren =
    "windowDef desktop\n"
    "{\n"
    "  rect 0,0,640,480\n"
    "  menugui 1\n"
    "  windowDef first\n"
    "  {\n"
    "    rect 100 100 200 100\n"
    "    eventDef { onMouseEnter enterFirst }\n"
    "    eventDef { onMouseExit exitFirst }\n"
    "    eventDef { onAction clickFirst }\n"
    "    scriptDef {\n"
    "      function this:enterFirst(a) note('enter first') end\n"
    "      function this:exitFirst(a) note('exit first') end\n"
    "      function this:clickFirst(a) note('click first') end\n"
    "    }\n"
    "    windowDef inner { rect 10 10 100 20\n }\n"
    "  }\n"
    "  windowDef second\n"
    "  {\n"
    "    rect 250 150 100 100\n"
    "    eventDef { onMouseEnter enterSecond }\n"
    "    eventDef { onAction clickSecond }\n"
    "    scriptDef {\n"
    "      function this:enterSecond(a) note('enter second') end\n"
    "      function this:clickSecond(a) note('click second') end\n"
    "    }\n"
    "  }\n"
    "  windowDef hidden { rect 0 0 50 50\n visible 0\n }\n"
    "  windowDef clipped { rect 400 0 50 50\n noclip 1\n }\n"
    "}\n";

}  // namespace

// --- The ".gui" format ---

TEST_F(UITest, PropertiesOfAWindowAreParsedFromTheirLines) {
  UserInterfaceLocal* gui = load(
      "windowDef Desktop {\n"
      "  rect \"0,0,640,480\"\n"
      "  backcolor 0.5 0.25 0 1\n"
      "  text \"Line one\\nLine two\"\n"
      "  textscale 0.75\n"
      "  textalign 2\n"
      "  bool flag 1\n"
      "  float ratio 2.5\n"
      "  int count 7 // comment\n"
      "  double d /* skipped */ 3\n"
      "  windowDef child { rect 10 10 100 20\n }\n"
      "  bindDef b { rect 1 2 3 4\n }\n"
      "  comboDef c { }\n"
      "  dialogDef d2 { }\n"
      "  renderDef r { }\n"
      "}\n");
  ASSERT_NE(gui, nullptr) << cmd.output;
  UIWindow* desktop = gui->getDesktop();
  ASSERT_NE(desktop, nullptr);
  EXPECT_STREQ(desktop->getName(), "Desktop");
  struct Case {
    const char* path;
    const char* text;
    int type;
    float x, y, z, w;
  };
  const Case cases[] = {
      {"rect", "0,0,640,480", kUIVarVec4, 0, 0, 640, 480},
      {"backcolor", "0.5 0.25 0 1", kUIVarVec4, 0.5f, 0.25f, 0, 1},
      {"text", "Line one\r\nLine two", kUIVarText, 0, 0, 0, 0},
      {"textscale", "0.75", kUIVarFloat, 0.75f, 0, 0, 0},
      {"textalign", "2", kUIVarInt, 2, 0, 0, 0},
      {"flag", "1", kUIVarBool, 1, 0, 0, 0},
      {"ratio", "2.5", kUIVarFloat, 2.5f, 0, 0, 0},
      {"count", "7", kUIVarInt, 7, 0, 0, 0},
      {"d", "3", kUIVarFloat, 3, 0, 0, 0},
      {"child.rect", "10 10 100 20", kUIVarVec4, 10, 10, 100, 20},
      {"b:rect", "1 2 3 4", kUIVarVec4, 1, 2, 3, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    UIVarValue value;
    std::string text;
    ASSERT_TRUE(desktop->getVarText(c.path, &value, &text));
    EXPECT_EQ(text, c.text);
    EXPECT_EQ(value.type, c.type);
    EXPECT_FLOAT_EQ(value.x, c.x);
    EXPECT_FLOAT_EQ(value.y, c.y);
    EXPECT_FLOAT_EQ(value.z, c.z);
    EXPECT_FLOAT_EQ(value.w, c.w);
  }
  EXPECT_EQ(valueOf(desktop, "flag").flags, kUIVarDeclared);
  ASSERT_EQ(desktop->numChildren(), 5);
  const char* kinds[] = {"windowDef", "bindDef", "comboDef", "dialogDef", "renderDef"};
  for (int i = 0; i < 5; ++i) {
    EXPECT_STREQ(desktop->childAt(i)->getKind(), kinds[i]);
    EXPECT_EQ(desktop->childAt(i)->getDepth(), 1);
  }
  EXPECT_EQ(cmd.output.find("ParseError"), std::string::npos) << cmd.output;
}

TEST_F(UITest, BadFilesAreRefusedWithAMessage) {
  struct Case {
    const char* name;
    const char* text;  // null: no such file
    bool loads;
    const char* message;
  };
  const Case cases[] = {
      {"missing", nullptr, false, ""},
      {"wrong first word", "windowSef desktop { }", false,
       "Unknown token: 'windowSef'.  Expected 'windowDef desktop'."},
      {"empty (no length: never opened)", "", false, ""},
      {"capital keyword", "WINDOWDEF desktop { }", true, ""},
      {"no brace", "windowDef desktop rect 0 0 1 1", false,
       "Syntax Error: parsed 'rect' while expecting '{'"},
      {"unclosed", "windowDef desktop { windowDef a { rect 1 1 1 1 }", false, ""},
      {"bad child", "windowDef desktop { windowDef a rect }", false,
       "ParseError: invalid window def on (line: 1)"},
      {"unknown word", "windowDef desktop {\n wibble\n}", true, "ERROR: unknown type 'wibble' on (line: 2)"},
      {"unknown word token", "windowDef desktop {\n wibble\n}", true,
       "ParseError: unknown token 'wibble' on (line: 2)"},
      {"bad event", "windowDef desktop {\n eventDef { onWobble go }\n}", true,
       "ParseError: invalid event type 'onWobble'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    cmd.output.clear();
    UserInterfaceLocal* gui = nullptr;
    if (c.text)
      gui = load(c.text);
    else
      gui = manager->findGui("guis/nothere.gui", true, false);
    EXPECT_EQ(gui != nullptr, c.loads) << c.name << ": " << cmd.output;
    EXPECT_NE(cmd.output.find(c.message), std::string::npos) << cmd.output;
    if (gui) {
      EXPECT_NE(gui->getDesktop(), nullptr);
    }
  }
  // Nothing half-loaded stays behind.
  EXPECT_EQ(manager->numGuis(), 4);
  // Loaded directly, an empty file is refused: a gui never ends up without its desktop.
  io.addFile("guis/empty.gui", "");
  UserInterfaceLocal* empty = manager->allocGui();
  cmd.output.clear();
  EXPECT_FALSE(empty->load("guis/empty.gui", true));
  EXPECT_NE(cmd.output.find("Unknown token: ''.  Expected 'windowDef desktop'."), std::string::npos) << cmd.output;
  EXPECT_EQ(empty->getDesktop(), nullptr);
  manager->freeGui(empty);
}

TEST_F(UITest, WordsOfAnUnknownLineAreEachReportedAndTheRestIsRead) {
  UserInterfaceLocal* gui = load("windowDef desktop {\n  red green\n  rect 1 2 3 4\n}\n");
  ASSERT_NE(gui, nullptr);
  EXPECT_NE(cmd.output.find("ERROR: unknown type 'red'"), std::string::npos);
  EXPECT_NE(cmd.output.find("ParseError: unknown token 'green' on (line: 2)"), std::string::npos);
  EXPECT_EQ(textOf(gui->getDesktop(), "rect"), "1 2 3 4");
}

// A number no window can use is kept but named with the file and line; text values are text.
TEST_F(UITest, NumbersOutOfRangeInValuesNameTheFileAndLine) {
  UserInterfaceLocal* gui = load(
      "windowDef desktop {\n"
      "  text \"4294967296999\"\n"
      "  rect 0, 0, 640, 480\n"
      "  float speed 1e20\n"
      "  backcolor 0, 0, 4294967296999, 1\n"
      "}\n",
      "guis/huge.gui");
  ASSERT_NE(gui, nullptr);
  EXPECT_EQ(cmd.output.find("line 2"), std::string::npos) << cmd.output;
  EXPECT_EQ(cmd.output.find("line 3"), std::string::npos) << cmd.output;
  EXPECT_NE(cmd.output.find("WARNING: guis/huge.gui line 4: the number '1e20' is out of range\n"),
            std::string::npos)
      << cmd.output;
  EXPECT_EQ(textOf(gui->getDesktop(), "text"), "4294967296999");
}

TEST_F(UITest, OnlyTheFirstEventLineOfABlockIsKept) {
  UserInterfaceLocal* gui = load(
      "windowDef desktop {\n"
      "  eventDef { onTime 500 later\n onAction second }\n"
      "  eventDef { onAction first }\n"
      "  eventDef { ONNAMEDEVENT ping pong }\n"
      "  eventDef { onEsc thisMethodNameIsMuchLongerThanThirtyOneCharacters }\n"
      "}\n");
  ASSERT_NE(gui, nullptr);
  UIWindow* d = gui->getDesktop();
  ASSERT_EQ(d->numEvents(), 4);
  EXPECT_STREQ(d->eventAt(0).name(), "onTime");
  EXPECT_STREQ(d->eventAt(0).param(), "500");
  EXPECT_EQ(d->eventAt(0).value(), 500);
  EXPECT_STREQ(d->eventAt(0).method(), "later");
  EXPECT_STREQ(d->eventAt(1).param(), "");
  EXPECT_EQ(d->eventAt(1).value(), 0);
  EXPECT_STREQ(d->eventAt(1).method(), "first");
  EXPECT_TRUE(d->eventAt(2).isNamed());
  EXPECT_STREQ(d->eventAt(2).param(), "ping");
  EXPECT_STREQ(d->eventAt(3).method(), "thisMethodNameIsMuchLongerThanT") << "31 characters kept";
}

TEST_F(UITest, DeepNestingIsCappedWithAMessage) {
  auto nested = [](int depth) {
    std::string text = "windowDef desktop {\n";
    for (int i = 0; i < depth; ++i)
      text += "windowDef w" + std::to_string(i) + " {\n";
    for (int i = 0; i <= depth; ++i)
      text += "}\n";
    return text;
  };
  EXPECT_NE(load(nested(127)), nullptr) << "127 levels below the desktop are allowed";
  cmd.output.clear();
  EXPECT_EQ(load(nested(400)), nullptr);
  EXPECT_NE(cmd.output.find("nested deeper than 128"), std::string::npos) << cmd.output;
}

// --- Variables ---

// Every variable of a window, as text: name, text, type, flags and parsed value, and whether the
// window's dictionary has the same text under the name.
std::string describeVars(UIWindow* w) {
  std::string out;
  for (int i = 0; i < w->numVars(); ++i) {
    const UIVar* var = w->getVar(i);
    const KeyValue* pair = w->findVarPair(var->name.c_str());
    char line[512];
    std::snprintf(line, sizeof(line), "%s='%s' t%d f%x (%g %g %g %g) dict:%s\n", var->name.c_str(), var->text.c_str(),
                  var->value.type, unsigned(var->value.flags), double(var->value.x), double(var->value.y),
                  double(var->value.z), double(var->value.w),
                  pair ? (var->text == pair->valueText() ? "same" : pair->valueText()) : "missing");
    out += line;
  }
  return out + std::to_string(w->getVars()->count()) + " pairs";
}

TEST_F(UITest, WindowsMadeByKindWordCarryTheBuiltInsAndTheKindsProperties) {
  // A window made by its kind word (the first of a kind, then from the kind's kept defaults) has
  // what its own constructor gives it: the built-in variables and the kind's properties, typed,
  // parsed and in the dictionary. It takes the id of the temporary plain window it is copied from.
  UserInterfaceLocal* gui = load("windowDef desktop {\n rect 0 0 640 480\n}\n");
  ASSERT_NE(gui, nullptr) << cmd.output;
  struct Case {
    const char* word;
    int vars;
  } cases[] = {{"windowDef", 24}, {"bindDef", 25}, {"comboDef", 27}, {"dialogDef", 31}, {"renderDef", 36}};
  for (const Case& c : cases) {
    UIWindow* direct = nullptr;
    if (String::icmp(c.word, "bindDef") == 0)
      direct = new UIBindDef(gui);
    else if (String::icmp(c.word, "comboDef") == 0)
      direct = new UIComboDef(gui);
    else if (String::icmp(c.word, "dialogDef") == 0)
      direct = new UIDialogDef(gui);
    else if (String::icmp(c.word, "renderDef") == 0)
      direct = new UIRenderDef(gui);
    else
      direct = new UIWindow(gui);
    const std::string expected = describeVars(direct);
    EXPECT_EQ(direct->numVars(), c.vars) << c.word;
    EXPECT_EQ(expected.find("missing"), std::string::npos) << expected;
    for (int round = 0; round < 2; ++round) {
      const int id = g_uiNextWindowId;
      UIWindow* made = UIWindowFactory::createByKind(gui, c.word);
      ASSERT_NE(made, nullptr) << c.word;
      EXPECT_EQ(made->getId(), id) << c.word;
      EXPECT_EQ(g_uiNextWindowId, id + 2) << "the temporary and the kind's object each take an id";
      EXPECT_STREQ(made->getKind(), c.word);
      EXPECT_STREQ(made->getName(), "untitled");
      EXPECT_EQ(describeVars(made), expected) << c.word << " round " << round;
      // A change to one window's variables reaches no other window's.
      made->setVarText("rect", "1 2 3 4");
      made->setVarText("MatColor", "0.5 0.5 0.5 1");
      EXPECT_EQ(valueOf(made, "matcolor").x, 0.5f);
      EXPECT_STREQ(made->findVarPair("MATCOLOR")->valueText(), "0.5 0.5 0.5 1");
      UIWindow::destroyTree(made);
    }
    EXPECT_EQ(describeVars(direct), expected) << "the direct window is untouched";
    delete direct;
  }
  EXPECT_EQ(UIWindowFactory::createByKind(gui, "labelDef"), nullptr);
}

TEST_F(UITest, TextIsClassifiedByItsCharacters) {
  struct Case {
    const char* text;
    int type;
  };
  const Case cases[] = {{"12", kUIVarInt},    {"1.5", kUIVarFloat},      {"-0.5", kUIVarFloat},
                        {"1 2 3 4", kUIVarInt}, {"red", kUIVarText},   {"", kUIVarInt},
                        {"1,2", kUIVarText}};
  for (const Case& c : cases)
    EXPECT_EQ(uiClassifyText(c.text), c.type) << c.text;
  float v[4];
  EXPECT_EQ(uiParseVec("0,0,640,480", v), 4);
  EXPECT_EQ(v[2], 640.0f);
  EXPECT_EQ(uiParseVec("0 0 640 480", v), 4);
  EXPECT_EQ(v[3], 480.0f);
  EXPECT_EQ(uiParseVec("5", v), 1);
  EXPECT_EQ(v[1], 0.0f);
  EXPECT_EQ(uiFormatValue(v, 2), "5.000 0.000");
}

TEST_F(UITest, StateIsReachedByWindowPaths) {
  UserInterfaceLocal* gui = load(
      "windowDef desktop {\n"
      "  windowDef panel {\n"
      "    int score 42\n"
      "    windowDef label { text score\n }\n"
      "  }\n"
      "  windowDef other { }\n"
      "}\n");
  ASSERT_NE(gui, nullptr);
  EXPECT_EQ(gui->getStateInt("panel.score"), 42);
  EXPECT_EQ(gui->getStateInt("panel:score"), 42);
  EXPECT_EQ(gui->getStateInt("nowhere.score"), 0);
  EXPECT_STREQ(gui->getStateString("nowhere.score"), "");
  gui->setStateString("panel.label.text", "hello");
  EXPECT_STREQ(gui->getStateString("panel.label.text"), "hello");
  gui->setStateFloat("map_loading", 0.5f);
  EXPECT_FLOAT_EQ(gui->getStateFloat("map_loading"), 0.5f);
  const float v[4] = {1.0f, 0.5f, 0.25f, 0.0f};
  gui->setStateVec4("tint", v);
  Vec4 out;
  gui->getStateVec4(&out, "tint");
  EXPECT_FLOAT_EQ(out.y, 0.5f);
  // findChild: a sibling's name finds the sibling, an ancestor's name the ancestor.
  UIWindow* panel = gui->getDesktop()->childAt(0);
  EXPECT_EQ(panel->findChild("other"), gui->getDesktop()->childAt(1));
  EXPECT_EQ(panel->childAt(0)->findChild("desktop"), gui->getDesktop());
  // "gui" starts at the manager's root window, whatever window resolves the path.
  manager->setRootVar("version", "3");
  EXPECT_EQ(panel->childAt(0)->getBoolVar("gui:version", false), true);
  EXPECT_EQ(manager->findWindow("gui"), manager->getRootWindow());
  EXPECT_EQ(manager->findWindow("gui.desktop"), nullptr) << "the root window has no children of its own";
  EXPECT_EQ(manager->findWindowById(panel->getId(), gui->getDesktop()), panel);
}

TEST_F(UITest, UnresolvedVariablesWarnOnceFromTheTopWindow) {
  UserInterfaceLocal* gui = load("windowDef desktop { windowDef a { windowDef b { } } }");
  ASSERT_NE(gui, nullptr);
  UIWindow* b = gui->getDesktop()->childAt(0)->childAt(0);
  cmd.output.clear();
  b->setVar("missing.text", "x");
  const std::string warning = "WARNING: failed to resolve variable(missing.text) in window(desktop)";
  const size_t first = cmd.output.find(warning);
  ASSERT_NE(first, std::string::npos) << cmd.output;
  EXPECT_EQ(cmd.output.find(warning, first + 1), std::string::npos);
}

TEST_F(UITest, DefaultsAreRecognised) {
  UIWindow window(nullptr);
  EXPECT_TRUE(window.isVarDefault(window.findVarIndex("rect")));
  window.setVarText("rect", "0 0 0 0.01");
  EXPECT_FALSE(window.isVarDefault(window.findVarIndex("rect")));
  EXPECT_TRUE(window.isVarDefault(window.findVarIndex("visible")));
  window.setVarText("mine", "1");
  EXPECT_FALSE(window.isVarDefault(window.findVarIndex("mine")));
  EXPECT_FALSE(window.isVarDefault(999));
}

// --- Transitions ---

TEST_F(UITest, TransitionsFollowTheFrameTime) {
  UserInterfaceLocal* gui = load("windowDef desktop { windowDef w { rect 0 0 10 10\n } }");
  ASSERT_NE(gui, nullptr);
  UIWindow* w = gui->getDesktop()->childAt(0);
  manager->frame(1000);
  w->transition("matcolor", "1 1 1 0", "1 1 1 1", "500");
  EXPECT_EQ(textOf(w, "matcolor"), "1 1 1 0");
  manager->frame(1250);
  EXPECT_FLOAT_EQ(valueOf(w, "matcolor").w, 0.5f);
  manager->frame(1400);
  EXPECT_NEAR(valueOf(w, "matcolor").w, 0.8f, 1e-5f);
  manager->frame(1600);
  EXPECT_FLOAT_EQ(valueOf(w, "matcolor").w, 1.0f);
  EXPECT_EQ(manager->getRateFuncs().count(), 0) << "the transition ends at its target";

  // A second transition on the same variable replaces the first.
  w->transition("matcolor", "0 0 0 0", "1 1 1 1", "1000");
  w->transition("matcolor", "0 0 0 1", "0 0 0 0", "100");
  EXPECT_EQ(manager->getRateFuncs().count(), 1);
  manager->frame(1700);
  EXPECT_FLOAT_EQ(valueOf(w, "matcolor").w, 0.0f);
  EXPECT_EQ(manager->getRateFuncs().count(), 0);

  // "0" ms lands on the target at the next update.
  w->transition("textscale", "1", "2", "0");
  manager->frame(1701);
  EXPECT_FLOAT_EQ(valueOf(w, "textscale").x, 2.0f);
  EXPECT_EQ(textOf(w, "textscale"), "2.000");
}

TEST_F(UITest, TransitionsBelongToTheirWindowAndVariable) {
  UserInterfaceLocal* gui = load("windowDef desktop { windowDef w { rect 0 0 10 10\n float a 0\n float b 0\n } }");
  ASSERT_NE(gui, nullptr);
  UIWindow* w = gui->getDesktop()->childAt(0);
  manager->frame(100);
  w->transition("b", "0", "10", "100");
  // A new variable sorted in before "b" moves its index: the transition still animates "b".
  w->setVarText("aa", "5");
  manager->frame(150);
  EXPECT_FLOAT_EQ(valueOf(w, "b").x, 5.0f);
  EXPECT_EQ(textOf(w, "aa"), "5");

  // A clone animates on its own; destroying the original leaves the clone's running.
  UIWindow* copy = UIWindow::clone(w, true);
  EXPECT_NE(copy->getId(), w->getId());
  UIWindow::destroyTree(w);
  manager->frame(200);
  EXPECT_FLOAT_EQ(valueOf(copy, "b").x, 10.0f);
  // Deleting a variable stops its transition.
  copy->transition("a", "0", "1", "1000");
  copy->deleteVar("a");
  manager->frame(300);
  EXPECT_EQ(manager->getRateFuncs().count(), 0);
  UIWindow::destroyTree(copy);
}

TEST_F(UITest, TransitionsRunOnLongNamesAndGoOverToCopies) {
  UserInterfaceLocal* gui = load("windowDef desktop { windowDef w { rect 0 0 10 10\n } }");
  ASSERT_NE(gui, nullptr);
  UIWindow* w = gui->getDesktop()->childAt(0);
  manager->frame(100);
  for (int length : {159, 160, 300}) {
    const std::string name(size_t(length), 'v');
    w->setVarText(name.c_str(), "0");
    w->transition(name.c_str(), "0", "10", "100");
    manager->frame(150);
    EXPECT_FLOAT_EQ(valueOf(w, name.c_str()).x, 5.0f) << length << " characters: still running half-way";
    manager->frame(250);
    EXPECT_FLOAT_EQ(valueOf(w, name.c_str()).x, 10.0f) << length;
    manager->frame(100);  // back to the clock the next round starts from
  }
  EXPECT_EQ(manager->getRateFuncs().count(), 0);

  // A copy takes the running transition over: one rate function, and only the copy animates.
  manager->frame(1000);
  w->transition("textscale", "0", "10", "100");
  UIWindow* copy = UIWindow::clone(w, true);
  EXPECT_EQ(manager->getRateFuncs().count(), 1);
  manager->frame(1050);
  EXPECT_FLOAT_EQ(valueOf(copy, "textscale").x, 5.0f);
  EXPECT_FLOAT_EQ(valueOf(w, "textscale").x, 0.0f) << "the original gave its transition up";
  // Stopping the original's transitions leaves the copy's running.
  w->stopTransitions("w");
  manager->frame(1100);
  EXPECT_FLOAT_EQ(valueOf(copy, "textscale").x, 10.0f);
  UIWindow::destroyTree(copy);
}

TEST_F(UITest, ManyTransitionsKeepTheirOwnState) {
  // More transitions than the old shared ring held: none takes another's values.
  UserInterfaceLocal* gui = load("windowDef desktop { }");
  ASSERT_NE(gui, nullptr);
  UIWindow* d = gui->getDesktop();
  manager->frame(10);
  for (int i = 0; i < 300; ++i) {
    const std::string name = "v" + std::to_string(i);
    d->setVarText(name.c_str(), "0");
    d->transition(name.c_str(), "0", std::to_string(i).c_str(), "100");
  }
  manager->frame(110);
  for (int i = 0; i < 300; ++i)
    ASSERT_FLOAT_EQ(valueOf(d, ("v" + std::to_string(i)).c_str()).x, float(i)) << i;
}

// --- Events and time ---

TEST_F(UITest, TimeHandlersFireOnceEachInTheirOrder) {
  UserInterfaceLocal* gui = load(
      "windowDef desktop {\n"
      "  eventDef { onTime 0 t0 }\n"
      "  eventDef { onTime 500 t500 }\n"
      "  eventDef { onTime 1000 t1000 }\n"
      "  scriptDef {\n"
      "    function this:t0(n) note('t' .. n) end\n"
      "    function this:t500(n) note('t' .. n) end\n"
      "    function this:t1000(n) note('t' .. n) end\n"
      "  }\n"
      "  windowDef quiet { noTime 1\n eventDef { onTime 0 q }\n scriptDef { function this:q() note('q') end }\n"
      "    windowDef kid { eventDef { onTime 0 k }\n scriptDef { function this:k() note('k') end } } }\n"
      "}\n");
  ASSERT_NE(gui, nullptr);
  manager->frame(5000);
  EXPECT_EQ(trace(gui), "") << "an inactive desktop does nothing";
  gui->activate(true, 0);
  manager->frame(5000);
  EXPECT_EQ(trace(gui), "k,t0") << "noTime stops the window's own handlers, not its children's";
  manager->frame(5499);
  manager->frame(5500);
  manager->frame(6000);
  manager->frame(9000);
  EXPECT_EQ(trace(gui), "k,t0,t500,t1000");
}

TEST_F(UITest, ActivationRunsTheTreeOnceAndNamedEventsQueueInOrder) {
  UserInterfaceLocal* gui = load(
      "windowDef desktop {\n"
      "  eventDef { onActivate act }\n"
      "  eventDef { onNamedEvent first one }\n"
      "  eventDef { onNamedEvent second two }\n"
      "  scriptDef {\n"
      "    function this:act() note('desktop') end\n"
      "    function this:one(n) note(n); sys.namedEvent('second') end\n"
      "    function this:two(n) note(n) end\n"
      "  }\n"
      "  windowDef a { eventDef { onActivate act }\n scriptDef { function this:act() note('a') end } }\n"
      "  windowDef b { noEvents 1\n eventDef { onActivate act }\n eventDef { onNamedEvent first one }\n"
      "    scriptDef { function this:act() note('b') end\n function this:one() note('b one') end } }\n"
      "}\n");
  ASSERT_NE(gui, nullptr);
  gui->activate(true, 0);
  gui->activate(true, 0);
  EXPECT_EQ(trace(gui), "desktop,a");
  gui->getDesktop()->postNamedEvent("first");
  EXPECT_EQ(gui->getDesktop()->numQueuedEvents(), 1);
  manager->frame(100);
  // The handler posted "second" while the queue ran: it waits for the next update, not lost.
  EXPECT_EQ(trace(gui), "desktop,a,first");
  manager->frame(116);
  EXPECT_EQ(trace(gui), "desktop,a,first,second");
  EXPECT_EQ(textOf(gui->getDesktop(), "updateVisuals"), "1");
}

TEST_F(UITest, EscapeRunsEachAncestorsHandlers) {
  UserInterfaceLocal* gui = load(
      "windowDef desktop {\n"
      "  eventDef { onEsc esc }\n scriptDef { function this:esc() note('desktop') end }\n"
      "  windowDef a { eventDef { onEsc esc }\n scriptDef { function this:esc() note('a') end }\n"
      "    windowDef b { eventDef { onEsc esc }\n scriptDef { function this:esc() note('b') end } } }\n"
      "}\n");
  ASSERT_NE(gui, nullptr);
  UIWindow* b = gui->getDesktop()->childAt(0)->childAt(0);
  EXPECT_TRUE(b->onKey(27));
  EXPECT_EQ(trace(gui), "b,a,desktop");
  EXPECT_FALSE(b->onKey(200));
}

// --- Mouse ---

TEST_F(UITest, TheMouseFindsTheTopmostShownWindow) {
  UserInterfaceLocal* gui = load(kTwoChildren);
  ASSERT_NE(gui, nullptr);
  UIWindow* d = gui->getDesktop();
  UIWindow* first = d->childAt(0);
  UIWindow* second = d->childAt(1);
  gui->mouseMove(260, 160);
  EXPECT_EQ(gui->getFocusWindow(), nullptr) << "an inactive desktop is never hit";
  gui->activate(true, 0);
  struct Case {
    float x, y;
    UIWindow* expected;
  };
  const Case cases[] = {
      {260, 160, second},                // overlap: the later child wins
      {120, 120, first->childAt(0)},     // the inner child at 110,110
      {300, 120, first},                 // the right edge of "first" counts as inside
      {200, 200, first},                 // and so does its bottom edge
      {105, 105, first},
      {20, 20, d},                       // "hidden" is not found
      {420, 20, d},                      // noclip 1 is never found
      {700, 500, d},                     // clamped to 640, 480: the desktop's corner
  };
  for (const Case& c : cases) {
    gui->mouseMove(c.x, c.y);
    if (gui->getFocusWindow() != c.expected)
      ADD_FAILURE() << "found " << (gui->getFocusWindow() ? gui->getFocusWindow()->getName() : "null");
    EXPECT_EQ(gui->getFocusWindow(), c.expected) << c.x << "," << c.y;
  }
  EXPECT_EQ(gui->mouseX(), 640.0f);
  EXPECT_EQ(gui->mouseY(), 480.0f);
}

TEST_F(UITest, InputEventsReachTheWindowUnderTheMouse) {
  UserInterfaceLocal* gui = load(kTwoChildren);
  ASSERT_NE(gui, nullptr);
  gui->activate(true, 0);
  bool handled = true;
  UIInputEvent press{1, kUIKeyMouse1, 1, 0, 0};
  gui->handleEvent(&press, 0, &handled);
  EXPECT_FALSE(handled) << "no window under the mouse yet";
  // Relative movements: the first starts from the middle of the screen (not the corner); far
  // to the top left clamps to the corner.
  UIInputEvent move{3, 0, 0, 0, 0};
  gui->handleEvent(&move, 0, &handled);
  EXPECT_EQ(gui->mouseX(), 320.0f);
  EXPECT_EQ(gui->mouseY(), 240.0f);
  EXPECT_EQ(trace(gui), "enter second") << "the middle of the screen is in \"second\"";
  gui->runScript("trace = {}");
  move = {3, -1000, -1000, 0, 0};
  gui->handleEvent(&move, 0, &handled);
  EXPECT_EQ(gui->mouseX(), 0.0f);
  move = {3, 150, 150, 0, 0};
  gui->handleEvent(&move, 0, &handled);
  EXPECT_TRUE(handled);
  gui->handleEvent(&press, 0, &handled);
  EXPECT_TRUE(handled);
  move = {3, 120, 20, 0, 0};  // to 270, 170: into "second"
  gui->handleEvent(&move, 0, &handled);
  gui->handleEvent(&press, 0, &handled);
  UIInputEvent release{1, kUIKeyMouse1, 0, 0, 0};
  gui->handleEvent(&release, 0, &handled);
  EXPECT_TRUE(handled);
  EXPECT_EQ(trace(gui), "enter first,click first,exit first,enter second,click second") << "after the corner";
  UIInputEvent key{1, 'x', 0, 0, 0};
  gui->handleEvent(&key, 0, &handled);
  EXPECT_FALSE(handled) << "releases of other keys are not handled";
}

TEST_F(UITest, HandlersSortAndReplaceByNameAndParameter) {
  UIEvent a("onTime");
  a.setParam("500");
  a.setMethod("half");
  UIEvent b("onTime");
  b.setParam("100");
  b.setMethod("early");
  UIEvent c("onAction");
  c.setMethod("click");
  UIEvent named("onnamedevent");
  named.setParam("ping");
  named.setMethod("pong");
  EXPECT_TRUE(named.isNamed()) << "the name compares without case";
  EXPECT_LT(UIEvent::compare(c, a), 0) << "by name first";
  EXPECT_LT(UIEvent::compare(b, a), 0) << "then by value";
  UIEvent copy;
  copy.copy(a);
  EXPECT_TRUE(copy.equals(a));
  EXPECT_EQ(copy.value(), 500);
  UIEvent digits;
  digits.setParam("12abc");
  EXPECT_EQ(digits.value(), 12);
  digits.setParam("abc");
  EXPECT_EQ(digits.value(), 0);

  UIWindow window(nullptr);
  window.addEventHandler(a);
  window.addEventHandler(b);
  window.addEventHandler(c);
  window.addEventHandler(named);
  UIEvent replacement("onTime");
  replacement.setParam("500");
  replacement.setMethod("other");
  window.addEventHandler(replacement);
  ASSERT_EQ(window.numEvents(), 4) << "the same event and parameter replaces, a new parameter appends";
  window.sortEvents();
  EXPECT_STREQ(window.eventAt(0).name(), "onAction");
  EXPECT_STREQ(window.eventAt(1).name(), "onnamedevent");
  EXPECT_STREQ(window.eventAt(2).method(), "early");
  EXPECT_STREQ(window.eventAt(3).method(), "other");
}

TEST_F(UITest, TheStateDictionaryIsTheDesktopsOwnAndWritesThroughItAreVariables) {
  UserInterfaceLocal* gui = load(
      "windowDef desktop {\n"
      "  int score 3\n"
      "  windowDef child {\n    rect 1 2 3 4\n  }\n"
      "}\n");
  ASSERT_NE(gui, nullptr);
  UIWindow* desktop = gui->getDesktop();
  KeyDict* dict = gui->getStateDict();
  ASSERT_EQ(dict, desktop->getVars()) << "not a copy";
  EXPECT_EQ(dict->count(), desktop->numVars());
  EXPECT_STREQ(dict->getString("score"), "3");
  gui->setStateString("score", "7");
  EXPECT_STREQ(dict->getString("score"), "7") << "the same dictionary follows the variable";
  // Writes through the dictionary are the window's variables, parsed like any other.
  dict->set("score", "9");
  EXPECT_EQ(gui->getStateInt("score"), 9);
  EXPECT_FLOAT_EQ(desktop->getVarValue(desktop->findVarIndex("score"))->x, 9.0f);
  dict->set("ratio", "1.5");
  ASSERT_GE(desktop->findVarIndex("ratio"), 0);
  EXPECT_EQ(desktop->getVarValue(desktop->findVarIndex("ratio"))->type, kUIVarFloat);
  dict->set("text", "two\\nlines");
  EXPECT_STREQ(dict->getString("text"), "two\r\nlines") << "the dictionary holds the stored text";
  dict->remove("ratio");
  EXPECT_LT(desktop->findVarIndex("ratio"), 0);
  EXPECT_EQ(dict->findKeyIndex("ratio"), -1);
  gui->deleteStateVar("score");
  EXPECT_EQ(dict->findKey("score"), nullptr);
  EXPECT_EQ(dict->count(), desktop->numVars());
  // A transition's steps reach the dictionary too.
  desktop->transition("backcolor", "0 0 0 0", "1 1 1 1", "100");
  manager->frame(g_userInterfaceManager->currentTime() + 50);
  const std::string shown = dict->getString("backcolor");
  EXPECT_NE(shown, "0 0 0 0");
  std::string text;
  desktop->getVarText("backcolor", nullptr, &text);
  EXPECT_EQ(shown, text);
}

TEST_F(UITest, VariablesAreFoundByPathOrReadAsTheNumberWrittenInTheirPlace) {
  UserInterfaceLocal* gui = load(
      "windowDef desktop {\n"
      "  float big 1.5\n"
      "  windowDef child {\n    rect 1 2 3 4\n  }\n"
      "}\n");
  ASSERT_NE(gui, nullptr);
  UIWindow* desktop = gui->getDesktop();
  UIWindow* child = desktop->findChild("child");
  const UIVarRef big = desktop->findVar("big");
  EXPECT_EQ(big.window, desktop);
  ASSERT_NE(big.pair, nullptr);
  EXPECT_STREQ(big.pair->keyText(), "big");
  EXPECT_EQ(big.index, desktop->findVarIndex("big"));
  EXPECT_FLOAT_EQ(big.value[0], 1.5f);
  const UIVarRef rect = desktop->findVar("child.rect");
  EXPECT_EQ(rect.window, child);
  EXPECT_FLOAT_EQ(rect.value[3], 4.0f);
  const UIVarRef number = desktop->findVar("0.25");
  EXPECT_EQ(number.pair, nullptr);
  EXPECT_EQ(number.index, -1);
  EXPECT_FLOAT_EQ(number.value[0], 0.25f) << "a number where a variable is expected";
  EXPECT_EQ(child->findVarPair("rect"), child->getVars()->findKey("rect"));
  EXPECT_EQ(child->findVarPair("nothing"), nullptr);
  EXPECT_EQ(child->getVarValue(-1), nullptr);
  float v[3];
  child->getVec3Var("rect", v, nullptr);
  EXPECT_FLOAT_EQ(v[2], 3.0f);
  const float fallback[3] = {7, 8, 9};
  child->getVec3Var("missing", v, fallback);
  EXPECT_FLOAT_EQ(v[1], 8.0f);
  // Text written out as ".gui" text and read back.
  EXPECT_EQ(uiEscapeText("one\r\ntwo\nthree"), "one\\ntwo\\nthree");
  EXPECT_EQ(uiUnescapeText(uiEscapeText("a\r\nb").c_str()), "a\r\nb");
}

TEST_F(UITest, EditorOperationsToggleLayersAndOutlineTheWindow) {
  RecordingRender render;
  UserInterfaceLocal* gui = load(
      "windowDef desktop {\n"
      "  rect 0 0 640 480\n"
      "  windowDef parent {\n    rect 100 100 200 200\n"
      "    windowDef child {\n      rect 10 20 30 40\n    }\n  }\n"
      "}\n");
  ASSERT_NE(gui, nullptr);
  UIWindow* parent = gui->getDesktop()->findChild("parent");
  UIWindow* child = parent->findChild("child");
  EXPECT_TRUE(child->isShownInTree());
  parent->setVarText("visible", "0");
  EXPECT_FALSE(child->isShownInTree()) << "an ancestor is hidden";
  parent->setVarText("visible", "1");
  EXPECT_FALSE(child->isCollapsed());
  child->toggleCollapsed();
  EXPECT_TRUE(child->isCollapsed());
  child->toggleCollapsed();
  EXPECT_FALSE(child->isCollapsed());
  child->toggleShowLayer();
  EXPECT_FALSE(child->getBoolVar("showLayer", true));
  g_uiEditMode = true;
  EXPECT_FALSE(child->isShownInTree()) << "edit mode shows by layer";
  child->toggleShowLayer();
  EXPECT_TRUE(child->isShownInTree());
  g_uiEditMode = false;
  child->drawEditFrame();
  ASSERT_EQ(render.outlines.size(), 1u);
  const std::vector<float> expected = {110, 120, 30, 40, 2};
  EXPECT_EQ(render.outlines[0], expected) << "the screen rectangle, width 2";
}

TEST_F(UITest, AScriptBlockReadLaterRunsInTheWindow) {
  UserInterfaceLocal* gui = load("windowDef desktop {\n  windowDef w {\n  }\n}\n");
  ASSERT_NE(gui, nullptr);
  UIWindow* w = gui->getDesktop()->findChild("w");
  TokenParser parser;
  parser.pushText("{ later = 5 }");
  parser.setPunctuation("{}();");
  ASSERT_TRUE(w->runScriptDef(parser));
  EXPECT_EQ(eval(gui, "desktop.w.later"), "5");
  EXPECT_STREQ(w->getScriptText(), "later = 5");
}

TEST_F(UITest, AWindowAppearingUnderAStillCursorTakesTheHoverAndTheClick) {
  UserInterfaceLocal* gui = load(
      "windowDef desktop {\n"
      "  rect 0 0 640 480\n"
      "  menugui 1\n"
      "  windowDef under {\n"
      "    rect 100 100 200 100\n"
      "    eventDef { onMouseEnter enter }\n    eventDef { onMouseExit leave }\n"
      "    eventDef { onAction click }\n"
      "    scriptDef {\n"
      "      function this:enter() note('enter under') end\n"
      "      function this:leave() note('exit under') end\n"
      "      function this:click() note('click under') end\n"
      "    }\n"
      "  }\n"
      "  windowDef over {\n"
      "    rect 150 120 50 50\n"
      "    visible 0\n"
      "    eventDef { onMouseEnter enter }\n"
      "    eventDef { onAction click }\n"
      "    scriptDef {\n"
      "      function this:enter() note('enter over') end\n"
      "      function this:click() note('click over') end\n"
      "    }\n"
      "  }\n"
      "}\n");
  ASSERT_NE(gui, nullptr);
  gui->activate(true, 0);
  manager->frame(10);
  EXPECT_EQ(gui->getFocusWindow(), nullptr) << "no cursor before the mouse moves";
  gui->mouseMove(160, 130);
  EXPECT_EQ(trace(gui), "enter under");
  UIWindow* over = gui->getDesktop()->findChild("over");
  // The window appears under the still cursor: the next frame hands it the hover.
  over->setVarText("visible", "1");
  manager->frame(20);
  EXPECT_EQ(gui->getFocusWindow(), over);
  EXPECT_EQ(trace(gui), "enter under,exit under,enter over");
  // It goes again and a click comes before any frame: the click finds the window under it now.
  over->setVarText("visible", "0");
  UIInputEvent press{1, kUIKeyMouse1, 1, 0, 0};
  bool handled = false;
  gui->handleEvent(&press, 0, &handled);
  EXPECT_TRUE(handled);
  EXPECT_EQ(trace(gui), "enter under,exit under,enter over,enter under,click under");
  over->setVarText("visible", "1");
  gui->handleEvent(&press, 0, &handled);
  EXPECT_EQ(trace(gui),
            "enter under,exit under,enter over,enter under,click under,exit under,enter over,click over");
}
