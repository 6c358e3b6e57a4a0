// Builders: model 1 from a trace model, models from surfaces the game module hands in and from
// render models, trace models from models; and the manager's creation through its factory.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "cmtest.h"
#include "lib/interface/managerfactory.h"

namespace {

using cmtest::v;

// A render model of hand-made surfaces.
struct FakeSurface {
  Material* material = nullptr;
  std::vector<DrawVertex> vertices;
  std::vector<int> indexes;
  std::vector<Plane> planes;
};

struct FakeRenderModel {
  bool isDefault = false;
  bool world = false;
  Bounds bounds;
  std::vector<FakeSurface> surfaces;
};

class FakeRenderModels : public CollisionRenderModels {
 public:
  FakeRenderModels() : previous_(g_collisionRenderModels) { g_collisionRenderModels = this; }
  ~FakeRenderModels() override { g_collisionRenderModels = previous_; }
  bool isKnown(const char* name) override { return models.count(name) != 0; }
  const void* load(const char* name) override {
    auto it = models.find(name);
    return it == models.end() ? &defaultModel : &it->second;
  }
  bool isDefault(const void* m) override { return static_cast<const FakeRenderModel*>(m)->isDefault; }
  bool isWorldModel(const void* m) override { return static_cast<const FakeRenderModel*>(m)->world; }
  int numSurfaces(const void* m) override {
    return int(static_cast<const FakeRenderModel*>(m)->surfaces.size());
  }
  bool surface(const void* m, int i, CollisionRenderSurface& out) override {
    const FakeSurface& s = static_cast<const FakeRenderModel*>(m)->surfaces[size_t(i)];
    out.material = s.material;
    out.vertices = s.vertices.data();
    out.numVertices = int(s.vertices.size());
    out.indexes = s.indexes.data();
    out.numIndexes = int(s.indexes.size());
    out.facePlanes = s.planes.data();
    return true;
  }
  Bounds bounds(const void* m) override { return static_cast<const FakeRenderModel*>(m)->bounds; }

  std::map<std::string, FakeRenderModel> models;
  FakeRenderModel defaultModel{true, false, Bounds(v(-8, -8, -8), v(8, 8, 8)), {}};

