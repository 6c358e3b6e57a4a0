// The declaration manager's interface: named, text-defined resources (tables, materials, skins,
// sound shaders, entity and map definitions, effects) found lazily in the declaration files and
// parsed on demand, plus the base classes every declaration kind derives from.
#pragma once

#include <cmath>
#include <cstddef>

#include "lib/keydict.h"
#include "lib/list.h"
#include "lib/str.h"

// Type ids: the index of the type's slot. Id 5 has no type.
enum DeclTypeId : int {
  kDeclTable = 0,
  kDeclMaterial = 1,
  kDeclSkin = 2,
  kDeclSound = 3,
  kDeclEntityDef = 4,
  kDeclEffect = 6,
  kDeclMapDef = 7,
  kDeclTypeCount = 32,  // also "any type" in lookups, and "no type" from declTypeByName
};

enum DeclState : int {
  kDeclUnparsed = 0,
  kDeclDefaulted = 1,
  kDeclParsed = 2,
};

// The bookkeeping of one declaration (name, body text, state, type, index), made by the manager.
class DeclBase {
 public:
  virtual ~DeclBase() = default;
  virtual int getType() const = 0;
  virtual int getState() const = 0;
  // Copies the text; the declaration becomes unparsed.
  virtual void setText(const char* text) = 0;
  // Copies at most size - 1 characters into `out`.
  virtual void getText(char* out, int size) const = 0;
  virtual int getTextLength() const = 0;
  // Stored in lower case.
  virtual void setName(const char* name) = 0;
  virtual const char* getName() const = 0;
  // Runs the resource's parse over the text; on success the state becomes parsed.
  virtual bool parse() = 0;
  // Not unparsed.
  virtual bool isValid() const = 0;
  virtual void setParsed() = 0;
  virtual void setUnparsed() = 0;
  virtual int getIndex() const = 0;
  virtual void setDefaulted() = 0;
  virtual int memoryUsed() const = 0;
};

// Base of every declaration kind. The manager links it to its DeclBase before any call.
class DeclResource {
 public:
  virtual ~DeclResource() = default;
  virtual void makeDefault() {
    if (decl)
      decl->setDefaulted();
  }
  // The body (without its outer braces) and its length; the base accepts nothing.
  virtual bool parse(const char* /*text*/, int /*length*/) { return false; }
  virtual void freeData() {}
  virtual int memoryUsed() const { return decl ? decl->memoryUsed() : 0; }

  const char* getName() const { return decl ? decl->getName() : ""; }
  int getState() const { return decl ? decl->getState() : kDeclUnparsed; }
  int getIndex() const { return decl ? decl->getIndex() : -1; }
  int getType() const { return decl ? decl->getType() : kDeclTypeCount; }
  bool isValid() const { return decl && decl->isValid(); }

  DeclBase* decl = nullptr;
};

// Makes one empty resource of a kind.
using DeclAllocFn = DeclResource* (*)();

// Kinds built in other libraries (materials, effects) install their allocator here from a static
// object before the manager starts; a type without one gets plain DeclResource placeholders.
inline DeclAllocFn g_declKindAllocators[kDeclTypeCount] = {};

// Where an image-backed material gets its implicit text when no declaration file defines it;
// installed by the material library (false: no image of that name).
using DeclImplicitMaterialFn = bool (*)(const char* name, String& text);
inline DeclImplicitMaterialFn g_declImplicitMaterial = nullptr;

class DeclSystem {
 public:
  virtual ~DeclSystem() = default;

  // Registers the types, folders and commands.
  virtual bool init() = 0;
  // Deletes every declaration, frees the folders, disables every type.
  virtual void shutdown() = 0;
  // Forced: every declaration is found and parsed again; otherwise only those not valid.
  virtual void reloadAll(bool force) = 0;
  virtual void beginLevelLoad() = 0;
  // After a map unload: tables, materials, skins, sounds and entityDefs become unparsed (kept in
  // place), every declaration of the other types is deleted.
  virtual void purge() = 0;
  // Name at most 31 characters, id 0..31; false (nothing registered) otherwise.
  virtual bool registerDeclType(const char* name, int typeId, DeclAllocFn allocator) = 0;
  // Folder at most 31 characters, extension at most 7; an equal registration is ignored.
  virtual bool registerDeclFolder(const char* folder, const char* extension, int typeId) = 0;
  virtual int numDeclTypes() const = 0;
  // "" for an id without an enabled type.
  virtual const char* declTypeName(int typeId) const = 0;
  // The first enabled type of that name (without case), else kDeclTypeCount.
  virtual int declTypeByName(const char* name) const = 0;
  virtual DeclResource* findType(int typeId, const char* name, bool makeDefault) = 0;
  virtual int numDecls(int typeId) const = 0;
  // Parsed first when not valid or forced; null for an index outside the list.
  virtual DeclResource* declByIndex(int typeId, int index, bool forceParse) = 0;
  virtual int indexOfDecl(const DeclResource* resource, int typeId) const = 0;
  // A name followed by a braced body; the material (created or replaced), or null.
  virtual DeclResource* createMaterialFromText(const char* text) = 0;

