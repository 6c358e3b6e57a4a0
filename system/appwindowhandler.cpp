// The application shell: start-up, window and display modes, the window
// procedure, the game module's load and unload, and the frame driver.
#include "system/appwindowhandler.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "lib/interface/cmdsystem.h"
#include "lib/interface/collisionsystem.h"
#include "lib/interface/consolesystem.h"
#include "lib/interface/convarsystem.h"
#include "lib/interface/declsystem.h"
#include "lib/interface/effectssystem.h"
#include "lib/interface/iosystem.h"
#include "lib/interface/keybindsystem.h"
#include "lib/interface/memsystem.h"
#include "lib/interface/networksystem.h"
#include "lib/interface/renderinterface.h"
#include "lib/interface/rendermodelsystem.h"
#include "lib/interface/rendersystem.h"
#include "lib/interface/soundsystem.h"
#include "lib/interface/spatialsystem.h"
#include "lib/interface/systeminterface.h"
#include "lib/interface/userinterfacesystem.h"
#include "lib/keydict.h"
#include "lib/str.h"
#include "platform/clock.h"
#include "platform/fs.h"
#include "platform/gl.h"
#include "platform/module.h"
#include "system/cmdmanager.h"
#include "system/commandline.h"
#include "system/commonmanager.h"
#include "system/displaymodes.h"
#include "system/iomanager.h"
#include "system/keymap.h"
#include "system/messagebox.h"

namespace {
// Console variables by name: the registry's copy when it exists, else the
// declaration (so the shell also runs with a mask that leaves the registry out).
ConVar* findVar(const char* name) {
  if (g_conVarSystem)
    return g_conVarSystem->find(name);
  for (ConVar* var = ConVar::firstDeclaration(); var; var = var->nextDeclaration()) {
    if (String::icmp(var->getName(), name) == 0)
      return var;
  }
  return nullptr;
}

int varInt(const char* name, int fallback) {
  ConVar* var = findVar(name);
  return var ? var->getInt() : fallback;
}

float varFloat(const char* name, float fallback) {
  ConVar* var = findVar(name);
  return var ? var->getFloat() : fallback;
}

const char* varString(const char* name) {
  ConVar* var = findVar(name);
  return var ? var->getString() : "";
}

void setVarInt(const char* name, int value) {
  if (ConVar* var = findVar(name))
    var->setInt(value);
}

void setVarString(const char* name, const char* text) {
  if (ConVar* var = findVar(name))
    var->setString(text);
}

void keyRelease() {
  if (g_keyBindSystem)
    g_keyBindSystem->releaseAllKeys();
}

void cmdQuit(const CmdArgs&) {
  if (g_appWindowHandler)
    g_appWindowHandler->requestStop();
}

void cmdVidRestart(const CmdArgs&) {
  if (!g_appWindowHandler)
    return;
  g_appWindowHandler->recreateWindow();
  if (g_keyBindSystem) {
    g_keyBindSystem->setInputActive(false);
    g_keyBindSystem->setInputActive(true);
  }
}

void cmdListVideoModes(const CmdArgs&) {
  if (!g_appWindowHandler)
    return;
  commonPrintf("%-6s | %-6s | %-6s | %-6s\n", "mode #", "width", "height", "depth");
  const std::vector<PlatformDisplayMode>& modes = g_appWindowHandler->displayModes();
  for (size_t i = 0; i < modes.size(); ++i)
    commonPrintf("%-6d | %-6d | %-6d | %-6d\n", (int)i, modes[i].width, modes[i].height,
                 modes[i].bitsPerPixel);
}

uint32_t defaultNow() {
  return getMilliseconds();
}
void defaultSleep(int milliseconds) {
  platformSleepMilliseconds(milliseconds);
}

bool s_devConsoleAttached = false;
}  // namespace

void applyDevConsole() {
  bool wanted = varInt("con_devconsole", 0) != 0;
  if (wanted && !s_devConsoleAttached) {
    s_devConsoleAttached = true;
    std::fputs("-- DEV CONSOLE --\n", stdout);
    std::fflush(stdout);
  } else if (!wanted && s_devConsoleAttached) {
    s_devConsoleAttached = false;
  }
  if (wanted) {
    if (CmdManager* commands = findCmdManager())
      commands->flushEcho();
  }
}

