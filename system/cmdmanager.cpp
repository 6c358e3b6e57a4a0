// The command manager: registry, command buffer, printing, and the commands it owns ("listCommands",
// "writecfg", "loadcfg", "toggle", "crash", "listMemory").
#include "system/cmdmanager.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "lib/assert.h"
#include "lib/interface/commonsystem.h"
#include "lib/interface/consolesystem.h"
#include "lib/interface/convarsystem.h"
#include "lib/interface/iosystem.h"
#include "lib/str.h"
#include "lib/tokenparser.h"
#include "platform/clock.h"
#include "platform/fs.h"
#include "system/iomanager.h"

// The developer console echoes everything printed to standard output.
static ConVar con_devconsole("con_devconsole", "0", 0x1, "opens a windows console");

namespace {

CmdManager* s_manager = nullptr;

constexpr size_t kConfigLineSize = kCmdConfigLineLength + 1;
constexpr size_t kMaxFileName = 255;

char* copyText(const char* text) {
  size_t length = std::strlen(text);
  char* copy = new char[length + 1];
  std::memcpy(copy, text, length + 1);
  return copy;
}

uint32_t monotonicClock() {
  return platformMilliseconds();
}

void cmdListCommands(const CmdArgs& args) {
  if (g_cmdSystem)
    g_cmdSystem->list(args);
}
void cmdWriteCfg(const CmdArgs& args) {
  if (s_manager)
    s_manager->writeConfig(args);
}
void cmdLoadCfg(const CmdArgs& args) {
  if (s_manager)
    s_manager->loadConfig(args);
}
void cmdToggle(const CmdArgs& args) {
  if (s_manager)
    s_manager->toggle(args);
}
void cmdCrash(const CmdArgs& args) {
  if (s_manager)
    s_manager->crash(args);
}
// The memory manager keeps no per-allocation records to list.
void cmdListMemory(const CmdArgs&) {}

// Removes "//" comments and "/* */" comments (which may span lines) outside quoted strings;
// `inBlock` carries an open block comment to the next line.
void stripComments(char* line, bool& inBlock) {
  char* out = line;
  bool inQuote = false;
  for (const char* p = line; *p;) {
    if (inBlock) {
      if (p[0] == '*' && p[1] == '/') {
        inBlock = false;
        p += 2;
      } else {
        ++p;
      }
      continue;
    }
    if (*p == '"')
      inQuote = !inQuote;
    if (!inQuote && p[0] == '/' && p[1] == '/')
      break;
    if (!inQuote && p[0] == '/' && p[1] == '*') {
      inBlock = true;
      p += 2;
      continue;
    }
    *out++ = *p++;
  }
  *out = '\0';
}

bool isBlank(const char* text) {
  for (; *text; ++text) {
    if (*text != ' ' && *text != '\t' && *text != '\r')
      return false;
  }
  return true;
}

}  // namespace

CmdManager::CmdManager()
    : head_(nullptr),
      tail_(nullptr),
      waitUntil_(0),
      waitSet_(false),
      configDepth_(0),
      configLoads_(0),
      output_(nullptr),
      outputUser_(nullptr),
      clock_(monotonicClock),
      errorBox_(nullptr),
      assertPrompt_(assertPrompt) {
  buffer_[0] = '\0';
}

CmdManager::~CmdManager() {
  removeCommands(0xffffffffu);
}

void CmdManager::addCommand(const char* name, CmdFunction function, uint32_t flags, const char* description) {
  if (!name || !*name)
    return;
  if (findCommand(name))
    return;  // the first registration of a name stays
  auto* record = new CmdRecord;
  std::snprintf(record->name, sizeof(record->name), "%s", name);
  record->description = copyText(description ? description : "");
  record->function = function;
  record->flags = flags;
  record->next = nullptr;
  if (tail_)
    tail_->next = record;
  else
    head_ = record;
  tail_ = record;
}

