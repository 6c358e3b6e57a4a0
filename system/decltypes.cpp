// The simple declaration kinds: tables, entity definitions (with inheritance), sound shaders and
// skins. Each parse reads the declaration's body with its own token parser.
#include "system/decltypes.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "lib/interface/cmdsystem.h"
#include "lib/interface/soundsystem.h"
#include "lib/tokenparser.h"

namespace {

// At most `length` characters of the body, and no more than it holds.
String bodyText(const char* text, int length) {
  return text && length > 0 ? String(text, length) : String();
}

int heapBytes(const String& text) {
  return text.allocated() > String::kBaseSize ? text.allocated() : 0;
}

// Guards entity-definition inheritance chains (one process, main thread).
int s_inheritDepth = 0;

}  // namespace

// ---------------------------------------------------------------------------------------------
// Tables

void DeclTable::makeDefault() {
  values.clear();
  values.append(1.0f);
  snap = false;
  clamp = false;
  DeclResource::makeDefault();
}

void DeclTable::freeData() {
  values.clear();
  snap = false;
  clamp = false;
  if (decl)
    decl->setUnparsed();
}

bool DeclTable::parse(const char* text, int length) {
  values.clear();
  snap = false;
  clamp = false;
  String body = bodyText(text, length);
  TokenParser parser;
  parser.pushText(body.c_str());
  parser.setPunctuation(",{}");
  int depth = 1;
  bool ok = true;
  while (const char* token = parser.nextToken(true)) {
    if (std::strcmp(token, ",") == 0)
      continue;
    if (String::icmp(token, "snap") == 0) {
      snap = true;
    } else if (String::icmp(token, "clamp") == 0) {
      clamp = true;
    } else if (std::strcmp(token, "{") == 0) {
      ++depth;
    } else if (std::strcmp(token, "}") == 0) {
      if (--depth == 0) {
        ok = false;
        break;
      }
    } else {
      values.append(float(textToDouble(token)));
    }
  }
  parser.setPunctuation(nullptr);
  return ok && depth == 1;
}

int DeclTable::memoryUsed() const {
  return DeclResource::memoryUsed() + int(values.allocated());
}

// ---------------------------------------------------------------------------------------------
// Entity definitions

void DeclEntityDef::freeData() {
  dict.clear();
}

bool DeclEntityDef::parse(const char* text, int length) {
  if (s_inheritDepth >= kMaxInheritDepth) {
    cmdPrintf("\tERROR: potential infinite inheritence using '%s'\n", getName());
    return false;
  }
  dict.clear();
  dict.set("classname", getName());
  String body = bodyText(text, length);
  TokenParser parser;
  parser.pushText(body.c_str());
  if (!dict.parse(parser))
    return false;

  // Copied out: resolving a cycle parses this very dictionary again.
  String parentName = dict.getString("inherit");
  if (!parentName.isEmpty() && g_declSystem) {
    ++s_inheritDepth;
    DeclResource* parent = g_declSystem->findType(kDeclEntityDef, parentName.c_str(), false);
    --s_inheritDepth;
    if (!parent) {
      cmdPrintf("WARNING: '%s' attempted to inherit undefined entityDef '%s'\n", getName(),
                parentName.c_str());
    } else if (parent != this) {
      dict.copyMissing(&static_cast<DeclEntityDef*>(parent)->dict);
    }
  }
  return true;
}

int DeclEntityDef::memoryUsed() const {
  return DeclResource::memoryUsed() + int(dict.memoryUsed());
}

// ---------------------------------------------------------------------------------------------
// Sound shaders

namespace {
struct SoundFlagName {
  const char* name;
  int bit;
};
constexpr SoundFlagName kSoundFlags[] = {
    {"private", kSoundPrivate},
    {"no_private", kSoundNoPrivate},
    {"no_occlusion", kSoundNoOcclusion},
    {"global", kSoundGlobal},
    {"omni_directional", kSoundOmniDirectional},
    {"looping", kSoundLooping},
    {"play_once", kSoundPlayOnce},
    {"unclamped", kSoundUnclamped},
    {"no_flicker", kSoundNoFlicker},
    {"no_dups", kSoundNoDups},
    {"onDemand", kSoundOnDemand},
    {"music", kSoundMusic},
};
}  // namespace

SoundShader::~SoundShader() {
  // Release the cache's references; the manager normally did so already.
  for (int i = 0; i < numSamples_; ++i)
    if (samples_[i] && g_soundCache)
      g_soundCache->releaseSound(samples_[i]);
}

void SoundShader::freeData() {
  for (int i = 0; i < numSamples_; ++i) {
    if (samples_[i] && g_soundCache)
      g_soundCache->releaseSound(samples_[i]);
    samples_[i] = nullptr;
    sampleNames_[i].clear();
  }
  numSamples_ = 0;
  parms_ = SoundShaderParms();
  parseFailed_ = false;
}

