// Helpers shared inside the texture library.
#pragma once

// Prints through the command system when it exists.
void imagePrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));
