// The client side: the handshake with a server (challenge, then connect), the client message
// with its reliable block and user commands at a capped rate, reading the server's gamestates
// and snapshots, resending the handshake and giving up on a silent server.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "lib/interface/cmdsystem.h"
#include "lib/interface/commonsystem.h"
#include "lib/interface/convarsystem.h"
#include "lib/interface/gameinterface.h"
#include "lib/interface/keybindsystem.h"
#include "lib/interface/userinterfacesystem.h"
#include "lib/str.h"
#include "network/networkmanager.h"

namespace {

constexpr int kResendInterval = 3000;
constexpr int kWaitForServer = 1000;

bool sameInput(const UserCmd& a, const UserCmd& b) {
  return a.buttons == b.buttons && a.forward == b.forward && a.right == b.right && a.up == b.up &&
         a.angles[0] == b.angles[0] && a.angles[1] == b.angles[1] && a.angles[2] == b.angles[2] &&
         a.cursorX == b.cursorX && a.cursorY == b.cursorY && a.impulse == b.impulse &&
         a.impulseFlags == b.impulseFlags;
}

}  // namespace

bool NetworkManager::connectToServer(const CmdArgs& args) {
  if (!g_gameInterface)
    return false;
  if (serverFlag) {
    cmdPrintf("connect: this engine runs a server; type \"disconnect\" first\n");
    return false;
  }
  // A session that ended (dropped, timed out) no longer holds the manager: connect again at once.
  if (networkFlag && clientState > kClientDisconnected) {
    cmdPrintf("connect: already connected to %s; type \"disconnect\" first\n", NetAddress::toString(serverAddress));
    return false;
  }
  NetAddress address;
  if (!NetAddress::parse(&address, args.argv(1))) {
    cmdPrintf("error: bad server address specified\n");
    return false;
  }
  disconnect();
  serverAddress = address;
  networkFlag = true;
  serverFlag = false;
  if (!openSocket()) {
    networkFlag = false;
    return false;
  }
  clientState = kClientChallenging;
  connectAttempts = 0;
  lastResendTime = -9999;
  timeoutCount = 0;
  return true;
}

void NetworkManager::clientCheckForResend() {
  if (clientState != kClientChallenging && clientState != kClientConnecting)
    return;
  if (time - lastResendTime < kResendInterval)
    return;
  ++connectAttempts;
  lastResendTime = time;
  if (clientState == kClientChallenging) {
    sendOOBPrint(serverAddress, "getchallenge");
    return;
  }
  // "connect" as raw text and its terminator, then the dictionary: the same framing the server's
  // connectionless reader takes.
  uint8_t buffer[NetChannel::kPacketBufferSize];
  BitMsg msg(buffer, sizeof(buffer));
  msg.writeInt(-1);
  for (const char* c = "connect"; *c; ++c)
    msg.writeByte(uint8_t(*c));
  msg.writeByte(0);
  KeyDict info;
  if (g_conVarSystem) {
    const KeyDict* exported = g_conVarSystem->exportToDict(0x200);
    if (exported)
      info = *exported;
  }
  char number[16];
  std::snprintf(number, sizeof(number), "%i", kProtocolVersion);
  info.set("protocol", number);
  std::snprintf(number, sizeof(number), "%i", int(ownAddress.port));
  info.set("intport", number);
  std::snprintf(number, sizeof(number), "%i", challenge);
  info.set("challenge", number);
  msg.writeKeyDict(info);
  sendMessage(msg, serverAddress);
}

void NetworkManager::clientFrame() {
  if (clientState < kClientConnected || clientState == kClientSilent)
    return;
  clientCreateCmd();
  if (clientReadyToSend())
    clientSendCmd();
}

void NetworkManager::clientCreateCmd() {
  if (clientState < kClientActive)
    return;
  ++userCmdNumber;
  UserCmd& cmd = userCmdRing[userCmdNumber & (kUserCmdRing - 1)];
  cmd = UserCmd();
  if (g_keyBindSystem)
    g_keyBindSystem->getUserCmd(&cmd, time, frameCount);
  cmd.frame = frameCount;
  cmd.time = time;
  const UserCmd& previous = userCmdRing[(userCmdNumber - 1) & (kUserCmdRing - 1)];
  if (userCmdNumber > 1 && sameInput(cmd, previous)) {
    --userCmdNumber;
    ++duplicateCount;
  }
}

