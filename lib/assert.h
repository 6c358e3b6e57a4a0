// Assertion prompt with its table of ignored assertions, warnings with a
// source position, and call-stack text. Main thread only.
#pragma once

#include <cstddef>
#include <cstdint>

class String;

// True when the caller should stop in the debugger (the user answered No).
// Yes remembers the file and line and never asks about them again; Cancel
// continues and asks again next time. Without a display the box answers Yes.
bool assertPrompt(const char* message, const char* file, int line);
// Same line and a file name equal without regard to case.
bool assertIsIgnored(const char* file, int line);
// Empties the ignore table (tests and restarts).
void assertClearIgnored();
int assertIgnoredCount();
constexpr int ASSERT_MAX_IGNORED = 1024;

// "WARNING: %s\nFILE: %s\nLINE: %d\n" through the command manager's error
// print; nothing before the command manager exists.
void printWarning(const char* message, const char* file, int line);

struct CallStackFrame {
  uint64_t address;
  char name[256];  // "Unknown..." when no symbol is known
};
constexpr int CALLSTACK_MAX_FRAMES = 64;

// The calling thread's frames, innermost (walkCallStack itself) first. The
// context is accepted for callers that have one and ignored: the walk always
// starts here. Negative on failure.
int walkCallStack(const void* context, CallStackFrame* frames, int maxFrames);
// One line per frame from the third on: "0x%016llX | name\n", added while a
// whole line fits in size bytes; always terminated. False when the walk fails.
bool printCallStack(char* buffer, size_t size);
// The stack into out (16,384 bytes at most); out is left empty on failure.
bool getCallStackText(String& out);

// Engine assertion: reports a false condition through assertPrompt and traps
// when the user chooses to break.
#define QASSERT(condition)                                              \
  do {                                                                  \
    if (!(condition) && assertPrompt(#condition, __FILE__, __LINE__)) { \
      __builtin_trap();                                                 \
    }                                                                   \
  } while (0)
