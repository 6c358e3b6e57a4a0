// Fakes for the network manager's suites: a game module that records the server's calls and
// writes a small snapshot, a common manager whose map loads succeed, key bindings that build a
// command that changes every frame, and helpers that move packets between managers.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "lib/interface/commonsystem.h"
#include "lib/interface/convarsystem.h"
#include "lib/interface/gameinterface.h"
#include "lib/interface/keybindsystem.h"
#include "lib/keydict.h"
#include "network/networkmanager.h"
#include "tests/support/nullcommon.h"
#include "tests/support/nullgame.h"
#include "tests/support/nullkeybinds.h"

class FakeGame : public NullGame {
 public:
  FakeGame();
  ~FakeGame() override;
  void serverStarted(int localClient) override {
    log.push_back("serverStarted " + std::to_string(localClient));
  }
  void setServerInfo(const KeyDict*) override { ++serverInfos; }
  void mapUnloaded() override { ++mapsUnloaded; }
  void setLocalClientNum(int n) override { log.push_back("setLocalClientNum " + std::to_string(n)); }
  int getMenu(UserInterface**) override {
    ++menus;
    return 0;
  }
  bool checkClientConnect(int, const char*, const char*, const char*, char* reason) override;
  void clientConnected(int n) override { log.push_back("clientConnected " + std::to_string(n)); }
  void clientDisconnected(int n) override { log.push_back("clientDisconnected " + std::to_string(n)); }
  void clientGameState(int n) override { log.push_back("clientGameState " + std::to_string(n)); }
  void writeSnapshot(int, int snapshotNumber, BitMsg* msg, void*, int) override;
  void serverMessage(int, const char*, const char* text) override {
    log.push_back(std::string("serverMessage ") + text);
  }

  void clientGameStateReceived(const KeyDict* info) override;
  void clientReadSnapshot(int, BitMsg* msg) override;
  void clientReadGameMessage(BitMsg* msg) override;

  bool hasLogged(const std::string& entry) const;

  std::vector<std::string> log;
  std::string rejectWith;  // non-empty: checkClientConnect rejects with this reason
  int snapshotBytes = 32;  // bytes each snapshot carries
  int snapshots = 0;
  int serverInfos = 0;
  int mapsUnloaded = 0;
  int menus = 0;
  int snapshotsRead = 0;
  int lastSnapshotFirstByte = -1;  // the first byte of the game's part of the last snapshot
  std::vector<int> gameMessages;   // the first int32 of each game message the client got

 private:
  GameInterface* previous_;
};

// Console variables for the network suites: each one a declaration holding the value it was set
// to, so the manager reads it through the usual lookup.
class FakeConVars : public ConVarSystem {
 public:
  FakeConVars();
  ~FakeConVars() override;
  void set(const std::string& name, const std::string& value, uint32_t flags = kConVarInt);

  void registerVar(ConVar*) override {}
  ConVar* find(const char* name) override;
  void list(const CmdArgs&) override {}
  int printVar(const char*) override { return 0; }
  void setString(const char* name, const char* text) override;
  void setInt(const char* name, int value) override { setString(name, std::to_string(value).c_str()); }
  void setBool(const char* name, bool value) override { setInt(name, value ? 1 : 0); }
  const char* getString(const char* name) override;
  int getInt(const char* name) override;
  bool getBool(const char* name) override { return getInt(name) != 0; }
  const KeyDict* exportToDict(uint32_t mask) override;
  int importFromDict(const KeyDict&) override { return 0; }
  void writeArchived(IOFileHandle) override {}
  int countMatches(const char*) override { return 0; }
  int completeName(const char*, ConVar**, ConVar**) override { return 0; }
  void completePrefix(char*, size_t, const ConVar*) override {}
  int count() const override { return int(vars_.size()); }
  ConVar* at(int index) const override {
    return index >= 0 && index < int(vars_.size()) ? vars_[size_t(index)]->decl.get() : nullptr;
  }

 private:
  struct Var {
    std::string name;
    std::string value;
    std::unique_ptr<ConVar> decl;
  };
  std::vector<std::unique_ptr<Var>> vars_;
  KeyDict exported_;
  ConVarSystem* previous_;
};

class FakeCommon : public NullCommon {
 public:
  FakeCommon();
  ~FakeCommon() override;
  bool loadMap(const char* name, int serverFlag, int networkFlag) override;
  void unloadMap() override { ++unloads; }

  std::vector<std::string> loads;  // "name server network"
  bool loadResult = true;
  int unloads = 0;

 private:
  CommonSystem* previous_;
};

class FakeKeys : public NullKeyBinds {
 public:
  FakeKeys();
  ~FakeKeys() override;
  int getMode() override { return mode; }
  int setMode(int m) override {
    int old = mode;
    mode = m;
    return old;
  }
  // forward = frame mod 100, so every command differs from the one before.
  void getUserCmd(UserCmd* out, int time, int frame) override;
  int mode = 0;

 private:
  KeyBindSystem* previous_;
};

// A manager on the heap (it is large), started and with its socket layer up.
std::unique_ptr<NetworkManager> makeManager();
// Puts a manager into the networked-server state on a socket of 28050..28054, without a map.
bool startServer(NetworkManager& server, int serverId);
// Reads every waiting packet of the manager and hands it to its packet entry.
int pump(NetworkManager& manager);
// Runs both managers a frame of `msec` and moves their packets, `steps` times.
void run(NetworkManager& server, NetworkManager& client, int steps, int msec = 16);
// A loopback address with the given port.
NetAddress loopback(uint16_t port);
