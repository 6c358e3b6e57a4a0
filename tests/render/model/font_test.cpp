// Bitmap fonts: the ".dat" reader, font registration and text layout read back from the glyph
// batches handed to drawTriangles2D.
#include "render/model/font.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "lib/interface/iosystem.h"
#include "lib/interface/rendersystem.h"
#include "lib/matrix.h"
#include "support/capturecmdsystem.h"
#include "tests/support/nullrender.h"

namespace {

constexpr int kImageW = 1024;
constexpr int kImageH = 64;

// Glyph i sits at x = 10 i, y = 2; width 4 + i % 5; height 12 ('g' 14).
int glyphWidth(int index) { return 4 + index % 5; }
int glyphHeight(int index) { return index == 'g' - 32 ? 14 : 12; }
int widthOf(char c) { return glyphWidth(fontGlyphIndex(c)); }

void put32(std::string& s, size_t at, int32_t v) {
  for (int i = 0; i < 4; i++)
    s[at + i] = static_cast<char>((static_cast<uint32_t>(v) >> (8 * i)) & 0xff);
}

std::string makeDat() {
  std::string dat(kFontDatSize, '\0');
  for (int i = 0; i < kFontGlyphs; i++) {
    put32(dat, i * 16, i * 10);
    put32(dat, i * 16 + 4, 2);
    put32(dat, i * 16 + 8, glyphWidth(i));
    put32(dat, i * 16 + 12, glyphHeight(i));
  }
  return dat;
}

// Records colours and glyph batches.
class RecordingRender : public NullRenderSystem {
 public:
  struct Draw {
    std::vector<DrawVertex> verts;
    std::vector<int> indexes;
    Material* material;
  };
  std::vector<Draw> draws;
  float color[4] = {1, 1, 1, 1};

  void setColorV(const float* c) override { std::memcpy(color, c, sizeof(color)); }
  void setColor(float r, float g, float b, float a) override {
    color[0] = r;
    color[1] = g;
    color[2] = b;
    color[3] = a;
  }
  void getColor(float* out) override { std::memcpy(out, color, sizeof(color)); }
  void drawTriangles2D(const DrawVertex* v, const int* idx, int nv, int ni, Material* m, int, int, int, int,
                       int) override {
    draws.push_back({std::vector<DrawVertex>(v, v + nv), std::vector<int>(idx, idx + ni), m});
  }
};

// One glyph as drawn: its character (from s1), top-left corner, size and colour.
struct Quad {
  char c;
  float x, y, w, h;
  uint8_t color[4];
};

std::vector<Quad> quadsOf(const RecordingRender& r) {
  std::vector<Quad> out;
  for (const auto& d : r.draws)
    for (size_t b = 0; b + 3 < d.verts.size(); b += 4) {
      const DrawVertex& v0 = d.verts[b];
      const DrawVertex& v2 = d.verts[b + 2];
      Quad q;
      q.c = static_cast<char>(32 + std::lround(v0.st[0] * kImageW / 10.0f));
      q.x = v0.xyz[0];
      q.y = v0.xyz[1];
      q.w = v2.xyz[0] - v0.xyz[0];
      q.h = v2.xyz[1] - v0.xyz[1];
      std::memcpy(q.color, v0.color, 4);
      out.push_back(q);
    }
  return out;
}

std::string charsOf(const std::vector<Quad>& quads) {
  std::string s;
  for (const Quad& q : quads)
    s += q.c;
  return s;
}

// Fonts from in-memory folders: folder -> ".dat" names, material name -> ".dat" bytes.
class TestFonts : public FontRenderer {
 public:
  explicit TestFonts(RenderSystem* r) : FontRenderer(r) {}
  std::map<std::string, std::vector<std::string>> folders;
  std::map<std::string, std::string> files;       // "<folder>/<name>.dat" -> bytes
  std::map<std::string, bool> materials;          // material names that exist
  int prepared = 0;
  int reparsed = 0;

  void addFont(const std::string& folder, const std::string& dat = makeDat()) {
    folders[folder] = {"font.dat"};
    files[folder + "/font.dat"] = dat;
    materials[folder + "/font"] = true;
  }
  static Material* fakeMaterial(const std::string& name) {
    static std::map<std::string, int> ids;
    // Never dereferenced: the hooks below stand in for every use of the material.
    return reinterpret_cast<Material*>(0x1000 + 16 * (ids.emplace(name, static_cast<int>(ids.size())).first->second));
  }

