// "renderDef" windows: one render entity lit by one light, seen through a small view of the
// window's own, optionally animated by a clip read from a text animation file.
#pragma once

#include <vector>

#include "lib/interface/renderentity.h"
#include "lib/interface/rendersystem.h"
#include "lib/interface/renderview.h"
#include "lib/matrix.h"
#include "ui/animclip.h"
#include "ui/uikinds.h"

class UIRenderDef : public UIKindWindow {
 public:
  explicit UIRenderDef(UserInterfaceLocal* gui);
  // No variables or properties yet: the kind creators copy a template over it, then declare them.
  UIRenderDef(UserInterfaceLocal* gui, UIBareWindow);
  void declareProperties() override;
  // When "update" is set: places the entity and the light, loads the model and reads the clip.
  void update() override;
  // The model drawn into the window's rectangle, then the plain window on top.
  void draw(const float origin[2]) override;

  // The window's view for its absolute rectangle: the longer side gets the whole "viewFOV", the
  // shorter side the same share of it as of the longer side.
  RenderView buildView(const float rect[4], int time);
  // The entity's joint matrices for the time since the last update (the model's joints, blended
  // by the clip where it has them); false, leaving them, without a model or frames.
  bool poseJoints(int now);
  // The entity's callback while the renderer draws the window: poses the drawn copy's joints for
  // the view's time.
  static bool jointCallback(RenderEntity* entity, const RenderView* view);

  const RenderEntity& entity() const { return entity_; }
  const RenderLight& light() const { return light_; }
  const AnimClip& clip() const { return clip_; }
  const Mat4* jointMatrices() const { return joints_.empty() ? nullptr : joints_.data(); }
  int startTime() const { return startTime_; }

 private:
  void clearEntity();

  RenderLight light_;
  RenderEntity entity_;
  std::vector<Mat4> joints_;
  AnimClip clip_;
  int startTime_ = 0;
};
