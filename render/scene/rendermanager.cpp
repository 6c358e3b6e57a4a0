// The render manager: slot lists, views and passes, life cycle and flat drawing.
//
// Sections: process-wide getter and factory, life cycle, entities and lights, views and scenes, 2D
// drawing and render size, operations owned by later subsystems.
#include "render/scene/rendermanager.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "lib/interface/cmdsystem.h"
#include "lib/interface/convarsystem.h"
#include "lib/interface/effectssystem.h"
#include "lib/interface/iosystem.h"
#include "lib/interface/managerfactory.h"
#include "lib/interface/rendermodelsystem.h"
#include "lib/interface/texmanager.h"
#include "render/backend/renderbackend.h"
#include "render/material/material.h"
#include "render/backend/framebufferopengl.h"
#include "render/model/basemodel.h"
#include "render/model/surfacebuilder.h"
#include "render/scene/decals.h"
#include "render/texture/imagefiles.h"

namespace {

ConVar r_viewwidth("r_viewwidth", "800", 0x10012, "screen width");
ConVar r_viewheight("r_viewheight", "600", 0x10012, "screen height");
ConVar r_skipMainRender("r_skipMainRender", "0", 0x2011, "build the draw lists but draw nothing into the main view");
static ConVar r_skipMirrorMapsR("r_skipMirrorMaps", "0", 0x2011);
static ConVar r_skipBloomFilterR("r_skipBloomFilter", "0", 0x22011);  // archived, as in glow.cpp

RenderManager* s_manager = nullptr;

// Window sizes of 0 or less would give empty viewports and divisions by zero.
int viewWidth() { return r_viewwidth.getInt() > 0 ? r_viewwidth.getInt() : 1; }
int viewHeight() { return r_viewheight.getInt() > 0 ? r_viewheight.getInt() : 1; }

void warnf(const char* format, const char* a, int b = 0) {
  if (g_cmdSystem)
    g_cmdSystem->printf(format, a, b);
}

bool createForCommon() { return getRenderSystem() != nullptr; }
void shutdownForCommon() {
  if (s_manager)
    s_manager->shutdown();
}
const RegisterManagerFactory s_registerRender(kManagerRender, createForCommon, shutdownForCommon,
                                              destroyRenderSystem);

int largestPowerOfTwo(int v) {
  int p = 1;
  while (p * 2 <= v && p < (1 << 30))
    p *= 2;
  return p;
}

// "screenshotPrintQuality <width> <height>": the current view rendered in 512 x 256 tiles into one
// picture, written as "screenshots/screen.tga".
void cmdScreenshotPrintQuality(const CmdArgs& args) {
  if (args.argc() < 3)
    return;
  const int width = ConVar::textToInt(args.argv(1));
  const int height = ConVar::textToInt(args.argv(2));
  // The picture is allocated whole: refuse sizes that are not positive or would overflow.
  if (width <= 0 || height <= 0 || width > 16384 || height > 16384) {
    if (g_cmdSystem)
      g_cmdSystem->printf("WARNING: screenshotPrintQuality: width and height must be 1..16384\n");
    return;
  }
  if (s_manager)
    s_manager->printQualityScreenshot(width, height);
}

const char kFlatMaterialText[] = "{\n{\nmap _white\nvertexColor\nblendfunc blend\n}\n}\n";

// The caller's view, or a 640x480 one at the origin when it has no size.
RenderView sizedView(const RenderView& view) {
  RenderView v = view;
  if (v.width <= 0 || v.height <= 0) {
    v.x = 0;
    v.y = 0;
    v.width = 640;
    v.height = 480;
  }
  return v;
}

}  // namespace

// --- Process-wide getter and factory ---

RenderManager* getRenderSystem() {
  if (s_manager)
    return s_manager;
  getRenderModelSystem();
  s_manager = new RenderManager();
  g_renderSystem = s_manager;
  if (!s_manager->init()) {
    delete s_manager;
    s_manager = nullptr;
    g_renderSystem = nullptr;
    destroyRenderModelSystem();
    return nullptr;
  }
  return s_manager;
}

void destroyRenderSystem() {
  if (!s_manager)
    return;
  delete s_manager;
  s_manager = nullptr;
  g_renderSystem = nullptr;
  destroyRenderModelSystem();
}

// --- Life cycle ---

RenderManager::RenderManager() {}

RenderManager::~RenderManager() {
  shutdown();
  renderDecals().shutdown();
  for (EntityRecord*& e : entities_) {
    freeEntityRecord(e);
    e = nullptr;
  }
  for (LightRecord*& l : lights_) {
    freeLightRecord(l);
    l = nullptr;
  }
  entities_.clear();
  lights_.clear();
  if (g_renderSystem == this)
    g_renderSystem = nullptr;
}

bool RenderManager::init() {
  if (g_cmdSystem && !g_cmdSystem->findCommand("screenshotPrintQuality"))
    g_cmdSystem->addCommand("screenshotPrintQuality", cmdScreenshotPrintQuality, 6,
                            "save an image of the current screen");
  if (g_renderInterface) {
    float vp[4] = {};
    g_renderInterface->getViewport(vp);
    g_renderBackEnd.setViewport(int(vp[0]), int(vp[1]), int(vp[2]), int(vp[3]));
  }
  g_renderBackEnd.reset();
  resetRenderSize();
  // Entities kept across a shutdown ("vid_restart") get fresh instance models.
  for (EntityRecord* e : entities_) {
    if (e && !e->instanceModel) {
      e->instanceModel = BaseModel::createCopy(e->parms.model);
      e->dirtyCount = 1;
    }
  }
  if (!flatMaterial_) {
    flatMaterial_ = new Material();
    flatMaterial_->parse(kFlatMaterialText, int(sizeof(kFlatMaterialText) - 1));
    imageMaterial_ = new Material();
    imageMaterial_->parse(kFlatMaterialText, int(sizeof(kFlatMaterialText) - 1));
  }
  if (g_renderInterface && !flatBuffer_)
    flatBuffer_ = g_renderInterface->createVertexBuffer();
  installCaptureHooks();
  debugLines_.setGranularity(10240);
  debugPolygons_.setGranularity(1024);
  debugTexts_.setGranularity(1024);
  renderDecals().init();
  createGlowTargets();
  findLightingMaterials();
  registerDebugCommands();
  if (g_cmdSystem && fonts_.fontCount() == 0 && fonts_.registerFont("fonts") < 0)
    g_cmdSystem->printf("WARNING: failed to load default internal font\n");
  initialised_ = true;
  return true;
}

