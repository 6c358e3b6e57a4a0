// Image codecs on fixtures built here as bytes: TGA row orders, run-length packets and colour maps,
// 8- and 24-bit BMP with row padding, DXT and BGR DDS, JPEG from our encoder and from libjpeg
// (grayscale, CMYK). Every decoder must refuse truncated and forged files without reading past them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "render/texture/imagefiles.h"
#include "render/texture/support/texenv.h"

namespace {

using Bytes = std::vector<uint8_t>;
using textest::g_output;

void put16(Bytes& b, size_t at, uint32_t v) {
  b[at] = uint8_t(v);
  b[at + 1] = uint8_t(v >> 8);
}
void put32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i)
    b[at + size_t(i)] = uint8_t(v >> (8 * i));
}

struct Tga {
  int type = 2;
  int bits = 24;
  int width = 2;
  int height = 2;
  int descriptor = 0;
  int originX = 0;
  int originY = 0;
  int idLength = 0;
  int mapType = 0;
  int mapLength = 0;
  int mapBits = 0;
  Bytes body;  // everything after the id (colour map, pixels or packets)

  Bytes build() const {
    Bytes b(18, 0);
    b[0] = uint8_t(idLength);
    b[1] = uint8_t(mapType);
    b[2] = uint8_t(type);
    put16(b, 5, uint32_t(mapLength));
    b[7] = uint8_t(mapBits);
    put16(b, 8, uint32_t(originX));
    put16(b, 10, uint32_t(originY));
    put16(b, 12, uint32_t(width));
    put16(b, 14, uint32_t(height));
    b[16] = uint8_t(bits);
    b[17] = uint8_t(descriptor);
    b.insert(b.end(), size_t(idLength), 'i');
    b.insert(b.end(), body.begin(), body.end());
    return b;
  }
};

// File rows of a 2x2 24-bit picture, blue-green-red: row A then row B.
const Bytes kRowA = {1, 2, 3, 4, 5, 6};
const Bytes kRowB = {7, 8, 9, 10, 11, 12};

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts)
    out.insert(out.end(), p.begin(), p.end());
  return out;
}

struct Decoded {
  bool ok = false;
  ImageData data = {};
  ~Decoded() { imageFree(data.pixels); }
  Bytes pixels() const { return ok ? Bytes(data.pixels, data.pixels + data.byteSize) : Bytes(); }
};

// Keeps a computed value alive so the loop reading it is not removed.
volatile uint32_t g_sink;
void benchmarkSink(uint32_t value) {
  g_sink = value;
}

using Decoder = std::function<bool(const uint8_t*, uint32_t, ImageData*, bool)>;

void decode(const Decoder& decoder, const Bytes& bytes, Decoded* out) {
  out->ok = decoder(bytes.data(), uint32_t(bytes.size()), &out->data, true);
}

const Decoder kTga = decodeTGA;
const Decoder kBmp = decodeBMP;
const Decoder kDds = [](const uint8_t* b, uint32_t n, ImageData* d, bool a) {
  return loadDDSFromMemory(b, int(n), d, a);
};
const Decoder kJpeg = loadJPEGFromMemory;

// Every strict prefix of a valid file fails or decodes without touching bytes past it: each prefix is
// copied into a block of exactly its size so the sanitizers see any overread.
void expectTruncationsSurvive(const Decoder& decoder, const Bytes& valid, bool prefixesMustFail) {
  for (size_t n = 0; n < valid.size(); ++n) {
    uint8_t* copy = new uint8_t[n ? n : 1];
    std::memcpy(copy, valid.data(), n);
    ImageData data = {};
    const bool ok = decoder(copy, uint32_t(n), &data, true);
    if (prefixesMustFail) {
      EXPECT_FALSE(ok) << "prefix of " << n << " bytes";
    }
    if (ok) {
      EXPECT_NE(data.pixels, nullptr);
      imageFree(data.pixels);
    }
    delete[] copy;
  }
}

// Suites that need the command output or the file system.
class WriterTest : public textest::TexEnv {};

// --- TGA ---

TEST(TgaTest, RowOrderFollowsDescriptorAndOrigin) {
  struct Case {
    int descriptor;
    int originY;
    bool firstRowIsB;  // output row 0 comes from file row B (the file was reversed)
  } cases[] = {{0x00, 0, true}, {0x20, 0, false}, {0x00, 2, false}, {0x20, 2, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "descriptor " << c.descriptor << " origin " << c.originY);
    Tga tga;
    tga.descriptor = c.descriptor;
    tga.originY = c.originY;
    tga.body = concat({kRowA, kRowB});
    Decoded d;
    decode(kTga, tga.build(), &d);
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.data.info.pixelFormat, kPixelFormatRGB);
    EXPECT_EQ(d.data.info.quality, 99u);
    const Bytes rgbA = {3, 2, 1, 6, 5, 4};
    const Bytes rgbB = {9, 8, 7, 12, 11, 10};
    EXPECT_EQ(d.pixels(), c.firstRowIsB ? concat({rgbB, rgbA}) : concat({rgbA, rgbB}));
  }
}

TEST(TgaTest, ThirtyTwoAndSixteenBitPixels) {
  Tga tga;
  tga.bits = 32;
  tga.width = 1;
  tga.height = 1;
  tga.descriptor = 0x20;
  tga.body = {10, 20, 30, 40};
  Decoded d;
  decode(kTga, tga.build(), &d);
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.data.info.pixelFormat, kPixelFormatRGBA);
  EXPECT_EQ(d.pixels(), (Bytes{30, 20, 10, 40}));

  // 16 bits are x-red-green-blue 1-5-5-5, each 5-bit value widened as v * 255 / 31; the top
  // bit is alpha only when the descriptor counts alpha bits.
  struct Case16 {
    uint16_t value;
    int descriptor;
    Bytes expected;
  } cases[] = {
      {0x7C00, 0x20, {255, 0, 0}},           // pure red (as 5-6-5 it came out 120, 128, 0)
      {0x03E0, 0x20, {0, 255, 0}},           // pure green
      {0x001F, 0x20, {0, 0, 255}},           // pure blue
      {0x4210, 0x20, {131, 131, 131}},       // 16 in every channel
      {0xFFFF, 0x20, {255, 255, 255}},       // attribute bit ignored without alpha bits
      {0xFC00, 0x21, {255, 0, 0, 255}},      // opaque red
      {0x7C00, 0x21, {255, 0, 0, 0}},        // transparent red
  };
  tga.bits = 16;
  for (const Case16& c : cases) {
    tga.body = {uint8_t(c.value), uint8_t(c.value >> 8)};
    tga.descriptor = c.descriptor;
    Decoded d16;
    decode(kTga, tga.build(), &d16);
    ASSERT_TRUE(d16.ok) << c.value;
    EXPECT_EQ(d16.data.info.pixelFormat, c.expected.size() == 4 ? kPixelFormatRGBA : kPixelFormatRGB);
    EXPECT_EQ(d16.pixels(), c.expected) << std::hex << c.value;
  }
  // Run-length 16-bit packets widen the same way.
  tga.type = 10;
  tga.width = 2;
  tga.descriptor = 0x20;
  tga.body = {0x81, 0x00, 0x7C};
  Decoded rle;
  decode(kTga, tga.build(), &rle);
  ASSERT_TRUE(rle.ok);
  EXPECT_EQ(rle.pixels(), (Bytes{255, 0, 0, 255, 0, 0}));
}

