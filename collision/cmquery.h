// Query objects: one answers one collision question. It brings the movement into the model's space,
// walks the node tree along the swept volume, visits each primitive once and keeps the nearest hit
// (trace), ORs what the shape overlaps (contents) or collects what it may touch (gather).
#pragma once

#include <cstdint>

#include "collision/cmmodel.h"
#include "lib/interface/collisionsystem.h"
#include "lib/list.h"

class CollisionModelQueryInterface {
 public:
  enum Mode { kModeTrace = 0, kModeContents = 1, kModeGather = 2 };

  CollisionModelQueryInterface();
  virtual ~CollisionModelQueryInterface() = default;
  CollisionModelQueryInterface(const CollisionModelQueryInterface&) = delete;
  CollisionModelQueryInterface& operator=(const CollisionModelQueryInterface&) = delete;

  virtual float projectionRadius(const Vec3& normal) const = 0;
  virtual float planeDistance(const Plane& plane) const = 0;
  virtual bool testPrimitive(const ClipShape& shape) = 0;
  virtual void finishResult(TraceResult& out, const Vec3& worldStart, const Vec3& worldEnd) = 0;
  virtual bool clipPrimitive(ConvexPolygon& out, const ClipShape& shape, float epsilon) = 0;
  virtual void setTraceModel(const TraceModel* trm, const Mat3& trmAxis) = 0;
  virtual void setTraceModelRotation(const TraceModel* trm, const Mat3& trmAxis,
                                     const Rotation& rotation) = 0;
  virtual bool boundsTouched(const Bounds& b) const;
  virtual void computeBounds();
  virtual int traceModelType() const = 0;

  bool trace(const Vec3& start, const Vec3& end, const TraceModel* trm, const Mat3& trmAxis, int contentMask,
             cmModel_t* model, const Vec3& modelOrigin, const Mat3& modelAxis);
  int contents(const Vec3& start, const TraceModel* trm, const Mat3& trmAxis, int contentMask,
               cmModel_t* model, const Vec3& modelOrigin, const Mat3& modelAxis, bool isWorld);
  int gatherPrimitives(const Vec3& start, const float delta6[6], const TraceModel* trm, const Mat3& trmAxis,
                       int contentMask, cmModel_t* model, const Vec3& modelOrigin, const Mat3& modelAxis);
  static bool clipTraceModel(ConvexPolygon& out, const ClipShape& shape, const TraceModel& shapeTrm,
                             float epsilon);

  TraceResult result;
  int mode = kModeTrace;
  Vec3 start, end;
  int contentMask = 0;
  Vec3 delta;
  List<const ClipShape*> primitives{1024};
  List<uint8_t> visitedBits;
  int numPrimitives = 0;
  bool stationary = false;
  bool testBackFaces = false;
  cmModel_t* model = nullptr;
  Vec3 modelOrigin;
  Mat3 modelAxis;
  Bounds bounds;

 protected:
  bool setup(const Vec3& worldStart, const Vec3& worldEnd, int mask, cmModel_t* m, const Vec3& origin,
             const Mat3& axis);
  bool walkRoot();
  void walkNode(int child, Vec3 p1, Vec3 p2, int depth);
  void testNodePrimitives(int leafIndex);
  // The walk a trace runs: the general one here, a dedicated one for points.
  virtual bool walkTrace() { return walkRoot(); }
  // Sets the primitive's visited bit; false when it was set already or the index is out of range.
  bool visit(int check) {
    if (check < 0 || (check >> 3) >= visitedBits.num())
      return false;
    uint8_t& byte = visitedBits[check >> 3];
    const uint8_t bit = uint8_t(1u << (check & 7));
    if (byte & bit)
      return false;
    // Bytes are cleared one by one at the next setup rather than the whole array.
    if (byte == 0)
      touchedBytes_[numTouched_++] = check >> 3;
    byte |= bit;
    return true;
  }
  float nodeDistance(const CollisionNode& node, const Vec3& p) const {
    return node.axial >= 0 ? p[node.axial] - node.dist : node.normal.dot(p) - node.dist;
  }
  ConvexPolygon scratch_;

 private:
  List<int> touchedBytes_;  // as long as visitedBits: each byte is listed once
  int numTouched_ = 0;
};

