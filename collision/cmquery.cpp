// The query objects: setup in model space, the tree walk with its pruning, the swept separating-axis
// test of a trace model against a primitive, the point segment tests, and clipping a primitive by a
// shape (contents and contacts).
#include "collision/cmquery.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr float kClipEpsilon = 1.0f / 32.0f;
constexpr float kProjectionEpsilon = 1.0f / 64.0f;

float signOf(float v) {
  return v > 0.0f ? 1.0f : (v < 0.0f ? -1.0f : 0.0f);
}

void cleanRows(Mat3& m) {
  for (int r = 0; r < 3; r++) {
    Vec3& row = m[r];
    for (int k = 0; k < 3; k++)
      if (std::fabs(row[k]) < 1e-30f)
        row[k] = 0.0f;
    for (int k = 0; k < 3; k++) {
      const int o1 = (k + 1) % 3, o2 = (k + 2) % 3;
      if (row[o1] == 0.0f && row[o2] == 0.0f && row[k] != 0.0f) {
        row[k] = row[k] > 0.0f ? 1.0f : -1.0f;
        break;
      }
    }
  }
}

const TraceModel& unitBox() {
  static const TraceModel box = [] {
    TraceModel t;
    t.setupBoxFromSize(1.0f);
    return t;
  }();
  return box;
}

// Keeps the part of the polygon behind every face of the trace model, each face pushed out by epsilon.
bool clipByTraceModelFaces(ConvexPolygon& p, const TraceModel& trm, float epsilon) {
  ConvexPolygon back;
  for (int f = 0; f < trm.numPolys && p.numPoints > 0; f++) {
    Plane plane = trm.polys[f].plane;
    plane.d += epsilon * plane.normal().lengthSqr();
    p.split(nullptr, &back, plane, 0.0f);
    // A polygon lying wholly on or behind the plane keeps every point.
    bool allBehind = true;
    for (int k = 0; k < p.numPoints && allBehind; k++)
      allBehind = plane.distance(p[k]) <= 0.0f;
    if (!allBehind)
      p = back;
  }
  return p.numPoints > 0;
}

// Inside every edge of the polygon within epsilon, without a square root per edge.
bool insideEdges(const ConvexPolygon& w, const Vec3& normal, const Vec3& p, float epsilon) {
  const float eps2 = epsilon * epsilon;
  for (int i = 0; i < w.numPoints; i++) {
    const Vec3& a = w[i];
    const Vec3 en = (w[(i + 1) % w.numPoints] - a).cross(normal);
    const float d = (p - a).dot(en);
    if (d > 0.0f && d * d > eps2 * en.lengthSqr())
      return false;
  }
  return true;
}

}  // namespace

Mat3 cleanAxis(const Mat3& in, bool orthonormalise) {
  Mat3 m = in;
  if (orthonormalise) {
    m[0].normalize();
    m[2] = m[0].cross(m[1]);
    m[2].normalize();
    m[1] = m[2].cross(m[0]);
    m[1].normalize();
  }
  cleanRows(m);
  return m;
}

// ------------------------------------------------------------------------------------ base

CollisionModelQueryInterface::CollisionModelQueryInterface() {
  std::memset(static_cast<void*>(&result), 0, sizeof(result));
}

bool CollisionModelQueryInterface::setup(const Vec3& worldStart, const Vec3& worldEnd, int mask, cmModel_t* m,
                                         const Vec3& origin, const Mat3& axis) {
  if (!(m->contents & mask))
    return false;
  start = axis.transformTransposed(worldStart - origin);
  end = axis.transformTransposed(worldEnd - origin);
  contentMask = mask;
  model = m;
  modelOrigin = origin;
  modelAxis = axis;
  delta = end - start;
  for (int i = 0; i < 3; i++) {
    const float a = std::fabs(delta[i]);
    if (a <= 0.0001f)
      delta[i] = 0.0f;
    else if (a < kClipEpsilon)
      delta[i] = signOf(delta[i]) * kClipEpsilon;
  }
  end = start + delta;
  stationary = delta == Vec3();
  numPrimitives = m->polygons.num() + m->brushes.num();
  // Sized by the check counter as well: indices come from it, not from the list counts.
  const int bits = std::max(numPrimitives, m->checkCounter);
  const int bytes = ((bits + 7) / 8 + 3) & ~3;
  if (visitedBits.num() < bytes)
    visitedBits.setNum(bytes);
  std::memset(visitedBits.ptr(), 0, size_t(bytes));
  computeBounds();
  result.fraction = 1.0f;
  result.endAxis = Mat3::identity();
  result.endPos = worldEnd;
  return true;
}

