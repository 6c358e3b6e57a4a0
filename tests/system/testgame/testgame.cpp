// A game module that records every call the engine makes, returns scripted
// command texts and can be told to fail in each way the engine must survive.
#include "testgame.h"

#include "lib/interface/usercmd.h"

namespace {

TestGameControl s_control;

class RecordingGame : public GameInterface {
 public:
  void init() override { s_control.record("init"); }
  void shutdown() override { s_control.record("shutdown"); }
  void applyViewEffect(int, const char*, float, float) override { s_control.record("applyViewEffect"); }
  void spawnImpactEffect(const DeclEffect*, const Vec3&, const Mat3&, int, const Vec3&, int,
                         const float*) override {
    s_control.record("spawnImpactEffect");
  }
  void getViewOrigin(Vec3*, float*) override { s_control.record("getViewOrigin"); }
  void traceParticle(void*, const Vec3&, const Vec3&, int, int) override {
    s_control.record("traceParticle");
  }
  void serverStarted(int) override { s_control.record("serverStarted"); }
  void clientUserInfo(int, const KeyDict*, bool, int) override { s_control.record("clientUserInfo"); }
  void setServerInfo(const KeyDict*) override { s_control.record("setServerInfo"); }
  const KeyDict* getPersistentDict(int) override {
    s_control.record("getPersistentDict");
    return nullptr;
  }
  void setPersistentDict(int, const KeyDict*) override { s_control.record("setPersistentDict"); }
  bool loadMap(const char* name, int a, int b, int reserved) override {
    s_control.record("loadMap");
    std::snprintf(s_control.lastMapName, sizeof(s_control.lastMapName), "%s", name ? name : "(null)");
    s_control.lastMapArgs[0] = a;
    s_control.lastMapArgs[1] = b;
    s_control.lastMapArgs[2] = reserved;
    return !s_control.refuseLoadMap;
  }
  void mapUnloaded() override { s_control.record("mapUnloaded"); }
  void setLocalClientNum(int) override { s_control.record("setLocalClientNum"); }

  void runFrame(char* text, const UserCmd* commands, int milliseconds, int steps) override {
    s_control.record(commands && steps == 1 ? "runFrame" : "runFrame(bad arguments)");
    ++s_control.runFrames;
    s_control.stepMilliseconds = milliseconds;
    if (commands) {
      const unsigned char* bytes = reinterpret_cast<const unsigned char*>(commands);
      for (size_t i = 0; i < sizeof(UserCmd) * kMaxGameClients; ++i)
        if (bytes[i]) {
          ++s_control.nonZeroCommandSteps;
          break;
        }
    }
    text[0] = '\0';
    if (s_control.scriptedNext < s_control.scriptedCount)
      std::memcpy(text, s_control.scripted[s_control.scriptedNext++], kGameCommandSize);
    if (s_control.unterminated)
      std::memset(text + std::strlen(text), 'x', kGameCommandSize - std::strlen(text));
  }

  int getMenu(UserInterface** gui) override {
    s_control.record("getMenu");
    if (s_control.menuAnswer == 2)
      *gui = s_control.menuGui;
    return s_control.menuAnswer;
  }
  void setMenu(UserInterface* gui) override {
    s_control.record("setMenu");
    s_control.menuSet = gui;
  }
  void guiEvent(UserInterface*, const char*) override { s_control.record("guiEvent"); }
  bool checkClientConnect(int, const char*, const char*, const char*, char*) override {
    s_control.record("checkClientConnect");
    return false;
  }
  void clientConnecting(int) override { s_control.record("clientConnecting"); }
  void clientConnected(int) override { s_control.record("clientConnected"); }
  void clientDisconnected(int) override { s_control.record("clientDisconnected"); }
  void clientGameState(int) override { s_control.record("clientGameState"); }
  void writeSnapshot(int, int, BitMsg*, void*, int) override { s_control.record("writeSnapshot"); }
  void serverMessage(int, const char*, const char*) override { s_control.record("serverMessage"); }
  void draw(int view) override {
    s_control.record(view == 0 ? "draw" : "draw(bad view)");
    ++s_control.draws;
  }
  void mouseEvent(int, int, int) override { s_control.record("mouseEvent"); }
  bool keyEvent(int, bool) override {
    s_control.record("keyEvent");
    return false;
  }
};

RecordingGame s_game;
GameExports s_exports;

}  // namespace

extern "C" __attribute__((visibility("default"))) TestGameControl* testGameControl() {
  return &s_control;
}

extern "C" __attribute__((visibility("default"))) GameExports* GetGameAPI(GameImports* imports) {
  if (++s_control.getGameApiCalls == 1)
    s_control.firstImports = *imports;
  s_control.lastImports = *imports;
  s_control.record("GetGameAPI");
  if (s_control.failure == kTestGameNullBlock)
    return nullptr;
  s_exports.version = kGameApiVersion;
  s_exports.game = s_control.failure == kTestGameNullInterface ? nullptr : &s_game;
  return &s_exports;
}
