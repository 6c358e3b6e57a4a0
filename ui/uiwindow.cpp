// Windows: tree and paths, variables and transitions, drawing in 640 x 480, mouse hit tests, keys,
// events and time-driven handlers, and the window body of the ".gui" format.
//
// Sections: variable helpers; tree and paths; variables; transitions; drawing; mouse and keys;
// events and time; ".gui" reading; kinds.
#include "ui/uiwindow.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

#include "lib/interface/cmdsystem.h"
#include "lib/interface/commonsystem.h"
#include "lib/interface/declsystem.h"
#include "lib/interface/gameinterface.h"
#include "lib/interface/keybindsystem.h"
#include "lib/interface/renderinterface.h"
#include "lib/interface/rendersystem.h"
#include "lib/timer.h"
#include "lib/tokenparser.h"
#include "render/material/material.h"
#include "ui/uikinds.h"
#include "ui/uiprogram.h"
#include "ui/uirenderdef.h"
#include "ui/userinterfacelocal.h"
#include "ui/userinterfacemanager.h"

// The engine core's main-menu opener; absent (null) in a program without the engine core.
void openMainMenu(bool force) __attribute__((weak));

int g_uiNextWindowId = 1;
bool g_uiEditMode = false;

const UIVarDef g_uiBuiltinVars[] = {
    {kUIVarBool, "visible", "1", 0x1},         {kUIVarVec4, "rect", "0 0 0 0", 0x2},
    {kUIVarVec4, "matcolor", "1 1 1 1", 0x1},  {kUIVarVec4, "forecolor", "1 1 1 1", 0x1},
    {kUIVarBool, "noEvents", "0", 0x1},        {kUIVarBool, "noTime", "0", 0x1},
    {kUIVarBool, "menugui", "0", 0x1},         {kUIVarBool, "noclip", "0", 0x1},
    {kUIVarBool, "nocursor", "0", 0x1},        {kUIVarBool, "active", "0", 0x7},
    {kUIVarText, "background", "", 0x101},     {kUIVarVec4, "backcolor", "0 0 0 0", 0x1},
    {kUIVarText, "text", "", 0x1},             {kUIVarText, "font", "", 0x201},
    {kUIVarFloat, "textscale", "1", 0x1},      {kUIVarInt, "textalign", "0", 0x1},
    {kUIVarInt, "textalignx", "0", 0x1},       {kUIVarInt, "textaligny", "0", 0x1},
    {kUIVarInt, "nowrap", "0", 0x1},           {kUIVarFloat, "matscalex", "1", 0x1},
    {kUIVarFloat, "matscaley", "1", 0x1},      {kUIVarBool, "showLayer", "1", 0xb},
    {kUIVarBool, "collapsed", "0", 0xb},       {kUIVarBool, "update", "0", 0xb},
    {kUIVarNone, nullptr, nullptr, 0},
};

namespace {

// Messages of the format reader: visible on the console and kept by the common print.
void parsePrint(const char* format, ...) __attribute__((format(printf, 1, 2)));
void parsePrint(const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof(text), format, args);
  va_end(args);
  if (g_commonSystem)
    g_commonSystem->printf("%s", text);
  cmdPrintf("%s", text);
}

// The common print, where the engine core has one.
void commonPrint(const char* format, ...) __attribute__((format(printf, 1, 2)));
void commonPrint(const char* format, ...) {
  if (!g_commonSystem)
    return;
  char text[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof(text), format, args);
  va_end(args);
  g_commonSystem->printf("%s", text);
}

// String::icmp's order by a table instead of range tests per character: the variable tables are
// searched on every variable access, which the fuzzer's coverage hooks make dear.
struct LowerTable {
  unsigned char map[256];
  constexpr LowerTable() : map() {
    for (int i = 0; i < 256; ++i)
      map[i] = static_cast<unsigned char>(i >= 'A' && i <= 'Z' ? i + ('a' - 'A') : i);
  }
};
constexpr LowerTable kLower;

int compareNames(const char* a, const char* b) {
  for (;; ++a, ++b) {
    const signed char ca = static_cast<signed char>(kLower.map[static_cast<unsigned char>(*a)]);
    const signed char cb = static_cast<signed char>(kLower.map[static_cast<unsigned char>(*b)]);
    if (ca != cb)
      return ca < cb ? -1 : 1;
    if (ca == 0)
      return 0;
  }
}

const UIVarDef* builtinRow(const char* name) {
  for (const UIVarDef* row = g_uiBuiltinVars; row->type != kUIVarNone; ++row)
    if (String::icmp(row->name, name) == 0)
      return row;
  return nullptr;
}

// The built-in variables sorted by name and parsed, made once: every window starts as a copy.
const std::vector<UIVar>& builtinVars() {
  static const std::vector<UIVar> vars = [] {
    std::vector<UIVar> out;
    for (const UIVarDef* row = g_uiBuiltinVars; row->type != kUIVarNone; ++row) {
      UIVar var;
      var.name = row->name;
      var.value.type = row->type;
      var.value.flags = row->flags;
      if (row->type == kUIVarText) {
        // Empty defaults: nothing to unescape, and no material or font to look up.
        var.text = uiUnescapeText(row->defaultText);
      } else {
        var.text = row->defaultText;
        float values[4];
        uiParseVec(var.text.c_str(), values);
        var.value.x = values[0];
        var.value.y = values[1];
        var.value.z = values[2];
        var.value.w = values[3];
      }
      out.push_back(std::move(var));
    }
    std::sort(out.begin(), out.end(),
              [](const UIVar& a, const UIVar& b) { return compareNames(a.name.c_str(), b.name.c_str()) < 0; });
    return out;
  }();
  return vars;
}

// The built-in variable of that name, or null.
const UIVar* builtinVar(const char* name) {
  const std::vector<UIVar>& vars = builtinVars();
  size_t lo = 0, hi = vars.size();
  while (lo < hi) {
    const size_t mid = (lo + hi) / 2;
    const int c = compareNames(vars[mid].name.c_str(), name);
    if (c == 0)
      return &vars[mid];
    if (c < 0)
      lo = mid + 1;
    else
      hi = mid;
  }
  return nullptr;
}

RateFuncList* rateFuncs() {
  return g_userInterfaceManager ? &g_userInterfaceManager->getRateFuncs() : nullptr;
}

int nowTime() {
  return g_userInterfaceManager ? g_userInterfaceManager->currentTime() : 0;
}

// Splits a path at ":" and "." (its first blank-separated word, at most `limit` characters).
std::vector<std::string> splitPath(const char* path, size_t limit) {
  std::vector<std::string> parts;
  if (!path)
    return parts;
  while (*path == ' ' || *path == '\t' || *path == '\r' || *path == '\n')
    ++path;
  std::string word;
  for (const char* p = path; *p && word.size() < limit; ++p) {
    if (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n')
      break;
    word += *p;
  }
  std::string part;
  for (char c : word) {
    if (c == ':' || c == '.') {
      parts.push_back(part);
      part.clear();
    } else {
      part += c;
    }
  }
  parts.push_back(part);
  return parts;
}

float atofSafe(const char* text) {
  return float(std::strtod(text ? text : "", nullptr));
}

// The transition's own state, kept in its rate function's payload.
struct TransitionState {
  UIWindow* window;
  int components;
  int duration;
  int lastStep;
  float from[4];
  float to[4];
  float current[4];
  int id;  // its own rate function: the variable is the one that carries this id, whatever its name
};
static_assert(sizeof(TransitionState) <= RateFunc::kPayloadSize, "transition payload too large");

bool transitionStep(void* payload, int elapsed, int /*delta*/) {
  TransitionState* t = static_cast<TransitionState*>(payload);
  if (elapsed != t->lastStep) {
    t->lastStep = elapsed;
    for (int i = 0; i < 4; ++i) {
      if (elapsed <= 0)
        t->current[i] = t->from[i];
      else if (elapsed >= t->duration)
        t->current[i] = t->to[i];
      else
        t->current[i] = t->from[i] + (t->to[i] - t->from[i]) * float(elapsed) / float(t->duration);
    }
  }
  const int index = t->window->findTransitionVar(t->id);
  if (index < 0)
    return false;  // the variable went away: nothing left to animate
  // Setting the text re-parses it; the variable keeps its transition id.
  t->window->setVarByIndex(index, uiFormatValue(t->current, t->components).c_str());
  return true;
}

}  // namespace

// --- Variable helpers ---

void UIVarValue::clear() {
  if (rateFunc && rateFuncs())
    rateFuncs()->remove(rateFunc);
  *this = UIVarValue();
}

int uiClassifyText(const char* text) {
  bool dot = false;
  for (const char* p = text ? text : ""; *p; ++p) {
    const char c = *p;
    if (c == '.')
      dot = true;
    else if (!(c == ' ' || c == '\t' || c == '-' || (c >= '0' && c <= '9')))
      return kUIVarText;
  }
  return dot ? kUIVarFloat : kUIVarInt;
}

int uiParseVec(const char* text, float out[4]) {
  out[0] = out[1] = out[2] = out[3] = 0.0f;
  char buffer[128];
  std::snprintf(buffer, sizeof(buffer), "%s", text ? text : "");
  const bool isText = uiClassifyText(buffer) == kUIVarText;
  const char* separators = isText ? ",\n\t" : " ,\n\t";
  int count = 0;
  char* p = buffer;
  while (*p && count < 4) {
    while (*p && std::strchr(separators, *p))
      ++p;
    if (!*p)
      break;
    char* start = p;
    while (*p && !std::strchr(separators, *p))
      ++p;
    const char saved = *p;
    *p = '\0';
    out[count++] = atofSafe(start);
    *p = saved;
  }
  return count;
}

std::string uiFormatValue(const float value[4], int count) {
  if (count < 1 || count > 4)
    return "";
  std::string out;
  char number[64];
  for (int i = 0; i < count; ++i) {
    std::snprintf(number, sizeof(number), i ? " %.3f" : "%.3f", double(value[i]));
    out += number;
  }
  return out;
}

std::string uiEscapeText(const char* text) {
  std::string out;
  for (const char* p = text ? text : ""; *p; ++p) {
    if (p[0] == '\r' && p[1] == '\n') {
      out += "\\n";
      ++p;
    } else if (*p == '\n') {
      out += "\\n";  // a lone line feed would end the line the value stands on
    } else {
      out += *p;
    }
  }
  return out;
}

// --- The variables' dictionary ---

void UIVarDict::clear() {
  window_->clearVars();
}

void UIVarDict::setValueAt(int index, const char* value) {
  const char* key = keyAt(index);
  if (key[0]) {
    const std::string name = key;
    window_->setOwnVarText(name.c_str(), value);
  }
}

void UIVarDict::set(const char* key, const char* value) {
  if (key && key[0])
    window_->setOwnVarText(key, value);
}

void UIVarDict::removeAt(int index) {
  const char* key = keyAt(index);
  if (key[0]) {
    const std::string name = key;
    window_->deleteVar(name.c_str());
  }
}

void UIVarDict::remove(const char* key) {
  if (key && key[0])
    window_->deleteVar(key);
}

void UIVarDict::drop(const char* key) {
  const int index = findKeyIndex(key);
  if (index >= 0)
    KeyDict::removeAt(index);
}

std::string uiUnescapeText(const char* text) {
  std::string in = text ? text : "";
  if (!in.empty() && in.front() == '"')
    in.erase(0, 1);
  if (!in.empty() && in.back() == '"')
    in.pop_back();
  std::string out;
  out.reserve(in.size());
  for (size_t i = 0; i < in.size(); ++i) {
    if (in[i] == '\\' && i + 1 < in.size() && in[i + 1] == 'n') {
      out += "\r\n";
      ++i;
    } else {
      out += in[i];
    }
  }
  return out;
}

// --- Tree and paths ---

UIWindow::UIWindow(UserInterfaceLocal* gui) : gui_(gui) {
  name_ = "untitled";
  setBuiltinVars();
}

void UIWindow::setBuiltinVars() {
  setDefaultVars(builtinVars(), g_uiBuiltinVars);
}

void UIWindow::setDefaultVars(const std::vector<UIVar>& vars, const void* kind) {
  clearVars();
  vars_ = vars;
  // The manager keeps each default set as a dictionary too, so a new window takes references to
  // pooled texts instead of pooling each of them again.
  KeyDict* shared = g_userInterfaceManager ? &g_userInterfaceManager->defaultVarDict(kind) : nullptr;
  if (shared && shared->count() == 0)
    for (const UIVar& var : vars_)
      shared->set(var.name.c_str(), var.text.c_str());
  if (shared && shared->count() == int(vars_.size())) {
    dict_.copy(*shared);
    return;
  }
  for (const UIVar& var : vars_)
    dict_.store(var.name.c_str(), var.text.c_str());
}

UIWindow::UIWindow(UserInterfaceLocal* gui, UIBareWindow) : gui_(gui) {
  name_ = "untitled";
}

UIWindow::~UIWindow() {
  delete shell_;
  shell_ = nullptr;
  for (UIWindow* child : children_)
    if (child->parent_ == this)
      child->parent_ = nullptr;
  children_.clear();
  if (parent_) {
    std::vector<UIWindow*>& siblings = parent_->children_;
    for (size_t i = 0; i < siblings.size(); ++i) {
      if (siblings[i] == this) {
        siblings.erase(siblings.begin() + long(i));
        break;
      }
    }
  }
  clearVars();
}

void UIWindow::setName(const char* name) {
  name_ = (name && name[0]) ? name : "untitled";
}

UIWindow* UIWindow::childAt(int index) const {
  return index >= 0 && index < int(children_.size()) ? children_[size_t(index)] : nullptr;
}

void UIWindow::addChild(UIWindow* child) {
  if (!child || child == this)
    return;
  if (child->parent_) {
    std::vector<UIWindow*>& old = child->parent_->children_;
    for (size_t i = 0; i < old.size(); ++i) {
      if (old[i] == child) {
        old.erase(old.begin() + long(i));
        break;
      }
    }
  }
  children_.push_back(child);
  child->setParent(this);
}

void UIWindow::setParent(UIWindow* parent) {
  parent_ = parent;
  if (shell_ && parent) {
    std::string text = "parent = " + parent->getPath('.');
    shell_->run(text.c_str(), "parent");
  }
}

std::string UIWindow::getPath(char separator) const {
  const UIWindow* chain[128];
  int count = 0;
  for (const UIWindow* w = this; w && count < 128; w = w->parent_)
    chain[count++] = w;
  std::string out;
  for (int i = count - 1; i >= 0; --i) {
    if (!out.empty())
      out += separator;
    out += chain[i]->getName();
  }
  if (out.size() > 1023)
    out.resize(1023);
  return out;
}

