// KeyDict: the engine's dictionary of text keys and values (spawn arguments, server and user info,
// persistent game data, exported console variables). Texts live in the process-wide pools, so
// dictionaries share one copy of each; keys compare without case, values with it.
#pragma once

#include <cstddef>

#include "lib/list.h"
#include "lib/stringpool.h"

class TokenParser;
struct Vec2;
struct Vec3;
struct Vec4;
class Mat3;

// One pair; both strings are pooled and never null (a missing value is "").
struct KeyValue {
  PoolString* key;
  PoolString* value;

  const char* keyText() const { return key->c_str(); }
  const char* valueText() const { return value->c_str(); }
};

class KeyDict {
 public:
  KeyDict() : m_pairs(16), m_pending(16) {}
  KeyDict(const KeyDict& other) : m_pairs(16), m_pending(16) { copy(other); }
  KeyDict& operator=(const KeyDict& other);
  virtual ~KeyDict();

  // Sets the pools' case rules; the common manager calls it before any dictionary is used.
  static void initPools();
  // Clears both pools; every dictionary must be cleared first.
  static void shutdownPools();
  // Registers "com_showStringPool", "showStringPool", "listStringKeys" and "listStringValues"
  // with g_cmdSystem (duplicates are ignored there).
  static void registerCommands();

  virtual void clear();
  // Index outside 0..count-1: nothing. Null value: "".
  virtual void setValueAt(int index, const char* value);
  // Null or empty key: nothing. Null value: "".
  virtual void set(const char* key, const char* value);
  virtual void removeAt(int index);
  virtual void remove(const char* key);

  int count() const { return m_pairs.num() + m_pending.num(); }
  int num() const { return count(); }
  // Pair, key and value at an index in key order; null or "" outside 0..count-1.
  const KeyValue* pairAt(int index) const;
  const char* keyAt(int index) const;
  const char* valueAt(int index) const;

  // True with the pair's index when found; otherwise false with the index where it would go.
  bool findIndex(const char* key, int& index) const;
  // -1 when absent (also for a null or empty key).
  int findKeyIndex(const char* key) const;
  const KeyValue* findKey(const char* key) const;

  // Adds every pair of another dictionary (an empty dictionary shares its pooled strings).
  void copy(const KeyDict& other);
  // Adds the pairs whose keys are absent here, sharing the pooled strings. Null: nothing.
  void copyMissing(const KeyDict* other);
  // Reads pairs up to "}" or the end of the text; false when a key was defined twice.
  bool parse(TokenParser& parser);

  // Typed getters: the value when the key exists, else the default text, converted. Each returns
  // whether the key exists. A null default reads as "" (0 for numbers).
  const char* getString(const char* key, const char* defaultText = "") const;
  bool getString(const char* key, const char* defaultText, const char*& out) const;
  bool getFloat(const char* key, const char* defaultText, float& out) const;
  bool getInt(const char* key, const char* defaultText, int& out) const;
  // True for a non-zero integer or "true" in any case.
  bool getBool(const char* key, const char* defaultText, bool& out) const;
  // Blank-separated floats; components the text does not supply keep their preset (zeros, or the
  // identity for the matrix). A null default gives "0 0", "0 0 0", "0 0 0 0" or the identity.
  bool getVec2(const char* key, const char* defaultText, float out[2]) const;
  bool getVec3(const char* key, const char* defaultText, float out[3]) const;
  bool getVec3Text(const char* key, const char* defaultText, float out[3]) const;
  bool getVec4(const char* key, const char* defaultText, float out[4]) const;
  bool getMat3(const char* key, const char* defaultText, float out[9]) const;
  bool getVec2(const char* key, const char* defaultText, Vec2& out) const;
  bool getVec3(const char* key, const char* defaultText, Vec3& out) const;
  bool getVec3Text(const char* key, const char* defaultText, Vec3& out) const;
  bool getVec4(const char* key, const char* defaultText, Vec4& out) const;
  bool getMat3(const char* key, const char* defaultText, Mat3& out) const;

  // The next pair after `previous` (null: from the start) whose key begins with the prefix
  // (case-insensitive), or null.
  const KeyValue* matchPrefix(const char* prefix, const KeyValue* previous = nullptr) const;
  // A value picked at random among at most 2,048 pairs whose keys begin with the prefix; "" when none.
  const char* randomValueWithPrefix(const char* prefix) const;

  // Bytes: the pair slots plus the heap storage of each pair's key and value texts.
  size_t memoryUsed() const;

 private:
  static constexpr int kDirectInsertLimit = 128;
  static constexpr int kPendingLimit = 256;

  // Sorts the pending pairs into m_pairs; every index-based access does this first.
  void flush() const;
  bool findSorted(const char* key, int& index) const;
  KeyValue* findPending(const char* key) const;
  bool usesPending() const { return m_pending.num() > 0 || m_pairs.num() >= kDirectInsertLimit; }
  // sortedIndex matters only while new pairs go straight into the sorted array.
  void addNew(int sortedIndex, const KeyValue& pair);
  static void replaceValue(KeyValue& pair, const char* value);
  bool getFloats(const char* key, const char* defaultText, const char* nullDefault, float* out,
                 int count) const;

  // Sorted by key. Mutable: const readers merge the pending pairs in before they index.
  mutable List<KeyValue> m_pairs;
  // New pairs of a large dictionary, unsorted, keys distinct and absent from m_pairs.
  mutable List<KeyValue> m_pending;
};
