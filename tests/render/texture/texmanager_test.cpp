// The texture manager over a recording device: lookup keys, missing files, table holes, uploads with
// their level chains, down-sizing and bump expansion, substitutions, built-in images, commands.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "lib/interface/cmdsystem.h"
#include "lib/interface/managerfactory.h"
#include "render/texture/imagefiles.h"
#include "render/texture/support/texenv.h"
#include "render/texture/texmgrinfo.h"

namespace {

using Bytes = std::vector<uint8_t>;
using textest::g_output;

// A top-first 24-bit TGA whose pixel (x, y) is red x, green y, blue 7.
Bytes makeTga(int width, int height) {
  Bytes b(18, 0);
  b[2] = 2;
  b[12] = uint8_t(width);
  b[13] = uint8_t(width >> 8);
  b[14] = uint8_t(height);
  b[15] = uint8_t(height >> 8);
  b[16] = 24;
  b[17] = 0x20;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      b.insert(b.end(), {7, uint8_t(y), uint8_t(x)});
  return b;
}

Bytes makeDxt1Dds(int width, int height, int mips, size_t dataBytes) {
  Bytes b(128, 0);
  std::memcpy(b.data(), "DDS ", 4);
  b[4] = 124;
  b[12] = uint8_t(height);
  b[16] = uint8_t(width);
  b[28] = uint8_t(mips);
  std::memcpy(&b[84], "DXT1", 4);
  for (size_t i = 0; i < dataBytes; ++i)
    b.push_back(uint8_t(i));
  return b;
}

class TexManagerTest : public textest::TexEnv {
 protected:
  void SetUp() override {
    TexEnv::SetUp();
    device_ = new textest::FakeDevice;
    manager_ = TexMgrInfo::getInstance();
    ASSERT_NE(manager_, nullptr);
    ASSERT_EQ(g_texManager, manager_);
    builtIns_ = manager_->getNumImages();
    g_output.clear();
  }
  void TearDown() override {
    destroyTexManager();
    EXPECT_EQ(g_texManager, nullptr);
    EXPECT_EQ(g_whiteImage, nullptr);
    delete device_;
    TexEnv::TearDown();
  }
  // The level-0 upload of an image's texture (last one made).
  const textest::Upload* baseUpload(const ImageInterface* image, int face = 0) const {
    const textest::Upload* found = nullptr;
    for (const textest::Upload* u : device_->uploadsOf(unsigned(image->textureId)))
      if (u->level == 0 && u->face == face)
        found = u;
    return found;
  }
  std::vector<const textest::Upload*> levels(const ImageInterface* image) const {
    return device_->uploadsOf(unsigned(image->textureId));
  }

  textest::FakeDevice* device_ = nullptr;
  TexMgrInfo* manager_ = nullptr;
  int builtIns_ = 0;
};

TEST_F(TexManagerTest, LookupKeyIsNameAndFlags) {
  writeFile("textures/wall.tga", makeTga(2, 2));
  ImageInterface* a = manager_->findImage("textures/wall.tga", 0);
  ASSERT_NE(a, nullptr);
  EXPECT_STREQ(a->name, "textures/wall");
  EXPECT_STREQ(a->extension, ".tga");
  EXPECT_FALSE(a->loaded);  // pixels wait for first use
  struct Case {
    const char* name;
    uint32_t flags;
    bool same;
  } cases[] = {
      {"textures/wall", 0, true},
      {"textures\\wall.tga", 0, true},
      {"textures/wall.jpg", 0, true},
      {"textures/wall", kImageAny, true},
      {"textures/wall", kImageDiffuse, false},
      {"Textures/Wall", 0, false},
  };
  int references = 1;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ImageInterface* b = manager_->findImage(c.name, c.flags);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b == a, c.same);
    if (c.same)
      ++references;
  }
  EXPECT_EQ(a->refCount, references);
  EXPECT_EQ(manager_->findImage(nullptr, 0), nullptr);

  // Loading sets the no-mips flag on a one-level image; the image is still found by its request.
  ImageInterface* one = manager_->findImage("textures/wall", kImageDiffuse);
  writeFile("dot.tga", makeTga(1, 1));
  ImageInterface* dot = manager_->findImage("dot", 0);
  ASSERT_TRUE(dot->load());
  EXPECT_TRUE(dot->flags & kImageNoMips);
  EXPECT_EQ(manager_->findImage("dot", 0), dot);
  EXPECT_NE(one, a);
  // Images made from memory carry "any" and match every request; findLoadedImage adds nothing.
  const uint8_t texel[3] = {1, 2, 3};
  const ImageInfo info = {1, 1, 0, kPixelFormatRGB, 0, 99};
  ImageInterface* lmap = manager_->createImageFromPixels("_lmap_0", &info, 0x844, texel);
  ASSERT_NE(lmap, nullptr);
  EXPECT_EQ(manager_->findLoadedImage("_lmap_0", 0x123), lmap);
  EXPECT_EQ(lmap->refCount, 1);
  EXPECT_EQ(manager_->findLoadedImage("nothing", 0), nullptr);
}

