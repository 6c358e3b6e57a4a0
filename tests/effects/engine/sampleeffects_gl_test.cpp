// The sample effects that need the game, in the running engine, headless, over the staged sample
// content: each effect alone ("g_demoEffectsOnly") against no effects ("g_demoEffects 0") with the
// camera still at the player start, and the trigger, walked into from the start, against the same
// walk without effects.
//  - the scorch decal darkens the far wall right of the door;
//  - the bouncing sparks hit the floor or a crate's top (the game's trace through the collision
//    model reports the hit) and light pixels in the lower half of the picture;
//  - the circling spark (strip, trails, streaks) and the tumbling models light pixels of their own,
//    and the tumbling crates are lit by the room's light;
//  - walking into the trigger plays "effects/jolt", whose tunnel rim darkens the corners of the
//    picture for its 2.5 s and then lets them go.
// The frame driver runs on a made-up clock, 32 ms (two game steps) a frame, so the effects' ages,
// the walk and the moment the trigger fires are the same at every picture however long the frames
// take: on the wall clock a loaded machine runs the game slower than real time, and the sparks had
// not bounced yet, or the player had not reached the trigger, when the picture was taken.
#include <cmath>
#include <cstring>
#include <regex>

#include "lib/interface/cmdsystem.h"
#include "lib/interface/rendersystem.h"
#include "lib/interface/spatialsystem.h"
#include "lib/interface/systeminterface.h"
#include "system/console.h"
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

// Pixels (every fourth of every eighth row) of the box [x0, x1) x [y0, y1), in percent of the
// picture, that are darker or brighter in `a` than in `b` by more than 45 in red + green + blue.
struct Change {
  int darker = 0, brighter = 0;
};
Change compare(const Screen& a, const Screen& b, int x0, int x1, int y0, int y1) {
  Change c;
  const int w = a.width, h = a.height;
  for (int y = h * y0 / 100; y < h * y1 / 100; y += 8)
    for (int x = w * x0 / 100; x < w * x1 / 100; x += 4) {
      const size_t at = (size_t(y) * size_t(w) + size_t(x)) * 3;
      const int d = (a.rgb[at] + a.rgb[at + 1] + a.rgb[at + 2]) - (b.rgb[at] + b.rgb[at + 1] + b.rgb[at + 2]);
      c.darker += d < -45;
      c.brighter += d > 45;
    }
  return c;
}

struct Walk {
  Screen early;  // 20 frames after the walk stopped, the effect under 0.6 s old
  Screen late;   // 100 frames after, the effect over
  float origin[3] = {};
};

class SampleEffectsEngineTest : public enginetest::InProcessEngineTest {
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
    steps(3);
  }

  void run(const char* text) { g_cmdSystem->executeText(text); }
  void steps(int count) {
    for (int i = 0; i < count; i++) {
      s_fakeNow += 2 * kGameStepMilliseconds;
      frames(1);
    }
  }
  void load(const char* effects, const char* only) {
    char text[256];
    std::snprintf(text, sizeof(text), "g_demoEffects %s\ng_demoEffectsOnly \"%s\"\nmap demo\n", effects,
                  only);
    run(text);
    EXPECT_NE(g_spatialSystem, nullptr) << "the sample map loaded";
  }
  // The picture from the player start after 4.8 s of game time with `only` playing ("" none).
  Screen still(const char* only) {
    load(*only ? "1" : "0", only);
    steps(150);
    return readScreen();
  }
  // The walk forward for six frames (46 units at the walking speed: into the trigger's box, which
  // begins 16 units ahead and ends 64 ahead), then standing still.
  Walk walk(const char* only) {
    Walk w;
    load(*only ? "1" : "0", only);
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
  // The newest console line that matches `pattern`, or "".
  static std::string lastLine(const char* pattern) {
    const std::regex re(pattern);
    Console* console = Console::getInstance(false);
    for (int i = console ? console->lineCount() : 0; i >= 1; i--)
      if (std::regex_search(console->line(i), re))
        return console->line(i);
    return "";
  }
};

TEST_F(SampleEffectsEngineTest, EachSampleEffectMarksThePictureFromThePlayerStart) {
  const Screen none = still("");

  // The scorch mark: on the wall right of the door, at about 60 % across and 45 % down.
  const Screen spray = still("effects/spray");
  EXPECT_NE(lastLine("sample game: scorch marks go on the wall at 25[0-9]\\.[0-9] "), "")
      << "the game found the wall for the scorch mark";
  const Change scorch = compare(spray, none, 55, 80, 30, 60);
  EXPECT_GE(scorch.darker, 10) << "the scorch mark darkens the wall";
  EXPECT_GT(scorch.darker, scorch.brighter);

  // The bouncing sparks: the first hit is on a surface facing up, the floor (z = 0) or the top of
  // the crate beside the start (z = 32), whichever a spark's random flight reaches first.
  const Screen bounce = still("effects/bounce");
  EXPECT_NE(
      lastLine("sample game: a particle bounced at [-0-9.]+ [-0-9.]+ (0|32)\\.[0-9] off a surface facing "
               "0\\.00 0\\.00 1\\.00"),
      "")
      << "a particle was traced onto the floor or the crate: " << lastLine("bounced");
  EXPECT_GE(compare(bounce, none, 0, 100, 50, 100).brighter, 5) << "the sparks light the lower half";

  for (const char* effect : {"effects/comet", "effects/crates"}) {
    const Change c = compare(still(effect), none, 0, 100, 20, 80);
    EXPECT_GE(c.darker + c.brighter, 10) << effect << " leaves a mark";
    // The crate slats are lit by the room's light: faces turned to it are brighter than the wall
    // behind them, at least a quarter as many as the unlit faces are darker (unlit, they were a
    // black blob that darkened the picture some fifteen times more than it brightened it).
    if (std::strcmp(effect, "effects/crates") == 0) {
      EXPECT_GE(c.brighter, 50) << "the tumbling crates are lit";
      EXPECT_GE(c.brighter, c.darker / 4) << "the tumbling crates are lit";
    }
  }
}

TEST_F(SampleEffectsEngineTest, WalkingIntoTheTriggerNarrowsTheViewForItsDuration) {
  const Walk plain = walk("");
  EXPECT_EQ(consoleLines("sample game: the player walked into the trigger"), 0) << "no effects, no trigger";
  const Walk jolt = walk("effects/jolt");
  for (const char* line : {"sample game: the player walked into the trigger", "sample game: shake for 0.80 s",
                           "sample game: tunnel vision for 2.50 s", "sample game: double vision for 2.50 s"})
    EXPECT_EQ(consoleLines(line), 1) << line;
  // The two walks end at one place.
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
