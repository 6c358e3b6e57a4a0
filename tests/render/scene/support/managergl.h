// The render manager on a hidden llvmpipe window over a memory file system: the fixture of the pixel
// tests that draw through the manager. Suites derive from ManagerGLTest, name in a Stage what the
// window and the file system hold (the built-in unlit program by default) and add what they draw;
// y in at() counts from the top of the window.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "lib/interface/convarsystem.h"
#include "lib/interface/rendermodelsystem.h"
#include "lib/interface/renderview.h"
#include "lib/interface/texmanager.h"
#include "platform/gl.h"
#include "render/backend/renderbackend.h"
#include "render/device/renderopengl.h"
#include "render/material/expression.h"
#include "render/material/material.h"
#include "render/model/basemodel.h"
#include "render/scene/rendermanager.h"
#include "render/texture/texmgrinfo.h"
#include "system/convarmanager.h"
#include "system/declmanager.h"
#include "tests/support/capturecmdsystem.h"
#include "tests/support/gldevice.h"
#include "tests/support/memoryiosystem.h"

namespace managergl {

inline constexpr int kWidth = 256;
inline constexpr int kHeight = 192;

inline const char* const kUnlitProgram =
    "!!ARBvp1.0\n"
    "PARAM mvp[4] = { state.matrix.mvp };\n"
    "PARAM tm[4] = { state.matrix.texture[0] };\n"
    "PARAM mul = program.env[16];\n"
    "PARAM add = program.env[17];\n"
    "DP4 result.position.x, mvp[0], vertex.position;\n"
    "DP4 result.position.y, mvp[1], vertex.position;\n"
    "DP4 result.position.z, mvp[2], vertex.position;\n"
    "DP4 result.position.w, mvp[3], vertex.position;\n"
    "MAD result.color, vertex.color, mul, add;\n"
    "DP4 result.texcoord[0].x, tm[0], vertex.attrib[8];\n"
    "DP4 result.texcoord[0].y, tm[1], vertex.attrib[8];\n"
    "DP4 result.texcoord[0].z, tm[2], vertex.attrib[8];\n"
    "DP4 result.texcoord[0].w, tm[3], vertex.attrib[8];\n"
    "END\n";

// The GPU programs of the sample game's media, by their names under "glprogs/".
inline const char* const kSamplePrograms[] = {
    "unlit.vp",           "shadow.vp",          "interaction.vfp",        "interaction_nos.vp",
    "interaction_nob.fp", "interaction_nos.fp", "interaction_nobs.fp",    "ambientInteraction.vfp",
    "vertexInteraction.vfp"};

// A whole file; empty when it cannot be read.
inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// What a suite's window and file system hold.
struct Stage {
  int width = kWidth;
  int height = kHeight;
  // A folder holding kSamplePrograms, staged under "glprogs/" in place of the built-in unlit program.
  std::string programFolder;
  // A declaration manager over the file system, for materials and images found by name.
  bool declarations = false;
};

struct Rgb {
  int r, g, b;
  int sum() const { return r + g + b; }
};

inline bool near(Rgb a, Rgb b, int tolerance = 2) {
  return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance && std::abs(a.b - b.b) <= tolerance;
}

// A camera at the origin looking down +x with a 90 degree field of view across, 640 x 480.
inline RenderView camera(int time = 0) {
  RenderView v;
  v.x = 0;
  v.y = 0;
  v.width = 640;
  v.height = 480;
  v.fovX = 90.0f;
  v.fovY = 73.74f;
  v.axis = Mat3(Vec3(1, 0, 0), Vec3(0, 1, 0), Vec3(0, 0, 1));
  v.time = time;
  return v;
}

class ManagerGLTest : public ::testing::Test {
 protected:
  ManagerGLTest() = default;
  explicit ManagerGLTest(Stage stage) : stage_(std::move(stage)) {}

  void SetUp() override {
    if (stage_.programFolder.empty()) {
      io.addFile("glprogs/unlit.vp", kUnlitProgram);
    } else {
      for (const char* name : kSamplePrograms) {
        const std::string program = readFile(stage_.programFolder + "/" + name);
        ASSERT_FALSE(program.empty()) << stage_.programFolder << "/" << name;
        io.addFile(std::string("glprogs/") + name, program);
      }
    }
    getConVarManager();
    g_conVarSystem->setInt("r_viewwidth", stage_.width);
    g_conVarSystem->setInt("r_viewheight", stage_.height);
    gltest::openDevice(stage_.width, stage_.height, &window, &device);
    if (IsSkipped() || HasFatalFailure())
      return;
    g_renderInterface = device.get();
    ASSERT_NE(TexMgrInfo::getInstance(), nullptr);
    if (stage_.declarations) {
      ASSERT_NE(createDeclSystem(), nullptr);
    }
    getRenderModelSystem();
    manager = std::make_unique<RenderManager>();
    ASSERT_TRUE(manager->init());
    clearTo(0.0f, 0.0f, 1.0f);
  }

  // True when SetUp made the device (a skipped or failed set-up leaves nothing to draw with).
  bool running() const { return device != nullptr && g_renderInterface != nullptr; }

  void TearDown() override {
    if (!running()) {
      destroyConVarManager();
      return;
    }
    manager.reset();
    models.clear();
    materials.clear();
    destroyRenderModelSystem();
    if (stage_.declarations)
      destroyDeclSystem();
    g_renderBackEnd.reset();
    destroyTexManager();
    clearExpressions();
    g_renderInterface = nullptr;
    device.reset();
    platformGLDestroyHiddenWindow(window);
    destroyConVarManager();
  }

  void clearTo(float r, float g, float b) {
    device->setClearColor(r, g, b, 1.0f);
    manager->clearScreen();
  }

  Material* material(const char* body) {
    materials.push_back(std::make_unique<Material>());
    Material* m = materials.back().get();
    EXPECT_TRUE(m->parse(body, static_cast<int>(std::strlen(body)))) << body;
    return m;
  }

  Rgb at(int x, int y) {
    unsigned char p[4] = {};
    device->readPixels(p, x, stage_.height - 1 - y, 1, 1, kPixelFormatRGBA);
    return {p[0], p[1], p[2]};
  }

  MemoryIOSystem io;
  CaptureCmdSystem console;
  void* window = nullptr;
  std::unique_ptr<RenderOpenGL> device;
  std::unique_ptr<RenderManager> manager;
  std::vector<std::unique_ptr<Material>> materials;
  std::vector<std::unique_ptr<BaseModel>> models;  // the suite's own models, freed after the manager

 private:
  Stage stage_;
};

}  // namespace managergl