TEST_F(TexManagerTest, MissingFileGivesOneYellowImage) {
  ImageInterface* first = manager_->findImage("textures/missing.tga", kImageDiffuse);
  ImageInterface* second = manager_->findImage("textures/missing.tga", kImageDiffuse);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first, second);
  EXPECT_STREQ(first->name, "textures/missing");
  EXPECT_EQ(first->flags & kImageGenerated, kImageGenerated);
  const std::string message = "failed to find (textures/missing.tga).. generating default image\n";
  EXPECT_EQ(g_output.find(message), g_output.rfind(message));
  EXPECT_NE(g_output.find(message), std::string::npos);
  const textest::Upload* up = baseUpload(first);
  ASSERT_NE(up, nullptr);
  EXPECT_EQ(up->pixels, (Bytes{255, 255, 0}));

  // A video file makes a video image; one without the video header has no data and never loads.
  writeFile("intro.ovid", Bytes(16, 1));
  g_output.clear();
  ImageInterface* video = manager_->findImage("intro.ovid", 70);
  ASSERT_NE(video, nullptr);
  EXPECT_TRUE(video->isVideo());
  EXPECT_FALSE(video->load());
  EXPECT_NE(g_output.find("does not begin with a signature"), std::string::npos) << g_output;

  // A missing cube face is reported by the face's name.
  g_output.clear();
  ImageInterface* cube = manager_->findImage("env/sky", kImageCube);
  ASSERT_NE(cube, nullptr);
  EXPECT_STREQ(cube->name, "env/sky_px");
  EXPECT_NE(g_output.find("failed to find (env/sky_px).. generating default image\n"), std::string::npos);
}

TEST_F(TexManagerTest, HolesAreReusedAndTheTableShrinksFromItsTail) {
  const uint8_t texel[3] = {1, 2, 3};
  const ImageInfo info = {1, 1, 0, kPixelFormatRGB, 0, 99};
  ImageInterface* a = manager_->createImageFromPixels("_a", &info, 0x844, texel);
  ImageInterface* b = manager_->createImageFromPixels("_b", &info, 0x844, texel);
  ImageInterface* c = manager_->createImageFromPixels("_c", &info, 0x844, texel);
  ASSERT_EQ(manager_->getNumImages(), builtIns_ + 3);
  EXPECT_EQ(manager_->getImage(builtIns_ + 1), b);
  manager_->releaseImage(b);
  EXPECT_EQ(manager_->getNumImages(), builtIns_ + 3);
  EXPECT_EQ(manager_->getImage(builtIns_ + 1), nullptr);
  ImageInterface* d = manager_->createImageFromPixels("_d", &info, 0x844, texel);
  EXPECT_EQ(manager_->getImage(builtIns_ + 1), d);
  const unsigned cTexture = unsigned(c->textureId);
  manager_->releaseImage(c);
  EXPECT_EQ(manager_->getNumImages(), builtIns_ + 2);
  EXPECT_EQ(device_->deleted.back(), cTexture);
  manager_->releaseImage(d);
  manager_->releaseImage(a);
  EXPECT_EQ(manager_->getNumImages(), builtIns_);
  EXPECT_EQ(manager_->getImage(-1), nullptr);
  EXPECT_EQ(manager_->getImage(builtIns_), nullptr);
  manager_->releaseImage(nullptr);
}

