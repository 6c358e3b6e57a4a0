// Bit-message throughput in Mbit/s (values of 1 to 32 bits written and read over a 16 KB packet
// buffer) against a plain memcpy of the same bytes, and delta user-command coding in ns.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "lib/interface/usercmd.h"
#include "network/bitmsg.h"

namespace {

constexpr int kBufferBytes = 16384;

// Values of the given width that fill most of the buffer.
int valueCount(int bits) {
  return (kBufferBytes - 8) * 8 / bits;
}

void setMbits(benchmark::State& state, double bitsPerIteration) {
  state.counters["Mbit/s"] =
      benchmark::Counter(bitsPerIteration * double(state.iterations()) / 1e6, benchmark::Counter::kIsRate);
}

void BM_BitMsgWrite(benchmark::State& state) {
  const int bits = int(state.range(0));
  const int count = valueCount(bits);
  std::vector<uint8_t> buffer(kBufferBytes);
  BitMsg msg(buffer.data(), kBufferBytes);
  for (auto _ : state) {
    msg.setWriteBit(0);
    for (int i = 0; i < count; ++i) {
      msg.writeBits(i & 1, bits);
    }
    benchmark::DoNotOptimize(buffer.data());
    benchmark::ClobberMemory();
  }
  setMbits(state, double(count) * bits);
}
BENCHMARK(BM_BitMsgWrite)->Arg(1)->Arg(7)->Arg(8)->Arg(13)->Arg(32);

void BM_BitMsgRead(benchmark::State& state) {
  const int bits = int(state.range(0));
  const int count = valueCount(bits);
  std::vector<uint8_t> buffer(kBufferBytes);
  BitMsg msg(buffer.data(), kBufferBytes);
  for (int i = 0; i < count; ++i) {
    msg.writeBits(int32_t(uint32_t(i) * 2654435761u & ((bits == 32 ? 0u : 1u << bits) - 1u)), bits);
  }
  int32_t sum = 0;
  for (auto _ : state) {
    msg.setReadBit(0);
    for (int i = 0; i < count; ++i) {
      sum += msg.readBits(bits);
    }
    benchmark::DoNotOptimize(sum);
  }
  setMbits(state, double(count) * bits);
}
BENCHMARK(BM_BitMsgRead)->Arg(1)->Arg(7)->Arg(8)->Arg(13)->Arg(32);

// The same bytes as BM_BitMsgWrite(32) moved by memcpy.
void BM_Memcpy(benchmark::State& state) {
  const int bytes = valueCount(32) * 4;
  std::vector<uint8_t> from(static_cast<size_t>(bytes), 0x5a);
  std::vector<uint8_t> to(static_cast<size_t>(bytes));
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), size_t(bytes));
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
  }
  setMbits(state, double(bytes) * 8);
}
BENCHMARK(BM_Memcpy);

// Kind 0: a command one step after its base (27 bits); kind 1: a 16 ms step with a turn and the
// next sequence number; kind 2: every field changed (266 bits).
void commands(int kind, UserCmd& base, UserCmd& cmd) {
  std::memset(&base, 0, sizeof(base));
  base.time = 16000;
  base.frame = 1000;
  base.sequence = 1000;
  cmd = base;
  cmd.time += 15;
  cmd.frame += 1;
  if (kind >= 1) {
    cmd.time += 1;
    cmd.sequence += 1;
    cmd.angles[1] = 1234;
  }
  if (kind == 2) {
    cmd.time = 3;
    cmd.frame = 100000;
    cmd.reserved = 9;
    cmd.angles[0] = -300;
    cmd.angles[2] = 5;
    cmd.forward = -127;
    cmd.right = 127;
    cmd.up = 127;
    cmd.buttons = 5;
    cmd.cursorX = 320;
    cmd.cursorY = 240;
    cmd.impulse = 3;
    cmd.impulseFlags = 1;
  }
}

void BM_WriteDeltaUserCmd(benchmark::State& state) {
  UserCmd base, cmd;
  commands(int(state.range(0)), base, cmd);
  uint8_t buffer[64];
  BitMsg msg(buffer, sizeof(buffer));
  for (auto _ : state) {
    msg.setWriteBit(0);
    msg.writeDeltaUserCmd(base, cmd);
    benchmark::DoNotOptimize(buffer);
    benchmark::ClobberMemory();
  }
  state.counters["bits"] = double(msg.getWriteBit());
}
BENCHMARK(BM_WriteDeltaUserCmd)->Arg(0)->Arg(1)->Arg(2);

void BM_ReadDeltaUserCmd(benchmark::State& state) {
  UserCmd base, cmd;
  commands(int(state.range(0)), base, cmd);
  uint8_t buffer[64];
  BitMsg msg(buffer, sizeof(buffer));
  msg.writeDeltaUserCmd(base, cmd);
  UserCmd out;
  for (auto _ : state) {
    msg.setReadBit(0);
    msg.readDeltaUserCmd(base, out);
    benchmark::DoNotOptimize(out);
  }
}
BENCHMARK(BM_ReadDeltaUserCmd)->Arg(0)->Arg(1)->Arg(2);

}  // namespace
