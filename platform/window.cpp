// SDL2 window, display modes and event translation. Keys leave here as set-1
// scan codes with the extended flag so the engine keeps one key table.
#include "platform/window.h"

#include <SDL.h>

#include <cstdio>
#include <cstring>

namespace {
int g_videoRefs = 0;

// A PlatformWindow is the SDL window itself, so the handle the engine passes
// around is the one the GL layer expects.
SDL_Window* sdl(PlatformWindow* window) {
  return reinterpret_cast<SDL_Window*>(window);
}

PlatformDisplayMode fromSdl(const SDL_DisplayMode& mode) {
  PlatformDisplayMode out;
  out.width = mode.w;
  out.height = mode.h;
  out.bitsPerPixel = SDL_BYTESPERPIXEL(mode.format) * 8;
  out.refreshRate = mode.refresh_rate;
  return out;
}

// SDL (USB HID) scan codes 0..100 to set-1 codes; 0x100 marks the extended flag.
// clang-format off
const unsigned short kSet1[101] = {
    0, 0, 0, 0,
    0x1E, 0x30, 0x2E, 0x20, 0x12, 0x21, 0x22, 0x23, 0x17, 0x24, 0x25, 0x26, 0x32,  // a..m
    0x31, 0x18, 0x19, 0x10, 0x13, 0x1F, 0x14, 0x16, 0x2F, 0x11, 0x2D, 0x15, 0x2C,  // n..z
    0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B,                    // 1..0
    0x1C, 0x01, 0x0E, 0x0F, 0x39, 0x0C, 0x0D, 0x1A, 0x1B, 0x2B, 0x2B, 0x27, 0x28,  // return..'
    0x29, 0x33, 0x34, 0x35, 0x3A,                                                  // ` , . / caps
    0x3B, 0x3C, 0x3D, 0x3E, 0x3F, 0x40, 0x41, 0x42, 0x43, 0x44, 0x57, 0x58,        // F1..F12
    0x137, 0x46, 0x45,                                                             // print scroll pause
    0x152, 0x147, 0x149, 0x153, 0x14F, 0x151,                                      // ins home pgup del end pgdn
    0x14D, 0x14B, 0x150, 0x148,                                                    // right left down up
    0x45, 0x135, 0x37, 0x4A, 0x4E, 0x11C,                                          // numlock kp / * - + enter
    0x4F, 0x50, 0x51, 0x4B, 0x4C, 0x4D, 0x47, 0x48, 0x49, 0x52, 0x53,              // kp 1..9 0 .
    0x56,                                                                          // non-US backslash
};
// clang-format on
}  // namespace

bool platformVideoInit() {
  if (g_videoRefs == 0 && SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
    std::fprintf(stderr, "video initialisation failed: %s\n", SDL_GetError());
    return false;
  }
  ++g_videoRefs;
  return true;
}

