// The virtual file system: search list, file slots, whole-file reads, listings
// and path helpers. Every name may come from content or a pack made by anyone,
// so names with ".." or "::" are never found and every buffer write is bounded.

#include "system/iomanager.h"

#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>
#include <unordered_set>

#include "lib/interface/cmdsystem.h"
#include "lib/interface/convarsystem.h"
#include "platform/clock.h"
#include "system/commandline.h"

// The file system's console variables, read only here.
static ConVar fs_basepath("fs_basepath", "", kConVarString, "base install path");
static ConVar fs_cdpath("fs_cdpath", "", kConVarString, "path to cd/dvd drive");
static ConVar fs_basegame("fs_basegame", "", kConVarString);
static ConVar fs_game("fs_game", "", kConVarString | kConVarListC);
static ConVar fs_restrict("fs_restrict", "0", kConVarString | kConVarBool,
                          "restricts file filtering to only pak files");
static ConVar fs_debug("fs_debug", "0", kConVarString | kConVarBool,
                       "enables debug logging of all opened files");

namespace {

IOManager* s_instance = nullptr;

// The process command line, read once for the path variables when the file system starts.
std::string s_startupCommandLine;

// Read only at start-up: a configuration file (perhaps from someone else's pack) must never move
// where the engine reads and writes.
const char* const kStartupOnlyVariables[] = {"fs_basepath", "fs_cdpath", "fs_basegame", "fs_game"};

// A cached directory listing older than this is read again when a name misses
// in it, so files added behind the engine's back are found eventually.
constexpr uint32_t kListingRefreshMs = 2000;

char lowerChar(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool isSlash(char c) {
  return c == '/' || c == '\\';
}

char foldFileChar(char c) {
  c = lowerChar(c);
  return (c == '\\' || c == ':') ? '/' : c;
}

bool copyText(char* out, size_t size, const char* text) {
  const size_t length = strlen(text);
  if (length >= size) {
    return false;
  }
  memcpy(out, text, length + 1);
  return true;
}

bool endsWithNoCase(const char* text, const char* suffix) {
  const size_t t = strlen(text);
  const size_t s = strlen(suffix);
  if (s > t) {
    return false;
  }
  for (size_t i = 0; i < s; i++) {
    if (lowerChar(text[t - s + i]) != lowerChar(suffix[i])) {
      return false;
    }
  }
  return true;
}

// Names that could reach outside the search trees are refused everywhere.
bool isRefusedName(const char* name) {
  return strstr(name, "..") != nullptr || strstr(name, "::") != nullptr;
}

std::string lowerString(const char* text) {
  std::string s(text);
  for (char& c : s) {
    c = lowerChar(c);
  }
  return s;
}

// Matches a whole name against a directory wildcard ("*", "?") without case,
// the way content paths were always matched; a trailing ".*" also accepts
// names without any extension.
bool osPatternMatch(const char* pattern, const char* name) {
  const char* starPattern = nullptr;
  const char* starName = nullptr;
  const char* p = pattern;
  const char* n = name;
  while (*n) {
    if (*p == '*') {
      starPattern = ++p;
      starName = n;
    } else if (*p && (*p == '?' || lowerChar(*p) == lowerChar(*n))) {
      p++;
      n++;
    } else if (starPattern) {
      p = starPattern;
      n = ++starName;
    } else {
      return false;
    }
  }
  while (*p == '*') {
    p++;
  }
  if (*p == '\0') {
    return true;
  }
  return strcmp(p, ".*") == 0 && !strchr(name, '.');
}

// Case-insensitive set of the names already listed.
struct NameSet {
  std::unordered_set<std::string> seen;
  bool add(List<String>& names, const char* name) {
    if (!seen.insert(lowerString(name)).second) {
      return false;
    }
    names.append(String(name));
    return true;
  }
};

int writeNameList(const List<String>& names, char* buffer, int size) {
  if (!buffer || size <= 0) {
    return 0;
  }
  int used = 0;
  int count = 0;
  for (int i = 0; i < names.num(); i++) {
    const int length = names[i].length();
    if (used + length >= size) {
      ioPrintf("IOManager::getFileList: not enough space for all filenames\n");
      break;
    }
    memcpy(buffer + used, names[i].c_str(), static_cast<size_t>(length) + 1);
    used += length + 1;
    count++;
  }
  return count;
}

}  // namespace

void ioPrintf(const char* format, ...) {
  char text[4096];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof(text), format, args);
  va_end(args);
  if (g_cmdSystem) {
    g_cmdSystem->printf("%s", text);
  } else {
    fputs(text, stdout);
  }
}

// ---------------------------------------------------------------------------
// Life cycle

IOManager::IOManager() {
  memset(slots_, 0, sizeof(slots_));
}

IOManager::~IOManager() {
  shutdown();
}

IOManager* IOManager::getInstance() {
  if (!s_instance) {
    s_instance = new IOManager;
    g_ioSystem = s_instance;
  }
  return s_instance;
}

void setFileSystemCommandLine(const char* commandLine) {
  s_startupCommandLine = commandLine ? commandLine : "";
}

bool isStartupOnlyVariable(const char* name) {
  if (!name || !s_instance || !s_instance->hasSearchPaths()) {
    return false;
  }
  for (const char* locked : kStartupOnlyVariables) {
    if (String::icmp(name, locked) == 0) {
      return true;
    }
  }
  return false;
}

void destroyIOManager() {
  if (s_instance) {
    if (g_ioSystem == s_instance) {
      g_ioSystem = nullptr;
    }
    delete s_instance;
    s_instance = nullptr;
  }
}

bool IOManager::initialize(const char* gameDir) {
  ioPrintf("----- IOManager::initialize -----\n");
  if (!gameDir || strlen(gameDir) >= sizeof(currentGameDir_)) {
    ioPrintf("ERROR: IOManager::initialize: bad game directory\n");
    return false;
  }
  char cwd[kFsMaxPath] = {};
  for (int attempt = 0; attempt < 4 && !cwd[0]; attempt++) {
    if (!fsGetCwd(cwd, sizeof(cwd))) {
      cwd[0] = '\0';
    }
  }
  // The path variables given on the command line take effect now, before anything is searched.
  for (const char* name : kStartupOnlyVariables) {
    const char* given = getCommandLineOption(s_startupCommandLine.c_str(), name);
    if (!given[0]) {
      continue;
    }
    if (String::icmp(name, "fs_basepath") == 0) {
      copyText(cwd, sizeof(cwd), given);
    } else if (ConVar* var = g_conVarSystem ? g_conVarSystem->find(name) : nullptr) {
      var->setString(given);
    }
  }
  fixSlashes(cwd);
  fs_basepath.setString(cwd);
  // "fs_cdpath" and "fs_game" keep what was set before start-up: clearing them
  // here would leave no way to ever search them.

  snprintf(currentGameDir_, sizeof(currentGameDir_), "%s", gameDir);
  packEntryTotal_ = 0;
  forgetListings();

  // The variables are read back only through a registered copy; without the
  // console-variable manager the working directory is used directly.
  const char* basePath = cwd;
  const char* cdPath = fs_cdpath.getString();
  if (cdPath[0]) {
    addSearchPath(cdPath, gameDir);
  }
  if (basePath[0]) {
    addSearchPath(basePath, gameDir);
  }
  for (const char* extra : {fs_basegame.getString(), fs_game.getString()}) {
    if (extra[0] && String::icmp(gameDir, "media") == 0 && String::icmp(extra, gameDir) != 0) {
      if (cdPath[0]) {
        addSearchPath(cdPath, extra);
      }
      if (basePath[0]) {
        addSearchPath(basePath, extra);
      }
    }
  }
  ioPrintf("---------------------------------\n");
  ioPrintf("%d files in '%s' files\n", packEntryTotal_, ".bqp");
  return hasSearchPaths();
}

