// Shadow masks and prelight shadow volumes of the static world, per shadow-casting light entity.
#include "world/staticshadows.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <unordered_map>

#include "lib/interface/cmdsystem.h"
#include "lib/interface/convarsystem.h"
#include "lib/interface/declsystem.h"
#include "lib/interface/renderinterface.h"
#include "lib/interface/rendermodelsystem.h"
#include "lib/interface/rendersystem.h"
#include "lib/interface/materialsystem.h"
#include "lib/keydict.h"
#include "lib/str.h"
#include "render/material/material.h"
#include "world/bspworld.h"
#include "world/mapentities.h"

namespace {

constexpr float kTinyEpsilon = 0.2f;
constexpr int kMaxPyramidPlanes = ConvexPolygon::kMaxPoints + 1;
constexpr uint32_t kNoCastFlags = kMaterialDiscrete | kMaterialNoShadows | kMaterialNoSelfShadow;

bool keep(const ConvexPolygon& poly) { return poly.numPoints > 2 && !poly.isTiny(kTinyEpsilon); }

ConvexPolygon trianglePolygon(const ShadowSurface& s, int t, bool& ok) {
  ConvexPolygon poly;
  ok = false;
  const int n = int(s.points.size());
  const int a = s.indexes[size_t(t)], b = s.indexes[size_t(t) + 1], c = s.indexes[size_t(t) + 2];
  if (a < 0 || b < 0 || c < 0 || a >= n || b >= n || c >= n)
    return poly;
  poly.numPoints = 3;
  poly.points[0] = s.points[size_t(a)];
  poly.points[1] = s.points[size_t(b)];
  poly.points[2] = s.points[size_t(c)];
  ok = true;
  return poly;
}

template <class Fn>
void forEachTriangle(const ShadowSurface& s, Fn&& fn) {
  const int count = int(s.indexes.size()) / 3 * 3;
  for (int t = 0; t < count; t += 3) {
    bool ok;
    ConvexPolygon poly = trianglePolygon(s, t, ok);
    if (ok)
      fn(poly);
  }
}

bool appendCapped(PolygonSet& set, const ConvexPolygon& poly, bool& capped) {
  if (set.num() >= kMaxShadowPolygons) {
    capped = true;
    return false;
  }
  set.append(poly);
  return true;
}

// A polygon wholly behind (or on) every plane lies inside the volume they bound.
bool insidePlanes(const ConvexPolygon& poly, const Plane* planes, int count) {
  for (int i = 0; i < count; i++)
    for (int k = 0; k < poly.numPoints; k++)
      if (planes[i].distance(poly.points[k]) > 0.001f)
        return false;
  return true;
}

void capWarning(const char* what) {
  cmdPrintf("WARNING: static shadows: %s of one light reached %d polygons; the rest is dropped\n", what,
            kMaxShadowPolygons);
}

}  // namespace

bool shadowSurfaceCasts(const ShadowSurface& s) {
  return s.interaction && (s.flags & kNoCastFlags) == 0 && s.cull != 0;
}

