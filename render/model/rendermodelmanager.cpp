// The render-model manager: model list, default model, geometry allocator with its free lists,
// and the "reloadModels" / "listModels" commands.
#include "render/model/rendermodelmanager.h"

#include <cstring>
#include <new>

#include "lib/interface/cmdsystem.h"
#include "lib/interface/managerfactory.h"
#include "lib/interface/rendersystem.h"
#include "lib/str.h"
#include "render/model/basemodel.h"
#include "render/model/dynamicmodel.h"
#include "render/model/worldrendermodels.h"

namespace {

RenderModelManager* s_manager = nullptr;

void cmdReloadModels(const CmdArgs&) {
  if (g_renderModelSystem)
    g_renderModelSystem->reloadModels(true);
}

void cmdListModels(const CmdArgs&) {
  if (g_renderModelSystem)
    g_renderModelSystem->listModels();
}

bool createForCommon() { return getRenderModelSystem() != nullptr; }

void shutdownForCommon() {
  if (g_renderModelSystem)
    g_renderModelSystem->shutdown();
}

const RegisterManagerFactory s_registerModels(kManagerRenderModel, createForCommon, shutdownForCommon,
                                              destroyRenderModelSystem);

size_t blockBytes(int numVerts, int numIndexes) {
  return size_t(numVerts) * sizeof(DrawVertex) + size_t(numIndexes) * sizeof(int) * 2 +
         size_t(numIndexes / 3) * sizeof(Plane);
}

// Points the arrays into the block by its capacity.
void splitBlock(SurfaceGeometry* g) {
  uint8_t* p = static_cast<uint8_t*>(g->block);
  DrawVertex* verts = reinterpret_cast<DrawVertex*>(p);
  p += size_t(g->blockVerts) * sizeof(DrawVertex);
  int* indexes = reinterpret_cast<int*>(p);
  p += size_t(g->blockIndexes) * sizeof(int);
  g->edgeOfIndex = reinterpret_cast<int*>(p);
  p += size_t(g->blockIndexes) * sizeof(int);
  g->planes = reinterpret_cast<Plane*>(p);
  if (g->indexOnly) {
    g->reserveVerts = verts;
    g->reserveIndexes = indexes;
    g->verts = nullptr;
    g->indexes = nullptr;
  } else {
    g->verts = verts;
    g->indexes = indexes;
  }
}

// The free record that fits (numVerts, numIndexes) best: an exact fit at once, else the first that
// holds both, replaced only by one strictly smaller in both counts.
SurfaceGeometry* bestFit(LinkList<SurfaceGeometry>& list, int numVerts, int numIndexes) {
  SurfaceGeometry* best = nullptr;
  for (SurfaceGeometry* g = list.nextOwner(); g; g = g->link.nextOwner()) {
    if (g->blockVerts == numVerts && g->blockIndexes == numIndexes)
      return g;
    if (g->blockIndexes < numIndexes || g->blockVerts < numVerts)
      continue;
    if (!best || (g->blockIndexes < best->blockIndexes && g->blockVerts < best->blockVerts))
      best = g;
  }
  return best;
}

void createBuffers(SurfaceGeometry* g, bool vertexBuffer, bool secondBuffer) {
  if (!g_renderInterface)
    return;
  if (vertexBuffer && !g->vertexBuffer)
    g->vertexBuffer = g_renderInterface->createVertexBuffer();
  if (secondBuffer) {
    if (!g->secondBuffer)
      g->secondBuffer = g_renderInterface->createVertexBuffer();
    g->secondBufferValid = 0;
  }
}

void releaseRecord(SurfaceGeometry* g) {
  delete[] g->edges;
  g->edges = nullptr;
  delete[] static_cast<uint8_t*>(g->block);
  g->block = nullptr;
  if (g_renderInterface) {
    g_renderInterface->freeVertexBuffer(&g->vertexBuffer);
    g_renderInterface->freeVertexBuffer(&g->secondBuffer);
  }
  delete g;
}

}  // namespace

RenderModelSystem* getRenderModelSystem() {
  if (!s_manager) {
    s_manager = new RenderModelManager();
    g_renderModelSystem = s_manager;
    s_manager->init();
    installWorldRenderHooks();
  }
  return s_manager;
}