void RenderManager::shutdown() {
  // Images and model buffers belong to the context that is going away ("vid_restart" makes a new
  // one); the texture manager reloads the flagged images into the next context.
  if (g_texManager)
    g_texManager->flagAllForReload();
  if (g_renderInterface && flatBuffer_)
    g_renderInterface->freeVertexBuffer(&flatBuffer_);
  freeEffectsModels();
  flatBuffer_ = nullptr;
  if (g_renderInterface && shadowBuffer_)
    g_renderInterface->freeVertexBuffer(&shadowBuffer_);
  shadowBuffer_ = nullptr;
  delete volumeBuilder_;
  volumeBuilder_ = nullptr;
  delete overlayBuilder_;
  overlayBuilder_ = nullptr;
  freeShadowMaps();
  for (FrameBufferOpenGL* target : renderMapPool_)
    delete target;
  renderMapPool_.clear();
  freeGlowTargets();
  delete previewInstance_;
  previewInstance_ = nullptr;
  previewSource_ = nullptr;
  if (batchModel_ && g_renderModelSystem)
    g_renderModelSystem->freeModel(batchModel_);
  batchModel_ = nullptr;
  clearDrawLists();
  collected_.setNum(0);
  delete flatMaterial_;
  delete imageMaterial_;
  flatMaterial_ = nullptr;
  imageMaterial_ = nullptr;
  // The decal model goes before the model manager that holds its geometry; the entities' overlay
  // slots stay with the entities ("vid_restart" keeps both).
  renderDecals().freePool();
  if (g_renderModelSystem)
    g_renderModelSystem->freeModelBuffers();
  freeDebugQueues();
  removeCaptureHooks();
  // Lights give back their light models (rebuilt when next drawn); entities lose their instance
  // models and are rebuilt by the next init.
  for (LightRecord* l : lights_) {
    if (l) {
      l->state |= kLightDirty;
      if (l->lightModel && g_renderModelSystem)
        g_renderModelSystem->freeModel(l->lightModel);
      l->lightModel = nullptr;
      releaseStaticShadows(l);  // their buffers belong to the context going away
    }
  }
  for (EntityRecord* e : entities_) {
    if (e) {
      delete e->instanceModel;
      e->instanceModel = nullptr;
      e->dirtyCount = 1;
    }
  }
  initialised_ = false;
}

bool RenderManager::printQualityScreenshot(int width, int height) {
  if (!g_renderInterface || !initialised_)
    return false;
  constexpr int kTileW = 512;
  constexpr int kTileH = 256;
  width = (width + kTileW - 1) / kTileW * kTileW;
  height = (height + kTileH - 1) / kTileH * kTileH;
  const int columns = width / kTileW;
  const int rows = height / kTileH;
  ImageData data = {};
  data.info = ImageInfo{width, height, 0, kPixelFormatRGB, kTextureType2D, 99};
  data.byteSize = width * height * 3;
  data.pixels = imageAlloc(size_t(data.byteSize));
  std::vector<uint8_t> tile(size_t(kTileW) * kTileH * 3);
  if (!data.pixels)
    return false;
  const RenderView saved = view_;
  RenderViewTile record;
  record.tileWidth = kTileW;
  record.tileHeight = kTileH;
  record.totalWidth = width;
  record.totalHeight = height;
  RenderView tiled = saved;
  tiled.x = 0;
  tiled.y = 0;
  tiled.width = 640;
  tiled.height = 480;
  tiled.tile = &record;
  for (int i = 0; i < rows; i++) {
    for (int j = 0; j < columns; j++) {
      record.row = i;
      record.column = j;
      setRenderSize(kTileW, kTileH, false, true);
      clearScreen();
      renderScene(&tiled, -1);
      g_renderInterface->readPixels(tile.data(), 0, 0, kTileW, kTileH, kPixelFormatRGB);
      // Tile row i lands in band rows - 1 - i, column j at pixel column 512 x j.
      const int band = rows - 1 - i;
      for (int y = 0; y < kTileH; y++)
        std::memcpy(data.pixels + (size_t(band * kTileH + y) * size_t(width) + size_t(j * kTileW)) * 3,
                    tile.data() + size_t(y) * kTileW * 3, size_t(kTileW) * 3);
    }
  }
  resetRenderSize();
  view_ = saved;
  // Written where the other screenshots go: under "fs_basepath", through an operating-system path.
  const char* basePath = g_conVarSystem ? g_conVarSystem->getString("fs_basepath") : "";
  const char* path = g_ioSystem ? g_ioSystem->buildOSPath(basePath, nullptr, "screenshots/screen.tga") : nullptr;
  const bool ok = path && writeTGA(path, &data);
  imageFree(data.pixels);
  return ok;
}

int RenderManager::reinit() {
  init();
  // The new context lost the light-map images: the world makes them again.
  const bool lit = loadMapLighting();
  return g_spatialSystem != nullptr ? int(lit) : 1;
}

// "r_fullscreen" belongs to the window code.
bool RenderManager::isFullscreen() { return g_conVarSystem && g_conVarSystem->getInt("r_fullscreen") != 0; }
int RenderManager::getScreenWidth() { return r_viewwidth.getInt(); }
int RenderManager::getScreenHeight() { return r_viewheight.getInt(); }

void RenderManager::onMapLoaded() {
  createGlowTargets();
  loadMapLighting();
}

void RenderManager::unloadMap() {
  renderDecals().clearAll();
  freeEffectsModels();
  for (EntityRecord*& e : entities_) {
    if (e) {
      if (e->instanceModel && g_renderModelSystem) {
        g_renderModelSystem->freeModel(e->instanceModel);
        e->instanceModel = nullptr;
      }
      freeEntityRecord(e);
      e = nullptr;
    }
  }
  entities_.clear();
  for (LightRecord*& l : lights_) {
    freeLightRecord(l);
    l = nullptr;
  }
  lights_.clear();
  freeMapModels();
}

// --- Entities and lights ---

void RenderManager::notBuilt(int slot, const char* operation, const char* owner) {
  if (slot < 0 || slot >= 81 || warned_[slot])
    return;
  warned_[slot] = true;
  if (g_cmdSystem)
    g_cmdSystem->printf("WARNING: RenderManager::%s is not available yet (%s)\n", operation, owner);
}

