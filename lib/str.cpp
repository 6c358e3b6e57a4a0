// String storage, editing, paths and formatting. Heap blocks go through the
// global operator new/delete, which the memory manager takes over.
#include "lib/str.h"

#include "lib/simd.h"

#include <cassert>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <utility>

namespace {

// Text copies go through the block copier; it takes no overlapping blocks,
// and a text may be moved within its own storage.
void copyBytes(void* dst, const void* src, size_t count) {
  if (count == 0) {
    return;
  }
  uintptr_t d = uintptr_t(dst);
  uintptr_t s = uintptr_t(src);
  if (d < s + count && s < d + count) {
    memmove(dst, src, count);
  } else {
    g_simd->memcpy(dst, src, count);
  }
}

bool isSeparator(char c) {
  return c == '/' || c == '\\';
}

// Index of the last path separator, -1 when there is none.
int lastSeparator(const char* text, int len) {
  for (int i = len - 1; i >= 0; i--) {
    if (isSeparator(text[i])) {
      return i;
    }
  }
  return -1;
}

// Lengths are ints and storage is rounded up to 32 bytes: keep both in range.
constexpr size_t kMaxLength = size_t(INT_MAX) - 64;

// How many of count characters fit after have characters; a longer text is a
// programming mistake, cut rather than wrapped into a negative length.
size_t fitLength(size_t have, size_t count) {
  assert(have + count <= kMaxLength && "String: text longer than the 2 GB a String holds");
  return count <= kMaxLength - have ? count : kMaxLength - have;
}

bool inRange(const char* p, const char* begin, const char* end) {
  // Integer comparison: the pointers may belong to different objects.
  uintptr_t v = uintptr_t(p);
  return v >= uintptr_t(begin) && v < uintptr_t(end);
}

}  // namespace

// ---------------------------------------------------------------------------
// Construction and storage

String::String() : len(0), alloced(kBaseSize), data(baseBuffer) {
  baseBuffer[0] = '\0';
}

String::String(const char* text) : String() {
  if (text) {
    assignRaw(text, strlen(text));
  }
}

String::String(const char* text, int count) : String() {
  if (text && count > 0) {
    assignRaw(text, strnlen(text, size_t(count)));
  }
}

String::String(const String& other) : String() {
  assignRaw(other.data, size_t(other.len));
}

String::String(String&& other) noexcept : String() {
  *this = std::move(other);
}

String::~String() {
  freeData();
}

String& String::operator=(const String& other) {
  if (this != &other) {
    assignRaw(other.data, size_t(other.len));
  }
  return *this;
}

String& String::operator=(String&& other) noexcept {
  if (this != &other) {
    if (other.data != other.baseBuffer) {
      freeData();
      data = other.data;
      len = other.len;
      alloced = other.alloced;
      other.data = other.baseBuffer;
      other.alloced = kBaseSize;
      other.len = 0;
      other.baseBuffer[0] = '\0';
    } else {
      assignRaw(other.data, size_t(other.len));
      other.len = 0;
      other.baseBuffer[0] = '\0';
    }
  }
  return *this;
}

String& String::operator=(const char* text) {
  if (!text) {
    len = 0;
    data[0] = '\0';
  } else {
    assignRaw(text, strlen(text));
  }
  return *this;
}

char String::operator[](int index) const {
  assert(index >= 0 && index <= len && "String: index out of range");
  return data[index];
}

char& String::operator[](int index) {
  assert(index >= 0 && index <= len && "String: index out of range");
  return data[index];
}

void String::reAllocate(int size, bool keepOld) {
  assert(size > 0 && "String::reAllocate: size must be positive");
  assert(size_t(size) <= kMaxLength + 1 && "String::reAllocate: size too large");
  if (size < 1) {
    size = 1;
  } else if (size_t(size) > kMaxLength + 1) {
    size = int(kMaxLength + 1);
  }
  size_t rounded = (size_t(size) + kAllocGranularity - 1) / kAllocGranularity * kAllocGranularity;
  char* block = static_cast<char*>(::operator new(rounded));
  // Copy before freeing: callers may still read from the old storage.
  if (keepOld) {
    size_t keep = strnlen(data, rounded - 1);
    if (keep > size_t(len)) {
      keep = size_t(len);
    }
    copyBytes(block, data, keep);
    block[keep] = '\0';
    len = int(keep);
  } else {
    block[0] = '\0';
    len = 0;
  }
  if (data != baseBuffer) {
    ::operator delete(data);
  }
  data = block;
  alloced = int(rounded);
}

