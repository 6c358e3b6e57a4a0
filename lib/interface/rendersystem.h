// The render manager's interface, as far as the engine core calls it; the
// scene renderer extends it. Absent (null) until that subsystem is built.
#pragma once

struct RenderView;

class RenderSystem {
 public:
  virtual ~RenderSystem() = default;

  virtual bool init() = 0;
  virtual void shutdown() = 0;
  // Sets the view the 2D drawing and interfaces use (a zeroed 640 x 480 view
  // with a time stamp when no map is loaded); null sets that zeroed view.
  virtual void setRenderView(const RenderView* view, int time) = 0;
  // Clears colour and depth before the game draws.
  virtual void clearScreen() = 0;
  // Text in 640 x 480 units; align 0 left, 1 right.
  virtual void drawText(const char* text, float x, float y, float scale, int font, int align,
                        const float* color) = 0;
  // Buffer swap at the end of a frame.
  virtual void endFrame() = 0;
  // Map life: render targets, lightmaps and effect declarations after a load;
  // precached light interactions; everything map-related on unload.
  virtual void mapLoaded() = 0;
  virtual void precacheInteractions() = 0;
  virtual void unloadMap() = 0;
  // The current render view's origin (for the "cameraArea: %d" text).
  virtual void viewOrigin(float out[3]) = 0;
};

inline RenderSystem* g_renderSystem = nullptr;
