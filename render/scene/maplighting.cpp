// The map's baked light as the render manager takes it up: the lighting materials looked up
// (without defaults: a missing one switches its pass off), and the spatial system's light maps
// and light grid loaded after a map load and after a video restart; the world's models freed on
// map unload.
#include "lib/interface/spatialsystem.h"
#include "render/material/material.h"
#include "render/model/worldrendermodels.h"
#include "render/scene/rendermanager.h"

void RenderManager::findLightingMaterials() {
  lightGridMaterial_ = findMaterial("_renderGridLighting", false);
  lightmapMaterial_ = findMaterial("_renderLightMap", false);
  // A material a caller set stays.
  if (blobShadowMaterial_ == nullptr)
    blobShadowMaterial_ = findMaterial("_simpleShadow", false);
}

bool RenderManager::loadMapLighting() {
  findLightingMaterials();
  return g_spatialSystem != nullptr && g_spatialSystem->loadLightmaps();
}

void RenderManager::freeMapModels() {
  freeWorldRenderModels();
}
