// Key bindings: key names, the binding commands and their messages, routing by input mode to fake
// console, interface and game, binding execution into the command buffer, the cursor clamp.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lib/interface/consolesystem.h"
#include "lib/interface/gameinterface.h"
#include "lib/interface/systeminterface.h"
#include "lib/interface/userinterfacesystem.h"
#include "system/cmdmanager.h"
#include "system/convarmanager.h"
#include "system/inputmanager.h"
#include "system/keybinds.h"
#include "system/systemmanager.h"
#include "tests/support/nullgame.h"

namespace {

std::string g_output;
void capture(void*, const char* text) {
  g_output += text;
}

std::vector<std::string> g_log;
void record(const std::string& text) {
  g_log.push_back(text);
}

class FakeConsole : public ConsoleSystem {
 public:
  void update() override {}
  void draw() override {}
  void initFont() override {}
  void keyEvent(int key) override { record("console key " + std::to_string(key)); }
  void charEvent(int character) override { record("console char " + std::to_string(character)); }
  void setSliding(bool) override { record("console toggle"); }
};

class FakeGui : public UserInterface {
 public:
  void namedEvent(const char*) override {}
  void redraw(int) override {}
  void setStateString(const char*, const char*) override {}
  void setStateFloat(const char*, float) override {}
  void activate(bool, int) override {}
  const char* handleEvent(const UIInputEvent* event, int, bool* handled) override {
    record("gui " + std::to_string(event->type) + " " + std::to_string(event->value) + " " +
           std::to_string(event->value2));
    *handled = true;
    return "";
  }
};

class FakeGame : public NullGame {
 public:
  int getMenu(UserInterface**) override {
    record("game menu");
    return 0;
  }
  void mouseEvent(int dx, int dy, int) override {
    record("game mouse " + std::to_string(dx) + " " + std::to_string(dy));
  }
  bool keyEvent(int key, bool down) override {
    record("game key " + std::to_string(key) + (down ? " down" : " up"));
    return false;
  }
};

class KeyBindsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_output.clear();
    g_log.clear();
    getSystemManager();
    CmdManager* cmd = getCmdManager();
    cmd->setOutput(capture, nullptr);
    getConVarManager();
    KeyBinds::setDeviceFlags(kInputMouse);
    keys_ = getKeyBinds(true);
    ASSERT_NE(keys_, nullptr);
    g_consoleSystem = &console_;
    g_activeGui = &gui_;
    g_gameInterface = &game_;
    drainEvents();
    g_output.clear();
  }
  void TearDown() override {
    g_consoleSystem = nullptr;
    g_activeGui = nullptr;
    g_gameInterface = nullptr;
    destroyKeyBinds();
    destroyConVarManager();
    destroyCmdManager();
    destroySystemManager();
    KeyBinds::setDeviceFlags(kInputMouse | kInputJoystick);
  }
  // The command buffer's text, then empties it without running it.
  std::string takeBuffer() {
    std::string text = g_cmdSystem->bufferedText();
    clearBuffer();
    return text;
  }
  void clearBuffer() {
    // Running the buffer with every command unknown would print; run it with the output muted.
    std::string saved = g_output;
    g_cmdSystem->executeText("");
    g_output = saved;
  }
  std::vector<SystemEvent> drainEvents() {
    std::vector<SystemEvent> events;
    for (SystemEvent e = g_systemInterface->getEvent(); e.type != kSystemEventNone;
         e = g_systemInterface->getEvent())
      events.push_back(e);
    return events;
  }
  void tap(int key) {
    keys_->keyEvent(key, true);
    keys_->endFrame();
    keys_->keyEvent(key, false);
    keys_->endFrame();
  }

  KeyBinds* keys_ = nullptr;
  FakeConsole console_;
  FakeGui gui_;
  FakeGame game_;
};

TEST(KeyNamesTest, NamesFromTextFollowTheTableAndTheHexForm) {
  KeyBinds keys;
  struct Case {
    const char* name;
    int key;
  } cases[] = {
      {"W", 'w'},        {"w", 'w'},          {"0x41", 65},      {"0xe6", 230},
      {"0xE6", -1},      {"0x4", -1},         {"0x411", -1},     {"F13", -1},
      {"", -1},          {"f12", 156},        {"SPACE", 32},     {"mouse1", 178},
      {"MWHEELUP", 184}, {"MWHEELDOWN", 183}, {"kp_enter", 169}, {"JOY32", 216},
      {"AUX3", 219},     {"PGDN", 141},       {"COMMAND", 128},  {"KP_EQUALS", 177},
      {";", ';'},        {"~", '~'},
  };
  for (const Case& c : cases)
    EXPECT_EQ(keys.keyFromName(c.name), c.key) << c.name;
  EXPECT_EQ(keys.keyFromName(nullptr), -1);
}

