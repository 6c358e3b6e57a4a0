// The render device: the one way the engine reaches the graphics hardware. It speaks only the engine's
// own small codes (below); the OpenGL implementation (render/device) translates them through constant
// tables. Also the shared records the device consumes: DrawVertex, ImageInfo, PixelFormat, vertex
// buffer handles, and the GPU-program interface. Main thread only.
#pragma once

#include <cstddef>
#include <cstdint>

class Mat3;
class Mat4;
struct Plane;
struct Vec3;

// Pixel formats shared by images, render targets and the device.
enum PixelFormat : int32_t {
  kPixelFormatNone = 0,
  kPixelFormatI8 = 1,
  kPixelFormatL8A8 = 2,
  kPixelFormatRGB = 3,
  kPixelFormatRGBA = 4,
  kPixelFormatI16 = 5,
  kPixelFormatL16A16 = 6,
  kPixelFormatRGB16 = 7,
  kPixelFormatRGBA16 = 8,
  kPixelFormatI16F = 9,
  kPixelFormatL16A16F = 10,
  kPixelFormatRGB16F = 11,
  kPixelFormatRGBA16F = 12,
  kPixelFormatI32F = 13,
  kPixelFormatL32A32F = 14,
  kPixelFormatRGB32F = 15,
  kPixelFormatRGBA32F = 16,
  kPixelFormatUnused17 = 17,
  kPixelFormatRGB5 = 18,
  kPixelFormatRGBA4 = 19,
  kPixelFormatRGB10A2 = 20,
  kPixelFormatDXT1 = 21,
  kPixelFormatDXT3 = 22,
  kPixelFormatDXT5 = 23,
  kPixelFormatUnused24 = 24,
  kPixelFormatUnused25 = 25,
  kPixelFormatDepth16 = 26,
  kPixelFormatDepth24 = 27,
  kPixelFormatDepth32 = 28,
  kPixelFormatCount = 29,
};

// The description of one image, passed to the device for every upload.
struct ImageInfo {
  int32_t width;
  int32_t height;
  int32_t depth;        // layers of a 3D image; 0 counts as 1
  int32_t pixelFormat;  // PixelFormat
  int32_t textureType;  // RenderTextureType
  uint32_t quality;     // JPEG quality (low byte) used when the image is written; 99 wherever one is made
};

// The vertex of every model, of 2D drawing and of skinning, uploaded to GPU buffers unchanged.
struct DrawVertex {
  float xyz[3];          // byte 0
  float st[2];           // byte 12
  float spare[2];        // byte 20: a second s, t pair (lightmap coordinates of world surfaces)
  float tangents[2][3];  // bytes 28 and 40
  float normal[3];       // byte 52
  uint8_t color[4];      // byte 64: red, green, blue, alpha
};
static_assert(sizeof(DrawVertex) == 68, "DrawVertex is uploaded as 68 bytes");
static_assert(offsetof(DrawVertex, xyz) == 0, "DrawVertex position at byte 0");
static_assert(offsetof(DrawVertex, st) == 12, "DrawVertex st at byte 12");
static_assert(offsetof(DrawVertex, spare) == 20, "DrawVertex spare pair at byte 20");
static_assert(offsetof(DrawVertex, tangents) == 28, "DrawVertex first tangent at byte 28");
static_assert(offsetof(DrawVertex, tangents) + 12 == 40, "DrawVertex second tangent at byte 40");
static_assert(offsetof(DrawVertex, normal) == 52, "DrawVertex normal at byte 52");
static_assert(offsetof(DrawVertex, color) == 64, "DrawVertex colour at byte 64");

// --- Device codes ---
enum RenderBlendFactor {
  kBlendZero = 1,
  kBlendOne = 2,
  kBlendSrcColor = 3,
  kBlendOneMinusSrcColor = 4,
  kBlendSrcAlpha = 5,
  kBlendOneMinusSrcAlpha = 6,
  kBlendDstAlpha = 7,
  kBlendOneMinusDstAlpha = 8,
  kBlendDstColor = 9,
  kBlendOneMinusDstColor = 10,
};

enum RenderCompareFunc {
  kCompareNever = 1,
  kCompareLess = 2,
  kCompareEqual = 3,
  kCompareLessEqual = 4,
  kCompareGreater = 5,
  kCompareNotEqual = 6,
  kCompareGreaterEqual = 7,
  kCompareAlways = 8,
};

enum RenderStencilOp {
  kStencilKeep = 1,
  kStencilZero = 2,
  kStencilReplace = 3,
  kStencilIncr = 4,
  kStencilDecr = 5,
  kStencilInvert = 6,
  kStencilIncrWrap = 7,
  kStencilDecrWrap = 8,
};

