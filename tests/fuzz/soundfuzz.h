// Shared body of the sound-reader harnesses: the input becomes a file of the given extension,
// the factory opens it, and everything it yields is read, rewound and read again in odd pieces.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sound/soundstream.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/sound/support/soundtestio.h"

namespace soundfuzz {

inline int run(const uint8_t* data, size_t size, const char* name) {
  static fuzz::QuietCmdSystem quiet;
  g_cmdSystem = &quiet;
  SoundTestIO io;
  io.addBytes(name, std::string(reinterpret_cast<const char*>(data), size));
  SoundStream* stream = openSoundStream(name);
  if (stream) {
    std::vector<uint8_t> buf(4099);
    int64_t total = 0;
    // Bounded: a small input may legitimately expand, but not without end.
    for (int n; total < (8 << 20) && (n = stream->read(buf.data(), int(buf.size()))) > 0;)
      total += n;
    if (stream->rewind()) {
      int got = 0;
      stream->readFully(buf.data(), 1001, true, &got);
      stream->skip(5000, false);
    }
    SoundStream* copy = stream->clone();
    delete copy;
    delete stream;
  }
  g_cmdSystem = nullptr;
  return 0;
}

}  // namespace soundfuzz
