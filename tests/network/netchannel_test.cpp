// The sequenced channel without sockets: packet layout, sequence tables (stale, duplicate, out of
// order, skipped), fragments cut and joined, lost pieces, channel ids, short and hostile headers,
// and reliable delivery under a loss and reorder pattern.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "lib/keydict.h"
#include "network/netchannel.h"
#include "support/capturecmdsystem.h"

namespace {

struct Packet {
  std::vector<uint8_t> bytes;
};

class RecordingSender : public PacketSender {
 public:
  void sendPacket(int length, const void* bytes, const NetAddress&) override {
    const uint8_t* b = static_cast<const uint8_t*>(bytes);
    packets.push_back({std::vector<uint8_t>(b, b + length)});
  }
  std::vector<Packet> packets;
};

// Hands a packet to a channel as the manager does: in a 16,384-byte message buffer.
struct Received {
  uint8_t buffer[NetChannel::kMaxMessageSize];
  BitMsg msg;
  bool accepted = false;
};

std::unique_ptr<Received> deliver(NetChannel& channel, const Packet& packet) {
  auto r = std::make_unique<Received>();
  std::memcpy(r->buffer, packet.bytes.data(), packet.bytes.size());
  r->msg.init(r->buffer, sizeof(r->buffer));
  r->msg.setWriteBit(int(packet.bytes.size()) * 8);
  r->accepted = channel.process(r->msg);
  return r;
}

std::vector<uint8_t> pattern(int size, int seed) {
  std::vector<uint8_t> bytes(static_cast<size_t>(size));
  for (int i = 0; i < size; ++i)
    bytes[size_t(i)] = uint8_t((i * 31 + seed * 7) ^ (i >> 8));
  return bytes;
}

// Reads `size` bytes of message from the read position the channel left.
std::vector<uint8_t> readMessage(BitMsg& msg, int size) {
  std::vector<uint8_t> out(static_cast<size_t>(size));
  for (int i = 0; i < size; ++i)
    out[size_t(i)] = uint8_t(msg.readByte());
  return out;
}

NetAddress peer() {
  NetAddress a;
  a.ip[0] = 127;
  a.ip[3] = 1;
  a.port = 28050;
  return a;
}

class NetChannelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    KeyDict::initPools();
    NetChannel::resetIdCounter(0);
    client = std::make_unique<NetChannel>();
    server = std::make_unique<NetChannel>();
    server->setup(NetChannel::kServerSide, peer(), 4321);
    client->setup(NetChannel::kClientSide, peer(), 4321);
  }

  // Sends `size` bytes from one end and returns the packets it made.
  std::vector<Packet> sendBytes(NetChannel& from, int size, int seed) {
    RecordingSender sender;
    std::vector<uint8_t> bytes = pattern(size, seed);
    bytes.push_back(0);
    // A message of exactly `size` bytes: its byte size is floor(writeBit / 8) + 1.
    BitMsg msg(bytes.data(), int(bytes.size()));
    msg.setWriteBit((size - 1) * 8);
    EXPECT_TRUE(from.send(msg, sender));
    while (from.unsentFragments)
      from.sendNextFragment(sender);
    return sender.packets;
  }

  CaptureCmdSystem cmd;
  std::unique_ptr<NetChannel> client;
  std::unique_ptr<NetChannel> server;
};

TEST_F(NetChannelTest, PacketLayoutHasHeaderSkippedByteAndPayload) {
  // Server-side packets carry no qport; client-side ones do.
  std::vector<Packet> fromServer = sendBytes(*server, 100, 1);
  ASSERT_EQ(fromServer.size(), 1u);
  EXPECT_EQ(fromServer[0].bytes.size(), 8u + 1u + 100u);
  std::vector<Packet> fromClient = sendBytes(*client, 100, 1);
  ASSERT_EQ(fromClient.size(), 1u);
  EXPECT_EQ(fromClient[0].bytes.size(), 10u + 1u + 100u);
  EXPECT_EQ(fromClient[0].bytes[8] | (fromClient[0].bytes[9] << 8), 4321) << "qport, 16 bits";

  auto r = deliver(*client, fromServer[0]);
  ASSERT_TRUE(r->accepted);
  EXPECT_EQ(client->channelId, server->channelId) << "the client adopts the server's id";
  EXPECT_EQ(readMessage(r->msg, 100), pattern(100, 1)) << "reading starts at the message's first byte";
  auto back = deliver(*server, fromClient[0]);
  ASSERT_TRUE(back->accepted);
  EXPECT_EQ(readMessage(back->msg, 100), pattern(100, 1));
}