TEST(KeyNamesTest, CodesGiveTableNamesHexOrTheCharacter) {
  KeyBinds keys;
  struct Case {
    int key;
    const char* name;
  } cases[] = {
      {200, "JOY16"},
      {230, "0xe6"},
      {65, "A"},
      {'w', "w"},
      {32, "SPACE"},
      {9, "TAB"},
      {0, "0x00"},
      {34, "0x22"},
      {59, "0x3b"},
      {175, "0xaf"},
      {127, "BACKSPACE"},
      {183, "MWHEELDOWN"},
      {256, "<KEY OUT OF RANGE>"},
      {-1, "<KEY OUT OF RANGE>"},
      {126, "~"},
  };
  for (const Case& c : cases)
    EXPECT_STREQ(keys.keyName(c.key), c.name) << c.key;
  // Every name reads back as its code (upper-case letters name the same key as lower case).
  for (int key = 0; key < 256; ++key) {
    int expected = (key >= 'A' && key <= 'Z') ? key + 32 : key;
    EXPECT_EQ(keys.keyFromName(keys.keyName(key)), expected) << key;
  }
}

TEST_F(KeyBindsTest, DefaultsListInCodeOrder) {
  g_cmdSystem->executeText("listKeys");
  EXPECT_EQ(g_output,
            "SPACE _moveup\n"
            "a _moveleft\n"
            "d _moveright\n"
            "s _back\n"
            "w _forward\n"
            "CTRL _speed\n"
            "SHIFT _movedown\n"
            "MOUSE1 _button0\n"
            "MOUSE2 _button1\n");
}

TEST_F(KeyBindsTest, BindingCommandsAndTheirMessages) {
  g_cmdSystem->executeText("clearkeys");
  for (int key = 0; key < 256; ++key)
    EXPECT_STREQ(keys_->binding(key), "");

  g_cmdSystem->executeText("setkey W _forward; setkey 0x41 x; setkey F13 x; setkey a");
  EXPECT_STREQ(keys_->binding('w'), "_forward");
  EXPECT_STREQ(keys_->binding(65), "x");
  EXPECT_EQ(g_output, "invalid key: \"F13\"\nusage: setkey <key> <command>\n");

  g_output.clear();
  g_cmdSystem->executeText("unsetkey w; unsetkey; unsetkey nothing; unsetkey a b");
  EXPECT_STREQ(keys_->binding('w'), "");
  EXPECT_EQ(g_output, "usage: unsetkey <key>\nERROR: invalid key \"nothing\"\nusage: unsetkey <key>\n");
}

TEST_F(KeyBindsTest, SetBindingKeepsACommandOnTheLastKeysAndRefusesBadCodes) {
  keys_->setBinding('1', "+attack");
  keys_->setBinding('2', "+ATTACK");
  keys_->setBinding('3', "  +attack");
  EXPECT_STREQ(keys_->binding('1'), "");
  EXPECT_STREQ(keys_->binding('2'), "");
  EXPECT_STREQ(keys_->binding('3'), "+attack");

  keys_->setBinding(256, "x");
  keys_->setBinding(-1, "x");
  keys_->setBinding('4', nullptr);
  EXPECT_STREQ(keys_->binding('4'), "");
  EXPECT_FALSE(keys_->isDown(256));
  EXPECT_FALSE(keys_->isDown(-1));
  keys_->keyEvent(256, true);
  keys_->keyEvent(-5, false);
  EXPECT_EQ(keys_->keysDown(), 0);
}

TEST_F(KeyBindsTest, KeysForCommandNamesOneOrTwoKeys) {
  char text[256];
  EXPECT_EQ(keys_->keysForCommand("_FORWARD", text), 0);
  EXPECT_STREQ(text, "w");
  keys_->setBinding(kKeyUpArrow, "_forward");
  EXPECT_EQ(keys_->keysForCommand("_forward", text), kKeyUpArrow);
  EXPECT_STREQ(text, "w or uparrow");
  EXPECT_EQ(keys_->keysForCommand("nothing", text), 0);
  EXPECT_STREQ(text, "");
}

