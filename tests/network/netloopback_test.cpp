// A server and a client manager in one process, talking through real UDP sockets on 127.0.0.1:
// the handshake, gamestate, snapshots, user commands, reliable text and game messages, refusals,
// time-outs on both sides and drops from both sides.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "lib/interface/cmdsystem.h"
#include "lib/keydict.h"
#include "network/networkmanager.h"
#include "platform/net.h"
#include "support/capturecmdsystem.h"
#include "support/netfakes.h"

namespace {

// A "connect" message's dictionary as the server's reader takes it, written into `buffer`, which
// must outlive the reader.
BitMsg connectReader(const KeyDict& dict, uint8_t (&buffer)[256]) {
  BitMsg msg(buffer, sizeof(buffer));
  msg.writeKeyDict(dict);
  BitMsg reader;
  reader.initRead(buffer, msg.getSize());
  return reader;
}

// What a client at `from` sends in answer to the challenge the server now keeps for it.
KeyDict answeredChallenge(NetworkManager& server, const NetAddress& from) {
  ChallengeRecord* entry = server.serverGetChallenge(from);
  KeyDict dict;
  dict.set("protocol", "15");
  dict.set("challenge", std::to_string(entry->challenge).c_str());
  dict.set("intport", std::to_string(from.port).c_str());
  return dict;
}

class LoopbackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    KeyDict::initPools();
    server = makeManager();
    client = makeManager();
    ASSERT_TRUE(startServer(*server, 777)) << cmd.text;
  }

  void connect() {
    CmdArgs args;
    args.tokenize(("connect 127.0.0.1:" + std::to_string(server->ownAddress.port)).c_str());
    ASSERT_TRUE(client->connectToServer(args)) << cmd.text;
  }

  // Runs frames until the condition holds; false after `limit` frames.
  template <typename Condition>
  bool runUntil(Condition condition, int limit = 1000, int msec = 16) {
    for (int i = 0; i < limit; ++i) {
      if (condition())
        return true;
      run(*server, *client, 1, msec);
    }
    return condition();
  }

  bool connected() { return client->clientState == kClientActive && server->clients[0].state == kSlotActive; }

  CaptureCmdSystem cmd;
  FakeGame game;
  FakeKeys keys;
  std::unique_ptr<NetworkManager> server;
  std::unique_ptr<NetworkManager> client;
};

TEST_F(LoopbackTest, ClientConnectsGetsTheGamestateAndSnapshotsAndSendsCommands) {
  connect();
  ASSERT_TRUE(runUntil([&] { return connected(); })) << cmd.text;
  EXPECT_NE(cmd.text.find("challengeResponse: "), std::string::npos);
  EXPECT_TRUE(game.hasLogged("clientConnected 0"));
  EXPECT_TRUE(game.hasLogged("clientGameState 0"));
  EXPECT_EQ(client->gamestatesReceived, 1);
  EXPECT_EQ(client->serverMessageNumber, 777) << "the server id comes with the gamestate";

  const int before = client->snapshotsReceived;
  ASSERT_TRUE(runUntil([&] { return client->snapshotsReceived >= before + 20; }, 400));
  EXPECT_GE(client->lastSnapshotNumber, 20);
  // Commands flow: the server holds the client's newest command for client number 0.
  const UserCmd& latest = client->userCmdRing[client->userCmdNumber & 63];
  run(*server, *client, 2);
  EXPECT_NE(server->userCmds[0].forward, 0);
  EXPECT_LE(std::abs(server->userCmds[0].frame - latest.frame), 3);
  EXPECT_EQ(server->userCmds[0].angles[1], int16_t(server->userCmds[0].frame * 7));
}

