// A command system that only records printed text, for tests that check what
// the foundation prints through g_cmdSystem. Install it for a scope.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <string>

#include "lib/interface/cmdsystem.h"

class CaptureCmdSystem : public CmdSystem {
 public:
  CaptureCmdSystem() : previous_(g_cmdSystem) { g_cmdSystem = this; }
  ~CaptureCmdSystem() override { g_cmdSystem = previous_; }

  std::string text;    // everything printed
  std::string errors;  // what error() received, with "fatal:" or "error:" in front
  int fatalCount = 0;

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
    char buffer[4096];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof(buffer), format, args);
    va_end(args);
    if (fatal) {
      ++fatalCount;
    }
    errors += fatal ? "fatal:" : "error:";
    errors += buffer;
  }
  void vprintf(const char* format, va_list args) override {
    char buffer[4096];
    std::vsnprintf(buffer, sizeof(buffer), format, args);
    text += buffer;
  }
  const CmdRecord* findCommand(const char*) override { return nullptr; }
  int countMatches(const char*) override { return 0; }
  void completePrefix(char*, size_t, const CmdRecord*) override {}
  void completeCommand(char*, size_t) override {}
  void setOutput(CmdOutputFunction, void*) override {}
  const char* bufferedText() const override { return ""; }

 private:
  CmdSystem* previous_;
};
