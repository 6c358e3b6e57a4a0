// The renderer's debug switches and debug commands: the overlays drawn at the end of each scene
// view ("r_showLights", "r_showLightTris", "r_showorigin", the spatial system's portals and light
// grid), the stencil read back after the lights ("r_debugStencil"), the image shown by
// "r_showTexture" at the end of the frame, the outline of 2D triangles under "r_showtris", the expiry of the debug primitives at each scene view
// (and their removal when a switch that drew them is turned off), and the commands "reloadARBprograms",
// "clearDebugLines" and "clearDebugPolygons".
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "lib/interface/cmdsystem.h"
#include "lib/interface/convarsystem.h"
#include "lib/interface/renderinterface.h"
#include "lib/interface/spatialsystem.h"
#include "lib/interface/texmanager.h"
#include "render/backend/renderbackend.h"
#include "render/model/basemodel.h"
#include "render/scene/rendermanager.h"

namespace {

// The engine core declares the same variables; both declarations share one registered value.
ConVar r_showLightsD("r_showLights", "0", 0x2012);
ConVar r_showLightTrisD("r_showLightTris", "0", 0x2011);
ConVar r_showoriginD("r_showorigin", "0", 0x2011, "displays world origin & axis");
ConVar r_debugStencilD("r_debugStencil", "0", 0x2001, "developer use only", 0.0f, 1.0f);
ConVar r_showTextureD("r_showTexture", "-1", 0x12, "specify a texture index");
ConVar r_showtrisD("r_showtris", "0", 0x2011, "0=disable, 1=overlay, 2=depth disabled, 3=no culling");
ConVar r_useScissorD("r_useScissor", "1", 0x2011, "use screen scissoring while rendering");

// Switches whose drawing goes through the timed debug primitives: when one of them is turned
// off, what it queued goes at once rather than when its lifetime ends.
const char* const kPrimitiveSwitches[] = {"r_showPortals",    "r_showgridlight", "r_showLights",
                                          "r_showLightTris",  "r_showorigin",    "r_showShadows",
                                          "r_showSilhouette", "r_showEdges",     "r_shownormals"};
constexpr int kNumPrimitiveSwitches = int(sizeof(kPrimitiveSwitches) / sizeof(kPrimitiveSwitches[0]));
bool s_switchWasOn[kNumPrimitiveSwitches] = {};

RenderManager* manager() {
  return static_cast<RenderManager*>(g_renderSystem);
}

void cmdReloadARBPrograms(const CmdArgs&) {
  ShaderInterface* shaders = g_renderInterface ? g_renderInterface->getShaderInterface() : nullptr;
  if (!shaders)
    return;
  // The records keep their names and indices: init loads each one again from its file.
  shaders->unloadAll();
  shaders->init();
}

void cmdClearDebugLines(const CmdArgs&) {
  if (manager())
    manager()->clearDebugLines(0);
}

void cmdClearDebugPolygons(const CmdArgs&) {
  if (manager())
    manager()->clearDebugPolygons(0);
}

}  // namespace

void RenderManager::registerDebugCommands() {
  if (!g_cmdSystem)
    return;
  if (!g_cmdSystem->findCommand("reloadARBprograms"))
    g_cmdSystem->addCommand("reloadARBprograms", cmdReloadARBPrograms, 6, "reloads ARB programs");
  if (!g_cmdSystem->findCommand("clearDebugLines"))
    g_cmdSystem->addCommand("clearDebugLines", cmdClearDebugLines, 6, "removes every queued debug line");
  if (!g_cmdSystem->findCommand("clearDebugPolygons"))
    g_cmdSystem->addCommand("clearDebugPolygons", cmdClearDebugPolygons, 6,
                            "removes every queued debug polygon and text");
}

// --- Scene overlays ---

void RenderManager::drawDebugOverlays() {
  expireDebugPrimitives();
  if (g_spatialSystem)
    g_spatialSystem->drawDebug();
  if (r_showLightsD.getInt())
    showLights();
  if (r_showLightTrisD.getInt())
    showLightTris();
  if (r_showoriginD.getInt()) {
    static const float kAxisColors[3][4] = {{1, 0, 0, 1}, {0, 1, 0, 1}, {0, 0, 1, 1}};
    static const Vec3 kAxes[3] = {Vec3(1, 0, 0), Vec3(0, 1, 0), Vec3(0, 0, 1)};
    for (int k = 0; k < 3; k++)
      debugArrow(kAxisColors[k], Vec3(0, 0, 0), kAxes[k] * 64.0f, 4, 0, false);
  }
}

void RenderManager::showStencilAfterLights() {
  if (r_debugStencilD.getInt())
    showStencil();
}

