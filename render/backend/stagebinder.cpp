// The stage binder (one MaterialStage applied to the device) and the surface draw routines the main
// pass calls: depth fill, ambient stage ranges and the debug overlays of a draw surface.
#include <cmath>
#include <cstring>

#include "lib/fastmath.h"
#include "lib/interface/convarsystem.h"
#include "lib/interface/texmanager.h"
#include "render/backend/renderbackend.h"
#include "render/material/expression.h"
#include "render/material/material.h"

static ConVar r_skipPostProcess("r_skipPostProcess", "0", 0x20011, "skip all post processing");
static ConVar r_skipMirrorMaps("r_skipMirrorMaps", "0", 0x2011);
static ConVar r_skipDynamicTextures("r_skipDynamicTextures", "0", 0x20011,
                                    "skip all dynamic mirror rendering");
static ConVar r_skipAmbientLights("r_skipAmbientLights", "0", 0x20011, "skip rendering of ambient lights");
static ConVar r_lightScale("r_lightScale", "2", 0x2014, "multiplied by the light's own intensity");
static ConVar r_bumpScale("r_bumpScale", "2", 0x2014, "multiplied by the normal map intensity");
static ConVar r_shownodraws("r_shownodraws", "0", 0x2011);
static ConVar r_showtris("r_showtris", "0", 0x2011, "0=disable, 1=overlay, 2=depth disabled, 3=no culling");

namespace {

constexpr uint32_t kInteractionStageFlags =
    kStageBump | kStageDiffuse | kStageSpecular | kStageLightInteraction;

RenderInterface* device() {
  return g_renderInterface;
}
ShaderInterface* shaders() {
  return g_renderInterface ? g_renderInterface->getShaderInterface() : nullptr;
}

float clamp01(float v) {
  return v < 0.0f ? 0.0f : (v > 1.0f ? 1.0f : v);
}

// A stage vector of four registers: a missing register repeats the previous component.
void evaluateVector(const int32_t regs[4], float out[4]) {
  float previous = 0.0f;
  for (int i = 0; i < 4; ++i) {
    out[i] = regs[i] != 0 ? evaluateExpression(regs[i]) : previous;
    previous = out[i];
  }
}

Mat4 rotationOnly(const Mat4& m) {
  Mat4 r = m;
  r.m[12] = r.m[13] = r.m[14] = 0.0f;
  r.m[3] = r.m[7] = r.m[11] = 0.0f;
  r.m[15] = 1.0f;
  return r;
}

Mat4 texModMatrix(int type, float a, float b) {
  Mat4 m;
  switch (type) {
    case kTexModTranslate:
      m.m[12] = a;
      m.m[13] = b;
      break;
    case kTexModCenterScale:
      m.m[0] = a;
      m.m[5] = b;
      m.m[12] = 0.5f - 0.5f * a;
      m.m[13] = 0.5f - 0.5f * b;
      break;
    case kTexModScale:
      m.m[0] = a;
      m.m[5] = b;
      break;
    case kTexModShear:
      m.m[4] = a;
      m.m[1] = b;
      break;
    case kTexModRotate: {
      m = Mat4::rotationZ(a);
      const float c = m.m[0];
      const float s = m.m[1];
      m.m[12] = 0.5f - 0.5f * c + 0.5f * s;
      m.m[13] = 0.5f - 0.5f * s - 0.5f * c;
      break;
    }
    default:
      break;
  }
  return m;
}

bool stageIsDynamic(const MaterialStage& stage) {
  if (stage.flags & kStageRenderMap) {
    return true;
  }
  for (int i = 0; i < stage.imageCount && i < kMaterialMaxStageImages; ++i) {
    const ImageInterface* image = stage.images[i];
    if (image != nullptr && (image->isVideo() || image == g_mirrorRenderImage)) {
      return true;
    }
  }
  return false;
}

// The vertex attributes the stage's programs read: cube coordinates for the view-based texgens.
int stageAttribMask(const MaterialStage& stage) {
  const bool cubeCoords =
      stage.texGen == kTexGenReflect || stage.texGen == kTexGenSkybox || stage.texGen == kTexGenView;
  return cubeCoords ? kSurfaceAttribMaskCube : kSurfaceAttribMask;
}

// Whether bindStage sets the same state for every surface drawn with the stage: constant
// registers, no GLSL uniforms, no image that changes or is rendered during the frame.
bool stageStateIsShared(const MaterialStage& stage) {
  if (stageIsDynamic(stage) || (stage.flags & kStageCurrentRender) != 0 || stage.glsl != nullptr) {
    return false;
  }
  bool constant = expressionIsConstant(stage.alphaRef);
  for (int i = 0; i < 4 && stage.vertexColor == 0; ++i) {
    constant = constant && expressionIsConstant(stage.color[i]);
  }
  const int mods = stage.texModCount < kMaterialMaxTexMods ? stage.texModCount : kMaterialMaxTexMods;
  for (int i = 0; i < mods; ++i) {
    constant = constant && expressionIsConstant(stage.texMods[i].registers[0]) &&
               expressionIsConstant(stage.texMods[i].registers[1]);
  }
  for (int slot = 0; stage.programs != nullptr && slot < 4; ++slot) {
    for (int i = 0; i < 4; ++i) {
      constant = constant && expressionIsConstant(stage.programs->parms[slot][i]);
    }
  }
  return constant;
}

}  // namespace

