// RenderManager: the scene renderer. Keeps the render entities and lights in slot lists addressed by
// index, holds the current view, and draws each view from its draw lists (drawlists.cpp): depth
// fill, ambient stages, per-light interactions with stencil shadows (interactions.cpp, shadows.cpp),
// then translucent stages; plus the flat 640 x 480 drawing of interfaces and overlays. World
// queries, debug primitives, screen capture, decals, views into textures, the glow and in-world
// interfaces live in files of their own. Main thread only.
#pragma once

#include <cstdint>

#include "lib/interface/renderentity.h"
#include "lib/interface/rendermodelsystem.h"
#include "lib/interface/rendersystem.h"
#include "lib/interface/renderview.h"
#include "lib/interface/spatialsystem.h"
#include "lib/list.h"
#include "render/backend/renderbackend.h"
#include "lib/polygon.h"
#include "lib/str.h"
#include "render/model/font.h"

class BaseModel;
class SurfaceBuilder;
struct VertexBufferHandle;
class FrameBufferOpenGL;
class ImageInterface;
struct CachedShadowVolume;

class RenderManager final : public RenderSystem {
 public:
  struct EntityRecord {
    BaseModel* instanceModel = nullptr;  // the entity's own copy of its model's geometry
    RenderEntity parms;
    int dirtyCount = 0;  // 1 after every add and update: the instance is rebuilt before drawing
    // Areas the placed model bounds touch, computed on add and update (empty without a world).
    int areas[16] = {};
    int numAreas = 0;
    Bounds worldBounds;
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
    // Read by the interaction and shadow passes.
    Material* lightMaterial = nullptr;       // resolved by findLightMaterial each refresh
    float intensity = 1.0f;                  // multiplies "r_lightScale"
    float shadowMapBias = 0.0f;
    const float* intensitySource = nullptr;  // optional live factor of the light colour
    float fogDistance = 0.0f;                // fog volumes: fully thick this far from the viewer
                                             // (0: kDefaultFogDistance)
    List<ModelSurface*> litSurfaces{16};     // world surfaces the light reaches (its light model)
    // Shadow volumes of the static casters, built once per refresh of the light (shadows.cpp): from
    // the prelight model when there is one and "r_useEmapShadows" is set, else from litSurfaces.
    List<CachedShadowVolume*> cachedShadows{16};
    bool shadowCacheValid = false;
    bool cachedFromPrelight = false;
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

  // --- Draw lists (drawlists.cpp) ---
  static constexpr int kNumSortLists = 16;
  struct VisibleFog {
    int light;
    float distance;
  };
  // The per-view driver: view set-up, visible areas, world and entity surfaces, decals, lights,
  // effects. Fills the lists below from the current view.
  void buildDrawLists();
  // Routes one surface into its sort list (and the bloom and flare list); null when the surface has
  // no material.
  const DrawSurface* addDrawSurface(const ModelSurface* surface, const RenderEntity* entity);
  void clearDrawLists();
  void cullLights();
  // Fills the visible draw list from the sort lists (see the pass rules in drawlists.cpp).
  void selectDrawSurfaces(bool lightVisibility, bool renderMapPass);
  FrameBufferOpenGL* acquireRenderMap(const char* name, int width, int height);
  FrameBufferOpenGL* acquireRenderMapForImage(ImageInterface* image);
  const List<DrawSurface>& sortList(int index) const { return sortLists_[index]; }
  const List<DrawSurface>& bloomFlareList() const { return bloomFlareList_; }
  const List<const DrawSurface*>& visibleDrawList() const { return visibleDrawList_; }
  const List<int>& visibleLights() const { return visibleLights_; }
  const List<VisibleFog>& visibleFogs() const { return visibleFogs_; }
  const AreaBitArray& visibleAreas() const { return visibleAreas_; }
  bool postProcessFrame() const { return postProcess_; }
  // The renderer's own effects model of a view (made in *slot on first use), rebuilt by the effects
  // manager for that view; null without an effects manager.
  RenderModel* buildViewEffectsModel(BaseModel** slot, const RenderView& view);
  // The draw-list entries of one effects model pointed at the same surfaces of another.
  void swapEffectsSurfaces(BaseModel* from, BaseModel* to);
  // Around a mirror or remote view: its own effects model in place of the main view's.
  void beginSubviewEffects(const RenderView& view);
  void endSubviewEffects();
  void freeEffectsModels();
  // The decal and effects models other subsystems fill; their surfaces are added each view.
  void setDecalModel(RenderModel* model) { decalModel_ = model; }
  void setEffectsModel(RenderModel* model) { effectsModel_ = model; }
  // Entities merged into the static batch each view (by slot index).
  void setBatchedEntities(const int* indexes, int count);
  // Entities whose update ran as a job set in the last buildDrawLists (0: on the main thread).
  int lastJobSetSize() const { return lastJobSetSize_; }

