// The OpenGL render device: contexts, matrices, render state, vertex buffers and textures. Every GL call
// goes through the qgl pointers and every context call through qgl::ctx, so one recording fake sees
// all of them. Engine codes outside the tables are refused (error 1), never used as indices.
#include "render/device/renderopengl.h"

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "lib/interface/cmdsystem.h"
#include "lib/interface/commonsystem.h"
#include "lib/interface/convarsystem.h"
#include "lib/interface/managerfactory.h"
#include "lib/matrix.h"
#include "lib/vector.h"
#include "platform/window.h"
#include "render/device/glextensions.h"

namespace {

void deviceErrorBox(const char* text, const char* caption) {
  if (g_commonSystem != nullptr) {
    g_commonSystem->errorBox(text, caption);
  } else {
    cmdPrintf("ERROR: %s: %s\n", caption, text);
  }
}

const GLenum kBlendFactors[11] = {static_cast<GLenum>(-1),
                                  GL_ZERO,
                                  GL_ONE,
                                  GL_SRC_COLOR,
                                  GL_ONE_MINUS_SRC_COLOR,
                                  GL_SRC_ALPHA,
                                  GL_ONE_MINUS_SRC_ALPHA,
                                  GL_DST_ALPHA,
                                  GL_ONE_MINUS_DST_ALPHA,
                                  GL_DST_COLOR,
                                  GL_ONE_MINUS_DST_COLOR};
const GLenum kCompareFuncs[9] = {0,          GL_NEVER,    GL_LESS,   GL_EQUAL, GL_LEQUAL,
                                 GL_GREATER, GL_NOTEQUAL, GL_GEQUAL, GL_ALWAYS};
const GLenum kStencilOps[9] = {0,       GL_KEEP,   GL_ZERO,          GL_REPLACE,      GL_INCR,
                               GL_DECR, GL_INVERT, GL_INCR_WRAP_EXT, GL_DECR_WRAP_EXT};
const GLenum kPolygonModes[3] = {GL_POINT, GL_LINE, GL_FILL};
const GLenum kMatrixModes[3] = {GL_MODELVIEW, GL_PROJECTION, GL_TEXTURE};
const GLenum kTextureTargets[3] = {GL_TEXTURE_2D, GL_TEXTURE_3D, GL_TEXTURE_CUBE_MAP};
const GLint kWrapModes[3] = {GL_REPEAT, GL_MIRRORED_REPEAT, GL_CLAMP_TO_EDGE};

const GLenum kInternalFormats[kPixelFormatCount] = {
    0,
    GL_INTENSITY8,
    GL_LUMINANCE8_ALPHA8,
    GL_RGB,
    GL_RGBA,
    GL_INTENSITY16,
    GL_LUMINANCE16_ALPHA16,
    GL_RGB16,
    GL_RGBA16,
    GL_INTENSITY16F_ARB,
    GL_LUMINANCE_ALPHA16F_ARB,
    GL_RGB16F_ARB,
    GL_RGBA16F_ARB,
    GL_INTENSITY32F_ARB,
    GL_LUMINANCE_ALPHA32F_ARB,
    GL_RGB32F_ARB,
    GL_RGBA32F_ARB,
    0,
    GL_RGB5,
    GL_RGBA4,
    GL_RGB10_A2,
    GL_COMPRESSED_RGBA_S3TC_DXT1_EXT,
    GL_COMPRESSED_RGBA_S3TC_DXT3_EXT,
    GL_COMPRESSED_RGBA_S3TC_DXT5_EXT,
    0,
    0,
    GL_DEPTH_COMPONENT16,
    GL_DEPTH_COMPONENT24,
    GL_DEPTH_COMPONENT32,
};
const int kComponents[kPixelFormatCount] = {0, 1, 2, 3, 4, 1, 2, 3, 4, 1, 2, 3, 4, 1, 2,
                                            3, 4, 3, 3, 4, 4, 4, 4, 4, 1, 2, 1, 1, 1};

bool isDepthFormat(int pixelFormat) {
  return pixelFormat >= kPixelFormatDepth16 && pixelFormat <= kPixelFormatDepth32;
}

const float kIdentity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

// Engine axes to GL's: GL x = -engine y, GL y = engine z, GL z = -engine x (column-major).
const float kEngineToGL[16] = {0, 0, -1, 0, -1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 1};

const void* bufferOffset(int offset) {
  return reinterpret_cast<const void*>(static_cast<uintptr_t>(offset));
}

constexpr int kStride = static_cast<int>(sizeof(DrawVertex));
constexpr int kAttribFirst = 8;
constexpr int kAttribLast = 12;
constexpr int kMaxTextureUnits = 32;

}  // namespace

// --- The state cache: filtered GL calls ---

void RenderOpenGL::capGL(int which, bool on) {
  static const GLenum kCaps[GLStateCache::kCapCount] = {GL_BLEND, GL_ALPHA_TEST, GL_CULL_FACE,
                                                        GL_POLYGON_OFFSET_FILL, GL_POLYGON_OFFSET_LINE};
  int8_t& known = cache_.cap[which];
  if (caching() && known == (on ? 1 : 0)) {
    return;
  }
  known = on ? 1 : 0;
  if (on) {
    qgl::glEnable(kCaps[which]);
  } else {
    qgl::glDisable(kCaps[which]);
  }
}

void RenderOpenGL::matrixModeGL(unsigned mode) {
  if (caching() && cache_.matrixMode == static_cast<int>(mode)) {
    return;
  }
  cache_.matrixMode = static_cast<int>(mode);
  qgl::glMatrixMode(mode);
}

void RenderOpenGL::ensureTextureMatrixMode() {
  // With filtering on, choosing the texture mode was skipped while a cached unit was current.
  if (caching()) {
    matrixModeGL(GL_TEXTURE);
  }
}

void RenderOpenGL::activeUnitGL(int unit) {
  if (qgl::glActiveTextureARB != nullptr && (!caching() || cache_.activeUnit != unit)) {
    cache_.activeUnit = unit;
    qgl::glActiveTextureARB(GL_TEXTURE0_ARB + unit);
  }
}

void RenderOpenGL::clientUnitGL(int unit) {
  if (qgl::glClientActiveTextureARB != nullptr && (!caching() || cache_.clientUnit != unit)) {
    cache_.clientUnit = unit;
    qgl::glClientActiveTextureARB(GL_TEXTURE0_ARB + unit);
  }
}

void RenderOpenGL::arrayBufferGL(unsigned id) {
  boundArrayBuffer_ = id;
  cache_.arrayBufferReleased = false;
  if (qgl::glBindBufferARB == nullptr || (caching() && cache_.arrayBuffer == static_cast<int64_t>(id))) {
    return;
  }
  cache_.arrayBuffer = id;
  qgl::glBindBufferARB(GL_ARRAY_BUFFER_ARB, id);
}

void RenderOpenGL::releaseArrayBuffer() {
  if (!caching()) {
    arrayBufferGL(0);
    return;
  }
  // Pointers are only ever set right after their buffer is bound and draws do not read the
  // binding, so GL may keep the buffer until a full flush: the next surface often binds it again.
  boundArrayBuffer_ = 0;
  cache_.arrayBufferReleased = cache_.arrayBuffer != 0;
}

void RenderOpenGL::clientStateGL(unsigned array, bool on) {
  int8_t* known = nullptr;
  if (array == GL_VERTEX_ARRAY) {
    known = &cache_.vertexArray;
  } else if (array == GL_COLOR_ARRAY) {
    known = &cache_.colorArray;
  } else if (cache_.clientUnit >= 0 && cache_.clientUnit < GLStateCache::kUnits) {
    known = &cache_.texCoordArray[cache_.clientUnit];
  }
  bool* off = nullptr;
  if (known == &cache_.vertexArray) {
    off = &cache_.vertexArrayOff;
  } else if (known == &cache_.colorArray) {
    off = &cache_.colorArrayOff;
  } else if (known != nullptr) {
    off = &cache_.texCoordArrayOff[cache_.clientUnit];
  }
  if (caching() && known != nullptr) {
    if (!on && array == GL_TEXTURE_COORD_ARRAY) {
      cache_.texCoordPending &= ~(1u << cache_.clientUnit);  // the newer request wins
    }
    // Turning off waits for the next draw, where a surface that uses the array again costs nothing.
    const bool wasOff = *off;
    *off = !on && *known != 0;
    if (*off) {
      cache_.clientArraysPending = true;
    } else if (wasOff && cache_.clientArraysPending) {
      // The next surface turns its arrays on again: once none is left to turn off, its draw has
      // nothing to apply.
      cache_.clientArraysPending = anyClientArrayOff();
    }
    if (!on || *known == 1) {
      return;
    }
  }
  if (known != nullptr) {
    *known = on ? 1 : 0;
  }
  if (on) {
    qgl::glEnableClientState(array);
  } else {
    qgl::glDisableClientState(array);
  }
}

bool RenderOpenGL::anyClientArrayOff() const {
  static_assert(sizeof(cache_.texCoordArrayOff) == sizeof(uint64_t), "one flag per cached unit");
  uint64_t units = 0;
  std::memcpy(&units, cache_.texCoordArrayOff, sizeof(units));
  return cache_.vertexArrayOff || cache_.colorArrayOff || units != 0;
}

void RenderOpenGL::setProgramEnable(unsigned target, bool on) {
  if (!caching()) {
    if (on) {
      qgl::glEnable(target);
    } else {
      qgl::glDisable(target);
    }
    return;
  }
  (target == GL_VERTEX_PROGRAM_ARB ? cache_.vertexProgramWanted : cache_.fragmentProgramWanted) = on ? 1 : 0;
}

void RenderOpenGL::bindProgramGL(unsigned target, unsigned id) {
  int64_t& bound = target == GL_VERTEX_PROGRAM_ARB ? cache_.vertexProgramBound : cache_.fragmentProgramBound;
  if (caching() && bound == static_cast<int64_t>(id)) {
    return;
  }
  bound = id;
  qgl::glBindProgramARB(target, id);
}