TEST_F(LoopbackTest, ReliableTextAndGameMessagesArriveOnceInOrder) {
  connect();
  ASSERT_TRUE(runUntil([&] { return connected(); })) << cmd.text;
  cmd.text.clear();
  std::string expected;
  for (int round = 0; round < 3; ++round) {
    for (int i = 0; i < 40; ++i) {
      const int n = round * 40 + i;
      server->serverSendReliableCommand(0, "print \"line %d\n\"", n);
      expected += "line " + std::to_string(n) + "\n";
    }
    ASSERT_TRUE(runUntil(
        [&] {
          return server->clients[0].channel.reliableAcknowledge ==
                 server->clients[0].channel.reliableSequence;
        },
        300));
  }
  std::string printed;
  for (size_t at = cmd.text.find("line "); at != std::string::npos; at = cmd.text.find("line ", at + 1))
    printed += cmd.text.substr(at, cmd.text.find('\n', at) - at + 1);
  EXPECT_EQ(printed, expected);

  uint8_t bytes[64];
  BitMsg game(bytes, sizeof(bytes));
  game.writeInt(1234);
  EXPECT_TRUE(server->serverSendGameMessage(0, game));
  EXPECT_TRUE(server->serverSendGameMessage(-1, game));
  ASSERT_TRUE(runUntil([&] { return client->gameMessagesReceived == 2; }, 300));
  run(*server, *client, 30);
  EXPECT_EQ(client->gameMessagesReceived, 2);

  // From the client: a game message reaches the server's reliable stream.
  EXPECT_TRUE(client->clientSendGameMessage(game));
  const int received = server->clients[0].channel.reliableReceived;
  ASSERT_TRUE(runUntil([&] { return server->clients[0].channel.reliableReceived == received + 1; }, 300));
}

TEST_F(LoopbackTest, GameRejectionAndBadProtocolReachTheClient) {
  game.rejectWith = "banned here";
  connect();
  ASSERT_TRUE(runUntil([&] { return cmd.text.find("banned here") != std::string::npos; }, 400)) << cmd.text;
  EXPECT_NE(cmd.text.find("Game rejected a connection: banned here\n"), std::string::npos);
  EXPECT_EQ(server->clients[0].state, kSlotFree);
  EXPECT_NE(client->clientState, kClientActive);

  // A connect of another protocol version.
  cmd.text.clear();
  uint8_t buffer[256];
  KeyDict dict;
  dict.set("protocol", "14");
  BitMsg reader = connectReader(dict, buffer);
  server->serverDirectConnect(loopback(client->ownAddress.port), reader);
  EXPECT_NE(cmd.text.find("    rejected connect from version 14\n"), std::string::npos) << cmd.text;
  pump(*client);
  EXPECT_NE(cmd.text.find("Server uses protocol version 15.\n"), std::string::npos) << cmd.text;
}

TEST_F(LoopbackTest, AConnectWithoutItsChallengeIsRefused) {
  uint8_t buffer[256];
  KeyDict dict;
  dict.set("protocol", "15");
  dict.set("challenge", "12345");
  dict.set("intport", "5");
  BitMsg reader = connectReader(dict, buffer);
  server->serverDirectConnect(loopback(client->ownAddress.port + 1), reader);
  EXPECT_EQ(server->clients[0].state, kSlotFree);
  EXPECT_EQ(cmd.text.find("connecting with"), std::string::npos);
}

TEST_F(LoopbackTest, SilentClientIsDroppedAfterSixChecks) {
  connect();
  ASSERT_TRUE(runUntil([&] { return connected(); })) << cmd.text;
  // Only the server runs now; each frame is a check. 200 s of silence, then six checks.
  server->frame(200001);
  int checks = 1;
  while (server->clients[0].state != kSlotFree && checks < 20) {
    server->frame(16);
    ++checks;
  }
  EXPECT_EQ(checks, 6);
  EXPECT_EQ(server->clients[0].state, kSlotFree);
  EXPECT_TRUE(game.hasLogged("clientDisconnected 0"));
}