class CollisionModelPointQuery : public CollisionModelQueryInterface {
 public:
  float projectionRadius(const Vec3&) const override { return 0.0f; }
  float planeDistance(const Plane& plane) const override { return plane.distance(start); }
  bool testPrimitive(const ClipShape& shape) override;
  void finishResult(TraceResult& out, const Vec3& worldStart, const Vec3& worldEnd) override;
  bool clipPrimitive(ConvexPolygon& out, const ClipShape& shape, float epsilon) override;
  void setTraceModel(const TraceModel*, const Mat3& axis) override { trmAxis = axis; }
  void setTraceModelRotation(const TraceModel*, const Mat3&, const Rotation&) override {}
  bool boundsTouched(const Bounds& b) const override;
  int traceModelType() const override { return kTrmPoint; }

  Mat3 trmAxis;

 protected:
  // The general walk specialised for a segment: the same visits in the same order and the same
  // answer, with the segment's terms computed once and the shapes of a leaf screened from its
  // packed blocks (CollisionLeaf) before any shape is read.
  bool walkTrace() override;

 private:
  // boundsTouched split in two: overlap with the query's bounds, and the segment test proper.
  bool overlaps(const Bounds& b) const;
  bool segmentCrosses(const Bounds& b) const;
  bool segmentTouches(const Bounds& b) const { return overlaps(b) && segmentCrosses(b); }
  void prepareSegment();
  void rayWalkNode(int child, Vec3 p1, Vec3 p2, int depth);
  void rayTestLeaf(int leafIndex);
  void rayTestShape(const ClipShape& shape, const float* edges);
  void rayTestPacked(const CollisionLeaf& leaf, int index);
  void record(const ClipShape& shape, float fraction, const Vec3& point, const Plane& plane);
  void record(Material* material, int contents, int check, float fraction, const Vec3& point,
              const Plane& plane);
  // The query's bounds and the segment's terms (half, its absolute value, middle; also rotated
  // y z x and z x y for the cross-product test), laid out for four-wide compares.
  alignas(16) float overlapMaxs_[4];  // bounds.maxs, +inf
  alignas(16) float overlapMins_[4];  // -inf, bounds.mins
  alignas(16) float segMid_[4];
  alignas(16) float segHalfYzx_[4];
  alignas(16) float segHalfZxy_[4];
  alignas(16) float segAbs_[4];
  alignas(16) float segAbsZzy_[4];
  alignas(16) float segAbsYxx_[4];
  Vec3 segHalf_, segAbsHalf_, segMidV_;
  float segMargin_ = 0.0f;  // the segment's share of the block margin (cm::kBlockMargin)
  List<int> candidates_;    // shapes of a leaf that its blocks let through
};

class CollisionModelTraceModelQuery : public CollisionModelQueryInterface {
 public:
  CollisionModelTraceModelQuery();

  float projectionRadius(const Vec3& normal) const override {
    return std::fabs(halfExtents.x * normal.x) + std::fabs(halfExtents.y * normal.y) +
           std::fabs(halfExtents.z * normal.z);
  }
  float planeDistance(const Plane& plane) const override;
  bool testPrimitive(const ClipShape& shape) override;
  void finishResult(TraceResult& out, const Vec3& worldStart, const Vec3& worldEnd) override;
  bool clipPrimitive(ConvexPolygon& out, const ClipShape& shape, float epsilon) override {
    return clipTraceModel(out, shape, workTrm, epsilon);
  }
  void setTraceModel(const TraceModel* trm, const Mat3& trmAxis) override;
  void setTraceModelRotation(const TraceModel* trm, const Mat3& trmAxis, const Rotation& rotation) override;
  bool boundsTouched(const Bounds& b) const override;
  void computeBounds() override;
  int traceModelType() const override { return trm.type; }

  bool sweepPrimitive(TraceResult& r, const ClipShape& shape) const;
  void placeAtFraction(TraceModel& out, float fraction) const;

  TraceModel trm;
  TraceModel workTrm;
  Vec3 halfExtents;
  Mat3 trmAxis;
  Mat3 localAxis;
  Rotation rotation;
  bool rotating = false;
};

// Orthonormalises (row 0, row 2 = 0 x 1, row 1 = 2 x 0), zeroes denormal entries and snaps rows
// lying on an axis to exactly +-1.
Mat3 cleanAxis(const Mat3& m, bool orthonormalise);