UIWindow* UIWindow::findChild(const char* name) {
  if (!name)
    return nullptr;
  for (UIWindow* child : children_)
    if (compareNames(child->getName(), name) == 0)
      return child;
  if (parent_) {
    for (UIWindow* sibling : parent_->children_)
      if (compareNames(sibling->getName(), name) == 0)
        return sibling;
  } else if (compareNames(getName(), name) == 0) {
    return this;
  }
  for (UIWindow* w = this; w; w = w->parent_)
    if (compareNames(w->getName(), name) == 0)
      return w;
  return nullptr;
}

UIWindow* UIWindow::resolvePath(const char* path, std::string* varName) {
  if (varName)
    varName->clear();
  if (!path)
    return nullptr;
  // Most paths are one plain name: no split, no copies.
  const size_t plain = std::strcspn(path, ":. \t\r\n");
  if (!path[plain] && plain <= 512)
    return resolveLast(this, path, varName);
  std::vector<std::string> parts = splitPath(path, 512);
  if (parts.empty())
    return nullptr;
  UIWindow* current = this;
  size_t first = 0;
  if (String::icmp(parts[0].c_str(), "gui") == 0 && parts.size() > 1) {
    current = g_userInterfaceManager ? g_userInterfaceManager->getRootWindow() : nullptr;
    first = 1;
    if (!current)
      return nullptr;
  }
  for (size_t i = first; i + 1 < parts.size(); ++i) {
    current = current->findChild(parts[i].c_str());
    if (!current)
      return nullptr;
  }
  return resolveLast(current, parts.back().c_str(), varName);
}

UIWindow* UIWindow::resolveLast(UIWindow* current, const char* last, std::string* varName) {
  if (current->findVarIndex(last) < 0) {
    UIWindow* window = current->findChild(last);
    if (window)
      return window;
  }
  if (varName)
    *varName = last;
  return current;
}

UIWindow* UIWindow::findByPath(const char* path) {
  std::vector<std::string> parts = splitPath(path, 255);
  if (parts.empty())
    return nullptr;
  UIWindow* current = this;
  size_t first = 0;
  if (String::icmp(parts[0].c_str(), "gui") == 0) {
    current = g_userInterfaceManager ? g_userInterfaceManager->getRootWindow() : nullptr;
    first = 1;
  }
  for (size_t i = first; i < parts.size() && current; ++i)
    current = current->findChild(parts[i].c_str());
  return current;
}

UIWindow* UIWindow::findById(int id) {
  if (id_ == id)
    return this;
  for (UIWindow* child : children_)
    if (UIWindow* found = child->findById(id))
      return found;
  return nullptr;
}

namespace {

struct TableLookup {
  UIWindow* window;
  int slot;
  bool found;
  bool missing;
  bool quiet;
};

// Walks from the root window's global down through each ancestor's table. Tables are read raw
// below the root, where the shells stored them; anything but a table on the way is refused.
int lookupTableCall(lua_State* L) {
  TableLookup* q = static_cast<TableLookup*>(lua_touserdata(L, 1));
  UIWindow* chain[kUIMaxWindowDepth + 1];
  int count = 0;
  for (UIWindow* w = q->window; w && count <= kUIMaxWindowDepth; w = w->getParent())
    chain[count++] = w;
  // Plain buffers only: a Lua error unwinds this frame without running destructors.
  char path[512];
  std::snprintf(path, sizeof(path), "%s", chain[count - 1]->getName());
  lua_getfield(L, LUA_GLOBALSINDEX, chain[count - 1]->getName());
  for (int i = count - 2; i >= 0 && lua_istable(L, -1); --i) {
    lua_pushstring(L, chain[i]->getName());
    lua_rawget(L, -2);
    lua_remove(L, -2);
    const size_t used = std::strlen(path);
    std::snprintf(path + used, sizeof(path) - used, ".%s", chain[i]->getName());
  }
  if (lua_isnil(L, -1)) {
    q->missing = true;
    return 0;
  }
  if (!lua_istable(L, -1)) {
    if (!q->quiet && g_cmdSystem)
      g_cmdSystem->error(0, "WARNING: '%s' is a %s, not the table of window '%s'; its script does not run\n",
                         path, luaL_typename(L, -1), q->window->getName());
    return 0;
  }
  lua_rawseti(L, LUA_REGISTRYINDEX, q->slot);
  q->found = true;
  return 0;
}

}  // namespace

bool UIWindow::pushTable(bool quiet) {
  lua_State* L = shell_ ? shell_->getState() : nullptr;
  if (!L)
    return false;
  TableLookup lookup{this, shell_->getProgram()->resultSlot(), false, false, quiet};
  UIProgram::protect(L, lookupTableCall, &lookup);
  if (lookup.missing) {
    // The scripts offer a dump of the globals for this case; its errors are of no interest.
    UIProgram::runQuiet(L, "util.pt(_G)");
    return false;
  }
  if (!lookup.found)
    return false;
  // The slot is a registry array entry: reading and clearing it allocates nothing.
  lua_rawgeti(L, LUA_REGISTRYINDEX, lookup.slot);
  lua_pushboolean(L, 0);
  lua_rawseti(L, LUA_REGISTRYINDEX, lookup.slot);
  return true;
}

void UIWindow::destroyTree(UIWindow* window) {
  if (!window)
    return;
  while (!window->children_.empty())
    destroyTree(window->children_.front());
  delete window;
}

UIWindow* UIWindow::clone(UIWindow* window, bool newId) {
  if (!window)
    return nullptr;
  UIWindow* copy = UIWindowFactory::create(window, window->getKind());
  if (!copy) {
    copy = new UIWindow(window->gui_, UIBareWindow());
    copy->copyFrom(*window);
    copy->id_ = window->id_;
  }
  if (newId)
    copy->id_ = g_uiNextWindowId++;
  for (UIWindow* child : window->children_) {
    UIWindow* childCopy = clone(child, false);
    childCopy->parent_ = copy;
    copy->children_.push_back(childCopy);
  }
  return copy;
}

bool UIWindow::createShell(UIProgram* program) {
  if (shell_ || !program || g_uiEditMode)
    return shell_ != nullptr;
  UIShell* shell = program->createShell(getKind());
  if (!shell)
    return false;
  // The table lookups of the attach go through the window's shell.
  shell_ = shell;
  if (!program->attachShell(this, shell)) {
    shell_ = nullptr;  // attachShell deleted it
    return false;
  }
  return true;
}

void UIWindow::copyFrom(UIWindow& other) {
  name_ = other.name_;
  depth_ = other.depth_;
  editHandle_ = other.editHandle_;
  id_ = other.id_;
  timeStart_ = other.timeStart_;
  lastFired_ = other.lastFired_;
  gui_ = other.gui_;
  handlers_ = other.handlers_;
  script_ = other.script_;
  clearVars();
  vars_ = other.vars_;
  // Into the empty dictionary the copy shares the other's pooled texts, without a lookup each.
  dict_.copy(other.dict_);
  // The running transitions go over to the copy: the template gives them up, so only one window
  // animates each of them.
  RateFuncList* list = rateFuncs();
  for (size_t i = 0; i < vars_.size(); ++i) {
    const int id = vars_[i].value.rateFunc;
    RateFunc* node = id && list ? list->find(id) : nullptr;
    if (!node || node->callback != transitionStep) {
      vars_[i].value.rateFunc = 0;
      continue;
    }
    TransitionState state;
    std::memcpy(&state, node->payload, sizeof(state));
    state.window = this;
    std::memcpy(node->payload, &state, sizeof(state));
    other.vars_[i].value.rateFunc = 0;
  }
}

// --- Variables ---

