// The sample game's trigger in the running engine, headless, over the staged sample content:
// walking from the player start into the box ahead of it plays "effects/jolt", whose tunnel rim
// darkens the corners of the picture for its 2.5 s and then lets them go. The frame driver runs on
// a made-up clock, 32 ms (two game steps) a frame, so the walk, the moment the effect starts and
// its age at each picture are the same however long the frames take on a loaded machine; the
// same walk without effects is the reference.
#include <cmath>

#include "lib/interface/cmdsystem.h"
#include "lib/interface/rendersystem.h"
#include "lib/interface/spatialsystem.h"
#include "lib/interface/systeminterface.h"
#include "tests/support/engineinprocess.h"

namespace {

using enginetest::Screen;

uint32_t s_fakeNow = 0;
uint32_t fakeNow() {
  return s_fakeNow;
}
void noSleep(int) {}

// Sum of red, green and blue at every fourth pixel of every fourth row of the four corner boxes,
// 12 % of the picture on a side (in the 640 x 480 units).
long cornerLight(const Screen& s) {
  long total = 0;
  for (float cy : {0.0f, 480.0f * 0.88f})
    for (float cx : {0.0f, 640.0f * 0.88f})
      for (float y = cy; y < cy + 480.0f * 0.12f; y += 4.0f)
        for (float x = cx; x < cx + 640.0f * 0.12f; x += 4.0f)
          total += s.sum(x, y);
  return total;
}

struct Walk {
  Screen early;  // 20 frames after the walk stopped, the effect under 0.6 s old
  Screen late;   // 100 frames after, the effect over
  float origin[3] = {};
};

class SampleTriggerEngineTest : public enginetest::InProcessEngineTest {
 protected:
  void SetUp() override {
    startEngine("");
    if (IsSkipped() || HasFatalFailure())
      return;
    s_fakeNow = getMilliseconds();
    FrameClock clock;
    clock.now = fakeNow;
    clock.sleep = noSleep;
    app_->setClock(clock);
  }

  void run(const char* text) { g_cmdSystem->executeText(text); }
  void steps(int count) {
    for (int i = 0; i < count; i++) {
      s_fakeNow += 2 * kGameStepMilliseconds;
      frames(1);
    }
  }

  // Loads the sample map with `settings`, walks forward for six frames (46 units at the walking
  // speed: into the box, which begins 16 units ahead and ends 64 ahead) and stands still.
  Walk walk(const char* settings) {
    Walk w;
    run(settings);
    run("map demo\n");
    EXPECT_NE(g_spatialSystem, nullptr) << "the sample map loaded";
    steps(10);
    run("+_forward\n");
    steps(6);
    run("-_forward\n");
    steps(20);
    w.early = readScreen();
    g_renderSystem->viewOrigin(w.origin);
    steps(80);
    w.late = readScreen();
    return w;
  }
};

TEST_F(SampleTriggerEngineTest, WalkingIntoTheTriggerNarrowsTheViewForItsDuration) {
  steps(3);
  const Walk plain = walk("g_demoEffects 0\ng_demoEffectsOnly \"\"\n");
  EXPECT_EQ(consoleLines("sample game: the player walked into the trigger"), 0) << "no effects, no trigger";
  const Walk jolt = walk("g_demoEffects 1\ng_demoEffectsOnly effects/jolt\n");
  for (const char* line : {"sample game: the player walked into the trigger", "sample game: shake for 0.80 s",
                           "sample game: tunnel vision for 2.50 s", "sample game: double vision for 2.50 s"})
    EXPECT_EQ(consoleLines(line), 1) << line;
  // The two walks end at one place (the double vision moves the eye 3 units to a side).
  const float apart = std::hypot(jolt.origin[0] - plain.origin[0], jolt.origin[1] - plain.origin[1]);
  EXPECT_LT(apart, 4.0f) << "the walks end apart";

  const long plainEarly = cornerLight(plain.early);
  const long joltEarly = cornerLight(jolt.early);
  const long plainLate = cornerLight(plain.late);
  const long joltLate = cornerLight(jolt.late);
  ASSERT_GT(plainEarly, 0) << "the corners show the lit room";
  // At 0.4 to 0.5 s the rim's alpha is still over 0.7: the corners keep less than half their light.
  EXPECT_LT(joltEarly, plainEarly / 2) << "the tunnel's rim darkens the corners";
  // After 2.5 s the rim and the double vision are gone: the corners are those of the plain walk.
  EXPECT_NEAR(double(joltLate), double(plainLate), 0.1 * double(plainLate)) << "the tunnel ends";
}

}  // namespace
