// Our own mixer behind the voice interface: every playing voice is resampled linearly to the output
// rate, scaled by its volume and pan gains and summed into 16-bit stereo with saturation.
#include "platform/audio.h"

#include <SDL.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

// PCM that a voice and its duplicates share; freed with its last voice.
struct AudioPcm {
  std::atomic<int> refs{1};
  std::vector<uint8_t> data;
};

class AudioMixer {
 public:
  std::mutex lock;  // the mixer's own lock: voice list, voice state, PCM writes
  AudioVoice* voices = nullptr;
  int voiceCount = 0;
  std::atomic<int> pcmCount{0};
  SDL_AudioDeviceID device = 0;
  bool open = false;
  bool manual = false;
  std::vector<float> scratch;  // stereo accumulation, grown outside the callback when possible

  void link(AudioVoice* voice) {
    voice->next_ = voices;
    if (voices)
      voices->prev_ = voice;
    voices = voice;
    ++voiceCount;
  }
  void unlink(AudioVoice* voice) {
    if (voice->prev_)
      voice->prev_->next_ = voice->next_;
    else
      voices = voice->next_;
    if (voice->next_)
      voice->next_->prev_ = voice->prev_;
    voice->next_ = voice->prev_ = nullptr;
    --voiceCount;
  }
  void mix(int16_t* out, int frames);
};

namespace {

AudioMixer g_mixer;

// The cursor a writer must stay behind: one device period of the output, at the voice's rate.
constexpr int kWriteLeadFrames = 1024;

void releasePcm(AudioPcm* pcm) {
  if (pcm && pcm->refs.fetch_sub(1) == 1) {
    delete pcm;
    g_mixer.pcmCount.fetch_sub(1);
  }
}

void SDLCALL audioCallback(void*, Uint8* stream, int len) {
  g_mixer.mix(reinterpret_cast<int16_t*>(stream), len / 4);
}

}  // namespace

float audioGainOfLevel(int hundredthsDb) {
  if (hundredthsDb <= -10000)
    return 0.0f;
  if (hundredthsDb >= 0)
    return 1.0f;
  return std::pow(10.0f, float(hundredthsDb) / 2000.0f);
}

namespace {

// Positions are frames in 32.32 fixed point: one integer add a frame, and the fraction of the
// interpolation taken from its top 24 bits.
constexpr int kFracBits = 32;
constexpr float kFracScale = 1.0f / float(1 << 24);

inline float fracOf(uint64_t pos) {
  return float(int32_t(uint32_t(pos) >> 8)) * kFracScale;
}

template <int Channels, int Bits>
inline float sampleAt(const uint8_t* data, uint64_t frame, int channel) {
  if (Bits == 16) {
    int16_t v;
    std::memcpy(&v, data + (size_t(frame) * Channels + size_t(channel)) * 2, 2);
    return float(v);
  }
  return float(int(data[size_t(frame) * Channels + size_t(channel)]) - 128) * 256.0f;
}

// n frames whose next frame lies inside the PCM: no bounds checks and no branches.
template <int Channels, int Bits>
void mixRun(const uint8_t* data, uint64_t pos, uint64_t step, float gl, float gr, float* left, float* right,
            int n) {
  int i = 0;
#if defined(__SSE2__)
  if (Channels == 1 && Bits == 16) {
    // Four frames at a time: one 32-bit load gives a frame and the next one.
    const __m128 vgl = _mm_set1_ps(gl), vgr = _mm_set1_ps(gr), scale = _mm_set1_ps(kFracScale);
    for (; i + 4 <= n; i += 4) {
      int32_t pair[4], frac[4];
      for (int k = 0; k < 4; ++k) {
        std::memcpy(&pair[k], data + size_t(pos >> kFracBits) * 2, 4);
        frac[k] = int32_t(uint32_t(pos) >> 8);
        pos += step;
      }
      const __m128i pairs = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pair));
      const __m128 s0 = _mm_cvtepi32_ps(_mm_srai_epi32(_mm_slli_epi32(pairs, 16), 16));
      const __m128 s1 = _mm_cvtepi32_ps(_mm_srai_epi32(pairs, 16));
      const __m128 t =
          _mm_mul_ps(_mm_cvtepi32_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(frac))), scale);
      const __m128 v = _mm_add_ps(s0, _mm_mul_ps(_mm_sub_ps(s1, s0), t));
      _mm_storeu_ps(left + i, _mm_add_ps(_mm_loadu_ps(left + i), _mm_mul_ps(v, vgl)));
      _mm_storeu_ps(right + i, _mm_add_ps(_mm_loadu_ps(right + i), _mm_mul_ps(v, vgr)));
    }
  } else if (Channels == 2 && Bits == 16) {
    // Four frames at a time: one 64-bit load gives a frame and the next one, both channels.
    const __m128 vgl = _mm_set1_ps(gl), vgr = _mm_set1_ps(gr), scale = _mm_set1_ps(kFracScale);
    for (; i + 4 <= n; i += 4) {
      int64_t quad[4];
      int32_t frac[4];
      for (int k = 0; k < 4; ++k) {
        std::memcpy(&quad[k], data + size_t(pos >> kFracBits) * 4, 8);
        frac[k] = int32_t(uint32_t(pos) >> 8);
        pos += step;
      }
      const __m128 t =
          _mm_mul_ps(_mm_cvtepi32_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(frac))), scale);
      __m128 v[2];
      for (int h = 0; h < 2; ++h) {
        // Frames 2h and 2h + 1: their first and next samples, left and right.
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(quad + 2 * h));
        const __m128i a = _mm_srai_epi32(_mm_unpacklo_epi16(x, x), 16);
        const __m128i b = _mm_srai_epi32(_mm_unpackhi_epi16(x, x), 16);
        const __m128 s0 = _mm_cvtepi32_ps(_mm_unpacklo_epi64(a, b));
        const __m128 s1 = _mm_cvtepi32_ps(_mm_unpackhi_epi64(a, b));
        const __m128 th = h == 0 ? _mm_unpacklo_ps(t, t) : _mm_unpackhi_ps(t, t);
        v[h] = _mm_add_ps(s0, _mm_mul_ps(_mm_sub_ps(s1, s0), th));
      }
      const __m128 l = _mm_shuffle_ps(v[0], v[1], _MM_SHUFFLE(2, 0, 2, 0));
      const __m128 r = _mm_shuffle_ps(v[0], v[1], _MM_SHUFFLE(3, 1, 3, 1));
      _mm_storeu_ps(left + i, _mm_add_ps(_mm_loadu_ps(left + i), _mm_mul_ps(l, vgl)));
      _mm_storeu_ps(right + i, _mm_add_ps(_mm_loadu_ps(right + i), _mm_mul_ps(r, vgr)));
    }
  }
