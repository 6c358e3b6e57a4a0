// Fuzzes the ".bsp" reader: the text is loaded as a map, its models (shadow models too) made into
// render models by the render-model manager; what loads is written back, read again and asked
// the point, box and flood questions that walk the tree and the portals; the map's models are
// then freed as a map unload frees them.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "lib/interface/rendermodelsystem.h"
#include "lib/keydict.h"
#include "render/model/worldrendermodels.h"
#include "tests/fuzz/fuzz_support.h"
#include "world/bspworld.h"

namespace {

fuzz::QuietCmdSystem g_quiet;

SpatialView viewAt(const Vec3& origin) {
  SpatialView v;
  v.origin = origin;
  // A wide box-shaped frustum about the origin (planes face out).
  v.frustum[0] = Plane(Vec3(-1, 0, 0), -origin.x - 1);
  v.frustum[1] = Plane(Vec3(0, 1, 0), origin.y + 4096);
  v.frustum[2] = Plane(Vec3(0, -1, 0), -origin.y + 4096);
  v.frustum[3] = Plane(Vec3(0, 0, 1), origin.z + 4096);
  v.frustum[4] = Plane(Vec3(0, 0, -1), -origin.z + 4096);
  v.frustum[5] = Plane(Vec3(1, 0, 0), origin.x + 8192);
  v.viewDistance = 8192;
  return v;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  g_cmdSystem = &g_quiet;
  KeyDict::initPools();
  getRenderModelSystem();
  return 0;
}

namespace {

void queryWorld(const uint8_t* data, size_t size) {
  std::vector<char> text(data, data + size);
  text.push_back('\0');
  BspSpatialSystem world;
  if (!world.loadText(text.data()))
    return;
  BspSpatialSystem again;
  const std::string written = world.writeText();
  if (!again.loadText(written.c_str())) {
    std::fprintf(stderr, "written map does not load:\n%s\n", written.c_str());
    __builtin_trap();  // what was read must be written readably
  }
  const Vec3 points[] = {{0, 0, 0}, {64, 128, 48}, {-100, 5, 5}, {300, 30, 30}};
  int out[64];
  SurfaceList list;
  AreaBitArray all;
  for (const Vec3& p : points) {
    world.pointToArea(&p.x);
    world.pointInSolid(p);
    SpatialView v = viewAt(p);
    world.areasVisibleFromView(&v, out, 64);
    world.surfacesVisibleFromView(&list, &v, all);
    world.isBoundsVisibleFromView(&v, Bounds(p + Vec3(100, -8, -8), p + Vec3(116, 8, 8)));
    world.areasVisibleFromPoint(p, Bounds(p - Vec3(500, 500, 500), p + Vec3(500, 500, 500)), out, 64);
    world.computeAreaScreenRects(&v);
  }
  for (int i = 0; i <= world.getNumPortals() && i < 8; ++i)
    world.setPortalState(i, i & 1);
  world.areasConnected(0, world.getNumAreas() - 1, 1);
  AreaBitArray bits;
  bits.resize(world.getNumAreas());
  world.getConnectedAreas(bits, 0, points[1]);
  world.surfacesInBounds(list, Bounds(Vec3(-1000, -1000, -1000), Vec3(1000, 1000, 1000)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  queryWorld(data, size);
  // The worlds are gone; the manager still holds their models until the unload frees them.
  freeWorldRenderModels();
  return 0;
}