void CmdManager::removeCommands(uint32_t mask) {
  CmdRecord* previous = nullptr;
  for (CmdRecord* record = head_; record;) {
    CmdRecord* next = record->next;
    if (record->flags & mask) {
      if (previous)
        previous->next = next;
      else
        head_ = next;
      if (tail_ == record)
        tail_ = previous;
      delete[] record->description;
      delete record;
    } else {
      previous = record;
    }
    record = next;
  }
}

void CmdManager::appendText(const char* text) {
  if (!text || !*text)
    return;
  size_t length = std::strlen(text);
  size_t used = std::strlen(buffer_);
  // Room for ";", the text and the terminator.
  if (length + used < kBufferSize - 1) {
    buffer_[used] = ';';
    std::memcpy(buffer_ + used + 1, text, length + 1);
  } else {
    // Say how much was lost and how it began, so the user can tell which statements to run again.
    printf("WARNING: command buffer overflow: %zu characters dropped (%zu of %zu in use), beginning \"%.32s\"\n",
           length, used, kBufferSize - 1, text);
  }
}

bool CmdManager::waiting() const {
  // Signed difference: correct across the 32-bit wrap of the millisecond clock.
  return waitSet_ && static_cast<int32_t>(clock_() - waitUntil_) < 0;
}

bool CmdManager::splitStatement(CmdArgs& args) {
  size_t consumed = args.tokenize(buffer_);
  size_t length = std::strlen(buffer_);
  if (consumed > length)
    consumed = length;
  std::memmove(buffer_, buffer_ + consumed, length - consumed + 1);
  return args.argc() > 0;
}

void CmdManager::executeText(const char* text) {
  if (configDepth_ == 0)
    configLoads_ = 0;
  appendText(text);
  if (waiting())
    return;
  waitSet_ = false;
  if (!buffer_[0])
    return;

  CmdArgs args;
  bool found = splitStatement(args);
  while (!found && buffer_[0])
    found = splitStatement(args);
  if (!found)
    return;

  for (;;) {
    const char* word = args.argv(0);
    if (String::icmp(word, "wait") == 0) {
      int delay = args.argc() > 1 ? ConVar::textToInt(args.argv(1)) : 500;
      waitUntil_ = clock_() + static_cast<uint32_t>(delay);
      waitSet_ = true;
      return;
    }
    const CmdRecord* record = findCommand(word);
    ConVar* var = nullptr;
    if (record && record->function) {
      record->function(args);
    } else if (g_conVarSystem && (var = g_conVarSystem->find(word)) != nullptr) {
      if (args.argc() > 1 && *args.argv(1))
        setFromText(var, args.argv(1));
      else
        g_conVarSystem->printVar(word);
    } else {
      printf("Command: \"%s\" %c9not found.\n", word, '^');
    }
    // A handler may have run a nested executeText (loadcfg) that set a wait.
    if (waiting())
      return;
    if (!splitStatement(args))
      return;
  }
}

void CmdManager::setFromText(ConVar* var, const char* text) {
  if (isStartupOnlyVariable(var->getName()) && std::strcmp(var->getString(), text) != 0) {
    printf("WARNING: \"%s\" is read only at start-up (give it on the command line); it stays \"%s\"\n",
           var->getName(), var->getString());
    return;
  }
  var->setValue(text);
}

void CmdManager::list(const CmdArgs& args) {
  const char* prefix = args.argc() > 1 ? args.argv(1) : "";
  size_t prefixLength = std::strlen(prefix);
  int total = 0;
  printf("Commands:\n");
  for (const CmdRecord* record = head_; record; record = record->next) {
    ++total;
    if (record->name[0] == '_')
      continue;
    if (prefixLength && std::strncmp(record->name, prefix, prefixLength) != 0)
      continue;
    printf("%-15s(%s)\n", record->name, record->description);
  }
  printf("\n%d Commands\n", total);
}

void CmdManager::printf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  vprintf(format, args);
  va_end(args);
}

void CmdManager::vprintf(const char* format, va_list args) {
  if (!format)
    return;
  char text[16384];
  std::vsnprintf(text, sizeof(text), format, args);
  if (output_)
    output_(outputUser_, text);
  echo(text);
}

