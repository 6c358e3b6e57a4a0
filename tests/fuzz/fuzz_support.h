// Shared pieces of the libFuzzer harnesses: a command system that formats and drops every
// printed text (formatting still runs, so a bad argument list is caught), a byte reader that
// turns the front of an input into choices, and the scratch directory of the file harnesses.
#pragma once

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "lib/interface/cmdsystem.h"

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
