// The per-light surface draws of the back end: a surface's bump/diffuse/specular groups lit by one
// light through the interaction programs, and the stencil-counting draw of one shadow volume.
#include <cstring>

#include "lib/interface/convarsystem.h"
#include "lib/interface/texmanager.h"
#include "render/backend/renderbackend.h"
#include "render/material/expression.h"
#include "render/material/material.h"

static ConVar r_skipBump("r_skipBump", "0", 0x22011, "renders lit geometry with simple shading");
static ConVar r_skipSpecular("r_skipSpecular", "0", 0x22011, "renders lit geometry without specular texture");
static ConVar r_bumpScaleI("r_bumpScale", "2", 0x2014, "multiplied by the normal map intensity");

namespace {

// Interaction program env registers (glprogs/interaction.vfp).
constexpr int kEnvLightOrigin = 0;
constexpr int kEnvViewOrigin = 1;
constexpr int kEnvLightS = 3;
constexpr int kEnvLightT = 4;
constexpr int kEnvLightQ = 5;
constexpr int kEnvFalloff = 9;
constexpr int kEnvBumpMatrix = 10;  // 10/11 bump, 12/13 diffuse, 14/15 specular
// Texture units of the light and the group.
constexpr int kUnitFalloff = 0;
constexpr int kUnitProjection = 1;
constexpr int kUnitBump = 2;
constexpr int kUnitShadow = 6;

float clamp01(float v) { return v < 0.0f ? 0.0f : (v > 1.0f ? 1.0f : v); }

void bindOn(RenderInterface* d, int unit, ImageInterface* image, ImageInterface* fallback) {
  d->selectTextureUnit(unit, 0);
  if (image != nullptr && image->bind()) {
    return;
  }
  if (fallback != nullptr) {
    fallback->bind();
  }
}

}  // namespace

void RenderBackEnd::interactionPrograms(bool ambient, int* vertexProgram, int* fragmentProgram, bool specular) {
  if (!programsLooked_) {
    lookUpPrograms();
  }
  if (ambient) {
    *vertexProgram = ambientVP_;
    *fragmentProgram = ambientFP_;
    return;
  }
  const bool skipBump = r_skipBump.getBool();
  // A specular term of zero adds nothing: the programs without it draw the same for less.
  const bool skipSpecular = r_skipSpecular.getBool() || (!specular && interactionVP_[1] >= 0 &&
                                                         interactionFP_[skipBump ? 3 : 2] >= 0);
  if (skipSpecular) {
    *vertexProgram = interactionVP_[1];
    *fragmentProgram = skipBump ? interactionFP_[3] : interactionFP_[2];
  } else {
    *vertexProgram = interactionVP_[0];
    *fragmentProgram = skipBump ? interactionFP_[1] : interactionFP_[0];
  }
}

