// Particle geometry: what each kind writes against what it reserved (a property test over random
// effects), the quad, beam, model and ribbon builders, request order, and surfaces of another
// material.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "lib/interface/rendermodelsystem.h"
#include "lib/interface/renderview.h"
#include "render/material/material.h"
#include "render/model/basemodel.h"
#include "effects/support/fxstandins.h"

namespace {

using fxtest::EffectsTest;
using fxtest::makeParams;

class GeometryTest : public EffectsTest {
 protected:
  void SetUp() override {
    EffectsTest::SetUp();
    ASSERT_NE(getRenderModelSystem(), nullptr);
    for (const char* name : {"fx/b", "fx/a", "fx/c"})
      defineMaterial(name);
    for (const char* name : {"fx/a", "fx/b", "fx/c"})
      materials_.push_back(findMaterial(name, false));
    for (Material* m : materials_)
      ASSERT_NE(m, nullptr);
    model_ = std::make_unique<BaseModel>();
    model_->init("target");
    view_.origin = Vec3(-50, -70, 30);
    view_.axis = Mat3::identity();
  }
  void TearDown() override {
    source_.reset();
    model_.reset();
    destroyRenderModelSystem();
    EffectsTest::TearDown();
  }

  // The surfaces of the segment's requests in `model_`, then its geometry.
  void build(EffectSegmentInstance& instance, const DeclEffectSegment& segment, const RenderEffectParams& params) {
    requests_.clear();
    instance.addSurfaces(requests_, segment);
    model_->init("target");
    for (const EffectSurfaceRequest& r : requests_) {
      SurfaceGeometry* g = model_->allocGeometry(r.numVerts, r.numIndexes);
      ASSERT_NE(g, nullptr);
      g->numVerts = 0;
      g->numIndexes = 0;
      model_->addSurface({r.material, g, -1});
    }
    const EffectView view{view_.axis, view_.origin};
    instance.buildGeometry(requests_, model_.get(), params, segment, view);
  }

  // A model of two surfaces (a quad and a triangle) to emit.
  RenderModel* sourceModel() {
    source_ = std::make_unique<BaseModel>();
    source_->init("source");
    const int counts[2][2] = {{4, 6}, {3, 3}};
    for (int s = 0; s < 2; s++) {
      SurfaceGeometry* g = source_->allocGeometry(counts[s][0], counts[s][1]);
      for (int v = 0; v < counts[s][0]; v++) {
        g->verts[v] = DrawVertex{};
        g->verts[v].xyz[0] = float(v);
        g->verts[v].normal[2] = 1.0f;
      }
      for (int i = 0; i < counts[s][1]; i++)
        g->indexes[i] = i % counts[s][0];
      source_->addSurface({materials_[size_t(s)], g, -1});
    }
    return source_.get();
  }

  static void setState(Particle* p, float alpha, float width, float length) {
    p->currentState.alpha = alpha;
    p->currentState.width = width;
    p->currentState.length = length;
  }

