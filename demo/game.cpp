// The sample game module: keeps the interfaces the engine hands it, allocates
// through the memory manager, registers a console variable and a command, and
// asks for the main menu. Gameplay here is a step counter.
#include <cstdio>
#include <cstring>

#include "lib/interface/cmdsystem.h"
#include "lib/interface/commonsystem.h"
#include "lib/interface/convarsystem.h"
#include "lib/interface/declsystem.h"
#include "lib/interface/gameinterface.h"
#include "lib/interface/memsystem.h"

namespace {

constexpr uint32_t kGameCommandFlag = 0x10;

GameImports s_imports;
ConVar s_stepRate("g_demoSteps", "0", kConVarInt, "game steps run by the sample game");

struct DemoState {
  int steps;
  int frames;
};

class DemoGame : public GameInterface {
 public:
  void init() override {
    if (s_imports.memManager)
      state_ = static_cast<DemoState*>(s_imports.memManager->alloc(sizeof(DemoState)));
    if (state_)
      std::memset(state_, 0, sizeof(DemoState));
    if (s_imports.conVarSystem)
      s_imports.conVarSystem->registerVar(&s_stepRate);
    if (s_imports.cmdSystem) {
      s_imports.cmdSystem->addCommand("demo_status", cmdStatus, kGameCommandFlag,
                                      "print the sample game's step count");
      s_imports.cmdSystem->printf("sample game: initialised\n");
    }
    // The sample materials (media/materials/samples.mtx) are parsed up front, so their
    // declarations and expression registers exist from the first frame.
    if (s_imports.declSystem) {
      static const char* const kSampleMaterials[] = {"textures/samples/wall", "textures/samples/glow",
                                                     "textures/samples/scroll", "textures/samples/fence"};
      for (const char* name : kSampleMaterials)
        s_imports.declSystem->findMaterial(name, false);
    }
  }

  void shutdown() override {
    if (s_imports.cmdSystem)
      s_imports.cmdSystem->removeCommands(kGameCommandFlag);
    if (state_ && s_imports.memManager)
      s_imports.memManager->free(state_);
    state_ = nullptr;
  }

  void applyViewEffect(int, const char*, float, float) override {}
  void spawnImpactEffect(const DeclEffect*, const Vec3&, const Mat3&, int, const Vec3&, int,
                         const float*) override {}
  void getViewOrigin(Vec3*, float* second) override {
    if (second)
      *second = 0.0f;
  }
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
    commandText[0] = '\0';
    if (!state_)
      return;
    ++state_->steps;
    s_stepRate.setInt(state_->steps);
  }

  // The engine opens "guis/mainmenu.gui" for us.
  int getMenu(UserInterface**) override { return 1; }
  void setMenu(UserInterface*) override {}
  void guiEvent(UserInterface*, const char*) override {}
  bool checkClientConnect(int, const char*, const char*, const char*, char*) override { return false; }
  void clientConnecting(int) override {}
  void clientConnected(int) override {}
  void clientDisconnected(int) override {}
  void clientGameState(int) override {}
  void writeSnapshot(int, int, BitMsg*, void*, int) override {}
  void serverMessage(int, const char*, const char*) override {}

  void draw(int) override {
    if (state_)
      ++state_->frames;
  }
  void mouseEvent(int, int, int) override {}
  bool keyEvent(int, bool) override { return false; }

  static void cmdStatus(const CmdArgs&) {
    if (s_imports.cmdSystem && s_game.state_)
      s_imports.cmdSystem->printf("sample game: %d steps, %d frames drawn\n", s_game.state_->steps,
                                  s_game.state_->frames);
  }

  DemoState* state_ = nullptr;
  static DemoGame s_game;
};

DemoGame DemoGame::s_game;
GameExports s_exports;

}  // namespace

extern "C" __attribute__((visibility("default"))) GameExports* GetGameAPI(GameImports* imports) {
  // The call at shutdown hands a zeroed block: forget the interfaces.
  s_imports = *imports;
  s_exports.version = kGameApiVersion;
  s_exports.game = s_imports.system ? &DemoGame::s_game : nullptr;
  return &s_exports;
}
