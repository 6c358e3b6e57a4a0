// The immediate-mode surface builder and its draw through the back end.
#include "render/model/surfacebuilder.h"

#include <cmath>
#include <cstring>

#include "lib/interface/cmdsystem.h"
#include "lib/list.h"
#include "lib/matrix.h"
#include "lib/polygon.h"
#include "render/backend/renderbackend.h"

namespace {

uint8_t colorChannel(float v) {
  const float scaled = v * 255.0f;
  if (!(scaled > 0.0f))
    return 0;  // negative or NaN
  if (scaled >= 255.0f)
    return 255;
  return uint8_t(scaled);
}

void setVec(float out[3], const Vec3& v) {
  out[0] = v.x;
  out[1] = v.y;
  out[2] = v.z;
}

}  // namespace

SurfaceBuilder::SurfaceBuilder()
    : vertices_(new DrawVertex[kMaxVerts]()),
      indexes_(new int[kMaxIndexes]()),
      edgeNumbers_(new int[kMaxIndexes]()),
      planes_(new Plane[kMaxIndexes / 3]()) {
  geometry_.verts = vertices_;
  geometry_.indexes = indexes_;
  geometry_.edgeOfIndex = edgeNumbers_;
  geometry_.planes = planes_;
  if (g_renderInterface) {
    for (VertexBufferHandle*& buffer : buffers_) {
      buffer = g_renderInterface->createVertexBuffer();
      // Sized once for the whole storage; every primitive streams into it.
      if (buffer)
        g_renderInterface->uploadVertexBuffer(buffer, nullptr, kMaxVerts * int(sizeof(DrawVertex)), false);
    }
  }
  geometry_.vertexBuffer = buffers_[currentBuffer_];
}

SurfaceBuilder::~SurfaceBuilder() {
  if (g_renderInterface) {
    g_renderInterface->freeVertexBuffer(&buffers_[0]);
    g_renderInterface->freeVertexBuffer(&buffers_[1]);
  }
  geometry_.vertexBuffer = nullptr;
  geometry_.link.remove();
  delete[] vertices_;
  delete[] indexes_;
  delete[] edgeNumbers_;
  delete[] planes_;
}

bool SurfaceBuilder::begin(int mode) {
  if (mode_ != kIdle || mode < kLines || mode > kTriangles)
    return false;
  mode_ = mode;
  geometry_.bounds.clear();
  currentBuffer_ ^= 1;
  geometry_.vertexBuffer = buffers_[currentBuffer_];
  geometry_.facetsValid = 0;
  geometry_.numVerts = 0;
  geometry_.numIndexes = 0;
  warnedFull_ = false;
  viewOrigin_ = Vec3();
  if (g_renderInterface) {
    Mat4 modelView;
    g_renderInterface->getModelViewMatrix(&modelView);
    modelView.inverse();
    viewOrigin_ = Vec3(modelView[12], modelView[13], modelView[14]);
  }
  return true;
}

int SurfaceBuilder::indexesForNextVertex() const {
  const int n = geometry_.numVerts + 1;
  switch (mode_) {
    case kLines:
      return n % 2 == 0 ? 3 : 0;
    case kQuads:
      return n % 4 == 0 ? 6 : 0;
    case kTriangles:
      return 1;
    default:
      return 0;
  }
}

void SurfaceBuilder::appendCurrent() {
  const int adds = indexesForNextVertex();
  if (geometry_.numVerts + 1 > kMaxVerts || geometry_.numIndexes + adds > kMaxIndexes) {
    if (!warnedFull_)
      cmdPrintf("WARNING: SurfaceBuilder: storage full, vertices dropped\n");
    warnedFull_ = true;
    return;
  }
  vertices_[geometry_.numVerts++] = current_;
  const int n = geometry_.numVerts;
  geometry_.bounds.addPoint(Vec3(current_.xyz[0], current_.xyz[1], current_.xyz[2]));
  int* out = indexes_ + geometry_.numIndexes;
  switch (mode_) {
    case kLines:
      if (adds) {
        out[0] = n - 2;
        out[1] = n - 1;
        out[2] = n - 2;
      }
      break;
    case kQuads:
      if (adds) {
        out[0] = n - 4;
        out[1] = n - 3;
        out[2] = n - 2;
        out[3] = n - 4;
        out[4] = n - 2;
        out[5] = n - 1;
      }
      break;
    case kTriangles:
      out[0] = n - 1;
      break;
    default:
      break;
  }
  geometry_.numIndexes += adds;
}

void SurfaceBuilder::vertex(float x, float y, float z) {
  current_.xyz[0] = x;
  current_.xyz[1] = y;
  current_.xyz[2] = z;
  appendCurrent();
}

void SurfaceBuilder::vertexFull(const DrawVertex& v) {
  current_ = v;
  appendCurrent();
}

void SurfaceBuilder::texCoord(float s, float t) {
  current_.st[0] = s;
  current_.st[1] = t;
}

void SurfaceBuilder::colorF(float r, float g, float b, float a) {
  current_.color[0] = colorChannel(r);
  current_.color[1] = colorChannel(g);
  current_.color[2] = colorChannel(b);
  current_.color[3] = colorChannel(a);
}

void SurfaceBuilder::colorBytes(uint8_t r, uint8_t g, uint8_t b, uint8_t a) {
  current_.color[0] = r;
  current_.color[1] = g;
  current_.color[2] = b;
  current_.color[3] = a;
}