TEST_F(LoopbackTest, SilentServerIsGivenUpAfterSixChecks) {
  connect();
  ASSERT_TRUE(runUntil([&] { return connected(); })) << cmd.text;
  client->frame(200001);
  for (int i = 0; i < 4; ++i)
    client->frame(16);
  EXPECT_EQ(client->clientState, kClientActive) << "five checks are not enough";
  client->frame(16);
  EXPECT_EQ(client->clientState, kClientDisconnected);
  EXPECT_NE(cmd.text.find("\nServer connection timed out.\n"), std::string::npos);
  // Its "disconnect" reaches the server, which drops the slot.
  for (int i = 0; i < 10; ++i) {
    server->frame(16);
    pump(*server);
  }
  EXPECT_EQ(server->clients[0].state, kSlotZombie);
  EXPECT_TRUE(game.hasLogged("clientDisconnected 0"));
}

TEST_F(LoopbackTest, ServerDropReachesTheClientAndTheZombieIsFreed) {
  connect();
  ASSERT_TRUE(runUntil([&] { return connected(); })) << cmd.text;
  server->serverDropClient(0, "kicked");
  EXPECT_EQ(server->clients[0].state, kSlotZombie);
  ASSERT_TRUE(runUntil([&] { return client->clientState == kClientDisconnected; }, 300)) << cmd.text;
  EXPECT_NE(cmd.text.find("Server disconnected: kicked\n"), std::string::npos);
  // No more packets from the client: the zombie goes after 2000 ms.
  for (int i = 0; i < 140 && server->clients[0].state != kSlotFree; ++i) {
    server->frame(16);
    pump(*server);
  }
  EXPECT_EQ(server->clients[0].state, kSlotFree);
}

TEST_F(LoopbackTest, ReconnectTooSoonIsRefusedThenAllowed) {
  connect();
  ASSERT_TRUE(runUntil([&] { return connected(); })) << cmd.text;
  // The same client sends "connect" again (its challenge is still valid).
  client->clientState = kClientConnecting;
  client->lastResendTime = -99999;
  cmd.text.clear();
  run(*server, *client, 3);
  EXPECT_NE(cmd.text.find(":reconnect rejected : too soon\n"), std::string::npos) << cmd.text;
}

TEST_F(LoopbackTest, APacketWithAnotherQportReachesNoSlot) {
  connect();
  ASSERT_TRUE(runUntil([&] { return connected(); })) << cmd.text;
  const int incoming = server->clients[0].channel.incomingSequence;
  // A copy of the client's channel with another qport sends a well-formed packet.
  auto impostor = std::make_unique<NetChannel>();
  impostor->setup(NetChannel::kClientSide, loopback(server->ownAddress.port), client->channel.qport + 1);
  impostor->channelId = client->channel.channelId;
  impostor->outgoingSequence = incoming + 100;
  uint8_t bytes[32] = {};
  impostor->sendData(8, bytes, *client);
  server->frame(16);
  pump(*server);
  EXPECT_LT(server->clients[0].channel.incomingSequence, incoming + 100);
}

TEST_F(LoopbackTest, DatagramsThatFillTheBufferAreReportedAndSkipped) {
  const uint8_t loopbackIp[4] = {127, 0, 0, 1};
  PlatformSocket sender = platformUdpOpen(loopbackIp, -1);
  ASSERT_NE(sender, 0);
  std::vector<uint8_t> bytes(1600, 7);
  for (int size : {1472, 1600, 10})
    ASSERT_TRUE(platformUdpSend(sender, bytes.data(), size, loopbackIp, server->ownAddress.port));
  uint8_t buffer[1472];
  BitMsg msg(buffer, sizeof(buffer));
  NetAddress from;
  ASSERT_TRUE(server->getPacket(msg, from));
  EXPECT_EQ(msg.getWriteBit(), 80) << "the two cut datagrams are skipped, the whole one read";
  const std::string expected = std::string("Oversize packet from ") + NetAddress::toString(from) + "\n";
  size_t first = cmd.text.find(expected);
  ASSERT_NE(first, std::string::npos) << cmd.text;
  EXPECT_NE(cmd.text.find(expected, first + 1), std::string::npos) << "both reported";
  EXPECT_FALSE(server->getPacket(msg, from));
  platformUdpClose(sender);
}

