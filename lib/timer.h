// Elapsed-time records: Timer on the high-resolution counter (nanoseconds,
// frequency 1e9) and ClockTimer on the millisecond clock.
#pragma once

#include <cstdint>

class Timer {
 public:
  Timer() { init(); }

  // Zeroes the total and starts running from now.
  void init();
  // Counts the time up to now into the total, then freezes it.
  void stop() {
    elapsed();
    stopped = true;
  }
  bool isStopped() const { return stopped; }
  // When stopped, restarts from now; a running timer is left alone.
  void start();
  // Adds the whole milliseconds since the last call to the total and
  // returns it. The start moves only by the milliseconds counted, so the
  // remainder carries over and frequent calls still advance the total.
  uint64_t elapsed();

  static double getCounter();
  double getFrequency() const { return frequency; }

 private:
  double frequency;
  uint64_t startCounter;
  uint64_t total;  // milliseconds
  bool stopped;
};

class ClockTimer {
 public:
  ClockTimer() { reset(); }

  void reset();
  void stop() {
    elapsedMilliseconds();
    stopped = true;
  }
  bool isStopped() const { return stopped; }
  void start();
  uint64_t elapsedMilliseconds();

 private:
  uint64_t startTime;  // milliseconds on the clock
  uint64_t total;
  bool stopped;
};
