// Entity readers: defaults and key effects of model, light and speaker entities, and the
// map-entity pass over the sample map.
#include <gtest/gtest.h>

#include <cmath>

#include "lib/keydict.h"
#include "tests/support/capturecmdsystem.h"
#include "tests/world/worldtest_support.h"
#include "world/bspworld.h"
#include "world/mapentities.h"

namespace {

class MapEntitiesTest : public ::testing::Test {
 protected:
  CaptureCmdSystem cmd_;
  void SetUp() override { KeyDict::initPools(); }
};

KeyDict dictOf(std::initializer_list<std::pair<const char*, const char*>> pairs) {
  KeyDict d;
  for (auto& p : pairs)
    d.set(p.first, p.second);
  return d;
}

TEST_F(MapEntitiesTest, ModelEntityDefaultsAndKeys) {
  RenderEntity e;
  EXPECT_EQ(parseModelEntity(dictOf({}), e), 0);
  EXPECT_EQ(e.model, nullptr);
  EXPECT_TRUE(e.bounds.isCleared());
  EXPECT_EQ(e.shaderParms[0], 1.0f);
  EXPECT_EQ(e.shaderParms[3], 1.0f);
  for (int i = 4; i < 12; ++i)
    EXPECT_EQ(e.shaderParms[i], 0.0f);
  EXPECT_EQ(e.axis[0], Vec3(1, 0, 0));

  EXPECT_EQ(parseModelEntity(dictOf({{"origin", "1 2 3"},
                                     {"angles", "0 90 0"},
                                     {"color", "0.5 0.25 0"},
                                     {"shaderParm7", "4"},
                                     {"noshadows", "3"}}),
                             e),
            3);
  EXPECT_EQ(e.origin, Vec3(1, 2, 3));
  EXPECT_NEAR(e.axis[0].y, 1.0f, 1e-5f);  // yaw 90: forward along +y
  EXPECT_EQ(e.shaderParms[1], 0.25f);
  EXPECT_EQ(e.shaderParms[7], 4.0f);
  EXPECT_EQ(e.noShadows, 1);
  // "rotation" wins over "angles".
  parseModelEntity(dictOf({{"rotation", "0 0 1 0 1 0 1 0 0"}, {"angles", "0 90 0"}}), e);
  EXPECT_EQ(e.axis[0], Vec3(0, 0, 1));
}

TEST_F(MapEntitiesTest, LightEntities) {
  MapLight l;
  parseLightEntity(dictOf({{"origin", "10 20 30"}, {"light", "200"}}), l);
  EXPECT_EQ(l.origin, Vec3(10, 20, 30));
  EXPECT_EQ(l.radius, Vec3(200, 200, 200));
  EXPECT_EQ(l.kind, 1);
  EXPECT_EQ(l.shape, 2);
  EXPECT_EQ(l.flags, 0x02 | 0x04);
  EXPECT_EQ(l.bounds, Bounds(Vec3(-190, -180, -170), Vec3(210, 220, 230)));
  EXPECT_EQ(l.color, Vec3(1, 1, 1));

  // Fog: shadows, specular and parallel dropped, ambient set.
  parseLightEntity(dictOf({{"typeName", "VOLUMEFOG"}, {"emitShadows", "1"}, {"emitParallel", "1"},
                           {"light_center", "0 0 5"}, {"allDynamic", "1"}}),
                   l);
  EXPECT_EQ(l.kind, 2);
  EXPECT_EQ(l.flags, 0x01 | 0x10);
  // A zero center never keeps the parallel flag.
  parseLightEntity(dictOf({{"emitParallel", "1"}}), l);
  EXPECT_EQ(l.flags & 0x08, 0);
  parseLightEntity(dictOf({{"emitParallel", "1"}, {"light_center", "1 0 0"}}), l);
  EXPECT_NE(l.flags & 0x08, 0);
  // "light_origin" wins; "radius" wins over "light"; shapes by name.
  parseLightEntity(dictOf({{"light_origin", "1 1 1"}, {"origin", "9 9 9"}, {"radius", "1 2 3"}, {"light", "50"},
                           {"shape", "sphere"}}),
                   l);
  EXPECT_EQ(l.origin, Vec3(1, 1, 1));
  EXPECT_EQ(l.radius, Vec3(1, 2, 3));
  EXPECT_EQ(l.shape, 1);
  // A cone with zero radii stays finite.
  parseLightEntity(dictOf({{"shape", "Cone"}, {"radius", "0 0 0"}}), l);
  EXPECT_EQ(l.shape, 4);
  for (const Plane& p : l.planes)
    EXPECT_TRUE(std::isfinite(p.a) && std::isfinite(p.d));
  parseLightEntity(dictOf({{"shape", "Cone"}, {"radius", "10 10 100"}}), l);
  EXPECT_EQ(l.bounds.maxs.z, 0.0f);
  EXPECT_EQ(l.bounds.mins.z, -100.0f);
}

TEST_F(MapEntitiesTest, SpeakerEntities) {
  SpeakerParams s;
  parseSpeakerEntity(dictOf({}), s);
  EXPECT_EQ(s.parms.flags, 0x04);  // no "s_occlusion": occlusion off
  EXPECT_EQ(s.diversity, -1.0f);
  parseSpeakerEntity(dictOf({{"s_occlusion", "1"}, {"s_looping", "1"}, {"s_omni", "1"}, {"s_global", "1"},
                             {"s_unclamped", "1"}, {"s_maxdistance", "20"}, {"s_soundClass", "2"},
                             {"s_waitfortrigger", "1"}, {"origin", "4 5 6"}, {"s_shakes", "0.5"}}),
                     s);
  EXPECT_EQ(s.parms.flags, 0x10 | 0x20 | 0x08 | 0x80);
  EXPECT_EQ(s.parms.maxDistance, 20.0f);
  EXPECT_EQ(s.parms.soundClass, 2);
  EXPECT_TRUE(s.waitForTrigger);
  EXPECT_EQ(s.origin, Vec3(4, 5, 6));
  EXPECT_EQ(s.parms.reserved, 0.5f);
}

TEST_F(MapEntitiesTest, PassOverTheSampleMap) {
  BspSpatialSystem w;
  ASSERT_TRUE(w.loadText(worldtest::readSourceFile("demo/media/maps/demo.bsp").c_str()));
  runMapEntityPass(&w);
  EXPECT_EQ(mapEntities().models.size(), 4u);  // three crates and the panel
  EXPECT_EQ(mapEntities().lights.size(), 2u);
  EXPECT_EQ(mapEntities().speakers.size(), 1u);
  EXPECT_EQ(mapEntities().lights[1].origin, Vec3(640, 128, 100));
  EXPECT_NE(mapEntities().speakers[0].parms.flags & 0x20, 0);
  runMapEntityPass(nullptr);
  EXPECT_TRUE(mapEntities().lights.empty());
}

}  // namespace
