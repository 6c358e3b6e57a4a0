// Matrices, angles, quaternions, rotations, joints and tangent space.
#include "lib/matrix.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "lib/fastmath.h"
#include "lib/interface/renderinterface.h"
#include "lib/str.h"

// ---------------------------------------------------------------- Mat3

Mat3& Mat3::multiply(const Mat3& o) {
  for (int i = 0; i < 3; i++) {
    Vec3 r = rows[i];
    rows[i] = o.rows[0] * r.x + o.rows[1] * r.y + o.rows[2] * r.z;
  }
  return *this;
}

Mat3& Mat3::operator+=(const Mat3& o) {
  for (int i = 0; i < 3; i++)
    rows[i] += o.rows[i];
  return *this;
}

Mat3 Mat3::transposed() const {
  return {Vec3(rows[0].x, rows[1].x, rows[2].x), Vec3(rows[0].y, rows[1].y, rows[2].y),
          Vec3(rows[0].z, rows[1].z, rows[2].z)};
}

void Mat3::orthoNormalize() {
  rows[0].normalize();
  rows[1].normalize();
  rows[2].normalize();
  if (rows[0] == Vec3() || rows[1] == Vec3()) {
    const Vec3& r2 = rows[2];
    float d = r2.x * r2.x + r2.y * r2.y;
    if (d == 0.0f) {
      rows[0] = Vec3(1.0f, 0.0f, 0.0f);
    } else {
      float inv = 1.0f / std::sqrt(d);
      rows[0] = Vec3(-r2.y * inv, r2.x * inv, 0.0f);
    }
    rows[1] = r2.cross(rows[0]);
  }
}

void Mat3::orthoNormalizeByCross() {
  rows[0].normalize();
  rows[2] = rows[0].cross(rows[1]);
  rows[2].normalize();
  rows[1] = rows[2].cross(rows[0]);
  rows[1].normalize();
}

bool Mat3::fixDenormals() {
  bool changed = false;
  float* f = ptr();
  for (int i = 0; i < 9; i++) {
    if (f[i] != 0.0f && std::fabs(f[i]) < 1e-30f) {
      f[i] = 0.0f;
      changed = true;
    }
  }
  return changed;
}

bool Mat3::fixDegenerate() {
  bool a = rows[0].snapToAxis();
  bool b = rows[1].snapToAxis();
  bool c = rows[2].snapToAxis();
  return a || b || c;
}

Angles Mat3::toAngles(bool normalize) const {
  float s = rows[0].z;
  if (std::isnan(s))
    s = 0.0f;
  s = std::clamp(s, -1.0f, 1.0f);
  float p = -std::asin(s);
  float c = fastCos(p);
  Angles a;
  a.pitch = p * kRadToDeg;
  if (c > 0.0009765625f) {
    a.yaw = std::atan2(rows[0].y, rows[0].x) * kRadToDeg;
    a.roll = std::atan2(rows[1].z, rows[2].z) * kRadToDeg;
  } else {
    a.yaw = -std::atan2(rows[1].x, rows[1].y) * kRadToDeg;
    a.roll = 0.0f;
  }
  if (normalize)
    a.normalize360();
  return a;
}

Vec3 Mat3::toAngularVector() const {
  return Rotation::fromMat3(*this).toAngularVector();
}

Mat4 Mat3::toMat4() const {
  return Mat4::fromMat3(*this);
}

// ---------------------------------------------------------------- Mat4

bool Mat4::operator==(const Mat4& o) const {
  for (int i = 0; i < 16; i++)
    if (m[i] != o.m[i])
      return false;
  return true;
}

bool Mat4::compare(const Mat4& o, float epsilon) const {
  for (int i = 0; i < 16; i++)
    if (!(std::fabs(m[i] - o.m[i]) <= epsilon))
      return false;
  return true;
}

Mat4 Mat4::fromMat3(const Mat3& axis, const Vec3& origin) {
  Mat4 r;
  for (int c = 0; c < 3; c++) {
    r.m[c * 4 + 0] = axis.rows[c].x;
    r.m[c * 4 + 1] = axis.rows[c].y;
    r.m[c * 4 + 2] = axis.rows[c].z;
    r.m[c * 4 + 3] = 0.0f;
  }
  r.m[12] = origin.x;
  r.m[13] = origin.y;
  r.m[14] = origin.z;
  r.m[15] = 1.0f;
  return r;
}

Mat4 Mat4::fromAxes(const Vec3& u, const Vec3& v, const Vec3& n) {
  return fromMat3(Mat3(u, v, n));
}

Mat4 Mat4::translate(const Vec3& v) {
  Mat4 r;
  r.m[12] = v.x;
  r.m[13] = v.y;
  r.m[14] = v.z;
  return r;
}

