// Convex polygons, polygon sets and the point-list clippers.
#include "lib/polygon.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "lib/triangulate.h"

namespace {

constexpr float kClipEpsilon = 0.001f;

inline bool triangleNormal(const Vec3& a, const Vec3& b, const Vec3& c, Vec3& n) {
  n = (b - a).cross(c - a);
  return n.normalize() != 0.0f;
}

// Two zero components make the third exactly +-1; one component of exactly
// +-1 zeroes the other two.
inline void fixAxialNormal(Vec3& n) {
  for (int axis = 0; axis < 3; axis++) {
    const int o1 = (axis + 1) % 3, o2 = (axis + 2) % 3;
    if (n[o1] == 0.0f && n[o2] == 0.0f && n[axis] != 0.0f) {
      n[axis] = n[axis] > 0.0f ? 1.0f : -1.0f;
      return;
    }
  }
  for (int axis = 0; axis < 3; axis++) {
    if (std::fabs(n[axis]) == 1.0f) {
      n[(axis + 1) % 3] = 0.0f;
      n[(axis + 2) % 3] = 0.0f;
      return;
    }
  }
}

}  // namespace

// ---------------------------------------------------------------- editing

void ConvexPolygon::copyPoints(const ConvexPolygon& o) {
  if (numPoints > 0)
    std::memcpy(static_cast<void*>(points), o.points, sizeof(Vec3) * size_t(numPoints));
}

bool ConvexPolygon::operator==(const ConvexPolygon& o) const {
  if (numPoints != o.numPoints)
    return false;
  for (int i = 0; i < numPoints; i++)
    if (points[i] != o.points[i])
      return false;
  return true;
}

int ConvexPolygon::addPoint(const Vec3& p, float eps) {
  for (int i = 0; i < numPoints; i++) {
    if (eps == 0.0f ? points[i] == p : points[i].compare(p, eps))
      return i;
  }
  if (numPoints >= kMaxPoints)
    return -1;
  points[numPoints] = p;
  return numPoints++;
}

void ConvexPolygon::insertPoint(const Vec3& p, int index) {
  if (numPoints >= kMaxPoints)
    return;
  if (index < 0 || index >= numPoints) {
    points[numPoints++] = p;
    return;
  }
  std::memmove(static_cast<void*>(points + index + 1), points + index,
               sizeof(Vec3) * size_t(numPoints - index));
  points[index] = p;
  numPoints++;
}

void ConvexPolygon::removePoint(int index) {
  if (index < 0 || index >= numPoints)
    return;
  std::memmove(static_cast<void*>(points + index), points + index + 1,
               sizeof(Vec3) * size_t(numPoints - index - 1));
  numPoints--;
}

void ConvexPolygon::removeDuplicatePoints(float eps) {
  for (int i = numPoints - 1; i >= 1; i--)
    if (points[i].compare(points[i - 1], eps))
      removePoint(i);
}

void ConvexPolygon::removeClosePoints(float dist) {
  removeDuplicatePoints(0.01f);
  // One walk around: a point close to the segment joining its neighbours goes.
  for (int i = 0; i < numPoints && numPoints > 2;) {
    const Vec3& prev = points[(i + numPoints - 1) % numPoints];
    const Vec3& next = points[(i + 1) % numPoints];
    Vec3 nearest;
    const Vec3 d = next - prev;
    const float len = d.lengthSqr();
    if (len > 0.0f) {
      float t = std::clamp((points[i] - prev).dot(d) / len, 0.0f, 1.0f);
      nearest = prev + d * t;
    } else {
      nearest = prev;
    }
    if ((points[i] - nearest).length() <= dist) {
      removePoint(i);
      continue;
    }
    i++;
  }
}

void ConvexPolygon::reverse() {
  std::reverse(points, points + numPoints);
}

void ConvexPolygon::reversed(ConvexPolygon& out) const {
  out.numPoints = numPoints;
  for (int i = 0; i < numPoints; i++)
    out.points[i] = points[numPoints - 1 - i];
}

void ConvexPolygon::snap(float gridScale) {
  for (int i = 0; i < numPoints; i++)
    points[i].snap(gridScale);
}

