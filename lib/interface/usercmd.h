// UserCmd: the player's input for one game step, built by the key bindings' command generator,
// delta-coded onto the wire by the network and handed to the game module (32 per step).
#pragma once

#include <cstddef>
#include <cstdint>

// The game module reads this record directly, so its layout is fixed at 32 bytes.
struct UserCmd {
  int32_t frame;      // the caller's frame number
  int32_t time;       // game time in milliseconds the command was built for
  int32_t reserved;   // never written by the generator; 8 bits of it travel on the wire
  uint8_t buttons;    // bit n: "_button" n held; bit 2 also while running
  int8_t forward;     // -127..127, positive forward
  int8_t right;       // -127..127, positive to the right
  int8_t up;          // -127..127, positive up (jump), negative crouch
  int16_t angles[3];  // pitch, yaw, roll as angle * 65536 / 360, truncated toward zero
  int16_t cursorX;    // interface cursor in 640x480 units
  int16_t cursorY;
  uint8_t impulse;       // the last impulse number
  uint8_t impulseFlags;  // bit 0 flips with every new impulse
  int32_t sequence;      // one more for each command built
};

static_assert(sizeof(UserCmd) == 32, "UserCmd is a 32-byte record shared with the game module");
static_assert(offsetof(UserCmd, buttons) == 12 && offsetof(UserCmd, angles) == 16 &&
                  offsetof(UserCmd, impulse) == 26 && offsetof(UserCmd, sequence) == 28,
              "UserCmd field offsets are shared with the game module");
