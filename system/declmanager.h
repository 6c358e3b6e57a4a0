// DeclManager: the one declaration manager. Keeps a list per type, finds a declaration's text in
// the declaration files on its first request and parses it on demand. Main thread only.
#pragma once

#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "lib/interface/declsystem.h"
#include "lib/list.h"
#include "lib/str.h"

class TokenParser;

// The bookkeeping of one declaration; the resource points back to it.
class DeclInterface final : public DeclBase {
 public:
  DeclInterface(int typeId, DeclResource* resource, int index)
      : typeId_(typeId), resource_(resource), index_(index) {}

  int getType() const override { return typeId_; }
  int getState() const override { return state_; }
  void setText(const char* text) override;
  void getText(char* out, int size) const override;
  int getTextLength() const override { return text_.length(); }
  void setName(const char* name) override;
  const char* getName() const override { return name_.c_str(); }
  bool parse() override;
  bool isValid() const override { return state_ != kDeclUnparsed; }
  void setParsed() override { state_ = kDeclParsed; }
  void setUnparsed() override { state_ = kDeclUnparsed; }
  int getIndex() const override { return index_; }
  void setDefaulted() override { state_ = kDeclDefaulted; }
  int memoryUsed() const override;

  DeclResource* resource() const { return resource_; }
  // The file the text was found in and the file line its first line stands on (0: unknown), so
  // that the parsers' messages name them.
  void setSource(const std::string& file, int line) {
    sourceFile_ = file;
    sourceLine_ = line;
  }

 private:
  String name_;
  String text_;
  std::string sourceFile_;
  int sourceLine_ = 0;
  int state_ = kDeclUnparsed;
  int typeId_;
  DeclResource* resource_;
  int index_;
};

struct DeclTypeSlot {
  List<DeclResource*> decls{16};  // creation order; index 0 is the default once one exists
  DeclAllocFn allocator = nullptr;
  char name[32] = {};
  bool enabled = false;
};

struct DeclFolder {
  char folder[32] = {};
  char extension[8] = {};
  int typeId = 0;
};

class DeclManager : public DeclSystem {
 public:
  DeclManager();
  ~DeclManager() override;

  bool init() override;
  void shutdown() override;
  void reloadAll(bool force) override;
  void beginLevelLoad() override {}
  void purge() override;
  bool registerDeclType(const char* name, int typeId, DeclAllocFn allocator) override;
  bool registerDeclFolder(const char* folder, const char* extension, int typeId) override;
  int numDeclTypes() const override;
  const char* declTypeName(int typeId) const override;
  int declTypeByName(const char* name) const override;
  DeclResource* findType(int typeId, const char* name, bool makeDefault) override;
  int numDecls(int typeId) const override;
  DeclResource* declByIndex(int typeId, int index, bool forceParse) override;
  int indexOfDecl(const DeclResource* resource, int typeId) const override;
  DeclResource* createMaterialFromText(const char* text) override;

  DeclResource* findMaterial(const char* name, bool makeDefault = true) override;
  DeclTable* findTable(const char* name, bool makeDefault = true) override;
  DeclSkin* findSkin(const char* name, bool makeDefault = true) override;
  SoundShader* findSoundShader(const char* name, bool makeDefault = true) override;
  DeclResource* findEffect(const char* name, bool makeDefault = true) override;
  DeclResource* materialByIndex(int index, bool forceParse = true) override;
  DeclTable* tableByIndex(int index, bool forceParse = true) override;
  DeclSkin* skinByIndex(int index, bool forceParse = true) override;
  SoundShader* soundShaderByIndex(int index, bool forceParse = true) override;
  DeclResource* effectByIndex(int index, bool forceParse = true) override;

  DeclInterface* allocDecl(int typeId);
  // The body of the first block defining `name` of `typeId` (kDeclTypeCount: any type).
  bool findDeclText(String& out, const char* name, int typeId);
  bool findDeclInFile(String& out, const char* file, const char* name, int typeId);
  // A registered type name gives its type; otherwise the type of the folder whose extension the
  // file has; kDeclTypeCount for neither.
  int typeForKeyword(const char* file, const char* keyword) const;
  DeclInterface* createDeclFromText(const char* name, int typeId);
  void reloadDecl(DeclInterface* decl);
  // Of any type; null when none.
  DeclInterface* findDeclByName(const char* name);
  void listDecls();
  void loadDeclsOfType(int typeId);
  // Loads `file` into the shared parser and appends the names of the blocks of `typeId` written
  // with their type keyword.
  void parseDeclFile(TokenParser& parser, const char* file, int typeId, List<String>& names);

  // The name index of each folder: the first search that reaches a folder lists it and scans each
  // of its files once, so a declaration no file defines costs no listing and no file reads
  // afterwards. "First file wins" in listing order holds either way. Files added or changed
  // later are seen after "reloadDecls" or a purge (map change). Off, every miss lists the folder
  // and reads every file again.
  void setNameIndexing(bool on);
  // Declaration files read so far (loaded or tried), for diagnostics and benchmarks.
  int fileReads() const { return fileReads_; }

 private:
  struct IndexEntry {
    int file;    // into FolderIndex::paths
    int typeId;  // the block's type
  };
  struct FolderIndex {
    bool listed = false;
    std::vector<int> order;                        // ids in listing order
    std::unordered_map<std::string, int> fileIds;  // lower-case path -> id (into paths)
    List<String> paths;
    std::unordered_map<std::string, std::vector<IndexEntry>> names;  // lower-case name
  };

  DeclInterface* interfaceOf(DeclResource* resource) const;
  bool validType(int typeId) const {
    return typeId >= 0 && typeId < kDeclTypeCount && slots_[typeId].enabled;
  }
  void deleteDecl(DeclResource* resource);
  void listFolder(const DeclFolder& folder, List<String>& out);
  bool searchFolder(String& out, int folderIndex, const char* name, int typeId);
  void indexFile(FolderIndex& index, int file);
  void reloadOne(DeclInterface* decl);
  void clearIndex();
  bool loadParser(TokenParser& parser, const char* file);
  void checkDeclFile(const char* file, const char* text);

  DeclTypeSlot slots_[kDeclTypeCount];
  List<DeclFolder> folders_{16};
  std::vector<FolderIndex> index_;
  // One listing buffer for every folder, kept at the size the largest listing needed.
  std::unique_ptr<char[]> listing_;
  int listingSize_ = 0;
  bool indexing_ = true;
  bool initialised_ = false;
  int fileReads_ = 0;
  // Files already checked for damage (lower case), and the file the last found text came from.
  std::unordered_set<std::string> checkedFiles_;
  std::string foundIn_;
  int foundLine_ = 0;  // the file line of the found text's first line
};

// Creates the instance, starts it and publishes g_declSystem.
DeclManager* createDeclSystem();
// Shuts it down, deletes it and clears the pointer.
void destroyDeclSystem();
DeclManager* getDeclManager();
