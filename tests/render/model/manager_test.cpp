// The model manager: model 0, finding and loading by name, the list operations, reloading, the
// listing command and the default box itself.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "lib/interface/cmdsystem.h"
#include "lib/interface/managerfactory.h"
#include "lib/interface/renderentity.h"
#include "lib/matrix.h"
#include "render/model/support/modelenv.h"

namespace {

using modeltest::ModelEnv;

const char* const kQuad =
    "meshVersion 2 numMeshes 1 mesh { shader a numverts 4\n"
    "vert 0 0 0 0 0 1 0 0\nvert 2 0 0 0 0 1 1 0\nvert 2 2 0 0 0 1 1 1\nvert 0 2 0 0 0 1 0 1\n"
    "numtris 2 tri 0 1 2 tri 0 2 3 }";

class ManagerTest : public ModelEnv {};

TEST_F(ManagerTest, FirstModelBringsTheDefaultModelAtIndexZero) {
  EXPECT_EQ(manager()->numModels(), 0);
  RenderModel* model = loadText("models/quad.mesh", kQuad);
  ASSERT_EQ(manager()->numModels(), 2);
  RenderModel* first = manager()->modelAt(0);
  EXPECT_TRUE(first->isDefaultModel());
  EXPECT_STREQ(first->name(), "_default_model");
  EXPECT_EQ(manager()->modelAt(1), model);
  EXPECT_FALSE(model->isDefaultModel());
  EXPECT_EQ(model->getMode(), kModelStatic);
}

TEST_F(ManagerTest, FindingByName) {
  RenderModel* model = loadText("models/Quad.mesh", kQuad);
  EXPECT_EQ(manager()->findModel("MODELS/quad.MESH"), model);
  EXPECT_EQ(manager()->findOrLoadModel("models/QUAD.mesh"), model) << "a listed model is not loaded again";
  EXPECT_EQ(io_->loaded, 1);
  EXPECT_EQ(manager()->findModel(nullptr), nullptr);
  EXPECT_EQ(manager()->findModel(""), nullptr);
  EXPECT_EQ(manager()->findModel("models/other.mesh"), nullptr);
}

TEST_F(ManagerTest, MissingFileGivesAListedDefaultModelUnderTheDefaultName) {
  RenderModel* missing = manager()->findOrLoadModel("models/missing.mesh");
  ASSERT_NE(missing, nullptr);
  EXPECT_TRUE(missing->isDefaultModel());
  EXPECT_STREQ(missing->name(), "_default_model");
  EXPECT_NE(cmd_->errors.find("file not found \"models/missing.mesh\""), std::string::npos) << cmd_->output;
  EXPECT_EQ(cmd_->fatalCount, 0);
  // The name is gone, so a second request tries again with another model.
  RenderModel* again = manager()->findOrLoadModel("models/missing.mesh");
  EXPECT_NE(again, missing);
  EXPECT_EQ(manager()->numModels(), 3);
  // A default model is never reloaded from a file.
  missing->reload();
  EXPECT_TRUE(missing->isDefaultModel());
}

TEST_F(ManagerTest, SkinnedNamesMakeSkinnedModels) {
  // A missing skinned mesh: the default box, still a skinned model, with the message.
  RenderModel* model = manager()->findOrLoadModel("models/walker.dmesh");
  ASSERT_NE(model, nullptr);
  EXPECT_TRUE(model->isDefaultModel());
  EXPECT_EQ(model->getMode(), kModelDynamic);
  EXPECT_NE(cmd_->output.find("file not found \"models/walker.dmesh\""), std::string::npos) << cmd_->output;
}

TEST_F(ManagerTest, ListOperations) {
  BaseModel* a = manager()->allocEmptyModel();
  EXPECT_STREQ(a->name(), "empty");
  EXPECT_EQ(manager()->numModels(), 2);
  BaseModel* b = new BaseModel();
  b->init("b");
  manager()->addModel(b);
  manager()->addModel(b);
  manager()->addModel(nullptr);
  EXPECT_EQ(manager()->numModels(), 3) << "a listed model is not added twice";
  BaseModel* c = new BaseModel();
  c->init("c");
  manager()->addModel(c);
  manager()->removeModel(b);
  ASSERT_EQ(manager()->numModels(), 3);
  EXPECT_EQ(manager()->modelAt(1), a);
  EXPECT_EQ(manager()->modelAt(2), c) << "removal keeps the order of the rest";
  manager()->removeModel(b);
  EXPECT_EQ(manager()->numModels(), 3);
  manager()->freeModel(nullptr);
  manager()->freeModel(a);
  EXPECT_EQ(manager()->findModel("empty"), nullptr);
  delete b;
  manager()->freeAllModels();
  EXPECT_EQ(manager()->numModels(), 0);
  EXPECT_EQ(manager()->numFreeGeometry(), 0);
}

TEST_F(ManagerTest, ReloadModelsReadsFilesAgain) {
  RenderModel* quad = loadText("models/quad.mesh", kQuad);
  RenderModel* missing = manager()->findOrLoadModel("models/late.mesh");
  ASSERT_TRUE(missing->isDefaultModel());
  BaseModel* unloaded = manager()->allocEmptyModel();
  unloaded->init("models/late2.mesh");
  io_->addFile("models/quad.mesh",
               "meshVersion 2 numMeshes 2 mesh { shader a numverts 0 numtris 0 } mesh { shader b numverts 0 "
               "numtris 0 }");
  io_->addFile("models/late2.mesh", kQuad);

  manager()->reloadModels(false);
  EXPECT_EQ(quad->numSurfaces(), 2) << "a loaded model reads its file again";
  EXPECT_EQ(unloaded->numSurfaces(), 0) << "an unloaded model waits for a forced reload";
  EXPECT_TRUE(manager()->modelAt(0)->isDefaultModel());
  EXPECT_EQ(manager()->modelAt(0)->numSurfaces(), 1);

  cmd_->run("reloadModels");
  EXPECT_EQ(unloaded->numSurfaces(), 1) << "the command forces: every model, also never loaded ones";
  EXPECT_FALSE(unloaded->isDefaultModel());
  EXPECT_EQ(manager()->numFreeGeometry(), 0) << "each reload purges the free list";
}

TEST_F(ManagerTest, ListModelsSkipsDefaultAndEmptyModels) {
  loadText("models/quad.mesh", kQuad);
  manager()->findOrLoadModel("models/missing.mesh");
  manager()->allocEmptyModel();
  cmd_->text.clear();
  cmd_->run("listModels");
  EXPECT_NE(cmd_->text.find(":   2 tris : 0 joints : models/quad.mesh"), std::string::npos) << cmd_->text;
  EXPECT_NE(cmd_->text.find(" 1 surfs :"), std::string::npos) << cmd_->text;
  EXPECT_EQ(cmd_->text.find("_default_model"), std::string::npos);
  EXPECT_EQ(cmd_->text.find("empty"), std::string::npos);
  EXPECT_NE(cmd_->text.find("Kbytes used in 1 models"), std::string::npos) << cmd_->text;
  ASSERT_TRUE(cmd_->commands.count("listModels"));
  EXPECT_EQ(cmd_->commands["listModels"].flags, 6u);
  EXPECT_EQ(cmd_->commands["reloadModels"].description, "reloads models");
}

TEST_F(ManagerTest, DefaultBoxGeometry) {
  BaseModel model;
  model.makeDefault();
  EXPECT_TRUE(model.isDefaultModel());
  EXPECT_STREQ(model.name(), "_default_model");
  ASSERT_EQ(model.numSurfaces(), 1);
  const SurfaceGeometry* g = model.getSurface(0)->geometry;
  ASSERT_EQ(g->numVerts, 24);
  ASSERT_EQ(g->numIndexes, 36);
  EXPECT_EQ(g->bounds, Bounds(Vec3(-8, -8, -8), Vec3(8, 8, 8)));
  // Every triangle faces away from the centre, and the texture coordinates follow the formula.
  for (int t = 0; t < 12; t++) {
    const Plane& p = g->planes[t];
    EXPECT_NEAR(p.d, 8.0f, 1e-4f) << t;
  }
  for (int v = 0; v < 24; v++) {
    const DrawVertex& dv = g->verts[v];
    EXPECT_FLOAT_EQ(dv.st[0], dv.xyz[0] / 16.0f + 0.5f);
    const float t = dv.xyz[1] / 16.0f + 0.5f;
    EXPECT_FLOAT_EQ(dv.st[1], std::fabs(t) < 0.001f ? dv.xyz[2] / 16.0f + 0.5f : t);
    EXPECT_EQ(dv.color[3], 255);
  }
  Bounds placed;
  RenderEntity entity;
  entity.origin = Vec3(100, 0, 0);
  entity.axis = Mat3(Vec3(0, 1, 0), Vec3(-1, 0, 0), Vec3(0, 0, 1));
  model.getBounds(placed, &entity);
  EXPECT_EQ(placed, Bounds(Vec3(92, -8, -8), Vec3(108, 8, 8)));
}

TEST_F(ManagerTest, FactoryRegistersUnderItsMaskBit) {
  ASSERT_NE(g_managerFactories[kManagerRenderModel].create, nullptr);
  destroyRenderModelSystem();
  EXPECT_EQ(g_renderModelSystem, nullptr);
  ASSERT_TRUE(g_managerFactories[kManagerRenderModel].create());
  EXPECT_NE(g_renderModelSystem, nullptr);
  g_managerFactories[kManagerRenderModel].shutdown();
  g_managerFactories[kManagerRenderModel].destroy();
  EXPECT_EQ(g_renderModelSystem, nullptr);
  ASSERT_NE(getRenderModelSystem(), nullptr);  // for TearDown
}

}  // namespace
