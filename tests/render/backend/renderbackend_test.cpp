// The back end's device-call sequences through a recording device: every state operation, mirrored
// culling, the depth-function override, view set-up (viewport, zNear, frustum planes, tiles) and the
// stage binder for stages written in the material language.
#include <algorithm>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "lib/fastmath.h"
#include "lib/interface/convarsystem.h"
#include "lib/interface/renderentity.h"
#include "lib/interface/texmanager.h"
#include "lib/keydict.h"
#include "render/backend/renderbackend.h"
#include "render/material/expression.h"
#include "render/material/material.h"
#include "support/recordingdevice.h"
#include "system/convarmanager.h"
#include "tests/support/capturecmdsystem.h"

namespace {

using Calls = std::vector<std::string>;

class BackEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_renderInterface = &device;
    g_renderBackEnd.reset();
    g_renderBackEnd.setViewport(0, 0, 800, 600);
    g_renderBackEnd.setRenderSize(800, 600);
    g_renderBackEnd.setViewFlags(0);
    device.take();
  }
  void TearDown() override {
    g_renderBackEnd.reset();
    g_renderInterface = nullptr;
    clearExpressions();
  }

  RecordingDevice device;
  CaptureCmdSystem cmd;
};

std::string join(const Calls& calls) {
  std::string out;
  for (const std::string& c : calls) {
    out += c;
    out += "\n";
  }
  return out;
}

// ---------------------------------------------------------------- state operations

struct StateCase {
  const char* name;
  std::function<void()> op;
  Calls expected;
};

TEST_F(BackEndTest, StateOperationsIssueExactlyTheirDeviceCalls) {
  const std::vector<StateCase> cases = {
      {"clear colour and depth",
       [] { g_renderBackEnd.clear(true, true); },
       {"setColorMask(1,1,1,1)", "setDepthMask(1)", "clear(3)"}},
      {"clear depth only",
       [] { g_renderBackEnd.clear(false, true); },
       {"setColorMask(1,1,1,1)", "setDepthMask(1)", "clear(2)"}},
      {"stencil for a shadowed pass",
       [] { g_renderBackEnd.setStencilForPass(true); },
       {"setStencilFunc(3,128,255)", "setStencilMask(0)"}},
      {"stencil for an unshadowed pass",
       [] { g_renderBackEnd.setStencilForPass(false); },
       {"setStencilFunc(8,128,255)", "setStencilMask(255)"}},
      {"depth function", [] { g_renderBackEnd.setDepthFunc(kCompareEqual); }, {"setDepthFunc(3)"}},
      {"cull none", [] { g_renderBackEnd.setCullMode(kCullNone); }, {"setCullMode(0)"}},
      {"cull front", [] { g_renderBackEnd.setCullMode(kCullFront); }, {"setCullMode(1)"}},
      {"viewport within the render size",
       [] {
         g_renderBackEnd.setViewport(10, 20, 300, 200);
         g_renderBackEnd.applyViewport();
       },
       {"setViewport(10,20,300,200)", "setScissor(10,20,300,200)"}},
      {"viewport clamped to the render size",
       [] {
         g_renderBackEnd.setRenderSize(256, 128);
         g_renderBackEnd.setViewport(0, 0, 800, 600);
         g_renderBackEnd.applyViewport();
       },
       {"setViewport(0,0,256,128)", "setScissor(0,0,256,128)"}},
      {"matrices",
       [] { g_renderBackEnd.setMatrices(Mat4::identity(), Mat4::identity()); },
       {"setMatrixMode(1)", "pushMatrix()", "loadMatrix(I)", "setMatrixMode(0)", "pushMatrix()",
        "loadMatrix(I)"}},
      {"pop both matrices",
       [] { g_renderBackEnd.popMatrices(true, true); },
       {"setMatrixMode(1)", "popMatrix()", "setMatrixMode(0)", "popMatrix()"}},
      {"pop the model-view only",
       [] { g_renderBackEnd.popMatrices(true, false); },
       {"setMatrixMode(0)", "popMatrix()"}},
      {"push model-view",
       [] { g_renderBackEnd.pushModelViewMatrix(Mat4::identity()); },
       {"setMatrixMode(0)", "pushMatrix()", "loadMatrix(I)"}},
      {"draw with matrix",
       [] { g_renderBackEnd.drawWithMatrix(Mat4::identity()); },
       {"setMatrixMode(0)", "pushMatrix()", "loadMatrix(I)"}},
      {"pop view matrices",
       [] { g_renderBackEnd.popViewMatrices(); },
       {"setMatrixMode(1)", "popMatrix()", "setMatrixMode(0)", "popMatrix()"}},
      {"load texture matrix",
       [] { g_renderBackEnd.loadTextureMatrix(2, Mat4::identity()); },
       {"selectTextureUnit(2)", "setMatrixMode(2)", "pushMatrix()", "loadMatrix(I)", "setMatrixMode(0)"}},
      {"restore texture matrix",
       [] { g_renderBackEnd.restoreTextureMatrix(1); },
       {"selectTextureUnit(1)", "setMatrixMode(2)", "popMatrix()", "setMatrixMode(0)"}},
      {"pass set-up",
       [] { g_renderBackEnd.setupPass(); },
       {"resetTextureUnits()", "shader.unbindAll()", "setColorMask(1,1,1,1)", "setBlendFunc(2,1)",
        "setAlphaFunc(8,0)", "setDepthFunc(4)", "setDepthMask(1)", "setMatrixMode(0)"}},
      {"shadow pass clearing the stencil",
       [] { g_renderBackEnd.beginShadowPass(true); },
       {"resetTextureUnits()", "shader.unbindAll()", "setColorMask(1,1,1,1)", "setBlendFunc(2,1)",
        "setAlphaFunc(8,0)", "setDepthFunc(4)", "setDepthMask(1)", "setMatrixMode(0)", "disableClipPlane(0)",
        "shader.bind(8)", "setClearStencil(128)", "setStencilFunc(8,128,255)", "setStencilMask(255)",
        "clear(4)", "setPolygonOffset(0,1,2)", "setDepthFunc(2)", "setColorMask(0,0,0,0)",
        "setDepthMask(0)"}},
      {"unshadowed pass without clearing",
       [] { g_renderBackEnd.beginUnshadowedPass(false); },
       {"resetTextureUnits()", "shader.unbindAll()", "setColorMask(1,1,1,1)", "setBlendFunc(2,1)",
        "setAlphaFunc(8,0)", "setDepthFunc(4)", "setDepthMask(1)", "setMatrixMode(0)", "shader.unbindAll()",
        "setClearStencil(128)", "setDepthFunc(4)", "setStencilFunc(3,128,255)", "setStencilMask(0)",
        "setPolygonOffset(0,0,2)", "setColorMask(1,1,1,1)", "setDepthMask(1)", "setCullMode(2)"}},
      {"unshadowed pass clearing the stencil",
       [] { g_renderBackEnd.beginUnshadowedPass(true); },
       {"resetTextureUnits()",
        "shader.unbindAll()",
        "setColorMask(1,1,1,1)",
        "setBlendFunc(2,1)",
        "setAlphaFunc(8,0)",
        "setDepthFunc(4)",
        "setDepthMask(1)",
        "setMatrixMode(0)",
        "shader.unbindAll()",
        "setClearStencil(128)",
        "setStencilFunc(8,128,255)",
        "setStencilMask(255)",
        "clear(4)",
        "setDepthFunc(4)",
        "setStencilFunc(3,128,255)",
        "setStencilMask(0)",
        "setPolygonOffset(0,0,2)",
        "setColorMask(1,1,1,1)",
        "setDepthMask(1)",
        "setCullMode(2)"}},
      {"end of a shadow pass",
       [] { g_renderBackEnd.endShadowPass(); },
       {"setPolygonOffset(0,0,2)", "setDepthMask(1)", "setDepthFunc(4)", "shader.unbindAll()",
        "setStencilFunc(3,128,255)", "setStencilMask(0)", "setColorMask(1,1,1,1)", "setCullMode(2)"}},
      {"default stencil state",
       [] { g_renderBackEnd.setDefaultStencilState(); },
       {"setClearStencil(128)", "setStencilFunc(8,128,255)", "setStencilOp(1,1,1)", "setStencilMask(255)"}},
      {"depth and cull for 2D",
       [] { g_renderBackEnd.setDepthAndCull(0, 0); },
       {"setDepthFunc(8)", "setCullMode(0)"}},
      {"depth and cull restored",
       [] { g_renderBackEnd.setDepthAndCull(1, 1); },
       {"setDepthFunc(4)", "setCullMode(2)"}},
  };
  for (const StateCase& c : cases) {
    SCOPED_TRACE(c.name);
    g_renderBackEnd.reset();
    g_renderBackEnd.setViewport(0, 0, 800, 600);
    g_renderBackEnd.setRenderSize(800, 600);
    device.take();
    c.op();
    EXPECT_EQ(join(device.take()), join(c.expected));
  }
}

