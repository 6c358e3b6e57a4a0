// Orientation types and their conversions: Mat3 (an axis), Mat4 (column-major
// 4x4), Angles, Quat, JointQuat, Rotation, the joint helpers of skinned meshes
// and the tangent-space derivation of render vertices.
#pragma once

#include <cstdint>

#if defined(__SSE__)
#include <xmmintrin.h>
#endif

#include "lib/vector.h"

class Quat;
class Mat4;
// The render vertex (lib/interface/renderinterface.h): 17 floats, floats 7-9 the
// first tangent, 10-12 the second, 13-15 the normal.
struct DrawVertex;
class Rotation;

// Three row vectors; row 0 forward, row 1 left, row 2 up. A vector v maps to
// v.x * row0 + v.y * row1 + v.z * row2.
class Mat3 {
 public:
  Vec3 rows[3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};

  constexpr Mat3() = default;
  constexpr Mat3(const Vec3& r0, const Vec3& r1, const Vec3& r2) : rows{r0, r1, r2} {}

  Vec3& operator[](int i) { return rows[i]; }
  const Vec3& operator[](int i) const { return rows[i]; }
  float* ptr() { return &rows[0].x; }
  const float* ptr() const { return &rows[0].x; }

  static constexpr Mat3 identity() { return {}; }
  static constexpr Mat3 zero() { return {Vec3(), Vec3(), Vec3()}; }

  // v.x * row0 + v.y * row1 + v.z * row2.
  Vec3 transform(const Vec3& v) const { return rows[0] * v.x + rows[1] * v.y + rows[2] * v.z; }
  Vec3& transformRowVec(Vec3& dst, const Vec3& src) const {
    dst = transform(src);
    return dst;
  }
  // The transpose applied: (row0 . v, row1 . v, row2 . v), the inverse for an
  // orthonormal axis.
  Vec3 transformTransposed(const Vec3& v) const { return {rows[0].dot(v), rows[1].dot(v), rows[2].dot(v)}; }
  // The vector turned by the matrix and normalised.
  static Vec3 rotateNormalize(const Vec3& v, const Mat3& m) {
    Vec3 r = m.transform(v);
    r.normalize();
    return r;
  }

  // this = this * other: each row r becomes r.x * o.row0 + r.y * o.row1 + r.z * o.row2.
  Mat3& multiply(const Mat3& o);
  Mat3 operator*(const Mat3& o) const {
    Mat3 m = *this;
    m.multiply(o);
    return m;
  }
  Mat3& operator+=(const Mat3& o);
  Mat3 transposed() const;

  bool operator==(const Mat3& o) const {
    return rows[0] == o.rows[0] && rows[1] == o.rows[1] && rows[2] == o.rows[2];
  }
  bool operator!=(const Mat3& o) const { return !(*this == o); }
  bool compare(const Mat3& o, float epsilon = 0.001f) const {
    return rows[0].compare(o.rows[0], epsilon) && rows[1].compare(o.rows[1], epsilon) &&
           rows[2].compare(o.rows[2], epsilon);
  }

  // Normalises the rows; a zero row 0 or 1 rebuilds both from row 2.
  void orthoNormalize();
  // Gram-Schmidt by cross products: row 0 normalised, row 2 = row 0 x row 1,
  // row 1 = row 2 x row 0, each normalised. Keeps row 0's direction and the
  // plane of rows 0 and 1 (sprite axes); unlike orthoNormalize it makes
  // skewed rows perpendicular.
  void orthoNormalizeByCross();
  // Entries below 1e-30 in magnitude become 0; true when any changed.
  bool fixDenormals();
  // Rows lying on an axis are snapped to exactly +-1 there (Vec3::snapToAxis).
  bool fixDegenerate();
  Angles toAngles(bool normalize = true) const;
  // The rotation axis times its angle in radians.
  Vec3 toAngularVector() const;
  Mat4 toMat4() const;
};

// 16 floats in column-major order: element [column * 4 + row], translation in
// 12-14. A point maps to (m0 x + m4 y + m8 z + m12, m1 x + ..., m2 x + ...).
class alignas(16) Mat4 {
 public:
  float m[16];

