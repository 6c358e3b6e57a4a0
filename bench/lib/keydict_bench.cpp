// String pool and KeyDict insertion and lookup with 10k and 100k distinct keys, against
// std::set<std::string> in the same run.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "lib/keydict.h"

namespace {

// Distinct keys in random order, looking like spawn arguments.
const std::vector<std::string>& keyTexts(int count) {
  static std::vector<std::string> cache[2];
  std::vector<std::string>& keys = cache[count > 10000 ? 1 : 0];
  if (keys.empty()) {
    for (int i = 0; i < count; ++i)
      keys.push_back("spawn_arg_" + std::to_string(i * 7919 % 1000003) + "_key");
    std::shuffle(keys.begin(), keys.end(), std::mt19937(3));
  }
  return keys;
}

void BM_StringPoolInsert(benchmark::State& state) {
  const auto& keys = keyTexts(static_cast<int>(state.range(0)));
  StringPool pool(false);
  for (auto _ : state) {
    for (const std::string& k : keys)
      benchmark::DoNotOptimize(pool.allocate(k.c_str()));
    state.PauseTiming();
    pool.clear();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(keys.size()));
}
BENCHMARK(BM_StringPoolInsert)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_StringPoolLookup(benchmark::State& state) {
  const auto& keys = keyTexts(static_cast<int>(state.range(0)));
  StringPool pool(false);
  for (const std::string& k : keys)
    pool.allocate(k.c_str());
  for (auto _ : state) {
    for (const std::string& k : keys)
      benchmark::DoNotOptimize(pool.find(k.c_str()));
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(keys.size()));
}
BENCHMARK(BM_StringPoolLookup)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_KeyDictInsert(benchmark::State& state) {
  const auto& keys = keyTexts(static_cast<int>(state.range(0)));
  KeyDict::initPools();
  for (auto _ : state) {
    KeyDict dict;
    for (const std::string& k : keys)
      dict.set(k.c_str(), "1");
    state.PauseTiming();
    dict.clear();
    state.ResumeTiming();
  }
  KeyDict::shutdownPools();
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(keys.size()));
}
BENCHMARK(BM_KeyDictInsert)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_KeyDictLookup(benchmark::State& state) {
  const auto& keys = keyTexts(static_cast<int>(state.range(0)));
  KeyDict::initPools();
  {
    KeyDict dict;
    for (const std::string& k : keys)
      dict.set(k.c_str(), "1");
    for (auto _ : state) {
      for (const std::string& k : keys)
        benchmark::DoNotOptimize(dict.findKey(k.c_str()));
    }
  }
  KeyDict::shutdownPools();
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(keys.size()));
}
BENCHMARK(BM_KeyDictLookup)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_StdSetInsert(benchmark::State& state) {
  const auto& keys = keyTexts(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    std::set<std::string> set;
    for (const std::string& k : keys)
      benchmark::DoNotOptimize(set.insert(k));
    state.PauseTiming();
    set.clear();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(keys.size()));
}
BENCHMARK(BM_StdSetInsert)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_StdSetLookup(benchmark::State& state) {
  const auto& keys = keyTexts(static_cast<int>(state.range(0)));
  std::set<std::string> set(keys.begin(), keys.end());
  for (auto _ : state) {
    for (const std::string& k : keys)
      benchmark::DoNotOptimize(set.find(k));
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(keys.size()));
}
BENCHMARK(BM_StdSetLookup)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace
