// BitMsgDelta: a record coded against the previous one's base message, with and without a base;
// the writer's and reader's next bases must stay identical bit for bit.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "lib/fastmath.h"
#include "network/bitmsg.h"
#include "tests/support/capturecmdsystem.h"

namespace {

struct Buffer {
  explicit Buffer(int size = 512) : bytes(size_t(size)) { msg.init(bytes.data(), size); }
  std::vector<uint8_t> bytes;
  BitMsg msg;
  // The written bits as a received message.
  void rewind() { msg.setReadBit(0); }
  std::vector<uint8_t> written() const {
    return {bytes.begin(), bytes.begin() + (msg.getWriteBit() + 7) / 8};
  }
};

// A game-like record with one field of every kind.
struct Snapshot {
  int32_t health = 0;
  int flags = 0;
  int team = 0;
  float speed = 0.0f;
  float scale = 1.0f;
  float yaw = 0.0f;
  Vec3 facing{0.0f, 0.0f, 1.0f};
  int32_t counter = 0;
  std::string name;
  bool alive = false;
};

void writeSnapshot(BitMsgDelta& d, const Snapshot& old, const Snapshot& s) {
  d.writeInt(s.health);
  d.writeByte(s.flags);
  d.writeChar(s.team);
  d.writeFloat(s.speed);
  d.writeFloatBits(s.scale, 5, 10);
  d.writeAngle16(s.yaw);
  d.writeDir(s.facing, 24);
  d.writeDeltaInt(old.counter, s.counter);
  d.writeString(s.name.c_str());
  d.writeBool(s.alive);
}

Snapshot readSnapshot(BitMsgDelta& d, const Snapshot& old) {
  Snapshot s;
  s.health = d.readInt();
  s.flags = d.readByte();
  s.team = d.readChar();
  s.speed = d.readFloat();
  s.scale = d.readFloatBits(5, 10);
  s.yaw = d.readAngle16();
  s.facing = d.readDir(24);
  s.counter = d.readDeltaInt(old.counter);
  char name[64];
  d.readString(name, sizeof(name));
  s.name = name;
  s.alive = d.readBool();
  return s;
}

void expectSame(const Snapshot& a, const Snapshot& b) {
  EXPECT_EQ(a.health, b.health);
  EXPECT_EQ(a.flags, b.flags);
  EXPECT_EQ(a.team, b.team);
  EXPECT_EQ(a.speed, b.speed);
  EXPECT_EQ(a.scale, unpackFloat(packFloat(b.scale, 5, 10), 5, 10));
  EXPECT_EQ(a.yaw, BitMsg::shortToAngle(BitMsg::angleToShort(b.yaw)));
  EXPECT_NEAR(a.facing.x, b.facing.x, 0.02f);
  EXPECT_NEAR(a.facing.y, b.facing.y, 0.02f);
  EXPECT_NEAR(a.facing.z, b.facing.z, 0.02f);
  EXPECT_EQ(a.counter, b.counter);
  EXPECT_EQ(a.name, b.name);
  EXPECT_EQ(a.alive, b.alive);
}

TEST(BitMsgDelta, ChainOfSnapshotsKeepsBothSidesBasesIdentical) {
  std::vector<Snapshot> states(4);
  states[0] = {100, 3, -2, 320.0f, 1.0f, 90.0f, Vec3(0, 0, 1), 7, "first", true};
  states[1] = states[0];
  states[1].health = 95;
  states[1].counter = 8;
  states[2] = states[1];  // nothing changes
  states[3] = states[2];
  states[3].name = "renamed";
  states[3].facing = Vec3(0.6f, 0.0f, -0.8f);
  states[3].yaw = -45.0f;

  Buffer writerBase, readerBase;  // each side's current base (empty: no base yet)
  bool haveBase = false;
  Snapshot previous;
  for (size_t i = 0; i < states.size(); ++i) {
    SCOPED_TRACE(testing::Message() << "snapshot " << i);
    Buffer delta, writerNext, readerNext;
    BitMsgDelta w;
    writerBase.rewind();
    w.initWriting(haveBase ? &writerBase.msg : nullptr, &writerNext.msg, &delta.msg);
    writeSnapshot(w, previous, states[i]);
    EXPECT_EQ(w.hasChanged(), i != 2);
    if (i == 2) {
      EXPECT_EQ(delta.msg.getWriteBit(), 10) << "one 0 bit for each of the ten fields";
    }

    BitMsgDelta r;
    readerBase.rewind();
    r.initReading(haveBase ? &readerBase.msg : nullptr, &readerNext.msg, &delta.msg);
    const Snapshot got = readSnapshot(r, previous);
    EXPECT_EQ(r.hasChanged(), i != 2);
    EXPECT_EQ(delta.msg.getReadBit(), delta.msg.getWriteBit());
    EXPECT_FALSE(delta.msg.isOverflowed());
    expectSame(got, states[i]);
    EXPECT_EQ(writerNext.written(), readerNext.written()) << "the next bases agree";

    writerBase.bytes = writerNext.bytes;
    writerBase.msg.init(writerBase.bytes.data(), int(writerBase.bytes.size()));
    writerBase.msg.setWriteBit(writerNext.msg.getWriteBit());
    readerBase.bytes = readerNext.bytes;
    readerBase.msg.init(readerBase.bytes.data(), int(readerBase.bytes.size()));
    readerBase.msg.setWriteBit(readerNext.msg.getWriteBit());
    haveBase = true;
    previous = states[i];
  }
}

TEST(BitMsgDelta, ValueEqualToTheBaseIsOneZeroBit) {
  Buffer base, delta;
  base.msg.writeShort(-1234);
  BitMsgDelta w;
  w.initWriting(&base.msg, nullptr, &delta.msg);
  w.writeShort(-1234);
  EXPECT_EQ(delta.msg.getWriteBit(), 1);
  EXPECT_EQ(delta.msg.readBits(1), 0);
  EXPECT_FALSE(w.hasChanged());

  delta.rewind();
  base.rewind();
  BitMsgDelta r;
  r.initReading(&base.msg, nullptr, &delta.msg);
  EXPECT_EQ(r.readShort(), -1234);
  EXPECT_FALSE(r.hasChanged());
}

TEST(BitMsgDelta, WithoutABaseValuesGoAloneWithoutChangeBits) {
  Buffer delta;
  BitMsgDelta w;
  w.initWriting(nullptr, nullptr, &delta.msg);
  w.writeByte(200);
  w.writeDeltaByte(3, 3);
  w.writeString("ab");
  EXPECT_EQ(delta.msg.getWriteBit(), 8 + 1 + 21);
  EXPECT_TRUE(w.hasChanged());

  BitMsgDelta r;
  r.initReading(nullptr, nullptr, &delta.msg);
  EXPECT_EQ(r.readByte(), 200);
  EXPECT_EQ(r.readDeltaBits(3, 8), 3);
  char text[8];
  r.readString(text, sizeof(text));
  EXPECT_STREQ(text, "ab");
  EXPECT_TRUE(r.hasChanged());
}

TEST(BitMsgDelta, ChangedDeltaFieldCarriesItsOwnChangeBit) {
  Buffer base, delta;
  base.msg.writeBits(10, 8);
  BitMsgDelta w;
  w.initWriting(&base.msg, nullptr, &delta.msg);
  w.writeDeltaBits(10, 11, 8);
  EXPECT_EQ(delta.msg.getWriteBit(), 1 + 1 + 8) << "changed against the base, then a delta field against old";
  base.rewind();
  BitMsgDelta r;
  r.initReading(&base.msg, nullptr, &delta.msg);
  EXPECT_EQ(r.readDeltaBits(10, 8), 11);
}

TEST(BitMsgDelta, NoDeltaMessageReadsTheBase) {
  Buffer base, next;
  base.msg.writeInt(99);
  base.msg.writeString("kept");
  BitMsgDelta r;
  r.initReading(&base.msg, &next.msg, nullptr);
  EXPECT_EQ(r.readInt(), 99);
  char text[8];
  r.readString(text, sizeof(text));
  EXPECT_STREQ(text, "kept");
  EXPECT_FALSE(r.hasChanged());
  EXPECT_EQ(next.written(), base.written());
}

TEST(BitMsgDelta, ShortReadBufferDoesNotShortenTheNextBase) {
  Buffer delta, writerNext, readerNext;
  BitMsgDelta w;
  w.initWriting(nullptr, &writerNext.msg, &delta.msg);
  w.writeString("a rather long name");
  w.writeByte(5);
  BitMsgDelta r;
  r.initReading(nullptr, &readerNext.msg, &delta.msg);
  char text[4];
  r.readString(text, sizeof(text));
  EXPECT_STREQ(text, "a r");
  EXPECT_EQ(r.readByte(), 5);
  EXPECT_EQ(readerNext.written(), writerNext.written())
      << "the next base holds the string as it went on the wire, or every later field would shift";
}

TEST(BitMsgDelta, FloatBitsClampAndDeltaAgainstOld) {
  Buffer delta;
  BitMsgDelta w;
  w.initWriting(nullptr, nullptr, &delta.msg);
  w.writeDeltaFloatBits(2.0f, 2.0f, 4, 6);
  w.writeDeltaFloatBits(2.0f, 1e20f, 4, 6);
  w.writeDeltaFloat(1.0f, -1.0f);
  EXPECT_EQ(delta.msg.getWriteBit(), 1 + (1 + 11) + 33);
  BitMsgDelta r;
  r.initReading(nullptr, nullptr, &delta.msg);
  EXPECT_EQ(r.readDeltaFloatBits(2.0f, 4, 6), 2.0f);
  EXPECT_EQ(r.readDeltaFloatBits(2.0f, 4, 6), unpackFloat(packFloat(1e20f, 4, 6), 4, 6));
  EXPECT_EQ(r.readDeltaFloat(1.0f), -1.0f);
}

}  // namespace

