#include "world/bspworld.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "lib/interface/cmdsystem.h"
#include "lib/interface/convarsystem.h"
#include "lib/interface/iosystem.h"
#include "lib/interface/rendersystem.h"
#include "lib/keydict.h"
#include "lib/str.h"
#include "lib/tokenparser.h"

namespace {

float zNear() {
  return r_zNearWorld.getFloat();
}
// A flood deeper than this many portals stops: portals on the path are never passed twice, so
// only a map with more portals than this could reach it.
constexpr int kMaxFloodDepth = 4096;
// Marks a frame whose area the flood does not enter.
constexpr int kDone = 1 << 30;

}  // namespace


// ---------------------------------------------------------------------------------------------
// Loading and writing

void BspSpatialSystem::clear() {
  clearBase();
  nodes_.clear();
  leafAreas_.clear();
  areas_.clear();
  portals_.clear();
  portalsRead_ = false;
  declaredAreas_ = 0;
  queryView_ = nullptr;
  queryArea_ = -1;
}

bool BspSpatialSystem::load(const char* name) {
  clear();
  setName(name, ".bsp");
  IOData* data = g_ioSystem ? g_ioSystem->loadFile(name_.c_str()) : nullptr;
  if (!data && g_ioSystem)
    data = g_ioSystem->loadFile(name_.c_str(), true);
  if (!data)
    return false;
  std::string text(data->buffer ? data->buffer : "", size_t(data->length));
  g_ioSystem->freeFile(data);
  std::string keep = name_;
  bool ok = loadText(text.c_str());
  name_ = keep;
  return ok;
}

bool BspSpatialSystem::readAreaPortals(TokenParser& parser) {
  int numPortals = 0;
  // An area costs no text of its own here, but a real map spends far more than a byte on each.
  if (!worldReadCount(parser, declaredAreas_, 1) || !worldReadCount(parser, numPortals, 6))
    return false;
  portalsRead_ = true;
  portals_.reserve(size_t(numPortals));
  for (int i = 0; i < numPortals; ++i) {
    AreaPortal p;
    int numPoints = 0;
    if (!worldReadInt(parser, numPoints) || !worldReadInt(parser, p.areas[0]) || !worldReadInt(parser, p.areas[1]))
      return false;
    numPoints = numPoints < 1 ? 0 : (numPoints > 63 ? 64 : numPoints);
    for (int j = 0; j < numPoints; ++j) {
      float v[3];
      if (!worldReadFloats(parser, v, 3))
        return false;
      p.polygon.points[j] = Vec3(v[0], v[1], v[2]);
    }
    p.polygon.numPoints = numPoints;
    if (numPoints >= 3)
      p.plane = p.polygon.plane();
    p.bounds.clear();
    p.polygon.addToBounds(p.bounds);
    portals_.push_back(p);
  }
  return true;
}

bool BspSpatialSystem::readLeafs(TokenParser& parser) {
  int count = 0;
  if (!worldReadCount(parser, count, 3))
    return false;
  leafAreas_.assign(size_t(count), -1);
  for (int i = 0; i < count; ++i)
    if (!parser.expectToken("{", true, "world", __LINE__) || !worldReadInt(parser, leafAreas_[size_t(i)]) ||
        !parser.expectToken("}", true, "world", __LINE__))
      return false;
  return true;
}

bool BspSpatialSystem::readNodes(TokenParser& parser) {
  int count = 0;
  if (!worldReadCount(parser, count, 12))
    return false;
  nodes_.assign(size_t(count), BspNode());
  for (BspNode& n : nodes_) {
    float v[4];
    if (!worldReadFloats(parser, v, 4) || !worldReadInt(parser, n.children[0]) || !worldReadInt(parser, n.children[1]))
      return false;
    n.plane = Plane(v[0], v[1], v[2], v[3]);
  }
  return true;
}

