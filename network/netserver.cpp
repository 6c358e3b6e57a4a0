// The server side: 32 client slots, the challenge/connect handshake, gamestates and paced
// snapshots, reliable text both ways, game messages, zombies, time-outs and drops.
//
// Every message in either direction carries the sender's reliable block (NetChannel::writeReliable):
// its acknowledgement of the peer's reliable stream first, then the unacknowledged messages with
// their numbers, so both ends pair acknowledgements the same way.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "lib/interface/cmdsystem.h"
#include "lib/interface/convarsystem.h"
#include "lib/interface/gameinterface.h"
#include "lib/str.h"
#include "network/networkmanager.h"

namespace {


constexpr int kZombieTime = 2000;
constexpr int kSilentTime = 200000;
constexpr int kTimeoutChecks = 6;
constexpr int kInactiveSendInterval = 1000;

const char* userName(const ClientSlot& slot) {
  return slot.userInfo.getString("ui_name", "");
}

}  // namespace

void NetworkManager::serverPacketEvent(const NetAddress& from, BitMsg& msg) {
  if (isConnectionless(msg)) {
    serverConnectionlessPacket(from, msg);
    return;
  }
  if (msg.getWriteBit() < 80)
    return;
  msg.setReadBit(0);
  msg.readInt();
  const int32_t id = msg.readInt();
  const int qport = msg.readBits(16);
  int found = -1;
  for (int i = 0; i < kMaxClients; ++i) {
    const ClientSlot& slot = clients[i];
    if (slot.state != kSlotFree && NetAddress::compareIP(slot.channel.remoteAddress, from) &&
        slot.channel.qport == qport) {
      found = i;
      break;
    }
  }
  if (found < 0 || found == localClientNumber)
    return;
  ClientSlot& slot = clients[found];
  // The port is fixed up only for a packet that proves it belongs to the connection: it names
  // the channel's own (unguessable) id, not the 0 of a client that has not heard from us yet,
  // and the channel accepts it, so its number lies inside the sequence window. A stranger naming
  // a client's qport from another port must not redirect that client's traffic.
  const bool otherPort = slot.channel.remoteAddress.port != from.port;
  if (otherPort && (id == 0 || id != slot.channel.channelId))
    return;
  if (!slot.channel.process(msg))
    return;
  if (otherPort) {
    cmdPrintf("serverPacketEvent: fixing up a translated port\n");
    slot.channel.remoteAddress.port = from.port;
  }
  if (slot.state == kSlotZombie)
    return;
  slot.channel.packetInterval = time - slot.channel.lastReceiveTime;
  slot.channel.lastReceiveTime = time;
  serverParseClientMessage(found, msg);
}

bool NetworkManager::serverReliableMessage(void* context, BitMsg& message) {
  NetworkManager* self = static_cast<NetworkManager*>(context);
  const int slot = self->readingSlot_;
  const int type = message.readByte();
  if (type == kMsgReliableText) {
    if (!self->serverClientCommand(slot, message))
      return false;
  }
  // Game messages from clients have no game operation to go to: they are taken and dropped.
  return self->clients[slot].state > kSlotZombie;
}

void NetworkManager::serverParseClientMessage(int number, BitMsg& msg) {
  ClientSlot& slot = clients[number];
  const int32_t id = msg.readInt();
  const int32_t clientIncoming = msg.readInt();
  readingSlot_ = number;
  const bool blockRead = slot.channel.readReliable(msg, serverReliableMessage, this);
  readingSlot_ = -1;
  if (!blockRead || slot.state <= kSlotZombie || msg.isOverflowed())
    return;

  if (id != serverId) {
    // The client has not got the gamestate yet. It has seen packets sent after the last one,
    // so that one was lost: send it again, at most once a second.
    if (slot.gamestateMessage < clientIncoming &&
        (slot.gamestateMessage < 0 || time - slot.gamestateTime >= kInactiveSendInterval))
      serverSendClientGameState(number);
    return;
  }
  // Naming the current server id acknowledges the gamestate.
  if (slot.state == kSlotGamestate) {
    slot.state = kSlotActive;
    // The gamestate's send put the next message a second away; the first snapshot goes now.
    if (!slot.channel.unsentFragments && slot.nextSendTime > time)
      slot.nextSendTime = time;
  }

  if (msg.readByte() != kMsgClientEnd)
    return;
  if (msg.readByte() != kMsgUserCmds)
    return;
  const int count = msg.readByte();
  if (count < 1 || count > kPacketRecords)
    return;
  UserCmd base = {};
  UserCmd cmd = {};
  for (int i = 0; i < count; ++i) {
    msg.readDeltaUserCmd(base, cmd);
    base = cmd;
  }
  if (!msg.isOverflowed())
    userCmds[number] = cmd;
}

