// Collision model records and the tree every builder shares: the root over a box, subdivision by
// polygon count, primitives pushed down to the leaves they reach, bounds recomputed bottom-up.
#include "collision/cmmodel.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "lib/criticalsection.h"

namespace {

constexpr float kSplitEpsilon = 0.001f;
constexpr float kInf = std::numeric_limits<float>::infinity();

// Stand-in materials while no material library reads real ones: solid, two-sided, named.
struct StandInMaterial {
  String name;
};

class StandInMaterials : public CollisionMaterialAccess {
 public:
  ~StandInMaterials() override {
    for (int i = 0; i < list_.num(); i++)
      delete list_[i];
  }
  Material* find(const char* name) override {
    lock_.lock();
    StandInMaterial* found = nullptr;
    for (int i = 0; i < list_.num() && !found; i++)
      if (list_[i]->name.icmp(name ? name : "") == 0)
        found = list_[i];
    if (!found) {
      found = new StandInMaterial;
      found->name = name ? name : "";
      list_.append(found);
    }
    lock_.unlock();
    return reinterpret_cast<Material*>(found);
  }
  const char* name(const Material* m) override {
    return reinterpret_cast<const StandInMaterial*>(m)->name.c_str();
  }
  int contents(const Material*) override { return kContentsSolid; }
  int surfaceFlags(const Material*) override { return 0; }
  int cullType(const Material*) override { return 0; }

 private:
  CriticalSection lock_;
  List<StandInMaterial*> list_;
};

}  // namespace

CollisionMaterialAccess& cm::materials() {
  if (g_collisionMaterialAccess)
    return *g_collisionMaterialAccess;
  static StandInMaterials standIns;
  return standIns;
}

void cm::planePolygon(ConvexPolygon& out, const Plane& plane, const Plane* planes, int count) {
  struct P {
    double x, y, z;
  };
  const double nx = plane.a, ny = plane.b, nz = plane.c;
  // Two axes in the plane, the same way ConvexPolygon::fromPlane picks them.
  double rx = 0, ry = 0, rz = 1;
  if (std::fabs(nz) >= std::max(std::fabs(nx), std::fabs(ny))) {
    rx = 1;
    rz = 0;
  }
  const double rn = rx * nx + ry * ny + rz * nz;
  double ux = rx - nx * rn, uy = ry - ny * rn, uz = rz - nz * rn;
  const double ul = std::sqrt(ux * ux + uy * uy + uz * uz);
  out.clear();
  if (ul == 0.0)
    return;
  ux /= ul;
  uy /= ul;
  uz /= ul;
  const double vx = uy * nz - uz * ny, vy = uz * nx - ux * nz, vz = ux * ny - uy * nx;
  const double h = 131072.0;
  const P c{nx * plane.d, ny * plane.d, nz * plane.d};
  P a[72], b[72];
  int n = 4;
  const double su[4] = {1, 1, -1, -1}, sv[4] = {1, -1, -1, 1};
  for (int i = 0; i < 4; i++)
    a[i] = P{c.x + (ux * su[i] + vx * sv[i]) * h, c.y + (uy * su[i] + vy * sv[i]) * h,
             c.z + (uz * su[i] + vz * sv[i]) * h};
  for (int k = 0; k < count && n > 0; k++) {
    const Plane& q = planes[k];
    if (q.compare(plane, 0.00001f, 0.001f))
      continue;
    int m = 0;
    for (int i = 0; i < n && m < 70; i++) {
      const P& p0 = a[i];
      const P& p1 = a[(i + 1) % n];
      const double d0 = q.a * p0.x + q.b * p0.y + q.c * p0.z - q.d;
      const double d1 = q.a * p1.x + q.b * p1.y + q.c * p1.z - q.d;
      if (d0 <= 0.0)
        b[m++] = p0;
      if ((d0 < 0.0 && d1 > 0.0) || (d0 > 0.0 && d1 < 0.0)) {
        const double t = d0 / (d0 - d1);
        b[m++] = P{p0.x + (p1.x - p0.x) * t, p0.y + (p1.y - p0.y) * t, p0.z + (p1.z - p0.z) * t};
      }
    }
    n = m < 3 ? 0 : m;
    std::memcpy(a, b, sizeof(P) * size_t(n));
  }
  for (int i = 0; i < n && out.numPoints < ConvexPolygon::kMaxPoints; i++)
    out.points[out.numPoints++] = Vec3(float(a[i].x), float(a[i].y), float(a[i].z));
  out.removeClosePoints(0.0001f);
  if (out.numPoints < 3)
    out.clear();
}

// ------------------------------------------------------------------------------------ ClipShape

void ClipShape::setPolygon(CollisionPolygon* p) {
  type = kClipShapePolygon;
  polygon = p;
  materialCopy = p->material;
  contents = cm::materialContents(p->material);
  cull = p->material ? cm::materials().cullType(p->material) : 0;
  check = p->checkIndex;
  bounds = p->bounds;
  plane = p->plane;
}

void ClipShape::setBrush(CollisionBrush* b) {
  type = kClipShapeBrush;
  brush = b;
  materialCopy = b->material;
  contents = cm::materialContents(b->material);
  cull = 0;
  check = b->checkIndex;
  bounds = b->trm.bounds;
}

int ClipShape::numPlanes() const {
  if (type == kClipShapePolygon)
    return polygon->winding.numPoints + 2;
  if (type == kClipShapeBrush)
    return brush->trm.numPolys;
  return 0;
}

int ClipShape::numEdges() const {
  if (type == kClipShapePolygon)
    return polygon->winding.numPoints + 1;
  if (type == kClipShapeBrush)
    return brush->trm.numEdges;
  return 0;
}

void ClipShape::getPlane(int i, Plane& out) const {
  if (type == kClipShapeBrush) {
    out = brush->trm.polys[i].plane;
    return;
  }
  if (type != kClipShapePolygon)
    return;
  const CollisionPolygon& p = *polygon;
  if (i == 0) {
    out = p.plane;
    return;
  }
  if (i == 1) {
    out = -p.plane;
    return;
  }
  const int count = p.winding.numPoints;
  const int e = i - 2;
  const Vec3& a = p.winding[e];
  const Vec3& b = p.winding[(e + 1) % count];
  Vec3 n = (b - a).cross(p.plane.normal());
  n.normalize();
  for (int axis = 0; axis < 3; axis++) {
    const int o1 = (axis + 1) % 3, o2 = (axis + 2) % 3;
    if (n[o1] == 0.0f && n[o2] == 0.0f) {
      n[axis] = n[axis] >= 0.0f ? 1.0f : -1.0f;
      break;
    }
    if (n[axis] == 1.0f || n[axis] == -1.0f) {
      n[o1] = 0.0f;
      n[o2] = 0.0f;
      break;
    }
  }
  out = Plane(n, n.dot(a));
}

Vec3 ClipShape::edgeVector(int i) const {
  if (type == kClipShapePolygon) {
    const ConvexPolygon& w = polygon->winding;
    if (i < w.numPoints)
      return w[(i + 1) % w.numPoints] - w[i];
    return polygon->plane.normal();
  }
  if (type == kClipShapeBrush) {
    const TraceEdge& e = brush->trm.edges[i + 1];
    return brush->trm.verts[e.vertex1] - brush->trm.verts[e.vertex0];
  }
  return Vec3();
}

Bounds ClipShape::getBounds() const {
  return type == kClipShapeNone ? Bounds() : bounds;
}

bool ClipShape::projectOnAxis(const Vec3& dir, float& outMin, float& outMax, float margin) const {
  if (type == kClipShapePolygon)
    return polygon->winding.projectOnAxis(dir, outMin, outMax, margin);
  if (type == kClipShapeBrush)
    return brush->trm.projectionBounds(dir, outMin, outMax, margin);
  return false;
}

Material* ClipShape::material() const {
  if (type == kClipShapePolygon)
    return polygon->material;
  if (type == kClipShapeBrush)
    return brush->material;
  return nullptr;
}

int ClipShape::checkIndex() const {
  if (type == kClipShapePolygon)
    return polygon->checkIndex;
  if (type == kClipShapeBrush)
    return brush->checkIndex;
  return -1;
}

// ------------------------------------------------------------------------------------ CollisionLeaf

void CollisionLeaf::addShape(const ClipShape& shape) {
  ClipShape added = shape;
  added.edges = -1;
  // Once shapes were added another way the blocks stay behind, and queries read the shapes.
  if (!packedMatches()) {
    shapes.append(added);
    return;
  }
  if (added.type == kClipShapePolygon && added.polygon) {
    const ConvexPolygon& w = added.polygon->winding;
    const Vec3 normal = added.plane.normal();
    const float eps2 = 0.01f * 0.01f;
    added.edges = edges.num();
    edges.append(float(w.numPoints));
    for (int k = 0; k < w.numPoints; k++) {
      const Vec3& a = w[k];
      const Vec3 en = (w[(k + 1) % w.numPoints] - a).cross(normal);
      const float values[kEdgeFloats] = {a.x, a.y, a.z, en.x, en.y, en.z, eps2 * en.lengthSqr()};
      for (float v : values)
        edges.append(v);
    }
  }
  const int i = shapes.append(added);
  packedShapes++;
  if ((i & 3) == 0) {
    packed.setNum(packed.num() + 1);  // zeroed
    if (((i >> 2) & 3) == 0) {
      BlockGroup group;
      for (int k = 0; k < 3; k++)
        for (int l = 0; l < 4; l++) {
          group.bounds[k][l] = kInf;
          group.bounds[k + 3][l] = -kInf;
        }
      blockGroups.append(group);
    }
  }
  PackedBlock& block = packed[i >> 2];
  const int lane = i & 3;
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const bool polygon = added.type == kClipShapePolygon;
  for (int k = 0; k < 3; k++) {
    block.bounds[k][lane] = added.bounds.mins[k];
    block.bounds[k + 3][lane] = added.bounds.maxs[k];
  }
  block.plane[0][lane] = polygon ? added.plane.a : nan;
  block.plane[1][lane] = polygon ? added.plane.b : nan;
  block.plane[2][lane] = polygon ? added.plane.c : nan;
  block.plane[3][lane] = polygon ? added.plane.d : nan;
  block.contents[lane] = added.contents;
  block.check[lane] = added.check;
  block.edges[lane] = added.edges;
  block.kind[lane] = added.type | (polygon && added.cull != 0 ? kPackedOneSided : 0);
  block.material[lane] = added.materialCopy;
  // The block's bounds again from its lanes, then widened.
  Bounds around(Vec3(kInf, kInf, kInf), Vec3(-kInf, -kInf, -kInf));
  float largest = 0.0f;
  for (int l = 0; l <= lane; l++)
    for (int k = 0; k < 3; k++) {
      const float lo = block.bounds[k][l], hi = block.bounds[k + 3][l];
      // Written so that a NaN, once in, stays.
      if (lo < around.mins[k] || lo != lo)
        around.mins[k] = lo;
      if (hi > around.maxs[k] || hi != hi)
        around.maxs[k] = hi;
      largest = std::max(largest, std::max(std::fabs(lo), std::fabs(hi)));
    }
  const float margin = cm::kBlockMargin * (1.0f + largest);
  BlockGroup& group = blockGroups[i >> 4];
  const int blockLane = (i >> 2) & 3;
  for (int k = 0; k < 3; k++) {
    group.bounds[k][blockLane] = around.mins[k] - margin;
    group.bounds[k + 3][blockLane] = around.maxs[k] + margin;
  }
}

// ------------------------------------------------------------------------------------ cmModel_t

cmModel_t::cmModel_t() {}

cmModel_t::~cmModel_t() {
  clearPrimitives();
}

void cmModel_t::clearPrimitives() {
  for (int i = 0; i < polygons.num(); i++)
    delete polygons[i];
  for (int i = 0; i < brushes.num(); i++)
    delete brushes[i];
  polygons.clear();
  brushes.clear();
  clearTree();
}

void cmModel_t::clearTree() {
  leafs.clear();
  nodes.clear();
}

namespace {

void addToLeaf(cmModel_t& model, int child, const ClipShape& shape) {
  CollisionLeaf& leaf = model.leafs[~child];
  leaf.addShape(shape);
  leaf.contents |= shape.contents;
  model.bounds.addBounds(shape.getBounds());
}

}  // namespace

void cmModel_t::insertPolygon(int child, CollisionPolygon* polygon, const ConvexPolygon& piece, int depth) {
  if (child < 0) {
    if (~child >= leafs.num())
      return;
    ClipShape shape;
    shape.setPolygon(polygon);
    addToLeaf(*this, child, shape);
    return;
  }
  if (child == 0 && depth > 0)
    return;
  if (child >= nodes.num() || depth > 64)
    return;
  const CollisionNode& node = nodes[child];
  const Plane plane(node.normal, node.dist);
  const int c0 = node.children[0], c1 = node.children[1];
  int side = piece.planeSide(plane, kSplitEpsilon);
  if (side == ConvexPolygon::kOn)
    side = polygon->plane.normal().dot(node.normal) < 0.0f ? ConvexPolygon::kBack : ConvexPolygon::kFront;
  if (side == ConvexPolygon::kFront) {
    insertPolygon(c0, polygon, piece, depth + 1);
  } else if (side == ConvexPolygon::kBack) {
    insertPolygon(c1, polygon, piece, depth + 1);
  } else {
    ConvexPolygon front, back;
    piece.split(&front, &back, plane, kSplitEpsilon);
    insertPolygon(c0, polygon, front, depth + 1);
    insertPolygon(c1, polygon, back, depth + 1);
  }
}

