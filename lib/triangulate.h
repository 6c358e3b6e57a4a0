// Ear-cutting triangulation of a simple planar polygon, convex or not, in
// either winding, with a retry from every start vertex and a text dump of a
// failed outline for debugging.
#pragma once

#include <cstdio>
#include <vector>

#include "lib/list.h"
#include "lib/matrix.h"
#include "lib/vector.h"

class Triangulator {
 public:
  Triangulator() = default;
  Triangulator(const Triangulator&) = delete;
  Triangulator& operator=(const Triangulator&) = delete;

  // Starts a new outline in the plane of the given normal.
  void init(const Vec3& normal);
  void addPoint(const Vec3& p);
  void addPoint(float x, float y, float z) { addPoint(Vec3(x, y, z)); }
  // True with the triangles in indices(), wound like the outline; fewer than 3
  // points, or no start vertex that yields ears, give false.
  bool triangulate();
  // The outline and the last result as OBJ-like text; nothing without a file
  // or an outline.
  void dumpFailure(std::FILE* file) const;

  const List<int>& indices() const { return indices_; }
  const List<Vec3>& points() const { return points_; }
  const Mat3& basis() const { return basis_; }
  bool wasReversed() const { return reversed_; }

 private:
  struct Node {
    int index;
    float x, y;
    bool isEar;
    Node* next;
    Node* prev;
  };

  void buildRing(int start);
  int run();
  void markEars();
  bool diagonal(const Node* a, const Node* b) const;
  bool diagonalFree(const Node* a, const Node* b) const;
  bool degenerate(int i, int j, int k) const;

  Mat3 basis_;
  std::vector<Node> outline_;  // the ring as given
  std::vector<Node> nodes_;    // the working ring's storage
  Node* head_ = nullptr;
  int ringCount_ = 0;
  List<Vec3> points_{16};
  List<int> indices_{16};
  bool reversed_ = false;
};
