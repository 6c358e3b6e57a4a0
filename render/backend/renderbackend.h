// The render back end: the one road from the scene renderer's intentions (set up this view, fill
// depth, draw this surface's stages, begin a shadow pass) to calls on g_renderInterface. Every state
// operation issues one fixed, ordered sequence of device calls, so the sequences can be recorded and
// compared. One global object, g_renderBackEnd; main thread only, inside a frame.
//
// Sections: records (DrawSurface, view state), RenderBackEnd (state operations, view set-up, 2D
// helpers, surface drawing, the stage binder), free math helpers.
#pragma once

#include <cstdint>

#include "lib/interface/renderinterface.h"
#include "lib/interface/renderview.h"
#include "lib/matrix.h"
#include "lib/vector.h"

struct RenderEntity;
struct ModelSurface;
struct SurfaceGeometry;
class Material;
struct MaterialStage;
class FrameBufferOpenGL;
class ImageInterface;

constexpr int kDrawSurfaceAreaUnset = -2;

// Whether the entity is drawn in front of the world (a weapon): the back end narrows its depth range.
bool entityDepthHack(const RenderEntity* entity);

// One draw-list entry, copied by value. The material and geometry fields are resolved from `surface`
// when the entry is made, so the back end draws without the model code's records.
struct DrawSurface {
  const RenderEntity* entity = nullptr;  // null for world, batch and effect surfaces
  const ModelSurface* surface = nullptr;
  FrameBufferOpenGL* frameBuffer = nullptr;  // render target of the surface when a pass assigns one
  // Copied from the entity; without one the first four are 1 and the rest 0.
  float shaderParms[12] = {1.0f, 1.0f, 1.0f, 1.0f};

  Material* material = nullptr;
  VertexBufferHandle* vertexBuffer = nullptr;  // the geometry's GPU buffer of DrawVertex records
  const unsigned* indexes = nullptr;           // three per triangle, client memory
  int numIndexes = 0;

  // Copied from the surface and the entity when the surface is listed, so the passes over the
  // lists need not reach back into every entity's model (a cache miss each at thousands of
  // entities). Left unset, the passes read the surface and entity themselves.
  const SurfaceGeometry* geometry = nullptr;
  int area = kDrawSurfaceAreaUnset;  // the surface's area (ModelSurface::id)
  int8_t depthHack = -1;             // the entity's depth hack: -1 unset, 0 or 1
};

// The surface's copy of its entity's depth hack, or the entity's own when the copy is unset.
bool surfaceDepthHack(const DrawSurface& surf);

// A pass over thousands of listed surfaces misses the cache on every entry and its vertex-buffer
// handle (the driver's vertex reads between two passes evict them): it asks for them a few entries
// ahead of the one it draws. `list` holds `count` entries.
inline void prefetchListed(const DrawSurface* const* list, int count, int i) {
  constexpr int kAhead = 16;
  if (i + kAhead < count) {
    const char* next = reinterpret_cast<const char*>(list[i + kAhead]);
    __builtin_prefetch(next);
    __builtin_prefetch(next + 64);
  }
  if (i + kAhead / 2 < count) {
    __builtin_prefetch(list[i + kAhead / 2]->vertexBuffer);
  }
}

// One light as the interaction programs see it (filled by the light passes).
struct InteractionLight {
  Vec3 origin;              // world space: vertex programs read it as program env 0
  float planes[4][4] = {};  // light texture space: S, T, Q (projection image) and the falloff plane
  float color[4] = {1.0f, 1.0f, 1.0f, 1.0f};  // light material colour x "r_lightScale" x intensity
  ImageInterface* falloffImage = nullptr;     // unit 0
  ImageInterface* projectionImage = nullptr;  // unit 1
  ImageInterface* shadowImage = nullptr;      // unit 6 (shadow maps)
  bool ambient = false;                       // emitAmbient: "ambientInteraction.vfp"
  bool specular = true;                       // emitSpecular
};

// What applyViewMatrices derives from the current view.
struct BackEndViewState {
  Mat4 projection;
  Mat4 modelView;
  // Outward planes: near, top, bottom, left, right, far (a point in front of any plane is outside).
  Plane frustum[6];
  float zNear = 0.0f;
  float zFar = 0.0f;
};

