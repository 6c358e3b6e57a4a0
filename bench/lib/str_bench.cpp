// String and List hot paths: character appends (growth every 32 bytes),
// case-insensitive comparison, formatting and list growth.
#include "lib/list.h"
#include "lib/str.h"

#include <benchmark/benchmark.h>

static void BM_StringAppendChars(benchmark::State& state) {
  const int count = int(state.range(0));
  for (auto _ : state) {
    String s;
    for (int i = 0; i < count; i++) {
      s.append(char('a' + (i & 15)));
    }
    benchmark::DoNotOptimize(s.c_str());
  }
  state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_StringAppendChars)->Arg(16)->Arg(256)->Arg(4096);

static void BM_StringICmp(benchmark::State& state) {
  String a("textures/base_wall/concrete_panel_01.tga");
  String b("TEXTURES/BASE_WALL/CONCRETE_PANEL_02.TGA");
  for (auto _ : state) {
    benchmark::DoNotOptimize(String::icmp(a.c_str(), b.c_str()));
  }
}
BENCHMARK(BM_StringICmp);

static void BM_StringFormat(benchmark::State& state) {
  String s;
  for (auto _ : state) {
    s.format("%s/%d/%.3f", "maps", 42, 3.25);
    benchmark::DoNotOptimize(s.c_str());
  }
}
BENCHMARK(BM_StringFormat);

static void BM_FloatArrayToString(benchmark::State& state) {
  const float values[6] = {1.0f, -2.5f, 3.125f, 1024.0f, 0.0f, 7.75f};
  for (auto _ : state) {
    benchmark::DoNotOptimize(String::floatArrayToString(values, 6, 5));
  }
}
BENCHMARK(BM_FloatArrayToString);

static void BM_ListAppendString(benchmark::State& state) {
  const int count = int(state.range(0));
  String name("an entity name longer than the inline buffer");
  for (auto _ : state) {
    List<String> list;
    for (int i = 0; i < count; i++) {
      list.append(name);
    }
    benchmark::DoNotOptimize(list.ptr());
  }
  state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_ListAppendString)->Arg(64)->Arg(1024);
