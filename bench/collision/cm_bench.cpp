// Box sweeps and ray traces per second through a 10,000-triangle terrain, against a reference
// physics library's convex sweep and ray test on the same triangles and the same segments; and
// translations and rotations of cylinders, cones and turned shapes against that library's convex
// sweeps of hulls with the very same corners.
// Run: cm_bench --benchmark_repetitions=9 --benchmark_enable_random_interleaving=true
//        --benchmark_report_aggregates_only=true, and compare the medians of each pair.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "collision/cmmanager.h"

#if QUILL_HAVE_BULLET
#include <btBulletCollisionCommon.h>
#endif

namespace {

constexpr int kGrid = 71;  // 70 x 70 cells... trimmed to 10,000 triangles below
constexpr int kTriangles = 10000;
constexpr float kCell = 16.0f;

struct Segment {
  Vec3 a, b;
};

struct Scene {
  std::vector<Vec3> triangles;  // three corners each
  std::vector<Segment> segments;
  CollisionManager cm;
  int model = -1;
#if QUILL_HAVE_BULLET
  btTriangleMesh* mesh = nullptr;
  btBvhTriangleMeshShape* shape = nullptr;
  btCollisionObject* object = nullptr;
  btDefaultCollisionConfiguration* config = nullptr;
  btCollisionDispatcher* dispatcher = nullptr;
  btDbvtBroadphase* broadphase = nullptr;
  btCollisionWorld* world = nullptr;
  btBoxShape* box = nullptr;
#endif

