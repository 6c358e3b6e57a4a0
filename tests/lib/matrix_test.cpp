// Matrices, angles, quaternions, rotations, joints and tangent space.
#include "lib/matrix.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "lib/fastmath.h"
#include "lib/interface/renderinterface.h"
#include "support/shapes.h"
#include "support/tangent_reference.h"

namespace {

const float kNaN = std::numeric_limits<float>::quiet_NaN();

using shapes::randomUnit;

Angles randomAngles(std::mt19937& rng, float pitchLimit = 89.0f) {
  std::uniform_real_distribution<float> p(-pitchLimit, pitchLimit), a(-360.0f, 360.0f);
  return Angles(p(rng), a(rng), a(rng));
}

Mat4 randomMat4(std::mt19937& rng) {
  std::uniform_real_distribution<float> u(-3.0f, 3.0f);
  Mat4 m;
  for (float& f : m.m)
    f = u(rng);
  return m;
}

// Double-precision product in the "a then b" order.
void referenceProduct(const Mat4& a, const Mat4& b, double out[16]) {
  for (int c = 0; c < 4; c++)
    for (int r = 0; r < 4; r++) {
      double s = 0;
      for (int k = 0; k < 4; k++)
        s += double(a.m[c * 4 + k]) * double(b.m[k * 4 + r]);
      out[c * 4 + r] = s;
    }
}

::testing::AssertionResult orthonormal(const Mat3& m, float eps) {
  for (int i = 0; i < 3; i++) {
    if (std::fabs(m[i].length() - 1.0f) > eps)
      return ::testing::AssertionFailure() << "row " << i << " length";
    for (int j = i + 1; j < 3; j++)
      if (std::fabs(m[i].dot(m[j])) > eps)
        return ::testing::AssertionFailure() << "rows " << i << "," << j;
  }
  if (m[0].cross(m[1]).dot(m[2]) < 0)
    return ::testing::AssertionFailure() << "left-handed";
  return ::testing::AssertionSuccess();
}

}  // namespace

TEST(Angles, KnownMatricesAndNormalisation) {
  EXPECT_EQ(Angles(0, 0, 0).toMat3(), Mat3::identity());
  const Mat3 yaw = Angles(0, 90, 0).toMat3();
  EXPECT_TRUE(yaw[0].compare(Vec3(0, 1, 0), 1e-6f));
  EXPECT_TRUE(yaw[1].compare(Vec3(-1, 0, 0), 1e-6f)) << "row 1 is the left axis";
  EXPECT_TRUE(Angles(90, 0, 0).toMat3()[0].compare(Vec3(0, 0, -1), 1e-6f)) << "positive pitch looks down";

  struct Case {
    float in, n360, n180;
  } cases[] = {{-30, 330, -30}, {720, 0, 0}, {190, 190, -170}, {360, 0, 0}, {180, 180, 180}, {-1e-8f, 0, 0}};
  for (const Case& c : cases) {
    EXPECT_EQ(Angles::angleNormalize360(c.in), c.n360) << c.in;
    EXPECT_EQ(Angles::angleNormalize180(c.in), c.n180) << c.in;
    const float r = Angles::angleNormalize360(c.in);
    EXPECT_TRUE(r >= 0 && r < 360) << c.in;
  }
  Angles a(-30, 720, 190);
  a.normalize180();
  EXPECT_EQ(a, Angles(-30, 0, -170));
}

TEST(Angles, MatrixRoundTrip) {
  std::mt19937 rng(1);
  for (int i = 0; i < 2000; i++) {
    const Angles a = randomAngles(rng);
    const Mat3 m = a.toMat3();
    ASSERT_TRUE(orthonormal(m, 1e-5f));
    const Angles back = m.toAngles();
    EXPECT_TRUE(back.pitch >= 0 && back.pitch < 360 && back.yaw >= 0 && back.yaw < 360);
    EXPECT_TRUE(back.toMat3().compare(m, 2e-4f)) << "angles " << a.pitch << " " << a.yaw << " " << a.roll;
    Vec3 f, r, u;
    a.toVectors(&f, &r, &u);
    EXPECT_TRUE(a.toForward().compare(f, 0));
  }
  // Looking straight down: the yaw carries everything and roll is 0.
  Mat3 down(Vec3(0, 0, -1), Vec3(-1, 0, 0), Vec3(0, 1, 0));
  const Angles d = down.toAngles();
  EXPECT_EQ(d.roll, 0.0f);
  EXPECT_NEAR(d.pitch, 90.0f, 1e-4f);
  EXPECT_TRUE(d.toMat3().compare(down, 1e-4f));
}

