// Interface costs on llvmpipe (SDL's offscreen driver) with the sample content: loading the main
// menu ("guis/mainmenu.gui" with its scripts, a fresh Lua state each time), and one frame of a
// 200-window interface (a 20 x 10 grid of filled, labelled windows with hover transitions):
// the manager's frame, a mouse move, the full redraw and endFrame, finishing the GPU work.
// Run with --benchmark_repetitions=N and compare medians.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "lib/interface/rendermodelsystem.h"
#include "lib/keydict.h"
#include "platform/gl.h"
#include "render/backend/renderbackend.h"
#include "render/device/glextensions.h"
#include "render/device/renderopengl.h"
#include "render/scene/rendermanager.h"
#include "render/texture/texmgrinfo.h"
#include "system/cmdmanager.h"
#include "system/convarmanager.h"
#include "system/declmanager.h"
#include "system/iomanager.h"
#include "ui/uiwindow.h"
#include "ui/userinterfacelocal.h"
#include "ui/userinterfacemanager.h"

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;

struct Context {
  void* window = nullptr;
  RenderOpenGL* device = nullptr;
  RenderManager* manager = nullptr;
  UserInterfaceManager* ui = nullptr;
};

void quietOutput(void*, const char*) {}

// 200 windows: a grid of buttons, each with a background, a label and hover handlers.
std::string gridGui() {
  std::string text = "windowDef desktop {\n rect 0 0 640 480\n backcolor 0 0 0 1\n menugui 1\n";
  for (int i = 0; i < 200; ++i) {
    char window[512];
    std::snprintf(window, sizeof(window),
                  " windowDef w%d {\n  rect %d %d 30 44\n  backcolor 0.2 0.3 0.5 1\n  text \"%d\"\n"
                  "  textscale 0.5\n  eventDef { onMouseEnter button_enter }\n"
                  "  eventDef { onMouseExit button_exit }\n }\n",
                  i, (i % 20) * 32, (i / 20) * 48, i);
    text += window;
  }
  return text + "}\n";
}

Context* context() {
  static Context* shared = [] {
    Context* c = new Context();
    std::filesystem::current_path(QUILL_DEMO_DIR);
    KeyDict::initPools();
    getCmdManager()->setOutput(quietOutput, nullptr);
    getConVarManager();
    g_conVarSystem->setInt("r_viewwidth", kWidth);
    g_conVarSystem->setInt("r_viewheight", kHeight);
    if (!IOManager::getInstance()->initialize("media")) {
      std::fprintf(stderr, "ui_bench: no file system\n");
      std::exit(1);
    }
    c->window = platformGLCreateHiddenWindow(kWidth, kHeight, 32);
    c->device = new RenderOpenGL();
    if (c->window == nullptr || !c->device->init(c->window, nullptr, 0)) {
      std::fprintf(stderr, "ui_bench: no GL context (%s)\n", platformGLError());
      std::exit(1);
    }
    g_renderInterface = c->device;
    TexMgrInfo::getInstance();
    createDeclSystem();
    getRenderModelSystem();
    c->manager = new RenderManager();
    c->manager->init();
    g_renderSystem = c->manager;
    c->ui = getUserInterfaceManager();
    return c;
  }();
  return shared;
}

void BM_LoadMainMenu(benchmark::State& state) {
  Context* c = context();
  for (auto _ : state) {
    UserInterfaceLocal* gui = c->ui->findGui("guis/mainmenu.gui", true, true);
    if (!gui) {
      state.SkipWithError("guis/mainmenu.gui did not load");
      break;
    }
    c->ui->freeGui(gui);
  }
}
BENCHMARK(BM_LoadMainMenu)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Frame200Windows(benchmark::State& state) {
  Context* c = context();
  static const std::string text = gridGui();
  const std::filesystem::path file = std::filesystem::temp_directory_path() / "quill_ui_bench_grid.gui";
  {
    FILE* f = std::fopen(file.c_str(), "wb");
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
  }
  UserInterfaceLocal* gui = c->ui->allocGui();
  if (!gui->load(file.c_str(), true)) {
    state.SkipWithError("the grid did not load");
    return;
  }
  gui->activate(true, 0);
  int now = 1000;
  int step = 0;
  for (auto _ : state) {
    now += 16;
    c->ui->frame(now);
    // Sweep the mouse over the grid so enter/exit handlers and transitions keep running.
    gui->mouseMove(float((step * 37) % 640), float((step * 23) % 480));
    ++step;
    c->manager->setRenderView(nullptr, now);
    c->manager->clearScreen();
    gui->redraw(now);
    c->manager->endFrame();
    qgl::glFinish();
  }
  state.counters["windows"] = gui->getDesktop() ? gui->getDesktop()->numChildren() : 0;
  c->ui->freeGui(gui);
}
BENCHMARK(BM_Frame200Windows)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
