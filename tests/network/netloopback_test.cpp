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
  BitMsg msg(buffer, sizeof(buffer));
  KeyDict dict;
  dict.set("protocol", "14");
  msg.writeKeyDict(dict);
  BitMsg reader;
  reader.initRead(buffer, msg.getSize());
  server->serverDirectConnect(loopback(client->ownAddress.port), reader);
  EXPECT_NE(cmd.text.find("    rejected connect from version 14\n"), std::string::npos) << cmd.text;
  pump(*client);
  EXPECT_NE(cmd.text.find("Server uses protocol version 15.\n"), std::string::npos) << cmd.text;
}

TEST_F(LoopbackTest, AConnectWithoutItsChallengeIsRefused) {
  uint8_t buffer[256];
  BitMsg msg(buffer, sizeof(buffer));
  KeyDict dict;
  dict.set("protocol", "15");
  dict.set("challenge", "12345");
  dict.set("intport", "5");
  msg.writeKeyDict(dict);
  BitMsg reader;
  reader.initRead(buffer, msg.getSize());
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

}  // namespace
