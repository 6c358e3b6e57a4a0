// Map-file models as the world reads them ("model" and "shadowModel" blocks shared by ".bsp" and
// ".kdt"), and the sink through which the world hands them to the render-model manager. The
// manager owns every model the sink makes: a world that is cleared or deleted frees none of them,
// the map unload frees them once.
#pragma once

#include <string>
#include <vector>

#include "lib/vector.h"

class RenderModel;

struct WorldSurface {
  std::string material;
  int lightmap = -1;
  int id = -1;                // the area number for "_area%d" models, else -1
  std::vector<float> verts;   // 10 floats a vertex: position, texture, lightmap, normal
  std::vector<int> indexes;   // each below the vertex count
  Bounds bounds;
  int numVerts() const { return int(verts.size() / 10); }
};

struct WorldModel {
  std::string name;
  bool shadow = false;  // a "shadowModel" block
  std::vector<WorldSurface> surfaces;
  // Shadow models: one set of points (x, y, z) and indexes.
  std::vector<float> shadowPoints;
  std::vector<int> shadowIndexes;
  int noCaps = 0, noFrontCaps = 0, planeBits = 0;
  Bounds bounds;
  // The listed render model made from this one, or null. The manager may free it (a light entity
  // frees its stale "_shadowMask_" model); the world only compares the pointer.
  RenderModel* renderModel = nullptr;
};

class WorldModelSink {
 public:
  virtual ~WorldModelSink() = default;
  // A listed world render model: area and entity models with their surfaces, shadow models with
  // their volume; null when none can be made.
  virtual RenderModel* addModel(const WorldModel& model) = 0;
  // Builds the surfaces again into a model this sink made (a model reload purged them).
  virtual bool refillModel(RenderModel* model, const WorldModel& source) = 0;
};

// Installed by the render-model manager while it lives; null without it (models then stay with
// the world only).
inline WorldModelSink* g_worldModelSink = nullptr;
