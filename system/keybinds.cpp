// The key bindings: key state and routing by input mode, binding execution into the command buffer,
// the key-name table, the binding commands and "writecfg"'s key lines, and the input devices.
#include "system/keybinds.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "lib/interface/commonsystem.h"
#include "lib/interface/consolesystem.h"
#include "lib/interface/convarsystem.h"
#include "lib/interface/gameinterface.h"
#include "lib/interface/iosystem.h"
#include "lib/interface/managerfactory.h"
#include "lib/interface/systeminterface.h"
#include "lib/interface/userinterfacesystem.h"
#include "system/appwindowhandler.h"
#include "system/inputmanager.h"

static ConVar m_uisensitivity("m_uisensitivity", "1", 0x20004, "UI mouse speed");

namespace {

KeyBinds* s_keyBinds = nullptr;
int s_deviceFlags = kInputMouse | kInputJoystick;

struct KeyNameEntry {
  const char* name;
  int code;
};

// clang-format off
const KeyNameEntry kKeyNames[] = {
    {"TAB", 9}, {"ENTER", 13}, {"ESCAPE", 27}, {"SPACE", 32}, {"BACKSPACE", 127}, {"UPARROW", 132},
    {"DOWNARROW", 133}, {"LEFTARROW", 134}, {"RIGHTARROW", 135}, {"ALT", 136}, {"CTRL", 137},
    {"SHIFT", 138}, {"COMMAND", 128}, {"CAPSLOCK", 129}, {"F1", 145}, {"F2", 146}, {"F3", 147},
    {"F4", 148}, {"F5", 149}, {"F6", 150}, {"F7", 151}, {"F8", 152}, {"F9", 153}, {"F10", 154},
    {"F11", 155}, {"F12", 156}, {"INS", 139}, {"DEL", 140}, {"PGUP", 142}, {"PGDN", 141},
    {"HOME", 143}, {"END", 144}, {"KP_HOME", 160}, {"KP_UPARROW", 161}, {"KP_PGUP", 162},
    {"KP_LEFTARROW", 163}, {"KP_5", 164}, {"KP_RIGHTARROW", 165}, {"KP_END", 166},
    {"KP_DOWNARROW", 167}, {"KP_PGDN", 168}, {"KP_ENTER", 169}, {"KP_INS", 170}, {"KP_DEL", 171},
    {"KP_SLASH", 172}, {"KP_MINUS", 173}, {"KP_PLUS", 174}, {"KP_EQUALS", 177}, {"PAUSE", 131},
    {"MOUSE1", 178}, {"MOUSE2", 179}, {"MOUSE3", 180}, {"MOUSE4", 181}, {"MOUSE5", 182},
    {"MWHEELUP", 184}, {"MWHEELDOWN", 183}, {"JOY1", 185}, {"JOY2", 186}, {"JOY3", 187},
    {"JOY4", 188}, {"JOY5", 189}, {"JOY6", 190}, {"JOY7", 191}, {"JOY8", 192}, {"JOY9", 193},
    {"JOY10", 194}, {"JOY11", 195}, {"JOY12", 196}, {"JOY13", 197}, {"JOY14", 198}, {"JOY15", 199},
    {"JOY16", 200}, {"JOY17", 201}, {"JOY18", 202}, {"JOY19", 203}, {"JOY20", 204}, {"JOY21", 205},
    {"JOY22", 206}, {"JOY23", 207}, {"JOY24", 208}, {"JOY25", 209}, {"JOY26", 210}, {"JOY27", 211},
    {"JOY28", 212}, {"JOY29", 213}, {"JOY30", 214}, {"JOY31", 215}, {"JOY32", 216}, {"AUX1", 217},
    {"AUX2", 218}, {"AUX3", 219},
};
// clang-format on

struct DefaultBinding {
  int key;
  const char* command;
};

const DefaultBinding kDefaultBindings[] = {
    {kKeyMouse1Code, "_button0"},
    {kKeyMouse2Code, "_button1"},
    {'w', "_forward"},
    {'s', "_back"},
    {'a', "_moveleft"},
    {'d', "_moveright"},
    {kKeySpace, "_moveup"},
    {kKeyShift, "_movedown"},
    {kKeyCtrl, "_speed"},
};

// "r_viewwidth" and "r_viewheight" belong to the window; without a registry their defaults hold.
int viewSize(const char* name, int fallback) {
  ConVar* var = g_conVarSystem ? g_conVarSystem->find(name) : nullptr;
  int value = var ? var->getInt() : fallback;
  return value < 1 ? 1 : value;
}

void sendToGui(int type, int value, int value2) {
  if (!g_activeGui)
    return;
  UIInputEvent event;
  event.type = type;
  event.value = value;
  event.value2 = value2;
  bool handled = false;
  g_activeGui->handleEvent(&event, (int)getMilliseconds(), &handled);
}

bool isConsoleKey(int key) {
  return key == '`' || key == '~';
}

void cmdSetKey(const CmdArgs& args) {
  if (!s_keyBinds)
    return;
  if (args.argc() != 3) {
    cmdPrintf("usage: setkey <key> <command>\n");
    return;
  }
  int key = s_keyBinds->keyFromName(args.argv(1));
  if (key < 0) {
    cmdPrintf("invalid key: \"%s\"\n", args.argv(1));
    return;
  }
  // "writecfg" saves the binding as one such line: one "loadcfg" could not read is refused now.
  const int line = std::snprintf(nullptr, 0, "setkey %-22s \"%s\"", s_keyBinds->keyName(key), args.argv(2));
  if (line > kCmdConfigLineLength) {
    cmdPrintf(
        "WARNING: setkey: the binding of \"%s\" is too long to save (%d characters, at most %d per "
        "line), not set\n",
        args.argv(1), line, kCmdConfigLineLength);
    return;
  }
  s_keyBinds->setBinding(key, args.argv(2));
}

void cmdListKeys(const CmdArgs&) {
  if (!s_keyBinds)
    return;
  for (int key = 0; key < KeyBinds::kKeyCount; ++key) {
    if (*s_keyBinds->binding(key))
      cmdPrintf("%s %s\n", s_keyBinds->keyName(key), s_keyBinds->binding(key));
  }
}

void cmdClearKeys(const CmdArgs&) {
  if (s_keyBinds)
    s_keyBinds->clearBindings();
}

void cmdUnsetKey(const CmdArgs& args) {
  if (!s_keyBinds)
    return;
  if (args.argc() != 2) {
    cmdPrintf("usage: unsetkey <key>\n");
    return;
  }
  int key = s_keyBinds->keyFromName(args.argv(1));
  if (key < 0) {
    cmdPrintf("ERROR: invalid key \"%s\"\n", args.argv(1));
    return;
  }
  s_keyBinds->setBinding(key, "");
}

void cmdInRestart(const CmdArgs&) {
  if (s_keyBinds)
    s_keyBinds->restartInput();
}

bool createKeyBindsManager() {
  return getKeyBinds(true) != nullptr;
}

RegisterManagerFactory s_registerKeyBinds(kManagerKeyBinds, createKeyBindsManager, nullptr, destroyKeyBinds);

}  // namespace