void RenderOpenGL::envParamGL(unsigned target, int reg, const float vec[4]) {
  const int t = target == GL_VERTEX_PROGRAM_ARB ? 0 : 1;
  if (caching() && reg >= 0 && reg < GLStateCache::kEnvParams) {
    if (cache_.envKnown[t][reg] && std::memcmp(cache_.envParams[t][reg], vec, sizeof(float) * 4) == 0) {
      return;
    }
    std::memcpy(cache_.envParams[t][reg], vec, sizeof(float) * 4);
    cache_.envKnown[t][reg] = true;
  }
  qgl::glProgramEnvParameter4fvARB(target, static_cast<GLuint>(reg), vec);
}

void RenderOpenGL::forgetProgramBindings() {
  cache_.vertexProgramBound = -1;
  cache_.fragmentProgramBound = -1;
  cache_.glslProgram = -1;
}

void RenderOpenGL::useProgramGL(unsigned id, bool deferred) {
  if (!caching()) {
    qgl::glUseProgram(id);
    return;
  }
  cache_.glslWanted = id;
  if (deferred || cache_.glslProgram == static_cast<int64_t>(id)) {
    return;
  }
  cache_.glslProgram = id;
  qgl::glUseProgram(id);
}

void RenderOpenGL::flushDeferredState() {
  applyDeferredState(false);
}

bool RenderOpenGL::drawReadsGenericAttribs() const {
  // A GLSL program (or one GL has that the cache does not know) may read any attribute.
  const int64_t glsl = cache_.glslWanted >= 0 ? cache_.glslWanted : cache_.glslProgram;
  if (glsl != 0) {
    return true;
  }
  const int8_t vertexProgram =
      cache_.vertexProgramWanted >= 0 ? cache_.vertexProgramWanted : cache_.vertexProgramEnabled;
  if (vertexProgram == 0) {
    return false;  // fixed-function vertices never read attributes 8..12
  }
  return shader_.boundVertexProgramReadsAttribs();
}

void RenderOpenGL::applyAttribArrays(bool forDraw) {
  if (cache_.attribWanted == 0 && cache_.attribEnabled != 0) {
    for (int attrib = kAttribFirst; attrib <= kAttribLast; ++attrib) {
      qgl::glDisableVertexAttribArrayARB(attrib);
    }
    cache_.attribEnabled = 0;
  } else if (cache_.attribWanted == 1 && cache_.attribEnabled != 1) {
    for (int attrib = kAttribFirst; attrib <= kAttribLast; ++attrib) {
      qgl::glEnableVertexAttribArrayARB(attrib);
    }
    cache_.attribEnabled = 1;
  }
  // Pointers of arrays that are off matter to no draw, but GL keeps them: a full flush leaves them
  // as the calls did.
  const GLStateCache::AttribPointers& wanted = cache_.attribWantedPointers;
  if (wanted.buffer < 0 || cache_.attribGL == wanted || (forDraw && cache_.attribWanted != 1)) {
    return;
  }
  // The pointers read from the buffer bound when they are set: the surface's, then the device's own
  // binding comes back.
  const int64_t bound = boundArrayBuffer_;
  arrayBufferGL(static_cast<unsigned>(wanted.buffer));
  writeAttribPointers(wanted.size8, wanted.offset8);
  cache_.attribGL = wanted;
  arrayBufferGL(static_cast<unsigned>(bound));
}

void RenderOpenGL::applyClientArrays() {
  const auto off = [](bool& pending, int8_t& known, GLenum array) {
    if (pending) {
      pending = false;
      known = 0;
      qgl::glDisableClientState(array);
    }
  };
  off(cache_.vertexArrayOff, cache_.vertexArray, GL_VERTEX_ARRAY);
  off(cache_.colorArrayOff, cache_.colorArray, GL_COLOR_ARRAY);
  const int current = cache_.clientUnit;
  for (int unit = 0; unit < GLStateCache::kUnits; ++unit) {
    if (cache_.texCoordArrayOff[unit]) {
      clientUnitGL(unit);
      off(cache_.texCoordArrayOff[unit], cache_.texCoordArray[unit], GL_TEXTURE_COORD_ARRAY);
    }
  }
  if (current >= 0) {
    clientUnitGL(current);
  }
  cache_.clientArraysPending = false;
}

void RenderOpenGL::writeAttribPointers(int size8, int offset8) {
  qgl::glVertexAttribPointerARB(8, size8, GL_FLOAT, GL_FALSE, kStride, bufferOffset(offset8));
  qgl::glVertexAttribPointerARB(9, 2, GL_FLOAT, GL_FALSE, kStride, bufferOffset(offsetof(DrawVertex, spare)));
  qgl::glVertexAttribPointerARB(10, 3, GL_FLOAT, GL_FALSE, kStride,
                                bufferOffset(offsetof(DrawVertex, tangents)));
  qgl::glVertexAttribPointerARB(11, 3, GL_FLOAT, GL_FALSE, kStride,
                                bufferOffset(offsetof(DrawVertex, tangents) + 3 * sizeof(float)));
  qgl::glVertexAttribPointerARB(12, 3, GL_FLOAT, GL_FALSE, kStride,
                                bufferOffset(offsetof(DrawVertex, normal)));
}

void RenderOpenGL::applyDeferredState(bool forDraw) {
  if (!caching()) {
    return;
  }
  const bool programs =
      (cache_.vertexProgramWanted >= 0 && cache_.vertexProgramWanted != cache_.vertexProgramEnabled) ||
      (cache_.fragmentProgramWanted >= 0 && cache_.fragmentProgramWanted != cache_.fragmentProgramEnabled) ||
      (cache_.glslWanted >= 0 && cache_.glslWanted != cache_.glslProgram);
  const bool attribs =
      cache_.attribWanted >= 0 &&
      (cache_.attribWanted != cache_.attribEnabled ||
       (cache_.attribWantedPointers.buffer >= 0 && !(cache_.attribGL == cache_.attribWantedPointers)));
  if (forDraw && !programs && !attribs && cache_.dirtyUnits == 0 && !cache_.clientArraysPending &&
      cache_.texCoordPending == 0) {
    return;
  }
  // Without a current context GL ignores every call: nothing would be applied, nothing is known.
  // Asked only once there is something to send.
  int ready = -1;
  const auto contextReady = [&ready] {
    if (ready < 0) {
      ready = qgl::ctx.currentContext == nullptr || qgl::ctx.currentContext() != nullptr ? 1 : 0;
    }
    return ready == 1;
  };
  const auto apply = [](int8_t& enabled, int8_t wanted, GLenum cap) {
    if (wanted < 0 || enabled == wanted) {
      return;
    }
    enabled = wanted;
    if (wanted) {
      qgl::glEnable(cap);
    } else {
      qgl::glDisable(cap);
    }
  };
  if (programs && contextReady()) {
    if (qgl::ARB_vertex_program) {
      apply(cache_.vertexProgramEnabled, cache_.vertexProgramWanted, GL_VERTEX_PROGRAM_ARB);
    }
    if (qgl::ARB_fragment_program) {
      apply(cache_.fragmentProgramEnabled, cache_.fragmentProgramWanted, GL_FRAGMENT_PROGRAM_ARB);
    }
    if (cache_.glslWanted >= 0 && cache_.glslWanted != cache_.glslProgram && qgl::glUseProgram != nullptr) {
      cache_.glslProgram = cache_.glslWanted;
      qgl::glUseProgram(static_cast<GLuint>(cache_.glslWanted));
    }
  }
  if (attribs && (!forDraw || drawReadsGenericAttribs()) && isReady() &&
      qgl::glVertexAttribPointerARB != nullptr && qgl::glEnableVertexAttribArrayARB != nullptr &&
      qgl::glDisableVertexAttribArrayARB != nullptr && contextReady()) {
    applyAttribArrays(forDraw);
  }
  if (cache_.clientArraysPending && contextReady()) {
    applyClientArrays();
  }
  if (cache_.texCoordPending != 0 && qgl::glBindBufferARB != nullptr && texCoordPointersNeedGL(forDraw) &&
      contextReady()) {
    applyTexCoordPointers(forDraw);
  }
  if (!forDraw && cache_.arrayBufferReleased && contextReady()) {
    arrayBufferGL(0);
  }
  bool touched = false;
  uint32_t dirty = cache_.dirtyUnits;
  while (dirty != 0) {
    const int u = __builtin_ctz(dirty);
    GLStateCache::Unit& unit = cache_.units[u];
    const float* top = unit.stack[unit.depth];
    const bool matrix = !unit.loadedKnown || std::memcmp(unit.loaded, top, sizeof(unit.loaded)) != 0;
    bool enables = false;
    for (int k = 0; k < GLStateCache::kTargets; ++k) {
      enables = enables || (unit.wanted[k] >= 0 && unit.wanted[k] != unit.enabled[k]);
    }
    if (enables || matrix) {
      if (!contextReady()) {
        break;  // this unit and the rest stay pending
      }
      activeUnitGL(u);
      touched = true;
      for (int k = 0; k < GLStateCache::kTargets; ++k) {
        apply(unit.enabled[k], unit.wanted[k], kTextureTargets[k]);
      }
      if (matrix) {
        matrixModeGL(GL_TEXTURE);
        qgl::glLoadMatrixf(top);
        std::memcpy(unit.loaded, top, sizeof(unit.loaded));
        unit.loadedKnown = true;
      }
    }
    dirty &= dirty - 1;
  }
  cache_.dirtyUnits = dirty;
  if (touched) {
    activeUnitGL(currentTextureUnit_);
  }
  // Choosing the texture mode was skipped while a cached unit was current; a full flush leaves GL
  // in the device's mode.
  if ((touched || !forDraw) && matrixMode_ >= 0 && matrixMode_ <= 2 && contextReady()) {
    matrixModeGL(kMatrixModes[matrixMode_]);
  }
}