bool RenderManager::validEntity(int index, const char* what) {
  if (index >= 0 && index < entities_.num() && entities_[index])
    return true;
  warnf("WARNING: RenderManager::%s: no entity %d\n", what, index);
  return false;
}

bool RenderManager::validLight(int index, const char* what) {
  if (index >= 0 && index < lights_.num() && lights_[index])
    return true;
  warnf("WARNING: RenderManager::%s: no light %d\n", what, index);
  return false;
}

RenderManager::EntityRecord* RenderManager::entityRecord(int index) {
  return index >= 0 && index < entities_.num() ? entities_[index] : nullptr;
}

RenderManager::LightRecord* RenderManager::lightRecord(int index) {
  return index >= 0 && index < lights_.num() ? lights_[index] : nullptr;
}

template <typename T>
static int takeSlot(List<T*>& list, T* record) {
  for (int i = 0; i < list.num(); i++) {
    if (!list[i]) {
      list[i] = record;
      return i;
    }
  }
  return list.append(record);
}

void RenderManager::freeEntityRecord(EntityRecord* record) {
  if (!record)
    return;
  delete record->instanceModel;
  delete record;
}

void RenderManager::freeLightRecord(LightRecord* record) {
  if (!record)
    return;
  if (record->lightModel && g_renderModelSystem)
    g_renderModelSystem->freeModel(record->lightModel);
  releaseStaticShadows(record);
  delete record;
}

int RenderManager::addEntityDef(const RenderEntity* entity) {
  if (!entity)
    return -1;
  EntityRecord* record = new EntityRecord();
  record->parms = *entity;
  record->instanceModel = BaseModel::createCopy(entity->model);
  record->dirtyCount = 1;
  computeEntityAreas(record);
  const int index = takeSlot(entities_, record);
  record->parms.entityIndex = index;
  renderDecals().clearOverlays(index);
  return index;
}

void RenderManager::updateEntityDef(int index, const RenderEntity* entity) {
  if (!entity || !validEntity(index, "updateEntityDef"))
    return;
  EntityRecord* record = entities_[index];
  record->dirtyCount = 1;
  record->parms = *entity;
  record->parms.entityIndex = index;
  RenderModel* model = entity->model;
  // Without a model there is nothing to resolve and no instance to keep.
  if (!model) {
    delete record->instanceModel;
    record->instanceModel = nullptr;
    return;
  }
  if (!model->isLoaded())
    model->reload();
  bool lit = false;
  for (int i = 0; i < model->numSurfaces() && !lit; i++) {
    Material* m = model->resolveSurfaceMaterial(i, entity->customMaterial, entity->skin2, entity->skin);
    lit = m && m->getState() != kDeclDefaulted && m->hasInteractionStages();
  }
  if (!lit)
    record->parms.noShadows = 1;
  matchInstance(record, index);
  computeEntityAreas(record);
}

bool RenderManager::instanceMatches(const BaseModel* instance, RenderModel* model) {
  if (!instance || !model || instance->numSurfaces() != model->numSurfaces())
    return false;
  for (int i = 0; i < model->numSurfaces(); i++) {
    const SurfaceGeometry* a = model->getSurface(i)->geometry;
    const SurfaceGeometry* b = const_cast<BaseModel*>(instance)->getSurface(i)->geometry;
    // The edges too: a reloaded mesh with new edges and the same counts cannot be rebuilt in place.
    if (!a || !b || a->numVerts != b->numVerts || a->numIndexes != b->numIndexes || a->numEdges != b->numEdges)
      return false;
  }
  return true;
}

void RenderManager::matchInstance(EntityRecord* record, int index) {
  RenderModel* model = record->parms.model;
  if (!model || instanceMatches(record->instanceModel, model))
    return;
  delete record->instanceModel;
  record->instanceModel = BaseModel::createCopy(model);
  record->dirtyCount = 1;
  // Overlay entries index the old instance's vertices.
  if (index >= 0)
    renderDecals().clearOverlays(index);
}

void RenderManager::freeEntityDef(int index) {
  if (!validEntity(index, "freeEntityDef"))
    return;
  freeEntityRecord(entities_[index]);
  entities_[index] = nullptr;
  renderDecals().removeEntityDecals(index);
}

RenderEntity* RenderManager::getRenderEntity(int index) {
  EntityRecord* record = entityRecord(index);
  return record ? &record->parms : nullptr;
}

void RenderManager::refreshInstance(EntityRecord* record) {
  BaseModel* instance = record->instanceModel;
  if (!instance)
    return;
  bool deforms = record->parms.customMaterial && record->parms.customMaterial->hasDeform();
  for (int i = 0; !deforms && i < instance->numSurfaces(); i++) {
    Material* m = instance->getSurface(i)->material;
    deforms = m && m->hasDeform();
  }
  if (record->dirtyCount < 1 && !deforms)
    return;
  if (record->dirtyCount > 0)
    record->dirtyCount--;
  if (!instance->buildInstance(&record->parms)) {
    // The source changed under the instance (a reload): a fresh copy, built again.
    matchInstance(record, record->parms.entityIndex);
    instance = record->instanceModel;
    if (!instance || !instance->buildInstance(&record->parms))
      return;
  }
  instance->uploadVertices(true);
}

bool RenderManager::getEntityVertex(int index, Vec3* outPosition, Vec3* outNormal, int vertex) {
  if (!validEntity(index, "getEntityVertex"))
    return false;
  EntityRecord* record = entities_[index];
  refreshInstance(record);
  BaseModel* instance = record->instanceModel;
  if (!instance || instance->numSurfaces() == 0)
    return false;
  const SurfaceGeometry* g = instance->getSurface(0)->geometry;
  // A surface without vertices has nothing to pick (the modulo would divide by zero).
  if (!g || g->numVerts <= 0 || !g->verts)
    return false;
  if (vertex < 0 || vertex >= g->numVerts)
    vertex = int(unsigned(std::rand()) % unsigned(g->numVerts));
  const DrawVertex& v = g->verts[vertex];
  if (outPosition)
    *outPosition = Vec3(v.xyz[0], v.xyz[1], v.xyz[2]);
  if (outNormal)
    *outNormal = Vec3(v.normal[0], v.normal[1], v.normal[2]);
  return true;
}