  Scene() {
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> bump(-6.0f, 6.0f);
    std::vector<float> height(kGrid * kGrid);
    for (int i = 0; i < kGrid * kGrid; i++)
      height[size_t(i)] =
          std::sin(float(i % kGrid) * 0.3f) * 20.0f + std::cos(float(i / kGrid) * 0.2f) * 20.0f + bump(rng);
    auto at = [&](int x, int y) {
      return Vec3(float(x) * kCell, float(y) * kCell, height[size_t(y * kGrid + x)]);
    };
    for (int y = 0; y + 1 < kGrid && int(triangles.size()) < kTriangles * 3; y++)
      for (int x = 0; x + 1 < kGrid && int(triangles.size()) < kTriangles * 3; x++) {
        triangles.insert(triangles.end(), {at(x, y), at(x + 1, y), at(x + 1, y + 1)});
        triangles.insert(triangles.end(), {at(x, y), at(x + 1, y + 1), at(x, y + 1)});
      }
    // One surface per triangle: the terrain is bumpy, nothing would merge anyway.
    std::vector<CollisionSurface> surfaces(triangles.size() / 3);
    List<CollisionSurface*> list;
    for (size_t t = 0; t < surfaces.size(); t++) {
      CollisionSurface& s = surfaces[t];
      s.kind = 0;
      s.material = cm::materials().find("terrain");
      for (int k = 0; k < 3; k++) {
        DrawVertex d{};
        const Vec3& p = triangles[t * 3 + size_t(k)];
        d.xyz[0] = p.x;
        d.xyz[1] = p.y;
        d.xyz[2] = p.z;
        s.vertices.append(d);
        s.indexes.append(k);
      }
      list.append(&s);
    }
    model = cm.createModel("terrain", list);
    // Segments from above the terrain down through it at a slant, about 150 units long.
    const float extent = float(kGrid - 1) * kCell;
    std::uniform_real_distribution<float> across(40.0f, extent - 40.0f), off(-60.0f, 60.0f);
    for (int i = 0; i < 4096; i++) {
      const Vec3 a(across(rng), across(rng), 90.0f);
      segments.push_back({a, a + Vec3(off(rng), off(rng), -140.0f)});
    }
#if QUILL_HAVE_BULLET
    mesh = new btTriangleMesh();
    for (size_t t = 0; t < triangles.size(); t += 3)
      mesh->addTriangle(btVector3(triangles[t].x, triangles[t].y, triangles[t].z),
                        btVector3(triangles[t + 1].x, triangles[t + 1].y, triangles[t + 1].z),
                        btVector3(triangles[t + 2].x, triangles[t + 2].y, triangles[t + 2].z));
    shape = new btBvhTriangleMeshShape(mesh, true);
    object = new btCollisionObject();
    object->setCollisionShape(shape);
    config = new btDefaultCollisionConfiguration();
    dispatcher = new btCollisionDispatcher(config);
    broadphase = new btDbvtBroadphase();
    world = new btCollisionWorld(dispatcher, broadphase, config);
    world->addCollisionObject(object);
    world->updateAabbs();
    box = new btBoxShape(btVector3(4, 4, 4));
#endif
  }
};

Scene& scene() {
  static Scene* s = new Scene;
  return *s;
}

const TraceModel& boxTrm() {
  static const TraceModel t = [] {
    TraceModel b;
    b.setupBox(Bounds(Vec3(-4, -4, -4), Vec3(4, 4, 4)));
    return b;
  }();
  return t;
}

// Runs `trace` (true on a hit) on each segment in turn: the loop every benchmark here measures.
template <typename Trace>
void traceSegments(benchmark::State& state, const char* rate, Trace trace) {
  const Scene& s = scene();
  size_t i = 0;
  int hits = 0;
  for (auto _ : state)
    hits += trace(s.segments[i++ & 4095]);
  state.counters[rate] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["hit%"] = 100.0 * hits / double(state.iterations());
}

// Our translation of `trm` (a ray when null) along each segment through the terrain.
void quillTranslations(benchmark::State& state, const char* rate, const TraceModel* trm) {
  Scene& s = scene();
  const Mat3 id = Mat3::identity();
  TraceResult r;
  traceSegments(state, rate, [&](const Segment& seg) {
    s.cm.translation(&r, seg.a, seg.b, trm, id, -1, s.model, Vec3(), id);
    return r.fraction < 1.0f;
  });
}

void BM_QuillBoxSweep(benchmark::State& state) {
  quillTranslations(state, "sweeps/s", &boxTrm());
}

void BM_QuillRay(benchmark::State& state) {
  quillTranslations(state, "rays/s", nullptr);
}

#if QUILL_HAVE_BULLET
// The library's sweep of `shape` along each segment, unturned.
void bulletSweeps(benchmark::State& state, const btConvexShape* shape) {
  Scene& s = scene();
  traceSegments(state, "sweeps/s", [&](const Segment& seg) {
    const btVector3 a(seg.a.x, seg.a.y, seg.a.z), b(seg.b.x, seg.b.y, seg.b.z);
    btCollisionWorld::ClosestConvexResultCallback cb(a, b);
    btTransform from, to;
    from.setIdentity();
    to.setIdentity();
    from.setOrigin(a);
    to.setOrigin(b);
    s.world->convexSweepTest(shape, from, to, cb);
    return cb.hasHit();
  });
}

void BM_BulletBoxSweep(benchmark::State& state) {
  bulletSweeps(state, scene().box);
}

void BM_BulletRay(benchmark::State& state) {
  Scene& s = scene();
  traceSegments(state, "rays/s", [&](const Segment& seg) {
    const btVector3 a(seg.a.x, seg.a.y, seg.a.z), b(seg.b.x, seg.b.y, seg.b.z);
    btCollisionWorld::ClosestRayResultCallback cb(a, b);
    s.world->rayTest(a, b, cb);
    return cb.hasHit();
  });
}
BENCHMARK(BM_BulletBoxSweep);
BENCHMARK(BM_BulletRay);
#endif

BENCHMARK(BM_QuillBoxSweep);
BENCHMARK(BM_QuillRay);

// ---- Trace models of each kind, moved and turned

// The shapes, by the benchmark's argument: an 8-sided cylinder, an 8-sided cone, a 10-sided
// cylinder, and the 8-sided cylinder lying on its side (a turned, general convex solid).
constexpr int kShapes = 4;
const char* const kShapeNames[kShapes] = {"cylinder8", "cone8", "cylinder10", "turned cylinder8"};

const TraceModel& shapeTrm(int kind) {
  static const std::vector<TraceModel> shapes = [] {
    std::vector<TraceModel> out(kShapes);
    const Bounds b(Vec3(-6, -6, -10), Vec3(6, 6, 10));
    out[0].setupCylinder(b, 8);
    out[1].setupCone(b, 8);
    out[2].setupCylinder(b, 10);
    out[3].setupCylinder(b, 8);
    out[3].rotate(Angles(90, 0, 0).toMat3());
    return out;
  }();
  return shapes[size_t(kind)];
}

// The turn of the rotation benchmarks: a quarter turn about a horizontal axis, in place.
Rotation quarterTurn(const Vec3& at) {
  return Rotation(at, Vec3(0, 1, 0), 90.0f);
}

// Where the shapes turn: the segments' midpoints, a third of them close enough to the terrain to
// touch it during the turn.
Vec3 turnPoint(const Segment& seg) {
  return (seg.a + seg.b) * 0.5f;
}

void BM_QuillTrmTranslation(benchmark::State& state) {
  state.SetLabel(kShapeNames[state.range(0)]);
  quillTranslations(state, "sweeps/s", &shapeTrm(int(state.range(0))));
}

void BM_QuillTrmRotation(benchmark::State& state) {
  Scene& s = scene();
  const TraceModel& trm = shapeTrm(int(state.range(0)));
  const Mat3 id = Mat3::identity();
  TraceResult r;
  state.SetLabel(kShapeNames[state.range(0)]);
  traceSegments(state, "turns/s", [&](const Segment& seg) {
    const Vec3 at = turnPoint(seg);
    s.cm.rotation(&r, at, quarterTurn(at), &trm, id, -1, s.model, Vec3(), id);
    return r.fraction < 1.0f;
  });
}

BENCHMARK(BM_QuillTrmTranslation)->DenseRange(0, kShapes - 1);
BENCHMARK(BM_QuillTrmRotation)->DenseRange(0, kShapes - 1);

#if QUILL_HAVE_BULLET
// The same corners as a hull (no margin, so the shapes match).
btConvexHullShape* hullOf(int kind) {
  static std::vector<btConvexHullShape*> hulls(kShapes, nullptr);
  btConvexHullShape*& hull = hulls[size_t(kind)];
  if (!hull) {
    const TraceModel& trm = shapeTrm(kind);
    hull = new btConvexHullShape();
    for (int v = 0; v < trm.numVerts; v++)
      hull->addPoint(btVector3(trm.verts[v].x, trm.verts[v].y, trm.verts[v].z), false);
    hull->recalcLocalAabb();
    hull->setMargin(0.0f);
  }
  return hull;
}

void BM_BulletHullSweep(benchmark::State& state) {
  state.SetLabel(kShapeNames[state.range(0)]);
  bulletSweeps(state, hullOf(int(state.range(0))));
}

// The quarter turn as the library sweeps it: from the unturned to the turned transform in place.
void BM_BulletHullTurn(benchmark::State& state) {
  Scene& s = scene();
  btConvexHullShape* hull = hullOf(int(state.range(0)));
  const btQuaternion turned(btVector3(0, 1, 0), btScalar(M_PI / 2));
  state.SetLabel(kShapeNames[state.range(0)]);
  traceSegments(state, "turns/s", [&](const Segment& seg) {
    const Vec3 at = turnPoint(seg);
    const btVector3 p(at.x, at.y, at.z);
    btCollisionWorld::ClosestConvexResultCallback cb(p, p);
    btTransform from, to;
    from.setIdentity();
    from.setOrigin(p);
    to.setOrigin(p);
    to.setRotation(turned);
    s.world->convexSweepTest(hull, from, to, cb);
    return cb.hasHit();
  });
}

BENCHMARK(BM_BulletHullSweep)->DenseRange(0, kShapes - 1);
BENCHMARK(BM_BulletHullTurn)->DenseRange(0, kShapes - 1);
#endif

}  // namespace
