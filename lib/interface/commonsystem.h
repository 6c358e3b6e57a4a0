// The common manager's interface: the engine's common print and message boxes,
// the window, map state, the event pump and video playback. It starts and
// stops every other manager (system/commonmanager.h).
#pragma once

#include <cstdarg>

class CommonSystem {
 public:
  virtual ~CommonSystem() = default;

  // Keeps the text in the common message buffer (16,383 characters, under the
  // print lock); nothing is shown.
  virtual void printf(const char* format, ...) __attribute__((format(printf, 2, 3))) = 0;
  virtual void errorBox(const char* text, const char* caption) = 0;
  // 0 yes, 1 no, 2 cancel, -1 any other answer.
  virtual int assertBox(const char* text, const char* caption) = 0;
  // The application window (a platform window handle) or null.
  virtual void* windowHandle() = 0;
  virtual void* instanceHandle() = 0;
  virtual bool hasSpatialSystem() = 0;
  virtual void setAllowMissingWorld(bool allow) = 0;
  virtual void updateLoading() = 0;
  virtual void processEvents() = 0;
  // False when the video cannot be opened.
  virtual bool playVideo(const char* videoName, const char* soundName, bool skippable) = 0;

  // Beyond the original table: the common manager's other operations, for
  // callers outside the engine core (the network's "map" command).
  virtual bool loadMap(const char* name, int serverFlag, int networkFlag) = 0;
  virtual void unloadMap() = 0;
  virtual void saveGameDicts() = 0;
  virtual void waitLoading(int milliseconds) = 0;
  virtual void beginVidRestart() = 0;
  virtual void endVidRestart(void* window) = 0;
  // The text CommonManager::printf kept last (for diagnostics and tests).
  virtual const char* lastPrintedText() = 0;
};

inline CommonSystem* g_commonSystem = nullptr;

// The free twin of CommonSystem::printf: the same buffer and lock.
void commonPrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));
