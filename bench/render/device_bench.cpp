// Render device figures on a real context (llvmpipe under SDL's offscreen driver):
//  - GL calls per frame for a fixed sequence of state changes, with and without the device's
//    redundant-state filtering (a count: the "glCalls" counter, not the time);
//  - triangles per second for a 100k-triangle vertex buffer drawn through the device, and the
//    same draw issued as raw GL on the same context.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/gl.h"
#include "render/device/glextensions.h"
#include "render/device/renderopengl.h"

namespace {

constexpr int kSize = 64;
constexpr int kTriangles = 100000;

struct Context {
  void* window = nullptr;
  RenderOpenGL* device = nullptr;
  VertexBufferHandle* buffer = nullptr;
  std::vector<unsigned> indices;
};

Context* context() {
  static Context* shared = [] {
    Context* c = new Context();
    c->window = platformGLCreateHiddenWindow(kSize, kSize, 32);
    c->device = new RenderOpenGL();
    if (c->window == nullptr || !c->device->init(c->window, nullptr, 0)) {
      std::fprintf(stderr, "device_bench: no GL context (%s)\n", platformGLError());
      std::exit(1);
    }
    // Small triangles scattered over the viewport: the figure is vertex and submission throughput.
    std::vector<DrawVertex> vertices(kTriangles * 3);
    for (int t = 0; t < kTriangles; ++t) {
      const float x = -1.0f + 2.0f * static_cast<float>(t % 251) / 251.0f;
      const float y = -1.0f + 2.0f * static_cast<float>((t / 251) % 241) / 241.0f;
      const float corners[3][2] = {{x, y}, {x + 0.01f, y}, {x, y + 0.01f}};
      for (int k = 0; k < 3; ++k) {
        DrawVertex& v = vertices[t * 3 + k];
        v = DrawVertex{};
        v.xyz[0] = corners[k][0];
        v.xyz[1] = corners[k][1];
        v.color[0] = v.color[3] = 255;
      }
    }
    c->indices.resize(vertices.size());
    for (size_t i = 0; i < c->indices.size(); ++i) {
      c->indices[i] = static_cast<unsigned>(i);
    }
    c->buffer = c->device->createVertexBuffer();
    c->device->uploadVertexBuffer(c->buffer, vertices.data(),
                                  static_cast<int>(vertices.size() * sizeof(DrawVertex)), true);
    c->device->setViewport(0, 0, kSize, kSize);
    c->device->setScissor(0, 0, kSize, kSize);
    return c;
  }();
  return shared;
}

// Counting stand-ins for the entry points the filtered operations use; each forwards to the driver.
long g_glCalls = 0;
decltype(qgl::glScissor) realScissor;
decltype(qgl::glEnable) realEnable;
decltype(qgl::glDisable) realDisable;
PFNGLENABLEVERTEXATTRIBARRAYARBPROC realEnableAttrib;
PFNGLDISABLEVERTEXATTRIBARRAYARBPROC realDisableAttrib;
PFNGLVERTEXATTRIBPOINTERARBPROC realAttribPointer;
bool (*realMakeCurrent)(void*, void*);

void countScissor(GLint x, GLint y, GLsizei w, GLsizei h) {
  ++g_glCalls;
  realScissor(x, y, w, h);
}
void countEnable(GLenum cap) {
  ++g_glCalls;
  realEnable(cap);
}
void countDisable(GLenum cap) {
  ++g_glCalls;
  realDisable(cap);
}
void countEnableAttrib(GLuint index) {
  ++g_glCalls;
  realEnableAttrib(index);
}
void countDisableAttrib(GLuint index) {
  ++g_glCalls;
  realDisableAttrib(index);
}
void countAttribPointer(GLuint index, GLint size, GLenum type, GLboolean normalized, GLsizei stride,
                        const void* pointer) {
  ++g_glCalls;
  realAttribPointer(index, size, type, normalized, stride, pointer);
}
bool countMakeCurrent(void* window, void* glContext) {
  ++g_glCalls;
  return realMakeCurrent(window, glContext);
}

struct CountingScope {
  CountingScope() {
    realScissor = qgl::glScissor;
    realEnable = qgl::glEnable;
    realDisable = qgl::glDisable;
    realEnableAttrib = qgl::glEnableVertexAttribArrayARB;
    realDisableAttrib = qgl::glDisableVertexAttribArrayARB;
    realAttribPointer = qgl::glVertexAttribPointerARB;
    realMakeCurrent = qgl::ctx.makeCurrent;
    qgl::glScissor = countScissor;
    qgl::glEnable = countEnable;
    qgl::glDisable = countDisable;
    qgl::glEnableVertexAttribArrayARB = countEnableAttrib;
    qgl::glDisableVertexAttribArrayARB = countDisableAttrib;
    qgl::glVertexAttribPointerARB = countAttribPointer;
    qgl::ctx.makeCurrent = countMakeCurrent;
  }
  ~CountingScope() {
    qgl::glScissor = realScissor;
    qgl::glEnable = realEnable;
    qgl::glDisable = realDisable;
    qgl::glEnableVertexAttribArrayARB = realEnableAttrib;
    qgl::glDisableVertexAttribArrayARB = realDisableAttrib;
    qgl::glVertexAttribPointerARB = realAttribPointer;
    qgl::ctx.makeCurrent = realMakeCurrent;
  }
};

// One frame's worth of state traffic as the renderer issues it: 200 surfaces in 20 scissor groups,
// a mirror clip plane on for the first half, generic attributes for every surface, the main
// context re-selected per surface and 10 object creations bracketed by push/pop.
void stateFrame(RenderOpenGL& device) {
  for (int surface = 0; surface < 200; ++surface) {
    const int group = surface / 10;
    device.setScissor(group, group, kSize - group, kSize - group);
    if (surface < 100) {
      device.enableClipPlane(0);
    } else {
      device.disableClipPlane(0);
    }
    device.makeMainContextCurrent();
    device.setVertexAttribPointers(context()->buffer, kVertexArrayTexCoord);
    if (surface % 20 == 0) {
      device.pushContext();
      device.makeMainContextCurrent();
      device.popContext();
    }
  }
  device.disableVertexAttribArrays();
  device.disableClipPlane(0);
}

void BM_StateChangeGLCalls(benchmark::State& state) {
  RenderOpenGL& device = *context()->device;
  device.setStateFiltering(state.range(0) != 0);
  long calls = 0;
  long frames = 0;
  {
    CountingScope counting;
    for (auto _ : state) {
      g_glCalls = 0;
      stateFrame(device);
      calls += g_glCalls;
      ++frames;
    }
  }
  device.setStateFiltering(true);
  state.counters["glCalls"] = benchmark::Counter(static_cast<double>(calls) / static_cast<double>(frames));
  state.SetLabel(state.range(0) != 0 ? "filtering on" : "filtering off");
}
BENCHMARK(BM_StateChangeGLCalls)->Arg(1)->Arg(0);

void BM_DrawThroughDevice(benchmark::State& state) {
  Context& c = *context();
  RenderOpenGL& device = *c.device;
  for (auto _ : state) {
    device.clear(kClearColor | kClearDepth);
    device.bindVertexBuffer(c.buffer, kVertexArrayPosition | kVertexArrayColor);
    device.drawTriangles(c.indices.data(), static_cast<int>(c.indices.size()));
    device.unbindVertexBuffer();
    device.finish();
  }
  state.SetItemsProcessed(state.iterations() * kTriangles);
}
BENCHMARK(BM_DrawThroughDevice)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_DrawRawGL(benchmark::State& state) {
  Context& c = *context();
  for (auto _ : state) {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    qgl::glBindBufferARB(GL_ARRAY_BUFFER_ARB, c.buffer->bufferId);
    glEnableClientState(GL_VERTEX_ARRAY);
    glVertexPointer(3, GL_FLOAT, sizeof(DrawVertex), nullptr);
    glEnableClientState(GL_COLOR_ARRAY);
    glColorPointer(4, GL_UNSIGNED_BYTE, sizeof(DrawVertex), reinterpret_cast<const void*>(64));
    glDrawElements(GL_TRIANGLES, static_cast<GLsizei>(c.indices.size()), GL_UNSIGNED_INT, c.indices.data());
    glDisableClientState(GL_COLOR_ARRAY);
    glDisableClientState(GL_VERTEX_ARRAY);
    qgl::glBindBufferARB(GL_ARRAY_BUFFER_ARB, 0);
    glFinish();
  }
  state.SetItemsProcessed(state.iterations() * kTriangles);
}
BENCHMARK(BM_DrawRawGL)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
