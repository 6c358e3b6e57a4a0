// The skinned mesh: ".dmesh" loading (joints, bind poses, inverse binds, weights), the refusals,
// and processor skinning of a small tube against vertices worked out by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "lib/interface/convarsystem.h"
#include "lib/interface/renderentity.h"
#include "lib/matrix.h"
#include "render/model/dynamicmodel.h"
#include "render/model/support/modelenv.h"
#include "system/convarmanager.h"

namespace {

using modeltest::ModelEnv;

class DynamicModelTest : public ModelEnv {
 protected:
  DynamicModel* load(const std::string& name, const std::string& text) {
    RenderModel* model = loadText(name, text);
    // Only the manager's skinned models run in mode 2 (the default box keeps the mode it had).
    return model && model->getMode() == kModelDynamic ? static_cast<DynamicModel*>(model) : nullptr;
  }
};

// A three-joint tube section: "root" at the origin, "lower" under it, "upper" at z = 10 under
// "lower". Vertex 0 follows lower, 1 follows upper, 2 and 3 blend both, 4 has three joints.
const char* const kTube = R"(meshVersion 1
numJoints 3
numMeshes 1
joints {
  "root" -1 ( 0 0 0 ) ( 0 0 0 )
  "Lower" 0 ( 0 0 0 ) ( 0 0 0 )
  "upper" 1 ( 0 0 10 ) ( 0 0 0 )
}
mesh {
  shader "textures/tube"
  numverts 5
  vert ( 1 0 0 ) ( 0 0 ) ( 1 0 0 0 ) ( 1 0 0 0 )
  vert ( 1 0 20 ) ( 1 0 ) ( 2 0 0 0 ) ( 1 0 0 0 )
  vert ( 0 1 10 ) ( 0 1 ) ( 2 1 0 0 ) ( 0.5 0.5 0 0 )
  vert ( 0 1 10 ) ( 1 1 ) ( 2 1 0 0 ) ( 0.3 0.3 0 0 )
  vert 0 1 10 0.5 0.5 2 1 2 0 0.25 0.25 0.5 0
  numtris 2
  tri 0 1 2
  tri 2 3 4
}
)";

// Entity joints: "upper" turned a quarter about the x axis (z goes to y) about its pivot
// (0, 0, 10); the entity stands at (100, 0, 0).
RenderEntity bentEntity(RenderModel* model, Mat4* joints) {
  joints[0] = Mat4::identity();
  joints[1] = Mat4::identity();
  const Mat3 quarter(Vec3(1, 0, 0), Vec3(0, 0, -1), Vec3(0, 1, 0));
  joints[2] = Mat4::fromMat3(quarter, Vec3(0, 0, 10));
  RenderEntity entity;
  entity.model = model;
  entity.origin = Vec3(100, 0, 0);
  entity.numJoints = 3;
  entity.joints = joints;
  return entity;
}

void expectVertex(const DrawVertex& v, const Vec3& expected, const char* what) {
  EXPECT_NEAR(v.xyz[0], expected.x, 1e-4f) << what;
  EXPECT_NEAR(v.xyz[1], expected.y, 1e-4f) << what;
  EXPECT_NEAR(v.xyz[2], expected.z, 1e-4f) << what;
}

