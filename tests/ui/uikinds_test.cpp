// Bind, combo and dialog windows: bind windows against the real key bindings (display, capture,
// binding, Escape), combos stepping through values and writing their variable, and dialogs read
// from files and scrolled by the frame time.
#include <string>

#include "lib/interface/convarsystem.h"
#include "system/convarmanager.h"
#include "system/keybinds.h"
#include "tests/ui/recordingrender.h"
#include "tests/ui/uitest.h"
#include "ui/uikinds.h"

namespace {

std::string textOf(UIWindow* window) {
  std::string text;
  window->getVarText("text", nullptr, &text);
  return text;
}

class KindsTest : public UITest {
 protected:
  void SetUp() override {
    UITest::SetUp();
    getConVarManager();
    g_keyBindSystem = &binds;
  }
  void TearDown() override {
    g_keyBindSystem = nullptr;
    UITest::TearDown();
    destroyConVarManager();
  }

  // A desktop holding one window of the given kind named "w" over 100 100 200 40.
  UIWindow* single(const std::string& kind, const std::string& body) {
    gui = load("windowDef desktop {\n rect 0 0 640 480\n menugui 1\n " + kind + " w {\n rect 100 100 200 40\n" +
               body + "\n }\n}\n");
    if (!gui)
      return nullptr;
    gui->activate(true, 0);
    return gui->getDesktop()->findChild("w");
  }

  void key(int code, bool down) {
    UIInputEvent event;
    event.type = 1;
    event.value = code;
    event.value2 = down ? 1 : 0;
    bool handled = false;
    gui->handleEvent(&event, 0, &handled);
  }

  KeyBinds binds;
  UserInterfaceLocal* gui = nullptr;
};

}  // namespace

// --- Bind windows ---

TEST_F(KindsTest, ABindWindowShowsTheKeysBoundToItsCommand) {
  UIWindow* w = single("bindDef", "bind \"_forward\"");
  ASSERT_NE(w, nullptr) << cmd.output;
  EXPECT_NE(dynamic_cast<UIBindDef*>(w), nullptr) << "the kind word makes a bind window";
  struct Case {
    std::vector<int> keys;
    const char* shown;
  } cases[] = {
      {{}, "<empty>"},
      {{'w'}, "w"},
      {{'w', 'x'}, "w or x"},
  };
  for (const Case& c : cases) {
    binds.clearBindings();
    binds.setBinding('s', "_back");  // another command's key is never listed
    for (int k : c.keys)
      binds.setBinding(k, "_forward");
    w->update();
    EXPECT_EQ(textOf(w), c.shown);
  }
}

TEST_F(KindsTest, ClickingABindWindowBindsTheNextKeyAndEscapeKeepsTheBindings) {
  UIWindow* w = single("bindDef", "bind \"_forward\"");
  ASSERT_NE(w, nullptr) << cmd.output;
  binds.setBinding('w', "_forward");
  binds.setBinding('x', "_forward");
  ASSERT_TRUE(gui->mouseMove(150, 120));
  ASSERT_EQ(gui->getFocusWindow(), w);

  // A key before any click is an ordinary key; the second mouse button starts nothing.
  key(179, true);
  EXPECT_FALSE(w->isCapturingKeys());
  key(kUIKeyMouse1, true);
  key(kUIKeyMouse1, false);
  EXPECT_TRUE(w->isCapturingKeys());
  EXPECT_EQ(textOf(w), "Press Any Key...");
  w->update();
  EXPECT_EQ(textOf(w), "Press Any Key...") << "the display waits while capturing";
  // The mouse cannot take the focus away while the window waits.
  EXPECT_TRUE(gui->mouseMove(10, 10));
  EXPECT_EQ(gui->getFocusWindow(), w);

  key(27, true);
  EXPECT_FALSE(w->isCapturingKeys());
  EXPECT_EQ(textOf(w), "w or x") << "Escape binds nothing and shows the keys again";
  EXPECT_STREQ(binds.keyName(27), "ESCAPE");
  char keys[256];
  binds.keysForCommand("_forward", keys);
  EXPECT_STREQ(keys, "w or x");

  // A click, then "k": the new key takes over from the two holders. The click goes to the window
  // under the cursor when it comes, so the cursor goes back first.
  key(kUIKeyMouse1, true);
  EXPECT_FALSE(w->isCapturingKeys()) << "the cursor stands beside the window";
  ASSERT_TRUE(gui->mouseMove(150, 120));
  key(kUIKeyMouse1, true);
  key('k', true);
  EXPECT_FALSE(w->isCapturingKeys());
  EXPECT_EQ(textOf(w), "k");
  binds.keysForCommand("_forward", keys);
  EXPECT_STREQ(keys, "k");

  // A mouse button ends the capture too, and is bound.
  key(kUIKeyMouse1, true);
  key(179, true);
  EXPECT_EQ(textOf(w), "mouse2") << "and replaces the key before it";
}

