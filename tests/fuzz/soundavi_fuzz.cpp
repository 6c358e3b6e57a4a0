// Fuzzes the AVI sound reader through the stream factory and its file source; inputs that begin
// as an ASF header are named ".wmv", so both containers are reached.
#include <cstring>

#include "tests/fuzz/soundfuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const uint8_t kAsfGuid[4] = {0x30, 0x26, 0xB2, 0x75};
  const bool asf = size >= 4 && std::memcmp(data, kAsfGuid, 4) == 0;
  return soundfuzz::run(data, size, asf ? "f.wmv" : "f.avi");
}
