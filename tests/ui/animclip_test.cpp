// Animation clips read from text files: the frame at a time (64-bit frame time included), joints
// blended between frames against hand-computed values, the root carried forward pass by pass,
// joint counts that differ between model and clip, and the files refused (a table).
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "tests/support/capturecmdsystem.h"
#include "tests/support/memoryiosystem.h"
#include "ui/animclip.h"

namespace {

// Two joints over three frames at 10 frames a second: the root moves along x (component 0), the
// arm along y and about z (components 1 and 2).
const char* const kSwing =
    "meshVersion 4\n"
    "numFrames 3\n"
    "numJoints 2\n"
    "frameRate 10\n"
    "numAnimatedComponents 3\n"
    "hierarchy {\n"
    "  \"root\" -1 1 0\n"
    "  \"arm\" 0 34 1\n"
    "}\n"
    "bounds {\n"
    "  ( -1 -1 -1 ) ( 1 1 1 )\n"
    "  ( -1 -1 -1 ) ( 1 1 1 )\n"
    "  ( -2 -2 -2 ) ( 2 2 2 )\n"
    "}\n"
    "baseframe {\n"
    "  ( 5 1 2 ) ( 0 0 0 )\n"
    "  ( 0 0 10 ) ( 0 0 0 )\n"
    "}\n"
    "frame 0 { 5 0 0 }\n"
    "frame 1 { 7 2 0.5 }\n"
    "frame 2 {\n 9\n 4\n 0.6\n}\n";

std::string replaced(std::string text, const std::string& from, const std::string& to) {
  const size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos)
    text.replace(at, from.size(), to);
  return text;
}

// A clip of n frames and one still joint.
std::string stillClip(int frames, int rate) {
  std::string text = "meshVersion 4 numFrames " + std::to_string(frames) + " numJoints 1 frameRate " +
                     std::to_string(rate) + " numAnimatedComponents 0 hierarchy { root -1 0 0 } bounds {";
  for (int f = 0; f < frames; ++f)
    text += " 0 0 0 0 0 0";
  text += " } baseframe { 1 2 3 0 0 0 }";
  for (int f = 0; f < frames; ++f)
    text += " frame " + std::to_string(f) + " { }";
  return text;
}

class AnimClipTest : public ::testing::Test {
 protected:
  AnimClip clip;
  CaptureCmdSystem cmd;
  MemoryIOSystem io;
};

// The z rotation of a joint quaternion, in degrees.
float angleZ(const Quat& q) {
  return 2.0f * std::atan2(q.z, q.w) * 57.2957795f;
}

}  // namespace

TEST_F(AnimClipTest, FramesAtTimesFollowTheRateAndLoop) {
  ASSERT_TRUE(clip.parseText(stillClip(25, 24).c_str(), "still"));
  EXPECT_EQ(clip.animLength(), 1000);
  struct At {
    int ms, cycles;
    int cycleCount, frame1, frame2;
    float frontlerp;
  } cases[] = {
      {0, 0, 0, 0, 1, 0.0f},
      {-5, 0, 0, 0, 1, 0.0f},
      {500, 0, 0, 12, 13, 0.0f},
      {1010, 0, 1, 0, 1, 0.24f},
      {990, 0, 0, 23, 24, 0.76f},
      {1010, 1, 0, 24, 24, 0.0f},  // one pass asked for: rests on the last frame
      {1010, 2, 1, 0, 1, 0.24f},
      // Milliseconds times the rate no longer fit 32 bits: 48,000,000,000 / 1000 frames.
      {2000000000, 0, 2000000, 0, 1, 0.0f},
      {2000000000 + 125, 0, 2000000, 3, 4, 0.0f},
  };
  for (const At& c : cases) {
    const AnimFrameBlend b = clip.frameAtTime(c.ms, c.cycles);
    EXPECT_EQ(b.cycleCount, c.cycleCount) << c.ms << " " << c.cycles;
    EXPECT_EQ(b.frame1, c.frame1) << c.ms << " " << c.cycles;
    EXPECT_EQ(b.frame2, c.frame2) << c.ms << " " << c.cycles;
    EXPECT_NEAR(b.frontlerp, c.frontlerp, 1e-5) << c.ms << " " << c.cycles;
    EXPECT_NEAR(b.backlerp, 1.0f - c.frontlerp, 1e-5);
  }
  // At 1000 frames a second a 32-bit product would wrap after 2,147,483 ms.
  ASSERT_TRUE(clip.parseText(stillClip(5, 1000).c_str(), "fast"));
  const AnimFrameBlend fast = clip.frameAtTime(3000000, 0);
  EXPECT_EQ(fast.cycleCount, 750000);
  EXPECT_EQ(fast.frame1, 0);
  EXPECT_NEAR(fast.frontlerp, 0.0f, 1e-6);
  const AnimFrameBlend later = clip.frameAtTime(3000001, 0);
  EXPECT_EQ(later.frame1, 1);

  // One frame: always frame 0 with itself.
  ASSERT_TRUE(clip.parseText(stillClip(1, 24).c_str(), "single"));
  for (int ms : {0, 1, 999, 123456}) {
    const AnimFrameBlend b = clip.frameAtTime(ms, 0);
    EXPECT_EQ(b.frame1, 0);
    EXPECT_EQ(b.frame2, 0);
    EXPECT_FLOAT_EQ(b.frontlerp, 0.0f);
  }
  JointQuat joint;
  const int list[1] = {0};
  clip.blendFrames(clip.frameAtTime(500, 0), &joint, list, 1);
  EXPECT_FLOAT_EQ(joint.t.x, 1.0f) << "without animated components the base frame stays as read";
}

