// Fuzzes the font ".dat" reader and the text layout over what it accepts. Input: two bytes choose
// the glyph image's size, two the clip rectangle and alignment, then the ".dat" bytes (exactly
// 1520 unless the size byte asks for a cut), then a text to lay out. Every accepted font must
// give finite texture coordinates inside the image, and every batch must hold whole quads.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "lib/interface/iosystem.h"
#include "lib/interface/rendersystem.h"
#include "render/model/font.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/support/nullrender.h"

namespace {

fuzz::QuietCmdSystem g_quiet;

class CheckRender : public NullRenderSystem {
 public:
  void getColor(float* out) override { std::memcpy(out, color, sizeof(color)); }
  void setColor(float r, float g, float b, float a) override {
    color[0] = r;
    color[1] = g;
    color[2] = b;
    color[3] = a;
  }
  void setColorV(const float* c) override { std::memcpy(color, c, sizeof(color)); }
  void drawTriangles2D(const DrawVertex* v, const int* idx, int nv, int ni, Material*, int, int, int, int,
                       int) override {
    if (nv <= 0 || nv % 4 != 0 || ni != nv / 4 * 6 || nv > FontRenderer::kBatchVertices)
      std::abort();
    for (int i = 0; i < ni; i++)
      if (idx[i] < 0 || idx[i] >= nv)
        std::abort();
    for (int i = 0; i < nv; i++)
      for (float f : {v[i].xyz[0], v[i].xyz[1], v[i].st[0], v[i].st[1]})
        if (!std::isfinite(f))
          std::abort();
  }
  float color[4] = {1, 1, 1, 1};
};

class FuzzFonts : public FontRenderer {
 public:
  FuzzFonts(RenderSystem* r, std::string dat, int w, int h) : FontRenderer(r), dat_(std::move(dat)), w_(w), h_(h) {}

 protected:
  int listDatFiles(const char*, char* buffer, int size) override {
    std::strncpy(buffer, "f.dat", static_cast<size_t>(size));
    return 1;
  }
  Material* findFontMaterial(const char*) override { return reinterpret_cast<Material*>(&w_); }
  bool fontImageSize(Material*, int* w, int* h) override {
    *w = w_;
    *h = h_;
    return true;
  }
  IOData* loadFontFile(const char*) override {
    IOData* d = new IOData;
    d->buffer = new char[dat_.size() + 1];
    std::memcpy(d->buffer, dat_.data(), dat_.size());
    d->length = static_cast<int>(dat_.size());
    return d;
  }
  void freeFontFile(IOData* d) override { delete d; }
  void prepareMaterial(Material*) override {}
  void reparseMaterial(Material*) override {}

 private:
  std::string dat_;
  int w_, h_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  g_cmdSystem = &g_quiet;
  if (size < 4)
    return 0;
  const int sizes[] = {0, 1, 16, 64, 256, 1024, 4096, 65536};
  int w = sizes[data[0] & 7], h = sizes[(data[0] >> 3) & 7];
  bool cut = (data[0] & 0x40) != 0;
  size_t datSize = cut ? data[1] * 8u : static_cast<size_t>(kFontDatSize);
  int clip = data[2];
  int align = data[3] & 3;
  data += 4;
  size -= 4;
  if (datSize > size)
    datSize = size;
  std::string dat(reinterpret_cast<const char*>(data), datSize);
  std::string text(reinterpret_cast<const char*>(data + datSize), size - datSize);

  FontInfo info;
  bool parsed = parseFontDat(reinterpret_cast<const uint8_t*>(dat.data()), dat.size(), w, h, &info, "f.dat");
  if (parsed) {
    int tallest = 0;
    for (const FontGlyph& g : info.glyphs) {
      if (g.width < 0 || g.height < 0 || g.width > w || g.height > h || !std::isfinite(g.s1) ||
          !std::isfinite(g.t1) || g.s1 < 0.0f || g.s1 > 1.0f || g.t2 < 0.0f || g.t2 > 1.0f + 1.0f / static_cast<float>(h))
        std::abort();
      tallest = g.height > tallest ? g.height : tallest;
    }
    if (tallest != info.height || tallest == 0)
      std::abort();
  }

  CheckRender render;
  FuzzFonts fonts(&render, dat, w, h);
  int index = fonts.registerFont("fonts");
  if ((index == 0) != parsed)
    std::abort();
  fonts.setTextAlignment(align);
  fonts.setTextClipRect(static_cast<float>(clip & 15) * 40.0f, static_cast<float>(clip >> 4) * 30.0f, 200, 100);
  fonts.enableTextClip((clip & 1) != 0);
  fonts.drawText(0, 10, 10, 1.0f, text.c_str(), static_cast<int>(text.size()));
  if (fonts.getTextWidth(0, text.c_str(), static_cast<int>(text.size())) < 0)
    std::abort();
  return 0;
}
