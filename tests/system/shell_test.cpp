// The application shell's pure rules: game-step accumulation, the frame cap,
// the frame-rate text, the display-mode list, command-line options and the
// scan-code table.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "system/commandline.h"
#include "system/displaymodes.h"
#include "system/framedriver.h"
#include "system/keymap.h"

namespace {

struct StepCase {
  const char* what;
  float timescale;
  std::vector<uint64_t> frameTimes;  // absolute milliseconds of successive frames
  std::vector<int> steps;            // steps due at each frame
  float accumulatorAfter;
};

TEST(GameStepClock, AccumulatesScaledTimeIntoSixteenMillisecondSteps) {
  const StepCase cases[] = {
      {"timescale 1, regular 16 ms frames", 1.0f, {16, 32, 48}, {1, 1, 1}, 0.0f},
      {"timescale 1, short frames carry over", 1.0f, {10, 20, 30}, {0, 1, 0}, 14.0f},
      {"timescale 0 stops the game", 0.0f, {100, 200, 300}, {0, 0, 0}, 0.0f},
      {"timescale 3 triples the time", 3.0f, {8, 16}, {1, 2}, 0.0f},
      {"a long frame runs at most two steps and keeps the remainder", 1.0f, {1000}, {2}, 8.0f},
      {"timescale 3 long frame clamps to 40", 3.0f, {50, 51}, {2, 0}, 11.0f},
  };
  for (const StepCase& c : cases) {
    GameStepClock clock;
    clock.reset(0);
    for (size_t i = 0; i < c.frameTimes.size(); ++i)
      EXPECT_EQ(clock.advance(c.frameTimes[i], c.timescale), c.steps[i]) << c.what << " frame " << i;
    EXPECT_FLOAT_EQ(clock.accumulator(), c.accumulatorAfter) << c.what;
  }
}

TEST(GameStepClock, BackwardClockAndBadTimescaleNeverRunAway) {
  GameStepClock clock;
  clock.reset(1000);
  // The unsigned difference of a clock that went back is huge: clamped to 40.
  EXPECT_EQ(clock.advance(500, 1.0f), 2);
  EXPECT_LE(clock.accumulator(), 40.0f);
  clock.reset(0);
  EXPECT_EQ(clock.advance(100, -1.0f), 0) << "a negative timescale clamps to 0";
  EXPECT_EQ(clock.advance(200, std::nanf("")), 0) << "NaN counts as no time";
  EXPECT_FLOAT_EQ(clock.accumulator(), 0.0f);
}

TEST(FrameCap, SleepsUntilTheFramePeriodButNeverMoreThanFiftyMilliseconds) {
  struct Case {
    int maxFps;
    uint64_t previousEnd, now;
    int sleep;
  } cases[] = {
      {200, 1000, 1000, 5},                         // 5 ms period, nothing spent yet
      {200, 1000, 1003, 2}, {200, 1000, 1010, 0},   // already late
      {10, 1000, 1000, 50},                         // 100 ms period, one sleep at most 50
      {10, 1000, 1060, 40}, {1024, 1000, 1000, 0},  // 1000 / 1024 is 0
      {0, 1000, 1000, 0},                           // no cap instead of a division by zero
      {-5, 1000, 1000, 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(frameCapSleep(c.maxFps, c.previousEnd, c.now), c.sleep)
        << "maxfps " << c.maxFps << " end " << c.previousEnd << " now " << c.now;
}

TEST(FrameRateCounter, ReportsFramesPerSecondOverWindowsOfASecond) {
  FrameRateCounter counter;
  EXPECT_STREQ(counter.text(), "fps: n/a");
  counter.reset(0);
  for (uint64_t t = 0; t < 1000; t += 10)
    counter.frameEnded(t);
  EXPECT_STREQ(counter.text(), "fps: n/a") << "the window is not over before 1000 ms";
  counter.frameEnded(1000);
  EXPECT_STREQ(counter.text(), "fps: 101.0");
  counter.frameEnded(1500);
  counter.frameEnded(3000);
  EXPECT_STREQ(counter.text(), "fps: 1.0");
}

PlatformDisplayMode mode(int w, int h, int bpp, int hz, int fixed = 0) {
  PlatformDisplayMode m;
  m.width = w;
  m.height = h;
  m.bitsPerPixel = bpp;
  m.refreshRate = hz;
  m.fixedOutput = fixed;
  return m;
}

TEST(DisplayModes, FiltersSortsAndKeepsTheLowestAcceptedRefreshOfEachSize) {
  const std::vector<PlatformDisplayMode> driver = {
      mode(1024, 768, 32, 75),  mode(640, 480, 32, 60),  mode(800, 600, 16, 60),  // 16 bit: out
      mode(512, 384, 32, 60),                                                     // narrow: out
      mode(1024, 768, 32, 60),  mode(640, 480, 32, 50),                           // below desktop: out
      mode(1024, 768, 32, 85),  mode(1024, 600, 32, 60), mode(640, 480, 32, 72, 1),
      mode(1920, 1080, 32, 60), mode(1024, 768, 64, 60),
  };
  std::vector<PlatformDisplayMode> list =
      filterDisplayModes(driver.data(), (int)driver.size(), mode(1920, 1080, 32, 60));
  std::vector<std::string> got;
  for (const PlatformDisplayMode& m : list)
    got.push_back(std::to_string(m.width) + "x" + std::to_string(m.height) + "x" +
                  std::to_string(m.bitsPerPixel) + "@" + std::to_string(m.refreshRate));
  std::vector<std::string> want = {"640x480x32@60", "1024x600x32@60", "1024x768x32@60", "1024x768x64@60",
                                   "1920x1080x32@60"};
  EXPECT_EQ(got, want);
}

TEST(DisplayModes, NoAcceptableModeGivesAnEmptyList) {
  const std::vector<PlatformDisplayMode> driver = {mode(320, 200, 32, 60), mode(800, 600, 24, 60)};
  EXPECT_TRUE(filterDisplayModes(driver.data(), (int)driver.size(), mode(800, 600, 32, 0)).empty());
}

TEST(DisplayModes, ChoosesTheRequestedModeClampedAndFallsBackTo640x480) {
  std::vector<PlatformDisplayMode> with640 = {mode(640, 400, 32, 0), mode(640, 480, 32, 0),
                                              mode(800, 600, 32, 0)};
  std::vector<PlatformDisplayMode> without640 = {mode(800, 600, 32, 0), mode(1024, 768, 32, 0)};
  EXPECT_EQ(chooseDisplayMode(with640, -1), 1);
  EXPECT_EQ(chooseDisplayMode(without640, -1), 0) << "no 640x480 mode: mode 0";
  EXPECT_EQ(chooseDisplayMode(with640, 2), 2);
  EXPECT_EQ(chooseDisplayMode(with640, 9), 2);
  EXPECT_EQ(chooseDisplayMode(without640, -7), 0);
}

TEST(DisplayModes, ModeListTextJoinsEveryModeWithFixedWidths) {
  std::vector<PlatformDisplayMode> modes = {mode(640, 480, 32, 0), mode(1920, 1080, 32, 0)};
  char text[64];
  buildModeListText(modes, text, sizeof(text));
  EXPECT_STREQ(text, " 640x480 ;1920x1080");
  char small[12];
  buildModeListText(modes, small, sizeof(small));
  EXPECT_STREQ(small, " 640x480 ") << "a mode that does not fit is left out whole";
}

TEST(CommandLine, OptionsAreTheTokenAfterTheirNameWithQuotesAsOneToken) {
  struct Case {
    const char* line;
    const char* name;
    const char* value;
  } cases[] = {
      {"-guionly guis/test.gui quit", "-guionly", "guis/test.gui"},
      {"-wndname \"My Engine Window\" -guionly x", "-wndname", "My Engine Window"},
      {"-WNDNAME title", "-wndname", "title"},
      {"quit", "-guionly", ""},
      {"-guionly", "-guionly", ""},
      {"", "-wndname", ""},
      {"a \"-guionly\" b", "-guionly", "b"},
      {"-wndname \"unterminated title", "-wndname", "unterminated title"},
  };
  for (const Case& c : cases)
    EXPECT_STREQ(getCommandLineOption(c.line, c.name), c.value) << c.line;
}

// The options the engine reads itself never reach the console, and the statement after them survives.
TEST(CommandLine, EngineOptionsAndTheirValuesAreLeftOutOfTheConsoleText) {
  struct Case {
    const char* line;
    const char* kept;
  } cases[] = {
      {"-wndname Foo con_devconsole 1 ; quit", "con_devconsole 1 ; quit"},
      {"-guionly guis/test.gui -WNDNAME \"My Window\" ; echo \"a b\"", "; echo \"a b\""},
      {"map demo ; -wndname x", "map demo ;"},
      {"-guionly", ""},
      {"quit", "quit"},
      {"", ""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(removeEngineOptions(c.line), c.kept) << c.line;
}

TEST(CommandLine, AnOverLongTokenIsCutTo255Characters) {
  std::string longValue(400, 'x');
  std::string line = "-wndname " + longValue + " next";
  const char* value = getCommandLineOption(line.c_str(), "-wndname");
  EXPECT_EQ(std::strlen(value), 255u);
  EXPECT_EQ(std::string(value), longValue.substr(0, 255));
  std::string longName = "-" + std::string(300, 'n');
  EXPECT_STREQ(getCommandLineOption((longName + " v").c_str(), longName.c_str()), "")
      << "a name longer than a token is never matched by its cut copy";
}

TEST(CommandLine, ArgumentsJoinWithQuotesAroundThoseHoldingBlanks) {
  const char* argv[] = {"quillmere", "-wndname", "My Window", ";", "quit", ""};
  EXPECT_STREQ(buildCommandLine(6, argv), "-wndname \"My Window\" ; quit \"\"");
  EXPECT_STREQ(getCommandLineOption(buildCommandLine(6, argv), "-wndname"), "My Window");
  EXPECT_STREQ(buildCommandLine(1, argv), "");
}

TEST(KeyMap, ScanCodesBecomeKeyCodesWithTheExtendedFlagRules) {
  struct Case {
    int scan;
    bool extended;
    int key;
  } cases[] = {
      {0x1E, false, 'a'}, {0x02, false, '1'}, {0x01, false, 27},  {0x1C, false, 13},  {0x1C, true, 169},
      {0x35, false, '/'}, {0x35, true, 172},  {0x48, false, 161}, {0x48, true, 132},  {0x4B, true, 134},
      {0x47, false, 160}, {0x52, true, 139},  {0x45, false, 131}, {0x45, true, 175},  {0x57, false, 155},
      {0x2A, false, 138}, {0x36, false, 138}, {0x1D, false, 137}, {0x38, false, 136}, {0x60, false, 0},
      {128, false, 0},    {-1, false, 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(mapWin32Key(c.scan, c.extended), c.key) << "scan " << c.scan << " extended " << c.extended;
}

}  // namespace