Mat4 stageTextureMatrix(const MaterialStage& stage, const Mat4& modelView, const Mat4& projection) {
  Mat4 m;
  switch (stage.texGen) {
    case kTexGenReflect:
      m = rotationOnly(modelView).transposed();
      break;
    case kTexGenSkybox:
      m = Mat4::multiply(rotationOnly(modelView).transposed(), Mat4::fromAxisAngle(-90.0f, 1.0f, 0.0f, 0.0f));
      break;
    case kTexGenView: {
      Mat4 bias;
      bias.m[0] = 0.5f;
      bias.m[5] = 0.5f;
      bias.m[10] = 0.0f;
      bias.m[12] = 0.5f;
      bias.m[13] = 0.5f;
      m = Mat4::multiply(Mat4::multiply(modelView, projection), bias);
      break;
    }
    default:
      break;
  }
  // The last modifier is applied to the matrix first, so coordinates meet them in written order.
  const int count = stage.texModCount < kMaterialMaxTexMods ? stage.texModCount : kMaterialMaxTexMods;
  for (int i = count - 1; i >= 0; --i) {
    const MaterialTexMod& mod = stage.texMods[i];
    const float a = evaluateExpression(mod.registers[0]);
    const float b = evaluateExpression(mod.registers[1]);
    m = Mat4::multiply(texModMatrix(mod.type, a, b), m);
  }
  return m;
}

