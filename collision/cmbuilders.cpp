// Collision model builders: model 1 from a trace model, models from surfaces the game module hands
// in and from render models, and trace models from collision or render models.
#include <cmath>
#include <cstring>

#include "collision/cmmanager.h"

namespace {

// A render-surface normal made regular: snapped to eighths, normalised, denormals zeroed, exactly
// axial where it lies on an axis. True when it came out axial.
bool regularNormal(Vec3& n) {
  n.snap(8.0f);
  n.normalize();
  for (int k = 0; k < 3; k++)
    if (std::fabs(n[k]) < 1e-30f)
      n[k] = 0.0f;
  for (int k = 0; k < 3; k++) {
    const int o1 = (k + 1) % 3, o2 = (k + 2) % 3;
    if (n[o1] == 0.0f && n[o2] == 0.0f && n[k] != 0.0f) {
      n[k] = n[k] > 0.0f ? 1.0f : -1.0f;
      return true;
    }
    if (n[k] == 1.0f || n[k] == -1.0f) {
      n[o1] = n[o2] = 0.0f;
      return true;
    }
  }
  return false;
}

bool addUniquePlane(List<Plane>& planes, const Plane& p) {
  for (int i = 0; i < planes.num(); i++)
    if (planes[i].normal().compare(p.normal(), 1e-5f) && std::fabs(planes[i].d - p.d) <= 0.001f)
      return false;
  planes.append(p);
  return true;
}

Vec3 vertexPosition(const DrawVertex& v) {
  return Vec3(v.xyz[0], v.xyz[1], v.xyz[2]);
}

// The triangle of the three indexes at `corners` into the vertices; false when one of them lies
// outside the vertices.
bool indexedTriangle(const DrawVertex* vertices, int numVertices, const int* corners, ConvexPolygon& tri) {
  for (int k = 0; k < 3; k++)
    if (corners[k] < 0 || corners[k] >= numVertices)
      return false;
  tri.numPoints = 3;
  for (int k = 0; k < 3; k++)
    tri.points[k] = vertexPosition(vertices[corners[k]]);
  return true;
}

// Builds trm (type 9) from the planes; false when a face was refused or fewer than 4 planes.
bool traceModelFromPlanes(TraceModel& trm, const List<Plane>& planes) {
  trm.clear(kTrmConvex);
  if (planes.num() < 4)
    return false;
  Vec3 centres;
  for (int i = 0; i < planes.num(); i++) {
    ConvexPolygon p;
    cm::planePolygon(p, planes[i], planes.ptr(), planes.num());
    centres += p.center();
    if (!trm.addPolygon(p))
      return false;
  }
  trm.buildEdgeNormals();
  trm.offset = centres * (1.0f / float(planes.num()));
  return true;
}

}  // namespace

int CollisionManager::setTraceModel(const TraceModel& trm, Material* material) {
  // Model 1 is the one rebuilt: make sure it exists.
  while (models_.num() < 2) {
    cmModel_t* m = new cmModel_t;
    m->index = models_.num();
    m->name = "empty";
    models_.append(m);
  }
  cmModel_t& m = *models_[1];
  if (!material)
    material = cm::materials().find("_tracemodel");
  String name;
  name.format("%d", trm.type);
  m.name = name;
  m.bounds = trm.bounds;
  m.contents = cm::materialContents(material);
  m.clearPrimitives();
  m.checkCounter = 0;
  CollisionBrush* brush = new CollisionBrush;
  brush->checkIndex = m.checkCounter++;
  brush->material = material;
  brush->trm = trm;
  brush->trm.bounds = trm.bounds.expanded(1.0f);
  brush->trm.type = kTrmConvex;
  m.brushes.append(brush);
  m.bounds.addBounds(brush->trm.bounds);
  buildRootNode(m, m.bounds);
  if (m.leafs.num() == 2) {
    for (int leaf = 0; leaf < 2; leaf++) {
      for (int i = 0; i < m.brushes.num(); i++) {
        ClipShape shape;
        shape.setBrush(m.brushes[i]);
        m.leafs[leaf].addShape(shape);
        m.leafs[leaf].contents |= shape.contents;
      }
    }
  } else {
    for (int i = 0; i < m.brushes.num(); i++)
      m.insertBrush(0, m.brushes[i], m.brushes[i]->trm, 0);
  }
  m.computeBounds(0);
  return 1;
}

