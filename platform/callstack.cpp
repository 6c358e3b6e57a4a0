// Call stacks through backtrace, dladdr and the C++ demangler.
#include "platform/callstack.h"

#include <cxxabi.h>
#include <dlfcn.h>
#include <execinfo.h>

#include <cstdlib>
#include <cstring>

__attribute__((noinline)) int platformCaptureCallStack(uint64_t* addresses, int maxFrames) {
  if (!addresses || maxFrames <= 0) {
    return 0;
  }
  constexpr int kMax = 256;
  void* frames[kMax];
  int wanted = maxFrames + 8 < kMax ? maxFrames + 8 : kMax;
  int count = backtrace(frames, wanted);
  // Start at our caller. How many frames lie above it depends on the build
  // (sanitizers wrap backtrace), so look for our own return address.
  void* caller = __builtin_return_address(0);
  int first = 1;
  for (int i = 0; i < count && i < 8; ++i) {
    if (frames[i] == caller) {
      first = i;
      break;
    }
  }
  int stored = 0;
  for (int i = first; i < count && stored < maxFrames; ++i) {
    addresses[stored++] = uint64_t(reinterpret_cast<uintptr_t>(frames[i]));
  }
  return stored;
}

bool platformSymbolName(uint64_t address, char* name, size_t size) {
  if (!name || size == 0) {
    return false;
  }
  name[0] = '\0';
  Dl_info info;
  if (address == 0 || dladdr(reinterpret_cast<void*>(uintptr_t(address)), &info) == 0 || !info.dli_sname) {
    return false;
  }
  int status = 0;
  char* demangled = abi::__cxa_demangle(info.dli_sname, nullptr, nullptr, &status);
  const char* text = status == 0 && demangled ? demangled : info.dli_sname;
  std::strncpy(name, text, size - 1);
  name[size - 1] = '\0';
  std::free(demangled);
  return true;
}