bool RenderBackEnd::bindStage(Material* material, const MaterialStage& stage) {
  RenderInterface* d = device();
  ShaderInterface* s = shaders();
  boundUnits_ = 0;
  boundStageOffset_ = false;

  // 1. Programs.
  int vertexProgram = -1;
  int fragmentProgram = -1;
  int glslProgram = -1;
  if (stage.programs != nullptr &&
      (stage.programs->vertexProgram >= 0 || stage.programs->fragmentProgram >= 0)) {
    vertexProgram = stage.programs->vertexProgram;
    fragmentProgram = stage.programs->fragmentProgram;
  } else if (stage.glsl != nullptr && stage.glsl->program >= 0) {
    glslProgram = stage.glsl->program;
  } else {
    vertexProgram = unlitProgram();
  }
  // Parameters go to the vertex program, else the GLSL program.
  const int paramProgram = vertexProgram >= 0 ? vertexProgram : glslProgram;
  if (s != nullptr) {
    s->unbindAll();
    if (vertexProgram >= 0) {
      s->bind(vertexProgram);
    }
    if (fragmentProgram >= 0) {
      s->bind(fragmentProgram);
    }
    if (glslProgram >= 0) {
      s->bind(glslProgram);
    }

    // 2. Program parameters.
    if (stage.programs != nullptr && glslProgram < 0) {
      float v[4];
      for (int slot = 0; slot < 2; ++slot) {
        if (vertexProgram >= 0) {
          evaluateVector(stage.programs->parms[slot], v);
          s->setLocalParam(vertexProgram, slot, v);
        }
        if (fragmentProgram >= 0) {
          evaluateVector(stage.programs->parms[slot + 2], v);
          s->setLocalParam(fragmentProgram, slot, v);
        }
      }
    } else if (glslProgram >= 0) {
      for (const MaterialGLSLUniform& u : stage.glsl->uniforms) {
        if (u.name[0] != '\0') {
          s->setUniformFloat(glslProgram, u.name, evaluateExpression(u.reg));
        }
      }
    }
  }
  d->setVertexAttribPointers(drawSurface_.vertexBuffer, stageAttribMask(stage));

  // 3. View origin, the screen-copy mapping and the world texgen planes (registers 4 to 8, one
  // call), then the viewport's share of the render size.
  if (s != nullptr && paramProgram >= 0) {
    static_assert(kProgramParamScreenMap == kProgramParamViewOrigin + 1 &&
                  kProgramParamTexGenWorld == kProgramParamViewOrigin + 2);
    float view[5][4] = {{view_.origin.x, view_.origin.y, view_.origin.z, 1.0f}};
    const ImageInterface* screen = g_currentRenderImage;
    const float iw = screen && screen->info.width > 0 ? static_cast<float>(screen->info.width) : 1.0f;
    const float ih = screen && screen->info.height > 0 ? static_cast<float>(screen->info.height) : 1.0f;
    const float rw = renderWidth_ > 0 ? static_cast<float>(renderWidth_) : 1.0f;
    const float rh = renderHeight_ > 0 ? static_cast<float>(renderHeight_) : 1.0f;
    view[1][0] = (viewport_[2] - 1) / iw;
    view[1][1] = (viewport_[3] - 1) / ih;
    view[1][2] = viewport_[0] / rw;
    view[1][3] = viewport_[1] / rh;
    if (hasWorldBounds_) {
      const Vec3 size = worldBounds_.maxs - worldBounds_.mins;
      const Vec3 center = (worldBounds_.mins + worldBounds_.maxs) * 0.5f;
      for (int axis = 0; axis < 3; ++axis) {
        float* plane = view[2 + axis];
        const float extent = size[axis] != 0.0f ? size[axis] : 1.0f;
        plane[axis] = 1.0f / extent;
        plane[3] = 0.5f - plane[axis] * center[axis];
      }
    }
    s->setEnvParams(paramProgram, kProgramParamViewOrigin, hasWorldBounds_ ? 5 : 2, view);
    const float vw = viewport_[2] > 0 ? static_cast<float>(viewport_[2]) : 1.0f;
    const float vh = viewport_[3] > 0 ? static_cast<float>(viewport_[3]) : 1.0f;
    const float size[4] = {vw / rw, vh / rh, rw / vw, rh / vh};
    s->setEnvParam(paramProgram, kProgramParamScreenSize, size);
  }

  // 4. Colour: output = vertex colour x 16 + 17.
  if (s != nullptr && paramProgram >= 0) {
    static_assert(kProgramParamColorAdd == kProgramParamColorModulate + 1);
    float color[2][4];
    float* multiply = color[0];
    float* add = color[1];
    if (stage.vertexColor == 1) {
      for (int i = 0; i < 4; ++i) {
        multiply[i] = 1.0f;
        add[i] = 0.0f;
      }
    } else if (stage.vertexColor == 2) {
      for (int i = 0; i < 4; ++i) {
        multiply[i] = -1.0f;
        add[i] = 1.0f;
      }
    } else {
      for (int i = 0; i < 4; ++i) {
        multiply[i] = 0.0f;
        add[i] = clamp01(evaluateExpression(stage.color[i])) * colorModulation_[i];
      }
    }
    s->setEnvParams(paramProgram, kProgramParamColorModulate, 2, color);
  }

  // 5. Images with their texture matrices. A stage without images shows white: whatever texture an
  // upload left enabled must not tint it. Fixed-function fragments modulate by the enabled textures,
  // so with none enabled they come out as over white, without a texture lookup per pixel; a
  // fragment program may sample unit 0 and gets white there.
  const int imageCount =
      stage.imageCount < kMaterialMaxStageImages ? stage.imageCount : kMaterialMaxStageImages;
  if (imageCount <= 0 && fragmentProgram < 0 && glslProgram < 0) {
    d->resetTextureUnits();
    d->setMatrixMode(kMatrixModelView);
  } else if (imageCount <= 0 && g_whiteImage != nullptr) {
    d->selectTextureUnit(0, 0);
    bindImage(g_whiteImage);
  }
  for (int i = 0; i < imageCount; ++i) {
    ImageInterface* image = stage.images[i];
    if (image == nullptr) {
      continue;
    }
    d->selectTextureUnit(i, 0);
    if (!image->bind()) {
      return false;
    }
    const Mat4 m = stageTextureMatrix(stage, viewState_.modelView, viewState_.projection);
    loadTextureMatrix(i, m);
    boundUnits_ = i + 1;
    if (s != nullptr && vertexProgram >= 0) {
      const float sRow[4] = {m.m[0], m.m[4], m.m[8], m.m[12]};
      const float tRow[4] = {m.m[1], m.m[5], m.m[9], m.m[13]};
      s->setEnvParam(vertexProgram, kProgramParamTexMatrix + 2 * i, sRow);
      s->setEnvParam(vertexProgram, kProgramParamTexMatrix + 2 * i + 1, tRow);
    }
  }

  // 6. Colour and depth writes.
  d->setColorMask((stage.flags & kStageMaskRed) == 0, (stage.flags & kStageMaskGreen) == 0,
                  (stage.flags & kStageMaskBlue) == 0, (stage.flags & kStageMaskAlpha) == 0);
  bool depthWrite = false;
  if ((stage.flags & kStageMaskDepth) == 0) {
    depthWrite =
        (stage.flags & kStageDepthWrite) != 0 || (material != nullptr && material->isOpaque() &&
                                                  (stage.flags & (kStageBloom | kStageCurrentRender)) == 0);
  }
  d->setDepthMask(depthWrite);

  // 7. Cull.
  if (material != nullptr) {
    setCullMode(material->hasInteractionStages() ? kCullBack : material->getCull());
  }

  // 8. Fixed state.
  if (stage.polygonOffset != 0.0f) {
    d->setPolygonOffset(0.0f, -stage.polygonOffset, kPolygonFill);
    boundStageOffset_ = true;
  }
  d->setBlendFunc(stage.blendSrc, stage.blendDst);
  d->setAlphaFunc(stage.alphaFunc, evaluateExpression(stage.alphaRef));
  setDepthFunc(stage.depthFunc);
  return true;
}

