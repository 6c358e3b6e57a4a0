// The engine itself, headless, over the staged sample content: its own window, managers, game
// module and start-up; console commands run through its command system and screenshots read back.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "lib/interface/cmdsystem.h"
#include "lib/interface/convarsystem.h"
#include "lib/interface/iosystem.h"
#include "lib/interface/rendersystem.h"
#include "system/console.h"
#include "tests/support/engineinprocess.h"

namespace enginetest {

// A 24- or 32-bit TGA the engine wrote.
struct Picture {
  int width = 0;
  int height = 0;
  int bpp = 0;
  bool topFirst = false;
  std::vector<uint8_t> data;
  // Mean of (r + g + b) / 3 over a box given in fractions of the picture (rows top first).
  double mean(double x0, double y0, double x1, double y1) const {
    double sum = 0.0;
    int n = 0;
    for (int y = int(y0 * height); y < int(y1 * height); y++)
      for (int x = int(x0 * width); x < int(x1 * width); x++) {
        const int row = topFirst ? y : height - 1 - y;
        const size_t at = 18 + (size_t(row) * size_t(width) + size_t(x)) * size_t(bpp);
        sum += (data[at] + data[at + 1] + data[at + 2]) / 3.0;
        n++;
      }
    return n ? sum / n : 0.0;
  }
};

inline bool readPicture(const std::string& path, Picture* out) {
  std::ifstream file(path, std::ios::binary);
  out->data.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  if (out->data.size() < 18)
    return false;
  out->width = out->data[12] | out->data[13] << 8;
  out->height = out->data[14] | out->data[15] << 8;
  out->bpp = out->data[16] / 8;
  out->topFirst = (out->data[17] & 0x20) != 0;
  return out->bpp >= 3 && out->data.size() >= 18 + size_t(out->width) * out->height * out->bpp;
}

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