Mat4 Mat4::fromAxisAngle(float degrees, float x, float y, float z) {
  Mat4 r;
  const float length = std::sqrt(x * x + y * y + z * z);
  if (!(length > 0.0f))
    return r;
  x /= length;
  y /= length;
  z /= length;
  const float radians = degrees * 0.0174532925199f;
  const float c = std::cos(radians), s = std::sin(radians), t = 1.0f - c;
  r.m[0] = t * x * x + c;
  r.m[1] = t * x * y + s * z;
  r.m[2] = t * x * z - s * y;
  r.m[4] = t * x * y - s * z;
  r.m[5] = t * y * y + c;
  r.m[6] = t * y * z + s * x;
  r.m[8] = t * x * z + s * y;
  r.m[9] = t * y * z - s * x;
  r.m[10] = t * z * z + c;
  return r;
}

Mat4 Mat4::rotationZ(float degrees) {
  const float radians = degrees * 0.0174532925199f;
  Mat4 r;
  r.m[0] = std::cos(radians);
  r.m[1] = std::sin(radians);
  r.m[4] = -r.m[1];
  r.m[5] = r.m[0];
  return r;
}

void Mat4::scale(float sx, float sy, float sz) {
  Mat4 d;
  d.m[0] = sx;
  d.m[5] = sy;
  d.m[10] = sz;
  *this = multiply(d, *this);
}

Vec3 Mat4::projectPoint(const Vec3& p) const {
  Vec3 r = transformPoint(p);
  float w = m[3] * p.x + m[7] * p.y + m[11] * p.z + m[15];
  if (std::fabs(w) <= 1e-6f || w == 1.0f)
    return r;
  return r / w;
}

void Mat4::projectPoints(const Vec3* points, int count, Vec3* out) const {
  for (int i = 0; i < count; i++)
    out[i] = projectPoint(points[i]);
}

Mat3 Mat4::toMat3() const {
  return {Vec3(m[0], m[1], m[2]), Vec3(m[4], m[5], m[6]), Vec3(m[8], m[9], m[10])};
}

Mat4 Mat4::transposed() const {
  Mat4 r;
  for (int c = 0; c < 4; c++)
    for (int row = 0; row < 4; row++)
      r.m[row * 4 + c] = m[c * 4 + row];
  return r;
}

#if defined(__SSE2__)
namespace {

template <int K>
inline __m128 splat(__m128 v) {
  return _mm_shuffle_ps(v, v, _MM_SHUFFLE(K, K, K, K));
}

// One pivot step of the column elimination. Division and the multiply-
// subtract run lane by lane in the same order as the scalar form, so the
// results are bit-identical to it.
template <int K>
inline bool inverseStep(__m128 a[4], __m128 r[4]) {
  int p = K;
  float best = std::fabs(_mm_cvtss_f32(splat<K>(a[K])));
  for (int g = K + 1; g < 4; g++) {
    const float v = std::fabs(_mm_cvtss_f32(splat<K>(a[g])));
    if (v > best) {
      best = v;
      p = g;
    }
  }
  if (p != K) {
    std::swap(a[p], a[K]);
    std::swap(r[p], r[K]);
  }
  const __m128 pv = splat<K>(a[K]);
  if (_mm_cvtss_f32(pv) == 0.0f)
    return false;
  a[K] = _mm_div_ps(a[K], pv);
  r[K] = _mm_div_ps(r[K], pv);
  for (int g = 0; g < 4; g++) {
    if (g == K)
      continue;
    const __m128 f = splat<K>(a[g]);
    a[g] = _mm_sub_ps(a[g], _mm_mul_ps(f, a[K]));
    r[g] = _mm_sub_ps(r[g], _mm_mul_ps(f, r[K]));
  }
  return true;
}

}  // namespace
#endif

bool Mat4::inverse() {
  // Column operations on a copy, mirrored on the identity; the groups of four
  // contiguous floats are the columns.
#if defined(__SSE2__)
  __m128 a[4] = {_mm_loadu_ps(m), _mm_loadu_ps(m + 4), _mm_loadu_ps(m + 8), _mm_loadu_ps(m + 12)};
  __m128 r[4] = {_mm_setr_ps(1, 0, 0, 0), _mm_setr_ps(0, 1, 0, 0), _mm_setr_ps(0, 0, 1, 0),
                 _mm_setr_ps(0, 0, 0, 1)};
  if (!inverseStep<0>(a, r) || !inverseStep<1>(a, r) || !inverseStep<2>(a, r) || !inverseStep<3>(a, r)) {
    *this = identity();
    return false;
  }
  for (int c = 0; c < 4; c++)
    _mm_storeu_ps(m + c * 4, r[c]);
  return true;
#else
  float a[16], r[16];
  std::memcpy(a, m, sizeof(a));
  std::memcpy(r, identity().m, sizeof(r));
  for (int k = 0; k < 4; k++) {
    int p = k;
    float best = std::fabs(a[k * 4 + k]);
    for (int g = k + 1; g < 4; g++) {
      float v = std::fabs(a[g * 4 + k]);
      if (v > best) {
        best = v;
        p = g;
      }
    }
    if (p != k) {
      for (int i = 0; i < 4; i++) {
        std::swap(a[p * 4 + i], a[k * 4 + i]);
        std::swap(r[p * 4 + i], r[k * 4 + i]);
      }
    }
    const float pivot = a[k * 4 + k];
    if (pivot == 0.0f) {
      *this = identity();
      return false;
    }
    for (int i = 0; i < 4; i++) {
      a[k * 4 + i] /= pivot;
      r[k * 4 + i] /= pivot;
    }
    for (int g = 0; g < 4; g++) {
      if (g == k)
        continue;
      const float f = a[g * 4 + k];
      for (int i = 0; i < 4; i++) {
        a[g * 4 + i] -= f * a[k * 4 + i];
        r[g * 4 + i] -= f * r[k * 4 + i];
      }
    }
  }
  std::memcpy(m, r, sizeof(r));
  return true;
#endif
}

