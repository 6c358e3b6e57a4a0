// Vectors, planes, bounds and the free geometric tests.
#include "lib/vector.h"

#include <algorithm>
#include <bit>

#include "lib/fastmath.h"
#include "lib/matrix.h"
#include "lib/str.h"

namespace {

inline int signOf(float v) {
  return v > 0.0f ? 1 : (v < 0.0f ? -1 : 0);
}

}  // namespace

// ---------------------------------------------------------------- Vec3

float Vec3::normalizeFast() {
  float sqr = lengthSqr();
  if (sqr == 0.0f)
    return 0.0f;
  float inv = fastInvSqrt(sqr, 2);
  x *= inv;
  y *= inv;
  z *= inv;
  return sqr * inv;
}

void Vec3::snap(float gridScale) {
  x = std::floor(x * gridScale + 0.5f) / gridScale;
  y = std::floor(y * gridScale + 0.5f) / gridScale;
  z = std::floor(z * gridScale + 0.5f) / gridScale;
}

int Vec3::majorAxis(Vec3* outUnit) const {
  int axis = 0;
  float best = std::fabs(x);
  if (std::fabs(y) > best) {
    axis = 1;
    best = std::fabs(y);
  }
  if (std::fabs(z) > best)
    axis = 2;
  if (outUnit) {
    *outUnit = Vec3();
    (*outUnit)[axis] = 1.0f;
  }
  return axis;
}

bool Vec3::snapToAxis() {
  // A vector with two exact zeros becomes the unit axis of the third, its sign
  // kept (a zero counts as negative, so the zero vector gives (0, 0, -1)).
  for (int axis = 2; axis >= 0; axis--) {
    int o1 = (axis + 1) % 3, o2 = (axis + 2) % 3;
    if ((*this)[o1] == 0.0f && (*this)[o2] == 0.0f) {
      float want = (*this)[axis] > 0.0f ? 1.0f : -1.0f;
      if ((*this)[axis] == want)
        return false;
      (*this)[axis] = want;
      return true;
    }
  }
  for (int axis = 0; axis < 3; axis++) {
    if (std::fabs((*this)[axis]) == 1.0f) {
      int o1 = (axis + 1) % 3, o2 = (axis + 2) % 3;
      (*this)[o1] = 0.0f;
      (*this)[o2] = 0.0f;
      return true;
    }
  }
  return false;
}

Vec3 Vec3::orthogonal() const {
  Vec3 unit;
  int axis = 0;
  float best = std::fabs(x);
  if (std::fabs(y) < best) {
    axis = 1;
    best = std::fabs(y);
  }
  if (std::fabs(z) < best)
    axis = 2;
  unit[axis] = 1.0f;
  Vec3 r = unit - *this * dot(unit);
  r.normalize();
  return r;
}

Mat3 Vec3::toMat3() const {
  Mat3 m;
  // Row 0 is normalised first so that a non-unit vector still gives an
  // orthonormal axis; unit vectors come out as before.
  m.rows[0] = *this;
  m.rows[0].normalize();
  const float fx = m.rows[0].x;
  const float fy = m.rows[0].y;
  float d = fx * fx + fy * fy;
  if (d == 0.0f) {
    m.rows[1] = Vec3(1.0f, 0.0f, 0.0f);
  } else {
    float inv = fastInvSqrt(d, 3);
    m.rows[1] = Vec3(-fy * inv, fx * inv, 0.0f);
  }
  m.rows[2] = m.rows[0].cross(m.rows[1]);
  return m;
}

Angles Vec3::toAngles() const {
  float yaw, pitch;
  if (x == 0.0f && y == 0.0f) {
    yaw = 0.0f;
    pitch = z > 0.0f ? 90.0f : 270.0f;
  } else {
    if (x == 0.0f) {
      yaw = y > 0.0f ? 90.0f : 270.0f;
    } else {
      yaw = std::floor(std::atan2(y, x) * kRadToDeg);
      if (yaw < 0.0f)
        yaw += 360.0f;
    }
    float forward = std::sqrt(x * x + y * y);
    pitch = std::floor(std::atan2(z, forward) * kRadToDeg);
    if (pitch < 0.0f)
      pitch += 360.0f;
  }
  return Angles(pitch, yaw, 0.0f);
}