void CollisionModelQueryInterface::computeBounds() {
  bounds.clear();
  bounds.addPoint(start);
  bounds.addPoint(end);
  bounds = bounds.expanded(1.0f);
}

bool CollisionModelQueryInterface::boundsTouched(const Bounds& b) const {
  return b.intersects(bounds);
}

bool CollisionModelQueryInterface::walkRoot() {
  if (!model->bounds.intersects(bounds) || model->nodes.num() == 0)
    return false;
  const CollisionNode& root = model->nodes[0];
  const float r = projectionRadius(root.normal) + 1.0f;
  const float d1 = nodeDistance(root, start), d2 = nodeDistance(root, end);
  if (d1 > r && d2 > r) {
    walkNode(root.children[0], start, end, 1);
  } else if (d1 <= -r && d2 <= -r) {
    walkNode(root.children[1], start, end, 1);
  } else if (d1 >= d2) {
    walkNode(root.children[0], start, end, 1);
    walkNode(root.children[1], start, end, 1);
  } else {
    walkNode(root.children[1], start, end, 1);
    walkNode(root.children[0], start, end, 1);
  }
  return true;
}

void CollisionModelQueryInterface::walkNode(int child, Vec3 p1, Vec3 p2, int depth) {
  while (true) {
    if (child == 0 || depth > 256)
      return;
    if (child < 0) {
      testNodePrimitives(~child);
      return;
    }
    if (child >= model->nodes.num())
      return;
    const CollisionNode& node = model->nodes[child];
    if (!boundsTouched(node.bounds))
      return;
    const float r = projectionRadius(node.normal);
    const float d1 = nodeDistance(node, p1), d2 = nodeDistance(node, p2);
    depth++;
    if (d1 > r + 1.0f && d2 > r + 1.0f) {
      child = node.children[0];
      continue;
    }
    if (d1 <= -(r + 1.0f) && d2 <= -(r + 1.0f)) {
      child = node.children[1];
      continue;
    }
    int side;
    float f1, f2;
    if (d1 < d2) {
      side = 1;
      const float inv = 1.0f / (d1 - d2);
      f1 = (d1 - r + kClipEpsilon) * inv;
      f2 = (d1 + r + kClipEpsilon) * inv;
    } else if (d1 > d2) {
      side = 0;
      const float inv = 1.0f / (d1 - d2);
      f1 = (d1 + r + kClipEpsilon) * inv;
      f2 = (d1 - r - kClipEpsilon) * inv;
    } else {
      side = 0;
      f1 = 1.0f;
      f2 = 0.0f;
    }
    f1 = std::clamp(f1, 0.0f, 1.0f);
    f2 = std::clamp(f2, 0.0f, 1.0f);
    const int first = node.children[side], second = node.children[1 - side];
    walkNode(first, p1, p1 + (p2 - p1) * f1, depth);
    p1 = p1 + (p2 - p1) * f2;
    child = second;
  }
}

void CollisionModelQueryInterface::testNodePrimitives(int leafIndex) {
  if (leafIndex >= model->leafs.num())
    return;
  const CollisionLeaf& leaf = model->leafs[leafIndex];
  if (!(leaf.contents & contentMask) || !boundsTouched(leaf.bounds))
    return;
  for (int i = 0; i < leaf.shapes.num(); i++) {
    const ClipShape& shape = leaf.shapes[i];
    const int shapeContents = shape.contents;
    if (!(shapeContents & contentMask))
      continue;
    const int check = shape.check;
    if (check < 0 || (check >> 3) >= visitedBits.num())
      continue;
    uint8_t& byte = visitedBits[check >> 3];
    const uint8_t bit = uint8_t(1u << (check & 7));
    if (byte & bit)
      continue;
    byte |= bit;
    if (shape.type == kClipShapePolygon && !testBackFaces && shape.cull != 0) {
      const Plane& plane = shape.polygon->plane;
      if (planeDistance(plane) < -1.0f || plane.normal().dot(delta) > 0.1f)
        continue;
    }
    if (!boundsTouched(shape.bounds))
      continue;
    if (mode == kModeTrace) {
      testPrimitive(shape);
    } else if (mode == kModeContents) {
      if (clipPrimitive(scratch_, shape, 0.0f))
        result.contact.contents |= shapeContents;
    } else {
      primitives.append(&shape);
    }
  }
}

bool CollisionModelQueryInterface::trace(const Vec3& worldStart, const Vec3& worldEnd, const TraceModel* trm,
                                         const Mat3& trmAxis, int mask, cmModel_t* m, const Vec3& origin,
                                         const Mat3& axis) {
  if (!setup(worldStart, worldEnd, mask, m, origin, axis))
    return false;
  setTraceModel(trm, trmAxis);
  mode = kModeTrace;
  if (!walkRoot())
    return false;
  finishResult(result, worldStart, worldEnd);
  return true;
}

