// The common manager: manager start-up and shutdown by mask, video restart
// halves, the event pump, map load and unload, and the message boxes.
#include "system/commonmanager.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "lib/assert.h"
#include "lib/byteorder.h"
#include "lib/criticalsection.h"
#include "lib/interface/cmdsystem.h"
#include "lib/interface/collisionsystem.h"
#include "lib/interface/consolesystem.h"
#include "lib/interface/convarsystem.h"
#include "lib/interface/declsystem.h"
#include "lib/interface/effectssystem.h"
#include "lib/interface/iosystem.h"
#include "lib/interface/keybindsystem.h"
#include "lib/interface/managerfactory.h"
#include "lib/interface/materialsystem.h"
#include "lib/interface/networksystem.h"
#include "network/bitmsg.h"
#include "lib/interface/renderinterface.h"
#include "lib/interface/rendermodelsystem.h"
#include "lib/interface/rendersystem.h"
#include "lib/interface/soundsystem.h"
#include "lib/interface/spatialsystem.h"
#include "lib/interface/texmanager.h"
#include "lib/interface/usercmd.h"
#include "lib/interface/userinterfacesystem.h"
#include "lib/interface/videoplayer.h"
#include "lib/simd.h"
#include "lib/str.h"
#include "platform/clock.h"
#include "platform/window.h"
#include "system/appwindowhandler.h"
#include "system/cmdmanager.h"
#include "system/convarmanager.h"
#include "system/iomanager.h"
#include "system/messagebox.h"
#include "system/systemmanager.h"

namespace {
CommonManager* s_commonManager = nullptr;

// The common message buffer: what printf keeps, never shown.
CriticalSection s_printLock;
char s_messageBuffer[CommonManager::kMessageBufferSize];

bool createManager(ManagerId id) {
  const ManagerFactory& factory = g_managerFactories[id];
  return factory.create ? factory.create() : true;
}

void shutdownManager(ManagerId id) {
  if (g_managerFactories[id].shutdown)
    g_managerFactories[id].shutdown();
}

void destroyManager(ManagerId id) {
  if (g_managerFactories[id].destroy)
    g_managerFactories[id].destroy();
}

void errorBoxForCommands(const char* text, const char* caption) {
  if (g_commonSystem)
    g_commonSystem->errorBox(text, caption);
}
}  // namespace

void CommonManager::vprint(const char* format, va_list args) {
  s_printLock.lock();
  std::vsnprintf(s_messageBuffer, sizeof(s_messageBuffer), format, args);
  s_printLock.unlock();
}

void commonPrintf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  CommonManager::vprint(format, args);
  va_end(args);
}

CommonManager::CommonManager() = default;

CommonManager::~CommonManager() {
  shutdown();
}

void CommonManager::printf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  vprint(format, args);
  va_end(args);
}

const char* CommonManager::lastPrintedText() {
  return s_messageBuffer;
}

void CommonManager::errorBox(const char* text, const char* caption) {
  platformShowCursor(true);
  printf("%s: %s\n", caption ? caption : "", text ? text : "");
  pumpWindowMessages(window_);
  showMessageBox(text ? text : "", caption ? caption : "", false);
  platformShowCursor(false);
}

int CommonManager::assertBox(const char* text, const char* caption) {
  // The message carries the call stack of the failed assertion.
  String stack;
  getCallStackText(stack);
  char* full = new char[kMessageBufferSize];
  std::snprintf(full, kMessageBufferSize, "%s\n%s", text ? text : "", stack.c_str());
  platformShowCursor(true);
  printf("%s: %s\n", caption ? caption : "", full);
  pumpWindowMessages(window_);
  int answer = showMessageBox(full, caption ? caption : "", true);
  platformShowCursor(false);
  delete[] full;
  return answer;
}

uint32_t CommonManager::now() const {
  return clock_.now ? clock_.now() : getMilliseconds();
}

void CommonManager::sleep(int milliseconds) const {
  if (clock_.sleep)
    clock_.sleep(milliseconds);
  else
    platformSleepMilliseconds(milliseconds);
}

bool CommonManager::hasSpatialSystem() {
  return g_spatialSystem != nullptr;
}