bool CollisionManager::traceModelFromModel(const char* name, TraceModel& out) {
  if (!name)
    return false;
  const int index = findOrLoadModel(name);
  if (index > 0 && models_[index]->brushes.num() > 0) {
    out = models_[index]->brushes[0]->trm;
    out.type = kTrmConvex;
    Vec3 sum;
    for (int i = 0; i < out.numVerts; i++)
      sum += out.verts[i];
    out.offset = out.numVerts ? sum * (1.0f / float(out.numVerts)) : Vec3();
    return true;
  }
  CollisionRenderModels* rm = g_collisionRenderModels;
  if (!rm)
    return false;
  const void* renderModel = rm->load(name);
  if (!renderModel)
    return false;
  CollisionMaterialAccess& materials = cm::materials();
  const int numSurfaces = rm->numSurfaces(renderModel);
  CollisionRenderSurface surf;
  int startSurface = 0;
  for (int i = 0; i < numSurfaces; i++) {
    if (rm->surface(renderModel, i, surf) && surf.material &&
        (materials.surfaceFlags(surf.material) & kSurfaceFlagCollision)) {
      startSurface = i;
      break;
    }
  }
  int chosen = -1;
  for (int i = startSurface; i < numSurfaces && chosen < 0; i++) {
    if (rm->surface(renderModel, i, surf) && surf.material &&
        (materials.contents(surf.material) & kContentsClipMask) && surf.numIndexes / 3 < 129)
      chosen = i;
  }
  List<Plane> planes;
  bool tooMany = false;
  if (chosen >= 0 && rm->surface(renderModel, chosen, surf)) {
    for (int t = 0; t + 2 < surf.numIndexes && !tooMany; t += 3) {
      ConvexPolygon tri;
      if (!indexedTriangle(surf.vertices, surf.numVertices, surf.indexes + t, tri))
        continue;
      Plane p = tri.plane();
      Vec3 n = p.normal();
      if (n == Vec3())
        continue;
      if (regularNormal(n)) {
        const float rounded = std::floor(p.d + 0.5f);
        if (std::fabs(p.d - rounded) <= 0.001f)
          p.d = rounded;
      }
      p.setNormal(n);
      addUniquePlane(planes, p);
      tooMany = planes.num() > 16;
    }
  }
  if (chosen < 0 || planes.num() == 0 || tooMany) {
    planes.setNum(0);
    const float c = 0.57735026f;
    const Vec3 dirs[7] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {c, c, c}, {c, -c, c}, {c, c, -c}, {c, -c, -c}};
    for (int i = 0; i < numSurfaces; i++) {
      if (!rm->surface(renderModel, i, surf) || !surf.material ||
          !(materials.contents(surf.material) & kContentsClipMask) || surf.numVertices <= 0)
        continue;
      for (const Vec3& d : dirs) {
        float mn = 1e30f, mx = -1e30f;
        for (int v = 0; v < surf.numVertices; v++) {
          const float x = d.dot(vertexPosition(surf.vertices[v]));
          mn = std::min(mn, x);
          mx = std::max(mx, x);
        }
        addUniquePlane(planes, Plane(-d, -mn));
        addUniquePlane(planes, Plane(d, mx));
      }
    }
  }
  if (!traceModelFromPlanes(out, planes))
    out.setupBox(rm->bounds(renderModel));
  return true;
}

int CollisionManager::createModel(const char* name, List<CollisionSurface*> surfaces) {
  if (!name || surfaces.num() == 0) {
    surfaces.clear();
    return -1;
  }
  for (int i = 0; i < models_.num(); i++) {
    if (models_[i]->name.icmp(name) == 0) {
      surfaces.clear();
      return -i;
    }
  }
  cmModel_t* m = new cmModel_t;
  m->index = models_.num();
  m->name = name;
  models_.append(m);
  for (int s = 0; s < surfaces.num(); s++) {
    const CollisionSurface* surf = surfaces[s];
    if (!surf)
      continue;
    const int contents = cm::materialContents(surf->material);
    if (surf->kind >= 0 && surf->kind <= 2) {
      PolygonSet set;
      for (int t = 0; t + 2 < surf->indexes.num(); t += 3) {
        ConvexPolygon tri;
        if (indexedTriangle(surf->vertices.ptr(), surf->vertices.num(), surf->indexes.ptr() + t, tri))
          set.append(tri);
      }
      set.mergeAll(true, true);
      for (int i = 0; i < set.num(); i++) {
        if (set[i].numPoints < 3)
          continue;
        CollisionPolygon* p = new CollisionPolygon;
        p->checkIndex = m->checkCounter++;
        p->material = surf->material;
        p->winding = set[i];
        p->winding.getBounds(p->bounds);
        p->winding.computePlane(p->plane);
        m->polygons.append(p);
        m->bounds.addBounds(p->bounds);
        m->contents |= contents;
      }
    } else if (surf->kind == 3) {
      const int n = surf->planes.num();
      if (n < 4)
        continue;
      CollisionBrush* brush = new CollisionBrush;
      brush->checkIndex = m->checkCounter++;
      brush->material = surf->material;
      brush->trm.clear(kTrmConvex);
      for (int k = 0; k < n; k++) {
        ConvexPolygon p;
        cm::planePolygon(p, surf->planes[k], surf->planes.ptr(), n);
        if (p.numPoints > 0)
          brush->trm.addPolygon(p);
      }
      // Edge normals and face bounds as every other brush has them: the queries read both.
      brush->trm.buildEdgeNormals();
      if (brush->trm.numPolys == 0) {
        delete brush;
        m->checkCounter--;
        continue;
      }
      m->brushes.append(brush);
      m->bounds.addBounds(brush->trm.bounds);
      m->contents |= contents;
    }
  }
  if (m->polygons.num() > 0 || m->brushes.num() > 0) {
    buildRootNode(*m, m->bounds);
    for (int i = 0; i < m->polygons.num(); i++)
      m->insertPolygon(0, m->polygons[i], m->polygons[i]->winding, 0);
    for (int i = 0; i < m->brushes.num(); i++)
      m->insertBrush(0, m->brushes[i], m->brushes[i]->trm, 0);
    m->computeBounds(0);
  }
  surfaces.clear();
  return m->index;
}

