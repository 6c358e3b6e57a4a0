// Video images: the ".ovid" chunk walk, the YCbCr codebook tables, quad and block-delta frame
// decoding, still frames (raw, JPEG, DDS), uploads, and the full-screen video player.
//
// Every chunk, code word, argument and motion vector comes from an untrusted file: offsets are
// 64-bit, every read is checked against the chunk, every write and copy against the frame.
//
// Sections: codebook tables, header and life, the walk, quad frames, block-delta frames, stills
// and uploads, the player.
#include "render/texture/videoimage.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "lib/interface/cmdsystem.h"
#include "lib/interface/iosystem.h"
#include "lib/interface/materialsystem.h"
#include "lib/interface/rendersystem.h"
#include "lib/interface/videoplayer.h"
#include "platform/clock.h"
#include "render/texture/imagefiles.h"

namespace {

uint16_t readU16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
uint32_t readU32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }

// ---------------------------------------------------------------------------------------------
// Codebook tables (process-wide, rebuilt by every codebook chunk)

struct YccTables {
  int crToR[256], cbToG[256], crToG[256], cbToB[256];
  YccTables() {
    // 16.16 fixed point, rounded.
    for (int i = 0; i < 256; i++) {
      const int c = i - 128;
      crToR[i] = int(1.402 * 65536.0 * c + (c >= 0 ? 0.5 : -0.5));
      cbToG[i] = int(-0.34414 * 65536.0 * c + (c >= 0 ? -0.5 : 0.5));
      crToG[i] = int(-0.71414 * 65536.0 * c + (c >= 0 ? -0.5 : 0.5));
      cbToB[i] = int(1.772 * 65536.0 * c + (c >= 0 ? 0.5 : -0.5));
    }
  }
};
const YccTables s_ycc;

uint8_t clampByte(int v) { return uint8_t(v < 0 ? 0 : (v > 255 ? 255 : v)); }

// Pixels as bytes red, green, blue, alpha.
uint32_t s_cells2[256][4];
uint32_t s_cells4[256][16];
uint32_t s_cells8[256][64];

uint32_t packPixel(const uint8_t rgb[3]) {
  uint8_t p[4] = {rgb[0], rgb[1], rgb[2], 255};
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

constexpr int kLogOnce = 1;

}  // namespace

void videoYCbCrToRGB(int y, int cb, int cr, uint8_t rgb[3]) {
  y &= 255;
  cb &= 255;
  cr &= 255;
  const int base = (y << 16) + 0x8000;
  rgb[0] = clampByte((base + s_ycc.crToR[cr]) >> 16);
  rgb[1] = clampByte((base + s_ycc.cbToG[cb] + s_ycc.crToG[cr]) >> 16);
  rgb[2] = clampByte((base + s_ycc.cbToB[cb]) >> 16);
}

// ---------------------------------------------------------------------------------------------
// Header and life

namespace {

// Width, height and format from the signature and info chunks, and whether any DXT chunk exists;
// false when the start is not a video. `cut` (optional) tells whether the chunks stop short of the
// end of the data: the file was cut inside a chunk.
bool scanHeader(const uint8_t* bytes, int64_t length, int* width, int* height, int* format, int* frames,
                bool* cut = nullptr) {
  if (!bytes || length < 2 * kVideoChunkHeader + 8)
    return false;
  if (readU16(bytes) != kVideoChunkSignature)
    return false;
  const int64_t info = kVideoChunkHeader + int64_t(readU32(bytes + 2));
  if (info + kVideoChunkHeader > length || readU16(bytes + info) != kVideoChunkInfo)
    return false;
  const uint32_t infoSize = readU32(bytes + info + 2);
  // An info chunk too short for width and height, or running past the end, gives no data.
  if (infoSize < 8 || info + kVideoChunkHeader + int64_t(infoSize) > length)
    return false;
  const int w = readU16(bytes + info + kVideoChunkHeader);
  const int h = readU16(bytes + info + kVideoChunkHeader + 2);
  if (w <= 0 || h <= 0 || w > kVideoMaxSide || h > kVideoMaxSide)
    return false;
  int first = 0;
  bool dxt = false;
  int count = 0;
  int64_t at = 0;
  while (at + kVideoChunkHeader <= length) {
    const uint16_t id = readU16(bytes + at);
    const int64_t next = at + kVideoChunkHeader + int64_t(readU32(bytes + at + 2));
    if (next > length)
      break;  // a chunk running past the end ends the video
    if (id >= kVideoChunkRaw && id <= kVideoChunkDelta) {
      if (!first)
        first = id;
      count++;
    }
    if (id == kVideoChunkDds || id == kVideoChunkDelta)
      dxt = true;
    at = next;
  }
  if (cut)
    *cut = at != length;
  *width = w;
  *height = h;
  *format = dxt ? kPixelFormatDXT1 : (first == kVideoChunkQuad ? kPixelFormatRGBA : kPixelFormatRGB);
  *frames = count;
  return true;
}

int64_t frameByteSize(int format, int width, int height) {
  if (format == kPixelFormatDXT1)
    return int64_t((width + 3) / 4) * ((height + 3) / 4) * 8;
  return int64_t(width) * height * (format == kPixelFormatRGBA ? 4 : 3);
}

}  // namespace

