// Shared fixtures of the file-system tests: a unique temporary tree and a zip
// writer (minizip's own) for building packs, good and deliberately damaged.
#pragma once

#include <minizip/zip.h>
#include <zlib.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace iotest {

namespace fs = std::filesystem;

// A directory of its own below QUILL_TEST_TMP (or the system's temp dir), removed at the end.
class TempTree {
 public:
  TempTree() {
    static std::atomic<int> counter{0};
    const char* base = std::getenv("QUILL_TEST_TMP");
    fs::path root = base && base[0] ? fs::path(base) : fs::temp_directory_path();
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    path_ = root / ("io_" + std::to_string(stamp) + "_" + std::to_string(counter++));
    fs::create_directories(path_);
    path_ = fs::canonical(path_);  // as the working directory will read back
  }
  ~TempTree() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  const fs::path& path() const { return path_; }
  std::string str(const std::string& relative = "") const {
    return relative.empty() ? path_.string() : (path_ / relative).string();
  }
  void write(const std::string& relative, const std::string& data) const {
    const fs::path file = path_ / relative;
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary).write(data.data(), static_cast<std::streamsize>(data.size()));
  }
  std::string read(const std::string& relative) const {
    std::ifstream in(path_ / relative, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

 private:
  fs::path path_;
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
