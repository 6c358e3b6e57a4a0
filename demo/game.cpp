// The sample game module: keeps the interfaces the engine hands it, allocates
// through the memory manager, registers a console variable and a command, and
// asks for the main menu. Gameplay here is a step counter; each frame it draws a small scene of the
// sample models under a slowly circling camera.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "lib/interface/cmdsystem.h"
#include "lib/interface/commonsystem.h"
#include "lib/interface/convarsystem.h"
#include "lib/interface/declsystem.h"
#include "lib/interface/effectssystem.h"
#include "lib/interface/gameinterface.h"
#include "lib/interface/memsystem.h"
#include "lib/interface/soundsystem.h"
#include "lib/interface/renderentity.h"
#include "lib/interface/rendermodelsystem.h"
#include "lib/interface/rendersystem.h"
#include "lib/interface/renderview.h"

namespace {

constexpr uint32_t kGameCommandFlag = 0x10;

GameImports s_imports;
ConVar s_stepRate("g_demoSteps", "0", kConVarInt, "game steps run by the sample game");

struct DemoState {
  int steps;
  int frames;
};

// The sample scene: three models on a line, standing on a floor that takes their shadows, and two
// lights above them.
struct SceneItem {
  const char* model;
  float x, y, z;
};
constexpr SceneItem kSceneItems[] = {
    {"models/crate.mesh", 0.0f, 0.0f, 16.0f},
    {"models/pillar.mesh", 0.0f, 56.0f, 0.0f},
    {"models/panel.mesh", 0.0f, -56.0f, 0.0f},
    {"models/floor.mesh", 0.0f, 0.0f, 0.0f},
};
constexpr int kNumSceneItems = int(sizeof(kSceneItems) / sizeof(kSceneItems[0]));
int s_entities[kNumSceneItems] = {-1, -1, -1, -1};
int s_lights[2] = {-1, -1};

// The sample effects (media/effects/samples.fx): sparks with a crackle above the crate, a smoke
// trail behind an origin circling the scene, and a flickering light with embers by the pillar.
// Started with the first game step, stepped with the game's clock, drawn before each scene.
struct SampleEffects {
  struct Slot {
    const char* name;
    float x, y, z;
    bool resubmitLight;
    int handle;
    RenderEffectParams params;
  };
  Slot slots[3] = {{"effects/sparks", 0.0f, 0.0f, 28.0f, false, -1, {}},
                   {"effects/smoketrail", 40.0f, 0.0f, 20.0f, false, -1, {}},
                   {"effects/flicker", -16.0f, 56.0f, 64.0f, true, -1, {}}};

  void start(float seconds) {
    EffectsSystem* fx = s_imports.effectsSystem;
    if (!fx)
      return;
    for (Slot& slot : slots) {
      if (slot.handle >= 0)
        continue;
      slot.params = RenderEffectParams();
      slot.params.decl = fx->findEffect(slot.name);
      slot.params.origin = Vec3(slot.x, slot.y, slot.z);
      slot.params.gravity = Vec3(0.0f, 0.0f, -1.0f);
      slot.params.startTime = seconds;
      slot.params.draw = true;
      slot.params.looping = true;
      slot.params.resubmitLight = slot.resubmitLight;
      for (int i = 0; i < 3; i++)
        slot.params.shaderParms[i] = 1.0f;
      slot.handle = fx->addEffect(slot.params);
    }
  }

  void step(int milliseconds) {
    EffectsSystem* fx = s_imports.effectsSystem;
    if (!fx)
      return;
    start(float(milliseconds) / 1000.0f);
    // The smoke's origin circles the scene, so its puffs stay behind as a trail.
    const float angle = float(milliseconds) * 0.0012f;
    slots[1].params.origin = Vec3(40.0f * std::cos(angle), 80.0f * std::sin(angle), 20.0f);
    for (Slot& slot : slots)
      fx->updateEffect(slot.handle, slot.params, milliseconds);
  }

  void draw(const RenderView& view) {
    if (s_imports.effectsSystem)
      s_imports.effectsSystem->submitEffectsModel(view);
  }

  // The engine clears every effect when a map goes; the next step starts them again.
  void forget() {
    for (Slot& slot : slots)
      slot.handle = -1;
  }