void Vec3::toAngleBytes(uint8_t out[2]) const {
  // Angle bytes wrap like angles: -64 (a quarter turn clockwise) is 192.
  if (x == 0.0f && y == 0.0f) {
    out[1] = 0;
    out[0] = z > 0.0f ? 0 : 128;
    return;
  }
  float cz = std::clamp(z, -1.0f, 1.0f);
  if (std::isnan(z))
    cz = 0.0f;
  out[0] = uint8_t(clampedFloatToInt(std::acos(cz) * kRadToDeg * (256.0f / 360.0f)) & 255);
  out[1] = uint8_t(clampedFloatToInt(std::atan2(y, x) * kRadToDeg * (256.0f / 360.0f)) & 255);
}

const char* Vec3::toString(int decimals) const {
  return va(va("%%.%df %%.%df %%.%df", decimals, decimals, decimals), x, y, z);
}

Vec3 Vec3::lerp(const Vec3& a, const Vec3& b, float f) {
  if (f <= 0.0f)
    return a;
  if (f >= 1.0f)
    return b;
  return a + (b - a) * f;
}

// ---------------------------------------------------------------- Plane

bool Plane::fromPoints(const Vec3& p0, const Vec3& p1, const Vec3& p2) {
  Vec3 n = (p1 - p0).cross(p2 - p0);
  float len = n.length();
  if (!(len > 0.0f) || !std::isfinite(len)) {
    *this = Plane();
    return false;
  }
  n *= 1.0f / len;
  setNormal(n);
  d = n.dot(p0);
  return true;
}

// ---------------------------------------------------------------- Bounds

Bounds Bounds::fromPoints(const Vec3& a, const Vec3& b) {
  Bounds r = fromPoint(a);
  r.addPoint(b);
  return r;
}

void Bounds::toSphereBox() {
  if (isCleared())
    return;  // an empty box stays empty rather than growing to infinity
  Vec3 c = center();
  float r = radius();
  mins = c - Vec3(r, r, r);
  maxs = c + Vec3(r, r, r);
}

void Bounds::shrink(const Vec3& v) {
  Vec3 mn = mins + v, mx = maxs - v;
  if (mx.x < mn.x || mx.y < mn.y || mx.z < mn.z) {
    clear();
    return;
  }
  mins = mn;
  maxs = mx;
}

Bounds Bounds::expanded(float d) const {
  if (d == 0.0f)
    return *this;
  Bounds b = *this;
  if (d < 0.0f) {
    b.shrink(Vec3(-d, -d, -d));
    return b;
  }
  b.mins -= Vec3(d, d, d);
  b.maxs += Vec3(d, d, d);
  return b;
}

Bounds Bounds::expandedBy(const Vec3& v) const {
  if (v == Vec3())
    return *this;
  return {mins - v, maxs + v};
}

void Bounds::toPlanes(Plane out[6]) const {
  out[0] = Plane(-1, 0, 0, -mins.x);
  out[1] = Plane(1, 0, 0, maxs.x);
  out[2] = Plane(0, -1, 0, -mins.y);
  out[3] = Plane(0, 1, 0, maxs.y);
  out[4] = Plane(0, 0, -1, -mins.z);
  out[5] = Plane(0, 0, 1, maxs.z);
}

void Bounds::toTransformedPlanes(Plane out[6], const Vec3& origin, const Mat3& axis) const {
  toPlanes(out);
  for (int i = 0; i < 6; i++) {
    Vec3 n = axis.transform(out[i].normal());
    out[i].setNormal(n);
    out[i].d += n.dot(origin);
  }
}

void Bounds::toPoints(Vec3 out[8]) const {
  for (int i = 0; i < 8; i++) {
    // x follows the pattern min, max, max, min; y min, min, max, max.
    out[i].x = ((i ^ (i >> 1)) & 1) ? maxs.x : mins.x;
    out[i].y = ((i >> 1) & 1) ? maxs.y : mins.y;
    out[i].z = ((i >> 2) & 1) ? maxs.z : mins.z;
  }
}

