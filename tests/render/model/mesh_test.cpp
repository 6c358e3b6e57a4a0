// The text mesh format: valid files, each refusal (the model falls back to the default box with a
// message), every truncation of a valid file, and the vertex data that loads.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "lib/matrix.h"
#include "render/model/support/modelenv.h"

namespace {

using modeltest::ModelEnv;

class MeshTest : public ModelEnv {};

const char* const kTwoMeshes = R"(// two meshes
meshVersion 2
numMeshes 2
mesh {
  shader "textures/crate"
  numverts 4
  vert ( 0 0 0 ) ( 0 0 1 ) ( 0 0 )
  vert ( 4 0 0 ) ( 0 0 1 ) ( 1 0 ) 10 20 30 40
  vert ( 4 4 0 ) ( 0 0 1 ) ( 1 1 ) 300 -5 128 255
  vert ( 0 4 0 ) ( 0 0 1 ) ( 0 1 )
  numtris 2
  tri 0 1 2
  tri 0 2 3
}
MESH {
  SHADER other
  NUMVERTS 3
  VERT 0 0 8 0 0 1 0 0
  VERT 1 0 8 0 0 1 1 0
  VERT 0 1 8 0 0 1 0 1
  NUMTRIS 1
  TRI ( 0 1 2 )
}
)";

