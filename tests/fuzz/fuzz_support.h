// Shared pieces of the libFuzzer harnesses: a command system that formats and drops every
// printed text (formatting still runs, so a bad argument list is caught), and a byte reader
// that turns the front of an input into choices.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>

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

}  // namespace fuzz