 private:
  CollisionRenderModels* previous_;
};

DrawVertex vertex(const Vec3& p) {
  DrawVertex d{};
  d.xyz[0] = p.x;
  d.xyz[1] = p.y;
  d.xyz[2] = p.z;
  return d;
}

// The faces of a trace model as triangles (with their planes), for surfaces of any convex shape.
FakeSurface surfaceOf(const TraceModel& t, Material* material) {
  FakeSurface s;
  s.material = material;
  for (int f = 0; f < t.numPolys; f++) {
    ConvexPolygon p;
    t.getPolygon(f, p);
    const int first = int(s.vertices.size());
    for (int k = 0; k < p.numPoints; k++)
      s.vertices.push_back(vertex(p[k]));
    for (int k = 1; k + 1 < p.numPoints; k++) {
      s.indexes.insert(s.indexes.end(), {first, first + k, first + k + 1});
      s.planes.push_back(t.polys[f].plane);
    }
  }
  return s;
}

// A ball of many face directions: more than 16 distinct normals.
FakeSurface ballSurface(Material* material) {
  FakeSurface s;
  s.material = material;
  const int rings = 6, segments = 10;
  for (int r = 0; r <= rings; r++)
    for (int k = 0; k < segments; k++) {
      const float a = 3.14159265f * float(r) / float(rings), b = 6.2831853f * float(k) / float(segments);
      s.vertices.push_back(
          vertex(v(std::sin(a) * std::cos(b) * 10, std::sin(a) * std::sin(b) * 10, std::cos(a) * 10)));
    }
  for (int r = 0; r < rings; r++)
    for (int k = 0; k < segments; k++) {
      const int a = r * segments + k, b = r * segments + (k + 1) % segments;
      const int c = a + segments, d = b + segments;
      s.indexes.insert(s.indexes.end(), {a, c, d, a, d, b});
      for (int t = 0; t < 2; t++) {
        const int* tri = &s.indexes[s.indexes.size() - 6 + size_t(t) * 3];
        ConvexPolygon p;
        p.numPoints = 3;
        for (int q = 0; q < 3; q++) {
          const DrawVertex& dv = s.vertices[size_t(tri[q])];
          p.points[q] = v(dv.xyz[0], dv.xyz[1], dv.xyz[2]);
        }
        s.planes.push_back(p.plane());
      }
    }
  return s;
}

class Builders : public ::testing::Test {
 protected:
  cmtest::FakeMaterials materials;
  CollisionManager cm;
};

TEST_F(Builders, SetTraceModelRebuildsModelOne) {
  materials.define("_tracemodel", 0x20);
  // With fewer than two models, empty ones are appended until index 1 exists.
  EXPECT_EQ(cm.setTraceModel(cmtest::box(4.0f), nullptr), 1);
  ASSERT_EQ(cm.numModels(), 2);
  const cmModel_t& m = *cm.model(1);
  EXPECT_STREQ(m.name.c_str(), "2");
  EXPECT_EQ(m.contents, 0x20);
  ASSERT_EQ(m.brushes.num(), 1);
  EXPECT_EQ(m.brushes[0]->trm.type, kTrmConvex);
  EXPECT_EQ(m.brushes[0]->trm.bounds, Bounds(v(-5, -5, -5), v(5, 5, 5)));
  ASSERT_EQ(m.leafs.num(), 2);
  EXPECT_EQ(m.leafs[0].shapes.num(), 1);
  EXPECT_EQ(m.leafs[1].shapes.num(), 1);
  // A second call replaces the contents; the model's material is the one given.
  Material* water = materials.find("water");
  materials.define("water", 0x4);
  TraceModel cyl;
  cyl.setupCylinder(Bounds(v(-4, -4, -8), v(4, 4, 8)), 8);
  cm.setTraceModel(cyl, water);
  EXPECT_STREQ(cm.model(1)->name.c_str(), "3");
  EXPECT_EQ(cm.model(1)->contents, 0x4);
  EXPECT_EQ(cm.model(1)->brushes.num(), 1);
  // And it stops a sweep like any brush.
  TraceResult r;
  cm.translation(&r, v(-100, 0, 0), v(100, 0, 0), nullptr, Mat3::identity(), -1, 1, Vec3(), Mat3::identity());
  EXPECT_LT(r.fraction, 1.0f);
}

TEST_F(Builders, CreateModel) {
  Material* solid = materials.find("solid");
  // Two coplanar triangles forming a square become one polygon of four points.
  CollisionSurface square;
  square.kind = 0;
  square.material = solid;
  for (const Vec3& p : {v(0, 0, 0), v(10, 0, 0), v(10, 10, 0), v(0, 10, 0)})
    square.vertices.append(vertex(p));
  for (int i : {0, 1, 2, 0, 2, 3})
    square.indexes.append(i);
  CollisionSurface ignored;
  ignored.kind = 7;
  List<CollisionSurface*> list;
  list.append(&square);
  list.append(&ignored);
  const int index = cm.createModel("square", list);
  ASSERT_EQ(index, 0);
  const cmModel_t& m = *cm.model(0);
  ASSERT_EQ(m.polygons.num(), 1);
  EXPECT_EQ(m.polygons[0]->winding.numPoints, 4);
  EXPECT_EQ(m.polygons[0]->plane.normal(), v(0, 0, 1));
  EXPECT_EQ(m.bounds, Bounds(v(0, 0, 0), v(10, 10, 0)));
  // Known names answer minus their index, without touching the list; bad calls -1.
  List<CollisionSurface*> again;
  again.append(&square);
  EXPECT_EQ(cm.createModel("SQUARE", again), 0);
  EXPECT_EQ(cm.createModel(nullptr, again), -1);
  EXPECT_EQ(cm.createModel("nothing", List<CollisionSurface*>()), -1);
  cmtest::loadText(cm, cmtest::kBoxModel, "box");
  cmtest::loadText(cm, cmtest::brushModel("b2", {Bounds(v(0, 0, 0), v(1, 1, 1))}).c_str(), "b2");
  cmtest::loadText(cm, cmtest::brushModel("b3", {Bounds(v(0, 0, 0), v(1, 1, 1))}).c_str(), "b3");
  EXPECT_EQ(cm.createModel("b3", again), -3);
  EXPECT_EQ(cm.numModels(), 4);
}

TEST_F(Builders, CreateModelSkipsTrianglesWithCornersOutsideTheVertices) {
  // The square of CreateModel with triangles naming vertices it does not have, before, between
  // and after its own: they are left out, the square's polygon is as it was.
  CollisionSurface square;
  square.kind = 0;
  square.material = materials.find("solid");
  for (const Vec3& p : {v(0, 0, 0), v(10, 0, 0), v(10, 10, 0), v(0, 10, 0)})
    square.vertices.append(vertex(p));
  for (int i : {-1, 1, 2, 0, 1, 2, 0, 4, 2, 0, 2, 3, 0, 2, 1000})
    square.indexes.append(i);
  List<CollisionSurface*> list;
  list.append(&square);
  const cmModel_t& m = *cm.model(cm.createModel("square", list));
  ASSERT_EQ(m.polygons.num(), 1);
  EXPECT_EQ(m.polygons[0]->winding.numPoints, 4);
  EXPECT_EQ(m.bounds, Bounds(v(0, 0, 0), v(10, 10, 0)));
}

TEST_F(Builders, CreateModelBrushFromPlanesHasEdgeNormals) {
  CollisionSurface brush;
  brush.kind = 3;
  brush.material = materials.find("solid");
  const Bounds b(v(-8, -8, -8), v(8, 8, 8));
  Plane planes[6];
  b.toPlanes(planes);
  for (const Plane& p : planes)
    brush.planes.append(p);
  List<CollisionSurface*> list;
  list.append(&brush);
  const int index = cm.createModel("brush", list);
  const cmModel_t& m = *cm.model(index);
  ASSERT_EQ(m.brushes.num(), 1);
  const TraceModel& t = m.brushes[0]->trm;
  EXPECT_EQ(t.numPolys, 6);
  EXPECT_EQ(t.bounds, b);
  for (int e = 1; e <= t.numEdges; e++)
    EXPECT_NEAR(t.edges[e].normal.length(), std::sqrt(2.0f), 1e-4f) << e;
  for (int f = 0; f < t.numPolys; f++)
    EXPECT_FALSE(t.polys[f].bounds.isCleared());
}

TEST_F(Builders, ModelFromRenderModel) {
  FakeRenderModels render;
  Material* clip = materials.find("clip");
  materials.define("clip", kContentsPlayerClip, 0, kSurfaceFlagCollision);
  Material* visual = materials.find("visual");
  materials.define("visual", 0);
  FakeRenderModel& crate = render.models["models/crate"];
  crate.bounds = Bounds(v(-8, -8, 0), v(8, 8, 16));
  TraceModel box;
  box.setupBox(crate.bounds);
  crate.surfaces.push_back(surfaceOf(box, visual));
  crate.surfaces.push_back(surfaceOf(box, clip));
  FakeRenderModel& ball = render.models["models/ball"];
  ball.bounds = Bounds(v(-10, -10, -10), v(10, 10, 10));
  ball.surfaces.push_back(ballSurface(clip));
  render.models["models/default"].isDefault = true;

  const int index = cm.findOrLoadModel("models/crate");
  ASSERT_EQ(index, 0);
  const cmModel_t& m = *cm.model(index);
  ASSERT_EQ(m.brushes.num(), 1);
  EXPECT_EQ(m.brushes[0]->trm.numPolys, 6);
  EXPECT_EQ(m.brushes[0]->trm.type, 0);
  EXPECT_EQ(m.contents, kContentsPlayerClip);
  EXPECT_TRUE(m.bounds.mins.compare(crate.bounds.mins, 1e-4f));
  // More than 16 face directions: no brush, so no model, and the list is as it was.
  EXPECT_EQ(cm.findOrLoadModel("models/ball"), 0);
  EXPECT_EQ(cm.findOrLoadModel("models/default"), 0);
  EXPECT_EQ(cm.findOrLoadModel("models/unknown"), 0);
  EXPECT_EQ(cm.numModels(), 1);
  // A box made this way stops a point like the file's box does.
  TraceResult r;
  cm.translation(&r, v(-100, 0, 8), v(100, 0, 8), nullptr, Mat3::identity(), -1, index, Vec3(),
                 Mat3::identity());
  EXPECT_NEAR(r.fraction, (92.0f - 0.125f) / 200.0f, 1e-5f);
}

TEST_F(Builders, RefusedBrushGivesItsCheckIndexBack) {
  FakeRenderModels render;
  Material* clip = materials.find("clip");
  materials.define("clip", kContentsSolid, 0, kSurfaceFlagCollision);
  // A 16-sided prism has 18 faces: the trace model refuses the 17th, so that surface makes no
  // brush; the box after it must get check index 0, not 1.
  FakeRenderModel& pair = render.models["pair"];
  TraceModel prism;
  prism.clear(kTrmConvex);
  {
    FakeSurface s;
    s.material = clip;
    const int n = 16;
    std::vector<Vec3> top, bottom;
    for (int i = 0; i < n; i++) {
      const float a = 6.2831853f * float(i) / float(n);
      top.push_back(v(std::cos(a) * 10, std::sin(a) * 10, 10));
      bottom.push_back(v(std::cos(a) * 10, std::sin(a) * 10, -10));
    }
    auto tri = [&](const Vec3& a, const Vec3& b, const Vec3& c) {
      const int first = int(s.vertices.size());
      s.vertices.push_back(vertex(a));
      s.vertices.push_back(vertex(b));
      s.vertices.push_back(vertex(c));
      s.indexes.insert(s.indexes.end(), {first, first + 1, first + 2});
      ConvexPolygon p;
      p.numPoints = 3;
      p.points[0] = a;
      p.points[1] = b;
      p.points[2] = c;
      s.planes.push_back(p.plane());
    };
    for (int i = 0; i < n; i++) {
      const int j = (i + 1) % n;
      tri(top[size_t(i)], bottom[size_t(i)], bottom[size_t(j)]);
      tri(top[size_t(i)], bottom[size_t(j)], top[size_t(j)]);
    }
    pair.surfaces.push_back(s);
  }
  pair.surfaces.push_back(surfaceOf(cmtest::box(4.0f), clip));
  pair.bounds = Bounds(v(-10, -10, -10), v(10, 10, 10));
  const int index = cm.findOrLoadModel("pair");
  ASSERT_EQ(index, 0);
  const cmModel_t& m = *cm.model(index);
  ASSERT_EQ(m.brushes.num(), 1);
  EXPECT_EQ(m.brushes[0]->checkIndex, 0);
  EXPECT_EQ(m.checkCounter, 1);
}

TEST_F(Builders, TraceModelFromModel) {
  FakeRenderModels render;
  Material* clip = materials.find("clip");
  materials.define("clip", kContentsSolid);
  // A collision model with a brush (not at index 0) gives its first brush.
  cmtest::loadText(cm,
                   "!CM collisionModel \"worldMap\" { nodes { 1 0 0 1 0 -1 -2 } polygons { 1 3 0 0 0 1 0 0 0 "
                   "1 0 \"x\" } }",
                   "worldMap");
  cmtest::loadText(cm, cmtest::kBoxModel, "box");
  TraceModel t;
  ASSERT_TRUE(cm.traceModelFromModel("box", t));
  EXPECT_EQ(t.type, kTrmConvex);
  EXPECT_EQ(t.numPolys, 6);
  EXPECT_EQ(t.offset, Vec3());
  // A render model whose collision surface is a wedge: its own planes.
  FakeRenderModel& wedge = render.models["wedge"];
  TraceModel w;
  w.setupCone(Bounds(v(-8, -8, 0), v(8, 8, 16)), 4);
  wedge.surfaces.push_back(surfaceOf(w, clip));
  wedge.bounds = w.bounds;
  ASSERT_TRUE(cm.traceModelFromModel("wedge", t));
  EXPECT_EQ(t.type, kTrmConvex);
  EXPECT_EQ(t.numPolys, 5);  // face normals are snapped to eighths, so the sides lean a little
  EXPECT_GT(t.bounds.maxs.z, 8.0f);
  // A box surface of up to 128 triangles gives its own six planes; one of 129 is never chosen,
  // and the fixed directions only touch the box's corners, so the bounds box stands in.
  for (int triangles : {128, 129}) {
    FakeRenderModel& crate = render.models["crate" + std::to_string(triangles)];
    FakeSurface s = surfaceOf(cmtest::box(8.0f), clip);
    const size_t base = s.indexes.size();
    while (s.indexes.size() < size_t(triangles) * 3)
      s.indexes.push_back(s.indexes[s.indexes.size() % base]);
    s.planes.resize(size_t(triangles), s.planes[0]);
    crate.surfaces.push_back(s);
    crate.bounds = Bounds(v(-9, -9, -9), v(9, 9, 9));
    ASSERT_TRUE(cm.traceModelFromModel(("crate" + std::to_string(triangles)).c_str(), t));
    SCOPED_TRACE(triangles);
    EXPECT_EQ(t.type, triangles == 128 ? kTrmConvex : kTrmBox);
    EXPECT_EQ(t.numPolys, 6);
    EXPECT_EQ(t.bounds, triangles == 128 ? Bounds(v(-8, -8, -8), v(8, 8, 8)) : crate.bounds);
  }
  // No usable surface at all: the box of the render model's bounds.
  ASSERT_TRUE(cm.traceModelFromModel("missing", t));
  EXPECT_EQ(t.type, kTrmBox);
  EXPECT_EQ(t.bounds, render.defaultModel.bounds);
}

TEST(CollisionManagerLife, FactoryCreatesAndDestroysTheOneManager) {
  ASSERT_NE(g_managerFactories[kManagerCollision].create, nullptr);
  ASSERT_TRUE(g_managerFactories[kManagerCollision].create());
  ASSERT_NE(g_collisionManager, nullptr);
  EXPECT_EQ(g_collisionSystem, static_cast<CollisionSystem*>(g_collisionManager));
  CollisionManager* first = g_collisionManager;
  createCollisionSystem();
  EXPECT_EQ(g_collisionManager, first);
  g_collisionSystem->freeModels();
  g_managerFactories[kManagerCollision].destroy();
  EXPECT_EQ(g_collisionManager, nullptr);
  EXPECT_EQ(g_collisionSystem, nullptr);
  destroyCollisionSystem();
}

}  // namespace