TEST_F(TexManagerTest, UploadBuildsTheWholeLevelChain) {
  writeFile("big.tga", makeTga(300, 200));
  ImageInterface* image = manager_->findImage("big", kImageClamp | kImageNearest);
  ASSERT_TRUE(image->bind());
  const auto uploads = levels(image);
  ASSERT_EQ(uploads.size(), 9u);
  const int sizes[9][2] = {{300, 200}, {150, 100}, {75, 50}, {37, 25}, {18, 12},
                           {9, 6},     {4, 3},     {2, 1},   {1, 1}};
  for (int i = 0; i < 9; ++i) {
    EXPECT_EQ(uploads[size_t(i)]->level, i);
    EXPECT_EQ(uploads[size_t(i)]->info.width, sizes[i][0]);
    EXPECT_EQ(uploads[size_t(i)]->info.height, sizes[i][1]);
  }
  // Top row first, converted to RGB: pixel (5, 0) is red 5, green 0, blue 7.
  EXPECT_EQ(Bytes(uploads[0]->pixels.begin() + 15, uploads[0]->pixels.begin() + 18), (Bytes{5, 0, 7}));
  EXPECT_EQ(image->flags & kImageNoMips, 0u);
  EXPECT_EQ(device_->lastWrap, kWrapClampToEdge);
  EXPECT_EQ(device_->lastFilter, kFilterNearest);
  EXPECT_TRUE(device_->lastMipmapped);
  EXPECT_EQ(device_->pushes, 0);
  EXPECT_EQ(image->memory, imageByteSize(&image->info, 0));
  EXPECT_EQ(image->getTextureId(), image->textureId);
}

TEST_F(TexManagerTest, CompressedLevelsAreCountedInBlocks) {
  // 5x5 DXT1 with no stored levels: one level of 2x2 blocks.
  writeFile("five.dds", makeDxt1Dds(5, 5, 0, 32));
  ImageInterface* five = manager_->findImage("five", 0);
  ASSERT_TRUE(five->load());
  auto uploads = levels(five);
  ASSERT_EQ(uploads.size(), 1u);
  EXPECT_TRUE(uploads[0]->compressed);
  EXPECT_EQ(uploads[0]->bytes, 32);
  EXPECT_TRUE(five->flags & kImageNoMips);
  EXPECT_FALSE(device_->lastMipmapped);

  // 8x8 claiming 4 levels but holding 2: only the levels present are uploaded.
  writeFile("short.dds", makeDxt1Dds(8, 8, 4, 32 + 8));
  ImageInterface* cut = manager_->findImage("short", 0);
  ASSERT_TRUE(cut->load());
  uploads = levels(cut);
  ASSERT_EQ(uploads.size(), 2u);
  EXPECT_EQ(uploads[1]->info.width, 4);
  EXPECT_EQ(uploads[1]->bytes, 8);
}

TEST_F(TexManagerTest, DownSizingAndBumpExpansionOnUpload) {
  setVar("image_downSize", "1");
  writeFile("huge.tga", makeTga(1024, 1024));
  ImageInterface* limited = manager_->findImage("huge", 0);
  ASSERT_TRUE(limited->load());
  EXPECT_EQ(levels(limited).size(), 9u);
  EXPECT_EQ(limited->info.width, 256);
  ImageInterface* kept = manager_->findImage("huge", kImageNoDownSize);
  ASSERT_NE(kept, limited);
  ASSERT_TRUE(kept->load());
  EXPECT_EQ(levels(kept).size(), 11u);
  EXPECT_EQ(kept->info.width, 1024);

  writeFile("bump.tga", makeTga(2, 1));
  ImageInterface* bump = manager_->findImage("bump", kImageBump | kImageNoMips);
  ASSERT_TRUE(bump->load());
  const textest::Upload* up = baseUpload(bump);
  ASSERT_NE(up, nullptr);
  EXPECT_EQ(up->info.pixelFormat, kPixelFormatRGBA);
  EXPECT_EQ(up->pixels, (Bytes{0, 0, 7, 0, 1, 0, 7, 1}));
}

