// Emitters and their 32 channels: each channel plays one sample instance and computes its volume,
// pan and frequency from the listener and the emitter at every mixer step.
#pragma once

#include "lib/criticalsection.h"
#include "lib/interface/declsystem.h"
#include "lib/interface/soundsystem.h"
#include "lib/matrix.h"
#include "lib/vector.h"

class SoundSample;
class SoundEmitterLocal;

// The distance fraction between min and max distance (not clamped; units of 32 world units).
float soundDistanceFraction(float dist, float minDistance, float maxDistance);
// The level in hundredths of a decibel for a distance gain e and fraction x.
float soundVolumeLevel(float e, float fraction, bool underWater, bool unclamped);

class SoundChannel {
 public:
  SoundChannel() = default;
  SoundChannel(const SoundChannel&) = delete;
  SoundChannel& operator=(const SoundChannel&) = delete;

  void effectiveParms(SoundShaderParms* out) const;
  void setParms(const SoundShaderParms& parms);
  void stop();
  bool isPlaying();
  void fade(float level, float seconds);
  int endTime() const;
  int start(SoundShader* shader, int flags, float diversity);
  void update(int time, const Vec3& listenerOrigin, const Mat3& listenerAxis, const Vec3& listenerVelocity,
              bool underWater);
  float computeVolume(bool underWater, float fraction);
  SoundSample* getSample() const { return sample_; }
  void setFlags(int flags) { playFlags_ = flags; }
  bool isStarting() const { return starting_; }
  int noDupsIndex() const { return noDupsIndex_; }

 private:
  friend class SoundEmitterLocal;
  mutable CriticalSection lock_;
  SoundEmitterLocal* owner_ = nullptr;
  SoundShader* shader_ = nullptr;
  SoundShaderParms overrides_;
  int playFlags_ = 0;
  SoundSample* sample_ = nullptr;
  int endTime_ = 0;
  int noDupsIndex_ = 0;
  int noDupsStart_ = 0;
  bool starting_ = false;
};

class SoundEmitterLocal : public SoundEmitter {
 public:
  SoundEmitterLocal();
  ~SoundEmitterLocal() override;

  void updateEmitter(const Vec3& origin, const Vec3& velocity, const SoundShaderParms* overrides) override;
  int startSound(SoundShader* shader, int channel, float diversity, int flags) override;
  void stopSound(int channel) override;
  bool isPlaying(int channel) override;
  float currentAmplitude() override { return 1.0f; }
  void fadeSound(int channel, float level, float seconds) override;
  int index() override { return 0; }

  int findFreeChannel();
  int channelPosition(int channel);
  void updateChannels(int time, const Vec3& listenerOrigin, const Mat3& listenerAxis, const Vec3& listenerVelocity,
                      bool underWater);
  SoundChannel& channel(int index) { return channels_[index]; }
  const Vec3& origin() const { return origin_; }
  const Vec3& velocity() const { return velocity_; }

 private:
  friend class SndManager;
  friend class SoundChannel;
  Vec3 origin_;
  Vec3 velocity_;
  bool playing_ = false;
  SoundChannel channels_[kChannels];
  SoundEmitterLocal* next_ = nullptr;
  SoundEmitterLocal* prev_ = nullptr;
};
