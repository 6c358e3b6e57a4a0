// The render manager without a GL context: entity and light slot lists, the interface's slot order,
// warnings for bad indexes, light derived data, the 2D colour and the render size.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "lib/interface/convarsystem.h"
#include "lib/interface/rendermodelsystem.h"
#include "render/material/expression.h"
#include "render/model/basemodel.h"
#include "render/scene/rendermanager.h"
#include "system/convarmanager.h"
#include "tests/support/capturecmdsystem.h"
#include "tests/support/memoryiosystem.h"

namespace {

class RenderManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    getConVarManager();
    g_conVarSystem->setInt("r_viewwidth", 800);
    g_conVarSystem->setInt("r_viewheight", 600);
    getRenderModelSystem();
    ASSERT_TRUE(manager.init());
  }
  void TearDown() override {
    manager.unloadMap();
    manager.shutdown();
    destroyRenderModelSystem();
    destroyConVarManager();
    clearExpressions();
  }

  CaptureCmdSystem console;
  RenderManager manager;
};

// Itanium virtual-call pointers hold 1 + the byte offset of the slot; the destructor takes two
// entries (complete and deleting), so interface slot n >= 1 sits at entry n + 1.
template <typename F>
int vtableEntry(F f) {
  static_assert(sizeof(F) == 2 * sizeof(uintptr_t));
  uintptr_t words[2];
  std::memcpy(words, &f, sizeof(words));
  return words[0] & 1 ? int((words[0] - 1) / sizeof(void*)) : -1;
}

