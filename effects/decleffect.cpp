// The effect language: the top level of segment blocks, the common keys every segment reads, the
// per-kind loaders, local attributes, the start/end attribute blocks, motion envelopes and impact
// blocks. Attribute, motion and impact blocks get tokenizers of their own so nesting never passes
// the shared tokenizer's four levels.
#include "effects/decleffect.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "lib/interface/cmdsystem.h"
#include "lib/interface/rendermodelsystem.h"
#include "lib/tokenparser.h"
#include "render/material/material.h"

namespace {

constexpr const char* kSource = "render/effects/decleffect";
constexpr const char* kPunctuation = ",();";
// Effects that name one another as impact effects are parsed inside one another; a chain deeper
// than this leaves the impact effect unresolved instead of exhausting the stack.
constexpr int kMaxNestedParses = 16;

int s_parseCounter = 0;
int s_parseDepth = 0;

struct NameValue {
  const char* name;
  int value;
};

const NameValue kSegmentTypes[] = {
    {"sprite", kSegmentSprite}, {"oriented", kSegmentOriented}, {"model", kSegmentModel},
    {"line", kSegmentLine},     {"linked", kSegmentLinked},     {"decal", kSegmentDecal},
    {"sound", kSegmentSound},   {"light", kSegmentLight},       {"shake", kSegmentView},
    {"tunnel", kSegmentView},   {"doubleVision", kSegmentView}, {nullptr, 0}};
const NameValue kViewKinds[] = {
    {"shake", kViewShake}, {"transition", kViewTransition}, {"doubleVision", kViewDoubleVision},
    {"blob", kViewBlob},   {nullptr, 0}};
const NameValue kNormalSources[] = {{"effect", kNormalEffect},
                                    {"center", kNormalCenter},
                                    {"origin", kNormalOrigin},
                                    {"absorigin", kNormalAbsOrigin},
                                    {nullptr, 0}};
const NameValue kShapes[] = {{"linear", kShapeLinear},     {"sphere", kShapeSphere}, {"box", kShapeBox},
                             {"cylinder", kShapeCylinder}, {"cone", kShapeCone},     {"model", kShapeModel},
                             {nullptr, 0}};
const NameValue kTrailTypes[] = {{"fixed", kTrailFixed}, {"motion", kTrailMotion}, {nullptr, 0}};
const NameValue kChannels[] = {{"CHANNEL_ANY", -1},   {"CHANNEL_LOCAL", 0}, {"CHANNEL_WEAPON", 1},
                               {"CHANNEL_VOICE", 2},  {"CHANNEL_ITEM", 3},  {"CHANNEL_BODY", 4},
                               {"CHANNEL_BODY2", 5},  {nullptr, 0}};

// A word not in the table gives 0.
int lookup(const NameValue* table, const char* word) {
  for (const NameValue* e = table; word && e->name; e++) {
    if (String::icmp(e->name, word) == 0)
      return e->value;
  }
  return 0;
}

bool is(const char* token, const char* word) {
  return String::icmp(token, word) == 0;
}

// atof without the locale: the leading number of the text, 0 when there is none.
float textToFloat(const char* text) {
  if (!text)
    return 0.0f;
  while (*text == ' ' || *text == '\t')
    text++;
  if (*text == '+')
    text++;
  float value = 0.0f;
  const char* end = text + std::strlen(text);
  if (std::from_chars(text, end, value).ec != std::errc())
    return 0.0f;
  return value;
}

void reportError(const char* format, const char* a, const char* b = "") {
  if (g_cmdSystem)
    g_cmdSystem->error(0, format, a, b);
}

bool readRange(TokenParser& parser, FloatRange& range) {
  float v[2];
  if (!parser.parseFloats(v, 2, ',', false))
    return false;
  range.min = v[0];
  range.max = v[1];
  return true;
}

bool readVecRange(TokenParser& parser, Vec3& min, Vec3& max) {
  float v[6];
  if (!parser.parseFloats(v, 6, ',', false))
    return false;
  min = Vec3(v[0], v[1], v[2]);
  max = Vec3(v[3], v[4], v[5]);
  return true;
}

bool readFloat(TokenParser& parser, float& out) {
  return parser.parseFloats(&out, 1, ',', false);
}

// The tokenizer's report for a key that the block does not know.
bool unknownKey(TokenParser& parser, int line) {
  parser.unreadToken();
  parser.expectToken("<EOF>", true, kSource, line);
  return false;
}

// The text between a "{" token and its matching "}" token. Braces count as the tokenizer sees them
// (quoted ones do not), an empty body is a body, and a body that never closes is refused.
bool readBracedBody(TokenParser& parser, String& out) {
  const char* token = parser.nextToken(true);
  if (!token || std::strcmp(token, "{") != 0 || parser.tokenWasQuoted()) {
    if (token)
      parser.unreadToken();
    parser.expectToken("{", true, kSource, __LINE__);
    return false;
  }
  const char* start = parser.textPosition();
  int depth = 1;
  while (depth > 0) {
    token = parser.nextToken(true);
    if (!token) {
      parser.expectToken("}", true, kSource, __LINE__);
      return false;
    }
    if (parser.tokenWasQuoted())
      continue;
    if (std::strcmp(token, "{") == 0)
      depth++;
    else if (std::strcmp(token, "}") == 0)
      depth--;
  }
  const char* end = parser.textPosition() - 1;  // the closing brace
  out = String(start, int(end - start));
  return true;
}

// Pushes a text as a new level with the effect punctuation; false when no level is free.
bool pushLevel(TokenParser& parser, const char* text) {
  if (!parser.pushText(text))
    return false;
  parser.setPunctuation(kPunctuation);
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Random draws and envelopes

float effectRandom() {
  return float(std::rand() & 0x7fff) / 32767.0f;
}

int DeclEffectSegment::randomCount(float u) const {
  const double value = double(count.min) + double(count.max - double(count.min)) * double(u);
  if (!(value > -2147483648.0))
    return count.min < count.max ? count.min : count.max;
  if (value >= 2147483647.0)
    return 2147483647;
  return int(value);
}

float EffectEnvelope::evaluate(const EffectEnvelope& env, float startTime, float endTime, float now) {
  if (!env.table)
    return 0.0f;
  float f;
  if (env.repeat) {
    const double ms = std::trunc((double(now) - double(startTime)) * 1000.0);
    if (!std::isfinite(ms))
      return 0.0f;
    f = float(std::fmod(ms, 1000.0) / 1000.0);
  } else if (!(endTime > startTime)) {
    // A life that ends before it starts has already reached its end value.
    f = 1.0f;
  } else {
    f = (now + 0.008f - startTime) / (endTime - startTime);
  }
  const float x = (env.offset + f) * env.scale;
  if (!std::isfinite(x))
    return 0.0f;
  return env.table->lookup(x);
}

// ---------------------------------------------------------------------------------------------
// Segments

DeclEffectSegment::DeclEffectSegment(const char* typeWord, const char* segmentName) : name(segmentName) {
  type = lookup(kSegmentTypes, typeWord);
  viewKind = lookup(kViewKinds, typeWord);
}

bool DeclEffectSegment::readBody(TokenParser& parser, String& out) {
  return readBracedBody(parser, out);
}

bool DeclEffectSegment::loadCommon(TokenParser& parser) {
  while (const char* token = parser.nextToken(true)) {
    if (is(token, "start")) {
      if (!readRange(parser, start))
        return false;
    } else if (is(token, "soundShader")) {
      const char* shaderName = parser.nextToken(false);
      if (!shaderName) {
        parser.expectToken("<name>", false, kSource, __LINE__);
        return false;
      }
      SoundShader* shader = g_declSystem ? g_declSystem->findSoundShader(shaderName, false) : nullptr;
      if (!shader || shader->getState() == kDeclDefaulted)
        return false;
      soundShader = shader;
    } else if (is(token, "volume")) {
      if (!readRange(parser, volume))
        return false;
    } else if (is(token, "freqshift")) {
      if (!readRange(parser, freqshift))
        return false;
    } else if (is(token, "soundChannel")) {
      const char* word = parser.nextToken(true);
      for (const NameValue* e = kChannels; word && e->name; e++) {
        if (is(word, e->name))
          soundChannel = e->value;
      }
    } else if (is(token, "duration")) {
      if (!readRange(parser, duration))
        return false;
    } else if (is(token, "count")) {
      int v[2];
      if (!parser.parseInts(v, 2, ',', false)) {
        parser.expectToken("<int>", false, kSource, __LINE__);
        return false;
      }
      count.min = v[0];
      count.max = v[1];
    } else if (is(token, "scale")) {
      if (!readFloat(parser, scale))
        return false;
    } else if (is(token, "attenuation")) {
      if (!readRange(parser, attenuation))
        return false;
      attenuate = true;
    } else if (is(token, "detail")) {
      if (!readFloat(parser, detail))
        return false;
    } else if (is(token, "attenuateEmitter")) {
      attenuate = true;
    } else if (is(token, "spawnAtOnce") || is(token, "spawnSimultaneously")) {
      particles.flags |= kSegmentSpawnAtOnce;
    } else if (is(token, "locked")) {
      particles.flags |= kSegmentLocked;
    } else if (is(token, "constant")) {
      particles.flags |= kSegmentConstant | kSegmentSpawnAtOnce;
    } else if (is(token, "noLooping")) {
      particles.flags |= kSegmentNoLooping;
    } else if (is(token, "noStopWait")) {
      particles.flags |= kSegmentNoStopWait;
    } else {
      parser.unreadToken();
      return true;
    }
  }
  return true;
}

bool DeclEffectSegment::loadSound(TokenParser& parser) {
  soundShader = nullptr;
  volume = {};
  freqshift = {};
  soundChannel = -1;
  return loadCommon(parser);
}

bool DeclEffectSegment::loadView(TokenParser& parser) {
  scale = 1.0f;
  attenuate = false;
  return loadCommon(parser);
}

bool DeclEffectSegment::loadAttributeBody(TokenParser& parser) {
  String body;
  if (!readBody(parser, body) || !pushLevel(parser, body.c_str()))
    return false;
  const bool ok = loadLocalAttributes(parser);
  parser.popText();
  return ok;
}

bool DeclEffectSegment::loadEmitter(TokenParser& parser) {
  if (!loadCommon(parser))
    return false;
  const char* kind = parser.nextToken(true);
  if (!kind) {
    parser.expectToken("sprite", true, kSource, __LINE__);
    return false;
  }
  type = lookup(kSegmentTypes, kind);
  return loadAttributeBody(parser);
}

bool DeclEffectSegment::loadDecal(TokenParser& parser) {
  if (!loadCommon(parser) || !parser.expectToken("decal", true, kSource, __LINE__))
    return false;
  return loadAttributeBody(parser);
}

bool DeclEffectSegment::loadLight(TokenParser& parser) {
  particles.flags |= kSegmentConstant;
  lightFlagA = false;
  lightFlagB = false;
  if (!loadCommon(parser) || !parser.expectToken("light", true, kSource, __LINE__))
    return false;
  return loadAttributeBody(parser);
}

bool DeclEffectSegment::loadLocalAttributes(TokenParser& parser) {
  ParticleBlock& p = particles;
  while (const char* token = parser.nextToken(true)) {
    if (is(token, "start") || is(token, "end")) {
      const bool isStart = is(token, "start");
      String body;
      if (!readBody(parser, body))
        return false;
      if (isStart) {
        if (!loadStateBlock(body.c_str(), p.startRange))
          return false;
        p.endRange = p.startRange;
      } else if (!loadStateBlock(body.c_str(), p.endRange)) {
        return false;
      }
    } else if (is(token, "motion")) {
      String body;
      if (!readBody(parser, body) || !loadMotionBlock(body.c_str()))
        return false;
    } else if (is(token, "impact")) {
      String body;
      if (!readBody(parser, body) || !loadImpactBlock(body.c_str()))
        return false;
      p.flags |= kSegmentImpact;
    } else if (is(token, "tiling")) {
      if (!readFloat(parser, p.tiling))
        return false;
    } else if (is(token, "material")) {
      const char* materialName = parser.nextToken(false);
      Material* material = materialName ? findMaterial(materialName, false) : nullptr;
      if (!material || material->getState() == kDeclDefaulted) {
        reportError("DeclEffectSegment::loadLocalAttributes - material not found '%s'\n",
                    materialName ? materialName : "");
        return false;
      }
      p.material = material;
    } else if (is(token, "model")) {
      const char* modelName = parser.nextToken(false);
      if (!modelName) {
        parser.expectToken("<name>", false, kSource, __LINE__);
        return false;
      }
      p.model = g_renderModelSystem ? g_renderModelSystem->findOrLoadModel(modelName) : nullptr;
    } else if (is(token, "duration")) {
      if (!readRange(parser, p.lifetime))
        return false;
      duration.min = std::fmax(duration.min, p.lifetime.min);
      duration.max = std::fmax(duration.max, p.lifetime.max);
    } else if (is(token, "generatedNormal")) {
      p.normalSource = parser.peekTokenOnLine() ? lookup(kNormalSources, parser.nextToken(false)) : 0;
    } else if (is(token, "generatedOriginNormal")) {
      p.normalSource = kNormalOrigin;
    } else if (is(token, "flipNormal")) {
      p.flags |= kSegmentFlipNormal;
    } else if (is(token, "persist")) {
      p.flags |= kSegmentPersist;
    } else if (is(token, "gravity")) {
      FloatRange g;
      if (!readRange(parser, g))
        return false;
      p.startRange.min.gravity = p.endRange.min.gravity = g.min;
      p.startRange.max.gravity = p.endRange.max.gravity = g.max;
    } else if (is(token, "radialGravity")) {
      p.flags |= kSegmentRadialGravity;
    } else if (is(token, "shape")) {
      p.shape = lookup(kShapes, parser.nextToken(false));
    } else if (is(token, "useSurface")) {
      p.flags |= kSegmentUseSurface;
    } else if (is(token, "rotateRelative")) {
      p.flags |= kSegmentRotateRelative;
    } else if (is(token, "orbitRelative")) {
      p.flags |= kSegmentOrbitRelative;
    } else if (is(token, "trailType")) {
      p.trailType = lookup(kTrailTypes, parser.nextToken(false));
    } else if (is(token, "trailTime")) {
      if (!readRange(parser, p.trailTime))
        return false;
    } else if (is(token, "trailCount")) {
      int v[2];
      if (!parser.parseInts(v, 2, ',', false)) {
        parser.expectToken("<int>", false, kSource, __LINE__);
        return false;
      }
      for (int& c : v)
        c = c < 1 ? 0 : (c > 7 ? kMaxTrailPoints : c);
      p.trailCount.min = v[0];
      p.trailCount.max = v[1];
    } else {
      return unknownKey(parser, __LINE__);
    }
  }
  return true;
}

bool DeclEffectSegment::loadStateBlock(const char* text, ParticleStateRange& range) {
  TokenParser parser;
  if (!pushLevel(parser, text))
    return false;
  for (ParticleState* s : {&range.min, &range.max}) {
    s->tint = Vec3(1.0f, 1.0f, 1.0f);
    s->alpha = s->width = s->length = 1.0f;
  }
  ParticleState& lo = range.min;
  ParticleState& hi = range.max;
  while (const char* token = parser.nextToken(true)) {
    bool ok = true;
    if (is(token, "position")) {
      if (parser.checkToken("useEndOrigin")) {
        lo.position = Vec3(1.0f, 1.0f, 1.0f);
        hi.position = Vec3();
      } else {
        ok = readVecRange(parser, lo.position, hi.position);
      }
    } else if (is(token, "velocity")) {
      ok = readVecRange(parser, lo.velocity, hi.velocity);
    } else if (is(token, "acceleration")) {
      ok = readVecRange(parser, lo.acceleration, hi.acceleration);
    } else if (is(token, "friction")) {
      ok = readVecRange(parser, lo.friction, hi.friction);
    } else if (is(token, "tint")) {
      ok = readVecRange(parser, lo.tint, hi.tint);
    } else if (is(token, "alpha") || is(token, "fade")) {
      FloatRange r;
      ok = readRange(parser, r);
      lo.alpha = r.min;
      hi.alpha = r.max;
    } else if (is(token, "width")) {
      FloatRange r;
      ok = readRange(parser, r);
      lo.width = r.min;
      hi.width = r.max;
    } else if (is(token, "length")) {
      if (parser.checkToken("useEndOrigin")) {
        lo.length = 1.0f;
        hi.length = 0.0f;
      } else {
        FloatRange r;
        ok = readRange(parser, r);
        lo.length = r.min;
        hi.length = r.max;
      }
    } else if (is(token, "size")) {
      float v[4];
      ok = parser.parseFloats(v, 4, ',', false);
      if (ok) {
        lo.width = v[0];
        lo.length = v[1];
        hi.width = v[2];
        hi.length = v[3];
      }
    } else if (is(token, "rotate")) {
      ok = readVecRange(parser, lo.rotate, hi.rotate);
    } else if (is(token, "offset")) {
      ok = readVecRange(parser, lo.offset, hi.offset);
    } else if (is(token, "orbit")) {
      ok = readVecRange(parser, lo.orbit, hi.orbit);
    } else {
      return unknownKey(parser, __LINE__);
    }
    if (!ok)
      return false;
  }
  return true;
}

bool DeclEffectSegment::loadEnvelope(TokenParser& parser, EffectEnvelope& env) {
  String body;
  if (!readBody(parser, body) || !pushLevel(parser, body.c_str()))
    return false;
  bool ok = true;
  const char* tableName = parser.nextToken(true);
  DeclTable* table = tableName && g_declSystem ? g_declSystem->findTable(tableName, false) : nullptr;
  if (!table) {
    reportError("DeclEffectSegment::loadEnvelope - table not found '%s'\n", tableName ? tableName : "");
    ok = false;
  } else {
    env = EffectEnvelope();
    env.table = table;
    while (ok) {
      const char* token = parser.nextToken(true);
      if (!token)
        break;
      if (is(token, "scale"))
        ok = readFloat(parser, env.scale);
      else if (is(token, "offset"))
        ok = readFloat(parser, env.offset);
      else if (is(token, "repeat"))
        env.repeat = true;
    }
  }
  parser.popText();
  return ok;
}

bool DeclEffectSegment::loadEnvelopes(TokenParser& parser, EffectEnvelope* envs, int count) {
  if (!loadEnvelope(parser, envs[0]))
    return false;
  for (int i = 1; i < count; i++) {
    const char* token = parser.nextToken(true);
    const bool braced = token && std::strcmp(token, "{") == 0;
    if (token)
      parser.unreadToken();
    if (!braced)
      envs[i] = envs[0];
    else if (!loadEnvelope(parser, envs[i]))
      return false;
  }
  return true;
}

bool DeclEffectSegment::loadMotionBlock(const char* text) {
  TokenParser parser;
  if (!pushLevel(parser, text))
    return false;
  EffectEnvelope* m = particles.motion;
  while (const char* token = parser.nextToken(true)) {
    bool ok;
    if (is(token, "tint") || is(token, "color")) {
      ok = loadEnvelopes(parser, &m[kMotionTint], 1);
    } else if (is(token, "alpha") || is(token, "fade")) {
      ok = loadEnvelopes(parser, &m[kMotionAlpha], 1);
    } else if (is(token, "width")) {
      ok = loadEnvelopes(parser, &m[kMotionWidth], 1);
    } else if (is(token, "length")) {
      ok = loadEnvelopes(parser, &m[kMotionLength], 1);
    } else if (is(token, "size")) {
      // Width and length share one envelope (the second is the first's copy unless braced).
      ok = loadEnvelopes(parser, &m[kMotionWidth], 2);
    } else if (is(token, "rotate")) {
      ok = loadEnvelopes(parser, &m[kMotionRotate], 3);
    } else if (is(token, "offset")) {
      ok = loadEnvelopes(parser, &m[kMotionOffset], 3);
    } else if (is(token, "orbit")) {
      ok = loadEnvelopes(parser, &m[kMotionOrbit], 3);
    } else {
      return unknownKey(parser, __LINE__);
    }
    if (!ok)
      return false;
  }
  return true;
}

bool DeclEffectSegment::loadImpactBlock(const char* text) {
  TokenParser parser;
  if (!pushLevel(parser, text))
    return false;
  ImpactAction& impact = particles.impact;
  impact = ImpactAction();
  while (const char* token = parser.nextToken(true)) {
    if (is(token, "remove")) {
      int value = 0;
      if (!parser.parseInts(&value, 1, ',', false)) {
        parser.expectToken("<int>", false, kSource, __LINE__);
        return false;
      }
      impact.remove = value != 0;
    } else if (is(token, "bounce")) {
      if (!readFloat(parser, impact.bounce))
        return false;
    } else if (is(token, "effect")) {
      const char* effectName = parser.nextToken(true);
      if (!effectName) {
        parser.expectToken("<name>", true, kSource, __LINE__);
        return false;
      }
      if (s_parseDepth < kMaxNestedParses) {
        impact.effect = findEffect(effectName, true);
      } else if (g_cmdSystem) {
        g_cmdSystem->error(0, "WARNING: impact effect '%s' nests too deeply; not resolved\n", effectName);
      }
    } else {
      return unknownKey(parser, __LINE__);
    }
  }
  return true;
}

// ---------------------------------------------------------------------------------------------
// DeclEffect

namespace {

using SegmentLoader = bool (DeclEffectSegment::*)(TokenParser&);
struct LoaderEntry {
  const char* word;
  SegmentLoader loader;
};
const LoaderEntry kLoaders[] = {{"sound", &DeclEffectSegment::loadSound},
                                {"emitter", &DeclEffectSegment::loadEmitter},
                                {"decal", &DeclEffectSegment::loadDecal},
                                {"light", &DeclEffectSegment::loadLight},
                                {"shake", &DeclEffectSegment::loadView},
                                {"tunnel", &DeclEffectSegment::loadView},
                                {"doubleVision", &DeclEffectSegment::loadView}};

// Set while a DeclEffect parses: a parse of the same declaration from inside it (an effect that
// names itself as its impact effect) is refused instead of replacing the list being built.
struct ParseGuard {
  explicit ParseGuard(bool& flag) : flag_(flag) {
    flag_ = true;
    s_parseDepth++;
  }
  ~ParseGuard() {
    flag_ = false;
    s_parseDepth--;
  }
  bool& flag_;
};

}  // namespace

DeclEffect::~DeclEffect() {
  deleteSegments();
}

void DeclEffect::deleteSegments() {
  for (DeclEffectSegment* s : segments)
    delete s;
  segments.clear();
}

void DeclEffect::makeDefault() {
  if (parsing_)
    return;
  deleteSegments();
  DeclResource::makeDefault();
}

void DeclEffect::freeData() {
  if (parsing_)
    return;
  deleteSegments();
}

bool DeclEffect::parse(const char* text, int length) {
  if (parsing_)
    return false;
  // A copy ending at the length or at the text's own end, whichever comes first.
  int n = 0;
  if (text && length > 0) {
    const void* end = std::memchr(text, '\0', size_t(length));
    n = end ? int(static_cast<const char*>(end) - text) : length;
  }
  const String copy(n > 0 ? text : "", n);

  parseSerial = ++s_parseCounter;
  bool ok = false;
  {
    ParseGuard guard(parsing_);
    deleteSegments();
    size = 0.0f;
    TokenParser parser;
    if (pushLevel(parser, copy.c_str()))
      ok = loadEffect(parser);
  }
  if (!ok)
    makeDefault();
  return ok;
}

bool DeclEffect::loadEffect(TokenParser& parser) {
  while (const char* token = parser.nextToken(true)) {
    if (is(token, "size")) {
      size = textToFloat(parser.nextToken(true));
      continue;
    }
    String typeWord(token);
    String segmentName("unnamed");
    if (parser.peekTokenOnLine()) {
      const char* word = parser.nextToken(false);
      if (word && std::strcmp(word, "{") == 0)
        parser.unreadToken();
      else if (word)
        segmentName = word;
    }
    String body;
    if (!readBracedBody(parser, body)) {
      deleteSegments();
      return false;
    }
    DeclEffectSegment* segment = new DeclEffectSegment(typeWord.c_str(), segmentName.c_str());
    segments.append(segment);
    SegmentLoader loader = nullptr;
    for (const LoaderEntry& entry : kLoaders) {
      if (is(typeWord.c_str(), entry.word)) {
        loader = entry.loader;
        break;
      }
    }
    bool loaded = false;
    if (!loader) {
      reportError("failed to locate fx loader for segment type %s\n", typeWord.c_str());
    } else if (pushLevel(parser, body.c_str())) {
      loaded = (segment->*loader)(parser);
      parser.popText();
    }
    if (!loaded) {
      reportError("DeclEffect::loadEffect failed to load '%s' in effect '%s'\n", segmentName.c_str(), getName());
      segments.remove(segment);
      delete segment;
    }
  }
  return segments.num() > 0;
}

DeclEffect* DeclEffect::fromDecl(DeclResource* resource) {
  if (!resource || resource->getType() != kDeclEffect || g_declKindAllocators[kDeclEffect] != allocDeclEffect)
    return nullptr;
  return static_cast<DeclEffect*>(resource);
}

DeclResource* allocDeclEffect() {
  return new DeclEffect;
}

namespace {
const struct InstallKind {
  InstallKind() { g_declKindAllocators[kDeclEffect] = allocDeclEffect; }
} s_installKind;
}  // namespace

void registerEffectDeclKind() {
  g_declKindAllocators[kDeclEffect] = allocDeclEffect;
}

DeclEffect* findEffect(const char* name, bool makeDefault) {
  return g_declSystem ? DeclEffect::fromDecl(g_declSystem->findEffect(name, makeDefault)) : nullptr;
}
