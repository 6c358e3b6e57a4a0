// Stencil shadow volumes: before a light's surfaces are lit, the volumes of its casters are counted
// into the stencil buffer around the reference 128. World surfaces the light reaches and the visible
// entities cast; every volume is built from the caster's current (world-space) vertices, with side
// quads on the silhouette edges and caps from the triangles that face the light.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "lib/interface/cmdsystem.h"
#include "lib/interface/convarsystem.h"
#include "lib/interface/rendermodelsystem.h"
#include "lib/interface/spatialsystem.h"
#include "lib/keydict.h"
#include "render/material/material.h"
#include "render/model/basemodel.h"
#include "render/model/geometryedges.h"
#include "render/scene/boundsplanes.h"
#include "render/scene/rendermanager.h"

static ConVar r_shadowsS("r_shadows", "1", 0x20011);
static ConVar r_lightqualityS("r_lightquality", "2", 0x30012, "0=lightmap, 1=hybrid, 2=dynamic", 0.0f, 2.0f);
static ConVar r_skipDynamicShadowsS("r_skipDynamicShadows", "0", 0x12);
static ConVar r_showShadowsS("r_showShadows", "0", 0x12);
static ConVar r_useEmapShadowsS("r_useEmapShadows", "1", 0x20014);
static ConVar r_showSilhouetteS("r_showSilhouette", "0", 0x14);
static ConVar r_showEdgesS("r_showEdges", "0", 0x14);

// One cached volume of a light's static casters, with its own vertex buffer.
struct CachedShadowVolume {
  RenderManager::ShadowVolume volume;
  VertexBufferHandle* buffer = nullptr;
  const ModelSurface* surface = nullptr;  // the light-model surface; null for prelight volumes
  Bounds bounds;
  bool closed = false;  // a prelight volume: closed, always counted depth-fail
};

namespace {

Vec3 vertexPosition(const SurfaceGeometry* g, int i) {
  const float* p = g->verts[i].xyz;
  return Vec3(p[0], p[1], p[2]);
}

}  // namespace