void RenderManager::computeLightDerived(LightRecord* record) {
  RenderLight& l = record->parms;
  // A zero extent would divide by zero in the light's texture planes.
  for (int i = 0; i < 3; i++)
    if (!(std::fabs(l.radius[i]) >= 0.01f))
      l.radius[i] = 0.01f;
  Bounds local;
  if (l.shape == 4)
    local = Bounds(Vec3(-l.radius.x, -l.radius.y, -l.radius.z), Vec3(l.radius.x, l.radius.y, 0.0f));
  else
    local = Bounds(-l.radius, l.radius);
  l.bounds = Bounds::fromTransformedBounds(local, l.origin, l.axis);
  if (l.shape == 4) {
    // The cone's own frustum down -axis 2: its far end has the half extents radius.x and .y.
    const float fov = 2.0f * std::atan(l.radius.y / l.radius.z) * 57.2957795132f;
    frustumPlanes(l.planes, l.origin, l.axis, fov, l.radius.x / l.radius.y, 1.0f, l.radius.z);
    // A mirrored (left-handed) axis winds the planes inwards: the middle of the cone is inside.
    const Vec3 middle = l.origin - l.axis[2] * (0.5f * l.radius.z);
    for (Plane& p : l.planes)
      if (p.distance(middle) > 0.0f)
        p = Plane(-p.normal(), -p.d);
  } else {
    // Outward planes of the oriented box: +axis at the max side, -axis at the min side.
    for (int i = 0; i < 3; i++) {
      const Vec3 n = l.axis[i];
      const float d = n.dot(l.origin);
      l.planes[i * 2] = Plane(n, d + local.maxs[i]);
      l.planes[i * 2 + 1] = Plane(-n, -(d + local.mins[i]));
    }
  }
  if ((l.flags & kLightAmbient) || l.kind == 2) {
    l.flags = uint8_t((l.flags & 0xf9) | 1);
    record->numAreas = 0;
  } else {
    record->numAreas = 0;  // the spatial system's areas arrive with the spatial queries
  }
}

int RenderManager::addLightDef(const RenderLight* light) {
  if (!light)
    return -1;
  LightRecord* record = new LightRecord();
  record->parms = *light;
  record->state = kLightDirty;
  record->staticShadowModel0 = light->staticShadowModel0;
  record->staticShadowModel1 = light->staticShadowModel1;
  computeLightDerived(record);
  return takeSlot(lights_, record);
}

void RenderManager::updateLightDef(int index, const RenderLight* light) {
  if (!light || !validLight(index, "updateLightDef"))
    return;
  LightRecord* record = lights_[index];
  const RenderLight old = record->parms;
  record->parms = *light;
  computeLightDerived(record);
  // Any geometric change invalidates the light model and the precomputed shadows.
  const RenderLight& n = record->parms;
  bool moved = n.origin != old.origin || n.center != old.center || n.radius != old.radius || n.shape != old.shape;
  for (int i = 0; i < 3 && !moved; i++)
    moved = n.axis[i] != old.axis[i];
  // The interactions (material, areas, lit surfaces) follow the material and the flags as well.
  if (n.material != old.material || n.flags != old.flags || n.kind != old.kind)
    record->state |= kLightDirty;
  if (moved) {
    record->state |= kLightDirty;
    if (g_renderModelSystem) {
      if (record->staticShadowModel0)
        g_renderModelSystem->freeModel(record->staticShadowModel0);
      if (record->staticShadowModel1)
        g_renderModelSystem->freeModel(record->staticShadowModel1);
    }
    record->staticShadowModel0 = nullptr;
    record->staticShadowModel1 = nullptr;
  }
}

void RenderManager::freeLightDef(int index) {
  if (!validLight(index, "freeLightDef"))
    return;
  freeLightRecord(lights_[index]);
  lights_[index] = nullptr;
}

RenderLight* RenderManager::getLightDef(int index) {
  LightRecord* record = lightRecord(index);
  return record ? &record->parms : nullptr;
}

const char* RenderManager::getDefaultMaterialName(int kind, int shape) {
  if (kind == 2)
    return "fogs/basicFog";
  if (kind != 1)
    return nullptr;
  switch (shape) {
    case 1: return "lights/defaultPointLight";
    case 2: return "lights/defaultBoxLight";
    case 3: return "lights/defaultCylinderLight";
    case 4: return "lights/defaultProjectedLight";
    default: return nullptr;
  }
}

void RenderManager::precacheInteractions() {
  for (int i = 0; i < entities_.num(); i++) {
    if (entities_[i]) {
      const RenderEntity parms = entities_[i]->parms;
      updateEntityDef(i, &parms);
    }
  }
  // Light models are built with the light interactions; until then every light stays dirty.
  for (LightRecord* l : lights_)
    if (l)
      l->state |= kLightDirty;
}

// --- Views and scenes ---

void RenderManager::setRenderView(const RenderView* view, int time) {
  if (view) {
    view_ = *view;
  } else {
    view_ = RenderView();
    view_.width = 640;
    view_.height = 480;
  }
  view_.time = view ? view->time : time;
  g_renderBackEnd.setView(&view_);
}

void RenderManager::setupView(const RenderView* view, int) {
  if (view)
    setRenderView(view, view->time);
  g_renderBackEnd.applyViewMatrices();
  g_renderBackEnd.pushViewMatrices();
  g_renderBackEnd.setClipPlane0(&view_.clipPlane);
}

void RenderManager::endView() {
  g_renderBackEnd.popViewMatrices();
  if (g_renderInterface)
    g_renderBackEnd.setClipPlane0(nullptr);
}

bool RenderManager::entityInView(const EntityRecord& record, const RenderView& view) const {
  if (record.parms.suppressInViewId && record.parms.suppressInViewId == view.viewId)
    return false;
  if (record.parms.allowOnlyInViewId && record.parms.allowOnlyInViewId != view.viewId)
    return false;
  return record.instanceModel != nullptr;
}

