// Views into textures: mirrors, refractions and remote cameras. Every surface of the view whose
// material has a stage that renders a view gets that view drawn into the stage's image before the
// main view is drawn; the main view then shows the image like any other.
//
// Sections: helpers (clear colour, surface plane, reflection), drawing one view into a target,
// drawSubviews.
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "lib/interface/cmdsystem.h"
#include "lib/interface/convarsystem.h"
#include "lib/interface/texmanager.h"
#include "render/backend/framebufferopengl.h"
#include "render/backend/renderbackend.h"
#include "render/material/material.h"
#include "render/model/basemodel.h"
#include "render/scene/rendermanager.h"

static ConVar r_skipDynamicTexturesV("r_skipDynamicTextures", "0", 0x20011, "skip all dynamic mirror rendering");
static ConVar r_skipPostProcessV("r_skipPostProcess", "0", 0x20011, "skip all post processing");
static ConVar r_skipMirrorMapsV("r_skipMirrorMaps", "0", 0x2011);
static ConVar r_useMirrorClipV("r_useMirrorClip", "0", 0x2011);

namespace {

// Flags of the two kinds of subview.
constexpr uint32_t kRemoteViewFlags = 0x21b;
constexpr uint32_t kMirrorViewFlags = 0x61b;

// The plane of the surface's first whole triangle: the side its front faces is positive.
bool surfacePlane(const SurfaceGeometry* g, Plane* out) {
  if (g == nullptr || g->verts == nullptr || g->indexes == nullptr) {
    return false;
  }
  for (int t = 0; t + 2 < g->numIndexes; t += 3) {
    const int i0 = g->indexes[t], i1 = g->indexes[t + 1], i2 = g->indexes[t + 2];
    if (i0 < 0 || i1 < 0 || i2 < 0 || i0 >= g->numVerts || i1 >= g->numVerts || i2 >= g->numVerts) {
      continue;
    }
    const Vec3 a(g->verts[i0].xyz[0], g->verts[i0].xyz[1], g->verts[i0].xyz[2]);
    const Vec3 b(g->verts[i1].xyz[0], g->verts[i1].xyz[1], g->verts[i1].xyz[2]);
    const Vec3 c(g->verts[i2].xyz[0], g->verts[i2].xyz[1], g->verts[i2].xyz[2]);
    Vec3 n = (b - a).cross(c - a);
    if (n.normalize() <= 0.0f) {
      continue;
    }
    *out = Plane(n, n.dot(a));
    return true;
  }
  return false;
}

Vec3 reflectVector(const Vec3& v, const Vec3& n) { return v - n * (2.0f * v.dot(n)); }

}  // namespace

// --- Drawing one view into the current target ---

void RenderManager::drawViewInto(const RenderView& view, uint32_t flags) {
  (void)view;
  if (g_renderInterface == nullptr) {
    return;
  }
  g_renderBackEnd.setViewFlags(flags);
  g_renderBackEnd.setDepthFunc(kCompareLessEqual);
  drawScene(view_);
}

// --- drawSubviews ---

