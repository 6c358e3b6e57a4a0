// Map tool: bakes a ".bsp" map's static shadows. It starts the engine's managers that a map load
// needs without a window (console variables, commands, declarations over a content folder's
// materials, the file system and the render-model manager), loads the map as the engine does,
// builds every shadow-casting light's "_prelight_<light>" volume from the static world and writes
// the map back with those volumes.
//
// Usage: bakeshadows <content folder holding media/> <map.bsp> [<out.bsp>]
// (the map is rewritten in place without an output name).
#include <cstdio>
#include <string>

#include "lib/interface/memsystem.h"
#include "lib/interface/rendermodelsystem.h"
#include "lib/keydict.h"
#include "system/commonmanager.h"
#include "system/iomanager.h"
#include "world/bspworld.h"

namespace {

// Lights whose prelight volume the pass made, named as the writer will look them up.
int countPrelightModels(BspSpatialSystem& world) {
  int count = 0;
  const List<KeyDict*>* entities = world.getEntities();
  for (int i = 0; entities && i < entities->num(); i++) {
    const KeyDict* dict = (*entities)[i];
    if (!dict || String::icmp(dict->getString("classname", ""), "light") != 0)
      continue;
    const std::string name = std::string("_prelight_") + dict->getString("name", "");
    if (g_renderModelSystem->findModel(name.c_str())) {
      std::printf("bakeshadows: %s\n", name.c_str());
      count++;
    }
  }
  return count;
}

int bake(const char* mapPath, const char* outPath) {
  // The masks are left out: the light entity pass frees every "_shadowMask_" model at map load,
  // so a baked one would never be drawn.
  BspSpatialSystem world;
  if (!world.load(mapPath)) {
    std::fprintf(stderr, "bakeshadows: '%s' could not be read as a map\n", mapPath);
    return 1;
  }
  // Lights that take their light from the baked files ("staticSource") cast no prelight shadow.
  world.generateStaticShadows(true);
  const int baked = countPrelightModels(world);
  if (!world.write(outPath)) {
    std::fprintf(stderr, "bakeshadows: '%s' could not be written\n", outPath);
    return 1;
  }
  std::printf("bakeshadows: wrote '%s' with %d prelight volumes\n", outPath, baked);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || argc > 4) {
    std::fprintf(stderr, "usage: bakeshadows <content folder holding media/> <map.bsp> [<out.bsp>]\n");
    return 2;
  }
  const std::string commandLine = std::string("fs_basepath \"") + argv[1] + "\"";
  createMemManager();
  setFileSystemCommandLine(commandLine.c_str());
  CommonManager* common = getCommonManager();
  int rc = 1;
  if (common->init(nullptr, nullptr,
                   kInitConVars | kInitCommands | kInitDecls | kInitFileSystem | kInitRenderModels))
    rc = bake(argv[2], argc > 3 ? argv[3] : argv[2]);
  else
    std::fprintf(stderr, "bakeshadows: the engine's managers could not be started\n");
  destroyCommonManager();
  setFileSystemCommandLine(nullptr);
  destroyMemManager();
  return rc;
}
