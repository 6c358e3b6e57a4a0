// Material deforms applied to a surface's CPU vertices whenever its geometry is (re)built: sprites
// turned to the viewer, auto sprites turned about their long axis, expand, move, turbulent texture
// coordinates. Register values are evaluated on the main thread and passed in, so the deform itself
// may run on a worker of the entity update.
#pragma once

#include "lib/matrix.h"
#include "lib/vector.h"

class Material;
struct SurfaceGeometry;
class DeclTable;

// The material's deform type, its table and register values as one plain record.
struct DeformInput {
  int type = 0;
  const DeclTable* table = nullptr;
  float registers[4] = {};
};

// Dispatches by type; true for sprite, sprite2, expand, move, eyeball and turbulent, false for
// none, flare or a null geometry. Every type but turbulent refreshes the triangle planes (when the
// geometry has them) and the bounds. Odd sprite counts print a warning and leave the geometry.
bool applyDeform(const DeformInput& deform, SurfaceGeometry* geometry, const Mat3& viewAxis,
                 const Vec3& viewOrigin);
// The current value of the material's deform register i (0..3; else 0). Main thread only.
float deformRegister(const Material* material, int i);
// The record of a material with its registers evaluated now. Main thread only.
DeformInput deformInputOf(const Material* material);