 protected:
  int listDatFiles(const char* folder, char* buffer, int size) override {
    auto it = folders.find(folder);
    if (it == folders.end())
      return 0;
    int used = 0;
    for (const std::string& n : it->second) {
      if (used + static_cast<int>(n.size()) + 1 > size)
        break;
      std::memcpy(buffer + used, n.c_str(), n.size() + 1);
      used += static_cast<int>(n.size()) + 1;
    }
    return static_cast<int>(it->second.size());
  }
  Material* findFontMaterial(const char* name) override {
    return materials.count(name) ? fakeMaterial(name) : nullptr;
  }
  bool fontImageSize(Material*, int* w, int* h) override {
    *w = kImageW;
    *h = kImageH;
    return true;
  }
  IOData* loadFontFile(const char* name) override {
    auto it = files.find(name);
    if (it == files.end())
      return nullptr;
    IOData* d = new IOData;
    d->buffer = new char[it->second.size() + 1];
    std::memcpy(d->buffer, it->second.data(), it->second.size());
    d->length = static_cast<int>(it->second.size());
    return d;
  }
  void freeFontFile(IOData* d) override { delete d; }
  void prepareMaterial(Material*) override { prepared++; }
  void reparseMaterial(Material*) override { reparsed++; }
};

class FontTest : public ::testing::Test {
 protected:
  FontTest() : fonts(&render) {
    fonts.addFont("fonts");
    EXPECT_EQ(fonts.registerFont("fonts"), 0);
  }
  std::vector<Quad> draw(const char* text, float x = 0, float y = 0, float scale = 1) {
    render.draws.clear();
    fonts.drawText(0, x, y, scale, text, static_cast<int>(std::strlen(text)));
    return quadsOf(render);
  }
  CaptureCmdSystem cmd;
  RecordingRender render;
  TestFonts fonts;
};

TEST(FontDat, GlyphRectanglesBecomeTextureCoordinatesAndTheTallestGlyphIsTheHeight) {
  CaptureCmdSystem cmd;
  std::string dat = makeDat();
  FontInfo font;
  ASSERT_TRUE(parseFontDat(reinterpret_cast<const uint8_t*>(dat.data()), dat.size(), kImageW, kImageH, &font, "f.dat"));
  EXPECT_EQ(font.height, 14);
  const FontGlyph& a = font.glyphs['A' - 32];
  int i = 'A' - 32;
  EXPECT_FLOAT_EQ(a.s1, i * 10.0f / kImageW);
  EXPECT_FLOAT_EQ(a.s2, (i * 10.0f + glyphWidth(i) - 0.5f) / kImageW);
  EXPECT_FLOAT_EQ(a.t1, (2.0f + 12.0f - 0.5f) / kImageH);
  EXPECT_FLOAT_EQ(a.t2, 3.0f / kImageH);
  EXPECT_EQ(a.width, glyphWidth(i));
  EXPECT_EQ(a.height, 12);
  EXPECT_TRUE(cmd.text.empty());
}

TEST(FontDat, BadFilesAreRefusedWithAMessageAndLeaveTheFontAlone) {
  struct Case {
    const char* what;
    std::string dat;
    int w, h;
    const char* message;
  };
  std::string zero(kFontDatSize, '\0');
  std::string negative = makeDat();
  put32(negative, 5 * 16 + 8, -3);
  std::string outside = makeDat();
  put32(outside, 94 * 16, kImageW - 2);
  std::string huge = makeDat();
  put32(huge, 7 * 16 + 12, 0x7fffffff);
  std::string emptySizes = makeDat();
  for (int i = 0; i < kFontGlyphs; i++)
    put32(emptySizes, i * 16 + 8, 0);
  const Case cases[] = {
      {"short", makeDat().substr(0, 1519), kImageW, kImageH, "ERROR: invalid DAT file format: f.dat"},
      {"long", makeDat() + "x", kImageW, kImageH, "ERROR: invalid DAT file format: f.dat"},
      {"empty", "", kImageW, kImageH, "ERROR: invalid DAT file format: f.dat"},
      {"zero glyphs", zero, kImageW, kImageH, "no glyphs"},
      {"zero widths", emptySizes, kImageW, kImageH, "no glyphs"},
      {"negative width", negative, kImageW, kImageH, "invalid glyph 37"},
      {"outside the image", outside, kImageW, kImageH, "invalid glyph 126"},
      {"height past INT_MAX", huge, kImageW, kImageH, "invalid glyph 39"},
      {"image without pixels", makeDat(), 0, kImageH, "no pixels"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CaptureCmdSystem cmd;
    FontInfo font;
    font.height = 99;
    EXPECT_FALSE(parseFontDat(reinterpret_cast<const uint8_t*>(c.dat.data()), c.dat.size(), c.w, c.h, &font, "f.dat"));
    EXPECT_NE(cmd.text.find(c.message), std::string::npos) << cmd.text;
    EXPECT_EQ(font.height, 99);
    EXPECT_EQ(font.glyphs[10].width, 0);
  }
}

TEST_F(FontTest, RegistrationFindsByNameCaseInsensitivelyAndStopsAtSixteen) {
  EXPECT_EQ(fonts.registerFont("FONTS"), 0);
  EXPECT_EQ(fonts.registerFont(""), -1);
  EXPECT_EQ(fonts.registerFont(nullptr), -1);
  for (int i = 1; i < 16; i++) {
    std::string name = "f" + std::to_string(i);
    fonts.addFont(name);
    EXPECT_EQ(fonts.registerFont(name.c_str()), i);
  }
  fonts.addFont("f16");
  EXPECT_EQ(fonts.registerFont("f16"), -1);
  EXPECT_EQ(fonts.fontCount(), 16);
  EXPECT_EQ(fonts.getFontHeight(0), 14);
  EXPECT_EQ(fonts.getFontHeight(16), 0);
  EXPECT_EQ(fonts.getFontHeight(-1), 0);
}

TEST_F(FontTest, LoadFailuresPrintTheirMessageAndFreeTheSlotForTheNextFont) {
  struct Case {
    const char* folder;
    const char* message;
  };
  fonts.folders["two"] = {"a.dat", "b.dat"};
  fonts.folders["nomat"] = {"x.dat"};
  fonts.folders["nofile"] = {"y.dat"};
  fonts.materials["nofile/y"] = true;
  fonts.folders["short"] = {"z.dat"};
  fonts.materials["short/z"] = true;
  fonts.files["short/z.dat"] = "abc";
  const Case cases[] = {
      {"missing", ""},
      {"two", "ERROR: invalid number of DAT files found for 'two' in '/"},
      {"nomat", "ERROR: failed to locate: nomat/x\n"},
      {"nofile", "ERROR: failed to open file\nnofile/y.dat\n"},
      {"short", "ERROR: invalid DAT file format: short/z.dat\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.folder);
    cmd.text.clear();
    EXPECT_EQ(fonts.registerFont(c.folder), -1);
    EXPECT_NE(cmd.text.find(c.message), std::string::npos) << cmd.text;
    EXPECT_EQ(c.message[0] == '\0', cmd.text.empty());
    EXPECT_EQ(fonts.fontCount(), 1);
  }
  // A registered font whose reload fails loses its material; the next font takes its slot.
  fonts.addFont("second");
  EXPECT_EQ(fonts.registerFont("second"), 1);
  fonts.files["second/font.dat"] = "bad";
  fonts.reloadFonts();
  EXPECT_EQ(fonts.reparsed, 1);
  EXPECT_EQ(fonts.font(1)->material, nullptr);
  fonts.addFont("third");
  EXPECT_EQ(fonts.registerFont("third"), 1);
  EXPECT_EQ(fonts.fontCount(), 2);
  EXPECT_STREQ(fonts.font(1)->name, "third");
}

TEST_F(FontTest, LayoutPlacesGlyphsByWidthLineBreakTabAndByte) {
  struct Expect {
    char c;
    float x, y;
  };
  const float h = 14;
  const float sp = static_cast<float>(widthOf(' '));
  struct Case {
    const char* text;
    std::vector<Expect> glyphs;
  };
  const float wa = static_cast<float>(widthOf('a')), wb = static_cast<float>(widthOf('b'));
  const Case cases[] = {
      {"ab", {{'a', 0, 0}, {'b', wa, 0}}},
      // Runs of line breaks count as one; empty lines vanish.
      {"a\n\nb", {{'a', 0, 0}, {'b', 0, h}}},
      {"\r\na\r\n", {{'a', 0, 0}}},
      // After one character the tab moves to column 3: two space widths.
      {"a\tb", {{'a', 0, 0}, {'b', wa + 2 * sp, 0}}},
      {"\tb", {{'b', 3 * sp, 0}}},
      {"ab\tb", {{'a', 0, 0}, {'b', wa, 0}, {'b', wa + wb + sp, 0}}},
      // Byte 200 and control characters draw spaces; 127 draws '~'.
      {"a\xc8"
       "b",
       {{'a', 0, 0}, {' ', wa, 0}, {'b', wa + sp, 0}}},
      {"\x7f", {{'~', 0, 0}}},
      // Escapes take no room; "^^" draws one '^' and the second starts an escape; a final '^' is dropped.
      {"^1a^", {{'a', 0, 0}}},
      {"^^2a", {{'^', 0, 0}, {'a', static_cast<float>(widthOf('^')), 0}}},
      {"\b", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    auto quads = draw(c.text);
    ASSERT_EQ(quads.size(), c.glyphs.size()) << charsOf(quads);
    for (size_t i = 0; i < quads.size(); i++) {
      EXPECT_EQ(quads[i].c, c.glyphs[i].c) << i;
      EXPECT_FLOAT_EQ(quads[i].x, c.glyphs[i].x) << i;
      EXPECT_FLOAT_EQ(quads[i].y, c.glyphs[i].y) << i;
      EXPECT_FLOAT_EQ(quads[i].w, static_cast<float>(widthOf(c.glyphs[i].c)));
    }
  }
}

TEST_F(FontTest, ScaleAndAlignmentMoveTheLineStart) {
  const float w = static_cast<float>(widthOf('a') + widthOf('b'));
  struct Case {
    int mode;
    int stored;
    float startX;
  };
  const Case cases[] = {{0, 0, 100}, {-4, 0, 100}, {1, 1, 100 - 2 * w}, {2, 2, 100 - w}, {5, 3, 100}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    EXPECT_EQ(fonts.setTextAlignment(c.mode), c.stored);
    auto quads = draw("ab\nab", 100, 50, 2);
    ASSERT_EQ(quads.size(), 4u);
    EXPECT_FLOAT_EQ(quads[0].x, c.startX);
    EXPECT_FLOAT_EQ(quads[0].y, 50);
    EXPECT_FLOAT_EQ(quads[0].h, 24);
    EXPECT_FLOAT_EQ(quads[2].x, c.startX);
    EXPECT_FLOAT_EQ(quads[2].y, 50 + 28);
  }
}

TEST_F(FontTest, ColourEscapesSetTheTableColourAndNineRestoresTheCallersColour) {
  render.setColor(0.5f, 0.25f, 1.0f, 1.0f);
  auto quads = draw("^1abc^9defg^4");
  ASSERT_EQ(charsOf(quads), "abcdefg");
  for (int i = 0; i < 3; i++)
    EXPECT_EQ(std::vector<int>(quads[i].color, quads[i].color + 4), (std::vector<int>{255, 0, 0, 255}));
  for (int i = 3; i < 7; i++)
    EXPECT_EQ(std::vector<int>(quads[i].color, quads[i].color + 4), (std::vector<int>{127, 63, 255, 255}));
  // The caller's colour is back after the call, whatever the text set last.
  EXPECT_FLOAT_EQ(render.color[0], 0.5f);
  EXPECT_FLOAT_EQ(render.color[2], 1.0f);
  EXPECT_EQ(fonts.getTextWidth(0, "^1abc^9defg", 11),
            widthOf('a') + widthOf('b') + widthOf('c') + widthOf('d') + widthOf('e') + widthOf('f') + widthOf('g'));
}

TEST_F(FontTest, TextWidthCountsGlyphsUpToTheLengthOrNul) {
  struct Case {
    const char* text;
    int length;
    int width;
  };
  const Case cases[] = {
      {"ab", 2, widthOf('a') + widthOf('b')}, {"ab", 1, widthOf('a')},       {"ab", 0, 0},
      {"ab", -1, 0},                          {"a\0b", 3, widthOf('a')},     {"^^", 2, widthOf('^')},
      {"a^", 2, widthOf('a')},                {"^7", 2, 0},                  {"\xc8", 1, widthOf(' ')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(fonts.getTextWidth(0, c.text, c.length), c.width);
  }
  EXPECT_EQ(fonts.getTextWidth(0, nullptr, 3), 0);
  EXPECT_EQ(fonts.getTextWidth(3, "ab", 2), 0);
}

TEST_F(FontTest, ClipRectangleCutsGlyphsAndTheirTextureCoordinates) {
  fonts.setTextClipRect(2, 0, 100, 100);
  fonts.enableTextClip(true);
  // "ab\n" then a second line below the clip rectangle: only the first line's cut glyphs stay.
  auto quads = draw("ab\nab", 0, 90);
  ASSERT_EQ(quads.size(), 2u);
  EXPECT_FLOAT_EQ(quads[0].x, 2);
  EXPECT_FLOAT_EQ(quads[0].h, 10);  // 90..100
  const FontGlyph& a = fonts.font(0)->glyphs['a' - 32];
  const DrawVertex& v0 = render.draws[0].verts[0];
  // Two of the glyph's width cut on the left: s moves by that share of the glyph's span.
  float expected = a.s1 + (a.s2 - a.s1) * 2.0f / static_cast<float>(a.width);
  EXPECT_NEAR(v0.st[0], expected, 1e-6);
  EXPECT_EQ(render.draws[0].verts.size(), 8u);

  Plane* planes = nullptr;
  EXPECT_EQ(fonts.getTextClipPlanes(&planes), 4);
  fonts.setTextClipRect(0, 0, 700, -5);
  EXPECT_FLOAT_EQ(planes[0].d, 640);
  EXPECT_FLOAT_EQ(planes[1].d, 0);
  EXPECT_FLOAT_EQ(planes[2].d, 0);
  EXPECT_FLOAT_EQ(planes[3].d, 0);
  // Everything is outside an empty rectangle.
  EXPECT_TRUE(draw("ab").empty());
  fonts.enableTextClip(false);
  EXPECT_EQ(draw("ab").size(), 2u);
}

TEST_F(FontTest, GlyphsGoInBatchesOf255QuadsWithTwoTrianglesEach) {
  std::string text(300, 'x');
  auto quads = draw(text.c_str());
  ASSERT_EQ(render.draws.size(), 2u);
  EXPECT_EQ(render.draws[0].verts.size(), 1020u);
  EXPECT_EQ(render.draws[1].verts.size(), 180u);
  EXPECT_EQ(render.draws[0].indexes.size(), 1530u);
  EXPECT_EQ(render.draws[0].material, fonts.font(0)->material);
  const std::vector<int> first(render.draws[1].indexes.begin(), render.draws[1].indexes.begin() + 12);
  EXPECT_EQ(first, (std::vector<int>{0, 1, 3, 3, 1, 2, 4, 5, 7, 7, 5, 6}));
  EXPECT_EQ(quads.size(), 300u);
  EXPECT_FLOAT_EQ(quads[299].x, 299.0f * static_cast<float>(widthOf('x')));
}

TEST_F(FontTest, BadArgumentsDrawNothingAndLongTextsAreCutNotOverrun) {
  fonts.drawText(0, 0, 0, 1, nullptr, 5);
  fonts.drawText(0, 0, 0, 1, "ab", 0);
  fonts.drawText(1, 0, 0, 1, "ab", 2);
  fonts.drawText(-1, 0, 0, 1, "ab", 2);
  EXPECT_TRUE(render.draws.empty());
  // More than the copy holds, with a length that claims even more: drawn up to the copy's size.
  std::string text(10000, 'a');
  fonts.drawText(0, 0, 0, 1, text.c_str(), 1 << 30);
  size_t glyphs = 0;
  for (const auto& d : render.draws)
    glyphs += d.verts.size() / 4;
  EXPECT_EQ(glyphs, static_cast<size_t>(FontRenderer::kMaxTextCopy - 1));
  // At most 128 lines.
  std::string many;
  for (int i = 0; i < 200; i++)
    many += "a\n";
  EXPECT_EQ(draw(many.c_str()).size(), 128u);
}

TEST_F(FontTest, WorldTextRunsAlongTheNegatedAxisRows) {
  Mat3 axis(Vec3(1, 0, 0), Vec3(0, -1, 0), Vec3(0, 0, -1));  // right = +y, down = +z
  render.draws.clear();
  fonts.drawText3D(axis, Vec3(5, 0, 0), 1, "a\tb\nc");
  ASSERT_EQ(render.draws.size(), 1u);
  const auto& v = render.draws[0].verts;
  ASSERT_EQ(v.size(), 12u);
  EXPECT_FLOAT_EQ(v[4].xyz[1], static_cast<float>(widthOf('a')));  // the tab is skipped
  EXPECT_FLOAT_EQ(v[8].xyz[2], 14);                                 // second line one font height down
  EXPECT_FLOAT_EQ(v[1].xyz[2], 12);                                 // glyph height along "down"
  EXPECT_FLOAT_EQ(v[0].xyz[0], 5);
}

}  // namespace
