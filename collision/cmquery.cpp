// The query objects: setup in model space, the tree walk with its pruning, the swept separating-axis
// test of a trace model against a primitive, the point segment tests, and clipping a primitive by a
// shape (contents and contacts).
#include "collision/cmquery.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#include <xmmintrin.h>
#endif

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

// insideEdges on a leaf's edge data (CollisionLeaf::edges): the same products and compares.
bool insideEdgesPacked(const float* e, const Vec3& p) {
  const int n = int(e[0]);
  e++;
  for (int i = 0; i < n; i++, e += CollisionLeaf::kEdgeFloats) {
    const float d = (p - Vec3(e[0], e[1], e[2])).dot(Vec3(e[3], e[4], e[5]));
    if (d > 0.0f && d * d > e[6])
      return false;
  }
  return true;
}

// Where a segment whose ends lie at d1 and d2 from a node's plane, widened by r on both sides,
// leaves the near child (f1) and enters the far one (f2), with an epsilon of overlap; returns the
// near child. A point trace passes r = 0.
inline int splitFractions(float d1, float d2, float r, float& f1, float& f2) {
  int side = 0;
  if (d1 < d2) {
    side = 1;
    const float inv = 1.0f / (d1 - d2);
    f1 = (d1 - r + kClipEpsilon) * inv;
    f2 = (d1 + r + kClipEpsilon) * inv;
  } else if (d1 > d2) {
    const float inv = 1.0f / (d1 - d2);
    f1 = (d1 + r + kClipEpsilon) * inv;
    f2 = (d1 - r - kClipEpsilon) * inv;
  } else {
    f1 = 1.0f;
    f2 = 0.0f;
  }
  f1 = std::clamp(f1, 0.0f, 1.0f);
  f2 = std::clamp(f2, 0.0f, 1.0f);
  return side;
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
  for (int i = 0; i < numTouched_; i++)
    visitedBits[touchedBytes_[i]] = 0;
  numTouched_ = 0;
  if (visitedBits.num() < bytes) {
    visitedBits.setNum(bytes);  // new bytes come zeroed
    touchedBytes_.setNum(bytes);
  }
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
    float f1, f2;
    const int side = splitFractions(d1, d2, r, f1, f2);
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
    if (!visit(shape.check))
      continue;
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
  if (!walkTrace())
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
    // The angular vector's length is the angle itself, in the degrees a Rotation holds.
    setTraceModelRotation(trm, trmAxis,
                          Rotation(pivot, angle != 0.0f ? angular : Vec3(0.0f, 0.0f, 1.0f), angle));
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
  record(shape, fraction, point, plane);
  return true;
}

void CollisionModelPointQuery::record(const ClipShape& shape, float fraction, const Vec3& point,
                                      const Plane& plane) {
  // The shape's copies: the primitive's record is large and far away.
  record(shape.materialCopy, shape.contents, shape.check, fraction, point, plane);
}

void CollisionModelPointQuery::record(Material* material, int contents, int check, float fraction,
                                      const Vec3& point, const Plane& plane) {
  result.fraction = fraction;
  result.endPos = point;
  result.contact.point = point;
  result.contact.normal = plane.normal();
  result.contact.dist = plane.d;
  result.contact.material = material;
  result.contact.contents = contents;
  result.contact.reserved = 0;
  result.contact.primitiveIndex = check;
}

static_assert(sizeof(Bounds) == 6 * sizeof(float), "bounds are read as six packed floats");