TEST_F(MeshTest, ValidFilesLoad) {
  struct Case {
    const char* what;
    const char* text;
    int surfaces;
    int triangles;
  };
  const Case cases[] = {
      {"two meshes, keywords in any case, groups with and without parentheses", kTwoMeshes, 2, 3},
      {"version 1: position and texture coordinates only",
       "meshVersion 1 numMeshes 1 mesh { shader a numverts 3\n"
       "vert (0 0 0) (0 0)\nvert (1 0 0) (1 0)\nvert (0 1 0) (0 1)\n numtris 1 tri 0 1 2 }",
       1, 1},
      {"no meshes at all", "meshVersion 2\nnumMeshes 0\n", 0, 0},
      {"a mesh without triangles", "meshVersion 2 numMeshes 1 mesh { shader a numverts 0 numtris 0 }", 1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RenderModel* model = loadText(std::string("models/") + c.what + ".mesh", c.text);
    ASSERT_NE(model, nullptr);
    EXPECT_FALSE(model->isDefaultModel()) << cmd_->output;
    EXPECT_EQ(model->numSurfaces(), c.surfaces);
    EXPECT_EQ(static_cast<BaseModel*>(model)->numTriangles(), c.triangles);
    EXPECT_EQ(model->isLoaded(), c.surfaces > 0);
    EXPECT_STREQ(model->name(), (std::string("models/") + c.what + ".mesh").c_str());
  }
  EXPECT_EQ(cmd_->output.find("WARNING"), std::string::npos) << cmd_->output;
}

TEST_F(MeshTest, VerticesCarryPositionsNormalsCoordinatesAndClampedColours) {
  RenderModel* model = loadText("models/two.mesh", kTwoMeshes);
  ASSERT_EQ(model->numSurfaces(), 2);
  const SurfaceGeometry* g = model->getSurface(0)->geometry;
  ASSERT_EQ(g->numVerts, 4);
  ASSERT_EQ(g->numIndexes, 6);
  EXPECT_EQ(g->verts[2].xyz[0], 4.0f);
  EXPECT_EQ(g->verts[2].xyz[1], 4.0f);
  EXPECT_EQ(g->verts[1].st[0], 1.0f);
  EXPECT_NEAR(g->verts[0].normal[2], 1.0f, 1e-5f);
  const uint8_t white[4] = {255, 255, 255, 255};
  EXPECT_EQ(0, std::memcmp(g->verts[0].color, white, 4)) << "no colour: opaque white";
  const uint8_t given[4] = {10, 20, 30, 40};
  EXPECT_EQ(0, std::memcmp(g->verts[1].color, given, 4));
  const uint8_t clamped[4] = {255, 0, 128, 255};
  EXPECT_EQ(0, std::memcmp(g->verts[2].color, clamped, 4));
  EXPECT_EQ(g->bounds, Bounds(Vec3(0, 0, 0), Vec3(4, 4, 0)));
  EXPECT_EQ(g->facetsValid, 1);
  EXPECT_NEAR(g->planes[0].c, 1.0f, 1e-5f) << "one plane per triangle, facing +z";
  EXPECT_NEAR(g->verts[0].tangents[0][0], 1.0f, 1e-5f) << "first tangent along +s";
  const int expect[6] = {0, 1, 2, 0, 2, 3};
  EXPECT_EQ(0, std::memcmp(g->indexes, expect, sizeof(expect)));
  Bounds all;
  model->getBounds(all, nullptr);
  EXPECT_EQ(all, Bounds(Vec3(0, 0, 0), Vec3(4, 4, 8)));
}

TEST_F(MeshTest, RefusedFilesGiveTheDefaultModelWithAMessage) {
  const std::string head = "meshVersion 2 numMeshes 1 mesh { shader a ";
  const std::string verts = "numverts 3 vert 0 0 0 0 0 1 0 0 vert 1 0 0 0 0 1 1 0 vert 0 1 0 0 0 1 0 1 ";
  struct Case {
    const char* what;
    std::string text;
    const char* message;
  };
  const Case cases[] = {
      {"empty file", "", "Syntax Error"},
      {"no meshVersion", "numMeshes 0", "Syntax Error"},
      {"version is no number", "meshVersion two numMeshes 0", "WARNING"},
      {"no numMeshes", "meshVersion 2 mesh {", "Syntax Error"},
      {"no mesh keyword", "meshVersion 2 numMeshes 1 shape {", "Syntax Error"},
      {"negative mesh count", "meshVersion 2 numMeshes -1", "WARNING"},
      {"mesh count over the cap", "meshVersion 2 numMeshes 5000", "WARNING"},
      {"count is no integer", "meshVersion 2 numMeshes 1.5", "WARNING"},
      {"fewer meshes than counted", "meshVersion 2 numMeshes 2 mesh { shader a numverts 0 numtris 0 }", "WARNING"},
      {"negative vertex count", head + "numverts -3", "WARNING"},
      {"vertex count over the cap", head + "numverts 99999999999", "WARNING"},
      {"triangle count over the cap", head + verts + "numtris 2000000", "WARNING"},
      {"index past the vertices", head + verts + "numtris 1 tri 0 1 3 }", "WARNING"},
      {"negative index", head + verts + "numtris 1 tri 0 -1 2 }", "WARNING"},
      {"index is no integer", head + verts + "numtris 1 tri 0 1.5 2 }", "WARNING"},
      {"two indexes only", head + verts + "numtris 1 tri 0 1\n}", "WARNING"},
      {"version 2 vertex without its normal", head + "numverts 1 vert 0 0 0 0 0\n numtris 0 }", "Syntax Error"},
      {"a word inside a vertex", head + "numverts 1 vert 0 0 zero 0 0 1 0 0\n numtris 0 }", "Syntax Error"},
      {"an infinite coordinate", head + "numverts 1 vert 0 0 1e99 0 0 1 0 0\n numtris 0 }", "WARNING"},
      {"ends after the material", head, "WARNING"},
      {"ends inside the vertices", head + "numverts 3 vert 0 0 0 0 0 1 0 0", "WARNING"},
      {"ends before the closing brace", head + verts + "numtris 1 tri 0 1 2", "WARNING"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    cmd_->output.clear();
    RenderModel* model = loadText(std::string("models/bad ") + c.what + ".mesh", c.text);
    ASSERT_NE(model, nullptr);
    EXPECT_TRUE(model->isDefaultModel());
    EXPECT_STREQ(model->name(), "_default_model");
    EXPECT_EQ(model->numSurfaces(), 1) << "the box, with the meshes read so far dropped";
    EXPECT_EQ(model->getSurface(0)->geometry->numVerts, 24);
    EXPECT_NE(cmd_->output.find(c.message), std::string::npos) << cmd_->output;
  }
}

TEST_F(MeshTest, EveryTruncationOfAValidFileIsRefusedAndTheWholeFileLoads) {
  const std::string text = kTwoMeshes;
  const size_t end = text.rfind('}') + 1;
  for (size_t cut = 0; cut <= text.size(); cut++) {
    SCOPED_TRACE(cut);
    RenderModel* model = loadText("models/cut" + std::to_string(cut) + ".mesh", text.substr(0, cut));
    ASSERT_NE(model, nullptr);
    ASSERT_EQ(model->isDefaultModel(), cut < end) << text.substr(0, cut);
  }
}

TEST_F(MeshTest, AKeywordThatDoesNotMatchIsReportedAndParsingGoesOn) {
  RenderModel* model = loadText(
      "models/typo.mesh", "meshVersion 2 numMeshes 1 mesh { shader a numverts 0 numtriangles 0 }");
  // "numtriangles" stands where "numtris" belongs: reported, and its count is read after it.
  EXPECT_NE(cmd_->output.find("Syntax Error: parsed 'numtriangles' while expecting 'numtris'"), std::string::npos)
      << cmd_->output;
  EXPECT_FALSE(model->isDefaultModel());
  EXPECT_EQ(model->numSurfaces(), 1);
}

}  // namespace