void Bounds::toRotatedPoints(Vec3 out[8], const Vec3& point, const Mat3& axis) const {
  toPoints(out);
  for (int i = 0; i < 8; i++)
    out[i] = point + axis.transform(out[i] - point);
}

void Bounds::rotate(const Mat3& axis) {
  if (isCleared())
    return;  // its +-1e30 corners turned would make a huge box from an empty one
  Vec3 pts[8];
  toPoints(pts);
  clear();
  for (int i = 0; i < 8; i++)
    addPoint(axis.transform(pts[i]));
}

Bounds Bounds::fromTransformedBounds(const Bounds& b, const Vec3& origin, const Mat3& axis) {
  return b.rotated(axis).translated(origin);
}

Bounds Bounds::fromRotatedSweep(const Bounds& b, const Vec3& origin, const Mat3& axis, const Vec3& start,
                                const Vec3& end) {
  Bounds r = b.rotated(axis);
  Bounds out = r.translated(origin + start);
  out.addBounds(r.translated(origin + end));
  return out;
}

Bounds Bounds::fromRotatedPoint(const Vec3& point, const Rotation& rotation) {
  const Vec3& origin = rotation.origin();
  if (std::fabs(rotation.angle()) >= 180.0f) {
    float r = (point - origin).length();
    return {origin - Vec3(r, r, r), origin + Vec3(r, r, r)};
  }
  const Vec3& a = rotation.vec();
  Vec3 end = rotation.rotatePoint(point);
  Vec3 c = origin + a * (point - origin).dot(a);
  Vec3 r0 = point - c, r1 = end - c;
  float radiusSqr = r0.lengthSqr();
  Vec3 c0 = r0.cross(a), c1 = r1.cross(a);
  Bounds out;
  for (int i = 0; i < 3; i++) {
    float lo = std::min(point[i], end[i]), hi = std::max(point[i], end[i]);
    if (signOf(c0[i]) != signOf(c1[i])) {
      float extent = std::sqrt(std::max(0.0f, radiusSqr * (1.0f - a[i] * a[i])));
      if ((point[i] + end[i]) * 0.5f - c[i] > 0.0f)
        hi = c[i] + extent;
      else
        lo = c[i] - extent;
    }
    out.mins[i] = lo;
    out.maxs[i] = hi;
  }
  return out;
}

Bounds Bounds::fromRotatedBounds(const Bounds& b, const Vec3& origin, const Mat3& axis,
                                 const Rotation& rotation) {
  if (rotation.angle() == 0.0f && axis == Mat3::identity())
    return b.translated(origin);
  if (std::fabs(rotation.angle()) < 180.0f) {
    Vec3 pts[8];
    b.toPoints(pts);
    Bounds out;
    for (int i = 0; i < 8; i++)
      out.addBounds(fromRotatedPoint(origin + axis.transform(pts[i]), rotation));
    return out;
  }
  // A whole turn: the cube around the rotation origin reaching the far side of
  // the placed box.
  Vec3 placedCenter = origin + axis.transform(b.center());
  float r = (placedCenter - rotation.origin()).length() + b.halfSize().length();
  return {rotation.origin() - Vec3(r, r, r), rotation.origin() + Vec3(r, r, r)};
}

Bounds Bounds::fromRotation(const Bounds& b, const Rotation& rotation) {
  return fromRotatedBounds(b, Vec3(), Mat3::identity(), rotation);
}

void Bounds::projectOnAxis(const Vec3& dir, float out[2], float margin) const {
  float c = center().dot(dir);
  float r = projectedRadius(dir) + margin;
  out[0] = c - r;
  out[1] = c + r;
}

float Bounds::distanceFromPoint(const Vec3& p) const {
  Vec3 c = center();
  Vec3 u = c - p;
  u.normalize();
  return u.dot(c - p) - projectedRadius(u);
}