  std::vector<Material*> materials_;
  std::unique_ptr<BaseModel> model_;
  std::unique_ptr<BaseModel> source_;
  List<EffectSurfaceRequest> requests_{16};
  RenderView view_;
};

DeclEffectSegment emitter(int type, Material* material, int particles) {
  DeclEffectSegment s("emitter", "a");
  s.type = type;
  s.particles.material = material;
  s.particles.flags = kSegmentSpawnAtOnce;
  s.count = {particles, particles};
  s.duration = {10.0f, 10.0f};
  s.particles.lifetime = {5.0f, 5.0f};
  for (ParticleState* st : {&s.particles.startRange.min, &s.particles.startRange.max, &s.particles.endRange.min,
                            &s.particles.endRange.max}) {
    st->tint = Vec3(1, 0.5f, 0.25f);
    st->alpha = 1.0f;
    st->width = 2.0f;
    st->length = 3.0f;
  }
  s.particles.startRange.max.position = Vec3(100, 100, 100);
  return s;
}

TEST_F(GeometryTest, WrittenGeometryNeverExceedsItsReservationAndMatchesItForVisibleParticles) {
  std::srand(99);
  RenderModel* model = sourceModel();
  for (int trial = 0; trial < 400; trial++) {
    const int type = 1 + std::rand() % 5;
    const int n = 1 + std::rand() % 40;
    DeclEffectSegment s = emitter(type, materials_[size_t(std::rand() % 3)], n);
    ParticleBlock& b = s.particles;
    if (type == kSegmentModel) {
      b.model = model;
      if (std::rand() % 2)
        b.material = nullptr;  // each model surface keeps its own material
    }
    b.trailType = std::rand() % 2;
    b.trailCount = {std::rand() % 9, std::rand() % 9};  // a minimum above the maximum too
    b.trailTime = {0.01f, 0.05f};
    b.flags |= (std::rand() % 3 == 0) ? kSegmentLocked : 0;
    const bool hidden = std::rand() % 3 == 0;
    RenderEffectParams params = makeParams(nullptr, true);
    params.origin = Vec3(5, 5, 5);
    params.hasEndOrigin = std::rand() % 4 == 0;
    params.endOrigin = Vec3(200, 0, 50);
    b.startRange.min.velocity = Vec3(-50, -50, -50);
    b.startRange.max.velocity = Vec3(50, 50, 50);
    if (std::rand() % 4 == 0) {
      b.startRange.min.length = 1.0f;  // "useEndOrigin"
      b.startRange.max.length = 0.0f;
    }

    // Now and then a fast spray, whose trail and strip points lie far apart: no welding, no
    // degenerate pair.
    const bool spread = std::rand() % 3 == 0;
    if (spread) {
      b.startRange.min.velocity = Vec3(2000, 2000, 0);
      b.startRange.max.velocity = Vec3(2000, 2000, 0);
      b.startRange.min.position = Vec3();
      b.startRange.max.position = Vec3();
      b.flags &= ~kSegmentLocked;
      params.hasEndOrigin = false;
    }
    EffectSegmentInstance instance;
    instance.start(0.0f, params, s);
    for (int step = 1; step <= 5; step++)
      instance.update(0.02f * float(step), params, s);
    ASSERT_EQ(instance.numParticles(), n);
    if (spread && type == kSegmentLinked) {
      int k = 0;  // strip points one per particle, far apart along a line seen from the side
      for (Particle* p = instance.firstParticle(); p; p = p->ownerNode.nextOwner(), k++)
        p->currentState.position = Vec3(float(k) * 40.0f, float(k) * 40.0f, 0.0f);
    }
    if (hidden) {
      int k = 0;
      for (Particle* p = instance.firstParticle(); p; p = p->ownerNode.nextOwner(), k++)
        setState(p, k % 3 == 0 ? 0.0f : 1.0f, k % 3 == 1 ? 0.0f : 2.0f, 3.0f);
    }
    build(instance, s, params);
    ASSERT_EQ(model_->numSurfaces(), requests_.num());
    for (int i = 0; i < requests_.num(); i++) {
      const SurfaceGeometry* g = model_->getSurface(i)->geometry;
      ASSERT_LE(g->numVerts, requests_[i].numVerts) << "trial " << trial << " type " << type;
      ASSERT_LE(g->numIndexes, requests_[i].numIndexes) << "trial " << trial << " type " << type;
      ASSERT_EQ(g->numIndexes % 3, 0);
      for (int k = 0; k < g->numIndexes; k++)
        ASSERT_TRUE(g->indexes[k] >= 0 && g->indexes[k] < g->numVerts) << "trial " << trial;
      const bool quads = (type == kSegmentSprite || type == kSegmentOriented) && b.trailType == kTrailFixed;
      if ((quads || type == kSegmentLine) && !hidden) {
        EXPECT_EQ(g->numVerts, requests_[i].numVerts) << "trial " << trial << " type " << type;
        EXPECT_EQ(g->numIndexes, requests_[i].numIndexes) << "trial " << trial;
      }
      // Ribbons write all they reserve, growing trails, welded points and hidden particles included:
      // the reservation counts what the builder will write.
      if ((type == kSegmentLinked || (b.trailType == kTrailMotion && type != kSegmentLine))) {
        EXPECT_EQ(g->numVerts, requests_[i].numVerts) << "trial " << trial << " type " << type;
        EXPECT_EQ(g->numIndexes, requests_[i].numIndexes) << "trial " << trial << " type " << type;
      }
      if (type == kSegmentModel) {
        EXPECT_EQ(g->numVerts, requests_[i].numVerts) << "models draw every particle";
        EXPECT_EQ(g->numIndexes, requests_[i].numIndexes);
      }
    }
  }
}

TEST_F(GeometryTest, ReservationRows) {
  struct Row {
    int type;
    int trailType;
    IntRange trail;
    int verts, indexes;  // for 10 particles
  };
  const Row rows[] = {
      {kSegmentSprite, kTrailFixed, {0, 0}, 40, 60},    {kSegmentOriented, kTrailFixed, {0, 0}, 40, 60},
      // Ribbons of t points: two vertices for each point but the last, a quad between pairs.
      {kSegmentSprite, kTrailMotion, {2, 5}, 80, 180},  {kSegmentSprite, kTrailMotion, {6, 3}, 100, 240},
      {kSegmentSprite, kTrailMotion, {0, 0}, 0, 0},     {kSegmentSprite, kTrailMotion, {2, 2}, 0, 0},
      {kSegmentLine, kTrailFixed, {0, 0}, 40, 60},      {kSegmentLine, kTrailMotion, {4, 4}, 40, 60},
      {kSegmentLinked, kTrailFixed, {0, 0}, 18, 48},
  };
  for (const Row& r : rows) {
    DeclEffectSegment s = emitter(r.type, materials_[0], 10);
    s.particles.trailType = r.trailType;
    s.particles.trailCount = r.trail;
    int verts, indexes;
    Material* material;
    EffectSegmentInstance::reservation(s, 10, 0, &verts, &indexes, &material);
    EXPECT_EQ(verts, r.verts) << r.type << " " << r.trailType << " " << r.trail.min << "," << r.trail.max;
    EXPECT_EQ(indexes, r.indexes) << r.type << " " << r.trailType;
    EXPECT_EQ(material, materials_[0]);
  }
  // Without a material (or a model for models) nothing is reserved.
  DeclEffectSegment bare = emitter(kSegmentSprite, nullptr, 10);
  int verts, indexes;
  Material* material;
  EffectSegmentInstance::reservation(bare, 10, 0, &verts, &indexes, &material);
  EXPECT_EQ(material, nullptr);
  bare.type = kSegmentModel;
  EffectSegmentInstance::reservation(bare, 10, 0, &verts, &indexes, &material);
  EXPECT_EQ(material, nullptr);
}

TEST_F(GeometryTest, RequestsAreOneSortedEntryPerMaterial) {
  List<EffectSurfaceRequest> requests;
  for (int i : {2, 0, 1, 2, 0})
    findSurfaceRequest(requests, materials_[size_t(i)]).numVerts += 1;
  ASSERT_EQ(requests.num(), 3);
  EXPECT_STREQ(requests[0].material->getName(), "fx/a");
  EXPECT_STREQ(requests[1].material->getName(), "fx/b");
  EXPECT_STREQ(requests[2].material->getName(), "fx/c");
  EXPECT_EQ(requests[0].numVerts, 2);
  EXPECT_EQ(requests[2].numVerts, 2);
}

TEST_F(GeometryTest, SpritesFaceTheViewAndTurnOnlyByRoll) {
  DeclEffectSegment s = emitter(kSegmentSprite, materials_[0], 1);
  s.particles.startRange.max.position = Vec3();
  RenderEffectParams params = makeParams(nullptr);
  EffectSegmentInstance instance;
  instance.start(0.0f, params, s);
  instance.update(0.01f, params, s);
  Particle* p = instance.firstParticle();
  ASSERT_NE(p, nullptr);
  p->currentState.position = Vec3(10, 0, 0);
  p->currentState.rotate = Vec3(30, 45, 0);
  p->currentState.tint = Vec3(1, 0.5f, 2);
  p->currentState.alpha = 0.5f;
  view_.axis = Mat3(Vec3(0, 1, 0), Vec3(-1, 0, 0), Vec3(0, 0, 1));  // looking along +y
  build(instance, s, params);
  EXPECT_EQ(p->currentState.rotate.x, 0.0f);
  EXPECT_EQ(p->currentState.rotate.y, 0.0f);
  const SurfaceGeometry* g = model_->getSurface(0)->geometry;
  ASSERT_EQ(g->numVerts, 4);
  // The quad spans the view's left (width 2) and up (length 3) axes around the particle.
  EXPECT_NEAR(g->verts[0].xyz[0], 10 + 2, 1e-4);  // p - left * w + up * l
  EXPECT_NEAR(g->verts[0].xyz[2], 3, 1e-4);
  EXPECT_NEAR(g->verts[3].xyz[0], 10 - 2, 1e-4);
  EXPECT_NEAR(g->verts[3].xyz[2], -3, 1e-4);
  EXPECT_EQ(g->verts[0].st[1], 1.0f);
  EXPECT_EQ(g->verts[0].color[0], 255);
  EXPECT_EQ(g->verts[0].color[1], 127);
  EXPECT_EQ(g->verts[0].color[2], 255) << "clamped";
  EXPECT_EQ(g->verts[0].color[3], 127);
  EXPECT_NEAR(g->verts[0].normal[1], -1.0f, 1e-5) << "facing back at the view";
  const int quad[6] = {0, 2, 3, 0, 3, 1};
  for (int i = 0; i < 6; i++)
    EXPECT_EQ(g->indexes[i], quad[i]);
  EXPECT_LE(g->bounds.mins.x, 7.0f);
  EXPECT_GE(g->bounds.maxs.z, 3.0f);
}

TEST_F(GeometryTest, LinesEndAtTheEndOriginWhenTheParamsHaveOne) {
  DeclEffectSegment s = emitter(kSegmentLine, materials_[1], 1);
  s.particles.startRange.max.position = Vec3();
  RenderEffectParams params = makeParams(nullptr);
  EffectSegmentInstance instance;
  instance.start(0.0f, params, s);
  instance.update(0.01f, params, s);
  Particle* p = instance.firstParticle();
  p->currentState.position = Vec3(0, 0, 0);
  p->currentState.rotate = Vec3();
  build(instance, s, params);
  const SurfaceGeometry* g = model_->getSurface(0)->geometry;
  ASSERT_EQ(g->numVerts, 4);
  // Unrotated, a line runs along +x for its length.
  EXPECT_NEAR((g->verts[2].xyz[0] + g->verts[3].xyz[0]) * 0.5f, 3.0f, 1e-4);
  params.hasEndOrigin = true;
  params.endOrigin = Vec3(0, 40, 0);
  build(instance, s, params);
  g = model_->getSurface(0)->geometry;
  EXPECT_NEAR((g->verts[2].xyz[1] + g->verts[3].xyz[1]) * 0.5f, 40.0f, 1e-4);
  EXPECT_NEAR(g->verts[2].st[0], 1.0f, 1e-5) << "one repeat over the beam without tiling";
  s.particles.tiling = 10.0f;
  build(instance, s, params);
  EXPECT_NEAR(model_->getSurface(0)->geometry->verts[2].st[0], 4.0f, 1e-4);
}

TEST_F(GeometryTest, LinkedStripsWeldClosePointsAndDropDegeneratePairs) {
  DeclEffectSegment s = emitter(kSegmentLinked, materials_[2], 4);
  RenderEffectParams params = makeParams(nullptr);
  EffectSegmentInstance instance;
  instance.start(0.0f, params, s);
  instance.update(0.01f, params, s);
  ASSERT_EQ(instance.numParticles(), 4);
  const float xs[4] = {0.0f, 1.5f, 10.0f, 20.0f};
  int k = 0;
  for (Particle* p = instance.firstParticle(); p; p = p->ownerNode.nextOwner())
    p->currentState.position = Vec3(xs[k++], 0, 0);
  build(instance, s, params);
  const SurfaceGeometry* g = model_->getSurface(0)->geometry;
  // The second point welds onto the first; their pair has no side and is dropped.
  ASSERT_EQ(g->numVerts, 4);
  ASSERT_EQ(g->numIndexes, 6);
  EXPECT_NEAR(g->verts[0].xyz[0], 0.0f, 0.5f);
  EXPECT_EQ(g->verts[0].st[0], 0.0f);
  EXPECT_EQ(g->verts[3].st[0], 1.0f);
  // Fewer than four vertices drop the whole strip.
  k = 0;
  for (Particle* p = instance.firstParticle(); p; p = p->ownerNode.nextOwner())
    p->currentState.position = Vec3(k++ < 3 ? 0.0f : 30.0f, 0, 0);
  build(instance, s, params);
  EXPECT_EQ(model_->getSurface(0)->geometry->numVerts, 0);
  // Hidden particles are left out unless the next one shows.
  k = 0;
  for (Particle* p = instance.firstParticle(); p; p = p->ownerNode.nextOwner(), k++) {
    p->currentState.position = Vec3(float(k) * 10.0f, 0, 0);
    p->currentState.alpha = (k == 1 || k == 2) ? 0.0f : 1.0f;
  }
  build(instance, s, params);
  EXPECT_EQ(model_->getSurface(0)->geometry->numVerts, 4) << "points 0, 2 (the next shows) and 3: two pairs";
}

TEST_F(GeometryTest, ModelsCopyEverySurfaceScaledAndPlaced) {
  DeclEffectSegment s = emitter(kSegmentModel, nullptr, 2);
  s.particles.model = sourceModel();
  s.particles.startRange.max.position = Vec3();
  RenderEffectParams params = makeParams(nullptr);
  EffectSegmentInstance instance;
  instance.start(0.0f, params, s);
  instance.update(0.01f, params, s);
  for (Particle* p = instance.firstParticle(); p; p = p->ownerNode.nextOwner()) {
    p->currentState.position = Vec3(100, 0, 0);
    p->currentState.rotate = Vec3();
  }
  build(instance, s, params);
  ASSERT_EQ(requests_.num(), 2) << "one request per surface material";
  const SurfaceGeometry* quad = model_->getSurface(0)->geometry;
  ASSERT_EQ(quad->numVerts, 8);
  ASSERT_EQ(quad->numIndexes, 12);
  // Vertex 3 at x = 3 scaled by the length 3: 100 + 9.
  EXPECT_NEAR(quad->verts[3].xyz[0], 109.0f, 1e-4);
  EXPECT_EQ(quad->indexes[6], 4) << "the second copy's indexes follow its vertices";
  EXPECT_EQ(model_->getSurface(1)->geometry->numVerts, 6);
}

TEST_F(GeometryTest, ASurfaceOfAnotherMaterialGetsNothing) {
  DeclEffectSegment s = emitter(kSegmentSprite, materials_[0], 3);
  RenderEffectParams params = makeParams(nullptr);
  EffectSegmentInstance instance;
  instance.start(0.0f, params, s);
  instance.update(0.01f, params, s);
  requests_.clear();
  instance.addSurfaces(requests_, s);
  model_->init("target");
  SurfaceGeometry* g = model_->allocGeometry(100, 100);
  g->numVerts = 0;
  g->numIndexes = 0;
  model_->addSurface({materials_[1], g, -1});
  EXPECT_TRUE(instance.buildGeometry(requests_, model_.get(), params, s, {}));
  EXPECT_EQ(g->numVerts, 0);
  // No particles: nothing requested, nothing built.
  EffectSegmentInstance empty;
  List<EffectSurfaceRequest> none;
  empty.addSurfaces(none, s);
  EXPECT_EQ(none.num(), 0);
  EXPECT_FALSE(empty.buildGeometry(none, model_.get(), params, s, {}));
}

TEST_F(GeometryTest, TheManagerBuildsOnlyDrawnEffects) {
  DeclEffect decl;
  decl.segments.append(new DeclEffectSegment(emitter(kSegmentSprite, materials_[0], 5)));
  EffectsManager manager;
  RenderEffectParams shown = makeParams(&decl);
  RenderEffectParams hidden = shown;
  hidden.draw = false;
  const int a = manager.addEffect(shown);
  const int b = manager.addEffect(hidden);
  manager.updateEffect(a, shown, 10);
  manager.updateEffect(b, hidden, 10);
  manager.buildEffectsModel(model_.get(), view_);
  ASSERT_EQ(model_->numSurfaces(), 1);
  EXPECT_EQ(model_->getSurface(0)->geometry->numVerts, 20);
  EXPECT_EQ(manager.lastRequests()[0].numVerts, 20);
}

}  // namespace