void destroyRenderModelSystem() {
  RenderModelManager* manager = s_manager;
  s_manager = nullptr;
  if (manager)
    removeWorldRenderHooks();
  if (g_renderModelSystem == manager)
    g_renderModelSystem = nullptr;
  delete manager;
}

RenderModelManager::RenderModelManager() : models_(16) {}

RenderModelManager::~RenderModelManager() {
  // Models reach the allocator through the interface pointer while they are freed.
  RenderModelSystem* previous = g_renderModelSystem;
  g_renderModelSystem = this;
  shutdown();
  g_renderModelSystem = previous == this ? nullptr : previous;
  models_.clear();
  freeGeometry_.remove();
  freeIndexOnly_.remove();
}

void RenderModelManager::init() {
  if (g_cmdSystem) {
    g_cmdSystem->addCommand("reloadModels", cmdReloadModels, kCmdFlagEngine | kCmdFlagVideo, "reloads models");
    g_cmdSystem->addCommand("listModels", cmdListModels, kCmdFlagEngine | kCmdFlagVideo, "lists models");
  }
}

void RenderModelManager::shutdown() {
  freeModelBuffers();
  while (models_.num() > 0)
    freeModel(models_[0]);
  models_.clear();
  purgeFreeGeometry();
}

void RenderModelManager::freeAllModels() { shutdown(); }

void RenderModelManager::ensureDefaultModel() {
  if (models_.num() > 0)
    return;
  BaseModel* model = new BaseModel();
  models_.append(model);
  model->makeDefault();
}

BaseModel* RenderModelManager::allocEmptyModel() {
  ensureDefaultModel();
  BaseModel* model = new BaseModel();
  model->init("empty");
  models_.append(model);
  return model;
}

void RenderModelManager::freeModel(RenderModel* model) {
  if (!model)
    return;
  removeModel(model);
  delete model;
}

RenderModel* RenderModelManager::findModel(const char* name) {
  if (!name || !*name)
    return nullptr;
  for (RenderModel* model : models_) {
    if (String::icmp(model->name(), name) == 0)
      return model;
  }
  return nullptr;
}

RenderModel* RenderModelManager::findOrLoadModel(const char* name) {
  if (RenderModel* found = findModel(name))
    return found;
  ensureDefaultModel();
  if (!name)
    name = "";
  if (std::strstr(name, ".dmesh")) {
    BaseModel* model = g_dynamicModelFactory ? g_dynamicModelFactory() : new DynamicModel();
    models_.append(model);
    model->init(name);
    model->reload();
    return model;
  }
  BaseModel* model = new BaseModel();
  models_.append(model);
  model->init(name);
  model->reload();
  return model;
}

void RenderModelManager::addModel(RenderModel* model) {
  if (!model)
    return;
  ensureDefaultModel();
  if (models_.findIndex(model) < 0)
    models_.append(model);
}

void RenderModelManager::removeModel(RenderModel* model) { models_.remove(model); }

void RenderModelManager::reloadModels(bool force) {
  if (models_.num() == 0)
    return;
  RenderModel* first = models_[0];
  first->purge();
  purgeFreeGeometry();
  // Model 0 is the manager's own BaseModel unless a caller removed it; either way it becomes the
  // default box again.
  static_cast<BaseModel*>(first)->makeDefault();
  for (int i = 1; i < models_.num(); i++) {
    RenderModel* model = models_[i];
    if (!force && !model->isLoaded())
      continue;
    model->purge();
    purgeFreeGeometry();
    model->reload();
  }
  if (g_renderSystem)
    g_renderSystem->precacheInteractions();
}

void RenderModelManager::listModels() {
  if (!g_cmdSystem)
    return;
  double totalBytes = 0.0;
  int listed = 0;
  for (RenderModel* model : models_) {
    if (model->isDefaultModel() || !model->isLoaded())
      continue;
    int tris = 0;
    for (int s = 0; s < model->numSurfaces(); s++) {
      const SurfaceGeometry* g = model->getSurface(s)->geometry;
      tris += g ? g->numIndexes / 3 : 0;
    }
    const int bytes = model->memoryUsed();
    g_cmdSystem->printf("%8.2f Kbytes :%2d surfs :%4d tris :%2d joints : %s\n", double(bytes) / 1024.0,
                        model->numSurfaces(), tris, model->numJointPoses(), model->name());
    totalBytes += double(bytes);
    listed++;
  }
  g_cmdSystem->printf("\n%.2f Kbytes used in %d models\n\n", totalBytes / 1024.0, listed);
}