void RenderOpenGL::invalidateStateCache() {
  // What GL holds becomes unknown, but arrays the device turned off must still be off at its next draw.
  const bool vertexOff = cache_.vertexArrayOff;
  const bool colorOff = cache_.colorArrayOff;
  bool texCoordOff[GLStateCache::kUnits];
  std::copy(std::begin(cache_.texCoordArrayOff), std::end(cache_.texCoordArrayOff), texCoordOff);
  const uint32_t texCoordPending = cache_.texCoordPending;
  cache_.forgetAll(false);
  cache_.texCoordPending = texCoordPending;  // requests not yet sent, like the arrays turned off
  cache_.vertexArrayOff = vertexOff;
  cache_.colorArrayOff = colorOff;
  std::copy(std::begin(texCoordOff), std::end(texCoordOff), cache_.texCoordArrayOff);
  cache_.clientArraysPending = vertexOff || colorOff || std::find(std::begin(texCoordOff), std::end(texCoordOff), true) != std::end(texCoordOff);
}

void RenderOpenGL::setStateFiltering(bool on) {
  flushDeferredState();
  filterRedundant_ = on;
  // The software texture stacks start again from what GL holds: identity at depth 0.
  cache_.forgetAll(true);
}

RenderInterface* createRenderOpenGL() {
  return new RenderOpenGL();
}

RenderOpenGL::RenderOpenGL() : contexts_(16), shader_(this) {
  pixelFormat_ = PlatformGLAttributes{};
  colorBits_ = 0;
  filterRedundant_ = true;
  resetState();
}

RenderOpenGL::~RenderOpenGL() {
  shutdown();
  shader_.shutdown();
  contexts_.clear();
}

void RenderOpenGL::resetState() {
  std::memset(contextStack_, 0, sizeof(contextStack_));
  contextStackIndex_ = 0;
  currentTextureUnit_ = 0;
  highestTextureUnit_ = -1;
  attribArraysEnabled_ = false;
  boundArrayBuffer_ = 0;
  std::fill(std::begin(clipPlaneEnabled_), std::end(clipPlaneEnabled_), false);
  swapIntervalPending_ = -1;
  cache_.forgetAll(true);
  std::memcpy(modelView_[0], kIdentity, sizeof(kIdentity));
  std::memcpy(projection_[0], kIdentity, sizeof(kIdentity));
  modelViewIndex_ = 0;
  projectionIndex_ = 0;
  matrixMode_ = kMatrixModelView;
  std::fill(std::begin(scissor_), std::end(scissor_), -1);
  clipPlaneCount_ = 0;
}

int RenderOpenGL::blendFactorToGL(int code) {
  return code >= 1 && code <= 10 ? static_cast<int>(kBlendFactors[code]) : -1;
}
int RenderOpenGL::compareFuncToGL(int code) {
  return code >= 1 && code <= 8 ? static_cast<int>(kCompareFuncs[code]) : 0;
}
int RenderOpenGL::stencilOpToGL(int code) {
  return code >= 1 && code <= 8 ? static_cast<int>(kStencilOps[code]) : -1;
}
int RenderOpenGL::pixelFormatComponents(int pixelFormat) {
  return pixelFormat >= 0 && pixelFormat < kPixelFormatCount ? kComponents[pixelFormat] : 0;
}

RenderContextRecord* RenderOpenGL::context(int index) const {
  return index >= 0 && index < contexts_.num() ? contexts_[index] : nullptr;
}

// --- Start-up and contexts ---

bool RenderOpenGL::init(void* window, void* instance, int unused) {
  RenderInterface::init(window, instance, unused);
  createContext(window, instance, conVarInt("r_colordepth", 32));
  if (!qgl::ARB_fragment_program || !qgl::ARB_vertex_program || !shader_.init()) {
    shutdown();
    return false;
  }
  std::fill(std::begin(scissor_), std::end(scissor_), -1);
  swapIntervalPending_ = -1;
  std::fill(std::begin(clipPlaneEnabled_), std::end(clipPlaneEnabled_), false);
  if (!isReady()) {
    shutdown();
    return false;
  }
  return true;
}

void RenderOpenGL::shutdown() {
  contextStackIndex_ = 0;
  freeAllContexts();
}

bool RenderOpenGL::isReady() {
  return qgl::version_1_2 != 0;
}

const char* RenderOpenGL::getVersionName() {
  if (qgl::version_2_0) {
    return "OpenGL20";
  }
  if (qgl::version_1_5) {
    return "OpenGL15";
  }
  if (qgl::version_1_4) {
    return "OpenGL14";
  }
  if (qgl::version_1_3) {
    return "OpenGL13";
  }
  if (qgl::version_1_2) {
    return "OpenGL12";
  }
  return "OpenGL 1.0";
}

void RenderOpenGL::createContext(void* window, void* instance, int colorBits) {
  if (contexts_.num() > 0) {
    freeAllContexts();
  }
  // Flags of an earlier context must not outlive it: without a new one init fails for want of them.
  clearGlExtensions();
  if (window == nullptr) {
    return;
  }
  // What we ask for; the window was created with these attributes (platformGLSetAttributes) and the
  // record is replaced below by what the context actually got.
  const bool lowColor = colorBits == 16;
  colorBits_ = colorBits;
  pixelFormat_.redBits = pixelFormat_.greenBits = pixelFormat_.blueBits = lowColor ? 5 : 8;
  pixelFormat_.alphaBits = lowColor ? 2 : 8;
  pixelFormat_.depthBits = 24;
  pixelFormat_.stencilBits = 8;
  pixelFormat_.doubleBuffer = true;

  // A new main context starts from GL's defaults, texture matrices at identity.
  cache_.forgetAll(true);
  RenderContextRecord* main = allocSubContext(window);
  if (main == nullptr) {
    return;
  }
  PlatformGLAttributes actual;
  if (qgl::ctx.queryAttributes != nullptr && qgl::ctx.queryAttributes(&actual)) {
    pixelFormat_ = actual;
  }
  if (pixelFormat_.redBits <= 0) {
    // No RGBA framebuffer: no context (init then fails for want of extensions).
    freeAllContexts();
    return;
  }
  qgl::glEnable(GL_SCISSOR_TEST);
  qgl::glEnable(GL_STENCIL_TEST);
  if (g_renderContextHooks.contextCreated) {
    g_renderContextHooks.contextCreated(this);
  }
  initGlExtensions();
  GLint planes = 0;
  qgl::glGetIntegerv(GL_MAX_CLIP_PLANES, &planes);
  clipPlaneCount_ = std::clamp(static_cast<int>(planes), 0, kMaxClipPlanes);
}

void RenderOpenGL::freeAllContexts() {
  if (contexts_.num() > 0) {
    // The programs die with the share group: forget their ids now so a later init loads them again.
    shader_.unloadAll();
  }
  for (int i = contexts_.num() - 1; i >= 0; --i) {
    freeSubContext(contexts_[i]);
  }
  clipPlaneCount_ = 0;
}

RenderContextRecord* RenderOpenGL::allocSubContext(void* window) {
  RenderContextRecord* record = new RenderContextRecord{nullptr, window, window};
  const bool first = contexts_.num() == 0;
  void* share = first ? nullptr : contexts_[0]->glContext;
  record->glContext = qgl::ctx.createContext != nullptr ? qgl::ctx.createContext(window, share) : nullptr;
  if (record->glContext == nullptr) {
    // Creating a context changes what is current; the cache no longer knows.
    contextStack_[contextStackIndex_] = ContextStackEntry{};
    invalidateStateCache();
    delete record;
    if (first) {
      deviceErrorBox("SetPixelFormat in RenderOpenGL::allocSubContext failed", "OpenGL Init");
    } else {
      deviceErrorBox("wglShareLists in RenderOpenGL::allocSubContext failed", "OpenGL Init");
      makeMainContextCurrent();
    }
    return nullptr;
  }
  contexts_.append(record);
  makeCurrent(record);
  qgl::glEnable(GL_DEPTH_TEST);
  setColorMask(true, true, true, true);
  setDepthMask(true);
  return record;
}

void RenderOpenGL::freeSubContext(RenderContextRecord* context) {
  if (context == nullptr) {
    makeMainContextCurrent();
    return;
  }
  const int index = contexts_.findIndex(context);
  if (index < 0) {
    setError(kRenderErrorInvalidParam);
    return;
  }
  contexts_.removeIndex(index);
  ContextStackEntry& cache = contextStack_[contextStackIndex_];
  if (cache.glContext != nullptr || cache.surface != nullptr) {
    qgl::ctx.makeCurrent(nullptr, nullptr);
    cache = ContextStackEntry{};
  }
  qgl::ctx.deleteContext(context->glContext);
  invalidateStateCache();
  delete context;
  if (contexts_.num() > 0) {
    makeMainContextCurrent();
  }
}

void RenderOpenGL::pushContext() {
  if (contexts_.num() == 0) {
    return;
  }
  if (contextStackIndex_ >= kContextStackSize - 1) {
    setError(kRenderErrorInvalidCall);
    return;
  }
  ContextStackEntry& entry = contextStack_[contextStackIndex_];
  entry.window = contexts_[0]->window;
  entry.surface = qgl::ctx.currentWindow();
  entry.glContext = qgl::ctx.currentContext();
  contextStack_[contextStackIndex_ + 1] = entry;
  ++contextStackIndex_;
}

void RenderOpenGL::popContext() {
  if (contexts_.num() == 0) {
    return;
  }
  if (contextStackIndex_ <= 0) {
    setError(kRenderErrorInvalidCall);
    return;
  }
  ContextStackEntry& below = contextStack_[contextStackIndex_ - 1];
  ContextStackEntry& top = contextStack_[contextStackIndex_];
  if (!filterRedundant_ || below.surface != top.surface || below.glContext != top.glContext) {
    top = below;
    flushDeferredState();
    qgl::ctx.makeCurrent(below.glContext != nullptr ? below.surface : nullptr, below.glContext);
    invalidateStateCache();
  }
  top = ContextStackEntry{};
  --contextStackIndex_;
}