void IOManager::shutdown() {
  for (int i = 1; i < kMaxFileSlots; i++) {
    if (slots_[i].handle) {
      closeSlot(i);
    }
  }
  while (IOSearchPath* path = searchList_.nextOwner()) {
    path->node.remove();
    delete path->pack;
    delete path;
  }
  for (int i = 0; i < retiredPacks_.num(); i++) {
    delete retiredPacks_[i];
  }
  retiredPacks_.clear();
  currentGameDir_[0] = '\0';
  packEntryTotal_ = 0;
  forgetListings();
}

void IOManager::addSearchPath(const char* basePath, const char* gameDir) {
  basePath = basePath ? basePath : "";
  gameDir = gameDir ? gameDir : "";
  if (strlen(basePath) >= kFsMaxPath || strlen(gameDir) >= sizeof(currentGameDir_)) {
    ioPrintf("WARNING: IOManager::addSearchPath: path too long\n");
    return;
  }
  for (IOSearchPath* path = searchList_.nextOwner(); path; path = path->node.nextOwner()) {
    if (String::icmp(path->basePath, basePath) == 0 && String::icmp(path->gameDir, gameDir) == 0) {
      return;
    }
  }
  char directory[kFsMaxPath];
  if (!buildOSPathInto(directory, sizeof(directory), basePath, gameDir, "")) {
    ioPrintf("WARNING: IOManager::addSearchPath: path too long\n");
    return;
  }
  IOSearchPath* entry = new (std::nothrow) IOSearchPath;
  if (!entry) {
    ioPrintf("WARNING: IOManager::addSearchPath: out of memory\n");
    return;
  }
  snprintf(currentGameDir_, sizeof(currentGameDir_), "%s", gameDir);
  ioPrintf("adding '%s/%s'...\n", basePath, gameDir);
  snprintf(entry->basePath, sizeof(entry->basePath), "%s", basePath);
  snprintf(entry->gameDir, sizeof(entry->gameDir), "%s", gameDir);
  entry->node.addToFront(searchList_);

  // Packs go in front of their directory, in name order, so the last one is searched first.
  const char* root = searchRoot(entry);
  if (!root) {
    return;
  }
  List<String> names;
  scanOSDirectory(root, ".bqp", names, nullptr, false);
  if (names.num() == 0) {
    return;
  }
  names.sort([](const String& a, const String& b) { return compareFileNames(a.c_str(), b.c_str()) < 0; });
  if (names.num() > kMaxPacksPerDirectory) {
    ioPrintf("WARNING: only the first %d of %d packs in '%s' are used\n", kMaxPacksPerDirectory, names.num(),
             directory);
  }
  for (int i = 0; i < names.num() && i < kMaxPacksPerDirectory; i++) {
    char packPath[kFsMaxPath];
    if (snprintf(packPath, sizeof(packPath), "%s/%s", root, names[i].c_str()) >=
        static_cast<int>(sizeof(packPath))) {
      continue;
    }
    IOSearchPath* packEntry = new (std::nothrow) IOSearchPath;
    IOPack* pack = packEntry ? loadPack(packPath, names[i].c_str()) : nullptr;
    if (!pack) {
      delete packEntry;
      continue;
    }
    pack->setGameDir(gameDir);
    packEntry->pack = pack;
    snprintf(packEntry->basePath, sizeof(packEntry->basePath), "%s", basePath);
    snprintf(packEntry->gameDir, sizeof(packEntry->gameDir), "%s", gameDir);
    packEntry->node.addToFront(searchList_);
  }
}

IOPack* IOManager::loadPack(const char* osPath, const char* fileName) {
  IOPack* pack = IOPack::load(osPath, fileName);
  if (pack) {
    packEntryTotal_ += pack->entryCount();
  }
  return pack;
}

IOPackReader IOManager::reopenPack(IOPack* pack) {
  return pack ? pack->reopen() : nullptr;
}

// ---------------------------------------------------------------------------
// Loose files without case

void IOManager::forgetListings() {
  dirCache_.clear();
  for (IOSearchPath* path = searchList_.nextOwner(); path; path = path->node.nextOwner()) {
    path->rootCheckedAt = 0;
  }
}

const IOManager::DirListing& IOManager::listing(std::string_view directory, bool refreshIfOld) {
  auto found = dirCache_.find(directory);
  const uint32_t now = platformMilliseconds();
  if (found != dirCache_.end() && (!refreshIfOld || now - found->second.listedAt <= kListingRefreshMs)) {
    return found->second;
  }
  if (found == dirCache_.end()) {
    found = dirCache_.emplace(std::string(directory), DirListing()).first;
  }
  DirListing& entry = found->second;
  entry.names.clear();
  entry.listedAt = now;
  entry.exists = fsListDirectory(
      directory.empty() ? "." : found->first.c_str(),
      [](void* user, const char* name, bool isDirectory) {
        auto* names = static_cast<decltype(DirListing::names)*>(user);
        // Of names differing only in case the first listed wins; an exact
        // spelling never gets here.
        names->emplace(lowerString(name), DirEntry{name, isDirectory});
        return true;
      },
      &entry.names);
  return entry;
}

