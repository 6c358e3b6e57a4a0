// The post-process glow: the frame is copied into "_currentRender", its bright parts are kept by
// "_highPassFilter" in the small target "_bloomRender", blurred twice across and down between the
// two bloom targets, and the result is added over the window.
//
// Sections: targets and materials, one full-target pass, drawGlow.
#include <cstdio>
#include <cstring>

#include "lib/interface/convarsystem.h"
#include "lib/interface/declsystem.h"
#include "lib/interface/texmanager.h"
#include "render/backend/framebufferopengl.h"
#include "render/backend/renderbackend.h"
#include "render/material/material.h"
#include "render/scene/rendermanager.h"

static ConVar r_skipPostProcessG("r_skipPostProcess", "0", 0x20011, "skip all post processing");
static ConVar r_skipDynamicTexturesG("r_skipDynamicTextures", "0", 0x20011, "skip all dynamic mirror rendering");
static ConVar r_skipBloomFilterG("r_skipBloomFilter", "0", 0x22011);  // archived, as in system/convars_render.cpp

namespace {

const char kRenderBloomText[] =
    "_renderBloom\n{\n\t{\n\t\tmaskDepth\n\t\tmap _bloomRender\n\t\tblendFunc one one\n\t\tdepthFunc always\n\t}\n}\n";
const char kConvoluteTemplate[] =
    "%s\n{\n\t{\n\t\tmaskDepth\n\t\tvertexProgram convolution.vfp\n\t\tvertexParm 1\t%.1f %.1f\n\t\tfragmentProgram "
    "convolution.vfp\n\t\tfragmentMap 0 %s\n\t\tdepthFunc always\n\t}\n}\n";

// The convolution programs read the size of one texel of their source here (vertex env).
constexpr int kProgramParamTexelSize = 18;

int windowSize(const char* name, int fallback) {
  const int v = g_conVarSystem != nullptr ? g_conVarSystem->getInt(name) : fallback;
  return v > 0 ? v : (fallback > 0 ? fallback : 1);
}

// A quarter of the window side, 64 for windows below 256.
int bloomSide(int window) { return window < 256 ? 64 : window / 4; }
// Half the window side, 256 for windows below 512.
int shadowMaskSide(int window) { return window < 512 ? 256 : window / 2; }

FrameBufferOpenGL* makeTarget(const char* name, int width, int height) {
  FrameBufferOpenGL* target =
      new FrameBufferOpenGL(name, width, height, 1, kColorTargetFormat, kColorTargetImageFlags);
  if (target->getColorTarget(0) == nullptr) {
    delete target;
    return nullptr;
  }
  return target;
}

Material* materialFromText(const char* text) {
  return g_declSystem != nullptr ? Material::fromDecl(g_declSystem->createMaterialFromText(text)) : nullptr;
}

// Frees a material made here and marks its declaration unparsed, so it parses again on next use.
void releaseMaterial(Material* material) {
  // Without the declaration manager its materials are gone already.
  if (material == nullptr || g_declSystem == nullptr) {
    return;
  }
  material->freeData();
  if (material->decl != nullptr) {
    material->decl->setUnparsed();
  }
}

void setTexelSize(Material* material, const FrameBufferOpenGL* source) {
  ShaderInterface* shaders = g_renderInterface != nullptr ? g_renderInterface->getShaderInterface() : nullptr;
  const MaterialStage* stage = material->getStage(0);
  if (shaders == nullptr || stage == nullptr || stage->programs == nullptr || stage->programs->vertexProgram < 0) {
    return;
  }
  const float texel[4] = {1.0f / float(source->targetWidth()), 1.0f / float(source->targetHeight()), 0.0f, 0.0f};
  shaders->setEnvParam(stage->programs->vertexProgram, kProgramParamTexelSize, texel);
}

}  // namespace

// --- Targets and materials ---

void RenderManager::createGlowTargets() {
  freeGlowTargets();
  if (g_renderInterface == nullptr || g_texManager == nullptr) {
    return;
  }
  const int width = bloomSide(windowSize("r_viewwidth", renderWidth_));
  const int height = bloomSide(windowSize("r_viewheight", renderHeight_));
  shadowMaskTarget_ = makeTarget("_shadowMask", shadowMaskSide(windowSize("r_viewwidth", renderWidth_)),
                                 shadowMaskSide(windowSize("r_viewheight", renderHeight_)));
  bloomTarget_ = makeTarget("_bloomRender", width, height);
  char name[64];
  std::snprintf(name, sizeof(name), "%s_1", "_bloomRender");
  bloomTarget2_ = makeTarget(name, width, height);
  if (shadowMaskTarget_ != nullptr && bloomTarget_ != nullptr && bloomTarget2_ != nullptr) {
    // The bloom targets offer to share the shadow mask's depth buffer. It is always larger than
    // they are, which a target refuses: they are left with no depth buffer at all, and need none,
    // since every bloom pass draws with depth test always and depth writes off.
    bloomTarget_->attachDepthRenderbuffer(shadowMaskTarget_->getDepthRenderbuffer());
    bloomTarget2_->attachDepthRenderbuffer(shadowMaskTarget_->getDepthRenderbuffer());
  }
  if (g_declSystem == nullptr) {
    return;
  }
  highPassMaterial_ = Material::fromDecl(g_declSystem->findMaterial("_highPassFilter", false));
  renderBloomMaterial_ = materialFromText(kRenderBloomText);
  char text[512];
  std::snprintf(text, sizeof(text), kConvoluteTemplate, "_hConvoluteBloom", 1.4, -1.4, "_bloomRender");
  hConvoluteMaterial_ = materialFromText(text);
  std::snprintf(text, sizeof(text), kConvoluteTemplate, "_vConvoluteBloom", -1.4, 1.4, "_bloomRender_1");
  vConvoluteMaterial_ = materialFromText(text);
}

