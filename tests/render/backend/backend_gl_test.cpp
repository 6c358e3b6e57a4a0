// The back end and render targets on llvmpipe (SDL's offscreen driver): quads drawn through the stage
// binder read back the colours their stages say; blending, the alpha test, the depth test and culling
// each change the picture; a render target's colour reaches the window through its image and through
// "_mirrorRenderMap"; the target stack restores viewports and bindings.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "lib/interface/texmanager.h"
#include "platform/gl.h"
#include "render/backend/framebufferopengl.h"
#include "render/backend/renderbackend.h"
#include "render/device/glextensions.h"
#include "render/device/renderopengl.h"
#include "render/material/expression.h"
#include "render/material/material.h"
#include "render/texture/texmgrinfo.h"
#include "tests/support/capturecmdsystem.h"
#include "tests/support/gldevice.h"
#include "tests/support/memoryiosystem.h"

namespace {

constexpr int kSize = 64;

// Position through the current matrices; colour = vertex colour x env 16 + env 17; texture
// coordinates through texture matrix 0.
const char* kUnlitProgram =
    "!!ARBvp1.0\n"
    "PARAM mvp[4] = { state.matrix.mvp };\n"
    "PARAM tm[4] = { state.matrix.texture[0] };\n"
    "PARAM mul = program.env[16];\n"
    "PARAM add = program.env[17];\n"
    "DP4 result.position.x, mvp[0], vertex.position;\n"
    "DP4 result.position.y, mvp[1], vertex.position;\n"
    "DP4 result.position.z, mvp[2], vertex.position;\n"
    "DP4 result.position.w, mvp[3], vertex.position;\n"
    "MAD result.color, vertex.color, mul, add;\n"
    "DP4 result.texcoord[0].x, tm[0], vertex.texcoord[0];\n"
    "DP4 result.texcoord[0].y, tm[1], vertex.texcoord[0];\n"
    "MOV result.texcoord[0].zw, vertex.texcoord[0];\n"
    "END\n";

struct Rgb {
  int r, g, b;
};

class BackEndGLTest : public ::testing::Test {
 protected:
  void SetUp() override {
    io.addFile("glprogs/unlit.vp", kUnlitProgram);
    gltest::openDevice(kSize, kSize, &window, &device);
    if (IsSkipped() || HasFatalFailure())
      return;
    g_renderInterface = device.get();
    ASSERT_NE(TexMgrInfo::getInstance(), nullptr);
    g_renderBackEnd.reset();
    g_renderBackEnd.setViewport(0, 0, kSize, kSize);
    g_renderBackEnd.setRenderSize(kSize, kSize);
    g_renderBackEnd.applyViewport();
    ASSERT_GE(g_renderBackEnd.unlitProgram(), 0) << console.text;
    g_renderBackEnd.setOrtho2D(kSize, kSize);
    clearTo(0.0f, 0.0f, 1.0f);
  }

  void TearDown() override {
    if (device == nullptr || g_renderInterface == nullptr) {
      return;
    }
    FrameBufferObject::clearStack();
    for (VertexBufferHandle*& b : buffers) {
      device->freeVertexBuffer(&b);
    }
    materials.clear();
    g_renderBackEnd.reset();
    destroyTexManager();
    clearExpressions();
    g_renderInterface = nullptr;
    device.reset();
    platformGLDestroyHiddenWindow(window);
  }

  void clearTo(float r, float g, float b) {
    device->setClearColor(r, g, b, 1.0f);
    g_renderBackEnd.clear(true, true);
  }

  Material* material(const char* body) {
    materials.push_back(std::make_unique<Material>());
    Material* m = materials.back().get();
    EXPECT_TRUE(m->parse(body, static_cast<int>(std::strlen(body)))) << body;
    return m;
  }