TEST_F(AnimClipTest, JointsAreBlendedBetweenFrames) {
  io.addFile("anims/swing.danim", kSwing);
  ASSERT_TRUE(clip.parse("anims/swing.danim")) << cmd.output;
  EXPECT_EQ(clip.numFrames(), 3);
  EXPECT_EQ(clip.numJoints(), 2);
  EXPECT_EQ(clip.animLength(), 200);
  EXPECT_EQ(clip.jointName(1), "arm");
  EXPECT_EQ(clip.bounds()[2].maxs.x, 2.0f);
  // The root's x becomes a movement from its base: 0, 2, 4; one pass moves it by 4.
  EXPECT_FLOAT_EQ(clip.totalDelta().x, 4.0f);
  EXPECT_FLOAT_EQ(clip.totalDelta().y, 0.0f);
  EXPECT_EQ(clip.components()[3], 2.0f);
  EXPECT_EQ(clip.baseFrame()[0].t.x, 0.0f);

  const double deg = 57.29577951308232;
  struct At {
    int ms;
    float rootX, armY, armAngle;  // the arm's rotation about z in degrees
  } cases[] = {
      // 150 ms: halfway from frame 1 to frame 2.
      {150, 3.0f, 3.0f, float((std::asin(0.5) + std::asin(0.6)) * deg)},
      // 125 ms: a quarter of the way.
      {125, 2.5f, 2.5f, float((std::asin(0.5) * 1.5 + std::asin(0.6) * 0.5) * deg)},
      // 250 ms: the second pass, halfway from frame 0 to frame 1, the root carried by 4.
      {250, 5.0f, 1.0f, float(std::asin(0.5) * deg)},
      // 400 ms: two passes done, the root 8 along.
      {400, 8.0f, 0.0f, 0.0f},
  };
  const int list[2] = {0, 1};
  for (const At& c : cases) {
    JointQuat joints[2];
    clip.blendFrames(clip.frameAtTime(c.ms, 0), joints, list, 2);
    EXPECT_NEAR(joints[0].t.x, c.rootX, 1e-4) << c.ms;
    EXPECT_NEAR(joints[0].t.y, 0.0f, 1e-6) << c.ms << ": the root's base position is cleared";
    EXPECT_NEAR(joints[1].t.x, 0.0f, 1e-6) << c.ms;
    EXPECT_NEAR(joints[1].t.y, c.armY, 1e-4) << c.ms;
    EXPECT_NEAR(joints[1].t.z, 10.0f, 1e-6) << c.ms << ": not animated, from the base";
    EXPECT_NEAR(angleZ(joints[1].q), c.armAngle, 0.3f) << c.ms;
  }
}

TEST_F(AnimClipTest, BlendingCoversOnlyTheJointsBothSidesHave) {
  ASSERT_TRUE(clip.parseText(kSwing, "swing"));
  const AnimFrameBlend blend = clip.frameAtTime(150, 0);
  // A model of one joint: the clip's second joint is never written (the sanitizer checks).
  JointQuat one[1];
  const int list1[1] = {0};
  clip.blendFrames(blend, one, list1, 1);
  EXPECT_NEAR(one[0].t.x, 3.0f, 1e-4);
  // A model of four joints: the two the clip lacks keep what the caller put there.
  JointQuat four[4];
  four[2].t = Vec3(7, 7, 7);
  four[3].t = Vec3(8, 8, 8);
  const int list4[4] = {0, 1, 2, 3};
  clip.blendFrames(blend, four, list4, 4);
  EXPECT_NEAR(four[1].t.y, 3.0f, 1e-4);
  EXPECT_EQ(four[2].t.x, 7.0f);
  EXPECT_EQ(four[3].t.x, 8.0f);
  // List entries outside the joints are skipped.
  const int bad[2] = {-1, 9};
  clip.blendFrames(blend, four, bad, 2);
  EXPECT_EQ(four[0].t.x, 0.0f) << "the base frame, nothing blended";
}