bool NetworkManager::serverClientCommand(int number, BitMsg& msg) {
  char text[NetChannel::kPacketBufferSize];
  msg.readString(text, sizeof(text));
  return serverExecuteClientCommand(number, text, true);
}

bool NetworkManager::serverExecuteClientCommand(int number, const char* text, bool fromReliable) {
  CmdArgs args;
  args.tokenize(text);
  const char* word = args.argv(0);
  if (std::strcmp(word, "disconnect") == 0) {
    serverDropClient(number, "disconnected");
    return true;
  }
  if (!fromReliable) {
    cmdPrintf("client text ignored for %s: ", netEscapeText(userName(clients[number]), false));
    cmdPrintf("%s\n", netEscapeText(word, false));
  }
  return true;
}

bool NetworkManager::readConnectDict(BitMsg& msg, KeyDict& dict) {
  // A connect dictionary has a pair cap: a stranger's packet must not build an unbounded table.
  dict.clear();
  char key[BitMsg::MAX_STRING_CHARS];
  char value[BitMsg::MAX_STRING_CHARS];
  int pairs = 0;
  while (msg.readString(key, sizeof(key)) > 0) {
    msg.readString(value, sizeof(value));
    if (++pairs > kMaxConnectPairs)
      return false;
    dict.set(key, value);
  }
  return !msg.isOverflowed() || pairs > 0;
}

