// The back end's state operations and view set-up. Each operation's device calls are part of its
// contract (tests record them), so none is filtered or reordered here: the device filters redundant
// GL calls itself.
#include "render/backend/renderbackend.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "lib/fastmath.h"
#include "lib/interface/convarsystem.h"
#include "lib/interface/renderentity.h"
#include "render/material/expression.h"
#include "render/material/material.h"

RenderBackEnd g_renderBackEnd;

// Shared with the render manager's declarations (same names share one record).
static ConVar r_zNear("r_zNear", "3", 0x14, "camera near clipping plane");
static ConVar r_viewwidth("r_viewwidth", "800", 0x10012, "screen width");
static ConVar r_viewheight("r_viewheight", "600", 0x10012, "screen height");
static ConVar r_shadowPolygonFactor("r_shadowPolygonFactor", "0", 0x20014);
static ConVar r_shadowPolygonOffset("r_shadowPolygonOffset", "-1", 0x20014);

// The entity record's last word is the depth-hack flag: weapons drawn in front of the world.
bool entityDepthHack(const RenderEntity* entity) {
  return entity != nullptr && entity->reserved4 != 0;
}

bool surfaceDepthHack(const DrawSurface& surf) {
  return surf.depthHack >= 0 ? surf.depthHack != 0 : entityDepthHack(surf.entity);
}

namespace {

constexpr float kInfiniteFar = 1e30f;
constexpr float kFrustumFar = 64000.0f;

RenderInterface* device() {
  return g_renderInterface;
}

ShaderInterface* shaders() {
  return g_renderInterface ? g_renderInterface->getShaderInterface() : nullptr;
}

int roundHalfEven(float v) {
  return static_cast<int>(std::nearbyint(v));
}

// A fresh context has the driver's stencil state; the back end's passes expect their own.
void contextCreated(RenderInterface* created) {
  g_renderBackEnd.setDefaultStencilState(created);
  g_renderBackEnd.invalidatePrograms();
}

}  // namespace

RenderBackEnd::RenderBackEnd() {
  reset();
  g_renderContextHooks.contextCreated = &contextCreated;
}

void RenderBackEnd::reset() {
  passMode_ = 0;
  drawSurface_ = DrawSurface{};
  std::memset(drawSurface_.shaderParms, 0, sizeof(drawSurface_.shaderParms));
  clipPlaneSaved_ = false;
  clipPlane0Enabled_ = false;
  view_ = RenderView{};
  hasView_ = false;
  for (float& c : colorModulation_) {
    c = 1.0f;
  }
  depthFuncOverride_ = 0;
  mirrored_ = false;
  renderWidth_ = 9999;
  renderHeight_ = 9999;
  counters_ = ViewCounters{};
  programsLooked_ = false;
}

void RenderBackEnd::clear(bool color, bool depth) {
  RenderInterface* d = device();
  d->setColorMask(true, true, true, true);
  d->setDepthMask(true);
  d->clear((color ? kClearColor : 0) | (depth ? kClearDepth : 0));
}

void RenderBackEnd::setStencilForPass(bool shadowed) {
  RenderInterface* d = device();
  if (shadowed) {
    d->setStencilFunc(kCompareEqual, kStencilReference, kStencilMaskAll);
    d->setStencilMask(0);
  } else {
    d->setStencilFunc(kCompareAlways, kStencilReference, kStencilMaskAll);
    d->setStencilMask(kStencilMaskAll);
  }
}

void RenderBackEnd::setDepthFunc(int code) {
  device()->setDepthFunc(depthFuncOverride_ != 0 ? depthFuncOverride_ : code);
}

void RenderBackEnd::setCullMode(int mode) {
  if (mirrored_ && mode == kCullFront) {
    mode = kCullBack;
  } else if (mirrored_ && mode == kCullBack) {
    mode = kCullFront;
  }
  device()->setCullMode(mode);
}

void RenderBackEnd::applyViewport() {
  const int w = std::min(viewport_[2], renderWidth_);
  const int h = std::min(viewport_[3], renderHeight_);
  device()->setViewport(viewport_[0], viewport_[1], w, h);
  device()->setScissor(viewport_[0], viewport_[1], w, h);
}

void RenderBackEnd::setMatrices(const Mat4& modelView, const Mat4& projection) {
  RenderInterface* d = device();
  d->setMatrixMode(kMatrixProjection);
  d->pushMatrix();
  d->loadMatrix(&projection);
  d->setMatrixMode(kMatrixModelView);
  d->pushMatrix();
  d->loadMatrix(&modelView);
}