void RenderOpenGL::makeCurrent(RenderContextRecord* context) {
  ContextStackEntry& cache = contextStack_[contextStackIndex_];
  if (context == nullptr) {
    if (!filterRedundant_ || cache.glContext != nullptr || cache.surface != nullptr) {
      flushDeferredState();
      qgl::ctx.makeCurrent(nullptr, nullptr);
      cache = ContextStackEntry{};
      invalidateStateCache();
    }
    return;
  }
  if (!filterRedundant_ || cache.surface != context->surface || cache.glContext != context->glContext) {
    cache.surface = context->surface;
    cache.glContext = context->glContext;
    cache.window = context->window;
    flushDeferredState();
    qgl::ctx.makeCurrent(context->surface, context->glContext);
    invalidateStateCache();
  }
}

void RenderOpenGL::makeMainContextCurrent() {
  if (contexts_.num() > 0) {
    makeCurrent(contexts_[0]);
  }
}

void RenderOpenGL::swapBuffers() {
  if (contexts_.num() == 0 || contextStackIndex_ < 0) {
    return;
  }
  if (!pixelFormat_.doubleBuffer) {
    qgl::glFlush();
    return;
  }
  if (swapIntervalPending_ < 0 && conVarInt("r_swapInterval", 0) == 0 && qgl::wglSwapIntervalEXT != nullptr) {
    qgl::wglSwapIntervalEXT(0);
    swapIntervalPending_ = 0;
  }
  void* surface = contextStack_[contextStackIndex_].surface;
  qgl::ctx.swapWindow(surface != nullptr ? surface : contexts_[0]->surface);
}

// --- Matrices ---

int* RenderOpenGL::matrixIndex() {
  if (matrixMode_ == kMatrixModelView) {
    return &modelViewIndex_;
  }
  if (matrixMode_ == kMatrixProjection) {
    return &projectionIndex_;
  }
  return nullptr;
}

float* RenderOpenGL::matrixTop() {
  const int* index = matrixIndex();
  if (index == nullptr) {
    return nullptr;
  }
  return matrixMode_ == kMatrixModelView ? modelView_[*index] : projection_[*index];
}

static_assert(sizeof(Mat4::m) == sizeof(float) * 16, "Mat4 holds 16 floats, column-major, as GL takes them");

void RenderOpenGL::getModelViewMatrix(Mat4* out) {
  if (out != nullptr) {
    std::memcpy(out->m, modelView_[modelViewIndex_], sizeof(out->m));
  }
}

void RenderOpenGL::getProjectionMatrix(Mat4* out) {
  if (out != nullptr) {
    std::memcpy(out->m, projection_[projectionIndex_], sizeof(out->m));
  }
}

void RenderOpenGL::getModelViewProjectionMatrix(Mat4* out) {
  if (out == nullptr) {
    return;
  }
  Mat4 modelView;
  Mat4 projection;
  std::memcpy(modelView.m, modelView_[modelViewIndex_], sizeof(modelView.m));
  std::memcpy(projection.m, projection_[projectionIndex_], sizeof(projection.m));
  *out = Mat4::multiply(modelView, projection);
}

void RenderOpenGL::setMatrixMode(int mode) {
  matrixMode_ = mode;
  if (mode < 0 || mode > 2) {
    setError(kRenderErrorInvalidParam);
    return;
  }
  // The texture matrices of the cached units live in software until a draw needs them.
  if (mode == kMatrixTexture && cachedUnit() != nullptr) {
    return;
  }
  matrixModeGL(kMatrixModes[mode]);
}

void RenderOpenGL::loadMatrix(const Mat4* matrix) {
  if (matrix == nullptr) {
    setError(kRenderErrorInvalidParam);
    return;
  }
  if (float* top = matrixTop()) {
    std::memcpy(top, matrix->m, sizeof(matrix->m));
  } else if (matrixMode_ != kMatrixTexture) {
    setError(kRenderErrorInvalidParam);
  } else if (GLStateCache::Unit* unit = cachedUnit()) {
    std::memcpy(unit->stack[unit->depth], matrix->m, sizeof(matrix->m));
    cache_.markUnit(currentTextureUnit_);
    return;
  } else {
    ensureTextureMatrixMode();
  }
  qgl::glLoadMatrixf(matrix->m);
}

void RenderOpenGL::loadIdentity() {
  if (float* top = matrixTop()) {
    std::memcpy(top, kIdentity, sizeof(kIdentity));
  } else if (matrixMode_ != kMatrixTexture) {
    setError(kRenderErrorInvalidParam);
  } else if (GLStateCache::Unit* unit = cachedUnit()) {
    std::memcpy(unit->stack[unit->depth], kIdentity, sizeof(kIdentity));
    cache_.markUnit(currentTextureUnit_);
    return;
  } else {
    ensureTextureMatrixMode();
  }
  qgl::glLoadIdentity();
}

void RenderOpenGL::pushMatrix() {
  int* index = matrixIndex();
  if (index == nullptr) {
    if (matrixMode_ != kMatrixTexture) {
      setError(kRenderErrorInvalidParam);
      return;
    }
    if (GLStateCache::Unit* unit = cachedUnit()) {
      if (unit->depth >= GLStateCache::kMatrixDepth - 1) {
        setError(kRenderErrorInvalidCall);
        return;
      }
      std::memcpy(unit->stack[unit->depth + 1], unit->stack[unit->depth], sizeof(unit->stack[0]));
      ++unit->depth;
      return;  // the top is unchanged
    }
    ensureTextureMatrixMode();
    qgl::glPushMatrix();
    return;
  }
  if (*index >= kMatrixStackSize - 1) {
    setError(kRenderErrorInvalidCall);
    return;
  }
  float(*stack)[16] = matrixMode_ == kMatrixModelView ? modelView_ : projection_;
  qgl::glPushMatrix();
  std::memcpy(stack[*index + 1], stack[*index], sizeof(stack[0]));
  ++*index;
}

void RenderOpenGL::popMatrix() {
  int* index = matrixIndex();
  if (index == nullptr) {
    if (matrixMode_ != kMatrixTexture) {
      setError(kRenderErrorInvalidParam);
      return;
    }
    if (GLStateCache::Unit* unit = cachedUnit()) {
      if (unit->depth <= 0) {
        setError(kRenderErrorInvalidCall);
        return;
      }
      --unit->depth;
      cache_.markUnit(currentTextureUnit_);
      return;
    }
    ensureTextureMatrixMode();
    qgl::glPopMatrix();
    return;
  }
  if (*index <= 0) {
    setError(kRenderErrorInvalidCall);
    return;
  }
  qgl::glPopMatrix();
  --*index;
}

// --- Clip planes and render state ---

void RenderOpenGL::enableClipPlane(int index) {
  if (index < 0 || index >= clipPlaneCount_) {
    setError(kRenderErrorInvalidParam);
    return;
  }
  if (!filterRedundant_ || !clipPlaneEnabled_[index]) {
    clipPlaneEnabled_[index] = true;
    qgl::glEnable(GL_CLIP_PLANE0 + index);
  }
}

void RenderOpenGL::disableClipPlane(int index) {
  if (index < 0 || index >= clipPlaneCount_) {
    setError(kRenderErrorInvalidParam);
    return;
  }
  if (!filterRedundant_ || clipPlaneEnabled_[index]) {
    clipPlaneEnabled_[index] = false;
    qgl::glDisable(GL_CLIP_PLANE0 + index);
  }
}

void RenderOpenGL::setClipPlane(int index, const Plane* plane, const Mat3* axis, const Vec3* origin) {
  if (index < 0 || index >= clipPlaneCount_ || plane == nullptr || axis == nullptr || origin == nullptr) {
    setError(kRenderErrorInvalidParam);
    return;
  }
  const Vec3 normal(plane->a, plane->b, plane->c);
  const double equation[4] = {
      static_cast<double>(normal.dot(axis->rows[0])),
      static_cast<double>(normal.dot(axis->rows[1])),
      static_cast<double>(normal.dot(axis->rows[2])),
      static_cast<double>(normal.dot(*origin) - plane->d),
  };
  setMatrixMode(kMatrixModelView);
  if (modelViewIndex_ >= kMatrixStackSize - 1) {
    setError(kRenderErrorInvalidCall);
    return;
  }
  pushMatrix();
  Mat4 engineToGL;
  std::memcpy(engineToGL.m, kEngineToGL, sizeof(engineToGL.m));
  loadMatrix(&engineToGL);
  qgl::glClipPlane(GL_CLIP_PLANE0 + index, equation);
  popMatrix();
  enableClipPlane(index);
}

void RenderOpenGL::setScissor(int x, int y, int width, int height) {
  if (filterRedundant_ && scissor_[0] == x && scissor_[1] == y && scissor_[2] == width &&
      scissor_[3] == height) {
    return;
  }
  qgl::glScissor(x, y, width, height);
  scissor_[0] = x;
  scissor_[1] = y;
  scissor_[2] = width;
  scissor_[3] = height;
}

void RenderOpenGL::setPolygonMode(int mode) {
  if (mode < 0 || mode > 2) {
    setError(kRenderErrorInvalidParam);
    return;
  }
  if (caching() && cache_.polygonMode == mode) {
    return;
  }
  cache_.polygonMode = mode;
  qgl::glPolygonMode(GL_FRONT_AND_BACK, kPolygonModes[mode]);
}

void RenderOpenGL::setBlendFunc(int src, int dst) {
  if (src == kBlendOne && dst == kBlendZero) {
    capGL(GLStateCache::kCapBlend, false);
    return;
  }
  if (blendFactorToGL(src) < 0 || blendFactorToGL(dst) < 0) {
    setError(kRenderErrorInvalidParam);
    return;
  }
  capGL(GLStateCache::kCapBlend, true);
  if (caching() && cache_.blendSrc == src && cache_.blendDst == dst) {
    return;
  }
  cache_.blendSrc = src;
  cache_.blendDst = dst;
  qgl::glBlendFunc(kBlendFactors[src], kBlendFactors[dst]);
}

void RenderOpenGL::setDepthFunc(int compare) {
  if (compareFuncToGL(compare) == 0) {
    setError(kRenderErrorInvalidParam);
    return;
  }
  if (caching() && cache_.depthFunc == compare) {
    return;
  }
  cache_.depthFunc = compare;
  qgl::glDepthFunc(kCompareFuncs[compare]);
}

