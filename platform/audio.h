// The sound output layer: voices with the buffer operations the sound manager uses (create,
// duplicate sharing the PCM, lock in one or two regions, play/loop/stop, cursors, status, volume
// in hundredths of a decibel, pan, frequency), mixed by our own mixer onto SDL2 audio or, in the
// manual mode, into frames that the caller renders itself (tests, benchmarks).
//
// Thread rules: every operation may run on any thread. The audio callback takes only the mixer's
// own lock, never an engine lock; locked regions are staging memory that Unlock copies into the
// shared PCM under that lock, so the callback never reads bytes a writer is changing.
#pragma once

#include <cstdint>

// The 18-byte PCM format block, in the order of the old wave-format record.
struct AudioFormat {
  uint16_t formatTag = 0;
  uint16_t channels = 0;
  uint32_t samplesPerSec = 0;
  uint32_t avgBytesPerSec = 0;
  uint16_t blockAlign = 0;
  uint16_t bitsPerSample = 0;
  uint16_t extraSize = 0;
};

enum AudioStatus : uint32_t {
  kAudioPlaying = 0x1,
  kAudioLooping = 0x4,
};

constexpr int kAudioMinFrequency = 100;
constexpr int kAudioMaxFrequency = 100000;
constexpr int kAudioMinBytes = 4;
constexpr int kAudioMaxBytes = 0x0FFFFFFF;
constexpr int kAudioOutputRate = 44100;

class AudioMixer;
struct AudioPcm;

// One voice: a cursor and its playback settings over PCM that duplicates share.
class AudioVoice {
 public:
  AudioVoice(const AudioVoice&) = delete;
  AudioVoice& operator=(const AudioVoice&) = delete;

  // A new voice over the same PCM, stopped at position 0 with the same volume, pan and frequency.
  // Null when the mixer is closed.
  AudioVoice* duplicate();
  // Stops the voice and drops its reference to the PCM.
  void release();

  // One region, or two when the range wraps past the end; bytes 0 means the whole buffer. False
  // for a range outside the buffer or while a lock is outstanding.
  bool lock(int offset, int bytes, void** p1, int* n1, void** p2, int* n2);
  // Writes the locked regions into the PCM; false without a matching lock.
  bool unlock(void* p1, int n1, void* p2, int n2);

  bool play(bool loop);
  void stop();
  // Byte cursors: where the mixer reads and where writing is safe (one mixing period ahead).
  bool getPosition(int* play, int* write) const;
  bool setPosition(int position);
  uint32_t status() const;

  // -10000..0 hundredths of a decibel; values outside are refused.
  bool setVolume(int hundredthsDb);
  int volume() const;
  // -10000 (left only) .. 10000 (right only); the far side is attenuated by |pan| hundredths of dB.
  bool setPan(int pan);
  int pan() const;
  // 100..100000 Hz, or 0 for the format's own rate; other values are refused.
  bool setFrequency(int hz);
  int frequency() const;

  const AudioFormat& format() const { return format_; }
  int bytes() const;

 private:
  friend class AudioMixer;
  friend void audioClose();
  friend AudioVoice* audioCreateVoice(const AudioFormat& format, int bytes, const char** error);
  AudioVoice(AudioMixer* mixer, AudioPcm* pcm, const AudioFormat& format);
  ~AudioVoice();

  AudioMixer* mixer_;
  AudioPcm* pcm_;
  AudioFormat format_;
  // State below is guarded by the mixer's lock.
  uint64_t position_ = 0;  // in frames, 32.32 fixed point
  int frequency_ = 0;      // 0 = format rate
  int volume_ = 0;
  int pan_ = 0;
  float gainLeft_ = 1.0f;
  float gainRight_ = 1.0f;
  bool playing_ = false;
  bool looping_ = false;
  bool locked_ = false;
  uint8_t* staging_ = nullptr;
  int stagingOffset_ = 0;
  int stagingBytes_ = 0;
  AudioVoice* next_ = nullptr;
  AudioVoice* prev_ = nullptr;
};

enum class AudioOutput {
  kDevice,  // SDL2 audio (the dummy driver headless)
  kManual,  // no device: the caller renders frames with audioRender
};

// Opens the mixer; false with a reason in error (static text) when the device cannot start.
bool audioOpen(AudioOutput output, const char** error);
// Releases every voice still alive and closes the device.
void audioClose();
bool audioIsOpen();
bool audioIsManual();

// A new stopped voice of bytes bytes of silence; null with a reason when the old interface would
// refuse it (1-2 channels, 8 or 16 bits, 100..100000 Hz, block align = channels * bits / 8, the
// average rate = rate * block align, 4..0x0FFFFFFF bytes, PCM tag 1).
AudioVoice* audioCreateVoice(const AudioFormat& format, int bytes, const char** error);

// Mixes frames of 16-bit stereo at kAudioOutputRate into out (manual mode; the device callback
// runs the same code).
void audioRender(int16_t* out, int frames);

// The number of voices alive and of PCM blocks they share (for tests and "listSounds").
int audioVoiceCount();
int audioPcmCount();

// The gain factor of a level in hundredths of a decibel (0 at -10000 and below).
float audioGainOfLevel(int hundredthsDb);