bool CommonManager::init(void* window, void* instance, uint32_t mask) {
  if (initialised_)
    return false;
  window_ = window;
  instance_ = instance;

  Swap::init();
  SIMD_Processor::init();
  KeyDict::initPools();
  if (g_expressionHooks.clear)
    g_expressionHooks.clear();
  getSystemManager();
  systemCreated_ = true;

  if (mask & (kInitCommands | kInitConsole)) {
    CmdManager* commands = getCmdManager();
    commands->setErrorBox(errorBoxForCommands);
    // "com_showStringPool", "listStringKeys" and "listStringValues" (and
    // "showStringPool", which the window handler registers again).
    KeyDict::registerCommands();
    if (g_expressionHooks.registerCommands)
      g_expressionHooks.registerCommands();
  }
  // Before any other manager, but after the command manager so its lines are seen.
  if (g_initSceneGraphClasses)
    g_initSceneGraphClasses();
  bool ok = true;
  if (mask & kInitDecls)
    ok = createManager(kManagerDecl);
  if (ok && (mask & kInitConVars))
    getConVarManager();
  if (ok && (mask & kInitConsole))
    ok = createManager(kManagerConsole);
  if (ok && (mask & kInitFileSystem) && !IOManager::getInstance()->initialize("media"))
    cmdPrintf("WARNING: the file system could not be initialised\n");
  if (ok && (mask & kInitKeyBinds))
    ok = createManager(kManagerKeyBinds);
  if (ok && (mask & (kInitRenderDevice | kInitRender)) && beforeRenderer_) {
    void* previous = window_;
    window_ = beforeRenderer_();
    if (!window_)
      ok = false;
    else if (window_ != previous && g_keyBindSystem)
      g_keyBindSystem->restartInput();  // the input devices held the window that went away
  }
  if (ok && (mask & (kInitRenderDevice | kInitRender))) {
    // The device reports a failure itself (the fatal "Failed to locate a
    // hardware accelerated configuration" error with its driver text) and
    // prints "GLDriver = %s" when it starts.
    ok = createManager(kManagerRenderDevice);
  }
  if (ok && (mask & kInitRenderModels))
    ok = createManager(kManagerRenderModel);
  if (ok) {
    if ((mask & kInitTextures) && !createManager(kManagerTexture)) {
      errorBox("failed to initialize texture manager", "init error");
      ok = false;
    } else if ((mask & kInitRender) && !createManager(kManagerRender)) {
      errorBox("failed to initialize render system", "init error");
      ok = false;
    }
  }
  if (ok && (mask & kInitSound) && !createManager(kManagerSound)) {
    errorBox("failed to initialize sound manager", "init error");
    ok = false;
  }
  if (ok && (mask & kInitConsole) && g_consoleSystem)
    g_consoleSystem->initFont();
  if (ok && (mask & kInitNetwork))
    ok = createManager(kManagerNetwork);
  if (ok && (mask & kInitCollision))
    ok = createManager(kManagerCollision);
  if (ok && (mask & kInitUserInterface))
    ok = createManager(kManagerUserInterface);
  if (ok && (mask & kInitRender))
    ok = createManager(kManagerEffects);
  if (!ok) {
    // Leave nothing behind: a later init in this process starts clean.
    teardown();
    return false;
  }
  SIMD_Processor::select(false);
  initialised_ = true;
  return true;
}

void CommonManager::shutdown() {
  if (!initialised_)
    return;
  initialised_ = false;
  teardown();
}

void CommonManager::teardown() {
  shutdownManager(kManagerEffects);
  shutdownManager(kManagerRenderModel);
  shutdownManager(kManagerRender);

  destroyManager(kManagerUserInterface);
  // The active interface died with its manager; a stale pointer would be freed and drawn by the
  // next start in this process.
  g_activeGui = nullptr;
  destroyManager(kManagerNetwork);
  destroyManager(kManagerCollision);
  destroyManager(kManagerKeyBinds);
  destroyManager(kManagerConsole);
  destroyManager(kManagerEffects);
  destroyManager(kManagerDecl);
  destroyManager(kManagerRender);
  destroyManager(kManagerRenderModel);
  destroyManager(kManagerTexture);
  destroyManager(kManagerSound);
  destroyIOManager();
  destroyCmdManager();
  destroyConVarManager();
  destroyManager(kManagerRenderDevice);

  window_ = nullptr;
  instance_ = nullptr;
  // The pools may only go once no dictionary holds an entry.
  for (KeyDict& dict : dicts_)
    dict.clear();
  if (g_shutdownSceneGraphClasses)
    g_shutdownSceneGraphClasses();
  KeyDict::shutdownPools();
  if (g_expressionHooks.clear)
    g_expressionHooks.clear();
  SIMD_Processor::shutdown();
  if (systemCreated_) {
    destroySystemManager();
    systemCreated_ = false;
  }
}

