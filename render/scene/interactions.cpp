// Light interactions: for every visible light the surfaces it touches are drawn additively with the
// interaction programs, limited to the light's scissor rectangle, between the stencil shadow passes;
// fog volumes are counted into the stencil and blended; light materials and light texture space.
//
// Sections: light materials and projection, light refresh, scissor and screen bounds, the light
// loop, one light, fog volumes, debug drawing.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "lib/interface/cmdsystem.h"
#include "lib/interface/convarsystem.h"
#include "lib/interface/texmanager.h"
#include "lib/polygon.h"
#include "render/backend/framebufferopengl.h"
#include "render/material/expression.h"
#include "render/material/material.h"
#include "render/model/basemodel.h"
#include "render/model/surfacebuilder.h"
#include "render/scene/rendermanager.h"

static ConVar r_useScissorI("r_useScissor", "1", 0x2011, "use screen scissoring while rendering");
static ConVar r_shadowsI("r_shadows", "1", 0x20011);
static ConVar r_lightqualityI("r_lightquality", "2", 0x30012, "0=lightmap, 1=hybrid, 2=dynamic", 0.0f, 2.0f);
static ConVar r_lightScaleI("r_lightScale", "2", 0x2014, "multiplied by the light's own intensity");
static ConVar r_skipFogLightsI("r_skipFogLights", "0", 0x11, "skip rendering of fog volumes");
static ConVar r_shownormalsI("r_shownormals", "0", 0x2012, "displays model normals (including tangents)");
static ConVar r_shownormalslengthI("r_shownormalslength", "2", 0x2014, "length to use when displaying normals");
static ConVar r_showgridlightI("r_showgridlight", "0", 0x2011);
static ConVar r_skipDynamicShadowsI("r_skipDynamicShadows", "0", 0x12);

namespace {

// The smallest light extent: a zero radius component would divide by zero in the light planes.
constexpr float kMinLightRadius = 0.01f;

float clamp01(float v) { return v < 0.0f ? 0.0f : (v > 1.0f ? 1.0f : v); }

void setPlane(float out[4], const Vec3& n, float w) {
  out[0] = n.x;
  out[1] = n.y;
  out[2] = n.z;
  out[3] = w;
}

Vec3 safeRadius(const Vec3& r) {
  Vec3 out = r;
  for (int i = 0; i < 3; ++i) {
    if (!(std::fabs(out[i]) >= kMinLightRadius)) {
      out[i] = kMinLightRadius;
    }
  }
  return out;
}

}  // namespace

// --- Light materials and projection ---

Material* RenderManager::findLightMaterial(const RenderLight* light) {
  if (light != nullptr && light->material != nullptr) {
    light->material->ensureLoaded();
    return light->material;
  }
  const char* name = getDefaultMaterialName(light != nullptr ? light->kind : 1, light != nullptr ? light->shape : 1);
  Material* m = name != nullptr ? findMaterial(name, false) : nullptr;
  if (m == nullptr) {
    if (g_cmdSystem != nullptr) {
      g_cmdSystem->printf("ERROR: failed to locate default light shader\n");
    }
    return nullptr;
  }
  m->ensureLoaded();
  return m;
}

// The falloff image of a light material, borrowed from the default material of the light's kind
// and shape when the material has none (the material itself is not changed: it owns its images).
static ImageInterface* lightFalloffImage(RenderManager* manager, const RenderLight* light, Material* material) {
  if (material == nullptr) {
    return nullptr;
  }
  if (material->falloffImage != nullptr) {
    return material->falloffImage;
  }
  RenderLight plain;
  if (light != nullptr) {
    plain.kind = light->kind;
    plain.shape = light->shape;
  }
  plain.material = nullptr;
  Material* fallback = manager->findLightMaterial(&plain);
  return fallback != nullptr ? fallback->falloffImage : nullptr;
}

// The texture modifiers of the light material's first stage, on top of the light's S and T planes
// (Q is the projective divisor, 1 for volume lights): s' = m0 S + m4 T + m12 Q, t' = m1 S + m5 T +
// m13 Q, so a scrolled, scaled or rotated light image moves over what it lights.
static void applyLightTexMods(const Material* material, float out[4][4]) {
  const MaterialStage* stage = material != nullptr ? material->getStage(0) : nullptr;
  if (stage == nullptr || stage->texModCount <= 0) {
    return;
  }
  MaterialStage plain = *stage;
  plain.texGen = 0;  // only the modifiers: the light planes are the coordinates
  const Mat4 m = stageTextureMatrix(plain, Mat4(), Mat4());
  float s[4];
  float t[4];
  for (int k = 0; k < 4; ++k) {
    s[k] = m.m[0] * out[0][k] + m.m[4] * out[1][k] + m.m[12] * out[2][k];
    t[k] = m.m[1] * out[0][k] + m.m[5] * out[1][k] + m.m[13] * out[2][k];
  }
  std::memcpy(out[0], s, sizeof(s));
  std::memcpy(out[1], t, sizeof(t));
}