void RenderManager::drawSubviews() {
  subviewsDrawn_ = 0;
  if (r_skipDynamicTexturesV.getBool() || r_skipPostProcessV.getBool() || r_skipMirrorMapsV.getBool() ||
      g_renderInterface == nullptr) {
    return;
  }
  const uint32_t savedFlags = g_renderBackEnd.viewFlags();
  g_renderBackEnd.setViewFlags(kViewFlagAmbient);
  selectDrawSurfaces(false, true);
  if (visibleDrawList_.num() == 0) {
    g_renderBackEnd.setViewFlags(savedFlags);
    return;
  }
  // The passes below select again; the entries themselves stay in the sort lists.
  List<const DrawSurface*> surfaces(16);
  for (const DrawSurface* ds : visibleDrawList_) {
    surfaces.append(ds);
  }
  const RenderView mainView = view_;
  for (const DrawSurface* ds : surfaces) {
    Material* material = ds->material;
    Plane plane;
    if (material == nullptr || ds->surface == nullptr || !surfacePlane(ds->surface->geometry, &plane)) {
      continue;
    }
    // From behind only a surface seen from both sides renders its view, through its flipped plane.
    if (plane.distance(mainView.origin) < 0.0f) {
      if (!(material->getSurfaceFlags() & kMaterialNoShadows)) {
        continue;
      }
      plane = Plane(-plane.normal(), -plane.d);
    }
    const int stageIndex = material->findStage(kStageRenderMap, 0, 0);
    const MaterialStage* stage = material->getStage(stageIndex);
    ImageInterface* image = stage != nullptr ? stage->images[0] : nullptr;
    // "_mirrorRenderMap" only shows the target bound while it is drawn: no image to render into.
    if (image == nullptr || image == g_mirrorRenderImage) {
      continue;
    }
    FrameBufferOpenGL* target = acquireRenderMapForImage(image);
    if (target == nullptr) {
      continue;
    }
    RenderView view;
    uint32_t flags;
    bool mirrored = false;
    if (ds->entity != nullptr && ds->entity->remoteView != nullptr) {
      view = *ds->entity->remoteView;
      flags = kRemoteViewFlags;
    } else {
      view = mainView;
      view.x = 0;
      view.y = 0;
      view.width = 640;
      view.height = 480;
      // A tile (of a print-quality screenshot) stays: the main view looks the image up through
      // the same projection.
      flags = kMirrorViewFlags;
      if (stage->flags & kStageVideo) {
        // Refraction: the eye stays; what lies beyond the surface is kept.
        view.clipPlane = Plane(-plane.normal(), -plane.d);
      } else {
        const Vec3 n = plane.normal();
        view.viewId = -1;
        view.origin = view.origin - n * (2.0f * plane.distance(view.origin));
        for (int i = 0; i < 3; ++i) {
          view.axis[i] = reflectVector(view.axis[i], n);
        }
        mirrored = true;
        view.clipPlane = plane;
      }
      // A little slack behind the plane, so geometry touching the surface is not cut.
      view.clipPlane.d -= 4.0f * view.clipPlane.normal().lengthSqr();
      if (!r_useMirrorClipV.getBool()) {
        view.clipPlane = Plane();
      }
    }
    // A remote picture is drawn into a scratch target first: rendered pictures have their bottom
    // row first, the surface's texture coordinates expect the top row first.
    const bool remote = flags == kRemoteViewFlags;
    FrameBufferOpenGL* drawTarget = target;
    if (remote) {
      // Named apart from "_renderMap_%d": materials' own render-map images are generated under
      // those names, and acquiring by name re-makes the image of that name.
      char name[32];
      std::snprintf(name, sizeof(name), "_remoteView_%d", subviewsDrawn_);
      drawTarget = acquireRenderMap(name, target->targetWidth(), target->targetHeight());
      if (drawTarget == nullptr) {
        continue;
      }
    }
    if (!drawTarget->pushRenderTarget(true)) {
      continue;
    }
    setRenderView(&view, view.time);
    // The planes are derived before the mirrored flag is set: they come from the reflected axes
    // and already face outwards.
    g_renderBackEnd.applyViewMatrices();
    g_renderBackEnd.pushViewMatrices();
    g_renderBackEnd.setMirrored(mirrored);
    g_renderBackEnd.setClipPlane0(&view.clipPlane);
    beginSubviewEffects(view);
    drawViewInto(view, flags);
    endSubviewEffects();
    g_renderBackEnd.setMirrored(false);
    endView();
    FrameBufferObject::popRenderTarget();
    if (remote && target->pushRenderTarget(true)) {
      float color[4];
      getColor(color);
      setColor(1.0f, 1.0f, 1.0f, 1.0f);
      g_renderBackEnd.clear(false, true);
      drawStretchImage(drawTarget->getColorTarget(0), 0.0f, 0.0f, 640.0f, 480.0f, 0.0f, 0.0f, 1.0f, 1.0f);
      setColorV(color);
      FrameBufferObject::popRenderTarget();
    }
    subviewsDrawn_++;
  }
  setRenderView(&mainView, mainView.time);
  g_renderBackEnd.applyViewMatrices();
  g_renderBackEnd.setViewFlags(savedFlags);
}
