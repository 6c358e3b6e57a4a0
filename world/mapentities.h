// Map entities turned into render and sound descriptions: model entities become RenderEntity
// records, lights MapLight records, speakers SpeakerParams. The engine core's map-entity pass runs
// them over the loaded map and keeps the results in MapEntities until the scene renderer and the
// sound manager take them.
#pragma once

#include <vector>

#include "lib/interface/declsystem.h"
#include "lib/interface/renderentity.h"
#include "lib/matrix.h"
#include "lib/vector.h"

class KeyDict;
class SpatialSystem;

// A light as the scene renderer consumes it.
struct MapLight {
  int kind = 0;   // 1 volume light, 2 fog
  int shape = 0;  // 1 sphere, 2 box, 3 cylinder, 4 cone
  int flags = 0;  // 0x01 ambient, 0x02 shadows, 0x04 specular, 0x08 parallel, 0x10 all dynamic,
                  // 0x20 static source, 0x40 shadow map
  Vec3 origin;
  Vec3 center;
  Vec3 radius;
  Mat3 axis;
  Vec3 color;
  Bounds bounds;
  Plane planes[6];
  int index = -1;  // the light's index: the entity it came from in the prelight pass, -1 before
};


struct SpeakerParams {
  int reserved = 0;
  Vec3 origin;
  SoundShader* shader = nullptr;
  float diversity = 0.0f;
  bool waitForTrigger = false;
  SoundShaderParms parms;
};

// Returns the "noshadows" value.
int parseModelEntity(const KeyDict& dict, RenderEntity& out);
void parseLightEntity(const KeyDict& dict, MapLight& out);
void parseSpeakerEntity(const KeyDict& dict, SpeakerParams& out);

struct MapEntities {
  std::vector<RenderEntity> models;
  std::vector<MapLight> lights;
  std::vector<SpeakerParams> speakers;
};

// What the last map-entity pass produced (empty until a map is loaded).
MapEntities& mapEntities();
// The pass: "light" entities become lights, "speaker" entities speakers, and every other entity
// with a "model" key a model entity.
void runMapEntityPass(SpatialSystem* world);