#endif
  for (; i < n; ++i) {
    const uint64_t f0 = pos >> kFracBits;
    const float t = fracOf(pos);
    const float l0 = sampleAt<Channels, Bits>(data, f0, 0), l1 = sampleAt<Channels, Bits>(data, f0 + 1, 0);
    const float l = l0 + (l1 - l0) * t;
    float r = l;
    if (Channels == 2) {
      const float r0 = sampleAt<Channels, Bits>(data, f0, 1), r1 = sampleAt<Channels, Bits>(data, f0 + 1, 1);
      r = r0 + (r1 - r0) * t;
    }
    left[i] += l * gl;
    right[i] += r * gr;
    pos += step;
  }
}

// Mixes one voice into the left and right accumulators; false when a one-shot voice reached its
// end. Runs in which the next frame stays inside the PCM go in blocks; only the frames at the
// end of the PCM take the checked path.
template <int Channels, int Bits>
bool mixVoice(const uint8_t* data, int total, bool looping, uint64_t step, float gl, float gr,
              uint64_t* position, float* left, float* right, int frames) {
  uint64_t pos = *position;
  const uint64_t end = uint64_t(total) << kFracBits;
  const uint64_t runEnd = uint64_t(total - 1) << kFracBits;  // frames before it have a next frame
  int i = 0;
  while (i < frames) {
    if (pos < runEnd) {
      uint64_t room = (runEnd - pos + step - 1) / step;
      const int run = room < uint64_t(frames - i) ? int(room) : frames - i;
      mixRun<Channels, Bits>(data, pos, step, gl, gr, left + i, right + i, run);
      pos += step * uint64_t(run);
      i += run;
      if (i >= frames)
        break;
    }
    if (pos >= end) {
      if (!looping) {
        *position = 0;
        return false;
      }
      pos %= end;
      continue;
    }
    // The last frame: its neighbour is the first frame when looping, else itself.
    const uint64_t f0 = pos >> kFracBits;
    const uint64_t f1 = f0 + 1 < uint64_t(total) ? f0 + 1 : looping ? 0 : f0;
    const float t = fracOf(pos);
    const float l0 = sampleAt<Channels, Bits>(data, f0, 0), l1 = sampleAt<Channels, Bits>(data, f1, 0);
    const float l = l0 + (l1 - l0) * t;
    float r = l;
    if (Channels == 2) {
      const float r0 = sampleAt<Channels, Bits>(data, f0, 1), r1 = sampleAt<Channels, Bits>(data, f1, 1);
      r = r0 + (r1 - r0) * t;
    }
    left[i] += l * gl;
    right[i] += r * gr;
    pos += step;
    ++i;
  }
  if (pos >= end) {
    if (!looping) {
      *position = 0;
      return false;
    }
    pos %= end;
  }
  *position = pos;
  return true;
}

}  // namespace

