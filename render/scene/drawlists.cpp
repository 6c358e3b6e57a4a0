// Draw-list batching: once per view the render manager gathers the visible world surfaces, the
// surfaces of visible entities (their instance models brought up to date, as a job set when there
// are enough of them), the static batch, decals, lights and fog volumes, and effects into 16 sort
// lists; plus the per-frame pool of render-to-texture targets.
//
// Sections: entity update (pre-pass, jobs, post-pass), buildDrawLists, addDrawSurface and the list
// filters, lights, the batch model, the render-map pool.
#include <cstdio>
#include <cstring>

#include "lib/interface/cmdsystem.h"
#include "lib/interface/convarsystem.h"
#include "lib/interface/texmanager.h"
#include "lib/threadmanager.h"
#include "render/backend/framebufferopengl.h"
#include "render/material/expression.h"
#include "render/material/material.h"
#include "render/model/basemodel.h"
#include "render/scene/deforms.h"
#include "render/scene/rendermanager.h"

static ConVar r_smpD("r_smp", "1", 0x22011, "enable symmetrical multiprocessing");
static ConVar r_skipLightsD("r_skipLights", "0", 0x11, "render only ambient geometry");
static ConVar r_singlelightD("r_singlelight", "-1", 0x2012);
static ConVar r_skipAmbientLightsD("r_skipAmbientLights", "0", 0x20011, "skip rendering of ambient lights");
static ConVar r_renderEntityBoundsD("r_renderEntityBounds", "0", 0x11);
static ConVar r_shadowsD("r_shadows", "1", 0x20011);
static ConVar r_lightqualityD("r_lightquality", "2", 0x30012, "0=lightmap, 1=hybrid, 2=dynamic", 0.0f, 2.0f);

namespace {

constexpr int kJobSetThreshold = 4;  // more rebuilding entities than this update as a job set
constexpr int kLargestRenderMap = 4096;

// Deform inputs of one frame, evaluated on the main thread before the entity jobs start; the jobs
// only read them. One entry per (entity, deforming material).
struct DeformEntry {
  const RenderEntity* entity;
  const Material* material;
  DeformInput input;
};
List<DeformEntry> s_deforms{16};
Mat3 s_deformViewAxis;
Vec3 s_deformViewOrigin;

// The deform step of instance building outside the entity update (installed into the model code;
// the update's jobs apply their deforms themselves).
void sceneSurfaceDeform(ModelSurface* surface, const RenderEntity* entity) {
  const Material* m = surface != nullptr ? surface->material : nullptr;
  if (m == nullptr || !m->hasDeform()) {
    return;
  }
  (void)entity;
  // Outside a view's entity update (a vertex query on the main thread): evaluate now.
  applyDeform(deformInputOf(m), surface->geometry, s_deformViewAxis, s_deformViewOrigin);
}

struct EntityJobSet {
  RenderManager::EntityRecord** records;
  const uint8_t* rebuild;
  const int* firstDeform;  // per entity: its first entry in s_deforms (entries follow in surface order)
};

// Only computes: the instance copy of this one entity is rewritten from its parameters. Loading,
// material resolution and deform registers were settled by the pre-pass; uploads wait for the
// post-pass on the main thread.
void updateEntityJob(ThreadJob* job, int index) {
  const EntityJobSet* set = static_cast<const EntityJobSet*>(job->user);
  if (!set->rebuild[index]) {
    return;
  }
  RenderManager::EntityRecord* record = set->records[index];
  if (record->dirtyCount > 0) {
    record->dirtyCount--;
  }
  BaseModel* instance = record->instanceModel;
  instance->buildInstance(&record->parms);
  // The deforms with the registers the pre-pass evaluated for this entity.
  int next = set->firstDeform[index];
  for (int s = 0; s < instance->numSurfaces() && next < s_deforms.num(); ++s) {
    ModelSurface* surface = instance->getSurface(s);
    const DeformEntry& e = s_deforms[next];
    if (e.entity == &record->parms && e.material == surface->material) {
      applyDeform(e.input, surface->geometry, s_deformViewAxis, s_deformViewOrigin);
      ++next;
    }
  }
}

// Thousands of entities' records do not stay in the cache from one pass over them to the next: each
// pass asks for the records a few entries ahead of the one it works on.
constexpr int kPrefetchDistance = 32;

void prefetchAhead(const List<RenderManager::EntityRecord*>& records, int i) {
  if (i + kPrefetchDistance < records.num()) {
    __builtin_prefetch(records[i + kPrefetchDistance]);
  }
}

// The record further ahead, and the instance model of the one half as far (its record asked for
// earlier).
void prefetchInstanceAhead(const List<RenderManager::EntityRecord*>& records, int i) {
  prefetchAhead(records, i);
  if (i + kPrefetchDistance / 2 < records.num() && records[i + kPrefetchDistance / 2] != nullptr) {
    __builtin_prefetch(records[i + kPrefetchDistance / 2]->instanceModel);
  }
}

float distanceSqrToCenter(const Vec3& origin, const DrawSurface& ds) {
  const SurfaceGeometry* g = ds.surface != nullptr ? ds.surface->geometry : nullptr;
  if (g == nullptr) {
    return 0.0f;
  }
  return (g->bounds.center() - origin).lengthSqr();
}

float distanceToBounds(const Vec3& p, const Bounds& b) {
  Vec3 d;
  for (int i = 0; i < 3; ++i) {
    d[i] = p[i] < b.mins[i] ? b.mins[i] - p[i] : (p[i] > b.maxs[i] ? p[i] - b.maxs[i] : 0.0f);
  }
  return d.length();
}

}  // namespace

