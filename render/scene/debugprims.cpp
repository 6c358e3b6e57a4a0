// Timed debug primitives: lines, polygons (boxes, arrows, trace models, axes) and 3D texts queued
// with a lifetime on the view clock, drawn at the end of every 3D view through the surface builder,
// and removed by the clear operations once they have been drawn and have expired.
#include <cmath>
#include <cstring>

#include "lib/interface/cmdsystem.h"
#include "lib/interface/convarsystem.h"
#include "lib/interface/renderinterface.h"
#include "lib/interface/texmanager.h"
#include "lib/interface/tracemodel.h"
#include "render/backend/renderbackend.h"
#include "render/model/surfacebuilder.h"
#include "render/scene/rendermanager.h"

namespace {

constexpr int kMinLineLifetime = 8;
constexpr int kMinTextLifetime = 16;
// Device line widths are in thousandths of a pixel.
constexpr float kLineWidthUnit = 1000.0f;

void copyColor(float out[4], const float* in) {
  static const float kWhite[4] = {1.0f, 1.0f, 1.0f, 1.0f};
  std::memcpy(out, in ? in : kWhite, sizeof(float) * 4);
}

float debugLineThickness() {
  ConVar* var = g_conVarSystem ? g_conVarSystem->find("r_debugLineThickness") : nullptr;
  return var ? var->getFloat() : 1.5f;
}

}  // namespace

// --- Queueing ---

void RenderManager::debugLine(const float* color, const Vec3& a, const Vec3& b, int lifetime, bool depthTest) {
  if (debugLines_.num() >= kMaxDebugLines) {
    if (!debugQueueFullWarned_ && g_cmdSystem)
      g_cmdSystem->printf("WARNING: debug primitive queue full; clear it with clearDebugLines\n");
    debugQueueFullWarned_ = true;
    return;
  }
  DebugLine line;
  copyColor(line.color, color);
  line.start = a;
  line.end = b;
  line.expireTime = view_.time + (lifetime > kMinLineLifetime ? lifetime : kMinLineLifetime);
  line.flags = depthTest ? kDebugDepthTest : 0;
  debugLines_.append(line);
}

bool RenderManager::addDebugPolygonWorld(const float* color, const ConvexPolygon& world, bool filled, int lifetime,
                                         bool depthTest) {
  if (debugPolygons_.num() >= kMaxDebugPolygons) {
    if (!debugQueueFullWarned_ && g_cmdSystem)
      g_cmdSystem->printf("WARNING: debug primitive queue full; clear it with clearDebugPolygons\n");
    debugQueueFullWarned_ = true;
    return false;
  }
  DebugPolygon& p = debugPolygons_.alloc();
  copyColor(p.color, color);
  p.points = world;
  p.expireTime = view_.time + (lifetime > kMinLineLifetime ? lifetime : kMinLineLifetime);
  p.flags = uint8_t((depthTest ? kDebugDepthTest : 0) | (filled ? kDebugFilled : 0));
  return true;
}

void RenderManager::debugPolygon(const float* color, const ConvexPolygon& polygon, const Vec3& origin,
                                 const Mat3& axis, bool filled, int lifetime, bool depthTest) {
  ConvexPolygon world;
  const int count = polygon.numPoints < ConvexPolygon::kMaxPoints ? polygon.numPoints : ConvexPolygon::kMaxPoints;
  for (int i = 0; i < count; i++) {
    const Vec3& p = polygon[i];
    world.points[i] = origin + axis[0] * p.x + axis[1] * p.y + axis[2] * p.z;
  }
  world.numPoints = count > 0 ? count : 0;
  addDebugPolygonWorld(color, world, filled, lifetime, depthTest);
}

void RenderManager::debugBounds(const float* color, const Bounds& bounds, const Vec3& origin, bool filled,
                                int lifetime, bool depthTest) {
  if (bounds.mins.x > bounds.maxs.x)
    return;  // cleared bounds enclose nothing
  // Outward planes of the box: each face is its plane's square clipped by the other five.
  Plane planes[6];
  for (int i = 0; i < 3; i++) {
    Vec3 n;
    n[i] = 1.0f;
    planes[i * 2] = Plane(n, bounds.maxs[i]);
    planes[i * 2 + 1] = Plane(-n, -bounds.mins[i]);
  }
  for (int i = 0; i < 6; i++) {
    ConvexPolygon face;
    face.fromPlane(planes[i], 65536.0f);
    for (int j = 0; j < 6 && face.numPoints > 0; j++) {
      if (j != i)
        face.clipInPlace(&planes[j], 1);
    }
    if (face.numPoints >= 3)
      debugPolygon(color, face, origin, Mat3(), filled, lifetime, depthTest);
  }
}

