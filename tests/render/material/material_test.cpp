// Materials: the language as tables of text -> parsed field, the interaction triples, the bloom
// stage, the refusals (each falls back to the default look with a message), the default and
// implicit materials, the queries, and reload with the same pointer and every image given back.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "lib/interface/userinterfacesystem.h"
#include "render/material/mtxloader.h"
#include "render/material/support/materialenv.h"
#include "system/declmanager.h"

namespace {

using mattest::MaterialTest;

int reg(const char* text) {
  return registerExpression(text);
}

const char* imageName(const Material& m, int stage, int image = 0) {
  const ImageInterface* i = m.getStageImage(stage, image);
  return i ? i->name : "(none)";
}

struct FieldCase {
  const char* body;
  std::function<long long(const Material&)> field;
  long long expected;
};

TEST_F(MaterialTest, MaterialKeywordsSetTheirFields) {
  const FieldCase cases[] = {
      {"{\nmap a\n}", [](const Material& m) { return m.cull; }, kCullBack},
      {"twoSided\n{\nmap a\n}", [](const Material& m) { return m.cull; }, kCullNone},
      {"twoSided", [](const Material& m) { return m.materialFlags & kMaterialNoShadows; }, kMaterialNoShadows},
      {"cull none", [](const Material& m) { return m.materialFlags & kMaterialNoShadows; }, kMaterialNoShadows},
      {"cull disable", [](const Material& m) { return m.cull; }, kCullNone},
      {"cull front", [](const Material& m) { return m.cull; }, kCullFront},
      {"cull front", [](const Material& m) { return m.materialFlags & kMaterialNoShadows; }, 0},
      {"sort decal", [](const Material& m) { return m.sort; }, kSortDecal},
      {"sort almostNearest", [](const Material& m) { return m.sort; }, kSortAlmostNearest},
      {"sort decal", [](const Material& m) { return m.extraFlags & kExtraSortGiven; }, kExtraSortGiven},
      {"{\nmap a\n}", [](const Material& m) { return m.sort; }, kSortOpaque},
      {"translucent\n{\nmap a\n}", [](const Material& m) { return m.sort; }, kSortFar},
      {"translucent", [](const Material& m) { return m.contentsFlags; }, 0x4001},
      {"translucent", [](const Material& m) { return m.materialFlags & 0x20000; }, 0x20000},
      {"{\nmap a\n}", [](const Material& m) { return m.contentsFlags; }, kContentsSolid},
      {"nonsolid", [](const Material& m) { return m.contentsFlags & kContentsSolid; }, 0},
      {"surfaceparm nonsolid", [](const Material& m) { return m.contentsFlags & kContentsSolid; }, 0},
      {"water", [](const Material& m) { return m.contentsFlags; }, 0x5},
      {"surfaceparm water", [](const Material& m) { return m.contentsFlags; }, 0x5},
      {"playerclip", [](const Material& m) { return m.contentsFlags; }, 0x9},
      {"surfaceparm playerclip", [](const Material& m) { return m.materialFlags; }, 0x8000},
      {"npcclip\nmoveableclip\nnavsolid", [](const Material& m) { return m.contentsFlags; }, 0x800031},
      {"areaportal\nantiportal", [](const Material& m) { return m.contentsFlags; }, 0x300001},
      {"areaportal\nantiportal", [](const Material& m) { return m.materialFlags; }, 0x6},
      {"collision", [](const Material& m) { return m.contentsFlags; }, 0x103},
      {"trigger", [](const Material& m) { return m.contentsFlags; }, 0x1000},  // also nonsolid
      {"trigger", [](const Material& m) { return m.materialFlags; }, 0x405800},
      {"NODRAW\nnoShadows\nnoSelfShadow", [](const Material& m) { return m.materialFlags; }, 0xC00800},
      {"forceShadow\ndiscrete", [](const Material& m) { return m.materialFlags; }, 0x10200000},
      {"polygonOffset 2.5", [](const Material& m) { return (long long)(m.polygonOffset * 10); }, 25},
      {"subdivide 16", [](const Material& m) { return (long long)m.subdivide; }, 16},
      {"postLighting\n{\nmap a\n}", [](const Material& m) { return m.extraFlags & 0x4; }, 0x4},
      {"nolightmap", [](const Material& m) { return m.extraFlags & 0x10; }, 0x10},
      {"blendLight", [](const Material& m) { return m.extraFlags & 0x2; }, 0x2},
      {"{\nmap a\n}", [](const Material& m) { return m.extraFlags; }, 0x124},
      {"{\nmap a\n}", [](const Material& m) { return (long long)m.lightFallback; }, 256},
      {"guiSurf entity3", [](const Material& m) { return m.guiEntity; }, 2},
      {"guiSurf entity9", [](const Material& m) { return m.guiEntity; }, 2},
      {"guiSurf entity0", [](const Material& m) { return m.guiEntity; }, 0},
      {"guiSurf ENTITY1", [](const Material& m) { return m.guiEntity; }, 0},
      {"{\nmap a\n}", [](const Material& m) { return m.guiEntity; }, -1},
      {"deform sprite", [](const Material& m) { return m.deformType; }, kDeformSprite},
      {"deform none", [](const Material& m) { return m.deformType; }, kDeformNone},
      {"deform flare 4", [](const Material& m) { return m.deformRegisters[0]; }, reg("4")},
      {"deform flare 4", [](const Material& m) { return m.deformRegisters[1]; }, reg("0")},
      {"deform expand 5", [](const Material& m) { return m.deformRegisters[2]; }, reg("5")},
      {"deform move 1 2", [](const Material& m) { return m.deformRegisters[1]; }, reg("2")},
      {"deform move", [](const Material& m) { return m.deformRegisters[0]; }, reg("0")},
      {"deform turbulent wave 1 \"time*2\" 3",
       [](const Material& m) { return m.deformType * 100 + (m.deformTable != nullptr); }, 701},
      {"deform turbulent wave 1 \"time*2\" 3", [](const Material& m) { return m.deformRegisters[1]; },
       reg("time*2")},
      {"lightFalloffImage lights/fall", [](const Material& m) { return m.falloffImage->flags; }, 0x46},
      {"clamp\n{\nmap a\n}", [](const Material& m) { return m.stages[0].images[0]->flags; }, 0x40},
  };
  for (const FieldCase& c : cases) {
    Material m;
    ASSERT_TRUE(parseBody(m, c.body)) << c.body << "\n" << cmd_.text;
    EXPECT_EQ(c.field(m), c.expected) << c.body;
  }
}

TEST_F(MaterialTest, StageKeywordsSetTheirFields) {
  const int one = reg("1.0");
  const FieldCase cases[] = {
      {"map a", [](const Material& m) { return m.stages[0].blendSrc * 100 + m.stages[0].blendDst; }, 201},
      {"map a", [](const Material& m) { return m.stages[0].depthFunc * 100 + m.stages[0].alphaFunc; }, 408},
      {"map a", [](const Material& m) { return m.stages[0].color[3]; }, one},
      {"blendfunc add", [](const Material& m) { return m.stages[0].blendSrc * 100 + m.stages[0].blendDst; }, 202},
      {"blendfunc blend", [](const Material& m) { return m.stages[0].blendSrc * 100 + m.stages[0].blendDst; }, 506},
      {"blendFunc filter", [](const Material& m) { return m.stages[0].blendSrc * 100 + m.stages[0].blendDst; }, 901},
      {"blendfunc modulate", [](const Material& m) { return m.stages[0].blendDst; }, 1},
      {"blendfunc none", [](const Material& m) { return m.stages[0].blendSrc * 100 + m.stages[0].blendDst; }, 201},
      {"blendfunc dst_alpha one_minus_src_color",
       [](const Material& m) { return m.stages[0].blendSrc * 100 + m.stages[0].blendDst; }, 704},
      {"blendfunc add", [](const Material& m) { return m.stages[0].flags; }, kStageBlendFuncGiven},
      {"alphaFunc always", [](const Material& m) { return m.stages[0].alphaRef; }, reg("0.001")},
      {"alphaFunc greater 0.5", [](const Material& m) { return m.stages[0].alphaFunc; }, kCompareGreater},
      {"alphaFunc gequal parm3", [](const Material& m) { return m.stages[0].alphaRef; }, reg("parm3")},
      {"alphaFunc never", [](const Material& m) { return m.stages[0].flags; }, kStageAlphaFuncGiven},
      {"depthFunc equal", [](const Material& m) { return m.stages[0].depthFunc; }, kCompareEqual},
      {"depthFunc always", [](const Material& m) { return m.stages[0].flags; }, kStageDepthFuncGiven},
      {"maskColor\nmaskAlpha\nmaskDepth\ndepthWrite", [](const Material& m) { return m.stages[0].flags; }, 0x3F},
      {"maskRed\nmaskGreen", [](const Material& m) { return m.stages[0].flags; }, 0x5},
      {"rgb 0.5", [](const Material& m) { return m.stages[0].color[2]; }, reg("0.5")},
      {"rgb 0.5", [](const Material& m) { return m.stages[0].color[3]; }, one},
      {"rgba parm3", [](const Material& m) { return m.stages[0].color[3]; }, reg("parm3")},
      {"red 0.25\ngreen 0.5\nblue 0.75\nalpha 0",
       [](const Material& m) {
         return m.stages[0].color[0] == reg("0.25") && m.stages[0].color[1] == reg("0.5") &&
                m.stages[0].color[2] == reg("0.75") && m.stages[0].color[3] == reg("0");
       },
       1},
      {"colored", [](const Material& m) { return m.stages[0].color[1]; }, reg("parm1")},
      {"vertexColor", [](const Material& m) { return m.stages[0].vertexColor; }, 1},
      {"translate 0.5 \"time * 0.1\"", [](const Material& m) { return m.stages[0].texMods[0].registers[1]; },
       reg("time*0.1")},
      {"rotate time\nscale 2 2",
       [](const Material& m) {
         return m.stages[0].texModCount * 100 + m.stages[0].texMods[0].type * 10 + m.stages[0].texMods[1].type;
       },
       253},
      {"centerScale 1 1\nshear 0 1",
       [](const Material& m) { return m.stages[0].texMods[0].type * 10 + m.stages[0].texMods[1].type; }, 24},
      {"texGen reflect", [](const Material& m) { return m.stages[0].texGen; }, kTexGenReflect},
      {"texGen skybox", [](const Material& m) { return m.materialFlags & kMaterialSkybox; }, kMaterialSkybox},
      {"privatePolygonOffset -1", [](const Material& m) { return (long long)m.stages[0].polygonOffset; }, -1},
      {"lightInteraction\nmap a", [](const Material& m) { return m.stages[0].flags & kStageLightInteraction; },
       kStageLightInteraction},
      {"map a\nnearest\nclamp", [](const Material& m) { return m.stages[0].images[0]->flags; }, 0},
      {"nearest\nclamp\nmap a", [](const Material& m) { return m.stages[0].images[0]->flags; }, 0x8040},
      {"cubeMap env/sky", [](const Material& m) { return m.stages[0].images[0]->flags; }, 0x100},
      {"cameraCubeMap env/cam", [](const Material& m) { return m.stages[0].images[0]->flags; }, 0x300},
      {"mirrorRenderMap 640 480",
       [](const Material& m) { return m.stages[0].images[0]->info.width * 10000 + m.stages[0].images[0]->info.height; },
       512 * 10000 + 512},
      {"mirrorRenderMap 640 480", [](const Material& m) { return m.stages[0].flags; }, 0xC0000},
      {"mirrorRenderMap 640 480", [](const Material& m) { return m.stages[0].texGen; }, kTexGenView},
      {"remoteRenderMap 100000 1", [](const Material& m) { return m.stages[0].images[0]->info.width; },
       kMaterialMaxRenderMapSize},
      {"remoteRenderMap 1 1", [](const Material& m) { return m.stages[0].images[0]->info.height; }, 1},
      {"refractRenderMap 320 240 _refract", [](const Material& m) { return m.stages[0].flags; }, 0x90000},
      {"vertexProgram glow.vp", [](const Material& m) { return m.stages[0].programs->vertexProgram; }, -1},
      {"program glow", [](const Material& m) { return m.stages[0].flags; }, kStageProgram},
      {"vertexParm 1 parm0 2", [](const Material& m) { return m.stages[0].programs->parms[1][1]; }, reg("2")},
      {"fragmentParm 0 time", [](const Material& m) { return m.stages[0].programs->parms[2][0]; }, reg("time")},
      {"fragmentParm 1 1 2 3 4", [](const Material& m) { return m.stages[0].programs->parms[3][3]; }, reg("4")},
      {"glslProgram glow\nshaderParm Strength parm5\nshaderParm strength 2",
       [](const Material& m) {
         return m.stages[0].glsl->uniforms[0].reg == reg("2") && m.stages[0].glsl->uniforms[1].name[0] == 0 &&
                m.stages[0].glsl->program == -1;
       },
       1},
      {"map a\nfragmentMap bumpTex clamp images/b",
       [](const Material& m) {
         return m.stages[0].imageCount * 1000 + (m.stages[0].images[1]->flags == 0x40) * 100 +
                (std::string(m.stages[0].imageNames[1]) == "bumpTex");
       },
       2101},
      {"shaderTexture 3 images/c", [](const Material& m) { return m.stages[0].imageCount; }, 4},
      {"videoMap loop video/missing.ovid", [](const Material& m) { return m.stages[0].flags & kStageVideo; }, 0},
      {"videoMap loop video/missing.ovid", [](const Material& m) { return m.stages[0].images[0]->flags & 0x6; }, 6},
      {"unknownStageWord whatever\nmap a", [](const Material& m) { return m.stageCount; }, 1},
  };
  for (const FieldCase& c : cases) {
    Material m;
    const std::string body = std::string("{\n") + c.body + "\n}";
    ASSERT_TRUE(parseBody(m, body)) << c.body << "\n" << cmd_.text;
    EXPECT_EQ(c.field(m), c.expected) << c.body;
  }
}

TEST_F(MaterialTest, DiffuseMapAloneBecomesABumpDiffuseSpecularTriple) {
  Material m;
  ASSERT_TRUE(parseBody(m, "diffusemap textures/a"));
  ASSERT_EQ(m.stageCount, 3);
  EXPECT_STREQ(imageName(m, 0), "_flatbump");
  EXPECT_STREQ(imageName(m, 1), "textures/a");
  EXPECT_STREQ(imageName(m, 2), "_black");
  EXPECT_TRUE(m.stages[0].flags & kStageBump);
  EXPECT_TRUE(m.stages[1].flags & kStageDiffuse);
  EXPECT_TRUE(m.stages[2].flags & kStageSpecular);
  EXPECT_EQ(m.stages[1].images[0]->flags & kImageDiffuse, kImageDiffuse);
  EXPECT_EQ(m.sort, kSortOpaque);
  EXPECT_EQ(m.stages[0].blendSrc, kBlendOne);
  EXPECT_EQ(m.stages[0].blendDst, kBlendOne);
  EXPECT_EQ(m.stages[0].depthFunc, kCompareEqual);
  EXPECT_EQ(m.stages[0].flags & 0x18u, 0x18u);
  EXPECT_EQ(m.stages[1].depthFunc, kCompareLessEqual);
  EXPECT_EQ(m.stages[2].depthFunc, kCompareEqual);
  EXPECT_TRUE(m.materialFlags & kMaterialForceOpaque);
  EXPECT_TRUE(m.hasInteractionStages());
  EXPECT_FALSE(m.hasAmbientStages());
  EXPECT_EQ(m.nextStage(0), 3);
  EXPECT_EQ(m.nextStage(1), 2);
}

TEST_F(MaterialTest, TriplesAreRegroupedAndTakeTheirTests) {
  // Specular first, then diffuse with an alpha test and a depth function; the bump arrives last.
  tex_.formats["textures/d"] = kPixelFormatRGBA;
  Material m;
  ASSERT_TRUE(parseBody(m,
                        "{\nmap _white\n}\n"
                        "{\nspecularmap textures/s\n}\n"
                        "{\ndiffusemap textures/d\nalphaFunc gequal 0.25\ndepthFunc less\nmaskRed\n}\n"
                        "{\nbumpmap textures/n\n}\n"));
  ASSERT_EQ(m.stageCount, 4);
  EXPECT_STREQ(imageName(m, 0), "_white");
  EXPECT_STREQ(imageName(m, 1), "textures/n");
  EXPECT_STREQ(imageName(m, 2), "textures/d");
  EXPECT_STREQ(imageName(m, 3), "textures/s");
  EXPECT_EQ(m.stages[1].alphaFunc, kCompareGreaterEqual);
  EXPECT_EQ(m.stages[1].alphaRef, reg("0.25"));
  EXPECT_EQ(m.stages[1].depthFunc, kCompareLess);
  EXPECT_EQ(m.stages[3].depthFunc, kCompareLess);
  EXPECT_EQ(m.stages[2].depthFunc, kCompareLessEqual);
  EXPECT_EQ(m.stages[3].flags & 0x3Fu, kStageMaskRed);  // the specular takes the diffuse's masks
  EXPECT_TRUE(m.hasAmbientStages());
  EXPECT_EQ(m.findStage(kStageDiffuse, 0, 0), 2);
  EXPECT_EQ(m.findStage(0, kStageBump | kStageDiffuse, 1), 3);
  EXPECT_EQ(m.findStage(kStageBloom, 0, 0), 4);

  // Without an alpha test the diffuse image decides: four components test "greater 0.5".
  Material alpha;
  ASSERT_TRUE(parseBody(alpha, "diffusemap textures/d"));
  EXPECT_EQ(alpha.stages[0].alphaFunc, kCompareGreater);
  EXPECT_EQ(alpha.stages[1].alphaRef, reg("0.5"));
  Material solid;
  ASSERT_TRUE(parseBody(solid, "diffusemap textures/e"));
  EXPECT_EQ(solid.stages[0].alphaFunc, kCompareAlways);
}

TEST_F(MaterialTest, SpecialStagesAndBloom) {
  Material post;
  ASSERT_TRUE(parseBody(post, "{\nmap _currentRender\n}"));
  EXPECT_EQ(post.sort, kSortPostProcess);
  EXPECT_TRUE(post.extraFlags & kExtraPostProcess);
  EXPECT_TRUE(post.stages[0].flags & kStageCurrentRender);
  EXPECT_FALSE(post.hasInteractionStages());

  Material mirror;
  ASSERT_TRUE(parseBody(mirror, "{\nmap _mirrorRenderMap\n}"));
  EXPECT_TRUE(mirror.stages[0].flags & kStageRenderMap);

  Material bloom;
  ASSERT_TRUE(parseBody(bloom, "{\nmap a\n}\n{\nbloommap glow/x\nblendfunc add\n}\n{\nmap b\n}"));
  EXPECT_EQ(bloom.stageCount, 2);
  EXPECT_STREQ(imageName(bloom, 1), "b");
  ASSERT_NE(bloom.getBloomStage(), nullptr);
  EXPECT_STREQ(bloom.getBloomStage()->images[0]->name, "glow/x");
  EXPECT_EQ(bloom.getBloomStage()->blendSrc, kBlendOne);
  Material shortcut;
  ASSERT_TRUE(parseBody(shortcut, "bloommap glow/y"));
  EXPECT_EQ(shortcut.stageCount, 0);
  ASSERT_NE(shortcut.getBloomStage(), nullptr);
  EXPECT_EQ(post.getBloomStage(), nullptr);
}

TEST_F(MaterialTest, LinesWithBracesAndCommentsAreReadAsTheLanguageSays) {
  Material m;
  // Text on a "{" line is not read; a "}" line only closes the stage; comments are skipped.
  ASSERT_TRUE(parseBody(m,
                        "// a comment line\n"
                        "twoSided /* inline */\n"
                        "{ map ignored\n"
                        "  map kept // trailing comment\n"
                        "  /* a block\n blendfunc add\n */\n"
                        "  blendfunc blend }\n"
                        "translucent\n"));
  ASSERT_EQ(m.stageCount, 1);
  EXPECT_STREQ(imageName(m, 0), "kept");
  EXPECT_EQ(m.stages[0].blendSrc, kBlendOne);  // neither blendfunc line was read
  EXPECT_EQ(m.cull, kCullNone);
  EXPECT_TRUE(m.materialFlags & kMaterialTranslucent);
}

TEST_F(MaterialTest, SurfaceTypesComeFromTheirEntityDefinition) {
  Material missing;
  EXPECT_FALSE(parseBody(missing, "metal"));
  EXPECT_NE(cmd_.text.find("ERROR: 'suface_type_names' was not found\n"), std::string::npos);
  setFile("suface_type_names.def", "entityDef suface_type_names {\n\"metal\" \"1\"\n\"wood\" \"2\"\n}\n");
  Material metal;
  ASSERT_TRUE(parseBody(metal, "surfaceType wood"));
  EXPECT_EQ(metal.surfaceType, 2);  // "classname" is key 0
  Material bare;
  ASSERT_TRUE(parseBody(bare, "metal"));
  EXPECT_EQ(bare.surfaceType, 1);
  cmd_.text.clear();
  Material stone;
  EXPECT_FALSE(parseBody(stone, "stone"));
  EXPECT_NE(cmd_.text.find("ERROR: stone was not found as a valid surface type\n"), std::string::npos);
  cmd_.text.clear();
  Material none;
  EXPECT_FALSE(parseBody(none, "surfaceType"));
  EXPECT_NE(cmd_.text.find("ERROR: invalid parameter count for 'surfaceType'\n"), std::string::npos);
}

std::string stages(int count, const std::string& inside = "map a") {
  std::string out;
  for (int i = 0; i < count; ++i)
    out += "{\n" + inside + "\n}\n";
  return out;
}

std::string lines(const std::string& line, int count) {
  std::string out;
  for (int i = 0; i < count; ++i)
    out += line + "\n";
  return out;
}

TEST_F(MaterialTest, RefusedTextsFailWithAMessageAndDrawAsTheDefault) {
  std::string seventeenImages = "{\n";
  for (int i = 0; i < 17; ++i)
    seventeenImages += "fragmentMap unit" + std::to_string(i) + " img" + std::to_string(i) + "\n";
  seventeenImages += "}";
  struct Case {
    std::string body;
    const char* message;
  };
  const Case cases[] = {
      {stages(9), "more than 8 stages"},
      {stages(8) + "diffusemap x", "more than 8 stages"},
      {stages(7) + "bumpmap n\ndiffusemap d", "more than 8 stages"},
      {"{\n" + lines("scale 1 1", 9) + "}", "more than 8 texture-coordinate modifiers"},
      {"{\nvertexParm 2 1\n}", "invalid program parameter index 2"},
      {"{\nfragmentParm -1 1\n}", "invalid program parameter index -1"},
      {"{\nvertexParm 0 1 2 3 4 5\n}", "more than four expressions"},
      {"{\nvertexParm 0\n}", "invalid parameter count for 'vertexParm'"},
      {seventeenImages, "more than 16 images"},
      {"{\nshaderTexture 16 x\n}", "texture unit '16' outside 0..15"},
      {"{\nshaderTexture -1 x\n}", "texture unit '-1' outside 0..15"},
      {"{\nshaderTexture seven x\n}", "texture unit 'seven' outside 0..15"},
      {"{\n" + lines("shaderParm \"p\" 1", 1) + [] {
         std::string s;
         for (int i = 0; i < 17; ++i)
           s += "shaderParm u" + std::to_string(i) + " 1\n";
         return s;
       }() + "}",
       "more than 16 shader parameters"},
      {"{\nblendfactor 1 1\n}", "blendfactor"},
      {"{\nblendfunc gl_one gl_zero\n}", "invalid blendfunc"},
      {"{\nblendfunc add one\n zero\n}", "invalid blendfunc"},
      {"{\nalphaFunc greater\n}", "needs a reference value"},
      {"{\nalphaFunc sometimes 0.5\n}", "'sometimes' was not found"},
      {"{\ndepthFunc\n}", "invalid parameter count for 'depthFunc'"},
      {"{\ntexGen sphere\n}", "'sphere' was not found"},
      {"{\nmap a b\n}", "MtxLoader::parseTexMap"},
      {"{\nprivatePolygonOffset\n}", "MtxLoader::parsePrivatePolygonOffset"},
      {"{\ntranslate\n}", "MtxLoader::parseTCMod - invalid parameters for func 'translate' (argc = 0)"},
      {"{\nrgb\n}", "invalid parameter count for 'rgb'"},
      {"{\nmirrorRenderMap 64\n}", "invalid parameter count for 'mirrorRenderMap'"},
      {"cull sideways", "'sideways' was not found"},
      {"sort 5", "'5' was not found"},
      {"surfaceparm shiny", "'shiny' was not found"},
      {"deform wobble", "'wobble' was not found"},
      {"deform turbulent wave 1 2", "MTX_DFRM_TURB - invalid parameter count (4)"},
      {"guiSurf guis/missing.gui", "gui 'guis/missing.gui' was not found"},
      {"guiSurf", "invalid parameter count for 'guiSurf'(0)"},
      {"frobnicate 1 2", "unknown material keyword 'frobnicate'"},
      {"rgb 1 2", "unknown material keyword 'rgb'"},
  };
  for (const Case& c : cases) {
    cmd_.output.clear();
    Material m;
    EXPECT_FALSE(parseBody(m, c.body)) << c.body;
    EXPECT_NE(cmd_.output.find(c.message), std::string::npos) << c.body << "\nprinted: " << cmd_.output;
    // The default look: one "_white" stage blended over what lies behind.
    ASSERT_EQ(m.stageCount, 1) << c.body;
    EXPECT_STREQ(imageName(m, 0), "_white");
    EXPECT_EQ(m.stages[0].blendSrc, kBlendSrcAlpha);
    EXPECT_LE(m.stageCount, kMaterialMaxStages);
  }
}

// Numbers out of range are kept, but named with the file and the line, in the material's own
// lines and in its stages' (expressions too).
TEST_F(MaterialTest, NumbersOutOfRangeNameTheFileAndLine) {
  setFile("textures/huge.mtx",
          "// huge numbers\n"
          "material textures/huge\n"
          "{\n"
          "\tpolygonOffset 1e20\n"
          "\t{\n"
          "\t\tmap _white\n"
          "\t\trgb \"time * 4294967296999\"\n"
          "\t}\n"
          "}\n");
  cmd_.output.clear();
  Material* m = findMaterial("textures/huge", false);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->getState(), kDeclParsed) << cmd_.output;
  EXPECT_NE(cmd_.output.find("WARNING: textures/huge.mtx line 4: the number '1e20' is out of range\n"),
            std::string::npos)
      << cmd_.output;
  EXPECT_NE(
      cmd_.output.find("WARNING: textures/huge.mtx line 7: the number '4294967296999' is out of range\n"),
      std::string::npos)
      << cmd_.output;
}

