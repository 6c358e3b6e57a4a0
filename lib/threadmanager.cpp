// Job sets on worker threads that take indices from one shared counter, the
// dedicated threads, and the progress bar.
#include "lib/threadmanager.h"

#include <cstdio>

#include "platform/clock.h"
#include "platform/thread.h"

namespace {

constexpr uint32_t kWorkOrQuit = (1u << THREAD_EVENT_WORK) | (1u << THREAD_EVENT_QUIT);

// Set on worker threads: a job that starts a job set of its own runs it
// inline instead of waiting on the workers it is one of.
thread_local bool t_onWorker = false;

void workerEntry(void* argument) {
  ThreadSlot* slot = static_cast<ThreadSlot*>(argument);
  ThreadSystem* manager = slot->owner;
  t_onWorker = true;
  for (;;) {
    int event = manager->waitForWork(slot, -1);
    if (event == 1) {
      return;
    }
    if (event != 0) {
      continue;
    }
    ThreadJob* job = slot->job;
    if (!job) {
      continue;  // a stray wake-up: no set to report done for
    }
    for (int index; (index = manager->nextJobIndex(slot)) >= 0;) {
      job->fn(job, index);
    }
    manager->signalEvent(slot, THREAD_EVENT_DONE);
  }
}

void dedicatedEntry(void* argument) {
  ThreadSlot* slot = static_cast<ThreadSlot*>(argument);
  ThreadSystem* manager = slot->owner;
  for (;;) {
    int event = manager->waitForWork(slot, -1);
    if (event == 1) {
      return;
    }
    if (event == 0 && slot->function) {
      slot->function(slot);
    }
  }
}

constinit ThreadManagerWin32 s_threadManager;

void printText(const char* text) {
  std::fputs(text, stdout);
  std::fflush(stdout);
}

void printIndent(int indent) {
  for (int i = 0; i < indent; ++i) {
    std::fputc(' ', stdout);
  }
}

double nowSeconds() {
  return double(platformNanoseconds()) * 1e-9;
}

}  // namespace

ThreadSystem* g_threadManager = &s_threadManager;

ThreadManagerWin32* getThreadManager() {
  return &s_threadManager;
}

// ---------------------------------------------------------------------------
// ProgressBar

ProgressBar::ProgressBar(int total, int indent)
    : total(total), count(0), starsPrinted(0), startTime(nowSeconds()), indent(indent), finished(false) {
  printIndent(indent);
  printText("0         20        40        60        80      100\n");
  printIndent(indent);
  printText("|----|----|----|----|----|----|----|----|----|----|\n");
  printIndent(indent);
  printText("*");
}

ProgressBar::~ProgressBar() {
  while (count < total) {
    step();
  }
  finish();
}

void ProgressBar::step() {
  if (count >= total) {
    return;
  }
  ++count;
  // Stars due so far, from exact integers: a float threshold drifts and can
  // lose the last star.
  int due = int(int64_t(count) * 50 / total);
  while (starsPrinted < due) {
    printText("*");
    ++starsPrinted;
  }
  if (count == total) {
    finish();
  }
}

void ProgressBar::advance(int n) {
  for (int i = 0; i < n; ++i) {
    step();
  }
}

void ProgressBar::finish() {
  if (finished) {
    return;
  }
  finished = true;
  // An empty set (total 0) still draws a whole bar.
  while (starsPrinted < 50) {
    printText("*");
    ++starsPrinted;
  }
  double seconds = nowSeconds() - startTime;
  printText("\n");
  printIndent(indent);
  char line[128];
  std::snprintf(line, sizeof(line), "   elapsed time: %f seconds (%f minutes)\n", seconds, seconds / 60.0);
  printText(line);
}

// ---------------------------------------------------------------------------
// ThreadManagerWin32

ThreadManagerWin32::~ThreadManagerWin32() {
  delete progressBar;
  progressBar = nullptr;
  stopWorkers();
  stopThreads(dedicated, MAX_DEDICATED);
}

void ThreadManagerWin32::startWorkers() {
  if (workerCount > 0) {
    startThreads(workers, workerCount, 0, workerEntry);
  }
}

void ThreadManagerWin32::stopWorkers() {
  if (workerCount > 0) {
    stopThreads(workers, workerCount);
  }
}

int ThreadManagerWin32::liveWorkerCount() const {
  int live = 0;
  for (int i = 0; i < workerCount; ++i) {
    if (workers[i].thread) {
      ++live;
    }
  }
  return live;
}

void ThreadManagerWin32::runInline(ThreadJob* job) {
  for (int index = 0; index < job->count; ++index) {
    job->fn(job, index);
    if (progressBar) {
      progressBar->step();
    }
  }
}

