// Fuzzes the sample game's readers of what a server sends its clients: the snapshot's game part
// and the game messages. The first input byte picks the reader; the client stands in a map with
// no render system, so only the readers themselves run.
#include <cstdint>
#include <cstring>

#include "demo/netplay.h"
#include "lib/interface/gameinterface.h"
#include "lib/vector.h"
#include "network/bitmsg.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static GameImports imports = {};
  static const bool ready = [] {
    netplay::setImports(&imports);
    netplay::mapLoaded(Vec3(64.0f, 128.0f, 48.0f), 0.0f, false, true);
    return true;
  }();
  (void)ready;
  fuzz::ByteReader in(data, size);
  const uint8_t choice = in.byte();
  static uint8_t buffer[16384];
  const size_t length = in.restSize() < sizeof(buffer) ? in.restSize() : sizeof(buffer);
  if (length)
    std::memcpy(buffer, in.rest(), length);
  BitMsg msg;
  msg.initRead(buffer, int(length));
  if (choice & 1) {
    netplay::clientReadGameMessage(&msg);
  } else {
    Vec3 origin;
    float yaw = 0.0f;
    float pitch = 0.0f;
    netplay::clientReadSnapshot(&msg, &origin, &yaw, &pitch);
  }
  return 0;
}
