// Trace models: the builders of the convex shapes the game module sweeps through collision models,
// and the geometry the queries use on them (move, turn, grow, split, project, clip a segment).
#include "lib/interface/tracemodel.h"

#include "collision/cmmodel.h"

#include <cmath>
#include <cstring>

#include "lib/interface/cmdsystem.h"
#include "lib/polygon.h"

namespace {

constexpr float kTwoPi = 6.2831855f;
constexpr float kSegmentEpsilon = 0.125f;

TraceModel makeDefaultTraceModel() {
  TraceModel trm;
  trm.setupBox(Bounds(Vec3(-0.5f, -0.5f, -0.5f), Vec3(0.5f, 0.5f, 0.5f)));
  return trm;
}

}  // namespace

const TraceModel& g_defaultTraceModel = *new TraceModel(makeDefaultTraceModel());

TraceModel::TraceModel() {
  std::memset(static_cast<void*>(edges), 0, sizeof(edges));
  std::memset(static_cast<void*>(polys), 0, sizeof(polys));
  clear(kTrmCleared);
}

void TraceModel::copy(const TraceModel& o) {
  type = o.type;
  numVerts = o.numVerts;
  numEdges = o.numEdges;
  numPolys = o.numPolys;
  offset = o.offset;
  bounds = o.bounds;
  std::memcpy(static_cast<void*>(verts), o.verts, sizeof(Vec3) * size_t(numVerts));
  std::memcpy(static_cast<void*>(edges), o.edges, sizeof(TraceEdge) * size_t(numEdges + 1));
  std::memcpy(static_cast<void*>(polys), o.polys, sizeof(TracePolygon) * size_t(numPolys));
}

void TraceModel::clear(int newType) {
  type = newType;
  numVerts = 0;
  numEdges = 0;
  numPolys = 0;
  edges[0] = TraceEdge{0, 0, Vec3()};
  offset = Vec3();
  bounds = Bounds(Vec3(), Vec3());
}

int TraceModel::addVertex(const Vec3& p, bool allowAdd) {
  for (int i = 0; i < numVerts; i++)
    if (verts[i].compare(p, 0.01f))
      return i;
  // A 33rd vertex does not fit: the caller refuses the face.
  if (!allowAdd || numVerts >= kMaxVerts)
    return -1;
  verts[numVerts] = p;
  return numVerts++;
}

bool TraceModel::addPolygon(const ConvexPolygon& polygon) {
  if (polygon.numPoints <= 0 || numPolys >= kMaxPolys)
    return false;
  TracePolygon& face = polys[numPolys];
  face.numEdges = 0;
  for (int i = 0; i < polygon.numPoints; i++) {
    const int a = addVertex(polygon[i], true);
    const int b = addVertex(polygon[(i + 1) % polygon.numPoints], true);
    if (a < 0 || b < 0)
      return false;
    int signedEdge = 0;
    for (int e = 1; e <= numEdges && !signedEdge; e++) {
      if (edges[e].vertex0 == a && edges[e].vertex1 == b)
        signedEdge = e;
      else if (edges[e].vertex0 == b && edges[e].vertex1 == a)
        signedEdge = -e;
    }
    if (!signedEdge) {
      if (numEdges >= kMaxEdges)
        return false;
      numEdges++;
      edges[numEdges] = TraceEdge{a, b, Vec3()};
      signedEdge = numEdges;
    }
    if (face.numEdges >= kMaxPolyEdges)
      return false;
    face.edges[face.numEdges++] = signedEdge;
  }
  polygon.computePlane(face.plane);
  polygon.getBounds(face.bounds);
  numPolys++;
  return true;
}

void TraceModel::getPolygon(int n, ConvexPolygon& out, int maxPoints) const {
  out.clear();
  if (n < 0 || n >= numPolys)
    return;
  if (maxPoints > ConvexPolygon::kMaxPoints)
    maxPoints = ConvexPolygon::kMaxPoints;
  const TracePolygon& face = polys[n];
  for (int i = 0; i < face.numEdges && out.numPoints < maxPoints; i++)
    out.points[out.numPoints++] = verts[edgeStart(face.edges[i])];
}

