// OpenGL version and extension flags and the entry points the render code calls. Everything lives in
// namespace qgl so no pointer ever collides with libGL's own symbols of the same name; render code
// calls qgl::glEnable(...), and tests swap the pointers for a recording fake.
// Only render/device includes this header (and with it the GL headers).
#pragma once

#include <GL/gl.h>
#include <GL/glext.h>

#include <cstdint>

// GL 1.1: taken from libGL itself (never null), still called through pointers so one fake can see
// every call the device makes.
// clang-format off
#define QGL_CORE_FUNCTIONS(X) \
  X(glAlphaFunc) X(glBindTexture) X(glBlendFunc) X(glClear) \
  X(glClearColor) X(glClearDepth) X(glClearStencil) X(glClipPlane) \
  X(glColor4f) X(glColorMask) X(glColorPointer) X(glCopyTexSubImage2D) \
  X(glCullFace) X(glDeleteTextures) X(glDepthFunc) X(glDepthMask) \
  X(glDepthRange) X(glDisable) X(glDisableClientState) X(glDrawArrays) \
  X(glDrawBuffer) X(glDrawElements) X(glEnable) X(glEnableClientState) \
  X(glFinish) X(glFlush) X(glFrontFace) X(glGenTextures) \
  X(glGetBooleanv) X(glGetError) X(glGetFloatv) X(glGetIntegerv) \
  X(glGetString) X(glGetTexImage) X(glGetTexLevelParameteriv) X(glGetTexParameteriv) \
  X(glIsEnabled) X(glIsTexture) X(glLineWidth) X(glLoadIdentity) \
  X(glLoadMatrixf) X(glMatrixMode) X(glPixelStorei) X(glPolygonMode) \
  X(glPolygonOffset) X(glPopMatrix) X(glPushMatrix) X(glReadBuffer) \
  X(glReadPixels) X(glScissor) X(glStencilFunc) X(glStencilMask) \
  X(glStencilOp) X(glTexCoordPointer) X(glTexEnvf) X(glTexEnvi) \
  X(glTexImage2D) X(glTexParameteri) X(glTexSubImage2D) X(glVertexPointer) \
  X(glViewport) X(glDrawPixels) X(glPopAttrib) X(glPushAttrib) \
  X(glRasterPos3f)
// clang-format on

