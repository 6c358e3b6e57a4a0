// TGA, BMP and DDS codecs, the pixel conversion they share, the loaders over the file system and
// writeImageFile. JPEG lives in imagejpeg.cpp. Sizes from headers are computed in 64 bits and
// checked against the bytes present before anything is copied.
#include "render/texture/imagefiles.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "lib/interface/cmdsystem.h"
#include "lib/interface/iosystem.h"
#include "lib/str.h"

namespace {

uint32_t readU16(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8;
}
uint32_t readU32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
void writeU16(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
void writeU32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i)
    p[i] = uint8_t(v >> (8 * i));
}

// Bits per source pixel of the formats the decoders hand to the conversion.
int sourceBits(int pixelFormat) {
  switch (pixelFormat) {
    case kPixelFormatI8:
      return 8;
    case kPixelFormatRGB5:
      return 16;
    case kPixelFormatRGB:
      return 24;
    case kPixelFormatRGBA:
      return 32;
    default:
      return 0;
  }
}

bool sizeAcceptable(int64_t width, int64_t height) {
  return width > 0 && height > 0 && width <= kImageMaxSide && height <= kImageMaxSide &&
         width * height <= kImageMaxPixels;
}

// Source and destination never overlap; saying so lets the compiler vectorise the swap.
void swapRowBGR(const uint8_t* __restrict src, uint8_t* __restrict dst, int width) {
  for (int x = 0; x < width * 3; x += 3) {
    dst[x] = src[x + 2];
    dst[x + 1] = src[x + 1];
    dst[x + 2] = src[x];
  }
}

void resetRecord(ImageData* out, int width, int height, int format) {
  out->info.width = width;
  out->info.height = height;
  out->info.depth = 0;
  out->info.pixelFormat = format;
  out->info.textureType = kTextureType2D;
  out->info.quality = 99;
  out->mipCount = 0;
}

// The conversion over rows `srcStride` bytes apart; palette indices at or past paletteEntries
// give black.
bool convertRows(const uint8_t* src, size_t srcStride, ImageData* out, uint32_t flags, const uint8_t* palette,
                 int paletteEntries) {
  const int bits = sourceBits(out->info.pixelFormat);
  if (bits < 8 || bits > 32 || !src)
    return false;
  if (bits == 8 && !palette)
    return false;
  const int width = out->info.width;
  const int height = out->info.height;
  if (!sizeAcceptable(width, height))
    return false;
  const int dstFormat = bits < 24 ? kPixelFormatRGB : out->info.pixelFormat;
  const int dstBpp = dstFormat == kPixelFormatRGBA ? 4 : 3;
  const int64_t size = int64_t(width) * height * dstBpp;
  uint8_t* dst;
  if (flags & kConvertAllocate) {
    dst = imageAlloc(size_t(size) + 4);
    if (!dst)
      return false;
  } else {
    if (!out->pixels || out->byteSize < size)
      return false;
    dst = out->pixels;
  }
  for (int y = 0; y < height; ++y) {
    const uint8_t* s = src + size_t(y) * srcStride;
    const int row = (flags & kConvertFlipRows) ? height - 1 - y : y;
    uint8_t* d = dst + size_t(row) * size_t(width) * dstBpp;
    switch (bits) {
      case 8:
        for (int x = 0; x < width; ++x, d += 3) {
          const int index = s[x];
          if (index < paletteEntries) {
            const uint8_t* entry = palette + index * 4;
            d[0] = entry[2];
            d[1] = entry[1];
            d[2] = entry[0];
          } else {
            d[0] = d[1] = d[2] = 0;
          }
        }
        break;
      case 16:
        for (int x = 0; x < width; ++x, d += 3) {
          const uint32_t v = readU16(s + x * 2);
          d[0] = uint8_t((v >> 8) & 0xF8);
          d[1] = uint8_t((v >> 3) & 0xFC);
          d[2] = uint8_t((v << 3) & 0xFF);
        }
        break;
      case 24:
        swapRowBGR(s, d, width);
        break;
      default:
        for (int x = 0; x < width; ++x, d += 4, s += 4) {
          d[0] = s[2];
          d[1] = s[1];
          d[2] = s[0];
          d[3] = s[3];
        }
        break;
    }
  }
  if (flags & kConvertAllocate) {
    out->pixels = dst;
    out->byteSize = int32_t(size);
  }
  out->info.pixelFormat = dstFormat;
  return true;
}

