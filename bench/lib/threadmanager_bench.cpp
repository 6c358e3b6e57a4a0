// Job-set dispatch: 64 jobs of a given size on 1-16 workers against a plain
// loop on the calling thread and against an OpenMP parallel loop. The job
// size where the job set starts to win is the crossover.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "lib/threadmanager.h"

#if defined(QUILL_HAVE_OPENMP)
#include <omp.h>
#endif

namespace {

constexpr int kJobs = 64;

// One job: `work` rounds of a multiply-add chain (about 1 ns each).
inline uint64_t spin(int work, uint64_t seed) {
  uint64_t x = seed;
  for (int i = 0; i < work; ++i) {
    x = x * 6364136223846793005ull + 1442695040888963407ull;
  }
  return x;
}

struct Work {
  int rounds;
  uint64_t results[kJobs];
};

void runOne(ThreadJob* job, int index) {
  Work* work = static_cast<Work*>(job->user);
  work->results[index] = spin(work->rounds, uint64_t(index));
}

void sizes(benchmark::internal::Benchmark* b) {
  for (int work : {0, 100, 1000, 3000, 10000, 100000}) {
    b->Arg(work);
  }
}

void BM_PlainLoop(benchmark::State& state) {
  Work work{int(state.range(0)), {}};
  for (auto _ : state) {
    for (int i = 0; i < kJobs; ++i) {
      work.results[i] = spin(work.rounds, uint64_t(i));
    }
    benchmark::DoNotOptimize(work.results);
  }
}
BENCHMARK(BM_PlainLoop)->Apply(sizes)->UseRealTime();

void BM_JobSet(benchmark::State& state) {
  static ThreadManagerWin32 manager;
  manager.setWorkerCount(int(state.range(0)));
  Work work{int(state.range(1)), {}};
  ThreadJob job{kJobs, &work, runOne};
  manager.runJobs(&job, false);  // starts the workers outside the timing
  for (auto _ : state) {
    manager.runJobs(&job, false);
    benchmark::DoNotOptimize(work.results);
  }
}
BENCHMARK(BM_JobSet)
    ->ArgsProduct({{1, 2, 4, 8, 16}, {0, 100, 1000, 3000, 10000, 100000}})
    ->ArgNames({"workers", "work"})
    ->UseRealTime();

#if defined(QUILL_HAVE_OPENMP)
void BM_OpenMP(benchmark::State& state) {
  int threads = int(state.range(0));
  Work work{int(state.range(1)), {}};
  for (auto _ : state) {
#pragma omp parallel for num_threads(threads) schedule(dynamic, 1)
    for (int i = 0; i < kJobs; ++i) {
      work.results[i] = spin(work.rounds, uint64_t(i));
    }
    benchmark::DoNotOptimize(work.results);
  }
}
BENCHMARK(BM_OpenMP)
    ->ArgsProduct({{1, 2, 4, 8, 16}, {0, 100, 1000, 3000, 10000, 100000}})
    ->ArgNames({"threads", "work"})
    ->UseRealTime();
#endif

}  // namespace