// A file that is found but cannot be decoded is said once, by name, and draws as the missing-file
// image (never read again on each bind, never leaving its surfaces undrawn); other images of the
// same file take the stand-in silently, until "reloadImages" lets the file be read again.
TEST_F(TexManagerTest, UndecodableFilesAreSaidOnceAndDrawAsTheDefault) {
  writeFile("broken.tga", Bytes(40, 0xAB));
  g_output.clear();
  ImageInterface* image = manager_->findImage("broken", 0);
  ASSERT_NE(image, nullptr);
  EXPECT_TRUE(image->load());
  for (int i = 0; i < 100; ++i)
    EXPECT_TRUE(image->bind());
  EXPECT_NE(image->getTextureId(), 0);
  EXPECT_EQ(selectBoundImage(image), image);
  const std::string warning = "WARNING: image 'broken.tga' could not be read.. using the default image\n";
  EXPECT_NE(g_output.find(warning), std::string::npos) << g_output;
  EXPECT_EQ(g_output.find(warning), g_output.rfind(warning)) << g_output;
  const textest::Upload* up = baseUpload(image);
  ASSERT_NE(up, nullptr);
  EXPECT_EQ(up->info.width, 1);
  EXPECT_EQ(up->pixels, (Bytes{255, 255, 0})) << "the missing-file colour";

  g_output.clear();
  ImageInterface* diffuse = manager_->findImage("broken", kImageDiffuse);
  ASSERT_NE(diffuse, image);
  EXPECT_TRUE(diffuse->load());
  EXPECT_EQ(g_output, "") << "the same file is not read or said again";

  g_cmdSystem->executeText("reloadImages");
  EXPECT_TRUE(image->bind());
  EXPECT_NE(g_output.find(warning), std::string::npos) << "a reload reads it again: " << g_output;
}

TEST_F(TexManagerTest, SubstitutesFollowTheSkipVariables) {
  const uint8_t texel[3] = {1, 2, 3};
  const ImageInfo info = {1, 1, 0, kPixelFormatRGB, 0, 99};
  ImageInterface* diffuse = manager_->createImageFromPixels("_d", &info, 0x80000000u | kImageDiffuse, texel);
  ImageInterface* bump = manager_->createImageFromPixels("_b", &info, 0x80000000u | kImageBump, texel);
  ImageInterface* specular =
      manager_->createImageFromPixels("_s", &info, 0x80000000u | kImageSpecular, texel);
  EXPECT_EQ(selectBoundImage(diffuse), diffuse);
  setVar("r_skipDiffuse", "1");
  setVar("r_skipBump", "1");
  setVar("r_skipSpecular", "1");
  EXPECT_EQ(selectBoundImage(diffuse), g_whiteImage);
  EXPECT_EQ(selectBoundImage(bump), g_flatBumpImage);
  EXPECT_EQ(selectBoundImage(specular), g_blackImage);
  setVar("r_skipDiffuse", "0");
  setVar("r_skipBump", "0");
  setVar("r_skipSpecular", "0");

  // "r_singleTexture" past the table binds the last slot (holes never stay at the tail).
  setVar("r_singleTexture", "100000");
  EXPECT_EQ(selectBoundImage(diffuse), specular);
  ImageInterface* last = manager_->createImageFromPixels("_last", &info, 0x844, texel);
  ImageInterface* tail = manager_->createImageFromPixels("_tail", &info, 0x844, texel);
  manager_->releaseImage(last);
  EXPECT_EQ(selectBoundImage(diffuse), tail);
  setVar("r_singleTexture", "-1");

  // Binding applies the LOD bias only to images with levels.
  setVar("image_bias", "3");
  device_->lodBiasCalls = 0;
  EXPECT_TRUE(bindImage(diffuse));
  EXPECT_EQ(device_->bound, unsigned(diffuse->textureId));
  EXPECT_EQ(device_->lodBiasCalls, 0);  // a 1x1 image has one level
  writeFile("mipped.tga", makeTga(4, 4));
  EXPECT_TRUE(bindImage(manager_->findImage("mipped", 0)));
  EXPECT_EQ(device_->lodBiasCalls, 1);
  EXPECT_EQ(device_->lodBias, 3.0f);
  EXPECT_FALSE(bindImage(nullptr));
}

