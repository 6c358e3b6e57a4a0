#include "world/kdworld.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "lib/interface/cmdsystem.h"
#include "lib/interface/convarsystem.h"
#include "lib/interface/iosystem.h"
#include "lib/str.h"
#include "lib/tokenparser.h"

namespace {

int singleArea() {
  return r_singlearea.getInt();
}

}  // namespace

void KDSpatialSystem::clear() {
  clearBase();
  nodes_.clear();
  nodesRead_ = false;
  leafCount_ = 0;
  areaModels_.clear();
  areaCount_ = 0;
  queryBox_.clear();
  queryView_ = nullptr;
}

bool KDSpatialSystem::load(const char* name) {
  clear();
  setName(name, ".kdt");
  IOData* data = g_ioSystem ? g_ioSystem->loadFile(name_.c_str()) : nullptr;
  if (!data)
    return false;
  std::string text(data->buffer ? data->buffer : "", size_t(data->length));
  g_ioSystem->freeFile(data);
  return loadText(text.c_str());
}

bool KDSpatialSystem::readNodes(TokenParser& parser) {
  if (nodesRead_) {
    worldSyntaxError(parser, "second nodes block");
    return false;
  }
  nodesRead_ = true;
  int count = 0;
  if (!worldReadCount(parser, count, 4))
    return false;
  nodes_.assign(size_t(count), KDNode());
  for (KDNode& n : nodes_) {
    if (!worldReadInt(parser, n.kind))
      return false;
    if (n.kind < 0) {
      if (!worldReadInt(parser, n.area))
        return false;
      if (n.area < 0 || n.area >= kMaxWorldCount) {
        worldSyntaxError(parser, "leaf area out of range");
        return false;
      }
      ++leafCount_;
    } else {
      if (!worldReadFloats(parser, &n.split, 1) || !worldReadInt(parser, n.children[0]) ||
          !worldReadInt(parser, n.children[1]))
        return false;
    }
  }
  // Children must lie in the list below their parent, once each: no cycles, no shared subtrees.
  std::vector<uint8_t> seen(nodes_.size(), 0);
  for (size_t i = 0; i < nodes_.size(); ++i) {
    if (nodes_[i].kind < 0)
      continue;
    for (int c : nodes_[i].children)
      if (c <= 0 || size_t(c) >= nodes_.size() || seen[size_t(c)]++) {
        worldSyntaxError(parser, "kd-tree child outside the tree or shared");
        return false;
      }
  }
  std::vector<int> stack;
  size_t reached = 0;
  if (!nodes_.empty())
    stack.push_back(0);
  while (!stack.empty()) {
    const KDNode& n = nodes_[size_t(stack.back())];
    stack.pop_back();
    ++reached;
    if (n.kind >= 0) {
      stack.push_back(n.children[0]);
      stack.push_back(n.children[1]);
    }
  }
  if (reached != nodes_.size()) {
    worldSyntaxError(parser, "kd-tree nodes not below the root");
    return false;
  }
  return true;
}

