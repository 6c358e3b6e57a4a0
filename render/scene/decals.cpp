// Projected decals and entity overlays: projection planes, clipping of world and entity triangles
// into the pool, the per-frame decal model with fades and expiry, and overlay slots.
//
// Sections: pool and life, projection, clipping, the decal model, overlays.
#include "render/scene/decals.h"

#include <cmath>
#include <cstring>
#include <vector>

#include "lib/interface/convarsystem.h"
#include "lib/interface/materialsystem.h"
#include "lib/interface/spatialsystem.h"
#include "lib/matrix.h"
#include "lib/polygon.h"
#include "render/backend/renderbackend.h"
#include "render/material/material.h"
#include "render/model/basemodel.h"
#include "render/model/surfacebuilder.h"
#include "render/scene/rendermanager.h"

static ConVar r_lightqualityD2("r_lightquality", "2", 0x30012, "0=lightmap, 1=hybrid, 2=dynamic", 0.0f, 2.0f);

namespace {

// A triangle clipped against 2 + 64 planes gains at most one point per plane.
constexpr int kMaxProjectionPlanes = 2 + kDecalMaxProjectionPoints;
constexpr int kMaxClipPoints = 3 + kMaxProjectionPlanes;

struct ClipPolygon {
  int numPoints = 0;
  Vec3 points[kMaxClipPoints];
};

// Scratch of the clipper (static: no allocation per decal); one array for world decals and one
// for entity decals, as they are filled from different sources.
ClipPolygon s_worldClipped[kDecalMaxClipped];
ClipPolygon s_entityClipped[kDecalMaxClipped];

// Keeps the part behind the plane (distance <= 0).
void clipBehind(ClipPolygon& poly, const Plane& plane) {
  if (poly.numPoints == 0)
    return;
  float dist[kMaxClipPoints + 1];
  bool anyFront = false;
  for (int i = 0; i < poly.numPoints; i++) {
    dist[i] = plane.distance(poly.points[i]);
    anyFront |= dist[i] > 0.0f;
  }
  if (!anyFront)
    return;
  ClipPolygon out;
  for (int i = 0; i < poly.numPoints; i++) {
    const int j = i + 1 == poly.numPoints ? 0 : i + 1;
    const Vec3& a = poly.points[i];
    const Vec3& b = poly.points[j];
    if (dist[i] <= 0.0f && out.numPoints < kMaxClipPoints)
      out.points[out.numPoints++] = a;
    if ((dist[i] > 0.0f) != (dist[j] > 0.0f) && out.numPoints < kMaxClipPoints) {
      const float f = dist[i] / (dist[i] - dist[j]);
      out.points[out.numPoints++] = a + (b - a) * f;
    }
  }
  // Points that clipping put on top of one another (a cut through a corner) are dropped.
  int kept = 0;
  for (int i = 0; i < out.numPoints; i++) {
    if (kept > 0 && (out.points[i] - out.points[kept - 1]).lengthSqr() < 1e-6f)
      continue;
    out.points[kept++] = out.points[i];
  }
  while (kept > 1 && (out.points[kept - 1] - out.points[0]).lengthSqr() < 1e-6f)
    kept--;
  out.numPoints = kept;
  poly = out;
}

struct Projection {
  Plane planes[kMaxProjectionPlanes];
  int numPlanes = 0;
  Bounds bounds;
  Mat3 frame;  // first tangent, second tangent, normal
  Plane sPlane, tPlane;
  float fade = 0.0f;
  bool valid = false;
};

// Projection planes, bounds, tangent frame and texture planes of a winding of (x, y, z, s, t).
Projection makeProjection(const float (*winding)[5], int count, const Vec3& origin, bool parallel) {
  Projection p;
  if (!winding || count < 3)
    return p;
  if (count > kDecalMaxProjectionPoints)
    count = kDecalMaxProjectionPoints;
  Vec3 pts[kDecalMaxProjectionPoints];
  for (int i = 0; i < count; i++)
    pts[i] = Vec3(winding[i][0], winding[i][1], winding[i][2]);
  // The winding's plane, as ConvexPolygon computes it.
  ConvexPolygon poly;
  poly.numPoints = count;
  for (int i = 0; i < count; i++)
    poly.points[i] = pts[i];
  Plane plane0;
  poly.computePlane(plane0);
  const Vec3 n = plane0.normal();
  if (n.lengthSqr() < 0.5f)
    return p;
  p.planes[0] = plane0;
  const Vec3 negated = -n;
  p.planes[1] = Plane(negated, negated.dot(origin));
  p.bounds.clear();
  const float e = n.dot(origin) - plane0.d;
  for (int i = 0; i < count; i++) {
    const Vec3& a = pts[i];
    const Vec3& b = pts[i + 1 == count ? 0 : i + 1];
    const Vec3 apex = parallel ? a + n * e : origin;
    Vec3 normal = (a - b).cross(apex - b);
    Plane side;
    if (normal.lengthSqr() > 0.0f) {
      normal.normalize();
      side = Plane(normal, normal.dot(a));
    }
    p.planes[2 + i] = side;
    p.bounds.addPoint(apex);
    p.bounds.addPoint(b);
  }
  p.numPlanes = 2 + count;
  // Tangent frame from points 2, 1, 0 and their texture coordinates.
  p.frame = triangleTangents(pts[2], pts[1], pts[0], Vec2(winding[2][3], winding[2][4]),
                             Vec2(winding[1][3], winding[1][4]), Vec2(winding[0][3], winding[0][4]));
  for (int axis = 0; axis < 2; axis++) {
    const Vec3& tangent = p.frame.rows[axis];
    float lo = 1e30f, hi = -1e30f;
    for (int i = 0; i < count; i++) {
      const float d = tangent.dot(pts[i]);
      lo = d < lo ? d : lo;
      hi = d > hi ? d : hi;
    }
    const float range = hi - lo;
    Plane& out = axis == 0 ? p.sPlane : p.tPlane;
    out = range > 1e-6f ? Plane(tangent / range, lo / range) : Plane(Vec3(), -0.5f);
  }
  p.valid = true;
  return p;
}

bool boundsMeet(const Bounds& a, const Bounds& b) {
  return !(a.mins.x > b.maxs.x || a.maxs.x < b.mins.x || a.mins.y > b.maxs.y || a.maxs.y < b.mins.y ||
           a.mins.z > b.maxs.z || a.maxs.z < b.mins.z);
}

// Clips one surface's triangles against the projection; the number of result polygons.
int clipSurface(const ModelSurface& surface, const Projection& p, ClipPolygon* out) {
  if (!materialTakesDecals(surface.material))
    return 0;
  const SurfaceGeometry* g = surface.geometry;
  if (!g || !g->verts || !g->indexes || !boundsMeet(g->bounds, p.bounds))
    return 0;
  const Vec3 n0 = p.planes[0].normal();
  int found = 0;
  for (int t = 0; t + 2 < g->numIndexes && found < kDecalMaxClipped; t += 3) {
    const int i0 = g->indexes[t], i1 = g->indexes[t + 1], i2 = g->indexes[t + 2];
    if (i0 < 0 || i1 < 0 || i2 < 0 || i0 >= g->numVerts || i1 >= g->numVerts || i2 >= g->numVerts)
      continue;
    const Vec3 a(g->verts[i0].xyz[0], g->verts[i0].xyz[1], g->verts[i0].xyz[2]);
    const Vec3 b(g->verts[i1].xyz[0], g->verts[i1].xyz[1], g->verts[i1].xyz[2]);
    const Vec3 c(g->verts[i2].xyz[0], g->verts[i2].xyz[1], g->verts[i2].xyz[2]);
    Bounds tb;
    tb.addPoint(a);
    tb.addPoint(b);
    tb.addPoint(c);
    if (!boundsMeet(tb, p.bounds))
      continue;
    Plane facet;
    if (g->facetsValid && g->planes)
      facet = g->planes[t / 3];
    else
      facet.fromPoints(a, b, c);
    // Only triangles that face the projector.
    if (facet.normal().dot(n0) >= -1e-6f)
      continue;
    ClipPolygon& poly = out[found];
    poly.numPoints = 3;
    poly.points[0] = a;
    poly.points[1] = b;
    poly.points[2] = c;
    for (int k = 0; k < p.numPlanes && poly.numPoints > 0; k++) {
      if (p.planes[k].normal().lengthSqr() > 0.0f)
        clipBehind(poly, p.planes[k]);
    }
    if (poly.numPoints > 2)
      found++;
  }
  return found;
}

}  // namespace

