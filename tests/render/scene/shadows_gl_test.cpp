// Shadows of static casters on llvmpipe: the world surfaces a light reaches cast from volumes built
// once per light and cached (the same shadowed pixels as volumes rebuilt every frame for entities),
// rebuilt when the light moves; a map's prelight volume replaces them when "r_useEmapShadows" is set;
// a light that asks for a shadow map darkens the same pixels through the "_shadowMap" target.
#include <memory>

#include "lib/keydict.h"
#include "system/declmanager.h"
#include "tests/render/scene/support/lightinggl.h"
#include "world/staticshadows.h"

namespace {

using lightinggl::LightingGLTest;
using lightinggl::Rgb;

// One area holding the world surfaces it is given; every query answers that area.
class OneAreaWorld : public SpatialSystem {
 public:
  bool load(const char*) override { return true; }
  int pointToArea(const float*) override { return 0; }
  int getNumAreas() override { return 1; }
  int areasInBounds(const Bounds&, int* out, int max) override { return one(out, max); }
  int areasVisibleFromPoint(const Vec3&, const Bounds&, int* out, int max) override { return one(out, max); }
  int areasVisibleFromView(const SpatialView*, int* out, int max) override { return one(out, max); }
  void surfacesVisibleFromView(SurfaceList* list, const SpatialView*, const AreaBitArray&) override {
    for (ModelSurface* s : surfaces)
      list->append(s);
  }
  void surfacesVisibleFromPoint(SurfaceList& list, const Vec3&, const Bounds&) override {
    for (ModelSurface* s : surfaces)
      list.append(s);
  }
  void surfacesInBounds(SurfaceList& list, const Bounds&) override {
    for (ModelSurface* s : surfaces)
      list.append(s);
  }
  bool boundsTouchAreaMask(const AreaBitArray&, const Bounds&) override { return true; }
  const List<KeyDict*>* getEntities() override { return &entities; }

  List<ModelSurface*> surfaces;
  List<KeyDict*> entities;

 private:
  static int one(int* out, int max) {
    if (max < 1)
      return 0;
    out[0] = 0;
    return 1;
  }
};

class ShadowsGLTest : public LightingGLTest {
 protected:
  void TearDown() override {
    for (KeyDict* d : world.entities)
      delete d;
    world.entities.clear();
    if (g_declSystem != nullptr) {
      manager.reset();  // its shadow-map materials come from the declarations
      destroyDeclSystem();
    }
    LightingGLTest::TearDown();
  }

  // The shadow maps' depth-fill and compare materials of the sample content, looked up by the
  // renderer as a map load does (the declarations read "<name>.mtx" for a name they lack).
  void shadowMapMaterials() {
    lightingMaterials = lightinggl::readSource("demo/media/materials/lighting.mtx");
    io.addFile("_renderDepth.mtx", lightingMaterials);
    io.addFile("_renderShadowMap.mtx", lightingMaterials);
    ASSERT_NE(createDeclSystem(), nullptr);
    manager->findLightingMaterials();
  }

  // The wall and the box of the shadow scene, as world surfaces of area 0.
  void worldScene() {
    for (BaseModel* m : {box(wallMaterial, Vec3(100, -80, -60), Vec3(104, 80, 60)),
                         box(wallMaterial, Vec3(66, -4, 11), Vec3(74, 4, 19))}) {
      ModelSurface* s = m->getSurface(0);
      s->id = 0;
      world.surfaces.append(s);
    }
    g_spatialSystem = &world;
  }

  // Samples across the wall around the shadow of the box.
  std::vector<Rgb> row() {
    std::vector<Rgb> out;
    for (float y = -20; y <= 20; y += 4)
      for (float z = -20; z <= 20; z += 10)
        out.push_back(atWorld(Vec3(100, y, z)));
    return out;
  }