bool Bounds::rayIntersection(const Vec3& start, const Vec3& dir, float& outScale) const {
  int side[3];  // 0 below mins, 1 above maxs, 2 inside the slab
  int axis = -1;
  float best = 0.0f;
  bool inside = true;
  for (int i = 0; i < 3; i++) {
    float face;
    if (start[i] < mins[i]) {
      side[i] = 0;
      face = mins[i];
    } else if (start[i] > maxs[i]) {
      side[i] = 1;
      face = maxs[i];
    } else {
      side[i] = 2;
      continue;
    }
    inside = false;
    if (dir[i] == 0.0f)
      continue;
    float s = -(start[i] - face) / dir[i];
    if (axis < 0 || std::fabs(s) > std::fabs(best)) {
      axis = i;
      best = s;
    }
  }
  (void)side;
  if (axis < 0) {
    outScale = 0.0f;
    return inside;
  }
  outScale = best;
  Vec3 hit = start + dir * best;
  for (int i = 0; i < 3; i++) {
    if (i == axis)
      continue;
    if (!(hit[i] >= mins[i] && hit[i] <= maxs[i]))
      return false;
  }
  return true;
}

bool Bounds::lineIntersection(const Bounds& moving, const Vec3& start, const Vec3& end, float maxFraction,
                              float& outEnter, float& outExit) const {
  Bounds m = moving.translated(start);
  if (intersects(m)) {
    outEnter = outExit = 0.0f;
    return true;
  }
  Vec3 dir = end - start;
  if (dir == Vec3())
    return false;
  float enter = 0.0f, exit = 1.0f;
  for (int i = 0; i < 3; i++) {
    if (dir[i] > 0.0f) {
      if (m.maxs[i] < mins[i])
        enter = std::max(enter, (mins[i] - m.maxs[i]) / dir[i]);
      exit = std::min(exit, (maxs[i] - m.mins[i]) / dir[i]);
    } else if (dir[i] < 0.0f) {
      if (m.mins[i] > maxs[i])
        enter = std::max(enter, (maxs[i] - m.mins[i]) / dir[i]);
      exit = std::min(exit, (mins[i] - m.maxs[i]) / dir[i]);
    } else if (m.maxs[i] < mins[i] || m.mins[i] > maxs[i]) {
      return false;  // separated on an axis the box does not move along
    }
  }
  outEnter = enter;
  outExit = exit;
  return enter <= exit && enter < maxFraction;
}

bool Bounds::lineSegmentTest(const Vec3& start, const Vec3& end) const {
  Vec3 h = halfSize();
  Vec3 e = (end - start) * 0.5f;
  Vec3 c = (start + e) - center();
  Vec3 ae(std::fabs(e.x), std::fabs(e.y), std::fabs(e.z));
  for (int i = 0; i < 3; i++)
    if (std::fabs(c[i]) > h[i] + ae[i])
      return false;
  Vec3 cr = e.cross(c);
  if (std::fabs(cr.x) > h.y * ae.z + h.z * ae.y)
    return false;
  if (std::fabs(cr.y) > h.x * ae.z + h.z * ae.x)
    return false;
  if (std::fabs(cr.z) > h.x * ae.y + h.y * ae.x)
    return false;
  return true;
}

int Bounds::clipBits(const Vec3& light, const Vec3& view, float tolerance) {
  int bits = 0;
  for (int i = 0; i < 3; i++) {
    float d = light[i] - view[i];
    int code;
    if (d == 0.0f)
      code = 0;
    else if (std::fabs(d) <= tolerance)
      code = 3;
    else
      code = d > 0.0f ? 1 : 2;
    bits |= code << (2 * i);
  }
  return bits;
}

// ---------------------------------------------------------------- free functions

bool rayTriangleIntersection(const Vec3& start, const Vec3& dir, const Vec3& a, const Vec3& b, const Vec3& c,
                             float& outT, float& outU, float& outV) {
  Vec3 e1 = b - a, e2 = c - a;
  Vec3 pv = dir.cross(e2);
  float det = e1.dot(pv);
  if (!(std::fabs(det) >= 1e-6f))
    return false;
  float inv = 1.0f / det;
  Vec3 tv = start - a;
  outU = tv.dot(pv) * inv;
  Vec3 qv = tv.cross(e1);
  outV = dir.dot(qv) * inv;
  outT = e2.dot(qv) * inv;
  return true;
}

