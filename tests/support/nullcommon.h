// A common manager that does nothing, for suites that need g_commonSystem set: each call is
// accepted and answered with the neutral value (no window, no map, no spatial system, asserts
// answered 0). Suites override the calls they watch. Header only, as nullgame.h.
#pragma once

#include "lib/interface/commonsystem.h"

class NullCommon : public CommonSystem {
 public:
  void printf(const char*, ...) override {}
  void errorBox(const char*, const char*) override {}
  int assertBox(const char*, const char*) override { return 0; }
  void* windowHandle() override { return nullptr; }
  void* instanceHandle() override { return nullptr; }
  bool hasSpatialSystem() override { return false; }
  void setAllowMissingWorld(bool) override {}
  void updateLoading() override {}
  void processEvents() override {}
  bool playVideo(const char*, const char*, bool) override { return false; }
  bool loadMap(const char*, int, int) override { return false; }
  void unloadMap() override {}
  void saveGameDicts() override {}
  void waitLoading(int) override {}
  void beginVidRestart() override {}
  void endVidRestart(void*) override {}
  const char* lastPrintedText() override { return ""; }
};
