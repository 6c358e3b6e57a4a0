// Our own mixer behind the voice interface: every playing voice is resampled linearly to the output
// rate, scaled by its volume and pan gains and summed into 16-bit stereo with saturation.
#include "platform/audio.h"

#include <SDL.h>

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

inline float sampleAt(const uint8_t* data, int frame, int channel, int channels, int bits) {
  if (bits == 16) {
    int16_t v;
    std::memcpy(&v, data + (size_t(frame) * channels + channel) * 2, 2);
    return float(v);
  }
  return float(int(data[size_t(frame) * channels + channel]) - 128) * 256.0f;
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

template <int Channels, int Bits>
inline void frameAt(const uint8_t* data, int f0, int f1, float t, float* left, float* right) {
  const float l0 = sampleAt(data, f0, 0, Channels, Bits);
  const float l1 = sampleAt(data, f1, 0, Channels, Bits);
  *left = l0 + (l1 - l0) * t;
  if (Channels == 2) {
    const float r0 = sampleAt(data, f0, 1, Channels, Bits);
    const float r1 = sampleAt(data, f1, 1, Channels, Bits);
    *right = r0 + (r1 - r0) * t;
  } else {
    *right = *left;
  }
}

// Mixes one voice into acc; false when a one-shot voice reached its end. Runs in which the next
// frame stays inside the PCM go without bounds checks; the frames at the end take the slow path.
template <int Channels, int Bits>
bool mixVoice(const uint8_t* data, int total, bool looping, double step, float gl, float gr, double* position,
              float* acc, int frames) {
  double pos = *position;
  int i = 0;
  while (i < frames) {
    const double room = (double(total - 1) - pos) / step;
    int run = room > 0.0 ? (room < double(frames - i) ? int(room) : frames - i) : 0;
    for (; run > 0; --run, ++i) {
      const int f0 = int(pos);
      float left, right;
      frameAt<Channels, Bits>(data, f0, f0 + 1, float(pos - double(f0)), &left, &right);
      acc[2 * i] += left * gl;
      acc[2 * i + 1] += right * gr;
      pos += step;
    }
    if (i >= frames)
      break;
    int f0 = int(pos);
    if (f0 >= total) {
      if (!looping) {
        *position = 0.0;
        return false;
      }
      pos -= double(total) * std::floor(pos / double(total));
      f0 = int(pos);
      if (f0 >= total)
        f0 = 0, pos = 0.0;
    }
    int f1 = f0 + 1;
    if (f1 >= total)
      f1 = looping ? 0 : f0;
    float left, right;
    frameAt<Channels, Bits>(data, f0, f1, float(pos - double(f0)), &left, &right);
    acc[2 * i] += left * gl;
    acc[2 * i + 1] += right * gr;
    pos += step;
    ++i;
  }
  if (pos >= double(total)) {
    if (!looping) {
      *position = 0.0;
      return false;
    }
    pos -= double(total) * std::floor(pos / double(total));
  }
  *position = pos;
  return true;
}

}  // namespace

void AudioMixer::mix(int16_t* out, int frames) {
  std::lock_guard<std::mutex> guard(lock);
  if (scratch.size() < size_t(frames) * 2)
    scratch.resize(size_t(frames) * 2);
  float* acc = scratch.data();
  std::memset(acc, 0, sizeof(float) * size_t(frames) * 2);
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
    const double step = double(rate) / double(kAudioOutputRate);
    const float volume = audioGainOfLevel(v->volume_) * (1.0f / 32768.0f);
    const float gl = volume * v->gainLeft_;
    const float gr = volume * v->gainRight_;
    const bool stereo = v->format_.channels == 2;
    const bool wide = v->format_.bitsPerSample == 16;
    bool playing;
    if (stereo && wide)
      playing = mixVoice<2, 16>(data, total, v->looping_, step, gl, gr, &v->position_, acc, frames);
    else if (wide)
      playing = mixVoice<1, 16>(data, total, v->looping_, step, gl, gr, &v->position_, acc, frames);
    else if (stereo)
      playing = mixVoice<2, 8>(data, total, v->looping_, step, gl, gr, &v->position_, acc, frames);
    else
      playing = mixVoice<1, 8>(data, total, v->looping_, step, gl, gr, &v->position_, acc, frames);
    v->playing_ = playing;
  }
  for (int i = 0; i < frames * 2; ++i) {
    float s = acc[i] * 32768.0f;
    if (s > 32767.0f)
      s = 32767.0f;
    else if (s < -32768.0f)
      s = -32768.0f;
    out[i] = int16_t(std::lrint(s));
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
  int frame = int(position_);
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
  position_ = double(position / format_.blockAlign);
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
