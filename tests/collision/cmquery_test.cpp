// Queries: the worked sweeps against the 32-unit box, tables of shapes against brushes, polygons
// and placed models, a comparison with a brute-force reference, rotation, contents and contacts.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "cmtest.h"

namespace {

using cmtest::v;

const Mat3 kIdentity = Mat3::identity();

class Queries : public ::testing::Test {
 protected:
  int load(const std::string& text, const char* name) {
    const int index = cmtest::loadText(m.cm, text.c_str(), name);
    EXPECT_GT(index, 1) << name;
    return index;
  }
  TraceResult sweep(const TraceModel* trm, const Vec3& a, const Vec3& b, int model,
                    const Vec3& origin = Vec3(), const Mat3& axis = Mat3::identity(),
                    const Mat3& trmAxis = Mat3::identity()) {
    TraceResult r;
    m.cm.translation(&r, a, b, trm, trmAxis, -1, model, origin, axis);
    return r;
  }
  cmtest::FakeMaterials materials;
  cmtest::Manager m;
};

TEST_F(Queries, WorkedValuesAgainstTheBoxModel) {
  const int box = load(cmtest::kBoxModel, "box");
  const TraceModel four = cmtest::box(4.0f);
  const TraceResult r = sweep(&four, v(-100, 0, 0), v(100, 0, 0), box);
  EXPECT_NEAR(r.fraction, 0.3996875f, 1e-6f);
  EXPECT_NEAR(r.endPos.x, -20.0625f, 1e-4f);
  EXPECT_EQ(r.contact.normal, v(-1, 0, 0));
  EXPECT_NEAR(r.contact.point.x, -16.0625f, 1e-3f);
  EXPECT_EQ(r.contact.primitiveIndex, 0);
  EXPECT_EQ(r.contact.contents, kContentsSolid);

  const TraceResult p = sweep(nullptr, v(-100, 0, 0), v(100, 0, 0), box);
  EXPECT_NEAR(p.fraction, 0.419375f, 1e-6f);
  EXPECT_NEAR(p.endPos.x, -16.125f, 1e-4f);
  EXPECT_EQ(p.contact.normal, v(-1, 0, 0));
  EXPECT_FLOAT_EQ(p.contact.dist, 16.0f);
}

struct SweepCase {
  const char* what;
  int shape;  // 0 point, 1 box of half size 4, 2 cylinder radius 4 height 8 (8 sides), 3 cone
  Vec3 start, end;
  float fraction;  // expected; 1 = no hit
  Vec3 normal;
};

TEST_F(Queries, SweepTable) {
  // A box brush of +-16 and, beside it, a two-sided wall polygon in the plane x = 64 facing -x.
  const int brush = load(cmtest::kBoxModel, "box");
  const int wall = load(
      "!CM collisionModel \"wall\" { nodes { 1 0 0 1 64 -1 -2 } polygons { 1 4 64 -32 -32 64 -32 32 64 32 32 "
      "64 32 -32 \"w\" } }",
      "wall");
  TraceModel shapes[4];
  shapes[1] = cmtest::box(4.0f);
  shapes[2].setupCylinder(Bounds(v(-4, -4, -4), v(4, 4, 4)), 8);
  shapes[3].setupCone(Bounds(v(-4, -4, -4), v(4, 4, 4)), 8);
  const float toFace = (80.0f - 1.0f / 32.0f) / 200.0f - 1.0f / (200.0f * 32.0f);  // 0.3996875
  const float wallFace = (56.0f - 1.0f / 32.0f) / 100.0f - 1.0f / (100.0f * 32.0f);
  struct {
    int model;
    SweepCase c;
  } cases[] = {
      {brush, {"box along +x", 1, v(-100, 0, 0), v(100, 0, 0), toFace, v(-1, 0, 0)}},
      {brush, {"box along -y", 1, v(0, 100, 0), v(0, -100, 0), toFace, v(0, 1, 0)}},
      {brush, {"box down onto the top", 1, v(0, 0, 100), v(0, 0, -100), toFace, v(0, 0, 1)}},
      {brush, {"box passing beside", 1, v(-100, 21, 0), v(100, 21, 0), 1.0f, Vec3()}},
      {brush, {"box grazing an edge", 1, v(-100, 19.9f, 0), v(100, 19.9f, 0), toFace, v(-1, 0, 0)}},
      {brush, {"box stopping short", 1, v(-100, 0, 0), v(-30, 0, 0), 1.0f, Vec3()}},
      {brush, {"box moving away", 1, v(-30, 0, 0), v(-100, 0, 0), 1.0f, Vec3()}},
      {brush, {"cylinder along +x", 2, v(-100, 0, 0), v(100, 0, 0), toFace, v(-1, 0, 0)}},
      {brush, {"cylinder along -x", 2, v(100, 0, 0), v(-100, 0, 0), toFace, v(1, 0, 0)}},
      {brush, {"cone down onto the top", 3, v(0, 0, 100), v(0, 0, -100), toFace, v(0, 0, 1)}},
      {brush, {"point along +y", 0, v(0, -100, 0), v(0, 100, 0), (84.0f - 0.125f) / 200.0f, v(0, -1, 0)}},
      {brush, {"point beside", 0, v(-100, 17, 0), v(100, 17, 0), 1.0f, Vec3()}},
      {wall, {"box into the wall", 1, v(4, 0, 0), v(104, 0, 0), wallFace, v(-1, 0, 0)}},
      {wall, {"box into the wall's back", 1, v(124, 0, 0), v(24, 0, 0), wallFace, v(1, 0, 0)}},
      {wall, {"cylinder into the wall", 2, v(4, 0, 0), v(104, 0, 0), wallFace, v(-1, 0, 0)}},
      {wall, {"box above the wall", 1, v(4, 0, 37), v(104, 0, 37), 1.0f, Vec3()}},
      {wall, {"point through the wall", 0, v(14, 0, 0), v(114, 0, 0), (50.0f - 0.01f) / 100.0f, v(-1, 0, 0)}},
      {wall, {"point beside the wall", 0, v(14, 33, 0), v(114, 33, 0), 1.0f, Vec3()}},
  };
  for (const auto& entry : cases) {
    const SweepCase& c = entry.c;
    SCOPED_TRACE(c.what);
    const TraceResult r = sweep(c.shape ? &shapes[c.shape] : nullptr, c.start, c.end, entry.model);
    EXPECT_NEAR(r.fraction, c.fraction, 1e-4f);
    if (c.fraction < 1.0f) {
      EXPECT_TRUE(r.contact.normal.compare(c.normal, 1e-4f)) << r.contact.normal.toString(4);
      EXPECT_TRUE(r.endPos.compare(c.start + (c.end - c.start) * r.fraction, 1e-3f));
    } else {
      EXPECT_EQ(r.endPos, c.end);
    }
  }
}

TEST_F(Queries, PlacedAndTurnedModel) {
  const int box = load(cmtest::kBoxModel, "box");
  const TraceModel four = cmtest::box(4.0f);
  // The model moved to x = 1000: the same sweep relative to it gives the same answer in world space.
  TraceResult r = sweep(&four, v(900, 0, 0), v(1100, 0, 0), box, v(1000, 0, 0));
  EXPECT_NEAR(r.fraction, 0.3996875f, 1e-5f);
  EXPECT_NEAR(r.endPos.x, 979.9375f, 1e-3f);
  EXPECT_NEAR(r.contact.dist, r.contact.normal.dot(r.contact.point), 0.1f);
  // A model turned 45 degrees about z presents an edge: the box's face meets it earlier than a
  // face would, and the contact plane is the box face's.
  const Mat3 turned = Angles(0, 45, 0).toMat3();
  r = sweep(&four, v(-100, 0, 0), v(100, 0, 0), box, Vec3(), turned);
  const float edgeX = -16.0f * std::sqrt(2.0f) - 4.0f;
  EXPECT_NEAR(r.endPos.x, edgeX, 0.1f);
  EXPECT_TRUE(r.contact.normal.compare(v(-1, 0, 0), 1e-4f)) << r.contact.normal.toString(4);
  // A trace model turned 45 degrees about z reaches out by 4 * sqrt 2.
  r = sweep(&four, v(-100, 0, 0), v(100, 0, 0), box, Vec3(), kIdentity, turned);
  EXPECT_NEAR(r.endPos.x, -16.0f - 4.0f * std::sqrt(2.0f), 0.1f);
}

TEST_F(Queries, StartingOverlaps) {
  const int box = load(cmtest::kBoxModel, "box");
  const int wall = load(
      "!CM collisionModel \"wall\" { nodes { 1 0 0 1 64 -1 -2 } polygons { 1 4 64 -32 -32 64 -32 32 64 32 32 "
      "64 32 -32 \"w\" } }",
      "wall");
  const TraceModel four = cmtest::box(4.0f);
  // Standing still inside: fraction 0 with that primitive; standing clear: nothing.
  EXPECT_EQ(sweep(&four, v(10, 0, 0), v(10, 0, 0), box).fraction, 0.0f);
  EXPECT_EQ(sweep(&four, v(40, 0, 0), v(40, 0, 0), box).fraction, 1.0f);
  // Moving out of a brush it already overlaps is never stopped by it.
  EXPECT_EQ(sweep(&four, v(10, 0, 0), v(100, 0, 0), box).fraction, 1.0f);
  // A polygon overlapped at the start stops a move against its normal at once, not one along it.
  EXPECT_EQ(sweep(&four, v(62, 0, 0), v(0, 0, 0), wall).fraction, 1.0f);  // wall normal is -x
  EXPECT_EQ(sweep(&four, v(62, 0, 0), v(100, 0, 0), wall).fraction, 0.0f);
}

TEST_F(Queries, NullResultAndBadIndex) {
  const int box = load(cmtest::kBoxModel, "box");
  m.cm.translation(nullptr, v(-100, 0, 0), v(100, 0, 0), nullptr, kIdentity, -1, box, Vec3(), kIdentity);
  TraceResult r;
  r.fraction = 0.25f;
  m.cm.translation(&r, v(-100, 0, 0), v(100, 0, 0), nullptr, kIdentity, -1, 99, Vec3(), kIdentity);
  EXPECT_EQ(r.fraction, 0.25f);  // untouched
  EXPECT_EQ(m.cm.pooledQueries(), 0);
}

TEST_F(Queries, ContentMaskAndBackFaces) {
  materials.define("water", 0x4);
  materials.define("oneSided", kContentsSolid, 1);
  const int water =
      load(cmtest::brushModel("water", {Bounds(v(-16, -16, -16), v(16, 16, 16))}, "water"), "water");
  const int face = load(
      "!CM collisionModel \"face\" { nodes { 1 0 0 1 64 -1 -2 } polygons { 1 4 64 -32 -32 64 -32 32 64 32 32 "
      "64 32 -32 \"oneSided\" } }",
      "face");
  TraceResult r;
  m.cm.translation(&r, v(-100, 0, 0), v(100, 0, 0), nullptr, kIdentity, kContentsSolid, water, Vec3(),
                   kIdentity);
  EXPECT_EQ(r.fraction, 1.0f);
  m.cm.translation(&r, v(-100, 0, 0), v(100, 0, 0), nullptr, kIdentity, 0x4, water, Vec3(), kIdentity);
  EXPECT_LT(r.fraction, 1.0f);
  EXPECT_EQ(r.contact.contents, 0x4);
  // The face looks towards -x: approached from behind it is ignored until back faces are tested.
  const TraceModel four = cmtest::box(4.0f);
  EXPECT_LT(sweep(&four, v(0, 0, 0), v(100, 0, 0), face).fraction, 1.0f);
  EXPECT_EQ(sweep(&four, v(120, 0, 0), v(20, 0, 0), face).fraction, 1.0f);
  m.cm.setTestBackFaces(1);
  EXPECT_LT(sweep(&four, v(120, 0, 0), v(20, 0, 0), face).fraction, 1.0f);
}

TEST_F(Queries, TinyMovesAreSnapped) {
  const int box = load(cmtest::kBoxModel, "box");
  const TraceModel four = cmtest::box(4.0f);
  // Touching the face: 0.00005 counts as standing still (an overlap at 0), 0.01 as a 1/32 move.
  EXPECT_EQ(sweep(&four, v(-20, 0, 0), v(-19.99995f, 0, 0), box).fraction, 0.0f);
  // 0.05 from the face: a move of 0.01 would stop short, the 1/32 it becomes reaches the face.
  const TraceResult r = sweep(&four, v(-20.05f, 0, 0), v(-20.04f, 0, 0), box);
  EXPECT_LT(r.fraction, 1.0f);
  EXPECT_EQ(sweep(&four, v(-20.2f, 0, 0), v(-20.19f, 0, 0), box).fraction, 1.0f);
}

// ------------------------------------------------------------------------------------ brute force

// Entry of a box of half size h moving from a to b into the box B, with the same widened
// intervals and the same 1/32 pull-back as the query; -1 for a miss, -2 when too close to call.
float referenceBoxSweep(const Bounds& B, float h, const Vec3& a, const Vec3& b) {
  const float w = 1.0f / 64.0f;
  float enter = -1.0f, exit = 1.0f, best = -1.0f, second = -1.0f;
  for (int i = 0; i < 3; i++) {
    const float smin = B.mins[i] - w, smax = B.maxs[i] + w;
    const float tmin = a[i] - h - w, tmax = a[i] + h + w;
    const float s = b[i] - a[i];
    if (tmax < smin || smax < tmin) {
      if ((tmax < smin && s <= 0) || (smax < tmin && s >= 0))
        return -1.0f;
      const float tEnter = tmax < smin ? (smin - tmax) / s : (smax - tmin) / s;
      const float adjusted = tEnter - 1.0f / (32.0f * std::fabs(s));
      const float tLeave = tmax < smin ? (smax - tmin) / s : (smin - tmax) / s;
      if (adjusted > best) {
        second = best;
        best = adjusted;
      } else {
        second = std::max(second, adjusted);
      }
      enter = std::max(enter, adjusted);
      exit = std::min(exit, tLeave);
    } else if (s != 0.0f) {
      exit = std::min(exit, s > 0 ? (smax - tmin) / s : (smin - tmax) / s);
    }
  }
  if (enter < 0.0f)
    return -2.0f;  // starts inside: not compared
  if (std::fabs(enter - exit) < 1e-3f || std::fabs(enter - 1.0f) < 1e-3f || best - second < 1e-3f)
    return -2.0f;
  if (enter > 1.0f || enter > exit)
    return -1.0f;
  return enter;
}

// A point ray against a brush box, with the segment clip's 0.125 rules.
float referenceRayEps(const Bounds& B, const Vec3& a, const Vec3& b, float eps) {
  float enter = -1.0f, leave = 1.0f;
  bool outside = false;
  for (int i = 0; i < 3; i++) {
    for (int side = 0; side < 2; side++) {
      const float sign = side ? 1.0f : -1.0f;
      const float d = side ? B.maxs[i] : -B.mins[i];
      const float d1 = sign * a[i] - d, d2 = sign * b[i] - d;
      if (d1 > 0) {
        outside = true;
        if (d2 >= eps || d2 >= d1)
          return -1.0f;
        if (std::fabs(d2 - eps) < 1e-2f)
          return -2.0f;
      }
      if (d1 <= 0 && d2 <= 0)
        continue;
      if (d1 > d2)
        enter = std::max(enter, std::max((d1 - eps) / (d1 - d2), 0.0f));
      else
        leave = std::min(leave, std::min((d1 + eps) / (d1 - d2), 1.0f));
    }
  }
  if (!outside)
    return -2.0f;
  if (std::fabs(enter - leave) < 1e-3f)
    return -2.0f;
  return enter < leave ? enter : -1.0f;
}

// The segment clip pulls the entry back by 0.125 and so also meets rays that pass within that
// much of an edge; such near misses are left out of the comparison (-2), as are near ties.
float referenceRay(const Bounds& B, const Vec3& a, const Vec3& b) {
  const float withSlack = referenceRayEps(B, a, b, 0.125f);
  const float exact = referenceRayEps(B, a, b, 0.0f);
  if (withSlack == -2.0f || exact == -2.0f || (withSlack >= 0.0f) != (exact >= 0.0f))
    return -2.0f;
  return withSlack;
}

// The nearest of `reference`'s answers over the boxes: 2 when none is hit, -2 when one of them is
// too close to call.
template <typename Reference>
float nearestOf(const std::vector<Bounds>& boxes, Reference reference) {
  float best = 2.0f;
  for (const Bounds& B : boxes) {
    const float f = reference(B);
    if (f == -2.0f)
      return -2.0f;
    if (f >= 0.0f)
      best = std::min(best, f);
  }
  return best;
}

Bounds randomBox(std::mt19937& rng) {
  std::uniform_real_distribution<float> at(-200.0f, 200.0f), size(2.0f, 40.0f);
  const Vec3 c(at(rng), at(rng), at(rng) * 0.25f);
  const Vec3 h(size(rng), size(rng), size(rng));
  return Bounds(c - h, c + h);
}

TEST_F(Queries, RaysAgreeWithBruteForce) {
  std::mt19937 rng(1234);
  std::vector<Bounds> boxes;
  for (int i = 0; i < 150; i++)
    boxes.push_back(randomBox(rng));
  const int model = load(cmtest::brushModel("random", boxes), "random");
  std::uniform_real_distribution<float> at(-260.0f, 260.0f);
  int hits = 0, compared = 0;
  for (int n = 0; n < 3000; n++) {
    const Vec3 a(at(rng), at(rng), at(rng) * 0.3f), b(at(rng), at(rng), at(rng) * 0.3f);
    const float best = nearestOf(boxes, [&](const Bounds& B) { return referenceRay(B, a, b); });
    if (best == -2.0f)
      continue;
    compared++;
    const TraceResult r = sweep(nullptr, a, b, model);
    if (best <= 1.0f) {
      hits++;
      ASSERT_LT(r.fraction, 1.0f) << "missed at ray " << n;
      ASSERT_NEAR(r.fraction, best, 1e-4f) << "ray " << n;
    } else {
      ASSERT_EQ(r.fraction, 1.0f) << "false hit at ray " << n;
    }
  }
  EXPECT_GT(compared, 1500);
  EXPECT_GT(hits, 300);
  EXPECT_GT(compared - hits, 100);
}

TEST_F(Queries, BoxSweepsAgreeWithBruteForceThroughATree) {
  // Boxes made of polygons, so the model gets a real tree (it subdivides by polygon count).
  std::mt19937 rng(99);
  std::vector<Bounds> boxes;
  std::vector<CollisionSurface> surfaces(120);
  List<CollisionSurface*> list;
  Material* solid = materials.find("solid");
  for (size_t i = 0; i < surfaces.size(); i++) {
    const Bounds b = randomBox(rng);
    boxes.push_back(b);
    TraceModel t;
    t.setupBox(b);
    CollisionSurface& s = surfaces[i];
    s.kind = 0;
    s.material = solid;
    for (int f = 0; f < t.numPolys; f++) {
      ConvexPolygon p;
      t.getPolygon(f, p);
      const int first = s.vertices.num();
      for (int k = 0; k < p.numPoints; k++) {
        DrawVertex dv{};
        dv.xyz[0] = p[k].x;
        dv.xyz[1] = p[k].y;
        dv.xyz[2] = p[k].z;
        s.vertices.append(dv);
      }
      for (int k = 1; k + 1 < p.numPoints; k++) {
        s.indexes.append(first);
        s.indexes.append(first + k);
        s.indexes.append(first + k + 1);
      }
    }
    list.append(&s);
  }
  const int model = m.cm.createModel("polyboxes", list);
  ASSERT_GT(model, 1);
  cmModel_t* cmm = m.cm.model(model);
  EXPECT_EQ(cmm->polygons.num(), 720);
  EXPECT_GT(cmm->nodes.num(), 10);
  const TraceModel trm = cmtest::box(3.0f);
  std::uniform_real_distribution<float> at(-260.0f, 260.0f);
  int hits = 0, compared = 0;
  for (int n = 0; n < 1500; n++) {
    const Vec3 a(at(rng), at(rng), at(rng) * 0.3f), b(at(rng), at(rng), at(rng) * 0.3f);
    const float best = nearestOf(boxes, [&](const Bounds& B) { return referenceBoxSweep(B, 3.0f, a, b); });
    if (best == -2.0f)
      continue;
    compared++;
    const TraceResult r = sweep(&trm, a, b, model);
    if (best <= 1.0f) {
      hits++;
      ASSERT_NEAR(r.fraction, best, 1e-4f) << "sweep " << n;
    } else {
      ASSERT_EQ(r.fraction, 1.0f) << "false hit at sweep " << n;
    }
  }
  EXPECT_GT(compared, 500);
  EXPECT_GT(hits, 100);
}

// ------------------------------------------------------------------------------------ point path

// The general walk that every other query runs, for a point: the point query's own walk must give
// the same answer bit for bit.
class GeneralPointQuery : public CollisionModelPointQuery {
 protected:
  bool walkTrace() override { return walkRoot(); }
};

void addTriangle(CollisionSurface& s, const Vec3& a, const Vec3& b, const Vec3& c) {
  for (const Vec3& p : {a, b, c}) {
    DrawVertex d{};
    d.xyz[0] = p.x;
    d.xyz[1] = p.y;
    d.xyz[2] = p.z;
    s.indexes.append(s.vertices.append(d));
  }
}

void addBrush(CollisionSurface& s, const std::vector<Plane>& planes) {
  s.kind = 3;
  for (const Plane& p : planes)
    s.planes.append(p);
}

bool sameResult(const TraceResult& a, const TraceResult& b) {
  // Bit for bit, field by field (the record has no padding worth comparing).
  auto same = [](const auto& x, const auto& y) { return std::memcmp(&x, &y, sizeof(x)) == 0; };
  return same(a.fraction, b.fraction) && same(a.endPos, b.endPos) && same(a.endAxis, b.endAxis) &&
         same(a.contact.normal, b.contact.normal) && same(a.contact.dist, b.contact.dist) &&
         same(a.contact.point, b.contact.point) && a.contact.contents == b.contact.contents &&
         a.contact.material == b.contact.material && a.contact.reserved == b.contact.reserved &&
         a.contact.primitiveIndex == b.contact.primitiveIndex;
}

TEST_F(Queries, PointPathAgreesWithTheGeneralWalk) {
  materials.define("oneSided", kContentsSolid, 1);
  materials.define("water", 0x4);
  Material* solid = materials.find("solid");
  Material* oneSided = materials.find("oneSided");
  Material* water = materials.find("water");
  std::mt19937 rng(4242);
  std::uniform_real_distribution<float> bump(-5.0f, 5.0f);
  // Terrain of 24 x 24 cells, flat (coplanar neighbours, so tied hits) for x below 96; walls of
  // merged quads, slivers and brushes from planes, in two-sided, one-sided and water materials.
  constexpr int kCells = 24;
  std::vector<float> height((kCells + 1) * (kCells + 1));
  for (int y = 0; y <= kCells; y++)
    for (int x = 0; x <= kCells; x++)
      height[size_t(y * (kCells + 1) + x)] =
          x <= 6 ? 0.0f : std::sin(float(x) * 0.5f) * 18.0f + std::cos(float(y) * 0.4f) * 14.0f + bump(rng);
  auto at = [&](int x, int y) { return v(float(x) * 16.0f, float(y) * 16.0f, height[size_t(y * (kCells + 1) + x)]); };
  std::vector<CollisionSurface> surfaces(kCells * kCells * 2 + 64);
  size_t next = 0;
  auto surface = [&](Material* mat) -> CollisionSurface& {
    CollisionSurface& s = surfaces[next++];
    s.material = mat;
    return s;
  };
  for (int y = 0; y < kCells; y++)
    for (int x = 0; x < kCells; x++) {
      const int cell = y * kCells + x;
      Material* mat = cell % 7 == 3 ? oneSided : (cell % 11 == 5 ? water : solid);
      addTriangle(surface(mat), at(x, y), at(x + 1, y), at(x + 1, y + 1));
      addTriangle(surface(mat), at(x, y), at(x + 1, y + 1), at(x, y + 1));
    }
  std::uniform_real_distribution<float> across(10.0f, 370.0f), size(4.0f, 30.0f);
  for (int i = 0; i < 12; i++) {  // walls: two triangles of one surface merge into a quad
    const Vec3 a(across(rng), across(rng), -30.0f);
    const Vec3 b = a + v(size(rng), size(rng) - 17.0f, 0.0f);
    CollisionSurface& s = surface(i % 3 == 0 ? oneSided : solid);
    addTriangle(s, a, b, b + v(0, 0, 80));
    addTriangle(s, a, b + v(0, 0, 80), a + v(0, 0, 80));
  }
  for (int i = 0; i < 12; i++) {  // slivers: sharp corners widen the edge tolerance's reach
    const Vec3 a(across(rng), across(rng), bump(rng) * 4.0f);
    addTriangle(surface(solid), a, a + v(60, 0.5f, 3), a + v(60, 1.5f, -2));
  }
  for (int i = 0; i < 16; i++) {  // boxes and a slanted cut, as brushes
    const Vec3 c(across(rng), across(rng), bump(rng) * 6.0f);
    const Vec3 h(size(rng), size(rng), size(rng));
    std::vector<Plane> planes = {Plane(v(1, 0, 0), c.x + h.x),  Plane(v(-1, 0, 0), -(c.x - h.x)),
                                 Plane(v(0, 1, 0), c.y + h.y),  Plane(v(0, -1, 0), -(c.y - h.y)),
                                 Plane(v(0, 0, 1), c.z + h.z),  Plane(v(0, 0, -1), -(c.z - h.z))};
    if (i % 4 == 0) {
      Vec3 n(1, 1, 1);
      n.normalize();
      planes.push_back(Plane(n, n.dot(c)));
    }
    addBrush(surface(i % 5 == 2 ? water : solid), planes);
  }
  List<CollisionSurface*> list;
  for (size_t i = 0; i < next; i++)
    list.append(&surfaces[i]);
  const int index = m.cm.createModel("mixed", list);
  ASSERT_GT(index, 1);
  cmModel_t* model = m.cm.model(index);
  ASSERT_GT(model->leafs.num(), 16);
  ASSERT_GT(model->brushes.num(), 10);

  // Random segments, vertical ones through grid corners and cell diagonals (ties between
  // neighbours), segments lying in the flat part's plane, tiny moves that are snapped or dropped,
  // and points standing still.
  std::vector<std::pair<Vec3, Vec3>> rays;
  std::uniform_real_distribution<float> wide(-40.0f, 424.0f), high(-70.0f, 120.0f), tiny(-0.04f, 0.04f);
  for (int i = 0; i < 2500; i++)
    rays.push_back({v(wide(rng), wide(rng), high(rng)), v(wide(rng), wide(rng), high(rng))});
  std::uniform_int_distribution<int> cell(0, kCells);
  for (int i = 0; i < 300; i++) {
    const float x = float(cell(rng)) * 16.0f, y = float(cell(rng)) * 16.0f, o = i % 2 ? 8.0f : 0.0f;
    rays.push_back({v(x + o, y + o, 100.0f), v(x + o, y + o, -100.0f)});
  }
  for (int i = 0; i < 200; i++)
    rays.push_back({v(wide(rng), wide(rng), 0.0f), v(wide(rng), wide(rng), i % 2 ? 0.0f : 0.005f)});
  for (int i = 0; i < 300; i++) {
    const Vec3 a(across(rng), across(rng), bump(rng) * 6.0f);
    rays.push_back({a, i % 3 == 0 ? a : a + v(tiny(rng), tiny(rng), tiny(rng))});
  }

  CollisionModelPointQuery fast;
  GeneralPointQuery general;
  Vec3 tilt(1, 2, 3);
  tilt.normalize();
  const Mat3 turned = Rotation(Vec3(), tilt, 37.0f).toMat3();
  struct Setting {
    Vec3 origin;
    Mat3 axis;
    int mask;
    bool backFaces;
  } settings[] = {{Vec3(), kIdentity, -1, false},           {Vec3(), kIdentity, -1, true},
                  {Vec3(), kIdentity, kContentsSolid, false}, {Vec3(), kIdentity, 0x4, false},
                  {v(500, -200, 40), turned, -1, false}};
  auto compareAll = [&](const Setting& set, int& hits, int& misses) {
    fast.testBackFaces = general.testBackFaces = set.backFaces;
    for (size_t i = 0; i < rays.size(); i++) {
      const Vec3 a = set.origin + set.axis.transform(rays[i].first);
      const Vec3 b = set.origin + set.axis.transform(rays[i].second);
      const bool ranFast = fast.trace(a, b, nullptr, kIdentity, set.mask, model, set.origin, set.axis);
      const bool ranGeneral = general.trace(a, b, nullptr, kIdentity, set.mask, model, set.origin, set.axis);
      ASSERT_EQ(ranFast, ranGeneral) << "ray " << i;
      ASSERT_TRUE(sameResult(fast.result, general.result))
          << "ray " << i << ": fraction " << fast.result.fraction << " against " << general.result.fraction
          << ", primitive " << fast.result.contact.primitiveIndex << " against "
          << general.result.contact.primitiveIndex;
      (fast.result.fraction < 1.0f ? hits : misses)++;
    }
  };
  for (const Setting& set : settings) {
    SCOPED_TRACE(testing::Message() << "mask " << set.mask << " back faces " << set.backFaces);
    int hits = 0, misses = 0;
    compareAll(set, hits, misses);
    EXPECT_GT(hits, set.mask == 0x4 ? 200 : 1000);
    EXPECT_GT(misses, 400);
  }

  // Shapes put into leaves directly, past addShape, with edge data of their own leaves: those
  // leaves are then walked from their shapes alone.
  const int leafs = model->leafs.num();
  for (int l = 0; l < leafs; l++) {
    const CollisionLeaf& from = model->leafs[(l + leafs / 2) % leafs];
    if (l % 3 == 0 && from.shapes.num() > 0) {
      const ClipShape copy = from.shapes[from.shapes.num() - 1];
      model->leafs[l].shapes.append(copy);
      ASSERT_FALSE(model->leafs[l].packedMatches());
    }
  }
  int hits = 0, misses = 0;
  compareAll(settings[0], hits, misses);
  EXPECT_GT(hits, 1000);
}

// ------------------------------------------------------------------------------------ rotation

TEST_F(Queries, Rotation) {
  const int box = load(cmtest::kBoxModel, "box");
  TraceModel bar;
  bar.setupBox(Bounds(v(-30, -2, -2), v(30, 2, 2)));
  const Rotation quarter(v(0, 0, 0), v(0, 0, 1), 90.0f);
  TraceResult r;
  // Far from the box: the whole turn is free.
  m.cm.rotation(&r, v(0, 100, 0), quarter, &bar, kIdentity, -1, box, Vec3(), kIdentity);
  EXPECT_EQ(r.fraction, 1.0f);
  EXPECT_TRUE(r.endAxis.compare(quarter.toMat3(), 1e-4f));
  EXPECT_EQ(r.endPos, v(0, 100, 0));
  // Beside the box, lying along x at y = 40: turned to lie along y it reaches into the box.
  m.cm.rotation(&r, v(0, 40, 0), quarter, &bar, kIdentity, -1, box, Vec3(), kIdentity);
  EXPECT_EQ(r.fraction, 0.0f);
  EXPECT_TRUE(r.endAxis.compare(kIdentity, 1e-5f));
  // A point turns freely; a bad model index blocks nothing: the whole turn is free.
  m.cm.rotation(&r, v(0, 40, 0), quarter, nullptr, kIdentity, -1, box, Vec3(), kIdentity);
  EXPECT_EQ(r.fraction, 1.0f);
  EXPECT_EQ(r.endAxis, kIdentity);
  for (const int bad : {77, -1, 2 + 1000}) {
    m.cm.rotation(&r, v(0, 40, 0), quarter, &bar, kIdentity, -1, bad, Vec3(), kIdentity);
    EXPECT_EQ(r.fraction, 1.0f) << bad;
    EXPECT_TRUE(r.endAxis.compare(quarter.toMat3(), 1e-5f)) << bad;
    EXPECT_EQ(r.endPos, v(0, 40, 0)) << bad;
  }
  EXPECT_EQ(m.cm.pooledQueries(), 0);
}

// How far apart a convex shape (world-space corners and face normals) and a box are: the largest
// separation along the box's axes, the shape's face normals and the crosses of its edges with the box
// axes; negative when they overlap.
float separation(const TraceModel& trm, const Mat3& axis, const Vec3& at, const Bounds& box) {
  Vec3 corners[TraceModel::kMaxVerts];
  for (int i = 0; i < trm.numVerts; i++)
    corners[i] = axis.transform(trm.verts[i]) + at;
  std::vector<Vec3> axes = {v(1, 0, 0), v(0, 1, 0), v(0, 0, 1)};
  for (int f = 0; f < trm.numPolys; f++)
    axes.push_back(axis.transform(trm.polys[f].plane.normal()));
  for (int e = 1; e <= trm.numEdges; e++) {
    const Vec3 d = corners[trm.edges[e].vertex1] - corners[trm.edges[e].vertex0];
    for (int k = 0; k < 3; k++) {
      Vec3 c = d.cross(axes[size_t(k)]);
      if (c.normalize() > 1e-4f)
        axes.push_back(c);
    }
  }
  const Vec3 centre = box.center(), extent = box.maxs - centre;
  float best = -1e30f;
  for (Vec3 l : axes) {
    l.normalize();
    float lo = 1e30f, hi = -1e30f;
    for (int i = 0; i < trm.numVerts; i++) {
      lo = std::min(lo, corners[i].dot(l));
      hi = std::max(hi, corners[i].dot(l));
    }
    const float r = std::fabs(l.x) * extent.x + std::fabs(l.y) * extent.y + std::fabs(l.z) * extent.z;
    const float c = centre.dot(l);
    best = std::max(best, std::max(lo - (c + r), (c - r) - hi));
  }
  return best;
}

// Tall cylinders of every side count tip over towards a wall. The turn brings the shape ever nearer
// the wall, so a brute-force sweep in half-degree steps meets the wall exactly when the query's test at
// the end of the turn does: blocked cases stop with the wall's contact, free ones turn all the way.
// The query grows the shape by 1/32 and counts what comes within its 1/32 epsilon, so a shape within
// 1/16 of the wall is blocked whatever its corners; the gaps keep clear of the band just beyond, where
// sharp corners grow further than flat ones.
TEST_F(Queries, RotatingCylindersAgreeWithASweepInSmallSteps) {
  const float gaps[] = {-2.0f, -0.25f, 0.055f, 0.25f, 3.0f};
  const float angles[] = {10.0f, 30.0f, 55.0f};
  const Vec3 start = v(40, -20, 100);
  int blocked = 0, free = 0;
  for (int sides = 3; sides <= 10; sides++) {
    TraceModel cylinder;
    cylinder.setupCylinder(Bounds(v(-8, -8, -32), v(8, 8, 32)), sides);
    for (const float yaw : {0.0f, 17.0f}) {
      const Mat3 trmAxis = Angles(0, yaw, 0).toMat3();
      for (const float angle : angles) {
        for (const Vec3& pivotAxis : {v(0, 1, 0), v(0, -1, 0)}) {
          const Rotation turn(start, pivotAxis, angle);
          const Mat3 end = cleanAxis(trmAxis * turn.toMat3(), true);
          float reach = -1e30f;
          for (int i = 0; i < cylinder.numVerts; i++)
            reach = std::max(reach, end.transform(cylinder.verts[i]).x + start.x);
          for (const float gap : gaps) {
            SCOPED_TRACE(::testing::Message() << sides << " sides, yaw " << yaw << ", turn " << angle
                                              << " about " << pivotAxis.y << ", gap " << gap);
            const Bounds wall(v(reach + gap, -200, -100), v(reach + gap + 64, 200, 300));
            cmtest::FakeMaterials local;
            cmtest::Manager fresh;
            const int index = cmtest::loadText(fresh.cm, cmtest::brushModel("wall", {wall}).c_str(), "wall");
            ASSERT_GT(index, 1);
            // The sweep: the first step where the shape comes within the growth and epsilon of the wall.
            int firstContact = -1;
            const int steps = int(angle * 2.0f);
            for (int k = 0; k <= steps && firstContact < 0; k++) {
              const Rotation part(start, pivotAxis, angle * float(k) / float(steps));
              const Mat3 axis = cleanAxis(trmAxis * part.toMat3(), true);
              if (separation(cylinder, axis, start, wall) < 1.0f / 16.0f)
                firstContact = k;
            }
            ASSERT_NE(firstContact, 0) << "the wall must be clear of the shape before the turn";
            EXPECT_EQ(firstContact >= 0, gap < 1.0f / 16.0f);
            TraceResult r;
            fresh.cm.rotation(&r, start, turn, &cylinder, trmAxis, -1, index, Vec3(), kIdentity);
            EXPECT_EQ(r.endPos, start);
            if (firstContact >= 0) {
              blocked++;
              EXPECT_EQ(r.fraction, 0.0f);
              EXPECT_TRUE(r.endAxis.compare(trmAxis, 1e-5f));
              EXPECT_EQ(r.contact.primitiveIndex, 0);
              EXPECT_EQ(r.contact.contents, kContentsSolid);
              // The contact lies on the shape's side of the wall, at its face.
              EXPECT_NEAR(r.contact.point.x, wall.mins.x, std::max(0.5f, -gap + 0.5f));
            } else {
              free++;
              EXPECT_EQ(r.fraction, 1.0f);
              EXPECT_TRUE(r.endAxis.compare(end, 1e-5f));
            }
          }
        }
      }
    }
  }
  EXPECT_GT(blocked, 0);
  EXPECT_GT(free, 0);
}

// ------------------------------------------------------------------------------------ contents

TEST_F(Queries, Contents) {
  materials.define("water", 0x4);
  const int box = load(cmtest::kBoxModel, "box");
  const int water =
      load(cmtest::brushModel("water", {Bounds(v(100, -16, -16), v(132, 16, 16))}, "water"), "water");
  const TraceModel four = cmtest::box(4.0f);
  struct {
    const char* what;
    int model;
    const TraceModel* trm;
    Vec3 at;
    int mask;
    int expected;
  } cases[] = {
      {"point inside", box, nullptr, v(0, 0, 0), -1, kContentsSolid},
      {"point just outside", box, nullptr, v(17, 0, 0), -1, 0},
      {"box overlapping the face", box, &four, v(19, 0, 0), -1, kContentsSolid},
      {"box clear of the face", box, &four, v(21, 0, 0), -1, 0},
      {"outside the model's bounds", box, &four, v(500, 0, 0), -1, 0},
      {"water inside", water, nullptr, v(116, 0, 0), -1, 0x4},
      {"mask without water", water, nullptr, v(116, 0, 0), kContentsSolid, 0},
      {"world model beyond its bounds", 0, nullptr, v(0, 0, 5000), -1, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(m.cm.contents(c.at, c.trm, kIdentity, c.mask, c.model, Vec3(), kIdentity), c.expected);
  }
  EXPECT_EQ(m.cm.contents(v(0, 0, 0), nullptr, kIdentity, -1, 55, Vec3(), kIdentity), 0);
}

// ------------------------------------------------------------------------------------ contacts

TEST_F(Queries, Contacts) {
  const int box = load(cmtest::kBoxModel, "box");
  const TraceModel four = cmtest::box(4.0f);
  ContactInfo out[16];
  // Dropping onto the top face: the box's four bottom corners touch it.
  const float drop[6] = {0, 0, -4, 0, 0, 0};
  int n = m.cm.contacts(out, 16, v(0, 0, 22), drop, 0.1f, &four, kIdentity, -1, box, Vec3(), kIdentity);
  ASSERT_EQ(n, 4);
  for (int i = 0; i < n; i++) {
    EXPECT_NEAR(out[i].point.z, 16.0f, 0.05f);
    EXPECT_EQ(out[i].normal, v(0, 0, 1));
    EXPECT_NEAR(out[i].dist, 16.0f, 0.05f);
    EXPECT_EQ(out[i].primitiveIndex, 0);
    // The box's faces are pushed out by the depth before they clip the brush face.
    EXPECT_NEAR(std::fabs(out[i].point.x), 4.1f, 0.01f);
  }
  EXPECT_EQ(m.cm.contacts(out, 0, v(0, 0, 22), drop, 0.1f, &four, kIdentity, -1, box, Vec3(), kIdentity), 0);
  EXPECT_EQ(m.cm.contacts(out, 2, v(0, 0, 22), drop, 0.1f, &four, kIdentity, -1, box, Vec3(), kIdentity), 2);
  // The same at a placed model: points and planes come back in world space.
  n = m.cm.contacts(out, 16, v(0, 0, 1022), drop, 0.1f, &four, kIdentity, -1, box, v(0, 0, 1000), kIdentity);
  ASSERT_EQ(n, 4);
  EXPECT_NEAR(out[0].point.z, 1016.0f, 0.05f);
  EXPECT_NEAR(out[0].dist, 1016.0f, 0.05f);
  // Across the seam of two brushes the corners on the seam come from both and are merged.
  const int pair = load(cmtest::brushModel("pair", {Bounds(v(-16, -16, -16), v(0, 16, 16)),
                                                    Bounds(v(0, -16, -16), v(16, 16, 16))}),
                        "pair");
  n = m.cm.contacts(out, 16, v(0, 0, 22), drop, 0.1f, &four, kIdentity, -1, pair, Vec3(), kIdentity);
  EXPECT_EQ(n, 6);
  // Point trace models touch nothing; every query went back to its pool.
  TraceModel point;
  point.clear(kTrmPoint);
  EXPECT_EQ(m.cm.contacts(out, 16, v(0, 0, 22), drop, 0.1f, &point, kIdentity, -1, box, Vec3(), kIdentity),
            0);
  EXPECT_EQ(m.cm.pooledQueries(), 0);
}

// The angular part of a movement is an axis scaled by the angle in degrees: a bar beside the box
// turned by 1 degree stays clear of it, turned by 57 or 90 degrees it sweeps over it.
TEST_F(Queries, GatherReadsTheAngularVectorInDegrees) {
  const int box = load(cmtest::kBoxModel, "box");
  TraceModel bar;
  bar.setupBox(Bounds(v(-30, -1, -1), v(30, 1, 1)));  // turns about its centre
  struct {
    float angle;
    int expected;
  } cases[] = {{0.0f, 0}, {1.0f, 0}, {-1.0f, 0}, {57.3f, 1}, {90.0f, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.angle);
    auto* q = static_cast<CollisionModelTraceModelQuery*>(m.cm.allocQuery(kTrmBox));
    const float delta[6] = {0, 0, 0, 0, 0, -c.angle};
    EXPECT_EQ(
        q->gatherPrimitives(v(0, 40, 0), delta, &bar, kIdentity, -1, m.cm.model(box), Vec3(), kIdentity),
        c.expected);
    m.cm.freeQuery(q);
  }
}

// ------------------------------------------------------------------------------------ debug drawing

struct RecordingDraw : CollisionDebugDraw {
  RecordingDraw() : previous(g_collisionDebugDraw) { g_collisionDebugDraw = this; }
  ~RecordingDraw() override { g_collisionDebugDraw = previous; }
  void polygon(const Vec4& color, const ConvexPolygon& winding, const Vec3& origin, const Mat3&, int lifetime,
               bool depthTest) override {
    colors.push_back(color);
    points += winding.numPoints;
    origins.push_back(origin);
    EXPECT_EQ(lifetime, 0);
    EXPECT_FALSE(depthTest);  // no console variable: below 2
  }
  std::vector<Vec4> colors;
  std::vector<Vec3> origins;
  int points = 0;
  CollisionDebugDraw* previous;
};

TEST_F(Queries, DebugDrawColoursAndReach) {
  RecordingDraw draw;
  const int box = load(cmtest::kBoxModel, "box");
  const int wall = load(
      "!CM collisionModel \"wall\" { nodes { 1 0 0 1 64 -1 -2 } polygons { 1 4 64 -32 -32 64 -32 32 64 32 32 "
      "64 32 -32 \"w\" } }",
      "wall");
  // The whole model: a brush draws each of its six faces in magenta.
  m.cm.debugDrawModel(box, v(5, 0, 0), kIdentity, Vec3(), 0.0f);
  ASSERT_EQ(draw.colors.size(), 6u);
  EXPECT_EQ(draw.colors[0], Vec4(1, 0, 1, 1));
  EXPECT_EQ(draw.points, 24);
  EXPECT_EQ(draw.origins[0], v(5, 0, 0));
  draw.colors.clear();
  m.cm.debugDrawModel(wall, Vec3(), kIdentity, Vec3(), 0.0f);
  ASSERT_EQ(draw.colors.size(), 1u);
  EXPECT_EQ(draw.colors[0], Vec4(0, 1, 0, 1));
  // Only what lies within the radius of the view origin; the world model is red.
  draw.colors.clear();
  m.cm.debugDrawModel(wall, v(-500, 0, 0), kIdentity, v(-500, 0, 0), 8.0f);
  EXPECT_TRUE(draw.colors.empty());
  m.cm.debugDrawModel(0, Vec3(), kIdentity, Vec3(), 0.0f);
  ASSERT_FALSE(draw.colors.empty());
  EXPECT_EQ(draw.colors[0], Vec4(1, 0, 0, 1));
  draw.colors.clear();
  m.cm.debugDrawModel(42, Vec3(), kIdentity, Vec3(), 0.0f);
  EXPECT_TRUE(draw.colors.empty());
  EXPECT_EQ(m.cm.pooledQueries(), 0);
}

// ------------------------------------------------------------------------------------ pools

TEST_F(Queries, PoolsHandOutAndTakeBack) {
  CollisionModelQueryInterface* a = m.cm.allocQuery(kTrmPoint);
  CollisionModelQueryInterface* b = m.cm.allocQuery(kTrmBox);
  EXPECT_EQ(a->traceModelType(), kTrmPoint);
  EXPECT_NE(a, b);
  EXPECT_EQ(m.cm.pooledQueries(), 2);
  m.cm.freeQuery(a);
  m.cm.freeQuery(b);
  m.cm.freeQuery(nullptr);
  EXPECT_EQ(m.cm.pooledQueries(), 0);
  EXPECT_EQ(m.cm.allocQuery(kTrmPoint), a);  // the last returned is the next handed out
  m.cm.freeQuery(a);
}

}  // namespace
