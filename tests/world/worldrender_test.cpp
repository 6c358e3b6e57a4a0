// Map models reach the renderer: with the render-model manager running, every area and entity
// model of a map becomes a listed world render model with the map's surfaces (same order, area ids,
// real materials), two-sided lit surfaces gain their back sides in place, the world's queries hand
// out those surfaces, and the models go when the world does. Collision reads the same models and
// the materials' real contents through the hooks the manager installs.
#include <gtest/gtest.h>

#include <string>

#include "collision/cmmanager.h"
#include "lib/interface/collisionsystem.h"
#include "lib/keydict.h"
#include "render/material/expression.h"
#include "render/material/material.h"
#include "render/model/rendermodelmanager.h"
#include "render/model/worldrendermodels.h"
#include "system/declmanager.h"
#include "tests/support/capturecmdsystem.h"
#include "tests/support/memoryiosystem.h"
#include "tests/world/worldtest_support.h"
#include "world/bspworld.h"

namespace {

// One area: a two-sided lit panel first, then a one-sided floor; an entity model of one quad.
const char* kTwoSidedMap = R"(!BSP02
areaPortals { 1 0 }
model { "_area0" 2
{ "test/panel" 4 6 0
( 0 0 0 ) ( 0 0 ) ( 0 0 ) ( 1 0 0 )
( 0 50 0 ) ( 1 0 ) ( 1 0 ) ( 1 0 0 )
( 0 50 50 ) ( 1 1 ) ( 1 1 ) ( 1 0 0 )
( 0 0 50 ) ( 0 1 ) ( 0 1 ) ( 1 0 0 )
0 1 2 0 2 3
}
{ "test/floor" 3 3 -1
( 0 0 0 ) ( 0 0 ) ( 0 0 ) ( 0 0 1 )
( 100 0 0 ) ( 1 0 ) ( 1 0 ) ( 0 0 1 )
( 100 50 0 ) ( 1 1 ) ( 1 1 ) ( 0 0 1 )
0 1 2
}
}
model { "lamp" 1
{ "test/floor" 3 3 -1
( 0 0 0 ) ( 0 0 ) ( 0 0 ) ( 0 0 1 )
( 8 0 0 ) ( 1 0 ) ( 1 0 ) ( 0 0 1 )
( 8 8 0 ) ( 1 1 ) ( 1 1 ) ( 0 0 1 )
0 1 2
}
}
leafs { 1 { 0 } }
nodes { 0 }
)";

// One keyword a line, as the material language reads them.
const char* kTestMaterials = R"(
material test/panel
{
	twoSided
	diffusemap textures/panel
}
material test/floor
{
	diffusemap textures/floor
}
material test/water
{
	nonsolid
	surfaceparm water
	diffusemap textures/water
}
)";

class WorldRenderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    KeyDict::initPools();
    clearExpressions();
    ASSERT_NE(createDeclSystem(), nullptr);
    const std::string samples = worldtest::readSourceFile("demo/media/materials/samples.mtx");
    ASSERT_FALSE(samples.empty());
    io_.addFile("textures/samples/wall.mtx", samples);
    for (const char* name : {"test/panel", "test/floor", "test/water"})
      io_.addFile(std::string(name) + ".mtx", kTestMaterials);
    ASSERT_NE(getRenderModelSystem(), nullptr);
  }
  void TearDown() override {
    destroyRenderModelSystem();
    destroyDeclSystem();
    clearExpressions();
  }
  int listed() { return static_cast<RenderModelManager*>(g_renderModelSystem)->numModels(); }

  CaptureCmdSystem cmd_;
  MemoryIOSystem io_;
};

TEST_F(WorldRenderTest, TheManagerInstallsTheHooksAndRemovesThem) {
  EXPECT_NE(g_worldModelSink, nullptr);
  EXPECT_NE(g_collisionRenderModels, nullptr);
  EXPECT_NE(g_collisionMaterialAccess, nullptr);
  EXPECT_NE(g_collisionDebugDraw, nullptr);
  destroyRenderModelSystem();
  EXPECT_EQ(g_worldModelSink, nullptr);
  EXPECT_EQ(g_collisionRenderModels, nullptr);
  EXPECT_EQ(g_collisionMaterialAccess, nullptr);
  EXPECT_EQ(g_collisionDebugDraw, nullptr);
  ASSERT_NE(getRenderModelSystem(), nullptr);
  EXPECT_NE(g_worldModelSink, nullptr);
}

