// The hidden window and OpenGL device of the pixel tests (llvmpipe under SDL's offscreen driver).
// Without a GL context a test is skipped, except under CI, where llvmpipe must be there and the
// test fails. Header only: it needs the device library, which only the GL suites link.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "platform/gl.h"
#include "render/device/renderopengl.h"

namespace gltest {

// Skips the test for want of a GL context, or fails it under CI.
inline void noContext(const std::string& why) {
  if (std::getenv("CI") != nullptr) {
    FAIL() << "no GL context under CI: " << why;
  }
  GTEST_SKIP() << "no GL context: " << why;
}

// Opens a hidden width x height window and initialises a device on it; noContext() when either
// fails, so the caller returns when the test is skipped or has failed.
inline void openDevice(int width, int height, void** window, std::unique_ptr<RenderOpenGL>* device) {
  *window = platformGLCreateHiddenWindow(width, height, 32);
  *device = std::make_unique<RenderOpenGL>();
  if (*window == nullptr || !(*device)->init(*window, nullptr, 0)) {
    noContext(*window == nullptr ? platformGLError() : "device init failed");
  }
}

}  // namespace gltest
