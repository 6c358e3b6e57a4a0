// RenderManager: the scene renderer. Keeps the render entities and lights in slot lists addressed by
// index, holds the current view, draws scenes through the back end (depth fill, then each visible
// entity surface's ambient stages) and the flat 640 x 480 drawing of interfaces and overlays.
// World queries, debug primitives and screen capture live in files of their own; operations whose
// subsystems land later (decals, light interactions) warn once and return a failure value. Main
// thread only.
#pragma once

#include <cstdint>

#include "lib/interface/renderentity.h"
#include "lib/interface/rendersystem.h"
#include "lib/interface/renderview.h"
#include "lib/interface/spatialsystem.h"
#include "lib/list.h"
#include "lib/polygon.h"
#include "lib/str.h"
#include "render/model/font.h"

class BaseModel;
class SurfaceBuilder;
struct VertexBufferHandle;

class RenderManager final : public RenderSystem {
 public:
  struct EntityRecord {
    BaseModel* instanceModel = nullptr;  // the entity's own copy of its model's geometry
    RenderEntity parms;
    int dirtyCount = 0;  // 1 after every add and update: the instance is rebuilt before drawing
  };
  enum LightState : uint8_t { kLightDirty = 1, kLightVisible = 2 };
  struct LightRecord {
    RenderLight parms;  // first: getLightDef hands out the record as its RenderLight
    BaseModel* lightModel = nullptr;
    RenderModel* staticShadowModel0 = nullptr;
    RenderModel* staticShadowModel1 = nullptr;
    Bounds screenBounds;
    int areas[16] = {};
    int numAreas = 0;
    uint8_t state = 0;
  };

  RenderManager();
  ~RenderManager() override;
  RenderManager(const RenderManager&) = delete;
  RenderManager& operator=(const RenderManager&) = delete;