TEST(RenderSystemInterface, OperationsSitInTheirSlots) {
  struct Slot {
    int slot;
    int entry;
    const char* name;
  };
  using RS = RenderSystem;
  const Slot slots[] = {
      {1, vtableEntry(&RS::init), "init"},
      {2, vtableEntry(&RS::shutdown), "shutdown"},
      {3, vtableEntry(&RS::reinit), "reinit"},
      {4, vtableEntry(&RS::isFullscreen), "isFullscreen"},
      {5, vtableEntry(&RS::getScreenWidth), "getScreenWidth"},
      {6, vtableEntry(&RS::getScreenHeight), "getScreenHeight"},
      {7, vtableEntry(&RS::registerFont), "registerFont"},
      {8, vtableEntry(&RS::reloadFonts), "reloadFonts"},
      {9, vtableEntry(&RS::drawText640), "drawText640"},
      {10, vtableEntry(&RS::drawString640), "drawString640"},
      {11, vtableEntry(static_cast<void (RS::*)(int, float, float, float, const char*, int)>(&RS::drawText)),
       "drawText"},
      {12, vtableEntry(&RS::setTextClipRect), "setTextClipRect"},
      {13, vtableEntry(&RS::enableTextClip), "enableTextClip"},
      {14, vtableEntry(&RS::getTextClipPlanes), "getTextClipPlanes"},
      {15, vtableEntry(&RS::setTextAlignment), "setTextAlignment"},
      {16, vtableEntry(&RS::getFontHeight), "getFontHeight"},
      {17, vtableEntry(&RS::getTextWidth), "getTextWidth"},
      {18, vtableEntry(&RS::setupView), "setupView"},
      {19, vtableEntry(&RS::endView), "endView"},
      {20, vtableEntry(&RS::onMapLoaded), "onMapLoaded"},
      {21, vtableEntry(&RS::unloadMap), "unloadMap"},
      {22, vtableEntry(&RS::endFrame), "endFrame"},
      {23, vtableEntry(&RS::setColorV), "setColorV"},
      {24, vtableEntry(&RS::setColor), "setColor"},
      {25, vtableEntry(&RS::getColor), "getColor"},
      {26, vtableEntry(&RS::drawStretchImage), "drawStretchImage"},
      {27, vtableEntry(&RS::drawStretchPic), "drawStretchPic"},
      {28, vtableEntry(&RS::drawTriangles2D), "drawTriangles2D"},
      {29, vtableEntry(&RS::drawRectOutline), "drawRectOutline"},
      {30, vtableEntry(&RS::stubBool), "stubBool"},
      {31, vtableEntry(&RS::getMapEntityDict), "getMapEntityDict"},
      {32, vtableEntry(&RS::getNumMapEntities), "getNumMapEntities"},
      {33, vtableEntry(&RS::addEntityDef), "addEntityDef"},
      {34, vtableEntry(&RS::updateEntityDef), "updateEntityDef"},
      {35, vtableEntry(&RS::freeEntityDef), "freeEntityDef"},
      {36, vtableEntry(&RS::getRenderEntity), "getRenderEntity"},
      {37, vtableEntry(&RS::getEntityVertex), "getEntityVertex"},
      {38, vtableEntry(&RS::addLightDef), "addLightDef"},
      {39, vtableEntry(&RS::updateLightDef), "updateLightDef"},
      {40, vtableEntry(&RS::freeLightDef), "freeLightDef"},
      {41, vtableEntry(&RS::getLightDef), "getLightDef"},
      {42, vtableEntry(&RS::getDefaultMaterialName), "getDefaultMaterialName"},
      {43, vtableEntry(&RS::precacheInteractions), "precacheInteractions"},
      {44, vtableEntry(&RS::projectDecal), "projectDecal"},
      {45, vtableEntry(&RS::projectDecalOnEntity), "projectDecalOnEntity"},
      {46, vtableEntry(&RS::addEntityOverlay), "addEntityOverlay"},
      {47, vtableEntry(&RS::removeEntityDecals), "removeEntityDecals"},
      {48, vtableEntry(&RS::setRenderView), "setRenderView"},
      {49, vtableEntry(&RS::stubNotify), "stubNotify"},
      {50, vtableEntry(&RS::renderScene), "renderScene"},
      {51, vtableEntry(&RS::renderModelView), "renderModelView"},
      {52, vtableEntry(&RS::getNumPortals), "getNumPortals"},
      {53, vtableEntry(&RS::findPortal), "findPortal"},
      {54, vtableEntry(&RS::setPortalState), "setPortalState"},
      {55, vtableEntry(&RS::getPortalState), "getPortalState"},
      {56, vtableEntry(&RS::getViewPVS), "getViewPVS"},
      {57, vtableEntry(&RS::getConnectedAreas), "getConnectedAreas"},
      {58, vtableEntry(&RS::areasConnected), "areasConnected"},
      {59, vtableEntry(&RS::getNumAreas), "getNumAreas"},
      {60, vtableEntry(&RS::pointToArea), "pointToArea"},
      {61, vtableEntry(&RS::areasInBounds), "areasInBounds"},
      {62, vtableEntry(&RS::guiTrace), "guiTrace"},
      {63, vtableEntry(&RS::traceEntityModel), "traceEntityModel"},
      {64, vtableEntry(&RS::stubQueryA), "stubQueryA"},
      {65, vtableEntry(&RS::stubQueryB), "stubQueryB"},
      {66, vtableEntry(&RS::clearDebugLines), "clearDebugLines"},
      {67, vtableEntry(&RS::clearDebugPolygons), "clearDebugPolygons"},
      {68, vtableEntry(&RS::debugLine), "debugLine"},
      {69, vtableEntry(&RS::debugArrow), "debugArrow"},
      {70, vtableEntry(&RS::debugBounds), "debugBounds"},
      {71, vtableEntry(&RS::debugTraceModel), "debugTraceModel"},
      {72, vtableEntry(&RS::debugAxis), "debugAxis"},
      {73, vtableEntry(&RS::debugPolygon), "debugPolygon"},
      {74, vtableEntry(&RS::debugText), "debugText"},
      {75, vtableEntry(&RS::setRenderSize), "setRenderSize"},
      {76, vtableEntry(&RS::resetRenderSize), "resetRenderSize"},
      {77, vtableEntry(&RS::getImageData), "getImageData"},
      {78, vtableEntry(&RS::captureRenderToImage), "captureRenderToImage"},
      {79, vtableEntry(&RS::takeScreenshot), "takeScreenshot"},
      {80, vtableEntry(&RS::readPixels), "readPixels"},
  };
  EXPECT_EQ(std::size(slots), 80u);
  for (const Slot& s : slots)
    EXPECT_EQ(s.entry, s.slot + 1) << s.name;
}

