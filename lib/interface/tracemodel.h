// The convex shape that the game module hands to the collision interface: a fixed-size record of
// vertices, edges (numbered from 1) and faces linked by index, copied by value between the game
// module and the engine. Implemented in the collision library (collision/tracemodel.cpp).
#pragma once

#include <cstdint>

#include "lib/matrix.h"
#include "lib/vector.h"

class ConvexPolygon;

enum TraceModelType : int32_t {
  kTrmCleared = 0,
  kTrmPoint = 1,
  kTrmBox = 2,
  kTrmCylinder = 3,
  kTrmCone = 4,
  kTrmBipyramid = 5,
  kTrmBoundsOnly = 6,
  kTrmPolygon = 7,
  kTrmPolygonSlab = 8,
  kTrmConvex = 9,
};

struct TraceEdge {
  int32_t vertex0;
  int32_t vertex1;
  Vec3 normal;
};

struct TracePolygon {
  int32_t numEdges;
  int32_t edges[16];  // signed edge numbers: +e walks vertex0 -> vertex1, -e the other way
  Bounds bounds;
  Plane plane;  // outward normal
};

// Where a segment enters a trace model (TraceModel::clipSegment).
struct TraceSegmentHit {
  Vec3 point;
  Plane plane;
  float fraction;
};

class TraceModel {
 public:
  static constexpr int kMaxVerts = 32;
  static constexpr int kMaxEdges = 32;
  static constexpr int kMaxPolys = 16;
  static constexpr int kMaxPolyEdges = 16;

  int32_t type = kTrmCleared;
  int32_t numVerts = 0;
  Vec3 verts[kMaxVerts];
  int32_t numEdges = 0;
  TraceEdge edges[kMaxEdges + 1];
  int32_t numPolys = 0;
  TracePolygon polys[kMaxPolys];
  Vec3 offset;
  Bounds bounds;

  TraceModel();
  TraceModel(const TraceModel& o) { copy(o); }
  TraceModel& operator=(const TraceModel& o) {
    if (this != &o)
      copy(o);
    return *this;
  }
  void copy(const TraceModel& o);

  // Type set, no parts, zero offset and bounds.
  void clear(int newType);

  int addVertex(const Vec3& p, bool allowAdd);
  bool addPolygon(const ConvexPolygon& polygon);
  void getPolygon(int n, ConvexPolygon& out, int maxPoints = 64) const;

  void setupBox(const Bounds& b);
  void setupBoxFromSize(float size);
  void setupCylinder(const Bounds& b, int sides);
  void setupCylinderFromSize(float height, float width, int sides);
  void setupCone(const Bounds& b, int sides);
  void setupConeFromSize(float height, float width, int sides);
  void setupBipyramid(float length, float width);
  void initBipyramid();
  void setupPolygon(const Vec3* points, int count);
  void setupPolygonFromWinding(const ConvexPolygon& polygon);
  void setupBoundsOnly(float r);

  void buildEdgeNormals();
  int computeEdgeNormals();

  void translate(const Vec3& delta);
  void rotate(const Mat3& axis);
  void expand(float inset);
  void split(const Plane& plane, float epsilon, TraceModel* front, TraceModel* back) const;
  bool projectionBounds(const Vec3& dir, float& outMin, float& outMax, float epsilon) const;
  float planeContact(const Plane& plane, Vec3& outPoint) const;
  bool clipSegment(const Vec3& start, const Vec3& end, TraceSegmentHit& out) const;

  // The start vertex of a face's signed edge.
  int edgeStart(int signedEdge) const {
    return signedEdge >= 0 ? edges[signedEdge].vertex0 : edges[-signedEdge].vertex1;
  }
};

// The game module reads and writes this record byte for byte.
static_assert(sizeof(TraceEdge) == 20, "TraceEdge layout");
static_assert(sizeof(TracePolygon) == 108, "TracePolygon layout");
static_assert(sizeof(TraceModel) == 2824, "TraceModel layout");

// A box from -0.5 to 0.5 on every axis.
extern const TraceModel& g_defaultTraceModel;