void Mat4::inverseRigid() {
  std::swap(m[1], m[4]);
  std::swap(m[2], m[8]);
  std::swap(m[6], m[9]);
  Vec3 t(m[12], m[13], m[14]);
  Vec3 nt = -transformVector(t);
  m[12] = nt.x;
  m[13] = nt.y;
  m[14] = nt.z;
  m[3] = m[7] = m[11] = 0.0f;
  m[15] = 1.0f;
}

Mat4 Mat4::frustum(float l, float r, float b, float t, float n, float f) {
  Mat4 o;
  std::memset(o.m, 0, sizeof(o.m));
  o.m[0] = 2.0f * n / (r - l);
  o.m[8] = (r + l) / (r - l);
  o.m[5] = 2.0f * n / (t - b);
  o.m[9] = (t + b) / (t - b);
  o.m[11] = -1.0f;
  if (f < 1e30f) {
    o.m[10] = -(f + n) / (f - n);
    o.m[14] = -2.0f * f * n / (f - n);
  } else {
    // Infinite far plane, kept a hair inside -1 so depth never reaches 1.
    o.m[10] = std::bit_cast<float>(0xBF7FFFEFu);
    o.m[14] = -1.999998f * n;
  }
  return o;
}

Mat4 Mat4::ortho(float l, float r, float b, float t, float n, float f) {
  Mat4 o;
  std::memset(o.m, 0, sizeof(o.m));
  o.m[0] = 2.0f / (r - l);
  o.m[12] = -(r + l) / (r - l);
  o.m[5] = 2.0f / (t - b);
  o.m[13] = -(t + b) / (t - b);
  o.m[10] = -2.0f / (f - n);
  o.m[14] = -(f + n) / (f - n);
  o.m[15] = 1.0f;
  return o;
}

Mat4 Mat4::perspective(float fovX, float fovY, float n, float f) {
  float x = n * std::tan(fovX * 0.5f * kDegToRad);
  float y = n * std::tan(fovY * 0.5f * kDegToRad);
  return frustum(-x, x, -y, y, n, f);
}

Mat4 Mat4::lookAt(const Vec3& position, const Vec3& up, const Vec3& forward) {
  Vec3 side = up.cross(forward);
  Vec3 up2 = forward.cross(side);
  Mat4 o = fromMat3(Mat3(side, up2, forward), position);
  o.inverse();
  return o;
}

// ---------------------------------------------------------------- Angles

float Angles::angleNormalize360(float a) {
  if (a >= 360.0f || a < 0.0f) {
    a -= std::floor(a / 360.0f) * 360.0f;
    if (a >= 360.0f)
      a -= 360.0f;
  }
  return a;
}

float Angles::angleNormalize180(float a) {
  a = angleNormalize360(a);
  if (a > 180.0f)
    a -= 360.0f;
  return a;
}

Angles& Angles::normalize360() {
  pitch = angleNormalize360(pitch);
  yaw = angleNormalize360(yaw);
  roll = angleNormalize360(roll);
  return *this;
}

Angles& Angles::normalize180() {
  pitch = angleNormalize180(pitch);
  yaw = angleNormalize180(yaw);
  roll = angleNormalize180(roll);
  return *this;
}

void Angles::toVectors(Vec3* forward, Vec3* right, Vec3* up) const {
  const float sp = std::sin(pitch * kDegToRad), cp = std::cos(pitch * kDegToRad);
  const float sy = std::sin(yaw * kDegToRad), cy = std::cos(yaw * kDegToRad);
  const float sr = std::sin(roll * kDegToRad), cr = std::cos(roll * kDegToRad);
  if (forward)
    *forward = Vec3(cp * cy, cp * sy, -sp);
  if (right)
    *right = Vec3(sy * cr - cy * sp * sr, -cy * cr - sy * sp * sr, -sr * cp);
  if (up)
    *up = Vec3(cy * sp * cr + sy * sr, sy * sp * cr - cy * sr, cp * cr);
}

