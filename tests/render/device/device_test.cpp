// The render device against a recording fake of GL and the context layer: what reaches GL, what the
// caches filter, the code tables, and the refusals (stack overflow, codes outside the tables).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "lib/interface/commonsystem.h"
#include "lib/interface/managerfactory.h"
#include "lib/matrix.h"
#include "lib/vector.h"
#include "render/device/renderopengl.h"
#include "render/device/support/fakegl.h"
#include "tests/support/capturecmdsystem.h"
#include "tests/support/nullcommon.h"

using fakegl::call;

namespace {

const char* kFakeExtensions =
    "GL_ARB_multitexture GL_ARB_vertex_buffer_object GL_ARB_vertex_program GL_ARB_fragment_program "
    "GL_EXT_stencil_two_side GL_EXT_stencil_wrap GL_ARB_texture_compression";

// The table slot of a virtual member (the Itanium ABI stores 1 + the byte
// offset into the table in a virtual member pointer).
template <typename F>
long slotOf(F f) {
  struct Rep {
    uintptr_t ptr;
    ptrdiff_t adjust;
  } rep;
  static_assert(sizeof(F) == sizeof(Rep));
  std::memcpy(&rep, &f, sizeof(rep));
  return long((rep.ptr - 1) / sizeof(void*));
}

TEST(RenderInterfaceTable, TheTwoExtraOperationsFollowTheOriginalSlots) {
  EXPECT_EQ(slotOf(&RenderInterface::setCullMode), slotOf(&RenderInterface::readPixels) + 1);
  EXPECT_EQ(slotOf(&RenderInterface::readStencil), slotOf(&RenderInterface::getExternalFormat) + 1);
  EXPECT_EQ(slotOf(&RenderInterface::drawPixelsOverFrame), slotOf(&RenderInterface::readStencil) + 1);
}

class DeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake.extensions = kFakeExtensions;
    device.createContext(fakeWindow(), nullptr, 32);
    ASSERT_EQ(device.contextCount(), 1);
    fake.recordExtensions();
    fake.clearCalls();
  }

  void* mainContext() { return device.context(0)->glContext; }
  // Every call straight through to GL: these tests check the translation, not the state cache.
  void unfiltered() {
    device.setStateFiltering(false);
    fake.clearCalls();
  }

  FakeGL fake;
  RenderOpenGL device;
};

TEST_F(DeviceTest, MainContextIsMadeWithDepthScissorAndStencilEnabled) {
  FakeGL& f = FakeGL::instance();
  f.clearCalls();
  RenderOpenGL other;
  other.createContext(fakeWindow(), nullptr, 32);
  EXPECT_TRUE(f.has(call("glEnable", GL_DEPTH_TEST))) << f.dump();
  EXPECT_TRUE(f.has(call("glEnable", GL_SCISSOR_TEST)));
  EXPECT_TRUE(f.has(call("glEnable", GL_STENCIL_TEST)));
  EXPECT_EQ(other.clipPlaneCount(), 6);
  EXPECT_STREQ(other.getVersionName(), "OpenGL20");
}

TEST_F(DeviceTest, ScissorReachesGLOnlyOnChange) {
  device.setScissor(1, 2, 3, 4);
  device.setScissor(1, 2, 3, 4);
  device.setScissor(1, 2, 3, 5);
  device.setScissor(1, 2, 3, 5);
  EXPECT_EQ(fake.count("glScissor"), 2) << fake.dump();
  EXPECT_TRUE(fake.has(call("glScissor", 1, 2, 3, 5)));

  device.setStateFiltering(false);
  device.setScissor(1, 2, 3, 5);
  EXPECT_EQ(fake.count("glScissor"), 3);
}

TEST_F(DeviceTest, ClipPlanesAreCachedAndIndicesBeyondTheDriverAreIgnored) {
  device.enableClipPlane(2);
  device.enableClipPlane(2);
  device.disableClipPlane(2);
  device.disableClipPlane(2);
  EXPECT_EQ(fake.count(call("glEnable", GL_CLIP_PLANE0 + 2)), 1);
  EXPECT_EQ(fake.count(call("glDisable", GL_CLIP_PLANE0 + 2)), 1);

  // The fake driver has 6 planes: 6 and beyond (and negatives) never reach GL or the cache.
  fake.clearCalls();
  device.setError(kRenderErrorNone);
  device.enableClipPlane(6);
  device.enableClipPlane(16);
  device.disableClipPlane(-1);
  EXPECT_TRUE(fake.calls.empty()) << fake.dump();
  EXPECT_EQ(device.getErrorCode(), kRenderErrorInvalidParam);
}

TEST_F(DeviceTest, ClipPlaneIsExpressedInTheObjectFrame) {
  // Plane x = 10 (normal +x, distance 10); object rotated 90 degrees about z, at (2, 3, 4).
  Plane plane;
  plane.a = 1;
  plane.d = 10;
  Mat3 axis;
  axis.rows[0] = Vec3(0, 1, 0);
  axis.rows[1] = Vec3(-1, 0, 0);
  axis.rows[2] = Vec3(0, 0, 1);
  const Vec3 origin(2, 3, 4);
  device.setClipPlane(1, &plane, &axis, &origin);
  EXPECT_DOUBLE_EQ(fake.lastClipPlane[0], 0.0);
  EXPECT_DOUBLE_EQ(fake.lastClipPlane[1], -1.0);
  EXPECT_DOUBLE_EQ(fake.lastClipPlane[2], 0.0);
  EXPECT_DOUBLE_EQ(fake.lastClipPlane[3], 2.0 - 10.0);
  // Loaded under the engine-to-GL axis matrix, then the mirror is back where it was.
  EXPECT_EQ(fake.count("glPushMatrix"), 1);
  EXPECT_EQ(fake.count("glPopMatrix"), 1);
  EXPECT_EQ(fake.count("glLoadMatrixf"), 1);
  EXPECT_TRUE(fake.has(call("glEnable", GL_CLIP_PLANE0 + 1)));
  Mat4 mv;
  mv.m[12] = 99;
  device.getModelViewMatrix(&mv);
  EXPECT_EQ(mv.m[0], 1.0f);
  EXPECT_EQ(mv.m[12], 0.0f);
}

