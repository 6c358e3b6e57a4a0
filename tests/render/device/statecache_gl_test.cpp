// The device's GL state cache on llvmpipe: random sequences of device calls leave GL in the same
// queried state with filtering on as with every call sent through; the cache agrees with GL
// wherever it claims to know; a repeated surface sequence reaches GL far less often; and a new
// context ("vid_restart") or a switch to another context forgets what the cache knew.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "lib/matrix.h"
#include "platform/gl.h"
#include "render/device/glextensions.h"
#include "render/device/renderopengl.h"
#include "tests/support/capturecmdsystem.h"
#include "tests/support/gldevice.h"
#include "tests/support/memoryiosystem.h"

namespace {

constexpr int kSize = 32;
constexpr int kUnitsChecked = 4;

const char* kPassVertex = "!!ARBvp1.0\nMOV result.position, vertex.position;\nMOV result.color, vertex.color;\nEND\n";
const char* kPassFragment = "!!ARBfp1.0\nMOV result.color, fragment.color;\nEND\n";
// Hands its texture coordinates on unchanged, as the unlit program does (the comment names them too).
const char* kPassCoordsVertex =
    "!!ARBvp1.0\n# copies vertex.texcoord[0]\nMOV result.position, vertex.position;\n"
    "MOV result.color, vertex.color;\nMOV result.texcoord[0], vertex.texcoord[0];\nEND\n";
// Computes with them: its colour depends on the coordinates.
const char* kUseCoordsVertex =
    "!!ARBvp1.0\nMOV result.position, vertex.position;\nMOV result.color, vertex.texcoord[0];\nEND\n";
// Reads generic attribute 8 (the st pair) as its colour.
const char* kAttribVertex =
    "!!ARBvp1.0\nATTRIB st = vertex.attrib[8];\nMOV result.position, vertex.position;\n"
    "MOV result.color, st;\nEND\n";

using GetVertexAttribiv = void(GLAPIENTRY*)(GLuint, GLenum, GLint*);

GetVertexAttribiv getVertexAttribiv() {
  return reinterpret_cast<GetVertexAttribiv>(platformGLGetProcAddress("glGetVertexAttribivARB"));
}

// Everything the cache covers, as GL reports it.
struct GLSnapshot {
  std::vector<double> values;
  std::vector<std::string> names;
  void add(const char* name, double v) {
    names.push_back(name);
    values.push_back(v);
  }
};

int getInt(GLenum e) {
  GLint v = 0;
  qgl::glGetIntegerv(e, &v);
  return v;
}

GLSnapshot snapshot() {
  GLSnapshot s;
  s.add("blend", qgl::glIsEnabled(GL_BLEND));
  s.add("blend src", getInt(GL_BLEND_SRC));
  s.add("blend dst", getInt(GL_BLEND_DST));
  s.add("depth func", getInt(GL_DEPTH_FUNC));
  GLboolean b = 0;
  qgl::glGetBooleanv(GL_DEPTH_WRITEMASK, &b);
  s.add("depth mask", b);
  s.add("alpha test", qgl::glIsEnabled(GL_ALPHA_TEST));
  s.add("alpha func", getInt(GL_ALPHA_TEST_FUNC));
  GLfloat f = 0;
  qgl::glGetFloatv(GL_ALPHA_TEST_REF, &f);
  s.add("alpha ref", f);
  s.add("cull", qgl::glIsEnabled(GL_CULL_FACE));
  s.add("cull face", getInt(GL_CULL_FACE_MODE));
  GLboolean mask[4] = {};
  qgl::glGetBooleanv(GL_COLOR_WRITEMASK, mask);
  s.add("color mask", mask[0] | mask[1] << 1 | mask[2] << 2 | mask[3] << 3);
  GLint modes[2] = {};
  qgl::glGetIntegerv(GL_POLYGON_MODE, modes);
  s.add("polygon mode", modes[0]);
  s.add("offset fill", qgl::glIsEnabled(GL_POLYGON_OFFSET_FILL));
  s.add("offset line", qgl::glIsEnabled(GL_POLYGON_OFFSET_LINE));
  qgl::glGetFloatv(GL_POLYGON_OFFSET_FACTOR, &f);
  s.add("offset factor", f);
  qgl::glGetFloatv(GL_POLYGON_OFFSET_UNITS, &f);
  s.add("offset units", f);
  GLfloat range[2] = {};
  qgl::glGetFloatv(GL_DEPTH_RANGE, range);
  s.add("depth near", range[0]);
  s.add("depth far", range[1]);
  s.add("array buffer", getInt(GL_ARRAY_BUFFER_BINDING_ARB));
  s.add("vertex array", qgl::glIsEnabled(GL_VERTEX_ARRAY));
  s.add("color array", qgl::glIsEnabled(GL_COLOR_ARRAY));
  s.add("vertex program", qgl::glIsEnabled(GL_VERTEX_PROGRAM_ARB));
  s.add("fragment program", qgl::glIsEnabled(GL_FRAGMENT_PROGRAM_ARB));
  GLint program = 0;
  qgl::glGetProgramivARB(GL_VERTEX_PROGRAM_ARB, GL_PROGRAM_BINDING_ARB, &program);
  s.add("vertex program binding", program);
  qgl::glGetProgramivARB(GL_FRAGMENT_PROGRAM_ARB, GL_PROGRAM_BINDING_ARB, &program);
  s.add("fragment program binding", program);
  const int active = getInt(GL_ACTIVE_TEXTURE_ARB);
  const int client = getInt(GL_CLIENT_ACTIVE_TEXTURE_ARB);
  s.add("active unit", active);
  s.add("client unit", client);
  const int matrixMode = getInt(GL_MATRIX_MODE);
  for (int u = 0; u < kUnitsChecked; u++) {
    qgl::glActiveTextureARB(GL_TEXTURE0_ARB + u);
    qgl::glClientActiveTextureARB(GL_TEXTURE0_ARB + u);
    s.add("tex 2d", qgl::glIsEnabled(GL_TEXTURE_2D));
    s.add("tex cube", qgl::glIsEnabled(GL_TEXTURE_CUBE_MAP));
    s.add("binding 2d", getInt(GL_TEXTURE_BINDING_2D));
    s.add("binding cube", getInt(GL_TEXTURE_BINDING_CUBE_MAP));
    s.add("texcoord array", qgl::glIsEnabled(GL_TEXTURE_COORD_ARRAY));
    ::glGetTexEnvfv(GL_TEXTURE_FILTER_CONTROL_EXT, GL_TEXTURE_LOD_BIAS_EXT, &f);
    s.add("lod bias", f);
    float m[16];
    qgl::glGetFloatv(GL_TEXTURE_MATRIX, m);
    for (int i = 0; i < 16; i++)
      s.add("texture matrix", m[i]);
  }
  qgl::glActiveTextureARB(static_cast<GLenum>(active));
  qgl::glClientActiveTextureARB(static_cast<GLenum>(client));
  s.add("matrix mode", matrixMode);
  if (GetVertexAttribiv get = getVertexAttribiv()) {
    for (GLuint a = 8; a <= 12; a++) {
      GLint v = 0;
      get(a, GL_VERTEX_ATTRIB_ARRAY_ENABLED_ARB, &v);
      s.add("attrib enabled", v);
      get(a, GL_VERTEX_ATTRIB_ARRAY_BUFFER_BINDING_ARB, &v);
      s.add("attrib buffer", v);
      get(a, GL_VERTEX_ATTRIB_ARRAY_SIZE_ARB, &v);
      s.add("attrib size", v);
    }
  }
  for (GLuint reg = 16; reg <= 18; reg++) {
    float v[4];
    qgl::glGetProgramEnvParameterfvARB(GL_VERTEX_PROGRAM_ARB, reg, v);
    for (float x : v)
      s.add("vertex env", x);
  }
  return s;
}

std::string differences(const GLSnapshot& a, const GLSnapshot& b) {
  std::ostringstream out;
  for (size_t i = 0; i < a.values.size() && i < b.values.size(); i++)
    if (a.values[i] != b.values[i])
      out << a.names[i] << " [" << i << "]: " << a.values[i] << " vs " << b.values[i] << "\n";
  return out.str();
}

class StateCacheGLTest : public ::testing::Test {
 protected:
  void SetUp() override {
    io.addFile("glprogs/pass.vp", kPassVertex);
    io.addFile("glprogs/pass.fp", kPassFragment);
    io.addFile("glprogs/attrib.vp", kAttribVertex);
    io.addFile("glprogs/passcoords.vp", kPassCoordsVertex);
    io.addFile("glprogs/usecoords.vp", kUseCoordsVertex);
    window = platformGLCreateHiddenWindow(kSize, kSize, 32);
    if (window == nullptr) {
      gltest::noContext(platformGLError());
    }
  }
  void TearDown() override {
    device.reset();
    if (window)
      platformGLDestroyHiddenWindow(window);
  }