bool materialTakesDecals(const Material* material) {
  if (!material || material->getNumStages() == 0)
    return false;
  const uint32_t flags = material->getMaterialFlags();
  if (flags & kMaterialForceOverlay)
    return true;
  const uint32_t refused = kMaterialAreaPortal | kMaterialNoDraw | kMaterialNoImpact | kMaterialNoMarks |
                           kMaterialNonSolid | kMaterialTranslucent;
  return (flags & refused) == 0;
}

// ---------------------------------------------------------------------------------------------
// Pool and life

RenderDecals::RenderDecals() = default;

RenderDecals::~RenderDecals() { shutdown(); }

void RenderDecals::init() {
  // The entities' overlay slots outlive a renderer restart ("vid_restart" keeps the entities, and
  // their new instances have the same vertices): only the pool and its model start again.
  freePool();
  for (DecalPolygon& polygon : pool_)
    polygon.link.addToEnd(free_);
  model_ = new BaseModel();
  model_->init("_decalModel_");
  model_->setMode(kModelGpuBuffers);
  upToDate_ = false;
  initialised_ = true;
}

void RenderDecals::ensureInit() {
  if (!initialised_)
    init();
}

void RenderDecals::freePool() {
  used_.remove();
  free_.remove();
  delete model_;
  model_ = nullptr;
  surfaceTimes_.clear();
  initialised_ = false;
}