// Servers and clients that know each other's names and maps: the console variables are set.
class LoopbackPlayTest : public LoopbackTest {
 protected:
  void SetUp() override {
    vars.set("ui_name", "Alice", kConVarString | kConVarUserInfo);
    vars.set("si_maxPlayers", "32", kConVarInt | kConVarServerInfo);
    vars.set("net_sv_minPing", "0");
    LoopbackTest::SetUp();
    server->serverInfo.set("si_map", "demo");
  }

  std::unique_ptr<NetworkManager> connectAnother() {
    auto other = makeManager();
    CmdArgs args;
    args.tokenize(("connect 127.0.0.1:" + std::to_string(server->ownAddress.port)).c_str());
    EXPECT_TRUE(other->connectToServer(args)) << cmd.text;
    return other;
  }

  // One frame of every manager, then every waiting packet, `steps` times.
  void runAll(std::initializer_list<NetworkManager*> clients, int steps) {
    for (int i = 0; i < steps; ++i) {
      for (NetworkManager* c : clients)
        c->frame(16);
      server->frame(16);
      pump(*server);
      for (NetworkManager* c : clients)
        pump(*c);
    }
  }

  FakeConVars vars;
  FakeCommon common;
};

TEST_F(LoopbackPlayTest, TheClientLoadsTheServersMapAndHandsItsGameEveryMessage) {
  connect();
  ASSERT_TRUE(runUntil([&] { return connected(); })) << cmd.text;
  ASSERT_EQ(common.loads.size(), 1u);
  EXPECT_EQ(common.loads[0], "demo 0 1") << "the map of the gamestate, loaded as a client (network, no server)";
  EXPECT_TRUE(game.hasLogged("clientGameStateReceived demo"));
  EXPECT_GT(game.serverInfos, 0) << "the server information reaches the client's game";

  // Snapshots: the game reads its own part, from its first byte.
  const int before = game.snapshotsRead;
  ASSERT_TRUE(runUntil([&] { return game.snapshotsRead >= before + 5; }, 200));
  EXPECT_EQ(game.lastSnapshotFirstByte, client->lastSnapshotNumber & 0xff);

  // Game messages: each once, in order.
  for (int value : {11, 22, 33}) {
    uint8_t bytes[16];
    BitMsg msg(bytes, sizeof(bytes));
    msg.writeInt(value);
    EXPECT_TRUE(server->serverSendGameMessage(0, msg));
  }
  ASSERT_TRUE(runUntil([&] { return game.gameMessages.size() >= 3; }, 300));
  run(*server, *client, 20);
  EXPECT_EQ(game.gameMessages, (std::vector<int>{11, 22, 33}));
}

TEST_F(LoopbackPlayTest, AMapTheClientCannotLoadEndsItsSessionAndReturnsToTheMenu) {
  common.loadResult = false;
  connect();
  ASSERT_TRUE(runUntil([&] { return !client->networkFlag; }, 400)) << cmd.text;
  EXPECT_NE(cmd.text.find("WARNING: could not load the server's map 'demo': disconnecting\n"), std::string::npos);
  EXPECT_GT(game.menus, 0) << "the main menu opens";
  EXPECT_FALSE(game.hasLogged("clientGameStateReceived demo"));
  // The server hears the client's "disconnect".
  ASSERT_TRUE(runUntil([&] { return server->clients[0].state <= kSlotZombie; }, 200));
}

TEST_F(LoopbackPlayTest, TheFirstSnapshotFollowsTheGamestateAcknowledgementAtOnce) {
  connect();
  ASSERT_TRUE(runUntil([&] { return server->clients[0].state == kSlotActive; })) << cmd.text;
  const int number = server->clients[0].snapshotNumber;
  const int activeAt = server->time;
  ASSERT_TRUE(runUntil([&] { return server->clients[0].snapshotNumber > number; }, 100));
  EXPECT_LE(server->time - activeAt, 32) << "not a second later";
}

