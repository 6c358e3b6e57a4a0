// Text through the render manager on llvmpipe: glyph quads laid out by the font renderer land in
// the glyph colour where the text stands (escapes change it), and the clip rectangle cuts them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "lib/interface/convarsystem.h"
#include "lib/interface/rendermodelsystem.h"
#include "lib/interface/texmanager.h"
#include "platform/gl.h"
#include "render/backend/renderbackend.h"
#include "render/device/renderopengl.h"
#include "render/material/expression.h"
#include "render/material/material.h"
#include "render/model/font.h"
#include "render/scene/rendermanager.h"
#include "render/texture/texmgrinfo.h"
#include "system/convarmanager.h"
#include "tests/support/capturecmdsystem.h"
#include "tests/support/memoryiosystem.h"

namespace {

constexpr int kWidth = 256;
constexpr int kHeight = 192;

const char* kUnlitProgram =
    "!!ARBvp1.0\n"
    "PARAM mvp[4] = { state.matrix.mvp };\n"
    "PARAM tm[4] = { state.matrix.texture[0] };\n"
    "PARAM mul = program.env[16];\n"
    "PARAM add = program.env[17];\n"
    "DP4 result.position.x, mvp[0], vertex.position;\n"
    "DP4 result.position.y, mvp[1], vertex.position;\n"
    "DP4 result.position.z, mvp[2], vertex.position;\n"
    "DP4 result.position.w, mvp[3], vertex.position;\n"
    "MAD result.color, vertex.color, mul, add;\n"
    "DP4 result.texcoord[0].x, tm[0], vertex.texcoord[0];\n"
    "DP4 result.texcoord[0].y, tm[1], vertex.texcoord[0];\n"
    "MOV result.texcoord[0].zw, vertex.texcoord[0];\n"
    "END\n";

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

struct Rgb {
  int r, g, b;
};

class FontGLTest : public ::testing::Test {
 protected:
  void SetUp() override {
    io.addFile("glprogs/unlit.vp", kUnlitProgram);
    getConVarManager();
    g_conVarSystem->setInt("r_viewwidth", kWidth);
    g_conVarSystem->setInt("r_viewheight", kHeight);
    window = platformGLCreateHiddenWindow(kWidth, kHeight, 32);
    device = std::make_unique<RenderOpenGL>();
    if (window == nullptr || !device->init(window, nullptr, 0)) {
      const std::string why = window == nullptr ? platformGLError() : "device init failed";
      if (std::getenv("CI") != nullptr) {
        FAIL() << "no GL context under CI: " << why;
      }
      GTEST_SKIP() << "no GL context: " << why;
    }
    g_renderInterface = device.get();
    ASSERT_NE(TexMgrInfo::getInstance(), nullptr);
    getRenderModelSystem();
    manager = std::make_unique<RenderManager>();
    ASSERT_TRUE(manager->init());
    device->setClearColor(0, 0, 1, 1);
    manager->clearScreen();
    const char* body = "{\n{\nblend blend\nmap _white\nvertexColor\n}\n}\n";
    material = std::make_unique<Material>();
    ASSERT_TRUE(material->parse(body, static_cast<int>(std::strlen(body))));
    fonts = std::make_unique<BlockFonts>(manager.get(), material.get());
    ASSERT_EQ(fonts->registerFont("fonts"), 0);
  }

  void TearDown() override {
    if (device == nullptr || g_renderInterface == nullptr) {
      destroyConVarManager();
      return;
    }
    fonts.reset();
    manager.reset();
    material.reset();
    destroyRenderModelSystem();
    g_renderBackEnd.reset();
    destroyTexManager();
    clearExpressions();
    g_renderInterface = nullptr;
    device.reset();
    platformGLDestroyHiddenWindow(window);
    destroyConVarManager();
  }

  // A pixel at 640 x 480 units.
  Rgb at(float x, float y) {
    unsigned char p[4] = {};
    int px = static_cast<int>(x * kWidth / 640.0f), py = static_cast<int>(y * kHeight / 480.0f);
    device->readPixels(p, px, kHeight - 1 - py, 1, 1, kPixelFormatRGBA);
    return {p[0], p[1], p[2]};
  }
  static bool near(Rgb a, Rgb b) {
    return std::abs(a.r - b.r) <= 3 && std::abs(a.g - b.g) <= 3 && std::abs(a.b - b.b) <= 3;
  }

  MemoryIOSystem io;
  CaptureCmdSystem console;
  void* window = nullptr;
  std::unique_ptr<RenderOpenGL> device;
  std::unique_ptr<RenderManager> manager;
  std::unique_ptr<Material> material;
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
