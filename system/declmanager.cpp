// The declaration manager: type slots and folders, the lazy search for a declaration's text
// (the file named after it first, then every file of the folders), parsing on demand, purge and
// reload, and the "listDecls" and "reloadDecls" commands.
#include "system/declmanager.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "lib/interface/cmdsystem.h"
#include "lib/interface/iosystem.h"
#include "lib/interface/renderinterface.h"
#include "lib/interface/managerfactory.h"
#include "lib/tokenparser.h"
#include "system/decltypes.h"

namespace {

DeclManager* s_declManager = nullptr;

std::string lowerKey(const char* text) {
  std::string out(text ? text : "");
  for (char& c : out)
    c = String::toLowerChar(c);
  return out;
}

void copyLimited(char* out, size_t size, const char* text) {
  std::snprintf(out, size, "%s", text ? text : "");
}

// A folder listing too large for the buffer arrives cut; this much room left over proves that
// nothing was left out (no file name is longer).
constexpr int kListingSlack = 1024;

void reloadDeclsCommand(const CmdArgs& args) {
  if (!s_declManager)
    return;
  if (g_renderContextHooks.recreateRenderTargets)
    g_renderContextHooks.recreateRenderTargets();
  if (args.argc() < 2) {
    s_declManager->reloadAll(true);
    return;
  }
  DeclInterface* decl = s_declManager->findDeclByName(args.argv(1));
  if (!decl) {
    cmdPrintf("failed to find resource '%s'\n", args.argv(1));
    return;
  }
  s_declManager->reloadDecl(decl);
}

void listDeclsCommand(const CmdArgs&) {
  if (s_declManager)
    s_declManager->listDecls();
}

bool createForCommon() {
  return createDeclSystem() != nullptr;
}

const RegisterManagerFactory s_registerDecls(kManagerDecl, createForCommon, nullptr, destroyDeclSystem);

}  // namespace

// ---------------------------------------------------------------------------------------------
// DeclInterface

void DeclInterface::setText(const char* text) {
  text_ = text ? text : "";
  state_ = kDeclUnparsed;
  // A text from elsewhere: the finder sets the source again when it comes from a file.
  sourceFile_.clear();
  sourceLine_ = 0;
}

void DeclInterface::getText(char* out, int size) const {
  if (out && size > 0)
    copyLimited(out, size_t(size), text_.c_str());
}

void DeclInterface::setName(const char* name) {
  name_ = name ? name : "";
  name_.toLower();
}

bool DeclInterface::parse() {
  if (!resource_)
    return false;
  const TokenParserSource source(sourceFile_.empty() ? nullptr : sourceFile_.c_str(), text_.c_str(),
                                 sourceLine_);
  if (!resource_->parse(text_.c_str(), text_.length()))
    return false;
  state_ = kDeclParsed;
  return true;
}

int DeclInterface::memoryUsed() const {
  auto heap = [](const String& s) { return s.allocated() > String::kBaseSize ? s.allocated() : 0; };
  return 148 + heap(name_) + heap(text_);
}

// ---------------------------------------------------------------------------------------------
// Life

DeclManager::DeclManager() = default;

DeclManager::~DeclManager() {
  shutdown();
}

bool DeclManager::init() {
  if (initialised_)
    return true;
  struct TypeEntry {
    const char* name;
    int id;
    DeclAllocFn allocator;
  };
  const TypeEntry types[] = {
      {"mapDef", kDeclMapDef, allocDeclEntityDef},
      {"entityDef", kDeclEntityDef, allocDeclEntityDef},
      {"skin", kDeclSkin, allocDeclSkin},
      {"sound", kDeclSound, allocSoundShader},
      {"table", kDeclTable, allocDeclTable},
      {"material", kDeclMaterial, nullptr},
      {"effect", kDeclEffect, nullptr},
  };
  for (const TypeEntry& type : types) {
    DeclAllocFn allocator = type.allocator;
    if (!allocator)
      allocator = g_declKindAllocators[type.id] ? g_declKindAllocators[type.id] : allocDeclPlaceholder;
    registerDeclType(type.name, type.id, allocator);
  }
  registerDeclFolder("def", ".def", kDeclEntityDef);
  registerDeclFolder("skins", ".skin", kDeclSkin);
  registerDeclFolder("sound", ".sndshd", kDeclSound);
  registerDeclFolder("materials", ".mtx", kDeclMaterial);
  registerDeclFolder("effects", ".fx", kDeclEffect);
  if (g_cmdSystem) {
    g_cmdSystem->addCommand("reloadDecls", reloadDeclsCommand, kCmdFlagEngine, "reloads decls");
    g_cmdSystem->addCommand("listDecls", listDeclsCommand, kCmdFlagEngine, "lists decls");
  }
  initialised_ = true;
  return true;
}

