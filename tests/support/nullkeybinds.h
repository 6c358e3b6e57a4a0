// Key bindings that do nothing, for suites that need g_keyBindSystem set: events are dropped,
// the mode is always 0 and setting one answers it back. Suites override the calls they watch.
// Header only, as nullgame.h.
#pragma once

#include "lib/interface/keybindsystem.h"

class NullKeyBinds : public KeyBindSystem {
 public:
  void keyEvent(int, bool) override {}
  void charEvent(int) override {}
  void mouseEvent(int, int, int) override {}
  void endFrame() override {}
  int getMode() override { return 0; }
  int setMode(int mode) override { return mode; }
  void releaseAllKeys() override {}
  void restartInput() override {}
  void pollInput() override {}
  void setInputActive(bool) override {}
};