TEST(Quat, AgreesWithMatrices) {
  std::mt19937 rng(2);
  for (int i = 0; i < 1000; i++) {
    const Angles a = randomAngles(rng, 180.0f);
    const Quat q = a.toQuat();
    EXPECT_GE(q.w, 0.0f);
    EXPECT_NEAR(q.length(), 1.0f, 1e-5f);
    EXPECT_TRUE(q.toMat3().compare(a.toMat3(), 2e-5f))
        << "angles " << a.pitch << " " << a.yaw << " " << a.roll;
    // calcW rebuilds w from x, y, z (cancellation makes small w coarse).
    EXPECT_NEAR(Quat(q.x, q.y, q.z, 0).calcW(), std::fabs(q.w), 5e-3f);
  }
}

TEST(Quat, SlerpEndsAntipodesAndReference) {
  std::mt19937 rng(4);
  for (int i = 0; i < 500; i++) {
    Quat from = randomAngles(rng, 180).toQuat(), to = randomAngles(rng, 180).toQuat();
    Quat r;
    EXPECT_TRUE(r.slerp(from, to, 0.0f).compare(from, 0));
    EXPECT_TRUE(r.slerp(from, to, 1.0f).compare(to, 0));
    EXPECT_TRUE(r.slerp(from, to, -3.0f).compare(from, 0));
    // Against double precision on the shorter arc.
    const double f = std::uniform_real_distribution<double>(0.0, 1.0)(rng);
    double d = double(from.dot(to));
    Quat t = to;
    if (d < 0) {
      d = -d;
      t = to.negated();
    }
    d = std::min(d, 1.0);
    const double omega = std::acos(d);
    double ref[4];
    for (int k = 0; k < 4; k++) {
      ref[k] = omega < 1e-6
                   ? (1 - f) * from[k] + f * t[k]
                   : (std::sin((1 - f) * omega) * from[k] + std::sin(f * omega) * t[k]) / std::sin(omega);
    }
    r.slerp(from, to, float(f));
    for (int k = 0; k < 4; k++)
      EXPECT_NEAR(r[k], ref[k], 0.02) << "component " << k;
  }
  const Quat q = Angles(10, 20, 30).toQuat();
  Quat r;
  EXPECT_TRUE(r.slerp(q, q.negated(), 0.5f).compare(q, 1e-6f)) << "q and -q are one rotation";
  EXPECT_TRUE(r.slerp(q, q, 0.3f).compare(q, 0));
  r.slerp(Quat(kNaN, 0, 0, 1), q, 0.5f);  // must not crash or index outside the table
  Quat n(3, 0, 4, 0);
  EXPECT_EQ(n.normalize(), 5.0f);
  Quat z(0, 0, 0, 0);
  EXPECT_EQ(z.normalize(), 0.0f);
  EXPECT_EQ(std::string(Quat(1, 0.5f, 0, -2).toString(2)), "1.00 0.50 0.00 -2.");
}

