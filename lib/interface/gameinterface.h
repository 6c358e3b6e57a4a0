// The boundary between the engine and the game module ("game.dll", game.so
// here), shared by both sides: the block of interfaces handed to "GetGameAPI",
// the block it returns, and the game interface the engine drives.
#pragma once

#include <cstdint>

class SystemInterface;
class CommonSystem;
class CmdSystem;
class ConVarSystem;
class IOSystem;
class NetworkSystem;
class RenderSystem;
class SoundSystem;
class RenderModelSystem;
class UserInterfaceSystem;
class UserInterface;
class DeclSystem;
class EffectsSystem;
class CollisionSystem;
class MemManager;
class KeyDict;
class BitMsg;
class DeclEffect;
struct UserCmd;
struct Vec3;
class Mat3;

constexpr int kGameApiVersion = 1;
constexpr int kGameCommandSize = 1024;
constexpr int kMaxGameClients = 32;
constexpr int kPersistentDictCount = 32;

// Fifteen pointer-sized words: the version, then the interfaces in this order.
struct GameImports {
  uintptr_t version;
  SystemInterface* system;
  CommonSystem* common;
  CmdSystem* cmdSystem;
  ConVarSystem* conVarSystem;
  IOSystem* ioSystem;
  NetworkSystem* networkSystem;
  RenderSystem* renderSystem;
  SoundSystem* soundSystem;
  RenderModelSystem* renderModelSystem;
  UserInterfaceSystem* uiSystem;
  DeclSystem* declSystem;
  EffectsSystem* effectsSystem;
  CollisionSystem* collisionSystem;
  MemManager* memManager;
};
static_assert(sizeof(GameImports) == 15 * sizeof(void*), "GameImports is 15 words");

class GameInterface;

struct GameExports {
  uintptr_t version;
  GameInterface* game;
};

// What the engine calls, in declaration order; the reserved slots keep the
// positions of operations the engine never calls.
class GameInterface {
 public:
  virtual ~GameInterface() = default;

  virtual void init() = 0;
  virtual void shutdown() = 0;

  // Effects (view kinds: shake 0, double vision 1, transition 2, blob 4).
  virtual void applyViewEffect(int viewKind, const char* materialName, float duration, float intensity) = 0;
  virtual void spawnImpactEffect(const DeclEffect* effect, const Vec3& position, const Mat3& axis, int a,
                                 const Vec3& origin, int b, const float* parms) = 0;
  virtual void getViewOrigin(Vec3* position, float* second) = 0;
  // trace points at the game's trace result (fraction, end position, hit normal).
  virtual void traceParticle(void* trace, const Vec3& start, const Vec3& end, int a, int b) = 0;
  virtual void reserved7() {}

  // Network.
  virtual void serverStarted(int localClient) = 0;
  virtual void clientUserInfo(int clientNum, const KeyDict* userInfo, bool network, int reserved) = 0;
  virtual void reserved10() {}
  virtual void reserved11() {}
  virtual void setServerInfo(const KeyDict* serverInfo) = 0;

  // Map changes.
  virtual const KeyDict* getPersistentDict(int index) = 0;
  virtual void setPersistentDict(int index, const KeyDict* dict) = 0;
  // False aborts the map load.
  virtual bool loadMap(const char* name, int a, int b, int reserved) = 0;
  virtual void mapUnloaded() = 0;
  virtual void setLocalClientNum(int clientNum) = 0;

  // One 16 ms step. The command text (kGameCommandSize bytes) is read by the
  // engine as statements ("map %s", "disconnect", "game_startmenu", "died", "victory").
  virtual void runFrame(char* commandText, const UserCmd* userCmds, int milliseconds, int steps) = 0;
  // 1: open "guis/mainmenu.gui"; 2: the game stored its own interface in *gui; other: keep *gui.
  virtual int getMenu(UserInterface** gui) = 0;
  virtual void setMenu(UserInterface* gui) = 0;
  virtual void guiEvent(UserInterface* gui, const char* text) = 0;

  // Server side; true rejects the client with the reason (1,024 bytes).
  virtual bool checkClientConnect(int clientNum, const char* address, const char* challenge,
                                  const char* password, char* reason) = 0;
  virtual void clientConnecting(int clientNum) = 0;
  virtual void clientConnected(int clientNum) = 0;
  virtual void clientDisconnected(int clientNum) = 0;
  virtual void clientGameState(int clientNum) = 0;
  virtual void writeSnapshot(int clientNum, int snapshotNumber, BitMsg* msg, void* snapshotWord,
                             int maxClients) = 0;
  virtual void reserved28() {}
  virtual void reserved29() {}
  virtual void serverMessage(int clientNum, const char* name, const char* text) = 0;
  virtual void reserved31() {}
  virtual void reserved32() {}
  virtual void reserved33() {}
  virtual void reserved34() {}

  virtual void draw(int view) = 0;
  virtual void mouseEvent(int dx, int dy, int time) = 0;
  // True when the game consumed the key.
  virtual bool keyEvent(int key, bool down) = 0;

  // Calls past the fixed slots: a client of a networked server (the network manager makes them).
  // The gamestate arrived and the server's map ("si_map" of serverInfo) is loaded through the
  // common manager's map load (which called loadMap with the network flag and no server flag).
  virtual void clientGameStateReceived(const KeyDict* /*serverInfo*/) {}
  // The game's part of a snapshot (what the server's writeSnapshot wrote), read from msg's read
  // position; the message ends there.
  virtual void clientReadSnapshot(int /*snapshotNumber*/, BitMsg* /*msg*/) {}
  // A game message the server sent with serverSendGameMessage, read from its own first byte;
  // each arrives once, in order, after the gamestate.
  virtual void clientReadGameMessage(BitMsg* /*msg*/) {}
};

// The loaded game's interface; null while no game module is loaded.
inline GameInterface* g_gameInterface = nullptr;

// The one export of a game module.
using GetGameAPIFunction = GameExports* (*)(GameImports* imports);
constexpr const char* kGetGameAPIName = "GetGameAPI";
