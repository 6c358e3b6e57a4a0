// Emitters, channels and the spatialisation of each playing channel.
#include "sound/soundemitter.h"

#include <cmath>
#include <cstdlib>
#include <mutex>

#include "sound/sndmanager.h"
#include "sound/soundvars.h"

namespace {

// A scoped hold on a re-entrant critical section.
using Hold = std::lock_guard<CriticalSection>;

bool isAll(int channel) {
  return channel == -1 || channel == SoundEmitter::kAllChannels;
}

bool isOne(int channel) {
  return channel >= 0 && channel < SoundEmitter::kChannels;
}

// Converts after clamping in floating point, so no out-of-range value reaches the integer.
int clampToInt(double value, double low, double high) {
  if (!(value >= low))  // NaN too
    value = value != value ? 0.0 : low;
  if (value > high)
    value = high;
  return int(value);
}

}  // namespace

float soundDistanceFraction(float dist, float minDistance, float maxDistance) {
  const float m = minDistance > 1.0f ? minDistance : 1.0f;
  const float M = maxDistance > m + 1.0f ? maxDistance : m + 1.0f;
  const float near = dist / 32.0f - m;
  return (near > 0.0f ? near : 0.0f) / (M - m);
}

float soundVolumeLevel(float e, float fraction, bool underWater, bool unclamped) {
  float x = fraction < 0.0f ? 0.0f : fraction > 1.0f ? 1.0f : fraction;
  if (underWater)
    x *= 0.9f;
  const double base = 1.0 + (1.0 - x) * double(e);
  double q = 1.0;
  for (int i = 0; i < 10; ++i)
    q *= base;
  double level = q != 0.0 ? -10000.0 / q : -10000.0;
  if (!unclamped)
    level = level < -10000.0 ? -10000.0 : level > 0.0 ? 0.0 : level;
  return float(level);
}

// ---- SoundChannel ----

void SoundChannel::effectiveParms(SoundShaderParms* out) const {
  *out = SoundShaderParms();
  if (!shader_ || shader_->numSamples() == 0)
    return;
  *out = shader_->parameters();
  out->volume += overrides_.volume;
  out->minDistance += overrides_.minDistance;
  out->maxDistance += overrides_.maxDistance;
  out->reserved += overrides_.reserved;
  out->flags |= overrides_.flags | playFlags_;
  if (overrides_.soundClass != 0)
    out->soundClass = overrides_.soundClass;
}

void SoundChannel::setParms(const SoundShaderParms& parms) {
  Hold hold(lock_);
  if (sample_) {
    const int before = (playFlags_ | overrides_.flags) & kSoundLooping;
    if (before != (parms.flags & kSoundLooping))
      sample_->play((parms.flags & kSoundLooping) != 0, 0, false);
  }
  overrides_ = parms;
}

void SoundChannel::stop() {
  Hold hold(lock_);
  if (!sample_)
    return;
  sample_->stop();
  if (overrides_.flags & kSoundOnDemand)
    sample_->unload();
  if (g_sndManager)
    g_sndManager->release(sample_, false);
  sample_ = nullptr;
}

bool SoundChannel::isPlaying() {
  Hold hold(lock_);
  if (sample_ && !starting_ && sample_->isPlaying())
    return true;
  if (!starting_)
    stop();
  return false;
}

void SoundChannel::fade(float level, float seconds) {
  Hold hold(lock_);
  if (isPlaying())
    sample_->fadeTo(level, clampToInt(double(seconds) * 1000.0, 0.0, 2147483647.0));
}

int SoundChannel::endTime() const {
  // A sound that loops through its shader's own flag never ends either.
  const int shaderFlags = shader_ ? shader_->parameters().flags : 0;
  if ((shaderFlags | playFlags_ | overrides_.flags) & kSoundLooping)
    return -2;
  return endTime_;
}