void ConvexPolygon::fromPlane(const Plane& plane, float halfSize) {
  const Vec3 n = plane.normal();
  const Vec3 centre = n * plane.d;
  Vec3 ref(0.0f, 0.0f, 1.0f);
  if (std::fabs(n.z) >= std::max(std::fabs(n.x), std::fabs(n.y)))
    ref = Vec3(1.0f, 0.0f, 0.0f);
  Vec3 u = ref - n * ref.dot(n);
  u.normalize();
  const Vec3 v = u.cross(n);
  const Vec3 su = u * halfSize, sv = v * halfSize;
  numPoints = 4;
  points[0] = centre + su + sv;
  points[1] = centre + su - sv;
  points[2] = centre - su - sv;
  points[3] = centre - su + sv;
}

// ---------------------------------------------------------------- queries

int ConvexPolygon::planeSide(const Plane& plane, float eps) const {
  if (numPoints == 0)
    return kCross;
  bool front = false, back = false;
  for (int i = 0; i < numPoints; i++) {
    const float d = plane.distance(points[i]);
    if (d > eps)
      front = true;
    else if (d < -eps)
      back = true;
    if (front && back)
      return kCross;
  }
  if (front)
    return kFront;
  if (back)
    return kBack;
  return kOn;
}

Vec3 ConvexPolygon::center() const {
  Vec3 c;
  if (numPoints == 0)
    return c;
  for (int i = 0; i < numPoints; i++)
    c += points[i];
  return c * (1.0f / float(numPoints));
}

float ConvexPolygon::area() const {
  if (numPoints < 3)
    return 0.0f;
  float total = 0.0f;
  for (int i = 2; i < numPoints; i++)
    total += (points[i - 1] - points[0]).cross(points[i] - points[0]).length();
  return total * 0.5f;
}

void ConvexPolygon::computePlane(Plane& out) const {
  out = Plane();
  if (numPoints < 3)
    return;
  const Vec3 c = center();
  Vec3 n;
  for (int i = 0; i < numPoints; i++) {
    const Vec3& prev = points[(i + numPoints - 1) % numPoints];
    n += (points[i] - prev).cross(c - prev);
  }
  n *= 1.0f / float(numPoints);
  if (n.normalize() == 0.0f)
    return;
  fixAxialNormal(n);
  float d = n.dot(points[0]);
  for (int i = 1; i < numPoints; i++)
    d = std::max(d, n.dot(points[i]));
  out = Plane(n, d);
}

bool ConvexPolygon::projectOnAxis(const Vec3& axis, float& outMin, float& outMax, float eps) const {
  if (numPoints == 0)
    return false;
  float lo = axis.dot(points[0]), hi = lo;
  for (int i = 1; i < numPoints; i++) {
    const float d = axis.dot(points[i]);
    lo = std::min(lo, d);
    hi = std::max(hi, d);
  }
  outMin = lo - eps;
  outMax = hi + eps;
  return true;
}

void ConvexPolygon::getBounds(Bounds& out) const {
  out.clear();
  addToBounds(out);
}

void ConvexPolygon::addToBounds(Bounds& bounds) const {
  for (int i = 0; i < numPoints; i++)
    bounds.addPoint(points[i]);
}

bool ConvexPolygon::isTiny(float eps) const {
  if (numPoints < 3)
    return true;
  int longEdges = 0;
  for (int i = 0; i < numPoints; i++) {
    if ((points[(i + 1) % numPoints] - points[i]).length() > eps && ++longEdges >= 3)
      return false;
  }
  return true;
}

bool ConvexPolygon::isConvex(float eps) const {
  if (numPoints < 3)
    return false;
  const Plane pl = plane();
  const Vec3 n = pl.normal();
  if (n == Vec3())
    return false;
  if (numPoints == 3)
    return true;
  for (int i = 0; i < numPoints; i++) {
    const Vec3 e = points[(i + 1) % numPoints] - points[i];
    Vec3 en = e.cross(n);
    en.normalize();
    for (int j = 0; j < numPoints; j++)
      if ((points[j] - points[i]).dot(en) > eps)
        return false;
  }
  return true;
}

