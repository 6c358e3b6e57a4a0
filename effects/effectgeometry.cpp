// Particle geometry: the surface requests each segment reserves, and the builders that write
// sprites, oriented quads, beams, models, motion trails and linked strips into the effects model.
// Every writer checks the room its request reserved; nothing is allocated while building.
#include <algorithm>
#include <climits>
#include <cmath>

#include "effects/segmentinstance.h"
#include "lib/interface/effectssystem.h"
#include "lib/interface/rendermodelsystem.h"
#include "render/material/material.h"

namespace {

// The room of one model surface: what its request reserved (and what the geometry can hold).
struct Writer {
  SurfaceGeometry* g = nullptr;
  int maxVerts = 0;
  int maxIndexes = 0;

  bool room(int verts, int indexes) const {
    return g && g->numVerts + verts <= maxVerts && g->numIndexes + indexes <= maxIndexes;
  }
};

// The material's request index (bisection over the name order), -1 when it has none.
int findRequestIndex(const List<EffectSurfaceRequest>& requests, const Material* material) {
  if (!material)
    return -1;
  int lo = 0;
  int hi = requests.num() - 1;
  while (lo <= hi) {
    const int mid = (lo + hi) / 2;
    const Material* m = requests[mid].material;
    if (m == material)
      return mid;
    const int order = String::icmp(m->getName(), material->getName());
    if (order < 0) {
      lo = mid + 1;
    } else if (order > 0) {
      hi = mid - 1;
    } else {
      // Two materials of one name: look around the match.
      for (int i = mid; i >= 0 && String::icmp(requests[i].material->getName(), material->getName()) == 0; i--)
        if (requests[i].material == material)
          return i;
      for (int i = mid + 1; i < requests.num() && String::icmp(requests[i].material->getName(), material->getName()) == 0; i++)
        if (requests[i].material == material)
          return i;
      return -1;
    }
  }
  return -1;
}

// The model surface of the material's request, when it holds that material.
Writer writerFor(const List<EffectSurfaceRequest>& requests, RenderModel* model, const Material* material) {
  Writer w;
  const int index = findRequestIndex(requests, material);
  if (index < 0 || !model || index >= model->numSurfaces())
    return w;
  ModelSurface* surface = model->getSurface(index);
  if (!surface || surface->material != material || !surface->geometry)
    return w;
  w.g = surface->geometry;
  w.maxVerts = requests[index].numVerts;
  w.maxIndexes = requests[index].numIndexes;
  if (w.g->block && w.g->blockVerts > 0) {
    w.maxVerts = w.maxVerts < w.g->blockVerts ? w.maxVerts : w.g->blockVerts;
    w.maxIndexes = w.maxIndexes < w.g->blockIndexes ? w.maxIndexes : w.g->blockIndexes;
  }
  if (!w.g->verts || !w.g->indexes)
    w.g = nullptr;
  return w;
}

uint8_t colorByte(float v) {
  const float x = v * 255.0f;
  if (!(x > 0.0f))
    return 0;
  return x >= 255.0f ? 255 : uint8_t(x);
}

struct Color {
  uint8_t rgba[4];
};

Color particleColor(const ParticleState& s) {
  return {{colorByte(s.tint.x), colorByte(s.tint.y), colorByte(s.tint.z), colorByte(s.alpha)}};
}

void putVertex(DrawVertex& dv, const Vec3& p, float s, float t, const Mat3& frame, const Color& c) {
  dv = DrawVertex{};
  dv.xyz[0] = p.x;
  dv.xyz[1] = p.y;
  dv.xyz[2] = p.z;
  dv.st[0] = s;
  dv.st[1] = t;
  for (int k = 0; k < 3; k++) {
    dv.tangents[0][k] = -frame[2][k];
    dv.tangents[1][k] = -frame[1][k];
    dv.normal[k] = -frame[0][k];
  }
  for (int k = 0; k < 4; k++)
    dv.color[k] = c.rgba[k];
}

void putQuadIndexes(SurfaceGeometry* g, int v) {
  int* i = g->indexes + g->numIndexes;
  i[0] = v;
  i[1] = v + 2;
  i[2] = v + 3;
  i[3] = v;
  i[4] = v + 3;
  i[5] = v + 1;
  g->numIndexes += 6;
}

void growBounds(SurfaceGeometry* g, const Vec3& p, float r) {
  g->bounds.addPoint(Vec3(p.x - r, p.y - r, p.z - r));
  g->bounds.addPoint(Vec3(p.x + r, p.y + r, p.z + r));
}

// Four vertices (a, b, c, d) with their texture coordinates and one frame, then the quad's indexes.
void writeQuad(Writer& w, const Vec3 (&p)[4], const float (&st)[4][2], const Mat3& frame, const Color& c) {
  if (!w.room(4, 6))
    return;
  SurfaceGeometry* g = w.g;
  const int v = g->numVerts;
  for (int k = 0; k < 4; k++)
    putVertex(g->verts[v + k], p[k], st[k][0], st[k][1], frame, c);
  g->numVerts += 4;
  putQuadIndexes(g, v);
}

// A quad from a to b of half width w, turned towards the reference point.
void writeBeam(Writer& w, const Vec3& a, const Vec3& b, const Vec3& reference, float width, float repeat,
               const Color& c) {
  const Vec3 dir = (b - a).normalized();
  Vec3 side = (a - reference).normalized().cross((b - reference).normalized());
  side.normalize();
  const Mat3 frame(dir, side, (b - reference).normalized());
  const Vec3 p[4] = {a + side * width, a - side * width, b + side * width, b - side * width};
  const float st[4][2] = {{0.0f, 0.0f}, {0.0f, 1.0f}, {repeat, 0.0f}, {repeat, 1.0f}};
  writeQuad(w, p, st, frame, c);
}

float beamTile(float tiling, float length) {
  if (tiling > 0.0f)
    return tiling;
  return length > 0.001f ? length : 0.001f;
}

// Scratch of the ribbon builders: one point per particle at most (main thread only).
Vec3 s_points[ParticlePool::kMaxParticles + 1];
float s_widths[ParticlePool::kMaxParticles + 1];
Color s_colors[ParticlePool::kMaxParticles + 1];

// A strip through m points facing the view, two vertices per point but the last. Points closer than
// two units are welded; a pair whose side cannot be found is skipped; fewer than four vertices drop
// the ribbon.
void weldRibbon(Vec3* points, int m) {
  for (int k = 0; k + 2 < m; k++) {
    if ((points[k] - points[k + 1]).lengthSqr() <= 4.0f)
      points[k + 1] = points[k];
  }
}

// The pairs a ribbon through welded points can write: welded neighbours have no side.
int ribbonPairs(const Vec3* points, int m) {
  int pairs = 0;
  for (int k = 0; k + 1 < m; k++)
    pairs += points[k] == points[k + 1] ? 0 : 1;
  return pairs >= 2 ? pairs : 0;
}

void writeRibbon(Writer& w, Vec3* points, const float* widths, const Color* colors, int m, const Vec3& viewOrigin) {
  if (m < 2)
    return;
  weldRibbon(points, m);
  const int pairs = ribbonPairs(points, m);
  if (pairs == 0 || !w.room(2 * pairs, 6 * (pairs - 1)))
    return;
  SurfaceGeometry* g = w.g;
  const int first = g->numVerts;
  const Bounds saved = g->bounds;
  for (int k = 0; k + 1 < m; k++) {
    Vec3 side = (points[k] - viewOrigin).normalized().cross((points[k + 1] - viewOrigin).normalized());
    if (side.length() < 1e-6f)
      continue;
    side.normalize();
    const Vec3 dir = (points[k + 1] - points[k]).normalized();
    const Mat3 frame(dir, side, (points[k] - viewOrigin).normalized());
    putVertex(g->verts[g->numVerts], points[k] + side * widths[k], 0.5f, 0.0f, frame, colors[k]);
    putVertex(g->verts[g->numVerts + 1], points[k] - side * widths[k], 0.5f, 1.0f, frame, colors[k]);
    g->numVerts += 2;
    growBounds(g, points[k], widths[k]);
  }
  const int written = g->numVerts - first;
  if (written < 4) {
    g->numVerts = first;
    g->bounds = saved;
    return;
  }
  g->verts[first].st[0] = 0.0f;
  g->verts[first + 1].st[0] = 0.0f;
  g->verts[g->numVerts - 2].st[0] = 1.0f;
  g->verts[g->numVerts - 1].st[0] = 1.0f;
  for (int v = first; v + 2 < g->numVerts; v += 2)
    putQuadIndexes(g, v);
}

// Clamped sums: counts beyond what any geometry can hold are refused by the allocator.
int clampCount(long long value) {
  return value > INT_MAX / 2 ? INT_MAX / 2 : int(value);
}

int trailPoints(const ParticleBlock& block) {
  // A particle draws between trailCount.min and trailCount.max points, whichever is larger.
  int n = block.trailCount.max > block.trailCount.min ? block.trailCount.max : block.trailCount.min;
  return n < 0 ? 0 : (n > kMaxTrailPoints ? kMaxTrailPoints : n);
}

// The most writeRibbon writes for m points: two vertices for each point but the last and a quad
// between neighbouring pairs; fewer than three points draw nothing.
long long ribbonVerts(long long m) {
  return m >= 3 ? 2 * (m - 1) : 0;
}

long long ribbonIndexes(long long m) {
  return m >= 3 ? 6 * (m - 2) : 0;
}

// What a ribbon through these points will write, welded as writeRibbon welds them (in the segment's
// own space: the locked transform keeps distances). Uses the builders' scratch.
void countRibbon(const Vec3* points, int m, long long& verts, long long& indexes) {
  if (m < 3)
    return;
  for (int k = 0; k < m; k++)
    s_points[k] = points[k];
  weldRibbon(s_points, m);
  const int pairs = ribbonPairs(s_points, m);
  verts += 2LL * pairs;
  indexes += pairs > 0 ? 6LL * (pairs - 1) : 0;
}

// The particles of a linked strip that become ribbon points (the selection of the strip builder).
bool takenByStrip(const Particle* p) {
  const Particle* next = p->ownerNode.nextOwner();
  return p->visible() || !next || next->currentState.alpha > 0.0f;
}

}  // namespace

