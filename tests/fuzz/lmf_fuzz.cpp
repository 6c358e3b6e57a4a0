// Fuzzes the ".lmf" reader and samples whatever grid it accepts, inside, outside and on its edges.
#include <cstdint>

#include "tests/fuzz/fuzz_support.h"
#include "world/worldbase.h"

namespace {

fuzz::QuietCmdSystem g_quiet;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  g_cmdSystem = &g_quiet;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  LightmapFile grid;
  parseLightmapFile(data, size, grid, "fuzz.lmf");
  if (grid.cells.empty())
    return 0;
  Vec3 amb, dir, direction;
  const Vec3 points[] = {grid.origin, grid.origin - Vec3(1000, 1000, 1000), grid.origin + Vec3(1e6f, 1e6f, 1e6f),
                         grid.origin + Vec3(0.5f, 7.25f, 130.0f), Vec3(-3e9f, 3e9f, 0)};
  for (const Vec3& p : points)
    sampleGrid(grid, p, amb, dir, direction);
  return 0;
}