bool NetworkManager::clientReadyToSend() {
  if (clientState == kClientSilent)
    return false;
  // Before the gamestate the client waits for the server: it speaks only after a second
  // without hearing from it, measured on its own receive time.
  if (clientState != kClientActive && clientState != 8 && time - channel.lastReceiveTime < kWaitForServer &&
      time - lastSendTime < kWaitForServer)
    return false;
  if (NetAddress::isLocal(serverAddress))
    return true;
  int maxPackets = conVarInt("net_cl_maxpackets", 30);
  if (maxPackets < 15)
    maxPackets = 15;
  if (maxPackets > 125)
    maxPackets = 125;
  const PacketRecord& last = packetRecords[(channel.outgoingSequence - 1) & (kPacketRecords - 1)];
  return time - last.time >= 1000 / maxPackets;
}

void NetworkManager::clientWriteMessage(BitMsg& msg, bool withCommands) {
  msg.writeInt(serverMessageNumber);
  msg.writeInt(channel.incomingSequence);
  channel.writeReliable(msg, 64 + 32 * 40);
  msg.writeByte(kMsgClientEnd);
  if (withCommands) {
    int packetDup = conVarInt("net_cl_packetdup", 1);
    if (packetDup < 0)
      packetDup = 0;
    if (packetDup > 5)
      packetDup = 5;
    const PacketRecord& older =
        packetRecords[(channel.outgoingSequence - packetDup - 1) & (kPacketRecords - 1)];
    int count = userCmdNumber - older.commandNumber;
    if (count > kPacketRecords)
      count = kPacketRecords;
    if (count > userCmdNumber)
      count = userCmdNumber;
    if (count >= 1) {
      msg.writeByte(kMsgUserCmds);
      msg.writeByte(count);
      UserCmd base = {};
      for (int n = userCmdNumber - count + 1; n <= userCmdNumber; ++n) {
        const UserCmd& cmd = userCmdRing[n & (kUserCmdRing - 1)];
        msg.writeDeltaUserCmd(base, cmd);
        base = cmd;
      }
    }
  }
  msg.writeByte(kMsgClientEnd);
}

void NetworkManager::clientSendCmd() {
  if (clientState == kClientSilent)
    return;
  uint8_t buffer[NetChannel::kMaxPayloadSize];
  BitMsg msg(buffer, sizeof(buffer));
  clientWriteMessage(msg, clientState >= kClientActive);
  PacketRecord& record = packetRecords[channel.outgoingSequence & (kPacketRecords - 1)];
  record.commandNumber = userCmdNumber;
  record.frame = userCmdRing[userCmdNumber & (kUserCmdRing - 1)].frame;
  record.time = time;
  lastSendTime = time;
  if (channel.unsentFragments) {
    while (channel.unsentFragments)
      channel.sendNextFragment(*this);
  }
  channel.send(msg, *this);
  while (channel.unsentFragments)
    channel.sendNextFragment(*this);
}

void NetworkManager::clientCheckTimeout() {
  if (clientState <= kClientConnecting || clientState == kClientSilent)
    return;
  const int limit = conVarInt("net_cl_timeout", 200) * 1000;
  if (time - channel.lastReceiveTime > limit) {
    if (++timeoutCount >= 6) {
      cmdPrintf("\nServer connection timed out.\n");
      clientDisconnect();
    }
  } else {
    timeoutCount = 0;
  }
}

void NetworkManager::clientPacketEvent(const NetAddress& from, BitMsg& msg) {
  if (isConnectionless(msg)) {
    clientConnectionlessPacket(from, msg);
    return;
  }
  if (clientState < kClientConnected)
    return;
  if (msg.getWriteBit() < 24) {
    cmdPrintf("%s: tiny packet\n", NetAddress::toString(from));
    return;
  }
  if (!NetAddress::compare(from, channel.remoteAddress) || !channel.process(msg))
    return;
  // The client's own receive pair: readiness and time-outs measure silence on it.
  channel.packetInterval = time - channel.lastReceiveTime;
  channel.lastReceiveTime = time;
  clientParseServerMessage(msg);
}

