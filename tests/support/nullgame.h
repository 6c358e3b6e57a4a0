// A game module that does nothing, for suites that need g_gameInterface set: each call is accepted
// and answered with the neutral value (maps load, no command text, no menu of its own, clients are
// let in, keys are left to the engine). Suites override the calls they watch.
// Header only, so the fuzz harnesses (which link no test library) can use it too.
#pragma once

#include "lib/interface/gameinterface.h"

class NullGame : public GameInterface {
 public:
  void init() override {}
  void shutdown() override {}
  void applyViewEffect(int, const char*, float, float) override {}
  void spawnImpactEffect(const DeclEffect*, const Vec3&, const Mat3&, int, const Vec3&, int,
                         const float*) override {}
  void getViewOrigin(Vec3*, float*) override {}
  void traceParticle(void*, const Vec3&, const Vec3&, int, int) override {}
  void serverStarted(int) override {}
  void clientUserInfo(int, const KeyDict*, bool, int) override {}
  void setServerInfo(const KeyDict*) override {}
  const KeyDict* getPersistentDict(int) override { return nullptr; }
  void setPersistentDict(int, const KeyDict*) override {}
  bool loadMap(const char*, int, int, int) override { return true; }
  void mapUnloaded() override {}
  void setLocalClientNum(int) override {}
  void runFrame(char* commandText, const UserCmd*, int, int) override {
    if (commandText)
      commandText[0] = '\0';
  }
  int getMenu(UserInterface**) override { return 0; }
  void setMenu(UserInterface*) override {}
  void guiEvent(UserInterface*, const char*) override {}
  bool checkClientConnect(int, const char*, const char*, const char*, char*) override { return false; }
  void clientConnecting(int) override {}
  void clientConnected(int) override {}
  void clientDisconnected(int) override {}
  void clientGameState(int) override {}
  void writeSnapshot(int, int, BitMsg*, void*, int) override {}
  void serverMessage(int, const char*, const char*) override {}
  void draw(int) override {}
  void mouseEvent(int, int, int) override {}
  bool keyEvent(int, bool) override { return false; }
};