TEST_F(RenderManagerTest, SlotListsTakeTheFirstFreeSlotAndFreeingLeavesAHole) {
  // Each step: 'a' adds (expect the index), 'f' frees the index.
  struct Step {
    char op;
    int index;
  };
  const std::vector<Step> steps = {{'a', 0}, {'a', 1}, {'a', 2}, {'f', 1}, {'a', 1}, {'f', 0},
                                   {'f', 2}, {'a', 0}, {'a', 2}, {'a', 3}};
  RenderEntity entity;
  RenderLight light;
  light.radius = Vec3(10, 10, 10);
  for (const Step& s : steps) {
    SCOPED_TRACE(std::string(1, s.op) + std::to_string(s.index));
    if (s.op == 'a') {
      EXPECT_EQ(manager.addEntityDef(&entity), s.index);
      EXPECT_EQ(manager.addLightDef(&light), s.index);
    } else {
      manager.freeEntityDef(s.index);
      manager.freeLightDef(s.index);
      EXPECT_EQ(manager.getRenderEntity(s.index), nullptr);
      EXPECT_EQ(manager.getLightDef(s.index), nullptr);
    }
  }
  EXPECT_EQ(manager.numEntitySlots(), 4);
  EXPECT_EQ(manager.numLightSlots(), 4);
  EXPECT_EQ(console.text.find("RenderManager::"), std::string::npos) << console.text;
}

TEST_F(RenderManagerTest, BadIndexesAreIgnoredWithAWarning) {
  RenderEntity entity;
  RenderLight light;
  ASSERT_EQ(manager.addEntityDef(&entity), 0);
  ASSERT_EQ(manager.addLightDef(&light), 0);
  manager.freeEntityDef(0);
  for (int index : {-1, 0, 1, 1000}) {
    SCOPED_TRACE(index);
    console.text.clear();
    manager.updateEntityDef(index, &entity);
    manager.freeEntityDef(index);
    EXPECT_EQ(manager.getRenderEntity(index), nullptr);
    Vec3 p, n;
    EXPECT_FALSE(manager.getEntityVertex(index, &p, &n, 0));
    EXPECT_NE(console.text.find("WARNING: RenderManager::updateEntityDef: no entity"), std::string::npos);
    EXPECT_NE(console.text.find("WARNING: RenderManager::freeEntityDef: no entity"), std::string::npos);
  }
  for (int index : {-1, 1, 99}) {
    console.text.clear();
    manager.updateLightDef(index, &light);
    manager.freeLightDef(index);
    EXPECT_EQ(manager.getLightDef(index), nullptr);
    EXPECT_NE(console.text.find("WARNING: RenderManager::updateLightDef: no light"), std::string::npos);
  }
  EXPECT_NE(manager.getLightDef(0), nullptr);
}

TEST_F(RenderManagerTest, EntityVertexComesFromTheInstanceAndFailsWithoutVertices) {
  BaseModel model;
  model.init("box");
  model.makeDefault();
  RenderEntity entity;
  entity.model = &model;
  entity.origin = Vec3(100, 0, 0);
  const int index = manager.addEntityDef(&entity);
  Vec3 p, n;
  ASSERT_TRUE(manager.getEntityVertex(index, &p, &n, 0));
  // The default box is 16 units wide around its origin: the instance is placed at the entity.
  EXPECT_GE(p.x, 100.0f - 8.5f);
  EXPECT_LE(p.x, 100.0f + 8.5f);
  // Out-of-range vertex numbers pick one of the surface's vertices.
  ASSERT_TRUE(manager.getEntityVertex(index, &p, &n, 1 << 20));
  EXPECT_GE(p.x, 91.0f);

  RenderEntity none;
  const int empty = manager.addEntityDef(&none);
  EXPECT_FALSE(manager.getEntityVertex(empty, &p, &n, 0));
  // An update without a model drops the instance and is no error.
  manager.updateEntityDef(index, &none);
  EXPECT_FALSE(manager.getEntityVertex(index, &p, &n, 0));
}

