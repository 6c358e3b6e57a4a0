// Ear-cutting triangulation on 2D coordinates in the polygon's plane.
#include "lib/triangulate.h"

#include "lib/str.h"

namespace {

struct P2 {
  float x, y;
};

inline int orient(const P2& a, const P2& b, const P2& c) {
  const float v = (c.y - a.y) * (b.x - a.x) - (b.y - a.y) * (c.x - a.x);
  return v > 1e-6f ? 1 : (v < -1e-6f ? -1 : 0);
}

// c on segment ab, for collinear points; ends included.
inline bool between(const P2& a, const P2& b, const P2& c) {
  if (orient(a, b, c) != 0)
    return false;
  if (a.x != b.x)
    return (a.x <= c.x && c.x <= b.x) || (a.x >= c.x && c.x >= b.x);
  return (a.y <= c.y && c.y <= b.y) || (a.y >= c.y && c.y >= b.y);
}

inline bool properIntersect(const P2& a, const P2& b, const P2& c, const P2& d) {
  const int abc = orient(a, b, c), abd = orient(a, b, d), cda = orient(c, d, a), cdb = orient(c, d, b);
  if (abc == 0 || abd == 0 || cda == 0 || cdb == 0)
    return false;
  return ((abc > 0) != (abd > 0)) && ((cda > 0) != (cdb > 0));
}

inline bool intersect(const P2& a, const P2& b, const P2& c, const P2& d) {
  return properIntersect(a, b, c, d) || between(a, b, c) || between(a, b, d) || between(c, d, a) ||
         between(c, d, b);
}

}  // namespace

void Triangulator::init(const Vec3& normal) {
  const float a = 1.5707964f;
  const Mat3 quarter(Vec3(std::cos(a), 0.0f, -std::sin(a)), Vec3(0.0f, 1.0f, 0.0f),
                     Vec3(std::sin(a), 0.0f, std::cos(a)));
  // The quarter turn takes the frame's first row (the normal) out of the
  // plane: rows 0 and 1 span the plane, row 2 lies along the normal.
  basis_ = quarter * normal.toMat3();
  outline_.clear();
  nodes_.clear();
  head_ = nullptr;
  ringCount_ = 0;
  points_.clear();
  indices_.clear();
  reversed_ = false;
}

void Triangulator::addPoint(const Vec3& p) {
  Node n{};
  n.index = points_.num();
  n.x = p.dot(basis_.rows[0]);
  n.y = p.dot(basis_.rows[1]);
  outline_.push_back(n);
  points_.append(p);
}

void Triangulator::buildRing(int start) {
  const int n = int(outline_.size());
  nodes_.resize(size_t(n));
  for (int i = 0; i < n; i++) {
    nodes_[size_t(i)] = outline_[size_t((start + i) % n)];
    nodes_[size_t(i)].isEar = false;
  }
  for (int i = 0; i < n; i++) {
    nodes_[size_t(i)].next = &nodes_[size_t((i + 1) % n)];
    nodes_[size_t(i)].prev = &nodes_[size_t((i + n - 1) % n)];
  }
  head_ = n > 0 ? &nodes_[0] : nullptr;
  ringCount_ = n;
  reversed_ = false;
  // A clockwise outline would offer false ears in its notches (their
  // diagonals run outside the polygon): turn it round before cutting. The
  // triangles are still emitted in the outline's own winding.
  double area = 0.0;
  for (int i = 0; i < n; i++) {
    const Node& a = nodes_[size_t(i)];
    const Node& b = *a.next;
    area += double(a.x) * double(b.y) - double(b.x) * double(a.y);
  }
  if (area < 0.0) {
    for (Node& v : nodes_)
      std::swap(v.next, v.prev);
    reversed_ = true;
  }
}

bool Triangulator::degenerate(int i, int j, int k) const {
  const Vec3 n = (points_[j] - points_[i]).cross(points_[k] - points_[i]);
  const float sqr = n.lengthSqr();
  return !(sqr > 1.0000001e-6f);
}

bool Triangulator::diagonalFree(const Node* a, const Node* b) const {
  const P2 pa{a->x, a->y}, pb{b->x, b->y};
  const Node* v = head_;
  do {
    const Node* w = v->next;
    if (v != a && w != a && v != b && w != b && intersect(pa, pb, P2{v->x, v->y}, P2{w->x, w->y}))
      return false;
    v = w;
  } while (v != head_);
  return true;
}

