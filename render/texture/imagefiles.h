// Image file codecs: TGA, BMP, DDS and JPEG readers (each a decoder over bytes in memory plus a
// loader through the file system) and the TGA, DDS and JPEG writers. Every decoder takes untrusted
// bytes: it checks sizes against the data it was given and fails instead of reading past it.
#pragma once

#include <cstdint>

#include "lib/interface/texmanager.h"

// convertImagePixels flags.
enum : uint32_t { kConvertAllocate = 1, kConvertFlipRows = 2 };

// Largest side and largest pixel count a decoder accepts.
constexpr int kImageMaxSide = 16384;
constexpr int64_t kImageMaxPixels = int64_t(8192) * 8192;

// With allocate set the decoder allocates the block; otherwise it writes into the block already in
// `out` (pixels and byteSize), which must be large enough (JPEG: exactly the image's size).
bool decodeTGA(const uint8_t* bytes, uint32_t length, ImageData* out, bool allocate);
bool decodeBMP(const uint8_t* bytes, uint32_t length, ImageData* out, bool allocate);
bool loadDDSFromMemory(const uint8_t* bytes, int length, ImageData* out, bool allocate);
bool loadJPEGFromMemory(const uint8_t* bytes, uint32_t length, ImageData* out, bool allocate);

bool loadTGA(const char* name, ImageData* out);
bool loadBMP(const char* name, ImageData* out);
bool loadDDS(const char* name, ImageData* out);
bool loadJPEG(const char* name, ImageData* out);

// Packed 8-, 16-, 24- or 32-bit source pixels of out's width, height and pixel format (1, 18, 3 or 4)
// to RGB or RGBA. 8-bit pixels need a 256-entry palette of blue, green, red, unused.
bool convertImagePixels(const uint8_t* src, ImageData* out, uint32_t flags, const uint8_t* palette);

bool writeTGA(const char* name, const ImageData* data);
bool saveDDS(const char* name, const ImageData* data);
bool saveJPEG(const char* name, const ImageData* data);
