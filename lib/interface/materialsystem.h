// What other subsystems read of materials without including the renderer: the contents and
// surface-flag words of a material (world, collision and effects test them), and the start-up hooks
// of the expression registers, which the material library installs and the common manager calls.
#pragma once

#include <cstdint>

// Bits of a material's contents word. Every material starts solid; "nonsolid" clears the bit.
enum ContentsFlags : uint32_t {
  kContentsSolid = 0x1,
  kContentsWater = 0x4,
  kContentsPlayerClip = 0x8,
  kContentsNpcClip = 0x10,
  kContentsMoveableClip = 0x20,
  kContentsTrigger = 0x1000,
  kContentsTranslucent = 0x4000,
  kContentsAreaPortal = 0x100000,
  kContentsAntiPortal = 0x200000,
  kContentsNavSolid = 0x800000,
  kContentsCollision = 0x103,
};

// Bits of a material's surface-flag word ("surfaceparm" names and a few set by the loader).
enum MaterialFlags : uint32_t {
  kMaterialAntiPortal = 0x2,
  kMaterialAreaPortal = 0x4,
  kMaterialVertexInteraction = 0x40,
  kMaterialCollision = 0x100,
  kMaterialNoSteps = 0x200,
  kMaterialNoDamage = 0x400,
  kMaterialNoDraw = 0x800,
  kMaterialNoImpact = 0x1000,
  kMaterialNoMarks = 0x2000,
  kMaterialNonSolid = 0x4000,
  kMaterialPlayerClip = 0x8000,
  kMaterialSlick = 0x10000,
  kMaterialTranslucent = 0x20000,
  kMaterialLadder = 0x100000,
  kMaterialDiscrete = 0x200000,
  kMaterialNoShadows = 0x400000,  // also set for every two-sided material
  kMaterialNoSelfShadow = 0x800000,
  kMaterialSkybox = 0x1000000,           // a stage has "texGen skybox"
  kMaterialForceOpaque = 0x2000000,      // also set for every material with interaction stages
  kMaterialForceOverlay = 0x8000000,
  kMaterialForceShadow = 0x10000000,
  kMaterialTrigger = 0x405800,
};

// Installed by the material library from a static object; null without it.
struct ExpressionHooks {
  void (*clear)() = nullptr;             // frees every register (start-up and shutdown)
  void (*registerCommands)() = nullptr;  // "listExpressions"
  // For video images, whose library sits below the material library: compile a text into a
  // register (0 on failure), evaluate one, and set or read the current parameter array.
  int (*registerText)(const char* text) = nullptr;
  float (*evaluate)(int index) = nullptr;
  void (*setParms)(float* parms) = nullptr;
  float* (*getParms)() = nullptr;
};
inline ExpressionHooks g_expressionHooks;