void RenderManager::drawScene(const RenderView& view) {
  const uint32_t flags = g_renderBackEnd.viewFlags();
  const int unlit = g_renderBackEnd.unlitProgram();
  selectDrawSurfaces(false, false);
  g_renderBackEnd.setPassMode(kPassModeNormal);
  surfacesDrawn_ = 0;
  shadowTriangles_ = 0;
  shadowVolumesBuilt_ = 0;
  shadowMapsRendered_ = shadowMapCasters_ = 0;
  g_renderBackEnd.setupPass();
  clearForView(flags);
  g_renderBackEnd.counters() = ViewCounters();
  if (flags & kViewFlagDepthPrePass) {
    // Depth first (no colour): the light passes add where depth equals it.
    if (g_renderInterface)
      g_renderInterface->setColorMask(false, false, false, false);
    g_renderBackEnd.beginSurfaceRuns();
    for (int i = 0; i < visibleDrawList_.num(); ++i) {
      const DrawSurface* ds = visibleDrawList_[i];
      prefetchListed(visibleDrawList_.ptr(), visibleDrawList_.num(), i);
      if (!surfaceHasGeometry(*ds) || (ds->material->getSurfaceFlags() & kMaterialTranslucent) ||
          !inAreaScissor(*ds))
        continue;
      g_renderBackEnd.setDrawSurface(ds);
      g_renderBackEnd.drawDepthSurface(unlit);
    }
    g_renderBackEnd.endSurfaceRuns();
    resetScissor();
    if (g_renderInterface)
      g_renderInterface->setColorMask(true, true, true, true);
  }
  const bool ambient = (flags & (kViewFlagAmbient | kViewFlagPostProcess)) != 0;
  if (!(flags & kViewFlagLit)) {
    // Unlit: every stage of every surface that has ambient stages, in list order.
    g_renderBackEnd.beginSurfaceRuns();
    for (int i = 0; i < visibleDrawList_.num(); ++i) {
      const DrawSurface* ds = visibleDrawList_[i];
      prefetchListed(visibleDrawList_.ptr(), visibleDrawList_.num(), i);
      if (!ambient || !surfaceHasGeometry(*ds) || !ds->material->hasAmbientStages() || !inAreaScissor(*ds))
        continue;
      g_renderBackEnd.setDrawSurface(ds);
      g_renderBackEnd.drawAmbientStages(true, true);
      surfacesDrawn_++;
    }
    g_renderBackEnd.endSurfaceRuns();
    resetScissor();
  } else if (view.overrideMaterial != nullptr) {
    // The view hands the material in for drawing: loading it and evaluating its registers.
    drawOverrideMaterial(const_cast<Material*>(view.overrideMaterial));
  } else {
    // Stages before the interaction stages of every opaque surface.
    g_renderBackEnd.beginSurfaceRuns();
    for (int i = 0; i < visibleDrawList_.num(); ++i) {
      const DrawSurface* ds = visibleDrawList_[i];
      prefetchListed(visibleDrawList_.ptr(), visibleDrawList_.num(), i);
      const Material* m = ds->material;
      if (!ambient || (m->getSurfaceFlags() & kMaterialTranslucent) || (m->extraFlags & kExtraPostLighting) ||
          !inAreaScissor(*ds))
        continue;
      g_renderBackEnd.setDrawSurface(ds);
      g_renderBackEnd.drawAmbientStages(true, false);
      surfacesDrawn_++;
    }
    g_renderBackEnd.endSurfaceRuns();
    resetScissor();
    drawLightmapPass();
    drawLightGridPass();
    drawLights();
    showStencilAfterLights();
    // After the lights: stages that follow the interaction stages, post-lighting and translucent
    // materials.
    g_renderBackEnd.beginSurfaceRuns();
    for (int i = 0; i < visibleDrawList_.num(); ++i) {
      const DrawSurface* ds = visibleDrawList_[i];
      prefetchListed(visibleDrawList_.ptr(), visibleDrawList_.num(), i);
      const Material* m = ds->material;
      if (!ambient)
        break;
      const bool translucent = (m->getSurfaceFlags() & kMaterialTranslucent) != 0;
      const bool postLighting = (m->extraFlags & kExtraPostLighting) != 0;
      if ((translucent || postLighting || m->hasInteractionStages()) && !inAreaScissor(*ds)) {
        continue;
      }
      if (translucent || postLighting) {
        g_renderBackEnd.setDrawSurface(ds);
        g_renderBackEnd.drawAmbientStages(true, true);
        surfacesDrawn_++;
      } else if (m->hasInteractionStages()) {
        const int last = m->getNumStages() - 1;
        const MaterialStage* stage = m->getStage(last);
        if (stage && !(stage->flags & (kStageBump | kStageDiffuse | kStageSpecular | kStageLightInteraction))) {
          g_renderBackEnd.setDrawSurface(ds);
          g_renderBackEnd.drawAmbientStages(false, true);
        }
      }
    }
    g_renderBackEnd.endSurfaceRuns();
    resetScissor();
    // Overlays mark what is drawn: after the surfaces of the post-lighting pass, not under them.
    drawEntityOverlays();
    drawFogLights();
    drawFlares();
  }
  for (int i = 0; i < visibleDrawList_.num(); ++i) {
    const DrawSurface* ds = visibleDrawList_[i];
    prefetchListed(visibleDrawList_.ptr(), visibleDrawList_.num(), i);
    g_renderBackEnd.setDrawSurface(ds);
    g_renderBackEnd.drawTrisOverlay();
    g_renderBackEnd.drawNodrawOverlay();
    drawNormals(*ds);
  }
  g_renderBackEnd.setDrawSurface(nullptr);
  g_renderBackEnd.counters().ambientSurfacesDrawn += surfacesDrawn_;
}

bool RenderManager::inAreaScissor(const DrawSurface& ds) {
  // A surface of an area seen only through a portal is drawn inside that portal's rectangle;
  // an area off the screen draws nothing. Mirror and remote views draw the main view's lists, and
  // the areas' rectangles are the main view's: there the view's own (whole) scissor stays.
  if ((g_renderBackEnd.viewFlags() & kViewFlagNoScreenCopy) != 0) {
    return true;
  }
  const int area = ds.area != kDrawSurfaceAreaUnset ? ds.area : (ds.surface != nullptr ? ds.surface->id : -1);
  return setScissorForLight(nullptr, area);
}

bool RenderManager::surfaceHasGeometry(const DrawSurface& ds) {
  if (ds.surface != nullptr && ds.material != nullptr && (ds.geometry != nullptr || ds.surface->geometry != nullptr))
    return true;
  if (g_cmdSystem)
    g_cmdSystem->printf("RenderManager::isInView: null model??\n");
  return false;
}

