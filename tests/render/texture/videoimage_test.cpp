// Video images: every frame kind decoded against the frames the test writer encoded (exact for
// raw, DDS and block-delta, within a tolerance for quad and JPEG), the codebook's colours, the
// clock (clamping, looping, restarting), every broken header and frame the decoder must refuse,
// and every truncation of each fixture.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "lib/interface/cmdsystem.h"
#include "render/texture/support/ovidwriter.h"
#include "render/texture/videoimage.h"
#include "support/capturecmdsystem.h"

namespace {

using textest::CodeStreamWriter;
using textest::OvidWriter;
using Bytes = std::vector<uint8_t>;

class VideoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    clock_ = 0.0f;
    VideoImage::clockOverride = [] { return clock_; };
    std::strcpy(video_.name, "video/test");
    std::strcpy(video_.extension, ".ovid");
  }
  void TearDown() override { VideoImage::clockOverride = nullptr; }

  Bytes frame() const { return Bytes(video_.frameBuffer(), video_.frameBuffer() + video_.frameBytes()); }

  CaptureCmdSystem cmd_;
  VideoImage video_;
  static inline float clock_ = 0.0f;
};

Bytes pattern(size_t n, int seed) {
  Bytes b(n);
  for (size_t i = 0; i < n; i++)
    b[i] = uint8_t(i * 13 + size_t(seed) * 71 + 5);
  return b;
}

// RGB of a YCbCr triple by the JFIF equations, in doubles.
void jfif(int y, int cb, int cr, double rgb[3]) {
  rgb[0] = y + 1.402 * (cr - 128);
  rgb[1] = y - 0.34414 * (cb - 128) - 0.71414 * (cr - 128);
  rgb[2] = y + 1.772 * (cb - 128);
  for (int k = 0; k < 3; k++)
    rgb[k] = rgb[k] < 0 ? 0 : (rgb[k] > 255 ? 255 : rgb[k]);
}

TEST(VideoColour, CodebookColoursFollowTheJfifEquations) {
  uint8_t rgb[3];
  videoYCbCrToRGB(128, 128, 128, rgb);
  EXPECT_EQ(rgb[0], 128);
  EXPECT_EQ(rgb[1], 128);
  EXPECT_EQ(rgb[2], 128);
  for (int y : {0, 16, 90, 200, 255})
    for (int cb : {0, 60, 128, 255})
      for (int cr : {0, 100, 128, 255}) {
        double want[3];
        jfif(y, cb, cr, want);
        videoYCbCrToRGB(y, cb, cr, rgb);
        for (int k = 0; k < 3; k++)
          EXPECT_NEAR(rgb[k], want[k], 1.0) << y << " " << cb << " " << cr << " channel " << k;
      }
}