namespace {

ConvexPolygon quad(const Vec3& a, const Vec3& b, const Vec3& c, const Vec3& d) {
  ConvexPolygon p;
  p.numPoints = 4;
  p.points[0] = a;
  p.points[1] = b;
  p.points[2] = c;
  p.points[3] = d;
  return p;
}

}  // namespace

void TraceModel::setupBox(const Bounds& b) {
  clear(kTrmBox);
  offset = b.center();
  const float x0 = b.mins.x, y0 = b.mins.y, z0 = b.mins.z;
  const float x1 = b.maxs.x, y1 = b.maxs.y, z1 = b.maxs.z;
  addPolygon(quad({x0, y0, z1}, {x1, y0, z1}, {x1, y1, z1}, {x0, y1, z1}));
  addPolygon(quad({x0, y0, z0}, {x0, y1, z0}, {x1, y1, z0}, {x1, y0, z0}));
  addPolygon(quad({x0, y1, z0}, {x0, y1, z1}, {x1, y1, z1}, {x1, y1, z0}));
  addPolygon(quad({x0, y0, z0}, {x1, y0, z0}, {x1, y0, z1}, {x0, y0, z1}));
  addPolygon(quad({x1, y0, z0}, {x1, y1, z0}, {x1, y1, z1}, {x1, y0, z1}));
  addPolygon(quad({x0, y0, z0}, {x0, y0, z1}, {x0, y1, z1}, {x0, y1, z0}));
  buildEdgeNormals();
}

void TraceModel::setupBoxFromSize(float size) {
  const float h = size * 0.5f;
  setupBox(Bounds(Vec3(-h, -h, -h), Vec3(h, h, h)));
}

void TraceModel::setupCylinder(const Bounds& b, int sides) {
  int n = sides;
  // 11 to 14 sides need more than the 32 edges a model holds: they would lose faces.
  if (n < 3 || n > 14) {
    cmdPrintf("WARNING: trace model cylinder has invalid side count (%d)\n", sides);
    n = n < 3 ? 3 : 10;
  } else if (n > 10) {
    cmdPrintf("WARNING: trace model cylinder has invalid side count (%d)\n", sides);
    n = 10;
  }
  clear(kTrmCylinder);
  const Vec3 c = b.center();
  const Vec3 e = b.maxs - c;
  offset = c;
  const float top = c.z + e.z, bottom = c.z - e.z;
  auto P = [&](int k, float z) {
    const float a = float(k % n) * kTwoPi / float(n);
    return Vec3(std::cos(a) * e.x + c.x, std::sin(a) * e.y + c.y, z);
  };
  for (int i = 0; i < n; i++)
    addPolygon(quad(P(i, top), P(i, bottom), P(i + 1, bottom), P(i + 1, top)));
  ConvexPolygon cap;
  for (int i = 0; i < n; i++)
    cap.points[cap.numPoints++] = P(i, top);
  addPolygon(cap);
  cap.clear();
  for (int i = 0; i < n; i++)
    cap.points[cap.numPoints++] = P(n - 1 - i, bottom);
  addPolygon(cap);
  buildEdgeNormals();
}

void TraceModel::setupCylinderFromSize(float height, float width, int sides) {
  const float w = width * 0.5f, h = height * 0.5f;
  setupCylinder(Bounds(Vec3(-w, -w, -h), Vec3(w, w, h)), sides);
}

void TraceModel::setupCone(const Bounds& b, int sides) {
  int n = sides;
  if (n < 3 || n > 15) {
    cmdPrintf("WARNING: trace model cone has invalid side count (%d)\n", sides);
    n = n < 3 ? 3 : 15;
  }
  clear(kTrmCone);
  const Vec3 c = b.center();
  const Vec3 e = b.maxs - c;
  offset = c;
  const Vec3 apex(c.x, c.y, c.z + e.z);
  auto B = [&](int k) {
    const float a = float(k % n) * kTwoPi / float(n);
    return Vec3(std::cos(a) * e.x + c.x, std::sin(a) * e.y + c.y, c.z - e.z);
  };
  for (int i = 0; i < n; i++) {
    ConvexPolygon tri;
    tri.numPoints = 3;
    tri.points[0] = apex;
    tri.points[1] = B(i);
    tri.points[2] = B(i + 1);
    addPolygon(tri);
  }
  ConvexPolygon base;
  for (int i = 0; i < n; i++)
    base.points[base.numPoints++] = B(n - 1 - i);
  addPolygon(base);
  buildEdgeNormals();
}