bool BspSpatialSystem::validate() {
  const int numAreas = int(areas_.size());
  for (size_t i = 0; i < portals_.size(); ++i)
    for (int a : portals_[i].areas)
      if (a < 0 || a >= numAreas) {
        cmdPrintf("ERROR: Syntax Error: portal %d names area %d of %d\n", int(i), a, numAreas);
        return false;
      }
  for (size_t i = 0; i < leafAreas_.size(); ++i)
    if (leafAreas_[i] < -1 || leafAreas_[i] >= numAreas) {
      cmdPrintf("ERROR: Syntax Error: leaf %d names area %d of %d\n", int(i), leafAreas_[i], numAreas);
      return false;
    }
  // Every node but the root is some node's child exactly once: no cycles, no shared subtrees.
  std::vector<uint8_t> seen(nodes_.size(), 0);
  for (size_t i = 0; i < nodes_.size(); ++i)
    for (int c : nodes_[i].children) {
      if (c < 0 && size_t(~c) >= leafAreas_.size()) {
        cmdPrintf("ERROR: Syntax Error: node %d names leaf %d of %d\n", int(i), ~c, int(leafAreas_.size()));
        return false;
      }
      if (c > 0 && (size_t(c) >= nodes_.size() || seen[size_t(c)]++)) {
        cmdPrintf("ERROR: Syntax Error: node %d child %d is outside the tree or shared\n", int(i), c);
        return false;
      }
    }
  // With single parents, a cycle would leave some node unreachable from the root.
  std::vector<int> stack;
  size_t reached = 0;
  if (!nodes_.empty())
    stack.push_back(0);
  while (!stack.empty()) {
    int n = stack.back();
    stack.pop_back();
    ++reached;
    for (int c : nodes_[size_t(n)].children)
      if (c > 0)
        stack.push_back(c);
  }
  if (reached != nodes_.size()) {
    cmdPrintf("ERROR: Syntax Error: %d of %d nodes are not below the root\n", int(nodes_.size() - reached),
              int(nodes_.size()));
    return false;
  }
  return true;
}

bool BspSpatialSystem::loadText(const char* text) {
  std::string keep = name_;
  clear();
  name_ = keep;
  TokenParser parser;
  if (!worldPushText(parser, text) || !parser.expectToken("!BSP02", true, "world", __LINE__))
    return false;
  while (const char* t = parser.nextToken(true)) {
    char block[64];
    std::snprintf(block, sizeof(block), "%s", t);
    if (!parser.expectToken("{", true, "world", __LINE__))
      return false;
    bool ok = true;
    if (String::icmp(block, "areaPortals") == 0) {
      if (portalsRead_) {
        worldSyntaxError(parser, "second areaPortals block");
        return false;
      }
      ok = readAreaPortals(parser);
    } else if (String::icmp(block, "model") == 0) {
      ok = readModelBlock(parser, false);
    } else if (String::icmp(block, "shadowModel") == 0) {
      ok = readModelBlock(parser, true);
    } else if (String::icmp(block, "leafs") == 0) {
      ok = readLeafs(parser);
    } else if (String::icmp(block, "nodes") == 0) {
      ok = readNodes(parser);
    } else if (String::icmp(block, "entities") == 0) {
      ok = readEntities(parser);
    } else {
      cmdPrintf("WARNING in BspSpatialSystem::load, invalid token '%s' on line %d\n", block, parser.lineNumber());
    }
    if (!ok || !parser.expectToken("}", true, "world", __LINE__))
      return false;
    worldSetLoadProgress(parser);
  }
  areas_.assign(size_t(declaredAreas_), BspArea());
  if (!validate())
    return false;
  for (size_t i = 0; i < portals_.size(); ++i) {
    areas_[size_t(portals_[i].areas[0])].portals.push_back(int(i));
    if (portals_[i].areas[1] != portals_[i].areas[0])
      areas_[size_t(portals_[i].areas[1])].portals.push_back(int(i));
  }
  finishModels();
  for (size_t n = 0; n < areas_.size(); ++n) {
    char areaName[32];
    std::snprintf(areaName, sizeof(areaName), "_area%d", int(n));
    areas_[n].model = findWorldModelIndex(areaName);
    areas_[n].screenRect.clear();
    if (areas_[n].model >= 0)
      worldBounds_.addBounds(models_[size_t(areas_[n].model)].bounds);
  }
  areaStamps_.assign(areas_.size(), 0u);
  return true;
}