// Entry points beyond GL 1.1, fetched through the platform layer; (pointer type, GL name).
#define QGL_EXTENSION_FUNCTIONS(X)                                                             \
  /* GL 1.2 */                                                                                 \
  X(PFNGLTEXIMAGE3DPROC, glTexImage3D)                                                         \
  X(PFNGLTEXSUBIMAGE3DPROC, glTexSubImage3D)                                                   \
  X(PFNGLCOPYTEXSUBIMAGE3DPROC, glCopyTexSubImage3D)                                           \
  X(PFNGLDRAWRANGEELEMENTSPROC, glDrawRangeElements)                                           \
  /* GL 1.3 */                                                                                 \
  X(PFNGLACTIVETEXTUREPROC, glActiveTexture)                                                   \
  X(PFNGLCOMPRESSEDTEXIMAGE2DPROC, glCompressedTexImage2D)                                     \
  X(PFNGLCOMPRESSEDTEXIMAGE3DPROC, glCompressedTexImage3D)                                     \
  X(PFNGLCOMPRESSEDTEXSUBIMAGE2DPROC, glCompressedTexSubImage2D)                               \
  X(PFNGLGETCOMPRESSEDTEXIMAGEPROC, glGetCompressedTexImage)                                   \
  X(PFNGLSAMPLECOVERAGEPROC, glSampleCoverage)                                                 \
  /* GL 1.4 */                                                                                 \
  X(PFNGLBLENDFUNCSEPARATEPROC, glBlendFuncSeparate)                                           \
  X(PFNGLBLENDCOLORPROC, glBlendColor)                                                         \
  X(PFNGLBLENDEQUATIONPROC, glBlendEquation)                                                   \
  X(PFNGLMULTIDRAWARRAYSPROC, glMultiDrawArrays)                                               \
  X(PFNGLPOINTPARAMETERFPROC, glPointParameterf)                                               \
  X(PFNGLPOINTPARAMETERFVPROC, glPointParameterfv)                                             \
  /* GL 2.0 */                                                                                 \
  X(PFNGLCREATESHADERPROC, glCreateShader)                                                     \
  X(PFNGLSHADERSOURCEPROC, glShaderSource)                                                     \
  X(PFNGLCOMPILESHADERPROC, glCompileShader)                                                   \
  X(PFNGLGETSHADERIVPROC, glGetShaderiv)                                                       \
  X(PFNGLGETSHADERINFOLOGPROC, glGetShaderInfoLog)                                             \
  X(PFNGLISSHADERPROC, glIsShader)                                                             \
  X(PFNGLDELETESHADERPROC, glDeleteShader)                                                     \
  X(PFNGLCREATEPROGRAMPROC, glCreateProgram)                                                   \
  X(PFNGLATTACHSHADERPROC, glAttachShader)                                                     \
  X(PFNGLDETACHSHADERPROC, glDetachShader)                                                     \
  X(PFNGLLINKPROGRAMPROC, glLinkProgram)                                                       \
  X(PFNGLVALIDATEPROGRAMPROC, glValidateProgram)                                               \
  X(PFNGLGETPROGRAMIVPROC, glGetProgramiv)                                                     \
  X(PFNGLGETPROGRAMINFOLOGPROC, glGetProgramInfoLog)                                           \
  X(PFNGLISPROGRAMPROC, glIsProgram)                                                           \
  X(PFNGLDELETEPROGRAMPROC, glDeleteProgram)                                                   \
  X(PFNGLUSEPROGRAMPROC, glUseProgram)                                                         \
  X(PFNGLGETUNIFORMLOCATIONPROC, glGetUniformLocation)                                         \
  X(PFNGLGETATTRIBLOCATIONPROC, glGetAttribLocation)                                           \
  X(PFNGLBINDATTRIBLOCATIONPROC, glBindAttribLocation)                                         \
  X(PFNGLUNIFORM1FPROC, glUniform1f)                                                           \
  X(PFNGLUNIFORM1IPROC, glUniform1i)                                                           \
  X(PFNGLUNIFORM4FVPROC, glUniform4fv)                                                         \
  X(PFNGLUNIFORMMATRIX4FVPROC, glUniformMatrix4fv)                                             \
  X(PFNGLVERTEXATTRIBPOINTERPROC, glVertexAttribPointer)                                       \
  X(PFNGLENABLEVERTEXATTRIBARRAYPROC, glEnableVertexAttribArray)                               \
  X(PFNGLDISABLEVERTEXATTRIBARRAYPROC, glDisableVertexAttribArray)                             \
  X(PFNGLSTENCILOPSEPARATEPROC, glStencilOpSeparate)                                           \
  X(PFNGLSTENCILFUNCSEPARATEPROC, glStencilFuncSeparate)                                       \
  X(PFNGLSTENCILMASKSEPARATEPROC, glStencilMaskSeparate)                                       \
  X(PFNGLDRAWBUFFERSPROC, glDrawBuffers)                                                       \
  /* GL_ARB_multitexture */                                                                    \
  X(PFNGLACTIVETEXTUREARBPROC, glActiveTextureARB)                                             \
  X(PFNGLCLIENTACTIVETEXTUREARBPROC, glClientActiveTextureARB)                                 \
  X(PFNGLMULTITEXCOORD2FARBPROC, glMultiTexCoord2fARB)                                         \
  X(PFNGLMULTITEXCOORD4FVARBPROC, glMultiTexCoord4fvARB)                                       \
  /* GL_ARB_multisample */                                                                     \
  X(PFNGLSAMPLECOVERAGEARBPROC, glSampleCoverageARB)                                           \
  /* GL_ARB_point_parameters, GL_EXT_point_parameters */                                       \
  X(PFNGLPOINTPARAMETERFARBPROC, glPointParameterfARB)                                         \
  X(PFNGLPOINTPARAMETERFVARBPROC, glPointParameterfvARB)                                       \
  X(PFNGLPOINTPARAMETERFEXTPROC, glPointParameterfEXT)                                         \
  X(PFNGLPOINTPARAMETERFVEXTPROC, glPointParameterfvEXT)                                       \
  /* GL_ARB_texture_compression */                                                             \
  X(PFNGLCOMPRESSEDTEXIMAGE3DARBPROC, glCompressedTexImage3DARB)                               \
  X(PFNGLCOMPRESSEDTEXIMAGE2DARBPROC, glCompressedTexImage2DARB)                               \
  X(PFNGLCOMPRESSEDTEXIMAGE1DARBPROC, glCompressedTexImage1DARB)                               \
  X(PFNGLCOMPRESSEDTEXSUBIMAGE3DARBPROC, glCompressedTexSubImage3DARB)                         \
  X(PFNGLCOMPRESSEDTEXSUBIMAGE2DARBPROC, glCompressedTexSubImage2DARB)                         \
  X(PFNGLCOMPRESSEDTEXSUBIMAGE1DARBPROC, glCompressedTexSubImage1DARB)                         \
  X(PFNGLGETCOMPRESSEDTEXIMAGEARBPROC, glGetCompressedTexImageARB)                             \
  /* GL_ARB_transpose_matrix */                                                                \
  X(PFNGLLOADTRANSPOSEMATRIXFARBPROC, glLoadTransposeMatrixfARB)                               \
  X(PFNGLMULTTRANSPOSEMATRIXFARBPROC, glMultTransposeMatrixfARB)                               \
  /* GL_ARB_vertex_buffer_object */                                                            \
  X(PFNGLBINDBUFFERARBPROC, glBindBufferARB)                                                   \
  X(PFNGLDELETEBUFFERSARBPROC, glDeleteBuffersARB)                                             \
  X(PFNGLGENBUFFERSARBPROC, glGenBuffersARB)                                                   \
  X(PFNGLISBUFFERARBPROC, glIsBufferARB)                                                       \
  X(PFNGLBUFFERDATAARBPROC, glBufferDataARB)                                                   \
  X(PFNGLBUFFERSUBDATAARBPROC, glBufferSubDataARB)                                             \
  X(PFNGLGETBUFFERSUBDATAARBPROC, glGetBufferSubDataARB)                                       \
  X(PFNGLMAPBUFFERARBPROC, glMapBufferARB)                                                     \
  X(PFNGLUNMAPBUFFERARBPROC, glUnmapBufferARB)                                                 \
  X(PFNGLGETBUFFERPARAMETERIVARBPROC, glGetBufferParameterivARB)                               \
  /* GL_ARB_vertex_program and GL_ARB_fragment_program (they share the program functions) */   \
  X(PFNGLVERTEXATTRIB4FARBPROC, glVertexAttrib4fARB)                                           \
  X(PFNGLVERTEXATTRIB4FVARBPROC, glVertexAttrib4fvARB)                                         \
  X(PFNGLVERTEXATTRIBPOINTERARBPROC, glVertexAttribPointerARB)                                 \
  X(PFNGLENABLEVERTEXATTRIBARRAYARBPROC, glEnableVertexAttribArrayARB)                         \
  X(PFNGLDISABLEVERTEXATTRIBARRAYARBPROC, glDisableVertexAttribArrayARB)                       \
  X(PFNGLPROGRAMSTRINGARBPROC, glProgramStringARB)                                             \
  X(PFNGLBINDPROGRAMARBPROC, glBindProgramARB)                                                 \
  X(PFNGLDELETEPROGRAMSARBPROC, glDeleteProgramsARB)                                           \
  X(PFNGLGENPROGRAMSARBPROC, glGenProgramsARB)                                                 \
  X(PFNGLPROGRAMENVPARAMETER4FARBPROC, glProgramEnvParameter4fARB)                             \
  X(PFNGLPROGRAMENVPARAMETER4FVARBPROC, glProgramEnvParameter4fvARB)                           \
  X(PFNGLPROGRAMLOCALPARAMETER4FARBPROC, glProgramLocalParameter4fARB)                         \
  X(PFNGLPROGRAMLOCALPARAMETER4FVARBPROC, glProgramLocalParameter4fvARB)                       \
  X(PFNGLGETPROGRAMENVPARAMETERFVARBPROC, glGetProgramEnvParameterfvARB)                       \
  X(PFNGLGETPROGRAMLOCALPARAMETERFVARBPROC, glGetProgramLocalParameterfvARB)                   \
  X(PFNGLGETPROGRAMIVARBPROC, glGetProgramivARB)                                               \
  X(PFNGLGETPROGRAMSTRINGARBPROC, glGetProgramStringARB)                                       \
  X(PFNGLISPROGRAMARBPROC, glIsProgramARB)                                                     \
  /* GL_ARB_window_pos */                                                                      \
  X(PFNGLWINDOWPOS2FARBPROC, glWindowPos2fARB)                                                 \
  X(PFNGLWINDOWPOS2IARBPROC, glWindowPos2iARB)                                                 \
  /* GL_ARB_draw_buffers, GL_ATI_draw_buffers */                                               \
  X(PFNGLDRAWBUFFERSARBPROC, glDrawBuffersARB)                                                 \
  X(PFNGLDRAWBUFFERSATIPROC, glDrawBuffersATI)                                                 \
  /* GL_EXT_blend_color, GL_EXT_blend_func_separate, GL_EXT_blend_minmax */                    \
  X(PFNGLBLENDCOLOREXTPROC, glBlendColorEXT)                                                   \
  X(PFNGLBLENDFUNCSEPARATEEXTPROC, glBlendFuncSeparateEXT)                                     \
  X(PFNGLBLENDEQUATIONEXTPROC, glBlendEquationEXT)                                             \
  /* GL_EXT_compiled_vertex_array */                                                           \
  X(PFNGLLOCKARRAYSEXTPROC, glLockArraysEXT)                                                   \
  X(PFNGLUNLOCKARRAYSEXTPROC, glUnlockArraysEXT)                                               \
  /* GL_EXT_depth_bounds_test */                                                               \
  X(PFNGLDEPTHBOUNDSEXTPROC, glDepthBoundsEXT)                                                 \
  /* GL_EXT_draw_range_elements */                                                             \
  X(PFNGLDRAWRANGEELEMENTSEXTPROC, glDrawRangeElementsEXT)                                     \
  /* GL_EXT_fog_coord */                                                                       \
  X(PFNGLFOGCOORDFEXTPROC, glFogCoordfEXT)                                                     \
  X(PFNGLFOGCOORDPOINTEREXTPROC, glFogCoordPointerEXT)                                         \
  /* GL_EXT_multi_draw_arrays */                                                               \
  X(PFNGLMULTIDRAWARRAYSEXTPROC, glMultiDrawArraysEXT)                                         \
  X(PFNGLMULTIDRAWELEMENTSEXTPROC, glMultiDrawElementsEXT)                                     \
  /* GL_EXT_secondary_color */                                                                 \
  X(PFNGLSECONDARYCOLOR3FEXTPROC, glSecondaryColor3fEXT)                                       \
  X(PFNGLSECONDARYCOLORPOINTEREXTPROC, glSecondaryColorPointerEXT)                             \
  /* GL_EXT_stencil_two_side */                                                                \
  X(PFNGLACTIVESTENCILFACEEXTPROC, glActiveStencilFaceEXT)                                     \
  /* GL_EXT_framebuffer_object */                                                              \
  X(PFNGLISRENDERBUFFEREXTPROC, glIsRenderbufferEXT)                                           \
  X(PFNGLBINDRENDERBUFFEREXTPROC, glBindRenderbufferEXT)                                       \
  X(PFNGLDELETERENDERBUFFERSEXTPROC, glDeleteRenderbuffersEXT)                                 \
  X(PFNGLGENRENDERBUFFERSEXTPROC, glGenRenderbuffersEXT)                                       \
  X(PFNGLRENDERBUFFERSTORAGEEXTPROC, glRenderbufferStorageEXT)                                 \
  X(PFNGLGETRENDERBUFFERPARAMETERIVEXTPROC, glGetRenderbufferParameterivEXT)                   \
  X(PFNGLISFRAMEBUFFEREXTPROC, glIsFramebufferEXT)                                             \
  X(PFNGLBINDFRAMEBUFFEREXTPROC, glBindFramebufferEXT)                                         \
  X(PFNGLDELETEFRAMEBUFFERSEXTPROC, glDeleteFramebuffersEXT)                                   \
  X(PFNGLGENFRAMEBUFFERSEXTPROC, glGenFramebuffersEXT)                                         \
  X(PFNGLCHECKFRAMEBUFFERSTATUSEXTPROC, glCheckFramebufferStatusEXT)                           \
  X(PFNGLFRAMEBUFFERTEXTURE1DEXTPROC, glFramebufferTexture1DEXT)                               \
  X(PFNGLFRAMEBUFFERTEXTURE2DEXTPROC, glFramebufferTexture2DEXT)                               \
  X(PFNGLFRAMEBUFFERTEXTURE3DEXTPROC, glFramebufferTexture3DEXT)                               \
  X(PFNGLFRAMEBUFFERRENDERBUFFEREXTPROC, glFramebufferRenderbufferEXT)                         \
  X(PFNGLGETFRAMEBUFFERATTACHMENTPARAMETERIVEXTPROC, glGetFramebufferAttachmentParameterivEXT) \
  X(PFNGLGENERATEMIPMAPEXTPROC, glGenerateMipmapEXT)                                           \
  /* GL_ATI_separate_stencil */                                                                \
  X(PFNGLSTENCILOPSEPARATEATIPROC, glStencilOpSeparateATI)                                     \
  X(PFNGLSTENCILFUNCSEPARATEATIPROC, glStencilFuncSeparateATI)                                 \
  /* GL_NV_fence */                                                                            \
  X(PFNGLDELETEFENCESNVPROC, glDeleteFencesNV)                                                 \
  X(PFNGLGENFENCESNVPROC, glGenFencesNV)                                                       \
  X(PFNGLISFENCENVPROC, glIsFenceNV)                                                           \
  X(PFNGLTESTFENCENVPROC, glTestFenceNV)                                                       \
  X(PFNGLGETFENCEIVNVPROC, glGetFenceivNV)                                                     \
  X(PFNGLFINISHFENCENVPROC, glFinishFenceNV)                                                   \
  X(PFNGLSETFENCENVPROC, glSetFenceNV)                                                         \
  /* GL_NV_occlusion_query */                                                                  \
  X(PFNGLGENOCCLUSIONQUERIESNVPROC, glGenOcclusionQueriesNV)                                   \
  X(PFNGLDELETEOCCLUSIONQUERIESNVPROC, glDeleteOcclusionQueriesNV)                             \
  X(PFNGLISOCCLUSIONQUERYNVPROC, glIsOcclusionQueryNV)                                         \
  X(PFNGLBEGINOCCLUSIONQUERYNVPROC, glBeginOcclusionQueryNV)                                   \
  X(PFNGLENDOCCLUSIONQUERYNVPROC, glEndOcclusionQueryNV)                                       \
  X(PFNGLGETOCCLUSIONQUERYIVNVPROC, glGetOcclusionQueryivNV)                                   \
  X(PFNGLGETOCCLUSIONQUERYUIVNVPROC, glGetOcclusionQueryuivNV)                                 \
  /* GL_NV_primitive_restart */                                                                \
  X(PFNGLPRIMITIVERESTARTNVPROC, glPrimitiveRestartNV)                                         \
  X(PFNGLPRIMITIVERESTARTINDEXNVPROC, glPrimitiveRestartIndexNV)

