// The scene renderer's interface: what the engine core, the game module, the map loader, the user
// interface and the effects draw through. Slot order is fixed (the game module is handed this
// table); the engine core's own operations follow the last slot. The one implementation is
// RenderManager (render/scene); it overrides every slot. The inline bodies only serve test doubles
// that implement the few operations the engine core calls.
#pragma once

#include <cstdint>

#include "lib/matrix.h"
#include "lib/vector.h"

struct RenderView;
struct RenderEntity;
struct RenderLight;
struct DrawVertex;
class RenderModel;
class Material;
class ImageInterface;
class KeyDict;
class ConvexPolygon;
class TraceModel;
struct AreaBitArray;

// A segment's nearest hit on an entity's instance model (traceEntityModel).
struct ModelTraceResult {
  Plane plane;              // the hit triangle's plane
  float fraction = 1.0f;    // 1 when nothing was hit
  Vec3 endPosition;         // the hit point, or the segment's end
  Material* material = nullptr;
  const RenderEntity* entity = nullptr;  // the renderer's stored parameters of the entity
  int32_t jointIndex = -1;  // -1 when the model reports none
};

// Where a segment meets an in-world interface (guiTrace): x and y in the interface's 640 x 480
// units; all -1 when nothing was hit.
struct GuiTraceResult {
  float x = -1.0f;
  float y = -1.0f;
  int32_t guiIndex = -1;
};

// Flags of RenderLight::flags.
enum RenderLightFlags : uint32_t {
  kLightAmbient = 0x1,
  kLightShadows = 0x2,
  kLightSpecular = 0x4,
  kLightParallel = 0x8,
  kLightAllDynamic = 0x10,
  kLightStaticSource = 0x20,
  kLightShadowMap = 0x40,
};

// The shared light record (addLightDef / updateLightDef).
struct RenderLight {
  Mat3 axis;
  Vec3 origin;
  Vec3 radius;  // half extents; cones: far half width, far half height, range
  Vec3 center;  // emission offset; parallel lights: the direction
  int32_t ownerId = 0;
  int32_t allowOnlyInViewId = 0;
  int32_t suppressInViewId = 0;
  int32_t shape = 2;  // 1 sphere, 2 box, 3 cylinder, 4 cone
  uint8_t flags = 0;
  int32_t kind = 1;  // 1 volume light, 2 fog volume
  float shaderParms[12] = {};
  Bounds bounds;     // recomputed by the renderer
  Plane planes[6];   // recomputed by the renderer
  RenderModel* staticShadowModel0 = nullptr;
  RenderModel* staticShadowModel1 = nullptr;
  Material* material = nullptr;
  int32_t reserved = 0;
};

class RenderSystem {
 public:
  virtual ~RenderSystem() = default;  // 0