// The file the loader is decoding, named in refusals (null for decodes from memory).
const char* s_decodingName = nullptr;
bool s_boundsReported = false;

// Once per decoded file: a cut file would otherwise repeat it for every row. The texture manager's
// warning that follows names the file.
void boundsError() {
  if (s_boundsReported)
    return;
  s_boundsReported = s_decodingName != nullptr;
  cmdPrintf("error..  data extracted has exceeded it's bounds\n");
}

// Says once what was refused and why: "WARNING: BMP 'name' refused: <reason>".
void refuse(const char* kind, const char* format, ...) __attribute__((format(printf, 2, 3)));
void refuse(const char* kind, const char* format, ...) {
  char reason[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(reason, sizeof(reason), format, args);
  va_end(args);
  if (s_decodingName)
    cmdPrintf("WARNING: %s '%s' refused: %s\n", kind, s_decodingName, reason);
  else
    cmdPrintf("WARNING: %s refused: %s\n", kind, reason);
}

bool refuseSize(const char* kind, int64_t width, int64_t height) {
  refuse(kind, "a size of %lld x %lld is empty or too large", (long long)width, (long long)height);
  return false;
}

bool loadWith(const char* name, ImageData* out, bool (*decode)(const uint8_t*, uint32_t, ImageData*, bool)) {
  if (!name || !out || !g_ioSystem)
    return false;
  IOData* file = g_ioSystem->loadFile(name, false);
  if (!file)
    file = g_ioSystem->loadFile(name, true);
  if (!file)
    return false;
  s_decodingName = name;
  s_boundsReported = false;
  const bool ok = file->length > 0 &&
                  decode(reinterpret_cast<const uint8_t*>(file->buffer), uint32_t(file->length), out, true);
  s_decodingName = nullptr;
  g_ioSystem->freeFile(file);
  return ok;
}

bool decodeDDSAdapter(const uint8_t* bytes, uint32_t length, ImageData* out, bool allocate) {
  return length <= 0x7FFFFFFFu && loadDDSFromMemory(bytes, int(length), out, allocate);
}

bool writeWholeFile(const char* name, const uint8_t* bytes, size_t length) {
  if (!name || !g_ioSystem || length > 0x7FFFFFFF)
    return false;
  IOFileHandle file = g_ioSystem->openFileWrite(name);
  if (!file)
    return false;
  // The checked close fails on a write, flush or close the disk refused (a full disk shows up at
  // the last buffered block); the file system then keeps the old file and removes the new one.
  const bool written = g_ioSystem->write(bytes, int(length), file) == int(length);
  return g_ioSystem->closeFileChecked(file, nullptr) && written;
}

}  // namespace

uint8_t* imageAlloc(size_t bytes) {
  if (bytes == 0 || bytes > (size_t(1) << 31))
    return nullptr;
  return new (std::nothrow) uint8_t[bytes];
}

void imageFree(uint8_t* pixels) {
  delete[] pixels;
}

bool convertImagePixels(const uint8_t* src, ImageData* out, uint32_t flags, const uint8_t* palette) {
  if (!out)
    return false;
  const int bits = sourceBits(out->info.pixelFormat);
  return convertRows(src, size_t(out->info.width > 0 ? out->info.width : 0) * size_t(bits / 8), out, flags,
                     palette, 256);
}

// --- TGA ---

