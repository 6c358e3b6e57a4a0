// The sound manager's interface, as far as the engine core and the game module
// call it; the sound subsystem extends it. Absent (null) until that subsystem
// is built or when the sound device cannot start.
#pragma once

class SoundSystem {
 public:
  virtual ~SoundSystem() = default;

  // One mixer step of every emitter; once per main-loop iteration and during
  // loading screens and video playback.
  virtual void update() = 0;
  virtual void setMuted(bool muted) = 0;
  // Stops every channel of every emitter and clears the class fades.
  virtual void stopAllSounds() = 0;
  virtual void stopAllEmitters() = 0;
  virtual void fadeOutAllEmitters() = 0;
  virtual void playLocalSound(const char* name, int channel, int flags) = 0;
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
};

inline SoundCache* g_soundCache = nullptr;