void RenderBackEnd::setOrtho2D(float width, float height) {
  setMatrices(Mat4::identity(), Mat4::ortho(0.0f, width, height, 0.0f, -1.0f, 1.0f));
}

void RenderBackEnd::setOrtho2DAspect(float width, float height) {
  const float vw = r_viewwidth.getFloat();
  const float aspect = vw != 0.0f ? r_viewheight.getFloat() / vw : 1.0f;
  setOrtho2D(width, height * aspect);
}

void RenderBackEnd::popMatrices(bool modelView, bool projection) {
  RenderInterface* d = device();
  if (projection) {
    d->setMatrixMode(kMatrixProjection);
    d->popMatrix();
  }
  if (modelView) {
    d->setMatrixMode(kMatrixModelView);
    d->popMatrix();
  }
}

void RenderBackEnd::pushModelViewMatrix(const Mat4& m) {
  RenderInterface* d = device();
  d->setMatrixMode(kMatrixModelView);
  d->pushMatrix();
  d->loadMatrix(&m);
}

void RenderBackEnd::pushViewMatrices() {
  setMatrices(viewState_.modelView, viewState_.projection);
  applyViewport();
}

void RenderBackEnd::popViewMatrices() {
  counters_ = ViewCounters{};
  RenderInterface* d = device();
  d->setMatrixMode(kMatrixProjection);
  d->popMatrix();
  d->setMatrixMode(kMatrixModelView);
  d->popMatrix();
}

void RenderBackEnd::loadTextureMatrix(int unit, const Mat4& m) {
  RenderInterface* d = device();
  d->selectTextureUnit(unit, 0);
  d->setMatrixMode(kMatrixTexture);
  d->pushMatrix();
  d->loadMatrix(&m);
  d->setMatrixMode(kMatrixModelView);
}

void RenderBackEnd::restoreTextureMatrix(int unit) {
  RenderInterface* d = device();
  d->selectTextureUnit(unit, 0);
  d->setMatrixMode(kMatrixTexture);
  d->popMatrix();
  d->setMatrixMode(kMatrixModelView);
}

void RenderBackEnd::setupPass() {
  RenderInterface* d = device();
  d->resetTextureUnits();
  if (ShaderInterface* s = shaders()) {
    s->unbindAll();
  }
  d->setColorMask(true, true, true, true);
  d->setBlendFunc(kBlendOne, kBlendZero);
  d->setAlphaFunc(kCompareAlways, 0.0f);
  setDepthFunc(kCompareLessEqual);
  d->setDepthMask(true);
  d->setMatrixMode(kMatrixModelView);
}

void RenderBackEnd::beginShadowPass(bool clearStencil) {
  RenderInterface* d = device();
  setupPass();
  clipPlaneSaved_ = clipPlane0Enabled_;
  d->disableClipPlane(0);
  clipPlane0Enabled_ = false;
  if (ShaderInterface* s = shaders()) {
    s->bind(shadowProgram());
  }
  d->setClearStencil(kStencilReference);
  d->setStencilFunc(kCompareAlways, kStencilReference, kStencilMaskAll);
  d->setStencilMask(kStencilMaskAll);
  if (clearStencil) {
    d->clear(kClearStencil);
  }
  d->setPolygonOffset(r_shadowPolygonFactor.getFloat(), -r_shadowPolygonOffset.getFloat(), kPolygonFill);
  setDepthFunc(kCompareLess);
  d->setColorMask(false, false, false, false);
  d->setDepthMask(false);
}

void RenderBackEnd::beginUnshadowedPass(bool clearStencil) {
  RenderInterface* d = device();
  setupPass();
  if (ShaderInterface* s = shaders()) {
    s->unbindAll();
  }
  d->setClearStencil(kStencilReference);
  if (clearStencil) {
    d->setStencilFunc(kCompareAlways, kStencilReference, kStencilMaskAll);
    d->setStencilMask(kStencilMaskAll);
    d->clear(kClearStencil);
  }
  setDepthFunc(kCompareLessEqual);
  d->setStencilFunc(kCompareEqual, kStencilReference, kStencilMaskAll);
  d->setStencilMask(0);
  d->setPolygonOffset(0.0f, 0.0f, kPolygonFill);
  d->setColorMask(true, true, true, true);
  d->setDepthMask(true);
  d->setCullMode(mirrored_ ? kCullFront : kCullBack);
}

