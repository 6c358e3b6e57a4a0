// An in-memory file system shared by every test folder: whole files by name, counts of what was
// read, loaded and freed, and files written through the operating-system paths it hands out.
#pragma once

#include <cstddef>
#include <map>
#include <string>

#include "lib/interface/iosystem.h"

// Installs itself as g_ioSystem for its lifetime; the destructor puts the previous one back.
// Game-relative names are looked up as gamePrefix + name, operating-system paths as they stand.
// buildOSPath gives "os/<game dir>/<name>" ("game" when none is named) and only paths under "os/"
// can be written, so a write through a path that buildOSPath did not make is caught.
// Open files serve writing only; listings are empty.
class MemoryIOSystem : public IOSystem {
 public:
  MemoryIOSystem();
  ~MemoryIOSystem() override;
  MemoryIOSystem(const MemoryIOSystem&) = delete;
  MemoryIOSystem& operator=(const MemoryIOSystem&) = delete;

  void addFile(const std::string& name, const std::string& text) { files[name] = text; }
  int readsOf(const std::string& name) const;

  std::string gamePrefix;  // "os/game/" makes game-relative names the files buildOSPath names
  std::map<std::string, std::string> files;
  std::map<std::string, int> reads;          // whole-file reads, by the name asked for
  int loaded = 0;                            // records loadFile handed out
  int freed = 0;                             // records given back to freeFile
  std::map<IOFileHandle, std::string> open;  // files open for writing, by handle

  int openFileRead(const char* name, IOFileHandle* file, bool privateReader) override;
  int openOSFileRead(const char*, IOFileHandle*) override { return 0; }
  IOFileHandle openFileWrite(const char* path) override;
  int printf(IOFileHandle file, const char* format, ...) override __attribute__((format(printf, 3, 4)));
  int read(void*, int, IOFileHandle) override { return 0; }
  int write(const void* buffer, int length, IOFileHandle file) override;
  void closeFile(IOFileHandle file) override { open.erase(file); }
  bool closeFileChecked(IOFileHandle file, const char* replace) override;
  int tell(IOFileHandle) override { return 0; }
  int seek(IOFileHandle, int, int) override { return 0; }
  int copyFileToPack(const char*, const char*) override { return -1; }
  int writeToPack(const char*, const char*, const void*, int) override { return -1; }
  int readFileToBuffer(const char* name, void* buffer, int size, bool osPath) override;
  bool readFile(const char* name, IOData* data, bool osPath) override;
  IOData* loadFile(const char* name, bool osPath) override;
  void freeFile(IOData* data) override;
  void replaceFileName(char*, size_t, const char*) override {}
  void getExtension(char* out, size_t size, const char*) override;
  void setExtension(char*, size_t, const char*) override {}
  bool getFileName(const char*, char* out, int size) override;
  void fixSlashes(char*) override {}
  int getFileListShort(const char*, char*, int, bool) override { return 0; }
  int getFileList(const char*, const char*, char*, int, bool) override { return 0; }
  int countOSFiles(const char*) override { return 0; }
  bool createPath(const char*) override { return true; }
  bool fileExists(const char* name) override;
  bool osFileExists(const char* path) override { return files.count(path) != 0; }
  const char* buildOSPath(const char* basePath, const char* gameDir, const char* name) override;

 private:
  // The file a name stands for, or null.
  const std::string* find(const char* name, bool osPath) const;

  IOSystem* previous_;
  IOFileHandle nextHandle_ = 1;
  std::string lastPath_;
};