namespace {

// 0..31 to 0..255 rounded down, as other readers widen 5-bit channels.
uint8_t widen5(uint32_t v) {
  return uint8_t(v * 255 / 31);
}

// Packed 1-5-5-5 pixels (x-red-green-blue from the top bit) to blue-green-red(-alpha) bytes, then
// through the common conversion (row order, allocation).
bool convertTGA16(const uint8_t* src, ImageData* out, uint32_t flags, bool alpha) {
  const int width = out->info.width;
  const int height = out->info.height;
  const int bpp = alpha ? 4 : 3;
  uint8_t* wide = imageAlloc(size_t(width) * size_t(height) * bpp);
  if (!wide)
    return false;
  uint8_t* d = wide;
  for (int64_t i = 0; i < int64_t(width) * height; ++i, d += bpp) {
    const uint32_t v = readU16(src + i * 2);
    d[0] = widen5(v & 0x1F);
    d[1] = widen5((v >> 5) & 0x1F);
    d[2] = widen5((v >> 10) & 0x1F);
    if (alpha)
      d[3] = (v & 0x8000) ? 255 : 0;
  }
  const bool ok = convertRows(wide, size_t(width) * bpp, out, flags, nullptr, 0);
  imageFree(wide);
  return ok;
}

}  // namespace

bool decodeTGA(const uint8_t* bytes, uint32_t length, ImageData* out, bool allocate) {
  if (!bytes || !out)
    return false;
  if (length < 18) {
    refuse("TGA", "%u bytes are too few for a header", length);
    return false;
  }
  const uint32_t idLength = bytes[0];
  const uint32_t colorMapType = bytes[1];
  const uint32_t type = bytes[2];
  const uint32_t mapLength = readU16(bytes + 5);
  const uint32_t mapEntryBits = bytes[7];
  const uint32_t originX = readU16(bytes + 8);
  const uint32_t originY = readU16(bytes + 10);
  const int width = int(readU16(bytes + 12));
  const int height = int(readU16(bytes + 14));
  const int bits = bytes[16];
  const uint8_t descriptor = bytes[17];
  if (type != 2 && type != 10) {
    refuse("TGA", "image type %u is not supported (only 2 and 10, true colour)", type);
    return false;
  }
  int format;
  switch (bits) {
    case 32:
      format = kPixelFormatRGBA;
      break;
    case 24:
      format = kPixelFormatRGB;
      break;
    case 16:
      format = kPixelFormatRGB5;
      break;
    case 8:
      format = kPixelFormatI8;
      break;
    default:
      refuse("TGA", "%d bits per pixel are not supported", bits);
      return false;
  }
  if (bits == 8) {
    refuse("TGA", "8-bit true-colour pixels have no palette");
    return false;
  }
  if (originX != 0) {
    cmdPrintf("WARNING: X-flipped TGA not supported...uOriginX = %u, Size = %d x %d, BitDepth = %d\n",
                originX, width, height, bits);
  }
  if (!sizeAcceptable(width, height))
    return refuseSize("TGA", width, height);
  const int bpp = bits / 8;
  // 16-bit TGA pixels are 1-5-5-5 (the top bit an attribute, alpha when the descriptor counts
  // alpha bits); they are widened here, then converted like 24 or 32 bits.
  const bool alpha16 = bits == 16 && (descriptor & 0x0F) != 0;
  if (bits == 16)
    format = alpha16 ? kPixelFormatRGBA : kPixelFormatRGB;
  const uint64_t size = uint64_t(width) * uint64_t(height) * uint64_t(bpp);
  const bool topFirst = (descriptor & 0x20) != 0;
  const bool flip = topFirst == (originY != 0);
  resetRecord(out, width, height, format);
  const uint32_t convertFlags =
      (allocate ? uint32_t(kConvertAllocate) : 0u) | (flip ? uint32_t(kConvertFlipRows) : 0u);

  if (type == 2) {
    uint64_t start = 18 + uint64_t(idLength);
    if (colorMapType == 1)
      start += uint64_t(mapLength) * ((mapEntryBits + 7) / 8);
    if (start + size > length) {
      boundsError();
      return false;
    }
    if (bits == 16)
      return convertTGA16(bytes + start, out, convertFlags, alpha16);
    return convertRows(bytes + start, size_t(width) * bpp, out, convertFlags, nullptr, 0);
  }

  // Run-length packets; a 768-byte colour map sits before them when the map type is 1.
  uint64_t position = 18 + uint64_t(idLength) + (colorMapType == 1 ? 768 : 0);
  // Each packet of 1 + bpp bytes gives at most 128 pixels: a larger image cannot come out of these bytes.
  if (position >= length || size > (uint64_t(length) - position) * 128) {
    boundsError();
    return false;
  }
  uint8_t* expanded = imageAlloc(size_t(size));
  if (!expanded)
    return false;
  uint64_t filled = 0;
  bool ok = true;
  while (filled < size) {
    if (position >= length) {
      ok = false;
      break;
    }
    const uint8_t c = bytes[position++];
    const uint64_t n = uint64_t(c & 0x7F) + 1;
    const uint64_t want = std::min<uint64_t>(n * bpp, size - filled);
    if (c & 0x80) {
      if (position + bpp > length) {
        ok = false;
        break;
      }
      for (uint64_t i = 0; i < want; ++i)
        expanded[filled + i] = bytes[position + i % bpp];
      position += bpp;
    } else {
      // Only the pixels the image still needs must be present: a last packet cut by the file's
      // end past the image's end is fine.
      if (position + want > length) {
        ok = false;
        break;
      }
      std::memcpy(expanded + filled, bytes + position, size_t(want));
      position += n * bpp;
    }
    filled += want;
  }
  if (!ok) {
    boundsError();
    imageFree(expanded);
    return false;
  }
  ok = bits == 16 ? convertTGA16(expanded, out, convertFlags, alpha16)
                 : convertRows(expanded, size_t(width) * bpp, out, convertFlags, nullptr, 0);
  imageFree(expanded);
  return ok;
}