  virtual bool init() = 0;                                  // 1
  virtual void shutdown() = 0;                              // 2
  virtual int reinit() { return 0; }                        // 3
  virtual bool isFullscreen() { return false; }             // 4
  virtual int getScreenWidth() { return 0; }                // 5
  virtual int getScreenHeight() { return 0; }               // 6
  virtual int registerFont(const char*) { return -1; }      // 7
  virtual void reloadFonts() {}                             // 8
  virtual void drawText640(int, float, float, float, const char*, int) {}  // 9
  virtual void drawString640(int, float, float, float, const char*) {}    // 10
  virtual void drawText(int, float, float, float, const char*, int) {}    // 11
  virtual void setTextClipRect(float, float, float, float) {}             // 12
  virtual void enableTextClip(bool) {}                                    // 13
  virtual int getTextClipPlanes(Plane**) { return 0; }                    // 14
  virtual int setTextAlignment(int) { return 0; }                         // 15
  virtual int getFontHeight(int) { return 0; }                            // 16
  virtual int getTextWidth(int, const char*, int) { return 0; }           // 17
  virtual void setupView(const RenderView*, int) {}                       // 18
  virtual void endView() {}                                               // 19
  virtual void onMapLoaded() {}                                           // 20
  virtual void unloadMap() = 0;                                           // 21
  virtual void endFrame() = 0;                                            // 22
  virtual void setColorV(const float*) {}                                 // 23
  virtual void setColor(float, float, float, float) {}                    // 24
  virtual void getColor(float*) {}                                        // 25
  virtual void drawStretchImage(ImageInterface*, float, float, float, float, float, float, float,
                                float) {}  // 26
  virtual void drawStretchPic(Material*, float, float, float, float, float, float, float, float) {}  // 27
  // The last five arguments are not used.
  virtual void drawTriangles2D(const DrawVertex*, const int*, int, int, Material*, int, int, int, int,
                               int) {}                                    // 28
  virtual void drawRectOutline(float, float, float, float, float) {}      // 29
  virtual bool stubBool(int) { return false; }                            // 30
  virtual KeyDict* getMapEntityDict(int) { return nullptr; }              // 31
  virtual int getNumMapEntities() { return 0; }                           // 32
  virtual int addEntityDef(const RenderEntity*) { return -1; }            // 33
  virtual void updateEntityDef(int, const RenderEntity*) {}               // 34
  virtual void freeEntityDef(int) {}                                      // 35
  virtual RenderEntity* getRenderEntity(int) { return nullptr; }          // 36
  virtual bool getEntityVertex(int, Vec3*, Vec3*, int) { return false; }  // 37
  virtual int addLightDef(const RenderLight*) { return -1; }              // 38
  virtual void updateLightDef(int, const RenderLight*) {}                 // 39
  virtual void freeLightDef(int) {}                                       // 40
  virtual RenderLight* getLightDef(int) { return nullptr; }               // 41
  virtual const char* getDefaultMaterialName(int, int) { return nullptr; }  // 42
  virtual void precacheInteractions() = 0;                                // 43
  // winding: 4 points of x, y, z, s, t.
  virtual void projectDecal(const float (*)[5], const Vec3&, bool, float, Material*, int) {}       // 44
  virtual void projectDecalOnEntity(int, const float (*)[5], const Vec3&, bool, float, Material*,
                                    int) {}                               // 45
  virtual void addEntityOverlay(int, const Plane*, Material*) {}          // 46
  virtual void removeEntityDecals(int) {}                                 // 47
  // Sets the view the 2D drawing and interfaces use (a zeroed 640 x 480 view with a time stamp when
  // no map is loaded); null sets that zeroed view.
  virtual void setRenderView(const RenderView* view, int time) = 0;       // 48
  virtual void stubNotify() {}                                            // 49
  virtual void renderScene(const RenderView*, int) {}                     // 50
  virtual void renderModelView(const RenderView*, int, RenderModel*, const RenderEntity*, int) {}  // 51
  virtual int getNumPortals() { return 0; }                               // 52
  virtual int findPortal(const Bounds&) { return 0; }                     // 53
  virtual void setPortalState(int, int) {}                                // 54
  virtual int getPortalState(int) { return 0; }                           // 55
  // The areas visible from a view; the set must hold getNumAreas() bits.
  virtual void getViewPVS(const RenderView*, AreaBitArray*) {}            // 56
  virtual void getConnectedAreas(AreaBitArray&, int, const Vec3&) {}      // 57
  virtual bool areasConnected(int, int, int) { return false; }            // 58
  virtual int getNumAreas() { return 0; }                                 // 59
  virtual int pointToArea(const Vec3&) { return -1; }                     // 60
  virtual int areasInBounds(const Bounds&, int*, int) { return 0; }       // 61
  virtual GuiTraceResult guiTrace(int, const Vec3&, const Vec3&) { return {}; }                     // 62
  virtual bool traceEntityModel(ModelTraceResult*, int, const Vec3&, const Vec3&, float) { return false; }  // 63
  virtual bool stubQueryA(int, int, int, int, int) { return false; }      // 64
  virtual bool stubQueryB(int, int, int) { return false; }                // 65
  virtual void clearDebugLines(int) {}                                    // 66
  virtual void clearDebugPolygons(int) {}                                 // 67
  virtual void debugLine(const float*, const Vec3&, const Vec3&, int, bool) {}                     // 68
  virtual void debugArrow(const float*, const Vec3&, const Vec3&, int, int, bool) {}               // 69
  // Colours are RGBA; lifetimes in milliseconds of the view clock; `filled` draws faces, not outlines.
  virtual void debugBounds(const float*, const Bounds&, const Vec3&, bool, int, bool) {}           // 70
  virtual void debugTraceModel(const float*, const TraceModel&, const Vec3&, const Mat3&, bool, int,
                               bool) {}                                   // 71
  virtual void debugAxis(const Vec3&, const Mat3&) {}                     // 72
  virtual void debugPolygon(const float*, const ConvexPolygon&, const Vec3&, const Mat3&, bool, int,
                            bool) {}                                      // 73
  virtual void debugText(const char*, const Vec3&, float, const float*, const Mat3&, int, int) {}  // 74
  virtual void setRenderSize(int, int, bool, bool) {}                     // 75
  virtual void resetRenderSize() {}                                       // 76
  virtual bool getImageData(const char*, void*, int, int*, int*, int*) { return false; }          // 77
  virtual void captureRenderToImage(const char*) {}                       // 78
  // The file type follows the name's extension.
  virtual bool takeScreenshot(const char*) { return false; }              // 79
  // RGB rows top first, `pitch` pixels apart (0: packed); the two middle ints are not used.
  virtual bool readPixels(uint8_t*, int, int, int, int, int) { return false; }  // 80

  // --- The engine core's own operations ---
  // Clears colour and depth before the game draws.
  virtual void clearScreen() = 0;
  // Text in 640 x 480 units; align 0 left, 1 right.
  virtual void drawText(const char* text, float x, float y, float scale, int font, int align,
                        const float* color) = 0;
  // After the spatial system loaded a map (onMapLoaded).
  virtual void mapLoaded() = 0;
  // The current render view's origin (for the "cameraArea: %d" text).
  virtual void viewOrigin(float out[3]) = 0;
};

inline RenderSystem* g_renderSystem = nullptr;
