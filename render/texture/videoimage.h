// VideoImage: a texture image whose pixels come from a ".ovid" video kept in memory. Every bind
// works out the frame its clock asks for (24 frames a second), decodes forward (or from the start)
// to it and uploads it. Frames are raw pixels, vector-quantised quad frames over a YCbCr codebook,
// JPEG, DDS (DXT1) or DXT1 block-delta frames. Also the full-screen video player the common manager
// plays the intro video through. Main thread only; the codebook tables are process-wide.
#pragma once

#include <cstddef>
#include <cstdint>

#include "lib/interface/texmanager.h"

// Chunk ids of the format: an 8-byte header (id u16, data size u32, argument u16), then the data.
enum VideoChunkId : uint16_t {
  kVideoChunkSignature = 0x1084,
  kVideoChunkInfo = 0x1001,
  kVideoChunkCodebook = 0x1002,
  kVideoChunkRaw = 0x1010,
  kVideoChunkQuad = 0x1011,
  kVideoChunkJpeg = 0x1012,
  kVideoChunkDds = 0x1013,
  kVideoChunkDelta = 0x1014,
};
constexpr int kVideoChunkHeader = 8;
constexpr int kVideoFramesPerSecond = 24;
// Largest file kept in memory and largest side a video may declare.
constexpr int64_t kVideoMaxFileBytes = int64_t(256) << 20;
constexpr int kVideoMaxSide = 4096;

class VideoImage : public ImageInterface {
 public:
  VideoImage();
  ~VideoImage() override;

  bool bind() override;
  bool load() override;
  void unload() override;
  // Reads the file (name + extension) unless data and a clock are present.
  bool open() override;
  void setLoop(int loop) override { loop_ = loop; }
  void restart() override { start_ = 0.0f; }
  void setClockRegister(int reg) override { clock_ = reg; }
  bool isVideo() const override { return true; }
  bool isAtEnd() const { return frame_ + 1 >= frameCount_; }

  // Takes a copy of a whole file in memory (tests, the fuzz harness and loaders that hold the
  // bytes already); false, leaving the video without data, when the header is unusable.
  bool openFromMemory(const uint8_t* bytes, size_t length);
  // Loads, decodes the first frame and hands a copy of the frame buffer with the image's info.
  bool loadFirstFrame(ImageData* out);
  // The frame the clock asks for, decoded and uploaded (run at every bind).
  void advanceFrame();
  // Decodes forward (or from the start) to `frame` and leaves it in the frame buffer.
  void seekFrame(int frame);

  int frameCount() const { return frameCount_; }
  int currentFrame() const { return frame_; }
  bool hasData() const { return data_ != nullptr; }
  const uint8_t* frameBuffer() const { return current_; }
  int frameBytes() const { return frameBytes_; }
  // Faults met while decoding (refused chunks, codes and vectors); each is also printed once.
  int faults() const { return faults_; }
  // The value the clock is read from when no expression registers are installed (tests).
  static inline float (*clockOverride)() = nullptr;

 private:
  bool parseHeader();
  // Passes `count` frame chunks from `from`; true when it ran off the end and wrapped to frame 0.
  bool walkFrames(int64_t from, int count);
  void readCodebook(const uint8_t* data, uint32_t size, uint16_t argument);
  bool decodeQuad(const uint8_t* data, uint32_t size);
  bool decodeDelta(const uint8_t* data, uint32_t size);
  // Fills the frame buffer from a raw, JPEG or DDS chunk; false when the chunk does not fit.
  bool decodeStill(uint16_t id, const uint8_t* data, uint32_t size);
  void uploadFrame();
  void fault(const char* what);
  void swapBuffers();
  float readClock();

  uint8_t* data_ = nullptr;
  int64_t length_ = 0;
  int64_t chunk_ = 0;       // where the next walk goes on
  int64_t frameChunk_ = -1;  // the current frame's chunk
  int frame_ = -1;
  int loop_ = 0;
  float start_ = 0.0f;
  int clock_ = -1;
  int frameCount_ = 0;
  uint8_t* current_ = nullptr;
  uint8_t* previous_ = nullptr;
  int frameBytes_ = 0;
  int faults_ = 0;
  bool dxt_ = false;
};

// The signature and info chunks of a file: width, height, depth 0, the format, texture type 0,
// quality 99, and a copy of the whole file as the pixel block (byte size = file length).
bool readVideoImageInfo(const uint8_t* bytes, size_t length, ImageData* out);
bool loadVideoImageHeader(const char* name, ImageData* out);
// The first frame of a video file as an image (its frame buffer's format), for the image readers.
bool readVideoFirstFrame(const char* name, ImageData* out);

// YCbCr to RGB with the JFIF equations, clamped (the tables the codebooks use).
void videoYCbCrToRGB(int y, int cb, int cr, uint8_t rgb[3]);

// The full-screen player (lib/interface/videoplayer.h), installed with the texture manager.
void installVideoPlayer(bool install);
