// The sound manager: creation and shutdown, class fades, the local emitter, the mixer step and the
// console commands.
#include "sound/sndmanager.h"

#include <cstdlib>

#include "lib/interface/cmdsystem.h"
#include "lib/interface/declsystem.h"
#include "lib/interface/managerfactory.h"
#include "platform/clock.h"
#include "platform/dialog.h"

namespace {

bool s_manualOutput = false;

void cmdPlay(const CmdArgs& args) {
  if (g_sndManager)
    g_sndManager->playLocalSound(args.argv(1), -1, 0);
}

void cmdReloadSounds(const CmdArgs&) {
  if (g_sndManager)
    g_sndManager->reloadSamples();
}

void cmdListSounds(const CmdArgs&) {
  if (g_sndManager)
    g_sndManager->listSamples();
}

bool createSoundManager() {
  return getSndManager(true) != nullptr;
}

RegisterManagerFactory s_register(kManagerSound, createSoundManager, nullptr, destroySndManager);

}  // namespace

int soundClockMs() {
  return int(platformMilliseconds() & 0x7fffffff);
}

void SndManager::useManualOutput(bool manual) {
  s_manualOutput = manual;
}

SndManager::SndManager() = default;

bool SndManager::init() {
  // Linux has no window handle to bind the device to; a null window is no failure here.
  background_ = false;
  local_ = static_cast<SoundEmitterLocal*>(allocSoundEmitter());
  listenerOrigin_ = Vec3();
  listenerVelocity_ = Vec3();
  listenerAxis_ = Mat3::identity();
  listenerUnderWater_ = false;
  const char* error = "";
  if (!audioOpen(s_manualOutput ? AudioOutput::kManual : AudioOutput::kDevice, &error)) {
    cmdPrintf("ERROR: sound: %s\n", error);
    platformMessageBox("Couldn't Initialize - Sound System in Use", "DirectSound Error", PLATFORM_DIALOG_OK,
                       PLATFORM_DIALOG_ERROR, PLATFORM_ANSWER_OK);
    return false;
  }
  audioOpened_ = true;
  if (g_cmdSystem) {
    g_cmdSystem->addCommand("play", cmdPlay, 10, "plays a local sound");
    g_cmdSystem->addCommand("reloadSounds", cmdReloadSounds, 10, "reloads all sounds");
    g_cmdSystem->addCommand("listSounds", cmdListSounds, 10, "list all sounds");
  }
  return true;
}

SndManager::~SndManager() {
  stopAllSounds();
  local_ = nullptr;
  while (emitters_)
    delete emitters_;  // unlinks itself
  purge(-1, true);
  freeAll();
  if (audioOpened_)
    audioClose();
}

SndManager* getSndManager(bool create) {
  if (!g_sndManager && create) {
    g_sndManager = new SndManager;
    g_soundCache = g_sndManager;
    if (!g_sndManager->init()) {
      delete g_sndManager;  // once: init leaves the deleting to its caller
      g_sndManager = nullptr;
      g_soundCache = nullptr;
    }
  }
  g_soundSystem = g_sndManager;
  return g_sndManager;
}

void destroySndManager() {
  SndManager* manager = g_sndManager;
  if (!manager)
    return;
  delete manager;  // the destructor still reaches emitters and samples through the pointer
  g_sndManager = nullptr;
  g_soundSystem = nullptr;
  g_soundCache = nullptr;
}

void SndManager::setSoundWindow(void*) {
  // The mixer follows no window on Linux; kept for the callers after a video restart.
}

SoundEmitter* SndManager::allocSoundEmitter() {
  SoundEmitterLocal* emitter = new SoundEmitterLocal;
  emitter->next_ = emitters_;
  if (emitters_)
    emitters_->prev_ = emitter;
  emitters_ = emitter;
  return emitter;
}

void SndManager::stopAllSounds() {
  fades_.setNum(0);
  stepStartCount_ = 0;
  for (SoundEmitterLocal* e = emitters_; e; e = e->next_)
    e->stopSound(SoundEmitter::kAllChannels);
}

void SndManager::stopAllEmitters() {
  for (SoundEmitterLocal* e = emitters_; e; e = e->next_)
    e->stopSound(SoundEmitter::kAllChannels);
}

void SndManager::fadeOutAllEmitters() {
  for (SoundEmitterLocal* e = emitters_; e; e = e->next_)
    e->fadeSound(SoundEmitter::kAllChannels, -12.0f, 1.0f);
}

