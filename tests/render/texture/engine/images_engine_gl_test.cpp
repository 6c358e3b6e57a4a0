// The engine with the staged sample content, headless and in process: the intro video's frames
// reach the screen in their own colours and the video ends on its last frame, not on the player's
// fallback; a sample texture cut short (found first through "fs_game") is said once, by name, and
// draws as the default image however often the scene binds it.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "lib/interface/rendersystem.h"
#include "lib/interface/texmanager.h"
#include "lib/interface/videoplayer.h"
#include "render/texture/videoimage.h"
#include "tests/support/engineinprocess.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kGameFolder = "imagetest_fsgame";
constexpr const char* kCommandLine = "fs_game imagetest_fsgame";

class ImagesEngineTest : public enginetest::InProcessEngineTest {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(makeGameFolder(kGameFolder));
    // A copy of a sample texture cut to 500 bytes, found before the real one.
    fs::create_directories(std::string(kGameFolder) + "/textures/samples");
    std::ifstream whole("media/textures/samples/wall_d.tga", std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(whole)), std::istreambuf_iterator<char>());
    ASSERT_GT(bytes.size(), 1000u);
    std::ofstream cut(std::string(kGameFolder) + "/textures/samples/wall_d.tga", std::ios::binary);
    cut.write(bytes.data(), 500);
    cut.close();
    startEngine(kCommandLine);
  }
};

TEST_F(ImagesEngineTest, TheIntroVideoShowsItsFramesAndEndsOnItsLastFrame) {
  ASSERT_NE(g_videoPlayer, nullptr);
  // The common manager's playback, step by step: the view time runs from the video's start, each
  // pass draws the video over the whole screen and presents it.
  void* video = g_videoPlayer->open("video/quillmere.ovid", 70);
  ASSERT_NE(video, nullptr);
  const int frameCount = static_cast<VideoImage*>(video)->frameCount();
  ASSERT_EQ(frameCount, 24);
  // The view time steps 40 ms a pass (25 passes a second), whatever the machine's speed: the
  // video's clock is the view time, so it must end on the pass that reaches its last frame.
  constexpr int kStep = 40;
  int passes = 0;
  int colouredPasses = 0;
  int maxSpread = 0;
  int endedAt = -1;
  while (passes < 200) {
    const int time = passes * kStep;
    if (g_videoPlayer->isAtEnd(video)) {
      endedAt = time;
      break;
    }
    g_renderSystem->setRenderView(nullptr, time);
    g_videoPlayer->draw(video, 0.0f, 0.0f, 640.0f, 480.0f, 0.0f, 0.0f, 1.0f, 1.0f);
    const std::vector<uint8_t> rgb = readScreen().rgb;
    g_renderSystem->endFrame();
    ++passes;
    // The frames are a coloured band over a dark field: bright, saturated pixels.
    int coloured = 0;
    for (size_t i = 0; i + 2 < rgb.size(); i += 3 * 7) {
      const int hi = std::max({rgb[i], rgb[i + 1], rgb[i + 2]});
      const int lo = std::min({rgb[i], rgb[i + 1], rgb[i + 2]});
      maxSpread = std::max(maxSpread, hi - lo);
      coloured += hi > 100 && hi - lo > 40;
    }
    colouredPasses += coloured > 50;
  }
  g_videoPlayer->close(video);
  EXPECT_GT(colouredPasses, passes / 2) << "of " << passes << " passes; widest colour spread " << maxSpread;
  // One second of 24 frames: the end comes within 100 ms of that length, not on the player's
  // fallback a second after it.
  ASSERT_GE(endedAt, 0) << "the video never ended";
  EXPECT_NEAR(endedAt, 1000, 100) << "ended at video time " << endedAt << " ms, pass " << passes;
}

TEST_F(ImagesEngineTest, ADamagedTextureIsSaidOnceAndDrawsAsTheDefaultImage) {
  ImageInterface* image = g_texManager->findImage("textures/samples/wall_d", 0);
  ASSERT_NE(image, nullptr);
  // The scene and the image itself, bound over and over.
  for (int i = 0; i < 50; ++i) {
    frames(1);
    EXPECT_TRUE(image->bind());
  }
  EXPECT_EQ(consoleLines("textures/samples/wall_d"), 1) << "one warning names the file";
  EXPECT_LE(consoleLines("exceeded it's bounds"), 1);
  EXPECT_TRUE(image->loaded);
  EXPECT_EQ(image->info.width, 1) << "the default image stands in";
  EXPECT_EQ(image->info.height, 1);
  g_texManager->releaseImage(image);
}

}  // namespace
