// The surface builder on a real device (llvmpipe through SDL's offscreen driver): quads built with
// vertex colours are drawn through the back end and read back where they stand; two primitives in
// a row draw from different buffers, and lines draw only the outline.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "lib/matrix.h"
#include "lib/polygon.h"
#include "platform/gl.h"
#include "render/backend/renderbackend.h"
#include "render/device/renderopengl.h"
#include "render/model/surfacebuilder.h"
#include "support/capturecmdsystem.h"
#include "tests/support/gldevice.h"

namespace {

constexpr int kSize = 64;

class SurfaceBuilderGLTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gltest::openDevice(kSize, kSize, &window_, &device_);
    if (IsSkipped() || HasFatalFailure())
      return;
    g_renderInterface = device_.get();
    g_renderBackEnd.reset();
    g_renderBackEnd.invalidatePrograms();
    device_->setViewport(0, 0, kSize, kSize);
    device_->setClearColor(0, 0, 0, 1);
    device_->clear(kClearColor | kClearDepth);
    // 2D drawing in pixels, y down; no depth test or culling in the way.
    g_renderBackEnd.setOrtho2D(float(kSize), float(kSize));
    g_renderBackEnd.setupPass();
    device_->setDepthFunc(kCompareAlways);
    device_->setCullMode(kCullNone);
    builder_ = std::make_unique<SurfaceBuilder>();
  }
  void TearDown() override {
    builder_.reset();
    if (g_renderInterface == device_.get())
      g_renderBackEnd.popMatrices(true, true);
    g_renderInterface = nullptr;
    device_.reset();
    if (window_)
      platformGLDestroyHiddenWindow(window_);
  }

  void quad(float x0, float y0, float x1, float y1, uint8_t r, uint8_t g, uint8_t b) {
    builder_->colorBytes(r, g, b, 255);
    builder_->vertex(x0, y0, 0);
    builder_->vertex(x1, y0, 0);
    builder_->vertex(x1, y1, 0);
    builder_->vertex(x0, y1, 0);
  }

  // RGB of the frame, rows bottom first.
  std::vector<uint8_t> frame() {
    std::vector<uint8_t> pixels(size_t(kSize) * kSize * 3);
    device_->finish();
    device_->readPixels(pixels.data(), 0, 0, kSize, kSize, kPixelFormatRGB);
    return pixels;
  }
  // The pixel at (x, y) in the top-down 2D coordinates used to draw.
  static const uint8_t* at(const std::vector<uint8_t>& pixels, int x, int y) {
    return &pixels[(size_t(kSize - 1 - y) * kSize + size_t(x)) * 3];
  }

  CaptureCmdSystem cmd_;
  void* window_ = nullptr;
  std::unique_ptr<RenderOpenGL> device_;
  std::unique_ptr<SurfaceBuilder> builder_;
};

TEST_F(SurfaceBuilderGLTest, QuadsDrawWhereTheyWereBuilt) {
  ASSERT_TRUE(builder_->begin(SurfaceBuilder::kQuads));
  VertexBufferHandle* first = builder_->buffer(builder_->currentBuffer());
  quad(8, 8, 24, 24, 255, 0, 0);
  builder_->end();
  builder_->draw(SurfaceBuilder::kQuads);

  ASSERT_TRUE(builder_->begin(SurfaceBuilder::kQuads));
  EXPECT_NE(builder_->buffer(builder_->currentBuffer()), first);
  quad(40, 40, 56, 56, 0, 0, 255);
  builder_->end();
  builder_->drawFilled();

  const std::vector<uint8_t> pixels = frame();
  const uint8_t* red = at(pixels, 16, 16);
  EXPECT_GE(red[0], 250);
  EXPECT_LE(red[1], 5);
  EXPECT_LE(red[2], 5);
  const uint8_t* blue = at(pixels, 48, 48);
  EXPECT_LE(blue[0], 5);
  EXPECT_GE(blue[2], 250);
  for (auto [x, y] : {std::pair{2, 2}, std::pair{32, 32}, std::pair{60, 4}, std::pair{4, 60}}) {
    const uint8_t* p = at(pixels, x, y);
    EXPECT_LE(p[0] + p[1] + p[2], 5) << "nothing outside the quads at " << x << "," << y;
  }
  // Every pixel of the red quad's inside is red.
  int redInside = 0;
  for (int y = 9; y < 23; y++)
    for (int x = 9; x < 23; x++)
      redInside += at(pixels, x, y)[0] >= 250 ? 1 : 0;
  EXPECT_EQ(redInside, 14 * 14);
}

TEST_F(SurfaceBuilderGLTest, LinesDrawTheOutlineOnly) {
  ConvexPolygon square;
  for (Vec3 p : {Vec3(10.5f, 10.5f, 0), Vec3(50.5f, 10.5f, 0), Vec3(50.5f, 50.5f, 0), Vec3(10.5f, 50.5f, 0)})
    square.points[square.numPoints++] = p;
  builder_->colorBytes(0, 255, 0, 255);
  ASSERT_TRUE(builder_->begin(SurfaceBuilder::kLines));
  ASSERT_TRUE(builder_->appendPolygon(square));
  builder_->end();
  builder_->draw(SurfaceBuilder::kLines);
  const std::vector<uint8_t> pixels = frame();
  int onEdge = 0;
  for (int i = 12; i < 49; i++)
    onEdge += at(pixels, i, 10)[1] >= 200 ? 1 : 0;
  EXPECT_GE(onEdge, 30) << "the top edge is drawn";
  EXPECT_LE(at(pixels, 30, 30)[1], 5) << "the inside stays empty";
}

}  // namespace
