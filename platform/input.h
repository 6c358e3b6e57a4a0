// Mouse and joystick on SDL2 for the engine's input manager: buffered mouse buttons, accumulated
// relative motion, the cursor fall-back, control characters made from key downs, and the first
// joystick read as absolute axes 0..65535, a hat in hundredths of degrees and up to 32 buttons.
// Main thread only (the event watch runs where SDL pumps events, which is the main thread).
#pragma once

#include <cstdint>

struct PlatformWindow;

enum PlatformInputEventType {
  kPlatformInputNone = 0,
  kPlatformInputMouseButton,  // value: button 0..4 (left, right, middle, x1, x2), value2: 1 down
  kPlatformInputMouseMotion,  // value, value2: relative dx, dy
  kPlatformInputCharacter,    // value: a control character the text input never carries
};

struct PlatformInputEvent {
  int type = kPlatformInputNone;
  int value = 0;
  int value2 = 0;
};

// Starts buffering (an SDL event watch, so events are seen whoever drains the SDL queue).
// Counted; safe to call more than once.
void platformInputInit();
void platformInputShutdown();
// Buttons and characters in arrival order; motion is summed (see platformMouseTakeMotion).
// The buffer holds 64 entries, the oldest are dropped beyond that. Also what the watch calls.
void platformInputPush(const PlatformInputEvent& event);
bool platformInputTakeEvent(PlatformInputEvent* event);
// The summed relative motion since the last call.
void platformMouseTakeMotion(int* dx, int* dy);
void platformInputClear();

// Ctrl + V gives 22 and Ctrl + C gives 3 (what the console's paste and clear expect); 0 otherwise.
// `keyCode` is the layout's character in lower case.
int platformControlCharacter(int keyCode, bool ctrlHeld, bool altHeld);

// Relative mode with the pointer confined to the window; false when the video driver refuses it.
bool platformMouseSetRelative(PlatformWindow* window, bool on);
// The fall-back: the pointer confined to the window (hidden), read as a position and warped back.
void platformMouseConfine(PlatformWindow* window, bool on);
// The window's client rectangle in screen coordinates, limited to the display; false without one.
bool platformWindowScreenRect(PlatformWindow* window, int* x, int* y, int* width, int* height);
bool platformCursorScreenPosition(int* x, int* y);
// False when the video driver cannot move the pointer (some cannot, the headless one among them).
bool platformCursorSetScreenPosition(int x, int y);

// The first joystick, read like the old multimedia joystick: axes X, Y, Z, R, U, V as 0..65535
// (32768 centred), the hat in hundredths of degrees clockwise from up (65535 centred).
struct PlatformJoystickState {
  int axisCount = 0;
  uint32_t axes[6] = {32768, 32768, 32768, 32768, 32768, 32768};
  uint32_t pov = 65535;
  int buttonCount = 0;
  uint32_t buttons = 0;  // bit n: button n held (n < 32)
};

// Opens the first attached joystick; false when there is none (not an error).
bool platformJoystickOpen();
void platformJoystickClose();
bool platformJoystickRead(PlatformJoystickState* state);
// An SDL hat bit set (up 1, right 2, down 4, left 8) in hundredths of degrees; 65535 centred.
uint32_t platformHatToHundredths(int hatBits);
// An SDL axis value (-32768..32767) as 0..65535.
uint32_t platformAxisToUnsigned(int value);