bool ThreadManagerWin32::runJobs(ThreadJob* job, bool showProgress) {
  if (!job || !job->fn || job->count <= 0) {
    return true;
  }
  if (t_onWorker || runLock.isHeldByCurrentThread()) {
    // Nested set from inside a job (on a worker, or inline on this thread):
    // the workers and the progress bar belong to the outer set.
    for (int index = 0; index < job->count; ++index) {
      job->fn(job, index);
    }
    return true;
  }
  runLock.lock();
  startWorkers();
  if (showProgress) {
    delete progressBar;
    progressBar = new ProgressBar(job->count, 0);
  }
  int live = liveWorkerCount();
  if (live == 0) {
    // No worker configured, or none could be started: the caller does the work.
    nextIndex = job->count;
    runInline(job);
  } else {
    nextIndex = 0;
    // A single worker takes indices without locking.
    jobLock.setEnabled(live > 1);
    for (int i = 0; i < workerCount; ++i) {
      if (workers[i].thread) {
        workers[i].job = job;
        signalEvent(&workers[i], THREAD_EVENT_WORK);
      }
    }
    waitForAllWorkers();
    for (int i = 0; i < workerCount; ++i) {
      workers[i].job = nullptr;
    }
    jobLock.setEnabled(true);
  }
  delete progressBar;
  progressBar = nullptr;
  runLock.unlock();
  return true;
}

int ThreadManagerWin32::nextJobIndex(ThreadSlot* slot) {
  jobLock.lock();
  int index;
  if (!slot || !slot->job) {
    index = -2;
  } else if (nextIndex >= slot->job->count) {
    index = -1;
  } else {
    index = nextIndex++;
    if (progressBar) {
      progressBar->step();
    }
  }
  jobLock.unlock();
  return index;
}

int ThreadManagerWin32::waitForWork(ThreadSlot* slot, int timeoutMs) {
  if (!slot || !slot->events) {
    return -1;
  }
  int event = platformEventsWait(slot->events, kWorkOrQuit, timeoutMs);
  return event == THREAD_EVENT_WORK ? 0 : event == THREAD_EVENT_QUIT ? 1 : -1;
}

void ThreadManagerWin32::signalEvent(ThreadSlot* slot, int event) {
  if (slot && slot->events) {
    platformEventsSet(slot->events, event);
  }
}

int ThreadManagerWin32::getProcessorCount() {
  return platformProcessorCount();
}

void ThreadManagerWin32::sleep(int milliseconds) {
  platformSleepMilliseconds(milliseconds);
}

int ThreadManagerWin32::startDedicatedThread(DedicatedThreadFunction fn) {
  if (!fn) {
    return -1;
  }
  for (int i = 0; i < MAX_DEDICATED; ++i) {
    ThreadSlot& slot = dedicated[i];
    if (slot.thread) {
      continue;
    }
    slot.function = fn;
    startThreads(&slot, 1, i, dedicatedEntry);
    if (!slot.thread) {
      stopThreads(&slot, 1);
      return -1;
    }
    return i;
  }
  return -1;
}

void ThreadManagerWin32::wakeDedicatedThread(int n) {
  if (n >= 0 && n < MAX_DEDICATED && dedicated[n].thread) {
    signalEvent(&dedicated[n], THREAD_EVENT_WORK);
  }
}

void ThreadManagerWin32::stopDedicatedThread(int n) {
  if (n >= 0 && n < MAX_DEDICATED) {
    stopThreads(&dedicated[n], 1);
  }
}

bool ThreadManagerWin32::isQuitPending(ThreadSlot* slot) {
  if (!slot || !slot->events) {
    return false;
  }
  return (platformEventsPeek(slot->events) & (1u << THREAD_EVENT_QUIT)) != 0;
}

void ThreadManagerWin32::setWorkerCount(int n) {
  while (n != workerCount) {
    stopWorkers();
    if (n < 0) {
      n = -1;
    } else if (n > MAX_WORKERS) {
      n = MAX_WORKERS;
    }
    workerCount = n;
    if (n < 0) {
      n = getProcessorCount();
    }
  }
}

bool ThreadManagerWin32::run(ThreadJob* job, bool showProgress) {
  if (workerCount < 0) {
    setWorkerCount(getProcessorCount());
  }
  return runJobs(job, showProgress);
}

void ThreadManagerWin32::startThreads(ThreadSlot* slots, int count, int firstIndex, void (*entry)(void*)) {
  for (int i = 0; i < count; ++i) {
    ThreadSlot& slot = slots[i];
    if (slot.thread) {
      continue;
    }
    slot.job = nullptr;
    slot.index = firstIndex + i;
    slot.owner = this;
    if (!slot.events) {
      slot.events = platformEventsCreate(3);
    }
    if (slot.events) {
      // Null when refused: the slot stays empty, gets no work, and the next
      // startWorkers tries again.
      slot.thread = platformThreadStart(entry, &slot);
    }
  }
}

void ThreadManagerWin32::stopThreads(ThreadSlot* slots, int count) {
  for (int i = 0; i < count; ++i) {
    if (slots[i].thread) {
      signalEvent(&slots[i], THREAD_EVENT_QUIT);
      platformThreadJoin(slots[i].thread);
      slots[i].thread = nullptr;
    }
  }
  for (int i = 0; i < count; ++i) {
    platformEventsDestroy(slots[i].events);
    slots[i].events = nullptr;
    slots[i].job = nullptr;
    slots[i].function = nullptr;
  }
}

void ThreadManagerWin32::waitForAllWorkers() {
  // Only slots with a thread can ever report done.
  for (int i = 0; i < workerCount; ++i) {
    if (workers[i].thread && workers[i].events) {
      platformEventsWait(workers[i].events, 1u << THREAD_EVENT_DONE, -1);
    }
  }
}
