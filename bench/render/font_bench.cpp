// Text drawing on llvmpipe (SDL's offscreen driver): a full console page (30 lines of 78
// characters, colour escapes on every other line) drawn with RenderManager::drawText640 in the
// sample font, finished on the GPU each iteration; reported as glyphs per second. Run with
// --benchmark_repetitions=N --benchmark_enable_random_interleaving=true and compare medians.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>
#include <vector>

#include "bench/support/glbench.h"
#include "platform/gl.h"
#include "render/device/glextensions.h"
#include "render/device/renderopengl.h"
#include "render/scene/rendermanager.h"
#include "system/declmanager.h"

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr int kLines = 30;
constexpr int kColumns = 78;

struct Context {
  RenderOpenGL* device = nullptr;
  RenderManager* manager = nullptr;
  std::vector<std::string> page;
  int glyphs = 0;
};

Context* context() {
  static Context* shared = [] {
    Context* c = new Context();
    benchgl::openGameTree("font_bench", [](const std::filesystem::path& media) {
      std::filesystem::copy(std::filesystem::path(QUILL_SOURCE_ROOT) / "demo" / "media" / "fonts",
                            media / "fonts",
                            std::filesystem::copy_options::recursive |
                                std::filesystem::copy_options::overwrite_existing);
    });
    // The font's material is the implicit one of its glyph image, made by the declarations.
    createDeclSystem();
    c->device = benchgl::openDevice("font_bench", kWidth, kHeight).device;
    c->manager = benchgl::openRenderManager(kWidth, kHeight);
    if (c->manager->getFontHeight(0) <= 0)
      benchgl::fail("font_bench", "the sample font did not load");
    for (int line = 0; line < kLines; ++line) {
      std::string text;
      if (line % 2) {
        text = "^2";  // a colour escape, as console lines carry
      }
      while (static_cast<int>(text.size()) < kColumns) {
        text += static_cast<char>('!' + (text.size() * 7 + static_cast<size_t>(line)) % 94);
      }
      c->glyphs += kColumns - (line % 2 ? 2 : 0);
      c->page.push_back(text);
    }
    return c;
  }();
  return shared;
}

void drawPage(Context* c) {
  const float lineHeight = 480.0f / kLines;
  for (int line = 0; line < kLines; ++line) {
    const std::string& text = c->page[static_cast<size_t>(line)];
    c->manager->drawText640(0, 0.0f, lineHeight * static_cast<float>(line), 1.0f, text.c_str(),
                            static_cast<int>(text.size()));
  }
}

void BM_ConsolePageDrawText640(benchmark::State& state) {
  Context* c = context();
  for (auto _ : state) {
    c->manager->clearScreen();
    drawPage(c);
    qgl::glFinish();
  }
  state.counters["glyphs/s"] =
      benchmark::Counter(static_cast<double>(c->glyphs) * state.iterations(), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ConsolePageDrawText640)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
