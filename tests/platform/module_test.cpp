// Module names (".dll" loads ".so"), loader errors, and the keyboard's scan
// code translation of the window layer.
#include <gtest/gtest.h>

#include <SDL_scancode.h>

#include <string>

#include "platform/module.h"
#include "platform/window.h"

namespace {

TEST(PlatformModule, ADllNameLoadsTheSameNameEndingSo) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"media/game.dll", "media/game.so"},
      {"/abs/GAME.DLL", "/abs/GAME.so"},
      {"game.so", "game.so"},
      {"plugin", "plugin"},
      {".dll", ".so"},
      {"dll", "dll"},
  };
  for (const Case& c : cases) {
    char out[64];
    ASSERT_TRUE(platformModuleFileName(c.in, out, sizeof(out))) << c.in;
    EXPECT_STREQ(out, c.out) << c.in;
  }
  char small[8];
  EXPECT_FALSE(platformModuleFileName("longer_name.dll", small, sizeof(small)));
  EXPECT_FALSE(platformModuleFileName(nullptr, small, sizeof(small)));
}

TEST(PlatformModule, AFailedLoadLeavesItsReasonUntilRead) {
  platformModuleClearError();
  EXPECT_EQ(platformModuleError(), nullptr);
  EXPECT_EQ(platformModuleLoad("/nonexistent/dir/missing.dll"), nullptr);
  const char* error = platformModuleError();
  ASSERT_NE(error, nullptr);
  EXPECT_NE(std::string(error).find("missing.so"), std::string::npos) << error;
  EXPECT_EQ(platformModuleError(), nullptr) << "reading the error clears it";
  EXPECT_EQ(platformModuleSymbol(nullptr, "x"), nullptr);
}

TEST(PlatformWindow, KeysBecomeSetOneScanCodesWithTheExtendedFlag) {
  struct Case {
    int sdl;
    int set1;
    bool extended;
  } cases[] = {
      {SDL_SCANCODE_A, 0x1E, false},        {SDL_SCANCODE_Z, 0x2C, false},
      {SDL_SCANCODE_1, 0x02, false},        {SDL_SCANCODE_0, 0x0B, false},
      {SDL_SCANCODE_RETURN, 0x1C, false},   {SDL_SCANCODE_KP_ENTER, 0x1C, true},
      {SDL_SCANCODE_ESCAPE, 0x01, false},   {SDL_SCANCODE_F12, 0x58, false},
      {SDL_SCANCODE_UP, 0x48, true},        {SDL_SCANCODE_KP_8, 0x48, false},
      {SDL_SCANCODE_KP_DIVIDE, 0x35, true}, {SDL_SCANCODE_RCTRL, 0x1D, true},
      {SDL_SCANCODE_LSHIFT, 0x2A, false},   {SDL_SCANCODE_RALT, 0x38, true},
      {SDL_SCANCODE_DELETE, 0x53, true},    {SDL_SCANCODE_MUTE, 0, false},
  };
  for (const Case& c : cases) {
    bool extended = !c.extended;
    EXPECT_EQ(platformScanCodeToSet1(c.sdl, &extended), c.set1) << "SDL scan code " << c.sdl;
    EXPECT_EQ(extended, c.extended) << "SDL scan code " << c.sdl;
  }
}

}  // namespace