void CmdManager::echo(const char* text) {
  if (con_devconsole.getBool()) {
    flushEcho();
    writePlain(text, stdout);
    return;
  }
  // Kept for the moment the echo is turned on (start-up messages come before any command line
  // could turn it on); the oldest lines go first when it grows too large.
  backlog_ += text;
  if (backlog_.size() > kBacklogSize) {
    size_t cut = backlog_.find('\n', backlog_.size() - kBacklogSize);
    backlog_.erase(0, cut == std::string::npos ? backlog_.size() - kBacklogSize : cut + 1);
  }
  // No console shows the text (none is installed, or it is closed): problems go where a user
  // starting the engine looks. An output hook that is no console (a tool's) keeps them.
  const bool shown = output_ && !(g_consoleSystem && !g_consoleSystem->isVisible());
  if (!shown && (String::istartsWith(text, "WARNING") || String::istartsWith(text, "ERROR")))
    writePlain(text, stderr);
}

void CmdManager::flushEcho() {
  if (backlog_.empty() || !con_devconsole.getBool())
    return;
  std::string held;
  held.swap(backlog_);
  writePlain(held.c_str(), stdout);
}

void CmdManager::writePlain(const char* text, FILE* stream) {
  // Colour escapes as the fonts read them: "^" and the character after it are dropped, "^^" shows
  // one "^" and the second is read again. A "^" before a blank, a line end or the end is dropped
  // alone, so no line loses its end.
  char out[512];
  size_t used = 0;
  for (const char* p = text; *p; ++p) {
    if (*p == '^' && p[1] != '^') {
      if (static_cast<unsigned char>(p[1]) > ' ')
        ++p;
      continue;
    }
    out[used++] = *p;
    if (used == sizeof(out)) {
      std::fwrite(out, 1, used, stream);
      used = 0;
    }
  }
  std::fwrite(out, 1, used, stream);
  std::fflush(stream);
}

void CmdManager::error(int fatal, const char* format, ...) {
  char text[4096];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof(text), format ? format : "", args);
  va_end(args);
  if (fatal == 1) {
    if (errorBox_)
      errorBox_(text, "assert");
    else if (g_commonSystem)
      g_commonSystem->errorBox(text, "assert");
    else
      printf("%s\n", text);
    executeText("quit");
  } else {
    // The common buffer keeps the text but shows nothing: warnings also go to the console.
    if (g_commonSystem)
      g_commonSystem->printf("%s", text);
    printf("%s", text);
  }
}

const CmdRecord* CmdManager::findCommand(const char* name) {
  if (!name)
    return nullptr;
  if (*name == '+' || *name == '-')
    ++name;
  for (const CmdRecord* record = head_; record; record = record->next) {
    if (String::icmp(record->name, name) == 0)
      return record;
  }
  return nullptr;
}

int CmdManager::countMatches(const char* prefix) {
  if (!prefix)
    return 0;
  int matches = 0;
  for (const CmdRecord* record = head_; record; record = record->next) {
    if (String::istartsWith(record->name, prefix))
      ++matches;
  }
  return matches;
}

void CmdManager::completePrefix(char* text, size_t size, const CmdRecord* record) {
  if (!text || size == 0 || !record)
    return;
  int typed = countMatches(text);
  if (typed == 1) {
    std::snprintf(text, size, "%s", record->name);
    return;
  }
  char work[128];
  size_t length = 0;
  for (; text[length] && length < sizeof(work) - 1; ++length)
    work[length] = String::toLowerChar(text[length]);
  work[length] = '\0';
  size_t nameLength = std::strlen(record->name);
  while (length < nameLength && length + 1 < sizeof(work)) {
    work[length] = record->name[length];
    work[length + 1] = '\0';
    if (countMatches(work) != typed)
      break;
    ++length;
  }
  work[length] = '\0';
  std::snprintf(text, size, "%s", work);
}

