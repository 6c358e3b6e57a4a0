// IOManager: the virtual file system. Game-relative names are looked up along
// a search list of zip packs and directory trees (front first), loose files
// case-insensitively; files are read through 63 small integer handles.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

#include "lib/interface/iosystem.h"
#include "lib/list.h"
#include "lib/str.h"
#include "platform/fs.h"
#include "system/iopack.h"

// One entry of the search list: a pack, or (pack null) a directory tree.
struct IOSearchPath {
  IOPack* pack = nullptr;
  char basePath[kFsMaxPath] = {};
  char gameDir[256] = {};
  LinkList<IOSearchPath> node{this};
  // The directory's spelling on disk, looked up when first needed.
  char root[kFsMaxPath] = {};
  uint32_t rootCheckedAt = 0;
  bool rootExists = false;
};

struct IOFileSlot {
  void* handle;  // FILE* for a plain file, IOPackReader for a pack entry; null = free
  bool privateReader;
  int length;
  uint64_t entryOffset;
  uint8_t kind;  // kIOFilePlain or kIOFilePacked
  char name[256];
  // Pack entries only.
  IOPack* pack;
  const IOPackEntry* entry;
  int position;
  // Plain files opened for writing only.
  bool forWriting;
  bool writeFailed;
};

enum : uint8_t { kIOFilePlain = 0, kIOFilePacked = 1 };

class IOManager : public IOSystem {
 public:
  static constexpr int kMaxFileSlots = 64;  // slot 0 is never handed out
  // Appended to a file's name while it is being written (see commitWrite).
  static constexpr const char* kWriteSuffix = ".tmp";
  static constexpr int kMaxPacksPerDirectory = 1024;
  static constexpr int kPackListBufferSize = 262144;
  static constexpr int kPrintfBufferSize = 4096;

  // Creates the one instance on first use and publishes g_ioSystem.
  static IOManager* getInstance();

  ~IOManager() override;

  bool initialize(const char* gameDir);
  void shutdown();
  void addSearchPath(const char* basePath, const char* gameDir);

  int openFileRead(const char* name, IOFileHandle* file, bool privateReader = false) override;
  int openOSFileRead(const char* path, IOFileHandle* file) override;
  IOFileHandle openFileWrite(const char* path) override;
  bool closeFileChecked(IOFileHandle file, const char* replace) override;
  int printf(IOFileHandle file, const char* format, ...) override __attribute__((format(printf, 3, 4)));
  int read(void* buffer, int length, IOFileHandle file) override;
  int write(const void* buffer, int length, IOFileHandle file) override;
  void closeFile(IOFileHandle file) override;
  int tell(IOFileHandle file) override;
  int seek(IOFileHandle file, int offset, int origin) override;
  int copyFileToPack(const char* packPath, const char* name) override;
  int writeToPack(const char* packPath, const char* entryName, const void* data, int length) override;
  int readFileToBuffer(const char* name, void* buffer, int size, bool osPath = false) override;
  bool readFile(const char* name, IOData* data, bool osPath = false) override;
  IOData* loadFile(const char* name, bool osPath = false) override;
  void freeFile(IOData* data) override;

  using IOSystem::getExtension;
  using IOSystem::replaceFileName;
  using IOSystem::setExtension;
  void replaceFileName(char* path, size_t size, const char* newName) override;
  void getExtension(char* out, size_t size, const char* path) override;
  void setExtension(char* path, size_t size, const char* extension) override;
  bool getFileName(const char* path, char* out, int size) override;
  void fixSlashes(char* path) override;

  int getFileListShort(const char* directory, char* buffer, int size, bool recursive) override;
  int getFileList(const char* directory, const char* extension, char* buffer, int size,
                  bool recursive) override;
  int countOSFiles(const char* wildcard) override;
  bool createPath(const char* path) override;

  bool fileExists(const char* name) override;
  bool nameExists(const char* name) override;
  // Where writes may go: a relative path (below the working directory, which
  // is the base path) or an absolute one below a searched directory's base,
  // never through ".." or "::".
  bool mayWrite(const char* path) const;
  bool osFileExists(const char* path) override;
  const char* buildOSPath(const char* basePath, const char* gameDir, const char* name) override;

  // Names under a virtual directory over every search entry (earlier entries
  // win on equal names); the number of names.
  int listFiles(const char* directory, const char* extension, const char* filter, List<String>& names,
                bool recursive);
  // Names below an operating-system directory, relative to it.
  int scanOSDirectory(const char* path, const char* extension, List<String>& names, const char* filter,
                      bool recursive);
  int listOSFiles(const char* path, const char* extension, char* buffer, int size, const char* filter,
                  bool recursive);