void DeclManager::shutdown() {
  for (DeclTypeSlot& slot : slots_) {
    // Highest index first: a kind may look up its own type while it frees (skins, inheritance).
    for (int i = slot.decls.num() - 1; i >= 0; --i)
      deleteDecl(slot.decls[i]);
    slot.decls.clear();
    slot.allocator = nullptr;
    slot.name[0] = '\0';
    slot.enabled = false;
  }
  folders_.clear();
  clearIndex();
  fileReads_ = 0;
  initialised_ = false;
}

void DeclManager::deleteDecl(DeclResource* resource) {
  if (!resource)
    return;
  resource->freeData();
  DeclBase* decl = resource->decl;
  delete resource;
  delete decl;
}

DeclInterface* DeclManager::interfaceOf(DeclResource* resource) const {
  return resource ? static_cast<DeclInterface*>(resource->decl) : nullptr;
}

// ---------------------------------------------------------------------------------------------
// Types and folders

bool DeclManager::registerDeclType(const char* name, int typeId, DeclAllocFn allocator) {
  if (typeId < 0 || typeId >= kDeclTypeCount) {
    cmdPrintf("WARNING: declaration type '%s' refused: id %d outside 0..31\n", name ? name : "", typeId);
    return false;
  }
  if (!name || !*name || std::strlen(name) > 31 || !allocator) {
    cmdPrintf("WARNING: declaration type %d refused: bad name or no allocator\n", typeId);
    return false;
  }
  DeclTypeSlot& slot = slots_[typeId];
  copyLimited(slot.name, sizeof(slot.name), name);
  slot.allocator = allocator;
  slot.enabled = true;
  clearIndex();  // blocks of the new keyword now count in every file
  return true;
}

bool DeclManager::registerDeclFolder(const char* folder, const char* extension, int typeId) {
  if (!folder || !extension || std::strlen(folder) > 31 || std::strlen(extension) > 7 || typeId < 0 ||
      typeId >= kDeclTypeCount) {
    cmdPrintf("WARNING: declaration folder '%s' refused\n", folder ? folder : "");
    return false;
  }
  for (const DeclFolder& existing : folders_) {
    if (existing.typeId == typeId && String::icmp(existing.folder, folder) == 0 &&
        String::icmp(existing.extension, extension) == 0)
      return true;
  }
  DeclFolder entry;
  copyLimited(entry.folder, sizeof(entry.folder), folder);
  copyLimited(entry.extension, sizeof(entry.extension), extension);
  entry.typeId = typeId;
  folders_.append(entry);
  clearIndex();
  return true;
}

int DeclManager::numDeclTypes() const {
  int count = 0;
  for (const DeclTypeSlot& slot : slots_)
    count += slot.enabled ? 1 : 0;
  return count;
}

const char* DeclManager::declTypeName(int typeId) const {
  return validType(typeId) ? slots_[typeId].name : "";
}

int DeclManager::declTypeByName(const char* name) const {
  if (!name)
    return kDeclTypeCount;
  for (int i = 0; i < kDeclTypeCount; ++i)
    if (slots_[i].enabled && String::icmp(slots_[i].name, name) == 0)
      return i;
  return kDeclTypeCount;
}