  // The identity.
  constexpr Mat4() : m{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1} {}
  // Leaves the elements unset, for results about to be written in full.
  struct Uninitialized {};
  explicit Mat4(Uninitialized) {}

  float& operator[](int i) { return m[i]; }
  float operator[](int i) const { return m[i]; }
  float* ptr() { return m; }
  const float* ptr() const { return m; }
  bool operator==(const Mat4& o) const;
  bool operator!=(const Mat4& o) const { return !(*this == o); }
  bool compare(const Mat4& o, float epsilon) const;

  static constexpr Mat4 identity() { return {}; }
  // Columns 0-2 from the rows of axis, column 3 the translation.
  static Mat4 fromMat3(const Mat3& axis, const Vec3& origin = Vec3());
  // Groups 0-2 are (u, 0), (v, 0), (n, 0), group 3 (0, 0, 0, 1).
  static Mat4 fromAxes(const Vec3& u, const Vec3& v, const Vec3& n);
  // The translation matrix: identity with elements 12-14 = v.
  static Mat4 translate(const Vec3& v);
  // Rotation by `degrees` about the axis (x, y, z), normalised first (counter-clockwise looking
  // down the axis); a zero axis gives the identity.
  static Mat4 fromAxisAngle(float degrees, float x, float y, float z);
  // Rotation about z: elements 0, 1 are cos, sin and elements 4, 5 are -sin, cos.
  static Mat4 rotationZ(float degrees);
  // The matrix that applies a first and then b:
  // result[c*4 + r] = sum over k of a[c*4 + k] * b[k*4 + r].
  static Mat4 multiply(const Mat4& a, const Mat4& b) {
    Mat4 r{Uninitialized{}};
#if defined(__SSE__)
    // Column c of the result is the sum over k of a[c*4 + k] times column k
    // of b, added in the same order as the scalar form, so the bits agree.
    const __m128 b0 = _mm_loadu_ps(b.m), b1 = _mm_loadu_ps(b.m + 4);
    const __m128 b2 = _mm_loadu_ps(b.m + 8), b3 = _mm_loadu_ps(b.m + 12);
    for (int c = 0; c < 4; c++) {
      const float* ac = a.m + c * 4;
      __m128 col = _mm_mul_ps(_mm_set1_ps(ac[0]), b0);
      col = _mm_add_ps(col, _mm_mul_ps(_mm_set1_ps(ac[1]), b1));
      col = _mm_add_ps(col, _mm_mul_ps(_mm_set1_ps(ac[2]), b2));
      col = _mm_add_ps(col, _mm_mul_ps(_mm_set1_ps(ac[3]), b3));
      _mm_storeu_ps(r.m + c * 4, col);
    }
#else
    for (int c = 0; c < 4; c++)
      for (int row = 0; row < 4; row++)
        r.m[c * 4 + row] = a.m[c * 4 + 0] * b.m[row] + a.m[c * 4 + 1] * b.m[4 + row] +
                           a.m[c * 4 + 2] * b.m[8 + row] + a.m[c * 4 + 3] * b.m[12 + row];
#endif
    return r;
  }
  // this = multiply(diag(sx, sy, sz, 1), this): the scale applies first.
  void scale(float sx, float sy, float sz);

  Vec3 transformPoint(const Vec3& p) const {
    return {m[0] * p.x + m[4] * p.y + m[8] * p.z + m[12], m[1] * p.x + m[5] * p.y + m[9] * p.z + m[13],
            m[2] * p.x + m[6] * p.y + m[10] * p.z + m[14]};
  }
  // The 3x3 part only.
  Vec3 transformVector(const Vec3& v) const {
    return {m[0] * v.x + m[4] * v.y + m[8] * v.z, m[1] * v.x + m[5] * v.y + m[9] * v.z,
            m[2] * v.x + m[6] * v.y + m[10] * v.z};
  }
  // Divides by w unless |w| <= 1e-6 or w is exactly 1.
  Vec3 projectPoint(const Vec3& p) const;
  void projectPoints(const Vec3* points, int count, Vec3* out) const;
  Mat3 toMat3() const;
  Mat4 transposed() const;

  // Gauss-Jordan with partial pivoting over the columns; a singular matrix
  // becomes the identity and false is returned.
  bool inverse();
  // For rotation plus translation: transposed 3x3, translation -R^T t.
  void inverseRigid();

