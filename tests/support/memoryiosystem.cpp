// The in-memory file system shared by the tests.
#include "tests/support/memoryiosystem.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

MemoryIOSystem::MemoryIOSystem() : previous_(g_ioSystem) {
  g_ioSystem = this;
}

MemoryIOSystem::~MemoryIOSystem() {
  g_ioSystem = previous_;
}

int MemoryIOSystem::readsOf(const std::string& name) const {
  auto it = reads.find(name);
  return it != reads.end() ? it->second : 0;
}

const std::string* MemoryIOSystem::find(const char* name, bool osPath) const {
  auto it = files.find(osPath ? std::string(name) : gamePrefix + name);
  return it != files.end() ? &it->second : nullptr;
}

int MemoryIOSystem::openFileRead(const char* name, IOFileHandle* file, bool) {
  if (file != nullptr) {
    *file = 0;
  }
  const std::string* text = find(name, false);
  return text ? static_cast<int>(text->size()) : -1;
}

IOFileHandle MemoryIOSystem::openFileWrite(const char* path) {
  if (std::strncmp(path, "os/", 3) != 0) {
    return 0;
  }
  files[path].clear();
  open[nextHandle_] = path;
  return nextHandle_++;
}

int MemoryIOSystem::printf(IOFileHandle file, const char* format, ...) {
  // At most 4,096 bytes, as the interface promises.
  char text[4096];
  va_list args;
  va_start(args, format);
  const int length = std::vsnprintf(text, sizeof(text), format, args);
  va_end(args);
  auto it = open.find(file);
  if (it == open.end()) {
    return 0;
  }
  files[it->second] += text;
  return length;
}

int MemoryIOSystem::write(const void* buffer, int length, IOFileHandle file) {
  auto it = open.find(file);
  if (it == open.end()) {
    return 0;
  }
  files[it->second].append(static_cast<const char*>(buffer), static_cast<size_t>(length));
  return length;
}

int MemoryIOSystem::readFileToBuffer(const char* name, void* buffer, int size, bool osPath) {
  const std::string* text = find(name, osPath);
  if (text == nullptr) {
    return 0;
  }
  ++reads[name];
  const int length = static_cast<int>(text->size());
  if (length >= size) {
    return 0;
  }
  std::memcpy(buffer, text->data(), static_cast<size_t>(length));
  static_cast<char*>(buffer)[length] = '\0';
  return length;
}

bool MemoryIOSystem::readFile(const char* name, IOData* data, bool osPath) {
  const std::string* text = find(name, osPath);
  if (text == nullptr || data == nullptr) {
    return false;
  }
  ++reads[name];
  const size_t length = text->size();
  data->buffer = new char[length + 1];
  std::memcpy(data->buffer, text->data(), length);
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
  ++loaded;
  return data;
}

void MemoryIOSystem::freeFile(IOData* data) {
  if (data == nullptr) {
    return;
  }
  ++freed;
  delete[] data->buffer;
  data->buffer = nullptr;
  if (data->heapOwned) {
    delete data;
  }
}

void MemoryIOSystem::getExtension(char* out, size_t size, const char*) {
  if (size > 0) {
    out[0] = '\0';
  }
}

bool MemoryIOSystem::getFileName(const char*, char* out, int size) {
  if (size > 0) {
    out[0] = '\0';
  }
  return false;
}

bool MemoryIOSystem::fileExists(const char* name) {
  return find(name, false) != nullptr;
}

const char* MemoryIOSystem::buildOSPath(const char*, const char* gameDir, const char* name) {
  lastPath_ = "os/" + std::string(gameDir && *gameDir ? gameDir : "game") + "/" + name;
  return lastPath_.c_str();
}

bool MemoryIOSystem::closeFileChecked(IOFileHandle file, const char* replace) {
  auto it = open.find(file);
  if (it == open.end()) {
    return false;
  }
  const std::string path = it->second;
  open.erase(it);
  if (replace != nullptr && path != replace) {
    files[replace] = files[path];
    files.erase(path);
  }
  return true;
}
