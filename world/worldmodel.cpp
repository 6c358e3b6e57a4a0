#include "world/worldmodel.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "lib/interface/cmdsystem.h"
#include "lib/interface/commonsystem.h"
#include "lib/interface/userinterfacesystem.h"
#include "lib/str.h"
#include "lib/tokenparser.h"

void worldSyntaxError(TokenParser& parser, const char* what) {
  cmdPrintf("ERROR: Syntax Error: %s on line %d\n", what, parser.lineNumber());
}

void worldSetLoadProgress(TokenParser& parser) {
  if (!g_activeGui || !g_commonSystem)
    return;
  const char* pos = parser.textPosition();
  const char* start = parser.textStart();
  const int length = parser.textLength();
  if (!pos || !start || length <= 0)
    return;
  // The world's parse fills the first quarter of the bar; the entity pass the rest.
  g_activeGui->setStateFloat("map_loading", float(pos - start) / float(length) * 0.25f);
  g_commonSystem->updateLoading();
}

bool worldReadInt(TokenParser& parser, int& out) {
  const char* t = parser.nextToken(true);
  if (!t) {
    worldSyntaxError(parser, "expected an integer, found end of text");
    return false;
  }
  errno = 0;
  char* end = nullptr;
  long v = std::strtol(t, &end, 10);
  if (end == t || *end || errno || v < -2147483647L - 1 || v > 2147483647L) {
    char msg[96];
    std::snprintf(msg, sizeof(msg), "expected an integer, found '%.40s'", t);
    worldSyntaxError(parser, msg);
    return false;
  }
  out = int(v);
  return true;
}

static bool readFloatToken(TokenParser& parser, float& out) {
  const char* t = parser.nextToken(true);
  if (!t) {
    worldSyntaxError(parser, "expected a number, found end of text");
    return false;
  }
  char* end = nullptr;
  double v = std::strtod(t, &end);
  if (end == t || *end) {
    char msg[96];
    std::snprintf(msg, sizeof(msg), "expected a number, found '%.40s'", t);
    worldSyntaxError(parser, msg);
    return false;
  }
  out = float(v);
  return true;
}

bool worldReadFloats(TokenParser& parser, float* out, int count) {
  const char* t = parser.nextToken(true);
  if (!t) {
    worldSyntaxError(parser, "expected a number group, found end of text");
    return false;
  }
  bool paren = std::strcmp(t, "(") == 0;
  if (!paren)
    parser.unreadToken();
  for (int i = 0; i < count; ++i)
    if (!readFloatToken(parser, out[i]))
      return false;
  if (paren && !parser.expectToken(")", true, "world", __LINE__))
    return false;
  return true;
}

bool worldReadCount(TokenParser& parser, int& out, int minChars) {
  if (!worldReadInt(parser, out))
    return false;
  const char* pos = parser.textPosition();
  const char* start = parser.textStart();
  long left = pos && start ? long(parser.textLength()) - long(pos - start) : 0;
  if (out < 0 || out > kMaxWorldCount || long(out) * minChars > left + minChars) {
    char msg[96];
    std::snprintf(msg, sizeof(msg), "count %d out of range", out);
    worldSyntaxError(parser, msg);
    return false;
  }
  return true;
}

static bool readName(TokenParser& parser, std::string& out) {
  const char* t = parser.nextToken(true);
  if (!t) {
    worldSyntaxError(parser, "expected a name, found end of text");
    return false;
  }
  out = t;
  return true;
}

static bool readIndexes(TokenParser& parser, std::vector<int>& out, int count, int numVerts) {
  out.resize(size_t(count));
  for (int i = 0; i < count; ++i) {
    if (!worldReadInt(parser, out[size_t(i)]))
      return false;
    if (out[size_t(i)] < 0 || out[size_t(i)] >= numVerts) {
      char msg[96];
      std::snprintf(msg, sizeof(msg), "index %d outside %d vertices", out[size_t(i)], numVerts);
      worldSyntaxError(parser, msg);
      return false;
    }
  }
  return true;
}

