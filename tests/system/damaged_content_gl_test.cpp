// The staged engine over damaged sample content: each file of the table is damaged five ways
// (empty, cut in half, zero-filled, random bytes, huge numbers) in a copy of the staged tree, and
// the engine starts, loads "map demo" and quits. Every case must end on its own without a
// sanitizer report, and say something that names the damaged file.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cctype>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;

enum class Damage { kEmpty, kTruncated, kZeroed, kRandom, kHugeNumbers };
const char* const kDamageNames[] = {"empty", "truncated", "zero-filled", "random", "huge numbers"};

// One or two files of every reader the start-up, the intro and "map demo" go through (the
// lightmaps are not read: the sample lights everything dynamically).
const char* const kFiles[] = {
    "default.cfg",
    "effects/samples.fx",
    "fonts/dejavumono.dat",
    "glprogs/interaction.vfp",
    "glprogs/unlit.vp",
    "guis/mainmenu.gui",
    "guis/map/loading.gui",
    "maps/demo.bsp",
    "materials/samples.mtx",
    "materials/guis.mtx",
    "models/crate.mesh",
    "models/tube.dmesh",
    "models/tube_swing.danim",
    "script/ui/ui_common.lua",
    "sound/demo.sndshd",
    "sound/demo/hum.wav",
    "textures/samples/wall_d.tga",
    "guis/assets/guicursor_arrow.tga",
    "video/quillmere.ovid",
};

// Damage that leaves a valid file, each with its reason: there is nothing wrong to name, and a
// message calling such a file damaged fails the case, so the list stays true.
struct StillValid {
  const char* item;  // "file|damage"
  const char* reason;
};
const StillValid kStillValid[] = {
    {"default.cfg|truncated",
     "cut inside its last comment: the statements before it are whole, a shorter valid configuration"},
};

// Files the main menu reads when it is first drawn, after the intro (the animation of its model
// window, the values of the script's button transitions): their runs wait for it before the map.
const char* const kReadByTheMenu[] = {"models/tube_swing.danim", "script/ui/ui_common.lua"};

bool readByTheMenu(const std::string& file) {
  return std::find(std::begin(kReadByTheMenu), std::end(kReadByTheMenu), file) != std::end(kReadByTheMenu);
}

bool stillValid(const std::string& file, const char* damage) {
  for (const StillValid& known : kStillValid)
    if (std::string(known.item) == file + "|" + damage)
      return true;
  return false;
}

std::string readAll(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

bool isText(const std::string& name) {
  for (const char* ext : {".cfg", ".fx", ".vfp", ".vp", ".fp", ".gui", ".bsp", ".mtx", ".mesh", ".dmesh", ".danim",
                          ".lua", ".sndshd", ".dat"}) {
    const size_t n = std::strlen(ext);
    if (name.size() > n && name.compare(name.size() - n, n, ext) == 0)
      return true;
  }
  return false;
}

std::string damaged(const std::string& name, const std::string& good, Damage damage) {
  switch (damage) {
    case Damage::kEmpty:
      return "";
    case Damage::kTruncated:
      return good.substr(0, good.size() / 2);
    case Damage::kZeroed:
      return std::string(good.size(), '\0');
    case Damage::kRandom: {
      std::string out(good.size(), '\0');
      uint32_t state = 0x2545F491u;
      for (char& c : out) {
        state = state * 1664525u + 1013904223u;
        c = char(state >> 24);
      }
      return out;
    }
    case Damage::kHugeNumbers: {
      if (!isText(name)) {
        // Binary headers: every count, size and offset among the first 64 bytes becomes huge.
        std::string out = good;
        for (size_t i = 0; i < out.size() && i < 64; i++)
          out[i] = char(0xFF);
        return out;
      }
      std::string out;
      for (size_t i = 0; i < good.size(); i++) {
        if (good[i] >= '0' && good[i] <= '9') {
          while (i + 1 < good.size() && good[i + 1] >= '0' && good[i + 1] <= '9')
            i++;
          out += "4294967296999";
        } else {
          out += good[i];
        }
      }
      return out;
    }
  }
  return good;
}

struct Outcome {
  int status = -1;
  std::string output;
};

// Runs the engine in `dir`, standard output and error together, killed after 90 s; `menuFirst`
// lets the intro end and the main menu draw before the map loads.
Outcome runEngine(const fs::path& dir, bool menuFirst) {
  const std::string command = "cd '" + dir.string() +
                              "' && ASAN_OPTIONS=detect_leaks=0 timeout -s KILL 90 '" + QUILLMERE_EXE +
                              "' con_devconsole 1 ';' " + (menuFirst ? "wait 4000 ';' " : "") +
                              "map demo ';' wait 100 ';' quit 2>&1 < /dev/null";
  Outcome outcome;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe)
    return outcome;
  char buffer[4096];
  size_t got;
  while ((got = fread(buffer, 1, sizeof(buffer), pipe)) > 0)
    outcome.output.append(buffer, got);
  outcome.status = pclose(pipe);
  return outcome;
}

// Some line must name the file (its path under media/, with or without its extension) and say
// that something is wrong with it; a line that only reports loading it does not count. With
// `withLine` the line must also give the line of the file (" line 12" or a script's ":12:").
bool namesFile(const std::string& output, const std::string& name, bool withLine = false) {
  const std::string stem = name.substr(0, name.rfind('.'));
  size_t start = 0;
  while (start < output.size()) {
    size_t end = output.find('\n', start);
    if (end == std::string::npos)
      end = output.size();
    std::string line = output.substr(start, end - start);
    start = end + 1;
    if (line.find(stem) == std::string::npos)
      continue;
    std::transform(line.begin(), line.end(), line.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    bool says = false;
    for (const char* word :
         {"warning", "error", "fail", "cannot", "damaged", "invalid", "bad ", "empty", "unexpected", "expect"})
      says = says || line.find(word) != std::string::npos;
    if (!says)
      continue;
    if (!withLine)
      return true;
    for (size_t at = line.find(stem); at != std::string::npos && at < line.size(); ++at) {
      const bool afterLine = line.compare(at, 6, " line ") == 0 && at + 6 < line.size() &&
                             std::isdigit(static_cast<unsigned char>(line[at + 6]));
      const bool afterColon =
          line[at] == ':' && at + 1 < line.size() && std::isdigit(static_cast<unsigned char>(line[at + 1]));
      if (afterLine || afterColon)
        return true;
    }
  }
  return false;
}

// Text readers whose out-of-range numbers are named with their line, not only their file.
const char* const kHugeNumbersByLine[] = {
    "default.cfg",        "effects/samples.fx",    "guis/mainmenu.gui",       "guis/map/loading.gui",
    "materials/guis.mtx", "materials/samples.mtx", "script/ui/ui_common.lua", "sound/demo.sndshd"};

bool hugeNumbersByLine(const std::string& file, Damage damage) {
  return damage == Damage::kHugeNumbers &&
         std::find(std::begin(kHugeNumbersByLine), std::end(kHugeNumbersByLine), file) !=
             std::end(kHugeNumbersByLine);
}

TEST(DamagedContent, EveryDamagedFileIsNamedAndNothingCrashes) {
  const fs::path stage = fs::path(QUILL_STAGE_DIR) / "media";
  ASSERT_TRUE(fs::is_directory(stage)) << stage;
  const char* tmp = std::getenv("QUILL_TEST_TMP");
  const fs::path scratch = fs::path(tmp ? tmp : "/tmp") / "damaged_content";
  fs::remove_all(scratch);

  struct Case {
    std::string file;
    Damage damage;
  };
  std::vector<Case> cases;
  for (const char* file : kFiles)
    for (int d = 0; d < 5; d++)
      cases.push_back({file, Damage(d)});

  // A few engines at once, each in a copy of the staged tree of its own.
  const unsigned workers = 3;
  std::atomic<size_t> next{0};
  std::mutex lock;
  std::vector<std::string> failures;
  auto work = [&](unsigned id) {
    const fs::path dir = scratch / std::to_string(id);
    fs::create_directories(dir);
    fs::copy(stage, dir / "media", fs::copy_options::recursive);
    for (size_t i; (i = next++) < cases.size();) {
      const Case& c = cases[i];
      const fs::path target = dir / "media" / c.file;
      const std::string good = readAll(stage / c.file);
      {
        std::ofstream out(target, std::ios::binary | std::ios::trunc);
        const std::string bad = damaged(c.file, good, c.damage);
        out.write(bad.data(), std::streamsize(bad.size()));
      }
      const Outcome outcome = runEngine(dir, readByTheMenu(c.file));
      {
        std::ofstream restore(target, std::ios::binary | std::ios::trunc);
        restore.write(good.data(), std::streamsize(good.size()));
      }
      std::string problem;
      const bool exited = outcome.status >= 0 && WIFEXITED(outcome.status);
      if (!exited || outcome.output.find("Sanitizer") != std::string::npos ||
          outcome.output.find("runtime error:") != std::string::npos)
        problem = "crashed, hung or tripped a sanitizer";
      else if (stillValid(c.file, kDamageNames[int(c.damage)]) ? namesFile(outcome.output, c.file)
                                                               : !namesFile(outcome.output, c.file))
        problem = stillValid(c.file, kDamageNames[int(c.damage)])
                      ? "a file that is still valid is called damaged"
                      : "no message names the file";
      else if (hugeNumbersByLine(c.file, c.damage) && !namesFile(outcome.output, c.file, true))
        problem = "no message names the line of the file";
      if (!problem.empty()) {
        std::lock_guard<std::mutex> hold(lock);
        failures.push_back(c.file + " (" + kDamageNames[int(c.damage)] + "): " + problem + "\n" +
                           outcome.output.substr(outcome.output.size() > 3000 ? outcome.output.size() - 3000 : 0));
      }
    }
  };
  std::vector<std::thread> threads;
  for (unsigned id = 0; id < workers; id++)
    threads.emplace_back(work, id);
  for (std::thread& t : threads)
    t.join();
  for (const std::string& failure : failures)
    ADD_FAILURE() << failure;
  EXPECT_TRUE(failures.empty()) << failures.size() << " of " << cases.size() << " cases failed";
  if (failures.empty())
    fs::remove_all(scratch);
}

}  // namespace
