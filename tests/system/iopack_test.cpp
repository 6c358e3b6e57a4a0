// Zip packs: indexing, lookups, private readers, damaged and hostile packs,
// and packs written by the engine, checked by the zip tools.

#include "system/iopack.h"

#include <gtest/gtest.h>

#include <sys/statvfs.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "io_test_tree.h"
#include "system/convarmanager.h"
#include "system/iomanager.h"

using iotest::crcOf;
using iotest::TempTree;
using iotest::writeZip;
using iotest::ZipEntry;

namespace {

// Runs a command and returns its standard output.
std::string run(const std::string& command) {
  std::string out;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[4096];
    size_t got;
    while ((got = fread(buffer, 1, sizeof(buffer), pipe)) > 0) {
      out.append(buffer, got);
    }
    pclose(pipe);
  }
  return out;
}

size_t countOf(const std::string& text, const std::string& needle) {
  size_t count = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) {
    count++;
  }
  return count;
}

std::vector<ZipEntry> numberedEntries(int count) {
  std::vector<ZipEntry> entries;
  for (int i = 0; i < count; i++) {
    entries.push_back({"dir/file" + std::to_string(i) + ".txt", std::to_string(i), 0});
  }
  return entries;
}

class IOPackTest : public iotest::IOTreeTest {
 protected:
  std::string init() {
    testing::internal::CaptureStdout();
    io_->initialize("media");
    return testing::internal::GetCapturedStdout();
  }

  std::string readAll(const char* name) {
    IOData data;
    if (!io_->readFile(name, &data)) {
      return "<unreadable>";
    }
    return std::string(data.buffer, static_cast<size_t>(data.length));
  }
};

TEST_F(IOPackTest, HashSizeFollowsTheEntryCount) {
  struct Case {
    int entries;
    int buckets;
  } cases[] = {{0, 1}, {1, 2}, {3, 4}, {1023, 1024}, {1024, 2048}, {5000, 2048}};
  for (const Case& c : cases) {
    EXPECT_EQ(IOPack::hashSizeFor(c.entries), c.buckets) << c.entries;
  }
  for (int count : {1023, 1024, 5000}) {
    const std::string path = tree_.str("h" + std::to_string(count) + ".bqp");
    ASSERT_TRUE(writeZip(path, numberedEntries(count)));
    IOPack* pack = IOPack::load(path.c_str(), "h.bqp");
    ASSERT_NE(pack, nullptr);
    EXPECT_EQ(pack->entryCount(), count);
    EXPECT_EQ(pack->hashSize(), IOPack::hashSizeFor(count));
    EXPECT_STREQ(pack->packName(), "h");
    for (int i : {0, count / 2, count - 1}) {
      const std::string name = "DIR\\File" + std::to_string(i) + ".TXT";
      const IOPackEntry* entry = pack->find(name.c_str());
      ASSERT_NE(entry, nullptr) << name;
      EXPECT_EQ(std::string(entry->name), "dir/file" + std::to_string(i) + ".txt");
    }
    EXPECT_EQ(pack->find("dir/file.txt"), nullptr);
    delete pack;
  }
}

TEST_F(IOPackTest, HashIgnoresExtensionCaseAndSeparatorKind) {
  EXPECT_EQ(IOPack::hashFileName("a.tga", 2048), IOPack::hashFileName("a.jpg", 2048));
  EXPECT_EQ(IOPack::hashFileName("Textures\\Wall.TGA", 2048),
            IOPack::hashFileName("textures/wall.tga", 2048));
  EXPECT_EQ(IOPack::hashFileName("a:b", 64), IOPack::hashFileName("a/b", 64));
  // h = 'a' * 119 = 11543; 11543 ^ (11543 >> 10) ^ (11543 >> 20) = 11543 ^ 11 = 11548.
  EXPECT_EQ(IOPack::hashFileName("a", 1 << 16), 11548);
  for (int size : {1, 2, 1024, 2048}) {
    EXPECT_LT(IOPack::hashFileName("some/long/name/without/dots", size), size);
  }
}