TEST_F(NetChannelTest, SequenceTableRefusesStaleAndDuplicatePackets) {
  std::vector<Packet> packets;
  for (int i = 0; i < 8; ++i)
    packets.push_back(sendBytes(*server, 20, i)[0]);
  struct Case {
    int sequence;  // 1-based packet sent
    bool accepted;
    int dropped;  // after this packet, when accepted
  };
  const Case cases[] = {
      {1, true, 0},  {2, true, 0},  {2, false, 0}, {1, false, 0}, {6, true, 3},
      {4, false, 3}, {5, false, 3}, {7, true, 0},  {8, true, 0},  {8, false, 0},
  };
  for (const Case& c : cases) {
    auto r = deliver(*client, packets[size_t(c.sequence - 1)]);
    EXPECT_EQ(r->accepted, c.accepted) << "packet " << c.sequence;
    if (c.accepted) {
      EXPECT_EQ(client->dropped, c.dropped) << "packet " << c.sequence;
      EXPECT_EQ(client->incomingSequence, c.sequence);
      EXPECT_EQ(readMessage(r->msg, 20), pattern(20, c.sequence - 1));
    }
  }
}

TEST_F(NetChannelTest, FragmentsAreCutUnderOneSequenceAndJoined) {
  struct Case {
    int size;
    std::vector<int> pieces;
  };
  const Case cases[] = {
      {1372, {1372, 0}},
      {2744, {1372, 1372, 0}},
      {3000, {1372, 1372, 256}},
      {NetChannel::kMaxPayloadSize, {1372, 1372, 1372, 1372, 1372, 1372, 1372, 1372, 1372, 1372, 1372, 1287}},
  };
  for (const Case& c : cases) {
    const int before = server->outgoingSequence;
    std::vector<Packet> packets = sendBytes(*server, c.size, c.size);
    ASSERT_EQ(packets.size(), c.pieces.size()) << c.size;
    for (size_t i = 0; i < packets.size(); ++i) {
      const std::vector<uint8_t>& b = packets[i].bytes;
      const uint32_t sequence = uint32_t(b[0] | b[1] << 8 | b[2] << 16) | uint32_t(b[3]) << 24;
      EXPECT_EQ(sequence, uint32_t(before) | 0x80000000u) << "fragment bit and one sequence";
      EXPECT_EQ(b[10] | (b[11] << 8), c.pieces[i]) << c.size << " piece " << i;
    }
    EXPECT_EQ(server->outgoingSequence, before + 1);
    std::unique_ptr<Received> last;
    for (size_t i = 0; i < packets.size(); ++i) {
      last = deliver(*client, packets[i]);
      EXPECT_EQ(last->accepted, i + 1 == packets.size()) << "only the last piece completes";
    }
    EXPECT_EQ(readMessage(last->msg, c.size), pattern(c.size, c.size)) << c.size;
  }
}

TEST_F(NetChannelTest, MessagesTooLargeForTheFarEndAreNotSent) {
  RecordingSender sender;
  std::vector<uint8_t> bytes(NetChannel::kMaxMessageSize, 1);
  BitMsg msg(bytes.data(), int(bytes.size()));
  msg.setWriteBit((NetChannel::kMaxPayloadSize)*8);
  EXPECT_FALSE(server->send(msg, sender));
  EXPECT_TRUE(sender.packets.empty());
  EXPECT_FALSE(server->unsentFragments);
}

TEST_F(NetChannelTest, ALostPieceSpoilsItsMessageButNotTheNext) {
  std::vector<Packet> first = sendBytes(*server, 3000, 1);
  std::vector<Packet> second = sendBytes(*server, 2000, 2);
  EXPECT_FALSE(deliver(*client, first[1])->accepted) << "start 1372 while nothing was joined";
  EXPECT_FALSE(deliver(*client, first[2])->accepted) << "later pieces of that message";
  EXPECT_FALSE(deliver(*client, second[0])->accepted);
  auto r = deliver(*client, second[1]);
  ASSERT_TRUE(r->accepted);
  EXPECT_EQ(readMessage(r->msg, 2000), pattern(2000, 2));
  EXPECT_FALSE(deliver(*client, first[0])->accepted) << "an older sequence after a newer one";
}

