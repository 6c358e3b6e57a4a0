// SurfaceBuilder: the renderer's immediate-mode geometry. 2D drawing, debug lines and polygons are
// built vertex by vertex (or in blocks) into one large SurfaceGeometry and drawn through the back
// end. Two GPU vertex buffers alternate from one primitive to the next, so a buffer is never
// rewritten while the previous primitive may still draw from it. Main thread only.
#pragma once

#include "lib/interface/rendermodelsystem.h"
#include "lib/vector.h"

class ConvexPolygon;
class Material;

class SurfaceBuilder {
 public:
  static constexpr int kMaxVerts = 16384;
  static constexpr int kMaxIndexes = 16384;

  enum Mode { kIdle = 0, kLines = 1, kQuads = 2, kTriangles = 3 };

  // All storage at once, and both buffers when a render device exists.
  SurfaceBuilder();
  virtual ~SurfaceBuilder();
  SurfaceBuilder(const SurfaceBuilder&) = delete;
  SurfaceBuilder& operator=(const SurfaceBuilder&) = delete;

  // False while a primitive is open, or for a mode other than lines, quads or triangles.
  bool begin(int mode);
  // Appends the current vertex at a position and the indexes it completes. A vertex that would
  // overflow the vertex or index storage is dropped (callers ask hasRoom first) with a warning.
  void vertex(float x, float y, float z);
  void vertexV(const Vec3& v) { vertex(v.x, v.y, v.z); }
  // The vertex becomes the current one and is appended.
  void vertexFull(const DrawVertex& v);
  void texCoord(float s, float t);
  void color(const float rgba[4]) { colorF(rgba[0], rgba[1], rgba[2], rgba[3]); }
  // Each channel times 255, clamped to 0..255 (NaN gives 0).
  void colorF(float r, float g, float b, float a);
  void colorBytes(uint8_t r, uint8_t g, uint8_t b, uint8_t a);
  void normal(const Vec3& n);
  void normal(float x, float y, float z) { normal(Vec3(x, y, z)); }
  void tangentFrame(const Vec3& normal, const Vec3& tangent0, const Vec3& tangent1);
  // First tangent, second tangent, normal.
  void setFrame(const float frame[9]);
  // A whole block, or nothing when it does not fit (or an index lies outside the block).
  bool appendGeometry(const DrawVertex* verts, int numVerts, const int* indexes, int numIndexes);
  // Lines: one line per edge, the closing edge first; triangles: a fan of the polygon. False in
  // other modes or when it does not fit.
  bool appendPolygon(const ConvexPolygon& polygon);
  bool hasRoom(int numVerts, int numIndexes) const;
  // Closes the primitive and uploads its vertices into the current buffer.
  void end();
  // Null while a primitive is open.
  SurfaceGeometry* getGeometry();
  ModelSurface& getDrawSurface(ModelSurface& out, Material* material);
  // Draws the closed primitive through the back end; lines mode draws in line polygon mode.
  void draw(int mode);
  void drawFilled();
  void setLineWidth(float width);

  int mode() const { return mode_; }
  const DrawVertex& current() const { return current_; }
  const Vec3& viewOrigin() const { return viewOrigin_; }
  int currentBuffer() const { return currentBuffer_; }
  VertexBufferHandle* buffer(int index) const { return buffers_[index & 1]; }

 private:
  // Index count that one more vertex would add in the current mode.
  int indexesForNextVertex() const;
  void appendCurrent();
  void drawGeometry(bool withProgram);

  DrawVertex current_ = {};
  DrawVertex* vertices_;
  int* indexes_;
  int* edgeNumbers_;
  Plane* planes_;
  int mode_ = kIdle;
  Vec3 viewOrigin_;
  float lineWidth_ = 0.0f;
  VertexBufferHandle* buffers_[2] = {nullptr, nullptr};
  int currentBuffer_ = 0;
  SurfaceGeometry geometry_;
  bool warnedFull_ = false;
};