TEST_F(LoopbackPlayTest, PlayersAreNamedByTheirVariableAndTheConnectCarriesTheUserInformation) {
  connect();
  ASSERT_TRUE(runUntil([&] { return connected(); })) << cmd.text;
  EXPECT_NE(cmd.text.find("Alice joined the game\n"), std::string::npos) << cmd.text;
  EXPECT_TRUE(game.hasLogged("serverMessage Alice joined the game"));
  EXPECT_STREQ(server->clients[0].userInfo.getString("ui_name", ""), "Alice");
  EXPECT_STREQ(server->clients[0].userInfo.getString("protocol", ""), "15");
  EXPECT_STREQ(server->clients[0].userInfo.getString("ip", ""), NetAddress::toString(loopback(client->ownAddress.port)));
}

TEST_F(LoopbackPlayTest, ADroppedClientReturnsToTheMenuAndCanConnectAgain) {
  connect();
  ASSERT_TRUE(runUntil([&] { return connected(); })) << cmd.text;
  server->serverDropClient(0, "kicked");
  ASSERT_TRUE(runUntil([&] { return !client->networkFlag; }, 300)) << cmd.text;
  EXPECT_NE(cmd.text.find("Server disconnected: kicked\n"), std::string::npos);
  EXPECT_NE(cmd.text.find("The connection to 127.0.0.1:"), std::string::npos) << "the client says its session ended";
  EXPECT_GT(game.menus, 0);
  // Past the reconnect limit, "connect" works again without a typed "disconnect".
  for (int i = 0; i < 250; ++i) {
    server->frame(16);
    pump(*server);
  }
  connect();
  ASSERT_TRUE(runUntil([&] { return connected(); })) << cmd.text;
}

TEST_F(LoopbackPlayTest, ConnectWhileConnectedSaysWhy) {
  connect();
  ASSERT_TRUE(runUntil([&] { return connected(); })) << cmd.text;
  CmdArgs args;
  args.tokenize("connect 127.0.0.1:1");
  EXPECT_FALSE(client->connectToServer(args));
  EXPECT_NE(cmd.text.find("connect: already connected to 127.0.0.1:"), std::string::npos) << cmd.text;
  EXPECT_FALSE(server->connectToServer(args));
  EXPECT_NE(cmd.text.find("connect: this engine runs a server; type \"disconnect\" first\n"), std::string::npos);
}

TEST_F(LoopbackPlayTest, ASecondClientFindsTheServerFull) {
  vars.set("si_maxPlayers", "1");
  connect();
  ASSERT_TRUE(runUntil([&] { return connected(); })) << cmd.text;
  cmd.text.clear();
  auto second = connectAnother();
  runAll({client.get(), second.get()}, 60);
  EXPECT_NE(cmd.text.find("Rejected a connection.\n"), std::string::npos) << cmd.text;
  EXPECT_NE(cmd.text.find("Server is full.\n"), std::string::npos) << "the second client is told";
  EXPECT_EQ(second->clientState, kClientConnecting);
  EXPECT_EQ(server->clients[1].state, kSlotFree);
  EXPECT_EQ(client->clientState, kClientActive) << "the first plays on";
}

TEST_F(LoopbackPlayTest, GameMessagesToAllButOneSkipThatOne) {
  connect();
  ASSERT_TRUE(runUntil([&] { return connected(); })) << cmd.text;
  auto second = connectAnother();
  runAll({client.get(), second.get()}, 200);
  ASSERT_EQ(second->clientState, kClientActive) << cmd.text;
  ASSERT_EQ(server->clients[1].state, kSlotActive);
  const int first = client->gameMessagesReceived;
  const int other = second->gameMessagesReceived;
  uint8_t bytes[16];
  BitMsg msg(bytes, sizeof(bytes));
  msg.writeInt(7);
  server->serverSendGameMessageExcept(0, msg);
  runAll({client.get(), second.get()}, 60);
  EXPECT_EQ(client->gameMessagesReceived, first) << "the excepted client gets nothing";
  EXPECT_EQ(second->gameMessagesReceived, other + 1);
}

