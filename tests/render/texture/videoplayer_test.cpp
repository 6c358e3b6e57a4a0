// The full-screen video player the common manager plays the intro through: a ".ovid" name found
// through the texture manager becomes a video image, plays once to its last frame (uploading each
// frame it reaches) and ends; without a renderer, or with a clock that never moves, it still ends.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "lib/interface/cmdsystem.h"
#include "lib/interface/rendersystem.h"
#include "lib/interface/videoplayer.h"
#include "platform/clock.h"
#include "render/texture/imagefiles.h"
#include "render/texture/support/ovidwriter.h"
#include "render/texture/support/texenv.h"
#include "render/texture/texmgrinfo.h"
#include "render/texture/videoimage.h"
#include "tests/support/nullrender.h"

namespace {

using Bytes = std::vector<uint8_t>;

// What the player asks of the renderer: drawing binds the image, as the stage binder does.
class DrawingRenderer : public NullRenderSystem {
 public:
  void drawStretchImage(ImageInterface* image, float, float, float w, float h, float, float, float, float) override {
    ++draws;
    width = w;
    height = h;
    image->bind();
  }
  int draws = 0;
  float width = 0.0f, height = 0.0f;
};

class VideoPlayerTest : public textest::TexEnv {
 protected:
  void SetUp() override {
    TexEnv::SetUp();
    device_ = new textest::FakeDevice;
    ASSERT_NE(TexMgrInfo::getInstance(), nullptr);
    clock_ = 5.0f;
    VideoImage::clockOverride = [] { return clock_; };
  }
  void TearDown() override {
    VideoImage::clockOverride = nullptr;
    g_renderSystem = nullptr;
    destroyTexManager();
    EXPECT_EQ(g_videoPlayer, nullptr) << "the player goes with the texture manager";
    delete device_;
    TexEnv::TearDown();
  }
  // Three DXT1 frames of 8 x 8 pixels (4 blocks each).
  std::vector<Bytes> writeVideo(const std::string& name) {
    textest::OvidWriter w(8, 8);
    std::vector<Bytes> frames;
    for (int f = 0; f < 3; f++) {
      Bytes blocks(32);
      for (size_t i = 0; i < blocks.size(); i++)
        blocks[i] = uint8_t(i * 3 + size_t(f) * 50);
      w.dds(blocks, 8, 8);
      frames.push_back(blocks);
    }
    writeFile(name, w.bytes);
    return frames;
  }

