// Fast trigonometry tables, packed normals, byte conversions and packed floats.
#include "lib/fastmath.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

TEST(FastMathTables, MatchDoublePrecisionReference) {
  for (int i = 0; i < 1024; i++) {
    const double s = std::sin(i * (M_PI / 2.0) / 1024.0);
    ASSERT_EQ(g_sinTable[i], float(s)) << "sin table entry " << i;
    const double a = std::acos(i / 512.0 - 1.0);
    ASSERT_NEAR(g_acosTable[i], float(a), 1e-6) << "acos table entry " << i;
  }
  EXPECT_EQ(g_sinTable[0], 0.0f);
  EXPECT_EQ(g_acosTable[0], float(M_PI));
  EXPECT_EQ(g_acosTable[512], float(M_PI / 2.0));
}

TEST(FastMathSin, IndexQuadrants) {
  EXPECT_EQ(fastSinIndex(0), 0.0f);
  EXPECT_EQ(fastSinIndex(1024), g_sinTable[1023]);
  EXPECT_EQ(fastSinIndex(2048), -0.0f);
  EXPECT_TRUE(std::signbit(fastSinIndex(2048))) << "quadrant 2 negates table[0]";
  EXPECT_EQ(fastSinIndex(3072), -g_sinTable[1023]);
  EXPECT_EQ(fastSinIndex(-1), fastSinIndex(4095)) << "negative indices wrap through their bits";
  EXPECT_EQ(fastSin(1.5707964f), g_sinTable[1023]);
  EXPECT_EQ(fastCos(0.0f), g_sinTable[1023]);
}

TEST(FastMathSin, SweptAgainstLibm) {
  // One table step is pi/2048 radians. Truncation towards zero and the
  // mirrored quadrants (table[1023 - e]) put the lookup within two steps of
  // the true sine, whose slope is at most 1.
  const double step = 2.0 * M_PI / 2048.0;
  for (double r = -20.0; r <= 20.0; r += 0.000731) {
    ASSERT_NEAR(fastSin(float(r)), std::sin(r), step + 1e-6) << "fastSin(" << r << ")";
    ASSERT_NEAR(fastCos(float(r)), std::cos(r), step + 1e-6) << "fastCos(" << r << ")";
  }
}

TEST(FastMathSin, HugeAndNonFiniteArgumentsStayInRange) {
  const float cases[] = {1e10f,
                         -1e10f,
                         3e38f,
                         -3e38f,
                         std::numeric_limits<float>::infinity(),
                         -std::numeric_limits<float>::infinity(),
                         std::numeric_limits<float>::quiet_NaN()};
  for (float c : cases) {
    const float s = fastSin(c), k = fastCos(c);
    EXPECT_TRUE(s >= -1.0f && s <= 1.0f) << c;
    EXPECT_TRUE(k >= -1.0f && k <= 1.0f) << c;
  }
  // Just beyond the int range the index keeps its low bits: a whole number of
  // turns (4096 steps) added changes nothing.
  const float big = 4096.0f * 1048576.0f;  // 2^32 steps
  EXPECT_EQ(fastSin(big * kHalfPi / 1024.0f), fastSinIndex(0));
}

TEST(FastMathPackedNormal, EveryCodeDecodesToUnitLength) {
  for (int bits = 0; bits < 65536; bits++) {
    const Vec3 v = decodePackedNormal(uint16_t(bits));
    ASSERT_NEAR(v.length(), 1.0f, 2e-3f) << "code " << bits;
  }
}

TEST(FastMathPackedNormal, KnownDirections) {
  // Quadrant 0 with index 0 on both halves: (table[0] * table[1023], table[0] * 0, table[1023]).
  Vec3 up = decodePackedNormal(0);
  EXPECT_NEAR(up.z, 1.0f, 1e-5f);
  // B quadrant 1, index 0: cb = table[1023], zb = -table[0] = -0: along A's direction.
  Vec3 x = decodePackedNormal(uint16_t(1 << 6));
  EXPECT_NEAR(x.x, 1.0f, 1e-5f);
  EXPECT_NEAR(x.z, 0.0f, 1e-5f);
}