TEST(Rotation, MatrixRoundTripAndInvariants) {
  std::mt19937 rng(6);
  std::uniform_real_distribution<float> ang(-179.0f, 179.0f);
  for (int i = 0; i < 1000; i++) {
    const Vec3 axis = randomUnit(rng);
    const float angle = ang(rng);
    const Rotation r(Vec3(), axis, angle);
    const Mat3& m = r.toMat3();
    ASSERT_TRUE(orthonormal(m, 1e-5f));
    EXPECT_TRUE(m.transform(axis).compare(axis, 1e-5f)) << "the axis is fixed";
    const float trace = m[0][0] + m[1][1] + m[2][2];
    EXPECT_NEAR(trace, 1.0f + 2.0f * std::cos(angle * kDegToRad), 1e-5f);
    const Rotation back = Rotation::fromMat3(m);
    // acos(w) resolves small half angles only to about 3e-4 radians.
    EXPECT_TRUE(Rotation(Vec3(), back.vec(), back.angle()).toMat3().compare(m, 1e-3f)) << angle;
    EXPECT_NEAR(std::fabs(back.angle()), std::fabs(angle), 0.05f);
    // Mat3 -> angular vector -> the same rotation.
    const Vec3 av = m.toAngularVector();
    const float len = av.length();
    if (len > 1e-3f) {
      EXPECT_TRUE(Rotation(Vec3(), av * (1.0f / len), len * kRadToDeg).toMat3().compare(m, 1e-3f));
    }
  }
  const Rotation id = Rotation::fromMat3(Mat3::identity());
  EXPECT_EQ(id.angle(), 0.0f);
  EXPECT_EQ(id.vec(), Vec3(0, 0, 1));
  const Rotation z90 = Rotation::fromMat3(Rotation(Vec3(), Vec3(0, 0, 1), 90).toMat3());
  EXPECT_EQ(z90.vec(), Vec3(0, 0, 1)) << "an axial vector snaps exactly";
  Rotation::fromMat3(Mat3(Vec3(kNaN, 0, 0), Vec3(), Vec3(2, 2, 2)));  // clamped acos, no crash

  Rotation p(Vec3(1, 0, 0), Vec3(0, 0, 1), 180);
  EXPECT_TRUE(p.rotatePoint(Vec3(2, 0, 0)).compare(Vec3(0, 0, 0), 1e-5f)) << "about its origin";
  Rotation n(Vec3(), Vec3(0, 0, 1), 540);
  EXPECT_EQ(n.normalize180().angle(), 180.0f);
  EXPECT_EQ(Rotation(Vec3(), Vec3(0, 0, 1), -90).normalize360().angle(), 270.0f);
  EXPECT_EQ(Rotation(Vec3(), Vec3(0, 0, 1), 190).normalize180().angle(), -170.0f);
  Rotation c(Vec3(), Vec3(0, 0, 1), 90);
  const Mat3 before = c.toMat3();
  c.setAngle(45);
  EXPECT_NE(c.toMat3(), before) << "changing the angle refreshes the cached matrix";
  EXPECT_EQ(c.scaled(2).angle(), 90.0f);
  EXPECT_EQ((-c).angle(), -45.0f);
}

// Mat4 rotations turn counter-clockwise looking down the axis (the sense of the fixed-function
// texture and model-view rotations), whatever the axis's length: the sense opposite to Rotation's
// row-vector matrices. rotationZ is the rotation about z; a zero axis leaves the identity.
TEST(Mat4, AxisAngleRotationsAgreeWithRotation) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<float> ang(-360.0f, 360.0f);
  std::uniform_real_distribution<float> len(0.01f, 50.0f);
  std::uniform_real_distribution<float> coord(-10.0f, 10.0f);
  for (int i = 0; i < 500; i++) {
    const Vec3 axis = randomUnit(rng);
    const float angle = ang(rng);
    const float scale = len(rng);
    const Mat4 m = Mat4::fromAxisAngle(angle, axis.x * scale, axis.y * scale, axis.z * scale);
    ASSERT_TRUE(orthonormal(m.toMat3(), 1e-5f)) << angle;
    EXPECT_EQ(m.m[12], 0.0f);
    EXPECT_EQ(m.m[15], 1.0f);
    const Vec3 p(coord(rng), coord(rng), coord(rng));
    const Vec3 expected = Rotation(Vec3(), axis, -angle).rotatePoint(p);
    EXPECT_TRUE(m.transformPoint(p).compare(expected, 1e-3f)) << "angle " << angle;
    const Mat4 z = Mat4::rotationZ(angle);
    EXPECT_TRUE(z.compare(Mat4::fromAxisAngle(angle, 0.0f, 0.0f, 3.0f), 1e-6f)) << angle;
  }
  struct Case {
    float degrees;
    Vec3 axis, point, expected;
  } cases[] = {
      {90.0f, Vec3(0, 0, 1), Vec3(1, 0, 0), Vec3(0, 1, 0)},
      {90.0f, Vec3(1, 0, 0), Vec3(0, 1, 0), Vec3(0, 0, 1)},
      {-90.0f, Vec3(1, 0, 0), Vec3(0, 1, 0), Vec3(0, 0, -1)},
      {90.0f, Vec3(0, 2, 0), Vec3(0, 0, 1), Vec3(1, 0, 0)},
      {180.0f, Vec3(0, 0, -1), Vec3(1, 1, 0), Vec3(-1, -1, 0)},
  };
  for (const Case& c : cases)
    EXPECT_TRUE(Mat4::fromAxisAngle(c.degrees, c.axis.x, c.axis.y, c.axis.z)
                    .transformPoint(c.point)
                    .compare(c.expected, 1e-6f))
        << c.degrees;
  const Mat4 z90 = Mat4::rotationZ(90.0f);
  EXPECT_NEAR(z90.m[0], 0.0f, 1e-7f);
  EXPECT_EQ(z90.m[1], 1.0f) << "cos, sin in the first four elements";
  EXPECT_EQ(z90.m[4], -1.0f) << "-sin, cos in the next four";
  EXPECT_EQ(Mat4::fromAxisAngle(30.0f, 0.0f, 0.0f, 0.0f), Mat4::identity());
  EXPECT_EQ(Mat4::fromAxisAngle(30.0f, kNaN, 0.0f, 0.0f), Mat4::identity());
}

