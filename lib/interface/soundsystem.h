// The sound manager's interface (the engine core, the game module and the effects call it), the
// emitter interface and the analysis record. Absent (null) when the sound device cannot start.
#pragma once

#include <cstdint>

struct Vec3;
class Mat3;
class SoundShader;
class SoundStream;
struct SoundShaderParms;

// A point in the world that plays up to 32 sounds at once, one per channel.
class SoundEmitter {
 public:
  static constexpr int kChannels = 32;
  static constexpr int kAllChannels = 33;
  virtual ~SoundEmitter() = default;
  virtual void updateEmitter(const Vec3& origin, const Vec3& velocity, const SoundShaderParms* overrides) = 0;
  // The length in ms of what started, 0 when nothing did.
  virtual int startSound(SoundShader* shader, int channel, float diversity, int flags) = 0;
  // 33 or -1 addresses every channel.
  virtual void stopSound(int channel) = 0;
  virtual bool isPlaying(int channel) = 0;
  virtual float currentAmplitude() = 0;
  // level in decibels (-10 and below is silence) over seconds.
  virtual void fadeSound(int channel, float level, float seconds) = 0;
  virtual int index() = 0;
};

// What the analysis fills for its caller: a 75-band spectrum per channel with falling levels and
// peaks, 32 band-energy histories and a beat flag.
struct SoundVisState {
  float levels[2][75];
  float peaks[2][75];
  float peakSpeeds[2][75];
  int peakAccelerationIndex;
  int levelFallIndex;
  float bandHistories[32][43];
  int beat;
  int beatCounter;
  int64_t dataLength;
  int64_t lastPosition;
  int64_t peakClock;
};

class SoundSystem {
 public:
  virtual ~SoundSystem() = default;

  virtual SoundEmitter* allocSoundEmitter() = 0;
  // Stops every channel of every emitter and clears the class fades.
  virtual void stopAllSounds() = 0;
  virtual void setMuted(bool muted) = 0;
  // level is added to the sounds' volume (-15 silences a sound of volume 0); seconds to reach it.
  virtual void fadeSoundClass(int soundClass, float level, float seconds) = 0;
  virtual float currentFadeLevel(int soundClass) = 0;
  virtual void stopAllEmitters() = 0;
  virtual void fadeOutAllEmitters() = 0;
  virtual int playLocalShader(SoundShader* shader, int channel, int flags) = 0;
  virtual int playLocalSound(const char* name, int channel, int flags) = 0;
  virtual void stopLocalSound(int channel) = 0;
  virtual bool fadeLocalSound(float level, float seconds, int channel) = 0;
  virtual int localSoundPosition(int channel) = 0;
  virtual SoundStream* openAnalysisStream(const char* name, SoundVisState* state) = 0;
  virtual bool analyzeStream(SoundStream* stream, SoundVisState* state, int64_t position) = 0;
  virtual void closeStream(SoundStream* stream) = 0;
  virtual int streamBytesPerSecond(SoundStream* stream) = 0;
  virtual int streamBytesPerFrame(SoundStream* stream) = 0;
  virtual void setListener(const Vec3& origin, const Mat3& axis, const Vec3& velocity, bool underWater) = 0;

  // One mixer step of every emitter; once per main-loop iteration and during
  // loading screens and video playback.
  virtual void update() = 0;
  // The window is inactive: the mixer waits longer.
  virtual void setBackground(bool background) = 0;
  // The window whose focus the device follows (after a video restart).
  virtual void setSoundWindow(void* window) = 0;
};

inline SoundSystem* g_soundSystem = nullptr;

// The sound cache: samples found or loaded by name; each find holds one reference until released
// (sound shaders hold theirs while parsed). Set by the sound subsystem; null until it exists.
class SoundSample;
class SoundCache {
 public:
  virtual ~SoundCache() = default;
  // Null when the sample cannot be found or loaded.
  virtual SoundSample* findSound(const char* name) = 0;
  virtual void releaseSound(SoundSample* sample) = 0;
  // The file a found sample was resolved to (the name with the extension that exists); null when
  // the cache does not know it.
  virtual const char* sampleFileName(const SoundSample*) const { return nullptr; }
};

inline SoundCache* g_soundCache = nullptr;
