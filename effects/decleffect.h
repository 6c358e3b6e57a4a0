// Effect declarations ("effect" blocks of ".fx" files in "effects"): the segment records the
// runtime reads, the particle attribute ranges and envelopes, and the random draws within them.
// The runtime never parses; it only reads what DeclEffect::parse left here. Main thread only.
#pragma once

#include <cstdint>

#include "lib/interface/declsystem.h"
#include "lib/list.h"
#include "lib/str.h"
#include "lib/vector.h"

class Material;
class RenderModel;
class SoundShader;
class TokenParser;
class DeclEffect;

enum EffectSegmentType : int {
  kSegmentNone = 0,
  kSegmentSprite = 1,
  kSegmentOriented = 2,
  kSegmentModel = 3,
  kSegmentLine = 4,
  kSegmentLinked = 5,
  kSegmentDecal = 6,
  kSegmentSound = 7,
  kSegmentLight = 8,
  kSegmentView = 9,  // shake, tunnel, double vision
};

enum ViewEffectKind : int {
  kViewShake = 0,
  kViewDoubleVision = 1,
  kViewTransition = 2,
  kViewBlob = 4,
};

enum NormalSource : int {
  kNormalEffect = 0,
  kNormalCenter = 1,
  kNormalOrigin = 2,
  kNormalAbsOrigin = 3,
};

enum SpawnShape : int {
  kShapeLinear = 0,
  kShapeSphere = 1,
  kShapeBox = 2,
  kShapeCylinder = 3,
  kShapeCone = 4,
  kShapeModel = 5,
};

enum TrailType : int {
  kTrailFixed = 0,
  kTrailMotion = 1,
};

enum SegmentFlag : int {
  kSegmentLocked = 0x1,
  kSegmentPersist = 0x2,
  kSegmentFlipNormal = 0x4,
  kSegmentSpawnAtOnce = 0x8,
  kSegmentRadialGravity = 0x10,
  kSegmentRotateRelative = 0x20,
  kSegmentOrbitRelative = 0x40,
  kSegmentNoLooping = 0x80,
  kSegmentConstant = 0x100,
  kSegmentUseSurface = 0x200,
  kSegmentNoStopWait = 0x400,
  kSegmentImpact = 0x1000,
};

// The largest trail a particle keeps.
constexpr int kMaxTrailPoints = 8;

struct FloatRange {
  float min = 0.0f;
  float max = 0.0f;
};

struct IntRange {
  int min = 0;
  int max = 0;
};

// 28 floats; rotate and orbit are pitch, yaw, roll in degrees once a particle is born.
struct ParticleState {
  Vec3 position;
  Vec3 velocity;
  Vec3 acceleration;
  Vec3 friction;
  float gravity = 0.0f;
  Vec3 tint;
  float alpha = 0.0f;
  float width = 0.0f;
  float length = 0.0f;
  Vec3 rotate;
  Vec3 offset;
  Vec3 orbit;
};
static_assert(sizeof(ParticleState) == 28 * sizeof(float), "ParticleState is 28 floats");

struct ParticleStateRange {
  ParticleState min;
  ParticleState max;
};

// One animated attribute: a table looked up over the particle's life (or each second).
struct EffectEnvelope {
  DeclTable* table = nullptr;  // null: no envelope
  float offset = 0.0f;
  float scale = 1.0f;
  bool repeat = false;

  // 0 without a table. An end not after the start gives the end value; a non-finite position 0.
  static float evaluate(const EffectEnvelope& env, float startTime, float endTime, float now);
};

// Indexes of ParticleBlock::motion.
enum MotionEnvelope : int {
  kMotionTint = 0,
  kMotionAlpha = 1,
  kMotionWidth = 2,
  kMotionLength = 3,
  kMotionRotate = 4,  // 3: x, y, z
  kMotionOffset = 7,  // 3
  kMotionOrbit = 10,  // 3
  kMotionCount = 13,
};

struct ImpactAction {
  DeclEffect* effect = nullptr;
  float bounce = 0.0f;
  bool remove = false;
};

struct ParticleBlock {
  int32_t unused = 0;
  FloatRange lifetime;
  int normalSource = kNormalEffect;
  Material* material = nullptr;
  RenderModel* model = nullptr;
  float tiling = 0.0f;
  int flags = 0;
  int shape = kShapeLinear;
  int trailType = kTrailFixed;
  FloatRange trailTime;
  IntRange trailCount;  // each 0..8
  ParticleStateRange startRange;
  ParticleStateRange endRange;
  EffectEnvelope motion[kMotionCount];
  ImpactAction impact;
};