  bool start(bool filtering) {
    device.reset();
    device = std::make_unique<RenderOpenGL>();
    if (!device->init(window, nullptr, 0))
      return false;
    device->setStateFiltering(filtering);
    device->setViewport(0, 0, kSize, kSize);
    vertexProgram = device->shader().loadVertexProgram("pass.vp");
    fragmentProgram = device->shader().loadFragmentProgram("pass.fp");
    attribProgram = device->shader().loadVertexProgram("attrib.vp");
    for (int i = 0; i < 3; i++) {
      textures[i] = device->createTexture();
      device->bindTexture(i == 2 ? kTextureTypeCube : kTextureType2D, textures[i]);
    }
    DrawVertex v[3] = {};
    const float xy[3][2] = {{-1, -1}, {1, -1}, {0, 1}};
    for (int i = 0; i < 3; i++) {
      v[i].xyz[0] = xy[i][0];
      v[i].xyz[1] = xy[i][1];
      std::memset(v[i].color, 255, 4);
    }
    buffer = device->createVertexBuffer();
    device->uploadVertexBuffer(buffer, v, sizeof(v), true);
    other = device->createVertexBuffer();
    device->uploadVertexBuffer(other, v, sizeof(v), true);
    return vertexProgram >= 0 && fragmentProgram >= 0 && attribProgram >= 0;
  }