TEST_F(WorldRenderTest, SampleMapAreasBecomeWorldRenderModels) {
  const std::string text = worldtest::readSourceFile("demo/media/maps/demo.bsp");
  ASSERT_FALSE(text.empty());
  const int before = listed();
  {
    BspSpatialSystem world;
    ASSERT_TRUE(world.loadText(text.c_str()));
    ASSERT_EQ(world.getNumAreas(), 3);
    for (int area = 0; area < 3; ++area) {
      RenderModel* model = world.getAreaModel(area);
      ASSERT_NE(model, nullptr) << area;
      const WorldModel* source = world.findWorldModel(("_area" + std::to_string(area)).c_str());
      ASSERT_NE(source, nullptr);
      EXPECT_EQ(g_renderModelSystem->findModel(source->name.c_str()), model);
      EXPECT_NE(model->getFlags() & kModelFlagWorld, 0);
      EXPECT_EQ(model->getMode(), int(kModelGpuBuffers));
      EXPECT_FALSE(model->isDefaultModel());
      ASSERT_EQ(model->numSurfaces(), int(source->surfaces.size()));
      for (int s = 0; s < model->numSurfaces(); ++s) {
        const ModelSurface* surface = model->getSurface(s);
        const WorldSurface& in = source->surfaces[size_t(s)];
        ASSERT_NE(surface->geometry, nullptr);
        EXPECT_EQ(surface->geometry->numVerts, in.numVerts());
        EXPECT_EQ(surface->geometry->numIndexes / 3, int(in.indexes.size() / 3));
        EXPECT_EQ(surface->geometry->lightmap, in.lightmap);
        EXPECT_EQ(surface->id, area);
        ASSERT_NE(surface->material, nullptr);
        EXPECT_STREQ(surface->material->getName(), "textures/samples/wall");
        EXPECT_NE(surface->material->getSurfaceFlags() & kMaterialCollision, 0u) << "the real material, parsed";
        // Positions, both texture pairs and the normal come across; tangents are derived.
        const float* v = &in.verts[0];
        const DrawVertex& dv = surface->geometry->verts[0];
        EXPECT_EQ(Vec3(dv.xyz[0], dv.xyz[1], dv.xyz[2]), Vec3(v[0], v[1], v[2]));
        EXPECT_EQ(dv.spare[0], v[5]);
        EXPECT_EQ(Vec3(dv.normal[0], dv.normal[1], dv.normal[2]), Vec3(v[7], v[8], v[9]));
        EXPECT_NEAR(Vec3(dv.tangents[0][0], dv.tangents[0][1], dv.tangents[0][2]).length(), 1.0f, 1e-3f);
      }
    }
    // The room of the player start holds 8 quads: floor, ceiling, two side walls, the end wall and
    // the wall with the door cut into three pieces; the middle room has a door at both ends.
    EXPECT_EQ(world.getAreaModel(0)->getSurface(0)->geometry->numIndexes / 3, 16);
    EXPECT_EQ(world.getAreaModel(1)->getSurface(0)->geometry->numIndexes / 3, 20);
    // World bounds are those of the render models.
    Bounds b;
    world.getAreaModel(2)->getBounds(b, nullptr);
    EXPECT_EQ(b, Bounds(Vec3(512, 0, 0), Vec3(768, 256, 128)));
    // Entity models listed by name for the map's model entities.
    for (const char* name : {"crate_a", "crate_b", "crate_c"}) {
      RenderModel* crate = g_renderModelSystem->findModel(name);
      ASSERT_NE(crate, nullptr) << name;
      EXPECT_EQ(crate->getSurface(0)->id, -1);
    }
    // Areas, crates, the panel and the two lights' prelight volumes.
    EXPECT_EQ(listed(), before + 9 + (before == 0 ? 1 : 0));
  }
  // The models belong to the render-model manager: the world's end frees none, the map unload
  // frees them all, once.
  EXPECT_NE(g_renderModelSystem->findModel("_area0"), nullptr) << "the world leaves its models to the manager";
  EXPECT_EQ(freeWorldRenderModels(), 9);
  EXPECT_EQ(g_renderModelSystem->findModel("_area0"), nullptr);
  EXPECT_EQ(g_renderModelSystem->findModel("crate_a"), nullptr);
  EXPECT_EQ(freeWorldRenderModels(), 0);
}

