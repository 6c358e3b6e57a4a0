// Expression registers against the same arithmetic compiled as C++ (50 registers, ns per
// register), and parsing 1,000 materials from one file: the bodies alone through the material
// language, and end to end through the declaration manager. Run with
//   --benchmark_repetitions=9 --benchmark_enable_random_interleaving=true
// and compare medians.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "lib/interface/cmdsystem.h"
#include "lib/interface/texmanager.h"
#include "lib/keydict.h"
#include "lib/tokenparser.h"
#include "render/material/expression.h"
#include "render/material/material.h"
#include "system/declmanager.h"
#include "tests/support/memoryiosystem.h"

namespace {

// ---------------------------------------------------------------------------------------------
// Environment: files from memory, images that only count references, printing dropped.

class QuietCmd : public CmdSystem {
 public:
  void addCommand(const char*, CmdFunction, uint32_t, const char*) override {}
  void removeCommands(uint32_t) override {}
  void executeText(const char*) override {}
  void appendText(const char*) override {}
  void list(const CmdArgs&) override {}
  void printf(const char*, ...) override {}
  void error(int, const char*, ...) override {}
  void vprintf(const char*, va_list) override {}
  const CmdRecord* findCommand(const char*) override { return nullptr; }
  int countMatches(const char*) override { return 0; }
  void completePrefix(char*, size_t, const CmdRecord*) override {}
  void completeCommand(char*, size_t) override {}
  void setOutput(CmdOutputFunction, void*) override {}
  const char* bufferedText() const override { return ""; }
};

// The tests' in-memory files; "materials" lists "bench.mtx" for the declaration manager's scan.
class MapIO : public MemoryIOSystem {
 public:
  int getFileList(const char* directory, const char* extension, char* buffer, int size, bool) override {
    if (std::strcmp(directory, "materials") != 0 || std::strcmp(extension, ".mtx") != 0 || size < 16)
      return 0;
    std::memcpy(buffer, "bench.mtx", 10);
    return 1;
  }
};

class CountingTex : public TexManager {
 public:
  ~CountingTex() override {
    for (auto& [name, image] : images_)
      delete image;
  }
  void flagAllForReload() override {}
  void reloadFlagged() override {}
  ImageInterface* findImage(const char* name, uint32_t flags) override {
    ImageInterface*& image = images_[std::string(name) + "#" + std::to_string(flags)];
    if (!image) {
      image = new ImageInterface;
      std::snprintf(image->name, sizeof(image->name), "%s", name);
      image->flags = flags;
      image->loaded = true;  // nothing to load here
    }
    ++image->refCount;
    return image;
  }
  void releaseImage(ImageInterface* image) override { --image->refCount; }
  int getNumImages() override { return int(images_.size()); }
  ImageInterface* createRGBImage(int, int, uint32_t flags, const char* name) override {
    return findImage(name ? name : "_renderMap_0", flags);
  }
  ImageInterface* createImage(const ImageInfo*, uint32_t flags, const char* name) override {
    return findImage(name ? name : "_renderMap_0", flags);
  }
  ImageInterface* createImageFromPixels(const char*, const ImageInfo*, uint32_t, const void*) override {
    return nullptr;
  }
  ImageInterface* findLoadedImage(const char*, uint32_t) override { return nullptr; }
  ImageInterface* getImage(int) override { return nullptr; }