TEST_F(TexManagerTest, BuiltInImagesFollowTheirFormulas) {
  EXPECT_EQ(builtIns_, 11);
  auto texel = [&](ImageInterface* image, int x, int y, int face = 0) {
    const textest::Upload* up = baseUpload(image, face);
    const int bpp = up->info.pixelFormat == kPixelFormatRGBA ? 4 : 3;
    const size_t at = (size_t(y) * up->info.width + x) * bpp;
    return Bytes(up->pixels.begin() + long(at), up->pixels.begin() + long(at) + bpp);
  };
  EXPECT_EQ(texel(g_whiteImage, 0, 0), (Bytes{255, 255, 255}));
  EXPECT_EQ(texel(g_blackImage, 0, 0), (Bytes{0, 0, 0}));
  EXPECT_EQ(texel(g_flatBumpImage, 0, 0), (Bytes{128, 128, 255, 128}));
  EXPECT_EQ(texel(g_defaultImage, 0, 0), (Bytes{0, 0, 0}));
  EXPECT_EQ(texel(g_defaultImage, 1, 0), (Bytes{255, 255, 255}));
  EXPECT_EQ(texel(g_defaultImage, 1, 1), (Bytes{0, 0, 0}));
  EXPECT_EQ(g_defaultImage->flags & kImageClamp, 0u);
  ImageInterface* gray = manager_->findLoadedImage("_gray", 0);
  ASSERT_NE(gray, nullptr);
  EXPECT_EQ(texel(gray, 0, 0), (Bytes{128, 128, 128}));
  ImageInterface* quadratic = manager_->findLoadedImage("_quadratic", 0);
  EXPECT_EQ(texel(quadratic, 0, 0)[0], 255);
  EXPECT_EQ(texel(quadratic, 8, 0)[0], 63);  // 0.25 x 255
  EXPECT_EQ(texel(quadratic, 15, 0)[0], 0);  // (1/16)^2 x 255 = 0.996
  // "_fog": alpha grows with the distance from the centre; corner u = v = 1.0583.
  EXPECT_EQ(texel(g_fogImage, 64, 64)[3], 0);
  EXPECT_EQ(texel(g_fogImage, 0, 0)[3], 255);
  EXPECT_EQ(texel(g_fogImage, 96, 64), (Bytes{255, 255, 255, 75}));  // u 0.5417: 74.8 rounded
  // "_fogEnter": opaque before the entry edge, clear deep inside.
  EXPECT_EQ(texel(g_fogEnterImage, 0, 0)[3], 255);
  EXPECT_EQ(texel(g_fogEnterImage, 63, 63)[3], 0);
  EXPECT_EQ(texel(g_fogEnterImage, 31, 31)[3], 23);   // a = b = 0.953: 1 - e = 0.0916
  EXPECT_EQ(texel(g_fogEnterImage, 16, 63)[3], 131);  // a = 0.484, b = 1
  // "_currentRender": powers of two over 800 x 600.
  EXPECT_EQ(g_currentRenderImage->info.width, 1024);
  EXPECT_EQ(g_currentRenderImage->info.height, 1024);
  // "_normalCubeMap": each face's centre points along its axis.
  EXPECT_EQ(g_normalCubeMapImage->info.textureType, kTextureTypeCube);
  const Bytes axes[6] = {{254, 128, 128}, {1, 128, 128},   {128, 254, 128},
                         {128, 1, 128},   {128, 128, 254}, {128, 128, 1}};
  for (int f = 0; f < 6; ++f) {
    const Bytes centre = texel(g_normalCubeMapImage, 16, 16, f);
    for (int c = 0; c < 3; ++c)
      EXPECT_NEAR(centre[size_t(c)], axes[f][size_t(c)], 4) << "face " << f;
  }
  EXPECT_EQ(g_mirrorRenderImage->refCount, 1);
  EXPECT_EQ(std::string(g_mirrorRenderImage->name), "_mirrorRenderMap");

  // Reloading regenerates the built-ins in place.
  const int count = manager_->getNumImages();
  g_cmdSystem->executeText("reloadImages");
  EXPECT_EQ(manager_->getNumImages(), count);
  EXPECT_TRUE(g_whiteImage->loaded);
  EXPECT_EQ(texel(g_whiteImage, 0, 0), (Bytes{255, 255, 255}));
}

