// The collision manager: the model list, ".cm" reading and writing, the query entry points and the
// pools of query objects. Builders live in cmbuilders.cpp.
//
// Sections: manager and model list; ".cm" reader; ".cm" writer; queries.
#include "collision/cmmanager.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include "lib/interface/cmdsystem.h"
#include "lib/interface/convarsystem.h"
#include "lib/interface/iosystem.h"
#include "lib/interface/managerfactory.h"
#include "lib/tokenparser.h"

namespace {

// Guards only the taking and returning of query objects; queries themselves run unlocked.
CriticalSection s_queryLock;

bool createManager() {
  createCollisionSystem();
  return true;
}

RegisterManagerFactory s_register(kManagerCollision, createManager, nullptr, destroyCollisionSystem);

}  // namespace

void createCollisionSystem() {
  if (g_collisionManager)
    return;
  g_collisionManager = new CollisionManager;
  g_collisionSystem = g_collisionManager;
}

void destroyCollisionSystem() {
  if (!g_collisionManager)
    return;
  delete g_collisionManager;
  g_collisionManager = nullptr;
  g_collisionSystem = nullptr;
}

// ------------------------------------------------------------------------------------ manager and model list

CollisionManager::CollisionManager() {}

CollisionManager::~CollisionManager() {
  freeModels();
  traceQueries_.shutdown();
  pointQueries_.shutdown();
}

void CollisionManager::freeModels() {
  for (int i = 0; i < models_.num(); i++)
    delete models_[i];
  models_.clear();
}

void CollisionManager::loadMap(const char* mapName, bool) {
  freeModels();
  mapFileName_ = mapName ? mapName : "";
  mapFileName_.setFileExtension(".cm");
  lastFileRead_.clear();
  // A map whose collision file is there but damaged loads, without world collision, and says so.
  loadModelFile("worldMap", nullptr);
  if (models_.num() == 0 && !lastFileRead_.isEmpty())
    cmdPrintf("WARNING: '%s' holds no readable world model: the map has no world collision\n",
              lastFileRead_.c_str());
  cmModel_t* empty = new cmModel_t;
  empty->index = models_.num();
  models_.append(empty);
  TokenParser parser;
  parser.pushText("nodes { 0 } polygons { 0 }");
  parser.setPunctuation("{}");
  parseModelBody(*empty, "empty", parser);
}

int CollisionManager::findOrLoadModel(const char* name) {
  if (!name)
    return 0;
  for (int i = 0; i < models_.num(); i++)
    if (models_[i]->name.icmp(name) == 0)
      return i;
  int index = loadModelFile(name, name);
  if (index > 0)
    return index;
  index = loadModelFile(name, nullptr);
  if (index > 0)
    return index;
  return modelFromRenderModel(name);
}

const char* CollisionManager::modelName(int index) const {
  return index >= 0 && index < models_.num() ? models_[index]->name.c_str() : nullptr;
}

bool CollisionManager::modelBounds(int index, Bounds& out) const {
  if (index < 0 || index >= models_.num()) {
    out.clear();
    return false;
  }
  out = models_[index]->bounds;
  return true;
}

bool CollisionManager::modelContents(int index, int& out) const {
  if (index < 0 || index >= models_.num())
    return false;
  out = models_[index]->contents;
  return true;
}

CollisionModel* CollisionManager::modelByIndex(int index) {
  return model(index);
}

// ------------------------------------------------------------------------------------ ".cm" reader

