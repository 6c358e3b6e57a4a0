// A loaded map's world (area-and-portal or kd-tree), as far as the engine core
// calls it; the spatial subsystem extends it. Null while no map is loaded.
#pragma once

class RenderModel;
struct Bounds;

class SpatialSystem {
 public:
  virtual ~SpatialSystem() = default;

  // Loads "maps/" + name + extension; on false the caller deletes the object.
  virtual bool load(const char* path) = 0;
  // The area index of a point, -1 when it is in none.
  virtual int pointToArea(const float point[3]) = 0;
  // Reads the "model" and "shadowModel" blocks of the map file that carry the model's name into
  // it (a world model's reload); false on a syntax error.
  virtual bool loadModels(const char* /*fileName*/, RenderModel* /*model*/) { return false; }
  // Writes at most `max` indices of the areas whose extent meets the box; returns how many.
  virtual int areasInBounds(const Bounds& /*bounds*/, int* /*areas*/, int /*max*/) { return 0; }
};

inline SpatialSystem* g_spatialSystem = nullptr;

// Creates an empty world for a map file kind (".bsp", ".kdt"); filled in by
// the spatial subsystem, null until it is built.
using SpatialSystemFactory = SpatialSystem* (*)();
inline SpatialSystemFactory g_bspSpatialFactory = nullptr;
inline SpatialSystemFactory g_kdSpatialFactory = nullptr;