  // --- Decals and overlays (decals.cpp) ---
  // The decal model's surfaces into the draw lists (the pool's model unless one was set), each with
  // shader parameter 4 = minus its creation time in seconds, so "time" in its material is its age.
  void addDecalSurfaces();
  // The entities' overlay slots over their instance surfaces (after the light pass).
  void drawEntityOverlays();
  // With a map and "r_lightquality" at most 1: a blob shadow decal under each collected entity
  // that casts shadows, for this frame only ("_simpleShadow" unless a material was set).
  void projectBlobShadows();
  void setBlobShadowMaterial(Material* material) { blobShadowMaterial_ = material; }
  // Overlay triangles drawn by the last renderScene.
  int overlayTrianglesDrawn() const { return overlayTriangles_; }

  // --- Light interactions (interactions.cpp) ---
  void drawLights();
  void renderLight(int index);
  void drawLightSurfaces(int index, int receiverSet, ImageInterface* shadowImage);
  bool setScissorForLight(const LightRecord* light, int area);
  void resetScissor();
  void computeLightScreenBounds(LightRecord* light);
  // Refreshes a light's material, areas and world surfaces when it changed.
  void updateLightInteractions(int index);
  void buildLightSurfaceLists(int index);
  // A fog volume's light model "light_model_%d": its box's faces turned inwards.
  void buildFogVolumeModel(int index);
  void renderFogLight(int index);
  void drawLightVolume(const LightRecord* light, bool reversed);
  // The light's own material, else the default of its kind and shape (with a falloff image).
  Material* findLightMaterial(const RenderLight* light);
  // The light's texture-space planes: S, T, Q of the projection and the falloff plane, with the
  // texture modifiers of its material's first stage applied to S and T.
  void lightProjection(const LightRecord* light, float out[4][4]) const;
  // The same planes without the modifiers.
  void lightProjectionPlanes(const LightRecord* light, float out[4][4]) const;
  // A fog volume whose material lacks blendLight: planes measured from the viewer, so the fog
  // thickens with distance from the eye inside the volume.
  static constexpr float kDefaultFogDistance = 500.0f;
  void viewerFogPlanes(const LightRecord* light, float out[4][4]) const;
  // "r_shownormals" lines of a geometry: per vertex, from the vertex pushed out by twice its
  // normal, along tangent 0, tangent 1 and the normal, `length` long (start and end points).
  static void normalLines(const SurfaceGeometry* geometry, float length, List<Vec3>* out);
  // "r_showgridlight": the small magenta box at a light-grid sample point.
  void drawGridLightBox(const Vec3& point);
  // Lightmap mode ("r_lightquality" 0): world entries with a lightmap, each lightmap bound once in
  // a run on texture unit 1; a lightmap that cannot be bound ends the pass.
  void drawLightmapPass();
  // Lightmap and hybrid modes (a map with a light grid, "r_lightquality" at most 1): entity entries
  // lit from the grid sampled 16 units above their origin.
  void drawLightGridPass();
  // --- Debug switches and commands (debugswitches.cpp) ---
  // "reloadARBprograms", "clearDebugLines", "clearDebugPolygons".
  void registerDebugCommands();
  // End of each scene view, before the debug primitives are drawn: the spatial system's debug
  // drawing and the overlays of "r_showLights", "r_showLightTris", "r_showorigin".
  void drawDebugOverlays();
  void showLights();
  void showLightTris();
  // "r_debugStencil", at the end of the light pass: the fog pass after it resets the stencil to the
  // reference, which would leave no shadow count to show.
  void showStencilAfterLights();
  void showStencil();
  // A normalised screen rectangle as an outline just beyond the near plane.
  void showScreenRect(const Bounds& rect, bool depthTest);
  // End of frame: the image of "r_showTexture".
  void drawTextureOverlay();
  // Each scene view, before its overlays: drawn primitives whose lifetime ran out go (all of them
  // when a switch that queues them was turned off).
  void expireDebugPrimitives();
  // Empties the debug queues when a switch that fills them was turned off since the last call.
  bool clearTurnedOffPrimitives();
  // "r_showtris": the last 2D triangles (still in the flat buffer) again as outlines.
  void outline2DTriangles(const unsigned* indexes, int numIndexes);

