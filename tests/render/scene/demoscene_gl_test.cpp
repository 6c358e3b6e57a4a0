// The sample game's scene from the demo's own content (meshes, materials, images, GPU programs):
// three models on a floor under two shadow-casting lights, drawn on llvmpipe from a fixed camera. Each light
// lights parts of the scene the other does not, the two add up, and the stencil shadows darken
// pixels (the models' shadows fall on the floor) without brightening any.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/render/scene/support/managergl.h"

namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 240;

std::string readSource(const std::string& relative) {
  return managergl::readFile(std::string(QUILL_SOURCE_DIR) + "/demo/media/" + relative);
}

class DemoSceneGLTest : public managergl::ManagerGLTest {
 protected:
  DemoSceneGLTest()
      : ManagerGLTest({.width = kWidth,
                       .height = kHeight,
                       .programFolder = std::string(QUILL_SOURCE_DIR) + "/demo/media/glprogs",
                       .declarations = true}) {}

  void SetUp() override {
    const std::string samples = readSource("materials/samples.mtx");
    const std::string lights = readSource("materials/lights.mtx");
    ASSERT_FALSE(samples.empty());
    ASSERT_FALSE(lights.empty());
    // Declarations are found first in "<name>.mtx".
    for (const char* name : {"textures/samples/wall", "textures/samples/scroll", "textures/samples/fence"})
      io.addFile(std::string(name) + ".mtx", samples);
    io.addFile("lights/defaultPointLight.mtx", lights);
    for (const char* name : {"samples/wall_d", "samples/wall_n", "samples/wall_s", "samples/scroll", "samples/fence",
                             "lights/round", "lights/falloff"}) {
      const std::string image = readSource(std::string("textures/") + name + ".tga");
      ASSERT_FALSE(image.empty()) << name;
      io.addFile(std::string("textures/") + name + ".tga", image);
    }
    for (const char* name : {"crate", "pillar", "panel", "floor"})
      io.addFile(std::string("models/") + name + ".mesh", readSource(std::string("models/") + name + ".mesh"));

    managergl::ManagerGLTest::SetUp();
    if (!running() || HasFatalFailure())
      return;
    // The scene of demo/game.cpp.
    struct Item {
      const char* model;
      Vec3 origin;
    };
    const Item items[] = {{"models/crate.mesh", Vec3(0, 0, 16)},
                          {"models/pillar.mesh", Vec3(0, 56, 0)},
                          {"models/panel.mesh", Vec3(0, -56, 0)},
                          {"models/floor.mesh", Vec3(0, 0, 0)}};
    for (const Item& item : items) {
      RenderEntity e;
      e.model = g_renderModelSystem->findOrLoadModel(item.model);
      ASSERT_FALSE(e.model->isDefaultModel()) << item.model << console.text;
      e.origin = item.origin;
      for (float& p : e.shaderParms)
        p = 1.0f;
      manager->addEntityDef(&e);
    }
    for (int i = 0; i < 2; i++) {
      RenderLight light;
      light.shape = 1;
      light.origin = Vec3(-48.0f, i == 0 ? 64.0f : -64.0f, 96.0f);
      light.radius = Vec3(300.0f, 300.0f, 300.0f);
      light.flags = kLightShadows | kLightSpecular;
      for (int k = 0; k < 4; k++)
        light.shaderParms[k] = 1.0f;
      manager->addLightDef(&light);
    }
  }

  void TearDown() override {
    if (running()) {
      g_conVarSystem->setInt("r_shadows", 1);
      g_conVarSystem->setInt("r_singlelight", -1);
    }
    managergl::ManagerGLTest::TearDown();
  }

  // The game's camera at its start: at (-160, 0, 24) facing +x.
  std::vector<unsigned char> render() {
    device->setClearColor(0, 0, 0, 1);
    manager->clearScreen();
    RenderView v;
    v.width = 640;
    v.height = 480;
    v.fovX = 90.0f;
    v.fovY = 73.74f;
    v.origin = Vec3(-160, 0, 24);
    manager->renderScene(&v, 0xb);
    std::vector<unsigned char> pixels(size_t(kWidth) * kHeight * 4);
    device->readPixels(pixels.data(), 0, 0, kWidth, kHeight, kPixelFormatRGBA);
    return pixels;
  }

  static int brightness(const std::vector<unsigned char>& p, size_t i) { return p[i * 4] + p[i * 4 + 1] + p[i * 4 + 2]; }
  // Pixels of a that are brighter than b by more than `by`.
  static int brighterCount(const std::vector<unsigned char>& a, const std::vector<unsigned char>& b, int by) {
    int n = 0;
    for (size_t i = 0; i < a.size() / 4; i++)
      n += brightness(a, i) > brightness(b, i) + by;
    return n;
  }
};

TEST_F(DemoSceneGLTest, EachLightLightsItsOwnSideAndTheModelsShadowTheFloor) {
  const std::vector<unsigned char> both = render();
  EXPECT_EQ(console.text.find("ERROR"), std::string::npos) << console.text;
  EXPECT_GT(manager->shadowTrianglesDrawn(), 0);
  g_conVarSystem->setInt("r_singlelight", 0);
  const std::vector<unsigned char> first = render();
  g_conVarSystem->setInt("r_singlelight", 1);
  const std::vector<unsigned char> second = render();
  g_conVarSystem->setInt("r_singlelight", -1);
  // Each light reaches pixels the other leaves dark, and together they light both sets.
  const int onlyFirst = brighterCount(first, second, 60);
  const int onlySecond = brighterCount(second, first, 60);
  EXPECT_GT(onlyFirst, 200);
  EXPECT_GT(onlySecond, 200);
  EXPECT_LT(brighterCount(first, both, 3), 20) << "a second light never darkens";
  EXPECT_GT(brighterCount(both, first, 60), onlySecond / 2);

  g_conVarSystem->setInt("r_shadows", 0);
  const std::vector<unsigned char> unshadowed = render();
  g_conVarSystem->setInt("r_shadows", 1);
  // Shadows only darken, and some pixels by a lot.
  EXPECT_GT(brighterCount(unshadowed, both, 60), 50);
  EXPECT_LT(brighterCount(both, unshadowed, 3), 20);
}

}  // namespace