  // A quad over x0..x1, y0..y1 (pixels, y down) at depth z, facing the viewer unless backFacing.
  DrawSurface quad(Material* m, float x0, float y0, float x1, float y1, float z = 0.0f,
                   bool backFacing = false) {
    DrawVertex v[4] = {};
    const float xy[4][2] = {{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}};
    const float st[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    for (int i = 0; i < 4; ++i) {
      v[i].xyz[0] = xy[i][0];
      v[i].xyz[1] = xy[i][1];
      v[i].xyz[2] = z;
      v[i].st[0] = st[i][0];
      v[i].st[1] = st[i][1];
      std::memset(v[i].color, 255, 4);
    }
    VertexBufferHandle* buffer = device->createVertexBuffer();
    device->uploadVertexBuffer(buffer, v, sizeof(v), true);
    buffers.push_back(buffer);
    // Corners top-left, top-right, bottom-right, bottom-left: counter-clockwise as seen is the front.
    static const unsigned kFront[6] = {0, 3, 2, 0, 2, 1};
    static const unsigned kBack[6] = {0, 1, 2, 0, 2, 3};
    DrawSurface surf;
    surf.material = m;
    surf.vertexBuffer = buffer;
    surf.indexes = backFacing ? kBack : kFront;
    surf.numIndexes = 6;
    return surf;
  }

  void draw(const DrawSurface& surf) {
    g_renderBackEnd.setDrawSurface(&surf);
    g_renderBackEnd.drawStageRange(0, surf.material->getNumStages(), true);
    g_renderBackEnd.setDrawSurface(nullptr);
  }

  // The colour at window pixel (x, y) counted from the top.
  Rgb at(int x, int y) {
    unsigned char p[4] = {};
    device->readPixels(p, x, kSize - 1 - y, 1, 1, kPixelFormatRGBA);
    return {p[0], p[1], p[2]};
  }

  // Every pixel of the rectangle within 2 of the colour.
  void expectRect(int x0, int y0, int x1, int y1, Rgb want, const char* what) {
    int bad = 0;
    Rgb first{};
    for (int y = y0; y < y1; ++y) {
      for (int x = x0; x < x1; ++x) {
        const Rgb c = at(x, y);
        if (std::abs(c.r - want.r) > 2 || std::abs(c.g - want.g) > 2 || std::abs(c.b - want.b) > 2) {
          if (bad++ == 0) {
            first = c;
          }
        }
      }
    }
    EXPECT_EQ(bad, 0) << what << ": first wrong pixel " << first.r << "," << first.g << "," << first.b;
  }

  MemoryIOSystem io;
  CaptureCmdSystem console;
  void* window = nullptr;
  std::unique_ptr<RenderOpenGL> device;
  std::vector<VertexBufferHandle*> buffers;
  std::vector<std::unique_ptr<Material>> materials;
};

const Rgb kRed{255, 0, 0};
const Rgb kGreen{0, 255, 0};
const Rgb kBlue{0, 0, 255};
const Rgb kBlack{0, 0, 0};

TEST_F(BackEndGLTest, RedStageQuadReadsBackRedInsideAndClearColourOutside) {
  draw(quad(material("{\nred 1\ngreen 0\nblue 0\n}\n"), 16, 8, 48, 40));
  expectRect(16, 8, 48, 40, kRed, "inside the quad");
  expectRect(0, 0, kSize, 8, kBlue, "above the quad");
  expectRect(0, 40, kSize, kSize, kBlue, "below the quad");
  expectRect(0, 8, 16, 40, kBlue, "left of the quad");
}

// A surface bound while another texture unit is the current one leaves no texture-coordinate
// array enabled on that unit: the stages reset the units before the surface is unbound, and an
// array left on would point later draws at this surface's buffer through the other surfaces'
// indexes (reads past the buffer's end) once the next draw or flush applies what is deferred.
TEST_F(BackEndGLTest, UnbindingASurfaceLeavesNoTextureCoordinateArrayOnAnyUnit) {
  Material* red = material("{\nmap _white\ngreen 0\nblue 0\n}\n");
  const DrawSurface surf = quad(red, 8, 8, 56, 56);
  for (int unit : {0, 1, 3}) {
    SCOPED_TRACE(unit);
    device->selectTextureUnit(unit, 0);
    draw(surf);
    expectRect(16, 16, 48, 48, kRed, "drawn");
    // Arrays turned off wait for the next draw or a full flush; by then none may be left on.
    device->flushDeferredState();
    for (int u = 0; u < 8; ++u) {
      qgl::glClientActiveTextureARB(GL_TEXTURE0_ARB + u);
      EXPECT_FALSE(qgl::glIsEnabled(GL_TEXTURE_COORD_ARRAY)) << "unit " << u;
    }
    qgl::glClientActiveTextureARB(GL_TEXTURE0_ARB);
    device->invalidateStateCache();
  }
}

TEST_F(BackEndGLTest, BlendingAlphaAndVertexColourStagesChangeTheReadBack) {
  struct Case {
    const char* stage;
    Rgb want;
  };
  const Case cases[] = {
      {"{\nred 1\ngreen 0\nblue 0\n}\n", kRed},
      {"{\nred 1\ngreen 0\nblue 0\nblendfunc add\n}\n", {255, 0, 255}},
      {"{\nred 1\ngreen 0\nblue 0\nblendfunc filter\n}\n", kBlack},
      {"{\nrgb 1\nalpha 0.5\nblendfunc blend\n}\n", {128, 128, 255}},
      // The alpha test: a 0.3 alpha fails "greater 0.5" and passes "less 0.5".
      {"{\nred 1\ngreen 0\nblue 0\nalpha 0.3\nalphaFunc greater 0.5\n}\n", kBlue},
      {"{\nred 1\ngreen 0\nblue 0\nalpha 0.3\nalphaFunc less 0.5\n}\n", kRed},
      {"{\nmaskBlue\nmaskGreen\nrgb 1\n}\n", {255, 0, 255}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stage);
    clearTo(0.0f, 0.0f, 1.0f);
    draw(quad(material(c.stage), 8, 8, 56, 56));
    expectRect(12, 12, 52, 52, c.want, c.stage);
  }
}

TEST_F(BackEndGLTest, InverseVertexColourIsWhiteWhereTheVertexIsBlack) {
  Material* m = material("{\nrgb 1\n}\n");
  m->stages[0].vertexColor = 2;
  DrawSurface surf = quad(m, 8, 8, 56, 56);
  // Black vertices.
  DrawVertex v[4] = {};
  const float xy[4][2] = {{8, 8}, {56, 8}, {56, 56}, {8, 56}};
  for (int i = 0; i < 4; ++i) {
    v[i].xyz[0] = xy[i][0];
    v[i].xyz[1] = xy[i][1];
    v[i].color[3] = 255;
  }
  device->uploadVertexBuffer(surf.vertexBuffer, v, sizeof(v), true);
  draw(surf);
  expectRect(12, 12, 52, 52, {255, 255, 255}, "inverted black vertices");
}

TEST_F(BackEndGLTest, DepthTestKeepsTheNearerQuadUnlessTheStageDrawsAlways) {
  // Orthographic z: +0.5 is nearer than -0.5.
  Material* green = material("{\nred 0\ngreen 1\nblue 0\n}\n");
  draw(quad(green, 8, 8, 56, 56, 0.5f));
  draw(quad(material("{\nred 1\ngreen 0\nblue 0\n}\n"), 8, 8, 56, 56, -0.5f));
  expectRect(12, 12, 52, 52, kGreen, "farther red quad fails the depth test");
  draw(quad(material("{\nred 1\ngreen 0\nblue 0\ndepthFunc always\n}\n"), 8, 8, 56, 56, -0.5f));
  expectRect(12, 12, 52, 52, kRed, "depthFunc always draws over it");
  // The override forces every depth function: "less" against an equal depth fails.
  g_renderBackEnd.setDepthFuncOverride(kCompareLess);
  draw(quad(green, 8, 8, 56, 56, -0.5f));
  expectRect(12, 12, 52, 52, kRed, "overridden depth function");
  g_renderBackEnd.setDepthFuncOverride(0);
}

TEST_F(BackEndGLTest, CullingDropsOneWindingAndTwoSidedOrMirroredChangeWhich) {
  Material* oneSided = material("{\nred 1\ngreen 0\nblue 0\n}\n");
  Material* twoSided = material("twoSided\n{\nred 1\ngreen 0\nblue 0\n}\n");
  struct Case {
    Material* m;
    bool backFacing;
    bool mirrored;
    Rgb want;
  };
  const Case cases[] = {
      {oneSided, false, false, kRed}, {oneSided, true, false, kBlue}, {twoSided, true, false, kRed},
      {oneSided, false, true, kBlue}, {oneSided, true, true, kRed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << (c.m == twoSided ? "two-sided" : "one-sided") << " back-facing "
                                    << c.backFacing << " mirrored " << c.mirrored);
    clearTo(0.0f, 0.0f, 1.0f);
    g_renderBackEnd.setMirrored(c.mirrored);
    draw(quad(c.m, 8, 8, 56, 56, 0.0f, c.backFacing));
    g_renderBackEnd.setMirrored(false);
    expectRect(12, 12, 52, 52, c.want, "cull");
  }
}

// ---------------------------------------------------------------- render targets

TEST_F(BackEndGLTest, TargetColourReachesTheWindowThroughItsImageAndMirrorRenderMap) {
  FrameBufferOpenGL target("_testTarget", 32, 32, 1, kPixelFormatRGBA, 0x46);
  ASSERT_NE(target.getColorTarget(0), nullptr) << console.text;
  EXPECT_EQ(target.checkStatus(false), GL_FRAMEBUFFER_COMPLETE_EXT);
  ASSERT_TRUE(target.pushRenderTarget(true));
  g_renderBackEnd.popMatrices(true, true);
  g_renderBackEnd.setOrtho2D(32, 32);
  clearTo(0.0f, 1.0f, 0.0f);
  draw(quad(material("{\nred 1\ngreen 0\nblue 0\n}\n"), 0, 0, 16, 32));  // left half red
  g_renderBackEnd.popMatrices(true, true);
  FrameBufferObject::popRenderTarget();
  g_renderBackEnd.setOrtho2D(kSize, kSize);

  // The window still shows its own clear colour.
  expectRect(0, 0, kSize, kSize, kBlue, "window untouched by the target");

  // Draw the target's image over the window: left half red, right half green.
  Material* show = material("{\nrgb 1\n}\n");
  show->stages[0].images[0] = target.getColorTarget(0);
  show->stages[0].imageCount = 1;
  draw(quad(show, 0, 0, kSize, kSize));
  show->stages[0].images[0] = nullptr;
  expectRect(2, 2, 30, 62, kRed, "left half of the target");
  expectRect(34, 2, 62, 62, kGreen, "right half of the target");

  // "_mirrorRenderMap" binds colour image 0 of the current target, "_black" without one.
  ASSERT_NE(g_mirrorRenderImage, nullptr);
  GLint bound = 0;
  ASSERT_TRUE(target.pushRenderTarget(false));
  ASSERT_TRUE(g_mirrorRenderImage->bind());
  qgl::glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
  EXPECT_EQ(bound, target.getColorTarget(0)->getTextureId());
  std::vector<unsigned char> texels(32 * 32 * 4);
  device->getTexImage(kTextureType2D, kPixelFormatRGBA, texels.data());
  const unsigned char* left = &texels[(16 * 32 + 4) * 4];
  const unsigned char* right = &texels[(16 * 32 + 28) * 4];
  EXPECT_EQ(std::vector<int>(left, left + 3), (std::vector<int>{255, 0, 0})) << "what _mirrorRenderMap shows";
  EXPECT_EQ(std::vector<int>(right, right + 3), (std::vector<int>{0, 255, 0}));
  FrameBufferObject::popRenderTarget();
  ASSERT_TRUE(g_mirrorRenderImage->bind());
  qgl::glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
  EXPECT_EQ(bound, g_blackImage->getTextureId());
}

TEST_F(BackEndGLTest, PushAndPopRestoreViewportsAndBindings) {
  FrameBufferOpenGL a("_targetA", 32, 16, 1, kPixelFormatRGBA, 0x46);
  FrameBufferOpenGL b("_targetB", 8, 8, 1, kPixelFormatRGBA, 0x46);
  auto viewport = [] {
    GLint vp[4] = {};
    qgl::glGetIntegerv(GL_VIEWPORT, vp);
    return std::vector<int>{vp[0], vp[1], vp[2], vp[3]};
  };
  auto binding = [] {
    GLint fb = 0;
    qgl::glGetIntegerv(GL_FRAMEBUFFER_BINDING_EXT, &fb);
    return static_cast<unsigned>(fb);
  };
  g_renderBackEnd.setViewport(4, 4, 40, 40);
  g_renderBackEnd.applyViewport();
  ASSERT_TRUE(a.pushRenderTarget(true));
  EXPECT_EQ(viewport(), (std::vector<int>{0, 0, 32, 16}));
  EXPECT_EQ(binding(), a.framebuffer());
  ASSERT_TRUE(b.pushRenderTarget(false));
  EXPECT_EQ(binding(), b.framebuffer());
  EXPECT_EQ(FrameBufferObject::currentTarget(), &b);
  FrameBufferObject::popRenderTarget();
  EXPECT_EQ(binding(), a.framebuffer());
  EXPECT_EQ(viewport(), (std::vector<int>{0, 0, 32, 16}));
  EXPECT_EQ(FrameBufferObject::stackDepth(), 1);
  FrameBufferObject::popRenderTarget();
  EXPECT_EQ(binding(), 0u);
  EXPECT_EQ(viewport(), (std::vector<int>{4, 4, 40, 40}));
  EXPECT_EQ(g_renderBackEnd.renderWidth(), kSize);
  EXPECT_EQ(FrameBufferObject::currentTarget(), nullptr);
  FrameBufferObject::popRenderTarget();  // empty: nothing happens
  EXPECT_EQ(FrameBufferObject::stackDepth(), 0);

  for (int i = 0; i < FrameBufferObject::kStackSize; ++i) {
    ASSERT_TRUE(b.pushRenderTarget(false)) << i;
  }
  EXPECT_FALSE(a.pushRenderTarget(true)) << "a sixteenth push fails";
  EXPECT_EQ(FrameBufferObject::stackDepth(), FrameBufferObject::kStackSize);
  FrameBufferObject::clearStack();
  qgl::glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
}

// An asked-for depth clear waits for the target's next push and then covers the whole target,
// even when the push keeps a smaller viewport, which comes back afterwards; later pushes keep what
// is drawn.
TEST_F(BackEndGLTest, ADeferredDepthClearWaitsForTheNextPushAndCoversTheWholeTarget) {
  FrameBufferOpenGL target("_deferredDepth", 32, 32, 1, kPixelFormatRGBA, 0x46);
  ASSERT_GE(target.getDepthRenderbuffer(), 0) << console.text;
  auto depthAt = [](int x, int y) {
    float depth = -1.0f;
    qgl::glReadPixels(x, y, 1, 1, GL_DEPTH_COMPONENT, GL_FLOAT, &depth);
    return depth;
  };
  auto fill = [&](float value) {
    ASSERT_TRUE(target.pushRenderTarget(true));
    qgl::glClearDepth(value);
    g_renderBackEnd.clear(false, true);
    qgl::glClearDepth(1.0);
    FrameBufferObject::popRenderTarget();
  };
  auto viewport = [] {
    GLint vp[4] = {};
    qgl::glGetIntegerv(GL_VIEWPORT, vp);
    return std::vector<int>{vp[0], vp[1], vp[2], vp[3]};
  };

  fill(0.25f);
  target.clearDepthOnNextPush();
  GLint bound = -1;
  qgl::glGetIntegerv(GL_FRAMEBUFFER_BINDING_EXT, &bound);
  EXPECT_EQ(bound, 0) << "asking binds nothing";

  g_renderBackEnd.setViewport(2, 2, 8, 8);
  g_renderBackEnd.applyViewport();
  ASSERT_TRUE(target.pushRenderTarget(false));
  EXPECT_EQ(viewport(), (std::vector<int>{2, 2, 8, 8})) << "the push's own viewport is kept";
  for (const auto& [x, y] : {std::pair{1, 1}, std::pair{16, 16}, std::pair{30, 30}}) {
    EXPECT_NEAR(depthAt(x, y), 1.0f, 1e-3f) << x << "," << y;
  }
  FrameBufferObject::popRenderTarget();

  fill(0.5f);
  ASSERT_TRUE(target.pushRenderTarget(true));
  EXPECT_NEAR(depthAt(16, 16), 0.5f, 1e-3f) << "cleared once, not on every push";
  FrameBufferObject::popRenderTarget();
  g_renderBackEnd.setViewport(0, 0, kSize, kSize);
  g_renderBackEnd.applyViewport();
}

TEST_F(BackEndGLTest, ColourTargetsAreNamedCountedAndCheckedAgainstTheFirst) {
  FrameBufferOpenGL many("_many", 16, 16, 9, kPixelFormatRGBA, 0x46);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(std::string(many.getColorTargetName(i)), "_many_t" + std::to_string(i));
    EXPECT_EQ(many.getColorTarget(i)->refCount, 1) << "the target holds exactly one reference";
  }
  EXPECT_STREQ(many.getColorTargetName(4), "");
  EXPECT_STREQ(many.getColorTargetName(-1), "");
  EXPECT_EQ(many.getColorTarget(4), nullptr);
  EXPECT_GE(many.getDepthRenderbuffer(), 0);
  EXPECT_TRUE(many.ownsDepth());

