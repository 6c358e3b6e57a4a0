// The effects manager and its running effects: handles, start and re-start on a re-parsed
// declaration, updates on the game's clock, the per-frame effects model, and decal quads.
#include "effects/effectsmanager.h"

#include <cmath>
#include <cstring>

#include "lib/interface/convarsystem.h"
#include "lib/interface/managerfactory.h"
#include "lib/interface/rendermodelsystem.h"
#include "lib/interface/rendersystem.h"
#include "lib/interface/renderview.h"

namespace {

bool createForCommon() {
  return getEffectsManager() != nullptr;
}

void shutdownForCommon() {
  if (g_effectsManager)
    g_effectsManager->shutdown();
}

const RegisterManagerFactory s_registerEffects(kManagerEffects, createForCommon, shutdownForCommon,
                                               destroyEffectsManager);

}  // namespace

void registerEffectsManagerFactory() {
  g_managerFactories[kManagerEffects].create = createForCommon;
  g_managerFactories[kManagerEffects].shutdown = shutdownForCommon;
  g_managerFactories[kManagerEffects].destroy = destroyEffectsManager;
  registerEffectDeclKind();
}

// ---------------------------------------------------------------------------------------------
// RenderEffectLocal

RenderEffectLocal::~RenderEffectLocal() {
  destroySegments();
}

void RenderEffectLocal::destroySegments() {
  for (EffectSegmentInstance* s : segmentInstances)
    delete s;
  segmentInstances.clear();
}

void RenderEffectLocal::setParams(const RenderEffectParams& newParams, float startTime) {
  const DeclEffect* decl = params.decl;
  params = newParams;
  params.startTime = startTime;
  // The running declaration stays the one looked up at start.
  if (decl)
    params.decl = decl;
  renderEntity = RenderEntity();
  renderEntity.entityIndex = -1;
  const float size = params.decl ? params.decl->getSize() : 0.0f;
  renderEntity.bounds = Bounds(params.origin - Vec3(size, size, size), params.origin + Vec3(size, size, size));
  renderEntity.reserved1[0] = params.entityWord;
  renderEntity.reserved1[1] = params.entityWord;
  std::memcpy(renderEntity.shaderParms, params.shaderParms, sizeof(renderEntity.shaderParms));
  renderEntity.axis = Mat3::identity();
  renderEntity.origin = Vec3();
}

void RenderEffectLocal::start(const RenderEffectParams& newParams, float time) {
  for (EffectSegmentInstance* s : segmentInstances)
    s->stop();
  destroySegments();
  params.decl = nullptr;
  setParams(newParams, newParams.startTime);
  if (!newParams.decl)
    return;
  // Looked up again by name, so a declaration that was purged and listed anew is the one that runs.
  // One that no declaration manager lists runs as it was handed in.
  const DeclEffect* decl = newParams.decl->decl ? findEffect(newParams.decl->getName(), true) : nullptr;
  if (!decl)
    decl = newParams.decl;
  params.decl = decl;
  declSerial = decl->getParseSerial();
  for (int i = 0; i < decl->numSegments(); i++) {
    EffectSegmentInstance* instance = new EffectSegmentInstance;
    segmentInstances.append(instance);
    instance->start(time, params, *decl->segment(i));
  }
}

bool RenderEffectLocal::update(const RenderEffectParams& newParams, float time) {
  if (segmentInstances.num() == 0)
    return false;
  const DeclEffect* decl = params.decl;
  const bool otherEffect = newParams.decl && String::icmp(newParams.decl->getName(), decl->getName()) != 0;
  if (!decl->isValid() && decl->decl)
    start(newParams, time);
  else if (decl->getParseSerial() != declSerial || otherEffect)
    start(newParams, time);
  decl = params.decl;
  if (!decl)
    return false;
  setParams(newParams, params.startTime);
  g_noEffectUpdate = g_conVarSystem && g_conVarSystem->getInt("r_noEffectUpdate") != 0;
  bool alive = false;
  const int n = segmentInstances.num() < decl->numSegments() ? segmentInstances.num() : decl->numSegments();
  for (int i = 0; i < n; i++) {
    EffectSegmentInstance* instance = segmentInstances[i];
    if (instance->update(time, params, *decl->segment(i)))
      alive = true;
    else
      instance->finish();
  }
  return alive;
}

