// The input manager: buffered mouse buttons and relative motion (or the cursor fall-back), the
// joystick's buttons, axes, hat and ball axes, all reported through the poll callback. The wheel
// is the window's alone (MWHEELUP/MWHEELDOWN from its events): SDL has one wheel source, and
// reading it here as well would turn every notch into two.
#include "system/inputmanager.h"

#include "lib/interface/cmdsystem.h"
#include "lib/interface/convarsystem.h"
#include "lib/interface/systeminterface.h"

// clang-format off
static ConVar in_mouse("in_mouse", "1", 0x20002);
static ConVar in_joystick("in_joystick", "0", 0x20001);
static ConVar in_joyBallScale("in_joyBallScale", "0.02", 0x20004);
static ConVar in_joyThreshold("in_joyThreshold", "0.15", 0x20004);
// clang-format on

namespace {

InputManager* s_instance = nullptr;

void ignoreEvent(int, int, int, int, void*) {}

// "r_fullscreen" lives with the window; without a registry its default (1) holds.
int fullScreen() {
  ConVar* var = g_conVarSystem ? g_conVarSystem->find("r_fullscreen") : nullptr;
  return var ? var->getInt() : 1;
}

// The multimedia joystick's mapping of direction bits to keys.
const int kDirectionKeys[16] = {134, 135, 132, 133, 200, 201, 202, 203, 0, 0, 0, 0, 208, 209, 210, 211};

}  // namespace

uint32_t joystickDirections(const PlatformJoystickState& state, float threshold) {
  uint32_t bits = 0;
  int axes = state.axisCount < 4 ? state.axisCount : 4;
  for (int i = 0; i < axes; ++i) {
    float value = ((float)state.axes[i] - 32768.0f) / 32768.0f;
    if (value < -threshold)
      bits |= 1u << (i * 2);
    else if (value > threshold)
      bits |= 1u << (i * 2 + 1);
  }
  switch (state.pov) {
    case 0:
      bits |= 1u << 12;
      break;
    case 18000:
      bits |= 1u << 13;
      break;
    case 9000:
      bits |= 1u << 14;
      break;
    case 27000:
      bits |= 1u << 15;
      break;
    default:
      break;
  }
  return bits;
}

int joystickDirectionKey(int bit) {
  return bit >= 0 && bit < 16 ? kDirectionKeys[bit] : 0;
}

InputManager::InputManager() = default;

InputManager::~InputManager() {
  shutdown();
  if (g_inputInterface == this)
    g_inputInterface = nullptr;
}

InputManager* InputManager::getInstance(bool create) {
  if (!s_instance && create) {
    s_instance = new InputManager();
    g_inputInterface = s_instance;
  }
  return s_instance;
}

void destroyInputManager() {
  delete s_instance;
  s_instance = nullptr;
  g_inputInterface = nullptr;
}

bool InputManager::init(void* window, void* /*instance*/, int flags) {
  shutdown();
  window_ = window;
  flags_ = flags;
  grabbed_ = false;
  fallback_ = false;
  for (uint8_t& state : buttonState_)
    state = 0;
  previousButtons_ = 0;
  previousDirections_ = 0;
  if (flags & kInputMouse)
    platformInputInit();
  if (flags & kInputJoystick)
    joystickPresent_ = platformJoystickOpen();
  initialised_ = true;
  // Whatever the devices gathered before now is stale.
  platformInputClear();
  readMouse(ignoreEvent);
  readMouse(ignoreEvent);
  return true;
}

void InputManager::shutdown() {
  if (!initialised_)
    return;
  releaseMouse();
  if (flags_ & kInputMouse)
    platformInputShutdown();
  if (joystickPresent_)
    platformJoystickClose();
  joystickPresent_ = false;
  initialised_ = false;
}

void InputManager::setActive(bool active) {
  active_ = active;
  if (!active)
    releaseMouse();
}

void InputManager::grabMouse() {
  if (grabbed_ || in_mouse.getInt() == 0)
    return;
  PlatformWindow* window = static_cast<PlatformWindow*>(window_);
  fallback_ = in_mouse.getInt() == -1;
  if (!fallback_ && !platformMouseSetRelative(window, true)) {
    if (g_cmdSystem)
      g_cmdSystem->printf("Falling back to Win32 mouse support...\n");
    in_mouse.setInt(-1);
    fallback_ = true;
  }
  if (fallback_) {
    int x = 0, y = 0, width = 0, height = 0;
    if (platformWindowScreenRect(window, &x, &y, &width, &height)) {
      centreX_ = x + width / 2;
      centreY_ = y + height / 2;
    }
    lastX_ = centreX_;
    lastY_ = centreY_;
    if (!platformCursorSetScreenPosition(centreX_, centreY_))
      platformCursorScreenPosition(&lastX_, &lastY_);
    platformMouseConfine(window, true);
  }
  // Motion and clicks from before the grab belong to the desktop, not the game.
  int ignored = 0;
  platformMouseTakeMotion(&ignored, &ignored);
  grabbed_ = true;
}

void InputManager::releaseMouse() {
  if (!grabbed_)
    return;
  PlatformWindow* window = static_cast<PlatformWindow*>(window_);
  if (fallback_)
    platformMouseConfine(window, false);
  else
    platformMouseSetRelative(window, false);
  grabbed_ = false;
}

void InputManager::readMouse(InputEventCallback callback) {
  if (!grabbed_) {
    for (int i = 0; i < kMouseButtonCount; ++i) {
      if (buttonState_[i]) {
        callback(kSystemEventKey, kKeyMouse1 + i, 0, 0, nullptr);
        buttonState_[i] = 0;
      }
    }
  }
  PlatformInputEvent event;
  while (platformInputTakeEvent(&event)) {
    if (event.type == kPlatformInputCharacter) {
      // Typed characters follow the keyboard, not the grab.
      callback(kSystemEventChar, event.value, 1, 0, nullptr);
      continue;
    }
    if (!grabbed_ || event.type != kPlatformInputMouseButton)
      continue;
    if (event.value < 0 || event.value >= kMouseButtonCount)
      continue;
    uint8_t down = event.value2 ? 1 : 0;
    if (buttonState_[event.value] == down)
      continue;
    buttonState_[event.value] = down;
    callback(kSystemEventKey, kKeyMouse1 + event.value, down, 0, nullptr);
  }
  int dx = 0, dy = 0;
  platformMouseTakeMotion(&dx, &dy);
  if (!grabbed_)
    return;
  if (fallback_) {
    // Movement is the distance from where the cursor was put; where the driver cannot put it
    // back at the centre, from where it was last seen (no phantom movement every frame).
    int x = 0, y = 0;
    dx = dy = 0;
    if (platformCursorScreenPosition(&x, &y)) {
      dx = x - lastX_;
      dy = y - lastY_;
      bool warped = (dx != 0 || dy != 0) ? platformCursorSetScreenPosition(centreX_, centreY_) : false;
      lastX_ = warped ? centreX_ : x;
      lastY_ = warped ? centreY_ : y;
    }
  }
  if (dx != 0 || dy != 0)
    callback(kSystemEventMouse, dx, dy, 0, nullptr);
}

void InputManager::processJoystick(const PlatformJoystickState& state, InputEventCallback callback) {
  uint32_t changed = state.buttons ^ previousButtons_;
  for (int i = 0; i < 32; ++i) {
    if (changed & (1u << i))
      callback(kSystemEventKey, kKeyJoy1 + i, (state.buttons >> i) & 1, 0, nullptr);
  }
  previousButtons_ = state.buttons;

  uint32_t directions = joystickDirections(state, in_joyThreshold.getFloat());
  changed = directions ^ previousDirections_;
  for (int bit = 0; bit < 16; ++bit) {
    if ((changed & (1u << bit)) && joystickDirectionKey(bit))
      callback(kSystemEventKey, joystickDirectionKey(bit), (directions >> bit) & 1, 0, nullptr);
  }
  previousDirections_ = directions;

  if (state.axisCount >= 6) {
    float scale = in_joyBallScale.getFloat();
    int dx = ConVar::floatToInt(((float)state.axes[4] - 32768.0f) * scale);
    int dy = ConVar::floatToInt(((float)state.axes[5] - 32768.0f) * scale);
    if (dx != 0 || dy != 0)
      callback(kSystemEventMouse, dx, dy, 0, nullptr);
  }
}

void InputManager::poll(InputEventCallback callback, int mode) {
  if (!callback)
    callback = ignoreEvent;
  if (!initialised_)
    return;
  if (!grabbed_)
    readMouse(callback);
  if (((mode & 1) && fullScreen() == 0) || !active_) {
    releaseMouse();
    return;
  }
  grabMouse();
  if ((flags_ & kInputJoystick) && joystickPresent_) {
    PlatformJoystickState state;
    if (platformJoystickRead(&state))
      processJoystick(state, callback);
  }
  readMouse(callback);
}