bool IOManager::matchCase(char* out, size_t size, size_t length, const char* relative, bool wantDirectory,
                          bool exactTried) {
  char key[256];
  bool exactSoFar = true;
  bool isDirectory = true;
  const char* p = relative;
  for (;;) {
    while (*p == '/') {
      p++;
    }
    if (!*p) {
      break;
    }
    const char* end = p;
    while (*end && *end != '/') {
      end++;
    }
    const size_t componentLength = static_cast<size_t>(end - p);
    const char* component = p;
    p = end;
    if (componentLength == 1 && component[0] == '.') {
      continue;
    }
    if (componentLength >= sizeof(key)) {
      return false;  // longer than any file name can be
    }
    for (size_t i = 0; i < componentLength; i++) {
      key[i] = lowerChar(component[i]);
    }
    const std::string_view keyView(key, componentLength);
    const bool last = p[strspn(p, "/")] == '\0';
    const std::string_view parent(out, length);
    const DirListing* dir = &listing(parent, false);
    auto found = dir->names.find(keyView);
    if (found == dir->names.end()) {
      dir = &listing(parent, true);
      found = dir->names.find(keyView);
    }
    const bool separator = length > 0 && out[length - 1] != '/';
    if (found != dir->names.end()) {
      const DirEntry& entry = found->second;
      if (length + separator + entry.name.size() >= size || (!last && !entry.isDirectory)) {
        return false;
      }
      exactSoFar = exactSoFar && entry.name.compare(0, std::string::npos, component, componentLength) == 0;
      isDirectory = entry.isDirectory;
      if (separator) {
        out[length++] = '/';
      }
      memcpy(out + length, entry.name.data(), entry.name.size());
      length += entry.name.size();
      out[length] = '\0';
      continue;
    }
    // Not in the listing. When everything so far was spelled exactly, the
    // exact path already failed to open: a miss costs no further system call.
    // Otherwise the name may be newer than the listing (kept up to
    // kListingRefreshMs): ask the system once.
    if (exactSoFar && exactTried) {
      return false;
    }
    if (length + separator + componentLength >= size) {
      return false;
    }
    if (separator) {
      out[length++] = '/';
    }
    memcpy(out + length, component, componentLength);
    length += componentLength;
    out[length] = '\0';
    FsStat st;
    if (!fsStat(out, &st) || (!last && st.type != FsType::kDirectory)) {
      return false;
    }
    isDirectory = st.type == FsType::kDirectory;
  }
  return isDirectory == wantDirectory;
}

bool IOManager::resolveCase(const char* path, char* out, size_t size, bool wantDirectory) {
  FsStat st;
  if (fsStat(path, &st)) {
    return (st.type == FsType::kDirectory) == wantDirectory && copyText(out, size, path);
  }
  if (size < 2) {
    return false;
  }
  size_t length = 0;
  if (path[0] == '/') {
    out[length++] = '/';
  }
  out[length] = '\0';
  return matchCase(out, size, length, path, wantDirectory, true);
}

FILE* IOManager::openResolved(const char* path, int64_t* size) {
  if (FILE* file = fsOpenRead(path, size)) {
    return file;
  }
  char actual[kFsMaxPath];
  if (!resolveCase(path, actual, sizeof(actual), false)) {
    return nullptr;
  }
  return fsOpenRead(actual, size);
}

const char* IOManager::searchRoot(IOSearchPath* path) {
  const uint32_t now = platformMilliseconds();
  if (path->rootCheckedAt == 0 || (!path->rootExists && now - path->rootCheckedAt > kListingRefreshMs)) {
    char directory[kFsMaxPath];
    path->rootExists = buildOSPathInto(directory, sizeof(directory), path->basePath, path->gameDir, "") &&
                       resolveCase(directory[0] ? directory : ".", path->root, sizeof(path->root), true);
    path->rootCheckedAt = now ? now : 1;
  }
  return path->rootExists ? path->root : nullptr;
}

FILE* IOManager::openInSearchPath(IOSearchPath* path, const char* name, int64_t* size) {
  const char* root = searchRoot(path);
  if (!root) {
    return nullptr;
  }
  const size_t rootLength = strlen(root);
  const size_t nameLength = strlen(name);
  char osPath[kFsMaxPath];
  char relative[kFsMaxPath];
  if (rootLength + 1 + nameLength >= sizeof(osPath)) {
    return nullptr;
  }
  for (size_t i = 0; i <= nameLength; i++) {
    relative[i] = name[i] == '\\' ? '/' : name[i];
  }
  memcpy(osPath, root, rootLength);
  osPath[rootLength] = '/';
  memcpy(osPath + rootLength + 1, relative, nameLength + 1);
  if (FILE* file = fsOpenRead(osPath, size)) {
    return file;
  }
  osPath[rootLength] = '\0';
  if (!matchCase(osPath, sizeof(osPath), rootLength, relative, false, true)) {
    return nullptr;
  }
  return fsOpenRead(osPath, size);
}

// ---------------------------------------------------------------------------
// Slots

IOFileSlot* IOManager::slotFor(IOFileHandle file) {
  if (file < 1 || file >= static_cast<IOFileHandle>(kMaxFileSlots) || !slots_[file].handle) {
    return nullptr;
  }
  return &slots_[file];
}

int IOManager::findFreeSlot() const {
  for (int i = 1; i < kMaxFileSlots; i++) {
    if (!slots_[i].handle) {
      return i;
    }
  }
  return 0;
}

int IOManager::takeSlot(const char* name) {
  const int index = findFreeSlot();
  if (index == 0) {
    ioPrintf("WARNING: no free file handle for '%s': %d files are open\n", name, kMaxFileSlots - 1);
  }
  return index;
}

int IOManager::openPlain(int index, FILE* stream, const char* name, int64_t length) {
  if (length < 0 || length > INT_MAX) {
    ioPrintf("WARNING: cannot read '%s': its length cannot be handled\n", name);
    fclose(stream);
    return -1;
  }
  IOFileSlot& slot = slots_[index];
  memset(&slot, 0, sizeof(slot));
  slot.handle = stream;
  slot.kind = kIOFilePlain;
  slot.length = static_cast<int>(length);
  snprintf(slot.name, sizeof(slot.name), "%s", name);
  return slot.length;
}

int IOManager::openPacked(int index, IOPack* pack, const IOPackEntry* entry, const char* name,
                          bool privateReader) {
  IOPackReader reader = nullptr;
  if (privateReader) {
    reader = reopenPack(pack);
    if (!reader) {
      ioPrintf("WARNING: cannot read '%s': pack '%s' cannot be opened again\n", name, pack->osPath());
      return -1;
    }
  } else {
    reader = pack->sharedReader();
    if (pack->sharedOwner != 0 && pack->sharedOwner != index) {
      // The slot that stood in the shared reader claims it back when it next reads.
      IOPack::closeEntry(reader);
    }
    pack->sharedOwner = 0;
  }
  const int length = IOPack::openEntry(reader, entry, name);
  if (length < 0) {
    if (privateReader) {
      IOPack::closeReader(reader);
    }
    return -1;
  }
  if (!privateReader) {
    pack->sharedOwner = index;
  }
  IOFileSlot& slot = slots_[index];
  memset(&slot, 0, sizeof(slot));
  slot.handle = reader;
  slot.privateReader = privateReader;
  slot.length = length;
  slot.entryOffset = entry->offset;
  slot.kind = kIOFilePacked;
  snprintf(slot.name, sizeof(slot.name), "%s", name);
  slot.pack = pack;
  slot.entry = entry;
  slot.position = 0;
  return length;
}

