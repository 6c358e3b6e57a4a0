// Worker threads and job sets: a count of independent work items and one
// function, spread over up to 16 workers; plus up to 16 dedicated threads.
#pragma once

struct ThreadJob;
struct ThreadSlot;
class ThreadSystem;
struct PlatformThread;
struct PlatformEvents;

// Called once for every index 0..count-1, on any thread; indices must not
// depend on one another.
using ThreadJobFunction = void (*)(ThreadJob* job, int index);
// Called once per wake-up of a dedicated thread.
using DedicatedThreadFunction = void (*)(ThreadSlot* slot);

// Owned by the caller of runJobs, which blocks until the set is done.
struct ThreadJob {
  int count = 0;
  void* user = nullptr;  // the caller's own, never read by the manager
  ThreadJobFunction fn = nullptr;
};

enum ThreadEvent { THREAD_EVENT_WORK = 0, THREAD_EVENT_QUIT = 1, THREAD_EVENT_DONE = 2 };

struct ThreadSlot {
  PlatformThread* thread = nullptr;            // null when the slot has no thread
  PlatformEvents* events = nullptr;            // auto-reset: work, quit, done
  int index = 0;                               // the slot's number within its array
  ThreadJob* job = nullptr;                    // worker: the running set, null when none
  DedicatedThreadFunction function = nullptr;  // dedicated: what the thread calls
  ThreadSystem* owner = nullptr;
};

class ThreadSystem {
 public:
  constexpr ThreadSystem() = default;

  virtual void startWorkers() = 0;
  virtual void stopWorkers() = 0;
  virtual ~ThreadSystem() {}
  // Runs every index of the set once and returns when all are done: true.
  // With no worker available the set runs on the calling thread.
  virtual bool runJobs(ThreadJob* job, bool showProgress) = 0;
  // -2: the slot has no job; -1: the set is exhausted; else the next index.
  virtual int nextJobIndex(ThreadSlot* slot) = 0;
  // 0 work, 1 quit, -1 timeout or failure; a negative timeout waits forever.
  virtual int waitForWork(ThreadSlot* slot, int timeoutMs) = 0;
  virtual void signalEvent(ThreadSlot* slot, int event) = 0;
  virtual int getProcessorCount() = 0;
  virtual void sleep(int milliseconds) = 0;
  // The slot number, or -1 for a null function, all 16 slots in use, or a
  // thread the system refused.
  virtual int startDedicatedThread(DedicatedThreadFunction fn) = 0;
  virtual void wakeDedicatedThread(int n) = 0;
  virtual void stopDedicatedThread(int n) = 0;
  // Polls without consuming: true when quit is signalled.
  virtual bool isQuitPending(ThreadSlot* slot) = 0;

  int getWorkerCount() const { return workerCount; }

 protected:
  int workerCount = -1;  // -1 until first set
  int nextIndex = -1;    // shared counter of the running set, under the job lock
};

// The one statically constructed manager; valid for the whole process.
extern ThreadSystem* g_threadManager;
