// InputManager: the mouse and the first joystick turned into system events once per frame (key
// events for buttons and joystick directions, mouse movements), over platform/input.h. The
// keyboard arrives through the window; its scan codes are translated by system/keymap.h.
#pragma once

#include <cstdint>

#include "lib/interface/inputinterface.h"
#include "platform/input.h"

// Key codes the joystick presses.
constexpr int kKeyJoy1 = 185;
constexpr int kKeyMouse1 = 178;
constexpr int kMouseButtonCount = 5;  // MOUSE1..MOUSE5

// Direction bits of a joystick reading: bits 0..7 the axes X, Y, Z, R below -threshold and above
// +threshold, bits 12..15 the hat at 0, 18000, 9000 and 27000 hundredths of degrees.
uint32_t joystickDirections(const PlatformJoystickState& state, float threshold);
// The key a direction bit presses; 0 for a bit without one.
int joystickDirectionKey(int bit);

class InputManager : public InputInterface {
 public:
  InputManager();
  ~InputManager() override;

  bool init(void* window, void* instance, int flags) override;
  // Inactive releases the mouse at once: a video restart deactivates before it destroys the
  // window, and the grab must not outlive the window it was taken on.
  void setActive(bool active) override;
  void shutdown() override;
  void poll(InputEventCallback callback, int mode) override;

  // Creates the one instance on first use (create set) and publishes g_inputInterface.
  static InputManager* getInstance(bool create);

  // One joystick reading against the previous one: button and direction changes as key events,
  // the ball axes as a mouse movement (public for tests, which feed readings directly).
  void processJoystick(const PlatformJoystickState& state, InputEventCallback callback);

  bool isGrabbed() const { return grabbed_; }
  bool isActive() const { return active_; }
  int flags() const { return flags_; }

 private:
  void readMouse(InputEventCallback callback);
  void grabMouse();
  void releaseMouse();

  int flags_ = 0;
  bool active_ = true;
  bool grabbed_ = false;
  bool initialised_ = false;
  bool fallback_ = false;  // the grab confines the cursor instead of relative mode
  int centreX_ = 0;
  int centreY_ = 0;
  int lastX_ = 0;  // where the fall-back last saw (or put) the cursor
  int lastY_ = 0;
  void* window_ = nullptr;
  bool joystickPresent_ = false;
  uint32_t previousButtons_ = 0;
  uint32_t previousDirections_ = 0;
  uint8_t buttonState_[kMouseButtonCount] = {};
};

void destroyInputManager();