namespace {

const char* kSource = "collision/cmmanager";

// The file being read, for the messages of the reader ("" for a text in memory).
thread_local const char* t_readingFile = "";

struct ReadingFile {
  explicit ReadingFile(const char* name) : previous(t_readingFile) { t_readingFile = name; }
  ~ReadingFile() { t_readingFile = previous; }
  const char* previous;
};

bool parseError(TokenParser& parser, const char* what) {
  if (*t_readingFile)
    cmdPrintf("ParseError: collision model: %s in '%s' line %d\n", what, t_readingFile, parser.lineNumber());
  else
    cmdPrintf("ParseError: collision model: %s on line %d\n", what, parser.lineNumber());
  return false;
}

// Reads whole tokens as numbers: a token that is not all number, or not finite, fails.
bool readInt(TokenParser& parser, int& out) {
  const char* t = parser.nextToken(true);
  if (!t)
    return parseError(parser, "unexpected end of file");
  const char* end = t + std::strlen(t);
  auto [p, ec] = std::from_chars(t, end, out);
  if (ec == std::errc() && p == end)
    return true;
  return parseError(parser, va("bad integer '%.64s'", t));
}

bool readFloat(TokenParser& parser, float& out) {
  const char* t = parser.nextToken(true);
  if (!t)
    return parseError(parser, "unexpected end of file");
  const char* end = t + std::strlen(t);
  auto [p, ec] = std::from_chars(t, end, out);
  // from_chars reads "nan" and "inf" and refuses what overflows a float ("1e39"): all are refused.
  if (ec == std::errc() && p == end && std::isfinite(out))
    return true;
  return parseError(parser, va("bad number '%.64s'", t));
}

bool readFloats(TokenParser& parser, float* out, int count) {
  for (int i = 0; i < count; i++)
    if (!readFloat(parser, out[i]))
      return false;
  return true;
}

// A record count can never exceed what is left of the text: a huge count fails before allocating.
bool countFits(TokenParser& parser, int count) {
  const char* pos = parser.textPosition();
  const char* startText = parser.textStart();
  const long left = pos && startText ? long(parser.textLength()) - long(pos - startText) : 0;
  return count >= 0 && long(count) <= left + 1;
}

// A name is one token; one holding a double quote could never be written back as one.
bool readMaterial(TokenParser& parser, Material*& out) {
  const char* t = parser.nextToken(true);
  if (!t || std::strchr(t, '"'))
    return parseError(parser, "bad material name");
  out = cm::materials().find(t);
  return true;
}

// Bounded brush: every corner well inside the clipping square of the planes.
bool brushIsBounded(const TraceModel& trm) {
  if (trm.numPolys < 4)
    return false;
  for (int i = 0; i < trm.numVerts; i++)
    for (int k = 0; k < 3; k++)
      if (!(std::fabs(trm.verts[i][k]) < 65536.0f))
        return false;
  return true;
}

}  // namespace

int CollisionManager::loadModelFile(const char* modelName, const char* fileName) {
  if (!modelName)
    return 0;
  String file = fileName ? String(fileName) : mapFileName_;
  if (file.isEmpty())
    return 0;
  file.setFileExtension(".cm");
  String wanted;
  String(modelName).fileBase(wanted);
  TokenParser parser;
  if (!parser.loadFile(file.c_str())) {
    file = String::concatCStr("maps/", file);
    if (!parser.loadFile(file.c_str()))
      return 0;
  }
  lastFileRead_ = file;
  const ReadingFile reading(file.c_str());
  const int index = loadModelText(modelName, wanted.c_str(), parser);
  parser.popText();
  return index;
}

int CollisionManager::loadModelText(const char* modelName, const char* wantedName, TokenParser& parser) {
  parser.setPunctuation("{}");
  if (!parser.expectToken("!CM", true, kSource, 586))
    return 0;
  String a, b;
  if (!parser.readTokenString(a, true))
    return 0;
  while (true) {
    if (!parser.readTokenString(b, true))
      return 0;
    if (!parser.expectToken("{", true, kSource, 594))
      return 0;
    if (a.icmp("collisionModel") != 0 || b.icmp(wantedName) != 0) {
      parser.unreadToken();
      if (!parser.skipBlock(0)) {
        parseError(parser, "unexpected end of file in a model block");
        return 0;
      }
      if (!parser.readTokenString(a, true))
        return 0;
      continue;
    }
    cmModel_t* m = new cmModel_t;
    m->index = models_.num();
    if (!parseModelBody(*m, b.c_str(), parser) || !parser.expectToken("}", true, kSource, 610)) {
      if (*t_readingFile)
        cmdPrintf("WARNING: collision model \"%s\" in '%s' could not be read\n", b.c_str(), t_readingFile);
      delete m;
      return 0;
    }
    m->name = modelName;
    models_.append(m);
    return m->index;
  }
}

bool CollisionManager::parseModelBody(cmModel_t& m, const char* name, TokenParser& parser) {
  m.name = name;
  m.checkCounter = 0;
  if (!parser.expectToken("nodes", true, kSource, 453) || !parser.expectToken("{", true, kSource, 455) ||
      !parseNodes(m, parser) || !parser.expectToken("}", true, kSource, 459))
    return false;
  if (parser.checkToken("polygons", true)) {
    if (!parser.expectToken("{", true, kSource, 465) || !parsePolygons(m, parser) ||
        !parser.expectToken("}", true, kSource, 469))
      return false;
  }
  if (parser.checkToken("brushes", true)) {
    if (!parser.expectToken("{", true, kSource, 476) || !parseBrushes(m, parser) ||
        !parser.expectToken("}", true, kSource, 480))
      return false;
  }
  m.bounds = m.computeBounds(0);
  return m.polygons.num() > 0 || m.brushes.num() > 0;
}