void NetworkManager::serverDirectConnect(const NetAddress& from, BitMsg& msg) {
  cmdPrintf("serverDirectConnect()\n");
  KeyDict dict;
  if (!readConnectDict(msg, dict)) {
    cmdPrintf("    rejected connect from %s: too many keys\n", NetAddress::toString(from));
    return;
  }
  int version = 0;
  dict.getInt("protocol", "0", version);
  if (version != kProtocolVersion) {
    sendOOBPrint(from, "print\nServer uses protocol version %i.\n", kProtocolVersion);
    cmdPrintf("    rejected connect from version %i\n", version);
    return;
  }
  int challengeNumber = 0;
  int qport = 0;
  dict.getInt("challenge", "0", challengeNumber);
  dict.getInt("intport", "0", qport);
  qport &= 0xffff;

  const int reconnectLimit = conVarInt("net_sv_reconnectlimit", 3) * 1000;
  for (const ClientSlot& slot : clients) {
    if (slot.state != kSlotFree && NetAddress::compareIP(slot.channel.remoteAddress, from) &&
        (slot.channel.qport == qport || slot.channel.remoteAddress.port == from.port) &&
        time - slot.lastConnectTime < reconnectLimit) {
      cmdPrintf("%s:reconnect rejected : too soon\n", NetAddress::toString(from));
      return;
    }
  }

  ChallengeRecord* entry = nullptr;
  for (ChallengeRecord& candidate : challenges) {
    if (NetAddress::compare(candidate.address, from) && candidate.challenge == challengeNumber) {
      entry = &candidate;
      break;
    }
  }
  if (!entry) {
    sendOOBPrint(from, "print \"No or bad challenge for address.\n\"");
    return;
  }
  dict.set("ip", NetAddress::toString(from));
  const int entryIndex = int(entry - challenges);
  const int ping = time - entry->pingTime;
  cmdPrintf("Client %i connecting with %i challenge ping\n", entryIndex, ping);
  entry->connected = true;

  if (!NetAddress::isLocal(from) && !NetAddress::compare(from, ownAddress)) {
    const int minPing = conVarInt("net_sv_minPing", 0);
    if (minPing != 0 && ping < minPing) {
      sendOOBPrint(from, "print \"Server is for high pings only\n\"");
      cmdPrintf("Client %i rejected on a too low ping\n", entryIndex);
      entry->address.port = 0;
      return;
    }
  }

  int count = conVarInt("si_maxPlayers", kMaxClients);
  if (count > kMaxClients)
    count = kMaxClients;
  int number = -1;
  for (int i = 0; i < count; ++i) {
    const ClientSlot& slot = clients[i];
    if (slot.state != kSlotFree && NetAddress::compareIP(slot.channel.remoteAddress, from) &&
        (slot.channel.qport == qport || slot.channel.remoteAddress.port == from.port)) {
      cmdPrintf("%s:reconnect\n", NetAddress::toString(from));
      number = i;
      break;
    }
  }
  if (number < 0 && !NetAddress::compare(from, ownAddress)) {
    // One host holds at most so many slots: a stranger with many ports cannot fill the server.
    const int perAddress = conVarInt("net_sv_maxClientsPerAddress", kDefaultClientsPerAddress);
    int held = 0;
    for (const ClientSlot& slot : clients)
      held += slot.state >= kSlotConnected && NetAddress::compareIP(slot.channel.remoteAddress, from) ? 1 : 0;
    if (perAddress > 0 && held >= perAddress) {
      sendOOBPrint(from, "print \"Too many players from your address.\n\"");
      cmdPrintf("Rejected a connection from %s: its address holds %i slots.\n", NetAddress::toStringNoPort(from), held);
      return;
    }
  }
  if (number < 0) {
    for (int i = 0; i < count; ++i) {
      if (clients[i].state == kSlotFree) {
        number = i;
        clients[i].channel.reliableSequence = 0;
        clients[i].channel.reliableAcknowledge = 0;
        break;
      }
    }
  }
  if (number < 0) {
    sendOOBPrint(from, "print \"Server is full.\n\"");
    cmdPrintf("Rejected a connection.\n");
    return;
  }

  if (g_gameInterface) {
    char reason[1024];
    reason[0] = '\0';
    char challengeText[32];
    std::snprintf(challengeText, sizeof(challengeText), "%s", dict.getString("challenge", ""));
    if (g_gameInterface->checkClientConnect(number, NetAddress::toString(from), challengeText,
                                            dict.getString("password", ""), reason)) {
      reason[sizeof(reason) - 1] = '\0';
      sendOOBPrint(from, "print \"%s\n\"", reason);
      cmdPrintf("Game rejected a connection: %s\n", netEscapeText(reason, false));
      return;
    }
  }

  ClientSlot& slot = clients[number];
  slot.state = kSlotFree;
  slot.challenge = challengeNumber;
  slot.channel.setup(NetChannel::kServerSide, from, qport);
  slot.userInfo = dict;
  if (g_gameInterface) {
    g_gameInterface->clientConnecting(number);
    g_gameInterface->clientUserInfo(number, &slot.userInfo, networkFlag, 0);
  }
  sendOOBPrint(from, "connectResponse");
  slot.state = kSlotConnected;
  slot.nextSendTime = time;
  slot.channel.lastReceiveTime = time;
  slot.lastConnectTime = time;
  slot.timeoutCount = 0;
  slot.snapshotNumber = 0;
  slot.gamestateMessage = -1;
  slot.gamestateTime = 0;
  slot.spare = -1;
  char text[1100];
  std::snprintf(text, sizeof(text), "%s joined the game", userName(slot));
  if (g_gameInterface) {
    g_gameInterface->clientConnected(number);
    g_gameInterface->serverMessage(-1, "Server", text);
  }
  cmdPrintf("%s\n", netEscapeText(text, false));
}

void NetworkManager::serverSendClientGameState(int number) {
  ClientSlot& slot = clients[number];
  cmdPrintf("serverSendClientGameState() for %s\n", netEscapeText(userName(slot), false));
  slot.gamestateMessage = slot.channel.outgoingSequence;
  slot.gamestateTime = time;
  slot.state = kSlotGamestate;
  uint8_t buffer[NetChannel::kMaxPayloadSize];
  BitMsg msg(buffer, sizeof(buffer));
  msg.writeByte(kMsgGamestate);
  msg.writeInt(slot.channel.reliableSequence);
  // The server id travels in the server information, so the client can name it back.
  KeyDict info;
  if (g_conVarSystem) {
    const KeyDict* exported = g_conVarSystem->exportToDict(0x400);
    if (exported)
      info = *exported;
  }
  char id[16];
  std::snprintf(id, sizeof(id), "%i", serverId);
  info.set("si_serverId", id);
  // The map the server runs, as it was started, whether or not "si_map" is a variable here.
  const char* map = serverInfo.getString("si_map", "");
  if (*map)
    info.set("si_map", map);
  msg.writeKeyDict(info);
  if (g_gameInterface)
    g_gameInterface->clientGameState(number);
  slot.channel.writeReliable(msg);
  serverTransmitMessage(msg, number);
}