void RenderManager::lightProjection(const LightRecord* record, float out[4][4]) const {
  lightProjectionPlanes(record, out);
  const Material* m = record->lightMaterial != nullptr ? record->lightMaterial : record->parms.material;
  applyLightTexMods(m, out);
}

void RenderManager::lightProjectionPlanes(const LightRecord* record, float out[4][4]) const {
  const RenderLight& l = record->parms;
  const Vec3 r = safeRadius(l.radius);
  const Vec3& o = l.origin;
  if (l.shape == 4) {
    // A cone along -axis 2: s and t divided by the depth, the falloff along the depth.
    const Vec3 a0 = l.axis[0];
    const Vec3 a1 = l.axis[1];
    const Vec3 a2 = l.axis[2];
    const Vec3 nS = a0 * (0.5f * r.z / r.x) - a2 * 0.5f;
    const Vec3 nT = a1 * (0.5f * r.z / r.y) - a2 * 0.5f;
    const Vec3 nQ = -a2;
    const Vec3 nF = a2 * (-1.0f / r.z);
    setPlane(out[0], nS, -nS.dot(o));
    setPlane(out[1], nT, -nT.dot(o));
    setPlane(out[2], nQ, -nQ.dot(o));
    setPlane(out[3], nF, -nF.dot(o));
    return;
  }
  // The light's box maps to 0..1 on each axis.
  Vec3 n[3];
  for (int i = 0; i < 3; ++i) {
    n[i] = l.axis[i] * (0.5f / r[i]);
  }
  setPlane(out[0], n[0], 0.5f - n[0].dot(o));
  setPlane(out[1], n[1], 0.5f - n[1].dot(o));
  setPlane(out[2], Vec3(), 1.0f);
  setPlane(out[3], n[2], 0.5f - n[2].dot(o));
}

void RenderManager::viewerFogPlanes(const LightRecord* record, float out[4][4]) const {
  // Measured from the viewer along the view direction: the falloff coordinate runs from 1 at the
  // eye to 0 at the fog distance (a falloff image that falls with s, such as "_quadratic", then
  // thickens the fog with distance), S from 0.5 at the eye to 1 at the fog distance (the radial
  // "_fog" image grows the same way), T stays 0.5.
  const float distance = record->fogDistance > 0.0f ? record->fogDistance : kDefaultFogDistance;
  const float scale = 1.0f / (distance > 1.0f / 256.0f ? distance : 1.0f / 256.0f);
  const Vec3 forward = view_.axis[0];
  const float d0 = forward.dot(view_.origin);
  const Vec3 s = forward * (0.5f * scale);
  setPlane(out[0], s, 0.5f - s.dot(view_.origin));
  setPlane(out[1], Vec3(), 0.5f);
  setPlane(out[2], Vec3(), 1.0f);
  setPlane(out[3], forward * -scale, 1.0f + d0 * scale);
}

// --- Light refresh ---

void RenderManager::buildLightSurfaceLists(int index) {
  LightRecord* l = lightRecord(index);
  if (l == nullptr) {
    return;
  }
  l->litSurfaces.setNum(0);
  if (g_spatialSystem == nullptr) {
    return;
  }
  SurfaceList list(64);
  if (l->parms.flags & kLightShadows) {
    g_spatialSystem->surfacesVisibleFromPoint(list, l->parms.origin + l->parms.center, l->parms.bounds);
  } else {
    g_spatialSystem->surfacesInBounds(list, l->parms.bounds);
  }
  for (ModelSurface* s : list) {
    if (s != nullptr && s->material != nullptr) {
      l->litSurfaces.append(s);
    }
  }
}

