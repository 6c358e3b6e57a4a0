// Shadow maps: a light that asks for one ("useShadowMap") renders its casters' depth into the
// "_shadowMap" target from its own point of view with the depth-fill material "_renderDepth"; then
// the surfaces it lights are drawn once with the programs of the shadow-compare material
// "_renderShadowMap" ("shadowMap.vfp" in the sample content), which keeps the fragments lying
// farther from the light than the first caster by more than the bias and marks them in the stencil
// buffer. The light's
// surfaces are then lit where the stencil holds the reference, exactly as with shadow volumes, so
// the interaction programs need no shadow input of their own.
#include <cmath>
#include <cstring>

#include "lib/interface/convarsystem.h"
#include "lib/interface/declsystem.h"
#include "lib/interface/texmanager.h"
#include "render/backend/framebufferopengl.h"
#include "render/material/material.h"
#include "render/model/basemodel.h"
#include "render/scene/boundsplanes.h"
#include "render/scene/rendermanager.h"

static ConVar r_shadowMapBiasM("r_shadowMapBias", "0.01", 0x22014,
                               "global depth bias of shadow maps (debugging)");

namespace {

constexpr int kShadowMapSize = 512;
// Vertex environment of the compare program: the light's texture matrix rows and its depth plane.
constexpr int kEnvLightTexture = 20;
constexpr int kEnvLightDepth = 24;

// The light-model surface as a draw surface of its own geometry; false when it has none.
bool litDrawSurface(ModelSurface* surface, DrawSurface* ds) {
  if (surface->geometry == nullptr) {
    return false;
  }
  ds->surface = surface;
  ds->material = surface->material;
  ds->vertexBuffer = surface->geometry->vertexBuffer;
  ds->indexes = reinterpret_cast<const unsigned*>(surface->geometry->indexes);
  ds->numIndexes = surface->geometry->numIndexes;
  return true;
}

// A right-handed basis whose first row is `forward`.
Mat3 basisOf(const Vec3& forward) {
  Vec3 f = forward;
  if (f.normalize() == 0.0f) {
    f = Vec3(0, 0, -1);
  }
  const Vec3 helper = std::fabs(f.z) < 0.9f ? Vec3(0, 0, 1) : Vec3(1, 0, 0);
  Vec3 left = helper.cross(f);
  left.normalize();
  const Vec3 up = f.cross(left);
  return Mat3(f, left, up);
}

}  // namespace

bool RenderManager::shadowMapsAvailable() {
  if (g_renderInterface == nullptr || g_texManager == nullptr || renderDepthMaterial_ == nullptr ||
      renderShadowMapMaterial_ == nullptr) {
    return false;
  }
  // The materials parse again after a video restart, loading their programs in the new context.
  renderDepthMaterial_->ensureLoaded();
  renderShadowMapMaterial_->ensureLoaded();
  const MaterialStage* depth = renderDepthMaterial_->getStage(0);
  const MaterialStage* compare = renderShadowMapMaterial_->getStage(0);
  // A depth fill without a program of its own writes depth through the unlit program.
  shadowMapDepthProgram_ =
      depth != nullptr && depth->programs != nullptr && depth->programs->vertexProgram >= 0
          ? depth->programs->vertexProgram
          : g_renderBackEnd.unlitProgram();
  shadowMapVP_ = compare != nullptr && compare->programs != nullptr ? compare->programs->vertexProgram : -1;
  shadowMapFP_ = compare != nullptr && compare->programs != nullptr ? compare->programs->fragmentProgram : -1;
  if (shadowMapVP_ < 0 || shadowMapFP_ < 0) {
    return false;
  }
  if (shadowMapTarget_ == nullptr) {
    shadowMapTarget_ = new FrameBufferOpenGL("_shadowMap", kShadowMapSize, kShadowMapSize, 1,
                                             kShadowMapFormat, kShadowMapImageFlags);
  }
  return shadowMapTarget_->getColorTarget(0) != nullptr;
}

void RenderManager::freeShadowMaps() {
  delete shadowMapTarget_;
  shadowMapTarget_ = nullptr;
  // Their programs belong to the context that goes: they parse again on next use. Without the
  // declaration manager the materials are gone already.
  for (Material* m : {renderDepthMaterial_, renderShadowMapMaterial_}) {
    if (m != nullptr && g_declSystem != nullptr) {
      m->freeData();
      if (m->decl != nullptr) {
        m->decl->setUnparsed();
      }
    }
  }
  renderDepthMaterial_ = renderShadowMapMaterial_ = nullptr;
  shadowMapDepthProgram_ = shadowMapVP_ = shadowMapFP_ = -1;
}

