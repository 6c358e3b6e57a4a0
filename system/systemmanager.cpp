// The system manager and the system event ring. Network packets enter the ring
// by polling: when it is empty, getEvent asks the network manager for one.
#include "system/systemmanager.h"

#include <cstdio>
#include <cstring>

#include "lib/interface/iosystem.h"
#include "lib/interface/networksystem.h"
#include "network/bitmsg.h"
#include "lib/str.h"
#include "lib/timer.h"
#include "platform/clock.h"
#include "platform/cpu.h"
#include "platform/module.h"

void freeSystemEventData(void* data) {
  delete[] static_cast<uint8_t*>(data);
}

void SystemEventQueue::queue(const SystemEvent& event) {
  uint32_t slot = write_ % kSize;
  if (write_ - read_ >= kSize) {
    freeSystemEventData(slots_[slot].data);
    slots_[slot].data = nullptr;
    ++read_;
  }
  slots_[slot] = event;
  ++write_;
}

bool SystemEventQueue::take(SystemEvent* event) {
  if (write_ - read_ == 0)
    return false;
  SystemEvent& slot = slots_[read_ % kSize];
  *event = slot;
  slot.data = nullptr;
  ++read_;
  return true;
}

void SystemEventQueue::clear() {
  while (write_ - read_ != 0) {
    SystemEvent& slot = slots_[read_ % kSize];
    freeSystemEventData(slot.data);
    slot = SystemEvent();
    ++read_;
  }
}

uint32_t SystemManager::cpuFlagsFor(const char* vendor, uint32_t leaf1Edx) {
  uint32_t flags;
  if (std::strcmp(vendor, "GenuineIntel") == 0)
    flags = kCpuIntel;
  else if (std::strcmp(vendor, "AuthenticAMD") == 0 || std::strcmp(vendor, "AMD ISBETTER") == 0)
    flags = kCpuAmd;
  else
    flags = kCpuOtherVendor;
  if (leaf1Edx & (1u << 23))
    flags |= kCpuMmx;
  if (leaf1Edx & (1u << 25))
    flags |= kCpuSse;
  if (leaf1Edx & (1u << 26))
    flags |= kCpuSse2;
  if ((leaf1Edx & (1u << 28)) && (flags & kCpuIntel))
    flags |= kCpuHyperThreading;
  if (leaf1Edx & (1u << 15))
    flags |= kCpuCmov;
  return flags;
}

SystemManager::SystemManager() {
  Timer timer;
  frequency_ = timer.getFrequency();
  const PlatformCpuInfo& cpu = platformCpuInfo();
  if (cpu.available) {
    std::memcpy(vendor_, cpu.vendor, sizeof(vendor_));
    vendor_[12] = '\0';
    cpuFlags_ = cpuFlagsFor(vendor_, cpu.leaf1Edx);
  }
}

SystemManager::~SystemManager() {
  for (int i = 0; i < kMaxModules; ++i)
    freeLibrary(i);
  queue_.clear();
}

double SystemManager::performanceCounter() {
  return Timer::getCounter();
}

int SystemManager::loadLibrary(const char* fileName) {
  int index = 0;
  while (index < kMaxModules && modules_[index])
    ++index;
  if (index == kMaxModules || !fileName)
    return -1;
  void* module = platformModuleLoad(fileName);
  if (!module)
    return -1;
  modules_[index] = module;
  return index;
}

void* SystemManager::getProcAddress(int index, const char* name) {
  if (index < 0 || index >= kMaxModules || !modules_[index] || !name)
    return nullptr;
  return platformModuleSymbol(modules_[index], name);
}

void SystemManager::freeLibrary(int index) {
  if (index < 0 || index >= kMaxModules || !modules_[index])
    return;
  platformModuleFree(modules_[index]);
  modules_[index] = nullptr;
}

void SystemManager::osPath(const char* name, char* buffer, int size) {
  // A zero size leaves the caller's buffer alone: there is no room even for
  // the terminator.
  if (!buffer || size <= 0)
    return;
  const char* path = nullptr;
  if (g_ioSystem && name)
    path = g_ioSystem->buildOSPath(nullptr, nullptr, name);
  std::snprintf(buffer, (size_t)size, "%s", path ? path : "");
}

const char* SystemManager::lastErrorText() {
  // The loader keeps one pending failure; the loop keeps the old bound of ten
  // reports for when more sources report here.
  static char text[4096];
  text[0] = '\0';
  size_t used = 0;
  for (int i = 0; i < 10; ++i) {
    const char* message = platformModuleError();
    if (!message)
      break;
    int written = std::snprintf(text + used, sizeof(text) - used, "error code[%X]: %s", 1, message);
    if (written < 0)
      break;
    used = std::strlen(text);
    if (used > 0 && text[used - 1] != '\n' && used + 1 < sizeof(text)) {
      text[used++] = '\n';
      text[used] = '\0';
    }
  }
  return va("%s", text);
}

SystemEvent SystemManager::getEvent() {
  SystemEvent event;
  if (queue_.take(&event))
    return event;
  if (g_networkSystem) {
    NetAddress from;
    BitMsg msg(packetBuffer_, kPacketBufferSize);
    int payload = g_networkSystem->getPacket(msg, from) ? msg.getWriteBit() / 8 : 0;
    if (payload > 0 && payload <= kPacketBufferSize) {
      uint8_t* data = new uint8_t[(size_t)payload + 6];
      std::memcpy(data, from.ip, 4);
      data[4] = (uint8_t)(from.port & 0xFF);
      data[5] = (uint8_t)(from.port >> 8);
      std::memcpy(data + 6, packetBuffer_, (size_t)payload);
      queueEvent(kSystemEventPacket, 0, 0, payload + 6, data);
    }
  }
  if (queue_.take(&event))
    return event;
  return SystemEvent();
}

void SystemManager::makeMouseButtonEvent(SystemEvent* out, int button, int down) {
  *out = SystemEvent();
  out->type = kSystemEventKey;
  out->value = 178 + button;
  out->value2 = down & 0xFF;
}

void SystemManager::makeMouseMoveEvent(SystemEvent* out, int dx, int dy) {
  *out = SystemEvent();
  out->type = kSystemEventMouse;
  out->value = dx;
  out->value2 = dy;
}

void SystemManager::queueEvent(int type, int value, int value2, int dataLength, void* data) {
  SystemEvent event;
  event.type = type;
  event.value = value;
  event.value2 = value2;
  event.dataLength = dataLength;
  event.data = data;
  queue_.queue(event);
}

namespace {
SystemManager* s_systemManager = nullptr;
}

SystemManager* getSystemManager() {
  if (!s_systemManager) {
    s_systemManager = new SystemManager;
    g_systemInterface = s_systemManager;
  }
  return s_systemManager;
}

void destroySystemManager() {
  delete s_systemManager;
  s_systemManager = nullptr;
  g_systemInterface = nullptr;
}

void queueSystemEvent(int type, int value, int value2, int dataLength, void* data) {
  if (!g_systemInterface) {
    freeSystemEventData(data);
    return;
  }
  g_systemInterface->queueEvent(type, value, value2, dataLength, data);
}

uint32_t getMilliseconds() {
  // The clock starts on the first call. A fixed start and a 32-bit difference
  // give what a running ClockTimer would, without state that threads share.
  static const uint32_t s_start = platformMilliseconds();
  return platformMilliseconds() - s_start;
}
