// Delta-coded user commands: exact bit counts of the smallest and largest codings, time and frame
// steps, signed fields through their narrow records, and random commands round-tripping.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "lib/interface/usercmd.h"
#include "network/bitmsg.h"

namespace {

UserCmd zeroCmd() {
  UserCmd c;
  std::memset(&c, 0, sizeof(c));
  return c;
}

bool sameCmd(const UserCmd& a, const UserCmd& b) {
  return std::memcmp(&a, &b, sizeof(UserCmd)) == 0;
}

// Writes cmd against base, checks the bit count, reads it back from a received copy.
UserCmd roundTrip(const UserCmd& base, const UserCmd& cmd, int expectedBits = -1) {
  std::vector<uint8_t> buffer(64);
  BitMsg msg(buffer.data(), int(buffer.size()));
  msg.writeDeltaUserCmd(base, cmd);
  EXPECT_FALSE(msg.isOverflowed());
  if (expectedBits >= 0) {
    EXPECT_EQ(msg.getWriteBit(), expectedBits);
  }
  std::vector<uint8_t> received(buffer.begin(), buffer.begin() + msg.getSize());
  BitMsg in;
  in.initRead(received.data(), int(received.size()));
  UserCmd out = zeroCmd();
  in.readDeltaUserCmd(base, out);
  EXPECT_FALSE(in.isOverflowed());
  EXPECT_GE(in.getReadBit(), msg.getWriteBit());
  return out;
}

TEST(UserCmdCoding, StepsOnlyTakeTwentySevenBits) {
  UserCmd base = zeroCmd();
  base.time = 1000;
  base.frame = 60;
  base.forward = 127;
  base.angles[1] = -1234;
  base.sequence = 77;
  UserCmd cmd = base;
  cmd.time += 15;
  cmd.frame += 255;
  EXPECT_TRUE(sameCmd(roundTrip(base, cmd, 27), cmd));
}

TEST(UserCmdCoding, LargestCodingTakes266Bits) {
  const UserCmd base = zeroCmd();
  UserCmd cmd;
  cmd.time = -5;    // backwards: the full value
  cmd.frame = 256;  // one past the largest step
  cmd.reserved = 200;
  cmd.buttons = 0xff;
  cmd.forward = -127;
  cmd.right = 127;
  cmd.up = -1;
  cmd.angles[0] = -32768;
  cmd.angles[1] = 32767;
  cmd.angles[2] = 1;
  cmd.cursorX = 639;
  cmd.cursorY = 479;
  cmd.impulse = 31;
  cmd.impulseFlags = 1;
  cmd.sequence = -2;
  std::vector<uint8_t> buffer(64);
  BitMsg msg(buffer.data(), int(buffer.size()));
  msg.writeDeltaUserCmd(base, cmd);
  EXPECT_EQ(msg.getTruncatedCount(), 0) << "signed fields go as their bit patterns";
  EXPECT_TRUE(sameCmd(roundTrip(base, cmd, 266), cmd));
}

TEST(UserCmdCoding, TimeAndFrameStepsAndJumps) {
  struct Case {
    const char* name;
    int32_t baseTime, time, baseFrame, frame;
    int bits;
  };
  const Case cases[] = {
      {"time backwards", 500, 499, 3, 3, 1 + 32 + 9 + 13},
      {"time step 16", 500, 516, 3, 3, 1 + 32 + 9 + 13},
      {"frame backwards", 500, 500, 3, 2, 5 + 1 + 32 + 13},
      {"frame wraps the int range", 0, 0, 2147483647, -2147483647 - 1, 5 + 1 + 32 + 13},
      {"time far apart", -2147483647 - 1, 2147483647, 0, 0, 1 + 32 + 9 + 13},
      {"time step across the int range", 2147483640, 2147483647, 0, 0, 27},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    UserCmd base = zeroCmd();
    base.time = c.baseTime;
    base.frame = c.baseFrame;
    UserCmd cmd = base;
    cmd.time = c.time;
    cmd.frame = c.frame;
    EXPECT_TRUE(sameCmd(roundTrip(base, cmd, c.bits), cmd));
  }
}

TEST(UserCmdCoding, FirstCommandAgainstAZeroBase) {
  UserCmd cmd = zeroCmd();
  cmd.time = 16;
  cmd.frame = 1;
  cmd.forward = -127;
  cmd.buttons = 4;
  cmd.angles[0] = 16384;
  cmd.sequence = 1;
  const UserCmd out = roundTrip(zeroCmd(), cmd);
  EXPECT_TRUE(sameCmd(out, cmd));
  EXPECT_EQ(out.forward, -127) << "the sign comes back through the int8 field";
}

TEST(UserCmdCoding, ValuesTooWideForTheirBitsAreCounted) {
  UserCmd cmd = zeroCmd();
  cmd.cursorX = 1024;
  cmd.cursorY = -1;
  cmd.reserved = 0x1ff;
  std::vector<uint8_t> buffer(64);
  BitMsg msg(buffer.data(), int(buffer.size()));
  msg.writeDeltaUserCmd(zeroCmd(), cmd);
  EXPECT_EQ(msg.getTruncatedCount(), 3);
  const UserCmd out = roundTrip(zeroCmd(), cmd);
  EXPECT_EQ(out.cursorX, 0);
  EXPECT_EQ(out.cursorY, 511);
  EXPECT_EQ(out.reserved, 0xff);
}

TEST(UserCmdCoding, ReadingIntoTheBaseRecord) {
  UserCmd base = zeroCmd();
  base.time = 100;
  UserCmd cmd = base;
  cmd.time = 116;
  cmd.right = 127;
  std::vector<uint8_t> buffer(64);
  BitMsg msg(buffer.data(), int(buffer.size()));
  msg.writeDeltaUserCmd(base, cmd);
  msg.readDeltaUserCmd(base, base);
  EXPECT_TRUE(sameCmd(base, cmd));
}

TEST(UserCmdCoding, ShortPacketFlagsOverflow) {
  UserCmd cmd = zeroCmd();
  cmd.time = 1 << 20;
  std::vector<uint8_t> buffer(64);
  BitMsg msg(buffer.data(), int(buffer.size()));
  msg.writeDeltaUserCmd(zeroCmd(), cmd);
  std::vector<uint8_t> received(buffer.begin(), buffer.begin() + 2);
  BitMsg in;
  in.initRead(received.data(), int(received.size()));
  UserCmd out = zeroCmd();
  in.readDeltaUserCmd(zeroCmd(), out);
  EXPECT_TRUE(in.isOverflowed());
  EXPECT_LE(in.getReadBit(), in.getWriteBit());
}

// Bits of a coding, from the rules: step or full value, then a change bit and the field.
int expectedBits(const UserCmd& base, const UserCmd& cmd) {
  auto step = [](int32_t from, int32_t to, int bits) {
    const int64_t d = int64_t(to) - from;
    return d >= 0 && d < (int64_t(1) << bits) ? 1 + bits : 33;
  };
  auto field = [](bool same, int bits) { return same ? 1 : 1 + bits; };
  int n = step(base.time, cmd.time, 4) + step(base.frame, cmd.frame, 8);
  n += field(base.reserved == cmd.reserved, 8);
  for (int i = 0; i < 3; ++i)
    n += field(base.angles[i] == cmd.angles[i], 16);
  n +=
      field(base.forward == cmd.forward, 8) + field(base.right == cmd.right, 8) + field(base.up == cmd.up, 8);
  n += field(base.buttons == cmd.buttons, 16) + field(base.cursorX == cmd.cursorX, 10) +
       field(base.cursorY == cmd.cursorY, 9) + field(base.impulse == cmd.impulse, 8) +
       field(base.impulseFlags == cmd.impulseFlags, 32) + field(base.sequence == cmd.sequence, 32);
  return n;
}

TEST(UserCmdCoding, RandomCommandChainsRoundTrip) {
  std::mt19937 rng(1234);
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  UserCmd base = zeroCmd();
  for (int i = 0; i < 2000; ++i) {
    UserCmd cmd = base;
    // Mostly small steps and a few fields changing, sometimes everything.
    const bool wild = pick(0, 9) == 0;
    cmd.time = wild ? int32_t(rng()) : int32_t(uint32_t(base.time) + uint32_t(pick(0, 20)));
    cmd.frame = wild ? int32_t(rng()) : int32_t(uint32_t(base.frame) + uint32_t(pick(0, 300)));
    if (wild || pick(0, 3) == 0)
      cmd.reserved = pick(0, 255);
    if (wild || pick(0, 1) == 0)
      cmd.angles[pick(0, 2)] = int16_t(pick(-32768, 32767));
    if (wild || pick(0, 3) == 0)
      cmd.forward = int8_t(pick(-128, 127));
    if (wild || pick(0, 3) == 0)
      cmd.right = int8_t(pick(-128, 127));
    if (wild || pick(0, 3) == 0)
      cmd.up = int8_t(pick(-128, 127));
    if (wild || pick(0, 3) == 0)
      cmd.buttons = uint8_t(pick(0, 255));
    if (wild || pick(0, 3) == 0)
      cmd.cursorX = int16_t(pick(0, 1023));
    if (wild || pick(0, 3) == 0)
      cmd.cursorY = int16_t(pick(0, 511));
    if (wild || pick(0, 5) == 0)
      cmd.impulse = uint8_t(pick(0, 255));
    if (wild || pick(0, 5) == 0)
      cmd.impulseFlags = uint8_t(pick(0, 255));
    cmd.sequence = int32_t(uint32_t(base.sequence) + 1u);
    const UserCmd out = roundTrip(base, cmd, expectedBits(base, cmd));
    ASSERT_TRUE(sameCmd(out, cmd)) << "command " << i;
    base = cmd;
  }
}

}  // namespace