void cmModel_t::insertBrush(int child, CollisionBrush* brush, const TraceModel& piece, int depth) {
  if (child < 0) {
    if (~child >= leafs.num())
      return;
    ClipShape shape;
    shape.setBrush(brush);
    addToLeaf(*this, child, shape);
    return;
  }
  if (child == 0 && depth > 0)
    return;
  if (child >= nodes.num() || depth > 64)
    return;
  const CollisionNode& node = nodes[child];
  const Plane plane(node.normal, node.dist);
  const int c0 = node.children[0], c1 = node.children[1];
  float mn, mx;
  const bool projected = piece.projectionBounds(node.normal, mn, mx, kSplitEpsilon);
  if (projected && mn >= node.dist) {
    insertBrush(c0, brush, piece, depth + 1);
  } else if (projected && node.dist >= mx) {
    insertBrush(c1, brush, piece, depth + 1);
  } else {
    // Pieces are large records: keep them off the stack of a deep recursion.
    TraceModel* front = new TraceModel;
    TraceModel* back = new TraceModel;
    piece.split(plane, kSplitEpsilon, front, back);
    insertBrush(c0, brush, *front, depth + 1);
    insertBrush(c1, brush, *back, depth + 1);
    delete front;
    delete back;
  }
}

Bounds cmModel_t::computeBounds(int index) {
  if (nodes.num() == 0 || leafs.num() == 0) {
    bounds.clear();
    return Bounds();
  }
  if (index < 0) {
    if (~index >= leafs.num())
      return Bounds();
    CollisionLeaf& leaf = leafs[~index];
    leaf.bounds.clear();
    for (int i = 0; i < leaf.shapes.num(); i++)
      leaf.bounds.addBounds(leaf.shapes[i].getBounds());
    return leaf.bounds;
  }
  if (index >= nodes.num())
    return Bounds();
  Bounds b;
  // Children are visited once each: a file's child links may not form a tree.
  const int c0 = nodes[index].children[0], c1 = nodes[index].children[1];
  if (c0 != 0)
    b.addBounds(computeBounds(c0));
  if (c1 != 0)
    b.addBounds(computeBounds(c1));
  nodes[index].bounds = b;
  if (index == 0)
    bounds = b;
  return b;
}

// ------------------------------------------------------------------------------------ the tree

void buildRootNode(cmModel_t& model, const Bounds& bounds) {
  model.leafs.setNum(0);
  model.nodes.setNum(1);
  CollisionNode& root = model.nodes[0];
  root.bounds = bounds;
  root.normal = Vec3(0.0f, 0.0f, 1.0f);
  root.dist = bounds.maxs.z;
  root.axial = 2;
  root.children[0] = root.children[1] = 0;
  subdivideNode(model, 0, 0);
}

void subdivideNode(cmModel_t& model, int n, int depth) {
  for (int s = 0; s < 2; s++) {
    const CollisionNode parent = model.nodes[n];
    Bounds box = parent.bounds;
    if (parent.axial >= 0) {
      if (s == 0)
        box.mins[parent.axial] = parent.dist;
      else
        box.maxs[parent.axial] = parent.dist;
    }
    int count = 0;
    for (int i = 0; i < model.polygons.num(); i++)
      if (model.polygons[i]->bounds.intersects(box))
        count++;
    const Vec3 half = box.halfSize();
    bool makeNode;
    if (half.x <= 32.0f && half.y <= 32.0f && half.z <= 32.0f)
      makeNode = count >= 40 && depth < 4;
    else
      makeNode = count >= 20 && depth < 8;
    if (makeNode) {
      const int index = model.nodes.num();
      model.nodes[n].children[s] = index;
      CollisionNode node;
      node.bounds = box;
      int axis = 0;
      if (half.y > half[axis])
        axis = 1;
      if (half.z > half[axis])
        axis = 2;
      node.normal = Vec3();
      node.normal[axis] = 1.0f;
      node.axial = axis;
      node.dist = node.normal.dot(box.center());
      model.nodes.append(node);
      subdivideNode(model, index, depth + 1);
    } else {
      model.nodes[n].children[s] = ~model.leafs.num();
      CollisionLeaf leaf;
      leaf.bounds = box;
      model.leafs.append(leaf);
    }
  }
}
