// The simple declaration kinds through the manager: table parsing and lookup, entity-definition
// inheritance (cycles and the depth limit), sound-shader parameters and samples, skins.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <string>

#include "system/decl_test_fakes.h"

namespace {

using decltest::DeclFixture;

class DeclTypesTest : public DeclFixture {};

// A table parsed from a body directly, as the manager hands it over.
std::unique_ptr<DeclTable> table(const std::string& body, bool* parsed = nullptr) {
  auto t = std::make_unique<DeclTable>();
  bool ok = t->parse(body.c_str(), int(body.size()));
  if (parsed)
    *parsed = ok;
  return t;
}

TEST_F(DeclTypesTest, TableBodiesParse) {
  struct Case {
    const char* body;
    bool parsed;
    int count;
    bool snap;
    bool clamp;
  } cases[] = {
      {"snap { 0, 0.5, 1 }", true, 3, true, false},
      {"0 0.5 1", true, 3, false, false},
      {"CLAMP { 1 2 } snap", true, 2, true, true},
      {"{ 1, 2", false, 2, false, false},  // still open at the end
      {"", true, 0, false, false},
  };
  for (const Case& c : cases) {
    bool parsed = false;
    auto t = table(c.body, &parsed);
    EXPECT_EQ(parsed, c.parsed) << c.body;
    EXPECT_EQ(t->values.num(), c.count) << c.body;
    EXPECT_EQ(t->snap, c.snap) << c.body;
    EXPECT_EQ(t->clamp, c.clamp) << c.body;
  }
  bool parsed = true;
  table("1 } 2", &parsed);
  EXPECT_FALSE(parsed) << "a stray closing brace ends the parse";

  // Through the manager: the body ends at the brace that balances the first.
  files_.add("materials/t.mtx", "table stray { 1 { 2 } } 3 }\ntable ramp { clamp 0 1 }\n");
  files_.add("materials/u.mtx", "table open { 1 { 2 }\n");
  DeclTable* stray = decls_->findTable("stray", false);
  ASSERT_NE(stray, nullptr);
  EXPECT_EQ(stray->getState(), kDeclParsed);
  EXPECT_EQ(stray->values.num(), 2);
  EXPECT_EQ(decls_->findTable("ramp", false), nullptr) << "what follows a stray brace is no block";
  DeclTable* open = decls_->findTable("open", false);
  ASSERT_NE(open, nullptr) << "an unclosed body runs to the end of the file";
  takeOutput();

  DeclTable* fallback = decls_->findTable("", true);
  EXPECT_EQ(fallback->values.num(), 1);
  EXPECT_EQ(fallback->lookup(0.3f), 1.0f);
}

TEST_F(DeclTypesTest, TableLookups) {
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  struct Case {
    const char* body;
    float x;
    float expected;
  } cases[] = {
      {"0 10", 0.25f, 2.5f},        {"0 10", 1.25f, 7.5f},  // wraps: the last value blends into the first
      {"clamp 0 10", 1.25f, 10.0f}, {"clamp 0 10", -3.0f, 0.0f},
      {"snap 0 10", 0.9f, 0.0f},    {"0 10", -0.25f, 2.5f},  // position 1.75
      {"0 10", -2.25f, 2.5f},       {"7", 123.4f, 7.0f},
      {"7", -5.0f, 7.0f},           {"", 0.5f, 0.0f},
      {"0 10 20 30", 1e9f, 0.0f},   // a huge time still lands inside the table
      {"0 10 20 30", 1e30f, 0.0f},  // beyond the precision of the position
      {"0 10", inf, 0.0f},          {"0 10", -inf, 0.0f},
      {"0 10", nan, 0.0f},          {"snap 1 2 3", 0.999f, 2.0f},
  };
  for (const Case& c : cases) {
    auto t = table(c.body);
    EXPECT_FLOAT_EQ(t->lookup(c.x), c.expected) << c.body << " at " << c.x;
  }
  // Large positions of a four-value wrapping table stay within its values.
  auto wide = table("0 10 20 30");
  for (float x = 1000.0f; x < 1e8f; x *= 3.7f) {
    float v = wide->lookup(x);
    EXPECT_TRUE(v >= 0.0f && v <= 30.0f) << x;
  }
}

TEST_F(DeclTypesTest, EntityDefsInheritMissingPairs) {
  files_.add("def/a.def",
             "entityDef a { \"inherit\" \"b\" \"x\" \"1\" }\n"
             "entityDef b { \"inherit\" \"c\" \"x\" \"2\" \"y\" \"3\" }\n"
             "entityDef c { \"z\" \"4\" \"y\" \"5\" }\n"
             "mapDef m { \"inherit\" \"a\" }\n");
  auto* a = static_cast<DeclEntityDef*>(decls_->findType(kDeclEntityDef, "a", false));
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->getState(), kDeclParsed);
  EXPECT_STREQ(a->dict.getString("x"), "1");
  EXPECT_STREQ(a->dict.getString("y"), "3");
  EXPECT_STREQ(a->dict.getString("z"), "4") << "the parent's inherited pairs arrive with it";
  EXPECT_STREQ(a->dict.getString("inherit"), "b");
  EXPECT_STREQ(a->dict.getString("classname"), "a");