void RenderModelManager::freeModelBuffers() {
  for (RenderModel* model : models_)
    static_cast<BaseModel*>(model)->freeGpuBuffers();
}

SurfaceGeometry* RenderModelManager::newRecord(int numVerts, int numIndexes) {
  SurfaceGeometry* g = new SurfaceGeometry();
  g->blockVerts = numVerts;
  g->blockIndexes = numIndexes;
  // Zeroed so that a record never hands out stale bytes of an earlier owner of the memory.
  g->block = new uint8_t[blockBytes(numVerts, numIndexes) + 1]();
  return g;
}

void RenderModelManager::resetForReuse(SurfaceGeometry* g) {
  g->link.remove();
  g->bounds.clear();
  g->closed = 0;
  g->secondBufferValid = 0;
  g->facetsValid = 0;
  g->tag = -1;
  g->numVerts = 0;
  g->numIndexes = 0;
  g->numEdges = 0;
  delete[] g->edges;
  g->edges = nullptr;
  g->reserveVertCount = 0;
  g->reserveIndexCount = g->reserveIndexCount2 = g->reserveIndexCount3 = 0;
  g->lightmap = -1;
  g->shadowVerts = nullptr;
  g->numShadowVerts = 0;
  g->shadowIndexes = nullptr;
  g->numShadowIndexes = 0;
  g->shadowSideEnd = g->shadowCapStart = g->capBits = 0;
  g->noCaps = g->noFrontCaps = g->shadowUploaded = 0;
  g->planeBits = g->clipBits = 0;
  splitBlock(g);
}

SurfaceGeometry* RenderModelManager::allocSurfaceGeometry(int numVerts, int numIndexes, int flags) {
  if (numVerts < 0 || numIndexes < 0 || numVerts > kGeometryMaxVerts || numIndexes > kGeometryMaxIndexes) {
    cmdPrintf("WARNING: geometry of %d vertices and %d indexes refused\n", numVerts, numIndexes);
    return nullptr;
  }
  if ((flags & kGeometryIndexes) && !(flags & kGeometryVertices))
    return allocIndexOnly(numVerts, numIndexes);

  SurfaceGeometry* g = bestFit(freeGeometry_, numVerts, numIndexes);
  if (g) {
    resetForReuse(g);
  } else {
    g = newRecord(numVerts, numIndexes);
    splitBlock(g);
  }
  if (flags & kGeometryGpuBuffers)
    createBuffers(g, (flags & kGeometryVertices) != 0, (flags & kGeometryIndexes) != 0);
  g->numVerts = numVerts;
  g->numIndexes = numIndexes;
  return g;
}

SurfaceGeometry* RenderModelManager::allocIndexOnly(int numVerts, int numIndexes) {
  SurfaceGeometry* g = bestFit(freeIndexOnly_, numVerts, numIndexes);
  if (g) {
    resetForReuse(g);
  } else {
    g = newRecord(numVerts, numIndexes);
    g->indexOnly = 1;
    splitBlock(g);
  }
  createBuffers(g, false, true);
  g->reserveVertCount = numVerts;
  g->reserveIndexCount = g->reserveIndexCount2 = g->reserveIndexCount3 = numIndexes;
  return g;
}

void RenderModelManager::purgeFreeGeometry() {
  for (LinkList<SurfaceGeometry>* list : {&freeGeometry_, &freeIndexOnly_}) {
    while (SurfaceGeometry* g = list->nextOwner()) {
      g->link.remove();
      releaseRecord(g);
    }
  }
}

void RenderModelManager::freeSurfaceGeometry(SurfaceGeometry* geometry) {
  if (!geometry)
    return;
  delete[] geometry->edges;
  geometry->edges = nullptr;
  geometry->numEdges = 0;
  geometry->link.remove();
  // Records the manager did not make (the surface builder's own) are never listed or released.
  if (!geometry->block)
    return;
  geometry->link.addToEnd(geometry->indexOnly ? freeIndexOnly_ : freeGeometry_);
}

int RenderModelManager::numFreeGeometry() const { return freeGeometry_.num() + freeIndexOnly_.num(); }