TEST_F(LoopbackPlayTest, ATranslatedPortIsFixedUpForTheClientsOwnPackets) {
  connect();
  ASSERT_TRUE(runUntil([&] { return connected(); })) << cmd.text;
  // The client's packets now leave from another port, as behind an address translator.
  const uint8_t loopbackIp[4] = {127, 0, 0, 1};
  PlatformSocket translated = platformUdpOpen(loopbackIp, -1);
  ASSERT_NE(translated, 0);
  uint8_t ip[4];
  uint16_t port = 0;
  ASSERT_TRUE(platformUdpLocalAddress(translated, ip, &port));
  const int original = client->socket;
  client->socket = translated;
  cmd.text.clear();
  const int before = client->snapshotsReceived;
  ASSERT_TRUE(runUntil([&] { return client->snapshotsReceived >= before + 5; }, 200)) << cmd.text;
  EXPECT_NE(cmd.text.find("serverPacketEvent: fixing up a translated port\n"), std::string::npos);
  EXPECT_EQ(server->clients[0].channel.remoteAddress.port, port) << "the stream follows the client";
  client->socket = original;
  platformUdpClose(translated);
}

// Sends through a socket of its own: a stranger on this machine.
class StrangerSender : public PacketSender {
 public:
  explicit StrangerSender(PlatformSocket socket) : socket_(socket) {}
  void sendPacket(int length, const void* bytes, const NetAddress& to) override {
    platformUdpSend(socket_, bytes, length, to.ip, to.port);
  }

 private:
  PlatformSocket socket_;
};

TEST_F(LoopbackTest, AStrangerNamingTheClientsQportCannotTakeItsStream) {
  connect();
  ASSERT_TRUE(runUntil([&] { return connected(); })) << cmd.text;
  const uint8_t loopbackIp[4] = {127, 0, 0, 1};
  PlatformSocket socket = platformUdpOpen(loopbackIp, -1);
  ASSERT_NE(socket, 0);
  StrangerSender stranger(socket);
  const uint16_t clientPort = server->clients[0].channel.remoteAddress.port;
  struct Case {
    const char* what;
    int32_t id;
    int32_t sequence;
  };
  const int32_t realId = server->clients[0].channel.channelId;
  const int32_t next = server->clients[0].channel.incomingSequence + 1;
  const Case cases[] = {
      {"id 0", 0, next},
      {"a guessed id", realId ^ 0x5a5a5, next},
      {"the next counted id", realId + 1, next},
      {"the right id far ahead", realId, 0x7fff0000},
  };
  for (const Case& c : cases) {
    auto forged = std::make_unique<NetChannel>();
    forged->setup(NetChannel::kClientSide, loopback(server->ownAddress.port), client->channel.qport);
    forged->channelId = c.id;
    for (int i = 0; i < 80; ++i) {
      forged->outgoingSequence = c.sequence + i;
      uint8_t bytes[16] = {};
      forged->sendData(14, bytes, stranger);
    }
    server->frame(16);
    pump(*server);
    EXPECT_EQ(server->clients[0].channel.remoteAddress.port, clientPort) << c.what;
    EXPECT_EQ(cmd.text.find("fixing up a translated port"), std::string::npos) << c.what;
  }
  // The real client keeps its stream, and the stranger got none of it.
  const int before = client->snapshotsReceived;
  ASSERT_TRUE(runUntil([&] { return client->snapshotsReceived >= before + 10; }, 200));
  uint8_t buffer[1600];
  uint8_t ip[4];
  uint16_t port = 0;
  EXPECT_LT(platformUdpReceive(socket, buffer, sizeof(buffer), ip, &port), 0) << "a packet reached the stranger";
  platformUdpClose(socket);
}