bool readVideoImageInfo(const uint8_t* bytes, size_t length, ImageData* out) {
  int w = 0, h = 0, format = 0, frames = 0;
  if (!out || length > size_t(kVideoMaxFileBytes) || !scanHeader(bytes, int64_t(length), &w, &h, &format, &frames))
    return false;
  uint8_t* copy = imageAlloc(length + 1);
  if (!copy)
    return false;
  std::memcpy(copy, bytes, length);
  out->info = ImageInfo{w, h, 0, format, 0, 99};
  out->pixels = copy;
  out->byteSize = int32_t(length);
  out->mipCount = 0;
  return true;
}

bool loadVideoImageHeader(const char* name, ImageData* out) {
  if (!g_ioSystem || !name)
    return false;
  IOData* file = g_ioSystem->loadFile(name, false);
  if (!file)
    file = g_ioSystem->loadFile(name, true);
  if (!file)
    return false;
  const bool ok = file->length > 0 &&
                  readVideoImageInfo(reinterpret_cast<const uint8_t*>(file->buffer), size_t(file->length), out);
  g_ioSystem->freeFile(file);
  return ok;
}

VideoImage::VideoImage() = default;

VideoImage::~VideoImage() { VideoImage::unload(); }

void VideoImage::unload() {
  ImageInterface::unload();
  delete[] data_;
  delete[] current_;
  delete[] previous_;
  data_ = current_ = previous_ = nullptr;
  length_ = 0;
  frameBytes_ = 0;
  frameCount_ = 0;
  frame_ = -1;
}

void VideoImage::fault(const char* what) {
  if (faults_++ < kLogOnce)
    cmdPrintf("WARNING: video \"%s%s\": %s\n", name, extension, what);
}

bool VideoImage::openFromMemory(const uint8_t* bytes, size_t length) {
  unload();
  int w = 0, h = 0, format = 0, frames = 0;
  bool cut = false;
  if (length > size_t(kVideoMaxFileBytes) ||
      !scanHeader(bytes, int64_t(length), &w, &h, &format, &frames, &cut))
    return false;
  if (cut)
    fault("the file ends inside a chunk: it was cut short, and only the frames before the cut play");
  const int64_t frameSize = frameByteSize(format, w, h);
  data_ = new uint8_t[length];
  std::memcpy(data_, bytes, length);
  length_ = int64_t(length);
  info = ImageInfo{w, h, 0, format, 0, 99};
  dxt_ = format == kPixelFormatDXT1;
  frameCount_ = frames;
  frameBytes_ = int(frameSize);
  current_ = new uint8_t[size_t(frameSize)];
  previous_ = new uint8_t[size_t(frameSize)];
  std::memset(current_, 0, size_t(frameSize));
  std::memset(previous_, 0, size_t(frameSize));
  chunk_ = 0;
  frameChunk_ = -1;
  frame_ = -1;
  if (clock_ < 0 && g_expressionHooks.registerText)
    clock_ = g_expressionHooks.registerText("time * 1");
  return true;
}

