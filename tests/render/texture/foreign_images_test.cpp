// Images written by other tools (ImageMagick, cjpeg), made by support/make_foreign_images.sh in
// the test's own tree: each must decode to the pixels ImageMagick itself reads from the same file,
// or be refused with a message that says what and why.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "render/texture/imagefiles.h"
#include "render/texture/support/texenv.h"
#include "tests/support/temptree.h"

namespace {

using Bytes = std::vector<uint8_t>;
using textest::g_output;

std::string run(const std::string& command, int* status = nullptr) {
  std::string out;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[65536];
    size_t got;
    while ((got = fread(buffer, 1, sizeof(buffer), pipe)) > 0)
      out.append(buffer, got);
    const int rc = pclose(pipe);
    if (status)
      *status = rc;
  }
  return out;
}

std::string convertTool() {
  return std::system("test -x /usr/bin/convert") == 0 ? "/usr/bin/convert" : "convert";
}

class ForeignImageTest : public textest::TexEnv {
 protected:
  // The script runs once for the suite; each test copies its files into its own tree.
  static void SetUpTestSuite() {
    if (run("command -v convert").empty() && run("command -v /usr/bin/convert").empty())
      return;
    s_folder = new TempTree("foreign-images");
    int status = -1;
    s_scriptOutput = run("bash '" + std::string(QUILL_FOREIGN_IMAGES_SCRIPT) + "' '" + s_folder->str() + "' 2>&1",
                         &status);
    s_scriptStatus = status;
  }
  static void TearDownTestSuite() {
    delete s_folder;
    s_folder = nullptr;
  }

  void SetUp() override {
    textest::TexEnv::SetUp();
    if (!s_folder) {
      if (std::getenv("CI"))
        FAIL() << "ImageMagick's convert is missing under CI";
      GTEST_SKIP() << "ImageMagick is not installed";
    }
    ASSERT_EQ(s_scriptStatus, 0) << s_scriptOutput;
    ASSERT_EQ(std::system(("cp '" + s_folder->str() + "'/* '" + (root_ / "media").string() + "'").c_str()), 0);
    g_output.clear();
  }

  static inline TempTree* s_folder = nullptr;
  static inline std::string s_scriptOutput;
  static inline int s_scriptStatus = -1;

  // ImageMagick's reading of a file of the tree, as 8-bit RGBA rows from the top (it records a
  // TGA's bottom-left origin instead of applying it, hence -auto-orient).
  Bytes reference(const std::string& name) {
    return toBytes(run(convertTool() + " '" + (root_ / "media" / name).string() +
                       "' -auto-orient -depth 8 rgba:- 2>/dev/null"));
  }
  static Bytes toBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }
};

// Our pixels (3 or 4 bytes, `bottomFirst` rows as BMP keeps them) against the reference's first
// width x height pixels; 3-byte pixels are compared without alpha.
::testing::AssertionResult samePixels(const ImageData& image, const Bytes& rgba, bool bottomFirst) {
  const int w = image.info.width, h = image.info.height;
  const int bpp = image.info.pixelFormat == kPixelFormatRGBA ? 4 : 3;
  if (rgba.size() < size_t(w) * h * 4)
    return ::testing::AssertionFailure() << "reference has " << rgba.size() << " bytes for " << w << "x" << h;
  int mismatches = 0;
  std::string first;
  for (int y = 0; y < h; ++y) {
    const int sourceRow = bottomFirst ? h - 1 - y : y;
    for (int x = 0; x < w; ++x) {
      const uint8_t* ours = image.pixels + (size_t(sourceRow) * w + x) * bpp;
      const uint8_t* ref = rgba.data() + (size_t(y) * w + x) * 4;
      for (int c = 0; c < bpp; ++c) {
        if (ours[c] != ref[c] && mismatches++ == 0) {
          first = "at " + std::to_string(x) + "," + std::to_string(y) + " channel " + std::to_string(c) + ": " +
                  std::to_string(ours[c]) + " against " + std::to_string(ref[c]);
        }
      }
    }
  }
  if (mismatches)
    return ::testing::AssertionFailure() << mismatches << " channel values differ, first " << first;
  return ::testing::AssertionSuccess();
}

