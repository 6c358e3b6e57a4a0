// The kd-tree world read from ".kdt" text maps: area models, a tree whose leaves name areas, and
// the entities. No portals: queries walk the tree, pruned by the query box and the view frustum.
#pragma once

#include <vector>

#include "world/worldbase.h"

struct KDNode {
  int kind = -1;       // >= 0 interior, < 0 leaf
  float split = 0.0f;  // interior: kept, unused by the queries
  int area = -1;       // leaf
  int children[2] = {-1, -1};
  Bounds bounds;
};

class KDSpatialSystem : public WorldBase {
 public:
  ~KDSpatialSystem() override { clear(); }
  const char* getFileId() override { return "!KDT"; }
  // The kd-tree world draws nothing, not even the light grid.
  void drawDebug() override {}
  bool load(const char* name) override;
  bool loadText(const char* text);
  void clear() override;

  void surfacesInBounds(SurfaceList& list, const Bounds& bounds) override;
  void surfacesVisibleFromPoint(SurfaceList& list, const Vec3& point, const Bounds& bounds) override;
  void surfacesVisibleFromView(SurfaceList* list, const SpatialView* view, const AreaBitArray& mask) override;
  bool isBoundsVisibleFromView(const SpatialView* view, const Bounds& bounds) override;
  bool boundsTouchAreaMask(const AreaBitArray& areas, const Bounds& bounds) override;
  bool boundsTouchAreaList(const int* areas, int count, const Bounds& bounds) override;
  int pointToArea(const float point[3]) override;
  int areasInBounds(const Bounds& bounds, int* out, int max) override;
  int areasVisibleFromPoint(const Vec3& point, const Bounds& bounds, int* out, int max) override;
  int areasVisibleFromView(const SpatialView* view, int* out, int max) override;
  bool viewSeesAnyArea(const int* areas, int count, const SpatialView* view) override;
  int getNumAreas() override { return int(areaModels_.size()); }
  void getConnectedAreas(AreaBitArray& bits, int mask, const Vec3& point) override;
  RenderModel* getAreaModel(int area) override;

  const std::vector<KDNode>& nodes() const { return nodes_; }

 private:
  bool readNodes(TokenParser& parser);
  void walk(SurfaceList* list, const AreaBitArray* mask);
  void addArea(int area, SurfaceList* list);
  const WorldModel* areaModel(int area) const;

  std::vector<KDNode> nodes_;
  bool nodesRead_ = false;
  int leafCount_ = 0;
  std::vector<int> areaModels_;  // model index per area, -1 when absent
  int areaBuffer_[1024];
  int areaCount_ = 0;
  Bounds queryBox_;
  const SpatialView* queryView_ = nullptr;
  std::vector<int> walkStack_;
};
