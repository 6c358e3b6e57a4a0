// The user-interface manager and the full-screen interface object, as far as
// the engine core calls them; the user-interface subsystem extends both.
// Absent (null) until that subsystem is built.
#pragma once

// One interface input event: type 1 key, 2 character, 3 mouse movement.
struct UIInputEvent {
  int type = 0;
  int value = 0;
  int value2 = 0;
  int reserved0 = 0;
  int reserved1 = 0;
};

class UserInterface {
 public:
  virtual ~UserInterface() = default;

  virtual void namedEvent(const char* name) = 0;
  // Draws the interface full-screen in 640 x 480 units, then its cursor.
  virtual void redraw(int time) = 0;
  virtual void setStateString(const char* name, const char* text) = 0;
  virtual void setStateFloat(const char* name, float value) = 0;
  virtual void activate(bool active, int time) = 0;
  virtual const char* handleEvent(const UIInputEvent* event, int time, bool* handled) = 0;
};

class UserInterfaceSystem {
 public:
  virtual ~UserInterfaceSystem() = default;

  // The interface of a ".gui" file, found or loaded; null when it cannot be.
  virtual UserInterface* findGui(const char* name, bool create, bool forceNew) = 0;
  // Deactivates, removes and deletes an interface (null allowed).
  virtual void freeGui(UserInterface* gui) = 0;
  // Time events and queued commands of every interface; -1 means now. Clears
  // g_activeGui when that interface is no longer active.
  virtual void frame(int time) = 0;
};

inline UserInterfaceSystem* g_uiSystem = nullptr;

// The engine's one full-screen interface (main menu, loading screen, death and
// victory screens), or null.
inline UserInterface* g_activeGui = nullptr;