TEST_F(LoopbackTest, AFloodIsReadAFrameAtATimeWhileTheClientPlaysOn) {
  // A small share, so the flood fits the socket's receive queue.
  FakeConVars vars;
  vars.set("net_maxPacketsPerFrame", "40");
  connect();
  ASSERT_TRUE(runUntil([&] { return connected(); })) << cmd.text;
  const uint8_t loopbackIp[4] = {127, 0, 0, 1};
  PlatformSocket socket = platformUdpOpen(loopbackIp, -1);
  ASSERT_NE(socket, 0);
  std::vector<uint8_t> junk(40, 0x41);
  for (int i = 0; i < 120; ++i)
    platformUdpSend(socket, junk.data(), int(junk.size()), loopbackIp, server->ownAddress.port);
  server->frame(16);
  EXPECT_EQ(pump(*server), 40) << "one frame's share";
  EXPECT_EQ(pump(*server), 0) << "nothing more until the next step";
  server->frame(16);
  EXPECT_EQ(pump(*server), 40);
  // The rest drains over the next steps, and the client's stream goes on meanwhile.
  const int before = client->snapshotsReceived;
  ASSERT_TRUE(runUntil([&] { return client->snapshotsReceived >= before + 10; }, 200));
  platformUdpClose(socket);
}

TEST_F(LoopbackTest, AClientWhoseChallengeIsRefusedAsksForANewOne) {
  connect();
  ASSERT_TRUE(runUntil([&] { return client->clientState == kClientConnecting; })) << cmd.text;
  // The server forgets the challenge before the connect arrives.
  for (ChallengeRecord& entry : server->challenges)
    entry = ChallengeRecord();
  ASSERT_TRUE(runUntil([&] { return connected(); }, 2000)) << cmd.text;
  EXPECT_NE(cmd.text.find("No or bad challenge for address."), std::string::npos);
  EXPECT_NE(cmd.text.find("Asking 127.0.0.1:"), std::string::npos);
}

TEST(LoopbackUnits, OneHostHoldsAtMostItsShareOfTheSlots) {
  KeyDict::initPools();
  CaptureCmdSystem cmd;
  FakeConVars vars;
  vars.set("net_sv_maxClientsPerAddress", "2");
  FakeGame game;
  auto server = makeManager();
  server->serverFlag = server->networkFlag = true;  // no socket: the answers go nowhere
  auto connectFrom = [&](const NetAddress& from) {
    uint8_t buffer[256];
    BitMsg reader = connectReader(answeredChallenge(*server, from), buffer);
    server->serverDirectConnect(from, reader);
  };
  for (int port = 1000; port < 1005; ++port) {
    NetAddress from = loopback(uint16_t(port));
    from.ip[3] = 5;
    connectFrom(from);
  }
  int held = 0;
  for (const ClientSlot& slot : server->clients)
    held += slot.state >= kSlotConnected ? 1 : 0;
  EXPECT_EQ(held, 2);
  EXPECT_NE(cmd.text.find("Rejected a connection from 127.0.0.5: its address holds 2 slots.\n"), std::string::npos)
      << cmd.text;
  NetAddress other = loopback(1000);
  other.ip[3] = 6;
  connectFrom(other);
  EXPECT_EQ(server->clients[2].state, kSlotConnected) << "another host still gets in";
}

