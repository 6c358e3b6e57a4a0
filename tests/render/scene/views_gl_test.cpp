// Views into textures, the glow, interfaces on model surfaces and model previews, on llvmpipe: a
// mirror shows what stands in front of it the right way round (and can clip what stands behind
// it), a remote camera's picture lands upright on its screen without touching the window, the
// glow brightens only around a bright surface, an interface covers its surface, and
// renderModelView draws one model into its own rectangle.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "lib/interface/convarsystem.h"
#include "lib/interface/rendersystem.h"
#include "lib/interface/userinterfacesystem.h"
#include "render/backend/framebufferopengl.h"
#include "render/model/basemodel.h"
#include "system/declmanager.h"
#include "tests/render/scene/support/managergl.h"
#include "ui/userinterfacemanager.h"

namespace {

using managergl::camera;
using managergl::kHeight;
using managergl::kWidth;
using managergl::near;
using managergl::Rgb;

const Rgb kRed{255, 0, 0};
const Rgb kGreen{0, 255, 0};
const Rgb kBlue{0, 0, 255};
const Rgb kBlack{0, 0, 0};
const Rgb kWhite{255, 255, 255};

std::string sourceFile(const std::string& path) {
  std::ifstream in(std::string(QUILL_SOURCE_DIR) + "/" + path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string show(Rgb c) {
  return std::to_string(c.r) + "," + std::to_string(c.g) + "," + std::to_string(c.b);
}

// Axes of an entity or view looking along -x (left is -y).
const Mat3 kFacingBack(Vec3(-1, 0, 0), Vec3(0, -1, 0), Vec3(0, 0, 1));

class ViewsGLTest : public managergl::ManagerGLTest {
 protected:
  void SetUp() override {
    io.addFile("glprogs/convolution.vfp", sourceFile("demo/media/glprogs/convolution.vfp"));
    io.addFile("glprogs/highPass.vfp", sourceFile("demo/media/glprogs/highPass.vfp"));
    io.addFile("_highPassFilter.mtx", sourceFile("demo/media/materials/postprocess.mtx"));
    ManagerGLTest::SetUp();
    if (!running())
      return;
    ASSERT_NE(createDeclSystem(), nullptr);
    // The glow's targets and materials, as a map load makes them.
    manager->onMapLoaded();
    g_conVarSystem->setString("r_clearcolor", "0 0 0");
    // The blue clear colour is bright enough to glow; the glow's own test switches it on.
    g_conVarSystem->setInt("r_skipBloomFilter", 1);
  }

  void TearDown() override {
    if (running()) {
      if (g_uiSystem)
        destroyUserInterfaceManager();
      manager.reset();  // its materials come from the declarations
      entities.clear();
      models.clear();
      destroyDeclSystem();
    }
    ManagerGLTest::TearDown();
  }

  // A quad facing -x (towards a camera at the origin looking +x when placed ahead of it), halfW
  // across and halfH up; texture coordinates 0,0 at its top left.
  BaseModel* quad(Material* m, float halfW, float halfH) {
    models.push_back(std::make_unique<BaseModel>());
    BaseModel* model = models.back().get();
    model->init("quad");
    SurfaceGeometry* g = model->allocGeometry(4, 6);
    const float p[4][3] = {{0, halfW, halfH}, {0, -halfW, halfH}, {0, -halfW, -halfH}, {0, halfW, -halfH}};
    const float st[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    for (int i = 0; i < 4; i++) {
      g->verts[i] = DrawVertex{};
      for (int k = 0; k < 3; k++)
        g->verts[i].xyz[k] = p[i][k];
      g->verts[i].st[0] = st[i][0];
      g->verts[i].st[1] = st[i][1];
      std::memset(g->verts[i].color, 255, 4);
    }
    const int idx[6] = {0, 3, 2, 0, 2, 1};
    std::memcpy(g->indexes, idx, sizeof(idx));
    deriveTangents(g->verts, 4, g->indexes, 6, g->planes, false);
    g->facetsValid = 1;
    g->bounds = Bounds(Vec3(-0.1f, -halfW, -halfH), Vec3(0.1f, halfW, halfH));
    model->addSurface({m, g, -1});
    return model;
  }

  BaseModel* box() {
    models.push_back(std::make_unique<BaseModel>());
    models.back()->init("box");
    models.back()->makeDefault();
    return models.back().get();
  }

  int place(RenderModel* model, const Vec3& origin, Material* custom = nullptr, const Mat3& axis = Mat3()) {
    entities.push_back(std::make_unique<RenderEntity>());
    RenderEntity& e = *entities.back();
    e.model = model;
    e.customMaterial = custom;
    e.origin = origin;
    e.axis = axis;
    for (float& p : e.shaderParms)
      p = 1.0f;
    return manager->addEntityDef(&e);
  }

  Material* colour(float r, float g, float b) {
    const std::string text = "{\n{\nred " + std::to_string(r) + "\ngreen " + std::to_string(g) + "\nblue " +
                             std::to_string(b) + "\n}\n}\n";
    return material(text.c_str());
  }

  std::vector<std::unique_ptr<BaseModel>> models;
  std::vector<std::unique_ptr<RenderEntity>> entities;
};

// The mirror (80 x 60 units, 100 ahead) covers window pixels x 77..179, y 58..134.
constexpr int kMirrorLeftX = 100;
constexpr int kMirrorRightX = 160;
constexpr int kMirrorY = 96;

TEST_F(ViewsGLTest, MirrorShowsWhatStandsInFrontOfItTheRightWayRound) {
  if (!running())
    return;
  place(quad(material("{\n{\nmirrorRenderMap 256 256\n}\n}\n"), 40, 30), Vec3(100, 0, 0));
  // Behind the camera, facing the mirror: red on the left (+y), green on the right. A real mirror
  // keeps left on the left.
  place(quad(colour(1, 0, 0), 75, 150), Vec3(-20, 75, 0), nullptr, kFacingBack);
  place(quad(colour(0, 1, 0), 75, 150), Vec3(-20, -75, 0), nullptr, kFacingBack);
  const RenderView view = camera();
  manager->renderScene(&view, 0xb);
  EXPECT_EQ(manager->subviewsDrawn(), 1) << console.text;
  EXPECT_TRUE(near(at(kMirrorLeftX, kMirrorY), kRed, 8)) << show(at(kMirrorLeftX, kMirrorY));
  EXPECT_TRUE(near(at(kMirrorRightX, kMirrorY), kGreen, 8)) << show(at(kMirrorRightX, kMirrorY));
  EXPECT_TRUE(near(at(20, kMirrorY), kBlue)) << "the backdrop is behind the camera";

  // A box behind the mirror stands between the reflected eye and the mirror: without the clip plane
  // it shows in the reflection, with "r_useMirrorClip" the plane cuts it away.
  place(box(), Vec3(150, 0, 0), colour(1, 1, 0));
  clearTo(0, 0, 1);
  manager->renderScene(&view, 0xb);
  EXPECT_TRUE(near(at(112, kMirrorY), Rgb{255, 255, 0}, 8)) << show(at(112, kMirrorY));
  g_conVarSystem->setInt("r_useMirrorClip", 1);
  clearTo(0, 0, 1);
  manager->renderScene(&view, 0xb);
  EXPECT_TRUE(near(at(112, kMirrorY), kRed, 8)) << show(at(112, kMirrorY));

  // The mirror's view has an id of its own (-1): what the main view suppresses (the player's own
  // body) still shows in the mirror.
  const int body = place(quad(colour(1, 0, 1), 30, 30), Vec3(-10, 0, 0), nullptr, kFacingBack);
  RenderEntity bodyParms = *manager->getRenderEntity(body);
  bodyParms.suppressInViewId = 5;
  manager->updateEntityDef(body, &bodyParms);
  RenderView player = view;
  player.viewId = 5;
  clearTo(0, 0, 1);
  manager->renderScene(&player, 0xb);
  EXPECT_TRUE(near(at(128, kMirrorY), Rgb{255, 0, 255}, 8)) << show(at(128, kMirrorY));
  g_conVarSystem->setInt("r_useMirrorClip", 0);

  // Seen from behind, a one-sided mirror renders no view; "r_skipMirrorMaps" switches them off.
  RenderView behind = view;
  behind.origin = Vec3(200, 0, 0);
  behind.axis = kFacingBack;
  manager->renderScene(&behind, 0xb);
  EXPECT_EQ(manager->subviewsDrawn(), 0);
  g_conVarSystem->setInt("r_skipMirrorMaps", 1);
  manager->renderScene(&view, 0xb);
  EXPECT_EQ(manager->subviewsDrawn(), 0);
  g_conVarSystem->setInt("r_skipMirrorMaps", 0);
}

TEST_F(ViewsGLTest, RefractionKeepsWhatLiesBeyondTheSurface) {
  if (!running())
    return;
  // The glass shows the whole view squeezed onto its texture coordinates: a point at NDC x lands
  // at quad pixel 77 + (1 - x) / 2 x 102. A green box before the glass (NDC 0.6 left, off the
  // glass on the screen) and a red box beyond it (NDC 0.4 left, hidden behind the glass).
  place(quad(material("{\n{\nrefractRenderMap 256 256\n}\n}\n"), 40, 30), Vec3(100, 0, 0));
  place(box(), Vec3(50, 30, 0), colour(0, 1, 0));
  place(box(), Vec3(150, 60, 0), colour(1, 0, 0));
  const RenderView view = camera();
  g_conVarSystem->setInt("r_useMirrorClip", 1);
  manager->renderScene(&view, 0xb);
  g_conVarSystem->setInt("r_useMirrorClip", 0);
  EXPECT_EQ(manager->subviewsDrawn(), 1);
  EXPECT_TRUE(near(at(51, 96), kGreen, 8)) << "the near box itself: " << show(at(51, 96));
  EXPECT_TRUE(near(at(108, 96), kRed, 8)) << "beyond the glass: " << show(at(108, 96));
  EXPECT_TRUE(near(at(97, 96), kBlack, 8)) << "before the glass, cut away: " << show(at(97, 96));
}

TEST_F(ViewsGLTest, RemoteCameraPictureLandsUprightOnItsScreenAndNotInTheWindow) {
  if (!running())
    return;
  // The remote camera, far to the left, looks at a green box above its centre.
  RenderView remote = camera();
  remote.origin = Vec3(0, 1000, 0);
  place(box(), Vec3(40, 1000, 12), colour(0, 1, 0));
  const int screen = place(quad(material("{\n{\nremoteRenderMap 256 192\n}\n}\n"), 40, 30), Vec3(100, 0, 0));
  RenderEntity parms = *manager->getRenderEntity(screen);
  parms.remoteView = &remote;
  manager->updateEntityDef(screen, &parms);

  const RenderView view = camera();
  manager->renderScene(&view, 0xb);
  EXPECT_EQ(manager->subviewsDrawn(), 1) << console.text;
  // The box shows in the upper middle of the screen, the remote clear colour below it.
  EXPECT_TRUE(near(at(128, 81), kGreen, 8)) << show(at(128, 81));
  EXPECT_TRUE(near(at(128, 120), kBlack, 8)) << show(at(128, 120));
  EXPECT_TRUE(near(at(20, 96), kBlue)) << "around the screen";
  // The remote picture never passes through the window: its lower left corner keeps the clear.
  EXPECT_TRUE(near(at(3, kHeight - 4), kBlue)) << show(at(3, kHeight - 4));
}

TEST_F(ViewsGLTest, GlowBrightensAroundABrightSurfaceAndNotFarFromIt) {
  if (!running())
    return;
  // The bloom targets are a quarter of the window, 64 on a side below 256.
  struct Size {
    int window[2];
    int target[2];
  };
  const Size sizes[] = {{{1024, 768}, {256, 192}}, {{400, 300}, {100, 75}}, {{256, 192}, {64, 64}}};
  for (const Size& k : sizes) {
    g_conVarSystem->setInt("r_viewwidth", k.window[0]);
    g_conVarSystem->setInt("r_viewheight", k.window[1]);
    manager->createGlowTargets();
    for (int i = 0; i < 2; i++) {
      ASSERT_NE(manager->bloomTarget(i), nullptr);
      EXPECT_EQ(manager->bloomTarget(i)->targetWidth(), k.target[0]) << k.window[0];
      EXPECT_EQ(manager->bloomTarget(i)->targetHeight(), k.target[1]) << k.window[1];
    }
  }
  place(quad(colour(1, 1, 1), 10, 10), Vec3(100, 0, 0));  // window x 115..141, y 83..109
  const RenderView view = camera();
  const Rgb grey{51, 51, 51};
  struct Probe {
    int x, y;
    bool glows;
  };
  const Probe probes[] = {{150, 96, true}, {128, 75, true}, {106, 96, true}, {20, 20, false}, {230, 170, false}};

  g_conVarSystem->setInt("r_skipBloomFilter", 1);
  clearTo(0.2f, 0.2f, 0.2f);
  manager->renderScene(&view, 0xb);
  for (const Probe& p : probes)
    EXPECT_TRUE(near(at(p.x, p.y), grey)) << "no glow: " << p.x << "," << p.y << " " << show(at(p.x, p.y));
  EXPECT_TRUE(near(at(128, 96), kWhite));

  g_conVarSystem->setInt("r_skipBloomFilter", 0);
  clearTo(0.2f, 0.2f, 0.2f);
  manager->renderScene(&view, 0xb);
  for (const Probe& p : probes) {
    const Rgb c = at(p.x, p.y);
    if (p.glows)
      EXPECT_GT(c.r, grey.r + 15) << p.x << "," << p.y << " " << show(c);
    else
      EXPECT_TRUE(near(c, grey)) << p.x << "," << p.y << " " << show(c);
  }
  EXPECT_TRUE(near(at(128, 96), kWhite));
}

TEST_F(ViewsGLTest, InterfaceOnAModelSurfaceCoversItTheRightWayUp) {
  if (!running())
    return;
  g_renderSystem = manager.get();
  io.addFile("guiWhite.mtx", "guiWhite\n{\ntranslucent\n{\nblend blend\nmap _white\nvertexColor\n}\n}\n");
  io.addFile("script/ui/ui_common.lua", "util = {}\nfunction util.pt(t) end\n");
  // Red desktop with a white band along its top and a green right half below it.
  io.addFile("guis/panel.gui",
             "windowDef desktop\n{\n rect 0, 0, 640, 480\n backcolor 1, 0, 0, 1\n"
             " windowDef band\n {\n  rect 0, 0, 640, 120\n  backcolor 1, 1, 1, 1\n }\n"
             " windowDef right\n {\n  rect 320, 120, 320, 360\n  backcolor 0, 1, 0, 1\n }\n}\n");
  ASSERT_NE(getUserInterfaceManager(), nullptr);
  UserInterface* gui = g_uiSystem->findGui("guis/panel.gui", true, false);
  ASSERT_NE(gui, nullptr) << console.text;
  // The surface itself is black; its material shows the entity's first interface.
  const int index = place(quad(material("guiSurf entity1\n{\nred 0\ngreen 0\nblue 0\n}\n"), 40, 30),
                          Vec3(100, 0, 0));
  RenderEntity parms = *manager->getRenderEntity(index);
  parms.guis[0] = gui;
  manager->updateEntityDef(index, &parms);

  const RenderView view = camera();
  manager->renderScene(&view, 0xb);
  struct Probe {
    int x, y;
    Rgb want;
  };
  // Quad: x 77..179, y 58..134; the band covers its top quarter (y 58..77).
  const Probe probes[] = {{100, 66, kWhite}, {160, 66, kWhite}, {90, 110, kRed},   {120, 125, kRed},
                          {140, 110, kGreen}, {172, 125, kGreen}, {20, 96, kBlue}, {128, 150, kBlue}};
  for (const Probe& p : probes)
    EXPECT_TRUE(near(at(p.x, p.y), p.want, 8)) << p.x << "," << p.y << " " << show(at(p.x, p.y)) << console.text;
}

TEST_F(ViewsGLTest, ModelViewDrawsOneModelIntoItsRectangle) {
  if (!running())
    return;
  // A scene entity that the preview must not draw.
  place(box(), Vec3(64, 0, 20), colour(0, 1, 0));
  BaseModel* model = box();
  RenderEntity parms;
  parms.model = model;
  parms.customMaterial = colour(1, 0, 0);
  parms.origin = Vec3(40, 0, 0);
  for (float& p : parms.shaderParms)
    p = 1.0f;
  // The right half of the screen, cleared to the clear colour first.
  RenderView view = camera();
  view.x = 320;
  view.width = 320;
  view.fovX = 53.13f;
  manager->renderModelView(&view, 0x1b, model, &parms, -1);
  EXPECT_TRUE(near(at(kWidth * 3 / 4, kHeight / 2), kRed)) << show(at(kWidth * 3 / 4, kHeight / 2));
  EXPECT_TRUE(near(at(kWidth / 2 + 4, 4), kBlack)) << "the view's rectangle is cleared";
  EXPECT_TRUE(near(at(kWidth / 4, kHeight / 2), kBlue)) << "outside its rectangle nothing changes";
  // The scene entity above the model is not part of the preview.
  EXPECT_TRUE(near(at(kWidth * 3 / 4, 53), kBlack)) << show(at(kWidth * 3 / 4, 53));
  // The caller's view comes back.
  EXPECT_EQ(manager->currentView().x, 0);
}

}  // namespace