  // "_renderGridLighting", "_renderLightMap", (unless one was set) "_simpleShadow", and the
  // shadow maps' "_renderDepth" and "_renderShadowMap", without defaults (maplighting.cpp).
  void findLightingMaterials();
  // The lighting materials, then the spatial system's light maps and light grid (false without a
  // map or without its light file).
  bool loadMapLighting();
  // Map unload: the render models the world file made (the model manager owns them).
  void freeMapModels();
  // "r_lightquality" 0 skips the lights no entity owns (their light is in the light maps).
  bool skippedByLightQuality(int index) const;
  // The materials of the two passes (their stages bring the programs); null draws nothing.
  void setLightGridMaterials(Material* gridMaterial, Material* lightmapMaterial) {
    lightGridMaterial_ = gridMaterial;
    lightmapMaterial_ = lightmapMaterial;
  }
  // The scissor rectangle set by the last setScissorForLight (x, y, w, h in pixels).
  const int* scissorRect() const { return scissor_; }

  // --- Shadow volumes (shadows.cpp) ---
  // Shadow volumes of a light's casters into the stencil buffer; selfShadowSet 1 casters whose
  // material lacks noSelfShadow, 0 those that have it.
  void drawShadowCasters(int index, int selfShadowSet, int debugMode);
  // One shadow volume built for a light position: homogeneous vertices (the n positions with w 1,
  // then each position minus the light with w 0, or one such point for a parallel light) and the
  // side indexes followed by the cap indexes.
  struct ShadowVolume {
    List<float> verts{1024};
    List<unsigned> indexes{1024};
    int numVerts = 0;
    int sideEnd = 0;   // end of the side indexes
    int capStart = 0;  // start of the cap indexes
    int capBits = 0;   // clip-bit directions from which the viewer may be inside the volume
  };
  // False when the geometry has no triangles facing the light (nothing to cast).
  static bool buildShadowGeometry(SurfaceGeometry* geometry, const Vec3& lightPos, bool parallel,
                                  ShadowVolume* out);
  // Builds and draws one caster's volume; mode 3 caps only, 4 the range between sides and caps,
  // 5 sides only, else sides with caps when the viewer may be inside.
  void drawShadowVolume(const LightRecord* light, const ModelSurface* surface, int mode);
  // Shadow-volume triangles drawn in the last renderScene.
  int shadowTrianglesDrawn() const { return shadowTriangles_; }
  // "r_showSilhouette" / "r_showEdges": the geometry's silhouette edges for the light (with
  // "r_showSilhouette" only those between a triangle facing the light and one that does not), or
  // all its edges, as debug lines of this frame; the number of lines.
  int drawSilhouetteLines(SurfaceGeometry* geometry, const LightRecord* light, const float color[4]);
  // Shadow volumes built (not drawn from a cache) in the last renderScene.
  int shadowVolumesBuilt() const { return shadowVolumesBuilt_; }
  // The light's static-caster volumes: built when missing or stale, released with the light.
  void buildStaticShadows(LightRecord* light);
  void releaseStaticShadows(LightRecord* light);
  // The map's "_prelight_<name>" model of the light entity standing at the light's origin, or null.
  static RenderModel* findPrelightModel(const RenderLight& light);
  // --- Shadow maps (shadowmaps.cpp) ---
  // The light's view of a shadow map: a perspective view down its first axis (a cone: down its
  // cone), or an orthographic box over its bounds for a parallel light.
  struct ShadowMapView {
    Vec3 eye;
    Mat3 axis;
    Mat4 modelView;
    Mat4 projection;
    float zNear = 1.0f;
    float zFar = 2.0f;
    bool orthographic = false;
  };
  void shadowMapView(const LightRecord* light, ShadowMapView* out) const;
  // The "_shadowMap" target (made on first use), the depth-fill material "_renderDepth" and the
  // shadow-compare material "_renderShadowMap" with its programs exist.
  bool shadowMapsAvailable();
  // The light's casters into the depth map, then its receivers' shadowed fragments into the
  // stencil; false (nothing changed) when a target, a material or the push is missing.
  bool renderShadowMap(int index);
  FrameBufferOpenGL* shadowMapTarget() const { return shadowMapTarget_; }
  // Shadow maps and the casters drawn into them in the last renderScene.
  int shadowMapsRendered() const { return shadowMapsRendered_; }
  int shadowMapCasters() const { return shadowMapCasters_; }

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