TEST_F(DynamicModelTest, LoadsJointsPosesAndWeights) {
  DynamicModel* model = load("models/tube.dmesh", kTube);
  ASSERT_NE(model, nullptr) << "a .dmesh name makes a skinned model";
  ASSERT_FALSE(model->isDefaultModel()) << cmd_->output;
  EXPECT_EQ(model->getMode(), kModelDynamic);
  EXPECT_EQ(model->numJointPoses(), 3);
  EXPECT_EQ(model->findJoint("LOWER"), 1) << "joint names compare without case";
  EXPECT_EQ(model->findJoint("missing"), -1);
  EXPECT_STREQ(model->getJointName(2), "upper");
  EXPECT_EQ(model->getJointName(3), nullptr);
  EXPECT_EQ(model->getJointName(-1), nullptr);
  ASSERT_NE(model->getJoints(), nullptr);
  EXPECT_EQ(model->getJoints()[0].parent, nullptr);
  EXPECT_EQ(model->getJoints()[2].parent, &model->getJoints()[1]);
  EXPECT_NEAR(model->getBindPoses()[2].orientation.w, 1.0f, 1e-6f) << "w comes from calcW";

  // Three-joint vertex (2 1 2 0) weights (.25 .25 .5 0) keeps every non-zero position.
  const VertexInfluence* in = model->influences(0);
  ASSERT_NE(in, nullptr);
  EXPECT_EQ(in[4].joints[2], 2);
  EXPECT_FLOAT_EQ(in[4].weights[2], 0.5f);
  EXPECT_EQ(model->dominantInfluence(0, 4), 2);
  EXPECT_EQ(model->dominantInfluence(0, 2), 0) << "a later equal weight does not win";
  EXPECT_EQ(model->dominantInfluence(0, 5), -1);
  EXPECT_EQ(model->dominantInfluence(1, 0), -1);

  // Skinned meshes move: the bounds are the cube around the bounding sphere.
  const SurfaceGeometry* g = model->getSurface(0)->geometry;
  const Vec3 size = g->bounds.maxs - g->bounds.mins;
  EXPECT_NEAR(size.x, size.z, 1e-4f);
  EXPECT_GT(size.x, 20.0f);
  EXPECT_GT(model->memoryUsed(), 5 * 20 + 3 * (64 + 28 + 36));
}

TEST_F(DynamicModelTest, InverseBindMatricesUndoTheConcatenatedBindPose) {
  // "b" is turned a quarter about z (0 0 sin45): its child "c", 5 units along b's x, sits at
  // (0, -5, 10) in model space, so c's inverse bind takes that point to the origin.
  const char* text = R"(meshVersion 1 numJoints 3 numMeshes 0
joints {
  a -1 ( 0 0 0 ) ( 0 0 0 )
  b 0 ( 0 0 10 ) ( 0 0 0.70710678 )
  c 1 ( 5 0 0 ) ( 0 0 0 )
})";
  DynamicModel* model = load("models/bind.dmesh", text);
  ASSERT_NE(model, nullptr);
  ASSERT_NE(model->inverseBindMatrices(), nullptr) << cmd_->output;
  const Vec3 origin = model->inverseBindMatrices()[2].transformPoint(Vec3(0, -5, 10));
  EXPECT_NEAR(origin.length(), 0.0f, 1e-4f);
  const Vec3 pivot = model->inverseBindMatrices()[1].transformPoint(Vec3(0, 0, 10));
  EXPECT_NEAR(pivot.length(), 0.0f, 1e-4f);
}

TEST_F(DynamicModelTest, SkinsTheTubeToHandComputedVertices) {
  DynamicModel* model = load("models/tube.dmesh", kTube);
  ASSERT_NE(model, nullptr);
  Mat4 joints[3];
  const RenderEntity entity = bentEntity(model, joints);
  BaseModel* instance = BaseModel::createCopy(model);
  ASSERT_TRUE(instance->buildInstance(&entity));
  const DrawVertex* v = instance->getSurface(0)->geometry->verts;
  // Lower joint only: moved with the entity.
  expectVertex(v[0], Vec3(101, 0, 0), "one joint, unturned");
  // Upper only: (1, 0, 20) is (1, 0, 10) from the pivot; z goes to y: (1, 10, 10) + entity.
  expectVertex(v[1], Vec3(101, 10, 10), "one joint, turned");
  // Half and half: (0, 1, 10) -> upper gives (0, 0, 9), lower (0, 1, 10).
  expectVertex(v[2], Vec3(100, 0.5f, 9.5f), "two joints, 50/50");
  // Two joints ignore the second weight: 30 % upper, 70 % lower.
  expectVertex(v[3], Vec3(100, 0.7f, 9.7f), "two joints, 0.3 of the first");
  // Three joints: .25 upper + .25 lower + .5 upper = .75 upper, .25 lower.
  expectVertex(v[4], Vec3(100, 0.25f, 9.25f), "three joints");
  // The normal of vertex 1 turns with the joint (z goes to y) and is not renormalised.
  const DrawVertex& src = model->getSurface(0)->geometry->verts[1];
  EXPECT_NEAR(v[1].normal[1], src.normal[2], 1e-5f);
  EXPECT_NEAR(v[1].normal[2], -src.normal[1], 1e-5f);
  EXPECT_EQ(v[1].st[0], 1.0f) << "texture coordinates stay";
  delete instance;
}