void RenderBackEnd::drawInteractionStages(const InteractionLight& light) {
  RenderInterface* d = g_renderInterface;
  ShaderInterface* s = d != nullptr ? d->getShaderInterface() : nullptr;
  Material* material = drawSurface_.material;
  if (d == nullptr || material == nullptr || drawSurface_.numIndexes <= 0 || drawSurface_.indexes == nullptr) {
    return;
  }
  material->ensureLoaded();
  if (!material->hasInteractionStages() || !beginSurfacePolygonOffset()) {
    return;
  }
  int vp = -1;
  int fp = -1;
  interactionPrograms(light.ambient, &vp, &fp);
  d->setVertexAttribPointers(drawSurface_.vertexBuffer, kSurfaceAttribMask);
  // Light images: falloff, projection and the shadow map (or the default image).
  bindOn(d, kUnitFalloff, light.falloffImage, g_whiteImage);
  bindOn(d, kUnitProjection, light.projectionImage, g_whiteImage);
  bindOn(d, kUnitShadow, light.shadowImage, g_defaultImage);

  const float bumpScale = r_bumpScaleI.getFloat();
  const float bumpScales[4] = {bumpScale, bumpScale, bumpScale, bumpScale};
  const uint32_t classes[3] = {kStageBump, kStageDiffuse, kStageSpecular};
  ImageInterface* const defaults[3] = {g_flatBumpImage, g_whiteImage, g_blackImage};
  const int count = material->getNumStages();
  constexpr uint32_t kGroupStart = kStageBump | kStageDiffuse | kStageSpecular | kStageLightInteraction;
  int next = count;
  for (int i = material->findStage(kGroupStart, 0, 0); i < count; i = material->findStage(kGroupStart, 0, next)) {
    next = material->nextStage(i);
    // The group: a bump stage followed by its diffuse and specular stages, or a lone stage.
    const MaterialStage* group[3] = {nullptr, nullptr, nullptr};
    const MaterialStage* first = material->getStage(i);
    const bool explicitGroup =
        first != nullptr && (first->flags & kStageLightInteraction) != 0 && (first->flags & kStageBump) == 0;
    if (explicitGroup) {
      // An explicit light-interaction stage: its image and those of the two stages after it.
      for (int k = 0; k < 3; ++k) {
        group[k] = material->getStage(i + k);
      }
      next = i + 3;
    }
    for (int k = 0, j = i; !explicitGroup && k < 3 && j < count; ++k) {
      const MaterialStage* stage = material->getStage(j);
      if (stage != nullptr && (stage->flags & classes[k]) != 0) {
        group[k] = stage;
        ++j;
      }
      if (k == 0 && group[0] == nullptr) {
        // No bump stage starts the group: only this one stage belongs to it.
        for (int c = 1; c < 3; ++c) {
          if (stage != nullptr && (stage->flags & classes[c]) != 0) {
            group[c] = stage;
          }
        }
        break;
      }
    }
    const MaterialStage* explicitStage =
        group[0] != nullptr && (group[0]->flags & kStageLightInteraction) != 0 ? group[0] : nullptr;
    const MaterialStage* colorStage =
        explicitStage != nullptr ? explicitStage
                                 : (group[1] != nullptr ? group[1] : (group[2] != nullptr ? group[2] : group[0]));
    if (colorStage == nullptr) {
      continue;
    }
    // Blend and depth test come from the interaction stage (the bump or light-interaction stage that
    // opens the group: one/one and equal unless the material says otherwise).
    const MaterialStage* stateStage = group[0] != nullptr ? group[0] : colorStage;
    // A light without specular, or a group whose specular image is the generated black one (the
    // loader's filler for a group without one), adds no specular term.
    const ImageInterface* specularImage =
        group[2] != nullptr && group[2]->imageCount > 0 ? group[2]->images[0] : nullptr;
    const bool blackSpecular = group[2] == nullptr || (g_blackImage != nullptr && specularImage == g_blackImage);
    interactionPrograms(light.ambient, &vp, &fp, light.specular && !blackSpecular);
    if (s != nullptr) {
      s->unbindAll();
      if (vp >= 0) {
        s->bind(vp);
      }
      if (fp >= 0) {
        s->bind(fp);
      }
    }
    // Group images with their texture matrices.
    bool ok = true;
    for (int k = 0; k < 3; ++k) {
      const MaterialStage* stage = group[k];
      ImageInterface* image = stage != nullptr && stage->imageCount > 0 ? stage->images[0] : nullptr;
      if (r_skipBump.getBool() && k == 0) {
        image = nullptr;
      }
      d->selectTextureUnit(kUnitBump + k, 0);
      if (image != nullptr) {
        ok = image->bind() && ok;
      } else if (defaults[k] != nullptr) {
        defaults[k]->bind();
      }
      const Mat4 m = stage != nullptr ? stageTextureMatrix(*stage, viewState_.modelView, viewState_.projection)
                                      : Mat4::identity();
      if (s != nullptr && vp >= 0) {
        const float sRow[4] = {m.m[0], m.m[4], m.m[8], m.m[12]};
        const float tRow[4] = {m.m[1], m.m[5], m.m[9], m.m[13]};
        s->setEnvParam(vp, kEnvBumpMatrix + 2 * k, sRow);
        s->setEnvParam(vp, kEnvBumpMatrix + 2 * k + 1, tRow);
      }
    }
    if (!ok) {
      continue;
    }
    if (s != nullptr && vp >= 0) {
      const float lightOrigin[4] = {light.origin.x, light.origin.y, light.origin.z, 1.0f};
      const float viewOrigin[4] = {view_.origin.x, view_.origin.y, view_.origin.z, 1.0f};
      s->setEnvParam(vp, kEnvLightOrigin, lightOrigin);
      s->setEnvParam(vp, kEnvViewOrigin, viewOrigin);
      s->setEnvParam(vp, kEnvLightS, light.planes[0]);
      s->setEnvParam(vp, kEnvLightT, light.planes[1]);
      s->setEnvParam(vp, kEnvLightQ, light.planes[2]);
      s->setEnvParam(vp, kEnvFalloff, light.planes[3]);
      // Vertex colour scale and bias of the diffuse stage.
      float multiply[4] = {0.0f, 0.0f, 0.0f, 0.0f};
      float add[4] = {1.0f, 1.0f, 1.0f, 1.0f};
      if (colorStage->vertexColor == 1) {
        for (int c = 0; c < 4; ++c) {
          multiply[c] = 1.0f;
          add[c] = 0.0f;
        }
      } else if (colorStage->vertexColor == 2) {
        for (int c = 0; c < 4; ++c) {
          multiply[c] = -1.0f;
          add[c] = 1.0f;
        }
      }
      s->setEnvParam(vp, kProgramParamColorModulate, multiply);
      s->setEnvParam(vp, kProgramParamColorAdd, add);
    }
    if (s != nullptr && fp >= 0) {
      float diffuse[4];
      float specular[4];
      for (int c = 0; c < 4; ++c) {
        const MaterialStage* diffuseStage = explicitStage != nullptr ? explicitStage : group[1];
        const float dc = diffuseStage != nullptr ? clamp01(evaluateExpression(diffuseStage->color[c])) : 1.0f;
        const float sc = group[2] != nullptr ? clamp01(evaluateExpression(group[2]->color[c])) : 1.0f;
        diffuse[c] = light.color[c] * dc * colorModulation_[c];
        specular[c] = light.specular && !r_skipSpecular.getBool() ? light.color[c] * sc * colorModulation_[c] : 0.0f;
      }
      s->setEnvParam(fp, 0, diffuse);
      s->setEnvParam(fp, 1, specular);
      s->setEnvParam(fp, 2, bumpScales);
    }
    // Lights add up over what the depth pass laid down.
    d->setColorMask((colorStage->flags & kStageMaskRed) == 0, (colorStage->flags & kStageMaskGreen) == 0,
                    (colorStage->flags & kStageMaskBlue) == 0, (colorStage->flags & kStageMaskAlpha) == 0);
    d->setDepthMask(false);
    setCullMode(kCullBack);
    d->setBlendFunc(stateStage->blendSrc, stateStage->blendDst);
    d->setAlphaFunc(colorStage->alphaFunc, evaluateExpression(colorStage->alphaRef));
    setDepthFunc(stateStage->depthFunc);
    d->drawTriangles(drawSurface_.indexes, drawSurface_.numIndexes);
  }
  endSurfacePolygonOffset();
  if (s != nullptr) {
    s->unbindAll();
  }
  d->resetTextureUnits();
  d->setBlendFunc(kBlendOne, kBlendZero);
  d->setAlphaFunc(kCompareAlways, 0.0f);
  d->setColorMask(true, true, true, true);
  d->setDepthMask(true);
  setDepthFunc(kCompareLessEqual);
}