void RenderDecals::shutdown() {
  freePool();
  for (OverlaySlot*& slots : overlays_) {
    delete[] slots;
    slots = nullptr;
  }
  overlays_.clear();
  surfaceTimes_.clear();
  initialised_ = false;
}

void RenderDecals::clearAll() {
  if (!initialised_)
    return;
  while (DecalPolygon* p = used_.nextOwner())
    freePolygon(p);
  for (int e = 0; e < overlays_.num(); e++)
    clearOverlays(e);
}

DecalPolygon* RenderDecals::allocPolygon() {
  if (free_.isListEmpty())
    freePolygon(used_.nextOwner());
  DecalPolygon* polygon = free_.nextOwner();
  polygon->link.addToEnd(used_);
  upToDate_ = false;
  return polygon;
}

void RenderDecals::freePolygon(DecalPolygon* polygon) {
  if (!polygon)
    return;
  polygon->link.addToEnd(free_);
  upToDate_ = false;
}

void RenderDecals::removeEntityDecals(int entity) {
  ensureInit();
  for (DecalPolygon* p = used_.nextOwner(); p;) {
    DecalPolygon* next = p->link.nextOwner();
    if (p->entity == entity)
      freePolygon(p);
    p = next;
  }
  clearOverlays(entity);
}

void RenderDecals::addDecalVertices(const DrawVertex* vertices, int count, Material* material, int time) {
  ensureInit();
  if (!vertices || count < 3)
    return;
  if (count > kDecalMaxPoints)
    count = kDecalMaxPoints;
  DecalPolygon* polygon = allocPolygon();
  polygon->time = time;
  polygon->entity = -1;
  polygon->material = material;
  polygon->numVerts = count;
  for (int i = 0; i < count; i++) {
    DrawVertex& v = polygon->vertices[i];
    v = DrawVertex{};
    v.xyz[0] = vertices[i].xyz[0];
    v.xyz[1] = vertices[i].xyz[1];
    v.xyz[2] = vertices[i].xyz[2] + 0.01f;
    v.st[0] = vertices[i].st[0];
    v.st[1] = vertices[i].st[1];
    v.tangents[0][0] = 1.0f;
    v.tangents[1][1] = 1.0f;
    v.normal[2] = 1.0f;
    std::memset(v.color, 255, sizeof(v.color));
  }
}

// ---------------------------------------------------------------------------------------------
// Projection

namespace {

void fillVertex(DrawVertex& v, const Vec3& position, const Vec3& fadePoint, const Projection& p, float fade) {
  v = DrawVertex{};
  for (int k = 0; k < 3; k++) {
    v.xyz[k] = position[k];
    v.tangents[0][k] = p.frame.rows[0][k];
    v.tangents[1][k] = p.frame.rows[1][k];
    v.normal[k] = p.frame.rows[2][k];
  }
  v.st[0] = p.sPlane.distance(fadePoint);
  v.st[1] = p.tPlane.distance(fadePoint);
  // The fade over the depth behind both caps; no fade distance: full strength.
  float strength = 1.0f;
  if (fade > 0.0f) {
    const float d0 = -p.planes[0].distance(fadePoint) / fade;
    const float d1 = -p.planes[1].distance(fadePoint) / fade;
    strength = d0 < d1 ? d0 : d1;
  }
  float byte = strength * 255.0f;
  if (!(byte > 0.0f))
    byte = 0.0f;
  if (byte > 255.0f)
    byte = 255.0f;
  std::memset(v.color, int(byte), sizeof(v.color));
}

}  // namespace