void RenderManager::showLights() {
  const int mode = r_showLightsD.getInt();
  const bool depthTest = mode < 3;
  List<int> shown(16);
  for (int index : visibleLights_)
    shown.append(index);
  for (const VisibleFog& fog : visibleFogs_)
    shown.append(fog.light);
  for (int index : shown) {
    const LightRecord* l = index >= 0 && index < lights_.num() ? lights_[index] : nullptr;
    if (!l)
      continue;
    const RenderLight& p = l->parms;
    if (g_cmdSystem) {
      if (l->lightModel) {
        int triangles = 0;
        for (int s = 0; s < l->lightModel->numSurfaces(); s++) {
          const SurfaceGeometry* g = l->lightModel->getSurface(s)->geometry;
          triangles += g ? g->numIndexes / 3 : 0;
        }
        g_cmdSystem->printf("light: %3d  numCachedSurfaces: %3d  numCachedTriangles: %3d\n", index,
                            l->lightModel->numSurfaces(), triangles);
      } else if (l->litSurfaces.num() > 0) {
        // The world surfaces the light reaches stand in for its light model here.
        int triangles = 0;
        for (const ModelSurface* s : l->litSurfaces)
          triangles += s && s->geometry ? s->geometry->numIndexes / 3 : 0;
        g_cmdSystem->printf("light: %3d  numCachedSurfaces: %3d  numCachedTriangles: %3d\n", index,
                            l->litSurfaces.num(), triangles);
      } else {
        g_cmdSystem->printf("light: %3d  numCachedSurfaces: all dynamic\n", index);
      }
    }
    static const float kWhite[4] = {1, 1, 1, 1};
    debugBounds(kWhite, Bounds::fromSize(8.0f), p.origin, false, 0, depthTest);
    if (!(p.flags & kLightAmbient)) {
      if (p.flags & kLightParallel) {
        Vec3 direction = p.center;
        if (direction.normalize() > 0.0f)
          debugArrow(kWhite, p.origin, p.origin - direction * 32.0f, 8, 0, depthTest);
      } else {
        debugBounds(kWhite, Bounds::fromSize(4.0f), p.origin + p.center, false, 0, depthTest);
      }
    }
    if (r_useScissorD.getBool() && l->screenBounds.mins.x <= l->screenBounds.maxs.x)
      showScreenRect(l->screenBounds, depthTest);
    // The six sides of the light volume: each plane's part inside the other five.
    static const float kOutline[4] = {0.5f, 0.5f, 1.0f, 1.0f};
    static const float kFill[4] = {0.0f, 0.0f, 1.0f, 0.5f};
    for (int i = 0; i < 6; i++) {
      ConvexPolygon side;
      side.fromPlane(p.planes[i], 65536.0f);
      Plane others[5];
      int n = 0;
      for (int j = 0; j < 6; j++)
        if (j != i)
          others[n++] = p.planes[j];
      side.clipInPlace(others, n);
      if (side.numPoints < 3)
        continue;
      addDebugPolygonWorld(kOutline, side, false, 0, depthTest);
      if (mode != 1)
        addDebugPolygonWorld(kFill, side, true, 0, depthTest);
    }
  }
}

void RenderManager::showScreenRect(const Bounds& rect, bool depthTest) {
  // Normalised screen corners carried back into the world just beyond the near plane.
  const RenderView& v = view_;
  const float tanX = std::tan(v.fovX * 0.5f * 0.0174532925f);
  const float tanY = std::tan(v.fovY * 0.5f * 0.0174532925f);
  const float depth = 8.0f;
  auto corner = [&](float sx, float sy) {
    const float x = (sx * 2.0f - 1.0f) * tanX * depth;
    const float y = (sy * 2.0f - 1.0f) * tanY * depth;
    return v.origin + v.axis[0] * depth - v.axis[1] * x + v.axis[2] * y;
  };
  ConvexPolygon frame;
  frame.addPoint(corner(rect.mins.x, rect.mins.y));
  frame.addPoint(corner(rect.maxs.x, rect.mins.y));
  frame.addPoint(corner(rect.maxs.x, rect.maxs.y));
  frame.addPoint(corner(rect.mins.x, rect.maxs.y));
  static const float kYellow[4] = {1, 1, 0, 1};
  (void)depthTest;
  addDebugPolygonWorld(kYellow, frame, false, 0, false);
}

void RenderManager::showLightTris() {
  static const float kCyan[4] = {0, 1, 1, 1};
  for (int index : visibleLights_) {
    const LightRecord* l = index >= 0 && index < lights_.num() ? lights_[index] : nullptr;
    if (!l)
      continue;
    // The light model's surfaces, or the world surfaces the light reaches that stand in for it.
    List<const SurfaceGeometry*> geometry(16);
    if (l->lightModel) {
      for (int s = 0; s < l->lightModel->numSurfaces(); s++)
        geometry.append(l->lightModel->getSurface(s)->geometry);
    } else {
      for (const ModelSurface* s : l->litSurfaces)
        geometry.append(s ? s->geometry : nullptr);
    }
    for (const SurfaceGeometry* g : geometry) {
      if (!g || !g->verts || !g->indexes)
        continue;
      for (int t = 0; t + 2 < g->numIndexes; t += 3) {
        const int i[3] = {g->indexes[t], g->indexes[t + 1], g->indexes[t + 2]};
        if (i[0] < 0 || i[1] < 0 || i[2] < 0 || i[0] >= g->numVerts || i[1] >= g->numVerts ||
            i[2] >= g->numVerts)
          continue;
        for (int e = 0; e < 3; e++) {
          const float* a = g->verts[i[e]].xyz;
          const float* b = g->verts[i[(e + 1) % 3]].xyz;
          debugLine(kCyan, Vec3(a[0], a[1], a[2]), Vec3(b[0], b[1], b[2]), 0, true);
        }
      }
    }
  }
}

