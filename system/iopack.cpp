// Reading and writing ".bqp" zip packs through minizip. Packs come from
// anywhere, so every count, size and name read from one is checked before use.

#include "system/iopack.h"

#include <minizip/unzip.h>
#include <minizip/zip.h>
#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <new>

#include "system/iomanager.h"

namespace {

char lowerChar(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

uint32_t le16(const unsigned char* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8;
}
uint32_t le32(const unsigned char* p) {
  return le16(p) | le16(p + 2) << 16;
}
uint64_t le64(const unsigned char* p) {
  return uint64_t(le32(p)) | uint64_t(le32(p + 4)) << 32;
}

struct PackStream;

// Debian's minizip 1.1 never applies the zip64 extra field on 64-bit systems
// (it compares the 32-bit 0xFFFFFFFF marker with an all-ones 64-bit value), so
// an entry whose sizes or local-header offset need zip64 is read here: its
// directory record and local header are parsed and the data inflated with zlib.
struct DirectEntry {
  int method = 0;
  uint64_t dataPosition = 0;
  uint64_t compressedLeft = 0;
  uint64_t uncompressedLeft = 0;
  uint32_t expectedCrc = 0;
  uint32_t crc = 0;
  bool inflating = false;
  z_stream stream;
};

// What an IOPackReader points to: minizip's state and, for zip64 entries, ours.
struct PackReader {
  static constexpr size_t kInputSize = 16384;
  unzFile unz = nullptr;
  PackStream* stream = nullptr;  // minizip's, closed by unzClose
  bool direct = false;  // the current entry is read by DirectEntry
  DirectEntry entry;
  unsigned char* input = nullptr;
};

PackReader* asReader(IOPackReader reader) {
  return static_cast<PackReader*>(reader);
}
unzFile asUnz(IOPackReader reader) {
  return reader ? asReader(reader)->unz : nullptr;
}

void endDirect(PackReader* reader) {
  if (reader->direct && reader->entry.inflating) {
    inflateEnd(&reader->entry.stream);
  }
  reader->entry.inflating = false;
  reader->direct = false;
}

// A leading "./" (bsdtar archiving ".") names the same file as without it.
const char* withoutDotSlash(const char* name) {
  while (name[0] == '.' && (name[1] == '/' || name[1] == '\\')) {
    name += 2;
  }
  return name;
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
  // The first absolute seek while `watching`: where minizip reads a directory record, which
  // includes its offset for data in front of the archive.
  bool watching = false;
  int64_t firstSeek = -1;
};

// `opened`, when given, receives the stream, so the reader can make positioned
// reads of its own (zip64 entries) over the same descriptor.
voidpf ZCALLBACK packOpen(voidpf opened, const void* filename, int mode) {
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
  if (opened) {
    *static_cast<PackStream**>(opened) = stream;
  }
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
  if (stream->watching && stream->firstSeek < 0 && origin == ZLIB_FILEFUNC_SEEK_SET) {
    stream->firstSeek = stream->position;
  }
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

unzFile openUnz(const char* path, PackStream** stream) {
  zlib_filefunc64_def functions;
  functions.zopen64_file = packOpen;
  functions.zread_file = packRead;
  functions.zwrite_file = packWrite;
  functions.ztell64_file = packTell;
  functions.zseek64_file = packSeek;
  functions.zclose_file = packClose;
  functions.zerror_file = packError;
  functions.opaque = stream;
  return unzOpen2_64(path, &functions);
}

PackReader* wrapReader(const char* path) {
  PackStream* stream = nullptr;
  unzFile unz = openUnz(path, &stream);
  if (!unz) {
    return nullptr;
  }
  PackReader* reader = new (std::nothrow) PackReader;
  if (!reader) {
    unzClose(unz);
    return nullptr;
  }
  reader->unz = unz;
  reader->stream = stream;
  return reader;
}

// Reads exactly size bytes at offset through the reader's own descriptor.
bool readExactly(PackReader* reader, uint64_t offset, void* buffer, size_t size) {
  if (!reader->stream || offset > uint64_t(INT64_MAX)) {
    return false;
  }
  return fsReadAt(reader->stream->descriptor, int64_t(offset), buffer, size) == int64_t(size);
}

enum class Zip64Check { kNotNeeded, kReady, kDamaged };

// Parses the entry's central-directory record; when a size or the offset holds
// the zip64 marker, fills `out` from the zip64 extra field and the local header.
Zip64Check prepareZip64(PackReader* reader, uint64_t recordOffset, uint64_t shift, DirectEntry* out) {
  unsigned char record[46];
  if (!readExactly(reader, recordOffset, record, sizeof(record)) || le32(record) != 0x02014b50) {
    return Zip64Check::kDamaged;
  }
  uint64_t compressed = le32(record + 20);
  uint64_t uncompressed = le32(record + 24);
  uint64_t local = le32(record + 42);
  const bool needCompressed = compressed == 0xFFFFFFFFu;
  const bool needUncompressed = uncompressed == 0xFFFFFFFFu;
  const bool needLocal = local == 0xFFFFFFFFu;
  if (!needCompressed && !needUncompressed && !needLocal) {
    return Zip64Check::kNotNeeded;
  }
  const uint32_t nameLength = le16(record + 28);
  const uint32_t extraLength = le16(record + 30);
  unsigned char* extra = new (std::nothrow) unsigned char[extraLength + 1];
  if (!extra || !readExactly(reader, recordOffset + 46 + nameLength, extra, extraLength)) {
    delete[] extra;
    return Zip64Check::kDamaged;
  }
  bool found = false;
  for (uint32_t at = 0; at + 4 <= extraLength && !found;) {
    const uint32_t id = le16(extra + at);
    const uint32_t size = le16(extra + at + 2);
    const unsigned char* field = extra + at + 4;
    if (at + 4 + size > extraLength) {
      break;
    }
    if (id == 0x0001) {
      // Only the values that hold the marker are present, in this order.
      uint32_t used = 0;
      uint64_t* values[] = {needUncompressed ? &uncompressed : nullptr, needCompressed ? &compressed : nullptr,
                            needLocal ? &local : nullptr};
      for (uint64_t* value : values) {
        if (!value) {
          continue;
        }
        if (used + 8 > size) {
          delete[] extra;
          return Zip64Check::kDamaged;
        }
        *value = le64(field + used);
        used += 8;
      }
      found = true;
    }
    at += 4 + size;
  }
  delete[] extra;
  if (!found) {
    return Zip64Check::kDamaged;
  }
  // Offsets in the archive count from its start, after any data in front of it.
  if (local > UINT64_MAX - 30 - shift) {
    return Zip64Check::kDamaged;
  }
  local += shift;
  unsigned char header[30];
  if (!readExactly(reader, local, header, sizeof(header)) ||
      le32(header) != 0x04034b50) {
    return Zip64Check::kDamaged;
  }
  out->method = int(le16(record + 10));
  if (out->method != 0 && out->method != Z_DEFLATED) {
    return Zip64Check::kDamaged;  // the record read here must agree with what was checked
  }
  out->dataPosition = local + 30 + le16(header + 26) + le16(header + 28);
  out->compressedLeft = compressed;
  out->uncompressedLeft = uncompressed;
  out->expectedCrc = le32(record + 16);
  out->crc = uint32_t(crc32(0, nullptr, 0));
  out->inflating = false;
  const int64_t fileSize = reader->stream->size;
  if (fileSize < 0 || out->dataPosition > uint64_t(fileSize) || compressed > uint64_t(fileSize) - out->dataPosition) {
    return Zip64Check::kDamaged;
  }
  return Zip64Check::kReady;
}

int readDirect(PackReader* reader, void* buffer, int length) {
  DirectEntry& e = reader->entry;
  const uint64_t want = std::min<uint64_t>(uint64_t(length), e.uncompressedLeft);
  if (want == 0) {
    return 0;
  }
  if (e.method == 0) {
    if (want > e.compressedLeft || !readExactly(reader, e.dataPosition, buffer, size_t(want))) {
      return UNZ_ERRNO;
    }
    e.dataPosition += want;
    e.compressedLeft -= want;
  } else {
    if (!e.inflating) {
      return UNZ_BADZIPFILE;
    }
    if (!reader->input) {
      reader->input = new (std::nothrow) unsigned char[PackReader::kInputSize];
      if (!reader->input) {
        return UNZ_INTERNALERROR;
      }
    }
    e.stream.next_out = static_cast<Bytef*>(buffer);
    e.stream.avail_out = uInt(want);
    while (e.stream.avail_out > 0) {
      if (e.stream.avail_in == 0) {
        const size_t take = size_t(std::min<uint64_t>(PackReader::kInputSize, e.compressedLeft));
        if (take == 0 || !readExactly(reader, e.dataPosition, reader->input, take)) {
          return UNZ_BADZIPFILE;
        }
        e.dataPosition += take;
        e.compressedLeft -= take;
        e.stream.next_in = reader->input;
        e.stream.avail_in = uInt(take);
      }
      const int err = inflate(&e.stream, Z_SYNC_FLUSH);
      if (err == Z_STREAM_END) {
        break;
      }
      if (err != Z_OK) {
        return UNZ_BADZIPFILE;
      }
    }
    if (e.stream.avail_out != 0) {
      return UNZ_BADZIPFILE;  // the stream ended before the size the directory gives
    }
  }
  e.uncompressedLeft -= want;
  e.crc = uint32_t(crc32(e.crc, static_cast<const Bytef*>(buffer), uInt(want)));
  return int(want);
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
  const char* plain = withoutDotSlash(name);
  if (plain != name) {
    memmove(name, plain, strlen(plain) + 1);
  }
  return true;
}

}  // namespace

IOPack::~IOPack() {
  closeReader(shared_);
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
  PackReader* shared = wrapReader(osPath);
  unzFile file = shared ? shared->unz : nullptr;
  if (!file) {
    ioPrintf("WARNING: skipping pack '%s': not a readable zip archive\n", osPath);
    return nullptr;
  }
  unz_global_info64 global;
  if (unzGetGlobalInfo64(file, &global) != UNZ_OK) {
    ioPrintf("WARNING: skipping pack '%s': unreadable archive information\n", osPath);
    closeReader(shared);
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
    closeReader(shared);
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
    closeReader(shared);
    return nullptr;
  }
  pack->shared_ = shared;
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
  return wrapReader(osPath_);
}

void IOPack::closeReader(IOPackReader reader) {
  if (reader) {
    PackReader* r = asReader(reader);
    endDirect(r);
    unzCloseCurrentFile(r->unz);
    unzClose(r->unz);
    delete[] r->input;
    delete r;
  }
}

int IOPack::openEntry(IOPackReader reader, const IOPackEntry* entry, const char* name) {
  unzFile file = asUnz(reader);
  unz_file_info64 info;
  PackStream* stream = file ? asReader(reader)->stream : nullptr;
  if (file) {
    endDirect(asReader(reader));
    stream->watching = true;
    stream->firstSeek = -1;
  }
  const bool located = file && entry && unzSetOffset64(file, entry->offset) == UNZ_OK &&
                       unzGetCurrentFileInfo64(file, &info, nullptr, 0, nullptr, 0, nullptr, 0) == UNZ_OK;
  if (stream) {
    stream->watching = false;
  }
  if (!located) {
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
  PackReader* r = asReader(reader);
  // Where minizip found the record: the entry's offset plus any data in front of the archive.
  const int64_t recordAt = stream->firstSeek;
  const Zip64Check zip64 =
      recordAt < 0 || uint64_t(recordAt) < entry->offset
          ? Zip64Check::kDamaged
          : prepareZip64(r, uint64_t(recordAt), uint64_t(recordAt) - entry->offset, &r->entry);
  if (zip64 == Zip64Check::kDamaged) {
    ioPrintf("WARNING: cannot read '%s': damaged zip64 pack record\n", name);
    return -1;
  }
  if (zip64 == Zip64Check::kReady) {
    info.uncompressed_size = r->entry.uncompressedLeft;
  }
  if (info.uncompressed_size > static_cast<ZPOS64_T>(INT_MAX)) {
    ioPrintf("WARNING: cannot read '%s': %llu bytes is too large\n", name,
             static_cast<unsigned long long>(info.uncompressed_size));
    return -1;
  }
  if (zip64 == Zip64Check::kReady) {
    if (r->entry.method == Z_DEFLATED) {
      std::memset(&r->entry.stream, 0, sizeof(r->entry.stream));
      if (inflateInit2(&r->entry.stream, -MAX_WBITS) != Z_OK) {
        ioPrintf("WARNING: cannot read '%s': out of memory\n", name);
        return -1;
      }
      r->entry.inflating = true;
    }
    r->direct = true;
    return static_cast<int>(info.uncompressed_size);
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
  if (asReader(reader)->direct) {
    return readDirect(asReader(reader), buffer, length);
  }
  return unzReadCurrentFile(asUnz(reader), buffer, static_cast<unsigned>(length));
}

bool IOPack::closeEntry(IOPackReader reader) {
  if (!reader) {
    return true;
  }
  PackReader* r = asReader(reader);
  if (r->direct) {
    const bool ok = r->entry.uncompressedLeft != 0 || r->entry.crc == r->entry.expectedCrc;
    endDirect(r);
    return ok;
  }
  return unzCloseCurrentFile(r->unz) != UNZ_CRCERROR;
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