void RenderBackEnd::endShadowPass() {
  RenderInterface* d = device();
  if (clipPlaneSaved_) {
    d->enableClipPlane(0);
    clipPlane0Enabled_ = true;
    clipPlaneSaved_ = false;
  }
  d->setPolygonOffset(0.0f, 0.0f, kPolygonFill);
  d->setDepthMask(true);
  setDepthFunc(kCompareLessEqual);
  if (ShaderInterface* s = shaders()) {
    s->unbindAll();
  }
  d->setStencilFunc(kCompareEqual, kStencilReference, kStencilMaskAll);
  d->setStencilMask(0);
  d->setColorMask(true, true, true, true);
  d->setCullMode(mirrored_ ? kCullFront : kCullBack);
}

bool RenderBackEnd::beginSurfacePolygonOffset() {
  RenderInterface* d = device();
  const DrawSurface& surf = drawSurface_;
  if (surf.vertexBuffer == nullptr) {
    return false;
  }
  if (surfaceDepthHack(surf)) {
    d->setDepthRange(0.0f, 0.3f);
  }
  const float offset = surf.material ? surf.material->polygonOffset : 0.0f;
  if (offset != 0.0f) {
    d->setPolygonOffset(0.0f, -offset, kPolygonFill);
  }
  return d->bindVertexBuffer(surf.vertexBuffer, kSurfaceAttribMask);
}

void RenderBackEnd::endSurfacePolygonOffset() {
  endSurfaceOffsets(drawSurface_.material, surfaceDepthHack(drawSurface_));
}

void RenderBackEnd::endSurfaceOffsets(const Material* material, bool depthHack) {
  RenderInterface* d = device();
  if (material != nullptr && material->polygonOffset != 0.0f) {
    d->setPolygonOffset(0.0f, 0.0f, kPolygonFill);
  }
  if (depthHack) {
    d->setDepthRange(0.0f, 1.0f);
  }
  d->unbindVertexBuffer();
}

void RenderBackEnd::beginSurfaceRuns() {
  closeRun();
  runsAllowed_ = true;
}

void RenderBackEnd::endSurfaceRuns() {
  closeRun();
  runsAllowed_ = false;
}

void RenderBackEnd::openRun(SurfaceRunKind kind, int program, int first, int last, bool resetUnits,
                            int attribMask) {
  run_ = SurfaceRun{.kind = kind,
                    .material = drawSurface_.material,
                    .depthHack = surfaceDepthHack(drawSurface_),
                    .program = program,
                    .first = first,
                    .last = last,
                    .resetUnits = resetUnits,
                    .attribMask = attribMask};
}

bool RenderBackEnd::continueRun(SurfaceRunKind kind, int program, int first, int last, bool resetUnits) {
  if (run_.kind == kRunNone) {
    return false;
  }
  if (run_.kind != kind || run_.material != drawSurface_.material || run_.program != program ||
      run_.first != first || run_.last != last || run_.resetUnits != resetUnits ||
      run_.depthHack != surfaceDepthHack(drawSurface_)) {
    closeRun();
    return false;
  }
  // What beginSurfacePolygonOffset and the stage binding set of the surface itself: its arrays. The
  // scissor reset between two surfaces also resets the depth range, so a depth hack is set again.
  RenderInterface* d = device();
  if (run_.depthHack) {
    d->setDepthRange(0.0f, 0.3f);
  }
  if (d->bindVertexBuffer(drawSurface_.vertexBuffer, kSurfaceAttribMask)) {
    if (run_.attribMask != kSurfaceAttribMask) {
      d->setVertexAttribPointers(drawSurface_.vertexBuffer, run_.attribMask);
    }
    d->drawTriangles(drawSurface_.indexes, drawSurface_.numIndexes);
  }
  return true;
}

void RenderBackEnd::closeRun() {
  if (run_.kind == kRunNone) {
    return;
  }
  const SurfaceRun run = run_;
  run_ = SurfaceRun{};
  if (run.kind == kRunDepth) {
    endDepthFill(run.material, run.depthHack);
  } else {
    unbindStage(run.resetUnits);
    endStageRange(run.material, run.depthHack);
  }
}