void RenderDecals::projectDecal(RenderManager& manager, const float (*winding)[5], int count, const Vec3& origin,
                                bool parallel, float fade, Material* material, int time) {
  (void)manager;
  ensureInit();
  const Projection p = makeProjection(winding, count, origin, parallel);
  if (!p.valid || !g_spatialSystem)
    return;
  static int areas[4096];
  const int numAreas = g_spatialSystem->areasVisibleFromPoint(origin, p.bounds, areas, 4096);
  for (int a = 0; a < numAreas && a < 4096; a++) {
    RenderModel* model = g_spatialSystem->getAreaModel(areas[a]);
    if (!model)
      continue;
    for (int s = 0; s < model->numSurfaces(); s++) {
      const int found = clipSurface(*model->getSurface(s), p, s_worldClipped);
      for (int i = 0; i < found; i++) {
        const ClipPolygon& poly = s_worldClipped[i];
        // Fans of at most 16 points sharing point 0.
        for (int first = 1; first + 1 < poly.numPoints; first += kDecalMaxPoints - 2) {
          const int pieces = poly.numPoints - first < kDecalMaxPoints - 1 ? poly.numPoints - first : kDecalMaxPoints - 1;
          DecalPolygon* d = allocPolygon();
          d->time = time;
          d->entity = -1;
          d->material = material;
          d->numVerts = 1 + pieces;
          for (int k = 0; k < d->numVerts; k++) {
            const Vec3 point = poly.points[k == 0 ? 0 : first + k - 1] + p.frame.rows[2] * 0.125f;
            const Vec3 position = point + p.frame.rows[2] * 0.01f;
            fillVertex(d->vertices[k], position, position, p, fade);
          }
        }
      }
    }
  }
}

void RenderDecals::projectDecalOnEntity(RenderManager& manager, int entity, const float (*winding)[5], int count,
                                        const Vec3& origin, bool parallel, float fade, Material* material, int time) {
  ensureInit();
  RenderManager::EntityRecord* record = manager.entityRecord(entity);
  if (!record || !record->instanceModel)
    return;
  const Projection p = makeProjection(winding, count, origin, parallel);
  if (!p.valid)
    return;
  BaseModel* instance = record->instanceModel;
  // Texture and fade planes are applied in world space; the points are then kept in entity space
  // so that they follow the entity.
  Mat4 toEntity = Mat4::fromMat3(record->parms.axis, record->parms.origin);
  toEntity.inverseRigid();
  for (int s = 0; s < instance->numSurfaces(); s++) {
    const int found = clipSurface(*instance->getSurface(s), p, s_entityClipped);
    for (int i = 0; i < found; i++) {
      const ClipPolygon& poly = s_entityClipped[i];
      for (int first = 1; first + 1 < poly.numPoints; first += kDecalMaxPoints - 2) {
        const int pieces = poly.numPoints - first < kDecalMaxPoints - 1 ? poly.numPoints - first : kDecalMaxPoints - 1;
        DecalPolygon* d = allocPolygon();
        d->time = time;
        d->entity = entity;
        d->material = material;
        d->numVerts = 1 + pieces;
        for (int k = 0; k < d->numVerts; k++) {
          const Vec3 world = poly.points[k == 0 ? 0 : first + k - 1] + p.frame.rows[2] * 0.125f;
          const Vec3 withOffset = world + p.frame.rows[2] * 0.01f;
          fillVertex(d->vertices[k], toEntity.transformPoint(withOffset), withOffset, p, fade);
          const Vec3 t0 = toEntity.transformVector(p.frame.rows[0]);
          const Vec3 t1 = toEntity.transformVector(p.frame.rows[1]);
          const Vec3 n = toEntity.transformVector(p.frame.rows[2]);
          for (int c = 0; c < 3; c++) {
            d->vertices[k].tangents[0][c] = t0[c];
            d->vertices[k].tangents[1][c] = t1[c];
            d->vertices[k].normal[c] = n[c];
          }
        }
      }
    }
  }
}