TEST_F(KeyBindsTest, GameModeRunsBindingsAndTellsTheGame) {
  ASSERT_EQ(keys_->getMode(), 4);
  keys_->keyEvent('w', true);
  EXPECT_TRUE(keys_->isDown('w'));
  keys_->endFrame();
  EXPECT_EQ(takeBuffer(), ";+_forward");
  keys_->keyEvent('w', true);  // auto-repeat
  keys_->endFrame();
  EXPECT_EQ(takeBuffer(), "");
  keys_->keyEvent('w', false);
  keys_->endFrame();
  EXPECT_EQ(takeBuffer(), ";-_forward");
  EXPECT_EQ(g_log, (std::vector<std::string>{"game key 119 down", "game key 119 down", "game key 119 up"}));
}

TEST_F(KeyBindsTest, PressAndReleaseInOneFrameRunBothEdges) {
  keys_->keyEvent('w', true);
  keys_->keyEvent('w', false);
  keys_->endFrame();
  EXPECT_EQ(takeBuffer(), ";+_forward;-_forward");
  EXPECT_EQ(keys_->keysDown(), 0);
}

TEST_F(KeyBindsTest, BindingPartsSplitIntoPressReleaseAndPlainCommands) {
  struct Case {
    const char* binding;
    const char* onPress;
    const char* onRelease;
  } cases[] = {
      {"_forward;say hi", ";+_forward;say hi", ";-_forward"},
      {"@zoom;fov", ";+zoom;+fov", ";-zoom;-fov"},
      {"say hi", ";say hi", ""},
      {" _back ; ; echo x ;", ";+_back;echo x", ";-_back"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.binding);
    keys_->setBinding('k', c.binding);
    keys_->keyEvent('k', true);
    keys_->endFrame();
    EXPECT_EQ(takeBuffer(), c.onPress);
    for (int i = 0; i < 3; ++i) {  // held: repeats run nothing
      keys_->keyEvent('k', true);
      keys_->endFrame();
    }
    EXPECT_EQ(takeBuffer(), "");
    keys_->keyEvent('k', false);
    keys_->endFrame();
    EXPECT_EQ(takeBuffer(), c.onRelease);
  }
}

TEST_F(KeyBindsTest, UnboundKeysFromJoy16OnSayHowToBindThem) {
  tap('z');
  EXPECT_EQ(g_output, "");
  tap(200);
  EXPECT_EQ(g_output,
            "JOY16 is unbound, use controls menu to set.\nJOY16 is unbound, use controls menu to set.\n");
}

TEST_F(KeyBindsTest, ConsoleModeTakesKeysAndCharactersAndRunsNoBinding) {
  keys_->setMode(1);
  keys_->keyEvent('w', true);
  keys_->charEvent('w');
  keys_->keyEvent(kKeyEscape, true);
  keys_->keyEvent('`', true);
  keys_->charEvent('`');
  keys_->mouseEvent(5, 5, 0);
  keys_->endFrame();
  keys_->keyEvent('w', false);
  keys_->endFrame();
  EXPECT_EQ(takeBuffer(), "");
  EXPECT_EQ(g_log, (std::vector<std::string>{"console key 119", "console char 119", "console key 27",
                                             "console toggle"}));
}

TEST_F(KeyBindsTest, InterfaceModeGetsEventsAndNoBindingRuns) {
  keys_->setMode(2);
  keys_->keyEvent('w', true);
  keys_->charEvent('q');
  keys_->mouseEvent(3, -2, 0);
  keys_->keyEvent(kKeyEscape, true);
  keys_->endFrame();
  keys_->keyEvent('w', false);
  keys_->endFrame();
  EXPECT_EQ(takeBuffer(), "");
  // A typed character carries a non-zero second value, or the interface would not take it.
  EXPECT_EQ(g_log, (std::vector<std::string>{"gui 1 119 1", "gui 2 113 1", "gui 3 3 -2", "gui 1 27 1",
                                             "gui 1 119 0"}));
}

