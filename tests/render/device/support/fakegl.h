// A recording stand-in for every GL entry point and context call the render device makes: each call
// is kept as text ("glScissor(1,2,3,4)"), so tests can check what reached GL and what was filtered.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <type_traits>
#include <vector>

#include "render/device/glextensions.h"

// The text one call is recorded as: name(arg,arg,...) with integers in decimal, floating values as
// %g, pointers as their address in decimal (so buffer offsets read as plain numbers).
namespace fakegl {

inline void appendArg(std::string& out, double value) {
  char text[64];
  std::snprintf(text, sizeof(text), "%g", value);
  out += text;
}
template <typename T>
void appendOne(std::string& out, T value) {
  if constexpr (std::is_pointer_v<T>) {
    out += std::to_string(reinterpret_cast<uintptr_t>(value));
  } else if constexpr (std::is_floating_point_v<T>) {
    appendArg(out, static_cast<double>(value));
  } else {
    out += std::to_string(static_cast<long long>(value));
  }
}
inline void appendArgs(std::string&) {}
template <typename T, typename... Rest>
void appendArgs(std::string& out, T first, Rest... rest) {
  appendOne(out, first);
  if constexpr (sizeof...(rest) > 0) {
    out += ",";
    appendArgs(out, rest...);
  }
}

// Builds the expected text of a call.
template <typename... A>
std::string call(const char* name, A... args) {
  std::string text = name;
  text += "(";
  appendArgs(text, args...);
  text += ")";
  return text;
}

}  // namespace fakegl

class FakeGL {
 public:
  // Replaces every qgl pointer and context hook with recorders; the destructor restores libGL and
  // the platform layer and clears the extension state.
  FakeGL();
  ~FakeGL();
  FakeGL(const FakeGL&) = delete;
  FakeGL& operator=(const FakeGL&) = delete;

  static FakeGL& instance();

  // After the device has loaded extensions (which fetched the fake's dummy addresses), point every
  // extension entry point at a recorder too.
  void recordExtensions();

  void record(std::string text) { calls.push_back(std::move(text)); }
  void clearCalls() { calls.clear(); }
  // Number of recorded calls whose text starts with `prefix`.
  int count(const std::string& prefix) const;
  bool has(const std::string& text) const;
  // Recorded calls joined by "\n" (for failure messages).
  std::string dump() const;

  std::vector<std::string> calls;
  std::string version = "2.1.2 Fake";
  std::string extensions;
  std::map<GLenum, GLint> integers;  // glGetIntegerv answers
  double lastClipPlane[4] = {0, 0, 0, 0};
  // Context side.
  void* currentContext = nullptr;
  void* currentWindow = nullptr;
  int contextsCreated = 0;
  bool failContextCreation = false;
  bool doubleBuffer = true;
  bool swapControl = true;
  std::vector<std::string> procsRequested;
  GLuint nextName = 1;
};

// A window handle for the fake (never dereferenced).
inline void* fakeWindow() {
  return reinterpret_cast<void*>(uintptr_t{0x5000});
}