void platformVideoShutdown() {
  if (g_videoRefs > 0 && --g_videoRefs == 0)
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

bool platformDesktopMode(PlatformDisplayMode* mode, char* deviceName, size_t nameSize) {
  SDL_DisplayMode desktop;
  if (SDL_GetDesktopDisplayMode(0, &desktop) != 0)
    return false;
  if (mode)
    *mode = fromSdl(desktop);
  if (deviceName && nameSize) {
    const char* name = SDL_GetDisplayName(0);
    std::snprintf(deviceName, nameSize, "%s", name ? name : "");
  }
  return true;
}

int platformDisplayModes(PlatformDisplayMode* out, int capacity) {
  int count = SDL_GetNumDisplayModes(0);
  if (count < 0)
    return -1;
  int written = 0;
  for (int i = 0; i < count && written < capacity; ++i) {
    SDL_DisplayMode mode;
    if (SDL_GetDisplayMode(0, i, &mode) != 0 || mode.w <= 0 || mode.h <= 0)
      continue;
    out[written++] = fromSdl(mode);
  }
  if (written == 0 && capacity > 0) {
    SDL_DisplayMode desktop;
    if (SDL_GetDesktopDisplayMode(0, &desktop) == 0 && desktop.w > 0 && desktop.h > 0)
      out[written++] = fromSdl(desktop);
  }
  return written;
}

PlatformWindow* platformWindowCreate(const char* title, int width, int height, bool fullScreen) {
  Uint32 flags = SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN;
  if (fullScreen)
    flags |= SDL_WINDOW_FULLSCREEN;
  int x = fullScreen ? 0 : (int)SDL_WINDOWPOS_CENTERED;
  int y = fullScreen ? 0 : (int)SDL_WINDOWPOS_CENTERED;
  SDL_Window* window = SDL_CreateWindow(title ? title : "", x, y, width, height, flags);
  if (!window) {
    std::fprintf(stderr, "window creation failed: %s\n", SDL_GetError());
    return nullptr;
  }
  return reinterpret_cast<PlatformWindow*>(window);
}

void platformWindowDestroy(PlatformWindow* window) {
  if (!window)
    return;
  SDL_DestroyWindow(sdl(window));
}

void platformWindowShow(PlatformWindow* window) {
  if (window)
    SDL_ShowWindow(sdl(window));
}

void platformWindowSetTitle(PlatformWindow* window, const char* title) {
  if (window)
    SDL_SetWindowTitle(sdl(window), title ? title : "");
}

void platformWindowClientSize(PlatformWindow* window, int* width, int* height) {
  int w = 0, h = 0;
  if (window)
    SDL_GetWindowSize(sdl(window), &w, &h);
  if (width)
    *width = w;
  if (height)
    *height = h;
}

bool platformWindowSetDisplayMode(PlatformWindow* window, int width, int height, int bitsPerPixel) {
  if (!window)
    return false;
  SDL_DisplayMode wanted = {};
  wanted.w = width;
  wanted.h = height;
  wanted.format = bitsPerPixel >= 32 ? SDL_PIXELFORMAT_RGB888 : SDL_PIXELFORMAT_RGB565;
  SDL_DisplayMode closest;
  if (!SDL_GetClosestDisplayMode(0, &wanted, &closest))
    closest = wanted;
  if (SDL_SetWindowDisplayMode(sdl(window), &closest) != 0)
    return false;
  return SDL_SetWindowFullscreen(sdl(window), SDL_WINDOW_FULLSCREEN) == 0;
}

void platformWindowRestoreDesktop(PlatformWindow* window) {
  if (window)
    SDL_SetWindowFullscreen(sdl(window), 0);
}

void* platformWindowNative(PlatformWindow* window) {
  return window;
}

int platformScanCodeToSet1(int sdlScanCode, bool* extended) {
  int code = 0;
  if (sdlScanCode >= 0 && sdlScanCode < (int)(sizeof(kSet1) / sizeof(kSet1[0])))
    code = kSet1[sdlScanCode];
  else if (sdlScanCode == SDL_SCANCODE_LCTRL)
    code = 0x1D;
  else if (sdlScanCode == SDL_SCANCODE_LSHIFT)
    code = 0x2A;
  else if (sdlScanCode == SDL_SCANCODE_LALT)
    code = 0x38;
  else if (sdlScanCode == SDL_SCANCODE_LGUI)
    code = 0x15B;
  else if (sdlScanCode == SDL_SCANCODE_RCTRL)
    code = 0x11D;
  else if (sdlScanCode == SDL_SCANCODE_RSHIFT)
    code = 0x36;
  else if (sdlScanCode == SDL_SCANCODE_RALT)
    code = 0x138;
  else if (sdlScanCode == SDL_SCANCODE_RGUI)
    code = 0x15C;
  if (extended)
    *extended = (code & 0x100) != 0;
  return code & 0xFF;
}

bool platformPollEvent(PlatformEvent* event) {
  SDL_Event e;
  while (SDL_PollEvent(&e)) {
    PlatformEvent out;
    switch (e.type) {
      case SDL_QUIT:
        out.type = kPlatformEventQuit;
        break;
      case SDL_WINDOWEVENT:
        switch (e.window.event) {
          case SDL_WINDOWEVENT_CLOSE:
            out.type = kPlatformEventClose;
            break;
          case SDL_WINDOWEVENT_SIZE_CHANGED:
            out.type = kPlatformEventSize;
            out.value = e.window.data1;
            out.value2 = e.window.data2;
            break;
          case SDL_WINDOWEVENT_FOCUS_GAINED:
          case SDL_WINDOWEVENT_FOCUS_LOST:
            out.type = kPlatformEventActivate;
            out.value = e.window.event == SDL_WINDOWEVENT_FOCUS_GAINED ? 1 : 0;
            break;
          default:
            continue;
        }
        break;
      case SDL_KEYDOWN:
      case SDL_KEYUP: {
        bool extended = false;
        out.type = e.type == SDL_KEYDOWN ? kPlatformEventKeyDown : kPlatformEventKeyUp;
        out.value = platformScanCodeToSet1(e.key.keysym.scancode, &extended);
        out.value2 = extended ? 1 : 0;
        out.system = (e.key.keysym.mod & KMOD_ALT) != 0;
        if (out.value == 0)
          continue;
        break;
      }
      case SDL_TEXTINPUT: {
        // One event per character; UTF-8 beyond Latin-1 has no engine code.
        const unsigned char* s = (const unsigned char*)e.text.text;
        unsigned code = s[0];
        if (code >= 0xC0 && code < 0xC4 && (s[1] & 0xC0) == 0x80)
          code = ((code & 0x1F) << 6) | (s[1] & 0x3F);
        else if (code >= 0x80)
          continue;
        if (code == 0)
          continue;
        out.type = kPlatformEventCharacter;
        out.value = (int)code;
        break;
      }
      case SDL_MOUSEWHEEL:
        out.type = kPlatformEventMouseWheel;
        out.value = e.wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? -e.wheel.y : e.wheel.y;
        break;
      default:
        continue;
    }
    *event = out;
    return true;
  }
  return false;
}

void platformShowCursor(bool show) {
  SDL_ShowCursor(show ? SDL_ENABLE : SDL_DISABLE);
}

void platformGrabCursor(PlatformWindow* window, bool grab) {
  if (!window)
    return;
  SDL_SetWindowGrab(sdl(window), grab ? SDL_TRUE : SDL_FALSE);
  SDL_SetRelativeMouseMode(grab ? SDL_TRUE : SDL_FALSE);
}

void platformWarpCursor(PlatformWindow* window, int x, int y) {
  if (window)
    SDL_WarpMouseInWindow(sdl(window), x, y);
}

bool platformClipboardText(char* out, size_t size) {
  if (!out || size == 0)
    return false;
  out[0] = '\0';
  if (!SDL_HasClipboardText())
    return false;
  char* text = SDL_GetClipboardText();
  if (!text)
    return false;
  std::snprintf(out, size, "%s", text);
  SDL_free(text);
  return out[0] != '\0';
}

bool platformSetClipboardText(const char* text) {
  return SDL_SetClipboardText(text ? text : "") == 0;
}
