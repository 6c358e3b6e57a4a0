// What the collision subsystem reads of real materials (contents, surface flags, culling, names),
// installed in g_collisionMaterialAccess while the renderer runs.
#pragma once

class CollisionMaterialAccess;

// The one reader; lives as long as the program.
CollisionMaterialAccess* collisionMaterialAccess();
