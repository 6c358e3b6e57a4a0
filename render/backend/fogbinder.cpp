// The fog-volume draw of the back end: the current surface covered by each stage of the fog's light
// material, with that stage's blend, alpha and depth state, so a fog can darken and hide what lies
// in it instead of only adding colour.
#include "lib/interface/renderinterface.h"
#include "lib/interface/texmanager.h"
#include "render/backend/renderbackend.h"
#include "render/material/expression.h"
#include "render/material/material.h"

namespace {

// Fog program env registers (glprogs/fog.vfp), shared with the interaction programs.
constexpr int kEnvImageS = 3;
constexpr int kEnvImageT = 4;
constexpr int kEnvImageQ = 5;
constexpr int kEnvFalloff = 9;
constexpr int kUnitFalloff = 0;
constexpr int kUnitImage = 1;
constexpr int kUnitShadow = 6;

}  // namespace

void RenderBackEnd::drawFogStages(const InteractionLight& light, Material* lightMaterial, int depthFunc) {
  RenderInterface* d = g_renderInterface;
  ShaderInterface* s = d != nullptr ? d->getShaderInterface() : nullptr;
  if (d == nullptr || lightMaterial == nullptr || drawSurface_.numIndexes <= 0 || drawSurface_.indexes == nullptr) {
    return;
  }
  if (!fogLooked_) {
    // Made on the first fog drawn: a stage without programs of its own draws with these.
    fogLooked_ = true;
    fogVP_ = s != nullptr ? s->loadVertexProgram("fog.vfp") : -1;
    fogFP_ = s != nullptr ? s->loadFragmentProgram("fog.vfp") : -1;
  }
  if (!beginSurfacePolygonOffset()) {
    return;
  }
  d->setVertexAttribPointers(drawSurface_.vertexBuffer, kSurfaceAttribMask);
  setCullMode(lightMaterial->getCull());
  d->setDepthMask(false);
  for (int i = 0; i < lightMaterial->getNumStages(); ++i) {
    const MaterialStage* stage = lightMaterial->getStage(i);
    if (stage == nullptr) {
      continue;
    }
    int vp = fogVP_;
    int fp = fogFP_;
    if (stage->programs != nullptr && stage->programs->vertexProgram >= 0) {
      vp = stage->programs->vertexProgram;
      fp = stage->programs->fragmentProgram;
    }
    if (s != nullptr) {
      s->unbindAll();
      if (vp >= 0) {
        s->bind(vp);
      }
      if (fp >= 0) {
        s->bind(fp);
      }
    }
    d->selectTextureUnit(kUnitFalloff, 0);
    if (light.falloffImage == nullptr || !light.falloffImage->bind()) {
      if (g_whiteImage != nullptr) {
        g_whiteImage->bind();
      }
    }
    d->selectTextureUnit(kUnitImage, 0);
    ImageInterface* image = stage->imageCount > 0 ? stage->images[0] : nullptr;
    if (image == nullptr || !image->bind()) {
      if (g_whiteImage != nullptr) {
        g_whiteImage->bind();
      }
    }
    d->selectTextureUnit(kUnitShadow, 0);
    if (g_defaultImage != nullptr) {
      g_defaultImage->bind();
    }
    if (s != nullptr && vp >= 0) {
      s->setEnvParam(vp, kEnvImageS, light.planes[0]);
      s->setEnvParam(vp, kEnvImageT, light.planes[1]);
      s->setEnvParam(vp, kEnvImageQ, light.planes[2]);
      s->setEnvParam(vp, kEnvFalloff, light.planes[3]);
      s->setEnvParam(vp, kProgramParamColorModulate, light.color);
    }
    // The stage's own blend; without one the fog's density (alpha) mixes its colour over the frame.
    if (stage->flags & kStageBlendFuncGiven) {
      d->setBlendFunc(stage->blendSrc, stage->blendDst);
    } else {
      d->setBlendFunc(kBlendSrcAlpha, kBlendOneMinusSrcAlpha);
    }
    d->setAlphaFunc(stage->alphaFunc, evaluateExpression(stage->alphaRef));
    setDepthFunc((stage->flags & kStageDepthFuncGiven) ? stage->depthFunc : depthFunc);
    d->drawTriangles(drawSurface_.indexes, drawSurface_.numIndexes);
  }
  endSurfacePolygonOffset();
  if (s != nullptr) {
    s->unbindAll();
  }
  d->resetTextureUnits();
  d->setBlendFunc(kBlendOne, kBlendZero);
  d->setAlphaFunc(kCompareAlways, 0.0f);
  d->setDepthMask(true);
  setCullMode(kCullBack);
  setDepthFunc(kCompareLessEqual);
}