void executeCommandLine(const char* commandLine) {
  if (!g_cmdSystem || !commandLine)
    return;
  std::string statement;
  bool quoted = false;
  for (const char* p = commandLine;; ++p) {
    const bool end = *p == '\0' || *p == '\n' || *p == '\r' || (*p == ';' && !quoted);
    if (!end) {
      if (*p == '"')
        quoted = !quoted;
      statement += *p;
      continue;
    }
    if (statement.find_first_not_of(" \t") != std::string::npos) {
      // The buffer takes the text after a ";" and needs its terminator.
      if (statement.size() + 2 >= CmdManager::kBufferSize) {
        std::fprintf(stderr,
                     "ERROR: a command-line statement of %d characters is longer than the %d the "
                     "command buffer holds, skipped: %.40s...\n",
                     (int)statement.size(), (int)CmdManager::kBufferSize - 2, statement.c_str());
      } else {
        g_cmdSystem->executeText(statement.c_str());
      }
    }
    statement.clear();
    quoted = false;
    if (*p == '\0')
      break;
  }
}

// ---------------------------------------------------------------------------
// WindowHandler

WindowHandler::WindowHandler() = default;

WindowHandler::~WindowHandler() {
  destroy();
}

void WindowHandler::setModeSource(const std::vector<PlatformDisplayMode>* modes,
                                  const PlatformDisplayMode* desktop) {
  modeSource_ = modes;
  desktopSource_ = desktop;
}

bool WindowHandler::createWindowAndCommon(void* instance, uint32_t mask) {
  if (flags_ & kFlagCreated)
    return false;
  instance_ = instance;
  if (!videoStarted_) {
    if (!platformVideoInit())
      return false;
    videoStarted_ = true;
  }
  if (!enumDisplayModes())
    return false;
  setFlag(kFlagFirstCreation, true);
  if (!createAppWindow()) {
    setFlag(kFlagFirstCreation, false);
    return false;
  }
  setFlag(kFlagFirstCreation, false);
  CommonManager* common = getCommonManager();
  configLoaded_ = false;
  common->setBeforeRenderer([this] { return prepareRendererWindow(); });
  const bool started = common->init(window_, instance_, mask);
  common->setBeforeRenderer(nullptr);
  if (!started) {
    destroyCommonManager();
    return false;
  }
  // The first window is made before the variable registry exists: its
  // choices are written again now that they can be kept.
  publishModeVariables();
  if (g_cmdSystem) {
    g_cmdSystem->addCommand("vid_restart", cmdVidRestart, kCmdFlagEngine | kCmdFlagVideo,
                            "restart rendering engine");
    g_cmdSystem->addCommand("listVideoModes", cmdListVideoModes, kCmdFlagEngine | kCmdFlagVideo,
                            "list all valid video modes");
  }
  // "showStringPool" (with "listStringKeys" and "listStringValues", which
  // the common manager has registered already: ignored as duplicates).
  KeyDict::registerCommands();
  setFlag(kFlagCreated, true);
  return true;
}

bool WindowHandler::enumDisplayModes() {
  PlatformDisplayMode desktop;
  bool haveDesktop;
  if (desktopSource_) {
    desktop = *desktopSource_;
    haveDesktop = true;
  } else {
    haveDesktop = platformDesktopMode(&desktop, deviceName_, sizeof(deviceName_));
  }
  if (!haveDesktop) {
    commonPrintf("Failed to extract desktop video information\n");
    showMessageBox("Failed to extract desktop video information...\n", "ERROR: Enum Video Modes", false);
    return false;
  }
  desktop_ = desktop;
  modes_.clear();
  if (modeSource_) {
    modes_ = filterDisplayModes(modeSource_->data(), (int)modeSource_->size(), desktop);
  } else {
    PlatformDisplayMode driverModes[512];
    int count = platformDisplayModes(driverModes, 512);
    if (count > 0)
      modes_ = filterDisplayModes(driverModes, count, desktop);
  }
  commonPrintf("Num Modes Using: %d\n", (int)modes_.size());
  commonPrintf("Device Name: %s\n", deviceName_);
  commonPrintf("Monitor Frequency: %d\n", desktop.refreshRate);
  for (const PlatformDisplayMode& mode : modes_) {
    commonPrintf("dmPelsWidth: %d\n", mode.width);
    commonPrintf("dmPelsHeight: %d\n", mode.height);
    commonPrintf("dmBitsPerPel: %d\n", mode.bitsPerPixel);
  }
  if (modes_.empty()) {
    commonPrintf("ERROR: Failed to enumerate for valid video modes (min = 640x480x32bit)\n");
    const char* text = "Failed to enumerate for valid video modes...\nMinimum Requirement: 640x480 32bit";
    showMessageBox(text, "ERROR: Enum Video Modes", false);
    return false;
  }
  return true;
}

