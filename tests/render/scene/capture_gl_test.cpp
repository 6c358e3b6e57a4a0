// Debug primitives and screen capture on llvmpipe: queued lines and polygons read back where they
// stand at the end of a 3D view (and honour their depth test), expire once drawn; screenshots
// have the render size and the frame's content; readPixels fills odd widths and pitches without
// touching the bytes past each row; the frame is captured into named images of the right size,
// and a view is rendered straight into an image.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "lib/interface/convarsystem.h"
#include "lib/interface/rendermodelsystem.h"
#include "lib/interface/texmanager.h"
#include "platform/gl.h"
#include "render/backend/renderbackend.h"
#include "render/device/renderopengl.h"
#include "render/material/expression.h"
#include "render/material/material.h"
#include "render/model/basemodel.h"
#include "render/scene/rendermanager.h"
#include "render/texture/texmgrinfo.h"
#include "system/convarmanager.h"
#include "tests/render/scene/support/managergl.h"
#include "tests/support/capturecmdsystem.h"
#include "tests/support/memoryiosystem.h"

namespace {

using managergl::camera;
using managergl::kHeight;
using managergl::kWidth;
using managergl::Rgb;

const float kRedF[4] = {1, 0, 0, 1};
const float kGreenF[4] = {0, 1, 0, 1};

class CaptureGLTest : public managergl::ManagerGLTest {
 protected:
  static bool near(Rgb a, Rgb b, int tolerance = 8) { return managergl::near(a, b, tolerance); }

