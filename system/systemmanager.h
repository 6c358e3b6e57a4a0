// SystemManager: processor identification, the performance timer, the module
// table, the last system error and the 256-entry system event ring that feeds
// the main loop. Main thread only; the ring has no lock.
#pragma once

#include <cstdint>

#include "lib/interface/systeminterface.h"

// The ring of system events. Counters run without wrap handling: the slot of a
// counter is its value modulo 256 and the fill level is the unsigned difference
// write - read, which stays right when the 32-bit counters wrap.
class SystemEventQueue {
 public:
  static constexpr uint32_t kSize = 256;

  ~SystemEventQueue() { clear(); }

  // A full ring drops its oldest event and frees that event's data.
  void queue(const SystemEvent& event);
  // False when empty; the taker owns the event's data.
  bool take(SystemEvent* event);
  uint32_t pending() const { return write_ - read_; }
  // Frees the data of every waiting event and empties the ring.
  void clear();
  // Tests start the counters near their wrap.
  void setCounters(uint32_t value) {
    clear();
    read_ = write_ = value;
  }

 private:
  SystemEvent slots_[kSize] = {};
  uint32_t write_ = 0;
  uint32_t read_ = 0;
};

class SystemManager : public SystemInterface {
 public:
  static constexpr int kMaxModules = 9;  // room for the sound plug-ins
  static constexpr int kPacketBufferSize = 16384;

  SystemManager();
  ~SystemManager() override;

  void emptySlot0() override {}
  void emptySlot1(int, int) override {}
  double performanceCounter() override;
  double performanceFrequency() override { return frequency_; }
  uint32_t cpuFlags() override { return cpuFlags_; }
  const char* cpuVendor() override { return vendor_; }
  int loadLibrary(const char* fileName) override;
  void* getProcAddress(int index, const char* name) override;
  void freeLibrary(int index) override;
  void osPath(const char* name, char* buffer, int size) override;
  const char* lastErrorText() override;
  SystemEvent getEvent() override;
  void makeMouseButtonEvent(SystemEvent* out, int button, int down) override;
  void makeMouseMoveEvent(SystemEvent* out, int dx, int dy) override;
  void queueEvent(int type, int value, int value2, int dataLength, void* data) override;

  SystemEventQueue& eventQueue() { return queue_; }

  // The processor flags word of an identification (vendor text, leaf-1 EDX).
  static uint32_t cpuFlagsFor(const char* vendor, uint32_t leaf1Edx);

 private:
  void* modules_[kMaxModules] = {};
  SystemEventQueue queue_;
  uint8_t packetBuffer_[kPacketBufferSize];
  double frequency_ = 0.0;
  char vendor_[13] = {};
  uint32_t cpuFlags_ = 0;
};

// Creates the one instance unless it exists and publishes g_systemInterface.
SystemManager* getSystemManager();
// Deletes it (the common manager, last) and clears the pointer.
void destroySystemManager();

// Packet event data blocks are allocated with new uint8_t[] and released with
// this (the memory manager serves both).
void freeSystemEventData(void* data);
