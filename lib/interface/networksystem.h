// The network manager's interface, as far as the engine core calls it; the
// network subsystem extends it. Absent (null) until that subsystem is built.
#pragma once

#include <cstdint>

struct UserCmd;

// Four IPv4 bytes and a port; printed "%i.%i.%i.%i:%i".
struct NetAddress {
  uint8_t ip[4] = {};
  uint16_t port = 0;
};

class NetworkSystem {
 public:
  virtual ~NetworkSystem() = default;

  // Advances the network time by the step length, sends and times out.
  virtual void frame(int milliseconds) = 0;
  // The 32 user commands (one per client number) handed to each game step.
  virtual const UserCmd* getUserCmds() = 0;
  // Network time in milliseconds (the sum of the step lengths).
  virtual int getTime() = 0;
  // Reads one waiting packet's payload into the caller's buffer (16,384
  // bytes from the system manager); the payload length, 0 when none waits.
  // The network side wraps buffers in its bit messages itself.
  virtual int getPacket(void* buffer, int capacity, NetAddress* from) = 0;
  // Hands a received packet's payload to the server or client side.
  virtual void packetEvent(const NetAddress& from, const void* payload, int length) = 0;
};

inline NetworkSystem* g_networkSystem = nullptr;
