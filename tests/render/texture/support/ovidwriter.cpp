// The test writer of ".ovid" videos.
#include "render/texture/support/ovidwriter.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <jpeglib.h>

namespace textest {

void CodeStreamWriter::code(int c) {
  if (left_ == 0) {
    word_ = bytes.size();
    bytes.push_back(0);
    bytes.push_back(0);
    left_ = 8;
  }
  left_--;
  uint16_t w = uint16_t(bytes[word_] | (bytes[word_ + 1] << 8));
  w = uint16_t(w | ((c & 3) << (left_ * 2)));
  bytes[word_] = uint8_t(w & 0xFF);
  bytes[word_ + 1] = uint8_t(w >> 8);
}

OvidWriter::OvidWriter(int width, int height, uint32_t infoSize) {
  chunk(0x1084, {});
  std::vector<uint8_t> info(infoSize, 0);
  if (infoSize >= 2) {
    info[0] = uint8_t(width & 0xFF);
    info[1] = uint8_t(width >> 8);
  }
  if (infoSize >= 4) {
    info[2] = uint8_t(height & 0xFF);
    info[3] = uint8_t(height >> 8);
  }
  chunk(0x1001, info);
}

void OvidWriter::chunk(uint16_t id, const std::vector<uint8_t>& data, uint16_t argument) {
  const uint32_t size = uint32_t(data.size());
  const uint8_t header[8] = {uint8_t(id & 0xFF), uint8_t(id >> 8), uint8_t(size), uint8_t(size >> 8),
                             uint8_t(size >> 16), uint8_t(size >> 24), uint8_t(argument & 0xFF),
                             uint8_t(argument >> 8)};
  bytes.insert(bytes.end(), header, header + 8);
  bytes.insert(bytes.end(), data.begin(), data.end());
}

void OvidWriter::codebook(const std::vector<uint8_t>& cells2, const std::vector<uint8_t>& cells4,
                          uint16_t argument) {
  std::vector<uint8_t> data = cells2;
  data.insert(data.end(), cells4.begin(), cells4.end());
  chunk(0x1002, data, argument);
}

void OvidWriter::jpeg(const std::vector<uint8_t>& rgb, int width, int height, int quality) {
  chunk(0x1012, encodeJpeg(rgb, width, height, quality));
}

void OvidWriter::dds(const std::vector<uint8_t>& blocks, int width, int height) {
  chunk(0x1013, makeDdsDxt1(blocks, width, height));
}

std::vector<uint8_t> makeDdsDxt1(const std::vector<uint8_t>& blocks, int width, int height) {
  // Sized for the blocks from the start: GCC's optimiser misreads an insert at the end of the
  // 128-byte header as a write past it.
  std::vector<uint8_t> b(128 + blocks.size(), 0);
  auto put32 = [&](size_t at, uint32_t v) {
    for (int k = 0; k < 4; k++)
      b[at + size_t(k)] = uint8_t(v >> (8 * k));
  };
  std::memcpy(b.data(), "DDS ", 4);
  put32(4, 124);
  put32(12, uint32_t(height));
  put32(16, uint32_t(width));
  put32(28, 1);
  put32(76, 32);
  put32(80, 0x4);
  std::memcpy(&b[84], "DXT1", 4);
  std::copy(blocks.begin(), blocks.end(), b.begin() + 128);
  return b;
}

std::vector<uint8_t> encodeJpeg(const std::vector<uint8_t>& rgb, int width, int height, int quality) {
  jpeg_compress_struct cinfo;
  jpeg_error_mgr err;
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_compress(&cinfo);
  unsigned char* out = nullptr;
  unsigned long outSize = 0;
  jpeg_mem_dest(&cinfo, &out, &outSize);
  cinfo.image_width = JDIMENSION(width);
  cinfo.image_height = JDIMENSION(height);
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, quality, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(rgb.data() + size_t(cinfo.next_scanline) * size_t(width) * 3);
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  std::vector<uint8_t> result(out, out + outSize);
  jpeg_destroy_compress(&cinfo);
  std::free(out);
  return result;
}

}  // namespace textest