std::string BspSpatialSystem::writeText() const {
  std::string out = "!BSP02\n\n";
  char line[512];
  std::snprintf(line, sizeof(line), "areaPortals { /* numAreas = */ %d /* numAreaPortals = */ %d\n", int(areas_.size()),
                int(portals_.size()));
  out += line;
  out += "// areaPortal format is: numPoints positiveSideArea negativeSideArea ( point) ...\n";
  for (size_t i = 0; i < portals_.size(); ++i) {
    const AreaPortal& p = portals_[i];
    std::snprintf(line, sizeof(line), "/* ap %d */ %d %d %d ", int(i), p.polygon.numPoints, p.areas[0], p.areas[1]);
    out += line;
    for (int j = 0; j < p.polygon.numPoints; ++j) {
      appendFloats(out, &p.polygon.points[j].x, 3);
      out += " ";
    }
    out += "\n";
  }
  out += "}\n";
  // The models the entities name (their own, then the light's mask and prelight volume), then the
  // areas'; each once.
  std::vector<std::string> written;
  auto writeNamed = [&](const std::string& name, bool shadow) {
    if (name.empty())
      return;
    for (const std::string& w : written)
      if (String::icmp(w.c_str(), name.c_str()) == 0)
        return;
    WorldModel m;
    if (!modelForWriting(name.c_str(), shadow, m))
      return;
    written.push_back(name);
    if (shadow)
      writeWorldShadowModel(out, m);
    else
      writeWorldModel(out, m);
  };
  for (const KeyDict* d : entities_) {
    if (!d || d->count() == 0)
      continue;
    const std::string light = d->getString("name", "");
    writeNamed(d->getString("model", ""), false);
    writeNamed("_shadowMask_" + light, false);
    writeNamed("_prelight_" + light, true);
  }
  for (size_t n = 0; n < areas_.size(); ++n)
    writeNamed("_area" + std::to_string(n), false);
  std::snprintf(line, sizeof(line), "\nleafs { /* numLeafs = */ %d\n", int(leafAreas_.size()));
  out += line;
  for (int a : leafAreas_) {
    std::snprintf(line, sizeof(line), "{ /* areaId = */ %d }\n", a);
    out += line;
  }
  out += "}\n";
  std::snprintf(line, sizeof(line), "\nnodes { /* numNodes = */ %d\n", int(nodes_.size()));
  out += line;
  out += "/* node format is: ( planeVector ) positiveChild negativeChild*/\n"
         "/* a child number of 0 is an opaque, solid area*/\n"
         "/* negative child numbers are leafs: (each leaf has an areaId inside it)*/\n\n";
  for (size_t i = 0; i < nodes_.size(); ++i) {
    std::snprintf(line, sizeof(line), "/* node %d */ ", int(i));
    out += line;
    appendFloats(out, &nodes_[i].plane.a, 4);
    std::snprintf(line, sizeof(line), " %d %d\n", nodes_[i].children[0], nodes_[i].children[1]);
    out += line;
  }
  out += "}\n";
  std::snprintf(line, sizeof(line), "\nentities { /* numEntities = */ %d\n", entities_.num());
  out += line;
  for (const KeyDict* d : entities_) {
    out += "{\n";
    // Whole lines: a long value must survive a write and read cycle.
    for (int k = 0; k < d->count(); ++k) {
      if (!*d->valueAt(k))
        continue;
      out += "\"";
      out += quotable(d->keyAt(k));
      out += "\" \"";
      out += quotable(d->valueAt(k));
      out += "\"\n";
    }
    out += "}\n";
  }
  out += "}\n";
  return out;
}

bool BspSpatialSystem::write(const char* name) {
  setName(name, ".bsp");
  FILE* f = std::fopen(name_.c_str(), "wb");
  if (!f)
    return false;
  std::string text = writeText();
  bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  return std::fclose(f) == 0 && ok;
}

// ---------------------------------------------------------------------------------------------
// Point queries

int BspSpatialSystem::pointToArea(const float point[3]) {
  if (nodes_.empty())
    return -1;
  const Vec3 p(point[0], point[1], point[2]);
  int node = 0;
  // The tree was validated at load: each step goes deeper, so the walk ends.
  for (;;) {
    const BspNode& n = nodes_[size_t(node)];
    int child = n.children[n.plane.distance(p) < 0.0f ? 1 : 0];
    if (child == 0)
      return -1;
    if (child < 0)
      return leafAreas_[size_t(~child)];
    node = child;
  }
}

bool BspSpatialSystem::pointInSolid(const Vec3& point) {
  if (nodes_.empty())
    return false;
  // Explicit stack: a point on a plane must be solid on both sides.
  std::vector<int> stack{0};
  while (!stack.empty()) {
    int node = stack.back();
    stack.pop_back();
    const BspNode& n = nodes_[size_t(node)];
    float d = n.plane.distance(point);
    int first = d < 0.0f ? 1 : 0;
    int count = d == 0.0f ? 2 : 1;
    for (int k = 0; k < count; ++k) {
      int child = n.children[count == 2 ? k : first];
      if (child < 0)
        return false;
      if (child > 0)
        stack.push_back(child);
    }
  }
  return true;
}