void AudioMixer::mix(int16_t* out, int frames) {
  std::lock_guard<std::mutex> guard(lock);
  if (scratch.size() < size_t(frames) * 2)
    scratch.resize(size_t(frames) * 2);
  // Planar accumulators, so each voice adds whole blocks of one side.
  float* left = scratch.data();
  float* right = left + frames;
  std::memset(left, 0, sizeof(float) * size_t(frames) * 2);
  for (AudioVoice* v = voices; v; v = v->next_) {
    if (!v->playing_)
      continue;
    const int total = int(v->pcm_->data.size()) / v->format_.blockAlign;
    if (total <= 0) {
      v->playing_ = false;
      continue;
    }
    const uint8_t* data = v->pcm_->data.data();
    const int rate = v->frequency_ ? v->frequency_ : int(v->format_.samplesPerSec);
    const uint64_t step = (uint64_t(rate) << kFracBits) / uint64_t(kAudioOutputRate);
    const float volume = audioGainOfLevel(v->volume_) * (1.0f / 32768.0f);
    const float gl = volume * v->gainLeft_;
    const float gr = volume * v->gainRight_;
    const bool stereo = v->format_.channels == 2;
    const bool wide = v->format_.bitsPerSample == 16;
    bool playing;
    if (stereo && wide)
      playing = mixVoice<2, 16>(data, total, v->looping_, step, gl, gr, &v->position_, left, right, frames);
    else if (wide)
      playing = mixVoice<1, 16>(data, total, v->looping_, step, gl, gr, &v->position_, left, right, frames);
    else if (stereo)
      playing = mixVoice<2, 8>(data, total, v->looping_, step, gl, gr, &v->position_, left, right, frames);
    else
      playing = mixVoice<1, 8>(data, total, v->looping_, step, gl, gr, &v->position_, left, right, frames);
    v->playing_ = playing;
  }
  int i = 0;
#if defined(__SSE2__)
  // Rounded to nearest and saturated, as lrint of the clamped value gives.
  const __m128 full = _mm_set1_ps(32768.0f), low = _mm_set1_ps(-32768.0f), high = _mm_set1_ps(32767.0f);
  for (; i + 4 <= frames; i += 4) {
    const __m128 l = _mm_min_ps(_mm_max_ps(_mm_mul_ps(_mm_loadu_ps(left + i), full), low), high);
    const __m128 r = _mm_min_ps(_mm_max_ps(_mm_mul_ps(_mm_loadu_ps(right + i), full), low), high);
    const __m128i li = _mm_cvtps_epi32(l), ri = _mm_cvtps_epi32(r);
    const __m128i lr = _mm_packs_epi32(_mm_unpacklo_epi32(li, ri), _mm_unpackhi_epi32(li, ri));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i), lr);
  }
#endif
  for (; i < frames; ++i) {
    for (int side = 0; side < 2; ++side) {
      float s = (side ? right : left)[i] * 32768.0f;
      if (s > 32767.0f)
        s = 32767.0f;
      else if (s < -32768.0f)
        s = -32768.0f;
      out[2 * i + side] = int16_t(std::lrint(s));
    }
  }
}

AudioVoice::AudioVoice(AudioMixer* mixer, AudioPcm* pcm, const AudioFormat& format)
    : mixer_(mixer), pcm_(pcm), format_(format) {}

AudioVoice::~AudioVoice() {
  std::free(staging_);
}

bool audioOpen(AudioOutput output, const char** error) {
  const char* dummy;
  if (!error)
    error = &dummy;
  *error = "";
  if (g_mixer.open)
    return true;
  g_mixer.manual = output == AudioOutput::kManual;
  g_mixer.scratch.resize(8192);
  if (!g_mixer.manual) {
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
      *error = "the audio subsystem cannot start";
      return false;
    }
    SDL_AudioSpec want{};
    want.freq = kAudioOutputRate;
    want.format = AUDIO_S16SYS;
    want.channels = 2;
    want.samples = 512;
    want.callback = audioCallback;
    SDL_AudioSpec have{};
    g_mixer.device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (!g_mixer.device) {
      SDL_QuitSubSystem(SDL_INIT_AUDIO);
      *error = "no audio device can be opened";
      return false;
    }
    if (have.samples * 4u > g_mixer.scratch.size())
      g_mixer.scratch.resize(have.samples * 4u);
  }
  g_mixer.open = true;
  if (g_mixer.device)
    SDL_PauseAudioDevice(g_mixer.device, 0);
  return true;
}

