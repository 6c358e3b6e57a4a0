// Models with real materials: back sides of two-sided lit surfaces, shadow edges and the welded
// shadow surface of a cube, which materials cast shadows, sorting, material resolution, and
// instance copies placed by an entity.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "lib/interface/renderentity.h"
#include "lib/matrix.h"
#include "render/material/expression.h"
#include "render/material/material.h"
#include "render/model/geometryedges.h"
#include "render/model/support/modelenv.h"
#include "system/declmanager.h"

namespace {

using modeltest::ModelEnv;
using modeltest::RecordingDevice;

class ModelMaterialTest : public ModelEnv {
 protected:
  void SetUp() override {
    ModelEnv::SetUp();
    clearExpressions();
    ASSERT_NE(createDeclSystem(), nullptr);
    define("lit", "diffusemap textures/lit");
    define("twosided", "twoSided\ndiffusemap textures/panel");
    define("twosided_unlit", "twoSided\n{\nmap textures/glass\n}");
    define("unlit", "{\nmap textures/sky\n}");
    define("noshadow", "noShadows\ndiffusemap textures/lit");
    define("forced", "forceShadow\ntwoSided\ndiffusemap textures/fence");
    define("decal", "sort decal\ndiffusemap textures/mark");
  }
  void TearDown() override {
    ModelEnv::TearDown();  // models go before their materials
    destroyDeclSystem();
    clearExpressions();
  }
  void define(const char* name, const std::string& body) {
    io_->addFile(std::string(name) + ".mtx", std::string(name) + "\n{\n" + body + "\n}\n");
  }
  static Material* material(const char* name) { return findMaterial(name, false); }
};

// A 2 x 2 quad in the z = 0 plane facing +z, one mesh per material given.
std::string quads(const std::vector<const char*>& materials) {
  std::string text = "meshVersion 2\nnumMeshes " + std::to_string(materials.size()) + "\n";
  for (const char* m : materials) {
    text += std::string("mesh {\nshader ") + m +
            "\nnumverts 4\n"
            "vert (0 0 0) (0 0 1) (0 0)\nvert (2 0 0) (0 0 1) (1 0)\n"
            "vert (2 2 0) (0 0 1) (1 1)\nvert (0 2 0) (0 0 1) (0 1)\n"
            "numtris 2\ntri 0 1 2\ntri 0 2 3\n}\n";
  }
  return text;
}

// A cube from -1 to 1 with four vertices of its own per face (24), 12 outward triangles.
std::string cubeMesh(const char* material) {
  const int faces[6][4] = {{4, 5, 7, 6}, {0, 2, 3, 1}, {0, 1, 5, 4}, {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}};
  std::string text = std::string("meshVersion 1\nnumMeshes 1\nmesh {\nshader ") + material + "\nnumverts 24\n";
  for (const auto& f : faces) {
    for (int k = 0; k < 4; k++) {
      const int c = f[k];
      text += "vert (" + std::to_string(c & 1 ? 1 : -1) + " " + std::to_string(c & 2 ? 1 : -1) + " " +
              std::to_string(c & 4 ? 1 : -1) + ") (" + std::to_string(k == 1 || k == 2) + " " +
              std::to_string(k >= 2) + ")\n";
    }
  }
  text += "numtris 12\n";
  for (int f = 0; f < 6; f++) {
    const int b = f * 4;
    text += "tri " + std::to_string(b) + " " + std::to_string(b + 1) + " " + std::to_string(b + 2) + "\n";
    text += "tri " + std::to_string(b) + " " + std::to_string(b + 2) + " " + std::to_string(b + 3) + "\n";
  }
  return text + "}\n";
}

TEST_F(ModelMaterialTest, TwoSidedLitSurfacesGetBackSidesOnce) {
  RenderModel* model = loadText("models/panel.mesh", quads({"twosided", "lit", "twosided_unlit"}));
  ASSERT_EQ(model->numSurfaces(), 3) << cmd_->output;
  // The doubled surface replaces the original and goes last.
  EXPECT_EQ(model->getSurface(0)->material, material("lit"));
  EXPECT_EQ(model->getSurface(1)->material, material("twosided_unlit"));
  EXPECT_EQ(model->getSurface(1)->geometry->numVerts, 4) << "two-sided without light interaction stays single";
  const ModelSurface* doubled = model->getSurface(2);
  EXPECT_EQ(doubled->material, material("twosided"));
  EXPECT_EQ(doubled->id, 0);
  const SurfaceGeometry* g = doubled->geometry;
  ASSERT_EQ(g->numVerts, 8);
  ASSERT_EQ(g->numIndexes, 12);
  for (int v = 0; v < 4; v++) {
    const DrawVertex& front = g->verts[v];
    const DrawVertex& back = g->verts[v + 4];
    for (int k = 0; k < 3; k++) {
      EXPECT_EQ(back.xyz[k], front.xyz[k]);
      EXPECT_EQ(back.normal[k], -front.normal[k]);
      EXPECT_EQ(back.tangents[0][k], -front.tangents[0][k]);
      EXPECT_EQ(back.tangents[1][k], front.tangents[1][k]) << "the second tangent keeps its direction";
    }
  }
  const int expect[12] = {0, 1, 2, 0, 2, 3, 6, 5, 4, 7, 6, 4};
  EXPECT_EQ(0, std::memcmp(g->indexes, expect, sizeof(expect)));
  EXPECT_EQ(g->facetsValid, 0) << "the back end computes the planes of the new geometry";
  EXPECT_EQ(static_cast<BaseModel*>(model)->numGeometry(), 3) << "the single-sided original was freed";

  model->addBackSides();
  EXPECT_EQ(model->getSurface(2)->geometry->numVerts, 8) << "a second call adds nothing";
  // Replacing a surface allows the back sides again.
  ModelSurface replaced = *model->getSurface(2);
  model->setSurface(2, replaced);
  model->addBackSides();
  EXPECT_EQ(model->getSurface(2)->geometry->numVerts, 16);
}

TEST_F(ModelMaterialTest, WhichMaterialsCastShadows) {
  struct Case {
    const char* material;
    bool casts;        // edges are built for its surfaces
    bool inShadowSurface;
  };
  const Case cases[] = {
      {"lit", true, true},          {"twosided", false, false}, {"unlit", false, false},
      // Two-sided materials carry "noShadows", so even a forced one stays out of the shadow surface.
      {"noshadow", true, false},    {"forced", true, false},    {"twosided_unlit", false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.material);
    EXPECT_EQ(BaseModel::materialCastsShadows(material(c.material)), c.casts);
    RenderModel* model = loadText(std::string("models/cube_") + c.material + ".mesh", cubeMesh(c.material));
    ASSERT_FALSE(model->isDefaultModel()) << cmd_->output;
    bool anyEdges = false;
    for (int s = 0; s < model->numSurfaces(); s++)
      anyEdges = anyEdges || model->getSurface(s)->geometry->edges != nullptr;
    EXPECT_EQ(anyEdges, c.casts);
    EXPECT_EQ(model->getShadowSurface() != nullptr, c.inShadowSurface);
  }
  EXPECT_FALSE(BaseModel::materialCastsShadows(nullptr));
}

TEST_F(ModelMaterialTest, CubeShadowEdgesAndWeldedShadowSurface) {
  RenderModel* model = loadText("models/cube.mesh", cubeMesh("lit"));
  ASSERT_EQ(model->numSurfaces(), 1) << cmd_->output;
  const SurfaceGeometry* g = model->getSurface(0)->geometry;
  EXPECT_EQ(g->numIndexes / 3, 12);
  // 18 edges, of which the six face diagonals join coplanar triangles and are dropped on load.
  EXPECT_EQ(g->numEdges, 12);
  EXPECT_EQ(g->closed, 1);
  for (int e = 0; e < g->numEdges; e++) {
    const Plane& a = g->planes[g->edges[e].tri0];
    const Plane& b = g->planes[g->edges[e].tri1];
    EXPECT_LT(a.normal().dot(b.normal()), 0.5f) << "only the cube's real edges stay";
  }

  SurfaceGeometry* shadow = model->getShadowSurface();
  ASSERT_NE(shadow, nullptr);
  EXPECT_EQ(model->getShadowSurface(), shadow) << "built once";
  EXPECT_EQ(shadow->numVerts, 8) << "the 24 face vertices weld into the 8 corners";
  EXPECT_EQ(shadow->numIndexes, 36);
  EXPECT_EQ(shadow->numEdges, 18);
  EXPECT_EQ(shadow->closed, 1);
  EXPECT_EQ(shadow->bounds, Bounds(Vec3(-1, -1, -1), Vec3(1, 1, 1)));
  for (int v = 0; v < shadow->numVerts; v++) {
    EXPECT_EQ(std::fabs(shadow->verts[v].xyz[0]), 1.0f);
    EXPECT_EQ(shadow->verts[v].normal[2], 0.0f) << "only positions are set";
  }
  EXPECT_EQ(model->numSurfaces(), 1) << "the shadow geometry is no drawn surface";
}

TEST_F(ModelMaterialTest, SortAndMaterialResolution) {
  RenderModel* model = loadText("models/sorted.mesh", quads({"decal", "lit"}));
  BaseModel* base = static_cast<BaseModel*>(model);
  base->sortSurfaces();
  EXPECT_EQ(model->getSurface(0)->material, material("lit")) << "opaque sorts before decal";
  EXPECT_EQ(model->getSurface(1)->material, material("decal"));

  Material* custom = material("unlit");
  EXPECT_EQ(model->resolveSurfaceMaterial(0, custom, nullptr, nullptr), custom);
  EXPECT_EQ(model->resolveSurfaceMaterial(1, nullptr, nullptr, nullptr), material("decal"));
  EXPECT_EQ(model->resolveSurfaceMaterial(2, custom, nullptr, nullptr), nullptr);
  EXPECT_EQ(model->resolveSurfaceMaterial(-1, custom, nullptr, nullptr), nullptr);
}

TEST_F(ModelMaterialTest, InstanceCopiesFollowTheirEntity) {
  RecordingDevice device;
  RenderModel* source = loadText("models/quads.mesh", quads({"lit", "unlit"}));
  ASSERT_EQ(source->numSurfaces(), 2);
  ASSERT_EQ(source->getSurface(0)->geometry->numEdges, 4) << "the lit quad keeps its outline";
  BaseModel* copy = BaseModel::createCopy(source);
  ASSERT_NE(copy, nullptr);
  EXPECT_STREQ(copy->name(), "MDL_CACHE");
  EXPECT_EQ(copy->getMode(), kModelGpuBuffers);
  ASSERT_EQ(copy->numSurfaces(), 2);
  for (int s = 0; s < 2; s++) {
    const SurfaceGeometry* a = source->getSurface(s)->geometry;
    const SurfaceGeometry* b = copy->getSurface(s)->geometry;
    ASSERT_NE(a, b);
    EXPECT_EQ(copy->getSurface(s)->material, source->getSurface(s)->material);
    EXPECT_EQ(b->numVerts, a->numVerts);
    EXPECT_EQ(b->numEdges, a->numEdges);
    if (a->edges) {
      EXPECT_NE(b->edges, a->edges) << "edges are copied, not shared";
      EXPECT_EQ(0, std::memcmp(b->edges, a->edges, size_t(a->numEdges) * sizeof(GeometryEdge)));
    }
    EXPECT_EQ(0, std::memcmp(b->verts, a->verts, size_t(a->numVerts) * sizeof(DrawVertex)));
    EXPECT_EQ(0, std::memcmp(b->planes, a->planes, size_t(a->numIndexes / 3) * sizeof(Plane)));
    EXPECT_EQ(b->bounds, a->bounds);
    EXPECT_EQ(b->facetsValid, a->facetsValid);
    ASSERT_NE(b->vertexBuffer, nullptr) << "instance copies draw from GPU buffers";
    EXPECT_FALSE(device.isStatic[b->vertexBuffer]) << "their vertices are rewritten per frame";
  }

  RenderEntity entity;
  entity.model = source;
  entity.origin = Vec3(10, 0, 0);
  entity.axis = Mat3(Vec3(0, 1, 0), Vec3(-1, 0, 0), Vec3(0, 0, 1));  // a quarter turn about z
  entity.customMaterial = material("decal");
  ASSERT_TRUE(copy->buildInstance(&entity));
  const SurfaceGeometry* g = copy->getSurface(0)->geometry;
  // (2, 0, 0) turns to (0, 2, 0) and moves to (10, 2, 0); normals turn with it and stay +z.
  EXPECT_FLOAT_EQ(g->verts[1].xyz[0], 10.0f);
  EXPECT_FLOAT_EQ(g->verts[1].xyz[1], 2.0f);
  EXPECT_NEAR(g->verts[1].tangents[0][1], 1.0f, 1e-5f) << "the first tangent turns from +x to +y";
  EXPECT_NEAR(g->verts[1].normal[2], 1.0f, 1e-5f);
  EXPECT_EQ(g->bounds, Bounds(Vec3(8, 0, 0), Vec3(10, 2, 0)));
  EXPECT_EQ(g->facetsValid, 0);
  EXPECT_EQ(copy->getSurface(0)->material, material("decal"));
  EXPECT_EQ(copy->getSurface(0)->id, -1);
  EXPECT_TRUE(copy->getFlags() & kModelFlagVertsChanged);
  const int before = device.uploads;
  copy->uploadVertices(false);
  EXPECT_EQ(device.uploads, before + 2);
  EXPECT_FALSE(copy->getFlags() & kModelFlagVertsChanged);
  DrawVertex uploaded;
  std::memcpy(&uploaded, device.contents[g->vertexBuffer].data() + sizeof(DrawVertex), sizeof(DrawVertex));
  EXPECT_FLOAT_EQ(uploaded.xyz[0], 10.0f);
  copy->uploadVertices(false);
  EXPECT_EQ(device.uploads, before + 2) << "nothing changed since";

  // A source of another layout cannot be copied into this instance.
  RenderModel* other = loadText("models/one.mesh", quads({"lit"}));
  entity.model = other;
  EXPECT_FALSE(copy->buildInstance(&entity));
  entity.model = nullptr;
  EXPECT_FALSE(copy->buildInstance(&entity));
  delete copy;
  EXPECT_EQ(device.live, 4) << "the copy's records wait on the free list with their buffers";
  manager()->purgeFreeGeometry();
  EXPECT_EQ(device.live, 0);
}

}  // namespace