// --- Entity update ---

void RenderManager::computeEntityAreas(EntityRecord* record) {
  record->numAreas = 0;
  record->worldBounds.clear();
  if (record->parms.model == nullptr) {
    return;
  }
  record->parms.model->getBounds(record->worldBounds, &record->parms);
  if (g_spatialSystem != nullptr && !record->worldBounds.isCleared()) {
    const int n = g_spatialSystem->areasInBounds(record->worldBounds, record->areas, 16);
    record->numAreas = n < 0 ? 0 : (n > 16 ? 16 : n);
  }
}

void RenderManager::updateEntities(List<EntityRecord*>& collected) {
  g_surfaceDeform = &sceneSurfaceDeform;
  s_deforms.setNum(0);
  s_deformViewAxis = view_.axis;
  s_deformViewOrigin = view_.origin;
  // Pre-pass (main thread): loading, material resolution, deform registers and the rebuild flags.
  List<uint8_t> rebuild(16);
  List<int> firstDeform(16);
  rebuild.setNum(collected.num());
  firstDeform.setNum(collected.num());
  int firstRebuilt = collected.num();
  for (int i = 0; i < collected.num(); ++i) {
    EntityRecord* record = collected[i];
    prefetchInstanceAhead(collected, i);
    RenderModel* model = record->parms.model;
    rebuild[i] = 0;
    firstDeform[i] = s_deforms.num();
    if (model == nullptr || record->instanceModel == nullptr) {
      if (firstRebuilt == collected.num()) {
        listEntitySurfaces(record);
      }
      continue;
    }
    if (!model->isLoaded()) {
      model->reload();
    }
    // A reloaded model whose geometry no longer matches the instance gets a fresh copy.
    matchInstance(record, record->parms.entityIndex);
    // The owner's callback poses the entity for this view (on the main thread: game code).
    if (record->parms.callback != nullptr && record->parms.callback(&record->parms, &view_)) {
      record->dirtyCount = 1;
    }
    bool deforms = false;
    for (int s = 0; s < model->numSurfaces(); ++s) {
      Material* m = model->resolveSurfaceMaterial(s, record->parms.customMaterial, record->parms.skin2,
                                                  record->parms.skin);
      if (m == nullptr) {
        continue;
      }
      m->ensureLoaded();
      if (m->hasDeform()) {
        deforms = true;
        // Registers may read the entity's parameters.
        setExpressionParms(record->parms.shaderParms);
        s_deforms.append({&record->parms, m, deformInputOf(m)});
      }
    }
    rebuild[i] = uint8_t(record->dirtyCount >= 1 || deforms);
    // Until the first entity that rebuilds, nothing waits for the jobs: each is listed while its
    // records are still in the cache, in the same order the post-pass would list it.
    if (firstRebuilt == collected.num()) {
      if (rebuild[i]) {
        firstRebuilt = i;
      } else {
        listEntitySurfaces(record);
      }
    }
  }
  g_renderBackEnd.setDrawSurface(nullptr);
  // Jobs: compute only.
  ThreadJob job;
  EntityJobSet set{collected.ptr(), rebuild.ptr(), firstDeform.ptr()};
  job.count = collected.num();
  job.user = &set;
  job.fn = &updateEntityJob;
  lastJobSetSize_ = 0;
  // The jobs apply the deforms themselves (with the pre-pass registers), not the model's hook.
  g_surfaceDeform = nullptr;
  // Only entities that rebuild do any work: waking the workers for a frame where none (or few) do
  // costs more than it saves.
  int rebuilding = 0;
  for (int i = 0; i < collected.num(); ++i) {
    rebuilding += rebuild[i];
  }
  if (r_smpD.getBool() && rebuilding > kJobSetThreshold && g_threadManager != nullptr) {
    lastJobSetSize_ = collected.num();
    static_cast<ThreadManagerWin32*>(g_threadManager)->run(&job, false);
  } else {
    for (int i = 0; i < collected.num(); ++i) {
      updateEntityJob(&job, i);
    }
  }
  g_surfaceDeform = &sceneSurfaceDeform;
  // Post-pass (main thread, collection order): uploads, then the surfaces go to the lists.
  for (int i = firstRebuilt; i < collected.num(); ++i) {
    prefetchInstanceAhead(collected, i);
    listEntitySurfaces(collected[i]);
  }
}

