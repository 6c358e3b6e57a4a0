// The mixer's cost per voice-frame for 32, 128 and 256 voices against OpenAL Soft's loopback
// rendering of the same sounds, and the decode rate of the Ogg and MP3 readers against calling vorbisfile
// and libmpg123 directly. Run with --benchmark_repetitions=9
// --benchmark_enable_random_interleaving=true and read the medians.
#include <benchmark/benchmark.h>

#include <vorbis/vorbisfile.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "platform/audio.h"
#include "sound/soundstream.h"

extern "C" {
#include <mpg123.h>
}

#ifdef QUILL_HAVE_OPENAL
#include <AL/al.h>
#include <AL/alc.h>
#include <AL/alext.h>
#endif

// The in-memory file system of the tests serves the readers their files.
#include "tests/sound/support/soundtestio.cpp"
#include "tests/support/memoryiosystem.cpp"

namespace {

constexpr int kFrames = 1024;
constexpr int kSoundRate = 22050;  // resampled to the output rate by both mixers

std::vector<int16_t> toneSamples() {
  std::vector<int16_t> s(kSoundRate);
  for (int i = 0; i < kSoundRate; ++i)
    s[size_t(i)] = int16_t(std::lrint(12000.0 * std::sin(2.0 * M_PI * 441.0 * i / kSoundRate)));
  return s;
}

void BM_QuillMixer(benchmark::State& state) {
  const int voices = int(state.range(0));
  audioOpen(AudioOutput::kManual, nullptr);
  AudioFormat f;
  f.formatTag = 1;
  f.channels = 1;
  f.bitsPerSample = 16;
  f.samplesPerSec = kSoundRate;
  f.blockAlign = 2;
  f.avgBytesPerSec = kSoundRate * 2;
  const std::vector<int16_t> tone = toneSamples();
  AudioVoice* first = audioCreateVoice(f, int(tone.size() * 2), nullptr);
  void *p1, *p2;
  int n1, n2;
  first->lock(0, 0, &p1, &n1, &p2, &n2);
  std::memcpy(p1, tone.data(), size_t(n1));
  first->unlock(p1, n1, p2, n2);
  std::vector<AudioVoice*> all{first};
  for (int i = 1; i < voices; ++i)
    all.push_back(first->duplicate());
  for (int i = 0; i < voices; ++i) {
    all[size_t(i)]->setPan((i * 397) % 20001 - 10000);
    all[size_t(i)]->setVolume(-(i * 37) % 2000);
    all[size_t(i)]->setPosition((i * 1234) % (kSoundRate * 2) & ~1);
    all[size_t(i)]->play(true);
  }
  std::vector<int16_t> out(kFrames * 2);
  for (auto _ : state) {
    audioRender(out.data(), kFrames);
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["ns_per_voice_frame"] = benchmark::Counter(
      double(state.iterations()) * voices * kFrames, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  for (AudioVoice* v : all)
    v->release();
  audioClose();
}
BENCHMARK(BM_QuillMixer)->Arg(32)->Arg(128)->Arg(256)->Unit(benchmark::kMicrosecond);

#ifdef QUILL_HAVE_OPENAL
void BM_OpenALLoopback(benchmark::State& state) {
  const int voices = int(state.range(0));
  auto openLoopback =
      reinterpret_cast<LPALCLOOPBACKOPENDEVICESOFT>(alcGetProcAddress(nullptr, "alcLoopbackOpenDeviceSOFT"));
  auto render = reinterpret_cast<LPALCRENDERSAMPLESSOFT>(alcGetProcAddress(nullptr, "alcRenderSamplesSOFT"));
  ALCdevice* device = openLoopback ? openLoopback(nullptr) : nullptr;
  if (!device || !render) {
    state.SkipWithError("no OpenAL Soft loopback device");
    return;
  }
  const ALCint attrs[] = {ALC_FORMAT_CHANNELS_SOFT, ALC_STEREO_SOFT, ALC_FORMAT_TYPE_SOFT, ALC_SHORT_SOFT,
                          ALC_FREQUENCY, kAudioOutputRate, ALC_MONO_SOURCES, voices, 0};
  ALCcontext* context = alcCreateContext(device, attrs);
  alcMakeContextCurrent(context);
  const std::vector<int16_t> tone = toneSamples();
  ALuint buffer;
  alGenBuffers(1, &buffer);
  alBufferData(buffer, AL_FORMAT_MONO16, tone.data(), ALsizei(tone.size() * 2), kSoundRate);
  std::vector<ALuint> sources(static_cast<size_t>(voices));
  alGenSources(voices, sources.data());
  for (int i = 0; i < voices; ++i) {
    const ALuint s = sources[size_t(i)];
    alSourcei(s, AL_BUFFER, ALint(buffer));
    alSourcei(s, AL_LOOPING, AL_TRUE);
    // Spread left to right like the pans of the mixer run.
    alSource3f(s, AL_POSITION, float((i * 397) % 20001 - 10000) / 10000.0f, 0.0f, -1.0f);
    alSourcef(s, AL_GAIN, std::pow(10.0f, -float((i * 37) % 2000) / 2000.0f));
    alSourcei(s, AL_SAMPLE_OFFSET, (i * 617) % kSoundRate);
  }
  alSourcePlayv(voices, sources.data());
  std::vector<int16_t> out(kFrames * 2);
  for (auto _ : state) {
    render(device, out.data(), kFrames);
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["ns_per_voice_frame"] = benchmark::Counter(
      double(state.iterations()) * voices * kFrames, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  alDeleteSources(voices, sources.data());
  alDeleteBuffers(1, &buffer);
  alcMakeContextCurrent(nullptr);
  alcDestroyContext(context);
  alcCloseDevice(device);
}
BENCHMARK(BM_OpenALLoopback)->Arg(32)->Arg(128)->Arg(256)->Unit(benchmark::kMicrosecond);
#endif

// ---- decoding ----

std::string fixture(const char* name) {
  return readDiskFile(std::string(QUILL_SOUND_FIXTURE_DIR) + "/" + name);
}

void decodeWithReader(benchmark::State& state, const char* name) {
  SoundTestIO io;
  io.addBytes(name, fixture(name));
  std::vector<uint8_t> buf(16384);
  int64_t bytes = 0;
  for (auto _ : state) {
    SoundStream* s = openSoundStream(name);
    for (int n; (n = s->read(buf.data(), int(buf.size()))) > 0;)
      bytes += n;
    delete s;
  }
  state.SetBytesProcessed(bytes);
}

void BM_ReaderOgg(benchmark::State& state) {
  decodeWithReader(state, "tone_stereo.ogg");
}
void BM_ReaderMp3(benchmark::State& state) {
  decodeWithReader(state, "tone_stereo.mp3");
}
BENCHMARK(BM_ReaderOgg);
BENCHMARK(BM_ReaderMp3);

struct MemoryFile {
  const std::string* data;
  size_t at;
};

size_t memRead(void* buf, size_t size, size_t count, void* source) {
  MemoryFile* m = static_cast<MemoryFile*>(source);
  size_t n = std::min(size * count, m->data->size() - m->at);
  std::memcpy(buf, m->data->data() + m->at, n);
  m->at += n;
  return size ? n / size : 0;
}

void BM_DirectVorbisfile(benchmark::State& state) {
  const std::string data = fixture("tone_stereo.ogg");
  const ov_callbacks callbacks = {memRead, nullptr, nullptr, nullptr};
  std::vector<char> buf(16384);
  int64_t bytes = 0;
  for (auto _ : state) {
    MemoryFile m{&data, 0};
    OggVorbis_File vf;
    ov_open_callbacks(&m, &vf, nullptr, 0, callbacks);
    int section;
    for (long n; (n = ov_read(&vf, buf.data(), int(buf.size()), 0, 2, 1, &section)) > 0;)
      bytes += n;
    ov_clear(&vf);
  }
  state.SetBytesProcessed(bytes);
}
BENCHMARK(BM_DirectVorbisfile);

void BM_DirectMpg123(benchmark::State& state) {
  const std::string data = fixture("tone_stereo.mp3");
  mpg123_init();
  std::vector<unsigned char> buf(16384);
  int64_t bytes = 0;
  for (auto _ : state) {
    mpg123_handle* h = mpg123_new(nullptr, nullptr);
    mpg123_param(h, MPG123_FLAGS, MPG123_FORCE_STEREO | MPG123_QUIET, 0);
    mpg123_open_feed(h);
    mpg123_feed(h, reinterpret_cast<const unsigned char*>(data.data()), data.size());
    size_t done = 0;
    for (;;) {
      const int err = mpg123_read(h, buf.data(), buf.size(), &done);
      bytes += int64_t(done);
      if (err != MPG123_OK && err != MPG123_NEW_FORMAT)
        break;
    }
    mpg123_delete(h);
  }
  state.SetBytesProcessed(bytes);
}
BENCHMARK(BM_DirectMpg123);

}  // namespace
