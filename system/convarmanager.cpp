// The console-variable registry: a name-sorted list of registered copies, the "listConVars"
// command, the archive writer for "writecfg" and the completion helpers of the console.
#include "system/convarmanager.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "lib/interface/cmdsystem.h"
#include "lib/keydict.h"
#include "lib/str.h"

namespace {

ConVarManager* s_manager = nullptr;

// Case-insensitive over the ASCII letters only, like every name comparison of the registry.
int compareNames(const char* a, const char* b) {
  for (;; ++a, ++b) {
    char ca = String::toLowerChar(*a);
    char cb = String::toLowerChar(*b);
    if (ca != cb)
      return static_cast<unsigned char>(ca) < static_cast<unsigned char>(cb) ? -1 : 1;
    if (!ca)
      return 0;
  }
}

char* copyText(const char* text) {
  size_t length = std::strlen(text);
  char* copy = new char[length + 1];
  std::memcpy(copy, text, length + 1);
  return copy;
}

void print(const char* format, const char* a, const char* b = "", const char* c = "", const char* d = "") {
  if (g_cmdSystem)
    g_cmdSystem->printf(format, a, b, c, d);
}

void cmdListConVars(const CmdArgs& args) {
  if (g_conVarSystem)
    g_conVarSystem->list(args);
}

// Five decimals with the trailing zeros (and a bare point) removed: 0.0220 -> "0.022", 10 -> "10".
void formatFloat(float value, char* out, size_t size) {
  if (value == 0.0f)
    value = 0.0f;  // no "-0"
  auto result = std::to_chars(out, out + size - 1, static_cast<double>(value), std::chars_format::fixed, 5);
  if (result.ec != std::errc()) {
    std::snprintf(out, size, "%g", static_cast<double>(value));
    return;
  }
  char* end = result.ptr;
  *end = '\0';
  if (std::memchr(out, '.', static_cast<size_t>(end - out))) {
    while (end > out && end[-1] == '0')
      *--end = '\0';
    if (end > out && end[-1] == '.')
      *--end = '\0';
  }
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// ConVarDict

ConVarDict::ConVarDict(const ConVar& declaration)
    : ConVar(declaration.getFlags()),
      ownedName_(copyText(declaration.getName())),
      ownedDescription_(copyText(declaration.getDescription())),
      ownedValue_(copyText("")) {
  name_ = ownedName_;
  description_ = ownedDescription_;
  value_ = ownedValue_;
  minimum_ = declaration.getMinimum();
  maximum_ = declaration.getMaximum();
}

ConVarDict::~ConVarDict() {
  delete[] ownedName_;
  delete[] ownedDescription_;
  delete[] ownedValue_;
}

void ConVarDict::setValue(const char* text) {
  if (!text)
    text = "";
  float value = textToFloat(text);
  int integer = floatToInt(value);
  bool ranged = maximum_ > minimum_;
  if (ranged) {
    // NaN fails both tests below; it takes the minimum like any text below the range.
    if (!(value > minimum_))
      value = minimum_;
    else if (value >= maximum_)
      value = maximum_;
    int low = floatToInt(minimum_);
    int high = floatToInt(maximum_);
    if (integer <= low)
      integer = low;
    else if (integer >= high)
      integer = high;
  }
  floatValue_ = value;
  intValue_ = integer;

  char formatted[400];
  const char* stored = text;
  if (flags_ & kConVarFloat) {
    formatFloat(value, formatted, sizeof(formatted));
    stored = formatted;
  } else if (ranged) {
    std::snprintf(formatted, sizeof(formatted), "%d", integer);
    stored = formatted;
  }
  if (std::strcmp(stored, ownedValue_) == 0)
    return;
  char* copy = copyText(stored);  // copy first: `text` may be our own value
  delete[] ownedValue_;
  ownedValue_ = copy;
  value_ = ownedValue_;
}

// ---------------------------------------------------------------------------------------------
// ConVarManager

ConVarManager::ConVarManager() : vars_(1024), exported_(nullptr) {
  if (g_cmdSystem)
    g_cmdSystem->addCommand("listConVars", cmdListConVars, kCmdFlagEngine,
                            "print all variables to the console");
}

ConVarManager::~ConVarManager() {
  for (ConVarDict* var : vars_)
    delete var;
  vars_.clear();
  delete exported_;
}

int ConVarManager::lowerBound(const char* name) const {
  int low = 0;
  int high = vars_.num();
  while (low < high) {
    int mid = low + (high - low) / 2;
    if (compareNames(vars_[mid]->getName(), name) < 0)
      low = mid + 1;
    else
      high = mid;
  }
  return low;
}

void ConVarManager::registerVar(ConVar* declaration) {
  if (!declaration)
    return;
  if (ConVar* existing = find(declaration->getName())) {
    declaration->attach(existing);
    return;
  }
  // A registered record of this name was asked for again: nothing to do.
  if (declaration->isRegistered())
    return;
  auto* var = new ConVarDict(*declaration);
  var->setValue(declaration->getString());
  declaration->attach(var);
  vars_.insert(var, lowerBound(var->getName()));
}

ConVar* ConVarManager::find(const char* name) {
  if (!name || !*name)
    return nullptr;
  int index = lowerBound(name);
  if (index < vars_.num() && compareNames(vars_[index]->getName(), name) == 0)
    return vars_[index];
  return nullptr;
}

ConVar* ConVarManager::at(int index) const {
  if (index < 0 || index >= count())
    return nullptr;
  return vars_[index];
}

void ConVarManager::list(const CmdArgs& args) {
  const char* prefix = args.argc() > 1 ? args.argv(1) : "";
  size_t prefixLength = std::strlen(prefix);
  for (ConVarDict* var : vars_) {
    if (prefixLength && std::strncmp(var->getName(), prefix, prefixLength) != 0)
      continue;
    uint32_t flags = var->getFlags();
    char field[6] = {flags & kConVarArchive ? 'A' : ' ', flags & kConVarListG ? 'G' : ' ',
                     flags & kConVarListC ? 'C' : ' ',   flags & kConVarListR ? 'R' : ' ',
                     flags & kConVarListD ? 'D' : ' ',   '\0'};
    print("%s %s \"%s\" (%s)\n", field, var->getName(), var->getString(), var->getDescription());
  }
  if (g_cmdSystem) {
    g_cmdSystem->printf("\n");
    g_cmdSystem->printf("Total Cvars: %d\n", count());
  }
}

int ConVarManager::printVar(const char* name) {
  if (!name || !*name) {
    print("Bad cvar name. || No cvars defined: \"CVARPrintf()\"\n", "");
    return 0;
  }
  ConVar* var = find(name);
  if (!var) {
    print("Cvar not found: %s\n", name);
    return 0;
  }
  print("%s \"%s\" (%s)\n", var->getName(), var->getString(), var->getDescription());
  return 1;
}

void ConVarManager::setString(const char* name, const char* text) {
  if (ConVar* var = find(name))
    var->setValue(text);
}

void ConVarManager::setInt(const char* name, int value) {
  char text[16];
  std::snprintf(text, sizeof(text), "%d", value);
  setString(name, text);
}

void ConVarManager::setBool(const char* name, bool value) {
  char text[8];
  std::snprintf(text, sizeof(text), "%d", static_cast<unsigned char>(value));
  setString(name, text);
}

const char* ConVarManager::getString(const char* name) {
  ConVar* var = find(name);
  return var ? var->getString() : "";
}

int ConVarManager::getInt(const char* name) {
  ConVar* var = find(name);
  return var ? var->getInt() : 0;
}

bool ConVarManager::getBool(const char* name) {
  return getInt(name) != 0;
}

const KeyDict* ConVarManager::exportToDict(uint32_t mask) {
  if (!exported_)
    exported_ = new KeyDict;
  exported_->clear();
  for (ConVarDict* var : vars_) {
    if (var->getFlags() & mask)
      exported_->set(var->getName(), var->getString());
  }
  return exported_;
}

int ConVarManager::importFromDict(const KeyDict& dict) {
  int pairs = dict.count();
  for (int i = 0; i < pairs; ++i)
    setString(dict.keyAt(i), dict.valueAt(i));
  return pairs;
}

void ConVarManager::writeArchived(IOFileHandle file) {
  if (!g_ioSystem || !file)
    return;
  for (ConVarDict* var : vars_) {
    if (var->getFlags() & kConVarArchive)
      g_ioSystem->printf(file, "%-24s \"%s\"\n", var->getName(), var->getString());
  }
}

int ConVarManager::countMatches(const char* prefix) {
  if (!prefix)
    return 0;
  int matches = 0;
  for (ConVarDict* var : vars_) {
    if (String::istartsWith(var->getName(), prefix))
      ++matches;
  }
  return matches;
}

int ConVarManager::completeName(const char* prefix, ConVar** exact, ConVar** closest) {
  if (exact)
    *exact = nullptr;
  if (closest)
    *closest = nullptr;
  if (!prefix || !*prefix)
    return 0;
  int matches = 0;
  for (ConVarDict* var : vars_) {
    if (!String::istartsWith(var->getName(), prefix))
      continue;
    print("VAR: %s = %s\n", var->getName(), var->getString());
    ++matches;
    if (compareNames(var->getName(), prefix) == 0) {
      if (exact)
        *exact = var;
    } else if (closest && !*closest) {
      *closest = var;
    }
  }
  return matches;
}

void ConVarManager::completePrefix(char* text, size_t size, const ConVar* variable) {
  if (!text || size == 0 || !variable)
    return;
  const char* name = variable->getName();
  int typed = countMatches(text);
  if (typed == 1) {
    std::snprintf(text, size, "%s", name);
    return;
  }
  char work[128];
  size_t length = 0;
  for (; text[length] && length < sizeof(work) - 1; ++length)
    work[length] = String::toLowerChar(text[length]);
  work[length] = '\0';
  size_t best = length;
  // Grow one character of the candidate's name at a time while no other name drops out.
  while (best < std::strlen(name) && best + 1 < sizeof(work)) {
    work[best] = name[best];
    work[best + 1] = '\0';
    if (countMatches(work) != typed) {
      work[best] = '\0';
      break;
    }
    ++best;
  }
  work[best] = '\0';
  std::snprintf(text, size, "%s", work);
}

// ---------------------------------------------------------------------------------------------

ConVarManager* getConVarManager() {
  if (!s_manager) {
    s_manager = new ConVarManager;
    g_conVarSystem = s_manager;
    ConVar::registerAll();
  }
  return s_manager;
}

void destroyConVarManager() {
  if (!s_manager)
    return;
  ConVar::detachAll();
  if (g_conVarSystem == s_manager)
    g_conVarSystem = nullptr;
  delete s_manager;
  s_manager = nullptr;
}