TEST(TgaTest, RunLengthPacketsAndTheirColourMap) {
  Tga tga;
  tga.type = 10;
  tga.width = 6;
  tga.height = 1;
  tga.descriptor = 0x20;
  // A run of four, then two literals.
  tga.body = {0x83, 1, 2, 3, 0x01, 4, 5, 6, 7, 8, 9};
  Decoded d;
  decode(kTga, tga.build(), &d);
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.pixels(), (Bytes{3, 2, 1, 3, 2, 1, 3, 2, 1, 3, 2, 1, 6, 5, 4, 9, 8, 7}));

  // A packet running past the image is cut; a colour map of type 1 is 768 bytes before the packets.
  tga.width = 2;
  tga.mapType = 1;
  tga.body = concat({Bytes(768, 0xEE), Bytes{0x85, 1, 2, 3}});
  Decoded cut;
  decode(kTga, tga.build(), &cut);
  ASSERT_TRUE(cut.ok);
  EXPECT_EQ(cut.pixels(), (Bytes{3, 2, 1, 3, 2, 1}));

  // So is a literal packet whose surplus pixels the file no longer holds.
  tga.mapType = 0;
  tga.body = {0x02, 1, 2, 3, 4, 5, 6};
  Decoded literal;
  decode(kTga, tga.build(), &literal);
  ASSERT_TRUE(literal.ok);
  EXPECT_EQ(literal.pixels(), (Bytes{3, 2, 1, 6, 5, 4}));
}

TEST(TgaTest, TrueColourFileSkipsItsDeclaredColourMap) {
  Tga tga;
  tga.width = 1;
  tga.height = 1;
  tga.idLength = 3;
  tga.mapType = 1;
  tga.mapLength = 4;
  tga.mapBits = 24;
  tga.body = concat({Bytes(12, 0xEE), Bytes{1, 2, 3}});
  Decoded d;
  decode(kTga, tga.build(), &d);
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.pixels(), (Bytes{3, 2, 1}));
}

TEST(TgaTest, UnsupportedKindsFail) {
  struct Case {
    const char* what;
    int type;
    int bits;
  } cases[] = {{"colour-mapped type", 1, 8}, {"grey type", 3, 8},         {"15 bits", 2, 15},
               {"8-bit true colour", 2, 8},  {"8-bit run-length", 10, 8}, {"zero bits", 2, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Tga tga;
    tga.type = c.type;
    tga.bits = c.bits;
    tga.body = Bytes(64, 1);
    Decoded d;
    decode(kTga, tga.build(), &d);
    EXPECT_FALSE(d.ok);
  }
}

TEST_F(WriterTest, TgaReportsXFlipAndOverrun) {
  Tga tga;
  tga.originX = 5;
  tga.body = concat({kRowA, kRowB});
  Decoded d;
  decode(kTga, tga.build(), &d);
  EXPECT_TRUE(d.ok);
  EXPECT_NE(
      g_output.find("WARNING: X-flipped TGA not supported...uOriginX = 5, Size = 2 x 2, BitDepth = 24\n"),
      std::string::npos);
  g_output.clear();
  tga.originX = 0;
  tga.body.pop_back();
  Decoded short1;
  decode(kTga, tga.build(), &short1);
  EXPECT_FALSE(short1.ok);
  EXPECT_EQ(g_output, "error..  data extracted has exceeded it's bounds\n");
}

TEST(TgaTest, SurvivesTruncationAndForgedHeaders) {
  Tga plain;
  plain.body = concat({kRowA, kRowB});
  expectTruncationsSurvive(kTga, plain.build(), true);
  Tga rle;
  rle.type = 10;
  rle.width = 6;
  rle.height = 1;
  rle.body = {0x83, 1, 2, 3, 0x01, 4, 5, 6, 7, 8, 9};
  expectTruncationsSurvive(kTga, rle.build(), true);

  // Largest sizes the header can state, over a few bytes of data.
  for (int type : {2, 10}) {
    for (int bits : {16, 24, 32}) {
      Tga forged;
      forged.type = type;
      forged.bits = bits;
      forged.width = 0xFFFF;
      forged.height = 0xFFFF;
      forged.idLength = 255;
      forged.mapType = 1;
      forged.mapLength = 0xFFFF;
      forged.mapBits = 32;
      forged.body = {0xFF, 1, 2, 3, 4};
      Decoded d;
      decode(kTga, forged.build(), &d);
      EXPECT_FALSE(d.ok);
    }
  }
  // A run-length image a little larger than its packets can fill.
  Tga starved;
  starved.type = 10;
  starved.width = 200;
  starved.height = 1;
  starved.body = {0xFF, 1, 2, 3};
  Decoded d;
  decode(kTga, starved.build(), &d);
  EXPECT_FALSE(d.ok);
  // Zero sizes.
  Tga empty;
  empty.width = 0;
  Decoded e;
  decode(kTga, empty.build(), &e);
  EXPECT_FALSE(e.ok);
}

// --- BMP ---

Bytes makeBmp(int bits, int32_t width, int32_t height, const Bytes& palette, const Bytes& pixels,
              uint32_t offsetOverride = 0) {
  Bytes b(54, 0);
  b[0] = 'B';
  b[1] = 'M';
  const uint32_t offset = offsetOverride ? offsetOverride : uint32_t(54 + palette.size());
  put32(b, 2, uint32_t(54 + palette.size() + pixels.size()));
  put32(b, 10, offset);
  put32(b, 14, 40);
  put32(b, 18, uint32_t(width));
  put32(b, 22, uint32_t(height));
  put16(b, 26, 1);
  put16(b, 28, uint32_t(bits));
  b.insert(b.end(), palette.begin(), palette.end());
  b.insert(b.end(), pixels.begin(), pixels.end());
  return b;
}

// An 8-bit file with a longer info header (V5: 124 bytes) and a compression code.
Bytes makeBmp8(uint32_t headerSize, uint32_t compression, int32_t width, int32_t height, const Bytes& palette,
               const Bytes& pixels) {
  Bytes b(std::max<size_t>(14 + headerSize, 54), 0);
  b[0] = 'B';
  b[1] = 'M';
  put32(b, 10, uint32_t(b.size() + palette.size()));
  put32(b, 14, headerSize);
  put32(b, 18, uint32_t(width));
  put32(b, 22, uint32_t(height));
  put16(b, 26, 1);
  put16(b, 28, 8);
  put32(b, 30, compression);
  b.insert(b.end(), palette.begin(), palette.end());
  b.insert(b.end(), pixels.begin(), pixels.end());
  return b;
}

// Palette entries blue, green, red, 0: index i is red 10 * i.
Bytes redPalette(int entries) {
  Bytes p;
  for (int i = 0; i < entries; ++i)
    p.insert(p.end(), {0, 0, uint8_t(10 * i), 0});
  return p;
}

TEST(BmpTest, PaletteFollowsTheWholeInfoHeader) {
  for (uint32_t header : {40u, 108u, 124u}) {
    SCOPED_TRACE(header);
    Decoded d;
    decode(kBmp, makeBmp8(header, 0, 2, 1, redPalette(4), {3, 1, 0, 0}), &d);
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.pixels(), (Bytes{30, 0, 0, 10, 0, 0}));
  }
}

