// Text drawing on llvmpipe (SDL's offscreen driver): a full console page (30 lines of 78
// characters, colour escapes on every other line) drawn with RenderManager::drawText640 in the
// sample font, finished on the GPU each iteration; reported as glyphs per second. Run with
// --benchmark_repetitions=N --benchmark_enable_random_interleaving=true and compare medians.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "lib/keydict.h"
#include "platform/gl.h"
#include "render/backend/renderbackend.h"
#include "render/device/glextensions.h"
#include "render/device/renderopengl.h"
#include "lib/interface/rendermodelsystem.h"
#include "render/scene/rendermanager.h"
#include "render/texture/texmgrinfo.h"
#include "system/cmdmanager.h"
#include "system/convarmanager.h"
#include "system/declmanager.h"
#include "system/iomanager.h"

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr int kLines = 30;
constexpr int kColumns = 78;

const char* kUnlitProgram =
    "!!ARBvp1.0\n"
    "PARAM mvp[4] = { state.matrix.mvp };\n"
    "PARAM mul = program.env[16];\n"
    "PARAM add = program.env[17];\n"
    "DP4 result.position.x, mvp[0], vertex.position;\n"
    "DP4 result.position.y, mvp[1], vertex.position;\n"
    "DP4 result.position.z, mvp[2], vertex.position;\n"
    "DP4 result.position.w, mvp[3], vertex.position;\n"
    "MAD result.color, vertex.color, mul, add;\n"
    "MOV result.texcoord[0], vertex.texcoord[0];\n"
    "END\n";

struct Context {
  void* window = nullptr;
  RenderOpenGL* device = nullptr;
  RenderManager* manager = nullptr;
  std::vector<std::string> page;
  int glyphs = 0;
};

void quietOutput(void*, const char*) {}

Context* context() {
  static Context* shared = [] {
    Context* c = new Context();
    const std::filesystem::path root = std::filesystem::temp_directory_path() / "quill_font_bench";
    std::filesystem::create_directories(root / "media" / "glprogs");
    std::ofstream(root / "media" / "glprogs" / "unlit.vp") << kUnlitProgram;
    std::filesystem::copy(std::filesystem::path(QUILL_SOURCE_ROOT) / "demo" / "media" / "fonts",
                          root / "media" / "fonts",
                          std::filesystem::copy_options::recursive | std::filesystem::copy_options::overwrite_existing);
    std::filesystem::current_path(root);
    KeyDict::initPools();
    getCmdManager()->setOutput(quietOutput, nullptr);
    getConVarManager();
    g_conVarSystem->setInt("r_viewwidth", kWidth);
    g_conVarSystem->setInt("r_viewheight", kHeight);
    if (!IOManager::getInstance()->initialize("media")) {
      std::fprintf(stderr, "font_bench: no file system\n");
      std::exit(1);
    }
    // The font's material is the implicit one of its glyph image, made by the declarations.
    createDeclSystem();
    c->window = platformGLCreateHiddenWindow(kWidth, kHeight, 32);
    c->device = new RenderOpenGL();
    if (c->window == nullptr || !c->device->init(c->window, nullptr, 0)) {
      std::fprintf(stderr, "font_bench: no GL context (%s)\n", platformGLError());
      std::exit(1);
    }
    g_renderInterface = c->device;
    TexMgrInfo::getInstance();
    getRenderModelSystem();
    c->manager = new RenderManager();
    c->manager->init();
    if (c->manager->getFontHeight(0) <= 0) {
      std::fprintf(stderr, "font_bench: the sample font did not load\n");
      std::exit(1);
    }
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