TEST_F(DynamicModelTest, RestPoseAndSkipJointTransformMoveRigidly) {
  getConVarManager();
  DynamicModel* model = load("models/tube.dmesh", kTube);
  ASSERT_NE(model, nullptr);
  Mat4 joints[3];
  RenderEntity entity = bentEntity(model, joints);
  joints[2] = Mat4::translate(Vec3(0, 0, 10));  // the bind pose
  BaseModel* instance = BaseModel::createCopy(model);
  const SurfaceGeometry* src = model->getSurface(0)->geometry;
  for (int skip : {0, 1}) {
    SCOPED_TRACE(skip ? "r_skipJointTransform 1, bent" : "rest pose");
    if (skip) {
      g_conVarSystem->setInt("r_skipJointTransform", 1);
      entity = bentEntity(model, joints);
    }
    ASSERT_TRUE(instance->buildInstance(&entity));
    for (int i = 0; i < src->numVerts; i++)
      expectVertex(instance->getSurface(0)->geometry->verts[i],
                   Vec3(src->verts[i].xyz[0] + 100, src->verts[i].xyz[1], src->verts[i].xyz[2]), "rigid");
  }
  delete instance;
  destroyConVarManager();
}

TEST_F(DynamicModelTest, EntityWithFewerJointsThanTheModelMovesTheRestRigidly) {
  DynamicModel* model = load("models/tube.dmesh", kTube);
  ASSERT_NE(model, nullptr);
  Mat4 joints[3];
  RenderEntity entity = bentEntity(model, joints);
  entity.numJoints = 1;  // influences name joints 1 and 2: the scratch must still hold them
  BaseModel* instance = BaseModel::createCopy(model);
  ASSERT_TRUE(instance->buildInstance(&entity));
  expectVertex(instance->getSurface(0)->geometry->verts[1], Vec3(101, 0, 20), "joint beyond the entity's");
  delete instance;
}

