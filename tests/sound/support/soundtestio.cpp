#include "tests/sound/support/soundtestio.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

SoundTestIO::SoundTestIO(std::string osRoot) : osRoot_(std::move(osRoot)) {}

std::string readDiskFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string soundFixtureDir() {
#ifdef QUILL_SOUND_FIXTURES
  return std::string(QUILL_SOUND_FIXTURES);
#else
  return "";
#endif
}

bool SoundTestIO::addFromDisk(const std::string& name, const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in)
    return false;
  files[name] = readDiskFile(path);
  return true;
}

int SoundTestIO::openFileRead(const char* name, IOFileHandle* file, bool) {
  auto it = files.find(name);
  if (file)
    *file = 0;
  if (it == files.end())
    return -1;
  if (file) {
    *file = next_++;
    handles_[*file] = Open{name, 0};
  }
  return int(it->second.size());
}

int SoundTestIO::read(void* buffer, int length, IOFileHandle file) {
  ++readCalls;
  auto h = handles_.find(file);
  if (h == handles_.end() || length <= 0)
    return 0;
  const std::string& data = files[h->second.name];
  const long left = long(data.size()) - h->second.position;
  const int n = int(length < left ? length : left);
  if (n <= 0)
    return 0;
  std::memcpy(buffer, data.data() + h->second.position, size_t(n));
  h->second.position += n;
  bytesRead += n;
  return n;
}

void SoundTestIO::closeFile(IOFileHandle file) {
  handles_.erase(file);
  MemoryIOSystem::closeFile(file);
}

int SoundTestIO::tell(IOFileHandle file) {
  auto h = handles_.find(file);
  return h == handles_.end() ? 0 : int(h->second.position);
}

int SoundTestIO::seek(IOFileHandle file, int offset, int origin) {
  auto h = handles_.find(file);
  if (h == handles_.end())
    return 0;
  const long size = long(files[h->second.name].size());
  const long base = origin == 0 ? 0 : origin == 2 ? size : h->second.position;
  const long target = base + offset;
  if (target < 0 || target > size)
    return 0;
  h->second.position = target;
  return 1;
}

int SoundTestIO::getFileList(const char* directory, const char* extension, char* buffer, int size, bool) {
  const std::string prefix = std::string(directory) + "/";
  int count = 0, used = 0;
  for (const auto& [name, bytes] : files) {
    if (name.compare(0, prefix.size(), prefix) != 0)
      continue;
    const std::string rest = name.substr(prefix.size());
    const size_t ext = std::strlen(extension);
    if (rest.size() < ext || rest.compare(rest.size() - ext, ext, extension) != 0)
      continue;
    if (used + int(rest.size()) + 1 > size)
      break;
    std::memcpy(buffer + used, rest.c_str(), rest.size() + 1);
    used += int(rest.size()) + 1;
    ++count;
  }
  return count;
}

const char* SoundTestIO::buildOSPath(const char*, const char*, const char* name) {
  if (osRoot_.empty())
    return MemoryIOSystem::buildOSPath("", nullptr, name);
  osPath_ = osRoot_ + "/" + name;
  auto it = files.find(name);
  // Written once: rewriting a loaded library under its mapping would corrupt it.
  if (it != files.end() && !std::filesystem::exists(osPath_)) {
    std::filesystem::create_directories(std::filesystem::path(osPath_).parent_path());
    std::ofstream out(osPath_, std::ios::binary);
    out << it->second;
  }
  return osPath_.c_str();
}
