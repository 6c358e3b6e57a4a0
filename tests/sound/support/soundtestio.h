// A file system for the sound tests and harnesses: whole files in memory that readers open, read,
// seek and tell through handles, listings of a folder by extension, and operating-system paths
// under a real temporary folder (written on demand) for what loads files itself (plug-ins).
#pragma once

#include <map>
#include <string>

#include "tests/support/memoryiosystem.h"

class SoundTestIO : public MemoryIOSystem {
 public:
  // osRoot: where buildOSPath puts files; empty keeps them in memory only.
  explicit SoundTestIO(std::string osRoot = "");

  void addBytes(const std::string& name, const std::string& bytes) { files[name] = bytes; }
  // Adds a file read from disk; false when it cannot be read.
  bool addFromDisk(const std::string& name, const std::string& path);
  int openCount() const { return int(handles_.size()); }
  long long bytesRead = 0;  // by read(), over every handle: the work a reader does
  long long readCalls = 0;  // read() calls, those at the end of a file too

  int openFileRead(const char* name, IOFileHandle* file, bool privateReader) override;
  int read(void* buffer, int length, IOFileHandle file) override;
  void closeFile(IOFileHandle file) override;
  int tell(IOFileHandle file) override;
  int seek(IOFileHandle file, int offset, int origin) override;
  int getFileList(const char* directory, const char* extension, char* buffer, int size, bool recursive) override;
  const char* buildOSPath(const char* basePath, const char* gameDir, const char* name) override;

 private:
  struct Open {
    std::string name;
    long position = 0;
  };
  std::map<IOFileHandle, Open> handles_;
  IOFileHandle next_ = 100;
  std::string osRoot_;
  std::string osPath_;
};

std::string readDiskFile(const std::string& path);
// The folder of the committed fixtures.
std::string soundFixtureDir();
