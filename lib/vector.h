// Small geometry value types: Vec2/Vec3/Vec4, Plane and the axis-aligned box
// Bounds, with the free ray, segment and frustum tests built on them.
// Plain 32-bit float values, copied by value, never allocated.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

class Mat3;
class Rotation;
class Angles;

struct Vec2 {
  float x = 0.0f, y = 0.0f;

  constexpr Vec2() = default;
  constexpr Vec2(float x_, float y_) : x(x_), y(y_) {}

  constexpr Vec2 operator+(const Vec2& o) const { return {x + o.x, y + o.y}; }
  constexpr Vec2 operator-(const Vec2& o) const { return {x - o.x, y - o.y}; }
  constexpr Vec2 operator*(float s) const { return {x * s, y * s}; }
  constexpr bool operator==(const Vec2& o) const { return x == o.x && y == o.y; }
  constexpr bool operator!=(const Vec2& o) const { return !(*this == o); }
  float& operator[](int i) { return (&x)[i]; }
  float operator[](int i) const { return (&x)[i]; }
};

struct Vec3 {
  float x = 0.0f, y = 0.0f, z = 0.0f;

  constexpr Vec3() = default;
  constexpr Vec3(float x_, float y_, float z_) : x(x_), y(y_), z(z_) {}

  float& operator[](int i) { return (&x)[i]; }
  float operator[](int i) const { return (&x)[i]; }
  float* ptr() { return &x; }
  const float* ptr() const { return &x; }

  constexpr Vec3 operator-() const { return {-x, -y, -z}; }
  constexpr Vec3 operator+(const Vec3& o) const { return {x + o.x, y + o.y, z + o.z}; }
  constexpr Vec3 operator-(const Vec3& o) const { return {x - o.x, y - o.y, z - o.z}; }
  constexpr Vec3 operator*(float s) const { return {x * s, y * s, z * s}; }
  constexpr Vec3 operator/(float s) const { return {x / s, y / s, z / s}; }
  Vec3& operator+=(const Vec3& o) {
    x += o.x;
    y += o.y;
    z += o.z;
    return *this;
  }
  Vec3& operator-=(const Vec3& o) {
    x -= o.x;
    y -= o.y;
    z -= o.z;
    return *this;
  }
  Vec3& operator*=(float s) {
    x *= s;
    y *= s;
    z *= s;
    return *this;
  }
  Vec3& operator/=(float s) {
    x /= s;
    y /= s;
    z /= s;
    return *this;
  }
  friend constexpr Vec3 operator*(float s, const Vec3& v) { return v * s; }

  // Exact comparison of all three components.
  constexpr bool operator==(const Vec3& o) const { return x == o.x && y == o.y && z == o.z; }
  constexpr bool operator!=(const Vec3& o) const { return !(*this == o); }
  // True when no component differs by more than epsilon.
  bool compare(const Vec3& o, float epsilon) const {
    return std::fabs(x - o.x) <= epsilon && std::fabs(y - o.y) <= epsilon && std::fabs(z - o.z) <= epsilon;
  }
  bool compareEpsilon(const Vec3& o, float epsilon) const { return compare(o, epsilon); }

  constexpr float dot(const Vec3& o) const { return x * o.x + y * o.y + z * o.z; }
  constexpr Vec3 cross(const Vec3& o) const {
    return {y * o.z - z * o.y, z * o.x - x * o.z, x * o.y - y * o.x};
  }
  Vec3& setCross(const Vec3& a, const Vec3& b) {
    *this = a.cross(b);
    return *this;
  }
  constexpr float lengthSqr() const { return x * x + y * y + z * z; }
  float length() const { return std::sqrt(lengthSqr()); }

  // Divides by the length and returns the old length; a vector shorter than
  // 1e-6 (or NaN) is left as it is and 0 is returned. Branch-free so loops of
  // it vectorise.
  float normalize() {
    const float len = length();
    const bool ok = len >= 1e-6f;
    const float inv = ok ? 1.0f / len : 1.0f;
    x *= inv;
    y *= inv;
    z *= inv;
    return ok ? len : 0.0f;
  }
  // Normalises with the bit-trick reciprocal square root (two Newton steps)
  // and returns the length; a zero vector stays zero and gives 0.
  float normalizeFast();
  Vec3 normalized() const {
    Vec3 v = *this;
    v.normalize();
    return v;
  }

