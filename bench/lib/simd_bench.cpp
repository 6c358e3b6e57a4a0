// Block copies and fills of the processors against the runtime's memcpy and
// memset, 16 bytes to 4 MiB (source and destination 8-byte aligned).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "lib/simd.h"

namespace {

struct Buffers {
  std::vector<unsigned char> src, dst;
  explicit Buffers(size_t n) : src(n + 64, 1), dst(n + 64, 0) {}
};

SIMD_Generic s_generic;
SIMD_MMX s_mmx(0x10);
SIMD_3DNow s_3dnow(0x30);

void copyArgs(benchmark::internal::Benchmark* b) {
  b->RangeMultiplier(4)->Range(16, 4 << 20);
}

void BM_Memcpy(benchmark::State& state) {
  size_t n = size_t(state.range(0));
  Buffers b(n);
  for (auto _ : state) {
    std::memcpy(b.dst.data(), b.src.data(), n);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(n));
}
BENCHMARK(BM_Memcpy)->Apply(copyArgs);

void BM_Copy(benchmark::State& state, SIMD_Processor* P) {
  size_t n = size_t(state.range(0));
  Buffers b(n);
  for (auto _ : state) {
    P->memcpy(b.dst.data(), b.src.data(), n);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(n));
}
BENCHMARK_CAPTURE(BM_Copy, SIMD_Generic, &s_generic)->Apply(copyArgs);
BENCHMARK_CAPTURE(BM_Copy, SIMD_MMX, &s_mmx)->Apply(copyArgs);
BENCHMARK_CAPTURE(BM_Copy, SIMD_3DNow, &s_3dnow)->Apply(copyArgs);

void BM_Memset(benchmark::State& state) {
  size_t n = size_t(state.range(0));
  Buffers b(n);
  for (auto _ : state) {
    std::memset(b.dst.data(), 0x5A, n);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(n));
}
BENCHMARK(BM_Memset)->Apply(copyArgs);

void BM_Fill(benchmark::State& state, SIMD_Processor* P) {
  size_t n = size_t(state.range(0));
  Buffers b(n);
  for (auto _ : state) {
    P->memset(b.dst.data(), 0x5A, n);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(n));
}
BENCHMARK_CAPTURE(BM_Fill, SIMD_MMX, &s_mmx)->Apply(copyArgs);

// g_simd as selected at start-up on this machine.
void BM_Copy_g_simd(benchmark::State& state) {
  SIMD_Processor::select(false);
  size_t n = size_t(state.range(0));
  Buffers b(n);
  for (auto _ : state) {
    g_simd->memcpy(b.dst.data(), b.src.data(), n);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(n));
  state.SetLabel(g_simd->getName());
}
BENCHMARK(BM_Copy_g_simd)->Apply(copyArgs);

}  // namespace
