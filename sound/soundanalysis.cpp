// Stream analysis: a 75-band spectrum per channel with falling levels and peaks, 32 band-energy
// histories and a beat flag, computed from a stream as a caller follows its play position.
#include <cmath>
#include <cstring>

#include "sound/sndmanager.h"

namespace {

constexpr int kFftSize = 512;
constexpr float kPeakAcceleration[5] = {1.2f, 1.3f, 1.4f, 1.5f, 1.6f};
constexpr float kLevelFall[5] = {0.34f, 0.5f, 1.0f, 1.3f, 1.6f};
constexpr int kBandEdges[76] = {0,   1,   2,   3,   4,   5,   6,   7,   8,   9,   10,  11,  12,  13,  14,  15,
                                16,  17,  18,  19,  20,  21,  22,  23,  24,  25,  26,  27,  28,  29,  30,  31,
                                32,  33,  34,  35,  36,  37,  38,  39,  40,  41,  42,  43,  44,  45,  46,  47,
                                48,  49,  50,  51,  52,  53,  54,  55,  56,  57,  58,  61,  66,  71,  76,  81,
                                87,  93,  100, 107, 114, 122, 131, 140, 150, 161, 172, 184};

struct FftTables {
  int reversed[kFftSize];
  float cosines[kFftSize / 2];
  float sines[kFftSize / 2];
  float re[kFftSize];
  float im[kFftSize];
  bool ready = false;
};

FftTables g_fft;

void fftInitTables() {
  if (g_fft.ready)
    return;
  for (int i = 0; i < kFftSize; ++i) {
    int r = 0;
    for (int b = 0; b < 9; ++b)
      if (i & (1 << b))
        r |= 1 << (8 - b);
    g_fft.reversed[i] = r;
  }
  for (int j = 0; j < kFftSize / 2; ++j) {
    g_fft.cosines[j] = float(std::cos(2.0 * M_PI * j / kFftSize));
    g_fft.sines[j] = float(std::sin(2.0 * M_PI * j / kFftSize));
  }
  g_fft.ready = true;
}

// Power of bins 0..256 of 512 real values (power(0) and power(256) scaled by 0.25).
void fftPowerSpectrum512(const int16_t* values, float* power) {
  fftInitTables();
  for (int i = 0; i < kFftSize; ++i) {
    g_fft.re[i] = float(values[g_fft.reversed[i]]);
    g_fft.im[i] = 0.0f;
  }
  for (int span = 1; span < kFftSize; span <<= 1) {
    const int stride = kFftSize / (span * 2);
    for (int start = 0; start < kFftSize; start += span * 2) {
      for (int k = 0; k < span; ++k) {
        const float c = g_fft.cosines[k * stride];
        const float s = -g_fft.sines[k * stride];
        const int a = start + k, b = a + span;
        const float tr = g_fft.re[b] * c - g_fft.im[b] * s;
        const float ti = g_fft.re[b] * s + g_fft.im[b] * c;
        g_fft.re[b] = g_fft.re[a] - tr;
        g_fft.im[b] = g_fft.im[a] - ti;
        g_fft.re[a] += tr;
        g_fft.im[a] += ti;
      }
    }
  }
  for (int k = 0; k <= kFftSize / 2; ++k)
    power[k] = g_fft.re[k] * g_fft.re[k] + g_fft.im[k] * g_fft.im[k];
  power[0] *= 0.25f;
  power[kFftSize / 2] *= 0.25f;
}

void soundVisSpectrum(const int16_t* values, int* magnitudes) {
  float power[kFftSize / 2 + 1];
  fftPowerSpectrum512(values, power);
  for (int i = 0; i < kFftSize / 2; ++i)
    magnitudes[i] = int(std::sqrt(double(power[i + 1]))) >> 8;
}

void soundVisUpdateBands(SoundVisState* state, int channel, const float* levels, bool peaksFall) {
  const int fall = state->levelFallIndex >= 0 && state->levelFallIndex < 5 ? state->levelFallIndex : 0;
  const int accel = state->peakAccelerationIndex >= 0 && state->peakAccelerationIndex < 5
                        ? state->peakAccelerationIndex
                        : 0;
  for (int b = 0; b < 75; ++b) {
    float& level = state->levels[channel][b];
    float& peak = state->peaks[channel][b];
    float& speed = state->peakSpeeds[channel][b];
    if (levels && level < levels[b]) {
      level = levels[b];
      if (peak < level) {
        peak = level;
        speed = 0.01f;
      }
    } else if (level > 0.0f) {
      level -= kLevelFall[fall];
      if (level < 0.0f)
        level = 0.0f;
    }
    if (peaksFall && peak > 0.0f) {
      peak -= speed;
      speed *= kPeakAcceleration[accel];
      if (peak < level)
        peak = level;
      if (peak < 0.0f)
        peak = 0.0f;
    }
  }
}

void soundVisUpdate(SoundVisState* state, int16_t (*arrays)[kFftSize], int channels, int frames) {
  bool peaksFall = false;
  if (state->lastPosition == 0 || state->peakClock < state->lastPosition) {
    peaksFall = true;
    state->peakClock = state->lastPosition + 5512;
  }
  if (!arrays || frames < 1) {
    soundVisUpdateBands(state, 0, nullptr, peaksFall);
    soundVisUpdateBands(state, 1, nullptr, peaksFall);
    return;
  }
  for (int c = 0; c < 2; ++c) {
    int magnitudes[kFftSize / 2];
    // Channel 1 of a mono stream repeats channel 0. The work area keeps the transform done last
    // (channel 1's), which the beat bands read.
    const int source = c == 1 && channels == 2 ? 1 : 0;
    soundVisSpectrum(arrays[source], magnitudes);
    float levels[75];
    for (int b = 0; b < 75; ++b) {
      int m = 0;
      for (int k = kBandEdges[b]; k < kBandEdges[b + 1]; ++k)
        if (magnitudes[k] > m)
          m = magnitudes[k];
      const int scaled = m >> 7;
      float level = 0.0f;
      if (scaled > 0) {
        level = std::trunc(float(std::log(double(scaled)) * 3.6067376));
        if (level > 15.0f)
          level = 15.0f;
      }
      levels[b] = level;
    }
    soundVisUpdateBands(state, c, levels, peaksFall);
  }
}

}  // namespace

