// The command-system fakes shared by the tests.
#include "tests/support/capturecmdsystem.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

// Formats in full: two passes over copies of the arguments.
std::string formatText(const char* format, va_list args) {
  va_list measure;
  va_copy(measure, args);
  const int length = std::vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  if (length <= 0) {
    return std::string();
  }
  std::string text(static_cast<size_t>(length), '\0');
  va_list write;
  va_copy(write, args);
  std::vsnprintf(text.data(), text.size() + 1, format, write);
  va_end(write);
  return text;
}

}  // namespace

CaptureCmdSystem::CaptureCmdSystem() : previous_(g_cmdSystem) {
  g_cmdSystem = this;
}

CaptureCmdSystem::~CaptureCmdSystem() {
  g_cmdSystem = previous_;
}

void CaptureCmdSystem::run(const char* name) {
  auto it = commands.find(name);
  if (it == commands.end()) {
    ADD_FAILURE() << "no command \"" << name << "\" was registered";
    return;
  }
  CmdArgs args;
  args.addWord(name);
  it->second.function(args);
}

void CaptureCmdSystem::addCommand(const char* name, CmdFunction function, uint32_t flags,
                                  const char* description) {
  if (name != nullptr) {
    commands.emplace(name, Command{function, flags, description ? description : ""});
  }
}

void CaptureCmdSystem::printf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  vprintf(format, args);
  va_end(args);
}

void CaptureCmdSystem::error(int fatal, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string message = formatText(format, args);
  va_end(args);
  ++errorCount;
  if (fatal) {
    ++fatalCount;
  }
  errors += message;
  output += message;
}

void CaptureCmdSystem::vprintf(const char* format, va_list args) {
  const std::string message = formatText(format, args);
  text += message;
  output += message;
}

void appendOutput(void* user, const char* text) {
  static_cast<std::string*>(user)->append(text);
}