// A refused text is parsed once per load: the default material it fell back to is kept however
// often the material is used, and only a reload (or a purge's next use) parses and reports again.
TEST_F(MaterialTest, ARefusedTextIsParsedOncePerLoad) {
  setFile("textures/images.tga", "x");
  cmd_.output.clear();
  Material* m = define("textures/refused", "frobnicate 1 2\n{\nmap textures/images\n}");
  ASSERT_NE(m, nullptr);
  const std::string message = "unknown material keyword 'frobnicate'";
  auto said = [&] {
    int n = 0;
    for (size_t at = cmd_.output.find(message); at != std::string::npos;
         at = cmd_.output.find(message, at + 1))
      ++n;
    return n;
  };
  EXPECT_EQ(said(), 1) << cmd_.output;
  EXPECT_EQ(m->getState(), kDeclDefaulted);
  const int references = tex_.references();
  for (int i = 0; i < 1000; ++i) {
    EXPECT_FALSE(m->ensureLoaded());
    m->isOpaque();
  }
  EXPECT_EQ(said(), 1) << "used a thousand times, parsed once";
  EXPECT_EQ(tex_.references(), references) << "its images are not released and found again";
  ASSERT_EQ(m->stageCount, 1);
  EXPECT_EQ(m->stages[0].blendSrc, kBlendSrcAlpha) << "the default material";

  g_declSystem->reloadAll(true);
  EXPECT_EQ(said(), 2) << "a reload parses it again";
  g_declSystem->purge();
  EXPECT_TRUE(m->ensureLoaded());
  EXPECT_EQ(said(), 3) << "so does the first use after a purge";
  EXPECT_FALSE(m->ensureLoaded());
  EXPECT_EQ(said(), 3);
}

