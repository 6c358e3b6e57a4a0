// OpenGL version, extension flags and entry points: one list of names, one loading pattern. Every
// entry point is fetched only when its extension (or version) is present: on some drivers the lookup
// returns a non-null stub for any name, so a pointer alone proves nothing.
#include "render/device/glextensions.h"

#include <cstdio>
#include <cstring>

#include "platform/gl.h"

namespace qgl {

ContextHooks platformContextHooks() {
  ContextHooks hooks;
  hooks.createContext = platformGLCreateContext;
  hooks.deleteContext = platformGLDeleteContext;
  hooks.makeCurrent = platformGLMakeCurrent;
  hooks.currentContext = platformGLCurrentContext;
  hooks.currentWindow = platformGLCurrentWindow;
  hooks.queryAttributes = platformGLQueryAttributes;
  hooks.swapWindow = platformGLSwapWindow;
  hooks.setSwapInterval = platformGLSetSwapInterval;
  hooks.swapIntervalSupported = platformGLSwapIntervalSupported;
  hooks.getProcAddress = platformGLGetProcAddress;
  return hooks;
}

ContextHooks ctx = platformContextHooks();

namespace {

struct ExtensionEntry {
  const char* name;
  int* flag;
};

#define QGL_ENTRY(name) {"GL_" #name, &qgl::name},
const ExtensionEntry kGlExtensions[] = {QGL_GL_EXTENSIONS(QGL_ENTRY)};
#undef QGL_ENTRY

#define QGL_WGL_ENTRY(name) {"WGL_" #name, &qgl::wgl_##name},
const ExtensionEntry kWglExtensions[] = {QGL_WGL_EXTENSIONS(QGL_WGL_ENTRY)};
#undef QGL_WGL_ENTRY

constexpr int kGlExtensionCount = static_cast<int>(sizeof(kGlExtensions) / sizeof(kGlExtensions[0]));
static_assert(kGlExtensionCount == 101, "the extension list has 101 names");

}  // namespace

int glExtensionCount() {
  return kGlExtensionCount;
}

const char* glExtensionName(int index) {
  return index >= 0 && index < kGlExtensionCount ? kGlExtensions[index].name : nullptr;
}

int* glExtensionFlag(int index) {
  return index >= 0 && index < kGlExtensionCount ? kGlExtensions[index].flag : nullptr;
}

}  // namespace qgl