void NetworkManager::serverSendSnapshot(int number) {
  ClientSlot& slot = clients[number];
  uint8_t buffer[NetChannel::kMaxPayloadSize];
  BitMsg msg(buffer, sizeof(buffer));
  msg.writeByte(kMsgSnapshot);
  msg.writeInt(slot.snapshotNumber);
  slot.channel.writeReliable(msg, 1024);
  // A zombie gets only the reliable block: its "disconnect" must still reach it.
  if (g_gameInterface && slot.state >= kSlotConnected)
    g_gameInterface->writeSnapshot(number, slot.snapshotNumber, &msg, &slot.snapshotWord, kMaxClients);
  ++slot.snapshotNumber;
  serverTransmitMessage(msg, number);
}

void NetworkManager::serverTransmitMessage(BitMsg& msg, int number) {
  ClientSlot& slot = clients[number];
  msg.writeByte(kMsgServerEnd);
  if (msg.isOverflowed())
    cmdPrintf("WARNING: message to client %i overflowed: not sent\n", number);
  else
    slot.channel.send(msg, *this);
  int next = NetChannel::packetCost(msg.getSize());
  if (slot.state != kSlotActive && next < kInactiveSendInterval)
    next = kInactiveSendInterval;
  slot.nextSendTime = time + next;
}

void NetworkManager::serverSendMessages() {
  for (int i = 0; i < kMaxClients; ++i) {
    ClientSlot& slot = clients[i];
    // The local player shares the process: nothing goes over the wire to it.
    if (slot.state == kSlotFree || i == localClientNumber || time < slot.nextSendTime)
      continue;
    if (slot.channel.unsentFragments) {
      slot.nextSendTime =
          time + NetChannel::packetCost(slot.channel.unsentLength - slot.channel.unsentFragmentStart);
      slot.channel.sendNextFragment(*this);
    } else {
      serverSendSnapshot(i);
    }
  }
}

void NetworkManager::serverSendReliableCommand(int number, const char* format, ...) {
  char text[NetChannel::kPacketBufferSize];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof(text), format, args);
  va_end(args);
  if (number >= 0 && number < kMaxClients) {
    slotSendReliableString(number, text);
    return;
  }
  for (int i = 0; i < kMaxClients; ++i) {
    if (clients[i].state > kSlotConnected)
      slotSendReliableString(i, text);
  }
}

bool NetworkManager::slotSendReliableString(int number, const char* text) {
  if (number < 0 || number >= kMaxClients)
    return false;
  return clients[number].channel.queueReliableString(text, kMsgReliableText);
}

void NetworkManager::serverDropClient(int number, const char* reason) {
  ClientSlot& slot = clients[number];
  if (slot.state == kSlotZombie)
    return;
  for (ChallengeRecord& entry : challenges) {
    if (NetAddress::compare(entry.address, slot.channel.remoteAddress)) {
      entry.connected = false;
      break;
    }
  }
  char text[1100];
  std::snprintf(text, sizeof(text), "print \"%s^7 %s\n\"", userName(slot), reason);
  for (int i = 0; i < kMaxClients; ++i) {
    if (clients[i].state > kSlotConnected)
      slotSendReliableString(i, text);
  }
  slot.state = kSlotZombie;
  if (g_gameInterface)
    g_gameInterface->clientDisconnected(number);
  serverSendReliableCommand(number, "disconnect \"%s\"", reason);
  slot.userInfo.clear();
}

void NetworkManager::serverFreeClient(int number) {
  if (number < 0 || number >= kMaxClients)
    return;
  ClientSlot& slot = clients[number];
  if (slot.state < kSlotConnected)
    return;
  slot.userInfo.clear();
  slot.state = kSlotZombie;
  if (g_gameInterface)
    g_gameInterface->clientDisconnected(number);
}

