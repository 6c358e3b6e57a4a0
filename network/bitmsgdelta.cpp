// BitMsgDelta: fields read and written as changes against a base message that is read in step
// with them, while newBase collects every value to become the next base.
#include <cassert>
#include <cstring>

#include "lib/fastmath.h"
#include "lib/interface/cmdsystem.h"
#include "network/bitmsg.h"

namespace {

bool sameBits(int32_t a, int32_t b, int numBits) {
  const int bits = numBits < 0 ? -numBits : numBits;
  const uint32_t mask = bits >= 32 ? 0xffffffffu : (1u << bits) - 1u;
  return ((uint32_t(a) ^ uint32_t(b)) & mask) == 0;
}

uint32_t floatBits(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof(bits));
  return bits;
}

float bitsFloat(uint32_t bits) {
  float value;
  std::memcpy(&value, &bits, sizeof(value));
  return value;
}

// The widths packFloat and unpackFloat accept.
bool validFloatWidths(int exponentBits, int mantissaBits) {
  return exponentBits >= 2 && exponentBits <= 8 && mantissaBits >= 1 && mantissaBits <= 23;
}

// Widths come from callers, the game module among them: a bad one fails softly as BitMsg's own
// checks do, with a message and every message involved marked overflowed (a bit count of 0 is
// refused by BitMsg, which marks itself), never an abort.
void refuseWidths(const char* caller, int a, int b, BitMsg* first, BitMsg* second, BitMsg* third,
                  bool reading) {
  cmdPrintf("ERROR: BitMsgDelta::%s: Could not %s with widths %d and %d!\n", caller,
            reading ? "read" : "write", a, b);
  for (BitMsg* msg : {first, second, third}) {
    if (!msg) {
      continue;
    }
    if (reading && msg != third) {
      msg->readBits(0);
    } else {
      msg->writeBits(0, 0);
    }
  }
}

}  // namespace

void BitMsgDelta::initWriting(BitMsg* base, BitMsg* newBase, BitMsg* writeDelta) {
  assert(writeDelta && "BitMsgDelta::initWriting: a writer needs a delta message");
  base_ = base;
  newBase_ = newBase;
  writeDelta_ = writeDelta;
  readDelta_ = nullptr;
  changed_ = false;
}

void BitMsgDelta::initReading(BitMsg* base, BitMsg* newBase, BitMsg* readDelta) {
  assert((base || readDelta) && "BitMsgDelta::initReading: neither a base nor a delta message");
  base_ = base;
  newBase_ = newBase;
  writeDelta_ = nullptr;
  readDelta_ = readDelta;
  changed_ = false;
}

// ---------------------------------------------------------------------------------------------
// Writing

void BitMsgDelta::writeBits(int32_t value, int numBits) {
  if (newBase_) {
    newBase_->writeBits(value, numBits);
  }
  if (!writeDelta_) {
    return;
  }
  if (base_) {
    // Compared as the base holds it: masked to the bit count.
    if (sameBits(base_->readBits(numBits), value, numBits)) {
      writeDelta_->writeBits(0, 1);
      return;
    }
    writeDelta_->writeBits(1, 1);
  }
  writeDelta_->writeBits(value, numBits);
  changed_ = true;
}

void BitMsgDelta::writeDeltaBits(int32_t oldValue, int32_t newValue, int numBits) {
  if (newBase_) {
    newBase_->writeBits(newValue, numBits);
  }
  if (!writeDelta_) {
    return;
  }
  if (base_) {
    if (sameBits(base_->readBits(numBits), newValue, numBits)) {
      writeDelta_->writeBits(0, 1);
      return;
    }
    writeDelta_->writeBits(1, 1);
  }
  writeDelta_->writeDeltaBits(oldValue, newValue, numBits);
  changed_ = true;
}

void BitMsgDelta::writeFloat(float value) {
  writeBits(int32_t(floatBits(value)), 32);
}

void BitMsgDelta::writeFloatBits(float value, int exponentBits, int mantissaBits) {
  if (!validFloatWidths(exponentBits, mantissaBits)) {
    refuseWidths("writeFloatBits", exponentBits, mantissaBits, writeDelta_, nullptr, newBase_, false);
    return;
  }
  writeBits(packFloat(value, exponentBits, mantissaBits), exponentBits + mantissaBits + 1);
}

void BitMsgDelta::writeAngle16(float degrees) {
  writeBits(BitMsg::angleToShort(degrees), -16);
}

void BitMsgDelta::writeDir(const Vec3& dir, int numBits) {
  if (numBits < 6 || numBits > 32) {
    refuseWidths("writeDir", numBits, numBits, writeDelta_, nullptr, newBase_, false);
    return;
  }
  writeBits(int32_t(BitMsg::dirToBits(dir, numBits)), numBits);
}

