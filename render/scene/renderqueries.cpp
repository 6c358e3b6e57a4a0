// The render manager's world queries: area, portal and visibility questions forwarded to the loaded
// spatial system, the area bit sets of a view and of a point, the map's entity dictionaries, and
// the two traces against an entity's instance model (nearest hit, in-world interface hit).
#include <cstdio>
#include <cstring>

#include "lib/interface/cmdsystem.h"
#include "lib/interface/commonsystem.h"
#include "lib/interface/spatialsystem.h"
#include "lib/interface/userinterfacesystem.h"
#include "lib/keydict.h"
#include "lib/str.h"
#include "render/backend/renderbackend.h"
#include "render/material/material.h"
#include "render/model/basemodel.h"
#include "render/model/dynamicmodel.h"
#include "render/model/surfacetrace.h"
#include "render/scene/rendermanager.h"

namespace {

void setAreaBits(AreaBitArray* bits, const int* areas, int count) {
  for (int i = 0; i < count; i++) {
    const int a = areas[i];
    if (a >= 0 && a < bits->numBits && (a >> 3) < bits->bytes.num())
      bits->bytes[a >> 3] = uint8_t(bits->bytes[a >> 3] | (1 << (a & 7)));
  }
}

SpatialView spatialViewOf(const RenderView& view, const BackEndViewState& state) {
  SpatialView out;
  out.origin = view.origin;
  for (int i = 0; i < 6; i++)
    out.frustum[i] = state.frustum[i];
  for (int i = 0; i < 16; i++) {
    out.modelView[i] = state.modelView[i];
    out.projection[i] = state.projection[i];
  }
  out.viewDistance = state.zFar;
  return out;
}

Vec3 vertexXyz(const DrawVertex& v) { return Vec3(v.xyz[0], v.xyz[1], v.xyz[2]); }

// The interface coordinates (0..1) of a point on a gui surface: the texture coordinates of the
// triangle holding the point, interpolated over it (the interface is drawn with those coordinates).
bool guiCoordinates(const SurfaceGeometry& g, const Vec3& point, float* u, float* v) {
  if (!g.indexes || !g.verts)
    return false;
  for (int t = 0; t + 2 < g.numIndexes; t += 3) {
    const int i0 = g.indexes[t], i1 = g.indexes[t + 1], i2 = g.indexes[t + 2];
    if (i0 < 0 || i1 < 0 || i2 < 0 || i0 >= g.numVerts || i1 >= g.numVerts || i2 >= g.numVerts)
      continue;
    const Vec3 p0 = vertexXyz(g.verts[i0]);
    const Vec3 e1 = vertexXyz(g.verts[i1]) - p0;
    const Vec3 e2 = vertexXyz(g.verts[i2]) - p0;
    const Vec3 d = point - p0;
    const float a = e1.dot(e1), b = e1.dot(e2), c = e2.dot(e2);
    const float det = a * c - b * b;
    if (!(det > 1e-12f))
      continue;
    const float w1 = (c * d.dot(e1) - b * d.dot(e2)) / det;
    const float w2 = (a * d.dot(e2) - b * d.dot(e1)) / det;
    // The point lies in this triangle (with a little slack for the trace's rounding).
    constexpr float kSlack = 1e-3f;
    const Vec3 onPlane = p0 + e1 * w1 + e2 * w2;
    if (w1 < -kSlack || w2 < -kSlack || w1 + w2 > 1.0f + kSlack || (onPlane - point).lengthSqr() > 0.01f)
      continue;
    const float* s0 = g.verts[i0].st;
    const float* s1 = g.verts[i1].st;
    const float* s2 = g.verts[i2].st;
    *u = s0[0] + w1 * (s1[0] - s0[0]) + w2 * (s2[0] - s0[0]);
    *v = s0[1] + w1 * (s1[1] - s0[1]) + w2 * (s2[1] - s0[1]);
    return true;
  }
  return false;
}

}  // namespace

// --- Map entities ---

int RenderManager::getNumMapEntities() {
  const List<KeyDict*>* list = g_spatialSystem ? g_spatialSystem->getEntities() : nullptr;
  return list ? list->num() : 0;
}