TEST_F(BackEndTest, ShadowPassSavesClipPlaneZeroAndItsEndRestoresIt) {
  const Plane plane(Vec3(1.0f, 0.0f, 0.0f), 4.0f);
  g_renderBackEnd.setClipPlane0(&plane);
  g_renderBackEnd.beginShadowPass(false);
  EXPECT_TRUE(g_renderBackEnd.clipPlaneSaved());
  EXPECT_FALSE(g_renderBackEnd.clipPlane0Enabled());
  device.take();
  g_renderBackEnd.endShadowPass();
  const Calls calls = device.take();
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.front(), "enableClipPlane(0)");
  EXPECT_TRUE(g_renderBackEnd.clipPlane0Enabled());
  // Without a saved plane the end of the pass leaves clip planes alone.
  g_renderBackEnd.setClipPlane0(nullptr);
  g_renderBackEnd.beginShadowPass(false);
  device.take();
  g_renderBackEnd.endShadowPass();
  EXPECT_EQ(device.take().front(), "setPolygonOffset(0,0,2)");
}

TEST_F(BackEndTest, MirroredViewSwapsFrontAndBackInEveryCullingOperation) {
  g_renderBackEnd.setMirrored(true);
  struct Case {
    const char* name;
    std::function<void()> op;
    const char* expectedCull;
  };
  const std::vector<Case> cases = {
      {"setCullMode back", [] { g_renderBackEnd.setCullMode(kCullBack); }, "setCullMode(1)"},
      {"setCullMode front", [] { g_renderBackEnd.setCullMode(kCullFront); }, "setCullMode(2)"},
      {"setCullMode none", [] { g_renderBackEnd.setCullMode(kCullNone); }, "setCullMode(0)"},
      {"unshadowed pass", [] { g_renderBackEnd.beginUnshadowedPass(false); }, "setCullMode(1)"},
      {"end of a shadow pass", [] { g_renderBackEnd.endShadowPass(); }, "setCullMode(1)"},
      {"2D restore", [] { g_renderBackEnd.setDepthAndCull(1, 1); }, "setCullMode(1)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    device.take();
    c.op();
    const Calls calls = device.take();
    int culls = 0;
    for (const std::string& s : calls) {
      if (s.rfind("setCullMode", 0) == 0) {
        EXPECT_EQ(s, c.expectedCull);
        ++culls;
      }
    }
    EXPECT_EQ(culls, 1);
  }
}

TEST_F(BackEndTest, DepthFunctionOverrideIsForcedOnEveryDepthFunctionCall) {
  g_renderBackEnd.setDepthFuncOverride(kCompareAlways);
  const std::vector<std::function<void()>> ops = {
      [] { g_renderBackEnd.setDepthFunc(kCompareLess); },
      [] { g_renderBackEnd.setupPass(); },
      [] { g_renderBackEnd.beginShadowPass(false); },
      [] { g_renderBackEnd.beginUnshadowedPass(true); },
      [] { g_renderBackEnd.endShadowPass(); },
      [] { g_renderBackEnd.setDepthAndCull(1, 1); },
  };
  for (size_t i = 0; i < ops.size(); ++i) {
    SCOPED_TRACE(i);
    device.take();
    ops[i]();
    int depthCalls = 0;
    for (const std::string& s : device.take()) {
      if (s.rfind("setDepthFunc", 0) == 0) {
        EXPECT_EQ(s, "setDepthFunc(8)");
        ++depthCalls;
      }
    }
    EXPECT_GE(depthCalls, 1);
  }
}

TEST_F(BackEndTest, ResetRestoresTheDocumentedDefaults) {
  g_renderBackEnd.setColorModulation(0.5f, 0.5f, 0.5f, 0.5f);
  g_renderBackEnd.setDepthFuncOverride(kCompareEqual);
  g_renderBackEnd.setMirrored(true);
  g_renderBackEnd.setPassMode(kPassMode2D);
  RenderView view;
  view.time = 1234;
  g_renderBackEnd.setView(&view);
  g_renderBackEnd.reset();
  EXPECT_EQ(g_renderBackEnd.colorModulation()[0], 1.0f);
  EXPECT_EQ(g_renderBackEnd.colorModulation()[3], 1.0f);
  EXPECT_EQ(g_renderBackEnd.depthFuncOverride(), 0);
  EXPECT_FALSE(g_renderBackEnd.isMirrored());
  EXPECT_EQ(g_renderBackEnd.passMode(), 0);
  EXPECT_FALSE(g_renderBackEnd.hasView());
  EXPECT_EQ(g_renderBackEnd.getView()->time, 0);
  EXPECT_EQ(g_renderBackEnd.renderWidth(), 9999);
  EXPECT_EQ(g_renderBackEnd.renderHeight(), 9999);
  EXPECT_TRUE(device.take().empty()) << "reset issues no device calls";
}

TEST_F(BackEndTest, Ortho2DMapsTheVirtualScreenCornersToClipSpace) {
  g_renderBackEnd.setOrtho2D(640.0f, 480.0f);
  const Mat4 ortho = Mat4::ortho(0.0f, 640.0f, 480.0f, 0.0f, -1.0f, 1.0f);
  const Vec3 topLeft = ortho.transformPoint(Vec3(0.0f, 0.0f, 0.0f));
  const Vec3 bottomRight = ortho.transformPoint(Vec3(640.0f, 480.0f, 0.0f));
  EXPECT_FLOAT_EQ(topLeft.x, -1.0f);
  EXPECT_FLOAT_EQ(topLeft.y, 1.0f);
  EXPECT_FLOAT_EQ(bottomRight.x, 1.0f);
  EXPECT_FLOAT_EQ(bottomRight.y, -1.0f);
  const Calls calls = device.take();
  ASSERT_EQ(calls.size(), 6u);
  EXPECT_EQ(calls[5], "loadMatrix(I)") << "model-view is the identity";
  EXPECT_NE(calls[2], "loadMatrix(I)");
}

// ---------------------------------------------------------------- view set-up

RenderView makeView(int x, int y, int w, int h) {
  RenderView view;
  view.x = x;
  view.y = y;
  view.width = w;
  view.height = h;
  view.fovX = 90.0f;
  view.fovY = 73.74f;
  return view;
}

TEST_F(BackEndTest, ViewRectangleBecomesAPixelViewportWithTheOriginBottomLeft) {
  struct Case {
    int x, y, w, h;
    int expected[4];
  };
  const Case cases[] = {
      {0, 0, 640, 480, {0, 0, 800, 600}},
      {0, 0, 320, 240, {0, 300, 400, 300}},      // top-left quarter: y counts from the bottom
      {320, 240, 320, 240, {400, 0, 400, 300}},  // bottom-right quarter
      {0, 0, 0, 0, {0, 598, 2, 2}},              // zero size: at least one unit, never 0 pixels
      {-50, -10, 640, 480, {0, 0, 800, 600}},    // negative positions clamp to 0
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.x << "," << c.y << "," << c.w << "," << c.h);
    const RenderView view = makeView(c.x, c.y, c.w, c.h);
    g_renderBackEnd.setView(&view);
    g_renderBackEnd.applyViewMatrices();
    int vp[4];
    g_renderBackEnd.getViewport(vp);
    EXPECT_EQ(vp[0], c.expected[0]);
    EXPECT_EQ(vp[1], c.expected[1]);
    EXPECT_EQ(vp[2], c.expected[2]);
    EXPECT_EQ(vp[3], c.expected[3]);
    EXPECT_GE(vp[2], 1);
    EXPECT_GE(vp[3], 1);
  }
}

