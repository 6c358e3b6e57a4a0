// The window kinds of settings and text screens: "bindDef" shows and changes the keys bound to a
// console command, "comboDef" cycles a console variable through values with display names, and
// "dialogDef" shows a text file as an endlessly scrolling column of text lines and pictures.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "ui/uiwindow.h"

class Material;

// Shared by the kinds: declares each row the window does not have yet, and answers isVarDefault
// from the window's own table first, then from the rows.
class UIKindWindow : public UIWindow {
 public:
  UIKindWindow(UserInterfaceLocal* gui, const UIVarDef* properties) : UIWindow(gui), properties_(properties) {}
  UIKindWindow(UserInterfaceLocal* gui, const UIVarDef* properties, UIBareWindow)
      : UIWindow(gui, UIBareWindow()), properties_(properties) {}
  bool isVarDefault(int index) const override;
  // Adds the kind's properties missing from the window (after a copy from a template, too).
  virtual void declareProperties();
  // Replaces the variables by the built-in ones and the kind's properties at their defaults: what
  // declaring the properties over the built-in set gives, made once per kind and copied.
  void setKindDefaults();

 protected:
  const UIVarDef* properties_;  // ended by a row of type kUIVarNone
};

class UIBindDef : public UIKindWindow {
 public:
  explicit UIBindDef(UserInterfaceLocal* gui);
  // No variables or properties yet: the kind creators copy a template over it, then declare them.
  UIBindDef(UserInterfaceLocal* gui, UIBareWindow);
  // Shows the keys bound to "bind" ("<empty>" for none), except while waiting for a key.
  void update() override;
  bool onKey(int key) override;
  // The first mouse button starts waiting for a key; while waiting, every button ends it.
  bool onAction(int key) override;
  bool isCapturingKeys() const override { return capturing_; }

 private:
  // Clears every key bound to the command.
  static void unbindCommand(const char* command);

  bool capturing_ = false;
};

class UIComboDef : public UIKindWindow {
 public:
  static constexpr int kMaxPieces = 256;

  explicit UIComboDef(UserInterfaceLocal* gui);
  // No variables or properties yet: the kind creators copy a template over it, then declare them.
  UIComboDef(UserInterfaceLocal* gui, UIBareWindow);
  void declareProperties() override;
  // Refreshes "text" when "update" is set.
  void update() override;
  // Mouse 1 steps to the next value, mouse 2 to the previous one, and the variable takes it.
  bool onAction(int key) override;
  // The index of the variable's value among the first `usable` values, or -1 (no variable).
  int currentIndex(int usable, std::vector<std::string>* values);
  int numChoices() const { return choices_; }

 private:
  void refresh();
  int choices_ = 0;  // usable entries found by the last refresh
};

// One line of a dialog: a text, or a picture.
struct DialogLine {
  bool picture = false;
  Material* material = nullptr;  // a picture's (null when no material system runs)
  std::string text;
  float width = 1.0f;  // a picture's width, or a text line's scale
  float height = 1.0f;
  int font = 0;
  int align = 0;  // 0 left, 1 right, 2 centred, 3 as the renderer treats values above 2
};

class UIDialogDef : public UIKindWindow {
 public:
  explicit UIDialogDef(UserInterfaceLocal* gui);
  // No variables or properties yet: the kind creators copy a template over it, then declare them.
  UIDialogDef(UserInterfaceLocal* gui, UIBareWindow);
  void declareProperties() override;
  // Reloads the file when "update" is set, which restarts the scrolling.
  void update() override;
  void draw(const float origin[2]) override;

  int numLines() const { return int(lines_.size()); }
  const DialogLine* line(int index) const {
    return index >= 0 && index < numLines() ? lines_[size_t(index)].get() : nullptr;
  }
  float totalHeight() const { return totalHeight_; }
  int startTime() const { return startTime_; }
  // The line drawn at the window's top and how far above the top it starts, at a time.
  void scrollPosition(int now, int* firstLine, float* above) const;

 private:
  void loadFile();

  std::vector<std::unique_ptr<DialogLine>> lines_;
  float totalHeight_ = 0.0f;
  int startTime_ = 0;
};
