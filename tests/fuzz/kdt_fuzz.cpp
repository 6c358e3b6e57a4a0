// Fuzzes the ".kdt" reader: what loads is walked by the point, box and view queries.
#include <cstdint>
#include <vector>

#include "lib/keydict.h"
#include "tests/fuzz/fuzz_support.h"
#include "world/kdworld.h"

namespace {

fuzz::QuietCmdSystem g_quiet;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  g_cmdSystem = &g_quiet;
  KeyDict::initPools();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<char> text(data, data + size);
  text.push_back('\0');
  KDSpatialSystem world;
  if (!world.loadText(text.data()))
    return 0;
  int out[64];
  SurfaceList list;
  const Vec3 p(10, 10, 10);
  world.pointToArea(&p.x);
  world.areasInBounds(Bounds(Vec3(-1e6f, -1e6f, -1e6f), Vec3(1e6f, 1e6f, 1e6f)), out, 64);
  world.surfacesInBounds(list, Bounds(Vec3(-1e6f, -1e6f, -1e6f), Vec3(1e6f, 1e6f, 1e6f)));
  SpatialView v;
  v.origin = p;
  v.viewDistance = 100000;
  for (int i = 0; i < 6; ++i)
    v.frustum[i] = Plane(Vec3(i & 1 ? 1.0f : -1.0f, 0, 0), -1e6f);
  world.areasVisibleFromView(&v, out, 64);
  world.surfacesVisibleFromView(&list, &v, AreaBitArray());
  for (int a = -1; a <= world.getNumAreas() && a < 8; ++a) {
    world.getAreaModel(a);
    world.boundsTouchAreaList(&a, 1, Bounds(p, p));
  }
  return 0;
}