Vec3 Angles::toForward() const {
  Vec3 f;
  toVectors(&f);
  return f;
}

Mat3 Angles::toMat3() const {
  if (pitch == 0.0f && yaw == 0.0f && roll == 0.0f)
    return Mat3::identity();
  Vec3 f, r, u;
  toVectors(&f, &r, &u);
  f.normalize();
  r.normalize();
  u.normalize();
  return {f, -r, u};
}

Mat4 Angles::toMat4() const {
  return Mat4::fromMat3(toMat3());
}

Quat Angles::toQuat() const {
  const float hp = pitch * kDegToRad * 0.5f, hy = yaw * kDegToRad * 0.5f, hr = roll * kDegToRad * 0.5f;
  const float sp = std::sin(hp), cp = std::cos(hp);
  const float sy = std::sin(hy), cy = std::cos(hy);
  const float sr = std::sin(hr), cr = std::cos(hr);
  Quat q(cr * sp * sy - sr * cp * cy, -cy * cr * sp - sy * sr * cp, cy * sr * sp - sy * cp * cr,
         sy * sr * sp + cy * cp * cr);
  if (q.w < 0.0f)
    q = q.negated();
  return q;
}

Vec3 Angles::toAngularVector() const {
  return toMat3().toAngularVector();
}

// ---------------------------------------------------------------- Quat

float Quat::normalize() {
  float len = length();
  if (!(len >= 1e-6f))
    return 0.0f;
  float inv = 1.0f / len;
  x *= inv;
  y *= inv;
  z *= inv;
  w *= inv;
  return len;
}

const char* Quat::toString(int decimals) const {
  return String::floatArrayToString(&x, 4, decimals);
}

Mat3 Quat::toMat3() const {
  const float xx = x * x, yy = y * y, zz = z * z, ww = w * w;
  Mat3 r(Vec3(xx - yy - zz + ww, 2.0f * (x * y - z * w), 2.0f * (x * z + y * w)),
         Vec3(2.0f * (x * y + z * w), ww + yy - xx - zz, 2.0f * (y * z - x * w)),
         Vec3(2.0f * (x * z - y * w), 2.0f * (y * z + x * w), ww + zz - xx - yy));
  r.rows[0].normalize();
  r.rows[1].normalize();
  r.rows[2].normalize();
  return r;
}

Quat& Quat::slerp(const Quat& from, const Quat& toIn, float fraction) {
  if (fraction <= 0.0f) {
    *this = from;
    return *this;
  }
  if (fraction >= 1.0f || from == toIn) {
    *this = toIn;
    return *this;
  }
  Quat to = toIn;
  float cosom = from.dot(to);
  if (cosom <= -1.0f) {
    to = to.negated();
    cosom = 1.0f;
  } else if (cosom >= 1.0f) {
    cosom = 1.0f;
  } else if (cosom < 0.0f) {
    to = to.negated();
    cosom = -cosom;
  }
  float scale0, scale1;
  if (1.0f - cosom > 1e-6f) {
    float c = cosom;
    if (!(c >= -1.0f))
      c = -1.0f;  // NaN lands here too
    if (c > 1.0f)
      c = 1.0f;
    const float omega = g_acosTable[static_cast<int>((c + 1.0f) * 511.9f)];
    const float sinom = fastSin(omega);
    scale0 = fastSin((1.0f - fraction) * omega) / sinom;
    scale1 = fastSin(fraction * omega) / sinom;
  } else {
    scale0 = 1.0f - fraction;
    scale1 = fraction;
  }
  *this = from * scale0 + to * scale1;
  return *this;
}

// ---------------------------------------------------------------- Rotation

const Mat3& Rotation::toMat3() const {
  if (axisValid_)
    return axis_;
  const float h = angle_ * kDegToRad * 0.5f;
  const float s = std::sin(h), c = std::cos(h);
  const float x = vec_.x * s, y = vec_.y * s, z = vec_.z * s;
  axis_.rows[0] = Vec3(1.0f - 2.0f * (y * y + z * z), 2.0f * (x * y - c * z), 2.0f * (x * z + c * y));
  axis_.rows[1] = Vec3(2.0f * (x * y + c * z), 1.0f - 2.0f * (x * x + z * z), 2.0f * (y * z - c * x));
  axis_.rows[2] = Vec3(2.0f * (x * z - c * y), 2.0f * (y * z + c * x), 1.0f - 2.0f * (x * x + y * y));
  axisValid_ = true;
  return axis_;
}

Vec3 Rotation::rotatePoint(const Vec3& p) const {
  return origin_ + toMat3().transform(p - origin_);
}