TEST(BmpTest, RunLengthEightBitRunsEscapesAndDeltas) {
  // 5 x 3, rows in file order (bottom first): a run, an end of line; an absolute run of 3 (padded)
  // then a run; a delta of 2 right, a run, the end of the bitmap.
  const Bytes rle = {4, 2, 0, 0, 0, 3, 1, 2, 3, 0, 2, 4, 0, 0, 0, 2, 2, 0, 1, 5, 0, 1};
  Decoded d;
  decode(kBmp, makeBmp8(40, 1, 5, 3, redPalette(6), rle), &d);
  ASSERT_TRUE(d.ok);
  Bytes expected;
  for (int index : {2, 2, 2, 2, 0, 1, 2, 3, 4, 4, 0, 0, 5, 0, 0})
    expected.insert(expected.end(), {uint8_t(10 * index), 0, 0});
  EXPECT_EQ(d.pixels(), expected);
  expectTruncationsSurvive(kBmp, makeBmp8(40, 1, 5, 3, redPalette(6), rle), false);
}

TEST_F(WriterTest, BmpRefusalsSayWhy) {
  const Bytes row = {1, 2, 3, 0};
  struct Case {
    Bytes file;
    const char* message;
  } cases[] = {
      {makeBmp8(40, 2, 2, 1, redPalette(2), {0, 0, 0, 0}), "compression 2 is not supported with 8 bits"},
      {makeBmp8(40, 1, 2, 1, redPalette(2), {0, 0, 0, 0}) /* then 24 bits below */, nullptr},
      {makeBmp8(12, 0, 2, 1, redPalette(2), {0, 0, 0, 0}), "an info header of 12 bytes is not supported"},
      {makeBmp8(40, 1, 4096, 4096, redPalette(2), {0, 1, 0, 0}),
       "4 bytes of run-length data cannot code 4096 x 4096 pixels"},
      {makeBmp(4, 2, 1, redPalette(2), row), "4 bits per pixel are not supported"},
      {makeBmp(24, 1, -1, {}, row), "top-down rows are not supported"},
      {makeBmp(24, 0, 1, {}, row), "a size of 0 x 1 is empty or too large"},
      {makeBmp(8, 1, 1, {}, row), "an 8-bit image without a palette"},
  };
  put16(cases[1].file, 28, 24);
  cases[1].message = "compression 1 is not supported with 24 bits";
  for (const Case& c : cases) {
    g_output.clear();
    Decoded d;
    decode(kBmp, c.file, &d);
    EXPECT_FALSE(d.ok) << c.message;
    EXPECT_EQ(g_output.rfind("WARNING: BMP refused: ", 0), 0u) << g_output;
    EXPECT_NE(g_output.find(c.message), std::string::npos) << g_output;
  }
}

TEST(BmpTest, TwentyFourBitRowsHonourPaddingAndKeepFileOrder) {
  // 3 pixels of 3 bytes: rows padded to 12 bytes.
  const Bytes pixels = {1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 0, 0, 11, 12, 13, 14, 15, 16, 17, 18, 19, 0, 0, 0};
  Decoded d;
  decode(kBmp, makeBmp(24, 3, 2, {}, pixels), &d);
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.data.info.width, 3);
  EXPECT_EQ(d.data.info.pixelFormat, kPixelFormatRGB);
  EXPECT_EQ(d.pixels(), (Bytes{3, 2, 1, 6, 5, 4, 9, 8, 7, 13, 12, 11, 16, 15, 14, 19, 18, 17}));

  // An aligned width reads as packed rows.
  const Bytes aligned = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  Decoded a;
  decode(kBmp, makeBmp(24, 4, 1, {}, aligned), &a);
  ASSERT_TRUE(a.ok);
  EXPECT_EQ(a.pixels(), (Bytes{3, 2, 1, 6, 5, 4, 9, 8, 7, 12, 11, 10}));
}

TEST(BmpTest, EightBitIndexesStayInsideThePalette) {
  // Two palette entries (blue, green, red, unused); index 7 is outside it.
  const Bytes palette = {10, 20, 30, 0, 40, 50, 60, 0};
  const Bytes pixels = {0, 1, 7, 0, 1, 0, 0, 0};  // two rows of 3 indexes padded to 4
  Decoded d;
  decode(kBmp, makeBmp(8, 3, 2, palette, pixels), &d);
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.data.info.pixelFormat, kPixelFormatRGB);
  EXPECT_EQ(d.pixels(), (Bytes{30, 20, 10, 60, 50, 40, 0, 0, 0, 60, 50, 40, 30, 20, 10, 30, 20, 10}));
}