void TraceModel::setupConeFromSize(float height, float width, int sides) {
  const float w = width * 0.5f, h = height * 0.5f;
  setupCone(Bounds(Vec3(-w, -w, -h), Vec3(w, w, h)), sides);
}

void TraceModel::initBipyramid() {
  clear(kTrmBipyramid);
  numVerts = 5;
  numEdges = 9;
  static const int kEdges[9][2] = {{0, 1}, {0, 2}, {0, 3}, {1, 2}, {2, 3}, {3, 1}, {1, 4}, {2, 4}, {3, 4}};
  for (int e = 0; e < 9; e++)
    edges[e + 1] = TraceEdge{kEdges[e][0], kEdges[e][1], Vec3()};
  static const int kFaces[6][3] = {{2, -4, -1}, {3, -5, -2}, {1, -6, -3}, {4, 8, -7}, {5, 9, -8}, {6, 7, -9}};
  numPolys = 6;
  for (int f = 0; f < 6; f++) {
    polys[f].numEdges = 3;
    for (int k = 0; k < 3; k++)
      polys[f].edges[k] = kFaces[f][k];
  }
}

void TraceModel::setupBipyramid(float length, float width) {
  if (type != kTrmBipyramid)
    initBipyramid();
  type = kTrmBipyramid;
  const float l = length * 0.5f, w = width * 0.5f;
  verts[0] = Vec3(0.0f, 0.0f, -l);
  verts[1] = Vec3(0.0f, -w, 0.0f);
  verts[2] = Vec3(w, width * 0.25f, 0.0f);
  verts[3] = Vec3(-w, width * 0.25f, 0.0f);
  verts[4] = Vec3(0.0f, 0.0f, l);
  offset = Vec3();
  bounds = Bounds(Vec3(-w, -w, -l), Vec3(w, width * 0.25f, l));
  for (int f = 0; f < numPolys; f++) {
    TracePolygon& face = polys[f];
    const Vec3& a = verts[edgeStart(face.edges[0])];
    const Vec3& b = verts[edgeStart(face.edges[1])];
    const Vec3& c = verts[edgeStart(face.edges[2])];
    // Corners wound counter-clockwise from outside give the outward normal.
    Vec3 n = (b - a).cross(c - a);
    n.normalize();
    face.plane = Plane(n, n.dot(verts[edges[std::abs(face.edges[0])].vertex0]));
    face.bounds.clear();
    face.bounds.addPoint(a);
    face.bounds.addPoint(b);
    face.bounds.addPoint(c);
  }
  computeEdgeNormals();
}

void TraceModel::setupPolygon(const Vec3* points, int count) {
  // A face holds at most 16 edges: more points would leave a polygon model without its face.
  if (count < 1 || count > kMaxPolyEdges) {
    cmdPrintf("WARNING: trace model polygon has invalid side count (%d)\n", count);
    clear(count > kMaxPolyEdges ? kTrmCleared : kTrmPolygon);
    return;
  }
  clear(kTrmPolygon);
  ConvexPolygon p;
  Vec3 sum;
  for (int i = 0; i < count; i++) {
    p.points[p.numPoints++] = points[i];
    sum += points[i];
  }
  addPolygon(p);
  buildEdgeNormals();
  offset = sum * (1.0f / float(count));
}

void TraceModel::setupPolygonFromWinding(const ConvexPolygon& polygon) {
  setupPolygon(polygon.points, polygon.numPoints);
}

void TraceModel::setupBoundsOnly(float r) {
  clear(kTrmBoundsOnly);
  bounds = Bounds(Vec3(-r, -r, -r), Vec3(r, r, r));
}

void TraceModel::buildEdgeNormals() {
  bounds.clear();
  for (int f = 0; f < numPolys; f++) {
    TracePolygon& face = polys[f];
    ConvexPolygon corners;
    getPolygon(f, corners);
    ConvexPolygon first3;
    for (int i = 0; i < 3 && i < corners.numPoints; i++)
      first3.points[first3.numPoints++] = corners[i];
    first3.computePlane(face.plane);
    corners.getBounds(face.bounds);
    bounds.addBounds(face.bounds);
  }
  if (bounds.isCleared()) {
    offset = Vec3();
    bounds = Bounds(Vec3(), Vec3());
  }
  computeEdgeNormals();
}

