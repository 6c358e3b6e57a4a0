// The parts of one view's frame around the surface passes: the clear to "r_clearcolor", the
// override material that replaces every opaque surface, the flares, and the post-process pass that
// draws the stages reading "_currentRender" after the frame was copied into it.
//
// Sections: clear, override material, flares, post-process pass.
#include <charconv>
#include <cmath>
#include <cstring>

#include "lib/interface/cmdsystem.h"
#include "lib/interface/convarsystem.h"
#include "lib/interface/renderinterface.h"
#include "render/backend/renderbackend.h"
#include "render/material/expression.h"
#include "render/material/material.h"
#include "render/model/basemodel.h"
#include "render/scene/deforms.h"
#include "render/scene/rendermanager.h"

static ConVar r_clearcolorP("r_clearcolor", "0 0 0", 0x10010, "screen clear color");
static ConVar r_skipPostProcessP("r_skipPostProcess", "0", 0x20011, "skip all post processing");
static ConVar r_zNearP("r_zNear", "3", 0x14, "camera near clipping plane");

namespace {

// "r_clearcolor" as up to four numbers ("%f %f %f %f"); missing ones keep black with alpha 1.
void clearColor(float out[4]) {
  out[0] = out[1] = out[2] = 0.0f;
  out[3] = 1.0f;
  const char* text = r_clearcolorP.getString();
  const char* end = text + std::strlen(text);
  for (int i = 0; i < 4; ++i) {
    while (text < end && (*text == ' ' || *text == '\t')) {
      ++text;
    }
    float v = 0.0f;
    const std::from_chars_result r = std::from_chars(text, end, v);
    if (r.ec != std::errc() || !std::isfinite(v)) {
      break;
    }
    out[i] = v;
    text = r.ptr;
  }
}

Vec3 vertexPosition(const DrawVertex& v) { return Vec3(v.xyz[0], v.xyz[1], v.xyz[2]); }

// The 16 flare vertices on a 4 x 4 grid (row-major): the quad's corners inside, the points pushed
// out from its edges around them, the outer corners at the grid's corners.
constexpr int kFlareGrid[4][2] = {{1, 1}, {2, 1}, {2, 2}, {1, 2}};

}  // namespace

// --- Clear ---

void RenderManager::clearForView(uint32_t flags) {
  if (g_renderInterface == nullptr || (flags & (kViewFlagDepthPrePass | kViewFlagClearColor)) == 0) {
    return;
  }
  float c[4];
  clearColor(c);
  g_renderInterface->setClearColor(c[0], c[1], c[2], c[3]);
  g_renderBackEnd.clear((flags & kViewFlagClearColor) != 0, (flags & kViewFlagDepthPrePass) != 0);
  g_renderInterface->setClearColor(0.0f, 0.0f, 0.0f, 1.0f);
}

// --- Override material ---

void RenderManager::drawOverrideMaterial(Material* material) {
  material->ensureLoaded();
  for (const DrawSurface* ds : visibleDrawList_) {
    if (!surfaceHasGeometry(*ds) || !ds->material->isOpaque()) {
      continue;
    }
    DrawSurface replaced = *ds;
    replaced.material = material;
    g_renderBackEnd.setDrawSurface(&replaced);
    g_renderBackEnd.drawStageRange(0, material->getNumStages(), true);
    surfacesDrawn_++;
  }
  g_renderBackEnd.setDrawSurface(nullptr);
}

// --- Flares ---

