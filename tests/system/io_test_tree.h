// Shared fixtures of the file-system tests: a fixture over a temporary tree and a zip
// writer (minizip's own) for building packs, good and deliberately damaged.
#pragma once

#include <gtest/gtest.h>
#include <minizip/zip.h>
#include <zlib.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "system/convarmanager.h"
#include "system/iomanager.h"
#include "tests/support/temptree.h"

namespace iotest {

namespace fs = std::filesystem;

using ::TempTree;

// A temporary tree as the working directory, the console variables the file system reads, and the
// file manager's instance, not yet initialised; torn down in reverse order.
class IOTreeTest : public ::testing::Test {
 protected:
  IOTreeTest() : tree_("io"), cwd_(tree_.path()) {}
  void SetUp() override {
    getConVarManager();
    io_ = IOManager::getInstance();
  }
  void TearDown() override {
    destroyIOManager();
    destroyConVarManager();
  }

  TempTree tree_;
  WorkingDirectory cwd_;
  IOManager* io_ = nullptr;
};

struct ZipEntry {
  std::string name;
  std::string data;
  int method = Z_DEFLATED;  // 0 stored
  // Raw entries take data as the compressed bytes and the size and CRC below
  // as the truth the archive claims, so damaged entries can be made.
  bool raw = false;
  uint64_t claimedSize = 0;
  uint32_t claimedCrc = 0;
  const char* password = nullptr;  // encrypts the entry
};

inline uint32_t crcOf(const std::string& data) {
  return static_cast<uint32_t>(
      crc32(0L, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

inline bool writeZip(const std::string& path, const std::vector<ZipEntry>& entries) {
  fs::create_directories(fs::path(path).parent_path());
  zipFile zip = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
  if (!zip) {
    return false;
  }
  bool ok = true;
  for (const ZipEntry& e : entries) {
    zip_fileinfo info{};
    ok = ok && zipOpenNewFileInZip3(zip, e.name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, e.method,
                                    e.method ? 6 : 0, e.raw ? 1 : 0, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY,
                                    e.password, crcOf(e.data)) == ZIP_OK;
    ok = ok && zipWriteInFileInZip(zip, e.data.data(), static_cast<unsigned>(e.data.size())) == ZIP_OK;
    if (e.raw) {
      ok = ok && zipCloseFileInZipRaw(zip, static_cast<uLong>(e.claimedSize), e.claimedCrc) == ZIP_OK;
    } else {
      ok = ok && zipCloseFileInZip(zip) == ZIP_OK;
    }
  }
  return zipClose(zip, nullptr) == ZIP_OK && ok;
}

// Deterministic bytes that deflate poorly, so seeks cross many inflate blocks.
inline std::string noise(size_t size, uint32_t seed) {
  std::string s(size, '\0');
  for (size_t i = 0; i < size; i++) {
    seed = seed * 1664525u + 1013904223u;
    s[i] = static_cast<char>(seed >> 24);
  }
  return s;
}

}  // namespace iotest