void RenderManager::showStencil() {
  if (!g_renderInterface)
    return;
  const int width = renderWidth_ < 1024 ? renderWidth_ : 1024;
  const int height = renderHeight_ < 768 ? renderHeight_ : 768;
  if (width <= 0 || height <= 0)
    return;
  std::vector<uint8_t> stencil(size_t(width) * size_t(height));
  if (!g_renderInterface->readStencil(stencil.data(), 0, 0, width, height))
    return;
  std::vector<uint8_t> rgb(size_t(width) * size_t(height) * 3);
  g_renderInterface->readPixels(rgb.data(), 0, 0, width, height, kPixelFormatRGB);
  // Zero (never touched) leaves the picture; every other value takes one of seven colours, so the
  // reference value of the lit parts and each shadow-volume count about it differ.
  static const uint8_t kColors[7][3] = {{255, 0, 0},   {0, 255, 0},   {0, 0, 255},    {255, 255, 0},
                                        {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};
  for (size_t i = 0; i < stencil.size(); i++)
    if (stencil[i] != 0)
      std::memcpy(&rgb[i * 3], kColors[stencil[i] % 7], 3);
  g_renderInterface->drawPixelsOverFrame(rgb.data(), width, height);
}

// --- End of frame ---

void RenderManager::drawTextureOverlay() {
  const int index = r_showTextureD.getInt();
  if (index < 0 || !g_texManager || !g_whiteImage || !initialised_)
    return;
  ImageInterface* image = index < g_texManager->getNumImages() ? g_texManager->getImage(index) : nullptr;
  if (!image)
    return;
  float saved[4];
  getColor(saved);
  setColor(1, 0, 1, 1);
  drawStretchImage(g_whiteImage, 0, 240, 320, 240, 0, 0, 1, 1);
  char caption[256];
  if (image->loaded) {
    setColor(1, 1, 1, 1);
    drawStretchImage(image, 0, 240, 320, 240, 0, 0, 1, 1);
    std::snprintf(caption, sizeof(caption), "img='%s' | [%dx%dx%d]", image->name, image->info.width,
                  image->info.height, imageFormatBitsPerPixel(image->info.pixelFormat));
  } else {
    std::snprintf(caption, sizeof(caption), "img='%s' | [not in memory]", image->name);
  }
  const float fontHeight = float(getFontHeight(0));
  setColor(0, 0, 0, 1);
  drawString640(0, 4, 484 - fontHeight, 0.5f, caption);
  setColor(1, 1, 1, 1);
  drawString640(0, 0, 480 - fontHeight, 0.5f, caption);
  setColorV(saved);
}

bool RenderManager::clearTurnedOffPrimitives() {
  bool turnedOff = false;
  for (int i = 0; i < kNumPrimitiveSwitches; i++) {
    const bool on = g_conVarSystem && g_conVarSystem->getInt(kPrimitiveSwitches[i]) != 0;
    turnedOff = turnedOff || (s_switchWasOn[i] && !on);
    s_switchWasOn[i] = on;
  }
  if (turnedOff) {
    clearDebugLines(0);
    clearDebugPolygons(0);
  }
  return turnedOff;
}

void RenderManager::expireDebugPrimitives() {
  if (clearTurnedOffPrimitives())
    return;
  // Primitives drawn by an earlier view whose lifetime has run out go before this view draws; those
  // queued since (by this view's passes) are not drawn yet and stay. A switch queues its own again
  // every view.
  // (Time 0 would empty the queues: a view at time 0 keeps them.)
  if (view_.time > 0) {
    clearDebugLines(view_.time);
    clearDebugPolygons(view_.time);
  }
}

// --- 2D triangles ---

void RenderManager::outline2DTriangles(const unsigned* indexes, int numIndexes) {
  if (!r_showtrisD.getInt() || !flatBuffer_ || !g_renderInterface)
    return;
  DrawSurface ds;
  ds.material = flatMaterial_;
  ds.vertexBuffer = flatBuffer_;
  ds.indexes = indexes;
  ds.numIndexes = numIndexes;
  g_renderBackEnd.setDrawSurface(&ds);
  g_renderBackEnd.drawTrisOverlay();
  g_renderBackEnd.setDrawSurface(nullptr);
}
