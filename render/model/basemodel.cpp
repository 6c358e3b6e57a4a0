// BaseModel: the static mesh, its text format, back sides, shadow edges and geometry, bounds,
// instance copies and the default box.
//
// Sections: life and surfaces, the text mesh format, back sides and shadows, queries, copies.
#include "render/model/basemodel.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "lib/interface/cmdsystem.h"
#include "lib/interface/renderentity.h"
#include "lib/interface/spatialsystem.h"
#include "lib/matrix.h"
#include "lib/tokenparser.h"
#include "render/material/material.h"
#include "render/model/geometryedges.h"
#include "render/model/modelmaterial.h"

namespace {

constexpr int kMaxInstanceJoints = 4096;

void copyGeometryHalf(SurfaceGeometry* dst, const SurfaceGeometry* src) {
  if (src->verts && dst->verts)
    std::memcpy(dst->verts, src->verts, size_t(src->numVerts) * sizeof(DrawVertex));
  if (src->indexes && dst->indexes)
    std::memcpy(dst->indexes, src->indexes, size_t(src->numIndexes) * sizeof(int));
  if (src->edgeOfIndex && dst->edgeOfIndex)
    std::memcpy(dst->edgeOfIndex, src->edgeOfIndex, size_t(src->numIndexes) * sizeof(int));
  if (src->planes && dst->planes)
    std::memcpy(dst->planes, src->planes, size_t(src->numIndexes / 3) * sizeof(Plane));
  dst->bounds = src->bounds;
  dst->tag = src->tag;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Life and surfaces

BaseModel::BaseModel() : geometry_(16), surfaces_(16) {}

BaseModel::~BaseModel() {
  purge();
  geometry_.clear();
  surfaces_.clear();
}

void BaseModel::init(const char* name) {
  while (geometry_.num() > 0)
    freeGeometry(geometry_[geometry_.num() - 1]);
  surfaces_.setNum(0);
  shadowGeometry_ = nullptr;
  name_ = name ? name : "";
  flags_ &= ~(kModelFlagDefault | kModelFlagBackSides);
}

void BaseModel::purge() {
  const String keep = name_;
  init(keep.c_str());
}

void BaseModel::reload() { loadFile(name_.c_str()); }

void BaseModel::uploadSurface(const ModelSurface& surface) {
  SurfaceGeometry* g = surface.geometry;
  if (!g || !g->vertexBuffer || !g->verts || !g_renderInterface)
    return;
  g_renderInterface->uploadVertexBuffer(g->vertexBuffer, g->verts, g->numVerts * int(sizeof(DrawVertex)),
                                        mode_ != kModelGpuBuffers);
}

void BaseModel::addSurface(const ModelSurface& surface) {
  uploadSurface(surface);
  surfaces_.append(surface);
}

ModelSurface* BaseModel::getSurface(int index) {
  if (index < 0 || index >= surfaces_.num())
    return nullptr;
  return &surfaces_[index];
}

void BaseModel::setSurface(int index, const ModelSurface& surface) {
  if (index < 0 || index >= surfaces_.num())
    return;
  surfaces_[index] = surface;
  uploadSurface(surface);
  flags_ &= ~kModelFlagBackSides;
}

SurfaceGeometry* BaseModel::allocGeometry(int numVerts, int numIndexes) {
  return allocGeometryForMode(numVerts, numIndexes, kGeometryVertices | kGeometryIndexes,
                              mode_ == kModelGpuBuffers);
}

SurfaceGeometry* BaseModel::geometryOf(const std::vector<DrawVertex>& verts, const std::vector<int>& indexes) {
  SurfaceGeometry* g = allocGeometry(int(verts.size()), int(indexes.size()));
  if (!g)
    return nullptr;
  if (!verts.empty())
    std::memcpy(g->verts, verts.data(), verts.size() * sizeof(DrawVertex));
  if (!indexes.empty())
    std::memcpy(g->indexes, indexes.data(), indexes.size() * sizeof(int));
  g->bounds.clear();
  for (const DrawVertex& dv : verts)
    g->bounds.addPoint(Vec3(dv.xyz[0], dv.xyz[1], dv.xyz[2]));
  return g;
}

SurfaceGeometry* BaseModel::allocGeometryForMode(int numVerts, int numIndexes, int flags, bool gpuBuffers) {
  if (!g_renderModelSystem)
    return nullptr;
  SurfaceGeometry* g =
      g_renderModelSystem->allocSurfaceGeometry(numVerts, numIndexes, flags | (gpuBuffers ? kGeometryGpuBuffers : 0));
  if (g)
    geometry_.append(g);
  return g;
}

void BaseModel::freeGeometry(SurfaceGeometry* geometry) {
  if (!geometry)
    return;
  for (int i = surfaces_.num() - 1; i >= 0; i--) {
    if (surfaces_[i].geometry == geometry)
      surfaces_.removeIndex(i);
  }
  if (shadowGeometry_ == geometry)
    shadowGeometry_ = nullptr;
  // Only records this model owns go back to the manager.
  if (geometry_.remove(geometry) && g_renderModelSystem)
    g_renderModelSystem->freeSurfaceGeometry(geometry);
}

void BaseModel::setWorldModel(bool world) {
  if (world)
    flags_ |= kModelFlagWorld;
  else
    flags_ &= ~kModelFlagWorld;
}

void BaseModel::uploadVertices(bool force) {
  if (!(flags_ & kModelFlagVertsChanged) && !force)
    return;
  uploadAllSurfaces();
  // The back-side flag stays: clearing it here would let addBackSides double the surfaces.
  flags_ &= ~kModelFlagVertsChanged;
}

void BaseModel::uploadAllSurfaces() {
  for (const ModelSurface& surface : surfaces_)
    uploadSurface(surface);
}

void BaseModel::freeGpuBuffers() {
  if (!g_renderInterface)
    return;
  for (SurfaceGeometry* g : geometry_) {
    g_renderInterface->freeVertexBuffer(&g->vertexBuffer);
    g_renderInterface->freeVertexBuffer(&g->secondBuffer);
    g->secondBufferValid = 0;
  }
}

void BaseModel::sortSurfaces() {
  surfaces_.sort([](const ModelSurface& a, const ModelSurface& b) {
    const int sa = a.material ? a.material->getSort() : 0;
    const int sb = b.material ? b.material->getSort() : 0;
    return sa < sb;
  });
}

// ---------------------------------------------------------------------------------------------
// The text mesh format

namespace {

class MeshReader {
 public:
  MeshReader(TokenParser& parser, const char* modelName) : parser_(parser), name_(modelName) {}

  void refuse(const char* why) {
    cmdPrintf("WARNING: mesh \"%s\" line %d: %s: using the default model\n", name_, parser_.lineNumber(), why);
  }

  // A keyword of a mesh block. A mismatch prints the syntax error and parsing goes on; the end of
  // the file refuses the mesh. (No peeking: a peek measures the rest of the text every time.)
  bool keyword(const char* expected) {
    const char* t = parser_.nextToken(true);
    if (!t) {
      refuse("the file ends inside a mesh block");
      return false;
    }
    if (String::icmp(t, expected) != 0)
      syntaxError(t, expected);
    return true;
  }

  void syntaxError(const char* parsed, const char* expected) {
    if (g_cmdSystem)
      g_cmdSystem->error(0, "Syntax Error: parsed '%s' while expecting '%s'\n", parsed, expected);
    parser_.printErrorReport(name_, parser_.lineNumber());
  }

  static bool isInteger(const char* t) {
    if (*t == '-' || *t == '+')
      t++;
    if (!*t)
      return false;
    for (; *t; t++) {
      if (*t < '0' || *t > '9')
        return false;
    }
    return true;
  }

  // An integer token in 0..max.
  bool count(int max, const char* what, int* out) {
    const char* t = parser_.nextToken(true);
    if (!t) {
      refuse("the file ends inside a mesh block");
      return false;
    }
    if (!isInteger(t)) {
      cmdPrintf("Syntax Error: parsed '%s' while expecting '%s'\n", t, what);
      refuse("a count is not an integer");
      return false;
    }
    const double v = textToDouble(t);
    if (v < 0.0 || v > double(max)) {
      cmdPrintf("WARNING: mesh \"%s\": %s %s is outside 0..%d\n", name_, what, t, max);
      refuse("a count is out of range");
      return false;
    }
    *out = int(v);
    return true;
  }

  // The numbers on the rest of the current line (parentheses skipped); false on a token that is
  // no finite number. At most `max` are kept, the rest counted.
  bool lineNumbers(double* out, int max, int* total) {
    *total = 0;
    while (const char* t = parser_.nextToken(false)) {
      if (t[0] == '(' || t[0] == ')') {
        if (t[1] == '\0')
          continue;
      }
      const char* end = nullptr;
      const double v = textToDouble(t, &end);
      if (!end || *end != '\0' || end == t || !std::isfinite(v) || std::fabs(v) > 3.0e38) {
        cmdPrintf("Syntax Error: parsed '%s' while expecting '%s'\n", t, "a number");
        refuse("a vertex holds something that is no number");
        return false;
      }
      if (*total < max)
        out[*total] = v;
      ++*total;
    }
    return true;
  }

  // Exactly `count` numbers from the current line (parentheses skipped); false when the line
  // ends first or holds something that is no number.
  bool fixedNumbers(double* out, int count) {
    int got = 0;
    while (got < count) {
      const char* t = parser_.nextToken(false);
      if (!t)
        break;
      if ((t[0] == '(' || t[0] == ')') && t[1] == '\0')
        continue;
      const char* end = nullptr;
      const double v = textToDouble(t, &end);
      if (!end || *end != '\0' || end == t) {
        cmdPrintf("Syntax Error: parsed '%s' while expecting '%s'\n", t, "a number");
        refuse("a triangle holds something that is no number");
        return false;
      }
      out[got++] = v;
    }
    if (got < count) {
      cmdPrintf("Syntax Error: parsed '%d' floats while expecting '%d'\n", got, count);
      refuse("a triangle needs three vertex indexes");
      return false;
    }
    parser_.checkToken(")", false);
    return true;
  }

 private:
  TokenParser& parser_;
  const char* name_;
};

uint8_t colorByte(double v) {
  if (!(v > 0.0))
    return 0;
  if (v >= 255.0)
    return 255;
  return uint8_t(v);
}

}  // namespace

bool BaseModel::parseMesh(TokenParser& parser) {
  MeshReader reader(parser, name_.c_str());
  const char* file = name_.c_str();
  if (!parser.expectToken("meshVersion", true, file, parser.lineNumber())) {
    reader.refuse("no \"meshVersion\" at its start");
    return false;
  }
  const char* versionText = parser.nextToken(true);
  if (!versionText || !MeshReader::isInteger(versionText)) {
    reader.refuse("the version is not an integer");
    return false;
  }
  const int version = textToInt(versionText);
  if (!parser.expectToken("numMeshes", true, file, parser.lineNumber()))
    return false;
  int numMeshes = 0;
  if (!reader.count(kMeshMaxMeshes, "numMeshes", &numMeshes))
    return false;

  const int required = version == 1 ? 5 : 8;
  std::vector<DrawVertex> verts;
  std::vector<int> indexes;
  for (int m = 0; m < numMeshes; m++) {
    const char* meshWord = parser.nextToken(true);
    if (!meshWord) {
      reader.refuse("the file ends before every mesh was read");
      return false;
    }
    if (String::icmp(meshWord, "mesh") != 0) {
      reader.syntaxError(meshWord, "mesh");
      return false;
    }
    if (!reader.keyword("{") || !reader.keyword("shader"))
      return false;
    const char* materialName = parser.nextToken(true);
    if (!materialName) {
      reader.refuse("the file ends inside a mesh block");
      return false;
    }
    Material* material = findModelMaterial(materialName);

    int numVerts = 0;
    if (!reader.keyword("numverts") || !reader.count(kMeshMaxVerts, "numverts", &numVerts))
      return false;
    verts.clear();
    // Grown as lines arrive: a huge count with little text behind it costs nothing.
    verts.reserve(size_t(numVerts < 256 ? numVerts : 256));
    for (int v = 0; v < numVerts; v++) {
      if (!reader.keyword("vert"))
        return false;
      double n[12];
      int total = 0;
      if (!reader.lineNumbers(n, 12, &total))
        return false;
      if (total < required) {
        cmdPrintf("Syntax Error: parsed '%d' floats while expecting '%d'\n", total, required);
        reader.refuse("a vertex line is incomplete");
        return false;
      }
      DrawVertex dv = {};
      int at = 0;
      for (int k = 0; k < 3; k++)
        dv.xyz[k] = float(n[at++]);
      if (version != 1) {
        for (int k = 0; k < 3; k++)
          dv.normal[k] = float(n[at++]);
      }
      dv.st[0] = float(n[at++]);
      dv.st[1] = float(n[at++]);
      bool colored = total >= at + 4;
      for (int k = 0; colored && k < 4; k++)
        colored = n[at + k] == std::floor(n[at + k]);
      for (int k = 0; k < 4; k++)
        dv.color[k] = colored ? colorByte(n[at + k]) : 255;
      verts.push_back(dv);
    }

    int numTris = 0;
    if (!reader.keyword("numtris") || !reader.count(kMeshMaxTris, "numtris", &numTris))
      return false;
    indexes.clear();
    indexes.reserve(size_t(numTris < 256 ? numTris : 256) * 3);
    for (int t = 0; t < numTris; t++) {
      if (!reader.keyword("tri"))
        return false;
      double n[3];
      if (!reader.fixedNumbers(n, 3))
        return false;
      for (int k = 0; k < 3; k++) {
        if (n[k] != std::floor(n[k]) || n[k] < 0.0 || n[k] >= double(numVerts)) {
          reader.refuse("a triangle names a vertex outside the mesh");
          return false;
        }
        indexes.push_back(int(n[k]));
      }
    }
    if (!reader.keyword("}"))
      return false;

    SurfaceGeometry* g = geometryOf(verts, indexes);
    if (!g) {
      reader.refuse("no geometry for the mesh");
      return false;
    }
    if (version == 1)
      deriveTangents(g->verts, numVerts, g->indexes, numTris * 3, g->planes, false);
    else
      deriveNormalsAndTangents(g->verts, numVerts, g->indexes, numTris * 3, g->planes, true);
    g->facetsValid = 1;
    addSurface({material, g, -1});
  }
  return true;
}

void BaseModel::loadParsed(TokenParser& parser) {
  parser.setPunctuation("()");
  if (!parseMesh(parser)) {
    makeDefault();
    return;
  }
  addBackSides();
  for (ModelSurface& surface : surfaces_)
    removeCoplanarEdges(surface.geometry);
}

void BaseModel::loadFile(const char* fileName) {
  if (isDefaultModel())
    return;
  if ((flags_ & kModelFlagWorld) && g_spatialSystem) {
    g_spatialSystem->loadModels(fileName, this);
    return;
  }
  purge();
  geometry_.clear();
  surfaces_.clear();
  TokenParser parser;
  if (!fileName || !*fileName || (!parser.loadFile(fileName, false) && !parser.loadFile(fileName, true))) {
    if (g_cmdSystem)
      g_cmdSystem->error(0, "file not found \"%s\"\n", name_.c_str());
    makeDefault();
    return;
  }
  loadParsed(parser);
}

void BaseModel::loadFromText(const char* text) {
  purge();
  TokenParser parser;
  if (!text || !parser.pushText(text)) {
    makeDefault();
    return;
  }
  loadParsed(parser);
}

// ---------------------------------------------------------------------------------------------
// The default box

void BaseModel::makeDefault() {
  init("_default_model");
  flags_ |= kModelFlagDefault;
  SurfaceGeometry* g = allocGeometry(24, 36);
  if (!g)
    return;
  const Bounds box(Vec3(-8.0f, -8.0f, -8.0f), Vec3(8.0f, 8.0f, 8.0f));
  Vec3 corners[8];
  box.toRotatedPoints(corners, Vec3(), Mat3::identity());
  static const int kFaces[6][4] = {{4, 5, 6, 7}, {3, 2, 1, 0}, {7, 6, 2, 3},
                                   {0, 1, 5, 4}, {1, 2, 6, 5}, {3, 0, 4, 7}};
  for (int f = 0; f < 6; f++) {
    for (int k = 0; k < 4; k++) {
      DrawVertex& v = g->verts[f * 4 + k];
      v = DrawVertex{};
      const Vec3& p = corners[kFaces[f][k]];
      v.xyz[0] = p.x;
      v.xyz[1] = p.y;
      v.xyz[2] = p.z;
      v.st[0] = p.x / 16.0f + 0.5f;
      float t = p.y / 16.0f + 0.5f;
      if (std::fabs(t) < 0.001f)
        t = p.z / 16.0f + 0.5f;
      v.st[1] = t;
      std::memset(v.color, 255, sizeof(v.color));
    }
    int* tri = g->indexes + f * 6;
    tri[0] = f * 4;
    tri[1] = f * 4 + 1;
    tri[2] = f * 4 + 2;
    tri[3] = f * 4 + 2;
    tri[4] = f * 4 + 3;
    tri[5] = f * 4;
  }
  deriveTangents(g->verts, 24, g->indexes, 36, g->planes, false);
  g->facetsValid = 1;
  g->bounds = box;
  addSurface({findModelMaterial("white"), g, -1});
}

// ---------------------------------------------------------------------------------------------
// Back sides and shadows

bool BaseModel::materialCastsShadows(Material* material) {
  if (!material)
    return false;
  if (material->getMaterialFlags() & kMaterialForceShadow)
    return true;
  return material->getCull() != kCullNone && material->hasInteractionStages();
}

void BaseModel::buildSurfaceEdges(int surface) {
  ModelSurface* s = getSurface(surface);
  if (s && materialCastsShadows(s->material))
    buildGeometryEdges(s->geometry);
}

void BaseModel::addBackSides() {
  if (flags_ & kModelFlagBackSides)
    return;
  // The surfaces to double, taken first: adding and freeing reorders the surface list.
  std::vector<ModelSurface> twoSided;
  for (const ModelSurface& s : surfaces_) {
    const SurfaceGeometry* g = s.geometry;
    if (!g || !g->verts || !g->indexes || g->numVerts == 0 || g->numIndexes == 0 || !s.material)
      continue;
    ensureModelMaterialLoaded(s.material);
    if (s.material->getCull() == kCullNone && s.material->hasInteractionStages())
      twoSided.push_back(s);
  }
  for (const ModelSurface& s : twoSided) {
    const SurfaceGeometry* old = s.geometry;
    const int n = old->numVerts;
    const int i = old->numIndexes;
    // Twice the counts must still fit one record; such a surface keeps one side.
    SurfaceGeometry* g = allocGeometry(n * 2, i * 2);
    if (!g)
      continue;
    copyGeometryHalf(g, old);
    for (int v = 0; v < n; v++) {
      DrawVertex dv = old->verts[v];
      for (int k = 0; k < 3; k++) {
        dv.tangents[0][k] = -dv.tangents[0][k];
        dv.normal[k] = -dv.normal[k];
      }
      g->verts[n + v] = dv;
    }
    for (int t = 0; t + 2 < i; t += 3) {
      g->indexes[i + t] = old->indexes[t + 2] + n;
      g->indexes[i + t + 1] = old->indexes[t + 1] + n;
      g->indexes[i + t + 2] = old->indexes[t] + n;
    }
    std::memset(g->edgeOfIndex + i, 0, size_t(i) * sizeof(int));
    g->facetsValid = 0;
    addSurface({s.material, g, 0});
    freeGeometry(s.geometry);
  }
  for (int s = 0; s < surfaces_.num(); s++) {
    ensureModelMaterialLoaded(surfaces_[s].material);
    buildSurfaceEdges(s);
  }
  flags_ |= kModelFlagBackSides;
}

SurfaceGeometry* BaseModel::getShadowSurface() {
  if (shadowGeometry_)
    return shadowGeometry_;
  std::vector<const SurfaceGeometry*> casters;
  int totalVerts = 0;
  int totalIndexes = 0;
  for (const ModelSurface& s : surfaces_) {
    const Material* m = s.material;
    const SurfaceGeometry* g = s.geometry;
    if (!m || !g || !g->verts || !g->indexes)
      continue;
    if (m->getMaterialFlags() & kMaterialNoShadows)
      continue;
    if (!(m->getMaterialFlags() & kMaterialForceShadow) && !m->hasInteractionStages())
      continue;
    casters.push_back(g);
    totalVerts += g->numVerts;
    totalIndexes += g->numIndexes;
  }
  if (totalVerts == 0 || totalIndexes == 0)
    return nullptr;
  SurfaceGeometry* shadow = allocGeometry(totalVerts, totalIndexes);
  if (!shadow)
    return nullptr;
  shadow->numVerts = 0;
  shadow->numIndexes = 0;
  shadow->bounds.clear();
  PositionWelder welder(0.001f);
  welder.reserve(totalVerts);
  for (const SurfaceGeometry* g : casters) {
    for (int k = 0; k < g->numIndexes; k++) {
      const int index = g->indexes[k];
      if (index < 0 || index >= g->numVerts)
        continue;
      const DrawVertex& src = g->verts[index];
      const Vec3 p(src.xyz[0], src.xyz[1], src.xyz[2]);
      bool added = false;
      const int welded = welder.add(p, &added);
      if (added) {
        DrawVertex& dv = shadow->verts[shadow->numVerts++];
        dv = DrawVertex{};
        dv.xyz[0] = p.x;
        dv.xyz[1] = p.y;
        dv.xyz[2] = p.z;
        shadow->bounds.addPoint(p);
      }
      shadow->indexes[shadow->numIndexes++] = welded;
    }
  }
  buildGeometryEdges(shadow);
  shadowGeometry_ = shadow;
  return shadow;
}

// ---------------------------------------------------------------------------------------------
// Queries

bool BaseModel::isLoaded() const { return geometry_.num() > 0 && surfaces_.num() > 0; }

int BaseModel::numTriangles() const {
  int tris = 0;
  for (const ModelSurface& s : surfaces_)
    tris += s.geometry ? s.geometry->numIndexes / 3 : 0;
  return tris;
}

int BaseModel::memoryUsed() const {
  int bytes = name_.length() >= 20 ? name_.allocated() : 0;
  bytes += 12 * surfaces_.size() + 112 + 4 * geometry_.size();
  for (const SurfaceGeometry* g : geometry_) {
    bytes += 116 + g->numVerts * int(sizeof(DrawVertex)) + g->numIndexes * 4 * 2 +
             g->numEdges * int(sizeof(GeometryEdge)) + (g->numIndexes / 3) * int(sizeof(Plane));
  }
  return bytes;
}

Bounds& BaseModel::getBounds(Bounds& out, const RenderEntity* entity) const {
  out.clear();
  for (const ModelSurface& s : surfaces_) {
    if (s.geometry)
      out.addBounds(s.geometry->bounds);
  }
  if (entity && !out.isCleared())
    out = Bounds::fromTransformedBounds(out, entity->origin, entity->axis);
  return out;
}

void BaseModel::transformSurfaceVertices(DrawVertex* out, const Mat4* matrices, int, int surface) const {
  if (!out || !matrices || surface < 0 || surface >= surfaces_.num())
    return;
  const SurfaceGeometry* g = surfaces_[surface].geometry;
  if (!g || !g->verts)
    return;
  const Mat4& m = matrices[0];
  for (int v = 0; v < g->numVerts; v++) {
    const DrawVertex& src = g->verts[v];
    DrawVertex& dst = out[v];
    const Vec3 p = m.projectPoint(Vec3(src.xyz[0], src.xyz[1], src.xyz[2]));
    const Vec3 t0 = m.transformVector(Vec3(src.tangents[0][0], src.tangents[0][1], src.tangents[0][2]));
    const Vec3 t1 = m.transformVector(Vec3(src.tangents[1][0], src.tangents[1][1], src.tangents[1][2]));
    const Vec3 n = m.transformVector(Vec3(src.normal[0], src.normal[1], src.normal[2]));
    for (int k = 0; k < 3; k++) {
      dst.xyz[k] = p[k];
      dst.tangents[0][k] = t0[k];
      dst.tangents[1][k] = t1[k];
      dst.normal[k] = n[k];
    }
    dst.st[0] = src.st[0];
    dst.st[1] = src.st[1];
    dst.spare[0] = src.spare[0];
    dst.spare[1] = src.spare[1];
    std::memcpy(dst.color, src.color, sizeof(dst.color));
  }
}

void BaseModel::computeJointMatrices(Mat4* out, const RenderEntity* entity) const {
  if (!out)
    return;
  out[0] = entity ? Mat4::fromMat3(entity->axis, entity->origin) : Mat4::identity();
}

Material* BaseModel::resolveSurfaceMaterial(int surface, Material* custom, const DeclSkin* skin2,
                                            const DeclSkin* skin) const {
  if (surface < 0 || surface >= surfaces_.num())
    return nullptr;
  if (custom)
    return custom;
  if (skin) {
    DeclResource* m = skin->materialAt(surface);
    if (m && m->getState() != kDeclDefaulted && m->getIndex() != 0)
      return modelMaterialFromDecl(m);
  }
  if (skin2) {
    if (DeclResource* m = skin2->materialAt(surface))
      return modelMaterialFromDecl(m);
  }
  return surfaces_[surface].material;
}

// ---------------------------------------------------------------------------------------------
// Copies

BaseModel* BaseModel::createCopy(RenderModel* model) {
  if (!model)
    return nullptr;
  BaseModel* copy = new BaseModel();
  copy->init("MDL_CACHE");
  copy->setMode(kModelGpuBuffers);
  for (int s = 0; s < model->numSurfaces(); s++) {
    const ModelSurface* src = model->getSurface(s);
    const SurfaceGeometry* sg = src->geometry;
    SurfaceGeometry* g = sg ? copy->allocGeometryForMode(sg->numVerts, sg->numIndexes,
                                                         kGeometryVertices | kGeometryIndexes, true)
                            : nullptr;
    if (g) {
      copyGeometryHalf(g, sg);
      g->facetsValid = sg->facetsValid;
      g->closed = sg->closed;
      if (sg->edges && sg->numEdges > 0) {
        g->edges = new GeometryEdge[size_t(sg->numEdges)];
        std::memcpy(g->edges, sg->edges, size_t(sg->numEdges) * sizeof(GeometryEdge));
        g->numEdges = sg->numEdges;
      }
    }
    copy->addSurface({src->material, g, src->id});
  }
  return copy;
}

bool BaseModel::buildInstance(const RenderEntity* entity) {
  if (!entity || !entity->model)
    return false;
  RenderModel* source = entity->model;
  if (!source->isLoaded())
    source->reload();
  if (source->numSurfaces() != surfaces_.num())
    return false;
  for (int s = 0; s < surfaces_.num(); s++) {
    const SurfaceGeometry* a = source->getSurface(s)->geometry;
    const SurfaceGeometry* b = surfaces_[s].geometry;
    if (!a || !b || a->numVerts != b->numVerts || a->numIndexes != b->numIndexes || a->numEdges != b->numEdges)
      return false;
  }
  int numJoints = entity->numJoints < 0 ? 0 : entity->numJoints;
  if (numJoints > kMaxInstanceJoints)
    numJoints = kMaxInstanceJoints;
  // The scratch holds every joint the model's influences can name, whatever the entity supplies;
  // joints the entity leaves out move rigidly with it.
  const int modelJoints = source->numJointPoses();
  int scratch = numJoints > modelJoints ? numJoints : modelJoints;
  if (scratch < 1)
    scratch = 1;
  std::vector<Mat4> matrices(size_t(scratch), Mat4::fromMat3(entity->axis, entity->origin));
  source->computeJointMatrices(matrices.data(), entity);
  if (numJoints > 0)
    numJoints = scratch;
  for (int s = 0; s < surfaces_.num(); s++) {
    ModelSurface& surface = surfaces_[s];
    SurfaceGeometry* g = surface.geometry;
    surface.id = -1;
    surface.material = source->resolveSurfaceMaterial(s, entity->customMaterial, entity->skin2, entity->skin);
    source->transformSurfaceVertices(g->verts, matrices.data(), numJoints, s);
    g->secondBufferValid = 0;
    g->facetsValid = 0;
    g->bounds.clear();
    for (int v = 0; v < g->numVerts; v++)
      g->bounds.addPoint(Vec3(g->verts[v].xyz[0], g->verts[v].xyz[1], g->verts[v].xyz[2]));
    if (g_spatialSystem) {
      int areas[2];
      if (g_spatialSystem->areasInBounds(g->bounds, areas, 2) == 1)
        surface.id = areas[0];
    }
  }
  if (g_surfaceDeform) {
    for (ModelSurface& surface : surfaces_)
      g_surfaceDeform(&surface, entity);
  }
  flags_ |= kModelFlagVertsChanged;
  return true;
}
