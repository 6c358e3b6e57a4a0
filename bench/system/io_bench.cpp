// File-system speed: small files from a 5,000-entry pack against the same
// files loose, misses, forward seeks inside a packed entry, and opening a
// 20,000-entry pack (against the zip tool listing it).

#include <benchmark/benchmark.h>
#include <minizip/zip.h>
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "system/iomanager.h"
#include "system/iopack.h"

namespace {

namespace fs = std::filesystem;

constexpr int kPackEntries = 5000;
constexpr int kOpened = 2000;
constexpr int kMisses = 10000;
constexpr int kBigEntry = 4 << 20;

std::string noise(size_t size, uint32_t seed) {
  std::string s(size, '\0');
  for (size_t i = 0; i < size; i++) {
    seed = seed * 1664525u + 1013904223u;
    // Half-compressible: text-like bytes with some randomness.
    s[i] = static_cast<char>('a' + ((seed >> 24) % 16));
  }
  return s;
}

std::string smallName(int i) {
  return "textures/set" + std::to_string(i % 50) + "/file" + std::to_string(i) + ".txt";
}

bool writePack(const std::string& path, int count, bool withBig) {
  zipFile zip = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
  if (!zip) {
    return false;
  }
  for (int i = 0; i < count; i++) {
    const std::string data = noise(600, static_cast<uint32_t>(i));
    zip_fileinfo info{};
    zipOpenNewFileInZip(zip, smallName(i).c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED, 6);
    zipWriteInFileInZip(zip, data.data(), static_cast<unsigned>(data.size()));
    zipCloseFileInZip(zip);
  }
  if (withBig) {
    const std::string data = noise(kBigEntry, 99);
    zip_fileinfo info{};
    zipOpenNewFileInZip(zip, "big.bin", &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED, 6);
    zipWriteInFileInZip(zip, data.data(), static_cast<unsigned>(data.size()));
    zipCloseFileInZip(zip);
  }
  return zipClose(zip, nullptr) == ZIP_OK;
}

// Two trees built once: one game directory holding the pack, one holding the
// same files loose, plus a 20,000-entry pack on its own.
struct Trees {
  fs::path root;
  fs::path packed;
  fs::path loose;
  std::string bigPack;

