// The shared record of a drawn object: what the game, the map loader, the user interface and the
// effects hand to the renderer, and what render models read when they place or copy themselves.
#pragma once

#include <cstdint>

#include "lib/matrix.h"
#include "lib/vector.h"

class RenderModel;
class Material;
class DeclSkin;
struct RenderView;

struct RenderEntity;
// Called by the renderer with the stored parameters and the view before the entity is drawn (its
// joints posed, its parameters animated); true when it changed the parameters, so the entity's
// instance model is rebuilt from them.
using RenderEntityCallback = bool (*)(RenderEntity* entity, const RenderView* view);

struct RenderEntity {
  RenderModel* model = nullptr;  // null: nothing is drawn
  int32_t reserved0[3] = {};
  Bounds bounds;  // model space; starts cleared
  int32_t reserved1[2] = {};
  int32_t suppressInViewId = 0;
  int32_t reserved2[2] = {};
  int32_t allowOnlyInViewId = 0;
  int32_t reserved3 = 0;
  int32_t noShadows = 0;
  float shaderParms[12] = {};  // 0-2 the colour
  Mat3 axis;
  Vec3 origin;
  Material* customMaterial = nullptr;  // replaces every surface's material when set
  const DeclSkin* skin = nullptr;
  const DeclSkin* skin2 = nullptr;  // consulted when `skin` gives the default material
  int32_t mapFlags = 0;
  void* guis[3] = {};
  RenderView* remoteView = nullptr;
  int32_t numJoints = 0;
  const Mat4* joints = nullptr;  // numJoints joint matrices (skinned models)
  int32_t reserved4 = 0;
  int32_t entityIndex = -1;  // the slot the renderer keeps the entity in (filled on add)
  RenderEntityCallback callback = nullptr;
  void* callbackData = nullptr;  // the callback's own
};
