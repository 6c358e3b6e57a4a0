// Console variables: the static declaration `ConVar` and the registry interface `ConVarSystem`.
// Declare a variable as a static object beside the code that reads it; it registers itself with the
// one ConVarManager (system/convarmanager.h), which keeps the live value, published as g_conVarSystem.
#pragma once

#include <cstddef>
#include <cstdint>

#include "lib/interface/iosystem.h"

class CmdArgs;
class KeyDict;

enum ConVarFlag : uint32_t {
  kConVarBool = 0x1,
  kConVarInt = 0x2,
  kConVarFloat = 0x4,  // the value text is rewritten from the float value
  kConVarString = 0x8,
  kConVarListD = 0x10,  // listed with the letter D
  kConVarListG = 0x80,  // listed with the letter G
  kConVarUserInfo = 0x200,
  kConVarServerInfo = 0x400,
  kConVarListC = 0x2000,     // listed with the letter C
  kConVarListR = 0x10000,    // listed with the letter R
  kConVarArchive = 0x20000,  // listed with the letter A, saved by "writecfg"
};

// A declaration reads through its registered record, which is the declaration itself until the
// manager exists (and again after the manager is destroyed). Without a range, minimum is 1 and
// maximum -1: clamping applies only when maximum > minimum.
class ConVar {
 public:
  ConVar(const char* name, const char* defaultValue, uint32_t flags, const char* description = "",
         float minimum = 1.0f, float maximum = -1.0f);
  virtual ~ConVar();
  ConVar(const ConVar&) = delete;
  ConVar& operator=(const ConVar&) = delete;

  // Does nothing on a declaration; the registered copy (ConVarDict) stores and clamps.
  virtual void setValue(const char* text);

  const char* getName() const { return registered_->name_; }
  const char* getDescription() const { return registered_->description_; }
  const char* getString() const { return registered_->value_; }
  int getInt() const { return registered_->intValue_; }
  float getFloat() const { return registered_->floatValue_; }
  bool getBool() const { return registered_->intValue_ != 0; }
  uint32_t getFlags() const { return registered_->flags_; }
  float getMinimum() const { return registered_->minimum_; }
  float getMaximum() const { return registered_->maximum_; }

  void setString(const char* text) { registered_->setValue(text); }
  void setInt(int value);
  void setFloat(float value);
  void setBool(bool value) { setInt(value ? 1 : 0); }

  // The declaration's own name, default text, flags, range and description, whatever it is
  // registered with (the getters above read the registered record).
  const char* declaredName() const { return name_; }
  const char* declaredDefault() const { return value_; }
  uint32_t declaredFlags() const { return flags_; }
  float declaredMinimum() const { return minimum_; }
  float declaredMaximum() const { return maximum_; }
  const char* declaredDescription() const { return description_; }

  ConVar* getRegistered() const { return registered_; }
  // True for a declaration the manager holds a record for (a record itself answers false).
  bool isRegistered() const { return registered_ != this; }

  // --- Registry side (the manager and its tests) ---
  // Every live declaration, most recent first (the order the manager registers them in).
  static ConVar* firstDeclaration();
  ConVar* nextDeclaration() const { return next_; }
  // Points this declaration at the manager's record (null: back at itself).
  void attach(ConVar* registered) { registered_ = registered ? registered : this; }
  // While open, new declarations register with g_conVarSystem at once.
  static void setRegistryOpen(bool open);
  static bool isRegistryOpen();
  // Registers every declaration with g_conVarSystem (from the front) and opens the registry.
  static void registerAll();
  // Closes the registry and points every declaration back at itself.
  static void detachAll();

  // Locale-independent conversions shared by declarations and the registry.
  static int textToInt(const char* text);  // leading integer, 0 when none
  // Leading float, 0 when none; *ok (optional) tells whether a number was read.
  static float textToFloat(const char* text, bool* ok = nullptr);
  // Float truncated toward zero, clamped to the int range; NaN gives 0.
  static int floatToInt(float value);

 protected:
  // For registered copies: not put on the declaration list.
  explicit ConVar(uint32_t flags);

  const char* name_;
  const char* description_;
  const char* value_;
  int intValue_;
  float floatValue_;
  uint32_t flags_;
  float minimum_;
  float maximum_;
  ConVar* registered_;
  ConVar* next_;
  ConVar* prev_;
  bool declaration_;
};

class ConVarSystem {
 public:
  virtual ~ConVarSystem() = default;

  // A name already registered: the declaration shares that record (its own default, flags and
  // range are ignored). Otherwise a registered copy is created with the declaration's value.
  virtual void registerVar(ConVar* declaration) = 0;
  // Case-insensitive; null for a null or empty name or when absent.
  virtual ConVar* find(const char* name) = 0;
  virtual void list(const CmdArgs& args) = 0;  // "listConVars"
  // Prints "name "value" (description)"; 1 when found, else 0 with a message.
  virtual int printVar(const char* name) = 0;
  virtual void setString(const char* name, const char* text) = 0;  // unknown names are ignored
  virtual void setInt(const char* name, int value) = 0;
  virtual void setBool(const char* name, bool value) = 0;
  virtual const char* getString(const char* name) = 0;  // "" when not found
  virtual int getInt(const char* name) = 0;             // 0 when not found
  virtual bool getBool(const char* name) = 0;
  // Name and value of every variable sharing a bit with `mask`, in name order; the dictionary is
  // the manager's own and stays valid until the next export.
  virtual const KeyDict* exportToDict(uint32_t mask) = 0;
  // Sets each named variable to the dictionary's value; returns the number of pairs.
  virtual int importFromDict(const KeyDict& dict) = 0;

  // Writes "%-24s \"%s\"\n" per variable with kConVarArchive, in name order, to a file opened
  // with g_ioSystem->openFileWrite.
  virtual void writeArchived(IOFileHandle file) = 0;
  // Variables whose names begin with `prefix` (case-insensitive).
  virtual int countMatches(const char* prefix) = 0;
  // Prints "VAR: %s = %s\n" per variable equal to or beginning with `prefix`; returns the count.
  virtual int completeName(const char* prefix, ConVar** exact, ConVar** closest) = 0;
  // Extends `text` (a buffer of `size` bytes) toward `variable`'s name while the match count holds.
  virtual void completePrefix(char* text, size_t size, const ConVar* variable) = 0;
  // Number of registered variables.
  virtual int count() const = 0;
  // The registered variable at `index` in name order, null past the end.
  virtual ConVar* at(int index) const = 0;
};

inline ConVarSystem* g_conVarSystem = nullptr;

// A registered variable's integer value; `fallback` with no manager or no variable of that name.
int conVarInt(const char* name, int fallback);
