// The engine itself, headless, over the staged sample content: its own window, managers, game
// module and start-up; console commands run through its command system and screenshots read back.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "lib/interface/cmdsystem.h"
#include "lib/interface/convarsystem.h"
#include "lib/interface/iosystem.h"
#include "lib/interface/rendersystem.h"
#include "system/console.h"
#include "tests/support/engineinprocess.h"
#include "tests/support/tgapicture.h"

namespace enginetest {

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Whether a line the console keeps holds the text (lines are cut at the console's width: keep
// the text short).
inline bool consoleShows(const char* text) {
  Console* console = Console::getInstance(false);
  if (!console)
    return false;
  for (int i = 1; i <= Console::kMaxLines; i++)
    if (std::strstr(console->line(i), text))
      return true;
  return false;
}

// Pixels of the picture for which `test` (r, g, b) holds.
inline int countPixels(const Picture& p, const std::function<bool(int, int, int)>& test) {
  int n = 0;
  for (int y = 0; y < p.height; y++)
    for (int x = 0; x < p.width; x++) {
      const size_t at = 18 + (size_t(y) * size_t(p.width) + size_t(x)) * size_t(p.bpp);
      n += test(p.data[at + 2], p.data[at + 1], p.data[at]) ? 1 : 0;
    }
  return n;
}

class EngineTest : public InProcessEngineTest {
 protected:
  void SetUp() override { startEngine(""); }

  void run(const char* text) { g_cmdSystem->executeText(text); }
  // After `settle` frames.
  Picture screenshot(int settle = 4) {
    frames(settle);
    const std::string path =
        g_ioSystem->buildOSPath(g_conVarSystem->getString("fs_basepath"), nullptr, "enginetest_shot.tga");
    Picture p;
    EXPECT_TRUE(g_renderSystem->takeScreenshot(path.c_str())) << path;
    EXPECT_TRUE(readPicture(path, &p)) << path;
    std::remove(path.c_str());
    return p;
  }
};

}  // namespace enginetest