TEST_F(BackEndTest, NearPlaneBelowTheMinimumIsRaisedAndTheVariableRewritten) {
  KeyDict::initPools();
  getConVarManager();
  g_conVarSystem->setString("r_zNear", "0");
  const RenderView view = makeView(0, 0, 640, 480);
  g_renderBackEnd.setView(&view);
  g_renderBackEnd.applyViewMatrices();
  EXPECT_FLOAT_EQ(g_renderBackEnd.viewState().zNear, 0.001f);
  EXPECT_STREQ(g_conVarSystem->getString("r_zNear"), "0.001");
  destroyConVarManager();
  KeyDict::shutdownPools();
}

TEST_F(BackEndTest, FrustumPlanesKeepVisiblePointsInsideAndMirrorNegatesThem) {
  RenderView view = makeView(0, 0, 640, 480);
  view.origin = Vec3(100.0f, 50.0f, 10.0f);
  g_renderBackEnd.setView(&view);
  g_renderBackEnd.applyViewMatrices();
  const BackEndViewState state = g_renderBackEnd.viewState();
  const Vec3 ahead = view.origin + Vec3(200.0f, 0.0f, 0.0f);
  const Vec3 behind = view.origin - Vec3(200.0f, 0.0f, 0.0f);
  const Vec3 farLeft = view.origin + Vec3(10.0f, 500.0f, 0.0f);  // 88 degrees to the left
  for (int i = 0; i < 6; ++i) {
    EXPECT_LT(state.frustum[i].distance(ahead), 0.0f) << "plane " << i;
  }
  EXPECT_GT(state.frustum[0].distance(behind), 0.0f) << "behind the near plane";
  EXPECT_GT(state.frustum[3].distance(farLeft), 0.0f) << "outside the left plane";
  EXPECT_GT(state.frustum[5].distance(view.origin + Vec3(70000.0f, 0.0f, 0.0f)), 0.0f) << "beyond 64000";

  g_renderBackEnd.setMirrored(true);
  g_renderBackEnd.applyViewMatrices();
  for (int i = 0; i < 6; ++i) {
    const Plane& p = g_renderBackEnd.viewState().frustum[i];
    EXPECT_EQ(p, -state.frustum[i]) << "plane " << i;
  }
}

