// Shared pieces of the libFuzzer harnesses: a command system that formats and drops every
// printed text (formatting still runs, so a bad argument list is caught), a file system that serves
// the input as declaration files, the block names of a declaration text, a byte reader that turns
// the front of an input into choices, and the scratch directory of the file harnesses.
#pragma once

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "lib/interface/cmdsystem.h"
#include "lib/interface/iosystem.h"
#include "lib/str.h"
#include "lib/tokenparser.h"

namespace fuzz {

class QuietCmdSystem : public CmdSystem {
 public:
  void addCommand(const char*, CmdFunction, uint32_t, const char*) override {}
  void removeCommands(uint32_t) override {}
  void executeText(const char*) override {}
  void appendText(const char*) override {}
  void list(const CmdArgs&) override {}
  void printf(const char* format, ...) override {
    va_list args;
    va_start(args, format);
    vprintf(format, args);
    va_end(args);
  }
  void error(int, const char* format, ...) override {
    va_list args;
    va_start(args, format);
    vprintf(format, args);
    va_end(args);
  }
  void vprintf(const char* format, va_list args) override {
    char buffer[4096];
    std::vsnprintf(buffer, sizeof(buffer), format, args);
  }
  const CmdRecord* findCommand(const char*) override { return nullptr; }
  int countMatches(const char*) override { return 0; }
  void completePrefix(char*, size_t, const CmdRecord*) override {}
  void completeCommand(char*, size_t) override {}
  void setOutput(CmdOutputFunction, void*) override {}
  const char* bufferedText() const override { return ""; }
};

// Serves one text (the caller's, read at each request) as every ".mtx" file; nothing else exists.
// A harness that reads other kinds too names them in serves().
class MtxIOSystem : public IOSystem {
 public:
  explicit MtxIOSystem(const std::string* text) : text_(text) {}
  int openFileRead(const char*, IOFileHandle* file, bool) override {
    if (file)
      *file = 0;
    return -1;
  }
  int openOSFileRead(const char*, IOFileHandle* file) override {
    if (file)
      *file = 0;
    return -1;
  }
  IOFileHandle openFileWrite(const char*) override { return 0; }
  int printf(IOFileHandle, const char*, ...) override { return 0; }
  int read(void*, int, IOFileHandle) override { return 0; }
  int write(const void*, int, IOFileHandle) override { return 0; }
  void closeFile(IOFileHandle) override {}
  int tell(IOFileHandle) override { return 0; }
  int seek(IOFileHandle, int, int) override { return -1; }
  int copyFileToPack(const char*, const char*) override { return -1; }
  int writeToPack(const char*, const char*, const void*, int) override { return -1; }
  int readFileToBuffer(const char*, void*, int, bool) override { return -1; }
  bool readFile(const char* name, IOData* data, bool) override {
    if (!serves(name))
      return false;
    const size_t n = text_->size();
    delete[] data->buffer;
    data->buffer = new char[n + 1];
    std::memcpy(data->buffer, text_->data(), n);
    data->buffer[n] = '\0';
    data->length = int(n);
    std::snprintf(data->name, sizeof(data->name), "%s", name);
    return true;
  }
  IOData* loadFile(const char* name, bool osPath) override {
    IOData* data = new IOData;
    if (!readFile(name, data, osPath)) {
      delete data;
      return nullptr;
    }
    data->heapOwned = true;
    return data;
  }
  void freeFile(IOData* data) override { delete data; }
  void replaceFileName(char*, size_t, const char*) override {}
  void getExtension(char* out, size_t size, const char*) override {
    if (size)
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
  bool fileExists(const char*) override { return false; }
  bool osFileExists(const char*) override { return false; }
  const char* buildOSPath(const char*, const char*, const char* name) override { return name; }

 protected:
  // The files that hold the text.
  virtual bool serves(const char* name) const { return String::iendsWith(name, ".mtx"); }

 private:
  const std::string* text_;
};

// Names written directly before a "{" in text (block names), at most eight.
inline std::vector<std::string> blockNames(const std::string& text) {
  std::vector<std::string> names;
  TokenParser parser;
  parser.pushText(text.c_str());
  char previous[TokenParserLevel::kTokenSize] = "";
  char token[TokenParserLevel::kTokenSize];
  int tokens = 0;
  while (names.size() < 8 && tokens++ < 4096 && parser.readToken(token, sizeof(token), true)) {
    if (std::strcmp(token, "{") == 0 && previous[0] && std::strcmp(previous, "}") != 0)
      names.push_back(previous);
    std::snprintf(previous, sizeof(previous), "%s", token);
  }
  return names;
}

// Output hook for the real command manager: drops the text.
inline void dropOutput(void*, const char*) {}

// Takes choice bytes from the front of an input; past the end every choice reads 0.
class ByteReader {
 public:
  ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  bool empty() const { return pos_ >= size_; }
  const uint8_t* rest() const { return data_ + pos_; }
  size_t restSize() const { return size_ - pos_; }
  void skip(size_t n) { pos_ = n > size_ - pos_ ? size_ : pos_ + n; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

// A directory of this process below TMPDIR (else /dev/shm, memory-backed, else /tmp) with a
// "media" folder, made the working directory. libFuzzer ends on a finding or an interrupt
// without running exit handlers, so directories of processes that are gone are removed here.
inline std::filesystem::path makeScratchDirectory(const char* kind) {
  namespace fs = std::filesystem;
  const char* tmp = std::getenv("TMPDIR");
  const fs::path base = tmp && *tmp                     ? fs::path(tmp)
                        : access("/dev/shm", W_OK) == 0 ? fs::path("/dev/shm")
                                                        : fs::path("/tmp");
  const std::string prefix = std::string("quill_fuzz_") + kind + "_";
  std::error_code ignored;
  for (const fs::directory_entry& entry : fs::directory_iterator(base, ignored)) {
    const std::string name = entry.path().filename().string();
    if (name.compare(0, prefix.size(), prefix) != 0)
      continue;
    const long pid = std::strtol(name.c_str() + prefix.size(), nullptr, 10);
    if (pid > 0 && kill(pid_t(pid), 0) != 0 && errno == ESRCH)
      fs::remove_all(entry.path(), ignored);
  }
  const fs::path root = base / (prefix + std::to_string(getpid()));
  fs::create_directories(root / "media");
  fs::current_path(root);
  return root;
}

}  // namespace fuzz