void CmdManager::completeCommand(char* text, size_t size) {
  if (!text || size == 0)
    return;
  char work[128];
  std::snprintf(work, sizeof(work), "%s", text[0] == '-' ? text + 1 : text);
  if (!work[0])
    return;

  int matches = 0;
  ConVar* exactVar = nullptr;
  ConVar* closestVar = nullptr;
  if (g_conVarSystem)
    matches += g_conVarSystem->completeName(work, &exactVar, &closestVar);

  const CmdRecord* exactCmd = nullptr;
  const CmdRecord* partialCmd = nullptr;
  size_t workLength = std::strlen(work);
  for (const CmdRecord* record = head_; record; record = record->next) {
    if (!String::istartsWith(record->name, work))
      continue;
    printf("CMD: %s (%s)\n", record->name, record->description);
    ++matches;
    if (std::strlen(record->name) == workLength)
      exactCmd = record;
    else
      partialCmd = record;
  }
  if (!matches)
    return;
  printf("\n");

  if (exactVar) {
    std::snprintf(text, size, "%s", exactVar->getName());
  } else if (exactCmd) {
    std::snprintf(text, size, "%s", exactCmd->name);
  } else if (closestVar && g_conVarSystem) {
    std::snprintf(text, size, "%s", work);
    g_conVarSystem->completePrefix(text, size, closestVar);
  } else if (partialCmd) {
    std::snprintf(text, size, "%s", work);
    completePrefix(text, size, partialCmd);
  }
}

void CmdManager::setOutput(CmdOutputFunction function, void* user) {
  output_ = function;
  outputUser_ = user;
}

namespace {

// Configuration files only, inside the game folder where loadcfg finds them: a relative
// "NAME.cfg" with no drive ("c:NAME"), no "..", no hidden part. Anything else could replace the
// game module, a map or a file outside the tree.
bool isConfigFileName(const char* name) {
  const size_t length = std::strlen(name);
  if (length <= 4 || String::icmp(name + length - 4, ".cfg") != 0 || std::strchr(name, ':'))
    return false;
  for (const char* p = name; *p; ++p) {
    if (*p == '.' && (p == name || p[-1] == '/' || p[-1] == '\\'))
      return false;
  }
  return IOSystem::isSafeName(name);
}

}  // namespace

void CmdManager::writeConfig(const CmdArgs& args) {
  char name[kMaxFileName + 1];
  std::snprintf(name, sizeof(name), "%s", args.argc() > 1 ? args.argv(1) : "default.cfg");
  if (!isConfigFileName(name)) {
    printf("WARNING: writecfg: refusing the file name \"%s\": only configuration files (NAME.cfg) inside the "
           "game folder are written\n",
           name);
    return;
  }
  if (!g_ioSystem)
    return;
  const char* basePath = g_conVarSystem ? g_conVarSystem->getString("fs_basepath") : "";
  const char* built = g_ioSystem->buildOSPath(basePath, nullptr, name);
  char path[4096];
  if (!built || std::snprintf(path, sizeof(path), "%s", built) >= static_cast<int>(sizeof(path))) {
    printf("ERROR: writecfg: the path of \"%s\" is too long\n", name);
    return;
  }
  FsStat existing;
  if (fsStat(path, &existing) && existing.type != FsType::kFile) {
    printf("ERROR: writecfg: \"%s\" is a folder or a special file; nothing written\n", name);
    return;
  }
  // The file system writes beside the old file and renames over it only once every byte is on
  // disk: a full disk or a failed write leaves the old configuration whole.
  IOFileHandle file = g_ioSystem->openFileWrite(path);
  if (!file) {
    printf("ERROR: writecfg: could not open \"%s\" for writing; nothing written\n", name);
    return;
  }
  g_ioSystem->printf(file, "// KEYS\n");
  g_ioSystem->printf(file, "clearkeys\n");
  if (g_keyBindingWriter)
    g_keyBindingWriter->writeSetKeys(file);
  g_ioSystem->printf(file, "\n// SYSTEM VARIABLES\n");
  if (g_conVarSystem)
    g_conVarSystem->writeArchived(file);
  if (g_ioSystem->closeFileChecked(file, nullptr))
    printf("%s saved.\n", name);
  else
    printf("ERROR: writecfg: \"%s\" was not saved (see the warning above); the old file is kept\n", name);
}