  textest::FakeDevice* device_ = nullptr;
  DrawingRenderer renderer_;
  static inline float clock_ = 0.0f;
};

TEST_F(VideoPlayerTest, PlaysOnceToTheLastFrameAndEnds) {
  const std::vector<Bytes> frames = writeVideo("video/intro.ovid");
  g_renderSystem = &renderer_;
  ASSERT_NE(g_videoPlayer, nullptr);
  void* video = g_videoPlayer->open("video/intro.ovid", 70);
  ASSERT_NE(video, nullptr) << textest::g_output;
  auto* image = static_cast<VideoImage*>(video);
  EXPECT_TRUE(image->isVideo());
  EXPECT_EQ(image->info.pixelFormat, kPixelFormatDXT1);
  int steps = 0;
  while (!g_videoPlayer->isAtEnd(video) && steps < 100) {
    g_videoPlayer->draw(video, 0, 0, 640, 480, 0, 0, 1, 1);
    clock_ += 1.0f / 48.0f;  // two draws a frame
    ++steps;
  }
  EXPECT_LT(steps, 100) << "the video ends";
  EXPECT_GE(renderer_.draws, 4);
  EXPECT_EQ(renderer_.width, 640.0f);
  EXPECT_EQ(image->currentFrame(), 2);
  // Every frame reached went to the texture as a compressed level 0 of the frame's bytes.
  std::vector<Bytes> uploaded;
  for (const textest::Upload* u : device_->uploadsOf(unsigned(image->textureId)))
    if (u->compressed && u->level == 0 && u->bytes == 32)
      uploaded.push_back(Bytes(u->pixels.begin(), u->pixels.begin() + 32));
  ASSERT_GE(uploaded.size(), 3u);
  EXPECT_EQ(uploaded[uploaded.size() - 3], frames[0]);
  EXPECT_EQ(uploaded[uploaded.size() - 2], frames[1]);
  EXPECT_EQ(uploaded.back(), frames[2]);
  g_videoPlayer->close(video);
  EXPECT_EQ(TexMgrInfo::getInstance()->findLoadedImage("video/intro", 70), nullptr) << "released";
}

TEST_F(VideoPlayerTest, EndsWithoutARendererOrAMovingClock) {
  writeVideo("video/intro.ovid");
  void* video = g_videoPlayer->open("video/intro.ovid", 70);
  ASSERT_NE(video, nullptr);
  EXPECT_TRUE(g_videoPlayer->isAtEnd(video)) << "nothing can be shown without a renderer";
  // A clock that never moves: the player gives up a second after the video's length.
  g_renderSystem = &renderer_;
  const uint32_t start = platformMilliseconds();
  while (!g_videoPlayer->isAtEnd(video) && platformMilliseconds() - start < 10000)
    platformSleepMilliseconds(20);
  EXPECT_LT(platformMilliseconds() - start, 10000u);
  g_videoPlayer->close(video);
}

// Saving a video image writes its first frame through the image writers, as "dumpTexture" and
// screenshots do; read back, the file holds that frame's pixels. The video plays on afterwards.
TEST_F(VideoPlayerTest, AVideoImageSavesItsFirstFrame) {
  textest::OvidWriter w(4, 2);
  std::vector<Bytes> frames;
  for (int f = 0; f < 3; f++) {
    Bytes rgb(4 * 2 * 3);
    for (size_t i = 0; i < rgb.size(); i++)
      rgb[i] = uint8_t(i * 11 + size_t(f) * 60 + 1);
    w.raw(rgb);
    frames.push_back(rgb);
  }
  writeFile("video/still.ovid", w.bytes);
  ImageInterface* image = TexMgrInfo::getInstance()->findImage("video/still", 70);
  ASSERT_NE(image, nullptr);
  ASSERT_TRUE(image->isVideo());
  auto* video = static_cast<VideoImage*>(image);
  clock_ = 1.0f;
  ASSERT_TRUE(video->bind());
  clock_ += 2.0f / 24.0f;
  ASSERT_TRUE(video->bind());
  EXPECT_EQ(video->currentFrame(), 2);

  auto readBack = [&](const std::string& file) {
    const Bytes bytes = readFile(file);
    ImageData back = {};
    EXPECT_TRUE(decodeTGA(bytes.data(), uint32_t(bytes.size()), &back, true)) << file;
    Bytes pixels(back.pixels, back.pixels + (back.pixels ? back.byteSize : 0));
    EXPECT_EQ(back.info.width, 4);
    EXPECT_EQ(back.info.height, 2);
    imageFree(back.pixels);
    return pixels;
  };
  ASSERT_TRUE(image->saveToFile("media/saved_video.tga"));
  EXPECT_EQ(readBack("saved_video.tga"), frames[0]);

  int index = -1;
  for (int i = 0; i < TexMgrInfo::getInstance()->getNumImages(); i++)
    if (TexMgrInfo::getInstance()->getImage(i) == image)
      index = i;
  ASSERT_GE(index, 0);
  textest::g_output.clear();
  g_cmdSystem->executeText(("dumpTexture " + std::to_string(index) + " media/dumped_video.tga").c_str());
  EXPECT_EQ(textest::g_output, "   'media/dumped_video.tga' saved...\n");
  EXPECT_EQ(readBack("dumped_video.tga"), frames[0]);

  // The texture goes back to the frame the clock asks for: decoded (and uploaded) again.
  EXPECT_EQ(video->currentFrame(), -1);
  ASSERT_TRUE(video->bind());
  EXPECT_EQ(video->currentFrame(), 2);
  EXPECT_EQ(Bytes(video->frameBuffer(), video->frameBuffer() + video->frameBytes()), frames[2]);
  TexMgrInfo::getInstance()->releaseImage(image);
}

TEST_F(VideoPlayerTest, MissingOrBrokenVideosDoNotOpen) {
  EXPECT_EQ(g_videoPlayer->open("video/none.ovid", 70), nullptr);
  writeFile("video/broken.ovid", Bytes(40, 7));
  EXPECT_EQ(g_videoPlayer->open("video/broken.ovid", 70), nullptr);
  writeFile("textures/still.tga", Bytes(10, 0));
  EXPECT_EQ(g_videoPlayer->open("textures/still.tga", 70), nullptr) << "not a video image";
}

}  // namespace