void RenderManager::updateLightInteractions(int index) {
  LightRecord* l = lightRecord(index);
  if (l == nullptr) {
    return;
  }
  // A light model that a reload turned into the default model (it has no file) is made again.
  if (l->lightModel != nullptr && l->lightModel->isDefaultModel()) {
    if (g_renderModelSystem != nullptr) {
      g_renderModelSystem->freeModel(l->lightModel);
    }
    l->lightModel = nullptr;
    l->state |= kLightDirty;
  }
  if (!(l->state & kLightDirty)) {
    return;
  }
  l->lightMaterial = findLightMaterial(&l->parms);
  if (l->parms.kind == 2) {
    // A fog volume lights nothing and casts nothing: its model is its own box. It keeps no area
    // list: the areas seen from inside it reach through every open door, and what it covers is
    // what lies in its box (bounds and planes), not everything in those areas.
    l->numAreas = 0;
    buildFogVolumeModel(index);
    l->state = uint8_t(l->state & ~kLightDirty);
    return;
  }
  // The static casters' volumes follow the light's new surfaces (rebuilt when next drawn).
  releaseStaticShadows(l);
  if (l->staticShadowModel0 == nullptr && l->staticShadowModel1 == nullptr) {
    l->staticShadowModel0 = findPrelightModel(l->parms);
  }
  l->numAreas = 0;
  if (g_spatialSystem != nullptr) {
    const int n = g_spatialSystem->areasVisibleFromPoint(l->parms.origin, l->parms.bounds, l->areas, 16);
    l->numAreas = n < 0 ? 0 : (n > 16 ? 16 : n);
  }
  buildLightSurfaceLists(index);
  l->state = uint8_t(l->state & ~kLightDirty);
}

// --- Scissor and screen bounds ---

void RenderManager::resetScissor() {
  int vp[4];
  g_renderBackEnd.getViewport(vp);
  scissor_[0] = vp[0];
  scissor_[1] = vp[1];
  scissor_[2] = vp[2];
  scissor_[3] = vp[3];
  scissorArea_ = -1;
  scissorEmpty_ = false;
  if (g_renderInterface != nullptr) {
    g_renderInterface->setScissor(vp[0], vp[1], vp[2], vp[3]);
    g_renderInterface->setDepthRange(0.0f, 1.0f);
  }
}

bool RenderManager::setScissorForLight(const LightRecord* light, int area) {
  if (g_spatialSystem == nullptr || !r_useScissorI.getBool()) {
    resetScissor();
    return true;
  }
  const int viewArea = g_spatialSystem->pointToArea(&view_.origin.x);
  Bounds rect(Vec3(0, 0, 0), Vec3(1, 1, 1));
  if (area < 0) {
    if (light != nullptr && light->numAreas > 0 && viewArea >= 0) {
      Bounds u;
      bool full = false;
      for (int i = 0; i < light->numAreas && !full; ++i) {
        if (light->areas[i] == viewArea) {
          full = true;
        } else {
          Bounds a;
          g_spatialSystem->getAreaScreenRect(a, light->areas[i]);
          u.addBounds(a);
        }
      }
      if (!full) {
        rect = u;
      }
    }
  } else {
    if (area == scissorArea_ && light == nullptr) {
      return !scissorEmpty_;  // an area off the screen stays off it
    }
    if (area != viewArea) {
      g_spatialSystem->getAreaScreenRect(rect, area);
    }
  }
  if (light != nullptr) {
    const Bounds& sb = light->screenBounds;
    for (int i = 0; i < 2; ++i) {
      rect.mins[i] = rect.mins[i] > sb.mins[i] ? rect.mins[i] : sb.mins[i];
      rect.maxs[i] = rect.maxs[i] < sb.maxs[i] ? rect.maxs[i] : sb.maxs[i];
    }
  }
  for (int i = 0; i < 2; ++i) {
    rect.mins[i] = clamp01(rect.mins[i]);
    rect.maxs[i] = clamp01(rect.maxs[i]);
  }
  scissorArea_ = area;
  int vp[4];
  g_renderBackEnd.getViewport(vp);
  scissorEmpty_ = !(rect.maxs.x > rect.mins.x) || !(rect.maxs.y > rect.mins.y);
  if (scissorEmpty_) {
    scissor_[0] = scissor_[1] = scissor_[2] = scissor_[3] = 0;
    if (g_renderInterface != nullptr) {
      g_renderInterface->setScissor(0, 0, 0, 0);
    }
    return false;
  }
  scissor_[0] = vp[0] + int(rect.mins.x * float(vp[2]));
  scissor_[1] = vp[1] + int(rect.mins.y * float(vp[3]));
  scissor_[2] = int((rect.maxs.x - rect.mins.x) * float(vp[2])) + 1;
  scissor_[3] = int((rect.maxs.y - rect.mins.y) * float(vp[3])) + 1;
  if (g_renderInterface != nullptr) {
    g_renderInterface->setScissor(scissor_[0], scissor_[1], scissor_[2], scissor_[3]);
    g_renderInterface->setDepthRange(0.0f, 1.0f);
  }
  return true;
}