int TraceModel::computeEdgeNormals() {
  for (int e = 0; e <= numEdges; e++)
    edges[e].normal = Vec3();
  int sharp = 0;
  for (int f = 0; f < numPolys; f++) {
    const TracePolygon& face = polys[f];
    const Vec3 p = face.plane.normal();
    for (int k = 0; k < face.numEdges; k++) {
      const int se = face.edges[k];
      TraceEdge& edge = edges[std::abs(se)];
      const Vec3 n = edge.normal;
      if (n == Vec3()) {
        edge.normal = p;
        continue;
      }
      const float t = n.dot(p);
      if (t >= -0.7f) {
        edge.normal = (n + p) * (1.0f / (1.0f + t));
      } else {
        const Vec3 d =
            se >= 0 ? verts[edge.vertex1] - verts[edge.vertex0] : verts[edge.vertex0] - verts[edge.vertex1];
        Vec3 s = (n - p).cross(d);
        s.normalize();
        edge.normal = s * 3.3333333f;
        sharp++;
      }
    }
  }
  return sharp;
}

void TraceModel::translate(const Vec3& delta) {
  if (delta == Vec3())
    return;
  for (int i = 0; i < numVerts; i++)
    verts[i] += delta;
  for (int f = 0; f < numPolys; f++) {
    polys[f].bounds = polys[f].bounds.translated(delta);
    polys[f].plane.d += polys[f].plane.normal().dot(delta);
  }
  offset += delta;
  if (numVerts > 0) {
    bounds = Bounds::fromVertices(verts, numVerts);
  } else {
    bounds = bounds.translated(delta);
  }
}

void TraceModel::rotate(const Mat3& axis) {
  if (axis.compare(Mat3::identity(), 0.001f))
    return;
  if (type == kTrmBoundsOnly) {
    // Without faces a bounds-only shape turns as the box it stands for.
    bounds.rotate(axis);
    return;
  }
  for (int i = 0; i < numVerts; i++)
    verts[i] = axis.transform(verts[i]);
  bounds.clear();
  for (int f = 0; f < numPolys; f++) {
    TracePolygon& face = polys[f];
    Vec3 n = axis.transform(face.plane.normal());
    n.normalize();
    face.bounds.clear();
    float d = -1e30f;
    for (int k = 0; k < face.numEdges; k++) {
      const Vec3& v = verts[edgeStart(face.edges[k])];
      face.bounds.addPoint(v);
      d = std::max(d, n.dot(v));
    }
    face.plane = Plane(n, face.numEdges ? d : 0.0f);
    bounds.addBounds(face.bounds);
  }
  if (numPolys == 0 && numVerts > 0)
    bounds = Bounds::fromVertices(verts, numVerts);
  computeEdgeNormals();
  type = kTrmConvex;
}

