// Render windows: the entity, its light and view, the clip's joints, and the drawing through the
// render system as a game draws a scene.
#include "ui/uirenderdef.h"

#include <cmath>
#include <cstdint>

#include "lib/interface/cmdsystem.h"
#include "lib/interface/declsystem.h"
#include "lib/interface/renderinterface.h"
#include "lib/interface/rendermodelsystem.h"
#include "render/model/dynamicmodel.h"
#include "ui/userinterfacemanager.h"

namespace {

const UIVarDef kRenderProperties[] = {
    {kUIVarText, "model", "", 0},
    {kUIVarText, "anim", "", 0},
    {kUIVarText, "animClass", "", 0},
    {kUIVarVec3, "lightOrigin", "-128 0 0", 0},
    {kUIVarVec4, "lightColor", "1 1 1 1", 0},
    {kUIVarBool, "lightShadows", "0", 0},
    {kUIVarBool, "lightAmbient", "0", 0},
    {kUIVarVec3, "modelOrigin", "0 0 0", 0},
    {kUIVarVec3, "modelRotate", "0 0 0", 0},
    {kUIVarVec3, "viewOffset", "-128 0 0", 0},
    {kUIVarVec3, "viewRotate", "0 0 0", 0},
    {kUIVarFloat, "viewFOV", "60", 0},
    {kUIVarNone, nullptr, nullptr, 0},
};

int nowTime() {
  return g_userInterfaceManager ? g_userInterfaceManager->currentTime() : 0;
}

constexpr float kEntityExtent = 32768.0f;

}  // namespace

bool UIRenderDef::jointCallback(RenderEntity* entity, const RenderView* view) {
  UIRenderDef* window = entity && view ? static_cast<UIRenderDef*>(entity->callbackData) : nullptr;
  if (!window || !window->poseJoints(view->time))
    return false;
  // The renderer draws its own copy of the entity: the joints go there too.
  entity->joints = window->joints_.data();
  entity->numJoints = int(window->joints_.size());
  return true;
}

UIRenderDef::UIRenderDef(UserInterfaceLocal* gui) : UIKindWindow(gui, kRenderProperties) {
  declareProperties();
}

UIRenderDef::UIRenderDef(UserInterfaceLocal* gui, UIBareWindow)
    : UIKindWindow(gui, kRenderProperties, UIBareWindow()) {}

void UIRenderDef::declareProperties() {
  UIKindWindow::declareProperties();
  setVarText("update", "1");
}

void UIRenderDef::clearEntity() {
  entity_ = RenderEntity();
  joints_.clear();
}

void UIRenderDef::update() {
  if (!getBoolVar("update", false))
    return;
  setVarText("update", "0");
  startTime_ = nowTime();
  clearEntity();

  float v[4];
  getVec3Var("modelOrigin", v, nullptr);
  entity_.origin = Vec3(v[0], v[1], v[2]);
  getVec3Var("modelRotate", v, nullptr);
  entity_.axis = Angles(v[0], v[1], v[2]).toMat3();
  entity_.bounds = Bounds(Vec3(-kEntityExtent, -kEntityExtent, -kEntityExtent),
                          Vec3(kEntityExtent, kEntityExtent, kEntityExtent));
  entity_.shaderParms[3] = 1.0f;

  light_ = RenderLight();
  light_.axis = Mat3::identity();
  getVec3Var("lightOrigin", v, nullptr);
  light_.origin = Vec3(v[0], v[1], v[2]);
  light_.radius = Vec3(kEntityExtent, kEntityExtent, kEntityExtent);
  light_.bounds = Bounds(-light_.radius, light_.radius);
  light_.shape = 2;
  light_.kind = 1;
  static const float kWhite[4] = {1.0f, 1.0f, 1.0f, 1.0f};
  getVec4Var("lightColor", v, kWhite);
  light_.shaderParms[0] = v[0];
  light_.shaderParms[1] = v[1];
  light_.shaderParms[2] = v[2];
  light_.shaderParms[3] = 1.0f;
  light_.shaderParms[4] = 0.5f;
  light_.shaderParms[5] = 1.0f;
  light_.flags = kLightSpecular | kLightAllDynamic | kLightStaticSource;
  if (getBoolVar("lightShadows", false))
    light_.flags |= kLightShadows;
  if (getBoolVar("lightAmbient", false))
    light_.flags |= kLightAmbient;

  const DeclEntityDef* animClass = nullptr;
  const char* className = getStringVar("animClass", "");
  if (className[0] && g_declSystem)
    animClass = dynamic_cast<DeclEntityDef*>(g_declSystem->findType(kDeclEntityDef, className, false));

  const char* modelName = getStringVar("model", "");
  RenderModel* model = modelName[0] && g_renderModelSystem ? g_renderModelSystem->findOrLoadModel(modelName) : nullptr;
  if (model && !model->isDefaultModel()) {
    entity_.model = model;
    const char* anim = getStringVar("anim", "");
    if (!anim[0])
      return;
    std::string file = anim;
    if (animClass)
      file = animClass->dict.getString(anim, "");
    if (clip_.parse(file.c_str())) {
      // Storage for every joint the model skins with: the clip poses those it has.
      joints_.assign(size_t(model->numJointPoses() > 0 ? model->numJointPoses() : 0), Mat4::identity());
      entity_.numJoints = int(joints_.size());
      entity_.joints = joints_.empty() ? nullptr : joints_.data();
      return;
    }
    cmdPrintf("WARNING: animation '%s' could not be read: the model is not shown\n", file.c_str());
  }
  clearEntity();
  clip_.reset();
}