Angles Rotation::toAngles() const {
  return toMat3().toAngles(true);
}

Mat4 Rotation::toMat4() const {
  return Mat4::fromMat3(toMat3());
}

Rotation& Rotation::normalize180() {
  angle_ -= std::floor(angle_ / 360.0f) * 360.0f;
  if (angle_ > 180.0f)
    angle_ -= 360.0f;
  else if (angle_ <= -180.0f)
    angle_ += 360.0f;
  axisValid_ = false;
  return *this;
}

Rotation& Rotation::normalize360() {
  angle_ -= std::floor(angle_ / 360.0f) * 360.0f;
  if (angle_ > 360.0f)
    angle_ -= 360.0f;
  else if (angle_ < 0.0f)
    angle_ += 360.0f;
  axisValid_ = false;
  return *this;
}

Rotation Rotation::fromMat3(const Mat3& m) {
  float q[4];  // x, y, z, w
  const float trace = m[0][0] + m[1][1] + m[2][2];
  if (trace > 0.0f) {
    const float t = trace + 1.0f;
    const float s = 0.5f / std::sqrt(t);
    q[3] = s * t;
    q[0] = (m[2][1] - m[1][2]) * s;
    q[1] = (m[0][2] - m[2][0]) * s;
    q[2] = (m[1][0] - m[0][1]) * s;
  } else {
    static const int next[3] = {1, 2, 0};
    int i = 0;
    if (m[1][1] > m[0][0])
      i = 1;
    if (m[2][2] > m[i][i])
      i = 2;
    const int j = next[i], k = next[j];
    const float t = (m[i][i] - (m[j][j] + m[k][k])) + 1.0f;
    const float s = 0.5f / std::sqrt(t);
    q[i] = s * t;
    q[3] = (m[k][j] - m[j][k]) * s;
    q[j] = (m[j][i] + m[i][j]) * s;
    q[k] = (m[k][i] + m[i][k]) * s;
  }
  // A matrix that is not quite orthonormal gives a quaternion a little off
  // unit length; normalise before the acos so w stays meaningful, and take
  // the w >= 0 form so the angle comes out in [0, 180].
  const float len = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
  if (len > 0.0f && std::isfinite(len)) {
    const float inv = q[3] < 0.0f ? -1.0f / len : 1.0f / len;
    for (float& v : q)
      v *= inv;
  }

  float w = q[3];
  if (std::isnan(w))
    w = 1.0f;
  w = std::clamp(w, -1.0f, 1.0f);
  const float half = std::acos(w);

  Rotation r;
  r.origin_ = Vec3();
  if (std::fabs(half) < 1e-10f) {
    r.vec_ = Vec3(0.0f, 0.0f, 1.0f);
    r.angle_ = 0.0f;
  } else {
    Vec3 v(q[0], q[1], q[2]);
    if (v.normalize() == 0.0f || !std::isfinite(v.x + v.y + v.z))
      v = Vec3(0.0f, 0.0f, 1.0f);
    v.snapToAxis();
    r.vec_ = v;
    r.angle_ = half * 114.59156f;
  }
  r.axis_ = m;
  r.axisValid_ = true;
  return r;
}

// ---------------------------------------------------------------- joints

void blendJoints(JointQuat* joints, const JointQuat* blend, float fraction, const int* indices, int count) {
  for (int i = 0; i < count; i++) {
    const int j = indices[i];
    Quat q;
    q.slerp(joints[j].q, blend[j].q, fraction);
    joints[j].q = q;
    joints[j].t = Vec3::lerp(joints[j].t, blend[j].t, fraction);
  }
}

void jointsToMatrices(Mat4* out, const JointQuat* joints, int count) {
  for (int i = 0; i < count; i++)
    out[i] = Mat4::fromMat3(joints[i].q.toMat3(), joints[i].t);
}

void concatJointsToParents(Mat4* matrices, const int* parents, int first, int last) {
  for (int j = first; j <= last; j++) {
    const int p = parents[j];
    if (p < 0 || p >= j)
      continue;
    matrices[j] = Mat4::multiply(matrices[j], matrices[p]);
  }
}

// ---------------------------------------------------------------- tangent space

