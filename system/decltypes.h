// Allocators of the simple declaration kinds (tables, entity definitions, sound shaders, skins),
// whose classes the declaration interface publishes; the manager registers them at start-up.
#pragma once

#include "lib/interface/declsystem.h"

DeclResource* allocDeclTable();
DeclResource* allocDeclEntityDef();
DeclResource* allocDeclSkin();
DeclResource* allocSoundShader();
// A kind whose library is not linked in (materials, effects without their allocator).
DeclResource* allocDeclPlaceholder();
