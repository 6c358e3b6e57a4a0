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

class FakeDevice : public RenderInterface {
 public:
  // Installs itself as g_renderInterface; the destructor clears it.
  FakeDevice();
  ~FakeDevice() override;

  bool isReady() override { return ready; }
  const char* getVersionName() override { return "fake"; }
  void createContext(void*, void*, int) override {}
  void freeAllContexts() override {}
  RenderContextRecord* allocSubContext(void*) override { return nullptr; }
  void freeSubContext(RenderContextRecord*) override {}
  void pushContext() override { ++pushes; }
  void popContext() override { --pushes; }
  void makeCurrent(RenderContextRecord*) override {}
  void makeMainContextCurrent() override {}
  void swapBuffers() override {}
  void getModelViewMatrix(Mat4*) override {}
  void getProjectionMatrix(Mat4*) override {}
  void getModelViewProjectionMatrix(Mat4*) override {}
  void setMatrixMode(int) override {}
  void loadMatrix(const Mat4*) override {}
  void loadIdentity() override {}
  void pushMatrix() override {}
  void popMatrix() override {}
  void enableClipPlane(int) override {}
  void setClipPlane(int, const Plane*, const Mat3*, const Vec3*) override {}
  void disableClipPlane(int) override {}
  void setScissor(int, int, int, int) override {}
  void setPolygonMode(int) override {}
  void setBlendFunc(int, int) override {}
  void setDepthFunc(int) override {}
  void setAlphaFunc(int, float) override {}
  void setStencilFunc(int, int, unsigned) override {}
  void setStencilMask(unsigned) override {}
  void setStencilOp(int, int, int) override {}
  void setStencilOpFace(int, int, int, int) override {}
  void setColorMask(bool, bool, bool, bool) override {}
  void setDepthMask(bool) override {}
  void finish() override {}
  // Fills the region with bytes (row y, column x, channel c) = (y * 16 + x + c) & 0xFF.
  void readPixels(void* dst, int x, int y, int width, int height, int pixelFormat) override;
  // Stencil value of (row y, column x) = (y * 7 + x) & 0xFF.
  bool readStencil(uint8_t* dst, int x, int y, int width, int height) override;
  void drawPixelsOverFrame(const uint8_t* rgb, int width, int height) override;
  void setCullMode(int) override {}
  void setViewport(int, int, int, int) override {}
  void getViewport(float out[4]) override { out[0] = out[1] = out[2] = out[3] = 0; }
  void setPolygonOffset(float, float, int) override {}
  void clear(int) override {}
  void setClearStencil(int) override {}
  void setDepthRange(float, float) override {}
  void setClearColor(float, float, float, float) override {}
  void getCurrentColor(float*, float*, float*, float*) override {}
  void setLineWidth(float) override {}
  VertexBufferHandle* createVertexBuffer() override { return nullptr; }
  void freeVertexBuffer(VertexBufferHandle** handle) override { *handle = nullptr; }
  void uploadVertexBuffer(VertexBufferHandle*, const void*, int, bool) override {}
  void updateVertexBuffer(VertexBufferHandle*, const void*, int) override {}
  bool bindVertexBuffer(VertexBufferHandle*, int) override { return false; }
  void unbindVertexBuffer() override {}
  bool setTexCoordPointer(VertexBufferHandle*, int) override { return false; }
  void setVertexAttribPointers(VertexBufferHandle*, int) override {}
  void disableVertexAttribArrays() override {}
  void drawTriangles(const unsigned*, int) override {}
  bool hasStencilFeature(int) override { return true; }
  ShaderInterface* getShaderInterface() override { return nullptr; }
  void selectTextureUnit(int, int) override {}
  void resetTextureUnits() override {}
  unsigned createTexture() override { return ++lastTexture; }
  void deleteTexture(unsigned name) override { deleted.push_back(name); }
  void bindTexture(int type, unsigned name) override {
    boundType = type;
    bound = name;
  }
  void getTexImage(int, int, void*) override {}
  void uploadTexImage(const ImageInfo* info, int level, const void* pixels, int face) override;
  void uploadTexSubImage(const ImageInfo*, const void*) override {}
  void copyTexSubImage(int, int, int, int, int, int) override {}
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
  unsigned getInternalFormat(int) override { return 0; }
  unsigned getExternalFormat(int) override { return 0; }

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