void CmdManager::loadConfig(const CmdArgs& args) {
  if (args.argc() < 2) {
    printf("usage: loadcfg <filename>\n");
    return;
  }
  const char* name = args.argv(1);
  if (configDepth_ >= kMaxConfigDepth) {
    printf("WARNING: loadcfg: \"%s\" nested deeper than %d files, skipped\n", name, kMaxConfigDepth);
    return;
  }
  if (configLoads_ >= kMaxConfigLoads) {
    printf("WARNING: loadcfg: \"%s\" skipped, %d files loaded already\n", name, kMaxConfigLoads);
    return;
  }
  ++configLoads_;
  // The declared size is checked before anything is read or inflated: a small pack may declare a
  // huge entry.
  IOFileHandle probe = 0;
  const int declared = g_ioSystem ? g_ioSystem->openFileRead(name, &probe) : -1;
  if (probe)
    g_ioSystem->closeFile(probe);
  if (declared > kMaxConfigBytes) {
    printf("ERROR: loadcfg: \"%s\" is %d bytes, more than the %d a configuration file may hold; not loaded\n",
           name, declared, kMaxConfigBytes);
    return;
  }
  IOData* data = g_ioSystem ? g_ioSystem->loadFile(name) : nullptr;
  if (!data) {
    if (g_ioSystem && g_ioSystem->nameExists(name)) {
      // Damaged (a pack entry failing its checksum) or unreadable: the user's file stays as it is.
      printf("ERROR: loadcfg: \"%s\" exists but cannot be read; it is left untouched\n", name);
      return;
    }
    printf("ERROR: Loading \"%s\" config file. Does it exist?\n", name);
    // Only a default.cfg that exists nowhere is made anew; any other name would be overwritten by
    // defaults.
    if (String::icmp(name, "default.cfg") == 0) {
      CmdArgs none;
      none.addWord("writecfg");
      writeConfig(none);
    }
    return;
  }
  // The handler's arguments live in the caller's frame; keep the name for the message.
  char fileName[kMaxFileName + 1];
  std::snprintf(fileName, sizeof(fileName), "%s", name);

  // Zero bytes are no configuration text: such a file is damaged (zero-filled or binary).
  if (data->length == 0)
    printf("WARNING: loadcfg: \"%s\" is empty: it sets nothing\n", fileName);
  else if (std::memchr(data->buffer, '\0', static_cast<size_t>(data->length)))
    printf("WARNING: loadcfg: \"%s\" holds zero bytes: it is damaged or no configuration file\n", fileName);
  ++configDepth_;
  bool inBlock = false;
  int lineNumber = 0;
  const char* p = data->buffer;
  const char* end = data->buffer + data->length;
  while (p < end) {
    const char* lineEnd = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
    if (!lineEnd)
      lineEnd = end;
    const char* start = p;
    size_t length = static_cast<size_t>(lineEnd - start);
    p = lineEnd + 1;
    ++lineNumber;
    char line[kConfigLineSize];
    if (length > sizeof(line) - 1) {
      // A cut line would run a different command (half a binding, a clipped value): skip it.
      printf("WARNING: loadcfg: line %d of \"%s\" is longer than %d characters, skipped\n", lineNumber,
             fileName, static_cast<int>(sizeof(line) - 1));
      continue;
    }
    std::memcpy(line, start, length);
    line[length] = '\0';
    stripComments(line, inBlock);
    if (!isBlank(line)) {
      checkConfigLine(line, fileName, lineNumber);
      executeText(line);
    }
  }
  --configDepth_;
  g_ioSystem->freeFile(data);
  printf("Config file %s loaded.\n", fileName);
}