namespace {

// The grown solid exactly: each face cut from its moved plane by all the others, corners shared by
// index. False when it does not close or does not fit the record (more corners or edges than the
// original where more than three faces meet).
bool growExact(const Plane* planes, int count, int type, TraceModel& grown) {
  constexpr int kMaxVerts = TraceModel::kMaxVerts, kMaxEdges = TraceModel::kMaxEdges;
  constexpr int kMaxPolys = TraceModel::kMaxPolys, kMaxPolyEdges = TraceModel::kMaxPolyEdges;
  // Faces are cut in double precision and their corners shared by index with a tolerance far below
  // any real edge: a float cut of a huge square, joined at 0.01, let corners drift apart and short
  // edges (where more than three faces meet and the grown faces no longer do) fold away.
  constexpr float kShare = 1e-3f;
  Vec3 corners[kMaxVerts];
  Vec3 sums[kMaxVerts];
  int merged[kMaxVerts];
  int numCorners = 0;
  int faceCorners[kMaxPolys][kMaxPolyEdges];
  int faceCount[kMaxPolys];
  for (int i = 0; i < count; i++) {
    ConvexPolygon p;
    cm::planePolygon(p, planes[i], planes, count);
    if (p.numPoints < 3)
      return false;
    // Wound counter-clockwise seen from outside, whichever way the cut went round.
    Vec3 area;
    for (int k = 0; k < p.numPoints; k++)
      area += p[k].cross(p[(k + 1) % p.numPoints]);
    const bool reversed = area.dot(planes[i].normal()) < 0.0f;
    faceCount[i] = 0;
    for (int k = 0; k < p.numPoints; k++) {
      const Vec3& point = p[reversed ? p.numPoints - 1 - k : k];
      for (int c = 0; c < 3; c++)
        if (!(std::fabs(point[c]) < 65536.0f))
          return false;  // not enclosed
      int index = -1;
      for (int c = 0; c < numCorners && index < 0; c++)
        if (corners[c].compare(point, kShare))
          index = c;
      if (index < 0) {
        if (numCorners >= kMaxVerts)
          return false;
        corners[numCorners] = point;
        sums[numCorners] = Vec3();
        merged[numCorners] = 0;
        index = numCorners++;
      }
      sums[index] += point;
      merged[index]++;
      const int n = faceCount[i];
      if (n > 0 && (faceCorners[i][n - 1] == index || (k == p.numPoints - 1 && faceCorners[i][0] == index)))
        continue;
      if (n >= kMaxPolyEdges)
        return false;
      faceCorners[i][faceCount[i]++] = index;
    }
    if (faceCount[i] < 3)
      return false;
  }
  // Where many faces meet (a cone's apex) each pair of neighbours puts the corner a little elsewhere:
  // their average stands nearest to every plane.
  for (int c = 0; c < numCorners; c++)
    corners[c] = sums[c] * (1.0f / float(merged[c]));
  for (int c = 0; c < numCorners; c++)
    for (int i = 0; i < count; i++)
      if (planes[i].distance(corners[c]) > 1e-4f * (1.0f + std::fabs(planes[i].d)))
        return false;
  grown.clear(type);
  grown.numVerts = numCorners;
  for (int c = 0; c < numCorners; c++)
    grown.verts[c] = corners[c];
  for (int i = 0; i < count; i++) {
    TracePolygon& face = grown.polys[i];
    face.numEdges = 0;
    face.bounds.clear();
    for (int k = 0; k < faceCount[i]; k++) {
      const int a = faceCorners[i][k], b = faceCorners[i][(k + 1) % faceCount[i]];
      int signedEdge = 0;
      for (int e = 1; e <= grown.numEdges && !signedEdge; e++) {
        if (grown.edges[e].vertex0 == b && grown.edges[e].vertex1 == a)
          signedEdge = -e;
        else if (grown.edges[e].vertex0 == a && grown.edges[e].vertex1 == b)
          return false;  // walked the same way twice: not a closed solid
      }
      if (!signedEdge) {
        if (grown.numEdges >= kMaxEdges)
          return false;
        grown.numEdges++;
        grown.edges[grown.numEdges] = TraceEdge{a, b, Vec3()};
        signedEdge = grown.numEdges;
      }
      face.edges[face.numEdges++] = signedEdge;
      face.bounds.addPoint(corners[a]);
    }
    // The moved plane itself, not one fitted through three corners that may lie close together.
    face.plane = planes[i];
  }
  grown.numPolys = count;
  // Every edge must have been walked back by a second face.
  int uses[kMaxEdges + 1] = {};
  for (int i = 0; i < count; i++)
    for (int k = 0; k < grown.polys[i].numEdges; k++)
      uses[std::abs(grown.polys[i].edges[k])]++;
  for (int e = 1; e <= grown.numEdges; e++)
    if (uses[e] != 2)
      return false;
  return true;
}


// The grown solid with the original's corners, edges and faces: each corner where its faces' moved
// planes meet best (least squares), drawn back along its faces' mean normal until it is behind all of
// them. Where more than three faces meet and their moved planes no longer do (a cone over an
// ellipse), this keeps the solid within the record; its faces still lie in the moved planes or
// behind them at such corners. False for an open or inverted result.
bool growInPlace(const TraceModel& src, const Plane* planes, int count, TraceModel& grown) {
  int uses[TraceModel::kMaxEdges + 1] = {};
  for (int f = 0; f < count; f++)
    for (int k = 0; k < src.polys[f].numEdges; k++)
      uses[std::abs(src.polys[f].edges[k])]++;
  for (int e = 1; e <= src.numEdges; e++)
    if (uses[e] != 2)
      return false;
  grown = src;
  for (int v = 0; v < src.numVerts; v++) {
    double a[3][3] = {}, b[3] = {}, mean[3] = {};
    int faces = 0;
    for (int f = 0; f < count; f++) {
      bool touches = false;
      for (int k = 0; k < src.polys[f].numEdges && !touches; k++)
        touches = src.edgeStart(src.polys[f].edges[k]) == v;
      if (!touches)
        continue;
      const double n[3] = {planes[f].a, planes[f].b, planes[f].c};
      for (int r = 0; r < 3; r++) {
        for (int c = 0; c < 3; c++)
          a[r][c] += n[r] * n[c];
        b[r] += n[r] * planes[f].d;
        mean[r] += n[r];
      }
      faces++;
    }
    const double det = a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) -
                       a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
                       a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
    if (faces < 3 || !(std::fabs(det) > 1e-9))
      return false;
    double p[3];
    for (int c = 0; c < 3; c++) {
      double m[3][3];
      for (int r = 0; r < 3; r++)
        for (int k = 0; k < 3; k++)
          m[r][k] = k == c ? b[r] : a[r][k];
      p[c] = (m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) - m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
              m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0])) /
             det;
    }
    const double ml = std::sqrt(mean[0] * mean[0] + mean[1] * mean[1] + mean[2] * mean[2]);
    if (!(ml > 1e-9))
      return false;
    for (double& c : mean)
      c /= ml;
    double back = 0.0;
    for (int f = 0; f < count; f++) {
      const double over = planes[f].a * p[0] + planes[f].b * p[1] + planes[f].c * p[2] - planes[f].d;
      if (over <= 0.0)
        continue;
      const double along = planes[f].a * mean[0] + planes[f].b * mean[1] + planes[f].c * mean[2];
      if (!(along > 1e-6))
        return false;
      back = std::max(back, over / along);
    }
    // A hair more than needed, so that rounding to float leaves the corner behind its planes.
    back = back > 0.0 ? back + 1e-6 : 0.0;
    grown.verts[v] = Vec3(float(p[0] - mean[0] * back), float(p[1] - mean[1] * back), float(p[2] - mean[2] * back));
  }
  for (int f = 0; f < count; f++) {
    TracePolygon& face = grown.polys[f];
    face.plane = planes[f];
    face.bounds.clear();
    Vec3 area;
    for (int k = 0; k < face.numEdges; k++) {
      const Vec3& p0 = grown.verts[grown.edgeStart(face.edges[k])];
      const Vec3& p1 = grown.verts[grown.edgeStart(face.edges[(k + 1) % face.numEdges])];
      area += p0.cross(p1);
      face.bounds.addPoint(p0);
    }
    if (!(area.dot(planes[f].normal()) > 0.0f))
      return false;  // the face turned over: shrunk past its size
  }
  return true;
}

}  // namespace

