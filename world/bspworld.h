// The area-and-portal world read from ".bsp" text maps: BSP nodes and leafs locate points, area
// portals join areas, and the queries flood from area to area through the portals while
// narrowing the view by each portal polygon.
#pragma once

#include <string>
#include <vector>

#include "lib/polygon.h"
#include "lib/interface/rendermodelsystem.h"
#include "world/worldbase.h"
#include "world/worldmodel.h"

struct ShadowSurface;

struct BspNode {
  Plane plane;
  int children[2] = {0, 0};  // [0] positive, [1] negative: 0 solid, > 0 node, < 0 leaf ~child
};

struct AreaPortal {
  int areas[2] = {0, 0};  // [0] on the positive side
  ConvexPolygon polygon;
  Plane plane;
  Bounds bounds;
  uint16_t blockingBits = 0;
  uint16_t debugState = 0;  // 1 reset, 2 culled, 3 passed
  bool inFlood = false;
};

struct BspArea {
  int model = -1;  // index into the world's models ("_area%d"), -1 when the file has none
  std::vector<int> portals;
  Bounds screenRect;
};

class BspSpatialSystem : public WorldBase {
 public:
  BspSpatialSystem() = default;
  ~BspSpatialSystem() override { clear(); }

  const char* getFileId() override { return "!BSP02"; }
  bool load(const char* name) override;
  // Reads map text already in memory (what load does after finding the file).
  bool loadText(const char* text);
  bool write(const char* name);
  std::string writeText() const;
  void clear() override;
  void drawDebug() override;

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
  int getNumAreas() override { return int(areas_.size()); }
  int getNumPortals() override { return int(portals_.size()); }
  void getConnectedAreas(AreaBitArray& bits, int mask, const Vec3& point) override;
  bool areasConnected(int a, int b, int mask) override;
  RenderModel* getAreaModel(int area) override;
  int findPortal(const Bounds& bounds) override;
  void setPortalState(int portal, int bits) override;
  int getPortalState(int portal) override;
  Bounds& getAreaScreenRect(Bounds& out, int area) override;
  void computeAreaScreenRects(const SpatialView* view) override;
  bool pointInSolid(const Vec3& point) override;
  // Per shadow-casting light entity: "_shadowMask_<name>" and "_prelight_<name>" models
  // (world/staticshadows.cpp).
  void buildShadowMasks() override;
  void generateStaticShadows(bool skipStaticSourceLights) override;

  // Read access for tests, tools and the writer.
  const std::vector<BspNode>& nodes() const { return nodes_; }
  const std::vector<int>& leafAreas() const { return leafAreas_; }
  const std::vector<AreaPortal>& portals() const { return portals_; }
  const WorldModel* areaWorldModel(int area) const;

 private:
  // One step of a flood: the pyramid from the query point through the part of the entered
  // portal seen so far.
  struct Frame {
    Plane planes[17];
    int numPlanes = 0;
    ConvexPolygon polygon;
    Plane plane;  // first frame: the starting portal's plane facing away from the viewer
    int area = -1;
    int enteredPortal = -1;
    int nextPortal = 0;
  };
  // The surfaces reached from a point, as the static shadow passes read them.
  void gatherShadowSurfaces(const Vec3& point, const Bounds& bounds, std::vector<ShadowSurface>& out);
  bool readAreaPortals(TokenParser& parser);
  bool readLeafs(TokenParser& parser);
  bool readNodes(TokenParser& parser);
  bool validate();
  void resetPortalDebug();
  // visitor: 0 areas, 1 surfaces
  bool visit(const Frame* frame, int area);
  void floodFromPortal(int portal);
  bool floodAreaFrom(Frame& start, const Bounds* visibleBox);
  void collectSingleOrAll(const AreaBitArray* mask);
  void viewFlood(const SpatialView* view, const AreaBitArray& mask);

  std::vector<BspNode> nodes_;
  std::vector<int> leafAreas_;
  std::vector<BspArea> areas_;
  std::vector<AreaPortal> portals_;
  bool portalsRead_ = false;
  int declaredAreas_ = 0;

  // Query state (one query at a time).
  const SpatialView* queryView_ = nullptr;
  SpatialView rectView_;  // the view of the last screen rectangles (drawn by drawDebug)
  bool hasRectView_ = false;
  int queryArea_ = -1;
  Vec3 queryPoint_;
  Bounds queryBounds_;
  bool rectAccumulation_ = false;
  int visitor_ = 0;
  int* outAreas_ = nullptr;
  int outCount_ = 0;
  int outMax_ = 0;
  SurfaceList* outSurfaces_ = nullptr;
  const Bounds* visibleBox_ = nullptr;
  unsigned stamp_ = 0;
  std::vector<unsigned> areaStamps_;
  std::vector<Frame> stack_;
};

// Screen rectangle (0..1) of a portal polygon clipped by the view's side planes; false when
// nothing of it is in view.
bool projectWindingBounds(Bounds& out, const ConvexPolygon& polygon, const SpatialView& view);

void registerWorldFactories();
