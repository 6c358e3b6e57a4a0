// In-world interfaces: every entity surface in view whose material names a gui shows that
// interface, placed on the surface and drawn at the view's time.
#include "render/scene/guisurfaces.h"

#include "lib/interface/userinterfacesystem.h"
#include "render/backend/renderbackend.h"
#include "render/material/material.h"
#include "render/model/basemodel.h"
#include "render/scene/rendermanager.h"

bool buildGuiSurfaceMatrix(Mat4* out, const Mat4& model, const SurfaceGeometry* g, float size[2]) {
  if (out == nullptr || g == nullptr || g->verts == nullptr || g->numVerts <= 0) {
    return false;
  }
  const DrawVertex& first = g->verts[0];
  const Vec3 u(first.tangents[0][0], first.tangents[0][1], first.tangents[0][2]);
  const Vec3 v(first.tangents[1][0], first.tangents[1][1], first.tangents[1][2]);
  const Vec3 n(first.normal[0], first.normal[1], first.normal[2]);
  float minU = 1e30f, maxU = -1e30f, minV = 1e30f, maxV = -1e30f;
  Vec3 center;
  for (int i = 0; i < g->numVerts; ++i) {
    const Vec3 p(g->verts[i].xyz[0], g->verts[i].xyz[1], g->verts[i].xyz[2]);
    const float du = p.dot(u);
    const float dv = p.dot(v);
    minU = du < minU ? du : minU;
    maxU = du > maxU ? du : maxU;
    minV = dv < minV ? dv : minV;
    maxV = dv > maxV ? dv : maxV;
    center += p;
  }
  center = center * (1.0f / float(g->numVerts));
  const float eu = maxU - minU;
  const float ev = maxV - minV;
  const Vec3 origin = center - u * (eu * 0.5f) + v * (ev * 0.5f) + n * 0.125f;
  *out = Mat4::multiply(Mat4::multiply(Mat4::fromAxes(u, v, n), Mat4::translate(origin)), model);
  if (size != nullptr) {
    size[0] = eu;
    size[1] = ev;
  }
  return true;
}

void RenderManager::drawInWorldGuis() {
  const RenderView& view = view_;
  for (const List<DrawSurface>& list : sortLists_) {
    for (const DrawSurface& ds : list) {
      const RenderEntity* entity = ds.entity;
      Material* material = ds.material;
      if (entity == nullptr || material == nullptr || ds.surface == nullptr) {
        continue;
      }
      const int index = material->guiEntity;
      UserInterface* gui = index >= 0 && index < 3 ? static_cast<UserInterface*>(entity->guis[index]) : material->gui;
      if (gui == nullptr) {
        continue;
      }
      if ((entity->suppressInViewId && entity->suppressInViewId == view.viewId) ||
          (entity->allowOnlyInViewId && entity->allowOnlyInViewId != view.viewId) || !surfaceInFrustum(ds)) {
        continue;
      }
      Mat4 matrix;
      float size[2];
      if (!buildGuiSurfaceMatrix(&matrix, g_renderBackEnd.viewState().modelView, ds.surface->geometry, size)) {
        continue;
      }
      // The interface covers the surface: its width along u, its height along v.
      gui->drawOnSurface(view.time, matrix, size[0], size[1]);
    }
  }
}