void RenderEffectLocal::stop() {
  for (EffectSegmentInstance* s : segmentInstances)
    s->stop();
}

void RenderEffectLocal::addSurfaces(List<EffectSurfaceRequest>& requests) {
  const DeclEffect* decl = params.decl;
  if (!decl || !params.draw)
    return;
  const int n = segmentInstances.num() < decl->numSegments() ? segmentInstances.num() : decl->numSegments();
  for (int i = 0; i < n; i++)
    segmentInstances[i]->addSurfaces(requests, *decl->segment(i));
}

void RenderEffectLocal::buildGeometry(const List<EffectSurfaceRequest>& requests, RenderModel* model,
                                      const EffectView& view) {
  const DeclEffect* decl = params.decl;
  if (!decl || !params.draw)
    return;
  const int n = segmentInstances.num() < decl->numSegments() ? segmentInstances.num() : decl->numSegments();
  for (int i = 0; i < n; i++)
    segmentInstances[i]->buildGeometry(requests, model, params, *decl->segment(i), view);
}

// ---------------------------------------------------------------------------------------------
// EffectsManager

EffectsManager::~EffectsManager() {
  shutdown();
  releaseDrawing();
}

bool EffectsManager::init() {
  g_particlePool.relinkAll();
  return true;
}

bool EffectsManager::shutdown() {
  for (RenderEffectLocal*& e : effects_) {
    delete e;
    e = nullptr;
  }
  effects_.clear();
  g_particlePool.relinkAll();
  // A map change frees the render entities; ours is made again by the next submit.
  if (entityHandle_ >= 0 && g_renderSystem) {
    const RenderEntity* e = g_renderSystem->getRenderEntity(entityHandle_);
    if (e && e->model == model_)
      g_renderSystem->freeEntityDef(entityHandle_);
  }
  entityHandle_ = -1;
  return false;
}

void EffectsManager::releaseDrawing() {
  if (model_ && g_renderModelSystem)
    delete model_;  // not listed: ours alone
  model_ = nullptr;
  requests_.clear();
}

int EffectsManager::addEffect(const RenderEffectParams& params) {
  int handle = -1;
  for (int i = 0; i < effects_.num(); i++) {
    if (!effects_[i]) {
      handle = i;
      break;
    }
  }
  if (handle < 0)
    handle = effects_.append(nullptr);
  RenderEffectLocal* local = new RenderEffectLocal;
  effects_[handle] = local;
  local->start(params, params.startTime);
  return handle;
}

bool EffectsManager::updateEffect(int handle, const RenderEffectParams& params, int timeMs) {
  if (handle < 0 || handle >= effects_.num() || !effects_[handle])
    return true;
  return !effects_[handle]->update(params, float(timeMs) / 1000.0f);
}

void EffectsManager::stopEffect(int handle) {
  if (handle < 0 || handle >= effects_.num() || !effects_[handle])
    return;
  effects_[handle]->stop();
}

const RenderEffectParams* EffectsManager::getEffectParams(int handle) {
  if (handle < 0 || handle >= effects_.num() || !effects_[handle])
    return nullptr;
  return &effects_[handle]->getParams();
}

void EffectsManager::freeEffect(int handle) {
  if (handle < 0 || handle >= effects_.num())
    return;
  delete effects_[handle];
  effects_[handle] = nullptr;
  while (effects_.num() > 0 && !effects_[effects_.num() - 1])
    effects_.removeIndex(effects_.num() - 1);
}

bool EffectsManager::hasSoundSegment(const DeclEffect* decl) {
  if (!decl)
    return false;
  for (int i = 0; i < decl->numSegments(); i++) {
    if (decl->segment(i)->type == kSegmentSound)
      return true;
  }
  return false;
}

void EffectsManager::buildEffectsModel(RenderModel* model, const RenderView& view) {
  if (!model)
    return;
  reserved12();
  requests_.clear();
  for (RenderEffectLocal* e : effects_) {
    if (e)
      e->addSurfaces(requests_);
  }
  const String name = model->name();
  model->init(name.c_str());
  for (const EffectSurfaceRequest& r : requests_) {
    // A refused size keeps its (empty) surface so surface and request indexes stay aligned.
    SurfaceGeometry* g = model->allocGeometry(r.numVerts, r.numIndexes);
    if (g) {
      g->numVerts = 0;
      g->numIndexes = 0;
      g->bounds.clear();
    }
    model->addSurface({r.material, g, -1});
  }
  const EffectView effectView{view.axis, view.origin};
  for (RenderEffectLocal* e : effects_) {
    if (e)
      e->buildGeometry(requests_, model, effectView);
  }
  reserved13();
}