bool WindowHandler::createAppWindow() {
  if (modes_.empty())
    return false;
  modeIndex_ = chooseDisplayMode(modes_, varInt("r_mode", 0));
  publishModeVariables();
  const PlatformDisplayMode& chosen = modes_[(size_t)modeIndex_];

  bool first = (flags_ & kFlagFirstCreation) != 0;
  bool wantFull = varInt("r_fullscreen", 0) != 0 && !first;
  if (first || wantFull != ((flags_ & kFlagFullScreen) != 0)) {
    if (window_)
      platformWindowRestoreDesktop(window_);
    setFlag(kFlagFullScreen, wantFull);
  }
  bool full = (flags_ & kFlagFullScreen) != 0;

  // The framebuffer configuration is chosen when the window is made.
  platformGLSetAttributes(chosen.bitsPerPixel);
  window_ = platformWindowCreate(windowText_[0] ? windowText_ : "Quillmere, LLC", chosen.width, chosen.height,
                                 full);
  if (!window_)
    return false;
  if (full)
    return setDisplayMode(chosen.width, chosen.height, chosen.bitsPerPixel);
  return setDisplayMode(desktop_.width, desktop_.height, desktop_.bitsPerPixel);
}

void* WindowHandler::prepareRendererWindow() {
  // The first window was made before the variable registry existed: its mode is written again
  // now that it can be kept, or the renderer would size itself by the declared defaults.
  publishModeVariables();
  // The configuration is read here, not after the game's init: settings that shape the window
  // and the renderer would otherwise need a second build of every GL program and target.
  if (g_cmdSystem && g_ioSystem) {
    g_cmdSystem->executeText("loadcfg default.cfg");
    configLoaded_ = true;
  }
  if (windowMatchesVariables())
    return window_;
  if (window_) {
    platformWindowDestroy(window_);
    window_ = nullptr;
  }
  if (!createAppWindow())
    return nullptr;
  return window_;
}

bool WindowHandler::windowMatchesVariables() const {
  if (modes_.empty())
    return true;
  const bool full = (flags_ & kFlagFullScreen) != 0;
  return chooseDisplayMode(modes_, varInt("r_mode", 0)) == modeIndex_ && full == (varInt("r_fullscreen", 0) != 0);
}

void WindowHandler::publishModeVariables() {
  if (modes_.empty())
    return;
  setVarInt("r_mode", modeIndex_);
  char modeList[4096];
  buildModeListText(modes_, modeList, sizeof(modeList));
  setVarString("r_modelist", modeList);
  const PlatformDisplayMode& chosen = modes_[(size_t)modeIndex_];
  setVarInt("r_viewwidth", chosen.width);
  setVarInt("r_viewheight", chosen.height);
  setVarInt("r_colordepth", chosen.bitsPerPixel);
}

bool WindowHandler::setDisplayMode(int width, int height, int bitsPerPixel) {
  if (!(flags_ & kFlagFullScreen))
    return true;
  return platformWindowSetDisplayMode(window_, width, height, bitsPerPixel);
}

bool WindowHandler::recreateWindow() {
  if (g_commonSystem)
    g_commonSystem->beginVidRestart();
  if (window_) {
    platformWindowDestroy(window_);
    window_ = nullptr;
  }
  bool ok = createAppWindow();
  if (ok)
    showWindow();
  if (g_commonSystem)
    g_commonSystem->endVidRestart(window_);
  return ok;
}

void WindowHandler::pumpMessages() {
  for (;;) {
    PlatformEvent event;
    bool got = platformPollEvent(&event);
    if (flags_ & kFlagInactive)
      platformSleepMilliseconds(20);
    if (!got)
      break;
    if (!event.hasWindow)
      continue;
    if (event.type == kPlatformEventQuit) {
      // The process was asked to end (a signal, the session closing):
      // stop as "quit" does rather than ignore it.
      requestStop();
      break;
    }
    handleEvent(event);
  }
}

