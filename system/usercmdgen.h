// UserCmdGen: the player's command for one game step, built from the movement, button and impulse
// commands the key bindings run on press ("+") and release ("-") and from the mouse movement.
// Lives inside the key bindings; main thread only.
#pragma once

#include <cstdint>

#include "lib/interface/usercmd.h"

class UserCmdGen {
 public:
  static constexpr int kButtonCount = 16;
  static constexpr int kImpulseCount = 32;

  UserCmdGen();
  ~UserCmdGen();

  // Registers "_button0".."_button7", the movement commands, "_speed" and "_impulse0".."_impulse31";
  // they act on this generator while it exists.
  void registerCommands();

  // Key states, buttons and the pending impulse.
  void clear();
  // The command, the view angles, the frame parity and the mouse deltas (the input's restart).
  void resetView();
  // Mouse movement for the next command (already scaled by "m_uisensitivity").
  void addMouseDelta(int dx, int dy);
  // Drops the movement not yet turned into a command (both frames' halves).
  void clearMouse() {
    mouseDx_[0] = mouseDx_[1] = 0;
    mouseDy_[0] = mouseDy_[1] = 0;
  }
  // Builds a new command when `time` differs from the stored one's, then copies it out.
  void getUserCmd(UserCmd* out, int time, int frame, float cursorX, float cursorY);

  const UserCmd& command() const { return cmd_; }
  const float* viewAngles() const { return angles_; }

  // The command bodies (public for the command table).
  void keyCommand(int* state, const char* word);
  void buttonCommand(const char* word);
  void impulseCommand(const char* word, const char* argument, bool hasArgument);

  // A view angle moved to 0..360 in steps of 360 / 65536 (the 16-bit wrap).
  static float wrapAngle(float degrees);
  // An angle as the 16-bit fraction of 360 degrees the command carries.
  static int16_t angleToShort(float degrees);

  // Key states, in the order the commands are registered.
  int forward = 0;
  int back = 0;
  int moveUp = 0;
  int moveDown = 0;
  int moveLeft = 0;
  int moveRight = 0;
  int speed = 0;
  int buttons[kButtonCount] = {};
  int pendingImpulse = -1;

 private:
  void build(int time, int frame, float cursorX, float cursorY);

  UserCmd cmd_ = {};
  float angles_[3] = {};
  int parity_ = 0;
  int mouseDx_[2] = {};
  int mouseDy_[2] = {};
};
