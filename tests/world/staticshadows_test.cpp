// Static shadow masks and prelight volumes: the polygon passes on a one-light, one-occluder scene
// checked against areas and planes worked out by hand, the material and light rules that exclude
// surfaces, light naming and centre adjustment, and the map world's passes end to end (models
// registered by name, their geometry, and the kd-tree world doing nothing).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "lib/interface/materialsystem.h"
#include "lib/interface/rendermodelsystem.h"
#include "lib/interface/rendersystem.h"
#include "lib/keydict.h"
#include "render/material/material.h"
#include "render/model/rendermodelmanager.h"
#include "tests/support/capturecmdsystem.h"
#include "world/bspworld.h"
#include "world/kdworld.h"
#include "world/mapentities.h"
#include "world/staticshadows.h"

namespace {

// A surface of quads (four points each, counter-clockwise seen from the side it faces).
ShadowSurface quads(const std::vector<std::vector<Vec3>>& faces, bool interaction = true, uint32_t flags = 0,
                    int cull = 2) {
  ShadowSurface s;
  for (const auto& f : faces) {
    const int base = int(s.points.size());
    for (const Vec3& v : f)
      s.points.push_back(v);
    for (int i : {0, 1, 2, 0, 2, 3})
      s.indexes.push_back(base + i);
  }
  s.interaction = interaction;
  s.flags = flags;
  s.cull = cull;
  return s;
}

// Floor [-100, 100]^2 at z = 0 facing up.
ShadowSurface floorSurface() {
  return quads({{{-100, -100, 0}, {100, -100, 0}, {100, 100, 0}, {-100, 100, 0}}});
}

// A horizontal plate [-10, 10]^2 at z = 50 facing up.
ShadowSurface plateSurface(bool interaction = true, uint32_t flags = 0, int cull = 2) {
  return quads({{{-10, -10, 50}, {10, -10, 50}, {10, 10, 50}, {-10, 10, 50}}}, interaction, flags, cull);
}

// A closed box [-10, 10]^2 x [20, 50] with outward faces.
ShadowSurface pillarSurface() {
  const float a = -10, b = 10, lo = 20, hi = 50;
  return quads({
      {{a, a, hi}, {b, a, hi}, {b, b, hi}, {a, b, hi}},  // top +z
      {{a, a, lo}, {a, b, lo}, {b, b, lo}, {b, a, lo}},  // bottom -z
      {{b, a, lo}, {b, b, lo}, {b, b, hi}, {b, a, hi}},  // +x
      {{a, a, lo}, {a, a, hi}, {a, b, hi}, {a, b, lo}},  // -x
      {{a, b, lo}, {a, b, hi}, {b, b, hi}, {b, b, lo}},  // +y
      {{a, a, lo}, {b, a, lo}, {b, a, hi}, {a, a, hi}},  // -y
  });
}

ShadowLight lightAt(const Vec3& p, const Bounds& volume) {
  ShadowLight l;
  l.point = p;
  volume.toPlanes(l.planes);
  return l;
}

const Bounds kVolume(Vec3(-150, -150, -10), Vec3(150, 150, 150));

float totalArea(const PolygonSet& set) {
  float a = 0.0f;
  for (int i = 0; i < set.num(); i++)
    a += set[i].area();
  return a;
}

Bounds boundsOf(const PolygonSet& set) {
  Bounds b;
  for (int i = 0; i < set.num(); i++)
    set[i].addToBounds(b);
  return b;
}

TEST(ShadowMask, PlateShadowOnTheFloorIsTheProjectedSquare) {
  // Light at height 100, plate at 50: the shadow on the floor is the plate scaled by 2.
  std::vector<ShadowSurface> surfaces = {floorSurface(), plateSurface()};
  PolygonSet mask;
  ASSERT_TRUE(buildShadowMaskPolygons(lightAt(Vec3(0, 0, 100), kVolume), surfaces, mask));
  ASSERT_GT(mask.num(), 0);
  EXPECT_NEAR(totalArea(mask), 1600.0f, 1.0f);
  const Bounds b = boundsOf(mask);
  EXPECT_NEAR(b.mins.x, -20.0f, 0.01f);
  EXPECT_NEAR(b.maxs.x, 20.0f, 0.01f);
  EXPECT_NEAR(b.mins.y, -20.0f, 0.01f);
  EXPECT_NEAR(b.maxs.y, 20.0f, 0.01f);
  EXPECT_NEAR(b.mins.z, 0.0f, 0.001f);
  EXPECT_NEAR(b.maxs.z, 0.0f, 0.001f);
  // Every piece faces the light (the floor's plane, z = 0 facing up).
  for (int i = 0; i < mask.num(); i++) {
    const Plane pl = mask[i].plane();
    EXPECT_NEAR(pl.normal().z, 1.0f, 1e-4f);
    EXPECT_NEAR(pl.d, 0.0f, 1e-3f);
  }
}

TEST(ShadowMask, OffCentreLightShiftsTheShadow) {
  // Light at (40, 0, 100): the plate's shadow spans x in [40 + 2 * (-10 - 40), 40 + 2 * (10 - 40)].
  std::vector<ShadowSurface> surfaces = {floorSurface(), plateSurface()};
  PolygonSet mask;
  ASSERT_TRUE(buildShadowMaskPolygons(lightAt(Vec3(40, 0, 100), kVolume), surfaces, mask));
  const Bounds b = boundsOf(mask);
  EXPECT_NEAR(b.mins.x, -60.0f, 0.01f);
  EXPECT_NEAR(b.maxs.x, -20.0f, 0.01f);
  EXPECT_NEAR(totalArea(mask), 1600.0f, 1.0f);
}

TEST(ShadowMask, SurfacesThatDoNotCastOrTheLightDoesNotReachGiveNoMask) {
  struct Case {
    const char* what;
    ShadowSurface plate;
    Bounds volume;
  };
  const Case cases[] = {
      {"two-sided", plateSurface(true, 0, 0), kVolume},
      {"no interaction stages", plateSurface(false), kVolume},
      {"noShadows", plateSurface(true, kMaterialNoShadows), kVolume},
      {"noSelfShadow", plateSurface(true, kMaterialNoSelfShadow), kVolume},
      {"discrete", plateSurface(true, kMaterialDiscrete), kVolume},
      {"plate outside the light volume", plateSurface(), Bounds(Vec3(-150, -150, -10), Vec3(150, 150, 40))},
  };
  for (const Case& c : cases) {
    std::vector<ShadowSurface> surfaces = {floorSurface(), c.plate};
    PolygonSet mask;
    buildShadowMaskPolygons(lightAt(Vec3(0, 0, 100), c.volume), surfaces, mask);
    EXPECT_EQ(mask.num(), 0) << c.what;
  }
}

TEST(ShadowMask, BadIndexesAreSkipped) {
  ShadowSurface plate = plateSurface();
  plate.indexes.push_back(0);
  plate.indexes.push_back(99);  // out of range
  plate.indexes.push_back(-5);
  plate.indexes.push_back(1);   // a dangling partial triangle
  std::vector<ShadowSurface> surfaces = {floorSurface(), plate};
  PolygonSet mask;
  ASSERT_TRUE(buildShadowMaskPolygons(lightAt(Vec3(0, 0, 100), kVolume), surfaces, mask));
  EXPECT_NEAR(totalArea(mask), 1600.0f, 1.0f);
}

TEST(Prelight, PillarVolumeHasRimSidesAndFarCaps) {
  std::vector<ShadowSurface> surfaces = {floorSurface(), pillarSurface()};
  const Vec3 p(0, 0, 100);
  PrelightPieces pieces;
  testing::internal::CaptureStdout();
  ASSERT_TRUE(buildPrelightPolygons(lightAt(p, kVolume), surfaces, pieces));
  const std::string printed = testing::internal::GetCapturedStdout();
  EXPECT_NE(printed.find("caps = [5"), std::string::npos) << printed;

  // Casters: the four sides and the bottom (each quad's triangles merged); none is in another's
  // shadow.
  EXPECT_EQ(pieces.capsBefore, 5);
  EXPECT_EQ(pieces.capsAfter, 5);
  ASSERT_EQ(pieces.casters.num(), 5);
  EXPECT_NEAR(totalArea(pieces.casters), 4 * 20 * 30 + 20 * 20, 0.5f);

  // The silhouette is the rim at z = 50: four side polygons running down from it to the boundary
  // (the pieces' box grown by 1: z = -1), where the rim's shadow reaches +-10 * 101 / 50.
  ASSERT_EQ(pieces.sides.num(), 4);
  const Bounds sideBox = boundsOf(pieces.sides);
  EXPECT_NEAR(sideBox.maxs.z, 50.0f, 0.01f);
  EXPECT_NEAR(sideBox.mins.z, -1.0f, 0.01f);
  EXPECT_NEAR(sideBox.maxs.x, 20.2f, 0.01f);
  EXPECT_NEAR(sideBox.mins.y, -20.2f, 0.01f);
  for (int i = 0; i < pieces.sides.num(); i++) {
    // Each side plane passes through the light.
    EXPECT_NEAR(pieces.sides[i].plane().distance(p), 0.0f, 0.05f);
  }

  // Lit: the floor, the top, and the far caps on z = -1 that together cover the rim's shadow
  // there: (2 * 20.2)^2.
  float capArea = 0.0f, topArea = 0.0f, floorArea = 0.0f;
  for (int i = 0; i < pieces.lit.num(); i++) {
    Bounds pb;
    pieces.lit[i].addToBounds(pb);
    if (std::fabs(pb.maxs.z + 1.0f) < 0.01f && std::fabs(pb.mins.z + 1.0f) < 0.01f)
      capArea += pieces.lit[i].area();
    else if (std::fabs(pb.mins.z - 50.0f) < 0.01f)
      topArea += pieces.lit[i].area();
    else if (std::fabs(pb.maxs.z) < 0.01f)
      floorArea += pieces.lit[i].area();
    else
      ADD_FAILURE() << "unexpected lit piece at z " << pb.mins.z << ".." << pb.maxs.z;
  }
  EXPECT_NEAR(capArea, 40.4f * 40.4f, 1.0f);
  EXPECT_NEAR(topArea, 400.0f, 0.5f);
  EXPECT_NEAR(floorArea, 200.0f * 200.0f, 1.0f);

  // The welded mesh: every triangle index in range, every point inside the boundary, and the
  // side codes relative to the light span both ways on x and y and below it on z.
  ShadowMesh mesh;
  const PolygonSet* sets[] = {&pieces.sides, &pieces.lit, &pieces.casters};
  ASSERT_TRUE(triangulatePolygons(sets, 3, 0.02f, true, mesh));
  ASSERT_GT(mesh.indexes.size(), 0u);
  EXPECT_EQ(mesh.indexes.size() % 3, 0u);
  int bits = 0;
  for (const Vec3& v : mesh.points) {
    bits |= shadowSideCode(p, v);
    EXPECT_GE(v.z, -1.01f);
  }
  for (int i : mesh.indexes)
    ASSERT_TRUE(i >= 0 && i < int(mesh.points.size()));
  EXPECT_EQ(bits, 0x3 | 0xC | 0x10);
  // Welding: the rim corners appear once each.
  int rimCorners = 0;
  for (const Vec3& v : mesh.points)
    if (std::fabs(std::fabs(v.x) - 10.0f) < 0.01f && std::fabs(std::fabs(v.y) - 10.0f) < 0.01f &&
        std::fabs(v.z - 50.0f) < 0.01f)
      rimCorners++;
  EXPECT_EQ(rimCorners, 4);
}

TEST(Prelight, CasterWhollyInAnotherShadowIsReduced) {
  // A small plate below a large one, both facing down (casters for a light above): the small one
  // lies inside the large one's shadow and goes.
  ShadowSurface casters = quads({
      {{-30, -30, 60}, {-30, 30, 60}, {30, 30, 60}, {30, -30, 60}},
      {{-5, -5, 30}, {-5, 5, 30}, {5, 5, 30}, {5, -5, 30}},
  });
  std::vector<ShadowSurface> surfaces = {floorSurface(), casters};
  PrelightPieces pieces;
  testing::internal::CaptureStdout();
  buildPrelightPolygons(lightAt(Vec3(0, 0, 100), kVolume), surfaces, pieces);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(pieces.capsBefore, 2);
  EXPECT_EQ(pieces.capsAfter, 1);
  ASSERT_EQ(pieces.casters.num(), 1);
  EXPECT_NEAR(pieces.casters[0].area(), 3600.0f, 0.5f);
}

TEST(Prelight, CasterPartlyInAnotherShadowLosesThatPart) {
  // Light at z 100. The large plate at z 60 spans x -30..30; at z 30 its shadow spans
  // |x| <= 30 * 70 / 40 = 52.5. The small plate at z 30 spans x 40..70 (y -5..5): its part up to
  // x 52.5 lies in the large shadow already and is cut away, the rest (17.5 x 10) stays.
  ShadowSurface casters = quads({
      {{-30, -30, 60}, {-30, 30, 60}, {30, 30, 60}, {30, -30, 60}},
      {{40, -5, 30}, {40, 5, 30}, {70, 5, 30}, {70, -5, 30}},
  });
  std::vector<ShadowSurface> surfaces = {floorSurface(), casters};
  PrelightPieces pieces;
  testing::internal::CaptureStdout();
  buildPrelightPolygons(lightAt(Vec3(0, 0, 100), kVolume), surfaces, pieces);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(pieces.capsBefore, 2);
  float large = 0.0f, small = 0.0f, smallMinX = 1e30f;
  for (int i = 0; i < pieces.casters.num(); i++) {
    Bounds b;
    pieces.casters[i].getBounds(b);
    if (std::fabs(b.mins.z - 60.0f) < 0.01f) {
      large += pieces.casters[i].area();
    } else {
      small += pieces.casters[i].area();
      smallMinX = std::min(smallMinX, b.mins.x);
    }
  }
  EXPECT_NEAR(large, 3600.0f, 0.5f);
  EXPECT_NEAR(small, 175.0f, 0.5f);
  EXPECT_NEAR(smallMinX, 52.5f, 0.01f);
}

TEST(Prelight, TwoSidedSurfacesOnlyCastWithForceShadow) {
  // The plate faces up, so for a light below it is a caster candidate.
  for (uint32_t flags : {0u, uint32_t(kMaterialForceShadow)}) {
    ShadowSurface plate = plateSurface(true, flags, 0);
    ShadowSurface ceiling = quads({{{-100, -100, 90}, {-100, 100, 90}, {100, 100, 90}, {100, -100, 90}}});
    std::vector<ShadowSurface> surfaces = {ceiling, plate};
    PrelightPieces pieces;
    testing::internal::CaptureStdout();
    buildPrelightPolygons(lightAt(Vec3(0, 0, 10), kVolume), surfaces, pieces);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(pieces.casters.num(), flags ? 1 : 0) << flags;
    // Lit: the ceiling always (it faces the light).
    EXPECT_GE(pieces.lit.num(), 1);
  }
}

// A wall with a door, the light on its back side, and the room beyond it: three casters around
// the hole. The volume's pieces cut one another's edges at different points (the far cap behind
// the lintel ends halfway along the far cap behind the wall beside the door): its mesh is closed
// only when every piece carries the others' points in its edges, and no triangle of it is a sliver
// of no area. The room's lit pieces are no part of the volume.
TEST(Prelight, AWallWithADoorGivesAClosedVolume) {
  const float x = 256, far = 512, w = 256, h = 128;
  const ShadowSurface wall = quads({
      {{x, 0, 0}, {x, 96, 0}, {x, 96, h}, {x, 0, h}},  // beside the door, facing +x
      {{x, 160, 0}, {x, w, 0}, {x, w, h}, {x, 160, h}},
      {{x, 96, 96}, {x, 160, 96}, {x, 160, h}, {x, 96, h}},  // the lintel
  });
  const ShadowSurface room = quads({
      {{x, 0, 0}, {far, 0, 0}, {far, w, 0}, {x, w, 0}},  // floor, ceiling and sides, facing in
      {{x, 0, h}, {x, w, h}, {far, w, h}, {far, 0, h}},
      {{x, 0, 0}, {x, 0, h}, {far, 0, h}, {far, 0, 0}},
      {{x, w, 0}, {far, w, 0}, {far, w, h}, {x, w, h}},
  });
  const Plane roomPlanes[] = {Plane(Vec3(0, 0, 1), 0), Plane(Vec3(0, 0, -1), -h), Plane(Vec3(0, 1, 0), 0),
                              Plane(Vec3(0, -1, 0), -w)};
  // The scene also mirrored in x (the rounding of the pieces' points differs).
  auto mirrored = [](ShadowSurface s) {
    for (Vec3& v : s.points)
      v.x = 768 - v.x;
    for (size_t t = 0; t + 2 < s.indexes.size(); t += 3)
      std::swap(s.indexes[t + 1], s.indexes[t + 2]);
    return s;
  };
  // The light's volume ends inside the room (the far caps on its plane) or reaches its end.
  for (const auto& [reach, mirror] :
       {std::pair{300.0f, false}, {500.0f, false}, {300.0f, true}, {500.0f, true}}) {
    SCOPED_TRACE(testing::Message() << reach << (mirror ? " mirrored" : ""));
    const Vec3 p(mirror ? 640 : 128, 128, 100);
    std::vector<ShadowSurface> surfaces = {mirror ? mirrored(wall) : wall, mirror ? mirrored(room) : room};
    PrelightPieces pieces;
    testing::internal::CaptureStdout();
    ASSERT_TRUE(buildPrelightPolygons(
        lightAt(p, Bounds(p - Vec3(reach, reach, reach), p + Vec3(reach, reach, reach))), surfaces, pieces));
    testing::internal::GetCapturedStdout();
    ASSERT_GE(pieces.casters.num(), 2);
    PolygonSet caps;
    for (int i = 0; i < pieces.lit.num(); i++) {
      bool inRoom = false;
      for (const Plane& plane : roomPlanes)
        inRoom = inRoom || pieces.lit[i].planeSide(plane, 0.01f) == ConvexPolygon::kOn;
      if (!inRoom)
        caps.append(pieces.lit[i]);
    }
    ASSERT_GT(caps.num(), 0);
    ShadowMesh mesh;
    const PolygonSet* sets[] = {&pieces.sides, &caps, &pieces.casters};
    ASSERT_TRUE(triangulatePolygons(sets, 3, 0.02f, true, mesh));
    ASSERT_FALSE(mesh.indexes.empty());
    std::map<std::pair<int, int>, int> edges;
    for (size_t t = 0; t + 2 < mesh.indexes.size(); t += 3) {
      const Vec3& a = mesh.points[size_t(mesh.indexes[t])];
      const Vec3& b = mesh.points[size_t(mesh.indexes[t + 1])];
      const Vec3& c = mesh.points[size_t(mesh.indexes[t + 2])];
      EXPECT_GT((b - a).cross(c - a).length(), 0.02f) << "triangle " << t / 3 << " has no area";
      for (int k = 0; k < 3; k++) {
        const int i = mesh.indexes[t + size_t(k)], j = mesh.indexes[t + size_t((k + 1) % 3)];
        edges[{std::min(i, j), std::max(i, j)}]++;
      }
    }
    int open = 0;
    for (const auto& e : edges)
      open += e.second != 2 ? 1 : 0;
    EXPECT_EQ(open, 0) << "edges not shared by exactly two triangles, of " << edges.size();
  }
}

TEST(StaticShadowRules, SideCodesPerAxis) {
  struct Case {
    Vec3 p, v;
    int bits;
  };
  const Case cases[] = {
      {{0, 0, 0}, {0, 0, 0}, 0},
      {{10, 0, 0}, {0, 0, 0}, 1},
      {{-10, 0, 0}, {0, 0, 0}, 2},
      {{0.05f, 0, 0}, {0, 0, 0}, 3},
      {{0, 10, -10}, {0, 0, 0}, (1 << 2) | (2 << 4)},
      {{0, 0, 0}, {0, 0, -0.01f}, 3 << 4},
      // The tolerance is "r_zNear" (3) + 1.
      {{3.5f, 0, 0}, {0, 0, 0}, 3},
      {{0, -3.9f, 0}, {0, 0, 0}, 3 << 2},
      {{4.5f, 0, -4.5f}, {0, 0, 0}, 1 | (2 << 4)},
  };
  for (const Case& c : cases)
    EXPECT_EQ(shadowSideCode(c.p, c.v), c.bits);
}

TEST(StaticShadowRules, CentreAdjustment) {
  struct Case {
    Vec3 center;
    int shape;
    int flags;
    Vec3 expected;
  };
  const Vec3 radius(100, 100, 100);
  const Case cases[] = {
      {{100, 0, -100}, 2, 0, {96, 0, -96}},     // on two faces: 4 units in on each
      {{99.5f, 50, 0}, 1, 0, {95.5f, 50, 0}},   // within 0.999 of a face
      {{50, 0, 0}, 2, 0, {50, 0, 0}},           // inside: unchanged
      {{0, 0, 0}, 4, 0, {4, 0, 0}},             // cone apex: 4 along the first axis row
      {{0, 0, 2}, 2, kLightParallel, {0, 0, 99999}},
  };
  Mat3 axis;
  for (const Case& c : cases) {
    Vec3 center = c.center;
    adjustPrelightCenter(center, radius, axis, c.shape, c.flags);
    EXPECT_TRUE(center.compare(c.expected, 0.01f))
        << center.x << " " << center.y << " " << center.z << " for " << c.center.x << " " << c.center.z;
  }
}

// The prelight pass's light record: which lights it takes, the centre moved off the volume's face,
// and the light's index set to its entity's.
TEST(StaticShadowRules, PrelightLightsTakeTheirEntityIndex) {
  struct Case {
    const char* what;
    std::vector<std::pair<const char*, const char*>> keys;
    bool skipStaticSource;
    bool taken;
  };
  const Case cases[] = {
      {"a shadow-casting light", {}, false, true},
      {"an ambient light", {{"emitAmbient", "1"}}, false, false},
      {"a light without shadows", {{"emitShadows", "0"}}, false, false},
      {"a static source, skipped", {{"staticSource", "1"}}, true, false},
      {"a static source, taken", {{"staticSource", "1"}}, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    KeyDict dict;
    dict.set("classname", "light");
    dict.set("origin", "10 20 30");
    dict.set("light_center", "100 0 0");
    dict.set("radius", "100 100 100");
    for (const auto& [key, value] : c.keys)
      dict.set(key, value);
    MapLight light;
    ASSERT_EQ(prelightLightOf(dict, 7, c.skipStaticSource, light), c.taken);
    if (!c.taken)
      continue;
    EXPECT_EQ(light.index, 7) << "the entity's index";
    EXPECT_TRUE(light.center.compare(Vec3(96, 0, 0), 0.01f)) << "4 units in from the face";
    EXPECT_TRUE(light.origin.compare(Vec3(10, 20, 30), 0.01f));
  }
  MapLight parsed;
  KeyDict plain;
  parseLightEntity(plain, parsed);
  EXPECT_EQ(parsed.index, -1) << "only the prelight pass sets it";
}

TEST(StaticShadowRules, UnnamedLightsAreNamedFromTheCounter) {
  KeyDict world, first, named, second, other, lower;
  world.set("classname", "worldspawn");
  first.set("classname", "light");
  named.set("classname", "light");
  named.set("name", "lamp");
  other.set("classname", "func_static");
  second.set("classname", "light");
  second.set("name", "");
  lower.set("classname", "LIGHT");
  List<KeyDict*> entities;
  for (KeyDict* d : {&world, &first, &named, &other, &second, &lower})
    entities.append(d);
  nameLightEntities(entities);
  EXPECT_STREQ(first.getString("name", ""), "light_32");  // 31 + 1
  EXPECT_STREQ(named.getString("name", ""), "lamp");
  EXPECT_STREQ(other.getString("name", ""), "");
  EXPECT_STREQ(second.getString("name", ""), "light_35");
  EXPECT_STREQ(lower.getString("name", ""), "LIGHT_36");
}

// ---------------------------------------------------------------- the map world's passes

// One area holding a floor and a plate (materials "floor" and "plate"; the plate has a top facing
// up and an underside facing down), and lights.
const char* kShadowMap = R"(!BSP02
areaPortals { 1 0
}
model { "_area0" 2
{ "floor" 4 6 0
( -100 -100 0 ) ( 0 0 ) ( 0 0 ) ( 0 0 1 )
( 100 -100 0 ) ( 1 0 ) ( 1 0 ) ( 0 0 1 )
( 100 100 0 ) ( 1 1 ) ( 1 1 ) ( 0 0 1 )
( -100 100 0 ) ( 0 1 ) ( 0 1 ) ( 0 0 1 )
0 1 2 0 2 3
}
{ "plate" 8 12 0
( -10 -10 50 ) ( 0 0 ) ( 0 0 ) ( 0 0 1 )
( 10 -10 50 ) ( 1 0 ) ( 1 0 ) ( 0 0 1 )
( 10 10 50 ) ( 1 1 ) ( 1 1 ) ( 0 0 1 )
( -10 10 50 ) ( 0 1 ) ( 0 1 ) ( 0 0 1 )
( -10 -10 50 ) ( 0 0 ) ( 0 0 ) ( 0 0 -1 )
( -10 10 50 ) ( 0 1 ) ( 0 1 ) ( 0 0 -1 )
( 10 10 50 ) ( 1 1 ) ( 1 1 ) ( 0 0 -1 )
( 10 -10 50 ) ( 1 0 ) ( 1 0 ) ( 0 0 -1 )
0 1 2 0 2 3 4 5 6 4 6 7
}
}
leafs { 1
{ 0 }
}
nodes { 1
( 0 0 1 -1000 ) -1 -1
}
entities { 5
{
"classname" "worldspawn"
}
{
"classname" "light"
"origin" "0 0 100"
"radius" "150 150 150"
}
{
"classname" "light"
"name" "ambient"
"origin" "0 0 100"
"emitAmbient" "1"
}
{
"classname" "light"
"name" "noshadow"
"origin" "0 0 100"
"emitShadows" "0"
}
{
"classname" "light"
"name" "baked"
"origin" "0 0 100"
"staticSource" "1"
}
}
)";

// Hands area models to the render-model manager with materials of the test's choosing.
class TestSink : public WorldModelSink {
 public:
  std::map<std::string, Material*> materials;
  RenderModel* addModel(const WorldModel& wm) override {
    RenderModel* model = g_renderModelSystem->allocEmptyModel();
    model->init(wm.name.c_str());
    for (const WorldSurface& s : wm.surfaces) {
      SurfaceGeometry* g = model->allocGeometry(s.numVerts(), int(s.indexes.size()));
      for (int v = 0; v < s.numVerts(); v++) {
        g->verts[v] = DrawVertex{};
        for (int k = 0; k < 3; k++)
          g->verts[v].xyz[k] = s.verts[size_t(v) * 10 + size_t(k)];
      }
      for (size_t i = 0; i < s.indexes.size(); i++)
        g->indexes[i] = s.indexes[i];
      auto it = materials.find(s.material);
      model->addSurface({it == materials.end() ? nullptr : it->second, g, s.id});
    }
    g_renderModelSystem->addModel(model);
    return model;
  }
  bool refillModel(RenderModel*, const WorldModel&) override { return false; }  // never reloaded here
};

class WorldShadows : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(getRenderModelSystem(), nullptr);
    for (Material* m : {&floor_, &plate_}) {
      m->cull = 2;
      m->materialFlags = 0;
      m->extraFlags = 0;
    }
    sink_.materials = {{"floor", &floor_}, {"plate", &plate_}};
    g_worldModelSink = &sink_;
    world_ = std::make_unique<BspSpatialSystem>();
    ASSERT_TRUE(world_->loadText(kShadowMap)) << cmd_.output;
  }
  void TearDown() override {
    world_.reset();
    g_worldModelSink = nullptr;
    destroyRenderModelSystem();
  }

  CaptureCmdSystem cmd_;
  Material floor_, plate_;
  TestSink sink_;
  std::unique_ptr<BspSpatialSystem> world_;
};