void RenderManager::computeLightScreenBounds(LightRecord* light) {
  light->screenBounds.clear();
  if (g_spatialSystem == nullptr) {
    return;
  }
  const RenderLight& l = light->parms;
  // A viewer inside the light's volume sees it everywhere.
  bool inside = true;
  for (const Plane& p : l.planes) {
    inside = inside && p.distance(view_.origin) <= 0.0f;
  }
  if (inside) {
    light->screenBounds = Bounds(Vec3(0, 0, 0), Vec3(1, 1, 1));
    return;
  }
  const BackEndViewState& vs = g_renderBackEnd.viewState();
  const Plane nearPlane = vs.frustum[0];
  for (int i = 0; i < 6; ++i) {
    ConvexPolygon w;
    w.clipByPlanes(l.planes[i], l.planes, 6);
    // Only what lies in front of the near plane projects.
    w.clipInPlace(&nearPlane, 1);
    for (int k = 0; k < w.numPoints; ++k) {
      const Vec3& p = w.points[k];
      // Column-major: eye = model-view x (p, 1), clip = projection x eye.
      const float world[4] = {p.x, p.y, p.z, 1.0f};
      float eye[4];
      float clip[4];
      for (int r = 0; r < 4; ++r) {
        eye[r] = vs.modelView.m[r] * world[0] + vs.modelView.m[4 + r] * world[1] + vs.modelView.m[8 + r] * world[2] +
                 vs.modelView.m[12 + r] * world[3];
      }
      for (int r = 0; r < 4; ++r) {
        clip[r] = vs.projection.m[r] * eye[0] + vs.projection.m[4 + r] * eye[1] + vs.projection.m[8 + r] * eye[2] +
                  vs.projection.m[12 + r] * eye[3];
      }
      if (!(clip[3] > 1e-6f)) {
        continue;
      }
      light->screenBounds.addPoint(Vec3(clip[0] / clip[3] * 0.5f + 0.5f, clip[1] / clip[3] * 0.5f + 0.5f, 0.0f));
    }
  }
}

// --- The light loop ---

void RenderManager::drawLights() {
  // Once per light pass, before any light draws into it: done when the target is next bound, so
  // a pass that never binds it costs no framebuffer switch (which would split the frame's drawing).
  if (shadowMaskTarget_ != nullptr) {
    shadowMaskTarget_->clearDepthOnNextPush();
  }
  for (int index : visibleLights_) {
    if (skippedByLightQuality(index)) {
      continue;
    }
    renderLight(index);
    g_renderBackEnd.counters().lightsDrawn++;
  }
  g_renderBackEnd.setStencilForPass(false);
  resetScissor();
}

void RenderManager::drawFogLights() {
  // Over everything the lights and the stages after them drew.
  if (!r_skipFogLightsI.getBool() && (g_renderBackEnd.viewFlags() & kViewFlagLit) != 0) {
    for (const VisibleFog& fog : visibleFogs_) {
      renderFogLight(fog.light);
      g_renderBackEnd.counters().fogLightsDrawn++;
    }
  }
  g_renderBackEnd.setStencilForPass(false);
  resetScissor();
}

// --- One light ---

void RenderManager::renderLight(int index) {
  LightRecord* l = lightRecord(index);
  if (l == nullptr) {
    return;
  }
  resetScissor();
  updateLightInteractions(index);
  computeLightScreenBounds(l);
  const bool shadows = (l->parms.flags & kLightShadows) != 0 && r_shadowsI.getBool() &&
                       (g_renderBackEnd.viewFlags() & kViewFlagMirror) == 0 && r_lightqualityI.getInt() != 0;
  int receivers = -1;
  if (!shadows) {
    // Its surfaces are drawn with the stencil test passing everywhere: a clear would cost a pass
    // over the light's rectangle for nothing.
    g_renderBackEnd.beginUnshadowedPass(false);
  } else if ((l->parms.flags & kLightShadowMap) != 0 && !r_skipDynamicShadowsI.getBool() &&
             r_lightqualityI.getInt() > 1 && renderShadowMap(index)) {
    // The shadow map marked the shadowed fragments in the stencil: both receiver sets are lit
    // where it holds the reference.
    drawLightSurfaces(index, 0, nullptr);
    receivers = 1;
  } else {
    // Stencil shadows: ordinary casters, then noSelfShadow receivers lit, then noSelfShadow
    // casters, then the ordinary receivers.
    drawShadowCasters(index, 1, 0);
    drawLightSurfaces(index, 0, nullptr);
    drawShadowCasters(index, 0, 0);
    receivers = 1;
  }
  drawLightSurfaces(index, receivers, nullptr);
  g_renderBackEnd.setStencilForPass(false);
  g_renderBackEnd.setDrawSurface(nullptr);
  resetScissor();
}

bool RenderManager::surfaceInReceiverSet(const DrawSurface& ds, int receiverSet) const {
  if (receiverSet < 0) {
    return true;
  }
  const bool noSelf = ds.material != nullptr && (ds.material->getSurfaceFlags() & kMaterialNoSelfShadow) != 0;
  return receiverSet == 0 ? noSelf : !noSelf;
}

