// The virtual file system over a temporary tree: search order, name rules,
// file slots, whole-file reads, listings and the path helpers.

#include "system/iomanager.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "io_test_tree.h"
#include "system/convarmanager.h"
#include "tests/support/blockguard.h"

namespace fs = std::filesystem;
using iotest::TempTree;
using iotest::writeZip;
using iotest::ZipEntry;

namespace {

class IOManagerTest : public iotest::IOTreeTest {
 protected:
  // Initialises with the tree as the working directory; returns the start-up output.
  std::string init() {
    testing::internal::CaptureStdout();
    const bool ok = io_->initialize("media");
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(ok);
    return out;
  }

  std::string readAll(const char* name, bool privateReader = false) {
    IOFileHandle file = 0;
    const int length = io_->openFileRead(name, &file, privateReader);
    if (length < 0) {
      return "<missing>";
    }
    std::string data(static_cast<size_t>(length), '\0');
    const int got = io_->read(data.data(), length, file);
    io_->closeFile(file);
    data.resize(static_cast<size_t>(got < 0 ? 0 : got));
    return data;
  }

  std::vector<std::string> list(const char* directory, const char* extension, bool recursive) {
    char buffer[8192];
    const int count = io_->getFileList(directory, extension, buffer, sizeof(buffer), recursive);
    std::vector<std::string> names;
    const char* p = buffer;
    for (int i = 0; i < count; i++) {
      names.emplace_back(p);
      p += strlen(p) + 1;
    }
    return names;
  }
};

using Names = std::set<std::string>;
Names asSet(const std::vector<std::string>& v) {
  return Names(v.begin(), v.end());
}

TEST_F(IOManagerTest, InitializeAddsWorkingDirectoryAndReportsPackEntries) {
  ASSERT_TRUE(writeZip(tree_.str("media/a.bqp"), {{"x.txt", "x"}, {"y.txt", "y"}}));
  const std::string out = init();
  EXPECT_NE(out.find("----- IOManager::initialize -----\n"), std::string::npos);
  EXPECT_NE(out.find("adding '" + tree_.str() + "/media'...\n"), std::string::npos) << out;
  EXPECT_NE(out.find("2 files in '.bqp' files\n"), std::string::npos) << out;
  EXPECT_STREQ(g_conVarSystem->getString("fs_basepath"), tree_.str().c_str());
  EXPECT_EQ(io_->searchPathCount(), 2);  // the pack and its directory
  EXPECT_EQ(g_ioSystem, io_);
}

TEST_F(IOManagerTest, PacksAreSearchedBeforeDirectoriesAndLaterPacksFirst) {
  tree_.write("media/both.txt", "loose");
  tree_.write("media/loose.txt", "only loose");
  ASSERT_TRUE(
      writeZip(tree_.str("media/a.bqp"), {{"both.txt", "from a"}, {"ab.txt", "a"}, {"onlya.txt", "A"}}));
  ASSERT_TRUE(writeZip(tree_.str("media/b.bqp"), {{"ab.txt", "b"}}));
  init();
  EXPECT_EQ(readAll("both.txt"), "from a");  // pack before its directory
  EXPECT_EQ(readAll("ab.txt"), "b");         // later pack in name order first
  EXPECT_EQ(readAll("onlya.txt"), "A");
  EXPECT_EQ(readAll("loose.txt"), "only loose");
  EXPECT_EQ(readAll("nothing.txt"), "<missing>");
}

TEST_F(IOManagerTest, LaterSearchPathsComeFirst) {
  // Added in this order, so searched the other way round: cd/media,
  // base/media, cd/basegame, base/basegame, cd/mod, base/mod.
  TempTree cd;
  cd.write("media/x.cfg", "cd media");
  cd.write("media/cdonly.cfg", "cd");
  cd.write("basegame/x.cfg", "cd basegame");
  tree_.write("media/x.cfg", "media");
  tree_.write("media/y.cfg", "media");
  tree_.write("basegame/y.cfg", "basegame");
  tree_.write("basegame/x.cfg", "basegame");
  tree_.write("mod/x.cfg", "mod");
  g_conVarSystem->setString("fs_cdpath", cd.str().c_str());
  g_conVarSystem->setString("fs_basegame", "basegame");
  g_conVarSystem->setString("fs_game", "mod");
  init();
  EXPECT_EQ(io_->searchPathCount(), 6);
  EXPECT_EQ(readAll("x.cfg"), "mod");
  EXPECT_EQ(readAll("y.cfg"), "basegame");
  EXPECT_EQ(readAll("cdonly.cfg"), "cd");
  EXPECT_STREQ(io_->currentGameDir(), "mod");

  // The extra directories apply to the base game "media" only.
  io_->shutdown();
  testing::internal::CaptureStdout();
  io_->initialize("other");
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(io_->searchPathCount(), 2);
}

TEST_F(IOManagerTest, NamesWithParentReferencesOrDoubleColonsAreNeverFound) {
  tree_.write("x.cfg", "outside");
  tree_.write("media/a/b", "b");
  tree_.write("media/a..b", "dots");
  tree_.write("media/materials/x.mtx", "mtx");
  init();
  for (const char* name : {"../x.cfg", "a/../a/b", "a::b", "..\\x.cfg", "a..b", "/../x.cfg"}) {
    IOFileHandle file = 7;
    EXPECT_EQ(io_->openFileRead(name, &file), -1) << name;
    EXPECT_EQ(file, 0u) << name;
    EXPECT_FALSE(io_->fileExists(name)) << name;
    EXPECT_EQ(io_->openFileRead(name, nullptr), 0) << name;
  }
  EXPECT_EQ(readAll("/materials/x.mtx"), "mtx");
  EXPECT_EQ(readAll("\\materials\\x.mtx"), "mtx");
  EXPECT_TRUE(io_->fileExists("/materials/x.mtx"));
  EXPECT_EQ(io_->openFileRead("materials/x.mtx", nullptr), 1);
}

TEST_F(IOManagerTest, LooseFilesMatchWithoutCase) {
  tree_.write("media/Materials/Walls.MTX", "walls");
  tree_.write("media/Deep/Er/File.Txt", "deep");
  init();
  struct Case {
    const char* name;
    const char* expect;
  } cases[] = {
      {"materials/walls.mtx", "walls"},    {"MATERIALS/WALLS.mtx", "walls"},
      {"Materials\\Walls.MTX", "walls"},   {"deep/er/file.txt", "deep"},
      {"DEEP\\ER\\FILE.TXT", "deep"},      {"materials/walls.mtx/x", "<missing>"},
      {"materials", "<missing>"},          {"deep/er", "<missing>"},
      {"materials/wall.mtx", "<missing>"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(readAll(c.name), c.expect) << c.name;
    EXPECT_EQ(io_->fileExists(c.name), std::string(c.expect) != "<missing>") << c.name;
  }
  // A file added behind the engine's back with a different case than asked
  // for is found once the cache is flushed; one with the asked case at once.
  tree_.write("media/Materials/New.MTX", "new");
  tree_.write("media/materials2/exact.mtx", "exact");
  EXPECT_EQ(readAll("materials2/exact.mtx"), "exact");
  io_->flushDirectoryCache();
  EXPECT_EQ(readAll("materials/new.mtx"), "new");
}

TEST_F(IOManagerTest, GameDirectoryAndPacksMatchWithoutCase) {
  tree_.write("MEDIA/Loose.txt", "loose");
  ASSERT_TRUE(writeZip(tree_.str("MEDIA/Upper.BQP"), {{"packed.txt", "packed"}}));
  init();
  EXPECT_EQ(io_->packEntryTotal(), 1);
  EXPECT_EQ(readAll("packed.txt"), "packed");
  EXPECT_EQ(readAll("loose.txt"), "loose");
  EXPECT_EQ(asSet(list("", ".txt", false)), (Names{"packed.txt", "Loose.txt"}));
}

TEST_F(IOManagerTest, OperatingSystemPathsOpenWithoutSearchPaths) {
  tree_.write("plain.bin", "12345");
  IOFileHandle file = 0;
  EXPECT_EQ(io_->openOSFileRead(tree_.str("plain.bin").c_str(), &file), 5);
  ASSERT_NE(file, 0u);
  char buffer[8] = {};
  EXPECT_EQ(io_->read(buffer, 5, file), 5);
  EXPECT_STREQ(buffer, "12345");
  io_->closeFile(file);
  EXPECT_EQ(io_->openOSFileRead(tree_.str("missing").c_str(), &file), 0);
  EXPECT_EQ(file, 0u);
  EXPECT_EQ(io_->openOSFileRead(tree_.str("plain.bin").c_str(), nullptr), 5);
  EXPECT_TRUE(io_->osFileExists(tree_.str("plain.bin").c_str()));
  EXPECT_FALSE(io_->osFileExists(tree_.str().c_str()));  // a directory is no file
  // Game-relative opens and writes need the search list.
  EXPECT_EQ(io_->openFileRead("plain.bin", &file), -1);
  EXPECT_EQ(io_->openFileWrite(tree_.str("w.txt").c_str()), 0u);
}

TEST_F(IOManagerTest, SixtyFourthOpenFailsAndAFreedSlotIsReused) {
  tree_.write("media/f.txt", "f");
  init();
  std::vector<IOFileHandle> open;
  for (int i = 0; i < 63; i++) {
    IOFileHandle file = 0;
    ASSERT_EQ(io_->openFileRead("f.txt", &file), 1) << i;
    ASSERT_GE(file, 1u);
    ASSERT_LE(file, 63u);
    open.push_back(file);
  }
  EXPECT_EQ(asSet(std::vector<std::string>()).size(), 0u);
  std::set<IOFileHandle> distinct(open.begin(), open.end());
  EXPECT_EQ(distinct.size(), 63u);
  IOFileHandle file = 99;
  testing::internal::CaptureStdout();
  EXPECT_EQ(io_->openFileRead("f.txt", &file), -1);
  EXPECT_EQ(io_->openOSFileRead(tree_.str("media/f.txt").c_str(), &file), 0);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(file, 0u);
  EXPECT_NE(out.find("no free file handle for 'f.txt'"), std::string::npos) << out;
  io_->closeFile(open[10]);
  EXPECT_EQ(io_->openFileRead("f.txt", &file), 1);
  EXPECT_EQ(file, open[10]);
}

TEST_F(IOManagerTest, OperationsOnBadHandlesAreRefused) {
  tree_.write("media/f.txt", "data");
  init();
  IOFileHandle closed = 0;
  ASSERT_EQ(io_->openFileRead("f.txt", &closed), 4);
  io_->closeFile(closed);
  char buffer[8] = {};
  for (IOFileHandle bad : {IOFileHandle(0), closed, IOFileHandle(63), IOFileHandle(64), IOFileHandle(1) << 32,
                           ~IOFileHandle(0)}) {
    EXPECT_EQ(io_->read(buffer, 4, bad), 0) << bad;
    EXPECT_EQ(io_->write("x", 1, bad), 0) << bad;
    EXPECT_EQ(io_->tell(bad), -1) << bad;
    EXPECT_EQ(io_->seek(bad, 0, 0), 0) << bad;
    EXPECT_EQ(io_->printf(bad, "%d", 5), 0) << bad;
    EXPECT_EQ(io_->fileLength(bad), -1) << bad;
    io_->closeFile(bad);
  }
  EXPECT_EQ(io_->findFreeSlot(), 1);
}

TEST_F(IOManagerTest, ReadFileToBufferNeedsRoomForTheZeroByte) {
  tree_.write("media/hundred.bin", std::string(100, 'h'));
  init();
  char buffer[160];
  struct Case {
    int size;
    int expect;
  } cases[] = {{100, 0}, {101, 100}, {128, 100}, {1, 0}};
  for (const Case& c : cases) {
    memset(buffer, 'x', sizeof(buffer));
    EXPECT_EQ(io_->readFileToBuffer("hundred.bin", buffer, c.size), c.expect) << c.size;
    EXPECT_EQ(strlen(buffer), static_cast<size_t>(c.expect)) << c.size;
    EXPECT_EQ(buffer[c.size], 'x') << "wrote behind the buffer for size " << c.size;
  }
  memset(buffer, 'x', sizeof(buffer));
  EXPECT_EQ(io_->readFileToBuffer("hundred.bin", buffer, 0), 0);
  EXPECT_EQ(buffer[0], 'x');  // size 0 writes nothing
  EXPECT_EQ(io_->readFileToBuffer("missing.bin", buffer, 16), 0);
  EXPECT_EQ(buffer[0], '\0');
  EXPECT_EQ(io_->findFreeSlot(), 1);  // every path closed its file
}

TEST_F(IOManagerTest, WholeFileReadsKeepAZeroByteBehindTheData) {
  tree_.write("media/text.txt", "abc");
  tree_.write("media/empty.txt", "");
  ASSERT_TRUE(writeZip(tree_.str("media/p.bqp"), {{"packed.txt", "packed data"}}));
  init();
  IOData* data = io_->loadFile("text.txt");
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(data->length, 3);
  EXPECT_STREQ(data->buffer, "abc");
  EXPECT_STREQ(data->name, "text.txt");
  EXPECT_TRUE(data->heapOwned);
  io_->freeFile(data);

  IOData local;
  EXPECT_TRUE(io_->readFile("packed.txt", &local));
  EXPECT_EQ(local.length, 11);
  EXPECT_EQ(local.buffer[11], '\0');
  EXPECT_TRUE(io_->readFile("empty.txt", &local));  // the old buffer is released, not leaked
  EXPECT_EQ(local.length, 0);
  ASSERT_NE(local.buffer, nullptr);
  EXPECT_EQ(local.buffer[0], '\0');
  io_->freeFile(&local);
  EXPECT_EQ(local.buffer, nullptr);
  EXPECT_STREQ(local.name, "");

  EXPECT_EQ(io_->loadFile("missing.txt"), nullptr);
  EXPECT_FALSE(io_->readFile("missing.txt", &local));
  IOData* os = io_->loadFile(tree_.str("media/text.txt").c_str(), true);
  ASSERT_NE(os, nullptr);
  EXPECT_STREQ(os->buffer, "abc");
  io_->freeFile(os);
  io_->freeFile(nullptr);
  EXPECT_EQ(io_->findFreeSlot(), 1);
}

TEST_F(IOManagerTest, WritesPrintfAndPlainSeeks) {
  init();
  const std::string path = tree_.str("out/w.txt");
  ASSERT_TRUE(io_->createPath(tree_.str("out").c_str()));
  IOFileHandle file = io_->openFileWrite(path.c_str());
  ASSERT_NE(file, 0u);
  EXPECT_EQ(io_->write("head ", 5, file), 5);
  EXPECT_EQ(io_->printf(file, "%s=%d", "n", 42), 4);
  EXPECT_EQ(io_->tell(file), 9);
  std::string big(5000, 'z');
  EXPECT_EQ(io_->printf(file, "%s", big.c_str()), 4095);  // cut to the 4,096-byte buffer
  io_->closeFile(file);
  EXPECT_EQ(tree_.read("out/w.txt"), "head n=42" + std::string(4095, 'z'));

  IOFileHandle in = 0;
  ASSERT_EQ(io_->openOSFileRead(path.c_str(), &in), 9 + 4095);
  char c = 0;
  EXPECT_EQ(io_->seek(in, 5, 0), 1);
  EXPECT_EQ(io_->read(&c, 1, in), 1);
  EXPECT_EQ(c, 'n');
  EXPECT_EQ(io_->seek(in, 1, 1), 1);
  EXPECT_EQ(io_->read(&c, 1, in), 1);
  EXPECT_EQ(c, '4');
  EXPECT_EQ(io_->seek(in, -1, 2), 1);
  EXPECT_EQ(io_->tell(in), 9 + 4094);
  EXPECT_EQ(io_->seek(in, 0, 77), 1);  // unknown origins count as "current"
  EXPECT_EQ(io_->tell(in), 9 + 4094);
  EXPECT_EQ(io_->write("x", 1, in), 0);  // opened for reading
  io_->closeFile(in);
  EXPECT_EQ(io_->openFileWrite(tree_.str("no/such/dir/file").c_str()), 0u);
}

TEST_F(IOManagerTest, PackEntrySeeksClampAndMatchAPlainRead) {
  const std::string data = iotest::noise(200000, 7);
  ASSERT_TRUE(writeZip(tree_.str("media/p.bqp"), {{"big.bin", data}, {"stored.bin", data, 0}}));
  init();
  for (const char* name : {"big.bin", "stored.bin"}) {
    IOFileHandle file = 0;
    ASSERT_EQ(io_->openFileRead(name, &file), 200000);
    EXPECT_EQ(io_->seek(file, 200000 + 10, 0), 1);
    EXPECT_EQ(io_->tell(file), 200000);
    EXPECT_EQ(io_->seek(file, -5, 0), 1);
    EXPECT_EQ(io_->tell(file), 0);
    // Forward, backward, relative and from-the-end seeks all land on the same bytes.
    struct Seek {
      int offset, origin, expect;
    } seeks[] = {{1000, 0, 1000},   {5000, 1, 6016},   {150000, 0, 150000}, {10, 0, 10},
                 {-100, 2, 199900}, {-300, 1, 199616}, {0, 1, 199632}};
    for (const Seek& s : seeks) {
      ASSERT_EQ(io_->seek(file, s.offset, s.origin), 1);
      ASSERT_EQ(io_->tell(file), s.expect);
      char got[16];
      ASSERT_EQ(io_->read(got, 16, file), 16);
      EXPECT_EQ(std::string(got, 16), data.substr(static_cast<size_t>(s.expect), 16))
          << name << " " << s.expect;
    }
    io_->closeFile(file);
  }
}

TEST_F(IOManagerTest, ListingsFollowTheDirectoryRules) {
  tree_.write("media/materials/x.mtx", "");
  tree_.write("media/materials/Loose.MTX", "");
  tree_.write("media/materials/sub/y.mtx", "");
  tree_.write("media/materials/sub/z.tga", "");
  tree_.write("media/materials/.hidden.mtx", "");
  tree_.write("media/materials/sub2/w.mtx", "");
  tree_.write("media/top.mtx", "");
  ASSERT_TRUE(writeZip(tree_.str("media/p.bqp"), {{"materials/x.mtx", ""},
                                                  {"materials/packed.mtx", ""},
                                                  {"Materials/Deep/Er/d.mtx", ""},
                                                  {"materials/psub/q.mtx", ""},
                                                  {"materials/subfoo.mtx", ""},
                                                  {"other/o.mtx", ""},
                                                  {"root.mtx", ""}}));
  init();
  EXPECT_EQ(asSet(list("materials", ".mtx", false)),
            (Names{"x.mtx", "packed.mtx", "subfoo.mtx", "Loose.MTX"}));
  EXPECT_EQ(asSet(list("materials/", ".MTX", false)),
            (Names{"x.mtx", "packed.mtx", "subfoo.mtx", "Loose.MTX"}));
  EXPECT_EQ(asSet(list("materials", ".mtx", true)),
            (Names{"x.mtx", "packed.mtx", "subfoo.mtx", "deep/er/d.mtx", "psub/q.mtx", "Loose.MTX",
                   "sub/y.mtx", "sub2/w.mtx"}));
  // Without an extension a pack gives the subdirectories holding files; a
  // directory gives everything in it.
  EXPECT_EQ(asSet(list("materials", "", false)), (Names{"psub", "x.mtx", "Loose.MTX", "sub", "sub2"}));
  // "materials/sub" must not take in "materials/subfoo.mtx" or "sub2".
  EXPECT_EQ(asSet(list("materials/sub", ".mtx", false)), (Names{"y.mtx"}));
  EXPECT_EQ(asSet(list("", ".mtx", false)), (Names{"root.mtx", "top.mtx"}));
  EXPECT_EQ(asSet(list("missing", ".mtx", true)), Names{});
  EXPECT_EQ(asSet(list("..", "", false)), Names{});  // nothing outside the search trees
  EXPECT_EQ(asSet(list("materials/../..", "", true)), Names{});

  List<String> names;
  EXPECT_EQ(io_->listFiles("materials", ".mtx", "*sub*", names, true), 4);
  Names filtered;
  for (int i = 0; i < names.num(); i++) {
    filtered.insert(names[i].c_str());
  }
  EXPECT_EQ(filtered, (Names{"materials/psub/q.mtx", "materials/subfoo.mtx", "sub/y.mtx", "sub2/w.mtx"}))
      << "pack names pass whole; directory names are relative";

  g_conVarSystem->setString("fs_restrict", "1");
  EXPECT_EQ(asSet(list("materials", ".mtx", false)), (Names{"x.mtx", "packed.mtx", "subfoo.mtx"}));
}

TEST_F(IOManagerTest, ListingOverflowStopsWithAMessage) {
  for (int i = 0; i < 10; i++) {
    tree_.write("media/l/file" + std::to_string(i) + ".txt", "");
  }
  init();
  char buffer[40];
  testing::internal::CaptureStdout();
  const int count = io_->getFileList("l", ".txt", buffer, sizeof(buffer), false);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(count, 4);  // 10 bytes each with the terminator; the fifth would reach the size
  EXPECT_NE(out.find("IOManager::getFileList: not enough space for all filenames\n"), std::string::npos);
  EXPECT_EQ(io_->getFileListShort("l", buffer, 0, false), 0);
  char big[512];
  EXPECT_EQ(io_->listOSFiles(tree_.str("media/l").c_str(), ".txt", big, sizeof(big), "file[2-4]*", false), 3);
}

TEST_F(IOManagerTest, CreatePathAndCountOSFiles) {
  ASSERT_TRUE(io_->createPath((tree_.str() + "\\made\\deeper\\leaf").c_str()));
  EXPECT_TRUE(std::filesystem::is_directory(tree_.path() / "made/deeper/leaf"));
  EXPECT_TRUE(io_->createPath("./rel/dir/"));
  EXPECT_TRUE(std::filesystem::is_directory(tree_.path() / "rel/dir"));
  tree_.write("count/a.tga", "");
  tree_.write("count/B.TGA", "");
  tree_.write("count/c.jpg", "");
  tree_.write("count/noext", "");
  std::filesystem::create_directories(tree_.path() / "count/dir.tga");
  struct Case {
    const char* pattern;
    int expect;
  } cases[] = {{"count/*.tga", 2}, {"count/*", 4},   {"count/*.*", 4},  {"count/?.jpg", 1},
               {"count/*.png", 0}, {"missing/*", 0}, {"COUNT/*.tga", 2}};
  for (const Case& c : cases) {
    EXPECT_EQ(io_->countOSFiles(c.pattern), c.expect) << c.pattern;
  }
}

TEST_F(IOManagerTest, ShutdownResetsForASecondInitialize) {
  tree_.write("media/a.txt", "a");
  ASSERT_TRUE(writeZip(tree_.str("media/p.bqp"), {{"b.txt", "b"}}));
  init();
  IOFileHandle file = 0;
  ASSERT_EQ(io_->openFileRead("b.txt", &file, true), 1);
  io_->shutdown();
  EXPECT_FALSE(io_->hasSearchPaths());
  EXPECT_EQ(io_->findFreeSlot(), 1);
  EXPECT_EQ(io_->read(&file, 1, file), 0);
  EXPECT_EQ(readAll("a.txt"), "<missing>");
  init();
  EXPECT_EQ(io_->searchPathCount(), 2);
  EXPECT_EQ(io_->packEntryTotal(), 1);
  EXPECT_EQ(readAll("b.txt"), "b");
}

// ---------------------------------------------------------------------------
// Path helpers

TEST_F(IOManagerTest, ExtensionsAndFileNames) {
  struct Ext {
    const char* path;
    const char* extension;
  } extensions[] = {{"a.b/c", ""},    {"dir.x/file", ""}, {"f.tga", ".tga"}, {"a/b.c.d", ".d"},
                    {"a\\b.c", ".c"}, {"noext", ""},      {"", ""}};
  for (const Ext& e : extensions) {
    char out[16] = "junk";
    io_->getExtension(out, e.path);
    EXPECT_STREQ(out, e.extension) << e.path;
  }
  struct Set {
    const char* path;
    const char* extension;
    const char* expect;
  } sets[] = {{"a.b/c", ".tga", "a.b/c.tga"},
              {"x.jpg", ".tga", "x.tga"},
              {"x.jpg", "", "x"},
              {"d.x\\f", ".y", "d.x\\f.y"}};
  for (const Set& s : sets) {
    char path[32];
    strcpy(path, s.path);
    io_->setExtension(path, s.extension);
    EXPECT_STREQ(path, s.expect) << s.path;
  }
  char tight[8] = "abc.d";
  testing::internal::CaptureStdout();
  io_->setExtension(tight, ".longer");  // would not fit: left as it was
  testing::internal::GetCapturedStdout();
  EXPECT_STREQ(tight, "abc.d");

  char name[8];
  EXPECT_TRUE(io_->getFileName("dir/sub\\file.txt", name, sizeof(name)));
  EXPECT_STREQ(name, "file.tx");  // cut to the buffer
  EXPECT_FALSE(io_->getFileName("plain", name, sizeof(name)));
  EXPECT_STREQ(name, "plain");

  char replaced[32] = "maps/e1.bsp";
  io_->replaceFileName(replaced, "e2.kdt");
  EXPECT_STREQ(replaced, "maps/e2.kdt");
  char noSlash[32] = "file";
  io_->replaceFileName(noSlash, "new");
  EXPECT_STREQ(noSlash, "filenew");

  char slashes[32] = "a\\b\\c\\";
  io_->fixSlashes(slashes);
  EXPECT_STREQ(slashes, "a/b/c");

  char directory[32];
  int count = 0;
  EXPECT_EQ(IOManager::splitDirectory("a/b\\c.txt", directory, sizeof(directory), &count), 3);
  EXPECT_STREQ(directory, "a/b");
  EXPECT_EQ(count, 2);
  EXPECT_EQ(IOManager::splitDirectory("c.txt", directory, sizeof(directory), &count), -1);
  EXPECT_STREQ(directory, "");
  EXPECT_EQ(count, 0);
}

TEST_F(IOManagerTest, BuildOSPathJoinsAndRefusesOverlongResults) {
  init();
  struct Case {
    const char* base;
    const char* game;
    const char* name;
    const char* expect;
  } cases[] = {{"E:/game/", "media", "x", "E:/game/media/x"},
               {"E:\\game", "media", "a\\b", "E:/game/media/a/b"},
               {"/base", "media", "D:/x", "D:/x"},
               {"", "media", "x", "media/x"},
               {nullptr, nullptr, "x", "media/x"},
               {"/base", "", "dir/", "/base/media/dir"}};
  for (const Case& c : cases) {
    const char* path = io_->buildOSPath(c.base, c.game, c.name);
    ASSERT_NE(path, nullptr);
    EXPECT_STREQ(path, c.expect) << c.expect;
  }
  const char* first = io_->buildOSPath("/one", "g", "1");
  const char* second = io_->buildOSPath("/two", "g", "2");
  EXPECT_STREQ(first, "/one/g/1");  // two buffers in turn
  EXPECT_STREQ(second, "/two/g/2");
  const std::string longName(kFsMaxPath, 'n');
  testing::internal::CaptureStdout();
  EXPECT_EQ(io_->buildOSPath("/base", "media", longName.c_str()), nullptr);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("WARNING: IOManager::buildOSPath"), std::string::npos);
  // A path that long is never found, and nothing is cut to something else.
  IOFileHandle file = 0;
  testing::internal::CaptureStdout();
  EXPECT_EQ(io_->openFileRead(longName.c_str(), &file), -1);
  testing::internal::GetCapturedStdout();
}

TEST_F(IOManagerTest, CompareFileNamesFoldsCaseAndSeparators) {
  EXPECT_EQ(IOManager::compareFileNames("Textures\\Wall.TGA", "textures/wall.tga"), 0);
  EXPECT_EQ(IOManager::compareFileNames("a:b", "A/B"), 0);
  EXPECT_LT(IOManager::compareFileNames("a.bqp", "b.bqp"), 0);
  EXPECT_GT(IOManager::compareFileNames("ab", "a"), 0);
}

TEST_F(IOManagerTest, WildcardMatch) {
  struct Case {
    const char* pattern;
    const char* name;
    bool caseSensitive;
    bool expect;
  } cases[] = {
      {"*.tga", "wall.tga", true, true},
      {"*.tga", "a.tga.bak", true, true},  // the rest of the name is free
      {"*.tga", "wall.jpg", true, false},
      {"*", "", true, true},
      {"w?ll*", "wall.tga", true, true},
      {"w?ll", "wl", true, false},
      {"*.TGA", "x.tga", false, true},
      {"*.TGA", "x.tga", true, false},
      {"[a-c]x", "bx", true, true},
      {"[a-c]x", "dx", true, false},
      {"[A-C]x", "bx", false, true},
      {"[]]]x", "]x", true, true},
      {"[xy]z", "yz", true, true},
      {"[A-]]]", "]", true, true},
      {"[abc", "a", true, false},
      {"*mid*end", "start mid and end", true, true},
      {"*mid*end", "start end", true, false},
      {"exact", "exact", true, true},
      {"exact", "exacT", true, false},
      {"?", "", true, false},
      {"[A-]]]", "a", true, false},
      {"*[2-4]", "x[2-4]", true, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IOManager::wildcardMatch(c.pattern, c.name, c.caseSensitive), c.expect)
        << c.pattern << " ~ " << c.name;
  }
  EXPECT_TRUE(IOManager::matchesFilter("*WALL*", "textures/wall.tga"));
}

}  // namespace