int ConvexPolygon::findPoint(const Vec3& p, float eps) const {
  for (int i = 0; i < numPoints; i++)
    if (points[i].compare(p, eps))
      return i;
  return -1;
}

int ConvexPolygon::findEdge(const Vec3& a, const Vec3& b, float eps) const {
  for (int i = 0; i < numPoints; i++)
    if (points[i].compare(a, eps) && points[(i + 1) % numPoints].compare(b, eps))
      return i;
  return -1;
}

int ConvexPolygon::findEdgeContaining(const Vec3& p, float* outFraction, float eps) const {
  for (int k = 0; k < numPoints; k++) {
    // The closing edge (last point to point 0) comes first.
    const int i = (k + numPoints - 1) % numPoints;
    const Vec3& a = points[i];
    const Vec3& b = points[(i + 1) % numPoints];
    const Vec3 d = b - a;
    const float len = d.lengthSqr();
    if (!(len > 0.0f))
      continue;
    const float t = (p - a).dot(d) / len;
    if (t < 0.0f || t > 1.0f)
      continue;
    if ((a + d * t).compare(p, eps)) {
      if (outFraction)
        *outFraction = t;
      return i;
    }
  }
  return -1;
}

bool ConvexPolygon::pointInside(const Vec3& normal, const Vec3& p, float eps) const {
  for (int i = 0; i < numPoints; i++) {
    const Vec3& a = points[i];
    Vec3 en = (points[(i + 1) % numPoints] - a).cross(normal);
    en.normalize();
    if ((p - a).dot(en) > eps)
      return false;
  }
  return true;
}

// ---------------------------------------------------------------- splitting

void ConvexPolygon::split(ConvexPolygon* front, ConvexPolygon* back, const Plane& plane, float eps) const {
  if (front == this || back == this) {
    const ConvexPolygon copy = *this;
    copy.split(front, back, plane, eps);
    return;
  }
  if (front)
    front->numPoints = 0;
  if (back)
    back->numPoints = 0;
  if (numPoints == 0)
    return;
  auto put = [](ConvexPolygon* out, const Vec3& p) {
    if (out && out->numPoints < kMaxPoints)
      out->points[out->numPoints++] = p;
  };
  float prevDist = plane.distance(points[numPoints - 1]);
  int prevSide = prevDist > eps ? kFront : (prevDist < -eps ? kBack : kOn);
  const Vec3* prev = &points[numPoints - 1];
  for (int i = 0; i < numPoints; i++) {
    const Vec3& p = points[i];
    const float dist = plane.distance(p);
    const int side = dist > eps ? kFront : (dist < -eps ? kBack : kOn);
    if (side != kOn && prevSide != kOn && side != prevSide) {
      const float t = prevDist / (prevDist - dist);
      const Vec3 cross = *prev + (p - *prev) * t;
      put(front, cross);
      put(back, cross);
    }
    if (side == kFront) {
      put(front, p);
    } else if (side == kBack) {
      put(back, p);
    } else {
      put(front, p);
      put(back, p);
    }
    prev = &p;
    prevDist = dist;
    prevSide = side;
  }
  if (front && front->numPoints <= 2)
    front->numPoints = 0;
  if (back && back->numPoints <= 2)
    back->numPoints = 0;
}

int ConvexPolygon::clipInPlace(const Plane* planes, int count, float expand) {
  int mask = 0;
  ConvexPolygon front, back;
  for (int i = 0; i < count && numPoints > 0; i++) {
    Plane p = planes[i];
    if (expand != 0.0f)
      p.d += expand;
    // Wholly behind the plane (no point on it either): the split would give
    // no front part and leave the polygon as it is.
    bool allBehind = true;
    for (int k = 0; k < numPoints && allBehind; k++)
      allBehind = p.distance(points[k]) < -kClipEpsilon;
    if (allBehind)
      continue;
    split(&front, &back, p, kClipEpsilon);
    if (front.numPoints > 0 && front != back) {
      *this = back;
      mask |= 1 << (i & 31);
    }
  }
  if (mask)
    removeClosePoints(0.0001f);
  return mask;
}