void CollisionModelPointQuery::prepareSegment() {
  const float inf = std::numeric_limits<float>::infinity();
  segHalf_ = (end - start) * 0.5f;
  segAbsHalf_ = Vec3(std::fabs(segHalf_.x), std::fabs(segHalf_.y), std::fabs(segHalf_.z));
  segMidV_ = start + segHalf_;
  const Vec3& e = segHalf_;
  const Vec3& ae = segAbsHalf_;
  const float values[8][4] = {{bounds.maxs.x, bounds.maxs.y, bounds.maxs.z, inf},
                              {-inf, bounds.mins.x, bounds.mins.y, bounds.mins.z},
                              {segMidV_.x, segMidV_.y, segMidV_.z, 0.0f},
                              {e.y, e.z, e.x, 0.0f},
                              {e.z, e.x, e.y, 0.0f},
                              {ae.x, ae.y, ae.z, 0.0f},
                              {ae.z, ae.z, ae.y, 0.0f},
                              {ae.y, ae.x, ae.x, 0.0f}};
  float* out[8] = {overlapMaxs_, overlapMins_, segMid_,    segHalfYzx_,
                   segHalfZxy_,  segAbs_,      segAbsZzy_, segAbsYxx_};
  for (int i = 0; i < 8; i++)
    std::memcpy(out[i], values[i], sizeof(values[i]));
  float largest = 0.0f;
  for (int i = 0; i < 3; i++)
    largest = std::max(largest, std::max(std::fabs(start[i]), std::fabs(end[i])));
  segMargin_ = cm::kBlockMargin * (1.0f + largest);
}

// Bounds::intersects against the query's bounds.
bool CollisionModelPointQuery::overlaps(const Bounds& b) const {
#if defined(__SSE2__)
  const float* f = &b.mins.x;
  const __m128 lo = _mm_loadu_ps(f);      // mins x y z, maxs x
  const __m128 hi = _mm_loadu_ps(f + 2);  // mins z, maxs x y z
  const __m128 apart =
      _mm_or_ps(_mm_cmpgt_ps(lo, _mm_load_ps(overlapMaxs_)), _mm_cmplt_ps(hi, _mm_load_ps(overlapMins_)));
  return _mm_movemask_ps(apart) == 0;
#else
  return b.intersects(bounds);
#endif
}

// Bounds::lineSegmentTest with the segment's terms kept: the same products, sums and compares.
#if defined(__SSE2__)
// Bounds::lineSegmentTest of the box mins..maxs (lanes x y z) against the segment whose terms the
// query keeps: the same products, sums and compares, three lanes at a time.
inline bool segmentMeetsBox(__m128 mins, __m128 maxs, const float* mid, const float* abs,
                            const float* halfYzx, const float* halfZxy, const float* absZzy,
                            const float* absYxx) {
  const __m128 centre = _mm_mul_ps(_mm_add_ps(mins, maxs), _mm_set1_ps(0.5f));
  const __m128 h = _mm_sub_ps(maxs, centre);
  const __m128 c = _mm_sub_ps(_mm_load_ps(mid), centre);
  const __m128 absMask = _mm_castsi128_ps(_mm_set1_epi32(0x7fffffff));
  const __m128 off = _mm_cmpgt_ps(_mm_and_ps(c, absMask), _mm_add_ps(h, _mm_load_ps(abs)));
  // e x c = e.yzx * c.zxy - e.zxy * c.yzx
  const __m128 cZxy = _mm_shuffle_ps(c, c, _MM_SHUFFLE(3, 1, 0, 2));
  const __m128 cYzx = _mm_shuffle_ps(c, c, _MM_SHUFFLE(3, 0, 2, 1));
  const __m128 cr =
      _mm_sub_ps(_mm_mul_ps(_mm_load_ps(halfYzx), cZxy), _mm_mul_ps(_mm_load_ps(halfZxy), cYzx));
  // x: h.y ae.z + h.z ae.y   y: h.x ae.z + h.z ae.x   z: h.x ae.y + h.y ae.x
  const __m128 hYxx = _mm_shuffle_ps(h, h, _MM_SHUFFLE(3, 0, 0, 1));
  const __m128 hZzy = _mm_shuffle_ps(h, h, _MM_SHUFFLE(3, 1, 2, 2));
  const __m128 reach =
      _mm_add_ps(_mm_mul_ps(hYxx, _mm_load_ps(absZzy)), _mm_mul_ps(hZzy, _mm_load_ps(absYxx)));
  const __m128 across = _mm_cmpgt_ps(_mm_and_ps(cr, absMask), reach);
  return (_mm_movemask_ps(_mm_or_ps(off, across)) & 7) == 0;
}
#endif