namespace {

// Searches `list` for `name` as a whole blank-separated word.
bool containsWord(const char* list, const char* name) {
  if (list == nullptr || name == nullptr || name[0] == '\0' || std::strchr(name, ' ') != nullptr) {
    return false;
  }
  const size_t length = std::strlen(name);
  const char* start = list;
  for (;;) {
    const char* hit = std::strstr(start, name);
    if (hit == nullptr) {
      return false;
    }
    const char* end = hit + length;
    if ((hit == list || hit[-1] == ' ') && (*end == ' ' || *end == '\0')) {
      return true;
    }
    start = end;
  }
}

// The window-system extension string this platform can honestly claim.
const char* wglExtensionString() {
  static char text[64];
  text[0] = '\0';
  if (qgl::ctx.swapIntervalSupported != nullptr && qgl::ctx.swapIntervalSupported()) {
    std::snprintf(text, sizeof(text), "WGL_EXT_swap_control ");
  }
  return text;
}

bool swapIntervalThroughPlatform(int interval) {
  return qgl::ctx.setSwapInterval != nullptr && qgl::ctx.setSwapInterval(interval);
}

template <typename T>
void load(T& pointer, const char* name) {
  pointer = reinterpret_cast<T>(getGlProcAddress(name));
}

#define QGL_LOAD(name) load(qgl::name, #name)

void initGlExtensionFlags() {
  qgl::foundExtensions[0] = '\0';
  qgl::version_1_2 = qgl::version_1_3 = qgl::version_1_4 = qgl::version_1_5 = qgl::version_2_0 = 0;

  const char* version = reinterpret_cast<const char*>(qgl::glGetString(GL_VERSION));
  if (version != nullptr) {
    const char* digit = version;
    while (*digit != '\0' && (*digit < '0' || *digit > '9')) {
      ++digit;
    }
    if (*digit != '\0') {
      int major = 0;
      for (const char* p = digit; *p >= '0' && *p <= '9' && major < 1000; ++p) {
        major = major * 10 + (*p - '0');
      }
      // The minor digit is two places after the first digit ("1.5"); a shorter string has none.
      const char minor = digit[1] != '\0' ? digit[2] : '\0';
      if (major >= 2) {
        qgl::version_1_2 = qgl::version_1_3 = qgl::version_1_4 = qgl::version_1_5 = qgl::version_2_0 = 1;
      } else if (major == 1) {
        if (minor > '4') {
          qgl::version_1_2 = qgl::version_1_3 = qgl::version_1_4 = qgl::version_1_5 = 1;
        } else if (minor > '3') {
          qgl::version_1_2 = qgl::version_1_3 = qgl::version_1_4 = 1;
        } else if (minor == '3') {
          qgl::version_1_2 = qgl::version_1_3 = 1;
        } else if (minor == '2') {
          qgl::version_1_2 = 1;
        }
      }
    }
  }

  for (int i = 0; i < qgl::glExtensionCount(); ++i) {
    *qgl::glExtensionFlag(i) = hasGlExtension(qgl::glExtensionName(i)) ? 1 : 0;
  }
}

void loadEntryPoints() {
  using namespace qgl;
  if (version_1_2) {
    QGL_LOAD(glTexImage3D);
    QGL_LOAD(glTexSubImage3D);
    QGL_LOAD(glCopyTexSubImage3D);
    QGL_LOAD(glDrawRangeElements);
  }
  if (version_1_3) {
    QGL_LOAD(glActiveTexture);
    QGL_LOAD(glCompressedTexImage2D);
    QGL_LOAD(glCompressedTexImage3D);
    QGL_LOAD(glCompressedTexSubImage2D);
    QGL_LOAD(glGetCompressedTexImage);
    QGL_LOAD(glSampleCoverage);
  }
  if (version_1_4) {
    QGL_LOAD(glBlendFuncSeparate);
    QGL_LOAD(glBlendColor);
    QGL_LOAD(glBlendEquation);
    QGL_LOAD(glMultiDrawArrays);
    QGL_LOAD(glPointParameterf);
    QGL_LOAD(glPointParameterfv);
  }
  if (version_2_0) {
    QGL_LOAD(glCreateShader);
    QGL_LOAD(glShaderSource);
    QGL_LOAD(glCompileShader);
    QGL_LOAD(glGetShaderiv);
    QGL_LOAD(glGetShaderInfoLog);
    QGL_LOAD(glIsShader);
    QGL_LOAD(glDeleteShader);
    QGL_LOAD(glCreateProgram);
    QGL_LOAD(glAttachShader);
    QGL_LOAD(glDetachShader);
    QGL_LOAD(glLinkProgram);
    QGL_LOAD(glValidateProgram);
    QGL_LOAD(glGetProgramiv);
    QGL_LOAD(glGetProgramInfoLog);
    QGL_LOAD(glIsProgram);
    QGL_LOAD(glDeleteProgram);
    QGL_LOAD(glUseProgram);
    QGL_LOAD(glGetUniformLocation);
    QGL_LOAD(glGetAttribLocation);
    QGL_LOAD(glBindAttribLocation);
    QGL_LOAD(glUniform1f);
    QGL_LOAD(glUniform1i);
    QGL_LOAD(glUniform4fv);
    QGL_LOAD(glUniformMatrix4fv);
    QGL_LOAD(glVertexAttribPointer);
    QGL_LOAD(glEnableVertexAttribArray);
    QGL_LOAD(glDisableVertexAttribArray);
    QGL_LOAD(glStencilOpSeparate);
    QGL_LOAD(glStencilFuncSeparate);
    QGL_LOAD(glStencilMaskSeparate);
    QGL_LOAD(glDrawBuffers);
  }
  if (ARB_multitexture) {
    QGL_LOAD(glActiveTextureARB);
    QGL_LOAD(glClientActiveTextureARB);
    QGL_LOAD(glMultiTexCoord2fARB);
    QGL_LOAD(glMultiTexCoord4fvARB);
  }
  if (ARB_multisample) {
    QGL_LOAD(glSampleCoverageARB);
  }
  if (ARB_point_parameters) {
    QGL_LOAD(glPointParameterfARB);
    QGL_LOAD(glPointParameterfvARB);
  }
  if (EXT_point_parameters) {
    QGL_LOAD(glPointParameterfEXT);
    QGL_LOAD(glPointParameterfvEXT);
  }
  if (ARB_texture_compression) {
    QGL_LOAD(glCompressedTexImage3DARB);
    QGL_LOAD(glCompressedTexImage2DARB);
    QGL_LOAD(glCompressedTexImage1DARB);
    QGL_LOAD(glCompressedTexSubImage3DARB);
    QGL_LOAD(glCompressedTexSubImage2DARB);
    QGL_LOAD(glCompressedTexSubImage1DARB);
    QGL_LOAD(glGetCompressedTexImageARB);
  }
  if (ARB_transpose_matrix) {
    QGL_LOAD(glLoadTransposeMatrixfARB);
    QGL_LOAD(glMultTransposeMatrixfARB);
  }
  if (ARB_vertex_buffer_object) {
    QGL_LOAD(glBindBufferARB);
    QGL_LOAD(glDeleteBuffersARB);
    QGL_LOAD(glGenBuffersARB);
    QGL_LOAD(glIsBufferARB);
    QGL_LOAD(glBufferDataARB);
    QGL_LOAD(glBufferSubDataARB);
    QGL_LOAD(glGetBufferSubDataARB);
    QGL_LOAD(glMapBufferARB);
    QGL_LOAD(glUnmapBufferARB);
    QGL_LOAD(glGetBufferParameterivARB);
  }
  if (ARB_vertex_program) {
    QGL_LOAD(glVertexAttrib4fARB);
    QGL_LOAD(glVertexAttrib4fvARB);
    QGL_LOAD(glVertexAttribPointerARB);
    QGL_LOAD(glEnableVertexAttribArrayARB);
    QGL_LOAD(glDisableVertexAttribArrayARB);
  }
  if (ARB_vertex_program || ARB_fragment_program) {
    QGL_LOAD(glProgramStringARB);
    QGL_LOAD(glBindProgramARB);
    QGL_LOAD(glDeleteProgramsARB);
    QGL_LOAD(glGenProgramsARB);
    QGL_LOAD(glProgramEnvParameter4fARB);
    QGL_LOAD(glProgramEnvParameter4fvARB);
    QGL_LOAD(glProgramLocalParameter4fARB);
    QGL_LOAD(glProgramLocalParameter4fvARB);
    QGL_LOAD(glGetProgramEnvParameterfvARB);
    QGL_LOAD(glGetProgramLocalParameterfvARB);
    QGL_LOAD(glGetProgramivARB);
    QGL_LOAD(glGetProgramStringARB);
    QGL_LOAD(glIsProgramARB);
  }
  if (ARB_window_pos) {
    QGL_LOAD(glWindowPos2fARB);
    QGL_LOAD(glWindowPos2iARB);
  }
  if (ARB_draw_buffers) {
    QGL_LOAD(glDrawBuffersARB);
  }
  if (ATI_draw_buffers) {
    QGL_LOAD(glDrawBuffersATI);
  }
  if (EXT_blend_color) {
    QGL_LOAD(glBlendColorEXT);
  }
  if (EXT_blend_func_separate) {
    QGL_LOAD(glBlendFuncSeparateEXT);
  }
  if (EXT_blend_minmax) {
    QGL_LOAD(glBlendEquationEXT);
  }
  if (EXT_compiled_vertex_array) {
    QGL_LOAD(glLockArraysEXT);
    QGL_LOAD(glUnlockArraysEXT);
  }
  if (EXT_depth_bounds_test) {
    QGL_LOAD(glDepthBoundsEXT);
  }
  if (EXT_draw_range_elements) {
    QGL_LOAD(glDrawRangeElementsEXT);
  }
  if (EXT_fog_coord) {
    QGL_LOAD(glFogCoordfEXT);
    QGL_LOAD(glFogCoordPointerEXT);
  }
  if (EXT_multi_draw_arrays) {
    QGL_LOAD(glMultiDrawArraysEXT);
    QGL_LOAD(glMultiDrawElementsEXT);
  }
  if (EXT_secondary_color) {
    QGL_LOAD(glSecondaryColor3fEXT);
    QGL_LOAD(glSecondaryColorPointerEXT);
  }
  if (EXT_stencil_two_side) {
    QGL_LOAD(glActiveStencilFaceEXT);
  }
  if (EXT_framebuffer_object) {
    QGL_LOAD(glIsRenderbufferEXT);
    QGL_LOAD(glBindRenderbufferEXT);
    QGL_LOAD(glDeleteRenderbuffersEXT);
    QGL_LOAD(glGenRenderbuffersEXT);
    QGL_LOAD(glRenderbufferStorageEXT);
    QGL_LOAD(glGetRenderbufferParameterivEXT);
    QGL_LOAD(glIsFramebufferEXT);
    QGL_LOAD(glBindFramebufferEXT);
    QGL_LOAD(glDeleteFramebuffersEXT);
    QGL_LOAD(glGenFramebuffersEXT);
    QGL_LOAD(glCheckFramebufferStatusEXT);
    QGL_LOAD(glFramebufferTexture1DEXT);
    QGL_LOAD(glFramebufferTexture2DEXT);
    QGL_LOAD(glFramebufferTexture3DEXT);
    QGL_LOAD(glFramebufferRenderbufferEXT);
    QGL_LOAD(glGetFramebufferAttachmentParameterivEXT);
    QGL_LOAD(glGenerateMipmapEXT);
  }
  if (ATI_separate_stencil) {
    QGL_LOAD(glStencilOpSeparateATI);
    QGL_LOAD(glStencilFuncSeparateATI);
  }
  if (NV_fence) {
    QGL_LOAD(glDeleteFencesNV);
    QGL_LOAD(glGenFencesNV);
    QGL_LOAD(glIsFenceNV);
    QGL_LOAD(glTestFenceNV);
    QGL_LOAD(glGetFenceivNV);
    QGL_LOAD(glFinishFenceNV);
    QGL_LOAD(glSetFenceNV);
  }
  if (NV_occlusion_query) {
    QGL_LOAD(glGenOcclusionQueriesNV);
    QGL_LOAD(glDeleteOcclusionQueriesNV);
    QGL_LOAD(glIsOcclusionQueryNV);
    QGL_LOAD(glBeginOcclusionQueryNV);
    QGL_LOAD(glEndOcclusionQueryNV);
    QGL_LOAD(glGetOcclusionQueryivNV);
    QGL_LOAD(glGetOcclusionQueryuivNV);
  }
  if (NV_primitive_restart) {
    QGL_LOAD(glPrimitiveRestartNV);
    QGL_LOAD(glPrimitiveRestartIndexNV);
  }
}

#undef QGL_LOAD

void initWglExtensions() {
  // There is no window-system extension string here: both lookups count as absent.
  qgl::wgl_GetExtensionsStringARB_present = 0;
  qgl::wgl_GetExtensionsStringEXT_present = 0;
  for (const qgl::ExtensionEntry& entry : qgl::kWglExtensions) {
    *entry.flag = hasWglExtension(entry.name) ? 1 : 0;
  }
  qgl::wglSwapIntervalEXT = qgl::wgl_EXT_swap_control ? swapIntervalThroughPlatform : nullptr;
}

}  // namespace