bool RenderManager::surfaceTouchesLight(const DrawSurface& ds, const LightRecord& light) const {
  const SurfaceGeometry* g = ds.surface != nullptr ? ds.surface->geometry : nullptr;
  if (g == nullptr || g->bounds.isCleared()) {
    return false;
  }
  if (g_spatialSystem != nullptr && light.numAreas > 0) {
    int areas[10];
    int count = 0;
    if (ds.entity != nullptr) {
      count = g_spatialSystem->areasInBounds(g->bounds, areas, 10);
    } else if (ds.surface->id >= 0) {
      areas[0] = ds.surface->id;
      count = 1;
    }
    if (count > 0) {
      return g_spatialSystem->areaListsIntersect(areas, count, light.areas, light.numAreas);
    }
  }
  if (!g->bounds.intersects(light.parms.bounds)) {
    return false;
  }
  // The light's oriented box: outside any of its planes is untouched.
  const Vec3 c = g->bounds.center();
  const Vec3 h = g->bounds.halfSize();
  for (const Plane& p : light.parms.planes) {
    const Vec3 n = p.normal();
    if (p.distance(c) - (std::fabs(n.x) * h.x + std::fabs(n.y) * h.y + std::fabs(n.z) * h.z) > 0.0f) {
      return false;
    }
  }
  return true;
}

void RenderManager::drawLightSurfaces(int index, int receiverSet, ImageInterface* shadowImage) {
  LightRecord* l = lightRecord(index);
  if (l == nullptr) {
    return;
  }
  const RenderLight& p = l->parms;
  g_renderBackEnd.setStencilForPass(receiverSet >= 0 && (p.flags & kLightShadows) != 0 &&
                                    (p.flags & kLightAmbient) == 0);
  Material* lightMaterial = l->lightMaterial != nullptr ? l->lightMaterial : findLightMaterial(&p);
  if (lightMaterial == nullptr) {
    return;  // no light images: the light is skipped
  }
  // The light's parameters are current while its material's colour is evaluated.
  DrawSurface lightParms;
  std::memcpy(lightParms.shaderParms, p.shaderParms, sizeof(lightParms.shaderParms));
  lightParms.shaderParms[3] = l->intensity * p.shaderParms[3];
  g_renderBackEnd.setDrawSurface(&lightParms);
  InteractionLight light;
  light.origin = lightEmissionPoint(p);
  lightProjection(l, light.planes);
  light.falloffImage = lightFalloffImage(this, &p, lightMaterial);
  const MaterialStage* first = lightMaterial->getStage(0);
  light.projectionImage = first != nullptr && first->imageCount > 0 ? first->images[0] : nullptr;
  light.shadowImage = shadowImage;
  light.ambient = (p.flags & kLightAmbient) != 0;
  light.specular = (p.flags & kLightSpecular) != 0;
  const float scale = r_lightScaleI.getFloat() * l->intensity * (l->intensitySource ? *l->intensitySource : 1.0f);
  for (int c = 0; c < 4; ++c) {
    const float stage = first != nullptr ? clamp01(evaluateExpression(first->color[c])) : 1.0f;
    light.color[c] = stage * scale;
  }
  light.color[3] = 1.0f;

  // World surfaces the light reaches (its light model).
  const bool owned = p.ownerId != 0;
  if (!(p.flags & kLightStaticSource) && (owned || r_lightqualityI.getInt() > 0)) {
    for (ModelSurface* surface : l->litSurfaces) {
      DrawSurface ds;
      ds.surface = surface;
      ds.material = surface->material;
      const SurfaceGeometry* g = surface->geometry;
      if (g == nullptr) {
        continue;
      }
      ds.vertexBuffer = g->vertexBuffer;
      ds.indexes = reinterpret_cast<const unsigned*>(g->indexes);
      ds.numIndexes = g->numIndexes;
      if (!surfaceInReceiverSet(ds, receiverSet) || !surfaceInFrustum(ds) || !setScissorForLight(l, surface->id)) {
        continue;
      }
      drawSurfaceInteractions(ds, light);
    }
  }
  // The visible draw list.
  for (const DrawSurface* ds : visibleDrawList_) {
    const Material* m = ds->material;
    if (m == nullptr || !m->hasInteractionStages()) {
      continue;
    }
    if (!owned) {
      if (ds->entity != nullptr && r_lightqualityI.getInt() <= 1) {
        continue;
      }
      if (ds->entity == nullptr && r_lightqualityI.getInt() == 0 && ds->surface->geometry != nullptr &&
          ds->surface->geometry->lightmap >= 0) {
        continue;
      }
    }
    if (!surfaceInReceiverSet(*ds, receiverSet)) {
      continue;
    }
    // World surfaces of ordinary lights come from the light model.
    if (ds->entity == nullptr && !(p.flags & (kLightAmbient | kLightAllDynamic))) {
      continue;
    }
    if (!surfaceInFrustum(*ds) || !surfaceTouchesLight(*ds, *l)) {
      continue;
    }
    if (!setScissorForLight(l, ds->surface->id)) {
      continue;
    }
    drawSurfaceInteractions(*ds, light);
  }
  g_renderBackEnd.setDrawSurface(nullptr);
  g_renderBackEnd.setupPass();
}