  auto* m = static_cast<DeclEntityDef*>(decls_->findType(kDeclMapDef, "m", false));
  ASSERT_NE(m, nullptr);
  EXPECT_STREQ(m->dict.getString("classname"), "m");
  EXPECT_STREQ(m->dict.getString("x"), "1") << "a mapDef inherits from entityDefs";

  // Made by a request with a default: unparsed, and its next request gives a bare classname.
  auto* made = static_cast<DeclEntityDef*>(decls_->findType(kDeclEntityDef, "nothing", true));
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(made->getState(), kDeclUnparsed);
  decls_->findType(kDeclEntityDef, "nothing", false);
  EXPECT_EQ(made->getState(), kDeclParsed);
  EXPECT_EQ(made->dict.count(), 1);
  EXPECT_TRUE(takeOutput().empty());
}

TEST_F(DeclTypesTest, EntityDefErrors) {
  files_.add("def/e.def",
             "entityDef self { \"inherit\" \"self\" }\n"
             "entityDef p { \"inherit\" \"q\" }\n"
             "entityDef q { \"inherit\" \"p\" \"k\" \"v\" }\n"
             "entityDef orphan { \"inherit\" \"nobody\" }\n"
             "entityDef twice { \"classname\" \"other\" }\n");
  ASSERT_NE(decls_->findType(kDeclEntityDef, "self", false), nullptr);
  EXPECT_NE(takeOutput().find("\tERROR: potential infinite inheritence using 'self'\n"), std::string::npos);

  auto* p = static_cast<DeclEntityDef*>(decls_->findType(kDeclEntityDef, "p", false));
  ASSERT_NE(p, nullptr);
  EXPECT_NE(takeOutput().find("potential infinite inheritence"), std::string::npos) << "a cycle stops";
  EXPECT_STREQ(p->dict.getString("k"), "v");

  auto* orphan = static_cast<DeclEntityDef*>(decls_->findType(kDeclEntityDef, "orphan", false));
  ASSERT_NE(orphan, nullptr);
  EXPECT_EQ(orphan->getState(), kDeclParsed);
  EXPECT_EQ(takeOutput(), "WARNING: 'orphan' attempted to inherit undefined entityDef 'nobody'\n");

  auto* twice = static_cast<DeclEntityDef*>(decls_->findType(kDeclEntityDef, "twice", false));
  ASSERT_NE(twice, nullptr);
  EXPECT_EQ(twice->getState(), kDeclUnparsed);
  EXPECT_EQ(takeOutput(),
            "'classname' already defined\nWARNING: entityDef 'twice' in 'def/e.def' could not be parsed\n");
}