TEST_F(BackEndTest, ModelViewTurnsTheViewForwardIntoDeviceMinusZ) {
  RenderView view = makeView(0, 0, 640, 480);
  view.origin = Vec3(5.0f, 6.0f, 7.0f);
  g_renderBackEnd.setView(&view);
  g_renderBackEnd.applyViewMatrices();
  const Mat4& mv = g_renderBackEnd.viewState().modelView;
  const Vec3 ahead = mv.transformPoint(view.origin + Vec3(10.0f, 0.0f, 0.0f));
  EXPECT_NEAR(ahead.x, 0.0f, 1e-4f);
  EXPECT_NEAR(ahead.y, 0.0f, 1e-4f);
  EXPECT_NEAR(ahead.z, -10.0f, 1e-4f);
  const Vec3 left = mv.transformPoint(view.origin + Vec3(0.0f, 3.0f, 0.0f));
  EXPECT_NEAR(left.x, -3.0f, 1e-4f);
  const Vec3 up = mv.transformPoint(view.origin + Vec3(0.0f, 0.0f, 2.0f));
  EXPECT_NEAR(up.y, 2.0f, 1e-4f);
}

TEST_F(BackEndTest, TiledProjectionCoversItsPartOfTheWholeFrustum) {
  RenderView view = makeView(0, 0, 640, 480);
  g_renderBackEnd.setView(&view);
  g_renderBackEnd.applyViewMatrices();
  const Mat4 whole = g_renderBackEnd.viewState().projection;
  // Two tiles side by side: a point at the centre of the right half of the whole view lands at the
  // centre of the right tile.
  RenderViewTile tile{1, 0, 512, 512, 1024, 512};
  view.tile = &tile;
  g_renderBackEnd.setView(&view);
  g_renderBackEnd.applyViewMatrices();
  const Mat4 right = g_renderBackEnd.viewState().projection;
  const float zNear = g_renderBackEnd.viewState().zNear;
  const float s = std::tan(45.0f * kDegToRad) * zNear;
  const Vec3 eyePoint(s * 0.5f, 0.0f, -zNear);  // half-way right on the near plane
  const float wholeX = whole.m[0] * eyePoint.x + whole.m[8] * eyePoint.z;
  const float tileX = right.m[0] * eyePoint.x + right.m[8] * eyePoint.z;
  const float w = -eyePoint.z;
  EXPECT_NEAR(wholeX / w, 0.5f, 1e-4f);
  EXPECT_NEAR(tileX / w, 0.0f, 1e-4f);
}

TEST_F(BackEndTest, LightClipBitsAndFieldOfViewFromExtents) {
  RenderView view = makeView(0, 0, 640, 480);
  view.origin = Vec3(10.0f, 20.0f, 30.0f);
  g_renderBackEnd.setView(&view);
  struct Case {
    Vec3 light;
    int bits;
  };
  // Per axis: 0 equal, 3 within r_zNear + 1 (3 + 1), 1 beyond on the positive side, 2 negative.
  const Case cases[] = {
      {Vec3(10.0f, 20.0f, 30.0f), 0},
      {Vec3(14.0f, 20.0f, 30.0f), 3},
      {Vec3(14.5f, 20.0f, 30.0f), 1},
      {Vec3(10.0f, 10.0f, 30.0f), 2 << 2},
      {Vec3(10.0f, 21.0f, 50.0f), (3 << 2) | (1 << 4)},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(g_renderBackEnd.lightClipBits(c.light), c.bits)
        << c.light.x << "," << c.light.y << "," << c.light.z;
  }
  EXPECT_NEAR(fovFromExtents(1.0f, 1.0f), 90.0f, 1e-4f);
  EXPECT_NEAR(fovFromExtents(50.0f, 200.0f), 28.0725f, 1e-3f);
}

// ---------------------------------------------------------------- surfaces and stages

// A texture image whose binding is recorded; bind fails when asked to.
class FakeImage : public ImageInterface {
 public:
  FakeImage(std::vector<std::string>* log, const char* n, bool ok) : log_(log), ok_(ok) {
    std::snprintf(name, sizeof(name), "%s", n);
  }
  bool bind() override {
    log_->push_back(std::string("bindImage(") + name + ")");
    return ok_;
  }

 private:
  std::vector<std::string>* log_;
  bool ok_;
};

class StageTest : public BackEndTest {
 protected:
  // Parses a material body (images are not loaded: no texture manager).
  void parse(const char* body) {
    material = std::make_unique<Material>();
    ASSERT_TRUE(material->parse(body, static_cast<int>(std::strlen(body)))) << body;
  }
  // The material's surface over the test buffer (of `entity` when given).
  DrawSurface surface(const RenderEntity* entity = nullptr) {
    DrawSurface surf;
    surf.entity = entity;
    surf.material = material.get();
    surf.vertexBuffer = &buffer;
    surf.indexes = indexes;
    surf.numIndexes = 6;
    return surf;
  }
  void setSurface() {
    const DrawSurface surf = surface();
    g_renderBackEnd.setDrawSurface(&surf);
    device.take();
  }

