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

void FakeGame::clientGameStateReceived(const KeyDict* info) {
  log.push_back(std::string("clientGameStateReceived ") + (info ? info->getString("si_map", "") : ""));
}

void FakeGame::clientReadSnapshot(int, BitMsg* msg) {
  ++snapshotsRead;
  lastSnapshotFirstByte = msg->readByte();
}

void FakeGame::clientReadGameMessage(BitMsg* msg) {
  gameMessages.push_back(msg->readInt());
}

FakeConVars::FakeConVars() : previous_(g_conVarSystem) {
  g_conVarSystem = this;
}

FakeConVars::~FakeConVars() {
  g_conVarSystem = previous_;
}

void FakeConVars::set(const std::string& name, const std::string& value, uint32_t flags) {
  for (auto& var : vars_) {
    if (var->name == name) {
      flags = var->decl->getFlags();
      var->decl.reset();
      var->value = value;
      var->decl = std::make_unique<ConVar>(var->name.c_str(), var->value.c_str(), flags);
      return;
    }
  }
  auto var = std::make_unique<Var>();
  var->name = name;
  var->value = value;
  var->decl = std::make_unique<ConVar>(var->name.c_str(), var->value.c_str(), flags);
  vars_.push_back(std::move(var));
}

ConVar* FakeConVars::find(const char* name) {
  for (auto& var : vars_)
    if (name && var->name == name)
      return var->decl.get();
  return nullptr;
}

void FakeConVars::setString(const char* name, const char* text) {
  if (find(name))
    set(name, text ? text : "");
}

const char* FakeConVars::getString(const char* name) {
  for (auto& var : vars_)
    if (name && var->name == name)
      return var->value.c_str();
  return "";
}

int FakeConVars::getInt(const char* name) {
  ConVar* var = find(name);
  return var ? var->getInt() : 0;
}

const KeyDict* FakeConVars::exportToDict(uint32_t mask) {
  exported_.clear();
  for (auto& var : vars_)
    if (var->decl->getFlags() & mask)
      exported_.set(var->name.c_str(), var->value.c_str());
  return &exported_;
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
