// The shared record of a view: what the game (and the renderer itself, for mirrors and remote
// cameras) hands to the render manager to draw one picture.
#pragma once

#include <cstdint>

#include "lib/matrix.h"
#include "lib/vector.h"

class Material;

// One part of a larger picture (tiled screenshots): the projection covers only this tile of the
// whole view's frustum.
struct RenderViewTile {
  int32_t column = 0;
  int32_t row = 0;
  int32_t tileWidth = 0;
  int32_t tileHeight = 0;
  int32_t totalWidth = 0;
  int32_t totalHeight = 0;
};

struct RenderView {
  int32_t viewId = 0;  // compared with the entities' and lights' view ids
  // Rectangle in 640 x 480 units, origin top left; a width or height of 0 means the render size.
  int32_t x = 0;
  int32_t y = 0;
  int32_t width = 0;
  int32_t height = 0;
  float fovX = 0.0f;  // degrees
  float fovY = 0.0f;
  const RenderViewTile* tile = nullptr;
  Mat3 axis;  // row 0 forward, row 1 left, row 2 up
  Vec3 origin;
  int32_t time = 0;  // milliseconds; drives material and interface animation
  const Material* overrideMaterial = nullptr;
  Plane clipPlane;  // a zero normal means none
};