bool KDSpatialSystem::loadText(const char* text) {
  std::string keep = name_;
  clear();
  name_ = keep;
  TokenParser parser;
  if (!worldPushText(parser, text) || !parser.expectToken("!KDT", true, "world", __LINE__))
    return false;
  while (const char* t = parser.nextToken(true)) {
    char block[64];
    std::snprintf(block, sizeof(block), "%s", t);
    if (!parser.expectToken("{", true, "world", __LINE__))
      return false;
    bool ok = true;
    if (String::icmp(block, "model") == 0)
      ok = readModelBlock(parser, false);
    else if (String::icmp(block, "nodes") == 0)
      ok = readNodes(parser);
    else if (String::icmp(block, "entities") == 0)
      ok = readEntities(parser);
    else
      cmdPrintf("WARNING in KDSpatialSystem::load, invalid token '%s' on line %d\n", block, parser.lineNumber());
    if (!ok || !parser.expectToken("}", true, "world", __LINE__))
      return false;
  }
  finishModels();
  areaModels_.assign(size_t(leafCount_), -1);
  for (int i = 0; i < leafCount_; ++i) {
    char areaName[32];
    std::snprintf(areaName, sizeof(areaName), "_area%d", i);
    areaModels_[size_t(i)] = findWorldModelIndex(areaName);
    if (areaModels_[size_t(i)] >= 0)
      worldBounds_.addBounds(models_[size_t(areaModels_[size_t(i)])].bounds);
  }
  // Node bounds bottom-up, in an explicit post-order.
  std::vector<std::pair<int, bool>> stack;
  if (!nodes_.empty())
    stack.push_back({0, false});
  while (!stack.empty()) {
    auto [n, done] = stack.back();
    stack.pop_back();
    KDNode& node = nodes_[size_t(n)];
    if (node.kind < 0) {
      const WorldModel* m = areaModel(node.area);
      node.bounds = m ? m->bounds : Bounds();
      if (!m)
        node.bounds.clear();
    } else if (!done) {
      stack.push_back({n, true});
      stack.push_back({node.children[0], false});
      stack.push_back({node.children[1], false});
    } else {
      node.bounds.clear();
      node.bounds.addBounds(nodes_[size_t(node.children[0])].bounds);
      node.bounds.addBounds(nodes_[size_t(node.children[1])].bounds);
    }
  }
  return true;
}

const WorldModel* KDSpatialSystem::areaModel(int area) const {
  if (area < 0 || area >= int(areaModels_.size()) || areaModels_[size_t(area)] < 0)
    return nullptr;
  return &models_[size_t(areaModels_[size_t(area)])];
}

RenderModel* KDSpatialSystem::getAreaModel(int area) {
  const WorldModel* m = areaModel(area);
  return m ? m->renderModel : nullptr;
}

void KDSpatialSystem::addArea(int area, SurfaceList* list) {
  if (!list) {
    if (areaCount_ < 1024)
      areaBuffer_[areaCount_++] = area;
    return;
  }
  const WorldModel* m = areaModel(area);
  if (!m)
    return;
  int mi = areaModels_[size_t(area)];
  for (size_t s = 0; s < m->surfaces.size(); ++s) {
    const Bounds& b = m->surfaces[s].bounds;
    if (!queryBox_.isCleared() && !b.intersects(queryBox_))
      continue;
    if (queryView_ && !b.insidePlanes(queryView_->frustum, 6, 0.0f))
      continue;
    list->append(&drawSurfaces_[size_t(mi)][s]);
  }
}

// Walks the tree pruned by the view frustum and the query box (an explicit stack).
void KDSpatialSystem::walk(SurfaceList* list, const AreaBitArray* mask) {
  if (nodes_.empty())
    return;
  std::vector<int>& stack = walkStack_;
  stack.clear();
  stack.push_back(0);
  while (!stack.empty()) {
    const KDNode& n = nodes_[size_t(stack.back())];
    stack.pop_back();
    if (queryView_ && !n.bounds.insidePlanes(queryView_->frustum, 6, 0.0f))
      continue;
    if (!queryBox_.isCleared() && !n.bounds.intersects(queryBox_))
      continue;
    if (n.kind >= 0) {
      // Second child pushed first so the first is walked first.
      stack.push_back(n.children[1]);
      stack.push_back(n.children[0]);
      continue;
    }
    if (mask && mask->numBits > 0 && !mask->test(n.area))
      continue;
    addArea(n.area, list);
  }
}

void KDSpatialSystem::surfacesInBounds(SurfaceList& list, const Bounds& bounds) {
  list.clear();
  queryBox_ = bounds;
  queryView_ = nullptr;
  walk(&list, nullptr);
}

void KDSpatialSystem::surfacesVisibleFromPoint(SurfaceList& list, const Vec3& /*point*/, const Bounds& bounds) {
  list.clear();
  queryBox_ = bounds;
  queryView_ = nullptr;
  int n = singleArea();
  if (n < 0)
    walk(&list, nullptr);
  else if (n < getNumAreas())
    addArea(n, &list);
}

