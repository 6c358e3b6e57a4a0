// Addresses, the UDP socket, the challenge table and the connectionless packets: packets outside
// any channel that carry one text command after the four marker bytes FF FF FF FF.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "lib/interface/cmdsystem.h"
#include "lib/interface/convarsystem.h"
#include "lib/str.h"
#include "network/networkmanager.h"
#include "platform/net.h"

namespace {

uint8_t s_localAddresses[NetworkManager::kMaxLocalAddresses][4];
int s_localAddressCount = 0;
bool s_pinned = false;
uint8_t s_pinnedAddress[4];

// The command text of a connectionless packet: raw bytes from the marker's end up to a zero byte
// or the packet's end, at most size - 1 of them. Leaves the read position after the terminator.
void readPacketText(BitMsg& msg, char* out, int size) {
  const BitMsg& in = msg;
  const uint8_t* data = in.getData();
  const int bytes = msg.getWriteBit() / 8;
  int at = msg.getReadBit() / 8;
  int n = 0;
  while (at < bytes && data[at] != 0) {
    if (n < size - 1)
      out[n++] = char(data[at]);
    ++at;
  }
  out[n] = '\0';
  msg.setReadBit((at < bytes ? at + 1 : bytes) * 8);
}

}  // namespace

const char* netEscapeText(const char* text, bool keepNewlines) {
  // Bytes from the wire reach the console and the terminal behind it: control bytes (an escape
  // sequence among them) and bytes above 0x7e are shown as \xNN, never written raw.
  static char out[1024];
  size_t n = 0;
  for (const unsigned char* c = reinterpret_cast<const unsigned char*>(text ? text : ""); *c && n + 5 < sizeof(out);
       ++c) {
    const bool plain = (*c >= 0x20 && *c < 0x7f) || (keepNewlines && (*c == '\n' || *c == '\t'));
    if (plain) {
      out[n++] = char(*c);
    } else {
      std::snprintf(out + n, sizeof(out) - n, "\\x%02x", *c);
      n += 4;
    }
  }
  out[n] = '\0';
  return out;
}

bool NetworkManager::allowConnectionlessLog(const NetAddress& from) {
  // Per sender a few lines a second, and at most kLogLinesPerSecond in all: a flood from one
  // address or from many leaves the log a bounded size. What was not shown is counted.
  const int window = time / 1000;
  if (window != logWindow_) {
    if (logSuppressed_ > 0)
      cmdPrintf("(%d connectionless packets not logged)\n", logSuppressed_);
    logWindow_ = window;
    logLines_ = 0;
    logSuppressed_ = 0;
    for (LogRecord& record : logRecords_)
      record.count = 0;
  }
  LogRecord* record = &logRecords_[(uint32_t(from.ip[0] ^ from.ip[1] * 7 ^ from.ip[2] * 31 ^ from.ip[3] * 131) ^
                                    uint32_t(from.port) * 2654435761u) >>
                                   26];
  if (!NetAddress::compare(record->address, from)) {
    record->address = from;
    record->count = 0;
  }
  if (record->count >= kLogLinesPerAddress || logLines_ >= kLogLinesPerSecond) {
    ++logSuppressed_;
    return false;
  }
  ++record->count;
  ++logLines_;
  return true;
}

void netPinSockets(const uint8_t* ip) {
  s_pinned = ip != nullptr;
  if (ip)
    std::memcpy(s_pinnedAddress, ip, 4);
}

void netSetLocalAddresses(const uint8_t (*addresses)[4], int count) {
  if (count > NetworkManager::kMaxLocalAddresses)
    count = NetworkManager::kMaxLocalAddresses;
  s_localAddressCount = count < 0 ? 0 : count;
  for (int i = 0; i < s_localAddressCount; ++i)
    std::memcpy(s_localAddresses[i], addresses[i], 4);
}

const char* NetAddress::toString(const NetAddress& a) {
  static char text[32];
  std::snprintf(text, sizeof(text), "%i.%i.%i.%i:%i", a.ip[0], a.ip[1], a.ip[2], a.ip[3], a.port);
  return text;
}

const char* NetAddress::toStringNoPort(const NetAddress& a) {
  static char text[32];
  std::snprintf(text, sizeof(text), "%i.%i.%i.%i", a.ip[0], a.ip[1], a.ip[2], a.ip[3]);
  return text;
}

bool NetAddress::compareIP(const NetAddress& a, const NetAddress& b) {
  return std::memcmp(a.ip, b.ip, 4) == 0;
}

