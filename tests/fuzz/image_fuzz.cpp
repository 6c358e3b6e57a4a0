// Fuzzes the image decoders: the same bytes go to the TGA, BMP, DDS and JPEG readers through their
// memory entry points; an image one of them accepts is decoded a second time into the block the
// first decode allocated, as the texture manager reuses blocks.
#include <cstdint>
#include <cstring>
#include <vector>

#include "lib/interface/texmanager.h"
#include "render/texture/imagefiles.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

fuzz::QuietCmdSystem g_quiet;

using Decoder = bool (*)(const uint8_t*, uint32_t, ImageData*, bool);

bool decodeDDS(const uint8_t* bytes, uint32_t length, ImageData* out, bool allocate) {
  return loadDDSFromMemory(bytes, int(length), out, allocate);
}

const Decoder kDecoders[] = {decodeTGA, decodeBMP, decodeDDS, loadJPEGFromMemory};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  g_cmdSystem = &g_quiet;
  // An exact-size copy, so ASan sees any read past the file.
  std::vector<uint8_t> bytes(data, data + size);
  for (Decoder decode : kDecoders) {
    ImageData image;
    std::memset(&image, 0, sizeof(image));
    if (decode(bytes.data(), uint32_t(bytes.size()), &image, true)) {
      ImageData again = image;
      decode(bytes.data(), uint32_t(bytes.size()), &again, false);
    }
    imageFree(image.pixels);
  }
  return 0;
}
