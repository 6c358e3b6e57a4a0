// Temporary trees and working-directory scopes shared by the tests.
#include "tests/support/temptree.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;

TempTree::TempTree(const std::string& prefix) {
  static std::atomic<int> counter{0};
  const char* base = std::getenv("QUILL_TEST_TMP");
  const fs::path root = base && base[0] ? fs::path(base) : fs::temp_directory_path();
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  path_ = root / (prefix + "_" + std::to_string(stamp) + "_" + std::to_string(counter++));
  fs::create_directories(path_);
  path_ = fs::canonical(path_);
}

TempTree::~TempTree() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

std::string TempTree::str(const std::string& relative) const {
  return relative.empty() ? path_.string() : (path_ / relative).string();
}

void TempTree::write(const std::string& relative, const std::string& data) const {
  const fs::path file = path_ / relative;
  fs::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary).write(data.data(), static_cast<std::streamsize>(data.size()));
}

std::string TempTree::read(const std::string& relative) const {
  std::ifstream in(path_ / relative, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

WorkingDirectory::WorkingDirectory(const fs::path& path) : previous_(fs::current_path()) {
  fs::current_path(path);
}

WorkingDirectory::~WorkingDirectory() {
  std::error_code ignored;
  fs::current_path(previous_, ignored);
}