bool CollisionManager::parseNodes(cmModel_t& m, TokenParser& parser) {
  int count;
  if (!readInt(parser, count))
    return false;
  if (!countFits(parser, count))
    return parseError(parser, "bad node count");
  m.nodes.setNum(count);
  int leafCount = 0;
  // Every node but the root hangs from exactly one parent of a lower index: a tree, never a cycle.
  List<int> depth;
  depth.setNum(count);
  for (int i = 0; i < count; i++)
    depth[i] = i == 0 ? 0 : -1;
  for (int i = 0; i < count; i++) {
    CollisionNode& node = m.nodes[i];
    float plane[4];
    if (!readFloats(parser, plane, 4))
      return false;
    node.normal = Vec3(plane[0], plane[1], plane[2]);
    node.dist = plane[3];
    node.axial = -1;
    for (int k = 0; k < 3 && node.axial < 0; k++)
      if (node.normal[k] == 1.0f)
        node.axial = k;
    node.bounds.clear();
    if (!readInt(parser, node.children[0]) || !readInt(parser, node.children[1]))
      return false;
    if (depth[i] < 0)
      return parseError(parser, "node without a parent");
    for (int k = 0; k < 2; k++) {
      const int c = node.children[k];
      if (c > 0) {
        if (c <= i || c >= count || depth[c] >= 0)
          return parseError(parser, "bad node child");
        depth[c] = depth[i] + 1;
        if (depth[c] > 128)
          return parseError(parser, "node tree too deep");
      } else if (c < 0) {
        // Files number their leaves from 0; gaps are allowed but a number far beyond what the
        // nodes can hold would only allocate empty leaves.
        if (c < -(2 * count + 1024))
          return parseError(parser, "bad leaf number");
        leafCount = std::max(leafCount, -c);
      }
    }
  }
  m.leafs.setNum(0);
  for (int i = 0; i < leafCount; i++)
    m.leafs.append(CollisionLeaf());
  return true;
}

bool CollisionManager::parsePolygons(cmModel_t& m, TokenParser& parser) {
  int count;
  if (!readInt(parser, count))
    return false;
  if (!countFits(parser, count))
    return parseError(parser, "bad polygon count");
  if (count > 0 && m.nodes.num() == 0)
    return parseError(parser, "polygons without nodes");
  m.polygons.resize(count);
  for (int i = 0; i < count; i++) {
    int n;
    if (!readInt(parser, n))
      return false;
    if (n < 3 || !countFits(parser, n))
      return parseError(parser, "polygon with fewer than 3 points");
    CollisionPolygon* p = new CollisionPolygon;
    p->checkIndex = m.checkCounter++;
    p->winding.clear();
    for (int k = 0; k < n; k++) {
      float xyz[3];
      if (!readFloats(parser, xyz, 3)) {
        delete p;
        return false;
      }
      if (k < ConvexPolygon::kMaxPoints)
        p->winding.points[p->winding.numPoints++] = Vec3(xyz[0], xyz[1], xyz[2]);
    }
    if (!readMaterial(parser, p->material)) {
      delete p;
      return false;
    }
    m.contents |= cm::materialContents(p->material);
    p->winding.getBounds(p->bounds);
    p->winding.computePlane(p->plane);
    m.polygons.append(p);
    m.insertPolygon(0, p, p->winding, 0);
  }
  return true;
}

