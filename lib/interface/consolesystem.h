// The drop-down console as the engine core reaches it; the console object
// extends it. Absent (null) until built: console output is then dropped.
#pragma once

class ConsoleSystem {
 public:
  virtual ~ConsoleSystem() = default;

  virtual void update() = 0;
  virtual void draw() = 0;
  // Loads (or reloads after a video restart) the console font.
  virtual void initFont() = 0;

  // Routed by the key bindings while the console has the input (added with the key bindings;
  // the defaults keep older fakes compiling).
  virtual void keyEvent(int /*key*/) {}
  virtual void charEvent(int /*character*/) {}
  // Starts the open or close slide (the console key).
  virtual void setSliding(bool /*sliding*/) {}
  // Open on screen: what is printed can be read there (otherwise problems also go to standard
  // error).
  virtual bool isVisible() const { return false; }
};

inline ConsoleSystem* g_consoleSystem = nullptr;
