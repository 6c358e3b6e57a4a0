// Clipboard paste into the console's input line through the platform layer (needs the video
// subsystem, offscreen when headless).
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/window.h"
#include "system/cmdmanager.h"
#include "system/console.h"
#include "system/convarmanager.h"

namespace {

TEST(ConsoleClipboard, ControlVAppendsTheClipboardWithoutLineBreaksAndCutsItToTheLine) {
  if (!platformVideoInit()) {
    if (std::getenv("CI"))
      FAIL() << "no video subsystem under CI";
    GTEST_SKIP() << "no video subsystem";
  }
  getCmdManager();
  getConVarManager();
  Console* console = Console::getInstance(true);
  console->setSliding(true);
  console->update();
  console->setSliding(true);
  // Open at once: a long step from a clock far ahead.
  console->setClock([]() -> uint32_t { return 100000; });
  console->update();
  ASSERT_TRUE(console->isOpen());

  struct Case {
    const char* before;
    std::string clip;
    std::string input;
  };
  const Case cases[] = {
      {"say ", "hello\nworld", "say hello world"},
      {"", "", ""},
      {"x", std::string(300, 'p'), "x" + std::string(console->charsPerLine() - 2, 'p')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.clip);
    console->charEvent(3);
    for (const char* p = c.before; *p; p++)
      console->charEvent(*p);
    ASSERT_TRUE(platformSetClipboardText(c.clip.c_str()));
    console->charEvent(22);
    EXPECT_EQ(std::string(console->input()), c.input);
    EXPECT_EQ(console->cursor(), static_cast<int>(c.input.size()));
  }
  Console::destroyConsole();
  destroyConVarManager();
  destroyCmdManager();
  platformVideoShutdown();
}

}  // namespace