bool UIWindow::findVarSlot(const char* name, int* index) const {
  int lo = 0, hi = int(vars_.size());
  while (lo < hi) {
    const int mid = (lo + hi) / 2;
    const int c = compareNames(vars_[size_t(mid)].name.c_str(), name);
    if (c == 0) {
      *index = mid;
      return true;
    }
    if (c < 0)
      lo = mid + 1;
    else
      hi = mid;
  }
  *index = lo;
  return false;
}

int UIWindow::findVarIndex(const char* name) const {
  int index = -1;
  return name && findVarSlot(name, &index) ? index : -1;
}

const UIVar* UIWindow::getVar(int index) const {
  return index >= 0 && index < int(vars_.size()) ? &vars_[size_t(index)] : nullptr;
}

UIVar* UIWindow::getVar(int index) {
  return index >= 0 && index < int(vars_.size()) ? &vars_[size_t(index)] : nullptr;
}

void UIWindow::setVarText(const char* path, const char* text) {
  std::string varName;
  UIWindow* window = resolvePath(path, &varName);
  if (!window || varName.empty())
    return;
  window->setOwnVarText(varName.c_str(), text);
}

void UIWindow::setOwnVarText(const char* name, const char* text) {
  int index = 0;
  if (findVarSlot(name, &index)) {
    vars_[size_t(index)].text = text ? text : "";
  } else {
    UIVar var;
    var.name = name;
    var.text = text ? text : "";
    if (const UIVar* builtin = builtinVar(name)) {
      var.value.type = builtin->value.type;
      var.value.flags = builtin->value.flags;
    } else {
      var.value.type = uiClassifyText(var.text.c_str());
    }
    vars_.insert(vars_.begin() + index, std::move(var));
  }
  applyVarText(index);
}

void UIWindow::applyVarText(int index) {
  UIVar* var = getVar(index);
  if (!var)
    return;
  UIVarValue& v = var->value;
  if (v.type != kUIVarText) {
    float values[4];
    uiParseVec(var->text.c_str(), values);
    v.x = values[0];
    v.y = values[1];
    v.z = values[2];
    v.w = values[3];
  } else {
    var->text = uiUnescapeText(var->text.c_str());
    if ((v.flags & kUIVarMaterial) && !var->text.empty()) {
      Material* material = findMaterial(var->text.c_str(), true);
      v.x = material ? float(material->getIndex()) : 0.0f;
    } else if ((v.flags & kUIVarFont) && !var->text.empty()) {
      v.x = g_renderSystem ? float(g_renderSystem->registerFont(var->text.c_str())) : 0.0f;
    }
  }
  // Every change of a text passes here: the dictionary follows it.
  dict_.store(var->name.c_str(), var->text.c_str());
}

void UIWindow::setVar(const char* path, const char* text) {
  if (path && String::icmp(path, "cmd") == 0) {
    if (g_gameInterface && gui_)
      gui_->getProgram()->queueCommand(text, gui_);
    return;
  }
  std::string varName;
  UIWindow* window = resolvePath(path, &varName);
  if (window && !varName.empty()) {
    setVarText(path, text);
    return;
  }
  if (parent_) {
    parent_->setVar(path, text);
    return;
  }
  parsePrint("WARNING: failed to resolve variable(%s) in window(%s)\n", path ? path : "", getName());
}

void UIWindow::setVarInt(const char* path, int value) {
  char text[32];
  std::snprintf(text, sizeof(text), "%d", value);
  setVarText(path, text);
}

void UIWindow::setVarFloat(const char* path, float value) {
  char text[64];
  std::snprintf(text, sizeof(text), "%f", double(value));
  setVarText(path, text);
}

void UIWindow::setVarByIndex(int index, const char* text) {
  UIVar* var = getVar(index);
  if (!var)
    return;
  var->text = text ? text : "";
  applyVarText(index);
}

void UIWindow::declareVar(int type, const char* name, const char* text, int flags) {
  setVarText(name, text);
  setVarType(name, type, flags);
}

void UIWindow::setVarType(const char* name, int type, int flags) {
  UIVar* var = getVar(findVarIndex(name));
  if (!var)
    return;
  const bool reparse = var->value.type != type || var->value.flags != flags;
  var->value.type = type;
  var->value.flags = flags;
  if (reparse)
    applyVarText(findVarIndex(name));
}

void UIWindow::deleteVar(const char* name) {
  const int index = findVarIndex(name);
  if (index < 0)
    return;
  vars_[size_t(index)].value.clear();
  dict_.drop(vars_[size_t(index)].name.c_str());
  vars_.erase(vars_.begin() + index);
}

void UIWindow::clearVars() {
  for (UIVar& var : vars_)
    var.value.clear();
  vars_.clear();
  dict_.dropAll();
}

bool UIWindow::getVarText(const char* path, UIVarValue* value, std::string* text) {
  std::string varName;
  UIWindow* window = resolvePath(path, &varName);
  const UIVar* var = window && !varName.empty() ? window->getVar(window->findVarIndex(varName.c_str())) : nullptr;
  if (!var) {
    if (value)
      *value = UIVarValue();
    if (text)
      text->clear();
    return false;
  }
  if (value)
    *value = var->value;
  if (text)
    *text = var->text;
  return true;
}

bool UIWindow::getBoolVar(const char* path, bool defaultValue) {
  std::string text;
  if (!getVarText(path, nullptr, &text))
    return defaultValue;
  return std::atoi(text.c_str()) != 0;
}

const char* UIWindow::getStringVar(const char* name, const char* defaultText) const {
  const UIVar* var = getVar(findVarIndex(name));
  return var ? var->text.c_str() : defaultText;
}

float UIWindow::getFloatVar(const char* name, float defaultValue) const {
  const UIVar* var = getVar(findVarIndex(name));
  return var ? var->value.x : defaultValue;
}

void UIWindow::getVec4Var(const char* name, float out[4], const float* defaultValue) const {
  const UIVar* var = getVar(findVarIndex(name));
  if (var) {
    out[0] = var->value.x;
    out[1] = var->value.y;
    out[2] = var->value.z;
    out[3] = var->value.w;
  } else {
    for (int i = 0; i < 4; ++i)
      out[i] = defaultValue ? defaultValue[i] : 0.0f;
  }
}

void UIWindow::getVec3Var(const char* name, float out[3], const float* defaultValue) const {
  float v[4];
  getVec4Var(name, v, nullptr);
  const bool found = findVarIndex(name) >= 0;
  for (int i = 0; i < 3; ++i)
    out[i] = found ? v[i] : (defaultValue ? defaultValue[i] : 0.0f);
}

UIVarRef UIWindow::findVar(const char* path) {
  UIVarRef ref;
  std::string varName;
  ref.window = resolvePath(path, &varName);
  const int index = ref.window && !varName.empty() ? ref.window->findVarIndex(varName.c_str()) : -1;
  if (index < 0) {
    ref.value[0] = atofSafe(path);
    return ref;
  }
  const UIVarValue& v = ref.window->vars_[size_t(index)].value;
  ref.pair = ref.window->findVarPair(varName.c_str());
  ref.index = index;
  ref.value[0] = v.x;
  ref.value[1] = v.y;
  ref.value[2] = v.z;
  ref.value[3] = v.w;
  return ref;
}

int UIWindow::findTransitionVar(int rateFunc) const {
  for (size_t i = 0; i < vars_.size() && rateFunc; ++i)
    if (vars_[i].value.rateFunc == rateFunc)
      return int(i);
  return -1;
}

UIVarValue* UIWindow::getVarValue(int index) {
  UIVar* var = getVar(index);
  return var ? &var->value : nullptr;
}