struct ViewBlock {
  int kind = kViewShake;
  FloatRange attenuation;
  bool attenuate = false;
  float scale = 0.0f;
};

struct SoundBlock {
  SoundShader* shader = nullptr;
  FloatRange volume;
  FloatRange freqshift;
  int channel = -1;
};

// Uniform u in [0, 1] from the standard generator, as every draw of the effects makes it.
float effectRandom();
// min + (max - min) * u with a fresh u.
inline float randomInRange(float min, float max) {
  return min + (max - min) * effectRandom();
}

class DeclEffectSegment {
 public:
  DeclEffectSegment(const char* typeWord, const char* name);

  int type = kSegmentNone;
  String name;
  FloatRange start;
  FloatRange duration;
  IntRange count;
  float detail = 0.0f;
  ParticleBlock particles;
  int viewKind = kViewShake;
  FloatRange attenuation;
  bool attenuate = false;
  float scale = 0.0f;
  bool lightFlagA = false;
  bool lightFlagB = false;
  SoundShader* soundShader = nullptr;
  FloatRange volume;
  FloatRange freqshift;
  int soundChannel = 0;

  // Queries of the runtime.
  const ParticleBlock& particleBlock() const { return particles; }
  ViewBlock viewBlock() const { return {viewKind, attenuation, attenuate, scale}; }
  int lightFlags() const { return (lightFlagA ? 1 : 0) | (lightFlagB ? 2 : 0); }
  SoundBlock soundBlock() const { return {soundShader, volume, freqshift, soundChannel}; }
  float randomStart(float u) const { return start.min + (start.max - start.min) * u; }
  float randomDuration(float u) const { return duration.min + (duration.max - duration.min) * u; }
  // Towards zero; held inside the int range so a huge count cannot overflow the conversion.
  int randomCount(float u) const;

  // Loaders (the parser stands inside the segment's body).
  bool loadCommon(TokenParser& parser);
  bool loadLocalAttributes(TokenParser& parser);
  bool loadSound(TokenParser& parser);
  bool loadView(TokenParser& parser);
  bool loadEmitter(TokenParser& parser);
  bool loadDecal(TokenParser& parser);
  bool loadLight(TokenParser& parser);

 private:
  // Reads "{" ... "}" at the parser's position into `out`; false (with the syntax report) otherwise.
  static bool readBody(TokenParser& parser, String& out);
  // Pushes a braced body and reads its local attributes.
  bool loadAttributeBody(TokenParser& parser);
  bool loadStateBlock(const char* text, ParticleStateRange& range);
  bool loadMotionBlock(const char* text);
  bool loadEnvelope(TokenParser& parser, EffectEnvelope& env);
  bool loadEnvelopes(TokenParser& parser, EffectEnvelope* envs, int count);
  bool loadImpactBlock(const char* text);
};

class DeclEffect : public DeclResource {
 public:
  DeclEffect() : segments(16) {}
  ~DeclEffect() override;
  DeclEffect(const DeclEffect&) = delete;
  DeclEffect& operator=(const DeclEffect&) = delete;

  void makeDefault() override;
  bool parse(const char* text, int length) override;
  void freeData() override;

  float getSize() const { return size; }
  int getParseSerial() const { return parseSerial; }
  int numSegments() const { return segments.num(); }
  // No bounds check: callers stay below numSegments.
  DeclEffectSegment* segment(int index) const { return segments[index]; }

  // The resource as an effect; null for any other kind.
  static DeclEffect* fromDecl(DeclResource* resource);

  List<DeclEffectSegment*> segments;
  float size = 0.0f;
  int parseSerial = 0;

 private:
  bool loadEffect(TokenParser& parser);
  void deleteSegments();

  bool parsing_ = false;
};

// Allocator of the declaration kind (installed into g_declKindAllocators by this library).
DeclResource* allocDeclEffect();
// Reached by anything that needs the kind registered (static objects of a library file that nothing
// references are dropped by the linker).
void registerEffectDeclKind();

// Shorthand over g_declSystem; null without a declaration manager.
DeclEffect* findEffect(const char* name, bool makeDefault = true);
