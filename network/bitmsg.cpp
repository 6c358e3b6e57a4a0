// BitMsg: bit access, typed values, strings, key/value dictionaries, raw blocks and the float and
// direction packings. Every read is bounded by writeBit, whatever the buffer holds, so a message
// over a received packet can be read with any sequence of readers.
#include "network/bitmsg.h"

#include <bit>
#include <cassert>
#include <cmath>
#include <cstdarg>
#include <cstring>

#include "lib/fastmath.h"
#include "lib/interface/cmdsystem.h"
#include "lib/keydict.h"
#include "lib/simd.h"
#include "lib/str.h"

static_assert(std::endian::native == std::endian::little,
              "the 64-bit load and store paths of writeBits and readBits assume little-endian words");

namespace {

// Largest buffer whose bit positions still fit an int32.
constexpr int kMaxBufferBytes = (1 << 28) - 1;

inline uint32_t lowMask(int bits) {
  return bits >= 32 ? 0xffffffffu : (1u << bits) - 1u;
}

inline bool validBitCount(int numBits) {
  return numBits != 0 && numBits >= -31 && numBits <= 32;
}

// The widths packFloat and unpackFloat accept.
inline bool validFloatWidths(int exponentBits, int mantissaBits) {
  return exponentBits >= 2 && exponentBits <= 8 && mantissaBits >= 1 && mantissaBits <= 23;
}

inline uint32_t floatBits(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof(bits));
  return bits;
}