void RenderManager::shadowMapView(const LightRecord* l, ShadowMapView* out) const {
  const RenderLight& p = l->parms;
  const Vec3 r(std::fabs(p.radius.x), std::fabs(p.radius.y), std::fabs(p.radius.z));
  out->orthographic = (p.flags & kLightParallel) != 0;
  if (out->orthographic) {
    // Parallel light: it travels against its direction; the box of the light's bounds, seen from
    // behind it.
    const Mat3 axis = basisOf(-p.center);
    const Vec3 c = p.bounds.center();
    float lo[3] = {1e30f, 1e30f, 1e30f};
    float hi[3] = {-1e30f, -1e30f, -1e30f};
    for (int i = 0; i < 8; ++i) {
      const Vec3 corner((i & 1) ? p.bounds.maxs.x : p.bounds.mins.x,
                        (i & 2) ? p.bounds.maxs.y : p.bounds.mins.y,
                        (i & 4) ? p.bounds.maxs.z : p.bounds.mins.z);
      for (int k = 0; k < 3; ++k) {
        const float d = axis[k].dot(corner - c);
        lo[k] = d < lo[k] ? d : lo[k];
        hi[k] = d > hi[k] ? d : hi[k];
      }
    }
    out->eye = c + axis[0] * (lo[0] - 1.0f);
    out->axis = axis;
    out->zNear = 1.0f;
    out->zFar = hi[0] - lo[0] + 2.0f;
    const float halfW = (hi[1] - lo[1]) * 0.5f;
    const float halfH = (hi[2] - lo[2]) * 0.5f;
    out->projection = Mat4::ortho(-halfW, halfW, -halfH, halfH, out->zNear, out->zFar);
  } else if (p.shape == 4) {
    // A cone looks down -axis 2 over its far rectangle.
    out->eye = p.origin;
    out->axis = Mat3(-p.axis[2], p.axis[0], -p.axis[1]);
    out->zNear = 1.0f;
    out->zFar = r.z > 2.0f ? r.z : 2.0f;
    out->projection =
        Mat4::perspective(fovFromExtents(r.x, r.z), fovFromExtents(r.y, r.z), out->zNear, out->zFar);
  } else {
    // Other volumes look down their first axis, over the volume's extents.
    out->eye = p.origin + p.center;
    out->axis = Mat3(p.axis[0], p.axis[1], p.axis[2]);
    out->zNear = 1.0f;
    out->zFar = r.length() * 2.0f + 1.0f;
    out->projection =
        Mat4::perspective(fovFromExtents(r.y, r.x), fovFromExtents(r.z, r.x), out->zNear, out->zFar);
  }
  out->modelView = viewModelViewMatrix(out->axis, out->eye);
}

