// RenderModelManager: owns every render model (model 0 is the default box), finds or loads models
// by name, and hands out the triangle records (SurfaceGeometry) of models, decals, the surface
// builder and the world, recycling freed ones by size. Main thread only.
#pragma once

#include "lib/interface/rendermodelsystem.h"
#include "lib/list.h"
#include "render/model/basemodel.h"

// Limits of one geometry record (counts beyond them are refused).
constexpr int kGeometryMaxVerts = 1 << 20;
constexpr int kGeometryMaxIndexes = 3 << 20;

// Makes the model of a ".dmesh" name (installed by the skinned-mesh code); null: such names load
// as the default model.
using DynamicModelFactory = BaseModel* (*)();
inline DynamicModelFactory g_dynamicModelFactory = nullptr;

class RenderModelManager : public RenderModelSystem {
 public:
  RenderModelManager();
  ~RenderModelManager() override;
  RenderModelManager(const RenderModelManager&) = delete;
  RenderModelManager& operator=(const RenderModelManager&) = delete;

  void init() override;
  void shutdown() override;
  void onMapLoaded() override {}
  void freeAllModels() override;
  BaseModel* allocEmptyModel() override;
  void freeModel(RenderModel* model) override;
  RenderModel* findOrLoadModel(const char* name) override;
  RenderModel* findModel(const char* name) override;
  void addModel(RenderModel* model) override;
  void removeModel(RenderModel* model) override;
  void reloadModels(bool force) override;
  void listModels() override;
  void freeModelBuffers() override;
  SurfaceGeometry* allocSurfaceGeometry(int numVerts, int numIndexes, int flags) override;
  void purgeFreeGeometry() override;
  void freeSurfaceGeometry(SurfaceGeometry* geometry) override;

  int numModels() const { return models_.num(); }
  RenderModel* modelAt(int index) { return index >= 0 && index < models_.num() ? models_[index] : nullptr; }
  // Records waiting on the free lists (vertex and index-only lists together).
  int numFreeGeometry() const;

 private:
  void ensureDefaultModel();
  SurfaceGeometry* allocIndexOnly(int numVerts, int numIndexes);
  static SurfaceGeometry* newRecord(int numVerts, int numIndexes);
  static void resetForReuse(SurfaceGeometry* geometry);

  List<RenderModel*> models_;
  LinkList<SurfaceGeometry> freeGeometry_;   // vertex geometry, oldest first
  LinkList<SurfaceGeometry> freeIndexOnly_;  // index-only records, oldest first
};