bool parseWorldModel(TokenParser& parser, WorldModel& model) {
  model = WorldModel();
  int numSurfaces = 0;
  if (!readName(parser, model.name) || !worldReadCount(parser, numSurfaces, 4))
    return false;
  int areaId = -1;
  if (String::icmpn(model.name.c_str(), "_area", 5) == 0)
    areaId = std::atoi(model.name.c_str() + 5);
  model.surfaces.reserve(size_t(numSurfaces));
  for (int s = 0; s < numSurfaces; ++s) {
    if (!parser.expectToken("{", true, "world", __LINE__))
      return false;
    WorldSurface surf;
    int numVerts = 0, numIndexes = 0;
    if (!readName(parser, surf.material) || !worldReadCount(parser, numVerts, 20) ||
        !worldReadCount(parser, numIndexes, 2) || !worldReadInt(parser, surf.lightmap))
      return false;
    surf.verts.resize(size_t(numVerts) * 10);
    for (int v = 0; v < numVerts; ++v) {
      float* p = &surf.verts[size_t(v) * 10];
      if (!worldReadFloats(parser, p, 3) || !worldReadFloats(parser, p + 3, 2) ||
          !worldReadFloats(parser, p + 5, 2) || !worldReadFloats(parser, p + 7, 3))
        return false;
      surf.bounds.addPoint(Vec3(p[0], p[1], p[2]));
    }
    if (!readIndexes(parser, surf.indexes, numIndexes, numVerts))
      return false;
    if (!parser.expectToken("}", true, "world", __LINE__))
      return false;
    surf.id = areaId;
    model.bounds.addBounds(surf.bounds);
    model.surfaces.push_back(std::move(surf));
    worldSetLoadProgress(parser);
  }
  return true;
}

bool parseWorldShadowModel(TokenParser& parser, WorldModel& model) {
  model = WorldModel();
  model.shadow = true;
  int numVerts = 0, numIndexes = 0;
  if (!readName(parser, model.name) || !worldReadCount(parser, numVerts, 6) ||
      !worldReadInt(parser, model.noCaps) || !worldReadInt(parser, model.noFrontCaps) ||
      !worldReadCount(parser, numIndexes, 2) || !worldReadInt(parser, model.planeBits))
    return false;
  model.shadowPoints.resize(size_t(numVerts) * 3);
  for (int v = 0; v < numVerts; ++v) {
    float* p = &model.shadowPoints[size_t(v) * 3];
    if (!worldReadFloats(parser, p, 3))
      return false;
    model.bounds.addPoint(Vec3(p[0], p[1], p[2]));
  }
  worldSetLoadProgress(parser);
  return readIndexes(parser, model.shadowIndexes, numIndexes, numVerts);
}

void appendFloats(std::string& out, const float* values, int count) {
  out += String::floatArrayToString(values, count, 5);
}

std::string quotable(const char* text) {
  std::string s = text ? text : "";
  for (char& c : s)
    if (c == '"')
      c = '\'';
  return s;
}

void writeWorldModel(std::string& out, const WorldModel& model) {
  if (model.surfaces.empty())
    return;
  char line[512];
  out += "\nmodel { /* name = */ \"" + quotable(model.name.c_str()) + "\"";
  std::snprintf(line, sizeof(line), " /* numSurfaces = */ %d\n", int(model.surfaces.size()));
  out += line;
  for (size_t s = 0; s < model.surfaces.size(); ++s) {
    const WorldSurface& surf = model.surfaces[s];
    std::snprintf(line, sizeof(line), "/* surface %d */ { \"", int(s));
    out += line;
    out += quotable(surf.material.c_str());
    std::snprintf(line, sizeof(line), "\" /* numVerts = */ %d /* numIndexes = */ %d /* lightmap = */ %d \n",
                  surf.numVerts(), int(surf.indexes.size()), surf.lightmap);
    out += line;
    for (int v = 0; v < surf.numVerts(); ++v) {
      const float* p = &surf.verts[size_t(v) * 10];
      appendFloats(out, p, 3);
      out += " ";
      appendFloats(out, p + 3, 2);
      out += " ";
      appendFloats(out, p + 5, 2);
      out += " ";
      appendFloats(out, p + 7, 3);
      out += "\n";
    }
    for (size_t j = 0; j < surf.indexes.size(); ++j) {
      std::snprintf(line, sizeof(line), "%d ", surf.indexes[j]);
      out += line;
      if (j > 0 && j % 18 == 0)
        out += "\n";
    }
    out += "\n}\n";
  }
  out += "}\n";
}

void writeWorldShadowModel(std::string& out, const WorldModel& model) {
  char line[512];
  int numVerts = int(model.shadowPoints.size() / 3);
  out += "\nshadowModel { /* name = */ \"" + quotable(model.name.c_str()) + "\"\n";
  std::snprintf(line, sizeof(line),
                "/* numVerts = */ %d /* noCaps = */ %d /* noFrontCaps = */ %d /* numIndexes = */ %d "
                "/* planeBits = */ %d \n",
                numVerts, model.noCaps, model.noFrontCaps, int(model.shadowIndexes.size()), model.planeBits);
  out += line;
  for (int i = 0; i < numVerts; ++i) {
    out += "(";
    appendFloats(out, &model.shadowPoints[size_t(i) * 3], 3);
    out += (i > 0 && i % 4 == 0) ? ")\n" : ") ";
  }
  for (size_t j = 0; j < model.shadowIndexes.size(); ++j) {
    std::snprintf(line, sizeof(line), "%d ", model.shadowIndexes[j]);
    out += line;
    if (j > 0 && j % 18 == 0)
      out += "\n";
  }
  out += "\n}\n";
}