// ---------------------------------------------------------------------------------------------
// The decal model

BaseModel* RenderDecals::buildDecalModel(RenderManager& manager) {
  ensureInit();
  const int now = manager.currentView().time;
  for (DecalPolygon* p = used_.nextOwner(); p;) {
    DecalPolygon* next = p->link.nextOwner();
    const bool gone = p->entity >= 0 && !manager.entityRecord(p->entity);
    if (gone || p->time + kDecalLifetime < now)
      freePolygon(p);
    p = next;
  }
  // Entity decals need no world: without one the surfaces simply carry no area.
  if (!upToDate_) {
    model_->init("_decalModel_");
    surfaceTimes_.setNum(0);
    for (DecalPolygon* run = used_.nextOwner(); run;) {
      int points = 0, indexes = 0;
      DecalPolygon* end = run;
      for (; end && end->time == run->time && end->material == run->material; end = end->link.nextOwner()) {
        points += end->numVerts;
        indexes += (end->numVerts - 2) * 3;
      }
      SurfaceGeometry* g = model_->allocGeometry(points, indexes);
      if (!g)
        break;
      g->numVerts = 0;
      g->numIndexes = 0;
      g->bounds.clear();
      for (DecalPolygon* p = run; p != end; p = p->link.nextOwner()) {
        const int base = g->numVerts;
        for (int k = 1; k + 1 < p->numVerts; k++) {
          g->indexes[g->numIndexes++] = base;
          g->indexes[g->numIndexes++] = base + k;
          g->indexes[g->numIndexes++] = base + k + 1;
        }
        RenderManager::EntityRecord* record = p->entity >= 0 ? manager.entityRecord(p->entity) : nullptr;
        const Mat4 place = record ? Mat4::fromMat3(record->parms.axis, record->parms.origin) : Mat4();
        for (int k = 0; k < p->numVerts; k++) {
          DrawVertex v = p->vertices[k];
          if (record) {
            const Vec3 xyz = place.transformPoint(Vec3(v.xyz[0], v.xyz[1], v.xyz[2]));
            const Vec3 t0 = place.transformVector(Vec3(v.tangents[0][0], v.tangents[0][1], v.tangents[0][2]));
            const Vec3 t1 = place.transformVector(Vec3(v.tangents[1][0], v.tangents[1][1], v.tangents[1][2]));
            const Vec3 n = place.transformVector(Vec3(v.normal[0], v.normal[1], v.normal[2]));
            for (int c = 0; c < 3; c++) {
              v.xyz[c] = xyz[c];
              v.tangents[0][c] = t0[c];
              v.tangents[1][c] = t1[c];
              v.normal[c] = n[c];
            }
          }
          g->bounds.addPoint(Vec3(v.xyz[0], v.xyz[1], v.xyz[2]));
          g->verts[g->numVerts++] = v;
        }
      }
      int area = -1;
      int areas[2];
      if (g_spatialSystem && g_spatialSystem->areasInBounds(g->bounds, areas, 2) == 1)
        area = areas[0];
      model_->addSurface({run->material, g, area});
      surfaceTimes_.append(run->time);
      run = end;
    }
    upToDate_ = true;
    // Polygons at the very end of their life are drawn in this frame and gone in the next.
    for (DecalPolygon* p = used_.nextOwner(); p;) {
      DecalPolygon* next = p->link.nextOwner();
      if (p->time + kDecalLifetime == now)
        freePolygon(p);
      p = next;
    }
  }
  return model_;
}

// ---------------------------------------------------------------------------------------------
// Overlays

const OverlaySlot* RenderDecals::overlays(int entity) const {
  return entity >= 0 && entity < overlays_.num() ? overlays_[entity] : nullptr;
}

void RenderDecals::clearOverlays(int entity) {
  if (entity < 0 || entity >= overlays_.num() || !overlays_[entity])
    return;
  for (int i = 0; i < kOverlaySlots; i++) {
    OverlaySlot& slot = overlays_[entity][i];
    slot.entries.clear();
    slot.material = nullptr;
    slot.surface = -1;
    slot.time = 0;
  }
}

