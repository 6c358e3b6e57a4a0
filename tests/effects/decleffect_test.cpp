// The effect language: every key as a table of text -> stored field, segment names and sizes, the
// attribute blocks, motion envelopes and their evaluation, impact blocks, the refusals with their
// messages, and the parse serial.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>

#include "effects/support/fxstandins.h"

namespace {

using fxtest::EffectsTest;

struct FieldCase {
  const char* body;
  std::function<double(const DeclEffectSegment&)> field;
  double expected;
};

const DeclEffectSegment& first(const DeclEffect& e) {
  return *e.segment(0);
}

TEST_F(EffectsTest, SegmentKeysStoreTheirFields) {
  defineMaterial("fx/mat");
  const FieldCase cases[] = {
      // Common keys.
      {"emitter a { start 0.5, 2 sprite { } }", [](auto& s) { return s.start.min; }, 0.5},
      {"emitter a { start (0.5, 2) sprite { } }", [](auto& s) { return s.start.max; }, 2},
      {"emitter a { duration 1, 3 sprite { } }", [](auto& s) { return s.duration.max; }, 3},
      {"emitter a { count 4, 9 sprite { } }", [](auto& s) { return s.count.min * 100 + s.count.max; }, 409},
      {"emitter a { detail 0.25 sprite { } }", [](auto& s) { return s.detail; }, 0.25},
      {"emitter a { scale 3 sprite { } }", [](auto& s) { return s.scale; }, 3},
      {"emitter a { attenuation 100, 300 sprite { } }", [](auto& s) { return s.attenuation.max + s.attenuate; }, 301},
      {"emitter a { attenuateEmitter sprite { } }", [](auto& s) { return s.attenuate; }, 1},
      {"emitter a { spawnAtOnce sprite { } }", [](auto& s) { return s.particles.flags; }, 0x8},
      {"emitter a { spawnSimultaneously sprite { } }", [](auto& s) { return s.particles.flags; }, 0x8},
      {"emitter a { locked sprite { } }", [](auto& s) { return s.particles.flags; }, 0x1},
      {"emitter a { constant sprite { } }", [](auto& s) { return s.particles.flags; }, 0x108},
      {"emitter a { noLooping sprite { } }", [](auto& s) { return s.particles.flags; }, 0x80},
      {"emitter a { noStopWait sprite { } }", [](auto& s) { return s.particles.flags; }, 0x400},
      {"emitter a { volume 0.5, 1 sprite { } }", [](auto& s) { return s.volume.min; }, 0.5},
      {"emitter a { freqshift 2, 3 sprite { } }", [](auto& s) { return s.freqshift.max; }, 3},
      // Emitter kinds.
      {"emitter a { sprite { } }", [](auto& s) { return s.type; }, kSegmentSprite},
      {"emitter a { oriented { } }", [](auto& s) { return s.type; }, kSegmentOriented},
      {"emitter a { model { } }", [](auto& s) { return s.type; }, kSegmentModel},
      {"emitter a { LINE { } }", [](auto& s) { return s.type; }, kSegmentLine},
      {"emitter a { linked { } }", [](auto& s) { return s.type; }, kSegmentLinked},
      {"emitter a { unknownkind { } }", [](auto& s) { return s.type; }, 0},
      // Local attributes.
      {"emitter a { sprite { tiling 16 } }", [](auto& s) { return s.particles.tiling; }, 16},
      {"emitter a { sprite { duration 2, 4 } }", [](auto& s) { return s.particles.lifetime.max; }, 4},
      {"emitter a { duration 3, 1 sprite { duration 2, 4 } }", [](auto& s) { return s.duration.min * 10 + s.duration.max; }, 34},
      {"emitter a { sprite { generatedNormal center } }", [](auto& s) { return s.particles.normalSource; }, kNormalCenter},
      {"emitter a { sprite { generatedNormal\n } }", [](auto& s) { return s.particles.normalSource; }, 0},
      {"emitter a { sprite { generatedNormal absorigin } }", [](auto& s) { return s.particles.normalSource; }, 3},
      {"emitter a { sprite { generatedOriginNormal } }", [](auto& s) { return s.particles.normalSource; }, 2},
      {"emitter a { sprite { flipNormal persist radialGravity useSurface rotateRelative orbitRelative } }",
       [](auto& s) { return s.particles.flags; }, 0x4 | 0x2 | 0x10 | 0x200 | 0x20 | 0x40},
      {"emitter a { sprite { gravity -1, 2 } }", [](auto& s) { return s.particles.endRange.max.gravity; }, 2},
      {"emitter a { sprite { gravity -1, 2 } }", [](auto& s) { return s.particles.startRange.min.gravity; }, -1},
      {"emitter a { sprite { shape cone } }", [](auto& s) { return s.particles.shape; }, kShapeCone},
      {"emitter a { sprite { shape nothing } }", [](auto& s) { return s.particles.shape; }, 0},
      {"emitter a { sprite { trailType motion } }", [](auto& s) { return s.particles.trailType; }, kTrailMotion},
      {"emitter a { sprite { trailTime 0.1, 0.2 } }", [](auto& s) { return s.particles.trailTime.max; }, 0.2f},
      {"emitter a { sprite { trailCount 0, 12 } }", [](auto& s) { return s.particles.trailCount.min * 10 + s.particles.trailCount.max; }, 8},
      {"emitter a { sprite { trailCount 3, 5 } }", [](auto& s) { return s.particles.trailCount.min * 10 + s.particles.trailCount.max; }, 35},
      {"emitter a { sprite { impact { bounce 0.5 remove 1 } } }", [](auto& s) { return s.particles.flags; }, 0x1000},
      {"emitter a { sprite { impact { bounce 0.5 remove 1 } } }", [](auto& s) { return s.particles.impact.bounce + s.particles.impact.remove; }, 1.5},
      {"emitter a { sprite { material fx/mat } }", [](auto& s) { return s.particles.material != nullptr; }, 1},
      // Attribute blocks: both halves of tint, alpha, width and length start at 1.
      {"emitter a { sprite { start { velocity 1,2,3, 4,5,6 } } }", [](auto& s) { return s.particles.startRange.max.velocity.z; }, 6},
      {"emitter a { sprite { start { velocity 1,2,3, 4,5,6 } } }", [](auto& s) { return s.particles.endRange.min.velocity.y; }, 2},
      {"emitter a { sprite { start { } } }", [](auto& s) { return s.particles.startRange.min.alpha + s.particles.startRange.max.width; }, 2},
      {"emitter a { sprite { start { position 1,2,3, 4,5,6 } } }", [](auto& s) { return s.particles.startRange.min.position.x; }, 1},
      {"emitter a { sprite { start { position useEndOrigin } } }", [](auto& s) { return s.particles.startRange.min.position.x - s.particles.startRange.max.position.x; }, 1},
      {"emitter a { sprite { start { length useEndOrigin } } }", [](auto& s) { return s.particles.startRange.min.length * 10 + s.particles.startRange.max.length; }, 10},
      {"emitter a { sprite { start { acceleration 0,0,-1, 0,0,-2 } } }", [](auto& s) { return s.particles.startRange.max.acceleration.z; }, -2},
      {"emitter a { sprite { start { friction 1,1,1, 2,2,2 } } }", [](auto& s) { return s.particles.startRange.max.friction.x; }, 2},
      {"emitter a { sprite { start { tint 0.1,0.2,0.3, 0.4,0.5,0.6 } } }", [](auto& s) { return s.particles.startRange.min.tint.z; }, 0.3f},
      {"emitter a { sprite { start { fade 0.25, 0.75 } } }", [](auto& s) { return s.particles.startRange.max.alpha; }, 0.75},
      {"emitter a { sprite { start { alpha 0.25, 0.75 } } }", [](auto& s) { return s.particles.startRange.min.alpha; }, 0.25},
      {"emitter a { sprite { start { width 2, 3 } } }", [](auto& s) { return s.particles.startRange.max.width; }, 3},
      {"emitter a { sprite { start { size 1, 2, 3, 4 } } }",
       [](auto& s) { auto& r = s.particles.startRange; return r.min.width * 1000 + r.min.length * 100 + r.max.width * 10 + r.max.length; }, 1234},
      {"emitter a { sprite { start { rotate 0,0,0.25, 0,0,0.5 } } }", [](auto& s) { return s.particles.startRange.max.rotate.z; }, 0.5},
      {"emitter a { sprite { start { offset 1,0,0, 2,0,0 } } }", [](auto& s) { return s.particles.startRange.max.offset.x; }, 2},
      {"emitter a { sprite { start { orbit 0,1,0, 0,2,0 } } }", [](auto& s) { return s.particles.startRange.min.orbit.y; }, 1},
      // "end" keeps its own values; a later "start" overwrites them again.
      {"emitter a { sprite { start { width 2, 2 } end { width 5, 5 } } }", [](auto& s) { return s.particles.endRange.min.width; }, 5},
      {"emitter a { sprite { end { width 5, 5 } start { width 2, 2 } } }", [](auto& s) { return s.particles.endRange.min.width; }, 2},
      // Sound, view, light and decal loaders.
      {"sound a { soundChannel CHANNEL_BODY2 }", [](auto& s) { return s.soundChannel; }, 5},
      {"sound a { soundChannel NOT_A_CHANNEL }", [](auto& s) { return s.soundChannel; }, -1},
      {"sound a { }", [](auto& s) { return s.type; }, kSegmentSound},
      {"shake a { }", [](auto& s) { return s.scale * 10 + s.viewKind; }, 10},
      {"tunnel a { }", [](auto& s) { return s.type * 10 + s.viewKind; }, 90},
      {"doubleVision a { scale 2 }", [](auto& s) { return s.viewKind * 10 + s.scale; }, 12},
      {"light a { light { } }", [](auto& s) { return s.particles.flags; }, 0x100},
      {"light a { light { } }", [](auto& s) { return s.type; }, kSegmentLight},
      {"decal a { decal { } }", [](auto& s) { return s.type; }, kSegmentDecal},
  };
  for (const FieldCase& c : cases) {
    DeclEffect effect;
    ASSERT_TRUE(parseBody(effect, c.body)) << c.body << "\n" << cmd_.output;
    ASSERT_EQ(effect.numSegments(), 1) << c.body;
    EXPECT_NEAR(c.field(first(effect)), c.expected, 1e-6) << c.body;
  }
}

TEST_F(EffectsTest, TopLevelSizeAndSegmentNames) {
  DeclEffect effect;
  ASSERT_TRUE(parseBody(effect,
                        "size 32\n"
                        "emitter sparks\n{ sprite { } }\n"
                        "size 64\n"
                        "emitter\n{ sprite { } }\n"
                        "shake { }\n"));
  EXPECT_EQ(effect.getSize(), 64.0f);
  ASSERT_EQ(effect.numSegments(), 3);
  EXPECT_STREQ(effect.segment(0)->name.c_str(), "sparks");
  EXPECT_STREQ(effect.segment(1)->name.c_str(), "unnamed");
  EXPECT_STREQ(effect.segment(2)->name.c_str(), "unnamed");
}

TEST_F(EffectsTest, MotionBlocksFillEnvelopes) {
  defineTable("fx/ramp", "{ 0, 1 }");
  defineTable("fx/down", "{ 1, 0 }");
  DeclEffect effect;
  ASSERT_TRUE(parseBody(effect,
                        "emitter a { sprite { motion {\n"
                        "  rotate { fx/ramp scale 2 } { fx/down offset 0.5 repeat }\n"
                        "  size { fx/down }\n"
                        "  color { fx/ramp }\n"
                        "  fade { fx/down unknownword }\n"
                        "} } }"))
      << cmd_.output;
  const EffectEnvelope* m = first(effect).particles.motion;
  ASSERT_NE(m[kMotionRotate].table, nullptr);
  EXPECT_EQ(m[kMotionRotate].scale, 2.0f);
  EXPECT_STREQ(m[kMotionRotate + 1].table->getName(), "fx/down");
  EXPECT_EQ(m[kMotionRotate + 1].offset, 0.5f);
  EXPECT_TRUE(m[kMotionRotate + 1].repeat);
  // The third component copies the first.
  EXPECT_EQ(m[kMotionRotate + 2].table, m[kMotionRotate].table);
  EXPECT_EQ(m[kMotionRotate + 2].scale, 2.0f);
  EXPECT_EQ(m[kMotionWidth].table, m[kMotionLength].table);
  EXPECT_STREQ(m[kMotionTint].table->getName(), "fx/ramp");
  EXPECT_STREQ(m[kMotionAlpha].table->getName(), "fx/down");
  EXPECT_EQ(m[kMotionOffset].table, nullptr);
}

TEST_F(EffectsTest, EnvelopeEvaluation) {
  defineTable("fx/ramp", "{ 0, 1 }");
  DeclTable* ramp = g_declSystem->findTable("fx/ramp", false);
  ASSERT_NE(ramp, nullptr);
  EffectEnvelope env;
  EXPECT_EQ(EffectEnvelope::evaluate(env, 0, 1, 0.5f), 0.0f) << "no table gives 0";
  env.table = ramp;
  EXPECT_NEAR(EffectEnvelope::evaluate(env, 0, 2, 1.0f), (1.0f + 0.008f) / 2.0f, 1e-5);
  EXPECT_NEAR(EffectEnvelope::evaluate(env, 10, 12, 10.992f), 0.5f, 1e-5);
  // A repeating envelope reads the fraction of the current second: 2.25 s -> 0.25.
  env.repeat = true;
  env.offset = 0.25f;
  env.scale = 0.5f;
  EXPECT_NEAR(EffectEnvelope::evaluate(env, 1.0f, 5.0f, 3.25f), (0.25f + 0.25f) * 0.5f, 1e-4);
  // An end not after the start gives the end value; non-finite times give 0.
  env.repeat = false;
  env.offset = 0.0f;
  env.scale = 1.0f;
  EXPECT_EQ(EffectEnvelope::evaluate(env, 2.0f, 2.0f, 2.0f), 1.0f);
  EXPECT_EQ(EffectEnvelope::evaluate(env, 3.0f, 1.0f, 2.0f), 1.0f);
  EXPECT_EQ(EffectEnvelope::evaluate(env, 0.0f, 1.0f, NAN), 0.0f);
  env.repeat = true;
  EXPECT_EQ(EffectEnvelope::evaluate(env, 0.0f, 1.0f, INFINITY), 0.0f);
}

TEST_F(EffectsTest, BadSegmentsAreDroppedWithTheirMessage) {
  struct Refusal {
    const char* body;
    const char* message;  // in the error output
  };
  const Refusal cases[] = {
      {"fizzle a { }", "failed to locate fx loader for segment type fizzle"},
      {"emitter a { sprite { material fx/none } }", "material not found 'fx/none'"},
      {"emitter a { sprite { motion { fade { fx/none } } } }", "table not found 'fx/none'"},
      {"emitter a { sprite { motion { fade fx/ramp } } }", "failed to load 'a'"},
      {"emitter a { sprite { bogus } }", "failed to load 'a'"},
      {"emitter a { sprite { start { bogus 1 } } }", "failed to load 'a'"},
      {"emitter a { sprite { start { velocity 1, 2 } } }", "floats while expecting"},
      {"emitter a { sprite { impact { bogus } } }", "failed to load 'a'"},
      {"sound a { soundShader missing/shader }", "failed to load 'a'"},
      {"decal a { sprite { } }", "failed to load 'a'"},
      {"light a { }", "failed to load 'a'"},
      {"emitter a { sprite }", "failed to load 'a'"},
      // A syntax error names the reader's source.
      {"decal a { sprite { } }", "CODE: file 'render/effects/decleffect' line"},
  };
  for (const Refusal& c : cases) {
    cmd_.output.clear();
    DeclEffect effect;
    const std::string body = std::string(c.body) + "\nshake kept { }";
    EXPECT_TRUE(parseBody(effect, body)) << c.body;
    ASSERT_EQ(effect.numSegments(), 1) << c.body << "\n" << cmd_.output;
    EXPECT_STREQ(effect.segment(0)->name.c_str(), "kept");
    EXPECT_NE(cmd_.output.find(c.message), std::string::npos) << c.body << "\n" << cmd_.output;
    // Without the good segment the parse fails and leaves no segments.
    DeclEffect alone;
    EXPECT_FALSE(parseBody(alone, c.body)) << c.body;
    EXPECT_EQ(alone.numSegments(), 0);
  }
  // A body that cannot be read at all drops every segment read so far.
  DeclEffect broken;
  EXPECT_FALSE(parseBody(broken, "shake a { }\nemitter b { sprite {"));
  EXPECT_EQ(broken.numSegments(), 0);
  DeclEffect empty;
  EXPECT_FALSE(parseBody(empty, ""));
}

TEST_F(EffectsTest, ParseCopiesOnlyTheGivenLengthAndCountsParses) {
  DeclEffect effect;
  const std::string text = "shake a { }\nshake b { }";
  ASSERT_TRUE(effect.parse(text.c_str(), 11));
  EXPECT_EQ(effect.numSegments(), 1);
  const int serial = effect.getParseSerial();
  ASSERT_TRUE(effect.parse(text.c_str(), int(text.size()) + 100));  // stops at the terminator
  EXPECT_EQ(effect.numSegments(), 2);
  EXPECT_GT(effect.getParseSerial(), serial);
  DeclEffect other;
  ASSERT_TRUE(parseBody(other, "shake c { }"));
  EXPECT_GT(other.getParseSerial(), effect.getParseSerial());
}

TEST_F(EffectsTest, ImpactEffectsResolveThroughTheManagerEvenWhenTheyNameThemselves) {
  DeclEffect* spark = define("fx/spark", "shake a { }");
  ASSERT_NE(spark, nullptr);
  DeclEffect* hit = define("fx/hit", "emitter a { sprite { impact { effect fx/spark bounce 1 } } }");
  ASSERT_NE(hit, nullptr);
  ASSERT_EQ(hit->numSegments(), 1);
  EXPECT_EQ(hit->segment(0)->particles.impact.effect, spark);
  // An effect naming itself (or a ring of effects) must not parse itself from inside its parse.
  DeclEffect* self = define("fx/self", "emitter a { sprite { impact { effect fx/self } } }");
  ASSERT_NE(self, nullptr);
  ASSERT_EQ(self->numSegments(), 1);
  EXPECT_EQ(self->segment(0)->particles.impact.effect, self);
  io_.addFile("fx/ring1.fx", "effect fx/ring1 { emitter a { sprite { impact { effect fx/ring2 } } } }");
  io_.addFile("fx/ring2.fx", "effect fx/ring2 { emitter a { sprite { impact { effect fx/ring1 } } } }");
  DeclEffect* ring1 = findEffect("fx/ring1", false);
  ASSERT_NE(ring1, nullptr);
  ASSERT_EQ(ring1->numSegments(), 1);
  DeclEffect* ring2 = ring1->segment(0)->particles.impact.effect;
  ASSERT_NE(ring2, nullptr);
  ASSERT_EQ(ring2->numSegments(), 1);
  EXPECT_EQ(ring2->segment(0)->particles.impact.effect, ring1);
  // A missing impact effect is made as a default (an effect without segments).
  DeclEffect* missing = define("fx/missing", "emitter a { sprite { impact { effect fx/nowhere } } }");
  ASSERT_NE(missing->segment(0)->particles.impact.effect, nullptr);
  EXPECT_EQ(missing->segment(0)->particles.impact.effect->numSegments(), 0);
}

TEST_F(EffectsTest, RandomDrawsStayInTheirRanges) {
  DeclEffectSegment s("emitter", "a");
  s.start = {1.0f, 3.0f};
  s.duration = {2.0f, 2.0f};
  s.count = {10, 20};
  EXPECT_EQ(s.randomStart(0.0f), 1.0f);
  EXPECT_EQ(s.randomStart(1.0f), 3.0f);
  EXPECT_EQ(s.randomStart(0.5f), 2.0f);
  EXPECT_EQ(s.randomDuration(0.7f), 2.0f);
  EXPECT_EQ(s.randomCount(0.99f), 19);
  EXPECT_EQ(s.randomCount(1.0f), 20);
  s.count = {-5, 0};
  EXPECT_EQ(s.randomCount(0.5f), -2) << "towards zero";
  s.count = {0, 2147483647};
  EXPECT_EQ(s.randomCount(1.0f), 2147483647) << "no overflow at the top of the range";
  for (int i = 0; i < 1000; i++) {
    const float u = effectRandom();
    ASSERT_GE(u, 0.0f);
    ASSERT_LE(u, 1.0f);
  }
}

}  // namespace