  // --- Views into textures, glow and in-world interfaces (subviews.cpp, glow.cpp, guisurfaces.cpp) ---
  // Mirror, refraction and remote-camera views of the surfaces with a render-map stage, each drawn
  // into its stage's image before the main view. Leaves the main view current.
  void drawSubviews();
  // Clears and draws the current back-end view (a subview or a model preview) with these view flags.
  void drawViewInto(const RenderView& view, uint32_t flags);
  // The post-process glow over the whole window: bright parts of the frame, blurred, added back.
  void drawGlow();
  // "_shadowMask", "_bloomRender" and "_bloomRender_1" with the glow materials; freed first when
  // they exist.
  void createGlowTargets();
  void freeGlowTargets();
  FrameBufferOpenGL* bloomTarget(int index) const { return index == 0 ? bloomTarget_ : bloomTarget2_; }
  // The interfaces shown on entity surfaces whose material names a gui.
  void drawInWorldGuis();
  // Subviews drawn by the last renderScene.
  int subviewsDrawn() const { return subviewsDrawn_; }

  // --- The frame around the surface passes (postprocess.cpp) ---
  // Clears the current view's rectangle as its flags ask (8 depth, 0x10 colour) to "r_clearcolor".
  void clearForView(uint32_t flags);
  // Every opaque entry of the visible draw list drawn with all stages of `material` instead.
  void drawOverrideMaterial(Material* material);
  // The flare of one quad of a flare surface (16 vertices); 0 when the eye is behind the quad.
  int buildFlare(const SurfaceGeometry* geometry, int quad, float size, const float color[4],
                 DrawVertex out[16]) const;
  void drawFlares();
  // After the frame was drawn: when a visible material reads "_currentRender", the frame is copied
  // into it and those stages are drawn over it.
  void drawPostProcess();
  // Flares and post-process surfaces drawn since the manager was made (tests, the benchmark).
  int flaresDrawn() const { return flaresDrawn_; }
  int postProcessDrawn() const { return postProcessDrawn_; }
  FrameBufferOpenGL* shadowMaskTarget() const { return shadowMaskTarget_; }

 private:
  bool validEntity(int index, const char* what);
  bool validLight(int index, const char* what);
  void refreshInstance(EntityRecord* record);
  // Whether an instance copy still has its model's surfaces, counts and edges.
  static bool instanceMatches(const BaseModel* instance, RenderModel* model);
  // A fresh instance copy (rebuilt at the next refresh) when the old one no longer matches.
  void matchInstance(EntityRecord* record, int index);
  void computeLightDerived(LightRecord* record);
  void freeLightRecord(LightRecord* record);
  void freeEntityRecord(EntityRecord* record);
  bool entityInView(const EntityRecord& record, const RenderView& view) const;
  // The passes of one view with the back end's view flags (clearing, depth pre-pass, lit or not).
  void drawScene(const RenderView& view);
  // False (with "isInView: null model??") for a draw surface without geometry.
  static bool surfaceHasGeometry(const DrawSurface& ds);
  // The scissor of the surface's area (setScissorForLight without a light); false when empty.
  bool inAreaScissor(const DrawSurface& ds);
  void drawFogLights();
  // The 2D state around flat drawing.
  void begin2D();
  void end2D();
  void drawFlat(const DrawVertex* verts, int numVerts, const unsigned* indexes, int numIndexes, Material* material);
  void notBuilt(int slot, const char* operation, const char* owner);
  bool addDebugPolygonWorld(const float* color, const ConvexPolygon& world, bool filled, int lifetime,
                            bool depthTest);
  void freeDebugQueues();
  // Installs the render-size getter of the screen reads.
  // getImageData through the texture manager and the device: any image it knows, built-in and
  // generated ones too.
  bool readImageThroughManager(const char* name, void* buffer, int bufferSize, int* outWidth, int* outHeight,
                               int* outBitsPerPixel);
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

