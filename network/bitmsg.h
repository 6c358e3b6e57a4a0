// BitMsg: the bit stream that every packet, game message and key/value dictionary on the wire goes
// through, least significant bit first, over a buffer its owner supplies (it never allocates).
// BitMsgDelta: a record's fields coded as changes against a stored base message.
#pragma once

#include <cstdint>

#include "lib/vector.h"

class KeyDict;
struct UserCmd;

class BitMsg {
 public:
  // Longest text writeString puts on the wire (a longer one goes as an empty string).
  static constexpr int MAX_STRING_CHARS = 1024;

  BitMsg() = default;
  BitMsg(void* data, int maxSize) { init(data, maxSize); }

  // Ties the message to a buffer; positions stay as they are. maxSize is clamped to 0..2^28 - 1
  // so bit positions fit in an int32.
  void init(void* data, int maxSize);
  // A message to read a received or foreign buffer: nothing is ever written through it (writers
  // refuse), writeBit = bytes * 8, readBit = 0.
  void initRead(const void* data, int bytes);
  // Positions, counts and the overflow flag back to zero; a writable buffer is filled with zeros.
  void clear();

  uint8_t* getData() { return readOnly_ ? nullptr : data_; }
  const uint8_t* getData() const { return data_; }
  int getMaxSize() const { return maxSize_; }
  // Bytes to send or copy: floor(writeBit / 8) + 1, so always at least 1.
  int getSize() const { return (writeBit_ >> 3) + 1; }
  int getWriteBit() const { return writeBit_; }
  int getReadBit() const { return readBit_; }
  // Both clamp to 0..maxSize * 8 and forget a raw block just passed. A receiver sets writeBit to
  // the packet's size in bits.
  void setWriteBit(int bit);
  void setReadBit(int bit);
  int getRemainingReadBits() const;
  int getTruncatedCount() const { return truncatedCount_; }
  bool isOverflowed() const { return overflowed_; }
  bool isReadOnly() const { return readOnly_; }

  // The room test of every writer: false when `bytes` more fit; otherwise prints the overflow
  // warnings, sets the overflow flag, puts writeBit back to 0 and returns true.
  bool checkOverflow(int bytes);

  // n in -31..32, not 0; a negative n is a signed value of |n| bits. A value outside its range
  // is written masked and counted in truncatedCount.
  void writeBits(int32_t value, int numBits);
  // A read past writeBit sets the overflow flag, returns -1 and leaves readBit where it was.
  int32_t readBits(int numBits);

  void writeBool(bool value) { writeBits(value ? 1 : 0, 1); }
  void writeChar(int value) { writeBits(value, -8); }
  void writeByte(int value) { writeBits(value, 8); }
  void writeShort(int value) { writeBits(value, -16); }
  void writeInt(int32_t value) { writeBits(value, 32); }
  void writeFloat(float value);
  // degrees * 65536 / 360 truncated toward zero, low 16 bits; NaN and infinities go as 0.
  void writeAngle16(float degrees);

  // Failed reads give: true, -1, 255, -1, -1, the float of all bits set (a NaN).
  bool readBool() { return readBits(1) != 0; }
  int readChar() { return readBits(-8); }
  int readByte() { return readBits(8) & 0xff; }
  int readShort() { return readBits(-16); }
  int32_t readInt() { return readBits(32); }
  float readFloat();
  // unpackFloat of exponentBits (2..8) + mantissaBits (1..23) + 1 bits.
  float readFloatBits(int exponentBits, int mantissaBits);
  float readAngle16();
  // A unit direction of numBits (6..32) bits. A bad count prints an error, sets the overflow
  // flag and gives the zero vector without reading.
  Vec3 readDir(int numBits);
  // The packing readDir reads (the same count rules).
  void writeDir(const Vec3& dir, int numBits);

