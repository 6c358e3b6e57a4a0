// How models reach materials: through the declaration manager's interface only, so the model code
// works (with null materials) in builds and tests that carry no declaration manager.
#pragma once

#include "lib/interface/declsystem.h"
#include "render/material/material.h"

// The material of a declaration resource, or null when it is none (or when no material kind is
// installed, so the manager hands out placeholders that are no Material).
// Through the material library's own check, which also keeps that library's objects (and the
// static object installing the material kind) in every program that links models.
inline Material* modelMaterialFromDecl(DeclResource* resource) {
  return Material::fromDecl(resource);
}

// A material by name (a default material when it does not exist); null without a manager.
inline Material* findModelMaterial(const char* name) {
  if (!g_declSystem || !name)
    return nullptr;
  return modelMaterialFromDecl(g_declSystem->findMaterial(name, true));
}

// Parses the material when its declaration is not parsed yet.
inline void ensureModelMaterialLoaded(Material* material) {
  if (material && g_declSystem && material->getState() == kDeclUnparsed)
    g_declSystem->declByIndex(kDeclMaterial, material->getIndex(), false);
}
