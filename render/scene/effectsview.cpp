// The effects of each view: the renderer keeps its own "_effectsModel", has the effects manager
// rebuild it for every view it draws (so sprites face that view, mirrors and remote cameras
// included) and puts its surfaces into the draw lists. A game module draws particles without
// doing anything more than running its effects.
#include "lib/interface/effectssystem.h"
#include "lib/interface/renderinterface.h"
#include "lib/interface/rendermodelsystem.h"
#include "render/model/basemodel.h"
#include "render/scene/rendermanager.h"

RenderModel* RenderManager::buildViewEffectsModel(BaseModel** slot, const RenderView& view) {
  if (g_effectsSystem == nullptr || g_renderModelSystem == nullptr) {
    return nullptr;
  }
  if (*slot == nullptr) {
    // Ours alone, outside the model manager's list: no purge takes it away.
    *slot = new BaseModel();
    (*slot)->init("_effectsModel");
    (*slot)->setMode(kModelGpuBuffers);
  }
  BaseModel* model = *slot;
  g_effectsSystem->buildEffectsModel(model, view);
  if (g_renderInterface != nullptr) {
    model->uploadVertices(true);
  }
  return model;
}

void RenderManager::swapEffectsSurfaces(BaseModel* from, BaseModel* to) {
  if (from == nullptr || to == nullptr || from->numSurfaces() != to->numSurfaces()) {
    return;
  }
  const int count = from->numSurfaces();
  for (List<DrawSurface>& list : sortLists_) {
    for (DrawSurface& ds : list) {
      for (int s = 0; s < count; ++s) {
        if (ds.surface != from->getSurface(s)) {
          continue;
        }
        const ModelSurface* surface = to->getSurface(s);
        const SurfaceGeometry* g = surface->geometry;
        ds.surface = surface;
        ds.vertexBuffer = g != nullptr ? g->vertexBuffer : nullptr;
        ds.indexes = g != nullptr ? reinterpret_cast<const unsigned*>(g->indexes) : nullptr;
        ds.numIndexes = g != nullptr ? g->numIndexes : 0;
        break;
      }
    }
  }
}

void RenderManager::beginSubviewEffects(const RenderView& view) {
  if (effectsModel_ != nullptr || frameEffectsModel_ == nullptr || frameEffectsModel_->numSurfaces() == 0) {
    return;
  }
  // Built from the same effects as the main view's model, so surface i matches surface i.
  if (buildViewEffectsModel(&subviewEffectsModel_, view) != nullptr) {
    swapEffectsSurfaces(frameEffectsModel_, subviewEffectsModel_);
  }
}

void RenderManager::endSubviewEffects() {
  if (effectsModel_ == nullptr && frameEffectsModel_ != nullptr && subviewEffectsModel_ != nullptr) {
    swapEffectsSurfaces(subviewEffectsModel_, frameEffectsModel_);
  }
}

void RenderManager::freeEffectsModels() {
  delete frameEffectsModel_;
  frameEffectsModel_ = nullptr;
  delete subviewEffectsModel_;
  subviewEffectsModel_ = nullptr;
}