TEST_F(ForeignImageTest, DecodedPixelsMatchImageMagick) {
  struct Case {
    const char* file;
    bool (*load)(const char*, ImageData*);
    int format;
    bool bottomFirst;
    int mips;  // stored mip count expected (DDS)
  } cases[] = {
      {"pal8-info40.bmp", loadBMP, kPixelFormatRGB, true, 0},
      {"pal8-v5.bmp", loadBMP, kPixelFormatRGB, true, 0},
      {"pal8-rle8-info40.bmp", loadBMP, kPixelFormatRGB, true, 0},
      {"pal8-rle8-v5.bmp", loadBMP, kPixelFormatRGB, true, 0},
      {"rgb24.bmp", loadBMP, kPixelFormatRGB, true, 0},
      {"tga16.tga", loadTGA, kPixelFormatRGB, false, 0},
      {"tga16-rle.tga", loadTGA, kPixelFormatRGB, false, 0},
      {"tga16-alpha.tga", loadTGA, kPixelFormatRGBA, false, 0},
      {"tga24-rle.tga", loadTGA, kPixelFormatRGB, false, 0},
      {"tga32.tga", loadTGA, kPixelFormatRGBA, false, 0},
      {"dds24-mips.dds", loadDDS, kPixelFormatRGB, false, 5},
      {"dds24-wide-mips.dds", loadDDS, kPixelFormatRGB, false, 4},
      {"dds32-mips.dds", loadDDS, kPixelFormatRGBA, false, 5},
      {"dds32.dds", loadDDS, kPixelFormatRGBA, false, 1},
      {"baseline.jpg", loadJPEG, kPixelFormatRGB, false, 0},
      {"arith.jpg", loadJPEG, kPixelFormatRGB, false, 0},
      {"arith-flat2048.jpg", loadJPEG, kPixelFormatRGB, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    if (!exists(c.file)) {
      ADD_FAILURE() << "the script did not make it";
      continue;
    }
    ImageData image = {};
    g_output.clear();
    ASSERT_TRUE(c.load(c.file, &image)) << g_output;
    EXPECT_EQ(g_output, "") << "a clean decode prints nothing";
    EXPECT_EQ(image.info.pixelFormat, c.format);
    EXPECT_EQ(image.mipCount, c.mips);
    EXPECT_TRUE(samePixels(image, reference(c.file), c.bottomFirst));
    imageFree(image.pixels);
  }
}

TEST_F(ForeignImageTest, DdsMipLevelsFollowTheBaseLevel) {
  // 32 x 16 with 4 levels: 512 + 128 + 32 + 8 pixels, 3 bytes each, every level converted.
  ImageData image = {};
  ASSERT_TRUE(loadDDS("dds24-wide-mips.dds", &image)) << g_output;
  EXPECT_EQ(image.byteSize, (512 + 128 + 32 + 8) * 3);
  // ImageMagick reads the base level only; the second level's first pixel sits right after it and
  // is converted the same way (blue-green-red to red-green-blue).
  const Bytes file = readFile("dds24-wide-mips.dds");
  ASSERT_GE(file.size(), size_t(128 + 512 * 3 + 3));
  const uint8_t* stored = file.data() + 128 + 512 * 3;
  EXPECT_EQ(image.pixels[512 * 3 + 0], stored[2]);
  EXPECT_EQ(image.pixels[512 * 3 + 1], stored[1]);
  EXPECT_EQ(image.pixels[512 * 3 + 2], stored[0]);
  imageFree(image.pixels);
}

TEST_F(ForeignImageTest, RefusalsSayWhatAndWhyOnce) {
  struct Case {
    const char* file;
    bool (*load)(const char*, ImageData*);
    const char* message;
  } cases[] = {
      {"refused-pal4.bmp", loadBMP, "WARNING: BMP 'refused-pal4.bmp' refused: 4 bits per pixel are not supported"},
      {"refused-bitfields32.bmp", loadBMP,
       "WARNING: BMP 'refused-bitfields32.bmp' refused: 32 bits per pixel are not supported"},
      {"refused-colormap.tga", loadTGA, "WARNING: TGA 'refused-colormap.tga' refused: image type 1 is not supported"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    ImageData image = {};
    g_output.clear();
    EXPECT_FALSE(c.load(c.file, &image));
    EXPECT_EQ(g_output.find(c.message), 0u) << g_output;
    EXPECT_EQ(g_output.find("WARNING", 1), std::string::npos) << "one message: " << g_output;
    imageFree(image.pixels);
  }
}

}  // namespace
