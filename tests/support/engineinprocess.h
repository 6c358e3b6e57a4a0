// The engine in this process, headless, over the staged sample content: its window, the common
// manager with its real managers and the game module, started as the executable starts them.
// Without a window or GL context the test is skipped, except under CI, where it fails. Header
// only: it needs every engine library and QUILL_STAGE_DIR, which only the suites added with
// ENGINE STAGED have.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "lib/interface/commonsystem.h"
#include "lib/interface/convarsystem.h"
#include "lib/interface/memsystem.h"
#include "lib/interface/rendersystem.h"
#include "system/appwindowhandler.h"
#include "system/console.h"
#include "system/iomanager.h"

namespace enginetest {

// The screen as RGB rows, top row first.
struct Screen {
  int width = 0, height = 0;
  std::vector<uint8_t> rgb;
  // Pixel (x, y) of the 640 x 480 units.
  const uint8_t* at(float x, float y) const {
    const int px = std::min(width - 1, int(x * float(width) / 640.0f));
    const int py = std::min(height - 1, int(y * float(height) / 480.0f));
    return &rgb[(size_t(py) * size_t(width) + size_t(px)) * 3];
  }
  int sum(float x, float y) const {
    const uint8_t* p = at(x, y);
    return p[0] + p[1] + p[2];
  }
};

class InProcessEngineTest : public ::testing::Test {
 protected:
  // Starts the engine from the staged tree with `commandLine` as its own; from SetUp(), after
  // whatever must stand in the tree before start-up.
  void startEngine(const char* commandLine) {
    ASSERT_EQ(chdir(QUILL_STAGE_DIR), 0) << "the staged tree " << QUILL_STAGE_DIR;
    bool initialized = false;
    app_ = startApplication(commandLine, nullptr, &initialized);
    if (app_ == nullptr) {
      if (std::getenv("CI"))
        FAIL() << "no GL context under CI";
      GTEST_SKIP() << "no GL context here";
    }
    ASSERT_TRUE(initialized);
  }
  void TearDown() override {
    if (app_ != nullptr) {
      stopApplication(app_);
      app_ = nullptr;
    }
    if (!gameFolder_.empty())
      std::filesystem::remove_all(gameFolder_);
  }

  // A game folder of the staged tree, made afresh and removed after the test, for files found
  // before the sample content's (start the engine with "fs_game <name>"). The game module is
  // looked for in the last game folder, so it holds a link to the staged one.
  void makeGameFolder(const std::string& name) {
    ASSERT_EQ(chdir(QUILL_STAGE_DIR), 0) << "the staged tree " << QUILL_STAGE_DIR;
    std::filesystem::remove_all(name);
    gameFolder_ = name;
    std::filesystem::create_directories(name);
    std::filesystem::create_symlink(std::filesystem::absolute("media/game.so"), name + "/game.so");
  }

  // Passes of the main loop as the engine runs it.
  void frames(int count) {
    for (int i = 0; i < count; ++i) {
      app_->pumpMessages();
      if (g_commonSystem)
        g_commonSystem->processEvents();
      ASSERT_TRUE(app_->frame());
    }
  }
  // The current frame's pixels, before it is presented.
  static Screen readScreen() {
    Screen s;
    s.width = g_conVarSystem->find("r_viewwidth")->getInt();
    s.height = g_conVarSystem->find("r_viewheight")->getInt();
    s.rgb.resize(size_t(s.width) * size_t(s.height) * 3);
    EXPECT_TRUE(g_renderSystem->readPixels(s.rgb.data(), s.width, 0, 0, s.width, s.height));
    return s;
  }
  // Console lines that contain `text`.
  static int consoleLines(const char* text) {
    Console* console = Console::getInstance(false);
    int n = 0;
    for (int i = 1; console && i <= console->lineCount(); ++i)
      n += std::strstr(console->line(i), text) != nullptr;
    return n;
  }

  AppWindowHandler* app_ = nullptr;

 private:
  std::string gameFolder_;
};

}  // namespace enginetest