int RenderManager::buildFlare(const SurfaceGeometry* g, int quad, float size, const float color[4],
                              DrawVertex out[16]) const {
  const Vec3 eye = view_.origin;
  Vec3 c[4];
  for (int i = 0; i < 4; ++i) {
    c[i] = vertexPosition(g->verts[quad * 4 + i]);
  }
  const int* tri = g->indexes + quad * 6;
  if (tri[0] < 0 || tri[1] < 0 || tri[2] < 0 || tri[0] >= g->numVerts || tri[1] >= g->numVerts ||
      tri[2] >= g->numVerts) {
    return 0;
  }
  const Vec3 a = vertexPosition(g->verts[tri[0]]);
  Vec3 n = (vertexPosition(g->verts[tri[1]]) - a).cross(vertexPosition(g->verts[tri[2]]) - a);
  if (n.normalize() <= 0.0f) {
    return 0;
  }
  const float front = n.dot(eye) - n.dot(a);
  if (front <= 0.0f) {
    return 0;
  }
  float intensity = front / size;
  intensity = intensity < 0.0f ? 0.0f : (intensity > 1.0f ? 1.0f : intensity);
  const Vec3 centre = (c[0] + c[1] + c[2] + c[3]) * 0.25f;
  // Square to each edge and to the direction of the eye, away from the quad.
  Vec3 out4[4];
  for (int i = 0; i < 4; ++i) {
    const Vec3& p = c[i];
    const Vec3& q = c[(i + 1) & 3];
    const Vec3 mid = (p + q) * 0.5f;
    Vec3 o = (q - p).cross(eye - mid);
    if (o.normalize() <= 0.0f) {
      o = mid - centre;
      o.normalize();
    }
    if (o.dot(mid - centre) < 0.0f) {
      o = -o;
    }
    out4[i] = o * size;
  }
  Vec3 pos[16];
  bool inner[16] = {};
  for (int i = 0; i < 4; ++i) {
    const int prev = (i + 3) & 3;
    const int next = (i + 1) & 3;
    const int gx = kFlareGrid[i][0];
    const int gy = kFlareGrid[i][1];
    pos[gy * 4 + gx] = c[i];
    inner[gy * 4 + gx] = true;
    // Outer corner: both neighbouring pushes.
    const int ox = gx == 1 ? 0 : 3;
    const int oy = gy == 1 ? 0 : 3;
    pos[oy * 4 + ox] = c[i] + out4[prev] + out4[i];
    // Pushed from edge i (this corner to the next) and from edge prev (the previous one to this).
    const int ex = kFlareGrid[next][0] == gx ? ox : gx;
    const int ey = kFlareGrid[next][1] == gy ? oy : gy;
    pos[ey * 4 + ex] = c[i] + out4[i];
    const int px = kFlareGrid[prev][0] == gx ? ox : gx;
    const int py = kFlareGrid[prev][1] == gy ? oy : gy;
    pos[py * 4 + px] = c[i] + out4[prev];
  }
  const float minDistance = 2.0f * r_zNearP.getFloat();
  uint8_t bytes[4];
  for (int k = 0; k < 4; ++k) {
    float v = color[k] * intensity * 255.0f;
    v = v < 0.0f ? 0.0f : (v > 255.0f ? 255.0f : v);
    bytes[k] = uint8_t(v + 0.5f);
  }
  for (int v = 0; v < 16; ++v) {
    DrawVertex& dv = out[v];
    std::memset(&dv, 0, sizeof(dv));
    // Pulled towards the eye so the flare is not cut by what it stands on.
    Vec3 toEye = eye - pos[v];
    const float distance = toEye.normalize();
    float pull = size * 0.5f;
    if (distance - pull < minDistance) {
      pull = distance - minDistance > 0.0f ? distance - minDistance : 0.0f;
    }
    const Vec3 p = pos[v] + toEye * pull;
    dv.xyz[0] = p.x;
    dv.xyz[1] = p.y;
    dv.xyz[2] = p.z;
    dv.st[0] = float(v & 3) / 3.0f;
    dv.st[1] = float(v >> 2) / 3.0f;
    dv.normal[0] = n.x;
    dv.normal[1] = n.y;
    dv.normal[2] = n.z;
    if (inner[v]) {
      std::memcpy(dv.color, bytes, 4);
    } else {
      dv.color[3] = 0;
    }
  }
  return 16;
}

