// A light whose material names no falloff image borrows the falloff image of the default material
// of its kind and shape, found through the declaration manager: with a black borrowed falloff the
// wall it faces stays dark, while a material with its own white falloff lights it.
#include "tests/render/scene/support/lightinggl.h"

#include "system/declmanager.h"

namespace {

using lightinggl::LightingGLTest;

class FalloffGLTest : public LightingGLTest {
 protected:
  void SetUp() override {
    LightingGLTest::SetUp();
    if (IsSkipped() || HasFatalFailure())
      return;
    ASSERT_NE(createDeclSystem(), nullptr);
    // A 1 x 1 black TGA (bottom-up, 24 bits).
    std::string tga(18, '\0');
    tga[2] = 2;
    tga[12] = 1;
    tga[14] = 1;
    tga[16] = 24;
    tga += std::string(3, '\0');
    io.addFile("textures/blackfalloff.tga", tga);
    io.addFile("lights/defaultPointLight.mtx",
               "lights/defaultPointLight\n{\nlightFalloffImage textures/blackfalloff\n{\nmap "
               "_white\ncolored\n}\n}\n");
    declsUp = true;
  }
  void TearDown() override {
    if (declsUp) {
      // The lights and their materials go before the declarations that own the borrowed image.
      manager.reset();
      destroyDeclSystem();
    }
    LightingGLTest::TearDown();
  }
  bool declsUp = false;
};

TEST_F(FalloffGLTest, ALightWithoutAFalloffImageBorrowsTheDefaultMaterials) {
  addEntity(box(wallMaterial, Vec3(100, -80, -60), Vec3(104, 80, 60)));
  const Vec3 facing(100, 0, 0);

  // The fixture's own light material carries a white falloff image: the wall is lit.
  const int own = addLight(Vec3(80, 0, 0), Vec3(300, 300, 300), 0);
  render();
  EXPECT_GT(atWorld(facing).sum(), 300) << console.text;
  manager->freeLightDef(own);

  // No falloff image of its own: the default point light's black one is borrowed.
  lightMaterial = material("{\nmap _white\ncolored\n}\n");
  ASSERT_EQ(lightMaterial->falloffImage, nullptr);
  const int borrowing = addLight(Vec3(80, 0, 0), Vec3(300, 300, 300), 0);
  render();
  EXPECT_LT(atWorld(facing).sum(), 10) << "the borrowed falloff image is black\n" << console.text;
  EXPECT_EQ(lightMaterial->falloffImage, nullptr) << "the light's material is left as it was";
  EXPECT_EQ(console.text.find("failed to locate default light shader"), std::string::npos) << console.text;
  manager->freeLightDef(borrowing);
}

}  // namespace
