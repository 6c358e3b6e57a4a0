// The back end's per-light draws recorded through a recording device: the stencil counting of one
// shadow volume for every combination of caps, two-sided stencil, stencil wrap and mirroring, and the
// interaction programs chosen under "r_skipBump" and "r_skipSpecular".
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "lib/interface/convarsystem.h"
#include "lib/interface/texmanager.h"
#include "render/backend/renderbackend.h"
#include "render/material/expression.h"
#include "render/material/material.h"
#include "support/recordingdevice.h"
#include "system/convarmanager.h"
#include "tests/support/capturecmdsystem.h"

namespace {

using Calls = std::vector<std::string>;

class LightPassTest : public ::testing::Test {
 protected:
  void SetUp() override {
    getConVarManager();
    g_renderInterface = &device;
    g_renderBackEnd.reset();
    g_renderBackEnd.invalidatePrograms();
    g_renderBackEnd.setViewport(0, 0, 800, 600);
    device.take();
  }
  void TearDown() override {
    g_renderBackEnd.reset();
    g_renderBackEnd.invalidatePrograms();
    g_renderInterface = nullptr;
    clearExpressions();
    destroyConVarManager();
  }

  RecordingDevice device;
  CaptureCmdSystem cmd;
};

TEST_F(LightPassTest, ShadowVolumeStencilCountingFollowsCapsAndDeviceFeatures) {
  struct Case {
    const char* what;
    bool caps;
    int features;  // bit 0 wrap, bit 1 two-sided
    bool mirrored;
    Calls expected;
  };
  const Case cases[] = {
      {"depth fail, two-sided, wrap",
       true,
       3,
       false,
       {"setStencilFunc(8,128,255)", "setStencilMask(255)", "setCullMode(0)", "setStencilOpFace(2,1,7,1)",
        "setStencilOpFace(1,1,8,1)", "drawTriangles(36)", "setStencilOpFace(2,1,1,1)", "setStencilOpFace(1,1,1,1)",
        "setStencilOpFace(0,1,1,1)", "setCullMode(2)"}},
      {"depth pass, two-sided, wrap",
       false,
       3,
       false,
       {"setStencilFunc(8,128,255)", "setStencilMask(255)", "setCullMode(0)", "setStencilOpFace(2,1,1,8)",
        "setStencilOpFace(1,1,1,7)", "drawTriangles(36)", "setStencilOpFace(2,1,1,1)", "setStencilOpFace(1,1,1,1)",
        "setStencilOpFace(0,1,1,1)", "setCullMode(2)"}},
      {"depth fail, one-sided, no wrap",
       true,
       0,
       false,
       {"setStencilFunc(8,128,255)", "setStencilMask(255)", "setStencilOp(1,5,1)", "setCullMode(2)",
        "drawTriangles(36)", "setStencilOp(1,4,1)", "setCullMode(1)", "drawTriangles(36)", "setStencilOp(1,1,1)",
        "setCullMode(2)"}},
      {"depth pass, one-sided, wrap, mirrored",
       false,
       1,
       true,
       {"setStencilFunc(8,128,255)", "setStencilMask(255)", "setStencilOp(1,1,7)", "setCullMode(1)",
        "drawTriangles(36)", "setStencilOp(1,1,8)", "setCullMode(2)", "drawTriangles(36)", "setStencilOp(1,1,1)",
        "setCullMode(1)"}},
  };
  const std::vector<unsigned> indexes(36, 0);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    device.stencilFeatures = c.features;
    g_renderBackEnd.setMirrored(c.mirrored);
    device.take();
    g_renderBackEnd.drawShadowVolumeIndexes(indexes.data(), 36, c.caps);
    EXPECT_EQ(device.take(), c.expected);
  }
  g_renderBackEnd.setMirrored(false);
  // Nothing to draw issues nothing.
  g_renderBackEnd.drawShadowVolumeIndexes(indexes.data(), 0, true);
  EXPECT_TRUE(device.take().empty());
}

