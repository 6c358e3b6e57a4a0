// Process-wide heap settings: how the C runtime's allocator returns freed memory to the system.
#pragma once

// Keeps large freed blocks in the heap instead of unmapping them at once. The GL driver allocates and
// frees the same large blocks every frame (vertex and bin storage); handed back to the system each
// time, every frame pays for faulting in fresh zeroed pages. Call once at start-up, before threads
// start allocating. True when the allocator took the settings.
bool platformKeepFreedMemory();