TEST(LoopbackUnits, BroadcastGameMessagesSkipTheLocalClient) {
  KeyDict::initPools();
  CaptureCmdSystem cmd;
  auto server = makeManager();
  server->serverFlag = server->networkFlag = true;  // no socket: nothing leaves the process
  server->localClientNumber = 0;
  for (int i = 0; i < 3; ++i)
    server->clients[i].state = kSlotConnected;
  uint8_t bytes[16];
  BitMsg msg(bytes, sizeof(bytes));
  msg.writeInt(5);
  EXPECT_TRUE(server->serverSendGameMessage(-1, msg));
  EXPECT_EQ(server->clients[0].channel.reliableSequence, 0) << "the local player shares the process";
  EXPECT_EQ(server->clients[1].channel.reliableSequence, 1);
  EXPECT_EQ(server->clients[2].channel.reliableSequence, 1);
  EXPECT_FALSE(server->serverSendGameMessage(0, msg)) << "a message to the local client goes nowhere";
  EXPECT_EQ(server->clients[0].channel.reliableSequence, 0);
}

TEST(LoopbackUnits, ConnectsBelowTheMinimumPingAreRefusedOnlyFromAfar) {
  KeyDict::initPools();
  CaptureCmdSystem cmd;
  FakeConVars vars;
  vars.set("net_sv_minPing", "100");
  FakeGame game;
  auto server = makeManager();
  const uint8_t lan[1][4] = {{192, 168, 1, 20}};
  netSetLocalAddresses(lan, 1);
  server->serverFlag = server->networkFlag = true;  // no socket: the answers go nowhere
  // Each reader keeps its own bytes: a request is read after the frames that time it.
  uint8_t quickBytes[256], slowBytes[256], fastBytes[256];
  NetAddress far;
  far.ip[0] = 10;
  far.ip[1] = 1;
  far.ip[2] = 2;
  far.ip[3] = 3;
  far.port = 5000;
  BitMsg quick = connectReader(answeredChallenge(*server, far), quickBytes);
  server->frame(16);  // 16 ms after the challenge
  server->serverDirectConnect(far, quick);
  EXPECT_NE(cmd.text.find(" rejected on a too low ping\n"), std::string::npos) << cmd.text;
  EXPECT_EQ(server->clients[0].state, kSlotFree);
  EXPECT_EQ(server->challenges[0].address.port, 0) << "the refused challenge is spent";
  // A fresh challenge answered after the minimum is let in.
  cmd.text.clear();
  BitMsg slow = connectReader(answeredChallenge(*server, far), slowBytes);
  server->frame(150);
  server->serverDirectConnect(far, slow);
  EXPECT_EQ(server->clients[0].state, kSlotConnected) << cmd.text;

  // A local-network address is never held to the minimum.
  NetAddress near = far;
  near.ip[0] = 192;
  near.ip[1] = 168;
  near.ip[2] = 1;
  near.ip[3] = 99;
  BitMsg fast = connectReader(answeredChallenge(*server, near), fastBytes);
  server->serverDirectConnect(near, fast);
  EXPECT_EQ(server->clients[1].state, kSlotConnected) << cmd.text;
  netSetLocalAddresses(nullptr, 0);
}

TEST(LoopbackUnits, ClientRefusesDuplicateConnectResponsesAndTinyPackets) {
  KeyDict::initPools();
  CaptureCmdSystem cmd;
  FakeGame game;
  auto client = makeManager();
  client->networkFlag = true;
  client->clientState = kClientActive;
  client->serverAddress = loopback(28050);
  client->channel.setup(NetChannel::kClientSide, loopback(28050), 1234);
  std::string bytes = "\xff\xff\xff\xff" "connectResponse";
  BitMsg msg;
  msg.initRead(bytes.data(), int(bytes.size()));
  client->clientPacketEvent(loopback(28050), msg);
  EXPECT_NE(cmd.text.find("Dup connect received.  Ignored.\n"), std::string::npos) << cmd.text;
  EXPECT_EQ(client->clientState, kClientActive);

  uint8_t tiny[2] = {1, 2};
  BitMsg small;
  small.initRead(tiny, 2);
  client->clientPacketEvent(loopback(28050), small);
  EXPECT_NE(cmd.text.find("127.0.0.1:28050: tiny packet\n"), std::string::npos) << cmd.text;
  EXPECT_EQ(client->channel.incomingSequence, 0);
}

}  // namespace
