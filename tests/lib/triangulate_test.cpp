// Ear-cutting triangulation of simple polygons.
#include "lib/triangulate.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "support/shapes.h"

namespace {

struct Result {
  bool ok;
  shapes::Coverage cover;
  bool reversed;
};

Result run(const std::vector<Vec3>& pts, const Vec3& normal, const Vec3& facing) {
  Triangulator t;
  t.init(normal);
  for (const Vec3& p : pts)
    t.addPoint(p);
  Result r;
  r.ok = t.triangulate();
  r.cover = shapes::cover(t.points().ptr(), t.points().num(), t.indices(), facing);
  r.reversed = t.wasReversed();
  return r;
}

std::string readFile(std::FILE* f) {
  std::rewind(f);
  std::string s;
  char buf[512];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof(buf), f)) > 0)
    s.append(buf, n);
  return s;
}

}  // namespace

TEST(Triangulator, ShapesInBothWindingsCoverTheirArea) {
  struct Shape {
    const char* name;
    std::vector<Vec3> pts;
  } list[] = {{"L", shapes::lShape()},
              {"comb", shapes::comb(9)},
              {"spiral", shapes::spiral(40)},
              {"triangle", {{0, 0, 0}, {3, 0, 0}, {0, 2, 0}}}};
  std::mt19937 rng(61);
  for (const Shape& s : list) {
    for (bool flip : {false, true}) {
      for (int placement = 0; placement < 3; placement++) {
        const std::vector<Vec3> local = flip ? shapes::reversed(s.pts) : s.pts;
        const double area = std::fabs(shapes::shoelace(local));
        // The plane normal given is always +z of the shape's frame; a clockwise
        // outline must come back with clockwise triangles.
        Mat3 axis;
        if (placement > 0)
          axis = Angles(float(rng() % 360), float(rng() % 360), float(rng() % 360)).toMat3();
        const std::vector<Vec3> pts = shapes::placed(local, axis, Vec3(5, -3, 2));
        const Vec3 facing = axis[2] * (flip ? -1.0f : 1.0f);
        const Result r = run(pts, axis[2], facing);
        ASSERT_TRUE(r.ok) << s.name << " flipped " << flip;
        // Collinear leftovers (the comb's gap tops) are skipped, not emitted.
        EXPECT_LE(r.cover.triangles, int(pts.size()) - 2) << s.name;
        EXPECT_GE(r.cover.triangles, int(pts.size()) / 2) << s.name;
        EXPECT_EQ(r.cover.wrongFacing, 0) << s.name << " flipped " << flip;
        EXPECT_NEAR(r.cover.area, area, area * 1e-4) << s.name << " flipped " << flip;
      }
    }
  }
}

TEST(Triangulator, RandomConvexOutlines) {
  std::mt19937 rng(62);
  for (int n = 3; n <= 80; n++) {
    const std::vector<Vec3> pts = shapes::convex(rng, n);
    const Result r = run(pts, Vec3(0, 0, 1), Vec3(0, 0, 1));
    ASSERT_TRUE(r.ok) << n;
    EXPECT_EQ(r.cover.triangles, n - 2);
    EXPECT_EQ(r.cover.wrongFacing, 0);
    EXPECT_NEAR(r.cover.area, shapes::shoelace(pts), shapes::shoelace(pts) * 1e-4);
  }
}

TEST(Triangulator, LShapeLeavesTheNotchOpen) {
  const std::vector<Vec3> l = shapes::lShape();
  Triangulator t;
  t.init(Vec3(0, 0, 1));
  for (const Vec3& p : l)
    t.addPoint(p);
  ASSERT_TRUE(t.triangulate());
  EXPECT_EQ(t.indices().num(), 12) << "four triangles";
  // No triangle covers the centre of the missing square (1.5, 1.5).
  for (int i = 0; i < t.indices().num(); i += 3) {
    const Vec3 a = l[size_t(t.indices()[i])], b = l[size_t(t.indices()[i + 1])],
               c = l[size_t(t.indices()[i + 2])];
    const Vec3 p(1.5f, 1.5f, 0);
    const float s0 = (b - a).cross(p - a).z, s1 = (c - b).cross(p - b).z, s2 = (a - c).cross(p - c).z;
    EXPECT_FALSE(s0 > 0 && s1 > 0 && s2 > 0);
  }
}

TEST(Triangulator, DegenerateAndTooSmallOutlines) {
  Triangulator t;
  t.init(Vec3(0, 0, 1));
  EXPECT_FALSE(t.triangulate()) << "no points";
  t.addPoint(0, 0, 0);
  t.addPoint(1, 0, 0);
  EXPECT_FALSE(t.triangulate()) << "two points";
  EXPECT_EQ(t.indices().num(), 0);

  t.init(Vec3(0, 0, 1));
  t.addPoint(0, 0, 0);
  t.addPoint(1, 0, 0);
  t.addPoint(2, 0, 0);
  EXPECT_TRUE(t.triangulate()) << "collinear points only skip their triangle";
  EXPECT_EQ(t.indices().num(), 0);

  // Points in the middle of edges add no triangles of their own.
  const std::vector<Vec3> sq = {{0, 0, 0}, {0.5f, 0, 0}, {1, 0, 0}, {1, 0.5f, 0}, {1, 1, 0}, {0, 1, 0}};
  const Result r = run(sq, Vec3(0, 0, 1), Vec3(0, 0, 1));
  EXPECT_TRUE(r.ok);
  EXPECT_NEAR(r.cover.area, 1.0, 1e-5);

  t.init(Vec3(0, 0, 1));
  const float nan = std::numeric_limits<float>::quiet_NaN();
  t.addPoint(nan, 0, 0);
  t.addPoint(1, nan, 0);
  t.addPoint(1, 1, 0);
  t.addPoint(0, 1, nan);
  t.triangulate();  // must end, whatever it finds
  SUCCEED();
}

TEST(Triangulator, FailureDumpFormat) {
  Triangulator t;
  t.dumpFailure(nullptr);
  std::FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  t.init(Vec3(0, 0, 1));
  t.dumpFailure(f);
  EXPECT_EQ(readFile(f), "") << "nothing without an outline";
  for (const Vec3& p : std::vector<Vec3>{{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}})
    t.addPoint(p);
  ASSERT_TRUE(t.triangulate());
  t.dumpFailure(f);
  const std::string text = readFile(f);
  std::fclose(f);
  EXPECT_EQ(text.rfind("g triangulate_failed\n\nv ", 0), 0u) << text;
  EXPECT_NE(text.find("\nf 1 2 3 4\n\n"), std::string::npos) << "the outline face";
  EXPECT_NE(text.find("g triangulate_shape_result\n\n"), std::string::npos);
  EXPECT_NE(text.find("v 1.00000 1.00000 0.\n"), std::string::npos) << text;
  // Result faces refer to the second group, numbered from 5.
  size_t at = text.find("g triangulate_shape_result");
  int faces = 0;
  for (size_t p = text.find("\nf ", at); p != std::string::npos; p = text.find("\nf ", p + 1)) {
    int a = 0, b = 0, c = 0;
    ASSERT_EQ(std::sscanf(text.c_str() + p, "\nf %d %d %d", &a, &b, &c), 3);
    EXPECT_GE(std::min(a, std::min(b, c)), 5);
    EXPECT_LE(std::max(a, std::max(b, c)), 8);
    faces++;
  }
  EXPECT_EQ(faces, 2);
}
