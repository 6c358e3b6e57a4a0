// The set-up of the model-format harnesses: the declaration and model managers over a quiet command
// system and the harness's file system, started once and shut down at exit, and the clean-up after
// each input.
#pragma once

#include <cstdlib>

#include "lib/interface/cmdsystem.h"
#include "lib/interface/declsystem.h"
#include "lib/interface/iosystem.h"
#include "lib/keydict.h"
#include "render/material/expression.h"
#include "render/model/rendermodelmanager.h"
#include "system/declmanager.h"

namespace fuzz {

inline void stopModelSystems() {
  destroyRenderModelSystem();
  destroyDeclSystem();
  clearExpressions();
}

// For LLVMFuzzerInitialize.
inline void startModelSystems(CmdSystem* cmd, IOSystem* io) {
  g_cmdSystem = cmd;
  g_ioSystem = io;
  KeyDict::initPools();
  clearExpressions();
  createDeclSystem();
  getRenderModelSystem();
  // The registers of the materials would be unreachable once the static list goes.
  std::atexit(stopModelSystems);
}

// After each input: free geometry goes back, and since unknown shader names (and inline bodies)
// add materials, the declarations start over before they pile up.
inline void endModelInput() {
  g_renderModelSystem->purgeFreeGeometry();
  if (g_declSystem->numDecls(kDeclMaterial) > 256) {
    destroyDeclSystem();
    clearExpressions();
    createDeclSystem();
  }
}

}  // namespace fuzz
