#include "world/mapentities.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "lib/interface/declsystem.h"
#include "lib/interface/rendermodelsystem.h"
#include "lib/interface/spatialsystem.h"
#include "lib/keydict.h"
#include "lib/str.h"

namespace {

int keyInt(const KeyDict& d, const char* key, const char* def) {
  return std::atoi(d.getString(key, def));
}
float keyFloat(const KeyDict& d, const char* key, const char* def) {
  return float(std::atof(d.getString(key, def)));
}

}  // namespace

int parseModelEntity(const KeyDict& dict, RenderEntity& out) {
  out = RenderEntity();
  const char* model = dict.getString("model", "");
  if (*model && g_renderModelSystem)
    out.model = g_renderModelSystem->findOrLoadModel(model);
  const char* skin = dict.getString("skin", "");
  if (*skin && g_declSystem)
    out.skin = g_declSystem->findSkin(skin, true);
  const char* shader = dict.getString("shader", "");
  if (*shader && g_declSystem)
    out.customMaterial = reinterpret_cast<Material*>(g_declSystem->findMaterial(shader, true));
  dict.getVec3("origin", "0 0 0", out.origin);
  if (!dict.getMat3("rotation", "1 0 0 0 1 0 0 0 1", out.axis)) {
    Vec3 angles;
    dict.getVec3("angles", "0 0 0", angles);
    out.axis = (angles == Vec3(0, 0, 0)) ? Mat3::identity() : Angles(angles.x, angles.y, angles.z).toMat3();
  }
  Vec3 color;
  dict.getVec3("color", "1 1 1", color);
  out.shaderParms[0] = color.x;
  out.shaderParms[1] = color.y;
  out.shaderParms[2] = color.z;
  out.shaderParms[3] = keyFloat(dict, "shaderParm3", "1");
  for (int i = 4; i < 12; ++i) {
    char key[16];
    std::snprintf(key, sizeof(key), "shaderParm%d", i);
    out.shaderParms[i] = keyFloat(dict, key, "0");
  }
  const int noShadows = keyInt(dict, "noshadows", "0");
  out.noShadows = noShadows != 0;
  out.bounds.clear();
  if (out.model)
    out.model->getBounds(out.bounds, &out);
  return noShadows;
}

void parseLightEntity(const KeyDict& dict, MapLight& out) {
  out = MapLight();
  if (!dict.getVec3("light_origin", "", out.origin))
    dict.getVec3("origin", "", out.origin);
  const char* type = dict.getString("typeName", "volumeLight");
  out.kind = String::icmp(type, "volumeFog") == 0 ? 2 : 1;
  const char* shape = dict.getString("shape", "Box");
  struct Shape {
    const char* name;
    int value;
  };
  static const Shape kShapes[] = {{"Off", 2}, {"Box", 2}, {"Cube", 2}, {"Sphere", 1}, {"Cylinder", 3}, {"Cone", 4}};
  out.shape = 2;
  for (const Shape& s : kShapes)
    if (String::icmp(shape, s.name) == 0)
      out.shape = s.value;
  dict.getVec3("light_center", "0 0 0", out.center);
  if (!dict.getVec3("radius", "300 300 300", out.radius)) {
    float r = keyFloat(dict, "light", "300");
    out.radius = Vec3(r, r, r);
  }
  if (!dict.getMat3("light_rotation", "1 0 0 0 1 0 0 0 1", out.axis) &&
      !dict.getMat3("rotation", "1 0 0 0 1 0 0 0 1", out.axis)) {
    Vec3 a;
    if (!dict.getVec3("angles", "0", a))
      a = Vec3(0, keyFloat(dict, "angle", "0"), 0);
    Angles angles(a.x, a.y, a.z);
    angles.normalize360();
    out.axis = angles.toMat3();
  }
  for (int i = 0; i < 3; ++i)
    out.axis[i].normalize();
  dict.getVec3("color", "1 1 1", out.color);
  struct Flag {
    const char* key;
    const char* def;
    int bit;
  };
  static const Flag kFlags[] = {{"emitAmbient", "0", 0x01},  {"emitShadows", "1", 0x02}, {"emitSpecular", "1", 0x04},
                                {"emitParallel", "0", 0x08}, {"allDynamic", "0", 0x10},  {"staticSource", "0", 0x20},
                                {"useShadowMap", "0", 0x40}};
  for (const Flag& f : kFlags)
    if (keyInt(dict, f.key, f.def) != 0)
      out.flags |= f.bit;
  if (out.kind == 2)
    out.flags = (out.flags & ~0x0E) | 0x01;
  if (out.center == Vec3(0, 0, 0))
    out.flags &= ~0x08;
  char maskName[300];
  std::snprintf(maskName, sizeof(maskName), "_shadowMask_%s", dict.getString("name", ""));
  if (g_renderModelSystem)
    if (RenderModel* stale = g_renderModelSystem->findModel(maskName))
      g_renderModelSystem->freeModel(stale);
  const Vec3& r = out.radius;
  Bounds b;
  if (out.shape == 4) {
    b = Bounds(Vec3(-r.x, -r.y, -r.z), Vec3(r.x, r.y, 0));
    // Zero radii would divide by zero: such a cone has no extent, so its planes stay zero.
    if (r.y != 0.0f && r.z != 0.0f)
      frustumPlanes(out.planes, out.origin, out.axis, 2.0f * std::atan(r.y / r.z) * 57.2957795132f, r.x / r.y, 1.0f,
                    r.z);
  } else {
    b = Bounds(Vec3(-r.x, -r.y, -r.z), r);
    b.toTransformedPlanes(out.planes, out.origin, out.axis);
  }
  b.rotate(out.axis);
  out.bounds = b.translated(out.origin);
}