TEST_F(MaterialTest, RegroupingNeverWritesPastEightStages) {
  // Six diffuse stages each want a bump and a specular: only whole groups that fit are made.
  Material m;
  ASSERT_TRUE(parseBody(m, lines("diffusemap d", 6)));
  EXPECT_LE(m.stageCount, kMaterialMaxStages);
  EXPECT_NE(cmd_.text.find("no room for a bump/diffuse/specular group"), std::string::npos);
  Material full;
  ASSERT_TRUE(parseBody(full, lines("diffusemap d", 2) + lines("specmap s", 2) + lines("bumpmap b", 2)));
  EXPECT_EQ(full.stageCount, 6);
  for (int i = 0; i < 6; i += 3) {
    EXPECT_TRUE(full.stages[i].flags & kStageBump);
    EXPECT_TRUE(full.stages[i + 1].flags & kStageDiffuse);
    EXPECT_TRUE(full.stages[i + 2].flags & kStageSpecular);
  }
}

TEST_F(MaterialTest, TheDefaultMaterialShowsWhiteOrItsOwnImage) {
  Material* fallback = defaultMaterial();
  ASSERT_NE(fallback, nullptr);
  EXPECT_STREQ(fallback->getName(), "_default");
  EXPECT_EQ(fallback->getIndex(), 0);
  ASSERT_EQ(fallback->stageCount, 1);
  const MaterialStage& s = fallback->stages[0];
  EXPECT_STREQ(s.images[0]->name, "_white");
  EXPECT_EQ(s.images[0]->flags, 0x46u);  // forceHighQuality, nopicmip, clamp
  EXPECT_EQ(s.blendSrc * 100 + s.blendDst, 506);
  EXPECT_EQ(s.alphaFunc, kCompareGreater);
  EXPECT_EQ(s.alphaRef, reg("0"));
  EXPECT_TRUE(s.flags & kStageMaskDepth);
  EXPECT_EQ(fallback->materialFlags & 0xC00000u, 0xC00000u);
  EXPECT_FALSE(fallback->hasInteractionStages());

  // A name with no text and no image: a defaulted material drawing white.
  Material* missing = findMaterial("textures/nothing", true);
  ASSERT_NE(missing, nullptr);
  EXPECT_EQ(missing->getState(), kDeclParsed);
  EXPECT_STREQ(imageName(*missing, 0), "_white");
  EXPECT_EQ(findMaterial("textures/nothing2", false), nullptr);
}

