#include "render/model/worldrendermodels.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "lib/interface/collisionsystem.h"
#include "lib/interface/rendersystem.h"
#include "lib/interface/worldmodelsink.h"
#include "lib/str.h"
#include "render/material/collisionmaterials.h"
#include "render/model/basemodel.h"
#include "render/model/modelmaterial.h"
#include "render/model/rendermodelmanager.h"

namespace {

// The surface number of an "_area%d" model, else -1.
int areaNumber(const char* name) {
  if (String::icmpn(name, "_area", 5) != 0)
    return -1;
  return std::atoi(name + 5);
}

bool fillSurface(BaseModel* model, const WorldSurface& in, int id) {
  const int numVerts = in.numVerts();
  const int numIndexes = int(in.indexes.size());
  SurfaceGeometry* g = model->allocGeometry(numVerts, numIndexes);
  if (!g)
    return false;
  g->lightmap = in.lightmap;
  g->bounds.clear();
  for (int v = 0; v < numVerts; ++v) {
    const float* f = &in.verts[size_t(v) * 10];
    DrawVertex& dv = g->verts[v];
    dv = DrawVertex{};
    std::memcpy(dv.xyz, f, sizeof(float) * 3);
    std::memcpy(dv.st, f + 3, sizeof(float) * 2);
    std::memcpy(dv.spare, f + 5, sizeof(float) * 2);
    std::memcpy(dv.normal, f + 7, sizeof(float) * 3);
    std::memset(dv.color, 255, sizeof(dv.color));
    g->bounds.addPoint(Vec3(f[0], f[1], f[2]));
  }
  if (numIndexes > 0)
    std::memcpy(g->indexes, in.indexes.data(), size_t(numIndexes) * sizeof(int));
  deriveNormalsAndTangents(g->verts, numVerts, g->indexes, numIndexes, g->planes, true);
  g->facetsValid = 1;
  // The map's index of the surface rides in the tag until the back sides are added.
  g->tag = id;
  model->addSurface({findModelMaterial(in.material.c_str()), g, -1});
  return true;
}

class WorldSink : public WorldModelSink {
 public:
  RenderModel* addModel(const WorldModel& model) override { return buildWorldRenderModel(model); }
  bool refillModel(RenderModel* model, const WorldModel& source) override {
    if (!model || !(model->getFlags() & kModelFlagWorld))
      return false;
    if (source.shadow)
      fillShadowRenderModel(static_cast<BaseModel*>(model), source);
    else
      fillWorldRenderModel(static_cast<BaseModel*>(model), source);
    return true;
  }
};

class RenderModelReader : public CollisionRenderModels {
 public:
  bool isKnown(const char* name) override { return g_renderModelSystem && g_renderModelSystem->findModel(name); }
  const void* load(const char* name) override {
    return g_renderModelSystem ? g_renderModelSystem->findOrLoadModel(name) : nullptr;
  }
  bool isDefault(const void* model) override { return !model || asModel(model)->isDefaultModel(); }
  bool isWorldModel(const void* model) override {
    return model && (asModel(model)->getFlags() & kModelFlagWorld) != 0;
  }
  int numSurfaces(const void* model) override { return model ? asModel(model)->numSurfaces() : 0; }
  bool surface(const void* model, int index, CollisionRenderSurface& out) override {
    out = CollisionRenderSurface();
    const ModelSurface* s = model ? asModel(model)->getSurface(index) : nullptr;
    if (!s)
      return false;
    out.material = s->material;
    if (const SurfaceGeometry* g = s->geometry) {
      out.vertices = g->verts;
      out.numVertices = g->verts ? g->numVerts : 0;
      out.indexes = g->indexes;
      out.numIndexes = g->indexes ? g->numIndexes : 0;
      out.facePlanes = g->facetsValid ? g->planes : nullptr;
    }
    return true;
  }
  Bounds bounds(const void* model) override {
    Bounds b;
    if (model)
      asModel(model)->getBounds(b, nullptr);
    return b;
  }

 private:
  static RenderModel* asModel(const void* model) { return const_cast<RenderModel*>(static_cast<const RenderModel*>(model)); }
};

class RendererDebugDraw : public CollisionDebugDraw {
 public:
  void polygon(const Vec4& color, const ConvexPolygon& winding, const Vec3& origin, const Mat3& axis, int lifetime,
               bool depthTest) override {
    if (!g_renderSystem)
      return;
    const float rgba[4] = {color.x, color.y, color.z, color.w};
    g_renderSystem->debugPolygon(rgba, winding, origin, axis, false, lifetime, depthTest);
  }
};

WorldSink s_worldSink;
RenderModelReader s_renderModels;
RendererDebugDraw s_debugDraw;

}  // namespace