  OneAreaWorld world;
  std::string lightingMaterials;
};

const Vec3 kInShadow(100, 0, 0);
const Vec3 kLit(100, 0, -30);

TEST_F(ShadowsGLTest, StaticCastersDrawFromACacheWithTheSamePixelsAsPerFrameVolumes) {
  // Entities: volumes rebuilt in every frame.
  addEntity(box(wallMaterial, Vec3(100, -80, -60), Vec3(104, 80, 60)));
  addEntity(box(wallMaterial, Vec3(66, -4, 11), Vec3(74, 4, 19)));
  addLight(Vec3(40, 0, 30), Vec3(300, 300, 300), kLightShadows);
  render();
  const std::vector<Rgb> perFrame = row();
  EXPECT_LT(atWorld(kInShadow).sum(), 40) << console.text;
  EXPECT_GT(atWorld(kLit).sum(), 250);
  EXPECT_GE(manager->shadowVolumesBuilt(), 2);
  render();
  EXPECT_GE(manager->shadowVolumesBuilt(), 2) << "dynamic casters are rebuilt in every frame";

  // The same scene as world surfaces the light reaches.
  for (int e = 0; e < manager->numEntitySlots(); e++)
    if (manager->getRenderEntity(e))
      manager->freeEntityDef(e);
  worldScene();
  manager->precacheInteractions();  // the light sees the new world
  RenderLight moved = *manager->getLightDef(0);
  render();
  const int firstBuild = manager->shadowVolumesBuilt();
  EXPECT_GE(firstBuild, 2) << "built once for the light";
  const std::vector<Rgb> cached = row();
  ASSERT_EQ(cached.size(), perFrame.size());
  for (size_t i = 0; i < cached.size(); i++) {
    SCOPED_TRACE(i);
    EXPECT_NEAR(cached[i].sum(), perFrame[i].sum(), 6);
  }
  render();
  EXPECT_EQ(manager->shadowVolumesBuilt(), 0) << "drawn from the cache";
  EXPECT_GT(manager->shadowTrianglesDrawn(), 0);
  EXPECT_LT(atWorld(kInShadow).sum(), 40);

  // A moved light rebuilds its volumes once: the shadow moves with it.
  moved.origin = Vec3(40, 0, -30);
  manager->updateLightDef(0, &moved);
  render();
  EXPECT_EQ(manager->shadowVolumesBuilt(), firstBuild);
  EXPECT_GT(atWorld(kInShadow).sum(), 250) << "no longer in the box's shadow";
  render();
  EXPECT_EQ(manager->shadowVolumesBuilt(), 0);
  // "r_skipDynamicShadows" leaves the world volumes out as well.
  g_conVarSystem->setInt("r_skipDynamicShadows", 1);
  moved.origin = Vec3(40, 0, 30);
  manager->updateLightDef(0, &moved);
  render();
  EXPECT_GT(atWorld(kInShadow).sum(), 250);
  g_conVarSystem->setInt("r_skipDynamicShadows", 0);
}

// A closed box of shadow-volume triangles (w 1) in the format of the map's prelight models.
BaseModel* prelightBox(const char* name, const Vec3& mins, const Vec3& maxs) {
  BaseModel* model = new BaseModel();
  model->init(name);
  SurfaceGeometry* g = model->allocGeometry(8, 36);
  float* verts = reinterpret_cast<float*>(g->verts);
  for (int i = 0; i < 8; i++) {
    verts[i * 4 + 0] = (i & 1) ? maxs.x : mins.x;
    verts[i * 4 + 1] = (i & 2) ? maxs.y : mins.y;
    verts[i * 4 + 2] = (i & 4) ? maxs.z : mins.z;
    verts[i * 4 + 3] = 1.0f;
  }
  static const int kQuads[6][4] = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4},
                                   {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}};
  int n = 0;
  for (const auto& q : kQuads)
    for (int k : {0, 1, 2, 0, 2, 3})
      g->indexes[n++] = q[k];
  g->shadowVerts = verts;
  g->numShadowVerts = 8;
  g->shadowIndexes = g->indexes;
  g->numShadowIndexes = 36;
  g->numVerts = 0;
  g->numIndexes = 0;
  g->bounds = Bounds(mins, maxs);
  model->addSurface({nullptr, g, -1});
  return model;
}