void ConvexPolygon::clipByPlanes(const Plane& plane, const Plane* planes, int count) {
  fromPlane(plane, 131072.0f);
  ConvexPolygon back;
  for (int i = 0; i < count && numPoints > 0; i++) {
    if (planes[i].compare(plane, 0.00001f, 0.001f))
      continue;
    split(nullptr, &back, planes[i], kClipEpsilon);
    *this = back;
  }
}

bool ConvexPolygon::carveByPlanes(PolygonSet& set, const Plane* planes, int count, float expand) const {
  ConvexPolygon work = *this, front, back;
  List<ConvexPolygon> outside;
  for (int i = 0; i < count && work.numPoints > 0; i++) {
    Plane p = planes[i];
    if (expand != 0.0f)
      p.d += expand;
    work.split(&front, &back, p, kClipEpsilon);
    if (front.numPoints > 0 && front != back) {
      outside.append(front);
      work = back;
    }
  }
  if (work.numPoints == 0) {
    set.append(*this);
    return false;
  }
  for (int i = 0; i < outside.num(); i++)
    set.append(outside[i]);
  return true;
}

int ConvexPolygon::pyramidPlanes(const Vec3& origin, Plane* out, int maxPlanes, float eps) const {
  if (numPoints == 0)
    return 0;
  const Plane pl = plane();
  const float dist = pl.distance(origin);
  if (std::fabs(dist) <= eps)
    return 0;
  if (numPoints + 1 > maxPlanes)
    return 0;
  out[0] = pl;
  int count = 1;
  for (int i = 0; i < numPoints; i++) {
    const Vec3& prev = points[(i + numPoints - 1) % numPoints];
    Plane& p = out[count++];
    if (p.fromPoints(prev, points[i], origin))
      p.d = p.normal().dot(origin);
  }
  if (dist < -eps)
    for (int i = 0; i < count; i++)
      out[i].negate();
  return count < 4 ? 0 : count;
}

int ConvexPolygon::toSlabPlanes(Plane* out, int capacity, float thickness, float edgeOffset) const {
  if (capacity <= 0)
    return 0;
  const Plane pl = plane();
  int count = 0;
  out[count++] = pl;
  if (count < capacity)
    out[count++] = -pl;
  if (thickness > 0.0f) {
    out[0].d += thickness * 0.5f;
    if (count > 1)
      out[1].d += thickness * 0.5f;
  } else if (thickness < 0.0f && count > 1) {
    out[1].d += -thickness;
  }
  const Vec3 n = pl.normal();
  for (int i = 1; i <= numPoints && count < capacity; i++) {
    const Vec3& start = points[i - 1];
    const Vec3 edge = points[i % numPoints] - start;
    Vec3 en = edge.cross(n);
    en.normalize();
    for (int k = 0; k < 3; k++)
      if (std::fabs(en[k]) < 1e-30f)
        en[k] = 0.0f;
    fixAxialNormal(en);
    const Plane candidate(en, en.dot(start + en * edgeOffset));
    bool duplicate = false;
    for (int k = 0; k < count && !duplicate; k++)
      duplicate = out[k].compare(candidate, 0.00001f, 0.001f);
    if (!duplicate)
      out[count++] = candidate;
  }
  return count;
}

