// JPEG decoding from memory and encoding to files through libjpeg (interface 62), with the engine's
// own source, destination and error managers. Library errors jump back here and fail the call;
// they never end the process. The managers live on the caller's stack, one set per call.
#include <algorithm>
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <cstring>

// libjpeg needs size_t and FILE declared before it.
#include <jerror.h>
#include <jpeglib.h>

#include "lib/interface/cmdsystem.h"
#include "lib/interface/iosystem.h"
#include "render/texture/imagefiles.h"

namespace {

constexpr size_t kTransferSize = 4096;
// Working memory libjpeg may take for one image (coefficient buffers of progressive files).
constexpr long kJpegMemoryLimit = 256L * 1024 * 1024;
// Pixels one byte of Huffman-coded data may stand for: 512 at one bit per 8x8 block, with a margin
// of 4.
constexpr int64_t kJpegPixelsPerByte = 2048;
// Arithmetic coding has no such floor: a blank image codes in about 200 bytes at any size. Up to
// 2048 x 2048 every such file is decoded; beyond that a byte must stand for at most this many
// pixels, which refuses only huge blank pictures and headers forged onto a few bytes.
constexpr int64_t kJpegArithFreePixels = int64_t(2048) * 2048;
constexpr int64_t kJpegArithPixelsPerByte = 32768;
// Each scan of a multi-scan file is a pass over the whole coefficient buffer, and a scan header
// costs ten bytes: the pixels summed over the scans are bounded by 16 passes over the image or by
// this many per byte of input, whichever is larger (encoders write about 10 scans).
constexpr int64_t kJpegScanPasses = 16;
constexpr int64_t kJpegScanPixelsPerByte = 16384;

struct JpegError {
  jpeg_error_mgr pub;
  jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

// Watches the scans of a multi-scan file while the library absorbs them, before any decoding.
struct JpegScanBound {
  jpeg_progress_mgr pub;
  int64_t pixels;
  int64_t budget;
};

void scanBoundMonitor(j_common_ptr common) {
  j_decompress_ptr cinfo = reinterpret_cast<j_decompress_ptr>(common);
  const JpegScanBound* bound = reinterpret_cast<const JpegScanBound*>(cinfo->progress);
  if (int64_t(cinfo->input_scan_number) * bound->pixels <= bound->budget)
    return;
  JpegError* error = reinterpret_cast<JpegError*>(cinfo->err);
  std::snprintf(error->message, sizeof(error->message), "image of %u x %u with more than %d scans refused",
                cinfo->image_width, cinfo->image_height, int(bound->budget / bound->pixels));
  longjmp(error->jump, 1);
}

[[noreturn]] void jpegErrorExit(j_common_ptr cinfo) {
  JpegError* error = reinterpret_cast<JpegError*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, error->message);
  longjmp(error->jump, 1);
}

void jpegOutputMessage(j_common_ptr cinfo) {
  char text[JMSG_LENGTH_MAX];
  (*cinfo->err->format_message)(cinfo, text);
  cmdPrintf("WARNING: JPEG: %s\n", text);
}

void installErrors(JpegError* error) {
  jpeg_std_error(&error->pub);
  error->pub.error_exit = jpegErrorExit;
  error->pub.output_message = jpegOutputMessage;
  error->message[0] = '\0';
}

struct JpegSource {
  jpeg_source_mgr pub;
  const uint8_t* data;
  size_t length;
  size_t position;
  JOCTET buffer[kTransferSize];
};

void sourceInit(j_decompress_ptr cinfo) {
  reinterpret_cast<JpegSource*>(cinfo->src)->position = 0;
}

boolean sourceFill(j_decompress_ptr cinfo) {
  JpegSource* src = reinterpret_cast<JpegSource*>(cinfo->src);
  if (src->position >= src->length) {
    // Out of data: an end-of-image marker lets the library finish what it has.
    WARNMS(cinfo, JWRN_JPEG_EOF);
    src->buffer[0] = 0xFF;
    src->buffer[1] = JPEG_EOI;
    src->pub.next_input_byte = src->buffer;
    src->pub.bytes_in_buffer = 2;
    return TRUE;
  }
  const size_t n = std::min(src->length - src->position, kTransferSize);
  std::memcpy(src->buffer, src->data + src->position, n);
  src->position += n;
  src->pub.next_input_byte = src->buffer;
  src->pub.bytes_in_buffer = n;
  return TRUE;
}

void sourceSkip(j_decompress_ptr cinfo, long count) {
  JpegSource* src = reinterpret_cast<JpegSource*>(cinfo->src);
  if (count <= 0)
    return;
  size_t n = size_t(count);
  while (n > src->pub.bytes_in_buffer) {
    n -= src->pub.bytes_in_buffer;
    if (src->position >= src->length) {
      // Skipping past the end stops there; the next read gets the end-of-image marker.
      src->pub.bytes_in_buffer = 0;
      return;
    }
    sourceFill(cinfo);
  }
  src->pub.next_input_byte += n;
  src->pub.bytes_in_buffer -= n;
}

void sourceTerm(j_decompress_ptr) {}

struct JpegDestination {
  jpeg_destination_mgr pub;
  IOFileHandle file;
  bool failed;
  JOCTET buffer[kTransferSize];
};

void destinationInit(j_compress_ptr cinfo) {
  JpegDestination* dest = reinterpret_cast<JpegDestination*>(cinfo->dest);
  dest->pub.next_output_byte = dest->buffer;
  dest->pub.free_in_buffer = kTransferSize;
}

boolean destinationEmpty(j_compress_ptr cinfo) {
  JpegDestination* dest = reinterpret_cast<JpegDestination*>(cinfo->dest);
  if (g_ioSystem->write(dest->buffer, int(kTransferSize), dest->file) != int(kTransferSize))
    dest->failed = true;
  dest->pub.next_output_byte = dest->buffer;
  dest->pub.free_in_buffer = kTransferSize;
  return TRUE;
}

void destinationTerm(j_compress_ptr cinfo) {
  JpegDestination* dest = reinterpret_cast<JpegDestination*>(cinfo->dest);
  const size_t count = kTransferSize - dest->pub.free_in_buffer;
  if (count > 0 && g_ioSystem->write(dest->buffer, int(count), dest->file) != int(count))
    dest->failed = true;
}

}  // namespace

