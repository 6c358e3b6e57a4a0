// Loading of shared modules (the game module, plug-ins) and the text of the
// last loader error. A name ending ".dll" loads the same name ending ".so".
#pragma once

#include <cstddef>

// The loaded module, or null; the reason is kept for platformModuleError.
void* platformModuleLoad(const char* path);
// The address of an exported symbol, or null (also for a null module or name).
void* platformModuleSymbol(void* module, const char* name);
void platformModuleFree(void* module);

// The pending loader error, or null when there is none. Reading it clears it,
// as the operating system's own "last error" does once it is reported.
const char* platformModuleError();
void platformModuleClearError();

// Rewrites a trailing ".dll" (any case) to ".so" into out; false when it does not fit.
bool platformModuleFileName(const char* path, char* out, size_t size);
