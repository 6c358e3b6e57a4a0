// BaseModel: the static mesh. Loads the engine's text mesh format ("meshVersion"), adds back sides
// for two-sided lit materials, builds shadow edges and welded shadow geometry, answers bounds and
// joint queries, and copies itself into per-entity instance models. Created only by the
// render-model manager. Main thread only.
#pragma once

#include <vector>

#include "lib/interface/rendermodelsystem.h"
#include "lib/list.h"
#include "lib/str.h"

class Mat4;
class TokenParser;

// Limits of the text mesh format (content files are untrusted).
constexpr int kMeshMaxMeshes = 4096;
constexpr int kMeshMaxVerts = 1 << 20;  // per mesh
constexpr int kMeshMaxTris = 1 << 20;   // per mesh

// The material deform step of instance building (installed by the scene renderer's deform code;
// null: no deform).
using SurfaceDeformFunction = void (*)(ModelSurface* surface, const RenderEntity* entity);
inline SurfaceDeformFunction g_surfaceDeform = nullptr;

class BaseModel : public RenderModel {
 public:
  BaseModel();
  ~BaseModel() override;
  BaseModel(const BaseModel&) = delete;
  BaseModel& operator=(const BaseModel&) = delete;

  // --- RenderModel ---
  void loadFile(const char* fileName) override;
  void init(const char* name) override;
  void addSurface(const ModelSurface& surface) override;
  void addBackSides() override;
  void reload() override;
  bool isLoaded() const override;
  bool isDefaultModel() const override { return (flags_ & kModelFlagDefault) != 0; }
  const char* name() const override { return name_.c_str(); }
  int memoryUsed() const override;
  int numSurfaces() const override { return surfaces_.num(); }
  ModelSurface* getSurface(int index) override;
  void setSurface(int index, const ModelSurface& surface) override;
  SurfaceGeometry* allocGeometry(int numVerts, int numIndexes) override;
  void freeGeometry(SurfaceGeometry* geometry) override;
  SurfaceGeometry* getShadowSurface() override;
  int getMode() const override { return mode_; }
  Bounds& getBounds(Bounds& out, const RenderEntity* entity) const override;
  int getJointHandle(int) const override { return 0; }
  int numJointPoses() const override { return 0; }
  const ModelJoint* getJoints() const override { return nullptr; }
  int findJoint(const char*) const override { return -1; }
  const char* getJointName(int) const override { return nullptr; }
  const JointPose* getBindPoses() const override { return nullptr; }
  void purge() override;
  void transformSurfaceVertices(DrawVertex* out, const Mat4* matrices, int numJoints, int surface) const override;
  void computeJointMatrices(Mat4* out, const RenderEntity* entity) const override;
  Material* resolveSurfaceMaterial(int surface, Material* custom, const DeclSkin* skin2,
                                   const DeclSkin* skin) const override;
  int getFlags() const override { return flags_; }

  // --- Further operations ---
  // Loads the text mesh format from a text in memory (as loadFile does after reading the file).
  void loadFromText(const char* text);
  // The "_default_model" box: 16 units wide, material "white"; sets the default flag.
  void makeDefault();
  // A new mode-3 model "MDL_CACHE" with a copy of every surface's geometry; null for null. The
  // caller deletes it (or hands it to the manager).
  static BaseModel* createCopy(RenderModel* model);
  // Rewrites this copy's vertices for an entity placed with its model; false when the layouts
  // (surface, vertex, index and edge counts) differ.
  bool buildInstance(const RenderEntity* entity);
  // Refreshes every vertex buffer when the vertices changed (or when forced).
  void uploadVertices(bool force);
  // By the materials' sort values, ascending; equal sorts keep their order.
  void sortSurfaces();
  // Edges of the surface's geometry when its material casts shadows.
  void buildSurfaceEdges(int surface);
  void freeGpuBuffers();
  void setVerticesChanged() { flags_ |= kModelFlagVertsChanged; }
  void setMode(int mode) { mode_ = mode; }
  void uploadAllSurfaces();
  int numTriangles() const;
  // allocGeometry with explicit allocation flags (GeometryAllocFlags) and GPU buffers on request.
  SurfaceGeometry* allocGeometryForMode(int numVerts, int numIndexes, int flags, bool gpuBuffers);
  // The world-model flag, set by the spatial system on the models of a map.
  void setWorldModel(bool world);
  // Geometry records this model owns.
  int numGeometry() const { return geometry_.num(); }

  // Whether a material casts shadows: "forceShadow", or culled with light-interaction stages.
  static bool materialCastsShadows(Material* material);

 protected:
  // Parses the text mesh format from a pushed parser; false (with a message) makes the caller
  // fall back to the default box.
  bool parseMesh(TokenParser& parser);
  // Parses a pushed text, then adds back sides and drops coplanar edges; the default box on failure.
  void loadParsed(TokenParser& parser);
  void uploadSurface(const ModelSurface& surface);
  // A geometry record holding a parsed mesh's vertices and indexes, bounded by its vertices; null
  // when none could be had.
  SurfaceGeometry* geometryOf(const std::vector<DrawVertex>& verts, const std::vector<int>& indexes);

  String name_;
  List<SurfaceGeometry*> geometry_;
  List<ModelSurface> surfaces_;
  int mode_ = kModelStatic;
  SurfaceGeometry* shadowGeometry_ = nullptr;
  int flags_ = kModelFlagVertsChanged;
};
