// Screenshot names and frame-buffer reads over the recording device. Its own executable: the
// screenshot counter lives for the whole process.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "lib/interface/cmdsystem.h"
#include "render/texture/imagefiles.h"
#include "render/texture/support/texenv.h"
#include "render/texture/texmgrinfo.h"

namespace {

using Bytes = std::vector<uint8_t>;

int g_renderWidth = 0;
int g_renderHeight = 0;
void renderSizeForTest(int* width, int* height) {
  *width = g_renderWidth;
  *height = g_renderHeight;
}

class ScreenshotTest : public textest::TexEnv {
 protected:
  void SetUp() override {
    TexEnv::SetUp();
    device_ = new textest::FakeDevice;
    g_renderSizeQuery = renderSizeForTest;
    g_renderWidth = 5;
    g_renderHeight = 3;
  }
  void TearDown() override {
    g_renderSizeQuery = nullptr;
    destroyTexManager();
    delete device_;
    TexEnv::TearDown();
  }
  textest::FakeDevice* device_ = nullptr;
};

TEST_F(ScreenshotTest, NamesSkipExistingFilesUpToTheLastNumber) {
  for (int i = 0; i <= 998; ++i) {
    char name[64];
    std::snprintf(name, sizeof(name), "screenshots/shot%04d.jpg", i);
    writeFile(name, {1});
  }
  const std::string dir = (root_ / "media" / "screenshots").string();
  // Every number up to 0998 exists: the first name is 0998 again, the next one 0999.
  EXPECT_EQ(std::string(makeScreenshotName("jpg", "shot")), dir + "/shot0998.jpg");
  EXPECT_EQ(std::string(makeScreenshotName("jpg", "shot")), dir + "/shot0999.jpg");
  EXPECT_EQ(std::string(makeScreenshotName("jpg", "shot")), dir + "/shot1000.jpg");
}

TEST_F(ScreenshotTest, FrameBufferRowsComeBackTopFirst) {
  // The device fills (row y, column x, channel c) with y * 16 + x + c, bottom row first.
  Bytes out(size_t(7) * 3 * 3, 0xEE);
  ASSERT_TRUE(readFrameBuffer(out.data(), 7, 9, 9, kPixelFormatRGB));  // limited to 5 x 3
  EXPECT_EQ(device_->lastReadWidth, 8);                                // the next power of two
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 7; ++x) {
      const uint8_t* p = &out[(size_t(y) * 7 + x) * 3];
      if (x < 5) {
        EXPECT_EQ(p[0], uint8_t((2 - y) * 16 + x)) << x << "," << y;
        EXPECT_EQ(p[2], uint8_t((2 - y) * 16 + x + 2));
      } else {
        EXPECT_EQ(p[0], 0xEE);  // beyond the width, the pitch's padding is untouched
      }
    }
  }
  device_->ready = false;
  EXPECT_FALSE(readFrameBuffer(out.data(), 7, 5, 3, kPixelFormatRGB));
}