TEST_F(NetChannelTest, ASendWhileFragmentsArePendingLeavesTheBufferAlone) {
  RecordingSender sender;
  std::vector<uint8_t> big = pattern(3000, 5);
  ASSERT_TRUE(server->sendData(2999, big.data(), sender));
  ASSERT_TRUE(server->unsentFragments);
  std::vector<uint8_t> other = pattern(2000, 6);
  EXPECT_FALSE(server->sendData(1999, other.data(), sender));
  EXPECT_FALSE(server->sendData(9, other.data(), sender)) << "no small packet jumps the sequence";
  while (server->unsentFragments)
    server->sendNextFragment(sender);
  std::unique_ptr<Received> last;
  for (const Packet& p : sender.packets)
    last = deliver(*client, p);
  ASSERT_TRUE(last->accepted);
  big.resize(2999);
  EXPECT_EQ(readMessage(last->msg, 2999), big);
}

TEST_F(NetChannelTest, ServerChannelIdsCountUpAndClientsKeepTheFirst) {
  NetChannel::resetIdCounter(0);
  auto a = std::make_unique<NetChannel>();
  std::vector<int> ids;
  for (int i = 0; i < 3; ++i) {
    a->setup(NetChannel::kServerSide, peer(), 1);
    ids.push_back(a->channelId);
  }
  EXPECT_EQ(ids, (std::vector<int>{1, 2, 3}));
  NetChannel::resetIdCounter(0x7fffffff);
  a->setup(NetChannel::kServerSide, peer(), 1);
  EXPECT_EQ(a->channelId, 1) << "31 bits, and 0 is never handed out";

  // A client that adopted one id refuses packets under another.
  std::vector<Packet> first = sendBytes(*server, 10, 1);
  ASSERT_TRUE(deliver(*client, first[0])->accepted);
  auto otherServer = std::make_unique<NetChannel>();
  otherServer->setup(NetChannel::kServerSide, peer(), 1);
  otherServer->outgoingSequence = 50;
  EXPECT_FALSE(deliver(*client, sendBytes(*otherServer, 10, 2)[0])->accepted);
  EXPECT_EQ(client->channelId, server->channelId);
  EXPECT_EQ(client->incomingSequence, 1);
}

TEST_F(NetChannelTest, AdoptingAnIdAcceptsTheFirstPacketWhateverItsNumber) {
  // The client's first packet from its server may carry any sequence number: it is taken, counts
  // nothing as dropped, and the numbers after it are judged against it.
  struct Case {
    int32_t firstSequence;
  };
  const Case cases[] = {{0}, {1}, {100}, {0x7ffffff0}};
  for (const Case& c : cases) {
    NetChannel::resetIdCounter(0);
    server->setup(NetChannel::kServerSide, peer(), 4321);
    client->setup(NetChannel::kClientSide, peer(), 4321);
    server->outgoingSequence = c.firstSequence;
    std::vector<Packet> first = sendBytes(*server, 12, 1);
    std::vector<Packet> second = sendBytes(*server, 12, 2);
    auto r = deliver(*client, first[0]);
    ASSERT_TRUE(r->accepted) << "first sequence " << c.firstSequence;
    EXPECT_EQ(client->dropped, 0) << "first sequence " << c.firstSequence;
    EXPECT_EQ(client->incomingSequence, c.firstSequence);
    EXPECT_EQ(readMessage(r->msg, 12), pattern(12, 1));
    EXPECT_FALSE(deliver(*client, first[0])->accepted) << "the same packet again is a duplicate";
    ASSERT_TRUE(deliver(*client, second[0])->accepted);
    EXPECT_EQ(client->dropped, 0);
  }
  // A fragment too short for its fragment header is refused before its id is adopted.
  client->setup(NetChannel::kClientSide, peer(), 4321);
  std::vector<Packet> pieces = sendBytes(*server, 2000, 3);
  Packet cut = pieces[0];
  cut.bytes.resize(10);
  EXPECT_FALSE(deliver(*client, cut)->accepted);
  EXPECT_EQ(client->channelId, 0);
}

