// The sample game's networked play (see netplay.h). What travels, inside the engine's framing:
//   game message "welcome": byte 1, byte the client's own number (sent with its gamestate);
//   snapshot: byte count, then per player byte number, floats x y z yaw pitch.
#include "demo/netplay.h"

#include <cmath>
#include <cstring>

#include "lib/interface/cmdsystem.h"
#include "lib/interface/collisionsystem.h"
#include "lib/interface/gameinterface.h"
#include "lib/interface/networksystem.h"
#include "lib/interface/renderentity.h"
#include "lib/interface/rendermodelsystem.h"
#include "lib/interface/rendersystem.h"
#include "lib/interface/usercmd.h"
#include "network/bitmsg.h"

namespace netplay {
namespace {

constexpr int kWelcome = 1;
constexpr float kWalkSpeed = 240.0f;  // units a second at full forward, as the local player
constexpr float kStepSeconds = 0.016f;
constexpr float kShortToDegrees = 360.0f / 65536.0f;
constexpr float kEyeHeight = 48.0f;  // a pillar stands from the floor below the eye

struct NetPlayer {
  bool active = false;
  Vec3 origin;
  float yaw = 0.0f;
  float pitch = 0.0f;
  int entity = -1;     // client side: the pillar drawn for another player
  bool seen = false;   // client side: in the last snapshot
};

const GameImports* s_imports = nullptr;
NetPlayer s_players[kMaxGameClients];
int s_localClient = 0;   // this engine's own player on a server; -1 for none
bool s_client = false;   // a client of a networked server
int s_ownNumber = -1;    // client side: our number on the server, from its welcome
Vec3 s_start;
float s_startYaw = 0.0f;

bool validClient(int n) { return n >= 0 && n < kMaxGameClients; }

// Moves a box by `delta`, sliding along what it hits (a few bounces at most).
void slide(Vec3& origin, const TraceModel& box, Vec3 delta) {
  CollisionSystem* collision = s_imports ? s_imports->collisionSystem : nullptr;
  if (!collision) {
    origin += delta;
    return;
  }
  for (int bounce = 0; bounce < 4 && delta.lengthSqr() > 1e-6f; bounce++) {
    TraceResult r;
    collision->translation(&r, origin, origin + delta, &box, Mat3::identity(), kContentsClipMask, 0, Vec3(),
                           Mat3::identity());
    origin = r.endPos;
    if (r.fraction >= 1.0f)
      break;
    delta = delta * (1.0f - r.fraction);
    delta -= r.contact.normal * delta.dot(r.contact.normal);
  }
}

void freePillar(NetPlayer& player) {
  RenderSystem* render = s_imports ? s_imports->renderSystem : nullptr;
  if (render && player.entity >= 0 && render->getRenderEntity(player.entity))
    render->freeEntityDef(player.entity);
  player.entity = -1;
}

void placePillar(NetPlayer& player) {
  RenderSystem* render = s_imports ? s_imports->renderSystem : nullptr;
  RenderModelSystem* models = s_imports ? s_imports->renderModelSystem : nullptr;
  if (!render || !models)
    return;
  RenderEntity entity;
  entity.model = models->findOrLoadModel("models/pillar.mesh");
  entity.origin = player.origin - Vec3(0.0f, 0.0f, kEyeHeight);
  entity.shaderParms[0] = 1.0f;
  entity.shaderParms[1] = 0.45f;
  entity.shaderParms[2] = 0.3f;
  for (int i = 3; i < 12; i++)
    entity.shaderParms[i] = 1.0f;
  if (player.entity >= 0 && render->getRenderEntity(player.entity))
    render->updateEntityDef(player.entity, &entity);
  else
    player.entity = render->addEntityDef(&entity);
}

}  // namespace

void setImports(const GameImports* imports) {
  s_imports = imports;
}

void serverStarted(int localClient) {
  s_localClient = localClient;
}

void mapLoaded(const Vec3& start, float startYaw, bool serverFlag, bool networkFlag) {
  s_start = start;
  s_startYaw = startYaw;
  s_client = networkFlag && !serverFlag;
  s_ownNumber = -1;
  // A server's players start the new map at its start; a client waits for the snapshots.
  for (NetPlayer& player : s_players) {
    player.entity = -1;
    player.seen = false;
    player.origin = start;
    player.yaw = startYaw;
    player.pitch = 0.0f;
    if (s_client)
      player.active = false;
  }
  // A local game's single player is client 0 of its own server.
  if (!networkFlag)
    s_localClient = 0;
}

void mapUnloaded() {
  for (NetPlayer& player : s_players) {
    player.entity = -1;
    player.seen = false;
  }
  s_client = false;
  s_ownNumber = -1;
}

bool localPlayerWalks() {
  return !s_client && s_localClient >= 0;
}

void clientConnected(int clientNum) {
  if (!validClient(clientNum))
    return;
  NetPlayer& player = s_players[clientNum];
  player = NetPlayer();
  player.active = true;
  player.origin = s_start;
  player.yaw = s_startYaw;
}

void clientDisconnected(int clientNum) {
  if (validClient(clientNum))
    s_players[clientNum].active = false;
}

void clientGameState(int clientNum) {
  NetworkSystem* net = s_imports ? s_imports->networkSystem : nullptr;
  if (!net || !validClient(clientNum))
    return;
  // Travels in the gamestate's own reliable block: the client learns which player it is.
  uint8_t buffer[16];
  BitMsg msg(buffer, sizeof(buffer));
  msg.writeByte(kWelcome);
  msg.writeByte(clientNum);
  net->serverSendGameMessage(clientNum, msg);
}

void runFrame(const UserCmd* commands, const TraceModel& box) {
  if (!commands || s_client)
    return;
  for (int n = 0; n < kMaxGameClients; n++) {
    NetPlayer& player = s_players[n];
    if (!player.active || n == s_localClient)
      continue;
    const UserCmd& cmd = commands[n];
    player.yaw = s_startYaw + float(cmd.angles[1]) * kShortToDegrees;
    player.pitch = float(cmd.angles[0]) * kShortToDegrees;
    const float yaw = player.yaw * 0.017453292f;
    const Vec3 forward(std::cos(yaw), std::sin(yaw), 0.0f);
    const Vec3 right(std::sin(yaw), -std::cos(yaw), 0.0f);
    const float scale = kWalkSpeed * kStepSeconds / 127.0f;
    const Vec3 delta = forward * (float(cmd.forward) * scale) + right * (float(cmd.right) * scale);
    if (delta.lengthSqr() > 0.0f)
      slide(player.origin, box, delta);
  }
}

void writeSnapshot(int, BitMsg* msg) {
  if (!msg)
    return;
  int count = 0;
  for (const NetPlayer& player : s_players)
    count += player.active ? 1 : 0;
  msg->writeByte(count);
  for (int n = 0; n < kMaxGameClients; n++) {
    const NetPlayer& player = s_players[n];
    if (!player.active)
      continue;
    msg->writeByte(n);
    msg->writeFloat(player.origin.x);
    msg->writeFloat(player.origin.y);
    msg->writeFloat(player.origin.z);
    msg->writeFloat(player.yaw);
    msg->writeFloat(player.pitch);
  }
}

void clientReadSnapshot(BitMsg* msg, Vec3* viewOrigin, float* viewYaw, float* viewPitch) {
  if (!msg || !s_client)
    return;
  const int count = msg->readByte();
  if (count < 0 || count > kMaxGameClients)
    return;
  for (NetPlayer& player : s_players)
    player.seen = false;
  for (int i = 0; i < count; i++) {
    const int n = msg->readByte();
    Vec3 origin;
    origin.x = msg->readFloat();
    origin.y = msg->readFloat();
    origin.z = msg->readFloat();
    const float yaw = msg->readFloat();
    const float pitch = msg->readFloat();
    if (msg->isOverflowed() || !validClient(n) || !std::isfinite(origin.x) || !std::isfinite(origin.y) ||
        !std::isfinite(origin.z))
      break;
    NetPlayer& player = s_players[n];
    player.active = true;
    player.seen = true;
    player.origin = origin;
    player.yaw = yaw;
    player.pitch = pitch;
    if (n == s_ownNumber) {
      if (viewOrigin)
        *viewOrigin = origin;
      if (viewYaw)
        *viewYaw = yaw;
      if (viewPitch)
        *viewPitch = pitch;
    } else {
      placePillar(player);
    }
  }
  // Players who left: their pillars go.
  for (NetPlayer& player : s_players) {
    if (!player.seen) {
      player.active = false;
      freePillar(player);
    }
  }
}

void clientReadGameMessage(BitMsg* msg) {
  if (!msg || msg->readByte() != kWelcome)
    return;
  const int n = msg->readByte();
  if (msg->isOverflowed() || !validClient(n))
    return;
  s_ownNumber = n;
  if (s_imports && s_imports->cmdSystem)
    s_imports->cmdSystem->printf("sample game: playing as client %d\n", n);
}

void printStatus() {
  CmdSystem* cmd = s_imports ? s_imports->cmdSystem : nullptr;
  if (!cmd)
    return;
  for (int n = 0; n < kMaxGameClients; n++) {
    const NetPlayer& player = s_players[n];
    if (!player.active || (!s_client && n == s_localClient) || (s_client && n == s_ownNumber))
      continue;
    cmd->printf("sample game: client %d at %.2f %.2f %.2f yaw %.1f\n", n, player.origin.x, player.origin.y,
                player.origin.z, player.yaw);
  }
}

}  // namespace netplay
