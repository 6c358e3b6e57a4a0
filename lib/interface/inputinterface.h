// The input devices as the key bindings drive them: mouse and joystick turned into system events
// once per frame. One implementation (InputManager, system/inputmanager.h), published here.
#pragma once

// Receives what a poll produces, in the fields of a SystemEvent (type, value, second value, data
// length, data): key events (type 1) and mouse movements (type 3), plus control characters (type 2).
using InputEventCallback = void (*)(int type, int value, int value2, int dataLength, void* data);

// Device flags for init.
enum InputDeviceFlag : int {
  kInputKeyboard = 1,  // never used here: the keyboard arrives through the window
  kInputMouse = 2,
  kInputJoystick = 4,
};

class InputInterface {
 public:
  virtual ~InputInterface() = default;

  // window: the platform window handle (null: no window, nothing is grabbed).
  virtual bool init(void* window, void* instance, int flags) = 0;
  virtual void setActive(bool active) = 0;
  virtual void shutdown() = 0;
  // mode: the key bindings' input-mode word.
  virtual void poll(InputEventCallback callback, int mode) = 0;
};

inline InputInterface* g_inputInterface = nullptr;