bool buildShadowMaskPolygons(const ShadowLight& light, const std::vector<ShadowSurface>& surfaces,
                             PolygonSet& mask) {
  mask.clear();
  const Vec3& p = light.point;
  std::vector<const ShadowSurface*> kept;
  for (size_t i = 0; i < surfaces.size(); i++)
    if (shadowSurfaceCasts(surfaces[i]))
      kept.push_back(&surfaces[i]);
  bool capped = false;
  Plane pyramid[kMaxPyramidPlanes];
  for (const ShadowSurface* caster : kept) {
    forEachTriangle(*caster, [&](ConvexPolygon& poly) {
      if (capped)
        return;
      const Plane plane = poly.plane();
      if (plane.distance(p) <= 0.0f)
        return;
      poly.clipInPlace(light.planes, 6);
      if (!keep(poly))
        return;
      const int numPlanes = poly.pyramidPlanes(p, pyramid, kMaxPyramidPlanes, 0.0f);
      if (numPlanes == 0)
        return;
      PolygonSet pieces;
      for (const ShadowSurface* receiver : kept) {
        forEachTriangle(*receiver, [&](ConvexPolygon& piece) {
          if (piece.plane().distance(p) <= 0.0f || piece.planeSide(plane, 0.01f) == ConvexPolygon::kOn)
            return;
          piece.clipInPlace(pyramid, numPlanes);
          if (keep(piece))
            appendCapped(pieces, piece, capped);
        });
      }
      for (int m = 0; m < mask.num() && pieces.num() > 0 && !capped; m++) {
        PolygonSet front, back;
        pieces.splitByPlane(mask[m].plane(), 0.001f, 0.01f, &front, &back);
        if (front.num() + back.num() > kMaxShadowPolygons) {
          capped = true;
          break;
        }
        pieces = front;
        for (int k = 0; k < back.num(); k++)
          pieces.append(back[k]);
      }
      if (pieces.num() > 0)
        pieces.mergeAll(true, false);
      for (int k = 0; k < pieces.num(); k++)
        if (!appendCapped(mask, pieces[k], capped))
          break;
    });
    if (capped)
      break;
  }
  if (mask.num() > 0)
    mask.mergeAll(true, false);
  if (capped)
    capWarning("the shadow mask");
  return !capped;
}