bool RenderManager::buildShadowGeometry(SurfaceGeometry* g, const Vec3& lightPos, bool parallel, ShadowVolume* out) {
  out->verts.setNum(0);
  out->indexes.setNum(0);
  out->numVerts = out->sideEnd = out->capStart = out->capBits = 0;
  if (g == nullptr || g->verts == nullptr || g->indexes == nullptr || g->numVerts <= 0 || g->numIndexes < 3) {
    return false;
  }
  if (g->edges == nullptr || g->edgeOfIndex == nullptr) {
    buildGeometryEdges(g);
  }
  const int n = g->numVerts;
  const int numTris = g->numIndexes / 3;
  // Which triangles face the light (outward normal from the winding).
  List<uint8_t> facing(64);
  facing.setNum(numTris);
  bool any = false;
  for (int t = 0; t < numTris; ++t) {
    const int* tri = g->indexes + t * 3;
    facing[t] = 0;
    if (tri[0] < 0 || tri[1] < 0 || tri[2] < 0 || tri[0] >= n || tri[1] >= n || tri[2] >= n) {
      continue;
    }
    const Vec3 a = vertexPosition(g, tri[0]);
    const Vec3 normal = (vertexPosition(g, tri[1]) - a).cross(vertexPosition(g, tri[2]) - a);
    const Vec3 toLight = lightPos - a;
    facing[t] = normal.dot(toLight) > 0.0f ? 1 : 0;
    any = any || facing[t];
  }
  if (!any) {
    return false;
  }
  // Vertices: the positions (w 1), then the directions away from the light (w 0); a parallel light
  // shares one point at infinity.
  out->numVerts = parallel ? n + 1 : n * 2;
  out->verts.setNum(out->numVerts * 4);
  float* v = out->verts.ptr();
  for (int i = 0; i < n; ++i) {
    const float* p = g->verts[i].xyz;
    v[i * 4 + 0] = p[0], v[i * 4 + 1] = p[1], v[i * 4 + 2] = p[2], v[i * 4 + 3] = 1.0f;
  }
  if (parallel) {
    const float* p = g->verts[0].xyz;
    v[n * 4 + 0] = p[0] - lightPos.x, v[n * 4 + 1] = p[1] - lightPos.y, v[n * 4 + 2] = p[2] - lightPos.z;
    v[n * 4 + 3] = 0.0f;
  } else {
    for (int i = 0; i < n; ++i) {
      const float* p = g->verts[i].xyz;
      float* f = v + (n + i) * 4;
      f[0] = p[0] - lightPos.x, f[1] = p[1] - lightPos.y, f[2] = p[2] - lightPos.z, f[3] = 0.0f;
    }
  }
  auto far = [&](int i) { return unsigned(parallel ? n : n + i); };
  // Sides: one quad on every edge between a lit and an unlit triangle (or an open lit edge), wound
  // so it faces out of the volume.
  for (int e = 0; e < g->numEdges; ++e) {
    const GeometryEdge& edge = g->edges[e];
    if (edge.tri0 < 0 || edge.tri0 >= numTris || edge.tri1 >= numTris) {
      continue;
    }
    const bool f0 = facing[edge.tri0] != 0;
    const bool f1 = edge.tri1 >= 0 && facing[edge.tri1] != 0;
    if (f0 == f1 || edge.vert0 < 0 || edge.vert1 < 0 || edge.vert0 >= n || edge.vert1 >= n) {
      continue;
    }
    // The edge as the lit triangle runs it.
    const unsigned a = unsigned(f0 ? edge.vert0 : edge.vert1);
    const unsigned b = unsigned(f0 ? edge.vert1 : edge.vert0);
    const unsigned quad[6] = {b, a, far(int(a)), b, far(int(a)), far(int(b))};
    for (unsigned q : quad) {
      out->indexes.append(q);
    }
  }
  out->sideEnd = out->indexes.num();
  out->capStart = out->indexes.num();
  // Caps: the lit triangles where they are, and pushed to infinity turned the other way.
  for (int t = 0; t < numTris; ++t) {
    if (!facing[t]) {
      continue;
    }
    const int* tri = g->indexes + t * 3;
    out->indexes.append(unsigned(tri[0]));
    out->indexes.append(unsigned(tri[1]));
    out->indexes.append(unsigned(tri[2]));
    if (!parallel) {
      out->indexes.append(far(tri[2]));
      out->indexes.append(far(tri[1]));
      out->indexes.append(far(tri[0]));
    }
  }
  // The directions the volume runs from the light, as clip bits of (light - view): a viewer on the
  // far side of the light along an axis may stand inside it.
  for (int axis = 0; axis < 3; ++axis) {
    if (parallel || g->bounds.maxs[axis] > lightPos[axis]) {
      out->capBits |= 2 << (axis * 2);
    }
    if (parallel || g->bounds.mins[axis] < lightPos[axis]) {
      out->capBits |= 1 << (axis * 2);
    }
  }
  return true;
}

Vec3 lightEmissionPoint(const RenderLight& light) {
  if ((light.flags & kLightParallel) == 0) {
    return light.origin + light.center;
  }
  Vec3 direction = light.center;
  if (direction.normalize() <= 0.0f) {
    direction = Vec3(0.0f, 0.0f, 1.0f);
  }
  return light.origin + direction * 99999.0f;
}

void RenderManager::drawShadowVolume(const LightRecord* light, const ModelSurface* surface, int mode) {
  if (light == nullptr || surface == nullptr || light->parms.kind == 2 || g_renderInterface == nullptr) {
    return;
  }
  const SurfaceGeometry* g = surface->geometry;
  if (g == nullptr || g->verts == nullptr || g->numVerts <= 0) {
    if (g_cmdSystem != nullptr &&
        (surface->material == nullptr || (surface->material->getSurfaceFlags() & kMaterialNoShadows) == 0)) {
      g_cmdSystem->printf("WARNING: null model??\n");
    }
    return;
  }
  const RenderLight& p = light->parms;
  const bool parallel = (p.flags & kLightParallel) != 0;
  if (!buildShadowGeometry(surface->geometry, lightEmissionPoint(p), parallel, &shadowVolume_)) {
    return;
  }
  shadowVolumesBuilt_++;
  if (shadowBuffer_ == nullptr) {
    shadowBuffer_ = g_renderInterface->createVertexBuffer();
  }
  g_renderInterface->uploadVertexBuffer(shadowBuffer_, shadowVolume_.verts.ptr(), shadowVolume_.numVerts * 16,
                                        false);
  drawShadowVolumeData(light, shadowVolume_, shadowBuffer_, surface->geometry->bounds, mode, false);
}