// Counters of the view being drawn; a view drew something when any is non-zero.
struct ViewCounters {
  int lightsDrawn = 0;
  int fogLightsDrawn = 0;
  int ambientSurfacesDrawn = 0;
};

// Pass modes of the drawing-mode word.
enum BackEndPassMode : int32_t {
  kPassModeNone = 0,
  kPassModeNormal = 4,  // the frame's surface passes
  kPassMode2D = 8,      // 2D drawing: interfaces, stretch pictures; 2D triangles skip a state step
};

// View flags of the view being drawn (the render manager sets them; the back end reads these bits).
enum BackEndViewFlags : uint32_t {
  kViewFlagLit = 0x1,
  kViewFlagAmbient = 0x2,
  kViewFlagDepthPrePass = 0x8,
  kViewFlagClearColor = 0x10,
  kViewFlagPostProcess = 0x40,    // the pass after the "_currentRender" copy
  kViewFlagNoScreenCopy = 0x200,  // mirror and remote views
  kViewFlagMirror = 0x400,
  kViewFlag2D = 0x80000000,
};

// Vertex-array masks the back end binds geometry with.
constexpr int kSurfaceAttribMask = kVertexArrayPosition | kVertexArrayTexCoord | kVertexArrayColor;  // 19
constexpr int kSurfaceAttribMaskCube =
    kVertexArrayPosition | kVertexArrayTexCoord | kVertexArrayPositionAsTexCoord | kVertexArrayColor;  // 27

// The stencil reference and mask of every pass.
constexpr int kStencilReference = 128;
constexpr unsigned kStencilMaskAll = 255;

// Program parameters shared with the built-in programs.
constexpr int kProgramParamColorModulate = 16;  // output colour = vertex colour x 16 + 17
constexpr int kProgramParamColorAdd = 17;
constexpr int kProgramParamTexGenWorld = 6;  // 6, 7, 8: world bounds mapped to 0..1 per axis
constexpr int kProgramParamViewOrigin = 4;   // the view origin, w 1
// Window to "_currentRender" coordinates: (viewport width - 1) / image width, (height - 1) / image
// height, viewport x / render width, viewport y / render height.
constexpr int kProgramParamScreenMap = 5;
// The viewport's size over the render size, and the render size over the viewport's size.
constexpr int kProgramParamScreenSize = 19;
constexpr int kProgramParamTexMatrix = 10;  // 10 + 2 x unit (s row), 11 + 2 x unit (t row)

class RenderBackEnd {
 public:
  RenderBackEnd();

  // --- Device state operations (each issues exactly its documented calls, in order) ---
  // Zeroes the draw surface, colour modulation 1, override 0, clears the view, mirrored false,
  // render size 9999 x 9999. No device calls.
  void reset();
  // setColorMask(1,1,1,1); setDepthMask(1); clear(1 if colour + 2 if depth).
  void clear(bool color, bool depth);
  // shadowed: stencil equal 128/255, mask 0; otherwise stencil always 128/255, mask 255.
  void setStencilForPass(bool shadowed);
  // setDepthFunc(override when non-zero, else code).
  void setDepthFunc(int code);
  // Mirrored views swap front (1) and back (2); none (0) passes unchanged.
  void setCullMode(int mode);
  // Width and height clamped to the render size; setViewport then setScissor with the same values.
  void applyViewport();
  // Projection mode: push, load; model-view mode: push, load.
  void setMatrices(const Mat4& modelView, const Mat4& projection);
  // setMatrices with identity model-view and an orthographic projection over 0..w x 0..h, y down.
  void setOrtho2D(float width, float height);
  // As setOrtho2D with the height scaled by "r_viewheight" / "r_viewwidth".
  void setOrtho2DAspect(float width, float height);
  // Undoes setMatrices: projection first (pop), then model-view (pop); each only when asked.
  void popMatrices(bool modelView, bool projection);
  // Model-view mode, push, load m.
  void pushModelViewMatrix(const Mat4& m);
  // The matrices of applyViewMatrices pushed in both modes, then applyViewport.
  void pushViewMatrices();
  // Resets the view counters, pops projection and model-view.
  void popViewMatrices();
  void loadTextureMatrix(int unit, const Mat4& m);
  void restoreTextureMatrix(int unit);
  // The neutral state every pass starts from: texture units reset, programs unbound, colour writes,
  // no blending, no alpha test, depth lequal with writes, model-view mode.
  void setupPass();
  void beginShadowPass(bool clearStencil);
  void beginUnshadowedPass(bool clearStencil);
  void endShadowPass();
  // Depth hack and material polygon offset of the current surface, then binds its geometry (mask
  // 19). False (nothing bound) without geometry.
  bool beginSurfacePolygonOffset();
  void endSurfacePolygonOffset();
  // The stencil state of a fresh context (the device leaves it to the back end): clear value 128,
  // stencil always 128/255, operations keep, write mask 255. Runs on every new main context (the
  // device calls the context hook with itself, before it is published as g_renderInterface).
  void setDefaultStencilState(RenderInterface* target = nullptr);
  // Clip plane 0 from a world plane (null or a zero normal disables it); the back end remembers
  // whether it is on so the shadow passes can save and restore it.
  void setClipPlane0(const Plane* plane);
  bool clipPlane0Enabled() const { return clipPlane0Enabled_; }

