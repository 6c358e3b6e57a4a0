// Fuzzes the effect language through the declaration manager and runs what it parsed: the input
// is the text of every ".fx" (and ".mtx", for tables and materials) file; each block name it
// defines (up to eight) is requested as an effect, run for a few frames of a scripted clock through
// the effects manager with stand-ins of the renderer and the game, and built into an effects model.
// Every piece of geometry must stay inside what its request reserved.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "effects/effectsmanager.h"
#include "lib/interface/gameinterface.h"
#include "lib/interface/rendermodelsystem.h"
#include "lib/interface/rendersystem.h"
#include "lib/interface/renderview.h"
#include "lib/interface/texmanager.h"
#include "lib/keydict.h"
#include "lib/tokenparser.h"
#include "render/material/expression.h"
#include "render/material/material.h"
#include "render/model/basemodel.h"
#include "system/declmanager.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/support/nullgame.h"
#include "tests/support/nullrender.h"

namespace {

fuzz::QuietCmdSystem g_quiet;
std::string g_text;

// Serves the input as every ".fx" and ".mtx" file.
class FxIOSystem : public fuzz::MtxIOSystem {
 public:
  using MtxIOSystem::MtxIOSystem;

 protected:
  bool serves(const char* name) const override {
    return String::iendsWith(name, ".fx") || String::iendsWith(name, ".mtx");
  }
};

class FuzzImage : public ImageInterface {
 public:
  bool load() override { return false; }
  bool bind() override { return false; }
};

// Images are kept for the process (no image outlives a material, nothing is drawn).
class NullTexManager : public TexManager {
 public:
  void flagAllForReload() override {}
  void reloadFlagged() override {}
  ImageInterface* findImage(const char* name, uint32_t flags) override {
    if (!name)
      return nullptr;
    std::unique_ptr<FuzzImage>& image = images_[std::string(name) + "#" + std::to_string(flags)];
    if (!image) {
      image = std::make_unique<FuzzImage>();
      std::snprintf(image->name, sizeof(image->name), "%s", name);
      image->flags = flags | kImageGenerated;
    }
    ++image->refCount;
    return image.get();
  }
  void releaseImage(ImageInterface* image) override {
    if (image)
      --image->refCount;
  }
  int getNumImages() override { return int(images_.size()); }
  ImageInterface* createRGBImage(int, int, uint32_t flags, const char* name) override {
    return findImage(name ? name : "_renderMap_0", flags);
  }
  ImageInterface* createImage(const ImageInfo*, uint32_t flags, const char* name) override {
    return findImage(name ? name : "_renderMap_0", flags);
  }
  ImageInterface* createImageFromPixels(const char*, const ImageInfo*, uint32_t, const void*) override {
    return nullptr;
  }
  ImageInterface* findLoadedImage(const char*, uint32_t) override { return nullptr; }
  ImageInterface* getImage(int) override { return nullptr; }

 private:
  std::map<std::string, std::unique_ptr<FuzzImage>> images_;
};

// Lights and decals are taken and checked; a light handle must be live when it is updated or freed.
class CheckingRender : public NullRenderSystem {
 public:
  int addLightDef(const RenderLight*) override {
    live_.push_back(true);
    return int(live_.size()) - 1;
  }
  void updateLightDef(int index, const RenderLight*) override { check(index); }
  void freeLightDef(int index) override {
    check(index);
    live_[size_t(index)] = false;
  }
  bool getEntityVertex(int, Vec3* position, Vec3*, int) override {
    *position = Vec3(1, 2, 3);
    return true;
  }
  void reset() { live_.clear(); }