bool buildPrelightPolygons(const ShadowLight& light, const std::vector<ShadowSurface>& surfaces,
                           PrelightPieces& out) {
  out = PrelightPieces();
  const Vec3& p = light.point;
  bool capped = false;
  // Surfaces that force shadows go first.
  std::vector<const ShadowSurface*> order;
  for (const ShadowSurface& s : surfaces)
    if (s.flags & kMaterialForceShadow)
      order.push_back(&s);
  for (const ShadowSurface& s : surfaces)
    if (!(s.flags & kMaterialForceShadow))
      order.push_back(&s);

  PolygonSet& lit = out.lit;
  PolygonSet& casters = out.casters;
  for (const ShadowSurface* s : order) {
    const bool casts = shadowSurfaceCasts(*s) || (s->flags & kMaterialForceShadow);
    if (!casts && !s->interaction)
      continue;
    forEachTriangle(*s, [&](ConvexPolygon& poly) {
      const bool front = poly.plane().distance(p) > 0.0f;
      if (!casts && !front)
        return;
      poly.clipInPlace(light.planes, 6);
      if (!keep(poly))
        return;
      appendCapped(front ? lit : casters, poly, capped);
    });
  }

  // Casters whose shadow falls on no lit triangle go.
  Plane pyramid[kMaxPyramidPlanes];
  if (casters.num() > 0)
    casters.mergeAll(true, false);
  for (int i = casters.num() - 1; i >= 0; i--) {
    ConvexPolygon pushed = casters[i];
    for (int k = 0; k < pushed.numPoints; k++) {
      Vec3 dir = pushed.points[k] - p;
      dir.normalize();
      pushed.points[k] += dir * 0.25f;
    }
    const int numPlanes = pushed.pyramidPlanes(p, pyramid, kMaxPyramidPlanes, 0.0f);
    bool reaches = false;
    for (int k = 0; k < lit.num() && numPlanes > 0 && !reaches; k++) {
      ConvexPolygon piece = lit[k];
      piece.clipInPlace(pyramid, numPlanes);
      reaches = piece.numPoints > 2;
    }
    if (!reaches)
      casters.removeIndex(i);
  }

  // The volume's boundary: the box of every piece grown by 1, and the light's own planes.
  Plane boundary[12];
  int numBoundary = 0;
  Bounds box;
  for (int i = 0; i < casters.num(); i++)
    casters[i].addToBounds(box);
  for (int i = 0; i < lit.num(); i++)
    lit[i].addToBounds(box);
  PolygonSet faces;
  if (!box.isCleared()) {
    box = box.expanded(1.0f);
    box.toPlanes(boundary);
    numBoundary = 6;
    for (int i = 0; i < 6; i++) {
      bool same = false;
      for (int k = 0; k < 6 && !same; k++)
        same = light.planes[i].compare(boundary[k], 0.00001f, 0.001f);
      if (!same)
        boundary[numBoundary++] = light.planes[i];
    }
    for (int i = 0; i < numBoundary; i++) {
      ConvexPolygon face;
      face.clipByPlanes(boundary[i], boundary, numBoundary);
      if (keep(face))
        faces.append(face);
    }
  }

  // Cap reduction: casters edge-on to the light, and casters wholly in the shadow of another, go.
  out.capsBefore = casters.num();
  for (int i = casters.num() - 1; i >= 0; i--)
    if (casters[i].pyramidPlanes(p, pyramid, kMaxPyramidPlanes, 0.0f) == 0)
      casters.removeIndex(i);
  std::vector<bool> gone(size_t(casters.num()), false);
  for (int j = 0; j < casters.num(); j++) {
    if (gone[size_t(j)])
      continue;
    const int numPlanes = casters[j].pyramidPlanes(p, pyramid, kMaxPyramidPlanes, 0.0f);
    for (int i = 0; i < casters.num(); i++)
      if (i != j && !gone[size_t(i)] && insidePlanes(casters[i], pyramid, numPlanes))
        gone[size_t(i)] = true;
  }
  {
    PolygonSet survivors;
    for (int i = 0; i < casters.num(); i++)
      if (!gone[size_t(i)])
        survivors.append(casters[i]);
    std::stable_sort(survivors.begin(), survivors.end(),
                     [](const ConvexPolygon& a, const ConvexPolygon& b) { return a.area() > b.area(); });
    // Tiny casters are flagged and kept whole; every other one loses what a larger one already
    // shadows (the part inside the larger one's pyramid from p, behind it), so their caps do not
    // pile up. What a caster's shadow covers lies inside the larger shadow: the volume is the same.
    std::vector<bool> tiny(size_t(survivors.num()));
    for (int i = 0; i < survivors.num(); i++)
      tiny[size_t(i)] = survivors[i].isTiny(0.2f);
    PolygonSet cut;
    for (int i = 0; i < survivors.num(); i++) {
      PolygonSet pieces;
      pieces.append(survivors[i]);
      for (int j = 0; j < i && !tiny[size_t(i)]; j++) {
        if (tiny[size_t(j)])
          continue;
        const int numPlanes = survivors[j].pyramidPlanes(p, pyramid, kMaxPyramidPlanes, 0.0f);
        if (numPlanes == 0)
          continue;
        PolygonSet next;
        for (int k = 0; k < pieces.num(); k++) {
          // Wholly in front of one of the pyramid's planes (by more than 1): untouched.
          bool apart = false;
          for (int q = 0; q < numPlanes && !apart; q++)
            apart = pieces[k].planeSide(pyramid[q], 1.0f) == ConvexPolygon::kFront;
          if (apart)
            next.append(pieces[k]);
          else
            pieces[k].carveByPlanes(next, pyramid, numPlanes, 0.0f);
        }
        pieces = next;
      }
      for (int k = 0; k < pieces.num(); k++)
        if (pieces[k].numPoints > 2 && (tiny[size_t(i)] || !pieces[k].isTiny(0.001f)))
          cut.append(pieces[k]);
    }
    if (cut.num() > 0)
      cut.mergeAll(false, false);
    casters = cut;
  }
  out.capsAfter = casters.num();
  std::printf("\rcaps = [%-6d -> %-6d]%10s\n", out.capsBefore, out.capsAfter, "");

  // Far caps: each caster's shadow on the boundary.
  const int farCapsStart = lit.num();
  for (int i = casters.num() - 1; i >= 0 && !capped; i--) {
    const int numPlanes = casters[i].pyramidPlanes(p, pyramid, kMaxPyramidPlanes, 0.0f);
    for (int f = 0; f < faces.num() && numPlanes > 0; f++) {
      ConvexPolygon piece = faces[f];
      piece.clipInPlace(pyramid, numPlanes);
      if (keep(piece) && !appendCapped(lit, piece, capped))
        break;
    }
  }

  casters.fixTJunctions();

  // Silhouette: the caster edges not shared (in the opposite direction) with another caster.
  struct Edge {
    Vec3 a, b;
  };
  std::vector<Edge> edges;
  for (int i = 0; i < casters.num(); i++) {
    const ConvexPolygon& c = casters[i];
    for (int k = 0; k < c.numPoints; k++) {
      const Vec3& a = c.points[(k + c.numPoints - 1) % c.numPoints];
      const Vec3& b = c.points[k];
      bool paired = false;
      for (size_t e = 0; e < edges.size(); e++) {
        if (edges[e].a.compare(b, 0.01f) && edges[e].b.compare(a, 0.01f)) {
          edges[e] = edges.back();
          edges.pop_back();
          paired = true;
          break;
        }
      }
      if (!paired)
        edges.push_back({a, b});
    }
  }
  for (const Edge& e : edges) {
    Vec3 da = e.a - p, db = e.b - p;
    if (da.normalize() == 0.0f || db.normalize() == 0.0f)
      continue;
    ConvexPolygon side;
    side.numPoints = 4;
    side.points[0] = e.a;
    side.points[1] = e.b;
    side.points[2] = e.b + db * 32768.0f;
    side.points[3] = e.a + da * 32768.0f;
    side.clipInPlace(boundary, numBoundary);
    if (keep(side) && !appendCapped(out.sides, side, capped))
      break;
  }
  // The volume's pieces also meet along edges that they cut at different points (the side of a
  // door's edge against the far cap of the wall around the door): without the other piece's points
  // in its edge, the triangulated volume has cracks there and is not closed.
  PolygonSet volume;
  for (int i = 0; i < out.sides.num(); i++)
    volume.append(out.sides[i]);
  for (int i = farCapsStart; i < lit.num(); i++)
    volume.append(lit[i]);
  for (int i = 0; i < casters.num(); i++)
    volume.append(casters[i]);
  volume.fixTJunctions();
  int at = 0;
  for (int i = 0; i < out.sides.num(); i++)
    out.sides[i] = volume[at++];
  for (int i = farCapsStart; i < lit.num(); i++)
    lit[i] = volume[at++];
  for (int i = 0; i < casters.num(); i++)
    casters[i] = volume[at++];
  if (capped)
    capWarning("the prelight volume");
  return !capped;
}