bool loadJPEGFromMemory(const uint8_t* bytes, uint32_t length, ImageData* out, bool allocate) {
  if (!bytes || !out || length == 0)
    return false;
  jpeg_decompress_struct cinfo;
  JpegError error;
  JpegSource source;
  JpegScanBound scanBound;
  uint8_t* volatile block = nullptr;
  installErrors(&error);
  cinfo.err = &error.pub;
  if (setjmp(error.jump)) {
    cmdPrintf("WARNING: JPEG: %s\n", error.message);
    jpeg_destroy_decompress(&cinfo);
    if (allocate)
      imageFree(block);
    return false;
  }
  jpeg_CreateDecompress(&cinfo, JPEG_LIB_VERSION, sizeof(cinfo));
  cinfo.mem->max_memory_to_use = kJpegMemoryLimit;
  std::memset(&source.pub, 0, sizeof(source.pub));
  source.data = bytes;
  source.length = length;
  source.position = 0;
  source.pub.init_source = sourceInit;
  source.pub.fill_input_buffer = sourceFill;
  source.pub.skip_input_data = sourceSkip;
  source.pub.resync_to_restart = jpeg_resync_to_restart;
  source.pub.term_source = sourceTerm;
  cinfo.src = &source.pub;

  jpeg_read_header(&cinfo, TRUE);
  if (cinfo.image_width == 0 || cinfo.image_height == 0 || cinfo.image_width > uint32_t(kImageMaxSide) ||
      cinfo.image_height > uint32_t(kImageMaxSide) ||
      int64_t(cinfo.image_width) * cinfo.image_height > kImageMaxPixels) {
    cmdPrintf("WARNING: JPEG: image of %u x %u refused\n", cinfo.image_width, cinfo.image_height);
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  // Huffman coding spends at least a bit on every 8x8 block: far more pixels than the bytes could
  // code means a forged header (or a file cut short), whose decode would only cost time and memory.
  if (!cinfo.arith_code &&
      int64_t(cinfo.image_width) * cinfo.image_height > int64_t(length) * kJpegPixelsPerByte) {
    cmdPrintf("WARNING: JPEG: image of %u x %u from %u bytes refused\n", cinfo.image_width,
                cinfo.image_height, length);
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  const int64_t pixels = int64_t(cinfo.image_width) * cinfo.image_height;
  if (cinfo.arith_code && pixels > std::max(kJpegArithFreePixels, int64_t(length) * kJpegArithPixelsPerByte)) {
    cmdPrintf("WARNING: JPEG: arithmetic-coded image of %u x %u from %u bytes refused\n", cinfo.image_width,
              cinfo.image_height, length);
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  std::memset(&scanBound.pub, 0, sizeof(scanBound.pub));
  scanBound.pub.progress_monitor = scanBoundMonitor;
  scanBound.pixels = pixels;
  scanBound.budget = std::max(pixels * kJpegScanPasses, int64_t(length) * kJpegScanPixelsPerByte);
  cinfo.progress = &scanBound.pub;
  // CMYK cannot be converted to RGB by the library: read it as CMYK and convert below.
  const bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
  cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_RGB;
  jpeg_start_decompress(&cinfo);

  const int width = int(cinfo.output_width);
  const int height = int(cinfo.output_height);
  const int components = cinfo.output_components;
  const int64_t size = int64_t(width) * height * 3;
  if (allocate) {
    block = imageAlloc(size_t(size) + 4);
    if (!block)
      ERREXIT1(&cinfo, JERR_OUT_OF_MEMORY, 0);
  } else {
    if (!out->pixels || out->byteSize != size) {
      cmdPrintf("WARNING: JPEG: the destination block does not match the image size\n");
      jpeg_destroy_decompress(&cinfo);
      return false;
    }
    block = out->pixels;
  }
  // Three-component output lands straight in the record's rows, several per call: no second pass.
  if (!cmyk && components == 3) {
    JSAMPROW rows[16];
    while (cinfo.output_scanline < cinfo.output_height) {
      const int y = int(cinfo.output_scanline);
      const int count = std::min<int>(16, height - y);
      for (int i = 0; i < count; ++i)
        rows[i] = block + int64_t(y + i) * width * 3;
      if (jpeg_read_scanlines(&cinfo, rows, JDIMENSION(count)) == 0)
        break;
    }
  }
  // Adobe writers store CMYK inverted.
  const bool inverted = cinfo.saw_Adobe_marker;
  JSAMPARRAY row = (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE,
                                              JDIMENSION(width * components + 4), 1);
  while (cinfo.output_scanline < cinfo.output_height) {
    const int y = int(cinfo.output_scanline);
    if (jpeg_read_scanlines(&cinfo, row, 1) != 1)
      break;
    uint8_t* d = block + int64_t(y) * width * 3;
    const JSAMPLE* s = row[0];
    for (int x = 0; x < width; ++x, d += 3, s += components) {
      if (cmyk) {
        int c = s[0], m = s[1], ye = s[2], k = s[3];
        if (!inverted) {
          c = 255 - c;
          m = 255 - m;
          ye = 255 - ye;
          k = 255 - k;
        }
        d[0] = uint8_t(c * k / 255);
        d[1] = uint8_t(m * k / 255);
        d[2] = uint8_t(ye * k / 255);
      } else if (components == 1) {
        d[0] = d[1] = d[2] = s[0];
      } else {
        d[0] = s[0];
        d[1] = s[1];
        d[2] = s[2];
      }
    }
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  out->info.width = width;
  out->info.height = height;
  out->info.depth = 0;
  out->info.pixelFormat = kPixelFormatRGB;
  out->info.textureType = kTextureType2D;
  out->info.quality = 99;
  out->mipCount = 0;
  if (allocate) {
    out->pixels = block;
    out->byteSize = int32_t(size);
  }
  return true;
}

namespace {
bool encodeJpeg(IOFileHandle file, const ImageData* data, int bpp);
}  // namespace

bool saveJPEG(const char* name, const ImageData* data) {
  if (!name || !data || !data->pixels || !g_ioSystem)
    return false;
  const int format = data->info.pixelFormat;
  if (format != kPixelFormatRGB && format != kPixelFormatRGBA) {
    cmdPrintf("WARNING: saveJPEG: '%s' is not 3 or 4 bytes per pixel\n", name);
    return false;
  }
  const int bpp = format == kPixelFormatRGBA ? 4 : 3;
  const int width = data->info.width;
  const int height = data->info.height;
  if (width <= 0 || height <= 0 || width > 65500 || height > 65500 ||
      data->byteSize < int64_t(width) * height * bpp)
    return false;
  const IOFileHandle file = g_ioSystem->openFileWrite(name);
  if (!file)
    return false;
  return encodeJpeg(file, data, bpp);
}

namespace {

// The encoding half of saveJPEG, apart so no checked local lives across its setjmp. Closes the file.
bool encodeJpeg(IOFileHandle file, const ImageData* data, int bpp) {
  const int width = data->info.width;
  const int height = data->info.height;
  jpeg_compress_struct cinfo;
  JpegError error;
  JpegDestination dest;
  installErrors(&error);
  cinfo.err = &error.pub;
  if (setjmp(error.jump)) {
    cmdPrintf("WARNING: JPEG: %s\n", error.message);
    jpeg_destroy_compress(&cinfo);
    g_ioSystem->closeFile(file);
    return false;
  }
  jpeg_CreateCompress(&cinfo, JPEG_LIB_VERSION, sizeof(cinfo));
  std::memset(&dest.pub, 0, sizeof(dest.pub));
  dest.file = file;
  dest.failed = false;
  dest.pub.init_destination = destinationInit;
  dest.pub.empty_output_buffer = destinationEmpty;
  dest.pub.term_destination = destinationTerm;
  cinfo.dest = &dest.pub;
  cinfo.image_width = JDIMENSION(width);
  cinfo.image_height = JDIMENSION(height);
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  cinfo.optimize_coding = TRUE;
  jpeg_set_quality(&cinfo, std::clamp(int(data->info.quality & 0xFF), 1, 100), FALSE);
  cinfo.density_unit = 1;
  jpeg_start_compress(&cinfo, TRUE);
  JSAMPARRAY row = (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE,
                                              JDIMENSION(width * 3 + 8), 1);
  while (cinfo.next_scanline < cinfo.image_height) {
    const uint8_t* s = data->pixels + int64_t(cinfo.next_scanline) * width * bpp;
    JSAMPLE* d = row[0];
    for (int x = 0; x < width; ++x, s += bpp, d += 3) {
      d[0] = s[0];
      d[1] = s[1];
      d[2] = s[2];
    }
    jpeg_write_scanlines(&cinfo, row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  return g_ioSystem->closeFileChecked(file, nullptr) && !dest.failed;
}

}  // namespace
