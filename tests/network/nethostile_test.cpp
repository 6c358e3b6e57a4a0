// A hostile peer on 127.0.0.1 sends 100,000 malformed, truncated, replayed and spoofed packets
// to a server while a good client stays connected: the server keeps serving the good client.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "lib/interface/cmdsystem.h"
#include "lib/keydict.h"
#include "network/networkmanager.h"
#include "platform/net.h"
#include "support/capturecmdsystem.h"
#include "support/netfakes.h"

namespace {

// Builds one hostile packet of the given kind.
std::vector<uint8_t> hostilePacket(int kind, std::mt19937& random, const NetworkManager& client,
                                   const std::vector<std::vector<uint8_t>>& recorded) {
  std::vector<uint8_t> bytes;
  auto byte = [&] { return uint8_t(random() & 0xff); };
  switch (kind) {
    case 0: {  // random bytes of any length a datagram on loopback can carry
      bytes.resize(random() % 1600);
      for (uint8_t& b : bytes)
        b = byte();
      break;
    }
    case 1: {  // connectionless commands, real and broken
      static const char* texts[] = {
          "getchallenge", "connect", "getinfo", "disconnect",          "connect \"",
          "CONNECT",      "print",   "",        "challengeResponse 1", "getstatus;getchallenge"};
      std::string text = std::string("\xff\xff\xff\xff") + texts[random() % 10];
      bytes.assign(text.begin(), text.end());
      if (random() % 2) {  // a dictionary of garbage, or of very many keys
        const int extra = int(random() % 1200);
        for (int i = 0; i < extra; ++i)
          bytes.push_back(random() % 3 ? uint8_t('a' + random() % 26) : 0);
      }
      break;
    }
    case 2: {  // spoofed: the good client's qport from another port, wrong ids and sequences
      uint8_t buffer[1472];
      BitMsg msg(buffer, sizeof(buffer));
      msg.writeInt(int32_t(random()));
      msg.writeInt(random() % 4 == 0 ? 0 : int32_t(random() | 1));
      msg.writeBits(client.channel.qport, 16);
      if (random() % 2) {
        msg.writeBits(int(random() % 20000), 16);
        msg.writeBits(int(random() % 2000), 16);
      }
      std::vector<uint8_t> payload(random() % 1300);
      for (uint8_t& b : payload)
        b = byte();
      msg.writeData(payload.data(), int(payload.size()));
      bytes.assign(buffer, buffer + msg.getSize());
      break;
    }
    case 3: {  // truncated copies of real packets
      if (recorded.empty())
        return hostilePacket(0, random, client, recorded);
      bytes = recorded[random() % recorded.size()];
      bytes.resize(random() % (bytes.size() + 1));
      break;
    }
    default: {  // replayed real packets, whole or with a flipped bit
      if (recorded.empty())
        return hostilePacket(0, random, client, recorded);
      bytes = recorded[random() % recorded.size()];
      // A flipped bit anywhere past the sequence number (a raised sequence with the right id is
      // a fresh packet, which no protocol without keys can tell from the client's own).
      if (bytes.size() > 4 && random() % 2)
        bytes[4 + random() % (bytes.size() - 4)] ^= uint8_t(1u << (random() % 8));
      break;
    }
  }
  return bytes;
}

TEST(HostilePeer, ServerKeepsServingTheGoodClientThrough100000BadPackets) {
  KeyDict::initPools();
  CaptureCmdSystem cmd;
  FakeGame game;
  FakeKeys keys;
  auto server = makeManager();
  auto client = makeManager();
  ASSERT_TRUE(startServer(*server, 4242)) << cmd.text;
  CmdArgs args;
  args.tokenize(("connect 127.0.0.1:" + std::to_string(server->ownAddress.port)).c_str());
  ASSERT_TRUE(client->connectToServer(args));
  for (int i = 0; i < 1000 && client->clientState != kClientActive; ++i)
    run(*server, *client, 1);
  ASSERT_EQ(client->clientState, kClientActive) << cmd.text;
  // The recorded packets below reuse sequence numbers the client has long passed: replays.
  run(*server, *client, 200);
  ASSERT_GT(server->clients[0].channel.incomingSequence, 100);

  const uint8_t loopbackIp[4] = {127, 0, 0, 1};
  PlatformSocket attacker = platformUdpOpen(loopbackIp, -1);
  ASSERT_NE(attacker, 0);

  // Real packets of the good client, as an attacker on the path would record them: sent through
  // a channel that mirrors the client's, to the attacker's own socket.
  std::vector<std::vector<uint8_t>> recorded;
  {
    class Recorder : public PacketSender {
     public:
      void sendPacket(int length, const void* bytes, const NetAddress&) override {
        const uint8_t* b = static_cast<const uint8_t*>(bytes);
        packets->emplace_back(b, b + length);
      }
      std::vector<std::vector<uint8_t>>* packets;
    } recorder;
    recorder.packets = &recorded;
    auto mirror = std::make_unique<NetChannel>();
    mirror->setup(NetChannel::kClientSide, loopback(server->ownAddress.port), client->channel.qport);
    mirror->channelId = client->channel.channelId;
    mirror->outgoingSequence = 1;
    std::vector<uint8_t> body(3000, 0x5a);
    for (int i = 0; i < 20; ++i)
      mirror->sendData(i * 150 + 5, body.data(), recorder);
    while (mirror->unsentFragments)
      mirror->sendNextFragment(recorder);
  }

  std::mt19937 random(20261210);
  const int total = 100000;
  const int goodSnapshots = client->snapshotsReceived;
  const int goodIncoming = server->clients[0].channel.incomingSequence;
  int sent = 0;
  // What the console shows of the flood: its size and any raw control byte.
  size_t logBytes = 0;
  size_t controlBytes = 0;
  auto account = [&] {
    logBytes += cmd.text.size();
    for (char c : cmd.text)
      controlBytes += (static_cast<unsigned char>(c) < 0x20 && c != '\n') || c == 0x7f ? 1 : 0;
    cmd.text.clear();
  };
  for (int i = 0; i < total; ++i) {
    std::vector<uint8_t> packet = hostilePacket(int(random() % 5), random, *client, recorded);
    // A full socket buffer refuses a send now and then: drain the server and try once more.
    bool ok =
        platformUdpSend(attacker, packet.data(), int(packet.size()), loopbackIp, server->ownAddress.port);
    if (!ok) {
      run(*server, *client, 1);
      ok = platformUdpSend(attacker, packet.data(), int(packet.size()), loopbackIp, server->ownAddress.port);
    }
    sent += ok ? 1 : 0;
    // Keep the good client's traffic going and the server's socket drained.
    if (i % 100 == 99) {
      run(*server, *client, 1);
      account();
    }
  }
  for (int i = 0; i < 100; ++i)
    run(*server, *client, 1);
  platformUdpClose(attacker);

  account();
  EXPECT_EQ(sent, total);
  // About 16 s of network time: a few dozen lines a second at most, never the flood itself.
  EXPECT_LT(logBytes, size_t(200000)) << "the log grows with the flood";
  EXPECT_EQ(controlBytes, 0u) << "raw control bytes reached the console";
  EXPECT_EQ(client->clientState, kClientActive);
  EXPECT_EQ(server->clients[0].state, kSlotActive);
  EXPECT_GT(client->snapshotsReceived, goodSnapshots + 500) << "snapshots kept coming";
  EXPECT_GT(server->clients[0].channel.incomingSequence, goodIncoming + 500)
      << "the client's packets kept arriving";
  // The good client's commands still arrive.
  const int frame = server->userCmds[0].frame;
  run(*server, *client, 10);
  EXPECT_GT(server->userCmds[0].frame, frame);
  EXPECT_EQ(server->clients[0].channel.remoteAddress.port, client->ownAddress.port)
      << "no spoofed packet moved the good client's port";
}

// A stranger's handshake from its own socket: "getchallenge", then "connect" with the answer.
class StrangerHost {
 public:
  explicit StrangerHost(uint8_t lastByte) { ip_[3] = lastByte; }
  ~StrangerHost() {
    for (PlatformSocket s : sockets_)
      platformUdpClose(s);
  }
  // Opens a new port and asks for a challenge from it.
  void ask(uint16_t serverPort) {
    PlatformSocket s = platformUdpOpen(ip_, -1);
    if (!s)
      return;
    sockets_.push_back(s);
    sendChallengeRequest(s, serverPort);
  }
  // Answers every challenge that came back with a connect.
  void connectAll(uint16_t serverPort) {
    for (PlatformSocket s : sockets_) {
      char buffer[1600];
      uint8_t ip[4];
      uint16_t port = 0;
      for (;;) {
        const int got = platformUdpReceive(s, buffer, sizeof(buffer) - 1, ip, &port);
        if (got <= 4)
          break;
        buffer[got] = '\0';
        if (std::strncmp(buffer + 4, "challengeResponse ", 18) != 0)
          continue;
        uint8_t bytes[1472];
        BitMsg msg(bytes, sizeof(bytes));
        msg.writeInt(-1);
        for (const char* c = "connect"; *c; ++c)
          msg.writeByte(uint8_t(*c));
        msg.writeByte(0);
        KeyDict dict;
        dict.set("protocol", "15");
        dict.set("challenge", buffer + 4 + 18);
        uint8_t local[4];
        uint16_t localPort = 0;
        platformUdpLocalAddress(s, local, &localPort);
        dict.set("intport", std::to_string(localPort).c_str());
        dict.set("ui_name", "intruder");
        msg.writeKeyDict(dict);
        platformUdpSend(s, bytes, msg.getSize(), kServerIp, serverPort);
      }
    }
  }
  // A request from a port that closes at once: many hosts (127.0.n.3), eight a host.
  static void flood(uint16_t serverPort, int count) {
    static int sent = 0;
    for (int i = 0; i < count; ++i, ++sent) {
      const uint8_t ip[4] = {127, 0, uint8_t(1 + (sent / 8) % 250), 3};
      PlatformSocket s = platformUdpOpen(ip, -1);
      if (!s)
        continue;
      sendChallengeRequest(s, serverPort);
      platformUdpClose(s);
    }
  }

