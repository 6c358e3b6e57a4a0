// The surface builder on a recording device: indexes per mode, capacity of single vertices and
// blocks, colours, polygons, the alternating buffers and what drawing hands to the device.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "lib/matrix.h"
#include "lib/polygon.h"
#include "render/model/support/modelenv.h"
#include "render/model/surfacebuilder.h"

namespace {

using modeltest::ModelEnv;
using modeltest::RecordingDevice;

class SurfaceBuilderTest : public ModelEnv {
 protected:
  std::vector<int> indexes(SurfaceBuilder& b) {
    SurfaceGeometry* g = b.getGeometry();
    return g ? std::vector<int>(g->indexes, g->indexes + g->numIndexes) : std::vector<int>{};
  }
  RecordingDevice device_;
};

TEST_F(SurfaceBuilderTest, IndexesFollowTheMode) {
  struct Case {
    const char* what;
    int mode;
    int vertices;
    std::vector<int> expect;
  };
  const Case cases[] = {
      {"lines: three vertices give one line", SurfaceBuilder::kLines, 3, {0, 1, 0}},
      {"lines: the fourth adds the second", SurfaceBuilder::kLines, 4, {0, 1, 0, 2, 3, 2}},
      {"quads: five vertices give one quad and a pending vertex", SurfaceBuilder::kQuads, 5, {0, 1, 2, 0, 2, 3}},
      {"quads: eight give two", SurfaceBuilder::kQuads, 8, {0, 1, 2, 0, 2, 3, 4, 5, 6, 4, 6, 7}},
      {"triangles: one index per vertex", SurfaceBuilder::kTriangles, 4, {0, 1, 2, 3}},
  };
  SurfaceBuilder b;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(b.begin(c.mode));
    EXPECT_EQ(b.getGeometry(), nullptr) << "no geometry while a primitive is open";
    for (int i = 0; i < c.vertices; i++)
      b.vertex(float(i), float(i * 2), 0.0f);
    b.end();
    EXPECT_EQ(indexes(b), c.expect);
    EXPECT_EQ(b.getGeometry()->numVerts, c.vertices);
    EXPECT_EQ(b.getGeometry()->bounds, Bounds(Vec3(0, 0, 0), Vec3(float(c.vertices - 1), float(2 * c.vertices - 2), 0)));
  }
}

TEST_F(SurfaceBuilderTest, BeginRefusesAnOpenPrimitiveAndBuffersAlternate) {
  SurfaceBuilder b;
  ASSERT_NE(b.buffer(0), nullptr);
  ASSERT_NE(b.buffer(1), nullptr);
  EXPECT_FALSE(b.begin(0));
  EXPECT_FALSE(b.begin(4));
  ASSERT_TRUE(b.begin(SurfaceBuilder::kTriangles));
  VertexBufferHandle* first = b.buffer(b.currentBuffer());
  b.vertex(1, 2, 3);
  EXPECT_FALSE(b.begin(SurfaceBuilder::kLines)) << "the open primitive stays";
  EXPECT_EQ(b.mode(), SurfaceBuilder::kTriangles);
  b.vertex(4, 5, 6);
  b.vertex(7, 8, 9);
  b.end();
  EXPECT_EQ(b.getGeometry()->vertexBuffer, first);
  // The vertices went into the primitive's buffer.
  const std::vector<uint8_t>& data = device_.contents[first];
  ASSERT_GE(data.size(), 3 * sizeof(DrawVertex));
  DrawVertex last;
  std::memcpy(&last, data.data() + 2 * sizeof(DrawVertex), sizeof(last));
  EXPECT_EQ(last.xyz[2], 9.0f);

  ASSERT_TRUE(b.begin(SurfaceBuilder::kTriangles));
  EXPECT_NE(b.buffer(b.currentBuffer()), first) << "the next primitive writes the other buffer";
  b.end();
  ASSERT_TRUE(b.begin(SurfaceBuilder::kTriangles));
  EXPECT_EQ(b.buffer(b.currentBuffer()), first);
  b.end();
}