TEST(BmpTest, RefusesWhatItCannotReadSafely) {
  const Bytes row = {1, 2, 3, 0};
  struct Case {
    const char* what;
    Bytes file;
  } cases[] = {
      {"no magic",
       [&] {
         Bytes b = makeBmp(24, 1, 1, {}, row);
         b[0] = 'X';
         return b;
       }()},
      {"16 bits", makeBmp(16, 1, 1, {}, row)},
      {"32 bits", makeBmp(32, 1, 1, {}, row)},
      {"negative height", makeBmp(24, 1, -1, {}, row)},
      {"zero width", makeBmp(24, 0, 1, {}, row)},
      {"negative width", makeBmp(24, -4, 1, {}, row)},
      {"pixels past the end", makeBmp(24, 1, 1, {}, row, 4000)},
      {"offset wraps", makeBmp(24, 1, 1, {}, row, 0xFFFFFFF0u)},
      {"huge size", makeBmp(24, 0x7FFFFFFF, 0x7FFFFFFF, {}, row)},
      {"rows past the end", makeBmp(24, 1, 3, {}, row)},
      {"8 bits without a palette", makeBmp(8, 1, 1, {}, row)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Decoded d;
    decode(kBmp, c.file, &d);
    EXPECT_FALSE(d.ok);
  }
  expectTruncationsSurvive(kBmp, makeBmp(8, 3, 2, {10, 20, 30, 0, 40, 50, 60, 0}, {0, 1, 1, 0, 1, 0, 0, 0}),
                           false);
  expectTruncationsSurvive(kBmp, makeBmp(24, 3, 1, {}, {1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 0, 0}), false);
}

// --- DDS ---

Bytes makeDds(const char* code, uint32_t width, uint32_t height, uint32_t mips, const Bytes& data) {
  Bytes b(128, 0);
  std::memcpy(b.data(), "DDS ", 4);
  put32(b, 4, 124);
  put32(b, 12, height);
  put32(b, 16, width);
  put32(b, 28, mips);
  if (code)
    std::memcpy(&b[84], code, 4);
  b.insert(b.end(), data.begin(), data.end());
  return b;
}

Bytes pattern(size_t n) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i)
    b[i] = uint8_t(i * 7 + 3);
  return b;
}

TEST(DdsTest, CompressedBlocksAreKeptAsStored) {
  Decoded dxt1;
  const Bytes block = pattern(8);
  decode(kDds, makeDds("DXT1", 4, 4, 0, block), &dxt1);
  ASSERT_TRUE(dxt1.ok);
  EXPECT_EQ(dxt1.data.info.pixelFormat, kPixelFormatDXT1);
  EXPECT_EQ(dxt1.data.mipCount, 0);
  EXPECT_EQ(dxt1.pixels(), block);

  // 256x256 DXT5 with its 9 levels: 65536 + 16384 + ... + 16 + 16 + 16 bytes.
  int64_t chain = 0;
  for (int s = 256; s >= 1; s /= 2)
    chain += imageCompressedLevelSize(kPixelFormatDXT5, s, s);
  const Bytes all = pattern(size_t(chain));
  Decoded dxt5;
  decode(kDds, makeDds("DXT5", 256, 256, 9, all), &dxt5);
  ASSERT_TRUE(dxt5.ok);
  EXPECT_EQ(dxt5.data.info.pixelFormat, kPixelFormatDXT5);
  EXPECT_EQ(dxt5.data.mipCount, 9);
  EXPECT_EQ(dxt5.pixels(), all);

  // A count larger than the data holds is clamped to the levels present.
  Decoded clamped;
  decode(kDds, makeDds("DXT3", 16, 16, 9, pattern(256 + 64 + 16)), &clamped);
  ASSERT_TRUE(clamped.ok);
  EXPECT_EQ(clamped.data.info.pixelFormat, kPixelFormatDXT3);
  EXPECT_EQ(clamped.data.mipCount, 3);
}

TEST(DdsTest, UncompressedPixelsBecomeRGB) {
  Decoded bgr;
  decode(kDds, makeDds(nullptr, 2, 1, 0, {1, 2, 3, 4, 5, 6}), &bgr);
  ASSERT_TRUE(bgr.ok);
  EXPECT_EQ(bgr.data.info.pixelFormat, kPixelFormatRGB);
  EXPECT_EQ(bgr.pixels(), (Bytes{3, 2, 1, 6, 5, 4}));
  Decoded bgra;
  decode(kDds, makeDds(nullptr, 1, 1, 0, {1, 2, 3, 4}), &bgra);
  ASSERT_TRUE(bgra.ok);
  EXPECT_EQ(bgra.data.info.pixelFormat, kPixelFormatRGBA);
  EXPECT_EQ(bgra.pixels(), (Bytes{3, 2, 1, 4}));
}

// An uncompressed file described by its header: bit count, pixel-format flags and masks.
Bytes makeDdsRGB(uint32_t width, uint32_t height, uint32_t mips, uint32_t bits, uint32_t flags,
                 std::initializer_list<uint32_t> masks, const Bytes& data) {
  Bytes b = makeDds(nullptr, width, height, mips, data);
  put32(b, 80, flags);
  put32(b, 88, bits);
  size_t at = 92;
  for (uint32_t m : masks) {
    put32(b, at, m);
    at += 4;
  }
  return b;
}

TEST(DdsTest, HeaderBitCountAndMasksDescribeThePixels) {
  // 4 x 2, 24 bits, with its 3 levels (8 + 2 + 1 pixels): the size rule would see 4 components.
  const Bytes data24 = pattern(11 * 3);
  Decoded wide;
  decode(kDds, makeDdsRGB(4, 2, 3, 24, 0x40, {0xFF0000, 0xFF00, 0xFF}, data24), &wide);
  ASSERT_TRUE(wide.ok);
  EXPECT_EQ(wide.data.info.pixelFormat, kPixelFormatRGB);
  EXPECT_EQ(wide.data.mipCount, 3);
  ASSERT_EQ(wide.data.byteSize, 33);
  for (int i = 0; i < 11; ++i) {
    EXPECT_EQ(wide.data.pixels[i * 3], data24[size_t(i) * 3 + 2]) << "pixel " << i;
    EXPECT_EQ(wide.data.pixels[i * 3 + 2], data24[size_t(i) * 3]) << "pixel " << i;
  }
  // 32 bits with mips, alpha: 4x4 + 2x2 + 1x1 = 21 pixels.
  Decoded bgra;
  decode(kDds, makeDdsRGB(4, 4, 3, 32, 0x41, {0xFF0000, 0xFF00, 0xFF, 0xFF000000}, pattern(21 * 4)), &bgra);
  ASSERT_TRUE(bgra.ok);
  EXPECT_EQ(bgra.data.info.pixelFormat, kPixelFormatRGBA);
  EXPECT_EQ(bgra.data.mipCount, 3);
  EXPECT_EQ(bgra.data.byteSize, 21 * 4);
  // Red in the low byte (RGBA order) and 32 bits without alpha (padding byte dropped).
  Decoded rgba;
  decode(kDds, makeDdsRGB(1, 1, 0, 32, 0x41, {0xFF, 0xFF00, 0xFF0000, 0xFF000000}, {1, 2, 3, 4}), &rgba);
  ASSERT_TRUE(rgba.ok);
  EXPECT_EQ(rgba.pixels(), (Bytes{1, 2, 3, 4}));
  Decoded bgrx;
  decode(kDds, makeDdsRGB(1, 1, 0, 32, 0x40, {0xFF0000, 0xFF00, 0xFF, 0}, {1, 2, 3, 4}), &bgrx);
  ASSERT_TRUE(bgrx.ok);
  EXPECT_EQ(bgrx.data.info.pixelFormat, kPixelFormatRGB);
  EXPECT_EQ(bgrx.pixels(), (Bytes{3, 2, 1}));
}

