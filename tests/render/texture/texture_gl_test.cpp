// The texture manager on a real device (llvmpipe through SDL's offscreen driver): a screenshot of a
// known clear colour reads back that colour, an uploaded image reads back its pixels, and the stencil
// view paints stencil values as colours and leaves the render state as it found it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "lib/interface/cmdsystem.h"
#include "lib/matrix.h"
#include "platform/gl.h"
#include "render/device/glextensions.h"
#include "render/device/renderopengl.h"
#include "render/texture/imagefiles.h"
#include "render/texture/support/texenv.h"
#include "render/texture/texmgrinfo.h"
#include "tests/support/gldevice.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr int kSize = 64;

void renderSize(int* width, int* height) {
  *width = kSize;
  *height = kSize;
}

class TextureGLTest : public textest::TexEnv {
 protected:
  void SetUp() override {
    TexEnv::SetUp();
    gltest::openDevice(kSize, kSize, &window_, &device_);
    if (IsSkipped() || HasFatalFailure())
      return;
    g_renderInterface = device_.get();
    g_renderSizeQuery = renderSize;
    device_->setViewport(0, 0, kSize, kSize);
    ASSERT_NE(TexMgrInfo::getInstance(), nullptr);
  }
  void TearDown() override {
    destroyTexManager();
    g_renderSizeQuery = nullptr;
    g_renderInterface = nullptr;
    device_.reset();
    if (window_)
      platformGLDestroyHiddenWindow(window_);
    TexEnv::TearDown();
  }
  void* window_ = nullptr;
  std::unique_ptr<RenderOpenGL> device_;
};

TEST_F(TextureGLTest, ScreenshotOfAClearColourReadsBackThatColour) {
  device_->setClearColor(0.2f, 0.4f, 0.6f, 1.0f);
  device_->clear(kClearColor);
  Bytes pixels(size_t(50) * 40 * 3);
  ASSERT_TRUE(readFrameBuffer(pixels.data(), 50, 50, 40, kPixelFormatRGB));
  for (size_t i = 0; i < pixels.size(); i += 3) {
    ASSERT_NEAR(pixels[i], 51, 1) << i;
    ASSERT_NEAR(pixels[i + 1], 102, 1) << i;
    ASSERT_NEAR(pixels[i + 2], 153, 1) << i;
  }
  g_cmdSystem->executeText("screenshot32 clear");
  const Bytes tga = readFile("screenshots/clear0000.tga");
  ImageData shot = {};
  ASSERT_TRUE(decodeTGA(tga.data(), uint32_t(tga.size()), &shot, true));
  EXPECT_EQ(shot.info.width, kSize);
  EXPECT_EQ(shot.info.pixelFormat, kPixelFormatRGBA);
  EXPECT_NEAR(shot.pixels[(kSize * kSize - 1) * 4 + 2], 153, 1);
  imageFree(shot.pixels);
}

TEST_F(TextureGLTest, UploadedImageReadsBack) {
  Bytes texels;
  for (int i = 0; i < 4 * 2; ++i)
    texels.insert(texels.end(), {uint8_t(i * 10), uint8_t(i), 200});
  const ImageInfo info = {4, 2, 0, kPixelFormatRGB, kTextureType2D, 99};
  ImageInterface* image = g_texManager->createImageFromPixels("_probe", &info, 0x844, texels.data());
  ASSERT_NE(image, nullptr);
  EXPECT_GT(image->getTextureId(), 0);
  ImageData back = {};
  ASSERT_TRUE(image->readBack(&back));
  EXPECT_EQ(Bytes(back.pixels, back.pixels + back.byteSize), texels);
  imageFree(back.pixels);
}