bool writeTGA(const char* name, const ImageData* data) {
  if (!name || !data || !data->pixels)
    return false;
  const int format = data->info.pixelFormat;
  if (format != kPixelFormatRGB && format != kPixelFormatRGBA)
    return false;
  const int bpp = format == kPixelFormatRGBA ? 4 : 3;
  const int width = data->info.width;
  const int height = data->info.height;
  if (width <= 0 || height <= 0 || width > 0xFFFF || height > 0xFFFF)
    return false;
  const size_t pixelBytes = size_t(width) * height * bpp;
  if (data->byteSize < int64_t(pixelBytes))
    return false;
  std::vector<uint8_t> file(18 + pixelBytes, 0);
  file[2] = 2;
  writeU16(&file[12], uint32_t(width));
  writeU16(&file[14], uint32_t(height));
  file[16] = uint8_t(bpp * 8);
  file[17] = 0x20;
  uint8_t* d = file.data() + 18;
  const uint8_t* s = data->pixels;
  for (size_t i = 0; i < size_t(width) * height; ++i, d += bpp, s += bpp) {
    d[0] = s[2];
    d[1] = s[1];
    d[2] = s[0];
    if (bpp == 4)
      d[3] = s[3];
  }
  return writeWholeFile(name, file.data(), file.size());
}

// --- BMP ---

namespace {

// Run-length 8-bit data into packed indices, rows in file order. Pixels the runs skip (deltas,
// early line ends) keep index 0, as other readers leave them. False when the data ends early.
bool expandRLE8(const uint8_t* data, uint64_t available, int width, int height, uint8_t* indices) {
  std::memset(indices, 0, size_t(width) * size_t(height));
  uint64_t at = 0;
  int x = 0, y = 0;
  while (y < height) {
    if (at + 2 > available)
      return false;
    const uint8_t count = data[at];
    const uint8_t value = data[at + 1];
    at += 2;
    if (count > 0) {
      for (int i = 0; i < count && x < width; ++i)
        indices[size_t(y) * width + x++] = value;
      continue;
    }
    if (value == 0) {  // end of line
      x = 0;
      ++y;
    } else if (value == 1) {  // end of bitmap
      return true;
    } else if (value == 2) {  // move right and up (down in file order)
      if (at + 2 > available)
        return false;
      x += data[at];
      y += data[at + 1];
      at += 2;
    } else {  // absolute run, padded to 16 bits
      const uint64_t padded = (uint64_t(value) + 1) & ~uint64_t(1);
      if (at + padded > available)
        return false;
      for (int i = 0; i < value && x < width && y < height; ++i)
        indices[size_t(y) * width + x++] = data[at + uint64_t(i)];
      at += padded;
    }
  }
  return true;
}

}  // namespace

