// One loaded ".gui" file: a window tree under its desktop, one Lua program for all of its
// windows, a mouse cursor and the window under the mouse.
#pragma once

#include <string>

#include "lib/interface/userinterfacesystem.h"
#include "lib/keydict.h"
#include "ui/uiprogram.h"

class Material;
class UIWindow;

// Key codes of the mouse buttons and the wheel, which reach the action handlers.
constexpr int kUIKeyMouse1 = 178;
constexpr int kUIKeyMouseLast = 184;

class UserInterfaceLocal : public UserInterface {
 public:
  UserInterfaceLocal();
  ~UserInterfaceLocal() override;
  UserInterfaceLocal(const UserInterfaceLocal&) = delete;
  UserInterfaceLocal& operator=(const UserInterfaceLocal&) = delete;

  const char* getName() override { return name_.c_str(); }
  const char* getAuxText() override { return ""; }
  bool isValid() override { return true; }
  bool load(const char* name, bool unused) override;
  bool reload() override;
  UIProgram* getProgram() override { return &program_; }
  const char* handleEvent(const UIInputEvent* event, int time, bool* handled) override;
  void namedEvent(const char* name) override;
  void redraw(int time) override;
  void drawOnSurface(int time, const Mat4& matrix, float width, float height) override;
  void drawCursor() override;
  KeyDict* getStateDict() override;
  void deleteStateVar(const char* name) override;
  void setStateString(const char* name, const char* text) override;
  void setStateBool(const char* name, bool value) override;
  void setStateInt(const char* name, int value) override;
  void setStateFloat(const char* name, float value) override;
  void setStateVec4(const char* name, const float* value) override;
  const char* getStateString(const char* name) override;
  bool getStateBool(const char* name) override;
  int getStateInt(const char* name) override;
  float getStateFloat(const char* name) override;
  Vec4* getStateVec4(Vec4* out, const char* name) override;
  void refreshWindows(int unused, bool flag) override;
  void activate(bool active, int time) override;
  void trigger() override;
  bool mouseMove(float x, float y) override;

  // The first and last steps of redraw: the 640 x 480 projection and 2D drawing mode, and
  // putting the back end back as it was.
  void begin2D();
  void end2D();
  // The model-view of drawing on a surface: 640 x 480 scaled to width x -height, then the matrix.
  void setSurfaceProjection(const Mat4& matrix, float width, float height);

  // The window under the cursor found again where the cursor stands, with the mouse's exit and
  // enter handlers: windows that appeared, went or moved under a still cursor. The manager calls
  // it every frame; keys and clicks call it first.
  void refreshFocus();

  UIWindow* getDesktop() const { return desktop_; }
  UIWindow* getFocusWindow() const { return focus_; }
  bool runScript(const char* text);
  // Deletes the window tree, clears the focus window and closes the program.
  void clear();
  float mouseX() const { return mouseX_; }
  float mouseY() const { return mouseY_; }

 private:
  std::string name_;
  UIWindow* desktop_ = nullptr;
  UIWindow* focus_ = nullptr;
  UIProgram program_;
  Material* cursor_ = nullptr;
  static constexpr float kNoMouse = -999.0f;  // before the first mouse event
  float mouseX_ = kNoMouse;
  float mouseY_ = kNoMouse;
  int flags_ = 0;          // bit 0: a model-view pushed, bit 1: a projection pushed
  std::string stateText_;  // getStateString's result
};