namespace {

bool hasSliver(const ConvexPolygon& poly, const List<int>& tris) {
  for (int t = 0; t + 2 < tris.num(); t += 3) {
    const Vec3& a = poly.points[tris[t]];
    const Vec3& b = poly.points[tris[t + 1]];
    const Vec3& c = poly.points[tris[t + 2]];
    if ((b - a).cross(c - a).length() < 0.02f)
      return true;
  }
  return false;
}

}  // namespace

bool triangulatePolygons(const PolygonSet* const* sets, int numSets, float weld, bool centerFallback,
                         ShadowMesh& out) {
  out.points.clear();
  out.indexes.clear();
  // Weld lookup: cells of the weld size; a point is looked for in its cell and the neighbours.
  std::unordered_map<uint64_t, std::vector<int>> cells;
  auto cellOf = [weld](float v) { return int64_t(std::floor(v / weld)); };
  auto key = [](int64_t x, int64_t y, int64_t z) {
    return (uint64_t(x) & 0x1fffff) | ((uint64_t(y) & 0x1fffff) << 21) | ((uint64_t(z) & 0x1fffff) << 42);
  };
  auto addPoint = [&](const Vec3& v) -> int {
    if (weld > 0.0f) {
      const int64_t cx = cellOf(v.x), cy = cellOf(v.y), cz = cellOf(v.z);
      for (int64_t x = cx - 1; x <= cx + 1; x++)
        for (int64_t y = cy - 1; y <= cy + 1; y++)
          for (int64_t z = cz - 1; z <= cz + 1; z++) {
            auto it = cells.find(key(x, y, z));
            if (it == cells.end())
              continue;
            for (int i : it->second) {
              const Vec3& o = out.points[size_t(i)];
              if (std::fabs(o.x - v.x) < weld && std::fabs(o.y - v.y) < weld && std::fabs(o.z - v.z) < weld)
                return i;
            }
          }
      if (int(out.points.size()) >= kMaxShadowMeshPoints)
        return -1;
      cells[key(cx, cy, cz)].push_back(int(out.points.size()));
    } else if (int(out.points.size()) >= kMaxShadowMeshPoints) {
      return -1;
    }
    out.points.push_back(v);
    return int(out.points.size()) - 1;
  };
  List<int> tris;
  for (int s = 0; s < numSets; s++) {
    const PolygonSet& set = *sets[s];
    for (int i = 0; i < set.num(); i++) {
      ConvexPolygon poly = set[i];
      // A point put into an edge by the T-junction fix lies in line with its neighbours: a strip
      // through it can leave a triangle of no area, which a shadow volume's edge count cannot see.
      if ((poly.triangulate(tris) == 0 || (centerFallback && hasSliver(poly, tris))) && centerFallback)
        poly.triangulateWithCenter(tris);
      const int count = tris.num() / 3 * 3;
      if (count == 0)
        continue;
      int map[ConvexPolygon::kMaxPoints + 1];
      for (int k = 0; k < poly.numPoints; k++) {
        map[k] = addPoint(poly.points[k]);
        if (map[k] < 0) {
          cmdPrintf("WARNING: static shadows: a shadow model reached %d points; the rest is dropped\n",
                    kMaxShadowMeshPoints);
          return false;
        }
      }
      for (int k = 0; k < count; k++) {
        const int index = tris[k];
        if (index < 0 || index >= poly.numPoints)
          break;
        out.indexes.push_back(map[index]);
      }
      out.indexes.resize(out.indexes.size() / 3 * 3);
    }
  }
  return true;
}

