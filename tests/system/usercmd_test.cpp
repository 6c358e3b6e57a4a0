// User commands: the commands the key bindings run, the per-step build with its run bit, impulse
// toggle, mouse smoothing, 16-bit angle wrap and pitch limit.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "system/cmdmanager.h"
#include "system/convarmanager.h"
#include "system/usercmdgen.h"

namespace {

void mute(void*, const char*) {}

class UserCmdTest : public ::testing::Test {
 protected:
  void SetUp() override {
    getCmdManager()->setOutput(mute, nullptr);
    getConVarManager();
    gen_.registerCommands();
  }
  void TearDown() override {
    destroyConVarManager();
    destroyCmdManager();
  }
  void run(const char* text) { g_cmdSystem->executeText(text); }
  UserCmd build() {
    UserCmd cmd;
    time_ += 16;
    gen_.getUserCmd(&cmd, time_, time_ / 16, 0.0f, 0.0f);
    return cmd;
  }

  UserCmdGen gen_;
  int time_ = 0;
};

TEST_F(UserCmdTest, SameTimeGivesTheSameCommand) {
  UserCmd first;
  UserCmd again;
  gen_.getUserCmd(&first, 100, 7, 123.9f, 45.2f);
  run("+_forward");
  gen_.getUserCmd(&again, 100, 8, 0.0f, 0.0f);
  EXPECT_EQ(std::memcmp(&first, &again, sizeof(UserCmd)), 0);
  EXPECT_EQ(first.sequence, 1);
  EXPECT_EQ(first.frame, 7);
  EXPECT_EQ(first.time, 100);
  EXPECT_EQ(first.cursorX, 123);
  EXPECT_EQ(first.cursorY, 45);
  EXPECT_EQ(first.reserved, 0);
  gen_.getUserCmd(&again, 116, 8, 0.0f, 0.0f);
  EXPECT_EQ(again.sequence, 2);
  EXPECT_EQ(again.forward, 127);
}

TEST_F(UserCmdTest, MovementCommandsFollowTheSign) {
  struct Case {
    const char* text;
    int forward, right, up;
  } cases[] = {
      {"+_forward", 127, 0, 0},
      {"+_forward; +_back", 0, 0, 0},
      {"-_forward", -127, 0, 0},
      {"+_moveleft; -_back", 0, -127, 0},
      {"+_moveright", 0, 0, 0},
      {"+_moveup", 0, 0, 127},
      {"+_movedown; -_moveup", 0, 0, -127},
      {"_movedown", 0, 0, 0},  // no sign: released
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    run(c.text);
    UserCmd cmd = build();
    EXPECT_EQ(cmd.forward, c.forward);
    EXPECT_EQ(cmd.right, c.right);
    EXPECT_EQ(cmd.up, c.up);
  }
}

TEST_F(UserCmdTest, RunBitFollowsAlwaysRunAndSpeed) {
  struct Case {
    const char* alwaysRun;
    const char* speed;
    bool running;
  } cases[] = {
      {"1", "-_speed", true},
      {"1", "+_speed", false},
      {"0", "-_speed", false},
      {"0", "+_speed", true},
  };
  for (const Case& c : cases) {
    g_conVarSystem->setString("pm_alwaysrun", c.alwaysRun);
    run(c.speed);
    EXPECT_EQ((build().buttons & 4) != 0, c.running) << c.alwaysRun << " " << c.speed;
  }
}

TEST_F(UserCmdTest, ButtonsNeedASign) {
  g_conVarSystem->setString("pm_alwaysrun", "0");
  run("+_button0; +_button7");
  EXPECT_EQ(build().buttons, 0x81);
  run("_button0; -_button7; +_button3");
  EXPECT_EQ(build().buttons, 0x09);
}

TEST_F(UserCmdTest, ImpulsesToggleOncePerPress) {
  run("+_impulse3");
  UserCmd cmd = build();
  EXPECT_EQ(cmd.impulse, 3);
  EXPECT_EQ(cmd.impulseFlags, 1);
  cmd = build();  // held: no new toggle
  EXPECT_EQ(cmd.impulseFlags, 1);
  run("-_impulse3");
  EXPECT_EQ(build().impulseFlags, 1);
  run("+_impulse3");  // the same impulse pressed again toggles again
  cmd = build();
  EXPECT_EQ(cmd.impulse, 3);
  EXPECT_EQ(cmd.impulseFlags, 0);
  run("+_impulse0 300");  // an argument names the impulse; the byte keeps its low 8 bits
  cmd = build();
  EXPECT_EQ(cmd.impulse, 300 & 0xFF);
  EXPECT_EQ(cmd.impulseFlags, 1);
  run("_impulse5");  // no sign: nothing, and the taken impulse never toggles again
  EXPECT_EQ(build().impulseFlags, 1);
  EXPECT_EQ(build().impulseFlags, 1);
}

TEST_F(UserCmdTest, AnglesWrapIn16BitSteps) {
  EXPECT_EQ(UserCmdGen::angleToShort(180.0f), -32768);
  EXPECT_EQ(UserCmdGen::angleToShort(90.0f), 16384);
  EXPECT_EQ(UserCmdGen::angleToShort(-90.0f), -16384);
  EXPECT_FLOAT_EQ(UserCmdGen::wrapAngle(360.0f), 0.0f);
  EXPECT_FLOAT_EQ(UserCmdGen::wrapAngle(-90.0f), 270.0f);
  EXPECT_FLOAT_EQ(UserCmdGen::wrapAngle(720.0f + 45.0f), 45.0f);
  EXPECT_FLOAT_EQ(UserCmdGen::wrapAngle(NAN), 0.0f);
}

TEST_F(UserCmdTest, MouseTurnsWithAndWithoutSmoothing) {
  g_conVarSystem->setString("m_smoothing", "0");
  gen_.addMouseDelta(10, 0);
  UserCmd cmd = build();
  // 10 x 0.022 x 5 = 1.1 degrees to the right: yaw 358.9, a whole number of 16-bit steps.
  float yaw = gen_.viewAngles()[1];
  EXPECT_NEAR(yaw, 360.0f - 1.1f, 0.006f);
  EXPECT_FLOAT_EQ(yaw / 0.0054931640625f, std::round(yaw / 0.0054931640625f));
  EXPECT_EQ(cmd.angles[1], (int16_t)(int)std::round(yaw / 0.0054931640625f));
  EXPECT_EQ(cmd.angles[1], -200);
  EXPECT_EQ(build().angles[1], -200);  // nothing new: no turn

  gen_.resetView();
  g_conVarSystem->setString("m_smoothing", "1");
  gen_.addMouseDelta(20, 0);
  build();
  EXPECT_NEAR(gen_.viewAngles()[1], 360.0f - 1.1f, 0.006f);
  build();
  EXPECT_NEAR(gen_.viewAngles()[1], 360.0f - 2.2f, 0.011f);
  build();
  EXPECT_NEAR(gen_.viewAngles()[1], 360.0f - 2.2f, 0.011f);
}

TEST_F(UserCmdTest, PitchMovesAtMost90DegreesTheShortWayRound) {
  g_conVarSystem->setString("m_smoothing", "0");
  g_conVarSystem->setString("m_pitch", "1");
  g_conVarSystem->setString("m_sensitivity", "1");
  gen_.addMouseDelta(0, 120);  // 120 degrees down in one step: limited to 90
  UserCmd cmd = build();
  EXPECT_FLOAT_EQ(gen_.viewAngles()[0], 90.0f);
  EXPECT_EQ(cmd.angles[0], 16384);

  gen_.resetView();
  gen_.addMouseDelta(0, 2);
  build();
  EXPECT_NEAR(gen_.viewAngles()[0], 2.0f, 0.006f);
  gen_.addMouseDelta(0, -5);  // across 0: 3 degrees, kept
  cmd = build();
  EXPECT_NEAR(gen_.viewAngles()[0], 357.0f, 0.006f);
  EXPECT_EQ(cmd.angles[0], UserCmdGen::angleToShort(gen_.viewAngles()[0]));
  gen_.addMouseDelta(0, -120);  // 120 up: 90
  build();
  EXPECT_NEAR(gen_.viewAngles()[0], 267.0f, 0.006f);
}

TEST_F(UserCmdTest, ClearDropsKeysButtonsAndThePendingImpulse) {
  run("+_forward; +_button2; +_impulse9; +_speed");
  gen_.clear();
  UserCmd cmd = build();
  EXPECT_EQ(cmd.forward, 0);
  EXPECT_EQ(cmd.buttons, 4);  // only the run bit ("pm_alwaysrun" 1, speed released)
  EXPECT_EQ(cmd.impulseFlags, 0);
}

}  // namespace