bool NetAddress::compare(const NetAddress& a, const NetAddress& b) {
  return compareIP(a, b) && a.port == b.port;
}

void NetAddress::toSockaddr(const NetAddress& address, PlatformSockaddr* out) {
  platformSockaddrFromIPv4(out, address.ip, address.port);
}

bool NetAddress::fromSockaddr(const PlatformSockaddr& in, NetAddress* address) {
  NetAddress result;
  if (!platformSockaddrToIPv4(in, result.ip, &result.port))
    return false;
  *address = result;
  return true;
}

bool NetAddress::resolve(const char* text, NetAddress* address) {
  if (!text || !address)
    return false;
  // Bounded copy: at most 127 characters of the text count.
  char host[128];
  std::snprintf(host, sizeof(host), "%s", text);
  int port = 0;
  char* colon = std::strchr(host, ':');
  if (colon) {
    *colon = '\0';
    const char* digits = colon + 1;
    if (!*digits)
      return false;
    for (const char* c = digits; *c; ++c) {
      if (*c < '0' || *c > '9')
        return false;
      port = port * 10 + (*c - '0');
      if (port > 65535)
        return false;
    }
  }
  if (!host[0])
    return false;
  NetAddress result;
  if (host[0] >= '0' && host[0] <= '2') {
    if (!platformParseIPv4(host, result.ip))
      return false;
  } else if (!platformResolveIPv4(host, result.ip)) {
    return false;
  }
  result.port = uint16_t(port);
  *address = result;
  return true;
}

bool NetAddress::parse(NetAddress* address, const char* text) {
  if (!resolve(text, address))
    return false;
  if (address->port == 0)
    address->port = kDefaultPort;
  return true;
}

bool NetAddress::isLocal(const NetAddress& address) {
  const uint8_t* a = address.ip;
  if (a[0] == 127 && a[1] == 0 && a[2] == 0 && a[3] == 1)
    return true;
  for (int i = 0; i < s_localAddressCount; ++i) {
    const uint8_t* l = s_localAddresses[i];
    if (a[0] < 128) {
      if (a[0] == l[0])
        return true;
    } else if (a[0] < 192) {
      if (a[0] == l[0] && a[1] == l[1])
        return true;
      if (a[0] == 172 && l[0] == 172 && (a[1] & 0xf0) == 0x10 && (l[1] & 0xf0) == 0x10)
        return true;
    } else if (a[0] == l[0] && a[1] == l[1] && a[2] == l[2]) {
      return true;
    }
  }
  return false;
}

void NetworkManager::getLocalAddresses() {
  char name[256];
  if (!platformHostName(name, sizeof(name))) {
    cmdPrintf("WARNING: Could not acquire local machine name. (%s)\n", errorString());
    return;
  }
  uint8_t found[kMaxLocalAddresses][4];
  int count = platformLocalIPv4Addresses(found, kMaxLocalAddresses);
  if (count <= 0) {
    cmdPrintf("WARNING: Could not acquire local addresses. (%s)\n", errorString());
    return;
  }
  std::snprintf(hostName, sizeof(hostName), "%s", name);
  cmdPrintf("Hostname: %s\n", hostName);
  localAddressCount = count;
  for (int i = 0; i < count; ++i) {
    std::memcpy(localAddresses[i], found[i], 4);
    std::snprintf(localAddressText[i], sizeof(localAddressText[i]), "%i.%i.%i.%i", found[i][0], found[i][1],
                  found[i][2], found[i][3]);
    cmdPrintf("IP: %s\n", localAddressText[i]);
  }
  netSetLocalAddresses(localAddresses, localAddressCount);
}

const char* NetworkManager::errorString() {
  return platformNetErrorText();
}

