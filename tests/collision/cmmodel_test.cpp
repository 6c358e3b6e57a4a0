// Model records and the tree: classification against node planes, subdivision thresholds, brushes
// under the root, bounds, and the planes and edges a polygon presents to the queries.
#include <gtest/gtest.h>

#include "cmtest.h"

namespace {

using cmtest::v;

CollisionPolygon* addPolygon(cmModel_t& m, std::initializer_list<Vec3> points) {
  CollisionPolygon* p = new CollisionPolygon;
  p->checkIndex = m.checkCounter++;
  p->material = cm::materials().find("solid");
  for (const Vec3& q : points)
    p->winding.points[p->winding.numPoints++] = q;
  p->winding.getBounds(p->bounds);
  p->winding.computePlane(p->plane);
  m.polygons.append(p);
  return p;
}

// Leaves whose shape lists hold the primitive.
std::vector<int> leavesOf(const cmModel_t& m, const void* primitive) {
  std::vector<int> out;
  for (int l = 0; l < m.leafs.num(); l++)
    for (int s = 0; s < m.leafs[l].shapes.num(); s++)
      if (m.leafs[l].shapes[s].data == primitive)
        out.push_back(l);
  return out;
}

TEST(CollisionTree, PolygonInANodePlaneGoesByItsFacing) {
  cmtest::FakeMaterials materials;
  cmModel_t m;
  // Upward square in the root's plane (the top of the box) and the same square facing down.
  CollisionPolygon* up = addPolygon(m, {v(0, 0, 10), v(10, 0, 10), v(10, 10, 10), v(0, 10, 10)});
  CollisionPolygon* down = addPolygon(m, {v(0, 10, 10), v(10, 10, 10), v(10, 0, 10), v(0, 0, 10)});
  buildRootNode(m, Bounds(v(0, 0, 0), v(10, 10, 10)));
  ASSERT_EQ(m.leafs.num(), 2);
  for (CollisionPolygon* p : {up, down})
    m.insertPolygon(0, p, p->winding, 0);
  EXPECT_EQ(leavesOf(m, up), std::vector<int>{0});
  EXPECT_EQ(leavesOf(m, down), std::vector<int>{1});
}

TEST(CollisionTree, SubdivisionThresholds) {
  cmtest::FakeMaterials materials;
  struct {
    const char* what;
    float half;  // half extent of the model box on x (y and z 32)
    int polygons;
    bool split;  // the root's back child became a node
  } cases[] = {
      {"small box, 39 polygons", 32.0f, 39, false},
      {"small box, 40 polygons", 32.0f, 40, true},
      {"large box, 19 polygons", 33.0f, 19, false},
      {"large box, 20 polygons", 33.0f, 20, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    cmModel_t m;
    for (int i = 0; i < c.polygons; i++) {
      const float y = -30.0f + float(i) * 0.5f;
      addPolygon(m, {v(-10, y, -10), v(10, y, -10), v(10, y, 10)});
    }
    buildRootNode(m, Bounds(v(-c.half, -32, -32), v(c.half, 32, 32)));
    EXPECT_EQ(m.nodes[0].children[1] > 0, c.split);
    if (c.split) {
      const CollisionNode& node = m.nodes[size_t(m.nodes[0].children[1])];
      // The largest half extent is x's (ties go to x): the node splits x at the centre.
      EXPECT_EQ(node.axial, 0);
      EXPECT_EQ(node.normal, v(1, 0, 0));
      EXPECT_EQ(node.dist, 0.0f);
    }
  }
  // Depth limits: 40 polygons in a small box stop splitting at depth 4.
  cmModel_t deep;
  for (int i = 0; i < 400; i++)
    addPolygon(deep, {v(-1, -1, float(i) * 0.01f), v(1, -1, float(i) * 0.01f), v(0, 1, float(i) * 0.01f)});
  buildRootNode(deep, Bounds(v(-32, -32, -32), v(32, 32, 32)));
  EXPECT_LE(deep.nodes.num(), 1 + 2 + 4 + 8 + 16);
}

TEST(CollisionTree, BrushesUnderTheRoot) {
  cmtest::FakeMaterials materials;
  cmModel_t m;
  CollisionBrush* low = new CollisionBrush;
  low->checkIndex = 0;
  low->trm.setupBox(Bounds(v(-4, -4, -8), v(4, 4, 0)));
  CollisionBrush* tall = new CollisionBrush;
  tall->checkIndex = 1;
  tall->trm.setupBox(Bounds(v(-4, -4, -8), v(4, 4, 20)));
  m.brushes.append(low);
  m.brushes.append(tall);
  buildRootNode(m, Bounds(v(-10, -10, -10), v(10, 10, 10)));
  ASSERT_EQ(m.nodes.num(), 1);
  ASSERT_EQ(m.leafs.num(), 2);
  for (CollisionBrush* b : {low, tall})
    m.insertBrush(0, b, b->trm, 0);
  EXPECT_EQ(leavesOf(m, low), std::vector<int>{1});
  EXPECT_EQ(leavesOf(m, tall), (std::vector<int>{0, 1}));
  m.computeBounds(0);
  EXPECT_EQ(m.bounds, Bounds(v(-4, -4, -8), v(4, 4, 20)));
  cmModel_t none;
  EXPECT_TRUE(none.computeBounds(0).isCleared());
  EXPECT_TRUE(none.bounds.isCleared());
}

TEST(CollisionTree, PolygonPlanesAndEdges) {
  cmtest::FakeMaterials materials;
  cmModel_t m;
  CollisionPolygon* p = addPolygon(m, {v(0, 0, 0), v(10, 0, 0), v(10, 10, 0), v(0, 10, 0)});
  ClipShape s;
  s.setPolygon(p);
  EXPECT_EQ(s.numPlanes(), 6);
  EXPECT_EQ(s.numEdges(), 5);
  EXPECT_EQ(s.edgeVector(4), v(0, 0, 1));
  EXPECT_EQ(s.edgeVector(0), v(10, 0, 0));
  Plane pl;
  s.getPlane(1, pl);
  EXPECT_EQ(pl, Plane(v(0, 0, -1), 0));
  // Edge planes face outwards, exactly axial here.
  const Plane expected[4] = {Plane(v(0, -1, 0), 0), Plane(v(1, 0, 0), 10), Plane(v(0, 1, 0), 10),
                             Plane(v(-1, 0, 0), 0)};
  for (int e = 0; e < 4; e++) {
    s.getPlane(e + 2, pl);
    EXPECT_EQ(pl.normal(), expected[e].normal()) << e;
    EXPECT_FLOAT_EQ(pl.d, expected[e].d) << e;
  }
  ClipShape none;
  Plane untouched(1, 2, 3, 4);
  none.getPlane(0, untouched);
  EXPECT_EQ(untouched, Plane(1, 2, 3, 4));
  EXPECT_EQ(none.numPlanes(), 0);
  EXPECT_TRUE(none.getBounds().isCleared());
}

TEST(CollisionTree, PrimitiveInSeveralLeavesIsTestedOnce) {
  cmtest::FakeMaterials materials;
  CollisionManager cm;
  // A floor crossing the node planes x = 0 and y = 0 is referenced from four leaves.
  const int index = cmtest::loadText(
      cm,
      "!CM collisionModel \"cross\" { nodes { 4 0 0 1 64 -1 1  1 0 0 0 2 3  0 1 0 0 -2 -3  0 1 0 0 -4 -5 }\n"
      "polygons { 1 4 -10 -10 0 10 -10 0 10 10 0 -10 10 0 \"x\" } }",
      "cross");
  const cmModel_t& m = *cm.model(index);
  EXPECT_EQ(leavesOf(m, m.polygons[0]).size(), 4u);
  EXPECT_EQ(m.polygons.num(), 1);
  auto* q = static_cast<CollisionModelTraceModelQuery*>(cm.allocQuery(kTrmBox));
  const float still[6] = {0, 0, 0, 0, 0, 0};
  const TraceModel box = cmtest::box(12.0f);
  EXPECT_EQ(q->gatherPrimitives(Vec3(), still, &box, Mat3::identity(), -1, cm.model(index), Vec3(),
                                Mat3::identity()),
            1);
  cm.freeQuery(q);
}

}  // namespace
