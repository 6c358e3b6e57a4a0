// One running segment of an effect: when it starts, lives, restarts and ends, and what it does on
// each update by kind (emitters move their particles, decals project, lights stay in the renderer,
// sounds play on an emitter, view effects are handed to the game), plus its share of the effects
// model's geometry. Times are seconds of the game's clock. Main thread only.
#pragma once

#include "effects/decleffect.h"
#include "effects/particle.h"
#include "lib/interface/rendersystem.h"
#include "lib/list.h"

struct RenderEffectParams;
class SoundEmitter;
class RenderModel;

// One surface of the effects model: a material and the room its geometry needs. The list is kept
// sorted by material name (case-insensitive), one entry per material.
struct EffectSurfaceRequest {
  Material* material = nullptr;
  int numVerts = 0;
  int numIndexes = 0;
};

// The view the geometry is built for: sprites face its axis, beams and strips its origin.
struct EffectView {
  Mat3 axis;
  Vec3 origin;
};

// The request of a material: found by bisection, inserted in name order when missing.
EffectSurfaceRequest& findSurfaceRequest(List<EffectSurfaceRequest>& requests, Material* material);

class EffectSegmentInstance {
 public:
  EffectSegmentInstance();
  ~EffectSegmentInstance();
  EffectSegmentInstance(const EffectSegmentInstance&) = delete;
  EffectSegmentInstance& operator=(const EffectSegmentInstance&) = delete;

  void start(float time, const RenderEffectParams& params, const DeclEffectSegment& segment);
  // False once the segment has finished.
  bool update(float now, const RenderEffectParams& params, const DeclEffectSegment& segment);
  void stop() { stopped = true; }
  // Finished: duration -1 and every particle released.
  void finish();
  // Releases the particles whose end time is at or before lastTime (every particle when `all`).
  void expire(bool all);
  // False when the particle would outlive a segment that does not loop (it is released again).
  bool emitParticle(const RenderEffectParams& params, bool firstUpdate, const DeclEffectSegment& segment);

  // Adds this segment's counts to its material's request (nothing without particles).
  void addSurfaces(List<EffectSurfaceRequest>& requests, const DeclEffectSegment& segment) const;
  // Writes the particles into the model surface of the segment's request; false without particles.
  // Never writes past the counts its request reserved.
  bool buildGeometry(const List<EffectSurfaceRequest>& requests, RenderModel* model,
                     const RenderEffectParams& params, const DeclEffectSegment& segment, const EffectView& view);
  // The vertex and index counts this segment reserves (the rows of the reservation table).
  static void reservation(const DeclEffectSegment& segment, int numParticles, int surfaceIndex, int* numVerts,
                          int* numIndexes, Material** material);

  int numParticles() const { return particles.num(); }
  Particle* firstParticle() const { return particles.nextOwner(); }

  LinkList<Particle> particles;  // owned particles, in birth order
  float startTime = 0.0f;
  float lastTime = 0.0f;
  float duration = 0.0f;  // -1: finished
  float spawnAccumulator = 0.0f;
  bool stopped = false;
  RenderLight light;
  int lightHandle = -1;
  SoundEmitter* soundEmitter = nullptr;

 private:
  bool updateLight(float now, const RenderEffectParams& params, const DeclEffectSegment& segment);
  bool updateSound(float now, const RenderEffectParams& params, const DeclEffectSegment& segment);
  bool updateDecal(float now, const RenderEffectParams& params, const DeclEffectSegment& segment);
  bool updateView(bool firstUpdate, const RenderEffectParams& params, const DeclEffectSegment& segment);
  bool updateEmitter(float now, float dt, bool firstUpdate, const RenderEffectParams& params,
                     const DeclEffectSegment& segment);
  void lightFrame(const RenderEffectParams& params, const DeclEffectSegment& segment, Mat3& axis, Vec3& origin) const;
};

// Set once per effect update from "r_noEffectUpdate".
extern bool g_noEffectUpdate;
