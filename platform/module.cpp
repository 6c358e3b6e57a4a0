// Shared modules on dlopen. dlerror() is global and lost at its next call, so
// the last failure text is copied into a thread-local buffer the engine reads.
#include "platform/module.h"

#include <dlfcn.h>

#include <strings.h>
#include <cstdio>
#include <cstring>

namespace {
thread_local char t_error[1024];
thread_local bool t_hasError = false;

void recordError(const char* fallback) {
  const char* text = dlerror();
  std::snprintf(t_error, sizeof(t_error), "%s", text ? text : fallback);
  t_hasError = true;
}
}  // namespace

bool platformModuleFileName(const char* path, char* out, size_t size) {
  if (!path || !out || size == 0)
    return false;
  size_t length = std::strlen(path);
  bool isDll = length >= 4 && strcasecmp(path + length - 4, ".dll") == 0;
  int written = isDll ? std::snprintf(out, size, "%.*s.so", (int)(length - 4), path)
                      : std::snprintf(out, size, "%s", path);
  return written >= 0 && (size_t)written < size;
}

void* platformModuleLoad(const char* path) {
  char name[4096];
  if (!platformModuleFileName(path, name, sizeof(name))) {
    std::snprintf(t_error, sizeof(t_error), "module path too long or empty");
    t_hasError = true;
    return nullptr;
  }
  // A bare name would make dlopen search the library path; the engine means
  // the file itself.
  char relative[4096 + 2];
  const char* open = name;
  if (!std::strchr(name, '/')) {
    std::snprintf(relative, sizeof(relative), "./%s", name);
    open = relative;
  }
  void* module = dlopen(open, RTLD_NOW | RTLD_LOCAL);
  if (!module)
    recordError("module could not be loaded");
  return module;
}

void* platformModuleSymbol(void* module, const char* name) {
  if (!module || !name)
    return nullptr;
  dlerror();
  void* address = dlsym(module, name);
  if (!address)
    recordError("symbol not found");
  return address;
}

void platformModuleFree(void* module) {
  if (module && dlclose(module) != 0)
    recordError("module could not be freed");
}

const char* platformModuleError() {
  if (!t_hasError)
    return nullptr;
  t_hasError = false;
  return t_error;
}

void platformModuleClearError() {
  t_hasError = false;
  dlerror();
}
