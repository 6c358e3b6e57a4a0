// The render manager on llvmpipe: a model entity in a view reads back its material's colour where it
// stands and the clear colour elsewhere; 640 x 480 drawing lands on the matching window pixels; a
// shutdown and init (as "vid_restart" does) keeps the entities drawing.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "lib/interface/convarsystem.h"
#include "lib/interface/rendermodelsystem.h"
#include "lib/interface/texmanager.h"
#include "platform/gl.h"
#include "render/backend/renderbackend.h"
#include "render/device/renderopengl.h"
#include "render/material/expression.h"
#include "render/material/material.h"
#include "render/model/basemodel.h"
#include "render/scene/rendermanager.h"
#include "render/texture/texmgrinfo.h"
#include "system/convarmanager.h"
#include "tests/render/scene/support/managergl.h"
#include "tests/support/capturecmdsystem.h"
#include "tests/support/memoryiosystem.h"

namespace {

using managergl::camera;
using managergl::kHeight;
using managergl::kWidth;
using managergl::near;
using managergl::Rgb;

class SceneGLTest : public managergl::ManagerGLTest {};

const Rgb kRed{255, 0, 0};
const Rgb kGreen{0, 255, 0};
const Rgb kBlue{0, 0, 255};

TEST_F(SceneGLTest, ModelEntityReadsBackItsMaterialWhereItStandsAndSurvivesARestart) {
  BaseModel box;
  box.init("box");
  box.makeDefault();
  RenderEntity entity;
  entity.model = &box;
  entity.customMaterial = material("{\n{\nred 1\ngreen 0\nblue 0\n}\n}\n");
  entity.origin = Vec3(64, 0, 0);
  for (float& p : entity.shaderParms)
    p = 1.0f;
  const int index = manager->addEntityDef(&entity);
  const RenderView view = camera();

  manager->renderScene(&view, 0xb);
  EXPECT_GT(manager->surfacesDrawn(), 0);
  EXPECT_TRUE(near(at(kWidth / 2, kHeight / 2), kRed)) << console.text;
  EXPECT_TRUE(near(at(4, 4), kBlue));
  EXPECT_TRUE(near(at(kWidth - 4, kHeight - 4), kBlue));

  // Moved to the left of the view (+y is left), it shows on the left half only.
  entity.origin = Vec3(64, 40, 0);
  manager->updateEntityDef(index, &entity);
  clearTo(0.0f, 0.0f, 1.0f);
  manager->renderScene(&view, 0xb);
  EXPECT_TRUE(near(at(kWidth / 2 - 80, kHeight / 2), kRed));
  EXPECT_TRUE(near(at(kWidth / 2 + 40, kHeight / 2), kBlue));

  // A view that the entity is suppressed in draws nothing of it.
  entity.suppressInViewId = 7;
  manager->updateEntityDef(index, &entity);
  RenderView other = view;
  other.viewId = 7;
  clearTo(0.0f, 0.0f, 1.0f);
  manager->renderScene(&other, 0xb);
  EXPECT_TRUE(near(at(kWidth / 2 - 80, kHeight / 2), kBlue));
  entity.suppressInViewId = 0;
  manager->updateEntityDef(index, &entity);

  // What "vid_restart" does to the renderer: the entity keeps its slot and draws again.
  manager->shutdown();
  g_texManager->reloadImages();
  ASSERT_TRUE(manager->init());
  clearTo(0.0f, 0.0f, 1.0f);
  manager->renderScene(&view, 0xb);
  EXPECT_TRUE(near(at(kWidth / 2 - 80, kHeight / 2), kRed));
  EXPECT_NE(manager->getRenderEntity(index), nullptr);
}

TEST_F(SceneGLTest, FlatDrawingIn640x480UnitsMapsOntoTheWindow) {
  // A quad over the middle half of the virtual screen covers the middle half of the window.
  manager->drawStretchPic(material("{\n{\nred 0\ngreen 1\nblue 0\n}\n}\n"), 160, 120, 320, 240, 0, 0, 1, 1);
  struct Probe {
    int x, y;
    Rgb want;
  };
  const Probe probes[] = {{kWidth / 2, kHeight / 2, kGreen},
                          {kWidth / 4 + 2, kHeight / 4 + 2, kGreen},
                          {kWidth * 3 / 4 - 3, kHeight * 3 / 4 - 3, kGreen},
                          {kWidth / 4 - 3, kHeight / 2, kBlue},
                          {kWidth / 2, kHeight / 4 - 3, kBlue},
                          {kWidth * 3 / 4 + 2, kHeight / 2, kBlue},
                          {kWidth / 2, kHeight * 3 / 4 + 2, kBlue}};
  for (const Probe& p : probes) {
    const Rgb c = at(p.x, p.y);
    EXPECT_TRUE(near(c, p.want)) << p.x << "," << p.y << ": " << c.r << "," << c.g << "," << c.b;
  }

  // The rectangle outline draws in the 2D colour on its border and leaves the inside alone.
  clearTo(0.0f, 0.0f, 1.0f);
  manager->setColor(1, 0, 0, 1);
  manager->drawRectOutline(0, 0, 640, 480, 8);
  EXPECT_TRUE(near(at(1, kHeight / 2), kRed));
  EXPECT_TRUE(near(at(kWidth / 2, 1), kRed));
  EXPECT_TRUE(near(at(kWidth / 2, kHeight / 2), kBlue));

  // drawTriangles2D refuses indexes outside the vertex block.
  clearTo(0.0f, 0.0f, 1.0f);
  DrawVertex v[3] = {};
  const float xy[3][2] = {{0, 0}, {640, 0}, {0, 480}};
  for (int i = 0; i < 3; i++) {
    v[i].xyz[0] = xy[i][0];
    v[i].xyz[1] = xy[i][1];
    std::memset(v[i].color, 255, 4);
  }
  const int bad[3] = {0, 1, 3};
  Material* green = material("{\n{\nred 0\ngreen 1\nblue 0\n}\n}\n");
  manager->drawTriangles2D(v, bad, 3, 3, green, 1, 0, 0, 640, 480);
  EXPECT_TRUE(near(at(8, 8), kBlue));
  const int good[3] = {0, 2, 1};
  manager->drawTriangles2D(v, good, 3, 3, green, 1, 0, 0, 640, 480);
  EXPECT_TRUE(near(at(8, 8), kGreen));
  EXPECT_TRUE(near(at(kWidth - 8, kHeight - 8), kBlue));
}

}  // namespace