TEST_F(TexManagerTest, CreateImageNamesAndRespecifies) {
  ImageInterface* a = manager_->createRGBImage(64, 32, 0, nullptr);
  ImageInterface* b = manager_->createRGBImage(16, 16, 0, nullptr);
  ASSERT_NE(a, nullptr);
  EXPECT_STREQ(a->name, "_renderMap_0");
  EXPECT_STREQ(b->name, "_renderMap_1");
  EXPECT_EQ(a->flags & 0x806u, 0x806u);
  const ImageInfo bigger = {128, 64, 0, kPixelFormatRGBA, 0, 99};
  EXPECT_EQ(manager_->createImage(&bigger, 0, "_renderMap_0"), a);
  EXPECT_EQ(a->info.width, 128);
  EXPECT_EQ(a->info.pixelFormat, kPixelFormatRGBA);
  const textest::Upload* up = baseUpload(a);
  ASSERT_NE(up, nullptr);
  EXPECT_TRUE(up->pixels.empty());  // storage only
}

TEST_F(TexManagerTest, WithoutADeviceImagesLoadWithoutTextures) {
  device_->ready = false;
  writeFile("plain.tga", makeTga(4, 4));
  ImageInterface* image = manager_->findImage("plain", 0);
  ASSERT_TRUE(image->load());
  EXPECT_TRUE(image->loaded);
  EXPECT_EQ(image->textureId, -1);
  EXPECT_EQ(image->memory, 4 * 4 * 3);
  EXPECT_EQ(image->getTextureId(), 0);
}

TEST_F(TexManagerTest, ListingAndDumping) {
  writeFile("pics/a_rather_long_directory_name/and_a_long_file.tga", makeTga(4, 2));
  ImageInterface* image = manager_->findImage("pics/a_rather_long_directory_name/and_a_long_file", 0);
  ASSERT_TRUE(image->load());
  manager_->findImage("pics/not_loaded", 0);
  g_output.clear();
  g_cmdSystem->executeText("listImages");
  const std::string rule(82, '-');
  EXPECT_EQ(g_output.rfind(
                rule + "\n      NAME                                     SIZE MIPS       FMT   BYTE SIZE\n" +
                    rule + "\n",
                0),
            0u);
  char line[200];
  // The name shows its last 30 characters.
  std::snprintf(line, sizeof(line), "%4d: %-30s%30s%5d Kbytes\n", builtIns_, "directory_name/and_a_long_file",
                "4x2x24 [ 3] [    888]", 0);
  EXPECT_NE(g_output.find(line), std::string::npos) << g_output;
  EXPECT_NE(g_output.find("[not in memory]"), std::string::npos);
  EXPECT_NE(g_output.find("\testimated texture memory: "), std::string::npos);

  // "dumpTexture" needs exactly two arguments and writes through the image's own data.
  g_output.clear();
  const std::string index = std::to_string(builtIns_);
  g_cmdSystem->executeText(("dumpTexture " + index).c_str());
  EXPECT_EQ(g_output, "");
  g_cmdSystem->executeText(("dumpTexture " + index + " media/dumped.tga").c_str());
  EXPECT_EQ(g_output, "   'media/dumped.tga' saved...\n");
  EXPECT_EQ(readFile("dumped.tga").size(), 18u + 4 * 2 * 3);
  g_cmdSystem->executeText("dumpTexture 9999 media/nothing.tga");
  EXPECT_FALSE(exists("nothing.tga"));

  // Names reaching outside the game tree are refused by the file system every writer goes through.
  const std::filesystem::path outside =
      root_.parent_path() / ("outside_" + root_.filename().string() + ".tga");
  for (const std::string& name :
       {std::string("../precious.tga"), std::string("media/../../precious.tga"), outside.string()}) {
    g_output.clear();
    g_cmdSystem->executeText(("dumpTexture " + index + " " + name).c_str());
    EXPECT_NE(g_output.find("ERROR saving"), std::string::npos) << name << "\n" << g_output;
  }
  EXPECT_FALSE(std::filesystem::exists(root_.parent_path() / "precious.tga"));
  EXPECT_FALSE(std::filesystem::exists(outside));
}

