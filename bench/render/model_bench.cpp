// Render-model speeds: loading a text mesh of about 100k triangles (ms per load and MB/s of text)
// against the tokenizer alone reading the same text, and shadow-edge building with the hash
// against the plain pairwise search.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "lib/interface/rendermodelsystem.h"
#include "lib/tokenparser.h"
#include "render/model/basemodel.h"
#include "render/model/geometryedges.h"
#include "render/model/rendermodelmanager.h"

namespace {

// A wavy grid of n x n quads (2 n^2 triangles) in the text mesh format, with normals, texture
// coordinates and colours: what an exporter writes.
std::string gridMeshText(int n) {
  std::string text = "meshVersion 2\nnumMeshes 1\nmesh {\n\tshader \"textures/samples/wall\"\n";
  char line[256];
  std::snprintf(line, sizeof(line), "\tnumverts %d\n", (n + 1) * (n + 1));
  text += line;
  for (int y = 0; y <= n; y++) {
    for (int x = 0; x <= n; x++) {
      std::snprintf(line, sizeof(line), "\tvert ( %.4f %.4f %.4f ) ( 0 0 1 ) ( %.5f %.5f ) 255 255 255 255\n",
                    x * 4.0, y * 4.0, ((x * 7 + y * 13) % 17) * 0.25, x / double(n), y / double(n));
      text += line;
    }
  }
  std::snprintf(line, sizeof(line), "\tnumtris %d\n", 2 * n * n);
  text += line;
  for (int y = 0; y < n; y++) {
    for (int x = 0; x < n; x++) {
      const int a = y * (n + 1) + x, b = a + 1, c = a + n + 2, d = a + n + 1;
      std::snprintf(line, sizeof(line), "\ttri %d %d %d\n\ttri %d %d %d\n", a, b, c, a, c, d);
      text += line;
    }
  }
  return text + "}\n";
}

constexpr int kGrid = 224;  // 100,352 triangles

const std::string& meshText() {
  static const std::string text = gridMeshText(kGrid);
  return text;
}

void BM_LoadMesh100k(benchmark::State& state) {
  getRenderModelSystem();
  const std::string& text = meshText();
  for (auto _ : state) {
    BaseModel model;
    model.init("bench.mesh");
    model.loadFromText(text.c_str());
    if (model.isDefaultModel())
      state.SkipWithError("the mesh did not load");
    benchmark::DoNotOptimize(model.numTriangles());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
  state.counters["triangles"] = 2.0 * kGrid * kGrid;
  g_renderModelSystem->purgeFreeGeometry();
}

// The peer: the tokenizer alone over the same text, every token read as the mesh reader reads it.
void BM_TokenizeMesh100k(benchmark::State& state) {
  const std::string& text = meshText();
  for (auto _ : state) {
    TokenParser parser;
    parser.pushText(text.c_str());
    parser.setPunctuation("()");
    int tokens = 0;
    while (parser.nextToken(true))
      tokens++;
    benchmark::DoNotOptimize(tokens);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}

// A closed shape: a grid of quads wrapped into a torus, n x n quads, shared corners repeated per
// quad (as texture seams make them), so welding has work to do.
struct EdgeInput {
  std::vector<DrawVertex> verts;
  std::vector<int> indexes;
};

EdgeInput torus(int n) {
  EdgeInput in;
  auto corner = [&](int i, int j) {
    DrawVertex v = {};
    v.xyz[0] = float(i % n);
    v.xyz[1] = float(j % n);
    v.xyz[2] = float((i % n) * 31 + (j % n));
    in.verts.push_back(v);
    return int(in.verts.size()) - 1;
  };
  for (int j = 0; j < n; j++) {
    for (int i = 0; i < n; i++) {
      const int a = corner(i, j), b = corner(i + 1, j), c = corner(i + 1, j + 1), d = corner(i, j + 1);
      for (int k : {a, b, c, a, c, d})
        in.indexes.push_back(k);
    }
  }
  return in;
}

template <void (*Build)(SurfaceGeometry*)>
void edgeBench(benchmark::State& state) {
  getRenderModelSystem();
  const EdgeInput in = torus(int(state.range(0)));
  for (auto _ : state) {
    state.PauseTiming();
    SurfaceGeometry* g = g_renderModelSystem->allocSurfaceGeometry(int(in.verts.size()), int(in.indexes.size()),
                                                                   kGeometryVertices | kGeometryIndexes);
    std::memcpy(g->verts, in.verts.data(), in.verts.size() * sizeof(DrawVertex));
    std::memcpy(g->indexes, in.indexes.data(), in.indexes.size() * sizeof(int));
    state.ResumeTiming();
    Build(g);
    if (!g->closed)
      state.SkipWithError("the torus must close");
    state.PauseTiming();
    g_renderModelSystem->freeSurfaceGeometry(g);
    state.ResumeTiming();
  }
  state.counters["triangles"] = double(in.indexes.size() / 3);
  g_renderModelSystem->purgeFreeGeometry();
}

void BM_EdgesHashed(benchmark::State& state) { edgeBench<buildGeometryEdges>(state); }
void BM_EdgesPairwise(benchmark::State& state) { edgeBench<buildGeometryEdgesReference>(state); }

}  // namespace

BENCHMARK(BM_LoadMesh100k)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TokenizeMesh100k)->Unit(benchmark::kMillisecond);
// 224 x 224 quads: 100,352 triangles. The pairwise form takes minutes there: one iteration each.
BENCHMARK(BM_EdgesHashed)->Arg(32)->Arg(100)->Arg(224)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EdgesPairwise)->Arg(32)->Arg(100)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EdgesPairwise)->Arg(224)->Iterations(1)->Unit(benchmark::kMillisecond);
