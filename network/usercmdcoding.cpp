// The wire coding of a user command against the one before it, carried by every client packet:
// time and frame as small steps where they fit, every other field as a changed/unchanged bit.
#include <cstdint>

#include "lib/interface/usercmd.h"
#include "network/bitmsg.h"

namespace {

// Steps of 0..limit go as a 1 bit and the step; anything else (a clock that went back, a jump)
// as a 0 bit and the full value. 64-bit difference: times may sit anywhere in the int32 range.
void writeStep(BitMsg& msg, int32_t oldValue, int32_t newValue, int stepBits) {
  const int64_t step = int64_t(newValue) - int64_t(oldValue);
  if (step >= 0 && step < (int64_t(1) << stepBits)) {
    msg.writeBits(1, 1);
    msg.writeBits(int32_t(step), stepBits);
  } else {
    msg.writeBits(0, 1);
    msg.writeBits(newValue, 32);
  }
}

int32_t readStep(BitMsg& msg, int32_t oldValue, int stepBits) {
  if (msg.readBits(1)) {
    const uint32_t step = uint32_t(msg.readBits(stepBits)) & ((1u << stepBits) - 1u);
    return int32_t(uint32_t(oldValue) + step);
  }
  return msg.readBits(32);
}

// The unsigned value of the field's bit count after a 1 bit; the caller narrows it to the field.
uint32_t readField(BitMsg& msg, uint32_t oldValue, int numBits) {
  if (msg.readBits(1)) {
    const uint32_t mask = numBits >= 32 ? 0xffffffffu : (1u << numBits) - 1u;
    return uint32_t(msg.readBits(numBits)) & mask;
  }
  return oldValue;
}

}  // namespace

// Signed fields go as their unsigned bit patterns (identical on the wire), so only values that
// really lose bits (a spare above 255, a cursor outside 0..1023 or 0..511) count as truncated.
void BitMsg::writeDeltaUserCmd(const UserCmd& base, const UserCmd& cmd) {
  writeStep(*this, base.time, cmd.time, 4);
  writeStep(*this, base.frame, cmd.frame, 8);
  writeDeltaBits(base.reserved, cmd.reserved, 8);
  for (int i = 0; i < 3; ++i) {
    writeDeltaBits(uint16_t(base.angles[i]), uint16_t(cmd.angles[i]), 16);
  }
  writeDeltaBits(uint8_t(base.forward), uint8_t(cmd.forward), 8);
  writeDeltaBits(uint8_t(base.right), uint8_t(cmd.right), 8);
  writeDeltaBits(uint8_t(base.up), uint8_t(cmd.up), 8);
  writeDeltaBits(base.buttons, cmd.buttons, 16);
  writeDeltaBits(base.cursorX, cmd.cursorX, 10);
  writeDeltaBits(base.cursorY, cmd.cursorY, 9);
  writeDeltaBits(base.impulse, cmd.impulse, 8);
  writeDeltaBits(base.impulseFlags, cmd.impulseFlags, 32);
  writeDeltaBits(base.sequence, cmd.sequence, 32);
}

void BitMsg::readDeltaUserCmd(const UserCmd& base, UserCmd& cmd) {
  UserCmd out;  // base and cmd may be the same record
  out.time = readStep(*this, base.time, 4);
  out.frame = readStep(*this, base.frame, 8);
  out.reserved = int32_t(readField(*this, uint32_t(base.reserved), 8));
  for (int i = 0; i < 3; ++i) {
    out.angles[i] = int16_t(uint16_t(readField(*this, uint16_t(base.angles[i]), 16)));
  }
  out.forward = int8_t(uint8_t(readField(*this, uint8_t(base.forward), 8)));
  out.right = int8_t(uint8_t(readField(*this, uint8_t(base.right), 8)));
  out.up = int8_t(uint8_t(readField(*this, uint8_t(base.up), 8)));
  out.buttons = uint8_t(readField(*this, base.buttons, 16));
  out.cursorX = int16_t(uint16_t(readField(*this, uint16_t(base.cursorX), 10)));
  out.cursorY = int16_t(uint16_t(readField(*this, uint16_t(base.cursorY), 9)));
  out.impulse = uint8_t(readField(*this, base.impulse, 8));
  out.impulseFlags = uint8_t(readField(*this, base.impulseFlags, 32));
  out.sequence = int32_t(readField(*this, uint32_t(base.sequence), 32));
  cmd = out;
}
