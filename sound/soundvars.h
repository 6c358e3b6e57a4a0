// The console variables the sound subsystem reads (declared with the engine core's variables),
// read by name so the subsystem works before and without the console-variable manager.
#pragma once

#include "lib/interface/convarsystem.h"

inline float soundVarFloat(const char* name, float fallback) {
  ConVar* var = g_conVarSystem ? g_conVarSystem->find(name) : nullptr;
  return var ? var->getFloat() : fallback;
}

inline int soundVarInt(const char* name, int fallback) {
  ConVar* var = g_conVarSystem ? g_conVarSystem->find(name) : nullptr;
  return var ? var->getInt() : fallback;
}
