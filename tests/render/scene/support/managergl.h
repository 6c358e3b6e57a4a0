// The render manager on a hidden llvmpipe window, its unlit program in a memory file system: the
// fixture of the pixel tests that draw through the manager. Suites derive from ManagerGLTest and
// add what they draw; y in at() counts from the top of the window.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
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
#include "render/scene/rendermanager.h"
#include "render/texture/texmgrinfo.h"
#include "system/convarmanager.h"
#include "tests/support/capturecmdsystem.h"
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

struct Rgb {
  int r, g, b;
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
  void SetUp() override {
    io.addFile("glprogs/unlit.vp", kUnlitProgram);
    getConVarManager();
    g_conVarSystem->setInt("r_viewwidth", kWidth);
    g_conVarSystem->setInt("r_viewheight", kHeight);
    window = platformGLCreateHiddenWindow(kWidth, kHeight, 32);
    device = std::make_unique<RenderOpenGL>();
    if (window == nullptr || !device->init(window, nullptr, 0)) {
      const std::string why = window == nullptr ? platformGLError() : "device init failed";
      if (std::getenv("CI") != nullptr) {
        FAIL() << "no GL context under CI: " << why;
      }
      GTEST_SKIP() << "no GL context: " << why;
    }
    g_renderInterface = device.get();
    ASSERT_NE(TexMgrInfo::getInstance(), nullptr);
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
    materials.clear();
    destroyRenderModelSystem();
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
    device->readPixels(p, x, kHeight - 1 - y, 1, 1, kPixelFormatRGBA);
    return {p[0], p[1], p[2]};
  }

  MemoryIOSystem io;
  CaptureCmdSystem console;
  void* window = nullptr;
  std::unique_ptr<RenderOpenGL> device;
  std::unique_ptr<RenderManager> manager;
  std::vector<std::unique_ptr<Material>> materials;
};

}  // namespace managergl