TEST_F(WorldShadows, MaskModelPerShadowCastingLight) {
  world_->buildShadowMasks();
  // The unnamed light took its name from the counter.
  EXPECT_STREQ((*world_->getEntities())[1]->getString("name", ""), "light_32");
  RenderModel* mask = g_renderModelSystem->findModel("_shadowMask_light_32");
  ASSERT_NE(mask, nullptr);
  ASSERT_EQ(mask->numSurfaces(), 1);
  const ModelSurface* s = mask->getSurface(0);
  ASSERT_NE(s->geometry, nullptr);
  const SurfaceGeometry* g = s->geometry;
  ASSERT_GT(g->numIndexes, 0);
  EXPECT_EQ(g->numIndexes % 3, 0);
  float area = 0.0f;
  for (int t = 0; t + 2 < g->numIndexes; t += 3) {
    for (int k = 0; k < 3; k++)
      ASSERT_TRUE(g->indexes[t + k] >= 0 && g->indexes[t + k] < g->numVerts);
    const float* a = g->verts[g->indexes[t]].xyz;
    const float* b = g->verts[g->indexes[t + 1]].xyz;
    const float* c = g->verts[g->indexes[t + 2]].xyz;
    const Vec3 n = (Vec3(b[0], b[1], b[2]) - Vec3(a[0], a[1], a[2])).cross(Vec3(c[0], c[1], c[2]) - Vec3(a[0], a[1], a[2]));
    area += 0.5f * n.length();
    EXPECT_GT(n.z, 0.0f);  // wound to face the light
  }
  EXPECT_NEAR(area, 1600.0f, 1.0f);
  EXPECT_NEAR(g->bounds.maxs.x, 20.0f, 0.01f);
  EXPECT_EQ(g->verts[0].normal[2], 0.0f);
  // Lights with ambient set or without shadows get none; the static source light does.
  EXPECT_EQ(g_renderModelSystem->findModel("_shadowMask_ambient"), nullptr);
  EXPECT_EQ(g_renderModelSystem->findModel("_shadowMask_noshadow"), nullptr);
  EXPECT_NE(g_renderModelSystem->findModel("_shadowMask_baked"), nullptr);

  // A second build replaces each mask (parsing the light frees the old one) rather than adding
  // another of the same name.
  auto* manager = static_cast<RenderModelManager*>(g_renderModelSystem);
  const int models = manager->numModels();
  world_->buildShadowMasks();
  EXPECT_EQ(manager->numModels(), models);
  RenderModel* again = g_renderModelSystem->findModel("_shadowMask_light_32");
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again->numSurfaces(), 1);
}