int SoundChannel::start(SoundShader* shader, int flags, float diversity) {
  stop();
  if (!shader)
    return 0;
  Hold hold(lock_);
  playFlags_ = flags;
  starting_ = true;
  shader_ = shader;
  const int f = shader->parameters().flags | playFlags_;
  const int count = shader->numSamples();
  SoundSample* chosen;
  if ((f & kSoundNoDups) && count >= 2) {
    noDupsIndex_ = (noDupsIndex_ + 1) % count;
    if (noDupsIndex_ == noDupsStart_)
      noDupsIndex_ = noDupsStart_ = std::rand() % count;
    // By index: a fraction index / count can round down onto the previous sample.
    chosen = shader->sample(noDupsIndex_);
  } else {
    chosen = shader->sampleAtFraction(diversity);
  }
  int result = 0;
  sample_ = g_sndManager ? g_sndManager->addRef(chosen) : nullptr;
  if (sample_) {
    sample_->load();
    sample_->fadeTo(0.0f, 0);
    sample_->setFrequencyOffset(0);
    sample_->setPan(0);
    Vec3 origin, velocity;
    Mat3 axis;
    bool underWater = false;
    g_sndManager->getListener(&origin, &axis, &velocity, &underWater);
    update(0, origin, axis, velocity, underWater);
    sample_->play((f & kSoundLooping) != 0, 0, true);
    result = sample_->lengthMs();
    endTime_ = soundClockMs() + result;
  }
  starting_ = false;
  return result;
}

float SoundChannel::computeVolume(bool underWater, float fraction) {
  SoundShaderParms parms;
  effectiveParms(&parms);
  const float s = (g_soundSystem ? g_soundSystem->currentFadeLevel(parms.soundClass) : 0.0f) + parms.volume;
  float g = s / 30.0f + 0.5f;
  g = g < 0.0f ? 0.0f : g > 1.0f ? 1.0f : g;
  const float main = soundVarFloat("s_mainvolume", 100.0f);
  float e;
  if (parms.flags & kSoundMusic)
    e = main * soundVarFloat("s_musicvolume", 35.0f) / 10000.0f * g;
  else
    e = soundVarFloat("s_sfxvolume", 75.0f) * main / 10000.0f * g;
  const bool water = underWater || soundVarInt("s_alwaysUnderWater", 0) != 0;
  return soundVolumeLevel(e, fraction, water, (parms.flags & kSoundUnclamped) != 0);
}

void SoundChannel::update(int time, const Vec3& listenerOrigin, const Mat3& listenerAxis,
                          const Vec3& listenerVelocity, bool underWater) {
  Hold hold(lock_);
  if (!sample_ || !owner_)
    return;
  Vec3 d = owner_->origin_ - listenerOrigin;
  const float dist = d.length();
  if (dist > 0.0f)
    d = d * (1.0f / dist);
  SoundShaderParms parms;
  effectiveParms(&parms);
  const double rate = double(sample_->format().samplesPerSec);
  float fraction = 0.0f, pan = 0.0f;
  double offset = 0.0;
  if (dist >= 32.0f && !(parms.flags & (kSoundGlobal | kSoundMusic))) {
    fraction = soundDistanceFraction(dist, parms.minDistance, parms.maxDistance);
    if (!(parms.flags & kSoundOmniDirectional))
      pan = -d.dot(listenerAxis[1]);
    const Vec3 v = owner_->velocity_ - listenerVelocity;
    const double s = double(v.lengthSqr());
    if (s != 0.0) {
      const double gap = double(dist) - 32.0 > 2.0 ? double(dist) - 32.0 : 2.0;
      offset = std::trunc(rate * (s / 65536.0) / gap);
      if (!(offset > 0.0))
        offset = 0.0;
    }
  }
  const int p = clampToInt(double(pan) * 100.0, -100.0, 100.0);
  const float volume = computeVolume(underWater, fraction);
  double t = double(soundVarFloat("timescale", 1.0f));
  const bool water = underWater || soundVarInt("s_alwaysUnderWater", 0) != 0;
  bool scale;
  if (water) {
    t *= 0.7;
    if (t < 0.7)
      t = 0.7;
    scale = t < 1.0;
  } else {
    scale = t != 1.0;
  }
  if (scale)
    offset -= std::trunc(rate * (1.0 - t));
  sample_->setFrequencyOffset(clampToInt(offset, -100000.0, 100000.0));
  sample_->setPan(p);
  sample_->startFade(volume);
  sample_->update(time);
}