// Writers that set the RGB flag but leave the masks zero mean the default order: blue, green, red
// (and alpha), as the size rule reads files without a bit count.
TEST(DdsTest, ZeroMasksMeanTheDefaultOrder) {
  struct Case {
    uint32_t width, height, mips, bits, flags;
    Bytes data;
    int format;
    Bytes first;  // the first output pixel
  } cases[] = {
      {2, 1, 0, 24, 0x40, {1, 2, 3, 4, 5, 6}, kPixelFormatRGB, {3, 2, 1}},
      {2, 2, 2, 24, 0x40, pattern(5 * 3), kPixelFormatRGB, {pattern(3)[2], pattern(3)[1], pattern(3)[0]}},
      {1, 1, 0, 32, 0x41, {1, 2, 3, 4}, kPixelFormatRGBA, {3, 2, 1, 4}},
      {1, 1, 0, 32, 0x40, {1, 2, 3, 4}, kPixelFormatRGBA, {3, 2, 1, 4}},
  };
  for (const Case& c : cases) {
    Decoded d;
    decode(kDds, makeDdsRGB(c.width, c.height, c.mips, c.bits, c.flags, {0, 0, 0, 0}, c.data), &d);
    ASSERT_TRUE(d.ok) << c.bits << " bits, flags " << c.flags << ": " << g_output;
    EXPECT_EQ(d.data.info.pixelFormat, c.format) << c.bits << " bits";
    EXPECT_EQ(d.data.byteSize, int32_t(c.data.size())) << "every level converted";
    const Bytes pixels = d.pixels();
    ASSERT_GE(pixels.size(), c.first.size());
    EXPECT_EQ(Bytes(pixels.begin(), pixels.begin() + long(c.first.size())), c.first) << c.bits << " bits";
  }
}

TEST_F(WriterTest, DdsRefusalsSayWhy) {
  struct Case {
    Bytes file;
    const char* message;
  } cases[] = {
      {makeDds("ATI2", 4, 4, 0, pattern(16)), "FourCC \"ATI2\" (0x32495441) is not supported"},
      {makeDdsRGB(2, 2, 0, 16, 0x40, {0xF800, 0x7E0, 0x1F}, pattern(8)), "uncompressed pixels of 16 bits"},
      {makeDdsRGB(1, 1, 0, 32, 0x40, {0xFFC00000, 0x3FF000, 0xFFC}, pattern(4)), "32-bit pixels with masks"},
      {makeDds(nullptr, 2, 1, 0, pattern(4)), "4 bytes for 2 x 1 pixels make no 24- or 32-bit image"},
      {makeDds("DXT1", 0, 4, 0, pattern(8)), "a size of 0 x 4 is empty or too large"},
  };
  for (const Case& c : cases) {
    g_output.clear();
    Decoded d;
    decode(kDds, c.file, &d);
    EXPECT_FALSE(d.ok) << c.message;
    EXPECT_EQ(g_output.rfind("WARNING: DDS refused: ", 0), 0u) << g_output;
    EXPECT_NE(g_output.find(c.message), std::string::npos) << g_output;
  }
}

TEST(DdsTest, RefusesBadFiles) {
  struct Case {
    const char* what;
    Bytes file;
  } cases[] = {
      {"short", Bytes(100, 0)},
      {"magic",
       [] {
         Bytes b = makeDds("DXT1", 4, 4, 0, pattern(8));
         b[0] = 'X';
         return b;
       }()},
      {"zero width", makeDds("DXT1", 0, 4, 0, pattern(8))},
      {"zero height", makeDds("DXT1", 4, 0, 0, pattern(8))},
      {"other code", makeDds("ATI2", 4, 4, 0, pattern(16))},
      {"five components", makeDds(nullptr, 1, 1, 0, pattern(5))},
      {"two components", makeDds(nullptr, 2, 1, 0, pattern(4))},
      {"no data", makeDds("DXT1", 4, 4, 0, {})},
      {"first level short", makeDds("DXT5", 8, 8, 0, pattern(40))},
      {"huge", makeDds("DXT1", 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, pattern(8))},
      {"huge uncompressed", makeDds(nullptr, 0x10000, 0x10000, 0, pattern(12))},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Decoded d;
    decode(kDds, c.file, &d);
    EXPECT_FALSE(d.ok);
  }
  // Prefixes that still hold whole levels load with fewer levels.
  expectTruncationsSurvive(kDds, makeDds("DXT1", 8, 8, 4, pattern(32 + 8 + 8 + 8)), false);
  expectTruncationsSurvive(kDds, makeDds("DXT1", 8, 8, 0, pattern(32)), true);
  expectTruncationsSurvive(kDds, makeDds(nullptr, 2, 2, 0, pattern(12)), false);
}

// --- JPEG ---

// How a test file departs from libjpeg's default baseline Huffman coding.
enum class JpegCoding { kBaseline, kArithmetic, kProgressive };

// A JPEG written by libjpeg itself into memory.
Bytes libjpegFile(int width, int height, J_COLOR_SPACE space, int components, const Bytes& pixels,
                  JpegCoding coding = JpegCoding::kBaseline) {
  jpeg_compress_struct cinfo;
  jpeg_error_mgr error;
  cinfo.err = jpeg_std_error(&error);
  jpeg_create_compress(&cinfo);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &buffer, &size);
  cinfo.image_width = JDIMENSION(width);
  cinfo.image_height = JDIMENSION(height);
  cinfo.input_components = components;
  cinfo.in_color_space = space;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, 100, TRUE);
  if (coding == JpegCoding::kArithmetic)
    cinfo.arith_code = TRUE;
  if (coding == JpegCoding::kProgressive)
    jpeg_simple_progression(&cinfo);
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(&pixels[size_t(cinfo.next_scanline) * width * components]);
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  Bytes out(buffer, buffer + size);
  free(buffer);
  return out;
}

Bytes rgbGradient(int width, int height) {
  Bytes b(size_t(width) * height * 3);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      uint8_t* p = &b[(size_t(y) * width + x) * 3];
      p[0] = uint8_t(x * 255 / (width - 1));
      p[1] = uint8_t(y * 255 / (height - 1));
      p[2] = 128;
    }
  return b;
}

