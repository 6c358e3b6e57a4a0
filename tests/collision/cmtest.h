// Shared pieces of the collision suites: materials with chosen contents and facing, a manager made
// fresh for each test, the ".cm" fixtures and a render-model source the tests fill by hand.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "collision/cmmanager.h"
#include "lib/tokenparser.h"

namespace cmtest {

struct FakeMaterial {
  std::string name;
  int contents = kContentsSolid;
  int surfaceFlags = 0;
  int cull = 0;
};

// Installs itself as the material reader; unknown names become solid two-sided materials.
class FakeMaterials : public CollisionMaterialAccess {
 public:
  FakeMaterials() : previous_(g_collisionMaterialAccess) { g_collisionMaterialAccess = this; }
  ~FakeMaterials() override { g_collisionMaterialAccess = previous_; }
  FakeMaterial& define(const std::string& name, int contents, int cull = 0, int surfaceFlags = 0) {
    FakeMaterial& m = byName_[name];
    m.name = name;
    m.contents = contents;
    m.cull = cull;
    m.surfaceFlags = surfaceFlags;
    return m;
  }
  Material* find(const char* name) override {
    auto it = byName_.find(name);
    if (it == byName_.end())
      return reinterpret_cast<Material*>(&define(name, kContentsSolid));
    return reinterpret_cast<Material*>(&it->second);
  }
  const char* name(const Material* m) override { return get(m).name.c_str(); }
  int contents(const Material* m) override { return get(m).contents; }
  int surfaceFlags(const Material* m) override { return get(m).surfaceFlags; }
  int cullType(const Material* m) override { return get(m).cull; }

 private:
  static const FakeMaterial& get(const Material* m) { return *reinterpret_cast<const FakeMaterial*>(m); }
  std::map<std::string, FakeMaterial> byName_;
  CollisionMaterialAccess* previous_;
};

// A 32-unit cube brush centred on the origin, the fixture of the worked values.
inline const char* kBoxModel =
    "!CM\n"
    "collisionModel \"box\" {\n"
    "nodes { 1\n"
    "  0 0 1 16 -1 -2\n"
    "}\n"
    "brushes { 1\n"
    "  6 1 0 0 16 -1 0 0 16 0 1 0 16 0 -1 0 16 0 0 1 16 0 0 -1 16 \"textures/solid\"\n"
    "}\n"
    "}\n";

// Reads the named model out of ".cm" text into the manager; the model's index or 0.
inline int loadText(CollisionManager& cm, const char* text, const char* name) {
  TokenParser parser;
  parser.pushText(text);
  String base;
  String(name).fileBase(base);
  const int index = cm.loadModelText(name, base.c_str(), parser);
  parser.popText();
  return index;
}

// A manager whose index 0 and 1 are taken (like after loadMap of a map with a world model), so
// models read by the tests get indices from 2 and never collide with the rebuilt model 1.
struct Manager {
  Manager() {
    loadText(cm,
             "!CM collisionModel \"worldMap\" { nodes { 1 0 0 1 0 -1 -2 } polygons { 1 3 0 0 -1000 1 0 -1000 "
             "0 1 -1000 \"x\" } }",
             "worldMap");
    cm.setTraceModel(TraceModel(), nullptr);
  }
  CollisionManager cm;
};

inline Vec3 v(float x, float y, float z) {
  return Vec3(x, y, z);
}

inline TraceModel box(float half) {
  TraceModel t;
  t.setupBox(Bounds(Vec3(-half, -half, -half), Vec3(half, half, half)));
  return t;
}

// One brush per box, as ".cm" text.
inline std::string brushText(const std::vector<Bounds>& boxes, const char* material = "textures/solid") {
  std::string s;
  for (const Bounds& b : boxes) {
    char line[512];
    std::snprintf(line, sizeof(line),
                  "6 1 0 0 %.9g -1 0 0 %.9g 0 1 0 %.9g 0 -1 0 %.9g 0 0 1 %.9g 0 0 -1 %.9g \"%s\"\n", b.maxs.x,
                  -b.mins.x, b.maxs.y, -b.mins.y, b.maxs.z, -b.mins.z, material);
    s += line;
  }
  return s;
}

// A model of brushes under a single root node.
inline std::string brushModel(const char* name, const std::vector<Bounds>& boxes,
                              const char* material = "textures/solid") {
  std::string s = "!CM\ncollisionModel \"";
  s += name;
  s += "\" {\nnodes { 1\n 0 0 1 4096 -1 -2\n}\nbrushes { " + std::to_string(boxes.size()) + "\n";
  s += brushText(boxes, material);
  s += "}\n}\n";
  return s;
}

}  // namespace cmtest