TEST_F(ShadowsGLTest, AMapLightsPrelightVolumeReplacesTheBuiltOnes) {
  // Only the wall: nothing of the world would cast. The prelight volume stands for a caster.
  BaseModel* wall = box(wallMaterial, Vec3(100, -80, -60), Vec3(104, 80, 60));
  wall->getSurface(0)->id = 0;
  world.surfaces.append(wall->getSurface(0));
  g_spatialSystem = &world;
  g_renderModelSystem->addModel(prelightBox("_prelight_lamp", Vec3(90, -10, -10), Vec3(102, 10, 10)));
  KeyDict* lamp = new KeyDict();
  lamp->set("classname", "light");
  lamp->set("name", "lamp");
  lamp->set("origin", "40 0 30");
  world.entities.append(lamp);
  KeyDict* other = new KeyDict();
  other->set("classname", "light");
  other->set("name", "elsewhere");
  other->set("origin", "0 0 0");
  world.entities.append(other);
  addLight(Vec3(40, 0, 30), Vec3(300, 300, 300), kLightShadows);

  render();
  EXPECT_EQ(manager->lightRecord(0)->staticShadowModel0, g_renderModelSystem->findModel("_prelight_lamp"))
      << "found by the light entity standing where the light does";
  EXPECT_LT(atWorld(kInShadow).sum(), 40) << console.text;
  EXPECT_GT(atWorld(Vec3(100, 20, 0)).sum(), 250) << "outside the prelight volume";
  EXPECT_EQ(manager->shadowVolumesBuilt(), 0) << "nothing built: the map's volume is used";

  // Without "r_useEmapShadows" the light model's surfaces cast (the wall alone: no shadow there).
  g_conVarSystem->setInt("r_useEmapShadows", 0);
  render();
  EXPECT_GT(atWorld(kInShadow).sum(), 250);
  g_conVarSystem->setInt("r_useEmapShadows", 1);
  render();
  EXPECT_LT(atWorld(kInShadow).sum(), 40);
}

TEST_F(ShadowsGLTest, AShadowMapDarkensTheWallWhereTheStencilVolumesDo) {
  shadowMapMaterials();
  addEntity(box(wallMaterial, Vec3(100, -80, -60), Vec3(104, 80, 60)));
  addEntity(box(wallMaterial, Vec3(66, -4, 11), Vec3(74, 4, 19)));
  const int light = addLight(Vec3(40, 0, 30), Vec3(300, 300, 300), kLightShadows);
  render();
  const std::vector<Rgb> stencil = row();
  EXPECT_EQ(manager->shadowMapsRendered(), 0);

  RenderLight mapped = *manager->getLightDef(light);
  mapped.flags |= kLightShadowMap;
  manager->updateLightDef(light, &mapped);
  render();
  EXPECT_EQ(manager->shadowMapsRendered(), 1) << console.text;
  EXPECT_EQ(manager->shadowMapCasters(), 2);
  EXPECT_EQ(manager->shadowTrianglesDrawn(), 0) << "no volumes in shadow-map mode";
  ASSERT_NE(manager->shadowMapTarget(), nullptr);
  EXPECT_LT(atWorld(kInShadow).sum(), 40) << console.text;
  EXPECT_GT(atWorld(kLit).sum(), 250) << "the lit wall does not shadow itself";
  EXPECT_GT(atWorld(Vec3(100, 30, 0)).sum(), 250);
  // The same shadow as the volumes, but for the edge pixels the map's texels round differently.
  const std::vector<Rgb> mapped1 = row();
  int differ = 0;
  for (size_t i = 0; i < stencil.size(); i++)
    differ += std::abs(mapped1[i].sum() - stencil[i].sum()) > 60;
  EXPECT_LE(differ, 2) << "of " << stencil.size();

  // Shadow maps stay off with "r_lightquality" 1 and "r_skipDynamicShadows": the volumes serve.
  for (const char* off : {"r_skipDynamicShadows", "r_lightquality"}) {
    SCOPED_TRACE(off);
    const int before = g_conVarSystem->getInt(off);
    g_conVarSystem->setInt(off, 1);
    render();
    EXPECT_EQ(manager->shadowMapsRendered(), 0);
    g_conVarSystem->setInt(off, before);
  }
  // The light's owner casts no shadow into its map.
  mapped.ownerId = 2;
  manager->updateLightDef(light, &mapped);
  render();
  EXPECT_EQ(manager->shadowMapCasters(), 1);
  EXPECT_GT(atWorld(kInShadow).sum(), 250);
}