bool uiVarMatchesDefault(const UIVarDef& row, const UIVar& var) {
  const UIVarValue& v = var.value;
  float d[4];
  uiParseVec(row.defaultText, d);
  switch (v.type) {
    case kUIVarBool:
    case kUIVarInt:
    case kUIVarFloat:
      return atofSafe(row.defaultText) == v.x;
    case kUIVarText:
      return String::icmp(row.defaultText, var.text.c_str()) == 0;
    case kUIVarVec3:
      return std::fabs(v.x - d[0]) <= 0.001f && std::fabs(v.y - d[1]) <= 0.001f && std::fabs(v.z - d[2]) <= 0.001f;
    case kUIVarVec4:
      return std::fabs(v.x - d[0]) <= 0.001f && std::fabs(v.y - d[1]) <= 0.001f &&
             std::fabs(v.z - d[2]) <= 0.001f && std::fabs(v.w - d[3]) <= 0.001f;
    default:
      return false;
  }
}

bool UIWindow::isVarDefault(int index) const {
  const UIVar* var = getVar(index);
  const UIVarDef* row = var ? builtinRow(var->name.c_str()) : nullptr;
  return row && uiVarMatchesDefault(*row, *var);
}

int UIWindow::pushVar(lua_State* L, const char* path) {
  const UIVar* var = getVar(findVarIndex(path));
  if (var) {
    const UIVarValue& v = var->value;
    switch (v.type) {
      case kUIVarBool:
        lua_pushboolean(L, v.x != 0.0f);
        break;
      case kUIVarInt:
      case kUIVarFloat:
        lua_pushnumber(L, v.x);
        break;
      case kUIVarText:
        lua_pushstring(L, var->text.c_str());
        break;
      case kUIVarVec2:
      case kUIVarVec3:
      case kUIVarVec4:
        lua_createtable(L, 0, 4);
        lua_pushnumber(L, v.x);
        lua_setfield(L, -2, "x");
        lua_pushnumber(L, v.y);
        lua_setfield(L, -2, "y");
        lua_pushnumber(L, v.z);
        lua_setfield(L, -2, "z");
        lua_pushnumber(L, v.w);
        lua_setfield(L, -2, "w");
        break;
      default:
        lua_pushnil(L);
        break;
    }
    return 1;
  }
  std::string varName;
  UIWindow* window = resolvePath(path, &varName);
  if (window && window != this && !varName.empty())
    return window->pushVar(L, varName.c_str());
  if (window == this && !varName.empty() && String::icmp(varName.c_str(), path) != 0)
    return pushVar(L, varName.c_str());
  lua_pushnil(L);
  return 1;
}

// --- Transitions ---

void UIWindow::transition(const char* var, const char* from, const char* to, const char* ms) {
  std::string varName;
  UIWindow* window = resolvePath(var, &varName);
  const int index = window && !varName.empty() ? window->findVarIndex(varName.c_str()) : -1;
  if (index < 0) {
    if (parent_) {
      parent_->transition(var, from, to, ms);
      return;
    }
    parsePrint("WARNING: failed to resolve variable(%s) in window(%s)\n", var ? var : "", getName());
    return;
  }
  window->setVarByIndex(index, from);
  TransitionState state;
  std::memset(&state, 0, sizeof(state));
  state.window = window;
  uiParseVec(from, state.from);
  state.components = uiParseVec(to, state.to);
  std::memcpy(state.current, state.from, sizeof(state.from));
  state.duration = std::atoi(ms ? ms : "0");
  state.lastStep = -1;
  UIVarValue& value = window->vars_[size_t(index)].value;
  RateFuncList* list = rateFuncs();
  if (list && value.rateFunc)
    list->remove(value.rateFunc);
  value.rateFunc = 0;
  const int now = nowTime();
  // Start 0 would read as "the list's last update"; that is what now is here anyway.
  const int id = list ? list->RFCreateFunc(transitionStep, &state, sizeof(state), now, state.duration) : 0;
  if (id == 0) {
    window->setVarByIndex(index, to);
    return;
  }
  state.id = id;
  std::memcpy(list->find(id)->payload, &state, sizeof(state));
  window->vars_[size_t(index)].value.rateFunc = id;
}

void UIWindow::stopTransitions(const char* path) {
  UIWindow* window = findByPath(path);
  if (!window)
    return;
  RateFuncList* list = rateFuncs();
  for (UIVar& var : window->vars_) {
    if (list && var.value.rateFunc)
      list->remove(var.value.rateFunc);
    var.value.rateFunc = 0;
  }
}

// --- Drawing ---

bool UIWindow::isHidden() const {
  const UIVar* var = getVar(findVarIndex(g_uiEditMode ? "showLayer" : "visible"));
  return !var || std::atoi(var->text.c_str()) == 0;
}

void UIWindow::draw(const float origin[2]) {
  const UIVarValue* rect = getVarValue(findVarIndex("rect"));
  if (isHidden() || !rect)
    return;
  const float absolute[4] = {origin[0] + rect->x, origin[1] + rect->y, rect->z, rect->w};
  drawSelf(absolute);
  drawChildren(absolute);
}

void UIWindow::drawFullScreen() {
  static const float kOrigin[2] = {0.0f, 0.0f};
  draw(kOrigin);
}

void UIWindow::drawChildren(const float origin[2]) {
  // A child's draw cannot change the tree; copy anyway so a kind that does stays safe.
  std::vector<UIWindow*> children = children_;
  for (UIWindow* child : children)
    child->draw(origin);
}

void UIWindow::drawRect(Material* material, float x, float y, float w, float h, float s0, float t0, float s1,
                        float t1) {
  if (!g_renderSystem || !material || !(w > 0.0f) || !(h > 0.0f))
    return;
  // Clip to the 640 x 480 screen (the text clip region outside a window's text), carrying the
  // texture coordinates along.
  float x0 = x, y0 = y, x1 = x + w, y1 = y + h;
  float cs0 = s0, ct0 = t0, cs1 = s1, ct1 = t1;
  if (x0 < 0.0f) {
    cs0 = s0 + (s1 - s0) * (0.0f - x) / w;
    x0 = 0.0f;
  }
  if (x1 > 640.0f) {
    cs1 = s0 + (s1 - s0) * (640.0f - x) / w;
    x1 = 640.0f;
  }
  if (y0 < 0.0f) {
    ct0 = t0 + (t1 - t0) * (0.0f - y) / h;
    y0 = 0.0f;
  }
  if (y1 > 480.0f) {
    ct1 = t0 + (t1 - t0) * (480.0f - y) / h;
    y1 = 480.0f;
  }
  if (!(x1 > x0) || !(y1 > y0))
    return;
  DrawVertex v[4];
  std::memset(v, 0, sizeof(v));
  const float xy[4][2] = {{x0, y0}, {x0, y1}, {x1, y1}, {x1, y0}};
  const float st[4][2] = {{cs0, ct0}, {cs0, ct1}, {cs1, ct1}, {cs1, ct0}};
  // White vertices: the colour is the renderer's 2D colour, which the caller sets.
  const uint8_t c[4] = {255, 255, 255, 255};
  for (int i = 0; i < 4; ++i) {
    v[i].xyz[0] = xy[i][0];
    v[i].xyz[1] = xy[i][1];
    v[i].st[0] = st[i][0];
    v[i].st[1] = st[i][1];
    std::memcpy(v[i].color, c, 4);
  }
  static const int kIndexes[6] = {0, 1, 3, 3, 1, 2};
  g_renderSystem->drawTriangles2D(v, kIndexes, 4, 6, material, 1, 0, 0, 640, 480);
}