void SoundShader::makeDefault() {
  DeclResource::makeDefault();
  freeData();
  if (String::icmp(getName(), "_default") == 0)
    return;
  // A missing shader plays the sample file of its own name from everywhere.
  char text[1024];
  std::snprintf(text, sizeof(text), "omni_directional\n\"%s\"\n", getName());
  parse(text, int(std::strlen(text)));
}

bool SoundShader::parse(const char* text, int length) {
  parms_.maxDistance = 128.0f;
  parms_.flags = 0;
  String body = bodyText(text, length);
  TokenParser parser;
  parser.pushText(body.c_str());
  bool ok = true;
  char value[TokenParserLevel::kTokenSize];
  while (const char* token = parser.nextToken(true)) {
    if (std::strcmp(token, "}") == 0)
      break;
    float* target = nullptr;
    if (String::icmp(token, "minDistance") == 0)
      target = &parms_.minDistance;
    else if (String::icmp(token, "maxDistance") == 0)
      target = &parms_.maxDistance;
    else if (String::icmp(token, "volume") == 0)
      target = &parms_.volume;
    const bool isClass = String::icmp(token, "soundClass") == 0;
    if (target || isClass) {
      if (!parser.readToken(value, sizeof(value), false)) {
        ok = false;
        break;
      }
      parser.warnNumberRange(value);
      if (target)
        *target = float(textToDouble(value));
      else
        parms_.soundClass = textToInt(value);
      continue;
    }
    int bit = 0;
    for (const SoundFlagName& flag : kSoundFlags) {
      if (String::icmp(token, flag.name) == 0) {
        bit = flag.bit;
        break;
      }
    }
    if (bit) {
      parms_.flags |= bit;
      continue;
    }
    if (numSamples_ >= kMaxSamples) {
      cmdPrintf("WARNING: sound shader '%s' holds %d samples; '%s' ignored\n", getName(), kMaxSamples, token);
      continue;
    }
    SoundSample* sample = g_soundCache ? g_soundCache->findSound(token) : nullptr;
    if (!sample) {
      cmdPrintf("SoundShader::parseAttributes: invalid sample: %s\n", token);
      continue;
    }
    const char* resolved = g_soundCache->sampleFileName(sample);
    sampleNames_[numSamples_] = resolved && *resolved ? resolved : token;
    samples_[numSamples_++] = sample;
  }
  if (!ok) {
    freeData();
    parseFailed_ = true;
    if (decl)
      decl->setDefaulted();
  }
  return ok;
}

int SoundShader::memoryUsed() const {
  int bytes = DeclResource::memoryUsed();
  for (int i = 0; i < numSamples_; ++i)
    bytes += heapBytes(sampleNames_[i]);
  return bytes;
}

const char* SoundShader::sampleName(int index) const {
  return index >= 0 && index < numSamples_ ? sampleNames_[index].c_str() : "";
}

SoundSample* SoundShader::sample(int index) const {
  return index >= 0 && index < numSamples_ ? samples_[index] : nullptr;
}

SoundSample* SoundShader::sampleAtFraction(float x) const {
  if (numSamples_ == 0)
    return nullptr;
  if (!(x > 0.0f))  // NaN too
    x = 0.0f;
  if (x > 1.0f)
    x = 1.0f;
  int index = int(float(numSamples_) * x);
  if (index > numSamples_ - 1)
    index = numSamples_ - 1;
  return samples_[index];
}

// ---------------------------------------------------------------------------------------------
// Skins

void DeclSkin::makeDefault() {
  materials.clear();
  DeclResource::makeDefault();
}

void DeclSkin::freeData() {
  materials.clear();
}

bool DeclSkin::parse(const char* text, int length) {
  materials.clear();
  String body = bodyText(text, length);
  TokenParser parser;
  parser.pushText(body.c_str());
  char name[256];
  while (parser.readToken(name, sizeof(name), true)) {
    DeclResource* material = g_declSystem ? g_declSystem->findMaterial(name, true) : nullptr;
    if (material)
      materials.append(material);
  }
  return true;
}

int DeclSkin::memoryUsed() const {
  return DeclResource::memoryUsed() + int(materials.allocated());
}

DeclResource* DeclSkin::materialAt(int index) const {
  if (index >= 0 && index < materials.num())
    return materials[index];
  return g_declSystem ? g_declSystem->findMaterial(nullptr, true) : nullptr;
}

// ---------------------------------------------------------------------------------------------
// Allocators

DeclResource* allocDeclTable() {
  return new DeclTable;
}
DeclResource* allocDeclEntityDef() {
  return new DeclEntityDef;
}
DeclResource* allocDeclSkin() {
  return new DeclSkin;
}
DeclResource* allocSoundShader() {
  return new SoundShader;
}
DeclResource* allocDeclPlaceholder() {
  return new DeclResource;
}
