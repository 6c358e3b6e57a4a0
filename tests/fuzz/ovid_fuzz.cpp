// Fuzzes the ".ovid" video format: the input is opened as a video kept in memory, every frame is
// decoded forward, then backward (each step a walk from the start), then the clock is driven past
// the end with and without looping. The header reader must agree with the video on the data.
#include <cstdint>
#include <cstdlib>

#include "render/texture/videoimage.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

fuzz::QuietCmdSystem g_quiet;
float g_clock = 0.0f;

void check(bool ok) {
  if (!ok)
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  g_cmdSystem = &g_quiet;
  VideoImage::clockOverride = [] { return g_clock; };
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Frames of up to 256 x 256 reach every decoder path; larger ones only cost time (the engine
  // takes sides up to its own limit).
  if (size >= 20 && uint32_t(data[16] | data[17] << 8) * uint32_t(data[18] | data[19] << 8) > 65536)
    return 0;
  VideoImage video;
  const bool opened = video.openFromMemory(data, size);
  ImageData info = {};
  const bool read = readVideoImageInfo(data, size, &info);
  check(opened == read);
  if (read) {
    check(info.byteSize == int32_t(size) && info.info.width > 0 && info.info.height > 0);
    imageFree(info.pixels);
  }
  if (!opened)
    return 0;
  const int frames = video.frameCount();
  check(frames >= 0 && video.frameBytes() > 0);
  // Large videos: a few frames are enough to reach every decoder.
  const int limit = frames < 64 ? frames : 64;
  for (int f = 0; f < limit; f++) {
    video.seekFrame(f);
    check(video.currentFrame() >= 0 && video.currentFrame() < frames);
  }
  for (int f = limit - 1; f >= 0 && f > limit - 8; f--)
    video.seekFrame(f);
  for (int loop = 0; loop < 2; loop++) {
    video.setLoop(loop);
    video.restart();
    g_clock = 1.0f;
    video.advanceFrame();
    g_clock = 1.0f + float(frames + 3) / 24.0f;
    video.advanceFrame();
    check(video.currentFrame() < frames);
  }
  return 0;
}