TEST_F(ScreenshotTest, CommandsWriteJpegAndTargaFiles) {
  ASSERT_NE(TexMgrInfo::getInstance(), nullptr);
  g_cmdSystem->executeText("screenshot");
  g_cmdSystem->executeText("screenshot32 mine");
  // The counter is process-wide: find the files by their base names.
  auto named = [&](const std::string& prefix, const std::string& ext) {
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator(root_ / "media" / "screenshots")) {
      const std::string name = entry.path().filename().string();
      if (name.rfind(prefix, 0) == 0 && entry.path().extension() == ext)
        found.push_back(name);
    }
    return found;
  };
  ASSERT_EQ(named("screen", ".jpg").size(), 1u);
  const Bytes jpg = readFile("screenshots/" + named("screen", ".jpg")[0]);
  ImageData shot = {};
  ASSERT_TRUE(loadJPEGFromMemory(jpg.data(), uint32_t(jpg.size()), &shot, true));
  EXPECT_EQ(shot.info.width, 5);
  EXPECT_EQ(shot.info.height, 3);
  EXPECT_EQ(shot.info.pixelFormat, kPixelFormatRGB);
  imageFree(shot.pixels);
  ASSERT_EQ(named("mine", ".tga").size(), 1u);
  const Bytes tga = readFile("screenshots/" + named("mine", ".tga")[0]);
  ASSERT_EQ(tga.size(), 18u + 5 * 3 * 4);
  ImageData back = {};
  ASSERT_TRUE(decodeTGA(tga.data(), uint32_t(tga.size()), &back, true));
  EXPECT_EQ(back.info.width, 5);
  EXPECT_EQ(back.pixels[0], 2 * 16);  // the top row is the device's row 2
  imageFree(back.pixels);

  // Each shot names the file it wrote.
  const std::string dir = (root_ / "media" / "screenshots").string();
  EXPECT_NE(textest::g_output.find("Wrote " + dir + "/" + named("screen", ".jpg")[0] + "\n"),
            std::string::npos)
      << textest::g_output;
  EXPECT_NE(textest::g_output.find("Wrote " + dir + "/" + named("mine", ".tga")[0] + "\n"), std::string::npos)
      << textest::g_output;

  // Nothing is written at 4096 or more, and the command says so.
  textest::g_output.clear();
  g_renderWidth = 4096;
  g_cmdSystem->executeText("screenshot big");
  EXPECT_TRUE(named("big", ".jpg").empty());
  EXPECT_NE(textest::g_output.find("ERROR: screenshot: could not write " + dir + "/big"), std::string::npos)
      << textest::g_output;

  // A name climbing out of the tree is refused: nothing lands beside it.
  textest::g_output.clear();
  g_renderWidth = 5;
  g_cmdSystem->executeText("screenshot ../../../escaped");
  EXPECT_NE(textest::g_output.find("ERROR: screenshot: could not write"), std::string::npos)
      << textest::g_output;
  for (const auto& entry : std::filesystem::directory_iterator(root_.parent_path()))
    EXPECT_NE(entry.path().filename().string().rfind("escaped", 0), 0u) << entry.path();
}

TEST_F(ScreenshotTest, StencilColoursAreDrawnOnlyUpTo1024By768) {
  // The fake's stencil value at (x, y) is (y * 7 + x) & 0xFF.
  struct Case {
    int x, y;
    uint8_t rgb[3];
  };
  const Case cases[] = {
      {0, 0, {128, 128, 128}},    // below 128: grey
      {100, 4, {128, 128, 128}},  // 128
      {129, 0, {255, 0, 0}},      // 129: red
      {130, 0, {0, 255, 0}},      // green
      {131, 0, {0, 0, 255}},      // blue
      {132, 0, {255, 255, 0}},    // yellow
      {133, 0, {0, 255, 255}},    // cyan
      {134, 0, {255, 255, 255}},  // white
      {135, 0, {128, 128, 128}},  // 128 + 7 wraps to grey
      {136, 0, {255, 0, 0}},      // 128 + 8: red again
      {255, 0, {255, 0, 0}},      // 127 mod 7 = 1
      {0, 37, {128, 128, 128}},   // 259 & 0xFF = 3
      {1023, 767, {255, 0, 0}},   // the far corner: (5369 + 1023) & 0xFF = 248, 120 mod 7 = 1
  };
  g_renderWidth = 1024;
  g_renderHeight = 768;
  captureStencilColors();
  ASSERT_EQ(device_->stencilReads, 1);
  ASSERT_EQ(device_->drawnWidth, 1024);
  ASSERT_EQ(device_->drawnHeight, 768);
  ASSERT_EQ(device_->drawn.size(), size_t(1024) * 768 * 3);
  for (const Case& c : cases) {
    const uint8_t* p = &device_->drawn[(size_t(c.y) * 1024 + c.x) * 3];
    EXPECT_EQ(p[0], c.rgb[0]) << c.x << "," << c.y;
    EXPECT_EQ(p[1], c.rgb[1]) << c.x << "," << c.y;
    EXPECT_EQ(p[2], c.rgb[2]) << c.x << "," << c.y;
  }

  // One pixel too wide or too tall, a zero size or a device that is not ready: nothing is read.
  const int sizes[][2] = {{1025, 768}, {1024, 769}, {0, 0}};
  for (const auto& size : sizes) {
    g_renderWidth = size[0];
    g_renderHeight = size[1];
    captureStencilColors();
    EXPECT_EQ(device_->stencilReads, 1) << size[0] << "x" << size[1];
  }
  g_renderWidth = 8;
  g_renderHeight = 8;
  device_->ready = false;
  captureStencilColors();
  EXPECT_EQ(device_->stencilReads, 1);
  device_->ready = true;
  captureStencilColors();
  EXPECT_EQ(device_->stencilReads, 2);
  EXPECT_EQ(device_->drawnWidth, 8);
}

}  // namespace
