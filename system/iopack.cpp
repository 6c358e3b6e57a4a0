// Reading and writing ".bqp" zip packs through minizip. Packs come from
// anywhere, so every count, size and name read from one is checked before use.

#include "system/iopack.h"

#include <minizip/unzip.h>
#include <minizip/zip.h>
#include <zlib.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <new>

#include "system/iomanager.h"

namespace {

char lowerChar(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

unzFile asUnz(IOPackReader reader) {
  return static_cast<unzFile>(reader);
}

// minizip's I/O layer over positioned reads. The standard-file layer seeks a
// shared stdio stream, which throws its buffer away on nearly every directory
// record and entry header; here seeks are free and small reads come from a
// read-ahead block.
struct PackStream {
  // Small: entries are mostly opened at random, and each open reads its
  // directory record and its local header from different places.
  static constexpr size_t kBlockSize = 4096;
  int descriptor = -1;
  int64_t size = 0;
  int64_t position = 0;
  char* block = nullptr;  // allocated on first use
  int64_t blockStart = 0;
  size_t blockLength = 0;
  bool failed = false;
};

voidpf ZCALLBACK packOpen(voidpf, const void* filename, int mode) {
  if ((mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) != ZLIB_FILEFUNC_MODE_READ || !filename) {
    return nullptr;
  }
  const int descriptor = fsOpenDescriptor(static_cast<const char*>(filename));
  if (descriptor < 0) {
    return nullptr;
  }
  PackStream* stream = new (std::nothrow) PackStream;
  if (!stream) {
    fsCloseDescriptor(descriptor);
    return nullptr;
  }
  stream->descriptor = descriptor;
  stream->size = fsDescriptorSize(descriptor);
  return stream;
}

uLong ZCALLBACK packRead(voidpf, voidpf opaque, void* buffer, uLong size) {
  PackStream* stream = static_cast<PackStream*>(opaque);
  char* out = static_cast<char*>(buffer);
  uLong done = 0;
  while (done < size) {
    const int64_t offset = stream->position;
    // minizip reads header fields a byte at a time and carries on past a failed read (a
    // damaged 64 KB extra field is walked four bytes a step): past the end, no system call.
    if (offset >= stream->size) {
      break;
    }
    if (offset >= stream->blockStart &&
        offset < stream->blockStart + static_cast<int64_t>(stream->blockLength)) {
      const size_t available = static_cast<size_t>(stream->blockStart + stream->blockLength - offset);
      const size_t take = available < size - done ? available : static_cast<size_t>(size - done);
      memcpy(out + done, stream->block + (offset - stream->blockStart), take);
      done += take;
      stream->position += static_cast<int64_t>(take);
      continue;
    }
    if (size - done >= PackStream::kBlockSize) {
      const int64_t got = fsReadAt(stream->descriptor, offset, out + done, size - done);
      if (got < 0) {
        stream->failed = true;
        break;
      }
      done += static_cast<uLong>(got);
      stream->position += got;
      break;
    }
    if (!stream->block) {
      stream->block = new (std::nothrow) char[PackStream::kBlockSize];
      if (!stream->block) {
        stream->failed = true;
        break;
      }
    }
    const int64_t got = fsReadAt(stream->descriptor, offset, stream->block, PackStream::kBlockSize);
    if (got <= 0) {
      stream->failed = got < 0;
      stream->blockLength = 0;
      break;
    }
    stream->blockStart = offset;
    stream->blockLength = static_cast<size_t>(got);
  }
  return done;
}

uLong ZCALLBACK packWrite(voidpf, voidpf, const void*, uLong) {
  return 0;
}

ZPOS64_T ZCALLBACK packTell(voidpf, voidpf opaque) {
  return static_cast<ZPOS64_T>(static_cast<PackStream*>(opaque)->position);
}

long ZCALLBACK packSeek(voidpf, voidpf opaque, ZPOS64_T offset, int origin) {
  PackStream* stream = static_cast<PackStream*>(opaque);
  int64_t base = 0;
  switch (origin) {
    case ZLIB_FILEFUNC_SEEK_SET:
      break;
    case ZLIB_FILEFUNC_SEEK_CUR:
      base = stream->position;
      break;
    case ZLIB_FILEFUNC_SEEK_END:
      base = stream->size;
      break;
    default:
      return -1;
  }
  // Offsets come from the archive: refuse what would wrap around.
  if (offset > static_cast<ZPOS64_T>(INT64_MAX - base)) {
    return -1;
  }
  stream->position = base + static_cast<int64_t>(offset);
  return 0;
}

int ZCALLBACK packClose(voidpf, voidpf opaque) {
  PackStream* stream = static_cast<PackStream*>(opaque);
  fsCloseDescriptor(stream->descriptor);
  delete[] stream->block;
  delete stream;
  return 0;
}

int ZCALLBACK packError(voidpf, voidpf opaque) {
  return static_cast<PackStream*>(opaque)->failed ? 1 : 0;
}

unzFile openPackFile(const char* path) {
  zlib_filefunc64_def functions;
  functions.zopen64_file = packOpen;
  functions.zread_file = packRead;
  functions.zwrite_file = packWrite;
  functions.ztell64_file = packTell;
  functions.zseek64_file = packSeek;
  functions.zclose_file = packClose;
  functions.zerror_file = packError;
  functions.opaque = nullptr;
  return unzOpen2_64(path, &functions);
}

// The current entry's name into a 256-byte buffer. minizip leaves a name that
// fills the buffer unterminated, so the length is checked here; false for a
// failed read, *tooLong for a name that cannot be stored whole.
bool readEntryName(unzFile file, char (&name)[IOPack::kMaxNameLength + 1], bool* tooLong) {
  unz_file_info64 info;
  if (unzGetCurrentFileInfo64(file, &info, name, sizeof(name), nullptr, 0, nullptr, 0) != UNZ_OK) {
    return false;
  }
  *tooLong = info.size_filename > IOPack::kMaxNameLength;
  name[*tooLong ? 0 : info.size_filename] = '\0';
  return true;
}

}  // namespace

IOPack::~IOPack() {
  if (shared_) {
    unzClose(asUnz(shared_));
  }
  delete[] buckets_;
  delete[] reinterpret_cast<char*>(entries_);
}

int IOPack::hashSizeFor(int count) {
  int size = 1;
  while (size <= count && size < kMaxHashSize) {
    size <<= 1;
  }
  return size;
}

int IOPack::hashFileName(const char* name, int hashSize) {
  int64_t hash = 0;
  for (int64_t i = 0; name[i] != '\0' && name[i] != '.'; i++) {
    char c = lowerChar(name[i]);
    // ":" too, so the bucket agrees with compareFileNames.
    if (c == '\\' || c == ':') {
      c = '/';
    }
    hash += static_cast<int64_t>(static_cast<unsigned char>(c)) * (i + 119);
  }
  hash = hash ^ (hash >> 10) ^ (hash >> 20);
  return static_cast<int>(hash & (hashSize - 1));
}

void IOPack::setGameDir(const char* gameDir) {
  snprintf(gameDir_, sizeof(gameDir_), "%s", gameDir ? gameDir : "");
}

IOPack* IOPack::load(const char* osPath, const char* fileName) {
  if (!osPath || !fileName || strlen(osPath) >= kFsMaxPath) {
    return nullptr;
  }
  unzFile file = openPackFile(osPath);
  if (!file) {
    ioPrintf("WARNING: skipping pack '%s': not a readable zip archive\n", osPath);
    return nullptr;
  }
  unz_global_info64 global;
  if (unzGetGlobalInfo64(file, &global) != UNZ_OK) {
    ioPrintf("WARNING: skipping pack '%s': unreadable archive information\n", osPath);
    unzClose(file);
    return nullptr;
  }

  // First pass: count the entries and size the name block. The archive's own
  // entry count is only an upper bound; the records themselves decide.
  char name[kMaxNameLength + 1];
  int64_t visited = 0;
  int stored = 0;
  int skipped = 0;
  size_t nameBytes = 0;
  int err = global.number_entry > 0 ? unzGoToFirstFile(file) : UNZ_END_OF_LIST_OF_FILE;
  while (err == UNZ_OK) {
    bool tooLong = false;
    if (!readEntryName(file, name, &tooLong)) {
      err = UNZ_BADZIPFILE;
      break;
    }
    visited++;
    if (tooLong) {
      skipped++;
    } else {
      if (stored == INT_MAX / 2) {
        err = UNZ_BADZIPFILE;
        break;
      }
      stored++;
      nameBytes += strlen(name) + 1;
    }
    err = unzGoToNextFile(file);
  }
  if (err != UNZ_END_OF_LIST_OF_FILE) {
    ioPrintf("WARNING: skipping pack '%s': damaged central directory after %lld entries\n", osPath,
             static_cast<long long>(visited));
    unzClose(file);
    return nullptr;
  }
  if (skipped > 0) {
    ioPrintf("WARNING: pack '%s': %d entries with names longer than %d characters left out\n", osPath,
             skipped, kMaxNameLength);
  }

  IOPack* pack = new (std::nothrow) IOPack;
  const int hashSize = hashSizeFor(stored);
  const size_t recordBytes = sizeof(IOPackEntry) * static_cast<size_t>(stored);
  char* block = pack ? new (std::nothrow) char[recordBytes + nameBytes + 1] : nullptr;
  IOPackEntry** buckets = block ? new (std::nothrow) IOPackEntry*[hashSize]() : nullptr;
  if (!buckets) {
    ioPrintf("WARNING: skipping pack '%s': out of memory for %d entries\n", osPath, stored);
    delete[] block;
    delete pack;
    unzClose(file);
    return nullptr;
  }
  pack->shared_ = file;
  pack->buckets_ = buckets;
  pack->entries_ = reinterpret_cast<IOPackEntry*>(block);
  pack->hashSize_ = hashSize;
  snprintf(pack->osPath_, sizeof(pack->osPath_), "%s", osPath);
  snprintf(pack->packName_, sizeof(pack->packName_), "%s", fileName);
  if (char* dot = strrchr(pack->packName_, '.')) {
    *dot = '\0';
  }

  // Second pass: never more entries or name bytes than the first pass sized,
  // whatever the file says now.
  char* names = block + recordBytes;
  size_t namesUsed = 0;
  int count = 0;
  bool ok = stored == 0 || unzGoToFirstFile(file) == UNZ_OK;
  for (int64_t i = 0; ok && i < visited && count < stored; i++) {
    bool tooLong = false;
    if (!readEntryName(file, name, &tooLong)) {
      ok = false;
      break;
    }
    if (!tooLong) {
      const size_t length = strlen(name);
      if (namesUsed + length + 1 > nameBytes) {
        ok = false;
        break;
      }
      char* out = names + namesUsed;
      for (size_t c = 0; c <= length; c++) {
        out[c] = lowerChar(name[c]);
      }
      namesUsed += length + 1;
      IOPackEntry& entry = pack->entries_[count++];
      entry.name = out;
      entry.offset = unzGetOffset64(file);
      const int bucket = hashFileName(out, hashSize);
      entry.next = buckets[bucket];
      buckets[bucket] = &entry;
    }
    if (i + 1 < visited && unzGoToNextFile(file) != UNZ_OK) {
      ok = false;
    }
  }
  if (!ok || count != stored) {
    ioPrintf("WARNING: skipping pack '%s': central directory changed while it was read\n", osPath);
    delete pack;
    return nullptr;
  }
  pack->entryCount_ = count;
  return pack;
}

const IOPackEntry* IOPack::find(const char* name) const {
  if (!name || !buckets_ || strlen(name) > kMaxNameLength) {
    return nullptr;
  }
  for (const IOPackEntry* entry = buckets_[hashFileName(name, hashSize_)]; entry; entry = entry->next) {
    if (IOManager::compareFileNames(entry->name, name) == 0) {
      return entry;
    }
  }
  return nullptr;
}

IOPackReader IOPack::reopen() const {
  // A second unzOpen reads only the end record; the entries are then reached
  // by their stored offsets, never by walking the directory again.
  return openPackFile(osPath_);
}

void IOPack::closeReader(IOPackReader reader) {
  if (reader) {
    unzCloseCurrentFile(asUnz(reader));
    unzClose(asUnz(reader));
  }
}

int IOPack::openEntry(IOPackReader reader, const IOPackEntry* entry, const char* name) {
  unzFile file = asUnz(reader);
  unz_file_info64 info;
  if (!file || !entry || unzSetOffset64(file, entry->offset) != UNZ_OK ||
      unzGetCurrentFileInfo64(file, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) {
    ioPrintf("WARNING: cannot read '%s': damaged pack directory record\n", name);
    return -1;
  }
  if (info.flag & 1) {
    ioPrintf("WARNING: cannot read '%s': the pack entry is encrypted\n", name);
    return -1;
  }
  if (info.compression_method != 0 && info.compression_method != Z_DEFLATED) {
    ioPrintf("WARNING: cannot read '%s': unsupported compression method %lu\n", name,
             info.compression_method);
    return -1;
  }
  if (info.uncompressed_size > static_cast<ZPOS64_T>(INT_MAX)) {
    ioPrintf("WARNING: cannot read '%s': %llu bytes is too large\n", name,
             static_cast<unsigned long long>(info.uncompressed_size));
    return -1;
  }
  const int err = unzOpenCurrentFile(file);
  if (err != UNZ_OK) {
    ioPrintf("WARNING: cannot read '%s': damaged pack entry (error %d)\n", name, err);
    return -1;
  }
  return static_cast<int>(info.uncompressed_size);
}

int IOPack::readEntry(IOPackReader reader, void* buffer, int length) {
  if (!reader || length <= 0) {
    return 0;
  }
  return unzReadCurrentFile(asUnz(reader), buffer, static_cast<unsigned>(length));
}

bool IOPack::closeEntry(IOPackReader reader) {
  return !reader || unzCloseCurrentFile(asUnz(reader)) != UNZ_CRCERROR;
}

int IOPack::writeEntry(const char* osPath, const char* entryName, const void* data, int length) {
  if (!osPath || !osPath[0] || !entryName || !entryName[0] || length < 0 || (!data && length > 0)) {
    return -1;
  }
  if (strlen(entryName) > kMaxNameLength) {
    ioPrintf("WARNING: cannot write '%s' to '%s': the name is longer than %d characters\n", entryName, osPath,
             kMaxNameLength);
    return -1;
  }
  bool append = false;
  FsStat st;
  if (fsStat(osPath, &st) && st.type != FsType::kFile) {
    ioPrintf("WARNING: cannot write '%s': '%s' is not a regular file\n", entryName, osPath);
    return -1;
  }
  if (FILE* existing = fsOpenRead(osPath)) {
    append = true;
    fclose(existing);
  }
  zipFile zip = zipOpen64(osPath, append ? APPEND_STATUS_ADDINZIP : APPEND_STATUS_CREATE);
  if (!zip) {
    ioPrintf("WARNING: cannot write '%s': '%s' cannot be %s\n", entryName, osPath,
             append ? "opened as a zip archive" : "created");
    return -1;
  }
  zip_fileinfo info;
  memset(&info, 0, sizeof(info));
  int err = zipOpenNewFileInZip3(zip, entryName, &info, nullptr, 0, nullptr, 0, "created by Quillmere",
                                 Z_DEFLATED, 9, 0, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY, nullptr, 0);
  if (err == ZIP_OK) {
    static const char kEmpty[1] = {0};
    err = zipWriteInFileInZip(zip, length > 0 ? data : kEmpty, static_cast<unsigned>(length));
  }
  if (err != ZIP_OK) {
    ioPrintf("WARNING: cannot write '%s' to '%s' (error %d)\n", entryName, osPath, err);
    zipClose(zip, nullptr);
    return -1;
  }
  return zipClose(zip, nullptr);
}