  static Mat4 frustum(float left, float right, float bottom, float top, float zNear, float zFar);
  static Mat4 ortho(float left, float right, float bottom, float top, float zNear, float zFar);
  static Mat4 orthoCentered(float w, float h, float zNear, float zFar) {
    return ortho(-w, w, -h, h, zNear, zFar);
  }
  static Mat4 perspective(float fovX, float fovY, float zNear, float zFar);
  static Mat4 lookAt(const Vec3& position, const Vec3& up, const Vec3& forward);
};

class Angles {
 public:
  float pitch = 0.0f, yaw = 0.0f, roll = 0.0f;

  constexpr Angles() = default;
  constexpr Angles(float p, float y, float r) : pitch(p), yaw(y), roll(r) {}

  float& operator[](int i) { return (&pitch)[i]; }
  float operator[](int i) const { return (&pitch)[i]; }
  Angles operator+(const Angles& o) const { return {pitch + o.pitch, yaw + o.yaw, roll + o.roll}; }
  Angles operator-(const Angles& o) const { return {pitch - o.pitch, yaw - o.yaw, roll - o.roll}; }
  Angles operator*(float s) const { return {pitch * s, yaw * s, roll * s}; }
  bool operator==(const Angles& o) const { return pitch == o.pitch && yaw == o.yaw && roll == o.roll; }
  bool operator!=(const Angles& o) const { return !(*this == o); }
  bool compare(const Angles& o, float epsilon) const {
    return std::fabs(pitch - o.pitch) <= epsilon && std::fabs(yaw - o.yaw) <= epsilon &&
           std::fabs(roll - o.roll) <= epsilon;
  }

  // Each angle into [0, 360).
  Angles& normalize360();
  // Each angle into (-180, 180].
  Angles& normalize180();
  static float angleNormalize360(float a);
  static float angleNormalize180(float a);

  void toVectors(Vec3* forward, Vec3* right = nullptr, Vec3* up = nullptr) const;
  Vec3 toForward() const;
  Mat3 toMat3() const;
  Mat4 toMat4() const;
  Quat toQuat() const;
  Vec3 toAngularVector() const;
};

class Quat {
 public:
  float x = 0.0f, y = 0.0f, z = 0.0f, w = 1.0f;

  constexpr Quat() = default;
  constexpr Quat(float x_, float y_, float z_, float w_) : x(x_), y(y_), z(z_), w(w_) {}

  float& operator[](int i) { return (&x)[i]; }
  float operator[](int i) const { return (&x)[i]; }
  void set(float x_, float y_, float z_, float w_) {
    x = x_;
    y = y_;
    z = z_;
    w = w_;
  }
  void zero() { x = y = z = w = 0.0f; }
  Quat operator+(const Quat& o) const { return {x + o.x, y + o.y, z + o.z, w + o.w}; }
  Quat operator-(const Quat& o) const { return {x - o.x, y - o.y, z - o.z, w - o.w}; }
  Quat operator*(float s) const { return {x * s, y * s, z * s, w * s}; }
  Quat negated() const { return {-x, -y, -z, -w}; }
  Quat inverse() const { return {-x, -y, -z, w}; }
  Quat abs() const { return {std::fabs(x), std::fabs(y), std::fabs(z), std::fabs(w)}; }
  float dot(const Quat& o) const { return x * o.x + y * o.y + z * o.z + w * o.w; }
  float length() const { return std::sqrt(dot(*this)); }
  // Returns the old length; below 1e-6 returns 0 and leaves the quaternion.
  float normalize();
  // sqrt(|1 - (x^2 + y^2 + z^2)|).
  float calcW() const { return std::sqrt(std::fabs(1.0f - (x * x + y * y + z * z))); }
  bool compare(const Quat& o, float epsilon) const {
    return std::fabs(x - o.x) <= epsilon && std::fabs(y - o.y) <= epsilon && std::fabs(z - o.z) <= epsilon &&
           std::fabs(w - o.w) <= epsilon;
  }
  bool operator==(const Quat& o) const { return compare(o, 0.001f); }
  bool operator!=(const Quat& o) const { return !compare(o, 0.001f); }
  const char* toString(int decimals = 2) const;
  // The rotation rows of a joint quaternion, each row normalised.
  Mat3 toMat3() const;
  // Table-driven spherical interpolation along the shorter arc; not normalised.
  Quat& slerp(const Quat& from, const Quat& to, float fraction);
};