const WorldModel* BspSpatialSystem::areaWorldModel(int area) const {
  if (area < 0 || area >= int(areas_.size()) || areas_[size_t(area)].model < 0)
    return nullptr;
  return &models_[size_t(areas_[size_t(area)].model)];
}

RenderModel* BspSpatialSystem::getAreaModel(int area) {
  const WorldModel* m = areaWorldModel(area);
  return m ? m->renderModel : nullptr;
}

int BspSpatialSystem::areasInBounds(const Bounds& bounds, int* out, int max) {
  int count = 0;
  for (int i = 0; i < int(areas_.size()) && count < max; ++i) {
    const WorldModel* m = areaWorldModel(i);
    if (m && m->bounds.intersects(bounds))
      out[count++] = i;
  }
  return count;
}

bool BspSpatialSystem::boundsTouchAreaList(const int* areas, int count, const Bounds& bounds) {
  for (int i = 0; i < count; ++i) {
    const WorldModel* m = areaWorldModel(areas[i]);
    if (m && m->bounds.intersects(bounds))
      return true;
  }
  return false;
}

bool BspSpatialSystem::boundsTouchAreaMask(const AreaBitArray& bits, const Bounds& bounds) {
  for (int i = 0; i < bits.numBits && i < int(areas_.size()); ++i)
    if (bits.test(i) && boundsTouchAreaList(&i, 1, bounds))
      return true;
  return false;
}

int BspSpatialSystem::findPortal(const Bounds& bounds) {
  for (size_t i = 0; i < portals_.size(); ++i)
    if (portals_[i].bounds.intersects(bounds))
      return int(i) + 1;
  return 0;
}

void BspSpatialSystem::setPortalState(int portal, int bits) {
  if (portal > 0 && portal <= int(portals_.size()))
    portals_[size_t(portal - 1)].blockingBits = uint16_t(bits & 0xFFFF);
}

int BspSpatialSystem::getPortalState(int portal) {
  if (portal <= 0 || portal > int(portals_.size()))
    return -1;
  return portals_[size_t(portal - 1)].blockingBits;
}

Bounds& BspSpatialSystem::getAreaScreenRect(Bounds& out, int area) {
  if (area >= 0 && area < int(areas_.size()))
    out = areas_[size_t(area)].screenRect;
  else
    out.clear();
  return out;
}

// ---------------------------------------------------------------------------------------------
// Connected areas (explicit stack)

static void floodConnected(const std::vector<BspArea>& areas, const std::vector<AreaPortal>& portals, int start,
                           int target, AreaBitArray& bits, int mask) {
  const int n = int(areas.size());
  std::vector<int> stack{start};
  while (!stack.empty()) {
    int a = stack.back();
    stack.pop_back();
    if (a < 0 || a >= n || a >= bits.numBits || (a >> 3) >= bits.bytes.num())
      continue;
    if (target >= 0 && target < n && bits.test(target))
      return;
    if (bits.test(a))
      continue;
    bits.bytes[a >> 3] |= uint8_t(1 << (a & 7));
    for (int pi : areas[size_t(a)].portals) {
      const AreaPortal& p = portals[size_t(pi)];
      if ((p.blockingBits & mask & 0xFFFF) == 0)
        stack.push_back(p.areas[0] == a ? p.areas[1] : p.areas[0]);
    }
  }
}

void BspSpatialSystem::getConnectedAreas(AreaBitArray& bits, int mask, const Vec3& point) {
  // The caller's bytes must hold its bit count: both are checked before anything is written.
  if (bits.numBits < getNumAreas() || bits.bytes.num() < (getNumAreas() + 7) >> 3) {
    if (g_cmdSystem)
      g_cmdSystem->error(
          1, "connectedAreas.size() < getNumAreas(), be sure to resize before calling getConnectedAreas()\n");
    return;
  }
  int area = pointToArea(&point.x);
  for (uint8_t& b : bits.bytes)
    b = 0;
  floodConnected(areas_, portals_, area, -1, bits, mask);
}

bool BspSpatialSystem::areasConnected(int a, int b, int mask) {
  if (b < 0 || b >= getNumAreas())
    return false;
  AreaBitArray bits;
  bits.resize(getNumAreas());
  floodConnected(areas_, portals_, a, b, bits, mask);
  return bits.test(b);
}