TEST_F(NetChannelTest, ServerChannelIdsAreUnpredictableByDefault) {
  NetChannel::useRandomIds();
  auto a = std::make_unique<NetChannel>();
  std::vector<int32_t> ids;
  for (int i = 0; i < 64; ++i) {
    a->setup(NetChannel::kServerSide, peer(), 1);
    ids.push_back(a->channelId);
  }
  NetChannel::resetIdCounter(0);
  int neighbours = 0;
  for (size_t i = 0; i < ids.size(); ++i) {
    EXPECT_GT(ids[i], 0) << "31 bits, never 0";
    for (size_t j = i + 1; j < ids.size(); ++j)
      EXPECT_NE(ids[i], ids[j]) << "ids " << i << " and " << j;
    if (i > 0 && std::abs(int64_t(ids[i]) - int64_t(ids[i - 1])) < 1024)
      ++neighbours;
  }
  EXPECT_LE(neighbours, 1) << "the next id is not found near the last one";
}

TEST_F(NetChannelTest, NumbersFarBeyondTheWindowAreRefused) {
  std::vector<Packet> first = sendBytes(*server, 10, 1);
  ASSERT_TRUE(deliver(*client, first[0])->accepted);
  struct Case {
    int32_t ahead;  // past the last accepted number
    bool accepted;
  };
  const Case cases[] = {{0x7ffffff0, false}, {NetChannel::kSequenceWindow + 1, false},
                        {NetChannel::kSequenceWindow, true}, {1, true}};
  for (const Case& c : cases) {
    const int32_t last = client->incomingSequence;
    server->outgoingSequence = int32_t(int64_t(last) + c.ahead > 0x7fffffff ? 0x7fffffff : last + c.ahead);
    EXPECT_EQ(deliver(*client, sendBytes(*server, 10, 2)[0])->accepted, c.accepted) << "ahead " << c.ahead;
  }
  // The same holds for a server-side channel: a forged jump leaves the real client's numbers good.
  std::vector<Packet> good = sendBytes(*client, 10, 3);
  ASSERT_TRUE(deliver(*server, good[0])->accepted);
  client->outgoingSequence += 0x100000;
  EXPECT_FALSE(deliver(*server, sendBytes(*client, 10, 4)[0])->accepted);
  client->outgoingSequence -= 0x100000;
  EXPECT_TRUE(deliver(*server, sendBytes(*client, 10, 5)[0])->accepted);
}

TEST_F(NetChannelTest, ServerChannelRefusesIdZeroOnceTheClientKnowsItsId) {
  // The client sends id 0 until it has heard from the server.
  std::vector<Packet> early = sendBytes(*client, 10, 1);
  EXPECT_TRUE(deliver(*server, early[0])->accepted);
  ASSERT_TRUE(deliver(*client, sendBytes(*server, 10, 2)[0])->accepted);
  std::vector<Packet> later = sendBytes(*client, 10, 3);
  EXPECT_TRUE(deliver(*server, later[0])->accepted);
  EXPECT_TRUE(server->peerKnowsId);
  // A stranger still naming id 0 is refused.
  auto stranger = std::make_unique<NetChannel>();
  stranger->setup(NetChannel::kClientSide, peer(), 4321);
  stranger->outgoingSequence = 100;
  EXPECT_FALSE(deliver(*server, sendBytes(*stranger, 10, 4)[0])->accepted);
  EXPECT_EQ(server->incomingSequence, 2);
}

TEST_F(NetChannelTest, PacketsShorterThanTheirHeadersAreRefused) {
  std::vector<Packet> good = sendBytes(*client, 10, 1);
  std::vector<Packet> fragments = sendBytes(*client, 2000, 2);
  struct Case {
    const Packet* packet;
    size_t keep;
  };
  const Case cases[] = {{&good[0], 0},       {&good[0], 4},       {&good[0], 9},
                        {&fragments[0], 10}, {&fragments[0], 13}, {&fragments[0], 200}};
  for (const Case& c : cases) {
    Packet cut = *c.packet;
    cut.bytes.resize(c.keep);
    EXPECT_FALSE(deliver(*server, cut)->accepted) << c.keep << " bytes";
  }
  EXPECT_EQ(server->incomingSequence, 0);
  EXPECT_EQ(server->fragmentLength, 0) << "a piece that does not fit the packet joins nothing";
}

