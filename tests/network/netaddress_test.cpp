// Addresses: text forms, parsing with and without ports, bounded copies of long texts, the
// local-network test; connectionless packet recognition and the challenge table.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>
#include <string>

#include "lib/keydict.h"
#include "network/networkmanager.h"
#include "platform/net.h"
#include "support/capturecmdsystem.h"
#include "support/netfakes.h"

namespace {

NetAddress make(int a, int b, int c, int d, int port = 0) {
  NetAddress n;
  n.ip[0] = uint8_t(a);
  n.ip[1] = uint8_t(b);
  n.ip[2] = uint8_t(c);
  n.ip[3] = uint8_t(d);
  n.port = uint16_t(port);
  return n;
}

TEST(NetAddress, TextForms) {
  NetAddress a = make(192, 168, 1, 20, 28050);
  EXPECT_STREQ(NetAddress::toString(a), "192.168.1.20:28050");
  EXPECT_STREQ(NetAddress::toStringNoPort(a), "192.168.1.20");
  EXPECT_TRUE(NetAddress::compare(a, make(192, 168, 1, 20, 28050)));
  EXPECT_FALSE(NetAddress::compare(a, make(192, 168, 1, 20, 28051)));
  EXPECT_TRUE(NetAddress::compareIP(a, make(192, 168, 1, 20, 1)));
  EXPECT_FALSE(NetAddress::compareIP(a, make(192, 168, 1, 21, 28050)));
}

TEST(NetAddress, SockaddrConversionKeepsBytesAndSwapsThePort) {
  const NetAddress cases[] = {make(127, 0, 0, 1, 28050), make(192, 168, 1, 20, 1), make(10, 255, 0, 7, 65535),
                              make(0, 0, 0, 0, 0)};
  for (const NetAddress& a : cases) {
    PlatformSockaddr raw;
    std::memset(&raw, 0xcd, sizeof(raw));
    NetAddress::toSockaddr(a, &raw);
    sockaddr_in in;
    std::memcpy(&in, raw.bytes, sizeof(in));
    EXPECT_EQ(in.sin_family, AF_INET) << NetAddress::toString(a);
    EXPECT_EQ(ntohs(in.sin_port), a.port) << "the port travels in network order";
    EXPECT_EQ(std::memcmp(&in.sin_addr.s_addr, a.ip, 4), 0) << "the bytes stay in network order";
    NetAddress back = make(9, 9, 9, 9, 9);
    ASSERT_TRUE(NetAddress::fromSockaddr(raw, &back));
    EXPECT_TRUE(NetAddress::compare(a, back)) << NetAddress::toString(back);
  }
  // Another family is not an IPv4 address: the target is left alone.
  PlatformSockaddr raw;
  NetAddress::toSockaddr(make(1, 2, 3, 4, 5), &raw);
  sockaddr_in in;
  std::memcpy(&in, raw.bytes, sizeof(in));
  in.sin_family = AF_INET6;
  std::memcpy(raw.bytes, &in, sizeof(in));
  NetAddress untouched = make(9, 9, 9, 9, 9);
  EXPECT_FALSE(NetAddress::fromSockaddr(raw, &untouched));
  EXPECT_TRUE(NetAddress::compare(untouched, make(9, 9, 9, 9, 9)));
}

TEST(NetAddress, ParseTable) {
  struct Case {
    const char* text;
    bool ok;
    const char* expected;  // toString when ok
  };
  const Case cases[] = {
      {"127.0.0.1", true, "127.0.0.1:28050"},
      {"127.0.0.1:0", true, "127.0.0.1:28050"},
      {"127.0.0.1:27960", true, "127.0.0.1:27960"},
      {"10.1.2.3:65535", true, "10.1.2.3:65535"},
      {"localhost:1234", true, "127.0.0.1:1234"},
      {"127.0.0.1:65536", false, ""},
      {"127.0.0.1:", false, ""},
      {"127.0.0.1:12ab", false, ""},
      {"127.0.0.256", false, ""},
      {"1.2.3", false, ""},
      {"", false, ""},
      {":28050", false, ""},
      {nullptr, false, ""},
  };
  for (const Case& c : cases) {
    NetAddress a = make(9, 9, 9, 9, 9);
    EXPECT_EQ(NetAddress::parse(&a, c.text), c.ok) << (c.text ? c.text : "(null)");
    if (c.ok)
      EXPECT_STREQ(NetAddress::toString(a), c.expected) << c.text;
    else
      EXPECT_STREQ(NetAddress::toString(a), "9.9.9.9:9") << "a failure leaves the address alone";
  }
}

TEST(NetAddress, ResolveKeepsPortZeroAndBoundsLongText) {
  NetAddress a;
  ASSERT_TRUE(NetAddress::resolve("127.0.0.1", &a));
  EXPECT_EQ(a.port, 0) << "only parse turns port 0 into the default";
  // A text longer than the 127 characters that count: cut, and the cut text is no address.
  std::string longText = "127.0.0.1" + std::string(300, '0');
  EXPECT_FALSE(NetAddress::resolve(longText.c_str(), &a));
  std::string padded = "127.0.0.1:" + std::string(200, '1');
  EXPECT_FALSE(NetAddress::resolve(padded.c_str(), &a));
}

TEST(NetAddress, LocalNetworkTable) {
  const uint8_t local[][4] = {{192, 168, 1, 20}, {172, 17, 0, 2}, {10, 0, 0, 5}};
  netSetLocalAddresses(local, 3);
  struct Case {
    NetAddress address;
    bool local;
  };
  const Case cases[] = {
      {make(127, 0, 0, 1), true},  {make(192, 168, 1, 99), true}, {make(192, 168, 2, 99), false},
      {make(172, 20, 1, 1), true}, {make(172, 32, 1, 1), false},  {make(10, 200, 1, 1), true},
      {make(11, 0, 0, 5), false},  {make(130, 1, 1, 1), false},   {make(127, 0, 0, 2), false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(NetAddress::isLocal(c.address), c.local) << NetAddress::toString(c.address);
  netSetLocalAddresses(local, 0);
  EXPECT_FALSE(NetAddress::isLocal(make(192, 168, 1, 99)));
  EXPECT_TRUE(NetAddress::isLocal(make(127, 0, 0, 1)));
}

class ConnectionlessTest : public ::testing::Test {
 protected:
  void SetUp() override { KeyDict::initPools(); }
  CaptureCmdSystem cmd;
};

TEST_F(ConnectionlessTest, OnlyAllFourMarkerBytesMakeAConnectionlessPacket) {
  struct Case {
    std::vector<uint8_t> bytes;
    bool connectionless;
  };
  const Case cases[] = {
      {{0xff, 0xff, 0xff}, false},
      {{0xff, 0xff, 0xff, 0xfe, 'a'}, false},
      {{0xff, 0xff, 0xff, 0xff}, true},
      {{0xff, 0xff, 0xff, 0xff, 'g', 'o'}, true},
      {{}, false},
  };
  for (const Case& c : cases) {
    BitMsg msg;
    msg.initRead(c.bytes.data(), int(c.bytes.size()));
    EXPECT_EQ(NetworkManager::isConnectionless(msg), c.connectionless) << c.bytes.size();
  }
}

TEST_F(ConnectionlessTest, ChallengesRepeatForOneAddressAndDifferAcrossAddresses) {
  auto server = makeManager();
  NetAddress a = make(127, 0, 0, 1, 40001);
  NetAddress b = make(127, 0, 0, 1, 40002);
  ChallengeRecord* first = server->serverGetChallenge(a);
  const int challenge = first->challenge;
  server->time = 500;
  ChallengeRecord* again = server->serverGetChallenge(a);
  EXPECT_EQ(again, first);
  EXPECT_EQ(again->challenge, challenge) << "the same address twice gets the same challenge";
  EXPECT_EQ(again->pingTime, 500);
  ChallengeRecord* other = server->serverGetChallenge(b);
  EXPECT_NE(other, first);
  EXPECT_NE(other->challenge, challenge);
  // When every entry is in use, the oldest is reused.
  for (int i = 0; i < NetworkManager::kChallengeCount; ++i) {
    server->time = 1000 + i;
    server->serverGetChallenge(make(127, 0, 0, 1, 50000 + (i % 10000)));
  }
  server->time = 5000;
  ChallengeRecord* reused = server->serverGetChallenge(make(127, 0, 0, 1, 40003));
  EXPECT_EQ(reused->firstTime, 5000);
}

TEST_F(ConnectionlessTest, AChallengeFloodCannotEvictAPlayersFreshChallenge) {
  auto server = makeManager();
  server->time = 20000;
  const NetAddress player = make(127, 0, 0, 1, 40010);
  const int challenge = server->serverGetChallenge(player)->challenge;
  // Twice the table's size from other addresses within a second.
  int refused = 0;
  for (int i = 0; i < 2 * NetworkManager::kChallengeCount; ++i) {
    server->time = 20000 + i / 4;
    refused += server->serverGetChallenge(make(127, 0, 1 + i / 250, 2, 1000 + i % 250)) ? 0 : 1;
  }
  // The player holds one entry; the flood gets the other 1,023 and no more.
  EXPECT_EQ(refused, NetworkManager::kChallengeCount + 1) << "askers past a full table get no challenge";
  int kept = 0;
  for (const ChallengeRecord& entry : server->challenges)
    kept += NetAddress::compare(entry.address, player) && entry.challenge == challenge ? 1 : 0;
  EXPECT_EQ(kept, 1) << "the player's challenge is still there for its connect";
  // Once the flood's entries age, askers are served again.
  server->time += NetworkManager::kChallengeKeepTime;
  EXPECT_NE(server->serverGetChallenge(make(127, 0, 0, 3, 1)), nullptr);
}

TEST_F(ConnectionlessTest, HandshakeRequestsAreLimitedPerHostAndSecond) {
  auto server = makeManager();
  server->time = 3000;
  int answered = 0;
  for (int i = 0; i < 100; ++i) {
    // Another port each time: the host is what counts.
    std::string bytes = std::string("\xff\xff\xff\xff") + "getchallenge";
    BitMsg msg;
    msg.initRead(bytes.data(), int(bytes.size()));
    const NetAddress from = make(127, 0, 0, 9, 2000 + i);
    server->serverConnectionlessPacket(from, msg);
    for (const ChallengeRecord& entry : server->challenges)
      answered += NetAddress::compare(entry.address, from) ? 1 : 0;
  }
  EXPECT_EQ(answered, NetworkManager::kDefaultRequestsPerAddress);
  EXPECT_NE(cmd.text.find("127.0.0.9:"), std::string::npos);
  EXPECT_NE(cmd.text.find(": too many requests, ignored\n"), std::string::npos);
  // Another host is not held back by the first, and the first is served in the next second.
  EXPECT_TRUE(server->allowHandshakeRequest(make(127, 0, 0, 10, 1)));
  server->time = 4000;
  EXPECT_TRUE(server->allowHandshakeRequest(make(127, 0, 0, 9, 1)));
}

TEST_F(ConnectionlessTest, ServerDispatchNamesBadCommands) {
  auto server = makeManager();
  const char text[] = "\xff\xff\xff\xffnonsense word";
  BitMsg msg;
  msg.initRead(text, int(sizeof(text)) - 1);
  server->serverConnectionlessPacket(make(127, 0, 0, 1, 7), msg);
  EXPECT_NE(cmd.text.find("server packet 127.0.0.1:7 : nonsense\n"), std::string::npos) << cmd.text;
  EXPECT_NE(cmd.text.find("bad connectionless packet from 127.0.0.1:7:\nnonsense\n"), std::string::npos);
}

TEST_F(ConnectionlessTest, ClientHearsOnlyItsServerAndEscapesWhatItPrints) {
  FakeGame game;
  auto client = makeManager();
  client->networkFlag = true;
  client->clientState = kClientChallenging;
  client->serverAddress = make(127, 0, 0, 1, 28050);
  auto feed = [&](const NetAddress& from, const std::string& text) {
    std::string bytes = std::string("\xff\xff\xff\xff") + text;
    BitMsg msg;
    msg.initRead(bytes.data(), int(bytes.size()));
    cmd.text.clear();
    client->clientConnectionlessPacket(from, msg);
  };
  struct Case {
    NetAddress from;
    const char* packet;
  };
  // Another port of the server's host, another host, a stranger's print and echo request.
  const Case strangers[] = {{make(127, 0, 0, 1, 28051), "challengeResponse 99"},
                            {make(127, 0, 0, 2, 28050), "challengeResponse 99"},
                            {make(127, 0, 0, 1, 40000), "print\nyou are hacked\n"},
                            {make(127, 0, 0, 1, 40000), "echo reflected"}};
  for (const Case& c : strangers) {
    feed(c.from, c.packet);
    EXPECT_EQ(client->clientState, kClientChallenging) << c.packet;
    EXPECT_EQ(cmd.text.find("client packet"), std::string::npos) << c.packet;
    EXPECT_EQ(cmd.text.find("hacked"), std::string::npos);
    EXPECT_NE(cmd.text.find(" ignored: "), std::string::npos) << "logged as ignored: " << cmd.text;
  }
  // The exact address is answered, and what the server prints has its control bytes escaped.
  feed(make(127, 0, 0, 1, 28050), "print\nred \x1b[31m text\n");
  EXPECT_NE(cmd.text.find("red \\x1b[31m text\n"), std::string::npos) << cmd.text;
  EXPECT_EQ(cmd.text.find('\x1b'), std::string::npos);
  feed(make(127, 0, 0, 1, 28050), "challengeResponse 77");
  EXPECT_EQ(client->clientState, kClientConnecting);
  EXPECT_EQ(client->challenge, 77);
}

TEST_F(ConnectionlessTest, StrangersFloodingConnectionlessPacketsFillALimitedLog) {
  auto server = makeManager();
  cmd.text.clear();
  // 5,000 packets from 50 ports of one host, with escape bytes in the command word.
  for (int i = 0; i < 5000; ++i) {
    std::string bytes = std::string("\xff\xff\xff\xff") + "ge\x1b]0;tchallenge";
    BitMsg msg;
    msg.initRead(bytes.data(), int(bytes.size()));
    server->serverConnectionlessPacket(make(127, 0, 0, 1, 40000 + i % 50), msg);
  }
  size_t lines = 0;
  for (char c : cmd.text)
    lines += c == '\n' ? 1 : 0;
  EXPECT_LE(lines, size_t(2 * NetworkManager::kLogLinesPerSecond + 2)) << "one second of flood";
  EXPECT_EQ(cmd.text.find('\x1b'), std::string::npos) << "no raw control bytes";
  EXPECT_NE(cmd.text.find("server packet 127.0.0.1:40000 : ge\\x1b]0\n"), std::string::npos) << cmd.text.substr(0, 400);
  // The next second says how much it did not show.
  server->frame(1000);
  std::string bytes = std::string("\xff\xff\xff\xff") + "getinfo";
  BitMsg msg;
  msg.initRead(bytes.data(), int(bytes.size()));
  server->serverConnectionlessPacket(make(127, 0, 0, 1, 40000), msg);
  EXPECT_NE(cmd.text.find(" connectionless packets not logged)\n"), std::string::npos);
}

TEST_F(ConnectionlessTest, ClientDispatchTable) {
  FakeGame game;
  auto client = makeManager();
  // The client's last server: its answers are heard.
  client->clientState = kClientDisconnected;
  client->serverAddress = make(127, 0, 0, 1, 28050);
  struct Case {
    const char* packet;
    const char* printed;
  };
  const Case cases[] = {
      {"challengeResponse 12", "Unwanted challenge response received.  Ignored.\n"},
      {"connectResponse", "connectResponse packet while not connecting.  Ignored.\n"},
      {"print\nServer uses protocol version 15.\n", "Server uses protocol version 15.\n"},
      {"infoResponse", nullptr},
      {"whatever", "Unknown connectionless packet command.\n"},
  };
  for (const Case& c : cases) {
    std::string bytes = std::string("\xff\xff\xff\xff") + c.packet;
    BitMsg msg;
    msg.initRead(bytes.data(), int(bytes.size()));
    cmd.text.clear();
    client->clientConnectionlessPacket(make(127, 0, 0, 1, 28050), msg);
    EXPECT_NE(cmd.text.find("client packet 127.0.0.1:28050: "), std::string::npos) << c.packet;
    if (c.printed)
      EXPECT_NE(cmd.text.find(c.printed), std::string::npos) << c.packet << " printed " << cmd.text;
    else
      EXPECT_EQ(cmd.text, std::string("client packet 127.0.0.1:28050: ") + c.packet + "\n")
          << "an answer the client has no use for prints nothing more";
  }
}

}  // namespace