void RenderDecals::addEntityOverlay(RenderManager& manager, int entity, const Plane& sPlane, const Plane& tPlane,
                                    Material* material) {
  ensureInit();
  RenderManager::EntityRecord* record = manager.entityRecord(entity);
  if (!record || !record->parms.model)
    return;
  RenderModel* model = record->parms.model;
  // The planes are in the entity's own space, where the model's vertices are (the instance
  // model's world-space vertices taken back by the inverse entity transform give the same).
  std::vector<OverlayEntry> kept;
  for (int s = 0; s < model->numSurfaces(); s++) {
    const ModelSurface* surface = model->getSurface(s);
    if (!surface || !materialTakesDecals(surface->material))
      continue;
    const SurfaceGeometry* g = surface->geometry;
    if (!g || !g->verts || !g->indexes)
      continue;
    kept.clear();
    kept.reserve(size_t(g->numIndexes));
    for (int t = 0; t + 2 < g->numIndexes; t += 3) {
      OverlayEntry tri[3];
      float smin = 1e30f, smax = -1e30f, tmin = 1e30f, tmax = -1e30f;
      bool ok = true;
      for (int k = 0; k < 3; k++) {
        const int index = g->indexes[t + k];
        if (index < 0 || index >= g->numVerts) {
          ok = false;
          break;
        }
        const Vec3 p(g->verts[index].xyz[0], g->verts[index].xyz[1], g->verts[index].xyz[2]);
        tri[k] = {index, sPlane.distance(p), tPlane.distance(p)};
        smin = std::fmin(smin, tri[k].s);
        smax = std::fmax(smax, tri[k].s);
        tmin = std::fmin(tmin, tri[k].t);
        tmax = std::fmax(tmax, tri[k].t);
      }
      if (!ok || smax < 0.0f || smin > 1.0f || tmax < 0.0f || tmin > 1.0f)
        continue;
      kept.insert(kept.end(), tri, tri + 3);
    }
    if (kept.empty())
      continue;
    if (overlays_.num() <= entity) {
      const int old = overlays_.num();
      overlays_.setNum(entity + 1);
      for (int i = old; i <= entity; i++)
        overlays_[i] = nullptr;
    }
    if (!overlays_[entity])
      overlays_[entity] = new OverlaySlot[kOverlaySlots];
    OverlaySlot* slots = overlays_[entity];
    OverlaySlot* target = nullptr;
    for (int i = 0; i < kOverlaySlots && !target; i++) {
      if (slots[i].entries.num() == 0)
        target = &slots[i];
    }
    if (!target) {
      target = &slots[0];
      for (int i = 1; i < kOverlaySlots; i++) {
        if (slots[i].time < target->time)
          target = &slots[i];
      }
    }
    target->entries.clear();
    target->time = manager.currentView().time;
    for (const OverlayEntry& e : kept)
      target->entries.append(e);
    target->material = material;
    target->surface = s;
  }
}

// ---------------------------------------------------------------------------------------------
// Drawing

void RenderManager::addDecalSurfaces() {
  RenderModel* model = decalModel_;
  const List<int>* times = nullptr;
  if (model == nullptr) {
    model = renderDecals().buildDecalModel(*this);
    times = &renderDecals().surfaceTimes();
  }
  if (model == nullptr) {
    return;
  }
  // Decals are marks on what is already there: they never cast shadows of their own.
  decalEntity_ = RenderEntity();
  decalEntity_.noShadows = 1;
  for (int i = 0; i < 4; i++) {
    decalEntity_.shaderParms[i] = 1.0f;
  }
  for (int s = 0; s < model->numSurfaces(); s++) {
    const ModelSurface* surface = model->getSurface(s);
    const SurfaceGeometry* g = surface != nullptr ? surface->geometry : nullptr;
    if (g == nullptr || g->numVerts <= 0 || g->numIndexes <= 0) {
      continue;
    }
    // The entry is ours (a draw-list slot): its own parameter 4 carries the decal's age.
    DrawSurface* ds = const_cast<DrawSurface*>(addDrawSurface(surface, &decalEntity_));
    if (ds != nullptr && times != nullptr && s < times->num()) {
      ds->shaderParms[4] = -float((*times)[s]) * 0.001f;
    }
  }
}

