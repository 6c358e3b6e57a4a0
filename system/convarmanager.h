// ConVarManager: the registry of console variables (ConVarSystem), sorted by name, and ConVarDict,
// the registered copy of a declaration that holds the live value.
#pragma once

#include "lib/interface/convarsystem.h"
#include "lib/list.h"

// The registered copy. Name and description are copied, so a record outlives the declaration that
// created it (a game module's statics go away when the module is freed).
class ConVarDict : public ConVar {
 public:
  explicit ConVarDict(const ConVar& declaration);
  ~ConVarDict() override;

  // Reads the text as a float (0 when it is no number), clamps when the range is set, and stores
  // the text: the float in five decimals for float variables, the clamped integer for ranged ones,
  // otherwise the text as given.
  void setValue(const char* text) override;

 private:
  char* ownedName_;
  char* ownedDescription_;
  char* ownedValue_;
};

class ConVarManager : public ConVarSystem {
 public:
  ConVarManager();
  ~ConVarManager() override;

  void registerVar(ConVar* declaration) override;
  ConVar* find(const char* name) override;
  void list(const CmdArgs& args) override;
  int printVar(const char* name) override;
  void setString(const char* name, const char* text) override;
  void setInt(const char* name, int value) override;
  void setBool(const char* name, bool value) override;
  const char* getString(const char* name) override;
  int getInt(const char* name) override;
  bool getBool(const char* name) override;
  const KeyDict* exportToDict(uint32_t mask) override;
  int importFromDict(const KeyDict& dict) override;

  void writeArchived(IOFileHandle file) override;
  int countMatches(const char* prefix) override;
  int completeName(const char* prefix, ConVar** exact, ConVar** closest) override;
  void completePrefix(char* text, size_t size, const ConVar* variable) override;
  int count() const override { return vars_.num(); }
  ConVar* at(int index) const override;

 private:
  // Index of the first record whose name is not below `name` (case-insensitive).
  int lowerBound(const char* name) const;

  List<ConVarDict*> vars_;  // sorted by name without case
  KeyDict* exported_;
};

// Creates the manager on first use, publishes g_conVarSystem and registers every declaration made
// so far; later declarations register at once.
ConVarManager* getConVarManager();
// Deletes the manager with every registered record; declarations point back at themselves.
void destroyConVarManager();