  // A mismatch (another size) fails and releases every reference taken for the call.
  const ImageInfo smallInfo = {8, 8, 0, kPixelFormatRGBA, kTextureType2D, 99};
  ImageInterface* small = g_texManager->createImage(&smallInfo, 0x46, "_small");
  ImageInterface* big = many.getColorTarget(0);
  const int smallRefs = small->refCount;
  ImageInterface* mixed[2] = {big, small};
  FrameBufferOpenGL wrapper(big);
  EXPECT_EQ(big->refCount, 2);
  EXPECT_FALSE(wrapper.attachColorTargets(mixed, 2));
  EXPECT_EQ(small->refCount, smallRefs);
  EXPECT_EQ(big->refCount, 1) << "the wrapper's old reference went with the images it replaced";
  EXPECT_EQ(wrapper.getColorTarget(0), nullptr);
  EXPECT_NE(console.text.find("does not match"), std::string::npos);

  // A null image fails cleanly without touching references.
  ImageInterface* withNull[2] = {small, nullptr};
  EXPECT_FALSE(wrapper.attachColorTargets(withNull, 2));
  EXPECT_EQ(small->refCount, smallRefs);
  g_texManager->releaseImage(small);
}

TEST_F(BackEndGLTest, FormatsOutsideTheCodesAreRefusedAndDepthFormatsMakeShadowMaps) {
  // 70 and 32838 are image-flag words (0x46, 0x8046), not pixel formats.
  for (int format : {70, 32838, -1, 29}) {
    SCOPED_TRACE(format);
    console.text.clear();
    FrameBufferOpenGL bad("_bad", 16, 16, 1, format, 0x46);
    EXPECT_EQ(bad.getColorTarget(0), nullptr);
    EXPECT_FALSE(bad.pushRenderTarget(true));
    EXPECT_NE(console.text.find("is not a pixel format"), std::string::npos) << console.text;
  }
  // D24 has no byte size in the format table, so depth images are made as D32.
  static_assert(kShadowMapFormat == kPixelFormatDepth32 && kColorTargetFormat == kPixelFormatRGBA);
  FrameBufferOpenGL shadow("_shadowMapTest", 64, 64, 1, kShadowMapFormat, kShadowMapImageFlags);
  ASSERT_NE(shadow.getColorTarget(0), nullptr) << console.text;
  EXPECT_EQ(shadow.checkStatus(true), GL_FRAMEBUFFER_COMPLETE_EXT) << console.text;
  EXPECT_FALSE(shadow.ownsDepth()) << "the depth image is the depth attachment";
}

TEST_F(BackEndGLTest, LentDepthBuffersMustFitAndALargeOneLeavesNoDepth) {
  FrameBufferOpenGL lender("_lender", 32, 32, 1, kPixelFormatRGBA, 0x46);
  FrameBufferOpenGL small("_borrower", 16, 16, 1, kPixelFormatRGBA, 0x46);
  FrameBufferOpenGL same("_sameSize", 32, 32, 1, kPixelFormatRGBA, 0x46);
  EXPECT_FALSE(small.attachDepthRenderbuffer(lender.getDepthRenderbuffer()));
  EXPECT_EQ(small.getDepthRenderbuffer(), -1) << "its own depth buffer is already gone";
  EXPECT_TRUE(same.attachDepthRenderbuffer(lender.getDepthRenderbuffer()));
  EXPECT_EQ(same.getDepthRenderbuffer(), lender.getDepthRenderbuffer());
  EXPECT_FALSE(same.ownsDepth());
  EXPECT_TRUE(same.attachDepthRenderbuffer(lender.getDepthRenderbuffer())) << "already attached";
  EXPECT_EQ(same.checkStatus(true), GL_FRAMEBUFFER_COMPLETE_EXT);
  EXPECT_FALSE(same.attachDepthRenderbuffer(-1));
}

TEST_F(BackEndGLTest, NewContextsGetTheBackEndsStencilState) {
  // Set by the device's context hook while creating the context in SetUp.
  GLint func = 0, ref = 0, mask = 0, clearValue = 0, writeMask = 0, fail = 0;
  qgl::glGetIntegerv(GL_STENCIL_FUNC, &func);
  qgl::glGetIntegerv(GL_STENCIL_REF, &ref);
  qgl::glGetIntegerv(GL_STENCIL_VALUE_MASK, &mask);
  qgl::glGetIntegerv(GL_STENCIL_CLEAR_VALUE, &clearValue);
  qgl::glGetIntegerv(GL_STENCIL_WRITEMASK, &writeMask);
  qgl::glGetIntegerv(GL_STENCIL_FAIL, &fail);
  EXPECT_EQ(func, GL_ALWAYS);
  EXPECT_EQ(ref, 128);
  EXPECT_EQ(mask & 0xFF, 255);
  EXPECT_EQ(clearValue, 128);
  EXPECT_EQ(writeMask & 0xFF, 255);
  EXPECT_EQ(fail, GL_KEEP);
  // Cleared stencil reads 128 everywhere.
  device->clear(kClearStencil);
  unsigned char value = 0;
  qgl::glPixelStorei(GL_PACK_ALIGNMENT, 1);
  qgl::glReadPixels(10, 10, 1, 1, GL_STENCIL_INDEX, GL_UNSIGNED_BYTE, &value);
  EXPECT_EQ(value, 128);
}

TEST_F(BackEndGLTest, ContextRestartRebuildsTargetsAroundTheImagesCallersHold) {
  FrameBufferOpenGL lender("_restartA", 32, 32, 1, kPixelFormatRGBA, 0x46);
  FrameBufferOpenGL borrower("_restartB", 32, 32, 1, kPixelFormatRGBA, 0x46);
  ASSERT_TRUE(borrower.attachDepthRenderbuffer(lender.getDepthRenderbuffer()));
  ImageInterface* held = lender.getColorTarget(0);
  ASSERT_NE(held, nullptr);
  ASSERT_TRUE(lender.pushRenderTarget(true));

  // What "vid_restart" does around the device: images unloaded, contexts gone, a new context, the
  // programs and images back, then the renderer's hook.
  for (VertexBufferHandle*& b : buffers) {
    device->freeVertexBuffer(&b);
  }
  buffers.clear();
  g_texManager->flagAllForReload();
  device->freeAllContexts();
  device->createContext(window, nullptr, 32);
  ASSERT_EQ(device->contextCount(), 1);
  device->shader().init();
  g_texManager->reloadFlagged();
  ASSERT_NE(g_renderContextHooks.contextRestored, nullptr);
  g_renderContextHooks.contextRestored();

  EXPECT_EQ(FrameBufferObject::stackDepth(), 0) << "the stack does not survive its context";
  EXPECT_EQ(lender.getColorTarget(0), held) << "the same image object";
  EXPECT_EQ(held->refCount, 1);
  EXPECT_EQ(lender.checkStatus(true), GL_FRAMEBUFFER_COMPLETE_EXT) << console.text;
  EXPECT_EQ(borrower.getDepthRenderbuffer(), lender.getDepthRenderbuffer()) << "the lent depth is lent again";
  EXPECT_EQ(borrower.checkStatus(true), GL_FRAMEBUFFER_COMPLETE_EXT);

  // The rebuilt target renders, and its image shows it.
  g_renderBackEnd.invalidatePrograms();
  g_renderBackEnd.setViewport(0, 0, kSize, kSize);
  g_renderBackEnd.setRenderSize(kSize, kSize);
  ASSERT_TRUE(lender.pushRenderTarget(true));
  clearTo(0.0f, 1.0f, 0.0f);
  FrameBufferObject::popRenderTarget();
  g_renderBackEnd.setOrtho2D(kSize, kSize);
  clearTo(0.0f, 0.0f, 1.0f);
  Material* show = material("{\nrgb 1\n}\n");
  show->stages[0].images[0] = held;
  show->stages[0].imageCount = 1;
  draw(quad(show, 0, 0, kSize, kSize));
  show->stages[0].images[0] = nullptr;
  expectRect(4, 4, 60, 60, kGreen, "the rebuilt target's colour");
}

}  // namespace
