// The set-up the GL benchmarks share on llvmpipe (SDL's offscreen driver): a game tree in the
// temporary directory holding the unlit program, the engine's command, variable and file systems
// over it with their output silenced, and a hidden window with the OpenGL device. A benchmark cannot
// skip, so whatever is missing ends the program with "<name>: <what>".
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "lib/interface/rendermodelsystem.h"
#include "lib/keydict.h"
#include "platform/gl.h"
#include "platform/memory.h"
#include "render/device/renderopengl.h"
#include "render/scene/rendermanager.h"
#include "render/texture/texmgrinfo.h"
#include "system/cmdmanager.h"
#include "system/convarmanager.h"
#include "system/iomanager.h"

namespace benchgl {

inline const char* const kUnlitProgram =
    "!!ARBvp1.0\n"
    "PARAM mvp[4] = { state.matrix.mvp };\n"
    "PARAM mul = program.env[16];\n"
    "PARAM add = program.env[17];\n"
    "DP4 result.position.x, mvp[0], vertex.position;\n"
    "DP4 result.position.y, mvp[1], vertex.position;\n"
    "DP4 result.position.z, mvp[2], vertex.position;\n"
    "DP4 result.position.w, mvp[3], vertex.position;\n"
    "MAD result.color, vertex.color, mul, add;\n"
    "MOV result.texcoord[0], vertex.texcoord[0];\n"
    "END\n";

[[noreturn]] inline void fail(const char* name, const char* what) {
  std::fprintf(stderr, "%s: %s\n", name, what);
  std::exit(1);
}

inline void quietOutput(void*, const char*) {}

// Makes "<temp>/quill_<name>/media/glprogs/unlit.vp", lets `stage` add to the media folder, changes
// into the tree and starts the command, variable and file systems over "media".
inline void openGameTree(const char* name,
                         const std::function<void(const std::filesystem::path& media)>& stage = {}) {
  // The heap as the engine's start-up sets it, unless QUILL_BENCH_DEFAULT_HEAP is set.
  if (std::getenv("QUILL_BENCH_DEFAULT_HEAP") == nullptr)
    platformKeepFreedMemory();
  const std::filesystem::path root = std::filesystem::temp_directory_path() / (std::string("quill_") + name);
  std::filesystem::create_directories(root / "media" / "glprogs");
  std::ofstream(root / "media" / "glprogs" / "unlit.vp") << kUnlitProgram;
  if (stage)
    stage(root / "media");
  std::filesystem::current_path(root);
  KeyDict::initPools();
  getCmdManager()->setOutput(quietOutput, nullptr);
  getConVarManager();
  if (!IOManager::getInstance()->initialize("media"))
    fail(name, "no file system");
}

struct Device {
  void* window = nullptr;
  RenderOpenGL* device = nullptr;
};

// A hidden width x height window with the OpenGL device as g_renderInterface, and the texture manager.
inline Device openDevice(const char* name, int width, int height) {
  Device d;
  d.window = platformGLCreateHiddenWindow(width, height, 32);
  d.device = new RenderOpenGL();
  if (d.window == nullptr || !d.device->init(d.window, nullptr, 0)) {
    std::fprintf(stderr, "%s: no GL context (%s)\n", name, platformGLError());
    std::exit(1);
  }
  g_renderInterface = d.device;
  TexMgrInfo::getInstance();
  return d;
}

// The render manager on the device, drawing at width x height.
inline RenderManager* openRenderManager(int width, int height) {
  g_conVarSystem->setInt("r_viewwidth", width);
  g_conVarSystem->setInt("r_viewheight", height);
  getRenderModelSystem();
  RenderManager* manager = new RenderManager();
  manager->init();
  return manager;
}

}  // namespace benchgl