void CmdManager::checkConfigLine(const char* line, const char* file, int lineNumber) {
  // A file cut inside a quoted value leaves the quote open: the value runs to the line's end.
  if (std::count(line, line + std::strlen(line), '"') % 2 != 0)
    printf("WARNING: %s line %d: a quoted value is not closed; the file may be cut or damaged\n", file,
           lineNumber);
  for (const char* p = line; *p;) {
    CmdArgs args;
    const size_t consumed = args.tokenize(p);
    if (consumed == 0)
      break;
    p += std::min(consumed, std::strlen(p));
    if (args.argc() == 0)
      continue;
    ConVar* var = g_conVarSystem ? g_conVarSystem->find(args.argv(0)) : nullptr;
    // A file cut inside a name leaves a word that names nothing.
    if (!var && !findCommand(args.argv(0)) && String::icmp(args.argv(0), "wait") != 0)
      printf("WARNING: %s line %d: \"%s\" is no command or variable; the file may be cut or damaged\n", file,
             lineNumber, args.argv(0));
    if (!var || args.argc() < 2 || !(var->getFlags() & (kConVarBool | kConVarInt | kConVarFloat)))
      continue;
    // Without a range the variable keeps what its type holds: a float up to the 2^32 every number
    // of content stays below, an integer the 32-bit range. With one it clamps.
    const char* text = args.argv(1);
    bool isNumber = false;
    const float value = ConVar::textToFloat(text, &isNumber);
    if (!isNumber)
      continue;
    const float low = var->getMinimum(), high = var->getMaximum();
    bool outside;
    if (high > low)
      outside = !(value >= low && value <= high);
    else if (var->getFlags() & kConVarFloat)
      outside = numberOutOfRange(text);
    else
      outside = !(std::fabs(textToDouble(text)) <= 2147483647.0);
    if (outside)
      printf("WARNING: %s line %d: \"%s\" is out of range for \"%s\"\n", file, lineNumber, text,
             var->getName());
  }
}

void CmdManager::toggle(const CmdArgs& args) {
  if (args.argc() < 2) {
    printf("usage: toggle <cvar name>\n");
    return;
  }
  ConVar* var = g_conVarSystem ? g_conVarSystem->find(args.argv(1)) : nullptr;
  if (!var)
    return;
  if (args.argc() == 2) {
    setFromText(var, var->getInt() == 0 ? "1" : "0");
  } else {
    int next = 2;  // none matched: the first listed value
    for (int i = 2; i < args.argc(); ++i) {
      if (std::fabs(ConVar::textToFloat(args.argv(i)) - var->getFloat()) < 0.001f) {
        next = i + 1 < args.argc() ? i + 1 : 2;
        break;
      }
    }
    setFromText(var, args.argv(next));
  }
  g_conVarSystem->printVar(var->getName());
}

void CmdManager::crash(const CmdArgs&) {
  if (!assertPrompt_) {
    printf("WARNING: test crash\n");
    return;
  }
  if (assertPrompt_("test crash", __FILE__, __LINE__))
    __builtin_trap();
}

CmdManager* getCmdManager() {
  if (!s_manager) {
    s_manager = new CmdManager;
    g_cmdSystem = s_manager;
    s_manager->addCommand("listCommands", cmdListCommands, kCmdFlagEngine, "prints commands to console");
    s_manager->addCommand("writecfg", cmdWriteCfg, kCmdFlagEngine, "saves the current user settings to file");
    s_manager->addCommand("loadcfg", cmdLoadCfg, kCmdFlagEngine, "loads user settings into the game");
    s_manager->addCommand("toggle", cmdToggle, kCmdFlagEngine,
                          "Can toggle through a list. (ex: toggle mycvar 0 1 2");
    s_manager->addCommand("crash", cmdCrash, kCmdFlagEngine, "causes a crash");
    s_manager->addCommand("listMemory", cmdListMemory, kCmdFlagEngine,
                          "list all allocations by the game and engine");
  }
  return s_manager;
}

CmdManager* findCmdManager() {
  return s_manager;
}

void destroyCmdManager() {
  if (!s_manager)
    return;
  if (g_cmdSystem == s_manager)
    g_cmdSystem = nullptr;
  delete s_manager;
  s_manager = nullptr;
}