void RenderBackEnd::drawShadowVolumeIndexes(const unsigned* indexes, int count, bool caps) {
  RenderInterface* d = g_renderInterface;
  if (d == nullptr || indexes == nullptr || count <= 0) {
    return;
  }
  d->setStencilFunc(kCompareAlways, kStencilReference, kStencilMaskAll);
  d->setStencilMask(kStencilMaskAll);
  const bool wrap = d->hasStencilFeature(kStencilFeatureWrap);
  const int incr = wrap ? kStencilIncrWrap : kStencilIncr;
  const int decr = wrap ? kStencilDecrWrap : kStencilDecr;
  // Operations (fail, depth fail, pass) of back and front faces.
  int back[3];
  int front[3];
  if (caps) {
    back[0] = kStencilKeep, back[1] = incr, back[2] = kStencilKeep;
    front[0] = kStencilKeep, front[1] = decr, front[2] = kStencilKeep;
  } else {
    back[0] = kStencilKeep, back[1] = kStencilKeep, back[2] = decr;
    front[0] = kStencilKeep, front[1] = kStencilKeep, front[2] = incr;
  }
  if (d->hasStencilFeature(kStencilFeatureTwoSided)) {
    // Back first so the front face stays the active one for every later one-sided call.
    d->setCullMode(kCullNone);
    d->setStencilOpFace(kStencilFaceBack, back[0], back[1], back[2]);
    d->setStencilOpFace(kStencilFaceFront, front[0], front[1], front[2]);
    d->drawTriangles(indexes, count);
    d->setStencilOpFace(kStencilFaceBack, kStencilKeep, kStencilKeep, kStencilKeep);
    d->setStencilOpFace(kStencilFaceFront, kStencilKeep, kStencilKeep, kStencilKeep);
    d->setStencilOpFace(kStencilFaceBoth, kStencilKeep, kStencilKeep, kStencilKeep);
  } else {
    d->setStencilOp(front[0], front[1], front[2]);
    setCullMode(kCullBack);
    d->drawTriangles(indexes, count);
    d->setStencilOp(back[0], back[1], back[2]);
    setCullMode(kCullFront);
    d->drawTriangles(indexes, count);
    d->setStencilOp(kStencilKeep, kStencilKeep, kStencilKeep);
  }
  setCullMode(kCullBack);
}

void RenderBackEnd::drawShadowVolumeParity(const unsigned* indexes, int count) {
  RenderInterface* d = g_renderInterface;
  if (d == nullptr || indexes == nullptr || count <= 0) {
    return;
  }
  // Only the lowest bit toggles, once for every face behind the surface: odd means inside.
  d->setStencilFunc(kCompareAlways, kStencilReference, kStencilMaskAll);
  d->setStencilMask(1);
  d->setCullMode(kCullNone);
  d->setStencilOpFace(kStencilFaceBoth, kStencilKeep, kStencilInvert, kStencilKeep);
  d->drawTriangles(indexes, count);
  d->setStencilOpFace(kStencilFaceBoth, kStencilKeep, kStencilKeep, kStencilKeep);
  d->setStencilMask(kStencilMaskAll);
  setCullMode(kCullBack);
}