bool VideoImage::open() {
  if (data_ && clock_ >= 0)
    return true;
  if (!g_ioSystem)
    return false;
  char file[160];
  std::snprintf(file, sizeof(file), "%s%s", name, extension);
  IOData* data = g_ioSystem->loadFile(file, false);
  if (!data)
    data = g_ioSystem->loadFile(file, true);
  if (!data)
    return false;
  const bool ok = data->length > 0 && openFromMemory(reinterpret_cast<const uint8_t*>(data->buffer), size_t(data->length));
  g_ioSystem->freeFile(data);
  if (!ok)
    cmdPrintf("WARNING: video \"%s\" does not begin with a signature and an info chunk\n", file);
  return ok;
}

bool VideoImage::load() {
  if (loaded)
    return true;
  if (!data_ && !open())
    return false;
  if (!data_)
    return false;
  // A white frame until the first decode.
  ImageData face = {};
  face.info = info;
  face.pixels = imageAlloc(size_t(frameBytes_) + 4);
  if (!face.pixels)
    return false;
  std::memset(face.pixels, 0xFF, size_t(frameBytes_));
  face.byteSize = frameBytes_;
  flags |= kImageNoMips | kImageNoDownSize;  // one level, never resized: sub-image uploads follow
  return upload(&face, 1);
}

bool VideoImage::bind() {
  ImageInterface* image = selectBoundImage(this);
  if (!bindImage(image))
    return false;
  if (image == this)
    advanceFrame();
  return true;
}

bool VideoImage::loadFirstFrame(ImageData* out) {
  if (!out || !load())
    return false;
  seekFrame(0);
  uint8_t* copy = imageAlloc(size_t(frameBytes_) + 4);
  if (!copy)
    return false;
  std::memcpy(copy, current_, size_t(frameBytes_));
  out->info = info;
  out->pixels = copy;
  out->byteSize = frameBytes_;
  out->mipCount = 0;
  // The texture still shows the frame the clock last asked for: the next bind decodes and
  // uploads that one again.
  frame_ = -1;
  return true;
}

bool readVideoFirstFrame(const char* name, ImageData* out) {
  ImageData file = {};
  if (!out || !loadVideoImageHeader(name, &file))
    return false;
  VideoImage video;
  const bool opened = video.openFromMemory(file.pixels, size_t(file.byteSize));
  imageFree(file.pixels);
  if (!opened)
    return false;
  video.seekFrame(0);
  uint8_t* copy = imageAlloc(size_t(video.frameBytes()) + 4);
  if (!copy)
    return false;
  std::memcpy(copy, video.frameBuffer(), size_t(video.frameBytes()));
  out->info = video.info;
  out->pixels = copy;
  out->byteSize = video.frameBytes();
  out->mipCount = 0;
  return true;
}

// ---------------------------------------------------------------------------------------------
// The walk

float VideoImage::readClock() {
  if (clock_ > 0 && g_expressionHooks.evaluate)
    return g_expressionHooks.evaluate(clock_);
  if (clockOverride)
    return clockOverride();
  return float(platformMilliseconds()) * 0.001f;
}

void VideoImage::advanceFrame() {
  if (!data_ || frameCount_ <= 0)
    return;
  const float t = readClock();
  if (start_ <= 0.0f)
    start_ = t;
  float p = (t - start_) * float(kVideoFramesPerSecond);
  if (!(p >= 0.0f))
    p = 0.0f;
  // Far beyond any frame count: clamp before converting.
  const double whole = p > 2.0e9f ? 2.0e9 : double(int64_t(p));
  int frame;
  if (loop_ == 1)
    frame = int(int64_t(whole) % frameCount_);
  else
    frame = int(std::min<double>(whole, double(frameCount_ - 1)));
  if (frame < 0)
    frame = 0;
  if (frame == frame_)
    return;
  seekFrame(frame);
  uploadFrame();
}

