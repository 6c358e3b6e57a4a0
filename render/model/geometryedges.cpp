// Shadow edges and position welding. The pairwise searches they replace are O(n^2) on meshes of
// 100k triangles; the hashed forms keep their first-match results exactly.
#include "render/model/geometryedges.h"

#include <cmath>
#include <cstring>
#include <unordered_map>
#include <vector>

namespace {

uint64_t mix(uint64_t h) {
  h ^= h >> 33;
  h *= 0xff51afd7ed558ccdull;
  h ^= h >> 33;
  h *= 0xc4ceb9fe1a85ec53ull;
  h ^= h >> 33;
  return h;
}

// Bits of a coordinate under exact float equality: -0 equals +0.
uint32_t equalityBits(float v) {
  if (v == 0.0f)
    v = 0.0f;
  uint32_t bits;
  std::memcpy(&bits, &v, sizeof(bits));
  return bits;
}

void storeEdges(SurfaceGeometry* geometry, const std::vector<GeometryEdge>& edges) {
  geometry->numEdges = int(edges.size());
  geometry->edges = nullptr;
  if (!edges.empty()) {
    geometry->edges = new GeometryEdge[edges.size()];
    std::memcpy(geometry->edges, edges.data(), edges.size() * sizeof(GeometryEdge));
  }
  geometry->closed = 1;
  for (const GeometryEdge& e : edges) {
    if (e.tri1 == -1) {
      geometry->closed = 0;
      break;
    }
  }
}

bool hasEdgeInput(const SurfaceGeometry* geometry) {
  return geometry && !geometry->edges && geometry->verts && geometry->indexes && geometry->edgeOfIndex &&
         geometry->numIndexes >= 3;
}

// An index outside the vertex array stands for itself (never welded), so a bad index cannot read
// outside the array.
int weldedIndex(const int* firstEqual, int numVerts, int index) {
  return index >= 0 && index < numVerts ? firstEqual[index] : index;
}

}  // namespace

void firstEqualPositions(const DrawVertex* verts, int numVerts, int* out) {
  struct Key {
    uint32_t x, y, z;
    bool operator==(const Key& o) const { return x == o.x && y == o.y && z == o.z; }
  };
  struct KeyHash {
    size_t operator()(const Key& k) const {
      return size_t(mix((uint64_t(k.x) << 32 | k.y) ^ mix(k.z)));
    }
  };
  std::unordered_map<Key, int, KeyHash> first;
  first.reserve(size_t(numVerts));
  for (int i = 0; i < numVerts; i++) {
    const DrawVertex& v = verts[i];
    if (std::isnan(v.xyz[0]) || std::isnan(v.xyz[1]) || std::isnan(v.xyz[2])) {
      out[i] = i;  // NaN equals nothing, itself included
      continue;
    }
    const Key key{equalityBits(v.xyz[0]), equalityBits(v.xyz[1]), equalityBits(v.xyz[2])};
    out[i] = first.emplace(key, i).first->second;
  }
}

void buildGeometryEdges(SurfaceGeometry* geometry) {
  if (!hasEdgeInput(geometry))
    return;
  const int numVerts = geometry->numVerts;
  const int numTris = geometry->numIndexes / 3;
  std::vector<int> firstEqual(size_t(numVerts > 0 ? numVerts : 1));
  firstEqualPositions(geometry->verts, numVerts, firstEqual.data());

  // Open edges (one triangle) by their vertex pair, oldest first: a side running (a, b) closes the
  // oldest open edge of (b, a), which is the first one the pairwise search would meet.
  struct Queue {
    int head, tail;
  };
  std::unordered_map<uint64_t, Queue> open;
  open.reserve(size_t(numTris) * 3);
  std::vector<int> nextOpen;
  nextOpen.reserve(size_t(numTris) * 3);
  std::vector<GeometryEdge> edges;
  edges.reserve(size_t(numTris) * 3 / 2 + 1);

  for (int t = 0; t < numTris; t++) {
    for (int k = 0; k < 3; k++) {
      const int at = t * 3 + k;
      const int a = weldedIndex(firstEqual.data(), numVerts, geometry->indexes[at]);
      const int b = weldedIndex(firstEqual.data(), numVerts, geometry->indexes[t * 3 + (k + 1) % 3]);
      const uint64_t reverse = uint64_t(uint32_t(b)) << 32 | uint32_t(a);
      auto found = open.find(reverse);
      if (found != open.end() && found->second.head != -1) {
        const int e = found->second.head;
        found->second.head = nextOpen[size_t(e)];
        if (found->second.head == -1)
          found->second.tail = -1;
        edges[size_t(e)].tri1 = t;
        geometry->edgeOfIndex[at] = -e;
        continue;
      }
      const int e = int(edges.size());
      edges.push_back({t, -1, a, b});
      nextOpen.push_back(-1);
      Queue& q = open.try_emplace(uint64_t(uint32_t(a)) << 32 | uint32_t(b), Queue{-1, -1}).first->second;
      if (q.tail == -1)
        q.head = e;
      else
        nextOpen[size_t(q.tail)] = e;
      q.tail = e;
      geometry->edgeOfIndex[at] = e;
    }
  }
  storeEdges(geometry, edges);
}

