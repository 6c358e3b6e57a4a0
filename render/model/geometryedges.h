// Shadow edges of triangle geometry and the welding of equal positions. Hashed: the results equal
// those of the plain pairwise searches (kept as the reference forms for tests and benchmarks).
#pragma once

#include "lib/interface/rendermodelsystem.h"

// Fills edges, numEdges, edgeOfIndex and closed; nothing when the geometry already has edges.
// Triangle sides are matched by position (the first vertex with exactly the same x, y and z);
// a side takes the first earlier edge that runs the other way and has one triangle.
void buildGeometryEdges(SurfaceGeometry* geometry);
// The pairwise form of the same, O(indexes * edges).
void buildGeometryEdgesReference(SurfaceGeometry* geometry);

// For every vertex, the index of the first vertex with exactly the same position (itself when
// none comes earlier; a NaN position matches nothing, so it maps to itself).
void firstEqualPositions(const DrawVertex* verts, int numVerts, int* out);

// Removes, keeping the order of the rest, every edge whose two triangles lie on equal planes
// (normals within 1e-5 per component, distances within 0.001). Edge numbers are renumbered; the
// sides of a removed edge read 0. Needs facet planes.
void removeCoplanarEdges(SurfaceGeometry* geometry);

// Welding of positions within `epsilon` per component: for each point, appended in order, the
// index of the first kept point that lies within epsilon, or a new one. Points that are not
// finite are never welded.
class PositionWelder {
 public:
  explicit PositionWelder(float epsilon);
  ~PositionWelder();
  PositionWelder(const PositionWelder&) = delete;
  PositionWelder& operator=(const PositionWelder&) = delete;

  // Room for this many points (the table never rehashes below it).
  void reserve(int count);
  // The index of the welded point; `added` tells whether it is new.
  int add(const Vec3& p, bool* added);
  int count() const;

 private:
  struct Impl;
  Impl* impl_;
};
