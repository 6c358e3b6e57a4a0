// Channel traffic over real UDP sockets on 127.0.0.1 against ENet sending the same messages:
// each batch is 16 reliable 100-byte messages, 48 unreliable 300-byte messages and one 4000-byte
// message cut into fragments. The receiver acknowledges as it goes; a batch ends when everything
// arrived. Figures: messages per second and payload MB/s.
// A second pair sends fragmented messages alone, against ENet's reliable channel.
// Run: netchannel_bench --benchmark_repetitions=9 --benchmark_enable_random_interleaving=true
//        --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>
#include <enet/enet.h>

#include <cstring>
#include <ctime>
#include <memory>
#include <vector>

#include "lib/keydict.h"
#include "network/netchannel.h"
#include "platform/net.h"

namespace {

constexpr int kReliablePerBatch = 16;
constexpr int kReliableBytes = 100;
constexpr int kUnreliablePerBatch = 48;
constexpr int kUnreliableBytes = 300;
constexpr int kFragmentedBytes = 4000;
constexpr int kMessagesPerBatch = kReliablePerBatch + kUnreliablePerBatch + 1;
constexpr double kBytesPerBatch =
    kReliablePerBatch * kReliableBytes + kUnreliablePerBatch * kUnreliableBytes + kFragmentedBytes;
const uint8_t kLoopback[4] = {127, 0, 0, 1};

// The figures of a run that sent `perBatch` messages a batch and saw `messages` arrive.
void setRates(benchmark::State& state, double messages, double bytes, int perBatch) {
  state.counters["msgs/s"] = benchmark::Counter(messages, benchmark::Counter::kIsRate);
  state.counters["MB/s"] = benchmark::Counter(bytes / 1e6, benchmark::Counter::kIsRate);
  state.counters["lost"] = double(state.iterations()) * perBatch - messages;
}

// ---------------------------------------------------------------------------------------------
// Our channel

class SocketSender : public PacketSender {
 public:
  explicit SocketSender(PlatformSocket socket) : socket_(socket) {}
  void sendPacket(int length, const void* bytes, const NetAddress& to) override {
    platformUdpSend(socket_, bytes, length, to.ip, to.port);
  }

