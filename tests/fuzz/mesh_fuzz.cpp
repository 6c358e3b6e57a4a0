// Fuzzes the text mesh format: the input is a mesh file loaded into a model whose materials are
// lit, two-sided and shadow-forcing ones (any other name is a default material). The loaded model
// must hold only in-range indexes and edges; its shadow surface, an instance copy placed by an
// entity and the hashed edges (against the pairwise search on small meshes) are checked as well.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "lib/interface/iosystem.h"
#include "lib/interface/renderentity.h"
#include "lib/matrix.h"
#include "render/material/material.h"
#include "render/model/basemodel.h"
#include "render/model/geometryedges.h"
#include "render/model/rendermodelmanager.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/fuzz/modelfuzz.h"

namespace {

fuzz::QuietCmdSystem g_quiet;

const std::string kMaterials =
    "lit\n{\ndiffusemap textures/lit\n}\n"
    "twosided\n{\ntwoSided\ndiffusemap textures/panel\n}\n"
    "forced\n{\nforceShadow\ndiffusemap textures/fence\n}\n"
    "unlit\n{\n{\nmap textures/sky\n}\n}\n";

fuzz::MtxIOSystem g_io(&kMaterials);

void check(bool ok) {
  if (!ok)
    std::abort();
}

void checkGeometry(const SurfaceGeometry* g) {
  check(g != nullptr);
  check(g->numVerts >= 0 && g->numIndexes >= 0 && g->numIndexes % 3 == 0);
  for (int i = 0; i < g->numIndexes; i++)
    check(g->indexes[i] >= 0 && g->indexes[i] < g->numVerts);
  check(g->numEdges == 0 || g->edges != nullptr);
  const int tris = g->numIndexes / 3;
  for (int e = 0; e < g->numEdges; e++) {
    const GeometryEdge& edge = g->edges[e];
    check(edge.tri0 >= 0 && edge.tri0 < tris);
    check(edge.tri1 >= -1 && edge.tri1 < tris);
    check(edge.vert0 >= 0 && edge.vert0 < g->numVerts && edge.vert1 >= 0 && edge.vert1 < g->numVerts);
  }
  if (g->edges) {
    for (int i = 0; i < g->numIndexes; i++) {
      const int e = g->edgeOfIndex[i] < 0 ? -g->edgeOfIndex[i] : g->edgeOfIndex[i];
      check(e < g->numEdges || (e == 0 && g->numEdges == 0));
    }
  }
}

// The hashed edges of a copy of the geometry against the pairwise search.
void compareEdges(const SurfaceGeometry* g) {
  if (g->numIndexes > 600 || !g_renderModelSystem)
    return;
  SurfaceGeometry* a = g_renderModelSystem->allocSurfaceGeometry(g->numVerts, g->numIndexes, 3);
  SurfaceGeometry* b = g_renderModelSystem->allocSurfaceGeometry(g->numVerts, g->numIndexes, 3);
  check(a && b);
  for (SurfaceGeometry* c : {a, b}) {
    std::memcpy(c->verts, g->verts, size_t(g->numVerts) * sizeof(DrawVertex));
    std::memcpy(c->indexes, g->indexes, size_t(g->numIndexes) * sizeof(int));
  }
  buildGeometryEdges(a);
  buildGeometryEdgesReference(b);
  check(a->numEdges == b->numEdges && a->closed == b->closed);
  check(a->numEdges == 0 || std::memcmp(a->edges, b->edges, size_t(a->numEdges) * sizeof(GeometryEdge)) == 0);
  check(std::memcmp(a->edgeOfIndex, b->edgeOfIndex, size_t(a->numIndexes) * sizeof(int)) == 0);
  g_renderModelSystem->freeSurfaceGeometry(a);
  g_renderModelSystem->freeSurfaceGeometry(b);
}

void exercise(const std::string& text) {
  BaseModel model;
  model.init("fuzz.mesh");
  model.loadFromText(text.c_str());
  for (int s = 0; s < model.numSurfaces(); s++) {
    const SurfaceGeometry* g = model.getSurface(s)->geometry;
    checkGeometry(g);
    compareEdges(g);
  }
  if (SurfaceGeometry* shadow = model.getShadowSurface()) {
    checkGeometry(shadow);
    check(shadow->numVerts <= shadow->numIndexes);
  }
  Bounds bounds;
  model.getBounds(bounds, nullptr);
  model.memoryUsed();
  model.sortSurfaces();
  // An unloaded source would be reloaded by the instance build, from a file that is not there.
  if (!model.isLoaded())
    return;
  BaseModel* copy = BaseModel::createCopy(&model);
  RenderEntity entity;
  entity.model = &model;
  entity.origin = Vec3(1, 2, 3);
  entity.axis = Mat3(Vec3(0, 1, 0), Vec3(-1, 0, 0), Vec3(0, 0, 1));
  check(copy->buildInstance(&entity));
  for (int s = 0; s < copy->numSurfaces(); s++)
    checkGeometry(copy->getSurface(s)->geometry);
  delete copy;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::startModelSystems(&g_quiet, &g_io);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 64 * 1024)
    return 0;
  exercise(std::string(reinterpret_cast<const char*>(data), size));
  fuzz::endModelInput();
  return 0;
}