void RenderManager::listEntitySurfaces(EntityRecord* record) {
  BaseModel* instance = record->instanceModel;
  if (instance == nullptr) {
    return;
  }
  instance->uploadVertices(false);
  for (int s = 0; s < instance->numSurfaces(); ++s) {
    addDrawSurface(instance->getSurface(s), &record->parms);
  }
  if (r_renderEntityBoundsD.getBool()) {
    static const float kBlue[4] = {0, 0, 1, 1};
    static const float kCyan[4] = {0, 1, 1, 1};
    static const float kMagenta[4] = {1, 0, 1, 1};
    debugBounds(kBlue, Bounds::fromSize(4.0f), record->parms.origin, false, 0, true);
    debugBounds(kCyan, record->worldBounds.expanded(4.0f), Vec3(), false, 0, true);
    for (int s = 0; s < instance->numSurfaces(); ++s) {
      const SurfaceGeometry* g = instance->getSurface(s)->geometry;
      if (g != nullptr) {
        debugBounds(kMagenta, g->bounds, Vec3(), false, 0, true);
      }
    }
  }
}

// --- buildDrawLists ---

void RenderManager::fillSpatialView(SpatialView* out) const {
  const BackEndViewState& vs = g_renderBackEnd.viewState();
  out->origin = view_.origin;
  for (int i = 0; i < 6; ++i) {
    out->frustum[i] = vs.frustum[i];
  }
  std::memcpy(out->modelView, vs.modelView.m, sizeof(out->modelView));
  std::memcpy(out->projection, vs.projection.m, sizeof(out->projection));
  out->viewDistance = 64000.0f;
}

