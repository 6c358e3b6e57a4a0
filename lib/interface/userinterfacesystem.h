// The user-interface manager and the interface object ("gui") as the engine core and the game
// module reach them. The one implementation is UserInterfaceManager / UserInterfaceLocal (ui/).
// The operations the engine core calls are pure; the others carry neutral bodies so that test
// doubles implement only what they use. Absent (null) until the user-interface manager starts.
#pragma once

class KeyDict;
class Mat4;
class UIProgram;
class UIWindow;
struct Vec4;

// One interface input event: type 1 key, 2 character, 3 mouse movement; value is the key code,
// the character or dx; value2 the down flag, the deliver flag or dy.
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

  // The ".gui" file name.
  virtual const char* getName() { return ""; }
  virtual const char* getAuxText() { return ""; }
  virtual bool isValid() { return true; }
  virtual bool load(const char* /*name*/, bool /*unused*/) { return false; }
  virtual bool reload() { return false; }
  virtual UIProgram* getProgram() { return nullptr; }
  // Keys 178..184 (mouse buttons, wheel) reach the focus window's action handlers, other keys and
  // characters its key handler, movements move the cursor. The result is unused ("").
  virtual const char* handleEvent(const UIInputEvent* event, int time, bool* handled) = 0;
  // Runs the matching named-event handlers of the whole window tree at once.
  virtual void namedEvent(const char* name) = 0;
  // Draws the interface full-screen in 640 x 480 units, then its cursor.
  virtual void redraw(int time) = 0;
  // Draws the desktop on a model surface: the renderer's surface matrix (which already carries the
  // view's model-view) scaled so 640 x 480 units cover width x height of the surface. The renderer
  // calls it for every surface in view whose material shows this interface.
  virtual void drawOnSurface(int /*time*/, const Mat4& /*matrix*/, float /*width*/, float /*height*/) {}
  virtual void drawCursor() {}
  // The desktop's own variables (null without a desktop); what is written through it sets them.
  virtual KeyDict* getStateDict() { return nullptr; }
  virtual void deleteStateVar(const char* /*name*/) {}
  // Names may be window paths ("child.text"); missing variables are created.
  virtual void setStateString(const char* name, const char* text) = 0;
  virtual void setStateBool(const char* /*name*/, bool /*value*/) {}
  virtual void setStateInt(const char* /*name*/, int /*value*/) {}
  virtual void setStateFloat(const char* name, float value) = 0;
  virtual void setStateVec4(const char* /*name*/, const float* /*value*/) {}
  // Missing variables read as "" or 0.
  virtual const char* getStateString(const char* /*name*/) { return ""; }
  virtual bool getStateBool(const char* /*name*/) { return false; }
  virtual int getStateInt(const char* /*name*/) { return 0; }
  virtual float getStateFloat(const char* /*name*/) { return 0.0f; }
  virtual Vec4* getStateVec4(Vec4* out, const char* /*name*/) { return out; }
  virtual void refreshWindows(int /*unused*/, bool /*flag*/) {}
  // Runs "onActivate" / "onDeactivate" when the state changes.
  virtual void activate(bool active, int time) = 0;
  virtual void trigger() {}
  virtual bool mouseMove(float /*x*/, float /*y*/) { return false; }
};

class UserInterfaceSystem {
 public:
  virtual ~UserInterfaceSystem() = default;

  virtual void reloadGuis(bool /*all*/) {}
  // True when the file system reports a length above 0 for that interface file.
  virtual bool guiFileExists(const char* /*name*/) { return false; }
  // The manager's root window "gui", where absolute window paths start.
  virtual UIWindow* getRootWindow() { return nullptr; }
  virtual UserInterface* allocGui() { return nullptr; }
  // Deactivates, removes and deletes an interface (null allowed).
  virtual void freeGui(UserInterface* gui) = 0;
  // The interface of a ".gui" file, found or loaded; null when it cannot be.
  virtual UserInterface* findGui(const char* name, bool create, bool forceNew) = 0;
  // Time events and queued commands of every interface; -1 means now. Clears
  // g_activeGui when that interface is no longer active.
  virtual void frame(int time) = 0;
};

inline UserInterfaceSystem* g_uiSystem = nullptr;

// The engine's one full-screen interface (main menu, loading screen, death and
// victory screens), or null.
inline UserInterface* g_activeGui = nullptr;
