// Samples and the sample cache: a SoundSample is one playable copy of a sound file in a voice of
// the mixer (decoded whole); a SoundStreamSample keeps about two seconds in a ring that each mixer
// step refills from an open stream. The cache keeps every sample by file name with a count and
// hands channels idle copies or duplicates that share the first voice's PCM.
#pragma once

#include <cstdint>

#include "lib/criticalsection.h"
#include "lib/interface/soundsystem.h"
#include "sound/soundstream.h"

enum SoundSampleState : int {
  kSamplePlaying = 0x1,
  kSampleLooping = 0x2,
  kSampleLoaded = 0x4,
  kSampleStreamed = 0x8,
};

// A new voice for the format, or null (with a warning) when the mixer refuses it.
AudioVoice* createSoundBuffer(const SoundFormat& format, int bytes, const char* name);

class SoundSample {
 public:
  SoundSample();
  SoundSample(const SoundSample&) = delete;
  SoundSample& operator=(const SoundSample&) = delete;

  virtual bool copyTo(SoundSample* dst);
  virtual ~SoundSample();
  virtual bool load();
  virtual void unload();
  virtual SoundSample* duplicate();
  virtual bool update(int timeMs);
  virtual bool play(bool loop, int playFlags, bool restart);
  virtual void stop();
  virtual int64_t getLength();
  virtual int getPlayPosition();

  const char* getName() const { return name_; }
  void setName(const char* name);
  int getFlags() const { return state_; }
  bool isPlaying() const { return (state_ & kSamplePlaying) != 0; }
  int lengthMs();
  void setPan(int pan);
  void setFrequencyOffset(int offset);
  float currentVolume();
  void applyVolume();
  void fadeTo(float level, int ms);
  void startFade(float level);
  bool bufferUsable();
  bool fillBuffer(SoundStream* stream, int offset, int bytes, int* got = nullptr);
  AudioVoice* voice() const { return buffer_; }
  const SoundFormat& format() const { return format_; }
  int pan() const { return pan_; }
  int frequencyOffset() const { return frequencyOffset_; }
  int clock() const { return clock_; }
  int refs() const { return refs_; }

 protected:
  friend class SoundSampleCache;
  char name_[256] = {};
  AudioVoice* buffer_ = nullptr;
  int length_ = 0;
  CriticalSection lock_;
  SoundFormat format_;
  int fadeStart_ = 0;
  int fadeDuration_ = 0;
  float fadeStartLevel_ = 0.0f;
  float fadeEndLevel_ = 0.0f;
  int fadeLastTime_ = -1;
  float fadeLevel_ = 0.0f;
  int frequencyOffset_ = 0;
  int pan_ = 0;
  int clock_ = -1;
  int state_ = 0;
  SoundSample* next_ = nullptr;
  SoundSample* prev_ = nullptr;
  int refs_ = 1;
};

class SoundStreamSample : public SoundSample {
 public:
  SoundStreamSample();
  bool copyTo(SoundSample* dst) override;
  ~SoundStreamSample() override;
  bool load() override;
  void unload() override;
  SoundSample* duplicate() override;
  bool update(int timeMs) override;
  bool play(bool loop, int playFlags, bool restart) override;
  int64_t getLength() override;
  int getPlayPosition() override;

 private:
  bool refillFromStart();
  SoundStream* stream_ = nullptr;
  CriticalSection streamLock_;
  int writeOffset_ = 0;
  int64_t streamBytes_ = 0;  // bytes taken from the stream since the last restart
  int64_t realBytes_ = 0;    // of those, the ones that came from the file (not padding)
  int64_t playedBytes_ = 0;  // bytes the play cursor has passed since the last restart
  bool streamEnded_ = false;
  int lastCursor_ = 0;
};

class SoundSampleCache : public SoundCache {
 public:
  SoundSampleCache() = default;
  ~SoundSampleCache() override;

  SoundSample* findSound(const char* name) override;
  void releaseSound(SoundSample* sample) override { release(sample, false); }
  const char* sampleFileName(const SoundSample* sample) const override {
    return sample ? sample->getName() : nullptr;
  }

  SoundSample* addRef(SoundSample* sample);
  void release(SoundSample* sample, bool freeNow);
  void purge(int time, bool force);
  void freeAll();
  SoundSample* find(const char* name, bool skipPlaying);
  void reloadSamples();
  void listSamples();
  int sampleCount();

 private:
  void link(SoundSample* sample);
  void unlink(SoundSample* sample);
  SoundSample* head_ = nullptr;
  CriticalSection cacheLock_;
};