void WindowHandler::handleEvent(const PlatformEvent& event) {
  switch (event.type) {
    case kPlatformEventClose:
      // Closing the window ends the run the way "quit" does.
      requestStop();
      return;
    case kPlatformEventSize:
      setVarInt("r_viewwidth", event.value > 1 ? event.value : 1);
      setVarInt("r_viewheight", event.value2 > 1 ? event.value2 : 1);
      break;
    case kPlatformEventActivate:
      if (!(flags_ & kFlagStop)) {
        bool inactive = event.value == 0;
        setFlag(kFlagInactive, inactive);
        if (g_soundSystem)
          g_soundSystem->setBackground(inactive);
        if (g_keyBindSystem)
          g_keyBindSystem->setInputActive(!inactive);
        keyRelease();
      }
      break;
    case kPlatformEventKeyDown:
      if (event.system && event.value == 0x1C && !event.value2) {
        setVarInt("r_fullscreen", varInt("r_fullscreen", 0) ? 0 : 1);
        if (g_cmdSystem)
          g_cmdSystem->appendText("vid_restart");
        keyRelease();
        return;
      }
      queueSystemEvent(kSystemEventKey, mapWin32Key(event.value, event.value2 != 0), 1, 0, nullptr);
      break;
    case kPlatformEventKeyUp:
      queueSystemEvent(kSystemEventKey, mapWin32Key(event.value, event.value2 != 0), 0, 0, nullptr);
      break;
    case kPlatformEventCharacter:
      queueSystemEvent(kSystemEventChar, event.value, 0, 0, nullptr);
      break;
    case kPlatformEventMouseWheel:
      if (event.value != 0) {
        int key = event.value > 0 ? 184 : 183;
        queueSystemEvent(kSystemEventKey, key, 1, 0, nullptr);
        queueSystemEvent(kSystemEventKey, key, 0, 0, nullptr);
      }
      break;
    default:
      break;
  }
  for (MessageHook hook : hooks_)
    hook(event);
}

void WindowHandler::addMessageHook(MessageHook hook) {
  for (MessageHook existing : hooks_) {
    if (existing == hook)
      return;
  }
  hooks_.push_back(hook);
}

void WindowHandler::setWindowText(const char* text) {
  std::snprintf(windowText_, sizeof(windowText_), "%s", text ? text : "");
  platformWindowSetTitle(window_, windowText_);
}

void WindowHandler::showWindow() {
  platformWindowShow(window_);
}

void WindowHandler::destroy() {
  destroyCommonManager();
  if (window_) {
    platformWindowRestoreDesktop(window_);
    platformWindowDestroy(window_);
    window_ = nullptr;
  }
  hooks_.clear();
  modes_.clear();
  flags_ = 0;
  if (videoStarted_) {
    platformVideoShutdown();
    videoStarted_ = false;
  }
}

void pumpWindowMessages(void* window) {
  // Message boxes and loading screens: the same table, no inactive sleep.
  if (!window)
    return;
  PlatformEvent event;
  while (platformPollEvent(&event)) {
    if (!event.hasWindow)
      continue;
    if (event.type == kPlatformEventQuit)
      break;
    if (g_appWindowHandler)
      g_appWindowHandler->handleEvent(event);
  }
}

// ---------------------------------------------------------------------------
// AppWindowHandler

AppWindowHandler::AppWindowHandler() {
  clock_.now = defaultNow;
  clock_.sleep = defaultSleep;
  std::snprintf(windowText_, sizeof(windowText_), "Quillmere, LLC");
}

AppWindowHandler::~AppWindowHandler() {
  shutdown();
  destroy();
}

bool AppWindowHandler::failStart(const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof(text), format, args);
  va_end(args);
  if (g_cmdSystem)
    g_cmdSystem->printf("ERROR: %s\n", text);
  else
    std::fprintf(stderr, "ERROR: %s\n", text);
  startFailed_ = true;
  requestStop();
  return false;
}