void RenderBackEnd::setDefaultStencilState(RenderInterface* target) {
  RenderInterface* d = target != nullptr ? target : device();
  if (d == nullptr) {
    return;
  }
  d->setClearStencil(kStencilReference);
  d->setStencilFunc(kCompareAlways, kStencilReference, kStencilMaskAll);
  d->setStencilOp(kStencilKeep, kStencilKeep, kStencilKeep);
  d->setStencilMask(kStencilMaskAll);
}

void RenderBackEnd::setClipPlane0(const Plane* plane) {
  RenderInterface* d = device();
  if (plane == nullptr || (plane->a == 0.0f && plane->b == 0.0f && plane->c == 0.0f)) {
    d->disableClipPlane(0);
    clipPlane0Enabled_ = false;
    return;
  }
  // A world plane: the device places it through the current view's axis and origin (the
  // identity frame would put it relative to the eye instead).
  d->setClipPlane(0, plane, &view_.axis, &view_.origin);
  clipPlane0Enabled_ = true;
}

void RenderBackEnd::setDepthAndCull(int depth, int cull) {
  setDepthFunc(depth != 0 ? kCompareLessEqual : kCompareAlways);
  setCullMode(cull != 0 ? kCullBack : kCullNone);
}

void RenderBackEnd::drawWithMatrix(const Mat4& m) {
  pushModelViewMatrix(m);
}

// ---------------------------------------------------------------- view set-up

void RenderBackEnd::setView(const RenderView* view) {
  if (view == nullptr) {
    view_ = RenderView{};
    hasView_ = false;
    setExpressionView(nullptr, 0);
    return;
  }
  view_ = *view;
  hasView_ = true;
  setExpressionView(&view_.origin.x, view_.time);
}

Mat4 worldToDeviceMatrix() {
  const Mat3 axis(Vec3(0.0f, 0.0f, -1.0f), Vec3(-1.0f, 0.0f, 0.0f), Vec3(0.0f, 1.0f, 0.0f));
  return Mat4::fromMat3(axis);
}

Mat4 viewModelViewMatrix(const Mat3& axis, const Vec3& origin) {
  // World to view: v = R (p - origin) with R's rows the view axes.
  Mat4 world;
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) {
      world.m[c * 4 + r] = axis[r][c];
    }
    world.m[12 + r] = -axis[r].dot(origin);
  }
  return Mat4::multiply(world, worldToDeviceMatrix());
}

float fovFromExtents(float a, float b) {
  return 2.0f * std::atan(a / b) * 57.2957795132f;
}

void RenderBackEnd::applyViewMatrices() {
  float zNear = r_zNear.getFloat();
  if (!(zNear >= 0.001f)) {
    r_zNear.setString("0.001");
    zNear = 0.001f;
  }
  viewState_.zNear = zNear;
  viewState_.zFar = kInfiniteFar;

  // The view rectangle in 640 x 480 units, then in pixels of the render size.
  float x = std::clamp(static_cast<float>(view_.x), 0.0f, 640.0f);
  float y = std::clamp(static_cast<float>(view_.y), 0.0f, 480.0f);
  if (x < 1.0f) {
    x = 0.0f;
  }
  if (y < 1.0f) {
    y = 0.0f;
  }
  const float w = std::max(static_cast<float>(view_.width), 1.0f);
  const float h = std::max(static_cast<float>(view_.height), 1.0f);
  const float rw = static_cast<float>(renderWidth_);
  const float rh = static_cast<float>(renderHeight_);
  const int px = roundHalfEven(rw * x / 640.0f);
  const int py = roundHalfEven(rh * y / 480.0f);
  const int pw = roundHalfEven(w / 640.0f * rw + 0.5f);
  const int ph = roundHalfEven(rh * h / 480.0f + 0.5f);
  viewport_[0] = px < 1 ? 0 : px;
  const int vy = renderHeight_ - ph - py;
  viewport_[1] = vy < 1 ? 0 : vy;
  viewport_[2] = pw;
  viewport_[3] = ph;

  const float tanX = std::tan(view_.fovX * 0.5f * kDegToRad);
  const float tanY = std::tan(view_.fovY * 0.5f * kDegToRad);
  const RenderViewTile* tile = view_.tile;
  if (tile != nullptr && tile->totalWidth > 0 && tile->totalHeight > 0) {
    const float s = tanX * zNear;
    const float t = tanY * zNear;
    const float left = -s + tile->column * tile->tileWidth * 2.0f * s / tile->totalWidth;
    const float right = left + tile->tileWidth * 2.0f * s / tile->totalWidth;
    const float bottom = -t + tile->row * tile->tileHeight * 2.0f * t / tile->totalHeight;
    const float top = bottom + tile->tileHeight * 2.0f * t / tile->totalHeight;
    viewState_.projection = Mat4::frustum(left, right, bottom, top, zNear, kInfiniteFar);
  } else {
    viewState_.projection = Mat4::perspective(view_.fovX, view_.fovY, zNear, kInfiniteFar);
  }
  viewState_.modelView = viewModelViewMatrix(view_.axis, view_.origin);

  // Frustum planes with outward normals.
  const Vec3& forward = view_.axis[0];
  const Vec3& left = view_.axis[1];
  const Vec3& up = view_.axis[2];
  const Vec3& origin = view_.origin;
  const float nearDist = std::max(std::fabs(zNear), 0.01f);
  const float farDist = kFrustumFar;
  Vec3 normals[6] = {
      -forward, up - forward * tanY, -up - forward * tanY, left - forward * tanX, -left - forward * tanX,
      forward};
  for (int i = 1; i < 5; ++i) {
    normals[i].normalize();
  }
  for (int i = 0; i < 6; ++i) {
    float d = normals[i].dot(origin);
    if (i == 0) {
      d = normals[i].dot(origin + forward * nearDist);
    } else if (i == 5) {
      d = normals[i].dot(origin + forward * farDist);
    }
    viewState_.frustum[i] = Plane(normals[i], d);
    if (mirrored_) {
      viewState_.frustum[i].negate();
    }
  }
}