void RenderManager::drawSurfaceInteractions(const DrawSurface& ds, const InteractionLight& light) {
  g_renderBackEnd.setDrawSurface(&ds);
  g_renderBackEnd.drawInteractionStages(light);
}

// --- Fog volumes ---

void RenderManager::drawLightVolume(const LightRecord* light, bool reversed) {
  if (g_renderInterface == nullptr) {
    return;
  }
  if (volumeBuilder_ == nullptr) {
    volumeBuilder_ = new SurfaceBuilder();
  }
  SurfaceBuilder* builder = volumeBuilder_;
  builder->begin(SurfaceBuilder::kTriangles);
  builder->colorF(1.0f, 1.0f, 1.0f, 1.0f);
  for (int i = 0; i < 6; ++i) {
    ConvexPolygon w;
    w.clipByPlanes(light->parms.planes[i], light->parms.planes, 6);
    if (reversed) {
      w.reverse();
    }
    builder->appendPolygon(w);
  }
  builder->end();
  builder->drawFilled();
}

void RenderManager::buildFogVolumeModel(int index) {
  LightRecord* l = lightRecord(index);
  if (l == nullptr || g_renderModelSystem == nullptr) {
    return;
  }
  // The six faces turned inwards and fanned into triangles over shared corners (a box has eight).
  // Corners computed from different faces differ by rounding: within a hundredth they are one.
  List<DrawVertex> verts(16);
  List<int> indexes(48);
  for (int i = 0; i < 6; ++i) {
    ConvexPolygon w;
    w.clipByPlanes(l->parms.planes[i], l->parms.planes, 6);
    w.reverse();
    int corner[ConvexPolygon::kMaxPoints];
    for (int k = 0; k < w.numPoints; ++k) {
      const Vec3& p = w.points[k];
      corner[k] = -1;
      for (int v = 0; v < verts.num() && corner[k] < 0; ++v) {
        const float* q = verts[v].xyz;
        if (std::fabs(q[0] - p.x) < 0.01f && std::fabs(q[1] - p.y) < 0.01f && std::fabs(q[2] - p.z) < 0.01f) {
          corner[k] = v;
        }
      }
      if (corner[k] < 0) {
        DrawVertex dv{};
        dv.xyz[0] = p.x;
        dv.xyz[1] = p.y;
        dv.xyz[2] = p.z;
        std::memset(dv.color, 255, sizeof(dv.color));
        corner[k] = verts.append(dv);
      }
    }
    for (int k = 1; k + 1 < w.numPoints; ++k) {
      indexes.append(corner[0]);
      indexes.append(corner[k]);
      indexes.append(corner[k + 1]);
    }
  }
  BaseModel* model = l->lightModel;
  if (model == nullptr) {
    model = static_cast<BaseModel*>(g_renderModelSystem->allocEmptyModel());
    char name[32];
    std::snprintf(name, sizeof(name), "light_model_%d", index);
    model->init(name);
    model->setMode(kModelGpuBuffers);
    l->lightModel = model;
  }
  SurfaceGeometry* g = model->numSurfaces() == 1 ? model->getSurface(0)->geometry : nullptr;
  const bool inPlace = g != nullptr && g->numVerts == verts.num() && g->numIndexes == indexes.num();
  if (!inPlace) {
    // A volume of another shape: the old faces go, so no stale surface is drawn beside the new.
    for (int n = model->numSurfaces(); n > 0; --n) {
      ModelSurface* old = model->getSurface(0);
      if (old->geometry == nullptr) {
        break;
      }
      model->freeGeometry(old->geometry);
    }
    g = nullptr;
    if (model->numSurfaces() == 0 && verts.num() > 0 && indexes.num() > 0) {
      g = model->allocGeometryForMode(verts.num(), indexes.num(), kGeometryVertices | kGeometryIndexes, true);
    }
    if (g == nullptr) {
      return;
    }
  }
  std::memcpy(g->verts, verts.ptr(), sizeof(DrawVertex) * size_t(verts.num()));
  std::memcpy(g->indexes, indexes.ptr(), sizeof(int) * size_t(indexes.num()));
  g->numVerts = verts.num();
  g->numIndexes = indexes.num();
  g->bounds.clear();
  for (const DrawVertex& v : verts) {
    g->bounds.addPoint(Vec3(v.xyz[0], v.xyz[1], v.xyz[2]));
  }
  g->facetsValid = 0;
  if (inPlace) {
    model->getSurface(0)->material = l->lightMaterial;
    model->uploadVertices(true);
  } else {
    model->addSurface({l->lightMaterial, g, -1});
  }
}

