// The render window on llvmpipe, drawn by the real render manager from the demo's own content:
// the sample skinned tube, lit by the window's light, stands inside the window's rectangle and
// nowhere else; the sample animation swings its upper half; the 2D drawing after the window
// still covers the whole screen.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "lib/interface/convarsystem.h"
#include "lib/interface/rendermodelsystem.h"
#include "lib/interface/texmanager.h"
#include "platform/gl.h"
#include "render/backend/renderbackend.h"
#include "render/device/renderopengl.h"
#include "render/material/expression.h"
#include "render/scene/rendermanager.h"
#include "render/texture/texmgrinfo.h"
#include "system/convarmanager.h"
#include "system/declmanager.h"
#include "tests/support/capturecmdsystem.h"
#include "tests/support/gldevice.h"
#include "tests/support/memoryiosystem.h"
#include "ui/uirenderdef.h"
#include "ui/userinterfacelocal.h"
#include "ui/userinterfacemanager.h"

namespace {

constexpr int kWidth = 256;
constexpr int kHeight = 192;

std::string readSource(const std::string& relative) {
  std::ifstream in(std::string(QUILL_SOURCE_DIR) + "/demo/media/" + relative, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

struct Rgb {
  int r, g, b;
};

// The window fills the top-right quarter; the camera stands 60 in front of the tube's middle.
const char* const kGui =
    "windowDef desktop {\n"
    "  rect 0 0 640 480\n"
    "  renderDef tube {\n"
    "    rect 320 0 320 240\n"
    "    model \"models/tube.dmesh\"\n"
    "    anim \"models/tube_swing.danim\"\n"
    "    lightOrigin -60 0 40\n"
    "    viewOffset -60 0 10\n"
    "  }\n"
    "  windowDef after {\n"
    "    rect 0 0 40 40\n"
    "    backcolor 1 0 0 1\n"
    "  }\n"
    "}\n";

class RenderWindowGLTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"unlit.vp", "shadow.vp", "interaction.vfp", "interaction_nos.vp", "interaction_nob.fp",
                             "interaction_nos.fp", "interaction_nobs.fp", "ambientInteraction.vfp",
                             "vertexInteraction.vfp"})
      io.addFile(std::string("glprogs/") + name, readSource(std::string("glprogs/") + name));
    io.addFile("textures/samples/wall.mtx", readSource("materials/samples.mtx"));
    io.addFile("lights/defaultBoxLight.mtx", readSource("materials/lights.mtx"));
    for (const char* name : {"samples/wall_d", "samples/wall_n", "samples/wall_s", "lights/round", "lights/falloff"})
      io.addFile(std::string("textures/") + name + ".tga", readSource(std::string("textures/") + name + ".tga"));
    for (const char* name : {"models/tube.dmesh", "models/tube_swing.danim"}) {
      const std::string text = readSource(name);
      ASSERT_FALSE(text.empty()) << name;
      io.addFile(name, text);
    }
    io.addFile("script/ui/ui_common.lua", "util = {}\nfunction util.pt(t) end\n");
    io.addFile("guis/render.gui", kGui);

