// String pools: a hash table for finding texts, and a lazily sorted view for listing them.
#include "lib/stringpool.h"

#include <algorithm>
#include <cassert>
#include <cstring>

constinit StringPool g_keyPool(false);
constinit StringPool g_valuePool(true);

namespace {

inline unsigned char foldChar(unsigned char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

constexpr int kMinCapacity = 64;

}  // namespace

void StringPool::setCaseSensitive(bool caseSensitive) {
  assert(m_count == 0 && "StringPool::setCaseSensitive on a pool that holds strings");
  m_caseSensitive = caseSensitive;
}

uint32_t StringPool::hashText(const char* text) const {
  // FNV-1a; the case-insensitive pool hashes the folded letters so that equal texts meet.
  uint32_t h = 2166136261u;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  if (m_caseSensitive) {
    for (; *p; ++p)
      h = (h ^ *p) * 16777619u;
  } else {
    for (; *p; ++p)
      h = (h ^ foldChar(*p)) * 16777619u;
  }
  // FNV leaves the low bits (the table index) poorly mixed; finish with a 32-bit avalanche.
  h ^= h >> 16;
  h *= 0x85ebca6bu;
  h ^= h >> 13;
  h *= 0xc2b2ae35u;
  h ^= h >> 16;
  return h;
}

bool StringPool::equal(const char* a, const char* b) const {
  return m_caseSensitive ? std::strcmp(a, b) == 0 : compareNoCase(a, b) == 0;
}

// The slot holding the text, or the empty slot where it would go.
int StringPool::slotOf(const char* text, uint32_t hash) const {
  int mask = m_capacity - 1;
  for (int i = static_cast<int>(hash) & mask;; i = (i + 1) & mask) {
    PoolString* entry = m_table[i];
    if (!entry || (entry->hash == hash && equal(entry->text.c_str(), text)))
      return i;
  }
}

void StringPool::grow() {
  int capacity = m_capacity ? m_capacity * 2 : kMinCapacity;
  PoolString** table = new PoolString*[capacity]();
  int mask = capacity - 1;
  for (int i = 0; i < m_capacity; ++i) {
    PoolString* entry = m_table[i];
    if (!entry)
      continue;
    int j = static_cast<int>(entry->hash) & mask;
    while (table[j])
      j = (j + 1) & mask;
    table[j] = entry;
  }
  delete[] m_table;
  m_table = table;
  m_capacity = capacity;
}

PoolString* StringPool::find(const char* text) const {
  if (!m_count)
    return nullptr;
  if (!text)
    text = "";
  return m_table[slotOf(text, hashText(text))];
}

PoolString* StringPool::allocate(const char* text) {
  if (!text)
    text = "";
  // Keep the load factor at or below one half.
  if ((m_count + 1) * 2 > m_capacity)
    grow();
  uint32_t hash = hashText(text);
  int slot = slotOf(text, hash);
  if (PoolString* entry = m_table[slot]) {
    ++entry->refCount;
    return entry;
  }
  PoolString* entry = new PoolString;
  entry->text = text;
  entry->pool = this;
  entry->refCount = 1;
  entry->hash = hash;
  m_table[slot] = entry;
  ++m_count;
  m_sortedValid = false;
  return entry;
}

PoolString* StringPool::copy(PoolString* string) {
  if (!string)
    return nullptr;
  if (string->pool == this) {
    ++string->refCount;
    return string;
  }
  return allocate(string->text.c_str());
}

void StringPool::release(PoolString* string) {
  if (!string)
    return;
  assert(string->pool == this && "StringPool::release of a string from another pool");
  if (--string->refCount > 0)
    return;
  int mask = m_capacity - 1;
  int slot = slotOf(string->text.c_str(), string->hash);
  assert(m_table[slot] == string && "StringPool::release of a string that is not pooled");
  if (m_table[slot] != string)
    return;
  // Backward-shift deletion keeps every probe chain unbroken without tombstones.
  int hole = slot;
  for (int i = (hole + 1) & mask; m_table[i]; i = (i + 1) & mask) {
    int home = static_cast<int>(m_table[i]->hash) & mask;
    bool movable = hole <= i ? (home <= hole || home > i) : (home <= hole && home > i);
    if (movable) {
      m_table[hole] = m_table[i];
      hole = i;
    }
  }
  m_table[hole] = nullptr;
  --m_count;
  m_sortedValid = false;
  delete string;
}

void StringPool::clear() {
  for (int i = 0; i < m_capacity; ++i) {
    if (m_table[i]) {
      m_table[i]->refCount = 0;
      delete m_table[i];
    }
  }
  delete[] m_table;
  m_table = nullptr;
  m_capacity = 0;
  m_count = 0;
  delete[] m_sorted;
  m_sorted = nullptr;
  m_sortedCapacity = 0;
  m_sortedValid = true;
}

void StringPool::sortView() const {
  if (m_sortedValid)
    return;
  if (m_sortedCapacity < m_count) {
    delete[] m_sorted;
    m_sortedCapacity = m_capacity;
    m_sorted = new PoolString*[m_sortedCapacity];
  }
  int n = 0;
  for (int i = 0; i < m_capacity; ++i) {
    if (m_table[i])
      m_sorted[n++] = m_table[i];
  }
  PoolString** first = m_sorted;
  if (m_caseSensitive) {
    std::sort(first, first + n, [](const PoolString* a, const PoolString* b) {
      // Signed bytes, as String::cmp orders.
      for (const char *x = a->c_str(), *y = b->c_str();; ++x, ++y) {
        if (*x != *y)
          return static_cast<signed char>(*x) < static_cast<signed char>(*y);
        if (!*x)
          return false;
      }
    });
  } else {
    std::sort(first, first + n, [](const PoolString* a, const PoolString* b) {
      return compareNoCase(a->c_str(), b->c_str()) < 0;
    });
  }
  m_sortedValid = true;
}

const PoolString* StringPool::operator[](int index) const {
  assert(index >= 0 && index < m_count && "StringPool: index out of range");
  sortView();
  return m_sorted[index];
}

size_t StringPool::memoryUsed() const {
  size_t bytes = static_cast<size_t>(m_capacity) * sizeof(PoolString*);
  for (int i = 0; i < m_capacity; ++i) {
    const PoolString* entry = m_table[i];
    if (!entry)
      continue;
    bytes += sizeof(PoolString);
    if (entry->text.allocated() > String::kBaseSize)
      bytes += static_cast<size_t>(entry->text.allocated());
  }
  return bytes;
}