TEST_F(IOPackTest, EntriesAreFoundWithoutCaseAndWithEitherSlash) {
  ASSERT_TRUE(writeZip(tree_.str("media/p.bqp"), {{"Textures\\Wall.TGA", "wall"},
                                                  {"dup.txt", "first"},
                                                  {"dup.txt", "second"},
                                                  {"evil/../escape.txt", "no"}}));
  init();
  for (const char* name :
       {"textures/wall.tga", "TEXTURES/wall.tga", "textures\\WALL.tga", "/Textures/Wall.tga"}) {
    EXPECT_EQ(readAll(name), "wall") << name;
    EXPECT_TRUE(io_->fileExists(name)) << name;
  }
  EXPECT_EQ(readAll("dup.txt"), "second");  // later entries of a pack first
  EXPECT_EQ(readAll("evil/../escape.txt"), "<unreadable>");
  EXPECT_FALSE(io_->fileExists("evil/../escape.txt"));
}

TEST_F(IOPackTest, PrivateAndSharedReadersInterleave) {
  const std::string a = iotest::noise(50000, 1);
  const std::string b = iotest::noise(50000, 2);
  ASSERT_TRUE(writeZip(tree_.str("media/p.bqp"), {{"a.bin", a}, {"b.bin", b}}));
  init();
  for (bool privateFirst : {true, false}) {
    IOFileHandle fa = 0;
    IOFileHandle fb = 0;
    ASSERT_EQ(io_->openFileRead("a.bin", &fa, privateFirst), 50000);
    ASSERT_EQ(io_->openFileRead("b.bin", &fb), 50000);
    std::string gotA;
    std::string gotB;
    char chunk[777];
    for (int round = 0; round < 70; round++) {
      int n = io_->read(chunk, sizeof(chunk), fa);
      gotA.append(chunk, static_cast<size_t>(n));
      n = io_->read(chunk, sizeof(chunk), fb);
      gotB.append(chunk, static_cast<size_t>(n));
    }
    EXPECT_EQ(gotA, a) << privateFirst;
    EXPECT_EQ(gotB, b) << privateFirst;
    io_->closeFile(fa);
    io_->closeFile(fb);
  }
  EXPECT_EQ(io_->findFreeSlot(), 1);
}

TEST_F(IOPackTest, PrivateReaderFailsWhenThePackIsGone) {
  ASSERT_TRUE(writeZip(tree_.str("media/p.bqp"), {{"a.txt", "a"}}));
  init();
  std::filesystem::remove(tree_.path() / "media/p.bqp");
  IOFileHandle file = 0;
  testing::internal::CaptureStdout();
  EXPECT_EQ(io_->openFileRead("a.txt", &file, true), -1);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(file, 0u);
  EXPECT_NE(out.find("cannot be opened again"), std::string::npos) << out;
  EXPECT_EQ(readAll("a.txt"), "a");  // the shared reader still holds the file
}

