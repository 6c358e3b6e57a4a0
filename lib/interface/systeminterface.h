// Operating-system services for the engine and the game module: processor
// identification, the performance timer, a small module table, the last system
// error, and the queue of system events that feeds the main loop.
#pragma once

#include <cstdint>

// One queued input event. Type 6 carries a memory-manager block: the queue owns
// it while the event waits; whoever takes the event owns it afterwards.
struct SystemEvent {
  int32_t type = 0;    // 0 none, 1 key, 2 character, 3 mouse movement, 6 network packet
  int32_t value = 0;   // key code, character code or horizontal movement
  int32_t value2 = 0;  // 1 down / 0 up for keys, vertical movement for the mouse
  int32_t dataLength = 0;
  void* data = nullptr;  // packet: 4 bytes IPv4 address, 2 bytes port, payload
};

enum SystemEventType : int32_t {
  kSystemEventNone = 0,
  kSystemEventKey = 1,
  kSystemEventChar = 2,
  kSystemEventMouse = 3,
  kSystemEventPacket = 6,
};

// Processor flags word.
enum CpuFlag : uint32_t {
  kCpuOtherVendor = 0x2,
  kCpuIntel = 0x4,
  kCpuAmd = 0x8,
  kCpuMmx = 0x10,
  kCpuSse = 0x40,
  kCpuSse2 = 0x80,
  kCpuHyperThreading = 0x1000,
  kCpuCmov = 0x2000,
};

class SystemInterface {
 public:
  virtual ~SystemInterface() = default;

  virtual void emptySlot0() = 0;
  virtual void emptySlot1(int a, int b) = 0;
  virtual double performanceCounter() = 0;
  virtual double performanceFrequency() = 0;
  virtual uint32_t cpuFlags() = 0;
  virtual const char* cpuVendor() = 0;
  // Index (0..8) of the table entry now holding the module, -1 on failure or a full table.
  virtual int loadLibrary(const char* fileName) = 0;
  // Null for an index outside 0..8, an empty entry or a missing name.
  virtual void* getProcAddress(int index, const char* name) = 0;
  virtual void freeLibrary(int index) = 0;
  // Operating-system path of a game-relative name, cut to size - 1 characters;
  // "" when the file system has none. Writes nothing when size is 0.
  virtual void osPath(const char* name, char* buffer, int size) = 0;
  // The pending system errors as text, in a rotating buffer; "" when none.
  virtual const char* lastErrorText() = 0;
  // The next event; type 0 when the queue is empty and no packet waits.
  virtual SystemEvent getEvent() = 0;
  virtual void makeMouseButtonEvent(SystemEvent* out, int button, int down) = 0;
  virtual void makeMouseMoveEvent(SystemEvent* out, int dx, int dy) = 0;

  // Beyond the original table: what the engine core itself queues through.
  virtual void queueEvent(int type, int value, int value2, int dataLength, void* data) = 0;
};

inline SystemInterface* g_systemInterface = nullptr;

// Queues an event when the system manager exists; otherwise the event is
// dropped and its data block freed.
void queueSystemEvent(int type, int value, int value2, int dataLength, void* data);

// Milliseconds since the first call (the engine's time stamps).
uint32_t getMilliseconds();
