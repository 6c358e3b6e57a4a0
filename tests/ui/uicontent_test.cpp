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
