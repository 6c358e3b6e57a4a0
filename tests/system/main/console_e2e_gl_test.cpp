// The drop-down console end to end, headless: the engine's window, managers and staged sample
// content; the console key (with Ctrl, Alt and Shift, as a closed console wants it) arrives as
// window key messages, travels the system event queue and the key bindings, and opens the console; typed characters take the same road into its input
// line; a screenshot then shows console text in the console's part of the screen and nothing
// below it.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "lib/interface/cmdsystem.h"
#include "lib/interface/commonsystem.h"
#include "lib/interface/consolesystem.h"
#include "lib/interface/convarsystem.h"
#include "lib/interface/iosystem.h"
#include "lib/interface/rendersystem.h"
#include "platform/dialog.h"
#include "platform/fs.h"
#include "platform/window.h"
#include "system/appwindowhandler.h"
#include "system/console.h"
#include "tests/support/tgapicture.h"

namespace {

int quietBox(void*, const char*, const char*, PlatformDialogButtons, PlatformDialogAnswer answer) { return answer; }

// A screenshot, with the console's measures of it.
struct Picture : enginetest::Picture {
  // Pixels brighter than `threshold` (the sum of the three channels) in the box [x0, x1) x
  // [y0, y1) of the picture.
  int brightIn(int x0, int y0, int x1, int y1, int threshold = 300) const {
    int n = 0;
    for (int y = std::max(y0, 0); y < std::min(y1, height); y++)
      for (int x = std::max(x0, 0); x < std::min(x1, width); x++)
        n += brightness(x, y) > threshold ? 1 : 0;
    return n;
  }
  // Pixels brighter than the dark console background in rows [y0, y1) of the picture.
  int brightPixels(int y0, int y1) const {
    int n = 0;
    for (int y = y0; y < y1; y++)
      for (int x = 0; x < width; x++)
        n += brightness(x, y) > 300 ? 1 : 0;
    return n;
  }
};

using enginetest::readPicture;

class ConsoleEndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(chdir(QUILL_STAGE_DIR), 0) << "the staged tree " << QUILL_STAGE_DIR;
    platformSetDialogHook(quietBox, nullptr);
    app_ = createAppWindowHandler();
    if (!app_->createWindowAndCommon(nullptr, 0xFFFFFF & ~0x2400u)) {  // no sound, no network
      if (std::getenv("CI") != nullptr) {
        FAIL() << "the engine did not start under CI";
      }
      GTEST_SKIP() << "no window or GL context";
    }
    ASSERT_NE(g_renderSystem, nullptr);
    ASSERT_NE(g_consoleSystem, nullptr);
  }
  void TearDown() override {
    destroyAppWindowHandler();
    platformSetDialogHook(nullptr, nullptr);
  }

  void windowMessage(int type, int value) {
    PlatformEvent e;
    e.type = type;
    e.value = value;
    app_->handleEvent(e);
  }
  // One turn of the main loop: the event pump, then a frame.
  void frame() {
    g_commonSystem->processEvents();
    app_->frame();
  }
  Picture screenshot(const char* name) {
    const char* base = g_conVarSystem->getString("fs_basepath");
    const std::string path = g_ioSystem->buildOSPath(base, nullptr, name);
    Picture p;
    EXPECT_TRUE(g_renderSystem->takeScreenshot(path.c_str())) << path;
    EXPECT_TRUE(readPicture(path, &p)) << path;
    std::remove(path.c_str());
    return p;
  }

  // The console's text from line `from` on, joined.
  static std::string consoleText(int from) {
    Console* console = Console::getInstance(false);
    std::string text;
    for (int n = from; console && n <= console->lineCount() + 1; n++)
      text += std::string(console->line(n)) + "\n";
    return text;
  }

  AppWindowHandler* app_ = nullptr;
};

