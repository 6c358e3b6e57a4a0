// A server's game step under a flood of garbage on 127.0.0.1: one client plays while a stranger
// sends 0, 10,000 or 100,000 packets per second of network time (random bytes, and
// connectionless commands with escape bytes). Each iteration is one 16 ms step: the stranger's
// share is sent, then the server reads what its frame allows and runs the step; the client does
// its step outside the timing. Figures: the server's time per step (median over repetitions).
// Run: netserver_bench --benchmark_repetitions=9 --benchmark_enable_random_interleaving=true
//        --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "lib/interface/cmdsystem.h"
#include "lib/interface/gameinterface.h"
#include "lib/keydict.h"
#include "network/networkmanager.h"
#include "platform/net.h"
#include "tests/network/support/netfakes.h"
#include "tests/support/nullgame.h"

namespace {

const uint8_t kLoopback[4] = {127, 0, 0, 1};

void BM_ServerStepUnderFlood(benchmark::State& state) {
  KeyDict::initPools();
  NullGame game;
  GameInterface* previous = g_gameInterface;
  g_gameInterface = &game;
  std::unique_ptr<NetworkManager> server = makeManager();
  std::unique_ptr<NetworkManager> client = makeManager();
  PlatformSocket stranger = platformUdpOpen(kLoopback, -1);
  if (!startServer(*server, 99) || !stranger) {
    state.SkipWithError("no loopback sockets");
    g_gameInterface = previous;
    return;
  }
  CmdArgs args;
  args.tokenize(("connect 127.0.0.1:" + std::to_string(server->ownAddress.port)).c_str());
  client->connectToServer(args);
  // Both ends in play: the server has taken the client's acknowledgement of the gamestate.
  for (int i = 0; i < 1000 && (client->clientState != kClientActive || server->clients[0].state != kSlotActive); ++i) {
    client->frame(16);
    server->frame(16);
    pump(*server);
    pump(*client);
  }
  if (server->clients[0].state != kSlotActive) {
    state.SkipWithError("the client did not connect");
    g_gameInterface = previous;
    return;
  }
  const int perStep = int(state.range(0) * 16 / 1000);
  std::mt19937 random(47);
  std::vector<uint8_t> packet;
  int snapshots = client->snapshotsReceived;
  for (auto _ : state) {
    state.PauseTiming();
    for (int i = 0; i < perStep; ++i) {
      if (random() % 2) {
        packet.assign(4 + random() % 60, 0);
        for (uint8_t& b : packet)
          b = uint8_t(random());
      } else {
        const std::string text = std::string("\xff\xff\xff\xff") + "getchallenge\x1b[2J";
        packet.assign(text.begin(), text.end());
      }
      platformUdpSend(stranger, packet.data(), int(packet.size()), kLoopback, server->ownAddress.port);
    }
    client->frame(16);
    pump(*client);
    state.ResumeTiming();
    pump(*server);
    server->frame(16);
  }
  state.counters["snapshots/step"] =
      double(client->snapshotsReceived - snapshots) / double(state.iterations() ? state.iterations() : 1);
  platformUdpClose(stranger);
  client.reset();
  server.reset();
  g_gameInterface = previous;
}
BENCHMARK(BM_ServerStepUnderFlood)->Arg(0)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond);

}  // namespace