void audioClose() {
  if (!g_mixer.open)
    return;
  if (g_mixer.device) {
    SDL_CloseAudioDevice(g_mixer.device);
    g_mixer.device = 0;
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
  }
  std::lock_guard<std::mutex> guard(g_mixer.lock);
  while (AudioVoice* v = g_mixer.voices) {
    g_mixer.unlink(v);
    releasePcm(v->pcm_);
    delete v;
  }
  g_mixer.open = false;
  g_mixer.manual = false;
}

bool audioIsOpen() {
  return g_mixer.open;
}

bool audioIsManual() {
  return g_mixer.open && g_mixer.manual;
}

int audioVoiceCount() {
  std::lock_guard<std::mutex> guard(g_mixer.lock);
  return g_mixer.voiceCount;
}

int audioPcmCount() {
  return g_mixer.pcmCount.load();
}

void audioRender(int16_t* out, int frames) {
  if (frames <= 0 || !out)
    return;
  g_mixer.mix(out, frames);
}

AudioVoice* audioCreateVoice(const AudioFormat& f, int bytes, const char** error) {
  const char* dummy;
  if (!error)
    error = &dummy;
  if (!g_mixer.open) {
    *error = "the mixer is not open";
    return nullptr;
  }
  if (f.formatTag != 1) {
    *error = "not PCM";
  } else if (f.channels < 1 || f.channels > 2) {
    *error = "unsupported channel count";
  } else if (f.bitsPerSample != 8 && f.bitsPerSample != 16) {
    *error = "unsupported bits per sample";
  } else if (f.samplesPerSec < uint32_t(kAudioMinFrequency) || f.samplesPerSec > uint32_t(kAudioMaxFrequency)) {
    *error = "sample rate out of range";
  } else if (f.blockAlign != f.channels * f.bitsPerSample / 8) {
    *error = "block alignment does not match the format";
  } else if (f.avgBytesPerSec != f.samplesPerSec * f.blockAlign) {
    *error = "average byte rate does not match the format";
  } else if (bytes < kAudioMinBytes || bytes > kAudioMaxBytes) {
    *error = "buffer size out of range";
  } else {
    AudioPcm* pcm = new (std::nothrow) AudioPcm;
    if (!pcm) {
      *error = "out of memory";
      return nullptr;
    }
    // Silence for the format: 0 for 16-bit, 128 for unsigned 8-bit.
    pcm->data.assign(size_t(bytes), f.bitsPerSample == 8 ? 0x80 : 0);
    g_mixer.pcmCount.fetch_add(1);
    AudioVoice* voice = new AudioVoice(&g_mixer, pcm, f);
    std::lock_guard<std::mutex> guard(g_mixer.lock);
    g_mixer.link(voice);
    *error = "";
    return voice;
  }
  return nullptr;
}

AudioVoice* AudioVoice::duplicate() {
  std::lock_guard<std::mutex> guard(mixer_->lock);
  if (!mixer_->open)
    return nullptr;
  pcm_->refs.fetch_add(1);
  AudioVoice* copy = new AudioVoice(mixer_, pcm_, format_);
  copy->frequency_ = frequency_;
  copy->volume_ = volume_;
  copy->pan_ = pan_;
  copy->gainLeft_ = gainLeft_;
  copy->gainRight_ = gainRight_;
  mixer_->link(copy);
  return copy;
}

void AudioVoice::release() {
  {
    std::lock_guard<std::mutex> guard(mixer_->lock);
    mixer_->unlink(this);
  }
  releasePcm(pcm_);
  delete this;
}

int AudioVoice::bytes() const {
  return int(pcm_->data.size());
}