KeyBinds::KeyBinds() {
  registerCommands();
}

KeyBinds::~KeyBinds() {
  shutdownInput();
  if (g_keyBindSystem == this)
    g_keyBindSystem = nullptr;
  if (g_keyBindingWriter == this)
    g_keyBindingWriter = nullptr;
  if (s_keyBinds == this)
    s_keyBinds = nullptr;
}

void KeyBinds::setDeviceFlags(int flags) {
  s_deviceFlags = flags;
}

void KeyBinds::registerCommands() {
  if (g_cmdSystem) {
    g_cmdSystem->addCommand("setkey", cmdSetKey, kCmdFlagEngine, "bind key to console command");
    g_cmdSystem->addCommand("listKeys", cmdListKeys, kCmdFlagEngine, "print key binds to console");
    g_cmdSystem->addCommand("clearkeys", cmdClearKeys, kCmdFlagEngine, "remove all key binds");
    g_cmdSystem->addCommand("unsetkey", cmdUnsetKey, kCmdFlagEngine, "remove single key bind");
    g_cmdSystem->addCommand("in_restart", cmdInRestart, kCmdFlagEngine, "reset input");
  }
  generator_.registerCommands();
}

// --- Key names ---

int KeyBinds::keyFromName(const char* name) {
  if (!name || !*name)
    return -1;
  if (!name[1])
    return (unsigned char)String::toLowerChar(name[0]);
  if (name[0] == '0' && name[1] == 'x' && name[2] && name[3] && !name[4]) {
    int value = 0;
    bool ok = true;
    for (int i = 2; i < 4; ++i) {
      char c = name[i];
      if (c >= '0' && c <= '9')
        value = value * 16 + (c - '0');
      else if (c >= 'a' && c <= 'f')
        value = value * 16 + (c - 'a' + 10);
      else
        ok = false;
    }
    if (ok)
      return value;
  }
  for (const KeyNameEntry& entry : kKeyNames) {
    if (String::icmp(name, entry.name) == 0)
      return entry.code;
  }
  return -1;
}

