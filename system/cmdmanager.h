// CmdManager: the console command registry, the 1,024-byte command buffer run once per frame, and
// the print and error entry points every subsystem reaches through g_cmdSystem. Main thread only.
#pragma once

#include <cstdio>
#include <string>

#include "lib/interface/cmdsystem.h"
#include "lib/interface/convarsystem.h"

class CmdManager : public CmdSystem {
 public:
  static constexpr size_t kBufferSize = 1024;
  // "loadcfg" inside a loaded file nests; deeper than this is refused.
  static constexpr int kMaxConfigDepth = 16;
  // Files one executeText from outside a configuration file (a typed line, a frame's buffer) may
  // load in all: the depth alone does not bound a file that loads itself on several lines (k
  // lines give k^16 loads).
  static constexpr int kMaxConfigLoads = 64;
  // Configuration files larger than this are refused (a real one is a few kilobytes).
  static constexpr int kMaxConfigBytes = 4 * 1024 * 1024;

  using ClockFunction = uint32_t (*)();
  using ErrorBoxFunction = void (*)(const char* text, const char* caption);
  // Returns true when the caller should stop at a debugger breakpoint.
  using AssertPromptFunction = bool (*)(const char* message, const char* file, int line);

  CmdManager();
  ~CmdManager() override;

  void addCommand(const char* name, CmdFunction function, uint32_t flags, const char* description) override;
  void removeCommands(uint32_t mask) override;
  void executeText(const char* text) override;
  void appendText(const char* text) override;
  void list(const CmdArgs& args) override;
  void printf(const char* format, ...) override __attribute__((format(printf, 2, 3)));
  void error(int fatal, const char* format, ...) override __attribute__((format(printf, 3, 4)));
  void vprintf(const char* format, va_list args) override;

  const CmdRecord* findCommand(const char* name) override;
  int countMatches(const char* prefix) override;
  void completePrefix(char* text, size_t size, const CmdRecord* record) override;
  void completeCommand(char* text, size_t size) override;
  void setOutput(CmdOutputFunction function, void* user) override;
  const char* bufferedText() const override { return buffer_; }

  // The millisecond clock "wait" counts on (the monotonic clock unless a test replaces it).
  void setClock(ClockFunction clock) { clock_ = clock; }
  // Fatal errors show their text here (the common manager installs its error box); without one
  // the text is printed.
  void setErrorBox(ErrorBoxFunction function) { errorBox_ = function; }
  // The prompt "crash" raises (the engine's assertion prompt unless a test replaces it).
  void setAssertPrompt(AssertPromptFunction function) { assertPrompt_ = function; }

  // Console command bodies, public for the command table.
  void writeConfig(const CmdArgs& args);
  void loadConfig(const CmdArgs& args);
  void toggle(const CmdArgs& args);
  void crash(const CmdArgs& args);
  // Prints what was held back while the developer echo was off, once it is on.
  void flushEcho();

 private:
  // Splits the first statement off the buffer into `args`; false when nothing but blanks remained.
  bool splitStatement(CmdArgs& args);
  bool waiting() const;
  // Sets a variable from console text, refusing the file system's start-up-only paths.
  void setFromText(ConVar* var, const char* text);
  // The developer echo on standard output (and, while it is off and no console takes the text,
  // warnings and errors on standard error).
  void echo(const char* text);
  static void writePlain(const char* text, FILE* stream);
  // Warns, naming the file and line, about what on a configuration line shows a damaged or cut
  // file (an open quote, a word naming nothing) and numbers the variables they set cannot hold.
  void checkConfigLine(const char* line, const char* file, int lineNumber);

  static constexpr size_t kBacklogSize = 65536;
  std::string backlog_;

  char buffer_[kBufferSize];
  CmdRecord* head_;
  CmdRecord* tail_;
  uint32_t waitUntil_;
  bool waitSet_;
  int configDepth_;
  int configLoads_;  // files loaded since the outermost executeText began
  CmdOutputFunction output_;
  void* outputUser_;
  ClockFunction clock_;
  ErrorBoxFunction errorBox_;
  AssertPromptFunction assertPrompt_;
};

// Creates the manager on first use and publishes g_cmdSystem.
CmdManager* getCmdManager();
// The manager when it exists, else null.
CmdManager* findCmdManager();
// Deletes the manager and every command; clears g_cmdSystem.
void destroyCmdManager();