TEST_F(RenderManagerTest, LightDerivedDataAndDirtyOnAnyGeometricChange) {
  RenderLight light;
  light.origin = Vec3(10, 20, 30);
  light.radius = Vec3(5, 6, 7);
  light.flags = kLightShadows | kLightSpecular;
  const int index = manager.addLightDef(&light);
  RenderManager::LightRecord* record = manager.lightRecord(index);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->parms.bounds.mins, Vec3(5, 14, 23));
  EXPECT_EQ(record->parms.bounds.maxs, Vec3(15, 26, 37));
  // The origin lies inside all six outward planes.
  for (const Plane& p : record->parms.planes)
    EXPECT_LT(p.distance(light.origin), 0.0f);
  EXPECT_TRUE(record->state & RenderManager::kLightDirty);

  struct Change {
    const char* what;
    void (*apply)(RenderLight&);
    bool dirty;
  };
  const Change changes[] = {
      {"colour only", [](RenderLight& l) { l.shaderParms[0] = 0.5f; }, false},
      {"origin", [](RenderLight& l) { l.origin.x += 1; }, true},
      {"centre", [](RenderLight& l) { l.center.y = 2; }, true},
      {"radius", [](RenderLight& l) { l.radius.z = 9; }, true},
      {"shape", [](RenderLight& l) { l.shape = 1; }, true},
      {"axis", [](RenderLight& l) { l.axis = Mat3(Vec3(0, 1, 0), Vec3(-1, 0, 0), Vec3(0, 0, 1)); }, true},
  };
  for (const Change& c : changes) {
    SCOPED_TRACE(c.what);
    record->state = 0;
    RenderLight next = record->parms;
    c.apply(next);
    manager.updateLightDef(index, &next);
    EXPECT_EQ((record->state & RenderManager::kLightDirty) != 0, c.dirty);
  }
  // Ambient lights lose shadows and specular.
  light.flags = kLightAmbient | kLightShadows | kLightSpecular;
  const int ambient = manager.addLightDef(&light);
  EXPECT_EQ(manager.getLightDef(ambient)->flags, kLightAmbient);
}

// A cone light keeps the frustum of its cone: points in the cone are inside every plane, the box's
// corners beside the cone's tip are outside one, and the far end spans radius.x by radius.y.
TEST_F(RenderManagerTest, ConeLightPlanesAreItsFrustumNotItsBox) {
  RenderLight light;
  light.shape = 4;
  light.origin = Vec3(0, 0, 100);
  light.radius = Vec3(20, 10, 80);  // down -z: 80 long, 40 x 20 at the far end
  const int index = manager.addLightDef(&light);
  const RenderLight* l = manager.getLightDef(index);
  ASSERT_NE(l, nullptr);
  EXPECT_EQ(l->bounds.mins, Vec3(-20, -10, 20));
  EXPECT_EQ(l->bounds.maxs, Vec3(20, 10, 100));
  auto inside = [&](const Vec3& p) {
    for (const Plane& plane : l->planes)
      if (plane.distance(p) > 0.01f)
        return false;
    return true;
  };
  struct Case {
    Vec3 point;
    bool in;
  };
  const Case cases[] = {
      {Vec3(0, 0, 60), true},        // on the axis, half way
      {Vec3(19, 9, 21), true},       // near the far corner
      {Vec3(9, 0, 60), true},        // half way, within half the far width
      {Vec3(19, 9, 98), false},      // a corner of the box beside the tip
      {Vec3(15, 0, 60), false},      // half way, beyond half the far width
      {Vec3(0, 0, 10), false},       // past the far end
      {Vec3(0, 0, 99.5f), false},    // before the near plane at 1
  };
  for (const Case& c : cases)
    EXPECT_EQ(inside(c.point), c.in) << c.point.x << " " << c.point.y << " " << c.point.z;
  // A mirrored axis (x and y swapped) still bounds the cone from outside.
  light.radius = Vec3(10, 20, 80);
  light.axis = Mat3(Vec3(0, 1, 0), Vec3(1, 0, 0), Vec3(0, 0, 1));
  manager.updateLightDef(index, &light);
  for (const Case& c : cases)
    EXPECT_EQ(inside(c.point), c.in) << "mirrored " << c.point.x << " " << c.point.y << " " << c.point.z;
}