void RenderManager::renderFogLight(int index) {
  LightRecord* l = lightRecord(index);
  if (l == nullptr) {
    return;
  }
  resetScissor();
  bool started = false;
  InteractionLight light;
  Material* fogMaterial = nullptr;
  for (const DrawSurface* ds : visibleDrawList_) {
    // A material without stages drew nothing, not even depth: nothing of it is there to fog.
    if (ds->material == nullptr || ds->material->getNumStages() == 0 || !surfaceTouchesLight(*ds, *l)) {
      continue;
    }
    if (!started) {
      started = true;
      computeLightScreenBounds(l);
      // Count the volume: pixels inside it end with a stencil value other than 128.
      g_renderBackEnd.beginShadowPass(true);
      if (g_renderInterface != nullptr) {
        g_renderBackEnd.setCullMode(kCullFront);
        g_renderInterface->setStencilOp(kStencilKeep, kStencilIncr, kStencilKeep);
        drawLightVolume(l, false);
        g_renderBackEnd.setCullMode(kCullBack);
        g_renderInterface->setStencilOp(kStencilKeep, kStencilDecr, kStencilKeep);
        drawLightVolume(l, false);
      }
      g_renderBackEnd.endShadowPass();
      updateLightInteractions(index);
      if (g_renderInterface != nullptr) {
        g_renderInterface->setDepthMask(false);
        g_renderBackEnd.setDepthFunc(kCompareEqual);
        g_renderInterface->setStencilFunc(kCompareNotEqual, kStencilReference, kStencilMaskAll);
        g_renderInterface->setStencilOp(kStencilKeep, kStencilKeep, kStencilKeep);
      }
      DrawSurface parms;
      std::memcpy(parms.shaderParms, l->parms.shaderParms, sizeof(parms.shaderParms));
      g_renderBackEnd.setDrawSurface(&parms);
      Material* m = l->lightMaterial;
      fogMaterial = m;
      lightProjection(l, light.planes);
      if (m == nullptr || (m->extraFlags & kExtraBlendLight) == 0) {
        viewerFogPlanes(l, light.planes);
      }
      light.falloffImage = lightFalloffImage(this, &l->parms, m);
      const MaterialStage* first = m != nullptr ? m->getStage(0) : nullptr;
      light.projectionImage = first != nullptr && first->imageCount > 0 ? first->images[0] : nullptr;
      for (int c = 0; c < 4; ++c) {
        light.color[c] = first != nullptr ? clamp01(evaluateExpression(first->color[c])) : 1.0f;
      }
      light.ambient = true;
    }
    if (!setScissorForLight(l, ds->surface->id)) {
      continue;
    }
    // The fog's own stages, blended over what is there: thick fog hides it.
    g_renderBackEnd.setDrawSurface(ds);
    g_renderBackEnd.drawFogStages(light, fogMaterial, kCompareEqual);
  }
  if (started) {
    g_renderBackEnd.setDrawSurface(nullptr);
    g_renderBackEnd.setCullMode(kCullBack);
    g_renderBackEnd.setDepthFunc(kCompareLessEqual);
    if (g_renderInterface != nullptr) {
      g_renderInterface->setStencilFunc(kCompareAlways, kStencilReference, kStencilMaskAll);
    }
    // The volume's own faces, turned inwards: its far side covers what lies behind the volume
    // (seen through it), where the counted stencil left the frame alone. What lies in front of
    // the far side failed the depth test.
    BaseModel* model = l->lightModel;
    if (model != nullptr && setScissorForLight(l, -1)) {
      for (int s = 0; s < model->numSurfaces(); ++s) {
        const ModelSurface* surface = model->getSurface(s);
        const SurfaceGeometry* g = surface != nullptr ? surface->geometry : nullptr;
        if (g == nullptr) {
          continue;
        }
        DrawSurface face;
        std::memcpy(face.shaderParms, l->parms.shaderParms, sizeof(face.shaderParms));
        face.surface = surface;
        face.material = surface->material;
        face.vertexBuffer = g->vertexBuffer;
        face.indexes = reinterpret_cast<const unsigned*>(g->indexes);
        face.numIndexes = g->numIndexes;
        g_renderBackEnd.setDrawSurface(&face);
        g_renderBackEnd.drawFogStages(light, fogMaterial, kCompareLessEqual);
      }
      g_renderBackEnd.setDrawSurface(nullptr);
    }
    resetScissor();
    g_renderBackEnd.setupPass();
  }
}

