// The render-model manager's interface, as far as the engine core calls it;
// the render-model subsystem extends it. Absent (null) until built.
#pragma once

class RenderModelSystem {
 public:
  virtual ~RenderModelSystem() = default;

  virtual void shutdown() = 0;
  // Reloads every model (forced: even those whose files did not change).
  virtual void reloadModels(bool force) = 0;
};

inline RenderModelSystem* g_renderModelSystem = nullptr;
