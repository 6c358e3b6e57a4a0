// The segment runtime: start, restart and end on the game's clock, and the per-kind updates
// (emitters, decals, lights, sounds, view effects).
#include "effects/segmentinstance.h"

#include <cmath>

#include "effects/effectsmanager.h"
#include "lib/interface/declsystem.h"
#include "lib/interface/effectssystem.h"
#include "lib/interface/gameinterface.h"
#include "lib/interface/soundsystem.h"
#include "render/material/material.h"

bool g_noEffectUpdate = false;

namespace {

// No update spawns more than the pool holds: anything beyond would only recycle its own particles.
constexpr float kMaxSpawnCredit = float(ParticlePool::kMaxParticles);

float capCredit(float credit) {
  if (!(credit <= kMaxSpawnCredit))  // also NaN
    return kMaxSpawnCredit;
  return credit;
}

bool sameOrigin(const Vec3& a, const Vec3& b) {
  return a.x == b.x && a.y == b.y && a.z == b.z;
}

}  // namespace

EffectSegmentInstance::EffectSegmentInstance() = default;

EffectSegmentInstance::~EffectSegmentInstance() {
  // The sound manager deletes every emitter when it goes; only a live one is ours to delete.
  if (soundEmitter && g_soundSystem)
    delete soundEmitter;
  soundEmitter = nullptr;
  if (lightHandle >= 0 && g_renderSystem)
    g_renderSystem->freeLightDef(lightHandle);
  lightHandle = -1;
  expire(true);
}

void EffectSegmentInstance::finish() {
  duration = -1.0f;
  expire(true);
}

void EffectSegmentInstance::expire(bool all) {
  Particle* p = particles.nextOwner();
  while (p) {
    Particle* next = p->ownerNode.nextOwner();
    if (all || p->endTime <= lastTime)
      g_particlePool.release(p);
    p = next;
  }
}

void EffectSegmentInstance::lightFrame(const RenderEffectParams& params, const DeclEffectSegment& segment, Mat3& axis,
                                       Vec3& origin) const {
  const ParticleBlock& block = segment.particles;
  Vec3 direction;
  if (block.normalSource == kNormalCenter)
    direction = (block.startRange.min.position + block.startRange.max.position) * 0.5f;
  axis = Mat3::identity();
  if (direction.x != 0.0f || direction.y != 0.0f || direction.z != 0.0f)
    axis = direction.normalized().toMat3();
  if (block.normalSource != kNormalAbsOrigin)
    axis = params.axis * axis;
  origin = params.origin;
  if (block.flags & kSegmentFlipNormal)
    axis = axis * Angles(0.0f, 180.0f, 0.0f).toMat3();
}

void EffectSegmentInstance::start(float time, const RenderEffectParams& params, const DeclEffectSegment& segment) {
  const ParticleBlock& block = segment.particles;
  duration = segment.randomDuration(effectRandom());
  stopped = false;
  lastTime = time;
  startTime = segment.randomStart(effectRandom()) + (time > 0.0f ? time : 0.0f);

  if (block.flags & kSegmentSpawnAtOnce) {
    spawnAccumulator += float(segment.randomCount(effectRandom()));
  } else {
    spawnAccumulator += float(segment.randomCount(effectRandom())) * 0.016f;
    if (spawnAccumulator < 1.0f)
      spawnAccumulator = 1.0f;
  }
  spawnAccumulator = capCredit(spawnAccumulator);

  if (block.flags & (kSegmentPersist | kSegmentConstant))
    expire(true);

  if (segment.type == kSegmentSound) {
    if (!segment.soundShader)
      return;
    if (!soundEmitter && g_soundSystem)
      soundEmitter = g_soundSystem->allocSoundEmitter();
    if (!soundEmitter)
      return;
    soundEmitter->stopSound(SoundEmitter::kAllChannels);
    soundEmitter->updateEmitter(params.origin, Vec3(), nullptr);
    soundEmitter->startSound(segment.soundShader, segment.soundChannel, effectRandom(), 0);
  } else if (segment.type == kSegmentLight) {
    const ParticleState& lo = block.startRange.min;
    const ParticleState& hi = block.startRange.max;
    const float r = randomInRange(lo.tint.x, hi.tint.x);
    const float g = randomInRange(lo.tint.y, hi.tint.y);
    const float b = randomInRange(lo.tint.z, hi.tint.z);
    light.shaderParms[0] = r;
    light.shaderParms[1] = g;
    light.shaderParms[2] = b;
    if (lightHandle >= 0)
      return;  // the new colour goes out with the next resubmission
    const float w = randomInRange(lo.width, hi.width);
    const float l = randomInRange(lo.length, hi.length);
    light.radius = Vec3(w, w, l);
    lightFrame(params, segment, light.axis, light.origin);
    light.center = Vec3(0.0f, 0.0f, 32.0f);
    light.ownerId = -1;
    light.shape = 1;
    uint8_t flags = light.flags & uint8_t(~0x0f);
    flags |= segment.lightFlagA ? 0x2 : 0;
    flags |= segment.lightFlagB ? 0x4 : 0;
    light.flags = flags;
    light.kind = 1;
    light.shaderParms[3] = 1.0f;
    light.shaderParms[4] = -startTime;
    light.shaderParms[5] = 1.0f;
    light.shaderParms[6] = 1.0f;
    light.material = block.material;
    lightHandle = g_renderSystem ? g_renderSystem->addLightDef(&light) : -1;
  }
}