bool IOManager::skipForward(IOFileSlot& slot, int count) {
  char scratch[4096];
  while (count > 0) {
    const int step = count < static_cast<int>(sizeof(scratch)) ? count : static_cast<int>(sizeof(scratch));
    const int got = IOPack::readEntry(slot.handle, scratch, step);
    if (got <= 0) {
      return false;
    }
    slot.position += got;
    count -= got;
  }
  return true;
}

bool IOManager::claimSharedReader(int index) {
  IOFileSlot& slot = slots_[index];
  if (slot.privateReader || slot.pack->sharedOwner == index) {
    return true;
  }
  const int target = slot.position;
  if (slot.pack->sharedOwner != 0) {
    IOPack::closeEntry(slot.handle);
  }
  slot.pack->sharedOwner = 0;
  if (IOPack::openEntry(slot.handle, slot.entry, slot.name) < 0) {
    return false;
  }
  slot.pack->sharedOwner = index;
  slot.position = 0;
  if (!skipForward(slot, target)) {
    ioPrintf("WARNING: cannot read '%s': damaged data in its pack\n", slot.name);
    return false;
  }
  return true;
}

bool IOManager::closeSlot(int index) {
  IOFileSlot& slot = slots_[index];
  bool ok = true;
  if (slot.kind == kIOFilePacked) {
    if (slot.privateReader) {
      ok = IOPack::closeEntry(slot.handle);
      IOPack::closeReader(slot.handle);
    } else if (slot.pack->sharedOwner == index) {
      ok = IOPack::closeEntry(slot.handle);
      slot.pack->sharedOwner = 0;
    }
    if (!ok) {
      ioPrintf("WARNING: '%s' failed its checksum: the pack is damaged\n", slot.name);
    }
  } else if (slot.handle && slot.forWriting) {
    ok = commitWrite(index, nullptr);
  } else if (slot.handle) {
    fclose(static_cast<FILE*>(slot.handle));
  }
  memset(&slot, 0, sizeof(slot));
  writePaths_[index].clear();
  return ok;
}

// A file opened for writing lives under a temporary name beside its own until it is closed: only
// a file whose every write, flush and close succeeded is renamed over the old one, so a full disk
// or a failed write leaves the old file whole and no partial file behind.
bool IOManager::commitWrite(int index, const char* replace) {
  IOFileSlot& slot = slots_[index];
  const std::string& path = writePaths_[index];
  const std::string temporary = path + kWriteSuffix;
  const char* target = replace ? replace : path.c_str();
  const char* failed = nullptr;
  bool ok = !slot.writeFailed;
  if (!ok) {
    failed = "a write failed";
  }
  if (!fsCloseWrite(static_cast<FILE*>(slot.handle)) && ok) {
    ok = false;
    failed = "the flush or close failed";
  }
  slot.handle = nullptr;
  char reason[160];
  snprintf(reason, sizeof(reason), "%s", fsLastErrorText());
  if (ok && !mayWrite(target)) {
    ioPrintf("WARNING: refusing to write '%s': outside the game tree\n", target);
    fsRemove(temporary.c_str());
    forgetListings();
    return false;
  }
  if (ok && !fsRename(temporary.c_str(), target)) {
    ok = false;
    failed = "renaming it into place failed";
    snprintf(reason, sizeof(reason), "%s", fsLastErrorText());
  }
  if (!ok) {
    fsRemove(temporary.c_str());
    FsStat old;
    const bool kept = fsStat(target, &old) && old.type == FsType::kFile;
    ioPrintf("WARNING: could not write '%s': %s (%s); %s\n", target, failed, reason,
             kept ? "the old file is kept" : "no file was written");
  }
  forgetListings();
  return ok;
}

int IOManager::fileLength(IOFileHandle file) {
  const IOFileSlot* slot = slotFor(file);
  return slot ? slot->length : -1;
}

// ---------------------------------------------------------------------------
// Opening, reading, writing

int IOManager::openFileRead(const char* name, IOFileHandle* file, bool privateReader) {
  if (file) {
    *file = 0;
  }
  if (!hasSearchPaths() || !name) {
    return file ? -1 : 0;
  }
  if (!file) {
    return fileExists(name) ? 1 : 0;
  }
  if (isSlash(name[0])) {
    name++;
  }
  if (!name[0] || isRefusedName(name)) {
    return -1;
  }
  const int index = takeSlot(name);
  if (index == 0) {
    return -1;
  }
  for (IOSearchPath* path = searchList_.nextOwner(); path; path = path->node.nextOwner()) {
    if (path->pack) {
      if (const IOPackEntry* entry = path->pack->find(name)) {
        const int length = openPacked(index, path->pack, entry, name, privateReader);
        if (length < 0) {
          return -1;
        }
        *file = static_cast<IOFileHandle>(index);
        return length;
      }
      continue;
    }
    int64_t size = -1;
    if (FILE* stream = openInSearchPath(path, name, &size)) {
      const int length = openPlain(index, stream, name, size);
      if (length < 0) {
        return -1;
      }
      *file = static_cast<IOFileHandle>(index);
      return length;
    }
  }
  return -1;
}

bool IOManager::fileExists(const char* name) {
  if (!name) {
    return false;
  }
  if (isSlash(name[0])) {
    name++;
  }
  if (!name[0] || isRefusedName(name)) {
    return false;
  }
  for (IOSearchPath* path = searchList_.nextOwner(); path; path = path->node.nextOwner()) {
    if (path->pack) {
      if (path->pack->find(name)) {
        return true;
      }
      continue;
    }
    if (FILE* stream = openInSearchPath(path, name)) {
      fclose(stream);
      return true;
    }
  }
  return false;
}

bool IOManager::nameExists(const char* name) {
  if (fileExists(name)) {
    return true;
  }
  if (!name || isSlash(name[0]) || !name[0] || isRefusedName(name)) {
    return false;
  }
  for (IOSearchPath* path = searchList_.nextOwner(); path; path = path->node.nextOwner()) {
    const char* root = path->pack ? nullptr : searchRoot(path);
    char osPath[kFsMaxPath];
    if (!root || snprintf(osPath, sizeof(osPath), "%s/%s", root, name) >= static_cast<int>(sizeof(osPath))) {
      continue;
    }
    FsStat st;
    char actual[kFsMaxPath];
    // Anything on disk under the name counts: a FIFO or an unreadable file is still the user's.
    if (fsStat(osPath, &st) || resolveCase(osPath, actual, sizeof(actual), false) ||
        resolveCase(osPath, actual, sizeof(actual), true)) {
      return true;
    }
  }
  return false;
}

bool IOManager::osFileExists(const char* path) {
  if (!path) {
    return false;
  }
  FILE* stream = openResolved(path);
  if (stream) {
    fclose(stream);
  }
  return stream != nullptr;
}