TEST_F(MaterialTest, ImageFilesGetTheirImplicitMaterial) {
  setFile("textures/wall.tga", "tga");
  setFile("fonts/big_0.tga", "tga");
  Material* wall = findMaterial("textures/wall", false);
  ASSERT_NE(wall, nullptr);
  EXPECT_EQ(wall->getState(), kDeclParsed);
  EXPECT_STREQ(imageName(*wall, 0), "textures/wall");
  EXPECT_EQ(wall->stages[0].vertexColor, 0);
  Material* font = findMaterial("fonts/big_0", false);
  ASSERT_NE(font, nullptr);
  EXPECT_EQ(font->stages[0].vertexColor, 1);

  String text;
  // A file name with a blank cannot stand in the implicit text: the material falls back to white.
  setFile("textures/my wall.tga", "tga");
  Material* blank = findMaterial("textures/my wall", false);
  ASSERT_NE(blank, nullptr);
  ASSERT_EQ(blank->stageCount, 1);
  EXPECT_STREQ(imageName(*blank, 0), "_white");

  Material::buildDefaultText(text, "video/intro.ovid");
  EXPECT_NE(std::string(text.c_str()).find("\tvideoMap loop video/intro.ovid\n"), std::string::npos);
  Material::buildDefaultText(text, "fonts/a");
  EXPECT_EQ(std::string(text.c_str()),
            "\nnoShadows\nnoSelfShadow\n{\n\tforceHighQuality\n\tnopicmip\n\tclamp\n\tmap fonts/a\n\tblendFunc "
            "blend\n\talphaFunc greater 0\n\tmaskDepth\n\tvertexColor\n}");
}