TEST_F(IOPackTest, DamagedPacksAreSkippedAndTheOthersLoad) {
  ASSERT_TRUE(writeZip(tree_.str("good.zip"), {{"one.txt", std::string(3000, 'o')}, {"two.txt", "two"}}));
  const std::string good = tree_.read("good.zip");
  tree_.write("media/0good.bqp", good);
  tree_.write("media/truncated.bqp", good.substr(0, good.size() / 2));
  tree_.write("media/text.bqp", "this is no zip archive at all");
  tree_.write("media/empty.bqp", "");
  // A central directory whose second record is overwritten.
  std::string damaged = good;
  const size_t first = damaged.find("PK\x01\x02");
  const size_t second = damaged.find("PK\x01\x02", first + 1);
  ASSERT_NE(second, std::string::npos);
  damaged[second + 1] = 'X';
  tree_.write("media/directory.bqp", damaged);
  // An end record that claims more entries than the directory holds.
  std::string lying = good;
  const size_t end = lying.rfind("PK\x05\x06");
  lying[end + 8] = 9;   // entries on this disk
  lying[end + 10] = 9;  // entries in total
  tree_.write("media/lying.bqp", lying);

  const std::string out = init();
  for (const char* pack : {"truncated.bqp", "text.bqp", "empty.bqp", "directory.bqp", "lying.bqp"}) {
    EXPECT_NE(out.find(std::string("WARNING: skipping pack '") + tree_.str("media/") + pack),
              std::string::npos)
        << pack << "\n"
        << out;
  }
  EXPECT_EQ(countOf(out, "WARNING: skipping pack"), 5u) << out;
  EXPECT_EQ(io_->searchPathCount(), 2);
  EXPECT_EQ(io_->packEntryTotal(), 2);
  EXPECT_EQ(readAll("two.txt"), "two");
  EXPECT_EQ(readAll("one.txt"), std::string(3000, 'o'));
}

TEST_F(IOPackTest, DamagedEntriesFailTheirReadWithAMessage) {
  const std::string plain = "0123456789abcdef";
  std::vector<ZipEntry> entries = {
      {"garbage.txt", "\xff\xfe\xfd\xfc this is not deflate data", Z_DEFLATED, true, 100, 0x12345678},
      {"badcrc.txt", plain, 0, true, plain.size(), iotest::crcOf(plain) ^ 1},
      {"short.txt", plain, 0, true, 1000, iotest::crcOf(plain)},
      {"huge.bin", plain, 0, true, 3000000000ull, 0},
      {std::string(300, 'n'), "long name", 0},
      {"fine.txt", plain, 0, true, plain.size(), iotest::crcOf(plain)},
      {"local.txt", "local header damaged"},
      {"bzip.txt", "not really bzip2", 0, true, 16, 0},  // method patched to bzip2 below
      {"secret.txt", "encrypted", Z_DEFLATED, false, 0, 0, "password"},
  };
  ASSERT_TRUE(writeZip(tree_.str("media/p.bqp"), entries));
  std::string bytes = tree_.read("media/p.bqp");
  const size_t local = bytes.find("local.txt");  // the name in its local header comes first
  ASSERT_NE(local, std::string::npos);
  bytes[local - 30 + 1] = 'X';  // local header signature
  const size_t bzipLocal = bytes.find("bzip.txt");
  const size_t bzipCentral = bytes.find("bzip.txt", bzipLocal + 1);
  ASSERT_NE(bzipCentral, std::string::npos);
  bytes[bzipLocal - 30 + 8] = 12;
  bytes[bzipCentral - 46 + 10] = 12;
  tree_.write("media/p.bqp", bytes);

  const std::string startup = init();
  EXPECT_NE(startup.find("1 entries with names longer than 255 characters left out"), std::string::npos)
      << startup;
  EXPECT_EQ(readAll("fine.txt"), plain);

  struct Case {
    const char* name;
    const char* message;
  } cases[] = {
      {"garbage.txt", "damaged data in its pack"},   {"badcrc.txt", "failed its checksum"}, {"short.txt", ""},
      {"huge.bin", "3000000000 bytes is too large"}, {"local.txt", "damaged pack entry"},
  };
  for (const Case& c : cases) {
    testing::internal::CaptureStdout();
    IOData* data = io_->loadFile(c.name);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(data, nullptr) << c.name;
    io_->freeFile(data);
    EXPECT_NE(out.find(c.message), std::string::npos) << c.name << ": " << out;
    char buffer[64] = "untouched";
    testing::internal::CaptureStdout();
    EXPECT_EQ(io_->readFileToBuffer(c.name, buffer, sizeof(buffer)), 0) << c.name;
    testing::internal::GetCapturedStdout();
    if (std::string(c.name) != "short.txt") {
      EXPECT_STREQ(buffer, "") << c.name;
    }
  }
  IOFileHandle file = 0;
  testing::internal::CaptureStdout();
  EXPECT_EQ(io_->openFileRead("huge.bin", &file), -1);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(file, 0u);
  EXPECT_EQ(io_->findFreeSlot(), 1);
}