TEST(Mat3, ProductsTransposeAndFixes) {
  std::mt19937 rng(8);
  for (int i = 0; i < 200; i++) {
    const Mat3 a = randomAngles(rng).toMat3(), b = randomAngles(rng).toMat3();
    const Vec3 v = randomUnit(rng) * 3.0f;
    EXPECT_TRUE((a * b).transform(v).compare(b.transform(a.transform(v)), 1e-5f)) << "a applies first";
    EXPECT_TRUE((a * a.transposed()).compare(Mat3::identity(), 1e-5f));
    Vec3 dst;
    EXPECT_EQ(&a.transformRowVec(dst, v), &dst);
    EXPECT_EQ(dst, a.transform(v));
    EXPECT_TRUE(a.transformTransposed(a.transform(v)).compare(v, 1e-5f));
    EXPECT_NEAR(Mat3::rotateNormalize(v, a).length(), 1.0f, 1e-6f);
  }
  Mat3 d(Vec3(1, 1e-31f, 0), Vec3(0, 1, -1e-35f), Vec3(0, 0, 1));
  EXPECT_TRUE(d.fixDenormals());
  EXPECT_EQ(d, Mat3::identity());
  EXPECT_FALSE(d.fixDenormals());
  Mat3 g(Vec3(2, 0, 0), Vec3(0, -0.5f, 0), Vec3(0.6f, 0.8f, 0));
  EXPECT_TRUE(g.fixDegenerate());
  EXPECT_EQ(g[0], Vec3(1, 0, 0));
  EXPECT_EQ(g[1], Vec3(0, -1, 0));
  Mat3 o(Vec3(), Vec3(0, 5, 0), Vec3(0, 0, 3));
  o.orthoNormalize();
  EXPECT_TRUE(orthonormal(o, 1e-6f)) << "a zero row is rebuilt from row 2";
  Mat3 s(Vec3(3, 0, 0), Vec3(0, 2, 0), Vec3(0, 0, 4));
  s.orthoNormalize();
  EXPECT_EQ(s, Mat3::identity());
  // Skewed rows: orthoNormalize only normalises them, the cross-product form
  // makes them perpendicular, keeping row 0's direction and the 0-1 plane.
  Mat3 skew(Vec3(2, 0, 0), Vec3(1, 1, 0), Vec3(0, 0.5f, 3));
  Mat3 rowsOnly = skew;
  rowsOnly.orthoNormalize();
  EXPECT_TRUE(rowsOnly[1].compare(Vec3(1, 1, 0).normalized(), 1e-6f)) << "rows normalised in place";
  EXPECT_GT(std::fabs(rowsOnly[0].dot(rowsOnly[1])), 0.5f) << "and left skewed";
  Mat3 gs = skew;
  gs.orthoNormalizeByCross();
  EXPECT_TRUE(orthonormal(gs, 1e-6f));
  EXPECT_TRUE(gs[0].compare(Vec3(1, 0, 0), 1e-6f));
  EXPECT_TRUE(gs[1].compare(Vec3(0, 1, 0), 1e-6f)) << "row 1 stays in the plane of rows 0 and 1, same side";
  EXPECT_TRUE(gs[2].compare(Vec3(0, 0, 1), 1e-6f)) << "row 2 = row 0 x row 1, old row 2 ignored";
  for (int i = 0; i < 200; i++) {
    Mat3 r(randomUnit(rng) * 2.0f, randomUnit(rng) * 0.5f, randomUnit(rng));
    const Vec3 forward = r[0].normalized();
    r.orthoNormalizeByCross();
    if (r[1].length() < 0.5f)
      continue;  // rows 0 and 1 (nearly) parallel: nothing to keep
    EXPECT_TRUE(orthonormal(r, 1e-5f));
    EXPECT_TRUE(r[0].compare(forward, 1e-6f));
    EXPECT_NEAR(r[0].cross(r[1]).dot(r[2]), 1.0f, 1e-5f) << "right-handed";
  }
  const Mat4 m4 = Angles(0, 90, 0).toMat3().toMat4();
  EXPECT_TRUE(m4.transformPoint(Vec3(1, 0, 0)).compare(Vec3(0, 1, 0), 1e-6f));
  EXPECT_EQ(m4[15], 1.0f);
}

