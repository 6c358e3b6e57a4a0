// Byte-order table: both columns, in-place array reversal, bit fields, sixtets
// and the bit-stream helpers.
#include <gtest/gtest.h>

#include <cstring>

#include "lib/byteorder.h"

namespace {

class ByteOrderTest : public ::testing::Test {
 protected:
  void TearDown() override { Swap::init(); }
};

TEST_F(ByteOrderTest, HostTestAndLittleEndianColumn) {
  ASSERT_TRUE(Swap::init());
  ASSERT_TRUE(Swap::isLittleEndianHost()) << "this engine runs on little-endian x86-64";
  EXPECT_EQ(bigLong(0x01020304), 0x04030201);
  EXPECT_EQ(littleLong(0x01020304), 0x01020304);
  EXPECT_EQ(bigShort(int16_t(0x0102)), int16_t(0x0201));
  EXPECT_EQ(littleShort(int16_t(0x0102)), int16_t(0x0102));
  EXPECT_EQ(bigShort(int16_t(0x80FF)), int16_t(0xFF80));
  EXPECT_EQ(bigLong(int32_t(0x800000FF)), int32_t(0xFF000080));
  float one = 1.0f;
  float swapped = bigFloat(one);
  uint8_t bytes[4];
  std::memcpy(bytes, &swapped, 4);
  EXPECT_EQ(bytes[0], 0x3F);
  EXPECT_EQ(bytes[3], 0x00);
  EXPECT_EQ(bigFloat(swapped), 1.0f);
  EXPECT_EQ(littleFloat(1.5f), 1.5f);
}

TEST_F(ByteOrderTest, BigEndianColumnIsTheMirror) {
  Swap::install(false);
  EXPECT_EQ(bigLong(0x01020304), 0x01020304);
  EXPECT_EQ(littleLong(0x01020304), 0x04030201);
  EXPECT_EQ(littleShort(int16_t(0x0102)), int16_t(0x0201));
  uint8_t bits[2] = {0x01, 0xF0};
  littleBitField(bits, 2);
  EXPECT_EQ(bits[0], 0x80);
  EXPECT_EQ(bits[1], 0x0F);
  uint8_t out[4];
  sixtetsForInt(out, 0x00ABCDEF);
  EXPECT_EQ(out[0], 0x2F);
  EXPECT_EQ(out[1], 0x37);
}

TEST_F(ByteOrderTest, RevBytesReversesEachElementInPlace) {
  uint8_t data[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  bigRevBytes(data, 4, 3);
  const uint8_t expected4[12] = {4, 3, 2, 1, 8, 7, 6, 5, 12, 11, 10, 9};
  EXPECT_EQ(std::memcmp(data, expected4, 12), 0);
  littleRevBytes(data, 4, 3);  // nothing on this host
  EXPECT_EQ(std::memcmp(data, expected4, 12), 0);

  uint8_t pairs[6] = {1, 2, 3, 4, 5, 6};
  bigRevBytes(pairs, 2, 3);
  const uint8_t expected2[6] = {2, 1, 4, 3, 6, 5};
  EXPECT_EQ(std::memcmp(pairs, expected2, 6), 0);

  uint8_t odd[6] = {1, 2, 3, 4, 5, 6};
  bigRevBytes(odd, 3, 2);
  const uint8_t expected3[6] = {3, 2, 1, 6, 5, 4};
  EXPECT_EQ(std::memcmp(odd, expected3, 6), 0);

  uint8_t bits[1] = {0x01};
  littleBitField(bits, 1);  // nothing on this host
  EXPECT_EQ(bits[0], 0x01);
}

TEST_F(ByteOrderTest, SixtetsRoundTripTheLow24BitsOnBothColumns) {
  const int32_t values[] = {0, 1, 63, 64, 0x123456, 0x00FFFFFF, int32_t(0xFF123456), -1, 0x7FFFFFFF};
  for (bool little : {true, false}) {
    Swap::install(little);
    for (int32_t v : values) {
      uint8_t six[4];
      sixtetsForInt(six, v);
      for (uint8_t s : six) {
        EXPECT_LT(s, 64) << v;
      }
      EXPECT_EQ(intForSixtets(six), v & 0x00FFFFFF) << std::hex << v << " little=" << little;
    }
  }
  Swap::install(true);
  uint8_t six[4];
  sixtetsForInt(six, 0x00030201);  // b0=01 b1=02 b2=03
  EXPECT_EQ(six[0], 0x00);
  EXPECT_EQ(six[1], 0x10);
  EXPECT_EQ(six[2], 0x08);
  EXPECT_EQ(six[3], 0x03);
}

TEST_F(ByteOrderTest, BitStreamWritesLeastSignificantBitFirst) {
  uint8_t buffer[2] = {0xFF, 0xFF};
  int position = 0;
  const int bits[10] = {1, 0, 1, 1, 0, 0, 0, 0, 0, 1};
  for (int bit : bits) {
    writeBit(position, buffer, bit);
  }
  EXPECT_EQ(position, 10);
  EXPECT_EQ(buffer[0], 0x0D);  // the byte was cleared on entry
  EXPECT_EQ(buffer[1] & 0x03, 0x02);
  position = 0;
  for (int bit : bits) {
    EXPECT_EQ(readBit(position, buffer), bit);
  }
  EXPECT_EQ(position, 10);
}

}  // namespace