// Random damage anywhere in a pack must give a message or wrong bytes, never
// a crash, a hang or a read outside a buffer (the sanitizers watch).
TEST_F(IOPackTest, RandomlyDamagedPacksNeverCrash) {
  std::vector<ZipEntry> entries = {{"a.txt", std::string(5000, 'a')},
                                   {"dir/b.bin", iotest::noise(3000, 5)},
                                   {"stored.txt", "stored text", 0},
                                   {"c/d/e.txt", "deep"}};
  ASSERT_TRUE(writeZip(tree_.str("good.zip"), entries));
  const std::string good = tree_.read("good.zip");
  const std::string path = tree_.str("mutant.bqp");
  uint32_t seed = 12345;
  auto next = [&seed]() {
    seed = seed * 1664525u + 1013904223u;
    return seed >> 8;
  };
  int loaded = 0;
  testing::internal::CaptureStdout();
  for (int round = 0; round < 400; round++) {
    std::string bytes = good;
    if (round % 4 == 3) {
      bytes.resize(next() % bytes.size());
    } else {
      const int flips = 1 + static_cast<int>(next() % 4);
      for (int i = 0; i < flips; i++) {
        bytes[next() % bytes.size()] = static_cast<char>(next());
      }
    }
    tree_.write("mutant.bqp", bytes);
    IOPack* pack = IOPack::load(path.c_str(), "mutant.bqp");
    if (!pack) {
      continue;
    }
    loaded++;
    for (int e = 0; e < pack->entryCount(); e++) {
      const int length = IOPack::openEntry(pack->sharedReader(), &pack->entry(e), pack->entry(e).name);
      if (length < 0) {
        continue;
      }
      std::string data(static_cast<size_t>(length) + 1, '\0');
      const int got = IOPack::readEntry(pack->sharedReader(), data.data(), length + 1);
      EXPECT_LE(got, length);
      IOPack::closeEntry(pack->sharedReader());
    }
    delete pack;
  }
  testing::internal::GetCapturedStdout();
  EXPECT_GT(loaded, 0);  // some damage leaves the directory readable, so reads were tried
}

TEST_F(IOPackTest, AtMostTheFirstThousandTwentyFourPacksAreUsed) {
  for (int i = 0; i < 1030; i++) {
    char name[32];
    snprintf(name, sizeof(name), "media/p%04d.bqp", i);
    ASSERT_TRUE(writeZip(tree_.str(name), {{"which.txt", std::to_string(i), 0}}));
  }
  const std::string out = init();
  EXPECT_NE(out.find("WARNING: only the first 1024 of 1030 packs"), std::string::npos) << out.substr(0, 300);
  EXPECT_EQ(io_->packEntryTotal(), 1024);
  EXPECT_EQ(io_->searchPathCount(), 1025);
  EXPECT_EQ(readAll("which.txt"), "1023");
}

