// The application window on SDL2: display modes, one window with a GL surface,
// its events as plain records, cursor and clipboard. Main thread only.
#pragma once

#include <cstddef>

// One display mode. Colour depth is bytes per pixel x 8 (SDL reports 24 bits
// for 32-bit pixel formats); a refresh rate of 0 means the driver does not say.
struct PlatformDisplayMode {
  int width = 0;
  int height = 0;
  int bitsPerPixel = 0;
  int refreshRate = 0;
  int fixedOutput = 0;
};

// Starts the video subsystem (counted; safe to call more than once).
bool platformVideoInit();
void platformVideoShutdown();

// The primary display's current mode and its name; false without a display.
bool platformDesktopMode(PlatformDisplayMode* mode, char* deviceName, size_t nameSize);
// Every mode of the primary display, unfiltered, into out (at most capacity);
// the number of modes, -1 without a display. A driver that lists no usable mode
// (the headless driver) offers its desktop mode.
int platformDisplayModes(PlatformDisplayMode* out, int capacity);

// Opaque. The handle is the one platform/gl.h takes as a window; set the GL
// attributes (platformGLSetAttributes) before creating it.
struct PlatformWindow;

// Windowed: the client area has the given size, centred. Full screen: the
// window covers the display in the given mode. Hidden until shown. The window
// always carries an OpenGL surface.
PlatformWindow* platformWindowCreate(const char* title, int width, int height, bool fullScreen);
void platformWindowDestroy(PlatformWindow* window);
void platformWindowShow(PlatformWindow* window);
void platformWindowSetTitle(PlatformWindow* window, const char* title);
void platformWindowClientSize(PlatformWindow* window, int* width, int* height);
// Switches a full-screen window to the mode; false when the display refuses.
bool platformWindowSetDisplayMode(PlatformWindow* window, int width, int height, int bitsPerPixel);
// Leaves full screen and returns the display to the desktop mode.
void platformWindowRestoreDesktop(PlatformWindow* window);
// The handle as the untyped window of platform/gl.h.
void* platformWindowNative(PlatformWindow* window);

// Window events in the shape of the old window messages.
enum PlatformEventType {
  kPlatformEventNone = 0,
  kPlatformEventClose,     // the user closed the window
  kPlatformEventSize,      // value, value2: client width, height
  kPlatformEventActivate,  // value: 1 active, 0 inactive
  kPlatformEventKeyDown,   // value: set-1 scan code, value2: 1 extended; system: Alt held
  kPlatformEventKeyUp,
  kPlatformEventCharacter,   // value: character code 1..255
  kPlatformEventMouseWheel,  // value: wheel delta (positive away from the user)
  kPlatformEventQuit,        // the process is asked to end
};

struct PlatformEvent {
  int type = kPlatformEventNone;
  int value = 0;
  int value2 = 0;
  bool system = false;  // key events while Alt is held (the old "system key" messages)
  bool hasWindow = true;
};

// Takes the next window event; false when none is waiting. Events the engine
// has no use for are skipped.
bool platformPollEvent(PlatformEvent* event);

// Translates an SDL scan code into a set-1 scan code with its extended flag
// (0 when the key has none).
int platformScanCodeToSet1(int sdlScanCode, bool* extended);

void platformShowCursor(bool show);
// Confines the pointer to the window and hides it (relative motion), or frees it.
void platformGrabCursor(PlatformWindow* window, bool grab);
void platformWarpCursor(PlatformWindow* window, int x, int y);

// Clipboard text into out (at most size - 1 characters); false when empty.
bool platformClipboardText(char* out, size_t size);
bool platformSetClipboardText(const char* text);