TEST(Mat4, MultiplyAgainstDoubleReference) {
  std::mt19937 rng(10);
  for (int i = 0; i < 1000; i++) {
    const Mat4 a = randomMat4(rng), b = randomMat4(rng);
    const Mat4 p = Mat4::multiply(a, b);
    double ref[16];
    referenceProduct(a, b, ref);
    for (int k = 0; k < 16; k++)
      ASSERT_NEAR(p.m[k], ref[k], 1e-4) << "element " << k;
  }
  // "a then b" on points.
  const Mat4 a = Mat4::fromMat3(Angles(10, 20, 30).toMat3(), Vec3(1, 2, 3));
  const Mat4 b = Mat4::fromMat3(Angles(-40, 5, 60).toMat3(), Vec3(-4, 0, 2));
  const Vec3 v(0.3f, -2, 5);
  EXPECT_TRUE(Mat4::multiply(a, b).transformPoint(v).compare(b.transformPoint(a.transformPoint(v)), 1e-5f));
  Mat4 s = a;
  s.scale(2, 3, 4);
  EXPECT_TRUE(s.transformPoint(v).compare(a.transformPoint(Vec3(0.6f, -6, 20)), 1e-5f))
      << "the scale applies first";
  const Mat4 f = Mat4::multiply(Mat4::fromAxes(Vec3(0, 1, 0), Vec3(-1, 0, 0), Vec3(0, 0, 1)),
                                Mat4::translate(Vec3(5, 6, 7)));
  EXPECT_TRUE(f.transformPoint(Vec3(1, 0, 0)).compare(Vec3(5, 7, 7), 1e-6f));
}

TEST(Mat4, InverseTimesMatrixIsIdentity) {
  std::mt19937 rng(12);
  int tested = 0;
  for (int i = 0; i < 2000; i++) {
    const Mat4 m = randomMat4(rng);
    Mat4 inv = m;
    ASSERT_TRUE(inv.inverse());
    double ref[16];
    referenceProduct(m, inv, ref);
    // Skip badly conditioned draws: their float inverse is legitimately loose.
    double norm = 0;
    for (float f : inv.m)
      norm = std::max(norm, double(std::fabs(f)));
    if (norm > 100)
      continue;
    tested++;
    for (int k = 0; k < 16; k++)
      ASSERT_NEAR(ref[k], (k % 5 == 0) ? 1.0 : 0.0, 2e-4) << "element " << k;
  }
  EXPECT_GT(tested, 1500);

  Mat4 z = randomMat4(rng);
  z.m[4] = z.m[5] = z.m[6] = z.m[7] = 0;
  EXPECT_FALSE(z.inverse());
  EXPECT_EQ(z, Mat4::identity()) << "a singular matrix leaves the identity";

  for (int i = 0; i < 200; i++) {
    const Mat4 rigid = Mat4::fromMat3(randomAngles(rng).toMat3(), randomUnit(rng) * 40.0f);
    Mat4 a = rigid, b = rigid;
    a.inverse();
    b.inverseRigid();
    EXPECT_TRUE(a.compare(b, 1e-4f));
    EXPECT_TRUE(Mat4::multiply(rigid, b).compare(Mat4::identity(), 1e-4f));
  }
}

