// Call stacks of the calling thread with symbol names, for crash reports and
// assertion boxes. Names resolve for exported symbols (link with -rdynamic).
#pragma once

#include <cstddef>
#include <cstdint>

// Return addresses, innermost first (this function's caller is the first);
// the number stored, 0 when the stack cannot be walked.
int platformCaptureCallStack(uint64_t* addresses, int maxFrames);

// The demangled name of the function holding the address, cut to size - 1
// characters; false when no symbol is known (name is then empty).
bool platformSymbolName(uint64_t address, char* name, size_t size);