inline float bitsFloat(uint32_t bits) {
  float value;
  std::memcpy(&value, &bits, sizeof(value));
  return value;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Set-up

void BitMsg::init(void* data, int maxSize) {
  if (maxSize < 0) {
    maxSize = 0;
  }
  if (maxSize > kMaxBufferBytes) {
    cmdPrintf("WARNING: BitMsg::init: buffer of %i bytes cut to %i\n", maxSize, kMaxBufferBytes);
    maxSize = kMaxBufferBytes;
  }
  data_ = static_cast<uint8_t*>(data);
  maxSize_ = maxSize;
  readOnly_ = false;
  // Positions stay, but never beyond the buffer: reads are bounded by writeBit.
  if (writeBit_ > maxSize_ * 8 - (writeInBlock_ ? 8 : 0)) {
    writeBit_ = maxSize_ * 8;
    writeInBlock_ = false;
  }
}

void BitMsg::initRead(const void* data, int bytes) {
  // Never written through: every writer checks readOnly_ first.
  init(const_cast<void*>(data), bytes);
  readOnly_ = true;
  writeBit_ = maxSize_ * 8;
  readBit_ = 0;
  truncatedCount_ = 0;
  overflowed_ = false;
  writeInBlock_ = false;
  readInBlock_ = false;
}

void BitMsg::clear() {
  writeBit_ = 0;
  readBit_ = 0;
  truncatedCount_ = 0;
  overflowed_ = false;
  writeInBlock_ = false;
  readInBlock_ = false;
  if (data_ && !readOnly_ && maxSize_ > 0) {
    g_simd->memset(data_, 0, size_t(maxSize_));
  }
}

void BitMsg::setWriteBit(int bit) {
  writeBit_ = bit < 0 ? 0 : (bit > maxSize_ * 8 ? maxSize_ * 8 : bit);
  writeInBlock_ = false;
}

void BitMsg::setReadBit(int bit) {
  readBit_ = bit < 0 ? 0 : (bit > maxSize_ * 8 ? maxSize_ * 8 : bit);
  readInBlock_ = false;
}

int BitMsg::getRemainingReadBits() const {
  const int remaining = readLimit() - readStart();
  return remaining > 0 ? remaining : 0;
}

bool BitMsg::writable(const char* caller) {
  if (!data_) {
    cmdPrintf("ERROR: BitMsg::%s: Could not write data. pData == NULL!\n", caller);
    return false;
  }
  if (readOnly_) {
    cmdPrintf("ERROR: BitMsg::%s: the message is read-only\n", caller);
    overflowed_ = true;
    return false;
  }
  return true;
}

int32_t BitMsg::failRead() {
  overflowed_ = true;
  return -1;
}

bool BitMsg::checkOverflow(int bytes) {
  // The byte under the write position counts as used, so the byte size floor(writeBit / 8) + 1
  // always lies inside the buffer.
  const int room = maxSize_ - (writeBit_ >> 3) - 1;
  if (__builtin_expect(bytes <= room, 1)) {
    return false;
  }
  overflowRefused(bytes);
  return true;
}

void BitMsg::overflowRefused(int bytes) {
  if (bytes > maxSize_) {
    cmdPrintf("WARNING: BitMsg overflow with %i number of bytes, max is %i\n", bytes, maxSize_);
  }
  cmdPrintf("WARNING: BitMsg overflow\n");
  writeBit_ = 0;
  writeInBlock_ = false;
  overflowed_ = true;
}

// ---------------------------------------------------------------------------------------------
// Bits

void BitMsg::writeBits(int32_t value, int numBits) {
  if (__builtin_expect(!data_ || readOnly_, 0)) {
    writable("writeBits");
    return;
  }
  if (!validBitCount(numBits)) {
    cmdPrintf("ERROR: BitMsg::writeBits: Could not write %d bits!\n", numBits);
    overflowed_ = true;
    return;
  }
  int bits = numBits < 0 ? -numBits : numBits;
  if (writeInBlock_) {
    // Keep the last byte of the block just written: this value starts on the next byte.
    writeBit_ += 8;
    writeInBlock_ = false;
  }
  if (checkOverflow((bits >> 3) + 1)) {
    return;
  }
  if (bits != 32) {
    if (numBits > 0) {
      if (value < 0 || uint32_t(value) > lowMask(bits)) {
        ++truncatedCount_;
      }
    } else {
      const int32_t limit = int32_t(1) << (bits - 1);
      if (value < -limit || value >= limit) {
        ++truncatedCount_;
      }
    }
  }
  // A byte entered at bit 0 is zeroed first, so no earlier content of the buffer survives in it;
  // bits are ORed in. Both paths store exactly what moving one bit at a time would.
  uint32_t v = uint32_t(value) & lowMask(bits);
  int pos = writeBit_;
  const int first = pos >> 3;
  const int offset = pos & 7;
  if (bits > 8 && first + 8 <= maxSize_) {
    // One little-endian 64-bit load and store; bytes past the value are stored unchanged. Small
    // values stay on the byte path: a wide load overlapping the previous wide store cannot be
    // forwarded from it and stalls.
    const int covered = (offset + bits + 7) >> 3;
    uint64_t clear = covered >= 8 ? ~uint64_t(0) : (uint64_t(1) << (covered * 8)) - 1u;
    if (offset != 0) {
      clear &= ~uint64_t(0xff);
    }
    uint64_t word;
    std::memcpy(&word, data_ + first, sizeof(word));
    word = (word & ~clear) | (uint64_t(v) << offset);
    std::memcpy(data_ + first, &word, sizeof(word));
    writeBit_ = pos + bits;
    return;
  }
  while (bits > 0) {
    uint8_t& byte = data_[pos >> 3];
    const int at = pos & 7;
    if (at == 0) {
      byte = 0;
    }
    const int take = bits < 8 - at ? bits : 8 - at;
    byte = uint8_t(byte | ((v & lowMask(take)) << at));
    v >>= take;
    bits -= take;
    pos += take;
  }
  writeBit_ = pos;
}

int32_t BitMsg::readBits(int numBits) {
  if (!data_) {
    cmdPrintf("ERROR: BitMsg::readBits: Could not read data. pData == NULL!\n");
    return failRead();
  }
  if (!validBitCount(numBits)) {
    cmdPrintf("ERROR: BitMsg::readBits: Could not read %d bits!\n", numBits);
    return failRead();
  }
  const int bits = numBits < 0 ? -numBits : numBits;
  if (readLimit() - readStart() < bits) {
    return failRead();
  }
  uint32_t v = 0;
  int got = 0;
  int pos = readStart();
  if ((pos >> 3) + 8 <= maxSize_) {
    // Bits past the limit may be loaded but are masked off; the load stays inside the buffer.
    uint64_t word;
    std::memcpy(&word, data_ + (pos >> 3), sizeof(word));
    v = uint32_t(word >> (pos & 7)) & lowMask(bits);
    got = bits;
    pos += bits;
  }
  while (got < bits) {
    const int offset = pos & 7;
    const int take = bits - got < 8 - offset ? bits - got : 8 - offset;
    v |= ((uint32_t(data_[pos >> 3]) >> offset) & lowMask(take)) << got;
    got += take;
    pos += take;
  }
  readBit_ = pos;
  readInBlock_ = false;
  if (numBits < 0 && bits < 32 && (v & (1u << (bits - 1)))) {
    v |= ~lowMask(bits);
  }
  return int32_t(v);
}

// ---------------------------------------------------------------------------------------------
// Typed values

void BitMsg::writeFloat(float value) {
  writeBits(int32_t(floatBits(value)), 32);
}

float BitMsg::readFloat() {
  return bitsFloat(uint32_t(readBits(32)));
}

float BitMsg::readFloatBits(int exponentBits, int mantissaBits) {
  if (!validFloatWidths(exponentBits, mantissaBits)) {
    cmdPrintf("ERROR: BitMsg::readFloatBits: Could not read %d exponent and %d mantissa bits!\n",
              exponentBits, mantissaBits);
    failRead();
    return 0.0f;
  }
  return unpackFloat(readBits(exponentBits + mantissaBits + 1), exponentBits, mantissaBits);
}

int BitMsg::angleToShort(float degrees) {
  // Float arithmetic as the game module does it; out-of-range and non-finite angles must not
  // reach an undefined float-to-int conversion.
  const float scaled = degrees * 65536.0f / 360.0f;
  if (!std::isfinite(scaled)) {
    return 0;
  }
  const int32_t whole = int32_t(std::fmod(std::trunc(scaled), 65536.0f));
  return int16_t(uint16_t(uint32_t(whole) & 0xffffu));
}

void BitMsg::writeAngle16(float degrees) {
  writeBits(angleToShort(degrees), -16);
}

float BitMsg::readAngle16() {
  return shortToAngle(readBits(-16));
}

Vec3 BitMsg::readDir(int numBits) {
  if (numBits < 6 || numBits > 32) {
    cmdPrintf("ERROR: BitMsg::readDir: Could not read %d bits!\n", numBits);
    failRead();
    return Vec3::zero();
  }
  return bitsToDir(uint32_t(readBits(numBits)), numBits);
}

void BitMsg::writeDir(const Vec3& dir, int numBits) {
  if (numBits < 6 || numBits > 32) {
    cmdPrintf("ERROR: BitMsg::writeDir: Could not write %d bits!\n", numBits);
    overflowed_ = true;
    return;
  }
  writeBits(int32_t(dirToBits(dir, numBits)), numBits);
}

// ---------------------------------------------------------------------------------------------
// Delta values

void BitMsg::writeDeltaBits(int32_t oldValue, int32_t newValue, int numBits) {
  if (oldValue == newValue) {
    writeBits(0, 1);
    return;
  }
  writeBits(1, 1);
  writeBits(newValue, numBits);
}

int32_t BitMsg::readDeltaBits(int32_t oldValue, int numBits) {
  if (readBits(1)) {
    return readBits(numBits);
  }
  return oldValue;
}

void BitMsg::writeDeltaFloat(float oldValue, float newValue) {
  writeDeltaBits(int32_t(floatBits(oldValue)), int32_t(floatBits(newValue)), 32);
}

float BitMsg::readDeltaFloat(float oldValue) {
  return bitsFloat(uint32_t(readDeltaBits(int32_t(floatBits(oldValue)), 32)));
}

// ---------------------------------------------------------------------------------------------
// Strings

void BitMsg::writeString(const char* text, int maxLen, bool sevenBit) {
  if (!writable("writeString")) {
    return;
  }
  size_t length = text ? std::strlen(text) : 0;
  if (maxLen >= 0 && length >= size_t(maxLen)) {
    length = maxLen > 0 ? size_t(maxLen) - 1 : 0;
  }
  if (length >= size_t(MAX_STRING_CHARS)) {
    cmdPrintf("WARNING: BitMsg::writeString >= MAX_STRING_CHARS\n");
    length = 0;
  }
  const int len = int(length);
  if (sevenBit) {
    // One room test for the whole string: a string goes whole or not at all, never as a head
    // followed by the tail at the front of the buffer.
    if (checkOverflow((len + 1) * 7 / 8 + 1)) {
      return;
    }
    for (int i = 0; i < len; ++i) {
      const uint8_t c = uint8_t(text[i]);
      writeBits(c >= 128 ? '.' : c, 7);
    }
    writeBits(0, 7);
    return;
  }
  // 8-bit: a raw block of the characters and the terminator, which readString pairs.
  uint8_t* out = getByteSpace(len + 1);
  if (!out) {
    return;
  }
  for (int i = 0; i < len; ++i) {
    const uint8_t c = uint8_t(text[i]);
    out[i] = c == 0xff ? uint8_t('.') : c;  // 255 ends a string on reading
  }
  out[len] = 0;
}

int BitMsg::readString(char* buffer, int size, bool sevenBit) {
  int stored = 0;
  if (sevenBit) {
    for (;;) {
      const int c = readBits(7);
      if (c <= 0 || c >= 255) {
        break;
      }
      if (stored < size - 1) {
        buffer[stored++] = char(c);
      }
    }
  } else {
    // The block written by the 8-bit writeString: one byte past the aligned read position.
    int b = alignedReadByte() + 1;
    bool terminated = false;
    while (data_ && (b + 1) * 8 <= readLimit()) {
      const int c = data_[b];
      if (c == 0 || c == 255) {
        terminated = true;
        break;
      }
      if (stored < size - 1) {
        buffer[stored++] = char(c);
      }
      ++b;
    }
    if (terminated) {
      readBit_ = b * 8;
      readInBlock_ = true;
    } else {
      // No terminator before the end: the rest of the message is the string's.
      failRead();
      if (readBit_ < writeBit_) {
        readBit_ = writeBit_;
        readInBlock_ = false;
      }
    }
  }
  if (size > 0) {
    buffer[stored] = 0;
  }
  return stored;
}

// ---------------------------------------------------------------------------------------------
// Key/value dictionaries

bool BitMsg::writeKeyDict(const KeyDict& dict, const KeyDict* base) {
  bool changed = false;
  if (!base) {
    for (int i = 0; i < dict.count(); ++i) {
      writeString(dict.keyAt(i));
      writeString(dict.valueAt(i));
      changed = true;
    }
    writeString("");
    writeString("");
    return changed;
  }
  for (int i = 0; i < dict.count(); ++i) {
    const KeyValue* old = base->findKey(dict.keyAt(i));
    if (!old || String::icmp(old->valueText(), dict.valueAt(i)) != 0) {
      writeString(dict.keyAt(i));
      writeString(dict.valueAt(i));
      changed = true;
    }
  }
  writeString("");
  for (int i = 0; i < base->count(); ++i) {
    if (!dict.findKey(base->keyAt(i))) {
      writeString(base->keyAt(i));
      changed = true;
    }
  }
  writeString("");
  return changed;
}

bool BitMsg::readKeyDict(KeyDict& dict, const KeyDict* base) {
  if (!base) {
    dict.clear();
  } else if (base != &dict) {
    dict = *base;
  }
  char key[MAX_STRING_CHARS];
  char value[MAX_STRING_CHARS];
  bool changed = false;
  // A failed read gives an empty string, so both loops end at the end of the message.
  while (readString(key, sizeof(key)) > 0) {
    readString(value, sizeof(value));
    dict.set(key, value);
    changed = true;
  }
  while (readString(key, sizeof(key)) > 0) {
    if (dict.findKeyIndex(key) >= 0) {
      dict.remove(key);
      changed = true;
    }
  }
  return changed;
}

// ---------------------------------------------------------------------------------------------
// Raw bytes

uint8_t* BitMsg::getByteSpace(int numBytes) {
  if (!data_) {
    cmdPrintf("ERROR: BitMsg::getByteSpace could not write to msg\n");
    return nullptr;
  }
  if (!writable("getByteSpace")) {
    return nullptr;
  }
  if (numBytes < 0) {
    cmdPrintf("ERROR: BitMsg::getByteSpace: Could not reserve %d bytes!\n", numBytes);
    overflowed_ = true;
    return nullptr;
  }
  // After a block writeBit is aligned already and the block's last byte becomes the skipped byte.
  writeBit_ = (writeBit_ + 7) & ~7;
  if (checkOverflow(numBytes)) {
    return nullptr;
  }
  const int p = writeBit_ >> 3;
  writeBit_ = (p + numBytes) * 8;
  if (numBytes > 0) {
    writeInBlock_ = true;
  }
  return data_ + p + 1;
}

void BitMsg::writeData(const void* bytes, int numBytes) {
  uint8_t* out = getByteSpace(numBytes);
  if (out && numBytes > 0) {
    g_simd->memcpy(out, bytes, size_t(numBytes));
  }
}

bool BitMsg::readData(void* buffer, int numBytes) {
  if (!data_ || numBytes < 0) {
    failRead();
    return false;
  }
  const int p = alignedReadByte();
  const int64_t end = numBytes == 0 ? int64_t(p) * 8 : (int64_t(p) + numBytes + 1) * 8;
  if (end > readLimit()) {
    failRead();
    return false;
  }
  readBit_ = (p + numBytes) * 8;
  if (numBytes > 0) {
    g_simd->memcpy(buffer, data_ + p + 1, size_t(numBytes));
    readInBlock_ = true;
  }
  return true;
}

void BitMsg::readBytes(void* buffer, int numBytes) {
  uint8_t* out = static_cast<uint8_t*>(buffer);
  for (int i = 0; i < numBytes; ++i) {
    const int32_t v = readBits(8);
    out[i] = v < 0 ? 255 : uint8_t(v);
  }
}

// ---------------------------------------------------------------------------------------------
// Packings

uint32_t BitMsg::dirToBits(const Vec3& dir, int numBits) {
  assert(numBits >= 6 && numBits <= 32 && "BitMsg::dirToBits: a direction needs 6..32 bits");
  if (numBits < 6 || numBits > 32) {
    return 0;
  }
  const int k = numBits / 3;
  const uint32_t max = (1u << (k - 1)) - 1u;
  const float fmax = float(max);
  uint32_t bits = 0;
  for (int i = 0; i < 3; ++i) {
    const float c = dir[i];
    const float m = std::floor(fmax * (std::fabs(c) + 0.5f / fmax));
    // Longer than unit (or NaN) components are clamped rather than spilling into the sign bit.
    const uint32_t magnitude = m >= fmax ? max : (m > 0.0f ? uint32_t(m) : 0u);
    const uint32_t sign = std::signbit(c) ? 1u : 0u;
    bits |= (magnitude | (sign << (k - 1))) << ((2 - i) * k);
  }
  return bits;
}

Vec3 BitMsg::bitsToDir(uint32_t bits, int numBits) {
  assert(numBits >= 6 && numBits <= 32 && "BitMsg::bitsToDir: a direction needs 6..32 bits");
  if (numBits < 6 || numBits > 32) {
    return Vec3::zero();
  }
  const int k = numBits / 3;
  const uint32_t max = (1u << (k - 1)) - 1u;
  Vec3 dir;
  for (int i = 0; i < 3; ++i) {
    const uint32_t field = bits >> ((2 - i) * k);
    const float sign = (field >> (k - 1)) & 1u ? -1.0f : 1.0f;
    dir[i] = sign * float(field & max) / float(max);
  }
  dir.normalizeFast();
  return dir;
}