  Trees() {
    root = fs::temp_directory_path() /
           ("io_bench_" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    packed = root / "packed";
    loose = root / "loose";
    fs::create_directories(packed / "media");
    writePack((packed / "media/content.bqp").string(), kPackEntries, true);
    for (int i = 0; i < kPackEntries; i++) {
      const fs::path file = loose / "media" / smallName(i);
      fs::create_directories(file.parent_path());
      const std::string data = noise(600, static_cast<uint32_t>(i));
      std::ofstream(file, std::ios::binary).write(data.data(), static_cast<std::streamsize>(data.size()));
    }
    bigPack = (root / "big20000.bqp").string();
    writePack(bigPack, 20000, false);
  }
  ~Trees() {
    std::error_code ignored;
    fs::remove_all(root, ignored);
  }
};

Trees& trees() {
  static Trees t;
  return t;
}

// Starts the file system with `base` as the working directory; its messages go to stdout.
IOManager* start(const fs::path& base) {
  destroyIOManager();
  fs::current_path(base);
  IOManager* io = IOManager::getInstance();
  std::FILE* saved = stdout;
  stdout = std::fopen("/dev/null", "w");
  io->initialize("media");
  std::fclose(stdout);
  stdout = saved;
  return io;
}

void openReadClose(benchmark::State& state, const fs::path& base, bool upperCase) {
  IOManager* io = start(base);
  std::vector<std::string> names;
  for (int i = 0; i < kOpened; i++) {
    std::string name = smallName((i * 7919) % kPackEntries);
    if (upperCase) {
      for (char& c : name) {
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
      }
    }
    names.push_back(name);
  }
  char buffer[1024];
  for (auto _ : state) {
    int64_t total = 0;
    for (const std::string& name : names) {
      IOFileHandle file = 0;
      const int length = io->openFileRead(name.c_str(), &file);
      total += io->read(buffer, length, file);
      io->closeFile(file);
    }
    if (total != int64_t(kOpened) * 600) {
      state.SkipWithError("short read");
      break;
    }
    benchmark::DoNotOptimize(total);
  }
  state.SetItemsProcessed(state.iterations() * kOpened);
  destroyIOManager();
}

void BM_OpenReadClose2000_Packed(benchmark::State& state) {
  openReadClose(state, trees().packed, false);
}
void BM_OpenReadClose2000_Loose(benchmark::State& state) {
  openReadClose(state, trees().loose, false);
}
void BM_OpenReadClose2000_LooseOtherCase(benchmark::State& state) {
  openReadClose(state, trees().loose, true);
}

void misses(benchmark::State& state, const fs::path& base) {
  IOManager* io = start(base);
  std::vector<std::string> names;
  for (int i = 0; i < kMisses; i++) {
    names.push_back("textures/set" + std::to_string(i % 50) + "/missing" + std::to_string(i) + ".txt");
  }
  for (auto _ : state) {
    int found = 0;
    for (const std::string& name : names) {
      IOFileHandle file = 0;
      found += io->openFileRead(name.c_str(), &file) >= 0;
    }
    if (found != 0) {
      state.SkipWithError("a miss was found");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations() * kMisses);
  destroyIOManager();
}

void BM_Misses10000_PackAndDirectory(benchmark::State& state) {
  misses(state, trees().packed);
}
void BM_Misses10000_LooseTree(benchmark::State& state) {
  misses(state, trees().loose);
}

// Reads 64 bytes every `stride` bytes through a 4 MB deflated entry. With
// restart set, each seek first goes back to 0, which costs what re-inflating
// from the entry's start on every seek costs.
void forwardSeeks(benchmark::State& state, bool restart) {
  IOManager* io = start(trees().packed);
  const int stride = static_cast<int>(state.range(0));
  char buffer[64];
  for (auto _ : state) {
    IOFileHandle file = 0;
    const int length = io->openFileRead("big.bin", &file);
    uint32_t sum = 0;
    for (int at = 0; at + 64 <= length; at += stride) {
      if (restart) {
        io->seek(file, 0, 0);
      }
      io->seek(file, at, 0);
      io->read(buffer, 64, file);
      sum += static_cast<unsigned char>(buffer[0]);
    }
    io->closeFile(file);
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * (kBigEntry / stride));
  destroyIOManager();
}

void BM_ForwardSeeks_Continue(benchmark::State& state) {
  forwardSeeks(state, false);
}
void BM_ForwardSeeks_ReinflateEachSeek(benchmark::State& state) {
  forwardSeeks(state, true);
}

void BM_OpenPack20000(benchmark::State& state) {
  const std::string path = trees().bigPack;
  for (auto _ : state) {
    IOPack* pack = IOPack::load(path.c_str(), "big20000.bqp");
    if (!pack || pack->entryCount() != 20000) {
      state.SkipWithError("pack did not load");
      delete pack;
      break;
    }
    delete pack;
  }
}

void BM_UnzipList20000(benchmark::State& state) {
  const std::string command = "unzip -l '" + trees().bigPack + "' > /dev/null 2>&1";
  for (auto _ : state) {
    if (std::system(command.c_str()) != 0) {
      state.SkipWithError("unzip -l failed");
      break;
    }
  }
}

}  // namespace

BENCHMARK(BM_OpenReadClose2000_Packed)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenReadClose2000_Loose)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenReadClose2000_LooseOtherCase)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Misses10000_PackAndDirectory)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Misses10000_LooseTree)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ForwardSeeks_Continue)->Arg(16384)->Arg(262144)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ForwardSeeks_ReinflateEachSeek)->Arg(16384)->Arg(262144)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenPack20000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UnzipList20000)->Unit(benchmark::kMillisecond);