int ConvexPolygon::addPointToHull(const Vec3& p, const Vec3& normal, float eps) {
  if (numPoints == 0) {
    points[numPoints++] = p;
    return 2;
  }
  if (numPoints == 1) {
    if (points[0].compare(p, eps))
      return 0;
    points[numPoints++] = p;
    return 2;
  }
  if (numPoints == 2) {
    if (points[0].compare(p, eps) || points[1].compare(p, eps))
      return 0;
    const Vec3 c = (points[1] - points[0]).cross(p - points[0]);
    if (c == Vec3())
      return 0;
    if (c.dot(normal) > 0.0f) {
      points[2] = p;
    } else {
      points[2] = points[1];
      points[1] = p;
    }
    numPoints = 3;
    return 2;
  }
  const int n = numPoints;
  bool sees[kMaxPoints];
  bool outside = false;
  for (int i = 0; i < n; i++) {
    const Vec3 e = points[(i + 1) % n] - points[i];
    const float d = (p - points[i]).dot(e.cross(normal));
    if (d >= eps)
      outside = true;
    sees[i] = d >= -eps;
  }
  if (!outside)
    return 1;
  int k = -1;
  for (int i = 0; i < n; i++) {
    if (!sees[i] && sees[(i + 1) % n]) {
      k = i;
      break;
    }
  }
  if (k < 0)
    return 0;
  Vec3 hull[kMaxPoints + 1];
  int count = 0;
  hull[count++] = p;
  for (int s = 0; s < n; s++) {
    const int j = (k + 2 + s) % n;
    if (sees[(j + n - 1) % n] && sees[j])
      continue;
    hull[count++] = points[j];
  }
  // A far point may swallow several corners, so the outline can shrink; refusing that would
  // leave p outside the hull.
  if (count >= kMaxPoints || count < 3)
    return 0;
  std::copy(hull, hull + count, points);
  numPoints = count;
  return 2;
}

// ---------------------------------------------------------------- merging

bool ConvexPolygon::tryMerge(const ConvexPolygon& other, bool strict) {
  if (numPoints + other.numPoints > kMaxPoints)
    return false;
  const int n = numPoints, m = other.numPoints;
  if (n < 3 || m < 3)
    return false;
  Bounds a, b;
  getBounds(a);
  other.getBounds(b);
  if (!a.expanded(0.001f).intersects(b))
    return false;
  if (area() > other.area()) {
    if (other.planeSide(plane(), 0.02f) != kOn)
      return false;
  } else if (planeSide(other.plane(), 0.02f) != kOn) {
    return false;
  }

  int i = -1, j = -1;
  for (int s = 1; s <= n; s++) {
    const int cand = s % n;
    const int found = other.findPoint(points[cand], 0.01f);
    if (found >= 0 && other.points[(found + 1) % m].compare(points[(cand + n - 1) % n], 0.01f)) {
      i = cand;
      j = found;
      break;
    }
  }
  if (i < 0)
    return false;

  // q is left out when its following edge occurs reversed in the other polygon.
  auto sharedEdge = [](const ConvexPolygon& poly, int q, const ConvexPolygon& in) {
    const Vec3& succ = poly.points[(q + 1) % poly.numPoints];
    const int f = in.findPoint(succ, 0.01f);
    return f >= 0 && in.points[(f + 1) % in.numPoints].compare(poly.points[q], 0.01f);
  };
  ConvexPolygon merged;
  for (int s = 0; s < n - 1 && merged.numPoints < kMaxPoints; s++) {
    const int q = (i + s) % n;
    if (!sharedEdge(*this, q, other))
      merged.points[merged.numPoints++] = points[q];
  }
  for (int s = 1; s < m && merged.numPoints < kMaxPoints; s++) {
    const int q = (j + s) % m;
    if (!sharedEdge(other, q, *this))
      merged.points[merged.numPoints++] = other.points[q];
  }
  if (strict) {
    merged.removeClosePoints(0.0001f);
    if (!merged.isConvex(0.01f))
      return false;
  } else {
    merged.removeDuplicatePoints(0.01f);
  }
  *this = merged;
  return true;
}

bool PolygonSet::mergeAll(bool weld, bool strict) {
  if (num() == 0)
    return false;
  if (weld)
    for (int i = 0; i < num(); i++)
      (*this)[i].removeClosePoints(0.0001f);
  bool changed = true;
  while (changed) {
    changed = false;
    for (int i = 0; i < num(); i++) {
      for (int j = i; j < num();) {
        if ((*this)[j].numPoints <= 2) {
          removeIndex(j);
          changed = true;
          continue;
        }
        if (j != i && (*this)[i].tryMerge((*this)[j], strict)) {
          removeIndex(j);
          changed = true;
          continue;
        }
        j++;
      }
    }
  }
  return true;
}