void RenderManager::drawShadowVolumeData(const LightRecord* light, const ShadowVolume& sv,
                                         VertexBufferHandle* buffer, const Bounds& bounds, int mode,
                                         bool closed) {
  if (buffer == nullptr || sv.indexes.num() == 0 ||
      !g_renderInterface->bindVertexBuffer(buffer, kVertexArrayPosition4)) {
    return;
  }
  const RenderLight& p = light->parms;
  const Vec3 lightPos = lightEmissionPoint(p);
  // The far vertices already hold their direction from the light: the shadow program's light
  // origin is zero.
  ShaderInterface* s = g_renderInterface->getShaderInterface();
  const int program = g_renderBackEnd.shadowProgram();
  if (s != nullptr && program >= 0 && mode == 0) {
    const float zero[4] = {0.0f, 0.0f, 0.0f, 1.0f};
    s->setEnvParam(program, 0, zero);
  }
  if (mode != 0) {
    static const float kMagenta[4] = {1, 0, 1, 1};
    debugBounds(kMagenta, bounds, Vec3(), false, 0, true);
  }
  const int clip = g_renderBackEnd.lightClipBits(lightPos);
  const unsigned* indexes = sv.indexes.ptr();
  int first = 0;
  int count = 0;
  bool caps = false;
  if (closed) {
    // A finite closed volume: its faces behind the surface are counted wherever the viewer is.
    count = sv.indexes.num();
  } else if (mode == 3) {
    first = sv.capStart;
    count = sv.indexes.num() - sv.capStart;
    caps = true;
  } else if (mode == 4) {
    first = sv.sideEnd;
    count = sv.capStart - sv.sideEnd;
  } else if (mode != 5 && (clip & sv.capBits) != 0) {
    count = sv.indexes.num();
    caps = true;
  } else {
    count = sv.sideEnd;
  }
  if (closed) {
    g_renderBackEnd.drawShadowVolumeParity(indexes, count);
  } else {
    g_renderBackEnd.drawShadowVolumeIndexes(indexes + first, count, caps);
  }
  shadowTriangles_ += count / 3;
  g_renderInterface->unbindVertexBuffer();
}

// --- Cached volumes of static casters ---

RenderModel* RenderManager::findPrelightModel(const RenderLight& light) {
  if (g_spatialSystem == nullptr || g_renderModelSystem == nullptr) {
    return nullptr;
  }
  const List<KeyDict*>* entities = g_spatialSystem->getEntities();
  if (entities == nullptr) {
    return nullptr;
  }
  // The record carries no entity name: the light entity is the one standing where the light does.
  for (const KeyDict* d : *entities) {
    if (d == nullptr || String::icmp(d->getString("classname", ""), "light") != 0) {
      continue;
    }
    Vec3 origin;
    if (!d->getVec3("light_origin", "", origin)) {
      d->getVec3("origin", "0 0 0", origin);
    }
    const char* name = d->getString("name", "");
    if (*name == 0 || !origin.compare(light.origin, 0.01f)) {
      continue;
    }
    char model[300];
    std::snprintf(model, sizeof(model), "_prelight_%s", name);
    return g_renderModelSystem->findModel(model);
  }
  return nullptr;
}

void RenderManager::releaseStaticShadows(LightRecord* l) {
  if (l == nullptr) {
    return;
  }
  for (CachedShadowVolume* c : l->cachedShadows) {
    if (c->buffer != nullptr && g_renderInterface != nullptr) {
      g_renderInterface->freeVertexBuffer(&c->buffer);
    }
    delete c;
  }
  l->cachedShadows.setNum(0);
  l->shadowCacheValid = false;
  l->cachedFromPrelight = false;
}