void BitMsgDelta::writeDeltaFloat(float oldValue, float newValue) {
  writeDeltaBits(int32_t(floatBits(oldValue)), int32_t(floatBits(newValue)), 32);
}

void BitMsgDelta::writeDeltaFloatBits(float oldValue, float newValue, int exponentBits, int mantissaBits) {
  if (!validFloatWidths(exponentBits, mantissaBits)) {
    refuseWidths("writeDeltaFloatBits", exponentBits, mantissaBits, writeDelta_, nullptr, newBase_, false);
    return;
  }
  writeDeltaBits(packFloat(oldValue, exponentBits, mantissaBits),
                 packFloat(newValue, exponentBits, mantissaBits), exponentBits + mantissaBits + 1);
}

void BitMsgDelta::writeString(const char* text) {
  if (!text) {
    text = "";
  }
  if (newBase_) {
    newBase_->writeString(text);
  }
  if (!writeDelta_) {
    return;
  }
  if (base_) {
    char old[BitMsg::MAX_STRING_CHARS];
    base_->readString(old, sizeof(old));
    if (std::strcmp(old, text) == 0) {
      writeDelta_->writeBits(0, 1);
      return;
    }
    writeDelta_->writeBits(1, 1);
  }
  writeDelta_->writeString(text);
  changed_ = true;
}

// ---------------------------------------------------------------------------------------------
// Reading

int32_t BitMsgDelta::readBits(int numBits) {
  int32_t value = 0;
  if (base_) {
    value = base_->readBits(numBits);
    if (readDelta_ && readDelta_->readBits(1) == 1) {
      value = readDelta_->readBits(numBits);
      changed_ = true;
    }
  } else if (readDelta_) {
    value = readDelta_->readBits(numBits);
    changed_ = true;
  }
  if (newBase_) {
    newBase_->writeBits(value, numBits);
  }
  return value;
}

int32_t BitMsgDelta::readDeltaBits(int32_t oldValue, int numBits) {
  int32_t value = oldValue;
  if (base_) {
    value = base_->readBits(numBits);
    if (readDelta_ && readDelta_->readBits(1) == 1) {
      value = readDelta_->readDeltaBits(oldValue, numBits);
      changed_ = true;
    }
  } else if (readDelta_) {
    value = readDelta_->readDeltaBits(oldValue, numBits);
    changed_ = true;
  }
  if (newBase_) {
    newBase_->writeBits(value, numBits);
  }
  return value;
}

float BitMsgDelta::readFloat() {
  return bitsFloat(uint32_t(readBits(32)));
}

float BitMsgDelta::readFloatBits(int exponentBits, int mantissaBits) {
  if (!validFloatWidths(exponentBits, mantissaBits)) {
    refuseWidths("readFloatBits", exponentBits, mantissaBits, readDelta_, base_, newBase_, true);
    return 0.0f;
  }
  return unpackFloat(readBits(exponentBits + mantissaBits + 1), exponentBits, mantissaBits);
}

float BitMsgDelta::readAngle16() {
  return BitMsg::shortToAngle(readBits(-16));
}

Vec3 BitMsgDelta::readDir(int numBits) {
  if (numBits < 6 || numBits > 32) {
    refuseWidths("readDir", numBits, numBits, readDelta_, base_, newBase_, true);
    return Vec3::zero();
  }
  return BitMsg::bitsToDir(uint32_t(readBits(numBits)), numBits);
}

float BitMsgDelta::readDeltaFloat(float oldValue) {
  return bitsFloat(uint32_t(readDeltaBits(int32_t(floatBits(oldValue)), 32)));
}

float BitMsgDelta::readDeltaFloatBits(float oldValue, int exponentBits, int mantissaBits) {
  if (!validFloatWidths(exponentBits, mantissaBits)) {
    refuseWidths("readDeltaFloatBits", exponentBits, mantissaBits, readDelta_, base_, newBase_, true);
    return 0.0f;
  }
  const int32_t old = packFloat(oldValue, exponentBits, mantissaBits);
  return unpackFloat(readDeltaBits(old, exponentBits + mantissaBits + 1), exponentBits, mantissaBits);
}

void BitMsgDelta::readString(char* buffer, int size) {
  // The whole string as it went on the wire goes to newBase, never the caller's shortened copy:
  // a shorter string there would shift every later field of the next base.
  char text[BitMsg::MAX_STRING_CHARS];
  text[0] = 0;
  if (base_) {
    base_->readString(text, sizeof(text));
    if (readDelta_ && readDelta_->readBits(1) == 1) {
      readDelta_->readString(text, sizeof(text));
      changed_ = true;
    }
  } else if (readDelta_) {
    readDelta_->readString(text, sizeof(text));
    changed_ = true;
  }
  if (size > 0) {
    std::strncpy(buffer, text, size_t(size) - 1);
    buffer[size - 1] = 0;
  }
  if (newBase_) {
    newBase_->writeString(text);
  }
}