  // A sequence drawn from the seed: the calls the back end makes, with their values mixed.
  void runSequence(unsigned seed, int length) {
    std::mt19937 rng(seed);
    const auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    static const unsigned kIndexes[3] = {0, 1, 2};
    for (int i = 0; i < length; i++) {
      switch (pick(22)) {
        case 0: {
          const int blends[][2] = {{kBlendOne, kBlendZero}, {kBlendSrcAlpha, kBlendOneMinusSrcAlpha},
                                   {kBlendOne, kBlendOne}, {kBlendDstColor, kBlendZero}};
          const int k = pick(4);
          device->setBlendFunc(blends[k][0], blends[k][1]);
          break;
        }
        case 1: device->setDepthFunc(1 + pick(8)); break;
        case 2: device->setAlphaFunc(pick(2) ? kCompareAlways : kCompareGreater, pick(3) * 0.25f); break;
        case 3: device->setCullMode(pick(3)); break;
        case 4: device->setColorMask(pick(2), pick(2), pick(2), pick(2)); break;
        case 5: device->setDepthMask(pick(2) != 0); break;
        case 6: device->setPolygonMode(1 + pick(2)); break;
        case 7: {
          const bool on = pick(2) != 0;
          device->setPolygonOffset(on ? 1.0f : 0.0f, on ? -2.0f * pick(3) : 0.0f, pick(2) ? kOffsetLine : kOffsetFill);
          break;
        }
        case 8: device->selectTextureUnit(pick(kUnitsChecked), 0); break;
        case 9: {
          const int t = pick(3);
          device->bindTexture(t == 2 ? kTextureTypeCube : kTextureType2D, textures[t]);
          break;
        }
        case 10: device->resetTextureUnits(); break;
        case 11: {
          // Load a matrix into a pushed level, or push, load and pop again (the back end's pairs).
          Mat4 m = Mat4::identity();
          m.m[12] = static_cast<float>(pick(5));
          device->setMatrixMode(kMatrixTexture);
          if (pick(2)) {
            device->pushMatrix();
            device->loadMatrix(&m);
            device->popMatrix();
          } else {
            device->loadMatrix(&m);
          }
          device->setMatrixMode(kMatrixModelView);
          break;
        }
        case 12:
          device->shader().unbindAll();
          if (pick(2))
            device->shader().bind(vertexProgram);
          if (pick(2))
            device->shader().bind(fragmentProgram);
          break;
        case 13: device->bindVertexBuffer(buffer, pick(2) ? 0x7 : 0x1); break;
        case 14: device->unbindVertexBuffer(); break;
        case 15: device->setTextureLodBias(static_cast<float>(pick(3)) - 1.0f); break;
        case 17: {
          const float v[2][4] = {{static_cast<float>(pick(2)), 0.5f, 0.0f, 1.0f},
                                 {0.25f, static_cast<float>(pick(2)), 0.0f, 1.0f}};
          if (pick(2)) {
            device->shader().setEnvParam(vertexProgram, 16 + pick(3), v[0]);
          } else {
            device->shader().setEnvParams(vertexProgram, 16 + pick(2), 2, v);  // 16-17 or 17-18
          }
          break;
        }
        case 16:
          if (device->bindVertexBuffer(pick(2) ? buffer : other, 0x7))
            device->drawTriangles(kIndexes, 3);
          break;
        case 18:
          // The stage binder's pointers, for a buffer that may not be the bound one.
          device->setVertexAttribPointers(pick(2) ? buffer : other, pick(2) ? 0x8 : 0);
          break;
        case 19: device->disableVertexAttribArrays(); break;
        case 21:
          // The weapon's depth hack and the scissor resets around it.
          device->setDepthRange(0.0f, pick(2) ? 0.3f : 1.0f);
          break;
        case 20:
          // A program that reads the attributes, drawn at once.
          device->shader().bind(attribProgram);
          if (device->bindVertexBuffer(pick(2) ? buffer : other, 0x7))
            device->drawTriangles(kIndexes, 3);
          break;
      }
    }
    device->flushDeferredState();
  }

