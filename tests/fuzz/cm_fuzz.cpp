// Fuzzes the ".cm" collision model reader: the text is searched for the model "m" (and read as a
// bare model body); whatever loads is swept, tested for contents, written back and read again.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "collision/cmmanager.h"
#include "lib/tokenparser.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

fuzz::QuietCmdSystem g_quiet;
// Every name maps to one material: the stand-ins would keep each new name for good.
class OneMaterial : public CollisionMaterialAccess {
 public:
  Material* find(const char*) override { return reinterpret_cast<Material*>(&record_); }
  const char* name(const Material*) override { return "m"; }
  int contents(const Material*) override { return kContentsSolid; }
  int surfaceFlags(const Material*) override { return 0; }
  int cullType(const Material*) override { return 1; }

 private:
  int record_ = 0;
};
OneMaterial g_materials;

// Made once: a manager's pools of query objects are large to build.
CollisionManager* g_cm;
CollisionManager* g_back;

// Each edge walked by exactly two faces.
bool closedSolid(const TraceModel& t) {
  int uses[TraceModel::kMaxEdges + 1] = {};
  for (int f = 0; f < t.numPolys; f++)
    for (int k = 0; k < t.polys[f].numEdges; k++)
      uses[std::abs(t.polys[f].edges[k])]++;
  for (int e = 1; e <= t.numEdges; e++)
    if (uses[e] != 2)
      return false;
  return t.numPolys > 0;
}

void exercise(CollisionManager& cm, int index) {
  const Mat3 id = Mat3::identity();
  TraceModel box;
  box.setupBox(Bounds(Vec3(-4, -4, -4), Vec3(4, 4, 4)));
  TraceResult r;
  cm.translation(&r, Vec3(-100, -3, 1), Vec3(100, 5, -2), nullptr, id, -1, index, Vec3(), id);
  cm.translation(&r, Vec3(-100, -3, 1), Vec3(100, 5, -2), &box, id, -1, index, Vec3(), id);
  cm.contents(Vec3(1, 2, 3), &box, id, -1, index, Vec3(), id);
  const float delta[6] = {0, 0, -8, 0, 0, 0};
  ContactInfo contacts[8];
  cm.contacts(contacts, 8, Vec3(0, 0, 20), delta, 0.1f, &box, id, -1, index, Vec3(), id);
  // A turn grows its shape; the brushes' own solids are grown the same way and must stay closed.
  TraceModel cylinder;
  cylinder.setupCylinder(Bounds(Vec3(-6, -6, -12), Vec3(6, 6, 12)), 7);
  cm.rotation(&r, Vec3(2, 1, 0), Rotation(Vec3(2, 1, 0), Vec3(0, 1, 0), 60.0f), &cylinder, id, -1, index, Vec3(),
              id);
  const cmModel_t* m = cm.model(index);
  for (int b = 0; m && b < m->brushes.num() && b < 8; b++) {
    TraceModel grown = m->brushes[b]->trm;
    grown.expand(-0.03125f);
    if (closedSolid(m->brushes[b]->trm) && !closedSolid(grown))
      __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  g_cmdSystem = &g_quiet;
  g_collisionMaterialAccess = &g_materials;
  g_cm = new CollisionManager;
  g_back = new CollisionManager;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1 << 16)
    return 0;
  std::vector<char> text(data, data + size);
  text.push_back('\0');

  CollisionManager& cm = *g_cm;
  cm.freeModels();
  {
    TokenParser parser;
    parser.pushText(text.data());
    const int index = cm.loadModelText("m", "m", parser);
    if (cm.numModels() > 0) {
      exercise(cm, index);
      // What was read is written and read again. Five decimals can turn a sliver face of a
      // degenerate brush into nothing, so only safety is asked of the second read.
      String out = "!CM\n";
      cm.modelText(out, *cm.model(index), "m", false);
      TokenParser again;
      again.pushText(out.c_str());
      CollisionManager& back = *g_back;
      back.freeModels();
      back.loadModelText("m", "m", again);
    }
  }
  {
    TokenParser parser;
    parser.pushText(text.data());
    parser.setPunctuation("{}");
    cmModel_t m;
    cm.parseModelBody(m, "body", parser);
  }
  return 0;
}
