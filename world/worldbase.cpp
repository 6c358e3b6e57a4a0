#include "world/worldbase.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "lib/fastmath.h"
#include "lib/interface/cmdsystem.h"
#include "lib/interface/convarsystem.h"
#include "lib/interface/iosystem.h"
#include "lib/interface/renderinterface.h"
#include "lib/interface/rendermodelsystem.h"
#include "lib/interface/rendersystem.h"
#include "lib/interface/texmanager.h"
#include "lib/keydict.h"
#include "lib/str.h"
#include "lib/tokenparser.h"
#include "render/material/material.h"

// The engine core declares the same variables; both declarations share one registered value, so
// flags and texts match its own.
ConVar r_singlearea("r_singlearea", "-1", 0x2012, "renders a single area by index");
ConVar r_showPortals("r_showPortals", "0", 0x2011, "render area portals");
ConVar r_showgridlight("r_showgridlight", "0", 0x2011);
ConVar r_zNearWorld("r_zNear", "3", 0x14, "camera near clipping plane");

namespace {

struct ByteReader {
  const uint8_t* data;
  size_t size;
  size_t pos = 0;
  bool tag(const char* expected) {
    if (size - pos < 4)
      return false;
    char got[5] = {};
    std::memcpy(got, data + pos, 4);
    pos += 4;
    for (int i = 0; i < 4; ++i)
      if (got[i] == '\0')
        got[i] = '?';
    if (String::icmpn(got, expected, 4) != 0) {
      cmdPrintf("invalid tag '%s', expected '%s'...\n", got, expected);
      return false;
    }
    return true;
  }
  bool i32(int& out) {
    if (size - pos < 4)
      return false;
    out = int(uint32_t(data[pos]) | uint32_t(data[pos + 1]) << 8 | uint32_t(data[pos + 2]) << 16 |
              uint32_t(data[pos + 3]) << 24);
    pos += 4;
    return true;
  }
};

}  // namespace

bool parseLightmapFile(const uint8_t* data, size_t size, LightmapFile& out, const char* name) {
  out = LightmapFile();
  ByteReader r{data, size};
  if (!r.tag("!LMF")) {
    cmdPrintf("ERROR: invalid header for '%s'\n", name);
    return false;
  }
  if (!r.tag("GRID"))
    return false;
  int gridSize = 0, v[9];
  if (!r.i32(gridSize))
    return false;
  for (int& x : v)
    if (!r.i32(x))
      return false;
  // The grid must be exactly its counts' cells, with cell sizes that can be inverted.
  int64_t cellBytes = int64_t(gridSize) - 36;
  int64_t cells = 1;
  for (int a = 0; a < 3; ++a) {
    if (v[6 + a] < 0 || v[3 + a] == 0) {
      cmdPrintf("ERROR: bad light grid in '%s'\n", name);
      return false;
    }
    cells *= v[6 + a];
    if (cells > (int64_t(1) << 28))
      break;
  }
  if (gridSize < 36 || cells * 8 != cellBytes || uint64_t(cellBytes) > size - r.pos) {
    cmdPrintf("ERROR: bad light grid size in '%s'\n", name);
    return false;
  }
  out.cells.assign(data + r.pos, data + r.pos + cellBytes);
  r.pos += size_t(cellBytes);
  out.origin = Vec3(float(v[0]), float(v[1]), float(v[2]));
  out.invCellSize = Vec3(1.0f / float(v[3]), 1.0f / float(v[4]), 1.0f / float(v[5]));
  for (int a = 0; a < 3; ++a)
    out.counts[a] = v[6 + a];
  if (!r.tag("LMAP"))
    return false;
  int reserved = 0;
  if (!r.i32(out.numLightmaps) || !r.i32(out.size) || !r.i32(out.bytesPerPixel) || !r.i32(reserved))
    return false;
  if (out.numLightmaps < 0 || out.size < 0 || (out.bytesPerPixel != 3 && out.bytesPerPixel != 4) ||
      out.size > 8192) {
    cmdPrintf("ERROR: bad lightmap header in '%s'\n", name);
    return false;
  }
  uint64_t bytes = uint64_t(out.numLightmaps) * uint64_t(out.size) * uint64_t(out.size) * uint64_t(out.bytesPerPixel);
  if (bytes > size - r.pos) {
    cmdPrintf("ERROR: '%s' is shorter than its lightmaps\n", name);
    return false;
  }
  out.pixels.assign(data + r.pos, data + r.pos + bytes);
  out.hasMaps = true;
  return true;
}