void CommonManager::beginVidRestart() {
  if (g_renderSystem)
    g_renderSystem->shutdown();
  if (g_renderInterface)
    g_renderInterface->freeAllContexts();
  if (g_keyBindSystem)
    g_keyBindSystem->setInputActive(false);
}

void CommonManager::endVidRestart(void* window) {
  window_ = window;
  if (g_renderInterface) {
    int colorBits = g_conVarSystem ? g_conVarSystem->getInt("r_colordepth") : 32;
    g_renderInterface->createContext(window, instance_, colorBits);
    if (ShaderInterface* shaders = g_renderInterface->getShaderInterface())
      shaders->init();
  }
  if (g_texManager)
    g_texManager->reloadImages();
  if (g_renderContextHooks.contextRestored)
    g_renderContextHooks.contextRestored();
  if (g_renderModelSystem)
    g_renderModelSystem->reloadModels(false);
  // reinit: init, then the world's light maps again (their images went with the old context).
  if (g_renderSystem)
    g_renderSystem->reinit();
  if (g_soundSystem)
    g_soundSystem->setSoundWindow(window);
  if (g_keyBindSystem)
    g_keyBindSystem->restartInput();
  if (g_declSystem)
    g_declSystem->reparseAll(true);
  if (g_consoleSystem)
    g_consoleSystem->initFont();
}

void CommonManager::processEvents() {
  static uint8_t packet[16384];
  int netTime = g_networkSystem ? g_networkSystem->getTime() : 0;
  if (g_keyBindSystem)
    g_keyBindSystem->pollInput();
  if (!g_systemInterface)
    return;
  for (;;) {
    SystemEvent event = g_systemInterface->getEvent();
    if (event.type == kSystemEventNone)
      break;
    switch (event.type) {
      case kSystemEventKey:
        if (g_keyBindSystem)
          g_keyBindSystem->keyEvent(event.value, event.value2 != 0);
        break;
      case kSystemEventChar:
        if (g_keyBindSystem)
          g_keyBindSystem->charEvent(event.value);
        break;
      case kSystemEventMouse:
        if (g_keyBindSystem)
          g_keyBindSystem->mouseEvent(event.value, event.value2, netTime);
        break;
      case kSystemEventPacket:
        if (g_networkSystem && event.data && event.dataLength >= 6 &&
            event.dataLength - 6 <= (int)sizeof(packet)) {
          const uint8_t* data = static_cast<const uint8_t*>(event.data);
          NetAddress from;
          std::memcpy(from.ip, data, 4);
          from.port = (uint16_t)(data[4] | (data[5] << 8));
          std::memcpy(packet, data + 6, (size_t)event.dataLength - 6);
          BitMsg msg(packet, sizeof(packet));
          msg.setWriteBit((event.dataLength - 6) * 8);
          g_networkSystem->packetEvent(from, msg);
        }
        break;
      default:
        break;
    }
    // The pump owns what it took; nothing downstream keeps the block.
    freeSystemEventData(event.data);
  }
  if (g_keyBindSystem)
    g_keyBindSystem->endFrame();
}

void CommonManager::unloadMap() {
  bool unloaded = allowMissingWorld_;
  if (g_spatialSystem) {
    delete g_spatialSystem;
    g_spatialSystem = nullptr;
    unloaded = true;
  }
  if (unloaded && g_gameInterface)
    g_gameInterface->mapUnloaded();
  // No running effect survives a map change (its particles, lights and sounds go with it).
  if (g_effectsSystem)
    g_effectsSystem->clear();
  if (g_renderSystem)
    g_renderSystem->unloadMap();
  if (g_collisionSystem)
    g_collisionSystem->freeModels();
  if (g_soundSystem)
    g_soundSystem->fadeOutAllEmitters();
}