const char* KeyBinds::keyName(int key) {
  static char buffer[32];
  if (key < 0 || key > 255) {
    std::snprintf(buffer, sizeof(buffer), "<KEY OUT OF RANGE>");
    return buffer;
  }
  if (key <= 32 || key > 126 || key == '"' || key == ';') {
    for (const KeyNameEntry& entry : kKeyNames) {
      if (entry.code == key) {
        std::snprintf(buffer, sizeof(buffer), "%s", entry.name);
        return buffer;
      }
    }
    std::snprintf(buffer, sizeof(buffer), "0x%02x", key);
    return buffer;
  }
  buffer[0] = (char)key;
  buffer[1] = '\0';
  return buffer;
}

// --- Bindings ---

void KeyBinds::setBinding(int key, const char* text) {
  if (key < 0 || key >= kKeyCount || !text)
    return;
  while (*text && std::isspace((unsigned char)*text))
    ++text;
  if (*text) {
    // A command keeps at most the keys bound last: two holders give way to the new one.
    int holders = 0;
    for (const Key& k : keys_) {
      if (!k.binding.isEmpty() && k.binding.icmp(text) == 0)
        ++holders;
    }
    if (holders >= 2) {
      for (Key& k : keys_) {
        if (!k.binding.isEmpty() && k.binding.icmp(text) == 0)
          k.binding = "";
      }
    }
  }
  keys_[key].binding = text;
}

int KeyBinds::keysForCommand(const char* command, char* out) {
  if (out)
    out[0] = '\0';
  if (!command || !out)
    return 0;
  int first = -1;
  for (int key = 0; key < kKeyCount; ++key) {
    if (keys_[key].binding.isEmpty() || keys_[key].binding.icmp(command) != 0)
      continue;
    String name = keyName(key);
    name.toLower();
    if (first < 0) {
      first = key;
      std::snprintf(out, 256, "%s", name.c_str());
      continue;
    }
    String firstName = keyName(first);
    firstName.toLower();
    std::snprintf(out, 256, "%s or %s", firstName.c_str(), name.c_str());
    return key;
  }
  return 0;
}

void KeyBinds::clearBindings() {
  for (Key& key : keys_)
    key.binding = "";
}

void KeyBinds::setDefaults() {
  clearBindings();
  for (const DefaultBinding& binding : kDefaultBindings)
    setBinding(binding.key, binding.command);
}

void KeyBinds::writeSetKeys(IOFileHandle file) {
  if (!g_ioSystem)
    return;
  for (int key = 0; key < kKeyCount; ++key) {
    if (!keys_[key].binding.isEmpty())
      g_ioSystem->printf(file, "setkey %-22s \"%s\"\n", keyName(key), keys_[key].binding.c_str());
  }
}

void KeyBinds::writeBindings(IOFileHandle file) {
  if (!g_ioSystem)
    return;
  bool any = false;
  for (const Key& key : keys_)
    any = any || !key.binding.isEmpty();
  if (!any)
    return;
  g_ioSystem->printf(file, "clearkeys\n");
  writeSetKeys(file);
}

