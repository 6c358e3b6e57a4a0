// Processor skinning: skinned vertices per second with four weighted joints per vertex, the
// engine's DynamicModel against the same loop written with GLM matrices (blend the four joint
// matrices, transform the position, rotate both tangents and the normal). Interleave repetitions
// (--benchmark_repetitions=N --benchmark_enable_random_interleaving=true) and compare medians.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include <glm/glm.hpp>

#include "lib/interface/renderentity.h"
#include "lib/matrix.h"
#include "render/model/dynamicmodel.h"
#include "render/model/rendermodelmanager.h"

namespace {

constexpr int kJoints = 8;
constexpr int kVerts = 65536;

// A strip of kVerts vertices, each on four joints (1..7, never 0 after position 0).
std::string meshText() {
  std::string text = "meshVersion 1 numJoints 8 numMeshes 1 joints {\n";
  char line[256];
  for (int j = 0; j < kJoints; j++) {
    std::snprintf(line, sizeof(line), "j%d %d ( 0 0 %d ) ( 0 0 0 )\n", j, j - 1, j == 0 ? 0 : 4);
    text += line;
  }
  text += "}\nmesh { shader bench numverts 65536\n";
  for (int v = 0; v < kVerts; v++) {
    const int a = 1 + v % 7, b = 1 + (v + 1) % 7, c = 1 + (v + 2) % 7, d = 1 + (v + 3) % 7;
    std::snprintf(line, sizeof(line), "vert ( %d %d %d ) ( 0 0 ) ( %d %d %d %d ) ( 0.4 0.3 0.2 0.1 )\n", v % 13,
                  v % 7, v % 31, a, b, c, d);
    text += line;
  }
  text += "numtris 1 tri 0 1 2 }\n";
  return text;
}

struct Fixture {
  Fixture() {
    getRenderModelSystem();
    model.init("bench.dmesh");
    model.loadFromDmeshText(meshText().c_str());
    for (int j = 0; j < kJoints; j++)
      poses[j] = Mat4::fromMat3(Angles(float(j) * 5.0f, float(j) * 3.0f, 0.0f).toMat3(), Vec3(0, 0, float(j * 4)));
    entity.model = &model;
    entity.numJoints = kJoints;
    entity.joints = poses;
    model.computeJointMatrices(matrices, &entity);
    out.resize(kVerts);
    for (int j = 0; j < kJoints; j++)
      glmMatrices[j] = glm::mat4(glm::vec4(matrices[j][0], matrices[j][1], matrices[j][2], matrices[j][3]),
                                 glm::vec4(matrices[j][4], matrices[j][5], matrices[j][6], matrices[j][7]),
                                 glm::vec4(matrices[j][8], matrices[j][9], matrices[j][10], matrices[j][11]),
                                 glm::vec4(matrices[j][12], matrices[j][13], matrices[j][14], matrices[j][15]));
  }
  DynamicModel model;
  Mat4 poses[kJoints];
  Mat4 matrices[kJoints];
  glm::mat4 glmMatrices[kJoints];
  RenderEntity entity;
  std::vector<DrawVertex> out;
};

Fixture& fixture() {
  static Fixture f;
  return f;
}

void BM_SkinEngine(benchmark::State& state) {
  Fixture& f = fixture();
  for (auto _ : state) {
    f.model.transformSurfaceVertices(f.out.data(), f.matrices, kJoints, 0);
    benchmark::DoNotOptimize(f.out.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kVerts);
}
BENCHMARK(BM_SkinEngine)->Unit(benchmark::kMicrosecond);

void BM_SkinGlm(benchmark::State& state) {
  Fixture& f = fixture();
  const VertexInfluence* in = f.model.influences(0);
  const DrawVertex* src = f.model.getSurface(0)->geometry->verts;
  const int n = f.model.getSurface(0)->geometry->numVerts;
  for (auto _ : state) {
    for (int v = 0; v < n; v++) {
      const VertexInfluence& w = in[v];
      glm::mat4 m = f.glmMatrices[w.joints[0]] * w.weights[0];
      for (int k = 1; k < 4 && w.joints[k] != 0; k++)
        m += f.glmMatrices[w.joints[k]] * w.weights[k];
      const DrawVertex& s = src[v];
      DrawVertex& d = f.out[size_t(v)];
      const glm::vec4 p = m * glm::vec4(s.xyz[0], s.xyz[1], s.xyz[2], 1.0f);
      const glm::mat3 r(m);
      const glm::vec3 t0 = r * glm::vec3(s.tangents[0][0], s.tangents[0][1], s.tangents[0][2]);
      const glm::vec3 t1 = r * glm::vec3(s.tangents[1][0], s.tangents[1][1], s.tangents[1][2]);
      const glm::vec3 nn = r * glm::vec3(s.normal[0], s.normal[1], s.normal[2]);
      for (int c = 0; c < 3; c++) {
        d.xyz[c] = p[c];
        d.tangents[0][c] = t0[c];
        d.tangents[1][c] = t1[c];
        d.normal[c] = nn[c];
      }
    }
    benchmark::DoNotOptimize(f.out.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kVerts);
}
BENCHMARK(BM_SkinGlm)->Unit(benchmark::kMicrosecond);

}  // namespace
