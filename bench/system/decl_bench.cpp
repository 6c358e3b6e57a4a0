// Declaration lookups: 2,000 requests, one in five for a name no file defines, over 200 loose
// declaration files, with the folders' name index (Arg 1) and with every miss searching every
// file again (Arg 0).

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "system/cmdmanager.h"
#include "system/convarmanager.h"
#include "system/declmanager.h"
#include "system/iomanager.h"

namespace {

namespace fs = std::filesystem;

constexpr int kFiles = 200;
constexpr int kDeclsPerFile = 8;
constexpr int kLookups = 2000;
constexpr int kMissEvery = 5;  // 20% misses

struct Tree {
  fs::path root;
  fs::path previous;
  Tree() {
    root = fs::temp_directory_path() / ("decl_bench_" + std::to_string(::getpid()));
    fs::create_directories(root / "media" / "def");
    for (int f = 0; f < kFiles; ++f) {
      std::ofstream out(root / "media" / "def" / ("set" + std::to_string(f) + ".def"));
      for (int d = 0; d < kDeclsPerFile; ++d) {
        out << "entityDef ent_" << f << "_" << d << " {\n"
            << "  \"model\" \"models/thing" << d << ".lwo\"\n  \"health\" \"" << (f * 10 + d) << "\"\n}\n";
      }
    }
    previous = fs::current_path();
    fs::current_path(root);
  }
  ~Tree() {
    fs::current_path(previous);
    std::error_code ignored;
    fs::remove_all(root, ignored);
  }
};

void declLookups(benchmark::State& state) {
  Tree tree;
  getConVarManager();
  getCmdManager();
  IOManager::getInstance()->initialize("media");
  // The request list: hits spread over every file, misses distinct names.
  std::vector<std::string> names;
  uint32_t seed = 12345;
  for (int i = 0; i < kLookups; ++i) {
    seed = seed * 1664525u + 1013904223u;
    if (i % kMissEvery == 0) {
      names.push_back("missing_" + std::to_string(i));
    } else {
      int f = int((seed >> 8) % kFiles);
      int d = int((seed >> 20) % kDeclsPerFile);
      names.push_back("ent_" + std::to_string(f) + "_" + std::to_string(d));
    }
  }
  int found = 0;
  int reads = 0;
  for (auto _ : state) {
    DeclManager* decls = createDeclSystem();
    decls->setNameIndexing(state.range(0) != 0);
    found = 0;
    for (const std::string& name : names)
      found += decls->findType(kDeclEntityDef, name.c_str(), false) != nullptr;
    reads = decls->fileReads();
    destroyDeclSystem();
  }
  state.counters["found"] = found;
  state.counters["file_reads"] = reads;
  destroyIOManager();
  destroyCmdManager();
  destroyConVarManager();
}

// What an indexed miss still costs per folder: the listing and the open of the file named after
// the declaration, both in the file system.
void declMissCosts(benchmark::State& state) {
  Tree tree;
  getConVarManager();
  getCmdManager();
  IOManager::getInstance()->initialize("media");
  std::vector<char> buffer(64 * 1024);
  for (auto _ : state) {
    if (state.range(0) == 0)
      benchmark::DoNotOptimize(
          g_ioSystem->getFileList("def", ".def", buffer.data(), int(buffer.size()), true));
    else
      benchmark::DoNotOptimize(g_ioSystem->loadFile("missing_name.def"));
  }
  state.SetLabel(state.range(0) == 0 ? "listing of 200 files" : "open of a missing file");
  destroyIOManager();
  destroyCmdManager();
  destroyConVarManager();
}

BENCHMARK(declMissCosts)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

BENCHMARK(declLookups)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace
