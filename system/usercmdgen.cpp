// The user-command generator: key-state commands, buttons, impulses and the per-step build with
// mouse smoothing, the 16-bit angle wrap, the run bit, the impulse toggle and the pitch limit.
#include "system/usercmdgen.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "lib/interface/cmdsystem.h"
#include "lib/interface/convarsystem.h"
#include "lib/str.h"

// clang-format off
static ConVar pm_alwaysrun("pm_alwaysrun", "1", 0x20001, "default movement is running speed");
static ConVar m_pitch("m_pitch", "0.022", 0x20004, "rate at which to tilt camera up/down");
static ConVar m_yaw("m_yaw", "0.022", 0x20004, "rate at which to turn camera");
static ConVar m_sensitivity("m_sensitivity", "5", 0x20004, "multiplier for mouse speed");
static ConVar m_smoothing("m_smoothing", "1", 0x20001, "smooth mouse movement");
// clang-format on

namespace {

// The generator the registered commands act on (the key bindings' one).
UserCmdGen* s_generator = nullptr;

struct KeyCommand {
  const char* name;
  const char* help;
  int UserCmdGen::*state;
};

const KeyCommand kKeyCommands[] = {
    {"_forward", "run forward", &UserCmdGen::forward},
    {"_back", "back step", &UserCmdGen::back},
    {"_moveup", "jump", &UserCmdGen::moveUp},
    {"_movedown", "crouch", &UserCmdGen::moveDown},
    {"_moveleft", "strafe left", &UserCmdGen::moveLeft},
    {"_moveright", "strafe right", &UserCmdGen::moveRight},
    {"_speed", "toggle walk/run", &UserCmdGen::speed},
};

// Command bodies find their state by the command's own name (word 0 less its sign).
void cmdKeyState(const CmdArgs& args) {
  if (!s_generator)
    return;
  const char* word = args.argv(0);
  const char* name = (*word == '+' || *word == '-') ? word + 1 : word;
  for (const KeyCommand& command : kKeyCommands) {
    if (String::icmp(name, command.name) == 0) {
      s_generator->keyCommand(&(s_generator->*command.state), word);
      return;
    }
  }
}

void cmdButton(const CmdArgs& args) {
  if (s_generator)
    s_generator->buttonCommand(args.argv(0));
}

void cmdImpulse(const CmdArgs& args) {
  if (s_generator)
    s_generator->impulseCommand(args.argv(0), args.argv(1), args.argc() > 1);
}

// The number after `prefix` in `text`, or -1 when there is none.
int numberAfter(const char* text, const char* prefix) {
  size_t length = std::strlen(prefix);
  if (String::icmpn(text, prefix, (int)length) != 0)
    return -1;
  const char* digits = text + length;
  if (*digits < '0' || *digits > '9')
    return -1;
  int value = 0;
  for (; *digits >= '0' && *digits <= '9' && value < 100000; ++digits)
    value = value * 10 + (*digits - '0');
  return value;
}

int clampMove(int value) {
  return value < -127 ? -127 : (value > 127 ? 127 : value);
}

}  // namespace

UserCmdGen::UserCmdGen() {
  clear();
}

UserCmdGen::~UserCmdGen() {
  if (s_generator == this)
    s_generator = nullptr;
}

void UserCmdGen::registerCommands() {
  s_generator = this;
  if (!g_cmdSystem)
    return;
  char name[32];
  for (int i = 0; i < 8; ++i) {
    std::snprintf(name, sizeof(name), "_button%d", i);
    g_cmdSystem->addCommand(name, cmdButton, kCmdFlagEngine, "buttons as primitives");
  }
  for (const KeyCommand& command : kKeyCommands)
    g_cmdSystem->addCommand(command.name, cmdKeyState, kCmdFlagEngine, command.help);
  for (int i = 0; i < kImpulseCount; ++i) {
    std::snprintf(name, sizeof(name), "_impulse%d", i);
    g_cmdSystem->addCommand(name, cmdImpulse, kCmdFlagEngine,
                            "single key presses events (like weapon switches, etc)");
  }
}

void UserCmdGen::clear() {
  forward = back = moveUp = moveDown = moveLeft = moveRight = speed = 0;
  for (int& button : buttons)
    button = 0;
  pendingImpulse = -1;
}

void UserCmdGen::resetView() {
  cmd_ = UserCmd{};
  angles_[0] = angles_[1] = angles_[2] = 0.0f;
  parity_ = 0;
  mouseDx_[0] = mouseDx_[1] = 0;
  mouseDy_[0] = mouseDy_[1] = 0;
}

void UserCmdGen::addMouseDelta(int dx, int dy) {
  mouseDx_[parity_] += dx;
  mouseDy_[parity_] += dy;
}

void UserCmdGen::keyCommand(int* state, const char* word) {
  *state = word && word[0] == '+' ? 1 : 0;
}

void UserCmdGen::buttonCommand(const char* word) {
  if (!word || (word[0] != '+' && word[0] != '-'))
    return;
  int number = numberAfter(word + 1, "_button");
  if (number < 0 || number >= kButtonCount)
    return;
  buttons[number] = word[0] == '+' ? 1 : 0;
}

void UserCmdGen::impulseCommand(const char* word, const char* argument, bool hasArgument) {
  if (!word || word[0] != '+')
    return;
  int number = hasArgument ? ConVar::textToInt(argument) : numberAfter(word + 1, "_impulse");
  if (number < 0)
    return;
  // Only the byte travels; keeping more would never match the command's byte and toggle forever.
  pendingImpulse = (number & 0xFF) | 0x10000;
}

float UserCmdGen::wrapAngle(float degrees) {
  float scaled = degrees * 182.04445f;
  // Out of any sane range (or NaN) the low bits mean nothing: start again from 0.
  if (!std::isfinite(scaled) || std::fabs(scaled) > 2.0e9f)
    return 0.0f;
  uint16_t units = (uint16_t)((uint32_t)(int32_t)scaled & 0xFFFFu);
  return (float)units * 0.0054931640625f;
}

int16_t UserCmdGen::angleToShort(float degrees) {
  float units = degrees * 65536.0f / 360.0f;
  if (!std::isfinite(units) || std::fabs(units) > 2.0e9f)
    return 0;
  return (int16_t)(int32_t)units;
}

void UserCmdGen::build(int time, int frame, float cursorX, float cursorY) {
  float oldPitch = angles_[0];
  cmd_.cursorX = (int16_t)ConVar::floatToInt(cursorX);
  cmd_.cursorY = (int16_t)ConVar::floatToInt(cursorY);

  float mx, my;
  if (m_smoothing.getInt() != 0) {
    mx = (float)(mouseDx_[0] + mouseDx_[1]) * 0.5f;
    my = (float)(mouseDy_[0] + mouseDy_[1]) * 0.5f;
  } else {
    mx = (float)mouseDx_[parity_];
    my = (float)mouseDy_[parity_];
  }
  parity_ ^= 1;
  mouseDx_[parity_] = 0;
  mouseDy_[parity_] = 0;

  float sensitivity = m_sensitivity.getFloat();
  angles_[0] = wrapAngle(angles_[0] + m_pitch.getFloat() * my * sensitivity);
  angles_[1] = wrapAngle(angles_[1] - m_yaw.getFloat() * mx * sensitivity);

  uint8_t bits = 0;
  if (pm_alwaysrun.getInt() != speed)
    bits |= 1 << 2;
  for (int i = 0; i < 8; ++i) {
    if (buttons[i])
      bits |= (uint8_t)(1 << i);
  }
  cmd_.buttons = bits;

  if (pendingImpulse >= 0 && pendingImpulse != cmd_.impulse) {
    cmd_.impulse = (uint8_t)(pendingImpulse & 0xFF);
    cmd_.impulseFlags ^= 1;
    pendingImpulse &= ~0x10000;
  }

  cmd_.forward = (int8_t)clampMove(127 * forward - 127 * back);
  cmd_.right = (int8_t)clampMove(127 * moveRight - 127 * moveLeft);
  cmd_.up = (int8_t)clampMove(127 * moveUp - 127 * moveDown);

  // Within 90 degrees of the previous pitch, measured the short way round: a small move across 0
  // (2 to 359) is 3 degrees, not 357.
  float change = angles_[0] - oldPitch;
  if (change > 180.0f)
    change -= 360.0f;
  else if (change < -180.0f)
    change += 360.0f;
  if (change > 90.0f)
    angles_[0] = wrapAngle(oldPitch + 90.0f);
  else if (change < -90.0f)
    angles_[0] = wrapAngle(oldPitch - 90.0f);

  ++cmd_.sequence;
  cmd_.time = time;
  cmd_.frame = frame;
  for (int i = 0; i < 3; ++i)
    cmd_.angles[i] = angleToShort(angles_[i]);
}

void UserCmdGen::getUserCmd(UserCmd* out, int time, int frame, float cursorX, float cursorY) {
  if (time != cmd_.time)
    build(time, frame, cursorX, cursorY);
  if (out)
    *out = cmd_;
}