EffectSurfaceRequest& findSurfaceRequest(List<EffectSurfaceRequest>& requests, Material* material) {
  const int found = findRequestIndex(requests, material);
  if (found >= 0)
    return requests[found];
  int lo = 0;
  int hi = requests.num();
  while (lo < hi) {
    const int mid = (lo + hi) / 2;
    if (String::icmp(requests[mid].material->getName(), material->getName()) <= 0)
      lo = mid + 1;
    else
      hi = mid;
  }
  EffectSurfaceRequest request;
  request.material = material;
  requests.insert(request, lo);
  return requests[lo];
}

void EffectSegmentInstance::reservation(const DeclEffectSegment& segment, int n, int surfaceIndex, int* numVerts,
                                        int* numIndexes, Material** material) {
  const ParticleBlock& block = segment.particles;
  *numVerts = 0;
  *numIndexes = 0;
  *material = nullptr;
  switch (segment.type) {
    case kSegmentSprite:
    case kSegmentOriented:
      if (!block.material)
        return;
      *material = block.material;
      if (block.trailType == kTrailMotion) {
        // At most: every particle with its whole trail.
        const int t = trailPoints(block);
        *numVerts = clampCount(ribbonVerts(t) * n);
        *numIndexes = clampCount(ribbonIndexes(t) * n);
      } else {
        *numVerts = clampCount(4LL * n);
        *numIndexes = clampCount(6LL * n);
      }
      return;
    case kSegmentLine:
      // Lines are beams whatever their trail type.
      if (!block.material)
        return;
      *material = block.material;
      *numVerts = clampCount(4LL * n);
      *numIndexes = clampCount(6LL * n);
      return;
    case kSegmentModel: {
      if (!block.model || surfaceIndex < 0 || surfaceIndex >= block.model->numSurfaces())
        return;
      const ModelSurface* surface = block.model->getSurface(surfaceIndex);
      Material* m = block.material ? block.material : (surface ? surface->material : nullptr);
      if (!m || !surface || !surface->geometry)
        return;
      *material = m;
      *numVerts = clampCount(1LL * n * surface->geometry->numVerts);
      *numIndexes = clampCount(1LL * n * surface->geometry->numIndexes);
      return;
    }
    case kSegmentLinked:
      if (!block.material)
        return;
      *material = block.material;
      *numVerts = clampCount(ribbonVerts(n));
      *numIndexes = clampCount(ribbonIndexes(n));
      return;
    default:
      return;
  }
}