// --- Debug drawing ---

void RenderManager::drawNormals(const DrawSurface& ds) {
  const int mode = r_shownormalsI.getInt();
  if (mode == 0) {
    return;
  }
  const SurfaceGeometry* g = ds.surface != nullptr ? ds.surface->geometry : nullptr;
  if (g == nullptr || g->verts == nullptr) {
    return;
  }
  static const float kColors[3][4] = {{1, 0, 0, 1}, {0, 1, 0, 1}, {0, 0, 1, 1}};
  List<Vec3> lines(64);
  normalLines(g, r_shownormalslengthI.getFloat(), &lines);
  for (int i = 0; i + 1 < lines.num(); i += 2) {
    debugLine(kColors[(i / 2) % 3], lines[i], lines[i + 1], 0, mode != 2);
  }
}

void RenderManager::normalLines(const SurfaceGeometry* g, float length, List<Vec3>* out) {
  for (int v = 0; v < g->numVerts; ++v) {
    const DrawVertex& dv = g->verts[v];
    const Vec3 n(dv.normal[0], dv.normal[1], dv.normal[2]);
    const Vec3 start = Vec3(dv.xyz[0], dv.xyz[1], dv.xyz[2]) + n * 2.0f;
    const Vec3 dirs[3] = {Vec3(dv.tangents[0][0], dv.tangents[0][1], dv.tangents[0][2]),
                          Vec3(dv.tangents[1][0], dv.tangents[1][1], dv.tangents[1][2]), n};
    for (const Vec3& d : dirs) {
      out->append(start);
      out->append(start + d * length);
    }
  }
}

void RenderManager::drawGridLightBox(const Vec3& point) {
  if (!r_showgridlightI.getBool()) {
    return;
  }
  static const float kMagenta[4] = {1, 0, 1, 1};
  debugBounds(kMagenta, Bounds::fromSize(4.0f), point, false, 0, true);
}

// --- Lightmap and light-grid passes ---

void RenderManager::drawLightmapPass() {
  if (r_lightqualityI.getInt() != 0 || g_spatialSystem == nullptr) {
    return;
  }
  int bound = -1;
  for (const DrawSurface* ds : visibleDrawList_) {
    const SurfaceGeometry* g = ds->surface->geometry;
    if (g == nullptr || g->lightmap < 0 || !setScissorForLight(nullptr, ds->surface->id)) {
      continue;
    }
    if (g->lightmap != bound) {
      // Unit 1: the lightmap material's stage binds white on unit 0 and its surface's images on
      // 2-4, and the units' reset between draws leaves the binding, so a run binds it once.
      if (g_renderInterface != nullptr) {
        g_renderInterface->selectTextureUnit(1, 0);
      }
      if (!g_spatialSystem->bindLightmap(g->lightmap)) {
        break;
      }
      bound = g->lightmap;
    }
    if (lightmapMaterial_ != nullptr && g_renderInterface != nullptr) {
      g_renderBackEnd.setDrawSurface(ds);
      g_renderBackEnd.drawLightmapSurface(lightmapMaterial_);
    }
  }
  g_renderBackEnd.setDrawSurface(nullptr);
  resetScissor();
}

void RenderManager::drawLightGridPass() {
  if (g_spatialSystem == nullptr || !g_spatialSystem->hasLightGrid() || r_lightqualityI.getInt() > 1) {
    return;
  }
  for (const DrawSurface* ds : visibleDrawList_) {
    Material* m = ds->material;
    if (ds->entity == nullptr || m == nullptr || !m->hasInteractionStages() || !surfaceInFrustum(*ds) ||
        !setScissorForLight(nullptr, ds->surface->id)) {
      continue;
    }
    // Effect surfaces share one record placed at the origin: they sample where they are.
    const Vec3 point = ds->entity == &effectsEntity_ && ds->surface->geometry != nullptr
                           ? ds->surface->geometry->bounds.center()
                           : ds->entity->origin + Vec3(0.0f, 0.0f, 16.0f);
    Vec3 ambient;
    Vec3 directed;
    Vec3 direction;
    g_spatialSystem->sampleLightGrid(point, ambient, directed, direction);
    drawGridLightBox(point);
    if (lightGridMaterial_ != nullptr && g_renderInterface != nullptr) {
      g_renderBackEnd.setDrawSurface(ds);
      g_renderBackEnd.drawLightGridSurface(lightGridMaterial_, ambient, directed, direction);
    }
  }
  g_renderBackEnd.setDrawSurface(nullptr);
  if (g_renderInterface != nullptr) {
    g_renderBackEnd.setupPass();
  }
  resetScissor();
}