bool UIRenderDef::poseJoints(int now) {
  RenderModel* model = entity_.model;
  const int n = int(joints_.size());
  if (!model || clip_.numFrames() <= 0 || n <= 0 || model->numJointPoses() < n)
    return false;
  const JointPose* bind = model->getBindPoses();
  const ModelJoint* modelJoints = model->getJoints();
  std::vector<JointQuat> poses(static_cast<size_t>(n));
  std::vector<int> list(static_cast<size_t>(n));
  std::vector<int> parents(static_cast<size_t>(n));
  for (int j = 0; j < n; ++j) {
    if (bind) {
      poses[size_t(j)].q = bind[j].orientation;
      poses[size_t(j)].t = bind[j].position;
    }
    list[size_t(j)] = j;
    parents[size_t(j)] = modelJoints && modelJoints[j].parent ? int(modelJoints[j].parent - modelJoints) : -1;
  }
  const int64_t elapsed = int64_t(now) - int64_t(startTime_);
  const int ms = elapsed > 0x7fffffff ? 0x7fffffff : (elapsed < 0 ? 0 : int(elapsed));
  clip_.blendFrames(clip_.frameAtTime(ms, 0), poses.data(), list.data(), n);
  jointsToMatrices(joints_.data(), poses.data(), n);
  concatJointsToParents(joints_.data(), parents.data(), 1, n - 1);
  entity_.joints = joints_.data();
  entity_.numJoints = n;
  return true;
}

RenderView UIRenderDef::buildView(const float rect[4], int time) {
  RenderView view;
  view.x = int(std::lround(rect[0]));
  view.y = int(std::lround(rect[1]));
  view.width = int(std::lround(rect[2]));
  view.height = int(std::lround(rect[3]));
  view.time = time;
  const float fov = getFloatVar("viewFOV", 60.0f);
  const float w = rect[2], h = rect[3];
  if (w >= h) {
    view.fovX = fov;
    view.fovY = w > 0.0f ? fov * h / w : fov;
  } else {
    view.fovY = fov;
    view.fovX = h > 0.0f ? fov * w / h : fov;
  }
  static const float kOffset[4] = {-128.0f, 0.0f, 0.0f, 0.0f};
  float v[4];
  getVec3Var("viewOffset", v, kOffset);
  view.origin = Vec3(v[0], v[1], v[2]);
  getVec3Var("viewRotate", v, nullptr);
  view.axis = Angles(v[0], v[1], v[2]).toMat3();
  // The window's entity and light belong to this view alone.
  view.viewId = 0x55490000 | (id_ & 0xffff);
  return view;
}

void UIRenderDef::draw(const float origin[2]) {
  if (isHidden())
    return;
  update();
  // The renderer poses the entity through it when it draws the model, at the view's time.
  entity_.callback = jointCallback;
  entity_.callbackData = this;
  const UIVar* rectVar = getVar(findVarIndex("rect"));
  if (!rectVar)
    return;
  const float rect[4] = {origin[0] + rectVar->value.x, origin[1] + rectVar->value.y, rectVar->value.z,
                         rectVar->value.w};
  const int now = nowTime();
  // Without a device the 2D drawing has no state to come back to: the plain window only.
  if (entity_.model && g_renderSystem && g_renderInterface && rect[2] > 0.0f && rect[3] > 0.0f) {
    RenderView view = buildView(rect, now);
    float saved[4];
    g_renderInterface->getViewport(saved);
    const int vx = int(saved[0]), vy = int(saved[1]), vw = int(saved[2]), vh = int(saved[3]);
    // What was drawn before (a game's scene) must not hide the model: clear the depth under it.
    const int px = vx + int(std::lround(vw * rect[0] / 640.0f));
    const int pw = int(std::lround(vw * rect[2] / 640.0f));
    const int ph = int(std::lround(vh * rect[3] / 480.0f));
    const int py = vy + vh - int(std::lround(vh * rect[1] / 480.0f)) - ph;
    g_renderInterface->setScissor(px, py, pw, ph);
    g_renderInterface->setDepthMask(true);
    g_renderInterface->clear(kClearDepth);

    // The model alone, lit by the window's light: the renderer draws it from a copy of its own, so
    // neither the game's entities nor a loaded map's areas reach into the window.
    RenderLight light = light_;
    light.allowOnlyInViewId = view.viewId;
    const int lightIndex = g_renderSystem->addLightDef(&light);
    static const float kWhite[4] = {1.0f, 1.0f, 1.0f, 1.0f};
    float matColor[4];
    getVec4Var("matcolor", matColor, kWhite);
    g_renderSystem->setColorV(matColor);
    // Lit, ambient stages and a depth pass; the window cleared its depth itself and keeps its colour.
    g_renderSystem->renderModelView(&view, 0xb, entity_.model, &entity_, lightIndex);
    g_renderSystem->setColor(1.0f, 1.0f, 1.0f, 1.0f);
    if (lightIndex >= 0)
      g_renderSystem->freeLightDef(lightIndex);
    g_renderInterface->setViewport(vx, vy, vw, vh);
    g_renderInterface->setScissor(vx, vy, vw, vh);
  }
  drawSelf(rect);
  drawChildren(rect);
}
