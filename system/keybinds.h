// KeyBinds: the 256 key records and their bound command text, the routing of key, character and
// mouse events to the console, the full-screen interface or the game by the input mode, the
// binding commands, and the owner of the input devices and the user-command generator.
#pragma once

#include <cstdint>

#include "lib/interface/cmdsystem.h"
#include "lib/interface/keybindsystem.h"
#include "lib/str.h"
#include "system/usercmdgen.h"

// Key codes with a name of their own (the rest of 0..255 are lower-case characters).
enum KeyCode : int {
  kKeyTab = 9,
  kKeyEnter = 13,
  kKeyEscape = 27,
  kKeySpace = 32,
  kKeyBackspace = 127,
  kKeyUpArrow = 132,
  kKeyDownArrow = 133,
  kKeyLeftArrow = 134,
  kKeyRightArrow = 135,
  kKeyAlt = 136,
  kKeyCtrl = 137,
  kKeyShift = 138,
  kKeyF1 = 145,
  kKeyMouse1Code = 178,
  kKeyMouse2Code = 179,
  kKeyWheelDown = 183,
  kKeyWheelUp = 184,
  kKeyJoy1Code = 185,
};

class KeyBinds : public KeyBindSystem, public KeyBindingWriter {
 public:
  static constexpr int kKeyCount = 256;
  static constexpr uint32_t kStateDown = 0x80000000u;
  static constexpr uint32_t kStateHandled = 0x40000000u;
  static constexpr uint32_t kStateCountMask = 0x3FFFFFFFu;

  // Starts with every binding empty, the commands registered and mode 0; getKeyBinds then runs
  // initInput and setDefaults.
  KeyBinds();
  ~KeyBinds() override;

  // KeyBindSystem
  void keyEvent(int key, bool down) override;
  void charEvent(int character) override;
  void mouseEvent(int dx, int dy, int time) override;
  void endFrame() override;
  int getMode() override { return mode_; }
  int setMode(int mode) override { return mode_ = mode; }
  void releaseAllKeys() override;
  void restartInput() override;
  void pollInput() override;
  void setInputActive(bool active) override;
  bool isDown(int key) override;
  const char* keyName(int key) override;
  int keyFromName(const char* name) override;
  void setBinding(int key, const char* text) override;
  int keysForCommand(const char* command, char* out) override;
  void getUserCmd(UserCmd* out, int time, int frame) override;

  // KeyBindingWriter: the "setkey" lines of "writecfg".
  void writeSetKeys(IOFileHandle file) override;

  // "clearkeys" and the "setkey" lines, when at least one key is bound.
  void writeBindings(IOFileHandle file);
  void setDefaults();
  void clearBindings();
  void initInput();
  void shutdownInput();

  // Runs the key's binding once for its current state (see the .cpp).
  void executeBinding(int key);

  uint32_t keyState(int key) const { return key >= 0 && key < kKeyCount ? keys_[key].state : 0; }
  const char* binding(int key) const { return key >= 0 && key < kKeyCount ? keys_[key].binding.c_str() : ""; }
  int keysDown() const { return keysDown_; }
  float cursorX() const { return cursorX_; }
  float cursorY() const { return cursorY_; }
  UserCmdGen& userCmdGen() { return generator_; }

  // Input devices initInput asks for (the engine always passes mouse and joystick; tests may
  // leave the joystick closed).
  static void setDeviceFlags(int flags);

 private:
  struct Key {
    uint32_t state = 0;
    String binding;
  };

  void registerCommands();
  bool consoleOwns() const { return (mode_ & 1) != 0; }
  bool guiOwns() const { return !consoleOwns() && (mode_ & 2) != 0; }
  bool gameOwns() const { return mode_ == 4; }

  Key keys_[kKeyCount];
  int keysDown_ = 0;
  float cursorX_ = 0.0f;
  float cursorY_ = 0.0f;
  int mode_ = 0;
  UserCmdGen generator_;
};

// Creates the one instance on first use with create set (defaults bound, commands registered,
// input started) and publishes g_keyBindSystem and g_keyBindingWriter.
KeyBinds* getKeyBinds(bool create);
void destroyKeyBinds();
