// Shadow edges and welding: a closed cube, open meshes, edge signs, coplanar edge removal, and the
// hashed forms against the plain pairwise searches on random meshes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "lib/matrix.h"
#include "render/model/geometryedges.h"
#include "render/model/support/modelenv.h"

namespace {

using modeltest::ModelEnv;
using modeltest::vertexAt;

class EdgesTest : public ModelEnv {
 protected:
  SurfaceGeometry* make(const std::vector<DrawVertex>& verts, const std::vector<int>& indexes) {
    SurfaceGeometry* g = manager()->allocSurfaceGeometry(int(verts.size()), int(indexes.size()),
                                                         kGeometryVertices | kGeometryIndexes);
    std::memcpy(g->verts, verts.data(), verts.size() * sizeof(DrawVertex));
    std::memcpy(g->indexes, indexes.data(), indexes.size() * sizeof(int));
    return g;
  }
};

// A cube of 8 shared corners, 12 outward triangles.
void cube(std::vector<DrawVertex>* verts, std::vector<int>* indexes) {
  for (int i = 0; i < 8; i++)
    verts->push_back(vertexAt(i & 1 ? 1.0f : -1.0f, i & 2 ? 1.0f : -1.0f, i & 4 ? 1.0f : -1.0f));
  const int quads[6][4] = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4}, {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}};
  for (const auto& q : quads) {
    for (int k : {q[0], q[1], q[2], q[0], q[2], q[3]})
      indexes->push_back(k);
  }
}

TEST_F(EdgesTest, CubeHasEighteenEdgesAndIsClosed) {
  std::vector<DrawVertex> verts;
  std::vector<int> indexes;
  cube(&verts, &indexes);
  SurfaceGeometry* g = make(verts, indexes);
  buildGeometryEdges(g);
  EXPECT_EQ(g->numIndexes / 3, 12);
  EXPECT_EQ(g->numEdges, 18);
  EXPECT_EQ(g->closed, 1);
  for (int e = 0; e < g->numEdges; e++) {
    EXPECT_NE(g->edges[e].tri1, -1) << e;
    EXPECT_NE(g->edges[e].tri0, g->edges[e].tri1) << e;
  }
  // Every side names its edge; a side running the edge backwards is the edge's second triangle.
  for (int i = 0; i < g->numIndexes; i++) {
    const int stored = g->edgeOfIndex[i];
    const GeometryEdge& e = g->edges[stored < 0 ? -stored : stored];
    const int tri = i / 3;
    const int a = g->indexes[i], b = g->indexes[tri * 3 + (i % 3 + 1) % 3];
    if (stored < 0 || (stored == 0 && e.tri1 == tri)) {
      EXPECT_EQ(e.tri1, tri);
      EXPECT_EQ(e.vert0, b);
      EXPECT_EQ(e.vert1, a);
    } else {
      EXPECT_EQ(e.tri0, tri);
      EXPECT_EQ(e.vert0, a);
      EXPECT_EQ(e.vert1, b);
    }
  }
  manager()->freeSurfaceGeometry(g);
}

TEST_F(EdgesTest, SplitCornersAreMatchedByPosition) {
  // The cube with a vertex of its own per triangle corner (as texture seams make them).
  std::vector<DrawVertex> shared;
  std::vector<int> sharedIndexes;
  cube(&shared, &sharedIndexes);
  std::vector<DrawVertex> verts;
  std::vector<int> indexes;
  for (int i : sharedIndexes) {
    indexes.push_back(int(verts.size()));
    verts.push_back(shared[size_t(i)]);
  }
  SurfaceGeometry* g = make(verts, indexes);
  buildGeometryEdges(g);
  EXPECT_EQ(g->numEdges, 18);
  EXPECT_EQ(g->closed, 1);
  manager()->freeSurfaceGeometry(g);
}

