// The particle pool (free and active lists, the overflow rule, the debug counts) and one particle's
// life: birth from its segment's ranges in the emission frame, motion with friction, acceleration,
// gravity, end origins and impacts, trails, and envelope animation.
#include "effects/particle.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "lib/interface/cmdsystem.h"
#include "lib/interface/convarsystem.h"
#include "lib/interface/effectssystem.h"
#include "lib/interface/gameinterface.h"
#include "lib/interface/rendermodelsystem.h"
#include "lib/interface/rendersystem.h"

ParticlePool g_particlePool;

namespace {

// Handed to the game with every impact effect: the first five are 1.0.
const float kImpactParms[12] = {1.0f, 1.0f, 1.0f, 1.0f, 1.0f};

Vec3 randomVec(const Vec3& min, const Vec3& max) {
  const float x = randomInRange(min.x, max.x);
  const float y = randomInRange(min.y, max.y);
  const float z = randomInRange(min.z, max.z);
  return {x, y, z};
}

Vec3 absVec(const Vec3& v) {
  return {std::fabs(v.x), std::fabs(v.y), std::fabs(v.z)};
}

Vec3 anglesVec(const Angles& a) {
  return {a.pitch, a.yaw, a.roll};
}

Mat3 anglesMat(const Vec3& v) {
  return Angles(v.x, v.y, v.z).toMat3();
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Birth

void sampleParticleState(ParticleState& out, const ParticleStateRange& range, int shape,
                         const RenderEffectParams& params) {
  const ParticleState& lo = range.min;
  const ParticleState& hi = range.max;
  const Vec3 c = (lo.position + hi.position) * 0.5f;
  const Vec3 h = hi.position - c;
  if (shape == kShapeSphere || shape == kShapeCylinder || shape == kShapeCone) {
    Vec3 d;
    d.x = 2.0f * effectRandom() - 1.0f;
    d.y = 2.0f * effectRandom() - 1.0f;
    d.z = 2.0f * effectRandom() - 1.0f;
    if (shape == kShapeSphere) {
      d.normalize();
      out.position = Vec3(d.x * h.x + c.x, d.y * h.y + c.y, d.z * h.z + c.z);
    } else {
      const float len = std::sqrt(d.x * d.x + d.y * d.y);
      if (len >= 1e-6f) {
        d.x /= len;
        d.y /= len;
      }
      if (shape == kShapeCylinder) {
        out.position = Vec3(d.x * h.x + c.x, d.y * h.y + c.y, d.z * h.z + c.z);
      } else {
        // A cone of no height has only its base to spawn on.
        const float height = hi.position.z - lo.position.z;
        const float k = height != 0.0f ? ((d.z + 1.0f) * 0.5f) / height : 1.0f;
        out.position = Vec3(d.x * h.x * k + c.x, d.y * h.y * k + c.y, d.z * h.z + c.z);
      }
    }
  } else {
    out.position = randomVec(lo.position, hi.position);
  }
  out.velocity = randomVec(lo.velocity, hi.velocity);
  out.acceleration = randomVec(lo.acceleration, hi.acceleration);
  out.friction = randomVec(lo.friction, hi.friction);
  out.tint = randomVec(lo.tint, hi.tint);
  out.offset = randomVec(lo.offset, hi.offset);
  out.gravity = randomInRange(lo.gravity, hi.gravity);
  out.alpha = randomInRange(lo.alpha, hi.alpha);
  out.width = randomInRange(lo.width, hi.width);
  out.length = randomInRange(lo.length, hi.length);
  if (lo.length > hi.length && params.hasEndOrigin)
    out.length = -1.0f;
  out.rotate = randomVec(lo.rotate, hi.rotate) * 360.0f;
  out.orbit = randomVec(lo.orbit, hi.orbit) * 360.0f;
}

void Particle::init(const DeclEffectSegment& segment, const RenderEffectParams& params, Mat3* outAxis) {
  const ParticleBlock& block = segment.particles;
  startState = ParticleState();
  currentState = ParticleState();
  endState = ParticleState();
  startTime = 0.0f;
  for (Vec3& t : trail)
    t = Vec3();
  trailCount = 0;
  nextTrailTime = 0.0f;
  endTime = randomInRange(block.lifetime.min, block.lifetime.max);

  sampleParticleState(startState, block.startRange, block.shape, params);
  sampleParticleState(endState, block.endRange, block.shape, params);

  // The emission frame.
  const bool locked = (block.flags & kSegmentLocked) != 0;
  Vec3 origin;
  if (block.flags & kSegmentUseSurface) {
    if (!block.model && params.entityHandle >= 0) {
      Vec3 position;
      if (g_renderSystem && g_renderSystem->getEntityVertex(params.entityHandle, &position, nullptr, -1))
        origin = locked ? position : position - params.origin;
    } else if (block.model && block.model->numSurfaces() > 0) {
      // A model without vertices has nothing to spawn on: the particle starts at the origin.
      const SurfaceGeometry* g = block.model->getSurface(0)->geometry;
      if (g && g->verts && g->numVerts > 0) {
        const DrawVertex& v = g->verts[unsigned(std::rand()) % unsigned(g->numVerts)];
        origin = Vec3(v.xyz[0], v.xyz[1], v.xyz[2]);
      }
    }
  }
  Vec3 direction;
  switch (block.normalSource) {
    case kNormalCenter:
      if (block.model) {
        Bounds b;
        block.model->getBounds(b, nullptr);
        direction = b.isCleared() ? Vec3() : (b.mins + b.maxs) * 0.5f;
      } else {
        direction = (block.startRange.min.position + block.startRange.max.position) * 0.5f;
      }
      break;
    case kNormalOrigin:
    case kNormalAbsOrigin:
      direction = startState.position;
      break;
    default:
      break;
  }
  Mat3 axis;
  bool transform = false;
  if (direction.x != 0.0f || direction.y != 0.0f || direction.z != 0.0f) {
    axis = direction.normalized().toMat3();
    transform = true;
  }
  Vec3 o = origin;
  if (!locked) {
    if (block.normalSource != kNormalAbsOrigin)
      axis = axis * params.axis;
    o = origin + params.origin;
    transform = true;
  }
  if (block.flags & kSegmentFlipNormal)
    axis = axis * Angles(0.0f, 180.0f, 0.0f).toMat3();

  Vec3 angles;
  if (transform) {
    angles = anglesVec(axis.toAngles());
    for (ParticleState* s : {&startState, &endState}) {
      s->position = axis.transform(s->position) + o;
      s->velocity = axis.transform(s->velocity);
      s->acceleration = absVec(axis.transform(s->acceleration));
      s->friction = absVec(axis.transform(s->friction));
      s->offset = axis.transform(s->offset);
    }
    startState.rotate += angles;
    startState.orbit += angles;
  }
  endState.rotate += (block.flags & kSegmentRotateRelative) ? startState.rotate : angles;
  endState.orbit += (block.flags & kSegmentOrbitRelative) ? startState.orbit : angles;

  currentState = startState;
  nextTrailTime = 0.0f;
  trailCount = int(randomInRange(float(block.trailCount.min), float(block.trailCount.max)));
  trailCount = trailCount < 0 ? 0 : (trailCount > kMaxTrailPoints ? kMaxTrailPoints : trailCount);
  for (int i = 0; i < trailCount; i++)
    trail[i] = currentState.position;
  if (outAxis)
    *outAxis = axis;
}

// ---------------------------------------------------------------------------------------------
// Motion and animation

Vec3 Particle::turnedOffset() const {
  const Vec3& offset = currentState.offset;
  if (offset.x == 0.0f && offset.y == 0.0f && offset.z == 0.0f)
    return Vec3();
  return anglesMat(currentState.orbit).transform(offset);
}

Vec3 Particle::drawPoint(const DeclEffectSegment& segment, const RenderEffectParams& params) const {
  const Vec3 p = currentState.position + turnedOffset();
  if (segment.particles.flags & kSegmentLocked)
    return params.origin + params.axis.transform(p);
  return p;
}

void Particle::move(const DeclEffectSegment& segment, const RenderEffectParams& params, float dt, float now) {
  const ParticleBlock& block = segment.particles;
  ParticleState& s = currentState;
  const Vec3 previous = s.position;
  const bool locked = (block.flags & kSegmentLocked) != 0;

  if (block.trailType == kTrailMotion && nextTrailTime <= now) {
    for (int i = trailCount - 1; i > 0; i--)
      trail[i] = trail[i - 1];
    if (trailCount > 0)
      trail[0] = s.position;
    nextTrailTime = now + randomInRange(block.trailTime.min, block.trailTime.max);
  }

  if (block.startRange.min.position.x > block.startRange.max.position.x && params.hasEndOrigin) {
    s.position = locked ? params.axis.transformTransposed(params.endOrigin - params.origin) : params.endOrigin;
  } else {
    for (int k = 0; k < 3; k++) {
      const float speed = std::fabs(s.velocity[k]);
      if (speed != 0.0f) {
        const float f = s.friction[k];
        const float reduced = speed - dt * f * (speed > f ? speed : f);
        s.velocity[k] = (reduced > 0.0f ? reduced : 0.0f) / speed * s.velocity[k];
      }
    }
    s.velocity = s.velocity + s.acceleration * (dt * 0.5f);
    Vec3 g = params.gravity;
    if (block.flags & kSegmentRadialGravity)
      g = s.position.normalized();
    s.velocity = s.velocity + g * (s.gravity * dt * 0.5f);
    s.position = s.position + s.velocity * dt;
  }

  if ((block.flags & kSegmentImpact) && g_gameInterface) {
    const Vec3 turned = turnedOffset();
    Vec3 from = previous + turned;
    Vec3 to = s.position + turned;
    if (locked) {
      from = params.origin + params.axis.transform(from);
      to = params.origin + params.axis.transform(to);
    }
    ParticleTraceResult trace;
    g_gameInterface->traceParticle(&trace, from, to, 0, 1);
    if (std::isfinite(trace.fraction) && trace.fraction < 1.0f) {
      const ImpactAction& impact = block.impact;
      if (impact.remove)
        endTime = now - 1.0f;
      if (impact.effect) {
        g_gameInterface->spawnImpactEffect(impact.effect, trace.endPosition, trace.normal.toMat3(), 0, params.origin, 0,
                                           kImpactParms);
      }
      const float w = impact.bounce + 1.0f;
      const Vec3 n = locked ? params.axis.transformTransposed(trace.normal) : trace.normal;
      float d = s.velocity.dot(n);
      if (w != 1.0f)
        d = d >= 0.0f ? d / w : d * w;
      s.velocity = s.velocity - n * d;
      s.position =
          locked ? params.axis.transformTransposed(trace.endPosition - params.origin) : trace.endPosition;
    }
  }
}

void Particle::animate(const DeclEffectSegment& segment, const RenderEffectParams& params, float segmentEnd,
                       float now) {
  const EffectEnvelope* m = segment.particles.motion;
  const float ts = startTime;
  const float te = endTime;
  const float teFade = params.looping ? te : (te < segmentEnd ? te : segmentEnd);
  ParticleState& c = currentState;
  const ParticleState& a = startState;
  const ParticleState& b = endState;

  const float fade = EffectEnvelope::evaluate(m[kMotionAlpha], ts, teFade, now);
  c.alpha = a.alpha + fade * (b.alpha - a.alpha);
  const float tint = m[kMotionTint].table ? EffectEnvelope::evaluate(m[kMotionTint], ts, teFade, now) : fade;
  c.tint = a.tint + (b.tint - a.tint) * tint;
  c.width = a.width + EffectEnvelope::evaluate(m[kMotionWidth], ts, te, now) * (b.width - a.width);
  c.length = a.length + EffectEnvelope::evaluate(m[kMotionLength], ts, te, now) * (b.length - a.length);
  for (int k = 0; k < 3; k++) {
    c.rotate[k] = a.rotate[k] + EffectEnvelope::evaluate(m[kMotionRotate + k], ts, te, now) * (b.rotate[k] - a.rotate[k]);
    c.offset[k] = a.offset[k] + EffectEnvelope::evaluate(m[kMotionOffset + k], ts, te, now) * (b.offset[k] - a.offset[k]);
    c.orbit[k] = a.orbit[k] + EffectEnvelope::evaluate(m[kMotionOrbit + k], ts, te, now) * (b.orbit[k] - a.orbit[k]);
  }
}

// ---------------------------------------------------------------------------------------------
// The pool

ParticlePool::ParticlePool() {
  relinkAll();
}

ParticlePool::~ParticlePool() {
  relinkAll();
}

void ParticlePool::relinkAll() {
  freeList_.remove();
  activeList_.remove();
  dirty_ = true;
  for (Particle& p : particles_) {
    p.ownerNode.remove();
    p.poolNode.addToEnd(freeList_);
  }
}

Particle* ParticlePool::alloc() {
  dirty_ = true;
  if (freeList_.isListEmpty())
    reclaimOverflow();
  Particle* p = freeList_.nextOwner();
  p->poolNode.addToEnd(activeList_);
  p->startTime = 0.0f;
  p->endTime = 0.0f;
  return p;
}

void ParticlePool::release(Particle* particle) {
  if (!particle)
    return;
  dirty_ = true;
  particle->ownerNode.remove();
  particle->poolNode.addToFront(freeList_);
}

void ParticlePool::reclaimOverflow() {
  if (!freeList_.isListEmpty())
    return;
  cmdPrintf("^1WARNING: ^2particle system overflow\n");
  int best = 0;
  for (int i = 1; i < kMaxParticles; i++) {
    if (particles_[i].endTime < particles_[best].endTime)
      best = i;
  }
  release(&particles_[best]);
}

void ParticlePool::printStats() {
  if (!g_cmdSystem || !g_conVarSystem || !g_renderSystem || !g_conVarSystem->getInt("r_debugParticles"))
    return;
  g_renderSystem->setTextAlignment(0);
  g_renderSystem->setColor(1.0f, 1.0f, 1.0f, 1.0f);
  char text[64];
  int n = std::snprintf(text, sizeof(text), "active particles: %d", numActive());
  g_renderSystem->drawText640(0, 0.0f, 0.0f, 0.5f, text, n);
  n = std::snprintf(text, sizeof(text), "  free particles: %d", numFree());
  g_renderSystem->drawText640(0, 0.0f, 14.0f, 0.5f, text, n);
}