int DeclManager::typeForKeyword(const char* file, const char* keyword) const {
  int type = declTypeByName(keyword);
  if (type != kDeclTypeCount)
    return type;
  for (const DeclFolder& folder : folders_)
    if (String::iendsWith(file, folder.extension))
      return folder.typeId;
  return kDeclTypeCount;
}

// ---------------------------------------------------------------------------------------------
// Declarations

DeclInterface* DeclManager::allocDecl(int typeId) {
  if (!validType(typeId))
    return nullptr;
  DeclTypeSlot& slot = slots_[typeId];
  DeclResource* resource = slot.allocator();
  if (!resource)
    return nullptr;
  int index = slot.decls.append(resource);
  DeclInterface* decl = new DeclInterface(typeId, resource, index);
  resource->decl = decl;
  return decl;
}

int DeclManager::numDecls(int typeId) const {
  return validType(typeId) ? slots_[typeId].decls.num() : 0;
}

DeclResource* DeclManager::declByIndex(int typeId, int index, bool forceParse) {
  if (!validType(typeId) || index < 0 || index >= slots_[typeId].decls.num())
    return nullptr;
  DeclResource* resource = slots_[typeId].decls[index];
  DeclInterface* decl = interfaceOf(resource);
  if (forceParse || !decl->isValid())
    decl->parse();
  return resource;
}

int DeclManager::indexOfDecl(const DeclResource* resource, int typeId) const {
  if (!resource || !validType(typeId))
    return -1;
  const List<DeclResource*>& decls = slots_[typeId].decls;
  for (int i = 0; i < decls.num(); ++i)
    if (decls[i] == resource)
      return i;
  return -1;
}

DeclResource* DeclManager::findType(int typeId, const char* name, bool makeDefault) {
  if (!validType(typeId))
    return nullptr;
  DeclTypeSlot& slot = slots_[typeId];
  if (slot.decls.num() == 0) {
    DeclInterface* fallback = allocDecl(typeId);
    if (!fallback)
      return nullptr;
    fallback->setName("_default");
    fallback->resource()->makeDefault();
  }
  if (!name || !*name)
    return makeDefault ? slot.decls[0] : nullptr;

  for (int i = 0; i < slot.decls.num(); ++i) {
    DeclResource* resource = slot.decls[i];
    if (String::icmp(resource->getName(), name) == 0) {
      // By index: parsing may append to this very list (inheritance, skins).
      return declByIndex(typeId, i, false);
    }
  }
  if (DeclInterface* created = createDeclFromText(name, typeId))
    return created->resource();
  if (!makeDefault)
    return nullptr;
  DeclInterface* decl = allocDecl(typeId);
  if (!decl)
    return nullptr;
  decl->setName(name);
  decl->resource()->makeDefault();
  return decl->resource();
}

DeclInterface* DeclManager::createDeclFromText(const char* name, int typeId) {
  String text;
  if (!findDeclText(text, name, typeId)) {
    if (typeId != kDeclMaterial || !g_declImplicitMaterial || !g_declImplicitMaterial(name, text))
      return nullptr;
  }
  DeclInterface* decl = allocDecl(typeId);
  if (!decl)
    return nullptr;
  decl->setName(name);
  decl->setText(text.c_str());
  const std::string source = foundIn_;  // parsing may look up others (inheritance)
  decl->setSource(source, foundLine_);
  if (!decl->parse())
    cmdPrintf("WARNING: %s '%s' in '%s' could not be parsed\n", slots_[typeId].name, name,
              source.empty() ? "its file" : source.c_str());
  return decl;
}

DeclInterface* DeclManager::findDeclByName(const char* name) {
  if (!name)
    return nullptr;
  for (DeclTypeSlot& slot : slots_)
    for (DeclResource* resource : slot.decls)
      if (String::icmp(resource->getName(), name) == 0)
        return interfaceOf(resource);
  return nullptr;
}

void DeclManager::reloadDecl(DeclInterface* decl) {
  clearIndex();  // the files may have changed since they were indexed
  reloadOne(decl);
}