bool decodeBMP(const uint8_t* bytes, uint32_t length, ImageData* out, bool allocate) {
  if (!bytes || !out)
    return false;
  if (length < 54 || bytes[0] != 'B' || bytes[1] != 'M') {
    refuse("BMP", "not a BMP file (no \"BM\" header)");
    return false;
  }
  const uint32_t offset = readU32(bytes + 10);
  // Info headers of 40 bytes and the longer V2-V5 forms share the first 40 bytes; the palette
  // follows the whole header.
  const uint32_t headerSize = readU32(bytes + 14);
  if (headerSize < 40 || headerSize > 1024) {
    refuse("BMP", "an info header of %u bytes is not supported", headerSize);
    return false;
  }
  const int32_t width = int32_t(readU32(bytes + 18));
  const int32_t height = int32_t(readU32(bytes + 22));
  const int bits = bytes[28] | bytes[29] << 8;
  const uint32_t compression = readU32(bytes + 30);
  if (bits != 8 && bits != 24) {
    refuse("BMP", "%d bits per pixel are not supported (only 8 and 24)", bits);
    return false;
  }
  // Run-length 8-bit data (1) is expanded; bit fields and every other coding are refused.
  if (compression != 0 && !(compression == 1 && bits == 8)) {
    refuse("BMP", "compression %u is not supported with %d bits per pixel", compression, bits);
    return false;
  }
  if (height < 0) {
    refuse("BMP", "top-down rows are not supported");
    return false;
  }
  if (!sizeAcceptable(width, height))
    return refuseSize("BMP", width, height);
  const uint64_t packedRow = uint64_t(width) * uint64_t(bits / 8);
  const uint64_t stride = (uint64_t(width) * bits + 31) / 32 * 4;
  // The last row may lack its padding.
  if (compression == 0 && uint64_t(offset) + stride * uint64_t(height - 1) + packedRow > length) {
    boundsError();
    return false;
  }
  if (compression == 1 && offset >= length) {
    boundsError();
    return false;
  }
  // Runs code at most 255 pixels in 2 bytes; line ends and deltas skip more, which writers use for
  // blank rows. 1,024 pixels a byte keeps every such file of normal width and stops a few bytes
  // from standing for a picture of the size caps (a decompression bomb).
  if (compression == 1 && uint64_t(width) * uint64_t(height) > (uint64_t(length) - offset) * 1024) {
    refuse("BMP", "%u bytes of run-length data cannot code %d x %d pixels", length - offset, width, height);
    return false;
  }
  const uint8_t* palette = nullptr;
  int entries = 0;
  if (bits == 8) {
    // The palette runs from the end of the info header up to the pixels (and the end of the
    // file); at most 256 entries, fewer when the header says so.
    const uint64_t first = 14 + uint64_t(headerSize);
    const uint64_t end = std::min(offset, length);
    entries = end > first ? int(std::min<uint64_t>((end - first) / 4, 256)) : 0;
    const uint32_t used = readU32(bytes + 46);
    if (used != 0 && used < uint32_t(entries))
      entries = int(used);
    if (entries == 0) {
      refuse("BMP", "an 8-bit image without a palette");
      return false;
    }
    palette = bytes + first;
  }
  resetRecord(out, width, height, bits == 8 ? kPixelFormatI8 : kPixelFormatRGB);
  const uint32_t flags = allocate ? uint32_t(kConvertAllocate) : 0u;
  if (compression == 0)
    return convertRows(bytes + offset, size_t(stride), out, flags, palette, entries);
  uint8_t* indices = imageAlloc(size_t(width) * size_t(height));
  if (!indices)
    return false;
  bool ok = expandRLE8(bytes + offset, uint64_t(length) - offset, width, height, indices);
  if (!ok)
    boundsError();
  else
    ok = convertRows(indices, size_t(width), out, flags, palette, entries);
  imageFree(indices);
  return ok;
}