// --- Combo windows ---

TEST_F(KindsTest, ACombosStepsThroughItsValuesAndWritesItsVariable) {
  ConVar mode("ui_testmode", "1", kConVarInt | kConVarArchive);
  UIWindow* w = single("comboDef", "cvar \"ui_testmode\"\n values \"0;1;2\"\n choices \"Small;Medium;Large\"");
  ASSERT_NE(w, nullptr) << cmd.output;
  ASSERT_NE(dynamic_cast<UIComboDef*>(w), nullptr);
  w->update();
  EXPECT_EQ(textOf(w), "Medium") << "the value 1 shows the second name";
  struct Step {
    int key;
    const char* value;
    const char* shown;
  } steps[] = {
      {kUIKeyMouse1, "2", "Large"},
      {kUIKeyMouse1, "0", "Small"},  // wraps
      {179, "2", "Large"},           // the second button goes back, wrapping below 0
      {179, "1", "Medium"},
      {183, "1", "Medium"},  // any other button keeps the index (and writes it again)
  };
  for (const Step& s : steps) {
    w->onAction(s.key);
    EXPECT_STREQ(mode.getString(), s.value) << "key " << s.key;
    EXPECT_EQ(textOf(w), s.shown) << "key " << s.key;
  }
  // A variable changed elsewhere shows once the combo is told to refresh.
  mode.setInt(0);
  w->setVarText("update", "1");
  w->update();
  EXPECT_EQ(textOf(w), "Small");
}

TEST_F(KindsTest, ComboEdgeCases) {
  ConVar value("ui_testvalue", "0", kConVarFloat);
  ConVar names("ui_testnames", "Low;High", kConVarString);

  // Three values with two names: two usable entries, so the steps wrap after the second.
  UIWindow* w = single("comboDef", "cvar ui_testvalue\n values \"0;0.5;1\"\n choices \"Off;Half\"");
  ASSERT_NE(w, nullptr);
  w->update();
  EXPECT_EQ(static_cast<UIComboDef*>(w)->numChoices(), 2);
  w->onAction(kUIKeyMouse1);
  EXPECT_FLOAT_EQ(value.getFloat(), 0.5f);
  EXPECT_EQ(textOf(w), "Half");
  w->onAction(kUIKeyMouse1);
  EXPECT_FLOAT_EQ(value.getFloat(), 0.0f) << "the third value is not reachable";

  // Names taken from a variable that holds them.
  w = single("comboDef", "cvar ui_testvalue\n values \"0;1\"\n choices ui_testnames");
  w->update();
  EXPECT_EQ(textOf(w), "Low");

  // No values (or no names): a click changes nothing and divides by nothing.
  for (const char* body : {"cvar ui_testvalue\n choices \"A;B\"", "cvar ui_testvalue\n values \";;\"\n choices \"A\"",
                           "cvar ui_testvalue\n values \"0;1\""}) {
    value.setFloat(0.0f);
    w = single("comboDef", body);
    ASSERT_NE(w, nullptr);
    w->update();
    EXPECT_EQ(textOf(w), "") << body;
    w->onAction(kUIKeyMouse1);
    w->onAction(179);
    EXPECT_FLOAT_EQ(value.getFloat(), 0.0f) << body;
  }

  // No variable named: the text is left alone; an unknown one says so.
  w = single("comboDef", "text \"kept\"\n values \"0;1\"\n choices \"A;B\"");
  w->update();
  w->onAction(kUIKeyMouse1);
  EXPECT_EQ(textOf(w), "kept");
  w = single("comboDef", "cvar ui_nosuchvariable\n values \"0;1\"\n choices \"A;B\"");
  w->update();
  w->onAction(kUIKeyMouse1);
  EXPECT_EQ(textOf(w), "invalid 'cvar'");

  // More than 256 values: the first 256 are used, so 255 steps forward to 0.
  std::string values, choices;
  for (int i = 0; i < 300; ++i) {
    const std::string number = std::to_string(i);
    values.append(number).append(";");
    choices.append("c").append(number).append(";");
  }
  value.setFloat(255.0f);
  // Longer than a ".gui" line holds: set the way a script would.
  w = single("comboDef", "cvar ui_testvalue");
  w->setVarText("values", values.c_str());
  w->setVarText("choices", choices.c_str());
  w->setVarText("update", "1");
  w->update();
  EXPECT_EQ(textOf(w), "c255");
  EXPECT_EQ(static_cast<UIComboDef*>(w)->numChoices(), 256);
  w->onAction(kUIKeyMouse1);
  EXPECT_FLOAT_EQ(value.getFloat(), 0.0f);
}

