// Pixel-format facts shared by the image code: components, bits, names, level counts and sizes.
#include <algorithm>

#include "lib/interface/texmanager.h"

namespace {

struct FormatInfo {
  int components;
  int bits;  // per component; for DXT formats a quarter of the 4x4 block's bits
  const char* name;
};

const FormatInfo kFormats[kPixelFormatCount] = {
    {0, 8, "n/a"},     {1, 8, "I8"},       {2, 8, "L8A8"},     {3, 8, "888"},      {4, 8, "8888"},
    {1, 16, "I16"},    {2, 16, "I16A16"},  {3, 16, "RGB16i"},  {4, 16, "RGBA16i"}, {1, 16, "I16f"},
    {2, 16, "A16f"},   {3, 16, "RGB16f"},  {4, 16, "RGBA16f"}, {1, 32, "I32f"},    {2, 32, "A32f"},
    {3, 32, "RGB32f"}, {4, 32, "RGBA32f"}, {3, 0, "n/a"},      {3, 0, "555"},      {4, 0, "4444"},
    {4, 0, "10A2"},    {4, 16, "DXT1"},    {4, 32, "DXT3"},    {4, 32, "DXT5"},    {1, 0, "n/a"},
    {2, 0, "n/a"},     {1, 16, "D16"},     {1, 0, "D24"},      {1, 32, "D32"},
};

bool valid(int format) {
  return format >= 0 && format < kPixelFormatCount;
}

}  // namespace

int imageFormatComponents(int format) {
  return valid(format) ? kFormats[format].components : 0;
}
int imageFormatBitsPerComponent(int format) {
  return valid(format) ? kFormats[format].bits : 0;
}
int imageFormatBitsPerPixel(int format) {
  return valid(format) ? kFormats[format].components * kFormats[format].bits : 0;
}
const char* imageFormatName(int format) {
  return valid(format) ? kFormats[format].name : "n/a";
}
bool imageFormatIsFloat(int format) {
  return format >= 9 && format <= 16;
}
bool imageFormatIsCompressed(int format) {
  return format >= kPixelFormatDXT1 && format <= kPixelFormatDXT5;
}
bool imageFormatIsDepth(int format) {
  return format >= kPixelFormatDepth16 && format <= kPixelFormatDepth32;
}

int imageMipLevels(int size) {
  int levels = 1;
  while (size > 1) {
    size >>= 1;
    ++levels;
  }
  return levels;
}

int imageMipCountFor(const ImageInfo* info) {
  return imageMipLevels(std::max({info->width, info->height, info->depth}));
}

int64_t imageCompressedLevelSize(int format, int width, int height) {
  const int64_t blocks = int64_t((std::max(width, 0) + 3) / 4) * ((std::max(height, 0) + 3) / 4);
  return blocks * (format == kPixelFormatDXT1 ? 8 : 16);
}

int64_t imageByteSize(const ImageInfo* info, uint32_t flags) {
  const int format = info->pixelFormat;
  const bool compressed = imageFormatIsCompressed(format);
  const int64_t bits = imageFormatBitsPerPixel(format);
  int64_t width = std::max(info->width, 0);
  int64_t height = std::max(info->height, 0);
  int64_t depth = std::max(info->depth, 1);
  int64_t total = 0;
  for (;;) {
    total += compressed ? imageCompressedLevelSize(format, int(width), int(height))
                        : width * height * depth * bits / 8;
    if ((flags & kImageNoMips) || std::max({width, height, depth}) <= 1)
      break;
    width = std::max<int64_t>(width / 2, 1);
    height = std::max<int64_t>(height / 2, 1);
    depth = std::max<int64_t>(depth / 2, 1);
  }
  return total;
}
