// Drawing in the 640 x 480 screen, recorded by a render system double: where each window's text
// lands (relative rectangles, alignment, scale), what hidden windows and windows without a
// rectangle draw (nothing), and a text that names a variable.
#include <string>
#include <vector>

#include "render/material/expression.h"
#include "system/declmanager.h"
#include "tests/ui/recordingrender.h"
#include "tests/ui/uitest.h"


TEST_F(UITest, WindowsDrawTheirTextInsideTheirParents) {
  RecordingRender render;
  UserInterfaceLocal* gui = load(
      "windowDef desktop {\n"
      "  rect 0 0 640 480\n"
      "  windowDef parent {\n"
      "    rect 100 100 300 200\n"
      "    windowDef child {\n"
      "      rect 10 10 100 20\n"
      "      text \"left\"\n"
      "      textalignx 3\n"
      "      textaligny 4\n"
      "      textscale 0.5\n"
      "      forecolor 1 0 0 1\n"
      "      font fonts/any\n"
      "    }\n"
      "    windowDef centred {\n"
      "      rect 0 50 200 20\n"
      "      text \"mid\"\n"
      "      textalign 2\n"
      "    }\n"
      "    windowDef answer {\n"
      "      rect 0 0 10 10\n"
      "      int score 42\n"
      "      text score\n"
      "    }\n"
      "  }\n"
      "  windowDef hidden {\n    rect 0 0 10 10\n    visible 0\n    text \"no\"\n"
      "    windowDef under {\n      rect 0 0 5 5\n      text \"no either\"\n    }\n  }\n"
      "  windowDef clear {\n    rect 0 0 10 10\n    text \"invisible ink\"\n    forecolor 1 1 1 0\n  }\n"
      "  windowDef norect {\n    text \"gone\"\n  }\n"
      "}\n");
  ASSERT_NE(gui, nullptr) << cmd.output;
  gui->getDesktop()->findChild("norect")->deleteVar("rect");
  gui->redraw(0);
  ASSERT_EQ(render.texts.size(), 3u);
  const TextCall& left = render.texts[0];
  EXPECT_EQ(left.text, "left");
  EXPECT_FLOAT_EQ(left.x, 113.0f) << "origin 100 + rect 10 + textalignx 3";
  EXPECT_FLOAT_EQ(left.y, 114.0f);
  EXPECT_FLOAT_EQ(left.scale, 0.5f);
  EXPECT_EQ(left.font, 3) << "the registered font's index";
  EXPECT_FLOAT_EQ(left.color[1], 0.0f);
  EXPECT_FLOAT_EQ(left.clip[0], 110.0f);
  EXPECT_FLOAT_EQ(left.clip[2], 100.0f);
  const TextCall& mid = render.texts[1];
  EXPECT_FLOAT_EQ(mid.x, 200.0f) << "centred: half the width added";
  EXPECT_EQ(mid.align, 2);
  EXPECT_EQ(render.texts[2].text, "42") << "a text naming a variable shows that variable";
}

// A text naming a state variable the engine fills in later (the main menu's "why the map did not
// load") shows nothing while that variable is empty, not the variable's name; a text with a dot
// that names no variable is shown as written.
TEST_F(UITest, ATextNamingAnEmptyVariableShowsNothing) {
  RecordingRender render;
  UserInterfaceLocal* gui = load(
      "windowDef desktop {\n"
      "  rect 0 0 640 480\n"
      "  windowDef message {\n    rect 0 0 640 24\n    text \"desktop.map_message\"\n  }\n"
      "  windowDef version {\n    rect 0 30 640 24\n    text \"v1.2\"\n  }\n"
      "}\n");
  ASSERT_NE(gui, nullptr) << cmd.output;
  gui->setStateString("map_message", "");
  gui->redraw(0);
  ASSERT_EQ(render.texts.size(), 1u);
  EXPECT_EQ(render.texts[0].text, "v1.2");
  render.texts.clear();
  gui->setStateString("map_message", "Map \"x\" not found");
  gui->redraw(0);
  ASSERT_EQ(render.texts.size(), 2u);
  EXPECT_EQ(render.texts[0].text, "Map \"x\" not found");
}

TEST_F(UITest, FillsAreWhiteVerticesInTheColourSetForThem) {
  RecordingRender render;
  // The manager finds its white material through the declarations.
  destroyUserInterfaceManager();
  ASSERT_NE(createDeclSystem(), nullptr);
  struct DropDecls {
    ~DropDecls() {
      destroyUserInterfaceManager();
      destroyDeclSystem();
      clearExpressions();
    }
  } dropDecls;
  manager = getUserInterfaceManager();
  ASSERT_NE(manager->getWhiteMaterial(), nullptr);
  UserInterfaceLocal* gui = load(
      "windowDef desktop {\n"
      "  rect 0 0 640 480\n"
      "  windowDef panel {\n"
      "    rect 10 10 100 100\n"
      "    backcolor 0 0.5 1 0.25\n"
      "  }\n"
      "}\n");
  ASSERT_NE(gui, nullptr) << cmd.output;
  gui->redraw(0);
  ASSERT_FALSE(render.triangles.empty());
  const TriangleCall& fill = render.triangles[0];
  EXPECT_EQ(fill.material, manager->getWhiteMaterial());
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(fill.vertexColor[i], 255) << "component " << i << ": the vertices are white";
  const float expected[4] = {0.0f, 0.5f, 1.0f, 0.25f};
  for (int i = 0; i < 4; ++i)
    EXPECT_FLOAT_EQ(fill.color[i], expected[i]) << "component " << i << ": the back colour is the 2D colour";
}
