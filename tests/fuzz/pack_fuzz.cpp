// Fuzzes ".bqp" packs: the input becomes the only pack of a fresh file system, which indexes it at
// start-up; every entry it lists is then opened, read in pieces with seeks, and loaded whole.
// Runs inside a scratch directory of its own, which it removes at exit.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "lib/keydict.h"
#include "lib/list.h"
#include "lib/str.h"
#include "system/iomanager.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

namespace fs = std::filesystem;

constexpr int kMaxEntriesRead = 64;
constexpr int kMaxBytesPerEntry = 4 << 20;
// Byte-sized reads are the slow path; they stop earlier so one input cannot run into the timeout.
constexpr int kMaxBytesInSmallReads = 64 << 10;

fs::path g_root;
fuzz::QuietCmdSystem g_quiet;

void removeScratch() {
  std::error_code ignored;
  fs::current_path(g_root.parent_path(), ignored);
  fs::remove_all(g_root, ignored);
}

void readEntry(IOManager& io, const char* name, uint8_t pattern) {
  IOFileHandle file = 0;
  const int length = io.openFileRead(name, &file);
  if (!file)
    return;
  static char buffer[65536];
  const int chunk = pattern < 8 ? 1 + pattern : 512 + pattern * 97;
  const int limit = chunk < 512 ? kMaxBytesInSmallReads : kMaxBytesPerEntry;
  int total = 0;
  for (int got; total < limit && (got = io.read(buffer, chunk, file)) > 0;)
    total += got;
  // Seeks back into the middle and to either end, as streaming readers do.
  if (length > 0) {
    io.seek(file, length / 2, 0);
    io.read(buffer, 16, file);
    io.seek(file, -1, 2);
    io.read(buffer, 16, file);
    io.seek(file, 0, 0);
    io.read(buffer, 1, file);
    io.tell(file);
  }
  io.closeFile(file);
  if (length <= kMaxBytesPerEntry) {
    if (IOData* data = io.loadFile(name))
      io.freeFile(data);
  }
  io.readFileToBuffer(name, buffer, 7);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  g_root = fuzz::makeScratchDirectory("pack");
  std::atexit(removeScratch);
  g_cmdSystem = &g_quiet;
  KeyDict::initPools();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Removed first: truncating a file in place makes some file systems flush it.
  std::remove("media/fuzz.bqp");
  if (FILE* f = std::fopen("media/fuzz.bqp", "wb")) {
    std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  IOManager& io = *IOManager::getInstance();
  if (io.initialize("media")) {
    List<String> names;
    io.listFiles("", nullptr, "*", names, true);
    const uint8_t pattern = size > 0 ? data[size - 1] : 0;
    for (int i = 0; i < names.num() && i < kMaxEntriesRead; ++i) {
      if (String::icmp(names[i].c_str(), "fuzz.bqp") != 0)
        readEntry(io, names[i].c_str(), uint8_t(pattern + i));
    }
  }
  io.shutdown();
  return 0;
}
