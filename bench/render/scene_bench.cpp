// Scene frame time on llvmpipe (SDL's offscreen driver): 200, 800 or 3,200 model entities (the
// 12-triangle default box, one colour stage each) and 0, 8 or 16 lights drawn by
// RenderManager::renderScene (depth fill, then the surfaces' stages) plus endFrame, against the same
// two passes over the same vertex buffers issued as raw GL. Both finish the GPU work in each
// iteration. Run with --benchmark_repetitions=N --benchmark_enable_random_interleaving=true and
// compare medians of each pair with the same arguments.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "bench/support/glbench.h"
#include "platform/gl.h"
#include "render/backend/renderbackend.h"
#include "render/device/glextensions.h"
#include "render/device/renderopengl.h"
#include "render/material/material.h"
#include "render/model/basemodel.h"
#include "render/scene/rendermanager.h"

namespace {

constexpr int kWidth = 256;
constexpr int kHeight = 192;
constexpr int kEntities = 200;  // at 1x; the benchmarks take 1, 4 and 16 times as many

struct Context {
  RenderOpenGL* device = nullptr;
  RenderManager* manager = nullptr;
  Material* material = nullptr;
  BaseModel* box = nullptr;
  RenderView view;
  GLuint programId = 0;
  std::vector<int> entities;
  std::vector<int> lights;
};

// Rows of 20 boxes going away from the camera; lights along the first rows.
void configure(Context* c, int entities, int lights) {
  if (int(c->entities.size()) == entities && int(c->lights.size()) == lights)
    return;
  for (int index : c->entities)
    c->manager->freeEntityDef(index);
  for (int index : c->lights)
    c->manager->freeLightDef(index);
  c->entities.clear();
  c->lights.clear();
  for (int i = 0; i < entities; ++i) {
    RenderEntity e;
    e.model = c->box;
    e.customMaterial = c->material;
    e.origin = Vec3(200.0f + float(i / 20) * 20.0f, float(i % 20) * 20.0f - 190.0f, 0.0f);
    for (float& p : e.shaderParms)
      p = 1.0f;
    c->entities.push_back(c->manager->addEntityDef(&e));
  }
  for (int i = 0; i < lights; ++i) {
    RenderLight l;
    l.shape = 1;
    l.origin = Vec3(250.0f, float(i % 8) * 40.0f - 160.0f, i < 8 ? 64.0f : -64.0f);
    l.radius = Vec3(200, 200, 200);
    c->lights.push_back(c->manager->addLightDef(&l));
  }
  // One frame builds the instances and their buffers before anything is timed.
  c->manager->renderScene(&c->view, 0x1b);
}

Context* context() {
  static Context* shared = [] {
    Context* c = new Context();
    benchgl::openGameTree("scene_bench");
    c->device = benchgl::openDevice("scene_bench", kWidth, kHeight).device;
    c->manager = benchgl::openRenderManager(kWidth, kHeight);
    const int program = g_renderBackEnd.unlitProgram();
    if (program < 0)
      benchgl::fail("scene_bench", "unlit.vp did not load");
    GLint id = 0;
    c->device->shader().bind(program);
    qgl::glGetProgramivARB(GL_VERTEX_PROGRAM_ARB, GL_PROGRAM_BINDING_ARB, &id);
    c->programId = static_cast<GLuint>(id);
    c->device->shader().unbindAll();

    const char* body = "{\n{\nred 1\ngreen 0.5\nblue 0\n}\n}\n";
    c->material = new Material();
    c->material->parse(body, static_cast<int>(std::strlen(body)));
    c->box = new BaseModel();
    c->box->init("box");
    c->box->makeDefault();
    c->view.width = 640;
    c->view.height = 480;
    c->view.fovX = 90.0f;
    c->view.fovY = 73.74f;
    c->view.axis = Mat3(Vec3(1, 0, 0), Vec3(0, 1, 0), Vec3(0, 0, 1));
    return c;
  }();
  return shared;
}

void BM_RenderManagerFrame(benchmark::State& state) {
  Context* c = context();
  configure(c, kEntities * int(state.range(0)), int(state.range(1)));
  for (auto _ : state) {
    c->manager->clearScreen();
    c->manager->renderScene(&c->view, 0x1b);
    c->manager->endFrame();
    qgl::glFinish();
  }
}
BENCHMARK(BM_RenderManagerFrame)
    ->ArgNames({"entities", "lights"})
    ->ArgsProduct({{1, 4, 16}, {0, 8, 16}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The same frame as raw GL: clear, the view's matrices, a depth pass and a colour pass over each
// entity's instance buffer, swap.
void BM_RawGLFrame(benchmark::State& state) {
  Context* c = context();
  configure(c, kEntities * int(state.range(0)), int(state.range(1)));
  std::vector<std::pair<GLuint, const SurfaceGeometry*>> surfaces;
  for (int index : c->entities) {
    BaseModel* instance = c->manager->entityRecord(index)->instanceModel;
    for (int s = 0; s < instance->numSurfaces(); ++s) {
      const SurfaceGeometry* g = instance->getSurface(s)->geometry;
      surfaces.push_back({g->vertexBuffer->bufferId, g});
    }
  }
  g_renderBackEnd.setView(&c->view);
  g_renderBackEnd.applyViewMatrices();
  const Mat4 projection = g_renderBackEnd.viewState().projection;
  const Mat4 modelView = g_renderBackEnd.viewState().modelView;
  const float zero[4] = {0, 0, 0, 0};
  const float colour[4] = {1.0f, 0.5f, 0.0f, 1.0f};
  for (auto _ : state) {
    qgl::glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    qgl::glDepthMask(GL_TRUE);
    qgl::glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    qgl::glViewport(0, 0, kWidth, kHeight);
    qgl::glMatrixMode(GL_PROJECTION);
    qgl::glLoadMatrixf(projection.m);
    qgl::glMatrixMode(GL_MODELVIEW);
    qgl::glLoadMatrixf(modelView.m);
    qgl::glEnable(GL_DEPTH_TEST);
    qgl::glEnable(GL_VERTEX_PROGRAM_ARB);
    qgl::glBindProgramARB(GL_VERTEX_PROGRAM_ARB, c->programId);
    for (int pass = 0; pass < 2; ++pass) {
      qgl::glColorMask(pass, pass, pass, pass);
      qgl::glDepthFunc(GL_LEQUAL);
      qgl::glProgramEnvParameter4fvARB(GL_VERTEX_PROGRAM_ARB, 16, zero);
      qgl::glProgramEnvParameter4fvARB(GL_VERTEX_PROGRAM_ARB, 17, colour);
      for (const auto& [buffer, g] : surfaces) {
        qgl::glBindBufferARB(GL_ARRAY_BUFFER_ARB, buffer);
        qgl::glEnableClientState(GL_VERTEX_ARRAY);
        qgl::glVertexPointer(3, GL_FLOAT, 68, reinterpret_cast<void*>(0));
        qgl::glEnableClientState(GL_COLOR_ARRAY);
        qgl::glColorPointer(4, GL_UNSIGNED_BYTE, 68, reinterpret_cast<void*>(64));
        qgl::glDrawElements(GL_TRIANGLES, g->numIndexes, GL_UNSIGNED_INT, g->indexes);
        qgl::glDisableClientState(GL_VERTEX_ARRAY);
        qgl::glDisableClientState(GL_COLOR_ARRAY);
      }
    }
    qgl::glBindBufferARB(GL_ARRAY_BUFFER_ARB, 0);
    qgl::glDisable(GL_VERTEX_PROGRAM_ARB);
    c->device->swapBuffers();
    qgl::glFinish();
  }
  // GL was set behind the device's back: its state cache starts over.
  c->device->invalidateStateCache();
}
// The lights add nothing to the raw frame: they light no surface (the boxes' material has no
// interaction stages), so the render manager's frame should cost the same with them.
BENCHMARK(BM_RawGLFrame)
    ->ArgNames({"entities", "lights"})
    ->ArgsProduct({{1, 4, 16}, {0, 8, 16}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
