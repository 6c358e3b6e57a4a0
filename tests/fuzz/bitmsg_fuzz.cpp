// Fuzzes the bit-message readers: the front of the input is a script picking every typed reader
// (and the delta coder's) in turn, the rest is the received packet, read as a foreign buffer and
// as a writable message whose write position does not end on a byte.
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

  // The delta coder's typed readers the shared script leaves out, with and without a base.
  BitMsg deltaMsg;
  deltaMsg.initRead(packet.data(), int(packet.size()));
  BitMsg baseMsg;
  baseMsg.initRead(packet.data(), int(packet.size()));
  BitMsgDelta delta;
  delta.initReading(header & 0x40 ? &baseMsg : nullptr, nullptr, &deltaMsg);
  for (size_t i = 0; i < scriptLength; ++i) {
    switch (script[i] % 9) {
      case 0:
        delta.readFloat();
        break;
      case 1:
        delta.readAngle16();
        break;
      case 2:
        delta.readDeltaFloat(1.0f);
        break;
      case 3:
        delta.readDeltaInt(script[i]);
        break;
      case 4:
        delta.readBool();
        break;
      case 5:
        delta.readChar();
        break;
      case 6:
        delta.readByte();
        break;
      case 7:
        delta.readShort();
        break;
      default:
        delta.readInt();
        break;
    }
  }
  if (deltaMsg.getReadBit() > deltaMsg.getWriteBit() || baseMsg.getReadBit() > baseMsg.getWriteBit())
    __builtin_trap();

  if (!packet.empty()) {
    BitMsg writable(packet.data(), int(packet.size()));
    const int cut = header & 0x80 ? 1 + packet[0] % 7 : 0;
    writable.setWriteBit(int(packet.size()) * 8 - cut);
    if (!readSequence(writable, script, scriptLength))
      __builtin_trap();
  }
  return 0;
}