TEST_F(NetChannelTest, HostileFragmentHeadersNeverOverrunTheJoinBuffer) {
  // Pieces claiming lengths beyond the fragment size, or starts beyond the message limit.
  struct Case {
    int start;
    int length;
  };
  const Case cases[] = {{0, 1373}, {0, 65535}, {16384, 1}, {0, -1 & 0xffff}};
  int sequence = 1;
  for (const Case& c : cases) {
    uint8_t buffer[NetChannel::kPacketBufferSize];
    BitMsg p(buffer, sizeof(buffer));
    p.writeInt(int32_t(uint32_t(sequence++) | 0x80000000u));
    p.writeInt(0);
    p.writeBits(4321, 16);
    p.writeBits(c.start, 16);
    p.writeBits(c.length, 16);
    std::vector<uint8_t> payload(1400, 0xab);
    p.writeData(payload.data(), 1400);
    Packet packet{std::vector<uint8_t>(buffer, buffer + p.getSize())};
    EXPECT_FALSE(deliver(*server, packet)->accepted) << c.start << "/" << c.length;
  }
}

TEST_F(NetChannelTest, ReliableQueueHoldsSixtyFourAndRefusesWhatCannotBeSent) {
  for (int i = 1; i <= 64; ++i)
    EXPECT_TRUE(client->queueReliableString(("message " + std::to_string(i)).c_str(), 4)) << i;
  EXPECT_FALSE(client->queueReliableString("the 65th", 4));
  EXPECT_EQ(client->reliableSequence, 64);
  client->acknowledge(10);
  EXPECT_TRUE(client->queueReliableString("after the acknowledgement", 4));
  client->acknowledge(1000);
  EXPECT_EQ(client->reliableAcknowledge, 10) << "a number above what was queued is ignored";
  client->acknowledge(5);
  EXPECT_EQ(client->reliableAcknowledge, 10) << "an older report never takes acknowledgement back";

  uint8_t big[1600] = {};
  BitMsg tooLarge(big, sizeof(big));
  tooLarge.setWriteBit(1500 * 8);
  client->acknowledge(65);
  EXPECT_FALSE(client->queueReliable(tooLarge)) << "larger than a slot";
  uint8_t small[8];
  BitMsg overflowed(small, sizeof(small));
  overflowed.writeByte(4);
  cmd.text.clear();
  overflowed.writeData(big, 100);
  ASSERT_TRUE(overflowed.isOverflowed());
  EXPECT_FALSE(client->queueReliable(overflowed)) << "an overflowed message is never queued";
  RecordingSender sender;
  EXPECT_FALSE(client->send(overflowed, sender)) << "nor sent";
  EXPECT_TRUE(sender.packets.empty());
}

// Reliable messages a test end collected.
struct Collected {
  std::vector<std::string> texts;
};

bool collect(void* context, BitMsg& message) {
  Collected* c = static_cast<Collected*>(context);
  EXPECT_EQ(message.readByte(), 4);
  char text[1500];
  message.readString(text, sizeof(text));
  c->texts.push_back(text);
  return true;
}

TEST_F(NetChannelTest, WriteReliableStopsWhereTheMessageIsFull) {
  std::string long1(1000, 'a');
  std::string long2(1000, 'b');
  ASSERT_TRUE(client->queueReliableString(long1.c_str(), 4));
  ASSERT_TRUE(client->queueReliableString(long2.c_str(), 4));
  cmd.text.clear();
  uint8_t buffer[1400];
  BitMsg msg(buffer, sizeof(buffer));
  msg.writeByte(7);
  client->writeReliable(msg);
  EXPECT_FALSE(msg.isOverflowed()) << cmd.text;
  Collected got;
  BitMsg reader;
  reader.initRead(buffer, msg.getSize());
  EXPECT_EQ(reader.readByte(), 7);
  ASSERT_TRUE(server->readReliable(reader, collect, &got));
  ASSERT_EQ(got.texts.size(), 1u) << "the second does not fit and waits";
  EXPECT_EQ(got.texts[0].size(), 1000u);
}