bool EffectSegmentInstance::update(float now, const RenderEffectParams& params, const DeclEffectSegment& segment) {
  if (duration < 0.0f)
    return false;
  if (lastTime < 0.0f || now < startTime || now <= lastTime || g_noEffectUpdate) {
    lastTime = now;
    return true;
  }
  const bool firstUpdate = startTime == lastTime;
  const float dt = now - lastTime;
  lastTime = now;
  const int flags = segment.particles.flags;
  if (stopped && (flags & kSegmentNoStopWait))
    return false;
  const int type = segment.type;
  if (!firstUpdate && startTime + duration <= now && type != kSegmentDecal && type != kSegmentSound &&
      type != kSegmentLight) {
    if (!params.looping || (flags & kSegmentNoLooping))
      return false;
    if (!stopped) {
      start(now, params, segment);
      return true;
    }
  }
  switch (type) {
    case kSegmentLight:
      return updateLight(now, params, segment);
    case kSegmentSound:
      return updateSound(now, params, segment);
    case kSegmentDecal:
      return updateDecal(now, params, segment);
    case kSegmentView:
      return updateView(firstUpdate, params, segment);
    case kSegmentSprite:
    case kSegmentOriented:
    case kSegmentModel:
    case kSegmentLine:
    case kSegmentLinked:
      return updateEmitter(now, dt, firstUpdate, params, segment);
    default:
      return false;
  }
}

bool EffectSegmentInstance::updateLight(float now, const RenderEffectParams& params, const DeclEffectSegment& segment) {
  if (lightHandle < 0)
    return false;
  Mat3 axis;
  Vec3 origin;
  lightFrame(params, segment, axis, origin);
  if (!axis.compare(light.axis, 0.001f) || !sameOrigin(origin, light.origin) || params.resubmitLight) {
    light.axis = axis;
    light.origin = origin;
    if (g_renderSystem)
      g_renderSystem->updateLightDef(lightHandle, &light);
  }
  // Looping or not, a light restarts at its end with a new colour (that is how a light flickers) and
  // goes once it is stopped: a looping effect's light would otherwise keep its first colour for ever
  // and outlive the effect's stop.
  if (startTime + duration <= now) {
    if (stopped || !(segment.particles.flags & kSegmentConstant)) {
      if (g_renderSystem)
        g_renderSystem->freeLightDef(lightHandle);
      lightHandle = -1;
    } else {
      start(now, params, segment);
      if (g_renderSystem)
        g_renderSystem->updateLightDef(lightHandle, &light);
    }
  }
  return lightHandle >= 0;
}