bool AudioVoice::lock(int offset, int bytes, void** p1, int* n1, void** p2, int* n2) {
  const int size = int(pcm_->data.size());
  if (!p1 || !n1)
    return false;
  *p1 = nullptr;
  *n1 = 0;
  if (p2)
    *p2 = nullptr;
  if (n2)
    *n2 = 0;
  if (bytes == 0)
    bytes = size, offset = 0;
  std::lock_guard<std::mutex> guard(mixer_->lock);
  if (locked_ || offset < 0 || offset >= size || bytes < 0 || bytes > size)
    return false;
  const int first = bytes < size - offset ? bytes : size - offset;
  const int second = bytes - first;
  if (second > 0 && (!p2 || !n2))
    return false;
  if (stagingBytes_ < bytes) {
    void* grown = std::realloc(staging_, size_t(bytes));
    if (!grown)
      return false;
    staging_ = static_cast<uint8_t*>(grown);
    stagingBytes_ = bytes;
  }
  // Staging starts as the current contents, so a partial write keeps the rest.
  std::memcpy(staging_, pcm_->data.data() + offset, size_t(first));
  if (second > 0)
    std::memcpy(staging_ + first, pcm_->data.data(), size_t(second));
  stagingOffset_ = offset;
  locked_ = true;
  *p1 = staging_;
  *n1 = first;
  if (second > 0) {
    *p2 = staging_ + first;
    *n2 = second;
  }
  return true;
}

bool AudioVoice::unlock(void* p1, int n1, void* p2, int n2) {
  std::lock_guard<std::mutex> guard(mixer_->lock);
  if (!locked_ || p1 != staging_)
    return false;
  locked_ = false;
  const int size = int(pcm_->data.size());
  if (n1 < 0 || n2 < 0 || stagingOffset_ + n1 > size || n2 > stagingOffset_ || n1 + n2 > stagingBytes_)
    return false;
  if (n2 > 0 && p2 != staging_ + n1)
    return false;
  std::memcpy(pcm_->data.data() + stagingOffset_, staging_, size_t(n1));
  if (n2 > 0)
    std::memcpy(pcm_->data.data(), staging_ + n1, size_t(n2));
  return true;
}

bool AudioVoice::play(bool loop) {
  std::lock_guard<std::mutex> guard(mixer_->lock);
  playing_ = true;
  looping_ = loop;
  return true;
}

void AudioVoice::stop() {
  std::lock_guard<std::mutex> guard(mixer_->lock);
  playing_ = false;
}

bool AudioVoice::getPosition(int* play, int* write) const {
  std::lock_guard<std::mutex> guard(mixer_->lock);
  const int frames = int(pcm_->data.size()) / format_.blockAlign;
  int frame = int(position_ >> kFracBits);
  if (frame >= frames || frame < 0)
    frame = 0;
  if (play)
    *play = frame * format_.blockAlign;
  if (write) {
    const int lead = frames > 0 ? (frame + kWriteLeadFrames) % frames : 0;
    *write = lead * format_.blockAlign;
  }
  return true;
}

bool AudioVoice::setPosition(int position) {
  std::lock_guard<std::mutex> guard(mixer_->lock);
  if (position < 0 || position >= int(pcm_->data.size()))
    return false;
  position_ = uint64_t(position / format_.blockAlign) << kFracBits;
  return true;
}

uint32_t AudioVoice::status() const {
  std::lock_guard<std::mutex> guard(mixer_->lock);
  uint32_t s = 0;
  if (playing_)
    s |= kAudioPlaying;
  if (playing_ && looping_)
    s |= kAudioLooping;
  return s;
}

bool AudioVoice::setVolume(int hundredthsDb) {
  if (hundredthsDb < -10000 || hundredthsDb > 0)
    return false;
  std::lock_guard<std::mutex> guard(mixer_->lock);
  volume_ = hundredthsDb;
  return true;
}

int AudioVoice::volume() const {
  std::lock_guard<std::mutex> guard(mixer_->lock);
  return volume_;
}

bool AudioVoice::setPan(int pan) {
  if (pan < -10000 || pan > 10000)
    return false;
  // Only the far side is attenuated; the near side keeps full level.
  const float left = pan > 0 ? audioGainOfLevel(-pan) : 1.0f;
  const float right = pan < 0 ? audioGainOfLevel(pan) : 1.0f;
  std::lock_guard<std::mutex> guard(mixer_->lock);
  pan_ = pan;
  gainLeft_ = left;
  gainRight_ = right;
  return true;
}

int AudioVoice::pan() const {
  std::lock_guard<std::mutex> guard(mixer_->lock);
  return pan_;
}

bool AudioVoice::setFrequency(int hz) {
  if (hz != 0 && (hz < kAudioMinFrequency || hz > kAudioMaxFrequency))
    return false;
  std::lock_guard<std::mutex> guard(mixer_->lock);
  frequency_ = hz;
  return true;
}

int AudioVoice::frequency() const {
  std::lock_guard<std::mutex> guard(mixer_->lock);
  return frequency_ ? frequency_ : int(format_.samplesPerSec);
}
