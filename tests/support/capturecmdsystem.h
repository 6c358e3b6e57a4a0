// Command-system fakes shared by every test folder: a command system that keeps what the code
// under test prints and registers, and an output hook that collects a real command manager's text.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

#include "lib/interface/cmdsystem.h"

// Installs itself as g_cmdSystem for its lifetime; the destructor puts the previous one back.
// Text is never cut, however long.
class CaptureCmdSystem : public CmdSystem {
 public:
  struct Command {
    CmdFunction function;
    uint32_t flags;
    std::string description;
  };

  CaptureCmdSystem();
  ~CaptureCmdSystem() override;
  CaptureCmdSystem(const CaptureCmdSystem&) = delete;
  CaptureCmdSystem& operator=(const CaptureCmdSystem&) = delete;

  // Calls a registered command with its name as the only word; a missing one fails the test.
  void run(const char* name);

  std::string text;    // what printf and vprintf received
  std::string errors;  // what error() received
  std::string output;  // both of the above, in the order printed
  int errorCount = 0;  // error() calls
  int fatalCount = 0;  // error() calls with fatal set
  // By the name registered; the first registration of a name holds, as in the real manager.
  std::map<std::string, Command> commands;

  void addCommand(const char* name, CmdFunction function, uint32_t flags, const char* description) override;
  void removeCommands(uint32_t) override {}
  void executeText(const char*) override {}
  void appendText(const char*) override {}
  void list(const CmdArgs&) override {}
  void printf(const char* format, ...) override __attribute__((format(printf, 2, 3)));
  void error(int fatal, const char* format, ...) override __attribute__((format(printf, 3, 4)));
  void vprintf(const char* format, va_list args) override;
  const CmdRecord* findCommand(const char*) override { return nullptr; }
  int countMatches(const char*) override { return 0; }
  void completePrefix(char*, size_t, const CmdRecord*) override {}
  void completeCommand(char*, size_t) override {}
  void setOutput(CmdOutputFunction, void*) override {}
  const char* bufferedText() const override { return ""; }

 private:
  CmdSystem* previous_;
};

// Output hook for a real command manager: appends each text to the std::string given as user data,
// e.g. cmd->setOutput(appendOutput, &captured).
void appendOutput(void* user, const char* text);