TEST_F(RenderManagerTest, DefaultLightMaterialNames) {
  struct Case {
    int kind, shape;
    const char* name;
  };
  const Case cases[] = {{1, 1, "lights/defaultPointLight"},     {1, 2, "lights/defaultBoxLight"},
                        {1, 3, "lights/defaultCylinderLight"},  {1, 4, "lights/defaultProjectedLight"},
                        {2, 1, "fogs/basicFog"},                {2, 7, "fogs/basicFog"},
                        {1, 0, nullptr},                        {3, 1, nullptr}};
  for (const Case& c : cases) {
    const char* got = manager.getDefaultMaterialName(c.kind, c.shape);
    if (c.name)
      EXPECT_STREQ(got, c.name) << c.kind << "," << c.shape;
    else
      EXPECT_EQ(got, nullptr) << c.kind << "," << c.shape;
  }
}

TEST_F(RenderManagerTest, ColourIsClampedAndRenderSizeScalesFromTheVirtualScreen) {
  manager.setColor(2.0f, -1.0f, 0.5f, 1.0f);
  float c[4];
  manager.getColor(c);
  EXPECT_EQ(c[0], 1.0f);
  EXPECT_EQ(c[1], 0.0f);
  EXPECT_EQ(c[2], 0.5f);
  EXPECT_EQ(c[3], 1.0f);
  manager.setColor(std::nanf(""), 0.25f, 0.25f, 0.25f);
  manager.getColor(c);
  EXPECT_EQ(c[0], 0.0f);

  struct Case {
    int w, h;
    bool pow2, pixels;
    int wantW, wantH;
  };
  const Case cases[] = {{320, 240, false, false, 400, 300}, {320, 240, true, false, 256, 256},
                        {600, 480, true, true, 512, 256},   {1, 1, true, true, 1, 1},
                        {0, 0, true, true, 1, 1},           {640, 480, false, false, 800, 600}};
  for (const Case& k : cases) {
    manager.setRenderSize(k.w, k.h, k.pow2, k.pixels);
    EXPECT_EQ(manager.renderWidth(), k.wantW) << k.w << "x" << k.h;
    EXPECT_EQ(manager.renderHeight(), k.wantH) << k.w << "x" << k.h;
  }
  // A window size of 0 counts as 1.
  g_conVarSystem->setInt("r_viewwidth", 0);
  manager.resetRenderSize();
  EXPECT_EQ(manager.renderWidth(), 1);
  EXPECT_EQ(manager.renderHeight(), 600);
}

TEST_F(RenderManagerTest, LaterSubsystemOperationsWarnOnceAndFail) {
  EXPECT_EQ(manager.registerFont("fonts"), -1) << "no font files in this fixture";
  EXPECT_NE(console.text.find("WARNING: failed to load default internal font"), std::string::npos)
      << "init reports the missing default font";
  // A model view without a model (or without a device) draws nothing and says nothing.
  RenderView view;
  manager.renderModelView(&view, 0, nullptr, nullptr, 0);
  EXPECT_FALSE(manager.takeScreenshot("x.tga")) << "no device to read from";
  EXPECT_EQ(console.text.find("renderModelView"), std::string::npos) << console.text;
  // getImageData with a negative size or no buffer copies nothing.
  char buffer[4] = {'x', 'x', 'x', 'x'};
  int w = -5, h = -5, bpp = -5;
  EXPECT_FALSE(manager.getImageData("_white", buffer, -1, &w, &h, &bpp));
  EXPECT_FALSE(manager.getImageData("_white", nullptr, 4, &w, &h, &bpp));
  EXPECT_EQ(buffer[0], 'x');
}