bool CollisionManager::parseBrushes(cmModel_t& m, TokenParser& parser) {
  int count;
  if (!readInt(parser, count))
    return false;
  if (!countFits(parser, count))
    return parseError(parser, "bad brush count");
  if (count > 0 && m.nodes.num() == 0)
    return parseError(parser, "brushes without nodes");
  m.brushes.resize(count);
  List<Plane> planes;
  for (int i = 0; i < count; i++) {
    int n;
    if (!readInt(parser, n))
      return false;
    if (n < 4 || n > 256)
      return parseError(parser, "bad brush plane count");
    planes.setNum(n);
    for (int k = 0; k < n; k++) {
      float v[4];
      if (!readFloats(parser, v, 4))
        return false;
      Vec3 normal(v[0], v[1], v[2]);
      const float len = normal.normalize();
      if (len == 0.0f)
        return parseError(parser, "brush plane without a normal");
      planes[k] = Plane(normal, v[3] / len);
    }
    CollisionBrush* brush = new CollisionBrush;
    brush->checkIndex = m.checkCounter++;
    brush->trm.clear(kTrmConvex);
    for (int k = 0; k < n; k++) {
      ConvexPolygon p;
      cm::planePolygon(p, planes[k], planes.ptr(), n);
      if (p.numPoints > 0 && !brush->trm.addPolygon(p)) {
        delete brush;
        return parseError(parser, "brush with too many faces");
      }
    }
    if (!readMaterial(parser, brush->material)) {
      delete brush;
      return false;
    }
    brush->trm.buildEdgeNormals();
    if (!brushIsBounded(brush->trm)) {
      delete brush;
      return parseError(parser, "brush planes do not enclose a volume");
    }
    m.contents |= cm::materialContents(brush->material);
    m.brushes.append(brush);
    m.insertBrush(0, brush, brush->trm, 0);
  }
  return true;
}

// ------------------------------------------------------------------------------------ ".cm" writer

void CollisionManager::modelText(String& out, const cmModel_t& m, const char* name, bool all) const {
  String line;
  line.format("collisionModel \"%s\" {\n\n", name);
  out += line;
  line.format("nodes { /* numNodes = */ %d\n", m.nodes.num());
  out += line;
  for (int i = 0; i < m.nodes.num(); i++) {
    const CollisionNode& n = m.nodes[i];
    const float plane[4] = {n.normal.x, n.normal.y, n.normal.z, n.dist};
    line.format("/* node %d */ %s %d %d\n", i, String::floatArrayToString(plane, 4, 5), n.children[0],
                n.children[1]);
    out += line;
  }
  out += "}\n";
  CollisionMaterialAccess& materials = cm::materials();
  if (m.polygons.num() > 0) {
    line.format("polygons { /* numPolygons = */ %d\n", m.polygons.num());
    out += line;
    for (int i = 0; i < m.polygons.num(); i++) {
      const CollisionPolygon& p = *m.polygons[i];
      line.format("   /* polygon %d */ %d ", i, p.winding.numPoints);
      out += line;
      for (int k = 0; k < p.winding.numPoints; k++) {
        line.format("%s ", String::floatArrayToString(p.winding[k].ptr(), 3, 5));
        out += line;
      }
      line.format("\"%s\"\n", p.material ? materials.name(p.material) : "");
      out += line;
    }
    out += "}\n";
  }
  if (m.brushes.num() > 0) {
    line.format("brushes { /* numBrushes = */ %d\n", m.brushes.num());
    out += line;
    for (int i = 0; i < m.brushes.num(); i++) {
      const CollisionBrush& b = *m.brushes[i];
      line.format("   /* brush %d */ %d ", i, b.trm.numPolys);
      out += line;
      for (int k = 0; k < b.trm.numPolys; k++) {
        const Plane& pl = b.trm.polys[k].plane;
        const float v[4] = {pl.a, pl.b, pl.c, pl.d};
        line.format("%s ", String::floatArrayToString(v, 4, 5));
        out += line;
      }
      line.format("\"%s\"\n", b.material ? materials.name(b.material) : "");
      out += line;
    }
    out += "}\n";
  }
  out += all ? "}\n\n" : "}\n";
}

bool CollisionManager::writeText(const char* fileName, const String& text) {
  if (!g_ioSystem || !fileName || !*fileName)
    return false;
  // Content names only: no way out of the game's tree.
  if (std::strstr(fileName, "..") || fileName[0] == '/' || fileName[0] == '\\') {
    cmdPrintf("WARNING: refusing to write the collision model file \"%s\"\n", fileName);
    return false;
  }
  const char* basePath = g_conVarSystem ? g_conVarSystem->getString("fs_basepath") : "";
  const char* path = g_ioSystem->buildOSPath(basePath, nullptr, fileName);
  IOFileHandle file = path ? g_ioSystem->openFileWrite(path) : 0;
  if (!file)
    return false;
  g_ioSystem->write(text.c_str(), text.length(), file);
  g_ioSystem->closeFile(file);
  return true;
}