void DeclManager::reloadOne(DeclInterface* decl) {
  if (!decl)
    return;
  String text;
  const bool found = findDeclText(text, decl->getName(), decl->getType());
  if (found) {
    decl->setText(text.c_str());
    decl->setSource(foundIn_, foundLine_);
  }
  decl->resource()->freeData();
  if (!found && decl->getTextLength() == 0 && decl->getState() == kDeclDefaulted) {
    // A default has no text to parse: parsing "" would turn it into an empty declaration.
    decl->resource()->makeDefault();
    return;
  }
  decl->parse();
}

void DeclManager::reloadAll(bool force) {
  clearIndex();
  for (DeclTypeSlot& slot : slots_) {
    // The list may grow while reloading (a parse finds what it refers to).
    for (int i = 0; i < slot.decls.num(); ++i) {
      DeclInterface* decl = interfaceOf(slot.decls[i]);
      if (force || !decl->isValid())
        reloadOne(decl);
    }
  }
}

void DeclManager::purge() {
  clearIndex();
  for (int type = 0; type < kDeclTypeCount; ++type) {
    DeclTypeSlot& slot = slots_[type];
    if (type <= kDeclEntityDef) {
      for (int i = 1; i < slot.decls.num(); ++i) {
        slot.decls[i]->freeData();
        interfaceOf(slot.decls[i])->setUnparsed();
      }
    } else {
      for (int i = slot.decls.num() - 1; i >= 0; --i)
        deleteDecl(slot.decls[i]);
      slot.decls.clear();
    }
  }
}

DeclResource* DeclManager::createMaterialFromText(const char* text) {
  if (!text)
    return nullptr;
  TokenParser parser;
  parser.pushText(text);
  char name[TokenParserLevel::kTokenSize];
  // An empty name ("") would make a declaration that no search can find again.
  if (!parser.readToken(name, sizeof(name), true) || !name[0])
    return nullptr;
  String body;
  if (!parser.readBracedSection(body) || body.isEmpty())
    return nullptr;
  DeclResource* material = findMaterial(name, false);
  DeclInterface* decl = interfaceOf(material);
  if (!decl) {
    decl = allocDecl(kDeclMaterial);
    if (!decl)
      return nullptr;
    decl->setName(name);
  }
  decl->setText(body.c_str());
  decl->resource()->freeData();
  decl->parse();
  return decl->resource();
}

// ---------------------------------------------------------------------------------------------
// Finding the text

bool DeclManager::loadParser(TokenParser& parser, const char* file) {
  ++fileReads_;
  const bool loaded = parser.loadFile(file);
  if (loaded && file && checkedFiles_.insert(lowerKey(file)).second)
    checkDeclFile(file, parser.textStart());
  return loaded;
}

// Once per file: what would make its declarations vanish without a word (an empty or zeroed
// file, text that is no declaration, a block never closed) is said with the file and line.
void DeclManager::checkDeclFile(const char* file, const char* text) {
  if (!text)
    return;
  TokenParser parser;
  parser.pushText(text);
  int tokens = 0;
  int depth = 0;
  int openedAt = 0;
  int wordsOutside = 0;
  int headerLine = 0;
  const char* problem = nullptr;
  char problemToken[64] = {};
  int problemLine = 0;
  while (const char* token = parser.nextToken(true)) {
    ++tokens;
    const int line = parser.lineNumber();
    if (std::strcmp(token, "{") == 0) {
      if (depth++ == 0)
        openedAt = line;
      wordsOutside = 0;
    } else if (std::strcmp(token, "}") == 0) {
      if (depth == 0) {
        problem = "'}' without its '{'";
        problemLine = line;
        break;
      }
      --depth;
    } else if (depth == 0 && ++wordsOutside == 1) {
      headerLine = line;
    } else if (depth == 0 && wordsOutside > 2) {
      problem = "is not a declaration";
      std::snprintf(problemToken, sizeof(problemToken), "%s", token);
      problemLine = line;
      break;
    }
  }
  if (tokens == 0)
    cmdPrintf("WARNING: declaration file '%s' is empty: it declares nothing\n", file);
  else if (problem && problemToken[0])
    cmdPrintf("WARNING: %s line %d: '%s' %s; declarations after it are lost\n", file, problemLine, problemToken,
              problem);
  else if (problem)
    cmdPrintf("WARNING: %s line %d: %s; declarations after it are lost\n", file, problemLine, problem);
  else if (depth > 0)
    cmdPrintf("WARNING: %s line %d: this block is never closed; the file is cut or damaged\n", file, openedAt);
  else if (wordsOutside > 0)
    cmdPrintf("WARNING: %s line %d: a declaration without its block; the file is cut or damaged\n", file,
              headerLine);
  parser.popText();
}