bool NetworkManager::clientReliableMessage(void* context, BitMsg& message) {
  NetworkManager* self = static_cast<NetworkManager*>(context);
  const int type = message.readByte();
  if (type == kMsgGameMessage) {
    ++self->gameMessagesReceived;
    // Its byte count, the game's bytes as a block, the end byte.
    const int size = message.readInt();
    uint8_t bytes[NetChannel::kPacketBufferSize];
    if (size <= 0 || size > int(sizeof(bytes)) || !message.readData(bytes, size))
      return true;
    BitMsg game;
    game.initRead(bytes, size);
    if (g_gameInterface && self->clientState >= kClientActive)
      g_gameInterface->clientReadGameMessage(&game);
    return true;
  }
  if (type != kMsgReliableText)
    return true;
  char text[NetChannel::kPacketBufferSize];
  message.readString(text, sizeof(text));
  CmdArgs args;
  args.tokenize(text);
  if (std::strcmp(args.argv(0), "disconnect") == 0) {
    cmdPrintf("Server disconnected: %s\n", netEscapeText(args.argv(1), false));
    if (g_conVarSystem)
      g_conVarSystem->setString("com_errorMessage", args.argv(1));
    self->clientState = kClientDisconnected;
    return false;
  }
  if (std::strcmp(args.argv(0), "print") == 0) {
    // The text after the word, without the quotes the server puts around it.
    const char* rest = std::strstr(text, "print") + 5;
    while (*rest == ' ')
      ++rest;
    std::string shown = rest;
    if (!shown.empty() && shown.front() == '"') {
      shown.erase(0, 1);
      const size_t close = shown.rfind('"');
      if (close != std::string::npos)
        shown.erase(close);
    }
    cmdPrintf("%s", netEscapeText(shown.c_str(), true));
  }
  return true;
}

void NetworkManager::clientParseServerMessage(BitMsg& msg) {
  const int type = msg.readByte();
  if (type == kMsgGamestate) {
    msg.readInt();
    KeyDict info;
    msg.readKeyDict(info);
    if (msg.isOverflowed())
      return;
    int id = 0;
    info.getInt("si_serverId", "0", id);
    // The first gamestate of a server (or of its next map) enters its game before the reliable
    // block is read, so the game messages in it find the map loaded.
    if (clientState == kClientConnected || (clientState == kClientActive && id != serverMessageNumber)) {
      serverMessageNumber = id;
      if (gamestatesReceived++ == 0)
        cmdPrintf("gamestate received from %s\n", NetAddress::toString(serverAddress));
      if (!clientEnterGame(info))
        return;
      clientState = kClientActive;
    }
    if (!channel.readReliable(msg, clientReliableMessage, this))
      return;
  } else if (type == kMsgSnapshot) {
    const int number = msg.readInt();
    if (!channel.readReliable(msg, clientReliableMessage, this))
      return;
    ++snapshotsReceived;
    lastSnapshotNumber = number;
    // The rest, up to the end byte, is what the server's game wrote.
    if (clientState == kClientActive && g_gameInterface)
      g_gameInterface->clientReadSnapshot(number, &msg);
  }
  if (clientState == kClientDisconnected && networkFlag) {
    // The server said "disconnect" in its reliable stream: it has dropped this client.
    clientState = kClientDisconnected;
    channel.reset();
  }
}

bool NetworkManager::clientEnterGame(const KeyDict& info) {
  const char* map = info.getString("si_map", "");
  // The menu goes, as it does for "map".
  if (g_uiSystem)
    g_uiSystem->freeGui(g_activeGui);
  g_activeGui = nullptr;
  if (!*map) {
    cmdPrintf("WARNING: the server at %s named no map\n", NetAddress::toString(serverAddress));
  } else if (g_commonSystem && !g_commonSystem->loadMap(map, 0, 1)) {
    cmdPrintf("WARNING: could not load the server's map '%s': disconnecting\n", map);
    clientDisconnect();
    return false;
  }
  if (g_gameInterface) {
    g_gameInterface->setServerInfo(&info);
    g_gameInterface->clientGameStateReceived(&info);
  }
  return true;
}

void NetworkManager::clientDisconnect() {
  if (networkFlag && clientState > kClientConnecting) {
    channel.queueReliableString("disconnect", kMsgReliableText);
    for (int i = 0; i < 3; ++i) {
      uint8_t buffer[NetChannel::kMaxPayloadSize];
      BitMsg msg(buffer, sizeof(buffer));
      clientWriteMessage(msg, false);
      channel.send(msg, *this);
      while (channel.unsentFragments)
        channel.sendNextFragment(*this);
    }
  }
  clientState = kClientDisconnected;
}

void NetworkManager::clientServerDisconnected(const NetAddress& from) {
  if (clientState <= kClientDisconnected || !NetAddress::compare(from, channel.remoteAddress))
    return;
  cmdPrintf("Server disconnected for unknown reason\n");
  if (g_conVarSystem)
    g_conVarSystem->setString("com_errorMessage", "Server disconnected for unknown reason\n");
  clientDisconnect();
}

bool NetworkManager::clientSendReliableString(const char* text) {
  return channel.queueReliableString(text, kMsgReliableText);
}

const UserCmd* NetworkManager::getLocalUserCmd() const {
  if (localClientNumber >= 0 && localClientNumber < kMaxClients)
    return &userCmds[localClientNumber];
  return nullptr;
}