TEST_F(DeclTypesTest, InheritanceChainsStopAtDepthEight) {
  // e0 inherits e1 ... e8 (nine definitions): e8 would be parsed at depth 8.
  std::string text;
  for (int i = 0; i < 9; ++i) {
    text += "entityDef e" + std::to_string(i) + " { \"v" + std::to_string(i) + "\" \"1\"";
    if (i < 8)
      text += " \"inherit\" \"e" + std::to_string(i + 1) + "\"";
    text += " }\n";
  }
  files_.add("def/chain.def", text);
  auto* e0 = static_cast<DeclEntityDef*>(decls_->findType(kDeclEntityDef, "e0", false));
  ASSERT_NE(e0, nullptr);
  EXPECT_EQ(takeOutput(),
            "\tERROR: potential infinite inheritence using 'e8'\n"
            "WARNING: entityDef 'e8' in 'def/chain.def' could not be parsed\n");
  EXPECT_STREQ(e0->dict.getString("v7"), "1");
  EXPECT_STREQ(e0->dict.getString("v8"), "") << "the ninth link is cut";
  // The cut parent stays unparsed and resolves on its own request.
  auto* e8 = static_cast<DeclEntityDef*>(decls_->findType(kDeclEntityDef, "e8", false));
  EXPECT_EQ(e8->getState(), kDeclParsed);
}

TEST_F(DeclTypesTest, SoundShadersParseParametersFlagsAndSamples) {
  files_.add("sound/s.sndshd",
             "sound door { looping no_dups minDistance 10 maxDistance 200 volume -5 sounds/door.wav }\n"
             "sound every { private no_private no_occlusion global omni_directional looping play_once\n"
             "  unclamped no_flicker no_dups onDemand music soundClass 3 }\n"
             "sound cut { volume\n 4 sounds/a.wav }\n"
             "sound partial { missing.wav sounds/b.wav }\n");
  SoundShader* door = decls_->findSoundShader("door", false);
  ASSERT_NE(door, nullptr);
  EXPECT_EQ(door->getState(), kDeclParsed);
  EXPECT_EQ(door->parameters().flags, 0x220);
  EXPECT_EQ(door->parameters().minDistance, 10.0f);
  EXPECT_EQ(door->parameters().maxDistance, 200.0f);
  EXPECT_EQ(door->parameters().volume, -5.0f);
  ASSERT_EQ(door->numSamples(), 1);
  EXPECT_STREQ(door->sampleName(0), "sounds/door.wav");
  EXPECT_EQ(sounds_.nameOf(door->sample(0)), "sounds/door.wav");
  EXPECT_EQ(door->sample(1), nullptr);
  EXPECT_STREQ(door->sampleName(-1), "");

  SoundShader* every = decls_->findSoundShader("every", false);
  EXPECT_EQ(every->parameters().flags, 0xfff);
  EXPECT_EQ(every->parameters().soundClass, 3);
  EXPECT_EQ(every->parameters().maxDistance, 128.0f);

  SoundShader* cut = decls_->findSoundShader("cut", false);
  ASSERT_NE(cut, nullptr);
  EXPECT_EQ(cut->getState(), kDeclDefaulted) << "a keyword without its value on the line";
  EXPECT_EQ(cut->numSamples(), 0);

  SoundShader* partial = decls_->findSoundShader("partial", false);
  EXPECT_EQ(partial->numSamples(), 1);
  EXPECT_NE(takeOutput().find("SoundShader::parseAttributes: invalid sample: missing.wav\n"),
            std::string::npos);

  // Purge releases the samples; the next request takes them again.
  decls_->purge();
  EXPECT_EQ(sounds_.held(), 0);
  EXPECT_EQ(decls_->findSoundShader("door", false)->numSamples(), 1);
}

// A number out of range in a declaration names the declaration file and the line it stands on.
TEST_F(DeclTypesTest, SoundShaderNumbersOutOfRangeNameTheFileAndLine) {
  files_.add("sound/huge.sndshd",
             "// two shaders\n"
             "sound calm { volume 5 }\n"
             "sound loud\n"
             "{\n"
             "  minDistance 2\n"
             "  volume 4294967296999\n"
             "}\n");
  SoundShader* calm = decls_->findSoundShader("calm", false);
  ASSERT_NE(calm, nullptr);
  SoundShader* loud = decls_->findSoundShader("loud", false);
  ASSERT_NE(loud, nullptr);
  EXPECT_EQ(loud->getState(), kDeclParsed) << "the value is still read";
  EXPECT_EQ(loud->parameters().minDistance, 2.0f);
  const std::string output = takeOutput();
  EXPECT_NE(output.find("WARNING: sound/huge.sndshd line 6: the number '4294967296999' is out of range\n"),
            std::string::npos)
      << output;
  // Parsed again after a purge, it still knows where it came from.
  decls_->purge();
  decls_->findSoundShader("loud", false);
  EXPECT_NE(takeOutput().find("sound/huge.sndshd line 6:"), std::string::npos);
}

