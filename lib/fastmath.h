// Table-driven sine and cosine, the bit-trick reciprocal square root, 16-bit
// packed unit normals, colour/normal byte conversions and the compact float
// format of bit-packed messages.
#pragma once

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>

#include "lib/vector.h"

// One quarter wave: entry i = sin(i * (pi/2) / 1024).
extern const std::array<float, 1024> g_sinTable;
// Entry i = acos(i / 512 - 1).
extern const std::array<float, 1024> g_acosTable;

inline constexpr float kHalfPi = 1.5707964f;
inline constexpr float kDegToRad = 0.0174532925199f;
inline constexpr float kRadToDeg = 57.2957795132f;

// Reciprocal square root from the 0x5F3759DF estimate refined by Newton steps.
inline float fastInvSqrt(float x, int newtonSteps = 2) {
  float y = std::bit_cast<float>(0x5F3759DFu - (std::bit_cast<uint32_t>(x) >> 1));
  float half = 0.5f * x;
  for (int i = 0; i < newtonSteps; i++)
    y = y * (1.5f - half * y * y);
  return y;
}

// A 12-bit angle index: bits 0-9 the entry, bits 10-11 the quadrant.
inline float fastSinIndex(int index) {
  int e = index & 1023;
  switch ((index >> 10) & 3) {
    case 0:
      return g_sinTable[e];
    case 1:
      return g_sinTable[1023 - e];
    case 2:
      return -g_sinTable[e];
    default:
      return -g_sinTable[1023 - e];
  }
}

// Table sine: the index is trunc(radians * 1024 / (pi/2)). Arguments beyond
// the int range are wrapped by whole turns first (their index bits are what
// matters); NaN reads as 0.
inline float fastSin(float radians) {
  float t = radians * 1024.0f / kHalfPi;
  if (!(std::fabs(t) < 2147483648.0f))
    t = std::isnan(t) ? 0.0f : std::fmod(t, 4096.0f);
  return fastSinIndex(static_cast<int>(t));
}
inline float fastCos(float radians) {
  return fastSin(radians + kHalfPi);
}

// Decodes two 6-bit angles with their quadrants into a unit vector.
Vec3 decodePackedNormal(uint16_t bits);

// A component times 255 as a byte, clamped to 0..255 (NaN and negatives give 0).
uint8_t floatToByte(float f);
// Three bytes, x in the lowest.
uint32_t normalToRGB(const Vec3& v);
// Four bytes, x in the lowest, w in the highest.
uint32_t colorToRGBA(const Vec4& color);
Vec3 rgbToVec(uint32_t bits);
Vec4 rgbaToVec4(uint32_t bits);

// A float in exponentBits + mantissaBits + 1 bits (sign, exponent sign,
// exponent magnitude, top mantissa bits), clamped to the representable range.
// Widths: exponent 2..8, mantissa 1..23; others give 0.
int32_t packFloat(float value, int exponentBits, int mantissaBits);
float unpackFloat(int32_t bits, int exponentBits, int mantissaBits);

// Float to int without undefined behaviour: NaN gives 0, out-of-range values
// clamp to the int range. Truncates towards zero.
inline int clampedFloatToInt(float f) {
  if (!(f == f))
    return 0;
  if (f >= 2147483648.0f)
    return 2147483647;
  if (f <= -2147483648.0f)
    return -2147483647 - 1;
  return static_cast<int>(f);
}