  std::unique_ptr<Material> material;
  VertexBufferHandle buffer{1, 0, 64, 12};
  unsigned indexes[6] = {0, 1, 2, 0, 2, 3};
};

struct StageCase {
  const char* text;
  Calls expected;
};

TEST_F(StageTest, StageTextBindsToExactlyTheseDeviceCalls) {
  // Stages without images and without a fragment program draw with every texture unit off (as
  // over white, without the per-pixel lookup).
  const std::vector<StageCase> cases = {
      {"{\nrgba 0.5\n}\n",
       {"shader.unbindAll()", "shader.bind(7)", "setVertexAttribPointers(p,19)", "shader.env(7,4,0,0,0,1)",
        "shader.env(7,5,799,599,0,0)", "shader.env(7,19,1,1,1,1)", "shader.env(7,16,0,0,0,0)", "shader.env(7,17,0.5,0.5,0.5,0.5)",
        "resetTextureUnits()", "setMatrixMode(0)", "setColorMask(1,1,1,1)", "setDepthMask(1)", "setCullMode(2)", "setBlendFunc(2,1)",
        "setAlphaFunc(8,0)", "setDepthFunc(4)"}},
      {"{\nblendfunc add\nvertexColor\nmaskDepth\n}\n",
       {"shader.unbindAll()", "shader.bind(7)", "setVertexAttribPointers(p,19)", "shader.env(7,4,0,0,0,1)",
        "shader.env(7,5,799,599,0,0)", "shader.env(7,19,1,1,1,1)", "shader.env(7,16,1,1,1,1)", "shader.env(7,17,0,0,0,0)",
        "resetTextureUnits()", "setMatrixMode(0)", "setColorMask(1,1,1,1)", "setDepthMask(0)", "setCullMode(2)", "setBlendFunc(2,2)",
        "setAlphaFunc(8,0)", "setDepthFunc(4)"}},
      {"{\nmaskRed\nmaskAlpha\nalphaFunc greater 0.25\ndepthFunc equal\nprivatePolygonOffset 2\n}\n",
       {"shader.unbindAll()", "shader.bind(7)", "setVertexAttribPointers(p,19)", "shader.env(7,4,0,0,0,1)",
        "shader.env(7,5,799,599,0,0)", "shader.env(7,19,1,1,1,1)", "shader.env(7,16,0,0,0,0)", "shader.env(7,17,1,1,1,1)",
        "resetTextureUnits()", "setMatrixMode(0)", "setColorMask(0,1,1,0)", "setDepthMask(1)", "setCullMode(2)", "setPolygonOffset(0,-2,2)",
        "setBlendFunc(2,1)", "setAlphaFunc(5,0.25)", "setDepthFunc(3)"}},
      {"{\nprogram glow.vfp\nvertexParm 0 1 2\nfragmentParm 1 0.5\ntexGen reflect\n}\n",
       {"shader.unbindAll()", "shader.bind(26)", "shader.bind(26)", "shader.local(26,0,1,2,2,2)",
        "shader.local(26,0,0,0,0,0)", "shader.local(26,1,0,0,0,0)", "shader.local(26,1,0.5,0.5,0.5,0.5)",
        "setVertexAttribPointers(p,27)", "shader.env(26,4,0,0,0,1)", "shader.env(26,5,799,599,0,0)",
        "shader.env(26,19,1,1,1,1)",
        "shader.env(26,16,0,0,0,0)", "shader.env(26,17,1,1,1,1)", "setColorMask(1,1,1,1)", "setDepthMask(1)",
        "setCullMode(2)", "setBlendFunc(2,1)", "setAlphaFunc(8,0)", "setDepthFunc(4)"}},
  };
  for (const StageCase& c : cases) {
    SCOPED_TRACE(c.text);
    parse(c.text);
    setSurface();
    ASSERT_GE(material->getNumStages(), 1);
    EXPECT_TRUE(g_renderBackEnd.bindStage(material.get(), *material->getStage(0)));
    EXPECT_EQ(join(device.take()), join(c.expected));
    g_renderBackEnd.unbindStage(false);
  }
}

// The screen-copy mapping: the viewport against the image and the render size, both ways.
TEST_F(StageTest, ScreenCopyMappingFollowsTheViewportAndTheRenderSize) {
  parse("{\nrgba 1\n}\n");
  g_renderBackEnd.setRenderSize(1600, 1200);
  g_renderBackEnd.setViewport(400, 300, 800, 600);
  setSurface();
  g_renderBackEnd.bindStage(material.get(), *material->getStage(0));
  const Calls calls = device.take();
  auto has = [&](const std::string& c) { return std::find(calls.begin(), calls.end(), c) != calls.end(); };
  EXPECT_TRUE(has("shader.env(7,5,799,599,0.25,0.25)")) << join(calls);
  EXPECT_TRUE(has("shader.env(7,19,0.5,0.5,2,2)")) << join(calls);
  g_renderBackEnd.unbindStage(false);
}

TEST_F(StageTest, TwoSidedMaterialCullsNothingAndMirrorsDoNotChangeThat) {
  parse("twoSided\n{\nrgba 1\n}\n");
  setSurface();
  g_renderBackEnd.setMirrored(true);
  g_renderBackEnd.bindStage(material.get(), *material->getStage(0));
  bool sawCull = false;
  for (const std::string& s : device.take()) {
    if (s.rfind("setCullMode", 0) == 0) {
      EXPECT_EQ(s, "setCullMode(0)");
      sawCull = true;
    }
  }
  EXPECT_TRUE(sawCull);
}

TEST_F(StageTest, ColourComesFromRegistersClampedAndModulated) {
  parse("{\nred parm0\ngreen 2\nblue -1\nalpha 0.5\n}\n");
  setSurface();
  g_renderBackEnd.setShaderParm(0, 0.25f);
  g_renderBackEnd.setColorModulation(0.5f, 0.5f, 1.0f, 1.0f);
  device.take();
  g_renderBackEnd.bindStage(material.get(), *material->getStage(0));
  bool found = false;
  for (const std::string& s : device.take()) {
    if (s.rfind("shader.env(7,17,", 0) == 0) {
      EXPECT_EQ(s, "shader.env(7,17,0.125,0.5,0,0.5)");
      found = true;
    }
  }
  EXPECT_TRUE(found);
}