TEST(DynamicModelWeights, ZeroWeightsAreDropped) {
  struct Case {
    const char* what;
    VertexInfluence in;
    uint8_t joints[4];
    float weights[4];
  };
  const Case cases[] = {
      {"zero weight at position 1", {{3, 5, 0, 0}, {1, 0, 0, 0}}, {3, 0, 0, 0}, {1, 0, 0, 0}},
      {"zeros in the middle move the rest down",
       {{1, 2, 3, 4}, {0.5f, 0, 0.5f, 0}},
       {1, 3, 0, 0},
       {0.5f, 0.5f, 0, 0}},
      {"an index of 0 first leaves all unexamined", {{0, 2, 3, 0}, {0, 0, 0, 0}}, {0, 2, 3, 0}, {0, 0, 0, 0}},
      {"a tiny weight counts as zero", {{7, 8, 0, 0}, {1e-7f, 1, 0, 0}}, {8, 0, 0, 0}, {1, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    VertexInfluence in = c.in;
    compactInfluence(in);
    for (int k = 0; k < 4; k++) {
      EXPECT_EQ(in.joints[k], c.joints[k]) << k;
      EXPECT_EQ(in.weights[k], c.weights[k]) << k;
    }
  }
}

TEST_F(DynamicModelTest, RefusalsGiveTheDefaultModelWithAMessage) {
  const std::string head = "meshVersion 1 numJoints 2 numMeshes 1 joints { a -1 0 0 0 0 0 0 b 0 0 0 1 0 0 0 }\n";
  const std::string mesh = "mesh { shader s numverts 3\n";
  const char* const tail = "numtris 1 tri 0 1 2 }";
  struct Case {
    const char* what;
    std::string text;
    const char* message;
  };
  const Case cases[] = {
      {"joint index at the joint count", head + mesh + "vert 0 0 0 0 0 2 0 0 0 1 0 0 0\nvert 1 0 0 0 0 1 0 0 0 1 0 0 0\n"
                                                         "vert 0 1 0 0 0 1 0 0 0 1 0 0 0\n" + tail,
       "names joint 2 of 2"},
      {"joint index in a later position", head + mesh + "vert 0 0 0 0 0 1 0 0 9 1 0 0 0\nvert 1 0 0 0 0 1 0 0 0 1 0 0 0\n"
                                                          "vert 0 1 0 0 0 1 0 0 0 1 0 0 0\n" + tail,
       "names joint 9"},
      {"negative joint index", head + mesh + "vert 0 0 0 0 0 -1 0 0 0 1 0 0 0\n", "names joint -1"},
      {"parent not before the joint", "meshVersion 1 numJoints 2 numMeshes 0 joints { a -1 0 0 0 0 0 0 b 1 0 0 0 0 0 0 }",
       "does not come before it"},
      {"root naming itself", "meshVersion 1 numJoints 1 numMeshes 0 joints { a 0 0 0 0 0 0 0 }", "does not come before it"},
      {"too many joints", "meshVersion 1 numJoints 257 numMeshes 0 joints { }", "outside 0..256"},
      {"triangle beyond the vertices", head + "mesh { shader s numverts 1 vert 0 0 0 0 0 1 0 0 0 1 0 0 0 numtris 1 tri 0 0 1 }",
       "outside 0..0"},
      {"word for a number", head + mesh + "vert 0 zero 0 0 0 1 0 0 0 1 0 0 0\n", "expecting 'a number'"},
      {"infinite position", head + mesh + "vert 0 1e999 0 0 0 1 0 0 0 1 0 0 0\n", "expecting 'a number'"},
      {"file ends early", head + mesh + "vert 0 0 0", "ends too early"},
      {"material body never closed", head + "mesh { shader s { { map x } numverts 0", "inside a material body"},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    cmd_->output.clear();
    RenderModel* model = loadText("models/refused" + std::to_string(n++) + ".dmesh", c.text);
    ASSERT_NE(model, nullptr);
    EXPECT_TRUE(model->isDefaultModel());
    EXPECT_EQ(model->numJointPoses(), 0) << "no joints stay behind";
    EXPECT_NE(cmd_->output.find(c.message), std::string::npos) << cmd_->output;
  }
}

TEST_F(DynamicModelTest, MissingFileAndInlineMaterialBody) {
  RenderModel* missing = g_renderModelSystem->findOrLoadModel("models/none.dmesh");
  EXPECT_TRUE(missing->isDefaultModel());
  EXPECT_NE(cmd_->output.find("file not found \"models/none.dmesh\""), std::string::npos) << cmd_->output;

  // A braced body after the shader name is the material's text; the mesh still loads.
  DynamicModel* model = load("models/body.dmesh", "meshVersion 1 numJoints 1 numMeshes 1 joints { a -1 0 0 0 0 0 0 }\n"
                                                  "mesh { shader inline/body { { map textures/x } } numverts 3\n"
                                                  "vert 0 0 0 0 0 0 0 0 0 1 0 0 0\nvert 1 0 0 1 0 0 0 0 0 1 0 0 0\n"
                                                  "vert 0 1 0 0 1 0 0 0 0 1 0 0 0\nnumtris 1 tri 0 1 2 }");
  ASSERT_NE(model, nullptr);
  EXPECT_FALSE(model->isDefaultModel()) << cmd_->output;
  EXPECT_EQ(model->numSurfaces(), 1);
}

TEST_F(DynamicModelTest, EveryTruncationOfTheTubeLoadsOrRefusesCleanly) {
  const std::string text = kTube;
  for (size_t n = 0; n < text.size(); n += 3) {
    DynamicModel model;
    model.init("models/cut.dmesh");
    model.loadFromDmeshText(text.substr(0, n).c_str());
    if (!model.isDefaultModel()) {
      EXPECT_EQ(model.numJointPoses(), 3);
    }
  }
}

}  // namespace