int CollisionModelQueryInterface::contents(const Vec3& worldStart, const TraceModel* trm, const Mat3& trmAxis,
                                           int mask, cmModel_t* m, const Vec3& origin, const Mat3& axis,
                                           bool isWorld) {
  if (!setup(worldStart, worldStart, mask, m, origin, axis))
    return 0;
  setTraceModel(trm, trmAxis);
  mode = kModeContents;
  result.contact.contents = 0;
  if (walkRoot())
    return result.contact.contents;
  return isWorld ? 1 : 0;
}

int CollisionModelQueryInterface::gatherPrimitives(const Vec3& worldStart, const float d[6],
                                                   const TraceModel* trm, const Mat3& trmAxis, int mask,
                                                   cmModel_t* m, const Vec3& origin, const Mat3& axis) {
  primitives.setNum(0);
  if (!setup(worldStart, worldStart + Vec3(d[0], d[1], d[2]), mask, m, origin, axis))
    return 0;
  bool allZero = true;
  for (int i = 0; i < 6; i++)
    allZero = allZero && d[i] == 0.0f;
  if (allZero) {
    setTraceModel(trm, trmAxis);
  } else {
    Vec3 angular(d[3], d[4], d[5]);
    const float angle = angular.normalize();
    const Vec3 pivot = start + (trm ? trm->offset : Vec3());
    // The angular vector's length is the angle in radians; Rotation holds degrees.
    setTraceModelRotation(
        trm, trmAxis, Rotation(pivot, angle != 0.0f ? angular : Vec3(0.0f, 0.0f, 1.0f), angle * 57.2957795f));
  }
  mode = kModeGather;
  if (!walkRoot())
    return 0;
  return primitives.num();
}

bool CollisionModelQueryInterface::clipTraceModel(ConvexPolygon& out, const ClipShape& shape,
                                                  const TraceModel& shapeTrm, float epsilon) {
  if (shape.type == kClipShapePolygon) {
    out = shape.polygon->winding;
    return clipByTraceModelFaces(out, shapeTrm, epsilon);
  }
  if (shape.type != kClipShapeBrush)
    return false;
  const TraceModel& brushTrm = shape.brush->trm;
  out.clear();
  ConvexPolygon piece;
  for (int f = 0; f < brushTrm.numPolys && out.numPoints < ConvexPolygon::kMaxPoints; f++) {
    brushTrm.getPolygon(f, piece);
    if (!clipByTraceModelFaces(piece, shapeTrm, epsilon))
      continue;
    for (int k = 0; k < piece.numPoints && out.numPoints < ConvexPolygon::kMaxPoints; k++)
      if (out.findPoint(piece[k], 0.01f) < 0)
        out.points[out.numPoints++] = piece[k];
  }
  if (out.numPoints == 0) {
    shapeTrm.getPolygon(0, out);
    clipByTraceModelFaces(out, brushTrm, epsilon);
  }
  return out.numPoints > 0;
}

// ------------------------------------------------------------------------------------ point query

bool CollisionModelPointQuery::boundsTouched(const Bounds& b) const {
  if (!b.intersects(bounds))
    return false;
  if (stationary)
    return true;
  return b.lineSegmentTest(start, end);
}

bool CollisionModelPointQuery::testPrimitive(const ClipShape& shape) {
  float fraction;
  Vec3 point;
  Plane plane;
  if (shape.type == kClipShapePolygon) {
    const float d1 = shape.plane.distance(start), d2 = shape.plane.distance(end);
    // The segment must cross the plane; it stops 0.01 short of it.
    if (d1 == d2 || (d1 > 0.0f && d2 > 0.0f) || (d1 < 0.0f && d2 < 0.0f))
      return false;
    const float eps = d1 > 0.0f ? 0.01f : (d1 < 0.0f ? -0.01f : 0.0f);
    fraction = (d1 - eps) / (d1 - d2);
    if (fraction < 0.0f)
      fraction = 0.0f;
    if (fraction > 1.0f)
      return false;
    if (fraction >= result.fraction)
      return false;
    const Vec3 crossing = start + delta * (d1 / (d1 - d2));
    if (!insideEdges(shape.polygon->winding, shape.plane.normal(), crossing, 0.01f))
      return false;
    point = start + delta * fraction;
    plane = shape.plane;
  } else if (shape.type == kClipShapeBrush) {
    TraceSegmentHit hit;
    if (!shape.brush->trm.clipSegment(start, end, hit) || hit.fraction >= result.fraction)
      return false;
    fraction = hit.fraction;
    point = hit.point;
    plane = hit.plane;
  } else {
    return false;
  }
  result.fraction = fraction;
  result.endPos = point;
  result.contact.point = point;
  result.contact.normal = plane.normal();
  result.contact.dist = plane.d;
  result.contact.material = shape.material();
  result.contact.contents = shape.contents;
  result.contact.reserved = 0;
  result.contact.primitiveIndex = shape.checkIndex();
  return true;
}