void RenderManager::projectBlobShadows() {
  if (g_spatialSystem == nullptr || r_lightqualityD2.getInt() > 1) {
    return;
  }
  Material* blob =
      blobShadowMaterial_ != nullptr ? blobShadowMaterial_ : findMaterial("_simpleShadow", false);
  if (blob == nullptr) {
    return;
  }
  // A 64-unit square centred 2 units above the entity's origin, projected straight down. The
  // winding is the far end of the projection (a decal volume runs from its winding towards its
  // origin, and takes triangles facing that way), so it lies below the ground the entity stands on.
  constexpr float kHalf = 32.0f;
  constexpr float kDepth = 64.0f;
  for (EntityRecord* record : collected_) {
    if (record->parms.noShadows != 0) {
      continue;
    }
    const Vec3& o = record->parms.origin;
    const float z = o.z - kDepth;
    const float winding[4][5] = {{o.x - kHalf, o.y - kHalf, z, 0, 0},
                                 {o.x - kHalf, o.y + kHalf, z, 0, 1},
                                 {o.x + kHalf, o.y + kHalf, z, 1, 1},
                                 {o.x + kHalf, o.y - kHalf, z, 1, 0}};
    // Stamped a lifetime ago: drawn in this frame and released after it.
    renderDecals().projectDecal(*this, winding, 4, o + Vec3(0, 0, 2), true, 0.0f, blob,
                                view_.time - kDecalLifetime);
  }
}

void RenderManager::drawEntityOverlays() {
  overlayTriangles_ = 0;
  if (g_renderInterface == nullptr) {
    return;
  }
  const RenderDecals& decals = renderDecals();
  for (int e = 0; e < entities_.num(); e++) {
    EntityRecord* record = entities_[e];
    const OverlaySlot* slots = decals.overlays(e);
    if (record == nullptr || slots == nullptr || record->instanceModel == nullptr ||
        !entityInView(*record, view_)) {
      continue;
    }
    for (int i = 0; i < kOverlaySlots; i++) {
      const OverlaySlot& slot = slots[i];
      if (slot.surface < 0 || slot.material == nullptr || slot.entries.num() < 3) {
        continue;
      }
      const ModelSurface* surface = record->instanceModel->getSurface(slot.surface);
      const SurfaceGeometry* g = surface != nullptr ? surface->geometry : nullptr;
      if (g == nullptr || g->verts == nullptr) {
        continue;
      }
      DrawSurface whole;
      whole.surface = surface;
      if (!surfaceInFrustum(whole)) {
        continue;
      }
      if (overlayBuilder_ == nullptr) {
        overlayBuilder_ = new SurfaceBuilder();
      }
      SurfaceBuilder* builder = overlayBuilder_;
      const int count = slot.entries.num() - slot.entries.num() % 3;
      if (!builder->hasRoom(count, count) || !builder->begin(SurfaceBuilder::kTriangles)) {
        continue;
      }
      builder->colorF(1.0f, 1.0f, 1.0f, 1.0f);
      bool ok = true;
      for (int k = 0; k < count && ok; k++) {
        const OverlayEntry& entry = slot.entries[k];
        // The instance was rebuilt with another layout since the slot was filled.
        ok = entry.vertex >= 0 && entry.vertex < g->numVerts;
        if (!ok) {
          break;
        }
        DrawVertex v = g->verts[entry.vertex];
        v.st[0] = entry.s;
        v.st[1] = entry.t;
        std::memset(v.color, 255, sizeof(v.color));
        builder->vertexFull(v);
      }
      builder->end();
      SurfaceGeometry* built = builder->getGeometry();
      if (!ok || built == nullptr || built->numIndexes <= 0) {
        continue;
      }
      slot.material->ensureLoaded();
      ModelSurface drawn;
      builder->getDrawSurface(drawn, slot.material);
      DrawSurface ds;
      ds.entity = &record->parms;
      std::memcpy(ds.shaderParms, record->parms.shaderParms, sizeof(ds.shaderParms));
      ds.surface = &drawn;
      ds.material = slot.material;
      ds.vertexBuffer = built->vertexBuffer;
      ds.indexes = reinterpret_cast<const unsigned*>(built->indexes);
      ds.numIndexes = built->numIndexes;
      g_renderBackEnd.setDrawSurface(&ds);
      g_renderBackEnd.drawAmbientStages(true, true);
      g_renderBackEnd.drawTrisOverlay();
      overlayTriangles_ += ds.numIndexes / 3;
    }
  }
  g_renderBackEnd.setDrawSurface(nullptr);
}

RenderDecals& renderDecals() {
  static RenderDecals s_decals;
  return s_decals;
}
