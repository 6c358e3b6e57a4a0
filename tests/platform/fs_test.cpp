// The POSIX side of the file system: regular-file opens, positioned reads,
// directory creation and listing.

#include "platform/fs.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "tests/support/blockguard.h"
#include "tests/support/temptree.h"

namespace {

namespace fs = std::filesystem;

class PlatformFsTest : public ::testing::Test {
 protected:
  std::string put(const std::string& name, const std::string& data) {
    const fs::path path = root_ / name;
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << data;
    return path.string();
  }
  TempTree tree_{"fs"};
  const fs::path root_ = tree_.path();
};

TEST_F(PlatformFsTest, OpenReadTakesRegularFilesOnly) {
  const std::string file = put("a.txt", "hello");
  int64_t size = -1;
  FILE* stream = fsOpenRead(file.c_str(), &size);
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(size, 5);
  EXPECT_EQ(fsStreamSize(stream), 5);
  EXPECT_TRUE(fsSeek(stream, 2, SEEK_SET));
  EXPECT_EQ(fsTell(stream), 2);
  fclose(stream);
  EXPECT_EQ(fsOpenRead(root_.string().c_str()), nullptr);  // a directory
  EXPECT_EQ(fsOpenRead((root_ / "missing").string().c_str()), nullptr);
  EXPECT_EQ(fsOpenRead(""), nullptr);
  EXPECT_EQ(fsOpenRead(nullptr), nullptr);
  EXPECT_EQ(fsOpenDescriptor(root_.string().c_str()), -1);
}

TEST_F(PlatformFsTest, PositionedReadsStopAtTheEnd) {
  const int descriptor = fsOpenDescriptor(put("d.bin", "0123456789").c_str());
  ASSERT_GE(descriptor, 0);
  EXPECT_EQ(fsDescriptorSize(descriptor), 10);
  char buffer[16] = {};
  EXPECT_EQ(fsReadAt(descriptor, 3, buffer, 4), 4);
  EXPECT_EQ(std::string(buffer, 4), "3456");
  EXPECT_EQ(fsReadAt(descriptor, 8, buffer, 10), 2);  // short only at the end
  EXPECT_EQ(fsReadAt(descriptor, 100, buffer, 4), 0);
  EXPECT_EQ(fsReadAt(descriptor, -1, buffer, 4), -1);
  fsCloseDescriptor(descriptor);
  EXPECT_EQ(fsReadAt(-1, 0, buffer, 4), -1);
}

TEST_F(PlatformFsTest, DirectoriesAreMadeStatedAndListed) {
  const std::string dir = (root_ / "made").string();
  EXPECT_TRUE(fsMakeDir(dir.c_str()));
  EXPECT_TRUE(fsMakeDir(dir.c_str()));  // existing is fine
  const std::string file = put("made/file.txt", "abc");
  EXPECT_FALSE(fsMakeDir(file.c_str()));  // a file is in the way
  put("made/sub/x", "");
  FsStat st;
  ASSERT_TRUE(fsStat(file.c_str(), &st));
  EXPECT_EQ(st.type, FsType::kFile);
  EXPECT_EQ(st.size, 3);
  ASSERT_TRUE(fsStat(dir.c_str(), &st));
  EXPECT_EQ(st.type, FsType::kDirectory);
  EXPECT_FALSE(fsStat((root_ / "none").string().c_str(), &st));
  EXPECT_EQ(st.type, FsType::kMissing);

  std::map<std::string, bool> seen;
  EXPECT_TRUE(fsListDirectory(
      dir.c_str(),
      [](void* user, const char* name, bool isDirectory) {
        (*static_cast<std::map<std::string, bool>*>(user))[name] = isDirectory;
        return true;
      },
      &seen));
  EXPECT_EQ(seen, (std::map<std::string, bool>{{"file.txt", false}, {"sub", true}}));
  int calls = 0;
  fsListDirectory(
      dir.c_str(),
      [](void* user, const char*, bool) {
        ++*static_cast<int*>(user);
        return false;  // stop at once
      },
      &calls);
  EXPECT_EQ(calls, 1);
  EXPECT_FALSE(fsListDirectory((root_ / "none").string().c_str(),
                               [](void*, const char*, bool) { return true; }, nullptr));

  char cwd[kFsMaxPath];
  EXPECT_TRUE(fsGetCwd(cwd, sizeof(cwd)));
  EXPECT_EQ(fs::path(cwd), fs::current_path());
  char tiny[2];
  EXPECT_FALSE(fsGetCwd(tiny, sizeof(tiny)));
}

}  // namespace