namespace {

// Prelight surfaces carry their volume in the shadow arrays: points with w 1, three indexes per
// triangle; triangles with an index outside the points are dropped. The builder's mesh holds, besides
// the closed volume (casters, sides, far caps on its boundary), the lit triangles of the receivers
// it was cut against: drawn as part of the volume they lie exactly on what they light and count
// every lit pixel as shadowed. They are the triangles facing the light that lie on no boundary
// plane (the mesh's box or the light's own planes), or that the light sees past every caster (a
// lit wall can stand on the mesh's box where no far cap reaches it), and are left out.
bool copyPrelightVolume(const SurfaceGeometry* g, const RenderLight& light,
                        RenderManager::ShadowVolume* out) {
  if (g == nullptr || g->shadowVerts == nullptr || g->shadowIndexes == nullptr || g->numShadowVerts <= 0 ||
      g->numShadowIndexes < 3) {
    return false;
  }
  const Vec3 lightPos = lightEmissionPoint(light);
  Plane boundary[12];
  g->bounds.toPlanes(boundary);
  for (int i = 0; i < 6; ++i) {
    boundary[6 + i] = light.planes[i];
  }
  auto point = [&](int i) {
    const float* v = g->shadowVerts + i * 4;
    return Vec3(v[0], v[1], v[2]);
  };
  // A damaged model's triangle may name points it does not have.
  auto inRange = [&](const int* tri) {
    for (int k = 0; k < 3; ++k) {
      if (tri[k] < 0 || tri[k] >= g->numShadowVerts) {
        return false;
      }
    }
    return true;
  };
  auto onBoundary = [&](const Vec3& a, const Vec3& b, const Vec3& c) {
    for (const Plane& p : boundary) {
      if (std::fabs(p.distance(a)) < 0.05f && std::fabs(p.distance(b)) < 0.05f &&
          std::fabs(p.distance(c)) < 0.05f) {
        return true;
      }
    }
    return false;
  };
  // The casters face away from the light; a far cap lies in the shadow of one of them.
  std::vector<int> casters;
  for (int t = 0; t + 2 < g->numShadowIndexes; t += 3) {
    const int* tri = g->shadowIndexes + t;
    if (!inRange(tri)) {
      continue;
    }
    const Vec3 a = point(tri[0]);
    Vec3 normal = (point(tri[1]) - a).cross(point(tri[2]) - a);
    if (normal.normalize() != 0.0f && normal.dot(lightPos - a) < -0.01f) {
      casters.push_back(t);
    }
  }
  auto shadowed = [&](const Vec3& target) {
    const Vec3 dir = target - lightPos;
    for (int t : casters) {
      const Vec3 a = point(g->shadowIndexes[t]);
      const Vec3 e1 = point(g->shadowIndexes[t + 1]) - a;
      const Vec3 e2 = point(g->shadowIndexes[t + 2]) - a;
      const Vec3 pv = dir.cross(e2);
      const float det = e1.dot(pv);
      if (std::fabs(det) < 1e-9f) {
        continue;
      }
      const Vec3 tv = lightPos - a;
      const float u = tv.dot(pv) / det;
      const Vec3 qv = tv.cross(e1);
      const float v = dir.dot(qv) / det;
      const float along = e2.dot(qv) / det;
      if (u >= -0.001f && v >= -0.001f && u + v <= 1.001f && along > 0.0f && along < 0.999f) {
        return true;
      }
    }
    return false;
  };
  out->numVerts = g->numShadowVerts;
  out->verts.setNum(g->numShadowVerts * 4);
  std::memcpy(out->verts.ptr(), g->shadowVerts, sizeof(float) * 4 * size_t(g->numShadowVerts));
  out->sideEnd = out->capStart = 0;
  out->capBits = g->clipBits;
  // Only a closed surface counts right: every edge (welded points) is shared by exactly two
  // triangles. Overlapping far caps or T-junctions leave the volume unusable.
  auto collect = [&](bool farCapsInShadow) {
    out->indexes.setNum(0);
    for (int t = 0; t + 2 < g->numShadowIndexes; t += 3) {
      const int* tri = g->shadowIndexes + t;
      if (!inRange(tri)) {
        continue;
      }
      const Vec3 a = point(tri[0]);
      const Vec3 b = point(tri[1]);
      const Vec3 c = point(tri[2]);
      Vec3 normal = (b - a).cross(c - a);
      if (normal.normalize() == 0.0f) {
        continue;
      }
      const float facing = normal.dot(lightPos - a);
      if (facing > 0.01f &&
          (!onBoundary(a, b, c) || (farCapsInShadow && !shadowed((a + b + c) * (1.0f / 3.0f))))) {
        continue;  // a lit receiver, not part of the volume
      }
      for (int k = 0; k < 3; ++k) {
        out->indexes.append(unsigned(tri[k]));
      }
    }
    std::unordered_map<uint64_t, int> edges;
    const unsigned* idx = out->indexes.ptr();
    for (int t = 0; t + 2 < out->indexes.num(); t += 3) {
      for (int k = 0; k < 3; ++k) {
        const unsigned a = idx[t + k];
        const unsigned b = idx[t + (k + 1) % 3];
        edges[a < b ? (uint64_t(a) << 32) | b : (uint64_t(b) << 32) | a]++;
      }
    }
    for (const auto& e : edges) {
      if (e.second != 2) {
        return false;
      }
    }
    return out->indexes.num() > 0;
  };
  // A volume wound with its casters facing away from the light has its far caps facing it: when
  // the box test alone leaves the volume open, the caps that lie in no caster's shadow are lit
  // receivers too.
  return collect(false) || (!casters.empty() && collect(true));
}

bool hasPrelightVolume(RenderModel* model) {
  for (int s = 0; model != nullptr && s < model->numSurfaces(); ++s) {
    const SurfaceGeometry* g = model->getSurface(s)->geometry;
    if (g != nullptr && g->shadowVerts != nullptr && g->numShadowIndexes >= 3) {
      return true;
    }
  }
  return false;
}

}  // namespace

