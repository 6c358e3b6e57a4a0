// Box sweeps and ray traces per second through a 10,000-triangle terrain, against a reference
// physics library's convex sweep and ray test on the same triangles and the same segments.
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

void BM_QuillBoxSweep(benchmark::State& state) {
  Scene& s = scene();
  const Mat3 id = Mat3::identity();
  size_t i = 0;
  int hits = 0;
  TraceResult r;
  for (auto _ : state) {
    const Segment& seg = s.segments[i++ & 4095];
    s.cm.translation(&r, seg.a, seg.b, &boxTrm(), id, -1, s.model, Vec3(), id);
    hits += r.fraction < 1.0f;
  }
  state.counters["sweeps/s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["hit%"] = 100.0 * hits / double(state.iterations());
}

void BM_QuillRay(benchmark::State& state) {
  Scene& s = scene();
  const Mat3 id = Mat3::identity();
  size_t i = 0;
  int hits = 0;
  TraceResult r;
  for (auto _ : state) {
    const Segment& seg = s.segments[i++ & 4095];
    s.cm.translation(&r, seg.a, seg.b, nullptr, id, -1, s.model, Vec3(), id);
    hits += r.fraction < 1.0f;
  }
  state.counters["rays/s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["hit%"] = 100.0 * hits / double(state.iterations());
}

#if QUILL_HAVE_BULLET
void BM_BulletBoxSweep(benchmark::State& state) {
  Scene& s = scene();
  size_t i = 0;
  int hits = 0;
  for (auto _ : state) {
    const Segment& seg = s.segments[i++ & 4095];
    const btVector3 a(seg.a.x, seg.a.y, seg.a.z), b(seg.b.x, seg.b.y, seg.b.z);
    btCollisionWorld::ClosestConvexResultCallback cb(a, b);
    btTransform from, to;
    from.setIdentity();
    to.setIdentity();
    from.setOrigin(a);
    to.setOrigin(b);
    s.world->convexSweepTest(s.box, from, to, cb);
    hits += cb.hasHit();
  }
  state.counters["sweeps/s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["hit%"] = 100.0 * hits / double(state.iterations());
}

void BM_BulletRay(benchmark::State& state) {
  Scene& s = scene();
  size_t i = 0;
  int hits = 0;
  for (auto _ : state) {
    const Segment& seg = s.segments[i++ & 4095];
    const btVector3 a(seg.a.x, seg.a.y, seg.a.z), b(seg.b.x, seg.b.y, seg.b.z);
    btCollisionWorld::ClosestRayResultCallback cb(a, b);
    s.world->rayTest(a, b, cb);
    hits += cb.hasHit();
  }
  state.counters["rays/s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["hit%"] = 100.0 * hits / double(state.iterations());
}
BENCHMARK(BM_BulletBoxSweep);
BENCHMARK(BM_BulletRay);
#endif

BENCHMARK(BM_QuillBoxSweep);
BENCHMARK(BM_QuillRay);

}  // namespace