TEST_F(MaterialTest, QueriesReadTheStages) {
  Material m;
  ASSERT_TRUE(parseBody(m, "{\nmap a\nalpha parm0\nalphaFunc greater 0.5\nmaskDepth\n}"));
  float parms[12] = {};
  setExpressionParms(parms);
  EXPECT_FALSE(m.hasVisibleStage());
  parms[0] = 0.75f;
  EXPECT_TRUE(m.hasVisibleStage());
  EXPECT_EQ(m.getStage(1), nullptr);
  EXPECT_EQ(m.getStage(-1), nullptr);
  EXPECT_EQ(m.getStageImage(0, 16), nullptr);
  EXPECT_EQ(m.getStageImage(0, 1), nullptr);
  EXPECT_FALSE(m.isOpaque());  // every stage masks depth
  Material nodraw;
  ASSERT_TRUE(parseBody(nodraw, "nodraw\n{\nmap a\n}"));
  EXPECT_FALSE(nodraw.hasVisibleStage());
  EXPECT_TRUE(nodraw.isOpaque());
  Material forced;
  ASSERT_TRUE(parseBody(forced, "translucent\nforceOpaque\n{\nmap a\n}"));
  EXPECT_TRUE(forced.isOpaque());
  Material flare;
  ASSERT_TRUE(parseBody(flare, "deform flare 2"));
  EXPECT_FALSE(flare.hasDeform());
  Material sprite;
  ASSERT_TRUE(parseBody(sprite, "deform sprite"));
  EXPECT_TRUE(sprite.hasDeform());
  setExpressionParms(nullptr);
}