 private:
  std::map<std::string, ImageInterface*> images_;
};

QuietCmd s_cmd;
MapIO s_io;
CountingTex s_tex;

struct Environment {
  Environment() {
    g_cmdSystem = &s_cmd;
    g_ioSystem = &s_io;
    g_texManager = &s_tex;
    KeyDict::initPools();
    s_io.files["wave.mtx"] = "table wave { 0 0.7 1 0.7 0 -0.7 -1 -0.7 }\n";
  }
} s_environment;

// ---------------------------------------------------------------------------------------------
// 50 registers: five forms, ten constants each.

constexpr int kForms = 5;
constexpr int kRegisters = 50;

float constantOf(int i) {
  return 0.1f * float(i / kForms + 1);
}

std::string expressionText(int i) {
  char text[128];
  const float k = constantOf(i);
  switch (i % kForms) {
    case 0:
      std::snprintf(text, sizeof(text), "parm0 * %g + time", k);
      break;
    case 1:
      std::snprintf(text, sizeof(text), "(parm1 + %g) * parm2 - time * %g", k, k);
      break;
    case 2:
      std::snprintf(text, sizeof(text), "wave[time * %g] * parm3", k);
      break;
    case 3:
      std::snprintf(text, sizeof(text), "time * %g %% 1", k);
      break;
    default:
      std::snprintf(text, sizeof(text), "parm5 / (%g + parm6) + viewOriginX", k);
      break;
  }
  return text;
}

// Made again by each run: the material benchmarks clear the registers and replace the declaration
// manager, and runs are interleaved.
struct RegisterSet {
  RegisterSet() {
    clearExpressions();
    createDeclSystem();
    for (int i = 0; i < kRegisters; ++i)
      regs.push_back(registerExpression(expressionText(i).c_str()));
    table = g_declSystem->findTable("wave", false);
  }
  std::vector<int> regs;
  const DeclTable* table = nullptr;
};

float s_parms[12] = {0.5f, 0.25f, 2.0f, 1.0f, 0.1f, 3.0f, 0.75f, 0, 0, 0, 0, 0};

void BM_ExpressionRegisters(benchmark::State& state) {
  const RegisterSet set;
  if (numExpressionRegisters() != kRegisters || !set.table) {
    state.SkipWithError("registers were shared or the table is missing");
    return;
  }
  setExpressionParms(s_parms);
  const float origin[3] = {4.0f, 5.0f, 6.0f};
  int time = 0;
  float sum = 0.0f;
  for (auto _ : state) {
    setExpressionView(origin, time++);
    for (int reg : set.regs) {
      evaluateExpressionRegister(reg);
      sum += getExpressionRegister(reg);
    }
  }
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed(state.iterations() * kRegisters);
  state.counters["ns_per_register"] =
      benchmark::Counter(double(state.iterations()) * kRegisters, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_ExpressionRegisters);

// The same 50 formulas, written out; the parameters go through memory the compiler cannot see into.
void BM_SameArithmeticInCpp(benchmark::State& state) {
  const RegisterSet set;
  const DeclTable* table = set.table;
  if (!table) {
    state.SkipWithError("the table is missing");
    return;
  }
  float* volatile parmsPointer = s_parms;
  float values[kRegisters];
  int time = 0;
  float sum = 0.0f;
  for (auto _ : state) {
    const float* p = parmsPointer;
    const float origin0 = 4.0f;
    const float t = (p[4] + float(time++) * 0.001f) * p[3];
    for (int i = 0; i < kRegisters; ++i) {
      const float k = constantOf(i);
      switch (i % kForms) {
        case 0:
          values[i] = p[0] * k + t;
          break;
        case 1:
          values[i] = (p[1] + k) * p[2] - t * k;
          break;
        case 2:
          values[i] = table->lookup(t * k) * p[3];
          break;
        case 3:
          values[i] = std::fmod(t * k, 1.0f);
          break;
        default:
          values[i] = p[5] / (k + p[6]) + origin0;
          break;
      }
      sum += values[i];
    }
    benchmark::DoNotOptimize(values);
  }
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed(state.iterations() * kRegisters);
  state.counters["ns_per_register"] =
      benchmark::Counter(double(state.iterations()) * kRegisters, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_SameArithmeticInCpp);

// ---------------------------------------------------------------------------------------------
// 1,000 materials in one file.

constexpr int kMaterials = 1000;

std::string materialBody(int i) {
  char body[1024];
  switch (i % 4) {
    case 0:
      std::snprintf(body, sizeof(body),
                    "\tsurfaceparm collision\n\tdiffusemap textures/bench/wall%d_d\n\tbumpmap textures/bench/wall%d_n\n"
                    "\tspecularmap textures/bench/wall%d_s\n",
                    i, i, i);
      break;
    case 1:
      std::snprintf(body, sizeof(body),
                    "\ttranslucent\n\tdeform sprite\n\t{\n\t\tmap textures/bench/glow%d\n\t\tblendfunc add\n"
                    "\t\trgb \"wave[time * %d.5] * 0.25 + 0.75\"\n\t\tvertexColor\n\t}\n",
                    i, i % 7);
      break;
    case 2:
      std::snprintf(body, sizeof(body),
                    "\t{\n\t\tmap textures/bench/scroll%d\n\t\ttranslate \"time * 0.%d\" 0\n\t\tscale 2 2\n"
                    "\t\tcolored\n\t}\n",
                    i, i % 9 + 1);
      break;
    default:
      std::snprintf(body, sizeof(body),
                    "\ttwoSided\n\tplayerclip\n\t{\n\t\tmap textures/bench/fence%d\n\t\talphaFunc greater 0.5\n"
                    "\t\tdepthWrite\n\t}\n",
                    i);
      break;
  }
  return body;
}

std::string materialName(int i) {
  return "textures/bench/m" + std::to_string(i);
}

const std::string& benchFile() {
  static std::string file = [] {
    std::string text = "table wave { 0 0.7 1 0.7 0 -0.7 -1 -0.7 }\n";
    for (int i = 0; i < kMaterials; ++i)
      text += "material " + materialName(i) + "\n{\n" + materialBody(i) + "}\n";
    return text;
  }();
  return file;
}

// The material language alone: 1,000 bodies parsed into materials.
void BM_ParseMaterialBodies(benchmark::State& state) {
  std::vector<std::string> bodies;
  for (int i = 0; i < kMaterials; ++i)
    bodies.push_back(materialBody(i));
  clearExpressions();
  createDeclSystem();
  std::vector<Material> materials(kMaterials);
  for (auto _ : state) {
    for (int i = 0; i < kMaterials; ++i)
      materials[size_t(i)].parse(bodies[size_t(i)].c_str(), int(bodies[size_t(i)].size()));
  }
  state.SetItemsProcessed(state.iterations() * kMaterials);
  for (Material& m : materials)
    m.freeData();
  destroyDeclSystem();
}
BENCHMARK(BM_ParseMaterialBodies)->Unit(benchmark::kMillisecond);

// End to end: a fresh declaration manager finds each of the 1,000 materials in "materials/bench.mtx".
void BM_FindMaterialsFromOneFile(benchmark::State& state) {
  s_io.files["materials/bench.mtx"] = benchFile();
  int parsed = 0;
  for (auto _ : state) {
    clearExpressions();
    createDeclSystem();
    for (int i = 0; i < kMaterials; ++i) {
      Material* m = findMaterial(materialName(i).c_str(), false);
      parsed += m && m->getState() == kDeclParsed;
    }
    state.PauseTiming();
    destroyDeclSystem();
    state.ResumeTiming();
  }
  if (parsed != kMaterials * int(state.iterations()))
    state.SkipWithError("a material did not parse");
  state.SetItemsProcessed(state.iterations() * kMaterials);
  state.counters["file_bytes"] = double(benchFile().size());
}
BENCHMARK(BM_FindMaterialsFromOneFile)->Unit(benchmark::kMillisecond);

}  // namespace
