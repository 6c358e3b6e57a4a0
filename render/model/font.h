// Bitmap fonts: a material whose first image holds the 95 printable ASCII glyphs and a 1520-byte
// ".dat" file of glyph rectangles. FontRenderer keeps the 16 font slots and the text state of the
// render manager, lays text out (line breaks, tabs, '^' colour escapes, alignment, clip rectangle)
// and hands batches of glyph quads to the render system's drawTriangles2D. Main thread only.
#pragma once

#include <cstddef>
#include <cstdint>

#include "lib/interface/renderinterface.h"
#include "lib/vector.h"

class Material;
class RenderSystem;
class IOData;
class Mat3;

struct FontGlyph {
  float s1 = 0.0f;  // left: x / W
  float t1 = 0.0f;  // bottom: (y + h - 0.5) / H
  float s2 = 0.0f;  // right: (x + w - 0.5) / W
  float t2 = 0.0f;  // top: (y + 1) / H
  int width = 0;
  int height = 0;
};

constexpr int kFontGlyphs = 95;  // characters 32 to 126
constexpr int kFontDatSize = kFontGlyphs * 16;
constexpr int kMaxFonts = 16;

struct FontInfo {
  FontGlyph glyphs[kFontGlyphs];
  Material* material = nullptr;  // null while the slot is free or its load failed
  int height = 0;                // the largest glyph height
  char name[256] = {};
};

// Fills the glyphs and height of `font` from a ".dat" file's bytes for an image of W x H pixels.
// Refuses (false, with an "ERROR: " message naming `fileName`) a size other than 1520 bytes, an
// image without pixels, a negative field, a rectangle outside the image, or a file without a
// single glyph of non-zero size; `font` is then left unchanged.
bool parseFontDat(const uint8_t* data, size_t size, int imageWidth, int imageHeight, FontInfo* font,
                  const char* fileName);

// The glyph index of a character: bytes up to 32 (as signed: all of 128-255 too) draw as a space,
// 126 and above as '~'.
inline int fontGlyphIndex(char c) {
  int v = static_cast<signed char>(c);
  if (v <= 32)
    return 0;
  if (v >= 126)
    return kFontGlyphs - 1;
  return v - 32;
}

class FontRenderer {
 public:
  static constexpr int kBatchVertices = 1024;
  static constexpr int kMaxLines = 128;
  static constexpr int kMaxTextCopy = 4096;  // longer texts are drawn up to this many characters

  // `draw` receives colours and glyph batches; it may be null (nothing is drawn).
  explicit FontRenderer(RenderSystem* draw);
  virtual ~FontRenderer() = default;
  FontRenderer(const FontRenderer&) = delete;
  FontRenderer& operator=(const FontRenderer&) = delete;

  int registerFont(const char* name);
  void reloadFonts();
  // Lays out and draws in the current projection.
  void drawText(int font, float x, float y, float scale, const char* text, int length);
  void setTextClipRect(float x, float y, float w, float h);
  void enableTextClip(bool enable) { clipEnabled_ = enable; }
  int getTextClipPlanes(Plane** out);
  int setTextAlignment(int mode);
  int getFontHeight(int font) const;
  int getTextWidth(int font, const char* text, int length) const;
  // Debug text in the world along the axis's rows 1 and 2 (negated), with font 0.
  void drawText3D(const Mat3& axis, const Vec3& origin, float scale, const char* text);

  int fontCount() const { return numFonts_; }
  const FontInfo* font(int index) const {
    return index >= 0 && index < numFonts_ ? &fonts_[index] : nullptr;
  }
  int alignment() const { return alignment_; }
  // Releases every font slot (the materials belong to the declaration manager).
  void clear();

 protected:
  // Where the fonts come from; tests replace these.
  // The names of the ".dat" files in a folder, each zero-terminated; the count.
  virtual int listDatFiles(const char* folder, char* buffer, int size);
  virtual Material* findFontMaterial(const char* name);
  // The pixel size of the material's first image (loading it); false without one.
  virtual bool fontImageSize(Material* material, int* width, int* height);
  virtual IOData* loadFontFile(const char* name);
  virtual void freeFontFile(IOData* data);
  virtual void prepareMaterial(Material* material);
  virtual void reparseMaterial(Material* material);

 private:
  bool loadFontData(int slot);
  void queueGlyph(const FontGlyph& glyph, float x, float y, float scale);
  void queueGlyph3D(const FontGlyph& glyph, const Vec3& right, const Vec3& down, const Vec3& p, float scale);
  void flushGlyphs();
  void currentColor(uint8_t out[4]) const;
  // Splits a copy of the text at line breaks (runs count as one); the line count.
  int splitTextLines(const char* text, int length, char* copy, const char** lines) const;

  RenderSystem* draw_;
  FontInfo fonts_[kMaxFonts];
  int numFonts_ = 0;
  int currentFont_ = 0;
  int alignment_ = 0;
  Plane clipPlanes_[4];
  bool clipEnabled_ = false;
  DrawVertex batch_[kBatchVertices];
  int batchCount_ = 0;
};