TEST_F(WorldShadows, NonCastingMaterialGivesNoMask) {
  plate_.cull = 0;  // two-sided
  world_->buildShadowMasks();
  EXPECT_EQ(g_renderModelSystem->findModel("_shadowMask_light_32"), nullptr);
}

TEST_F(WorldShadows, PrelightModelsCarryShadowVolumes) {
  // The plate's underside casts; the floor and the plate's top are lit.
  testing::internal::CaptureStdout();
  world_->generateStaticShadows(true);
  const std::string printed = testing::internal::GetCapturedStdout();
  EXPECT_NE(printed.find("generating static shadows for '4' lights\n"), std::string::npos) << printed;
  EXPECT_EQ(g_renderModelSystem->findModel("_prelight_baked"), nullptr);  // skipped as a static source
  EXPECT_EQ(g_renderModelSystem->findModel("_prelight_ambient"), nullptr);
  EXPECT_EQ(g_renderModelSystem->findModel("_prelight_noshadow"), nullptr);
  RenderModel* model = g_renderModelSystem->findModel("_prelight_light_32");
  ASSERT_NE(model, nullptr);
  ASSERT_EQ(model->numSurfaces(), 1);
  const ModelSurface* s = model->getSurface(0);
  EXPECT_EQ(s->material, nullptr);
  const SurfaceGeometry* g = s->geometry;
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(g->numVerts, 0);
  EXPECT_EQ(g->numIndexes, 0);
  ASSERT_GT(g->numShadowVerts, 0);
  ASSERT_GT(g->numShadowIndexes, 0);
  for (int i = 0; i < g->numShadowVerts; i++)
    EXPECT_EQ(g->shadowVerts[i * 4 + 3], 1.0f);
  for (int i = 0; i < g->numShadowIndexes; i++)
    ASSERT_TRUE(g->shadowIndexes[i] >= 0 && g->shadowIndexes[i] < g->numShadowVerts);
  // Light (0, 0, 100) after moving off no face: every vertex lies below it, on both sides in x, y.
  EXPECT_EQ(g->clipBits, 0x3 | 0xC | 0x10);
  // The rim's shadow reaches the boundary (the pieces' box grown by 1, z = -1) at +-10 * 101 / 50.
  bool farCorner = false;
  for (int i = 0; i < g->numShadowVerts; i++)
    farCorner = farCorner || Vec3(g->shadowVerts[i * 4], g->shadowVerts[i * 4 + 1], g->shadowVerts[i * 4 + 2])
                                 .compare(Vec3(20.2f, 20.2f, -1.0f), 0.02f);
  EXPECT_TRUE(farCorner);

  testing::internal::CaptureStdout();
  world_->generateStaticShadows(false);
  testing::internal::GetCapturedStdout();
  EXPECT_NE(g_renderModelSystem->findModel("_prelight_baked"), nullptr);
  RenderModel* replaced = g_renderModelSystem->findModel("_prelight_light_32");
  ASSERT_NE(replaced, nullptr);
  EXPECT_EQ(replaced->numSurfaces(), 1);
}

