#include "netfakes.h"

#include <cstdio>
#include <cstring>

#include "platform/clock.h"

FakeGame::FakeGame() : previous_(g_gameInterface) {
  g_gameInterface = this;
}

FakeGame::~FakeGame() {
  g_gameInterface = previous_;
}

bool FakeGame::checkClientConnect(int, const char*, const char*, const char*, char* reason) {
  if (rejectWith.empty())
    return false;
  std::snprintf(reason, 1024, "%s", rejectWith.c_str());
  return true;
}

void FakeGame::writeSnapshot(int, int snapshotNumber, BitMsg* msg, void*, int) {
  ++snapshots;
  for (int i = 0; i < snapshotBytes; ++i)
    msg->writeByte((snapshotNumber + i) & 0xff);
}

bool FakeGame::hasLogged(const std::string& entry) const {
  for (const std::string& line : log)
    if (line == entry)
      return true;
  return false;
}

FakeCommon::FakeCommon() : previous_(g_commonSystem) {
  g_commonSystem = this;
}

FakeCommon::~FakeCommon() {
  g_commonSystem = previous_;
}

bool FakeCommon::loadMap(const char* name, int serverFlag, int networkFlag) {
  loads.push_back(std::string(name) + " " + std::to_string(serverFlag) + " " + std::to_string(networkFlag));
  return loadResult;
}

FakeKeys::FakeKeys() : previous_(g_keyBindSystem) {
  g_keyBindSystem = this;
}

FakeKeys::~FakeKeys() {
  g_keyBindSystem = previous_;
}

void FakeKeys::getUserCmd(UserCmd* out, int time, int frame) {
  *out = UserCmd();
  out->time = time;
  out->frame = frame;
  out->forward = int8_t(frame % 100);
  out->angles[1] = int16_t(frame * 7);
}

std::unique_ptr<NetworkManager> makeManager() {
  static const uint8_t kLoopback[4] = {127, 0, 0, 1};
  netPinSockets(kLoopback);
  auto manager = std::make_unique<NetworkManager>();
  manager->init();
  return manager;
}

bool startServer(NetworkManager& server, int serverId) {
  server.serverFlag = true;
  server.networkFlag = true;
  server.serverId = server.firstServerId = serverId;
  return server.openSocket();
}

int pump(NetworkManager& manager) {
  static uint8_t buffer[16384];
  int count = 0;
  for (;;) {
    BitMsg msg(buffer, sizeof(buffer));
    NetAddress from;
    if (!manager.getPacket(msg, from))
      return count;
    manager.packetEvent(from, msg);
    ++count;
  }
}

void run(NetworkManager& server, NetworkManager& client, int steps, int msec) {
  for (int i = 0; i < steps; ++i) {
    client.frame(msec);
    server.frame(msec);
    pump(server);
    pump(client);
  }
}

NetAddress loopback(uint16_t port) {
  NetAddress address;
  address.ip[0] = 127;
  address.ip[3] = 1;
  address.port = port;
  return address;
}