void* getGlProcAddress(const char* name) {
  void* address = qgl::ctx.getProcAddress != nullptr ? qgl::ctx.getProcAddress(name) : nullptr;
  if (address == nullptr) {
    qgl::missingEntryPoint = 1;
  }
  return address;
}

bool hasGlExtension(const char* name) {
  const char* extensions = reinterpret_cast<const char*>(qgl::glGetString(GL_EXTENSIONS));
  if (!containsWord(extensions, name)) {
    return false;
  }
  const size_t used = std::strlen(qgl::foundExtensions);
  std::snprintf(qgl::foundExtensions + used, sizeof(qgl::foundExtensions) - used, "%s ", name);
  return true;
}

bool hasWglExtension(const char* name) {
  return containsWord(wglExtensionString(), name);
}

bool glExtensionSupported(const char* name) {
  if (name == nullptr || name[0] == '\0' || std::strchr(name, ' ') != nullptr) {
    return false;
  }
  return containsWord(qgl::foundExtensions, name);
}

void clearGlExtensions() {
#define QGL_CLEAR_EXT(type, name) qgl::name = nullptr;
  QGL_EXTENSION_FUNCTIONS(QGL_CLEAR_EXT)
#undef QGL_CLEAR_EXT
  qgl::wglSwapIntervalEXT = nullptr;
  qgl::version_1_2 = qgl::version_1_3 = qgl::version_1_4 = qgl::version_1_5 = qgl::version_2_0 = 0;
  for (int i = 0; i < qgl::glExtensionCount(); ++i) {
    *qgl::glExtensionFlag(i) = 0;
  }
  for (const qgl::ExtensionEntry& entry : qgl::kWglExtensions) {
    *entry.flag = 0;
  }
  qgl::foundExtensions[0] = '\0';
  qgl::missingEntryPoint = 0;
}

