// The map's baked light as the render manager takes it up: the lighting materials looked up
// (without defaults: a missing one switches its pass off), and the spatial system's light maps
// and light grid loaded after a map load and after a video restart; the world's models freed on
// map unload; the map's lights left to the light maps in lightmap mode.
#include "lib/interface/convarsystem.h"
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
  // The shadow maps' depth fill and compare; without either, lights that ask for a shadow map cast
  // stencil volumes.
  renderDepthMaterial_ = findMaterial("_renderDepth", false);
  renderShadowMapMaterial_ = findMaterial("_renderShadowMap", false);
}

bool RenderManager::loadMapLighting() {
  findLightingMaterials();
  return g_spatialSystem != nullptr && g_spatialSystem->loadLightmaps();
}

void RenderManager::freeMapModels() {
  freeWorldRenderModels();
}

bool RenderManager::skippedByLightQuality(int index) const {
  // In lightmap mode the map's own lights are baked: only lights an entity owns still draw.
  const LightRecord* l = index >= 0 && index < lights_.num() ? lights_[index] : nullptr;
  ConVar* quality = g_conVarSystem ? g_conVarSystem->find("r_lightquality") : nullptr;
  return l != nullptr && l->parms.ownerId == 0 && quality != nullptr && quality->getInt() == 0;
}