// The GL extension names tested, in testing order; the flag of GL_<name> is qgl::<name>.
// clang-format off
#define QGL_GL_EXTENSIONS(X) \
  X(ARB_depth_texture) X(ARB_fragment_program) X(ARB_imaging) X(ARB_matrix_palette) \
  X(ARB_multisample) X(ARB_multitexture) X(ARB_point_parameters) X(ARB_shadow) \
  X(ARB_shadow_ambient) X(ARB_texture_border_clamp) X(ARB_texture_compression) X(ARB_texture_cube_map) \
  X(ARB_texture_env_add) X(ARB_texture_env_combine) X(ARB_texture_env_crossbar) X(ARB_texture_env_dot3) \
  X(ARB_texture_mirrored_repeat) X(ARB_transpose_matrix) X(ARB_vertex_blend) X(ARB_vertex_buffer_object) \
  X(ARB_vertex_program) X(ARB_window_pos) X(ARB_draw_buffers) X(EXT_abgr) \
  X(EXT_bgra) X(EXT_blend_color) X(EXT_blend_func_separate) X(EXT_blend_minmax) \
  X(EXT_blend_subtract) X(EXT_compiled_vertex_array) X(EXT_cull_vertex) X(EXT_depth_bounds_test) \
  X(EXT_draw_range_elements) X(EXT_fog_coord) X(EXT_multi_draw_arrays) X(EXT_point_parameters) \
  X(EXT_secondary_color) X(EXT_separate_specular_color) X(EXT_shadow_funcs) X(EXT_stencil_two_side) \
  X(EXT_stencil_wrap) X(EXT_texture_compression_s3tc) X(EXT_texture_env_combine) X(EXT_texture_filter_anisotropic) \
  X(EXT_texture_lod_bias) X(EXT_texture_rectangle) X(EXT_vertex_shader) X(EXT_vertex_weighting) \
  X(EXT_framebuffer_object) X(ATI_draw_buffers) X(ATI_element_array) X(ATI_envmap_bumpmap) \
  X(ATI_fragment_shader) X(ATI_map_object_buffer) X(ATI_pn_triangles) X(ATI_point_cull_mode) \
  X(ATI_separate_stencil) X(ATI_text_fragment_shader) X(ATI_texture_env_combine3) X(ATI_texture_float) \
  X(ATI_texture_mirror_once) X(ATI_vertex_array_object) X(ATI_vertex_attrib_array_object) X(ATI_vertex_streams) \
  X(ATIX_point_sprites) X(ATIX_texture_env_route) X(HP_occlusion_test) X(NV_blend_square) \
  X(NV_copy_depth_to_color) X(NV_depth_clamp) X(NV_element_array) X(NV_evaluators) \
  X(NV_fence) X(NV_float_buffer) X(NV_fog_distance) X(NV_fragment_program) \
  X(NV_half_float) X(NV_light_max_exponent) X(NV_occlusion_query) X(NV_packed_depth_stencil) \
  X(NV_pixel_data_range) X(NV_point_sprite) X(NV_primitive_restart) X(NV_register_combiners) \
  X(NV_register_combiners2) X(NV_texgen_reflection) X(NV_texture_env_combine4) X(NV_texture_expand_normal) \
  X(NV_texture_rectangle) X(NV_texture_shader) X(NV_texture_shader2) X(NV_texture_shader3) \
  X(NV_vertex_array_range) X(NV_vertex_array_range2) X(NV_vertex_program) X(NV_vertex_program1_1) \
  X(NV_vertex_program2) X(SGIS_generate_mipmap) X(SGIS_texture_lod) X(SGIX_depth_texture) \
  X(SGIX_shadow)