TEST_F(WorldRenderTest, BackSidesStayAtTheirMapIndexAndQueriesHandThemOut) {
  BspSpatialSystem world;
  ASSERT_TRUE(world.loadText(kTwoSidedMap)) << cmd_.output;
  RenderModel* area = world.getAreaModel(0);
  ASSERT_NE(area, nullptr);
  ASSERT_EQ(area->numSurfaces(), 2);
  const ModelSurface* panel = area->getSurface(0);
  const ModelSurface* floor = area->getSurface(1);
  EXPECT_STREQ(panel->material->getName(), "test/panel");
  EXPECT_EQ(panel->geometry->numVerts, 8) << "two-sided lit: both sides";
  EXPECT_EQ(panel->geometry->numIndexes, 12);
  EXPECT_EQ(panel->geometry->verts[4].normal[0], -1.0f);
  EXPECT_EQ(panel->id, 0) << "the back-side copy keeps the area number";
  EXPECT_STREQ(floor->material->getName(), "test/floor");
  EXPECT_EQ(floor->geometry->numVerts, 3);
  EXPECT_EQ(panel->geometry->tag, -1);

  // The world's answers are the render surfaces at the same index.
  List<ModelSurface*> found;
  world.surfacesInBounds(found, Bounds(Vec3(-1, -1, -1), Vec3(101, 51, 51)));
  ASSERT_EQ(found.num(), 2);
  for (ModelSurface* s : found) {
    EXPECT_TRUE(s->geometry == panel->geometry || s->geometry == floor->geometry);
    EXPECT_EQ(s->material, s->geometry == panel->geometry ? panel->material : floor->material);
  }
  world.surfacesInBounds(found, Bounds(Vec3(50, 10, -1), Vec3(60, 20, 1)));
  ASSERT_EQ(found.num(), 1);
  EXPECT_EQ(found[0]->geometry, floor->geometry);
  RenderModel* lamp = g_renderModelSystem->findModel("lamp");
  ASSERT_NE(lamp, nullptr);
  EXPECT_NE(lamp->getFlags() & kModelFlagWorld, 0);
}

TEST_F(WorldRenderTest, ReloadingModelsRebuildsWorldModelsFromTheWorld) {
  BspSpatialSystem world;
  ASSERT_TRUE(world.loadText(kTwoSidedMap)) << cmd_.output;
  SpatialSystem* previous = g_spatialSystem;
  g_spatialSystem = &world;
  g_renderModelSystem->reloadModels(true);
  g_spatialSystem = previous;
  RenderModel* area = world.getAreaModel(0);
  ASSERT_NE(area, nullptr);
  ASSERT_EQ(area->numSurfaces(), 2);
  EXPECT_FALSE(area->isDefaultModel());
  EXPECT_STREQ(area->getSurface(0)->material->getName(), "test/panel");
  EXPECT_EQ(area->getSurface(0)->geometry->numVerts, 8);
  EXPECT_NE(area->getFlags() & kModelFlagWorld, 0);
  // The queries hand out the new geometry, not the purged records.
  List<ModelSurface*> found;
  world.surfacesInBounds(found, Bounds(Vec3(-1, -1, -1), Vec3(101, 51, 51)));
  ASSERT_EQ(found.num(), 2);
  for (ModelSurface* s : found) {
    EXPECT_TRUE(s->geometry == area->getSurface(0)->geometry || s->geometry == area->getSurface(1)->geometry);
    EXPECT_EQ(s->geometry->verts[0].xyz[0], 0.0f);
  }
  EXPECT_EQ(g_renderModelSystem->findModel("lamp")->getSurface(0)->geometry->numVerts, 3);
}

