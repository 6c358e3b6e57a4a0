// KeyDict: sorted pairs of pooled strings, the typed getters, text parsing and the pool commands.
#include "lib/keydict.h"

#include <algorithm>
#include <cassert>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "lib/interface/cmdsystem.h"
#include "lib/matrix.h"
#include "lib/tokenparser.h"
#include "lib/vector.h"

namespace {

// Reads up to `count` floats separated by blanks, as "%f %f ..." would; stops at the first text
// that is no number, leaving the rest of `out` alone.
void scanFloats(const char* text, float* out, int count) {
  const char* p = text;
  for (int i = 0; i < count; ++i) {
    const char* end = nullptr;
    double value = textToDouble(p, &end);
    if (end == p)
      return;
    out[i] = static_cast<float>(value);
    p = end;
  }
}

void showStringPool(const CmdArgs&) {
  if (!g_cmdSystem)
    return;
  g_cmdSystem->printf("%5d KB in %d keys\n", static_cast<int>(g_keyPool.memoryUsed() / 1024),
                      g_keyPool.num());
  g_cmdSystem->printf("%5d KB in %d values\n", static_cast<int>(g_valuePool.memoryUsed() / 1024),
                      g_valuePool.num());
}

void listPool(const StringPool& pool, const char* what) {
  if (!g_cmdSystem)
    return;
  for (int i = 0; i < pool.num(); ++i)
    g_cmdSystem->printf("%s\n", pool[i]->c_str());
  g_cmdSystem->printf("%5d %s\n", pool.num(), what);
}

void listStringKeys(const CmdArgs&) {
  listPool(g_keyPool, "keys");
}
void listStringValues(const CmdArgs&) {
  listPool(g_valuePool, "values");
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Pools and commands

void KeyDict::initPools() {
  // The pools start with these rules already; texts pooled before start-up stay pooled.
  if (g_keyPool.num() == 0)
    g_keyPool.setCaseSensitive(false);
  if (g_valuePool.num() == 0)
    g_valuePool.setCaseSensitive(true);
}

void KeyDict::shutdownPools() {
  g_keyPool.clear();
  g_valuePool.clear();
}

void KeyDict::registerCommands() {
  if (!g_cmdSystem)
    return;
  g_cmdSystem->addCommand("com_showStringPool", showStringPool, kCmdFlagEngine, "string pool memory usage");
  g_cmdSystem->addCommand("showStringPool", showStringPool, kCmdFlagEngine, "string pool memory usage");
  g_cmdSystem->addCommand("listStringKeys", listStringKeys, kCmdFlagEngine, "list global key string pool");
  g_cmdSystem->addCommand("listStringValues", listStringValues, kCmdFlagEngine,
                          "list global value string pool");
}

// ---------------------------------------------------------------------------------------------
// Pairs

KeyDict::~KeyDict() {
  clear();
}

KeyDict& KeyDict::operator=(const KeyDict& other) {
  if (this != &other) {
    clear();
    copy(other);
  }
  return *this;
}

void KeyDict::clear() {
  for (KeyValue& pair : m_pairs) {
    g_keyPool.release(pair.key);
    g_valuePool.release(pair.value);
  }
  for (KeyValue& pair : m_pending) {
    g_keyPool.release(pair.key);
    g_valuePool.release(pair.value);
  }
  m_pairs.clear();
  m_pending.clear();
}

// Merges the pending pairs into the sorted array: sort them, then one merge from the back.
void KeyDict::flush() const {
  int k = m_pending.num();
  if (k == 0)
    return;
  KeyValue* pending = m_pending.ptr();
  auto less = [](const KeyValue& a, const KeyValue& b) {
    return StringPool::compareNoCase(a.keyText(), b.keyText()) < 0;
  };
  std::sort(pending, pending + k, less);
  int n = m_pairs.num();
  m_pairs.assureSize((n + k + 15) / 16 * 16);
  for (int i = 0; i < k; ++i)
    m_pairs.append(pending[i]);
  KeyValue* pairs = m_pairs.ptr();
  // From the back: each pending pair finds its place among the unplaced sorted pairs by binary
  // search, and the pairs above it move up in one block. Comparisons touch key texts (cache
  // misses); k log n of them instead of n + k.
  int unplaced = n;
  for (int j = k - 1; j >= 0; --j) {
    int low = 0;
    int high = unplaced;
    while (low < high) {
      int mid = low + (high - low) / 2;
      if (less(pending[j], pairs[mid]))
        high = mid;
      else
        low = mid + 1;
    }
    std::memmove(pairs + low + j + 1, pairs + low, static_cast<size_t>(unplaced - low) * sizeof(KeyValue));
    pairs[low + j] = pending[j];
    unplaced = low;
  }
  // The pairs moved: the pending list gives up its references without releasing them.
  m_pending.setNum(0);
}

const KeyValue* KeyDict::pairAt(int index) const {
  flush();
  return index >= 0 && index < m_pairs.num() ? &m_pairs[index] : nullptr;
}

const char* KeyDict::keyAt(int index) const {
  const KeyValue* pair = pairAt(index);
  return pair ? pair->keyText() : "";
}

const char* KeyDict::valueAt(int index) const {
  const KeyValue* pair = pairAt(index);
  return pair ? pair->valueText() : "";
}

bool KeyDict::findSorted(const char* key, int& index) const {
  int low = 0;
  int high = m_pairs.num();
  if (!key)
    key = "";
  while (low < high) {
    int mid = low + (high - low) / 2;
    int c = StringPool::compareNoCase(m_pairs[mid].keyText(), key);
    if (c == 0) {
      index = mid;
      return true;
    }
    if (c < 0)
      low = mid + 1;
    else
      high = mid;
  }
  index = low;
  return false;
}

KeyValue* KeyDict::findPending(const char* key) const {
  if (m_pending.num() == 0)
    return nullptr;
  // Pending keys are pooled, and the key pool folds case as the dictionary does: a key that is
  // not pooled is in no dictionary, and a pooled one is found by its pointer.
  PoolString* pooled = g_keyPool.find(key);
  if (!pooled)
    return nullptr;
  for (KeyValue& pair : m_pending) {
    if (pair.key == pooled)
      return &pair;
  }
  return nullptr;
}

bool KeyDict::findIndex(const char* key, int& index) const {
  flush();
  return findSorted(key, index);
}

int KeyDict::findKeyIndex(const char* key) const {
  if (!key || !*key)
    return -1;
  int index;
  return findIndex(key, index) ? index : -1;
}

const KeyValue* KeyDict::findKey(const char* key) const {
  if (!key || !*key)
    return nullptr;
  int index;
  if (findSorted(key, index))
    return &m_pairs[index];
  return findPending(key);
}

void KeyDict::replaceValue(KeyValue& pair, const char* value) {
  // Allocated before the old one goes, so setting the same text never frees it in between.
  PoolString* newValue = g_valuePool.allocate(value ? value : "");
  g_valuePool.release(pair.value);
  pair.value = newValue;
}

void KeyDict::set(const char* key, const char* value) {
  if (!key || !*key)
    return;
  int index = 0;
  // A key the pool does not hold is in no dictionary: a large one skips the search.
  bool unpooled = usesPending() && !g_keyPool.find(key);
  if (!unpooled && findSorted(key, index)) {
    replaceValue(m_pairs[index], value);
    return;
  }
  if (KeyValue* pending = unpooled ? nullptr : findPending(key)) {
    replaceValue(*pending, value);
    return;
  }
  addNew(index, KeyValue{g_keyPool.allocate(key), g_valuePool.allocate(value ? value : "")});
}

void KeyDict::addNew(int sortedIndex, const KeyValue& pair) {
  // Large dictionaries collect new pairs unsorted and merge them in batches, so building one of
  // n pairs costs about n * n / kPendingLimit moves instead of n * n / 2.
  if (usesPending()) {
    m_pending.append(pair);
    if (m_pending.num() >= kPendingLimit)
      flush();
    return;
  }
  // Pairs are plain pointers: one block move opens the gap.
  static_assert(std::is_trivially_copyable_v<KeyValue>);
  m_pairs.append(pair);
  KeyValue* pairs = m_pairs.ptr();
  int last = m_pairs.num() - 1;
  if (sortedIndex < last) {
    std::memmove(pairs + sortedIndex + 1, pairs + sortedIndex,
                 static_cast<size_t>(last - sortedIndex) * sizeof(KeyValue));
    pairs[sortedIndex] = pair;
  }
}

void KeyDict::setValueAt(int index, const char* value) {
  flush();
  if (index < 0 || index >= m_pairs.num())
    return;
  replaceValue(m_pairs[index], value);
}

void KeyDict::removeAt(int index) {
  flush();
  if (index < 0 || index >= m_pairs.num())
    return;
  g_keyPool.release(m_pairs[index].key);
  g_valuePool.release(m_pairs[index].value);
  m_pairs.removeIndex(index);
}

void KeyDict::remove(const char* key) {
  removeAt(findKeyIndex(key));
}

void KeyDict::copy(const KeyDict& other) {
  if (&other == this)
    return;
  other.flush();
  if (count() == 0) {
    m_pairs.assureSize(other.m_pairs.num());
    for (const KeyValue& pair : other.m_pairs)
      m_pairs.append(KeyValue{g_keyPool.copy(pair.key), g_valuePool.copy(pair.value)});
    return;
  }
  for (const KeyValue& pair : other.m_pairs)
    set(pair.keyText(), pair.valueText());
}

void KeyDict::copyMissing(const KeyDict* other) {
  if (!other || other == this)
    return;
  other->flush();
  for (const KeyValue& pair : other->m_pairs) {
    int index;
    if (findSorted(pair.keyText(), index) || findPending(pair.keyText()))
      continue;
    addNew(index, KeyValue{g_keyPool.copy(pair.key), g_valuePool.copy(pair.value)});
  }
}

bool KeyDict::parse(TokenParser& parser) {
  constexpr int kValueMax = TokenParserLevel::kTokenSize - 1;
  char key[TokenParserLevel::kTokenSize];
  char value[TokenParserLevel::kTokenSize];
  char more[TokenParserLevel::kTokenSize];
  bool ok = true;
  for (;;) {
    if (!parser.readToken(key, sizeof(key), true))
      break;
    if (!parser.tokenWasQuoted() && std::strcmp(key, "}") == 0)
      break;
    // The rest of an over-long key or value is dropped rather than read as the next token.
    while (parser.tokenWasCut() && parser.readToken(more, sizeof(more), true)) {
    }
    if (!parser.readToken(value, sizeof(value), false))
      break;
    while (parser.tokenWasCut() && parser.readToken(more, sizeof(more), true)) {
    }
    while (parser.checkToken("\\", true)) {
      if (!parser.readToken(more, sizeof(more), true))
        return false;
      while (parser.tokenWasCut() && parser.readToken(nullptr, 0, true)) {
      }
      size_t used = std::strlen(value);
      size_t room = static_cast<size_t>(kValueMax) - used;
      size_t add = std::strlen(more);
      if (add > room)
        add = room;
      std::memcpy(value + used, more, add);
      value[used + add] = '\0';
    }
    if (findKey(key)) {
      if (g_cmdSystem)
        g_cmdSystem->printf("'%s' already defined\n", key);
      ok = false;
    }
    set(key, value);
  }
  return ok;
}

// ---------------------------------------------------------------------------------------------
// Getters

bool KeyDict::getString(const char* key, const char* defaultText, const char*& out) const {
  const KeyValue* pair = findKey(key);
  out = pair ? pair->valueText() : (defaultText ? defaultText : "");
  return pair != nullptr;
}

const char* KeyDict::getString(const char* key, const char* defaultText) const {
  const char* out;
  getString(key, defaultText, out);
  return out;
}

bool KeyDict::getFloat(const char* key, const char* defaultText, float& out) const {
  const char* text;
  bool found = getString(key, defaultText, text);
  out = static_cast<float>(textToDouble(text));
  return found;
}

bool KeyDict::getInt(const char* key, const char* defaultText, int& out) const {
  const char* text;
  bool found = getString(key, defaultText, text);
  out = textToInt(text);
  return found;
}

bool KeyDict::getBool(const char* key, const char* defaultText, bool& out) const {
  const char* text;
  bool found = getString(key, defaultText, text);
  out = textToInt(text) != 0 || String::icmp(text, "true") == 0;
  return found;
}

bool KeyDict::getFloats(const char* key, const char* defaultText, const char* nullDefault, float* out,
                        int count) const {
  const char* text;
  bool found = getString(key, defaultText ? defaultText : nullDefault, text);
  scanFloats(text, out, count);
  return found;
}

bool KeyDict::getVec2(const char* key, const char* defaultText, float out[2]) const {
  out[0] = out[1] = 0.0f;
  return getFloats(key, defaultText, "0 0", out, 2);
}

bool KeyDict::getVec3(const char* key, const char* defaultText, float out[3]) const {
  out[0] = out[1] = out[2] = 0.0f;
  return getFloats(key, defaultText, "0 0 0", out, 3);
}

bool KeyDict::getVec3Text(const char* key, const char* defaultText, float out[3]) const {
  return getVec3(key, defaultText, out);
}

bool KeyDict::getVec4(const char* key, const char* defaultText, float out[4]) const {
  out[0] = out[1] = out[2] = out[3] = 0.0f;
  return getFloats(key, defaultText, "0 0 0 0", out, 4);
}

bool KeyDict::getMat3(const char* key, const char* defaultText, float out[9]) const {
  for (int i = 0; i < 9; ++i)
    out[i] = i % 4 == 0 ? 1.0f : 0.0f;
  return getFloats(key, defaultText, "1 0 0 0 1 0 0 0 1", out, 9);
}

bool KeyDict::getVec2(const char* key, const char* defaultText, Vec2& out) const {
  float v[2];
  bool found = getVec2(key, defaultText, v);
  out.x = v[0];
  out.y = v[1];
  return found;
}

bool KeyDict::getVec3(const char* key, const char* defaultText, Vec3& out) const {
  return getVec3(key, defaultText, out.ptr());
}

bool KeyDict::getVec3Text(const char* key, const char* defaultText, Vec3& out) const {
  return getVec3(key, defaultText, out.ptr());
}

bool KeyDict::getVec4(const char* key, const char* defaultText, Vec4& out) const {
  float v[4];
  bool found = getVec4(key, defaultText, v);
  out.x = v[0];
  out.y = v[1];
  out.z = v[2];
  out.w = v[3];
  return found;
}

bool KeyDict::getMat3(const char* key, const char* defaultText, Mat3& out) const {
  float m[9];
  bool found = getMat3(key, defaultText, m);
  for (int row = 0; row < 3; ++row) {
    out.rows[row].x = m[row * 3];
    out.rows[row].y = m[row * 3 + 1];
    out.rows[row].z = m[row * 3 + 2];
  }
  return found;
}

const KeyValue* KeyDict::matchPrefix(const char* prefix, const KeyValue* previous) const {
  if (!prefix)
    return nullptr;
  int start = 0;
  flush();
  if (previous) {
    const KeyValue* first = m_pairs.ptr();
    if (!first || previous < first || previous >= first + m_pairs.num())
      return nullptr;
    start = static_cast<int>(previous - first) + 1;
  }
  for (int i = start; i < m_pairs.num(); ++i) {
    if (String::istartsWith(m_pairs[i].keyText(), prefix))
      return &m_pairs[i];
  }
  return nullptr;
}

const char* KeyDict::randomValueWithPrefix(const char* prefix) const {
  constexpr int kMaxMatches = 2048;
  const char* matches[kMaxMatches];
  int n = 0;
  for (const KeyValue* pair = matchPrefix(prefix); pair && n < kMaxMatches; pair = matchPrefix(prefix, pair))
    matches[n++] = pair->valueText();
  if (n == 0)
    return "";
  double r = static_cast<double>(std::rand() & 0x7FFF) / 32767.0;
  int index = static_cast<int>(r * (n - 1) + 0.5);
  if (index <= 0)
    return matches[0];
  if (index >= n - 1)
    return matches[n - 1];
  return matches[index];
}

size_t KeyDict::memoryUsed() const {
  flush();
  size_t bytes = m_pairs.allocated();
  for (const KeyValue& pair : m_pairs) {
    if (pair.key->text.allocated() > String::kBaseSize)
      bytes += static_cast<size_t>(pair.key->text.allocated());
    if (pair.value->text.allocated() > String::kBaseSize)
      bytes += static_cast<size_t>(pair.value->text.allocated());
  }
  return bytes;
}