int RenderManager::lightIndexOf(const LightRecord* l) const {
  for (int i = 0; i < lights_.num(); ++i) {
    if (lights_[i] == l) {
      return i;
    }
  }
  return -1;
}

void RenderManager::buildStaticShadows(LightRecord* l) {
  releaseStaticShadows(l);
  l->shadowCacheValid = true;
  const RenderLight& p = l->parms;
  if (p.kind == 2 || !(p.flags & kLightShadows) || (p.flags & (kLightAmbient | kLightStaticSource)) ||
      g_renderInterface == nullptr) {
    return;
  }
  auto keep = [&](CachedShadowVolume* c) {
    c->buffer = g_renderInterface->createVertexBuffer();
    g_renderInterface->uploadVertexBuffer(c->buffer, c->volume.verts.ptr(), c->volume.numVerts * 16, true);
    l->cachedShadows.append(c);
  };
  if (r_useEmapShadowsS.getBool() &&
      (hasPrelightVolume(l->staticShadowModel0) || hasPrelightVolume(l->staticShadowModel1))) {
    l->cachedFromPrelight = true;
    bool closed = true;
    for (RenderModel* model : {l->staticShadowModel0, l->staticShadowModel1}) {
      for (int s = 0; model != nullptr && s < model->numSurfaces() && closed; ++s) {
        const SurfaceGeometry* g = model->getSurface(s)->geometry;
        if (g == nullptr || g->shadowVerts == nullptr) {
          continue;
        }
        CachedShadowVolume* c = new CachedShadowVolume();
        if (!copyPrelightVolume(g, p, &c->volume)) {
          delete c;
          closed = false;
          break;
        }
        c->bounds = g->bounds;
        c->closed = true;
        keep(c);
      }
    }
    if (closed) {
      return;
    }
    // Drawn as it is, an open volume would shadow lit surfaces: the world's surfaces cast instead.
    if (g_cmdSystem != nullptr) {
      g_cmdSystem->printf("WARNING: the prelight volume of light %d is not closed; its shadows are built\n",
                          lightIndexOf(l));
    }
    for (CachedShadowVolume* c : l->cachedShadows) {
      if (c->buffer != nullptr) {
        g_renderInterface->freeVertexBuffer(&c->buffer);
      }
      delete c;
    }
    l->cachedShadows.setNum(0);
  }
  const bool parallel = (p.flags & kLightParallel) != 0;
  for (ModelSurface* surface : l->litSurfaces) {
    if (surface->material == nullptr || (surface->material->getSurfaceFlags() & kMaterialNoShadows) != 0) {
      continue;
    }
    CachedShadowVolume* c = new CachedShadowVolume();
    if (!buildShadowGeometry(surface->geometry, lightEmissionPoint(p), parallel, &c->volume)) {
      delete c;
      continue;
    }
    shadowVolumesBuilt_++;
    c->surface = surface;
    c->bounds = surface->geometry->bounds;
    keep(c);
  }
}

