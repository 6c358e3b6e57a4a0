// The demo's sample meshes load with the sample materials as the content promises: a closed lit
// crate, a pillar of two surfaces, a two-sided panel drawn from one side's geometry.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "render/material/expression.h"
#include "render/material/material.h"
#include "render/model/support/modelenv.h"
#include "system/declmanager.h"

namespace {

using modeltest::ModelEnv;

std::string readSource(const std::string& relative) {
  std::ifstream in(std::string(QUILL_SOURCE_DIR) + "/" + relative);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class SamplesTest : public ModelEnv {
 protected:
  void SetUp() override {
    ModelEnv::SetUp();
    clearExpressions();
    ASSERT_NE(createDeclSystem(), nullptr);
    const std::string materials = readSource("demo/media/materials/samples.mtx");
    ASSERT_FALSE(materials.empty());
    // Found by name: the file "<material>.mtx" is the first place the declarations are looked for.
    for (const char* name : {"textures/samples/wall", "textures/samples/scroll", "textures/samples/fence"})
      io_->addFile(std::string(name) + ".mtx", materials);
    for (const char* name : {"crate", "pillar", "panel"}) {
      const std::string text = readSource(std::string("demo/media/models/") + name + ".mesh");
      ASSERT_FALSE(text.empty()) << name;
      io_->addFile(std::string("models/") + name + ".mesh", text);
    }
  }
  void TearDown() override {
    ModelEnv::TearDown();
    destroyDeclSystem();
    clearExpressions();
  }
};

TEST_F(SamplesTest, SampleMeshesLoad) {
  RenderModel* crate = manager()->findOrLoadModel("models/crate.mesh");
  ASSERT_FALSE(crate->isDefaultModel()) << cmd_->output;
  ASSERT_EQ(crate->numSurfaces(), 1);
  const SurfaceGeometry* box = crate->getSurface(0)->geometry;
  EXPECT_EQ(box->numIndexes / 3, 12);
  EXPECT_EQ(box->closed, 1) << "the lit crate casts shadows with closed edges";
  EXPECT_EQ(box->numEdges, 12);
  EXPECT_STREQ(crate->getSurface(0)->material->getName(), "textures/samples/wall");
  Bounds bounds;
  EXPECT_EQ(crate->getBounds(bounds, nullptr), Bounds(Vec3(-16, -16, -16), Vec3(16, 16, 16)));

  RenderModel* pillar = manager()->findOrLoadModel("models/pillar.mesh");
  ASSERT_FALSE(pillar->isDefaultModel()) << cmd_->output;
  ASSERT_EQ(pillar->numSurfaces(), 2);
  EXPECT_EQ(pillar->getSurface(0)->geometry->numIndexes / 3, 16);
  EXPECT_EQ(pillar->getSurface(1)->geometry->numIndexes / 3, 12);
  EXPECT_EQ(pillar->getSurface(1)->geometry->verts[0].color[0], 200) << "the caps carry a colour";

  RenderModel* panel = manager()->findOrLoadModel("models/panel.mesh");
  ASSERT_FALSE(panel->isDefaultModel()) << cmd_->output;
  ASSERT_EQ(panel->numSurfaces(), 1);
  EXPECT_TRUE(panel->getSurface(0)->material->isTwoSided());
  EXPECT_EQ(panel->getSurface(0)->geometry->numVerts, 4) << "an unlit two-sided material draws both sides itself";
  EXPECT_EQ(cmd_->output.find("WARNING"), std::string::npos) << cmd_->output;
}

}  // namespace