// setStencilOpFace: 0 both faces (two-sided stencil off), 1 front, 2 back.
enum RenderStencilFace { kStencilFaceBoth = 0, kStencilFaceFront = 1, kStencilFaceBack = 2 };
// hasStencilFeature kinds.
enum RenderStencilFeature { kStencilFeatureWrap = 0, kStencilFeatureTwoSided = 1 };

enum RenderCullMode { kCullNone = 0, kCullFront = 1, kCullBack = 2 };
enum RenderPolygonMode { kPolygonPoint = 0, kPolygonLine = 1, kPolygonFill = 2 };
enum RenderMatrixMode { kMatrixModelView = 0, kMatrixProjection = 1, kMatrixTexture = 2 };
enum RenderClearFlags { kClearColor = 1, kClearDepth = 2, kClearStencil = 4 };
enum RenderTextureType { kTextureType2D = 0, kTextureType3D = 1, kTextureTypeCube = 2 };
enum RenderTextureWrap { kWrapRepeat = 0, kWrapMirroredRepeat = 1, kWrapClampToEdge = 2 };
// Filter quality: 1 nearest, 2 trilinear, 3 linear without mipmap filtering; below 1 counts as 1.
enum RenderTextureFilter { kFilterNearest = 1, kFilterTrilinear = 2, kFilterLinear = 3 };
// setPolygonOffset mode: 1 lines, anything else filled polygons.
enum RenderPolygonOffsetMode { kOffsetFill = 0, kOffsetLine = 1 };

// Vertex-array flags of bindVertexBuffer and the pointer operations.
enum RenderVertexArrayFlags {
  kVertexArrayPosition = 1,            // xyz
  kVertexArrayTexCoord = 2,            // st
  kVertexArraySpareTexCoord = 4,       // the spare pair as texture coordinates
  kVertexArrayPositionAsTexCoord = 8,  // xyz as a 3-component texture coordinate (cube lookups)
  kVertexArrayColor = 16,
  kVertexArrayPosition4 = 32,  // xyzw, four packed floats per vertex (shadow volumes)
};

enum RenderErrorCode {
  kRenderErrorNone = 0,
  kRenderErrorInvalidParam = 1,
  kRenderErrorInternalError = 2,
  kRenderErrorInvalidCall = 3,
  kRenderErrorOutOfVideoMemory = 4,
  kRenderErrorCount = 5,
};

// A GPU vertex buffer of DrawVertex records. Made and freed only through the device.
struct VertexBufferHandle {
  unsigned bufferId;   // the GL buffer object name
  int positionOffset;  // 0
  int colourOffset;    // 64
  int texCoordOffset;  // 12
};

// One GL context of the device (main context or sub-context); defined by the device.
struct RenderContextRecord;

// The device's GPU programs (ARB vertex and fragment programs from "glprogs/", GLSL pairs). Programs
// are small indices into the interface's list; -1 means none and every operation ignores it.
class ShaderInterface {
 public:
  virtual ~ShaderInterface() = default;
  // Loads the built-in programs and reloads every program unloaded by unloadAll; always true.
  virtual bool init() = 0;
  virtual void shutdown() = 0;
  // Frees the GL objects of every program but keeps names and indices (init restores them).
  virtual void unloadAll() = 0;
  virtual int loadVertexProgram(const char* name) = 0;
  virtual int loadFragmentProgram(const char* name) = 0;
  // Reads "glprogs/<name>vp" and "glprogs/<name>fp" (either may be missing, not both).
  virtual int loadGLSLProgram(const char* name) = 0;
  virtual void bind(int index) = 0;
  // GLSL programs take environment parameters as the uniforms "program_env<register>".
  virtual void setEnvParam(int index, int reg, const float vec[4]) = 0;
  // `count` consecutive registers from `reg` (a stage's view constants, set for every surface):
  // the program is looked up once for all of them.
  virtual void setEnvParams(int index, int reg, int count, const float (*vecs)[4]) {
    for (int i = 0; i < count; ++i) {
      setEnvParam(index, reg + i, vecs[i]);
    }
  }
  virtual void setLocalParam(int index, int reg, const float vec[4]) = 0;
  // GLSL only; the program must be bound.
  virtual void setUniformFloat(int index, const char* name, float value) = 0;
  virtual void setUniformVec4(int index, const char* name, const float vec[4]) = 0;
  // kind 1 ARB vertex, 2 ARB fragment, 3 GLSL; -1 when none is bound.
  virtual int getBoundProgram(int kind) = 0;
  virtual void unbindAll() = 0;
};

