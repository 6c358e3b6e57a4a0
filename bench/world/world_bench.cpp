// World loading and flooding: the sample map and a generated 100 x 100 grid of rooms (10,000
// areas, doors between neighbours) loaded from text (ms and MB/s), and the area flood of 1,000
// random views on the large map.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "lib/keydict.h"
#include "world/bspworld.h"

namespace {

constexpr int kGrid = 100;
constexpr float kRoom = 256.0f;

int buildNodes(std::string& out, int& count, int x0, int x1, int y0, int y1, std::vector<std::string>& lines) {
  if (x1 - x0 == 1 && y1 - y0 == 1)
    return -(y0 * kGrid + x0) - 1;  // leaf index = area index
  int index = count++;
  lines.emplace_back();
  char line[128];
  int pos, neg;
  if (x1 - x0 >= y1 - y0) {
    int mid = (x0 + x1) / 2;
    pos = buildNodes(out, count, mid, x1, y0, y1, lines);
    neg = buildNodes(out, count, x0, mid, y0, y1, lines);
    std::snprintf(line, sizeof(line), "( 1 0 0 %g ) %d %d\n", mid * kRoom, pos, neg);
  } else {
    int mid = (y0 + y1) / 2;
    pos = buildNodes(out, count, x0, x1, mid, y1, lines);
    neg = buildNodes(out, count, x0, x1, y0, mid, lines);
    std::snprintf(line, sizeof(line), "( 0 1 0 %g ) %d %d\n", mid * kRoom, pos, neg);
  }
  lines[size_t(index)] = line;
  return index;
}

const std::string& largeMap() {
  static std::string text;
  if (!text.empty())
    return text;
  std::string portals;
  int numPortals = 0;
  char line[256];
  for (int j = 0; j < kGrid; ++j)
    for (int i = 0; i < kGrid; ++i) {
      float x = i * kRoom, y = j * kRoom;
      if (i + 1 < kGrid) {
        float px = x + kRoom;
        std::snprintf(line, sizeof(line), "4 %d %d ( %g %g 0 ) ( %g %g 0 ) ( %g %g 96 ) ( %g %g 96 )\n",
                      j * kGrid + i + 1, j * kGrid + i, px, y + 96, px, y + 160, px, y + 160, px, y + 96);
        portals += line;
        ++numPortals;
      }
      if (j + 1 < kGrid) {
        float py = y + kRoom;
        std::snprintf(line, sizeof(line), "4 %d %d ( %g %g 0 ) ( %g %g 96 ) ( %g %g 96 ) ( %g %g 0 )\n",
                      (j + 1) * kGrid + i, j * kGrid + i, x + 96, py, x + 96, py, x + 160, py, x + 160, py);
        portals += line;
        ++numPortals;
      }
    }
  text = "!BSP02\nareaPortals { " + std::to_string(kGrid * kGrid) + " " + std::to_string(numPortals) + "\n" +
         portals + "}\n";
  for (int j = 0; j < kGrid; ++j)
    for (int i = 0; i < kGrid; ++i) {
      float x0 = i * kRoom, x1 = x0 + kRoom, y0 = j * kRoom, y1 = y0 + kRoom;
      std::snprintf(line, sizeof(line), "model { \"_area%d\" 1 { \"wall\" 8 12 0\n", j * kGrid + i);
      text += line;
      for (float z : {0.0f, 128.0f})
        for (int k = 0; k < 4; ++k) {
          std::snprintf(line, sizeof(line), "( %g %g %g ) ( 0 0 ) ( 0 0 ) ( 0 0 1 )\n", (k == 1 || k == 2) ? x1 : x0,
                        k >= 2 ? y1 : y0, z);
          text += line;
        }
      text += "0 1 2 0 2 3 4 6 5 4 7 6\n} }\n";
    }
  text += "leafs { " + std::to_string(kGrid * kGrid) + "\n";
  for (int a = 0; a < kGrid * kGrid; ++a)
    text += "{ " + std::to_string(a) + " }\n";
  text += "}\n";
  std::vector<std::string> lines;
  int count = 0;
  std::string unused;
  buildNodes(unused, count, 0, kGrid, 0, kGrid, lines);
  text += "nodes { " + std::to_string(count) + "\n";
  for (const std::string& l : lines)
    text += l;
  text += "}\n";
  return text;
}

const std::string& sampleMap() {
  static std::string text;
  if (text.empty()) {
    // Run from the source tree, or point QUILL_SOURCE_DIR at it.
    const char* root = std::getenv("QUILL_SOURCE_DIR");
    std::ifstream in(std::string(root ? root : ".") + "/demo/media/maps/demo.bsp");
    std::stringstream s;
    s << in.rdbuf();
    text = s.str();
  }
  return text;
}

SpatialView makeView(const Vec3& origin, float yaw) {
  Vec3 fwd(std::cos(yaw), std::sin(yaw), 0), up(0, 0, 1);
  Vec3 right = fwd.cross(up);
  SpatialView v;
  v.origin = origin;
  auto plane = [&](Vec3 n, const Vec3& through) {
    n.normalize();
    return Plane(n, n.dot(through));
  };
  v.frustum[0] = plane(fwd * -1.0f, origin + fwd);
  v.frustum[1] = plane(right - fwd, origin);
  v.frustum[2] = plane(right * -1.0f - fwd, origin);
  v.frustum[3] = plane(up - fwd, origin);
  v.frustum[4] = plane(up * -1.0f - fwd, origin);
  v.frustum[5] = plane(fwd, origin + fwd * 20000.0f);
  return v;
}

void loadText(benchmark::State& state, const std::string& text) {
  KeyDict::initPools();
  for (auto _ : state) {
    BspSpatialSystem world;
    if (!world.loadText(text.c_str()))
      state.SkipWithError("map did not load");
    benchmark::DoNotOptimize(world.getNumAreas());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}

void BM_LoadSampleMap(benchmark::State& state) {
  loadText(state, sampleMap());
}
BENCHMARK(BM_LoadSampleMap)->Unit(benchmark::kMillisecond);

void BM_LoadLargeMap(benchmark::State& state) {
  loadText(state, largeMap());
}
BENCHMARK(BM_LoadLargeMap)->Unit(benchmark::kMillisecond);

// 1,000 random views per iteration; the figure divided by 1,000 is the flood per view.
void BM_FloodLargeMap1000Views(benchmark::State& state) {
  KeyDict::initPools();
  BspSpatialSystem world;
  if (!world.loadText(largeMap().c_str())) {
    state.SkipWithError("map did not load");
    return;
  }
  std::mt19937 rng(27);
  std::uniform_real_distribution<float> pos(8.0f, kGrid * kRoom - 8.0f), yaw(0.0f, 6.2831853f);
  std::vector<SpatialView> views;
  for (int i = 0; i < 1000; ++i)
    views.push_back(makeView(Vec3(pos(rng), pos(rng), 48), yaw(rng)));
  std::vector<int> out(4096);
  int64_t areas = 0;
  for (auto _ : state)
    for (const SpatialView& v : views)
      areas += world.areasVisibleFromView(&v, out.data(), 4096);
  state.counters["areas_per_view"] =
      benchmark::Counter(double(areas) / double(1000 * state.iterations()), benchmark::Counter::kDefaults);
}
BENCHMARK(BM_FloodLargeMap1000Views)->Unit(benchmark::kMillisecond);

}  // namespace