TEST_F(StageTest, ImagesBindOnTheirUnitsAndAFailedImageFailsTheStage) {
  parse("{\nrgba 1\n}\n");
  MaterialStage& stage = material->stages[0];
  FakeImage a(&device.log, "a", true);
  FakeImage b(&device.log, "b", true);
  FakeImage broken(&device.log, "broken", false);
  stage.images[0] = &a;
  stage.images[1] = &b;
  stage.imageCount = 2;
  setSurface();
  EXPECT_TRUE(g_renderBackEnd.bindStage(material.get(), stage));
  Calls calls = device.take();
  const std::string text = join(calls);
  EXPECT_NE(
      text.find("selectTextureUnit(0)\nbindImage(a)\nselectTextureUnit(0)\nsetMatrixMode(2)\npushMatrix()"),
      std::string::npos)
      << text;
  EXPECT_NE(text.find("selectTextureUnit(1)\nbindImage(b)\nselectTextureUnit(1)\nsetMatrixMode(2)"),
            std::string::npos)
      << text;
  g_renderBackEnd.unbindStage(true);
  EXPECT_EQ(join(device.take()), join({"selectTextureUnit(0)", "setMatrixMode(2)", "popMatrix()",
                                       "setMatrixMode(0)", "selectTextureUnit(1)", "setMatrixMode(2)",
                                       "popMatrix()", "setMatrixMode(0)", "resetTextureUnits()"}));

  stage.images[1] = &broken;
  EXPECT_FALSE(g_renderBackEnd.bindStage(material.get(), stage));
  g_renderBackEnd.unbindStage(false);
  // Only unit 0's matrix was pushed, so only it is popped.
  int pops = 0;
  for (const std::string& s : device.take()) {
    pops += s == "popMatrix()";
  }
  EXPECT_EQ(pops, 1);
  stage.images[0] = stage.images[1] = nullptr;
  stage.imageCount = 0;
}

TEST_F(StageTest, StageRangeSkipsInteractionAndScreenStagesAndStopsAtTheScreenCopy) {
  parse(
      "{\nrgba 0.1\n}\n"
      "{\nmap _currentRender\n}\n"
      "{\nrgba 0.3\n}\n");
  // Without a texture manager the loader cannot see the image; mark the stage as it would.
  material->stages[1].flags |= kStageCurrentRender;
  setSurface();
  g_renderBackEnd.drawStageRange(0, 3, false);
  int draws = 0;
  for (const std::string& s : device.take()) {
    draws += s == "drawTriangles(6)";
  }
  EXPECT_EQ(draws, 1) << "the stage reading the screen copy ends the range outside a post-process view";

  // In a post-process view all three draw.
  g_renderBackEnd.setViewFlags(kViewFlagPostProcess);
  g_renderBackEnd.drawStageRange(0, 3, false);
  draws = 0;
  for (const std::string& s : device.take()) {
    draws += s == "drawTriangles(6)";
  }
  EXPECT_EQ(draws, 3);

  // Views that forbid screen copies skip it but go on.
  g_renderBackEnd.setViewFlags(kViewFlagPostProcess | kViewFlagNoScreenCopy);
  g_renderBackEnd.drawStageRange(0, 3, false);
  draws = 0;
  for (const std::string& s : device.take()) {
    draws += s == "drawTriangles(6)";
  }
  EXPECT_EQ(draws, 2);
}

TEST_F(StageTest, StageRangeBindsTheGeometryOnceAndRestoresState) {
  parse("{\nrgba 1\n}\n{\nrgba 0.5\n}\n");
  setSurface();
  g_renderBackEnd.drawStageRange(0, 2, true);
  const Calls calls = device.take();
  ASSERT_GE(calls.size(), 4u);
  EXPECT_EQ(calls.front(), "bindVertexBuffer(p,19)");
  const size_t n = calls.size();
  EXPECT_EQ(calls[n - 4], "unbindVertexBuffer()");
  EXPECT_EQ(calls[n - 3], "setColorMask(1,1,1,1)");
  EXPECT_EQ(calls[n - 2], "setDepthMask(1)");
  EXPECT_EQ(calls[n - 1], "setDepthFunc(4)");
}

TEST_F(StageTest, SurfaceRunsBindSharedStateOnceAndCloseAsTheLastSurfaceWould) {
  struct Case {
    const char* text;
    bool depthFill;  // else the stage range
    bool depthHack;
    bool shared;  // whether the surfaces after the first only bind their geometry and draw
  };
  const Case cases[] = {
      {"{\nrgba 0.5\n}\n", true, false, true},
      {"{\nrgba 0.5\n}\n", false, false, true},
      {"polygonOffset 2\n{\nrgba 0.5\n}\n", false, true, true},
      // An alpha-tested fill binds its image and texture matrix for each surface.
      {"{\nmap textures/a\nalphaFunc greater 0.5\n}\n", true, false, false},
      // The colour is read from each surface's parameters.
      {"{\nrgba parm0\n}\n", false, false, false},
      // Two stages: keeping them bound would draw stage by stage instead of surface by surface.
      {"{\nrgba 1\n}\n{\nrgba 0.5\n}\n", false, false, false},
  };

  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.text << " depth fill " << c.depthFill);
    parse(c.text);
    RenderEntity entity;
    entity.reserved4 = c.depthHack ? 1 : 0;
    const DrawSurface surf = surface(&entity);
    const auto draw = [&] {
      g_renderBackEnd.setDrawSurface(&surf);
      if (c.depthFill) {
        g_renderBackEnd.drawDepthSurface(7);
      } else {
        g_renderBackEnd.drawStageRange(0, material->getNumStages(), true);
      }
    };
    draw();
    const Calls alone = device.take();
    g_renderBackEnd.beginSurfaceRuns();
    for (int i = 0; i < 3; i++) {
      draw();
    }
    g_renderBackEnd.endSurfaceRuns();
    const Calls three = device.take();

    Calls expected;
    if (c.shared) {
      const auto drawn = std::find(alone.begin(), alone.end(), "drawTriangles(6)");
      ASSERT_NE(drawn, alone.end()) << join(alone);
      expected.assign(alone.begin(), drawn + 1);
      for (int i = 0; i < 2; i++) {
        if (c.depthHack) {
          expected.push_back("setDepthRange(0,0.3)");  // a scissor reset between may have reset it
        }
        expected.insert(expected.end(), {"bindVertexBuffer(p,19)", "drawTriangles(6)"});
      }
      expected.insert(expected.end(), drawn + 1, alone.end());
    } else {
      for (int i = 0; i < 3; i++) {
        expected.insert(expected.end(), alone.begin(), alone.end());
      }
    }
    EXPECT_EQ(join(three), join(expected));
  }
}

