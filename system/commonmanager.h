// CommonManager: creates every other manager in a fixed order selected by a
// mask, destroys them in a fixed order, carries the two halves of a video
// restart, and serves the event pump, map loading and message boxes.
#pragma once

#include <cstdint>
#include <functional>
#include <utility>

#include "lib/interface/commonsystem.h"
#include "lib/interface/gameinterface.h"
#include "lib/keydict.h"
#include "system/framedriver.h"

// Initialisation mask bits.
enum CommonInitBit : uint32_t {
  kInitConVars = 0x1,
  kInitCommands = 0x2,
  kInitConsole = 0x4,
  kInitDecls = 0x8,
  kInitFileSystem = 0x10,
  kInitKeyBinds = 0x20,
  kInitRenderDevice = 0x40,
  kInitRender = 0x80,
  kInitUserInterface = 0x100,
  kInitRenderModels = 0x200,
  kInitSound = 0x400,
  kInitTextures = 0x800,
  kInitCollision = 0x1000,
  kInitNetwork = 0x2000,
  kInitEverything = 0xFFFFFF,
};

class CommonManager : public CommonSystem {
 public:
  static constexpr int kMessageBufferSize = 16384;

  CommonManager();
  ~CommonManager() override;

  void printf(const char* format, ...) override __attribute__((format(printf, 2, 3)));
  void errorBox(const char* text, const char* caption) override;
  int assertBox(const char* text, const char* caption) override;
  void* windowHandle() override { return window_; }
  void* instanceHandle() override { return instance_; }
  bool hasSpatialSystem() override;
  void setAllowMissingWorld(bool allow) override { allowMissingWorld_ = allow; }
  void updateLoading() override;
  void processEvents() override;
  bool playVideo(const char* videoName, const char* soundName, bool skippable) override;

  bool loadMap(const char* name, int serverFlag, int networkFlag) override;
  void unloadMap() override;
  void saveGameDicts() override;
  void waitLoading(int milliseconds) override;
  void beginVidRestart() override;
  void endVidRestart(void* window) override;
  const char* lastPrintedText() override;

  // True when every selected manager started. False when already initialised
  // or on a failure, after tearing down what this call created.
  bool init(void* window, void* instance, uint32_t mask);
  // Nothing unless initialised.
  void shutdown();
  bool isInitialised() const { return initialised_; }
  bool isLoading() const { return loading_; }

  KeyDict& persistentDict(int index) { return dicts_[index]; }
  // Why the last map load failed, once (null when it did not fail or was asked already); the
  // frame driver shows it on the main menu it brings back.
  const char* takeMapFailure();
  // The clock and sleep of the loading screen and video loops; tests inject their own (null
  // members fall back to the platform's).
  void setClock(const FrameClock& clock) { clock_ = clock; }
  // Runs once in init, before the render device is made (with a mask that makes one): the window
  // handler reads the configuration there and hands back the window the renderer is to use, so
  // the renderer is built once, with the configured settings. Null stops the start.
  void setBeforeRenderer(std::function<void*()> hook) { beforeRenderer_ = std::move(hook); }

  // The formatting of printf/commonPrintf, shared with the free function.
  static void vprint(const char* format, va_list args);

 private:
  void teardown();

  void* window_ = nullptr;
  void* instance_ = nullptr;
  bool initialised_ = false;
  bool allowMissingWorld_ = false;
  char mapFailure_[320] = {};
  bool mapFailed_ = false;
  bool loading_ = false;
  bool systemCreated_ = false;
  KeyDict dicts_[kPersistentDictCount];
  FrameClock clock_;
  std::function<void*()> beforeRenderer_;

  uint32_t now() const;
  void sleep(int milliseconds) const;
};

// Creates the one instance on first use and publishes g_commonSystem.
CommonManager* getCommonManager();
// Shuts it down and deletes it; clears the pointer.
void destroyCommonManager();
// The instance when one exists; never creates it.
CommonManager* findCommonManager();

class SpatialSystem;
// Gives `name` (a buffer of `size` bytes) the extension of the first map kind (".bsp", then ".kdt")
// for which "maps/" + name exists, and creates that kind's spatial system through the factory
// registered for it. Null when neither file exists, or (with a message) when no factory is
// registered for the kind found.
SpatialSystem* mapFileName(char* name, size_t size);

// Takes and dispatches the window's events until none is left (message boxes
// and loading screens); the frame's own pump lives with the window handler.
void pumpWindowMessages(void* window);