TEST_F(ConsoleEndToEndTest, TheConsoleKeyOpensTheConsoleAndTypedTextShows) {
  Console* console = Console::getInstance(false);
  ASSERT_NE(console, nullptr);
  for (int i = 0; i < 3; i++)
    frame();
  ASSERT_FALSE(console->isOpen());
  const Picture closed = screenshot("e2e_console_closed.tga");
  ASSERT_GT(closed.width, 0);

  // While the console is closed its key opens it with Ctrl, Alt and Shift held: set-1 scan codes
  // 0x1D, 0x38, 0x2A, then the grave key 0x29, as the window reports them.
  const int modifiers[3] = {0x1D, 0x38, 0x2A};
  for (int key : modifiers)
    windowMessage(kPlatformEventKeyDown, key);
  windowMessage(kPlatformEventKeyDown, 0x29);
  windowMessage(kPlatformEventKeyUp, 0x29);
  for (int key : modifiers)
    windowMessage(kPlatformEventKeyUp, key);
  frame();
  ASSERT_TRUE(console->isOpen()) << "the console key reached the console";
  // The console slides down over a few frames.
  for (int i = 0; i < 200 && console->height() < 200.0f; i++) {
    frame();
    usleep(5000);
  }
  const float consoleHeight = console->height();
  ASSERT_GT(consoleHeight, 100.0f);

  const char* typed = "hello quill";
  for (const char* c = typed; *c; c++)
    windowMessage(kPlatformEventCharacter, *c);
  frame();
  EXPECT_STREQ(console->input(), typed) << "typed characters reach the input line";
  frame();
  const Picture open = screenshot("e2e_console_open.tga");
  ASSERT_EQ(open.width, closed.width);
  ASSERT_EQ(open.height, closed.height);

  // The console covers the top `consoleHeight` of 480 units: text pixels there now, and the part
  // below it unchanged (the clear colour).
  const int consoleRows = int(consoleHeight / 480.0f * float(open.height));
  const int textNow = open.brightPixels(0, consoleRows);
  const int textBefore = closed.brightPixels(0, consoleRows);
  EXPECT_GT(textNow, textBefore + 200) << "console text in the console area";
  EXPECT_EQ(open.brightPixels(consoleRows + 4, open.height), closed.brightPixels(consoleRows + 4, open.height))
      << "nothing drawn below the console";

  // The input line sits at the console's bottom: its rows change when more is typed.
  const int inputTop = consoleRows - open.height / 12;
  windowMessage(kPlatformEventCharacter, 'W');
  windowMessage(kPlatformEventCharacter, 'W');
  windowMessage(kPlatformEventCharacter, 'W');
  frame();
  frame();
  const Picture more = screenshot("e2e_console_more.tga");
  EXPECT_GT(more.brightPixels(inputTop, consoleRows), open.brightPixels(inputTop, consoleRows))
      << "the typed text is drawn on the input line";

  // The start-up text is in the console's lines; Enter (scan code 0x1C) runs the typed line: it is
  // echoed there, the input line empties and the command manager answers it.
  EXPECT_GT(console->lineCount(), 3) << "the start-up text";
  windowMessage(kPlatformEventKeyDown, 0x1C);
  windowMessage(kPlatformEventKeyUp, 0x1C);
  for (int i = 0; i < 3; i++)
    frame();
  EXPECT_STREQ(console->input(), "") << "the input line empties";
  bool echoed = false;
  bool answered = false;
  for (int n = 1; n <= console->lineCount(); n++) {
    const char* text = console->line(n);
    if (std::strstr(text, "hello quillWWW"))
      echoed = true;
    else if (echoed && std::strstr(text, "hello") && std::strstr(text, "not found"))
      answered = true;
  }
  EXPECT_TRUE(echoed) << "the command line is echoed into the console";
  EXPECT_TRUE(answered) << "the command ran: an unknown command is reported";
}