  // --- 2D and interface helpers ---
  // Two settings in this order: depth (1: depth function lequal through the override, 0: always)
  // and cull (1: back through setCullMode, 0: none). Interfaces restore with (1, 1).
  void setDepthAndCull(int depth, int cull);
  // Model-view mode, push, load m: an interface drawn onto a surface.
  void drawWithMatrix(const Mat4& m);

  // --- View set-up ---
  // Makes a copy of `view` the current view (null clears it) and re-publishes the view to the
  // expression registers.
  void setView(const RenderView* view);
  const RenderView* getView() const { return &view_; }
  bool hasView() const { return hasView_; }
  // zNear from "r_zNear" (raised to 0.001), viewport from the view rectangle, projection (tiled or
  // not, infinite far plane), model-view and frustum planes; no device calls.
  void applyViewMatrices();
  const BackEndViewState& viewState() const { return viewState_; }
  // Clip bits of a light position against the view origin (r_zNear + 1 tolerance).
  int lightClipBits(const Vec3& light) const;

  // --- Draw surface and shader parameters ---
  // Copies the surface (null: an empty one) and publishes its twelve shader parameters.
  void setDrawSurface(const DrawSurface* surface);
  const DrawSurface& drawSurface() const { return drawSurface_; }
  void setShaderParm(int index, float value);