// The segment's terms, each in all four lanes.
struct SegmentLanes {
  __m128 midX, midY, midZ, eX, eY, eZ, aeX, aeY, aeZ;
};

// segmentMeetsBox for four boxes given field by field: the lanes whose box it misses.
inline __m128 segmentApart4(const SegmentLanes& l, __m128 minX, __m128 minY, __m128 minZ, __m128 maxX,
                            __m128 maxY, __m128 maxZ) {
  const __m128 half = _mm_set1_ps(0.5f), absMask = _mm_castsi128_ps(_mm_set1_epi32(0x7fffffff));
  const __m128 cX = _mm_mul_ps(_mm_add_ps(minX, maxX), half), cY = _mm_mul_ps(_mm_add_ps(minY, maxY), half),
               cZ = _mm_mul_ps(_mm_add_ps(minZ, maxZ), half);
  const __m128 hX = _mm_sub_ps(maxX, cX), hY = _mm_sub_ps(maxY, cY), hZ = _mm_sub_ps(maxZ, cZ);
  const __m128 dX = _mm_sub_ps(l.midX, cX), dY = _mm_sub_ps(l.midY, cY), dZ = _mm_sub_ps(l.midZ, cZ);
  __m128 apart = _mm_cmpgt_ps(_mm_and_ps(dX, absMask), _mm_add_ps(hX, l.aeX));
  apart = _mm_or_ps(apart, _mm_cmpgt_ps(_mm_and_ps(dY, absMask), _mm_add_ps(hY, l.aeY)));
  apart = _mm_or_ps(apart, _mm_cmpgt_ps(_mm_and_ps(dZ, absMask), _mm_add_ps(hZ, l.aeZ)));
  const __m128 crX = _mm_sub_ps(_mm_mul_ps(l.eY, dZ), _mm_mul_ps(l.eZ, dY));
  const __m128 crY = _mm_sub_ps(_mm_mul_ps(l.eZ, dX), _mm_mul_ps(l.eX, dZ));
  const __m128 crZ = _mm_sub_ps(_mm_mul_ps(l.eX, dY), _mm_mul_ps(l.eY, dX));
  apart = _mm_or_ps(apart, _mm_cmpgt_ps(_mm_and_ps(crX, absMask),
                                        _mm_add_ps(_mm_mul_ps(hY, l.aeZ), _mm_mul_ps(hZ, l.aeY))));
  apart = _mm_or_ps(apart, _mm_cmpgt_ps(_mm_and_ps(crY, absMask),
                                        _mm_add_ps(_mm_mul_ps(hX, l.aeZ), _mm_mul_ps(hZ, l.aeX))));
  return _mm_or_ps(apart, _mm_cmpgt_ps(_mm_and_ps(crZ, absMask),
                                       _mm_add_ps(_mm_mul_ps(hX, l.aeY), _mm_mul_ps(hY, l.aeX))));
}

bool CollisionModelPointQuery::segmentCrosses(const Bounds& b) const {
  if (stationary)
    return true;
#if defined(__SSE2__)
  const float* f = &b.mins.x;
  const __m128 hi = _mm_loadu_ps(f + 2);
  return segmentMeetsBox(_mm_loadu_ps(f), _mm_shuffle_ps(hi, hi, _MM_SHUFFLE(0, 3, 2, 1)), segMid_, segAbs_,
                         segHalfYzx_, segHalfZxy_, segAbsZzy_, segAbsYxx_);
#else
  const Vec3 centre = b.center();
  const Vec3 h = b.maxs - centre;
  const Vec3 c = segMidV_ - centre;
  const Vec3& ae = segAbsHalf_;
  for (int i = 0; i < 3; i++)
    if (std::fabs(c[i]) > h[i] + ae[i])
      return false;
  const Vec3 cr = segHalf_.cross(c);
  return !(std::fabs(cr.x) > h.y * ae.z + h.z * ae.y || std::fabs(cr.y) > h.x * ae.z + h.z * ae.x ||
           std::fabs(cr.z) > h.x * ae.y + h.y * ae.x);
#endif
}

