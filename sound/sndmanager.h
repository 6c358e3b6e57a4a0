// The sound manager: the listener, the emitters (and the local one for interface and console
// sounds), the sound-class fades and, through its cache base, every sample. The mixer step runs on
// the main thread; the platform mixer renders the voices it drives.
#pragma once

#include "lib/list.h"
#include "lib/matrix.h"
#include "lib/vector.h"
#include "sound/soundemitter.h"
#include "sound/soundsample.h"

struct SoundFade {
  int startTime;
  int duration;
  float startLevel;
  float endLevel;
  int lastTime;
  float level;
  int soundClass;  // -1 matches every class
};

class SndManager : public SoundSystem, public SoundSampleCache {
 public:
  SndManager();
  ~SndManager() override;

  bool init();

  SoundEmitter* allocSoundEmitter() override;
  void stopAllSounds() override;
  void setMuted(bool muted) override { muted_ = muted; }
  void fadeSoundClass(int soundClass, float level, float seconds) override;
  float currentFadeLevel(int soundClass) override;
  void stopAllEmitters() override;
  void fadeOutAllEmitters() override;
  int playLocalShader(SoundShader* shader, int channel, int flags) override;
  int playLocalSound(const char* name, int channel, int flags) override;
  void stopLocalSound(int channel) override;
  bool fadeLocalSound(float level, float seconds, int channel) override;
  int localSoundPosition(int channel) override;
  SoundStream* openAnalysisStream(const char* name, SoundVisState* state) override;
  bool analyzeStream(SoundStream* stream, SoundVisState* state, int64_t position) override;
  void closeStream(SoundStream* stream) override { delete stream; }
  int streamBytesPerSecond(SoundStream* stream) override;
  int streamBytesPerFrame(SoundStream* stream) override;
  void setListener(const Vec3& origin, const Mat3& axis, const Vec3& velocity, bool underWater) override;
  void update() override;
  void setBackground(bool background) override { background_ = background; }
  void setSoundWindow(void* window) override;

  // The mixer step at a given time (ms on the monotonic clock); update() passes the clock's time.
  void updateAt(int now);
  void getListener(Vec3* origin, Mat3* axis, Vec3* velocity, bool* underWater) const;
  bool isBackground() const { return background_; }
  bool isMuted() const { return muted_; }
  SoundEmitterLocal* localEmitter() { return local_; }
  int fadeCount() const { return fades_.num(); }
  int fadeClock() const { return fadeClock_; }

  // Before the manager is created: mix into frames the caller renders (tests) instead of the
  // audio device.
  static void useManualOutput(bool manual);

 private:
  friend class SoundEmitterLocal;
  bool background_ = true;
  bool muted_ = false;
  bool audioOpened_ = false;
  SoundEmitterLocal* emitters_ = nullptr;
  SoundEmitterLocal* local_ = nullptr;
  List<SoundFade> fades_{16};
  int fadeClock_ = 0;
  Vec3 listenerOrigin_;
  Vec3 listenerVelocity_;
  Mat3 listenerAxis_;
  bool listenerUnderWater_ = false;
  // One-shots started on a free local channel since the last mixer step: the same shader again in
  // that step (several key events of one frame) is not stacked on top of itself in phase.
  struct StepStart {
    SoundShader* shader;
    int result;
  };
  StepStart stepStarts_[SoundEmitter::kChannels] = {};
  int stepStartCount_ = 0;
};

inline SndManager* g_sndManager = nullptr;

SndManager* getSndManager(bool create);
void destroySndManager();
// The time of the mixer clock in ms (monotonic).
int soundClockMs();
