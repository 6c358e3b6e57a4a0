// Temporary directory trees for tests that need real files: a tree of its own below QUILL_TEST_TMP
// (or the system's temporary directory), removed at the end, and a scoped working-directory change.
#pragma once

#include <filesystem>
#include <string>

class TempTree {
 public:
  // The folder is named after `prefix`, a time stamp and a per-process counter.
  explicit TempTree(const std::string& prefix = "tree");
  ~TempTree();
  TempTree(const TempTree&) = delete;
  TempTree& operator=(const TempTree&) = delete;

  // Canonical, as the working directory reads back once it is changed into the tree.
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::filesystem::path& relative) const { return path_ / relative; }
  std::string str(const std::string& relative = "") const;
  // Writes a file, making its folders.
  void write(const std::string& relative, const std::string& data) const;
  // The whole file; empty when it cannot be read.
  std::string read(const std::string& relative) const;

 private:
  std::filesystem::path path_;
};

// Changes the working directory for its lifetime; the previous one comes back on destruction.
class WorkingDirectory {
 public:
  explicit WorkingDirectory(const std::filesystem::path& path);
  ~WorkingDirectory();
  WorkingDirectory(const WorkingDirectory&) = delete;
  WorkingDirectory& operator=(const WorkingDirectory&) = delete;

 private:
  std::filesystem::path previous_;
};