void RenderManager::buildDrawLists() {
  // 1. View set-up: the back end derives the matrices and planes (the caller pushes them).
  g_renderBackEnd.applyViewMatrices();
  SpatialView spatialView;
  fillSpatialView(&spatialView);

  // 2-3. Visible areas, widened by entities' remote views.
  visibleAreas_.resize(0);
  extraAreas_.resize(0);
  if (g_spatialSystem != nullptr) {
    const int numAreas = g_spatialSystem->getNumAreas();
    visibleAreas_.resize(numAreas);
    extraAreas_.resize(numAreas);
    List<int> areas(16);
    areas.setNum(numAreas > 0 ? numAreas : 1);
    const int count = g_spatialSystem->areasVisibleFromView(&spatialView, areas.ptr(), numAreas);
    for (int i = 0; i < count; ++i) {
      if (areas[i] >= 0 && areas[i] < numAreas) {
        visibleAreas_.bytes[areas[i] >> 3] |= uint8_t(1 << (areas[i] & 7));
      }
    }
    for (EntityRecord* record : entities_) {
      if (record == nullptr || record->parms.remoteView == nullptr) {
        continue;
      }
      bool seen = record->numAreas == 0;
      for (int a = 0; a < record->numAreas && !seen; ++a) {
        seen = visibleAreas_.test(record->areas[a]);
      }
      if (!seen) {
        continue;
      }
      const Vec3 o = record->parms.remoteView->origin;
      const Bounds everywhere(Vec3(-65536, -65536, -65536), Vec3(65536, 65536, 65536));
      const int n = g_spatialSystem->pointToArea(&o.x) < 0
                        ? g_spatialSystem->areasInBounds(Bounds(o, o).expanded(1.0f), areas.ptr(), numAreas)
                        : g_spatialSystem->areasVisibleFromPoint(o, everywhere, areas.ptr(), numAreas);
      for (int i = 0; i < n; ++i) {
        if (areas[i] >= 0 && areas[i] < numAreas) {
          extraAreas_.bytes[areas[i] >> 3] |= uint8_t(1 << (areas[i] & 7));
        }
      }
    }
    for (int i = 0; i < visibleAreas_.bytes.num(); ++i) {
      visibleAreas_.bytes[i] |= extraAreas_.bytes[i];
    }
  }

  // 4. Empty lists.
  clearDrawLists();

  // 5. World surfaces of the visible areas.
  if (g_spatialSystem != nullptr) {
    g_spatialSystem->computeAreaScreenRects(&spatialView);
    SurfaceList world(64);
    g_spatialSystem->surfacesVisibleFromView(&world, &spatialView, visibleAreas_);
    for (ModelSurface* surface : world) {
      if (surface != nullptr && (surface->id < 0 || visibleAreas_.test(surface->id))) {
        addDrawSurface(surface, nullptr);
      }
    }
  }

  // 6. Entities, the batch model, decals, lights, effects.
  collected_.setNum(0);
  for (int i = 0; i < entities_.num(); ++i) {
    EntityRecord* record = entities_[i];
    prefetchAhead(entities_, i);
    // View ids are tested by each pass (selectDrawSurfaces): a mirror's view shows entities the
    // main view suppresses.
    if (record == nullptr || record->parms.model == nullptr || record->instanceModel == nullptr) {
      continue;
    }
    bool batched = false;
    for (int b : batchedEntities_) {
      batched = batched || (b >= 0 && b < entities_.num() && entities_[b] == record);
    }
    if (batched) {
      continue;
    }
    bool seen = record->numAreas == 0 || g_spatialSystem == nullptr;
    for (int a = 0; a < record->numAreas && !seen; ++a) {
      seen = visibleAreas_.test(record->areas[a]);
    }
    if (seen) {
      collected_.append(record);
    }
  }
  updateEntities(collected_);
  projectBlobShadows();
  buildBatchModel();
  addDecalSurfaces();
  cullLights();
  // The effects of this view: a model set from outside, else the renderer's own, rebuilt for this
  // view so sprites face it.
  RenderModel* effects = effectsModel_;
  if (effects == nullptr) {
    effects = buildViewEffectsModel(&frameEffectsModel_, view_);
  }
  if (effects != nullptr) {
    effectsEntity_ = RenderEntity();
    effectsEntity_.noShadows = 1;
    for (int i = 0; i < 4; ++i) {
      effectsEntity_.shaderParms[i] = 1.0f;
    }
    for (int s = 0; s < effects->numSurfaces(); ++s) {
      const ModelSurface* surface = effects->getSurface(s);
      const SurfaceGeometry* g = surface != nullptr ? surface->geometry : nullptr;
      if (g != nullptr && g->numVerts > 0 && g->numIndexes > 0) {
        addDrawSurface(surface, &effectsEntity_);
      }
    }
  }
}

// --- addDrawSurface and the list filters ---

