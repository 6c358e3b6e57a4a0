// A writer of ".ovid" videos for the tests: the signature and info chunks, codebooks, raw, quad,
// JPEG, DDS and block-delta frames. Quad and block-delta frames are written code by code, so the
// tests spell out what each block does and know the picture it must give.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace textest {

// The code and argument stream of quad and block-delta frames, laid out as the decoder reads it:
// a 16-bit word is reserved at the moment a code needs one, argument bytes go where they fall.
class CodeStreamWriter {
 public:
  void code(int c);
  void byte(uint8_t b) { bytes.push_back(b); }
  void block(const uint8_t* b, int n) { bytes.insert(bytes.end(), b, b + n); }
  std::vector<uint8_t> bytes;

 private:
  size_t word_ = 0;
  int left_ = 0;
};

class OvidWriter {
 public:
  // Signature and info chunks; `infoSize` below 8 or a zero side make broken headers.
  OvidWriter(int width, int height, uint32_t infoSize = 8);
  void chunk(uint16_t id, const std::vector<uint8_t>& data, uint16_t argument = 0);
  // 2x2 cells as (Y0 Y1 Y2 Y3 Cb Cr), then 4x4 cells as four 2x2 indexes.
  void codebook(const std::vector<uint8_t>& cells2, const std::vector<uint8_t>& cells4, uint16_t argument);
  void raw(const std::vector<uint8_t>& pixels) { chunk(0x1010, pixels); }
  void quad(const CodeStreamWriter& codes) { chunk(0x1011, codes.bytes); }
  // Pixels as RGB rows, encoded at the given quality.
  void jpeg(const std::vector<uint8_t>& rgb, int width, int height, int quality);
  // One DXT1 level of (w+3)/4 x (h+3)/4 blocks in a DDS file.
  void dds(const std::vector<uint8_t>& blocks, int width, int height);
  void delta(const CodeStreamWriter& codes) { chunk(0x1014, codes.bytes); }

  std::vector<uint8_t> bytes;
};

// A DDS file of one DXT1 level.
std::vector<uint8_t> makeDdsDxt1(const std::vector<uint8_t>& blocks, int width, int height);
// A JPEG file of RGB rows.
std::vector<uint8_t> encodeJpeg(const std::vector<uint8_t>& rgb, int width, int height, int quality);

}  // namespace textest