    getConVarManager();
    g_conVarSystem->setInt("r_viewwidth", kWidth);
    g_conVarSystem->setInt("r_viewheight", kHeight);
    gltest::openDevice(kWidth, kHeight, &window, &device);
    if (IsSkipped() || HasFatalFailure())
      return;
    g_renderInterface = device.get();
    ASSERT_NE(TexMgrInfo::getInstance(), nullptr);
    ASSERT_NE(createDeclSystem(), nullptr);
    getRenderModelSystem();
    manager = std::make_unique<RenderManager>();
    ASSERT_TRUE(manager->init());
    g_renderSystem = manager.get();
    ui = getUserInterfaceManager();
    gui = ui->findGui("guis/render.gui", true, false);
    ASSERT_NE(gui, nullptr) << console.text;
    tube = dynamic_cast<UIRenderDef*>(gui->getDesktop()->findChild("tube"));
    ASSERT_NE(tube, nullptr);
  }

  void TearDown() override {
    if (device == nullptr || g_renderInterface == nullptr) {
      destroyConVarManager();
      return;
    }
    destroyUserInterfaceManager();
    g_renderSystem = nullptr;
    manager.reset();
    destroyRenderModelSystem();
    destroyDeclSystem();
    g_renderBackEnd.reset();
    destroyTexManager();
    clearExpressions();
    g_renderInterface = nullptr;
    device.reset();
    platformGLDestroyHiddenWindow(window);
    destroyConVarManager();
  }

  // The whole interface drawn at a time over a blue screen.
  void draw(int time) {
    ui->frame(time);
    device->setClearColor(0, 0, 1, 1);
    manager->setRenderView(nullptr, time);
    manager->clearScreen();
    g_renderInterface->setViewport(0, 0, kWidth, kHeight);
    g_renderInterface->setScissor(0, 0, kWidth, kHeight);
    gui->redraw(time);
  }

  // A point of the 640 x 480 interface screen.
  Rgb at(float x, float y) {
    unsigned char p[4] = {};
    const int px = int(x * kWidth / 640.0f);
    const int py = int(y * kHeight / 480.0f);
    device->readPixels(p, px, kHeight - 1 - py, 1, 1, kPixelFormatRGBA);
    return {p[0], p[1], p[2]};
  }
  static bool isBackground(Rgb c) { return c.r < 10 && c.g < 10 && c.b > 245; }

  // Where a point of the tube's world lands in the interface screen (the window's view looks
  // down +x from (-60, 0, 10) with 60 degrees across its 320 units and 45 degrees up its 240).
  static void project(float y, float z, float* sx, float* sy) {
    const float ndcX = -y / (60.0f * 0.57735f);
    const float ndcY = (z - 10.0f) / (60.0f * 0.41421f);
    *sx = 320.0f + (ndcX * 0.5f + 0.5f) * 320.0f;
    *sy = (0.5f - ndcY * 0.5f) * 240.0f;
  }
  Rgb atTube(float y, float z) {
    float sx, sy;
    project(y, z, &sx, &sy);
    return at(sx, sy);
  }

  MemoryIOSystem io;
  CaptureCmdSystem console;
  void* window = nullptr;
  std::unique_ptr<RenderOpenGL> device;
  std::unique_ptr<RenderManager> manager;
  UserInterfaceManager* ui = nullptr;
  UserInterfaceLocal* gui = nullptr;
  UIRenderDef* tube = nullptr;
};

}  // namespace

TEST_F(RenderWindowGLTest, TheTubeStandsLitInsideTheWindowAndTheScreenGoesOnAfterIt) {
  draw(1000);
  EXPECT_EQ(console.text.find("ERROR"), std::string::npos) << console.text;
  ASSERT_NE(tube->entity().model, nullptr);
  EXPECT_EQ(tube->clip().numFrames(), 49);
  EXPECT_EQ(tube->entity().numJoints, 3);
  // The tube's lower half (which barely moves) is lit; the window's corners show what was there.
  const Rgb lower = atTube(0.0f, 3.0f);
  EXPECT_FALSE(isBackground(lower)) << lower.r << " " << lower.g << " " << lower.b << "\n" << console.text;
  EXPECT_GT(lower.r + lower.g, 40) << "the wall's colour under the light";
  EXPECT_TRUE(isBackground(at(330, 10)));
  EXPECT_TRUE(isBackground(at(630, 230)));
  // Nothing of the tube outside the window: its projection would cover the left half too if the
  // view were the whole screen.
  for (float x : {100.0f, 160.0f, 220.0f})
    EXPECT_TRUE(isBackground(at(x, 300))) << x;
  // The window drawn after the render window fills its own rectangle of the full screen.
  // (Without a "guiWhite" declaration the fill's material is the default one: only its red is
  // certain.) Were the viewport left at the render window's, the fill would land inside it.
  EXPECT_GT(at(20, 20).r, 240);
  EXPECT_TRUE(isBackground(at(60, 60)));
  EXPECT_LT(at(20 * 0.5f + 320.0f, 20 * 0.5f).r, 10);
}

