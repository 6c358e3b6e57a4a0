// Collision model records: convex polygons and brushes, each with a material, sorted into an
// axis-aligned tree whose leaves reference the primitives they reach (ClipShape). Builders and the
// ".cm" reader fill a model once; the queries only read it.
#pragma once

#include "lib/interface/collisionsystem.h"
#include "lib/interface/tracemodel.h"
#include "lib/list.h"
#include "lib/polygon.h"
#include "lib/str.h"

struct CollisionNode {
  Bounds bounds;
  Vec3 normal;
  float dist = 0.0f;
  int axial = -1;
  // > 0 node index, 0 nothing, < 0 leaf ~value.
  int children[2] = {0, 0};
};

struct CollisionPolygon {
  Material* material = nullptr;
  int checkIndex = 0;
  Bounds bounds;
  Plane plane;
  ConvexPolygon winding;
};

struct CollisionBrush {
  Material* material = nullptr;
  int checkIndex = 0;
  TraceModel trm;
};

enum ClipShapeType : int { kClipShapeNone = 0, kClipShapePolygon = 1, kClipShapeBrush = 2 };

class ClipShape {
 public:
  int type = kClipShapeNone;
  union {
    CollisionPolygon* polygon;
    CollisionBrush* brush;
    void* data;
  };

  // Copies of what the tree walk tests first, kept beside the reference so that a primitive the
  // walk rejects is never touched (the records are large and scattered).
  int contents = 0;
  int check = -1;
  int cull = 0;
  Material* materialCopy = nullptr;
  Bounds bounds;
  Plane plane;  // a polygon's plane (brushes: zero)
  // Where a polygon's edge data starts in the edges of the leaf whose addShape made this copy
  // (-1: none).
  int edges = -1;

  ClipShape() : data(nullptr) {}
  void setPolygon(CollisionPolygon* p);
  void setBrush(CollisionBrush* b);

  int numPlanes() const;
  int numEdges() const;
  // Other types leave the output as it was.
  void getPlane(int i, Plane& out) const;
  Vec3 edgeVector(int i) const;
  Bounds getBounds() const;
  bool projectOnAxis(const Vec3& dir, float& outMin, float& outMax, float margin) const;
  Material* material() const;
  int checkIndex() const;
};

struct CollisionLeaf {
  Bounds bounds;
  List<ClipShape> shapes;  // grown through addShape
  int contents = 0;

  // The shapes in blocks of four, one field of the four at a time: bounds (mins x, y, z, maxs x,
  // y, z), plane (a, b, c, d), contents, check indices, edge data offsets (-1: none), kinds (type,
  // plus kPackedOneSided for a polygon of a one-sided material) and materials. A segment query
  // tests polygons from these without reading the shapes. Shapes other than polygons carry a
  // plane of NaNs, which no plane test rejects.
  struct PackedBlock {
    float bounds[6][4];
    float plane[4][4];
    int contents[4];
    int check[4];
    int edges[4];
    int kind[4];
    Material* material[4];
  };
  static constexpr int kPackedOneSided = 0x100;
  List<PackedBlock> packed;
  int packedShapes = 0;  // how many shapes packed describes: all of them unless added past addShape
  // Per four blocks, each block's bounds around its shapes' bounds, widened by cm::kBlockMargin
  // (lanes as in a block; a NaN in any shape's bounds makes them never reject): blocks whose
  // bounds miss a query's bounds or segment are skipped unread.
  struct BlockGroup {
    float bounds[6][4];
  };
  List<BlockGroup> blockGroups;
  bool packedMatches() const { return packedShapes == shapes.num(); }
  // Per polygon: its point count, then per edge the start point, the edge x plane normal (pointing
  // out of the polygon) and 0.01^2 times that vector's squared length: the inside-edges test of a
  // crossing point without reading the polygon.
  static constexpr int kEdgeFloats = 7;
  List<float> edges;
  // Appends to shapes, packed and edges together.
  void addShape(const ClipShape& shape);
};

class cmModel_t : public CollisionModel {
 public:
  cmModel_t();
  ~cmModel_t() override;
  cmModel_t(const cmModel_t&) = delete;
  cmModel_t& operator=(const cmModel_t&) = delete;

  int numBrushes() const override { return brushes.num(); }
  const TraceModel* brushTraceModel(int i) const override { return &brushes[i]->trm; }
  Material* brushMaterial(int i) const override { return brushes[i]->material; }
  int numPolygons() const override { return polygons.num(); }
  const ConvexPolygon* polygonWinding(int i) const override { return &polygons[i]->winding; }
  Material* polygonMaterial(int i) const override { return polygons[i]->material; }

  // Empties the primitives and the tree (storage of the records is freed).
  void clearPrimitives();
  void clearTree();

  // Push a primitive down from a child slot; child 0 at depth 0 is the root.
  void insertPolygon(int child, CollisionPolygon* polygon, const ConvexPolygon& piece, int depth);
  void insertBrush(int child, CollisionBrush* brush, const TraceModel& piece, int depth);
  Bounds computeBounds(int index);

  String name;
  List<CollisionNode> nodes;
  List<CollisionLeaf> leafs;
  // Owned records, so leaves keep pointing at them while the lists grow.
  List<CollisionPolygon*> polygons;
  List<CollisionBrush*> brushes;
  Bounds bounds;
  int contents = 0;
  int index = 0;
  int checkCounter = 0;
};

// Builds node 0 over the box and subdivides it (the leaves are emptied first).
void buildRootNode(cmModel_t& model, const Bounds& bounds);
void subdivideNode(cmModel_t& model, int nodeIndex, int depth);

// Material reads that fall back to collision's own stand-ins when no material library is installed.
namespace cm {
// A block's bounds and a query's segment are each widened by this much times (1 + their largest
// coordinate) before the segment test of a block: more than ten times the rounding of that test
// and of a shape's own, so a block passes whenever one of its shapes would.
constexpr float kBlockMargin = 1e-5f;
CollisionMaterialAccess& materials();
inline int materialContents(const Material* m) {
  return m ? materials().contents(m) : 0;
}
// The face of a brush that lies in plane: a large square in the plane cut by every other plane
// (keeping what lies behind). Worked in double precision: float cuts of a square 131072 units
// across would move the corners of ordinary brushes by hundredths of a unit.
void planePolygon(ConvexPolygon& out, const Plane& plane, const Plane* planes, int count);
}  // namespace cm