// A map's shadow models are listed render models of their own: found by name (the prelight
// look-up of the renderer), their volume in the shadow arrays with the block's cap flags and plane
// bits, freed with the map's other models and not with the world.
TEST_F(WorldRenderTest, ShadowModelBlocksBecomeListedShadowVolumes) {
  std::string text = kTwoSidedMap;
  text.insert(text.find("leafs"), R"(shadowModel { "_prelight_lamp" 4 1 0 6 12
(0 0 0) (10 0 0) (10 10 0) (0 10 5)
0 1 2 0 2 3
}
)");
  {
    BspSpatialSystem world;
    ASSERT_TRUE(world.loadText(text.c_str())) << cmd_.output;
    RenderModel* prelight = g_renderModelSystem->findModel("_PRELIGHT_lamp");
    ASSERT_NE(prelight, nullptr);
    EXPECT_NE(prelight->getFlags() & kModelFlagWorld, 0);
    ASSERT_EQ(prelight->numSurfaces(), 1);
    const SurfaceGeometry* g = prelight->getSurface(0)->geometry;
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(g->numVerts, 0) << "nothing drawn as a mesh";
    ASSERT_EQ(g->numShadowVerts, 4);
    ASSERT_EQ(g->numShadowIndexes, 6);
    EXPECT_EQ(Vec3(g->shadowVerts[12], g->shadowVerts[13], g->shadowVerts[14]), Vec3(0, 10, 5));
    EXPECT_EQ(g->shadowVerts[15], 1.0f);
    EXPECT_EQ(g->shadowIndexes[5], 3);
    EXPECT_EQ(g->noCaps, 1);
    EXPECT_EQ(g->noFrontCaps, 0);
    EXPECT_EQ(g->planeBits, 12);
    EXPECT_EQ(g->bounds, Bounds(Vec3(0, 0, 0), Vec3(10, 10, 5)));
    EXPECT_EQ(world.findWorldModel("_prelight_lamp"), nullptr) << "not an area or entity model";
  }
  EXPECT_NE(g_renderModelSystem->findModel("_prelight_lamp"), nullptr);
  EXPECT_EQ(freeWorldRenderModels(), 3);
  EXPECT_EQ(g_renderModelSystem->findModel("_prelight_lamp"), nullptr);
}

// "reloadModels" reads the world's models again from the map file: an edited file shows, and the
// world's queries hand out the new surfaces.
TEST_F(WorldRenderTest, ReloadingModelsReadsTheEditedMapFile) {
  io_.addFile("maps/edit.bsp", kTwoSidedMap);
  BspSpatialSystem world;
  ASSERT_TRUE(world.load("maps/edit")) << cmd_.output;
  std::string edited = kTwoSidedMap;
  // The floor moves up by 7.
  const std::string from = "( 0 0 0 ) ( 0 0 ) ( 0 0 ) ( 0 0 1 )\n( 100 0 0 )";
  const size_t at = edited.find(from);
  ASSERT_NE(at, std::string::npos);
  edited.replace(at, from.size(), "( 0 0 7 ) ( 0 0 ) ( 0 0 ) ( 0 0 1 )\n( 100 0 7 )");
  io_.addFile("maps/edit.bsp", edited);
  SpatialSystem* previous = g_spatialSystem;
  g_spatialSystem = &world;
  g_renderModelSystem->reloadModels(true);
  g_spatialSystem = previous;
  RenderModel* area = world.getAreaModel(0);
  ASSERT_NE(area, nullptr);
  ASSERT_EQ(area->numSurfaces(), 2);
  EXPECT_EQ(area->getSurface(1)->geometry->verts[0].xyz[2], 7.0f) << "the edited floor";
  EXPECT_EQ(area->getSurface(0)->geometry->numVerts, 8) << "the panel keeps its back side";
  List<ModelSurface*> found;
  world.surfacesInBounds(found, Bounds(Vec3(50, 10, 6), Vec3(60, 20, 8)));
  ASSERT_EQ(found.num(), 1);
  EXPECT_EQ(found[0]->geometry, area->getSurface(1)->geometry);
  // A file that no longer parses fails the reload; one without the file keeps the world's copy.
  io_.addFile("maps/edit.bsp", "!BSP02 model { \"_area0\" 1 { oops");
  g_spatialSystem = &world;
  g_renderModelSystem->reloadModels(true);
  g_spatialSystem = previous;
  EXPECT_NE(cmd_.output.find("Syntax Error"), std::string::npos) << cmd_.output;
}

