// Mouse buttons, motion and control characters are taken from an SDL event watch, because the
// window's own pump drains the SDL queue first; the joystick is read as state once per poll.
#include "platform/input.h"

#include <SDL.h>

#include <mutex>

namespace {

constexpr int kBufferSize = 64;

// The watch may run on whichever thread pumps SDL events; the lock keeps the buffer whole.
std::mutex g_lock;
PlatformInputEvent g_buffer[kBufferSize];
int g_head = 0;
int g_count = 0;
int g_motionX = 0;
int g_motionY = 0;
int g_refs = 0;

SDL_Joystick* g_joystick = nullptr;
bool g_joystickSubsystem = false;

SDL_Window* sdl(PlatformWindow* window) {
  return reinterpret_cast<SDL_Window*>(window);
}

int buttonIndex(uint8_t sdlButton) {
  switch (sdlButton) {
    case SDL_BUTTON_LEFT:
      return 0;
    case SDL_BUTTON_RIGHT:
      return 1;
    case SDL_BUTTON_MIDDLE:
      return 2;
    case SDL_BUTTON_X1:
      return 3;
    case SDL_BUTTON_X2:
      return 4;
    default:
      return -1;
  }
}

int watch(void*, SDL_Event* e) {
  PlatformInputEvent out;
  switch (e->type) {
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: {
      if (e->button.which == SDL_TOUCH_MOUSEID)
        return 1;
      int index = buttonIndex(e->button.button);
      if (index < 0)
        return 1;
      out.type = kPlatformInputMouseButton;
      out.value = index;
      out.value2 = e->type == SDL_MOUSEBUTTONDOWN ? 1 : 0;
      break;
    }
    case SDL_MOUSEMOTION:
      if (e->motion.which == SDL_TOUCH_MOUSEID)
        return 1;
      out.type = kPlatformInputMouseMotion;
      out.value = e->motion.xrel;
      out.value2 = e->motion.yrel;
      break;
    case SDL_KEYDOWN: {
      SDL_Keymod mods = (SDL_Keymod)e->key.keysym.mod;
      int character =
          platformControlCharacter((int)e->key.keysym.sym, (mods & KMOD_CTRL) != 0, (mods & KMOD_ALT) != 0);
      if (character == 0)
        return 1;
      out.type = kPlatformInputCharacter;
      out.value = character;
      break;
    }
    default:
      return 1;
  }
  platformInputPush(out);
  return 1;
}

}  // namespace

// SDL calls the watch under its own lock, so SDL is never called with g_lock held.
void platformInputInit() {
  bool first = false;
  {
    std::lock_guard<std::mutex> guard(g_lock);
    first = g_refs++ == 0;
  }
  if (first)
    SDL_AddEventWatch(watch, nullptr);
}

void platformInputShutdown() {
  bool last = false;
  {
    std::lock_guard<std::mutex> guard(g_lock);
    if (g_refs == 0)
      return;
    last = --g_refs == 0;
  }
  if (!last)
    return;
  SDL_DelEventWatch(watch, nullptr);
  platformInputClear();
}

void platformInputPush(const PlatformInputEvent& event) {
  std::lock_guard<std::mutex> guard(g_lock);
  if (event.type == kPlatformInputMouseMotion) {
    g_motionX += event.value;
    g_motionY += event.value2;
    return;
  }
  if (event.type == kPlatformInputNone)
    return;
  if (g_count == kBufferSize) {
    // Full: the oldest entry goes, as a device buffer overflows.
    g_head = (g_head + 1) % kBufferSize;
    --g_count;
  }
  g_buffer[(g_head + g_count) % kBufferSize] = event;
  ++g_count;
}

bool platformInputTakeEvent(PlatformInputEvent* event) {
  std::lock_guard<std::mutex> guard(g_lock);
  if (g_count == 0)
    return false;
  if (event)
    *event = g_buffer[g_head];
  g_head = (g_head + 1) % kBufferSize;
  --g_count;
  return true;
}

void platformMouseTakeMotion(int* dx, int* dy) {
  std::lock_guard<std::mutex> guard(g_lock);
  if (dx)
    *dx = g_motionX;
  if (dy)
    *dy = g_motionY;
  g_motionX = 0;
  g_motionY = 0;
}

void platformInputClear() {
  std::lock_guard<std::mutex> guard(g_lock);
  g_head = 0;
  g_count = 0;
  g_motionX = 0;
  g_motionY = 0;
}

int platformControlCharacter(int keyCode, bool ctrlHeld, bool altHeld) {
  // Ctrl + Alt is AltGr on many layouts: that types characters, not controls.
  if (!ctrlHeld || altHeld)
    return 0;
  if (keyCode == 'v' || keyCode == 'V')
    return 22;
  if (keyCode == 'c' || keyCode == 'C')
    return 3;
  return 0;
}