TEST_F(MaterialTest, ReloadKeepsThePointerAndGivesEveryImageBack) {
  Material* m = define("textures/door", "{\nmap textures/door_a\n}");
  ASSERT_NE(m, nullptr);
  EXPECT_STREQ(imageName(*m, 0), "textures/door_a");
  ASSERT_NE(tex_.image("textures/door_a"), nullptr);
  EXPECT_EQ(tex_.image("textures/door_a")->refCount, 1);

  setFile("textures/door.mtx", "textures/door\n{\ntwoSided\ndiffusemap textures/door_b\n}\n");
  g_declSystem->reloadAll(true);
  EXPECT_EQ(findMaterial("textures/door", false), m);
  EXPECT_EQ(m->cull, kCullNone);
  EXPECT_EQ(m->stageCount, 3);
  EXPECT_EQ(tex_.image("textures/door_a")->refCount, 0);

  // A purge (map change) keeps the object too; it parses again on its next use. Only the default
  // material (index 0, never purged) keeps its image.
  g_declSystem->purge();
  EXPECT_EQ(m->getState(), kDeclUnparsed);
  EXPECT_EQ(m->stageCount, 0);
  EXPECT_EQ(tex_.references(), 1);
  EXPECT_EQ(defaultMaterial()->stageCount, 1);
  EXPECT_EQ(findMaterial("textures/door", false), m);
  EXPECT_EQ(m->stageCount, 3);

  // "reloadDecls <name>" through the command.
  setFile("textures/door.mtx", "textures/door\n{\n{\nmap textures/door_c\n}\n}\n");
  getDeclManager()->reloadDecl(static_cast<DeclInterface*>(m->decl));
  EXPECT_EQ(findMaterial("textures/door", false), m);
  EXPECT_STREQ(imageName(*m, 0), "textures/door_c");
  EXPECT_EQ(tex_.references(), 2);

  // createMaterialFromText replaces the same object's text.
  EXPECT_EQ(Material::fromDecl(g_declSystem->createMaterialFromText("textures/door { sort decal }")), m);
  EXPECT_EQ(m->sort, kSortDecal);
  EXPECT_EQ(tex_.references(), 1);
}