void expectNear(const Bytes& a, const Bytes& b, int tolerance) {
  ASSERT_EQ(a.size(), b.size());
  int worst = 0;
  for (size_t i = 0; i < a.size(); ++i)
    worst = std::max(worst, std::abs(int(a[i]) - int(b[i])));
  EXPECT_LE(worst, tolerance);
}

TEST(JpegTest, GrayscaleAndCmykDecodeToRGB) {
  Bytes gray(16 * 8);
  for (size_t i = 0; i < gray.size(); ++i)
    gray[i] = uint8_t(i * 2);
  Decoded g;
  decode(kJpeg, libjpegFile(16, 8, JCS_GRAYSCALE, 1, gray), &g);
  ASSERT_TRUE(g.ok);
  EXPECT_EQ(g.data.info.pixelFormat, kPixelFormatRGB);
  EXPECT_EQ(g.data.byteSize, 16 * 8 * 3);
  Bytes expanded;
  for (uint8_t v : gray)
    expanded.insert(expanded.end(), {v, v, v});
  expectNear(g.pixels(), expanded, 3);

  // Adobe CMYK is stored inverted: full cyan-free, magenta, yellow, no black is red.
  Bytes cmyk;
  for (int i = 0; i < 64; ++i)
    cmyk.insert(cmyk.end(), {255, 0, 0, 255});
  Decoded c;
  decode(kJpeg, libjpegFile(8, 8, JCS_CMYK, 4, cmyk), &c);
  ASSERT_TRUE(c.ok);
  Bytes red;
  for (int i = 0; i < 64; ++i)
    red.insert(red.end(), {255, 0, 0});
  expectNear(c.pixels(), red, 4);
}

TEST(JpegTest, DecodesIntoTheCallersBlockOnlyAtTheExactSize) {
  const Bytes file = libjpegFile(8, 4, JCS_RGB, 3, rgbGradient(8, 4));
  Bytes block(8 * 4 * 3);
  ImageData data = {};
  data.pixels = block.data();
  data.byteSize = int32_t(block.size());
  EXPECT_TRUE(loadJPEGFromMemory(file.data(), uint32_t(file.size()), &data, false));
  EXPECT_EQ(data.pixels, block.data());
  expectNear(block, rgbGradient(8, 4), 48);  // steep gradient, subsampled chroma
  data.byteSize = int32_t(block.size() - 1);
  EXPECT_FALSE(loadJPEGFromMemory(file.data(), uint32_t(file.size()), &data, false));
  data.byteSize = int32_t(block.size() + 3);
  EXPECT_FALSE(loadJPEGFromMemory(file.data(), uint32_t(file.size()), &data, false));
}

TEST_F(WriterTest, JpegErrorsFailTheLoadWithAMessage) {
  Decoded garbage;
  decode(kJpeg, Bytes{0xFF, 0xD8, 0xFF, 0x00, 1, 2, 3}, &garbage);
  EXPECT_FALSE(garbage.ok);
  EXPECT_NE(g_output.find("WARNING: JPEG: "), std::string::npos);

  // A marker segment claiming more bytes than the file holds: the skip stops at the end.
  g_output.clear();
  Decoded skipped;
  decode(kJpeg, Bytes{0xFF, 0xD8, 0xFF, 0xE1, 0xFF, 0xFF, 'E', 'x', 'i', 'f', 0, 0}, &skipped);
  EXPECT_FALSE(skipped.ok);
  EXPECT_NE(g_output.find("WARNING: JPEG: "), std::string::npos);

  // A frame header claiming 60000 x 60000.
  Bytes file = libjpegFile(8, 8, JCS_RGB, 3, rgbGradient(8, 8));
  bool patched = false;
  for (size_t i = 0; i + 9 < file.size(); ++i) {
    if (file[i] == 0xFF && (file[i + 1] == 0xC0 || file[i + 1] == 0xC2)) {
      file[i + 5] = 0xEA;
      file[i + 6] = 0x60;
      file[i + 7] = 0xEA;
      file[i + 8] = 0x60;
      patched = true;
      break;
    }
  }
  ASSERT_TRUE(patched);
  // 8000 x 8000 from a few hundred bytes cannot be a real picture.
  Bytes plausible = file;
  for (size_t i = 0; i + 9 < plausible.size(); ++i) {
    if (plausible[i] == 0xFF && (plausible[i + 1] == 0xC0 || plausible[i + 1] == 0xC2)) {
      plausible[i + 5] = plausible[i + 7] = 0x1F;
      plausible[i + 6] = plausible[i + 8] = 0x40;
      break;
    }
  }
  g_output.clear();
  Decoded tooBig;
  decode(kJpeg, plausible, &tooBig);
  EXPECT_FALSE(tooBig.ok);
  EXPECT_NE(g_output.find("WARNING: JPEG: image of 8000 x 8000 from"), std::string::npos);
  g_output.clear();
  Decoded forged;
  decode(kJpeg, file, &forged);
  EXPECT_FALSE(forged.ok);
  EXPECT_NE(g_output.find("refused"), std::string::npos);
}

// Rewrites the frame header's size (any SOF marker); false when the file has none.
bool patchFrameSize(Bytes* file, int width, int height) {
  for (size_t i = 0; i + 9 < file->size(); ++i) {
    const uint8_t m = (*file)[i + 1];
    if ((*file)[i] == 0xFF && m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC) {
      (*file)[i + 5] = uint8_t(height >> 8);
      (*file)[i + 6] = uint8_t(height);
      (*file)[i + 7] = uint8_t(width >> 8);
      (*file)[i + 8] = uint8_t(width);
      return true;
    }
  }
  return false;
}