void TraceModel::expand(float inset) {
  const int count = numPolys;
  // A single polygon (or none) bounds no volume: its moved plane alone would give an endless face.
  if (count < 4)
    return;
  Plane planes[kMaxPolys];
  for (int i = 0; i < count; i++) {
    planes[i] = polys[i].plane;
    planes[i].d -= inset * planes[i].normal().lengthSqr();
  }
  TraceModel grown;
  if (!growExact(planes, count, type, grown) && !growInPlace(*this, planes, count, grown))
    return;
  // Every corner behind or on every moved plane, or the model stays as it was.
  for (int v = 0; v < grown.numVerts; v++)
    for (int i = 0; i < count; i++)
      if (planes[i].distance(grown.verts[v]) > 1e-4f * (1.0f + std::fabs(planes[i].d)))
        return;
  grown.type = type;
  grown.bounds = Bounds::fromVertices(grown.verts, grown.numVerts);
  grown.offset = offset;
  grown.computeEdgeNormals();
  *this = grown;
}

void TraceModel::split(const Plane& plane, float epsilon, TraceModel* front, TraceModel* back) const {
  if (front)
    front->clear(kTrmCleared);
  if (back)
    back->clear(kTrmCleared);
  Plane facePlanes[kMaxPolys];
  for (int i = 0; i < numPolys; i++)
    facePlanes[i] = polys[i].plane;
  ConvexPolygon section;
  section.fromPlane(plane, 131072.0f);
  ConvexPolygon kept;
  for (int i = 0; i < numPolys && section.numPoints > 0; i++) {
    section.split(nullptr, &kept, facePlanes[i], 0.001f);
    section = kept;
  }
  if (section.numPoints == 0) {
    float mn, mx;
    if (!projectionBounds(plane.normal(), mn, mx, epsilon))
      return;
    if (mn >= plane.d) {
      if (front)
        *front = *this;
    } else if (mx <= plane.d) {
      if (back)
        *back = *this;
    }
    return;
  }
  if (front) {
    ConvexPolygon rev;
    section.reversed(rev);
    front->addPolygon(rev);
  }
  if (back)
    back->addPolygon(section);
  for (int f = 0; f < numPolys; f++) {
    ConvexPolygon corners, fp, bp;
    getPolygon(f, corners);
    corners.split(&fp, &bp, plane, epsilon);
    if (front && fp.numPoints > 0)
      front->addPolygon(fp);
    if (back && bp.numPoints > 0)
      back->addPolygon(bp);
  }
  if (front)
    front->buildEdgeNormals();
  if (back)
    back->buildEdgeNormals();
}

