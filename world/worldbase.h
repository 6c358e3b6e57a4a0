// What both map worlds share: the map name and bounds, the entity dictionaries and models read
// from the file, and the ".lmf" light grid with its lightmaps.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "lib/interface/rendermodelsystem.h"
#include "lib/interface/spatialsystem.h"
#include "world/worldmodel.h"

class ConVar;
class KeyDict;
class TokenParser;

extern ConVar r_singlearea;
extern ConVar r_showPortals;
extern ConVar r_showgridlight;
extern ConVar r_zNearWorld;
class ImageInterface;

// Light grid and lightmaps parsed from ".lmf" bytes.
struct LightmapFile {
  std::vector<uint8_t> cells;  // 8 bytes a cell, x fastest
  Vec3 origin;
  Vec3 invCellSize;
  int counts[3] = {0, 0, 0};
  bool hasMaps = false;  // the "LMAP" part was read
  int numLightmaps = 0;
  int size = 0;
  int bytesPerPixel = 0;
  std::vector<uint8_t> pixels;  // every lightmap in turn
};

// Reads ".lmf" bytes; false (with a message) for a file that is not one. A bad "LMAP" part keeps
// the grid read before it (grid valid, hasMaps false, result false).
bool parseLightmapFile(const uint8_t* data, size_t size, LightmapFile& out, const char* name);

// Trilinear light-grid sample; every output is zero without cells.
void sampleGrid(const LightmapFile& grid, const Vec3& point, Vec3& ambient, Vec3& directed, Vec3& direction);

class WorldBase : public SpatialSystem {
 public:
  WorldBase();
  ~WorldBase() override;

  const List<KeyDict*>* getEntities() override { return &entities_; }
  const Bounds& getBounds() override { return worldBounds_; }
  bool loadLightmaps() override;
  bool freeLightmaps() override;
  bool bindLightmap(int n) override;
  bool hasLightGrid() override { return !grid_.cells.empty(); }
  void sampleLightGrid(const Vec3& point, Vec3& ambient, Vec3& directed, Vec3& direction) override;
  // The light-grid drawing ("r_showgridlight") through the scene renderer's debug primitives.
  void drawDebug() override { drawLightGrid(); }
  void drawLightGrid();
  bool loadModels(const char* fileName, RenderModel* model) override;

  const std::string& name() const { return name_; }
  const std::vector<WorldModel>& models() const { return models_; }
  const WorldModel* findWorldModel(const char* name) const;
  int findWorldModelIndex(const char* name) const;
  const LightmapFile& lightGrid() const { return grid_; }
  // The model of that name and kind as the map writer writes it: from the render-model manager
  // (which owns the models, generated ones too; false when it holds none of that name), or what the
  // world read when there is no manager.
  bool modelForWriting(const char* name, bool shadow, WorldModel& out) const;
  // Replaces the grid read from the ".lmf" (tools and tests build grids in memory).
  void setLightGrid(const LightmapFile& grid) { grid_ = grid; }
  // The map name with another extension.
  std::string nameWithExtension(const char* extension) const;

 protected:
  void setName(const char* name, const char* extension);
  void clearBase();
  bool readModelBlock(TokenParser& parser, bool shadow);
  bool readEntities(TokenParser& parser);
  // The block of the model's kind and name from the map file: 1 read into `out`, 0 no file or no
  // such block, -1 a syntax error.
  int readModelFromFile(const WorldModel& wanted, WorldModel& out);
  // Hands every model to the model seam and grows the bounds by the area models.
  void finishModels();
  std::vector<ModelSurface>& drawSurfaces(int model) { return drawSurfaces_[size_t(model)]; }

  std::string name_;
  Bounds worldBounds_;
  List<KeyDict*> entities_{16};
  std::vector<WorldModel> models_;
  mutable std::unordered_map<std::string, int> modelIndex_;  // lower-cased name -> model, built on demand
  std::vector<std::vector<ModelSurface>> drawSurfaces_;  // per model, what queries hand out
  std::vector<std::vector<unsigned>> surfaceStamps_;
  LightmapFile grid_;
  std::vector<ImageInterface*> lightmaps_;
};

// Sets up a text parser on map text; false when the text is empty.
bool worldPushText(TokenParser& parser, const char* text);