void UIWindow::drawSelf(const float rect[4]) {
  static const float kWhite[4] = {1.0f, 1.0f, 1.0f, 1.0f};
  float matColor[4];
  getVec4Var("matcolor", matColor, kWhite);
  float s0 = 0.0f, t0 = 0.0f;
  float s1 = getFloatVar("matscalex", 1.0f);
  float t1 = getFloatVar("matscaley", 1.0f);
  if (s1 < 0.0f) {
    s0 = -s1;
    s1 = 0.0f;
  }
  if (t1 < 0.0f) {
    t0 = -t1;
    t1 = 0.0f;
  }
  if (g_renderSystem) {
    const UIVar* back = getVar(findVarIndex("backcolor"));
    if (back && !back->text.empty() && back->value.w > 0.0f) {
      const float color[4] = {back->value.x, back->value.y, back->value.z, back->value.w};
      Material* white = g_uiEditMode ? findMaterial("guiWhite", true)
                                     : (g_userInterfaceManager ? g_userInterfaceManager->getWhiteMaterial() : nullptr);
      g_renderSystem->setColorV(color);
      drawRect(white, rect[0], rect[1], rect[2], rect[3], s0, t0, s1, t1);
    }
    const UIVar* background = getVar(findVarIndex("background"));
    if (background && !background->text.empty() && matColor[3] > 0.0f && background->value.x != 0.0f &&
        g_declSystem) {
      Material* material = Material::fromDecl(g_declSystem->materialByIndex(int(background->value.x), true));
      g_renderSystem->setColorV(matColor);
      drawRect(material, rect[0], rect[1], rect[2], rect[3], s0, t0, s1, t1);
    }
  }
  float foreColor[4];
  getVec4Var("forecolor", foreColor, kWhite);
  const bool drawText = !(findVarIndex("forecolor") >= 0 && foreColor[3] <= 0.0f);
  if (drawText) {
    update();
    const UIVar* textVar = getVar(findVarIndex("text"));
    if (textVar && !textVar->text.empty() && g_renderSystem) {
      std::string text = textVar->text.substr(0, 1023);
      std::string shown;
      // A text that names a variable shows that variable's text, an empty one as nothing (not the
      // variable's name); a text that names none is shown as written.
      if (findVarIndex(text.c_str()) >= 0 || text.find_first_of(".:") != std::string::npos) {
        if (getVarText(text.c_str(), nullptr, &shown))
          text = shown.substr(0, 1023);
      }
      const float scale = getFloatVar("textscale", 1.0f);
      float dx = getFloatVar("textalignx", 0.0f);
      const float dy = getFloatVar("textaligny", 0.0f);
      const int align = int(getFloatVar("textalign", 0.0f));
      if (align == 1)
        dx += rect[2];
      else if (align == 2)
        dx += rect[2] * 0.5f;
      int font = int(getFloatVar("font", 0.0f));
      if (font < 0)
        font = 0;
      g_renderSystem->setTextClipRect(rect[0], rect[1], rect[2], rect[3]);
      g_renderSystem->setColorV(foreColor);
      g_renderSystem->setTextAlignment(align);
      if (!text.empty())
        g_renderSystem->drawText640(font, rect[0] + dx, rect[1] + dy, scale, text.c_str(), int(text.size()));
    }
  }
  if (g_renderSystem) {
    g_renderSystem->setColor(1.0f, 1.0f, 1.0f, 1.0f);
    g_renderSystem->setTextAlignment(0);
    g_renderSystem->setTextClipRect(0.0f, 0.0f, 640.0f, 480.0f);
  }
}

// --- Mouse and keys ---

UIWindow* UIWindow::hitTest(const float point[2]) {
  if (!getBoolVar("active", false) || !getBoolVar("menugui", false))
    return nullptr;
  static const float kOrigin[2] = {0.0f, 0.0f};
  return hitTestTree(this, point[0], point[1], kOrigin);
}

UIWindow* UIWindow::hitTestTree(UIWindow* window, float x, float y, const float origin[2]) {
  const UIVar* rect = window->getVar(window->findVarIndex("rect"));
  if (!rect || window->isHidden())
    return nullptr;
  if (!g_uiEditMode && std::atoi(window->getStringVar("noclip", "0")) == 1)
    return nullptr;
  const float x0 = origin[0] + rect->value.x, y0 = origin[1] + rect->value.y;
  if (x < x0 || y < y0 || x > x0 + rect->value.z || y > y0 + rect->value.w)
    return nullptr;
  const float corner[2] = {x0, y0};
  UIWindow* found = nullptr;
  for (UIWindow* child : window->children_)
    if (UIWindow* hit = hitTestTree(child, x, y, corner))
      found = hit;
  return found ? found : window;
}

bool UIWindow::onKey(int key) {
  bool handled = false;
  if (key == 27) {
    runEvents(this, "onEsc", "", &handled);
    if (!parent_) {
      if (openMainMenu)
        openMainMenu(false);
      return true;
    }
    if (!parent_->onKey(27))
      return handled;
    return true;
  }
  if (key == 9) {
    runEvents(this, "onTab", "", &handled);
    return handled;
  }
  if (key >= 33 && key <= 126) {
    char name[8] = {char(key), '\0'};
    const char* keyName = g_keyBindSystem ? g_keyBindSystem->keyName(key) : name;
    runEvents(this, "onKeyPress", keyName && keyName[0] ? keyName : name, &handled);
    return handled;
  }
  return false;
}

bool UIWindow::onAction(int /*key*/) {
  bool handled = false;
  return runEvents(this, "onAction", "", &handled);
}

bool UIWindow::onActionRelease(int /*key*/) {
  bool handled = false;
  return runEvents(this, "onActionRelease", "", &handled);
}

// --- Events and time ---

namespace {

// The argument pasted into Lua text as a quoted string: never able to close the string early.
std::string escapeLuaString(const char* text) {
  std::string out;
  for (const char* p = text ? text : ""; *p; ++p) {
    switch (*p) {
      case '\\': out += "\\\\"; break;
      case '"': out += "\\\""; break;
      case '\r': out += "\\r"; break;
      case '\n': out += "\\n"; break;
      default: out += *p; break;
    }
  }
  return out;
}

}  // namespace

bool UIWindow::callEventText(const UIEvent& handler, const char* text) {
  if (!shell_ || !handler.method()[0])
    return false;
  std::string call = std::string("this:") + handler.method() + "( \"" + escapeLuaString(text) + "\" )";
  return shell_->run(call.c_str(), handler.method());
}

bool UIWindow::callEventInt(const UIEvent& handler, int n) {
  if (!shell_ || !handler.method()[0])
    return false;
  char call[128];
  std::snprintf(call, sizeof(call), "this:%s( %d )", handler.method(), n);
  return shell_->run(call, handler.method());
}

bool UIWindow::runEvents(UIWindow* window, const char* name, const char* argument, bool* handled) {
  if (handled)
    *handled = false;
  if (!window || window->getBoolVar("noEvents", false))
    return false;
  // Handlers run Lua, which cannot change the handler list; copy so that a kind that does is safe.
  const std::vector<UIEvent> handlers = window->handlers_;
  for (const UIEvent& handler : handlers) {
    const bool match = handler.isNamed() ? String::icmp(handler.param(), argument ? argument : "") == 0
                                         : String::icmp(handler.name(), name) == 0;
    if (match && window->callEventText(handler, argument) && handled)
      *handled = true;
  }
  return true;
}

