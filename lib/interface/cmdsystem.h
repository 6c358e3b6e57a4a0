// Console commands: the registry, the command buffer and the engine's print and error entry points.
// One implementation (CmdManager, system/cmdmanager.h) is published through g_cmdSystem.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

#include "lib/interface/iosystem.h"

// The longest line "loadcfg" reads; longer lines are skipped whole, so nothing "writecfg" saves
// may be longer.
constexpr int kCmdConfigLineLength = 511;

// The words of one executed statement. Word 0 is the command's own name; a quoted string is one
// word without its quotes. Words beyond the count read as "".
class CmdArgs {
 public:
  static constexpr int kMaxArgs = 64;
  static constexpr int kBufferSize = 2047;

  CmdArgs() { clear(); }
  CmdArgs(const CmdArgs& other) { *this = other; }
  CmdArgs& operator=(const CmdArgs& other);

  int argc() const { return count_; }
  const char* argv(int index) const { return index >= 0 && index < count_ ? words_[index] : ""; }
  // Words from `first` on, joined by single blanks, in `out` (at most size - 1 characters).
  const char* join(int first, char* out, size_t size) const;

  void clear();
  // Splits one statement: words end at blanks, tabs and carriage returns, the statement at ";" or a
  // line break outside quotes. Returns the number of characters consumed from `text`, the separator
  // included. Words past 64, or text past the 2,047-byte buffer, are dropped.
  size_t tokenize(const char* text);
  // Appends one word as is (for callers that build an argument list themselves).
  bool addWord(const char* word);

 private:
  int count_;
  size_t used_;
  const char* words_[kMaxArgs];
  char buffer_[kBufferSize];
};

using CmdFunction = void (*)(const CmdArgs& args);

// Registration flags; removeCommands selects records by them.
enum CmdFlag : uint32_t {
  kCmdFlagEngine = 0x2,  // ordinary commands
  kCmdFlagVideo = 0x4,   // the video commands carry 0x2 | 0x4
  kCmdFlagSound = 0x8,   // the sound commands carry 0x2 | 0x8
};

// One registered command. The manager owns it; the description is a copy owned by the record.
struct CmdRecord {
  char name[128];
  char* description;
  CmdFunction function;
  uint32_t flags;
  CmdRecord* next;  // registration order
};

// Receives every printed text (the drop-down console installs one; tests capture output with it).
using CmdOutputFunction = void (*)(void* user, const char* text);

class CmdSystem {
 public:
  virtual ~CmdSystem() = default;

  // Ignored for a null name or a name already registered (case-insensitive).
  virtual void addCommand(const char* name, CmdFunction function, uint32_t flags,
                          const char* description) = 0;
  virtual void removeCommands(uint32_t mask) = 0;
  // Appends `text` to the buffer, then runs statements until the buffer is empty or a "wait" holds.
  virtual void executeText(const char* text) = 0;
  // Appends ";" and `text`; a text that does not fit is dropped with a warning.
  virtual void appendText(const char* text) = 0;
  virtual void list(const CmdArgs& args) = 0;
  virtual void printf(const char* format, ...) __attribute__((format(printf, 2, 3))) = 0;
  // fatal 1: error box, then "quit"; otherwise printed.
  virtual void error(int fatal, const char* format, ...) __attribute__((format(printf, 3, 4))) = 0;
  virtual void vprintf(const char* format, va_list args) = 0;

  // Skips one leading "+" or "-"; case-insensitive. Null when absent or for a null name.
  virtual const CmdRecord* findCommand(const char* name) = 0;
  // Commands whose names begin with `prefix` (case-insensitive).
  virtual int countMatches(const char* prefix) = 0;
  // Extends `text` (a buffer of `size` bytes) toward `record`'s name while the match count holds.
  virtual void completePrefix(char* text, size_t size, const CmdRecord* record) = 0;
  // Tab completion over variables and commands; prints the candidates and rewrites `text`.
  virtual void completeCommand(char* text, size_t size) = 0;

  // Where printed text goes besides standard output (standard output only while "con_devconsole"
  // is set). Null removes the hook.
  virtual void setOutput(CmdOutputFunction function, void* user) = 0;
  // The text currently buffered (for diagnostics and tests).
  virtual const char* bufferedText() const = 0;
};

inline CmdSystem* g_cmdSystem = nullptr;

// Prints through the command system when one exists; code that may run before it (or in tests
// without it) prints nothing.
void cmdPrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The key-binding part of "writecfg": one "setkey %-22s \"%s\"\n" line per bound key. "writecfg"
// itself writes the "// KEYS" header and "clearkeys"; the key bindings install the writer.
class KeyBindingWriter {
 public:
  virtual ~KeyBindingWriter() = default;
  virtual void writeSetKeys(IOFileHandle file) = 0;
};

inline KeyBindingWriter* g_keyBindingWriter = nullptr;