void SndManager::fadeSoundClass(int soundClass, float level, float seconds) {
  double ms = double(seconds) * 1000.0;
  ms = !(ms > 0.0) ? 0.0 : ms > 2147483647.0 ? 2147483647.0 : ms;
  const int duration = int(ms);
  for (int i = fades_.num() - 1; i >= 0; --i) {
    SoundFade& f = fades_[i];
    if (f.soundClass == soundClass) {
      f.startTime = fadeClock_;
      f.duration = duration;
      f.startLevel = f.endLevel;
      f.endLevel = level;
      f.lastTime = fadeClock_ - 1;
      f.level = level;
      return;
    }
  }
  fades_.append(SoundFade{fadeClock_, duration, 0.0f, level, fadeClock_ - 1, 0.0f, soundClass});
}

float SndManager::currentFadeLevel(int soundClass) {
  if (muted_)
    return -100.0f;
  float sum = 0.0f;
  for (int i = fades_.num() - 1; i >= 0; --i) {
    SoundFade& f = fades_[i];
    if (f.soundClass != soundClass && f.soundClass != -1)
      continue;
    if (f.lastTime != fadeClock_) {
      f.lastTime = fadeClock_;
      const int elapsed = fadeClock_ - f.startTime;
      if (elapsed <= 0)
        f.level = f.startLevel;
      else if (elapsed < f.duration)
        f.level = f.startLevel + (float(elapsed) / float(f.duration)) * (f.endLevel - f.startLevel);
      else
        f.level = f.endLevel;
    }
    sum += f.level;
  }
  return sum;
}

int SndManager::playLocalShader(SoundShader* shader, int channel, int flags) {
  if (!shader || !local_)
    return 0;
  const bool anyChannel = channel < 0 || channel >= SoundEmitter::kChannels;
  const bool looping = ((shader->parameters().flags | flags) & kSoundLooping) != 0;
  if (anyChannel && !looping) {
    for (int i = 0; i < stepStartCount_; ++i)
      if (stepStarts_[i].shader == shader)
        return stepStarts_[i].result;
  }
  if (anyChannel)
    channel = local_->findFreeChannel();
  const float diversity = float(std::rand() & 0x7fff) / 32767.0f;
  const int result =
      local_->startSound(shader, channel, diversity, flags | kSoundGlobal | kSoundOmniDirectional);
  if (anyChannel && !looping && result > 0 && stepStartCount_ < SoundEmitter::kChannels)
    stepStarts_[stepStartCount_++] = StepStart{shader, result};
  return result;
}

int SndManager::playLocalSound(const char* name, int channel, int flags) {
  if (!g_declSystem || !name)
    return 0;
  return playLocalShader(g_declSystem->findSoundShader(name, true), channel, flags);
}

void SndManager::stopLocalSound(int channel) {
  stepStartCount_ = 0;
  if (local_)
    local_->stopSound(channel);
}

bool SndManager::fadeLocalSound(float level, float seconds, int channel) {
  if (!local_ || !local_->isPlaying(channel))
    return false;
  local_->fadeSound(channel, level, seconds);
  return true;
}

int SndManager::localSoundPosition(int channel) {
  return local_ ? local_->channelPosition(channel) : 0;
}

int SndManager::streamBytesPerSecond(SoundStream* stream) {
  return stream ? int(stream->getFormat().avgBytesPerSec) : 0;
}

int SndManager::streamBytesPerFrame(SoundStream* stream) {
  return stream ? stream->getFormat().channels * (stream->getFormat().bitsPerSample / 8) : 0;
}

void SndManager::setListener(const Vec3& origin, const Mat3& axis, const Vec3& velocity, bool underWater) {
  listenerOrigin_ = origin;
  listenerAxis_ = axis;
  listenerVelocity_ = velocity;
  listenerUnderWater_ = underWater;
}

void SndManager::getListener(Vec3* origin, Mat3* axis, Vec3* velocity, bool* underWater) const {
  if (origin)
    *origin = listenerOrigin_;
  if (axis)
    *axis = listenerAxis_;
  if (velocity)
    *velocity = listenerVelocity_;
  if (underWater)
    *underWater = listenerUnderWater_;
}

void SndManager::update() {
  updateAt(soundClockMs());
}

void SndManager::updateAt(int now) {
  fadeClock_ = now;
  stepStartCount_ = 0;
  for (SoundEmitterLocal* e = emitters_; e; e = e->next_)
    e->updateChannels(now, listenerOrigin_, listenerAxis_, listenerVelocity_, listenerUnderWater_);
  purge(now, false);
}
