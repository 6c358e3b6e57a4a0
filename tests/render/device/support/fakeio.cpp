// The in-memory file system of the device tests.
#include "render/device/support/fakeio.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

MemoryIOSystem::MemoryIOSystem() : previous_(g_ioSystem) {
  g_ioSystem = this;
}

MemoryIOSystem::~MemoryIOSystem() {
  g_ioSystem = previous_;
}

int MemoryIOSystem::openFileRead(const char* name, IOFileHandle* file, bool) {
  if (file != nullptr) {
    *file = 0;
  }
  auto it = files.find(name);
  return it != files.end() ? static_cast<int>(it->second.size()) : -1;
}

int MemoryIOSystem::readFileToBuffer(const char* name, void* buffer, int size, bool) {
  auto it = files.find(name);
  if (it == files.end()) {
    return 0;
  }
  ++reads[name];
  const int length = static_cast<int>(it->second.size());
  if (length >= size) {
    return 0;
  }
  std::memcpy(buffer, it->second.data(), length);
  static_cast<char*>(buffer)[length] = '\0';
  return length;
}

bool MemoryIOSystem::readFile(const char* name, IOData* data, bool) {
  auto it = files.find(name);
  if (it == files.end() || data == nullptr) {
    return false;
  }
  ++reads[name];
  const size_t length = it->second.size();
  data->buffer = new char[length + 1];
  std::memcpy(data->buffer, it->second.data(), length);
  data->buffer[length] = '\0';
  data->length = static_cast<int>(length);
  std::snprintf(data->name, sizeof(data->name), "%s", name);
  return true;
}

IOData* MemoryIOSystem::loadFile(const char* name, bool osPath) {
  IOData* data = new IOData();
  if (!readFile(name, data, osPath)) {
    delete data;
    return nullptr;
  }
  data->heapOwned = true;
  return data;
}

void MemoryIOSystem::freeFile(IOData* data) {
  delete data;
}