void RenderBackEnd::unbindStage(bool resetUnits) {
  RenderInterface* d = device();
  for (int i = 0; i < boundUnits_; ++i) {
    restoreTextureMatrix(i);
  }
  boundUnits_ = 0;
  if (boundStageOffset_) {
    d->setPolygonOffset(0.0f, 0.0f, kPolygonFill);
    boundStageOffset_ = false;
  }
  if (resetUnits) {
    d->resetTextureUnits();
  }
}

bool RenderBackEnd::stageSkipped(const MaterialStage& stage, bool* endRange) const {
  *endRange = false;
  const uint32_t flags = stage.flags;
  if (flags & (kStageLightInteraction | kStageBump)) {
    return true;
  }
  const bool rendersMap = (flags & kStageRenderMap) != 0;
  const bool readsScreen = (flags & kStageCurrentRender) != 0;
  if (((viewFlags_ & kViewFlagNoScreenCopy) != 0 || r_skipPostProcess.getBool()) &&
      (rendersMap || readsScreen)) {
    return true;
  }
  if (r_skipMirrorMaps.getBool() && rendersMap) {
    return true;
  }
  if (r_skipDynamicTextures.getBool() && stageIsDynamic(stage)) {
    return true;
  }
  if (readsScreen && (viewFlags_ & kViewFlagPostProcess) == 0) {
    *endRange = true;
    return true;
  }
  return false;
}