int IOManager::openOSFileRead(const char* path, IOFileHandle* file) {
  if (file) {
    *file = 0;
  }
  if (!path || !path[0]) {
    return 0;
  }
  int64_t size = -1;
  FILE* stream = openResolved(path, &size);
  if (!stream) {
    return 0;
  }
  if (!file) {
    fclose(stream);
    return size < 0 || size > INT_MAX ? 0 : static_cast<int>(size);
  }
  const int index = takeSlot(path);
  if (index == 0) {
    fclose(stream);
    return 0;
  }
  const int length = openPlain(index, stream, path, size);
  if (length < 0) {
    return 0;
  }
  *file = static_cast<IOFileHandle>(index);
  return length;
}

bool IOManager::mayWrite(const char* path) const {
  if (!path || !path[0] || isRefusedName(path)) {
    return false;
  }
  if (!isSlash(path[0])) {
    return true;
  }
  for (const IOSearchPath* entry = searchList_.nextOwner(); entry; entry = entry->node.nextOwner()) {
    const size_t length = strlen(entry->basePath);
    if (!entry->pack && length > 0 && strncmp(path, entry->basePath, length) == 0 &&
        (isSlash(path[length]) || isSlash(entry->basePath[length - 1]))) {
      return true;
    }
  }
  return false;
}

IOFileHandle IOManager::openFileWrite(const char* path) {
  if (!hasSearchPaths() || !path || !path[0]) {
    return 0;
  }
  if (!mayWrite(path)) {
    ioPrintf("WARNING: refusing to write '%s': outside the game tree\n", path);
    return 0;
  }
  const int index = takeSlot(path);
  if (index == 0) {
    return 0;
  }
  const std::string temporary = std::string(path) + kWriteSuffix;
  FILE* stream = fsOpenWrite(temporary.c_str());
  if (!stream) {
    FsStat target;
    if (fsStat(path, &target) && target.type == FsType::kDirectory) {
      ioPrintf("WARNING: could not write '%s': it is a folder\n", path);
    } else {
      ioPrintf("WARNING: could not write '%s': opening '%s' failed (%s)\n", path, temporary.c_str(),
               fsLastErrorText());
    }
    return 0;
  }
  forgetListings();
  IOFileSlot& slot = slots_[index];
  memset(&slot, 0, sizeof(slot));
  slot.handle = stream;
  slot.kind = kIOFilePlain;
  slot.forWriting = true;
  snprintf(slot.name, sizeof(slot.name), "%s", path);
  writePaths_[index] = path;
  return static_cast<IOFileHandle>(index);
}

bool IOManager::closeFileChecked(IOFileHandle file, const char* replace) {
  IOFileSlot* slot = slotFor(file);
  if (!slot) {
    return false;
  }
  const int index = static_cast<int>(file);
  if (slot->kind != kIOFilePlain || !slot->forWriting) {
    closeSlot(index);
    return false;
  }
  const bool ok = commitWrite(index, replace);
  closeSlot(index);
  return ok;
}

int IOManager::printf(IOFileHandle file, const char* format, ...) {
  char text[kPrintfBufferSize];
  va_list args;
  va_start(args, format);
  int length = vsnprintf(text, sizeof(text), format, args);
  va_end(args);
  if (length < 0) {
    return 0;
  }
  if (length >= static_cast<int>(sizeof(text))) {
    length = static_cast<int>(sizeof(text)) - 1;
  }
  return write(text, length, file);
}

int IOManager::read(void* buffer, int length, IOFileHandle file) {
  IOFileSlot* slot = slotFor(file);
  if (!slot || !buffer || length <= 0) {
    return 0;
  }
  if (slot->kind == kIOFilePacked) {
    if (!claimSharedReader(static_cast<int>(file))) {
      return 0;
    }
    const int got = IOPack::readEntry(slot->handle, buffer, length);
    if (got < 0) {
      ioPrintf("WARNING: cannot read '%s': damaged data in its pack (error %d)\n", slot->name, got);
      return 0;
    }
    slot->position += got;
    return got;
  }
  FILE* stream = static_cast<FILE*>(slot->handle);
  char* out = static_cast<char*>(buffer);
  int done = 0;
  bool triedOnce = false;
  while (done < length) {
    const size_t got = fread(out + done, 1, static_cast<size_t>(length - done), stream);
    if (got == 0) {
      if (triedOnce || ferror(stream)) {
        break;
      }
      triedOnce = true;
      continue;
    }
    triedOnce = false;
    done += static_cast<int>(got);
  }
  return done;
}

int IOManager::write(const void* buffer, int length, IOFileHandle file) {
  IOFileSlot* slot = slotFor(file);
  if (!slot || slot->kind != kIOFilePlain || !buffer || length < 0) {
    return 0;
  }
  FILE* stream = static_cast<FILE*>(slot->handle);
  const char* in = static_cast<const char*>(buffer);
  int done = 0;
  bool triedOnce = false;
  while (done < length) {
    const size_t put = fwrite(in + done, 1, static_cast<size_t>(length - done), stream);
    if (ferror(stream)) {
      fsNoteWriteError();
      slot->writeFailed = true;
      return 0;
    }
    if (put == 0) {
      if (triedOnce) {
        fsNoteWriteError();
        slot->writeFailed = true;
        return 0;
      }
      triedOnce = true;
      continue;
    }
    triedOnce = false;
    done += static_cast<int>(put);
  }
  return length;
}

void IOManager::closeFile(IOFileHandle file) {
  if (slotFor(file)) {
    closeSlot(static_cast<int>(file));
  }
}

int IOManager::tell(IOFileHandle file) {
  IOFileSlot* slot = slotFor(file);
  if (!slot) {
    return -1;
  }
  if (slot->kind == kIOFilePacked) {
    return slot->position;
  }
  const int64_t position = fsTell(static_cast<FILE*>(slot->handle));
  return position > INT_MAX ? INT_MAX : static_cast<int>(position);
}

int IOManager::seek(IOFileHandle file, int offset, int origin) {
  IOFileSlot* slot = slotFor(file);
  if (!slot) {
    return hasSearchPaths() ? 0 : -1;
  }
  if (origin < 0 || origin > 2) {
    origin = 1;
  }
  if (slot->kind == kIOFilePlain) {
    static const int kOrigins[3] = {SEEK_SET, SEEK_CUR, SEEK_END};
    return fsSeek(static_cast<FILE*>(slot->handle), offset, kOrigins[origin]) ? 1 : 0;
  }
  const int index = static_cast<int>(file);
  int64_t target = offset;
  if (origin == 1) {
    target += slot->position;
  } else if (origin == 2) {
    target += slot->length;
  }
  target = target < 0 ? 0 : target > slot->length ? slot->length : target;
  if (!claimSharedReader(index)) {
    return -104;
  }
  if (target < slot->position) {
    // Inflation only runs forward: start the entry again.
    IOPack::closeEntry(slot->handle);
    if (IOPack::openEntry(slot->handle, slot->entry, slot->name) < 0) {
      if (!slot->privateReader) {
        slot->pack->sharedOwner = 0;
      }
      return -104;
    }
    slot->position = 0;
  }
  if (!skipForward(*slot, static_cast<int>(target) - slot->position)) {
    ioPrintf("WARNING: cannot seek in '%s': damaged data in its pack\n", slot->name);
    return -104;
  }
  return 1;
}