TEST(FastMathBytes, ConversionsClampToByteRange) {
  EXPECT_EQ(normalToRGB(Vec3(1, 0, -1)), 0x0000FFu);
  EXPECT_EQ(floatToByte(0.5f), 127);
  EXPECT_EQ(floatToByte(1.0f), 255);
  EXPECT_EQ(floatToByte(0.0f), 0);
  EXPECT_EQ(floatToByte(-0.0f), 0);
  struct Case {
    float in;
    uint8_t out;
  } cases[] = {{2.0f, 255},
               {1e30f, 255},
               {-5.0f, 0},
               {std::numeric_limits<float>::infinity(), 255},
               {std::numeric_limits<float>::quiet_NaN(), 0},
               {1.0f / 255.0f, 1},
               {0.25f, 63}};
  for (const Case& c : cases)
    EXPECT_EQ(floatToByte(c.in), c.out) << c.in;
  EXPECT_EQ(colorToRGBA(Vec4(1, 0.5f, 0, 2)), 0xFF007FFFu) << "w lands in the top byte, clamped";
  for (int b = 0; b < 256; b++) {
    const Vec4 v = rgbaToVec4(uint32_t(b) * 0x01010101u);
    ASSERT_EQ(colorToRGBA(v), uint32_t(b) * 0x01010101u) << "byte " << b << " survives a round trip";
  }
  const Vec3 c = rgbToVec(0x00FF8000u);
  EXPECT_FLOAT_EQ(c.x, 0.0f);
  EXPECT_FLOAT_EQ(c.y, 128 * 0.003921569f);
  EXPECT_FLOAT_EQ(c.z, 255 * 0.003921569f);
}

TEST(FastMathPackedFloat, RoundTripsAndClamps) {
  // From E = 3 on: with E = 2 the smallest magnitude, 2^0 * (1 + 2^-M), lies
  // above 1.0, so 1.0 clamps up to it.
  EXPECT_EQ(unpackFloat(packFloat(1.0f, 2, 4), 2, 4), 1.0625f);
  for (int e = 3; e <= 8; e++) {
    for (int m = 1; m <= 23; m++) {
      ASSERT_EQ(unpackFloat(packFloat(1.0f, e, m), e, m), 1.0f) << "E=" << e << " M=" << m;
      ASSERT_EQ(unpackFloat(packFloat(-1.0f, e, m), e, m), -1.0f) << "E=" << e << " M=" << m;
    }
  }
  // E = 5, M = 10: exponents -14..15 and 10 mantissa bits.
  const int e = 5, m = 10;
  for (float v : {0.5f, 3.0f, -7.25f, 1000.0f, 0.001953125f}) {
    EXPECT_EQ(unpackFloat(packFloat(v, e, m), e, m), v) << v;
  }
  const float largest = unpackFloat(packFloat(1e30f, e, m), e, m);
  EXPECT_EQ(largest, 65504.0f);
  EXPECT_EQ(unpackFloat(packFloat(-1e30f, e, m), e, m), -largest);
  const float smallest = unpackFloat(packFloat(0.0f, e, m), e, m);
  EXPECT_GT(smallest, 0.0f) << "zero has no code and clamps to the smallest magnitude";
  EXPECT_EQ(unpackFloat(packFloat(smallest / 4, e, m), e, m), smallest);
  EXPECT_EQ(packFloat(std::numeric_limits<float>::infinity(), e, m), packFloat(1e30f, e, m));
  EXPECT_EQ(packFloat(std::numeric_limits<float>::quiet_NaN(), e, m), packFloat(0.0f, e, m));
  EXPECT_LT(packFloat(1e30f, e, m), 1 << (e + m + 1)) << "codes stay within E + M + 1 bits";
  EXPECT_EQ(packFloat(1.0f, 0, 5), 0) << "unusable widths give 0";
  EXPECT_EQ(unpackFloat(5, 9, 5), 0.0f);
}

TEST(FastMathInvSqrt, NewtonStepsApproachTheTrueValue) {
  for (float x : {1e-6f, 0.5f, 1.0f, 2.0f, 1000.0f, 1e20f}) {
    const double ref = 1.0 / std::sqrt(double(x));
    EXPECT_NEAR(fastInvSqrt(x, 2), ref, ref * 5e-6) << x;
    EXPECT_NEAR(fastInvSqrt(x, 3), ref, ref * 1e-6) << x;
  }
  EXPECT_EQ(clampedFloatToInt(std::numeric_limits<float>::quiet_NaN()), 0);
  EXPECT_EQ(clampedFloatToInt(1e20f), 2147483647);
  EXPECT_EQ(clampedFloatToInt(-1e20f), -2147483647 - 1);
  EXPECT_EQ(clampedFloatToInt(-3.7f), -3);
}
