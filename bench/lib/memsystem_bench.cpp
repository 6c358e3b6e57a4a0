// Memory manager against the runtime heap directly: batches of mixed-size
// blocks allocated and freed on 1, 4 and 8 threads.
#include <benchmark/benchmark.h>

#include <cstdlib>

#include "lib/interface/memsystem.h"

namespace {

constexpr int kBatch = 64;

size_t sizeAt(int i) {
  return size_t(16 + (i * 37) % 496);
}

const bool s_created = (createMemManager(), true);

void BM_MemManager(benchmark::State& state) {
  void* blocks[kBatch];
  for (auto _ : state) {
    for (int i = 0; i < kBatch; ++i) {
      blocks[i] = g_memManager->alloc(sizeAt(i));
    }
    benchmark::DoNotOptimize(blocks);
    for (int i = 0; i < kBatch; ++i) {
      g_memManager->free(blocks[i]);
    }
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_MemManager)->Threads(1)->Threads(4)->Threads(8)->UseRealTime();

void BM_Malloc(benchmark::State& state) {
  void* blocks[kBatch];
  for (auto _ : state) {
    for (int i = 0; i < kBatch; ++i) {
      blocks[i] = std::malloc(sizeAt(i));
    }
    benchmark::DoNotOptimize(blocks);
    for (int i = 0; i < kBatch; ++i) {
      std::free(blocks[i]);
    }
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_Malloc)->Threads(1)->Threads(4)->Threads(8)->UseRealTime();

// operator new as the engine's own code meets it.
void BM_OperatorNew(benchmark::State& state) {
  char* blocks[kBatch];
  for (auto _ : state) {
    for (int i = 0; i < kBatch; ++i) {
      blocks[i] = new char[sizeAt(i)];
    }
    benchmark::DoNotOptimize(blocks);
    for (int i = 0; i < kBatch; ++i) {
      delete[] blocks[i];
    }
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_OperatorNew)->Threads(1)->Threads(4)->Threads(8)->UseRealTime();

}  // namespace