  // Pixels of the middle row (x in [x0, x1)) close to a colour.
  int countOnRow(int y, int x0, int x1, Rgb want) {
    int n = 0;
    for (int x = x0; x < x1; x++)
      n += near(at(x, y), want, 40) ? 1 : 0;
    return n;
  }
};

const Rgb kRed{255, 0, 0};
const Rgb kGreen{0, 255, 0};
const Rgb kBlue{0, 0, 255};

TEST_F(CaptureGLTest, DebugLinesDrawAtTheEndOfTheViewAndExpireOnceDrawn) {
  const RenderView view = camera(1000);
  manager->setRenderView(&view, 1000);
  // A horizontal line across the middle of the view, 64 units ahead.
  manager->debugLine(kRedF, Vec3(64, 60, 0), Vec3(64, -60, 0), 0, false);
  manager->renderScene(&view, 0xb);
  EXPECT_GT(countOnRow(kHeight / 2, 0, kWidth, kRed), kWidth * 3 / 4) << console.text;
  EXPECT_TRUE(near(at(kWidth / 2, 10), kBlue));
  EXPECT_TRUE(near(at(kWidth / 2, kHeight - 10), kBlue));
  ASSERT_EQ(manager->debugLines().num(), 1);
  EXPECT_NE(manager->debugLines()[0].flags & RenderManager::kDebugLineDrawn, 0);

  // Drawn but not yet expired (1008) it stays; past its expiry it goes and no longer draws.
  manager->clearDebugLines(1008);
  EXPECT_EQ(manager->debugLines().num(), 1);
  manager->clearDebugLines(1009);
  EXPECT_EQ(manager->debugLines().num(), 0);
  clearTo(0.0f, 0.0f, 1.0f);
  manager->renderScene(&view, 0xb);
  EXPECT_EQ(countOnRow(kHeight / 2, 0, kWidth, kRed), 0);
}

TEST_F(CaptureGLTest, DepthTestedLinesHideBehindGeometryAndOthersDoNot) {
  // A green cube 32 units ahead covers the middle of the view.
  BaseModel box;
  box.init("box");
  box.makeDefault();
  RenderEntity entity;
  entity.model = &box;
  entity.customMaterial = material("{\n{\nred 0\ngreen 1\nblue 0\n}\n}\n");
  entity.origin = Vec3(32, 0, 0);
  manager->addEntityDef(&entity);
  const RenderView view = camera(0);
  manager->setRenderView(&view, 0);

  // Behind the cube at 64 units: with the depth test only the ends outside the cube show.
  manager->debugLine(kRedF, Vec3(64, 60, 0), Vec3(64, -60, 0), 0, true);
  manager->renderScene(&view, 0xb);
  EXPECT_TRUE(near(at(kWidth / 2, kHeight / 2), kGreen)) << "hidden behind the cube";
  EXPECT_TRUE(near(at(8, kHeight / 2), kRed, 40)) << "visible beside it";

  manager->clearDebugLines(0);
  manager->debugLine(kRedF, Vec3(64, 60, 0), Vec3(64, -60, 0), 0, false);
  clearTo(0.0f, 0.0f, 1.0f);
  manager->renderScene(&view, 0xb);
  EXPECT_TRUE(near(at(kWidth / 2, kHeight / 2), kRed, 40)) << "drawn over the cube";
}

TEST_F(CaptureGLTest, FilledPolygonsFillAndOutlinesOnlyTrace) {
  const RenderView view = camera(0);
  manager->setRenderView(&view, 0);
  // A square facing the camera, 64 units ahead, 40 units across (about a third of the view).
  const Bounds square(Vec3(64, -20, -20), Vec3(64.5f, 20, 20));
  manager->debugBounds(kGreenF, square, Vec3(), true, 0, false);
  manager->renderScene(&view, 0xb);
  EXPECT_TRUE(near(at(kWidth / 2, kHeight / 2), kGreen, 40));
  EXPECT_TRUE(near(at(8, 8), kBlue));
  EXPECT_NE(manager->debugPolygons()[0].flags & RenderManager::kDebugPolygonDrawn, 0);

  manager->clearDebugPolygons(0);
  manager->debugBounds(kGreenF, square, Vec3(), false, 0, false);
  clearTo(0.0f, 0.0f, 1.0f);
  manager->renderScene(&view, 0xb);
  EXPECT_TRUE(near(at(kWidth / 2, kHeight / 2), kBlue)) << "the inside of an outline stays clear";
  EXPECT_GT(countOnRow(kHeight / 2, 0, kWidth, kGreen), 0) << "its sides cross the middle row";
}

// Left half red, right half green (in window pixels), top row marked blue.
void drawPattern(RenderManager& m, Material* red, Material* green, Material* blue) {
  m.drawStretchPic(red, 0, 0, 320, 480, 0, 0, 1, 1);
  m.drawStretchPic(green, 320, 0, 320, 480, 0, 0, 1, 1);
  m.drawStretchPic(blue, 0, 0, 640, 480.0f / kHeight * 2.0f, 0, 0, 1, 1);  // two rows
}

TEST_F(CaptureGLTest, ScreenshotFileHasTheRenderSizeAndTheFrame) {
  Material* red = material("{\n{\nred 1\ngreen 0\nblue 0\n}\n}\n");
  Material* green = material("{\n{\nred 0\ngreen 1\nblue 0\n}\n}\n");
  Material* blue = material("{\n{\nred 0\ngreen 0\nblue 1\n}\n}\n");
  clearTo(0, 0, 0);
  drawPattern(*manager, red, green, blue);
  ASSERT_TRUE(manager->takeScreenshot("os/game/screenshots/shot.tga"));
  const std::string& tga = io.files["os/game/screenshots/shot.tga"];
  ASSERT_EQ(tga.size(), 18u + size_t(kWidth) * kHeight * 3) << "24-bit, the render size";
  const auto byte = [&](size_t at) { return int(uint8_t(tga[at])); };
  EXPECT_EQ(byte(12) | byte(13) << 8, kWidth);
  EXPECT_EQ(byte(14) | byte(15) << 8, kHeight);
  EXPECT_EQ(byte(16), 24);
  // Rows are stored top first (the descriptor says so); pixels as blue, green, red.
  const bool topFirst = (byte(17) & 0x20) != 0;
  const auto pixel = [&](int x, int y) {
    const int row = topFirst ? y : kHeight - 1 - y;
    const size_t at = 18 + (size_t(row) * kWidth + size_t(x)) * 3;
    return Rgb{byte(at + 2), byte(at + 1), byte(at)};
  };
  EXPECT_TRUE(near(pixel(10, kHeight / 2), kRed));
  EXPECT_TRUE(near(pixel(kWidth - 10, kHeight / 2), kGreen));
  EXPECT_TRUE(near(pixel(kWidth / 2, 0), kBlue));
  EXPECT_TRUE(near(pixel(10, kHeight - 1), kRed));

  EXPECT_FALSE(manager->takeScreenshot(nullptr));
  EXPECT_FALSE(manager->takeScreenshot(""));
}

TEST_F(CaptureGLTest, ReadPixelsFillsOddWidthsAndPitchesWithinEachRow) {
  Material* red = material("{\n{\nred 1\ngreen 0\nblue 0\n}\n}\n");
  Material* green = material("{\n{\nred 0\ngreen 1\nblue 0\n}\n}\n");
  Material* blue = material("{\n{\nred 0\ngreen 0\nblue 1\n}\n}\n");
  clearTo(0, 0, 0);
  drawPattern(*manager, red, green, blue);
  struct Case {
    int width, height, pitch;
    int written;  // pixels written per row
  };
  const Case cases[] = {{1, 1, 0, 1},  {3, 5, 3, 3},   {5, 3, 8, 5},    {7, 7, 7, 7},
                        {13, 4, 13, 13}, {9, 2, 4, 4},  {255, 3, 255, 255}, {kWidth + 9, 2, kWidth + 9, kWidth},
                        {7, kHeight, 7, 7}};
  constexpr uint8_t kGuard = 0xAB;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " pitch " << c.pitch);
    const int pitch = c.pitch > 0 ? c.pitch : c.width;
    std::vector<uint8_t> buffer(size_t(pitch) * c.height * 3 + 64, kGuard);
    ASSERT_TRUE(manager->readPixels(buffer.data(), c.pitch, 0, 0, c.width, c.height));
    for (int y = 0; y < c.height; y++) {
      for (int x = 0; x < pitch; x++) {
        const uint8_t* p = buffer.data() + (size_t(y) * pitch + size_t(x)) * 3;
        if (x >= c.written) {
          EXPECT_TRUE(p[0] == kGuard && p[1] == kGuard && p[2] == kGuard) << "past the row at " << x << "," << y;
          continue;
        }
        // The rectangle sits at the frame's lower-left corner, its top row first: only a read of
        // the full height reaches the blue band of the frame's top two rows.
        const int frameRow = kHeight - c.height + y;
        const Rgb want = frameRow < 2 ? kBlue : (x < kWidth / 2 ? kRed : kGreen);
        EXPECT_TRUE(near(Rgb{p[0], p[1], p[2]}, want)) << x << "," << y;
      }
    }
    for (size_t i = size_t(pitch) * c.height * 3; i < buffer.size(); i++)
      ASSERT_EQ(buffer[i], kGuard) << "past the buffer";
  }
  uint8_t one[3];
  EXPECT_FALSE(manager->readPixels(nullptr, 4, 0, 0, 4, 4));
  EXPECT_FALSE(manager->readPixels(one, 1, 0, 0, -1, 1));
  EXPECT_FALSE(manager->readPixels(one, 1, 0, 0, 1, 0));
}