TEST_F(VideoTest, BrokenHeadersGiveNoData) {
  struct Case {
    const char* what;
    Bytes file;
  };
  OvidWriter good(8, 8);
  Bytes noSignature = good.bytes;
  noSignature[0] = 0x00;
  Bytes infoPastEnd = OvidWriter(8, 8).bytes;
  infoPastEnd[8 + 2] = 200;  // the info chunk claims 200 bytes
  OvidWriter infoFirst(8, 8);
  Bytes swapped(infoFirst.bytes.begin() + 8, infoFirst.bytes.end());
  const Case cases[] = {
      {"empty", {}},
      {"no signature", noSignature},
      {"info chunk of 4 bytes", OvidWriter(8, 8, 4).bytes},
      {"zero width", OvidWriter(0, 8).bytes},
      {"zero height", OvidWriter(8, 0).bytes},
      {"info chunk past the end", infoPastEnd},
      {"info before the signature", swapped},
      {"signature only", Bytes(good.bytes.begin(), good.bytes.begin() + 8)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_FALSE(video_.openFromMemory(c.file.data(), c.file.size()));
    EXPECT_FALSE(video_.hasData());
    ImageData info = {};
    EXPECT_FALSE(readVideoImageInfo(c.file.data(), c.file.size(), &info));
  }
  // A good header without frames: data, no frames, never advances.
  ASSERT_TRUE(video_.openFromMemory(good.bytes.data(), good.bytes.size()));
  EXPECT_EQ(video_.frameCount(), 0);
  video_.advanceFrame();
  EXPECT_EQ(video_.currentFrame(), -1);
  ImageData info = {};
  ASSERT_TRUE(readVideoImageInfo(good.bytes.data(), good.bytes.size(), &info));
  EXPECT_EQ(info.info.width, 8);
  EXPECT_EQ(info.info.pixelFormat, kPixelFormatRGB);
  EXPECT_EQ(info.byteSize, int(good.bytes.size()));
  imageFree(info.pixels);
}

TEST_F(VideoTest, RawFramesDecodeExactlyForwardAndBack) {
  OvidWriter w(6, 5);  // sides of no block size
  const Bytes frames[3] = {pattern(90, 1), pattern(90, 2), pattern(90, 3)};
  w.raw(frames[0]);
  w.chunk(0x2222, {1, 2, 3});  // unknown ids are skipped
  w.raw(frames[1]);
  w.raw(Bytes(10, 7));  // short: skipped, the buffer keeps frame 1
  w.raw(frames[2]);
  ASSERT_TRUE(video_.openFromMemory(w.bytes.data(), w.bytes.size()));
  EXPECT_EQ(video_.frameCount(), 4);
  EXPECT_EQ(video_.info.pixelFormat, kPixelFormatRGB);
  EXPECT_EQ(video_.frameBytes(), 90);
  for (int f : {0, 1, 3, 0, 3, 1, 2}) {
    SCOPED_TRACE(f);
    video_.seekFrame(f);
    EXPECT_EQ(video_.currentFrame(), f);
    const Bytes& want = f == 0 ? frames[0] : (f == 3 ? frames[2] : frames[1]);
    EXPECT_EQ(frame(), want);
  }
  EXPECT_GT(video_.faults(), 0);
  EXPECT_NE(cmd_.output.find("raw frame is shorter"), std::string::npos) << cmd_.output;
}

// A codebook of 2x2 cells with flat colours: cell c has Y = 20 c + 10 on all four pixels, except
// cell 1, whose four pixels differ (Y 40, 80, 120, 160), and Cb/Cr of 128 except cell 2 (red).
struct Book {
  Bytes cells2, cells4;
  int y[8][4];
  int cb[8], cr[8];
  int quarters4[4][4];
};

Book makeBook() {
  Book b;
  for (int c = 0; c < 8; c++) {
    for (int k = 0; k < 4; k++)
      b.y[c][k] = c == 1 ? 40 * (k + 1) : 20 * c + 10;
    b.cb[c] = 128;
    b.cr[c] = c == 2 ? 220 : 128;
    for (int k = 0; k < 4; k++)
      b.cells2.push_back(uint8_t(b.y[c][k]));
    b.cells2.push_back(uint8_t(b.cb[c]));
    b.cells2.push_back(uint8_t(b.cr[c]));
  }
  const int q[4][4] = {{0, 1, 2, 3}, {4, 4, 4, 4}, {1, 1, 5, 6}, {7, 2, 0, 3}};
  for (int c = 0; c < 4; c++)
    for (int k = 0; k < 4; k++) {
      b.quarters4[c][k] = q[c][k];
      b.cells4.push_back(uint8_t(q[c][k]));
    }
  return b;
}

// The expected RGBA picture of the quad frames, built pixel by pixel from the book.
struct Picture {
  int w, h;
  std::vector<double> rgb;  // 3 per pixel
  void cell2(const Book& b, int x, int y, int c, int scale) {
    for (int k = 0; k < 4; k++) {
      double v[3];
      jfif(b.y[c][k], b.cb[c], b.cr[c], v);
      for (int dy = 0; dy < scale; dy++)
        for (int dx = 0; dx < scale; dx++) {
          const int px = x + (k & 1) * scale + dx, py = y + (k >> 1) * scale + dy;
          if (px < w && py < h)
            for (int ch = 0; ch < 3; ch++)
              rgb[size_t(py * w + px) * 3 + size_t(ch)] = v[ch];
        }
    }
  }
  void cell4(const Book& b, int x, int y, int c, int scale) {
    for (int q = 0; q < 4; q++)
      cell2(b, x + (q & 1) * 2 * scale, y + (q >> 1) * 2 * scale, b.quarters4[c][q], scale);
  }
  void copyFrom(const Picture& from, int x, int y, int size, int sx, int sy) {
    for (int r = 0; r < size && y + r < h; r++)
      for (int c = 0; c < size && x + c < w; c++)
        for (int ch = 0; ch < 3; ch++)
          rgb[size_t((y + r) * w + x + c) * 3 + size_t(ch)] = from.rgb[size_t((sy + r) * w + sx + c) * 3 + size_t(ch)];
  }
};

void expectPicture(const Bytes& got, const Picture& want, double tolerance) {
  ASSERT_EQ(got.size(), size_t(want.w * want.h * 4));
  int bad = 0;
  for (int i = 0; i < want.w * want.h && bad < 5; i++) {
    for (int ch = 0; ch < 3; ch++) {
      if (std::fabs(got[size_t(i) * 4 + size_t(ch)] - want.rgb[size_t(i) * 3 + size_t(ch)]) > tolerance) {
        ADD_FAILURE() << "pixel " << i % want.w << "," << i / want.w << " channel " << ch << ": "
                      << int(got[size_t(i) * 4 + size_t(ch)]) << " want " << want.rgb[size_t(i) * 3 + size_t(ch)];
        bad++;
      }
    }
    EXPECT_EQ(got[size_t(i) * 4 + 3], 255);
  }
}

// 24 x 20: the second macroblock column and row are clipped.
Bytes quadVideo(Picture* first, Picture* second) {
  const Book book = makeBook();
  OvidWriter w(24, 20);
  w.codebook(book.cells2, book.cells4, uint16_t((8 << 8) | 4));
  // Frame 0: every 8x8 block the doubled 4x4 cell (block index mod 4).
  CodeStreamWriter f0;
  Picture p0{24, 20, std::vector<double>(24 * 20 * 3, 0.0)};
  int n = 0;
  for (int my = 0; my < 20; my += 16)
    for (int mx = 0; mx < 24; mx += 16)
      for (int b = 0; b < 4; b++, n++) {
        f0.code(2);
        f0.byte(uint8_t(n % 4));
        p0.cell4(book, mx + (b & 1) * 8, my + (b >> 1) * 8, n % 4, 2);
      }
  w.quad(f0);
  // Frame 1 (the codebook again, as writers do before each quad frame).
  w.codebook(book.cells2, book.cells4, uint16_t((8 << 8) | 4));
  CodeStreamWriter f1;
  Picture p1 = p0;
  // Macroblock (0,0): block 0 copies the previous frame's block at (8, 0) (m = 0x08: 8 - 0, 8 - 8);
  // block 1 is unchanged (a motion copy of the same place, m = 0x88: a skip would keep the older
  // buffer); block 2 splits: a 4x4 cell, four 2x2 cells, two unchanged sub-blocks; block 3 is one
  // doubled cell.
  f1.code(1);
  f1.byte(0x08);
  p1.copyFrom(p0, 0, 0, 8, 8, 0);
  f1.code(1);
  f1.byte(0x88);
  f1.code(3);
  f1.code(2);
  f1.byte(3);
  p1.cell4(book, 0, 8, 3, 1);
  f1.code(3);
  const uint8_t quarters[4] = {2, 1, 0, 7};
  f1.block(quarters, 4);
  for (int q = 0; q < 4; q++)
    p1.cell2(book, 4 + (q & 1) * 2, 8 + (q >> 1) * 2, quarters[q], 1);
  f1.code(1);
  f1.byte(0x88);
  f1.code(1);
  f1.byte(0x88);
  f1.code(2);
  f1.byte(1);
  p1.cell4(book, 8, 8, 1, 2);
  // Every other macroblock: unchanged.
  for (int b = 0; b < 3 * 4; b++) {
    f1.code(1);
    f1.byte(0x88);
  }
  w.quad(f1);
  *first = p0;
  *second = p1;
  return w.bytes;
}

TEST_F(VideoTest, QuadFramesDecodeToTheCodebookCells) {
  Picture p0, p1;
  const Bytes file = quadVideo(&p0, &p1);
  ASSERT_TRUE(video_.openFromMemory(file.data(), file.size()));
  EXPECT_EQ(video_.info.pixelFormat, kPixelFormatRGBA);
  EXPECT_EQ(video_.frameCount(), 2);
  video_.seekFrame(0);
  expectPicture(frame(), p0, 1.0);
  video_.seekFrame(1);
  expectPicture(frame(), p1, 1.0);
  video_.seekFrame(0);
  expectPicture(frame(), p0, 1.0);
  EXPECT_EQ(video_.faults(), 0) << cmd_.output;
}

// Each quad or block-delta frame swaps the two frame buffers first, so a skipped block keeps what
// the swapped-in buffer holds: the frame before the previous one, not the previous frame.
TEST_F(VideoTest, SkippedBlocksKeepTheSwappedInBuffer) {
  const Book book = makeBook();
  OvidWriter q(16, 16);
  for (int f = 0; f < 3; f++) {
    q.codebook(book.cells2, book.cells4, uint16_t((8 << 8) | 4));
    CodeStreamWriter codes;
    for (int b = 0; b < 4; b++) {
      codes.code(f < 2 ? 2 : 0);
      if (f < 2)
        codes.byte(uint8_t(f));
    }
    q.quad(codes);
  }
  ASSERT_TRUE(video_.openFromMemory(q.bytes.data(), q.bytes.size()));
  video_.seekFrame(0);
  const Bytes first = frame();
  video_.seekFrame(1);
  const Bytes second = frame();
  ASSERT_NE(first, second);
  video_.seekFrame(2);
  EXPECT_EQ(frame(), first) << "quad frame of skips";

  const Bytes base = pattern(4 * 8, 3), other = pattern(4 * 8, 4);
  OvidWriter d(8, 8);
  d.dds(base, 8, 8);
  CodeStreamWriter fill, skip;
  fill.code(2);
  fill.block(other.data(), 8);
  for (int g = 1; g < 4; g++)
    fill.code(0);
  for (int g = 0; g < 4; g++)
    skip.code(0);
  d.delta(fill);
  d.delta(skip);
  VideoImage blocks;
  ASSERT_TRUE(blocks.openFromMemory(d.bytes.data(), d.bytes.size()));
  blocks.seekFrame(1);
  EXPECT_EQ(Bytes(blocks.frameBuffer(), blocks.frameBuffer() + 8), Bytes(other.begin(), other.begin() + 8));
  blocks.seekFrame(2);
  EXPECT_EQ(Bytes(blocks.frameBuffer(), blocks.frameBuffer() + blocks.frameBytes()), base)
      << "block-delta frame of skips";
  EXPECT_EQ(video_.faults() + blocks.faults(), 0) << cmd_.output;
}

TEST_F(VideoTest, CodebookArgumentsAndShortCodebooks) {
  const Book book = makeBook();
  struct Case {
    const char* what;
    uint16_t argument;
    size_t cells2, cells4;  // bytes actually written
    bool fault;
  };
  const Case cases[] = {
      {"argument 0x0100: one 2x2 cell, no 4x4 cell", 0x0100, 6, 0, false},
      {"argument 0: 256 of each, but the chunk holds 8 + 4", 0, 48, 16, true},
      {"cells cut inside the 2x2 list", 0x0804, 20, 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    OvidWriter w(16, 16);
    w.codebook(Bytes(book.cells2.begin(), book.cells2.begin() + long(c.cells2)),
               Bytes(book.cells4.begin(), book.cells4.begin() + long(c.cells4)), c.argument);
    CodeStreamWriter f;
    for (int b = 0; b < 4; b++) {
      f.code(3);
      for (int s = 0; s < 4; s++) {
        f.code(3);
        const uint8_t zero[4] = {0, 0, 0, 0};
        f.block(zero, 4);
      }
    }
    w.quad(f);
    VideoImage video;
    ASSERT_TRUE(video.openFromMemory(w.bytes.data(), w.bytes.size()));
    video.seekFrame(0);
    // 2x2 cell 0 is whole in every case: Y 10, grey.
    double want[3];
    jfif(10, 128, 128, want);
    EXPECT_NEAR(video.frameBuffer()[0], want[0], 1.0);
    EXPECT_EQ(video.faults() > 0, c.fault);
  }
}

std::vector<uint8_t> smoothPicture(int w, int h, int seed) {
  Bytes rgb(size_t(w * h * 3));
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) {
      uint8_t* p = &rgb[size_t(y * w + x) * 3];
      p[0] = uint8_t(40 + x * 3 + seed * 10);
      p[1] = uint8_t(60 + y * 4);
      p[2] = uint8_t(100 + seed * 30);
    }
  return rgb;
}

TEST_F(VideoTest, JpegFramesDecodeWithinATolerance) {
  OvidWriter w(32, 24);
  const Bytes a = smoothPicture(32, 24, 0), b = smoothPicture(32, 24, 3);
  w.jpeg(a, 32, 24, 95);
  w.jpeg(b, 32, 24, 95);
  w.jpeg(smoothPicture(16, 16, 1), 16, 16, 95);  // does not match the video: refused, kept
  ASSERT_TRUE(video_.openFromMemory(w.bytes.data(), w.bytes.size()));
  EXPECT_EQ(video_.info.pixelFormat, kPixelFormatRGB);
  for (int f : {0, 1, 2}) {
    SCOPED_TRACE(f);
    video_.seekFrame(f);
    const Bytes& want = f == 0 ? a : b;
    const Bytes got = frame();
    ASSERT_EQ(got.size(), want.size());
    int worst = 0;
    for (size_t i = 0; i < got.size(); i++)
      worst = std::max(worst, std::abs(int(got[i]) - int(want[i])));
    EXPECT_LE(worst, 12);
  }
  EXPECT_NE(cmd_.output.find("JPEG frame does not match"), std::string::npos) << cmd_.output;
}

// 20 x 12 pixels: 5 x 3 DXT1 blocks, groups clipped on the right and at the bottom.
TEST_F(VideoTest, DdsAndBlockDeltaFramesDecodeExactly) {
  const int bw = 5, bh = 3;
  const Bytes base = pattern(size_t(bw * bh * 8), 9);
  OvidWriter w(20, 12);
  w.dds(base, 20, 12);
  CodeStreamWriter d;
  Bytes want = base;
  auto blockAt = [&](Bytes& b, int x, int y) { return &b[size_t(y * bw + x) * 8]; };
  const Bytes solid = {1, 2, 3, 4, 5, 6, 7, 8};
  const Bytes other = {9, 9, 9, 9, 8, 8, 8, 8};
  // Group (0,0) of 4x4 blocks: quarter 0 one block everywhere; quarter 1 copied from the previous
  // frame one block to the right (m = 0x78: 8 - 7 = 1 in x, 8 - 8 = 0 in y); quarter 2 block by
  // block: unchanged (a copy of the same place, m = 0x88), a new block, a copy for a block below
  // the frame (row 3), nothing; quarter 3 unchanged.
  d.code(2);
  d.block(solid.data(), 8);
  for (int k = 0; k < 4; k++)
    std::memcpy(blockAt(want, k & 1, k >> 1), solid.data(), 8);
  d.code(1);
  d.byte(0x78);
  Bytes before = base;
  for (int k = 0; k < 4; k++) {
    const int x = 2 + (k & 1), y = k >> 1;
    std::memcpy(blockAt(want, x, y), blockAt(before, x + 1, y), 8);
  }
  d.code(3);
  d.code(1);
  d.byte(0x88);
  d.code(2);
  d.block(other.data(), 8);
  std::memcpy(blockAt(want, 1, 2), other.data(), 8);
  d.code(1);
  d.byte(0x88);
  d.code(3);
  d.code(1);
  d.byte(0x88);
  // Group (4,0): only block column 4 exists; a new block fills the two blocks inside.
  d.code(2);
  d.block(other.data(), 8);
  std::memcpy(blockAt(want, 4, 0), other.data(), 8);
  std::memcpy(blockAt(want, 4, 1), other.data(), 8);
  for (int q = 0; q < 3; q++) {
    d.code(1);
    d.byte(0x88);
  }
  w.delta(d);
  // A raw frame of a DXT video holds blocks too.
  const Bytes rawBlocks = pattern(size_t(bw * bh * 8), 2);
  w.raw(rawBlocks);
  ASSERT_TRUE(video_.openFromMemory(w.bytes.data(), w.bytes.size()));
  EXPECT_EQ(video_.info.pixelFormat, kPixelFormatDXT1);
  EXPECT_EQ(video_.frameBytes(), bw * bh * 8);
  for (int f : {0, 1, 2, 1, 0, 1}) {
    SCOPED_TRACE(f);
    video_.seekFrame(f);
    EXPECT_EQ(frame(), f == 0 ? base : (f == 1 ? want : rawBlocks));
  }
  EXPECT_EQ(video_.faults(), 0) << cmd_.output;
}

TEST_F(VideoTest, FaultyFramesAreRefusedWithoutTouchingMemoryOutside) {
  struct Case {
    const char* what;
    Bytes file;
    const char* message;
  };
  std::vector<Case> cases;
  {
    OvidWriter w(16, 16);
    const Book book = makeBook();
    w.codebook(book.cells2, book.cells4, 0x0804);
    CodeStreamWriter f;
    f.code(1);
    f.byte(0xF0);  // 8 - 15 = 7 pixels left of 0: outside
    w.quad(f);
    cases.push_back({"quad motion vector outside the frame", w.bytes, "outside the frame"});
  }
  {
    OvidWriter w(16, 16);
    const Book book = makeBook();
    w.codebook(book.cells2, book.cells4, 0x0804);
    CodeStreamWriter f;
    f.code(2);  // its argument byte is missing
    w.quad(f);
    cases.push_back({"quad argument beyond the chunk", w.bytes, "ends inside an argument"});
  }
  {
    OvidWriter w(16, 16);
    const Book book = makeBook();
    w.codebook(book.cells2, book.cells4, 0x0804);
    w.chunk(0x1011, {});
    cases.push_back({"quad codes beyond the chunk", w.bytes, "ends before its codes"});
  }
  {
    OvidWriter w(16, 16);
    w.raw(pattern(16 * 16 * 3, 1));
    CodeStreamWriter f;
    f.code(0);
    w.delta(f);
    cases.push_back({"a delta frame makes the video DXT: the 24-bit raw frame no longer fits", w.bytes,
                    "raw frame is longer"});
  }
  {
    OvidWriter w(16, 16);
    w.raw(pattern(16 * 16 * 3, 1));
    const Book book = makeBook();
    w.codebook(book.cells2, book.cells4, 0x0804);
    CodeStreamWriter f;
    f.code(0);
    w.quad(f);
    cases.push_back({"quad frame in a 24-bit video", w.bytes, "not 32-bit pixels"});
  }
  {
    OvidWriter w(16, 16);
    w.dds(pattern(4 * 4 * 8, 1), 16, 16);
    CodeStreamWriter f;
    f.code(1);
    f.byte(0x00);  // 8 blocks right and down: outside
    w.delta(f);
    cases.push_back({"delta motion vector outside the frame", w.bytes, "outside the frame"});
  }
  {
    OvidWriter w(16, 16);
    w.dds(pattern(2 * 2 * 8, 1), 8, 8);
    cases.push_back({"DDS frame of another size", w.bytes, "no DXT1 image of the video's size"});
  }
  {
    OvidWriter w(16, 16);
    w.raw(pattern(16 * 16 * 3, 1));
    w.raw(pattern(16 * 16 * 3, 2));
    w.bytes[w.bytes.size() - 16 * 16 * 3 - 6] = 0xFF;  // the last chunk now runs far past the end
    cases.push_back({"chunk past the end", w.bytes, ""});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    cmd_.output.clear();
    VideoImage video;
    ASSERT_TRUE(video.openFromMemory(c.file.data(), c.file.size()));
    for (int f = 0; f < video.frameCount(); f++)
      video.seekFrame(f);
    EXPECT_NE(cmd_.output.find(c.message), std::string::npos) << cmd_.output;
  }
  // The chunk past the end is no frame.
  VideoImage video;
  ASSERT_TRUE(video.openFromMemory(cases.back().file.data(), cases.back().file.size()));
  EXPECT_EQ(video.frameCount(), 1);
}

TEST_F(VideoTest, TheClockPicksTheFrame) {
  OvidWriter w(4, 4);
  for (int f = 0; f < 5; f++)
    w.raw(Bytes(48, uint8_t(f)));
  ASSERT_TRUE(video_.openFromMemory(w.bytes.data(), w.bytes.size()));
  auto at = [&](float seconds) {
    clock_ = seconds;
    video_.advanceFrame();
    return video_.frameBuffer()[0];
  };
  clock_ = 10.0f;
  EXPECT_EQ(at(10.0f), 0) << "the first advance takes the clock as its start";
  EXPECT_EQ(at(10.0f + 2.5f / 24), 2);
  EXPECT_FALSE(video_.isAtEnd());
  EXPECT_EQ(at(12.0f), 4) << "without looping the last frame stays";
  EXPECT_TRUE(video_.isAtEnd());
  EXPECT_EQ(at(10.0f + 1.5f / 24), 1) << "going back decodes from the start";
  video_.setLoop(1);
  EXPECT_EQ(at(10.0f + 7.5f / 24), 2) << "looping wraps at the frame count";
  video_.restart();
  EXPECT_EQ(at(50.0f), 0) << "restart makes the next clock value time zero";
  EXPECT_EQ(at(50.0f + 3.2f / 24), 3);
}

// A file cut inside a chunk says so, naming the file, and plays the frames before the cut; one
// cut between chunks is a shorter video like any other.
TEST_F(VideoTest, AVideoCutInsideAChunkSaysSoAndPlaysWhatIsLeft) {
  OvidWriter w(6, 5);
  w.raw(pattern(90, 1));
  w.raw(pattern(90, 2));
  const size_t twoFrames = w.bytes.size();
  w.raw(pattern(90, 3));
  struct Case {
    size_t length;
    int frames;
    bool cut;
  };
  for (const Case& c : {Case{w.bytes.size(), 3, false}, Case{twoFrames, 2, false},
                        Case{twoFrames + 3, 2, true}, Case{w.bytes.size() - 1, 2, true}}) {
    SCOPED_TRACE(c.length);
    cmd_.output.clear();
    VideoImage video;
    std::strcpy(video.name, "video/test");
    std::strcpy(video.extension, ".ovid");
    ASSERT_TRUE(video.openFromMemory(w.bytes.data(), c.length));
    EXPECT_EQ(video.frameCount(), c.frames);
    EXPECT_EQ(cmd_.output.find("WARNING: video \"video/test.ovid\": the file ends inside a chunk") !=
                  std::string::npos,
              c.cut)
        << cmd_.output;
    video.seekFrame(c.frames - 1);
    EXPECT_EQ(video.currentFrame(), c.frames - 1);
  }
}

TEST_F(VideoTest, EveryTruncationOfEachFixtureIsSafe) {
  Picture p0, p1;
  std::vector<Bytes> fixtures = {quadVideo(&p0, &p1)};
  {
    OvidWriter w(20, 12);
    w.dds(pattern(5 * 3 * 8, 4), 20, 12);
    CodeStreamWriter d;
    for (int k = 0; k < 6; k++) {
      d.code(3);
      for (int s = 0; s < 4; s++) {
        d.code(s == 0 ? 1 : 2);
        if (s == 0)
          d.byte(0x88);
        else
          d.block(pattern(8, s).data(), 8);
      }
    }
    w.delta(d);
    fixtures.push_back(w.bytes);
  }
  {
    OvidWriter w(16, 8);
    w.jpeg(smoothPicture(16, 8, 2), 16, 8, 80);
    w.raw(pattern(16 * 8 * 3, 2));
    fixtures.push_back(w.bytes);
  }
  for (size_t fixture = 0; fixture < fixtures.size(); fixture++) {
    const Bytes& file = fixtures[fixture];
    for (size_t n = 0; n <= file.size(); n++) {
      VideoImage video;
      if (!video.openFromMemory(file.data(), n))
        continue;
      for (int f = video.frameCount() - 1; f >= 0; f--)
        video.seekFrame(f);
      for (int f = 0; f < video.frameCount(); f++)
        video.seekFrame(f);
    }
  }
}

}  // namespace