const DrawSurface* RenderManager::addDrawSurface(const ModelSurface* surface, const RenderEntity* entity) {
  if (surface == nullptr || surface->material == nullptr) {
    return nullptr;
  }
  Material* material = surface->material;
  material->ensureLoaded();
  DrawSurface ds;
  ds.entity = entity;
  ds.surface = surface;
  if (entity != nullptr) {
    std::memcpy(ds.shaderParms, entity->shaderParms, sizeof(ds.shaderParms));
  }
  ds.depthHack = int8_t(entityDepthHack(entity));
  ds.area = surface->id;
  ds.material = material;
  const SurfaceGeometry* g = surface->geometry;
  ds.geometry = g;
  if (g != nullptr) {
    ds.vertexBuffer = g->vertexBuffer;
    ds.indexes = reinterpret_cast<const unsigned*>(g->indexes);
    ds.numIndexes = g->numIndexes;
  }
  if (material->extraFlags & kExtraPostProcess) {
    postProcess_ = true;
  }
  if (material->deformType == kDeformFlare) {
    const int i = bloomFlareList_.append(ds);
    return &bloomFlareList_[i];
  }
  if (material->getBloomStage() != nullptr) {
    bloomFlareList_.append(ds);
  }
  const int sort = material->getSort();
  List<DrawSurface>& list = sortLists_[sort <= 0 ? 0 : (sort >= kNumSortLists - 1 ? kNumSortLists - 1 : sort)];
  if (material->getSurfaceFlags() & kMaterialTranslucent) {
    // Farthest first; a new surface precedes one at the same distance.
    const float d = distanceSqrToCenter(view_.origin, ds);
    int at = list.num();
    for (int i = 0; i < list.num(); ++i) {
      if (!(distanceSqrToCenter(view_.origin, list[i]) > d)) {
        at = i;
        break;
      }
    }
    list.insert(ds, at);
    return &list[at];
  }
  const int i = list.append(ds);
  return &list[i];
}

void RenderManager::clearDrawLists() {
  for (List<DrawSurface>& list : sortLists_) {
    list.setNum(0);
  }
  bloomFlareList_.setNum(0);
  visibleDrawList_.setNum(0);
  visibleLights_.setNum(0);
  visibleFogs_.setNum(0);
  postProcess_ = false;
}

bool RenderManager::surfaceInFrustum(const DrawSurface& ds) const {
  const SurfaceGeometry* g = ds.surface != nullptr ? ds.surface->geometry : nullptr;
  if (g == nullptr || g->bounds.isCleared()) {
    return false;
  }
  const BackEndViewState& vs = g_renderBackEnd.viewState();
  const Vec3 c = g->bounds.center();
  const Vec3 h = g->bounds.halfSize();
  for (const Plane& p : vs.frustum) {
    const Vec3 n = p.normal();
    const float r = std::fabs(n.x) * h.x + std::fabs(n.y) * h.y + std::fabs(n.z) * h.z;
    if (p.distance(c) - r > 0.0f) {
      return false;
    }
  }
  return true;
}

void RenderManager::selectDrawSurfaces(bool lightVisibility, bool renderMapPass) {
  visibleDrawList_.setNum(0);
  const uint32_t viewFlags = g_renderBackEnd.viewFlags();
  for (const List<DrawSurface>& list : sortLists_) {
    for (const DrawSurface& ds : list) {
      const Material* m = ds.material;
      bool rendersMap = false;
      for (int s = 0; s < m->getNumStages() && !rendersMap; ++s) {
        rendersMap = (m->getStage(s)->flags & kStageRenderMap) != 0;
      }
      if (renderMapPass ? !rendersMap : ((viewFlags & kViewFlagNoScreenCopy) != 0 && rendersMap)) {
        continue;
      }
      if (ds.entity != nullptr && ((ds.entity->suppressInViewId && ds.entity->suppressInViewId == view_.viewId) ||
                                   (ds.entity->allowOnlyInViewId && ds.entity->allowOnlyInViewId != view_.viewId))) {
        continue;
      }
      if (lightVisibility) {
        const bool interactions = m->hasInteractionStages();
        if ((viewFlags & (kViewFlagLit | kViewFlagAmbient)) != 0 &&
            !((interactions && (viewFlags & kViewFlagLit)) || (!interactions && (viewFlags & kViewFlagAmbient)))) {
          continue;
        }
        const bool casts = ds.entity == nullptr || ds.entity->noShadows == 0;
        if (!r_shadowsD.getBool() || (viewFlags & kViewFlagMirror) != 0 || r_lightqualityD.getInt() == 0 ||
            (m->getSurfaceFlags() & kMaterialNoShadows) != 0 || !casts || !interactions) {
          if (!surfaceInFrustum(ds) || !setScissorForLight(nullptr, ds.surface->id)) {
            continue;
          }
        } else {
          bool touched = false;
          for (int index : visibleLights_) {
            const LightRecord* l = lights_[index];
            const bool castsShadows = (l->parms.flags & kLightShadows) != 0;
            if ((castsShadows || surfaceInFrustum(ds)) && surfaceTouchesLight(ds, *l)) {
              touched = true;
              break;
            }
          }
          if (!touched) {
            continue;
          }
        }
      }
      visibleDrawList_.append(&ds);
    }
  }
}

