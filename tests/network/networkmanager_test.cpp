// The network manager's console commands and life cycle: "map" starts a local game without a
// socket, "disconnect" and the main menu, the listen server's in-process local player, two
// managers started by "dedicated" and "connect" playing over loopback, and the factory entry.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "lib/interface/cmdsystem.h"
#include "lib/interface/managerfactory.h"
#include "lib/keydict.h"
#include "network/networkmanager.h"
#include "platform/net.h"
#include "support/capturecmdsystem.h"
#include "support/netfakes.h"

namespace {

CmdArgs words(const std::string& text) {
  CmdArgs args;
  args.tokenize(text.c_str());
  return args;
}

class NetworkManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    KeyDict::initPools();
    manager = makeManager();
    g_networkManager = manager.get();
  }
  void TearDown() override { g_networkManager = nullptr; }

  CaptureCmdSystem cmd;
  FakeGame game;
  FakeCommon common;
  FakeKeys keys;
  std::unique_ptr<NetworkManager> manager;
};

TEST_F(NetworkManagerTest, ConstructorRegistersTheConsoleCommands) {
  auto other = std::make_unique<NetworkManager>();
  EXPECT_EQ(cmd.commands.count("map"), 1u);
  EXPECT_EQ(cmd.commands["map"].description, "loads a new map");
  EXPECT_EQ(cmd.commands["disconnect"].description, "unloads the map");
  EXPECT_EQ(cmd.commands["map"].flags, 2u);
  EXPECT_EQ(cmd.commands.count("connect"), 1u);
  EXPECT_EQ(cmd.commands.count("dedicated"), 1u);
}

TEST_F(NetworkManagerTest, MapWithoutANameChangesNothing) {
  cmd.text.clear();
  NETLoadMap(words("map"));
  NETLoadMap(words("map a b"));
  EXPECT_EQ(cmd.text, "NETLoadMap: invalid number of arguments\nNETLoadMap: invalid number of arguments\n");
  EXPECT_TRUE(common.loads.empty());
}

TEST_F(NetworkManagerTest, MapStartsALocalGameWithoutASocket) {
  NETLoadMap(words("map demo"));
  ASSERT_EQ(common.loads, std::vector<std::string>{"demo 0 0"});
  EXPECT_TRUE(game.hasLogged("serverStarted 0"));
  EXPECT_TRUE(game.hasLogged("setLocalClientNum 0"));
  EXPECT_EQ(manager->localClientNumber, 0);
  EXPECT_EQ(manager->socket, 0) << "a local game opens no socket";
  EXPECT_FALSE(manager->serverFlag);
  EXPECT_FALSE(manager->networkFlag);
  for (int i = 0; i < 10; ++i)
    manager->frame(16);
  ASSERT_NE(manager->getLocalUserCmd(), nullptr);
  EXPECT_EQ(manager->getLocalUserCmd()->frame, manager->getFrameCount());
  EXPECT_EQ(manager->getLocalUserCmd(), &manager->getUserCmds()[0]);
  EXPECT_EQ(manager->getTime(), 160);
  uint8_t buffer[16384];
  BitMsg msg(buffer, sizeof(buffer));
  NetAddress from;
  EXPECT_FALSE(manager->getPacket(msg, from));
}

TEST_F(NetworkManagerTest, AFailedMapLoadEndsUnloadedWithoutTheMenu) {
  common.loadResult = false;
  const int unloads = common.unloads;
  NETLoadMap(words("map missing"));
  EXPECT_GT(common.unloads, unloads);
  EXPECT_EQ(manager->localClientNumber, -999);
  EXPECT_EQ(game.menus, 0) << "the disconnect that \"map\" runs itself opens no menu";
  EXPECT_NE(cmd.text.find("WARNING: could not load map 'missing'\n"), std::string::npos) << cmd.text;
}

TEST_F(NetworkManagerTest, AFailedDedicatedStartSaysSoAndEndsUnloaded) {
  common.loadResult = false;
  const int unloads = common.unloads;
  cmdDedicated(words("dedicated missing"));
  EXPECT_GT(common.unloads, unloads);
  EXPECT_FALSE(manager->serverFlag);
  EXPECT_EQ(manager->socket, 0) << "the server's socket is closed again";
  EXPECT_NE(cmd.text.find("WARNING: could not start a server on map 'missing'\n"), std::string::npos) << cmd.text;
}

TEST_F(NetworkManagerTest, TypedDisconnectOpensTheMainMenu) {
  NETLoadMap(words("map demo"));
  keys.mode = 1;
  cmdDisconnect(words("disconnect"));
  EXPECT_EQ(game.menus, 1);
  EXPECT_EQ(manager->localClientNumber, -999);
  EXPECT_EQ(keys.mode, 1 | 4) << "bit 0 of the mode before, ORed with the mode the menu left";
  cmdDisconnect(words("map x"));
  cmdDisconnect(words("Reconnect"));
  EXPECT_EQ(game.menus, 1);
}

TEST_F(NetworkManagerTest, FrameWithoutALocalClientStoresNoCommand) {
  manager->frame(16);
  for (int i = 0; i < NetworkManager::kMaxClients; ++i)
    EXPECT_EQ(manager->getUserCmds()[i].frame, 0) << i;
  EXPECT_EQ(manager->getLocalUserCmd(), nullptr);
}

