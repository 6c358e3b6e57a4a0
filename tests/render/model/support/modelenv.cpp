// The recording device and the model fixture.
#include "render/model/support/modelenv.h"

#include <cstring>

#include "lib/matrix.h"

namespace modeltest {

RecordingDevice::RecordingDevice() { g_renderInterface = this; }

RecordingDevice::~RecordingDevice() {
  if (g_renderInterface == this)
    g_renderInterface = nullptr;
}

void RecordingDevice::getModelViewMatrix(Mat4* out) { *out = modelView; }

VertexBufferHandle* RecordingDevice::createVertexBuffer() {
  ++created;
  ++live;
  return new VertexBufferHandle{unsigned(created), 0, 64, 12};
}

void RecordingDevice::freeVertexBuffer(VertexBufferHandle** handle) {
  if (!handle || !*handle)
    return;
  ++freed;
  --live;
  contents.erase(*handle);
  isStatic.erase(*handle);
  delete *handle;
  *handle = nullptr;
}

void RecordingDevice::uploadVertexBuffer(VertexBufferHandle* handle, const void* data, int bytes, bool stat) {
  ++uploads;
  const uint8_t* p = static_cast<const uint8_t*>(data);
  if (p)
    contents[handle].assign(p, p + bytes);
  else
    contents[handle].assign(size_t(bytes), 0);
  isStatic[handle] = stat;
}

void RecordingDevice::updateVertexBuffer(VertexBufferHandle* handle, const void* data, int bytes) {
  ++uploads;
  const uint8_t* p = static_cast<const uint8_t*>(data);
  std::vector<uint8_t>& c = contents[handle];
  if (c.size() < size_t(bytes))
    c.resize(size_t(bytes));
  std::memcpy(c.data(), p, size_t(bytes));
}

void RecordingDevice::drawTriangles(const unsigned* indices, int count) {
  draws.push_back({std::vector<unsigned>(indices, indices + count), polygonMode, bound});
}

void ModelEnv::SetUp() {
  cmd_ = std::make_unique<CaptureCmdSystem>();
  io_ = std::make_unique<MemoryIOSystem>();
  ASSERT_NE(getRenderModelSystem(), nullptr);
}

void ModelEnv::TearDown() {
  destroyRenderModelSystem();
  io_.reset();
  cmd_.reset();
}

RenderModel* ModelEnv::loadText(const std::string& name, const std::string& text) {
  io_->addFile(name, text);
  return g_renderModelSystem->findOrLoadModel(name.c_str());
}

DrawVertex vertexAt(float x, float y, float z) {
  DrawVertex v = {};
  v.xyz[0] = x;
  v.xyz[1] = y;
  v.xyz[2] = z;
  return v;
}

}  // namespace modeltest
