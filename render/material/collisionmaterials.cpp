#include "render/material/collisionmaterials.h"

#include "lib/interface/collisionsystem.h"
#include "render/material/material.h"

namespace {

// Declarations are parsed on first use: collision asks before anything drew the material.
Material* loaded(const Material* material) {
  Material* m = const_cast<Material*>(material);
  if (m)
    m->ensureLoaded();
  return m;
}

class MaterialAccess : public CollisionMaterialAccess {
 public:
  Material* find(const char* name) override {
    if (!g_declSystem)
      return nullptr;
    Material* m = Material::fromDecl(g_declSystem->findMaterial(name ? name : "", true));
    return m ? m : Material::fromDecl(g_declSystem->findMaterial(nullptr, true));
  }
  const char* name(const Material* material) override { return material ? material->getName() : ""; }
  // A surface without a material blocks, as collision's own stand-ins do.
  int contents(const Material* material) override {
    const Material* m = loaded(material);
    return m ? int(m->getContentsFlags()) : int(kContentsSolid);
  }
  int surfaceFlags(const Material* material) override {
    const Material* m = loaded(material);
    return m ? int(m->getSurfaceFlags()) : 0;
  }
  int cullType(const Material* material) override {
    const Material* m = loaded(material);
    return m ? m->getCull() : 0;
  }
};

}  // namespace

CollisionMaterialAccess* collisionMaterialAccess() {
  static MaterialAccess s_access;
  return &s_access;
}