TEST_F(RenderManagerTest, ImageDataCopiesWhatFitsAndAnswersWhetherAllDid) {
  MemoryIOSystem io;
  // A 2 x 2 uncompressed 24-bit TGA (pixels blue, green, red).
  std::string tga(18, '\0');
  tga[2] = 2;
  tga[12] = 2;
  tga[14] = 2;
  tga[16] = 24;
  tga += std::string("\x10\x20\x30\x40\x50\x60\x70\x80\x90\xa0\xb0\xc0", 12);
  io.addFile("textures/tiny.tga", tga);
  int w = 0, h = 0, bpp = 0;
  std::vector<uint8_t> buffer(64, 0xee);
  ASSERT_TRUE(manager.getImageData("textures/tiny", buffer.data(), 64, &w, &h, &bpp));
  EXPECT_EQ(w, 2);
  EXPECT_EQ(h, 2);
  const int size = w * h * bpp / 8;
  ASSERT_GT(size, 0);
  EXPECT_NE(buffer[0], 0xee);
  EXPECT_EQ(buffer[size], 0xee) << "wrote past the image's data";

  // One byte short: all but the last byte, and false.
  std::vector<uint8_t> full(buffer.begin(), buffer.begin() + size);
  std::vector<uint8_t> shortBuffer(size_t(size), 0xee);
  EXPECT_FALSE(manager.getImageData("textures/tiny.tga", shortBuffer.data(), size - 1, &w, &h, &bpp));
  EXPECT_TRUE(std::equal(full.begin(), full.end() - 1, shortBuffer.begin()));
  EXPECT_EQ(shortBuffer[size_t(size - 1)], 0xee);

  EXPECT_FALSE(manager.getImageData("textures/missing", buffer.data(), 64, &w, &h, &bpp));
}

TEST_F(RenderManagerTest, ShutdownAndInitKeepEntitiesAndLights) {
  BaseModel model;
  model.init("box");
  model.makeDefault();
  RenderEntity entity;
  entity.model = &model;
  RenderLight light;
  const int e = manager.addEntityDef(&entity);
  const int l = manager.addLightDef(&light);
  manager.shutdown();
  EXPECT_EQ(manager.entityRecord(e)->instanceModel, nullptr);
  ASSERT_TRUE(manager.init());
  ASSERT_NE(manager.entityRecord(e), nullptr);
  EXPECT_NE(manager.entityRecord(e)->instanceModel, nullptr);
  EXPECT_EQ(manager.entityRecord(e)->dirtyCount, 1);
  EXPECT_NE(manager.getLightDef(l), nullptr);
  EXPECT_TRUE(manager.lightRecord(l)->state & RenderManager::kLightDirty);
}

}  // namespace

namespace {

TEST(RenderSystemLifeCycle, GetterPublishesOneManagerAndDestroyIsSafeTwice) {
  CaptureCmdSystem console;
  getConVarManager();
  RenderManager* first = getRenderSystem();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(g_renderSystem, first);
  EXPECT_NE(g_renderModelSystem, nullptr) << "the model manager comes first";
  EXPECT_EQ(getRenderSystem(), first);
  EXPECT_TRUE(console.commands.count("screenshotPrintQuality"));
  first->shutdown();
  first->shutdown();
  destroyRenderSystem();
  EXPECT_EQ(g_renderSystem, nullptr);
  EXPECT_EQ(g_renderModelSystem, nullptr);
  destroyRenderSystem();
  EXPECT_EQ(g_renderSystem, nullptr);
  destroyConVarManager();
  clearExpressions();
}

}  // namespace
