// The all-pairs form of the tangent weld of deriveNormalsAndTangents: every
// unmerged vertex scans every other vertex in index order. The library uses a
// hash grid with the same visiting order; tests and the benchmark compare the
// two bit for bit.
#pragma once

#include <cstring>
#include <vector>

#include "lib/interface/renderinterface.h"
#include "lib/matrix.h"

namespace tangent_reference {

inline Vec3 pos(const DrawVertex& v) {
  return {v.xyz[0], v.xyz[1], v.xyz[2]};
}
inline Vec3 nrm(const DrawVertex& v) {
  return {v.normal[0], v.normal[1], v.normal[2]};
}

inline void deriveNormalsAndTangentsQuadratic(DrawVertex* vertices, int vertexCount, const int* indices,
                                              int indexCount, bool useVertexNormals) {
  std::vector<Vec3> acc(size_t(vertexCount) * 3);
  for (int t = 0; t + 2 < indexCount; t += 3) {
    const int* idx = indices + t;
    bool valid = true;
    for (int k = 0; k < 3; k++)
      valid = valid && idx[k] >= 0 && idx[k] < vertexCount;
    if (!valid)
      continue;
    const DrawVertex &a = vertices[idx[0]], &b = vertices[idx[1]], &c = vertices[idx[2]];
    Plane plane;
    const Mat3 frame = triangleTangents(pos(a), pos(b), pos(c), Vec2(a.st[0], a.st[1]),
                                        Vec2(b.st[0], b.st[1]), Vec2(c.st[0], c.st[1]), &plane);
    for (int k = 0; k < 3; k++) {
      const Mat3 f = useVertexNormals ? tangentFrame(frame, plane, nrm(vertices[idx[k]])) : frame;
      for (int r = 0; r < 3; r++)
        acc[size_t(idx[k]) * 3 + size_t(r)] += f.rows[r];
    }
  }
  std::vector<int> rep(size_t(vertexCount), -1);
  for (int i = 0; i < vertexCount; i++) {
    if (rep[size_t(i)] >= 0)
      continue;
    for (int j = 0; j < vertexCount; j++) {
      if (j == i || rep[size_t(j)] >= 0)
        continue;
      if (!pos(vertices[i]).compare(pos(vertices[j]), 0.001f))
        continue;
      if (useVertexNormals) {
        if (acc[size_t(i) * 3].dot(acc[size_t(j) * 3]) < -0.1f)
          continue;
        if (acc[size_t(i) * 3 + 1].dot(acc[size_t(j) * 3 + 1]) < -0.1f)
          continue;
        if (!nrm(vertices[i]).compare(nrm(vertices[j]), 0.00001f))
          continue;
      }
      for (int r = 0; r < 3; r++)
        acc[size_t(i) * 3 + size_t(r)] += acc[size_t(j) * 3 + size_t(r)];
      rep[size_t(j)] = i;
    }
  }
  auto store = [](float* d, const Vec3& v) {
    d[0] = v.x;
    d[1] = v.y;
    d[2] = v.z;
  };
  for (int v = 0; v < vertexCount; v++) {
    if (rep[size_t(v)] >= 0)
      continue;
    Mat3 f(acc[size_t(v) * 3], acc[size_t(v) * 3 + 1], acc[size_t(v) * 3 + 2]);
    f.orthoNormalize();
    store(vertices[v].tangents[0], f.rows[0]);
    store(vertices[v].tangents[1], f.rows[1]);
    store(vertices[v].normal, f.rows[2]);
  }
  for (int v = 0; v < vertexCount; v++) {
    int r = rep[size_t(v)];
    if (r < 0)
      continue;
    while (rep[size_t(r)] >= 0)
      r = rep[size_t(r)];
    std::memcpy(vertices[v].tangents, vertices[r].tangents, sizeof(vertices[v].tangents));
    std::memcpy(vertices[v].normal, vertices[r].normal, sizeof(vertices[v].normal));
  }
}

// A grid mesh of quads whose vertices are duplicated per quad (as exporters
// write them), with mirrored texture coordinates on every other column and
// bumpy heights so frames differ.
inline void makeSeamMesh(int quadsX, int quadsY, std::vector<DrawVertex>& verts, std::vector<int>& idx) {
  verts.clear();
  idx.clear();
  for (int y = 0; y < quadsY; y++) {
    for (int x = 0; x < quadsX; x++) {
      const int base = int(verts.size());
      for (int c = 0; c < 4; c++) {
        const int cx = x + (c == 1 || c == 2), cy = y + (c >= 2);
        DrawVertex v{};
        v.xyz[0] = float(cx);
        v.xyz[1] = float(cy);
        v.xyz[2] = 0.25f * float((cx * 7 + cy * 3) % 5);
        const bool mirror = (x & 1) != 0;
        v.st[0] = (mirror ? -1.0f : 1.0f) * float(cx) * 0.125f;
        v.st[1] = float(cy) * 0.125f;
        v.normal[2] = 1.0f;
        verts.push_back(v);
      }
      const int q[6] = {0, 1, 2, 0, 2, 3};
      for (int k : q)
        idx.push_back(base + k);
    }
  }
}

}  // namespace tangent_reference
