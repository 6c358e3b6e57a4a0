// Fuzzes the material language through the declaration manager: the input is the text of every
// ".mtx" file; each block name it defines (up to eight) is requested as a material, the first
// block also through createMaterialFromText. Every register is then evaluated, the stage queries
// walked, in one input of eight everything is reloaded (the pointers must stay), and after the
// manager is gone every image reference a material took must have been given back.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "lib/interface/declsystem.h"
#include "lib/interface/iosystem.h"
#include "lib/interface/texmanager.h"
#include "lib/keydict.h"
#include "lib/tokenparser.h"
#include "render/material/expression.h"
#include "render/material/material.h"
#include "system/declmanager.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

fuzz::QuietCmdSystem g_quiet;
std::string g_text;

class FuzzImage : public ImageInterface {
 public:
  bool load() override { return false; }
  bool bind() override { return false; }
};

// Counts references; an image is never deleted while the process runs, so a release of a freed
// image would be seen as a negative count rather than a use after free.
class CountingTexManager : public TexManager {
 public:
  void flagAllForReload() override {}
  void reloadFlagged() override {}
  ImageInterface* findImage(const char* name, uint32_t flags) override {
    if (!name)
      return nullptr;
    std::string key = std::string(name) + "#" + std::to_string(flags);
    FuzzImage*& image = images_[key];
    if (!image) {
      image = new FuzzImage;
      std::snprintf(image->name, sizeof(image->name), "%s", name);
      image->flags = flags | kImageGenerated;
    }
    ++image->refCount;
    return image;
  }
  void releaseImage(ImageInterface* image) override {
    if (!image)
      return;
    if (--image->refCount < 0)
      std::abort();  // released more often than found
  }
  int getNumImages() override { return int(images_.size()); }
  ImageInterface* createRGBImage(int width, int height, uint32_t flags, const char* name) override {
    if (width < 1 || height < 1 || width > 8192 || height > 8192)
      std::abort();  // render maps must stay inside the device's limits
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

  int references() const {
    int total = 0;
    for (const auto& [key, image] : images_)
      total += image->refCount;
    return total;
  }
  // Images are kept while they are referenced; the others go between inputs.
  void sweep() {
    for (auto it = images_.begin(); it != images_.end();) {
      if (it->second->refCount == 0) {
        delete it->second;
        it = images_.erase(it);
      } else {
        ++it;
      }
    }
  }

 private:
  std::map<std::string, FuzzImage*> images_;
};

fuzz::MtxIOSystem g_io(&g_text);
CountingTexManager g_tex;

void exercise(Material* m) {
  if (!m)
    return;
  m->isOpaque();
  m->hasVisibleStage();
  m->hasInteractionStages();
  m->hasAmbientStages();
  m->hasDeform();
  if (m->stageCount < 0 || m->stageCount > kMaterialMaxStages)
    std::abort();
  for (int i = 0; i < m->stageCount; i = m->nextStage(i)) {
    const MaterialStage* stage = m->getStage(i);
    if (!stage || stage->imageCount < 0 || stage->imageCount > kMaterialMaxStageImages ||
        stage->texModCount < 0 || stage->texModCount > kMaterialMaxTexMods)
      std::abort();
    for (int j = 0; j < stage->imageCount; ++j)
      m->getStageImage(i, j);
  }
  m->findStage(kStageBump, kStageDiffuse, 0);
  m->getBloomStage();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  g_cmdSystem = &g_quiet;
  g_ioSystem = &g_io;
  g_texManager = &g_tex;
  KeyDict::initPools();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 64 * 1024)
    return 0;
  g_text.assign(reinterpret_cast<const char*>(data), size);
  clearExpressions();
  float parms[12] = {1, 0.5f, 0.25f, 1, 0.1f, 2, 3, 4, 5, 6, 7, 8};
  setExpressionParms(parms);
  const float origin[3] = {1, 2, 3};
  setExpressionView(origin, 12345);
  // The plain search (every miss lists and reads every file) still gets one input in sixteen.
  createDeclSystem()->setNameIndexing((size & 15) != 5);

  std::vector<Material*> found;
  for (const std::string& name : fuzz::blockNames(g_text))
    found.push_back(findMaterial(name.c_str(), true));
  found.push_back(Material::fromDecl(g_declSystem->createMaterialFromText(g_text.c_str())));
  found.push_back(defaultMaterial());
  for (Material* m : found)
    exercise(m);
  for (int i = 0; i <= numExpressionRegisters() + 1; ++i)
    evaluateExpressionRegister(i);

  // A reload relists every declaration folder: one input in eight takes that path.
  if ((size & 7) == 0) {
    g_declSystem->reloadAll(true);
    for (Material* m : found) {
      if (m && findMaterial(m->getName(), false) != m)
        std::abort();  // a reload must keep the object
      exercise(m);
    }
  }
  destroyDeclSystem();
  if (g_tex.references() != 0)
    std::abort();  // a material kept an image
  g_tex.sweep();
  clearExpressions();
  return 0;
}