// --- Lights ---

void RenderManager::cullLights() {
  visibleLights_.setNum(0);
  visibleFogs_.setNum(0);
  for (int i = 0; i < lights_.num(); ++i) {
    LightRecord* l = lights_[i];
    if (l == nullptr) {
      continue;
    }
    l->state = uint8_t(l->state & ~kLightVisible);
    const bool fog = l->parms.kind == 2;
    if (r_skipLightsD.getBool() && !fog) {
      continue;
    }
    if (r_singlelightD.getInt() >= 0 && r_singlelightD.getInt() != i) {
      continue;
    }
    if (r_skipAmbientLightsD.getBool() && (l->parms.flags & kLightAmbient) != 0 && !fog) {
      continue;
    }
    if (l->parms.suppressInViewId && l->parms.suppressInViewId == view_.viewId) {
      continue;
    }
    if (g_spatialSystem != nullptr) {
      updateLightInteractions(i);  // the light's areas
      bool seen = false;
      if (l->numAreas > 0) {
        for (int a = 0; a < l->numAreas && !seen; ++a) {
          seen = visibleAreas_.test(l->areas[a]);
        }
      } else {
        seen = g_spatialSystem->boundsTouchAreaMask(visibleAreas_, l->parms.bounds);
      }
      if (!seen) {
        continue;
      }
    }
    l->state |= kLightVisible;
    if (!fog) {
      visibleLights_.append(i);
      continue;
    }
    const float d = distanceToBounds(view_.origin, l->parms.bounds);
    int at = visibleFogs_.num();
    for (int k = 0; k < visibleFogs_.num(); ++k) {
      if (!(visibleFogs_[k].distance > d)) {
        at = k;
        break;
      }
    }
    visibleFogs_.insert({i, d}, at);
  }
}

// --- The batch model ---

void RenderManager::setBatchedEntities(const int* indexes, int count) {
  batchedEntities_.setNum(0);
  for (int i = 0; i < count && indexes != nullptr; ++i) {
    batchedEntities_.append(indexes[i]);
  }
}