bool NetworkManager::openSocket() {
  if (socket)
    return true;
  if (!winsockInitialised)
    return false;
  int kind = NetChannel::kClientSide;
  if (serverFlag) {
    for (int port = NetAddress::kDefaultPort; port < NetAddress::kDefaultPort + 5 && !socket; ++port)
      socket = platformUdpOpen(s_pinned ? s_pinnedAddress : nullptr, port);
    kind = NetChannel::kServerSide;
  } else {
    const char* localIp = g_conVarSystem ? g_conVarSystem->getString("net_localip") : "";
    uint8_t ip[4];
    // A socket bound to an interface's address talks to a loopback server from that address, and
    // the server answers from it too, not from the address the client asked: the handshake would
    // never be accepted. Loopback servers are reached from any address, which the kernel makes
    // 127.0.0.1.
    bool any = !localIp[0] || String::icmp(localIp, "localhost") == 0 || (networkFlag && serverAddress.ip[0] == 127);
    if (s_pinned)
      socket = platformUdpOpen(s_pinnedAddress, -1);
    else if (any || platformParseIPv4(localIp, ip))
      socket = platformUdpOpen(any ? nullptr : ip, -1);
  }
  if (!socket) {
    cmdPrintf("ERROR: Could not create socket! (%s)\n", errorString());
    return false;
  }
  // The real bound port: a client's qport and its own address must name the socket it uses, or
  // two clients on one machine would share one.
  if (!platformUdpLocalAddress(socket, ownAddress.ip, &ownAddress.port)) {
    cmdPrintf("ERROR: Could not create socket! (%s)\n", errorString());
    platformUdpClose(socket);
    socket = 0;
    return false;
  }
  if (g_conVarSystem)
    g_conVarSystem->setInt("net_port", ownAddress.port);
  channel.setup(kind, ownAddress, ownAddress.port);
  cmdPrintf("socket allocated on port %i\n", ownAddress.port);
  return true;
}

bool NetworkManager::getPacket(BitMsg& msg, NetAddress& from) {
  if ((!serverFlag && !networkFlag) || !socket)
    return false;
  uint8_t* buffer = msg.getData();
  if (!buffer)
    return false;
  const int capacity = msg.getMaxSize();
  // At most so many packets a game step: a flood waits in the socket's queue (and is dropped by
  // the system when that fills) instead of starving the frame.
  const int limit = conVarInt("net_maxPacketsPerFrame", kDefaultPacketsPerFrame);
  if (limit > 0 && packetsThisFrame >= limit)
    return false;
  // Skipped datagrams (bounced sends, oversize ones) are passed over, but only so many per call:
  // a flood of them must not keep the event pump here.
  for (int attempt = 0; attempt < 64; ++attempt) {
    PlatformSockaddr sender;
    int bytes = platformUdpReceiveFrom(socket, buffer, capacity, &sender);
    if (!NetAddress::fromSockaddr(sender, &from))
      from = NetAddress();
    if (bytes < 0) {
      PlatformNetError error = platformNetLastError();
      if (error == kPlatformNetWouldBlock)
        return false;
      if (error == kPlatformNetConnReset)
        continue;  // an earlier send bounced: look at the next datagram
      if (error == kPlatformNetMsgSize)
        cmdPrintf("WARNING: NetworkManager::getPacket : %s : Oversize packet from %s\n", errorString(),
                  NetAddress::toString(from));
      else
        cmdPrintf("ERROR: NetworkManager::getPacket : %s from %s\n", errorString(),
                  NetAddress::toString(from));
      return false;
    }
    // A datagram that fills the buffer may have been cut; one larger than it surely was.
    if (bytes >= capacity) {
      cmdPrintf("Oversize packet from %s\n", NetAddress::toString(from));
      continue;
    }
    msg.setReadBit(0);
    msg.setWriteBit(bytes * 8);
    ++packetsThisFrame;
    return true;
  }
  return false;
}

void NetworkManager::sendPacket(int length, const void* bytes, const NetAddress& to) {
  if ((!serverFlag && !networkFlag) || !socket)
    return;
  if (NetAddress::compare(to, ownAddress))
    return;
  PlatformSockaddr address;
  NetAddress::toSockaddr(to, &address);
  if (platformUdpSendTo(socket, bytes, length, address))
    return;
  PlatformNetError error = platformNetLastError();
  if (error == kPlatformNetWouldBlock)
    return;
  if (error == kPlatformNetAddrNotAvail)
    cmdPrintf("WARNING: NetworkManager::sendPacket : %s to %s\n", errorString(), NetAddress::toString(to));
  else
    cmdPrintf("ERROR: NetworkManager::sendPacket : %s to %s\n", errorString(), NetAddress::toString(to));
}

void NetworkManager::sendMessage(const BitMsg& msg, const NetAddress& to) {
  if (msg.getData() && !msg.isOverflowed())
    sendPacket(msg.getSize(), msg.getData(), to);
}

void NetworkManager::sendOOB(const NetAddress& to, const BitMsg& msg) {
  uint8_t buffer[NetChannel::kPacketBufferSize];
  const int size = msg.getSize();
  if (!msg.getData() || msg.isOverflowed() || size + 5 > int(sizeof(buffer)))
    return;
  std::memset(buffer, 0xff, 4);
  std::memcpy(buffer + 4, msg.getData(), size_t(size));
  buffer[4 + size] = 0;
  sendPacket(size + 5, buffer, to);
}

