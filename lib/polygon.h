// ConvexPolygon: a planar polygon of at most 64 points that clips, splits,
// merges and triangulates without touching the heap; PolygonSet: a list of such
// polygons on one plane; clippers of plain (x, y, z, s, t) point lists.
#pragma once

#include "lib/list.h"
#include "lib/vector.h"

class PolygonSet;

class ConvexPolygon {
 public:
  static constexpr int kMaxPoints = 64;
  enum Side { kFront = 0, kBack = 1, kCross = 2, kOn = 3 };

  int numPoints = 0;
  // Only the first numPoints entries are meaningful; the rest is left
  // uninitialised so polygons cost nothing to create.
  union {
    Vec3 points[kMaxPoints];
  };

  ConvexPolygon() {}
  ConvexPolygon(const ConvexPolygon& o) : numPoints(o.numPoints) { copyPoints(o); }
  ConvexPolygon& operator=(const ConvexPolygon& o) {
    if (this != &o) {
      numPoints = o.numPoints;
      copyPoints(o);
    }
    return *this;
  }

  Vec3& operator[](int i) { return points[i]; }
  const Vec3& operator[](int i) const { return points[i]; }
  // Same count and every point exactly equal.
  bool operator==(const ConvexPolygon& o) const;
  bool operator!=(const ConvexPolygon& o) const { return !(*this == o); }

  // --- editing ---
  void clear() { numPoints = 0; }
  // Index of the point (an existing one within eps, or the appended one); -1 when full.
  int addPoint(const Vec3& p, float eps = 0.0f);
  void insertPoint(const Vec3& p, int index);
  void removePoint(int index);
  void removeDuplicatePoints(float eps);
  void removeClosePoints(float dist);
  void reverse();
  void reversed(ConvexPolygon& out) const;
  void snap(float gridScale);
  // A square of 4 points centred on n*d, lying in the plane and facing along it.
  void fromPlane(const Plane& plane, float halfSize);

  // --- queries ---
  int planeSide(const Plane& plane, float eps) const;
  Vec3 center() const;
  float area() const;
  void computePlane(Plane& out) const;
  Plane plane() const {
    Plane p;
    computePlane(p);
    return p;
  }
  bool projectOnAxis(const Vec3& axis, float& outMin, float& outMax, float eps = 0.0f) const;
  void getBounds(Bounds& out) const;
  // Grows the bounds by every point (the bounds are not cleared).
  void addToBounds(Bounds& bounds) const;
  bool isTiny(float eps) const;
  bool isConvex(float eps) const;
  int findPoint(const Vec3& p, float eps) const;
  int findEdge(const Vec3& a, const Vec3& b, float eps) const;
  int findEdgeContaining(const Vec3& p, float* outFraction, float eps) const;
  // Inside every edge plane built from the edges and the normal, within eps.
  bool pointInside(const Vec3& normal, const Vec3& p, float eps) const;
  bool pointInside(const Plane& plane, const Vec3& p, float eps) const {
    return pointInside(plane.normal(), p, eps);
  }

  // --- splitting and clipping ---
  // Either output may be null; outputs left with 2 points or fewer are emptied.
  void split(ConvexPolygon* front, ConvexPolygon* back, const Plane& plane, float eps) const;
  // Keeps the part behind every plane; returns a bit per plane (i mod 32) that cut.
  // A caller that wants the part in front passes the negated planes; the result
  // says nothing about what is left, so a caller asking "anything left?" tests
  // isEmpty() (or the point count) afterwards.
  int clipInPlace(const Plane* planes, int count, float expand = 0.0f);
  void clipByPlanes(const Plane& plane, const Plane* planes, int count);
  // Removes the part inside the convex volume, appending the outside pieces to
  // the set (or the whole polygon when none of it was inside: false).
  bool carveByPlanes(PolygonSet& set, const Plane* planes, int count, float expand = 0.0f) const;
  int pyramidPlanes(const Vec3& origin, Plane* out, int maxPlanes, float eps) const;
  // Writes at most capacity planes.
  int toSlabPlanes(Plane* out, int capacity, float thickness, float edgeOffset) const;
  // 2 added, 1 inside (unchanged), 0 refused (unchanged).
  int addPointToHull(const Vec3& p, const Vec3& normal, float eps);

  // --- merging ---
  bool tryMerge(const ConvexPolygon& other, bool strict);

  // --- triangulation (three 32-bit point indices per triangle) ---
  int triangulate(List<int>& out) const;
  bool fanTriangulate(List<int>& out) const;
  // May add the centre as a new last point.
  int triangulateWithCenter(List<int>& out);

 private:
  void copyPoints(const ConvexPolygon& o);
  bool triangleFaces(int a, int b, int c, const Vec3& normal) const;
};

class PolygonSet : public List<ConvexPolygon> {
 public:
  PolygonSet() = default;

  bool mergeAll(bool weld, bool strict);
  int fixTJunctions();
  // Polygons lying on the plane within onEpsilon go whole to the side their
  // own plane faces; the others are split with splitEpsilon. Either output may
  // be null.
  void splitByPlane(const Plane& plane, float splitEpsilon, float onEpsilon, PolygonSet* front,
                    PolygonSet* back) const;
};

// Point lists of 5 floats per point (x, y, z, s, t).
// One clip step keeping the side on or behind the plane; fewer than 3 points
// give 0. At most outCapacity points are written.
int clipPointListByPlane(int count, const float* in, float* out, int outCapacity, const Plane& plane);
// Clips by every plane in turn; the result stands in points, which holds room
// for capacity points. Stops at 0.
int clipPointListByPlanes(const Plane* planes, int numPlanes, float* points, int count, int capacity);
