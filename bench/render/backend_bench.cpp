// Back-end overhead on llvmpipe (SDL's offscreen driver): 10,000 single-stage surfaces (one quad
// each, its own vertex buffer) drawn through the back end's stage binder and surface routine, against
// the same draws issued as raw GL on the same context (program, colour parameters, buffer, pointers,
// blend/alpha/depth state, draw, unbind). Both finish the GPU work in each iteration. Run with
// --benchmark_repetitions=N --benchmark_enable_random_interleaving=true and compare medians.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "bench/support/glbench.h"
#include "platform/gl.h"
#include "render/backend/renderbackend.h"
#include "render/device/glextensions.h"
#include "render/device/renderopengl.h"
#include "render/material/material.h"

namespace {

constexpr int kSize = 64;
constexpr int kSurfaces = 10000;

const unsigned kQuadIndexes[6] = {0, 3, 2, 0, 2, 1};

struct Context {
  void* window = nullptr;
  RenderOpenGL* device = nullptr;
  Material* material = nullptr;
  std::vector<VertexBufferHandle*> buffers;
  int program = -1;
  GLuint programId = 0;
};

Context* context() {
  static Context* shared = [] {
    Context* c = new Context();
    // A game tree holding the program the back end draws with.
    benchgl::openGameTree("backend_bench");
    const benchgl::Device d = benchgl::openDevice("backend_bench", kSize, kSize);
    c->window = d.window;
    c->device = d.device;
    g_renderBackEnd.reset();
    g_renderBackEnd.setViewport(0, 0, kSize, kSize);
    g_renderBackEnd.setRenderSize(kSize, kSize);
    g_renderBackEnd.applyViewport();
    g_renderBackEnd.setOrtho2D(kSize, kSize);
    c->program = g_renderBackEnd.unlitProgram();
    if (c->program < 0)
      benchgl::fail("backend_bench", "unlit.vp did not load");
    GLint id = 0;
    c->device->shader().bind(c->program);
    qgl::glGetProgramivARB(GL_VERTEX_PROGRAM_ARB, GL_PROGRAM_BINDING_ARB, &id);
    c->programId = static_cast<GLuint>(id);
    c->device->shader().unbindAll();

    const char* body = "{\nmap _white\nred 1\ngreen 0.5\nblue 0\n}\n";
    c->material = new Material();
    c->material->parse(body, static_cast<int>(std::strlen(body)));

    // Small quads scattered over the window.
    for (int i = 0; i < kSurfaces; ++i) {
      const float x = static_cast<float>(i % 60);
      const float y = static_cast<float>((i / 60) % 60);
      DrawVertex v[4] = {};
      const float xy[4][2] = {{x, y}, {x + 4, y}, {x + 4, y + 4}, {x, y + 4}};
      for (int k = 0; k < 4; ++k) {
        v[k].xyz[0] = xy[k][0];
        v[k].xyz[1] = xy[k][1];
        std::memset(v[k].color, 255, 4);
      }
      VertexBufferHandle* buffer = c->device->createVertexBuffer();
      c->device->uploadVertexBuffer(buffer, v, sizeof(v), true);
      c->buffers.push_back(buffer);
    }
    return c;
  }();
  return shared;
}

void BM_SurfacesThroughBackEnd(benchmark::State& state) {
  Context* c = context();
  DrawSurface surf;
  surf.material = c->material;
  surf.indexes = kQuadIndexes;
  surf.numIndexes = 6;
  for (auto _ : state) {
    g_renderBackEnd.setupPass();
    for (VertexBufferHandle* buffer : c->buffers) {
      surf.vertexBuffer = buffer;
      g_renderBackEnd.setDrawSurface(&surf);
      g_renderBackEnd.drawStageRange(0, 1, true);
    }
    qgl::glFinish();
  }
  state.counters["surfaces/s"] =
      benchmark::Counter(static_cast<double>(kSurfaces) * state.iterations(), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_SurfacesThroughBackEnd)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same draws with the GL state each surface needs, set directly. With the argument 1 the loop
// also makes the GL state changes the back end's calls would cost without the device's state cache
// (program disable and enable, texture matrix push and pop, generic attribute arrays, texture unit
// reset, LOD bias), which shows what the cache saves in the driver.
void BM_SurfacesRawGL(benchmark::State& state) {
  const bool sameState = state.range(0) != 0;
  Context* c = context();
  const GLuint white = static_cast<GLuint>(g_whiteImage->getTextureId());
  const float multiply[4] = {0, 0, 0, 0};
  const float add[4] = {1.0f, 0.5f, 0.0f, 1.0f};
  for (auto _ : state) {
    qgl::glEnable(GL_VERTEX_PROGRAM_ARB);
    qgl::glBindProgramARB(GL_VERTEX_PROGRAM_ARB, c->programId);
    for (VertexBufferHandle* buffer : c->buffers) {
      if (sameState) {
        qgl::glDisable(GL_VERTEX_PROGRAM_ARB);
        qgl::glEnable(GL_VERTEX_PROGRAM_ARB);
        qgl::glBindProgramARB(GL_VERTEX_PROGRAM_ARB, c->programId);
        qgl::glTexEnvf(GL_TEXTURE_FILTER_CONTROL_EXT, GL_TEXTURE_LOD_BIAS_EXT, 0.0f);
        qgl::glMatrixMode(GL_TEXTURE);
        qgl::glPushMatrix();
        qgl::glLoadIdentity();
        qgl::glMatrixMode(GL_MODELVIEW);
        for (GLuint a = 8; a <= 12; ++a) {
          qgl::glEnableVertexAttribArrayARB(a);
        }
      }
      qgl::glProgramEnvParameter4fvARB(GL_VERTEX_PROGRAM_ARB, 16, multiply);
      qgl::glProgramEnvParameter4fvARB(GL_VERTEX_PROGRAM_ARB, 17, add);
      qgl::glActiveTextureARB(GL_TEXTURE0_ARB);
      qgl::glEnable(GL_TEXTURE_2D);
      qgl::glBindTexture(GL_TEXTURE_2D, white);
      qgl::glDisable(GL_BLEND);
      qgl::glDisable(GL_ALPHA_TEST);
      qgl::glDepthFunc(GL_LEQUAL);
      qgl::glDepthMask(GL_TRUE);
      qgl::glBindBufferARB(GL_ARRAY_BUFFER_ARB, buffer->bufferId);
      qgl::glEnableClientState(GL_VERTEX_ARRAY);
      qgl::glVertexPointer(3, GL_FLOAT, 68, reinterpret_cast<void*>(0));
      qgl::glEnableClientState(GL_TEXTURE_COORD_ARRAY);
      qgl::glTexCoordPointer(2, GL_FLOAT, 68, reinterpret_cast<void*>(12));
      qgl::glEnableClientState(GL_COLOR_ARRAY);
      qgl::glColorPointer(4, GL_UNSIGNED_BYTE, 68, reinterpret_cast<void*>(64));
      qgl::glDrawElements(GL_TRIANGLES, 6, GL_UNSIGNED_INT, kQuadIndexes);
      qgl::glDisableClientState(GL_VERTEX_ARRAY);
      qgl::glDisableClientState(GL_TEXTURE_COORD_ARRAY);
      qgl::glDisableClientState(GL_COLOR_ARRAY);
      qgl::glBindBufferARB(GL_ARRAY_BUFFER_ARB, 0);
      if (sameState) {
        for (GLuint a = 8; a <= 12; ++a) {
          qgl::glDisableVertexAttribArrayARB(a);
        }
        qgl::glMatrixMode(GL_TEXTURE);
        qgl::glPopMatrix();
        qgl::glDisable(GL_TEXTURE_2D);
        qgl::glDisable(GL_TEXTURE_CUBE_MAP);
        qgl::glLoadIdentity();
        qgl::glMatrixMode(GL_MODELVIEW);
      }
    }
    qgl::glDisable(GL_VERTEX_PROGRAM_ARB);
    qgl::glFinish();
  }
  // GL was set behind the device's back: its state cache starts over.
  c->device->invalidateStateCache();
  state.counters["surfaces/s"] =
      benchmark::Counter(static_cast<double>(kSurfaces) * state.iterations(), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_SurfacesRawGL)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