TEST_F(DeclTypesTest, SoundShaderSamplesAreCappedAndEveryOneCanBeDrawn) {
  std::string body;
  for (int i = 0; i < 17; ++i)
    body += " s" + std::to_string(i) + ".wav";
  files_.add("sound/many.sndshd", "many {" + body + " }\nfour { a.wav b.wav c.wav d.wav }\n");
  SoundShader* many = decls_->findSoundShader("many", false);
  ASSERT_NE(many, nullptr);
  EXPECT_EQ(many->numSamples(), 16);
  EXPECT_EQ(takeOutput(), "WARNING: sound shader 'many' holds 16 samples; 's16.wav' ignored\n");

  SoundShader* four = decls_->findSoundShader("four", false);
  struct Case {
    float x;
    const char* sample;
  } cases[] = {{0.0f, "a.wav"}, {0.24f, "a.wav"}, {0.25f, "b.wav"},
               {0.6f, "c.wav"}, {0.8f, "d.wav"},  {1.0f, "d.wav"},
               {7.0f, "d.wav"}, {-1.0f, "a.wav"}, {std::numeric_limits<float>::quiet_NaN(), "a.wav"}};
  for (const Case& c : cases)
    EXPECT_EQ(sounds_.nameOf(four->sampleAtFraction(c.x)), c.sample) << c.x;
  EXPECT_EQ(decls_->findSoundShader("", true)->sampleAtFraction(0.5f), nullptr);
}

TEST_F(DeclTypesTest, AMissingSoundShaderPlaysTheFileOfItsNameFromEverywhere) {
  SoundShader* fallback = decls_->findSoundShader("", true);
  ASSERT_NE(fallback, nullptr);
  EXPECT_STREQ(fallback->getName(), "_default");
  EXPECT_EQ(fallback->numSamples(), 0);

  SoundShader* step = decls_->findSoundShader("sounds/step.wav", true);
  ASSERT_NE(step, nullptr);
  EXPECT_EQ(step->getState(), kDeclDefaulted);
  EXPECT_EQ(step->parameters().flags, kSoundOmniDirectional);
  ASSERT_EQ(step->numSamples(), 1);
  EXPECT_STREQ(step->sampleName(0), "sounds/step.wav");

  // Reloading a default keeps it a default.
  g_cmdSystem->executeText("reloadDecls\n");
  EXPECT_EQ(step->getState(), kDeclDefaulted);
  EXPECT_EQ(step->numSamples(), 1);
}

TEST_F(DeclTypesTest, SkinsListTheirMaterialsInOrder) {
  files_.add("skins/s.skin", "skin body { textures/a textures/b\n textures/c }\nempty { }\n");
  DeclSkin* skin = decls_->findSkin("body", false);
  ASSERT_NE(skin, nullptr);
  ASSERT_EQ(skin->materials.num(), 3);
  const char* names[] = {"textures/a", "textures/b", "textures/c"};
  for (int i = 0; i < 3; ++i)
    EXPECT_STREQ(skin->materialAt(i)->getName(), names[i]);
  EXPECT_EQ(skin->materialAt(3), decls_->materialByIndex(0, false));
  EXPECT_EQ(skin->materialAt(-1), decls_->materialByIndex(0, false));
  EXPECT_STREQ(skin->materialAt(3)->getName(), "_default");

  DeclSkin* fallback = decls_->findSkin("", true);
  EXPECT_EQ(fallback->getState(), kDeclDefaulted);
  EXPECT_EQ(fallback->materials.num(), 0);
}

}  // namespace