// The joint pose of a skinned mesh.
struct JointQuat {
  Quat q;
  Vec3 t;
};

// A rotation by angle degrees about the axis vec through origin, with its
// matrix cached until vec or angle change.
class Rotation {
 public:
  Rotation() = default;
  Rotation(const Vec3& origin, const Vec3& vec, float angle) : origin_(origin), vec_(vec), angle_(angle) {}

  void set(const Vec3& origin, const Vec3& vec, float angle) {
    origin_ = origin;
    vec_ = vec;
    angle_ = angle;
    axisValid_ = false;
  }
  void setOrigin(const Vec3& o) { origin_ = o; }
  void setVec(const Vec3& v) {
    vec_ = v;
    axisValid_ = false;
  }
  void setAngle(float a) {
    angle_ = a;
    axisValid_ = false;
  }
  void scaleAngle(float s) {
    angle_ *= s;
    axisValid_ = false;
  }
  Rotation& operator*=(float s) {
    scaleAngle(s);
    return *this;
  }
  Rotation& operator/=(float s) {
    angle_ /= s;
    axisValid_ = false;
    return *this;
  }
  Rotation operator-() const { return Rotation(origin_, vec_, -angle_); }
  Rotation scaled(float s) const { return Rotation(origin_, vec_, angle_ * s); }
  Rotation divided(float s) const { return Rotation(origin_, vec_, angle_ / s); }

  const Vec3& origin() const { return origin_; }
  const Vec3& vec() const { return vec_; }
  float angle() const { return angle_; }

  const Mat3& toMat3() const;
  void reCalculateMatrix() const {
    axisValid_ = false;
    toMat3();
  }
  Vec3 rotatePoint(const Vec3& p) const;
  void rotatePoint(Vec3& p) const { p = rotatePoint(static_cast<const Vec3&>(p)); }
  Angles toAngles() const;
  Mat4 toMat4() const;
  Vec3 toAngularVector() const { return vec_ * (angle_ * 0.0174532925199f); }
  Rotation& normalize180();
  Rotation& normalize360();
  static Rotation fromMat3(const Mat3& m);

 private:
  Vec3 origin_;
  Vec3 vec_{0.0f, 0.0f, 1.0f};
  float angle_ = 0.0f;
  mutable Mat3 axis_;
  mutable bool axisValid_ = false;
};

// --- joints ---
void blendJoints(JointQuat* joints, const JointQuat* blend, float fraction, const int* indices, int count);
void jointsToMatrices(Mat4* out, const JointQuat* joints, int count);
// Each joint from first to last becomes multiply(joint, parent): its own
// transform first, then the parent's. Joints whose parent index is not below
// their own (or negative) are left alone.
void concatJointsToParents(Mat4* matrices, const int* parents, int first, int last);

// --- tangent space of render vertices ---
Mat3 triangleTangents(const Vec3& p0, const Vec3& p1, const Vec3& p2, const Vec2& st0, const Vec2& st1,
                      const Vec2& st2, Plane* outPlane = nullptr);
void deriveTrianglePlanes(const DrawVertex* vertices, int vertexCount, const int* indices, int indexCount,
                          Plane* outPlanes);
Mat3 tangentFrame(const Mat3& frame, const Plane& plane, const Vec3& vertexNormal);
// Triangles with an index outside 0..vertexCount-1 are skipped (their plane,
// when asked for, is the zero plane). Both share one growing scratch buffer:
// main thread only.
void deriveTangents(DrawVertex* vertices, int vertexCount, const int* indices, int indexCount,
                    Plane* outPlanes = nullptr, bool useVertexNormals = false);
void deriveNormalsAndTangents(DrawVertex* vertices, int vertexCount, const int* indices, int indexCount,
                              Plane* outPlanes = nullptr, bool useVertexNormals = false);
void mergeTangents(DrawVertex* vertices, int count, float epsilon);
void addMatchingTangents(DrawVertex* vertices, int count, const DrawVertex* donors, int donorCount,
                         float epsilon, bool* outMatched);