TEST_F(MaterialTest, FreeingReleasesEveryImageReference) {
  setFile("textures/falloff.tga", "x");
  Material* m = define("textures/busy",
                       "lightFalloffImage textures/falloff\n"
                       "diffusemap textures/d\n"
                       "{\nmap a\nfragmentMap one b\nfragmentMap one c\nshaderTexture 5 e\nshaderTexture 5 f\n}\n"
                       "{\nbloommap g\n}\n"
                       "{\nmirrorRenderMap 64 64\n}\n"
                       "{\nvideoMap loop h.ovid\nvertexProgram p\nglslProgram q\nshaderParm s 1\n}\n");
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->getState(), kDeclParsed) << cmd_.text;
  EXPECT_GT(tex_.references(), 8);
  EXPECT_EQ(tex_.image("b")->refCount, 0);  // replaced in its slot
  m->freeData();
  EXPECT_EQ(tex_.references(), 1);  // the default material's "_white"
  EXPECT_EQ(m->stageCount, 0);
  EXPECT_EQ(m->cull, kCullBack);
  EXPECT_EQ(m->guiEntity, -1);
  EXPECT_EQ(m->falloffImage, nullptr);
}

TEST_F(MaterialTest, ListDeclsShowsMaterials) {
  define("textures/listed", "{\nmap a\n}");
  cmd_.text.clear();
  getDeclManager()->listDecls();
  EXPECT_NE(cmd_.text.find("textures/listed"), std::string::npos);
  EXPECT_NE(cmd_.text.find("|material  |PARSED"), std::string::npos) << cmd_.text;
}

}  // namespace