  // --- Draw lists, interactions and shadows ---
  void computeEntityAreas(EntityRecord* record);
  void updateEntities(List<EntityRecord*>& collected);
  // The post-pass of one entity: its instance uploaded, its surfaces listed.
  void listEntitySurfaces(EntityRecord* record);
  void fillSpatialView(SpatialView* out) const;
  void buildBatchModel();
  bool surfaceInFrustum(const DrawSurface& ds) const;
  bool surfaceTouchesLight(const DrawSurface& ds, const LightRecord& light) const;
  bool surfaceInReceiverSet(const DrawSurface& ds, int receiverSet) const;
  void drawSurfaceInteractions(const DrawSurface& ds, const InteractionLight& light);
  void drawNormals(const DrawSurface& ds);
  List<DrawSurface> sortLists_[kNumSortLists];
  List<DrawSurface> bloomFlareList_{16};
  List<const DrawSurface*> visibleDrawList_{16};
  List<int> visibleLights_{16};
  List<VisibleFog> visibleFogs_{16};
  AreaBitArray visibleAreas_;
  AreaBitArray extraAreas_;
  List<FrameBufferOpenGL*> renderMapPool_{16};
  List<int> batchedEntities_{16};
  List<EntityRecord*> collected_{16};
  BaseModel* batchModel_ = nullptr;
  RenderModel* decalModel_ = nullptr;
  RenderModel* effectsModel_ = nullptr;
  BaseModel* frameEffectsModel_ = nullptr;    // "_effectsModel" of the main view
  BaseModel* subviewEffectsModel_ = nullptr;  // the same effects built for a mirror or remote view
  RenderEntity decalEntity_;  // the fixed record decal surfaces are drawn with
  // The fixed record effect surfaces are drawn with: lit materials of effects (a model emitter's
  // crates) are lit like any entity's; effects cast no shadows.
  RenderEntity effectsEntity_;
  int overlayTriangles_ = 0;
  Material* blobShadowMaterial_ = nullptr;
  SurfaceBuilder* overlayBuilder_ = nullptr;
  bool postProcess_ = false;
  int lastJobSetSize_ = 0;
  int scissor_[4] = {};
  int scissorArea_ = -1;
  bool scissorEmpty_ = false;  // the cached area's rectangle was empty
  int shadowTriangles_ = 0;
  int shadowVolumesBuilt_ = 0;
  FrameBufferOpenGL* shadowMapTarget_ = nullptr;
  // The shadow maps' materials: their first stages bring the depth-fill and compare programs.
  Material* renderDepthMaterial_ = nullptr;
  Material* renderShadowMapMaterial_ = nullptr;
  int shadowMapDepthProgram_ = -1;
  int shadowMapVP_ = -1;
  int shadowMapFP_ = -1;
  int shadowMapsRendered_ = 0;
  int shadowMapCasters_ = 0;
  void freeShadowMaps();
  int lightIndexOf(const LightRecord* light) const;
  void drawShadowVolumeData(const LightRecord* light, const ShadowVolume& volume, VertexBufferHandle* buffer,
                            const Bounds& bounds, int mode, bool closed);
  Material* lightGridMaterial_ = nullptr;
  Material* lightmapMaterial_ = nullptr;
  ShadowVolume shadowVolume_;
  SurfaceBuilder* volumeBuilder_ = nullptr;  // fog volumes
  VertexBufferHandle* shadowBuffer_ = nullptr;
  List<DebugLine> debugLines_{16};
  List<DebugPolygon> debugPolygons_{16};
  List<DebugText> debugTexts_{16};
  bool debugQueueFullWarned_ = false;
  SurfaceBuilder* debugBuilder_ = nullptr;  // made on the first debug draw, freed at shutdown
  // Subviews, glow and model previews.
  int subviewsDrawn_ = 0;
  FrameBufferOpenGL* bloomTarget_ = nullptr;
  FrameBufferOpenGL* bloomTarget2_ = nullptr;
  FrameBufferOpenGL* shadowMaskTarget_ = nullptr;
  int flaresDrawn_ = 0;
  int postProcessDrawn_ = 0;
  Material* highPassMaterial_ = nullptr;
  Material* renderBloomMaterial_ = nullptr;
  Material* hConvoluteMaterial_ = nullptr;
  Material* vConvoluteMaterial_ = nullptr;
  BaseModel* previewInstance_ = nullptr;  // renderModelView's copy of the previewed model
  RenderModel* previewSource_ = nullptr;
  RenderEntity previewParms_;
  void drawGlowPass(Material* material, float s1, float t1, float s2, float t2);
};

// Where a light shines from: origin + center, or for a parallel light a point 99999 units along its
// normalised center (straight up when it has none), so every receiver sees the same direction.
Vec3 lightEmissionPoint(const RenderLight& light);

// The process-wide manager: created (with the render-model manager) on first call, null when init
// fails.
RenderManager* getRenderSystem();
// Deletes the manager and the render-model manager; safe to call twice.
void destroyRenderSystem();
