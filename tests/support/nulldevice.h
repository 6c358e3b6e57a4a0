// A render device that draws nothing, for stand-ins that watch a few of its calls: it is ready,
// claims every stencil feature, hands out no vertex buffers, textures or shaders, and reads back
// zeros where a read fills a caller's array. Suites override what they watch.
#pragma once

#include "lib/interface/renderinterface.h"

class NullDevice : public RenderInterface {
 public:
  bool isReady() override { return true; }
  const char* getVersionName() override { return "null"; }
  void createContext(void*, void*, int) override {}
  void freeAllContexts() override {}
  RenderContextRecord* allocSubContext(void*) override { return nullptr; }
  void freeSubContext(RenderContextRecord*) override {}
  void pushContext() override {}
  void popContext() override {}
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
  void readPixels(void*, int, int, int, int, int) override {}
  void setCullMode(int) override {}
  void setViewport(int, int, int, int) override {}
  void getViewport(float out[4]) override { out[0] = out[1] = out[2] = out[3] = 0.0f; }
  void setPolygonOffset(float, float, int) override {}
  void clear(int) override {}
  void setClearStencil(int) override {}
  void setDepthRange(float, float) override {}
  void setClearColor(float, float, float, float) override {}
  void getCurrentColor(float*, float*, float*, float*) override {}
  void setLineWidth(float) override {}
  VertexBufferHandle* createVertexBuffer() override { return nullptr; }
  void freeVertexBuffer(VertexBufferHandle** handle) override {
    if (handle)
      *handle = nullptr;
  }
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
};
