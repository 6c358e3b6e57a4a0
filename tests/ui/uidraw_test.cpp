// Drawing in the 640 x 480 screen, recorded by a render system double: where each window's text
// lands (relative rectangles, alignment, scale), what hidden windows and windows without a
// rectangle draw (nothing), and a text that names a variable.
#include <string>
#include <vector>

#include "lib/interface/rendersystem.h"
#include "tests/support/nullrender.h"
#include "tests/ui/uitest.h"

namespace {

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
  std::vector<TextCall> texts;

 private:
  float color_[4] = {1, 1, 1, 1};
  float clip_[4] = {0, 0, 640, 480};
  int align_ = 0;
};

}  // namespace

TEST_F(UITest, WindowsDrawTheirTextInsideTheirParents) {
  RecordingRender render;
  UserInterfaceLocal* gui = load(
      "windowDef desktop {\n"
      "  rect 0 0 640 480\n"
      "  windowDef parent {\n"
      "    rect 100 100 300 200\n"
      "    windowDef child {\n"
      "      rect 10 10 100 20\n"
      "      text \"left\"\n"
      "      textalignx 3\n"
      "      textaligny 4\n"
      "      textscale 0.5\n"
      "      forecolor 1 0 0 1\n"
      "      font fonts/any\n"
      "    }\n"
      "    windowDef centred {\n"
      "      rect 0 50 200 20\n"
      "      text \"mid\"\n"
      "      textalign 2\n"
      "    }\n"
      "    windowDef answer {\n"
      "      rect 0 0 10 10\n"
      "      int score 42\n"
      "      text score\n"
      "    }\n"
      "  }\n"
      "  windowDef hidden {\n    rect 0 0 10 10\n    visible 0\n    text \"no\"\n"
      "    windowDef under {\n      rect 0 0 5 5\n      text \"no either\"\n    }\n  }\n"
      "  windowDef clear {\n    rect 0 0 10 10\n    text \"invisible ink\"\n    forecolor 1 1 1 0\n  }\n"
      "  windowDef norect {\n    text \"gone\"\n  }\n"
      "}\n");
  ASSERT_NE(gui, nullptr) << cmd.output;
  gui->getDesktop()->findChild("norect")->deleteVar("rect");
  gui->redraw(0);
  ASSERT_EQ(render.texts.size(), 3u);
  const TextCall& left = render.texts[0];
  EXPECT_EQ(left.text, "left");
  EXPECT_FLOAT_EQ(left.x, 113.0f) << "origin 100 + rect 10 + textalignx 3";
  EXPECT_FLOAT_EQ(left.y, 114.0f);
  EXPECT_FLOAT_EQ(left.scale, 0.5f);
  EXPECT_EQ(left.font, 3) << "the registered font's index";
  EXPECT_FLOAT_EQ(left.color[1], 0.0f);
  EXPECT_FLOAT_EQ(left.clip[0], 110.0f);
  EXPECT_FLOAT_EQ(left.clip[2], 100.0f);
  const TextCall& mid = render.texts[1];
  EXPECT_FLOAT_EQ(mid.x, 200.0f) << "centred: half the width added";
  EXPECT_EQ(mid.align, 2);
  EXPECT_EQ(render.texts[2].text, "42") << "a text naming a variable shows that variable";
}