// clang-format on

// The window-system extension names tested; the flag of WGL_<name> is qgl::wgl_<name>. There is no
// such string on this platform: every flag stays 0 except swap control, which is set when the
// platform layer can set the swap interval.
// clang-format off
#define QGL_WGL_EXTENSIONS(X) \
  X(ARB_buffer_region) X(ARB_make_current_read) X(ARB_multisample) X(ARB_pbuffer) \
  X(ARB_pixel_format) X(ARB_render_texture) X(ATI_pixel_format_float) X(EXT_swap_control) \
  X(NV_render_depth_texture) X(NV_render_texture_rectangle)
// clang-format on

struct PlatformGLAttributes;

namespace qgl {

#define QGL_DECLARE_CORE(name) inline decltype(&::name) name = &::name;
QGL_CORE_FUNCTIONS(QGL_DECLARE_CORE)
#undef QGL_DECLARE_CORE

#define QGL_DECLARE_EXT(type, name) inline type name = nullptr;
QGL_EXTENSION_FUNCTIONS(QGL_DECLARE_EXT)
#undef QGL_DECLARE_EXT

// Swap control through the platform layer (set only with the swap-control flag).
inline bool (*wglSwapIntervalEXT)(int interval) = nullptr;

// Version flags; a higher version sets every lower one.
inline int version_1_2 = 0;
inline int version_1_3 = 0;
inline int version_1_4 = 0;
inline int version_1_5 = 0;
inline int version_2_0 = 0;

#define QGL_DECLARE_FLAG(name) inline int name = 0;
QGL_GL_EXTENSIONS(QGL_DECLARE_FLAG)
#undef QGL_DECLARE_FLAG
#define QGL_DECLARE_WGL_FLAG(name) inline int wgl_##name = 0;
QGL_WGL_EXTENSIONS(QGL_DECLARE_WGL_FLAG)
#undef QGL_DECLARE_WGL_FLAG
inline int wgl_GetExtensionsStringARB_present = 0;
inline int wgl_GetExtensionsStringEXT_present = 0;

// Every GL extension that tested present, each followed by one blank, in testing order.
constexpr int kFoundExtensionsSize = 5000;
inline char foundExtensions[kFoundExtensionsSize] = {};
// Set when a requested entry point came back null.
inline int missingEntryPoint = 0;

// The platform layer's context functions, as pointers for the same reason as the GL ones.
struct ContextHooks {
  void* (*createContext)(void* window, void* shareWith);
  void (*deleteContext)(void* context);
  bool (*makeCurrent)(void* window, void* context);
  void* (*currentContext)();
  void* (*currentWindow)();
  bool (*queryAttributes)(PlatformGLAttributes* out);
  void (*swapWindow)(void* window);
  bool (*setSwapInterval)(int interval);
  bool (*swapIntervalSupported)();
  void* (*getProcAddress)(const char* name);
};
extern ContextHooks ctx;
// The platform layer's functions.
ContextHooks platformContextHooks();

// Number of GL extension names tested (101).
int glExtensionCount();
// Name (with the "GL_" prefix) and flag of the i-th tested extension; null past the end.
const char* glExtensionName(int index);
int* glExtensionFlag(int index);

}  // namespace qgl

// The whole load for the current context: version flags, extension flags and entry points. Returns the
// missing-entry-point flag.
int initGlExtensions();
// Whole-word test of one name against GL_EXTENSIONS; a hit is appended to the found-extension list.
bool hasGlExtension(const char* name);
// The same test against the window-system extensions (see QGL_WGL_EXTENSIONS).
bool hasWglExtension(const char* name);
// True when the name was found by the last load (a whole word of the found-extension list).
bool glExtensionSupported(const char* name);
// Entry point through the platform layer; a null result sets the missing-entry-point flag.
void* getGlProcAddress(const char* name);
// Clears every flag and extension pointer (GL 1.1 pointers keep their libGL values).
void clearGlExtensions();

// 16-bit IEEE 754 half floats, for the 16-bit float pixel formats. floatToHalf truncates the mantissa;
// below the smallest half denormal it gives signed zero, from 65536 up signed infinity; NaN stays NaN.
float halfToFloat(uint16_t half);
uint16_t floatToHalf(float value);
