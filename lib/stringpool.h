// Pools of shared, reference-counted texts: one copy of each distinct text for the whole process.
// The key pool folds case (ASCII letters only), the value pool does not. Main thread only.
#pragma once

#include <cstddef>
#include <cstdint>

#include "lib/str.h"

class StringPool;

// One pooled text. Held by pointer; the pool owns it.
struct PoolString {
  String text;
  StringPool* pool = nullptr;
  int refCount = 0;
  uint32_t hash = 0;  // of the text under the pool's case rule

  const char* c_str() const { return text.c_str(); }
};

// Entries are found through a hash table and handed out in sorted order (byte order in a
// case-sensitive pool, String::icmp order otherwise); the sorted view is rebuilt lazily, so
// allocating and releasing stay O(1) however many texts are pooled.
class StringPool {
 public:
  // Constant-initialised, so the global pools are ready before any static initialiser runs and
  // outlive every dictionary destroyed at exit.
  constexpr StringPool() = default;
  constexpr explicit StringPool(bool caseSensitive) : m_caseSensitive(caseSensitive) {}
  StringPool(const StringPool&) = delete;
  StringPool& operator=(const StringPool&) = delete;
  ~StringPool() { clear(); }

  // Only before the pool holds texts.
  void setCaseSensitive(bool caseSensitive);
  bool caseSensitive() const { return m_caseSensitive; }

  // The entry equal to the text (under the case rule) with one more reference, or a new entry with
  // one reference. A null text pools "".
  PoolString* allocate(const char* text);
  // A string of this pool gets one more reference; one of another pool is allocated here by text.
  PoolString* copy(PoolString* string);
  // Drops one reference; the last one frees the entry.
  void release(PoolString* string);
  // Frees every entry (every reference held elsewhere dangles afterwards).
  void clear();

  // String::icmp inlined for the hot searches: ASCII letters fold to lower case, then signed bytes
  // compare; -1, 0 or 1.
  static int compareNoCase(const char* a, const char* b) {
    for (;; ++a, ++b) {
      signed char ca = static_cast<signed char>(*a >= 'A' && *a <= 'Z' ? *a + ('a' - 'A') : *a);
      signed char cb = static_cast<signed char>(*b >= 'A' && *b <= 'Z' ? *b + ('a' - 'A') : *b);
      if (ca != cb)
        return ca < cb ? -1 : 1;
      if (!ca)
        return 0;
    }
  }

  // The entry equal to the text, or null; no reference is added.
  PoolString* find(const char* text) const;
  int num() const { return m_count; }
  // The entries in sorted order.
  const PoolString* operator[](int index) const;
  // Bytes: the table slots, each entry's record and the heap storage of its text.
  size_t memoryUsed() const;

 private:
  uint32_t hashText(const char* text) const;
  bool equal(const char* a, const char* b) const;
  int slotOf(const char* text, uint32_t hash) const;
  void grow();
  void sortView() const;

  bool m_caseSensitive = false;
  PoolString** m_table = nullptr;  // open addressing, linear probing, power-of-two capacity
  int m_capacity = 0;
  int m_count = 0;
  mutable PoolString** m_sorted = nullptr;  // m_count entries when valid
  mutable int m_sortedCapacity = 0;
  mutable bool m_sortedValid = true;
};

// The process-wide pools of the key/value dictionaries (set up by KeyDict::initPools).
extern StringPool g_keyPool;
extern StringPool g_valuePool;