  // --- Surface drawing (the current draw surface) ---
  // Applies one stage: programs and their parameters, colour, images with texture matrices, masks,
  // cull, polygon offset, blend, alpha and depth tests. False when an image cannot be bound (the
  // stage is then not drawn; unbindStage still undoes what was set).
  bool bindStage(Material* material, const MaterialStage& stage);
  // Pops the texture matrices and the stage polygon offset; resets the texture units when asked.
  void unbindStage(bool resetUnits);
  // Each drawable stage in [first, last) through the binder, then colour and depth writes on and
  // depth lequal. Bump and light-interaction stages are never drawn here (diffuse and specular
  // stages draw as plain stages when a range covers them); see stageSkipped.
  void drawStageRange(int first, int last, bool resetUnits);
  // (postLight, all): (1, 0) the stages before the interaction stages, (0, 1) those after them,
  // (1, 1) all of them.
  void drawAmbientStages(bool postLight, bool all);
  // Depth fill with `program`: the first diffuse stage (or first plain stage) on unit 0 for its
  // alpha test; an image that cannot be bound is replaced by "_default".
  void drawDepthSurface(int program);
  // Between these two, consecutive depth fills, and consecutive stage ranges, of surfaces that share
  // a material and depth hack keep the state the first of them bound when nothing of it depends on
  // the surface (no alpha-tested depth fill; one drawn stage whose registers are constants and whose
  // images do not change during the frame): each further surface only binds its vertex buffer and
  // draws. Only scissor changes may come between the draws. The end undoes what the open run's last
  // surface would have undone.
  void beginSurfaceRuns();
  void endSurfaceRuns();
  // "r_showtris" outlines (mode from the variable; 0 draws nothing).
  void drawTrisOverlay();
  // "r_shownodraws": orange outlines for nodraw materials or materials without stages.
  void drawNodrawOverlay();
  // An entity surface lit from the spatial system's light grid (sampled by the caller at the entity
  // origin + (0, 0, 16)): for each interaction triple of the surface's material and each plain stage
  // of `gridMaterial`, the grid stage brings programs and parameters, the triple its bump, diffuse
  // and specular images on units 2, 3 and 4; vertex locals 0-2 get ambient, directed colour and
  // direction (w 0; "r_skipAmbientLights" blackens the ambient), fragment locals 0 and 1
  // "r_lightScale", 2 "r_bumpScale".
  void drawLightGridSurface(Material* gridMaterial, const Vec3& ambient, const Vec3& directed,
                            const Vec3& direction);
  // The same scheme for lightmapped surfaces: only vertex local 2, the fixed direction (-1, -1, 2, 0).
  // The lightmap itself is on unit 0, bound by the caller.
  void drawLightmapSurface(Material* lightmapMaterial);
  // Each bump/diffuse/specular group of the current surface's material lit by one light: the
  // interaction programs, light planes and colours, light images on units 0, 1 and 6, the group's
  // images on 2, 3 and 4; drawn additively where depth equals the depth pass. Restores the defaults.
  void drawInteractionStages(const InteractionLight& light);
  // The current surface under a fog volume: each stage of its light material with the stage's
  // programs (else "fog.vfp"), the fog planes of `light`, the falloff on unit 0 and the stage image
  // on unit 1, blended as the stage says (else by the fog's alpha), with the stage's depth function
  // or else `depthFunc` (equal for what the frame drew, lequal for the volume's own faces).
  void drawFogStages(const InteractionLight& light, Material* lightMaterial, int depthFunc);
  // The vertex and fragment programs drawInteractionStages picks for a light under the current
  // "r_skipBump" / "r_skipSpecular" settings; without `specular` (a light or a group that adds no
  // specular term) the programs without the specular lookup.
  void interactionPrograms(bool ambient, int* vertexProgram, int* fragmentProgram, bool specular = true);
  // One stencil-counted shadow volume from homogeneous vertices bound by the caller: depth-fail with
  // caps, depth-pass without; two-sided stencil in one draw when the device has it.
  void drawShadowVolumeIndexes(const unsigned* indexes, int count, bool caps);
  // A closed volume whose faces are not wound alike (the map's prelight volumes): every face behind
  // the surface toggles the stencil's lowest bit, so an odd count (inside) leaves 129. Drawn before
  // the counted volumes, whose increments then never bring a shadowed pixel back to 128.
  void drawShadowVolumeParity(const unsigned* indexes, int count);
  // True when the stage is not drawn in the current view; endRange when it also ends the range.
  bool stageSkipped(const MaterialStage& stage, bool* endRange) const;

  // The loaded map's bounds for the world texgen planes (null: no map).
  void setWorldBounds(const Bounds* bounds) {
    hasWorldBounds_ = bounds != nullptr;
    if (bounds) {
      worldBounds_ = *bounds;
    }
  }
  uint32_t viewFlags() const { return viewFlags_; }
  void setViewFlags(uint32_t flags) { viewFlags_ = flags; }

  // --- Plain state ---
  int passMode() const { return passMode_; }
  void setPassMode(int mode) { passMode_ = mode; }
  void setColorModulation(float r, float g, float b, float a);
  const float* colorModulation() const { return colorModulation_; }
  void setDepthFuncOverride(int code) { depthFuncOverride_ = code; }
  int depthFuncOverride() const { return depthFuncOverride_; }
  void setMirrored(bool mirrored) { mirrored_ = mirrored; }
  bool isMirrored() const { return mirrored_; }
  void setViewport(int x, int y, int width, int height);
  void getViewport(int out[4]) const;
  void setRenderSize(int width, int height);
  int renderWidth() const { return renderWidth_; }
  int renderHeight() const { return renderHeight_; }
  bool clipPlaneSaved() const { return clipPlaneSaved_; }
  ViewCounters& counters() { return counters_; }