void RenderOpenGL::setAlphaFunc(int compare, float reference) {
  if (compare == 0 || compare == kCompareAlways) {
    capGL(GLStateCache::kCapAlphaTest, false);
    return;
  }
  if (compareFuncToGL(compare) == 0) {
    setError(kRenderErrorInvalidParam);
    return;
  }
  if (!(reference >= 0.0f)) {
    reference = 0.0f;  // NaN as well
  } else if (reference > 1.0f) {
    reference = 1.0f;
  }
  capGL(GLStateCache::kCapAlphaTest, true);
  if (caching() && cache_.alphaFunc == compare && cache_.alphaRef == reference) {
    return;
  }
  cache_.alphaFunc = compare;
  cache_.alphaRef = reference;
  qgl::glAlphaFunc(kCompareFuncs[compare], reference);
}

void RenderOpenGL::setStencilFunc(int compare, int reference, unsigned mask) {
  if (compareFuncToGL(compare) == 0) {
    setError(kRenderErrorInvalidParam);
    return;
  }
  qgl::glStencilFunc(kCompareFuncs[compare], reference, mask);
}

void RenderOpenGL::setStencilMask(unsigned mask) {
  qgl::glStencilMask(mask);
}

void RenderOpenGL::setStencilOp(int fail, int zfail, int zpass) {
  if (stencilOpToGL(fail) < 0 || stencilOpToGL(zfail) < 0 || stencilOpToGL(zpass) < 0) {
    setError(kRenderErrorInvalidParam);
    return;
  }
  qgl::glStencilOp(kStencilOps[fail], kStencilOps[zfail], kStencilOps[zpass]);
}

void RenderOpenGL::setStencilOpFace(int face, int fail, int zfail, int zpass) {
  if (stencilOpToGL(fail) < 0 || stencilOpToGL(zfail) < 0 || stencilOpToGL(zpass) < 0) {
    setError(kRenderErrorInvalidParam);
    return;
  }
  if (qgl::EXT_stencil_two_side && qgl::glActiveStencilFaceEXT != nullptr) {
    if (face == kStencilFaceFront || face == kStencilFaceBack) {
      qgl::glEnable(GL_STENCIL_TEST_TWO_SIDE_EXT);
      qgl::glActiveStencilFaceEXT(face == kStencilFaceFront ? GL_FRONT : GL_BACK);
    } else {
      qgl::glDisable(GL_STENCIL_TEST_TWO_SIDE_EXT);
    }
    qgl::glStencilOp(kStencilOps[fail], kStencilOps[zfail], kStencilOps[zpass]);
  } else if (qgl::ATI_separate_stencil && qgl::glStencilOpSeparateATI != nullptr) {
    if (face == kStencilFaceBoth) {
      qgl::glStencilOp(kStencilOps[fail], kStencilOps[zfail], kStencilOps[zpass]);
    } else {
      qgl::glStencilOpSeparateATI(face == kStencilFaceFront ? GL_FRONT : GL_BACK, kStencilOps[fail],
                                  kStencilOps[zfail], kStencilOps[zpass]);
    }
  }
}

void RenderOpenGL::setColorMask(bool red, bool green, bool blue, bool alpha) {
  const int bits = (red ? 1 : 0) | (green ? 2 : 0) | (blue ? 4 : 0) | (alpha ? 8 : 0);
  if (caching() && cache_.colorMask == bits) {
    return;
  }
  cache_.colorMask = bits;
  qgl::glColorMask(red ? GL_TRUE : GL_FALSE, green ? GL_TRUE : GL_FALSE, blue ? GL_TRUE : GL_FALSE,
                   alpha ? GL_TRUE : GL_FALSE);
}

void RenderOpenGL::setDepthMask(bool write) {
  if (caching() && cache_.depthMask == (write ? 1 : 0)) {
    return;
  }
  cache_.depthMask = write ? 1 : 0;
  qgl::glDepthMask(write ? GL_TRUE : GL_FALSE);
}

void RenderOpenGL::finish() {
  qgl::glFinish();
}

void RenderOpenGL::readPixels(void* dst, int x, int y, int width, int height, int pixelFormat) {
  if (dst == nullptr || pixelFormat <= 0 || pixelFormat >= kPixelFormatCount ||
      kInternalFormats[pixelFormat] == 0) {
    setError(kRenderErrorInvalidParam);
    return;
  }
  // The caller's buffer holds packed rows; GL's default of 4-byte rows would overrun it.
  qgl::glPixelStorei(GL_PACK_ALIGNMENT, 1);
  if (isDepthFormat(pixelFormat)) {
    qgl::glReadPixels(x, y, width, height, GL_DEPTH_COMPONENT, GL_FLOAT, dst);
  } else {
    qgl::glReadPixels(x, y, width, height, kInternalFormats[pixelFormat], GL_UNSIGNED_BYTE, dst);
  }
}

bool RenderOpenGL::readStencil(uint8_t* dst, int x, int y, int width, int height) {
  if (dst == nullptr || width <= 0 || height <= 0) {
    setError(kRenderErrorInvalidParam);
    return false;
  }
  // Without stencil bits GL refuses the read and leaves the buffer as it was.
  if (pixelFormat_.stencilBits <= 0) {
    return false;
  }
  qgl::glPixelStorei(GL_PACK_ALIGNMENT, 1);
  qgl::glReadPixels(x, y, width, height, GL_STENCIL_INDEX, GL_UNSIGNED_BYTE, dst);
  return true;
}

void RenderOpenGL::drawPixelsOverFrame(const uint8_t* rgb, int width, int height) {
  if (rgb == nullptr || width <= 0 || height <= 0) {
    setError(kRenderErrorInvalidParam);
    return;
  }
  // The enable bits and the colour-buffer state (draw buffer, colour mask, blending) come back with
  // the attribute pop; depth writes and the culled face are not part of those groups.
  GLboolean depthWrites = GL_TRUE;
  GLint cullFace = GL_BACK;
  qgl::glGetBooleanv(GL_DEPTH_WRITEMASK, &depthWrites);
  qgl::glGetIntegerv(GL_CULL_FACE_MODE, &cullFace);
  flushDeferredState();
  qgl::glPushAttrib(GL_ENABLE_BIT | GL_COLOR_BUFFER_BIT);

  // Orthographic 0..1 on all three axes; the raster position (0, 0, -0.5) lands on the viewport's
  // lower-left corner at mid depth.
  static const float kUnitOrtho[16] = {2, 0, 0, 0, 0, 2, 0, 0, 0, 0, -2, 0, -1, -1, -1, 1};
  qgl::glMatrixMode(GL_PROJECTION);
  qgl::glLoadMatrixf(kUnitOrtho);
  qgl::glMatrixMode(GL_MODELVIEW);
  qgl::glLoadIdentity();
  qgl::glDisable(GL_DEPTH_TEST);
  qgl::glDisable(GL_BLEND);
  qgl::glDisable(GL_TEXTURE_2D);
  // The last pass may leave its programs and tests on: a program would shade (and a vertex program
  // place) the rectangle, and the stencil or alpha test would drop parts of it.
  qgl::glDisable(GL_STENCIL_TEST);
  qgl::glDisable(GL_ALPHA_TEST);
  if (qgl::ARB_vertex_program) {
    qgl::glDisable(GL_VERTEX_PROGRAM_ARB);
  }
  if (qgl::ARB_fragment_program) {
    qgl::glDisable(GL_FRAGMENT_PROGRAM_ARB);
  }
  if (qgl::version_2_0 && qgl::glUseProgram != nullptr) {
    qgl::glUseProgram(0);
  }
  qgl::glDepthMask(GL_FALSE);
  // Culling touches polygons only; pixel rectangles pass it.
  qgl::glEnable(GL_CULL_FACE);
  qgl::glCullFace(GL_FRONT_AND_BACK);
  qgl::glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
  qgl::glRasterPos3f(0.0f, 0.0f, -0.5f);
  setUnpackState();
  qgl::glDrawPixels(width, height, GL_RGB, GL_UNSIGNED_BYTE, rgb);

  qgl::glPopAttrib();
  qgl::glDepthMask(depthWrites);
  qgl::glCullFace(static_cast<GLenum>(cullFace));
  // GL's matrices return to the mirrored tops, and GL to the device's matrix mode.
  qgl::glMatrixMode(GL_PROJECTION);
  qgl::glLoadMatrixf(projection_[projectionIndex_]);
  qgl::glMatrixMode(GL_MODELVIEW);
  qgl::glLoadMatrixf(modelView_[modelViewIndex_]);
  if (matrixMode_ >= 0 && matrixMode_ <= 2) {
    qgl::glMatrixMode(kMatrixModes[matrixMode_]);
  }
  // A debug path that sets GL directly: the cache starts over (texture matrices stay wanted).
  invalidateStateCache();
}

void RenderOpenGL::setCullMode(int mode) {
  if (mode == kCullNone) {
    capGL(GLStateCache::kCapCullFace, false);
    return;
  }
  capGL(GLStateCache::kCapCullFace, true);
  const int face = mode == kCullFront ? GL_FRONT : GL_BACK;
  if (caching() && cache_.cullFace == face) {
    return;
  }
  cache_.cullFace = face;
  qgl::glCullFace(static_cast<GLenum>(face));
}

void RenderOpenGL::setViewport(int x, int y, int width, int height) {
  qgl::glViewport(x, y, width, height);
}

void RenderOpenGL::getViewport(float out[4]) {
  if (out != nullptr) {
    qgl::glGetFloatv(GL_VIEWPORT, out);
  }
}

void RenderOpenGL::setPolygonOffset(float factor, float units, int mode) {
  if (factor == 0.0f && units == 0.0f) {
    capGL(GLStateCache::kCapOffsetFill, false);
    capGL(GLStateCache::kCapOffsetLine, false);
    return;
  }
  capGL(mode == kOffsetLine ? GLStateCache::kCapOffsetLine : GLStateCache::kCapOffsetFill, true);
  if (caching() && cache_.offsetKnown && cache_.offsetFactor == factor && cache_.offsetUnits == units) {
    return;
  }
  cache_.offsetKnown = true;
  cache_.offsetFactor = factor;
  cache_.offsetUnits = units;
  qgl::glPolygonOffset(factor, units);
}