TEST_F(StageTest, DepthFillEnablesATextureOnlyForAnAlphaTest) {
  // Colour writes are off while depth fills: the stage's image matters only to its alpha test.
  struct Case {
    const char* text;
    bool texturesOff;
  };
  const Case cases[] = {
      {"{\nrgba 0.5\n}\n", true},
      {"{\nmap textures/a\n}\n", true},
      {"{\nmap textures/a\nalphaFunc greater 0.5\n}\n", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    parse(c.text);
    setSurface();
    g_renderBackEnd.drawDepthSurface(7);
    const Calls calls = device.take();
    const auto has = [&](const std::string& call) {
      return std::find(calls.begin(), calls.end(), call) != calls.end();
    };
    EXPECT_EQ(has("resetTextureUnits()"), c.texturesOff) << join(calls);
    EXPECT_EQ(has("setAlphaFunc(8,0)"), true) << "the test is off again after the fill";
    bool alphaTest = false;
    for (const std::string& call : calls) {
      alphaTest = alphaTest || (call.rfind("setAlphaFunc(", 0) == 0 && call != "setAlphaFunc(8,0)");
    }
    EXPECT_EQ(alphaTest, !c.texturesOff) << join(calls);
    EXPECT_TRUE(has("drawTriangles(6)"));
  }
}

TEST_F(StageTest, SurfacesWithoutGeometryDrawNothing) {
  parse("{\nrgba 1\n}\n");
  DrawSurface surf;
  surf.material = material.get();
  surf.indexes = indexes;
  surf.numIndexes = 6;  // no vertex buffer
  g_renderBackEnd.setDrawSurface(&surf);
  device.take();
  g_renderBackEnd.drawStageRange(0, 1, true);
  g_renderBackEnd.drawDepthSurface(3);
  EXPECT_TRUE(device.take().empty());
  surf.vertexBuffer = &buffer;
  surf.numIndexes = 0;
  g_renderBackEnd.setDrawSurface(&surf);
  device.take();
  g_renderBackEnd.drawAmbientStages(true, true);
  EXPECT_TRUE(device.take().empty());
}

TEST_F(StageTest, AmbientRangesSplitAroundTheInteractionStages) {
  // Stage 0 plain, 1-3 the bump/diffuse/specular triple, 4 plain.
  parse(
      "{\nrgba 0.1\n}\n"
      "diffusemap textures/a\n"
      "{\nrgba 0.5\n}\n");
  ASSERT_EQ(material->getNumStages(), 5);
  setSurface();
  struct Case {
    bool postLight, all;
    std::vector<std::string> colors;
  };
  const Case cases[] = {
      {true, false, {"shader.env(7,17,0.1,0.1,0.1,0.1)"}},
      {false, true, {"shader.env(7,17,0.5,0.5,0.5,0.5)"}},
      // All stages: only the bump stage is an interaction stage to the stage filter; the diffuse and
      // specular stages draw as plain stages (white colour).
      {true,
       true,
       {"shader.env(7,17,0.1,0.1,0.1,0.1)", "shader.env(7,17,1,1,1,1)", "shader.env(7,17,1,1,1,1)",
        "shader.env(7,17,0.5,0.5,0.5,0.5)"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.postLight << c.all);
    g_renderBackEnd.drawAmbientStages(c.postLight, c.all);
    std::vector<std::string> colors;
    for (const std::string& s : device.take()) {
      if (s.rfind("shader.env(7,17,", 0) == 0) {
        colors.push_back(s);
      }
    }
    EXPECT_EQ(colors, c.colors);
  }
}

TEST_F(StageTest, DepthHackAndMaterialOffsetWrapTheGeometryBinding) {
  parse("polygonOffset 3\n{\nrgba 1\n}\n");
  RenderEntity entity;
  entity.reserved4 = 1;
  const DrawSurface surf = surface(&entity);
  g_renderBackEnd.setDrawSurface(&surf);
  device.take();
  EXPECT_TRUE(g_renderBackEnd.beginSurfacePolygonOffset());
  g_renderBackEnd.endSurfacePolygonOffset();
  EXPECT_EQ(join(device.take()),
            join({"setDepthRange(0,0.3)", "setPolygonOffset(0,-3,2)", "bindVertexBuffer(p,19)",
                  "setPolygonOffset(0,0,2)", "setDepthRange(0,1)", "unbindVertexBuffer()"}));
}

TEST_F(StageTest, SkyboxTextureMatrixIsReflectTurnedAboutX) {
  RenderView view = makeView(0, 0, 640, 480);
  view.axis = Angles(10.0f, 30.0f, 0.0f).toMat3();
  g_renderBackEnd.setView(&view);
  g_renderBackEnd.applyViewMatrices();
  MaterialStage stage{};
  stage.texGen = kTexGenReflect;
  const Mat4 reflect = stageTextureMatrix(stage, g_renderBackEnd.viewState().modelView,
                                          g_renderBackEnd.viewState().projection);
  stage.texGen = kTexGenSkybox;
  const Mat4 sky = stageTextureMatrix(stage, g_renderBackEnd.viewState().modelView,
                                      g_renderBackEnd.viewState().projection);
  const Vec3 dir(0.3f, -0.5f, 0.8f);
  const Vec3 r = reflect.transformVector(dir);
  const Vec3 k = sky.transformVector(dir);
  // -90 degrees about x: (x, y, z) -> (x, z, -y).
  EXPECT_NEAR(k.x, r.x, 1e-5f);
  EXPECT_NEAR(k.y, r.z, 1e-5f);
  EXPECT_NEAR(k.z, -r.y, 1e-5f);
  EXPECT_FALSE(reflect.compare(sky, 1e-3f));
}

TEST_F(StageTest, TextureModifiersMeetCoordinatesInWrittenOrder) {
  parse("{\nscale 2 2\ntranslate 0.25 0\n}\n");
  const Mat4 m = stageTextureMatrix(*material->getStage(0), Mat4::identity(), Mat4::identity());
  // Scaled first, then translated: s = 0.5 -> 1.0 -> 1.25.
  EXPECT_NEAR(m.transformPoint(Vec3(0.5f, 0.5f, 0.0f)).x, 1.25f, 1e-6f);
  parse("{\nrotate 90\n}\n");
  const Mat4 r = stageTextureMatrix(*material->getStage(0), Mat4::identity(), Mat4::identity());
  const Vec3 centre = r.transformPoint(Vec3(0.5f, 0.5f, 0.0f));
  EXPECT_NEAR(centre.x, 0.5f, 1e-6f) << "rotation is about the texture centre";
  EXPECT_NEAR(centre.y, 0.5f, 1e-6f);
  const Vec3 corner = r.transformPoint(Vec3(1.0f, 0.5f, 0.0f));
  EXPECT_NEAR(corner.x, 0.5f, 1e-5f);
  EXPECT_NEAR(corner.y, 1.0f, 1e-5f);
}

TEST_F(StageTest, DrawSurfacePublishesItsShaderParametersToTheRegisters) {
  const int reg = registerExpression("parm3 * 2");
  DrawSurface surf;
  surf.shaderParms[3] = 4.0f;
  g_renderBackEnd.setDrawSurface(&surf);
  EXPECT_FLOAT_EQ(evaluateExpression(reg), 8.0f);
  g_renderBackEnd.setShaderParm(3, 1.5f);
  EXPECT_FLOAT_EQ(evaluateExpression(reg), 3.0f);
  RenderView view = makeView(0, 0, 640, 480);
  view.time = 1500;
  g_renderBackEnd.setView(&view);
  g_renderBackEnd.setShaderParm(3, 1.0f);
  g_renderBackEnd.setShaderParm(4, 0.0f);
  EXPECT_FLOAT_EQ(evaluateExpression(registerExpression("time")), 1.5f);
}

TEST_F(StageTest, LightGridAndLightmapSurfacesPairGridProgramsWithTheInteractionImages) {
  parse("diffusemap textures/a\n");
  ASSERT_EQ(material->getNumStages(), 3);
  FakeImage bump(&device.log, "bump", true);
  FakeImage diffuse(&device.log, "diffuse", true);
  FakeImage specular(&device.log, "specular", true);
  FakeImage* images[3] = {&bump, &diffuse, &specular};
  for (int i = 0; i < 3; ++i) {
    material->stages[i].images[0] = images[i];
    material->stages[i].imageCount = 1;
  }
  Material grid;
  const char* gridText = "{\nvertexProgram gridv.vp\nfragmentProgram lgrid.fp\n}\n";
  ASSERT_TRUE(grid.parse(gridText, static_cast<int>(std::strlen(gridText))));
  setSurface();

  g_renderBackEnd.drawLightGridSurface(&grid, Vec3(0.1f, 0.2f, 0.3f), Vec3(1.0f, 0.5f, 0.25f),
                                       Vec3(0.0f, 0.0f, 1.0f));
  Calls calls = device.take();
  std::string text = join(calls);
  const char* expectedInOrder[] = {"shader.bind(26)",
                                   "shader.bind(31)",
                                   "shader.local(26,0,0.1,0.2,0.3,0)",
                                   "shader.local(26,1,1,0.5,0.25,0)",
                                   "shader.local(26,2,0,0,1,0)",
                                   "shader.local(31,0,2,2,2,2)",
                                   "shader.local(31,1,2,2,2,2)",
                                   "shader.local(31,2,2,2,2,2)",
                                   "selectTextureUnit(2)\nbindImage(bump)",
                                   "selectTextureUnit(3)\nbindImage(diffuse)",
                                   "selectTextureUnit(4)\nbindImage(specular)",
                                   "drawTriangles(6)"};
  size_t at = 0;
  for (const char* piece : expectedInOrder) {
    const size_t found = text.find(piece, at);
    ASSERT_NE(found, std::string::npos) << piece << " after offset " << at << " in\n" << text;
    at = found;
  }
  int draws = 0;
  for (const std::string& c : calls) {
    draws += c == "drawTriangles(6)";
  }
  EXPECT_EQ(draws, 1) << "one triple, one grid stage";

  g_renderBackEnd.drawLightmapSurface(&grid);
  text = join(device.take());
  EXPECT_NE(text.find("shader.local(26,2,-1,-1,2,0)"), std::string::npos) << text;
  EXPECT_EQ(text.find("shader.local(26,0,0.1"), std::string::npos) << "no grid colours: only the direction";
  EXPECT_EQ(text.find("shader.local(26,1,1,0.5"), std::string::npos);
  EXPECT_NE(text.find("selectTextureUnit(3)\nbindImage(diffuse)"), std::string::npos);

  // A material without interaction stages is not lit this way.
  parse("{\nrgba 1\n}\n");
  setSurface();
  g_renderBackEnd.drawLightGridSurface(&grid, Vec3(), Vec3(), Vec3());
  EXPECT_TRUE(device.take().empty());
  for (MaterialStage& stage : material->stages) {
    stage.images[0] = nullptr;
  }
}

}  // namespace