void CollisionModelPointQuery::finishResult(TraceResult& out, const Vec3& worldStart, const Vec3& worldEnd) {
  out.endPos = worldStart + (worldEnd - worldStart) * out.fraction;
  out.endAxis = trmAxis;
  if (out.fraction < 1.0f) {
    Vec3 n = modelAxis.transform(out.contact.normal);
    n.normalize();
    out.contact.normal = n;
    out.contact.dist += n.dot(modelOrigin);
    out.contact.point = out.endPos;
  }
}

bool CollisionModelPointQuery::clipPrimitive(ConvexPolygon& out, const ClipShape& shape, float epsilon) {
  TraceModel box = unitBox();
  box.translate(start);
  return clipTraceModel(out, shape, box, epsilon);
}

// ------------------------------------------------------------------------------------ trace-model query

CollisionModelTraceModelQuery::CollisionModelTraceModelQuery() {
  trm.bounds.clear();
  workTrm.bounds.clear();
}

float CollisionModelTraceModelQuery::planeDistance(const Plane& plane) const {
  // The distance of the shape's box: 0 when it straddles the plane, else its nearest corner's.
  const Bounds& b = workTrm.bounds;
  const Vec3 n = plane.normal();
  const Vec3 nearest(n.x > 0.0f ? b.mins.x : b.maxs.x, n.y > 0.0f ? b.mins.y : b.maxs.y,
                     n.z > 0.0f ? b.mins.z : b.maxs.z);
  const Vec3 farthest(n.x > 0.0f ? b.maxs.x : b.mins.x, n.y > 0.0f ? b.maxs.y : b.mins.y,
                      n.z > 0.0f ? b.maxs.z : b.mins.z);
  const float dn = plane.distance(nearest), df = plane.distance(farthest);
  if (dn > 0.0f)
    return dn;
  if (df < 0.0f)
    return df;
  return 0.0f;
}

void CollisionModelTraceModelQuery::setTraceModel(const TraceModel* t, const Mat3& axis) {
  trm = t ? *t : g_defaultTraceModel;
  trmAxis = axis;
  localAxis = cleanAxis(axis * modelAxis.transposed(), false);
  workTrm = trm;
  workTrm.rotate(localAxis);
  workTrm.translate(start);
  halfExtents = workTrm.bounds.halfSize();
  rotating = false;
  computeBounds();
}

void CollisionModelTraceModelQuery::setTraceModelRotation(const TraceModel* t, const Mat3& axis,
                                                          const Rotation& rot) {
  setTraceModel(t, axis);
  rotation = rot;
  rotating = true;
  computeBounds();
}

void CollisionModelTraceModelQuery::computeBounds() {
  Bounds b;
  if (rotating)
    b = Bounds::fromRotatedBounds(trm.bounds, start, localAxis, rotation);
  else
    b = workTrm.bounds;
  b = b.merged(b.translated(delta));
  bounds = b.expanded(1.0f);
}

bool CollisionModelTraceModelQuery::boundsTouched(const Bounds& b) const {
  if (!b.intersects(bounds))
    return false;
  if (stationary)
    return true;
  // The shape's box swept along the movement, with a unit of slack all round. Lengthening each
  // moving axis by a unit on its own would turn the path and miss boxes met at a glancing angle.
  const Vec3 centre = workTrm.bounds.center();
  const Vec3 slack = halfExtents + Vec3(1.0f, 1.0f, 1.0f);
  const Bounds grown(b.mins - slack, b.maxs + slack);
  return grown.lineSegmentTest(centre, centre + delta);
}