SpatialSystem* mapFileName(char* name, size_t size) {
  struct Kind {
    const char* extension;
    SpatialSystemFactory factory;
  };
  const Kind kinds[] = {{".bsp", g_bspSpatialFactory}, {".kdt", g_kdSpatialFactory}};
  if (!g_ioSystem || !name || size == 0)
    return nullptr;
  for (const Kind& kind : kinds) {
    g_ioSystem->setExtension(name, size, kind.extension);
    char path[512];
    std::snprintf(path, sizeof(path), "maps/%s", name);
    if (!g_ioSystem->fileExists(path))
      continue;
    // The first kind that exists decides, as the world would be read from that file.
    SpatialSystem* spatial = kind.factory ? kind.factory() : nullptr;
    if (!spatial)
      cmdPrintf("WARNING: no spatial system for '%s' maps: cannot load '%s'\n", kind.extension, path);
    return spatial;
  }
  return nullptr;
}

const char* CommonManager::takeMapFailure() {
  if (!mapFailed_)
    return nullptr;
  mapFailed_ = false;
  return mapFailure_;
}

bool CommonManager::loadMap(const char* mapName, int serverFlag, int networkFlag) {
  unloadMap();
  char name[256];
  std::snprintf(name, sizeof(name), "%s", mapName ? mapName : "");
  mapFailed_ = false;
  SpatialSystem* spatial = mapFileName(name, sizeof(name));
  if (!spatial) {
    if (!allowMissingWorld_) {
      std::snprintf(mapFailure_, sizeof(mapFailure_), "Map \"%.200s\" not found (no .bsp or .kdt in maps/)",
                    mapName ? mapName : "");
      mapFailed_ = true;
      return false;
    }
    name[0] = '\0';
  }
  if (g_conVarSystem)
    g_conVarSystem->setString("g_mapname", name);

  char guiName[512];
  std::snprintf(guiName, sizeof(guiName), "guis/map/%s", name);
  if (g_ioSystem)
    g_ioSystem->setExtension(guiName, sizeof(guiName), ".gui");
  loading_ = true;
  if (g_soundSystem)
    g_soundSystem->setMuted(true);
  UserInterface* loadingGui = nullptr;
  if (g_uiSystem) {
    loadingGui = g_uiSystem->findGui(guiName, true, false);
    if (!loadingGui)
      loadingGui = g_uiSystem->findGui("guis/map/loading.gui", true, false);
  }
  g_activeGui = loadingGui;
  if (loadingGui) {
    if (g_renderSystem)
      g_renderSystem->setRenderView(nullptr, (int)now());
    loadingGui->setStateString("map_loadstatus", "loading spatial system");
    loadingGui->setStateFloat("map_loading", 0.0f);
    loadingGui->activate(true, (int)now());
    waitLoading(1000);
  }

  bool result = true;
  if (spatial) {
    char path[512];
    std::snprintf(path, sizeof(path), "maps/%s", name);
    if (!spatial->load(path)) {
      delete spatial;
      spatial = nullptr;
      result = false;
      std::snprintf(mapFailure_, sizeof(mapFailure_), "Map \"%.200s\" could not be read (see the console)", path);
      mapFailed_ = true;
      cmdPrintf("WARNING: the map file '%s' could not be loaded: it is damaged\n", path);
    }
  }
  if (result) {
    g_spatialSystem = spatial;
    if (spatial && g_mapEntityPass)
      g_mapEntityPass(spatial);
    if (g_renderSystem)
      g_renderSystem->mapLoaded();
    if (g_effectsSystem)
      g_effectsSystem->restart();
    if (g_soundSystem)
      g_soundSystem->stopAllEmitters();
    if (g_keyBindSystem)
      g_keyBindSystem->releaseAllKeys();
    if (g_gameInterface) {
      if (loadingGui)
        loadingGui->setStateString("map_loadstatus", "processing entities");
      updateLoading();
      for (int i = 0; i < kPersistentDictCount; ++i)
        g_gameInterface->setPersistentDict(i, &dicts_[i]);
      if (!g_gameInterface->loadMap(name, serverFlag, networkFlag, 0)) {
        unloadMap();
        result = false;
        std::snprintf(mapFailure_, sizeof(mapFailure_), "The game could not start map \"%.200s\"", name);
        mapFailed_ = true;
      }
    }
  }
  if (result) {
    if (loadingGui)
      loadingGui->setStateString("map_loadstatus", "normalizing physics");
    updateLoading();
    if (g_gameInterface) {
      static const UserCmd s_zeroedCommands[kMaxGameClients] = {};
      char discard[kGameCommandSize];
      for (int i = 0; i < 10; ++i) {
        discard[0] = '\0';
        g_gameInterface->runFrame(discard, s_zeroedCommands, 16, 1);
      }
    }
    if (loadingGui)
      loadingGui->setStateString("map_loadstatus", "pre-caching evironment interactions");
    updateLoading();
    if (g_renderSystem)
      g_renderSystem->precacheInteractions();
  }
  if (loadingGui) {
    updateLoading();
    loadingGui->setStateFloat("map_loading", 1.0f);
    loadingGui->namedEvent("loadingComplete");
    waitLoading(1000);
  }
  loading_ = false;
  if (g_soundSystem)
    g_soundSystem->setMuted(false);
  if (loadingGui && g_uiSystem)
    g_uiSystem->freeGui(loadingGui);
  if (loadingGui)
    g_activeGui = nullptr;
  return result;
}