int RenderManager::drawSilhouetteLines(SurfaceGeometry* g, const LightRecord* light, const float color[4]) {
  const bool silhouette = r_showSilhouetteS.getBool();
  if ((!silhouette && !r_showEdgesS.getBool()) || g == nullptr || light == nullptr || g->verts == nullptr ||
      g->indexes == nullptr || g->numIndexes < 3) {
    return 0;
  }
  if (g->edges == nullptr) {
    buildGeometryEdges(g);
  }
  const RenderLight& p = light->parms;
  const Vec3 lightPos = lightEmissionPoint(p);
  const int numTris = g->numIndexes / 3;
  // Whether a triangle faces the light, as the volume builder decides it.
  auto faces = [&](int t) {
    if (t < 0 || t >= numTris) {
      return false;
    }
    const int* tri = g->indexes + t * 3;
    for (int k = 0; k < 3; ++k) {
      if (tri[k] < 0 || tri[k] >= g->numVerts) {
        return false;
      }
    }
    const Vec3 a = vertexPosition(g, tri[0]);
    Vec3 normal = (vertexPosition(g, tri[1]) - a).cross(vertexPosition(g, tri[2]) - a);
    normal.normalize();
    const Vec3 toLight = lightPos - a;
    return normal.dot(toLight) >= 1e-6f;
  };
  int drawn = 0;
  for (int e = 0; e < g->numEdges; ++e) {
    const GeometryEdge& edge = g->edges[e];
    if (edge.vert0 < 0 || edge.vert1 < 0 || edge.vert0 >= g->numVerts || edge.vert1 >= g->numVerts) {
      continue;
    }
    if (silhouette && faces(edge.tri0) == faces(edge.tri1)) {
      continue;
    }
    debugLine(color, vertexPosition(g, edge.vert0), vertexPosition(g, edge.vert1), 0, false);
    drawn++;
  }
  return drawn;
}

