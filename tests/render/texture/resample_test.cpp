// Resampling and down-sizing: box-filter weights, point sampling, the size-limit rules of the
// "image_downSize..." variables, dropping stored levels, normal re-normalisation and the black border.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "render/texture/imageresample.h"
#include "render/texture/support/texenv.h"

namespace {

using Bytes = std::vector<uint8_t>;

class ResampleTest : public textest::TexEnv {};

// An owned record over a copy of `pixels`.
ImageData makeImage(int width, int height, int format, const Bytes& pixels, int mips = 0) {
  ImageData data = {};
  data.info = ImageInfo{width, height, 0, format, 0, 99};
  data.pixels = imageAlloc(pixels.size() + 4);
  std::copy(pixels.begin(), pixels.end(), data.pixels);
  data.byteSize = int32_t(pixels.size());
  data.mipCount = uint8_t(mips);
  return data;
}

Bytes pixelsOf(const ImageData& data) {
  return Bytes(data.pixels, data.pixels + data.byteSize);
}

Bytes grayRow(std::initializer_list<int> values) {
  Bytes out;
  for (int v : values)
    out.insert(out.end(), {uint8_t(v), uint8_t(v), uint8_t(v)});
  return out;
}

TEST_F(ResampleTest, BoxFilterWeighsCoveredFractions) {
  struct Case {
    const char* what;
    int width, height;
    Bytes src;
    int dstWidth, dstHeight;
    Bytes expected;
  } cases[] = {
      {"halves with rounding up", 4, 1, grayRow({0, 100, 200, 255}), 2, 1, grayRow({50, 228})},
      {"middle pixel split in two", 3, 1, grayRow({0, 90, 180}), 2, 1, grayRow({30, 150})},
      {"identity copies", 2, 1, grayRow({7, 9}), 2, 1, grayRow({7, 9})},
      {"both axes", 2, 2, grayRow({0, 40, 80, 120}), 1, 1, grayRow({60})},
      {"columns only", 1, 4, grayRow({0, 10, 20, 30}), 1, 2, grayRow({5, 25})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ImageData src = makeImage(c.width, c.height, kPixelFormatRGB, c.src);
    Bytes dst(c.expected.size() + 4);
    resampleImage(&src, 1, dst.data(), c.dstWidth, c.dstHeight);
    dst.resize(c.expected.size());
    EXPECT_EQ(dst, c.expected);
    imageFree(src.pixels);
  }
}

TEST_F(ResampleTest, PointSamplingTakesTheFirstSourcePixel) {
  ImageData src = makeImage(4, 2, kPixelFormatI8, {1, 2, 3, 4, 5, 6, 7, 8});
  Bytes dst(2 + 4);
  resampleImage(&src, 0, dst.data(), 2, 1);
  EXPECT_EQ(dst[0], 1);
  EXPECT_EQ(dst[1], 3);
  imageFree(src.pixels);
}

TEST_F(ResampleTest, LargeImagesFilterThroughAHeapIntermediate) {
  // 1024 x 1024 RGBA halves: the intermediate (1024 rows of 512 pixels) exceeds the scratch block.
  const int size = 1024;
  Bytes pixels(size_t(size) * size * 4);
  for (size_t i = 0; i < pixels.size(); ++i)
    pixels[i] = uint8_t((i / 4) % 2 ? 200 : 100);
  ImageData src = makeImage(size, size, kPixelFormatRGBA, pixels);
  ImageData dst = {};
  resizeImage(&dst, &src, size / 2, size / 2, 0);
  ASSERT_NE(dst.pixels, nullptr);
  EXPECT_EQ(dst.info.width, 512);
  EXPECT_EQ(dst.byteSize, 512 * 512 * 4);
  for (int i = 0; i < dst.byteSize; ++i)
    ASSERT_EQ(dst.pixels[i], 150) << i;
  imageFree(src.pixels);
  imageFree(dst.pixels);
}

TEST_F(ResampleTest, LimitFollowsClassAndAspect) {
  setVar("image_downSize", "1");
  setVar("image_downSizeBump", "1");
  setVar("image_downSizeSpecular", "1");
  struct Case {
    uint32_t flags;
    int width, height;
    int expectedWidth, expectedHeight;
  } cases[] = {
      {0, 512, 256, 256, 128},
      {0, 256, 512, 128, 256},
      {0, 300, 200, 256, 200},
      {0, 1024, 1024, 256, 256},
      {0, 100, 50, 100, 50},
      {kImageBump, 1024, 512, 256, 128},
      {kImageSpecular, 256, 256, 64, 64},
      {kImageSpecular, 80, 40, 64, 40},
      {kImageDiffuse, 2048, 16, 256, 16},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " flags " << c.flags);
    EXPECT_TRUE(isImageSizeLimited(c.flags));
    ImageData data = makeImage(c.width, c.height, kPixelFormatI8, Bytes(size_t(c.width) * c.height, 9));
    limitImageSize(&data, &data, c.flags);
    EXPECT_EQ(data.info.width, c.expectedWidth);
    EXPECT_EQ(data.info.height, c.expectedHeight);
    EXPECT_EQ(data.byteSize, c.expectedWidth * c.expectedHeight);
    EXPECT_EQ(data.pixels[0], 9);
    imageFree(data.pixels);
  }
  EXPECT_FALSE(isImageSizeLimited(kImageNoDownSize));
  setVar("image_downSizeSpecular", "0");
  EXPECT_FALSE(isImageSizeLimited(kImageSpecular));
  EXPECT_TRUE(isImageSizeLimited(kImageBump));
}

TEST_F(ResampleTest, StoredLevelsAreDroppedWithinTheBlock) {
  setVar("image_downSize", "1");
  int64_t chain = 0;
  for (int s = 1024; s >= 1; s /= 2)
    chain += imageCompressedLevelSize(kPixelFormatDXT1, s, s);
  Bytes blocks(static_cast<size_t>(chain));
  for (size_t i = 0; i < blocks.size(); ++i)
    blocks[i] = uint8_t(i);
  ImageData dxt = makeImage(1024, 1024, kPixelFormatDXT1, blocks, 11);
  limitImageSize(&dxt, &dxt, 0);
  EXPECT_EQ(dxt.info.width, 256);
  EXPECT_EQ(dxt.mipCount, 9);
  const int64_t dropped = imageCompressedLevelSize(kPixelFormatDXT1, 1024, 1024) +
                          imageCompressedLevelSize(kPixelFormatDXT1, 512, 512);
  EXPECT_EQ(dxt.byteSize, chain - dropped);
  EXPECT_EQ(dxt.pixels[0], uint8_t(dropped));
  imageFree(dxt.pixels);

  // No stored levels: never limited.
  ImageData single =
      makeImage(1024, 1024, kPixelFormatDXT1, Bytes(size_t(imageCompressedLevelSize(21, 1024, 1024))));
  limitImageSize(&single, &single, 0);
  EXPECT_EQ(single.info.width, 1024);
  imageFree(single.pixels);

  // A count that claims more levels than the block holds stops at the block's end, unchanged.
  const int64_t two = imageCompressedLevelSize(21, 1024, 1024) + imageCompressedLevelSize(21, 512, 512);
  ImageData liar = makeImage(1024, 1024, kPixelFormatDXT1, Bytes(size_t(two)), 11);
  limitImageSize(&liar, &liar, 0);
  EXPECT_EQ(liar.info.width, 1024);
  EXPECT_EQ(liar.byteSize, two);
  EXPECT_EQ(liar.mipCount, 11);
  imageFree(liar.pixels);
}

TEST_F(ResampleTest, BumpMapsAreRenormalisedOnlyByTheBoxFilter) {
  // Two opposite tilts average to a short vector pointing up the z axis.
  const Bytes normals = {255, 128, 128, 0, 128, 128};
  for (const char* quality : {"0", "1"}) {
    SCOPED_TRACE(quality);
    setVar("image_downSizeQuality", quality);
    ImageData src = makeImage(2, 1, kPixelFormatRGB, normals);
    ImageData dst = {};
    resizeImage(&dst, &src, 1, 1, kImageBump);
    ASSERT_NE(dst.pixels, nullptr);
    if (quality[0] == '1') {
      // Averaged (128, 128, 128) is renormalised along its own direction.
      float v[3];
      for (int c = 0; c < 3; ++c)
        v[c] = dst.pixels[c] / 255.0f * 2 - 1;
      EXPECT_NEAR(std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]), 1.0f, 0.02f);
    } else {
      EXPECT_EQ(pixelsOf(dst), (Bytes{255, 128, 128}));
    }
    imageFree(src.pixels);
    imageFree(dst.pixels);
  }
}

TEST_F(ResampleTest, ZeroClampImagesGetABlackBorder) {
  ImageData tall = makeImage(1, 8, kPixelFormatRGBA, Bytes(8 * 4, 200));
  ImageData dst = {};
  resizeImage(&dst, &tall, 1, 4, kImageZeroClamp);
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(Bytes(dst.pixels + i * 4, dst.pixels + i * 4 + 4), (Bytes{0, 0, 0, 255}));
  imageFree(tall.pixels);
  imageFree(dst.pixels);

  ImageData square = makeImage(8, 8, kPixelFormatRGB, Bytes(8 * 8 * 3, 200));
  resizeImage(&dst, &square, 4, 4, kImageZeroClamp);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) {
      const bool edge = x == 0 || y == 0 || x == 3 || y == 3;
      EXPECT_EQ(dst.pixels[(y * 4 + x) * 3], edge ? 0 : 200) << x << "," << y;
    }
  imageFree(dst.pixels);
  // Clamp alone keeps the picture.
  resizeImage(&dst, &square, 4, 4, kImageClamp);
  EXPECT_EQ(dst.pixels[0], 200);
  imageFree(square.pixels);
  imageFree(dst.pixels);
}

}  // namespace
