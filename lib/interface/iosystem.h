// The engine's virtual file system: game-relative content names looked up over
// zip packs and directories, small integer file handles, whole-file records and
// the path helpers the rest of the engine shares. Main thread only.
#pragma once

#include <cstddef>
#include <cstdint>

// Index (1..63) of an open-file slot in the low word; 0 means no file.
using IOFileHandle = uint64_t;

// A whole file in memory. The buffer always has a zero byte behind the data,
// so text loaders may treat it as a C string.
class IOData {
 public:
  IOData() = default;
  IOData(const IOData&) = delete;
  IOData& operator=(const IOData&) = delete;
  // The buffer is a new[] array of length + 1 bytes.
  virtual ~IOData() { delete[] buffer; }

  char* buffer = nullptr;
  int length = 0;
  char name[256] = {};
  bool heapOwned = false;  // set by loadFile: freeFile deletes the record too
};

class IOSystem {
 public:
  virtual ~IOSystem() = default;

  // Opens a game-relative name for reading; returns its length, or -1 when
  // it is not found. A null out handle only tests for existence (1 or 0).
  // A private reader keeps its own place in the pack: files of the same pack
  // opened and read meanwhile never make it inflate its entry again.
  virtual int openFileRead(const char* name, IOFileHandle* file, bool privateReader = false) = 0;
  // Opens an operating-system path; returns its length (0 when it cannot be
  // opened). A null out handle closes the file at once.
  virtual int openOSFileRead(const char* path, IOFileHandle* file) = 0;
  // Creates or truncates an operating-system path for binary writing; 0 on
  // failure. Paths with "..", "::" or an absolute path outside the game tree
  // are refused with a message (see isSafeName for names users type).
  virtual IOFileHandle openFileWrite(const char* path) = 0;
  // Closes a file opened with openFileWrite; true when every write, the
  // flush and the close succeeded. With replace given, a good file is then
  // renamed over replace (readers never see half a file) and a failed one is
  // removed, leaving replace as it was.
  virtual bool closeFileChecked(IOFileHandle file, const char* replace) {
    closeFile(file);
    return false;
  }
  // Formats into at most 4,096 bytes and writes the text without its zero byte.
  virtual int printf(IOFileHandle file, const char* format, ...) __attribute__((format(printf, 3, 4))) = 0;
  // Bytes read; 0 for a bad handle.
  virtual int read(void* buffer, int length, IOFileHandle file) = 0;
  // The length on success, 0 on failure.
  virtual int write(const void* buffer, int length, IOFileHandle file) = 0;
  virtual void closeFile(IOFileHandle file) = 0;
  virtual int tell(IOFileHandle file) = 0;
  // Origin 0 start, 1 current, 2 end. 1 on success, 0 on failure, -1 without
  // search paths, -104 when a pack entry cannot be read forward.
  virtual int seek(IOFileHandle file, int offset, int origin) = 0;

  // Loads a game-relative file and stores it under the same name in a pack;
  // 0 on success, -1 on failure.
  virtual int copyFileToPack(const char* packPath, const char* name) = 0;
  // Appends an entry to a pack (creating the pack when needed); 0 on success, -1 on failure.
  virtual int writeToPack(const char* packPath, const char* entryName, const void* data, int length) = 0;

  // Reads a whole file into the caller's buffer when it fits with its zero
  // byte (length < size); the bytes read, 0 when it does not fit.
  virtual int readFileToBuffer(const char* name, void* buffer, int size, bool osPath = false) = 0;
  // Reads a whole file into a record; true when every byte was read. The
  // buffer stays in the record on a short read: release it with freeFile.
  virtual bool readFile(const char* name, IOData* data, bool osPath = false) = 0;
  // A new record that freeFile deletes, or null.
  virtual IOData* loadFile(const char* name, bool osPath = false) = 0;
  virtual void freeFile(IOData* data) = 0;

  // Path helpers. Those that write take the size of the destination buffer
  // and never write behind it (the overloads for arrays fill it in).
  virtual void replaceFileName(char* path, size_t size, const char* newName) = 0;
  virtual void getExtension(char* out, size_t size, const char* path) = 0;
  virtual void setExtension(char* path, size_t size, const char* extension) = 0;
  // True when the path had a directory part.
  virtual bool getFileName(const char* path, char* out, int size) = 0;
  virtual void fixSlashes(char* path) = 0;

  // Names under a virtual directory over every pack and directory, each
  // zero-terminated, one after the other; the number of names written.
  virtual int getFileListShort(const char* directory, char* buffer, int size, bool recursive) = 0;
  virtual int getFileList(const char* directory, const char* extension, char* buffer, int size,
                          bool recursive) = 0;
  // Number of operating-system files matching a wildcard path.
  virtual int countOSFiles(const char* wildcard) = 0;
  // Creates every directory of an operating-system path; false when one could not be made.
  virtual bool createPath(const char* path) = 0;

  // Existence tests and path building, for callers outside the engine core too.
  virtual bool fileExists(const char* name) = 0;
  // True when some search entry holds the name, even when it cannot be read
  // (a damaged pack entry, a loose file that is not readable).
  virtual bool nameExists(const char* name) { return fileExists(name); }
  virtual bool osFileExists(const char* path) = 0;
  // Base path, game directory (null or "" = the current one) and name joined
  // into an operating-system path held in a rotating static buffer (valid
  // until the second call after it); null when it would not fit.
  virtual const char* buildOSPath(const char* basePath, const char* gameDir, const char* name) = 0;

  // A file name a user may hand to a command that writes: relative, no ".."
  // and no "::" (nothing that could reach outside the game tree).
  static bool isSafeName(const char* name) {
    if (!name || !name[0] || name[0] == '/' || name[0] == '\\')
      return false;
    for (const char* p = name; p[0] && p[1]; ++p) {
      if ((p[0] == '.' && p[1] == '.') || (p[0] == ':' && p[1] == ':'))
        return false;
    }
    return true;
  }

  template <size_t N>
  void replaceFileName(char (&path)[N], const char* newName) {
    replaceFileName(path, N, newName);
  }
  template <size_t N>
  void getExtension(char (&out)[N], const char* path) {
    getExtension(out, N, path);
  }
  template <size_t N>
  void setExtension(char (&path)[N], const char* extension) {
    setExtension(path, N, extension);
  }
};

inline IOSystem* g_ioSystem = nullptr;