namespace {

// Everything the engine draws flat (text, the interface's fill and cursor, the console's
// background) blends by alpha, as the images' alpha and the panels' colours expect.
TEST_F(MaterialTest, TheSampleFlatMaterialsBlendByAlpha) {
  struct File {
    const char* file;
    std::vector<const char*> names;
  };
  const File files[] = {{"fonts.mtx", {"fonts/dejavumono", "fonts/console/dejavumono", "consoleBG"}},
                        {"guis.mtx", {"guiWhite", "guis/assets/guicursor_arrow"}}};
  for (const File& f : files) {
    std::ifstream in(std::string(QUILL_SOURCE_DIR) + "/demo/media/materials/" + f.file);
    ASSERT_TRUE(in.good()) << f.file;
    std::stringstream text;
    text << in.rdbuf();
    // The in-memory file system has no folder listings: the file stands under each name it defines.
    for (const char* name : f.names)
      setFile(std::string(name) + ".mtx", text.str());
  }
  for (const char* name : {"fonts/dejavumono", "fonts/console/dejavumono", "consoleBG", "guiWhite",
                           "guis/assets/guicursor_arrow"}) {
    Material* m = findMaterial(name, false);
    ASSERT_NE(m, nullptr) << name;
    ASSERT_EQ(m->getState(), kDeclParsed) << name << cmd_.output;
    ASSERT_EQ(m->stageCount, 1) << name;
    EXPECT_EQ(m->stages[0].blendSrc, kBlendSrcAlpha) << name;
    EXPECT_EQ(m->stages[0].blendDst, kBlendOneMinusSrcAlpha) << name;
  }
}

// The demo's sample materials parse as the content promises.
TEST_F(MaterialTest, SampleMaterialsParse) {
  std::ifstream in(std::string(QUILL_SOURCE_DIR) + "/demo/media/materials/samples.mtx");
  ASSERT_TRUE(in.good());
  std::stringstream text;
  text << in.rdbuf();
  // The in-memory file system has no folder listings: the file stands under each name it defines.
  for (const char* name : {"textures/samples/wall", "textures/samples/glow", "textures/samples/scroll",
                           "textures/samples/fence", "sampleWave"})
    setFile(std::string(name) + ".mtx", text.str());

  Material* wall = findMaterial("textures/samples/wall", false);
  ASSERT_NE(wall, nullptr);
  ASSERT_EQ(wall->getState(), kDeclParsed) << cmd_.output;
  ASSERT_EQ(wall->stageCount, 3);
  EXPECT_STREQ(imageName(*wall, 0), "textures/samples/wall_n");
  EXPECT_STREQ(imageName(*wall, 1), "textures/samples/wall_d");
  EXPECT_STREQ(imageName(*wall, 2), "textures/samples/wall_s");
  EXPECT_TRUE(wall->hasInteractionStages());
  EXPECT_EQ(wall->contentsFlags, 0x103u);

  Material* glow = findMaterial("textures/samples/glow", false);
  ASSERT_NE(glow, nullptr);
  ASSERT_EQ(glow->getState(), kDeclParsed) << cmd_.output;
  EXPECT_EQ(glow->sort, kSortFar);
  EXPECT_EQ(glow->stages[0].blendSrc * 100 + glow->stages[0].blendDst, 202);
  EXPECT_EQ(glow->deformType, kDeformSprite);
  EXPECT_EQ(glow->contentsFlags & kContentsSolid, 0u);
  const ExpressionRegister* pulse = getExpressionRegisterRecord(glow->stages[0].color[0]);
  ASSERT_NE(pulse, nullptr);
  EXPECT_EQ(pulse->items[0].kind, 'T');  // the wave table was found
  float parms[12] = {1, 1, 1, 1, 0};
  setExpressionParms(parms);
  const float origin[3] = {};
  const DeclTable* wave = g_declSystem->findTable("sampleWave", false);
  ASSERT_NE(wave, nullptr);
  ASSERT_EQ(wave->values.num(), 16);
  for (int ms : {0, 500, 1500, 2600}) {
    setExpressionView(origin, ms);
    EXPECT_NEAR(evaluateExpression(glow->stages[0].color[0]), wave->lookup(ms * 0.0005f) * 0.25f + 0.75f, 1e-5f);
  }

  Material* scroll = findMaterial("textures/samples/scroll", false);
  ASSERT_NE(scroll, nullptr);
  ASSERT_EQ(scroll->stages[0].texModCount, 1);
  EXPECT_NEAR(evaluateExpression(scroll->stages[0].texMods[0].registers[0]), 0.65f, 1e-6f);  // 2.6 s x 0.25
  EXPECT_EQ(scroll->stages[0].color[0], reg("parm0"));

  Material* fence = findMaterial("textures/samples/fence", false);
  ASSERT_NE(fence, nullptr);
  EXPECT_TRUE(fence->isTwoSided());
  EXPECT_TRUE(fence->materialFlags & kMaterialNoShadows);
  EXPECT_EQ(fence->contentsFlags, 0x9u);
  EXPECT_EQ(fence->stages[0].alphaFunc, kCompareGreater);
  setExpressionParms(nullptr);
  setExpressionView(nullptr, 0);
}

}  // namespace

namespace {

class FakeGui : public UserInterface {
 public:
  void namedEvent(const char*) override {}
  void redraw(int) override {}
  void setStateString(const char*, const char*) override {}
  void setStateFloat(const char*, float) override {}
  void activate(bool, int) override {}
  const char* handleEvent(const UIInputEvent*, int, bool*) override { return nullptr; }
};

class FakeUISystem : public UserInterfaceSystem {
 public:
  FakeUISystem() { g_uiSystem = this; }
  ~FakeUISystem() override { g_uiSystem = nullptr; }
  UserInterface* findGui(const char* name, bool create, bool) override {
    ++finds;
    creates += create;
    return std::string(name) == "guis/screen.gui" ? &gui : nullptr;
  }
  void freeGui(UserInterface*) override { ++frees; }
  void frame(int) override {}
  FakeGui gui;
  int finds = 0, creates = 0, frees = 0;
};

// A GUI surface shows an interface the manager already holds, and never frees it.
TEST_F(MaterialTest, GuiSurfacesBorrowTheManagersInterface) {
  FakeUISystem ui;
  setFile("guis/screen.gui", "windowDef Desktop {}");
  setFile("guis/other.gui", "windowDef Desktop {}");
  Material* screen = define("textures/screen", "guiSurf guis/screen.gui\n{\nmap a\n}");
  ASSERT_NE(screen, nullptr);
  EXPECT_EQ(screen->gui, &ui.gui);
  Material* other = define("textures/other", "guiSurf guis/other.gui");
  ASSERT_NE(other, nullptr);
  EXPECT_EQ(other->getState(), kDeclParsed);
  EXPECT_EQ(other->gui, nullptr);  // exists, but not loaded yet
  g_declSystem->reloadAll(true);
  EXPECT_EQ(screen->gui, &ui.gui);
  destroyDeclSystem();
  EXPECT_EQ(ui.creates, 0);
  EXPECT_EQ(ui.frees, 0);
}

}  // namespace
