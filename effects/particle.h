// The particle pool and the particle record: one fixed pool of 2048 particles shared by every
// running effect (nothing is allocated while effects run), birth from a segment's attribute ranges,
// motion, impacts, trails and envelope animation. Main thread only.
#pragma once

#include "effects/decleffect.h"
#include "lib/list.h"
#include "lib/matrix.h"
#include "lib/vector.h"

struct RenderEffectParams;

class Particle {
 public:
  Particle() : poolNode(this), ownerNode(this) {}
  Particle(const Particle&) = delete;
  Particle& operator=(const Particle&) = delete;

  // Birth: draws both states, places them in the emission frame (returned in outAxis when given).
  // endTime holds the drawn lifetime; the caller adds the birth time.
  void init(const DeclEffectSegment& segment, const RenderEffectParams& params, Mat3* outAxis);
  // One emitter update: trails, end-origin, friction, acceleration, gravity, position, impacts.
  void move(const DeclEffectSegment& segment, const RenderEffectParams& params, float dt, float now);
  // Envelope animation towards the end state. segmentEnd = segment start + duration.
  void animate(const DeclEffectSegment& segment, const RenderEffectParams& params, float segmentEnd, float now);

  // Current position plus the offset turned by the orbit, in world space.
  Vec3 drawPoint(const DeclEffectSegment& segment, const RenderEffectParams& params) const;
  // The current offset turned by the current orbit angles.
  Vec3 turnedOffset() const;
  bool visible() const {
    return currentState.alpha > 0.0f && currentState.width != 0.0f && currentState.length != 0.0f;
  }

  ParticleState startState;
  ParticleState currentState;
  ParticleState endState;
  float startTime = 0.0f;
  float endTime = 0.0f;
  Vec3 trail[kMaxTrailPoints];
  int trailCount = 0;
  float nextTrailTime = 0.0f;
  LinkList<Particle> poolNode;   // the pool's free or active list
  LinkList<Particle> ownerNode;  // the owning segment instance's list
};

// Samples one state from a range (spawn shape for the position). Exposed for the tests.
void sampleParticleState(ParticleState& out, const ParticleStateRange& range, int shape,
                         const RenderEffectParams& params);

class ParticlePool {
 public:
  static constexpr int kMaxParticles = 2048;

  ParticlePool();
  ~ParticlePool();
  ParticlePool(const ParticlePool&) = delete;
  ParticlePool& operator=(const ParticlePool&) = delete;

  // Every particle back on the free list in index order, every owner link dropped.
  void relinkAll();
  // Never fails: an empty pool first recycles the particle that ends first.
  Particle* alloc();
  void release(Particle* particle);
  // The overflow rule: warns and releases the particle with the smallest end time.
  void reclaimOverflow();
  bool isDirty() const { return dirty_; }
  void clearDirty() { dirty_ = false; }
  // "active particles: %d" / "  free particles: %d" while "r_debugParticles" is set.
  void printStats();

  int numActive() const { return activeList_.num(); }
  int numFree() const { return freeList_.num(); }
  int indexOf(const Particle* particle) const { return int(particle - particles_); }
  Particle& at(int index) { return particles_[index]; }

 private:
  Particle particles_[kMaxParticles];
  LinkList<Particle> freeList_;
  LinkList<Particle> activeList_;
  bool dirty_ = false;
};

extern ParticlePool g_particlePool;