class RenderInterface {
 public:
  virtual ~RenderInterface() = default;

  // Makes the main context on the window, loads the extensions and the built-in programs; false
  // without GL 1.2 and ARB vertex and fragment programs.
  virtual bool init(void* window, void* instance, int unused) { return true; }
  virtual void shutdown() { freeAllContexts(); }
  virtual bool isReady() = 0;
  // "OpenGL20", "OpenGL15", "OpenGL14", "OpenGL13", "OpenGL12" or "OpenGL 1.0".
  virtual const char* getVersionName() = 0;
  virtual void createContext(void* window, void* instance, int colorBits) = 0;
  virtual void freeAllContexts() = 0;
  // A context sharing textures, buffers and programs with the main one; null on failure.
  virtual RenderContextRecord* allocSubContext(void* window) = 0;
  virtual void freeSubContext(RenderContextRecord* context) = 0;
  // Saves the thread's current context; at most 7 pushes may be outstanding (error 3 beyond).
  virtual void pushContext() = 0;
  virtual void popContext() = 0;
  virtual void makeCurrent(RenderContextRecord* context) = 0;
  virtual void makeMainContextCurrent() = 0;
  virtual void swapBuffers() = 0;

  // Software mirrors of the GL matrix stacks (64 deep; overflow and underflow give error 3).
  virtual void getModelViewMatrix(Mat4* out) = 0;
  virtual void getProjectionMatrix(Mat4* out) = 0;
  virtual void getModelViewProjectionMatrix(Mat4* out) = 0;
  virtual void setMatrixMode(int mode) = 0;
  virtual void loadMatrix(const Mat4* matrix) = 0;
  virtual void loadIdentity() = 0;
  virtual void pushMatrix() = 0;
  virtual void popMatrix() = 0;

  virtual void enableClipPlane(int index) = 0;
  // A world plane in the local frame of an object with rotation `axis` and position `origin`.
  virtual void setClipPlane(int index, const Plane* plane, const Mat3* axis, const Vec3* origin) = 0;
  virtual void disableClipPlane(int index) = 0;
  virtual void setScissor(int x, int y, int width, int height) = 0;
  virtual void setPolygonMode(int mode) = 0;
  // (kBlendOne, kBlendZero) turns blending off.
  virtual void setBlendFunc(int src, int dst) = 0;
  virtual void setDepthFunc(int compare) = 0;
  // kCompareAlways (or 0) turns the alpha test off; the reference is clamped to 0..1.
  virtual void setAlphaFunc(int compare, float reference) = 0;
  virtual void setStencilFunc(int compare, int reference, unsigned mask) = 0;
  virtual void setStencilMask(unsigned mask) = 0;
  virtual void setStencilOp(int fail, int zfail, int zpass) = 0;
  virtual void setStencilOpFace(int face, int fail, int zfail, int zpass) = 0;
  virtual void setColorMask(bool red, bool green, bool blue, bool alpha) = 0;
  virtual void setDepthMask(bool write) = 0;
  virtual void finish() = 0;
  // Depth formats read floats; others read bytes in the format's GL layout (RGB, RGBA). Rows are packed.
  virtual void readPixels(void* dst, int x, int y, int width, int height, int pixelFormat) = 0;
  virtual void setCullMode(int mode) = 0;
  virtual void setViewport(int x, int y, int width, int height) = 0;
  virtual void getViewport(float out[4]) = 0;
  virtual void setPolygonOffset(float factor, float units, int mode) = 0;
  virtual void clear(int flags) = 0;
  virtual void setClearStencil(int value) = 0;
  virtual void setDepthRange(float zNear, float zFar) = 0;
  virtual void setClearColor(float red, float green, float blue, float alpha) = 0;
  virtual void getCurrentColor(float* red, float* green, float* blue, float* alpha) = 0;
  // Widths in thousandths of a pixel.
  virtual void setLineWidth(float width) = 0;