TEST_F(SurfaceBuilderTest, BlocksFitWholeOrNotAtAll) {
  SurfaceBuilder b;
  std::vector<DrawVertex> verts(SurfaceBuilder::kMaxVerts);
  for (int i = 0; i < SurfaceBuilder::kMaxVerts; i++)
    verts[size_t(i)] = modeltest::vertexAt(float(i), 0, 0);
  ASSERT_TRUE(b.begin(SurfaceBuilder::kTriangles));
  EXPECT_TRUE(b.appendGeometry(verts.data(), SurfaceBuilder::kMaxVerts, nullptr, 0));
  EXPECT_FALSE(b.hasRoom(1, 0));
  EXPECT_FALSE(b.appendGeometry(verts.data(), 1, nullptr, 0));
  b.end();

  ASSERT_TRUE(b.begin(SurfaceBuilder::kTriangles));
  const int tri[3] = {0, 1, 2};
  b.vertex(0, 0, 0);
  ASSERT_TRUE(b.appendGeometry(verts.data(), 3, tri, 3));
  EXPECT_EQ(indexes(b).size(), 0u) << "open";
  const int bad[3] = {0, 1, 3};
  EXPECT_FALSE(b.appendGeometry(verts.data(), 3, bad, 3)) << "an index outside the block";
  const int negative[3] = {0, -1, 2};
  EXPECT_FALSE(b.appendGeometry(verts.data(), 3, negative, 3));
  EXPECT_FALSE(b.appendGeometry(verts.data(), -1, tri, 3));
  b.end();
  EXPECT_EQ(indexes(b), (std::vector<int>{0, 1, 2, 3}));
}

TEST_F(SurfaceBuilderTest, SingleVerticesStopAtTheStorageWithAWarning) {
  SurfaceBuilder b;
  ASSERT_TRUE(b.begin(SurfaceBuilder::kLines));
  // Lines use 3 indexes per 2 vertices: the index storage fills first.
  for (int i = 0; i < SurfaceBuilder::kMaxVerts + 10; i++)
    b.vertex(float(i), 0, 0);
  b.end();
  SurfaceGeometry* g = b.getGeometry();
  EXPECT_LE(g->numIndexes, SurfaceBuilder::kMaxIndexes);
  EXPECT_EQ(g->numIndexes, (SurfaceBuilder::kMaxIndexes / 3) * 3);
  EXPECT_EQ(g->numVerts % 2, 1) << "the vertex whose line did not fit was dropped";
  for (int i = 0; i < g->numIndexes; i++)
    ASSERT_LT(g->indexes[i], g->numVerts);
  EXPECT_NE(cmd_->text.find("WARNING: SurfaceBuilder: storage full"), std::string::npos);

  ASSERT_TRUE(b.begin(SurfaceBuilder::kTriangles));
  for (int i = 0; i < SurfaceBuilder::kMaxVerts + 10; i++)
    b.vertex(float(i), 0, 0);
  b.end();
  EXPECT_EQ(b.getGeometry()->numVerts, SurfaceBuilder::kMaxVerts);
}