// Arithmetic coding codes a blank picture in a constant couple of hundred bytes at any size, so the
// Huffman floor does not apply: blank files decode up to 2048 x 2048, and beyond that the pixels must
// stay in proportion to the bytes.
TEST_F(WriterTest, ArithmeticCodedFilesAreBoundedByTheirSize) {
  const Bytes gradient = rgbGradient(64, 32);
  Decoded small;
  decode(kJpeg, libjpegFile(64, 32, JCS_RGB, 3, gradient, JpegCoding::kArithmetic), &small);
  ASSERT_TRUE(small.ok);
  expectNear(small.pixels(), gradient, 24);

  const Bytes blank(size_t(2048) * 2048, 0x5A);
  const Bytes file = libjpegFile(2048, 2048, JCS_GRAYSCALE, 1, blank, JpegCoding::kArithmetic);
  ASSERT_LT(file.size(), 1024u);
  Decoded flat;
  decode(kJpeg, file, &flat);
  ASSERT_TRUE(flat.ok) << g_output;
  ASSERT_EQ(flat.data.byteSize, 2048 * 2048 * 3);
  EXPECT_EQ(flat.data.pixels[0], 0x5A);
  EXPECT_EQ(flat.data.pixels[flat.data.byteSize - 1], 0x5A);

  // The header of the same few hundred bytes claiming 14103 x 4102 (decoding it took seconds).
  Bytes forged = file;
  ASSERT_TRUE(patchFrameSize(&forged, 14103, 4102));
  g_output.clear();
  Decoded refused;
  decode(kJpeg, forged, &refused);
  EXPECT_FALSE(refused.ok);
  EXPECT_NE(g_output.find("WARNING: JPEG: arithmetic-coded image of 14103 x 4102 from " +
                          std::to_string(forged.size()) + " bytes refused"),
            std::string::npos)
      << g_output;
}

// Every scan is a pass over the coefficients: a file that repeats a cheap scan many times is refused
// once the passes outgrow its bytes, before the picture is decoded; a real progressive file is not.
TEST_F(WriterTest, ProgressiveScansAreBoundedByTheInputSize) {
  Bytes pixels(size_t(1024) * 1024);
  for (size_t i = 0; i < pixels.size(); ++i)
    pixels[i] = uint8_t((i % 1024) / 4);
  Decoded real;
  decode(kJpeg, libjpegFile(1024, 1024, JCS_GRAYSCALE, 1, pixels, JpegCoding::kProgressive), &real);
  ASSERT_TRUE(real.ok) << g_output;
  EXPECT_NEAR(int(real.data.pixels[(512 * 1024 + 800) * 3]), 200, 4);

  // A blank picture's last scan is a few bytes: the cheapest scan to repeat.
  const Bytes file =
      libjpegFile(1024, 1024, JCS_GRAYSCALE, 1, Bytes(size_t(1024) * 1024, 200), JpegCoding::kProgressive);

  // The last scan (header and data up to the end-of-image marker) repeated: its tables stay defined.
  size_t lastScan = 0;
  for (size_t i = 0; i + 1 < file.size(); ++i)
    if (file[i] == 0xFF && file[i + 1] == 0xDA)
      lastScan = i;
  ASSERT_GT(lastScan, 0u);
  ASSERT_EQ(file[file.size() - 1], 0xD9);
  const Bytes scan(file.begin() + long(lastScan), file.end() - 2);
  ASSERT_LT(scan.size(), 32u);
  auto repeated = [&](int copies) {
    Bytes out(file.begin(), file.end() - 2);
    for (int i = 0; i < copies; ++i)
      out.insert(out.end(), scan.begin(), scan.end());
    out.insert(out.end(), {0xFF, 0xD9});
    return out;
  };
  Decoded few;
  decode(kJpeg, repeated(4), &few);
  EXPECT_TRUE(few.ok) << g_output;

  const Bytes many = repeated(400);
  ASSERT_LT(int64_t(many.size()) * 16384, int64_t(400) * 1024 * 1024);
  g_output.clear();
  Decoded refused;
  decode(kJpeg, many, &refused);
  EXPECT_FALSE(refused.ok);
  EXPECT_NE(g_output.find("WARNING: JPEG: image of 1024 x 1024 with more than "), std::string::npos)
      << g_output.substr(0, 400);
  EXPECT_NE(g_output.find(" scans refused"), std::string::npos);
}

TEST(JpegTest, SurvivesEveryTruncation) {
  expectTruncationsSurvive(kJpeg, libjpegFile(16, 16, JCS_RGB, 3, rgbGradient(16, 16)), false);
  Bytes gray(8 * 8, 77);
  expectTruncationsSurvive(kJpeg, libjpegFile(8, 8, JCS_GRAYSCALE, 1, gray), false);
}

// --- Damage beyond truncation ---

// Flips a few bytes of each valid fixture many times over (fixed seed): whatever the decoders make of
// the result, they must not read or write outside their blocks.
TEST(CodecDamageTest, RandomByteDamageIsSurvived) {
  Tga rle;
  rle.type = 10;
  rle.width = 6;
  rle.height = 2;
  rle.body = {0x83, 1, 2, 3, 0x01, 4, 5, 6, 7, 8, 9, 0x85, 1, 2, 3};
  Tga plain;
  plain.body = concat({kRowA, kRowB});
  struct Fixture {
    const char* what;
    Decoder decoder;
    Bytes file;
  } fixtures[] = {
      {"tga", kTga, plain.build()},
      {"tga rle", kTga, rle.build()},
      {"bmp 8", kBmp, makeBmp(8, 3, 2, {10, 20, 30, 0, 40, 50, 60, 0}, {0, 1, 1, 0, 1, 0, 0, 0})},
      {"bmp 24", kBmp, makeBmp(24, 3, 1, {}, {1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 0, 0})},
      {"dds", kDds, makeDds("DXT1", 8, 8, 4, pattern(32 + 8 + 8 + 8))},
      {"dds bgr", kDds, makeDds(nullptr, 2, 2, 2, pattern(15))},
      {"jpeg", kJpeg, libjpegFile(16, 16, JCS_RGB, 3, rgbGradient(16, 16))},
  };
  uint32_t seed = 2024;
  auto next = [&seed] {
    seed = seed * 1664525u + 1013904223u;
    return seed >> 8;
  };
  for (const Fixture& f : fixtures) {
    SCOPED_TRACE(f.what);
    for (int round = 0; round < 400; ++round) {
      Bytes damaged = f.file;
      const int flips = 1 + int(next() % 3);
      for (int i = 0; i < flips; ++i) {
        // Headers are where the sizes live: aim most damage at the first 160 bytes.
        const size_t span = next() % 4 ? std::min<size_t>(damaged.size(), 160) : damaged.size();
        damaged[next() % span] = uint8_t(next());
      }
      uint8_t* copy = new uint8_t[damaged.size()];
      std::memcpy(copy, damaged.data(), damaged.size());
      ImageData data = {};
      if (f.decoder(copy, uint32_t(damaged.size()), &data, true)) {
        ASSERT_NE(data.pixels, nullptr);
        ASSERT_GT(data.byteSize, 0);
        // Touch every byte the decoder claims to have written.
        uint32_t sum = 0;
        for (int32_t i = 0; i < data.byteSize; ++i)
          sum += data.pixels[i];
        benchmarkSink(sum);
        imageFree(data.pixels);
      }
      delete[] copy;
    }
  }
}

// --- Conversion ---