TEST_F(KindsTest, SettingAComboFromLuaRefreshesIt) {
  ConVar shadows("ui_testshadows", "0", kConVarBool);
  gui = load(
      "windowDef desktop {\n rect 0 0 640 480\n"
      " comboDef c { rect 0 0 10 10\n cvar ui_testshadows\n values \"0;1\"\n choices \"Off;On\"\n }\n"
      " windowDef b { rect 0 0 10 10\n eventDef { onAction go }\n"
      "  scriptDef { function this:go() sys.set('c:choices', 'No;Yes') end }\n }\n"
      "}\n");
  ASSERT_NE(gui, nullptr) << cmd.output;
  UIWindow* c = gui->getDesktop()->findChild("c");
  c->update();
  EXPECT_EQ(textOf(c), "Off");
  gui->getDesktop()->findChild("b")->onAction(kUIKeyMouse1);
  c->update();
  EXPECT_EQ(textOf(c), "No") << cmd.output;
}

TEST_F(KindsTest, KindPropertiesAreDeclaredWithTheirDefaults) {
  UIWindow* w = single("dialogDef", "big 3");
  ASSERT_NE(w, nullptr);
  const char* defaults[] = {"autoscroll", "huge", "default", "small", "tiny", "dlgfile", "textscale"};
  for (const char* name : defaults)
    EXPECT_TRUE(w->isVarDefault(w->findVarIndex(name))) << name;
  EXPECT_FALSE(w->isVarDefault(w->findVarIndex("big"))) << "set by the file";
  EXPECT_FLOAT_EQ(w->getFloatVar("big", 0.0f), 3.0f);
  EXPECT_FLOAT_EQ(w->getFloatVar("tiny", 0.0f), 0.25f);
  // A copy keeps the kind and its values.
  UIWindow* copy = UIWindow::clone(w, true);
  EXPECT_NE(dynamic_cast<UIDialogDef*>(copy), nullptr);
  EXPECT_FLOAT_EQ(copy->getFloatVar("big", 0.0f), 3.0f);
  UIWindow::destroyTree(copy);
}

// --- Dialog windows ---