void EffectSegmentInstance::addSurfaces(List<EffectSurfaceRequest>& requests, const DeclEffectSegment& segment) const {
  const int n = numParticles();
  if (n == 0)
    return;
  const int surfaces = segment.type == kSegmentModel && segment.particles.model ? segment.particles.model->numSurfaces() : 1;
  for (int s = 0; s < surfaces; s++) {
    int verts = 0;
    int indexes = 0;
    Material* material = nullptr;
    reservation(segment, n, s, &verts, &indexes, &material);
    if (!material)
      continue;
    // Ribbons reserve what this frame's particles will write, not the most they could: trails that
    // are still growing and strips with hidden particles would otherwise leave most of it unused.
    const ParticleBlock& block = segment.particles;
    const bool trails = (segment.type == kSegmentSprite || segment.type == kSegmentOriented) &&
                        block.trailType == kTrailMotion;
    if (trails || segment.type == kSegmentLinked) {
      static Vec3 strip[ParticlePool::kMaxParticles + 1];
      long long v = 0, i = 0;
      int taken = 0;
      for (const Particle* p = firstParticle(); p; p = p->ownerNode.nextOwner()) {
        if (trails) {
          const ParticleState& st = p->currentState;
          if (!(st.alpha > 0.0f) || st.width == 0.0f)
            continue;
          countRibbon(p->trail, p->trailCount, v, i);
        } else if (takenByStrip(p) && taken < ParticlePool::kMaxParticles) {
          strip[taken++] = p->currentState.position + p->turnedOffset();
        }
      }
      if (!trails)
        countRibbon(strip, taken, v, i);
      verts = std::min(verts, clampCount(v));
      indexes = std::min(indexes, clampCount(i));
    }
    EffectSurfaceRequest& r = findSurfaceRequest(requests, material);
    r.numVerts = clampCount(1LL * r.numVerts + verts);
    r.numIndexes = clampCount(1LL * r.numIndexes + indexes);
  }
}

