// Fuzzes connectionless packets as both dispatchers take them: the first input byte picks the
// server or the client side (and the client's handshake state), the rest follows the four marker
// bytes. A challenge of 1234 is on record for the sender, so "connect" dictionaries get past the
// challenge check into slot allocation and the game's hooks. No socket: nothing is sent.
#include <cstdint>
#include <cstring>
#include <vector>

#include "lib/keydict.h"
#include "network/networkmanager.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

fuzz::QuietCmdSystem g_quiet;

NetworkManager* manager() {
  static NetworkManager* m = [] {
    g_cmdSystem = &g_quiet;
    KeyDict::initPools();
    NetworkManager* created = new NetworkManager;
    created->init();
    return created;
  }();
  return m;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  g_cmdSystem = &g_quiet;
  NetworkManager* m = manager();
  fuzz::ByteReader in(data, size);
  const uint8_t choice = in.byte();
  NetAddress from;
  from.ip[0] = 127;
  from.ip[3] = 1;
  from.port = uint16_t(40000 + (choice >> 4));

  std::vector<uint8_t> packet(4, 0xff);
  packet.insert(packet.end(), in.rest(), in.rest() + in.restSize());
  static uint8_t buffer[16384];
  if (packet.size() > sizeof(buffer) - 1)
    packet.resize(sizeof(buffer) - 1);
  std::memcpy(buffer, packet.data(), packet.size());
  BitMsg msg(buffer, sizeof(buffer));
  msg.setWriteBit(int(packet.size()) * 8);

  if (choice & 1) {
    m->serverFlag = true;
    m->networkFlag = true;
    if (ChallengeRecord* entry = m->serverGetChallenge(from))
      entry->challenge = 1234;
    m->packetEvent(from, msg);
    // Keep the slots from filling up over a run: every connect starts from an empty server.
    for (int i = 0; i < NetworkManager::kMaxClients; ++i)
      if (m->clients[i].state != kSlotFree) {
        m->serverDropClient(i, "fuzz");
        m->clients[i].state = kSlotFree;
      }
    // Later inputs come well past the reconnect limit; the clock wraps long before int32 does.
    m->time = m->time > (1 << 30) ? 0 : m->time + 10000;
  } else {
    static const int states[] = {kClientDisconnected, kClientChallenging, kClientConnecting, kClientActive};
    m->serverFlag = false;
    m->networkFlag = true;
    m->clientState = states[(choice >> 1) & 3];
    m->serverAddress = from;
    m->channel.remoteAddress = from;
    m->packetEvent(from, msg);
  }
  return 0;
}
