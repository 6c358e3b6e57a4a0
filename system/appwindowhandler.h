// The process shell: the application window object with its display modes and
// window procedure, the game module's load and unload, and the per-frame
// driver with its fixed 16 ms game step and frame-rate cap. Main thread only.
#pragma once

#include <cstdint>
#include <vector>

#include "lib/interface/gameinterface.h"
#include "platform/window.h"
#include "system/framedriver.h"

class WindowHandler {
 public:
  enum Flag : uint8_t {
    kFlagCreated = 0x1,        // window and managers created
    kFlagInactive = 0x2,       // the pump then sleeps
    kFlagFullScreen = 0x4,     // full screen in force
    kFlagFirstCreation = 0x8,  // the first window is always windowed
    kFlagStop = 0x10,          // "quit" or a failed game-module load
  };
  using MessageHook = void (*)(const PlatformEvent& event);

  WindowHandler();
  virtual ~WindowHandler();

  virtual bool init(const char* commandLine) = 0;
  // False when the application is to stop.
  virtual bool frame() = 0;
  virtual void shutdown() = 0;

  // Display modes, the window, then the common manager with `mask`.
  bool createWindowAndCommon(void* instance, uint32_t mask = 0xFFFFFF);
  bool enumDisplayModes();
  bool createAppWindow();
  bool recreateWindow();
  // True when the window stands in the mode and the full-screen state that "r_mode" and
  // "r_fullscreen" ask for now.
  bool windowMatchesVariables() const;
  void pumpMessages();
  bool setDisplayMode(int width, int height, int bitsPerPixel);
  // Destroys the common manager (every manager with it), then the window.
  void destroy();
  void addMessageHook(MessageHook hook);

  // The window procedure: one event through the message table, then the hooks.
  void handleEvent(const PlatformEvent& event);

  void setWindowText(const char* text);
  const char* windowText() const { return windowText_; }
  void showWindow();

  uint8_t flags() const { return flags_; }
  void setFlag(uint8_t flag, bool on) { flags_ = on ? (uint8_t)(flags_ | flag) : (uint8_t)(flags_ & ~flag); }
  bool stopRequested() const { return (flags_ & kFlagStop) != 0; }
  void requestStop() { setFlag(kFlagStop, true); }
  PlatformWindow* window() const { return window_; }
  const std::vector<PlatformDisplayMode>& displayModes() const { return modes_; }
  // Tests hand in their own driver list (null: ask the platform).
  void setModeSource(const std::vector<PlatformDisplayMode>* modes, const PlatformDisplayMode* desktop);

 protected:
  // Writes "r_mode", "r_modelist", "r_viewwidth", "r_viewheight" and
  // "r_colordepth" from the chosen mode.
  void publishModeVariables();
  // Before the renderer exists: reads "default.cfg" and re-makes the window when the
  // configuration (or "r_fullscreen" over the windowed first window) asks for another one.
  void* prepareRendererWindow();

  bool configLoaded_ = false;  // "default.cfg" ran before the renderer was made

  uint8_t flags_ = 0;
  int modeIndex_ = 0;
  PlatformDisplayMode desktop_;
  char deviceName_[128] = {};
  PlatformWindow* window_ = nullptr;
  void* instance_ = nullptr;
  bool videoStarted_ = false;
  std::vector<MessageHook> hooks_;
  std::vector<PlatformDisplayMode> modes_;
  const std::vector<PlatformDisplayMode>* modeSource_ = nullptr;
  const PlatformDisplayMode* desktopSource_ = nullptr;
  char windowText_[256] = {};
};

class AppWindowHandler : public WindowHandler {
 public:
  AppWindowHandler();
  ~AppWindowHandler() override;

  bool init(const char* commandLine) override;
  bool frame() override;
  // After a failed map load: the main menu again, with the reason in its "map_message".
  void showMapFailure();
  void shutdown() override;
  void handleGameCommand(const char* text);

  void setClock(const FrameClock& clock) { clock_ = clock; }
  GameExports* gameExports() const { return exports_; }
  bool moduleLoaded() const { return module_ >= 0; }
  const char* modulePath() const { return modulePath_; }
  const GameStepClock& gameClock() const { return gameClock_; }
  const FrameRateCounter& frameRate() const { return frameRate_; }
  int framesRun() const { return framesRun_; }
  // True after an init that could not start the game (no module, no interface): not a "quit".
  bool startFailed() const { return startFailed_; }

 private:
  // Fails the start with a message the user sees (standard error while no console echoes).
  bool failStart(const char* format, ...) __attribute__((format(printf, 2, 3)));
  uint32_t now() const { return clock_.now(); }

  FrameClock clock_;
  GameExports* exports_ = nullptr;
  int module_ = -1;
  GetGameAPIFunction getGameApi_ = nullptr;
  int64_t startTime_ = 0;
  char modulePath_[1024] = {};
  GameStepClock gameClock_;
  FrameRateCounter frameRate_;
  uint64_t previousFrameEnd_ = 0;
  int framesRun_ = 0;
  bool startFailed_ = false;
};

// The one handler; created by createAppWindowHandler.
inline AppWindowHandler* g_appWindowHandler = nullptr;
AppWindowHandler* createAppWindowHandler();
void destroyAppWindowHandler();

// Opens the main menu (the game's own, or "guis/mainmenu.gui").
void openMainMenu(bool force);

// The executable's start-up up to its first frame: the memory manager, the file system's command
// line, the handler with its window and the common manager, its init on `commandLine` and the shown
// window. Null, with all of it undone, when the window or the managers cannot be made; otherwise
// `initialized` holds init's answer and stopApplication ends the run either way.
AppWindowHandler* startApplication(const char* commandLine, void* instance, bool* initialized);
// One pass of the main loop: events, the developer console, sound, then the frame. False when
// the application is to stop.
bool runMainLoopPass(AppWindowHandler* app);
// Shuts down what startApplication made.
void stopApplication(AppWindowHandler* app);

// The whole start-up, main loop and shutdown; 0 after a normal end, 1 when the
// game could not start, -1 when the window or the managers cannot be created.
int runApplication(const char* commandLine, void* instance);

// Follows "con_devconsole": announces the developer console on standard output
// when it is switched on, then prints what was printed before.
void applyDevConsole();

// Runs a command line one statement at a time, so a line longer than the
// command buffer still runs whole; a single statement too long for the buffer
// is refused with a message on standard error.
void executeCommandLine(const char* commandLine);