void RenderManager::drawShadowCasters(int index, int selfShadowSet, int debugMode) {
  LightRecord* l = lightRecord(index);
  if (l == nullptr || g_renderInterface == nullptr) {
    return;
  }
  const RenderLight& p = l->parms;
  if (!(p.flags & kLightShadows) || !r_shadowsS.getBool() || (g_renderBackEnd.viewFlags() & kViewFlagMirror) != 0) {
    return;
  }
  if (debugMode == 0) {
    debugMode = r_showShadowsS.getInt();
  }
  g_renderBackEnd.beginShadowPass(selfShadowSet == 1);
  if (debugMode != 0) {
    // The volumes themselves, in a constant colour through the unlit program.
    g_renderInterface->setColorMask(true, true, true, true);
    g_renderInterface->setBlendFunc(kBlendOne, kBlendOne);
    g_renderBackEnd.setDepthFunc(kCompareAlways);
    static const float kFilled[4] = {0.05f, 0.1f, 0.025f, 1.0f};
    static const float kLines[4] = {0.0f, 1.0f, 0.0f, 1.0f};
    if (debugMode == 2) {
      g_renderBackEnd.setCullMode(kCullNone);
    } else {
      g_renderInterface->setPolygonMode(kPolygonLine);
    }
    ShaderInterface* s = g_renderInterface->getShaderInterface();
    const int unlit = g_renderBackEnd.unlitProgram();
    if (s != nullptr && unlit >= 0) {
      const float zero[4] = {0.0f, 0.0f, 0.0f, 0.0f};
      s->unbindAll();
      s->bind(unlit);
      s->setEnvParam(unlit, kProgramParamColorModulate, zero);
      s->setEnvParam(unlit, kProgramParamColorAdd, debugMode == 2 ? kFilled : kLines);
    }
  }
  const bool inSetNoSelf = selfShadowSet == 0;
  auto inSet = [&](const Material* m) {
    const bool noSelf = m != nullptr && (m->getSurfaceFlags() & kMaterialNoSelfShadow) != 0;
    return noSelf == inSetNoSelf;
  };
  // Static casters: volumes cached per light (the prelight model's, or built once from the world
  // surfaces the light reaches), rebuilt only when the light changes.
  if (r_lightqualityS.getInt() > 0) {
    const bool prelight = r_useEmapShadowsS.getBool() && (hasPrelightVolume(l->staticShadowModel0) ||
                                                          hasPrelightVolume(l->staticShadowModel1));
    if (prelight || !r_skipDynamicShadowsS.getBool()) {
      if (!l->shadowCacheValid || l->cachedFromPrelight != prelight) {
        buildStaticShadows(l);
      }
      for (const CachedShadowVolume* c : l->cachedShadows) {
        const Material* m = c->surface != nullptr ? c->surface->material : nullptr;
        if (!inSet(m) || !setScissorForLight(l, c->surface != nullptr ? c->surface->id : -1)) {
          continue;
        }
        if (c->surface != nullptr) {
          static const float kRed[4] = {1, 0, 0, 1};
          drawSilhouetteLines(c->surface->geometry, l, kRed);
        }
        drawShadowVolumeData(l, c->volume, c->buffer, c->bounds, debugMode, c->closed);
      }
    }
  }
  // Dynamic casters: the visible entities.
  if (!r_skipDynamicShadowsS.getBool() && r_lightqualityS.getInt() > 1) {
    for (const DrawSurface* ds : visibleDrawList_) {
      const RenderEntity* e = ds->entity;
      const Material* m = ds->material;
      if (e == nullptr || m == nullptr || !inSet(m) || e->noShadows != 0) {
        continue;
      }
      if ((e->suppressInViewId && e->suppressInViewId == view_.viewId) ||
          (e->allowOnlyInViewId && e->allowOnlyInViewId != view_.viewId)) {
        continue;
      }
      // The light's owner (entity slot + 1) casts no shadow from it.
      if (p.ownerId != 0 && p.ownerId - 1 < entities_.num() && entities_[p.ownerId - 1] != nullptr &&
          &entities_[p.ownerId - 1]->parms == e) {
        continue;
      }
      if ((m->getSurfaceFlags() & kMaterialNoShadows) != 0 || ds->surface->geometry == nullptr ||
          !boundsInsidePlanes(ds->surface->geometry->bounds, p.planes)) {
        continue;
      }
      if (!setScissorForLight(l, ds->surface->id)) {
        continue;
      }
      static const float kOrange[4] = {1, 0.5f, 0, 1};
      drawSilhouetteLines(ds->surface->geometry, l, kOrange);
      drawShadowVolume(l, ds->surface, debugMode);
    }
  }
  if (debugMode != 0) {
    g_renderInterface->setBlendFunc(kBlendOne, kBlendZero);
    g_renderInterface->setPolygonMode(kPolygonFill);
    g_renderBackEnd.setDepthFunc(kCompareLessEqual);
    g_renderBackEnd.setCullMode(kCullBack);
    g_renderBackEnd.setColorModulation(1.0f, 1.0f, 1.0f, 1.0f);
  }
  g_renderBackEnd.endShadowPass();
}