  // Component-wise minimum / maximum against three floats.
  Vec3 min(float mx, float my, float mz) const { return {x < mx ? x : mx, y < my ? y : my, z < mz ? z : mz}; }
  Vec3 max(float mx, float my, float mz) const { return {x > mx ? x : mx, y > my ? y : my, z > mz ? z : mz}; }
  // Each component becomes floor(v * gridScale + 0.5) / gridScale.
  void snap(float gridScale);
  // Index of the largest absolute component (ties to the lower index).
  int majorAxis(Vec3* outUnit = nullptr) const;
  // Snaps a vector lying on an axis to exactly +-1 there (the zero vector
  // becomes (0, 0, -1)); returns whether anything changed.
  bool snapToAxis();
  // A unit vector perpendicular to this unit vector.
  Vec3 orthogonal() const;
  // An orthonormal axis whose row 0 is this vector normalised.
  Mat3 toMat3() const;
  // Pitch and yaw in whole degrees in [0, 360), roll 0.
  Angles toAngles() const;
  // Polar angle and azimuth as bytes (256 steps per turn).
  void toAngleBytes(uint8_t out[2]) const;
  // "x y z" with the given number of decimals, in a va buffer.
  const char* toString(int decimals = 2) const;

  // a when f <= 0, b when f >= 1, otherwise a + f (b - a).
  static Vec3 lerp(const Vec3& a, const Vec3& b, float f);

  static constexpr Vec3 zero() { return {0.0f, 0.0f, 0.0f}; }
};

struct Vec4 {
  float x = 0.0f, y = 0.0f, z = 0.0f, w = 0.0f;

  constexpr Vec4() = default;
  constexpr Vec4(float x_, float y_, float z_, float w_) : x(x_), y(y_), z(z_), w(w_) {}
  float& operator[](int i) { return (&x)[i]; }
  float operator[](int i) const { return (&x)[i]; }
  constexpr bool operator==(const Vec4& o) const { return x == o.x && y == o.y && z == o.z && w == o.w; }
  constexpr bool operator!=(const Vec4& o) const { return !(*this == o); }
  Vec3 xyz() const { return {x, y, z}; }
};

// A plane n.p - d = 0; positive distances are in front.
struct Plane {
  float a = 0.0f, b = 0.0f, c = 0.0f, d = 0.0f;

  constexpr Plane() = default;
  constexpr Plane(float a_, float b_, float c_, float d_) : a(a_), b(b_), c(c_), d(d_) {}
  constexpr Plane(const Vec3& n, float dist) : a(n.x), b(n.y), c(n.z), d(dist) {}

  float& operator[](int i) { return (&a)[i]; }
  float operator[](int i) const { return (&a)[i]; }
  constexpr Vec3 normal() const { return {a, b, c}; }
  void setNormal(const Vec3& n) {
    a = n.x;
    b = n.y;
    c = n.z;
  }
  constexpr float distance(const Vec3& p) const { return a * p.x + b * p.y + c * p.z - d; }
  constexpr Vec3 projectPoint(const Vec3& p) const { return p - normal() * distance(p); }
  void negate() {
    a = -a;
    b = -b;
    c = -c;
    d = -d;
  }
  constexpr Plane operator-() const { return {-a, -b, -c, -d}; }
  constexpr bool operator==(const Plane& o) const { return a == o.a && b == o.b && c == o.c && d == o.d; }
  constexpr bool operator!=(const Plane& o) const { return !(*this == o); }
  // Each normal component within normalEpsilon and d within distEpsilon (exclusive).
  bool compare(const Plane& o, float normalEpsilon, float distEpsilon) const {
    return std::fabs(a - o.a) <= normalEpsilon && std::fabs(b - o.b) <= normalEpsilon &&
           std::fabs(c - o.c) <= normalEpsilon && std::fabs(d - o.d) < distEpsilon;
  }
  // The plane through three points with normal normalise((p1 - p0) x (p2 - p0))
  // (counter-clockwise points face the viewer) and d = n.p0. Degenerate points
  // give the zero plane and false.
  bool fromPoints(const Vec3& p0, const Vec3& p1, const Vec3& p2);
};

struct Bounds {
  Vec3 mins{1e30f, 1e30f, 1e30f};
  Vec3 maxs{-1e30f, -1e30f, -1e30f};