int shadowSideCode(const Vec3& p, const Vec3& v) {
  // The tolerance is the near plane's distance plus one: a viewer that close to a volume's side
  // may be inside it.
  return Bounds::clipBits(p, v, r_zNearWorld.getFloat() + 1.0f);
}

bool isLightEntity(const KeyDict& dict) {
  const char* cls = dict.getString("classname", "");
  return *cls && String::icmp(cls, "light") == 0;
}

void nameLightEntities(const List<KeyDict*>& entities) {
  int counter = 32;
  for (int i = 0; i < entities.num(); i++) {
    KeyDict* dict = entities[i];
    if (!dict)
      continue;
    const char* cls = dict->getString("classname", "");
    if (String::icmp(cls, "worldspawn") == 0)
      counter--;
    if (!isLightEntity(*dict) || *dict->getString("name", ""))
      continue;
    char name[160];
    std::snprintf(name, sizeof(name), "%.100s_%d", cls, counter + i);
    dict->set("name", name);
  }
}

void adjustPrelightCenter(Vec3& center, const Vec3& radius, const Mat3& axis, int shape, int flags) {
  if (flags & kLightParallel) {
    Vec3 dir = center;
    dir.normalize();
    center = dir * 99999.0f;
  }
  if (shape != 4) {
    for (int a = 0; a < 3; a++)
      if (std::fabs(std::fabs(center[a]) - radius[a]) <= 0.999f)
        center[a] -= (center[a] < 0.0f ? -1.0f : 1.0f) * 4.0f;
  } else if (center.compare(Vec3(0, 0, 0), 0.999f)) {
    center = axis[0] * 4.0f;
  }
}

bool prelightLightOf(const KeyDict& dict, int entityIndex, bool skipStaticSourceLights, MapLight& out) {
  parseLightEntity(dict, out);
  if ((out.flags & kLightAmbient) || !(out.flags & kLightShadows))
    return false;
  if (skipStaticSourceLights && (out.flags & kLightStaticSource))
    return false;
  adjustPrelightCenter(out.center, out.radius, out.axis, out.shape, out.flags);
  out.index = entityIndex;
  return true;
}

// ---------------------------------------------------------------- the map world's passes