int initGlExtensions() {
  clearGlExtensions();
  initGlExtensionFlags();
  loadEntryPoints();
  initWglExtensions();
  return qgl::missingEntryPoint;
}

float halfToFloat(uint16_t half) {
  const uint32_t sign = static_cast<uint32_t>(half & 0x8000u) << 16;
  const uint32_t exponent = (half >> 10) & 0x1Fu;
  uint32_t mantissa = half & 0x3FFu;
  uint32_t bits;
  if (exponent == 0) {
    if (mantissa == 0) {
      bits = sign;
    } else {
      // A denormal: shift until the hidden bit appears, lowering the exponent each step.
      int e = -1;
      do {
        ++e;
        mantissa <<= 1;
      } while ((mantissa & 0x400u) == 0);
      bits = sign | static_cast<uint32_t>(127 - 15 - e) << 23 | (mantissa & 0x3FFu) << 13;
    }
  } else if (exponent == 31) {
    bits = sign | 0x7F800000u | mantissa << 13;
  } else {
    bits = sign | (exponent + (127 - 15)) << 23 | mantissa << 13;
  }
  float result;
  std::memcpy(&result, &bits, sizeof(result));
  return result;
}

uint16_t floatToHalf(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof(bits));
  const uint16_t sign = static_cast<uint16_t>((bits >> 16) & 0x8000u);
  const int exponent = static_cast<int>((bits >> 23) & 0xFFu);
  const uint32_t mantissa = bits & 0x7FFFFFu;
  if (exponent == 255) {
    // Infinity stays infinity; NaN keeps its top payload bits and at least one of them.
    if (mantissa == 0) {
      return sign | 0x7C00u;
    }
    const uint16_t payload = static_cast<uint16_t>(mantissa >> 13);
    return sign | 0x7C00u | (payload != 0 ? payload : 0x200u);
  }
  const int halfExponent = exponent - 127 + 15;
  if (halfExponent >= 31) {
    return sign | 0x7C00u;  // 65536 and up
  }
  if (halfExponent <= 0) {
    // Below the smallest normal: a denormal of (1.mantissa) >> (1 - halfExponent), truncated.
    if (halfExponent < -10) {
      return sign;  // below the smallest denormal, 2^-24
    }
    const uint32_t full = mantissa | 0x800000u;
    return sign | static_cast<uint16_t>(full >> (14 - halfExponent));
  }
  return sign | static_cast<uint16_t>(halfExponent << 10) | static_cast<uint16_t>(mantissa >> 13);
}