// Widths come from callers (the game module among them): a bad one fails softly, as BitMsg's own
// checks do, instead of aborting a debug build.
TEST(BitMsgDelta, BadWidthsFailSoftlyWithAZeroResult) {
  CaptureCmdSystem cmd;
  struct Case {
    const char* what;
    std::function<void(BitMsgDelta&)> write;
    std::function<float(BitMsgDelta&)> read;
  } cases[] = {
      {"dir 5 bits", [](BitMsgDelta& d) { d.writeDir(Vec3(1, 0, 0), 5); },
       [](BitMsgDelta& d) { return d.readDir(5).length(); }},
      {"dir 33 bits", [](BitMsgDelta& d) { d.writeDir(Vec3(1, 0, 0), 33); },
       [](BitMsgDelta& d) { return d.readDir(33).length(); }},
      {"float 1+4 bits", [](BitMsgDelta& d) { d.writeFloatBits(2.0f, 1, 4); },
       [](BitMsgDelta& d) { return d.readFloatBits(1, 4); }},
      {"float 4+24 bits", [](BitMsgDelta& d) { d.writeFloatBits(2.0f, 4, 24); },
       [](BitMsgDelta& d) { return d.readFloatBits(4, 24); }},
      {"delta float 9+4 bits", [](BitMsgDelta& d) { d.writeDeltaFloatBits(1.0f, 2.0f, 9, 4); },
       [](BitMsgDelta& d) { return d.readDeltaFloatBits(1.0f, 9, 4); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (bool withBase : {false, true}) {
      Buffer base, writerNext, delta, readerNext;
      base.msg.writeBits(0, 32);
      BitMsgDelta w;
      w.initWriting(withBase ? &base.msg : nullptr, &writerNext.msg, &delta.msg);
      cmd.text.clear();
      c.write(w);
      EXPECT_TRUE(delta.msg.isOverflowed());
      EXPECT_TRUE(writerNext.msg.isOverflowed());
      EXPECT_NE(cmd.text.find("ERROR: BitMsgDelta::"), std::string::npos) << cmd.text;

      Buffer good;
      good.msg.writeBits(-1, 32);
      BitMsgDelta r;
      r.initReading(withBase ? &base.msg : nullptr, &readerNext.msg, &good.msg);
      EXPECT_EQ(c.read(r), 0.0f);
      EXPECT_TRUE(good.msg.isOverflowed() || (withBase && base.msg.isOverflowed()));
      EXPECT_TRUE(readerNext.msg.isOverflowed());
    }
  }
}