// --- DDS ---

namespace {

constexpr uint32_t fourCC(char a, char b, char c, char d) {
  return uint32_t(uint8_t(a)) | uint32_t(uint8_t(b)) << 8 | uint32_t(uint8_t(c)) << 16 |
         uint32_t(uint8_t(d)) << 24;
}

}  // namespace

namespace {

// Byte position (0-3) of an 8-bit channel mask, -1 for no channel, -2 for a mask that is not one
// whole byte.
int maskByte(uint32_t mask) {
  if (mask == 0)
    return -1;
  for (int i = 0; i < 4; ++i) {
    if (mask == 0xFFu << (8 * i))
      return i;
  }
  return -2;
}

}  // namespace

bool loadDDSFromMemory(const uint8_t* bytes, int length, ImageData* out, bool allocate) {
  if (!bytes || !out)
    return false;
  if (length < 128 || std::memcmp(bytes, "DDS ", 4) != 0) {
    refuse("DDS", "not a DDS file (no \"DDS \" header)");
    return false;
  }
  const int64_t height = readU32(bytes + 12);
  const int64_t width = readU32(bytes + 16);
  const uint32_t declaredMips = readU32(bytes + 28);
  const uint32_t pixelFlags = readU32(bytes + 80);
  const uint32_t code = readU32(bytes + 84);
  const uint32_t rgbBits = readU32(bytes + 88);
  if (!sizeAcceptable(width, height))
    return refuseSize("DDS", width, height);
  const int64_t dataSize = int64_t(length) - 128;
  const uint8_t* src = bytes + 128;
  int format;
  if (code == fourCC('D', 'X', 'T', '1')) {
    format = kPixelFormatDXT1;
  } else if (code == fourCC('D', 'X', 'T', '3')) {
    format = kPixelFormatDXT3;
  } else if (code == fourCC('D', 'X', 'T', '5')) {
    format = kPixelFormatDXT5;
  } else if (code == 0) {
    format = 0;
  } else {
    char text[5];
    for (int i = 0; i < 4; ++i) {
      const char c = char(code >> (8 * i));
      text[i] = c >= 32 && c < 127 ? c : '?';
    }
    text[4] = '\0';
    refuse("DDS", "FourCC \"%s\" (0x%08X) is not supported (only DXT1, DXT3, DXT5 and uncompressed)", text,
           code);
    return false;
  }

  // Uncompressed: the header's bit count and masks say what a pixel is; the bytes of every mip
  // level follow one another, so they cannot tell. Files without a bit count (older writers) and
  // without levels keep the size rule: bytes / (width x height).
  int64_t components = 0;
  int channel[4] = {2, 1, 0, 3};  // byte of red, green, blue, alpha in a source pixel
  if (!format) {
    if (rgbBits == 0 && declaredMips <= 1) {
      components = dataSize / (width * height);
    } else if (rgbBits == 24 || rgbBits == 32) {
      components = rgbBits / 8;
      // Zero colour masks (some writers set the RGB flag and leave them out) mean the default
      // blue-green-red(-alpha) order, with alpha in the fourth byte as the size rule reads it.
      const bool zeroMasks =
          readU32(bytes + 92) == 0 && readU32(bytes + 96) == 0 && readU32(bytes + 100) == 0;
      const bool hasAlpha = zeroMasks || ((pixelFlags & 0x1) != 0 && readU32(bytes + 104) != 0);
      const uint32_t masks[4] = {readU32(bytes + 92), readU32(bytes + 96), readU32(bytes + 100),
                                 hasAlpha && !zeroMasks ? readU32(bytes + 104) : 0u};
      if (!zeroMasks) {
        for (int i = 0; i < 4; ++i)
          channel[i] = maskByte(masks[i]);
      } else if (components == 3) {
        channel[3] = -1;
      }
      bool usable = channel[0] >= 0 && channel[1] >= 0 && channel[2] >= 0 && channel[3] >= -1;
      for (int i = 0; i < 4 && usable; ++i)
        usable = channel[i] < int(components);
      if (!usable) {
        refuse("DDS", "%u-bit pixels with masks %08X %08X %08X %08X are not supported", rgbBits, masks[0], masks[1],
               masks[2], masks[3]);
        return false;
      }
      if (components == 4 && !hasAlpha)
        channel[3] = -1;  // the fourth byte is padding
    } else {
      refuse("DDS", "uncompressed pixels of %u bits are not supported (only 24 and 32)", rgbBits);
      return false;
    }
    if (components != 3 && components != 4) {
      refuse("DDS", "%lld bytes for %lld x %lld pixels make no 24- or 32-bit image", (long long)dataSize,
             (long long)width, (long long)height);
      return false;
    }
  }
  if (components == 3)
    channel[3] = -1;
  const int outBpp = format ? 0 : (channel[3] >= 0 ? 4 : 3);

  // Levels the block really holds, never more than the header claims or the chain allows.
  const int chain = imageMipLevels(int(std::max(width, height)));
  const int wanted = std::max<int>(1, int(std::min<uint32_t>(declaredMips, uint32_t(chain))));
  int levels = 0;
  int64_t used = 0;
  int64_t pixelsUsed = 0;
  for (int64_t w = width, h = height; levels < wanted; ++levels) {
    const int64_t levelSize = format ? imageCompressedLevelSize(format, int(w), int(h)) : w * h * components;
    if (used + levelSize > dataSize)
      break;
    used += levelSize;
    pixelsUsed += w * h;
    w = std::max<int64_t>(w / 2, 1);
    h = std::max<int64_t>(h / 2, 1);
  }
  if (levels == 0) {
    boundsError();
    return false;
  }
  resetRecord(out, int(width), int(height), format ? format : (outBpp == 4 ? kPixelFormatRGBA : kPixelFormatRGB));
  const uint8_t storedMips = declaredMips == 0 ? 0 : uint8_t(levels);

  if (format) {
    // Compressed blocks are kept as stored, the whole remaining file.
    uint8_t* dst;
    if (allocate) {
      dst = imageAlloc(size_t(dataSize) + 4);
      if (!dst)
        return false;
    } else {
      if (!out->pixels || out->byteSize < dataSize)
        return false;
      dst = out->pixels;
    }
    std::memcpy(dst, src, size_t(dataSize));
    if (allocate) {
      out->pixels = dst;
      out->byteSize = int32_t(dataSize);
    }
    out->mipCount = storedMips;
    return true;
  }

  // Every level to red-green-blue(-alpha), rows kept.
  const int64_t outSize = pixelsUsed * outBpp;
  uint8_t* dst;
  if (allocate) {
    dst = imageAlloc(size_t(outSize) + 4);
    if (!dst)
      return false;
  } else {
    if (!out->pixels || out->byteSize < outSize)
      return false;
    dst = out->pixels;
  }
  const uint8_t* s = src;
  uint8_t* d = dst;
  for (int64_t i = 0; i < pixelsUsed; ++i, s += components, d += outBpp) {
    d[0] = s[channel[0]];
    d[1] = s[channel[1]];
    d[2] = s[channel[2]];
    if (outBpp == 4)
      d[3] = s[channel[3]];
  }
  if (allocate) {
    out->pixels = dst;
    out->byteSize = int32_t(outSize);
  }
  out->mipCount = storedMips;
  return true;
}