void parseSpeakerEntity(const KeyDict& dict, SpeakerParams& out) {
  out = SpeakerParams();
  out.parms.minDistance = keyFloat(dict, "s_mindistance", "0");
  out.parms.maxDistance = keyFloat(dict, "s_maxdistance", "0");
  out.parms.volume = keyFloat(dict, "s_volume", "0");
  out.parms.reserved = keyFloat(dict, "s_shakes", "0");  // the shakes slot
  dict.getVec3("origin", "0 0 0", out.origin);
  out.diversity = keyFloat(dict, "s_diversity", "-1");
  out.waitForTrigger = keyInt(dict, "s_waitfortrigger", "0") != 0;
  if (keyInt(dict, "s_omni", "0"))
    out.parms.flags |= 0x10;
  if (keyInt(dict, "s_looping", "0"))
    out.parms.flags |= 0x20;
  if (!keyInt(dict, "s_occlusion", "0"))
    out.parms.flags |= 0x04;
  if (keyInt(dict, "s_global", "0"))
    out.parms.flags |= 0x08;
  if (keyInt(dict, "s_unclamped", "0"))
    out.parms.flags |= 0x80;
  out.parms.soundClass = keyInt(dict, "s_soundClass", "0");
  const char* shader = dict.getString("s_shader", "");
  if (*shader && g_declSystem)
    out.shader = g_declSystem->findSoundShader(shader, true);
}

MapEntities& mapEntities() {
  static MapEntities s_entities;
  return s_entities;
}

void runMapEntityPass(SpatialSystem* world) {
  MapEntities& out = mapEntities();
  out = MapEntities();
  const List<KeyDict*>* list = world ? world->getEntities() : nullptr;
  if (!list)
    return;
  for (const KeyDict* d : *list) {
    const char* cls = d->getString("classname", "");
    if (String::icmp(cls, "light") == 0) {
      out.lights.emplace_back();
      parseLightEntity(*d, out.lights.back());
    } else if (String::icmp(cls, "speaker") == 0) {
      out.speakers.emplace_back();
      parseSpeakerEntity(*d, out.speakers.back());
    } else if (*d->getString("model", "")) {
      out.models.emplace_back();
      parseModelEntity(*d, out.models.back());
    }
  }
}