// ---------------------------------------------------------------------------------------------
// Portal floods

void BspSpatialSystem::resetPortalDebug() {
  if (r_showPortals.getInt())
    for (AreaPortal& p : portals_)
      p.debugState = 1;
}

bool BspSpatialSystem::visit(const Frame* frame, int area) {
  if (visitor_ == 0) {
    if (outCount_ >= outMax_)
      return true;
    // Per-query stamps keep the list unique in constant time.
    if (frame && areaStamps_[size_t(area)] == stamp_)
      return true;
    areaStamps_[size_t(area)] = stamp_;
    outAreas_[outCount_++] = area;
    return true;
  }
  if (rectAccumulation_ && frame && queryView_) {
    Bounds rect;
    if (projectWindingBounds(rect, frame->polygon, *queryView_)) {
      rect.mins.z = 0.0f;
      rect.maxs.z = 1.0f;
      areas_[size_t(area)].screenRect.addBounds(rect);
    }
  }
  if (!outSurfaces_)
    return true;
  int mi = areas_[size_t(area)].model;
  if (mi < 0)
    return true;
  const WorldModel& m = models_[size_t(mi)];
  std::vector<unsigned>& stamps = surfaceStamps_[size_t(mi)];
  const float eps = zNear();
  for (size_t s = 0; s < m.surfaces.size(); ++s) {
    const Bounds& b = m.surfaces[s].bounds;
    if (!queryBounds_.isCleared() && !b.intersects(queryBounds_))
      continue;
    bool ok = true;
    if (frame && frame->numPlanes)
      ok = b.insidePlanes(frame->planes, frame->numPlanes, eps);
    else if (queryView_)
      ok = b.insidePlanes(queryView_->frustum, 6, eps);
    if (ok && stamps[s] != stamp_) {
      stamps[s] = stamp_;
      outSurfaces_->append(&drawSurfaces_[size_t(mi)][s]);
    }
  }
  return true;
}

bool projectWindingBounds(Bounds& out, const ConvexPolygon& polygon, const SpatialView& view) {
  float m[16];
  for (int c = 0; c < 4; ++c)
    for (int r = 0; r < 4; ++r) {
      float v = 0.0f;
      for (int k = 0; k < 4; ++k)
        v += view.projection[k * 4 + r] * view.modelView[c * 4 + k];
      m[c * 4 + r] = v;
    }
  out.clear();
  ConvexPolygon w = polygon;
  w.clipInPlace(view.frustum + 1, 5);
  if (w.numPoints == 0)
    return false;
  for (int i = 0; i < w.numPoints; ++i) {
    const Vec3& p = w.points[i];
    float o[4];
    for (int r = 0; r < 4; ++r)
      o[r] = m[r] * p.x + m[4 + r] * p.y + m[8 + r] * p.z + m[12 + r];
    if (o[3] > 0.0f) {
      o[0] /= o[3];
      o[1] /= o[3];
      o[2] /= o[3];
    } else {
      o[0] = o[0] < 0.0f ? -1.0f : 1.0f;
      o[1] = o[1] < 0.0f ? -1.0f : 1.0f;
      o[2] = 0.0f;
    }
    out.addPoint(Vec3(o[0], o[1], o[2]));
  }
  out = out.expanded(0.002f);
  for (int k = 0; k < 2; ++k)
    for (int a = 0; a < 3; ++a) {
      float v = out[k][a];
      if (a < 2)
        v = v * 0.5f + 0.5f;
      out[k][a] = v < 0.0f ? 0.0f : (v > 1.0f ? 1.0f : v);
    }
  return true;
}

