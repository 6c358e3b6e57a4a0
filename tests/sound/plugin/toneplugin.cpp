// A sound plug-in for the tests: files ".tone" hold "<frequency> <milliseconds> <rate>" as text
// and decode to a 16-bit mono sine of that frequency and length.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "sound/soundstream.h"

namespace {

struct Tone {
  int frequency;
  int frames;
  int rate;
  int at;
};

void* toneOpen(const char* path, int* size, int* bits, int* channels, int* rate) {
  FILE* f = std::fopen(path, "rb");
  if (!f)
    return nullptr;
  int hz = 0, ms = 0, r = 0;
  const int n = std::fscanf(f, "%d %d %d", &hz, &ms, &r);
  std::fclose(f);
  if (n != 3 || hz <= 0 || ms <= 0 || r <= 0)
    return nullptr;
  Tone* tone = static_cast<Tone*>(std::malloc(sizeof(Tone)));
  *tone = Tone{hz, int(int64_t(ms) * r / 1000), r, 0};
  *size = tone->frames * 2;
  *bits = 16;
  *channels = 1;
  *rate = r;
  return tone;
}

int toneGetData(void* handle, char* dest, int bytes, int*) {
  Tone* tone = static_cast<Tone*>(handle);
  int written = 0;
  while (written + 2 <= bytes && tone->at < tone->frames) {
    const double t = double(tone->at) / tone->rate;
    const int16_t v = int16_t(std::lrint(16000.0 * std::sin(2.0 * M_PI * tone->frequency * t)));
    std::memcpy(dest + written, &v, 2);
    written += 2;
    ++tone->at;
  }
  return written;
}

void toneClose(void* handle) {
  std::free(handle);
}

const QuillSoundPlugin kPlugin = {kSoundPluginVersion, "tone\0Test tones\0", toneOpen, toneGetData, toneClose};

}  // namespace

extern "C" __attribute__((visibility("default"))) const QuillSoundPlugin* quillSoundPlugin() {
  return &kPlugin;
}