// ---------------------------------------------------------------------------
// Whole files

bool IOManager::readFile(const char* name, IOData* data, bool osPath) {
  if (!data || !name) {
    return false;
  }
  IOFileHandle file = 0;
  const int length = osPath ? openOSFileRead(name, &file) : openFileRead(name, &file, false);
  if (!file || length < 0) {
    return false;
  }
  delete[] data->buffer;
  data->buffer = nullptr;
  data->length = 0;
  snprintf(data->name, sizeof(data->name), "%s", name);
  data->buffer = new (std::nothrow) char[static_cast<size_t>(length) + 1];
  if (!data->buffer) {
    ioPrintf("WARNING: out of memory reading '%s' (%d bytes)\n", name, length);
    closeFile(file);
    return false;
  }
  const int got = length > 0 ? read(data->buffer, length, file) : 0;
  data->buffer[got] = '\0';
  data->length = got;
  const bool intact = closeSlot(static_cast<int>(file));
  return got == length && intact;
}

IOData* IOManager::loadFile(const char* name, bool osPath) {
  IOData* data = new (std::nothrow) IOData;
  if (!data) {
    return nullptr;
  }
  data->heapOwned = true;
  if (!readFile(name, data, osPath)) {
    delete data;
    return nullptr;
  }
  return data;
}

void IOManager::freeFile(IOData* data) {
  if (!data) {
    return;
  }
  delete[] data->buffer;
  data->buffer = nullptr;
  data->length = 0;
  data->name[0] = '\0';
  if (data->heapOwned) {
    delete data;
  }
}

int IOManager::readFileToBuffer(const char* name, void* buffer, int size, bool osPath) {
  if (!buffer || size <= 0) {
    return 0;
  }
  char* out = static_cast<char*>(buffer);
  out[0] = '\0';
  if (!name) {
    return 0;
  }
  IOFileHandle file = 0;
  const int length = osPath ? openOSFileRead(name, &file) : openFileRead(name, &file, false);
  if (!file) {
    return 0;
  }
  int got = 0;
  if (length >= 0 && length < size) {
    got = read(out, length, file);
    out[got] = '\0';
  }
  if (!closeSlot(static_cast<int>(file))) {
    out[0] = '\0';
    return 0;
  }
  return got;
}

// ---------------------------------------------------------------------------
// Packs

int IOManager::writeToPack(const char* packPath, const char* entryName, const void* data, int length) {
  if (packPath && !mayWrite(packPath)) {
    ioPrintf("WARNING: refusing to write '%s': outside the game tree\n", packPath);
    return -1;
  }
  const int result = IOPack::writeEntry(packPath, entryName, data, length);
  forgetListings();
  if (result == 0) {
    reloadPack(packPath);
  }
  return result;
}

void IOManager::reloadPack(const char* osPath) {
  char wanted[kFsMaxPath];
  if (!copyText(wanted, sizeof(wanted), osPath)) {
    return;
  }
  fixSlashes(wanted);
  for (IOSearchPath* path = searchList_.nextOwner(); path; path = path->node.nextOwner()) {
    IOPack* old = path->pack;
    if (!old || strcmp(old->osPath(), wanted) != 0) {
      continue;
    }
    char fileName[256];
    getFileName(old->osPath(), fileName, sizeof(fileName));
    IOPack* fresh = IOPack::load(old->osPath(), fileName);
    if (!fresh) {
      continue;  // keep serving what was indexed before
    }
    fresh->setGameDir(old->gameDir());
    packEntryTotal_ += fresh->entryCount() - old->entryCount();
    path->pack = fresh;
    bool inUse = false;
    for (int i = 1; i < kMaxFileSlots; i++) {
      inUse = inUse || (slots_[i].handle && slots_[i].pack == old);
    }
    if (inUse) {
      retiredPacks_.append(old);
    } else {
      delete old;
    }
  }
}

int IOManager::copyFileToPack(const char* packPath, const char* name) {
  IOData* data = loadFile(name, false);
  if (!data) {
    return -1;
  }
  const int result = writeToPack(packPath, name, data->buffer, data->length);
  freeFile(data);
  return result;
}

// ---------------------------------------------------------------------------
// Path helpers

void IOManager::fixSlashes(char* path) {
  if (!path) {
    return;
  }
  size_t length = 0;
  for (; path[length]; length++) {
    if (path[length] == '\\') {
      path[length] = '/';
    }
  }
  if (length > 0 && path[length - 1] == '/') {
    path[length - 1] = '\0';
  }
}

bool IOManager::buildOSPathInto(char* out, size_t size, const char* basePath, const char* gameDir,
                                const char* name) const {
  if (!out || size == 0) {
    return false;
  }
  out[0] = '\0';
  name = name ? name : "";
  if (name[0] && name[1] == ':') {
    return copyText(out, size, name);
  }
  basePath = basePath ? basePath : "";
  gameDir = (gameDir && gameDir[0]) ? gameDir : currentGameDir_;
  size_t used = 0;
  auto append = [&](const char* text) {
    const size_t length = strlen(text);
    if (used + length >= size) {
      return false;
    }
    memcpy(out + used, text, length + 1);
    used += length;
    return true;
  };
  auto separate = [&]() { return used == 0 || out[used - 1] == '/' || append("/"); };
  if (!append(basePath)) {
    out[0] = '\0';
    return false;
  }
  for (size_t i = 0; i < used; i++) {
    if (out[i] == '\\') {
      out[i] = '/';
    }
  }
  if (!separate() || !append(gameDir) || !separate() || !append(name)) {
    out[0] = '\0';
    return false;
  }
  const_cast<IOManager*>(this)->fixSlashes(out);
  return true;
}

const char* IOManager::buildOSPath(const char* basePath, const char* gameDir, const char* name) {
  char* out = osPathBuffers_[osPathIndex_];
  osPathIndex_ ^= 1;
  if (!buildOSPathInto(out, kFsMaxPath, basePath, gameDir, name)) {
    ioPrintf("WARNING: IOManager::buildOSPath: path longer than %d characters\n",
             static_cast<int>(kFsMaxPath) - 1);
    return nullptr;
  }
  return out;
}