bool saveDDS(const char* name, const ImageData* data) {
  if (!name || !data || !data->pixels)
    return false;
  const int format = data->info.pixelFormat;
  const int width = data->info.width;
  const int height = data->info.height;
  if (width <= 0 || height <= 0)
    return false;
  const bool compressed = imageFormatIsCompressed(format);
  if (!compressed && format != kPixelFormatRGB && format != kPixelFormatRGBA)
    return false;
  const int bpp = format == kPixelFormatRGBA ? 4 : 3;
  const int64_t pixelBytes =
      compressed ? imageCompressedLevelSize(format, width, height) : int64_t(width) * height * bpp;
  if (data->byteSize < pixelBytes)
    return false;
  std::vector<uint8_t> file(size_t(128 + pixelBytes), 0);
  // The header is built apart and copied in: GCC cannot follow the vector's size here.
  uint8_t head[128] = {};
  std::memcpy(head, "DDS ", 4);
  uint8_t* h = head + 4;
  writeU32(h + 0, 124);
  writeU32(h + 4, compressed ? 0xA1006 : 0xA1006 | 0x8);
  writeU32(h + 8, uint32_t(height));
  writeU32(h + 12, uint32_t(width));
  writeU32(h + 16, compressed ? uint32_t(pixelBytes) : uint32_t(width * bpp));
  writeU32(h + 24, 0);
  writeU32(h + 72, 32);
  if (compressed) {
    writeU32(h + 76, 0x4);
    const char* codes[] = {"DXT1", "DXT3", "DXT5"};
    std::memcpy(h + 80, codes[format - kPixelFormatDXT1], 4);
    std::memcpy(file.data() + 128, data->pixels, size_t(pixelBytes));
  } else {
    writeU32(h + 76, bpp == 4 ? 0x41 : 0x40);
    writeU32(h + 84, uint32_t(bpp * 8));
    writeU32(h + 88, 0xFF0000);
    writeU32(h + 92, 0xFF00);
    writeU32(h + 96, 0xFF);
    if (bpp == 4)
      writeU32(h + 100, 0xFF000000u);
    uint8_t* d = file.data() + 128;
    const uint8_t* s = data->pixels;
    for (int64_t i = 0; i < pixelBytes; i += bpp) {
      d[i] = s[i + 2];
      d[i + 1] = s[i + 1];
      d[i + 2] = s[i];
      if (bpp == 4)
        d[i + 3] = s[i + 3];
    }
  }
  std::memcpy(file.data(), head, sizeof(head));
  return writeWholeFile(name, file.data(), file.size());
}