void NetworkManager::sendOOBPrint(const NetAddress& to, const char* format, ...) {
  char buffer[NetChannel::kPacketBufferSize];
  std::memset(buffer, 0xff, 4);
  va_list args;
  va_start(args, format);
  int length = std::vsnprintf(buffer + 4, sizeof(buffer) - 4, format, args);
  va_end(args);
  if (length < 0)
    return;
  if (length > int(sizeof(buffer)) - 5)
    length = int(sizeof(buffer)) - 5;
  sendPacket(length + 4, buffer, to);
}

bool NetworkManager::isConnectionless(const BitMsg& msg) {
  const uint8_t* data = msg.getData();
  return data && msg.getWriteBit() >= 32 && data[0] == 0xff && data[1] == 0xff && data[2] == 0xff &&
         data[3] == 0xff;
}

bool NetworkManager::allowHandshakeRequest(const NetAddress& from) {
  if (NetAddress::compare(from, ownAddress))
    return true;
  const int limit = conVarInt("net_sv_maxRequestsPerAddress", kDefaultRequestsPerAddress);
  if (limit <= 0)
    return true;
  // Counted per host (any port) in one-second windows of network time.
  RequestRecord& record =
      requestRecords_[(uint32_t(from.ip[0]) | uint32_t(from.ip[1]) << 8 | uint32_t(from.ip[2]) << 16 |
                       uint32_t(from.ip[3]) << 24) *
                          2654435761u >>
                      24];
  const int window = time / 1000;
  if (!NetAddress::compareIP(record.address, from) || record.window != window) {
    record.address = from;
    record.window = window;
    record.count = 0;
  }
  return ++record.count <= limit;
}

ChallengeRecord* NetworkManager::serverGetChallenge(const NetAddress& from) {
  ChallengeRecord* found = nullptr;
  ChallengeRecord* oldest = nullptr;
  bool oldestUnused = false;
  for (ChallengeRecord& entry : challenges) {
    if (!entry.connected && NetAddress::compare(entry.address, from)) {
      found = &entry;
      break;
    }
    // A recent challenge is kept for its client's connect: a flood of requests from other
    // addresses must not push it out. Connected entries are never reused.
    // Entries never handed out go first: at network time 0 a fresh entry is as "old" as they are.
    const bool unused = entry.challenge == 0 && entry.address.port == 0;
    if (entry.connected || (!unused && time - entry.time < kChallengeKeepTime))
      continue;
    if (!oldest || (unused && !oldestUnused) || (unused == oldestUnused && entry.time < oldest->time)) {
      oldest = &entry;
      oldestUnused = unused;
    }
  }
  if (!found) {
    if (!oldest) {
      // Every entry is held: this asker tries again in a moment (clients resend every 3000 ms).
      if (allowConnectionlessLog(from))
        cmdPrintf("%s: no free challenge, ignored\n", NetAddress::toString(from));
      return nullptr;
    }
    found = oldest;
    // Challenges must not be guessable from the time of asking.
    uint32_t random = 0;
    if (!platformRandomBytes(&random, sizeof(random)))
      random = uint32_t(NetChannel::clockMs()) * 2654435761u;
    found->time = time;
    found->firstTime = time;
    found->challenge = int32_t(random & 0x7fffffff) ^ time;
    if (found->challenge == 0)
      found->challenge = 1;
    found->address = from;
    found->connected = false;
  }
  found->pingTime = time;
  if (!NetAddress::compare(from, ownAddress))
    sendOOBPrint(from, "challengeResponse %i", found->challenge);
  return found;
}

void NetworkManager::serverConnectionlessPacket(const NetAddress& from, BitMsg& msg) {
  char text[NetChannel::kPacketBufferSize];
  msg.setReadBit(32);
  readPacketText(msg, text, sizeof(text));
  CmdArgs args;
  char* end = std::strpbrk(text, ";\n");
  if (end)
    *end = '\0';
  args.tokenize(text);
  const char* word = args.argv(0);
  if (allowConnectionlessLog(from))
    cmdPrintf("server packet %s : %s\n", NetAddress::toString(from), netEscapeText(word, false));
  const bool handshake = String::icmp(word, "getchallenge") == 0 || String::icmp(word, "connect") == 0;
  if (handshake && !allowHandshakeRequest(from)) {
    if (allowConnectionlessLog(from))
      cmdPrintf("%s: too many requests, ignored\n", NetAddress::toString(from));
    return;
  }
  if (String::icmp(word, "getchallenge") == 0) {
    serverGetChallenge(from);
  } else if (String::icmp(word, "connect") == 0) {
    serverDirectConnect(from, msg);
  } else if (String::icmp(word, "getstatus") == 0 || String::icmp(word, "getinfo") == 0 ||
             String::icmp(word, "disconnect") == 0) {
  } else if (allowConnectionlessLog(from)) {
    cmdPrintf("bad connectionless packet from %s:\n%s\n", NetAddress::toString(from), netEscapeText(word, false));
  }
}

