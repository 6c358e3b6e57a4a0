// The network manager's interface: the game module's slots first (in the import block's order),
// then what the engine core calls. One implementation, in network/networkmanager.*.
#pragma once

#include <cstdint>

struct UserCmd;
class BitMsg;
struct PlatformSockaddr;

// Four IPv4 bytes in network order and a port in host order; printed "%i.%i.%i.%i:%i".
struct NetAddress {
  static constexpr int kDefaultPort = 28050;

  uint8_t ip[4] = {};
  uint16_t port = 0;

  // Both return a static buffer that the next call of either overwrites.
  static const char* toString(const NetAddress& address);
  static const char* toStringNoPort(const NetAddress& address);
  static bool compareIP(const NetAddress& a, const NetAddress& b);
  static bool compare(const NetAddress& a, const NetAddress& b);
  // "host[:port]", at most 127 characters; a host starting with a digit is a dotted address,
  // any other is looked up by name. False for bad text or a failed look-up.
  static bool resolve(const char* text, NetAddress* address);
  // resolve, with port 0 turned into the default port.
  static bool parse(NetAddress* address, const char* text);
  // To and from the system's IPv4 socket address (family AF_INET, the port in network order
  // there); fromSockaddr is false for another family.
  static void toSockaddr(const NetAddress& address, PlatformSockaddr* out);
  static bool fromSockaddr(const PlatformSockaddr& in, NetAddress* address);
  // 127.0.0.1, or an address in the network of one of the recorded local addresses.
  static bool isLocal(const NetAddress& address);
};

class NetworkSystem {
 public:
  virtual ~NetworkSystem() = default;

  // Advances the network time by the step length, runs the client and (networked) server sides.
  virtual void frame(int milliseconds) = 0;
  // Game messages and timing for the game module. A build without a network manager answers 0.
  virtual bool serverSendGameMessage(int /*client*/, const BitMsg& /*msg*/) { return false; }
  virtual void serverSendGameMessageExcept(int /*client*/, const BitMsg& /*msg*/) {}
  virtual int getClientPacketInterval(int /*client*/) { return 0; }
  virtual int getClientNextSendTime(int /*client*/) { return 0; }
  virtual int getClientLastReceiveOffset(int /*client*/) { return 0; }
  virtual int getClientStatA(int /*client*/) { return 0; }
  virtual int getClientStatB(int /*client*/) { return 0; }
  virtual int getClientStatC(int /*client*/) { return 0; }
  virtual float getClientStatFloat(int /*client*/) { return 0.0f; }
  virtual bool clientSendGameMessage(const BitMsg& /*msg*/) { return false; }
  virtual int getLocalNextSendTime() { return 0; }
  virtual int getLocalTimeSinceReceive() { return 0; }
  virtual int getLocalStatA() { return 0; }
  virtual int getLocalStatB() { return 0; }
  virtual float getLocalStatFloat() { return 0.0f; }

  // The engine core's side.
  // The 32 user commands (one per client number) handed to each game step.
  virtual const UserCmd* getUserCmds() = 0;
  // Network time in milliseconds (the sum of the step lengths).
  virtual int getTime() = 0;
  // Reads one waiting packet into msg (over the caller's buffer, 16,384 bytes from the system
  // manager) and its sender; false when none waits.
  virtual bool getPacket(BitMsg& msg, NetAddress& from) = 0;
  // Hands a received packet to the server or client side.
  virtual void packetEvent(const NetAddress& from, BitMsg& msg) = 0;
};

inline NetworkSystem* g_networkSystem = nullptr;
