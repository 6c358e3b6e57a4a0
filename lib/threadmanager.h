// The thread manager on platform threads and auto-reset events, and the
// progress bar of long job sets.
#pragma once

#include "lib/criticalsection.h"
#include "lib/interface/threadsystem.h"

// Prints a row of 50 stars under a 0-100 scale as a job set advances, then
// the elapsed time. Output goes to standard output, flushed per star.
class ProgressBar {
 public:
  ProgressBar(int total, int indent);
  // Completes the bar and its elapsed-time line.
  virtual ~ProgressBar();

  void step();
  void advance(int n);

 private:
  void finish();

  int total;
  int count;
  int starsPrinted;  // beyond the first star printed at construction
  double startTime;  // seconds on the monotonic clock
  int indent;
  bool finished;
};

class ThreadManagerWin32 : public ThreadSystem {
 public:
  static constexpr int MAX_WORKERS = 16;
  static constexpr int MAX_DEDICATED = 16;

  constexpr ThreadManagerWin32() = default;
  ~ThreadManagerWin32() override;

  void startWorkers() override;
  void stopWorkers() override;
  bool runJobs(ThreadJob* job, bool showProgress) override;
  int nextJobIndex(ThreadSlot* slot) override;
  int waitForWork(ThreadSlot* slot, int timeoutMs) override;
  void signalEvent(ThreadSlot* slot, int event) override;
  int getProcessorCount() override;
  void sleep(int milliseconds) override;
  int startDedicatedThread(DedicatedThreadFunction fn) override;
  void wakeDedicatedThread(int n) override;
  void stopDedicatedThread(int n) override;
  bool isQuitPending(ThreadSlot* slot) override;

  // Stops the workers when the count changes; clamped to 0..16, a negative
  // count means one worker per processor. Workers start with the next set.
  void setWorkerCount(int n);
  // The renderer's entry: picks the processor count on first use, then runs.
  bool run(ThreadJob* job, bool showProgress);
  void startThreads(ThreadSlot* slots, int count, int firstIndex, void (*entry)(void*));
  void stopThreads(ThreadSlot* slots, int count);
  void waitForAllWorkers();
  // Worker slots among the first workerCount that have a running thread.
  int liveWorkerCount() const;

 private:
  void runInline(ThreadJob* job);

  CriticalSection jobLock{true};
  // Serialises job sets started from different threads; the manager runs
  // one set at a time.
  CriticalSection runLock{true};
  ThreadSlot workers[MAX_WORKERS];
  ThreadSlot dedicated[MAX_DEDICATED];
  ProgressBar* progressBar = nullptr;
};

ThreadManagerWin32* getThreadManager();
