// The console behind the real key bindings: the console key opens it, keys and characters reach
// its input line while it holds the input, and the console key or escape hand the input back.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "system/cmdmanager.h"
#include "system/console.h"
#include "system/convarmanager.h"
#include "system/inputmanager.h"
#include "system/keybinds.h"
#include "system/systemmanager.h"

namespace {

uint32_t g_now = 1000;
uint32_t fakeClock() { return g_now; }
std::vector<std::string> g_runs;
void recordRun(const CmdArgs& args) { g_runs.push_back(args.argv(1)); }

class ConsoleKeysTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_now = 1000;
    g_runs.clear();
    getSystemManager();
    cmd = getCmdManager();
    getConVarManager();
    cmd->addCommand("run", recordRun, kCmdFlagEngine, "records its argument");
    KeyBinds::setDeviceFlags(kInputMouse);
    keys = getKeyBinds(true);
    console = Console::getInstance(true);
    console->setClock(fakeClock);
  }
  void TearDown() override {
    Console::destroyConsole();
    destroyKeyBinds();
    destroyConVarManager();
    destroyCmdManager();
    destroySystemManager();
    KeyBinds::setDeviceFlags(kInputMouse | kInputJoystick);
  }
  void press(int key) {
    keys->keyEvent(key, true);
    keys->keyEvent(key, false);
  }
  void settle() {
    for (int i = 0; i < 3; i++) {
      console->update();
      g_now += 500;
    }
  }
  CmdManager* cmd = nullptr;
  KeyBinds* keys = nullptr;
  Console* console = nullptr;
};

TEST_F(ConsoleKeysTest, ConsoleKeyOpensTypedLinesRunAndTheKeyClosesIt) {
  const int startMode = keys->getMode();
  // While the game holds the input the console key needs control, alt and shift.
  press('`');
  settle();
  EXPECT_FALSE(console->isOpen());
  keys->keyEvent(kKeyCtrl, true);
  keys->keyEvent(kKeyAlt, true);
  keys->keyEvent(kKeyShift, true);
  press('`');
  keys->keyEvent(kKeyShift, false);
  keys->keyEvent(kKeyAlt, false);
  keys->keyEvent(kKeyCtrl, false);
  settle();
  ASSERT_TRUE(console->isOpen());
  EXPECT_NE(keys->getMode() & kKeyModeConsole, 0);

  struct Step {
    bool isKey;
    int code;
    const char* input;
  };
  const Step steps[] = {
      {false, 'r', "r"},           {false, 'u', "ru"},       {false, 'n', "run"},  {false, ' ', "run "},
      {false, 'x', "run x"},       {true, kKeyLeftArrow, "run x"}, {false, 'y', "run yx"},
      {true, kKeyBackspace, "run x"}, {false, '`', "run x"},  // the console key never types
  };
  for (const Step& s : steps) {
    if (s.isKey)
      press(s.code);
    else
      keys->charEvent(s.code);
    EXPECT_STREQ(console->input(), s.input);
  }
  press(kKeyEnter);
  ASSERT_EQ(g_runs.size(), 1u);
  EXPECT_EQ(g_runs[0], "x");
  EXPECT_STREQ(console->line(console->lineCount()), "]run x");

  // The console key alone closes it now that it has the input; the mode goes back.
  keys->charEvent('q');
  press('`');
  settle();
  EXPECT_FALSE(console->isOpen());
  EXPECT_EQ(keys->getMode(), startMode & ~kKeyModeConsole);
  keys->charEvent('z');
  EXPECT_STREQ(console->input(), "q");
}

TEST_F(ConsoleKeysTest, EscapeClosesTheOpenConsole) {
  console->setSliding(true);
  settle();
  ASSERT_TRUE(console->isOpen());
  press(kKeyEscape);
  settle();
  EXPECT_FALSE(console->isOpen());
  EXPECT_EQ(keys->getMode() & kKeyModeConsole, 0);
}

}  // namespace