  MemoryIOSystem io;
  CaptureCmdSystem console;
  void* window = nullptr;
  std::unique_ptr<RenderOpenGL> device;
  int vertexProgram = -1;
  int fragmentProgram = -1;
  unsigned textures[3] = {};
  VertexBufferHandle* buffer = nullptr;
  VertexBufferHandle* other = nullptr;
  int attribProgram = -1;

  void freeBuffers() {
    device->freeVertexBuffer(&buffer);
    device->freeVertexBuffer(&other);
  }
};

TEST_F(StateCacheGLTest, FilteredSequencesLeaveGLAsUnfilteredOnesDo) {
  for (unsigned seed : {1u, 2u, 3u, 17u, 99u, 1234u}) {
    SCOPED_TRACE(seed);
    ASSERT_TRUE(start(false)) << console.text;
    runSequence(seed, 400);
    const GLSnapshot reference = snapshot();
    freeBuffers();
    ASSERT_TRUE(start(true)) << console.text;
    runSequence(seed, 400);
    const GLSnapshot filtered = snapshot();
    ASSERT_EQ(reference.values.size(), filtered.values.size());
    EXPECT_EQ(differences(reference, filtered), "");
    freeBuffers();
  }
}

TEST_F(StateCacheGLTest, WhatTheCacheKnowsIsWhatGLHolds) {
  ASSERT_TRUE(start(true));
  runSequence(7, 300);
  const GLStateCache& c = device->stateCache();
  if (c.cap[GLStateCache::kCapBlend] >= 0) {
    EXPECT_EQ(c.cap[GLStateCache::kCapBlend], qgl::glIsEnabled(GL_BLEND));
  }
  if (c.cap[GLStateCache::kCapCullFace] >= 0) {
    EXPECT_EQ(c.cap[GLStateCache::kCapCullFace], qgl::glIsEnabled(GL_CULL_FACE));
  }
  if (c.depthFunc >= 0) {
    EXPECT_EQ(RenderOpenGL::compareFuncToGL(c.depthFunc), getInt(GL_DEPTH_FUNC));
  }
  if (c.depthRangeKnown) {
    GLfloat range[2] = {};
    qgl::glGetFloatv(GL_DEPTH_RANGE, range);
    EXPECT_EQ(c.depthNear, range[0]);
    EXPECT_EQ(c.depthFar, range[1]);
  }
  if (c.matrixMode >= 0) {
    EXPECT_EQ(c.matrixMode, getInt(GL_MATRIX_MODE));
  }
  if (c.activeUnit >= 0) {
    EXPECT_EQ(GL_TEXTURE0_ARB + c.activeUnit, getInt(GL_ACTIVE_TEXTURE_ARB));
  }
  if (c.arrayBuffer >= 0) {
    EXPECT_EQ(c.arrayBuffer, getInt(GL_ARRAY_BUFFER_BINDING_ARB));
  }
  const int active = getInt(GL_ACTIVE_TEXTURE_ARB);
  for (int u = 0; u < kUnitsChecked; u++) {
    qgl::glActiveTextureARB(GL_TEXTURE0_ARB + u);
    const GLStateCache::Unit& unit = c.units[u];
    if (unit.enabled[kTextureType2D] >= 0) {
      EXPECT_EQ(unit.enabled[kTextureType2D], qgl::glIsEnabled(GL_TEXTURE_2D)) << u;
    }
    if (unit.bound[kTextureType2D] >= 0) {
      EXPECT_EQ(unit.bound[kTextureType2D], getInt(GL_TEXTURE_BINDING_2D)) << u;
    }
    if (unit.loadedKnown) {
      float m[16];
      qgl::glGetFloatv(GL_TEXTURE_MATRIX, m);
      EXPECT_EQ(std::memcmp(m, unit.loaded, sizeof(m)), 0) << u;
    }
  }
  qgl::glActiveTextureARB(static_cast<GLenum>(active));
  freeBuffers();
}

// Counting wrappers for the GL entry points the per-surface sequence uses most.
int s_calls = 0;
decltype(qgl::glEnable) s_realEnable;
decltype(qgl::glDisable) s_realDisable;
decltype(qgl::glMatrixMode) s_realMatrixMode;
decltype(qgl::glLoadIdentity) s_realLoadIdentity;
decltype(qgl::glBindTexture) s_realBindTexture;
decltype(qgl::glDepthRange) s_realDepthRange;
void GLAPIENTRY countEnable(GLenum cap) { ++s_calls, s_realEnable(cap); }
void GLAPIENTRY countDisable(GLenum cap) { ++s_calls, s_realDisable(cap); }
void GLAPIENTRY countMatrixMode(GLenum mode) { ++s_calls, s_realMatrixMode(mode); }
void GLAPIENTRY countLoadIdentity() { ++s_calls, s_realLoadIdentity(); }
void GLAPIENTRY countBindTexture(GLenum target, GLuint name) { ++s_calls, s_realBindTexture(target, name); }
void GLAPIENTRY countDepthRange(GLclampd zNear, GLclampd zFar) { ++s_calls, s_realDepthRange(zNear, zFar); }

TEST_F(StateCacheGLTest, ARepeatedSurfaceReachesGLOnlyForWhatChanges) {
  // One surface as the back end draws it: the scissor reset's full depth range, programs off then
  // on, a texture with an identity texture matrix pushed and popped, the draw, every unit reset.
  const auto surface = [&] {
    device->setDepthRange(0.0f, 1.0f);
    static const unsigned kIndexes[3] = {0, 1, 2};
    device->shader().unbindAll();
    device->shader().bind(vertexProgram);
    device->selectTextureUnit(0, 0);
    device->bindTexture(kTextureType2D, textures[0]);
    device->setMatrixMode(kMatrixTexture);
    device->pushMatrix();
    device->loadIdentity();
    device->setMatrixMode(kMatrixModelView);
    device->bindVertexBuffer(buffer, 0x7);
    device->drawTriangles(kIndexes, 3);
    device->setMatrixMode(kMatrixTexture);
    device->popMatrix();
    device->setMatrixMode(kMatrixModelView);
    device->resetTextureUnits();
  };
  int counts[2] = {};
  for (int filtering = 0; filtering < 2; filtering++) {
    ASSERT_TRUE(start(filtering != 0));
    surface();  // the first draw sets what it needs
    s_realEnable = qgl::glEnable;
    s_realDisable = qgl::glDisable;
    s_realMatrixMode = qgl::glMatrixMode;
    s_realLoadIdentity = qgl::glLoadIdentity;
    s_realBindTexture = qgl::glBindTexture;
    s_realDepthRange = qgl::glDepthRange;
    qgl::glEnable = countEnable;
    qgl::glDisable = countDisable;
    qgl::glMatrixMode = countMatrixMode;
    qgl::glLoadIdentity = countLoadIdentity;
    qgl::glBindTexture = countBindTexture;
    qgl::glDepthRange = countDepthRange;
    s_calls = 0;
    for (int i = 0; i < 10; i++)
      surface();
    counts[filtering] = s_calls;
    qgl::glEnable = s_realEnable;
    qgl::glDisable = s_realDisable;
    qgl::glMatrixMode = s_realMatrixMode;
    qgl::glLoadIdentity = s_realLoadIdentity;
    qgl::glBindTexture = s_realBindTexture;
    qgl::glDepthRange = s_realDepthRange;
    freeBuffers();
  }
  EXPECT_GE(counts[0], 110) << "every call reaches GL without the cache";
  EXPECT_EQ(counts[1], 0) << "nothing changes from one identical surface to the next";
}

int s_attribPointers = 0;
int s_attribToggles = 0;
decltype(qgl::glVertexAttribPointerARB) s_realAttribPointer;
decltype(qgl::glEnableVertexAttribArrayARB) s_realEnableAttrib;
decltype(qgl::glDisableVertexAttribArrayARB) s_realDisableAttrib;
void GLAPIENTRY countAttribPointer(GLuint index, GLint size, GLenum type, GLboolean normalized,
                                   GLsizei stride, const void* pointer) {
  ++s_attribPointers;
  s_realAttribPointer(index, size, type, normalized, stride, pointer);
}
void GLAPIENTRY countEnableAttrib(GLuint index) { ++s_attribToggles, s_realEnableAttrib(index); }
void GLAPIENTRY countDisableAttrib(GLuint index) { ++s_attribToggles, s_realDisableAttrib(index); }

TEST_F(StateCacheGLTest, GenericAttributesReachGLOnlyForProgramsThatReadThem) {
  ASSERT_TRUE(start(true));
  // Surfaces as the back end draws them: the geometry binding and the stage binder both point the
  // attributes at the surface's buffer, the unbind turns them off; two buffers take turns.
  const auto surfaces = [&](int program) {
    static const unsigned kIndexes[3] = {0, 1, 2};
    for (int i = 0; i < 4; i++) {
      VertexBufferHandle* b = i % 2 ? other : buffer;
      device->shader().unbindAll();
      if (program >= 0)
        device->shader().bind(program);
      device->bindVertexBuffer(b, 0x13);
      device->setVertexAttribPointers(b, 0x13);
      device->drawTriangles(kIndexes, 3);
      device->unbindVertexBuffer();
    }
  };
  s_realAttribPointer = qgl::glVertexAttribPointerARB;
  s_realEnableAttrib = qgl::glEnableVertexAttribArrayARB;
  s_realDisableAttrib = qgl::glDisableVertexAttribArrayARB;
  qgl::glVertexAttribPointerARB = countAttribPointer;
  qgl::glEnableVertexAttribArrayARB = countEnableAttrib;
  qgl::glDisableVertexAttribArrayARB = countDisableAttrib;
  struct Case {
    const char* what;
    int program;
    int pointers;
    int toggles;
  };
  const Case cases[] = {
      {"fixed function", -1, 0, 0},
      {"a program without generic attributes", vertexProgram, 0, 0},
      // Once per surface, as each has its own buffer; switched on once and left on.
      {"a program reading attribute 8", attribProgram, 4 * 5, 5},
      {"the same program again", attribProgram, 4 * 5, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    s_attribPointers = s_attribToggles = 0;
    surfaces(c.program);
    EXPECT_EQ(s_attribPointers, c.pointers);
    EXPECT_EQ(s_attribToggles, c.toggles);
  }
  // Asked for everything, GL ends as the calls left it: the unbind turned the arrays off.
  s_attribToggles = 0;
  device->flushDeferredState();
  EXPECT_EQ(s_attribToggles, 5);
  qgl::glVertexAttribPointerARB = s_realAttribPointer;
  qgl::glEnableVertexAttribArrayARB = s_realEnableAttrib;
  qgl::glDisableVertexAttribArrayARB = s_realDisableAttrib;
  if (GetVertexAttribiv get = getVertexAttribiv()) {
    GLint on = 1;
    get(8, GL_VERTEX_ATTRIB_ARRAY_ENABLED_ARB, &on);
    EXPECT_EQ(on, 0);
  }
  freeBuffers();
}

TEST_F(StateCacheGLTest, ANewContextOrAContextSwitchForgetsTheCache) {
  ASSERT_TRUE(start(true));
  device->setBlendFunc(kBlendSrcAlpha, kBlendOneMinusSrcAlpha);
  device->setCullMode(kCullFront);
  device->selectTextureUnit(0, 0);
  device->bindTexture(kTextureType2D, textures[0]);
  device->flushDeferredState();
  EXPECT_TRUE(qgl::glIsEnabled(GL_BLEND));

  // "vid_restart": the device shuts down and starts a new context with GL's defaults; the same
  // calls must reach it.
  freeBuffers();
  device->shutdown();
  ASSERT_TRUE(device->init(window, nullptr, 0));
  EXPECT_FALSE(qgl::glIsEnabled(GL_BLEND)) << "a new context starts with blending off";
  device->setBlendFunc(kBlendSrcAlpha, kBlendOneMinusSrcAlpha);
  device->setCullMode(kCullFront);
  const unsigned texture = device->createTexture();
  device->selectTextureUnit(0, 0);
  device->bindTexture(kTextureType2D, texture);
  device->flushDeferredState();
  EXPECT_TRUE(qgl::glIsEnabled(GL_BLEND));
  EXPECT_EQ(getInt(GL_BLEND_SRC), GL_SRC_ALPHA);
  EXPECT_TRUE(qgl::glIsEnabled(GL_CULL_FACE));
  EXPECT_EQ(getInt(GL_CULL_FACE_MODE), GL_FRONT);
  EXPECT_TRUE(qgl::glIsEnabled(GL_TEXTURE_2D));
  EXPECT_EQ(getInt(GL_TEXTURE_BINDING_2D), static_cast<int>(texture));

  // Another context made current and back: the main context's state is set again when asked.
  RenderContextRecord* sub = device->allocSubContext(window);
  ASSERT_NE(sub, nullptr);
  device->makeCurrent(sub);
  device->setDepthMask(false);
  device->setBlendFunc(kBlendOne, kBlendOne);
  device->makeMainContextCurrent();
  device->setBlendFunc(kBlendOne, kBlendOne);
  EXPECT_TRUE(qgl::glIsEnabled(GL_BLEND));
  EXPECT_EQ(getInt(GL_BLEND_SRC), GL_ONE);
  EXPECT_EQ(getInt(GL_BLEND_DST), GL_ONE);
  device->setDepthMask(false);
  GLboolean mask = GL_TRUE;
  qgl::glGetBooleanv(GL_DEPTH_WRITEMASK, &mask);
  EXPECT_EQ(mask, GL_FALSE);
  device->freeSubContext(sub);
  device->deleteTexture(texture);
}


int s_texCoordPointers = 0;
decltype(qgl::glTexCoordPointer) s_realTexCoordPointer;
void GLAPIENTRY countTexCoordPointer(GLint size, GLenum type, GLsizei stride, const void* pointer) {
  ++s_texCoordPointers;
  s_realTexCoordPointer(size, type, stride, pointer);
}

TEST_F(StateCacheGLTest, TextureCoordinatesReachGLOnlyForDrawsThatReadThem) {
  ASSERT_TRUE(start(true));
  const int passCoords = device->shader().loadVertexProgram("passcoords.vp");
  const int useCoords = device->shader().loadVertexProgram("usecoords.vp");
  ASSERT_GE(passCoords, 0);
  ASSERT_GE(useCoords, 0);
  struct Case {
    const char* what;
    int vertex;     // -1 fixed function
    int fragment;   // -1 none
    bool textured;  // a 2D texture on unit 0
    bool reads;
  };
  const Case cases[] = {
      {"fixed function, untextured", -1, -1, false, false},
      {"a program that hands coordinates on, untextured", passCoords, -1, false, false},
      {"a program without coordinates, untextured", vertexProgram, -1, false, false},
      {"fixed function, textured", -1, -1, true, true},
      {"a program that hands coordinates on, textured", passCoords, -1, true, true},
      {"a program that computes with them", useCoords, -1, false, true},
      {"a fragment program", passCoords, fragmentProgram, false, true},
  };
  s_realTexCoordPointer = qgl::glTexCoordPointer;
  qgl::glTexCoordPointer = countTexCoordPointer;
  static const unsigned kIndexes[3] = {0, 1, 2};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    s_texCoordPointers = 0;
    for (int i = 0; i < 4; i++) {
      device->shader().unbindAll();
      if (c.vertex >= 0)
        device->shader().bind(c.vertex);
      if (c.fragment >= 0)
        device->shader().bind(c.fragment);
      device->resetTextureUnits();
      if (c.textured)
        device->bindTexture(kTextureType2D, textures[0]);
      device->setMatrixMode(kMatrixModelView);
      ASSERT_TRUE(device->bindVertexBuffer(i % 2 ? other : buffer, 0x7));
      device->drawTriangles(kIndexes, 3);
      // What the draw ran with: an array only where its fragments read it.
      EXPECT_EQ(qgl::glIsEnabled(GL_TEXTURE_COORD_ARRAY), c.reads ? GL_TRUE : GL_FALSE) << i;
      device->unbindVertexBuffer();
    }
    EXPECT_EQ(s_texCoordPointers, c.reads ? 4 : 0);
  }
  // Asked for everything, GL ends as the calls left it; a binding flushed before any draw is applied
  // as asked.
  device->flushDeferredState();
  EXPECT_EQ(qgl::glIsEnabled(GL_TEXTURE_COORD_ARRAY), GL_FALSE);
  s_texCoordPointers = 0;
  device->shader().unbindAll();
  device->resetTextureUnits();
  ASSERT_TRUE(device->bindVertexBuffer(buffer, 0x7));
  device->flushDeferredState();
  EXPECT_EQ(s_texCoordPointers, 1);
  EXPECT_EQ(qgl::glIsEnabled(GL_TEXTURE_COORD_ARRAY), GL_TRUE);
  GLint pointerBuffer = 0;
  qgl::glGetIntegerv(GL_TEXTURE_COORD_ARRAY_BUFFER_BINDING_ARB, &pointerBuffer);
  EXPECT_EQ(static_cast<unsigned>(pointerBuffer), buffer->bufferId);
  device->unbindVertexBuffer();
  device->flushDeferredState();
  qgl::glTexCoordPointer = s_realTexCoordPointer;
  freeBuffers();
}

}  // namespace