TEST_F(KindsTest, ADialogReadsLinesAndPicturesAndScrollsWithTheTime) {
  RecordingRender render;
  io.addFile("text/credits.txt",
             "$textscale big\n"
             "\"The Title\" is all that counts here\n"
             "\n"
             "$material 64 32 guis/assets/logo\n");
  UIWindow* w = single("dialogDef", "dlgfile \"text/credits.txt\"\n font fonts/any\n rect 100 100 200 60");
  ASSERT_NE(w, nullptr) << cmd.output;
  UIDialogDef* dialog = dynamic_cast<UIDialogDef*>(w);
  ASSERT_NE(dialog, nullptr);
  manager->frame(1000);
  gui->redraw(1000);
  ASSERT_EQ(dialog->numLines(), 3) << cmd.output;
  EXPECT_EQ(dialog->line(0)->text, "The Title");
  EXPECT_FLOAT_EQ(dialog->line(0)->width, 1.5f) << "\"big\" times textscale 1";
  EXPECT_FLOAT_EQ(dialog->line(0)->height, 30.0f) << "1.5 times the font's 20";
  EXPECT_EQ(dialog->line(0)->font, 3);
  EXPECT_FALSE(dialog->line(1)->picture);
  EXPECT_TRUE(dialog->line(2)->picture);
  EXPECT_FLOAT_EQ(dialog->line(1)->height, 30.0f) << "an empty line is one line high";
  EXPECT_FLOAT_EQ(dialog->line(2)->width, 64.0f);
  EXPECT_FLOAT_EQ(dialog->line(2)->height, 32.0f);
  EXPECT_FLOAT_EQ(dialog->totalHeight(), 92.0f);
  EXPECT_EQ(dialog->startTime(), 1000);

  // autoscroll 10 units a second; the text starts from the top again after 9.2 seconds.
  struct At {
    int ms;
    int line;
    float above;
  } times[] = {{1000, 0, 0.0f}, {2000, 0, 10.0f}, {4500, 1, 5.0f}, {8000, 2, 10.0f}, {10200, 0, 0.0f}, {11200, 0, 10.0f}};
  for (const At& at : times) {
    int line = -1;
    float above = -1.0f;
    dialog->scrollPosition(at.ms, &line, &above);
    EXPECT_EQ(line, at.line) << at.ms;
    EXPECT_NEAR(above, at.above, 1e-3) << at.ms;
  }

  // Drawn at 4.5 s: the empty line starts 5 above the top, the picture (32 high) follows, then
  // the title comes round again; nothing starts at or below the bottom (160).
  render.clear();
  manager->frame(4500);
  gui->redraw(4500);
  ASSERT_EQ(render.texts.size(), 2u);
  EXPECT_FLOAT_EQ(render.texts[0].y, 95.0f);
  EXPECT_EQ(render.texts[1].text, "The Title");
  EXPECT_FLOAT_EQ(render.texts[1].y, 157.0f);
  EXPECT_FLOAT_EQ(render.texts[1].scale, 1.5f);
  EXPECT_FLOAT_EQ(render.texts[1].clip[1], 100.0f) << "text is clipped to the window";
  EXPECT_FLOAT_EQ(render.texts[1].clip[3], 60.0f);

  // "update" reloads the file and restarts the scrolling.
  w->setVarText("update", "1");
  manager->frame(6000);
  gui->redraw(6000);
  EXPECT_EQ(dialog->startTime(), 6000);
  EXPECT_EQ(dialog->numLines(), 3);
}

TEST_F(KindsTest, ADialogWithoutHeightDrawsEachLineOnceInsteadOfLoopingForever) {
  RecordingRender render;
  struct Case {
    const char* text;
    const char* why;
    size_t texts;
  } cases[] = {
      {"one\ntwo\nthree\n", "a font of height 0", 3},
      {"$textscale -1\n$font fonts/any\nup\ndown\n", "negative scale", 2},
      {"$material 10 -40 a\n$material 10 20 b\n", "negative total picture height", 0},
      {"$material 10 -30 a\n$material 10 40 b\n", "positive total despite a negative line", 0},
  };
  for (const Case& c : cases) {
    io.addFile("text/flat.txt", c.text);
    UIWindow* w = single("dialogDef", "dlgfile \"text/flat.txt\"");
    ASSERT_NE(w, nullptr);
    render.clear();
    manager->frame(5000);
    gui->redraw(5000);
    manager->frame(9000);
    gui->redraw(9000);  // returns: that is the test
    UIDialogDef* dialog = static_cast<UIDialogDef*>(w);
    EXPECT_GT(dialog->numLines(), 1) << c.why;
    if (c.texts) {
      EXPECT_EQ(render.texts.size(), 2 * c.texts) << c.why << ": one pass per frame";
    }
  }
}

TEST_F(KindsTest, ADialogWithoutItsFileDrawsOnlyItsBackgroundAndChildren) {
  RecordingRender render;
  gui = load(
      "windowDef desktop {\n rect 0 0 640 480\n"
      " dialogDef d { rect 10 10 100 100\n dlgfile \"text/missing.txt\"\n backcolor 0 0 1 1\n"
      "  windowDef child { rect 0 0 10 10\n text \"child\"\n }\n }\n}\n");
  ASSERT_NE(gui, nullptr);
  manager->frame(100);
  gui->redraw(100);
  EXPECT_EQ(static_cast<UIDialogDef*>(gui->getDesktop()->findChild("d"))->numLines(), 0);
  ASSERT_EQ(render.texts.size(), 1u);
  EXPECT_EQ(render.texts[0].text, "child");
  EXPECT_FLOAT_EQ(render.texts[0].x, 10.0f);
}