bool RenderManager::renderShadowMap(int index) {
  LightRecord* l = lightRecord(index);
  g_renderBackEnd.setStencilForPass(false);
  if (l == nullptr || !shadowMapsAvailable()) {
    return false;
  }
  const RenderLight& p = l->parms;
  ShadowMapView view;
  shadowMapView(l, &view);
  if (!shadowMapTarget_->pushRenderTarget(true)) {
    return false;
  }
  RenderInterface* d = g_renderInterface;
  ShaderInterface* s = d->getShaderInterface();

  // 1. The casters' depth from the light.
  g_renderBackEnd.setupPass();
  d->setColorMask(false, false, false, false);
  d->setDepthMask(true);
  d->clear(kClearDepth);
  g_renderBackEnd.setMatrices(view.modelView, view.projection);
  // Slope-scaled offset: a surface never shadows itself through the map's texel steps.
  d->setPolygonOffset(2.0f, 4.0f, kPolygonFill);
  auto castsShadow = [&](const DrawSurface& ds) {
    const Material* m = ds.material;
    const SurfaceGeometry* g = ds.surface != nullptr ? ds.surface->geometry : nullptr;
    if (m == nullptr || g == nullptr ||
        (m->getSurfaceFlags() & (kMaterialNoShadows | kMaterialTranslucent)) != 0) {
      return false;
    }
    if (ds.entity != nullptr) {
      if (ds.entity->noShadows != 0) {
        return false;
      }
      // The light's owner (entity slot + 1) casts no shadow from it.
      if (p.ownerId != 0 && p.ownerId - 1 < entities_.num() && entities_[p.ownerId - 1] != nullptr &&
          &entities_[p.ownerId - 1]->parms == ds.entity) {
        return false;
      }
    }
    return boundsInsidePlanes(g->bounds, p.planes);
  };
  int casters = 0;
  auto depthOf = [&](const DrawSurface& ds) {
    if (!castsShadow(ds)) {
      return;
    }
    g_renderBackEnd.setDrawSurface(&ds);
    g_renderBackEnd.drawDepthSurface(shadowMapDepthProgram_);
    casters++;
  };
  for (ModelSurface* surface : l->litSurfaces) {
    DrawSurface ds;
    if (litDrawSurface(surface, &ds)) {
      depthOf(ds);
    }
  }
  for (const DrawSurface* ds : visibleDrawList_) {
    if (ds->entity != nullptr) {
      depthOf(*ds);
    }
  }
  d->setPolygonOffset(0.0f, 0.0f, kPolygonFill);
  g_renderBackEnd.setDrawSurface(nullptr);
  g_renderBackEnd.popMatrices(true, true);
  FrameBufferObject::popRenderTarget();
  d->setColorMask(true, true, true, true);

  // 2. The receivers compared against it: shadowed fragments leave their mark in the stencil.
  g_renderBackEnd.beginShadowPass(true);
  d->setPolygonOffset(0.0f, 0.0f, kPolygonFill);
  g_renderBackEnd.setDepthFunc(kCompareLessEqual);
  g_renderBackEnd.setCullMode(kCullBack);
  d->setStencilFunc(kCompareAlways, kStencilReference, kStencilMaskAll);
  d->setStencilOp(kStencilKeep, kStencilKeep, kStencilIncr);
  s->unbindAll();
  s->bind(shadowMapVP_);
  s->bind(shadowMapFP_);
  // World position to the map's 0..1 texture space (x and y) with the projective w.
  Mat4 bias;
  std::memset(bias.m, 0, sizeof(bias.m));
  bias.m[0] = bias.m[5] = bias.m[10] = 0.5f;
  bias.m[12] = bias.m[13] = bias.m[14] = 0.5f;
  bias.m[15] = 1.0f;
  const Mat4 texture = Mat4::multiply(Mat4::multiply(view.modelView, view.projection), bias);
  for (int row = 0; row < 4; ++row) {
    const float v[4] = {texture.m[row], texture.m[4 + row], texture.m[8 + row], texture.m[12 + row]};
    s->setEnvParam(shadowMapVP_, kEnvLightTexture + row, v);
  }
  const Vec3 forward = view.axis[0];
  const float depthPlane[4] = {forward.x, forward.y, forward.z, -forward.dot(view.eye)};
  s->setEnvParam(shadowMapVP_, kEnvLightDepth, depthPlane);
  const float bias1 = l->shadowMapBias + (view.orthographic ? 0.0f : r_shadowMapBiasM.getFloat());
  const float range[4] = {view.zNear, view.zFar, view.zFar - view.zNear, bias1};
  const float mode[4] = {view.orthographic ? 1.0f : 0.0f, 0.0f, 0.0f, 0.0f};
  s->setEnvParam(shadowMapFP_, 0, range);
  s->setEnvParam(shadowMapFP_, 1, mode);
  d->selectTextureUnit(0, 0);
  shadowMapTarget_->getColorTarget(0)->bind();
  auto compare = [&](const DrawSurface& ds) {
    const SurfaceGeometry* g = ds.surface != nullptr ? ds.surface->geometry : nullptr;
    if (ds.material == nullptr || !ds.material->hasInteractionStages() || g == nullptr ||
        !surfaceInFrustum(ds) || !surfaceTouchesLight(ds, *l)) {
      return;
    }
    g_renderBackEnd.setDrawSurface(&ds);
    if (!g_renderBackEnd.beginSurfacePolygonOffset()) {
      return;
    }
    d->drawTriangles(ds.indexes, ds.numIndexes);
    g_renderBackEnd.endSurfacePolygonOffset();
  };
  for (ModelSurface* surface : l->litSurfaces) {
    DrawSurface ds;
    if (litDrawSurface(surface, &ds)) {
      compare(ds);
    }
  }
  for (const DrawSurface* ds : visibleDrawList_) {
    if (ds->entity != nullptr || (p.flags & (kLightAmbient | kLightAllDynamic)) != 0) {
      compare(*ds);
    }
  }
  d->setStencilOp(kStencilKeep, kStencilKeep, kStencilKeep);
  g_renderBackEnd.setDrawSurface(nullptr);
  g_renderBackEnd.endShadowPass();
  g_renderBackEnd.setupPass();
  shadowMapCasters_ += casters;
  shadowMapsRendered_++;
  return true;
}
