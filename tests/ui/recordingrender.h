// A render system double for the interface tests: records the text drawn, with the colour,
// alignment and clip rectangle in force, and answers font heights.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "lib/interface/renderinterface.h"

#include "tests/support/nullrender.h"

// A 2D triangle batch: its vertex colours and the 2D colour in force.
struct TriangleCall {
  Material* material;
  int numVerts;
  uint8_t vertexColor[4];
  float color[4];
};

struct TextCall {
  std::string text;
  float x, y, scale;
  int font, align;
  float color[4];
  float clip[4];
};

class RecordingRender : public NullRenderSystem {
 public:
  RecordingRender() { g_renderSystem = this; }
  ~RecordingRender() override { g_renderSystem = nullptr; }
  int registerFont(const char*) override { return 3; }
  int getFontHeight(int font) override { return font == 3 ? bigFontHeight : fontHeight; }
  void setColor(float r, float g, float b, float a) override {
    color_[0] = r;
    color_[1] = g;
    color_[2] = b;
    color_[3] = a;
  }
  void setColorV(const float* c) override { setColor(c[0], c[1], c[2], c[3]); }
  int setTextAlignment(int mode) override {
    const int old = align_;
    align_ = mode;
    return old;
  }
  void setTextClipRect(float x, float y, float w, float h) override {
    clip_[0] = x;
    clip_[1] = y;
    clip_[2] = w;
    clip_[3] = h;
  }
  void drawText640(int font, float x, float y, float scale, const char* text, int length) override {
    TextCall call{std::string(text, size_t(length)), x, y, scale, font, align_, {}, {}};
    for (int i = 0; i < 4; ++i) {
      call.color[i] = color_[i];
      call.clip[i] = clip_[i];
    }
    texts.push_back(call);
  }
  void getColor(float* out) override {
    for (int i = 0; i < 4; ++i)
      out[i] = color_[i];
  }
  void drawTriangles2D(const DrawVertex* verts, const int*, int numVerts, int, Material* material, int, int,
                       int, int, int) override {
    TriangleCall call{material, numVerts, {}, {}};
    for (int i = 0; i < 4; ++i) {
      call.vertexColor[i] = numVerts > 0 ? verts[0].color[i] : 0;
      call.color[i] = color_[i];
    }
    triangles.push_back(call);
  }
  void drawRectOutline(float x, float y, float w, float h, float width) override {
    outlines.push_back({x, y, w, h, width});
  }
  void clear() {
    texts.clear();
    triangles.clear();
    outlines.clear();
  }

  std::vector<std::vector<float>> outlines;  // x, y, w, h, line width

  std::vector<TextCall> texts;
  std::vector<TriangleCall> triangles;
  int fontHeight = 0;      // of font 0 (and any font but 3)
  int bigFontHeight = 20;  // of the font every registration returns

 private:
  float color_[4] = {1, 1, 1, 1};
  float clip_[4] = {0, 0, 640, 480};
  int align_ = 0;
};