void RenderOpenGL::clear(int flags) {
  GLbitfield mask = 0;
  if (flags & kClearColor) {
    mask |= GL_COLOR_BUFFER_BIT;
  }
  if (flags & kClearDepth) {
    mask |= GL_DEPTH_BUFFER_BIT;
  }
  if (flags & kClearStencil) {
    mask |= GL_STENCIL_BUFFER_BIT;
  }
  if (mask != 0) {
    qgl::glClear(mask);
  }
}

void RenderOpenGL::setClearStencil(int value) {
  qgl::glClearStencil(value);
}

void RenderOpenGL::setDepthRange(float zNear, float zFar) {
  // Every scissor reset sets the full range again, once per surface.
  if (caching() && cache_.depthRangeKnown && cache_.depthNear == zNear && cache_.depthFar == zFar) {
    return;
  }
  cache_.depthRangeKnown = true;
  cache_.depthNear = zNear;
  cache_.depthFar = zFar;
  qgl::glDepthRange(zNear, zFar);
}

void RenderOpenGL::setClearColor(float red, float green, float blue, float alpha) {
  qgl::glClearColor(red, green, blue, alpha);
}

void RenderOpenGL::getCurrentColor(float* red, float* green, float* blue, float* alpha) {
  float color[4] = {0, 0, 0, 0};
  qgl::glGetFloatv(GL_CURRENT_COLOR, color);
  float* out[4] = {red, green, blue, alpha};
  for (int i = 0; i < 4; ++i) {
    if (out[i] != nullptr) {
      *out[i] = color[i];
    }
  }
}

void RenderOpenGL::setLineWidth(float width) {
  qgl::glLineWidth(width * 0.001f);
}

bool RenderOpenGL::hasStencilFeature(int kind) {
  if (kind == kStencilFeatureWrap) {
    return qgl::EXT_stencil_wrap != 0;
  }
  if (kind == kStencilFeatureTwoSided) {
    if (conVarInt("r_showShadows", 0) != 0) {
      return qgl::EXT_stencil_two_side != 0;
    }
    return qgl::EXT_stencil_two_side != 0 || qgl::ATI_separate_stencil != 0;
  }
  return false;
}

// --- Vertex buffers ---

VertexBufferHandle* RenderOpenGL::createVertexBuffer() {
  if (qgl::glGenBuffersARB == nullptr) {
    setError(kRenderErrorInvalidCall);
    return nullptr;
  }
  VertexBufferHandle* handle = new VertexBufferHandle{};
  pushContext();
  makeMainContextCurrent();
  GLuint id = 0;
  qgl::glGenBuffersARB(1, &id);
  popContext();
  handle->bufferId = id;
  handle->positionOffset = 0;
  handle->colourOffset = 64;
  handle->texCoordOffset = 12;
  return handle;
}

void RenderOpenGL::freeVertexBuffer(VertexBufferHandle** handle) {
  if (handle == nullptr || *handle == nullptr) {
    return;
  }
  if (qgl::glDeleteBuffersARB != nullptr) {
    pushContext();
    makeMainContextCurrent();
    GLuint id = (*handle)->bufferId;
    qgl::glDeleteBuffersARB(1, &id);
    // GL drops every binding of a deleted buffer, and a later buffer may get its name again: the
    // cache must not take that one as bound already.
    if (cache_.arrayBuffer == static_cast<int64_t>(id)) {
      cache_.arrayBuffer = -1;
    }
    if (cache_.attribGL.buffer == static_cast<int64_t>(id)) {
      cache_.attribGL.buffer = -1;
    }
    if (cache_.attribWantedPointers.buffer == static_cast<int64_t>(id)) {
      cache_.attribWantedPointers.buffer = -1;
      if (cache_.attribWanted == 1) {
        cache_.attribWanted = 0;  // nothing left to read from
      }
    }
    if (boundArrayBuffer_ == id) {
      boundArrayBuffer_ = 0;
    }
    for (int unit = 0; unit < GLStateCache::kUnits; ++unit) {
      if ((cache_.texCoordPending & (1u << unit)) != 0 &&
          cache_.texCoordWanted[unit].buffer == static_cast<int64_t>(id)) {
        cache_.texCoordPending &= ~(1u << unit);  // nothing left to read from
        if (cache_.texCoordArray[unit] != 0) {
          cache_.texCoordArrayOff[unit] = true;
          cache_.clientArraysPending = true;
        }
      }
    }
    popContext();
  }
  delete *handle;
  *handle = nullptr;
}

void RenderOpenGL::uploadVertexBuffer(VertexBufferHandle* handle, const void* data, int bytes,
                                      bool isStatic) {
  if (handle == nullptr || bytes < 0 || qgl::glBufferDataARB == nullptr) {
    setError(kRenderErrorInvalidParam);
    return;
  }
  arrayBufferGL(handle->bufferId);
  qgl::glBufferDataARB(GL_ARRAY_BUFFER_ARB, bytes, data, isStatic ? GL_STATIC_DRAW_ARB : GL_STREAM_DRAW_ARB);
  releaseArrayBuffer();
}

void RenderOpenGL::updateVertexBuffer(VertexBufferHandle* handle, const void* data, int bytes) {
  if (handle == nullptr || data == nullptr || bytes < 0 || qgl::glBufferSubDataARB == nullptr) {
    setError(kRenderErrorInvalidParam);
    return;
  }
  arrayBufferGL(handle->bufferId);
  qgl::glBufferSubDataARB(GL_ARRAY_BUFFER_ARB, 0, bytes, data);
  releaseArrayBuffer();
}

bool RenderOpenGL::bindVertexBuffer(VertexBufferHandle* handle, int flags) {
  if (!qgl::ARB_vertex_buffer_object || qgl::glBindBufferARB == nullptr || handle == nullptr) {
    return false;
  }
  arrayBufferGL(handle->bufferId);
  if (flags & kVertexArrayPosition) {
    clientStateGL(GL_VERTEX_ARRAY, true);
    qgl::glVertexPointer(3, GL_FLOAT, kStride, bufferOffset(handle->positionOffset));
  }
  if (flags & kVertexArrayPosition4) {
    clientStateGL(GL_VERTEX_ARRAY, true);
    qgl::glVertexPointer(4, GL_FLOAT, 0, bufferOffset(handle->positionOffset));
  }
  if (flags & (kVertexArrayTexCoord | kVertexArraySpareTexCoord | kVertexArrayPositionAsTexCoord)) {
    deferTexCoordPointer(handle, flags);
  }
  if (flags & kVertexArrayColor) {
    clientStateGL(GL_COLOR_ARRAY, true);
    qgl::glColorPointer(4, GL_UNSIGNED_BYTE, kStride, bufferOffset(handle->colourOffset));
  }
  // Some drivers (Mesa) keep the generic attributes apart from the fixed-function arrays: a program
  // reading vertex.attrib[8..12] sees nothing unless they are bound too. The packed xyzw buffers of
  // shadow volumes have no such fields, so their draws run with the attributes off.
  if (flags & kVertexArrayPosition4) {
    disableVertexAttribArrays();
  } else {
    setVertexAttribPointers(handle, flags);
  }
  return true;
}

void RenderOpenGL::deferTexCoordPointer(VertexBufferHandle* handle, int flags) {
  const int unit = cache_.clientUnit;
  if (!caching() || unit < 0 || unit >= GLStateCache::kUnits || qgl::glClientActiveTextureARB == nullptr ||
      qgl::glActiveTextureARB == nullptr) {
    setTexCoordPointer(handle, flags);
    return;
  }
  // Untextured surfaces drawn with fixed-function fragments never look at their coordinates, and
  // every pointer costs the driver a vertex-array revalidation: the draw decides.
  if (cache_.texCoordArrayOff[unit]) {
    cache_.texCoordArrayOff[unit] = false;
    cache_.clientArraysPending = anyClientArrayOff();
  }
  GLStateCache::TexCoordPointer& wanted = cache_.texCoordWanted[unit];
  wanted.buffer = handle->bufferId;
  if (flags & kVertexArrayPositionAsTexCoord) {
    wanted.size = 3;
    wanted.offset = handle->positionOffset;
  } else if (flags & kVertexArrayTexCoord) {
    wanted.size = 2;
    wanted.offset = handle->texCoordOffset;
  } else {
    wanted.size = 2;
    wanted.offset = static_cast<int>(offsetof(DrawVertex, spare));
  }
  cache_.texCoordPending |= 1u << unit;
}

bool RenderOpenGL::drawReadsTexCoords(int unit) const {
  // Programs other than a vertex program that only hands its coordinates on may read any of them
  // (unknown state counts as reading).
  const int64_t glsl = cache_.glslWanted >= 0 ? cache_.glslWanted : cache_.glslProgram;
  const int8_t fragmentProgram =
      cache_.fragmentProgramWanted >= 0 ? cache_.fragmentProgramWanted : cache_.fragmentProgramEnabled;
  const int8_t vertexProgram =
      cache_.vertexProgramWanted >= 0 ? cache_.vertexProgramWanted : cache_.vertexProgramEnabled;
  if (glsl != 0 || fragmentProgram != 0 || (vertexProgram != 0 && !shader_.boundVertexProgramPassesTexCoords())) {
    return true;
  }
  // Fixed-function fragments read a unit's coordinates only for a texture enabled on it.
  const GLStateCache::Unit& u = cache_.units[unit];
  for (int k = 0; k < GLStateCache::kTargets; ++k) {
    if ((u.wanted[k] >= 0 ? u.wanted[k] : u.enabled[k]) != 0) {
      return true;
    }
  }
  return false;
}

bool RenderOpenGL::texCoordPointersNeedGL(bool forDraw) const {
  if (!forDraw) {
    return true;
  }
  // A draw that reads no deferred unit, with those arrays already off, sends nothing.
  for (uint32_t pending = cache_.texCoordPending; pending != 0; pending &= pending - 1) {
    const int unit = __builtin_ctz(pending);
    if (cache_.texCoordArray[unit] != 0 || drawReadsTexCoords(unit)) {
      return true;
    }
  }
  return false;
}

