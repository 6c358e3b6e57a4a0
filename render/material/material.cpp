// Material: the declaration kind of type "material": parse through MtxLoader (falling back to the
// default look when the text is refused), freeing every image and block it took, the default and
// implicit texts, and the stage queries the renderer asks.
#include "render/material/material.h"

#include <cstdio>
#include <cstring>

#include "lib/interface/texmanager.h"
#include "render/material/expression.h"
#include "render/material/mtxloader.h"
#include "render/texture/texmgrinfo.h"

void materialClearStage(MaterialStage& stage);

namespace {

// The material kind and the implicit text of image-backed materials, installed before the
// declaration manager starts.
bool implicitMaterialText(const char* name, String& text) {
  char found[256];
  if (!name || !*name || !TexMgrInfo::findImageFile(found, sizeof(found), name))
    return false;
  Material::buildDefaultText(text, name);
  return true;
}

const struct InstallKind {
  InstallKind() {
    g_declKindAllocators[kDeclMaterial] = allocMaterial;
    g_declImplicitMaterial = implicitMaterialText;
  }
} s_installKind;

// The image a default material shows: its own name's file, else "_white".
const char* defaultImageName(const char* name) {
  char found[256];
  if (name && *name && TexMgrInfo::findImageFile(found, sizeof(found), name))
    return name;
  return "_white";
}

}  // namespace

DeclResource* allocMaterial() {
  return new Material;
}

Material::Material() {
  std::memset(stages, 0, sizeof(stages));
  std::memset(&bloomStage, 0, sizeof(bloomStage));
}

Material::~Material() {
  freeData();
}

void Material::buildDefaultText(String& out, const char* name) {
  const char* safe = name ? name : "";
  const bool video = std::strstr(safe, ".ovid") != nullptr;
  const bool font = String::icmpn(safe, "fonts/", 6) == 0;
  char text[1024];
  std::snprintf(text, sizeof(text),
                "\nnoShadows\nnoSelfShadow\n{\n\tforceHighQuality\n\tnopicmip\n\tclamp\n\t%s %s\n\tblendFunc "
                "blend\n\talphaFunc greater 0\n\tmaskDepth\n%s}",
                video ? "videoMap loop" : "map", safe, font ? "\tvertexColor\n" : "");
  out = text;
}

void Material::makeDefault() {
  String text;
  buildDefaultText(text, defaultImageName(getName()));
  if (!decl) {
    freeData();
    MtxLoader::parseBody(this, text.c_str(), text.length());
    return;
  }
  decl->setText(text.c_str());
  freeData();
  decl->parse();
}

bool Material::parse(const char* text, int length) {
  freeData();
  if (MtxLoader::parseBody(this, text, length))
    return true;
  // A refused text draws as the default material rather than as a half-built one.
  freeData();
  String fallback;
  buildDefaultText(fallback, defaultImageName(getName()));
  if (!MtxLoader::parseBody(this, fallback.c_str(), fallback.length())) {
    // An image name the language cannot carry (a blank in it): plain white.
    freeData();
    buildDefaultText(fallback, "_white");
    MtxLoader::parseBody(this, fallback.c_str(), fallback.length());
  }
  // Defaulted, not unparsed: the refused text is not parsed (and its error printed) again on every
  // use, only when it is loaded anew (reloadDecls, purge, a new text).
  if (decl)
    decl->setDefaulted();
  return false;
}

void Material::freeData() {
  for (MaterialStage& stage : stages)
    materialClearStage(stage);
  materialClearStage(bloomStage);
  if (falloffImage && g_texManager)
    g_texManager->releaseImage(falloffImage);
  falloffImage = nullptr;
  // The interface belongs to the user-interface manager (found, never created here): freeing it
  // would delete an interface that other materials and the game still use.
  gui = nullptr;
  guiEntity = -1;
  lightFallback = 0.0f;
  stageCount = 0;
  subdivide = 0.0f;
  cull = 2;
  polygonOffset = 0.0f;
  sort = 0;
  materialFlags = 0;
  contentsFlags = 0;
  extraFlags = 0;
  deformType = kDeformNone;
  deformTable = nullptr;
  for (int32_t& r : deformRegisters)
    r = 0;
  surfaceType = 0;
}

int Material::memoryUsed() const {
  int bytes = DeclResource::memoryUsed() + int(sizeof(Material));
  for (const MaterialStage& stage : stages) {
    if (stage.programs)
      bytes += int(sizeof(MaterialProgramBlock));
    if (stage.glsl)
      bytes += int(sizeof(MaterialGLSLBlock));
  }
  return bytes;
}

bool Material::ensureLoaded() {
  // A defaulted declaration already holds the default material its refused text fell back to.
  if (!decl || decl->getState() != kDeclUnparsed)
    return false;
  freeData();
  decl->parse();
  return true;
}

bool Material::isOpaque() {
  ensureLoaded();
  if (!(materialFlags & kMaterialTranslucent))
    for (int i = 0; i < stageCount; ++i)
      if (!(stages[i].flags & kStageMaskDepth))
        return true;
  return (materialFlags & kMaterialForceOpaque) != 0;
}

bool Material::hasVisibleStage() const {
  if (materialFlags & kMaterialNoDraw)
    return false;
  for (int i = 0; i < stageCount; ++i) {
    const MaterialStage& stage = stages[i];
    if (evaluateExpression(stage.color[3]) > evaluateExpression(stage.alphaRef))
      return true;
  }
  return false;
}

int Material::findStage(uint32_t include, uint32_t exclude, int start) const {
  for (int i = start < 0 ? 0 : start; i < stageCount; ++i) {
    const uint32_t flags = stages[i].flags;
    if ((include == 0 || (flags & include)) && !(flags & exclude))
      return i;
  }
  return stageCount;
}

const MaterialStage* Material::getStage(int index) const {
  return index >= 0 && index < stageCount ? &stages[index] : nullptr;
}

ImageInterface* Material::getStageImage(int stage, int image) const {
  const MaterialStage* s = getStage(stage);
  if (!s || image < 0 || image >= kMaterialMaxStageImages)
    return nullptr;
  return s->images[image];
}

const MaterialStage* Material::getBloomStage() const {
  return bloomStage.flags && bloomStage.imageCount ? &bloomStage : nullptr;
}

int Material::nextStage(int index) const {
  const int next = (index >= 0 && index < stageCount && (stages[index].flags & kStageBump)) ? index + 3 : index + 1;
  return next > stageCount ? stageCount : next;
}

Material* Material::fromDecl(DeclResource* resource) {
  if (!resource || resource->getType() != kDeclMaterial || g_declKindAllocators[kDeclMaterial] != allocMaterial)
    return nullptr;
  return static_cast<Material*>(resource);
}

Material* findMaterial(const char* name, bool makeDefault) {
  return g_declSystem ? Material::fromDecl(g_declSystem->findMaterial(name, makeDefault)) : nullptr;
}

Material* defaultMaterial() {
  return findMaterial(nullptr, true);
}
