// The sample interfaces of the demo content: the main menu's buttons (hover, click, the commands
// they queue) and the loading screen's bar, read from the source tree.
#include <fstream>
#include <sstream>
#include <string>

#include "tests/ui/uitest.h"
#include "ui/uikinds.h"

namespace {

std::string readMedia(const char* name) {
  std::ifstream in(std::string(QUILL_DEMO_MEDIA) + "/" + name, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class UIContentTest : public UITest {
 protected:
  void SetUp() override {
    UITest::SetUp();
    const char* files[] = {"script/ui/ui_common.lua", "script/ui/loading.lua", "guis/mainmenu.gui",
                           "guis/map/loading.gui", "guis/credits.txt"};
    for (const char* file : files) {
      const std::string text = readMedia(file);
      ASSERT_FALSE(text.empty()) << file;
      io.addFile(file, text);
    }
  }
};

UIVarValue valueOf(UIWindow* window, const char* name) {
  UIVarValue value;
  window->getVarText(name, &value, nullptr);
  return value;
}

}  // namespace

TEST_F(UIContentTest, TheMainMenuHoversAndStartsTheMap) {
  UserInterfaceLocal* menu = manager->findGui("guis/mainmenu.gui", true, false);
  ASSERT_NE(menu, nullptr) << cmd.output;
  EXPECT_EQ(cmd.errors, "") << "the scripts run without errors";
  EXPECT_EQ(cmd.output.find("ParseError"), std::string::npos) << cmd.output;
  menu->activate(true, 0);
  manager->frame(1000);
  UIWindow* start = menu->getDesktop()->findChild("start");
  ASSERT_NE(start, nullptr);
  const float idle = valueOf(start, "backcolor").z;

  menu->mouseMove(300, 220);
  ASSERT_EQ(menu->getFocusWindow(), start);
  manager->frame(1200);
  EXPECT_GT(valueOf(start, "backcolor").z, idle + 0.2f) << "hovering brightens the button";

  UIInputEvent press{1, kUIKeyMouse1, 1, 0, 0};
  UIInputEvent release{1, kUIKeyMouse1, 0, 0, 0};
  bool handled = false;
  menu->handleEvent(&press, 0, &handled);
  menu->handleEvent(&release, 0, &handled);
  EXPECT_TRUE(handled);
  manager->frame(1300);
  ASSERT_EQ(cmd.executed.size(), 1u);
  EXPECT_EQ(cmd.executed[0], "map demo");

  menu->mouseMove(300, 290);
  EXPECT_STREQ(menu->getFocusWindow()->getName(), "quit");
  menu->handleEvent(&press, 0, &handled);
  menu->handleEvent(&release, 0, &handled);
  manager->frame(1400);
  ASSERT_EQ(cmd.executed.size(), 2u);
  EXPECT_EQ(cmd.executed[1], "quit");
  EXPECT_EQ(cmd.errors, "");
}

TEST_F(UIContentTest, TheLoadingBarFollowsTheStatusAndTheFraction) {
  UserInterfaceLocal* loading = manager->findGui("guis/map/loading.gui", true, false);
  ASSERT_NE(loading, nullptr) << cmd.output;
  UIWindow* fill = loading->getDesktop()->findChild("bar")->findChild("fill");
  ASSERT_NE(fill, nullptr);
  loading->setStateString("map_loadstatus", "loading spatial system");
  loading->setStateFloat("map_loading", 0.0f);
  loading->activate(true, 0);
  int now = 100;
  auto step = [&](int frames) {
    for (int i = 0; i < frames; ++i) {
      now += 50;
      manager->frame(now);
      loading->namedEvent("updateLoading");
    }
  };
  step(10);
  const float first = valueOf(fill, "rect").z;
  EXPECT_NEAR(first, 60.0f, 0.5f) << "15 % of 400";
  loading->setStateString("map_loadstatus", "normalizing physics");
  step(10);
  EXPECT_NEAR(valueOf(fill, "rect").z, 280.0f, 0.5f);
  loading->setStateFloat("map_loading", 1.0f);
  loading->namedEvent("loadingComplete");
  step(10);
  EXPECT_NEAR(valueOf(fill, "rect").z, 400.0f, 0.5f);
  EXPECT_STREQ(loading->getStateString("status.text"), "desktop.map_loadstatus");
  EXPECT_EQ(cmd.errors, "");
}

TEST_F(UIContentTest, TheSettingsAndCreditsScreensOpenAndClose) {
  UserInterfaceLocal* menu = manager->findGui("guis/mainmenu.gui", true, false);
  ASSERT_NE(menu, nullptr) << cmd.output;
  menu->activate(true, 0);
  UIWindow* desktop = menu->getDesktop();
  UIWindow* settings = desktop->findChild("settings");
  UIWindow* credits = desktop->findChild("credits");
  ASSERT_NE(settings, nullptr);
  ASSERT_NE(credits, nullptr);
  UIInputEvent press{1, kUIKeyMouse1, 1, 0, 0};
  UIInputEvent release{1, kUIKeyMouse1, 0, 0, 0};
  bool handled = false;
  auto clickAt = [&](float x, float y) {
    menu->mouseMove(x, y);
    menu->handleEvent(&press, 0, &handled);
    menu->handleEvent(&release, 0, &handled);
  };

  clickAt(320, 360);
  EXPECT_TRUE(settings->getBoolVar("visible", false));
  // The screen's windows are of their kinds, over the buttons it hides.
  menu->mouseMove(430, 165);
  ASSERT_NE(menu->getFocusWindow(), nullptr);
  EXPECT_NE(dynamic_cast<UIBindDef*>(menu->getFocusWindow()), nullptr);
  EXPECT_NE(dynamic_cast<UIComboDef*>(settings->findChild("lighting")), nullptr);
  menu->mouseMove(320, 220);
  EXPECT_NE(menu->getFocusWindow(), desktop->findChild("start")) << "the screen covers the menu";
  // "Save and close" saves the settings and closes the screen.
  clickAt(320, 430);
  manager->frame(100);
  ASSERT_EQ(cmd.executed.size(), 1u);
  EXPECT_EQ(cmd.executed[0], "writecfg");
  EXPECT_FALSE(settings->getBoolVar("visible", true));

  clickAt(320, 420);
  EXPECT_TRUE(credits->getBoolVar("visible", false));
  UIDialogDef* scroll = dynamic_cast<UIDialogDef*>(credits->findChild("scroll"));
  ASSERT_NE(scroll, nullptr);
  scroll->update();
  EXPECT_GT(scroll->numLines(), 10) << "guis/credits.txt is read";
  EXPECT_EQ(scroll->line(0)->text, "QUILLMERE");
  clickAt(320, 430);
  EXPECT_FALSE(credits->getBoolVar("visible", true));
  EXPECT_EQ(cmd.errors, "");
  EXPECT_EQ(cmd.output.find("ParseError"), std::string::npos) << cmd.output;
}

TEST_F(UIContentTest, TheMenuFadesInShowsItsHintsAndTheKeysWorkItsScreens) {
  io.addFile("guis/panel.gui", readMedia("guis/panel.gui"));
  UserInterfaceLocal* menu = manager->findGui("guis/mainmenu.gui", true, false);
  ASSERT_NE(menu, nullptr) << cmd.output;
  UIWindow* desktop = menu->getDesktop();
  UIWindow* start = desktop->findChild("start");
  UIWindow* hint = desktop->findChild("hint");
  ASSERT_NE(hint, nullptr);
  // Opening posts "intro": the buttons fade in and the hint's clock starts.
  menu->activate(true, 0);
  manager->frame(1000);
  manager->frame(1200);
  EXPECT_GT(valueOf(start, "backcolor").w, 0.0f);
  EXPECT_LT(valueOf(start, "backcolor").w, 0.85f) << "half-way through the fade";
  manager->frame(1500);
  EXPECT_FLOAT_EQ(valueOf(start, "backcolor").w, 0.9f);
  std::string text;
  hint->getVarText("text", nullptr, &text);
  EXPECT_EQ(text, "") << "no hint before three seconds";
  manager->frame(4100);
  manager->frame(5000);
  hint->getVarText("text", nullptr, &text);
  EXPECT_EQ(text, "Click Start to load the sample map");
  EXPECT_FLOAT_EQ(valueOf(hint, "forecolor").w, 1.0f);
  manager->frame(10100);
  hint->getVarText("text", nullptr, &text);
  EXPECT_EQ(text, "Escape closes the settings and the credits");
  // The hints come round again, and a second opening starts them from the beginning.
  manager->frame(16100);
  manager->frame(16200);
  hint->getVarText("text", nullptr, &text);
  EXPECT_EQ(text, "Click Start to load the sample map");
  menu->activate(false, 0);
  menu->activate(true, 0);
  manager->frame(16300);
  manager->frame(16400);
  EXPECT_FLOAT_EQ(valueOf(hint, "forecolor").w, 0.0f) << "hidden again, its fade stopped";
  manager->frame(19500);
  manager->frame(20500);
  EXPECT_FLOAT_EQ(valueOf(hint, "forecolor").w, 1.0f);

  UIInputEvent press{1, kUIKeyMouse1, 1, 0, 0};
  UIInputEvent release{1, kUIKeyMouse1, 0, 0, 0};
  bool handled = false;
  auto clickAt = [&](float x, float y) {
    menu->mouseMove(x, y);
    menu->handleEvent(&press, 0, &handled);
    menu->handleEvent(&release, 0, &handled);
  };
  auto keyAt = [&](int key) {
    UIInputEvent down{1, key, 1, 0, 0};
    menu->handleEvent(&down, 0, &handled);
  };
  // Settings show the screen size from the console variables (none here); Escape closes them.
  UIWindow* settings = desktop->findChild("settings");
  clickAt(320, 360);
  ASSERT_TRUE(settings->getBoolVar("visible", false));
  settings->findChild("screenSize")->getVarText("text", nullptr, &text);
  EXPECT_EQ(text, "screen ? x ?");
  menu->mouseMove(300, 100);
  keyAt(27);
  EXPECT_FALSE(settings->getBoolVar("visible", true)) << "Escape over the screen closes it";
  EXPECT_TRUE(cmd.executed.empty()) << "without saving";

  // Credits: "+" scrolls faster, "-" slower, Tab starts the text again; Escape closes them.
  UIWindow* credits = desktop->findChild("credits");
  UIDialogDef* scroll = dynamic_cast<UIDialogDef*>(credits->findChild("scroll"));
  ASSERT_NE(scroll, nullptr);
  clickAt(320, 420);
  ASSERT_TRUE(credits->getBoolVar("visible", false));
  menu->mouseMove(300, 200);
  ASSERT_EQ(menu->getFocusWindow(), scroll);
  keyAt('+');
  EXPECT_FLOAT_EQ(valueOf(scroll, "autoscroll").x, 36.0f);
  keyAt('-');
  keyAt('-');
  EXPECT_FLOAT_EQ(valueOf(scroll, "autoscroll").x, 16.0f);
  scroll->update();
  keyAt(9);
  EXPECT_TRUE(scroll->getBoolVar("update", false)) << "Tab reloads the text, which scrolls from the top";
  keyAt(27);
  EXPECT_FALSE(credits->getBoolVar("visible", true));
  EXPECT_EQ(cmd.errors, "");
}

TEST_F(UIContentTest, TheMapPanelCountsItsTriggersAndKeepsItsClock) {
  io.addFile("guis/panel.gui", readMedia("guis/panel.gui"));
  UserInterfaceLocal* panel = manager->findGui("guis/panel.gui", true, false);
  ASSERT_NE(panel, nullptr) << cmd.output;
  panel->activate(true, 0);
  EXPECT_TRUE(panel->getStateBool("menugui")) << "the mouse finds its windows once it is active";
  manager->frame(100);
  EXPECT_STREQ(panel->getStateString("clock.text"), "up 0 s");
  manager->frame(1150);
  manager->frame(1200);
  EXPECT_STREQ(panel->getStateString("clock.text"), "up 1 s");
  manager->frame(2250);
  manager->frame(2300);
  EXPECT_STREQ(panel->getStateString("clock.text"), "up 2 s");
  panel->mouseMove(320, 240);
  EXPECT_STREQ(panel->getFocusWindow()->getName(), "middle");
  panel->trigger();
  panel->trigger();
  EXPECT_STREQ(panel->getStateString("count.text"), "pressed 2");
  EXPECT_EQ(cmd.errors, "");
}
