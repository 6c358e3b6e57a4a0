// Bit messages: every typed coder round-trips through one table (sign extension, truncation and
// exact bit counts), failed reads, the room test, raw blocks, strings, directions and key/value
// dictionaries, full and delta.
#include "network/bitmsg.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "lib/fastmath.h"
#include "lib/keydict.h"
#include "tests/support/capturecmdsystem.h"

namespace {

uint32_t bitsOf(float f) {
  uint32_t b;
  std::memcpy(&b, &f, sizeof(b));
  return b;
}

float floatOf(uint32_t b) {
  float f;
  std::memcpy(&f, &b, sizeof(f));
  return f;
}

// A message over its own zeroed buffer.
struct Msg {
  explicit Msg(int size = 256, uint8_t fill = 0) : bytes(size_t(size), fill) { msg.init(bytes.data(), size); }
  std::vector<uint8_t> bytes;
  BitMsg msg;
};

// One coder: what is written, what must read back, and the bits it takes on the wire.
struct CoderCase {
  const char* name;
  std::function<void(BitMsg&)> write;
  std::function<void(BitMsg&)> readAndCheck;
  int bits;
  int truncated;
};

std::vector<CoderCase> coderCases() {
  const float nan = floatOf(0x7fc01234u);
  return {
      {"bits 5 in 3", [](BitMsg& m) { m.writeBits(5, 3); }, [](BitMsg& m) { EXPECT_EQ(m.readBits(3), 5); }, 3,
       0},
      {"signed -3 in 4 reads -3 signed and 13 unsigned", [](BitMsg& m) { m.writeBits(-3, -4); },
       [](BitMsg& m) {
         EXPECT_EQ(m.readBits(-4), -3);
         m.setReadBit(0);
         EXPECT_EQ(m.readBits(4), 13);
       },
       4, 0},
      {"signed 31 bits extends from bit 30", [](BitMsg& m) { m.writeBits(-(1 << 30), -31); },
       [](BitMsg& m) { EXPECT_EQ(m.readBits(-31), -(1 << 30)); }, 31, 0},
      {"unsigned 32 bits keeps the top bit", [](BitMsg& m) { m.writeBits(int32_t(0x80000001u), 32); },
       [](BitMsg& m) { EXPECT_EQ(uint32_t(m.readBits(32)), 0x80000001u); }, 32, 0},
      {"value too wide for 5 bits is masked", [](BitMsg& m) { m.writeBits(0x3f, 5); },
       [](BitMsg& m) { EXPECT_EQ(m.readBits(5), 0x1f); }, 5, 1},
      {"negative value in unsigned bits is truncated", [](BitMsg& m) { m.writeBits(-1, 7); },
       [](BitMsg& m) { EXPECT_EQ(m.readBits(7), 127); }, 7, 1},
      {"signed value past its range", [](BitMsg& m) { m.writeBits(8, -4); },
       [](BitMsg& m) { EXPECT_EQ(m.readBits(-4), -8); }, 4, 1},
      {"bool true and false",
       [](BitMsg& m) {
         m.writeBool(true);
         m.writeBool(false);
       },
       [](BitMsg& m) {
         EXPECT_TRUE(m.readBool());
         EXPECT_FALSE(m.readBool());
       },
       2, 0},
      {"char -1 is 0xff and not truncated", [](BitMsg& m) { m.writeChar(-1); },
       [](BitMsg& m) {
         EXPECT_EQ(m.readChar(), -1);
         m.setReadBit(0);
         EXPECT_EQ(m.readByte(), 255);
       },
       8, 0},
      {"char 200 is truncated and reads -56", [](BitMsg& m) { m.writeChar(200); },
       [](BitMsg& m) { EXPECT_EQ(m.readChar(), -56); }, 8, 1},
      {"byte 300 writes 44", [](BitMsg& m) { m.writeByte(300); },
       [](BitMsg& m) { EXPECT_EQ(m.readByte(), 44); }, 8, 1},
      {"byte 255", [](BitMsg& m) { m.writeByte(255); }, [](BitMsg& m) { EXPECT_EQ(m.readByte(), 255); }, 8,
       0},
      {"short extremes",
       [](BitMsg& m) {
         m.writeShort(-32768);
         m.writeShort(32767);
       },
       [](BitMsg& m) {
         EXPECT_EQ(m.readShort(), -32768);
         EXPECT_EQ(m.readShort(), 32767);
       },
       32, 0},
      {"short 40000 wraps", [](BitMsg& m) { m.writeShort(40000); },
       [](BitMsg& m) { EXPECT_EQ(m.readShort(), 40000 - 65536); }, 16, 1},
      {"int extremes never truncate",
       [](BitMsg& m) {
         m.writeInt(std::numeric_limits<int32_t>::min());
         m.writeInt(-1);
       },
       [](BitMsg& m) {
         EXPECT_EQ(m.readInt(), std::numeric_limits<int32_t>::min());
         EXPECT_EQ(m.readInt(), -1);
       },
       64, 0},
      {"float bits unchanged (NaN payload, -0)",
       [nan](BitMsg& m) {
         m.writeFloat(nan);
         m.writeFloat(-0.0f);
         m.writeFloat(1.5f);
       },
       [](BitMsg& m) {
         EXPECT_EQ(bitsOf(m.readFloat()), 0x7fc01234u);
         EXPECT_EQ(bitsOf(m.readFloat()), 0x80000000u);
         EXPECT_EQ(m.readFloat(), 1.5f);
       },
       96, 0},
      {"packed float bits", [](BitMsg& m) { m.writeBits(packFloat(1.0f, 5, 10), 16); },
       [](BitMsg& m) { EXPECT_EQ(m.readFloatBits(5, 10), 1.0f); }, 16, 0},
      {"packed float clamps to the largest value", [](BitMsg& m) { m.writeBits(packFloat(-1e30f, 4, 3), 8); },
       [](BitMsg& m) { EXPECT_EQ(m.readFloatBits(4, 3), unpackFloat(packFloat(-1e30f, 4, 3), 4, 3)); }, 8, 0},
      {"angle 90 and -90",
       [](BitMsg& m) {
         m.writeAngle16(90.0f);
         m.writeAngle16(-90.0f);
       },
       [](BitMsg& m) {
         EXPECT_EQ(m.readAngle16(), 90.0f);
         EXPECT_EQ(m.readAngle16(), -90.0f);
       },
       32, 0},
      {"angle 180 is the code -32768", [](BitMsg& m) { m.writeAngle16(180.0f); },
       [](BitMsg& m) {
         EXPECT_EQ(m.readAngle16(), -180.0f);
         m.setReadBit(0);
         EXPECT_EQ(m.readShort(), -32768);
       },
       16, 0},
      {"angle 765 wraps to 45 and NaN goes as 0",
       [](BitMsg& m) {
         m.writeAngle16(765.0f);
         m.writeAngle16(std::numeric_limits<float>::quiet_NaN());
         m.writeAngle16(1e30f);
       },
       [](BitMsg& m) {
         EXPECT_EQ(m.readAngle16(), 45.0f);
         EXPECT_EQ(m.readAngle16(), 0.0f);
         EXPECT_TRUE(std::isfinite(m.readAngle16()));
       },
       48, 0},
      {"angle truncates toward zero", [](BitMsg& m) { m.writeAngle16(0.0054f); },
       [](BitMsg& m) { EXPECT_EQ(m.readShort(), 0); }, 16, 0},
      {"delta bits unchanged take one bit", [](BitMsg& m) { m.writeDeltaBits(77, 77, 12); },
       [](BitMsg& m) { EXPECT_EQ(m.readDeltaBits(77, 12), 77); }, 1, 0},
      {"delta bits changed", [](BitMsg& m) { m.writeDeltaBits(77, 78, 12); },
       [](BitMsg& m) { EXPECT_EQ(m.readDeltaBits(77, 12), 78); }, 13, 0},
      {"delta char", [](BitMsg& m) { m.writeDeltaChar(3, -100); },
       [](BitMsg& m) { EXPECT_EQ(m.readDeltaChar(3), -100); }, 9, 0},
      {"delta byte unchanged", [](BitMsg& m) { m.writeDeltaByte(200, 200); },
       [](BitMsg& m) { EXPECT_EQ(m.readDeltaByte(200), 200); }, 1, 0},
      {"delta byte", [](BitMsg& m) { m.writeDeltaByte(200, 201); },
       [](BitMsg& m) { EXPECT_EQ(m.readDeltaByte(200), 201); }, 9, 0},
      {"delta short", [](BitMsg& m) { m.writeDeltaShort(0, -30000); },
       [](BitMsg& m) { EXPECT_EQ(m.readDeltaShort(0), -30000); }, 17, 0},
      {"delta int", [](BitMsg& m) { m.writeDeltaInt(5, std::numeric_limits<int32_t>::max()); },
       [](BitMsg& m) { EXPECT_EQ(m.readDeltaInt(5), std::numeric_limits<int32_t>::max()); }, 33, 0},
      {"delta float compares bits: 0 and -0 differ", [](BitMsg& m) { m.writeDeltaFloat(0.0f, -0.0f); },
       [](BitMsg& m) { EXPECT_EQ(bitsOf(m.readDeltaFloat(0.0f)), 0x80000000u); }, 33, 0},
      {"delta float unchanged NaN", [nan](BitMsg& m) { m.writeDeltaFloat(nan, nan); },
       [nan](BitMsg& m) { EXPECT_EQ(bitsOf(m.readDeltaFloat(nan)), bitsOf(nan)); }, 1, 0},
      {"7-bit string", [](BitMsg& m) { m.writeString("hello"); },
       [](BitMsg& m) {
         char buf[16];
         EXPECT_EQ(m.readString(buf, sizeof(buf)), 5);
         EXPECT_STREQ(buf, "hello");
       },
       42, 0},
      {"7-bit string maps 128 and above to '.'", [](BitMsg& m) { m.writeString("a\xe9z"); },
       [](BitMsg& m) {
         char buf[16];
         m.readString(buf, sizeof(buf));
         EXPECT_STREQ(buf, "a.z");
       },
       28, 0},
      {"string limited by maxLen keeps maxLen - 1", [](BitMsg& m) { m.writeString("abcdef", 4); },
       [](BitMsg& m) {
         char buf[16];
         m.readString(buf, sizeof(buf));
         EXPECT_STREQ(buf, "abc");
       },
       28, 0},
      {"maxLen 0 writes an empty string", [](BitMsg& m) { m.writeString("abc", 0); },
       [](BitMsg& m) {
         char buf[4] = "xyz";
         EXPECT_EQ(m.readString(buf, sizeof(buf)), 0);
         EXPECT_STREQ(buf, "");
       },
       7, 0},
      {"null string is a lone terminator", [](BitMsg& m) { m.writeString(nullptr); },
       [](BitMsg& m) {
         char buf[4] = "xyz";
         EXPECT_EQ(m.readString(buf, sizeof(buf)), 0);
         EXPECT_STREQ(buf, "");
       },
       7, 0},
      {"8-bit strings pair and keep what follows",
       [](BitMsg& m) {
         m.writeBits(1, 3);
         m.writeString("\x80\xfe ok", -1, false);
         m.writeString("", -1, false);
         m.writeByte(6);
       },
       [](BitMsg& m) {
         char buf[16];
         EXPECT_EQ(m.readBits(3), 1);
         EXPECT_EQ(m.readString(buf, sizeof(buf), false), 5);
         EXPECT_STREQ(buf, "\x80\xfe ok");
         EXPECT_EQ(m.readString(buf, sizeof(buf), false), 0);
         EXPECT_EQ(m.readByte(), 6);
       },
       // Aligned to bit 8, the skipped byte 1, characters in bytes 2..6 and the terminator in
       // byte 7 under the write position; the empty string's terminator in byte 8 (byte 7 is its
       // skipped byte); the byte value in byte 9, after the block.
       80, 0},
  };
}

TEST(BitMsgCoders, RoundTripTable) {
  CaptureCmdSystem cmd;
  for (const CoderCase& c : coderCases()) {
    SCOPED_TRACE(c.name);
    // A buffer full of junk: written bytes must not keep any of it.
    Msg m(64, 0xa5);
    c.write(m.msg);
    EXPECT_EQ(m.msg.getWriteBit(), c.bits) << "bits on the wire";
    EXPECT_EQ(m.msg.getTruncatedCount(), c.truncated);
    EXPECT_FALSE(m.msg.isOverflowed());
    c.readAndCheck(m.msg);
    EXPECT_EQ(m.msg.getReadBit(), m.msg.getWriteBit()) << "the reader consumes exactly what was written";
    EXPECT_FALSE(m.msg.isOverflowed());

    // The same bytes as a receiver sees them: the message's byte size copied into a buffer of
    // exactly that size (the address sanitizer catches any read beyond it).
    const int size = m.msg.getSize();
    std::vector<uint8_t> copy(m.bytes.begin(), m.bytes.begin() + size);
    BitMsg received;
    received.initRead(copy.data(), size);
    c.readAndCheck(received);
    EXPECT_FALSE(received.isOverflowed());
  }
  EXPECT_EQ(cmd.text, "");
}

// The stream as the wire format defines it, one bit at a time.
void referenceWrite(std::vector<uint8_t>& buf, int& writeBit, uint32_t value, int bits) {
  for (int i = 0; i < bits; ++i) {
    if (writeBit % 8 == 0)
      buf[size_t(writeBit / 8)] = 0;
    buf[size_t(writeBit / 8)] = uint8_t(buf[size_t(writeBit / 8)] | (((value >> i) & 1u) << (writeBit % 8)));
    ++writeBit;
  }
}

uint32_t referenceRead(const std::vector<uint8_t>& buf, int readBit, int bits) {
  uint32_t v = 0;
  for (int i = 0; i < bits; ++i, ++readBit)
    v |= uint32_t((buf[size_t(readBit / 8)] >> (readBit % 8)) & 1) << i;
  return v;
}

TEST(BitMsgCoders, WordAndBytePathsMatchOneBitAtATime) {
  // Random junk buffers, unaligned starting points and widths, near the end of the buffer too.
  std::mt19937 rng(99);
  for (int round = 0; round < 3000; ++round) {
    const int size = 1 + int(rng() % 24);
    std::vector<uint8_t> junk(static_cast<size_t>(size));
    for (uint8_t& b : junk)
      b = uint8_t(rng());
    Msg m(size);
    m.bytes = junk;
    m.msg.init(m.bytes.data(), size);
    std::vector<uint8_t> expected = junk;
    int writeBit = int(rng() % uint32_t(size * 8));
    m.msg.setWriteBit(writeBit);
    for (;;) {
      const int bits = 1 + int(rng() % 32);
      if (size - writeBit / 8 - 1 < bits / 8 + 1)
        break;  // the room test would refuse it
      const uint32_t value = uint32_t(rng()) & (bits == 32 ? 0xffffffffu : (1u << bits) - 1u);
      const int start = writeBit;
      m.msg.writeBits(int32_t(value), bits);
      referenceWrite(expected, writeBit, value, bits);
      ASSERT_EQ(m.bytes, expected) << "round " << round;
      ASSERT_EQ(m.msg.getWriteBit(), writeBit);
      m.msg.setReadBit(start);
      ASSERT_EQ(uint32_t(m.msg.readBits(bits)), referenceRead(m.bytes, start, bits));
    }
    ASSERT_FALSE(m.msg.isOverflowed());
  }
}

TEST(BitMsgCoders, FailedReadsGiveTheirValuesAndKeepThePosition) {
  CaptureCmdSystem cmd;
  uint8_t byte = 0x7f;
  struct Case {
    const char* name;
    std::function<bool(BitMsg&)> readIsFailureValue;
  };
  const Case cases[] = {
      {"readBits", [](BitMsg& m) { return m.readBits(9) == -1; }},
      {"readBits signed", [](BitMsg& m) { return m.readBits(-9) == -1; }},
      {"readBool", [](BitMsg& m) { return m.readBool() == true; }},
      {"readChar", [](BitMsg& m) { return m.readChar() == -1; }},
      {"readByte", [](BitMsg& m) { return m.readByte() == 255; }},
      {"readShort", [](BitMsg& m) { return m.readShort() == -1; }},
      {"readInt", [](BitMsg& m) { return m.readInt() == -1; }},
      {"readFloat", [](BitMsg& m) { return bitsOf(m.readFloat()) == 0xffffffffu; }},
      {"readDeltaByte", [](BitMsg& m) { return m.readDeltaByte(7) == 255; }},
      {"readBytes",
       [](BitMsg& m) {
         uint8_t out[2] = {1, 1};
         m.readBytes(out, 2);
         return out[0] == 255 && out[1] == 255;
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BitMsg m;
    m.initRead(&byte, 1);
    m.setWriteBit(1);  // a single written bit
    m.readBits(1);     // ... already consumed
    const int before = m.getReadBit();
    EXPECT_TRUE(c.readIsFailureValue(m));
    EXPECT_TRUE(m.isOverflowed());
    EXPECT_EQ(m.getReadBit(), before) << "a failed read does not move";
  }
  EXPECT_EQ(cmd.text, "") << "a read past the end prints nothing";
}

TEST(BitMsgCoders, ReadsStopAtWriteBitNotAtTheBufferEnd) {
  Msg m(16, 0xff);
  m.msg.writeBits(3, 2);
  EXPECT_EQ(m.msg.readBits(2), 3);
  EXPECT_EQ(m.msg.readBits(1), -1) << "the buffer holds more bits, but they were never written";
  EXPECT_TRUE(m.msg.isOverflowed());
}

TEST(BitMsgCoders, BadBitCountsAreRefusedWithAnError) {
  CaptureCmdSystem cmd;
  Msg m(16);
  for (int n : {0, 33, -32}) {
    SCOPED_TRACE(n);
    cmd.text.clear();
    m.msg.clear();
    m.msg.writeBits(1, n);
    EXPECT_EQ(m.msg.getWriteBit(), 0);
    EXPECT_EQ(cmd.text, "ERROR: BitMsg::writeBits: Could not write " + std::to_string(n) + " bits!\n");
    m.msg.writeBits(255, 8);
    cmd.text.clear();
    EXPECT_EQ(m.msg.readBits(n), -1);
    EXPECT_EQ(m.msg.getReadBit(), 0);
    EXPECT_EQ(cmd.text, "ERROR: BitMsg::readBits: Could not read " + std::to_string(n) + " bits!\n");
  }
}

TEST(BitMsgCoders, NoBufferPrintsTheErrors) {
  CaptureCmdSystem cmd;
  BitMsg m;
  m.writeByte(1);
  EXPECT_EQ(m.readByte(), 255);
  EXPECT_EQ(m.getByteSpace(1), nullptr);
  EXPECT_EQ(cmd.text,
            "ERROR: BitMsg::writeBits: Could not write data. pData == NULL!\n"
            "ERROR: BitMsg::readBits: Could not read data. pData == NULL!\n"
            "ERROR: BitMsg::getByteSpace could not write to msg\n");
}

TEST(BitMsgCoders, ReadOnlyMessagesRefuseEveryWriter) {
  CaptureCmdSystem cmd;
  const uint8_t bytes[4] = {1, 2, 3, 4};
  BitMsg m;
  m.initRead(bytes, 4);
  m.writeByte(9);
  m.writeString("x");
  m.writeData(bytes, 1);
  m.clear();
  EXPECT_EQ(bytes[0], 1);
  EXPECT_EQ(bytes[1], 2);
  EXPECT_NE(cmd.text.find("ERROR: BitMsg::writeBits: the message is read-only\n"), std::string::npos);
  EXPECT_EQ(m.getData(), nullptr) << "no writable pointer is handed out";
}

// ---------------------------------------------------------------------------------------------
// Room test and sizes

TEST(BitMsgRoom, OneByteBufferHasNoRoomForABit) {
  CaptureCmdSystem cmd;
  Msg m(1);
  m.msg.writeBool(true);
  EXPECT_EQ(cmd.text, "WARNING: BitMsg overflow\n");
  EXPECT_EQ(m.msg.getWriteBit(), 0);
  EXPECT_TRUE(m.msg.isOverflowed());
}

TEST(BitMsgRoom, RequestBeyondTheBufferPrintsBothWarnings) {
  CaptureCmdSystem cmd;
  Msg m(10);
  m.msg.writeByte(1);
  m.msg.writeData("0123456789abcdef", 16);
  EXPECT_EQ(cmd.text,
            "WARNING: BitMsg overflow with 16 number of bytes, max is 10\nWARNING: BitMsg overflow\n");
  EXPECT_EQ(m.msg.getWriteBit(), 0) << "writing starts again at the front";
  EXPECT_TRUE(m.msg.isOverflowed());
}

TEST(BitMsgRoom, WritersFillTheBufferUpToTheLastByteAndNoFurther) {
  CaptureCmdSystem cmd;
  // Free room is maxSize - floor(writeBit / 8) - 1; a 32-bit value asks for 5 bytes.
  Msg m(9);
  m.msg.writeInt(1);
  EXPECT_FALSE(m.msg.isOverflowed());
  m.msg.writeInt(2);
  EXPECT_TRUE(m.msg.isOverflowed()) << "4 bytes used, 4 free, 5 asked";
  Msg n(10);
  n.msg.writeInt(1);
  n.msg.writeInt(2);
  EXPECT_FALSE(n.msg.isOverflowed());
  EXPECT_EQ(n.msg.getSize(), 9);
}

TEST(BitMsgRoom, ByteSizeIsAlwaysOneMoreThanTheWholeBytes) {
  Msg m(8);
  EXPECT_EQ(m.msg.getSize(), 1);
  m.msg.writeBits(0, 7);
  EXPECT_EQ(m.msg.getSize(), 1);
  m.msg.writeBits(0, 9);
  EXPECT_EQ(m.msg.getWriteBit(), 16);
  EXPECT_EQ(m.msg.getSize(), 3);
}

TEST(BitMsgRoom, StringsGoWholeOrNotAtAll) {
  CaptureCmdSystem cmd;
  Msg m(6);
  m.msg.writeBits(1, 8);
  m.msg.writeString("abcdef");  // 49 bits: 7 bytes asked, 4 free
  EXPECT_TRUE(m.msg.isOverflowed());
  EXPECT_EQ(m.msg.getWriteBit(), 0);
  EXPECT_EQ(m.bytes[1], 0) << "no head of the string was written";
}

TEST(BitMsgRoom, TooLongStringsGoEmptyWithAWarning) {
  CaptureCmdSystem cmd;
  Msg m(32);
  const std::string text(1024, 'x');
  m.msg.writeString(text.c_str());
  EXPECT_EQ(m.msg.getWriteBit(), 7);
  EXPECT_EQ(cmd.text, "WARNING: BitMsg::writeString >= MAX_STRING_CHARS\n");
  char buf[8];
  EXPECT_EQ(m.msg.readString(buf, sizeof(buf)), 0);
  cmd.text.clear();
  const std::string fits(1023, 'y');
  Msg big(1024);
  big.msg.writeString(fits.c_str());
  std::vector<char> out(2000);
  EXPECT_EQ(big.msg.readString(out.data(), int(out.size())), 1023);
  EXPECT_EQ(cmd.text, "");
}

TEST(BitMsgRoom, ClearZeroesTheBufferAndResets) {
  CaptureCmdSystem cmd;
  Msg m(4, 0xee);
  m.msg.writeByte(300);
  m.msg.readBits(20);
  m.msg.clear();
  EXPECT_EQ(m.msg.getWriteBit(), 0);
  EXPECT_EQ(m.msg.getReadBit(), 0);
  EXPECT_EQ(m.msg.getTruncatedCount(), 0);
  EXPECT_FALSE(m.msg.isOverflowed());
  EXPECT_EQ(m.bytes, std::vector<uint8_t>(4, 0));
}

// ---------------------------------------------------------------------------------------------
// Strings read into small buffers

TEST(BitMsgStrings, LongStringIntoASmallBufferIsConsumedWhole) {
  Msg m;
  m.msg.writeString("abcdefgh");
  m.msg.writeByte(42);
  char buf[4];
  EXPECT_EQ(m.msg.readString(buf, sizeof(buf)), 3);
  EXPECT_STREQ(buf, "abc");
  EXPECT_EQ(m.msg.readByte(), 42) << "the rest of the string was read and dropped";
}

TEST(BitMsgStrings, SizeZeroStoresNothingButStillConsumes) {
  Msg m;
  m.msg.writeString("abc");
  m.msg.writeString("de", -1, false);
  m.msg.writeByte(42);
  char guard = 'G';
  EXPECT_EQ(m.msg.readString(&guard, 0), 0);
  EXPECT_EQ(m.msg.readString(&guard, 0, false), 0);
  EXPECT_EQ(guard, 'G');
  EXPECT_EQ(m.msg.readByte(), 42);
}

TEST(BitMsgStrings, EightBitStringWithoutRoomWritesNothing) {
  CaptureCmdSystem cmd;
  Msg m(8, 0xcc);
  m.msg.writeByte(1);
  m.msg.writeString("abcdefgh", -1, false);
  EXPECT_TRUE(m.msg.isOverflowed());
  EXPECT_EQ(m.msg.getWriteBit(), 0);
  EXPECT_EQ(std::vector<uint8_t>(m.bytes.begin() + 1, m.bytes.end()), std::vector<uint8_t>(7, 0xcc));
}

TEST(BitMsgStrings, UnterminatedEightBitStringFailsAtTheEnd) {
  const uint8_t bytes[4] = {0, 'a', 'b', 'c'};
  BitMsg m;
  m.initRead(bytes, 4);
  char buf[8];
  EXPECT_EQ(m.readString(buf, sizeof(buf), false), 3);
  EXPECT_STREQ(buf, "abc");
  EXPECT_TRUE(m.isOverflowed());
  EXPECT_EQ(m.getRemainingReadBits(), 0);
}

// ---------------------------------------------------------------------------------------------
// Raw blocks

TEST(BitMsgRawBytes, ByteSpaceSkipsTheAlignedByte) {
  Msg m(16, 0x55);
  m.msg.writeBits(0, 13);
  uint8_t* space = m.msg.getByteSpace(2);
  EXPECT_EQ(space, m.bytes.data() + 3);
  EXPECT_EQ(m.msg.getWriteBit(), 32);
  EXPECT_EQ(m.bytes[2], 0x55) << "the aligned byte keeps what the buffer held";
  EXPECT_EQ(m.msg.getSize(), 5);
}

TEST(BitMsgRawBytes, FailedByteSpaceReservesNothing) {
  CaptureCmdSystem cmd;
  Msg m(8, 0x11);
  m.msg.writeByte(7);
  EXPECT_EQ(m.msg.getByteSpace(7), nullptr);
  EXPECT_TRUE(m.msg.isOverflowed());
  EXPECT_EQ(m.msg.getWriteBit(), 0);
  const uint8_t data[7] = {1, 2, 3, 4, 5, 6, 7};
  m.msg.writeByte(7);
  m.msg.writeData(data, 7);
  EXPECT_EQ(m.msg.getWriteBit(), 0);
  EXPECT_EQ(std::vector<uint8_t>(m.bytes.begin() + 1, m.bytes.end()), std::vector<uint8_t>(7, 0x11))
      << "a block that does not fit writes nothing";
}

TEST(BitMsgRawBytes, DataBlocksRoundTripThroughAReceivedCopy) {
  Msg m(64);
  const char first[] = "block one";
  const char second[] = "two";
  m.msg.writeBits(5, 3);
  m.msg.writeData(first, sizeof(first));
  m.msg.writeData(second, sizeof(second));
  std::vector<uint8_t> copy(m.bytes.begin(), m.bytes.begin() + m.msg.getSize());
  BitMsg r;
  r.initRead(copy.data(), int(copy.size()));
  char out1[sizeof(first)] = {};
  char out2[sizeof(second)] = {};
  EXPECT_EQ(r.readBits(3), 5);
  EXPECT_TRUE(r.readData(out1, sizeof(out1)));
  EXPECT_TRUE(r.readData(out2, sizeof(out2)));
  EXPECT_STREQ(out1, first);
  EXPECT_STREQ(out2, second);
  EXPECT_FALSE(r.isOverflowed());
  char more[4] = {'k', 'e', 'e', 'p'};
  EXPECT_FALSE(r.readData(more, 4)) << "a block past the end of the packet";
  EXPECT_EQ(more[0], 'k');
  EXPECT_TRUE(r.isOverflowed());
}

TEST(BitMsgRawBytes, ValueAfterABlockKeepsTheBlocksLastByte) {
  Msg m(32, 0x77);
  const char block[3] = {'a', 'b', 'c'};
  m.msg.writeData(block, 3);
  EXPECT_EQ(m.msg.getWriteBit(), 24);
  EXPECT_EQ(m.msg.getSize(), 4) << "the block ends the message";
  m.msg.writeByte(6);
  EXPECT_EQ(m.bytes[3], 'c') << "the value starts on the byte after the block";
  EXPECT_EQ(m.bytes[4], 6);
  EXPECT_EQ(m.msg.getSize(), 6);

  for (bool received : {false, true}) {
    SCOPED_TRACE(received ? "received copy" : "the written message itself");
    std::vector<uint8_t> copy(m.bytes.begin(), m.bytes.begin() + m.msg.getSize());
    BitMsg r;
    if (received) {
      r.initRead(copy.data(), int(copy.size()));
    } else {
      r = m.msg;
    }
    char out[3];
    ASSERT_TRUE(r.readData(out, 3));
    EXPECT_EQ(std::string(out, 3), "abc");
    EXPECT_EQ(r.readByte(), 6);
    EXPECT_FALSE(r.isOverflowed());
  }
}

TEST(BitMsgRawBytes, ConsecutiveBlocksShareTheSkippedByte) {
  Msg m(32);
  m.msg.writeData("xy", 2);
  uint8_t* second = m.msg.getByteSpace(1);
  EXPECT_EQ(second, m.bytes.data() + 3) << "the first block's last byte is the second's skipped byte";
  EXPECT_EQ(m.bytes[2], 'y');
}

TEST(BitMsgRawBytes, MessageEndingInABlockReadsBackInPlace) {
  Msg m(32);
  m.msg.writeBits(1, 1);
  m.msg.writeData("last", 4);
  m.msg.writeString("str", -1, false);
  char out[4];
  char text[8];
  EXPECT_EQ(m.msg.readBits(1), 1);
  EXPECT_TRUE(m.msg.readData(out, 4));
  EXPECT_EQ(std::string(out, 4), "last");
  EXPECT_EQ(m.msg.readString(text, sizeof(text), false), 3);
  EXPECT_STREQ(text, "str");
  EXPECT_FALSE(m.msg.isOverflowed());
  EXPECT_EQ(m.msg.getRemainingReadBits(), 0);
}

TEST(BitMsgRawBytes, ReadBytesIsUnaligned) {
  Msg m;
  m.msg.writeBits(1, 1);
  m.msg.writeByte(0xab);
  m.msg.writeByte(0xcd);
  m.msg.readBits(1);
  uint8_t out[3] = {};
  m.msg.readBytes(out, 3);
  EXPECT_EQ(out[0], 0xab);
  EXPECT_EQ(out[1], 0xcd);
  EXPECT_EQ(out[2], 255) << "past writeBit";
  EXPECT_TRUE(m.msg.isOverflowed());
}

// ---------------------------------------------------------------------------------------------
// Directions

TEST(BitMsgDirections, AxisDownPacksExactly) {
  Msg m;
  const uint32_t bits = BitMsg::dirToBits(Vec3(0.0f, 0.0f, -1.0f), 24);
  EXPECT_EQ(bits, 0xffu) << "z magnitude 127 with its sign bit, x and y zero";
  m.msg.writeBits(int32_t(bits), 24);
  const Vec3 d = m.msg.readDir(24);
  EXPECT_EQ(d.x, 0.0f);
  EXPECT_EQ(d.y, 0.0f);
  EXPECT_NEAR(d.z, -1.0f, 1e-5f);
  EXPECT_EQ(m.msg.getReadBit(), 24);
}

TEST(BitMsgDirections, RoundTripWithinThePrecisionOfTheCount) {
  const Vec3 dirs[] = {Vec3(1, 0, 0), Vec3(0, -1, 0), Vec3(0.6f, -0.8f, 0.0f), Vec3(0.48f, 0.6f, -0.64f)};
  for (int n : {6, 9, 12, 24, 30, 32}) {
    const int k = n / 3;
    const float step = 1.0f / float((1 << (k - 1)) - 1);
    for (const Vec3& v : dirs) {
      SCOPED_TRACE(testing::Message() << "n " << n << " dir " << v.x << " " << v.y << " " << v.z);
      Msg m;
      m.msg.writeDir(v, n);
      EXPECT_EQ(m.msg.getWriteBit(), n);
      const Vec3 d = m.msg.readDir(n);
      EXPECT_NEAR(d.length(), 1.0f, 1e-4f);
      EXPECT_NEAR(d.x, v.x, 2.0f * step);
      EXPECT_NEAR(d.y, v.y, 2.0f * step);
      EXPECT_NEAR(d.z, v.z, 2.0f * step);
    }
  }
}

TEST(BitMsgDirections, LongOrBrokenVectorsStayInTheirFields) {
  // A component above 1 clamps to the largest magnitude instead of carrying into the sign bit.
  EXPECT_EQ(BitMsg::dirToBits(Vec3(0.0f, 0.0f, 2.0f), 9), 3u);
  EXPECT_EQ(BitMsg::dirToBits(Vec3(0.0f, 0.0f, std::numeric_limits<float>::quiet_NaN()), 9) & 3u, 0u);
}

TEST(BitMsgDirections, FewerThanSixBitsAreRefused) {
  CaptureCmdSystem cmd;
  Msg m;
  m.msg.writeBits(0x1f, 5);
  const Vec3 d = m.msg.readDir(5);
  EXPECT_EQ(d, Vec3::zero());
  EXPECT_EQ(m.msg.getReadBit(), 0);
  EXPECT_TRUE(m.msg.isOverflowed());
  EXPECT_EQ(cmd.text, "ERROR: BitMsg::readDir: Could not read 5 bits!\n");
  cmd.text.clear();
  m.msg.writeDir(Vec3(1, 0, 0), 33);
  EXPECT_EQ(m.msg.getWriteBit(), 5);
  EXPECT_EQ(cmd.text, "ERROR: BitMsg::writeDir: Could not write 33 bits!\n");
}

// ---------------------------------------------------------------------------------------------
// Key/value dictionaries

class BitMsgKeyDict : public ::testing::Test {
 protected:
  void SetUp() override { KeyDict::initPools(); }
  void TearDown() override {
    dict.clear();
    base.clear();
    out.clear();
    KeyDict::shutdownPools();
  }

  static std::string text(const KeyDict& d) {
    std::string s;
    for (int i = 0; i < d.count(); ++i)
      s += std::string(d.keyAt(i)) + "=" + d.valueAt(i) + ";";
    return s;
  }

  CaptureCmdSystem cmd;
  KeyDict dict;
  KeyDict base;
  KeyDict out;
  Msg m{4096};
};

TEST_F(BitMsgKeyDict, FullDictionaryRoundTrips) {
  dict.set("name", "Player");
  dict.set("rate", "25000");
  dict.set("empty", "");
  out.set("stale", "1");
  EXPECT_TRUE(m.msg.writeKeyDict(dict));
  EXPECT_TRUE(m.msg.readKeyDict(out));
  EXPECT_EQ(text(out), text(dict)) << "the target is cleared first";
  EXPECT_EQ(m.msg.getReadBit(), m.msg.getWriteBit());
}

TEST_F(BitMsgKeyDict, EmptyDictionaryIsTwoEmptyStrings) {
  EXPECT_FALSE(m.msg.writeKeyDict(dict));
  EXPECT_EQ(m.msg.getWriteBit(), 14);
  EXPECT_FALSE(m.msg.readKeyDict(out));
}

TEST_F(BitMsgKeyDict, DeltaSendsChangesAndRemovals) {
  base.set("name", "Player");
  base.set("rate", "25000");
  base.set("gone", "x");
  dict.set("name", "Player");
  dict.set("rate", "9000");
  dict.set("new", "1");
  EXPECT_TRUE(m.msg.writeKeyDict(dict, &base));
  // rate=9000, new=1, "", gone, "".
  const int bits = 7 * (5 + 5 + 4 + 2 + 1 + 5 + 1);
  EXPECT_EQ(m.msg.getWriteBit(), bits);
  EXPECT_TRUE(m.msg.readKeyDict(out, &base));
  EXPECT_EQ(text(out), text(dict));
}

TEST_F(BitMsgKeyDict, ValuesDifferingOnlyInCaseAreNotSent) {
  base.set("name", "player");
  dict.set("NAME", "PLAYER");
  EXPECT_FALSE(m.msg.writeKeyDict(dict, &base));
  EXPECT_EQ(m.msg.getWriteBit(), 14) << "only the two empty strings";
  EXPECT_FALSE(m.msg.readKeyDict(out, &base));
  EXPECT_EQ(text(out), "name=player;");
}

TEST_F(BitMsgKeyDict, ReadingIntoTheBaseItselfAppliesTheDelta) {
  base.set("a", "1");
  base.set("b", "2");
  dict.set("a", "3");
  m.msg.writeKeyDict(dict, &base);
  EXPECT_TRUE(m.msg.readKeyDict(base, &base));
  EXPECT_EQ(text(base), "a=3;");
}

TEST_F(BitMsgKeyDict, TruncatedMessageEndsTheLoops) {
  dict.set("key", "value");
  m.msg.writeKeyDict(dict);
  std::vector<uint8_t> copy(m.bytes.begin(), m.bytes.begin() + 3);
  BitMsg r;
  r.initRead(copy.data(), int(copy.size()));
  r.readKeyDict(out);
  EXPECT_TRUE(r.isOverflowed());
  EXPECT_LE(r.getReadBit(), r.getWriteBit());
}

}  // namespace