int RenderBackEnd::lightClipBits(const Vec3& light) const {
  return Bounds::clipBits(light, view_.origin, r_zNear.getFloat() + 1.0f);
}

// ---------------------------------------------------------------- plain state

void RenderBackEnd::publishParms() {
  setExpressionParms(drawSurface_.shaderParms);
}

void RenderBackEnd::setDrawSurface(const DrawSurface* surface) {
  if (surface == nullptr) {
    drawSurface_ = DrawSurface{};
    std::memset(drawSurface_.shaderParms, 0, sizeof(drawSurface_.shaderParms));
  } else {
    drawSurface_ = *surface;
  }
  publishParms();
}

void RenderBackEnd::setShaderParm(int index, float value) {
  if (index < 0 || index >= 12) {
    return;
  }
  drawSurface_.shaderParms[index] = value;
  publishParms();
}

void RenderBackEnd::setColorModulation(float r, float g, float b, float a) {
  colorModulation_[0] = r;
  colorModulation_[1] = g;
  colorModulation_[2] = b;
  colorModulation_[3] = a;
}

void RenderBackEnd::setViewport(int x, int y, int width, int height) {
  viewport_[0] = x;
  viewport_[1] = y;
  viewport_[2] = width;
  viewport_[3] = height;
}

void RenderBackEnd::getViewport(int out[4]) const {
  for (int i = 0; i < 4; ++i) {
    out[i] = viewport_[i];
  }
}

void RenderBackEnd::setRenderSize(int width, int height) {
  renderWidth_ = width;
  renderHeight_ = height;
}

int RenderBackEnd::unlitProgram() {
  if (!programsLooked_) {
    lookUpPrograms();
  }
  return unlitProgram_;
}

int RenderBackEnd::shadowProgram() {
  if (!programsLooked_) {
    lookUpPrograms();
  }
  return shadowProgram_;
}

void RenderBackEnd::lookUpPrograms() {
  ShaderInterface* s = shaders();
  if (s == nullptr) {
    unlitProgram_ = shadowProgram_ = -1;
    return;
  }
  // Loaded by the shader interface's init: these find the existing records.
  unlitProgram_ = s->loadVertexProgram("unlit.vp");
  shadowProgram_ = s->loadVertexProgram("shadow.vp");
  interactionVP_[0] = s->loadVertexProgram("interaction.vfp");
  interactionVP_[1] = s->loadVertexProgram("interaction_nos.vp");
  interactionFP_[0] = s->loadFragmentProgram("interaction.vfp");
  interactionFP_[1] = s->loadFragmentProgram("interaction_nob.fp");
  interactionFP_[2] = s->loadFragmentProgram("interaction_nos.fp");
  interactionFP_[3] = s->loadFragmentProgram("interaction_nobs.fp");
  ambientVP_ = s->loadVertexProgram("ambientInteraction.vfp");
  ambientFP_ = s->loadFragmentProgram("ambientInteraction.vfp");
  programsLooked_ = true;
}