TEST_F(CaptureGLTest, CaptureIntoNamedImagesSizesThemByTheRenderSize) {
  Material* red = material("{\n{\nred 1\ngreen 0\nblue 0\n}\n}\n");
  Material* green = material("{\n{\nred 0\ngreen 1\nblue 0\n}\n}\n");
  Material* blue = material("{\n{\nred 0\ngreen 0\nblue 1\n}\n}\n");
  clearTo(0, 0, 0);
  drawPattern(*manager, red, green, blue);

  // Missing: made at the powers of two that hold the render size (256 x 192 -> 256 x 256).
  manager->captureRenderToImage("_capturetest");
  ImageInterface* made = g_texManager->findLoadedImage("_capturetest", kImageAny);
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(made->info.width, 256);
  EXPECT_EQ(made->info.height, 256);
  // Its texels hold the frame: row 0 is the bottom of the frame, red on the left.
  std::vector<uint8_t> texels(256 * 256 * 4);
  ASSERT_TRUE(made->bind());
  device->getTexImage(kTextureType2D, kPixelFormatRGBA, texels.data());
  EXPECT_TRUE(near(Rgb{texels[(5 * 256 + 10) * 4], texels[(5 * 256 + 10) * 4 + 1], texels[(5 * 256 + 10) * 4 + 2]}, kRed));
  const size_t right = (size_t(5) * 256 + 200) * 4;
  EXPECT_TRUE(near(Rgb{texels[right], texels[right + 1], texels[right + 2]}, kGreen));

  // Large enough already: reused as it is.
  manager->captureRenderToImage("_capturetest");
  EXPECT_EQ(g_texManager->findLoadedImage("_capturetest", kImageAny), made);
  EXPECT_EQ(made->info.width, 256);

  // Too small: re-made at the render's powers of two.
  ImageInterface* small = g_texManager->createRGBImage(32, 32, 0x846, "_smallcapture");
  ASSERT_NE(small, nullptr);
  manager->captureRenderToImage("_smallcapture");
  EXPECT_EQ(small->info.width, 256);
  EXPECT_EQ(small->info.height, 256);

  // Scratch images keep their size whatever it is; the copy is clipped to them.
  ImageInterface* scratch = g_texManager->createRGBImage(16, 8, 0x846, "_scratchTest");
  ASSERT_NE(scratch, nullptr);
  manager->captureRenderToImage("_scratchTest");
  EXPECT_EQ(scratch->info.width, 16);
  EXPECT_EQ(scratch->info.height, 8);
  std::vector<uint8_t> small16(16 * 8 * 4);
  ASSERT_TRUE(scratch->bind());
  device->getTexImage(kTextureType2D, kPixelFormatRGBA, small16.data());
  EXPECT_TRUE(near(Rgb{small16[0], small16[1], small16[2]}, kRed)) << "the frame's lower-left corner";

  // The built-in "_currentRender" of the wrong size is re-made too, never taken as scratch.
  ASSERT_NE(g_currentRenderImage, nullptr);
  manager->captureRenderToImage(g_currentRenderImage->name);
  EXPECT_GE(g_currentRenderImage->info.width, kWidth);
  EXPECT_GE(g_currentRenderImage->info.height, kHeight);
}