void String::freeData() {
  if (data != baseBuffer) {
    ::operator delete(data);
    data = baseBuffer;
  }
  alloced = kBaseSize;
  len = 0;
  baseBuffer[0] = '\0';
}

void String::assignRaw(const char* text, size_t count) {
  count = fitLength(0, count);
  int n = int(count);
  if (size_t(n) + 1 > size_t(alloced)) {
    // A text longer than our storage cannot lie inside it.
    reAllocate(n + 1, false);
  }
  copyBytes(data, text, count);
  len = n;
  data[len] = '\0';
}

void String::appendRaw(const char* text, size_t count) {
  if (count == 0) {
    return;
  }
  count = fitLength(size_t(len), count);
  size_t newLen = size_t(len) + count;
  if (newLen + 1 > size_t(alloced)) {
    // The appended text may be part of this string: find it again in the
    // new storage, which holds the same characters.
    bool inside = inRange(text, data, data + alloced);
    ptrdiff_t offset = text - data;
    reAllocate(int(newLen + 1), true);
    if (inside) {
      text = data + offset;
    }
  }
  copyBytes(data + len, text, count);
  len = int(newLen);
  data[len] = '\0';
}

// ---------------------------------------------------------------------------
// Comparison

char String::toLowerChar(char c) {
  return (c >= 'A' && c <= 'Z') ? char(c + ('a' - 'A')) : c;
}

char String::toUpperChar(char c) {
  return (c >= 'a' && c <= 'z') ? char(c - ('a' - 'A')) : c;
}

