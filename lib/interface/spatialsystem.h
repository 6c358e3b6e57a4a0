// The loaded map's world (area-and-portal ".bsp" or kd-tree ".kdt"): its areas and their models,
// entity dictionaries, lightmaps and light grid, and the per-frame reach queries of the renderer.
// Null while no map is loaded. Every operation has a harmless default so partial worlds (tests,
// tools) derive only what they answer.
#pragma once

#include <cstdint>

#include "lib/list.h"
#include "lib/vector.h"

class RenderModel;
class KeyDict;
struct ModelSurface;

// Bit i stands for area i; numBits 0 stands for every area.
struct AreaBitArray {
  List<uint8_t> bytes;
  int numBits = 0;
  bool test(int bit) const {
    return bit >= 0 && bit < numBits && (bit >> 3) < bytes.num() && (bytes[bit >> 3] & (1 << (bit & 7)));
  }
  void resize(int bits) {
    numBits = bits < 0 ? 0 : bits;
    bytes.setNum((numBits + 7) >> 3);
    for (int i = 0; i < bytes.num(); ++i)
      bytes[i] = 0;
  }
};

// What the world reads of the renderer's current view; the scene renderer fills it from its own
// view state. Plane 0 is the near plane, 1-5 the sides and far plane; a point inside the frustum
// lies behind (negative distance to) every plane.
struct SpatialView {
  Vec3 origin;
  Plane frustum[6];
  float modelView[16] = {};   // column-major
  float projection[16] = {};  // column-major
  float viewDistance = 0.0f;
};

using SurfaceList = List<ModelSurface*>;

class SpatialSystem {
 public:
  virtual ~SpatialSystem() = default;

  virtual const char* getFileId() { return ""; }
  // Loads "maps/" + name (extension replaced); on false the caller deletes the object.
  virtual bool load(const char* path) = 0;
  virtual void clear() {}
  virtual void buildShadowMasks() {}
  virtual void generateStaticShadows(bool /*skipStaticSourceLights*/) {}
  virtual void drawDebug() {}
  // The map's entity dictionaries (null for worlds without entities).
  virtual const List<KeyDict*>* getEntities() { return nullptr; }
  virtual void surfacesInBounds(SurfaceList& /*list*/, const Bounds& /*bounds*/) {}
  virtual void surfacesVisibleFromPoint(SurfaceList& /*list*/, const Vec3& /*point*/, const Bounds& /*bounds*/) {}
  virtual void surfacesVisibleFromView(SurfaceList* /*list*/, const SpatialView* /*view*/,
                                       const AreaBitArray& /*mask*/) {}
  virtual bool isBoundsVisibleFromView(const SpatialView* /*view*/, const Bounds& /*bounds*/) { return true; }
  virtual bool boundsTouchAreaMask(const AreaBitArray& /*areas*/, const Bounds& /*bounds*/) { return false; }
  virtual bool boundsTouchAreaList(const int* /*areas*/, int /*count*/, const Bounds& /*bounds*/) { return false; }
  // The area index of a point, -1 when it is in none.
  virtual int pointToArea(const float point[3]) = 0;
  // Writes at most `max` indices of the areas whose extent meets the box; returns how many.
  virtual int areasInBounds(const Bounds& /*bounds*/, int* /*areas*/, int /*max*/) { return 0; }
  virtual int areasVisibleFromPoint(const Vec3& /*point*/, const Bounds& /*bounds*/, int* /*out*/, int /*max*/) {
    return 0;
  }
  virtual int areasVisibleFromView(const SpatialView* /*view*/, int* /*out*/, int /*max*/) { return 0; }
  virtual bool areaListsIntersect(const int* a, int na, const int* b, int nb) {
    for (int i = 0; i < na; ++i)
      for (int j = 0; j < nb; ++j)
        if (a[i] == b[j])
          return true;
    return false;
  }
  virtual bool viewSeesAnyArea(const int* /*areas*/, int /*count*/, const SpatialView* /*view*/) { return false; }
  virtual int getNumAreas() { return 0; }
  virtual int getNumPortals() { return 0; }
  virtual void getConnectedAreas(AreaBitArray& /*bits*/, int /*mask*/, const Vec3& /*point*/) {}
  virtual bool areasConnected(int /*a*/, int /*b*/, int /*mask*/) { return true; }
  virtual RenderModel* getAreaModel(int /*area*/) { return nullptr; }
  // Portals count from 1; 0 = none.
  virtual int findPortal(const Bounds& /*bounds*/) { return 0; }
  virtual void setPortalState(int /*portal*/, int /*bits*/) {}
  virtual int getPortalState(int /*portal*/) { return 0; }
  virtual Bounds& getAreaScreenRect(Bounds& out, int /*area*/) {
    out = Bounds(Vec3(0, 0, 0), Vec3(1, 1, 1));
    return out;
  }
  virtual void computeAreaScreenRects(const SpatialView* /*view*/) {}
  virtual bool pointInSolid(const Vec3& /*point*/) { return false; }
  virtual bool loadLightmaps() { return false; }
  virtual bool freeLightmaps() { return true; }
  virtual bool bindLightmap(int /*n*/) { return false; }
  virtual bool hasLightGrid() { return false; }
  virtual void sampleLightGrid(const Vec3& /*point*/, Vec3& ambient, Vec3& directed, Vec3& direction) {
    ambient = directed = direction = Vec3(0, 0, 0);
  }

  // Reads the "model" and "shadowModel" blocks of the map file that carry the model's name into
  // it (a world model's reload); false on a syntax error.
  virtual bool loadModels(const char* /*fileName*/, RenderModel* /*model*/) { return false; }
  virtual const Bounds& getBounds() {
    static const Bounds s_cleared;
    return s_cleared;
  }
};

inline SpatialSystem* g_spatialSystem = nullptr;

// Creates an empty world for a map file kind (".bsp", ".kdt"); filled in by the spatial
// subsystem (world/), null in builds without it.
using SpatialSystemFactory = SpatialSystem* (*)();
inline SpatialSystemFactory g_bspSpatialFactory = nullptr;
inline SpatialSystemFactory g_kdSpatialFactory = nullptr;
// The map-entity pass the engine core runs after a load: model, light and speaker entities become
// render and sound descriptions (set by the spatial subsystem).
inline void (*g_mapEntityPass)(SpatialSystem* world) = nullptr;