void CollisionManager::writeModelFile(const char* fileName, int index) {
  if (index < 0 || index >= models_.num() || !fileName)
    return;
  String base;
  String(fileName).fileBase(base);
  String text = "!CM\n";
  modelText(text, *models_[index], base.c_str(), false);
  writeText(fileName, text);
}

void CollisionManager::writeAllModels(const char* fileName) {
  String text = "!CM\n\n";
  for (int i = models_.num() - 1; i >= 0; i--) {
    if (i == 1 || models_[i]->name.cmp("empty") == 0)
      continue;
    modelText(text, *models_[i], models_[i]->name.c_str(), true);
  }
  writeText(fileName, text);
}

// ------------------------------------------------------------------------------------ queries

CollisionModelQueryInterface* CollisionManager::allocQuery(int traceModelType) {
  s_queryLock.lock();
  CollisionModelQueryInterface* q;
  if (traceModelType == kTrmPoint)
    q = pointQueries_.alloc();
  else
    q = traceQueries_.alloc();
  s_queryLock.unlock();
  q->testBackFaces = testBackFaces_ != 0;
  return q;
}

void CollisionManager::freeQuery(CollisionModelQueryInterface* query) {
  if (!query)
    return;
  s_queryLock.lock();
  if (query->traceModelType() == kTrmPoint)
    pointQueries_.free(static_cast<CollisionModelPointQuery*>(query));
  else
    traceQueries_.free(static_cast<CollisionModelTraceModelQuery*>(query));
  s_queryLock.unlock();
}

namespace {

void clearTraceResult(TraceResult& r, const Vec3& end, const Mat3& axis) {
  std::memset(static_cast<void*>(&r), 0, sizeof(r));
  r.fraction = 1.0f;
  r.endPos = end;
  r.endAxis = axis;
}

bool isPointShape(const TraceModel* trm) {
  return !trm || trm->type == kTrmPoint;
}

}  // namespace

void CollisionManager::translation(TraceResult* result, const Vec3& start, const Vec3& end,
                                   const TraceModel* trm, const Mat3& trmAxis, int contentMask,
                                   int modelIndex, const Vec3& modelOrigin, const Mat3& modelAxis) {
  cmModel_t* m = model(modelIndex);
  if (!m)
    return;
  TraceResult local;
  if (!result)
    result = &local;
  clearTraceResult(*result, end, trmAxis);
  CollisionModelQueryInterface* q = allocQuery(isPointShape(trm) ? kTrmPoint : kTrmBox);
  if (q->trace(start, end, isPointShape(trm) ? nullptr : trm, trmAxis, contentMask, m, modelOrigin,
               modelAxis))
    *result = q->result;
  freeQuery(q);
}

void CollisionManager::rotation(TraceResult* result, const Vec3& start, const Rotation& rot,
                                const TraceModel* trm, const Mat3& trmAxis, int contentMask, int modelIndex,
                                const Vec3& modelOrigin, const Mat3& modelAxis) {
  TraceResult local;
  if (!result)
    result = &local;
  clearTraceResult(*result, start, trmAxis);
  if (!trm)
    return;
  // A model that does not exist cannot block the turn: it is free, like any turn that meets nothing.
  if (!model(modelIndex)) {
    result->endAxis = cleanAxis(trmAxis * rot.toMat3(), true);
    return;
  }
  TraceModel grown = *trm;
  grown.expand(-0.03125f);
  const Mat3 full = cleanAxis(trmAxis * rot.toMat3(), true);
  TraceResult temp;
  clearTraceResult(temp, start, full);
  translation(&temp, start, start, &grown, full, contentMask, modelIndex, modelOrigin, modelAxis);
  if (temp.fraction != 1.0f) {
    result->endPos = temp.endPos;
    result->endAxis = temp.endAxis;
    result->contact = temp.contact;
    result->fraction = 0.0f;
  }
  result->endAxis = cleanAxis(trmAxis * rot.scaled(result->fraction).toMat3(), true);
}

int CollisionManager::contents(const Vec3& start, const TraceModel* trm, const Mat3& trmAxis, int contentMask,
                               int modelIndex, const Vec3& modelOrigin, const Mat3& modelAxis) {
  cmModel_t* m = model(modelIndex);
  if (!m)
    return 0;
  CollisionModelQueryInterface* q = allocQuery(isPointShape(trm) ? kTrmPoint : kTrmBox);
  const int c = q->contents(start, isPointShape(trm) ? nullptr : trm, trmAxis, contentMask, m, modelOrigin,
                            modelAxis, modelIndex == 0);
  freeQuery(q);
  return c;
}

