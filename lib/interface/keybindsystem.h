// The key bindings as the engine core reaches them: key, character and mouse
// events from the event pump, the input mode and key release. The key-binding
// object extends it. Absent (null) until built.
#pragma once

struct UserCmd;

// Input-mode bits.
enum KeyBindMode : int {
  kKeyModeConsole = 1,  // the console has the input
  kKeyModeGui = 2,      // the full-screen interface receives keys, characters, movement
  kKeyModeGame = 4,     // the game has the input
};

class KeyBindSystem {
 public:
  virtual ~KeyBindSystem() = default;

  virtual void keyEvent(int key, bool down) = 0;
  virtual void charEvent(int character) = 0;
  virtual void mouseEvent(int dx, int dy, int time) = 0;
  // Runs the bindings of the keys that changed this frame.
  virtual void endFrame() = 0;
  virtual int getMode() = 0;
  virtual int setMode(int mode) = 0;
  virtual void releaseAllKeys() = 0;
  // Restarts the input devices on a new window (video restart).
  virtual void restartInput() = 0;
  // Polls the input devices, queueing system events, with the input mode.
  virtual void pollInput() = 0;
  // Deactivates or activates the input devices (window focus).
  virtual void setInputActive(bool active) = 0;

  // For the interfaces' bind windows and the network (added with the key bindings; the defaults
  // keep older fakes compiling).
  // Held down; false for a code outside 0..255.
  virtual bool isDown(int /*key*/) { return false; }
  // The key's name (in a static buffer); "<KEY OUT OF RANGE>" above 255.
  virtual const char* keyName(int /*key*/) { return ""; }
  // -1 for no match.
  virtual int keyFromName(const char* /*name*/) { return -1; }
  // Ignored for a code outside 0..255 or a null text.
  virtual void setBinding(int /*key*/, const char* /*text*/) {}
  // The names of the first one or two keys bound to `command` ("%s or %s") into out (256 bytes);
  // returns the second key's code, else 0.
  virtual int keysForCommand(const char* /*command*/, char* out) {
    if (out)
      out[0] = '\0';
    return 0;
  }
  // The player's command for `time` (built anew when the time changed).
  virtual void getUserCmd(UserCmd* /*out*/, int /*time*/, int /*frame*/) {}
};

inline KeyBindSystem* g_keyBindSystem = nullptr;