  bool init() override;
  void shutdown() override;
  int reinit() override;
  bool isFullscreen() override;
  int getScreenWidth() override;
  int getScreenHeight() override;
  int registerFont(const char* name) override;
  void reloadFonts() override;
  void drawText640(int font, float x, float y, float scale, const char* text, int length) override;
  void drawString640(int font, float x, float y, float scale, const char* text) override;
  void drawText(int font, float x, float y, float scale, const char* text, int length) override;
  void setTextClipRect(float x, float y, float w, float h) override;
  void enableTextClip(bool enable) override;
  int getTextClipPlanes(Plane** out) override;
  int setTextAlignment(int mode) override;
  int getFontHeight(int font) override;
  int getTextWidth(int font, const char* text, int length) override;
  void setupView(const RenderView* view, int flags) override;
  void endView() override;
  void onMapLoaded() override;
  void unloadMap() override;
  void endFrame() override;
  void setColorV(const float* rgba) override;
  void setColor(float r, float g, float b, float a) override;
  void getColor(float* out) override;
  void drawStretchImage(ImageInterface* image, float x, float y, float w, float h, float s1, float t1,
                        float s2, float t2) override;
  void drawStretchPic(Material* material, float x, float y, float w, float h, float s1, float t1, float s2,
                      float t2) override;
  void drawTriangles2D(const DrawVertex* verts, const int* indexes, int numVerts, int numIndexes,
                       Material* material, int, int, int, int, int) override;
  void drawRectOutline(float x, float y, float w, float h, float lineWidth) override;
  bool stubBool(int) override { return false; }
  KeyDict* getMapEntityDict(int index) override;
  int getNumMapEntities() override;
  int addEntityDef(const RenderEntity* entity) override;
  void updateEntityDef(int index, const RenderEntity* entity) override;
  void freeEntityDef(int index) override;
  RenderEntity* getRenderEntity(int index) override;
  bool getEntityVertex(int index, Vec3* outPosition, Vec3* outNormal, int vertex) override;
  int addLightDef(const RenderLight* light) override;
  void updateLightDef(int index, const RenderLight* light) override;
  void freeLightDef(int index) override;
  RenderLight* getLightDef(int index) override;
  const char* getDefaultMaterialName(int kind, int shape) override;
  void precacheInteractions() override;
  void projectDecal(const float (*winding)[5], const Vec3& origin, bool parallel, float depth, Material* material,
                    int time) override;
  void projectDecalOnEntity(int entity, const float (*winding)[5], const Vec3& origin, bool parallel, float depth,
                            Material* material, int time) override;
  void addEntityOverlay(int entity, const Plane* planes, Material* material) override;
  void removeEntityDecals(int entity) override;
  void setRenderView(const RenderView* view, int time) override;
  void stubNotify() override {}
  void renderScene(const RenderView* view, int flags) override;
  void renderModelView(const RenderView* view, int flags, RenderModel* model, const RenderEntity* entity,
                       int light) override;
  int getNumPortals() override;
  int findPortal(const Bounds& bounds) override;
  void setPortalState(int portal, int state) override;
  int getPortalState(int portal) override;
  void getViewPVS(const RenderView* view, AreaBitArray* pvs) override;
  void getConnectedAreas(AreaBitArray& bits, int mask, const Vec3& point) override;
  bool areasConnected(int a, int b, int mask) override;
  int getNumAreas() override;
  int pointToArea(const Vec3& point) override;
  int areasInBounds(const Bounds& bounds, int* out, int max) override;
  GuiTraceResult guiTrace(int entity, const Vec3& start, const Vec3& end) override;
  bool traceEntityModel(ModelTraceResult* out, int entity, const Vec3& start, const Vec3& end, float radius) override;
  bool stubQueryA(int, int, int, int, int) override { return false; }
  bool stubQueryB(int, int, int) override { return false; }
  void clearDebugLines(int time) override;
  void clearDebugPolygons(int time) override;
  void debugLine(const float* color, const Vec3& a, const Vec3& b, int lifetime, bool depthTest) override;
  void debugArrow(const float* color, const Vec3& a, const Vec3& b, int size, int lifetime, bool depthTest) override;
  void debugBounds(const float* color, const Bounds& bounds, const Vec3& origin, bool filled, int lifetime,
                   bool depthTest) override;
  void debugTraceModel(const float* color, const TraceModel& model, const Vec3& origin, const Mat3& axis,
                       bool filled, int lifetime, bool depthTest) override;
  void debugAxis(const Vec3& origin, const Mat3& axis) override;
  void debugPolygon(const float* color, const ConvexPolygon& polygon, const Vec3& origin, const Mat3& axis,
                    bool filled, int lifetime, bool depthTest) override;
  void debugText(const char* text, const Vec3& origin, float scale, const float* color, const Mat3& axis,
                 int align, int lifetime) override;
  void setRenderSize(int width, int height, bool powerOfTwo, bool inPixels) override;
  void resetRenderSize() override;
  bool getImageData(const char* name, void* buffer, int bufferSize, int* outWidth, int* outHeight,
                    int* outBitsPerPixel) override;
  void captureRenderToImage(const char* imageName) override;
  bool takeScreenshot(const char* fileName) override;
  bool readPixels(uint8_t* buffer, int pitch, int, int, int width, int height) override;

  void clearScreen() override;
  void drawText(const char* text, float x, float y, float scale, int font, int align, const float* color) override;
  void mapLoaded() override { onMapLoaded(); }
  void viewOrigin(float out[3]) override;

  // --- Inspection (tests, the benchmark) ---
  int numEntitySlots() const { return entities_.num(); }
  int numLightSlots() const { return lights_.num(); }
  EntityRecord* entityRecord(int index);
  LightRecord* lightRecord(int index);
  const RenderView& currentView() const { return view_; }
  int renderWidth() const { return renderWidth_; }
  int renderHeight() const { return renderHeight_; }
  // "screenshotPrintQuality": width and height (1..16384) raised to whole 512 x 256 tiles.
  bool printQualityScreenshot(int width, int height);
  // Surfaces drawn by the last renderScene.
  int surfacesDrawn() const { return surfacesDrawn_; }

  // --- Spatial queries (renderqueries.cpp) ---
  // The areas visible from the current back-end view (the set must hold getNumAreas() bits).
  void computeViewPVS(AreaBitArray* pvs);
  // The area bits of a point: the set is sized to getNumAreas() bits first.
  void collectAreas(const Vec3& point, AreaBitArray* bits);