void VideoImage::seekFrame(int frame) {
  if (!data_ || frameCount_ <= 0 || frame < 0)
    return;
  if (frame >= frameCount_)
    frame = frameCount_ - 1;
  if (frame == frame_ && frameChunk_ >= 0)
    return;
  bool wrapped;
  if (frame_ < 0 || frame < frame_)
    wrapped = walkFrames(0, frame + 1);
  else
    wrapped = walkFrames(chunk_, frame - frame_);
  frame_ = wrapped ? 0 : frame;
}

bool VideoImage::walkFrames(int64_t from, int count) {
  bool codebookRead = false;
  bool wrapped = false;
  int64_t at = from;
  if (at == 0 && length_ >= kVideoChunkHeader && readU16(data_) == kVideoChunkSignature) {
    at = kVideoChunkHeader + int64_t(readU32(data_ + 2));
    if (count < 1)
      count = 1;
  }
  while (count > 0) {
    // The end of the data (or a chunk running past it) wraps once to the first frame.
    if (at + kVideoChunkHeader > length_ ||
        at + kVideoChunkHeader + int64_t(readU32(data_ + at + 2)) > length_) {
      if (wrapped)
        break;
      wrapped = true;
      at = 0;
      count = 1;
      codebookRead = false;
      continue;
    }
    const uint16_t id = readU16(data_ + at);
    const uint32_t size = readU32(data_ + at + 2);
    const uint16_t argument = readU16(data_ + at + 6);
    const uint8_t* body = data_ + at + kVideoChunkHeader;
    if (id == kVideoChunkCodebook) {
      readCodebook(body, size, argument);
      codebookRead = true;
    } else if (id >= kVideoChunkRaw && id <= kVideoChunkDelta) {
      // Still frames passed on the way are decoded too: the quad and delta frames after them
      // copy blocks from them.
      if (id == kVideoChunkQuad) {
        if (codebookRead)
          decodeQuad(body, size);
      } else if (id == kVideoChunkDelta) {
        decodeDelta(body, size);
      } else {
        decodeStill(id, body, size);
      }
      frameChunk_ = at;
      count--;
    }
    at += kVideoChunkHeader + int64_t(size);
  }
  chunk_ = at;
  return wrapped;
}

void VideoImage::readCodebook(const uint8_t* data, uint32_t size, uint16_t argument) {
  const int count2 = (argument >> 8) ? (argument >> 8) : 256;
  const int count4 = argument == 0 ? 256 : (argument & 0xFF);
  // A short codebook fills the cells its bytes cover; the rest keep what they held.
  uint32_t at = 0;
  for (int c = 0; c < count2 && at + 6 <= size; c++, at += 6) {
    const uint8_t* q = data + at;
    for (int k = 0; k < 4; k++) {
      uint8_t rgb[3];
      videoYCbCrToRGB(q[k], q[4], q[5], rgb);
      s_cells2[c][k] = packPixel(rgb);
    }
  }
  if (at < uint32_t(count2) * 6)
    fault("the codebook is shorter than its cell counts");
  for (int c = 0; c < count4 && at + 4 <= size; c++, at += 4) {
    const uint8_t* q = data + at;
    for (int quarter = 0; quarter < 4; quarter++) {
      const uint32_t* cell = s_cells2[q[quarter]];
      const int qx = (quarter & 1) * 2, qy = (quarter >> 1) * 2;
      for (int k = 0; k < 4; k++)
        s_cells4[c][(qy + (k >> 1)) * 4 + qx + (k & 1)] = cell[k];
    }
    for (int y = 0; y < 8; y++)
      for (int x = 0; x < 8; x++)
        s_cells8[c][y * 8 + x] = s_cells4[c][(y >> 1) * 4 + (x >> 1)];
  }
}

void VideoImage::swapBuffers() { std::swap(current_, previous_); }

// ---------------------------------------------------------------------------------------------
// Quad frames

namespace {

// The code and argument stream of a frame chunk: 2-bit codes from 16-bit little-endian words,
// the most significant pair first, argument bytes in between. Reading past the chunk fails.
class CodeStream {
 public:
  CodeStream(const uint8_t* data, uint32_t size) : data_(data), size_(size) {}
  bool code(int* out) {
    if (left_ == 0) {
      if (at_ + 2 > size_)
        return false;
      word_ = readU16(data_ + at_);
      at_ += 2;
      left_ = 8;
    }
    left_--;
    *out = (word_ >> (left_ * 2)) & 3;
    return true;
  }
  bool bytes(uint8_t* out, uint32_t n) {
    if (at_ + n > size_)
      return false;
    std::memcpy(out, data_ + at_, n);
    at_ += n;
    return true;
  }