bool CollisionModelPointQuery::walkTrace() {
  if (!model->bounds.intersects(bounds) || model->nodes.num() == 0)
    return false;
  prepareSegment();
  // A point's projection radius is 0: the root's margin is 1.
  const CollisionNode& root = model->nodes[0];
  const float d1 = nodeDistance(root, start), d2 = nodeDistance(root, end);
  if (d1 > 1.0f && d2 > 1.0f) {
    rayWalkNode(root.children[0], start, end, 1);
  } else if (d1 <= -1.0f && d2 <= -1.0f) {
    rayWalkNode(root.children[1], start, end, 1);
  } else if (d1 >= d2) {
    rayWalkNode(root.children[0], start, end, 1);
    rayWalkNode(root.children[1], start, end, 1);
  } else {
    rayWalkNode(root.children[1], start, end, 1);
    rayWalkNode(root.children[0], start, end, 1);
  }
  return true;
}

void CollisionModelPointQuery::rayWalkNode(int child, Vec3 p1, Vec3 p2, int depth) {
  const int numNodes = model->nodes.num();
  const CollisionNode* nodes = model->nodes.ptr();
  while (true) {
    if (child == 0 || depth > 256)
      return;
    if (child < 0) {
      rayTestLeaf(~child);
      return;
    }
    if (child >= numNodes)
      return;
    const CollisionNode& node = nodes[child];
    if (!segmentTouches(node.bounds))
      return;
    const float d1 = nodeDistance(node, p1), d2 = nodeDistance(node, p2);
    depth++;
    if (d1 > 1.0f && d2 > 1.0f) {
      child = node.children[0];
      continue;
    }
    if (d1 <= -1.0f && d2 <= -1.0f) {
      child = node.children[1];
      continue;
    }
    float f1, f2;
    const int side = splitFractions(d1, d2, 0.0f, f1, f2);
    const int first = node.children[side], second = node.children[1 - side];
    rayWalkNode(first, p1, p1 + (p2 - p1) * f1, depth);
    p1 = p1 + (p2 - p1) * f2;
    child = second;
  }
}