TEST_F(IOPackTest, WrittenPacksAreZipArchivesWithTheEntryComment) {
  std::filesystem::create_directories(tree_.path() / "media");
  init();
  const std::string pack = tree_.str("media/written.bqp");
  const std::string text(5000, 'q');
  EXPECT_EQ(io_->writeToPack(pack.c_str(), "maps/first.txt", text.data(), static_cast<int>(text.size())), 0);
  EXPECT_EQ(io_->writeToPack(pack.c_str(), "second.txt", "2", 1), 0);  // appended
  EXPECT_EQ(io_->writeToPack(pack.c_str(), "empty.txt", nullptr, 0), 0);

  const std::string listing = run("unzip -l '" + pack + "' 2>&1");
  EXPECT_NE(listing.find("maps/first.txt"), std::string::npos) << listing;
  EXPECT_NE(listing.find("second.txt"), std::string::npos) << listing;
  EXPECT_NE(listing.find("3 files"), std::string::npos) << listing;
  const std::string info = run("zipinfo -v '" + pack + "' 2>&1");
  EXPECT_EQ(countOf(info, "created by Quillmere"), 3u) << info;
  EXPECT_EQ(countOf(info, "compression method:                             deflated"), 3u) << info;
  EXPECT_EQ(countOf(info, "compression sub-type (deflation):               maximum"), 3u) << info;
  EXPECT_NE(run("unzip -t '" + pack + "' 2>&1").find("No errors detected"), std::string::npos);

  // Read back through the engine after a restart.
  io_->shutdown();
  init();
  EXPECT_TRUE(readAll("maps/first.txt") == text);
  EXPECT_EQ(readAll("second.txt"), "2");
  EXPECT_EQ(readAll("empty.txt"), "");
}

TEST_F(IOPackTest, WritingIntoASearchedPackIndexesItAgain) {
  const std::string old = iotest::noise(100000, 3);
  ASSERT_TRUE(writeZip(tree_.str("media/live.bqp"), {{"old.bin", old}}));
  init();
  IOFileHandle open = 0;
  ASSERT_EQ(io_->openFileRead("old.bin", &open), 100000);
  char head[1000];
  ASSERT_EQ(io_->read(head, sizeof(head), open), 1000);

  // The append overwrites the old central directory behind the open entry.
  EXPECT_EQ(io_->writeToPack(tree_.str("media/live.bqp").c_str(), "new.txt", "fresh", 5), 0);
  EXPECT_EQ(readAll("new.txt"), "fresh");
  EXPECT_TRUE(readAll("old.bin") == old);
  EXPECT_EQ(io_->packEntryTotal(), 2);
  std::string rest(99000, '\0');
  EXPECT_EQ(io_->read(rest.data(), 99000, open), 99000);
  EXPECT_TRUE(std::string(head, sizeof(head)) + rest == old);
  io_->closeFile(open);
}

TEST_F(IOPackTest, WritingRefusesWhatWouldDamageOrCannotBeRead) {
  tree_.write("media/loose.cfg", "bind x y");
  tree_.write("notzip.bqp", "precious text");
  init();
  testing::internal::CaptureStdout();
  EXPECT_EQ(io_->writeToPack(tree_.str("notzip.bqp").c_str(), "a.txt", "a", 1), -1);
  EXPECT_EQ(io_->writeToPack(tree_.str("n.bqp").c_str(), std::string(256, 'l').c_str(), "a", 1), -1);
  EXPECT_EQ(io_->writeToPack(tree_.str("no/such/dir/n.bqp").c_str(), "a.txt", "a", 1), -1);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(tree_.read("notzip.bqp"), "precious text");
  EXPECT_NE(out.find("cannot be opened as a zip archive"), std::string::npos) << out;
  EXPECT_EQ(io_->writeToPack(tree_.str("n.bqp").c_str(), "a.txt", "a", -1), -1);
  EXPECT_EQ(io_->writeToPack(nullptr, "a.txt", "a", 1), -1);

  EXPECT_EQ(io_->copyFileToPack(tree_.str("copy.bqp").c_str(), "loose.cfg"), 0);
  EXPECT_EQ(io_->copyFileToPack(tree_.str("copy.bqp").c_str(), "missing.cfg"), -1);
  IOPack* pack = IOPack::load(tree_.str("copy.bqp").c_str(), "copy.bqp");
  ASSERT_NE(pack, nullptr);
  ASSERT_EQ(pack->entryCount(), 1);
  EXPECT_STREQ(pack->entry(0).name, "loose.cfg");
  delete pack;
}

}  // namespace

