// Math and geometry: matrix and vector operations next to GLM, bounds culling,
// joint blending, polygon clipping and the tangent weld (hashed against the
// all-pairs reference). Per-item times are in the "per_item" counter.
#include <benchmark/benchmark.h>

#include <glm/glm.hpp>
#include <glm/gtc/matrix_inverse.hpp>
#include <glm/gtc/quaternion.hpp>
#include <glm/gtc/type_ptr.hpp>

#include <cstring>
#include <random>
#include <vector>

#include "lib/interface/renderinterface.h"
#include "lib/matrix.h"
#include "lib/polygon.h"
#include "lib/vector.h"
#include "tests/lib/support/tangent_reference.h"

namespace {

constexpr int kCount = 1024;

void perItem(benchmark::State& state, int items) {
  state.counters["per_item"] = benchmark::Counter(
      double(items), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

std::vector<Mat4> randomMatrices(unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> u(-2.0f, 2.0f);
  std::vector<Mat4> v(kCount);
  for (Mat4& m : v) {
    m = Mat4::fromMat3(Angles(u(rng) * 90, u(rng) * 90, u(rng) * 90).toMat3(),
                       Vec3(u(rng), u(rng), u(rng)) * 10.0f);
    m.m[3] = u(rng) * 0.1f;  // keep the general inverse honest
  }
  return v;
}

std::vector<glm::mat4> toGlm(const std::vector<Mat4>& in) {
  std::vector<glm::mat4> out(in.size());
  for (size_t i = 0; i < in.size(); i++)
    std::memcpy(glm::value_ptr(out[i]), in[i].m, sizeof(float) * 16);
  return out;
}

// --- Mat4 multiply ---
void BM_Mat4Multiply(benchmark::State& state) {
  const std::vector<Mat4> a = randomMatrices(1), b = randomMatrices(2);
  std::vector<Mat4> out(kCount);
  for (auto _ : state) {
    for (int i = 0; i < kCount; i++)
      out[size_t(i)] = Mat4::multiply(a[size_t(i)], b[size_t(i)]);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  perItem(state, kCount);
}
BENCHMARK(BM_Mat4Multiply);

void BM_Glm_Mat4Multiply(benchmark::State& state) {
  const std::vector<glm::mat4> a = toGlm(randomMatrices(1)), b = toGlm(randomMatrices(2));
  std::vector<glm::mat4> out(kCount);
  for (auto _ : state) {
    // b * a applies a first, the same product as Mat4::multiply(a, b).
    for (int i = 0; i < kCount; i++)
      out[size_t(i)] = b[size_t(i)] * a[size_t(i)];
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  perItem(state, kCount);
}
BENCHMARK(BM_Glm_Mat4Multiply);

// --- Mat4 inverse ---
void BM_Mat4Inverse(benchmark::State& state) {
  const std::vector<Mat4> a = randomMatrices(3);
  std::vector<Mat4> out(kCount);
  for (auto _ : state) {
    for (int i = 0; i < kCount; i++) {
      out[size_t(i)] = a[size_t(i)];
      out[size_t(i)].inverse();
    }
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  perItem(state, kCount);
}
BENCHMARK(BM_Mat4Inverse);

void BM_Glm_Mat4Inverse(benchmark::State& state) {
  const std::vector<glm::mat4> a = toGlm(randomMatrices(3));
  std::vector<glm::mat4> out(kCount);
  for (auto _ : state) {
    for (int i = 0; i < kCount; i++)
      out[size_t(i)] = glm::inverse(a[size_t(i)]);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  perItem(state, kCount);
}
BENCHMARK(BM_Glm_Mat4Inverse);

void BM_Mat4InverseRigid(benchmark::State& state) {
  std::vector<Mat4> a = randomMatrices(3);
  for (Mat4& m : a)
    m.m[3] = 0;
  std::vector<Mat4> out(kCount);
  for (auto _ : state) {
    for (int i = 0; i < kCount; i++) {
      out[size_t(i)] = a[size_t(i)];
      out[size_t(i)].inverseRigid();
    }
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  perItem(state, kCount);
}
BENCHMARK(BM_Mat4InverseRigid);

// --- vectors: cross, normalise, transform ---
void BM_Vec3CrossNormalize(benchmark::State& state) {
  std::mt19937 rng(4);
  std::uniform_real_distribution<float> u(-1.0f, 1.0f);
  std::vector<Vec3> a(kCount), b(kCount), out(kCount);
  for (int i = 0; i < kCount; i++) {
    a[size_t(i)] = Vec3(u(rng), u(rng), u(rng));
    b[size_t(i)] = Vec3(u(rng), u(rng), u(rng));
  }
  for (auto _ : state) {
    for (int i = 0; i < kCount; i++) {
      Vec3 c = a[size_t(i)].cross(b[size_t(i)]);
      c.normalize();
      out[size_t(i)] = c;
    }
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  perItem(state, kCount);
}
BENCHMARK(BM_Vec3CrossNormalize);

void BM_Glm_Vec3CrossNormalize(benchmark::State& state) {
  std::mt19937 rng(4);
  std::uniform_real_distribution<float> u(-1.0f, 1.0f);
  std::vector<glm::vec3> a(kCount), b(kCount), out(kCount);
  for (int i = 0; i < kCount; i++) {
    a[size_t(i)] = glm::vec3(u(rng), u(rng), u(rng));
    b[size_t(i)] = glm::vec3(u(rng), u(rng), u(rng));
  }
  for (auto _ : state) {
    for (int i = 0; i < kCount; i++)
      out[size_t(i)] = glm::normalize(glm::cross(a[size_t(i)], b[size_t(i)]));
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  perItem(state, kCount);
}
BENCHMARK(BM_Glm_Vec3CrossNormalize);

void BM_Mat4TransformPoint(benchmark::State& state) {
  const Mat4 m = randomMatrices(5)[0];
  std::vector<Vec3> pts(kCount, Vec3(1, 2, 3)), out(kCount);
  for (int i = 0; i < kCount; i++)
    pts[size_t(i)] = Vec3(float(i), float(i) * 0.5f, -float(i));
  for (auto _ : state) {
    for (int i = 0; i < kCount; i++)
      out[size_t(i)] = m.transformPoint(pts[size_t(i)]);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  perItem(state, kCount);
}
BENCHMARK(BM_Mat4TransformPoint);

void BM_Glm_Mat4TransformPoint(benchmark::State& state) {
  const glm::mat4 m = toGlm(randomMatrices(5))[0];
  std::vector<glm::vec3> pts(kCount), out(kCount);
  for (int i = 0; i < kCount; i++)
    pts[size_t(i)] = glm::vec3(float(i), float(i) * 0.5f, -float(i));
  for (auto _ : state) {
    for (int i = 0; i < kCount; i++)
      out[size_t(i)] = glm::vec3(m * glm::vec4(pts[size_t(i)], 1.0f));
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  perItem(state, kCount);
}
BENCHMARK(BM_Glm_Mat4TransformPoint);

// --- plane-side culling of bounds ---
struct CullScene {
  std::vector<Bounds> boxes;
  Plane planes[6];
  CullScene() {
    std::mt19937 rng(6);
    std::uniform_real_distribution<float> u(-100.0f, 100.0f), s(0.5f, 8.0f);
    for (int i = 0; i < kCount; i++) {
      const Vec3 c(u(rng), u(rng), u(rng));
      const Vec3 h(s(rng), s(rng), s(rng));
      boxes.emplace_back(c - h, c + h);
    }
    frustumPlanes(planes, Vec3(), Mat3(), 90.0f, 1.333f, 1.0f, 120.0f);
  }
};

void BM_BoundsCullPlaneDistance(benchmark::State& state) {
  const CullScene scene;
  std::vector<char> visible(kCount);
  for (auto _ : state) {
    for (int i = 0; i < kCount; i++) {
      bool v = true;
      for (int p = 0; p < 6 && v; p++)
        v = scene.boxes[size_t(i)].planeDistance(scene.planes[p]) <= 0.0f;
      visible[size_t(i)] = v;
    }
    benchmark::DoNotOptimize(visible.data());
    benchmark::ClobberMemory();
  }
  perItem(state, kCount);
}
BENCHMARK(BM_BoundsCullPlaneDistance);

void BM_BoundsCullInsidePlanes(benchmark::State& state) {
  const CullScene scene;
  std::vector<char> visible(kCount);
  for (auto _ : state) {
    for (int i = 0; i < kCount; i++)
      visible[size_t(i)] = scene.boxes[size_t(i)].insidePlanes(scene.planes, 6, 0.0f);
    benchmark::DoNotOptimize(visible.data());
    benchmark::ClobberMemory();
  }
  perItem(state, kCount);
}
BENCHMARK(BM_BoundsCullInsidePlanes);

void BM_Glm_BoundsCull(benchmark::State& state) {
  const CullScene scene;
  std::vector<glm::vec3> mins(kCount), maxs(kCount);
  glm::vec4 planes[6];
  for (int i = 0; i < kCount; i++) {
    mins[size_t(i)] = glm::vec3(scene.boxes[size_t(i)].mins.x, scene.boxes[size_t(i)].mins.y,
                                scene.boxes[size_t(i)].mins.z);
    maxs[size_t(i)] = glm::vec3(scene.boxes[size_t(i)].maxs.x, scene.boxes[size_t(i)].maxs.y,
                                scene.boxes[size_t(i)].maxs.z);
  }
  for (int p = 0; p < 6; p++)
    planes[p] = glm::vec4(scene.planes[p].a, scene.planes[p].b, scene.planes[p].c, scene.planes[p].d);
  std::vector<char> visible(kCount);
  for (auto _ : state) {
    for (int i = 0; i < kCount; i++) {
      const glm::vec3 c = (mins[size_t(i)] + maxs[size_t(i)]) * 0.5f, h = maxs[size_t(i)] - c;
      bool v = true;
      for (int p = 0; p < 6 && v; p++) {
        const glm::vec3 n(planes[p]);
        v = glm::dot(n, c) - planes[p].w <= glm::dot(glm::abs(n), h);
      }
      visible[size_t(i)] = v;
    }
    benchmark::DoNotOptimize(visible.data());
    benchmark::ClobberMemory();
  }
  perItem(state, kCount);
}
BENCHMARK(BM_Glm_BoundsCull);

// --- quaternion slerp plus joint matrices ---
constexpr int kJoints = 96;

void BM_JointBlendAndMatrices(benchmark::State& state) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> u(-180.0f, 180.0f);
  std::vector<JointQuat> a(kJoints), b(kJoints);
  std::vector<int> list(kJoints);
  for (int i = 0; i < kJoints; i++) {
    a[size_t(i)].q = Angles(u(rng), u(rng), u(rng)).toQuat();
    b[size_t(i)].q = Angles(u(rng), u(rng), u(rng)).toQuat();
    a[size_t(i)].t = Vec3(u(rng), u(rng), u(rng));
    b[size_t(i)].t = Vec3(u(rng), u(rng), u(rng));
    list[size_t(i)] = i;
  }
  std::vector<JointQuat> work(kJoints);
  std::vector<Mat4> mats(kJoints);
  for (auto _ : state) {
    work = a;
    blendJoints(work.data(), b.data(), 0.37f, list.data(), kJoints);
    jointsToMatrices(mats.data(), work.data(), kJoints);
    benchmark::DoNotOptimize(mats.data());
    benchmark::ClobberMemory();
  }
  perItem(state, kJoints);
}
BENCHMARK(BM_JointBlendAndMatrices);

void BM_Glm_JointBlendAndMatrices(benchmark::State& state) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> u(-180.0f, 180.0f);
  std::vector<glm::quat> qa(kJoints), qb(kJoints);
  std::vector<glm::vec3> ta(kJoints), tb(kJoints);
  for (int i = 0; i < kJoints; i++) {
    const Quat x = Angles(u(rng), u(rng), u(rng)).toQuat(), y = Angles(u(rng), u(rng), u(rng)).toQuat();
    qa[size_t(i)] = glm::quat(x.w, x.x, x.y, x.z);
    qb[size_t(i)] = glm::quat(y.w, y.x, y.y, y.z);
    ta[size_t(i)] = glm::vec3(u(rng), u(rng), u(rng));
    tb[size_t(i)] = glm::vec3(u(rng), u(rng), u(rng));
  }
  std::vector<glm::mat4> mats(kJoints);
  for (auto _ : state) {
    for (int i = 0; i < kJoints; i++) {
      const glm::quat q = glm::slerp(qa[size_t(i)], qb[size_t(i)], 0.37f);
      glm::mat4 m = glm::mat4_cast(q);
      m[3] = glm::vec4(glm::mix(ta[size_t(i)], tb[size_t(i)], 0.37f), 1.0f);
      mats[size_t(i)] = m;
    }
    benchmark::DoNotOptimize(mats.data());
    benchmark::ClobberMemory();
  }
  perItem(state, kJoints);
}
BENCHMARK(BM_Glm_JointBlendAndMatrices);

// --- polygon clipping ---
void BM_ConvexPolygonClip6(benchmark::State& state) {
  std::mt19937 rng(8);
  std::uniform_real_distribution<float> u(-6.0f, 6.0f);
  std::vector<ConvexPolygon> polys(256);
  for (ConvexPolygon& p : polys) {
    const Vec3 c(u(rng), u(rng), u(rng));
    const Mat3 axis = Angles(u(rng) * 30, u(rng) * 30, 0).toMat3();
    for (int k = 0; k < 8; k++) {
      const float a = float(k) * 6.2831853f / 8.0f;
      p.points[p.numPoints++] = c + axis[0] * (3.0f * std::cos(a)) + axis[1] * (3.0f * std::sin(a));
    }
  }
  Plane planes[6];
  Bounds(Vec3(-4, -4, -4), Vec3(4, 4, 4)).toPlanes(planes);
  int kept = 0;
  for (auto _ : state) {
    for (const ConvexPolygon& src : polys) {
      ConvexPolygon p = src;
      p.clipInPlace(planes, 6);
      kept += p.numPoints;
    }
    benchmark::DoNotOptimize(kept);
  }
  perItem(state, int(polys.size()));
}
BENCHMARK(BM_ConvexPolygonClip6);

// --- tangent derivation with welding ---
void seamMeshOf(int vertices, std::vector<DrawVertex>& verts, std::vector<int>& idx) {
  const int quads = vertices / 4;
  int w = 1;
  while (w * w < quads)
    w++;
  tangent_reference::makeSeamMesh(w, (quads + w - 1) / w, verts, idx);
}

void BM_DeriveNormalsAndTangents(benchmark::State& state) {
  std::vector<DrawVertex> base, work;
  std::vector<int> idx;
  seamMeshOf(int(state.range(0)), base, idx);
  for (auto _ : state) {
    state.PauseTiming();
    work = base;
    state.ResumeTiming();
    deriveNormalsAndTangents(work.data(), int(work.size()), idx.data(), int(idx.size()), nullptr,
                             state.range(1) != 0);
    benchmark::DoNotOptimize(work.data());
  }
  state.counters["vertices"] = double(base.size());
}
BENCHMARK(BM_DeriveNormalsAndTangents)
    ->Args({10000, 0})
    ->Args({50000, 0})
    ->Args({10000, 1})
    ->Args({50000, 1})
    ->Unit(benchmark::kMillisecond);

void BM_DeriveNormalsAndTangents_QuadraticReference(benchmark::State& state) {
  std::vector<DrawVertex> base, work, hashed;
  std::vector<int> idx;
  seamMeshOf(int(state.range(0)), base, idx);
  for (auto _ : state) {
    state.PauseTiming();
    work = base;
    state.ResumeTiming();
    tangent_reference::deriveNormalsAndTangentsQuadratic(work.data(), int(work.size()), idx.data(),
                                                         int(idx.size()), state.range(1) != 0);
    benchmark::DoNotOptimize(work.data());
  }
  hashed = base;
  deriveNormalsAndTangents(hashed.data(), int(hashed.size()), idx.data(), int(idx.size()), nullptr,
                           state.range(1) != 0);
  if (std::memcmp(hashed.data(), work.data(), work.size() * sizeof(DrawVertex)) != 0)
    state.SkipWithError("hashed weld differs from the all-pairs reference");
  state.counters["vertices"] = double(base.size());
}
BENCHMARK(BM_DeriveNormalsAndTangents_QuadraticReference)
    ->Args({10000, 0})
    ->Args({50000, 0})
    ->Args({10000, 1})
    ->Args({50000, 1})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2);

}  // namespace
