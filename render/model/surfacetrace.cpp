// Segment and swept-segment traces against the triangles of one surface.
#include "render/model/surfacetrace.h"

#include <algorithm>

#include "lib/interface/rendermodelsystem.h"
#include "lib/polygon.h"

namespace {

constexpr float kClipEpsilon = 0.001f;
// The slab and three edge planes of a grown triangle, with room to spare.
constexpr int kMaxGrownPlanes = 8;

Vec3 vertexPosition(const SurfaceGeometry& geometry, int index) {
  const float* xyz = geometry.verts[index].xyz;
  return Vec3(xyz[0], xyz[1], xyz[2]);
}

}  // namespace

int planeSegmentFraction(const Plane& plane, const Vec3& start, const Vec3& end, Vec3& point,
                         float* fraction, float epsilon) {
  const float ds = plane.distance(start);
  const float de = plane.distance(end);
  if (ds == de) {
    point = end;
    if (fraction)
      *fraction = 1.0f;
    return kCrossingParallel;
  }
  float f;
  int code;
  if (de < ds) {
    f = (ds - epsilon) / (ds - de);
    code = ds < 0.0f ? kCrossingBehind : kCrossingEnters;
    if (f < 0.0f && ds >= 0.0f)
      f = 0.0f;
  } else {
    f = (ds + epsilon) / (ds - de);
    code = kCrossingBehind;
  }
  point = plane.projectPoint(start * (1.0f - f) + end * f);
  if (fraction)
    *fraction = f;
  return code;
}

bool clipSegmentToPlanes(SurfaceTraceHit& hit, const Plane* planes, const Vec3& start, float& fraction,
                         const Vec3& end, int count) {
  if (count > 0) {
    float enter = -1.0f;
    float leave = 1.0f;
    bool startOutside = false;
    const Plane* hitPlane = &planes[0];
    for (int i = 0; i < count; i++) {
      const float ds = planes[i].distance(start);
      const float de = planes[i].distance(end);
      if (ds > 0.0f) {
        if (de >= kClipEpsilon || ds <= de)
          return false;
        startOutside = true;
      }
      if (ds <= 0.0f && de <= 0.0f)
        continue;
      if (ds > de) {
        const float f = std::max((ds - kClipEpsilon) / (ds - de), 0.0f);
        if (f > enter) {
          enter = f;
          hitPlane = &planes[i];
        }
      } else {
        const float f = std::min((ds + kClipEpsilon) / (ds - de), 1.0f);
        leave = std::min(leave, f);
      }
    }
    if (startOutside) {
      if (!(enter < leave && enter > -1.0f && enter < fraction))
        return false;
      fraction = std::max(enter, 0.0f);
      hit.plane = *hitPlane;
      hit.point = start + (end - start) * fraction;
      return true;
    }
    hit.plane = *hitPlane;
  } else {
    hit.plane = Plane();
  }
  fraction = 0.0f;
  hit.point = start;
  return true;
}

bool traceSurfaceTriangles(const SurfaceGeometry& geometry, const Vec3& start, const Vec3& end, float radius,
                           SurfaceTraceHit& hit, float& fraction, bool cullBackFaces) {
  if (!geometry.verts || !geometry.indexes)
    return false;
  // A segment that stays clear of the bounds grown by the radius meets no triangle.
  const float grow = radius > 0.0f ? radius : 0.0f;
  if (!geometry.bounds.expanded(grow + kClipEpsilon).lineSegmentTest(start, end))
    return false;

  // Worked on locally: the caller's best hit survives a surface that offers nothing nearer.
  SurfaceTraceHit local;
  float best = 1.0f;
  const int numTris = geometry.numIndexes / 3;
  ConvexPolygon triangle;
  for (int t = 0; t < numTris; t++) {
    const int* tri = geometry.indexes + t * 3;
    bool valid = true;
    for (int k = 0; k < 3; k++)
      valid = valid && tri[k] >= 0 && tri[k] < geometry.numVerts;
    if (!valid)
      continue;
    triangle.clear();
    for (int k = 0; k < 3; k++)
      triangle.addPoint(vertexPosition(geometry, tri[k]));
    Plane plane;
    triangle.computePlane(plane);
    if (plane.normal().lengthSqr() == 0.0f)
      continue;  // a degenerate triangle has no side to hit

    if (radius > 0.0f) {
      Plane planes[kMaxGrownPlanes];
      const int count = triangle.toSlabPlanes(planes, kMaxGrownPlanes, radius * 2.0f, radius);
      if (cullBackFaces && !(planes[0].distance(start) > 0.0f))
        continue;
      if (clipSegmentToPlanes(local, planes, start, best, end, count))
        local.firstIndex = tri[0];
    } else {
      if (cullBackFaces && !(plane.distance(start) > 0.0f))
        continue;
      Vec3 point;
      float f = 1.0f;
      planeSegmentFraction(plane, start, end, point, &f, 0.0f);
      if (f >= 0.0f && f <= best && triangle.pointInside(plane, point, kClipEpsilon)) {
        best = f;
        local.point = point;
        local.plane = plane;
        local.firstIndex = tri[0];
      }
    }
  }
  if (!(best < 1.0f) || !(best < fraction))
    return false;
  fraction = best;
  hit = local;
  return true;
}
