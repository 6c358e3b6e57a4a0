// Shared fixtures of the model tests: a recording device (vertex buffers, uploads, draws), an
// in-memory file system with captured output, and the model manager made fresh for every test.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "lib/interface/renderinterface.h"
#include "lib/matrix.h"
#include "render/model/basemodel.h"
#include "render/model/rendermodelmanager.h"
#include "support/capturecmdsystem.h"
#include "support/memoryiosystem.h"

namespace modeltest {

// Installs itself as g_renderInterface for its lifetime. Vertex buffers are counted, uploads kept
// per buffer, draws recorded with the polygon mode they ran in.
class RecordingDevice : public RenderInterface {
 public:
  RecordingDevice();
  ~RecordingDevice() override;

  struct Draw {
    std::vector<unsigned> indexes;
    int polygonMode;
    VertexBufferHandle* bound;
  };

  bool isReady() override { return true; }
  const char* getVersionName() override { return "recording"; }
  void createContext(void*, void*, int) override {}
  void freeAllContexts() override {}
  RenderContextRecord* allocSubContext(void*) override { return nullptr; }
  void freeSubContext(RenderContextRecord*) override {}
  void pushContext() override {}
  void popContext() override {}
  void makeCurrent(RenderContextRecord*) override {}
  void makeMainContextCurrent() override {}
  void swapBuffers() override {}
  void getModelViewMatrix(Mat4* out) override;
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
  void setPolygonMode(int mode) override { polygonMode = mode; }
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
  void readPixels(void*, int, int, int, int, int) override {}
  void setCullMode(int) override {}
  void setViewport(int, int, int, int) override {}
  void getViewport(float out[4]) override { out[0] = out[1] = out[2] = out[3] = 0; }
  void setPolygonOffset(float, float, int) override {}
  void clear(int) override {}
  void setClearStencil(int) override {}
  void setDepthRange(float, float) override {}
  void setClearColor(float, float, float, float) override {}
  void getCurrentColor(float*, float*, float*, float*) override {}
  void setLineWidth(float width) override { lineWidth = width; }
  VertexBufferHandle* createVertexBuffer() override;
  void freeVertexBuffer(VertexBufferHandle** handle) override;
  void uploadVertexBuffer(VertexBufferHandle* handle, const void* data, int bytes, bool isStatic) override;
  void updateVertexBuffer(VertexBufferHandle* handle, const void* data, int bytes) override;
  bool bindVertexBuffer(VertexBufferHandle* handle, int) override {
    bound = handle;
    return handle != nullptr;
  }
  void unbindVertexBuffer() override { bound = nullptr; }
  bool setTexCoordPointer(VertexBufferHandle*, int) override { return true; }
  void setVertexAttribPointers(VertexBufferHandle*, int) override {}
  void disableVertexAttribArrays() override {}
  void drawTriangles(const unsigned* indices, int count) override;
  bool hasStencilFeature(int) override { return true; }
  ShaderInterface* getShaderInterface() override { return nullptr; }
  void selectTextureUnit(int, int) override {}
  void resetTextureUnits() override {}
  unsigned createTexture() override { return 0; }
  void deleteTexture(unsigned) override {}
  void bindTexture(int, unsigned) override {}
  void getTexImage(int, int, void*) override {}
  void uploadTexImage(const ImageInfo*, int, const void*, int) override {}
  void uploadTexSubImage(const ImageInfo*, const void*) override {}
  void copyTexSubImage(int, int, int, int, int, int) override {}
  void uploadCompressedTexImage(const ImageInfo*, int, const void*, int, int) override {}
  void setTextureLodBias(float) override {}
  void setTextureWrap(int, int) override {}
  void setTextureFilter(int, int, bool) override {}
  unsigned getInternalFormat(int) override { return 0; }
  unsigned getExternalFormat(int) override { return 0; }

  int created = 0;
  int freed = 0;
  int live = 0;
  // Bytes of the last upload (static or stream) into each buffer, and whether it was static.
  std::map<VertexBufferHandle*, std::vector<uint8_t>> contents;
  std::map<VertexBufferHandle*, bool> isStatic;
  int uploads = 0;
  int polygonMode = kPolygonFill;
  float lineWidth = 0.0f;
  VertexBufferHandle* bound = nullptr;
  std::vector<Draw> draws;
  Mat4 modelView;
};

// The manager (published through g_renderModelSystem), an in-memory file system and captured
// command output; all gone after the test.
class ModelEnv : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  RenderModelManager* manager() { return static_cast<RenderModelManager*>(g_renderModelSystem); }
  // A model loaded from a text through the manager's load path.
  RenderModel* loadText(const std::string& name, const std::string& text);

  std::unique_ptr<CaptureCmdSystem> cmd_;
  std::unique_ptr<MemoryIOSystem> io_;
};

// A DrawVertex at a position.
DrawVertex vertexAt(float x, float y, float z);

}  // namespace modeltest