void RenderManager::buildBatchModel() {
  if (batchedEntities_.num() == 0 || g_renderModelSystem == nullptr) {
    return;
  }
  // One batch per material: vertices in world space, indexes offset by the batch's vertex count.
  struct Batch {
    Material* material;
    List<DrawVertex> verts{2048};
    List<int> indexes{2048};
  };
  List<Batch*> batches(16);
  for (int index : batchedEntities_) {
    EntityRecord* record = index >= 0 && index < entities_.num() ? entities_[index] : nullptr;
    RenderModel* model = record != nullptr ? record->parms.model : nullptr;
    if (model == nullptr || !entityInView(*record, view_)) {
      continue;
    }
    if (!model->isLoaded()) {
      model->reload();
    }
    if (record->parms.callback != nullptr) {
      record->parms.callback(&record->parms, &view_);
    }
    Mat4 joints[1];
    model->computeJointMatrices(joints, &record->parms);
    for (int s = 0; s < model->numSurfaces(); ++s) {
      const SurfaceGeometry* g = model->getSurface(s)->geometry;
      Material* m = model->resolveSurfaceMaterial(s, record->parms.customMaterial, record->parms.skin2,
                                                  record->parms.skin);
      if (g == nullptr || m == nullptr || g->numVerts <= 0) {
        continue;
      }
      Batch* batch = nullptr;
      for (Batch* b : batches) {
        batch = b->material == m ? b : batch;
      }
      if (batch == nullptr) {
        batch = new Batch();
        batch->material = m;
        batches.append(batch);
      }
      const int base = batch->verts.num();
      batch->verts.setNum(base + g->numVerts);
      // The joint matrix places the vertices in the world.
      model->transformSurfaceVertices(batch->verts.ptr() + base, joints, 1, s);
      for (int i = 0; i < g->numIndexes; ++i) {
        batch->indexes.append(g->indexes[i] + base);
      }
    }
  }
  if (batchModel_ == nullptr) {
    batchModel_ = static_cast<BaseModel*>(g_renderModelSystem->allocEmptyModel());
    batchModel_->setMode(kModelGpuBuffers);
  }
  batchModel_->init("_batchModel");
  for (Batch* batch : batches) {
    SurfaceGeometry* g = batchModel_->allocGeometryForMode(batch->verts.num(), batch->indexes.num(),
                                                           kGeometryVertices | kGeometryIndexes,
                                                           g_renderInterface != nullptr);
    if (g != nullptr) {
      std::memcpy(g->verts, batch->verts.ptr(), sizeof(DrawVertex) * size_t(batch->verts.num()));
      std::memcpy(g->indexes, batch->indexes.ptr(), sizeof(int) * size_t(batch->indexes.num()));
      g->numVerts = batch->verts.num();
      g->numIndexes = batch->indexes.num();
      g->bounds.clear();
      for (int v = 0; v < g->numVerts; ++v) {
        g->bounds.addPoint(Vec3(g->verts[v].xyz[0], g->verts[v].xyz[1], g->verts[v].xyz[2]));
      }
      applyDeform(deformInputOf(batch->material), g, view_.axis, view_.origin);
      batchModel_->addSurface({batch->material, g, -1});
    }
    delete batch;
  }
  for (int s = 0; s < batchModel_->numSurfaces(); ++s) {
    addDrawSurface(batchModel_->getSurface(s), nullptr);
    if (r_renderEntityBoundsD.getBool()) {
      static const float kMagenta[4] = {1, 0, 1, 1};
      debugBounds(kMagenta, batchModel_->getSurface(s)->geometry->bounds, Vec3(), false, 0, true);
    }
  }
}

// --- The render-map pool ---

FrameBufferOpenGL* RenderManager::acquireRenderMap(const char* name, int width, int height) {
  char generated[32];
  if (name == nullptr) {
    std::snprintf(generated, sizeof(generated), "_renderMap_%d", renderMapPoolUsed_);
    name = generated;
  }
  const ImageInterface* screen = g_currentRenderImage;
  if (width <= 0) {
    width = screen != nullptr && screen->info.width > 0 ? screen->info.width : 256;
  }
  if (height <= 0) {
    height = screen != nullptr && screen->info.height > 0 ? screen->info.height : 256;
  }
  width = width > kLargestRenderMap ? kLargestRenderMap : width;
  height = height > kLargestRenderMap ? kLargestRenderMap : height;
  FrameBufferOpenGL* target = nullptr;
  if (renderMapPoolUsed_ >= renderMapPool_.num()) {
    // One RGB colour image without mipmaps, clamped, nearest filtered (image flags 0x8046).
    target = new FrameBufferOpenGL(name, width, height, 1, kPixelFormatRGB, 0x8046);
    if (target->getColorTarget(0) == nullptr) {
      delete target;
      return nullptr;
    }
    renderMapPool_.append(target);
  } else {
    target = renderMapPool_[renderMapPoolUsed_];
    const char* current = target->getColorTargetName(0);
    if (target->targetWidth() != width || target->targetHeight() != height || current == nullptr ||
        std::strcmp(current, name) != 0) {
      target->resize(name, width, height, 1);
    }
  }
  renderMapPoolUsed_++;
  return target;
}

FrameBufferOpenGL* RenderManager::acquireRenderMapForImage(ImageInterface* image) {
  if (image == nullptr) {
    return nullptr;
  }
  FrameBufferOpenGL* target = acquireRenderMap(image->name, image->info.width, image->info.height);
  if (target != nullptr) {
    target->attachColorTargets(&image, 1);
  }
  return target;
}