bool segmentTriangleIntersection(const Vec3& start, const Vec3& end, const Vec3& a, const Vec3& b,
                                 const Vec3& c, float& outT, float& outU, float& outV) {
  return rayTriangleIntersection(start, end - start, a, b, c, outT, outU, outV);
}

float closestPointOnSegment(const Vec3& a, const Vec3& b, const Vec3& p, Vec3& out) {
  Vec3 d = b - a;
  float t = (p - a).dot(d);
  float len = d.lengthSqr();
  if (!(len > 0.0f)) {
    out = a;
    return 0.0f;
  }
  if (t < 0.0f) {
    out = a;
    return -1.0f;
  }
  if (t > len) {
    out = b;
    return -1.0f;
  }
  float f = t / len;
  out = a + d * f;
  return f;
}

bool closestPointsOfSegments(const Vec3& a0, const Vec3& a1, const Vec3& b0, const Vec3& b1, Vec3& outA,
                             Vec3& outB, float& outFracA, float& outFracB) {
  Vec3 d1 = a1 - a0, d2 = b1 - b0;
  if (d2.compare(Vec3(), 0.001f)) {
    outB = b0;
    outFracB = 0.0f;
    outFracA = closestPointOnSegment(a0, a1, b0, outA);
    return true;
  }
  if (d1.compare(Vec3(), 0.001f)) {
    outA = a0;
    outFracA = 0.0f;
    outFracB = closestPointOnSegment(b0, b1, a0, outB);
    return true;
  }
  Vec3 r = a0 - b0;
  float a = d1.dot(d1), e = d2.dot(d2), b = d1.dot(d2), c = d1.dot(r), f = d2.dot(r);
  float denom = a * e - b * b;
  float s, t;
  if (std::fabs(denom) <= 1e-6f) {
    s = 0.0f;
    t = b > e ? c / b : f / e;
  } else {
    s = (b * f - c * e) / denom;
    t = (a * f - b * c) / denom;
  }
  outFracA = s;
  outFracB = t;
  outA = a0 + d1 * s;
  outB = b0 + d2 * t;
  return true;
}

void frustumPlanes(Plane out[6], const Vec3& origin, const Mat3& axis, float fov, float aspect, float zNear,
                   float zFar) {
  float n = std::fabs(zNear);
  if (!(n >= 0.01f))
    n = 0.01f;
  float f = std::fabs(zFar);
  if (!(f >= n + 1.0f))
    f = n + 1.0f;
  float t = std::tan(fov * 0.5f * kDegToRad);
  float hy = n * t, hx = hy * aspect;
  float fy = f * t, fx = fy * aspect;
  Mat4 toWorld = Mat4::fromMat3(axis, origin);
  Vec3 N[4] = {{-hx, hy, -n}, {-hx, -hy, -n}, {hx, -hy, -n}, {hx, hy, -n}};
  Vec3 F[4] = {{-fx, fy, -f}, {-fx, -fy, -f}, {fx, -fy, -f}, {fx, fy, -f}};
  for (int i = 0; i < 4; i++) {
    N[i] = toWorld.transformPoint(N[i]);
    F[i] = toWorld.transformPoint(F[i]);
  }
  auto make = [](Plane& p, const Vec3& a, const Vec3& b, const Vec3& c, const Vec3& at) {
    if (p.fromPoints(a, b, c))
      p.d = p.normal().dot(at);
  };
  make(out[0], N[0], N[1], N[2], N[2]);
  make(out[1], F[0], N[0], N[3], N[3]);
  make(out[2], N[2], N[1], F[1], F[1]);
  make(out[3], N[1], N[0], F[0], F[0]);
  make(out[4], N[3], N[2], F[2], F[2]);
  make(out[5], F[2], F[1], F[0], F[0]);
}

bool isValidFloatArray(const float* values, int count) {
  for (int i = 0; i < count; i++) {
    uint32_t bits = std::bit_cast<uint32_t>(values[i]);
    if ((bits & 0x7F800000u) == 0x7F800000u || bits == 0xFFC00000u)
      return false;
  }
  return true;
}

uint32_t xorBlock(const uint32_t* words, int count) {
  uint32_t r = 0;
  for (int i = 0; i < count; i++)
    r ^= words[i];
  return r;
}
