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
#include "support/nulldevice.h"

namespace modeltest {

// Installs itself as g_renderInterface for its lifetime. Vertex buffers are counted, uploads kept
// per buffer, draws recorded with the polygon mode they ran in.
class RecordingDevice : public NullDevice {
 public:
  RecordingDevice();
  ~RecordingDevice() override;

  struct Draw {
    std::vector<unsigned> indexes;
    int polygonMode;
    VertexBufferHandle* bound;
  };

  const char* getVersionName() override { return "recording"; }
  void getModelViewMatrix(Mat4* out) override;
  void setPolygonMode(int mode) override { polygonMode = mode; }
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
  void drawTriangles(const unsigned* indices, int count) override;

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