TEST_F(DeviceTest, MakeCurrentAndPushPopCallTheLayerOnlyOnChange) {
  device.makeMainContextCurrent();
  EXPECT_EQ(fake.count("makeCurrent"), 0) << fake.dump();

  device.pushContext();
  device.popContext();
  EXPECT_EQ(fake.count("makeCurrent"), 0) << "push then pop with nothing between";

  RenderContextRecord* sub = device.allocSubContext(fakeWindow());
  ASSERT_NE(sub, nullptr);
  EXPECT_TRUE(fake.has(call("createContext", fakeWindow(), mainContext())));
  device.makeMainContextCurrent();
  fake.clearCalls();

  device.pushContext();
  device.makeCurrent(sub);
  device.makeCurrent(sub);
  device.popContext();
  ASSERT_EQ(fake.count("makeCurrent"), 2) << fake.dump();
  EXPECT_EQ(fake.calls.back(), call("makeCurrent", fakeWindow(), mainContext()));
  EXPECT_EQ(fake.currentContext, mainContext());

  // The stack records what is really current, whoever made it so.
  fake.clearCalls();
  fake.currentContext = sub->glContext;
  device.pushContext();
  device.makeMainContextCurrent();
  device.popContext();
  EXPECT_EQ(fake.currentContext, sub->glContext) << fake.dump();
}

TEST_F(DeviceTest, ContextStackRefusesOverflowAndUnderflow) {
  for (int i = 0; i < RenderOpenGL::kContextStackSize - 1; ++i) {
    device.pushContext();
  }
  EXPECT_EQ(device.contextStackIndex(), 7);
  EXPECT_EQ(device.getErrorCode(), kRenderErrorNone);
  device.pushContext();
  EXPECT_EQ(device.contextStackIndex(), 7);
  EXPECT_EQ(device.getErrorCode(), kRenderErrorInvalidCall);

  device.setError(kRenderErrorNone);
  for (int i = 0; i < 7; ++i) {
    device.popContext();
  }
  EXPECT_EQ(device.getErrorCode(), kRenderErrorNone);
  device.popContext();
  EXPECT_EQ(device.contextStackIndex(), 0);
  EXPECT_EQ(device.getErrorCode(), kRenderErrorInvalidCall);
}

TEST_F(DeviceTest, FreeingTheOnlyContextLeavesNothingCurrent) {
  device.freeSubContext(device.context(0));
  EXPECT_EQ(device.contextCount(), 0);
  EXPECT_EQ(fake.currentContext, nullptr);
  EXPECT_EQ(fake.count("makeCurrent"), 1) << fake.dump();
  // Nothing to select any more; push and pop are inert without a context.
  device.makeMainContextCurrent();
  device.pushContext();
  EXPECT_EQ(device.contextStackIndex(), 0);
  EXPECT_EQ(fake.count("makeCurrent"), 1);
}

TEST_F(DeviceTest, FailedSubContextLeavesNoRecord) {
  fake.failContextCreation = true;
  EXPECT_EQ(device.allocSubContext(fakeWindow()), nullptr);
  EXPECT_EQ(device.contextCount(), 1);
  EXPECT_EQ(fake.currentContext, mainContext());
}

TEST_F(DeviceTest, MatrixStacksMirrorGLAndRefuseOverflow) {
  device.setMatrixMode(kMatrixProjection);
  for (int i = 0; i < RenderOpenGL::kMatrixStackSize - 1; ++i) {
    device.pushMatrix();
  }
  EXPECT_EQ(device.getErrorCode(), kRenderErrorNone);
  EXPECT_EQ(fake.count("glPushMatrix"), 63);
  device.pushMatrix();
  EXPECT_EQ(device.getErrorCode(), kRenderErrorInvalidCall);
  EXPECT_EQ(fake.count("glPushMatrix"), 63) << "a refused push must not reach GL either";

  device.setError(kRenderErrorNone);
  for (int i = 0; i < 63; ++i) {
    device.popMatrix();
  }
  device.popMatrix();
  EXPECT_EQ(device.getErrorCode(), kRenderErrorInvalidCall);
  EXPECT_EQ(fake.count("glPopMatrix"), 63);

  // The model-view stack is separate and still at its base.
  device.setError(kRenderErrorNone);
  device.setMatrixMode(kMatrixModelView);
  device.popMatrix();
  EXPECT_EQ(device.getErrorCode(), kRenderErrorInvalidCall);
}

TEST_F(DeviceTest, PushedMatrixIsRestoredByPop) {
  const Mat4 translate = Mat4::translate(Vec3(5, 6, 7));
  device.setMatrixMode(kMatrixModelView);
  device.loadMatrix(&translate);
  device.pushMatrix();
  device.loadIdentity();
  Mat4 out;
  device.getModelViewMatrix(&out);
  EXPECT_EQ(out.m[12], 0.0f);
  device.popMatrix();
  device.getModelViewMatrix(&out);
  EXPECT_EQ(std::memcmp(out.m, translate.m, sizeof(out.m)), 0);
}

TEST_F(DeviceTest, UnknownMatrixModeStoresErrorAndLeavesMirrorsAlone) {
  device.setMatrixMode(3);
  EXPECT_EQ(device.getErrorCode(), kRenderErrorInvalidParam);
  EXPECT_EQ(fake.count("glMatrixMode"), 0);
  device.loadIdentity();
  EXPECT_EQ(fake.count("glLoadIdentity"), 1);
  Mat4 out;
  device.getModelViewMatrix(&out);
  EXPECT_EQ(out.m[0], 1.0f);
  device.pushMatrix();
  EXPECT_EQ(fake.count("glPushMatrix"), 0);
}

TEST_F(DeviceTest, ModelViewProjectionIsTheModelViewTimesProjection) {
  Mat4 mvMatrix;
  Mat4 projMatrix;
  const float modelViewValues[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 5, 6, 7, 1};
  const float projectionValues[16] = {2, 0, 0, 0, 0, 3, 0, 0, 0, 0, 4, -1, 0, 0, 1, 0};
  std::memcpy(mvMatrix.m, modelViewValues, sizeof(mvMatrix.m));
  std::memcpy(projMatrix.m, projectionValues, sizeof(projMatrix.m));
  device.setMatrixMode(kMatrixModelView);
  device.loadMatrix(&mvMatrix);
  device.setMatrixMode(kMatrixProjection);
  device.loadMatrix(&projMatrix);
  Mat4 mvpMatrix;
  device.getModelViewProjectionMatrix(&mvpMatrix);
  const float* modelView = mvMatrix.m;
  const float* projection = projMatrix.m;
  const float* mvp = mvpMatrix.m;
  // A point through the product equals the point through modelview, then projection (clip = P * MV * p).
  const float point[4] = {1, 2, 3, 1};
  float eye[4];
  float clip[4];
  float direct[4];
  for (int r = 0; r < 4; ++r) {
    eye[r] = modelView[r] * point[0] + modelView[4 + r] * point[1] + modelView[8 + r] * point[2] +
             modelView[12 + r];
  }
  for (int r = 0; r < 4; ++r) {
    clip[r] = projection[r] * eye[0] + projection[4 + r] * eye[1] + projection[8 + r] * eye[2] +
              projection[12 + r] * eye[3];
    direct[r] = mvp[r] * point[0] + mvp[4 + r] * point[1] + mvp[8 + r] * point[2] + mvp[12 + r];
  }
  for (int r = 0; r < 4; ++r) {
    EXPECT_FLOAT_EQ(direct[r], clip[r]) << r;
  }
}

