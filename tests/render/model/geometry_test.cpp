// The geometry allocator of the model manager: reuse by size from the free lists, separate lists
// for vertex and index-only records, reset of reused records, refused sizes and GPU buffers.
#include <gtest/gtest.h>

#include "render/model/support/modelenv.h"

namespace {

using modeltest::ModelEnv;
using modeltest::RecordingDevice;

constexpr int kVertsAndIndexes = kGeometryVertices | kGeometryIndexes;

class GeometryTest : public ModelEnv {};

TEST_F(GeometryTest, FreedRecordsAreReusedByBestFit) {
  struct Case {
    const char* what;
    std::vector<std::pair<int, int>> freed;  // (verts, indexes), freed in this order
    std::pair<int, int> request;
    int expectTaken;  // index into freed, -1 for a new record
  };
  const Case cases[] = {
      {"smaller in both replaces the first fit", {{12, 36}, {11, 33}}, {10, 30}, 1},
      {"exact fit wins over an earlier larger one", {{12, 36}, {10, 30}, {11, 33}}, {10, 30}, 1},
      {"a later record larger in one count does not replace", {{12, 36}, {11, 40}}, {10, 30}, 0},
      {"too few vertices never fits", {{9, 60}}, {10, 30}, -1},
      {"too few indexes never fits", {{20, 27}}, {10, 30}, -1},
      {"oldest exact fit first", {{10, 30}, {10, 30}}, {10, 30}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<SurfaceGeometry*> records;
    for (auto [v, i] : c.freed)
      records.push_back(manager()->allocSurfaceGeometry(v, i, kVertsAndIndexes));
    for (SurfaceGeometry* g : records)
      manager()->freeSurfaceGeometry(g);
    SurfaceGeometry* got = manager()->allocSurfaceGeometry(c.request.first, c.request.second, kVertsAndIndexes);
    ASSERT_NE(got, nullptr);
    if (c.expectTaken < 0) {
      for (SurfaceGeometry* g : records)
        EXPECT_NE(got, g);
    } else {
      EXPECT_EQ(got, records[size_t(c.expectTaken)]);
    }
    EXPECT_EQ(got->numVerts, c.request.first);
    EXPECT_EQ(got->numIndexes, c.request.second);
    manager()->freeSurfaceGeometry(got);
    manager()->purgeFreeGeometry();
    EXPECT_EQ(manager()->numFreeGeometry(), 0);
  }
}

TEST_F(GeometryTest, ReusedRecordIsResetButKeepsItsBlock) {
  SurfaceGeometry* g = manager()->allocSurfaceGeometry(8, 12, kVertsAndIndexes);
  ASSERT_NE(g, nullptr);
  DrawVertex* block = g->verts;
  g->bounds = Bounds(Vec3(-1, -1, -1), Vec3(1, 1, 1));
  g->closed = 1;
  g->facetsValid = 1;
  g->secondBufferValid = 1;
  g->tag = 7;
  g->lightmap = 3;
  g->numShadowVerts = 5;
  g->noCaps = 1;
  g->edges = new GeometryEdge[2]{};
  g->numEdges = 2;
  manager()->freeSurfaceGeometry(g);
  EXPECT_EQ(g->edges, nullptr) << "freeing drops the edges at once";
  EXPECT_EQ(g->numEdges, 0);

  SurfaceGeometry* again = manager()->allocSurfaceGeometry(6, 9, kVertsAndIndexes);
  ASSERT_EQ(again, g);
  EXPECT_EQ(again->verts, block);
  EXPECT_TRUE(again->bounds.isCleared());
  EXPECT_EQ(again->closed, 0);
  EXPECT_EQ(again->facetsValid, 0);
  EXPECT_EQ(again->secondBufferValid, 0);
  EXPECT_EQ(again->tag, -1);
  EXPECT_EQ(again->lightmap, -1);
  EXPECT_EQ(again->numShadowVerts, 0);
  EXPECT_EQ(again->noCaps, 0);
  EXPECT_EQ(again->numVerts, 6);
  EXPECT_EQ(again->numIndexes, 9);
  // The arrays are laid out by the block's size: writing the whole capacity stays inside it.
  for (int i = 0; i < again->blockIndexes; i++)
    again->indexes[i] = again->edgeOfIndex[i] = i;
  for (int i = 0; i < again->blockIndexes / 3; i++)
    again->planes[i] = Plane(0, 0, 1, float(i));
  manager()->freeSurfaceGeometry(again);
}

TEST_F(GeometryTest, IndexOnlyRecordsKeepAListOfTheirOwn) {
  SurfaceGeometry* indexOnly = manager()->allocSurfaceGeometry(10, 30, kGeometryIndexes);
  ASSERT_NE(indexOnly, nullptr);
  EXPECT_EQ(indexOnly->verts, nullptr);
  EXPECT_EQ(indexOnly->indexes, nullptr);
  ASSERT_NE(indexOnly->reserveVerts, nullptr);
  ASSERT_NE(indexOnly->reserveIndexes, nullptr);
  EXPECT_EQ(indexOnly->reserveVertCount, 10);
  EXPECT_EQ(indexOnly->reserveIndexCount, 30);
  EXPECT_EQ(indexOnly->reserveIndexCount2, 30);
  EXPECT_EQ(indexOnly->reserveIndexCount3, 30);
  manager()->freeSurfaceGeometry(indexOnly);

  SurfaceGeometry* normal = manager()->allocSurfaceGeometry(10, 30, kVertsAndIndexes);
  EXPECT_NE(normal, indexOnly) << "a vertex request must not get an index-only record";
  ASSERT_NE(normal->verts, nullptr);
  manager()->freeSurfaceGeometry(normal);

  SurfaceGeometry* indexAgain = manager()->allocSurfaceGeometry(8, 24, kGeometryIndexes);
  EXPECT_EQ(indexAgain, indexOnly);
  EXPECT_EQ(indexAgain->reserveVertCount, 8);
  EXPECT_EQ(indexAgain->verts, nullptr);
  SurfaceGeometry* normalAgain = manager()->allocSurfaceGeometry(10, 30, kVertsAndIndexes);
  EXPECT_EQ(normalAgain, normal);
  manager()->freeSurfaceGeometry(indexAgain);
  manager()->freeSurfaceGeometry(normalAgain);
  EXPECT_EQ(manager()->numFreeGeometry(), 2);
}

TEST_F(GeometryTest, BadSizesAreRefusedWithAWarning) {
  const std::pair<int, int> sizes[] = {{-1, 0}, {0, -3}, {kGeometryMaxVerts + 1, 0}, {0, kGeometryMaxIndexes + 1},
                                       {-2147483647 - 1, 3}};
  for (int flags : {kVertsAndIndexes, int(kGeometryIndexes)}) {
    for (auto [v, i] : sizes) {
      cmd_->text.clear();
      EXPECT_EQ(manager()->allocSurfaceGeometry(v, i, flags), nullptr) << v << " " << i;
      EXPECT_NE(cmd_->text.find("WARNING: "), std::string::npos);
    }
  }
  SurfaceGeometry* empty = manager()->allocSurfaceGeometry(0, 0, kVertsAndIndexes);
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(empty->numVerts, 0);
  manager()->freeSurfaceGeometry(empty);
}

TEST_F(GeometryTest, GpuBuffersComeWithTheFlagAndStayWithReusedRecords) {
  RecordingDevice device;
  SurfaceGeometry* g = manager()->allocSurfaceGeometry(4, 6, kVertsAndIndexes | kGeometryGpuBuffers);
  ASSERT_NE(g, nullptr);
  EXPECT_NE(g->vertexBuffer, nullptr);
  EXPECT_NE(g->secondBuffer, nullptr);
  EXPECT_EQ(device.created, 2);
  VertexBufferHandle* vb = g->vertexBuffer;
  manager()->freeSurfaceGeometry(g);
  EXPECT_EQ(device.freed, 0) << "a freed record keeps its buffers for the next user";

  SurfaceGeometry* again = manager()->allocSurfaceGeometry(4, 6, kVertsAndIndexes | kGeometryGpuBuffers);
  EXPECT_EQ(again, g);
  EXPECT_EQ(again->vertexBuffer, vb);
  EXPECT_EQ(device.created, 2);
  manager()->freeSurfaceGeometry(again);

  SurfaceGeometry* plain = manager()->allocSurfaceGeometry(100, 300, kVertsAndIndexes);
  EXPECT_EQ(plain->vertexBuffer, nullptr) << "no buffers without flag 4";
  SurfaceGeometry* indexOnly = manager()->allocSurfaceGeometry(3, 3, kGeometryIndexes);
  EXPECT_NE(indexOnly->secondBuffer, nullptr) << "index-only records always get the second buffer";
  EXPECT_EQ(indexOnly->vertexBuffer, nullptr);
  manager()->freeSurfaceGeometry(plain);
  manager()->freeSurfaceGeometry(indexOnly);
  manager()->purgeFreeGeometry();
  EXPECT_EQ(device.live, 0);
  EXPECT_EQ(device.freed, 3);
}

TEST_F(GeometryTest, RecordsOfOtherOwnersAreNeverListed) {
  SurfaceGeometry own;  // as the surface builder keeps one
  own.edges = new GeometryEdge[1]{};
  own.numEdges = 1;
  manager()->freeSurfaceGeometry(&own);
  EXPECT_EQ(own.edges, nullptr);
  EXPECT_EQ(manager()->numFreeGeometry(), 0);
  manager()->purgeFreeGeometry();
}

}  // namespace
