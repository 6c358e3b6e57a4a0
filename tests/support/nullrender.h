// A render system that draws nothing, for stand-ins that watch a few of its calls: the calls every
// render system must answer are accepted (init succeeds, the view origin is the world's origin),
// and the rest keep the interface's own empty defaults. Suites override what they watch.
// Header only, so the fuzz harnesses (which link no test library) can use it too.
#pragma once

#include "lib/interface/rendersystem.h"

class NullRenderSystem : public RenderSystem {
 public:
  bool init() override { return true; }
  void shutdown() override {}
  void unloadMap() override {}
  void endFrame() override {}
  void precacheInteractions() override {}
  void setRenderView(const RenderView*, int) override {}
  void clearScreen() override {}
  using RenderSystem::drawText;
  void drawText(const char*, float, float, float, int, int, const float*) override {}
  void mapLoaded() override {}
  void viewOrigin(float out[3]) override { out[0] = out[1] = out[2] = 0.0f; }
};