  // Program ids of the built-in "unlit.vp" and "shadow.vp" (-1 without them), looked up once per
  // device through the shader interface.
  int unlitProgram();
  int shadowProgram();
  // Forget the cached program ids (a new context or reloaded programs).
  void invalidatePrograms() {
    programsLooked_ = false;
    fogLooked_ = false;
  }

 private:
  void publishParms();
  void drawOverlay(const float color[4], int mode);
  void drawLitByStages(Material* lightMaterial, const float* vertexParms, int firstVertexParm,
                       int vertexParmCount);
  void lookUpPrograms();

  int32_t passMode_ = 0;
  DrawSurface drawSurface_;
  bool clipPlaneSaved_ = false;
  bool clipPlane0Enabled_ = false;
  RenderView view_;
  bool hasView_ = false;
  float colorModulation_[4] = {1.0f, 1.0f, 1.0f, 1.0f};
  int viewport_[4] = {0, 0, 0, 0};
  int renderWidth_ = 9999;
  int renderHeight_ = 9999;
  int depthFuncOverride_ = 0;
  bool mirrored_ = false;

  BackEndViewState viewState_;
  ViewCounters counters_;
  uint32_t viewFlags_ = 0;
  bool hasWorldBounds_ = false;
  Bounds worldBounds_;
  int boundUnits_ = 0;  // texture units whose matrices the bound stage pushed
  bool boundStageOffset_ = false;
  // The open run of beginSurfaceRuns: what its first surface bound and the range it drew.
  enum SurfaceRunKind : uint8_t { kRunNone, kRunDepth, kRunStages };
  struct SurfaceRun {
    SurfaceRunKind kind = kRunNone;
    const Material* material = nullptr;
    bool depthHack = false;
    int program = -1;  // depth fill
    int first = 0;     // stage range
    int last = 0;
    bool resetUnits = false;
    int attribMask = 0;
  };
  void openRun(SurfaceRunKind kind, int program, int first, int last, bool resetUnits, int attribMask);
  // Draws the current surface with the open run's state when it belongs to the run; else closes
  // the run and leaves the surface to the full path.
  bool continueRun(SurfaceRunKind kind, int program, int first, int last, bool resetUnits);
  void closeRun();
  void endSurfaceOffsets(const Material* material, bool depthHack);
  // What a depth fill and a stage range undo after their surface (or a run after its last one).
  void endDepthFill(const Material* material, bool depthHack);
  void endStageRange(const Material* material, bool depthHack);
  // The first stage in [i, last) that a stage range draws; -1 when none is left or a stage ends the
  // range (see stageSkipped).
  int nextDrawnStage(const Material* material, int i, int last) const;
  bool runsAllowed_ = false;
  SurfaceRun run_;
  bool programsLooked_ = false;
  int unlitProgram_ = -1;
  int shadowProgram_ = -1;
  // Interaction programs: [0] interaction.vfp, [1] interaction_nos.vp; fragment [0] interaction.vfp,
  // [1] _nob, [2] _nos, [3] _nobs; ambient pair.
  int interactionVP_[2] = {-1, -1};
  int interactionFP_[4] = {-1, -1, -1, -1};
  int ambientVP_ = -1;
  int ambientFP_ = -1;
  bool fogLooked_ = false;
  int fogVP_ = -1;
  int fogFP_ = -1;
};

extern RenderBackEnd g_renderBackEnd;

// The world-to-device axis change as a model-view matrix: GL x = -engine y, GL y = engine z,
// GL z = -engine x.
Mat4 worldToDeviceMatrix();
// The model-view of a view: world to view axes (the axis transposed, the origin), then the device axes.
Mat4 viewModelViewMatrix(const Mat3& axis, const Vec3& origin);
// The texture matrix of a stage's images: the texGen start (identity, the inverse view rotation for
// reflect and skybox, the projective screen mapping for view), then the texture modifiers.
Mat4 stageTextureMatrix(const MaterialStage& stage, const Mat4& modelView, const Mat4& projection);
// fov = 2 x atan(a / b) in degrees.
float fovFromExtents(float a, float b);