bool DeclManager::findDeclInFile(String& out, const char* file, const char* name, int typeId) {
  TokenParser parser;
  if (!loadParser(parser, file))
    return false;
  char keyword[TokenParserLevel::kTokenSize];
  char blockName[TokenParserLevel::kTokenSize];
  while (parser.readToken(keyword, sizeof(keyword), true)) {
    const int type = typeForKeyword(file, keyword);
    if (type == kDeclTypeCount)
      return false;
    if (!parser.readToken(blockName, sizeof(blockName), true))
      return false;
    if (std::strcmp(blockName, "{") == 0) {
      parser.unreadToken();
      copyLimited(blockName, sizeof(blockName), keyword);
      copyLimited(keyword, sizeof(keyword), slots_[type].name);
    }
    if ((typeId == kDeclTypeCount || type == typeId) && String::icmp(blockName, name) == 0 &&
        String::icmp(keyword, slots_[type].name) == 0) {
      foundIn_ = file;
      // The body begins after its "{" and the blanks around it.
      foundLine_ = parser.lineNumber();
      const char* p = parser.textPosition();
      for (int pass = 0; p && pass < 2; ++pass) {
        for (; *p == ' ' || *p == '\t' || *p == '\r' || *p == '\n'; ++p)
          foundLine_ += *p == '\n';
        if (pass == 0 && *p == '{')
          ++p;
      }
      return parser.readBracedSection(out) && !out.isEmpty();
    }
    if (!parser.skipBlock())
      return false;
  }
  return false;
}

void DeclManager::listFolder(const DeclFolder& folder, List<String>& out) {
  out.clear();
  if (!g_ioSystem)
    return;
  // Listings grow with the folder: a cut listing would hide declarations silently. The buffer
  // is not cleared: only the names the file system reports are read, each within the buffer.
  if (listingSize_ == 0) {
    listingSize_ = 16 * 1024;
    listing_.reset(new char[size_t(listingSize_)]);
  }
  for (;;) {
    const char* buffer = listing_.get();
    const int count = g_ioSystem->getFileList(folder.folder, folder.extension, listing_.get(), listingSize_, true);
    int used = 0;
    int names = 0;
    for (; names < count && used < listingSize_; ++names)
      used += int(strnlen(buffer + used, size_t(listingSize_ - used))) + 1;
    if (used + kListingSlack <= listingSize_ || listingSize_ >= (1 << 26)) {
      const char* name = buffer;
      for (int i = 0; i < names && name < buffer + listingSize_; ++i) {
        const size_t length = strnlen(name, size_t(buffer + listingSize_ - name));
        char path[512];
        std::snprintf(path, sizeof(path), "%s/%.*s", folder.folder, int(length), name);
        out.append(String(path));
        name += length + 1;
      }
      return;
    }
    listingSize_ *= 2;
    listing_.reset(new char[size_t(listingSize_)]);
  }
}

void DeclManager::clearIndex() {
  index_.clear();
}

void DeclManager::setNameIndexing(bool on) {
  indexing_ = on;
  clearIndex();
}