int RenderBackEnd::nextDrawnStage(const Material* material, int i, int last) const {
  for (; i < last; ++i) {
    const MaterialStage* stage = material->getStage(i);
    bool endRange = false;
    if (stage != nullptr && !stageSkipped(*stage, &endRange)) {
      return i;
    }
    if (endRange) {
      return -1;
    }
  }
  return -1;
}

void RenderBackEnd::drawStageRange(int first, int last, bool resetUnits) {
  RenderInterface* d = device();
  Material* material = drawSurface_.material;
  if (material == nullptr || drawSurface_.numIndexes <= 0 || drawSurface_.indexes == nullptr) {
    return;
  }
  if (continueRun(kRunStages, -1, first, last, resetUnits)) {
    return;
  }
  if (!beginSurfacePolygonOffset()) {
    return;
  }
  const int rangeLast = last;
  if (last > material->getNumStages()) {
    last = material->getNumStages();
  }
  // Inside surface runs, a range that draws one stage whose state is shared keeps it bound for the
  // next surface of the material.
  const int start = first < 0 ? 0 : first;
  int shared = -1;
  if (runsAllowed_) {
    const int only = nextDrawnStage(material, start, last);
    if (only >= 0 && nextDrawnStage(material, only + 1, last) < 0 &&
        stageStateIsShared(*material->getStage(only))) {
      shared = only;
    }
  }
  for (int i = nextDrawnStage(material, start, last); i >= 0; i = nextDrawnStage(material, i + 1, last)) {
    const MaterialStage* stage = material->getStage(i);
    if (bindStage(material, *stage)) {
      d->drawTriangles(drawSurface_.indexes, drawSurface_.numIndexes);
      if (i == shared) {
        openRun(kRunStages, -1, first, rangeLast, resetUnits, stageAttribMask(*stage));
        return;
      }
    }
    unbindStage(resetUnits);
  }
  endStageRange(material, surfaceDepthHack(drawSurface_));
}

void RenderBackEnd::endStageRange(const Material* material, bool depthHack) {
  RenderInterface* d = device();
  endSurfaceOffsets(material, depthHack);
  d->setColorMask(true, true, true, true);
  d->setDepthMask(true);
  setDepthFunc(kCompareLessEqual);
}

void RenderBackEnd::drawAmbientStages(bool postLight, bool all) {
  Material* material = drawSurface_.material;
  if (material == nullptr) {
    return;
  }
  material->ensureLoaded();
  const bool postLighting = (material->extraFlags & kExtraPostLighting) != 0;
  const int count = material->getNumStages();
  int first = 0;
  int last = count;
  if (!all) {
    if (postLighting) {
      return;
    }
    last = material->findStage(kInteractionStageFlags, 0, 0);
  } else if (!postLight && !postLighting) {
    // After the last interaction stage.
    for (int i = 0; i < count; ++i) {
      const MaterialStage* stage = material->getStage(i);
      if (stage != nullptr && (stage->flags & kInteractionStageFlags) != 0) {
        first = i + 1;
      }
    }
  }
  if ((viewFlags_ & kViewFlagPostProcess) != 0) {
    if ((material->extraFlags & kExtraPostProcess) == 0) {
      return;
    }
    first = material->findStage(kStageCurrentRender, 0, 0);
  }
  drawStageRange(first, last, true);
}