int CollisionManager::contacts(ContactInfo* out, int maxContacts, const Vec3& start, const float delta[6],
                               float depth, const TraceModel* trm, const Mat3& trmAxis, int contentMask,
                               int modelIndex, const Vec3& modelOrigin, const Mat3& modelAxis) {
  cmModel_t* m = model(modelIndex);
  if (!m || !trm || !out || maxContacts <= 0)
    return 0;
  // A point has no faces to clip a primitive with: it touches nothing.
  if (trm->type == kTrmPoint)
    return 0;
  CollisionModelQueryInterface* base = allocQuery(trm->type);
  auto* q = static_cast<CollisionModelTraceModelQuery*>(base);
  const int gathered =
      q->gatherPrimitives(start, delta, trm, trmAxis, contentMask, m, modelOrigin, modelAxis);
  int count = 0;
  if (gathered > 0) {
    const Vec3 size = trm->bounds.maxs - trm->bounds.mins;
    const float mergeDistance = 0.25f * std::min(size.x, std::min(size.y, size.z));
    TraceModel placed;
    ConvexPolygon clipped;
    for (int i = 0; i < q->primitives.num() && count < maxContacts; i++) {
      const ClipShape& shape = *q->primitives[i];
      TraceResult r;
      std::memset(static_cast<void*>(&r), 0, sizeof(r));
      if (!q->sweepPrimitive(r, shape))
        continue;
      q->placeAtFraction(placed, r.fraction);
      if (!CollisionModelQueryInterface::clipTraceModel(clipped, shape, placed, std::max(depth, 0.03125f)))
        continue;
      for (int k = 0; k < clipped.numPoints && count < maxContacts; k++) {
        bool merged = false;
        for (int c = 0; c < count && !merged; c++)
          merged = out[c].point.compare(clipped[k], mergeDistance);
        if (merged)
          continue;
        ContactInfo& ci = out[count++];
        ci = r.contact;
        ci.point = clipped[k];
      }
    }
    for (int c = 0; c < count; c++) {
      Vec3 n = modelAxis.transform(out[c].normal);
      n.normalize();
      out[c].normal = n;
      out[c].dist += n.dot(modelOrigin);
      out[c].point = modelAxis.transform(out[c].point) + modelOrigin;
    }
  }
  freeQuery(base);
  return count;
}

void CollisionManager::debugDrawModel(int modelIndex, const Vec3& modelOrigin, const Mat3& modelAxis,
                                      const Vec3& viewOrigin, float radius) {
  cmModel_t* m = model(modelIndex);
  if (!m)
    return;
  Bounds box;
  Vec3 at;
  if (radius == 0.0f && viewOrigin == Vec3()) {
    box = m->bounds;
    box.toSphereBox();
    at = modelOrigin;
  } else {
    box = Bounds(Vec3(-radius, -radius, -radius), Vec3(radius, radius, radius));
    at = viewOrigin;
  }
  TraceModel trm;
  trm.setupBox(box);
  CollisionModelQueryInterface* q = allocQuery(kTrmBox);
  const float still[6] = {0, 0, 0, 0, 0, 0};
  const int gathered = q->gatherPrimitives(at, still, &trm, Mat3::identity(), -1, m, modelOrigin, modelAxis);
  bool depthTest = false;
  if (g_conVarSystem) {
    if (ConVar* v = g_conVarSystem->find("g_renderClipModels"))
      depthTest = v->getInt() >= 2;
  }
  if (gathered > 0 && g_collisionDebugDraw) {
    const Vec4 red(1, 0, 0, 1), green(0, 1, 0, 1), magenta(1, 0, 1, 1);
    ConvexPolygon face;
    for (int i = 0; i < q->primitives.num(); i++) {
      const ClipShape& shape = *q->primitives[i];
      if (shape.type == kClipShapePolygon) {
        g_collisionDebugDraw->polygon(modelIndex == 0 ? red : green, shape.polygon->winding, modelOrigin,
                                      modelAxis, 0, depthTest);
      } else if (shape.type == kClipShapeBrush) {
        for (int f = 0; f < shape.brush->trm.numPolys; f++) {
          shape.brush->trm.getPolygon(f, face);
          g_collisionDebugDraw->polygon(modelIndex == 0 ? red : magenta, face, modelOrigin, modelAxis, 0,
                                        depthTest);
        }
      }
    }
  }
  freeQuery(q);
}