void EffectsManager::submitEffectsModel(const RenderView& view) {
  if (!g_renderSystem || !g_renderModelSystem)
    return;
  if (!model_) {
    // Ours alone: unlisted, so no model purge of the manager can take it away.
    model_ = g_renderModelSystem->allocEmptyModel();
    if (!model_)
      return;
    g_renderModelSystem->removeModel(model_);
    model_->init("_effectsModel");
  }
  buildEffectsModel(model_, view);
  if (model_->numSurfaces() == 0) {
    // An empty model reads as "not loaded" and would be reloaded from a file of its name.
    model_->addSurface({nullptr, model_->allocGeometry(0, 0), -1});
  }
  RenderEntity entity;
  entity.model = model_;
  entity.axis = Mat3::identity();
  entity.noShadows = 1;
  for (int i = 0; i < 4; i++)
    entity.shaderParms[i] = 1.0f;
  entity.bounds.clear();
  for (int s = 0; s < model_->numSurfaces(); s++) {
    const SurfaceGeometry* g = model_->getSurface(s)->geometry;
    if (g && g->numVerts > 0)
      entity.bounds.addBounds(g->bounds);
  }
  const RenderEntity* current = entityHandle_ >= 0 ? g_renderSystem->getRenderEntity(entityHandle_) : nullptr;
  if (current && current->model == model_)
    g_renderSystem->updateEntityDef(entityHandle_, &entity);
  else
    entityHandle_ = g_renderSystem->addEntityDef(&entity);
}

void EffectsManager::printParticleStats() {
  g_particlePool.printStats();
}

void EffectsManager::projectDecal(float time, const Vec3& origin, const Vec3& normal, float depth, bool offsetOrigin,
                                  float width, float height, Material* material, float angle) {
  if (!g_renderSystem)
    return;
  const float hw = width * 0.5f;
  const float hh = height * 0.5f;
  const float radians = angle * 0.0174532925199f;
  const float c = std::cos(radians);
  const float s = std::sin(radians);
  Vec3 n = normal;
  n.normalizeFast();
  const float xy = n.x * n.x + n.y * n.y;
  Vec3 right(1.0f, 0.0f, 0.0f);
  if (xy != 0.0f) {
    right = Vec3(-n.y, n.x, 0.0f);
    right.normalizeFast();
  }
  const Vec3 up = right.cross(n);
  const Vec3 a1 = right * c - up * s;
  const Vec3 a2 = -(right * s + up * c);
  const Vec3 centre = origin + n * depth;
  const Vec3 projection = offsetOrigin ? origin - n * depth : origin;
  const float corners[4][4] = {{hw, hh, 1.0f, 1.0f}, {-hw, hh, 0.0f, 1.0f}, {-hw, -hh, 0.0f, 0.0f}, {hw, -hh, 1.0f, 0.0f}};
  float winding[4][5];
  for (int i = 0; i < 4; i++) {
    const Vec3 p = centre + a1 * corners[i][0] + a2 * corners[i][1];
    winding[i][0] = p.x;
    winding[i][1] = p.y;
    winding[i][2] = p.z;
    winding[i][3] = corners[i][2];
    winding[i][4] = corners[i][3];
  }
  const double ms = double(time) * 1000.0;
  const int timeMs = std::isfinite(ms) && std::fabs(ms) < 2.0e9 ? int(ms) : 0;
  g_renderSystem->projectDecal(winding, projection, offsetOrigin, depth * 0.5f, material, timeMs);
}

EffectsManager* getEffectsManager() {
  if (!g_effectsManager) {
    registerEffectDeclKind();
    EffectsManager* manager = new EffectsManager;
    g_effectsManager = manager;
    g_effectsSystem = manager;
    if (!manager->init()) {
      delete manager;
      g_effectsManager = nullptr;
      g_effectsSystem = nullptr;
      return nullptr;
    }
  }
  return g_effectsManager;
}

void destroyEffectsManager() {
  delete g_effectsManager;
  g_effectsManager = nullptr;
  g_effectsSystem = nullptr;
}
