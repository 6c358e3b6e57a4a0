// The OpenGL render device: contexts and sub-contexts with a push/pop stack, software mirrors of the
// modelview and projection stacks, render state translated from the engine's codes, vertex buffers,
// textures and the GPU programs. Holds no lock: every call comes from the thread of the main context.
#pragma once

#include "lib/interface/renderinterface.h"
#include "lib/list.h"
#include "platform/gl.h"
#include "render/device/glstatecache.h"
#include "render/device/openglshaderinterface.h"

struct RenderContextRecord {
  void* glContext;
  void* surface;  // what the context is made current on (the window)
  void* window;
};

class RenderOpenGL : public RenderInterface {
 public:
  static constexpr int kContextStackSize = 8;
  static constexpr int kMatrixStackSize = 64;
  static constexpr int kMaxClipPlanes = 16;

  RenderOpenGL();
  ~RenderOpenGL() override;

  bool init(void* window, void* instance, int unused) override;
  void shutdown() override;
  bool isReady() override;
  const char* getVersionName() override;
  void createContext(void* window, void* instance, int colorBits) override;
  void freeAllContexts() override;
  RenderContextRecord* allocSubContext(void* window) override;
  void freeSubContext(RenderContextRecord* context) override;
  void pushContext() override;
  void popContext() override;
  void makeCurrent(RenderContextRecord* context) override;
  void makeMainContextCurrent() override;
  void swapBuffers() override;

  void getModelViewMatrix(Mat4* out) override;
  void getProjectionMatrix(Mat4* out) override;
  void getModelViewProjectionMatrix(Mat4* out) override;
  void setMatrixMode(int mode) override;
  void loadMatrix(const Mat4* matrix) override;
  void loadIdentity() override;
  void pushMatrix() override;
  void popMatrix() override;

  void enableClipPlane(int index) override;
  void setClipPlane(int index, const Plane* plane, const Mat3* axis, const Vec3* origin) override;
  void disableClipPlane(int index) override;
  void setScissor(int x, int y, int width, int height) override;
  void setPolygonMode(int mode) override;
  void setBlendFunc(int src, int dst) override;
  void setDepthFunc(int compare) override;
  void setAlphaFunc(int compare, float reference) override;
  void setStencilFunc(int compare, int reference, unsigned mask) override;
  void setStencilMask(unsigned mask) override;
  void setStencilOp(int fail, int zfail, int zpass) override;
  void setStencilOpFace(int face, int fail, int zfail, int zpass) override;
  void setColorMask(bool red, bool green, bool blue, bool alpha) override;
  void setDepthMask(bool write) override;
  void finish() override;
  void readPixels(void* dst, int x, int y, int width, int height, int pixelFormat) override;
  bool readStencil(uint8_t* dst, int x, int y, int width, int height) override;
  void drawPixelsOverFrame(const uint8_t* rgb, int width, int height) override;
  void setCullMode(int mode) override;
  void setViewport(int x, int y, int width, int height) override;
  void getViewport(float out[4]) override;
  void setPolygonOffset(float factor, float units, int mode) override;
  void clear(int flags) override;
  void setClearStencil(int value) override;
  void setDepthRange(float zNear, float zFar) override;
  void setClearColor(float red, float green, float blue, float alpha) override;
  void getCurrentColor(float* red, float* green, float* blue, float* alpha) override;
  void setLineWidth(float width) override;

  VertexBufferHandle* createVertexBuffer() override;
  void freeVertexBuffer(VertexBufferHandle** handle) override;
  void uploadVertexBuffer(VertexBufferHandle* handle, const void* data, int bytes, bool isStatic) override;
  void updateVertexBuffer(VertexBufferHandle* handle, const void* data, int bytes) override;
  bool bindVertexBuffer(VertexBufferHandle* handle, int flags) override;
  void unbindVertexBuffer() override;
  bool setTexCoordPointer(VertexBufferHandle* handle, int flags) override;
  void setVertexAttribPointers(VertexBufferHandle* handle, int flags) override;
  void disableVertexAttribArrays() override;
  void drawTriangles(const unsigned* indices, int count) override;

  bool hasStencilFeature(int kind) override;
  ShaderInterface* getShaderInterface() override { return &shader_; }

  void selectTextureUnit(int unit, int ignored) override;
  void resetTextureUnits() override;
  unsigned createTexture() override;
  void deleteTexture(unsigned name) override;
  void bindTexture(int type, unsigned name) override;
  void getTexImage(int type, int pixelFormat, void* dst) override;
  void uploadTexImage(const ImageInfo* info, int level, const void* pixels, int face) override;
  void uploadTexSubImage(const ImageInfo* info, const void* pixels) override;
  void copyTexSubImage(int x, int y, int xOffset, int yOffset, int width, int height) override;
  void uploadCompressedTexImage(const ImageInfo* info, int level, const void* data, int bytes,
                                int face) override;
  void setTextureLodBias(float bias) override;
  void setTextureWrap(int type, int wrap) override;
  void setTextureFilter(int type, int quality, bool mipmapped) override;
  unsigned getInternalFormat(int pixelFormat) override;
  unsigned getExternalFormat(int pixelFormat) override;