void NetworkManager::clientConnectionlessPacket(const NetAddress& from, BitMsg& msg) {
  char text[NetChannel::kPacketBufferSize];
  msg.setReadBit(32);
  readPacketText(msg, text, sizeof(text));
  CmdArgs args;
  args.tokenize(text);
  const char* word = args.argv(0);
  // Only the server this client talks to (or last talked to) is heard, at its exact address and
  // port; a "connectResponse" may come from another port of it (a translated one). Anyone else's
  // answers, prints and echo requests are dropped, and logged only now and then.
  const bool fromServer = clientState != kClientNone && NetAddress::compare(from, serverAddress);
  const bool connectAnswer = String::icmp(word, "connectResponse") == 0 && clientState == kClientConnecting &&
                             NetAddress::compareIP(from, serverAddress);
  if (!fromServer && !connectAnswer) {
    if (allowConnectionlessLog(from))
      cmdPrintf("connectionless packet from %s ignored: %s\n", NetAddress::toString(from), netEscapeText(word, false));
    return;
  }
  cmdPrintf("client packet %s: %s\n", NetAddress::toString(from), netEscapeText(word, false));
  if (String::icmp(word, "challengeResponse") == 0) {
    if (clientState != kClientChallenging) {
      cmdPrintf("Unwanted challenge response received.  Ignored.\n");
    } else {
      challenge = std::atoi(args.argv(1));
      clientState = kClientConnecting;
      connectAttempts = 0;
      lastResendTime = -99999;
      serverAddress = from;
      cmdPrintf("challengeResponse: %d\n", challenge);
    }
  } else if (String::icmp(word, "connectResponse") == 0) {
    if (clientState >= kClientConnected) {
      cmdPrintf("Dup connect received.  Ignored.\n");
    } else if (clientState != kClientConnecting) {
      cmdPrintf("connectResponse packet while not connecting.  Ignored.\n");
    } else if (!NetAddress::compareIP(from, serverAddress)) {
      cmdPrintf("connectResponse from a different address.  Ignored.\n");
      cmdPrintf("%s should have been ", NetAddress::toString(from));
      cmdPrintf("%s\n", NetAddress::toString(serverAddress));
    } else {
      channel.setup(NetChannel::kClientSide, from, ownAddress.port);
      channel.lastReceiveTime = time;
      clientState = kClientConnected;
      lastSendTime = -9999;
      serverMessageNumber = 0;
      userCmdNumber = 0;
      std::memset(userCmdRing, 0, sizeof(userCmdRing));
      std::memset(packetRecords, 0, sizeof(packetRecords));
    }
  } else if (String::icmp(word, "infoResponse") == 0 || String::icmp(word, "statusResponse") == 0 ||
             String::icmpn(word, "getserversResponse", 18) == 0) {
  } else if (String::icmp(word, "disconnect") == 0) {
    clientServerDisconnected(from);
  } else if (String::icmp(word, "echo") == 0) {
    sendOOBPrint(from, "%s", args.argv(1));
  } else if (String::icmp(word, "print") == 0) {
    // Servers send the text inside the command string ("print\n..."); a second string, when
    // one follows, is printed too.
    const char* rest = text + 5;
    while (*rest == ' ' || *rest == '\n')
      ++rest;
    if (*rest)
      cmdPrintf("%s", netEscapeText(rest, true));
    char second[NetChannel::kPacketBufferSize];
    readPacketText(msg, second, sizeof(second));
    if (second[0])
      cmdPrintf("%s", netEscapeText(second, true));
    // The server no longer holds our challenge (it expired or was spent): ask for a new one
    // rather than resending the stale one for ever.
    if (clientState == kClientConnecting && std::strstr(rest, "No or bad challenge")) {
      cmdPrintf("Asking %s for a new challenge.\n", NetAddress::toString(serverAddress));
      clientState = kClientChallenging;
      connectAttempts = 0;
      lastResendTime = -9999;
    }
  } else {
    cmdPrintf("Unknown connectionless packet command.\n");
  }
}
