// An in-memory file system for the device tests: named texts, and a count of how often each was read.
#pragma once

#include <map>
#include <string>

#include "lib/interface/iosystem.h"

class MemoryIOSystem : public IOSystem {
 public:
  // Installs itself as g_ioSystem; the destructor puts the previous one back.
  MemoryIOSystem();
  ~MemoryIOSystem() override;

  void addFile(const std::string& name, const std::string& text) { files[name] = text; }
  int readsOf(const std::string& name) const {
    auto it = reads.find(name);
    return it != reads.end() ? it->second : 0;
  }

  std::map<std::string, std::string> files;
  std::map<std::string, int> reads;

  int openFileRead(const char* name, IOFileHandle* file, bool privateReader) override;
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
  int readFileToBuffer(const char* name, void* buffer, int size, bool osPath) override;
  bool readFile(const char* name, IOData* data, bool osPath) override;
  IOData* loadFile(const char* name, bool osPath) override;
  void freeFile(IOData* data) override;
  void replaceFileName(char*, size_t, const char*) override {}
  void getExtension(char* out, size_t size, const char*) override {
    if (size > 0)
      out[0] = '\0';
  }
  void setExtension(char*, size_t, const char*) override {}
  bool getFileName(const char*, char* out, int size) override {
    if (size > 0)
      out[0] = '\0';
    return false;
  }
  void fixSlashes(char*) override {}
  int getFileListShort(const char*, char*, int, bool) override { return 0; }
  int getFileList(const char*, const char*, char*, int, bool) override { return 0; }
  int countOSFiles(const char*) override { return 0; }
  bool createPath(const char*) override { return false; }
  bool fileExists(const char* name) override { return files.count(name) != 0; }
  bool osFileExists(const char*) override { return false; }
  const char* buildOSPath(const char*, const char*, const char*) override { return nullptr; }

 private:
  IOSystem* previous_;
};