 private:
  const uint8_t* data_;
  uint32_t size_;
  uint32_t at_ = 0;
  uint32_t word_ = 0;
  int left_ = 0;
};

// RGBA pixels of a frame; every write and copy is clipped to it.
struct PixelFrame {
  uint32_t* pixels;
  int width, height;

  void put(int x, int y, int size, const uint32_t* cell) {
    for (int row = 0; row < size && y + row < height; row++)
      for (int col = 0; col < size && x + col < width; col++)
        pixels[(y + row) * width + x + col] = cell[row * size + col];
  }
  // A 2x2 cell doubled or not is written by put; this writes a 4x4 from four 2x2 cells.
  void putQuarters(int x, int y, const uint8_t cells[4]) {
    for (int quarter = 0; quarter < 4; quarter++)
      put(x + (quarter & 1) * 2, y + (quarter >> 1) * 2, 2, s_cells2[cells[quarter]]);
  }
  // The source square must lie inside the frame for the part the destination keeps.
  bool copy(const uint32_t* from, int x, int y, int size, int m) {
    const int sx = x + 8 - (m >> 4), sy = y + 8 - (m & 15);
    const int w = std::min(size, width - x), h = std::min(size, height - y);
    if (sx < 0 || sy < 0 || sx + w > width || sy + h > height)
      return false;
    for (int row = 0; row < h; row++)
      std::memcpy(pixels + (y + row) * width + x, from + (sy + row) * width + sx, size_t(w) * 4);
    return true;
  }
};

}  // namespace

bool VideoImage::decodeQuad(const uint8_t* data, uint32_t size) {
  if (info.pixelFormat != kPixelFormatRGBA) {
    fault("a quad frame in a video whose frames are not 32-bit pixels");
    return false;
  }
  // A skipped block keeps what the swapped-in buffer holds (the frame before the previous one):
  // writers code "unchanged" as a motion copy of the same place.
  swapBuffers();
  PixelFrame frame{reinterpret_cast<uint32_t*>(current_), info.width, info.height};
  const uint32_t* before = reinterpret_cast<const uint32_t*>(previous_);
  CodeStream stream(data, size);
  for (int my = 0; my < info.height; my += 16) {
    for (int mx = 0; mx < info.width; mx += 16) {
      for (int b = 0; b < 4; b++) {
        const int bx = mx + (b & 1) * 8, by = my + (b >> 1) * 8;
        int code = 0;
        uint8_t arg[4];
        if (!stream.code(&code)) {
          fault("a quad frame ends before its codes do");
          return false;
        }
        const bool outside = bx >= info.width || by >= info.height;
        if (code == 1) {
          if (!stream.bytes(arg, 1)) {
            fault("a quad frame ends inside an argument");
            return false;
          }
          if (!outside && !frame.copy(before, bx, by, 8, arg[0])) {
            fault("a motion vector points outside the frame");
            return false;
          }
        } else if (code == 2) {
          if (!stream.bytes(arg, 1)) {
            fault("a quad frame ends inside an argument");
            return false;
          }
          if (!outside)
            frame.put(bx, by, 8, s_cells8[arg[0]]);
        } else if (code == 3) {
          for (int s = 0; s < 4; s++) {
            const int sx = bx + (s & 1) * 4, sy = by + (s >> 1) * 4;
            const bool subOutside = sx >= info.width || sy >= info.height;
            int sub = 0;
            if (!stream.code(&sub)) {
              fault("a quad frame ends before its codes do");
              return false;
            }
            const uint32_t n = sub == 1 || sub == 2 ? 1 : (sub == 3 ? 4 : 0);
            if (n && !stream.bytes(arg, n)) {
              fault("a quad frame ends inside an argument");
              return false;
            }
            if (subOutside)
              continue;
            if (sub == 1 && !frame.copy(before, sx, sy, 4, arg[0])) {
              fault("a motion vector points outside the frame");
              return false;
            }
            if (sub == 2)
              frame.put(sx, sy, 4, s_cells4[arg[0]]);
            else if (sub == 3)
              frame.putQuarters(sx, sy, arg);
          }
        }
      }
    }
  }
  return true;
}