void RenderManager::renderScene(const RenderView* view, int flags) {
  if (!view || !initialised_)
    return;
  // Without their targets the mirror and glow paths stay off rather than draw into nothing.
  if (!bloomTarget_ || !bloomTarget2_ || !shadowMaskTarget_) {
    r_skipMirrorMapsR.setString("1");
    r_skipBloomFilterR.setString("1");
  }
  renderMapPoolUsed_ = 0;
  const RenderView saved = view_;
  RenderView v = sizedView(*view);
  setRenderView(&v, v.time);
  // The lists are built from the view's matrices and planes; the passes draw with them pushed.
  buildDrawLists();
  drawSubviews();
  if (!r_skipMainRender.getInt()) {
    g_renderBackEnd.pushViewMatrices();
    g_renderBackEnd.setViewFlags(uint32_t(flags) & 0x1bu);
    g_renderBackEnd.setDepthFunc(kCompareLessEqual);
    drawScene(v);
    drawPostProcess();
    // ---- Debug primitives: drawn at the end of each 3D view, after every pass of the view. ----
    drawDebugOverlays();
    drawDebugPrimitives();
    // ---- End of debug primitives. ----
    drawInWorldGuis();
    endView();
    g_renderBackEnd.setViewFlags(0);
    drawGlow();
  }
  if (g_effectsSystem)
    g_effectsSystem->printParticleStats();
  view_ = saved;
  g_renderBackEnd.setView(&view_);
  setColor(1.0f, 1.0f, 1.0f, 1.0f);
}

void RenderManager::renderModelView(const RenderView* view, int flags, RenderModel* model,
                                    const RenderEntity* entity, int light) {
  if (!view || !model || !initialised_ || !g_renderInterface)
    return;
  renderMapPoolUsed_ = 0;
  const RenderView saved = view_;
  RenderView v = sizedView(*view);
  setRenderView(&v, v.time);
  g_renderBackEnd.applyViewMatrices();
  // The lists hold the model alone, placed by the caller's parameters.
  if (entity) {
    previewParms_ = *entity;
  } else {
    previewParms_ = RenderEntity();
    for (int i = 0; i < 4; i++)
      previewParms_.shaderParms[i] = 1.0f;
  }
  previewParms_.model = model;
  if (!model->isLoaded())
    model->reload();
  if (previewSource_ != model || !instanceMatches(previewInstance_, model)) {
    delete previewInstance_;
    previewInstance_ = BaseModel::createCopy(model);
    previewSource_ = model;
  }
  clearDrawLists();
  // The caller's callback poses the preview (its joints) for this view.
  if (previewParms_.callback)
    previewParms_.callback(&previewParms_, &v);
  if (previewInstance_) {
    previewInstance_->buildInstance(&previewParms_);
    previewInstance_->uploadVertices(true);
    for (int s = 0; s < previewInstance_->numSurfaces(); s++)
      addDrawSurface(previewInstance_->getSurface(s), &previewParms_);
  }
  if (light >= 0 && light < lights_.num() && lights_[light]) {
    lights_[light]->state |= kLightVisible;
    visibleLights_.append(light);
  }
  drawSubviews();
  g_renderBackEnd.pushViewMatrices();
  // Only the view's own rectangle is cleared (the scissor follows the viewport).
  drawViewInto(v, uint32_t(flags) & 0x1bu);
  drawPostProcess();
  drawDebugPrimitives();
  endView();
  g_renderBackEnd.setViewFlags(0);
  drawGlow();
  view_ = saved;
  g_renderBackEnd.setView(&view_);
}

void RenderManager::endFrame() {
  drawTextureOverlay();
  if (g_renderInterface)
    g_renderInterface->swapBuffers();
}

void RenderManager::clearScreen() {
  if (g_renderInterface)
    g_renderBackEnd.clear(true, true);
}

void RenderManager::viewOrigin(float out[3]) {
  out[0] = view_.origin.x;
  out[1] = view_.origin.y;
  out[2] = view_.origin.z;
}

// --- 2D drawing and render size ---

void RenderManager::setColorV(const float* rgba) {
  if (rgba)
    setColor(rgba[0], rgba[1], rgba[2], rgba[3]);
}

void RenderManager::setColor(float r, float g, float b, float a) {
  const float in[4] = {r, g, b, a};
  for (int i = 0; i < 4; i++)
    color_[i] = in[i] <= 0.0f ? 0.0f : (in[i] >= 1.0f ? 1.0f : in[i]);
  // NaN fails both comparisons above and would be stored; it stands for nothing drawable.
  for (float& c : color_)
    if (c != c)
      c = 0.0f;
}

void RenderManager::getColor(float* out) {
  if (out)
    std::memcpy(out, color_, sizeof(color_));
}

void RenderManager::begin2D() {
  g_renderBackEnd.setOrtho2D(640.0f, 480.0f);
  g_renderBackEnd.setPassMode(kPassMode2D);
  g_renderBackEnd.setClipPlane0(nullptr);
  // The screen lies over whatever the depth buffer holds: a scene, or nothing cleared yet (the
  // intro video is drawn before any frame clears it). Interfaces on surfaces keep depth testing.
  g_renderBackEnd.setDepthFuncOverride(kCompareAlways);
}

void RenderManager::end2D() {
  g_renderBackEnd.popMatrices(true, true);
  g_renderBackEnd.setPassMode(kPassModeNormal);
  g_renderBackEnd.setDepthFuncOverride(0);
  g_renderBackEnd.setDepthAndCull(1, 1);
}

void RenderManager::drawFlat(const DrawVertex* verts, int numVerts, const unsigned* indexes, int numIndexes,
                             Material* material) {
  if (!g_renderInterface || !flatBuffer_ || !material || numVerts <= 0 || numIndexes <= 0)
    return;
  g_renderInterface->uploadVertexBuffer(flatBuffer_, verts, int(sizeof(DrawVertex)) * numVerts, true);
  DrawSurface ds;
  ds.material = material;
  ds.vertexBuffer = flatBuffer_;
  ds.indexes = indexes;
  ds.numIndexes = numIndexes;
  const uint32_t flags = g_renderBackEnd.viewFlags();
  g_renderBackEnd.setViewFlags(kViewFlag2D);
  g_renderBackEnd.setDrawSurface(&ds);
  g_renderBackEnd.drawStageRange(0, material->getNumStages(), true);
  g_renderBackEnd.setDrawSurface(nullptr);
  g_renderBackEnd.setViewFlags(flags);
}

static void quadVerts(DrawVertex v[4], float x, float y, float w, float h, float s1, float t1, float s2,
                      float t2, const uint8_t color[4]) {
  std::memset(v, 0, sizeof(DrawVertex) * 4);
  const float xy[4][2] = {{x, y}, {x, y + h}, {x + w, y + h}, {x + w, y}};
  const float st[4][2] = {{s1, t1}, {s1, t2}, {s2, t2}, {s2, t1}};
  for (int i = 0; i < 4; i++) {
    v[i].xyz[0] = xy[i][0];
    v[i].xyz[1] = xy[i][1];
    v[i].st[0] = st[i][0];
    v[i].st[1] = st[i][1];
    std::memcpy(v[i].color, color, 4);
  }
}

