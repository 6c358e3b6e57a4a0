// Fuzzes sequenced packets through the channel into the message readers: the server's reading of
// a client message (reliable block, text commands, user commands) and the client's reading of
// gamestates and snapshots. The first input byte says which side reads, and whether the sequence
// number, channel id and qport are patched to pass the channel so the fuzzer reaches the readers.
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

void put32(std::vector<uint8_t>& p, size_t at, uint32_t value) {
  for (int i = 0; i < 4 && at + size_t(i) < p.size(); ++i)
    p[at + size_t(i)] = uint8_t(value >> (8 * i));
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
  from.port = 40000;
  const int qport = 40000;

  std::vector<uint8_t> packet(in.rest(), in.rest() + in.restSize());
  if (packet.size() > 16000)
    packet.resize(16000);
  const bool serverSide = choice & 1;
  NetChannel& channel = serverSide ? m->clients[3].channel : m->channel;
  if (serverSide) {
    m->serverFlag = true;
    m->networkFlag = true;
    m->serverId = m->firstServerId = 77;
    m->clients[3].state = (choice & 0x10) ? kSlotActive : kSlotGamestate;
    m->clients[3].gamestateMessage = 5;
    channel.setup(NetChannel::kServerSide, from, qport);
    channel.incomingSequence = 10;
    channel.reliableSequence = 3;
    channel.reliableAcknowledge = 1;
  } else {
    m->serverFlag = false;
    m->networkFlag = true;
    m->clientState = (choice & 0x10) ? kClientActive : kClientConnected;
    channel.setup(NetChannel::kClientSide, from, qport);
    channel.incomingSequence = 10;
    channel.channelId = 99;
    channel.reliableSequence = 2;
  }
  if (choice & 2)
    put32(packet, 0, uint32_t(channel.incomingSequence + 1 + (choice >> 5)) | (choice & 8 ? 0x80000000u : 0));
  if (choice & 4)
    put32(packet, 4, uint32_t(channel.channelId));
  if (serverSide && (choice & 2) && packet.size() >= 10) {
    packet[8] = uint8_t(qport);
    packet[9] = uint8_t(qport >> 8);
  }
  static uint8_t buffer[16384];
  if (!packet.empty())
    std::memcpy(buffer, packet.data(), packet.size());
  BitMsg msg(buffer, sizeof(buffer));
  msg.setWriteBit(int(packet.size()) * 8);
  m->packetEvent(from, msg);
  if (m->clients[3].state != kSlotFree)
    m->clients[3].userInfo.clear();
  return 0;
}