TEST_F(PlatformFsTest, FifosAreRefusedWithoutBlocking) {
  const std::string fifo = (root_ / "p.bqp").string();
  ASSERT_TRUE(makeFifo(fifo));
  FILE* read = nullptr;
  int descriptor = 0;
  FILE* write = nullptr;
  const bool inTime = finishesWithoutBlocking(
      [&] {
        read = fsOpenRead(fifo.c_str());
        descriptor = fsOpenDescriptor(fifo.c_str());
        write = fsOpenWrite(fifo.c_str());
      },
      fifo);
  EXPECT_TRUE(inTime) << "opening a FIFO blocked";
  EXPECT_EQ(read, nullptr);
  EXPECT_EQ(descriptor, -1);
  EXPECT_EQ(write, nullptr);
  if (read)
    fclose(read);
  if (write)
    fclose(write);
  if (descriptor > 0)
    fsCloseDescriptor(descriptor);
}

TEST_F(PlatformFsTest, CloseWriteReportsWhatTheDiskRefused) {
  FILE* ok = fsOpenWrite((root_ / "ok.txt").string().c_str());
  ASSERT_NE(ok, nullptr);
  fputs("fine", ok);
  EXPECT_TRUE(fsCloseWrite(ok));
  // /dev/full takes the open and fails every flush with "no space left".
  FILE* full = fopen("/dev/full", "wb");
  ASSERT_NE(full, nullptr);
  fputs("lost", full);
  EXPECT_FALSE(fsCloseWrite(full));
  EXPECT_TRUE(fsRename((root_ / "ok.txt").string().c_str(), (root_ / "moved.txt").string().c_str()));
  EXPECT_FALSE(fs::exists(root_ / "ok.txt"));
  EXPECT_TRUE(fsRemove((root_ / "moved.txt").string().c_str()));
  EXPECT_FALSE(fsRemove((root_ / "moved.txt").string().c_str()));
}

// The write budget stands in for a disk with that many bytes free: stdio's buffer hides the
// failure until its last block goes out, at the flush of the close.
TEST_F(PlatformFsTest, AWriteBudgetFailsTheLastBufferedBlockAsAFullDiskDoes) {
  const std::string path = (root_ / "budget.bin").string();
  const std::string data(10000, 'x');
  fsSetWriteBudget(9990);
  FILE* file = fsOpenWrite(path.c_str());
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(fwrite(data.data(), 1, 2000, file), 2000u) << "the first blocks still fit";
  EXPECT_EQ(fsTell(file), 2000);
  fwrite(data.data(), 1, data.size() - 2000, file);
  const bool closed = fsCloseWrite(file);
  fsSetWriteBudget(-1);
  EXPECT_FALSE(closed);
  EXPECT_STREQ(fsLastErrorText(), strerror(ENOSPC));
  EXPECT_EQ(fs::file_size(path), 9990u) << "what the disk took";

  // Without a budget the same writes succeed.
  file = fsOpenWrite(path.c_str());
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(fwrite(data.data(), 1, data.size(), file), data.size());
  EXPECT_TRUE(fsCloseWrite(file));
  EXPECT_EQ(fs::file_size(path), data.size());
}