 private:
  void check(int index) {
    if (index < 0 || index >= int(live_.size()) || !live_[size_t(index)])
      std::abort();  // a light used after it was freed
  }
  std::vector<bool> live_;
};

class FloorGame : public NullGame {
 public:
  void applyViewEffect(int, const char* material, float, float) override {
    if (!material)
      std::abort();
  }
  void getViewOrigin(Vec3* position, float* second) override {
    *position = Vec3(10, 20, 30);
    *second = 0.0f;
  }
  void traceParticle(void* trace, const Vec3& start, const Vec3& end, int, int) override {
    ParticleTraceResult* r = static_cast<ParticleTraceResult*>(trace);
    r->fraction = 1.0f;
    r->endPosition = end;
    if (start.z >= 0.0f && end.z < 0.0f) {
      r->fraction = start.z / (start.z - end.z);
      r->endPosition = start + (end - start) * r->fraction;
      r->normal = Vec3(0, 0, 1);
    }
  }
};

FxIOSystem g_io(&g_text);
NullTexManager g_tex;
CheckingRender g_render;
FloorGame g_game;

void checkModel(EffectsManager& manager, RenderModel* model) {
  const List<EffectSurfaceRequest>& requests = manager.lastRequests();
  if (model->numSurfaces() != requests.num())
    std::abort();
  for (int i = 0; i < requests.num(); i++) {
    const SurfaceGeometry* g = model->getSurface(i)->geometry;
    if (!g)
      continue;
    if (g->numVerts > requests[i].numVerts || g->numIndexes > requests[i].numIndexes || g->numIndexes % 3)
      std::abort();  // written past the reservation
    for (int k = 0; k < g->numIndexes; k++)
      if (g->indexes[k] < 0 || g->indexes[k] >= g->numVerts)
        std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  g_cmdSystem = &g_quiet;
  g_ioSystem = &g_io;
  g_texManager = &g_tex;
  g_renderSystem = &g_render;
  g_gameInterface = &g_game;
  KeyDict::initPools();
  registerEffectDeclKind();
  // One model manager for the run; each input frees its models.
  getRenderModelSystem();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 64 * 1024)
    return 0;
  g_text.assign(reinterpret_cast<const char*>(data), size);
  std::srand(unsigned(size));
  clearExpressions();
  createDeclSystem()->setNameIndexing(false);
  {
    EffectsManager manager;
    BaseModel model;
    model.init("_effectsModel");
    RenderView view;
    view.origin = Vec3(-100, 30, 40);
    std::vector<int> handles;
    for (const std::string& name : fuzz::blockNames(g_text)) {
      const DeclEffect* effect = findEffect(name.c_str(), true);
      if (!effect)
        continue;
      manager.hasSoundSegment(effect);
      RenderEffectParams params;
      params.decl = effect;
      params.draw = true;
      params.looping = (handles.size() & 1) != 0;
      params.hasEndOrigin = (handles.size() & 2) != 0;
      params.endOrigin = Vec3(50, 0, 0);
      params.entityHandle = (handles.size() & 4) ? 0 : -1;
      params.gravity = Vec3(0, 0, -1);
      params.origin = Vec3(0, 0, 16);
      handles.push_back(manager.addEffect(params));
    }
    for (int frame = 1; frame <= 6; frame++) {
      for (size_t i = 0; i < handles.size(); i++) {
        const RenderEffectParams* params = manager.getEffectParams(handles[i]);
        if (!params)
          continue;
        RenderEffectParams next = *params;
        next.origin.x += 4.0f;
        next.axis = Angles(0.0f, float(frame) * 20.0f, 0.0f).toMat3();
        if (frame == 4)
          manager.stopEffect(handles[i]);
        manager.updateEffect(handles[i], next, frame * 250);
      }
      if (frame % 3 == 0) {
        manager.buildEffectsModel(&model, view);
        checkModel(manager, &model);
      }
    }
    for (int h : handles)
      manager.freeEffect(h);
    if (manager.effectList().num() != 0)
      std::abort();
  }
  if (g_particlePool.numActive() != 0)
    std::abort();  // a particle outlived its effect
  g_renderModelSystem->freeAllModels();
  destroyDeclSystem();
  g_render.reset();
  clearExpressions();
  return 0;
}
