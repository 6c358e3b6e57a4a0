// Byte-order table: the two columns and the host test that picks one.
#include "lib/byteorder.h"

#include <bit>
#include <cstring>

namespace {

int16_t swapShort(int16_t v) {
  return int16_t(uint16_t((uint16_t(v) >> 8) | (uint16_t(v) << 8)));
}
int16_t sameShort(int16_t v) {
  return v;
}
int32_t swapLong(int32_t v) {
  uint32_t u = uint32_t(v);
  return int32_t((u >> 24) | ((u >> 8) & 0xFF00u) | ((u << 8) & 0xFF0000u) | (u << 24));
}
int32_t sameLong(int32_t v) {
  return v;
}
float swapFloat(float v) {
  int32_t bits;
  std::memcpy(&bits, &v, 4);
  bits = swapLong(bits);
  std::memcpy(&v, &bits, 4);
  return v;
}
float sameFloat(float v) {
  return v;
}

void revBytes(void* data, int elementSize, int count) {
  if (!data || elementSize < 2 || count <= 0) {
    return;
  }
  uint8_t* p = static_cast<uint8_t*>(data);
  if (elementSize == 2) {
    for (int i = 0; i < count; ++i, p += 2) {
      uint8_t t = p[0];
      p[0] = p[1];
      p[1] = t;
    }
    return;
  }
  for (int i = 0; i < count; ++i, p += elementSize) {
    for (int a = 0, b = elementSize - 1; a < b; ++a, --b) {
      uint8_t t = p[a];
      p[a] = p[b];
      p[b] = t;
    }
  }
}
void noRevBytes(void*, int, int) {}

void revBitField(void* data, int size) {
  uint8_t* p = static_cast<uint8_t*>(data);
  for (int i = 0; p && i < size; ++i) {
    uint8_t b = p[i];
    b = uint8_t((b & 0xF0) >> 4 | (b & 0x0F) << 4);
    b = uint8_t((b & 0xCC) >> 2 | (b & 0x33) << 2);
    b = uint8_t((b & 0xAA) >> 1 | (b & 0x55) << 1);
    p[i] = b;
  }
}
void noBitField(void*, int) {}

// Little-endian host: the value's three lowest bytes, high bits of b0 first.
void sixtetsLittle(uint8_t out[4], int32_t value) {
  uint32_t u = uint32_t(value);
  uint8_t b0 = uint8_t(u), b1 = uint8_t(u >> 8), b2 = uint8_t(u >> 16);
  out[0] = uint8_t(b0 >> 2);
  out[1] = uint8_t(((b0 & 3) << 4) | (b1 >> 4));
  out[2] = uint8_t(((b1 & 15) << 2) | (b2 >> 6));
  out[3] = uint8_t(b2 & 63);
}
int32_t intLittle(const uint8_t in[4]) {
  uint32_t b0 = uint8_t((in[0] << 2) | (in[1] >> 4));
  uint32_t b1 = uint8_t(((in[1] & 15) << 4) | (in[2] >> 2));
  uint32_t b2 = uint8_t(((in[2] & 3) << 6) | in[3]);
  return int32_t(b0 | (b1 << 8) | (b2 << 16));
}

void sixtetsBig(uint8_t out[4], int32_t value) {
  uint32_t u = uint32_t(value);
  for (int i = 0; i < 4; ++i) {
    out[i] = uint8_t((u >> (6 * i)) & 63);
  }
}
int32_t intBig(const uint8_t in[4]) {
  return int32_t(uint32_t(in[0]) | uint32_t(in[1]) << 6 | uint32_t(in[2]) << 12 | uint32_t(in[3]) << 18);
}

constexpr ByteOrderTable kLittleHost = {swapShort,  sameShort,     swapLong, sameLong,
                                        swapFloat,  sameFloat,     revBytes, noRevBytes,
                                        noBitField, sixtetsLittle, intLittle};
constexpr ByteOrderTable kBigHost = {sameShort,  swapShort, sameLong,    swapLong,   sameFloat, swapFloat,
                                     noRevBytes, revBytes,  revBitField, sixtetsBig, intBig};

}  // namespace

constinit ByteOrderTable Swap::table = std::endian::native == std::endian::big ? kBigHost : kLittleHost;

bool Swap::isLittleEndianHost() {
  const uint8_t bytes[2] = {1, 0};
  uint16_t value;
  std::memcpy(&value, bytes, 2);
  return value == 1;
}

void Swap::install(bool littleEndianHost) {
  table = littleEndianHost ? kLittleHost : kBigHost;
}

bool Swap::init() {
  install(isLittleEndianHost());
  return true;
}

void writeBit(int& position, void* buffer, int bit) {
  uint8_t* p = static_cast<uint8_t*>(buffer) + (position >> 3);
  if ((position & 7) == 0) {
    *p = 0;
  }
  if (bit == 1) {
    *p = uint8_t(*p | (1u << (position & 7)));
  }
  ++position;
}

int readBit(int& position, const void* buffer) {
  const uint8_t* p = static_cast<const uint8_t*>(buffer) + (position >> 3);
  int bit = (*p >> (position & 7)) & 1;
  ++position;
  return bit;
}