TEST(Mat4, ProjectionsAndExactBits) {
  const Mat4 inf = Mat4::frustum(-1, 1, -1, 1, 2, 1e30f);
  EXPECT_EQ(std::bit_cast<uint32_t>(inf.m[10]), 0xBF7FFFEFu);
  EXPECT_EQ(inf.m[14], -1.999998f * 2);
  EXPECT_EQ(inf.m[11], -1.0f);
  EXPECT_EQ(inf.m[15], 0.0f);
  const Mat4 fin = Mat4::frustum(-1, 3, -2, 2, 1, 101);
  EXPECT_EQ(fin.m[0], 0.5f);
  EXPECT_EQ(fin.m[8], 0.5f);
  EXPECT_EQ(fin.m[10], -102.0f / 100.0f);
  EXPECT_EQ(fin.m[14], -2.0f * 101.0f / 100.0f);
  // A point on the near plane maps to depth -1, on the far plane to +1.
  EXPECT_NEAR(fin.projectPoint(Vec3(0, 0, -1)).z, -1.0f, 1e-5f);
  EXPECT_NEAR(fin.projectPoint(Vec3(0, 0, -101)).z, 1.0f, 1e-4f);
  const Mat4 o = Mat4::ortho(0, 640, 480, 0, -1, 1);
  EXPECT_TRUE(o.transformPoint(Vec3(640, 0, 0)).compare(Vec3(1, 1, 0), 1e-6f));
  EXPECT_EQ(Mat4::orthoCentered(2, 3, -1, 1), Mat4::ortho(-2, 2, -3, 3, -1, 1));
  const Mat4 p = Mat4::perspective(90, 90, 1, 100);
  EXPECT_NEAR(p.m[0], 1.0f, 1e-6f);

  // w exactly 1 or within 1e-6 of 0: no divide.
  Mat4 w;
  w.m[15] = 1e-7f;
  EXPECT_EQ(w.projectPoint(Vec3(2, 3, 4)), Vec3(2, 3, 4));
  w.m[15] = 2;
  EXPECT_EQ(w.projectPoint(Vec3(2, 4, 6)), Vec3(1, 2, 3));
  Vec3 outs[2];
  const Vec3 ins[2] = {{2, 4, 6}, {0, 0, 2}};
  w.projectPoints(ins, 2, outs);
  EXPECT_EQ(outs[1], Vec3(0, 0, 1));

  const Mat4 look = Mat4::lookAt(Vec3(1, 2, 3), Vec3(0, 0, 1), Vec3(0, 1, 0));
  EXPECT_TRUE(look.transformPoint(Vec3(1, 2, 3)).compare(Vec3(), 1e-5f)) << "the eye goes to the origin";
  EXPECT_TRUE(look.transformPoint(Vec3(1, 3, 3)).compare(Vec3(0, 0, 1), 1e-5f));
}

TEST(Joints, MatricesConcatenationAndBlend) {
  std::mt19937 rng(14);
  JointQuat joints[4];
  for (JointQuat& j : joints) {
    j.q = randomAngles(rng, 180).toQuat();
    j.t = randomUnit(rng) * 5.0f;
  }
  Mat4 m[4];
  jointsToMatrices(m, joints, 4);
  for (int i = 0; i < 4; i++) {
    EXPECT_TRUE(m[i].toMat3().compare(joints[i].q.toMat3(), 0));
    EXPECT_EQ(m[i].transformPoint(Vec3()), joints[i].t);
    EXPECT_EQ(m[i][15], 1.0f);
  }
  const int parents[4] = {-1, 0, 1, 3};
  Mat4 world[4] = {m[0], m[1], m[2], m[3]};
  concatJointsToParents(world, parents, 1, 3);
  const Vec3 v(1, 2, 3);
  EXPECT_TRUE(world[1].transformPoint(v).compare(m[0].transformPoint(m[1].transformPoint(v)), 1e-4f))
      << "the joint's own transform applies first, then the parent's";
  EXPECT_TRUE(world[2].transformPoint(v).compare(
      m[0].transformPoint(m[1].transformPoint(m[2].transformPoint(v))), 1e-3f));
  EXPECT_EQ(world[3], m[3]) << "a joint naming itself as parent is left alone";

  JointQuat a[3], b[3];
  for (int i = 0; i < 3; i++) {
    a[i].q = randomAngles(rng, 180).toQuat();
    b[i].q = randomAngles(rng, 180).toQuat();
    a[i].t = Vec3(float(i), 0, 0);
    b[i].t = Vec3(float(i), 10, 0);
  }
  const Quat untouched = a[1].q;
  const int list[2] = {0, 2};
  blendJoints(a, b, 0.5f, list, 2);
  EXPECT_EQ(a[0].t, Vec3(0, 5, 0));
  EXPECT_EQ(a[2].t, Vec3(2, 5, 0));
  EXPECT_TRUE(a[1].q.compare(untouched, 0)) << "joints not listed keep their pose";
}