static const unsigned kQuadIndexes[6] = {0, 1, 3, 3, 1, 2};

void RenderManager::drawStretchImage(ImageInterface* image, float x, float y, float w, float h, float s1,
                                     float t1, float s2, float t2) {
  if (!image || !imageMaterial_)
    return;
  uint8_t c[4];
  for (int i = 0; i < 4; i++)
    c[i] = uint8_t(color_[i] * 255.0f + 0.5f);
  DrawVertex v[4];
  quadVerts(v, x, y, w, h, s1, t1, s2, t2, c);
  begin2D();
  ImageInterface* saved = imageMaterial_->stages[0].images[0];
  imageMaterial_->stages[0].images[0] = image;
  drawFlat(v, 4, kQuadIndexes, 6, imageMaterial_);
  imageMaterial_->stages[0].images[0] = saved;
  end2D();
}

void RenderManager::drawStretchPic(Material* material, float x, float y, float w, float h, float s1, float t1,
                                   float s2, float t2) {
  static const uint8_t kWhite[4] = {255, 255, 255, 255};
  DrawVertex v[4];
  quadVerts(v, x, y, w, h, s1, t1, s2, t2, kWhite);
  static const int kIndexes[6] = {0, 1, 3, 3, 1, 2};
  begin2D();
  drawTriangles2D(v, kIndexes, 4, 6, material, 1, 0, 0, 640, 480);
  end2D();
}

void RenderManager::drawTriangles2D(const DrawVertex* verts, const int* indexes, int numVerts, int numIndexes,
                                    Material* material, int, int, int, int, int) {
  constexpr int kMax = 16384;  // the surface builder's capacity
  if (!material || !verts || !indexes || !initialised_ || numVerts <= 0 || numIndexes <= 0 ||
      numVerts > kMax || numIndexes > kMax)
    return;
  List<unsigned> idx(numIndexes);
  for (int i = 0; i < numIndexes; i++) {
    // An index outside the block would read past the uploaded vertices.
    if (indexes[i] < 0 || indexes[i] >= numVerts)
      return;
    idx.append(unsigned(indexes[i]));
  }
  // The 2D colour tints the vertices' own colours (callers that set the colour give white ones).
  List<DrawVertex> tinted(numVerts);
  for (int i = 0; i < numVerts; i++) {
    DrawVertex v = verts[i];
    for (int c = 0; c < 4; c++)
      v.color[c] = uint8_t(float(v.color[c]) * color_[c] + 0.5f);
    tinted.append(v);
  }
  const bool own2D = g_renderBackEnd.passMode() != kPassMode2D;
  if (own2D)
    begin2D();
  drawFlat(tinted.ptr(), numVerts, idx.ptr(), numIndexes, material);
  if (own2D) {
    outline2DTriangles(idx.ptr(), numIndexes);
    end2D();
  }
}

void RenderManager::drawRectOutline(float x, float y, float w, float h, float lineWidth) {
  if (!g_renderInterface || !flatMaterial_)
    return;
  // Four thin quads along the outline's lines. The line width is in pixels, like a GL line's:
  // in 640 x 480 units it shrinks as the window grows, so the outline keeps its thickness.
  const float lw = lineWidth > 0.0f ? lineWidth : 1.0f;
  int vp[4];
  g_renderBackEnd.getViewport(vp);
  const float lwx = vp[2] > 0 ? lw * 640.0f / float(vp[2]) : lw;
  const float lwy = vp[3] > 0 ? lw * 480.0f / float(vp[3]) : lw;
  const float x0 = x + 1.0f, x1 = x + w - 1.0f, y0 = y + 0.5f, y1 = y + h - 1.5f;
  uint8_t c[4];
  for (int i = 0; i < 4; i++)
    c[i] = uint8_t(color_[i] * 255.0f + 0.5f);
  DrawVertex v[16];
  quadVerts(v + 0, x0 - lwx * 0.5f, y0, lwx, y1 - y0, 0, 0, 1, 1, c);   // left
  quadVerts(v + 4, x0, y1 - lwy * 0.5f, x1 - x0, lwy, 0, 0, 1, 1, c);   // bottom
  quadVerts(v + 8, x1 - lwx * 0.5f, y0, lwx, y1 - y0, 0, 0, 1, 1, c);   // right
  quadVerts(v + 12, x0, y0 - lwy * 0.5f, x1 - x0, lwy, 0, 0, 1, 1, c);  // top
  unsigned idx[24];
  for (int q = 0; q < 4; q++)
    for (int i = 0; i < 6; i++)
      idx[q * 6 + i] = kQuadIndexes[i] + unsigned(q * 4);
  begin2D();
  drawFlat(v, 16, idx, 24, flatMaterial_);
  end2D();
}

void RenderManager::setRenderSize(int width, int height, bool powerOfTwo, bool inPixels) {
  if (inPixels) {
    renderWidth_ = width;
    renderHeight_ = height;
  } else {
    renderWidth_ = int(float(width) / 640.0f * float(viewWidth()) + 0.5f);
    renderHeight_ = int(float(height) / 480.0f * float(viewHeight()) + 0.5f);
  }
  if (powerOfTwo) {
    renderWidth_ = largestPowerOfTwo(renderWidth_);
    renderHeight_ = largestPowerOfTwo(renderHeight_);
  }
  g_renderBackEnd.setRenderSize(renderWidth_, renderHeight_);
}

void RenderManager::resetRenderSize() {
  renderWidth_ = viewWidth();
  renderHeight_ = viewHeight();
  g_renderBackEnd.setRenderSize(renderWidth_, renderHeight_);
  g_renderBackEnd.setViewport(0, 0, renderWidth_, renderHeight_);
  if (g_renderInterface)
    g_renderBackEnd.applyViewport();
}