void RenderOpenGL::applyTexCoordPointers(bool forDraw) {
  const int current = cache_.clientUnit;
  uint32_t pending = cache_.texCoordPending;
  bool moved = false;
  while (pending != 0) {
    const int unit = __builtin_ctz(pending);
    pending &= pending - 1;
    int8_t& known = cache_.texCoordArray[unit];
    if (forDraw && !drawReadsTexCoords(unit)) {
      // Off for this draw (an older pointer may point anywhere); the request stays for a later one.
      if (known != 0) {
        clientUnitGL(unit);
        moved = true;
        qgl::glDisableClientState(GL_TEXTURE_COORD_ARRAY);
        known = 0;
      }
      continue;
    }
    clientUnitGL(unit);
    moved = true;
    if (known != 1) {
      qgl::glEnableClientState(GL_TEXTURE_COORD_ARRAY);
      known = 1;
    }
    // The pointer reads from the buffer bound when it is set; GL's binding comes back.
    const GLStateCache::TexCoordPointer& wanted = cache_.texCoordWanted[unit];
    const int64_t bound = cache_.arrayBuffer;
    if (bound != wanted.buffer) {
      qgl::glBindBufferARB(GL_ARRAY_BUFFER_ARB, static_cast<GLuint>(wanted.buffer));
    }
    qgl::glTexCoordPointer(wanted.size, GL_FLOAT, kStride, bufferOffset(wanted.offset));
    if (bound != wanted.buffer) {
      if (bound >= 0) {
        qgl::glBindBufferARB(GL_ARRAY_BUFFER_ARB, static_cast<GLuint>(bound));
      } else {
        cache_.arrayBuffer = wanted.buffer;
      }
    }
    cache_.texCoordPending &= ~(1u << unit);
  }
  if (moved && current >= 0) {
    clientUnitGL(current);
  }
}

bool RenderOpenGL::setTexCoordPointer(VertexBufferHandle* handle, int flags) {
  if (handle == nullptr) {
    clientStateGL(GL_TEXTURE_COORD_ARRAY, false);
    return false;
  }
  if (cache_.clientUnit >= 0 && cache_.clientUnit < GLStateCache::kUnits) {
    cache_.texCoordPending &= ~(1u << cache_.clientUnit);  // set now, over any deferred one
  }
  clientStateGL(GL_TEXTURE_COORD_ARRAY, true);
  if (flags & kVertexArrayPositionAsTexCoord) {
    qgl::glTexCoordPointer(3, GL_FLOAT, kStride, bufferOffset(handle->positionOffset));
  } else if (flags & kVertexArrayTexCoord) {
    qgl::glTexCoordPointer(2, GL_FLOAT, kStride, bufferOffset(handle->texCoordOffset));
  } else if (flags & kVertexArraySpareTexCoord) {
    qgl::glTexCoordPointer(2, GL_FLOAT, kStride, bufferOffset(offsetof(DrawVertex, spare)));
  }
  return true;
}

void RenderOpenGL::setVertexAttribPointers(VertexBufferHandle* handle, int flags) {
  if (!isReady() || qgl::glVertexAttribPointerARB == nullptr) {
    return;
  }
  if (handle == nullptr) {
    disableVertexAttribArrays();
    return;
  }
  const bool cube = (flags & kVertexArrayPositionAsTexCoord) != 0;
  const int size8 = cube ? 3 : 2;
  const int offset8 = cube ? handle->positionOffset : handle->texCoordOffset;
  attribArraysEnabled_ = true;
  if (caching()) {
    // Applied by the first draw whose vertex program reads them.
    cache_.attribWanted = 1;
    cache_.attribWantedPointers = GLStateCache::AttribPointers{handle->bufferId, size8, offset8};
    return;
  }
  for (int attrib = kAttribFirst; attrib <= kAttribLast; ++attrib) {
    qgl::glEnableVertexAttribArrayARB(attrib);
  }
  // The pointers read from the handle's buffer whatever is bound; the device's binding comes back.
  const unsigned bound = boundArrayBuffer_;
  if (bound != handle->bufferId) {
    arrayBufferGL(handle->bufferId);
  }
  writeAttribPointers(size8, offset8);
  if (bound != handle->bufferId) {
    arrayBufferGL(bound);
  }
}

void RenderOpenGL::disableVertexAttribArrays() {
  if (!isReady() || qgl::glDisableVertexAttribArrayARB == nullptr) {
    return;
  }
  attribArraysEnabled_ = false;
  if (caching()) {
    cache_.attribWanted = 0;
    return;
  }
  for (int attrib = kAttribFirst; attrib <= kAttribLast; ++attrib) {
    qgl::glDisableVertexAttribArrayARB(attrib);
  }
}

void RenderOpenGL::unbindVertexBuffer() {
  disableVertexAttribArrays();
  releaseArrayBuffer();
  // Arrays enabled before any unit was selected sit on the current unit: include it.
  const int last = std::max(highestTextureUnit_, currentTextureUnit_);
  if (caching() && last < GLStateCache::kUnits && qgl::glActiveTextureARB != nullptr &&
      qgl::glClientActiveTextureARB != nullptr) {
    // What the loops below leave, without stepping GL through the units: turning an array off only
    // marks it, and the units end on the last one, as the loops end.
    cache_.vertexArrayOff = cache_.vertexArray != 0;
    cache_.colorArrayOff = cache_.colorArray != 0;
    bool off = cache_.vertexArrayOff || cache_.colorArrayOff;
    for (int unit = 0; unit <= last; ++unit) {
      if (cache_.texCoordArray[unit] != 0) {
        cache_.texCoordArrayOff[unit] = true;
        off = true;
      }
    }
    // Beyond the last unit only arrays that are on; a deferred pointer counts as on, as the loops
    // below would have found it applied.
    for (int unit = last + 1; unit < GLStateCache::kUnits; ++unit) {
      const int8_t known = cache_.texCoordArray[unit];
      if (known == 1 || (known < 0 && (cache_.texCoordPending & (1u << unit)) != 0)) {
        cache_.texCoordArrayOff[unit] = true;
        off = true;
      }
    }
    cache_.texCoordPending = 0;  // every deferred pointer is turned off again
    cache_.clientArraysPending = cache_.clientArraysPending || off;
    currentTextureUnit_ = last;
    highestTextureUnit_ = last;
    activeUnitGL(last);
    clientUnitGL(last);
    return;
  }
  for (int unit = 0; unit <= last; ++unit) {
    selectTextureUnit(unit, 0);
    clientStateGL(GL_VERTEX_ARRAY, false);
    clientStateGL(GL_TEXTURE_COORD_ARRAY, false);
    clientStateGL(GL_COLOR_ARRAY, false);
  }
  // A buffer bound while a higher unit was current enabled its texture coordinates there, and the
  // units may have been reset since: left on, that array would keep pointing later draws at this
  // buffer through their own indexes, reading past its end.
  bool strays = false;
  for (int unit = last + 1; unit < GLStateCache::kUnits; ++unit) {
    if (cache_.texCoordArray[unit] == 1) {
      clientUnitGL(unit);
      clientStateGL(GL_TEXTURE_COORD_ARRAY, false);
      strays = true;
    }
  }
  if (strays) {
    clientUnitGL(currentTextureUnit_);
  }
}

void RenderOpenGL::drawTriangles(const unsigned* indices, int count) {
  if (indices == nullptr || count <= 0) {
    return;
  }
  applyDeferredState(true);
  qgl::glDrawElements(GL_TRIANGLES, count, GL_UNSIGNED_INT, indices);
}

// --- Texture units and textures ---

void RenderOpenGL::selectTextureUnit(int unit, int ignored) {
  if (unit < 0 || unit >= kMaxTextureUnits) {
    setError(kRenderErrorInvalidParam);
    return;
  }
  currentTextureUnit_ = unit;
  highestTextureUnit_ = std::max(highestTextureUnit_, unit);
  activeUnitGL(unit);
  clientUnitGL(unit);
}

void RenderOpenGL::resetTextureUnits() {
  // A texture bound before any unit was selected (an upload) sits on the current unit: include it.
  const int last = std::max(highestTextureUnit_, currentTextureUnit_);
  if (caching() && last < GLStateCache::kUnits && qgl::glActiveTextureARB != nullptr &&
      qgl::glClientActiveTextureARB != nullptr) {
    // What the loop below leaves, without stepping GL through the units: every unit's enables and
    // texture matrix are deferred, and the loop ends on unit 0 in texture matrix mode.
    for (int unit = 0; unit <= last; ++unit) {
      // A unit already off with an identity matrix stays as it is: clean if GL has it so.
      GLStateCache::Unit& cached = cache_.units[unit];
      float* top = cached.stack[cached.depth];
      if (cached.wanted[kTextureType2D] != 0 || cached.wanted[kTextureTypeCube] != 0 ||
          std::memcmp(top, kIdentity, sizeof(kIdentity)) != 0) {
        cached.wanted[kTextureType2D] = 0;
        cached.wanted[kTextureTypeCube] = 0;
        std::memcpy(top, kIdentity, sizeof(kIdentity));
        cache_.markUnit(unit);
      }
    }
    matrixMode_ = kMatrixTexture;
    highestTextureUnit_ = 0;  // the loop's closing selection of unit 0
    currentTextureUnit_ = 0;
    activeUnitGL(0);
    clientUnitGL(0);
    return;
  }
  for (int unit = 0; unit <= last; ++unit) {
    selectTextureUnit(unit, 0);
    if (GLStateCache::Unit* cached = cachedUnit()) {
      // Deferred to the next draw, where a unit bound again in between costs nothing.
      cached->wanted[kTextureType2D] = 0;
      cached->wanted[kTextureTypeCube] = 0;
      cache_.markUnit(unit);
    } else {
      qgl::glDisable(GL_TEXTURE_2D);
      qgl::glDisable(GL_TEXTURE_CUBE_MAP);
    }
    setMatrixMode(kMatrixTexture);
    loadIdentity();
  }
  highestTextureUnit_ = -1;
  selectTextureUnit(0, 0);
}