TEST_F(DeviceTest, BlendOneZeroDisablesBlending) {
  device.setBlendFunc(kBlendOne, kBlendZero);
  ASSERT_EQ(fake.calls.size(), 1u);
  EXPECT_EQ(fake.calls[0], call("glDisable", GL_BLEND));
  fake.clearCalls();
  device.setBlendFunc(kBlendZero, kBlendOne);
  ASSERT_EQ(fake.calls.size(), 2u);
  EXPECT_EQ(fake.calls[0], call("glEnable", GL_BLEND));
  EXPECT_EQ(fake.calls[1], call("glBlendFunc", GL_ZERO, GL_ONE));
}

TEST_F(DeviceTest, CodeTablesTranslateEveryCode) {
  const GLenum blend[] = {GL_ZERO,      GL_ONE,
                          GL_SRC_COLOR, GL_ONE_MINUS_SRC_COLOR,
                          GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA,
                          GL_DST_ALPHA, GL_ONE_MINUS_DST_ALPHA,
                          GL_DST_COLOR, GL_ONE_MINUS_DST_COLOR};
  for (int code = 1; code <= 10; ++code) {
    fake.clearCalls();
    device.setBlendFunc(code, kBlendSrcAlpha);
    EXPECT_EQ(fake.calls.back(), call("glBlendFunc", blend[code - 1], GL_SRC_ALPHA)) << code;
  }
  const GLenum compare[] = {GL_NEVER,   GL_LESS,     GL_EQUAL,  GL_LEQUAL,
                            GL_GREATER, GL_NOTEQUAL, GL_GEQUAL, GL_ALWAYS};
  for (int code = 1; code <= 8; ++code) {
    fake.clearCalls();
    device.setDepthFunc(code);
    device.setStencilFunc(code, 128, 255);
    ASSERT_EQ(fake.calls.size(), 2u);
    EXPECT_EQ(fake.calls[0], call("glDepthFunc", compare[code - 1]));
    EXPECT_EQ(fake.calls[1], call("glStencilFunc", compare[code - 1], 128, 255));
  }
  const GLenum ops[] = {GL_KEEP, GL_ZERO,   GL_REPLACE,   GL_INCR,
                        GL_DECR, GL_INVERT, GL_INCR_WRAP, GL_DECR_WRAP};
  for (int code = 1; code <= 8; ++code) {
    fake.clearCalls();
    device.setStencilOp(code, kStencilKeep, code);
    ASSERT_EQ(fake.calls.size(), 1u) << code << " error " << device.getErrorCode();
    EXPECT_EQ(fake.calls.back(), call("glStencilOp", ops[code - 1], GL_KEEP, ops[code - 1]));
  }
  const GLenum modes[] = {GL_POINT, GL_LINE, GL_FILL};
  for (int code = 0; code <= 2; ++code) {
    fake.clearCalls();
    device.setPolygonMode(code);
    EXPECT_EQ(fake.calls.back(), call("glPolygonMode", GL_FRONT_AND_BACK, modes[code]));
  }
}

TEST_F(DeviceTest, CodesOutsideTheTablesAreRefused) {
  struct Case {
    const char* what;
    void (*run)(RenderOpenGL&);
  };
  const Case cases[] = {
      {"blend 0", [](RenderOpenGL& d) { d.setBlendFunc(0, 1); }},
      {"blend 11", [](RenderOpenGL& d) { d.setBlendFunc(5, 11); }},
      {"depth 0", [](RenderOpenGL& d) { d.setDepthFunc(0); }},
      {"depth 9", [](RenderOpenGL& d) { d.setDepthFunc(9); }},
      {"depth huge", [](RenderOpenGL& d) { d.setDepthFunc(1 << 30); }},
      {"alpha -3", [](RenderOpenGL& d) { d.setAlphaFunc(-3, 0.5f); }},
      {"stencil func 9", [](RenderOpenGL& d) { d.setStencilFunc(9, 0, 255); }},
      {"stencil op 0", [](RenderOpenGL& d) { d.setStencilOp(1, 0, 1); }},
      {"stencil face op 9", [](RenderOpenGL& d) { d.setStencilOpFace(1, 9, 1, 1); }},
      {"polygon mode 3", [](RenderOpenGL& d) { d.setPolygonMode(3); }},
      {"texture type 3", [](RenderOpenGL& d) { d.bindTexture(3, 1); }},
      {"wrap 3", [](RenderOpenGL& d) { d.setTextureWrap(0, 3); }},
      {"filter 4", [](RenderOpenGL& d) { d.setTextureFilter(0, 4, true); }},
      {"texture unit -1", [](RenderOpenGL& d) { d.selectTextureUnit(-1, 0); }},
      {"read format 40",
       [](RenderOpenGL& d) {
         char pixel[16];
         d.readPixels(pixel, 0, 0, 1, 1, 40);
       }},
      {"cube face 6",
       [](RenderOpenGL& d) {
         ImageInfo info{1, 1, 0, kPixelFormatRGBA, kTextureTypeCube, 99};
         const unsigned char pixel[4] = {};
         d.uploadTexImage(&info, 0, pixel, 6);
       }},
  };
  for (const Case& c : cases) {
    fake.clearCalls();
    device.setError(kRenderErrorNone);
    c.run(device);
    EXPECT_TRUE(fake.calls.empty()) << c.what << "\n" << fake.dump();
    EXPECT_EQ(device.getErrorCode(), kRenderErrorInvalidParam) << c.what;
  }
  EXPECT_EQ(device.getInternalFormat(-1), 0u);
  EXPECT_EQ(device.getInternalFormat(29), 0u);
  EXPECT_EQ(device.getExternalFormat(1000), 0u);
}

TEST_F(DeviceTest, AlphaTestOffForAlwaysAndReferenceClamped) {
  device.setAlphaFunc(kCompareAlways, 0.3f);
  EXPECT_EQ(fake.calls, std::vector<std::string>{call("glDisable", GL_ALPHA_TEST)});
  fake.clearCalls();
  device.setAlphaFunc(kCompareGreater, 1.5f);
  EXPECT_EQ(fake.calls.back(), call("glAlphaFunc", GL_GREATER, 1.0f));
  device.setAlphaFunc(kCompareLess, -2.0f);
  EXPECT_EQ(fake.calls.back(), call("glAlphaFunc", GL_LESS, 0.0f));
  device.setAlphaFunc(kCompareLess, std::nanf(""));
  EXPECT_EQ(fake.calls.back(), call("glAlphaFunc", GL_LESS, 0.0f));
}

