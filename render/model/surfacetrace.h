// Where a segment, optionally swept with a radius, first meets the triangles of one surface. The
// renderer's entity-model and interface traces run it once per surface, carrying the best
// fraction from surface to surface; the plane-crossing routine serves effects and polygons too.
#pragma once

#include <cstdint>

#include "lib/vector.h"

struct SurfaceGeometry;

// What the surface trace records of its nearest hit.
struct SurfaceTraceHit {
  Plane plane;
  Vec3 point;
  int32_t firstIndex = 0;  // the vertex index at the hit triangle's first index position
};

// Codes of planeSegmentFraction.
enum PlaneCrossing {
  kCrossingEnters = 0,   // moves towards the back, starting in front
  kCrossingBehind = 1,   // starts behind, or moves towards the front
  kCrossingParallel = 3,
};

// Fraction of start..end where the segment meets the plane, biased by epsilon away from it; the
// point is projected onto the plane. Parallel segments give fraction 1.
int planeSegmentFraction(const Plane& plane, const Vec3& start, const Vec3& end, Vec3& point,
                         float* fraction, float epsilon);

// The segment against a convex volume of outward planes; on entry nearer than fraction, the hit
// and fraction are updated. A start inside every plane hits at fraction 0.
bool clipSegmentToPlanes(SurfaceTraceHit& hit, const Plane* planes, const Vec3& start, float& fraction,
                         const Vec3& end, int count);

// The segment (swept by radius when radius > 0) against every triangle. fraction is the caller's
// best so far: hit and fraction change only for a nearer hit, and only then is the answer true.
bool traceSurfaceTriangles(const SurfaceGeometry& geometry, const Vec3& start, const Vec3& end, float radius,
                           SurfaceTraceHit& hit, float& fraction, bool cullBackFaces);