bool EffectSegmentInstance::updateSound(float now, const RenderEffectParams& params, const DeclEffectSegment& segment) {
  if (!soundEmitter || !segment.soundShader)
    return false;
  if (!soundEmitter->isPlaying(-1) || stopped) {
    if (!params.looping || stopped)
      return false;
    start(now, params, segment);
  }
  SoundShaderParms parms;
  if (params.looping)
    parms.flags = kSoundLooping;
  parms.volume = randomInRange(segment.volume.min, segment.volume.max) * 15.0f;
  soundEmitter->updateEmitter(params.origin, Vec3(), &parms);
  return true;
}

bool EffectSegmentInstance::updateDecal(float now, const RenderEffectParams& params, const DeclEffectSegment& segment) {
  const ParticleBlock& block = segment.particles;
  Particle* p = g_particlePool.alloc();
  Mat3 axis;
  p->init(segment, params, &axis);
  p->endTime += now;
  const ParticleState& s = p->currentState;
  Vec3 origin = s.position;
  if (block.flags & kSegmentLocked)
    origin = params.origin + params.axis.transform(origin);
  const Vec3 normal = -axis[0];
  // The particle's rotation is already in degrees (drawn in turns, times 360 at birth).
  const float angle = s.rotate.z;
  const float depth = s.width < s.length ? s.width : s.length;
  EffectsManager::projectDecal(p->endTime, origin, normal, depth, true, s.width, s.length, block.material, angle);
  if (!(block.flags & kSegmentConstant))
    startTime = p->endTime;
  g_particlePool.release(p);
  return params.looping && !stopped;
}

bool EffectSegmentInstance::updateView(bool firstUpdate, const RenderEffectParams& params,
                                       const DeclEffectSegment& segment) {
  if (!firstUpdate)
    return params.looping && !stopped;
  if (!g_gameInterface)
    return params.looping;
  float intensity = segment.scale;
  if (segment.attenuate) {
    Vec3 position;
    float second = 0.0f;
    g_gameInterface->getViewOrigin(&position, &second);
    Vec3 delta = position - params.origin;
    const float d = delta.normalizeFast();
    const float lo = segment.attenuation.min;
    const float hi = segment.attenuation.max;
    float f;
    if (hi == lo) {
      // Equal distances make a step: full strength inside, nothing beyond.
      f = d < lo ? 0.0f : 1.0f;
    } else {
      f = (d - lo) / (hi - lo);
      f = f < 0.0f ? 0.0f : (f > 1.0f ? 1.0f : f);
      if (!std::isfinite(f))
        f = 1.0f;
    }
    intensity = segment.scale * (1.0f - f) * (1.0f - f);
  }
  const Material* material = segment.particles.material;
  g_gameInterface->applyViewEffect(segment.viewKind, material ? material->getName() : "", duration, intensity);
  return params.looping;
}

bool EffectSegmentInstance::updateEmitter(float now, float dt, bool firstUpdate, const RenderEffectParams& params,
                                          const DeclEffectSegment& segment) {
  const int flags = segment.particles.flags;
  if (stopped) {
    if (particles.isListEmpty() || (flags & kSegmentConstant))
      return false;
    expire(false);
  } else if (!(flags & kSegmentConstant)) {
    expire(false);
  }
  if (!stopped && !(flags & kSegmentSpawnAtOnce))
    spawnAccumulator += float(segment.randomCount(effectRandom())) * dt;
  spawnAccumulator = capCredit(spawnAccumulator);
  while (spawnAccumulator >= 1.0f) {
    emitParticle(params, firstUpdate, segment);
    spawnAccumulator -= 1.0f;
  }
  const float segmentEnd = startTime + duration;
  for (Particle* p = particles.nextOwner(); p; p = p->ownerNode.nextOwner()) {
    p->move(segment, params, dt, now);
    p->animate(segment, params, segmentEnd, now);
  }
  return true;
}

bool EffectSegmentInstance::emitParticle(const RenderEffectParams& params, bool firstUpdate,
                                         const DeclEffectSegment& segment) {
  Particle* p = g_particlePool.alloc();
  p->ownerNode.addToEnd(particles);
  p->init(segment, params, nullptr);
  p->startTime = lastTime;
  p->endTime = lastTime + p->endTime;
  if (!firstUpdate && p->endTime > startTime + duration + 0.02f && !params.looping) {
    g_particlePool.release(p);
    return false;
  }
  return true;
}