  // --- Timed debug primitives (debugprims.cpp) ---
  struct DebugLine {
    float color[4];
    Vec3 start;
    Vec3 end;
    int32_t expireTime;
    uint8_t flags;  // DebugFlags
  };
  struct DebugPolygon {
    float color[4];
    ConvexPolygon points;
    int32_t expireTime;
    uint8_t flags;
  };
  struct DebugText {
    String text;
    float color[4];
    Vec3 origin;
    Mat3 axis;
    float scale;
    int32_t align;
    int32_t expireTime;
  };
  enum DebugFlags : uint8_t { kDebugDepthTest = 1, kDebugLineDrawn = 2, kDebugFilled = 2, kDebugPolygonDrawn = 4 };
  // Queue caps: a game that adds every frame without clearing stops growing here.
  static constexpr int kMaxDebugLines = 65536;
  static constexpr int kMaxDebugPolygons = 8192;
  static constexpr int kMaxDebugTexts = 1024;
  const List<DebugLine>& debugLines() const { return debugLines_; }
  const List<DebugPolygon>& debugPolygons() const { return debugPolygons_; }
  const List<DebugText>& debugTexts() const { return debugTexts_; }
  // Draws the three queues into the current 3D view (the end of every 3D view).
  void drawDebugPrimitives();

  // --- Screen capture (rendercapture.cpp) ---
  // The current viewport into the image; unless noDrawBack the image is drawn back over the screen.
  void copyViewportToImage(ImageInterface* image, bool noDrawBack);
  // The current view drawn into the image's corner of the screen and copied into it.
  void renderViewToImage(ImageInterface* image, bool noDrawBack);

 private:
  bool validEntity(int index, const char* what);
  bool validLight(int index, const char* what);
  void refreshInstance(EntityRecord* record);
  void computeLightDerived(LightRecord* record);
  void freeLightRecord(LightRecord* record);
  void freeEntityRecord(EntityRecord* record);
  bool entityInView(const EntityRecord& record, const RenderView& view) const;
  void drawScene(const RenderView& view);
  // The 2D state around flat drawing.
  void begin2D();
  void end2D();
  void drawFlat(const DrawVertex* verts, int numVerts, const unsigned* indexes, int numIndexes, Material* material);
  void notBuilt(int slot, const char* operation, const char* owner);
  bool addDebugPolygonWorld(const float* color, const ConvexPolygon& world, bool filled, int lifetime,
                            bool depthTest);
  void freeDebugQueues();
  // Installs the render-size getter of the screen reads.
  void installCaptureHooks();
  void removeCaptureHooks();

  List<EntityRecord*> entities_{16};
  List<LightRecord*> lights_{16};
  RenderView view_;
  float color_[4] = {1.0f, 1.0f, 1.0f, 1.0f};
  int renderWidth_ = 640;
  int renderHeight_ = 480;
  bool initialised_ = false;
  int surfacesDrawn_ = 0;
  int renderMapPoolUsed_ = 0;  // per-frame render maps of mirrors and remote views
  Material* flatMaterial_ = nullptr;   // "_white"-style material of the rectangle outlines
  Material* imageMaterial_ = nullptr;  // stretched images: one stage whose image is swapped in
  VertexBufferHandle* flatBuffer_ = nullptr;
  bool warned_[81] = {};
  // The registered bitmap fonts; glyphs come back through drawTriangles2D.
  FontRenderer fonts_{this};
  List<DebugLine> debugLines_{16};
  List<DebugPolygon> debugPolygons_{16};
  List<DebugText> debugTexts_{16};
  bool debugQueueFullWarned_ = false;
  SurfaceBuilder* debugBuilder_ = nullptr;  // made on the first debug draw, freed at shutdown
};

// The process-wide manager: created (with the render-model manager) on first call, null when init
// fails.
RenderManager* getRenderSystem();
// Deletes the manager and the render-model manager; safe to call twice.
void destroyRenderSystem();
