// Fuzzes the dialog text reader ("dialogDef" windows): the input is the dialog file that a loaded
// interface's dialog window names. Each input is read afresh (the window's "update" set, as the
// Lua "set" does), then drawn at a few times so the scrolling walks its lines, through a render
// system that registers fonts and draws nothing.
#include <cstdint>
#include <string>

#include "tests/fuzz/fuzz_support.h"
#include "tests/support/memoryiosystem.h"
#include "tests/support/nullrender.h"
#include "ui/uikinds.h"
#include "ui/userinterfacelocal.h"
#include "ui/userinterfacemanager.h"

namespace {

// Fonts by name: a few known ones with heights (one of 0), anything else unknown (-1).
class FontRender : public NullRenderSystem {
 public:
  int registerFont(const char* name) override {
    if (String::icmp(name, "fonts/big") == 0)
      return 1;
    if (String::icmp(name, "fonts/flat") == 0)
      return 2;
    return String::icmp(name, "fonts/default") == 0 ? 0 : -1;
  }
  int getFontHeight(int font) override { return font == 1 ? 32 : (font == 2 ? 0 : 16); }
};

fuzz::QuietCmdSystem g_quiet;
FontRender g_render;
MemoryIOSystem* g_io = nullptr;
UserInterfaceManager* g_manager = nullptr;
UserInterfaceLocal* g_gui = nullptr;
UIDialogDef* g_dialog = nullptr;

const char* kGui =
    "windowDef desktop {\n"
    "  rect 0 0 640 480\n"
    "  dialogDef text {\n"
    "    rect 40 40 300 200\n"
    "    textscale 0.5\n"
    "    autoscroll 400\n"
    "    dlgfile \"guis/fuzz.txt\"\n"
    "  }\n"
    "}\n";

void setUp() {
  g_cmdSystem = &g_quiet;
  g_renderSystem = &g_render;
  g_io = new MemoryIOSystem();
  g_io->addFile("script/ui/ui_common.lua", "util = {}\nfunction util.pt(t) end\n");
  g_io->addFile("guis/dialog.gui", kGui);
  g_io->addFile("guis/fuzz.txt", "\"\"\n");
  g_manager = getUserInterfaceManager();
  g_gui = g_manager->findGui("guis/dialog.gui", true, false);
  g_dialog = g_gui ? dynamic_cast<UIDialogDef*>(g_gui->getDesktop()->findChild("text")) : nullptr;
  if (!g_dialog)
    std::abort();
  g_gui->activate(true, 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool s_ready = (setUp(), true);
  (void)s_ready;
  g_io->addFile("guis/fuzz.txt", std::string(reinterpret_cast<const char*>(data), size));
  g_dialog->setVarText("update", "1");
  // Both the window's text alignment and font vary with the input, so every start value is met.
  g_dialog->setVarText("textalign", size % 3 == 0 ? "2" : (size % 3 == 1 ? "7" : "-1"));
  int now = 1;
  for (int i = 0; i < 4; ++i) {
    g_manager->frame(now);
    g_gui->redraw(now);
    now += 331;
  }
  return 0;
}
