// The recording game module's control block, shared by the module and the
// tests that drive the engine with it. The tests load the module themselves
// first, so it stays loaded (and its record readable) after the engine frees it.
#pragma once

#include <cstdio>
#include <cstring>

#include "lib/interface/gameinterface.h"

enum TestGameFailure {
  kTestGameOk = 0,
  kTestGameNullBlock = 1,      // GetGameAPI returns null
  kTestGameNullInterface = 2,  // the block carries no game interface
};

struct TestGameControl {
  int failure = kTestGameOk;
  // Texts returned by successive runFrame calls (then empty ones).
  char scripted[8][kGameCommandSize] = {};
  int scriptedCount = 0;
  int scriptedNext = 0;
  // Fill the returned block to its last byte without a terminator.
  bool unterminated = false;
  int menuAnswer = 1;
  UserInterface* menuGui = nullptr;
  // loadMap answers false (the game refuses the map).
  bool refuseLoadMap = false;

  // What the engine did, as "name;" entries in call order.
  char calls[8192] = {};
  int getGameApiCalls = 0;
  GameImports firstImports = {};
  GameImports lastImports = {};
  UserInterface* menuSet = nullptr;
  int runFrames = 0;
  int draws = 0;
  int stepMilliseconds = 0;
  // Steps handed a user command that was not all zero bytes.
  int nonZeroCommandSteps = 0;
  char lastMapName[256] = {};
  int lastMapArgs[3] = {};

  void reset() { *this = TestGameControl(); }
  void record(const char* name) {
    size_t used = std::strlen(calls);
    std::snprintf(calls + used, sizeof(calls) - used, "%s;", name);
  }
};

// Exported by the module.
using TestGameControlFunction = TestGameControl* (*)();
constexpr const char* kTestGameControlName = "testGameControl";