  constexpr Bounds() = default;
  constexpr Bounds(const Vec3& mn, const Vec3& mx) : mins(mn), maxs(mx) {}

  Vec3& operator[](int i) { return i == 0 ? mins : maxs; }
  const Vec3& operator[](int i) const { return i == 0 ? mins : maxs; }
  constexpr bool operator==(const Bounds& o) const { return mins == o.mins && maxs == o.maxs; }
  constexpr bool operator!=(const Bounds& o) const { return !(*this == o); }

  void clear() {
    mins = Vec3(1e30f, 1e30f, 1e30f);
    maxs = Vec3(-1e30f, -1e30f, -1e30f);
  }
  // Only the x axis decides.
  bool isCleared() const { return mins.x > maxs.x; }
  void set(const Vec3& mn, const Vec3& mx) {
    mins = mn;
    maxs = mx;
  }

  static Bounds cleared() { return Bounds(); }
  static Bounds fromPoint(const Vec3& p) { return {p, p}; }
  // The cube from -s/2 to s/2 on every axis.
  static Bounds fromSize(float s) {
    float h = s * 0.5f;
    return {Vec3(-h, -h, -h), Vec3(h, h, h)};
  }
  static Bounds fromPoints(const Vec3& a, const Vec3& b);
  // The box of the positions of count vertices: any record whose first three
  // floats are its position (Vec3, DrawVertex).
  template <class V>
  static Bounds fromVertices(const V* vertices, int count) {
    static_assert(sizeof(V) >= sizeof(float) * 3, "a vertex begins with its position");
    Bounds b;
    for (int i = 0; i < count; i++) {
      Vec3 p;
      std::memcpy(&p, &vertices[i], sizeof(p));
      b.addPoint(p);
    }
    return b;
  }
  // The placed box: turned by the axis, then moved to the origin.
  static Bounds fromTransformedBounds(const Bounds& b, const Vec3& origin, const Mat3& axis);
  // The union of the turned box placed at start and at end (each plus origin).
  static Bounds fromRotatedSweep(const Bounds& b, const Vec3& origin, const Mat3& axis, const Vec3& start,
                                 const Vec3& end);
  // The box of the arc that a point sweeps under a rotation.
  static Bounds fromRotatedPoint(const Vec3& point, const Rotation& rotation);
  // The box swept by a box, turned by axis and moved to origin, under a rotation.
  static Bounds fromRotatedBounds(const Bounds& b, const Vec3& origin, const Mat3& axis,
                                  const Rotation& rotation);
  // The box swept by a box (as given, not placed) under a rotation.
  static Bounds fromRotation(const Bounds& b, const Rotation& rotation);

  void addPoint(const Vec3& p) {
    if (p.x < mins.x)
      mins.x = p.x;
    if (p.x > maxs.x)
      maxs.x = p.x;
    if (p.y < mins.y)
      mins.y = p.y;
    if (p.y > maxs.y)
      maxs.y = p.y;
    if (p.z < mins.z)
      mins.z = p.z;
    if (p.z > maxs.z)
      maxs.z = p.z;
  }
  void addBounds(const Bounds& o) {
    // An empty box adds nothing; its +-1e30 corners would otherwise span everything.
    if (o.isCleared())
      return;
    addPoint(o.mins);
    addPoint(o.maxs);
  }
  // The union of both boxes as a copy.
  Bounds merged(const Bounds& o) const {
    Bounds b = *this;
    b.addBounds(o);
    return b;
  }
  Bounds translated(const Vec3& v) const { return {mins + v, maxs + v}; }

  Vec3 center() const { return (mins + maxs) * 0.5f; }
  Vec3 halfSize() const { return maxs - center(); }
  float radius() const { return halfSize().length(); }
  void toSphereBox();
  // Shrinks by v per axis; an axis left with maxs < mins clears the box.
  void shrink(const Vec3& v);
  Bounds expanded(float d) const;
  Bounds expandedBy(const Vec3& v) const;
  Bounds minkowskiSum(const Bounds& o) const { return {mins + o.maxs, maxs + o.mins}; }
  // Touching boxes intersect.
  bool intersects(const Bounds& o) const {
    return !(o.maxs.x < mins.x || o.maxs.y < mins.y || o.maxs.z < mins.z || o.mins.x > maxs.x ||
             o.mins.y > maxs.y || o.mins.z > maxs.z);
  }
  bool containsPoint(const Vec3& p) const {
    return p.x >= mins.x && p.y >= mins.y && p.z >= mins.z && p.x <= maxs.x && p.y <= maxs.y && p.z <= maxs.z;
  }

