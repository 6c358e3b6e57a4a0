// Files and directories on the operating system: working directory, directory
// creation and listing, status, and opening regular files as C streams. The
// virtual file system builds its case-insensitive lookups on top of this.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Longest operating-system path, terminator included (PATH_MAX on Linux).
constexpr size_t kFsMaxPath = 4096;

enum class FsType { kMissing, kFile, kDirectory, kOther };

struct FsStat {
  FsType type = FsType::kMissing;
  int64_t size = 0;
};

// The working directory into out; false when it cannot be read or does not fit.
bool fsGetCwd(char* out, size_t size);
// Creates one directory; true when it exists as a directory afterwards.
bool fsMakeDir(const char* path);
// Follows symbolic links; false (type kMissing) when the path does not exist.
bool fsStat(const char* path, FsStat* out);

// Called once per entry of a directory ("." and ".." left out), in the order
// the operating system gives them; return false to stop the listing.
using FsListFunction = bool (*)(void* user, const char* name, bool isDirectory);
// False when the directory cannot be opened.
bool fsListDirectory(const char* path, FsListFunction function, void* user);

// Opens a regular file for binary reading; null for a directory, a FIFO, a
// device or a missing file (a directory would open on Linux and then fail
// every read; a FIFO would block the open until a writer came).
// The file's size goes to *size when given.
FILE* fsOpenRead(const char* path, int64_t* size = nullptr);
// Creates or truncates a regular file for binary writing; null on failure
// (also when the path names a FIFO, a device or a directory).
FILE* fsOpenWrite(const char* path);
// Flushes, syncs and closes a stream opened for writing; false when any
// earlier write, the flush or the close failed (a full disk shows up here).
bool fsCloseWrite(FILE* file);
// The system's text for the error of the last failed call above on this
// thread (open, write, flush, close, rename), e.g. "No space left on device".
const char* fsLastErrorText();
// Records errno of a failed write on a stream from fsOpenWrite for fsLastErrorText.
void fsNoteWriteError();

// Test seam: from now on the disk takes only `bytes` more bytes across every
// stream fsOpenWrite opens; a write past that is cut short and fails with
// "no space left", as a full disk fails stdio's last buffered block. A
// negative value lifts the limit. Streams opened before keep their own fate.
void fsSetWriteBudget(int64_t bytes);
// Renames over an existing file atomically (same file system).
bool fsRename(const char* from, const char* to);
bool fsRemove(const char* path);
// The size of an open stream's file, -1 when it cannot be told.
int64_t fsStreamSize(FILE* file);
// 64-bit seek and tell on a stream opened above (origin as fseek).
bool fsSeek(FILE* file, int64_t offset, int origin);
int64_t fsTell(FILE* file);

// Positioned reads on a descriptor with no shared file position, for readers
// that jump around a file (zip packs). Regular files only; -1 on failure.
int fsOpenDescriptor(const char* path);
// Reads up to size bytes at offset, retrying interrupted and partial reads;
// the bytes read (short only at the end of the file), -1 on error.
int64_t fsReadAt(int descriptor, int64_t offset, void* buffer, size_t size);
int64_t fsDescriptorSize(int descriptor);
void fsCloseDescriptor(int descriptor);
