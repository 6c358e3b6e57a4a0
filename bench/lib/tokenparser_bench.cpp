// Tokenizer throughput on a generated map-like text (numbers, quoted strings, braces, comments),
// with a plain memchr pass over the same bytes as the ceiling, and parseFloats throughput.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <string>

#include "lib/tokenparser.h"

namespace {

// About 8 MB of entity blocks and brush planes.
const std::string& mapText() {
  static const std::string text = [] {
    std::mt19937 rng(1);
    std::uniform_real_distribution<float> coord(-4096.0f, 4096.0f);
    std::string out;
    out.reserve(9 << 20);
    char line[256];
    int entity = 0;
    while (out.size() < (8u << 20)) {
      out += "// entity ";
      out += std::to_string(entity);
      out += "\n{\n";
      snprintf(line, sizeof(line), "\"classname\" \"func_static_%d\"\n\"origin\" \"%.3f %.3f %.3f\"\n",
               entity, coord(rng), coord(rng), coord(rng));
      out += line;
      out += "/* brush planes */\n";
      for (int plane = 0; plane < 6; ++plane) {
        snprintf(line, sizeof(line), "\t( %.4f %.4f %.4f %.2f ) \"textures/base/wall_%d\" ( %d %d )\n",
                 coord(rng) / 4096.0f, coord(rng) / 4096.0f, coord(rng) / 4096.0f, coord(rng), plane,
                 static_cast<int>(rng() % 512), static_cast<int>(rng() % 512));
        out += line;
      }
      out += "}\n";
      ++entity;
    }
    return out;
  }();
  return text;
}

void BM_Tokenize(benchmark::State& state) {
  const std::string& text = mapText();
  size_t tokens = 0;
  for (auto _ : state) {
    TokenParser parser;
    parser.pushText(text.c_str());
    parser.setPunctuation("{}(),");
    while (const char* t = parser.nextToken(true)) {
      benchmark::DoNotOptimize(t);
      ++tokens;
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
  state.counters["tokens"] =
      benchmark::Counter(static_cast<double>(tokens) / static_cast<double>(state.iterations()));
}
BENCHMARK(BM_Tokenize)->Unit(benchmark::kMillisecond);

// The ceiling: one memchr pass over the same bytes, counting newlines.
void BM_MemchrCeiling(benchmark::State& state) {
  const std::string& text = mapText();
  for (auto _ : state) {
    const char* p = text.data();
    const char* end = p + text.size();
    size_t lines = 0;
    while ((p = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p))))) {
      ++p;
      ++lines;
    }
    benchmark::DoNotOptimize(lines);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_MemchrCeiling)->Unit(benchmark::kMillisecond);

const std::string& floatText() {
  static const std::string text = [] {
    std::mt19937 rng(2);
    std::uniform_real_distribution<float> value(-1000.0f, 1000.0f);
    std::string out;
    char group[128];
    while (out.size() < (4u << 20)) {
      snprintf(group, sizeof(group), "( %.5f %.5f %.5f )\n", value(rng), value(rng), value(rng));
      out += group;
    }
    return out;
  }();
  return text;
}

void BM_ParseFloats(benchmark::State& state) {
  const std::string& text = floatText();
  size_t numbers = 0;
  for (auto _ : state) {
    TokenParser parser;
    parser.pushText(text.c_str());
    parser.setPunctuation("()");
    float v[3];
    while (parser.parseFloats(v, 3, 0, false)) {
      benchmark::DoNotOptimize(v);
      numbers += 3;
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
  state.SetItemsProcessed(static_cast<int64_t>(numbers));
}
BENCHMARK(BM_ParseFloats)->Unit(benchmark::kMillisecond);

}  // namespace