TEST_F(EdgesTest, OpenAndNonManifoldMeshes) {
  struct Case {
    const char* what;
    std::vector<int> indexes;
    int edges;
    int closed;
  };
  const Case cases[] = {
      {"one quad", {0, 1, 2, 0, 2, 3}, 5, 0},
      {"a lone triangle", {0, 1, 2}, 3, 0},
      {"two triangles wound alike share no edge", {0, 1, 2, 0, 1, 3}, 6, 0},
      {"a triangle and its back side close each other", {0, 1, 2, 2, 1, 0}, 3, 1},
      {"three triangles on one side: the third opens a new edge", {0, 1, 2, 1, 0, 3, 1, 0, 4}, 8, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<DrawVertex> verts = {vertexAt(0, 0, 0), vertexAt(1, 0, 0), vertexAt(1, 1, 0), vertexAt(0, 1, 0),
                                     vertexAt(0, 0, 1)};
    SurfaceGeometry* g = make(verts, c.indexes);
    buildGeometryEdges(g);
    EXPECT_EQ(g->numEdges, c.edges);
    EXPECT_EQ(g->closed, c.closed);
    GeometryEdge* first = g->edges;
    buildGeometryEdges(g);
    EXPECT_EQ(g->edges, first) << "edges are built once";
    manager()->freeSurfaceGeometry(g);
  }
}

// A random mesh over a small pool of positions with many repeats (the pool holds -0 and +0 and a
// NaN), and occasional degenerate triangles.
void randomMesh(std::mt19937& rng, std::vector<DrawVertex>* verts, std::vector<int>* indexes) {
  const float coords[] = {0.0f, -0.0f, 1.0f, 2.0f, -1.5f, std::numeric_limits<float>::quiet_NaN()};
  std::uniform_int_distribution<int> coord(0, 5), nverts(3, 60), ntris(1, 120);
  const int n = nverts(rng);
  for (int i = 0; i < n; i++) {
    const bool nan = coord(rng) == 0 && coord(rng) == 0;
    verts->push_back(vertexAt(coords[coord(rng) % 5], coords[coord(rng) % 5], nan ? coords[5] : coords[coord(rng) % 5]));
  }
  std::uniform_int_distribution<int> pick(0, n - 1);
  const int t = ntris(rng);
  for (int i = 0; i < t * 3; i++)
    indexes->push_back(pick(rng));
}

TEST_F(EdgesTest, HashedEdgesEqualThePairwiseSearch) {
  std::mt19937 rng(12345);
  for (int round = 0; round < 400; round++) {
    std::vector<DrawVertex> verts;
    std::vector<int> indexes;
    randomMesh(rng, &verts, &indexes);
    SurfaceGeometry* a = make(verts, indexes);
    SurfaceGeometry* b = make(verts, indexes);
    buildGeometryEdges(a);
    buildGeometryEdgesReference(b);
    ASSERT_EQ(a->numEdges, b->numEdges) << "round " << round;
    ASSERT_EQ(a->closed, b->closed) << "round " << round;
    for (int e = 0; e < a->numEdges; e++) {
      ASSERT_EQ(a->edges[e].tri0, b->edges[e].tri0) << round << " edge " << e;
      ASSERT_EQ(a->edges[e].tri1, b->edges[e].tri1) << round << " edge " << e;
      ASSERT_EQ(a->edges[e].vert0, b->edges[e].vert0) << round << " edge " << e;
      ASSERT_EQ(a->edges[e].vert1, b->edges[e].vert1) << round << " edge " << e;
    }
    for (int i = 0; i < a->numIndexes; i++)
      ASSERT_EQ(a->edgeOfIndex[i], b->edgeOfIndex[i]) << round << " index " << i;
    manager()->freeSurfaceGeometry(a);
    manager()->freeSurfaceGeometry(b);
  }
}

TEST_F(EdgesTest, WelderEqualsThePairwiseSearch) {
  std::mt19937 rng(777);
  std::uniform_real_distribution<float> jitter(-0.0012f, 0.0012f);
  std::uniform_int_distribution<int> base(0, 4);
  for (int round = 0; round < 200; round++) {
    PositionWelder welder(0.001f);
    std::vector<Vec3> kept;
    for (int i = 0; i < 80; i++) {
      Vec3 p(float(base(rng)) * 0.5f + jitter(rng), float(base(rng)) + jitter(rng), jitter(rng));
      if (i % 37 == 36)
        p.x = std::numeric_limits<float>::infinity();
      int expect = -1;
      for (size_t k = 0; k < kept.size() && expect < 0; k++) {
        if (kept[k].compare(p, 0.001f))
          expect = int(k);
      }
      bool added = false;
      const int got = welder.add(p, &added);
      if (expect < 0) {
        ASSERT_TRUE(added) << round << " point " << i;
        ASSERT_EQ(got, int(kept.size()));
        kept.push_back(p);
      } else {
        ASSERT_FALSE(added) << round << " point " << i;
        ASSERT_EQ(got, expect) << round << " point " << i;
      }
    }
    EXPECT_EQ(welder.count(), int(kept.size()));
  }
}

TEST_F(EdgesTest, CoplanarEdgesAreRemovedAndNumbersFollow) {
  // A flat quad (its diagonal is coplanar) folded onto a third triangle standing upright.
  std::vector<DrawVertex> verts = {vertexAt(0, 0, 0), vertexAt(1, 0, 0), vertexAt(1, 1, 0), vertexAt(0, 1, 0),
                                   vertexAt(1, 0, 1)};
  std::vector<int> indexes = {0, 1, 2, 0, 2, 3, 1, 0, 4};
  SurfaceGeometry* g = make(verts, indexes);
  deriveTrianglePlanes(g->verts, g->numVerts, g->indexes, g->numIndexes, g->planes);
  g->facetsValid = 1;
  buildGeometryEdges(g);
  ASSERT_EQ(g->numEdges, 7);
  removeCoplanarEdges(g);
  EXPECT_EQ(g->numEdges, 6) << "only the quad's diagonal goes; the fold and the open sides stay";
  for (int e = 0; e < g->numEdges; e++) {
    const GeometryEdge& edge = g->edges[e];
    const bool diagonal = (edge.vert0 == 0 && edge.vert1 == 2) || (edge.vert0 == 2 && edge.vert1 == 0);
    EXPECT_FALSE(diagonal);
  }
  for (int i = 0; i < g->numIndexes; i++) {
    const int e = std::abs(g->edgeOfIndex[i]);
    ASSERT_LT(e, g->numEdges) << "edge numbers stay inside the shortened array";
    const int tri = i / 3;
    const int a = g->indexes[i], b = g->indexes[tri * 3 + (i % 3 + 1) % 3];
    const bool isDiagonal = (a == 0 && b == 2) || (a == 2 && b == 0);
    if (!isDiagonal) {
      const GeometryEdge& edge = g->edges[e];
      EXPECT_TRUE((edge.vert0 == a && edge.vert1 == b) || (edge.vert0 == b && edge.vert1 == a)) << i;
    } else {
      EXPECT_EQ(g->edgeOfIndex[i], 0);
    }
  }
  manager()->freeSurfaceGeometry(g);
}

}  // namespace