SoundStream* SndManager::openAnalysisStream(const char* name, SoundVisState* state) {
  char resolved[256];
  if (!name || !resolveSoundFileName(name, resolved, sizeof(resolved)))
    return nullptr;
  SoundStream* stream = openSoundStream(resolved);
  if (state) {
    std::memset(state, 0, sizeof(*state));
    if (stream)
      state->dataLength = stream->getLength();
  }
  return stream;
}

bool SndManager::analyzeStream(SoundStream* stream, SoundVisState* state, int64_t position) {
  if (!stream || !state)
    return false;
  const SoundFormat& f = stream->getFormat();
  if (f.bitsPerSample != 8 && f.bitsPerSample != 16)
    return false;
  bool ok = true;
  if (position < state->lastPosition) {
    state->lastPosition = position;
    ok = false;
  }
  ++state->beatCounter;
  const int channels = f.channels;
  const int frameBytes = channels * f.bitsPerSample / 8;
  static int16_t arrays[2][kFftSize];
  std::memset(arrays, 0, sizeof(arrays));
  int64_t frames = 0;
  // A zero-sized frame or more than two channels cannot be read frame by frame.
  if (frameBytes > 0 && channels <= 2) {
    frames = (position - state->lastPosition + frameBytes - 1) / frameBytes;
    if (frames > kFftSize) {
      if (!stream->skip(int64_t(frameBytes) * (frames - kFftSize), false))
        ok = false;
      frames = kFftSize;
    }
    uint8_t frame[4];
    for (int i = 0; i < int(frames); ++i) {
      if (!stream->readFully(frame, frameBytes, false)) {
        ok = false;
        std::memset(frame, 0, sizeof(frame));
      }
      for (int c = 0; c < channels; ++c) {
        if (f.bitsPerSample == 16)
          arrays[c][i] = int16_t(frame[2 * c] | (frame[2 * c + 1] << 8));
        else
          arrays[c][i] = int16_t((int(frame[c]) - 128) * (32767 / 128));  // unsigned 8-bit, centred
      }
    }
  } else {
    ok = false;
  }
  state->lastPosition = position;
  soundVisUpdate(state, arrays, channels, int(frames));
  // Beat bands from the latest transform.
  float energies[32];
  for (int j = 0; j < 32; ++j) {
    float sum = 0.0f;
    for (int k = 8 * j + 1; k <= 8 * j + 8; ++k) {
      const int bin = k < kFftSize ? k : kFftSize - 1;
      sum += (std::fabs(g_fft.re[bin]) + float(k) * std::fabs(g_fft.im[bin])) / 65536.0f;
    }
    energies[j] = sum / 8.0f;
  }
  float averages[32];
  for (int j = 0; j < 32; ++j) {
    std::memmove(&state->bandHistories[j][1], &state->bandHistories[j][0], sizeof(float) * 42);
    state->bandHistories[j][0] = energies[j];
    float sum = 0.0f;
    for (int h = 0; h < 43; ++h)
      sum += state->bandHistories[j][h];
    averages[j] = sum / 43.0f;
  }
  state->beat = 0;
  if (state->beatCounter > 42) {
    for (int j = 0; j < 8; ++j) {
      if (energies[j] > 2.0f * averages[j]) {
        state->beat = 1;
        state->beatCounter >>= 1;
        break;
      }
    }
  }
  return ok;
}