TEST_F(WorldRenderTest, CollisionReadsRenderModelsAndRealMaterials) {
  BspSpatialSystem world;
  ASSERT_TRUE(world.loadText(kTwoSidedMap)) << cmd_.output;
  CollisionRenderModels* rm = g_collisionRenderModels;
  ASSERT_NE(rm, nullptr);
  EXPECT_TRUE(rm->isKnown("_AREA0"));
  EXPECT_FALSE(rm->isKnown("models/none.mesh"));
  const void* area = rm->load("_area0");
  ASSERT_NE(area, nullptr);
  EXPECT_TRUE(rm->isWorldModel(area));
  EXPECT_FALSE(rm->isDefault(area));
  ASSERT_EQ(rm->numSurfaces(area), 2);
  CollisionRenderSurface s;
  ASSERT_TRUE(rm->surface(area, 1, s));
  EXPECT_EQ(s.numVertices, 3);
  EXPECT_EQ(s.numIndexes, 3);
  ASSERT_NE(s.facePlanes, nullptr);
  EXPECT_NEAR(s.facePlanes[0].normal().z, 1.0f, 1e-5f);
  EXPECT_FALSE(rm->surface(area, 2, s));
  EXPECT_EQ(rm->bounds(area), Bounds(Vec3(0, 0, 0), Vec3(100, 50, 50)));
  EXPECT_TRUE(rm->isDefault(rm->load("models/none.mesh")));

  CollisionMaterialAccess* materials = g_collisionMaterialAccess;
  ASSERT_NE(materials, nullptr);
  Material* wall = materials->find("textures/samples/wall");
  Material* water = materials->find("test/water");
  Material* panel = materials->find("test/panel");
  ASSERT_TRUE(wall && water && panel);
  EXPECT_STREQ(materials->name(wall), "textures/samples/wall");
  EXPECT_EQ(materials->contents(wall) & kContentsSolid, int(kContentsSolid));
  EXPECT_NE(materials->surfaceFlags(wall) & kMaterialCollision, 0);
  EXPECT_EQ(materials->contents(water) & kContentsSolid, 0) << "nonsolid";
  EXPECT_NE(materials->contents(water) & kContentsWater, 0);
  EXPECT_EQ(materials->cullType(panel), 0) << "two-sided";
  EXPECT_NE(materials->cullType(wall), 0);
  EXPECT_NE(materials->find("no/such/material"), nullptr) << "a default stands in";
}

TEST_F(WorldRenderTest, CollisionBuildsModelsFromTheMapsRenderModels) {
  BspSpatialSystem world;
  ASSERT_TRUE(world.loadText(worldtest::readSourceFile("demo/media/maps/demo.bsp").c_str())) << cmd_.output;
  CollisionManager cm;
  cm.loadMap("nomap.bsp", false);  // index 0 stands for the world model, here "empty"
  // The crate's faces carry the wall material, which collides: the box becomes a brush.
  const int crate = cm.findOrLoadModel("crate_a");
  ASSERT_GT(crate, 0);
  ASSERT_EQ(cm.modelByIndex(crate)->numBrushes(), 1);
  int contents = 0;
  ASSERT_TRUE(cm.modelContents(crate, contents));
  EXPECT_NE(contents & kContentsSolid, 0);
  TraceResult r;
  cm.translation(&r, Vec3(-100, 0, 0), Vec3(100, 0, 0), nullptr, Mat3::identity(), kContentsClipMask, crate,
                 Vec3(), Mat3::identity());
  EXPECT_LT(r.fraction, 1.0f);
  EXPECT_NEAR(r.endPos.x, -16.0f, 0.25f);
  EXPECT_EQ(cm.findOrLoadModel("models/none.mesh"), 0) << "nothing is built from an unknown name";
}

TEST_F(WorldRenderTest, CollisionDebugPolygonsGoToTheSceneRenderer) {
  ASSERT_NE(g_collisionDebugDraw, nullptr);
  ConvexPolygon tri;
  tri.numPoints = 3;
  tri.points[1] = Vec3(1, 0, 0);
  tri.points[2] = Vec3(0, 1, 0);
  const Mat3 turned(Vec3(0, 1, 0), Vec3(-1, 0, 0), Vec3(0, 0, 1));
  g_collisionDebugDraw->polygon(Vec4(1, 0, 1, 1), tri, Vec3(5, 6, 7), turned, 0, true);  // no renderer: nothing

  worldtest::DebugRecorder recorder;
  g_collisionDebugDraw->polygon(Vec4(1, 0, 1, 1), tri, Vec3(5, 6, 7), turned, 0, true);
  g_collisionDebugDraw->polygon(Vec4(0, 1, 0, 1), tri, Vec3(), Mat3::identity(), 40, false);
  ASSERT_EQ(recorder.polygons.size(), 2u);
  const worldtest::DebugRecorder::Polygon& first = recorder.polygons[0];
  EXPECT_EQ(first.color, Vec4(1, 0, 1, 1));
  EXPECT_EQ(first.winding.numPoints, 3);
  EXPECT_EQ(first.winding.points[1], Vec3(1, 0, 0));
  EXPECT_EQ(first.origin, Vec3(5, 6, 7));
  EXPECT_EQ(first.axis[0], Vec3(0, 1, 0));
  EXPECT_EQ(first.lifetime, 0);
  EXPECT_TRUE(first.depthTest);
  EXPECT_EQ(recorder.polygons[1].lifetime, 40);
  EXPECT_FALSE(recorder.polygons[1].depthTest);
}

}  // namespace