void DeclManager::indexFile(FolderIndex& index, int f) {
  // The file is scanned as a failing search would scan it (every block skipped), so a name is
  // listed for exactly the files in which a search for it could succeed.
  const char* file = index.paths[f].c_str();
  TokenParser parser;
  if (!loadParser(parser, file))
    return;
  char keyword[TokenParserLevel::kTokenSize];
  char blockName[TokenParserLevel::kTokenSize];
  while (parser.readToken(keyword, sizeof(keyword), true)) {
    const int type = typeForKeyword(file, keyword);
    if (type == kDeclTypeCount || !parser.readToken(blockName, sizeof(blockName), true))
      break;
    if (std::strcmp(blockName, "{") == 0) {
      parser.unreadToken();
      copyLimited(blockName, sizeof(blockName), keyword);
      copyLimited(keyword, sizeof(keyword), slots_[type].name);
    }
    if (String::icmp(keyword, slots_[type].name) == 0) {
      std::vector<IndexEntry>& entries = index.names[lowerKey(blockName)];
      bool known = false;
      for (const IndexEntry& entry : entries)
        known |= entry.file == f && entry.typeId == type;
      if (!known)
        entries.push_back(IndexEntry{f, type});
    }
    if (!parser.skipBlock())
      break;
  }
}

bool DeclManager::searchFolder(String& out, int folderIndex, const char* name, int typeId) {
  const DeclFolder& folder = folders_[folderIndex];
  char file[512];
  std::snprintf(file, sizeof(file), "%s%s", name, folder.extension);
  if (findDeclInFile(out, file, name, typeId))
    return true;

  if (!indexing_) {
    List<String> files;
    listFolder(folder, files);
    for (const String& path : files)
      if (findDeclInFile(out, path.c_str(), name, typeId))
        return true;
    return false;
  }
  if (index_.size() != size_t(folders_.num()))
    index_.assign(size_t(folders_.num()), FolderIndex());
  FolderIndex& index = index_[size_t(folderIndex)];
  if (!index.listed) {
    index.listed = true;
    List<String> files;
    listFolder(folder, files);
    index.order.resize(size_t(files.num()));
    for (int i = 0; i < files.num(); ++i) {
      // A listing may repeat a name (a file in a pack and loose): scan it once.
      auto [slot, added] = index.fileIds.try_emplace(lowerKey(files[i].c_str()), index.paths.num());
      if (added) {
        index.paths.append(files[i]);
        indexFile(index, slot->second);
      }
      index.order[size_t(i)] = slot->second;
    }
  }
  const std::vector<int>& order = index.order;
  auto found = index.names.find(lowerKey(name));
  if (found == index.names.end())
    return false;
  std::vector<int> candidates;
  for (const IndexEntry& entry : found->second)
    if (typeId == kDeclTypeCount || entry.typeId == typeId)
      candidates.push_back(entry.file);
  if (candidates.empty())
    return false;
  if (candidates.size() == 1)
    return findDeclInFile(out, index.paths[candidates[0]].c_str(), name, typeId);
  // The first listed file that may hold it wins.
  for (int id : order) {
    if (std::find(candidates.begin(), candidates.end(), id) == candidates.end())
      continue;
    if (findDeclInFile(out, index.paths[id].c_str(), name, typeId))
      return true;
  }
  return false;
}

bool DeclManager::findDeclText(String& out, const char* name, int typeId) {
  out.clear();
  foundIn_.clear();
  foundLine_ = 0;
  if (!name || !*name)
    return false;
  // Two rounds: the folders of the requested type, then every other one.
  for (int round = 0; round < 2; ++round) {
    for (int i = 0; i < folders_.num(); ++i) {
      const bool own = typeId == kDeclTypeCount || folders_[i].typeId == typeId;
      if (own != (round == 0))
        continue;
      if (searchFolder(out, i, name, typeId))
        return true;
    }
  }
  out.clear();
  return false;
}

// ---------------------------------------------------------------------------------------------
// Listing and bulk loading

