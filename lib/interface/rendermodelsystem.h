// The render-model manager's interface and the model records every subsystem shares: triangle
// geometry (SurfaceGeometry), drawable surfaces (ModelSurface) and the abstract model (RenderModel).
// The one implementation lives in render/model (RenderModelManager, BaseModel). Main thread only.
#pragma once

#include <cstdint>

#include "lib/interface/renderinterface.h"
#include "lib/list.h"
#include "lib/vector.h"

class Material;
class Mat4;
class DeclSkin;
struct RenderEntity;
struct ModelJoint;  // skinned meshes
struct JointPose;

// One side shared by up to two triangles.
struct GeometryEdge {
  int tri0;   // first triangle
  int tri1;   // second triangle, -1 while the edge has one
  int vert0;  // first vertex (as the first triangle runs it)
  int vert1;
};

// Triangle geometry of every model, decal and builder. Allocated, recycled by size and released
// only by the render-model manager; the arrays of one record are one block.
struct SurfaceGeometry {
  SurfaceGeometry() : link(this) {}
  SurfaceGeometry(const SurfaceGeometry&) = delete;
  SurfaceGeometry& operator=(const SurfaceGeometry&) = delete;

  Bounds bounds;
  uint8_t closed = 0;             // every edge has two triangles (set by edge building)
  uint8_t secondBufferValid = 0;  // the back end uploaded the second buffer
  uint8_t facetsValid = 0;        // planes hold one plane per triangle
  int tag = -1;                   // the back end's; copied by back sides and model copies

  DrawVertex* verts = nullptr;
  int numVerts = 0;
  int* indexes = nullptr;  // three per triangle
  int numIndexes = 0;
  // Per index: the edge of the triangle side starting there, negated when the side runs it
  // backwards (edge 0 stays 0).
  int* edgeOfIndex = nullptr;
  int numEdges = 0;
  GeometryEdge* edges = nullptr;  // own allocation, freed with the record's edges
  Plane* planes = nullptr;        // one per triangle

  // Index-only records: the block's vertex and index parts and their capacities.
  DrawVertex* reserveVerts = nullptr;
  int reserveVertCount = 0;
  int* reserveIndexes = nullptr;
  int reserveIndexCount = 0;
  int reserveIndexCount2 = 0;
  int reserveIndexCount3 = 0;

  LinkList<SurfaceGeometry> link;  // the free list
  VertexBufferHandle* vertexBuffer = nullptr;
  VertexBufferHandle* secondBuffer = nullptr;  // 16-byte elements, filled by the back end

  // Filled by the world, the shadow builders and the light passes; reset when a record is reused.
  int lightmap = -1;                   // lightmap number of world surfaces
  float* shadowVerts = nullptr;        // x, y, z, w per shadow vertex
  int numShadowVerts = 0;
  int* shadowIndexes = nullptr;
  int numShadowIndexes = 0;
  int shadowSideEnd = 0;               // end of the side indexes
  int shadowCapStart = 0;              // start of the cap indexes
  int capBits = 0;                     // clip-bit directions that need caps
  uint8_t noCaps = 0;
  uint8_t noFrontCaps = 0;
  uint8_t shadowUploaded = 0;
  int planeBits = 0;
  int clipBits = 0;

  // Capacity of the block (what a reused record can hold), kept apart from the counts in use.
  int blockVerts = 0;
  int blockIndexes = 0;
  void* block = nullptr;  // the one allocation behind the arrays; null for records of other owners
  uint8_t indexOnly = 0;  // kept on the index-only free list
};

// One drawable part of a model.
struct ModelSurface {
  Material* material = nullptr;
  SurfaceGeometry* geometry = nullptr;
  int id = -1;  // -1 unset; for instance models the world area holding the surface
};

// Allocation flags of allocSurfaceGeometry.
enum GeometryAllocFlags {
  kGeometryVertices = 1,
  kGeometryIndexes = 2,
  kGeometryGpuBuffers = 4,
};

// Modes of a model.
enum RenderModelMode {
  kModelStatic = 1,
  kModelDynamic = 2,
  kModelGpuBuffers = 3,  // instance copies, world models, the decal model
};