void IOManager::getExtension(char* out, size_t size, const char* path) {
  if (!out || size == 0) {
    return;
  }
  out[0] = '\0';
  if (!path) {
    return;
  }
  const char* dot = nullptr;
  for (const char* p = path; *p; p++) {
    if (*p == '.') {
      dot = p;
    } else if (isSlash(*p)) {
      dot = nullptr;
    }
  }
  if (dot) {
    snprintf(out, size, "%s", dot);
  }
}

void IOManager::setExtension(char* path, size_t size, const char* extension) {
  if (!path || size == 0) {
    return;
  }
  extension = extension ? extension : "";
  size_t length = strlen(path);
  size_t cut = length;
  for (size_t i = 0; i < length; i++) {
    if (path[i] == '.') {
      cut = i;
    } else if (isSlash(path[i])) {
      cut = length;
    }
  }
  const size_t extensionLength = strlen(extension);
  if (cut + extensionLength >= size) {
    ioPrintf("WARNING: IOManager::setExtension: '%s' with '%s' does not fit\n", path, extension);
    return;
  }
  memcpy(path + cut, extension, extensionLength + 1);
}

bool IOManager::getFileName(const char* path, char* out, int size) {
  if (!out || size <= 0) {
    return false;
  }
  out[0] = '\0';
  if (!path) {
    return false;
  }
  const char* slash = nullptr;
  for (const char* p = path; *p; p++) {
    if (isSlash(*p)) {
      slash = p;
    }
  }
  const char* name = slash ? slash + 1 : path;
  size_t length = strlen(name);
  length = length > 255 ? 255 : length;
  if (length >= static_cast<size_t>(size)) {
    length = static_cast<size_t>(size) - 1;
  }
  memcpy(out, name, length);
  out[length] = '\0';
  return slash != nullptr;
}

void IOManager::replaceFileName(char* path, size_t size, const char* newName) {
  if (!path || size == 0 || !newName) {
    return;
  }
  size_t keep = strlen(path);
  for (size_t i = keep; i > 0; i--) {
    if (isSlash(path[i - 1])) {
      keep = i;
      break;
    }
  }
  const size_t nameLength = strlen(newName);
  if (keep + nameLength >= size) {
    ioPrintf("WARNING: IOManager::replaceFileName: '%s' with '%s' does not fit\n", path, newName);
    return;
  }
  memmove(path + keep, newName, nameLength + 1);
}

int IOManager::splitDirectory(const char* path, char* out, size_t size, int* slashCount) {
  int last = -1;
  int slashes = 0;
  for (int i = 0; path && path[i]; i++) {
    if (isSlash(path[i])) {
      last = i;
      slashes++;
    }
  }
  if (out && size > 0) {
    size_t length = last < 0 ? 0 : static_cast<size_t>(last);
    length = length >= size ? size - 1 : length;
    if (length > 0) {
      memcpy(out, path, length);
    }
    out[length] = '\0';
  }
  if (slashCount) {
    *slashCount = slashes;
  }
  return last;
}

int IOManager::compareFileNames(const char* a, const char* b) {
  for (;; a++, b++) {
    const char ca = foldFileChar(*a);
    const char cb = foldFileChar(*b);
    if (ca != cb) {
      return static_cast<unsigned char>(ca) < static_cast<unsigned char>(cb) ? -1 : 1;
    }
    if (ca == '\0') {
      return 0;
    }
  }
}

bool IOManager::wildcardMatch(const char* pattern, const char* name, bool caseSensitive) {
  auto fold = [caseSensitive](char c) { return caseSensitive ? c : lowerChar(c); };
  const char* p = pattern;
  const char* n = name;
  while (*p) {
    if (*p == '*') {
      p++;
      size_t literal = 0;
      while (p[literal] && p[literal] != '*' && p[literal] != '?') {
        literal++;
      }
      if (literal == 0) {
        continue;
      }
      const char* found = nullptr;
      for (const char* start = n; *start && !found; start++) {
        size_t i = 0;
        while (i < literal && start[i] && fold(start[i]) == fold(p[i])) {
          i++;
        }
        if (i == literal) {
          found = start;
        }
      }
      if (!found) {
        return false;
      }
      n = found + literal;
      p += literal;
    } else if (*p == '?') {
      if (!*n) {
        return false;
      }
      p++;
      n++;
    } else if (*p == '[') {
      if (!*n) {
        return false;
      }
      const char c = fold(*n);
      bool member = false;
      p++;
      for (;;) {
        if (*p == '\0') {
          return false;  // an unclosed set matches nothing
        }
        if (*p == ']') {
          if (p[1] == ']') {
            member = member || c == ']';
            p += 2;
            continue;
          }
          p++;
          break;
        }
        const char low = fold(*p);
        char high = low;
        p++;
        if (*p == '-' && p[1] == ']' && p[2] == ']') {
          high = ']';
          p += 3;
        } else if (*p == '-' && p[1] != ']' && p[1] != '\0') {
          high = fold(p[1]);
          p += 2;
        }
        if (static_cast<unsigned char>(c) >= static_cast<unsigned char>(low) &&
            static_cast<unsigned char>(c) <= static_cast<unsigned char>(high)) {
          member = true;
        }
      }
      if (!member) {
        return false;
      }
      n++;
    } else {
      if (fold(*p) != fold(*n)) {
        return false;
      }
      p++;
      n++;
    }
  }
  return true;
}

bool IOManager::matchesFilter(const char* filter, const char* name) {
  char pattern[256];
  char text[256];
  snprintf(pattern, sizeof(pattern), "%s", filter ? filter : "");
  snprintf(text, sizeof(text), "%s", name ? name : "");
  return wildcardMatch(pattern, text, false);
}

bool IOManager::addUniqueName(List<String>& names, const char* name) {
  for (int i = 0; i < names.num(); i++) {
    if (String::icmp(names[i].c_str(), name) == 0) {
      return false;
    }
  }
  names.append(String(name));
  return true;
}

bool IOManager::createPath(const char* path) {
  if (!path || !path[0]) {
    return false;
  }
  if (hasSearchPaths() && !mayWrite(path)) {
    ioPrintf("WARNING: refusing to create '%s': outside the game tree\n", path);
    return false;
  }
  char buffer[kFsMaxPath];
  if (!copyText(buffer, sizeof(buffer), path)) {
    ioPrintf("WARNING: IOManager::createPath: path too long\n");
    return false;
  }
  for (char* p = buffer; *p; p++) {
    if (*p == '\\') {
      *p = '/';
    }
  }
  forgetListings();
  bool made = true;
  for (char* p = buffer + 1; *p; p++) {
    if (*p == '/' && p[-1] != '/') {
      *p = '\0';
      if (strcmp(buffer, ".") != 0) {
        made = fsMakeDir(buffer);
      }
      *p = '/';
    }
  }
  const size_t length = strlen(buffer);
  if (buffer[length - 1] != '/' && strcmp(buffer, ".") != 0) {
    made = fsMakeDir(buffer);
  }
  return made;
}