  // Appends name unless an equal name (without case) is listed; true when added.
  static bool addUniqueName(List<String>& names, const char* name);
  // Copies the text before the last slash into out; returns the slash's
  // position (-1 without one) and the number of slashes in *slashCount.
  static int splitDirectory(const char* path, char* out, size_t size, int* slashCount);
  static bool matchesFilter(const char* filter, const char* name);
  static bool wildcardMatch(const char* pattern, const char* name, bool caseSensitive);
  // Without case, with "\" and ":" equal to "/".
  static int compareFileNames(const char* a, const char* b);
  // Joins base, game directory and name; false when the result would not fit.
  bool buildOSPathInto(char* out, size_t size, const char* basePath, const char* gameDir,
                       const char* name) const;

  int findFreeSlot() const;
  int fileLength(IOFileHandle file);

  IOPack* loadPack(const char* osPath, const char* fileName);
  IOPackReader reopenPack(IOPack* pack);

  int packEntryTotal() const { return packEntryTotal_; }
  const char* currentGameDir() const { return currentGameDir_; }
  int searchPathCount() const { return searchList_.num(); }
  bool hasSearchPaths() const { return !searchList_.isListEmpty(); }
  // Forgets the cached directory listings (after the tree changed behind the engine's back).
  void flushDirectoryCache() { forgetListings(); }

 private:
  struct NameHash {
    using is_transparent = void;
    size_t operator()(std::string_view text) const noexcept { return std::hash<std::string_view>{}(text); }
  };
  struct DirEntry {
    std::string name;  // as on disk
    bool isDirectory;
  };
  struct DirListing {
    uint32_t listedAt = 0;
    bool exists = false;
    // Keyed by the lower-case name.
    std::unordered_map<std::string, DirEntry, NameHash, std::equal_to<>> names;
  };

  IOManager();

  IOFileSlot* slotFor(IOFileHandle file);
  int takeSlot(const char* name);
  bool closeSlot(int index);
  bool commitWrite(int index, const char* replace);
  int openPlain(int index, FILE* stream, const char* name, int64_t length);
  int openPacked(int index, IOPack* pack, const IOPackEntry* entry, const char* name, bool privateReader);
  // Makes a shared reader stand in this slot's entry at its position again.
  bool claimSharedReader(int index);
  bool skipForward(IOFileSlot& slot, int count);

  // Loose files: the exact spelling is tried first; on a miss each component
  // is matched without case against a cached listing of its directory.
  const DirListing& listing(std::string_view directory, bool refreshIfOld);
  // Appends relative below the directory already in out[0..length), matching
  // each component without case; false when a component is missing. When
  // exactTried, the caller already failed to open the exact spelling.
  bool matchCase(char* out, size_t size, size_t length, const char* relative, bool wantDirectory,
                 bool exactTried);
  // An operating-system path on disk without case, into out.
  bool resolveCase(const char* path, char* out, size_t size, bool wantDirectory);
  FILE* openResolved(const char* path, int64_t* size = nullptr);
  // A search directory's own spelling on disk, null while it does not exist.
  const char* searchRoot(IOSearchPath* path);
  FILE* openInSearchPath(IOSearchPath* path, const char* name, int64_t* size = nullptr);
  void forgetListings();
  // After a write into a pack of the search list: index it again. The old
  // record stays alive while files opened from it are still open.
  void reloadPack(const char* osPath);

  IOFileSlot slots_[kMaxFileSlots];
  LinkList<IOSearchPath> searchList_;
  char currentGameDir_[256] = {};
  int packEntryTotal_ = 0;
  char osPathBuffers_[2][kFsMaxPath] = {};
  int osPathIndex_ = 0;
  std::unordered_map<std::string, DirListing, NameHash, std::equal_to<>> dirCache_;
  List<IOPack*> retiredPacks_;
  // Full path of each slot open for writing (slot names are cut at 255 characters).
  std::string writePaths_[kMaxFileSlots];
};

// Deletes the instance and clears g_ioSystem.
void destroyIOManager();
// The command line whose "fs_basepath", "fs_cdpath", "fs_basegame" and "fs_game" statements the
// next initialize applies before it builds the search list.
void setFileSystemCommandLine(const char* commandLine);
// True for those path variables while the file system runs: console text may no longer change them.
bool isStartupOnlyVariable(const char* name);