void RenderBackEnd::drawDepthSurface(int program) {
  RenderInterface* d = device();
  ShaderInterface* s = shaders();
  Material* material = drawSurface_.material;
  if (material == nullptr || drawSurface_.numIndexes <= 0 || drawSurface_.indexes == nullptr) {
    return;
  }
  if (continueRun(kRunDepth, program, 0, 0, false)) {
    return;
  }
  if (!beginSurfacePolygonOffset()) {
    return;
  }
  setCullMode(material->getCull());
  if (s != nullptr) {
    s->unbindAll();
    if (program >= 0) {
      s->bind(program);
    }
  }
  const int index = material->hasInteractionStages()
                        ? material->findStage(kStageDiffuse, 0, 0)
                        : material->findStage(0, kStageBump | kStageDiffuse | kStageSpecular, 0);
  const MaterialStage* stage = material->getStage(index);
  int alphaFunc = kCompareAlways;
  float alphaRef = 0.0f;
  bool matrixLoaded = false;
  // Colour writes are off while depth fills, so the image matters only to an alpha test: without
  // one no texture is enabled and the fill does no lookups.
  if (stage != nullptr && stage->alphaFunc == kCompareAlways) {
    d->resetTextureUnits();
    d->setMatrixMode(kMatrixModelView);
  } else if (stage != nullptr) {
    d->selectTextureUnit(0, 0);
    ImageInterface* image = stage->imageCount > 0 ? stage->images[0] : nullptr;
    if (image == nullptr || !image->bind()) {
      bindImage(g_defaultImage);
    }
    loadTextureMatrix(0, stageTextureMatrix(*stage, viewState_.modelView, viewState_.projection));
    matrixLoaded = true;
    if (s != nullptr && program >= 0) {
      float multiply[4] = {0.0f, 0.0f, 0.0f, 0.0f};
      float add[4];
      for (int i = 0; i < 4; ++i) {
        add[i] = clamp01(evaluateExpression(stage->color[i])) * colorModulation_[i];
      }
      s->setEnvParam(program, kProgramParamColorModulate, multiply);
      s->setEnvParam(program, kProgramParamColorAdd, add);
    }
    alphaFunc = stage->alphaFunc;
    alphaRef = evaluateExpression(stage->alphaRef);
  }
  d->setAlphaFunc(alphaFunc, alphaRef);
  d->drawTriangles(drawSurface_.indexes, drawSurface_.numIndexes);
  if (runsAllowed_ && !matrixLoaded) {
    // Nothing bound depends on the surface: the next surface of the material draws with it.
    openRun(kRunDepth, program, 0, 0, false, kSurfaceAttribMask);
    return;
  }
  if (matrixLoaded) {
    restoreTextureMatrix(0);
  }
  endDepthFill(material, surfaceDepthHack(drawSurface_));
}

void RenderBackEnd::endDepthFill(const Material* material, bool depthHack) {
  device()->setAlphaFunc(kCompareAlways, 0.0f);
  endSurfaceOffsets(material, depthHack);
  setCullMode(kCullBack);
}