void sampleGrid(const LightmapFile& grid, const Vec3& point, Vec3& ambient, Vec3& directed, Vec3& direction) {
  int cell[3];
  float frac[3];
  for (int a = 0; a < 3; ++a) {
    float v = (point[a] - grid.origin[a]) * grid.invCellSize[a];
    float f = std::floor(v);
    frac[a] = v - f;
    if (!(f > 0.0f))
      cell[a] = 0;
    else if (f >= float(grid.counts[a] - 1))
      cell[a] = grid.counts[a] - 1 < 0 ? 0 : grid.counts[a] - 1;
    else
      cell[a] = int(f);
  }
  ambient = directed = direction = Vec3(0, 0, 0);
  if (grid.cells.empty())
    return;
  float total = 0.0f;
  for (int k = 0; k < 8; ++k) {
    int c[3];
    for (int a = 0; a < 3; ++a) {
      c[a] = cell[a] + ((k >> a) & 1);
      // A corner beyond the last cell reads the last cell.
      if (c[a] > grid.counts[a] - 1)
        c[a] = grid.counts[a] - 1;
    }
    size_t index = (size_t(c[2]) * size_t(grid.counts[1]) * size_t(grid.counts[0]) +
                    size_t(c[1]) * size_t(grid.counts[0]) + size_t(c[0])) * 8;
    if (index + 8 > grid.cells.size())
      continue;
    const uint8_t* b = &grid.cells[index];
    if (b[0] == 0 && b[1] == 0 && b[2] == 0)
      continue;
    float w = ((k & 4) ? frac[2] : 1 - frac[2]) * ((k & 2) ? frac[1] : 1 - frac[1]) * ((k & 1) ? frac[0] : 1 - frac[0]);
    total += w;
    if (w != 0.0f) {
      const float s = 0.003921569f;
      ambient += Vec3(b[0], b[1], b[2]) * (w * s);
      directed += Vec3(b[3], b[4], b[5]) * (w * s);
      direction += decodePackedNormal(uint16_t(b[6] | b[7] << 8)) * w;
    }
  }
  if (total > 0.0f && total < 0.99f) {
    ambient *= 1.0f / total;
    directed *= 1.0f / total;
  }
  float len = direction.length();
  if (len > 0.0f)
    direction *= 1.0f / len;
}

bool worldPushText(TokenParser& parser, const char* text) {
  if (!text || !parser.pushText(text))
    return false;
  parser.setPunctuation(",{}();");
  return true;
}

WorldBase::WorldBase() {
  worldBounds_.clear();
}

WorldBase::~WorldBase() {
  clearBase();
  freeLightmaps();
}

void WorldBase::setName(const char* name, const char* extension) {
  name_ = name ? name : "";
  size_t slash = name_.find_last_of('/');
  size_t dot = name_.find_last_of('.');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash))
    name_.resize(dot);
  name_ += extension;
}

std::string WorldBase::nameWithExtension(const char* extension) const {
  std::string n = name_;
  size_t slash = n.find_last_of('/');
  size_t dot = n.find_last_of('.');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash))
    n.resize(dot);
  return n + extension;
}

void WorldBase::clearBase() {
  for (KeyDict* d : entities_)
    delete d;
  entities_.clear();
  // The render models belong to the render-model manager (the map unload frees them).
  models_.clear();
  modelIndex_.clear();
  drawSurfaces_.clear();
  surfaceStamps_.clear();
  worldBounds_.clear();
}

