// Fuzzes the AVI sound reader through the stream factory and its file source.
#include "tests/fuzz/soundfuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return soundfuzz::run(data, size, "f.avi");
}