void UIWindow::runEventsTree(const char* name, const char* argument, bool* handled) {
  if (!runEvents(this, name, argument, handled))
    return;
  const std::vector<UIWindow*> children = children_;
  for (UIWindow* child : children)
    child->runEventsTree(name, argument, handled);
}

void UIWindow::runNamedEvent(UIWindow* window, const char* name) {
  if (!window || window->getBoolVar("noEvents", false))
    return;
  bool handled = false;
  const std::vector<UIEvent> handlers = window->handlers_;
  for (const UIEvent& handler : handlers)
    if (handler.isNamed() && String::icmp(handler.param(), name) == 0 && window->callEventText(handler, name))
      handled = true;
  const std::vector<UIWindow*> children = window->children_;
  for (UIWindow* child : children)
    runNamedEvent(child, name);
  const int index = window->findVarIndex("updateVisuals");
  const bool value = index >= 0 ? std::atoi(window->vars_[size_t(index)].text.c_str()) != 0 : handled;
  window->setVarText("updateVisuals", value ? "1" : "0");
}

void UIWindow::postNamedEvent(const char* name) {
  UIEvent event("onNamedEvent");
  event.setParam(name);
  event.setMethod(name);
  queued_.push_back(event);
}

void UIWindow::setActive(bool active) {
  setVarText("active", active ? "1" : "0");
  if (getBoolVar("menugui", false) && g_keyBindSystem) {
    const int mode = g_keyBindSystem->getMode();
    g_keyBindSystem->setMode(active ? (mode | kKeyModeGui) : (mode & ~kKeyModeGui));
  }
  bool handled = false;
  runEventsTree(active ? "onActivate" : "onDeactivate", "", &handled);
}

void UIWindow::triggerTree() {
  bool handled = false;
  runEventsTree("onTrigger", "", &handled);
  const int index = findVarIndex("updateVisuals");
  const bool value = index >= 0 ? std::atoi(vars_[size_t(index)].text.c_str()) != 0 : handled;
  setVarText("updateVisuals", value ? "1" : "0");
}

void UIWindow::updateTree(UIWindow* window, bool flag) {
  if (!window)
    return;
  if (flag && window->findVarIndex("update") >= 0) {
    window->setVarText("update", "1");
    window->update();
  }
  for (UIWindow* child : window->children_)
    updateTree(child, flag);
}

void UIWindow::updateTime(int now) {
  if (!parent_ && !getBoolVar("active", false))
    return;
  // Swap the queue out first: handlers that post more events queue them for the next update
  // instead of growing the list being walked.
  std::vector<UIEvent> events;
  events.swap(queued_);
  for (const UIEvent& event : events) {
    if (event.isNamed()) {
      runNamedEvent(this, event.param());
    } else {
      bool handled = false;
      runEvents(this, event.name(), event.param(), &handled);
    }
  }
  const std::vector<UIWindow*> children = children_;
  for (UIWindow* child : children)
    child->updateTime(now);
  if (getBoolVar("noTime", false))
    return;
  if (timeStart_ == 0)
    timeStart_ = now;
  const std::vector<UIEvent> handlers = handlers_;
  for (const UIEvent& handler : handlers) {
    if (String::icmp(handler.name(), "onTime") != 0)
      continue;
    if (now - timeStart_ >= handler.value() && lastFired_ < handler.value()) {
      lastFired_ = handler.value();
      callEventInt(handler, handler.value());
    }
  }
}

void UIWindow::resetTime(const char* path, const char* time) {
  UIWindow* window = this;
  const char* timeText = time;
  if (!time || !time[0]) {
    timeText = path;
  } else {
    window = findByPath(path);
    if (!window)
      return;
  }
  const int ms = std::atoi(timeText ? timeText : "");
  window->setVarText("noTime", "0");
  window->lastFired_ = ms - 1;
  // The clock restarts so that `ms` have already passed: handlers below it count as fired.
  const int now = nowTime();
  window->timeStart_ = now - ms;
}

void UIWindow::addEventHandler(const UIEvent& handler) {
  for (UIEvent& existing : handlers_) {
    if (String::icmp(existing.name(), handler.name()) != 0)
      continue;
    const bool keyed = String::icmp(handler.name(), "onTime") == 0 || handler.isNamed();
    if (keyed && String::icmp(existing.param(), handler.param()) != 0)
      continue;
    existing = handler;
    return;
  }
  handlers_.push_back(handler);
}

void UIWindow::sortEvents() {
  std::vector<UIEvent>& h = handlers_;
  for (size_t i = 1; i < h.size(); ++i)
    for (size_t j = i; j > 0 && UIEvent::compare(h[j], h[j - 1]) < 0; --j)
      std::swap(h[j], h[j - 1]);
}

// --- Editor support ---

bool UIWindow::getScreenRect(float out[4]) {
  const UIVar* rect = getVar(findVarIndex("rect"));
  if (!rect)
    return false;
  out[0] = rect->value.x;
  out[1] = rect->value.y;
  out[2] = rect->value.z;
  out[3] = rect->value.w;
  for (UIWindow* w = parent_; w; w = w->parent_) {
    const UIVar* r = w->getVar(w->findVarIndex("rect"));
    if (!r)
      return false;
    out[0] += r->value.x;
    out[1] += r->value.y;
  }
  return true;
}

int UIWindow::editHandleAt(const float point[2]) {
  editHandle_ = 0;
  float r[4];
  if (!getScreenRect(r))
    return 0;
  const float s = 8.0f;
  const float x = point[0], y = point[1];
  auto in = [&](float x0, float y0) { return x >= x0 && x <= x0 + s && y >= y0 && y <= y0 + s; };
  const float mx = r[0] + r[2] * 0.5f - s * 0.5f, my = r[1] + r[3] * 0.5f - s * 0.5f;
  if (in(r[0] - s, r[1] - s))
    editHandle_ = 3;
  else if (in(r[0] - s, r[1] + r[3]))
    editHandle_ = 5;
  else if (in(r[0] + r[2], r[1] + r[3]))
    editHandle_ = 7;
  else if (in(r[0] + r[2], r[1] - s))
    editHandle_ = 9;
  else if (in(mx, r[1] - s))
    editHandle_ = 2;
  else if (in(mx, r[1] + r[3]))
    editHandle_ = 6;
  else if (in(r[0] - s, my))
    editHandle_ = 4;
  else if (in(r[0] + r[2], my))
    editHandle_ = 8;
  else if (x >= r[0] && x <= r[0] + r[2] && y >= r[1] && y <= r[1] + r[3])
    editHandle_ = 1;
  return editHandle_;
}

void UIWindow::drawEditFrame() {
  float r[4];
  if (!g_renderSystem || !getScreenRect(r))
    return;
  g_renderSystem->drawRectOutline(r[0], r[1], r[2], r[3], 2.0f);
  Material* white = findMaterial("guiWhite", true);
  const float xs[3] = {r[0], r[0] + r[2] * 0.5f, r[0] + r[2]};
  const float ys[3] = {r[1], r[1] + r[3] * 0.5f, r[1] + r[3]};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      if (i != 1 || j != 1)
        drawRect(white, xs[i] - 2.0f, ys[j] - 2.0f, 4.0f, 4.0f, 0.0f, 0.0f, 1.0f, 1.0f);
}

void UIWindow::toggleShowLayer() {
  setVarText("showLayer", getBoolVar("showLayer", false) ? "0" : "1");
}

void UIWindow::toggleCollapsed() {
  setVarText("collapsed", isCollapsed() ? "0" : "1");
}

bool UIWindow::isCollapsed() {
  return getBoolVar("collapsed", false);
}