  // Materials and effects are DeclResource-derived kinds of their own libraries; cast there.
  virtual DeclResource* findMaterial(const char* name, bool makeDefault = true) = 0;
  virtual class DeclTable* findTable(const char* name, bool makeDefault = true) = 0;
  virtual class DeclSkin* findSkin(const char* name, bool makeDefault = true) = 0;
  virtual class SoundShader* findSoundShader(const char* name, bool makeDefault = true) = 0;
  virtual DeclResource* findEffect(const char* name, bool makeDefault = true) = 0;
  virtual DeclResource* materialByIndex(int index, bool forceParse = true) = 0;
  virtual class DeclTable* tableByIndex(int index, bool forceParse = true) = 0;
  virtual class DeclSkin* skinByIndex(int index, bool forceParse = true) = 0;
  virtual class SoundShader* soundShaderByIndex(int index, bool forceParse = true) = 0;
  virtual DeclResource* effectByIndex(int index, bool forceParse = true) = 0;

  // Kept for the video restart's caller.
  void reparseAll(bool force) { reloadAll(force); }
};

inline DeclSystem* g_declSystem = nullptr;

// ---------------------------------------------------------------------------
// The simple declaration kinds (implemented with the manager in the engine core).

// A list of numbers looked up by a fraction (material expressions, effect envelopes).
class DeclTable : public DeclResource {
 public:
  DeclTable() : values(16) {}
  void makeDefault() override;
  bool parse(const char* text, int length) override;
  void freeData() override;
  int memoryUsed() const override;

  // Wraps (or clamps) the position (count - 1) * x and blends towards the next value unless
  // snapped. NaN or infinite input reads as 0; the index is reduced before it is truncated, so
  // large time-driven positions never leave the table.
  float lookup(float x) const {
    const int n = values.num();
    if (n == 0)
      return 0.0f;
    if (!std::isfinite(x))
      x = 0.0f;
    double f = double(n - 1) * double(x);
    if (clamp) {
      if (f < 0.0)
        f = 0.0;
      else if (f > double(n - 1))
        f = double(n - 1);
    } else {
      f = std::fmod(f, double(n));
      if (f < 0.0)
        f += double(n);
      if (f >= double(n))  // fmod's rounding on the negative side
        f = 0.0;
    }
    const int i = int(f) % n;
    const float base = values[i];
    if (snap)
      return base;
    const int next = clamp ? (i + 1 < n - 1 ? i + 1 : n - 1) : (i + 1) % n;
    return base + float(f - std::floor(f)) * (values[next] - base);
  }
  float tableLookup(float x) const { return lookup(x); }

  List<float> values;
  bool snap = false;
  bool clamp = false;
};

// A key/value dictionary with single inheritance ("entityDef" and "mapDef").
class DeclEntityDef : public DeclResource {
 public:
  static constexpr int kMaxInheritDepth = 8;

  void makeDefault() override {}
  bool parse(const char* text, int length) override;
  void freeData() override;
  int memoryUsed() const override;

  KeyDict dict;
};

class SoundSample;

struct SoundShaderParms {
  float volume = 0.0f;
  float minDistance = 0.0f;
  float maxDistance = 0.0f;
  float reserved = 0.0f;  // never set by the text
  int flags = 0;
  int soundClass = 0;
};

enum SoundShaderFlag : int {
  kSoundPrivate = 0x1,
  kSoundNoPrivate = 0x2,
  kSoundNoOcclusion = 0x4,
  kSoundGlobal = 0x8,
  kSoundOmniDirectional = 0x10,
  kSoundLooping = 0x20,
  kSoundPlayOnce = 0x40,
  kSoundUnclamped = 0x80,
  kSoundNoFlicker = 0x100,
  kSoundNoDups = 0x200,
  kSoundOnDemand = 0x400,
  kSoundMusic = 0x800,
};

// Playback parameters and up to 16 samples of the sound cache.
class SoundShader : public DeclResource {
 public:
  static constexpr int kMaxSamples = 16;

  SoundShader() = default;
  ~SoundShader() override;
  void makeDefault() override;
  bool parse(const char* text, int length) override;
  void freeData() override;
  int memoryUsed() const override;
  virtual int numSamples() const { return numSamples_; }
  virtual const SoundShaderParms& parameters() const { return parms_; }
  // "" outside 0..count-1.
  virtual const char* sampleName(int index) const;
  // Null without samples; x is limited to 0..1 and every sample can be drawn.
  virtual SoundSample* sampleAtFraction(float x) const;
  // Null outside 0..count-1.
  virtual SoundSample* sample(int index) const;

 private:
  SoundShaderParms parms_;
  SoundSample* samples_[kMaxSamples] = {};
  String sampleNames_[kMaxSamples];
  int numSamples_ = 0;
  bool parseFailed_ = false;
};

// An ordered list of materials (replacement skins for models).
class DeclSkin : public DeclResource {
 public:
  DeclSkin() : materials(16) {}
  void makeDefault() override;
  bool parse(const char* text, int length) override;
  void freeData() override;
  int memoryUsed() const override;
  // The default material (material index 0) outside 0..count-1.
  virtual DeclResource* materialAt(int index) const;

  List<DeclResource*> materials;
};