  void stop() {
    EffectsSystem* fx = s_imports.effectsSystem;
    for (Slot& slot : slots) {
      if (fx && slot.handle >= 0)
        fx->freeEffect(slot.handle);
      slot.handle = -1;
    }
  }
};
SampleEffects s_effects;

// The skinned tube (media/models/tube.dmesh: joints root, lower, upper) and its animation: the
// upper joint swings about the x axis around its pivot, 10 units up the tube.
int s_tube = -1;
RenderEntity s_tubeEntity;
Mat4 s_tubeJoints[3];

void poseTube(int steps) {
  const float angle = std::sin(float(steps) * 0.05f) * 1.05f;  // about 60 degrees each way
  const float c = std::cos(angle), s = std::sin(angle);
  s_tubeJoints[0] = Mat4::identity();
  s_tubeJoints[1] = Mat4::identity();
  s_tubeJoints[2] = Mat4::fromMat3(Mat3(Vec3(1, 0, 0), Vec3(0, c, s), Vec3(0, -s, c)), Vec3(0, 0, 10));
}

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
    // Sounds of ours (demo/media/sound): a chime at the start, a click on key presses.
    if (s_imports.soundSystem)
      s_imports.soundSystem->playLocalSound("demo/start", -1, 0);
    addScene();
  }

  static void addScene() {
    RenderSystem* render = s_imports.renderSystem;
    RenderModelSystem* models = s_imports.renderModelSystem;
    if (!render || !models)
      return;
    for (int i = 0; i < kNumSceneItems; i++) {
      RenderEntity entity;
      entity.model = models->findOrLoadModel(kSceneItems[i].model);
      entity.origin = Vec3(kSceneItems[i].x, kSceneItems[i].y, kSceneItems[i].z);
      for (float& parm : entity.shaderParms)
        parm = 1.0f;
      s_entities[i] = render->addEntityDef(&entity);
    }
    s_tubeEntity = RenderEntity();
    s_tubeEntity.model = models->findOrLoadModel("models/tube.dmesh");
    s_tubeEntity.origin = Vec3(-40.0f, 28.0f, -16.0f);
    for (float& parm : s_tubeEntity.shaderParms)
      parm = 1.0f;
    poseTube(0);
    s_tubeEntity.numJoints = 3;
    s_tubeEntity.joints = s_tubeJoints;
    s_tube = render->addEntityDef(&s_tubeEntity);
    for (int i = 0; i < 2; i++) {
      RenderLight light;
      light.shape = 1;
      light.origin = Vec3(-48.0f, i == 0 ? 64.0f : -64.0f, 96.0f);
      light.radius = Vec3(300.0f, 300.0f, 300.0f);
      light.flags = 0x2 | 0x4;
      light.shaderParms[0] = light.shaderParms[1] = light.shaderParms[2] = light.shaderParms[3] = 1.0f;
      s_lights[i] = render->addLightDef(&light);
    }
  }

  static void freeScene() {
    RenderSystem* render = s_imports.renderSystem;
    for (int& e : s_entities) {
      if (render && e >= 0 && render->getRenderEntity(e))
        render->freeEntityDef(e);
      e = -1;
    }
    if (render && s_tube >= 0 && render->getRenderEntity(s_tube))
      render->freeEntityDef(s_tube);
    s_tube = -1;
    for (int& l : s_lights) {
      if (render && l >= 0 && render->getLightDef(l))
        render->freeLightDef(l);
      l = -1;
    }
  }

  void shutdown() override {
    s_effects.stop();
    freeScene();
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
  void mapUnloaded() override { s_effects.forget(); }
  void setLocalClientNum(int) override {}

  void runFrame(char* commandText, const UserCmd*, int, int) override {
    commandText[0] = '\0';
    if (!state_)
      return;
    ++state_->steps;
    s_stepRate.setInt(state_->steps);
    s_effects.step(state_->steps * 16);
    if (s_tube >= 0 && s_imports.renderSystem) {
      poseTube(state_->steps);
      s_imports.renderSystem->updateEntityDef(s_tube, &s_tubeEntity);
    }
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
    if (!state_)
      return;
    ++state_->frames;
    if (!s_imports.renderSystem || s_entities[0] < 0)
      return;
    // The camera circles the scene slowly at eye height, always facing its centre.
    const float angle = float(state_->steps) * 0.004f;
    RenderView view;
    view.width = 640;
    view.height = 480;
    view.fovX = 90.0f;
    view.fovY = 73.74f;  // 4:3
    view.origin = Vec3(-160.0f * std::cos(angle), -160.0f * std::sin(angle), 24.0f);
    const Vec3 forward(std::cos(angle), std::sin(angle), 0.0f);
    view.axis = Mat3(forward, Vec3(-forward.y, forward.x, 0.0f), Vec3(0.0f, 0.0f, 1.0f));
    view.time = state_->steps * 16;
    s_effects.draw(view);
    s_imports.renderSystem->renderScene(&view, 0);
    if (s_imports.effectsSystem)
      s_imports.effectsSystem->printParticleStats();
  }
  void mouseEvent(int, int, int) override {}
  bool keyEvent(int, bool down) override {
    if (down && s_imports.soundSystem)
      s_imports.soundSystem->playLocalSound("demo/key", -1, 0);
    return false;
  }

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
