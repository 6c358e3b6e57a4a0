// The collision manager's interface, handed to the game module in the import block: the model list,
// the builders, the queries (translation, rotation, contents, contacts) and the ".cm" writers. The
// engine core itself only frees the models. Absent (null) until the collision library is linked.
#pragma once

#include <cstdint>

#include "lib/interface/renderinterface.h"
#include "lib/interface/tracemodel.h"
#include "lib/list.h"
#include "lib/matrix.h"
#include "lib/interface/materialsystem.h"
#include "lib/vector.h"

class Material;  // the material library's; collision reads it through CollisionMaterialAccess

// The contents bits are the materials' (lib/interface/materialsystem.h); these are the ones that
// make a render surface collide.
constexpr int kContentsClipMask = 0x79;
constexpr int kSurfaceFlagCollision = kMaterialCollision;

// What the collision subsystem reads of a material. The material library installs its reader in
// g_collisionMaterialAccess; until then collision uses stand-ins of its own (solid, two-sided).
class CollisionMaterialAccess {
 public:
  virtual ~CollisionMaterialAccess() = default;
  // Never null: an unknown name gets the default material.
  virtual Material* find(const char* name) = 0;
  virtual const char* name(const Material* material) = 0;
  virtual int contents(const Material* material) = 0;
  virtual int surfaceFlags(const Material* material) = 0;
  // Non-zero: one-sided.
  virtual int cullType(const Material* material) = 0;
};
inline CollisionMaterialAccess* g_collisionMaterialAccess = nullptr;

struct ContactInfo {
  Vec3 normal;
  float dist;
  Vec3 point;
  int32_t contents;
  Material* material;
  int32_t reserved;
  int32_t primitiveIndex;
};

struct TraceResult {
  float fraction;
  Vec3 endPos;
  Mat3 endAxis;
  ContactInfo contact;
};

// One piece of geometry the game module assembles for createModel. Kinds 0 to 2: triangles
// (vertices and three indexes per triangle); kind 3: a convex brush given by its planes (the solid
// behind each); other kinds are ignored.
struct CollisionSurface {
  int32_t kind = 0;
  Material* material = nullptr;
  List<DrawVertex> vertices;
  List<Plane> planes;
  List<int> indexes;
};

// A loaded collision model as the game module sees it. Indices are not range-checked.
class CollisionModel {
 public:
  virtual ~CollisionModel() = default;
  virtual int numBrushes() const = 0;
  virtual const TraceModel* brushTraceModel(int i) const = 0;
  virtual Material* brushMaterial(int i) const = 0;
  virtual int numPolygons() const = 0;
  // Point count followed by the points (the ConvexPolygon layout).
  virtual const ConvexPolygon* polygonWinding(int i) const = 0;
  virtual Material* polygonMaterial(int i) const = 0;
};

class CollisionSystem {
 public:
  virtual ~CollisionSystem() = default;

  virtual void loadMap(const char* mapName, bool ignored) = 0;
  // Frees every collision model (after a map load and when a map goes).
  virtual void freeModels() = 0;
  virtual int findOrLoadModel(const char* name) = 0;
  // Rebuilds model 1 from the trace model; always 1.
  virtual int setTraceModel(const TraceModel& trm, Material* material) = 0;
  virtual bool traceModelFromModel(const char* name, TraceModel& out) = 0;
  virtual void setTestBackFaces(int on) = 0;
  virtual const char* modelName(int index) const = 0;
  virtual bool modelBounds(int index, Bounds& out) const = 0;
  virtual bool modelContents(int index, int& out) const = 0;
  virtual CollisionModel* modelByIndex(int index) = 0;
  virtual void translation(TraceResult* result, const Vec3& start, const Vec3& end, const TraceModel* trm,
                           const Mat3& trmAxis, int contentMask, int model, const Vec3& modelOrigin,
                           const Mat3& modelAxis) = 0;
  virtual void rotation(TraceResult* result, const Vec3& start, const Rotation& rotation,
                        const TraceModel* trm, const Mat3& trmAxis, int contentMask, int model,
                        const Vec3& modelOrigin, const Mat3& modelAxis) = 0;
  virtual int contents(const Vec3& start, const TraceModel* trm, const Mat3& trmAxis, int contentMask,
                       int model, const Vec3& modelOrigin, const Mat3& modelAxis) = 0;
  virtual int contacts(ContactInfo* out, int maxContacts, const Vec3& start, const float delta[6],
                       float depth, const TraceModel* trm, const Mat3& trmAxis, int contentMask, int model,
                       const Vec3& modelOrigin, const Mat3& modelAxis) = 0;
  virtual void debugDrawModel(int model, const Vec3& modelOrigin, const Mat3& modelAxis,
                              const Vec3& viewOrigin, float radius) = 0;
  virtual void writeModelFile(const char* fileName, int index) = 0;
  virtual void writeAllModels(const char* fileName) = 0;
  // The list is taken by value; its storage is released in every case.
  virtual int createModel(const char* name, List<CollisionSurface*> surfaces) = 0;
};

inline CollisionSystem* g_collisionSystem = nullptr;

// What the collision builders read of render models. The render-model library installs its
// reader in g_collisionRenderModels; without one no collision model is made from render models.
struct CollisionRenderSurface {
  Material* material = nullptr;
  const DrawVertex* vertices = nullptr;
  int numVertices = 0;
  const int* indexes = nullptr;
  int numIndexes = 0;
  const Plane* facePlanes = nullptr;  // one per triangle
};
class CollisionRenderModels {
 public:
  virtual ~CollisionRenderModels() = default;
  // True when the model is already known (loaded or listed) by that name.
  virtual bool isKnown(const char* name) = 0;
  // Finds or loads the model; never null (the default model stands in).
  virtual const void* load(const char* name) = 0;
  virtual bool isDefault(const void* model) = 0;
  // The map reader's world-model flag.
  virtual bool isWorldModel(const void* model) = 0;
  virtual int numSurfaces(const void* model) = 0;
  virtual bool surface(const void* model, int index, CollisionRenderSurface& out) = 0;
  virtual Bounds bounds(const void* model) = 0;
};
inline CollisionRenderModels* g_collisionRenderModels = nullptr;

// Where debugDrawModel draws: the scene renderer installs its debug-polygon drawer here.
class CollisionDebugDraw {
 public:
  virtual ~CollisionDebugDraw() = default;
  virtual void polygon(const Vec4& color, const ConvexPolygon& winding, const Vec3& origin, const Mat3& axis,
                       int lifetime, bool depthTest) = 0;
};
inline CollisionDebugDraw* g_collisionDebugDraw = nullptr;
