// The texture manager on a real device (llvmpipe through SDL's offscreen driver): a screenshot of a
// known clear colour reads back that colour, and an uploaded image reads back its pixels.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "lib/interface/cmdsystem.h"
#include "platform/gl.h"
#include "render/device/renderopengl.h"
#include "render/texture/imagefiles.h"
#include "render/texture/support/texenv.h"
#include "render/texture/texmgrinfo.h"

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
    window_ = platformGLCreateHiddenWindow(kSize, kSize, 32);
    device_ = std::make_unique<RenderOpenGL>();
    if (window_ == nullptr || !device_->init(window_, nullptr, 0)) {
      const std::string why = window_ == nullptr ? platformGLError() : "device init failed";
      if (std::getenv("CI") != nullptr)
        FAIL() << "no GL context under CI: " << why;
      GTEST_SKIP() << "no GL context: " << why;
    }
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

}  // namespace
