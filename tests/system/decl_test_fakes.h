// Fixtures of the declaration tests: an in-memory file system that records every file read, a
// sound cache handing out counted fake samples, and captured command-manager output.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "lib/interface/cmdsystem.h"
#include "lib/interface/iosystem.h"
#include "lib/interface/soundsystem.h"
#include "lib/str.h"
#include "system/cmdmanager.h"
#include "system/declmanager.h"

namespace decltest {

inline std::string lower(std::string text) {
  for (char& c : text)
    c = String::toLowerChar(c);
  return text;
}

// Files by name (case-insensitive, as the engine's file system), listed in insertion order.
class MemoryFiles : public IOSystem {
 public:
  void add(const std::string& name, const std::string& text) {
    for (auto& file : files)
      if (lower(file.first) == lower(name)) {
        file.second = text;
        return;
      }
    files.emplace_back(name, text);
  }
  const std::string* lookup(const char* name) const {
    for (const auto& file : files)
      if (lower(file.first) == lower(name))
        return &file.second;
    return nullptr;
  }

  IOData* loadFile(const char* name, bool) override {
    reads.push_back(name);
    const std::string* text = lookup(name);
    if (!text)
      return nullptr;
    IOData* data = new IOData;
    data->buffer = new char[text->size() + 1];
    std::memcpy(data->buffer, text->c_str(), text->size() + 1);
    data->length = int(text->size());
    data->heapOwned = true;
    return data;
  }
  void freeFile(IOData* data) override { delete data; }
  bool fileExists(const char* name) override { return lookup(name) != nullptr; }
  int getFileList(const char* directory, const char* extension, char* buffer, int size, bool) override {
    ++listings;
    std::string prefix = lower(std::string(directory) + "/");
    int used = 0;
    int count = 0;
    for (const auto& file : files) {
      std::string name = lower(file.first);
      if (name.rfind(prefix, 0) != 0 || !String::iendsWith(name.c_str(), extension))
        continue;
      std::string rest = file.first.substr(prefix.size());
      if (used + int(rest.size()) >= size)
        break;  // cut, as the engine's listing is
      std::memcpy(buffer + used, rest.c_str(), rest.size() + 1);
      used += int(rest.size()) + 1;
      ++count;
    }
    return count;
  }

  // The rest is never reached by the declaration manager.
  int openFileRead(const char*, IOFileHandle*, bool) override { return -1; }
  int openOSFileRead(const char*, IOFileHandle*) override { return 0; }
  IOFileHandle openFileWrite(const char*) override { return 0; }
  int printf(IOFileHandle, const char*, ...) override { return 0; }
  int read(void*, int, IOFileHandle) override { return 0; }
  int write(const void*, int, IOFileHandle) override { return 0; }
  void closeFile(IOFileHandle) override {}
  int tell(IOFileHandle) override { return 0; }
  int seek(IOFileHandle, int, int) override { return 0; }
  int copyFileToPack(const char*, const char*) override { return -1; }
  int writeToPack(const char*, const char*, const void*, int) override { return -1; }
  int readFileToBuffer(const char*, void*, int, bool) override { return 0; }
  bool readFile(const char*, IOData*, bool) override { return false; }
  void replaceFileName(char*, size_t, const char*) override {}
  void getExtension(char* out, size_t size, const char*) override {
    if (size)
      out[0] = '\0';
  }
  void setExtension(char*, size_t, const char*) override {}
  bool getFileName(const char*, char* out, int size) override {
    if (size)
      out[0] = '\0';
    return false;
  }
  void fixSlashes(char*) override {}
  int getFileListShort(const char*, char*, int, bool) override { return 0; }
  int countOSFiles(const char*) override { return 0; }
  bool createPath(const char*) override { return false; }
  bool osFileExists(const char*) override { return false; }
  const char* buildOSPath(const char*, const char*, const char*) override { return nullptr; }

  std::vector<std::pair<std::string, std::string>> files;
  std::vector<std::string> reads;
  int listings = 0;
};

// Samples are names; names starting with "missing" cannot be loaded.
class FakeSoundCache : public SoundCache {
 public:
  SoundSample* findSound(const char* name) override {
    if (std::strncmp(name, "missing", 7) == 0)
      return nullptr;
    for (size_t i = 0; i < names.size(); ++i)
      if (names[i] == name) {
        ++refs[i];
        return reinterpret_cast<SoundSample*>(i + 1);
      }
    names.push_back(name);
    refs.push_back(1);
    return reinterpret_cast<SoundSample*>(names.size());
  }
  void releaseSound(SoundSample* sample) override { --refs[reinterpret_cast<size_t>(sample) - 1]; }
  std::string nameOf(const SoundSample* sample) const {
    return sample ? names[reinterpret_cast<size_t>(sample) - 1] : "<null>";
  }
  int held() const {
    int total = 0;
    for (int r : refs)
      total += r;
    return total;
  }
  std::vector<std::string> names;
  std::vector<int> refs;
};

// The declaration manager over memory files, with the command manager's output captured.
class DeclFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    g_ioSystem = &files_;
    g_soundCache = &sounds_;
    getCmdManager()->setOutput(capture, this);
    decls_ = createDeclSystem();
  }
  void TearDown() override {
    destroyDeclSystem();
    g_soundCache = nullptr;
    EXPECT_EQ(sounds_.held(), 0) << "every sample reference is released";
    destroyCmdManager();
    g_ioSystem = nullptr;
  }
  static void capture(void* user, const char* text) { static_cast<DeclFixture*>(user)->output_ += text; }
  std::string takeOutput() {
    std::string out = output_;
    output_.clear();
    return out;
  }

  MemoryFiles files_;
  FakeSoundCache sounds_;
  DeclManager* decls_ = nullptr;
  std::string output_;
};

}  // namespace decltest