void RenderBackEnd::drawOverlay(const float color[4], int mode) {
  RenderInterface* d = device();
  ShaderInterface* s = shaders();
  if (drawSurface_.vertexBuffer == nullptr || drawSurface_.numIndexes <= 0 ||
      drawSurface_.indexes == nullptr) {
    return;
  }
  d->setPolygonMode(kPolygonLine);
  d->setPolygonOffset(-1.0f, -8.0f, kOffsetLine);
  setupPass();
  const int program = unlitProgram();
  if (s != nullptr && program >= 0) {
    const float zero[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    s->bind(program);
    s->setEnvParam(program, kProgramParamColorModulate, zero);
    s->setEnvParam(program, kProgramParamColorAdd, color);
  }
  if (mode == 2) {
    setDepthFunc(kCompareAlways);
  } else if (mode == 3) {
    setCullMode(kCullNone);
    setDepthFunc(kCompareAlways);
  }
  if (d->bindVertexBuffer(drawSurface_.vertexBuffer, kSurfaceAttribMask)) {
    d->drawTriangles(drawSurface_.indexes, drawSurface_.numIndexes);
    d->unbindVertexBuffer();
  }
  d->setPolygonMode(kPolygonFill);
  d->setPolygonOffset(0.0f, 0.0f, kPolygonFill);
  setCullMode(kCullBack);
  setDepthFunc(kCompareLessEqual);
}

void RenderBackEnd::drawTrisOverlay() {
  const int mode = r_showtris.getInt();
  if (mode == 0) {
    return;
  }
  const float white[4] = {1.0f, 1.0f, 1.0f, 1.0f};
  drawOverlay(white, mode);
}

void RenderBackEnd::drawNodrawOverlay() {
  const Material* material = drawSurface_.material;
  if (!r_shownodraws.getBool() || material == nullptr ||
      ((material->getMaterialFlags() & kMaterialNoDraw) == 0 && material->getNumStages() > 0)) {
    return;
  }
  const float orange[4] = {1.0f, 0.5f, 0.0f, 1.0f};
  drawOverlay(orange, 1);
}

// ---------------------------------------------------------------- light grid and lightmaps

void RenderBackEnd::drawLitByStages(Material* lightMaterial, const float* vertexParms, int firstVertexParm,
                                    int vertexParmCount) {
  RenderInterface* d = device();
  ShaderInterface* s = shaders();
  Material* material = drawSurface_.material;
  if (lightMaterial == nullptr || material == nullptr || drawSurface_.numIndexes <= 0 ||
      drawSurface_.indexes == nullptr) {
    return;
  }
  lightMaterial->ensureLoaded();
  material->ensureLoaded();
  if (!material->hasInteractionStages() || !beginSurfacePolygonOffset()) {
    return;
  }
  const float lightScale = r_lightScale.getFloat();
  const float bumpScale = r_bumpScale.getFloat();
  const float scales[3][4] = {{lightScale, lightScale, lightScale, lightScale},
                              {lightScale, lightScale, lightScale, lightScale},
                              {bumpScale, bumpScale, bumpScale, bumpScale}};
  const int count = material->getNumStages();
  for (int i = material->findStage(kStageBump | kStageDiffuse | kStageSpecular, 0, 0); i < count;
       i = material->nextStage(i)) {
    // The interaction images of this group: bump, diffuse, specular on units 2, 3, 4.
    ImageInterface* images[3] = {nullptr, nullptr, nullptr};
    const uint32_t classes[3] = {kStageBump, kStageDiffuse, kStageSpecular};
    for (int k = 0; k < 3; ++k) {
      const MaterialStage* stage = material->getStage(i + k);
      if (stage != nullptr && (stage->flags & classes[k]) != 0 && stage->imageCount > 0) {
        images[k] = stage->images[0];
      }
    }
    for (int j = 0; j < lightMaterial->getNumStages(); ++j) {
      const MaterialStage* lightStage = lightMaterial->getStage(j);
      if (lightStage == nullptr || (lightStage->flags & kInteractionStageFlags) != 0) {
        continue;
      }
      bool ok = bindStage(lightMaterial, *lightStage);
      if (s != nullptr && lightStage->programs != nullptr) {
        const int vp = lightStage->programs->vertexProgram;
        const int fp = lightStage->programs->fragmentProgram;
        for (int p = 0; p < vertexParmCount && vp >= 0; ++p) {
          s->setLocalParam(vp, firstVertexParm + p, vertexParms + 4 * p);
        }
        for (int p = 0; p < 3 && fp >= 0; ++p) {
          s->setLocalParam(fp, p, scales[p]);
        }
      }
      for (int k = 0; k < 3 && ok; ++k) {
        if (images[k] != nullptr) {
          d->selectTextureUnit(2 + k, 0);
          ok = images[k]->bind();
        }
      }
      if (ok) {
        d->drawTriangles(drawSurface_.indexes, drawSurface_.numIndexes);
      }
      unbindStage(true);
    }
  }
  endSurfacePolygonOffset();
  d->setColorMask(true, true, true, true);
  d->setDepthMask(true);
  setDepthFunc(kCompareLessEqual);
}

void RenderBackEnd::drawLightGridSurface(Material* gridMaterial, const Vec3& ambient, const Vec3& directed,
                                         const Vec3& direction) {
  const Vec3 ambientColor = r_skipAmbientLights.getBool() ? Vec3() : ambient;
  const float parms[12] = {ambientColor.x, ambientColor.y, ambientColor.z, 0.0f,
                           directed.x,     directed.y,     directed.z,     0.0f,
                           direction.x,    direction.y,    direction.z,    0.0f};
  drawLitByStages(gridMaterial, parms, 0, 3);
}

void RenderBackEnd::drawLightmapSurface(Material* lightmapMaterial) {
  const float direction[4] = {-1.0f, -1.0f, 2.0f, 0.0f};
  drawLitByStages(lightmapMaterial, direction, 2, 1);
}