void CommonManager::updateLoading() {
  if (!g_activeGui || !loading_)
    return;
  const int time = (int)now();
  if (g_renderSystem)
    g_renderSystem->setRenderView(nullptr, time);
  if (g_uiSystem)
    g_uiSystem->frame(time);
  if (!g_activeGui)
    return;
  g_activeGui->namedEvent("updateLoading");
  g_activeGui->redraw(time);
  if (g_renderSystem)
    g_renderSystem->endFrame();
  pumpWindowMessages(window_);
  if (g_soundSystem)
    g_soundSystem->update();
}

void CommonManager::waitLoading(int milliseconds) {
  const uint32_t start = now();
  do {
    updateLoading();
    sleep(16);
  } while ((int64_t)(uint32_t)(now() - start) < (int64_t)milliseconds + 16);
}

void CommonManager::saveGameDicts() {
  if (!g_gameInterface)
    return;
  for (int i = 0; i < kPersistentDictCount; ++i) {
    const KeyDict* dict = g_gameInterface->getPersistentDict(i);
    if (dict)
      dicts_[i] = *dict;
    else
      dicts_[i].clear();
  }
}

bool CommonManager::playVideo(const char* videoName, const char* soundName, bool skippable) {
  if (!g_videoPlayer || !videoName || !*videoName)
    return false;
  void* video = g_videoPlayer->open(videoName, 70);
  if (!video)
    return false;
  const uint32_t start = now();
  if (g_renderSystem)
    g_renderSystem->setRenderView(nullptr, 0);
  // Parameters 0..3 at 1 for the whole playback.
  const float parms[12] = {1.0f, 1.0f, 1.0f, 1.0f};
  g_videoPlayer->setExpressionParms(parms);
  // Only the interface's own sounds make way for the soundtrack: world sounds started before the
  // video (a map given on the command line) are not restarted by anything, so they keep playing.
  if (g_soundSystem) {
    g_soundSystem->stopLocalSound(33);
    if (soundName && *soundName)
      g_soundSystem->playLocalSound(soundName, 7, 0x418);
  }
  while (!g_videoPlayer->isAtEnd(video)) {
    if (g_renderSystem)
      g_renderSystem->setRenderView(nullptr, (int)(uint32_t)(now() - start));
    if (skippable) {
      processEvents();
      if (g_keyBindSystem && (g_keyBindSystem->isDown(32) || g_keyBindSystem->isDown(27)))
        break;
    }
    g_videoPlayer->draw(video, 0.0f, 0.0f, 640.0f, 480.0f, 0.0f, 0.0f, 1.0f, 1.0f);
    if (g_renderSystem)
      g_renderSystem->endFrame();
    pumpWindowMessages(window_);
    if (g_soundSystem)
      g_soundSystem->update();
    sleep(30);
  }
  g_videoPlayer->setExpressionParms(nullptr);
  g_videoPlayer->close(video);
  if (g_soundSystem)
    g_soundSystem->stopLocalSound(7);
  return true;
}

CommonManager* findCommonManager() {
  return s_commonManager;
}

CommonManager* getCommonManager() {
  if (!s_commonManager) {
    s_commonManager = new CommonManager;
    g_commonSystem = s_commonManager;
  }
  return s_commonManager;
}

void destroyCommonManager() {
  delete s_commonManager;
  s_commonManager = nullptr;
  g_commonSystem = nullptr;
}