// Floods from the frame's area; with visibleBox returns true once the box is seen.
bool BspSpatialSystem::floodAreaFrom(Frame& start, const Bounds* visibleBox) {
  const float eps = zNear();
  const bool boxQuery = !queryBounds_.isCleared();
  const Plane rootPlane = start.plane;
  stack_.clear();
  stack_.push_back(start);
  bool entered = true;
  bool found = false;
  while (!stack_.empty() && !found) {
    Frame& f = stack_.back();
    if (entered) {
      entered = false;
      bool stop = f.area < 0 || f.area >= int(areas_.size());
      if (!stop && boxQuery) {
        Bounds pb;
        pb.clear();
        f.polygon.addToBounds(pb);
        stop = !queryBounds_.intersects(pb);
      }
      if (!stop && visibleBox) {
        const WorldModel* m = areaWorldModel(f.area);
        if (m && m->bounds.intersects(*visibleBox) &&
            (f.numPlanes ? visibleBox->insidePlanes(f.planes, f.numPlanes, eps)
                         : (!queryView_ || visibleBox->insidePlanes(queryView_->frustum, 6, eps)))) {
          found = true;
          break;
        }
      } else if (!stop) {
        visit(&f, f.area);
      }
      if (stop)
        f.nextPortal = kDone;
    }
    const int numPortals = f.nextPortal == kDone ? 0 : int(areas_[size_t(f.area)].portals.size());
    if (f.nextPortal >= numPortals || int(stack_.size()) >= kMaxFloodDepth) {
      if (f.enteredPortal >= 0) {
        portals_[size_t(f.enteredPortal)].debugState = 3;
        portals_[size_t(f.enteredPortal)].inFlood = false;
      }
      stack_.pop_back();
      continue;
    }
    int pi = areas_[size_t(f.area)].portals[size_t(f.nextPortal++)];
    AreaPortal& p = portals_[size_t(pi)];
    auto cull = [&p] {
      if (p.debugState == 1)
        p.debugState = 2;
    };
    if (!boxQuery && ((p.blockingBits & 1) || p.inFlood))
      continue;
    if (p.inFlood)
      continue;  // never re-enter a portal on the current path
    if (f.numPlanes) {
      if (!p.bounds.insidePlanes(f.planes, f.numPlanes, eps)) {
        cull();
        continue;
      }
    } else if (queryView_ && !p.bounds.insidePlanes(queryView_->frustum, 6, eps)) {
      cull();
      continue;
    }
    Plane pl = p.areas[0] == f.area ? -p.plane : p.plane;
    if (pl.distance(queryPoint_) >= 0.0f) {
      cull();
      continue;
    }
    Frame child;
    p.polygon.split(&child.polygon, nullptr, rootPlane, 0.001f);
    if (child.polygon.numPoints == 0) {
      cull();
      continue;
    }
    if (f.numPlanes) {
      child.polygon.clipInPlace(f.planes, f.numPlanes);
      if (child.polygon.numPoints == 0) {
        cull();
        continue;
      }
    } else if (queryView_) {
      child.polygon.clipInPlace(queryView_->frustum + 1, 5);
    }
    child.area = p.areas[0] == f.area ? p.areas[1] : p.areas[0];
    child.numPlanes = child.polygon.pyramidPlanes(queryPoint_, child.planes, 16, eps);
    child.enteredPortal = pi;
    p.inFlood = true;
    stack_.push_back(child);
    entered = true;
  }
  // Leave no portal marked when the search stopped early.
  for (Frame& f : stack_)
    if (f.enteredPortal >= 0)
      portals_[size_t(f.enteredPortal)].inFlood = false;
  stack_.clear();
  return found;
}

void BspSpatialSystem::floodFromPortal(int pi) {
  AreaPortal& p = portals_[size_t(pi)];
  Frame f;
  f.plane = p.areas[0] == queryArea_ ? -p.plane : p.plane;
  f.area = p.areas[0] == queryArea_ ? p.areas[1] : p.areas[0];
  f.polygon = p.polygon;
  if (queryView_) {
    if (f.polygon.numPoints == 0)
      return;
    f.polygon.clipInPlace(queryView_->frustum + 1, 5);
  }
  if (f.polygon.numPoints == 0)
    return;
  // The pyramid comes out facing the same way whichever side of the portal the point is on.
  f.numPlanes = f.polygon.pyramidPlanes(queryPoint_, f.planes, 16, zNear());
  if (f.plane.distance(queryPoint_) > 0.0f)
    return;
  p.inFlood = true;
  f.enteredPortal = pi;
  floodAreaFrom(f, visibleBox_);
  p.inFlood = false;
  p.debugState = 3;
}

void BspSpatialSystem::collectSingleOrAll(const AreaBitArray* mask) {
  int single = r_singlearea.getInt();
  int n = single < int(areas_.size()) - 1 ? single : int(areas_.size()) - 1;
  if (n < 0 || single < 0) {
    for (int i = 0; i < int(areas_.size()); ++i)
      if (!mask || mask->numBits == 0 || mask->test(i))
        visit(nullptr, i);
  } else {
    queryArea_ = n;
    if (!mask || mask->numBits == 0 || mask->test(n))
      visit(nullptr, n);
  }
}