bool TraceModel::projectionBounds(const Vec3& dir, float& outMin, float& outMax, float epsilon) const {
  if (numVerts == 0) {
    outMin = 1.0f;
    outMax = -1.0f;
    return false;
  }
  if (type == kTrmBox) {
    const Vec3 c = bounds.center();
    const Vec3 e = bounds.maxs - c;
    const float centre = c.dot(dir);
    const float ext = std::fabs(dir.x * e.x) + std::fabs(dir.y * e.y) + std::fabs(dir.z * e.z) + epsilon;
    outMin = centre - ext;
    outMax = centre + ext;
    return true;
  }
  float mn = verts[0].dot(dir), mx = mn;
  for (int i = 1; i < numVerts; i++) {
    const float d = verts[i].dot(dir);
    mn = std::min(mn, d);
    mx = std::max(mx, d);
  }
  outMin = mn - epsilon;
  outMax = mx + epsilon;
  return true;
}

float TraceModel::planeContact(const Plane& plane, Vec3& outPoint) const {
  if (numVerts == 0)
    return 4096.0f;
  int best = 0;
  float bestDist = plane.distance(verts[0]);
  for (int i = 1; i < numVerts; i++) {
    const float d = plane.distance(verts[i]);
    if (std::fabs(d) < std::fabs(bestDist)) {
      bestDist = d;
      best = i;
    }
  }
  Vec3 sum;
  int near = 0;
  for (int i = 0; i < numVerts; i++) {
    if (std::fabs(plane.distance(verts[i])) < 0.1f) {
      sum += verts[i];
      near++;
    }
  }
  outPoint = near ? sum * (1.0f / float(near)) : verts[best];
  return bestDist;
}

bool TraceModel::clipSegment(const Vec3& start, const Vec3& end, TraceSegmentHit& out) const {
  if (numPolys == 0)
    return false;
  float enter = -1.0f, leave = 1.0f;
  bool startsOutside = false;
  Plane hit = polys[0].plane;
  for (int f = 0; f < numPolys; f++) {
    const Plane& p = polys[f].plane;
    const float d1 = p.distance(start), d2 = p.distance(end);
    if (d1 > 0.0f) {
      startsOutside = true;
      if (d2 >= kSegmentEpsilon || d2 >= d1)
        return false;
    }
    if (d1 <= 0.0f && d2 <= 0.0f)
      continue;
    if (d1 > d2) {
      float f1 = (d1 - kSegmentEpsilon) / (d1 - d2);
      if (f1 < 0.0f)
        f1 = 0.0f;
      if (f1 > enter) {
        enter = f1;
        hit = p;
      }
    } else {
      float f1 = (d1 + kSegmentEpsilon) / (d1 - d2);
      if (f1 > 1.0f)
        f1 = 1.0f;
      if (f1 < leave)
        leave = f1;
    }
  }
  if (startsOutside) {
    if (enter < leave && enter > -1.0f && enter <= 1.0f) {
      out.fraction = std::max(enter, 0.0f);
      out.plane = hit;
      out.point = start + (end - start) * out.fraction;
      return true;
    }
    return false;
  }
  out.fraction = 0.0f;
  out.point = start;
  out.plane = hit;
  return true;
}