int CollisionManager::modelFromRenderModel(const char* name) {
  CollisionRenderModels* rm = g_collisionRenderModels;
  if (!rm || !name || !rm->isKnown(name))
    return 0;
  const void* renderModel = rm->load(name);
  if (!renderModel || rm->isDefault(renderModel))
    return 0;
  cmModel_t* m = new cmModel_t;
  m->index = models_.num();
  m->name = name;
  m->bounds = rm->bounds(renderModel);
  models_.append(m);
  CollisionMaterialAccess& materials = cm::materials();
  const int passes = rm->isWorldModel(renderModel) ? 2 : 1;
  const int numSurfaces = rm->numSurfaces(renderModel);
  CollisionRenderSurface surf;
  for (int pass = 0; pass < passes && m->polygons.num() == 0 && m->brushes.num() == 0; pass++) {
    for (int s = 0; s < numSurfaces; s++) {
      if (!rm->surface(renderModel, s, surf) || !surf.material)
        continue;
      const bool take = pass == 0 ? (materials.surfaceFlags(surf.material) & kSurfaceFlagCollision) != 0
                                  : (materials.contents(surf.material) & kContentsClipMask) != 0;
      if (!take || surf.numVertices <= 0)
        continue;
      Vec3 normals[16];
      int numNormals = 0;
      bool givenUp = false;
      for (int t = 0; t < surf.numIndexes / 3 && !givenUp; t++) {
        Vec3 n = surf.facePlanes ? surf.facePlanes[t].normal() : Vec3();
        if (!surf.facePlanes) {
          ConvexPolygon tri;
          if (!indexedTriangle(surf.vertices, surf.numVertices, surf.indexes + t * 3, tri))
            continue;
          n = tri.plane().normal();
        }
        if (n == Vec3())
          continue;
        regularNormal(n);
        bool known = false;
        for (int k = 0; k < numNormals && !known; k++)
          known = normals[k] == n;
        if (known)
          continue;
        if (numNormals == 16) {
          givenUp = true;
          break;
        }
        normals[numNormals++] = n;
      }
      if (givenUp || numNormals == 0)
        continue;
      m->contents |= materials.contents(surf.material);
      List<Plane> planes;
      for (int k = 0; k < numNormals; k++) {
        float d = -1e30f;
        for (int v = 0; v < surf.numVertices; v++)
          d = std::max(d, normals[k].dot(vertexPosition(surf.vertices[v])));
        planes.append(Plane(normals[k], d));
      }
      CollisionBrush* brush = new CollisionBrush;
      brush->checkIndex = m->checkCounter++;
      brush->material = surf.material;
      brush->trm.clear(kTrmCleared);
      bool refused = false;
      for (int k = 0; k < planes.num() && !refused; k++) {
        ConvexPolygon p;
        cm::planePolygon(p, planes[k], planes.ptr(), planes.num());
        if (p.isTiny(0.2f))
          continue;
        refused = !brush->trm.addPolygon(p);
      }
      if (refused || brush->trm.numPolys == 0) {
        // The check index goes back with the brush: the visited bits are sized by the count.
        delete brush;
        m->checkCounter--;
        continue;
      }
      brush->trm.buildEdgeNormals();
      m->brushes.append(brush);
      m->bounds = brush->trm.bounds;
    }
  }
  if (m->polygons.num() == 0 && m->brushes.num() == 0) {
    models_.removeIndex(models_.num() - 1);
    delete m;
    return 0;
  }
  buildRootNode(*m, m->bounds);
  for (int i = 0; i < m->brushes.num(); i++)
    m->insertBrush(0, m->brushes[i], m->brushes[i]->trm, 0);
  m->computeBounds(0);
  return m->index;
}