 private:
  PlatformSocket socket_;
};

struct End {
  PlatformSocket socket = 0;
  NetAddress address;
  std::unique_ptr<NetChannel> channel = std::make_unique<NetChannel>();
  ~End() {
    if (socket)
      platformUdpClose(socket);
  }
};

// The two ends of one channel on loopback sockets: `a` the client side, `b` the server side.
bool openChannel(End& a, End& b) {
  KeyDict::initPools();
  a.socket = platformUdpOpen(kLoopback, -1);
  b.socket = platformUdpOpen(kLoopback, -1);
  if (!a.socket || !b.socket)
    return false;
  platformUdpLocalAddress(a.socket, a.address.ip, &a.address.port);
  platformUdpLocalAddress(b.socket, b.address.ip, &b.address.port);
  b.channel->setup(NetChannel::kServerSide, a.address, a.address.port);
  a.channel->setup(NetChannel::kClientSide, b.address, a.address.port);
  a.channel->channelId = b.channel->channelId;
  return true;
}

// What arrived of a batch.
struct Counts {
  int reliable = 0;
  int unreliable = 0;
  int fragmented = 0;
  bool wholeBatch() const {
    return reliable >= kReliablePerBatch && unreliable + fragmented >= kUnreliablePerBatch + 1;
  }
  int messages() const { return reliable + unreliable + fragmented; }
  double bytes() const {
    return reliable * kReliableBytes + unreliable * kUnreliableBytes + fragmented * kFragmentedBytes;
  }
};

bool countReliable(void* context, BitMsg&) {
  ++static_cast<Counts*>(context)->reliable;
  return true;
}

// Reads every waiting packet of one end; the receiver counts messages, the sender takes acks.
int drain(End& end, Counts* counts) {
  static uint8_t buffer[NetChannel::kMaxMessageSize];
  int packets = 0;
  for (;;) {
    NetAddress from;
    int bytes = platformUdpReceive(end.socket, buffer, sizeof(buffer), from.ip, &from.port);
    if (bytes <= 0 || bytes >= int(sizeof(buffer)))
      return packets;
    ++packets;
    BitMsg msg(buffer, sizeof(buffer));
    msg.setWriteBit(bytes * 8);
    if (!end.channel->process(msg))
      continue;
    Counts ignored;
    end.channel->readReliable(msg, countReliable, counts ? counts : &ignored);
    if (!counts)
      continue;
    const int kind = msg.readByte();
    if (kind == 1)
      ++counts->unreliable;
    else if (kind == 2)
      ++counts->fragmented;
  }
}

void BM_NetChannel(benchmark::State& state) {
  End a;  // sender (client side)
  End b;  // receiver (server side)
  if (!openChannel(a, b)) {
    state.SkipWithError("no loopback sockets");
    return;
  }
  SocketSender toB(a.socket);
  SocketSender toA(b.socket);
  std::vector<uint8_t> payload(kFragmentedBytes, 0x5a);
  std::vector<uint8_t> buffer(NetChannel::kMaxPayloadSize);
  double delivered = 0;
  double bytes = 0;
  int32_t acknowledged = 0;
  for (auto _ : state) {
    Counts counts;
    for (int i = 0; i < kReliablePerBatch; ++i) {
      BitMsg reliable(buffer.data(), kReliableBytes);
      reliable.setWriteBit((kReliableBytes - 1) * 8);
      while (!a.channel->queueReliable(reliable))
        drain(a, nullptr);
    }
    for (int i = 0; i <= kUnreliablePerBatch; ++i) {
      const bool fragmented = i == kUnreliablePerBatch;
      BitMsg msg(buffer.data(), int(buffer.size()));
      a.channel->writeReliable(msg);
      msg.writeByte(fragmented ? 2 : 1);
      msg.writeData(payload.data(), fragmented ? kFragmentedBytes : kUnreliableBytes);
      a.channel->send(msg, toB);
      while (a.channel->unsentFragments)
        a.channel->sendNextFragment(toB);
      // The receiver reads after the first message and then every eighth, and acknowledges
      // reliable messages it has not acknowledged yet (unreliable ones need no answer).
      if (i == 0 || i % 8 == 7 || fragmented) {
        drain(b, &counts);
        if (b.channel->reliableReceived != acknowledged) {
          acknowledged = b.channel->reliableReceived;
          uint8_t ackBuffer[64];
          BitMsg ack(ackBuffer, sizeof(ackBuffer));
          b.channel->writeReliable(ack);
          b.channel->send(ack, toA);
          drain(a, nullptr);
        }
      }
    }
    for (int idle = 0; idle < 1000 && !counts.wholeBatch(); ++idle)
      drain(b, &counts);
    delivered += counts.messages();
    bytes += counts.bytes();
  }
  setRates(state, delivered, bytes, kMessagesPerBatch);
}
BENCHMARK(BM_NetChannel)->Unit(benchmark::kMicrosecond)->UseRealTime();

// ---------------------------------------------------------------------------------------------
// ENet, the same batches: reliable on channel 0, unreliable on channel 1, the large one as an
// unreliable fragmented packet.

// A client connected to a server over loopback.
struct ENetLink {
  ENetHost* server = nullptr;
  ENetHost* client = nullptr;
  ENetPeer* peer = nullptr;
  ENetEvent event;