// The prelight volume the static-shadow builder makes for the box scene, registered as a map would
// have it, is a closed surface once the receivers' lit triangles are left out: the light casts
// from it with the same pixels as from the world's surfaces. Cut down to one triangle it is open
// (drawn, it would darken lit surfaces): the light says so and casts from the world's surfaces
// instead.
TEST_F(ShadowsGLTest, ThePrelightVolumeOfTheBuilderCastsAndAnOpenOneFallsBack) {
  worldScene();
  const int light = addLight(Vec3(40, 0, 30), Vec3(300, 300, 300), kLightShadows);
  g_conVarSystem->setInt("r_useEmapShadows", 0);
  render();
  const std::vector<Rgb> built = row();
  EXPECT_LT(atWorld(kInShadow).sum(), 40) << console.text;

  // The builder's input: the same surfaces, one-sided and lit.
  std::vector<ShadowSurface> surfaces;
  for (ModelSurface* m : world.surfaces) {
    ShadowSurface s;
    const SurfaceGeometry* g = m->geometry;
    for (int v = 0; v < g->numVerts; v++)
      s.points.push_back(Vec3(g->verts[v].xyz[0], g->verts[v].xyz[1], g->verts[v].xyz[2]));
    s.indexes.assign(g->indexes, g->indexes + g->numIndexes);
    s.interaction = true;
    s.cull = 2;
    surfaces.push_back(s);
  }
  ShadowLight shadowLight;
  shadowLight.point = Vec3(40, 0, 30);
  for (int i = 0; i < 6; i++)
    shadowLight.planes[i] = manager->getLightDef(light)->planes[i];
  PrelightPieces pieces;
  testing::internal::CaptureStdout();
  ASSERT_TRUE(buildPrelightPolygons(shadowLight, surfaces, pieces));
  testing::internal::GetCapturedStdout();
  ShadowMesh mesh;
  const PolygonSet* sets[] = {&pieces.sides, &pieces.lit, &pieces.casters};
  ASSERT_TRUE(triangulatePolygons(sets, 3, 0.02f, true, mesh));
  ASSERT_FALSE(mesh.indexes.empty());
  // Stored the way the map's static shadows store it.
  BaseModel* model = new BaseModel();
  model->init("_prelight_lamp");
  SurfaceGeometry* g = model->allocGeometry(int(mesh.points.size()), int(mesh.indexes.size()));
  float* verts = reinterpret_cast<float*>(g->verts);
  g->bounds.clear();
  for (size_t v = 0; v < mesh.points.size(); v++) {
    verts[v * 4] = mesh.points[v].x;
    verts[v * 4 + 1] = mesh.points[v].y;
    verts[v * 4 + 2] = mesh.points[v].z;
    verts[v * 4 + 3] = 1.0f;
    g->clipBits |= shadowSideCode(shadowLight.point, mesh.points[v]);
    g->bounds.addPoint(mesh.points[v]);
  }
  std::copy(mesh.indexes.begin(), mesh.indexes.end(), g->indexes);
  g->shadowVerts = verts;
  g->numShadowVerts = int(mesh.points.size());
  g->shadowIndexes = g->indexes;
  g->numShadowIndexes = int(mesh.indexes.size());
  g->numVerts = 0;
  g->numIndexes = 0;
  model->addSurface({nullptr, g, -1});
  g_renderModelSystem->addModel(model);
  KeyDict* lamp = new KeyDict();
  lamp->set("classname", "light");
  lamp->set("name", "lamp");
  lamp->set("origin", "40 0 30");
  world.entities.append(lamp);

  g_conVarSystem->setInt("r_useEmapShadows", 1);
  manager->precacheInteractions();
  render();
  ASSERT_EQ(manager->lightRecord(light)->staticShadowModel0, model);
  EXPECT_EQ(console.text.find("not closed"), std::string::npos) << console.text;
  EXPECT_TRUE(manager->lightRecord(light)->cachedFromPrelight);
  EXPECT_EQ(manager->shadowVolumesBuilt(), 0) << "the map's volume is used";
  auto sameAsBuilt = [&] {
    const std::vector<Rgb> now = row();
    ASSERT_EQ(now.size(), built.size());
    for (size_t i = 0; i < now.size(); i++) {
      SCOPED_TRACE(i);
      EXPECT_NEAR(now[i].sum(), built[i].sum(), 6);
    }
    EXPECT_GT(atWorld(kLit).sum(), 250);
  };
  sameAsBuilt();

  // One triangle of it is all edges once.
  g->numShadowIndexes = 3;
  manager->precacheInteractions();
  console.text.clear();
  render();
  EXPECT_NE(console.text.find("WARNING: the prelight volume of light 0 is not closed"), std::string::npos)
      << console.text;
  EXPECT_GT(manager->shadowVolumesBuilt(), 0);
  sameAsBuilt();
  // Decided once per light refresh: the next frame neither warns nor builds.
  console.text.clear();
  render();
  EXPECT_EQ(manager->shadowVolumesBuilt(), 0);
  EXPECT_EQ(console.text.find("not closed"), std::string::npos);
}