KeyDict* RenderManager::getMapEntityDict(int index) {
  static KeyDict* s_empty = new KeyDict();
  const List<KeyDict*>* list = g_spatialSystem ? g_spatialSystem->getEntities() : nullptr;
  if (!list || index < 0 || index >= list->num() || !(*list)[index])
    return s_empty;
  // The loading screen shows the entity pass's progress.
  if (g_activeGui && g_commonSystem) {
    g_activeGui->setStateFloat("map_loading", float(index) / float(list->num()) * 0.75f + 0.25f);
    char status[64];
    std::snprintf(status, sizeof(status), "loading entitiy '%d'", index);
    g_activeGui->setStateString("map_loadstatus", status);
    g_commonSystem->updateLoading();
  }
  return (*list)[index];
}

// --- Forwarders: answers without a loaded map are "nothing there" ---

int RenderManager::getNumPortals() { return g_spatialSystem ? g_spatialSystem->getNumPortals() : 0; }

int RenderManager::findPortal(const Bounds& bounds) {
  return g_spatialSystem ? g_spatialSystem->findPortal(bounds) : 0;
}

void RenderManager::setPortalState(int portal, int state) {
  if (g_spatialSystem)
    g_spatialSystem->setPortalState(portal, state);
}

int RenderManager::getPortalState(int portal) {
  return g_spatialSystem ? g_spatialSystem->getPortalState(portal) : 0;
}

void RenderManager::getConnectedAreas(AreaBitArray& bits, int mask, const Vec3& point) {
  if (g_spatialSystem)
    g_spatialSystem->getConnectedAreas(bits, mask, point);
}

bool RenderManager::areasConnected(int a, int b, int mask) {
  return g_spatialSystem && g_spatialSystem->areasConnected(a, b, mask);
}

int RenderManager::getNumAreas() { return g_spatialSystem ? g_spatialSystem->getNumAreas() : 0; }

int RenderManager::pointToArea(const Vec3& point) {
  if (!g_spatialSystem)
    return -1;
  const float p[3] = {point.x, point.y, point.z};
  return g_spatialSystem->pointToArea(p);
}

int RenderManager::areasInBounds(const Bounds& bounds, int* out, int max) {
  if (!g_spatialSystem || !out || max <= 0)
    return 0;
  return g_spatialSystem->areasInBounds(bounds, out, max);
}

// --- Area bit sets ---

void RenderManager::getViewPVS(const RenderView* view, AreaBitArray* pvs) {
  if (!view || !pvs)
    return;
  const RenderView saved = view_;
  setRenderView(view, view->time);
  g_renderBackEnd.applyViewMatrices();
  computeViewPVS(pvs);
  setRenderView(&saved, saved.time);
}

void RenderManager::computeViewPVS(AreaBitArray* pvs) {
  const int numAreas = getNumAreas();
  if (pvs->numBits < numAreas) {
    if (g_cmdSystem)
      g_cmdSystem->printf("WARNING: pvsArray.size() < getNumAreas(), be sure to resize before calling getViewPVS()\n");
    return;
  }
  for (uint8_t& b : pvs->bytes)
    b = 0;
  if (numAreas <= 0)
    return;
  List<int> areas(16);
  areas.setNum(numAreas);
  const SpatialView sv = spatialViewOf(*g_renderBackEnd.getView(), g_renderBackEnd.viewState());
  int count = g_spatialSystem->areasVisibleFromView(&sv, areas.ptr(), numAreas);
  setAreaBits(pvs, areas.ptr(), count < numAreas ? count : numAreas);
}

void RenderManager::collectAreas(const Vec3& point, AreaBitArray* bits) {
  if (!bits)
    return;
  const int numAreas = getNumAreas();
  const int bytes = ((numAreas + 7) / 8 + 3) & ~3;
  bits->numBits = numAreas;
  if (bits->bytes.num() < bytes)
    bits->bytes.setNum(bytes);
  for (uint8_t& b : bits->bytes)
    b = 0;
  if (numAreas <= 0)
    return;
  List<int> areas(16);
  areas.setNum(numAreas);
  const Vec3 reach(65536.0f, 65536.0f, 65536.0f);
  const int count =
      g_spatialSystem->areasVisibleFromPoint(point, Bounds(point - reach, point + reach), areas.ptr(), numAreas);
  setAreaBits(bits, areas.ptr(), count < numAreas ? count : numAreas);
}