void DeclManager::listDecls() {
  static const char* const kStateNames[] = {"UNPARSED", "DEFAULTED", "PARSED", "_INVALID_"};
  char dashes[82];
  std::memset(dashes, '-', 81);
  dashes[81] = '\0';
  cmdPrintf("%s\n", dashes);
  cmdPrintf("%-50s|%-10s|%-10s|%s\n", "NAME", "TYPE", "STATE", "BYTES");
  cmdPrintf("%s\n", dashes);
  for (const DeclTypeSlot& slot : slots_) {
    for (DeclResource* resource : slot.decls) {
      int state = resource->getState();
      if (state < 0 || state > 3)
        state = 3;
      cmdPrintf("%-50s|%-10s|%-10s|%d\n", resource->getName(), slot.name, kStateNames[state],
                resource->memoryUsed());
    }
  }
  cmdPrintf("%s\n\n", dashes);
}

void DeclManager::parseDeclFile(TokenParser& parser, const char* file, int typeId, List<String>& names) {
  if (!loadParser(parser, file))
    return;
  char keyword[TokenParserLevel::kTokenSize];
  char blockName[TokenParserLevel::kTokenSize];
  while (parser.readToken(keyword, sizeof(keyword), true)) {
    const int type = typeForKeyword(file, keyword);
    if (type == kDeclTypeCount || !parser.readToken(blockName, sizeof(blockName), true))
      break;
    if (std::strcmp(blockName, "{") == 0) {
      parser.unreadToken();  // a block without its type keyword: not collected here
    } else if (type == typeId && String::icmp(keyword, slots_[type].name) == 0) {
      names.append(String(blockName));
    }
    if (!parser.skipBlock())
      break;
  }
  parser.popText();
}

void DeclManager::loadDeclsOfType(int typeId) {
  if (!validType(typeId))
    return;
  List<String> names;
  TokenParser parser;
  for (const DeclFolder& folder : folders_) {
    List<String> files;
    listFolder(folder, files);
    for (const String& file : files)
      parseDeclFile(parser, file.c_str(), typeId, names);
  }
  for (const String& name : names)
    findType(typeId, name.c_str(), false);
}

// ---------------------------------------------------------------------------------------------
// Typed finds

DeclResource* DeclManager::findMaterial(const char* name, bool makeDefault) {
  return findType(kDeclMaterial, name, makeDefault);
}
DeclTable* DeclManager::findTable(const char* name, bool makeDefault) {
  return static_cast<DeclTable*>(findType(kDeclTable, name, makeDefault));
}
DeclSkin* DeclManager::findSkin(const char* name, bool makeDefault) {
  return static_cast<DeclSkin*>(findType(kDeclSkin, name, makeDefault));
}
SoundShader* DeclManager::findSoundShader(const char* name, bool makeDefault) {
  return static_cast<SoundShader*>(findType(kDeclSound, name, makeDefault));
}
DeclResource* DeclManager::findEffect(const char* name, bool makeDefault) {
  return findType(kDeclEffect, name, makeDefault);
}
DeclResource* DeclManager::materialByIndex(int index, bool forceParse) {
  return declByIndex(kDeclMaterial, index, forceParse);
}
DeclTable* DeclManager::tableByIndex(int index, bool forceParse) {
  return static_cast<DeclTable*>(declByIndex(kDeclTable, index, forceParse));
}
DeclSkin* DeclManager::skinByIndex(int index, bool forceParse) {
  return static_cast<DeclSkin*>(declByIndex(kDeclSkin, index, forceParse));
}
SoundShader* DeclManager::soundShaderByIndex(int index, bool forceParse) {
  return static_cast<SoundShader*>(declByIndex(kDeclSound, index, forceParse));
}
DeclResource* DeclManager::effectByIndex(int index, bool forceParse) {
  return declByIndex(kDeclEffect, index, forceParse);
}

// ---------------------------------------------------------------------------------------------
// Instance

DeclManager* createDeclSystem() {
  if (!s_declManager) {
    s_declManager = new DeclManager;
    s_declManager->init();
    g_declSystem = s_declManager;
  }
  return s_declManager;
}

void destroyDeclSystem() {
  if (g_declSystem == s_declManager)
    g_declSystem = nullptr;
  delete s_declManager;
  s_declManager = nullptr;
}

DeclManager* getDeclManager() {
  return s_declManager;
}