TEST_F(KeyBindsTest, EscapeInGameOpensTheMenuAndTheConsoleKeyNeedsAllModifiers) {
  keys_->keyEvent(kKeyEscape, true);
  EXPECT_EQ(g_log, (std::vector<std::string>{"game menu"}));
  g_log.clear();
  keys_->keyEvent('`', true);  // closed console, no modifiers: an ordinary key
  keys_->keyEvent('`', false);
  EXPECT_EQ(g_log, (std::vector<std::string>{"game key 96 down", "game key 96 up"}));
  g_log.clear();
  keys_->keyEvent(kKeyCtrl, true);
  keys_->keyEvent(kKeyAlt, true);
  keys_->keyEvent(kKeyShift, true);
  g_log.clear();
  keys_->keyEvent('~', true);
  EXPECT_EQ(g_log, (std::vector<std::string>{"console toggle"}));
}

TEST_F(KeyBindsTest, MouseMovesTheClampedCursorAndFeedsTheGame) {
  keys_->mouseEvent(100, 50, 0);  // 800 x 600 view: 80, 40 in 640 x 480 units
  EXPECT_FLOAT_EQ(keys_->cursorX(), 80.0f);
  EXPECT_FLOAT_EQ(keys_->cursorY(), 40.0f);
  keys_->mouseEvent(100000, 100000, 0);
  EXPECT_FLOAT_EQ(keys_->cursorX(), 632.0f);
  EXPECT_FLOAT_EQ(keys_->cursorY(), 472.0f);
  keys_->mouseEvent(-100000, -100000, 0);
  EXPECT_FLOAT_EQ(keys_->cursorX(), 0.0f);
  EXPECT_FLOAT_EQ(keys_->cursorY(), 0.0f);
  // A scaled movement that truncates to 0 still moves by its sign.
  g_conVarSystem->setString("m_uisensitivity", "0.25");
  g_log.clear();
  keys_->mouseEvent(2, -3, 7);
  EXPECT_EQ(g_log, (std::vector<std::string>{"game mouse 1 -1"}));
}

TEST_F(KeyBindsTest, ReleaseAllKeysQueuesKeyUpsAndStopsMovement) {
  keys_->keyEvent('w', true);
  keys_->keyEvent(kKeyShift, true);
  keys_->endFrame();
  g_cmdSystem->executeText("");
  EXPECT_EQ(keys_->userCmdGen().forward, 1);
  keys_->releaseAllKeys();
  EXPECT_EQ(keys_->userCmdGen().forward, 0);
  EXPECT_EQ(keys_->userCmdGen().moveDown, 0);
  EXPECT_EQ(keys_->keysDown(), 0);
  EXPECT_FALSE(keys_->isDown('w'));
  std::vector<SystemEvent> events = drainEvents();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].type, kSystemEventKey);
  EXPECT_EQ(events[0].value, 'w');
  EXPECT_EQ(events[0].value2, 0);
  EXPECT_EQ(events[1].value, kKeyShift);
  // The queued releases run no binding again.
  keys_->keyEvent('w', false);
  keys_->endFrame();
  EXPECT_EQ(takeBuffer(), "");
}

TEST_F(KeyBindsTest, ReleaseAllKeysDropsPendingMouseMovement) {
  g_conVarSystem->setString("m_smoothing", "0");
  UserCmd cmd{};
  keys_->mouseEvent(40, 0, 0);
  keys_->getUserCmd(&cmd, 16, 1);
  const int16_t turned = cmd.angles[1];
  ASSERT_NE(turned, 0) << "movement fed to the game turns the view";
  keys_->mouseEvent(40, 0, 0);
  keys_->releaseAllKeys();
  keys_->getUserCmd(&cmd, 32, 2);
  EXPECT_EQ(cmd.angles[1], turned) << "movement before the release is gone";
}

TEST_F(KeyBindsTest, KeysReachTheirBindingsThroughTheEventQueue) {
  // What the frame's pump does: events from the queue, then the end of the frame.
  queueSystemEvent(kSystemEventKey, 'w', 1, 0, nullptr);
  for (SystemEvent e : drainEvents())
    keys_->keyEvent(e.value, e.value2 != 0);
  keys_->endFrame();
  g_cmdSystem->executeText("");
  EXPECT_EQ(keys_->userCmdGen().forward, 1);
  UserCmd cmd;
  keys_->getUserCmd(&cmd, 16, 1);
  EXPECT_EQ(cmd.forward, 127);
}

}  // namespace
