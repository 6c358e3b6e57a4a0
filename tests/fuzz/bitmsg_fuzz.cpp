// Fuzzes the bit-message readers: the front of the input is a script picking every typed reader
// (and the delta coder) in turn, the rest is the received packet, read as a foreign buffer and as
// a writable message whose write position does not end on a byte.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "lib/keydict.h"
#include "network/bitmsg.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/network/support/readsequence.h"

namespace {

fuzz::QuietCmdSystem g_quiet;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  g_cmdSystem = &g_quiet;
  KeyDict::initPools();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::ByteReader in(data, size);
  const uint8_t header = in.byte();
  const size_t scriptLength = std::min<size_t>(header % 128, in.restSize());
  const uint8_t* script = in.rest();
  in.skip(scriptLength);
  // An exact-size copy, so ASan sees any read past the packet.
  std::vector<uint8_t> packet(in.rest(), in.rest() + in.restSize());

  BitMsg msg;
  msg.initRead(packet.data(), int(packet.size()));
  if (!readSequence(msg, script, scriptLength))
    __builtin_trap();  // the read position passed the written bits

  if (!packet.empty()) {
    BitMsg writable(packet.data(), int(packet.size()));
    const int cut = header & 0x80 ? 1 + packet[0] % 7 : 0;
    writable.setWriteBit(int(packet.size()) * 8 - cut);
    if (!readSequence(writable, script, scriptLength))
      __builtin_trap();
  }
  return 0;
}
