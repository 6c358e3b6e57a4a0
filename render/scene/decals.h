// Projected decals and entity overlays of the render manager. Decals clip world-area or entity
// triangles against a projection volume into a fixed pool of 512 polygons that expire 10,000 ms
// after their time stamp; every frame the live polygons become the surfaces of "_decalModel_".
// Overlays keep, per surface of an entity's model, texture coordinates of the vertices inside a
// projection, in 8 slots per entity. Main thread only.
#pragma once

#include "lib/interface/renderinterface.h"
#include "lib/list.h"
#include "lib/vector.h"

class BaseModel;
class Material;
class RenderManager;

constexpr int kDecalPoolSize = 512;
constexpr int kDecalMaxPoints = 16;  // points of one pooled polygon
constexpr int kDecalLifetime = 10000;
constexpr int kDecalMaxProjectionPoints = 64;
constexpr int kDecalMaxClipped = 64;  // result polygons of one surface
constexpr int kOverlaySlots = 8;

struct DecalPolygon {
  DecalPolygon() : link(this) {}
  DrawVertex vertices[kDecalMaxPoints];
  int numVerts = 0;
  int time = 0;
  int entity = -1;  // -1: the world
  Material* material = nullptr;
  LinkList<DecalPolygon> link;
};

struct OverlayEntry {
  int vertex;
  float s, t;
};

struct OverlaySlot {
  List<OverlayEntry> entries;
  Material* material = nullptr;
  int surface = -1;  // -1: empty
  int time = 0;
};

class RenderDecals {
 public:
  RenderDecals();
  ~RenderDecals();
  RenderDecals(const RenderDecals&) = delete;
  RenderDecals& operator=(const RenderDecals&) = delete;

  // Every polygon free, the decal model made (mode 3); shutdown deletes it (before the model
  // manager goes). Both are safe to repeat; the slots call init on first use.
  void init();
  // Everything, the overlay slots too.
  void shutdown();
  // The polygon pool and the decal model alone.
  void freePool();

  // RenderSystem slots 44-47. `winding` holds `count` points of (x, y, z, s, t); only the first 64
  // are used.
  void projectDecal(RenderManager& manager, const float (*winding)[5], int count, const Vec3& origin, bool parallel,
                    float fade, Material* material, int time);
  void projectDecalOnEntity(RenderManager& manager, int entity, const float (*winding)[5], int count,
                            const Vec3& origin, bool parallel, float fade, Material* material, int time);
  // The texture planes are in the entity's own space.
  void addEntityOverlay(RenderManager& manager, int entity, const Plane& s, const Plane& t, Material* material);
  void removeEntityDecals(int entity);

  // Once per frame (the draw lists): expires, rebuilds when needed, returns the decal model.
  BaseModel* buildDecalModel(RenderManager& manager);
  // A world polygon from ready vertices (the batching code).
  void addDecalVertices(const DrawVertex* vertices, int count, Material* material, int time);
  // The entity's 8 slots; null when it never had an overlay.
  const OverlaySlot* overlays(int entity) const;
  // Empties the entity's overlay slots (its instance model was rebuilt, or the slot changed hands).
  void clearOverlays(int entity);
  // Map unload: every polygon free, every overlay empty.
  void clearAll();

  int numUsed() const { return used_.num(); }
  const DecalPolygon* oldest() const { return used_.nextOwner(); }
  const List<int>& surfaceTimes() const { return surfaceTimes_; }
  bool modelUpToDate() const { return upToDate_; }

 private:
  DecalPolygon* allocPolygon();
  void freePolygon(DecalPolygon* polygon);
  void ensureInit();

  DecalPolygon pool_[kDecalPoolSize];
  LinkList<DecalPolygon> used_;  // oldest first
  LinkList<DecalPolygon> free_;
  BaseModel* model_ = nullptr;
  bool upToDate_ = false;
  bool initialised_ = false;
  List<int> surfaceTimes_;
  List<OverlaySlot*> overlays_;  // kOverlaySlots per entity index, null until used
};

// The render manager's decals (process-wide, like the render manager).
RenderDecals& renderDecals();
// Whether a material takes decals and overlays: it has stages, and "forceOverlay" or none of
// "areaportal", "nodraw", "noimpact", "nomarks", "nonsolid", "translucent".
bool materialTakesDecals(const Material* material);
