// Conversions between host byte order and the little- and big-endian orders of
// file and wire data, through a table chosen by a run-time test of the host.
// "Long" here is always 32 bits.
#pragma once

#include <cstdint>

struct ByteOrderTable {
  int16_t (*bigShort)(int16_t value);
  int16_t (*littleShort)(int16_t value);
  int32_t (*bigLong)(int32_t value);
  int32_t (*littleLong)(int32_t value);
  float (*bigFloat)(float value);
  float (*littleFloat)(float value);
  void (*bigRevBytes)(void* data, int elementSize, int count);
  void (*littleRevBytes)(void* data, int elementSize, int count);
  void (*littleBitField)(void* data, int size);
  void (*sixtetsForInt)(uint8_t out[4], int32_t value);
  int32_t (*intForSixtets)(const uint8_t in[4]);
};

class Swap {
 public:
  // Tests the host's byte order and installs the matching column. True.
  static bool init();
  // Installs one column explicitly (tests exercise the big-endian one).
  static void install(bool littleEndianHost);
  static bool isLittleEndianHost();

  // Until init runs, the table holds the column the compiler knows the host
  // uses, so an early caller gets correct results instead of a null call.
  static ByteOrderTable table;
};

inline int16_t bigShort(int16_t value) {
  return Swap::table.bigShort(value);
}
inline int16_t littleShort(int16_t value) {
  return Swap::table.littleShort(value);
}
inline int32_t bigLong(int32_t value) {
  return Swap::table.bigLong(value);
}
inline int32_t littleLong(int32_t value) {
  return Swap::table.littleLong(value);
}
inline float bigFloat(float value) {
  return Swap::table.bigFloat(value);
}
inline float littleFloat(float value) {
  return Swap::table.littleFloat(value);
}
inline void bigRevBytes(void* data, int elementSize, int count) {
  Swap::table.bigRevBytes(data, elementSize, count);
}
inline void littleRevBytes(void* data, int elementSize, int count) {
  Swap::table.littleRevBytes(data, elementSize, count);
}
inline void littleBitField(void* data, int size) {
  Swap::table.littleBitField(data, size);
}
inline void sixtetsForInt(uint8_t out[4], int32_t value) {
  Swap::table.sixtetsForInt(out, value);
}
inline int32_t intForSixtets(const uint8_t in[4]) {
  return Swap::table.intForSixtets(in);
}

// Least-significant-bit-first bit streams. writeBit clears each byte as the
// position enters it.
void writeBit(int& position, void* buffer, int bit);
int readBit(int& position, const void* buffer);