namespace {

TEST_F(SceneGLTest, PrintQualityScreenshotTilesWholeBandsAndRefusesBadSizes) {
  // 1000 x 300 becomes 2 x 2 tiles of 512 x 256 in a 1024 x 512 picture.
  ASSERT_TRUE(manager->printQualityScreenshot(1000, 300));
  std::string tga;
  for (const auto& [name, text] : io.files)
    if (name.find("screenshots/screen.tga") != std::string::npos)
      tga = text;
  ASSERT_GE(tga.size(), 18u) << "no screenshots/screen.tga written";
  const auto word = [&](int at) { return int(uint8_t(tga[size_t(at)])) | int(uint8_t(tga[size_t(at + 1)])) << 8; };
  EXPECT_EQ(word(12), 1024);
  EXPECT_EQ(word(14), 512);
  EXPECT_EQ(manager->renderWidth(), kWidth) << "render size not reset";

  struct Bad {
    const char* args;
  };
  for (const Bad& b : {Bad{"screenshotPrintQuality 0 300"}, Bad{"screenshotPrintQuality -5 300"},
                       Bad{"screenshotPrintQuality 100 16385"}}) {
    console.text.clear();
    CmdArgs args;
    args.tokenize(b.args);
    ASSERT_TRUE(console.commands.count("screenshotPrintQuality"));
    console.commands["screenshotPrintQuality"].function(args);
    EXPECT_NE(console.text.find("WARNING: screenshotPrintQuality"), std::string::npos) << b.args;
  }
}

}  // namespace
