// A 24- or 32-bit TGA the engine wrote (a screenshot), as the engine tests read it back: rows top
// first or bottom first, as its header says.
#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace enginetest {

struct Picture {
  int width = 0;
  int height = 0;
  int bpp = 0;
  bool topFirst = false;
  std::vector<uint8_t> data;  // the whole file
  // r + g + b of the pixel (x, y), rows counted from the top.
  int brightness(int x, int y) const {
    const int row = topFirst ? y : height - 1 - y;
    const size_t at = 18 + (size_t(row) * size_t(width) + size_t(x)) * size_t(bpp);
    return data[at] + data[at + 1] + data[at + 2];
  }
  // Mean of (r + g + b) / 3 over a box given in fractions of the picture (rows top first).
  double mean(double x0, double y0, double x1, double y1) const {
    double sum = 0.0;
    int n = 0;
    for (int y = int(y0 * height); y < int(y1 * height); y++)
      for (int x = int(x0 * width); x < int(x1 * width); x++) {
        sum += brightness(x, y) / 3.0;
        n++;
      }
    return n ? sum / n : 0.0;
  }
};

// False when the file is missing, shorter than its header says or not 24 or 32 bits.
inline bool readPicture(const std::string& path, Picture* out) {
  std::ifstream file(path, std::ios::binary);
  out->data.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  if (out->data.size() < 18)
    return false;
  out->width = out->data[12] | out->data[13] << 8;
  out->height = out->data[14] | out->data[15] << 8;
  out->bpp = out->data[16] / 8;
  out->topFirst = (out->data[17] & 0x20) != 0;
  return out->bpp >= 3 && out->data.size() >= 18 + size_t(out->width) * out->height * out->bpp;
}

}  // namespace enginetest