RenderModel* buildWorldRenderModel(const WorldModel& model) {
  if (!g_renderModelSystem)
    return nullptr;
  // The manager makes only static meshes here.
  BaseModel* out = static_cast<BaseModel*>(g_renderModelSystem->allocEmptyModel());
  if (model.shadow)
    fillShadowRenderModel(out, model);
  else
    fillWorldRenderModel(out, model);
  return out;
}

void fillShadowRenderModel(BaseModel* out, const WorldModel& model) {
  out->init(model.name.c_str());
  out->setWorldModel(true);
  const int numVerts = int(model.shadowPoints.size() / 3);
  const int numIndexes = int(model.shadowIndexes.size());
  if (numVerts <= 0 || numIndexes <= 0)
    return;
  SurfaceGeometry* g = out->allocGeometry(numVerts, numIndexes);
  if (!g) {
    out->makeDefault();
    out->setWorldModel(true);
    return;
  }
  // The volume lives in the shadow arrays, laid over the record's vertex and index storage (a
  // DrawVertex holds more than the four floats of a shadow vertex), as the prelight builder
  // leaves its own.
  float* shadowVerts = reinterpret_cast<float*>(g->verts);
  g->bounds.clear();
  for (int v = 0; v < numVerts; ++v) {
    const float* p = &model.shadowPoints[size_t(v) * 3];
    shadowVerts[v * 4] = p[0];
    shadowVerts[v * 4 + 1] = p[1];
    shadowVerts[v * 4 + 2] = p[2];
    shadowVerts[v * 4 + 3] = 1.0f;
    g->bounds.addPoint(Vec3(p[0], p[1], p[2]));
  }
  std::memcpy(g->indexes, model.shadowIndexes.data(), size_t(numIndexes) * sizeof(int));
  g->shadowVerts = shadowVerts;
  g->numShadowVerts = numVerts;
  g->shadowIndexes = g->indexes;
  g->numShadowIndexes = numIndexes;
  g->numVerts = 0;
  g->numIndexes = 0;
  g->noCaps = uint8_t(model.noCaps != 0);
  g->noFrontCaps = uint8_t(model.noFrontCaps != 0);
  g->planeBits = model.planeBits;
  out->addSurface({nullptr, g, -1});
}

int freeWorldRenderModels() {
  // The hooks are installed only beside the manager itself.
  if (!g_renderModelSystem || g_worldModelSink != &s_worldSink)
    return 0;
  RenderModelManager* manager = static_cast<RenderModelManager*>(g_renderModelSystem);
  int freed = 0;
  // Model 0 is the manager's default box, never a world's.
  for (int i = manager->numModels() - 1; i >= 1; --i) {
    RenderModel* model = manager->modelAt(i);
    if (model && (model->getFlags() & kModelFlagWorld)) {
      manager->freeModel(model);
      ++freed;
    }
  }
  return freed;
}

void fillWorldRenderModel(BaseModel* out, const WorldModel& model) {
  out->init(model.name.c_str());
  out->setMode(kModelGpuBuffers);
  out->setWorldModel(true);
  const int area = areaNumber(model.name.c_str());
  for (size_t s = 0; s < model.surfaces.size(); ++s) {
    if (!fillSurface(out, model.surfaces[s], int(s))) {
      // A surface the allocator refuses spoils the model: the default box stands in.
      out->makeDefault();
      out->setWorldModel(true);
      return;
    }
  }
  out->addBackSides();
  // Back sides are appended in place of the surfaces they double: put every surface back at its
  // index in the map (the world's queries hand out render surface n for the map's surface n) and
  // give each the area number.
  const int count = out->numSurfaces();
  std::vector<ModelSurface> ordered(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i)
    ordered[size_t(i)] = *out->getSurface(i);
  std::stable_sort(ordered.begin(), ordered.end(), [](const ModelSurface& a, const ModelSurface& b) {
    return (a.geometry ? a.geometry->tag : -1) < (b.geometry ? b.geometry->tag : -1);
  });
  for (int i = 0; i < count; ++i) {
    ModelSurface& s = *out->getSurface(i);
    s = ordered[size_t(i)];
    s.id = area;
    if (s.geometry)
      s.geometry->tag = -1;
  }
}

void installWorldRenderHooks() {
  if (!g_worldModelSink)
    g_worldModelSink = &s_worldSink;
  if (!g_collisionRenderModels)
    g_collisionRenderModels = &s_renderModels;
  if (!g_collisionMaterialAccess)
    g_collisionMaterialAccess = collisionMaterialAccess();
  if (!g_collisionDebugDraw)
    g_collisionDebugDraw = &s_debugDraw;
}

void removeWorldRenderHooks() {
  if (g_worldModelSink == &s_worldSink)
    g_worldModelSink = nullptr;
  if (g_collisionRenderModels == &s_renderModels)
    g_collisionRenderModels = nullptr;
  if (g_collisionMaterialAccess == collisionMaterialAccess())
    g_collisionMaterialAccess = nullptr;
  if (g_collisionDebugDraw == &s_debugDraw)
    g_collisionDebugDraw = nullptr;
}
