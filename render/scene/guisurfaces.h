// Interfaces drawn on model surfaces: the frame that places an interface's 640 x 480 units on a
// surface.
#pragma once

#include "lib/matrix.h"

struct SurfaceGeometry;

// The frame of an interface on a surface, from the first vertex's tangents (u, v) and normal (n):
// the extents of the vertices along u and v (written to `size`, u then v), and the matrix that
// maps (x, y, z) to origin + x u + y v + z n, followed by `model`. The origin is the corner at the
// least u and greatest v, an eighth of a unit off the surface along n. False without vertices.
bool buildGuiSurfaceMatrix(Mat4* out, const Mat4& model, const SurfaceGeometry* surface, float size[2]);