bool AppWindowHandler::init(const char* commandLine) {
  setFlag(kFlagStop, false);
  startFailed_ = false;
  exports_ = nullptr;
  module_ = -1;
  getGameApi_ = nullptr;
  startTime_ = (int64_t)std::time(nullptr);
  if (!commandLine)
    commandLine = "";

  platformModuleClearError();
  const char* path =
      g_ioSystem ? g_ioSystem->buildOSPath(varString("fs_basepath"), nullptr, "game.dll") : nullptr;
  char cwd[256] = {};
  fsGetCwd(cwd, sizeof(cwd));
  if (path)
    std::snprintf(modulePath_, sizeof(modulePath_), "%s", path);
  else
    std::snprintf(modulePath_, sizeof(modulePath_), "%s/media/game.dll", cwd);

  char guiName[256];
  std::snprintf(guiName, sizeof(guiName), "%s", getCommandLineOption(commandLine, "-guionly"));
  if (guiName[0] == '\0') {
    if (g_systemInterface)
      module_ = g_systemInterface->loadLibrary(modulePath_);
    // The platform layer loads "game.dll" as "game.so": name the file really tried.
    char triedPath[sizeof(modulePath_)];
    std::snprintf(triedPath, sizeof(triedPath), "%s", modulePath_);
    const size_t length = std::strlen(triedPath);
    if (length > 4 && String::icmp(triedPath + length - 4, ".dll") == 0)
      std::snprintf(triedPath + length - 4, 5, ".so");
    if (module_ < 0) {
      char text[4096];
      std::snprintf(text, sizeof(text), "FAILED TO LOAD '%s'\nWORKING PATH: '%s'\nSYSTEM ERROR MSGS:\n%s",
                    triedPath, cwd, g_systemInterface ? g_systemInterface->lastErrorText() : "");
      if (g_commonSystem)
        g_commonSystem->errorBox(text, "Load Error");
      return failStart("the game module '%s' could not be loaded (start the engine from its staged tree)",
                       triedPath);
    }
    getGameApi_ = (GetGameAPIFunction)g_systemInterface->getProcAddress(module_, kGetGameAPIName);
    if (!getGameApi_) {
      failStart("'%s' has no %s", triedPath, kGetGameAPIName);
    } else {
      GameImports imports = {};
      imports.version = kGameApiVersion;
      imports.system = g_systemInterface;
      imports.common = g_commonSystem;
      imports.cmdSystem = g_cmdSystem;
      imports.conVarSystem = g_conVarSystem;
      imports.ioSystem = g_ioSystem;
      imports.networkSystem = g_networkSystem;
      imports.renderSystem = g_renderSystem;
      imports.soundSystem = g_soundSystem;
      imports.renderModelSystem = g_renderModelSystem;
      imports.uiSystem = g_uiSystem;
      imports.declSystem = g_declSystem;
      imports.effectsSystem = g_effectsSystem;
      imports.collisionSystem = g_collisionSystem;
      imports.memManager = g_memManager;
      exports_ = getGameApi_(&imports);
      if (!exports_ || !exports_->game)
        failStart("'%s' handed back no game interface", triedPath);
      else
        g_gameInterface = exports_->game;
    }
  } else {
    UserInterface* gui = g_uiSystem ? g_uiSystem->findGui(guiName, true, false) : nullptr;
    g_activeGui = gui;
    if (!gui)
      failStart("-guionly: the interface '%s' cannot be opened", guiName);
    else {
      gui->setStateString("map_message", "");  // as openMainMenu does: the main menu shows it
      gui->activate(true, (int)getMilliseconds());  // stored alone it would never draw or take input
    }
  }
  if (stopRequested())
    return false;

  if (g_cmdSystem)
    g_cmdSystem->addCommand("quit", cmdQuit, kCmdFlagEngine, "exit application");
  if (g_gameInterface)
    g_gameInterface->init();
  if (g_cmdSystem) {
    // Read already when the renderer was made with it; the restart only when the window no longer
    // matches the video variables (the configuration came late, or the game's init changed them).
    if (!configLoaded_)
      g_cmdSystem->executeText("loadcfg default.cfg");
    if (!windowMatchesVariables())
      g_cmdSystem->executeText("vid_restart");
  }
  const char* title = getCommandLineOption(commandLine, "-wndname");
  if (title[0])
    setWindowText(title);
  if (!g_activeGui)
    openMainMenu(false);
  executeCommandLine(removeEngineOptions(commandLine).c_str());
  gameClock_.reset(now());
  frameRate_.reset(now());
  previousFrameEnd_ = now();
  return !stopRequested();
}