// --- Traces against an entity's instance model ---

// The joint that weighs most on a vertex of a skinned source model; -1 for a static model.
static int hitJoint(const RenderModel* model, int surface, int vertex) {
  const DynamicModel* skinned = dynamic_cast<const DynamicModel*>(model);
  if (skinned == nullptr) {
    return -1;
  }
  const int position = skinned->dominantInfluence(surface, vertex);
  const VertexInfluence* influences = skinned->influences(surface);
  if (position < 0 || influences == nullptr) {
    return -1;
  }
  return influences[vertex].joints[position];
}

bool RenderManager::traceEntityModel(ModelTraceResult* out, int index, const Vec3& start, const Vec3& end,
                                     float radius) {
  if (!out)
    return false;
  *out = ModelTraceResult();
  out->fraction = 1.0f;
  out->endPosition = end;
  out->jointIndex = -1;
  EntityRecord* record = entityRecord(index);
  if (!record)
    return false;
  refreshInstance(record);
  out->entity = &record->parms;
  BaseModel* instance = record->instanceModel;
  if (!instance)
    return false;
  for (int s = 0; s < instance->numSurfaces(); s++) {
    const ModelSurface* surface = instance->getSurface(s);
    if (!surface || !surface->geometry)
      continue;
    Material* material = surface->material;
    if (material && (material->materialFlags & kMaterialNonSolid))
      continue;
    SurfaceTraceHit hit;
    if (traceSurfaceTriangles(*surface->geometry, start, end, radius, hit, out->fraction, false)) {
      out->plane = hit.plane;
      out->endPosition = hit.point;
      out->material = material;
      out->jointIndex = hitJoint(record->parms.model, s, hit.firstIndex);
    }
  }
  return out->fraction < 1.0f;
}

GuiTraceResult RenderManager::guiTrace(int index, const Vec3& start, const Vec3& end) {
  GuiTraceResult result;
  EntityRecord* record = entityRecord(index);
  if (!record)
    return result;
  refreshInstance(record);
  BaseModel* instance = record->instanceModel;
  if (!instance)
    return result;
  float best = 1e30f;
  for (int s = 0; s < instance->numSurfaces(); s++) {
    const ModelSurface* surface = instance->getSurface(s);
    Material* material = surface ? surface->material : nullptr;
    if (!material || !surface->geometry || surface->geometry->numIndexes < 3)
      continue;
    const int guiIndex = material->guiEntity;
    // An entity slot by the material's index, else the material's own interface.
    const void* gui = guiIndex >= 0 && guiIndex < 3 ? record->parms.guis[guiIndex] : material->gui;
    if (!gui)
      continue;
    const SurfaceGeometry& g = *surface->geometry;
    ConvexPolygon triangle;
    for (int k = 0; k < 3; k++) {
      const int i = g.indexes[k];
      if (i < 0 || i >= g.numVerts)
        break;
      triangle.addPoint(vertexXyz(g.verts[i]));
    }
    if (triangle.numPoints != 3)
      continue;
    Plane plane;
    triangle.computePlane(plane);
    if (!(plane.distance(start) > 0.0f))
      continue;
    // An interface that failed to load takes no clicks.
    if (!static_cast<UserInterface*>(const_cast<void*>(gui))->isValid())
      continue;
    SurfaceTraceHit hit;
    float fraction = 1.0f;
    if (!traceSurfaceTriangles(g, start, end, 0.0f, hit, fraction, false))
      continue;
    float u = 0.0f, v = 0.0f;
    if (!guiCoordinates(g, hit.point, &u, &v))
      continue;
    if (u < 0.0f || u > 1.0f || v < 0.0f || v > 1.0f)
      continue;
    const float distance = (hit.point - start).length();
    if (distance >= best)
      continue;
    best = distance;
    result.guiIndex = guiIndex;
    result.x = u * 640.0f;
    result.y = v * 480.0f;
  }
  return result;
}