  // A 0 bit when the value equals old; else a 1 bit and the value in numBits.
  void writeDeltaBits(int32_t oldValue, int32_t newValue, int numBits);
  int32_t readDeltaBits(int32_t oldValue, int numBits);
  void writeDeltaChar(int oldValue, int newValue) { writeDeltaBits(oldValue, newValue, -8); }
  void writeDeltaByte(int oldValue, int newValue) { writeDeltaBits(oldValue, newValue, 8); }
  void writeDeltaShort(int oldValue, int newValue) { writeDeltaBits(oldValue, newValue, -16); }
  void writeDeltaInt(int32_t oldValue, int32_t newValue) { writeDeltaBits(oldValue, newValue, 32); }
  // Equality is bitwise, so 0 and -0 differ and an unchanged NaN is not resent.
  void writeDeltaFloat(float oldValue, float newValue);
  int readDeltaChar(int oldValue) { return readDeltaBits(oldValue, -8); }
  int readDeltaByte(int oldValue) { return readDeltaBits(oldValue, 8) & 0xff; }
  int readDeltaShort(int oldValue) { return readDeltaBits(oldValue, -16); }
  int32_t readDeltaInt(int32_t oldValue) { return readDeltaBits(oldValue, 32); }
  float readDeltaFloat(float oldValue);

  // maxLen -1: no limit; otherwise at most maxLen - 1 characters. A null text or one of
  // MAX_STRING_CHARS characters or more goes as an empty string. A string goes whole or, when it
  // does not fit, not at all (overflow). sevenBit: 7 bits a character, 128 and above become ".";
  // otherwise a byte-aligned block (see getByteSpace) that readString with sevenBit false pairs.
  void writeString(const char* text, int maxLen = -1, bool sevenBit = true);
  // Reads up to the terminator (or a failed read) and stores at most size - 1 characters and a
  // terminator; the rest is read and dropped. Size 0 stores nothing. Returns the count stored.
  int readString(char* buffer, int size, bool sevenBit = true);

  // Without base: every pair, then two empty strings. With base: the pairs that are new or whose
  // value differs (ignoring ASCII case), an empty string, the keys base has and dict lacks, an
  // empty string. Returns whether anything besides the two empty strings was written.
  bool writeKeyDict(const KeyDict& dict, const KeyDict* base = nullptr);
  // dict becomes base (or empty), then pairs are set and keys removed as read. Returns whether
  // anything was set or removed.
  bool readKeyDict(KeyDict& dict, const KeyDict* base = nullptr);

  // User commands against the one before (time and frame as small steps where they fit).
  void writeDeltaUserCmd(const UserCmd& base, const UserCmd& cmd);
  void readDeltaUserCmd(const UserCmd& base, UserCmd& cmd);

  // Raw blocks. getByteSpace raises writeBit to a byte boundary p and reserves bytes
  // p + 1 .. p + numBytes (byte p keeps what it held); writeBit becomes (p + numBytes) * 8, so the
  // byte size floor(writeBit / 8) + 1 ends with the block. The block's last byte thus lies under
  // the write position: a following block takes it as its skipped byte, and a following bit value
  // starts on the next byte instead of overwriting it. When the room test fails, nothing is
  // reserved and the result is null.
  uint8_t* getByteSpace(int numBytes);
  // getByteSpace and a copy; writes nothing when the room test fails.
  void writeData(const void* bytes, int numBytes);
  // The mirror of writeData: the block is copied from one byte past the aligned read position
  // and the read position follows the writer's rules. A block reaching past the written bytes
  // reads nothing (buffer untouched), sets the overflow flag and returns false.
  bool readData(void* buffer, int numBytes);
  // numBytes times 8 bits from the read position (no alignment); past writeBit a byte reads 255.
  void readBytes(void* buffer, int numBytes);

  // Direction packing: k = numBits / 3 bits per component, sign bit on top of a magnitude of
  // k - 1 bits, z in the lowest bits. numBits must be 6..32.
  static uint32_t dirToBits(const Vec3& dir, int numBits);
  static Vec3 bitsToDir(uint32_t bits, int numBits);
  // The 16-bit angle code as a signed value, and back to degrees (360 / 65536 a step).
  static int angleToShort(float degrees);
  static float shortToAngle(int value) { return float(value) * (360.0f / 65536.0f); }