bool AppWindowHandler::frame() {
  if (stopRequested())
    return false;
  if (g_cmdSystem)
    g_cmdSystem->executeText("");
  showMapFailure();
  uint32_t frameStart = now();
  if (g_uiSystem)
    g_uiSystem->frame((int)frameStart);

  if (g_gameInterface) {
    int steps = gameClock_.advance(now(), varFloat("timescale", 1.0f));
    for (int i = 0; i < steps && g_gameInterface; ++i) {
      if (g_networkSystem)
        g_networkSystem->frame(kGameStepMilliseconds);
      static const uint64_t s_zeroedCommands[kMaxGameClients * 16] = {};
      const UserCmd* commands = g_networkSystem ? g_networkSystem->getUserCmds()
                                                : reinterpret_cast<const UserCmd*>(s_zeroedCommands);
      char text[kGameCommandSize];
      text[0] = '\0';
      g_gameInterface->runFrame(text, commands, kGameStepMilliseconds, 1);
      handleGameCommand(text);
    }
    if (g_renderSystem)
      g_renderSystem->clearScreen();
    if (g_gameInterface)
      g_gameInterface->draw(0);
  }
  // Without a scene renderer the device itself clears and presents each frame.
  if (!g_renderSystem && g_renderInterface)
    g_renderInterface->clear(kClearColor | kClearDepth | kClearStencil);
  else if (g_renderSystem && !g_gameInterface)
    g_renderSystem->clearScreen();
  if (g_activeGui) {
    if (g_renderSystem && !g_spatialSystem)
      g_renderSystem->setRenderView(nullptr, (int)frameStart);
    g_activeGui->redraw((int)frameStart);
  }
  if (g_consoleSystem) {
    g_consoleSystem->update();
    g_consoleSystem->draw();
  }
  if (g_renderSystem && varInt("com_showFPS", 0)) {
    static const float cyan[4] = {0.5f, 1.0f, 1.0f, 1.0f};
    g_renderSystem->drawText(frameRate_.text(), 640.0f, 0.0f, 1.0f, 0, 1, cyan);
  }
  if (g_renderSystem && g_spatialSystem && varInt("com_showArea", 0)) {
    static const float white[4] = {1.0f, 1.0f, 1.0f, 1.0f};
    float origin[3];
    g_renderSystem->viewOrigin(origin);
    char text[64];
    std::snprintf(text, sizeof(text), "cameraArea: %d", g_spatialSystem->pointToArea(origin));
    g_renderSystem->drawText(text, 0.0f, 0.0f, 1.0f, 0, 0, white);
  }
  if (g_renderSystem)
    g_renderSystem->endFrame();
  else if (g_renderInterface)
    g_renderInterface->swapBuffers();

  int wait = frameCapSleep(varInt("vid_maxfps", 200), previousFrameEnd_, now());
  if (wait > 0 && clock_.sleep)
    clock_.sleep(wait);
  ++framesRun_;
  previousFrameEnd_ = now();
  frameRate_.frameEnded(frameStart);
  return !stopRequested();
}

void AppWindowHandler::handleGameCommand(const char* input) {
  if (!input || !input[0])
    return;
  // The game's text is a fixed 1,024-byte block: never trust it to be terminated.
  char text[kGameCommandSize];
  std::memcpy(text, input, strnlen(input, kGameCommandSize - 1));
  text[strnlen(input, kGameCommandSize - 1)] = '\0';
  CmdArgs args;
  args.tokenize(text);
  const char* word = args.argv(0);
  if (String::icmp(word, "map") == 0) {
    if (g_commonSystem)
      g_commonSystem->saveGameDicts();
    if (g_cmdSystem)
      g_cmdSystem->appendText(va("map %s", args.argv(1)));
  } else if (String::icmp(word, "disconnect") == 0) {
    if (g_cmdSystem)
      g_cmdSystem->appendText("disconnect");
  } else if (String::icmp(word, "game_startmenu") == 0) {
    int mode = g_keyBindSystem ? g_keyBindSystem->getMode() : 0;
    if (g_keyBindSystem)
      g_keyBindSystem->setMode(kKeyModeGame);
    openMainMenu(false);
    if (g_keyBindSystem) {
      g_keyBindSystem->setMode((mode & 1) | g_keyBindSystem->getMode());
      g_keyBindSystem->releaseAllKeys();
    }
  } else if (String::icmp(word, "died") == 0 || String::icmp(word, "victory") == 0) {
    bool died = String::icmp(word, "died") == 0;
    if (g_uiSystem) {
      g_uiSystem->freeGui(g_activeGui);
      g_activeGui = g_uiSystem->findGui(died ? "guis/deadmenu.gui" : "guis/victory.gui", true, false);
    } else {
      g_activeGui = nullptr;
    }
    if (!g_activeGui)
      return;
    if (g_soundSystem)
      g_soundSystem->stopAllSounds();
    g_activeGui->activate(true, (int)now());
  }
}