  // Null once connected with `channels` channels, else what failed.
  const char* open(size_t channels) {
    static const bool initialised = enet_initialize() == 0;
    if (!initialised)
      return "enet_initialize failed";
    ENetAddress address;
    enet_address_set_host(&address, "127.0.0.1");
    address.port = 0;
    server = enet_host_create(&address, 1, channels, 0, 0);
    client = enet_host_create(nullptr, 1, channels, 0, 0);
    if (!server || !client)
      return "enet_host_create failed";
    ENetAddress bound;
    enet_socket_get_address(server->socket, &bound);
    enet_address_set_host(&bound, "127.0.0.1");
    peer = enet_host_connect(client, &bound, channels, 0);
    bool connected = false;
    for (int i = 0; i < 2000 && !connected; ++i) {
      enet_host_service(server, &event, 1);
      while (enet_host_service(client, &event, 0) > 0)
        connected = connected || event.type == ENET_EVENT_TYPE_CONNECT;
    }
    return connected ? nullptr : "enet did not connect";
  }
  // Every packet waiting for the server, handed to `received` (packet, channel) and freed.
  template <typename Received>
  void serviceServer(Received received) {
    while (enet_host_service(server, &event, 0) > 0) {
      if (event.type != ENET_EVENT_TYPE_RECEIVE)
        continue;
      received(*event.packet, int(event.channelID));
      enet_packet_destroy(event.packet);
    }
  }
  // Whatever waits for the client (the server's acknowledgements).
  void serviceClient() {
    while (enet_host_service(client, &event, 0) > 0) {
    }
  }
  ~ENetLink() {
    if (peer)
      enet_peer_reset(peer);
    if (client)
      enet_host_destroy(client);
    if (server)
      enet_host_destroy(server);
  }
};

void BM_ENet(benchmark::State& state) {
  ENetLink link;
  if (const char* error = link.open(2)) {
    state.SkipWithError(error);
    return;
  }
  std::vector<uint8_t> payload(kFragmentedBytes, 0x5a);
  double delivered = 0;
  double bytes = 0;
  auto serviceServer = [&](Counts& counts) {
    link.serviceServer([&](const ENetPacket& packet, int channel) {
      if (channel == 0)
        ++counts.reliable;
      else if (packet.dataLength == size_t(kFragmentedBytes))
        ++counts.fragmented;
      else
        ++counts.unreliable;
    });
  };
  for (auto _ : state) {
    Counts counts;
    for (int i = 0; i < kReliablePerBatch; ++i)
      enet_peer_send(link.peer, 0,
                     enet_packet_create(payload.data(), kReliableBytes, ENET_PACKET_FLAG_RELIABLE));
    for (int i = 0; i <= kUnreliablePerBatch; ++i) {
      const bool fragmented = i == kUnreliablePerBatch;
      enet_peer_send(link.peer, 1,
                     enet_packet_create(payload.data(), fragmented ? kFragmentedBytes : kUnreliableBytes,
                                        fragmented ? ENET_PACKET_FLAG_UNRELIABLE_FRAGMENT : 0));
      enet_host_flush(link.client);
      if (i % 8 == 7 || fragmented) {
        serviceServer(counts);
        link.serviceClient();
      }
    }
    for (int idle = 0; idle < 1000 && !counts.wholeBatch(); ++idle) {
      enet_host_flush(link.client);
      serviceServer(counts);
      link.serviceClient();
    }
    delivered += counts.messages();
    bytes += counts.bytes();
  }
  setRates(state, delivered, bytes, kMessagesPerBatch);
}
BENCHMARK(BM_ENet)->Unit(benchmark::kMicrosecond)->UseRealTime();

// ---------------------------------------------------------------------------------------------
// Fragmented messages alone: 8 messages of 6000 bytes a batch (five pieces each on our channel),
// against ENet's reliable channel cutting the same messages. The receiver reads after each message.
// Figures: messages per second, payload MB/s and the process's CPU microseconds per message
// (both ends run in this process).

constexpr int kBigPerBatch = 8;
constexpr int kBigBytes = 6000;

void setCpuPerMessage(benchmark::State& state, std::clock_t cpu, double messages) {
  state.counters["cpu_us/msg"] = messages > 0 ? double(cpu) * 1e6 / CLOCKS_PER_SEC / messages : 0.0;
}

void BM_NetChannelFragmented(benchmark::State& state) {
  End a;
  End b;
  if (!openChannel(a, b)) {
    state.SkipWithError("no loopback sockets");
    return;
  }
  SocketSender toB(a.socket);
  std::vector<uint8_t> payload(kBigBytes, 0x5a);
  std::vector<uint8_t> buffer(NetChannel::kMaxPayloadSize);
  double delivered = 0;
  const std::clock_t cpuStart = std::clock();
  for (auto _ : state) {
    Counts counts;
    for (int i = 0; i < kBigPerBatch; ++i) {
      BitMsg msg(buffer.data(), int(buffer.size()));
      a.channel->writeReliable(msg);
      msg.writeByte(2);
      msg.writeData(payload.data(), kBigBytes);
      a.channel->send(msg, toB);
      while (a.channel->unsentFragments)
        a.channel->sendNextFragment(toB);
      drain(b, &counts);
    }
    for (int idle = 0; idle < 1000 && counts.fragmented < kBigPerBatch; ++idle)
      drain(b, &counts);
    delivered += counts.fragmented;
  }
  setRates(state, delivered, delivered * kBigBytes, kBigPerBatch);
  setCpuPerMessage(state, std::clock() - cpuStart, delivered);
}
BENCHMARK(BM_NetChannelFragmented)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_ENetReliableFragmented(benchmark::State& state) {
  ENetLink link;
  if (const char* error = link.open(1)) {
    state.SkipWithError(error);
    return;
  }
  std::vector<uint8_t> payload(kBigBytes, 0x5a);
  double delivered = 0;
  auto serviceServer = [&](int& received) {
    link.serviceServer(
        [&](const ENetPacket& packet, int) { received += packet.dataLength == size_t(kBigBytes) ? 1 : 0; });
  };
  const std::clock_t cpuStart = std::clock();
  for (auto _ : state) {
    int received = 0;
    for (int i = 0; i < kBigPerBatch; ++i) {
      enet_peer_send(link.peer, 0, enet_packet_create(payload.data(), kBigBytes, ENET_PACKET_FLAG_RELIABLE));
      enet_host_flush(link.client);
      serviceServer(received);
      link.serviceClient();
    }
    for (int idle = 0; idle < 1000 && received < kBigPerBatch; ++idle) {
      enet_host_flush(link.client);
      serviceServer(received);
      link.serviceClient();
    }
    delivered += received;
  }
  setRates(state, delivered, delivered * kBigBytes, kBigPerBatch);
  setCpuPerMessage(state, std::clock() - cpuStart, delivered);
}
BENCHMARK(BM_ENetReliableFragmented)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace
