// Shared fixtures of the texture tests: a temporary game tree with the real command, console
// variable and file managers (output captured), and a render device that records what the texture
// code asks of it instead of drawing.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "lib/interface/renderinterface.h"
#include "support/nulldevice.h"

namespace textest {

// One texture upload as the device saw it.
struct Upload {
  unsigned texture;
  int level;
  int face;
  ImageInfo info;
  bool compressed;
  int bytes;  // compressed uploads only
  std::vector<uint8_t> pixels;
};

class FakeDevice : public NullDevice {
 public:
  // Installs itself as g_renderInterface; the destructor clears it.
  FakeDevice();
  ~FakeDevice() override;

  bool isReady() override { return ready; }
  const char* getVersionName() override { return "fake"; }
  void pushContext() override { ++pushes; }
  void popContext() override { --pushes; }
  // Fills the region with bytes (row y, column x, channel c) = (y * 16 + x + c) & 0xFF.
  void readPixels(void* dst, int x, int y, int width, int height, int pixelFormat) override;
  // Stencil value of (row y, column x) = (y * 7 + x) & 0xFF.
  bool readStencil(uint8_t* dst, int x, int y, int width, int height) override;
  void drawPixelsOverFrame(const uint8_t* rgb, int width, int height) override;
  unsigned createTexture() override { return ++lastTexture; }
  void deleteTexture(unsigned name) override { deleted.push_back(name); }
  void bindTexture(int type, unsigned name) override {
    boundType = type;
    bound = name;
  }
  void uploadTexImage(const ImageInfo* info, int level, const void* pixels, int face) override;
  void uploadCompressedTexImage(const ImageInfo* info, int level, const void* data, int bytes,
                                int face) override;
  void setTextureLodBias(float bias) override {
    lodBias = bias;
    ++lodBiasCalls;
  }
  void setTextureWrap(int, int wrap) override { lastWrap = wrap; }
  void setTextureFilter(int, int quality, bool mipmapped) override {
    lastFilter = quality;
    lastMipmapped = mipmapped;
  }

  // Uploads of one texture, in order.
  std::vector<const Upload*> uploadsOf(unsigned texture) const;

  bool ready = true;
  int pushes = 0;
  unsigned lastTexture = 0;
  unsigned bound = 0;
  int boundType = -1;
  float lodBias = 0.0f;
  int lodBiasCalls = 0;
  int lastWrap = -1;
  int lastFilter = -1;
  bool lastMipmapped = false;
  std::vector<unsigned> deleted;
  std::vector<Upload> uploads;
  int readCalls = 0;
  int lastReadWidth = 0;
  int stencilReads = 0;
  int drawnWidth = 0;
  int drawnHeight = 0;
  std::vector<uint8_t> drawn;  // the last pixels of drawPixelsOverFrame
};

// A temporary tree (<tmp>/<unique>/media), made the working directory, with the command manager
// (output captured in `output`), the console-variable manager and the file system started on it.
class TexEnv : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Writes a file below media/.
  void writeFile(const std::string& relative, const std::vector<uint8_t>& bytes) const;
  std::vector<uint8_t> readFile(const std::string& relative) const;
  bool exists(const std::string& relative) const;
  void setVar(const char* name, const char* value);

  std::filesystem::path root_;
  std::filesystem::path previous_;
};

// Everything printed through the command manager since the fixture started (or was cleared).
inline std::string g_output;

}  // namespace textest