 private:
  static void sendChallengeRequest(PlatformSocket s, uint16_t serverPort) {
    const char text[] = "\xff\xff\xff\xffgetchallenge";
    platformUdpSend(s, text, int(sizeof(text)) - 1, kServerIp, serverPort);
  }
  static constexpr uint8_t kServerIp[4] = {127, 0, 0, 1};
  uint8_t ip_[4] = {127, 0, 0, 0};
  std::vector<PlatformSocket> sockets_;
};

TEST(HostilePeer, SlotFillingAndChallengeFloodsLeaveRoomForAFreshClient) {
  KeyDict::initPools();
  CaptureCmdSystem cmd;
  FakeGame game;
  FakeKeys keys;
  auto server = makeManager();
  auto client = makeManager();
  auto fresh = makeManager();
  ASSERT_TRUE(startServer(*server, 4747)) << cmd.text;
  const uint16_t port = server->ownAddress.port;
  CmdArgs args;
  args.tokenize(("connect 127.0.0.1:" + std::to_string(port)).c_str());
  ASSERT_TRUE(client->connectToServer(args));
  for (int i = 0; i < 1000 && server->clients[0].state != kSlotActive; ++i)
    run(*server, *client, 1);
  ASSERT_EQ(server->clients[0].state, kSlotActive) << cmd.text;

  // The longest stretch of network time without a snapshot for the playing client.
  int lastSnapshot = client->snapshotsReceived;
  int lastSnapshotTime = client->time;
  int longestGap = 0;
  bool freshStarted = false;
  auto step = [&] {
    if (freshStarted)
      fresh->frame(16);
    run(*server, *client, 1);
    if (freshStarted)
      pump(*fresh);
    if (client->snapshotsReceived != lastSnapshot) {
      lastSnapshot = client->snapshotsReceived;
      longestGap = std::max(longestGap, client->time - lastSnapshotTime);
      lastSnapshotTime = client->time;
    }
  };

  // For ten seconds one host asks from four new ports a second and connects with every
  // challenge it gets (a challenge and a connect each stay under its request limit), while 250
  // other hosts ask for 2,000 challenges; a fresh client joins half-way, in the thick of it.
  StrangerHost filler(2);
  for (int round = 0; round < 10; ++round) {
    if (round == 5) {
      ASSERT_TRUE(fresh->connectToServer(args));
      freshStarted = true;
    }
    for (int i = 0; i < 4; ++i)
      filler.ask(port);
    for (int i = 0; i < 10; ++i) {
      StrangerHost::flood(port, 20);
      step();
    }
    filler.connectAll(port);
    for (int i = 0; i < 53; ++i)
      step();
  }
  int held = 0;
  for (const ClientSlot& slot : server->clients)
    held += slot.state >= kSlotConnected && slot.channel.remoteAddress.ip[3] == 2 ? 1 : 0;
  EXPECT_GT(held, 0) << "the filler did get in";
  EXPECT_LE(held, NetworkManager::kDefaultClientsPerAddress) << "one host holds at most its share";
  EXPECT_EQ(fresh->clientState, kClientActive) << cmd.text.substr(cmd.text.size() > 4000 ? cmd.text.size() - 4000 : 0);
  EXPECT_EQ(client->clientState, kClientActive);
  EXPECT_LE(longestGap, 500) << "the playing client's snapshots stalled";
  // And after the floods, one more joins.
  auto later = makeManager();
  ASSERT_TRUE(later->connectToServer(args));
  for (int i = 0; i < 1000 && later->clientState != kClientActive; ++i) {
    later->frame(16);
    step();
    pump(*later);
  }
  EXPECT_EQ(later->clientState, kClientActive);
}

}  // namespace