  // --- Beyond the interface: the device's own state, for the renderer, tests and benchmarks ---
  void resetState();
  OpenGLShaderInterface& shader() { return shader_; }
  int contextCount() const { return contexts_.num(); }
  RenderContextRecord* context(int index) const;
  int contextStackIndex() const { return contextStackIndex_; }
  int currentTextureUnit() const { return currentTextureUnit_; }
  int highestTextureUnit() const { return highestTextureUnit_; }
  int matrixMode() const { return matrixMode_; }
  // Clip planes the driver offers (at most 16); 0 before a context exists.
  int clipPlaneCount() const { return clipPlaneCount_; }
  const PlatformGLAttributes& pixelFormat() const { return pixelFormat_; }
  int requestedColorBits() const { return colorBits_; }
  // With filtering off every state call reaches GL at once, even when nothing changes (for
  // measurements). Switch it between passes: texture-matrix stacks start again at depth 0.
  void setStateFiltering(bool on);
  bool stateFiltering() const { return filterRedundant_; }
  bool caching() const { return filterRedundant_; }
  // Forgets what the cache knows of GL: the next call of each kind reaches GL. For code that has
  // set GL state directly; context switches and restarts do it themselves.
  void invalidateStateCache();
  // Applies all deferred state (program and texture enables, texture matrices, generic attribute
  // arrays). Draws apply what they need first; the attribute arrays only when the vertex program
  // reads them.
  void flushDeferredState();
  const GLStateCache& stateCache() const { return cache_; }

  // --- For the shader interface: program state through the cache ---
  void setProgramEnable(unsigned target, bool on);
  void bindProgramGL(unsigned target, unsigned id);
  // An environment parameter of an ARB target (shared by its programs).
  void envParamGL(unsigned target, int reg, const float vec[4]);
  // A GLSL program; `deferred` for turning programs off (applied at the next draw).
  void useProgramGL(unsigned id, bool deferred);
  // After program objects were bound or deleted directly.
  void forgetProgramBindings();

  // The code tables: GL value of an engine code; outside the table -1 (blend factors, stencil
  // operations, where 0 is GL_ZERO) or 0 (compare functions).
  static int blendFactorToGL(int code);
  static int compareFuncToGL(int code);
  static int stencilOpToGL(int code);
  static int pixelFormatComponents(int pixelFormat);

 private:
  struct ContextStackEntry {
    void* glContext;
    void* surface;
    void* window;
  };

  // The stack depth and top of the current matrix mode; null for the texture matrix, which only
  // GL keeps, and for a mode outside the table.
  int* matrixIndex();
  float* matrixTop();
  bool validTextureType(int type);
  unsigned textureTarget(int type, int face);
  void setUnpackState();
  // Filtered GL calls.
  void capGL(int which, bool on);
  void matrixModeGL(unsigned mode);
  void ensureTextureMatrixMode();
  void activeUnitGL(int unit);
  void clientUnitGL(int unit);
  void arrayBufferGL(unsigned id);
  // Binding 0, deferred to a full flush when filtering.
  void releaseArrayBuffer();
  void clientStateGL(unsigned array, bool on);
  // Turns off the client arrays whose turning off was deferred.
  void applyClientArrays();
  void applyDeferredState(bool forDraw);
  // True when the vertex stage a draw would run may read generic attributes 8..12.
  bool drawReadsGenericAttribs() const;
  void applyAttribArrays(bool forDraw);
  void writeAttribPointers(int size8, int offset8);
  bool anyClientArrayOff() const;
  void deferTexCoordPointer(VertexBufferHandle* handle, int flags);
  bool drawReadsTexCoords(int unit) const;
  bool texCoordPointersNeedGL(bool forDraw) const;
  void applyTexCoordPointers(bool forDraw);
  // The cached state of the current texture unit; null when filtering is off or beyond the cache.
  GLStateCache::Unit* cachedUnit() {
    return caching() && currentTextureUnit_ < GLStateCache::kUnits ? &cache_.units[currentTextureUnit_]
                                                                   : nullptr;
  }

  List<RenderContextRecord*> contexts_;
  ContextStackEntry contextStack_[kContextStackSize];
  int contextStackIndex_;
  int currentTextureUnit_;
  int highestTextureUnit_;
  bool attribArraysEnabled_;
  unsigned boundArrayBuffer_;  // the array buffer the device last bound
  bool clipPlaneEnabled_[kMaxClipPlanes];
  int swapIntervalPending_;
  PlatformGLAttributes pixelFormat_;
  int colorBits_;
  OpenGLShaderInterface shader_;
  float modelView_[kMatrixStackSize][16];
  int modelViewIndex_;
  float projection_[kMatrixStackSize][16];
  int projectionIndex_;
  int matrixMode_;
  int scissor_[4];
  int clipPlaneCount_;
  bool filterRedundant_;
  GLStateCache cache_;
};
