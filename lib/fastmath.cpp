// Fast trigonometry tables, packed normals, byte conversions and packed floats.
// The tables are built at compile time, so they are constant data that no
// static initialiser can ever see half-filled.
#include "lib/fastmath.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

// Taylor series in double; plenty for arguments in [0, pi].
constexpr double taylorSin(double x) {
  double term = x, sum = x;
  for (int k = 1; k < 22; k++) {
    term *= -x * x / ((2 * k) * (2 * k + 1));
    sum += term;
  }
  return sum;
}

constexpr double taylorCos(double x) {
  double term = 1.0, sum = 1.0;
  for (int k = 1; k < 22; k++) {
    term *= -x * x / ((2 * k - 1) * (2 * k));
    sum += term;
  }
  return sum;
}

// acos: a coarse bisection (cos falls monotonically over [0, pi]), then
// Newton steps on cos(y) = v.
constexpr double solveAcos(double v) {
  double lo = 0.0, hi = kPi;
  for (int i = 0; i < 12; i++) {
    double mid = (lo + hi) * 0.5;
    if (taylorCos(mid) > v)
      lo = mid;
    else
      hi = mid;
  }
  double y = (lo + hi) * 0.5;
  for (int i = 0; i < 5; i++)
    y += (taylorCos(y) - v) / taylorSin(y);
  return y;
}

constexpr std::array<float, 1024> makeSinTable() {
  std::array<float, 1024> t{};
  for (int i = 0; i < 1024; i++)
    t[i] = static_cast<float>(taylorSin(i * (kPi / 2.0) / 1024.0));
  return t;
}

constexpr std::array<float, 1024> makeAcosTable() {
  std::array<float, 1024> t{};
  t[0] = static_cast<float>(kPi);
  for (int i = 1; i < 1024; i++)
    t[i] = static_cast<float>(solveAcos(i / 512.0 - 1.0));
  return t;
}

}  // namespace

constexpr std::array<float, 1024> g_sinTable = makeSinTable();
constexpr std::array<float, 1024> g_acosTable = makeAcosTable();

Vec3 decodePackedNormal(uint16_t bits) {
  const int qa = (bits >> 14) & 3, ia = 16 * ((bits >> 8) & 63);
  const int qb = (bits >> 6) & 3, ib = 16 * (bits & 63);
  const float loA = g_sinTable[ia], hiA = g_sinTable[1023 - ia];
  const float loB = g_sinTable[ib], hiB = g_sinTable[1023 - ib];
  float ca, sa, cb, zb;
  switch (qa) {
    case 0:
      ca = hiA;
      sa = loA;
      break;
    case 1:
      ca = -loA;
      sa = hiA;
      break;
    case 2:
      ca = -hiA;
      sa = -loA;
      break;
    default:
      ca = loA;
      sa = -hiA;
      break;
  }
  switch (qb) {
    case 0:
      cb = loB;
      zb = hiB;
      break;
    case 1:
      cb = hiB;
      zb = -loB;
      break;
    case 2:
      cb = -loB;
      zb = -hiB;
      break;
    default:
      cb = -hiB;
      zb = loB;
      break;
  }
  return {cb * ca, cb * sa, zb};
}

uint8_t floatToByte(float f) {
  // Sign bit set (negatives, -0) gives 0; so does NaN. Values in 0..1 are
  // unchanged by the clamp.
  float v = f * 255.0f;
  if (std::signbit(f) || !(v > 0.0f))
    return 0;
  if (v >= 255.0f)
    return 255;
  return static_cast<uint8_t>(static_cast<int>(v));
}

uint32_t normalToRGB(const Vec3& v) {
  return uint32_t(floatToByte(v.x)) | uint32_t(floatToByte(v.y)) << 8 | uint32_t(floatToByte(v.z)) << 16;
}

uint32_t colorToRGBA(const Vec4& c) {
  return uint32_t(floatToByte(c.x)) | uint32_t(floatToByte(c.y)) << 8 | uint32_t(floatToByte(c.z)) << 16 |
         uint32_t(floatToByte(c.w)) << 24;
}

Vec3 rgbToVec(uint32_t bits) {
  const float s = 0.003921569f;
  return {float(bits & 255) * s, float((bits >> 8) & 255) * s, float((bits >> 16) & 255) * s};
}

Vec4 rgbaToVec4(uint32_t bits) {
  const float s = 0.003921569f;
  return {float(bits & 255) * s, float((bits >> 8) & 255) * s, float((bits >> 16) & 255) * s,
          float((bits >> 24) & 255) * s};
}

namespace {
bool validWidths(int e, int m) {
  return e >= 2 && e <= 8 && m >= 1 && m <= 23;
}
}  // namespace

float unpackFloat(int32_t packed, int e, int m) {
  if (!validWidths(e, m))
    return 0.0f;
  const uint32_t bits = static_cast<uint32_t>(packed);
  const uint32_t mantissa = (bits & ((1u << m) - 1)) << (23 - m);
  const int magnitude = int((bits >> m) & ((1u << (e - 1)) - 1));
  const bool expNegative = (bits >> (e + m - 1)) & 1;
  const uint32_t sign = (bits >> (e + m)) & 1;
  const int exponent = (expNegative ? -magnitude : magnitude) + 127;
  return std::bit_cast<float>(sign << 31 | uint32_t(exponent) << 23 | mantissa);
}

int32_t packFloat(float value, int e, int m) {
  if (!validWidths(e, m))
    return 0;
  const uint32_t magBits = (1u << (e - 1)) - 1;
  const uint32_t largestCode = magBits << m | ((1u << m) - 1);
  const uint32_t smallestCode = 1u << (e + m - 1) | ((1u << (e - 1)) - 2) << m | 1u;
  const float largest = unpackFloat(int32_t(largestCode), e, m);
  const float smallest = unpackFloat(int32_t(smallestCode), e, m);
  const uint32_t signBit = 1u << (e + m);

  if (std::isnan(value))
    return int32_t(smallestCode);
  const bool negative = value < 0.0f;
  const float mag = std::fabs(value);
  const uint32_t sign = negative ? signBit : 0u;
  if (mag >= largest)
    return int32_t(largestCode | sign);
  if (mag <= smallest)
    return int32_t(smallestCode | sign);

  const uint32_t fbits = std::bit_cast<uint32_t>(value);
  const int exponent = int((fbits >> 23) & 255) - 127;
  const uint32_t absExp = uint32_t(exponent < 0 ? -exponent : exponent) & magBits;
  const uint32_t code =
      ((exponent < 0 ? 1u : 0u) << (e - 1) | absExp) << m | sign | (fbits & 0x7FFFFF) >> (23 - m);
  return int32_t(code);
}
