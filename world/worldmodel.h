// Map-file models as the world reads and writes them ("model" and "shadowModel" blocks shared by
// ".bsp" and ".kdt"), the block readers, and the seam that hands them to the render-model manager.
#pragma once

#include <string>
#include <vector>

#include "lib/vector.h"

class TokenParser;
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
  RenderModel* renderModel = nullptr;  // set by the model seam when one exists
};

// Caps that keep a hostile count from allocating before the text proves it holds the items.
constexpr int kMaxWorldCount = 1 << 24;

// Number readers that refuse text that is not a number (the token parser's own return 0).
bool worldReadInt(TokenParser& parser, int& out);
bool worldReadFloats(TokenParser& parser, float* out, int count);
// A count read from the file: refused when negative, above the cap, or above the characters left
// (each item takes at least `minChars`).
bool worldReadCount(TokenParser& parser, int& out, int minChars);
void worldSyntaxError(TokenParser& parser, const char* what);

// Bodies of "model" and "shadowModel" after "{"; they stop before the closing "}".
bool parseWorldModel(TokenParser& parser, WorldModel& model);
bool parseWorldShadowModel(TokenParser& parser, WorldModel& model);
// Text of the blocks, as the map writers emit them.
void writeWorldModel(std::string& out, const WorldModel& model);
void writeWorldShadowModel(std::string& out, const WorldModel& model);
void appendFloats(std::string& out, const float* values, int count);
// Text as it can stand between quotes: a quote read inside an unquoted token becomes an apostrophe,
// so the written map always reads back.
std::string quotable(const char* text);

// Hands world models to the renderer: area and entity models become render models. The render
// model manager installs the real one (render/model/worldrendermodels); without it models stay
// with the world only.
class WorldModelSink {
 public:
  virtual ~WorldModelSink() = default;
  virtual RenderModel* addModel(const WorldModel& model) = 0;
  virtual void freeModel(RenderModel* model) = 0;
  // Builds the surfaces again into a model this sink made (a model reload purged them).
  virtual bool refillModel(RenderModel* model, const WorldModel& source) = 0;
};
inline WorldModelSink* g_worldModelSink = nullptr;