TEST_F(DeviceTest, CullClearOffsetAndLineWidth) {
  unfiltered();
  device.setCullMode(kCullFront);
  device.setCullMode(7);
  device.setCullMode(kCullNone);
  device.clear(kClearColor | kClearStencil);
  device.setPolygonOffset(0, 0, 1);
  device.setPolygonOffset(1, 2, kOffsetLine);
  device.setLineWidth(1500);
  const std::vector<std::string> expected = {
      call("glEnable", GL_CULL_FACE),
      call("glCullFace", GL_FRONT),
      call("glEnable", GL_CULL_FACE),
      call("glCullFace", GL_BACK),
      call("glDisable", GL_CULL_FACE),
      call("glClear", GL_COLOR_BUFFER_BIT | GL_STENCIL_BUFFER_BIT),
      call("glDisable", GL_POLYGON_OFFSET_FILL),
      call("glDisable", GL_POLYGON_OFFSET_LINE),
      call("glEnable", GL_POLYGON_OFFSET_LINE),
      call("glPolygonOffset", 1.0f, 2.0f),
      call("glLineWidth", 1.5f),
  };
  EXPECT_EQ(fake.calls, expected);
}

TEST_F(DeviceTest, TwoSidedStencilSelectsTheFace) {
  device.setStencilOpFace(kStencilFaceBack, kStencilKeep, kStencilIncrWrap, kStencilKeep);
  device.setStencilOpFace(kStencilFaceBoth, kStencilKeep, kStencilKeep, kStencilKeep);
  const std::vector<std::string> expected = {
      call("glEnable", GL_STENCIL_TEST_TWO_SIDE_EXT),      call("glActiveStencilFaceEXT", GL_BACK),
      call("glStencilOp", GL_KEEP, GL_INCR_WRAP, GL_KEEP), call("glDisable", GL_STENCIL_TEST_TWO_SIDE_EXT),
      call("glStencilOp", GL_KEEP, GL_KEEP, GL_KEEP),
  };
  EXPECT_EQ(fake.calls, expected);
  EXPECT_TRUE(device.hasStencilFeature(kStencilFeatureWrap));
  EXPECT_TRUE(device.hasStencilFeature(kStencilFeatureTwoSided));
  EXPECT_FALSE(device.hasStencilFeature(2));
}

TEST_F(DeviceTest, TextureFilterAndWrapTables) {
  struct Case {
    int quality;
    bool mipmapped;
    GLint min;
    GLint mag;
  };
  const Case cases[] = {
      {0, true, GL_NEAREST_MIPMAP_LINEAR, GL_NEAREST},
      {1, true, GL_NEAREST_MIPMAP_LINEAR, GL_NEAREST},
      {1, false, GL_NEAREST, GL_NEAREST},
      {2, true, GL_LINEAR_MIPMAP_LINEAR, GL_LINEAR},
      {2, false, GL_LINEAR, GL_LINEAR},
      {3, true, GL_LINEAR, GL_LINEAR},
  };
  for (const Case& c : cases) {
    fake.clearCalls();
    device.setTextureFilter(kTextureTypeCube, c.quality, c.mipmapped);
    const std::vector<std::string> expected = {
        call("glTexParameteri", GL_TEXTURE_CUBE_MAP, GL_TEXTURE_MIN_FILTER, c.min),
        call("glTexParameteri", GL_TEXTURE_CUBE_MAP, GL_TEXTURE_MAG_FILTER, c.mag)};
    EXPECT_EQ(fake.calls, expected) << c.quality << " " << c.mipmapped;
  }
  const GLint wraps[] = {GL_REPEAT, GL_MIRRORED_REPEAT, GL_CLAMP_TO_EDGE};
  for (int wrap = 0; wrap < 3; ++wrap) {
    fake.clearCalls();
    device.setTextureWrap(kTextureType3D, wrap);
    EXPECT_EQ(fake.count(call("glTexParameteri", GL_TEXTURE_3D, GL_TEXTURE_WRAP_S, wraps[wrap])), 1);
    EXPECT_EQ(fake.count(call("glTexParameteri", GL_TEXTURE_3D, GL_TEXTURE_WRAP_R, wraps[wrap])), 1);
  }
}

TEST_F(DeviceTest, PixelFormatTables) {
  EXPECT_EQ(device.getInternalFormat(kPixelFormatRGB), static_cast<unsigned>(GL_RGB));
  EXPECT_EQ(device.getInternalFormat(kPixelFormatDXT5),
            static_cast<unsigned>(GL_COMPRESSED_RGBA_S3TC_DXT5_EXT));
  EXPECT_EQ(device.getInternalFormat(kPixelFormatDepth24), static_cast<unsigned>(GL_DEPTH_COMPONENT24));
  EXPECT_EQ(device.getInternalFormat(17), 0u);
  EXPECT_EQ(device.getExternalFormat(kPixelFormatDepth24), static_cast<unsigned>(GL_DEPTH_COMPONENT));
  EXPECT_EQ(device.getExternalFormat(kPixelFormatDXT1), static_cast<unsigned>(GL_RGBA));
  EXPECT_EQ(device.getExternalFormat(kPixelFormatL8A8), static_cast<unsigned>(GL_LUMINANCE_ALPHA));
  EXPECT_EQ(device.getExternalFormat(kPixelFormatI16F), static_cast<unsigned>(GL_LUMINANCE));
  EXPECT_EQ(device.getExternalFormat(kPixelFormatNone), 0u);
}

TEST_F(DeviceTest, CubeFaceThreeIsNegativeY) {
  ImageInfo info{2, 2, 0, kPixelFormatRGBA, kTextureTypeCube, 99};
  unsigned char pixels[16] = {};
  device.uploadTexImage(&info, 1, pixels, 3);
  EXPECT_EQ(fake.count(call("glPixelStorei", GL_UNPACK_ALIGNMENT, 1)), 1);
  EXPECT_EQ(fake.calls.back(), call("glTexImage2D", GL_TEXTURE_CUBE_MAP_NEGATIVE_Y, 1, GL_RGBA, 2, 2, 0,
                                    GL_RGBA, GL_UNSIGNED_BYTE, static_cast<const void*>(pixels)));
}