const WorldModel* WorldBase::findWorldModel(const char* name) const {
  int i = findWorldModelIndex(name);
  return i < 0 ? nullptr : &models_[size_t(i)];
}

static std::string lowered(const char* name) {
  std::string s = name ? name : "";
  for (char& c : s)
    c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

int WorldBase::findWorldModelIndex(const char* name) const {
  if (modelIndex_.empty()) {
    for (size_t i = models_.size(); i-- > 0;)  // the first of equal names wins
      if (!models_[i].shadow)
        modelIndex_[lowered(models_[i].name.c_str())] = int(i);
  }
  auto it = modelIndex_.find(lowered(name));
  return it == modelIndex_.end() ? -1 : it->second;
}

bool WorldBase::readModelBlock(TokenParser& parser, bool shadow) {
  WorldModel model;
  if (!(shadow ? parseWorldShadowModel(parser, model) : parseWorldModel(parser, model)))
    return false;
  models_.push_back(std::move(model));
  modelIndex_.clear();
  return true;
}

bool WorldBase::readEntities(TokenParser& parser) {
  int count = 0;
  if (!worldReadCount(parser, count, 2))
    return false;
  for (int i = 0; i < count; ++i) {
    if (!parser.expectToken("{", true, "world", __LINE__))
      return false;
    KeyDict* dict = new KeyDict;
    if (!dict->parse(parser)) {
      delete dict;
      return false;
    }
    entities_.append(dict);
  }
  return true;
}

void WorldBase::finishModels() {
  drawSurfaces_.resize(models_.size());
  surfaceStamps_.resize(models_.size());
  for (size_t i = 0; i < models_.size(); ++i) {
    WorldModel& m = models_[i];
    if (g_worldModelSink)
      m.renderModel = g_worldModelSink->addModel(m);
    std::vector<ModelSurface>& out = drawSurfaces_[i];
    out.resize(m.surfaces.size());
    for (size_t s = 0; s < m.surfaces.size(); ++s) {
      out[s].id = m.surfaces[s].id;
      if (m.renderModel && int(s) < m.renderModel->numSurfaces())
        out[s] = *m.renderModel->getSurface(int(s));
    }
    surfaceStamps_[i].assign(m.surfaces.size(), 0u);
  }
}

bool WorldBase::modelForWriting(const char* name, bool shadow, WorldModel& out) const {
  out = WorldModel();
  if (!g_renderModelSystem) {
    // Tools without the renderer write what the world read.
    for (const WorldModel& m : models_)
      if (m.shadow == shadow && String::icmp(m.name.c_str(), name) == 0) {
        out = m;
        return true;
      }
    return false;
  }
  RenderModel* model = g_renderModelSystem->findModel(name);
  if (!model || model->isDefaultModel() || model->numSurfaces() == 0)
    return false;
  out.name = model->name();
  out.shadow = shadow;
  if (shadow) {
    const SurfaceGeometry* g = model->getSurface(0)->geometry;
    if (!g || !g->shadowVerts || !g->shadowIndexes)
      return false;
    for (int v = 0; v < g->numShadowVerts; ++v)
      for (int k = 0; k < 3; ++k)
        out.shadowPoints.push_back(g->shadowVerts[v * 4 + k]);
    for (int i = 0; i < g->numShadowIndexes; ++i)
      if (g->shadowIndexes[i] >= 0 && g->shadowIndexes[i] < g->numShadowVerts)
        out.shadowIndexes.push_back(g->shadowIndexes[i]);
    out.shadowIndexes.resize(out.shadowIndexes.size() / 3 * 3);
    out.noCaps = g->noCaps;
    out.noFrontCaps = g->noFrontCaps;
    out.planeBits = g->planeBits;
    return true;
  }
  for (int s = 0; s < model->numSurfaces(); ++s) {
    const ModelSurface* surface = model->getSurface(s);
    const SurfaceGeometry* g = surface->geometry;
    if (!g || !g->verts || !g->indexes)
      continue;
    WorldSurface ws;
    const Material* material = surface->material;
    ws.material = material ? material->getName() : "";
    ws.lightmap = g->lightmap;
    int numVerts = g->numVerts;
    int numIndexes = g->numIndexes;
    // A two-sided lit surface carries its back side in its second half: the map holds one side.
    if (material && material->getCull() == kCullNone && material->hasInteractionStages()) {
      numVerts /= 2;
      numIndexes /= 2;
    }
    for (int v = 0; v < numVerts; ++v) {
      const DrawVertex& dv = g->verts[v];
      const float f[10] = {dv.xyz[0],   dv.xyz[1],   dv.xyz[2],    dv.st[0],     dv.st[1],
                           dv.spare[0], dv.spare[1], dv.normal[0], dv.normal[1], dv.normal[2]};
      ws.verts.insert(ws.verts.end(), f, f + 10);
    }
    for (int i = 0; i < numIndexes; ++i)
      if (g->indexes[i] >= 0 && g->indexes[i] < numVerts)
        ws.indexes.push_back(g->indexes[i]);
    ws.indexes.resize(ws.indexes.size() / 3 * 3);
    out.surfaces.push_back(std::move(ws));
  }
  return true;
}

int WorldBase::readModelFromFile(const WorldModel& wanted, WorldModel& out) {
  if (!g_ioSystem || name_.empty())
    return 0;
  IOData* data = g_ioSystem->loadFile(name_.c_str());
  if (!data)
    return 0;
  std::string text(data->buffer ? data->buffer : "", size_t(data->length));
  g_ioSystem->freeFile(data);
  TokenParser parser;
  if (!worldPushText(parser, text.c_str()) || !parser.expectToken(getFileId(), true, "world", __LINE__))
    return -1;
  while (const char* t = parser.nextToken(true)) {
    char block[64];
    std::snprintf(block, sizeof(block), "%s", t);
    if (!parser.expectToken("{", true, "world", __LINE__))
      return -1;
    const bool model = String::icmp(block, "model") == 0;
    const bool shadow = String::icmp(block, "shadowModel") == 0;
    if (!model && !shadow) {
      if (!parser.skipBlock(1))
        return -1;
      continue;
    }
    WorldModel read;
    if (!(shadow ? parseWorldShadowModel(parser, read) : parseWorldModel(parser, read)) ||
        !parser.expectToken("}", true, "world", __LINE__))
      return -1;
    if (shadow == wanted.shadow && String::icmp(read.name.c_str(), wanted.name.c_str()) == 0) {
      out = std::move(read);
      return 1;
    }
  }
  return 0;
}

bool WorldBase::loadModels(const char* /*fileName*/, RenderModel* model) {
  if (!model || !g_worldModelSink)
    return false;
  for (size_t i = 0; i < models_.size(); ++i) {
    WorldModel& m = models_[i];
    if (m.renderModel != model)
      continue;
    // The block of that name is read again from the map file, so an edited file shows; without
    // the file (or the block) the world's own copy stands.
    WorldModel fresh;
    const int found = readModelFromFile(m, fresh);
    if (found < 0)
      return false;
    if (found > 0) {
      fresh.renderModel = model;
      m = std::move(fresh);
      modelIndex_.clear();
    }
    if (!g_worldModelSink->refillModel(model, m))
      return false;
    // The surfaces the queries hand out follow the new geometry.
    std::vector<ModelSurface>& out = drawSurfaces_[i];
    out.assign(m.surfaces.size(), ModelSurface());
    surfaceStamps_[i].assign(m.surfaces.size(), 0u);
    for (size_t s = 0; s < out.size(); ++s) {
      out[s].id = m.surfaces[s].id;
      if (int(s) < model->numSurfaces())
        out[s] = *model->getSurface(int(s));
    }
    return true;
  }
  return false;
}

bool WorldBase::freeLightmaps() {
  if (g_texManager)
    for (ImageInterface* image : lightmaps_)
      if (image)
        g_texManager->releaseImage(image);
  lightmaps_.clear();
  grid_ = LightmapFile();
  return true;
}

bool WorldBase::loadLightmaps() {
  freeLightmaps();
  if (name_.empty())
    return false;
  std::string lmf = nameWithExtension(".lmf");
  IOData* data = g_ioSystem ? g_ioSystem->loadFile(lmf.c_str()) : nullptr;
  if (!data) {
    cmdPrintf("no lightmaps located in '%s'\n", lmf.c_str());
    return false;
  }
  bool ok = parseLightmapFile(reinterpret_cast<const uint8_t*>(data->buffer), size_t(data->length), grid_,
                              lmf.c_str());
  g_ioSystem->freeFile(data);
  if (!ok || !grid_.hasMaps)
    return false;
  const size_t bytes = size_t(grid_.size) * size_t(grid_.size) * size_t(grid_.bytesPerPixel);
  lightmaps_.assign(size_t(grid_.numLightmaps), nullptr);
  ImageInfo info{};
  info.width = info.height = grid_.size;
  info.pixelFormat = grid_.bytesPerPixel == 4 ? kPixelFormatRGBA : kPixelFormatRGB;
  info.textureType = kTextureType2D;
  info.quality = 99;
  for (int j = 0; j < grid_.numLightmaps && g_texManager; ++j) {
    char imageName[32];
    std::snprintf(imageName, sizeof(imageName), "_lmap_%d", j);
    lightmaps_[size_t(j)] =
        g_texManager->createImageFromPixels(imageName, &info, 0x844, grid_.pixels.data() + bytes * size_t(j));
  }
  grid_.pixels.clear();
  grid_.pixels.shrink_to_fit();
  cmdPrintf("loaded %d lightmaps of %dx%d and a %dx%dx%d light grid from '%s'\n", grid_.numLightmaps, grid_.size,
            grid_.size, grid_.counts[0], grid_.counts[1], grid_.counts[2], lmf.c_str());
  return true;
}

bool WorldBase::bindLightmap(int n) {
  if (n < 0 || n >= int(lightmaps_.size()) || !lightmaps_[size_t(n)])
    return false;
  return lightmaps_[size_t(n)]->bind();
}

void WorldBase::sampleLightGrid(const Vec3& point, Vec3& ambient, Vec3& directed, Vec3& direction) {
  sampleGrid(grid_, point, ambient, directed, direction);
}

void WorldBase::drawLightGrid() {
  if (!r_showgridlight.getInt() || !g_renderSystem || grid_.cells.empty())
    return;
  float view[3];
  g_renderSystem->viewOrigin(view);
  const Bounds near = Bounds::fromSize(512.0f).translated(Vec3(view[0], view[1], view[2]));
  const Bounds marker = Bounds::fromSize(3.0f);
  const Vec3 cell(grid_.invCellSize.x != 0.0f ? 1.0f / grid_.invCellSize.x : 0.0f,
                  grid_.invCellSize.y != 0.0f ? 1.0f / grid_.invCellSize.y : 0.0f,
                  grid_.invCellSize.z != 0.0f ? 1.0f / grid_.invCellSize.z : 0.0f);
  for (int z = 0; z < grid_.counts[2]; ++z)
    for (int y = 0; y < grid_.counts[1]; ++y)
      for (int x = 0; x < grid_.counts[0]; ++x) {
        const Vec3 p = grid_.origin + Vec3(float(x) * cell.x, float(y) * cell.y, float(z) * cell.z);
        if (!near.containsPoint(p))
          continue;
        Vec3 ambient, directed, direction;
        sampleLightGrid(p, ambient, directed, direction);
        const float arrowColor[4] = {directed.x, directed.y, directed.z, 1.0f};
        g_renderSystem->debugArrow(arrowColor, p, p + direction * 8.0f, 3, 0, true);
        const float boxColor[4] = {ambient.x, ambient.y, ambient.z, 1.0f};
        g_renderSystem->debugBounds(boxColor, marker, p, false, 0, true);
      }
}