int PolygonSet::fixTJunctions() {
  int inserted = 0;
  for (int p = 0; p < num(); p++) {
    ConvexPolygon& poly = (*this)[p];
    for (int q = 0; q < num(); q++) {
      if (q == p)
        continue;
      const ConvexPolygon& other = (*this)[q];
      for (int k = 0; k < other.numPoints; k++) {
        const Vec3 v = other.points[k];
        if (poly.findPoint(v, 0.01f) >= 0)
          continue;
        const int e = poly.findEdgeContaining(v, nullptr, 0.01f);
        if (e < 0 || poly.numPoints >= ConvexPolygon::kMaxPoints)
          continue;
        poly.insertPoint(v, e + 1);
        inserted++;
      }
    }
  }
  return inserted;
}

void PolygonSet::splitByPlane(const Plane& plane, float splitEpsilon, float onEpsilon, PolygonSet* front,
                              PolygonSet* back) const {
  ConvexPolygon f, b;
  for (int i = 0; i < num(); i++) {
    const ConvexPolygon& poly = (*this)[i];
    switch (poly.planeSide(plane, onEpsilon)) {
      case ConvexPolygon::kOn:
        if (poly.plane().normal().dot(plane.normal()) >= 0.0f) {
          if (front)
            front->append(poly);
        } else if (back) {
          back->append(poly);
        }
        break;
      case ConvexPolygon::kFront:
        if (front)
          front->append(poly);
        break;
      case ConvexPolygon::kBack:
        if (back)
          back->append(poly);
        break;
      default:
        poly.split(&f, &b, plane, splitEpsilon);
        if (front && f.numPoints > 0)
          front->append(f);
        if (back && b.numPoints > 0)
          back->append(b);
        break;
    }
  }
}

// ---------------------------------------------------------------- triangulation

bool ConvexPolygon::triangleFaces(int a, int b, int c, const Vec3& normal) const {
  Vec3 n;
  return triangleNormal(points[a], points[b], points[c], n) && n.dot(normal) > 0.0f;
}

bool ConvexPolygon::fanTriangulate(List<int>& out) const {
  out.clear();
  const int n = numPoints;
  if (n < 3)
    return false;
  const Vec3 normal = plane().normal();
  for (int start = 1; start <= n; start++) {
    const int apex = (start + n - 2) % n;
    bool ok = true;
    for (int t = 0; t < n - 2 && ok; t++) {
      const int b = (start - 1 + t) % n, c = (start + t) % n;
      ok = triangleFaces(apex, b, c, normal);
    }
    if (!ok)
      continue;
    for (int t = 0; t < n - 2; t++) {
      out.append(apex);
      out.append((start - 1 + t) % n);
      out.append((start + t) % n);
    }
    return true;
  }
  if (n == 4) {
    Vec3 tn;
    auto add = [&](int a, int b, int c) {
      if (triangleNormal(points[a], points[b], points[c], tn)) {
        out.append(a);
        out.append(b);
        out.append(c);
      }
    };
    if ((points[1] - points[3]).length() >= (points[0] - points[2]).length()) {
      add(1, 2, 0);
      add(0, 2, 3);
    } else {
      add(0, 1, 3);
      add(3, 1, 2);
    }
    return out.num() > 0;
  }
  return false;
}

int ConvexPolygon::triangulate(List<int>& out) const {
  out.clear();
  const int n = numPoints;
  if (n == 0)
    return 0;
  const Vec3 normal = plane().normal();

  bool done = false;
  // Zig-zag strips, the first start that yields n - 2 triangles wins.
  if (n >= 3) {
    int tri[kMaxPoints * 2][3];
    for (int s = 0; s < n && !done; s++) {
      int made = 0;
      bool failed = false;
      for (int r = 0; !failed; r++) {
        const int a = (s + n - 2 - r + 2 * n) % n, b = (s + r) % n;
        const int cand[2][3] = {{(a + 1) % n, b, a}, {a, b, (b + 1) % n}};
        for (int k = 0; k < 2 && !failed; k++) {
          if (triangleFaces(cand[k][0], cand[k][1], cand[k][2], normal)) {
            std::copy(cand[k], cand[k] + 3, tri[made++]);
          } else {
            failed = true;
          }
        }
        if (2 * (r + 1) >= n - 2)
          break;
      }
      if (made >= n - 2) {
        for (int t = 0; t < n - 2; t++) {
          out.append(tri[t][0]);
          out.append(tri[t][1]);
          out.append(tri[t][2]);
        }
        done = true;
      }
    }
  }
  if (!done)
    done = fanTriangulate(out) || (n == 4 && out.num() > 0);
  if (!done) {
    out.clear();
    Triangulator t;
    t.init(normal);
    for (int i = 0; i < n; i++)
      t.addPoint(points[i]);
    if (t.triangulate())
      out = t.indices();
  }
  // Drop degenerate triangles.
  List<int> kept;
  Vec3 tn;
  for (int i = 0; i + 2 < out.num(); i += 3) {
    if (!triangleNormal(points[out[i]], points[out[i + 1]], points[out[i + 2]], tn))
      continue;
    kept.append(out[i]);
    kept.append(out[i + 1]);
    kept.append(out[i + 2]);
  }
  out = kept;
  return out.num();
}

