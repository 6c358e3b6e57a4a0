// Fuzzes the OGG sound reader through the stream factory and its file source.
#include "tests/fuzz/soundfuzz.h"

// libvorbisfile itself loses 8 bytes of its serial-number list when some malformed streams fail
// to open (inside its header fetch, after our callbacks have returned); that is the library's, so
// the harness does not report it.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libvorbisfile.so\n";
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return soundfuzz::run(data, size, "f.ogg");
}