// Without the compare program no shadow map can be made: the light falls back to shadow volumes.
// Without the compare program, or without either material, no shadow map can be made: the light
// falls back to shadow volumes.
TEST_F(ShadowsGLTest, AShadowMapLightWithoutItsProgramOrMaterialsCastsShadowVolumes) {
  struct Case {
    const char* what;
    bool materials;
    const char* missingProgram;
  };
  // In this order: the second case brings the declarations the first goes without.
  const Case kCases[] = {{"no shadow-map materials", false, nullptr},
                         {"no compare program", true, "glprogs/shadowMap.vfp"}};
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    if (c.missingProgram != nullptr)
      io.files.erase(c.missingProgram);
    if (c.materials)
      shadowMapMaterials();
    addEntity(box(wallMaterial, Vec3(100, -80, -60), Vec3(104, 80, 60)));
    addEntity(box(wallMaterial, Vec3(66, -4, 11), Vec3(74, 4, 19)));
    const int light = addLight(Vec3(40, 0, 30), Vec3(300, 300, 300), kLightShadows | kLightShadowMap);
    render();
    EXPECT_EQ(manager->shadowMapsRendered(), 0);
    EXPECT_GT(manager->shadowTrianglesDrawn(), 0);
    EXPECT_LT(atWorld(kInShadow).sum(), 40) << console.text;
    EXPECT_GT(atWorld(kLit).sum(), 250);
    for (int e = 0; e < manager->numEntitySlots(); e++)
      if (manager->getRenderEntity(e))
        manager->freeEntityDef(e);
    manager->freeLightDef(light);
  }
}

}  // namespace
