// Input devices: the keyboard table fed by the platform's set-1 codes, joystick directions and
// events from readings, mouse buttons and motion through the platform buffer, control characters.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lib/interface/systeminterface.h"
#include "platform/input.h"
#include "platform/window.h"
#include "system/convarmanager.h"
#include "system/inputmanager.h"
#include "system/keymap.h"

namespace {

std::vector<std::string> g_events;
void collect(int type, int value, int value2, int, void*) {
  g_events.push_back(std::to_string(type) + " " + std::to_string(value) + " " + std::to_string(value2));
}

// SDL scan codes are the USB usage numbers, so the table names them by number.
TEST(KeyboardTableTest, ScanCodesWithTheExtendedRules) {
  struct Case {
    int sdlScanCode;
    int key;
    const char* what;
  } cases[] = {
      {4, 'a', "a"},
      {29, 'z', "z"},
      {30, '1', "1"},
      {39, '0', "0"},
      {40, 13, "return"},
      {88, 169, "kp enter"},
      {41, 27, "escape"},
      {42, 127, "backspace"},
      {43, 9, "tab"},
      {44, 32, "space"},
      {56, '/', "slash"},
      {84, 172, "kp divide"},
      {53, '`', "grave"},
      {58, 145, "F1"},
      {69, 156, "F12"},
      {72, 131, "pause"},
      {82, 132, "up"},
      {96, 161, "kp 8"},
      {81, 133, "down"},
      {90, 167, "kp 2"},
      {80, 134, "left"},
      {92, 163, "kp 4"},
      {79, 135, "right"},
      {94, 165, "kp 6"},
      {73, 139, "insert"},
      {98, 170, "kp 0"},
      {76, 140, "delete"},
      {99, 171, "kp ."},
      {78, 141, "page down"},
      {91, 168, "kp 3"},
      {75, 142, "page up"},
      {97, 162, "kp 9"},
      {74, 143, "home"},
      {95, 160, "kp 7"},
      {77, 144, "end"},
      {89, 166, "kp 1"},
      {93, 164, "kp 5"},
      {86, 173, "kp minus"},
      {87, 174, "kp plus"},
      {224, 137, "left ctrl"},
      {228, 137, "right ctrl"},
      {225, 138, "left shift"},
      {229, 138, "right shift"},
      {226, 136, "left alt"},
      {230, 136, "right alt"},
      {57, 129, "caps lock"},
  };
  for (const Case& c : cases) {
    bool extended = false;
    int scan = platformScanCodeToSet1(c.sdlScanCode, &extended);
    EXPECT_EQ(mapWin32Key(scan, extended), c.key) << c.what;
  }
}

TEST(KeyboardTableTest, ExtendedFlagOnSet1Codes) {
  struct Case {
    int scan;
    bool extended;
    int key;
  } cases[] = {
      {72, false, 161}, {72, true, 132}, {28, false, 13}, {28, true, 169},
      {53, false, '/'}, {53, true, 172}, {69, true, 175}, {69, false, 131},
      {83, false, 171}, {83, true, 140}, {0, false, 0},   {84, false, 0},
      {127, true, 0},   {128, false, 0}, {-1, false, 0},  {16, true, 'q'},
  };
  for (const Case& c : cases)
    EXPECT_EQ(mapWin32Key(c.scan, c.extended), c.key) << c.scan << " " << c.extended;
}

TEST(ControlCharacterTest, CtrlVAndCtrlCOnly) {
  EXPECT_EQ(platformControlCharacter('v', true, false), 22);
  EXPECT_EQ(platformControlCharacter('c', true, false), 3);
  EXPECT_EQ(platformControlCharacter('v', false, false), 0);
  EXPECT_EQ(platformControlCharacter('v', true, true), 0);  // AltGr types, it does not paste
  EXPECT_EQ(platformControlCharacter('x', true, false), 0);
}

PlatformJoystickState reading(int axes, uint32_t x, uint32_t y = 32768, uint32_t pov = 65535) {
  PlatformJoystickState state;
  state.axisCount = axes;
  state.axes[0] = x;
  state.axes[1] = y;
  state.pov = pov;
  return state;
}

TEST(JoystickTest, DirectionsFromAxesAndHat) {
  const float threshold = 0.15f;
  struct Case {
    PlatformJoystickState state;
    uint32_t bits;
    const char* what;
  } cases[] = {
      {reading(2, 32768), 0, "centred"},
      {reading(2, 32768 - 3277), 0, "10% left"},
      {reading(2, 32768 + 3277), 0, "10% right"},
      {reading(2, 32768 - 6554), 1u << 0, "20% left"},
      {reading(2, 32768 + 6554), 1u << 1, "20% right"},
      {reading(2, 32768, 0), 1u << 2, "up"},
      {reading(2, 32768, 65535), 1u << 3, "down"},
      {reading(1, 32768, 0), 0, "no Y axis"},
      {reading(2, 32768, 32768, 0), 1u << 12, "hat 0"},
      {reading(2, 32768, 32768, 18000), 1u << 13, "hat 18000"},
      {reading(2, 32768, 32768, 9000), 1u << 14, "hat 9000"},
      {reading(2, 32768, 32768, 27000), 1u << 15, "hat 27000"},
      {reading(2, 32768, 32768, 4500), 0, "hat 4500"},
      {reading(2, 32768, 32768, 65535), 0, "hat centred"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(joystickDirections(c.state, threshold), c.bits) << c.what;
  PlatformJoystickState zr = reading(4, 32768);
  zr.axes[2] = 0;
  zr.axes[3] = 65535;
  EXPECT_EQ(joystickDirections(zr, threshold), (1u << 4) | (1u << 7));
  EXPECT_EQ(joystickDirectionKey(0), 134);
  EXPECT_EQ(joystickDirectionKey(3), 133);
  EXPECT_EQ(joystickDirectionKey(7), 203);
  EXPECT_EQ(joystickDirectionKey(15), 211);
  EXPECT_EQ(joystickDirectionKey(8), 0);
}

TEST(JoystickTest, PlatformConversions) {
  EXPECT_EQ(platformAxisToUnsigned(-32768), 0u);
  EXPECT_EQ(platformAxisToUnsigned(0), 32768u);
  EXPECT_EQ(platformAxisToUnsigned(32767), 65535u);
  EXPECT_EQ(platformHatToHundredths(0), 65535u);
  EXPECT_EQ(platformHatToHundredths(1), 0u);
  EXPECT_EQ(platformHatToHundredths(2 | 1), 4500u);
  EXPECT_EQ(platformHatToHundredths(4), 18000u);
  EXPECT_EQ(platformHatToHundredths(8), 27000u);
}

class InputManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_events.clear();
    getConVarManager();
    input_ = InputManager::getInstance(true);
  }
  void TearDown() override {
    destroyInputManager();
    destroyConVarManager();
  }
  InputManager* input_ = nullptr;
};

TEST_F(InputManagerTest, JoystickChangesBecomeKeyEvents) {
  PlatformJoystickState state = reading(2, 32768 - 6554);
  state.buttons = 0x5;
  input_->processJoystick(state, collect);
  EXPECT_EQ(g_events, (std::vector<std::string>{"1 185 1", "1 187 1", "1 134 1"}));
  g_events.clear();
  input_->processJoystick(state, collect);  // nothing changed
  EXPECT_TRUE(g_events.empty());
  state = reading(2, 32768, 32768, 9000);
  state.buttons = 0x80000004;
  input_->processJoystick(state, collect);
  EXPECT_EQ(g_events, (std::vector<std::string>{"1 185 0", "1 216 1", "1 134 0", "1 210 1"}));
}

TEST_F(InputManagerTest, BallAxesMoveTheMouse) {
  PlatformJoystickState state = reading(6, 32768);
  state.axes[4] = 32768 + 1000;  // x 0.02 = 20
  state.axes[5] = 32768 - 49;    // -0.98 truncates to 0
  input_->processJoystick(state, collect);
  EXPECT_EQ(g_events, (std::vector<std::string>{"3 20 0"}));
  g_events.clear();
  state.axisCount = 5;  // fewer than six axes: no ball
  input_->processJoystick(state, collect);
  EXPECT_TRUE(g_events.empty());
}

TEST_F(InputManagerTest, MouseButtonsAndMotionWhileGrabbed) {
  ASSERT_TRUE(input_->init(nullptr, nullptr, kInputMouse));
  platformInputPush({kPlatformInputMouseButton, 0, 1});
  input_->poll(collect, 4);  // grabs (no window: nothing to confine), then reads
  EXPECT_TRUE(input_->isGrabbed());
  EXPECT_TRUE(g_events.empty()) << "a click from before the grab is the desktop's";
  platformInputPush({kPlatformInputMouseButton, 0, 1});
  platformInputPush({kPlatformInputMouseMotion, 3, -4});
  platformInputPush({kPlatformInputMouseButton, 4, 1});
  platformInputPush({kPlatformInputMouseMotion, 2, 1});
  platformInputPush({kPlatformInputMouseButton, 4, 0});
  platformInputPush({kPlatformInputMouseButton, 1, 0});  // never reported down: no release
  input_->poll(collect, 4);
  EXPECT_EQ(g_events, (std::vector<std::string>{"1 178 1", "1 182 1", "1 182 0", "3 5 -3"}));
}

TEST_F(InputManagerTest, ReleasingTheMouseReleasesHeldButtons) {
  ASSERT_TRUE(input_->init(nullptr, nullptr, kInputMouse));
  input_->poll(collect, 4);
  platformInputPush({kPlatformInputMouseButton, 1, 1});
  input_->poll(collect, 4);
  EXPECT_EQ(g_events, (std::vector<std::string>{"1 179 1"}));
  g_events.clear();
  input_->setActive(false);
  input_->poll(collect, 4);
  EXPECT_FALSE(input_->isGrabbed());
  platformInputPush({kPlatformInputMouseButton, 0, 1});  // while released: not the game's
  platformInputPush({kPlatformInputMouseMotion, 9, 9});
  input_->poll(collect, 4);
  EXPECT_EQ(g_events, (std::vector<std::string>{"1 179 0"}));
}

TEST_F(InputManagerTest, ControlCharactersPassWhateverTheGrab) {
  ASSERT_TRUE(input_->init(nullptr, nullptr, kInputMouse));
  input_->setActive(false);
  platformInputPush({kPlatformInputCharacter, 22, 0});
  input_->poll(collect, 1);
  EXPECT_EQ(g_events, (std::vector<std::string>{"2 22 1"}));
}

TEST_F(InputManagerTest, MouseZeroIsNeverGrabbed) {
  g_conVarSystem->setString("in_mouse", "0");
  ASSERT_TRUE(input_->init(nullptr, nullptr, kInputMouse));
  platformInputPush({kPlatformInputMouseButton, 0, 1});
  platformInputPush({kPlatformInputMouseMotion, 4, 4});
  input_->poll(collect, 4);
  input_->poll(collect, 4);
  EXPECT_FALSE(input_->isGrabbed());
  EXPECT_TRUE(g_events.empty());
}

TEST_F(InputManagerTest, InitDropsStaleInputAndShutdownStopsPolling) {
  platformInputPush({kPlatformInputMouseButton, 0, 1});
  ASSERT_TRUE(input_->init(nullptr, nullptr, kInputMouse));
  input_->poll(collect, 4);
  EXPECT_TRUE(g_events.empty());
  input_->shutdown();
  EXPECT_FALSE(input_->isGrabbed());
  platformInputPush({kPlatformInputCharacter, 3, 0});
  input_->poll(collect, 4);
  EXPECT_TRUE(g_events.empty());
}

TEST_F(InputManagerTest, JoystickOpensAndClosesWithoutADevice) {
  // Headless there is no joystick: init still succeeds and polls read nothing from it.
  ASSERT_TRUE(input_->init(nullptr, nullptr, kInputMouse | kInputJoystick));
  input_->poll(collect, 4);
  input_->shutdown();
  EXPECT_TRUE(g_events.empty());
}

}  // namespace