void CollisionModelPointQuery::rayTestLeaf(int leafIndex) {
  if (leafIndex >= model->leafs.num())
    return;
  const CollisionLeaf& leaf = model->leafs[leafIndex];
  if (!(leaf.contents & contentMask) || !segmentTouches(leaf.bounds))
    return;
  const ClipShape* shapes = leaf.shapes.ptr();
  const int count = leaf.shapes.num();
#if defined(__SSE2__)
  if (leaf.packedMatches()) {
    // Four blocks at a time first: a block whose bounds miss the query's, or (widened by
    // cm::kBlockMargin) its segment, holds no shape that could pass. Then four shapes at a time:
    // the overlap with the query's bounds, the segment test, the plane crossing and the fraction
    // against the best so far, each with rayTestShape's arithmetic. The best fraction only falls,
    // so what it drops stays dropped; rayTestPacked finishes the shapes left.
    const __m128 qMinX = _mm_set1_ps(bounds.mins.x), qMinY = _mm_set1_ps(bounds.mins.y),
                 qMinZ = _mm_set1_ps(bounds.mins.z), qMaxX = _mm_set1_ps(bounds.maxs.x),
                 qMaxY = _mm_set1_ps(bounds.maxs.y), qMaxZ = _mm_set1_ps(bounds.maxs.z);
    const __m128 sx = _mm_set1_ps(start.x), sy = _mm_set1_ps(start.y), sz = _mm_set1_ps(start.z);
    const __m128 ex = _mm_set1_ps(end.x), ey = _mm_set1_ps(end.y), ez = _mm_set1_ps(end.z);
    const __m128 zero = _mm_setzero_ps(), one = _mm_set1_ps(1.0f);
    const __m128 epsPos = _mm_set1_ps(0.01f), epsNeg = _mm_set1_ps(-0.01f);
    const SegmentLanes lanes4{
        _mm_set1_ps(segMidV_.x),    _mm_set1_ps(segMidV_.y),    _mm_set1_ps(segMidV_.z),
        _mm_set1_ps(segHalf_.x),    _mm_set1_ps(segHalf_.y),    _mm_set1_ps(segHalf_.z),
        _mm_set1_ps(segAbsHalf_.x), _mm_set1_ps(segAbsHalf_.y), _mm_set1_ps(segAbsHalf_.z)};
    // Two passes: the blocks first, collecting what they let through, then those shapes in order.
    // Splitting them only lets more through the first (its best fraction is older).
    if (candidates_.num() < count)
      candidates_.setNum(count);
    int numCandidates = 0;
    const __m128 best = _mm_set1_ps(result.fraction);
    const bool planeFirst = result.fraction < 1.0f;
    const int numBlocks = (count + 3) >> 2;
    for (int group = 0; group < numBlocks; group += 4) {
      const float* g = &leaf.blockGroups[group >> 2].bounds[0][0];
      const __m128 apart = _mm_or_ps(
          _mm_or_ps(
              _mm_or_ps(_mm_cmpgt_ps(_mm_loadu_ps(g), qMaxX), _mm_cmpgt_ps(_mm_loadu_ps(g + 4), qMaxY)),
              _mm_or_ps(_mm_cmpgt_ps(_mm_loadu_ps(g + 8), qMaxZ), _mm_cmplt_ps(_mm_loadu_ps(g + 12), qMinX))),
          _mm_or_ps(_mm_cmplt_ps(_mm_loadu_ps(g + 16), qMinY), _mm_cmplt_ps(_mm_loadu_ps(g + 20), qMinZ)));
      int blocks = ~_mm_movemask_ps(apart) & (numBlocks - group < 4 ? (1 << (numBlocks - group)) - 1 : 15);
      if (blocks && !stationary) {
        // The group's bounds carry their margin; the segment's is added here.
        const __m128 m = _mm_set1_ps(segMargin_);
        blocks &= ~_mm_movemask_ps(
            segmentApart4(lanes4, _mm_sub_ps(_mm_loadu_ps(g), m), _mm_sub_ps(_mm_loadu_ps(g + 4), m),
                          _mm_sub_ps(_mm_loadu_ps(g + 8), m), _mm_add_ps(_mm_loadu_ps(g + 12), m),
                          _mm_add_ps(_mm_loadu_ps(g + 16), m), _mm_add_ps(_mm_loadu_ps(g + 20), m)));
      }
      while (blocks) {
        const int blockIndex = group + __builtin_ctz(unsigned(blocks));
        blocks &= blocks - 1;
        const int first = blockIndex * 4;
        const CollisionLeaf::PackedBlock* packed = leaf.packed.ptr() + blockIndex;
        const float* block = &packed->bounds[0][0];
        const int valid = count - first < 4 ? (1 << (count - first)) - 1 : 15;
        const __m128 minX = _mm_loadu_ps(block), minY = _mm_loadu_ps(block + 4),
                     minZ = _mm_loadu_ps(block + 8);
        const __m128 maxX = _mm_loadu_ps(block + 12), maxY = _mm_loadu_ps(block + 16),
                     maxZ = _mm_loadu_ps(block + 20);
        __m128 reject = _mm_or_ps(_mm_or_ps(_mm_cmpgt_ps(minX, qMaxX), _mm_cmpgt_ps(minY, qMaxY)),
                                  _mm_or_ps(_mm_cmpgt_ps(minZ, qMaxZ), _mm_cmplt_ps(maxX, qMinX)));
        reject = _mm_or_ps(reject, _mm_or_ps(_mm_cmplt_ps(maxY, qMinY), _mm_cmplt_ps(maxZ, qMinZ)));
        if ((~_mm_movemask_ps(reject) & valid) == 0)
          continue;
        // segmentCrosses, lane by lane.
        auto segmentStage = [&]() {
          reject = _mm_or_ps(reject, segmentApart4(lanes4, minX, minY, minZ, maxX, maxY, maxZ));
          return (~_mm_movemask_ps(reject) & valid) != 0;
        };
        // The plane crossing and the fraction against the best so far.
        auto planeStage = [&]() {
          const __m128 pa = _mm_loadu_ps(block + 24), pb = _mm_loadu_ps(block + 28),
                       pc = _mm_loadu_ps(block + 32), pd = _mm_loadu_ps(block + 36);
          // Plane::distance: a x + b y + c z - d, in that order.
          const __m128 d1 = _mm_sub_ps(
              _mm_add_ps(_mm_add_ps(_mm_mul_ps(pa, sx), _mm_mul_ps(pb, sy)), _mm_mul_ps(pc, sz)), pd);
          const __m128 d2 = _mm_sub_ps(
              _mm_add_ps(_mm_add_ps(_mm_mul_ps(pa, ex), _mm_mul_ps(pb, ey)), _mm_mul_ps(pc, ez)), pd);
          const __m128 d1Pos = _mm_cmpgt_ps(d1, zero), d1Neg = _mm_cmplt_ps(d1, zero);
          reject = _mm_or_ps(reject, _mm_cmpeq_ps(d1, d2));
          reject = _mm_or_ps(reject, _mm_and_ps(d1Pos, _mm_cmpgt_ps(d2, zero)));
          reject = _mm_or_ps(reject, _mm_and_ps(d1Neg, _mm_cmplt_ps(d2, zero)));
          const __m128 eps = _mm_or_ps(_mm_and_ps(d1Pos, epsPos), _mm_and_ps(d1Neg, epsNeg));
          __m128 fraction = _mm_div_ps(_mm_sub_ps(d1, eps), _mm_sub_ps(d1, d2));
          fraction = _mm_andnot_ps(_mm_cmplt_ps(fraction, zero), fraction);
          reject = _mm_or_ps(reject, _mm_cmpgt_ps(fraction, one));
          reject = _mm_or_ps(reject, _mm_cmpge_ps(fraction, best));
          return (~_mm_movemask_ps(reject) & valid) != 0;
        };
        // Once something was hit the fraction drops nearly everything; before, the segment does.
        if (planeFirst ? !planeStage() || (!stationary && !segmentStage())
                       : (!stationary && !segmentStage()) || !planeStage())
          continue;
        int lanes = ~_mm_movemask_ps(reject) & valid;
        while (lanes) {
          const int index = first + __builtin_ctz(unsigned(lanes));
          lanes &= lanes - 1;
          // What the second pass reads lies far apart: ask for it now.
          const int edgeAt = packed->edges[index & 3];
          if (edgeAt >= 0)
            _mm_prefetch(reinterpret_cast<const char*>(leaf.edges.ptr() + edgeAt), _MM_HINT_T0);
          candidates_[numCandidates++] = index;
        }
      }
    }
    for (int i = 0; i < numCandidates; i++)
      rayTestPacked(leaf, candidates_[i]);
    return;
  }
#endif
  // Shapes added another way than addShape may carry edge offsets of another leaf.
  const float* edges = leaf.packedMatches() ? leaf.edges.ptr() : nullptr;
  for (int i = 0; i < count; i++)
    rayTestShape(shapes[i], edges);
}