void AppWindowHandler::shutdown() {
  if (g_commonSystem)
    g_commonSystem->unloadMap();
  if (g_gameInterface)
    g_gameInterface->shutdown();
  if (module_ >= 0) {
    if (getGameApi_) {
      GameImports zeroed = {};
      zeroed.version = kGameApiVersion;
      getGameApi_(&zeroed);
    }
    g_gameInterface = nullptr;
    if (g_systemInterface)
      g_systemInterface->freeLibrary(module_);
  }
  g_gameInterface = nullptr;
  module_ = -1;
  getGameApi_ = nullptr;
  exports_ = nullptr;
}

void AppWindowHandler::showMapFailure() {
  CommonManager* common = findCommonManager();
  const char* why = common ? common->takeMapFailure() : nullptr;
  if (!why || !g_gameInterface || g_spatialSystem)
    return;
  // The load took the menu away: bring it back with the reason, not a black screen.
  if (!g_activeGui)
    openMainMenu(true);
  if (g_activeGui)
    g_activeGui->setStateString("map_message", why);
}

void openMainMenu(bool force) {
  if (!g_gameInterface)
    return;
  int mode = g_keyBindSystem ? g_keyBindSystem->getMode() : 0;
  bool allowed = mode == 0 || mode == kKeyModeGame;
  if (!allowed && !force)
    return;
  if (g_uiSystem)
    g_uiSystem->freeGui(g_activeGui);
  g_activeGui = nullptr;
  UserInterface* gui = nullptr;
  int answer = g_gameInterface->getMenu(&gui);
  if (answer == 1)
    gui = g_uiSystem ? g_uiSystem->findGui("guis/mainmenu.gui", true, false) : nullptr;
  if (!gui)
    return;
  g_activeGui = gui;
  g_gameInterface->setMenu(gui);
  gui->setStateString("map_message", "");  // a failed map's reason is shown only until the menu goes
  gui->activate(true, (int)getMilliseconds());
}

AppWindowHandler* createAppWindowHandler() {
  if (!g_appWindowHandler)
    g_appWindowHandler = new AppWindowHandler;
  return g_appWindowHandler;
}

void destroyAppWindowHandler() {
  delete g_appWindowHandler;
  g_appWindowHandler = nullptr;
}

AppWindowHandler* startApplication(const char* commandLine, void* instance, bool* initialized) {
  *initialized = false;
  createMemManager();
  setFileSystemCommandLine(commandLine);
  AppWindowHandler* app = createAppWindowHandler();
  if (!app->createWindowAndCommon(instance)) {
    destroyAppWindowHandler();
    destroyMemManager();
    setFileSystemCommandLine(nullptr);
    return nullptr;
  }
  *initialized = app->init(commandLine);
  // A "quit" on the command line still runs the frame that stops.
  if (*initialized || !app->startFailed())
    app->showWindow();
  return app;
}

bool runMainLoopPass(AppWindowHandler* app) {
  app->pumpMessages();
  if (g_commonSystem)
    g_commonSystem->processEvents();
  applyDevConsole();
  if (g_soundSystem)
    g_soundSystem->update();
  return app->frame();
}

void stopApplication(AppWindowHandler* app) {
  app->shutdown();
  app->destroy();
  destroyAppWindowHandler();
  destroyMemManager();
  setFileSystemCommandLine(nullptr);
}

int runApplication(const char* commandLine, void* instance) {
  applyDevConsole();
  bool initialized = false;
  AppWindowHandler* app = startApplication(commandLine, instance, &initialized);
  if (!app) {
    std::fprintf(stderr, "ERROR: the window or the engine's managers could not be created\n");
    return -1;
  }
  if (!initialized && app->startFailed()) {
    stopApplication(app);
    return 1;
  }
  if (g_commonSystem)
    g_commonSystem->playVideo("video/quillmere.ovid", "video/quillmere.ogg", true);
  while (runMainLoopPass(app)) {
  }
  stopApplication(app);
  return 0;
}