TEST_F(DeviceTest, ReadBacksPackRowsTightly) {
  unsigned char rgb[3 * 3 * 3];
  device.readPixels(rgb, 0, 0, 3, 3, kPixelFormatRGB);
  ASSERT_EQ(fake.calls.size(), 2u);
  EXPECT_EQ(fake.calls[0], call("glPixelStorei", GL_PACK_ALIGNMENT, 1));
  float depth[4];
  device.readPixels(depth, 0, 0, 2, 2, kPixelFormatDepth24);
  EXPECT_EQ(fake.calls.back(),
            call("glReadPixels", 0, 0, 2, 2, GL_DEPTH_COMPONENT, GL_FLOAT, static_cast<void*>(depth)));
  fake.clearCalls();
  device.getTexImage(kTextureType2D, kPixelFormatRGB, rgb);
  EXPECT_EQ(fake.calls.front(), call("glPixelStorei", GL_PACK_ALIGNMENT, 1));
}

TEST_F(DeviceTest, StencilReadsAndOverlaysRefuseBadArguments) {
  uint8_t stencil[4] = {7, 7, 7, 7};
  ASSERT_TRUE(device.readStencil(stencil, 1, 2, 2, 2));
  EXPECT_EQ(fake.calls.front(), call("glPixelStorei", GL_PACK_ALIGNMENT, 1));
  EXPECT_EQ(fake.calls.back(), call("glReadPixels", 1, 2, 2, 2, GL_STENCIL_INDEX, GL_UNSIGNED_BYTE,
                                    static_cast<void*>(stencil)));

  // A null buffer or an empty region reaches neither GL nor the buffer, and stores error 1.
  fake.clearCalls();
  const uint8_t rgb[3] = {1, 2, 3};
  EXPECT_FALSE(device.readStencil(nullptr, 0, 0, 2, 2));
  EXPECT_FALSE(device.readStencil(stencil, 0, 0, 0, 2));
  device.drawPixelsOverFrame(nullptr, 1, 1);
  device.drawPixelsOverFrame(rgb, 1, -1);
  EXPECT_TRUE(fake.calls.empty()) << fake.dump();
  EXPECT_EQ(device.getErrorCode(), kRenderErrorInvalidParam);

  // Every attribute push is matched by a pop before the call returns.
  device.drawPixelsOverFrame(rgb, 1, 1);
  EXPECT_EQ(fake.count("glPushAttrib"), 1) << fake.dump();
  EXPECT_EQ(fake.count("glPopAttrib"), 1);
  EXPECT_TRUE(fake.has(call("glDrawPixels", 1, 1, GL_RGB, GL_UNSIGNED_BYTE, static_cast<const void*>(rgb))));

  // No context, no stencil bits: nothing is read.
  RenderOpenGL bare;
  fake.clearCalls();
  EXPECT_FALSE(bare.readStencil(stencil, 0, 0, 2, 2));
  EXPECT_EQ(fake.count("glReadPixels"), 0);
  EXPECT_EQ(stencil[0], 7);
}

TEST_F(DeviceTest, VertexBufferArraysFollowTheFlags) {
  VertexBufferHandle* handle = device.createVertexBuffer();
  ASSERT_NE(handle, nullptr);
  fake.clearCalls();

  ASSERT_TRUE(device.bindVertexBuffer(handle, kVertexArrayTexCoord | kVertexArraySpareTexCoord));
  EXPECT_EQ(fake.count("glVertexAttribPointerARB"), 0)
      << "generic attributes wait for a draw that reads them";
  device.flushDeferredState();
  EXPECT_EQ(fake.count("glTexCoordPointer"), 1);
  EXPECT_TRUE(fake.has(call("glTexCoordPointer", 2, GL_FLOAT, 68, 12)));
  EXPECT_TRUE(fake.has(call("glVertexAttribPointerARB", 8, 2, GL_FLOAT, GL_FALSE, 68, 12)))
      << "generic attributes are bound beside the fixed-function arrays";
  EXPECT_EQ(fake.count("glEnableVertexAttribArrayARB"), 5);

  fake.clearCalls();
  device.bindVertexBuffer(handle, kVertexArrayPositionAsTexCoord | kVertexArrayTexCoord);
  device.flushDeferredState();
  EXPECT_EQ(fake.count("glTexCoordPointer"), 1);
  EXPECT_TRUE(fake.has(call("glTexCoordPointer", 3, GL_FLOAT, 68, 0)));

  fake.clearCalls();
  device.bindVertexBuffer(handle, kVertexArrayPosition | kVertexArrayPosition4 | kVertexArrayColor);
  device.flushDeferredState();
  ASSERT_EQ(fake.count("glVertexPointer"), 2);
  int last = -1;
  for (int i = 0; i < static_cast<int>(fake.calls.size()); ++i) {
    if (fake.calls[i].rfind("glVertexPointer", 0) == 0) {
      last = i;
    }
  }
  EXPECT_EQ(fake.calls[last], call("glVertexPointer", 4, GL_FLOAT, 0, 0)) << "the packed pointer wins";
  EXPECT_EQ(fake.count("glVertexAttribPointerARB"), 0) << "packed buffers have no attribute fields";
  EXPECT_EQ(fake.count("glDisableVertexAttribArrayARB"), 5);
  EXPECT_TRUE(fake.has(call("glColorPointer", 4, GL_UNSIGNED_BYTE, 68, 64)));

  EXPECT_FALSE(device.bindVertexBuffer(nullptr, kVertexArrayPosition));
  fake.clearCalls();
  EXPECT_FALSE(device.setTexCoordPointer(nullptr, kVertexArrayTexCoord));
  EXPECT_EQ(fake.calls, std::vector<std::string>{call("glDisableClientState", GL_TEXTURE_COORD_ARRAY)});

  device.freeVertexBuffer(&handle);
  EXPECT_EQ(handle, nullptr);
  device.freeVertexBuffer(&handle);
}

