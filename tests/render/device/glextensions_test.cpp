// Extension loading against a fake GL: the version table, the whole-word extension test, the
// found-extension list, entry points fetched only for what is present; half floats; ARB program text.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "render/device/glextensions.h"
#include "render/device/openglshaderinterface.h"
#include "render/device/support/fakegl.h"

namespace {

bool requested(const FakeGL& fake, const char* name) {
  return std::find(fake.procsRequested.begin(), fake.procsRequested.end(), name) != fake.procsRequested.end();
}

TEST(GlVersion, VersionStringSetsTheVersionFlags) {
  struct Case {
    const char* version;
    int flags[5];  // 1.2, 1.3, 1.4, 1.5, 2.0
  };
  const Case cases[] = {
      {"1.5.0 NVIDIA 1.2.3", {1, 1, 1, 1, 0}},
      {"2.1.2", {1, 1, 1, 1, 1}},
      {"4.5 (Compatibility Profile) Mesa 22.3.6", {1, 1, 1, 1, 1}},
      {"1.4", {1, 1, 1, 0, 0}},
      {"1.3.1", {1, 1, 0, 0, 0}},
      {"1.2", {1, 0, 0, 0, 0}},
      {"1.1", {0, 0, 0, 0, 0}},
      {"OpenGL ES 1.0", {0, 0, 0, 0, 0}},
      {"1", {0, 0, 0, 0, 0}},
      {"10.1", {1, 1, 1, 1, 1}},
      {"", {0, 0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    FakeGL fake;
    fake.version = c.version;
    initGlExtensions();
    const int got[5] = {qgl::version_1_2, qgl::version_1_3, qgl::version_1_4, qgl::version_1_5,
                        qgl::version_2_0};
    EXPECT_TRUE(std::equal(got, got + 5, c.flags)) << c.version;
  }
}

TEST(GlExtensions, WholeWordTestOverTheNames) {
  FakeGL fake;
  fake.extensions = "GL_ARB_shadow_ambient GL_EXT_stencil_wrapper GL_ARB_multitexture  GL_NV_fence";
  initGlExtensions();
  EXPECT_EQ(qgl::ARB_shadow_ambient, 1);
  EXPECT_EQ(qgl::ARB_shadow, 0) << "a prefix of a longer name is no hit";
  EXPECT_EQ(qgl::EXT_stencil_wrap, 0);
  EXPECT_EQ(qgl::ARB_multitexture, 1);
  EXPECT_EQ(qgl::NV_fence, 1) << "the last name, followed by the end of the string";
  EXPECT_STREQ(qgl::foundExtensions, "GL_ARB_multitexture GL_ARB_shadow_ambient GL_NV_fence ");
  EXPECT_TRUE(glExtensionSupported("GL_ARB_shadow_ambient"));
  EXPECT_FALSE(glExtensionSupported("GL_ARB_shadow"));
  EXPECT_FALSE(glExtensionSupported("ARB_multitexture")) << "whole words only";
  EXPECT_FALSE(hasGlExtension(""));
  EXPECT_FALSE(hasGlExtension("GL_ARB_multitexture GL_NV_fence"));
  EXPECT_EQ(qgl::glExtensionCount(), 101);
  EXPECT_STREQ(qgl::glExtensionName(0), "GL_ARB_depth_texture");
  EXPECT_STREQ(qgl::glExtensionName(100), "GL_SGIX_shadow");
  EXPECT_EQ(qgl::glExtensionName(101), nullptr);
}

TEST(GlExtensions, EntryPointsOnlyForWhatIsPresent) {
  FakeGL fake;
  fake.version = "1.3";
  fake.extensions = "GL_ARB_vertex_buffer_object GL_EXT_stencil_two_side";
  initGlExtensions();
  EXPECT_TRUE(requested(fake, "glBindBufferARB"));
  EXPECT_TRUE(requested(fake, "glActiveStencilFaceEXT"));
  EXPECT_TRUE(requested(fake, "glTexImage3D"));
  EXPECT_TRUE(requested(fake, "glCompressedTexImage2D"));
  EXPECT_FALSE(requested(fake, "glBlendEquation")) << "GL 1.4 is absent";
  EXPECT_FALSE(requested(fake, "glCreateShader")) << "GL 2.0 is absent";
  EXPECT_FALSE(requested(fake, "glProgramStringARB"));
  EXPECT_FALSE(requested(fake, "glBindFramebufferEXT"));
  EXPECT_NE(qgl::glBindBufferARB, nullptr);
  EXPECT_EQ(qgl::glProgramStringARB, nullptr);
  EXPECT_EQ(qgl::missingEntryPoint, 0);
}

TEST(GlExtensions, MissingEntryPointIsFlaggedNotFatal) {
  FakeGL fake;
  fake.extensions = "GL_NV_primitive_restart";
  qgl::ctx.getProcAddress = [](const char*) -> void* { return nullptr; };
  EXPECT_EQ(initGlExtensions(), 1);
  EXPECT_EQ(qgl::NV_primitive_restart, 1);
  EXPECT_EQ(qgl::glPrimitiveRestartNV, nullptr);
}

TEST(GlExtensions, WindowSystemFlagsOnlyClaimSwapControl) {
  {
    FakeGL fake;
    initGlExtensions();
    EXPECT_EQ(qgl::wgl_EXT_swap_control, 1);
    EXPECT_NE(qgl::wglSwapIntervalEXT, nullptr);
    EXPECT_EQ(qgl::wgl_ARB_pbuffer, 0);
    EXPECT_EQ(qgl::wgl_GetExtensionsStringARB_present, 0);
    EXPECT_TRUE(qgl::wglSwapIntervalEXT(0));
    EXPECT_TRUE(fake.has(fakegl::call("setSwapInterval", 0)));
  }
  {
    FakeGL fake;
    fake.swapControl = false;
    initGlExtensions();
    EXPECT_EQ(qgl::wgl_EXT_swap_control, 0);
    EXPECT_EQ(qgl::wglSwapIntervalEXT, nullptr);
  }
}

uint32_t bitsOf(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof(bits));
  return bits;
}

TEST(HalfFloat, EveryHalfRoundTrips) {
  for (uint32_t half = 0; half <= 0xFFFF; ++half) {
    const float value = halfToFloat(static_cast<uint16_t>(half));
    ASSERT_EQ(floatToHalf(value), half) << std::hex << half;
  }
}

TEST(HalfFloat, ConversionEdges) {
  struct Case {
    float value;
    uint16_t half;
  };
  const Case cases[] = {
      {1.0f, 0x3C00},
      {-2.0f, 0xC000},
      {65504.0f, 0x7BFF},
      {65535.0f, 0x7BFF},  // truncated, not rounded up to infinity
      {65536.0f, 0x7C00},
      {-1e30f, 0xFC00},
      {1.0f + 1.0f / 1024 * 0.99f, 0x3C00},  // the dropped low bits do not round
      {std::ldexp(1.0f, -14), 0x0400},       // smallest normal
      {std::ldexp(1.0f, -15), 0x0200},       // a denormal
      {std::ldexp(1.0f, -24), 0x0001},       // smallest denormal
      {std::ldexp(1.0f, -25), 0x0000},
      {-std::ldexp(1.0f, -25), 0x8000},  // the sign is kept
      {INFINITY, 0x7C00},
      {-INFINITY, 0xFC00},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(floatToHalf(c.value), c.half) << c.value;
  }
  const uint16_t nan = floatToHalf(std::nanf(""));
  EXPECT_EQ(nan & 0x7C00, 0x7C00);
  EXPECT_NE(nan & 0x3FF, 0);
  EXPECT_TRUE(std::isnan(halfToFloat(0x7E00)));
  EXPECT_EQ(bitsOf(halfToFloat(0x8000)), 0x80000000u);
  EXPECT_EQ(halfToFloat(0x0001), std::ldexp(1.0f, -24));
}

TEST(ProgramText, CutAtTheFirstEndToken) {
  const char* header = "!!ARBfp";
  const char* start = nullptr;
  int length = 0;
  const std::string file =
      "# leading comment\n!!ARBfp1.0\nMOV result.color, fragment.color;\nEND\n# trailer\n";
  ASSERT_TRUE(OpenGLShaderInterface::extractProgramText(file.c_str(), header, &start, &length));
  EXPECT_EQ(std::string(start, length), "!!ARBfp1.0\nMOV result.color, fragment.color;\nEND");

  // A ".vfp" holds both kinds: each takes its own section.
  const std::string both =
      "!!ARBvp1.0\nMOV result.position, vertex.position;\nEND\n!!ARBfp1.0\nMOV result.color, 1;\nend\n";
  ASSERT_TRUE(OpenGLShaderInterface::extractProgramText(both.c_str(), "!!ARBvp", &start, &length));
  EXPECT_EQ(std::string(start, length), "!!ARBvp1.0\nMOV result.position, vertex.position;\nEND");
  ASSERT_TRUE(OpenGLShaderInterface::extractProgramText(both.c_str(), "!!ARBfp", &start, &length));
  EXPECT_EQ(std::string(start, length), "!!ARBfp1.0\nMOV result.color, 1;\nend") << "END in any case";

  const std::string noEnd = "!!ARBvp1.0\nMOV result.position, vertex.position;\n";
  ASSERT_TRUE(OpenGLShaderInterface::extractProgramText(noEnd.c_str(), "!!ARBvp", &start, &length));
  EXPECT_EQ(std::string(start, length), noEnd);

  EXPECT_FALSE(
      OpenGLShaderInterface::extractProgramText("MOV result.color, 1;\nEND\n", header, &start, &length));
  EXPECT_FALSE(OpenGLShaderInterface::extractProgramText(both.c_str(), "!!ARBxx", &start, &length));
}

}  // namespace
