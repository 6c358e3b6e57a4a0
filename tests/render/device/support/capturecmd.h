// A command system that only keeps what is printed, so tests can assert the device's messages.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <string>

#include "lib/interface/cmdsystem.h"

class CaptureCmdSystem : public CmdSystem {
 public:
  // Installs itself as g_cmdSystem; the destructor puts the previous one back.
  CaptureCmdSystem() : previous_(g_cmdSystem) { g_cmdSystem = this; }
  ~CaptureCmdSystem() override { g_cmdSystem = previous_; }

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
  void error(int fatal, const char* format, ...) override {
    va_list args;
    va_start(args, format);
    vprintf(format, args);
    va_end(args);
    errors += fatal ? 1 : 0;
  }
  void vprintf(const char* format, va_list args) override {
    char text[8192];
    std::vsnprintf(text, sizeof(text), format, args);
    output += text;
  }
  const CmdRecord* findCommand(const char*) override { return nullptr; }
  int countMatches(const char*) override { return 0; }
  void completePrefix(char*, size_t, const CmdRecord*) override {}
  void completeCommand(char*, size_t) override {}
  void setOutput(CmdOutputFunction, void*) override {}
  const char* bufferedText() const override { return ""; }

  std::string output;
  int errors = 0;

 private:
  CmdSystem* previous_;
};