TEST_F(TexManagerTest, ReloadFlagsLoadedImagesAndLoadsThemOnUse) {
  writeFile("wall.tga", makeTga(2, 2));
  ImageInterface* wall = manager_->findImage("wall", 0);
  ASSERT_TRUE(wall->load());
  const int firstTexture = wall->textureId;
  manager_->flagAllForReload();
  EXPECT_FALSE(wall->loaded);
  EXPECT_TRUE(wall->flags & kImageReload);
  manager_->reloadFlagged();
  EXPECT_FALSE(wall->flags & kImageReload);
  EXPECT_FALSE(wall->loaded);
  EXPECT_EQ(manager_->findImage("wall", 0), wall);
  EXPECT_TRUE(wall->bind());
  EXPECT_TRUE(wall->loaded);
  EXPECT_NE(wall->textureId, firstTexture);
}

TEST_F(TexManagerTest, CubeMapsUploadSixClampedFaces) {
  const char* faces[] = {"_px", "_nx", "_py", "_ny", "_pz", "_nz"};
  for (const char* f : faces)
    writeFile(std::string("env/box") + f + ".tga", makeTga(4, 4));
  ImageInterface* cube = manager_->findImage("env/box", kImageCube);
  ASSERT_NE(cube, nullptr);
  EXPECT_STREQ(cube->name, "env/box");
  ASSERT_TRUE(cube->load());
  EXPECT_EQ(cube->info.textureType, kTextureTypeCube);
  for (int f = 0; f < 6; ++f)
    EXPECT_NE(baseUpload(cube, f), nullptr) << f;
  EXPECT_EQ(levels(cube).size(), 6u);  // one level each
  EXPECT_EQ(device_->lastWrap, kWrapClampToEdge);
  EXPECT_EQ(cube->memory, 6 * 4 * 4 * 3);
}

class TexManagerFactoryTest : public textest::TexEnv {};

TEST_F(TexManagerFactoryTest, TheCommonManagerCreatesItByItsBit) {
  const ManagerFactory& factory = g_managerFactories[kManagerTexture];
  ASSERT_NE(factory.create, nullptr);
  ASSERT_NE(factory.destroy, nullptr);
  ASSERT_TRUE(factory.create());
  ASSERT_NE(g_texManager, nullptr);
  EXPECT_NE(g_output.find("initializing (Texture Manager)\n"), std::string::npos);
  EXPECT_NE(g_output.find("generating... _white\n"), std::string::npos);
  EXPECT_EQ(g_texManager->getNumImages(), 11);
  EXPECT_NE(g_cmdSystem->findCommand("listImages"), nullptr);
  // Without a device the built-ins count as loaded without textures.
  EXPECT_TRUE(g_whiteImage->loaded);
  EXPECT_EQ(g_whiteImage->textureId, -1);
  factory.destroy();
  EXPECT_EQ(g_texManager, nullptr);
  EXPECT_NE(g_output.find("shutting down texture module\n"), std::string::npos);
  // A second start in the same process begins clean.
  ASSERT_TRUE(factory.create());
  EXPECT_EQ(g_texManager->getNumImages(), 11);
  factory.destroy();
}

}  // namespace
