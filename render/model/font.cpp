// Bitmap font slots, the ".dat" glyph reader and text layout into batches of glyph quads.
#include "render/model/font.h"

#include <cstdio>
#include <cstring>
#include <strings.h>

#include "lib/interface/cmdsystem.h"
#include "lib/interface/iosystem.h"
#include "lib/interface/rendersystem.h"
#include "lib/interface/texmanager.h"
#include "lib/matrix.h"
#include "lib/polygon.h"
#include "platform/fs.h"
#include "render/material/material.h"

namespace {

const float kEscapeColors[8][4] = {
    {0, 0, 0, 1}, {1, 0, 0, 1}, {0, 1, 0, 1}, {1, 1, 0, 1},
    {0, 0, 1, 1}, {0, 1, 1, 1}, {1, 0, 1, 1}, {1, 1, 1, 1},
};

int32_t readInt32(const uint8_t* p) {
  return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                              static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

bool parseFontDat(const uint8_t* data, size_t size, int imageWidth, int imageHeight, FontInfo* font,
                  const char* fileName) {
  if (!fileName)
    fileName = "";
  if (!data || size != static_cast<size_t>(kFontDatSize) || !font) {
    cmdPrintf("ERROR: invalid DAT file format: %s\n", fileName);
    return false;
  }
  // Texture coordinates divide by the image size.
  if (imageWidth <= 0 || imageHeight <= 0) {
    cmdPrintf("ERROR: font image has no pixels: %s\n", fileName);
    return false;
  }
  FontGlyph glyphs[kFontGlyphs];
  int height = 0;
  int visible = 0;
  for (int i = 0; i < kFontGlyphs; i++) {
    const uint8_t* r = data + i * 16;
    int32_t x = readInt32(r), y = readInt32(r + 4), w = readInt32(r + 8), h = readInt32(r + 12);
    // Rectangles must lie in the image (int64 sums: fields may be near INT32_MAX).
    if (x < 0 || y < 0 || w < 0 || h < 0 || static_cast<int64_t>(x) + w > imageWidth ||
        static_cast<int64_t>(y) + h > imageHeight) {
      cmdPrintf("ERROR: invalid glyph %d (%d %d %d %d) in DAT file: %s\n", i + 32, x, y, w, h, fileName);
      return false;
    }
    FontGlyph& g = glyphs[i];
    g.width = w;
    g.height = h;
    g.s1 = static_cast<float>(x) / static_cast<float>(imageWidth);
    g.t1 = (static_cast<float>(y) + static_cast<float>(h) - 0.5f) / static_cast<float>(imageHeight);
    g.s2 = (static_cast<float>(x) + static_cast<float>(w) - 0.5f) / static_cast<float>(imageWidth);
    g.t2 = (static_cast<float>(y) + 1.0f) / static_cast<float>(imageHeight);
    if (h > height)
      height = h;
    if (w > 0 && h > 0)
      visible++;
  }
  // A font of empty glyphs has height 0: lines would never advance.
  if (visible == 0) {
    cmdPrintf("ERROR: DAT file has no glyphs: %s\n", fileName);
    return false;
  }
  std::memcpy(font->glyphs, glyphs, sizeof(glyphs));
  font->height = height;
  return true;
}

FontRenderer::FontRenderer(RenderSystem* draw) : draw_(draw) {
  std::memset(batch_, 0, sizeof(batch_));
  setTextClipRect(0, 0, 640, 480);
}

void FontRenderer::clear() {
  for (FontInfo& f : fonts_)
    f = FontInfo();
  numFonts_ = 0;
  currentFont_ = 0;
  batchCount_ = 0;
}

int FontRenderer::listDatFiles(const char* folder, char* buffer, int size) {
  return g_ioSystem ? g_ioSystem->getFileList(folder, ".dat", buffer, size, false) : 0;
}

Material* FontRenderer::findFontMaterial(const char* name) { return findMaterial(name, false); }

bool FontRenderer::fontImageSize(Material* material, int* width, int* height) {
  ImageInterface* image = material ? material->getStageImage(0, 0) : nullptr;
  if (!image)
    return false;
  image->load();
  *width = image->info.width;
  *height = image->info.height;
  return true;
}

IOData* FontRenderer::loadFontFile(const char* name) { return g_ioSystem ? g_ioSystem->loadFile(name) : nullptr; }

void FontRenderer::freeFontFile(IOData* data) {
  if (g_ioSystem && data)
    g_ioSystem->freeFile(data);
}

void FontRenderer::prepareMaterial(Material* material) { material->ensureLoaded(); }

void FontRenderer::reparseMaterial(Material* material) {
  material->freeData();
  material->ensureLoaded();
}

int FontRenderer::registerFont(const char* name) {
  if (!name || !name[0])
    return -1;
  int slot = -1;
  for (int i = 0; i < numFonts_; i++) {
    if (strcasecmp(fonts_[i].name, name) == 0)
      return i;
    if (!fonts_[i].material)
      slot = i;
  }
  const bool appended = slot < 0;
  if (appended)
    slot = numFonts_;
  if (slot >= kMaxFonts)
    return -1;
  FontInfo& f = fonts_[slot];
  std::strncpy(f.name, name, sizeof(f.name) - 1);
  f.name[sizeof(f.name) - 1] = '\0';
  if (g_ioSystem)
    g_ioSystem->fixSlashes(f.name);
  if (!loadFontData(slot))
    return -1;
  if (appended)
    numFonts_++;
  return slot;
}

bool FontRenderer::loadFontData(int slot) {
  FontInfo& f = fonts_[slot];
  char list[4096];
  int count = listDatFiles(f.name, list, sizeof(list));
  if (count <= 0)
    return false;
  if (count > 1) {
    char cwd[1024];
    if (!fsGetCwd(cwd, sizeof(cwd)))
      cwd[0] = '\0';
    cmdPrintf("ERROR: invalid number of DAT files found for '%s' in '%s'\n", f.name, cwd);
    return false;
  }
  // The listed name without its extension (and without a folder, should the list carry one).
  list[sizeof(list) - 1] = '\0';
  const char* base = std::strrchr(list, '/');
  base = base ? base + 1 : list;
  char materialName[512];
  std::snprintf(materialName, sizeof(materialName), "%s/%.250s", f.name, base);
  if (char* dot = std::strrchr(materialName, '.'); dot && !std::strchr(dot, '/'))
    *dot = '\0';
  Material* material = findFontMaterial(materialName);
  if (!material) {
    cmdPrintf("ERROR: failed to locate: %s\n", materialName);
    f.material = nullptr;
    return false;
  }
  int width = 0, height = 0;
  if (!fontImageSize(material, &width, &height)) {
    cmdPrintf("ERROR: font material has no image: %s\n", materialName);
    f.material = nullptr;
    return false;
  }
  char fileName[520];
  std::snprintf(fileName, sizeof(fileName), "%s.dat", materialName);
  IOData* data = loadFontFile(fileName);
  if (!data || !data->buffer) {
    cmdPrintf("ERROR: failed to open file\n%s\n", fileName);
    freeFontFile(data);
    f.material = nullptr;
    return false;
  }
  bool ok = parseFontDat(reinterpret_cast<const uint8_t*>(data->buffer), static_cast<size_t>(data->length), width,
                         height, &f, fileName);
  freeFontFile(data);
  f.material = ok ? material : nullptr;
  return ok;
}

void FontRenderer::reloadFonts() {
  // A font that fails to load keeps no material: its slot is reused by the next registration.
  for (int i = 0; i < numFonts_; i++)
    if (loadFontData(i))
      reparseMaterial(fonts_[i].material);
}

void FontRenderer::setTextClipRect(float x, float y, float w, float h) {
  w = w < 0.0f ? 0.0f : (w > 640.0f ? 640.0f : w);
  h = h < 0.0f ? 0.0f : (h > 480.0f ? 480.0f : h);
  clipPlanes_[0] = Plane(1, 0, 0, x + w);
  clipPlanes_[1] = Plane(-1, 0, 0, -x);
  clipPlanes_[2] = Plane(0, 1, 0, y + h);
  clipPlanes_[3] = Plane(0, -1, 0, -y);
}

int FontRenderer::getTextClipPlanes(Plane** out) {
  if (out)
    *out = clipPlanes_;
  return 4;
}

int FontRenderer::setTextAlignment(int mode) {
  alignment_ = mode <= 0 ? 0 : (mode > 2 ? 3 : mode);
  return alignment_;
}

int FontRenderer::getFontHeight(int font) const {
  return font >= 0 && font < numFonts_ ? fonts_[font].height : 0;
}

int FontRenderer::getTextWidth(int font, const char* text, int length) const {
  if (!text || length <= 0 || font < 0 || font >= numFonts_)
    return 0;
  const FontInfo& f = fonts_[font];
  int width = 0;
  for (int i = 0; i < length && text[i]; i++) {
    if (text[i] == '^') {
      if (i + 1 >= length || !text[i + 1])
        break;
      if (text[i + 1] != '^') {
        i++;
        continue;
      }
    }
    width += f.glyphs[fontGlyphIndex(text[i])].width;
  }
  return width;
}

int FontRenderer::splitTextLines(const char* text, int length, char* copy, const char** lines) const {
  int n = 0;
  while (n < length && n < kMaxTextCopy - 1 && text[n]) {
    copy[n] = text[n];
    n++;
  }
  copy[n] = '\0';
  int count = 0;
  char* p = copy;
  while (*p && count < kMaxLines) {
    while (*p == '\n' || *p == '\r')
      *p++ = '\0';
    if (!*p)
      break;
    lines[count++] = p;
    while (*p && *p != '\n' && *p != '\r')
      p++;
  }
  // The last line kept ends at its own break, not at the end of the text.
  *p = '\0';
  return count;
}

void FontRenderer::currentColor(uint8_t out[4]) const {
  float c[4] = {1, 1, 1, 1};
  if (draw_)
    draw_->getColor(c);
  for (int i = 0; i < 4; i++) {
    float v = c[i] * 255.0f;
    out[i] = static_cast<uint8_t>(v >= 255.0f ? 255 : (v > 0.0f ? static_cast<int>(v) : 0));
  }
}

void FontRenderer::drawText(int font, float x, float y, float scale, const char* text, int length) {
  if (!text || length < 1 || font < 0 || font >= numFonts_)
    return;
  currentFont_ = font;
  batchCount_ = 0;
  const FontInfo& f = fonts_[font];
  char copy[kMaxTextCopy];
  const char* lines[kMaxLines];
  int numLines = splitTextLines(text, length, copy, lines);
  float saved[4] = {1, 1, 1, 1};
  if (draw_)
    draw_->getColor(saved);
  for (int l = 0; l < numLines; l++) {
    const char* line = lines[l];
    int len = static_cast<int>(std::strlen(line));
    float w = static_cast<float>(getTextWidth(font, line, len));
    float pen = x;
    if (alignment_ == 1)
      pen = x - w * scale;
    else if (alignment_ == 2)
      pen = x - w * scale * 0.5f;
    float lineY = y + static_cast<float>(l) * static_cast<float>(f.height) * scale;
    for (int j = 0; j < len; j++) {
      char c = line[j];
      if (c == '^' && line[j + 1] != '^') {
        if (!line[j + 1])
          break;
        char e = line[++j];
        if (draw_) {
          if (e == '9')
            draw_->setColorV(saved);
          else
            draw_->setColor(kEscapeColors[e & 7][0], kEscapeColors[e & 7][1], kEscapeColors[e & 7][2],
                            kEscapeColors[e & 7][3]);
        }
        continue;
      }
      if (c == '\r' || c == '\b' || c == '\n')
        continue;
      if (c == '\t') {
        pen += static_cast<float>(((j + 3) / 3) * 3 - j) * static_cast<float>(f.glyphs[0].width) * scale;
        continue;
      }
      const FontGlyph& g = f.glyphs[fontGlyphIndex(c)];
      queueGlyph(g, pen, lineY, scale);
      pen += static_cast<float>(g.width) * scale;
    }
  }
  flushGlyphs();
  if (draw_)
    draw_->setColorV(saved);
}

void FontRenderer::queueGlyph(const FontGlyph& glyph, float x, float y, float scale) {
  if (batchCount_ > kBatchVertices - 5)
    flushGlyphs();
  if (!fonts_[currentFont_].material || batchCount_ > kBatchVertices - 4)
    return;
  float w = static_cast<float>(glyph.width) * scale;
  float h = static_cast<float>(glyph.height) * scale;
  uint8_t color[4];
  currentColor(color);
  float pts[8 * 5] = {
      x,     y,     0, glyph.s1, glyph.t2,  //
      x,     y + h, 0, glyph.s1, glyph.t1,  //
      x + w, y + h, 0, glyph.s2, glyph.t1,  //
      x + w, y,     0, glyph.s2, glyph.t2,
  };
  int count = 4;
  if (clipEnabled_) {
    count = clipPointListByPlanes(clipPlanes_, 4, pts, 4, 8);
    // The flush draws every four vertices as one quad: any other count would shear the batch.
    if (count != 4)
      return;
  }
  for (int i = 0; i < count; i++) {
    DrawVertex& v = batch_[batchCount_++];
    std::memset(&v, 0, sizeof(v));
    v.xyz[0] = pts[i * 5];
    v.xyz[1] = pts[i * 5 + 1];
    v.xyz[2] = pts[i * 5 + 2];
    v.st[0] = pts[i * 5 + 3];
    v.st[1] = pts[i * 5 + 4];
    std::memcpy(v.color, color, 4);
  }
}

void FontRenderer::queueGlyph3D(const FontGlyph& glyph, const Vec3& right, const Vec3& down, const Vec3& p,
                                float scale) {
  if (batchCount_ > kBatchVertices - 5)
    flushGlyphs();
  if (!fonts_[currentFont_].material || batchCount_ > kBatchVertices - 4)
    return;
  float w = static_cast<float>(glyph.width) * scale;
  float h = static_cast<float>(glyph.height) * scale;
  uint8_t color[4];
  currentColor(color);
  const Vec3 corners[4] = {p, p + down * h, p + down * h + right * w, p + right * w};
  const float st[4][2] = {{glyph.s1, glyph.t2}, {glyph.s1, glyph.t1}, {glyph.s2, glyph.t1}, {glyph.s2, glyph.t2}};
  for (int i = 0; i < 4; i++) {
    DrawVertex& v = batch_[batchCount_++];
    std::memset(&v, 0, sizeof(v));
    v.xyz[0] = corners[i].x;
    v.xyz[1] = corners[i].y;
    v.xyz[2] = corners[i].z;
    v.st[0] = st[i][0];
    v.st[1] = st[i][1];
    std::memcpy(v.color, color, 4);
  }
}

void FontRenderer::flushGlyphs() {
  Material* material = fonts_[currentFont_].material;
  if (batchCount_ == 0 || !material)
    return;
  int indexes[kBatchVertices / 4 * 6];
  int numIndexes = 0;
  for (int b = 0; b + 3 < batchCount_; b += 4) {
    const int quad[6] = {b, b + 1, b + 3, b + 3, b + 1, b + 2};
    std::memcpy(indexes + numIndexes, quad, sizeof(quad));
    numIndexes += 6;
  }
  prepareMaterial(material);
  if (draw_) {
    // The glyphs carry their colours (escapes change it mid-text): the 2D colour must not tint them again.
    float saved[4];
    draw_->getColor(saved);
    draw_->setColor(1.0f, 1.0f, 1.0f, 1.0f);
    draw_->drawTriangles2D(batch_, indexes, batchCount_, numIndexes, material, 1, 0, 0, 640, 480);
    draw_->setColorV(saved);
  }
  batchCount_ = 0;
}

void FontRenderer::drawText3D(const Mat3& axis, const Vec3& origin, float scale, const char* text) {
  if (!text || !text[0] || numFonts_ == 0)
    return;
  currentFont_ = 0;
  batchCount_ = 0;
  const FontInfo& f = fonts_[0];
  char copy[kMaxTextCopy];
  const char* lines[kMaxLines];
  int numLines = splitTextLines(text, kMaxTextCopy, copy, lines);
  const Vec3 right = -axis[1];
  const Vec3 down = -axis[2];
  for (int l = 0; l < numLines; l++) {
    const char* line = lines[l];
    int len = static_cast<int>(std::strlen(line));
    float w = static_cast<float>(getTextWidth(0, line, len));
    float a = alignment_ == 1 ? -w * scale : (alignment_ == 2 ? -w * scale * 0.5f : 0.0f);
    Vec3 pen = origin + right * a + down * (static_cast<float>(l) * static_cast<float>(f.height) * scale);
    for (int j = 0; j < len; j++) {
      char c = line[j];
      if (c == '\r' || c == '\n' || c == '\b' || c == '\t')
        continue;
      const FontGlyph& g = f.glyphs[fontGlyphIndex(c)];
      queueGlyph3D(g, right, down, pen, scale);
      pen = pen + right * (static_cast<float>(g.width) * scale);
    }
  }
  flushGlyphs();
}