 private:
  bool writable(const char* caller);
  __attribute__((noinline, cold)) void overflowRefused(int bytes);
  int32_t failRead();
  // Readable bits: those below writeBit, and the block byte under it.
  int readLimit() const { return writeBit_ + (writeInBlock_ ? 8 : 0); }
  int readStart() const { return readBit_ + (readInBlock_ ? 8 : 0); }
  // Byte index of the block's skipped byte at the read position.
  int alignedReadByte() const { return readInBlock_ ? readBit_ >> 3 : (readBit_ + 7) >> 3; }

  uint8_t* data_ = nullptr;
  int32_t maxSize_ = 0;
  int32_t writeBit_ = 0;
  int32_t readBit_ = 0;
  int32_t truncatedCount_ = 0;
  bool overflowed_ = false;
  bool readOnly_ = false;
  // The byte under writeBit (readBit) is the last byte of a raw block just written (read).
  bool writeInBlock_ = false;
  bool readInBlock_ = false;
};

// Reads and writes a record's fields as changes against a base message read in step with them.
// Writing: newBase receives every value; with a base, writeDelta gets a 0 bit for an unchanged
// value or a 1 bit and the value; without a base, the value alone. Reading mirrors it.
class BitMsgDelta {
 public:
  BitMsgDelta() = default;

  // base and newBase may be null; writeDelta must not be.
  void initWriting(BitMsg* base, BitMsg* newBase, BitMsg* writeDelta);
  // base and newBase may be null; readDelta may be null only with a base (every field unchanged).
  void initReading(BitMsg* base, BitMsg* newBase, BitMsg* readDelta);

  bool hasChanged() const { return changed_; }

  void writeBits(int32_t value, int numBits);
  void writeDeltaBits(int32_t oldValue, int32_t newValue, int numBits);
  void writeBool(bool value) { writeBits(value ? 1 : 0, 1); }
  void writeChar(int value) { writeBits(value, -8); }
  void writeByte(int value) { writeBits(value, 8); }
  void writeShort(int value) { writeBits(value, -16); }
  void writeInt(int32_t value) { writeBits(value, 32); }
  void writeFloat(float value);
  void writeFloatBits(float value, int exponentBits, int mantissaBits);
  void writeAngle16(float degrees);
  void writeDir(const Vec3& dir, int numBits);
  void writeDeltaChar(int oldValue, int newValue) { writeDeltaBits(oldValue, newValue, -8); }
  void writeDeltaByte(int oldValue, int newValue) { writeDeltaBits(oldValue, newValue, 8); }
  void writeDeltaShort(int oldValue, int newValue) { writeDeltaBits(oldValue, newValue, -16); }
  void writeDeltaInt(int32_t oldValue, int32_t newValue) { writeDeltaBits(oldValue, newValue, 32); }
  void writeDeltaFloat(float oldValue, float newValue);
  void writeDeltaFloatBits(float oldValue, float newValue, int exponentBits, int mantissaBits);
  void writeString(const char* text);

  int32_t readBits(int numBits);
  int32_t readDeltaBits(int32_t oldValue, int numBits);
  bool readBool() { return readBits(1) != 0; }
  int readChar() { return readBits(-8); }
  int readByte() { return readBits(8) & 0xff; }
  int readShort() { return readBits(-16); }
  int32_t readInt() { return readBits(32); }
  float readFloat();
  float readFloatBits(int exponentBits, int mantissaBits);
  float readAngle16();
  Vec3 readDir(int numBits);
  int32_t readDeltaInt(int32_t oldValue) { return readDeltaBits(oldValue, 32); }
  float readDeltaFloat(float oldValue);
  float readDeltaFloatBits(float oldValue, int exponentBits, int mantissaBits);
  // At most size - 1 characters and a terminator; size 0 stores nothing.
  void readString(char* buffer, int size);

 private:
  BitMsg* base_ = nullptr;
  BitMsg* newBase_ = nullptr;
  BitMsg* writeDelta_ = nullptr;
  BitMsg* readDelta_ = nullptr;
  bool changed_ = false;
};
