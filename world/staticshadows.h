// Per-light shadow geometry precomputed from the static world: the shadow mask (the shadowed pieces
// of the surfaces a light reaches) and the prelight shadow volume. The polygon work runs on plain
// data so it can be checked apart from a loaded map; BspSpatialSystem gathers the input and hands
// the results to the render-model manager.
#pragma once

#include <cstdint>
#include <vector>

#include "lib/matrix.h"
#include "lib/polygon.h"
#include "lib/vector.h"

class KeyDict;

// One world surface as the shadow passes see it: its triangles and the material traits they test.
struct ShadowSurface {
  std::vector<Vec3> points;
  std::vector<int> indexes;  // three per triangle; entries outside points are skipped
  bool interaction = false;  // the material has light-interaction stages
  uint32_t flags = 0;        // material surface flags
  int cull = 0;              // 0 two-sided
};

struct ShadowLight {
  Vec3 point;  // where the shadows are cast from
  Plane planes[6];  // the light volume, facing out
};

// Triangle list of a shadow model: positions and three indexes per triangle.
struct ShadowMesh {
  std::vector<Vec3> points;
  std::vector<int> indexes;
};

// Caps on one light's work so a hostile or huge map cannot exhaust memory: polygons in one working
// set, and points of one built mesh.
constexpr int kMaxShadowPolygons = 1 << 18;
constexpr int kMaxShadowMeshPoints = 1 << 20;

// True when a surface takes part in the shadow mask and casts in the prelight pass: lit, one-sided
// and none of "discrete", "noShadows", "noSelfShadow".
bool shadowSurfaceCasts(const ShadowSurface& surface);

// The shadowed polygons of the surfaces, merged. False (with a warning) when a cap was reached; the
// set then holds what was built so far.
bool buildShadowMaskPolygons(const ShadowLight& light, const std::vector<ShadowSurface>& surfaces,
                             PolygonSet& mask);

// The prelight volume pieces, in drawing order: side polygons, lit triangles with the far caps,
// casters. `caps` receives the caster counts before and after the cap reduction.
struct PrelightPieces {
  PolygonSet sides;
  PolygonSet lit;
  PolygonSet casters;
  int capsBefore = 0;
  int capsAfter = 0;
};
bool buildPrelightPolygons(const ShadowLight& light, const std::vector<ShadowSurface>& surfaces,
                           PrelightPieces& out);

// Triangulates polygons into one mesh. `weld` > 0 merges points closer than it on every axis;
// `centerFallback` triangulates around the centre when the plain triangulation gives nothing.
// False when the point cap was reached.
bool triangulatePolygons(const PolygonSet* const* sets, int numSets, float weld, bool centerFallback,
                         ShadowMesh& out);

// Two bits per axis of p - v: 1 beyond the tolerance ("r_zNear" + 1), 2 below minus it, 3
// non-zero within it.
int shadowSideCode(const Vec3& p, const Vec3& v);

// Gives unnamed lights "<classname>_<n>" (n counts from 32, one less per "worldspawn", plus the
// entity index) in their dictionaries.
void nameLightEntities(const List<KeyDict*>& entities);
bool isLightEntity(const KeyDict& dict);

// Moves a light's emission point off its volume's faces (or out of a cone's apex) and makes a
// parallel light's direction far away.
void adjustPrelightCenter(Vec3& center, const Vec3& radius, const Mat3& axis, int shape, int flags);

struct MapLight;
// The light of entity `entityIndex` as the prelight pass takes it: parsed, its center adjusted and
// its index set to the entity's. False for a light that casts no prelight volume (ambient, without
// shadows, or a static source when those are skipped).
bool prelightLightOf(const KeyDict& dict, int entityIndex, bool skipStaticSourceLights, MapLight& out);
