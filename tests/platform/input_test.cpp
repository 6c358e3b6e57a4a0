// The platform input buffer: SDL events seen through the event watch (whoever drains the queue),
// control characters made from Ctrl key downs, summed motion, and the bounded buffer.
#include "platform/input.h"

#include <SDL.h>
#include <gtest/gtest.h>

namespace {

class PlatformInputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_EVENTS), 0) << SDL_GetError();
    platformInputInit();
    platformInputClear();
  }
  void TearDown() override {
    platformInputShutdown();
    SDL_QuitSubSystem(SDL_INIT_EVENTS);
  }
  static void pushKey(SDL_Keycode key, Uint16 mods) {
    SDL_Event e = {};
    e.type = SDL_KEYDOWN;
    e.key.keysym.sym = key;
    e.key.keysym.mod = mods;
    SDL_PushEvent(&e);
  }
  static void pushButton(Uint8 button, bool down, Uint32 which = 0) {
    SDL_Event e = {};
    e.type = down ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP;
    e.button.button = button;
    e.button.which = which;
    SDL_PushEvent(&e);
  }
  static void pushMotion(int dx, int dy) {
    SDL_Event e = {};
    e.type = SDL_MOUSEMOTION;
    e.motion.xrel = dx;
    e.motion.yrel = dy;
    SDL_PushEvent(&e);
  }
};

TEST_F(PlatformInputTest, WatchedEventsArriveEvenWhenTheQueueIsDrainedElsewhere) {
  pushKey(SDLK_v, KMOD_LCTRL);
  pushKey(SDLK_v, KMOD_NONE);
  pushKey(SDLK_c, KMOD_RCTRL);
  pushKey(SDLK_v, KMOD_LCTRL | KMOD_RALT);  // AltGr
  pushButton(SDL_BUTTON_RIGHT, true);
  pushButton(SDL_BUTTON_X2, false);
  pushButton(SDL_BUTTON_LEFT, true, SDL_TOUCH_MOUSEID);  // touch emulation: not a mouse
  pushMotion(3, -1);
  pushMotion(4, 2);
  SDL_Event drained;
  while (SDL_PollEvent(&drained)) {
  }

  struct Expected {
    int type, value, value2;
  } expected[] = {
      {kPlatformInputCharacter, 22, 0},
      {kPlatformInputCharacter, 3, 0},
      {kPlatformInputMouseButton, 1, 1},
      {kPlatformInputMouseButton, 4, 0},
  };
  for (const Expected& e : expected) {
    PlatformInputEvent event;
    ASSERT_TRUE(platformInputTakeEvent(&event));
    EXPECT_EQ(event.type, e.type);
    EXPECT_EQ(event.value, e.value);
    EXPECT_EQ(event.value2, e.value2);
  }
  EXPECT_FALSE(platformInputTakeEvent(nullptr));
  int dx = 0, dy = 0;
  platformMouseTakeMotion(&dx, &dy);
  EXPECT_EQ(dx, 7);
  EXPECT_EQ(dy, 1);
  platformMouseTakeMotion(&dx, &dy);
  EXPECT_EQ(dx, 0);
  EXPECT_EQ(dy, 0);
}

TEST_F(PlatformInputTest, AFullBufferDropsTheOldest) {
  for (int i = 0; i < 70; ++i)
    platformInputPush({kPlatformInputCharacter, i, 0});
  PlatformInputEvent event;
  int count = 0;
  int first = -1;
  while (platformInputTakeEvent(&event)) {
    if (first < 0)
      first = event.value;
    ++count;
  }
  EXPECT_EQ(count, 64);
  EXPECT_EQ(first, 6);
}

TEST_F(PlatformInputTest, NothingIsWatchedAfterShutdown) {
  platformInputShutdown();
  pushButton(SDL_BUTTON_LEFT, true);
  EXPECT_FALSE(platformInputTakeEvent(nullptr));
  platformInputInit();  // for TearDown
}

}  // namespace