bool Triangulator::diagonal(const Node* a, const Node* b) const {
  auto inCone = [](const Node* a, const Node* b) {
    const P2 pa{a->x, a->y}, pb{b->x, b->y};
    const P2 next{a->next->x, a->next->y}, prev{a->prev->x, a->prev->y};
    if (orient(pa, next, prev) < 0)
      return orient(pa, pb, next) < 0 || orient(pb, pa, prev) < 0;
    return orient(pa, pb, prev) > 0 && orient(pb, pa, next) > 0;
  };
  return inCone(a, b) && inCone(b, a) && diagonalFree(a, b);
}

void Triangulator::markEars() {
  for (int attempt = 0; attempt < 2; attempt++) {
    bool any = false;
    Node* v = head_;
    do {
      v->isEar = diagonal(v->prev, v->next);
      any = any || v->isEar;
      v = v->next;
    } while (v != head_);
    if (any || ringCount_ < 4 || attempt == 1)
      return;
    // No ear in this direction: the outline runs the other way round.
    v = head_;
    do {
      Node* next = v->next;
      std::swap(v->next, v->prev);
      v = next;
    } while (v != head_);
    reversed_ = true;
  }
}

int Triangulator::run() {
  int skipped = 0;
  markEars();
  while (ringCount_ > 3) {
    Node* ear = head_;
    while (!ear->isEar) {
      ear = ear->next;
      if (ear == head_)
        return -1;
    }
    Node* prev = ear->prev;
    Node* prev2 = prev->prev;
    Node* next = ear->next;
    Node* next2 = next->next;
    if (degenerate(prev->index, ear->index, next->index)) {
      skipped++;
    } else if (reversed_) {
      indices_.append(next->index);
      indices_.append(ear->index);
      indices_.append(prev->index);
    } else {
      indices_.append(prev->index);
      indices_.append(ear->index);
      indices_.append(next->index);
    }
    prev->isEar = diagonal(prev2, next);
    next->isEar = diagonal(prev, next2);
    prev->next = next;
    next->prev = prev;
    ringCount_--;
    head_ = next;
  }
  Node* h = head_;
  if (degenerate(h->next->index, h->prev->index, h->index)) {
    skipped++;
  } else if (reversed_) {
    indices_.append(h->index);
    indices_.append(h->prev->index);
    indices_.append(h->next->index);
  } else {
    indices_.append(h->next->index);
    indices_.append(h->prev->index);
    indices_.append(h->index);
  }
  return skipped;
}

bool Triangulator::triangulate() {
  indices_.clear();
  const int n = int(outline_.size());
  if (n < 3)
    return false;
  int result = -1;
  for (int attempt = 0; attempt < n; attempt++) {
    indices_.clear();
    buildRing(attempt);
    result = run();
    if (result == 0)
      break;
  }
  nodes_.clear();
  head_ = nullptr;
  ringCount_ = 0;
  if (result < 0)
    indices_.clear();
  return result >= 0;
}

void Triangulator::dumpFailure(std::FILE* file) const {
  if (!file || outline_.empty())
    return;
  std::fputs("g triangulate_failed\n\n", file);
  for (const Node& n : outline_) {
    const Vec3 p = basis_.rows[0] * n.x + basis_.rows[1] * n.y;
    std::fprintf(file, "v %s\n", String::floatArrayToString(&p.x, 3, 5));
  }
  std::fprintf(file, "\nf %d", 1);
  for (size_t i = 2; i <= outline_.size(); i++)
    std::fprintf(file, " %d", int(i));
  std::fputs("\n\n", file);
  std::fputs("g triangulate_shape_result\n\n", file);
  for (int i = 0; i < points_.num(); i++)
    std::fprintf(file, "v %s\n", String::floatArrayToString(&points_[i].x, 3, 5));
  const int base = int(outline_.size()) + 1;
  for (int i = 0; i + 2 < indices_.num(); i += 3)
    std::fprintf(file, "\nf %d %d %d", indices_[i] + base, indices_[i + 1] + base, indices_[i + 2] + base);
  std::fputs("\n\n", file);
}