bool platformMouseSetRelative(PlatformWindow* window, bool on) {
  if (!window)
    return true;
  SDL_SetWindowGrab(sdl(window), on ? SDL_TRUE : SDL_FALSE);
  if (SDL_SetRelativeMouseMode(on ? SDL_TRUE : SDL_FALSE) != 0)
    return !on;
  return true;
}

void platformMouseConfine(PlatformWindow* window, bool on) {
  if (!window)
    return;
  SDL_SetWindowGrab(sdl(window), on ? SDL_TRUE : SDL_FALSE);
  SDL_CaptureMouse(on ? SDL_TRUE : SDL_FALSE);
  SDL_ShowCursor(on ? SDL_DISABLE : SDL_ENABLE);
}

bool platformWindowScreenRect(PlatformWindow* window, int* x, int* y, int* width, int* height) {
  if (!window)
    return false;
  int wx = 0, wy = 0, ww = 0, wh = 0;
  SDL_GetWindowPosition(sdl(window), &wx, &wy);
  SDL_GetWindowSize(sdl(window), &ww, &wh);
  SDL_Rect bounds;
  int display = SDL_GetWindowDisplayIndex(sdl(window));
  if (display >= 0 && SDL_GetDisplayBounds(display, &bounds) == 0) {
    int right = wx + ww < bounds.x + bounds.w ? wx + ww : bounds.x + bounds.w;
    int bottom = wy + wh < bounds.y + bounds.h ? wy + wh : bounds.y + bounds.h;
    wx = wx > bounds.x ? wx : bounds.x;
    wy = wy > bounds.y ? wy : bounds.y;
    ww = right > wx ? right - wx : 0;
    wh = bottom > wy ? bottom - wy : 0;
  }
  *x = wx;
  *y = wy;
  *width = ww;
  *height = wh;
  return true;
}

bool platformCursorScreenPosition(int* x, int* y) {
  if (!SDL_WasInit(SDL_INIT_VIDEO))
    return false;
  SDL_GetGlobalMouseState(x, y);
  return true;
}

bool platformCursorSetScreenPosition(int x, int y) {
  if (!SDL_WasInit(SDL_INIT_VIDEO) || SDL_WarpMouseGlobal(x, y) != 0)
    return false;
  int nowX = 0, nowY = 0;
  SDL_GetGlobalMouseState(&nowX, &nowY);
  return nowX == x && nowY == y;
}

bool platformJoystickOpen() {
  platformJoystickClose();
  if (SDL_InitSubSystem(SDL_INIT_JOYSTICK) != 0)
    return false;
  g_joystickSubsystem = true;
  int count = SDL_NumJoysticks();
  for (int i = 0; i < count && !g_joystick; ++i)
    g_joystick = SDL_JoystickOpen(i);
  if (!g_joystick) {
    platformJoystickClose();
    return false;
  }
  return true;
}

void platformJoystickClose() {
  if (g_joystick) {
    SDL_JoystickClose(g_joystick);
    g_joystick = nullptr;
  }
  if (g_joystickSubsystem) {
    SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
    g_joystickSubsystem = false;
  }
}

uint32_t platformHatToHundredths(int hatBits) {
  switch (hatBits) {
    case SDL_HAT_UP:
      return 0;
    case SDL_HAT_RIGHTUP:
      return 4500;
    case SDL_HAT_RIGHT:
      return 9000;
    case SDL_HAT_RIGHTDOWN:
      return 13500;
    case SDL_HAT_DOWN:
      return 18000;
    case SDL_HAT_LEFTDOWN:
      return 22500;
    case SDL_HAT_LEFT:
      return 27000;
    case SDL_HAT_LEFTUP:
      return 31500;
    default:
      return 65535;
  }
}

uint32_t platformAxisToUnsigned(int value) {
  if (value < -32768)
    value = -32768;
  if (value > 32767)
    value = 32767;
  return (uint32_t)(value + 32768);
}

bool platformJoystickRead(PlatformJoystickState* state) {
  if (!g_joystick || !state)
    return false;
  SDL_JoystickUpdate();
  if (!SDL_JoystickGetAttached(g_joystick))
    return false;
  PlatformJoystickState out;
  int axes = SDL_JoystickNumAxes(g_joystick);
  out.axisCount = axes < 0 ? 0 : (axes > 6 ? 6 : axes);
  for (int i = 0; i < out.axisCount; ++i)
    out.axes[i] = platformAxisToUnsigned(SDL_JoystickGetAxis(g_joystick, i));
  if (SDL_JoystickNumHats(g_joystick) > 0)
    out.pov = platformHatToHundredths(SDL_JoystickGetHat(g_joystick, 0));
  int buttons = SDL_JoystickNumButtons(g_joystick);
  out.buttonCount = buttons < 0 ? 0 : (buttons > 32 ? 32 : buttons);
  for (int i = 0; i < out.buttonCount; ++i) {
    if (SDL_JoystickGetButton(g_joystick, i))
      out.buttons |= 1u << i;
  }
  *state = out;
  return true;
}