// minizip walks a damaged extra field four bytes a step and carries on reading past the end of
// the file; those reads must neither crash nor each cost a system call (found by fuzzing: one
// such pack took seconds to index and open). minizip takes the record as it is.
TEST_F(IOPackTest, ExtraFieldRunningPastTheEndOfThePack) {
  ASSERT_TRUE(writeZip(tree_.str("good.zip"), {{"a.txt", "alpha", 0}, {"b.txt", "beta", 0}}));
  std::string bytes = tree_.read("good.zip");
  const size_t record = bytes.rfind("PK\x01\x02");
  ASSERT_NE(record, std::string::npos);
  bytes[record + 30] = '\xff';  // extra field length of the last record: 65,535
  bytes[record + 31] = '\xff';
  tree_.write("media/extra.bqp", bytes);

  const std::string out = init();
  EXPECT_EQ(out.find("WARNING"), std::string::npos) << out;
  EXPECT_EQ(io_->packEntryTotal(), 2);
  EXPECT_EQ(readAll("a.txt"), "alpha");
  EXPECT_EQ(readAll("b.txt"), "beta");
}

namespace {

// Packs written by other zip tools, made by running the tool on files of ours.
class ForeignPackTest : public IOPackTest {
 protected:
  // Runs `command` inside a fresh folder of the tree holding a.txt and
  // sub/b.txt; false (the test skips outside CI) when the tool is missing.
  bool make(const std::string& tool, const std::string& command) {
    if (run("command -v " + tool).empty()) {
      return false;
    }
    const std::string src = tree_.str("src");
    run("mkdir -p '" + src + "/sub' && printf 'alpha text\\n' > '" + src + "/a.txt' && printf 'beta text\\n' > '" +
        src + "/sub/b.txt' && mkdir -p '" + tree_.str("media") + "' && cd '" + src + "' && " + command +
        " >/dev/null 2>&1");
    return true;
  }
};

#define REQUIRE_TOOL(tool, command)                                   \
  if (!make(tool, command)) {                                         \
    if (getenv("CI"))                                                 \
      FAIL() << tool << " is missing under CI";                       \
    GTEST_SKIP() << tool << " is not installed";                      \
  }

TEST_F(ForeignPackTest, Zip64FieldsFromInfoZipAreRead) {
  REQUIRE_TOOL("zip", "zip -q -fz -r ../media/z64.bqp a.txt sub/b.txt");
  std::string out = init();
  EXPECT_EQ(readAll("a.txt"), "alpha text\n") << out;
  EXPECT_EQ(readAll("sub/b.txt"), "beta text\n");
}

TEST_F(ForeignPackTest, DotSlashNamesFromBsdtarAreFoundWithoutThePrefix) {
  REQUIRE_TOOL("bsdtar", "bsdtar -cf ../media/bt.bqp --format zip .");
  std::string out = init();
  EXPECT_EQ(readAll("a.txt"), "alpha text\n") << out;
  EXPECT_EQ(readAll("sub/b.txt"), "beta text\n");
  EXPECT_TRUE(io_->fileExists("sub/b.txt"));
}

// Little-endian field writers for the hand-built zip64 pack below.
void put16(std::string& out, uint32_t v) {
  out.push_back(char(v & 0xFF));
  out.push_back(char((v >> 8) & 0xFF));
}
void put32(std::string& out, uint32_t v) {
  put16(out, v & 0xFFFF);
  put16(out, v >> 16);
}
void put64(std::string& out, uint64_t v) {
  put32(out, uint32_t(v));
  put32(out, uint32_t(v >> 32));
}

std::string rawDeflate(const std::string& data) {
  z_stream z{};
  deflateInit2(&z, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&z, uLong(data.size())), '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = uInt(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = uInt(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

std::string localHeader(const std::string& name, int method, uint32_t crc, uint32_t compressed,
                        uint32_t uncompressed) {
  std::string h;
  put32(h, 0x04034b50);
  put16(h, 45);
  put16(h, 0);
  put16(h, uint32_t(method));
  put32(h, 0);
  put32(h, crc);
  put32(h, compressed);
  put32(h, uncompressed);
  put16(h, uint32_t(name.size()));
  put16(h, 0);
  return h + name;
}

std::string directoryRecord(const std::string& name, int method, uint32_t crc, uint32_t compressed,
                            uint32_t uncompressed, uint32_t local, const std::string& extra) {
  std::string r;
  put32(r, 0x02014b50);
  put16(r, 45);
  put16(r, 45);
  put16(r, 0);
  put16(r, uint32_t(method));
  put32(r, 0);
  put32(r, crc);
  put32(r, compressed);
  put32(r, uncompressed);
  put16(r, uint32_t(name.size()));
  put16(r, uint32_t(extra.size()));
  put16(r, 0);
  put16(r, 0);
  put16(r, 0);
  put32(r, 0);
  put32(r, local);
  return r + name + extra;
}

// The end-of-central-directory record of a one-disk pack of `entries` entries.
std::string endRecord(uint32_t entries, uint32_t directorySize, uint32_t directoryOffset) {
  std::string r;
  put32(r, 0x06054b50);
  put16(r, 0);
  put16(r, 0);
  put16(r, entries);
  put16(r, entries);
  put32(r, directorySize);
  put32(r, directoryOffset);
  put16(r, 0);
  return r;
}

// A pack whose second entry, its central directory and its end records lie past 4 GiB, with
// a hole before them: sparse on disk, 4.5 GB long.
TEST_F(IOPackTest, EntriesPast4GiBReadAndSeek) {
  constexpr uint64_t kFarOffset = 4500000000ull;
  struct statvfs fs;
  if (statvfs(tree_.path().c_str(), &fs) != 0 || uint64_t(fs.f_bavail) * fs.f_frsize < kFarOffset + (1u << 30)) {
    GTEST_SKIP() << "not enough free disk for a 4.5 GB pack";
  }
  std::string farData;
  for (int i = 0; farData.size() < 200000; i++) {
    farData += "line " + std::to_string(i) + " of the far entry\n";
  }
  const std::string nearData = "near data";
  const std::string farPacked = rawDeflate(farData);
  const uint32_t nearCrc = crcOf(nearData);
  const uint32_t farCrc = crcOf(farData);

  std::string start = localHeader("near.txt", 0, nearCrc, uint32_t(nearData.size()), uint32_t(nearData.size())) +
                      nearData;
  std::string far = localHeader("dir/far.txt", Z_DEFLATED, farCrc, uint32_t(farPacked.size()),
                                uint32_t(farData.size())) +
                    farPacked;
  std::string extra;
  put16(extra, 0x0001);
  put16(extra, 8);
  put64(extra, kFarOffset);
  const std::string directory =
      directoryRecord("near.txt", 0, nearCrc, uint32_t(nearData.size()), uint32_t(nearData.size()), 0, "") +
      directoryRecord("dir/far.txt", Z_DEFLATED, farCrc, uint32_t(farPacked.size()), uint32_t(farData.size()),
                      0xFFFFFFFFu, extra);
  const uint64_t directoryOffset = kFarOffset + far.size();
  const uint64_t end64Offset = directoryOffset + directory.size();
  std::string tail;
  put32(tail, 0x06064b50);
  put64(tail, 44);
  put16(tail, 45);
  put16(tail, 45);
  put32(tail, 0);
  put32(tail, 0);
  put64(tail, 2);
  put64(tail, 2);
  put64(tail, directory.size());
  put64(tail, directoryOffset);
  put32(tail, 0x07064b50);
  put32(tail, 0);
  put64(tail, end64Offset);
  put32(tail, 1);
  tail += endRecord(2, uint32_t(directory.size()), 0xFFFFFFFFu);

  run("mkdir -p '" + tree_.str("media") + "'");
  const std::string path = tree_.str("media/huge.bqp");
  FILE* file = fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  bool written = fwrite(start.data(), 1, start.size(), file) == start.size() &&
                 fseeko(file, off_t(kFarOffset), SEEK_SET) == 0 && fwrite(far.data(), 1, far.size(), file) == far.size() &&
                 fwrite(directory.data(), 1, directory.size(), file) == directory.size() &&
                 fwrite(tail.data(), 1, tail.size(), file) == tail.size();
  written = fclose(file) == 0 && written;
  if (!written) {
    remove(path.c_str());
    GTEST_SKIP() << "the disk refused the sparse pack";
  }

  const std::string out = init();
  EXPECT_EQ(readAll("near.txt"), nearData) << out;
  EXPECT_EQ(readAll("dir/far.txt"), farData) << out;
  IOFileHandle in = 0;
  ASSERT_EQ(io_->openFileRead("dir/far.txt", &in), int(farData.size()));
  char got[32] = {};
  // Forward, backward (the entry is opened again) and from the end.
  for (int offset : {150000, 1000, int(farData.size()) - 20}) {
    EXPECT_EQ(io_->seek(in, offset, 0), 1) << offset;
    EXPECT_EQ(io_->read(got, 20, in), 20) << offset;
    EXPECT_EQ(std::string(got, 20), farData.substr(size_t(offset), 20)) << offset;
  }
  io_->closeFile(in);
  destroyIOManager();
  io_ = IOManager::getInstance();
  EXPECT_EQ(remove(path.c_str()), 0);
}

// Zip64 markers whose extra field is missing, too short or points nowhere: a message, no read.
TEST_F(IOPackTest, DamagedZip64RecordsRefuseTheirEntry) {
  const std::string data = "payload";
  const uint32_t crc = crcOf(data);
  std::string shortField, farField;
  put16(shortField, 0x0001);
  put16(shortField, 4);
  put32(shortField, 0);
  put16(farField, 0x0001);
  put16(farField, 8);
  put64(farField, 1ull << 40);
  const std::string extras[] = {"", shortField, farField};
  for (size_t i = 0; i < 3; i++) {
    const std::string local = localHeader("x.txt", 0, crc, 7, 7) + data;
    const std::string directory = directoryRecord("x.txt", 0, crc, 7, 7, 0xFFFFFFFFu, extras[i]);
    tree_.write("media/z.bqp", local + directory + endRecord(1, uint32_t(directory.size()), uint32_t(local.size())));
    init();
    testing::internal::CaptureStdout();
    EXPECT_EQ(readAll("x.txt"), "<unreadable>") << i;
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("WARNING: cannot read 'x.txt': damaged zip64 pack record"), std::string::npos) << out;
    destroyIOManager();
    io_ = IOManager::getInstance();
  }
}

// Data in front of the archive (a self-extracting stub) shifts every offset; a zip64 entry, read
// apart from minizip, must shift with it, and a forged record behind the stub must not be read.
TEST_F(IOPackTest, Zip64EntryBehindDataInFrontOfTheArchive) {
  const std::string data = "shifted entry";
  const uint32_t crc = crcOf(data);
  std::string field;
  put16(field, 0x0001);
  put16(field, 8);
  put64(field, 0);
  const std::string local = localHeader("s.txt", 0, crc, uint32_t(data.size()), uint32_t(data.size())) + data;
  const std::string directory =
      directoryRecord("s.txt", 0, crc, uint32_t(data.size()), uint32_t(data.size()), 0xFFFFFFFFu, field);
  const std::string tail = endRecord(1, uint32_t(directory.size()), uint32_t(local.size()));
  // The stub holds a look-alike record where the unshifted offsets would point.
  const std::string stub = directoryRecord("s.txt", 12, crc, 1, 1, 0, "") + std::string(40, 'x');
  tree_.write("media/sfx.bqp", stub + local + directory + tail);
  init();
  EXPECT_EQ(readAll("s.txt"), data);
}

}  // namespace