bool String::isSpaceChar(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int String::cmp(const char* a, const char* b) {
  return cmpn(a, b, INT_MAX);
}

int String::cmpn(const char* a, const char* b, int n) {
  assert(a && b && "String::cmpn: null text");
  for (int i = 0; i < n; i++) {
    signed char ca = static_cast<signed char>(a[i]);
    signed char cb = static_cast<signed char>(b[i]);
    if (ca != cb) {
      return ca < cb ? -1 : 1;
    }
    if (ca == 0) {
      break;
    }
  }
  return 0;
}

int String::icmp(const char* a, const char* b) {
  return icmpn(a, b, INT_MAX);
}

int String::icmpn(const char* a, const char* b, int n) {
  assert(a && b && "String::icmpn: null text");
  for (int i = 0; i < n; i++) {
    signed char ca = static_cast<signed char>(toLowerChar(a[i]));
    signed char cb = static_cast<signed char>(toLowerChar(b[i]));
    if (ca != cb) {
      return ca < cb ? -1 : 1;
    }
    if (ca == 0) {
      break;
    }
  }
  return 0;
}

bool String::iendsWith(const char* text, const char* suffix) {
  if (!text || !suffix) {
    return false;
  }
  size_t tl = strlen(text);
  size_t sl = strlen(suffix);
  return tl >= sl && icmp(text + (tl - sl), suffix) == 0;
}

bool String::istartsWith(const char* text, const char* prefix) {
  if (!text || !prefix) {
    return false;
  }
  return icmpn(text, prefix, int(strlen(prefix))) == 0;
}

bool operator==(const String& a, const String& b) {
  return a.length() == b.length() && String::cmp(a.c_str(), b.c_str()) == 0;
}

bool operator==(const String& a, const char* b) {
  return b && String::cmp(a.c_str(), b) == 0;
}

bool operator!=(const String& a, const String& b) {
  return !(a == b);
}

bool operator!=(const String& a, const char* b) {
  return !(a == b);
}

bool operator<(const String& a, const String& b) {
  return String::cmp(a.c_str(), b.c_str()) < 0;
}

// ---------------------------------------------------------------------------
// Search

int String::find(char ch, int start, int end) const {
  if (end < 0 || end > len) {
    end = len;
  }
  if (start < 0) {
    start = 0;
  }
  for (int i = start; i < end; i++) {
    if (data[i] == ch) {
      return i;
    }
  }
  return -1;
}

int String::rfind(char ch, int start, int end) const {
  if (end < 0 || end > len) {
    end = len;
  }
  if (start < 0) {
    start = 0;
  }
  for (int i = end - 1; i >= start; i--) {
    if (data[i] == ch) {
      return i;
    }
  }
  return -1;
}

int String::findText(const char* text, bool caseSensitive, int start, int end) const {
  if (!text) {
    return -1;
  }
  if (end < 0 || end > len) {
    end = len;
  }
  if (start < 0) {
    start = 0;
  }
  size_t tl = strlen(text);
  if (tl > size_t(end)) {
    return -1;
  }
  int last = end - int(tl);
  for (int i = start; i <= last; i++) {
    size_t j = 0;
    if (caseSensitive) {
      while (j < tl && data[i + j] == text[j]) {
        j++;
      }
    } else {
      while (j < tl && toUpperChar(data[i + j]) == toUpperChar(text[j])) {
        j++;
      }
    }
    if (j == tl) {
      return i;
    }
  }
  return -1;
}

const char* String::ifind(const char* string, const char* text) {
  if (!string || !text) {
    return nullptr;
  }
  for (const char* s = string;; s++) {
    const char* a = s;
    const char* b = text;
    while (*b && toLowerChar(*a) == toLowerChar(*b)) {
      a++;
      b++;
    }
    if (*b == '\0') {
      return s;
    }
    if (*s == '\0') {
      return nullptr;
    }
  }
}

// ---------------------------------------------------------------------------
// Editing

void String::append(const char* text) {
  if (text) {
    appendRaw(text, strlen(text));
  }
}

void String::append(const char* text, int count) {
  if (text && count > 0) {
    appendRaw(text, strnlen(text, size_t(count)));
  }
}

void String::append(char ch) {
  if (ch == '\0') {
    return;
  }
  char c = ch;
  appendRaw(&c, 1);
}

void String::appendString(const String& other) {
  appendRaw(other.data, size_t(other.len));
}

void String::replaceChar(char from, char to) {
  if (from == '\0') {
    return;
  }
  for (int i = 0; i < len; i++) {
    if (data[i] == from) {
      data[i] = to;
    }
  }
  if (to == '\0') {
    len = int(strlen(data));
  }
}

void String::backSlashesToSlashes() {
  replaceChar('\\', '/');
}

bool String::stripLeadingOnce(const char* text) {
  if (!text || !*text) {
    return false;
  }
  size_t tl = strlen(text);
  if (tl > size_t(len) || cmpn(data, text, int(tl)) != 0) {
    return false;
  }
  memmove(data, data + tl, size_t(len) - tl + 1);
  len -= int(tl);
  return true;
}

void String::stripLeading(const char* text) {
  while (stripLeadingOnce(text)) {
  }
}

void String::stripLeadingChar(char ch) {
  if (ch == '\0') {
    return;
  }
  int n = 0;
  while (n < len && data[n] == ch) {
    n++;
  }
  if (n > 0) {
    memmove(data, data + n, size_t(len - n) + 1);
    len -= n;
  }
}

void String::stripTrailing(char ch) {
  if (ch == '\0') {
    return;
  }
  while (len > 0 && data[len - 1] == ch) {
    len--;
  }
  data[len] = '\0';
}

bool String::stripTrailingTextOnce(const char* text) {
  if (!text || !*text || !iendsWith(data, text)) {
    return false;
  }
  len -= int(strlen(text));
  data[len] = '\0';
  return true;
}

void String::stripTrailingText(const char* text) {
  while (stripTrailingTextOnce(text)) {
  }
}

void String::stripQuotes() {
  if (len > 0 && data[len - 1] == '"') {
    len--;
    data[len] = '\0';
  }
  if (len > 0 && data[0] == '"') {
    memmove(data, data + 1, size_t(len));
    len--;
  }
}

void String::trim() {
  int end = len;
  while (end > 0 && isSpaceChar(data[end - 1])) {
    end--;
  }
  int start = 0;
  while (start < end && isSpaceChar(data[start])) {
    start++;
  }
  len = end - start;
  memmove(data, data + start, size_t(len));
  data[len] = '\0';
}

void String::toLower() {
  for (int i = 0; i < len; i++) {
    data[i] = toLowerChar(data[i]);
  }
}

void String::toUpper() {
  for (int i = 0; i < len; i++) {
    data[i] = toUpperChar(data[i]);
  }
}

void String::capLength(int n) {
  if (n >= 0 && n < len) {
    len = n;
    data[len] = '\0';
  }
}

void String::replace(const char* find, const char* with) {
  if (!find || !*find) {
    return;
  }
  if (!with) {
    with = "";
  }
  size_t fl = strlen(find);
  size_t wl = strlen(with);
  if (fl == wl) {
    if (cmp(find, with) == 0) {
      return;
    }
    // Both texts may lie in the text being edited.
    String pattern(find);
    String replacement(with);
    for (int i = findText(pattern.data, true, 0); i >= 0; i = findText(pattern.data, true, i + int(fl))) {
      copyBytes(data + i, replacement.data, wl);
    }
    return;
  }
  int first = findText(find, true, 0);
  if (first < 0) {
    return;
  }
  // One pass over the original text gives the same result as rebuilding
  // after each match: replacements are never searched again.
  String result;
  int from = 0;
  for (int i = first; i >= 0; i = findText(find, true, from)) {
    result.appendRaw(data + from, size_t(i - from));
    result.appendRaw(with, wl);
    from = i + int(fl);
  }
  result.appendRaw(data + from, size_t(len - from));
  *this = static_cast<String&&>(result);
}

bool String::tokenize(String& out, const char* delimiters, int& position) const {
  String token;
  if (position >= 0 && position < len) {
    if (!delimiters) {
      delimiters = "";
    }
    int p = position;
    while (p < len && strchr(delimiters, data[p])) {
      p++;
    }
    int start = p;
    while (p < len && !strchr(delimiters, data[p])) {
      p++;
    }
    token.appendRaw(data + start, size_t(p - start));
    position = p;
  }
  out = static_cast<String&&>(token);
  return !out.isEmpty();
}

// ---------------------------------------------------------------------------
// Paths

void String::setFileExtension(const char* ext) {
  // Copied before the cut: ext may point into this string, even at the old extension.
  String copy(ext);
  for (int i = len - 1; i >= 0; i--) {
    if (isSeparator(data[i])) {
      break;
    }
    if (data[i] == '.') {
      len = i;
      data[len] = '\0';
      break;
    }
  }
  appendString(copy);
}

void String::setFileName(const char* name) {
  String copy(name);
  len = lastSeparator(data, len) + 1;
  data[len] = '\0';
  appendString(copy);
}

void String::setFilePath(const char* path) {
  String name;
  fileName(name);
  String result(path);
  result.backSlashesToSlashes();
  result.appendString(name);
  *this = static_cast<String&&>(result);
}

void String::fileName(String& out) const {
  int sep = lastSeparator(data, len);
  out = String(data + sep + 1, len - sep - 1);
}

void String::filePath(String& out) const {
  int sep = lastSeparator(data, len);
  if (sep < 0) {
    out = String(*this);
  } else {
    out = String(data, sep);
  }
}

void String::fileBase(String& out) const {
  int sep = lastSeparator(data, len);
  int start = sep + 1;
  int end = len;
  for (int i = len - 1; i >= start; i--) {
    if (data[i] == '.') {
      end = i;
      break;
    }
  }
  out = String(data + start, end - start);
}

void String::fileExtension(String& out) const {
  int sep = lastSeparator(data, len);
  for (int i = len - 1; i > sep; i--) {
    if (data[i] == '.') {
      out = String(data + i + 1, len - i - 1);
      return;
    }
  }
  out.clear();
}

// ---------------------------------------------------------------------------
// Copies

String String::mid(int start, int length) const {
  // The window [start, start + length) clipped to the text.
  long long first = start < 0 ? 0 : start;
  long long last = (long long)start + length;
  if (last > len) {
    last = len;
  }
  if (first >= last) {
    return String();
  }
  return String(data + first, int(last - first));
}

String String::left(int n) const {
  return mid(0, n);
}

String String::right(int n) const {
  if (n <= 0) {
    return String();
  }
  if (n > len) {
    n = len;
  }
  return String(data + (len - n), n);
}

String String::concat(const String& a, const String& b) {
  String r(a);
  r.appendString(b);
  return r;
}

String String::concatCString(const String& a, const char* b) {
  String r(a);
  r.append(b);
  return r;
}

String String::concatCStr(const char* a, const String& b) {
  String r(a);
  r.appendString(b);
  return r;
}

String operator+(const String& a, const String& b) {
  return String::concat(a, b);
}

String operator+(const String& a, const char* b) {
  return String::concatCString(a, b);
}

String operator+(const char* a, const String& b) {
  return String::concatCStr(a, b);
}

// ---------------------------------------------------------------------------
// Number tests

namespace {

// Shared scan: sign only before the first digit, blanks skipped anywhere.
bool scanNumber(const char* text, int length, bool allowDot) {
  if (!text) {
    return false;
  }
  size_t n = length < 0 ? strlen(text) : strnlen(text, size_t(length));
  bool digit = false;
  bool dot = false;
  bool sign = false;
  for (size_t i = 0; i < n; i++) {
    char c = text[i];
    if (c == ' ') {
      continue;
    }
    if (c >= '0' && c <= '9') {
      digit = true;
    } else if ((c == '-' || c == '+') && !digit && !sign) {
      sign = true;
    } else if (c == '.' && allowDot && digit) {
      dot = true;
    } else {
      return false;
    }
  }
  return allowDot ? (digit && dot) : digit;
}

}  // namespace

bool isIntegerText(const char* text, int length) {
  return scanNumber(text, length, false);
}

bool isNumericText(const char* text, int length) {
  return isIntegerText(text, length) || scanNumber(text, length, true);
}

bool String::isInteger() const {
  return isIntegerText(data, len);
}

bool String::isNumeric() const {
  return isNumericText(data, len);
}

// ---------------------------------------------------------------------------
// Formatting

int vsnprintfTerminated(char* buffer, size_t size, const char* fmt, va_list args) {
  if (!buffer || size == 0) {
    return -1;
  }
  int n = vsnprintf(buffer, size, fmt, args);
  buffer[size - 1] = '\0';
  // The runtime returns the length it would have printed: a value that does
  // not fit means the text was cut.
  if (n < 0 || size_t(n) >= size) {
    if (n < 0) {
      buffer[0] = '\0';
    }
    return -1;
  }
  return n;
}

int sprintfBounded(char* buffer, size_t size, const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  int n = vsnprintfTerminated(buffer, size, fmt, args);
  va_end(args);
  return n;
}

const char* va(const char* fmt, ...) {
  // Per thread, so a worker's message never overwrites the main thread's.
  static thread_local char buffers[4][16384];
  static thread_local int index = 0;
  index = (index + 1) & 3;
  char* buf = buffers[index];
  va_list args;
  va_start(args, fmt);
  vsnprintfTerminated(buf, sizeof(buffers[0]), fmt, args);
  va_end(args);
  return buf;
}

namespace {

// Prints into scratch first: the arguments may point into the string itself.
int formatInto(String& s, int limit, char* scratch, const char* fmt, va_list args) {
  int n = vsnprintf(scratch, size_t(limit) + 1, fmt, args);
  if (n < 0) {
    s.clear();
    return -1;
  }
  s = String(scratch, n > limit ? limit : n);
  return n > limit ? -1 : n;
}

}  // namespace

int String::format(const char* fmt, ...) {
  char scratch[kFormatLimit + 1];
  va_list args;
  va_start(args, fmt);
  int n = formatInto(*this, kFormatLimit, scratch, fmt, args);
  va_end(args);
  return n;
}

int String::vformat(const char* fmt, va_list args) {
  char scratch[kVFormatLimit + 1];
  return formatInto(*this, kVFormatLimit, scratch, fmt, args);
}

const char* String::floatArrayToString(const float* values, int count, int precision) {
  char buf[kFloatArrayLimit + 1];
  buf[0] = '\0';
  if (precision < 0) {
    precision = 0;
  }
  char fmt[32];
  snprintf(fmt, sizeof(fmt), "%%%d.%df", 0, precision);
  size_t used = 0;
  size_t lastStart = 0;
  for (int i = 0; i < count && used < sizeof(buf) - 1; i++) {
    lastStart = used;
    int n = snprintf(buf + used, sizeof(buf) - used, fmt, double(values[i]));
    if (n < 0) {
      break;
    }
    used += size_t(n);
    if (used >= sizeof(buf) - 1) {
      used = sizeof(buf) - 1;
      break;
    }
    if (i + 1 < count) {
      buf[used++] = ' ';
      buf[used] = '\0';
    }
  }
  // Only decimals lose their zeros: at precision 0, "10" must stay "10".
  if (memchr(buf + lastStart, '.', used - lastStart)) {
    while (used > lastStart && buf[used - 1] == '0') {
      used--;
    }
    buf[used] = '\0';
  }
  return va("%s", buf);
}
