// The engine's own frame as the executable's main loop runs it (runMainLoopPass: events, console,
// sound, then AppWindowHandler::frame with the game steps, the scene, the interfaces and the
// console), started as the executable starts (startApplication) over the staged sample content, on
// llvmpipe (SDL's offscreen driver) at 1024x768 with "vid_maxfps" 1024 so the frame cap never
// sleeps. "Map" is the sample map from the player start; "Menu" the main menu without a map.
//
// The peer is the 32 ms budget: the game's time owed by one frame is capped at 40 ms, so a frame
// runs at most two 16 ms steps, and a frame slower than 32 ms (below about 31 frames a second)
// slows the game down. Time is real milliseconds per frame, CPU the process's (llvmpipe's threads
// included); the counters give frames a second ("fps"), the real time over the budget
// ("budget_ratio": above 1 the game falls behind real time) and the main thread's CPU per frame
// ("main_cpu_ms"). A release build with --benchmark_repetitions=5 runs in well under a minute.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "lib/interface/cmdsystem.h"
#include "lib/interface/commonsystem.h"
#include "lib/interface/convarsystem.h"
#include "lib/interface/spatialsystem.h"
#include "platform/clock.h"
#include "platform/memory.h"
#include "system/appwindowhandler.h"

namespace {

constexpr double kBudgetMilliseconds = 2.0 * kGameStepMilliseconds;

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "engineframe_bench: %s\n", what);
  std::exit(1);
}

double threadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

AppWindowHandler* s_app = nullptr;

// The engine, started once for the whole run and shut down by main.
AppWindowHandler* engine() {
  if (s_app == nullptr) {
    platformKeepFreedMemory();  // as the executable's main
    if (chdir(QUILL_STAGE_DIR) != 0)
      fail("no staged tree at " QUILL_STAGE_DIR);
    bool initialized = false;
    AppWindowHandler* a = startApplication("vid_maxfps 1024", nullptr, &initialized);
    if (a == nullptr)
      fail("no window or GL context (SDL_VIDEODRIVER=offscreen)");
    if (!initialized)
      fail("the engine did not start");
    if (g_conVarSystem->find("r_viewwidth")->getInt() != 1024 ||
        g_conVarSystem->find("r_viewheight")->getInt() != 768)
      fail("the window is not 1024x768");
    s_app = a;
  }
  return s_app;
}

// Brings the engine to the sample map or to the main menu, then lets it settle: the programs and
// images the first frames make, the load's own catch-up.
void enter(bool map) {
  AppWindowHandler* app = engine();
  const bool inMap = g_spatialSystem != nullptr;
  int settle = 2;
  if (map != inMap) {
    g_cmdSystem->executeText(map ? "map demo" : "disconnect");
    if ((g_spatialSystem != nullptr) != map)
      fail(map ? "maps/demo did not load" : "the map stayed loaded");
    settle = 20;
  }
  for (int i = 0; i < settle; i++)
    if (!runMainLoopPass(app))
      fail("the engine stopped");
  if (g_conVarSystem->find("vid_maxfps")->getInt() != 1024)
    fail("\"vid_maxfps\" is not 1024");
}

void runFrames(benchmark::State& state, bool map) {
  enter(map);
  AppWindowHandler* app = engine();
  const uint64_t start = platformNanoseconds();
  const double cpuStart = threadCpuSeconds();
  for (auto _ : state)
    if (!runMainLoopPass(app))
      fail("the engine stopped");
  const double frames = double(state.iterations());
  const double realMs = double(platformNanoseconds() - start) * 1e-6 / frames;
  state.counters["fps"] = benchmark::Counter(frames, benchmark::Counter::kIsRate);
  state.counters["budget_ratio"] = realMs / kBudgetMilliseconds;
  state.counters["main_cpu_ms"] = (threadCpuSeconds() - cpuStart) * 1e3 / frames;
}

void BM_EngineFrameMap(benchmark::State& state) {
  runFrames(state, true);
}
void BM_EngineFrameMenu(benchmark::State& state) {
  runFrames(state, false);
}

// Fixed frame counts, so five repetitions take seconds even on a loaded machine.
BENCHMARK(BM_EngineFrameMap)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime()
    ->Iterations(40);
BENCHMARK(BM_EngineFrameMenu)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime()
    ->Iterations(30);

}  // namespace

// The engine's threads (the sound mixer's among them) stop before the process's static objects go.
int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv))
    return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (s_app != nullptr)
    stopApplication(s_app);
  return 0;
}