void KDSpatialSystem::surfacesVisibleFromView(SurfaceList* list, const SpatialView* view, const AreaBitArray& mask) {
  areaCount_ = 0;
  queryBox_.clear();
  if (list)
    list->clear();
  if (!view)
    return;
  queryView_ = view;
  int single = singleArea();
  int n = single < getNumAreas() - 1 ? single : getNumAreas() - 1;
  if (single < 0 || n < 0) {
    walk(list, &mask);
  } else if (!list) {
    if (areaCount_ < 1024)
      areaBuffer_[areaCount_++] = n;
  } else if (mask.numBits == 0 || mask.test(n)) {
    addArea(n, list);
  }
  queryView_ = nullptr;
}

bool KDSpatialSystem::isBoundsVisibleFromView(const SpatialView* view, const Bounds& bounds) {
  return view && bounds.insidePlanes(view->frustum, 6, 0.0f);
}

bool KDSpatialSystem::boundsTouchAreaList(const int* areas, int count, const Bounds& bounds) {
  for (int i = 0; i < count; ++i) {
    const WorldModel* m = areaModel(areas[i]);
    if (m && m->bounds.intersects(bounds))
      return true;
  }
  return false;
}

bool KDSpatialSystem::boundsTouchAreaMask(const AreaBitArray& bits, const Bounds& bounds) {
  for (int i = 0; i < bits.numBits && i < getNumAreas(); ++i)
    if (bits.test(i) && boundsTouchAreaList(&i, 1, bounds))
      return true;
  return false;
}

int KDSpatialSystem::pointToArea(const float point[3]) {
  areaCount_ = 0;
  queryView_ = nullptr;
  queryBox_ = Bounds::fromPoint(Vec3(point[0], point[1], point[2]));
  walk(nullptr, nullptr);
  return areaCount_ > 0 ? areaBuffer_[0] : -1;
}

int KDSpatialSystem::areasInBounds(const Bounds& bounds, int* out, int max) {
  areaCount_ = 0;
  queryView_ = nullptr;
  queryBox_ = bounds;
  walk(nullptr, nullptr);
  int n = areaCount_ < max ? areaCount_ : max;
  std::memcpy(out, areaBuffer_, sizeof(int) * size_t(n > 0 ? n : 0));
  return n > 0 ? n : 0;
}

int KDSpatialSystem::areasVisibleFromPoint(const Vec3& /*point*/, const Bounds& bounds, int* out, int max) {
  return areasInBounds(bounds, out, max);
}

int KDSpatialSystem::areasVisibleFromView(const SpatialView* view, int* out, int max) {
  areaCount_ = 0;
  if (!view)
    return 0;
  queryView_ = view;
  float half = view->viewDistance < 2048.0f ? view->viewDistance : 2048.0f;
  queryBox_ = Bounds::fromSize(2.0f * half).translated(view->origin);
  walk(nullptr, nullptr);
  queryView_ = nullptr;
  int n = areaCount_ < max ? areaCount_ : max;
  std::memcpy(out, areaBuffer_, sizeof(int) * size_t(n > 0 ? n : 0));
  return n > 0 ? n : 0;
}

bool KDSpatialSystem::viewSeesAnyArea(const int* areas, int count, const SpatialView* view) {
  if (!view)
    return false;
  for (int i = 0; i < count; ++i) {
    const WorldModel* m = areaModel(areas[i]);
    if (m && m->bounds.insidePlanes(view->frustum, 6, 0.0f))
      return true;
  }
  return false;
}

void KDSpatialSystem::getConnectedAreas(AreaBitArray& bits, int /*mask*/, const Vec3& /*point*/) {
  if (bits.numBits < getNumAreas()) {
    if (g_cmdSystem)
      g_cmdSystem->error(
          1, "connectedAreas.size() < getNumAreas(), be sure to resize before calling getConnectedAreas()\n");
    return;
  }
  for (uint8_t& b : bits.bytes)
    b = 0xFF;
}