bool RenderManager::readImageThroughManager(const char* name, void* buffer, int bufferSize, int* outWidth,
                                            int* outHeight, int* outBitsPerPixel) {
  // Built-in and generated images are found as they are; others load from their files.
  ImageInterface* image = g_texManager->findImage(name, kImageAny);
  if (!image)
    image = g_texManager->findImage(name, 0);
  if (!image)
    return false;
  bool ok = false;
  if (image->bind() && image->info.width > 0 && image->info.height > 0) {
    int format = image->info.pixelFormat;
    int bits = imageFormatBitsPerPixel(format);
    // Compressed images read back as RGBA.
    if (bits < 8 || bits % 8 != 0) {
      format = kPixelFormatRGBA;
      bits = 32;
    }
    const int64_t size = int64_t(image->info.width) * image->info.height * (bits / 8);
    if (size > 0 && size <= kImageMaxPixels * 16) {
      std::vector<uint8_t> pixels(size_t(size), 0);
      g_renderInterface->getTexImage(image->info.textureType, format, pixels.data());
      if (outWidth)
        *outWidth = image->info.width;
      if (outHeight)
        *outHeight = image->info.height;
      if (outBitsPerPixel)
        *outBitsPerPixel = bits;
      std::memcpy(buffer, pixels.data(), size_t(size < bufferSize ? size : bufferSize));
      ok = bufferSize >= size;
    }
  }
  g_texManager->releaseImage(image);
  return ok;
}

bool RenderManager::getImageData(const char* name, void* buffer, int bufferSize, int* outWidth, int* outHeight,
                                 int* outBitsPerPixel) {
  // A negative size or no buffer copies nothing.
  if (!name || !name[0] || !buffer || bufferSize < 0)
    return false;
  if (g_texManager && g_renderInterface)
    return readImageThroughManager(name, buffer, bufferSize, outWidth, outHeight, outBitsPerPixel);
  // Without a device: the image's file.
  // The image's file, by its own extension or the ones images are looked up with.
  using Loader = bool (*)(const char*, ImageData*);
  struct Format {
    const char* ext;
    Loader load;
  };
  static const Format kFormats[] = {{".tga", loadTGA}, {".jpg", loadJPEG}, {".dds", loadDDS}, {".bmp", loadBMP}};
  ImageData data = {};
  bool loaded = false;
  const char* dot = std::strrchr(name, '.');
  for (const Format& f : kFormats) {
    if (dot && std::strlen(dot) == 4) {
      if (std::strcmp(dot, f.ext) == 0)
        loaded = f.load(name, &data);
      continue;
    }
    char path[512];
    if (std::snprintf(path, sizeof(path), "%s%s", name, f.ext) >= int(sizeof(path)))
      return false;
    if ((loaded = f.load(path, &data)))
      break;
  }
  if (!loaded || !data.pixels)
    return false;
  if (outWidth)
    *outWidth = data.info.width;
  if (outHeight)
    *outHeight = data.info.height;
  if (outBitsPerPixel)
    *outBitsPerPixel = imageFormatBitsPerPixel(data.info.pixelFormat);
  const int size = data.byteSize > 0 ? data.byteSize : 0;
  std::memcpy(buffer, data.pixels, size_t(size < bufferSize ? size : bufferSize));
  imageFree(data.pixels);
  return size != 0 && bufferSize >= size;
}

// --- Operations owned by later subsystems: each warns once and answers failure ---

int RenderManager::registerFont(const char* name) {
  return fonts_.registerFont(name);
}

void RenderManager::reloadFonts() {
  fonts_.reloadFonts();
}

void RenderManager::drawText640(int font, float x, float y, float scale, const char* text, int length) {
  // A caller in 2D mode (an interface on a model surface) has placed the 640 x 480 units itself.
  const bool own2D = g_renderBackEnd.passMode() != kPassMode2D;
  if (own2D)
    begin2D();
  fonts_.drawText(font, x, y, scale, text, length);
  if (own2D)
    end2D();
}

void RenderManager::drawString640(int font, float x, float y, float scale, const char* text) {
  if (!text)
    return;
  // As drawText640, with the height following the window's aspect.
  g_renderBackEnd.setOrtho2DAspect(640.0f, 480.0f);
  g_renderBackEnd.setPassMode(kPassMode2D);
  g_renderBackEnd.setClipPlane0(nullptr);
  g_renderBackEnd.setDepthFuncOverride(kCompareAlways);
  fonts_.drawText(font, x, y, scale, text, int(std::strlen(text)));
  end2D();
}

void RenderManager::drawText(int font, float x, float y, float scale, const char* text, int length) {
  fonts_.drawText(font, x, y, scale, text, length);
}

void RenderManager::setTextClipRect(float x, float y, float w, float h) {
  fonts_.setTextClipRect(x, y, w, h);
}

void RenderManager::enableTextClip(bool enable) {
  fonts_.enableTextClip(enable);
}

int RenderManager::getTextClipPlanes(Plane** out) {
  return fonts_.getTextClipPlanes(out);
}

int RenderManager::setTextAlignment(int mode) {
  return fonts_.setTextAlignment(mode);
}

int RenderManager::getFontHeight(int font) {
  return fonts_.getFontHeight(font);
}

int RenderManager::getTextWidth(int font, const char* text, int length) {
  return fonts_.getTextWidth(font, text, length);
}

// The engine core's text (frame rate, camera area): one colour and alignment for this text only.
void RenderManager::drawText(const char* text, float x, float y, float scale, int font, int align,
                             const float* color) {
  if (!text)
    return;
  float saved[4];
  getColor(saved);
  if (color)
    setColorV(color);
  const int savedAlign = fonts_.alignment();
  fonts_.setTextAlignment(align);
  drawText640(font, x, y, scale, text, int(std::strlen(text)));
  fonts_.setTextAlignment(savedAlign);
  setColorV(saved);
}

void RenderManager::projectDecal(const float (*winding)[5], const Vec3& origin, bool parallel, float depth,
                                 Material* material, int time) {
  renderDecals().projectDecal(*this, winding, 4, origin, parallel, depth, material, time);
}
void RenderManager::projectDecalOnEntity(int entity, const float (*winding)[5], const Vec3& origin, bool parallel,
                                         float depth, Material* material, int time) {
  // The decal clips against the instance as it is drawn now: built for the entity's parameters.
  if (EntityRecord* record = entityRecord(entity))
    refreshInstance(record);
  renderDecals().projectDecalOnEntity(*this, entity, winding, 4, origin, parallel, depth, material, time);
}
void RenderManager::addEntityOverlay(int entity, const Plane* planes, Material* material) {
  if (planes)
    renderDecals().addEntityOverlay(*this, entity, planes[0], planes[1], material);
}
void RenderManager::removeEntityDecals(int entity) { renderDecals().removeEntityDecals(entity); }
// Spatial queries and model traces: renderqueries.cpp; debug primitives: debugprims.cpp; screen
// capture: rendercapture.cpp.