TEST(Tangents, FlatAndMirroredFrames) {
  const Vec3 p0(0, 0, 0), p1(1, 0, 0), p2(0, 1, 0);
  Plane pl;
  const Mat3 f = triangleTangents(p0, p1, p2, Vec2(0, 0), Vec2(1, 0), Vec2(0, 1), &pl);
  EXPECT_TRUE(f[0].compare(Vec3(1, 0, 0), 1e-5f)) << "first tangent along increasing s";
  EXPECT_TRUE(f[1].compare(Vec3(0, -1, 0), 1e-5f));
  EXPECT_TRUE(f[2].compare(Vec3(0, 0, 1), 1e-5f));
  EXPECT_NEAR(pl.d, 0.0f, 1e-6f);
  const Mat3 m = triangleTangents(p0, p1, p2, Vec2(0, 0), Vec2(-1, 0), Vec2(0, 1), nullptr);
  EXPECT_TRUE(m[0].compare(Vec3(-1, 0, 0), 1e-5f)) << "under a mirrored mapping s grows along -x";
  EXPECT_TRUE(m[1].compare(f[1], 1e-5f));
  const Mat3 t = tangentFrame(f, pl, Vec3(0, 0, 1));
  EXPECT_TRUE(t[0].compare(Vec3(1, 0, 0), 1e-5f));
  EXPECT_EQ(t[2], Vec3(0, 0, 1));

  // A quad of two triangles: every vertex gets the flat frame.
  std::vector<DrawVertex> v(4);
  const float xy[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
  for (int i = 0; i < 4; i++) {
    v[i] = DrawVertex{};
    v[i].xyz[0] = xy[i][0] * 4;
    v[i].xyz[1] = xy[i][1] * 4;
    v[i].st[0] = xy[i][0];
    v[i].st[1] = xy[i][1];
  }
  const int idx[6] = {0, 1, 2, 0, 2, 3};
  Plane planes[2];
  deriveTangents(v.data(), 4, idx, 6, planes);
  for (int i = 0; i < 4; i++) {
    EXPECT_NEAR(v[i].tangents[0][0], 1.0f, 1e-5f);
    EXPECT_NEAR(v[i].normal[2], 1.0f, 1e-5f);
  }
  EXPECT_NEAR(planes[1].c, 1.0f, 1e-5f);
  Plane tp[2];
  deriveTrianglePlanes(v.data(), 4, idx, 6, tp);
  EXPECT_TRUE(tp[0].compare(planes[0], 1e-5f, 1e-5f));
}

TEST(Tangents, HashedWeldMatchesAllPairsScanBitForBit) {
  for (bool useNormals : {false, true}) {
    std::vector<DrawVertex> mesh;
    std::vector<int> idx;
    tangent_reference::makeSeamMesh(23, 17, mesh, idx);
    // Shuffle the vertex order so merges are not just neighbours.
    std::mt19937 rng(useNormals ? 1 : 2);
    std::vector<int> perm(mesh.size());
    for (size_t i = 0; i < perm.size(); i++)
      perm[i] = int(i);
    std::shuffle(perm.begin(), perm.end(), rng);
    std::vector<DrawVertex> shuffled(mesh.size());
    std::vector<int> inverse(mesh.size());
    for (size_t i = 0; i < perm.size(); i++) {
      shuffled[i] = mesh[size_t(perm[i])];
      inverse[size_t(perm[i])] = int(i);
    }
    for (int& k : idx)
      k = inverse[size_t(k)];
    // Jitter within the weld tolerance on a few vertices.
    for (size_t i = 0; i < shuffled.size(); i += 7)
      shuffled[i].xyz[0] += 0.0004f;

    std::vector<DrawVertex> a = shuffled, b = shuffled;
    deriveNormalsAndTangents(a.data(), int(a.size()), idx.data(), int(idx.size()), nullptr, useNormals);
    tangent_reference::deriveNormalsAndTangentsQuadratic(b.data(), int(b.size()), idx.data(), int(idx.size()),
                                                         useNormals);
    ASSERT_EQ(std::memcmp(a.data(), b.data(), a.size() * sizeof(DrawVertex)), 0)
        << "useVertexNormals " << useNormals;
    // Welded vertices share one frame.
    int shared = 0;
    for (size_t i = 1; i < a.size(); i++) {
      for (size_t j = 0; j < i && j < 8; j++) {
        if (tangent_reference::pos(a[i]).compare(tangent_reference::pos(a[j]), 0.001f) && !useNormals) {
          EXPECT_EQ(std::memcmp(a[i].tangents, a[j].tangents, sizeof(a[i].tangents)), 0);
          shared++;
        }
      }
    }
    if (!useNormals) {
      EXPECT_GT(shared, 0);
    }
  }
}

TEST(Tangents, WeldChainsAcrossGridCellsMatchTheAllPairsScan) {
  // Vertices closer than the weld tolerance to their neighbours, strung across
  // many grid cells: which vertex absorbs which depends on the scan order.
  for (bool useNormals : {false, true}) {
    std::vector<DrawVertex> v(400);
    std::vector<int> idx;
    for (int i = 0; i < 400; i++) {
      v[size_t(i)] = DrawVertex{};
      v[size_t(i)].xyz[0] = float(i) * 0.0007f + 3.0f;
      v[size_t(i)].xyz[1] = float(i % 3) * 0.0004f;
      v[size_t(i)].xyz[2] = float(i % 7) * 0.0003f;
      v[size_t(i)].st[0] = float(i % 5);
      v[size_t(i)].st[1] = float(i % 4);
      v[size_t(i)].normal[2] = 1.0f;
      if (i + 2 < 400) {
        idx.push_back(i);
        idx.push_back(i + 1);
        idx.push_back(i + 2);
      }
    }
    std::vector<DrawVertex> a = v, b = v;
    deriveNormalsAndTangents(a.data(), 400, idx.data(), int(idx.size()), nullptr, useNormals);
    tangent_reference::deriveNormalsAndTangentsQuadratic(b.data(), 400, idx.data(), int(idx.size()),
                                                         useNormals);
    EXPECT_EQ(std::memcmp(a.data(), b.data(), a.size() * sizeof(DrawVertex)), 0)
        << "useVertexNormals " << useNormals;
  }
}

TEST(Tangents, LargeMeshesBadIndicesAndNonFiniteInput) {
  // More vertices than any fixed scratch would hold.
  std::vector<DrawVertex> mesh;
  std::vector<int> idx;
  tangent_reference::makeSeamMesh(200, 120, mesh, idx);  // 96,000 vertices
  ASSERT_GT(mesh.size(), 65536u);
  deriveTangents(mesh.data(), int(mesh.size()), idx.data(), int(idx.size()), nullptr, false);
  EXPECT_NEAR(tangent_reference::nrm(mesh.back()).length(), 1.0f, 1e-3f);
  deriveNormalsAndTangents(mesh.data(), int(mesh.size()), idx.data(), int(idx.size()), nullptr, false);
  EXPECT_NEAR(tangent_reference::nrm(mesh.back()).length(), 1.0f, 1e-3f);

  std::vector<DrawVertex> small(4);
  const int bad[9] = {0, 1, 2, 0, 7, 1, -3, 1, 2};
  Plane planes[3];
  planes[1] = Plane(1, 2, 3, 4);
  deriveTangents(small.data(), 4, bad, 9, planes, true);
  EXPECT_EQ(planes[1], Plane()) << "a triangle indexing outside the vertices is skipped";
  EXPECT_EQ(planes[2], Plane());
  small[0].xyz[0] = kNaN;
  small[1].xyz[1] = std::numeric_limits<float>::infinity();
  deriveNormalsAndTangents(small.data(), 4, bad, 9, planes, true);
  deriveNormalsAndTangents(small.data(), 0, bad, 0, nullptr, false);
  SUCCEED();
}

TEST(Tangents, MergeAndMatching) {
  std::vector<DrawVertex> v(3);
  for (DrawVertex& d : v)
    d = DrawVertex{};
  v[0].tangents[0][0] = 1;
  v[0].normal[2] = 1;
  v[1].xyz[0] = 0.0005f;
  v[1].tangents[0][1] = 1;
  v[1].normal[2] = 1;
  v[2].xyz[0] = 5;
  v[2].tangents[0][2] = 1;
  mergeTangents(v.data(), 3, 0.001f);
  const float h = std::sqrt(0.5f);
  EXPECT_NEAR(v[0].tangents[0][0], h, 1e-6f);
  EXPECT_NEAR(v[1].tangents[0][1], h, 1e-6f) << "the others copy the first";
  EXPECT_EQ(v[2].tangents[0][2], 1.0f);

  std::vector<DrawVertex> donors(2);
  for (DrawVertex& d : donors)
    d = DrawVertex{};
  donors[1].xyz[0] = 5;
  donors[1].normal[0] = 2;
  bool matched[3] = {false, false, false};
  addMatchingTangents(v.data() + 2, 1, donors.data(), 2, 0.001f, matched);
  EXPECT_TRUE(matched[0]);
  EXPECT_EQ(v[2].normal[0], 2.0f);
}