unsigned RenderOpenGL::createTexture() {
  pushContext();
  makeMainContextCurrent();
  GLuint name = 0;
  qgl::glGenTextures(1, &name);
  popContext();
  return name;
}

void RenderOpenGL::deleteTexture(unsigned name) {
  if (name == 0) {
    return;
  }
  pushContext();
  makeMainContextCurrent();
  GLuint id = name;
  qgl::glDeleteTextures(1, &id);
  // GL rebinds 0 wherever the deleted name was bound.
  for (GLStateCache::Unit& unit : cache_.units) {
    for (int64_t& bound : unit.bound) {
      if (bound == static_cast<int64_t>(name)) {
        bound = 0;
      }
    }
  }
  popContext();
}

bool RenderOpenGL::validTextureType(int type) {
  if (type < kTextureType2D || type > kTextureTypeCube) {
    setError(kRenderErrorInvalidParam);
    return false;
  }
  return true;
}

unsigned RenderOpenGL::textureTarget(int type, int face) {
  if (type == kTextureTypeCube) {
    return GL_TEXTURE_CUBE_MAP_POSITIVE_X + face;
  }
  return kTextureTargets[type];
}

void RenderOpenGL::bindTexture(int type, unsigned name) {
  if (!validTextureType(type)) {
    return;
  }
  if (GLStateCache::Unit* unit = cachedUnit()) {
    for (int other = 0; other < 3; ++other) {
      unit->wanted[other] = other == type ? 1 : 0;
    }
    cache_.markUnit(currentTextureUnit_);
    if (unit->bound[type] != static_cast<int64_t>(name)) {
      unit->bound[type] = name;
      qgl::glBindTexture(kTextureTargets[type], name);
    }
    return;
  }
  for (int other = 0; other < 3; ++other) {
    if (other != type) {
      qgl::glDisable(kTextureTargets[other]);
    }
  }
  qgl::glEnable(kTextureTargets[type]);
  qgl::glBindTexture(kTextureTargets[type], name);
}

void RenderOpenGL::getTexImage(int type, int pixelFormat, void* dst) {
  if (!validTextureType(type) || dst == nullptr || getExternalFormat(pixelFormat) == 0) {
    setError(kRenderErrorInvalidParam);
    return;
  }
  // Packed rows, as readPixels; a cube reads its first face.
  qgl::glPixelStorei(GL_PACK_ALIGNMENT, 1);
  qgl::glGetTexImage(textureTarget(type, 0), 0, getExternalFormat(pixelFormat), GL_UNSIGNED_BYTE, dst);
}

void RenderOpenGL::setUnpackState() {
  qgl::glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  qgl::glPixelStorei(GL_UNPACK_SKIP_ROWS, 0);
  qgl::glPixelStorei(GL_UNPACK_SKIP_PIXELS, 0);
  qgl::glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
  qgl::glPixelStorei(GL_UNPACK_SWAP_BYTES, 0);
}

void RenderOpenGL::uploadTexImage(const ImageInfo* info, int level, const void* pixels, int face) {
  if (info == nullptr || !validTextureType(info->textureType) || info->pixelFormat < 0 ||
      info->pixelFormat >= kPixelFormatCount ||
      (info->textureType == kTextureTypeCube && (face < 0 || face > 5))) {
    setError(kRenderErrorInvalidParam);
    return;
  }
  setUnpackState();
  const GLenum target = textureTarget(info->textureType, face);
  const GLint internal = static_cast<GLint>(kInternalFormats[info->pixelFormat]);
  const GLenum external = getExternalFormat(info->pixelFormat);
  if (info->textureType == kTextureType3D) {
    if (qgl::glTexImage3D != nullptr) {
      qgl::glTexImage3D(target, level, internal, info->width, info->height, std::max(info->depth, 1), 0,
                        external, GL_UNSIGNED_BYTE, pixels);
    }
    return;
  }
  qgl::glTexImage2D(target, level, internal, info->width, info->height, 0, external, GL_UNSIGNED_BYTE,
                    pixels);
}

void RenderOpenGL::uploadTexSubImage(const ImageInfo* info, const void* pixels) {
  if (info == nullptr || !validTextureType(info->textureType) || pixels == nullptr) {
    setError(kRenderErrorInvalidParam);
    return;
  }
  setUnpackState();
  const GLenum external = getExternalFormat(info->pixelFormat);
  if (info->textureType == kTextureType3D) {
    if (qgl::glTexSubImage3D != nullptr) {
      qgl::glTexSubImage3D(GL_TEXTURE_3D, 0, 0, 0, 0, info->width, info->height, std::max(info->depth, 1),
                           external, GL_UNSIGNED_BYTE, pixels);
    }
    return;
  }
  qgl::glTexSubImage2D(textureTarget(info->textureType, 0), 0, 0, 0, info->width, info->height, external,
                       GL_UNSIGNED_BYTE, pixels);
}

void RenderOpenGL::copyTexSubImage(int x, int y, int xOffset, int yOffset, int width, int height) {
  qgl::glCopyTexSubImage2D(GL_TEXTURE_2D, 0, xOffset, yOffset, x, y, width, height);
}

void RenderOpenGL::uploadCompressedTexImage(const ImageInfo* info, int level, const void* data, int bytes,
                                            int face) {
  if (info == nullptr || data == nullptr || bytes <= 0 || info->pixelFormat < 0 ||
      info->pixelFormat >= kPixelFormatCount ||
      (info->textureType != kTextureType2D && info->textureType != kTextureTypeCube) ||
      (info->textureType == kTextureTypeCube && (face < 0 || face > 5))) {
    setError(kRenderErrorInvalidParam);
    return;
  }
  if (qgl::glCompressedTexImage2DARB == nullptr) {
    setError(kRenderErrorInvalidCall);
    return;
  }
  setUnpackState();
  qgl::glCompressedTexImage2DARB(textureTarget(info->textureType, face), level,
                                 kInternalFormats[info->pixelFormat], info->width, info->height, 0, bytes,
                                 data);
}

void RenderOpenGL::setTextureLodBias(float bias) {
  if (GLStateCache::Unit* unit = cachedUnit()) {
    if (unit->lodBiasKnown && unit->lodBias == bias) {
      return;
    }
    unit->lodBiasKnown = true;
    unit->lodBias = bias;
  }
  qgl::glTexEnvf(GL_TEXTURE_FILTER_CONTROL_EXT, GL_TEXTURE_LOD_BIAS_EXT, bias);
}

void RenderOpenGL::setTextureWrap(int type, int wrap) {
  if (!validTextureType(type)) {
    return;
  }
  if (wrap < 0 || wrap > 2) {
    setError(kRenderErrorInvalidParam);
    return;
  }
  const GLenum target = kTextureTargets[type];
  qgl::glTexParameteri(target, GL_TEXTURE_WRAP_S, kWrapModes[wrap]);
  qgl::glTexParameteri(target, GL_TEXTURE_WRAP_T, kWrapModes[wrap]);
  qgl::glTexParameteri(target, GL_TEXTURE_WRAP_R, kWrapModes[wrap]);
}

void RenderOpenGL::setTextureFilter(int type, int quality, bool mipmapped) {
  if (!validTextureType(type)) {
    return;
  }
  if (quality < kFilterNearest) {
    quality = kFilterNearest;
  }
  if (quality > kFilterLinear) {
    setError(kRenderErrorInvalidParam);
    return;
  }
  static const GLint kMinMipmapped[4] = {0, GL_NEAREST_MIPMAP_LINEAR, GL_LINEAR_MIPMAP_LINEAR, GL_LINEAR};
  static const GLint kMinPlain[4] = {0, GL_NEAREST, GL_LINEAR, GL_LINEAR};
  static const GLint kMag[4] = {0, GL_NEAREST, GL_LINEAR, GL_LINEAR};
  const GLenum target = kTextureTargets[type];
  qgl::glTexParameteri(target, GL_TEXTURE_MIN_FILTER,
                       mipmapped ? kMinMipmapped[quality] : kMinPlain[quality]);
  qgl::glTexParameteri(target, GL_TEXTURE_MAG_FILTER, kMag[quality]);
}

unsigned RenderOpenGL::getInternalFormat(int pixelFormat) {
  return pixelFormat >= 0 && pixelFormat < kPixelFormatCount ? kInternalFormats[pixelFormat] : 0;
}

unsigned RenderOpenGL::getExternalFormat(int pixelFormat) {
  if (pixelFormat < 0 || pixelFormat >= kPixelFormatCount) {
    return 0;
  }
  if (isDepthFormat(pixelFormat)) {
    return GL_DEPTH_COMPONENT;
  }
  switch (kComponents[pixelFormat]) {
    case 1:
      return GL_LUMINANCE;
    case 2:
      return GL_LUMINANCE_ALPHA;
    case 3:
      return GL_RGB;
    case 4:
      return GL_RGBA;
    default:
      return 0;
  }
}

// --- The engine's device manager ---

namespace {

bool createDevice() {
  RenderInterface* device = createRenderOpenGL();
  void* window = nullptr;
  void* instance = nullptr;
  if (g_commonSystem != nullptr) {
    window = platformWindowNative(static_cast<PlatformWindow*>(g_commonSystem->windowHandle()));
    instance = g_commonSystem->instanceHandle();
  }
  if (!device->init(window, instance, 0)) {
    char driver[64];
    std::snprintf(driver, sizeof(driver), "%s", device->getVersionName());
    delete device;
    g_renderInterface = nullptr;
    if (g_cmdSystem != nullptr) {
      g_cmdSystem->error(
          1,
          "Failed to locate a hardware accelerated configuration\n of OpenGL 1.2.1 or better.\nDriver = %s",
          driver);
    }
    return false;
  }
  g_renderInterface = device;
  cmdPrintf("GLDriver = %s\n", device->getVersionName());
  return true;
}

void destroyDevice() {
  delete g_renderInterface;
  g_renderInterface = nullptr;
}

struct RegisterDevice {
  RegisterDevice() {
    g_managerFactories[kManagerRenderDevice] = ManagerFactory{createDevice, nullptr, destroyDevice};
  }
};
RegisterDevice s_registerDevice;

}  // namespace
