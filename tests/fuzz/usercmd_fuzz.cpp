// Fuzzes delta user commands: a base record from the front of the input, then commands read one
// after another from the rest (each the base of the next), as a server reads a client packet.
// Every command read without overflow must code back to itself.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "lib/interface/usercmd.h"
#include "network/bitmsg.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

fuzz::QuietCmdSystem g_quiet;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  g_cmdSystem = &g_quiet;
  UserCmd base;
  std::memset(&base, 0, sizeof(base));
  std::memcpy(&base, data, std::min(size, sizeof(base)));
  const size_t skip = std::min(size, sizeof(base));
  std::vector<uint8_t> packet(data + skip, data + size);

  BitMsg msg;
  msg.initRead(packet.data(), int(packet.size()));
  for (int i = 0; i < 64 && msg.getRemainingReadBits() > 0; ++i) {
    UserCmd cmd;
    msg.readDeltaUserCmd(base, cmd);
    if (msg.isOverflowed())
      break;

    uint8_t buffer[64];
    BitMsg out(buffer, sizeof(buffer));
    out.writeDeltaUserCmd(base, cmd);
    BitMsg back;
    back.initRead(buffer, out.getSize());
    back.setWriteBit(out.getWriteBit());
    UserCmd again;
    back.readDeltaUserCmd(base, again);
    if (out.isOverflowed() || back.isOverflowed() || std::memcmp(&cmd, &again, sizeof(cmd)) != 0)
      __builtin_trap();  // a command read off the wire must code back to itself
    base = cmd;
  }
  return 0;
}