namespace {

inline Vec3 positionOf(const DrawVertex& v) {
  return {v.xyz[0], v.xyz[1], v.xyz[2]};
}
inline Vec3 normalOf(const DrawVertex& v) {
  return {v.normal[0], v.normal[1], v.normal[2]};
}
inline Vec3 tangentOf(const DrawVertex& v, int k) {
  return {v.tangents[k][0], v.tangents[k][1], v.tangents[k][2]};
}
inline Vec2 stOf(const DrawVertex& v) {
  return {v.st[0], v.st[1]};
}
inline void store(float* dst, const Vec3& v) {
  dst[0] = v.x;
  dst[1] = v.y;
  dst[2] = v.z;
}

inline Vec3 fastNormalized(const Vec3& v) {
  return v * fastInvSqrt(v.lengthSqr(), 2);
}

inline bool validTriangle(const int* idx, int vertexCount) {
  return idx[0] >= 0 && idx[0] < vertexCount && idx[1] >= 0 && idx[1] < vertexCount && idx[2] >= 0 &&
         idx[2] < vertexCount;
}

// Scratch of nine floats (first tangent, second tangent, normal) per vertex;
// grows with the largest mesh seen. Main thread only.
struct TangentScratch {
  std::vector<Vec3> accum;  // 3 per vertex
  std::vector<int> uses;
  void reset(int vertexCount) {
    accum.assign(size_t(vertexCount) * 3, Vec3());
    uses.assign(size_t(vertexCount), 0);
  }
};

TangentScratch& scratch() {
  static TangentScratch s;
  return s;
}

// Steps shared by deriveTangents and deriveNormalsAndTangents: per triangle
// frames added to the vertices that use them.
void accumulateTangents(const DrawVertex* vertices, int vertexCount, const int* indices, int indexCount,
                        Plane* outPlanes, bool useVertexNormals, TangentScratch& s) {
  s.reset(vertexCount);
  const int triangles = indexCount / 3;
  for (int t = 0; t < triangles; t++) {
    const int* idx = indices + t * 3;
    if (!validTriangle(idx, vertexCount)) {
      if (outPlanes)
        outPlanes[t] = Plane();
      continue;
    }
    const DrawVertex &a = vertices[idx[0]], &b = vertices[idx[1]], &c = vertices[idx[2]];
    Plane plane;
    const Mat3 frame =
        triangleTangents(positionOf(a), positionOf(b), positionOf(c), stOf(a), stOf(b), stOf(c), &plane);
    if (outPlanes)
      outPlanes[t] = plane;
    for (int k = 0; k < 3; k++) {
      const int v = idx[k];
      Vec3* acc = &s.accum[size_t(v) * 3];
      if (useVertexNormals) {
        const Mat3 f = tangentFrame(frame, plane, normalOf(vertices[v]));
        acc[0] += f.rows[0];
        acc[1] += f.rows[1];
        acc[2] += f.rows[2];
      } else {
        acc[0] += frame.rows[0];
        acc[1] += frame.rows[1];
        acc[2] += frame.rows[2];
      }
      s.uses[size_t(v)]++;
    }
  }
}

// Welding tolerance of deriveNormalsAndTangents and its test of two vertices.
constexpr float kWeldEpsilon = 0.001f;

bool weldMatch(const DrawVertex* vertices, const Vec3* accum, int i, int j, bool useVertexNormals) {
  if (!positionOf(vertices[i]).compare(positionOf(vertices[j]), kWeldEpsilon))
    return false;
  if (!useVertexNormals)
    return true;
  // Opposed tangents mark a mirrored texture seam: such vertices keep their
  // own frames.
  const Vec3* ai = accum + size_t(i) * 3;
  const Vec3* aj = accum + size_t(j) * 3;
  if (ai[0].dot(aj[0]) < -0.1f || ai[1].dot(aj[1]) < -0.1f)
    return false;
  return normalOf(vertices[i]).compare(normalOf(vertices[j]), 0.00001f);
}

// Hash grid over vertex positions for the weld. Cells are ten times the weld
// tolerance, so the box of twice the tolerance around a vertex usually meets
// one cell and never more than eight. Each cell lists its vertices in index
// order, and candidates are visited in increasing index order, the order of
// an all-pairs scan, so the merges come out identical to it.
class WeldGrid {
 public:
  WeldGrid(const DrawVertex* vertices, int count) : next_(size_t(count), -1) {
    Bounds b;
    for (int i = 0; i < count; i++)
      if (finite(positionOf(vertices[i])))
        b.addPoint(positionOf(vertices[i]));
    origin_ = b.isCleared() ? Vec3() : b.mins;
    float extent = 0.0f;
    if (!b.isCleared())
      for (int k = 0; k < 3; k++)
        extent = std::max(extent, b.maxs[k] - b.mins[k]);
    invCell_ = 1.0f / std::max(kWeldEpsilon * 10.0f, extent / float(kCellLimit - 4));

    size_t cap = 16;
    while (cap < size_t(count) * 2)
      cap <<= 1;
    slots_.assign(cap, Slot{kEmpty, -1, -1});
    mask_ = cap - 1;
    for (int i = 0; i < count; i++) {
      const Vec3 p = positionOf(vertices[i]);
      if (!finite(p))
        continue;  // matches nothing: every comparison with it fails
      Slot& s = insert(pack(coord(p.x, origin_.x), coord(p.y, origin_.y), coord(p.z, origin_.z)));
      if (s.head < 0)
        s.head = i;
      else
        next_[size_t(s.tail)] = i;
      s.tail = i;
    }
  }

