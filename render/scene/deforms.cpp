// Deforms on CPU vertices (see deforms.h).
#include "render/scene/deforms.h"

#include <cmath>

#include "lib/fastmath.h"
#include "lib/interface/cmdsystem.h"
#include "lib/interface/declsystem.h"
#include "lib/interface/rendermodelsystem.h"
#include "render/material/expression.h"
#include "render/material/material.h"

namespace {

Vec3 position(const DrawVertex& v) { return Vec3(v.xyz[0], v.xyz[1], v.xyz[2]); }

void setPosition(DrawVertex& v, const Vec3& p) {
  v.xyz[0] = p.x;
  v.xyz[1] = p.y;
  v.xyz[2] = p.z;
}

void warn(const char* text) {
  if (g_cmdSystem != nullptr) {
    g_cmdSystem->printf("%s", text);
  }
}

// Quads of 4 vertices and 6 indexes each, else a warning naming the deform.
bool quadCounts(const SurfaceGeometry* g, const char* what) {
  if (g->numVerts % 4 != 0) {
    warn(what[0] == 'a' ? "WARNING: odd vertex count for auto sprite..\n" : "WARNING: odd vertex count for sprite..\n");
    return false;
  }
  if (g->numIndexes != g->numVerts / 4 * 6) {
    warn(what[0] == 'a' ? "WARNING: odd index count for auto sprite..\n" : "WARNING: odd index count for sprite..\n");
    return false;
  }
  return true;
}

void spriteDeform(SurfaceGeometry* g, const Mat3& viewAxis) {
  if (!quadCounts(g, "sprite")) {
    return;
  }
  for (int q = 0; q < g->numVerts / 4; ++q) {
    DrawVertex* v = g->verts + q * 4;
    const int* tri = g->indexes + q * 6;
    if (tri[0] < 0 || tri[1] < 0 || tri[2] < 0 || tri[0] >= g->numVerts || tri[1] >= g->numVerts ||
        tri[2] >= g->numVerts) {
      continue;
    }
    Plane plane;
    plane.fromPoints(position(g->verts[tri[0]]), position(g->verts[tri[1]]), position(g->verts[tri[2]]));
    const Vec3 forward = -plane.normal();
    Bounds b;
    for (int k = 0; k < 4; ++k) {
      b.addPoint(position(v[k]));
    }
    const Vec3 center = b.center();
    const Mat3 rotation = forward.toMat3().transposed() * viewAxis;
    for (int k = 0; k < 4; ++k) {
      setPosition(v[k], center + rotation.transform(position(v[k]) - center));
    }
  }
}

void autoSpriteDeform(SurfaceGeometry* g, const Vec3& viewOrigin) {
  if (!quadCounts(g, "auto sprite")) {
    return;
  }
  static const int kPairs[6][2] = {{0, 1}, {0, 2}, {0, 3}, {1, 2}, {1, 3}, {2, 3}};
  for (int q = 0; q < g->numVerts / 4; ++q) {
    DrawVertex* v = g->verts + q * 4;
    // The two shortest corner pairs are the sprite's short edges.
    int shortest[2] = {0, 1};
    float lengths[2] = {999999.0f, 999999.0f};
    for (int p = 0; p < 6; ++p) {
      const float l = (position(v[kPairs[p][1]]) - position(v[kPairs[p][0]])).lengthSqr();
      if (l < lengths[0]) {
        lengths[1] = lengths[0];
        shortest[1] = shortest[0];
        lengths[0] = l;
        shortest[0] = p;
      } else if (l < lengths[1]) {
        lengths[1] = l;
        shortest[1] = p;
      }
    }
    Vec3 mid[2];
    for (int e = 0; e < 2; ++e) {
      mid[e] = (position(v[kPairs[shortest[e]][0]]) + position(v[kPairs[shortest[e]][1]])) * 0.5f;
    }
    const Vec3 center = (mid[0] + mid[1]) * 0.5f;
    Vec3 toView = viewOrigin - center;
    toView.normalize();
    Vec3 major = mid[1] - mid[0];
    major.normalize();
    Vec3 side = major.cross(toView);
    side.normalize();
    for (int e = 0; e < 2; ++e) {
      const int a = kPairs[shortest[e]][0];
      const int c = kPairs[shortest[e]][1];
      const float l2 = lengths[e];
      const float half = l2 > 0.0f ? l2 * fastInvSqrt(l2, 2) * 0.5f : 0.0f;
      setPosition(v[a], mid[e] + side * half);
      setPosition(v[c], mid[e] - side * half);
    }
  }
}

void refreshPlanesAndBounds(SurfaceGeometry* g) {
  g->facetsValid = 0;
  if (g->planes != nullptr && g->numIndexes > 0) {
    deriveTrianglePlanes(g->verts, g->numVerts, g->indexes, g->numIndexes, g->planes);
    g->facetsValid = 1;
  }
  g->bounds.clear();
  for (int i = 0; i < g->numVerts; ++i) {
    g->bounds.addPoint(position(g->verts[i]));
  }
}

}  // namespace

bool applyDeform(const DeformInput& deform, SurfaceGeometry* g, const Mat3& viewAxis, const Vec3& viewOrigin) {
  if (g == nullptr || g->verts == nullptr) {
    return false;
  }
  const float a = deform.registers[0];
  const float b = deform.registers[1];
  const float c = deform.registers[2];
  switch (deform.type) {
    case kDeformSprite:
      spriteDeform(g, viewAxis);
      break;
    case 2:  // sprite2
      autoSpriteDeform(g, viewOrigin);
      break;
    case kDeformExpand:
      for (int i = 0; i < g->numVerts; ++i) {
        DrawVertex& v = g->verts[i];
        v.xyz[0] += a * v.normal[0];
        v.xyz[1] += b * v.normal[1];
        v.xyz[2] += c * v.normal[2];
      }
      break;
    case kDeformMove:
      for (int i = 0; i < g->numVerts; ++i) {
        g->verts[i].xyz[0] += a;
        g->verts[i].xyz[1] += b;
        g->verts[i].xyz[2] += c;
      }
      break;
    case kDeformEyeball:
      break;
    case kDeformTurbulent: {
      if (deform.table == nullptr) {
        return true;
      }
      const float range = c > 1.0f ? c : 1.0f;
      for (int i = 0; i < g->numVerts; ++i) {
        DrawVertex& v = g->verts[i];
        const Vec3 p = position(v);
        const Vec3 t0(v.tangents[0][0], v.tangents[0][1], v.tangents[0][2]);
        const Vec3 t1(v.tangents[1][0], v.tangents[1][1], v.tangents[1][2]);
        const float u = t0.dot(p) / range + b;
        const float w = t1.dot(p) / range + b;
        v.st[0] += deform.table->lookup(u) * a;
        v.st[1] += deform.table->lookup(w) * a;
      }
      return true;
    }
    default:
      return false;
  }
  refreshPlanesAndBounds(g);
  return true;
}

float deformRegister(const Material* material, int i) {
  if (material == nullptr || i < 0 || i > 3 || material->deformRegisters[i] == 0) {
    return 0.0f;
  }
  return evaluateExpression(material->deformRegisters[i]);
}

DeformInput deformInputOf(const Material* material) {
  DeformInput in;
  if (material == nullptr) {
    return in;
  }
  in.type = material->deformType;
  in.table = material->deformTable;
  for (int i = 0; i < 4; ++i) {
    in.registers[i] = deformRegister(material, i);
  }
  return in;
}