void SurfaceBuilder::normal(const Vec3& n) { setVec(current_.normal, n); }

void SurfaceBuilder::tangentFrame(const Vec3& n, const Vec3& tangent0, const Vec3& tangent1) {
  setVec(current_.normal, n);
  setVec(current_.tangents[0], tangent0);
  setVec(current_.tangents[1], tangent1);
}

void SurfaceBuilder::setFrame(const float frame[9]) {
  std::memcpy(current_.tangents[0], frame, 3 * sizeof(float));
  std::memcpy(current_.tangents[1], frame + 3, 3 * sizeof(float));
  std::memcpy(current_.normal, frame + 6, 3 * sizeof(float));
}

bool SurfaceBuilder::hasRoom(int numVerts, int numIndexes) const {
  if (numVerts < 0 || numIndexes < 0)
    return false;
  return geometry_.numVerts + int64_t(numVerts) <= kMaxVerts &&
         geometry_.numIndexes + int64_t(numIndexes) <= kMaxIndexes;
}

bool SurfaceBuilder::appendGeometry(const DrawVertex* verts, int numVerts, const int* indexes, int numIndexes) {
  if (!hasRoom(numVerts, numIndexes) || (numVerts > 0 && !verts) || (numIndexes > 0 && !indexes))
    return false;
  for (int i = 0; i < numIndexes; i++) {
    if (indexes[i] < 0 || indexes[i] >= numVerts)
      return false;
  }
  const int base = geometry_.numVerts;
  for (int i = 0; i < numIndexes; i++)
    indexes_[geometry_.numIndexes++] = indexes[i] + base;
  for (int i = 0; i < numVerts; i++) {
    vertices_[geometry_.numVerts++] = verts[i];
    geometry_.bounds.addPoint(Vec3(verts[i].xyz[0], verts[i].xyz[1], verts[i].xyz[2]));
  }
  return true;
}

bool SurfaceBuilder::appendPolygon(const ConvexPolygon& polygon) {
  const int n = polygon.numPoints;
  if (mode_ == kLines) {
    // Two vertices and one degenerate triangle per edge.
    if (n < 2 || !hasRoom(2 * n, 3 * n) || geometry_.numVerts % 2 != 0)
      return false;
    for (int i = 0; i < n; i++) {
      vertexV(polygon[(i + n - 1) % n]);
      vertexV(polygon[i]);
    }
    return true;
  }
  if (mode_ == kTriangles) {
    List<int> tris;
    polygon.triangulate(tris);
    if (!hasRoom(tris.num(), tris.num()))
      return false;
    for (int index : tris) {
      if (index >= 0 && index < n)
        vertexV(polygon[index]);
    }
    return true;
  }
  return false;
}

void SurfaceBuilder::end() {
  mode_ = kIdle;
  if (g_renderInterface && geometry_.vertexBuffer && geometry_.numVerts > 0)
    g_renderInterface->updateVertexBuffer(geometry_.vertexBuffer, vertices_,
                                          geometry_.numVerts * int(sizeof(DrawVertex)));
}

SurfaceGeometry* SurfaceBuilder::getGeometry() { return mode_ == kIdle ? &geometry_ : nullptr; }

ModelSurface& SurfaceBuilder::getDrawSurface(ModelSurface& out, Material* material) {
  out.material = material;
  out.geometry = getGeometry();
  out.id = -1;
  return out;
}

void SurfaceBuilder::drawGeometry(bool withProgram) {
  ModelSurface surface = {nullptr, &geometry_, -1};
  DrawSurface ds;
  ds.surface = &surface;
  ds.vertexBuffer = geometry_.vertexBuffer;
  ds.indexes = reinterpret_cast<const unsigned*>(indexes_);
  ds.numIndexes = geometry_.numIndexes;
  g_renderBackEnd.setDrawSurface(&ds);
  ShaderInterface* shaders = g_renderInterface->getShaderInterface();
  const int program = withProgram && shaders ? g_renderBackEnd.unlitProgram() : -1;
  if (program >= 0) {
    // The vertex colour passes through: colour x 1 + 0.
    static const float kOne[4] = {1.0f, 1.0f, 1.0f, 1.0f};
    static const float kZero[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    shaders->bind(program);
    shaders->setEnvParam(program, kProgramParamColorModulate, kOne);
    shaders->setEnvParam(program, kProgramParamColorAdd, kZero);
  }
  if (g_renderBackEnd.beginSurfacePolygonOffset()) {
    g_renderInterface->drawTriangles(ds.indexes, ds.numIndexes);
    g_renderBackEnd.endSurfacePolygonOffset();
  }
  if (program >= 0)
    shaders->unbindAll();
  g_renderBackEnd.setDrawSurface(nullptr);
}

void SurfaceBuilder::draw(int mode) {
  if (mode_ != kIdle || geometry_.numVerts == 0 || geometry_.numIndexes == 0 || !g_renderInterface)
    return;
  g_renderInterface->setPolygonMode(mode == kLines ? kPolygonLine : kPolygonFill);
  drawGeometry(true);
  g_renderInterface->setPolygonMode(kPolygonFill);
}

void SurfaceBuilder::drawFilled() {
  if (mode_ != kIdle || geometry_.numVerts == 0 || geometry_.numIndexes == 0 || !g_renderInterface)
    return;
  drawGeometry(false);
}

void SurfaceBuilder::setLineWidth(float width) {
  lineWidth_ = width;
  if (g_renderInterface)
    g_renderInterface->setLineWidth(width);
}