TEST_F(LightPassTest, InteractionProgramsFollowTheSkipVariables) {
  struct Case {
    int skipBump, skipSpecular;
    bool ambient;
    int vertex, fragment;
    bool specular = true;  // false: a light or group that adds no specular term
  };
  // Ids of the recording shaders: interaction.vfp 40, interaction_nos.vp 41, _nob.fp 42, _nos.fp 43,
  // _nobs.fp 44, ambientInteraction.vfp 45.
  const Case cases[] = {
      {0, 0, false, 40, 40}, {1, 0, false, 40, 42}, {0, 1, false, 41, 43},
      {1, 1, false, 41, 44}, {1, 1, true, 45, 45},
      {0, 0, false, 41, 43, false}, {1, 0, false, 41, 44, false}, {0, 0, true, 45, 45, false},
  };
  for (const Case& c : cases) {
    g_conVarSystem->setInt("r_skipBump", c.skipBump);
    g_conVarSystem->setInt("r_skipSpecular", c.skipSpecular);
    int vp = -1;
    int fp = -1;
    g_renderBackEnd.interactionPrograms(c.ambient, &vp, &fp, c.specular);
    EXPECT_EQ(vp, c.vertex) << c.skipBump << c.skipSpecular << c.ambient << c.specular;
    EXPECT_EQ(fp, c.fragment) << c.skipBump << c.skipSpecular << c.ambient << c.specular;
  }
  g_conVarSystem->setInt("r_skipBump", 0);
  g_conVarSystem->setInt("r_skipSpecular", 0);
}

TEST_F(LightPassTest, InteractionDrawAddsOverTheDepthPassAndRestoresTheDefaults) {
  Material m;
  const char* text = "bumpmap _flatbump\ndiffusemap _white\nspecularmap _black\n";
  ASSERT_TRUE(m.parse(text, int(std::strlen(text))));
  unsigned indexes[3] = {0, 1, 2};
  int fakeBuffer = 0;
  DrawSurface ds;
  ds.material = &m;
  ds.vertexBuffer = reinterpret_cast<VertexBufferHandle*>(&fakeBuffer);
  ds.indexes = indexes;
  ds.numIndexes = 3;
  g_renderBackEnd.setDrawSurface(&ds);
  InteractionLight light;
  light.origin = Vec3(1, 2, 3);
  light.color[0] = 0.5f;
  device.take();
  g_renderBackEnd.drawInteractionStages(light);
  const Calls calls = device.take();
  auto has = [&](const std::string& c) { return std::find(calls.begin(), calls.end(), c) != calls.end(); };
  auto index = [&](const std::string& c) { return std::find(calls.begin(), calls.end(), c) - calls.begin(); };
  // One group, one draw: additive where the depth pass laid the surface down (the bump stage's
  // one/one and equal), no depth writes; the light origin to env 0.
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "drawTriangles(3)"), 1);
  EXPECT_TRUE(has("shader.bind(40)"));
  EXPECT_TRUE(has("shader.env(40,0,1,2,3,1)"));
  EXPECT_LT(index("setBlendFunc(2,2)"), index("drawTriangles(3)"));
  EXPECT_EQ(calls[index("drawTriangles(3)") - 1], "setDepthFunc(3)");
  EXPECT_LT(index("setDepthMask(0)"), index("drawTriangles(3)"));
  // Units 0, 1, 6 hold the light's images; 2, 3, 4 the group's.
  for (int unit : {0, 1, 2, 3, 4, 6})
    EXPECT_TRUE(has("selectTextureUnit(" + std::to_string(unit) + ")")) << unit;
  // Afterwards the neutral state: blending off, depth writes on, lequal.
  ASSERT_GE(calls.size(), 3u);
  EXPECT_EQ(calls[calls.size() - 1], "setDepthFunc(4)");
  EXPECT_EQ(calls[calls.size() - 2], "setDepthMask(1)");
  EXPECT_TRUE(has("setBlendFunc(2,1)"));
  EXPECT_GT(index("setBlendFunc(2,1)"), index("drawTriangles(3)"));
  g_renderBackEnd.setDrawSurface(nullptr);
}