TEST_F(SurfaceBuilderTest, ColoursClampAndAttributesGoIntoTheCurrentVertex) {
  SurfaceBuilder b;
  const float nan = std::numeric_limits<float>::quiet_NaN();
  b.colorF(1.0f, 2.0f, -1.0f, nan);
  EXPECT_EQ(b.current().color[0], 255);
  EXPECT_EQ(b.current().color[1], 255);
  EXPECT_EQ(b.current().color[2], 0);
  EXPECT_EQ(b.current().color[3], 0);
  const float half[4] = {0.5f, 0.0f, 0.25f, 1.0f};
  b.color(half);
  EXPECT_EQ(b.current().color[0], 127);
  EXPECT_EQ(b.current().color[2], 63);
  b.colorBytes(1, 2, 3, 4);
  EXPECT_EQ(b.current().color[3], 4);
  const float frame[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  b.setFrame(frame);
  EXPECT_EQ(b.current().tangents[1][1], 1.0f);
  EXPECT_EQ(b.current().normal[2], 1.0f);
  b.texCoord(0.25f, 0.75f);
  ASSERT_TRUE(b.begin(SurfaceBuilder::kTriangles));
  b.vertex(1, 1, 1);
  b.end();
  EXPECT_EQ(b.getGeometry()->verts[0].st[1], 0.75f);
  EXPECT_EQ(b.getGeometry()->verts[0].color[0], 1);
}

TEST_F(SurfaceBuilderTest, PolygonsAsLinesAndTriangles) {
  ConvexPolygon square;
  for (Vec3 p : {Vec3(0, 0, 0), Vec3(1, 0, 0), Vec3(1, 1, 0), Vec3(0, 1, 0)})
    square.points[square.numPoints++] = p;
  SurfaceBuilder b;
  ASSERT_TRUE(b.begin(SurfaceBuilder::kLines));
  ASSERT_TRUE(b.appendPolygon(square));
  b.end();
  SurfaceGeometry* g = b.getGeometry();
  ASSERT_EQ(g->numVerts, 8);
  EXPECT_EQ(g->numIndexes, 12);
  EXPECT_EQ(g->verts[0].xyz[1], 1.0f) << "the first line runs from the last point to the first";
  EXPECT_EQ(g->verts[1].xyz[0], 0.0f);
  EXPECT_EQ(g->verts[1].xyz[1], 0.0f);

  ASSERT_TRUE(b.begin(SurfaceBuilder::kTriangles));
  ASSERT_TRUE(b.appendPolygon(square));
  b.end();
  EXPECT_EQ(b.getGeometry()->numVerts, 6);
  EXPECT_EQ(b.getGeometry()->numIndexes, 6);

  ASSERT_TRUE(b.begin(SurfaceBuilder::kQuads));
  EXPECT_FALSE(b.appendPolygon(square));
  b.end();
}

TEST_F(SurfaceBuilderTest, DrawingHandsTheIndexesToTheDevice) {
  SurfaceBuilder b;
  b.setLineWidth(2500.0f);
  EXPECT_EQ(device_.lineWidth, 2500.0f);
  device_.modelView = Mat4::translate(Vec3(-5, 0, 0));
  ASSERT_TRUE(b.begin(SurfaceBuilder::kLines));
  EXPECT_EQ(b.viewOrigin(), Vec3(5, 0, 0)) << "the eye in model space";
  b.vertex(0, 0, 0);
  b.vertex(1, 0, 0);
  b.draw(SurfaceBuilder::kLines);
  EXPECT_TRUE(device_.draws.empty()) << "nothing is drawn while the primitive is open";
  b.end();
  b.draw(SurfaceBuilder::kLines);
  ASSERT_EQ(device_.draws.size(), 1u);
  EXPECT_EQ(device_.draws[0].indexes, (std::vector<unsigned>{0, 1, 0}));
  EXPECT_EQ(device_.draws[0].polygonMode, kPolygonLine);
  EXPECT_EQ(device_.draws[0].bound, b.getGeometry()->vertexBuffer);
  EXPECT_EQ(device_.polygonMode, kPolygonFill) << "fill again afterwards";
  EXPECT_EQ(device_.bound, nullptr);
  b.drawFilled();
  ASSERT_EQ(device_.draws.size(), 2u);
  EXPECT_EQ(device_.draws[1].polygonMode, kPolygonFill);

  ASSERT_TRUE(b.begin(SurfaceBuilder::kQuads));
  b.vertex(0, 0, 0);
  b.end();
  b.draw(SurfaceBuilder::kQuads);
  EXPECT_EQ(device_.draws.size(), 2u) << "no indexes, no draw";
  ModelSurface surface;
  b.getDrawSurface(surface, nullptr);
  EXPECT_EQ(surface.geometry, b.getGeometry());
  EXPECT_EQ(surface.id, -1);
}

}  // namespace