namespace {

// The material library (with Material's type information) is not linked into the world: the
// fields are read directly, without the sanitizer's dynamic-type check, which needs it.
__attribute__((no_sanitize("vptr"))) void readMaterialTraits(Material* drawn, const WorldSurface& surface,
                                                               ShadowSurface& out) {
  Material* material = drawn;
  if (!material && g_declSystem)
    material = static_cast<Material*>(g_declSystem->findMaterial(surface.material.c_str(), true));
  if (!material)
    return;
  out.interaction = (material->extraFlags & kExtraNoInteraction) == 0;
  out.flags = material->materialFlags;
  out.cull = material->cull;
}

__attribute__((no_sanitize("vptr"))) Material* findMaskMaterial() {
  return g_declSystem ? static_cast<Material*>(g_declSystem->findMaterial("_shadowMask", true)) : nullptr;
}

ShadowLight shadowLightOf(const MapLight& light, const Vec3& center) {
  ShadowLight out;
  out.point = light.origin + center;
  for (int i = 0; i < 6; i++)
    out.planes[i] = light.planes[i];
  return out;
}

// Shadow-casting lights: parsed, or false for lights that cast nothing.
bool parseShadowLight(const KeyDict& dict, MapLight& light) {
  parseLightEntity(dict, light);
  return !(light.flags & kLightAmbient) && (light.flags & kLightShadows);
}

RenderModel* newNamedModel(const char* name) {
  RenderModel* model = g_renderModelSystem->allocEmptyModel();
  if (model)
    model->init(name);
  return model;
}

void finishModel(RenderModel* model) {
  if (model->numSurfaces() > 0)
    g_renderModelSystem->addModel(model);
  else
    g_renderModelSystem->freeModel(model);
}

}  // namespace

void BspSpatialSystem::gatherShadowSurfaces(const Vec3& point, const Bounds& bounds,
                                            std::vector<ShadowSurface>& out) {
  out.clear();
  SurfaceList list;
  surfacesVisibleFromPoint(list, point, bounds);
  std::unordered_map<const ModelSurface*, const WorldSurface*> source;
  for (size_t m = 0; m < drawSurfaces_.size() && m < models_.size(); m++)
    for (size_t s = 0; s < drawSurfaces_[m].size() && s < models_[m].surfaces.size(); s++)
      source[&drawSurfaces_[m][s]] = &models_[m].surfaces[s];
  for (int i = 0; i < list.num(); i++) {
    auto it = source.find(list[i]);
    if (it == source.end())
      continue;
    const WorldSurface& ws = *it->second;
    ShadowSurface s;
    readMaterialTraits(list[i]->material, ws, s);
    const int numVerts = ws.numVerts();
    s.points.resize(size_t(numVerts));
    for (int v = 0; v < numVerts; v++)
      s.points[size_t(v)] = Vec3(ws.verts[size_t(v) * 10], ws.verts[size_t(v) * 10 + 1], ws.verts[size_t(v) * 10 + 2]);
    s.indexes = ws.indexes;
    out.push_back(std::move(s));
  }
}

void BspSpatialSystem::buildShadowMasks() {
  if (!g_renderModelSystem)
    return;
  nameLightEntities(entities_);
  Material* maskMaterial = findMaskMaterial();
  std::vector<ShadowSurface> surfaces;
  for (int e = 0; e < entities_.num(); e++) {
    const KeyDict* dict = entities_[e];
    if (!dict || !isLightEntity(*dict))
      continue;
    MapLight light;
    if (!parseShadowLight(*dict, light))
      continue;
    char name[300];
    std::snprintf(name, sizeof(name), "_shadowMask_%s", dict->getString("name", ""));
    RenderModel* model = newNamedModel(name);
    if (!model)
      continue;
    const ShadowLight shadowLight = shadowLightOf(light, light.center);
    gatherShadowSurfaces(shadowLight.point, light.bounds, surfaces);
    PolygonSet mask;
    buildShadowMaskPolygons(shadowLight, surfaces, mask);
    ShadowMesh mesh;
    const PolygonSet* sets[] = {&mask};
    triangulatePolygons(sets, 1, 0.0f, false, mesh);
    if (!mesh.indexes.empty()) {
      SurfaceGeometry* g = model->allocGeometry(int(mesh.points.size()), int(mesh.indexes.size()));
      if (g) {
        g->bounds.clear();
        for (size_t v = 0; v < mesh.points.size(); v++) {
          g->verts[v] = DrawVertex{};
          g->verts[v].xyz[0] = mesh.points[v].x;
          g->verts[v].xyz[1] = mesh.points[v].y;
          g->verts[v].xyz[2] = mesh.points[v].z;
          g->bounds.addPoint(mesh.points[v]);
        }
        std::copy(mesh.indexes.begin(), mesh.indexes.end(), g->indexes);
        model->addSurface({maskMaterial, g, -1});
      } else {
        cmdPrintf("WARNING: no geometry for the shadow mask of light '%s'\n", dict->getString("name", ""));
      }
    }
    finishModel(model);
  }
}