// --- Events ---

bool KeyBinds::isDown(int key) {
  return key >= 0 && key < kKeyCount && (keys_[key].state & kStateDown) != 0;
}

void KeyBinds::keyEvent(int key, bool down) {
  if (key < 0 || key >= kKeyCount)
    return;
  uint32_t& state = keys_[key].state;
  uint32_t previousCount = state & kStateCountMask;
  uint32_t previousHandled = state & kStateHandled;
  if (down) {
    uint32_t handled = state & kStateHandled;
    if (previousCount == 0) {
      handled = 0;
      ++keysDown_;
    }
    uint32_t count = previousCount < kStateCountMask ? previousCount + 1 : previousCount;
    state = kStateDown | handled | count;
  } else {
    bool wasDown = (state & kStateDown) != 0;
    state = wasDown ? 0 : kStateHandled;
    if (wasDown && keysDown_ > 0)
      --keysDown_;
  }

  if (isConsoleKey(key) && (consoleOwns() || (isDown(kKeyCtrl) && isDown(kKeyAlt) && isDown(kKeyShift)))) {
    if (down && g_consoleSystem)
      g_consoleSystem->setSliding(true);
    return;
  }

  if (key == kKeyEscape && down) {
    if (consoleOwns()) {
      if (g_consoleSystem)
        g_consoleSystem->keyEvent(key);
      return;
    }
    if (gameOwns()) {
      openMainMenu(false);
      return;
    }
  }

  if (!down) {
    if (previousCount == 1) {
      // Pressed and released between two frames: the binding still sees both edges, unless the
      // press was consumed (by the interface).
      state = kStateDown | previousHandled | 1;
      executeBinding(key);
      state = previousHandled;
      executeBinding(key);
    }
    if (gameOwns() && g_gameInterface)
      g_gameInterface->keyEvent(key, false);
    // The interface acts on mouse-button releases (and ignores other ones).
    if (guiOwns())
      sendToGui(1, key, 0);
    return;
  }

  if (consoleOwns()) {
    if (g_consoleSystem)
      g_consoleSystem->keyEvent(key);
  } else if (guiOwns()) {
    sendToGui(1, key, 1);
    state |= kStateHandled;
  } else if (gameOwns()) {
    if (g_gameInterface)
      g_gameInterface->keyEvent(key, true);
  }
}

void KeyBinds::charEvent(int character) {
  if (isConsoleKey(character))
    return;
  if (consoleOwns()) {
    if (g_consoleSystem)
      g_consoleSystem->charEvent(character);
  } else if (guiOwns()) {
    // A non-zero second value is what makes the interface take the character.
    sendToGui(2, character, 1);
  }
}

void KeyBinds::mouseEvent(int dx, int dy, int time) {
  float scale = m_uisensitivity.getFloat();
  int sx = ConVar::floatToInt((float)dx * scale);
  int sy = ConVar::floatToInt((float)dy * scale);
  if (sx == 0)
    sx = dx > 0 ? 1 : (dx < 0 ? -1 : 0);
  if (sy == 0)
    sy = dy > 0 ? 1 : (dy < 0 ? -1 : 0);

  cursorX_ += (float)sx * 640.0f / (float)viewSize("r_viewwidth", 800);
  cursorY_ += (float)sy * 480.0f / (float)viewSize("r_viewheight", 600);
  cursorX_ = cursorX_ < 0.0f ? 0.0f : (cursorX_ > 632.0f ? 632.0f : cursorX_);
  cursorY_ = cursorY_ < 0.0f ? 0.0f : (cursorY_ > 472.0f ? 472.0f : cursorY_);

  if (gameOwns())
    generator_.addMouseDelta(sx, sy);
  if (consoleOwns())
    return;
  if (guiOwns())
    sendToGui(3, sx, sy);
  else if (gameOwns() && g_gameInterface)
    g_gameInterface->mouseEvent(sx, sy, time);
}