int IOManager::countOSFiles(const char* wildcard) {
  if (!wildcard || !wildcard[0]) {
    return 0;
  }
  char path[kFsMaxPath];
  if (!copyText(path, sizeof(path), wildcard)) {
    return 0;
  }
  for (char* p = path; *p; p++) {
    if (*p == '\\') {
      *p = '/';
    }
  }
  char* slash = strrchr(path, '/');
  const char* pattern = slash ? slash + 1 : path;
  char directory[kFsMaxPath];
  if (slash) {
    *slash = '\0';
    if (!path[0]) {
      strcpy(path, "/");
    }
    if (!resolveCase(path, directory, sizeof(directory), true)) {
      return 0;
    }
  } else {
    strcpy(directory, ".");
  }
  struct Count {
    const char* pattern;
    int count;
  } count{pattern, 0};
  fsListDirectory(
      directory,
      [](void* user, const char* name, bool isDirectory) {
        Count* c = static_cast<Count*>(user);
        if (!isDirectory && osPatternMatch(c->pattern, name)) {
          c->count++;
        }
        return true;
      },
      &count);
  return count.count;
}

// ---------------------------------------------------------------------------
// Listings

int IOManager::scanOSDirectory(const char* path, const char* extension, List<String>& names,
                               const char* filter, bool recursive) {
  extension = extension ? extension : "";
  if (!path) {
    return 0;
  }
  char root[kFsMaxPath];
  if (!resolveCase(path[0] ? path : ".", root, sizeof(root), true)) {
    return 0;
  }
  NameSet seen;
  for (int i = 0; i < names.num(); i++) {
    seen.seen.insert(lowerString(names[i].c_str()));
  }
  struct Scan {
    std::string subdirectory;
    const char* extension;
    const char* filter;
    bool recursive;
    List<String>* names;
    NameSet* seen;
    List<String>* pending;
    int added;
  };
  List<String> pending;
  pending.append(String(""));
  Scan scan{std::string(), extension, filter, recursive, &names, &seen, &pending, 0};
  // Deep or looping trees (links back up) end when the path no longer fits.
  constexpr int kMaxDirectories = 1 << 16;
  int visited = 0;
  while (pending.num() > 0 && visited++ < kMaxDirectories) {
    scan.subdirectory = pending[pending.num() - 1].c_str();
    pending.removeIndex(pending.num() - 1);
    std::string directory = std::string(root) + "/" + scan.subdirectory;
    if (directory.size() >= kFsMaxPath) {
      continue;
    }
    fsListDirectory(
        directory.c_str(),
        [](void* user, const char* name, bool isDirectory) {
          Scan* s = static_cast<Scan*>(user);
          if (name[0] == '.') {
            return true;
          }
          const bool hasExtension = s->extension[0] != '\0';
          // Everything when recursive, else "*" followed by the extension.
          if (!s->recursive && hasExtension && !endsWithNoCase(name, s->extension)) {
            return true;
          }
          const std::string listed = s->subdirectory + name;
          if (isDirectory) {
            if (s->recursive && listed.size() + 1 < kFsMaxPath) {
              s->pending->append(String((listed + "/").c_str()));
            }
            if (hasExtension) {
              return true;
            }
          } else if (s->recursive && hasExtension && !endsWithNoCase(name, s->extension)) {
            return true;
          }
          if (s->filter && !matchesFilter(s->filter, listed.c_str())) {
            return true;
          }
          if (s->seen->add(*s->names, listed.c_str())) {
            s->added++;
          }
          return true;
        },
        &scan);
  }
  return scan.added;
}

int IOManager::listOSFiles(const char* path, const char* extension, char* buffer, int size,
                           const char* filter, bool recursive) {
  List<String> names;
  scanOSDirectory(path, extension, names, filter, recursive);
  return writeNameList(names, buffer, size);
}

int IOManager::listFiles(const char* directory, const char* extension, const char* filter,
                         List<String>& names, bool recursive) {
  names.clear();
  if (!hasSearchPaths() || !directory) {
    return 0;
  }
  extension = extension ? extension : "";
  const bool hasExtension = extension[0] != '\0';
  char dir[kFsMaxPath];
  if (isRefusedName(directory) || !copyText(dir, sizeof(dir), directory)) {
    return 0;
  }
  size_t dirLength = strlen(dir);
  if (dirLength > 0 && isSlash(dir[dirLength - 1])) {
    dir[--dirLength] = '\0';
  }
  NameSet seen;
  for (IOSearchPath* path = searchList_.nextOwner(); path; path = path->node.nextOwner()) {
    if (!path->pack) {
      if (fs_restrict.getInt() == 0) {
        char osPath[kFsMaxPath];
        if (buildOSPathInto(osPath, sizeof(osPath), path->basePath, path->gameDir, dir)) {
          List<String> found;
          scanOSDirectory(osPath, extension, found, filter, recursive);
          for (int i = 0; i < found.num(); i++) {
            seen.add(names, found[i].c_str());
          }
        }
      }
      continue;
    }
    const IOPack* pack = path->pack;
    for (int e = 0; e < pack->entryCount(); e++) {
      const char* name = pack->entry(e).name;
      if (filter) {
        if (matchesFilter(filter, name)) {
          seen.add(names, name);
        }
        continue;
      }
      // The entry must lie below the directory at a separator, so that
      // "materials/sub" does not list "materials/sub2/x".
      const char* relative = name;
      if (dirLength > 0) {
        bool prefix = true;
        for (size_t i = 0; i < dirLength && prefix; i++) {
          prefix = foldFileChar(name[i]) == foldFileChar(dir[i]) && name[i] != '\0';
        }
        if (!prefix || !isSlash(name[dirLength])) {
          continue;
        }
        relative = name + dirLength + 1;
      }
      if (!endsWithNoCase(name, extension)) {
        continue;
      }
      int slashes = 0;
      int lastSlash = -1;
      for (int i = 0; relative[i]; i++) {
        if (isSlash(relative[i])) {
          slashes++;
          lastSlash = i;
        }
      }
      if (hasExtension) {
        if ((recursive || slashes == 0) && relative[0]) {
          seen.add(names, relative);
        }
      } else if ((recursive ? slashes >= 1 : slashes == 1) && lastSlash > 0) {
        const std::string subdirectory(relative, static_cast<size_t>(lastSlash));
        seen.add(names, subdirectory.c_str());
      }
    }
  }
  return names.num();
}

int IOManager::getFileList(const char* directory, const char* extension, char* buffer, int size,
                           bool recursive) {
  List<String> names;
  listFiles(directory, extension, nullptr, names, recursive);
  return writeNameList(names, buffer, size);
}

int IOManager::getFileListShort(const char* directory, char* buffer, int size, bool recursive) {
  return getFileList(directory, "", buffer, size, recursive);
}
