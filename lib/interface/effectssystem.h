// The effects manager's interface: what the engine core and the game module call (slot order is
// fixed, the game module is handed this table), and the record the game fills for one effect. The
// one implementation is EffectsManager (effects/). Main thread only.
#pragma once

#include <cstdint>

#include "lib/matrix.h"
#include "lib/vector.h"

class DeclEffect;
class RenderModel;
struct RenderView;

// What the game hands the manager for one running effect; copied whole into the instance.
struct RenderEffectParams {
  const DeclEffect* decl = nullptr;  // null: an instance that does nothing
  int32_t entityHandle = -1;         // render entity whose model gives "useSurface" spawn points
  float startTime = 0.0f;            // seconds
  int32_t entityWord = 0;            // copied into two words of the instance's render entity
  int32_t unused0 = 0;
  float shaderParms[12] = {};
  Vec3 origin;
  Mat3 axis;
  Vec3 gravity;    // gravity direction of segments without "radialGravity"
  Vec3 endOrigin;  // target of beams and of the "useEndOrigin" forms
  int32_t unused1 = 0;
  bool draw = false;          // surfaces and geometry only when set
  bool hasEndOrigin = false;  // endOrigin is valid
  bool looping = false;       // segments restart when they end
  bool resubmitLight = false;  // lights are sent to the renderer on every update
};

// What the game's GameInterface::traceParticle writes for a particle's move.
struct ParticleTraceResult {
  float fraction = 1.0f;  // below 1: something was hit
  Vec3 endPosition;
  Vec3 normal;  // the hit surface's normal
};

class EffectsSystem {
 public:
  virtual ~EffectsSystem() = default;  // 0

  // Relinks the particle pool; true.
  virtual bool init() = 0;  // 1
  // Deletes every running effect (first in the common manager's shutdown); false.
  virtual bool shutdown() = 0;  // 2
  virtual int addEffect(const RenderEffectParams& params) = 0;  // 3
  // True when the effect has nothing alive (or the handle holds no effect). Time in milliseconds.
  virtual bool updateEffect(int handle, const RenderEffectParams& params, int timeMs) = 0;  // 4
  // No new particles; running ones live out their time.
  virtual void stopEffect(int handle) = 0;  // 5
  // Null for a handle that holds no effect.
  virtual const RenderEffectParams* getEffectParams(int handle) = 0;  // 6
  virtual void freeEffect(int handle) = 0;  // 7
  virtual bool hasSoundSegment(const DeclEffect* decl) = 0;  // 8
  virtual float reservedFloat(int) { return 0.0f; }  // 9
  // After a map load (init) and at a map unload (shutdown).
  virtual void restart() = 0;  // 10
  virtual void clear() = 0;  // 11
  // Around the per-view rebuild of "_effectsModel"; nothing to do.
  virtual void reserved12() {}  // 12
  virtual void reserved13() {}  // 13

  // --- Drawing (called once per rendered view, after the effects were updated) ---
  // Rebuilds the geometry of every drawn effect into `model` (its surfaces are replaced) for a view
  // (sprites face its axis, lines and strips its origin). The renderer's draw lists call this with
  // their own per-frame model.
  virtual void buildEffectsModel(RenderModel* model, const RenderView& view) = 0;
  // Rebuilds the manager's own "_effectsModel" for the view and keeps it in the render system as
  // one render entity, so a renderer without an effects batch draws the particles.
  virtual void submitEffectsModel(const RenderView& view) = 0;
  // "active particles" / "free particles" on screen while "r_debugParticles" is set; once per scene.
  virtual void printParticleStats() = 0;
  // The effect declaration of that name through the declaration manager (parsed on first use;
  // a name no file defines gives an effect without segments). The game module sees declarations
  // only as DeclResource: this gives it the typed pointer that RenderEffectParams::decl takes.
  virtual const DeclEffect* findEffect(const char* name) = 0;
};

inline EffectsSystem* g_effectsSystem = nullptr;