  // Outward planes -x, +x, -y, +y, -z, +z.
  void toPlanes(Plane out[6]) const;
  void toTransformedPlanes(Plane out[6], const Vec3& origin, const Mat3& axis) const;
  // Corners: the four at mins.z counter-clockwise from mins, then the same at maxs.z.
  void toPoints(Vec3 out[8]) const;
  // The corners turned by the axis about the given point.
  void toRotatedPoints(Vec3 out[8], const Vec3& point, const Mat3& axis) const;
  void rotate(const Mat3& axis);
  Bounds rotated(const Mat3& axis) const {
    Bounds b = *this;
    b.rotate(axis);
    return b;
  }

  // Signed distance of the centre when the whole box lies on one side, else 0.
  // Queries that want the nearest corner's distance compute it themselves
  // (centre distance minus the extent along the normal).
  float planeDistance(const Plane& p) const {
    const Vec3 c = center(), h = maxs - c;
    const float dist = p.distance(c);
    const float ext = std::fabs(p.a * h.x) + std::fabs(p.b * h.y) + std::fabs(p.c * h.z);
    return std::fabs(dist) > ext ? dist : 0.0f;
  }
  bool isBehindPlanes(const Plane* planes, int count) const {
    for (int i = 0; i < count; i++)
      if (!(planeDistance(planes[i]) < 0.0f))
        return false;
    return true;
  }
  // False as soon as the corner nearest behind some plane lies more than
  // epsilon in front of it.
  bool insidePlanes(const Plane* planes, int count, float epsilon) const {
    for (int i = 0; i < count; i++) {
      const Plane& p = planes[i];
      const Vec3 nearest(p.a > 0.0f ? mins.x : maxs.x, p.b > 0.0f ? mins.y : maxs.y,
                         p.c > 0.0f ? mins.z : maxs.z);
      if (p.distance(nearest) > epsilon)
        return false;
    }
    return true;
  }
  void projectOnAxis(const Vec3& dir, float out[2], float margin = 0.0f) const;
  float projectedRadius(const Vec3& dir) const {
    const Vec3 h = halfSize();
    return std::fabs(dir.x * h.x) + std::fabs(dir.y * h.y) + std::fabs(dir.z * h.z);
  }
  float distanceFromPoint(const Vec3& p) const;
  bool rayIntersection(const Vec3& start, const Vec3& dir, float& outScale) const;
  // A box moving from start to end against this box.
  bool lineIntersection(const Bounds& moving, const Vec3& start, const Vec3& end, float maxFraction,
                        float& outEnter, float& outExit) const;
  bool lineSegmentTest(const Vec3& start, const Vec3& end) const;

  // Per axis of light - view: 0 when exactly equal, 3 within tolerance, else
  // 1 positive / 2 negative; x in bits 0-1, y 2-3, z 4-5.
  static int clipBits(const Vec3& light, const Vec3& view, float tolerance);
};

// Ray against triangle (two-edge form); u, v are not range-checked.
bool rayTriangleIntersection(const Vec3& start, const Vec3& dir, const Vec3& a, const Vec3& b, const Vec3& c,
                             float& outT, float& outU, float& outV);
bool segmentTriangleIntersection(const Vec3& start, const Vec3& end, const Vec3& a, const Vec3& b,
                                 const Vec3& c, float& outT, float& outU, float& outV);
// Fraction of the projection of p onto a->b, or -1 when it falls outside.
float closestPointOnSegment(const Vec3& a, const Vec3& b, const Vec3& p, Vec3& out);
bool closestPointsOfSegments(const Vec3& a0, const Vec3& a1, const Vec3& b0, const Vec3& b1, Vec3& outA,
                             Vec3& outB, float& outFracA, float& outFracB);
// Six outward planes: near, top, bottom, left, right, far.
void frustumPlanes(Plane out[6], const Vec3& origin, const Mat3& axis, float fov, float aspect, float zNear,
                   float zFar);
// False when a value is infinite, NaN or the pattern 0xFFC00000.
bool isValidFloatArray(const float* values, int count);
uint32_t xorBlock(const uint32_t* words, int count);