// Every writer goes through openFileWrite, createPath or writeToPack: each refuses "..", "::" and
// absolute paths outside the game tree, so no command ("dumpTexture", "screenshot", "writecfg")
// can reach a file elsewhere on disk.
TEST_F(IOManagerTest, WritesStayInsideTheGameTree) {
  TempTree outside("outside");
  fs::create_directories(tree_ / "media");
  init();
  struct Case {
    std::string path;
    bool allowed;
  } cases[] = {
      {"media/ok.txt", true},
      {tree_.str("media/abs.txt"), true},
      {tree_.str("top.txt"), true},
      {"../../precious.txt", false},
      {"media/../../precious.txt", false},
      {tree_.str("media/../../precious.txt"), false},
      {outside.str("precious.txt"), false},
      {"/tmp/precious.txt", false},
      {"media/screenshots/../../../x.jpg", false},
      {"media/a::b.txt", false},
      {tree_.str() + "-sibling/x.txt", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    IOFileHandle file = io_->openFileWrite(c.path.c_str());
    const bool made = io_->createPath((c.path + "-dir").c_str());
    const int packed = io_->writeToPack((c.path + ".bqp").c_str(), "a.txt", "a", 1);
    const std::string out = testing::internal::GetCapturedStdout() + testing::internal::GetCapturedStderr();
    EXPECT_EQ(file != 0, c.allowed);
    EXPECT_EQ(made, c.allowed);
    EXPECT_EQ(packed == 0, c.allowed);
    if (file) {
      EXPECT_EQ(io_->write("x", 1, file), 1);
      EXPECT_TRUE(io_->closeFileChecked(file, nullptr));
    }
    if (!c.allowed) {
      EXPECT_NE(out.find("WARNING: refusing to "), std::string::npos) << out;
    }
  }
  EXPECT_TRUE(fs::is_empty(outside.path())) << "something was written outside the tree";
  EXPECT_FALSE(fs::exists(tree_.path().parent_path() / "precious.txt"));
  // The rename of a checked close is held to the same rule.
  IOFileHandle file = io_->openFileWrite("media/t.tmp");
  ASSERT_NE(file, 0u);
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  EXPECT_FALSE(io_->closeFileChecked(file, outside.str("renamed.txt").c_str()));
  testing::internal::GetCapturedStdout();
  testing::internal::GetCapturedStderr();
  EXPECT_FALSE(fs::exists(tree_ / "media" / "t.tmp"));
  EXPECT_TRUE(fs::is_empty(outside.path()));
}

// Names the user types for a file to write: the check every command shares.
TEST(IOSystemNames, SafeNamesAreRelativeAndStayInside) {
  for (const char* name : {"default.cfg", "sub/ok.cfg", "a.b.c", "x:y"})
    EXPECT_TRUE(IOSystem::isSafeName(name)) << name;
  for (const char* name : {"", "/etc/passwd", "\\x", "../x", "a/../../x", "a..b", "c::d", ".."})
    EXPECT_FALSE(IOSystem::isSafeName(name)) << name;
  EXPECT_FALSE(IOSystem::isSafeName(nullptr));
}

// FIFOs named like packs or content never block the start-up or a read.
TEST_F(IOManagerTest, FifosInTheMediaFolderDoNotBlock) {
  fs::create_directories(tree_ / "media");
  tree_.write("media/plain.txt", "plain");
  ASSERT_TRUE(makeFifo(tree_.str("media/p.bqp")));
  ASSERT_TRUE(makeFifo(tree_.str("media/f.cfg")));
  std::string read;
  const bool inTime = finishesWithoutBlocking(
      [&] {
        testing::internal::CaptureStdout();
        io_->initialize("media");
        read = readAll("f.cfg") + "|" + readAll("plain.txt");
        testing::internal::GetCapturedStdout();
      },
      tree_.str("media/p.bqp"));
  EXPECT_TRUE(inTime) << "a FIFO blocked the file system";
  EXPECT_EQ(read, "<missing>|plain");
  EXPECT_EQ(io_->searchPathCount(), 1) << "the FIFO is no pack";
  EXPECT_TRUE(io_->nameExists("f.cfg")) << "it is there, though it cannot be read";
  EXPECT_FALSE(io_->fileExists("f.cfg"));
}