TEST_F(AnimClipTest, BadFilesAreRefused) {
  struct Case {
    const char* from;
    const char* to;
    const char* message;  // a fatal error's text, or null for a plain refusal
  } cases[] = {
      {"meshVersion 4", "meshVersion 3", "Invalid version 3.  Should be version 4\n"},
      {"numFrames 3", "numFrames 0", "Invalid number of frames: 0"},
      {"numJoints 2", "numJoints 0", "Invalid number of joints: 0"},
      {"frameRate 10", "frameRate -2", "Invalid frame rate: -2"},
      {"numAnimatedComponents 3", "numAnimatedComponents 13", "Invalid number of animated components: 13"},
      {"numAnimatedComponents 3", "numAnimatedComponents -1", "Invalid number of animated components: -1"},
      {"\"arm\" 0 34 1", "\"arm\" 1 34 1", "Invalid parent num: 1"},
      {"\"root\" -1 1 0", "\"root\" 0 1 0", "Invalid parent num: 0"},
      {"\"arm\" 0 34 1", "\"arm\" -1 34 1", "Animations may have only one root joint"},
      {"\"arm\" 0 34 1", "\"arm\" 0 64 1", "Invalid anim bits: 64"},
      {"\"arm\" 0 34 1", "\"arm\" 0 34 3", "Invalid first component: 3"},
      {"\"arm\" 0 34 1", "\"arm\" 0 34 -1", "Invalid first component: -1"},
      // The arm's two components from 2 would read past the frame's three.
      {"\"arm\" 0 34 1", "\"arm\" 0 34 2", "Invalid first component: 2"},
      {"frame 1 {", "frame 5 {", "Expected frame number 1"},
      // Not fatal: the file ends early, or a word stands where a number belongs.
      {"frame 2 {\n 9\n 4\n 0.6\n}\n", "frame 2 {\n 9\n", nullptr},
      {"( 0 0 10 )", "( 0 zero 10 )", nullptr},
      {"frame 1 { 7 2 0.5 }", "frame 1 { 7 nan 0.5 }", nullptr},
      {"numJoints 2", "numJoints 2.5", nullptr},
  };
  for (const Case& c : cases) {
    cmd.fatalCount = 0;
    cmd.errors.clear();
    const std::string text = replaced(kSwing, c.from, c.to);
    EXPECT_FALSE(clip.parseText(text.c_str(), "bad")) << c.to;
    EXPECT_EQ(clip.numFrames(), 0) << c.to << ": nothing of the file is kept";
    EXPECT_EQ(clip.numJoints(), 0) << c.to;
    if (c.message) {
      EXPECT_EQ(cmd.fatalCount, 1) << c.to << ": the engine is asked to quit";
      EXPECT_EQ(cmd.errors, c.message) << c.to;
    } else {
      EXPECT_EQ(cmd.fatalCount, 0) << c.to << ": " << cmd.errors;
    }
  }
  // A missing file is no fatal error either.
  EXPECT_FALSE(clip.parse("anims/missing.danim"));
  EXPECT_FALSE(clip.parse(""));
  EXPECT_EQ(cmd.fatalCount, 0);
  // A wrong keyword is reported and reading goes on.
  cmd.text.clear();
  EXPECT_TRUE(clip.parseText(replaced(kSwing, "bounds {", "boundz {").c_str(), "typo"));
  EXPECT_NE(cmd.text.find("Syntax Error: parsed 'boundz' while expecting 'bounds'"), std::string::npos) << cmd.text;
}

TEST_F(AnimClipTest, JointNamesAreKeptOnce) {
  EXPECT_EQ(clip.jointNameIndex("Hip"), 0);
  EXPECT_EQ(clip.jointNameIndex("knee"), 1);
  EXPECT_EQ(clip.jointNameIndex("HIP"), 0);
  clip.reset();
  EXPECT_EQ(clip.jointNameIndex("knee"), 0);
  EXPECT_EQ(clip.frameRate(), 24);
}