TEST_F(DeviceTest, GenericAttributesAreEnabledOnceAndPointAtTheFields) {
  VertexBufferHandle* handle = device.createVertexBuffer();
  fake.clearCalls();
  device.setVertexAttribPointers(handle, 0);
  device.flushDeferredState();
  device.setVertexAttribPointers(handle, kVertexArrayPositionAsTexCoord);
  device.flushDeferredState();
  EXPECT_EQ(fake.count("glEnableVertexAttribArrayARB"), 5) << fake.dump();
  EXPECT_TRUE(fake.has(call("glVertexAttribPointerARB", 8, 2, GL_FLOAT, GL_FALSE, 68, 12)));
  EXPECT_TRUE(fake.has(call("glVertexAttribPointerARB", 8, 3, GL_FLOAT, GL_FALSE, 68, 0)));
  EXPECT_TRUE(fake.has(call("glVertexAttribPointerARB", 9, 2, GL_FLOAT, GL_FALSE, 68, 20)));
  EXPECT_TRUE(fake.has(call("glVertexAttribPointerARB", 10, 3, GL_FLOAT, GL_FALSE, 68, 28)));
  EXPECT_TRUE(fake.has(call("glVertexAttribPointerARB", 11, 3, GL_FLOAT, GL_FALSE, 68, 40)));
  EXPECT_TRUE(fake.has(call("glVertexAttribPointerARB", 12, 3, GL_FLOAT, GL_FALSE, 68, 52)));
  device.disableVertexAttribArrays();
  device.flushDeferredState();
  device.disableVertexAttribArrays();
  device.setVertexAttribPointers(nullptr, 0);
  device.flushDeferredState();
  EXPECT_EQ(fake.count("glDisableVertexAttribArrayARB"), 5);

  // Without filtering every call reaches GL at once, the pointers reading from the handle's buffer
  // even when another one is bound.
  unfiltered();
  device.setVertexAttribPointers(handle, 0);
  EXPECT_EQ(fake.count("glEnableVertexAttribArrayARB"), 5) << fake.dump();
  EXPECT_EQ(fake.count("glVertexAttribPointerARB"), 5);
  EXPECT_TRUE(fake.has(call("glBindBufferARB", GL_ARRAY_BUFFER_ARB, handle->bufferId))) << fake.dump();
  EXPECT_EQ(fake.calls.back(), call("glBindBufferARB", GL_ARRAY_BUFFER_ARB, 0))
      << "the device's own binding comes back";
  device.freeVertexBuffer(&handle);
}

TEST_F(DeviceTest, ABufferNameGivenAgainAfterADeleteIsBoundAgain) {
  // GL drops the bindings of a deleted buffer; a new buffer with the same name is not bound yet.
  VertexBufferHandle* first = device.createVertexBuffer();
  const unsigned name = first->bufferId;
  device.bindVertexBuffer(first, kVertexArrayPosition | kVertexArrayTexCoord);
  device.setVertexAttribPointers(first, 0);
  device.freeVertexBuffer(&first);
  fake.nextName = name;
  VertexBufferHandle* second = device.createVertexBuffer();
  ASSERT_EQ(second->bufferId, name);
  fake.clearCalls();
  device.bindVertexBuffer(second, kVertexArrayPosition | kVertexArrayTexCoord);
  device.flushDeferredState();
  EXPECT_EQ(fake.count(call("glBindBufferARB", GL_ARRAY_BUFFER_ARB, name)), 1) << fake.dump();
  EXPECT_EQ(fake.count("glVertexAttribPointerARB"), 5) << "the attribute pointers are set again";
  device.freeVertexBuffer(&second);
}

TEST_F(DeviceTest, UnbindClearsClientArraysOnEveryUsedUnit) {
  unfiltered();
  for (int unit = 0; unit < 4; ++unit) {
    device.selectTextureUnit(unit, 0);
  }
  device.selectTextureUnit(1, 0);
  fake.clearCalls();
  device.unbindVertexBuffer();
  for (int unit = 0; unit < 4; ++unit) {
    EXPECT_TRUE(fake.has(call("glClientActiveTextureARB", GL_TEXTURE0_ARB + unit))) << unit;
  }
  EXPECT_EQ(fake.count(call("glDisableClientState", GL_VERTEX_ARRAY)), 4);
  EXPECT_EQ(fake.count(call("glDisableClientState", GL_COLOR_ARRAY)), 4);
  EXPECT_EQ(device.currentTextureUnit(), 3);

  // Arrays bound before any unit was selected are cleared as well.
  device.resetTextureUnits();
  fake.clearCalls();
  device.unbindVertexBuffer();
  EXPECT_EQ(fake.count(call("glDisableClientState", GL_VERTEX_ARRAY)), 1);
}