// ---- SoundEmitterLocal ----

SoundEmitterLocal::SoundEmitterLocal() {
  for (SoundChannel& c : channels_)
    c.owner_ = this;
}

SoundEmitterLocal::~SoundEmitterLocal() {
  for (SoundChannel& c : channels_)
    c.stop();
  if (g_sndManager) {
    if (prev_)
      prev_->next_ = next_;
    else if (g_sndManager->emitters_ == this)
      g_sndManager->emitters_ = next_;
    if (next_)
      next_->prev_ = prev_;
    if (g_sndManager->local_ == this)
      g_sndManager->local_ = nullptr;
  }
}

void SoundEmitterLocal::updateEmitter(const Vec3& origin, const Vec3& velocity, const SoundShaderParms* overrides) {
  origin_ = origin;
  velocity_ = velocity;
  if (overrides)
    for (SoundChannel& c : channels_)
      c.setParms(*overrides);
}

int SoundEmitterLocal::startSound(SoundShader* shader, int channel, float diversity, int flags) {
  if (!shader)
    return 0;
  if (!isOne(channel))
    channel = findFreeChannel();
  playing_ = true;
  return channels_[channel].start(shader, flags, diversity);
}

void SoundEmitterLocal::stopSound(int channel) {
  if (isAll(channel)) {
    for (SoundChannel& c : channels_)
      c.stop();
  } else if (isOne(channel)) {
    channels_[channel].stop();
  }
}

bool SoundEmitterLocal::isPlaying(int channel) {
  if (!playing_)
    return false;
  if (isAll(channel)) {
    playing_ = false;
    bool starting = false;
    for (SoundChannel& c : channels_) {
      if (c.isPlaying()) {
        playing_ = true;
        return true;
      }
      starting = starting || c.isStarting();
    }
    playing_ = starting;
    return false;
  }
  return isOne(channel) && channels_[channel].isPlaying();
}

void SoundEmitterLocal::fadeSound(int channel, float level, float seconds) {
  // Decibels to hundredths: -10 dB and below is silence.
  const float hundredths = level * 1000.0f;
  if (isAll(channel)) {
    for (SoundChannel& c : channels_)
      c.fade(hundredths, seconds);
  } else if (isOne(channel)) {
    channels_[channel].fade(hundredths, seconds);
  }
}

int SoundEmitterLocal::findFreeChannel() {
  for (int i = 0; i < kChannels; ++i)
    if (!channels_[i].isPlaying())
      return i;
  int best = 0;
  unsigned bestEnd = unsigned(channels_[0].endTime());
  for (int i = 1; i < kChannels; ++i) {
    const unsigned end = unsigned(channels_[i].endTime());
    if (end < bestEnd)
      best = i, bestEnd = end;
  }
  return best;
}

int SoundEmitterLocal::channelPosition(int channel) {
  if (!playing_ || !isOne(channel))
    return 0;
  SoundSample* sample = channels_[channel].sample_;
  return sample && sample->isPlaying() ? sample->getPlayPosition() : 0;
}

void SoundEmitterLocal::updateChannels(int time, const Vec3& listenerOrigin, const Mat3& listenerAxis,
                                       const Vec3& listenerVelocity, bool underWater) {
  if (!isPlaying(-1))
    return;
  for (SoundChannel& c : channels_)
    if (!c.isStarting())
      c.update(time, listenerOrigin, listenerAxis, listenerVelocity, underWater);
}