void KeyBinds::endFrame() {
  if (consoleOwns() || guiOwns())
    return;
  for (int key = 0; key < kKeyCount; ++key) {
    if (keys_[key].state & kStateHandled)
      continue;
    executeBinding(key);
    uint32_t& state = keys_[key].state;
    if ((state & kStateDown) && (state & kStateCountMask) < kStateCountMask)
      ++state;
  }
}

// The binding split at ";": "_" parts (every part of an "@" binding) are press/release commands,
// sent as "+part" on the first press and "-part" on release; other parts run on the press.
void KeyBinds::executeBinding(int key) {
  if (key < 0 || key >= kKeyCount || consoleOwns())
    return;
  uint32_t& state = keys_[key].state;
  if (state & kStateHandled)
    return;
  state |= kStateHandled;
  const String& binding = keys_[key].binding;
  if (binding.isEmpty()) {
    if (key >= 200)
      cmdPrintf("%s is unbound, use controls menu to set.\n", keyName(key));
    return;
  }
  if (!g_cmdSystem)
    return;
  bool down = (state & kStateDown) != 0;
  bool firstPress = down && (state & kStateCountMask) == 1;
  bool everyPartPressRelease = binding[0] == '@';
  int position = 0;
  String part;
  while (position <= binding.length()) {
    int end = binding.find(';', position);
    if (end < 0)
      end = binding.length();
    part = binding.mid(position, end - position);
    position = end + 1;
    part.trim();
    if (part.isEmpty())
      continue;
    const char* command = part.c_str();
    if (*command == '@')
      ++command;
    if (!*command)
      continue;
    if (everyPartPressRelease || *command == '_') {
      if (firstPress)
        g_cmdSystem->appendText(String::concatCStr("+", command).c_str());
      else if (!down)
        g_cmdSystem->appendText(String::concatCStr("-", command).c_str());
    } else if (down) {
      g_cmdSystem->appendText(command);
    }
  }
}

void KeyBinds::releaseAllKeys() {
  for (int key = 0; key < kKeyCount; ++key) {
    if (keys_[key].state & kStateDown)
      queueSystemEvent(kSystemEventKey, key, 0, 0, nullptr);
    keys_[key].state = kStateHandled;
  }
  keysDown_ = 0;
  generator_.clear();
  generator_.clearMouse();
}

// --- Devices and the user command ---

void KeyBinds::initInput() {
  InputManager* input = InputManager::getInstance(true);
  void* window = g_commonSystem ? g_commonSystem->windowHandle() : nullptr;
  void* instance = g_commonSystem ? g_commonSystem->instanceHandle() : nullptr;
  if (!input->init(window, instance, s_deviceFlags))
    cmdPrintf("WARNING: the input devices could not be started\n");
  releaseAllKeys();
  generator_.resetView();
  mode_ = 4;
}

void KeyBinds::restartInput() {
  InputManager* input = InputManager::getInstance(true);
  input->shutdown();
  void* window = g_commonSystem ? g_commonSystem->windowHandle() : nullptr;
  void* instance = g_commonSystem ? g_commonSystem->instanceHandle() : nullptr;
  if (!input->init(window, instance, s_deviceFlags))
    cmdPrintf("WARNING: the input devices could not be started\n");
  releaseAllKeys();
}

void KeyBinds::shutdownInput() {
  // The manager's shutdown frees the grab and shows the cursor again.
  destroyInputManager();
}

void KeyBinds::pollInput() {
  if (g_inputInterface)
    g_inputInterface->poll(queueSystemEvent, mode_);
}

void KeyBinds::setInputActive(bool active) {
  if (g_inputInterface)
    g_inputInterface->setActive(active);
}

void KeyBinds::getUserCmd(UserCmd* out, int time, int frame) {
  generator_.getUserCmd(out, time, frame, cursorX_, cursorY_);
}

KeyBinds* getKeyBinds(bool create) {
  if (!s_keyBinds && create) {
    s_keyBinds = new KeyBinds();
    g_keyBindSystem = s_keyBinds;
    g_keyBindingWriter = s_keyBinds;
    s_keyBinds->initInput();
    s_keyBinds->setDefaults();
  }
  return s_keyBinds;
}

void destroyKeyBinds() {
  delete s_keyBinds;
  s_keyBinds = nullptr;
}