// The map writer writes what the render-model manager holds for the map: each light's generated
// mask as a model block and its prelight volume as a shadow-model block, which a world reads back;
// number groups are written without parentheses except the shadow points.
TEST_F(WorldShadows, TheWriterWritesTheGeneratedModels) {
  // (Reading a light entity frees its stale mask: the masks are built last.)
  testing::internal::CaptureStdout();
  world_->generateStaticShadows(false);
  world_->buildShadowMasks();
  testing::internal::GetCapturedStdout();
  RenderModel* prelight = g_renderModelSystem->findModel("_prelight_light_32");
  ASSERT_NE(prelight, nullptr);
  const int volumePoints = prelight->getSurface(0)->geometry->numShadowVerts;
  const std::string text = world_->writeText();
  EXPECT_NE(text.find("model { /* name = */ \"_shadowMask_light_32\""), std::string::npos) << text;
  EXPECT_NE(text.find("shadowModel { /* name = */ \"_prelight_light_32\""), std::string::npos);
  EXPECT_NE(text.find("model { /* name = */ \"_area0\""), std::string::npos);
  // No "( ... )" groups outside the shadow points: the vertex lines start with a number.
  const size_t area = text.find("\"_area0\"");
  const size_t vertex = text.find('\n', text.find("/* lightmap = */", area)) + 1;
  EXPECT_NE(text[vertex], '(') << text.substr(vertex, 40);
  EXPECT_EQ(text.find("/* node 0 */ ("), std::string::npos);

  BspSpatialSystem again;
  ASSERT_TRUE(again.loadText(text.c_str())) << cmd_.output;
  const WorldModel* mask = again.findWorldModel("_shadowMask_light_32");
  ASSERT_NE(mask, nullptr);
  EXPECT_FALSE(mask->surfaces.empty());
  bool found = false;
  for (const WorldModel& m : again.models())
    if (m.shadow && m.name == "_prelight_light_32") {
      found = true;
      EXPECT_EQ(int(m.shadowPoints.size() / 3), volumePoints);
    }
  EXPECT_TRUE(found) << "the prelight volume reads back";
  EXPECT_EQ(again.getNumAreas(), world_->getNumAreas());
}

TEST(KdWorldShadows, BothPassesDoNothing) {
  ASSERT_NE(getRenderModelSystem(), nullptr);
  KDSpatialSystem world;
  world.buildShadowMasks();
  testing::internal::CaptureStdout();
  world.generateStaticShadows(false);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  destroyRenderModelSystem();
}

}  // namespace