TEST_F(NetworkManagerTest, ListenServerAdmitsItsLocalPlayerInProcess) {
  KeyDict dict;
  dict.set("si_map", "demo");
  ASSERT_TRUE(manager->spawnServer(dict, true, true)) << cmd.text;
  EXPECT_NE(manager->socket, 0);
  EXPECT_EQ(manager->localClientNumber, 0);
  EXPECT_EQ(manager->clients[0].state, kSlotConnected);
  EXPECT_TRUE(game.hasLogged("clientConnected 0"));
  EXPECT_EQ(common.loads, std::vector<std::string>{"demo 1 1"});
  // The local slot is never sent snapshots nor timed out.
  manager->frame(200001);
  for (int i = 0; i < 10; ++i)
    manager->frame(16);
  EXPECT_EQ(manager->clients[0].state, kSlotConnected);
  EXPECT_EQ(manager->clients[0].snapshotNumber, 0);
  EXPECT_EQ(game.snapshots, 0);
  manager->serverShutdown();
  EXPECT_EQ(manager->socket, 0);
  EXPECT_NE(cmd.text.find("----- Server Shutdown -----\n"), std::string::npos);
}

TEST_F(NetworkManagerTest, TwoManagersStartedFromTheConsolePlayOverLoopback) {
  // One engine: "dedicated demo" (a networked server, no local player).
  cmdDedicated(words("dedicated demo"));
  ASSERT_NE(manager->socket, 0) << cmd.text;
  EXPECT_TRUE(manager->serverFlag && manager->networkFlag);
  EXPECT_EQ(manager->localClientNumber, -999);
  EXPECT_TRUE(game.hasLogged("serverStarted -1"));
  const int port = manager->ownAddress.port;
  EXPECT_GE(port, 28050);
  EXPECT_LE(port, 28054);

  // The other: "connect 127.0.0.1:<port>".
  auto other = makeManager();
  g_networkManager = other.get();
  cmdConnect(words("connect 127.0.0.1:" + std::to_string(port)));
  g_networkManager = manager.get();
  ASSERT_EQ(other->clientState, kClientChallenging) << cmd.text;

  for (int i = 0; i < 1000 && !(other->clientState == kClientActive && other->snapshotsReceived > 10); ++i)
    run(*manager, *other, 1);
  EXPECT_EQ(other->clientState, kClientActive) << cmd.text;
  EXPECT_GT(other->snapshotsReceived, 10);
  EXPECT_EQ(manager->clients[0].state, kSlotActive);
  EXPECT_NE(manager->userCmds[0].frame, 0) << "the client's commands reach the server's game";

  // "disconnect" on the client reaches the server.
  g_networkManager = other.get();
  cmdDisconnect(words("disconnect"));
  g_networkManager = manager.get();
  for (int i = 0; i < 10; ++i)
    run(*manager, *other, 1);
  EXPECT_EQ(manager->clients[0].state, kSlotZombie);
}

TEST_F(NetworkManagerTest, ConnectRefusesABadAddress) {
  auto other = makeManager();
  EXPECT_FALSE(other->connectToServer(words("connect 127.0.0.999")));
  EXPECT_NE(cmd.text.find("error: bad server address specified\n"), std::string::npos);
  EXPECT_EQ(other->socket, 0);
}

TEST_F(NetworkManagerTest, HandshakeResendsEveryThreeSecondsWithoutAnAnswer) {
  // A "server" socket that never answers: count the getchallenge packets it receives.
  const uint8_t loopbackIp[4] = {127, 0, 0, 1};
  PlatformSocket silent = platformUdpOpen(loopbackIp, -1);
  ASSERT_NE(silent, 0);
  uint8_t ip[4];
  uint16_t port = 0;
  ASSERT_TRUE(platformUdpLocalAddress(silent, ip, &port));
  ASSERT_TRUE(manager->connectToServer(words("connect 127.0.0.1:" + std::to_string(port))));
  int received = 0;
  for (int ms = 0; ms <= 9000; ms += 100) {
    manager->frame(100);
    uint8_t buffer[2048];
    uint8_t fromIp[4];
    uint16_t fromPort;
    while (platformUdpReceive(silent, buffer, sizeof(buffer), fromIp, &fromPort) > 0) {
      EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer) + 4, 12), "getchallenge");
      ++received;
    }
  }
  platformUdpClose(silent);
  EXPECT_EQ(received, 4) << "at 0, 3000, 6000 and 9000 ms";
}

TEST(NetworkManagerFactory, CreatesAndDestroysTheProcessManager) {
  KeyDict::initPools();
  CaptureCmdSystem cmd;
  ASSERT_NE(g_managerFactories[kManagerNetwork].create, nullptr);
  ASSERT_TRUE(g_managerFactories[kManagerNetwork].create());
  EXPECT_NE(g_networkSystem, nullptr);
  EXPECT_EQ(static_cast<NetworkSystem*>(g_networkManager), g_networkSystem);
  EXPECT_NE(cmd.text.find("--------- Network ----------\n"), std::string::npos);
  g_managerFactories[kManagerNetwork].destroy();
  EXPECT_EQ(g_networkSystem, nullptr);
  EXPECT_EQ(g_networkManager, nullptr);
}

}  // namespace