  virtual VertexBufferHandle* createVertexBuffer() = 0;
  // Frees the buffer and stores null through the pointer; a null handle does nothing.
  virtual void freeVertexBuffer(VertexBufferHandle** handle) = 0;
  virtual void uploadVertexBuffer(VertexBufferHandle* handle, const void* data, int bytes, bool isStatic) = 0;
  virtual void updateVertexBuffer(VertexBufferHandle* handle, const void* data, int bytes) = 0;
  // Binds the buffer and enables the arrays of `flags` (RenderVertexArrayFlags) and, except for
  // packed xyzw buffers (flag 32), the generic attributes 8-12; false without vertex buffers or
  // without a handle.
  virtual bool bindVertexBuffer(VertexBufferHandle* handle, int flags) = 0;
  virtual void unbindVertexBuffer() = 0;
  virtual bool setTexCoordPointer(VertexBufferHandle* handle, int flags) = 0;
  // Generic attributes 8-12 for programs: 8 st (or xyz with flag 8), 9 spare pair, 10-11 tangents,
  // 12 normal. A null handle disables them.
  virtual void setVertexAttribPointers(VertexBufferHandle* handle, int flags) = 0;
  virtual void disableVertexAttribArrays() = 0;
  // 32-bit indices in client memory; `count` indices.
  virtual void drawTriangles(const unsigned* indices, int count) = 0;

  virtual bool hasStencilFeature(int kind) = 0;
  virtual ShaderInterface* getShaderInterface() = 0;

  virtual void selectTextureUnit(int unit, int ignored) = 0;
  virtual void resetTextureUnits() = 0;
  virtual unsigned createTexture() = 0;
  virtual void deleteTexture(unsigned name) = 0;
  virtual void bindTexture(int type, unsigned name) = 0;
  // Level 0 of the bound texture, packed rows.
  virtual void getTexImage(int type, int pixelFormat, void* dst) = 0;
  // Cube faces 0..5 are +x, -x, +y, -y, +z, -z.
  virtual void uploadTexImage(const ImageInfo* info, int level, const void* pixels, int face) = 0;
  virtual void uploadTexSubImage(const ImageInfo* info, const void* pixels) = 0;
  virtual void copyTexSubImage(int x, int y, int xOffset, int yOffset, int width, int height) = 0;
  virtual void uploadCompressedTexImage(const ImageInfo* info, int level, const void* data, int bytes,
                                        int face) = 0;
  virtual void setTextureLodBias(float bias) = 0;
  virtual void setTextureWrap(int type, int wrap) = 0;
  virtual void setTextureFilter(int type, int quality, bool mipmapped) = 0;
  // GL enums of a pixel format; 0 for codes outside the table.
  virtual unsigned getInternalFormat(int pixelFormat) = 0;
  virtual unsigned getExternalFormat(int pixelFormat) = 0;
  // Beyond the original table, after it so the table's slot order holds.
  // Stencil values as bytes, packed rows, bottom row first; false (dst untouched) without a stencil
  // buffer or with a bad region.
  virtual bool readStencil(uint8_t* /*dst*/, int /*x*/, int /*y*/, int /*width*/, int /*height*/) {
    return false;
  }
  // A debug overlay: RGB bytes, packed rows bottom row first, written unblended over the frame from
  // the viewport's lower-left corner with depth test, depth writes, 2D texturing and blending off.
  // The device restores every state it touches, matrices included.
  virtual void drawPixelsOverFrame(const uint8_t* /*rgb*/, int /*width*/, int /*height*/) {}

  void setError(int code) { errorCode_ = code; }
  int getErrorCode() const { return errorCode_; }
  // "ERRORCODE_NONE" ... "ERRORCODE_NUMERRORS"; "ERRORCODE_UNKNOWN" outside 0..5.
  static const char* errorCodeName(int code) {
    static const char* const kNames[] = {
        "ERRORCODE_NONE",        "ERRORCODE_INVALIDPARAM",     "ERRORCODE_INTERNALERROR",
        "ERRORCODE_INVALIDCALL", "ERRORCODE_OUTOFVIDEOMEMORY", "ERRORCODE_NUMERRORS"};
    return code >= 0 && code <= kRenderErrorCount ? kNames[code] : "ERRORCODE_UNKNOWN";
  }

 private:
  int errorCode_ = kRenderErrorNone;
};

inline RenderInterface* g_renderInterface = nullptr;

// Calls the render device and the engine core make into the renderer around GL contexts; installed by
// the render back end (null: nothing to do).
struct RenderContextHooks {
  // A new main context is current (scissor and stencil tests on): the back end sets its default
  // stencil state and forgets cached program ids.
  void (*contextCreated)(RenderInterface* device) = nullptr;
  // After a context restart ("vid_restart"), once images are reloaded: every render target makes its
  // framebuffer and depth buffer again around the same images.
  void (*contextRestored)() = nullptr;
  // "reloadDecls" first lets the renderer free and re-create its render targets.
  void (*recreateRenderTargets)() = nullptr;
};
inline RenderContextHooks g_renderContextHooks;

// The OpenGL device (render/device), returned as the interface; the caller deletes it.
RenderInterface* createRenderOpenGL();
