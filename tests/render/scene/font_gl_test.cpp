// Text through the render manager on llvmpipe: glyph quads laid out by the font renderer land in
// the glyph colour where the text stands (escapes change it), and the clip rectangle cuts them.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "render/model/font.h"
#include "tests/render/scene/support/managergl.h"

namespace {

using managergl::kHeight;
using managergl::kWidth;
using managergl::Rgb;

// Every glyph an 8 x 16 cell of a white sheet: a glyph draws as a block of the text colour.
class BlockFonts : public FontRenderer {
 public:
  BlockFonts(RenderSystem* r, Material* m) : FontRenderer(r), material_(m) {}

 protected:
  int listDatFiles(const char*, char* buffer, int size) override {
    std::strncpy(buffer, "block.dat", static_cast<size_t>(size));
    return 1;
  }
  Material* findFontMaterial(const char*) override { return material_; }
  bool fontImageSize(Material*, int* w, int* h) override {
    *w = 256;
    *h = 256;
    return true;
  }
  IOData* loadFontFile(const char*) override {
    IOData* d = new IOData;
    d->buffer = new char[kFontDatSize + 1]();
    for (int i = 0; i < kFontGlyphs; i++) {
      const int32_t rec[4] = {(i % 16) * 8, (i / 16) * 16, 8, 16};
      std::memcpy(d->buffer + i * 16, rec, 16);
    }
    d->length = kFontDatSize;
    return d;
  }
  void freeFontFile(IOData* d) override { delete d; }

 private:
  Material* material_;
};

class FontGLTest : public managergl::ManagerGLTest {
 protected:
  void SetUp() override {
    managergl::ManagerGLTest::SetUp();
    if (!running() || HasFatalFailure())
      return;
    Material* white = material("{\n{\nblend blend\nmap _white\nvertexColor\n}\n}\n");
    ASSERT_FALSE(HasFailure());
    fonts = std::make_unique<BlockFonts>(manager.get(), white);
    ASSERT_EQ(fonts->registerFont("fonts"), 0);
  }

  void TearDown() override {
    fonts.reset();
    managergl::ManagerGLTest::TearDown();
  }

  // A pixel at 640 x 480 units.
  Rgb at(float x, float y) {
    return ManagerGLTest::at(static_cast<int>(x * kWidth / 640.0f), static_cast<int>(y * kHeight / 480.0f));
  }
  static bool near(Rgb a, Rgb b) { return managergl::near(a, b, 3); }

  std::unique_ptr<BlockFonts> fonts;
};

TEST_F(FontGLTest, GlyphsReadBackInTheirEscapeColourWhereTheTextStands) {
  // Glyphs of 40 x 80 units: "AB" red from 0 to 80, "C" green from 80 to 120, a second line below.
  fonts->drawText(0, 0, 0, 5, "^1AB^2C\n^7D", 11);
  struct Probe {
    float x, y;
    Rgb want;
  };
  const Probe probes[] = {
      {20, 40, {255, 0, 0}},   {60, 40, {255, 0, 0}},   {100, 40, {0, 255, 0}}, {160, 40, {0, 0, 255}},
      {20, 120, {255, 255, 255}}, {60, 120, {0, 0, 255}}, {320, 300, {0, 0, 255}},
  };
  for (const Probe& p : probes) {
    Rgb c = at(p.x, p.y);
    EXPECT_TRUE(near(c, p.want)) << p.x << "," << p.y << ": " << c.r << "," << c.g << "," << c.b;
  }
}

TEST_F(FontGLTest, ClipRectangleCutsTheGlyphsAtItsEdge) {
  fonts->setTextClipRect(0, 0, 100, 480);
  fonts->enableTextClip(true);
  manager->setColor(0, 1, 0, 1);
  fonts->drawText(0, 0, 0, 5, "ABC", 3);
  EXPECT_TRUE(near(at(90, 40), {0, 255, 0}));
  EXPECT_TRUE(near(at(112, 40), {0, 0, 255}));
}

}  // namespace
