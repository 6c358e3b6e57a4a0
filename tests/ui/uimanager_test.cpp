// The manager: finding and freeing interfaces, the frame's commands, the full-screen pointer,
// and the interface object without a desktop.
#include <string>

#include "lib/interface/gameinterface.h"
#include "lib/keydict.h"
#include "tests/support/nullgame.h"
#include "tests/ui/uitest.h"

namespace {

const char* kMenu =
    "windowDef desktop {\n"
    "  menugui 1\n"
    "  eventDef { onTime 0 go }\n"
    "  scriptDef { function this:go() sys.set('cmd', 'for the game'); sys.exec('console') end }\n"
    "}\n";

}  // namespace

TEST_F(UITest, FindGuiIgnoresCaseAndForceNewLoadsASecondCopy) {
  io.addFile("guis/mainmenu.gui", "windowDef desktop {\n}\n");
  UserInterfaceLocal* first = manager->findGui("guis/mainmenu.gui", true, false);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(manager->findGui("GUIS/MainMenu.gui", false, false), first);
  EXPECT_EQ(manager->findGui("guis/other.gui", false, false), nullptr);
  UserInterfaceLocal* second = manager->findGui("guis/mainmenu.gui", true, true);
  ASSERT_NE(second, nullptr);
  EXPECT_NE(second, first);
  EXPECT_EQ(manager->findGui("guis/mainmenu.gui", true, false), first);
  EXPECT_TRUE(manager->guiFileExists("guis/mainmenu.gui"));
  io.addFile("guis/empty.gui", "");
  EXPECT_FALSE(manager->guiFileExists("guis/empty.gui"));
  EXPECT_FALSE(manager->guiFileExists("guis/none.gui"));
  EXPECT_EQ(manager->numGuis(), 2);
}

TEST_F(UITest, FreeingAGuiClearsTheFullScreenPointer) {
  UserInterfaceLocal* gui = load("windowDef desktop {\n}\n");
  ASSERT_NE(gui, nullptr);
  g_activeGui = gui;
  manager->freeGui(gui);
  EXPECT_EQ(g_activeGui, nullptr);
  EXPECT_EQ(manager->numGuis(), 0);
  manager->freeGui(nullptr);
  // A gui outside the list is still deactivated and deleted (the sanitizer checks the delete).
  UserInterfaceLocal* loose = new UserInterfaceLocal();
  manager->freeGui(loose);
  EXPECT_EQ(manager->numGuis(), 0);
}

TEST_F(UITest, AnInactiveFullScreenGuiIsDroppedButStaysLoaded) {
  UserInterfaceLocal* gui = load("windowDef desktop {\n menugui 1\n}\n");
  ASSERT_NE(gui, nullptr);
  gui->activate(true, 0);
  g_activeGui = gui;
  manager->frame(10);
  EXPECT_EQ(g_activeGui, gui);
  gui->setStateString("active", "0");
  manager->frame(20);
  EXPECT_EQ(g_activeGui, nullptr);
  EXPECT_EQ(manager->numGuis(), 1);
}

namespace {

// A game that records the commands it is handed and frees the interface that sent the first,
// as leaving a menu for a map does.
class FreeingGame : public NullGame {
 public:
  std::vector<std::string> events;
  UserInterfaceManager* manager = nullptr;
  void guiEvent(UserInterface* gui, const char* text) override {
    events.push_back(text);
    if (events.size() == 1)
      manager->freeGui(gui);
  }
};

}  // namespace

TEST_F(UITest, CommandsGoToTheGameOrTheConsoleAndDieWithTheirGui) {
  UserInterfaceLocal* without = load(kMenu);
  ASSERT_NE(without, nullptr);
  without->activate(true, 0);
  manager->frame(10);
  // Without a game, "cmd" queues nothing; console commands still run.
  ASSERT_EQ(cmd.executed.size(), 1u);
  EXPECT_EQ(cmd.executed[0], "console");
  manager->freeGui(without);

  FreeingGame game;
  game.manager = manager;
  g_gameInterface = &game;
  UserInterfaceLocal* a = load(kMenu);
  UserInterfaceLocal* b = load(
      "windowDef desktop {\n eventDef { onTime 0 go }\n"
      " scriptDef { function this:go() sys.set('cmd', 'b one'); sys.set('cmd', 'b two') end }\n}\n");
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  a->activate(true, 0);
  b->activate(true, 0);
  g_activeGui = a;
  // a's own command frees a: its later commands are dropped; b's still arrive.
  a->getDesktop()->setVar("cmd", "a two");
  manager->frame(20);
  g_gameInterface = nullptr;
  ASSERT_EQ(game.events.size(), 3u);
  EXPECT_EQ(game.events[0], "a two");
  EXPECT_EQ(game.events[1], "b one");
  EXPECT_EQ(game.events[2], "b two");
  EXPECT_EQ(g_activeGui, nullptr);
  EXPECT_EQ(manager->numGuis(), 1);
}

TEST_F(UITest, AGuiWithoutADesktopIgnoresEverything) {
  UserInterfaceLocal gui;
  gui.clear();
  ASSERT_EQ(gui.getDesktop(), nullptr);
  gui.setStateString("a", "1");
  EXPECT_STREQ(gui.getStateString("a"), "");
  EXPECT_EQ(gui.getStateInt("a"), 0);
  EXPECT_EQ(gui.getStateDict(), nullptr);
  gui.namedEvent("x");
  gui.activate(true, 0);
  gui.trigger();
  gui.refreshWindows(0, true);
  gui.redraw(0);
  UIInputEvent press{1, kUIKeyMouse1, 1, 0, 0};
  bool handled = true;
  gui.handleEvent(&press, 0, &handled);
  EXPECT_FALSE(handled);
  EXPECT_FALSE(gui.mouseMove(10, 10));
}

TEST_F(UITest, ReloadRunsTheActivationAgain) {
  UserInterfaceLocal* gui = load(
      "windowDef desktop {\n eventDef { onActivate on }\n scriptDef { function this:on() sys.exec('activated') end }\n}\n");
  ASSERT_NE(gui, nullptr);
  gui->activate(true, 0);
  manager->reloadGuis(false);
  manager->frame(5);
  ASSERT_EQ(cmd.executed.size(), 2u);
  EXPECT_TRUE(gui->getStateBool("active"));
}