  // Indices of every vertex in the cells near vertex p, ascending.
  void candidates(const Vec3& p, std::vector<int>& out) const {
    out.clear();
    if (!finite(p))
      return;
    const float m = 2.0f * kWeldEpsilon;
    const int x0 = coord(p.x - m, origin_.x), x1 = coord(p.x + m, origin_.x);
    const int y0 = coord(p.y - m, origin_.y), y1 = coord(p.y + m, origin_.y);
    const int z0 = coord(p.z - m, origin_.z), z1 = coord(p.z + m, origin_.z);
    int cells = 0;
    for (int z = z0; z <= z1; z++)
      for (int y = y0; y <= y1; y++)
        for (int x = x0; x <= x1; x++) {
          const Slot* s = find(pack(x, y, z));
          if (!s)
            continue;
          cells++;
          for (int v = s->head; v >= 0; v = next_[size_t(v)])
            out.push_back(v);
        }
    if (cells > 1)
      std::sort(out.begin(), out.end());
  }

 private:
  static constexpr int kCellLimit = 1 << 21;
  static constexpr uint64_t kEmpty = ~uint64_t(0);
  struct Slot {
    uint64_t key;
    int head, tail;
  };

  static bool finite(const Vec3& p) { return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z); }
  static uint64_t pack(int x, int y, int z) { return uint64_t(x) | uint64_t(y) << 21 | uint64_t(z) << 42; }
  static uint64_t hash(uint64_t k) {
    k ^= k >> 33;
    k *= 0xff51afd7ed558ccdull;
    k ^= k >> 33;
    k *= 0xc4ceb9fe1a85ec53ull;
    return k ^ (k >> 33);
  }
  int coord(float v, float o) const {
    const float c = std::floor((v - o) * invCell_);
    return int(std::clamp(c, 0.0f, float(kCellLimit - 1)));
  }
  Slot& insert(uint64_t key) {
    size_t h = hash(key) & mask_;
    while (slots_[h].key != kEmpty && slots_[h].key != key)
      h = (h + 1) & mask_;
    slots_[h].key = key;
    return slots_[h];
  }
  const Slot* find(uint64_t key) const {
    size_t h = hash(key) & mask_;
    while (slots_[h].key != kEmpty) {
      if (slots_[h].key == key)
        return &slots_[h];
      h = (h + 1) & mask_;
    }
    return nullptr;
  }

  std::vector<int> next_;
  std::vector<Slot> slots_;
  size_t mask_ = 0;
  Vec3 origin_;
  float invCell_ = 1.0f;
};

void writeFrame(DrawVertex& v, const Vec3* acc) {
  store(v.tangents[0], acc[0]);
  store(v.tangents[1], acc[1]);
  store(v.normal, acc[2]);
}

}  // namespace

Mat3 triangleTangents(const Vec3& p0, const Vec3& p1, const Vec3& p2, const Vec2& st0, const Vec2& st1,
                      const Vec2& st2, Plane* outPlane) {
  const Vec3 e1 = p1 - p0, e2 = p2 - p0;
  const float ds1 = st1.x - st0.x, dt1 = st1.y - st0.y;
  const float ds2 = st2.x - st0.x, dt2 = st2.y - st0.y;
  const float sigma = (ds1 * dt2 - ds2 * dt1) < 0.0f ? -1.0f : 1.0f;
  Mat3 f;
  f.rows[0] = fastNormalized(e1 * dt2 - e2 * dt1) * sigma;
  f.rows[1] = fastNormalized(e2 * ds1 - e1 * ds2) * -sigma;
  f.rows[2] = fastNormalized(e1.cross(e2));
  if (outPlane)
    *outPlane = Plane(f.rows[2], f.rows[2].dot(p0));
  return f;
}

void deriveTrianglePlanes(const DrawVertex* vertices, int vertexCount, const int* indices, int indexCount,
                          Plane* outPlanes) {
  const int triangles = indexCount / 3;
  for (int t = 0; t < triangles; t++) {
    const int* idx = indices + t * 3;
    if (!validTriangle(idx, vertexCount)) {
      outPlanes[t] = Plane();
      continue;
    }
    const Vec3 a = positionOf(vertices[idx[0]]), b = positionOf(vertices[idx[1]]),
               c = positionOf(vertices[idx[2]]);
    Vec3 n = (b - a).cross(c - a);
    n.normalize();
    outPlanes[t] = Plane(n, n.dot(c));
  }
}

Mat3 tangentFrame(const Mat3& frame, const Plane& plane, const Vec3& n) {
  const Vec3& t = frame.rows[0];
  const Vec3& b = frame.rows[1];
  Vec3 nt = n.cross(t);
  nt.normalize();
  Mat3 out;
  out.rows[0] = nt.cross(n);
  out.rows[0].normalize();
  out.rows[1] = t.cross(b).dot(plane.normal()) >= 0.0f ? -nt : nt;
  out.rows[2] = n;
  return out;
}