TEST(ConvertTest, PaletteAndRowFlip) {
  uint8_t palette[256 * 4] = {};
  palette[4] = 10;  // entry 1: blue 10, green 20, red 30
  palette[5] = 20;
  palette[6] = 30;
  const uint8_t src[4] = {1, 0, 0, 1};
  ImageData data = {};
  data.info = ImageInfo{2, 2, 0, kPixelFormatI8, 0, 99};
  ASSERT_TRUE(convertImagePixels(src, &data, kConvertAllocate | kConvertFlipRows, palette));
  EXPECT_EQ(data.info.pixelFormat, kPixelFormatRGB);
  EXPECT_EQ(Bytes(data.pixels, data.pixels + 12), (Bytes{0, 0, 0, 30, 20, 10, 30, 20, 10, 0, 0, 0}));
  imageFree(data.pixels);

  ImageData noPalette = {};
  noPalette.info = ImageInfo{2, 2, 0, kPixelFormatI8, 0, 99};
  EXPECT_FALSE(convertImagePixels(src, &noPalette, kConvertAllocate, nullptr));
  ImageData odd = {};
  odd.info = ImageInfo{2, 2, 0, kPixelFormatDXT1, 0, 99};
  EXPECT_FALSE(convertImagePixels(src, &odd, kConvertAllocate, palette));
}

// --- Writers through the file system ---

TEST_F(WriterTest, TgaRoundTripKeepsPixelsAndRowOrder) {
  Bytes rgba = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24};
  ImageData data = {ImageInfo{3, 2, 0, kPixelFormatRGBA, 0, 99}, rgba.data(), int32_t(rgba.size()), 0};
  ASSERT_TRUE(writeTGA("media/round.tga", &data));
  const Bytes file = readFile("round.tga");
  ASSERT_EQ(file.size(), 18u + 24u);
  EXPECT_EQ(file[2], 2);
  EXPECT_EQ(file[16], 32);
  EXPECT_EQ(file[17], 0x20);
  Decoded back;
  decode(kTga, file, &back);
  ASSERT_TRUE(back.ok);
  EXPECT_EQ(back.data.info.pixelFormat, kPixelFormatRGBA);
  EXPECT_EQ(back.pixels(), rgba);

  ImageData gray = {ImageInfo{1, 1, 0, kPixelFormatI8, 0, 99}, rgba.data(), 1, 0};
  EXPECT_FALSE(writeTGA("media/gray.tga", &gray));
}

TEST_F(WriterTest, DdsRoundTripForBlocksAndPixels) {
  Bytes blocks = pattern(32);  // 8x4 DXT1 base level (2 blocks) plus slack
  ImageData dxt = {ImageInfo{8, 4, 0, kPixelFormatDXT1, 0, 99}, blocks.data(), 32, 0};
  ASSERT_TRUE(saveDDS("media/blocks.dds", &dxt));
  Decoded back;
  ASSERT_TRUE(loadDDS("blocks.dds", &back.data));
  back.ok = true;
  EXPECT_EQ(back.data.info.pixelFormat, kPixelFormatDXT1);
  EXPECT_EQ(back.pixels(), Bytes(blocks.begin(), blocks.begin() + 16));
  const Bytes header = readFile("blocks.dds");
  EXPECT_EQ(header[4 + 4], 0x06);  // flags 0xA1006
  EXPECT_EQ(header[4 + 16], 16);   // linear size

  Bytes rgb = pattern(2 * 2 * 3);
  ImageData plain = {ImageInfo{2, 2, 0, kPixelFormatRGB, 0, 99}, rgb.data(), 12, 0};
  ASSERT_TRUE(saveDDS("media/plain.dds", &plain));
  Decoded p;
  ASSERT_TRUE(loadDDS("plain.dds", &p.data));
  p.ok = true;
  EXPECT_EQ(p.pixels(), rgb);
}

TEST_F(WriterTest, JpegFromOurEncoderReadsBack) {
  Bytes rgb = rgbGradient(16, 8);
  ImageData data = {ImageInfo{16, 8, 0, kPixelFormatRGB, 0, 99}, rgb.data(), int32_t(rgb.size()), 0};
  ASSERT_TRUE(saveJPEG("media/shot.jpg", &data));
  Decoded back;
  ASSERT_TRUE(loadJPEG("shot.jpg", &back.data));
  back.ok = true;
  EXPECT_EQ(back.data.info.width, 16);
  EXPECT_EQ(back.data.info.height, 8);
  EXPECT_EQ(back.data.info.pixelFormat, kPixelFormatRGB);
  expectNear(back.pixels(), rgb, 24);  // chroma is subsampled
  expectTruncationsSurvive(kJpeg, readFile("shot.jpg"), false);

  ImageData gray = {ImageInfo{4, 4, 0, kPixelFormatI8, 0, 99}, rgb.data(), 16, 0};
  EXPECT_FALSE(saveJPEG("media/gray.jpg", &gray));
}

TEST_F(WriterTest, WriteImageFileChoosesTheWriter) {
  Bytes rgba(4 * 4 * 4, 200);
  ImageData data = {ImageInfo{4, 4, 0, kPixelFormatRGBA, 0, 99}, rgba.data(), int32_t(rgba.size()), 0};
  ASSERT_TRUE(writeImageFile("media/out/shot.jpg", &data));
  EXPECT_TRUE(exists("out/shot.tga"));
  EXPECT_FALSE(exists("out/shot.jpg"));

  Bytes rgb(4 * 4 * 3, 90);
  ImageData three = {ImageInfo{4, 4, 0, kPixelFormatRGB, 0, 99}, rgb.data(), int32_t(rgb.size()), 0};
  ASSERT_TRUE(writeImageFile("media/deep/er/pic.jpg", &three));
  const Bytes jpg = readFile("deep/er/pic.jpg");
  ASSERT_GE(jpg.size(), 2u);
  EXPECT_EQ(jpg[0], 0xFF);
  EXPECT_EQ(jpg[1], 0xD8);
  ASSERT_TRUE(writeImageFile("media/pic.png", &three));
  EXPECT_EQ(readFile("pic.png").size(), 18u + 48u);

  Bytes blocks = pattern(8);
  ImageData dxt = {ImageInfo{4, 4, 0, kPixelFormatDXT5, 0, 99}, blocks.data(), 8, 0};
  EXPECT_FALSE(writeImageFile("media/tex.tga", &dxt));  // a DXT5 level needs 16 bytes
  Bytes blocks16 = pattern(16);
  dxt.pixels = blocks16.data();
  dxt.byteSize = 16;
  ASSERT_TRUE(writeImageFile("media/tex.tga", &dxt));
  EXPECT_TRUE(exists("tex.dds"));
}

}  // namespace