// ---------------------------------------------------------------------------------------------
// Block-delta frames

bool VideoImage::decodeDelta(const uint8_t* data, uint32_t size) {
  if (!dxt_) {
    fault("a block-delta frame in a video without DXT frames");
    return false;
  }
  swapBuffers();  // skipped blocks keep what the swapped-in buffer holds, as in quad frames
  const int bw = (info.width + 3) / 4, bh = (info.height + 3) / 4;
  auto block = [&](uint8_t* base, int x, int y) { return base + (size_t(y) * bw + x) * 8; };
  // One block from the previous frame, displaced by 8 - nibble blocks; false outside the frame.
  auto copyBlock = [&](int x, int y, int m) {
    const int sx = x + 8 - (m >> 4), sy = y + 8 - (m & 15);
    if (sx < 0 || sy < 0 || sx >= bw || sy >= bh)
      return false;
    std::memcpy(block(current_, x, y), block(previous_, sx, sy), 8);
    return true;
  };
  CodeStream stream(data, size);
  for (int gy = 0; gy < bh; gy += 4) {
    for (int gx = 0; gx < bw; gx += 4) {
      for (int q = 0; q < 4; q++) {
        const int qx = gx + (q & 1) * 2, qy = gy + (q >> 1) * 2;
        int code = 0;
        uint8_t arg[8];
        if (!stream.code(&code)) {
          fault("a block-delta frame ends before its codes do");
          return false;
        }
        if (code == 1 || code == 2) {
          if (!stream.bytes(arg, code == 1 ? 1 : 8)) {
            fault("a block-delta frame ends inside an argument");
            return false;
          }
          for (int k = 0; k < 4; k++) {
            const int x = qx + (k & 1), y = qy + (k >> 1);
            if (x >= bw || y >= bh)
              continue;
            if (code == 2) {
              std::memcpy(block(current_, x, y), arg, 8);
            } else if (!copyBlock(x, y, arg[0])) {
              fault("a motion vector points outside the frame");
              return false;
            }
          }
        } else if (code == 3) {
          for (int k = 0; k < 4; k++) {
            const int x = qx + (k & 1), y = qy + (k >> 1);
            int sub = 0;
            if (!stream.code(&sub)) {
              fault("a block-delta frame ends before its codes do");
              return false;
            }
            if (sub != 1 && sub != 2)
              continue;
            if (!stream.bytes(arg, sub == 1 ? 1 : 8)) {
              fault("a block-delta frame ends inside an argument");
              return false;
            }
            if (x >= bw || y >= bh)
              continue;
            if (sub == 2) {
              std::memcpy(block(current_, x, y), arg, 8);
            } else if (!copyBlock(x, y, arg[0])) {
              fault("a motion vector points outside the frame");
              return false;
            }
          }
        }
      }
    }
  }
  return true;
}

// ---------------------------------------------------------------------------------------------
// Stills and uploads