bool EffectSegmentInstance::buildGeometry(const List<EffectSurfaceRequest>& requests, RenderModel* model,
                                          const RenderEffectParams& params, const DeclEffectSegment& segment,
                                          const EffectView& view) {
  if (particles.isListEmpty())
    return false;
  const ParticleBlock& block = segment.particles;
  const bool locked = (block.flags & kSegmentLocked) != 0;
  auto toWorld = [&](const Vec3& p) { return locked ? params.origin + params.axis.transform(p) : p; };

  switch (segment.type) {
    case kSegmentSprite:
    case kSegmentOriented: {
      Writer w = writerFor(requests, model, block.material);
      if (!w.g)
        return true;
      if (block.trailType == kTrailMotion) {
        for (Particle* p = firstParticle(); p; p = p->ownerNode.nextOwner()) {
          const ParticleState& s = p->currentState;
          if (!(s.alpha > 0.0f) || s.width == 0.0f)
            continue;
          growBounds(w.g, p->trail[0], s.width);
          const Vec3 turned = p->turnedOffset();
          const Color c = particleColor(s);
          Vec3 points[kMaxTrailPoints];
          float widths[kMaxTrailPoints];
          Color colors[kMaxTrailPoints];
          for (int i = 0; i < p->trailCount; i++) {
            points[i] = toWorld(p->trail[i] + turned);
            widths[i] = s.width;
            colors[i] = c;
          }
          writeRibbon(w, points, widths, colors, p->trailCount, view.origin);
        }
        return true;
      }
      const Mat3 base = segment.type == kSegmentSprite ? view.axis : Mat3::identity();
      for (Particle* p = firstParticle(); p; p = p->ownerNode.nextOwner()) {
        if (!p->visible())
          continue;
        ParticleState& s = p->currentState;
        const Vec3 point = p->drawPoint(segment, params);
        const Color c = particleColor(s);
        const float r = s.width > s.length ? s.width : s.length;
        if (segment.type == kSegmentSprite) {
          s.rotate.x = 0.0f;
          s.rotate.y = 0.0f;
        }
        const Mat3 frame = Angles(s.rotate.x, s.rotate.y, s.rotate.z).toMat3() * base;
        if (!(params.hasEndOrigin && s.length < 0.0f)) {
          const Vec3 o = frame[1] * s.width;
          const Vec3 t = frame[2] * s.length;
          const Vec3 quad[4] = {point - o + t, point - o - t, point + o + t, point + o - t};
          const float st[4][2] = {{0.0f, 1.0f}, {0.0f, 0.0f}, {1.0f, 1.0f}, {1.0f, 0.0f}};
          writeQuad(w, quad, st, frame, c);
        } else {
          const Vec3 end = params.endOrigin + p->turnedOffset();
          const float len = (end - point).length();
          writeBeam(w, point, end, point + frame[2], s.width, len / beamTile(block.tiling, len), c);
        }
        growBounds(w.g, point, r);
      }
      return true;
    }
    case kSegmentLine: {
      Writer w = writerFor(requests, model, block.material);
      if (!w.g)
        return true;
      Mat3 base;
      base[0] = Vec3(1.0f, 0.0f, 0.0f);
      base[2] = (-view.origin).normalized();
      base[1] = base[2].cross(base[0]);
      if (base[1].lengthSqr() < 1e-12f)
        base[1] = Vec3(0.0f, 1.0f, 0.0f);  // a view on the x axis: any side will do
      base.orthoNormalizeByCross();
      for (Particle* p = firstParticle(); p; p = p->ownerNode.nextOwner()) {
        if (!p->visible())
          continue;
        const ParticleState& s = p->currentState;
        const Vec3 point = p->drawPoint(segment, params);
        const Mat3 frame = Angles(s.rotate.x, s.rotate.y, s.rotate.z).toMat3() * base;
        Vec3 end;
        float len;
        if (!params.hasEndOrigin && s.length >= 0.0f) {
          const Vec3 along = frame[0] * s.length;
          end = point + (locked ? params.axis.transform(along) : along);
          len = s.length;
        } else {
          end = params.endOrigin + p->turnedOffset();
          len = (end - point).length();
        }
        const float chord = (end - point).length();
        writeBeam(w, point, end, view.origin, s.width, len / beamTile(block.tiling, chord), particleColor(s));
        growBounds(w.g, point, s.width > s.length ? s.width : s.length);
      }
      return true;
    }
    case kSegmentModel: {
      RenderModel* source = block.model;
      if (!source)
        return true;
      for (int si = 0; si < source->numSurfaces(); si++) {
        const ModelSurface* surface = source->getSurface(si);
        const SurfaceGeometry* src = surface ? surface->geometry : nullptr;
        Material* material = block.material ? block.material : (surface ? surface->material : nullptr);
        if (!src || !material || !src->verts || (src->numIndexes > 0 && !src->indexes))
          continue;
        Writer w = writerFor(requests, model, material);
        if (!w.g)
          continue;
        for (Particle* p = firstParticle(); p; p = p->ownerNode.nextOwner()) {
          if (!w.room(src->numVerts, src->numIndexes))
            break;
          const ParticleState& s = p->currentState;
          const Vec3 point = p->drawPoint(segment, params);
          const Mat3 scale(Vec3(s.length, 0.0f, 0.0f), Vec3(0.0f, s.width, 0.0f), Vec3(0.0f, 0.0f, 1.0f));
          const Mat3 frame = Angles(s.rotate.x, s.rotate.y, s.rotate.z).toMat3() * scale;
          const Color c = particleColor(s);
          SurfaceGeometry* g = w.g;
          const int first = g->numVerts;
          for (int v = 0; v < src->numVerts; v++) {
            const DrawVertex& in = src->verts[v];
            DrawVertex& out = g->verts[first + v];
            out = in;
            const Vec3 pos = point + frame.transform(Vec3(in.xyz[0], in.xyz[1], in.xyz[2]));
            const Vec3 t0 = frame.transform(Vec3(in.tangents[0][0], in.tangents[0][1], in.tangents[0][2]));
            const Vec3 t1 = frame.transform(Vec3(in.tangents[1][0], in.tangents[1][1], in.tangents[1][2]));
            const Vec3 n = frame.transform(Vec3(in.normal[0], in.normal[1], in.normal[2]));
            for (int k = 0; k < 3; k++) {
              out.xyz[k] = pos[k];
              out.tangents[0][k] = t0[k];
              out.tangents[1][k] = t1[k];
              out.normal[k] = n[k];
            }
            for (int k = 0; k < 4; k++)
              out.color[k] = c.rgba[k];
          }
          for (int i = 0; i < src->numIndexes; i++)
            g->indexes[g->numIndexes + i] = src->indexes[i] + first;
          g->numVerts += src->numVerts;
          g->numIndexes += src->numIndexes;
          g->bounds.addPoint(point);
        }
      }
      return true;
    }
    case kSegmentLinked: {
      Writer w = writerFor(requests, model, block.material);
      if (!w.g)
        return true;
      int m = 0;
      for (Particle* p = firstParticle(); p && m < ParticlePool::kMaxParticles; p = p->ownerNode.nextOwner()) {
        if (!takenByStrip(p))
          continue;
        s_points[m] = p->drawPoint(segment, params);
        s_widths[m] = p->currentState.width;
        s_colors[m] = particleColor(p->currentState);
        m++;
      }
      writeRibbon(w, s_points, s_widths, s_colors, m, view.origin);
      return true;
    }
    default:
      return true;
  }
}