bool CollisionModelTraceModelQuery::sweepPrimitive(TraceResult& r, const ClipShape& shape) const {
  r.fraction = -1.0f;
  float enter = -1.0f, exit = 1.0f;
  Plane contact;
  shape.getPlane(0, contact);
  auto testAxis = [&](const Vec3& n) -> bool {
    float smin, smax, tmin, tmax;
    if (!shape.projectOnAxis(n, smin, smax, kProjectionEpsilon))
      return false;
    if (!workTrm.projectionBounds(n, tmin, tmax, kProjectionEpsilon))
      return false;
    const float s = n.dot(delta);
    if (tmax < smin) {
      if (s <= 0.0f)
        return false;
      const float inv = 1.0f / s;
      const float tEnter = (smin - tmax) * inv;
      if (enter < tEnter)
        enter = tEnter - inv / 32.0f;
      if (enter > 1.0f)
        return false;
      exit = std::min(exit, (smax - tmin) * inv);
      if (enter > exit)
        return false;
      if (tEnter > r.fraction) {
        r.fraction = enter;
        contact = Plane(-n, -smin);
      }
    } else if (smax < tmin) {
      if (s >= 0.0f)
        return false;
      const float inv = 1.0f / s;
      const float tEnter = (smax - tmin) * inv;
      if (enter < tEnter)
        enter = tEnter + inv / 32.0f;
      if (enter > 1.0f)
        return false;
      exit = std::min(exit, (smin - tmax) * inv);
      if (enter > exit)
        return false;
      if (r.fraction < tEnter) {
        r.fraction = enter;
        contact = Plane(n, smax);
      }
    } else {
      if (s > 0.0f)
        exit = std::min(exit, (smax - tmin) / s);
      else if (s < 0.0f)
        exit = std::min(exit, (smin - tmax) / s);
      if (exit < enter)
        return false;
      if (r.fraction < enter) {
        r.fraction = enter;
        contact = Plane(n, smax);
      }
    }
    return true;
  };
  for (int f = 0; f < workTrm.numPolys; f++)
    if (!testAxis(workTrm.polys[f].plane.normal()))
      return false;
  const int shapePlanes = shape.numPlanes();
  for (int i = 0; i < shapePlanes; i++) {
    Plane p;
    shape.getPlane(i, p);
    if (!testAxis(p.normal()))
      return false;
  }
  const int shapeEdges = shape.numEdges();
  for (int i = 0; i < shapeEdges; i++) {
    const Vec3 se = shape.edgeVector(i);
    for (int e = 1; e <= workTrm.numEdges; e++) {
      const TraceEdge& edge = workTrm.edges[e];
      Vec3 n = se.cross(workTrm.verts[edge.vertex1] - workTrm.verts[edge.vertex0]);
      if (n.normalize() == 0.0f)
        continue;
      if (!testAxis(n))
        return false;
    }
  }
  bool leaving = false;
  if (!stationary && r.fraction == -1.0f) {
    // Overlapping at the start on every axis: moving out of a polygon, or any brush, is not stopped.
    if (shape.type == kClipShapeBrush ||
        (shape.type == kClipShapePolygon && contact.normal().dot(delta) > 0.0f)) {
      r.fraction = 1.0f;
      leaving = true;
    }
  }
  if (!leaving)
    r.fraction = std::min(exit, r.fraction);
  r.fraction = std::clamp(r.fraction, 0.0f, 1.0f);
  r.contact.normal = contact.normal();
  r.contact.dist = contact.d;
  r.contact.material = shape.material();
  r.contact.contents = shape.contents;
  r.contact.reserved = 0;
  r.contact.primitiveIndex = shape.checkIndex();
  return true;
}

bool CollisionModelTraceModelQuery::testPrimitive(const ClipShape& shape) {
  TraceResult r;
  std::memset(static_cast<void*>(&r), 0, sizeof(r));
  if (!sweepPrimitive(r, shape) || !(r.fraction < result.fraction))
    return false;
  result.fraction = r.fraction;
  result.contact = r.contact;
  return true;
}

void CollisionModelTraceModelQuery::finishResult(TraceResult& out, const Vec3& worldStart,
                                                 const Vec3& worldEnd) {
  out.endPos = worldStart + (worldEnd - worldStart) * out.fraction;
  out.endAxis = trmAxis;
  if (out.fraction < 1.0f) {
    Vec3 n = modelAxis.transform(out.contact.normal);
    n.normalize();
    out.contact.normal = n;
    out.contact.dist += n.dot(modelOrigin);
    workTrm = trm;
    workTrm.rotate(out.endAxis);
    workTrm.translate(out.endPos);
    workTrm.planeContact(Plane(out.contact.normal, out.contact.dist), out.contact.point);
  }
}

void CollisionModelTraceModelQuery::placeAtFraction(TraceModel& out, float fraction) const {
  const Vec3 position = start + delta * fraction;
  Mat3 axis = localAxis;
  if (rotating)
    axis = cleanAxis(localAxis * rotation.scaled(fraction).toMat3(), true);
  out = trm;
  out.rotate(axis);
  out.translate(position);
}