bool VideoImage::decodeStill(uint16_t id, const uint8_t* data, uint32_t size) {
  if (id == kVideoChunkRaw) {
    if (int64_t(size) < frameBytes_) {
      fault("a raw frame is shorter than the frame");
      return false;
    }
    // Pixels of another size (or another format) are not this video's frame.
    if (int64_t(size) > frameBytes_) {
      fault("a raw frame is longer than the frame");
      return false;
    }
    std::memcpy(current_, data, size_t(frameBytes_));
    return true;
  }
  if (id == kVideoChunkJpeg) {
    if (info.pixelFormat != kPixelFormatRGB) {
      fault("a JPEG frame in a video whose frames are not 24-bit pixels");
      return false;
    }
    ImageData out = {};
    if (!loadJPEGFromMemory(data, size, &out, true))
      return false;
    const bool fits = out.info.width == info.width && out.info.height == info.height &&
                      out.byteSize == frameBytes_;
    if (fits)
      std::memcpy(current_, out.pixels, size_t(frameBytes_));
    else
      fault("a JPEG frame does not match the video's size");
    imageFree(out.pixels);
    return fits;
  }
  if (id == kVideoChunkDds) {
    ImageData out = {};
    if (size > uint32_t(0x7FFFFFFF) || !loadDDSFromMemory(data, int(size), &out, true))
      return false;
    const bool fits = out.info.pixelFormat == kPixelFormatDXT1 && out.info.width == info.width &&
                      out.info.height == info.height && out.byteSize >= frameBytes_;
    if (fits)
      std::memcpy(current_, out.pixels, size_t(frameBytes_));
    else
      fault("a DDS frame is no DXT1 image of the video's size");
    imageFree(out.pixels);
    return fits;
  }
  return false;
}

void VideoImage::uploadFrame() {
  if (!current_ || textureId < 0 || !g_renderInterface || !g_renderInterface->isReady())
    return;
  RenderInterface* device = g_renderInterface;
  device->pushContext();
  device->makeMainContextCurrent();
  device->bindTexture(kTextureType2D, unsigned(textureId));
  ImageInfo frameInfo = info;
  frameInfo.textureType = kTextureType2D;
  if (dxt_)
    device->uploadCompressedTexImage(&frameInfo, 0, current_, frameBytes_, 0);
  else
    device->uploadTexSubImage(&frameInfo, current_);
  device->popContext();
}

// ---------------------------------------------------------------------------------------------
// The player

namespace {

class TexVideoPlayer : public VideoPlayer {
 public:
  void* open(const char* name, int loadFlags) override {
    if (!g_texManager || !name)
      return nullptr;
    ImageInterface* image = g_texManager->findImage(name, uint32_t(loadFlags));
    if (!image)
      return nullptr;
    if (!image->isVideo() || !image->load()) {
      g_texManager->releaseImage(image);
      return nullptr;
    }
    VideoImage* video = static_cast<VideoImage*>(image);
    video->setLoop(0);
    video->restart();
    opened_ = platformMilliseconds();
    return video;
  }
  bool isAtEnd(void* handle) override {
    VideoImage* video = static_cast<VideoImage*>(handle);
    // Nothing can be shown without a renderer; and a clock that stalls (no view time reaching the
    // registers) must not keep the engine in the video: it ends a second after its length. The
    // frame is the one the last draw reached: advancing here, between frames, would read a clock
    // without the playback's view time and send the video back to its first frame.
    if (!g_renderSystem)
      return true;
    const uint32_t length = uint32_t(video->frameCount()) * 1000u / kVideoFramesPerSecond + 1000u;
    return video->isAtEnd() || platformMilliseconds() - opened_ > length;
  }
  void draw(void* handle, float x, float y, float w, float h, float s0, float t0, float s1, float t1) override {
    if (g_renderSystem)
      g_renderSystem->drawStretchImage(static_cast<VideoImage*>(handle), x, y, w, h, s0, t0, s1, t1);
  }
  void setExpressionParms(const float* parms) override {
    if (parms) {
      std::memcpy(parms_, parms, sizeof(parms_));
      if (g_expressionHooks.getParms && !saved_)
        saved_ = true, previous_ = g_expressionHooks.getParms();
      if (g_expressionHooks.setParms)
        g_expressionHooks.setParms(parms_);
    } else if (saved_) {
      if (g_expressionHooks.setParms)
        g_expressionHooks.setParms(previous_);
      saved_ = false;
    }
  }
  void close(void* handle) override {
    if (g_texManager && handle)
      g_texManager->releaseImage(static_cast<VideoImage*>(handle));
  }

 private:
  float parms_[12] = {};
  float* previous_ = nullptr;
  bool saved_ = false;
  uint32_t opened_ = 0;
};

TexVideoPlayer s_player;

}  // namespace

void installVideoPlayer(bool install) {
  if (install)
    g_videoPlayer = &s_player;
  else if (g_videoPlayer == &s_player)
    g_videoPlayer = nullptr;
}
