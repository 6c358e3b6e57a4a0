// The sample game module: keeps the interfaces the engine hands it, allocates
// through the memory manager, registers a console variable and a command, and
// asks for the main menu. Without a map it draws a small scene of the sample models under a slowly
// circling camera; in a map the camera stands at the player start and walks from the user commands,
// its box sliding along the walls of the map's collision model; the map's lights, models and speakers come
// to life.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "demo/gamefx.h"
#include "lib/interface/cmdsystem.h"
#include "lib/interface/collisionsystem.h"
#include "lib/interface/commonsystem.h"
#include "lib/interface/convarsystem.h"
#include "lib/interface/declsystem.h"
#include "lib/interface/effectssystem.h"
#include "lib/interface/gameinterface.h"
#include "lib/interface/memsystem.h"
#include "lib/interface/renderentity.h"
#include "lib/interface/rendermodelsystem.h"
#include "lib/interface/rendersystem.h"
#include "lib/interface/renderview.h"
#include "lib/interface/soundsystem.h"
#include "lib/interface/usercmd.h"
#include "lib/interface/userinterfacesystem.h"
#include "lib/keydict.h"
#include "lib/str.h"
#include "lib/tokenparser.h"
#include "demo/netplay.h"

namespace {

constexpr uint32_t kGameCommandFlag = 0x10;
// renderScene: lit, ambient stages, clear depth and colour ("r_clearcolor") with a depth pass.
constexpr int kSceneFlags = 0x1b;

GameImports s_imports;
ConVar s_stepRate("g_demoSteps", "0", kConVarInt, "game steps run by the sample game");
ConVar s_showEffects("g_demoEffects", "1", kConVarInt, "0 plays none of the sample effects");

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
    {"models/mirror.mesh", 72.0f, 0.0f, 0.0f},
};
constexpr int kNumSceneItems = int(sizeof(kSceneItems) / sizeof(kSceneItems[0]));
int s_entities[kNumSceneItems] = {-1, -1, -1, -1, -1};
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

  // Where the effects stand: the fixed scene's centre, or in a map a spot ahead of the player start.
  Vec3 center;

  void placeInMap(const Vec3& start, float yawDegrees) {
    const float yaw = yawDegrees * 0.017453292f;
    center = start + Vec3(std::cos(yaw), std::sin(yaw), 0.0f) * 96.0f - Vec3(0.0f, 0.0f, 40.0f);
    forget();
    demofx::place(center, start, yawDegrees, true);
  }

  void start(float seconds) {
    EffectsSystem* fx = s_imports.effectsSystem;
    if (!fx)
      return;
    for (Slot& slot : slots) {
      if (slot.handle >= 0 || !demofx::plays(slot.name))
        continue;
      slot.params = RenderEffectParams();
      slot.params.decl = fx->findEffect(slot.name);
      slot.params.origin = center + Vec3(slot.x, slot.y, slot.z);
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
    if (!s_showEffects.getInt()) {
      stop();
      return;
    }
    start(float(milliseconds) / 1000.0f);
    // The smoke's origin circles the scene, so its puffs stay behind as a trail.
    const float angle = float(milliseconds) * 0.0012f;
    slots[1].params.origin = center + Vec3(40.0f * std::cos(angle), 80.0f * std::sin(angle), 20.0f);
    for (Slot& slot : slots)
      fx->updateEffect(slot.handle, slot.params, milliseconds);
  }

  // The effects that need the game (gamefx.cpp), stepped beside these.
  void stepGameEffects(int milliseconds, const Vec3& player) {
    demofx::step(milliseconds, s_showEffects.getInt() != 0, player);
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

// The renderer poses the tube for each view it draws, from the view's time (16 ms a step).
bool poseTubeForView(RenderEntity* entity, const RenderView* view) {
  poseTube(view->time / 16);
  entity->numJoints = 3;
  entity->joints = s_tubeJoints;
  return true;
}

// ---- The player in a map ----

constexpr float kWalkSpeed = 240.0f;  // units a second at full forward
constexpr float kStepSeconds = 0.016f;

struct Player {
  bool inMap = false;
  Vec3 origin;      // the camera
  float yaw = 0.0f;  // degrees; the start's angle plus the command's
  float pitch = 0.0f;
  float startYaw = 0.0f;
  int localClient = 0;
  TraceModel box;  // around the camera: 32 wide, from 40 below the eye to 8 above
};
Player s_player;

// Emitters of the map's speakers, kept for the next map (the sound manager never frees one).
constexpr int kMaxSpeakers = 64;
SoundEmitter* s_speakerEmitters[kMaxSpeakers] = {};
int s_speakersInUse = 0;

// The map's in-world interface: the entity whose screen shows it, and the interface, whose
// cursor follows where the player's view meets the screen.
struct MapPanel {
  int entity = -1;
  UserInterface* gui = nullptr;
};
MapPanel s_panel;

// A "func_static" entity draws its map model (registered under the model's name when the map
// loaded) at its origin; one with a "gui" shows that interface on its screen surface.
void spawnMapModel(const KeyDict& d) {
  RenderSystem* render = s_imports.renderSystem;
  RenderModelSystem* models = s_imports.renderModelSystem;
  const char* modelName = d.getString("model", "");
  if (!render || !models || !*modelName)
    return;
  RenderEntity entity;
  entity.model = models->findOrLoadModel(modelName);
  d.getVec3("origin", "0 0 0", entity.origin);
  for (float& parm : entity.shaderParms)
    parm = 1.0f;
  const char* guiName = d.getString("gui", "");
  UserInterface* gui =
      *guiName && s_imports.uiSystem ? s_imports.uiSystem->findGui(guiName, true, false) : nullptr;
  entity.guis[0] = gui;
  const int index = render->addEntityDef(&entity);
  if (gui && index >= 0) {
    gui->activate(true, 0);
    s_panel.entity = index;
    s_panel.gui = gui;
  }
}

// A "light" entity: a shadow-casting point light of radius "light" and colour "color".
void spawnMapLight(const KeyDict& d) {
  RenderSystem* render = s_imports.renderSystem;
  if (!render)
    return;
  RenderLight light;
  light.shape = 1;
  d.getVec3("origin", "0 0 0", light.origin);
  float radius = 300.0f;
  d.getFloat("light", "300", radius);
  light.radius = Vec3(radius, radius, radius);
  Vec3 color(1.0f, 1.0f, 1.0f);
  d.getVec3("color", "1 1 1", color);
  light.flags = kLightShadows | kLightSpecular;
  light.shaderParms[0] = color.x;
  light.shaderParms[1] = color.y;
  light.shaderParms[2] = color.z;
  light.shaderParms[3] = 1.0f;
  render->addLightDef(&light);
}

// The rest of the frame shown in the sample map's rooms (x 0..256, 256..512, 512..768; y 0..256; z
// 0..128), owned by the game: a heat-haze panel and a lamp with a flare in the first room, a
// parallel light from above over it, a spot light in the second whose cone bounds what it lights,
// and a fog volume that hides the far end of the third.
void addFrameSamples() {
  RenderSystem* render = s_imports.renderSystem;
  RenderModelSystem* models = s_imports.renderModelSystem;
  if (!render || !models)
    return;
  struct Placed {
    const char* model;
    Vec3 origin;
  };
  const Placed placed[] = {{"models/haze.mesh", Vec3(200.0f, 176.0f, 0.0f)},
                           {"models/lamp.mesh", Vec3(236.0f, 140.0f, 80.0f)}};
  for (const Placed& p : placed) {
    RenderEntity entity;
    entity.model = models->findOrLoadModel(p.model);
    entity.origin = p.origin;
    entity.noShadows = 1;
    for (float& parm : entity.shaderParms)
      parm = 1.0f;
    render->addEntityDef(&entity);
  }
  RenderLight light;
  light.ownerId = 1;
  light.shaderParms[3] = 1.0f;
  // Moonlight through the first room: parallel, from above and a little behind the start.
  RenderLight parallel = light;
  parallel.shape = 2;
  parallel.origin = Vec3(128.0f, 128.0f, 64.0f);
  parallel.radius = Vec3(128.0f, 128.0f, 64.0f);
  parallel.center = Vec3(-0.4f, 0.3f, 1.0f);
  parallel.flags = kLightShadows | kLightParallel;
  parallel.shaderParms[0] = parallel.shaderParms[1] = 0.25f;
  parallel.shaderParms[2] = 0.35f;
  render->addLightDef(&parallel);
  // A spot light straight down onto the middle room's floor: a cone 160 units wide at the floor.
  RenderLight spot = light;
  spot.shape = 4;
  spot.origin = Vec3(384.0f, 64.0f, 124.0f);
  spot.radius = Vec3(80.0f, 80.0f, 124.0f);
  spot.flags = kLightShadows | kLightSpecular;
  spot.shaderParms[0] = 1.0f;
  spot.shaderParms[1] = 0.7f;
  spot.shaderParms[2] = 0.4f;
  render->addLightDef(&spot);
  // Grey fog filling the third room, thicker the farther it is from the eye (the lights' default
  // materials by kind and shape: "fogs/basicFog", "lights/defaultProjectedLight"). Its box reaches
  // 4 units past the room's outer walls and stops 2 short of the door's wall, so no face of it lies
  // on a wall: the walls inside are fogged by their own depth, the door's wall by the box's face.
  RenderLight fog = light;
  fog.kind = 2;
  fog.shape = 2;
  fog.origin = Vec3(645.0f, 128.0f, 64.0f);
  fog.radius = Vec3(131.0f, 132.0f, 68.0f);
  fog.flags = kLightAmbient;
  fog.shaderParms[0] = fog.shaderParms[1] = 0.45f;
  fog.shaderParms[2] = 0.5f;
  render->addLightDef(&fog);
}

// A speaker entity plays its sound shader from an emitter at its origin.
void startSpeaker(const KeyDict& d) {
  SoundSystem* sound = s_imports.soundSystem;
  const char* shaderName = d.getString("s_shader", "");
  if (!sound || !s_imports.declSystem || !*shaderName)
    return;
  SoundShaderParms parms;
  d.getFloat("s_volume", "0", parms.volume);
  d.getFloat("s_mindistance", "0", parms.minDistance);
  d.getFloat("s_maxdistance", "0", parms.maxDistance);
  int value = 0;
  if (d.getInt("s_omni", "0", value) && value)
    parms.flags |= kSoundOmniDirectional;
  if (d.getInt("s_looping", "0", value) && value)
    parms.flags |= kSoundLooping;
  if (d.getInt("s_global", "0", value) && value)
    parms.flags |= kSoundGlobal;
  float diversity = -1.0f;
  d.getFloat("s_diversity", "-1", diversity);
  Vec3 origin;
  d.getVec3("origin", "0 0 0", origin);
  if (s_speakersInUse == kMaxSpeakers)
    return;
  SoundEmitter*& emitter = s_speakerEmitters[s_speakersInUse];
  if (!emitter)
    emitter = sound->allocSoundEmitter();
  if (!emitter)
    return;
  s_speakersInUse++;
  emitter->stopSound(SoundEmitter::kAllChannels);
  emitter->updateEmitter(origin, Vec3(), &parms);
  const int length = emitter->startSound(s_imports.declSystem->findSoundShader(shaderName, true), -1, diversity, 0);
  if (length > 0 && s_imports.cmdSystem)
    s_imports.cmdSystem->printf("sample game: speaker '%s' plays at %.0f %.0f %.0f\n", shaderName, origin.x, origin.y,
                                origin.z);
}

// Moves the player's box by `delta`, sliding along what it hits (a few bounces at most).
void walk(Vec3 delta) {
  CollisionSystem* collision = s_imports.collisionSystem;
  if (!collision) {
    s_player.origin += delta;
    return;
  }
  for (int bounce = 0; bounce < 4 && delta.lengthSqr() > 1e-6f; bounce++) {
    TraceResult r;
    collision->translation(&r, s_player.origin, s_player.origin + delta, &s_player.box, Mat3::identity(),
                           kContentsClipMask, 0, Vec3(), Mat3::identity());
    s_player.origin = r.endPos;
    if (r.fraction >= 1.0f)
      break;
    // What is left of the move, without its part into the surface.
    delta = delta * (1.0f - r.fraction);
    delta -= r.contact.normal * delta.dot(r.contact.normal);
  }
}

Mat3 viewAxis() {
  const float yaw = s_player.yaw * 0.017453292f, pitch = s_player.pitch * 0.017453292f;
  const Vec3 forward(std::cos(yaw) * std::cos(pitch), std::sin(yaw) * std::cos(pitch), -std::sin(pitch));
  const Vec3 left(-std::sin(yaw), std::cos(yaw), 0.0f);
  return Mat3(forward, left, forward.cross(left));
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
    if (s_imports.conVarSystem)
      s_imports.conVarSystem->registerVar(&s_showEffects);
    demofx::init(&s_imports);
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
    s_tubeEntity.callback = poseTubeForView;
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

  // The engine frees every render entity and light when a map goes: the handles are stale (the
  // next adds reuse those slots), and draw() adds the scene again once no map is loaded.
  static void forgetScene() {
    for (int& e : s_entities)
      e = -1;
    s_tube = -1;
    for (int& l : s_lights)
      l = -1;
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
    demofx::stop();
    freeScene();
    for (SoundEmitter*& emitter : s_speakerEmitters)
      emitter = nullptr;
    s_speakersInUse = 0;
    if (s_imports.cmdSystem)
      s_imports.cmdSystem->removeCommands(kGameCommandFlag);
    if (state_ && s_imports.memManager)
      s_imports.memManager->free(state_);
    state_ = nullptr;
  }

  void applyViewEffect(int kind, const char* material, float duration, float intensity) override {
    demofx::applyViewEffect(kind, material, duration, intensity);
  }
  void spawnImpactEffect(const DeclEffect* effect, const Vec3& position, const Mat3& axis, int, const Vec3&,
                         int, const float*) override {
    demofx::spawnImpactEffect(effect, position, axis);
  }
  void getViewOrigin(Vec3* position, float* second) override { demofx::getViewOrigin(position, second); }
  void traceParticle(void* trace, const Vec3& start, const Vec3& end, int, int) override {
    demofx::traceParticle(trace, start, end);
  }
  void serverStarted(int localClient) override { netplay::serverStarted(localClient); }
  void clientUserInfo(int, const KeyDict*, bool, int) override {}
  void setServerInfo(const KeyDict*) override {}
  const KeyDict* getPersistentDict(int) override { return nullptr; }
  void setPersistentDict(int, const KeyDict*) override {}
  bool loadMap(const char* name, int serverFlag, int networkFlag, int) override {
    freeScene();
    if (s_imports.collisionSystem)
      s_imports.collisionSystem->loadMap(name, false);
    s_player.box.setupBox(Bounds(Vec3(-16.0f, -16.0f, -40.0f), Vec3(16.0f, 16.0f, 8.0f)));
    s_player.origin = Vec3();
    s_player.startYaw = 0.0f;
    s_speakersInUse = 0;
    s_panel = MapPanel();
    RenderSystem* render = s_imports.renderSystem;
    const int numEntities = render ? render->getNumMapEntities() : 0;
    for (int i = 0; i < numEntities; i++) {
      const KeyDict* d = render->getMapEntityDict(i);
      if (!d)
        continue;
      const char* cls = d->getString("classname", "");
      if (String::icmp(cls, "info_player_start") == 0) {
        d->getVec3("origin", "0 0 0", s_player.origin);
        d->getFloat("angle", "0", s_player.startYaw);
      } else if (String::icmp(cls, "speaker") == 0) {
        startSpeaker(*d);
      } else if (String::icmp(cls, "func_static") == 0) {
        spawnMapModel(*d);
      } else if (String::icmp(cls, "light") == 0) {
        spawnMapLight(*d);
      }
    }
    addFrameSamples();
    s_effects.placeInMap(s_player.origin, s_player.startYaw);
    s_player.yaw = s_player.startYaw;
    s_player.pitch = 0.0f;
    s_player.inMap = true;
    netplay::mapLoaded(s_player.origin, s_player.startYaw, serverFlag != 0, networkFlag != 0);
    if (s_imports.cmdSystem)
      s_imports.cmdSystem->printf("sample game: player start %.1f %.1f %.1f\n", s_player.origin.x,
                                  s_player.origin.y, s_player.origin.z);
    return true;
  }
  void mapUnloaded() override {
    forgetScene();
    netplay::mapUnloaded();
    s_player.inMap = false;
    s_panel = MapPanel();
    s_effects.forget();
    s_effects.center = Vec3();
    demofx::place(Vec3(), Vec3(), 0.0f, false);
  }
  void setLocalClientNum(int client) override {
    if (client >= 0 && client < kMaxGameClients)
      s_player.localClient = client;
  }

  void runFrame(char* commandText, const UserCmd* commands, int, int) override {
    commandText[0] = '\0';
    if (!state_)
      return;
    ++state_->steps;
    s_stepRate.setInt(state_->steps);
    s_effects.step(state_->steps * 16);
    s_effects.stepGameEffects(state_->steps * 16, s_player.origin);
    if (s_player.inMap && commands && netplay::localPlayerWalks())
      move(commands[s_player.localClient]);
    if (s_player.inMap)
      netplay::runFrame(commands, s_player.box);
  }

  // Turns from the command's angles and walks on the level from its forward and side moves.
  static void move(const UserCmd& cmd) {
    constexpr float kShortToDegrees = 360.0f / 65536.0f;
    s_player.yaw = s_player.startYaw + float(cmd.angles[1]) * kShortToDegrees;
    s_player.pitch = float(cmd.angles[0]) * kShortToDegrees;
    const float yaw = s_player.yaw * 0.017453292f;
    const Vec3 forward(std::cos(yaw), std::sin(yaw), 0.0f);
    const Vec3 right(std::sin(yaw), -std::cos(yaw), 0.0f);
    const float scale = kWalkSpeed * kStepSeconds / 127.0f;
    const Vec3 delta = forward * (float(cmd.forward) * scale) + right * (float(cmd.right) * scale);
    if (delta.lengthSqr() > 0.0f)
      walk(delta);
  }

  // The engine opens "guis/mainmenu.gui" for us.
  int getMenu(UserInterface**) override { return 1; }
  void setMenu(UserInterface*) override {}
  void guiEvent(UserInterface*, const char*) override {}
  bool checkClientConnect(int, const char*, const char*, const char*, char*) override { return false; }
  void clientConnecting(int) override {}
  void clientConnected(int clientNum) override { netplay::clientConnected(clientNum); }
  void clientDisconnected(int clientNum) override { netplay::clientDisconnected(clientNum); }
  void clientGameState(int clientNum) override { netplay::clientGameState(clientNum); }
  void writeSnapshot(int clientNum, int, BitMsg* msg, void*, int) override { netplay::writeSnapshot(clientNum, msg); }
  void serverMessage(int, const char*, const char*) override {}

  void draw(int) override {
    if (!state_)
      return;
    ++state_->frames;
    if (!s_imports.renderSystem)
      return;
    if (s_player.inMap) {
      drawMapView();
      return;
    }
    // A map unload frees every render entity: the fixed scene comes back when it is gone.
    if (s_entities[0] < 0 || !s_imports.renderSystem->getRenderEntity(s_entities[0])) {
      freeScene();
      addScene();
    }
    if (s_entities[0] < 0)
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
    demofx::adjustView(view);
    s_imports.renderSystem->renderScene(&view, kSceneFlags);
    demofx::drawOverlays();
  }

  void drawMapView() {
    RenderView view;
    view.width = 640;
    view.height = 480;
    view.fovX = 90.0f;
    view.fovY = 73.74f;  // 4:3
    view.origin = s_player.origin;
    view.axis = viewAxis();
    view.time = state_->steps * 16;
    aimPanel(view);
    if (s_imports.soundSystem)
      s_imports.soundSystem->setListener(view.origin, view.axis, Vec3(), false);
    demofx::adjustView(view);
    s_imports.renderSystem->renderScene(&view, kSceneFlags);
    demofx::drawOverlays();
  }
  // The panel's cursor stands where the middle of the view meets its screen; looking elsewhere
  // takes it to the screen's corner, away from the buttons.
  void aimPanel(const RenderView& view) {
    if (!s_panel.gui || s_panel.entity < 0 || !s_imports.renderSystem->getRenderEntity(s_panel.entity))
      return;
    const GuiTraceResult hit =
        s_imports.renderSystem->guiTrace(s_panel.entity, view.origin, view.origin + view.axis[0] * 512.0f);
    panelAimed_ = hit.guiIndex >= 0;
    if (panelAimed_)
      s_panel.gui->mouseMove(hit.x, hit.y);
    else
      s_panel.gui->mouseMove(0.0f, 0.0f);
  }

  void mouseEvent(int, int, int) override {}
  void clientGameStateReceived(const KeyDict* serverInfo) override {
    if (s_imports.cmdSystem && serverInfo)
      s_imports.cmdSystem->printf("sample game: joined the server's game on '%s'\n", serverInfo->getString("si_map", ""));
  }
  void clientReadSnapshot(int, BitMsg* msg) override {
    netplay::clientReadSnapshot(msg, &s_player.origin, &s_player.yaw, &s_player.pitch);
  }
  void clientReadGameMessage(BitMsg* msg) override { netplay::clientReadGameMessage(msg); }

  bool keyEvent(int key, bool down) override {
    if (down && s_imports.soundSystem)
      s_imports.soundSystem->playLocalSound("demo/key", -1, 0);
    // The first mouse button on the aimed panel triggers it.
    if (down && key == kPanelTriggerKey && panelAimed_ && s_panel.gui)
      s_panel.gui->trigger();
    return false;
  }

  static void cmdStatus(const CmdArgs&) {
    if (s_imports.cmdSystem && s_game.state_)
      s_imports.cmdSystem->printf("sample game: %d steps, %d frames drawn\n", s_game.state_->steps,
                                  s_game.state_->frames);
    if (s_imports.cmdSystem && s_player.inMap)
      s_imports.cmdSystem->printf("sample game: camera at %.2f %.2f %.2f yaw %.1f\n", s_player.origin.x,
                                  s_player.origin.y, s_player.origin.z, s_player.yaw);
    netplay::printStatus();
  }

  static constexpr int kPanelTriggerKey = 178;  // MOUSE1
  DemoState* state_ = nullptr;
  bool panelAimed_ = false;
  static DemoGame s_game;
};

DemoGame DemoGame::s_game;
GameExports s_exports;

}  // namespace

extern "C" __attribute__((visibility("default"))) GameExports* GetGameAPI(GameImports* imports) {
  // The call at shutdown hands a zeroed block: forget the interfaces.
  s_imports = *imports;
  netplay::setImports(&s_imports);
  s_exports.version = kGameApiVersion;
  s_exports.game = s_imports.system ? &DemoGame::s_game : nullptr;
  return &s_exports;
}