// --- Loaders and the writer choice ---

bool loadTGA(const char* name, ImageData* out) {
  return loadWith(name, out, decodeTGA);
}
bool loadBMP(const char* name, ImageData* out) {
  return loadWith(name, out, decodeBMP);
}
bool loadDDS(const char* name, ImageData* out) {
  return loadWith(name, out, decodeDDSAdapter);
}
bool loadJPEG(const char* name, ImageData* out) {
  return loadWith(name, out, loadJPEGFromMemory);
}

bool writeImageFile(const char* name, const ImageData* data) {
  if (!name || !name[0] || !data)
    return false;
  char path[256];
  if (std::snprintf(path, sizeof(path), "%s", name) >= int(sizeof(path)))
    return false;
  if (g_ioSystem) {
    char directory[256];
    std::snprintf(directory, sizeof(directory), "%s", path);
    char* slash = std::strrchr(directory, '/');
    if (!slash)
      slash = std::strrchr(directory, '\\');
    if (slash && slash != directory) {
      *slash = '\0';
      g_ioSystem->createPath(directory);
    }
  }
  // The extension after the last dot of the file part.
  char* dot = std::strrchr(path, '.');
  const char* slash = std::strrchr(path, '/');
  if (dot && slash && dot < slash)
    dot = nullptr;
  const int format = data->info.pixelFormat;
  const char* forced = imageFormatIsCompressed(format)         ? ".dds"
                       : imageFormatBitsPerPixel(format) == 32 ? ".tga"
                                                               : nullptr;
  if (forced) {
    if (dot)
      *dot = '\0';
    if (std::strlen(path) + std::strlen(forced) >= sizeof(path))
      return false;
    std::strcat(path, forced);
    dot = std::strrchr(path, '.');
  }
  const char* ext = dot ? dot : "";
  if (String::icmp(ext, ".jpg") == 0)
    return saveJPEG(path, data);
  if (String::icmp(ext, ".dds") == 0)
    return saveDDS(path, data);
  return writeTGA(path, data);
}