void RenderManager::freeGlowTargets() {
  delete shadowMaskTarget_;
  shadowMaskTarget_ = nullptr;
  delete bloomTarget_;
  delete bloomTarget2_;
  bloomTarget_ = nullptr;
  bloomTarget2_ = nullptr;
  releaseMaterial(highPassMaterial_);
  releaseMaterial(renderBloomMaterial_);
  releaseMaterial(hConvoluteMaterial_);
  releaseMaterial(vConvoluteMaterial_);
  highPassMaterial_ = nullptr;
  renderBloomMaterial_ = nullptr;
  hConvoluteMaterial_ = nullptr;
  vConvoluteMaterial_ = nullptr;
}

// --- One pass over the whole current target ---

void RenderManager::drawGlowPass(Material* material, float s1, float t1, float s2, float t2) {
  if (material == nullptr || flatBuffer_ == nullptr) {
    return;
  }
  material->ensureLoaded();
  DrawVertex v[4];
  std::memset(v, 0, sizeof(v));
  const float xy[4][2] = {{0, 0}, {0, 480}, {640, 480}, {640, 0}};
  const float st[4][2] = {{s1, t1}, {s1, t2}, {s2, t2}, {s2, t1}};
  for (int i = 0; i < 4; ++i) {
    v[i].xyz[0] = xy[i][0];
    v[i].xyz[1] = xy[i][1];
    v[i].st[0] = st[i][0];
    v[i].st[1] = st[i][1];
    std::memset(v[i].color, 255, 4);
  }
  static const unsigned kIndexes[6] = {0, 1, 3, 3, 1, 2};
  begin2D();
  g_renderInterface->uploadVertexBuffer(flatBuffer_, v, int(sizeof(v)), true);
  DrawSurface ds;
  ds.material = material;
  ds.vertexBuffer = flatBuffer_;
  ds.indexes = kIndexes;
  ds.numIndexes = 6;
  // A post-process view: stages that read "_currentRender" are drawn, not deferred.
  g_renderBackEnd.setViewFlags(kViewFlag2D | kViewFlagPostProcess);
  g_renderBackEnd.setDrawSurface(&ds);
  g_renderBackEnd.drawStageRange(0, material->getNumStages(), true);
  g_renderBackEnd.setDrawSurface(nullptr);
  end2D();
}

// --- drawGlow ---

void RenderManager::drawGlow() {
  if (r_skipPostProcessG.getBool() || r_skipDynamicTexturesG.getBool() || r_skipBloomFilterG.getBool() ||
      g_renderInterface == nullptr || highPassMaterial_ == nullptr || hConvoluteMaterial_ == nullptr ||
      vConvoluteMaterial_ == nullptr || renderBloomMaterial_ == nullptr || bloomTarget_ == nullptr ||
      bloomTarget2_ == nullptr) {
    return;
  }
  const uint32_t savedFlags = g_renderBackEnd.viewFlags();
  // The whole window, whatever rectangle the last view had.
  g_renderBackEnd.setViewport(0, 0, renderWidth_, renderHeight_);
  g_renderBackEnd.applyViewport();
  captureRenderToImage("_currentRender");
  const ImageInterface* screen = g_currentRenderImage;
  if (screen == nullptr || screen->info.width <= 0 || screen->info.height <= 0) {
    g_renderBackEnd.setViewFlags(savedFlags);
    return;
  }
  // The copy fills the lower left of the (power of two) image. Texture row 0 is the window's bottom
  // row, so every pass runs t from top to bottom to keep the picture upright.
  const float sMax = float(renderWidth_) / float(screen->info.width);
  const float tMax = float(renderHeight_) / float(screen->info.height);
  if (bloomTarget_->pushRenderTarget(true)) {
    drawGlowPass(highPassMaterial_, 0.0f, tMax, sMax, 0.0f);
    FrameBufferObject::popRenderTarget();
  }
  for (int i = 0; i < 2; ++i) {
    if (bloomTarget2_->pushRenderTarget(true)) {
      setTexelSize(hConvoluteMaterial_, bloomTarget_);
      drawGlowPass(hConvoluteMaterial_, 0.0f, 1.0f, 1.0f, 0.0f);
      FrameBufferObject::popRenderTarget();
    }
    if (bloomTarget_->pushRenderTarget(true)) {
      setTexelSize(vConvoluteMaterial_, bloomTarget2_);
      drawGlowPass(vConvoluteMaterial_, 0.0f, 1.0f, 1.0f, 0.0f);
      FrameBufferObject::popRenderTarget();
    }
  }
  drawGlowPass(renderBloomMaterial_, 0.0f, 1.0f, 1.0f, 0.0f);
  g_renderBackEnd.setViewFlags(savedFlags);
  g_renderBackEnd.setViewport(0, 0, renderWidth_, renderHeight_);
  g_renderBackEnd.applyViewport();
}
