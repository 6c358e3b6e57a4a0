// Publishes the map-file factories the engine core looks up by extension.
#include "lib/interface/spatialsystem.h"
#include "world/bspworld.h"
#include "world/kdworld.h"
#include "world/mapentities.h"

namespace {

SpatialSystem* makeBsp() {
  return new BspSpatialSystem;
}
SpatialSystem* makeKd() {
  return new KDSpatialSystem;
}

struct RegisterWorlds {
  RegisterWorlds() { registerWorldFactories(); }
};
const RegisterWorlds s_registerWorlds;

}  // namespace

void registerWorldFactories() {
  g_bspSpatialFactory = makeBsp;
  g_kdSpatialFactory = makeKd;
  g_mapEntityPass = runMapEntityPass;
}