void RenderManager::debugTraceModel(const float* color, const TraceModel& model, const Vec3& origin,
                                    const Mat3& axis, bool filled, int lifetime, bool depthTest) {
  const int numPolys = model.numPolys < TraceModel::kMaxPolys ? model.numPolys : TraceModel::kMaxPolys;
  for (int i = 0; i < numPolys; i++) {
    const TracePolygon& poly = model.polys[i];
    ConvexPolygon winding;
    const int numEdges = poly.numEdges < TraceModel::kMaxPolyEdges ? poly.numEdges : TraceModel::kMaxPolyEdges;
    for (int e = 0; e < numEdges; e++) {
      const int edge = poly.edges[e];
      // The record comes from the game module: edge and vertex numbers are checked.
      if (edge == 0 || edge > model.numEdges || -edge > model.numEdges || edge > TraceModel::kMaxEdges ||
          -edge > TraceModel::kMaxEdges)
        continue;
      const int v = model.edgeStart(edge);
      if (v < 0 || v >= model.numVerts || v >= TraceModel::kMaxVerts)
        continue;
      winding.points[winding.numPoints++] = model.verts[v];
    }
    if (winding.numPoints >= 3)
      debugPolygon(color, winding, origin, axis, filled, lifetime, depthTest);
  }
}

void RenderManager::debugArrow(const float* color, const Vec3& start, const Vec3& end, int size, int lifetime,
                               bool depthTest) {
  Vec3 dir = end - start;
  // A zero-length arrow has no direction to point its head along.
  if (!(dir.lengthSqr() > 0.0f))
    return;
  dir.normalize();
  const Vec3 side = dir.orthogonal();
  const Vec3 up = dir.cross(side);
  const float length = float(size);
  const float radius = length * 0.5f;
  const Vec3 base = end - dir * length;
  Vec3 ring[3];
  for (int i = 0; i < 3; i++) {
    const float angle = 6.2831855f * float(i) / 3.0f;
    ring[i] = base + side * (std::cos(angle) * radius) + up * (std::sin(angle) * radius);
  }
  const Mat3 identity;
  const Vec3 zero;
  for (int i = 0; i < 3; i++) {
    ConvexPolygon face;
    face.points[0] = end;
    face.points[1] = ring[i];
    face.points[2] = ring[(i + 1) % 3];
    face.numPoints = 3;
    debugPolygon(color, face, zero, identity, false, lifetime, depthTest);
  }
  float half[4];
  copyColor(half, color);
  for (int i = 0; i < 3; i++)
    half[i] *= 0.5f;
  ConvexPolygon bottom;
  bottom.points[0] = ring[2];
  bottom.points[1] = ring[1];
  bottom.points[2] = ring[0];
  bottom.numPoints = 3;
  debugPolygon(half, bottom, zero, identity, false, lifetime, depthTest);
  if ((end - start).lengthSqr() > length * length)
    debugLine(color, start, base, lifetime, depthTest);
}

void RenderManager::debugAxis(const Vec3& origin, const Mat3& axis) {
  static const float kColors[3][4] = {{1, 0, 0, 1}, {0, 1, 0, 1}, {0, 0, 1, 1}};
  for (int k = 0; k < 3; k++)
    debugArrow(kColors[k], origin, origin + axis[k] * 8.0f, 1, 0, false);
}

void RenderManager::debugText(const char* text, const Vec3& origin, float scale, const float* color,
                              const Mat3& axis, int align, int lifetime) {
  if (!text)
    return;
  if (debugTexts_.num() >= kMaxDebugTexts) {
    if (!debugQueueFullWarned_ && g_cmdSystem)
      g_cmdSystem->printf("WARNING: debug primitive queue full; clear it with clearDebugPolygons\n");
    debugQueueFullWarned_ = true;
    return;
  }
  DebugText& t = debugTexts_.alloc();
  t.text = text;
  copyColor(t.color, color);
  t.origin = origin;
  t.axis = axis;
  t.scale = scale;
  t.align = align;
  t.expireTime = view_.time + (lifetime > kMinTextLifetime ? lifetime : kMinTextLifetime);
}

// --- Expiry ---

void RenderManager::clearDebugLines(int time) {
  if (time == 0) {
    debugLines_.clear();
  } else {
    for (int i = debugLines_.num() - 1; i >= 0; i--) {
      const DebugLine& l = debugLines_[i];
      if ((l.flags & kDebugLineDrawn) && l.expireTime < time)
        debugLines_.removeIndex(i);
    }
  }
  debugQueueFullWarned_ = false;
}

void RenderManager::clearDebugPolygons(int time) {
  if (time == 0) {
    debugPolygons_.clear();
    debugTexts_.clear();
  } else {
    for (int i = debugPolygons_.num() - 1; i >= 0; i--) {
      const DebugPolygon& p = debugPolygons_[i];
      if ((p.flags & kDebugPolygonDrawn) && p.expireTime < time)
        debugPolygons_.removeIndex(i);
    }
    for (int i = debugTexts_.num() - 1; i >= 0; i--) {
      if (debugTexts_[i].expireTime < time)
        debugTexts_.removeIndex(i);
    }
  }
  debugQueueFullWarned_ = false;
}

