// Assertion prompt, warnings and call-stack text over the platform's dialog
// and stack walker.
#include "lib/assert.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "lib/interface/cmdsystem.h"
#include "lib/interface/commonsystem.h"
#include "lib/str.h"
#include "platform/callstack.h"
#include "platform/dialog.h"

namespace {

struct IgnoredAssert {
  const char* message;  // the caller's literals, not copied
  const char* file;
  int line;
};

IgnoredAssert s_ignored[ASSERT_MAX_IGNORED];
int s_ignoredCount = 0;

constexpr size_t kCallStackTextSize = 16384;

}  // namespace

bool assertIsIgnored(const char* file, int line) {
  for (int i = 0; i < s_ignoredCount; ++i) {
    if (s_ignored[i].line == line &&
        String::icmp(s_ignored[i].file ? s_ignored[i].file : "", file ? file : "") == 0) {
      return true;
    }
  }
  return false;
}

void assertClearIgnored() {
  s_ignoredCount = 0;
}

int assertIgnoredCount() {
  return s_ignoredCount;
}

bool assertPrompt(const char* message, const char* file, int line) {
  if (assertIsIgnored(file, line)) {
    return false;
  }
  char text[2048];
  std::snprintf(text, sizeof(text), "%s\nFILE: %s\nLINE: %d\n\nIgnore this assert?", message ? message : "",
                file ? file : "", line);
  // Once the common manager exists its box echoes "ASSERT: ..." to the console,
  // shows the cursor and keeps the window's messages flowing; it adds the stack.
  if (g_commonSystem) {
    int choice = g_commonSystem->assertBox(text, "ASSERT");
    if (choice == 0) {
      if (s_ignoredCount < ASSERT_MAX_IGNORED) {
        s_ignored[s_ignoredCount++] = {message, file, line};
      }
      return false;
    }
    return choice == 1;
  }
  // The box shows the stack below the question.
  String stack;
  getCallStackText(stack);
  String boxText(text);
  boxText.append("\n");
  boxText.append(stack.c_str());
  int answer = platformMessageBox(boxText.c_str(), "ASSERT", PLATFORM_DIALOG_YES_NO_CANCEL,
                                  PLATFORM_DIALOG_WARNING, PLATFORM_ANSWER_YES);
  if (answer == PLATFORM_ANSWER_YES) {
    if (s_ignoredCount < ASSERT_MAX_IGNORED) {
      s_ignored[s_ignoredCount++] = {message, file, line};
    }
    return false;
  }
  return answer == PLATFORM_ANSWER_NO;
}

void printWarning(const char* message, const char* file, int line) {
  if (g_cmdSystem) {
    g_cmdSystem->error(0, "WARNING: %s\nFILE: %s\nLINE: %d\n", message ? message : "", file ? file : "",
                       line);
  }
}

__attribute__((noinline)) int walkCallStack(const void* context, CallStackFrame* frames, int maxFrames) {
  (void)context;
  if (!frames || maxFrames <= 0) {
    return -1;
  }
  uint64_t addresses[CALLSTACK_MAX_FRAMES];
  int wanted = maxFrames < CALLSTACK_MAX_FRAMES ? maxFrames : CALLSTACK_MAX_FRAMES;
  // The platform walker starts at its caller, so frame 0 is this function.
  int count = platformCaptureCallStack(addresses, wanted);
  if (count <= 0) {
    return -1;
  }
  for (int i = 0; i < count; ++i) {
    frames[i].address = addresses[i];
    if (!platformSymbolName(addresses[i], frames[i].name, sizeof(frames[i].name))) {
      std::strcpy(frames[i].name, "Unknown...");
    }
  }
  return count;
}

__attribute__((noinline)) bool printCallStack(char* buffer, size_t size) {
  if (!buffer || size == 0) {
    return false;
  }
  buffer[0] = '\0';
  CallStackFrame frames[CALLSTACK_MAX_FRAMES];
  int count = walkCallStack(nullptr, frames, CALLSTACK_MAX_FRAMES);
  if (count < 0) {
    return false;
  }
  size_t used = 0;
  // Frames 0 and 1 are walkCallStack and this function.
  for (int i = 2; i < count; ++i) {
    char line[300];
    int length =
        std::snprintf(line, sizeof(line), "0x%016" PRIX64 " | %s\n", frames[i].address, frames[i].name);
    if (length < 0) {
      break;
    }
    size_t n = size_t(length) < sizeof(line) ? size_t(length) : sizeof(line) - 1;
    if (used + n + 1 > size) {
      break;
    }
    std::memcpy(buffer + used, line, n);
    used += n;
    buffer[used] = '\0';
  }
  return true;
}

bool getCallStackText(String& out) {
  out.clear();
  char buffer[kCallStackTextSize];
  if (!printCallStack(buffer, sizeof(buffer))) {
    return false;
  }
  out = buffer;
  return true;
}