// A light without specular, or a material without a specular stage, adds no specular term: the
// draw uses the programs without the specular lookup.
TEST_F(LightPassTest, InteractionsWithoutASpecularTermUseTheProgramsWithoutIt) {
  struct Case {
    const char* text;
    bool lightSpecular;
    const char* vertex;
    const char* fragment;
  };
  // The generated black image, as the loader fills a group without a specular stage with it.
  struct BlackImage : ImageInterface {
    bool bind() override { return true; }
  } black;
  ImageInterface* const savedBlack = g_blackImage;
  g_blackImage = &black;
  const Case cases[] = {
      {"bumpmap _flatbump\ndiffusemap _white\nspecularmap _white\n", true, "shader.bind(40)", "shader.bind(40)"},
      {"bumpmap _flatbump\ndiffusemap _white\nspecularmap _white\n", false, "shader.bind(41)", "shader.bind(43)"},
      {"bumpmap _flatbump\ndiffusemap _white\n", true, "shader.bind(41)", "shader.bind(43)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Material m;
    ASSERT_TRUE(m.parse(c.text, int(std::strlen(c.text))));
    if (std::strstr(c.text, "specularmap") == nullptr) {
      ASSERT_GE(m.getNumStages(), 3);
      ASSERT_NE(m.stages[2].flags & kStageSpecular, 0u) << "the loader completes the group";
      m.stages[2].images[0] = &black;
      m.stages[2].imageCount = 1;
    }
    unsigned indexes[3] = {0, 1, 2};
    int fakeBuffer = 0;
    DrawSurface ds;
    ds.material = &m;
    ds.vertexBuffer = reinterpret_cast<VertexBufferHandle*>(&fakeBuffer);
    ds.indexes = indexes;
    ds.numIndexes = 3;
    g_renderBackEnd.setDrawSurface(&ds);
    InteractionLight light;
    light.specular = c.lightSpecular;
    device.take();
    g_renderBackEnd.drawInteractionStages(light);
    const Calls calls = device.take();
    const auto at = [&](const std::string& call) { return std::find(calls.begin(), calls.end(), call) - calls.begin(); };
    const auto draw = at("drawTriangles(3)");
    ASSERT_LT(draw, std::ptrdiff_t(calls.size())) << c.lightSpecular;
    EXPECT_LT(at(c.vertex), draw) << c.lightSpecular;
    EXPECT_LT(at(c.fragment), draw) << c.lightSpecular;
    g_renderBackEnd.setDrawSurface(nullptr);
  }
  g_blackImage = savedBlack;
}

// The interaction draw takes blend and depth test from the stage that opens the group, and a
// material of explicit light-interaction stages draws one group per such stage.
TEST_F(LightPassTest, InteractionStateComesFromTheInteractionStage) {
  struct Case {
    const char* text;
    int draws;
    const char* blend;  // the last blend call before the first draw
    const char* depth;  // the call just before the first draw
  };
  const Case cases[] = {
      {"{\nbumpmap _flatbump\nblendfunc dst_color zero\n}\ndiffusemap _white\n", 1,
       "setBlendFunc(9,1)", "setDepthFunc(3)"},
      {"bumpmap _flatbump\n{\ndiffusemap _white\ndepthFunc less\n}\n", 1, "setBlendFunc(2,2)",
       "setDepthFunc(2)"},
      {"{\nlightInteraction\nmap _flatbump\n}\n", 1, "setBlendFunc(2,2)", "setDepthFunc(4)"},
      {"{\nlightInteraction\nmap _flatbump\n}\n{\nmap _white\n}\n{\nmap _black\n}\n"
       "{\nlightInteraction\nmap _flatbump\nblendfunc one zero\ndepthFunc always\n}\n",
       2, "setBlendFunc(2,2)", "setDepthFunc(4)"},
  };
  for (const Case& c : cases) {
    Material m;
    ASSERT_TRUE(m.parse(c.text, int(std::strlen(c.text)))) << c.text;
    unsigned indexes[3] = {0, 1, 2};
    int fakeBuffer = 0;
    DrawSurface ds;
    ds.material = &m;
    ds.vertexBuffer = reinterpret_cast<VertexBufferHandle*>(&fakeBuffer);
    ds.indexes = indexes;
    ds.numIndexes = 3;
    g_renderBackEnd.setDrawSurface(&ds);
    InteractionLight light;
    device.take();
    g_renderBackEnd.drawInteractionStages(light);
    const Calls calls = device.take();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "drawTriangles(3)"), c.draws) << c.text;
    const auto draw = std::find(calls.begin(), calls.end(), "drawTriangles(3)");
    ASSERT_NE(draw, calls.end()) << c.text;
    EXPECT_EQ(*(draw - 1), c.depth) << c.text;
    std::string blend;
    for (auto it = calls.begin(); it != draw; ++it)
      if (it->rfind("setBlendFunc(", 0) == 0)
        blend = *it;
    EXPECT_EQ(blend, c.blend) << c.text;
    if (c.draws == 2) {
      // The second explicit stage brings its own state.
      const auto second = std::find(draw + 1, calls.end(), "drawTriangles(3)");
      ASSERT_NE(second, calls.end());
      EXPECT_EQ(*(second - 1), "setDepthFunc(8)");
      std::string blend2;
      for (auto it = draw; it != second; ++it)
        if (it->rfind("setBlendFunc(", 0) == 0)
          blend2 = *it;
      EXPECT_EQ(blend2, "setBlendFunc(2,1)");
    }
    g_renderBackEnd.setDrawSurface(nullptr);
  }
}

}  // namespace