void RenderManager::drawFlares() {
  if (g_renderInterface == nullptr || flatBuffer_ == nullptr) {
    return;
  }
  static unsigned indexes[54];
  if (indexes[1] == 0) {
    int k = 0;
    for (int y = 0; y < 3; ++y) {
      for (int x = 0; x < 3; ++x) {
        const unsigned v = unsigned(y * 4 + x);
        const unsigned quad[6] = {v, v + 4, v + 1, v + 1, v + 4, v + 5};
        for (unsigned q : quad) {
          indexes[k++] = q;
        }
      }
    }
  }
  const RenderView& view = view_;
  for (const DrawSurface& ds : bloomFlareList_) {
    Material* m = ds.material;
    if (m == nullptr || m->deformType != kDeformFlare) {
      continue;
    }
    if (ds.entity != nullptr && ((ds.entity->allowOnlyInViewId && ds.entity->allowOnlyInViewId != view.viewId) ||
                                 (ds.entity->suppressInViewId && ds.entity->suppressInViewId == view.viewId))) {
      continue;
    }
    const SurfaceGeometry* g = ds.surface != nullptr ? ds.surface->geometry : nullptr;
    if (g == nullptr || g->verts == nullptr || g->indexes == nullptr) {
      continue;
    }
    const float size = deformRegister(m, 0);
    if (!(size > 0.0f)) {
      continue;
    }
    // The flare size is the radius of the in-view test.
    if (!g->bounds.isCleared()) {
      const BackEndViewState& vs = g_renderBackEnd.viewState();
      const Vec3 centre = g->bounds.center();
      const Vec3 h = g->bounds.halfSize();
      bool out = false;
      for (const Plane& p : vs.frustum) {
        const Vec3 pn = p.normal();
        const float r = std::fabs(pn.x) * h.x + std::fabs(pn.y) * h.y + std::fabs(pn.z) * h.z + size;
        out = out || p.distance(centre) - r > 0.0f;
      }
      if (out) {
        continue;
      }
    }
    if (g->numVerts % 4 != 0) {
      if (g_cmdSystem) {
        g_cmdSystem->printf("WARNING: odd vertex count for flare..\n");
      }
      continue;
    }
    if (g->numIndexes != g->numVerts / 4 * 6) {
      if (g_cmdSystem) {
        g_cmdSystem->printf("WARNING: odd index count for flare..\n");
      }
      continue;
    }
    float color[4] = {1.0f, 1.0f, 1.0f, 1.0f};
    if (const MaterialStage* first = m->getStage(0)) {
      g_renderBackEnd.setDrawSurface(&ds);  // the stage colour may read the surface's parameters
      for (int k = 0; k < 4; ++k) {
        color[k] = evaluateExpression(first->color[k]);
      }
    }
    for (int q = 0; q < g->numVerts / 4; ++q) {
      DrawVertex verts[16];
      if (buildFlare(g, q, size, color, verts) == 0) {
        continue;
      }
      g_renderInterface->uploadVertexBuffer(flatBuffer_, verts, int(sizeof(verts)), true);
      DrawSurface flare = ds;
      flare.vertexBuffer = flatBuffer_;
      flare.indexes = indexes;
      flare.numIndexes = 54;
      g_renderBackEnd.setDrawSurface(&flare);
      g_renderBackEnd.drawStageRange(0, m->getNumStages(), true);
      g_renderBackEnd.drawTrisOverlay();
      flaresDrawn_++;
    }
  }
  g_renderBackEnd.setDrawSurface(nullptr);
}

// --- Post-process pass ---

void RenderManager::drawPostProcess(uint32_t flags) {
  (void)flags;
  if (r_skipPostProcessP.getBool() || !postProcess_ || g_renderInterface == nullptr) {
    return;
  }
  captureRenderToImage("_currentRender");
  // The post-process view alone: the surfaces whose stages read the copy, from that stage on. (The
  // caller's flags & 0x40 would be 0 for every main view, and the pass would draw nothing.)
  g_renderBackEnd.setViewFlags(kViewFlagPostProcess);
  g_renderBackEnd.setupPass();
  for (const DrawSurface* ds : visibleDrawList_) {
    Material* m = ds->material;
    if (m == nullptr || (m->extraFlags & kExtraPostProcess) == 0 || !m->hasAmbientStages() ||
        !surfaceHasGeometry(*ds)) {
      continue;
    }
    g_renderBackEnd.setDrawSurface(ds);
    g_renderBackEnd.drawAmbientStages(true, true);
    postProcessDrawn_++;
  }
  g_renderBackEnd.setDrawSurface(nullptr);
}
