// The sample game's side of the effects (see gamefx.h). The effects live in media/effects/samples.fx,
// their materials in media/materials/effects.mtx.
#include "demo/gamefx.h"

#include <cmath>
#include <cstring>

#include "lib/interface/cmdsystem.h"
#include "lib/interface/collisionsystem.h"
#include "lib/interface/convarsystem.h"
#include "lib/interface/declsystem.h"
#include "lib/interface/effectssystem.h"
#include "lib/interface/gameinterface.h"
#include "lib/interface/renderinterface.h"
#include "lib/interface/rendersystem.h"
#include "lib/interface/renderview.h"
#include "lib/str.h"

namespace demofx {
namespace {

const GameImports* s_imports = nullptr;
ConVar s_only("g_demoEffectsOnly", "", kConVarString, "plays only the sample effect of this name");

float seconds(int milliseconds) {
  return float(milliseconds) / 1000.0f;
}

void print(const char* text) {
  if (s_imports && s_imports->cmdSystem)
    s_imports->cmdSystem->printf("%s", text);
}

// ---- the effects that stand in the scene

struct Slot {
  const char* name;
  Vec3 offset;  // from the centre
  int handle;
  RenderEffectParams params;
};
Slot s_slots[] = {
    {"effects/spray", Vec3(), -1, {}},                        // placed on the wall found from the start
    {"effects/bounce", Vec3(-24.0f, -20.0f, 60.0f), -1, {}},  // falls to the floor and bounces
    {"effects/comet", Vec3(0.0f, 0.0f, 40.0f), -1, {}},       // circles the centre
    {"effects/crates", Vec3(24.0f, 56.0f, 4.0f), -1, {}},     // tumbling models
};
constexpr int kSpray = 0, kComet = 2;
Vec3 s_center;
bool s_inMap = false;
bool s_haveWall = false;
Vec3 s_wallPoint;
Mat3 s_wallAxis;  // forward out of the wall

// ---- the trigger: a box ahead of the player start that jolts the view when the player walks in

Bounds s_trigger;
bool s_haveTrigger = false;
bool s_inTrigger = false;
int s_jolt = -1;
RenderEffectParams s_joltParams;

// ---- impact effects: a few at once, the oldest gives way

constexpr int kMaxImpacts = 8;
struct Impact {
  int handle = -1;
  RenderEffectParams params;
};
Impact s_impacts[kMaxImpacts];
int s_nextImpact = 0;
int s_lastImpactMs = -100000;
bool s_reportedBounce = false;

// ---- view effects, in game milliseconds

int s_nowMs = 0;
struct Timed {
  int startMs = 0, endMs = 0;
  float strength = 0.0f;
  // 1 at the start, falling to 0 at the end; 0 when not running.
  float left() const {
    if (s_nowMs >= endMs || endMs <= startMs)
      return 0.0f;
    return float(endMs - s_nowMs) / float(endMs - startMs);
  }
};
Timed s_shake, s_tunnel, s_double;
bool s_oddFrame = false;
Vec3 s_viewOrigin;

RenderEffectParams makeParams(const char* name, const Vec3& origin, float startSeconds, bool looping) {
  RenderEffectParams p;
  p.decl = s_imports->effectsSystem->findEffect(name);
  p.origin = origin;
  p.gravity = Vec3(0.0f, 0.0f, -1.0f);
  p.startTime = startSeconds;
  p.draw = true;
  p.looping = looping;
  for (int i = 0; i < 3; i++)
    p.shaderParms[i] = 1.0f;
  return p;
}

EffectsSystem* effects() {
  return s_imports ? s_imports->effectsSystem : nullptr;
}

// A point trace through the map's world model; without a map the fixed scene's floor at z = 0.
bool trace(const Vec3& start, const Vec3& end, TraceResult& out) {
  CollisionSystem* collision = s_imports ? s_imports->collisionSystem : nullptr;
  std::memset(static_cast<void*>(&out), 0, sizeof(out));
  out.fraction = 1.0f;
  out.endPos = end;
  if (s_inMap && collision) {
    collision->translation(&out, start, end, nullptr, Mat3::identity(), kContentsClipMask, 0, Vec3(),
                           Mat3::identity());
    return out.fraction < 1.0f;
  }
  if (start.z >= 0.0f && end.z < 0.0f) {
    out.fraction = start.z / (start.z - end.z);
    out.endPos = start + (end - start) * out.fraction;
    out.endPos.z = 0.125f;
    out.contact.normal = Vec3(0.0f, 0.0f, 1.0f);
    return true;
  }
  return false;
}

void startSlots(float now) {
  EffectsSystem* fx = effects();
  for (int i = 0; i < int(sizeof(s_slots) / sizeof(s_slots[0])); i++) {
    Slot& slot = s_slots[i];
    if (slot.handle >= 0 || !plays(slot.name))
      continue;
    if (i == kSpray && !s_haveWall)
      continue;
    slot.params = makeParams(slot.name, s_center + slot.offset, now, true);
    if (i == kSpray) {
      slot.params.origin = s_wallPoint;
      slot.params.axis = s_wallAxis;
    }
    slot.handle = fx->addEffect(slot.params);
  }
}

void stepTrigger(int milliseconds, const Vec3& player) {
  EffectsSystem* fx = effects();
  if (s_jolt >= 0 && fx->updateEffect(s_jolt, s_joltParams, milliseconds)) {
    fx->freeEffect(s_jolt);
    s_jolt = -1;
  }
  if (!s_haveTrigger || !plays("effects/jolt"))
    return;
  const bool inside = s_trigger.containsPoint(player);
  if (inside && !s_inTrigger) {
    if (s_jolt >= 0)
      fx->freeEffect(s_jolt);
    s_joltParams = makeParams("effects/jolt", s_trigger.center(), seconds(milliseconds), false);
    s_jolt = fx->addEffect(s_joltParams);
    print("sample game: the player walked into the trigger\n");
  }
  s_inTrigger = inside;
}

void stepImpacts(int milliseconds) {
  EffectsSystem* fx = effects();
  for (Impact& impact : s_impacts) {
    if (impact.handle >= 0 && fx->updateEffect(impact.handle, impact.params, milliseconds)) {
      fx->freeEffect(impact.handle);
      impact.handle = -1;
    }
  }
}

void releaseAll(bool free) {
  EffectsSystem* fx = effects();
  auto release = [&](int& handle) {
    if (free && fx && handle >= 0)
      fx->freeEffect(handle);
    handle = -1;
  };
  for (Slot& slot : s_slots)
    release(slot.handle);
  for (Impact& impact : s_impacts)
    release(impact.handle);
  release(s_jolt);
}

}  // namespace

void init(const GameImports* imports) {
  s_imports = imports;
  if (s_imports && s_imports->conVarSystem)
    s_imports->conVarSystem->registerVar(&s_only);
}

bool plays(const char* effectName) {
  const char* only = s_only.getString();
  return !only || !*only || String::icmp(only, effectName) == 0;
}

void place(const Vec3& center, const Vec3& start, float yawDegrees, bool inMap) {
  forget();
  s_center = center;
  s_inMap = inMap;
  s_haveWall = false;
  s_haveTrigger = false;
  s_inTrigger = false;
  s_reportedBounce = false;
  if (!inMap)
    return;
  const float yaw = yawDegrees * 0.017453292f;
  const Vec3 forward(std::cos(yaw), std::sin(yaw), 0.0f);
  const Vec3 right(std::sin(yaw), -std::cos(yaw), 0.0f);
  // The wall ahead and to the right of the start, beside any door straight ahead.
  TraceResult r;
  const Vec3 from = start + right * 70.0f + Vec3(0.0f, 0.0f, 12.0f);
  if (trace(from, from + forward * 1024.0f, r)) {
    s_haveWall = true;
    s_wallPoint = r.endPos;
    // The effect faces out of the wall; a decal is sprayed along the negated forward, into it.
    Vec3 out = r.contact.normal;
    out.normalize();
    s_wallAxis = out.toMat3();
    if (s_imports->cmdSystem)
      s_imports->cmdSystem->printf("sample game: scorch marks go on the wall at %.1f %.1f %.1f\n", r.endPos.x,
                                   r.endPos.y, r.endPos.z);
  }
  // A step ahead of the start, as wide as a corridor.
  const Vec3 c = start + forward * 40.0f;
  s_trigger = Bounds(c - Vec3(24.0f, 24.0f, 64.0f), c + Vec3(24.0f, 24.0f, 64.0f));
  s_haveTrigger = true;
}

void step(int milliseconds, bool show, const Vec3& playerOrigin) {
  EffectsSystem* fx = effects();
  if (!fx)
    return;
  s_nowMs = milliseconds;
  if (!show) {
    stop();
    return;
  }
  const float now = seconds(milliseconds);
  startSlots(now);
  // The spark circles the centre, so its strip and trails stay behind it.
  const float angle = float(milliseconds) * 0.002f;
  s_slots[kComet].params.origin =
      s_center + s_slots[kComet].offset + Vec3(48.0f * std::cos(angle), 48.0f * std::sin(angle), 0.0f);
  for (Slot& slot : s_slots)
    if (slot.handle >= 0)
      fx->updateEffect(slot.handle, slot.params, milliseconds);
  stepImpacts(milliseconds);
  stepTrigger(milliseconds, playerOrigin);
}

void forget() {
  releaseAll(false);
  s_shake = s_tunnel = s_double = Timed();
}

void stop() {
  releaseAll(true);
}

void adjustView(RenderView& view) {
  s_viewOrigin = view.origin;
  const float shake = s_shake.left() * s_shake.strength;
  if (shake > 0.0f) {
    // A few units of quick, irregular jolt that dies away.
    const float t = float(s_nowMs) * 0.001f;
    view.origin +=
        Vec3(std::sin(t * 71.0f), std::sin(t * 53.0f + 1.0f), std::sin(t * 89.0f + 2.0f)) * (4.0f * shake);
  }
  const float ghost = s_double.left() * s_double.strength;
  if (ghost > 0.0f) {
    // Double vision: every other frame the eye stands a little to the side, so two images of the
    // scene overlap on the screen.
    s_oddFrame = !s_oddFrame;
    view.origin += view.axis[1] * ((s_oddFrame ? 3.0f : -3.0f) * ghost);
  }
}

void drawOverlays() {
  RenderSystem* render = s_imports ? s_imports->renderSystem : nullptr;
  DeclSystem* decls = s_imports ? s_imports->declSystem : nullptr;
  const float tunnel = s_tunnel.left() * s_tunnel.strength;
  if (!render || !decls || !(tunnel > 0.0f))
    return;
  // The dark rim over the whole screen, its alpha in the vertex colours.
  DrawVertex quad[4];
  const float corners[4][2] = {{0.0f, 0.0f}, {0.0f, 480.0f}, {640.0f, 480.0f}, {640.0f, 0.0f}};
  for (int i = 0; i < 4; i++) {
    std::memset(static_cast<void*>(&quad[i]), 0, sizeof(DrawVertex));
    quad[i].xyz[0] = corners[i][0];
    quad[i].xyz[1] = corners[i][1];
    quad[i].st[0] = corners[i][0] / 640.0f;
    quad[i].st[1] = corners[i][1] / 480.0f;
    // Black, whatever the image holds; only its alpha shapes the rim.
    quad[i].color[3] = uint8_t(255.0f * (tunnel > 1.0f ? 1.0f : tunnel));
  }
  static const int kIndexes[6] = {0, 1, 3, 3, 1, 2};  // wound as the renderer's own 2D quads
  render->drawTriangles2D(quad, kIndexes, 4, 6,
                          reinterpret_cast<Material*>(decls->findMaterial("textures/effects/tunnel")), 1, 0,
                          0, 640, 480);
}

void applyViewEffect(int kind, const char*, float duration, float intensity) {
  // Kind 1 is double vision. Shake and tunnel segments both arrive as kind 0 (the declarations give a
  // tunnel no kind of its own): the sample reads an intensity up to 1 as a shake of that strength and
  // one above 1 as tunnel vision closing in by what exceeds 1.
  Timed* timed = &s_shake;
  float strength = intensity;
  const char* what = "shake";
  if (kind == 1) {
    timed = &s_double;
    what = "double vision";
  } else if (kind == 0 && intensity > 1.0f) {
    timed = &s_tunnel;
    strength = intensity - 1.0f > 1.0f ? 1.0f : intensity - 1.0f;
    what = "tunnel vision";
  } else if (kind != 0) {
    return;
  }
  if (!(duration > 0.0f) || !(strength > 0.0f))
    return;
  timed->startMs = s_nowMs;
  timed->endMs = s_nowMs + int(duration * 1000.0f);
  timed->strength = strength;
  if (s_imports && s_imports->cmdSystem)
    s_imports->cmdSystem->printf("sample game: %s for %.2f s\n", what, duration);
}

void spawnImpactEffect(const DeclEffect* effect, const Vec3& position, const Mat3& axis) {
  EffectsSystem* fx = effects();
  // Bouncing particles hit often: a puff every 60 ms is plenty.
  if (!fx || !effect || s_nowMs - s_lastImpactMs < 60)
    return;
  s_lastImpactMs = s_nowMs;
  Impact& impact = s_impacts[s_nextImpact];
  s_nextImpact = (s_nextImpact + 1) % kMaxImpacts;
  if (impact.handle >= 0)
    fx->freeEffect(impact.handle);
  impact.params = RenderEffectParams();
  impact.params.decl = effect;
  impact.params.origin = position;
  impact.params.axis = axis;
  impact.params.gravity = Vec3(0.0f, 0.0f, -1.0f);
  impact.params.startTime = seconds(s_nowMs);
  impact.params.draw = true;
  for (int i = 0; i < 3; i++)
    impact.params.shaderParms[i] = 1.0f;
  impact.handle = fx->addEffect(impact.params);
}

void getViewOrigin(Vec3* position, float* second) {
  if (position)
    *position = s_viewOrigin;
  if (second)
    *second = 0.0f;
}

void traceParticle(void* traceResult, const Vec3& start, const Vec3& end) {
  auto* out = static_cast<ParticleTraceResult*>(traceResult);
  if (!out)
    return;
  TraceResult r;
  if (!trace(start, end, r)) {
    out->fraction = 1.0f;
    out->endPosition = end;
    return;
  }
  out->fraction = r.fraction;
  out->endPosition = r.endPos;
  out->normal = r.contact.normal;
  if (!s_reportedBounce && s_imports && s_imports->cmdSystem) {
    s_reportedBounce = true;
    s_imports->cmdSystem->printf(
        "sample game: a particle bounced at %.1f %.1f %.1f off a surface facing %.2f %.2f %.2f\n", r.endPos.x,
        r.endPos.y, r.endPos.z, r.contact.normal.x, r.contact.normal.y, r.contact.normal.z);
  }
}

}  // namespace demofx
