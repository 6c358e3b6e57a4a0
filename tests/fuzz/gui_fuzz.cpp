// Fuzzes the ".gui" reader through the interface manager: the input is a ".gui" file, loaded with
// the interface scripts (its "scriptDef" blocks run as Lua). A loaded interface is then driven:
// activated, run for a few frames (time handlers, transitions, queued events), hit by the mouse,
// clicked, keyed, sent named events, drawn (through a render system that only answers fonts, so the
// window kinds' updates and text and dialog layouts run) on the screen and on a world surface, read
// back through the state calls, cloned and freed. Combo and bind windows work on the engine's own
// console variables and key bindings. A Lua chunk that runs too long is stopped
// by the interpreter's interrupt hook: a watchdog thread raises the interrupt signal at the fuzzing
// thread, every 2 ms once one input has been running for longer than 20 ms. A normal input takes a
// few milliseconds; a looping script costs its input no more than that, where a 100 ms limit
// polled every 20 ms spent half the fuzzing time spinning in the loops the corpus is full of.
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>

#include "lib/interface/convarsystem.h"
#include "lib/matrix.h"
#include "lib/vector.h"
#include "system/convarmanager.h"
#include "system/keybinds.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/support/memoryiosystem.h"
#include "tests/support/nullrender.h"
#include "ui/uiwindow.h"
#include "ui/userinterfacelocal.h"
#include "ui/userinterfacemanager.h"

namespace {

// Fonts registered by name get a height of their own, so a dialog's "$font" lines change its layout.
class FontRender : public NullRenderSystem {
 public:
  int registerFont(const char* name) override { return name[0] == 'b' ? 2 : 1; }
  int getFontHeight(int font) override { return font == 2 ? 24 : (font == 1 ? 12 : 8); }
};

fuzz::QuietCmdSystem g_quiet;
FontRender g_render;
KeyBinds* g_binds = nullptr;
// The variables the combo seeds step through and name their choices by.
ConVar g_fuzzMode("ui_fuzzmode", "1", kConVarInt);
ConVar g_fuzzNames("ui_fuzznames", "Low;High", kConVarString);
MemoryIOSystem* g_io = nullptr;
UserInterfaceManager* g_manager = nullptr;

std::atomic<uint64_t> g_generation{0};
std::atomic<bool> g_busy{false};
pthread_t g_fuzzThread;

const char* kCommon =
    "util = {}\n"
    "function util.pt(t) end\n"
    "ui = { idle = '0 0 0 1', hot = '1 1 1 1' }\n"
    "function button_enter(self) sys.transition('backcolor', ui.idle, ui.hot, '150') end\n"
    "function button_exit(self) sys.transition('backcolor', ui.hot, ui.idle, '150') end\n";

const char* kCredits =
    "$textalign center\n$textscale huge\n\"QUILLMERE\"\n$textscale default\n\"a line\"\n\n"
    "$textscale big\n\"Engine\"\n$material 64 64 textures/samples/fence\n$font fonts/none\n\"last\"\n";

void watchdog() {
  uint64_t seen = 0;
  auto since = std::chrono::steady_clock::now();
  for (;;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    const uint64_t now = g_generation.load();
    if (!g_busy.load() || now != seen) {
      seen = now;
      since = std::chrono::steady_clock::now();
      continue;
    }
    if (std::chrono::steady_clock::now() - since > std::chrono::milliseconds(20))
      pthread_kill(g_fuzzThread, SIGINT);
  }
}

void setUp() {
  g_cmdSystem = &g_quiet;
  g_renderSystem = &g_render;
  getConVarManager();
  g_binds = new KeyBinds();
  g_keyBindSystem = g_binds;
  g_io = new MemoryIOSystem();
  g_io->addFile("script/ui/ui_common.lua", kCommon);
  g_io->addFile("script/ui/extra.lua", "extra = 1\n");
  // The dialog files the seeds' dialog windows name, so their reader runs too.
  g_io->addFile("guis/credits.txt", kCredits);
  g_io->addFile("guis/dialog.txt",
                "$textalign center\n$textscale big\n\"title\"\n\n$material 64 32 pic\n\"end\"\n");
  g_manager = getUserInterfaceManager();
  // Outside the interface's protected calls the interrupt signal does nothing here.
  struct sigaction ignore = {};
  ignore.sa_handler = [](int) {};
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGINT, &ignore, nullptr);
  g_fuzzThread = pthread_self();
  std::thread(watchdog).detach();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool s_ready = (setUp(), true);
  (void)s_ready;
  g_generation++;
  g_busy = true;
  g_io->addFile("guis/fuzz.gui", std::string(reinterpret_cast<const char*>(data), size));
  UserInterfaceLocal* gui = g_manager->findGui("guis/fuzz.gui", true, true);
  if (gui) {
    int now = int(g_generation.load() % 100000) * 10000 + 1;
    gui->activate(true, now);
    g_manager->frame(now);
    const float points[][2] = {{320, 240}, {10, 10}, {630, 470}, {100, 300}};
    for (const auto& p : points) {
      gui->mouseMove(p[0], p[1]);
      UIInputEvent press{1, kUIKeyMouse1, 1, 0, 0};
      UIInputEvent release{1, kUIKeyMouse1, 0, 0, 0};
      UIInputEvent key{2, 'a', 1, 0, 0};
      bool handled = false;
      gui->handleEvent(&press, now, &handled);
      gui->handleEvent(&release, now, &handled);
      gui->handleEvent(&key, now, &handled);
    }
    UIInputEvent tab{1, 9, 1, 0, 0};
    gui->handleEvent(&tab, now, nullptr);
    UIInputEvent motion{3, 12, -12, 0, 0};
    gui->handleEvent(&motion, now, nullptr);
    UIInputEvent escape{1, 27, 1, 0, 0};
    gui->handleEvent(&escape, now, nullptr);
    gui->namedEvent("updateLoading");
    gui->setStateString("map_loadstatus", "loading");
    gui->setStateFloat("map_loading", 0.5f);
    gui->trigger();
    gui->refreshWindows(0, true);
    for (int i = 0; i < 3; ++i) {
      now += 700;
      g_manager->frame(now);
      gui->redraw(now);
    }
    gui->getStateDict();
    gui->getStateString("text");
    Vec4 rect;
    gui->getStateVec4(&rect, "child:rect");
    gui->drawOnSurface(now, Mat4(), 64.0f, 48.0f);
    if (UIWindow* desktop = gui->getDesktop()) {
      UIWindow* copy = UIWindow::clone(desktop, true);
      now += 100;
      g_manager->frame(now);
      copy->drawFullScreen();
      UIWindow::destroyTree(copy);
    }
    if ((size % 8) == 0)
      gui->reload();
    gui->activate(false, now);
    g_manager->freeGui(gui);
    g_manager->frame(now + 1);
  }
  g_busy = false;
  return 0;
}