// Screenshots on a disk that fills during the picture (the platform layer's write budget): the
// first block, half way, the last buffered block. Neither command says "Wrote", no partial
// picture or temporary is left, and a picture written over an old one leaves the old one whole.
TEST_F(ConsoleEndToEndTest, AScreenshotOnAFullDiskSaysSoAndLeavesNoPartialFile) {
  namespace fs = std::filesystem;
  for (int i = 0; i < 3; i++)
    frame();
  const fs::path shots = fs::path(g_conVarSystem->getString("fs_basepath")) / "media" / "screenshots";
  const fs::path old = shots / "e2e_full_old.tga";
  fs::create_directories(shots);
  {
    std::ofstream(old, std::ios::binary) << "the old picture";
  }
  struct Case {
    const char* command;
    const char* extension;
  } cases[] = {{"screenshot32 e2e_full", ".tga"}, {"screenshot e2e_full", ".jpg"}};
  for (const Case& c : cases) {
    for (const double share : {0.0, 0.5, 0.999}) {
      SCOPED_TRACE(std::string(c.command) + " with " + std::to_string(share));
      // The picture's size with room to spare, then the same again on a disk too small for it.
      const int from = Console::getInstance(false)->lineCount();
      g_cmdSystem->executeText((std::string(c.command) + "_size").c_str());
      uintmax_t size = 0;
      for (const auto& entry : fs::directory_iterator(shots)) {
        if (entry.path().filename().string().rfind("e2e_full_size", 0) == 0) {
          size = std::max(size, entry.file_size());
          fs::remove(entry.path());
        }
      }
      ASSERT_GT(size, 1000u) << consoleText(from);
      const int mark = Console::getInstance(false)->lineCount() + 1;  // the next line written
      fsSetWriteBudget(int64_t(double(size) * share));
      g_cmdSystem->executeText(c.command);
      const bool wroteOverOld = g_renderSystem->takeScreenshot(old.string().c_str());
      fsSetWriteBudget(-1);
      const std::string said = consoleText(mark);
      EXPECT_EQ(said.find("Wrote"), std::string::npos) << said;
      EXPECT_NE(said.find("ERROR: screenshot: could not write"), std::string::npos) << said;
      EXPECT_NE(said.find("No space left on device"), std::string::npos) << said;
      EXPECT_FALSE(wroteOverOld);
      for (const auto& entry : fs::directory_iterator(shots)) {
        const std::string name = entry.path().filename().string();
        EXPECT_TRUE(name.rfind("e2e_full", 0) != 0 || name == old.filename().string()) << "left behind: " << name;
        EXPECT_EQ(name.find(".tmp"), std::string::npos) << name;
      }
      std::ifstream kept(old, std::ios::binary);
      EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), std::istreambuf_iterator<char>()),
                "the old picture");
    }
  }
  fs::remove(old);
}

// The prompt "]" and the blinking cursor "_" show on the console's dark background: with an
// empty input line there are bright pixels in the prompt's cell, and the cursor's cell lights up
// and goes dark as it blinks.
TEST_F(ConsoleEndToEndTest, ThePromptAndTheCursorAreVisible) {
  Console* console = Console::getInstance(false);
  ASSERT_NE(console, nullptr);
  console->setSliding(true);
  for (int i = 0; i < 200 && console->height() < 120.0f; i++) {
    frame();
    usleep(5000);
  }
  ASSERT_TRUE(console->isOpen());
  ASSERT_STREQ(console->input(), "");
  // Virtual 640 x 480 units to pixels; the input line's glyphs stand in [height - 25, height - 15).
  Picture p = screenshot("e2e_prompt.tga");
  ASSERT_GT(p.width, 0);
  const float sx = float(p.width) / 640.0f;
  const float sy = float(p.height) / 480.0f;
  const int top = int((console->height() - 25.0f) * sy);
  const int bottom = int((console->height() - 8.0f) * sy);
  EXPECT_GT(p.brightIn(0, top, int(4 * sx), bottom), 3) << "the prompt is visible";
  int most = 0;
  int least = 1 << 30;
  for (int i = 0; i < 8; i++) {
    frame();
    const Picture shot = screenshot("e2e_cursor.tga");
    // The cursor's glyph is a thin line, filtered over two rows at this window size: it stands
    // out from the background (about 50) by its contrast, not as the bright strokes of letters.
    const int lit = shot.brightIn(int(4.5f * sx), top, int(16 * sx), bottom, 150);
    most = std::max(most, lit);
    least = std::min(least, lit);
    usleep(90000);
  }
  EXPECT_GT(most, 3) << "the cursor is visible";
  EXPECT_LT(least, most) << "the cursor blinks";
}

}  // namespace
