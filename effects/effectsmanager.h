// The effects manager: the table of running effects addressed by handle, each a RenderEffectLocal
// with one segment instance per segment of its declaration; the per-frame effects model and the
// decal quads handed to the renderer. Main thread only.
#pragma once

#include "effects/segmentinstance.h"
#include "lib/interface/effectssystem.h"
#include "lib/interface/renderentity.h"
#include "lib/list.h"

class RenderEffectLocal {
 public:
  RenderEffectLocal() : segmentInstances(16) {}
  virtual ~RenderEffectLocal();
  RenderEffectLocal(const RenderEffectLocal&) = delete;
  RenderEffectLocal& operator=(const RenderEffectLocal&) = delete;

  void setParams(const RenderEffectParams& newParams, float startTime);
  void start(const RenderEffectParams& newParams, float time);
  // True while at least one segment is alive.
  bool update(const RenderEffectParams& newParams, float time);
  void stop();
  const RenderEffectParams& getParams() const { return params; }
  void addSurfaces(List<EffectSurfaceRequest>& requests);
  void buildGeometry(const List<EffectSurfaceRequest>& requests, RenderModel* model, const EffectView& view);

  RenderEffectParams params;
  RenderEntity renderEntity;
  // Owned. Pointers, not values: a segment's particle list head is bound to its address.
  List<EffectSegmentInstance*> segmentInstances;
  int declSerial = -1;

 private:
  void destroySegments();
};

class EffectsManager final : public EffectsSystem {
 public:
  EffectsManager() : effects_(16) {}
  ~EffectsManager() override;
  EffectsManager(const EffectsManager&) = delete;
  EffectsManager& operator=(const EffectsManager&) = delete;

  bool init() override;
  bool shutdown() override;
  int addEffect(const RenderEffectParams& params) override;
  bool updateEffect(int handle, const RenderEffectParams& params, int timeMs) override;
  void stopEffect(int handle) override;
  const RenderEffectParams* getEffectParams(int handle) override;
  void freeEffect(int handle) override;
  bool hasSoundSegment(const DeclEffect* decl) override;
  float reservedFloat(int) override { return 0.0f; }
  void restart() override { init(); }
  void clear() override { shutdown(); }
  void reserved12() override {}
  void reserved13() override {}
  void buildEffectsModel(RenderModel* model, const RenderView& view) override;
  void submitEffectsModel(const RenderView& view) override;
  void printParticleStats() override;
  const DeclEffect* findEffect(const char* name) override { return ::findEffect(name, true); }

  // The handle table (null entries are free handles), for the renderer's effects batch.
  const List<RenderEffectLocal*>& effectList() const { return effects_; }
  // The surface requests of the last build (inspection).
  const List<EffectSurfaceRequest>& lastRequests() const { return requests_; }
  // The render entity that shows the manager's own effects model, -1 when none.
  int effectsEntity() const { return entityHandle_; }
  RenderModel* effectsModel() const { return model_; }

  // A four-point decal quad handed to the renderer's decal projection.
  static void projectDecal(float time, const Vec3& origin, const Vec3& normal, float depth, bool offsetOrigin,
                           float width, float height, Material* material, float angle);

 private:
  void releaseDrawing();

  List<RenderEffectLocal*> effects_;
  List<EffectSurfaceRequest> requests_{16};
  RenderModel* model_ = nullptr;  // "_effectsModel", listed in the render-model manager
  int entityHandle_ = -1;
};

inline EffectsManager* g_effectsManager = nullptr;

// The singleton, made and initialised on first use; null when init fails.
EffectsManager* getEffectsManager();
void destroyEffectsManager();
// Reached by anything that needs the manager's start-up registration linked in.
void registerEffectsManagerFactory();