void RenderManager::freeDebugQueues() {
  debugLines_.clear();
  debugPolygons_.clear();
  debugTexts_.clear();
  delete debugBuilder_;
  debugBuilder_ = nullptr;
}

// --- Drawing ---

namespace {

void beginDebugPass(bool depthWrites) {
  g_renderBackEnd.setupPass();
  g_renderInterface->setBlendFunc(kBlendSrcAlpha, kBlendOneMinusSrcAlpha);
  if (g_whiteImage)
    g_whiteImage->bind();
  g_renderInterface->setDepthFunc(kCompareAlways);
  g_renderInterface->setDepthMask(depthWrites);
  g_renderInterface->setCullMode(kCullNone);
}

void setDebugDepthTest(bool depthTest) {
  g_renderInterface->setDepthFunc(depthTest ? kCompareLessEqual : kCompareAlways);
}

}  // namespace

void RenderManager::drawDebugPrimitives() {
  if (!g_renderInterface || !initialised_)
    return;
  if (debugLines_.num() == 0 && debugPolygons_.num() == 0 && debugTexts_.num() == 0)
    return;
  if (!debugBuilder_)
    debugBuilder_ = new SurfaceBuilder();
  SurfaceBuilder& b = *debugBuilder_;

  if (debugLines_.num() > 0) {
    beginDebugPass(true);
    b.setLineWidth(2.0f * kLineWidthUnit);
    int depth = -1;
    bool open = false;
    for (int i = debugLines_.num() - 1; i >= 0; i--) {
      DebugLine& l = debugLines_[i];
      const int d = l.flags & kDebugDepthTest;
      if (open && (d != depth || !b.hasRoom(2, 3))) {
        b.end();
        b.draw(SurfaceBuilder::kLines);
        open = false;
      }
      if (!open) {
        setDebugDepthTest(d != 0);
        depth = d;
        open = b.begin(SurfaceBuilder::kLines);
        if (!open)
          break;
      }
      b.color(l.color);
      b.vertexV(l.start);
      b.vertexV(l.end);
      l.flags |= kDebugLineDrawn;
    }
    if (open) {
      b.end();
      b.draw(SurfaceBuilder::kLines);
    }
    b.setLineWidth(kLineWidthUnit);
  }

  if (debugPolygons_.num() > 0) {
    beginDebugPass(false);
    const float outlineWidth = debugLineThickness();
    int state = -1;
    bool open = false;
    int mode = SurfaceBuilder::kLines;
    for (int i = debugPolygons_.num() - 1; i >= 0; i--) {
      DebugPolygon& p = debugPolygons_[i];
      const int n = p.points.numPoints;
      if (n < 3) {
        p.flags |= kDebugPolygonDrawn;
        continue;
      }
      const int s = p.flags & (kDebugDepthTest | kDebugFilled);
      const bool filled = (p.flags & kDebugFilled) != 0;
      // Outlines take two vertices and a line per edge; fans take the points and a triangle each.
      const int needVerts = filled ? n : n * 2;
      const int needIndexes = filled ? (n - 2) * 3 : n * 3;
      if (open && (s != state || !b.hasRoom(needVerts, needIndexes))) {
        b.end();
        b.draw(mode);
        open = false;
      }
      if (!open) {
        state = s;
        mode = filled ? SurfaceBuilder::kTriangles : SurfaceBuilder::kLines;
        setDebugDepthTest((p.flags & kDebugDepthTest) != 0);
        b.setLineWidth((filled ? 1.0f : outlineWidth) * kLineWidthUnit);
        open = b.begin(mode);
        if (!open)
          break;
      }
      b.color(p.color);
      b.appendPolygon(p.points);
      p.flags |= kDebugPolygonDrawn;
    }
    if (open) {
      b.end();
      b.draw(mode);
    }
    g_renderInterface->setDepthMask(true);
    b.setLineWidth(kLineWidthUnit);
  }

  if (debugTexts_.num() > 0) {
    float saved[4];
    getColor(saved);
    const int savedAlign = fonts_.alignment();
    // The glyph batches keep the 3D projection: they are drawn as if inside 2D drawing.
    const int savedMode = g_renderBackEnd.passMode();
    const int savedOverride = g_renderBackEnd.depthFuncOverride();
    g_renderBackEnd.setPassMode(kPassMode2D);
    g_renderBackEnd.setDepthFuncOverride(kCompareAlways);
    for (int i = debugTexts_.num() - 1; i >= 0; i--) {
      const DebugText& t = debugTexts_[i];
      setColorV(t.color);
      fonts_.setTextAlignment(t.align);
      fonts_.drawText3D(t.axis, t.origin, t.scale, t.text.c_str());
    }
    g_renderBackEnd.setPassMode(savedMode);
    g_renderBackEnd.setDepthFuncOverride(savedOverride);
    fonts_.setTextAlignment(savedAlign);
    setColorV(saved);
  }
  g_renderBackEnd.setupPass();
}
