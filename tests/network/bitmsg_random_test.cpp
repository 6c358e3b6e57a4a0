// Random input: every reader in random sequences over random bytes held in buffers of exactly
// their size (the address sanitizer reports any read past them), and random sequences of values
// written and read back in the same order.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "lib/keydict.h"
#include "network/bitmsg.h"
#include "tests/network/support/readsequence.h"
#include "tests/support/capturecmdsystem.h"

namespace {

class BitMsgRandom : public ::testing::Test {
 protected:
  void SetUp() override { KeyDict::initPools(); }
  void TearDown() override { KeyDict::shutdownPools(); }
  CaptureCmdSystem cmd;  // the readers' error lines stay out of the test log
};

TEST_F(BitMsgRandom, RandomReadersOverRandomBytesStayInsideTheWrittenBits) {
  std::mt19937 rng(20261209);
  for (int round = 0; round < 4000; ++round) {
    const size_t size = rng() % 300;
    std::vector<uint8_t> bytes(size);
    for (uint8_t& b : bytes)
      b = uint8_t(rng());
    std::vector<uint8_t> script(1 + rng() % 200);
    for (uint8_t& b : script)
      b = uint8_t(rng());
    BitMsg msg;
    msg.initRead(bytes.data(), int(size));
    ASSERT_TRUE(readSequence(msg, script.data(), script.size())) << "round " << round;
    ASSERT_LE(msg.getReadBit(), int(size) * 8);
  }
}

TEST_F(BitMsgRandom, ReadersOverFewerWrittenBitsThanTheBufferHolds) {
  // A writable message with junk past writeBit: no reader may see the junk.
  std::mt19937 rng(77);
  for (int round = 0; round < 1000; ++round) {
    std::vector<uint8_t> bytes(64);
    for (uint8_t& b : bytes)
      b = uint8_t(rng() | 1u);  // no terminators in the junk
    BitMsg msg(bytes.data(), int(bytes.size()));
    msg.setWriteBit(int(rng() % 100));
    std::vector<uint8_t> script(1 + rng() % 60);
    for (uint8_t& b : script)
      b = uint8_t(rng());
    ASSERT_TRUE(readSequence(msg, script.data(), script.size())) << "round " << round;
  }
}

// One written value and the check that reads it back.
struct Op {
  std::function<void(BitMsg&)> write;
  std::function<bool(BitMsg&)> readBack;
};

Op randomOp(std::mt19937& rng) {
  const uint32_t raw = rng();
  const int kind = int(rng() % 12);
  switch (kind) {
    case 0: {
      const int n = 1 + int(rng() % 32);
      const int32_t v = int32_t(raw & (n == 32 ? 0xffffffffu : (1u << n) - 1u));
      return {[=](BitMsg& m) { m.writeBits(v, n); }, [=](BitMsg& m) { return m.readBits(n) == v; }};
    }
    case 1: {
      const int n = 1 + int(rng() % 31);
      const int32_t v = int32_t(raw << (32 - n)) >> (32 - n);  // sign-extended n-bit value
      return {[=](BitMsg& m) { m.writeBits(v, -n); }, [=](BitMsg& m) { return m.readBits(-n) == v; }};
    }
    case 2: {
      const bool v = raw & 1;
      return {[=](BitMsg& m) { m.writeBool(v); }, [=](BitMsg& m) { return m.readBool() == v; }};
    }
    case 3: {
      const int v = int(int8_t(raw));
      return {[=](BitMsg& m) { m.writeChar(v); }, [=](BitMsg& m) { return m.readChar() == v; }};
    }
    case 4: {
      const int v = int(int16_t(raw));
      return {[=](BitMsg& m) { m.writeShort(v); }, [=](BitMsg& m) { return m.readShort() == v; }};
    }
    case 5: {
      float v;
      std::memcpy(&v, &raw, sizeof(v));
      return {[=](BitMsg& m) { m.writeFloat(v); },
              [=](BitMsg& m) {
                const float r = m.readFloat();
                return std::memcmp(&r, &v, sizeof(r)) == 0;
              }};
    }
    case 6: {
      const float degrees = float(int(raw % 720) - 360);
      return {
          [=](BitMsg& m) { m.writeAngle16(degrees); },
          [=](BitMsg& m) { return m.readAngle16() == BitMsg::shortToAngle(BitMsg::angleToShort(degrees)); }};
    }
    case 7: {
      const int32_t old = int32_t(rng() % 4);
      const int32_t v = int32_t(raw % 4);
      return {[=](BitMsg& m) { m.writeDeltaBits(old, v, 3); },
              [=](BitMsg& m) { return m.readDeltaBits(old, 3) == v; }};
    }
    case 8:
    case 9: {
      std::string text(raw % 40, 'a');
      for (char& c : text)
        c = char(1 + rng() % 127);
      const bool sevenBit = kind == 8;
      return {[=](BitMsg& m) { m.writeString(text.c_str(), -1, sevenBit); },
              [=](BitMsg& m) {
                char buf[64];
                m.readString(buf, sizeof(buf), sevenBit);
                return text == buf;
              }};
    }
    case 10: {
      const int n = 6 + int(rng() % 27);
      const uint32_t bits = raw & (n == 32 ? 0xffffffffu : (1u << n) - 1u);
      const Vec3 expected = BitMsg::bitsToDir(bits, n);
      return {[=](BitMsg& m) { m.writeBits(int32_t(bits), n); },
              [=](BitMsg& m) {
                const Vec3 d = m.readDir(n);
                return std::memcmp(&d, &expected, sizeof(d)) == 0;
              }};
    }
    default: {
      std::vector<uint8_t> block(raw % 24);
      for (uint8_t& b : block)
        b = uint8_t(rng());
      return {[=](BitMsg& m) { m.writeData(block.data(), int(block.size())); },
              [=](BitMsg& m) {
                std::vector<uint8_t> out(block.size());
                return m.readData(out.data(), int(out.size())) && out == block;
              }};
    }
  }
}

TEST_F(BitMsgRandom, RandomValueSequencesRoundTripThroughAReceivedCopy) {
  std::mt19937 rng(4242);
  for (int round = 0; round < 1500; ++round) {
    std::vector<Op> ops(1 + rng() % 40);
    for (Op& op : ops)
      op = randomOp(rng);
    std::vector<uint8_t> buffer(4096);
    BitMsg out(buffer.data(), int(buffer.size()));
    for (const Op& op : ops)
      op.write(out);
    ASSERT_FALSE(out.isOverflowed());
    std::vector<uint8_t> received(buffer.begin(), buffer.begin() + out.getSize());
    BitMsg in;
    in.initRead(received.data(), int(received.size()));
    for (size_t i = 0; i < ops.size(); ++i) {
      ASSERT_TRUE(ops[i].readBack(in)) << "round " << round << " value " << i;
    }
    ASSERT_FALSE(in.isOverflowed()) << "round " << round;
    ASSERT_LE(out.getWriteBit(), in.getReadBit() + 8);
  }
}

}  // namespace