void BspSpatialSystem::generateStaticShadows(bool skipStaticSourceLights) {
  int lights = 0;
  for (int e = 0; e < entities_.num(); e++)
    if (entities_[e] && isLightEntity(*entities_[e]))
      lights++;
  std::printf("generating static shadows for '%d' lights\n", lights);
  std::fflush(stdout);
  if (!g_renderModelSystem)
    return;
  nameLightEntities(entities_);
  std::vector<ShadowSurface> surfaces;
  for (int e = 0; e < entities_.num(); e++) {
    const KeyDict* dict = entities_[e];
    if (!dict || !isLightEntity(*dict))
      continue;
    MapLight light;
    if (!prelightLightOf(*dict, e, skipStaticSourceLights, light))
      continue;
    char name[300];
    std::snprintf(name, sizeof(name), "_prelight_%s", dict->getString("name", ""));
    if (RenderModel* stale = g_renderModelSystem->findModel(name))
      g_renderModelSystem->freeModel(stale);
    RenderModel* model = newNamedModel(name);
    if (!model)
      continue;
    const ShadowLight shadowLight = shadowLightOf(light, light.center);
    gatherShadowSurfaces(light.origin, light.bounds, surfaces);
    PrelightPieces pieces;
    buildPrelightPolygons(shadowLight, surfaces, pieces);
    ShadowMesh mesh;
    const PolygonSet* sets[] = {&pieces.sides, &pieces.lit, &pieces.casters};
    triangulatePolygons(sets, 3, 0.02f, true, mesh);
    if (!mesh.indexes.empty()) {
      SurfaceGeometry* g = model->allocGeometry(int(mesh.points.size()), int(mesh.indexes.size()));
      if (g) {
        // The shadow arrays live in the record's vertex and index storage (a DrawVertex holds
        // more than the four floats of a shadow vertex).
        float* shadowVerts = reinterpret_cast<float*>(g->verts);
        int clipBits = 0;
        g->bounds.clear();
        for (size_t v = 0; v < mesh.points.size(); v++) {
          shadowVerts[v * 4] = mesh.points[v].x;
          shadowVerts[v * 4 + 1] = mesh.points[v].y;
          shadowVerts[v * 4 + 2] = mesh.points[v].z;
          shadowVerts[v * 4 + 3] = 1.0f;
          clipBits |= shadowSideCode(shadowLight.point, mesh.points[v]);
          g->bounds.addPoint(mesh.points[v]);
        }
        std::copy(mesh.indexes.begin(), mesh.indexes.end(), g->indexes);
        g->shadowVerts = shadowVerts;
        g->numShadowVerts = int(mesh.points.size());
        g->shadowIndexes = g->indexes;
        g->numShadowIndexes = int(mesh.indexes.size());
        g->numVerts = 0;
        g->numIndexes = 0;
        g->clipBits = clipBits;
        model->addSurface({nullptr, g, -1});
      } else {
        cmdPrintf("WARNING: no geometry for the prelight volume of light '%s' (entity %d)\n",
                  dict->getString("name", ""), light.index);
      }
    }
    finishModel(model);
  }
}