TEST_F(NetChannelTest, ReliableDeliveryUnderLossAndReorder) {
  // Each tick both ends send a packet carrying their reliable block; the pattern loses and
  // swaps packets in both directions. Every message arrives once, in order.
  const int total = 300;
  Collected atServer;
  Collected atClient;
  int queuedClient = 0;
  int queuedServer = 0;
  struct Late {
    int tick;
    int side;
    Packet packet;
  };
  std::deque<Late> held;
  for (int tick = 0;
       tick < 2000 && (int(atServer.texts.size()) < total || int(atClient.texts.size()) < total); ++tick) {
    while (queuedClient < total &&
           client->queueReliableString(("c" + std::to_string(queuedClient)).c_str(), 4))
      ++queuedClient;
    while (queuedServer < total &&
           server->queueReliableString(("s" + std::to_string(queuedServer)).c_str(), 4))
      ++queuedServer;
    for (int side = 0; side < 2; ++side) {
      NetChannel& from = side == 0 ? *client : *server;
      NetChannel& to = side == 0 ? *server : *client;
      Collected& into = side == 0 ? atServer : atClient;
      uint8_t buffer[NetChannel::kMaxMessageSize];
      BitMsg msg(buffer, sizeof(buffer));
      from.writeReliable(msg);
      RecordingSender sender;
      ASSERT_TRUE(from.send(msg, sender));
      while (from.unsentFragments)
        from.sendNextFragment(sender);
      for (Packet& p : sender.packets) {
        const int roll = (tick * 7 + side * 3) % 10;
        if (roll < 3)
          continue;  // lost
        if (roll == 3) {
          held.push_back({tick, side, p});  // delayed past the next packet
          continue;
        }
        auto r = deliver(to, p);
        if (r->accepted) {
          EXPECT_TRUE(to.readReliable(r->msg, collect, &into));
        }
      }
    }
    while (!held.empty() && held.front().tick < tick) {
      // Late packets arrive after a newer one: the channel refuses them as stale.
      NetChannel& to = held.front().side == 0 ? *server : *client;
      Collected& into = held.front().side == 0 ? atServer : atClient;
      const int lateSequence = held.front().packet.bytes[0] | held.front().packet.bytes[1] << 8;
      const bool stale = to.incomingSequence >= lateSequence;
      auto r = deliver(to, held.front().packet);
      EXPECT_EQ(r->accepted, !stale) << "a packet older than an accepted one is refused";
      held.pop_front();
      if (r->accepted) {
        EXPECT_TRUE(to.readReliable(r->msg, collect, &into));
      }
    }
  }
  ASSERT_EQ(int(atServer.texts.size()), total);
  ASSERT_EQ(int(atClient.texts.size()), total);
  for (int i = 0; i < total; ++i) {
    EXPECT_EQ(atServer.texts[size_t(i)], "c" + std::to_string(i));
    EXPECT_EQ(atClient.texts[size_t(i)], "s" + std::to_string(i));
  }
}

TEST_F(NetChannelTest, MalformedReliableBlocksAreRefused) {
  struct Case {
    const char* name;
    std::vector<int> lengths;  // 16-bit lengths written after the header, each with that many bytes
    int terminator;            // -1: none
  };
  const Case cases[] = {
      {"length beyond a slot", {1472}, 0},
      {"no terminator", {5}, -1},
      {"65 messages", std::vector<int>(65, 1), 0},
  };
  for (const Case& c : cases) {
    uint8_t buffer[NetChannel::kMaxMessageSize];
    BitMsg msg(buffer, sizeof(buffer));
    msg.writeInt(0);
    msg.writeInt(1);
    std::vector<uint8_t> bytes(1500, 4);
    for (int length : c.lengths) {
      msg.writeBits(length, 16);
      msg.writeData(bytes.data(), length);
    }
    if (c.terminator >= 0)
      msg.writeBits(c.terminator, 16);
    BitMsg reader;
    reader.initRead(buffer, msg.getSize());
    auto fresh = std::make_unique<NetChannel>();
    fresh->setup(NetChannel::kServerSide, peer(), 1);
    Collected got;
    EXPECT_FALSE(fresh->readReliable(
        reader, [](void*, BitMsg&) { return true; }, &got))
        << c.name;
  }
}

TEST(NetChannelCost, PacketCostFollowsTheLineRate) {
  EXPECT_EQ(NetChannel::packetCost(100), 5);
  EXPECT_EQ(NetChannel::packetCost(1372), 56);
  EXPECT_EQ(NetChannel::packetCost(16384), 56);
  EXPECT_EQ(NetChannel::packetCost(0), 1);
}

}  // namespace