void NetworkManager::serverCheckTimeouts() {
  for (int i = 0; i < kMaxClients; ++i) {
    ClientSlot& slot = clients[i];
    // The local player is never silent: it lives in this process.
    if (i == localClientNumber || slot.state == kSlotFree)
      continue;
    if (slot.channel.lastReceiveTime > time)
      slot.channel.lastReceiveTime = time;
    const int silent = time - slot.channel.lastReceiveTime;
    if (slot.state == kSlotZombie && silent > kZombieTime) {
      slot.state = kSlotFree;
      slot.channel.reset();
    } else if (slot.state > kSlotZombie && silent > kSilentTime) {
      if (++slot.timeoutCount >= kTimeoutChecks) {
        serverDropClient(i, "timed out");
        slot.state = kSlotFree;
        slot.channel.reset();
      }
    } else {
      slot.timeoutCount = 0;
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Game messages and timing for the game module

namespace {

// Wraps a game message: type 3, its byte count, the bytes as a block, and an end byte.
bool wrapGameMessage(const BitMsg& msg, int endByte, BitMsg& out) {
  if (!msg.getData() || msg.isOverflowed())
    return false;
  const int size = msg.getSize();
  out.writeByte(kMsgGameMessage);
  out.writeInt(size);
  out.writeData(msg.getData(), size);
  out.writeByte(endByte);
  return !out.isOverflowed();
}

}  // namespace

bool NetworkManager::serverSendGameMessage(int client, const BitMsg& msg) {
  if (client == localClientNumber || client >= kMaxClients)
    return false;
  uint8_t buffer[NetChannel::kPacketBufferSize];
  BitMsg wrapped(buffer, sizeof(buffer));
  if (!wrapGameMessage(msg, kMsgServerEnd, wrapped))
    return false;
  bool result = false;
  for (int i = 0; i < kMaxClients; ++i) {
    if (clients[i].state <= kSlotZombie || i == localClientNumber)
      continue;
    if (client < 0 || client == i)
      result = clients[i].channel.queueReliable(wrapped);
  }
  return result;
}

void NetworkManager::serverSendGameMessageExcept(int client, const BitMsg& msg) {
  uint8_t buffer[NetChannel::kPacketBufferSize];
  BitMsg wrapped(buffer, sizeof(buffer));
  if (!wrapGameMessage(msg, kMsgServerEnd, wrapped))
    return;
  for (int i = 0; i < kMaxClients; ++i) {
    if (clients[i].state > kSlotZombie && i != client)
      clients[i].channel.queueReliable(wrapped);
  }
}

bool NetworkManager::clientSendGameMessage(const BitMsg& msg) {
  uint8_t buffer[NetChannel::kPacketBufferSize];
  BitMsg wrapped(buffer, sizeof(buffer));
  if (!wrapGameMessage(msg, kMsgClientEnd, wrapped))
    return false;
  if (localClientNumber >= 0 && localClientNumber < kMaxClients)
    return clients[localClientNumber].channel.queueReliable(wrapped);
  // A client of a remote server queues it on its own channel.
  if (networkFlag && !serverFlag && clientState >= kClientConnected)
    return channel.queueReliable(wrapped);
  return false;
}

int NetworkManager::getClientPacketInterval(int client) {
  return client >= 0 && client < kMaxClients ? clients[client].channel.packetInterval : 0;
}

int NetworkManager::getClientNextSendTime(int client) {
  return client >= 0 && client < kMaxClients ? clients[client].nextSendTime : 0;
}

int NetworkManager::getClientLastReceiveOffset(int client) {
  return client >= 0 && client < kMaxClients ? clients[client].channel.lastReceiveTime - time : 0;
}

int NetworkManager::getLocalNextSendTime() {
  if (localClientNumber >= 0 && localClientNumber < kMaxClients)
    return clients[localClientNumber].nextSendTime;
  return 0;
}

int NetworkManager::getLocalTimeSinceReceive() {
  if (localClientNumber >= 0 && localClientNumber < kMaxClients)
    return time - clients[localClientNumber].channel.lastReceiveTime;
  if (networkFlag && !serverFlag)
    return time - channel.lastReceiveTime;
  return 0;
}