TEST_F(TextureGLTest, StencilValuesArePaintedAsColours) {
  // Eight columns of stencil values in the lower half; the upper half holds 130 throughout, so a
  // picture drawn upside down shows.
  struct Column {
    int stencil;
    uint8_t rgb[3];
  };
  const Column columns[8] = {
      {100, {128, 128, 128}}, {128, {128, 128, 128}}, {129, {255, 0, 0}},     {130, {0, 255, 0}},
      {131, {0, 0, 255}},     {134, {255, 255, 255}}, {135, {128, 128, 128}}, {136, {255, 0, 0}},
  };
  device_->setClearColor(0.1f, 0.2f, 0.3f, 1.0f);
  device_->clear(kClearColor);
  device_->setStencilMask(255);
  device_->setScissor(0, kSize / 2, kSize, kSize / 2);
  device_->setClearStencil(130);
  device_->clear(kClearStencil);
  for (int i = 0; i < 8; ++i) {
    device_->setScissor(i * 8, 0, 8, kSize / 2);
    device_->setClearStencil(columns[i].stencil);
    device_->clear(kClearStencil);
  }
  device_->setScissor(0, 0, kSize, kSize);
  device_->setStencilFunc(kCompareAlways, 128, 255);

  // State that would hide the overlay unless the draw puts it aside: a depth test nothing passes,
  // blending that keeps the frame, colour writes off and a black texture bound.
  qgl::glClearDepth(0.0);
  device_->clear(kClearDepth);
  device_->setDepthFunc(kCompareLess);
  device_->setBlendFunc(kBlendZero, kBlendOne);
  device_->setColorMask(false, false, false, false);
  const uint8_t black[3] = {0, 0, 0};
  const ImageInfo texel = {1, 1, 0, kPixelFormatRGB, kTextureType2D, 99};
  const unsigned texture = device_->createTexture();
  device_->bindTexture(kTextureType2D, texture);
  device_->uploadTexImage(&texel, 0, black, 0);
  device_->setTextureFilter(kTextureType2D, kFilterNearest, false);
  Mat4 projection = Mat4::identity();
  projection.m[0] = 0.5f;
  projection.m[14] = 0.25f;
  Mat4 modelView = Mat4::identity();
  modelView.m[12] = 3.0f;
  device_->setMatrixMode(kMatrixModelView);
  device_->loadMatrix(&modelView);
  device_->setMatrixMode(kMatrixProjection);
  device_->loadMatrix(&projection);
  GLint drawBuffer = 0;
  qgl::glGetIntegerv(GL_DRAW_BUFFER, &drawBuffer);

  // Two starting points for depth writes and the culled face: both must come back unchanged.
  const struct {
    bool depthWrites;
    int cull;
    GLint cullFace;
  } starts[] = {{true, kCullBack, GL_BACK}, {false, kCullFront, GL_FRONT}};
  for (const auto& start : starts) {
    SCOPED_TRACE(start.depthWrites ? "depth writes on, back culling" : "depth writes off, front culling");
    device_->setDepthMask(start.depthWrites);
    device_->setCullMode(start.cull);
    while (qgl::glGetError() != GL_NO_ERROR) {
    }
    captureStencilColors();
    EXPECT_EQ(qgl::glGetError(), GLenum(GL_NO_ERROR));

    std::vector<uint8_t> frame(size_t(kSize) * kSize * 3);
    device_->readPixels(frame.data(), 0, 0, kSize, kSize, kPixelFormatRGB);
    int wrong = 0;
    for (int y = 0; y < kSize; ++y) {
      for (int x = 0; x < kSize; ++x) {
        const uint8_t* expected = y >= kSize / 2 ? columns[3].rgb : columns[x / 8].rgb;
        const uint8_t* got = &frame[(size_t(y) * kSize + x) * 3];
        if (got[0] != expected[0] || got[1] != expected[1] || got[2] != expected[2]) {
          if (++wrong <= 4)
            ADD_FAILURE() << "pixel " << x << "," << y << ": " << int(got[0]) << " " << int(got[1]) << " "
                          << int(got[2]);
        }
      }
    }
    EXPECT_EQ(wrong, 0);

    EXPECT_TRUE(qgl::glIsEnabled(GL_DEPTH_TEST));
    EXPECT_TRUE(qgl::glIsEnabled(GL_BLEND));
    EXPECT_TRUE(qgl::glIsEnabled(GL_CULL_FACE));
    EXPECT_TRUE(qgl::glIsEnabled(GL_TEXTURE_2D));
    EXPECT_TRUE(qgl::glIsEnabled(GL_STENCIL_TEST));
    GLboolean depthWrites = GL_FALSE;
    qgl::glGetBooleanv(GL_DEPTH_WRITEMASK, &depthWrites);
    EXPECT_EQ(depthWrites != GL_FALSE, start.depthWrites);
    GLboolean colorWrites[4] = {GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE};
    qgl::glGetBooleanv(GL_COLOR_WRITEMASK, colorWrites);
    EXPECT_FALSE(colorWrites[0] || colorWrites[1] || colorWrites[2] || colorWrites[3]);
    GLint value = 0;
    qgl::glGetIntegerv(GL_CULL_FACE_MODE, &value);
    EXPECT_EQ(value, start.cullFace);
    qgl::glGetIntegerv(GL_DEPTH_FUNC, &value);
    EXPECT_EQ(value, GL_LESS);
    qgl::glGetIntegerv(GL_BLEND_SRC, &value);
    EXPECT_EQ(value, GL_ZERO);
    qgl::glGetIntegerv(GL_DRAW_BUFFER, &value);
    EXPECT_EQ(value, drawBuffer);
    qgl::glGetIntegerv(GL_MATRIX_MODE, &value);
    EXPECT_EQ(value, GL_PROJECTION);
    float matrix[16];
    qgl::glGetFloatv(GL_PROJECTION_MATRIX, matrix);
    EXPECT_EQ(std::vector<float>(matrix, matrix + 16), std::vector<float>(projection.m, projection.m + 16));
    qgl::glGetFloatv(GL_MODELVIEW_MATRIX, matrix);
    EXPECT_EQ(std::vector<float>(matrix, matrix + 16), std::vector<float>(modelView.m, modelView.m + 16));

    // The next capture must again paint over whatever the frame holds.
    device_->setColorMask(true, true, true, true);
    device_->clear(kClearColor);
    device_->setColorMask(false, false, false, false);
  }
  device_->deleteTexture(texture);
}

}  // namespace
