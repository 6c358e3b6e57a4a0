// Fuzzes the ".dmesh" skinned-mesh format: the input is loaded into a skinned model (inline
// material bodies go to the declaration manager), then every surface is skinned into an instance
// copy with an entity that bends its joints, once with all joints and once with fewer joints than
// the model names. Indexes, influences and joint links must stay inside their arrays.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "lib/interface/iosystem.h"
#include "lib/interface/renderentity.h"
#include "lib/matrix.h"
#include "render/model/dynamicmodel.h"
#include "render/model/rendermodelmanager.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/fuzz/modelfuzz.h"

namespace {

fuzz::QuietCmdSystem g_quiet;
const std::string kMaterials = "lit\n{\ndiffusemap textures/lit\n}\n";
fuzz::MtxIOSystem g_io(&kMaterials);

void check(bool ok) {
  if (!ok)
    std::abort();
}

void exercise(const std::string& text) {
  DynamicModel model;
  model.init("fuzz.dmesh");
  model.loadFromDmeshText(text.c_str());
  const int joints = model.numJointPoses();
  check(joints >= 0 && joints <= kDmeshMaxJoints);
  for (int j = 0; j < joints; j++) {
    const int parent = model.parentOf(j);
    check(parent < j);
    check((parent < 0) == (model.getJoints()[j].parent == nullptr));
    check(model.findJoint(model.getJointName(j)) <= j);
  }
  for (int s = 0; s < model.numSurfaces(); s++) {
    const SurfaceGeometry* g = model.getSurface(s)->geometry;
    check(g && g->numIndexes % 3 == 0);
    for (int i = 0; i < g->numIndexes; i++)
      check(g->indexes[i] >= 0 && g->indexes[i] < g->numVerts);
    if (const VertexInfluence* in = model.influences(s)) {
      for (int v = 0; v < g->numVerts; v++) {
        for (int k = 0; k < 4; k++)
          check(in[v].joints[k] < joints || (joints == 0 && in[v].joints[k] == 0));
        check(model.dominantInfluence(s, v) >= -1 && model.dominantInfluence(s, v) < 4);
      }
    }
  }
  model.memoryUsed();
  if (!model.isLoaded())
    return;
  std::vector<Mat4> poses(size_t(joints > 0 ? joints : 1));
  for (int j = 0; j < joints; j++)
    poses[size_t(j)] = Mat4::fromMat3(Angles(float(j) * 7.0f, 30.0f, 0.0f).toMat3(), Vec3(0, 0, float(j)));
  BaseModel* copy = BaseModel::createCopy(&model);
  RenderEntity entity;
  entity.model = &model;
  entity.origin = Vec3(1, 2, 3);
  for (int pass = 0; pass < 2; pass++) {
    entity.numJoints = pass == 0 ? joints : joints / 2;
    entity.joints = poses.data();
    check(copy->buildInstance(&entity));
  }
  delete copy;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::startModelSystems(&g_quiet, &g_io);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 64 * 1024)
    return 0;
  exercise(std::string(reinterpret_cast<const char*>(data), size));
  fuzz::endModelInput();
  return 0;
}