// Flag bits of a model.
enum RenderModelFlags {
  kModelFlagDefault = 0x1,
  kModelFlagWorld = 0x2,  // set by the spatial system on the models of a map
  kModelFlagBackSides = 0x4,
  kModelFlagVertsChanged = 0x8,
};

// Every render model; created, named and loaded only through the manager.
class RenderModel {
 public:
  virtual ~RenderModel() = default;
  virtual void loadFile(const char* fileName) = 0;
  // Frees every surface and geometry, sets the name, clears the default and back-side flags.
  virtual void init(const char* name) = 0;
  virtual void addSurface(const ModelSurface& surface) = 0;
  virtual void addBackSides() = 0;
  virtual void reload() = 0;
  virtual bool isLoaded() const = 0;
  virtual bool isDefaultModel() const = 0;
  virtual const char* name() const = 0;
  virtual int memoryUsed() const = 0;
  virtual int numSurfaces() const = 0;
  // Index below numSurfaces.
  virtual ModelSurface* getSurface(int index) = 0;
  virtual void setSurface(int index, const ModelSurface& surface) = 0;
  // Null for counts the allocator refuses (negative or too large).
  virtual SurfaceGeometry* allocGeometry(int numVerts, int numIndexes) = 0;
  virtual void freeGeometry(SurfaceGeometry* geometry) = 0;
  // Welded geometry of the shadow-casting surfaces with its edges; null when there is none.
  virtual SurfaceGeometry* getShadowSurface() = 0;
  virtual int getMode() const = 0;
  // The union of the surface bounds; with an entity, placed by its axis and origin.
  virtual Bounds& getBounds(Bounds& out, const RenderEntity* entity) const = 0;
  virtual int getJointHandle(int joint) const = 0;
  virtual int numJointPoses() const = 0;
  virtual const ModelJoint* getJoints() const = 0;
  virtual int findJoint(const char* name) const = 0;
  virtual const char* getJointName(int index) const = 0;
  virtual const JointPose* getBindPoses() const = 0;
  virtual void purge() = 0;
  virtual void transformSurfaceVertices(DrawVertex* out, const Mat4* matrices, int numJoints,
                                        int surface) const = 0;
  virtual void computeJointMatrices(Mat4* out, const RenderEntity* entity) const = 0;
  virtual Material* resolveSurfaceMaterial(int surface, Material* custom, const DeclSkin* skin2,
                                           const DeclSkin* skin) const = 0;
  // RenderModelFlags.
  virtual int getFlags() const = 0;
};

class RenderModelSystem {
 public:
  // Shuts down, then releases the model list and the free list.
  virtual ~RenderModelSystem() = default;
  // Registers "reloadModels" and "listModels" when the command system exists.
  virtual void init() = 0;
  // Frees every model and the free geometry.
  virtual void shutdown() = 0;
  virtual void onMapLoaded() = 0;
  // As shutdown (map unload).
  virtual void freeAllModels() = 0;
  // A new listed model named "empty".
  virtual RenderModel* allocEmptyModel() = 0;
  // Unlists and deletes; null does nothing.
  virtual void freeModel(RenderModel* model) = 0;
  // Never null: a name that cannot be loaded gives a listed default model.
  virtual RenderModel* findOrLoadModel(const char* name) = 0;
  // Case-insensitive; null for a null or empty name or when none is listed.
  virtual RenderModel* findModel(const char* name) = 0;
  virtual void addModel(RenderModel* model) = 0;
  virtual void removeModel(RenderModel* model) = 0;
  // Reloads every loaded model (forced: every model).
  virtual void reloadModels(bool force) = 0;
  virtual void listModels() = 0;
  virtual void freeModelBuffers() = 0;
  // GeometryAllocFlags; null for negative counts or counts above the caps.
  virtual SurfaceGeometry* allocSurfaceGeometry(int numVerts, int numIndexes, int flags) = 0;
  virtual void purgeFreeGeometry() = 0;
  // Drops the edges and puts the record at the tail of the free list (block and buffers kept).
  virtual void freeSurfaceGeometry(SurfaceGeometry* geometry) = 0;
};

inline RenderModelSystem* g_renderModelSystem = nullptr;

// The manager (render/model), made and started on the first call; null in builds without it.
RenderModelSystem* getRenderModelSystem();
// Deletes it and clears the pointers; nothing when it does not exist.
void destroyRenderModelSystem();
