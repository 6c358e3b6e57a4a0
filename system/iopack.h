// IOPack: one opened ".bqp" zip pack, its central directory kept as a hash of
// lower-case entry names so lookups never touch the disk, and the minizip
// readers and writer the file system uses for pack entries.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/fs.h"

struct IOPackEntry {
  const char* name;   // lower case, separators as stored
  uint64_t offset;    // position of the entry's central-directory record (unzGetOffset64)
  IOPackEntry* next;  // next entry of the same bucket
};

// Bounded reader state of one open pack entry (an unzFile underneath).
using IOPackReader = void*;

class IOPack {
 public:
  static constexpr int kMaxHashSize = 2048;
  static constexpr int kMaxNameLength = 255;

  ~IOPack();
  IOPack(const IOPack&) = delete;
  IOPack& operator=(const IOPack&) = delete;

  // Opens the pack and indexes its central directory; null (with a warning)
  // when it is no readable zip archive or memory runs out.
  static IOPack* load(const char* osPath, const char* fileName);

  // The entry whose name compares equal (compareFileNames), later entries of
  // the pack first; null when absent.
  const IOPackEntry* find(const char* name) const;

  // A reader of its own over the same pack file; null when the file cannot be
  // opened again. Release it with closeReader.
  IOPackReader reopen() const;
  static void closeReader(IOPackReader reader);

  // Positions the reader at the entry and opens it; the entry's uncompressed
  // length, or -1 (with a warning naming `name`) when it cannot be read.
  static int openEntry(IOPackReader reader, const IOPackEntry* entry, const char* name);
  // Bytes inflated, or a negative minizip error.
  static int readEntry(IOPackReader reader, void* buffer, int length);
  // Closes the reader's current entry; false when a fully read entry failed its CRC check.
  static bool closeEntry(IOPackReader reader);

  // Appends an entry (deflate level 9) to the pack at osPath, creating it when
  // no file of that path opens; 0 on success, -1 on failure.
  static int writeEntry(const char* osPath, const char* entryName, const void* data, int length);

  // The bucket of a name: over the characters before its first ".".
  static int hashFileName(const char* name, int hashSize);
  // The smallest power of two greater than count, at most kMaxHashSize.
  static int hashSizeFor(int count);

  const char* osPath() const { return osPath_; }
  const char* packName() const { return packName_; }
  const char* gameDir() const { return gameDir_; }
  void setGameDir(const char* gameDir);
  IOPackReader sharedReader() const { return shared_; }
  int entryCount() const { return entryCount_; }
  int hashSize() const { return hashSize_; }
  const IOPackEntry& entry(int index) const { return entries_[index]; }

  // The file slot whose entry the shared reader is positioned in (0 none).
  int sharedOwner = 0;

 private:
  IOPack() = default;

  char osPath_[kFsMaxPath] = {};
  char packName_[256] = {};
  char gameDir_[256] = {};
  IOPackReader shared_ = nullptr;
  int entryCount_ = 0;  // entries indexed (names that fit; corrupt tails are cut off)
  int hashSize_ = 0;
  IOPackEntry** buckets_ = nullptr;
  IOPackEntry* entries_ = nullptr;  // entryCount_ records, then the names
};

// Prints through the command system (standard output without one).
void ioPrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));