TEST_F(DeviceTest, UnbindingBetweenSurfacesCostsNothingUntilADrawOrFlushNeedsIt) {
  // The back end binds, draws and unbinds every surface: turning the arrays off and releasing the
  // buffer wait for a draw that does not use them (or a full flush), so a run of surfaces binds
  // only each buffer and its pointers.
  VertexBufferHandle* a = device.createVertexBuffer();
  VertexBufferHandle* b = device.createVertexBuffer();
  const int full = kVertexArrayPosition | kVertexArrayTexCoord | kVertexArrayColor;
  const unsigned indices[3] = {0, 1, 2};
  const auto drawn = [&](VertexBufferHandle* h, int flags) {
    fake.clearCalls();
    ASSERT_TRUE(device.bindVertexBuffer(h, flags));
    device.drawTriangles(indices, 3);
    device.unbindVertexBuffer();
  };
  device.selectTextureUnit(0, 0);  // as the back end's passes start
  drawn(a, full);
  drawn(b, full);
  EXPECT_EQ(fake.count("glBindBufferARB"), 1) << fake.dump();
  EXPECT_TRUE(fake.has(call("glBindBufferARB", GL_ARRAY_BUFFER_ARB, b->bufferId)));
  EXPECT_EQ(fake.count("glEnableClientState"), 0) << fake.dump();
  EXPECT_EQ(fake.count("glDisableClientState"), 0) << fake.dump();
  EXPECT_EQ(fake.count("glDrawElements"), 1);

  struct Case {
    const char* what;
    int flags;
    bool colourOff;
    bool texCoordOff;
  };
  const Case cases[] = {
      {"a packed volume reads positions only", kVertexArrayPosition4, true, true},
      {"a surface without colours", kVertexArrayPosition | kVertexArrayTexCoord, true, false},
      {"a surface with everything again", full, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    drawn(a, full);
    drawn(b, c.flags);
    int draw = -1;
    for (int i = 0; i < static_cast<int>(fake.calls.size()); ++i) {
      if (fake.calls[i].rfind("glDrawElements", 0) == 0) {
        draw = i;
      }
    }
    ASSERT_GE(draw, 0) << fake.dump();
    const auto offBeforeDraw = [&](GLenum array) {
      for (int i = 0; i < draw; ++i) {
        if (fake.calls[i] == call("glDisableClientState", array)) {
          return true;
        }
      }
      return false;
    };
    EXPECT_EQ(offBeforeDraw(GL_COLOR_ARRAY), c.colourOff) << fake.dump();
    EXPECT_EQ(offBeforeDraw(GL_TEXTURE_COORD_ARRAY), c.texCoordOff) << fake.dump();
    EXPECT_FALSE(offBeforeDraw(GL_VERTEX_ARRAY)) << fake.dump();
  }

  // Texture coordinates turned off on another unit go off there, and the current unit comes back.
  device.selectTextureUnit(1, 0);
  drawn(a, full);
  device.selectTextureUnit(0, 0);
  drawn(b, kVertexArrayPosition4);
  const std::vector<std::string> unitOne = {call("glClientActiveTextureARB", GL_TEXTURE0_ARB + 1),
                                            call("glDisableClientState", GL_TEXTURE_COORD_ARRAY),
                                            call("glClientActiveTextureARB", GL_TEXTURE0_ARB)};
  EXPECT_NE(std::search(fake.calls.begin(), fake.calls.end(), unitOne.begin(), unitOne.end()),
            fake.calls.end())
      << fake.dump();

  // A full flush leaves GL as the calls said: every array off and no buffer bound.
  drawn(a, full);
  fake.clearCalls();
  device.flushDeferredState();
  EXPECT_TRUE(fake.has(call("glDisableClientState", GL_VERTEX_ARRAY))) << fake.dump();
  EXPECT_TRUE(fake.has(call("glDisableClientState", GL_COLOR_ARRAY)));
  EXPECT_TRUE(fake.has(call("glDisableClientState", GL_TEXTURE_COORD_ARRAY)));
  EXPECT_TRUE(fake.has(call("glBindBufferARB", GL_ARRAY_BUFFER_ARB, 0)));
  fake.clearCalls();
  device.flushDeferredState();
  EXPECT_TRUE(fake.calls.empty()) << fake.dump();
  device.freeVertexBuffer(&a);
  device.freeVertexBuffer(&b);
}

TEST_F(DeviceTest, ResetTextureUnitsClearsEveryUsedUnit) {
  unfiltered();
  device.selectTextureUnit(2, 0);
  device.setMatrixMode(kMatrixModelView);
  fake.clearCalls();
  device.resetTextureUnits();
  for (int unit = 0; unit <= 2; ++unit) {
    EXPECT_TRUE(fake.has(call("glActiveTextureARB", GL_TEXTURE0_ARB + unit))) << unit;
  }
  EXPECT_EQ(fake.count(call("glDisable", GL_TEXTURE_2D)), 3);
  EXPECT_EQ(fake.count(call("glDisable", GL_TEXTURE_CUBE_MAP)), 3);
  EXPECT_EQ(fake.count(call("glMatrixMode", GL_TEXTURE)), 3);
  EXPECT_EQ(fake.count("glLoadIdentity"), 3);
  EXPECT_EQ(fake.calls.back(), call("glClientActiveTextureARB", GL_TEXTURE0_ARB));
  EXPECT_EQ(device.highestTextureUnit(), 0);
  EXPECT_EQ(device.currentTextureUnit(), 0);
}

TEST_F(DeviceTest, BindTextureEnablesOnlyItsTarget) {
  unfiltered();
  device.bindTexture(kTextureType3D, 7);
  const std::vector<std::string> expected = {
      call("glDisable", GL_TEXTURE_2D),
      call("glDisable", GL_TEXTURE_CUBE_MAP),
      call("glEnable", GL_TEXTURE_3D),
      call("glBindTexture", GL_TEXTURE_3D, 7),
  };
  EXPECT_EQ(fake.calls, expected);
}

TEST_F(DeviceTest, DrawTrianglesUses32BitClientIndices) {
  unfiltered();
  const unsigned indices[3] = {0, 1, 2};
  device.drawTriangles(indices, 3);
  device.drawTriangles(indices, 0);
  device.drawTriangles(nullptr, 3);
  EXPECT_EQ(fake.calls, std::vector<std::string>{call("glDrawElements", GL_TRIANGLES, 3, GL_UNSIGNED_INT,
                                                      static_cast<const void*>(indices))});
}

TEST_F(DeviceTest, ObjectsAreMadeInTheMainContextWhateverIsCurrent) {
  unfiltered();
  RenderContextRecord* sub = device.allocSubContext(fakeWindow());
  device.makeCurrent(sub);
  fake.clearCalls();
  device.createTexture();
  const std::vector<std::string> expected = {
      call("makeCurrent", fakeWindow(), mainContext()),
      call("glGenTextures", 1),
      call("makeCurrent", fakeWindow(), sub->glContext),
  };
  EXPECT_EQ(fake.calls, expected);
  device.freeSubContext(sub);
}

TEST_F(DeviceTest, FirstSwapTurnsOffTheSwapIntervalOnce) {
  device.swapBuffers();
  device.swapBuffers();
  EXPECT_EQ(fake.count(call("setSwapInterval", 0)), 1) << fake.dump();
  EXPECT_EQ(fake.count("swapWindow"), 2);
}

TEST(DeviceFormat, ColorDepthDecidesTheRequestedFramebuffer) {
  FakeGL fake;
  fake.extensions = kFakeExtensions;
  // Without a current context to describe, the device keeps what it asked for.
  void* (*create)(void*, void*) = [](void*, void*) -> void* {
    return reinterpret_cast<void*>(uintptr_t{0x77});
  };
  qgl::ctx.createContext = create;
  qgl::ctx.queryAttributes = [](PlatformGLAttributes*) { return false; };
  struct Case {
    int colorBits;
    int color;
    int alpha;
  };
  for (const Case& c : {Case{16, 5, 2}, Case{32, 8, 8}, Case{24, 8, 8}}) {
    RenderOpenGL device;
    device.createContext(fakeWindow(), nullptr, c.colorBits);
    const PlatformGLAttributes& format = device.pixelFormat();
    EXPECT_EQ(format.redBits, c.color);
    EXPECT_EQ(format.greenBits, c.color);
    EXPECT_EQ(format.blueBits, c.color);
    EXPECT_EQ(format.alphaBits, c.alpha);
    EXPECT_EQ(format.depthBits, 24);
    EXPECT_EQ(format.stencilBits, 8);
  }
}

TEST(DeviceFormat, SingleBufferedSwapOnlyFlushes) {
  FakeGL fake;
  fake.extensions = kFakeExtensions;
  fake.doubleBuffer = false;
  RenderOpenGL device;
  device.createContext(fakeWindow(), nullptr, 32);
  fake.clearCalls();
  device.swapBuffers();
  EXPECT_EQ(fake.calls, std::vector<std::string>{call("glFlush")});
}

TEST(DeviceFormat, NoMainContextReportsAndFailsInit) {
  FakeGL fake;
  CaptureCmdSystem console;
  fake.extensions = kFakeExtensions;
  fake.failContextCreation = true;
  RenderOpenGL device;
  EXPECT_FALSE(device.init(fakeWindow(), nullptr, 0));
  EXPECT_EQ(device.contextCount(), 0);
  EXPECT_EQ(console.output, "ERROR: OpenGL Init: SetPixelFormat in RenderOpenGL::allocSubContext failed\n");
  EXPECT_STREQ(device.getVersionName(), "OpenGL 1.0");
}

TEST(DeviceFormat, RemadeContextWithoutAFramebufferForgetsTheOldFlags) {
  FakeGL fake;
  fake.extensions = kFakeExtensions;
  RenderOpenGL device;
  device.createContext(fakeWindow(), nullptr, 32);
  ASSERT_EQ(qgl::ARB_vertex_program, 1);
  fake.failContextCreation = true;
  device.createContext(fakeWindow(), nullptr, 32);
  EXPECT_EQ(device.contextCount(), 0);
  EXPECT_EQ(qgl::ARB_vertex_program, 0);
  EXPECT_FALSE(device.isReady());
}

TEST(DeviceFormat, SeparateStencilPathWithoutTwoSidedStencil) {
  FakeGL fake;
  fake.extensions = "GL_ATI_separate_stencil GL_ARB_vertex_program GL_ARB_fragment_program";
  RenderOpenGL device;
  device.createContext(fakeWindow(), nullptr, 32);
  fake.recordExtensions();
  fake.clearCalls();
  device.setStencilOpFace(kStencilFaceFront, kStencilKeep, kStencilDecr, kStencilKeep);
  device.setStencilOpFace(kStencilFaceBack, kStencilKeep, kStencilIncr, kStencilKeep);
  device.setStencilOpFace(kStencilFaceBoth, kStencilZero, kStencilKeep, kStencilKeep);
  const std::vector<std::string> expected = {
      call("glStencilOpSeparateATI", GL_FRONT, GL_KEEP, GL_DECR, GL_KEEP),
      call("glStencilOpSeparateATI", GL_BACK, GL_KEEP, GL_INCR, GL_KEEP),
      call("glStencilOp", GL_ZERO, GL_KEEP, GL_KEEP),
  };
  EXPECT_EQ(fake.calls, expected);
  EXPECT_TRUE(device.hasStencilFeature(kStencilFeatureTwoSided));
  EXPECT_FALSE(device.hasStencilFeature(kStencilFeatureWrap));
}

TEST(DeviceFormat, InitFailsWithoutProgramExtensions) {
  FakeGL fake;
  fake.extensions = "GL_ARB_multitexture GL_ARB_vertex_program";
  RenderOpenGL device;
  EXPECT_FALSE(device.init(fakeWindow(), nullptr, 0));
  EXPECT_EQ(device.contextCount(), 0) << "a failed init undoes its contexts";
  EXPECT_STREQ(device.getVersionName(), "OpenGL20");
}

// Just enough of the common manager for the device's start-up: the window and the error box.
class WindowOnlyCommon : public NullCommon {
 public:
  WindowOnlyCommon() { g_commonSystem = this; }
  ~WindowOnlyCommon() override { g_commonSystem = nullptr; }
  void errorBox(const char* text, const char* caption) override {
    boxes += std::string(caption) + ": " + text;
  }
  int assertBox(const char*, const char*) override { return -1; }
  void* windowHandle() override { return fakeWindow(); }
  std::string boxes;
};

TEST(DeviceManager, StartsThroughTheManagerFactory) {
  FakeGL fake;
  fake.extensions = kFakeExtensions;
  CaptureCmdSystem console;
  WindowOnlyCommon common;
  const ManagerFactory& factory = g_managerFactories[kManagerRenderDevice];
  ASSERT_NE(factory.create, nullptr);
  ASSERT_TRUE(factory.create());
  ASSERT_NE(g_renderInterface, nullptr);
  EXPECT_TRUE(g_renderInterface->isReady());
  EXPECT_NE(console.output.find("GLDriver = OpenGL20\n"), std::string::npos) << console.output;
  EXPECT_EQ(console.fatalCount, 0);
  factory.destroy();
  EXPECT_EQ(g_renderInterface, nullptr);
  EXPECT_EQ(fake.currentContext, nullptr) << "destroying the device releases its context";
}

TEST(DeviceManager, MissingProgramsAreFatalWithTheDriverText) {
  FakeGL fake;
  fake.extensions = "GL_ARB_multitexture";
  CaptureCmdSystem console;
  WindowOnlyCommon common;
  EXPECT_FALSE(g_managerFactories[kManagerRenderDevice].create());
  EXPECT_EQ(g_renderInterface, nullptr);
  EXPECT_EQ(console.fatalCount, 1);
  EXPECT_EQ(console.output,
            "Failed to locate a hardware accelerated configuration\n of OpenGL 1.2.1 or better.\nDriver = "
            "OpenGL20");
}

std::vector<GLenum> g_pendingErrors;
GLenum popError() {
  if (g_pendingErrors.empty()) {
    return GL_NO_ERROR;
  }
  const GLenum error = g_pendingErrors.front();
  g_pendingErrors.erase(g_pendingErrors.begin());
  return error;
}

TEST(DeviceErrors, CheckGLErrorNamesEveryPendingError) {
  FakeGL fake;
  CaptureCmdSystem console;
  qgl::glGetError = popError;
  g_pendingErrors = {GL_OUT_OF_MEMORY, GL_INVALID_OPERATION, 0x1234};
  checkGLError("draw.cpp", 42);
  EXPECT_EQ(console.output,
            "\n*** OPENGL ERROR in \"draw.cpp\" at line 42 ***\n"
            "glGetError returned GL_OUT_OF_MEMORY.\n"
            "glGetError returned GL_INVALID_OPERATION.\n"
            "glGetError returned Unknown error.\n");
  // An invalid operation first is taken as expected: nothing is printed.
  console.output.clear();
  g_pendingErrors = {GL_INVALID_OPERATION};
  checkGLError("draw.cpp", 43);
  EXPECT_EQ(console.output, "");
}

TEST(DeviceErrors, ErrorCodeNames) {
  EXPECT_STREQ(RenderInterface::errorCodeName(kRenderErrorNone), "ERRORCODE_NONE");
  EXPECT_STREQ(RenderInterface::errorCodeName(kRenderErrorInvalidCall), "ERRORCODE_INVALIDCALL");
  EXPECT_STREQ(RenderInterface::errorCodeName(kRenderErrorCount), "ERRORCODE_NUMERRORS");
  EXPECT_STREQ(RenderInterface::errorCodeName(6), "ERRORCODE_UNKNOWN");
}

}  // namespace