void CollisionModelPointQuery::rayTestPacked(const CollisionLeaf& leaf, int index) {
  const CollisionLeaf::PackedBlock& block = leaf.packed[index >> 2];
  const int lane = index & 3;
  const int kind = block.kind[lane];
  const int edgeAt = block.edges[lane];
  if ((kind & 0xff) != kClipShapePolygon || edgeAt < 0) {
    rayTestShape(leaf.shapes[index], leaf.edges.ptr());
    return;
  }
  // rayTestShape from the packed copies; the overlap and segment tests passed in the blocks, with
  // the same arithmetic, and hold for the whole query.
  if (!(block.contents[lane] & contentMask))
    return;
  const Plane plane(block.plane[0][lane], block.plane[1][lane], block.plane[2][lane], block.plane[3][lane]);
  const float d1 = plane.distance(start);
  if (!testBackFaces && (kind & CollisionLeaf::kPackedOneSided) &&
      (d1 < -1.0f || plane.normal().dot(delta) > 0.1f))
    return;
  const float d2 = plane.distance(end);
  if (d1 == d2 || (d1 > 0.0f && d2 > 0.0f) || (d1 < 0.0f && d2 < 0.0f))
    return;
  const float eps = d1 > 0.0f ? 0.01f : (d1 < 0.0f ? -0.01f : 0.0f);
  float fraction = (d1 - eps) / (d1 - d2);
  if (fraction < 0.0f)
    fraction = 0.0f;
  if (fraction > 1.0f || fraction >= result.fraction)
    return;
  if (!visit(block.check[lane]))
    return;
  const Vec3 crossing = start + delta * (d1 / (d1 - d2));
  if (!insideEdgesPacked(leaf.edges.ptr() + edgeAt, crossing))
    return;
  record(block.material[lane], block.contents[lane], block.check[lane], fraction, start + delta * fraction,
         plane);
}