void deriveTangents(DrawVertex* vertices, int vertexCount, const int* indices, int indexCount,
                    Plane* outPlanes, bool useVertexNormals) {
  if (vertexCount <= 0)
    return;
  TangentScratch& s = scratch();
  accumulateTangents(vertices, vertexCount, indices, indexCount, outPlanes, useVertexNormals, s);
  for (int v = 0; v < vertexCount; v++) {
    Vec3* acc = &s.accum[size_t(v) * 3];
    if (s.uses[size_t(v)] > 1) {
      acc[0].normalize();
      acc[1].normalize();
      acc[2].normalize();
    }
    writeFrame(vertices[v], acc);
  }
}

void deriveNormalsAndTangents(DrawVertex* vertices, int vertexCount, const int* indices, int indexCount,
                              Plane* outPlanes, bool useVertexNormals) {
  if (vertexCount <= 0)
    return;
  TangentScratch& s = scratch();
  accumulateTangents(vertices, vertexCount, indices, indexCount, outPlanes, useVertexNormals, s);

  std::vector<int> rep(size_t(vertexCount), -1);  // -1: not merged
  WeldGrid grid(vertices, vertexCount);
  std::vector<int> cand;
  for (int i = 0; i < vertexCount; i++) {
    if (rep[size_t(i)] >= 0)
      continue;
    grid.candidates(positionOf(vertices[i]), cand);
    for (int j : cand) {
      if (j == i || rep[size_t(j)] >= 0)
        continue;
      if (!weldMatch(vertices, s.accum.data(), i, j, useVertexNormals))
        continue;
      Vec3* ai = &s.accum[size_t(i) * 3];
      const Vec3* aj = &s.accum[size_t(j) * 3];
      ai[0] += aj[0];
      ai[1] += aj[1];
      ai[2] += aj[2];
      rep[size_t(j)] = i;
    }
  }

  for (int v = 0; v < vertexCount; v++) {
    if (rep[size_t(v)] >= 0)
      continue;
    const Vec3* acc = &s.accum[size_t(v) * 3];
    Mat3 f(acc[0], acc[1], acc[2]);
    f.orthoNormalize();
    writeFrame(vertices[v], f.rows);
  }
  for (int v = 0; v < vertexCount; v++) {
    if (rep[size_t(v)] < 0)
      continue;
    // A representative may itself have been merged later on: follow the chain.
    int r = rep[size_t(v)];
    while (rep[size_t(r)] >= 0)
      r = rep[size_t(r)];
    std::memcpy(vertices[v].tangents, vertices[r].tangents, sizeof(vertices[v].tangents));
    std::memcpy(vertices[v].normal, vertices[r].normal, sizeof(vertices[v].normal));
  }
}

void mergeTangents(DrawVertex* vertices, int count, float epsilon) {
  std::vector<char> done(size_t(std::max(count, 0)), 0);
  std::vector<int> group;
  for (int i = 0; i < count; i++) {
    if (done[size_t(i)])
      continue;
    group.clear();
    const Vec3 pi = positionOf(vertices[i]);
    Vec3 t0 = tangentOf(vertices[i], 0), t1 = tangentOf(vertices[i], 1), n = normalOf(vertices[i]);
    for (int j = i + 1; j < count; j++) {
      if (done[size_t(j)] || !pi.compare(positionOf(vertices[j]), epsilon))
        continue;
      t0 += tangentOf(vertices[j], 0);
      t1 += tangentOf(vertices[j], 1);
      n += normalOf(vertices[j]);
      group.push_back(j);
      done[size_t(j)] = 1;
    }
    if (group.empty())
      continue;
    t0.normalize();
    t1.normalize();
    n.normalize();
    group.push_back(i);
    for (int j : group) {
      store(vertices[j].tangents[0], t0);
      store(vertices[j].tangents[1], t1);
      store(vertices[j].normal, n);
    }
  }
}

void addMatchingTangents(DrawVertex* vertices, int count, const DrawVertex* donors, int donorCount,
                         float epsilon, bool* outMatched) {
  for (int i = 0; i < count; i++) {
    const Vec3 p = positionOf(vertices[i]);
    for (int d = 0; d < donorCount; d++) {
      if (!p.compare(positionOf(donors[d]), epsilon))
        continue;
      store(vertices[i].tangents[0], tangentOf(vertices[i], 0) + tangentOf(donors[d], 0));
      store(vertices[i].tangents[1], tangentOf(vertices[i], 1) + tangentOf(donors[d], 1));
      store(vertices[i].normal, normalOf(vertices[i]) + normalOf(donors[d]));
      if (outMatched)
        outMatched[i] = true;
      break;
    }
  }
}