TEST_F(CaptureGLTest, RenderViewToImageDrawsTheViewIntoTheImage) {
  BaseModel box;
  box.init("box");
  box.makeDefault();
  RenderEntity entity;
  entity.model = &box;
  entity.customMaterial = material("{\n{\nred 1\ngreen 0\nblue 0\n}\n}\n");
  entity.origin = Vec3(24, 0, 0);
  manager->addEntityDef(&entity);
  RenderView view = camera(0);
  manager->setRenderView(&view, 0);
  ImageInterface* image = g_texManager->createRGBImage(64, 64, 0x846, "_viewimage");
  ASSERT_NE(image, nullptr);
  manager->renderViewToImage(image, true);
  std::vector<uint8_t> texels(64 * 64 * 4);
  ASSERT_TRUE(image->bind());
  device->getTexImage(kTextureType2D, kPixelFormatRGBA, texels.data());
  const size_t middle = (size_t(32) * 64 + 32) * 4;
  EXPECT_TRUE(near(Rgb{texels[middle], texels[middle + 1], texels[middle + 2]}, kRed)) << console.text;
  // The stored viewport is back.
  int vp[4];
  g_renderBackEnd.getViewport(vp);
  EXPECT_EQ(vp[2], kWidth);
  EXPECT_EQ(vp[3], kHeight);
}

}  // namespace