inline void CollisionModelPointQuery::rayTestShape(const ClipShape& shape, const float* edges) {
  // Every test of a primitive here only rejects, and each rejection holds for the rest of the
  // query (the bounds, the segment and the contents are fixed, the best fraction only falls), so
  // the cheapest run first and the visited bit is needed only before the costly ones: the answer
  // and the order of the hits that make it are the general path's.
  if (!overlaps(shape.bounds) || !(shape.contents & contentMask))
    return;
  if (shape.type == kClipShapePolygon) {
    const Plane& plane = shape.plane;
    const float d1 = plane.distance(start);
    if (!testBackFaces && shape.cull != 0 && (d1 < -1.0f || plane.normal().dot(delta) > 0.1f))
      return;
    const float d2 = plane.distance(end);
    if (d1 == d2 || (d1 > 0.0f && d2 > 0.0f) || (d1 < 0.0f && d2 < 0.0f))
      return;
    const float eps = d1 > 0.0f ? 0.01f : (d1 < 0.0f ? -0.01f : 0.0f);
    float fraction = (d1 - eps) / (d1 - d2);
    if (fraction < 0.0f)
      fraction = 0.0f;
    if (fraction > 1.0f || fraction >= result.fraction)
      return;
    if (!visit(shape.check) || !segmentCrosses(shape.bounds))
      return;
    const Vec3 crossing = start + delta * (d1 / (d1 - d2));
    if (!(edges && shape.edges >= 0 ? insideEdgesPacked(edges + shape.edges, crossing)
                                    : insideEdges(shape.polygon->winding, plane.normal(), crossing, 0.01f)))
      return;
    record(shape, fraction, start + delta * fraction, plane);
  } else if (shape.type == kClipShapeBrush) {
    if (visit(shape.check) && segmentCrosses(shape.bounds))
      CollisionModelPointQuery::testPrimitive(shape);
  }
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