int BspSpatialSystem::areasVisibleFromView(const SpatialView* view, int* out, int max) {
  // Without a view the flood would start from the last query's (perhaps gone) view.
  if (!view)
    return 0;
  visitor_ = 0;
  outAreas_ = out;
  outMax_ = max;
  outCount_ = 0;
  outSurfaces_ = nullptr;
  ++stamp_;
  AreaBitArray all;
  viewFlood(view, all);
  return outCount_;
}

void BspSpatialSystem::surfacesVisibleFromView(SurfaceList* list, const SpatialView* view,
                                               const AreaBitArray& mask) {
  if (list)
    list->clear();
  if (!view)
    return;
  visitor_ = 1;
  outSurfaces_ = list;
  ++stamp_;
  viewFlood(view, mask);
}

void BspSpatialSystem::viewFlood(const SpatialView* view, const AreaBitArray& mask) {
  if (view) {
    queryView_ = view;
    queryPoint_ = view->origin;
    queryArea_ = pointToArea(&queryPoint_.x);
    queryBounds_.clear();
  }
  visibleBox_ = nullptr;
  resetPortalDebug();
  if (queryArea_ < 0 || r_singlearea.getInt() >= 0) {
    collectSingleOrAll(visitor_ == 1 ? &mask : nullptr);
  } else {
    visit(nullptr, queryArea_);
    const float eps = zNear();
    for (int pi : areas_[size_t(queryArea_)].portals) {
      AreaPortal& p = portals_[size_t(pi)];
      if (p.blockingBits & 1)
        continue;
      Vec3 grow(std::fabs(p.plane.a) * eps, std::fabs(p.plane.b) * eps, std::fabs(p.plane.c) * eps);
      Bounds b = p.bounds.expandedBy(grow);
      if (!queryView_ || b.insidePlanes(queryView_->frustum, 6, 0.0f))
        floodFromPortal(pi);
    }
  }
  queryView_ = nullptr;
  queryArea_ = -1;
  visitor_ = 0;
  outSurfaces_ = nullptr;
}

int BspSpatialSystem::areasVisibleFromPoint(const Vec3& point, const Bounds& bounds, int* out, int max) {
  queryView_ = nullptr;
  queryPoint_ = point;
  queryArea_ = pointToArea(&point.x);
  queryBounds_ = bounds;
  visibleBox_ = nullptr;
  resetPortalDebug();
  int result = 0;
  if (queryArea_ >= 0 && r_singlearea.getInt() < 0) {
    visitor_ = 0;
    outAreas_ = out;
    outMax_ = max;
    outCount_ = 0;
    ++stamp_;
    visit(nullptr, queryArea_);
    for (int pi : areas_[size_t(queryArea_)].portals) {
      if (outCount_ >= max)
        break;
      floodFromPortal(pi);
    }
    result = outCount_;
  } else {
    result = areasInBounds(bounds, out, max);
  }
  queryArea_ = -1;
  return result;
}

void BspSpatialSystem::surfacesVisibleFromPoint(SurfaceList& list, const Vec3& point, const Bounds& bounds) {
  queryView_ = nullptr;
  queryPoint_ = point;
  queryArea_ = pointToArea(&point.x);
  queryBounds_ = bounds;
  visibleBox_ = nullptr;
  resetPortalDebug();
  list.clear();
  visitor_ = 1;
  outSurfaces_ = &list;
  ++stamp_;
  if (queryArea_ < 0 || r_singlearea.getInt() >= 0) {
    collectSingleOrAll(nullptr);
  } else {
    visit(nullptr, queryArea_);
    for (int pi : areas_[size_t(queryArea_)].portals)
      floodFromPortal(pi);
  }
  visitor_ = 0;
  outSurfaces_ = nullptr;
  queryArea_ = -1;
}

void BspSpatialSystem::surfacesInBounds(SurfaceList& list, const Bounds& bounds) {
  list.clear();
  queryBounds_ = bounds;
  queryView_ = nullptr;
  queryArea_ = -1;
  visitor_ = 1;
  outSurfaces_ = &list;
  ++stamp_;
  for (int i = 0; i < int(areas_.size()); ++i) {
    const WorldModel* m = areaWorldModel(i);
    if (m && m->bounds.intersects(bounds))
      visit(nullptr, i);
  }
  visitor_ = 0;
  outSurfaces_ = nullptr;
}