bool UIWindow::isShownInTree() const {
  for (const UIWindow* w = this; w; w = w->parent_)
    if (w->isHidden())
      return false;
  return true;
}

// --- ".gui" reading ---

bool UIWindow::parse(UIProgram* program, TokenParser& parser, int depth) {
  char token[512];
  if (!parser.readToken(token, sizeof(token)))
    return false;
  setName(token);
  depth_ = depth;
  if (!g_uiEditMode && !shell_ && program)
    createShell(program);
  if (!parser.expectToken("{", true, nullptr, 0))
    return false;
  for (;;) {
    if (!parser.readToken(token, sizeof(token)))
      return false;
    if (std::strcmp(token, "}") == 0)
      return true;
    if (UIWindowFactory::isKindWord(token)) {
      if (depth + 1 >= kUIMaxWindowDepth) {
        parsePrint("ParseError: windows nested deeper than %d on (line: %d)\n", kUIMaxWindowDepth,
                   parser.lineNumber());
        return false;
      }
      UIWindow* child = UIWindowFactory::createByKind(gui_, token);
      addChild(child);
      if (!child->parse(program, parser, depth + 1)) {
        destroyTree(child);
        parsePrint("ParseError: invalid window def on (line: %d)\n", parser.lineNumber());
        return false;
      }
      child->setParent(this);
      continue;
    }
    if (String::icmp(token, "eventDef") == 0) {
      String block;
      const int line = parser.lineNumber();
      if (!parser.readBracedSection(block))
        return false;
      TokenParser lineParser;
      lineParser.pushText(block.c_str());
      lineParser.setPunctuation("{}();");
      char word[64];
      if (!lineParser.readToken(word, sizeof(word))) {
        parsePrint("ParseError: invalid event on (line: %d)\n", line);
        continue;
      }
      if (!UIEvent::isEventName(word)) {
        parsePrint("ParseError: invalid event type '%s' on (line: %d)\n", word, line);
        continue;
      }
      UIEvent handler;
      if (handler.parse(lineParser, word))
        handlers_.push_back(handler);
      else
        parsePrint("ParseError: invalid event on (line: %d)\n", line);
      continue;
    }
    if (String::icmp(token, "scriptDef") == 0) {
      if (!runScriptDef(parser))
        return false;
      continue;
    }
    if (!parseVarDecl(parser, token))
      parsePrint("ParseError: unknown token '%s' on (line: %d)\n", token, parser.lineNumber());
  }
}

bool UIWindow::runScriptDef(TokenParser& parser) {
  String block;
  if (!parser.readBracedSection(block))
    return false;
  script_ = block.c_str();
  if (!g_uiEditMode && shell_)
    shell_->run(script_.c_str(), getName());
  return true;
}

bool UIWindow::parseVarDecl(TokenParser& parser, const char* first) {
  int type = 0, flags = 0;
  std::string name = first;
  std::string varName;
  UIWindow* target = resolvePath(first, &varName);
  const UIVar* existing = target && !varName.empty() ? target->getVar(target->findVarIndex(varName.c_str())) : nullptr;
  if (existing) {
    type = existing->value.type;
    flags = existing->value.flags;
  } else {
    if (String::icmp(first, "float") == 0 || String::icmp(first, "double") == 0) {
      type = kUIVarFloat;
    } else if (String::icmp(first, "int") == 0 || String::icmp(first, "short") == 0) {
      type = kUIVarInt;
    } else if (String::icmp(first, "bool") == 0) {
      type = kUIVarBool;
    } else {
      parsePrint("ERROR: unknown type '%s' on (line: %d)\n", first, parser.lineNumber());
      return false;
    }
    flags = kUIVarDeclared;
    char token[64];
    if (!parser.readToken(token, sizeof(token), false))
      return false;
    name = token;
  }
  char line[512];
  const int valueLine = parser.lineNumber();
  if (!parser.readLine(line, sizeof(line)))
    line[0] = '\0';
  if (type != kUIVarText)
    parser.warnNumberRange(line, valueLine);
  std::string value = line;
  // Blanks before a line comment are not part of the value.
  while (!value.empty() && (value.back() == ' ' || value.back() == '\t' || value.back() == '\r'))
    value.pop_back();
  if (value.size() > 511)
    value.resize(511);
  if (!value.empty() && value.front() == '"')
    value.erase(0, 1);
  if (!value.empty() && value.back() == '"')
    value.pop_back();
  setVarText(name.c_str(), value.c_str());
  // Declarations and own variables take the type; a path to another window keeps that window's.
  target = resolvePath(name.c_str(), &varName);
  if (!target || varName.empty())
    return false;
  const int index = target->findVarIndex(varName.c_str());
  if (index < 0)
    return false;
  target->setVarType(varName.c_str(), type, flags);
  return true;
}

bool UIWindow::loadFile(const char* name) {
  Timer timer;
  timer.init();
  TokenParser parser;
  if (!parser.loadFile(name) && !parser.loadFile(name, true)) {
    commonPrint("File Not Found: %s\n", name ? name : "");
    return false;
  }
  char token[512];
  bool result = false;
  if (!parser.readToken(token, sizeof(token)) || String::icmp(token, "windowDef") != 0) {
    commonPrint("Unknown token: '%s'.  Expected 'windowDef desktop'.\n", token);
  } else {
    setKind(token);
    parser.setPunctuation("{}();");
    result = parse(nullptr, parser, 0);
  }
  commonPrint("load time: %d\n", int(timer.elapsed()));
  return result;
}

// --- Kinds ---

namespace {

const char* const kKindWords[] = {"windowDef", "bindDef", "comboDef", "dialogDef", "renderDef"};

}  // namespace

bool UIWindowFactory::isKindWord(const char* word) {
  for (const char* kind : kKindWords)
    if (String::icmp(word, kind) == 0)
      return true;
  return false;
}

UIWindow* UIWindowFactory::create(UIWindow* templateWindow, const char* word) {
  return make(templateWindow, word, false);
}

UIWindow* UIWindowFactory::make(UIWindow* templateWindow, const char* word, bool builtins) {
  if (!templateWindow)
    return nullptr;
  for (const char* kind : kKindWords) {
    if (String::icmp(word, kind) != 0)
      continue;
    UserInterfaceLocal* gui = templateWindow->gui_;
    UIKindWindow* special = nullptr;
    if (String::icmp(kind, "bindDef") == 0)
      special = new UIBindDef(gui, UIBareWindow());
    else if (String::icmp(kind, "comboDef") == 0)
      special = new UIComboDef(gui, UIBareWindow());
    else if (String::icmp(kind, "dialogDef") == 0)
      special = new UIDialogDef(gui, UIBareWindow());
    else if (String::icmp(kind, "renderDef") == 0)
      special = new UIRenderDef(gui, UIBareWindow());
    UIWindow* window = special ? special : new UIWindow(gui, UIBareWindow());
    window->copyFrom(*templateWindow);
    if (builtins && special)
      special->setKindDefaults();
    else if (builtins)
      window->setBuiltinVars();
    // The copy replaced the variables: the kind's properties go back on top of them.
    if (special)
      special->declareProperties();
    window->setKind(kind);
    return window;
  }
  return nullptr;
}

UIWindow* UIWindowFactory::createByKind(UserInterfaceLocal* gui, const char* word) {
  if (!isKindWord(word))
    return nullptr;
  // The temporary gives the copy its id and name; the built-in variables it would carry come
  // straight from the shared set instead of through a copy of its own.
  UIWindow temporary(gui, UIBareWindow());
  return make(&temporary, word, true);
}