TEST_F(RenderWindowGLTest, TheAnimationSwingsTheUpperHalf) {
  // At the start the tube stands straight: its top is on the axis.
  draw(1000);
  ASSERT_EQ(tube->startTime(), 1000);
  EXPECT_FALSE(isBackground(atTube(0.0f, 18.0f))) << "upright top";
  // A quarter of the two-second swing later the upper half leans 40 degrees: its top moved
  // about 6.4 units sideways and the axis above the pivot is empty.
  draw(1500);
  EXPECT_TRUE(isBackground(atTube(0.0f, 18.5f))) << "the top left the axis";
  const bool left = !isBackground(atTube(6.1f, 17.3f));
  const bool right = !isBackground(atTube(-6.1f, 17.3f));
  EXPECT_TRUE(left != right) << "the top leans to one side";
  // Half the swing later it is upright again, then leans the other way.
  draw(2000);
  EXPECT_FALSE(isBackground(atTube(0.0f, 18.0f)));
  draw(2500);
  EXPECT_EQ(!isBackground(atTube(6.1f, 17.3f)), right);
  EXPECT_EQ(!isBackground(atTube(-6.1f, 17.3f)), left);
}

TEST_F(RenderWindowGLTest, TheRendererPosesTheJointsThroughTheWindowsCallback) {
  // The window hands the renderer its callback; the joints move only when the renderer calls it
  // for a later view time.
  draw(1000);
  ASSERT_EQ(tube->entity().callback, &UIRenderDef::jointCallback);
  ASSERT_NE(tube->jointMatrices(), nullptr);
  const int n = tube->entity().numJoints;
  ASSERT_EQ(n, 3);
  const std::vector<Mat4> upright(tube->jointMatrices(), tube->jointMatrices() + n);
  draw(1500);
  const std::vector<Mat4> leaning(tube->jointMatrices(), tube->jointMatrices() + n);
  float moved = 0.0f;
  for (int j = 0; j < n; ++j)
    for (int k = 0; k < 16; ++k)
      moved = std::max(moved, std::fabs(leaning[size_t(j)].m[k] - upright[size_t(j)].m[k]));
  EXPECT_GT(moved, 0.1f) << "the swing moved a joint";
  // The interface's clock alone does not pose the model: only a drawing does.
  ui->frame(2000);
  for (int j = 0; j < n; ++j)
    for (int k = 0; k < 16; ++k)
      EXPECT_EQ(tube->jointMatrices()[j].m[k], leaning[size_t(j)].m[k]);
}

TEST_F(RenderWindowGLTest, AMissingModelOrAnimationLeavesThePlainWindow) {
  // An entity declaration whose keys name animation files.
  const char* def = "entityDef tubeAnims\n{\n\"swing\" \"models/tube_swing.danim\"\n}\n";
  io.addFile("tubeAnims.def", def);
  io.addFile("def/tubeAnims.def", def);
  struct Case {
    const char* model;
    const char* anim;
    const char* animClass;
    bool drawn;
  } cases[] = {
      {"models/missing.dmesh", "models/tube_swing.danim", "", false},
      {"models/tube.dmesh", "models/missing.danim", "", false},
      {"models/tube.dmesh", "swing", "tubeAnims", true},
      // A key the declaration lacks names no file.
      {"models/tube.dmesh", "walk", "tubeAnims", false},
      {"models/tube.dmesh", "models/tube_swing.danim", "", true},
  };
  for (const Case& c : cases) {
    gui->setStateString("tube.model", c.model);
    gui->setStateString("tube.anim", c.anim);
    gui->setStateString("tube.animClass", c.animClass);
    gui->setStateString("tube.update", "1");
    draw(3000);
    EXPECT_EQ(tube->entity().model != nullptr, c.drawn) << c.model << " " << c.anim << "\n" << console.text;
    EXPECT_EQ(tube->clip().numFrames(), c.drawn ? 49 : 0) << c.anim;
    EXPECT_EQ(isBackground(atTube(0.0f, 3.0f)), !c.drawn) << c.anim;
  }
}