bool BspSpatialSystem::isBoundsVisibleFromView(const SpatialView* view, const Bounds& box) {
  if (!view)
    return false;
  queryView_ = view;
  queryPoint_ = view->origin;
  queryArea_ = pointToArea(&queryPoint_.x);
  queryBounds_.clear();
  const float eps = zNear();
  if (queryArea_ < 0) {
    queryView_ = nullptr;
    return box.insidePlanes(view->frustum, 6, eps);
  }
  const WorldModel* m = areaWorldModel(queryArea_);
  if (m && m->bounds.intersects(box))
    return true;
  resetPortalDebug();
  visibleBox_ = &box;
  bool seen = false;
  for (int pi : areas_[size_t(queryArea_)].portals) {
    AreaPortal& p = portals_[size_t(pi)];
    Frame f;
    f.plane = p.areas[0] == queryArea_ ? -p.plane : p.plane;
    f.area = p.areas[0] == queryArea_ ? p.areas[1] : p.areas[0];
    f.polygon = p.polygon;
    f.polygon.clipInPlace(view->frustum + 1, 5);
    if (f.polygon.numPoints == 0)
      continue;
    f.numPlanes = f.polygon.pyramidPlanes(queryPoint_, f.planes, 16, eps);
    if (f.plane.distance(queryPoint_) > 0.0f)
      continue;
    p.inFlood = true;
    f.enteredPortal = pi;
    seen = floodAreaFrom(f, &box);
    p.inFlood = false;
    if (seen)
      break;
  }
  visibleBox_ = nullptr;
  queryView_ = nullptr;
  queryArea_ = -1;
  return seen;
}

bool BspSpatialSystem::viewSeesAnyArea(const int* areas, int count, const SpatialView* view) {
  int buffer[128];
  int n = areasVisibleFromView(view, buffer, 128);
  return areaListsIntersect(areas, count, buffer, n);
}

void BspSpatialSystem::computeAreaScreenRects(const SpatialView* view) {
  for (BspArea& a : areas_)
    a.screenRect.clear();
  if (!view)
    return;
  rectAccumulation_ = true;
  if (view) {
    rectView_ = *view;
    hasRectView_ = true;
  }
  AreaBitArray none;
  surfacesVisibleFromView(nullptr, view, none);
  rectAccumulation_ = false;
}

void BspSpatialSystem::drawDebug() {
  drawLightGrid();
  if (!r_showPortals.getInt() || !g_renderSystem)
    return;
  static const float kCulled[4] = {1.0f, 0.2f, 0.2f, 1.0f};
  static const float kPassed[4] = {0.2f, 1.0f, 0.2f, 1.0f};
  for (const AreaPortal& p : portals_) {
    if (p.debugState == 2 || p.debugState == 3)
      g_renderSystem->debugPolygon(p.debugState == 2 ? kCulled : kPassed, p.polygon, Vec3(), Mat3::identity(), false,
                                   1000, false);
  }
  if (r_showPortals.getInt() <= 1 || !hasRectView_)
    return;
  // Screen rectangles back into the world through the inverse of the view that made them.
  Mat4 toWorld;
  for (int c = 0; c < 4; ++c)
    for (int r = 0; r < 4; ++r) {
      float v = 0.0f;
      for (int k = 0; k < 4; ++k)
        v += rectView_.projection[k * 4 + r] * rectView_.modelView[c * 4 + k];
      toWorld.m[c * 4 + r] = v;
    }
  if (!toWorld.inverse())
    return;
  static const float kArea[4] = {0.6f, 0.0f, 0.6f, 1.0f};
  for (const BspArea& a : areas_) {
    if (a.screenRect.isCleared())
      continue;
    const float xs[4] = {a.screenRect.mins.x, a.screenRect.maxs.x, a.screenRect.maxs.x, a.screenRect.mins.x};
    const float ys[4] = {a.screenRect.mins.y, a.screenRect.mins.y, a.screenRect.maxs.y, a.screenRect.maxs.y};
    ConvexPolygon rect;
    rect.numPoints = 4;
    for (int i = 0; i < 4; ++i)
      rect.points[i] = toWorld.projectPoint(Vec3(xs[i] * 2.0f - 1.0f, ys[i] * 2.0f - 1.0f, 0.001f));
    g_renderSystem->debugPolygon(kArea, rect, Vec3(), Mat3::identity(), false, 1000, false);
  }
}