int ConvexPolygon::triangulateWithCenter(List<int>& out) {
  out.clear();
  if (numPoints < 3)
    return 0;
  Vec3 tn;
  if (numPoints == 3) {
    if (!triangleNormal(points[0], points[1], points[2], tn))
      return 0;
    out.append(0);
    out.append(1);
    out.append(2);
    return 3;
  }
  if (fanTriangulate(out))
    return out.num();
  out.clear();
  const Vec3 normal = plane().normal();
  if (normal == Vec3() || numPoints >= kMaxPoints)
    return 0;
  const int outline = numPoints;
  const int c = numPoints;
  points[numPoints++] = center();
  for (int j = 0; j < outline; j++) {
    const int k = (j + 1) % outline;
    Vec3 n = (points[j] - points[c]).cross(points[k] - points[c]);
    if (n.normalize() == 0.0f || n.length() < 0.999999f)
      continue;
    if (n.dot(normal) <= 0.9f) {
      out.clear();
      return 0;
    }
    out.append(c);
    out.append(j);
    out.append(k);
  }
  return out.num();
}

// ---------------------------------------------------------------- point lists

int clipPointListByPlane(int count, const float* in, float* out, int outCapacity, const Plane& plane) {
  if (count <= 0)
    return 0;
  int made = 0;
  auto put = [&](const float* v) {
    if (made < outCapacity)
      std::memcpy(out + made++ * 5, v, sizeof(float) * 5);
  };
  const float* prev = in + (count - 1) * 5;
  float prevDist = plane.distance(Vec3(prev[0], prev[1], prev[2]));
  for (int i = 0; i < count; i++) {
    const float* cur = in + i * 5;
    const float dist = plane.distance(Vec3(cur[0], cur[1], cur[2]));
    // A crossing strictly between the two ends; an end on the plane is
    // itself the crossing and is kept as it is.
    if ((prevDist < 0.0f && dist > 0.0f) || (prevDist > 0.0f && dist < 0.0f)) {
      const float t = prevDist / (prevDist - dist);
      float v[5];
      for (int k = 0; k < 5; k++)
        v[k] = prev[k] + (cur[k] - prev[k]) * t;
      put(v);
    }
    if (!(dist > 0.0f))
      put(cur);
    prev = cur;
    prevDist = dist;
  }
  return made < 3 ? 0 : made;
}

int clipPointListByPlanes(const Plane* planes, int numPlanes, float* points, int count, int capacity) {
  if (numPlanes <= 0 || count <= 0)
    return count;
  if (count > capacity)
    count = capacity;
  constexpr int kStackPoints = 128;
  float stackBuffer[kStackPoints * 5];
  std::vector<float> heapBuffer;
  float* temp = stackBuffer;
  if (capacity > kStackPoints) {
    heapBuffer.resize(size_t(capacity) * 5);
    temp = heapBuffer.data();
  }
  float* src = points;
  float* dst = temp;
  for (int i = 0; i < numPlanes && count > 0; i++) {
    count = clipPointListByPlane(count, src, dst, capacity, planes[i]);
    std::swap(src, dst);
  }
  if (src != points && count > 0)
    std::memcpy(points, src, sizeof(float) * 5 * size_t(count));
  return count;
}