void buildGeometryEdgesReference(SurfaceGeometry* geometry) {
  if (!hasEdgeInput(geometry))
    return;
  const int numVerts = geometry->numVerts;
  const int numTris = geometry->numIndexes / 3;
  auto firstEqual = [&](int index) {
    if (index < 0 || index >= numVerts)
      return index;
    const DrawVertex& v = geometry->verts[index];
    for (int i = 0; i < numVerts; i++) {
      const DrawVertex& o = geometry->verts[i];
      if (o.xyz[0] == v.xyz[0] && o.xyz[1] == v.xyz[1] && o.xyz[2] == v.xyz[2])
        return i;
    }
    return index;
  };
  std::vector<GeometryEdge> edges;
  for (int t = 0; t < numTris; t++) {
    for (int k = 0; k < 3; k++) {
      const int at = t * 3 + k;
      const int a = firstEqual(geometry->indexes[at]);
      const int b = firstEqual(geometry->indexes[t * 3 + (k + 1) % 3]);
      bool matched = false;
      for (size_t e = 0; e < edges.size(); e++) {
        if (edges[e].vert0 == b && edges[e].vert1 == a && edges[e].tri1 == -1) {
          edges[e].tri1 = t;
          geometry->edgeOfIndex[at] = -int(e);
          matched = true;
          break;
        }
      }
      if (!matched) {
        geometry->edgeOfIndex[at] = int(edges.size());
        edges.push_back({t, -1, a, b});
      }
    }
  }
  storeEdges(geometry, edges);
}

void removeCoplanarEdges(SurfaceGeometry* geometry) {
  if (!geometry || !geometry->edges || !geometry->planes || !geometry->facetsValid)
    return;
  const int numTris = geometry->numIndexes / 3;
  std::vector<int> newNumber(size_t(geometry->numEdges));
  int kept = 0;
  for (int e = 0; e < geometry->numEdges; e++) {
    const GeometryEdge edge = geometry->edges[e];
    bool coplanar = false;
    if (edge.tri1 != -1 && edge.tri0 >= 0 && edge.tri0 < numTris && edge.tri1 >= 0 && edge.tri1 < numTris) {
      const Plane& p0 = geometry->planes[edge.tri0];
      const Plane& p1 = geometry->planes[edge.tri1];
      coplanar = std::fabs(p0.a - p1.a) <= 1e-5f && std::fabs(p0.b - p1.b) <= 1e-5f &&
                 std::fabs(p0.c - p1.c) <= 1e-5f && std::fabs(p0.d - p1.d) <= 0.001f;
    }
    if (coplanar) {
      newNumber[size_t(e)] = -1;
      continue;
    }
    newNumber[size_t(e)] = kept;
    geometry->edges[kept++] = edge;
  }
  if (kept == geometry->numEdges)
    return;
  geometry->numEdges = kept;
  for (int i = 0; i < geometry->numIndexes; i++) {
    const int stored = geometry->edgeOfIndex[i];
    const int e = stored < 0 ? -stored : stored;
    if (e >= int(newNumber.size()) || newNumber[size_t(e)] < 0) {
      geometry->edgeOfIndex[i] = 0;
      continue;
    }
    geometry->edgeOfIndex[i] = stored < 0 ? -newNumber[size_t(e)] : newNumber[size_t(e)];
  }
}

struct PositionWelder::Impl {
  float epsilon;
  double invCell;
  std::vector<Vec3> points;
  std::vector<int> next;  // chain of points in one cell hash
  std::unordered_map<uint64_t, int> heads;

  int64_t cellOf(float v) const {
    double c = std::floor(double(v) * invCell);
    if (c > 4.0e18)
      c = 4.0e18;
    if (c < -4.0e18)
      c = -4.0e18;
    return int64_t(c);
  }
  static uint64_t keyOf(int64_t x, int64_t y, int64_t z) {
    return mix(uint64_t(x) * 0x9e3779b97f4a7c15ull ^ mix(uint64_t(y) + 0x632be59bd9b4e019ull) ^
               mix(mix(uint64_t(z))));
  }
};

PositionWelder::PositionWelder(float epsilon) : impl_(new Impl) {
  impl_->epsilon = epsilon;
  // Cells twice the tolerance wide: a point within it lies in its own or a neighbouring cell.
  impl_->invCell = epsilon > 0.0f ? 1.0 / (2.0 * double(epsilon)) : 1.0;
}

PositionWelder::~PositionWelder() { delete impl_; }

void PositionWelder::reserve(int count) {
  if (count <= 0)
    return;
  impl_->points.reserve(size_t(count));
  impl_->next.reserve(size_t(count));
  impl_->heads.reserve(size_t(count));
}

int PositionWelder::count() const { return int(impl_->points.size()); }

int PositionWelder::add(const Vec3& p, bool* added) {
  Impl& w = *impl_;
  const int index = int(w.points.size());
  const bool finite = std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
  if (finite) {
    const int64_t cx = w.cellOf(p.x), cy = w.cellOf(p.y), cz = w.cellOf(p.z);
    int best = -1;
    for (int dx = -1; dx <= 1; dx++) {
      for (int dy = -1; dy <= 1; dy++) {
        for (int dz = -1; dz <= 1; dz++) {
          auto found = w.heads.find(Impl::keyOf(cx + dx, cy + dy, cz + dz));
          if (found == w.heads.end())
            continue;
          for (int i = found->second; i != -1; i = w.next[size_t(i)]) {
            if ((best == -1 || i < best) && w.points[size_t(i)].compare(p, w.epsilon))
              best = i;
          }
        }
      }
    }
    if (best != -1) {
      if (added)
        *added = false;
      return best;
    }
  }
  w.points.push_back(p);
  w.next.push_back(-1);
  if (finite) {
    auto slot = w.heads.try_emplace(Impl::keyOf(w.cellOf(p.x), w.cellOf(p.y), w.cellOf(p.z)), -1).first;
    w.next[size_t(index)] = slot->second;
    slot->second = index;
  }
  if (added)
    *added = true;
  return index;
}
