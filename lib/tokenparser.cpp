// Token parser: reading, skipping, number lists, braced sections, error reports and the statement
// splitter. Every message goes through the command system's non-fatal error entry point.
#include "lib/tokenparser.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <charconv>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "lib/interface/cmdsystem.h"
#include "lib/interface/iosystem.h"
#include "lib/str.h"

namespace {

// The block reads below may run past the text within its page, which is safe on every target we
// build for but is a read of memory the sanitizers track as not ours.
#define QUILL_BLOCK_READ __attribute__((no_sanitize("address", "thread")))
// The scans of a token are inlined into the read, except under the sanitizers, which keep a
// function exempt from their checks out of the checked ones.
#if defined(__has_feature)
#define QUILL_HAS_FEATURE(x) __has_feature(x)
#else
#define QUILL_HAS_FEATURE(x) 0
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__) || QUILL_HAS_FEATURE(address_sanitizer) || \
    QUILL_HAS_FEATURE(thread_sanitizer)
#define QUILL_SCAN QUILL_BLOCK_READ __attribute__((noinline))
#else
#define QUILL_SCAN __attribute__((always_inline)) inline
#endif

constexpr uint8_t kClassWhitespace = 0x1;
constexpr uint8_t kClassPunctuation = 0x2;
constexpr uint8_t kClassEnd = 0x4;    // NUL only
constexpr uint8_t kClassSlash = 0x8;  // "/" outside the white space set: may open a comment
constexpr uint8_t kClassQuote = 0x10;  // '"' outside the white space set: opens a quoted string
// What ends a word: one table test per character.
constexpr uint8_t kClassWordEnd = kClassWhitespace | kClassPunctuation | kClassEnd;
// Every first character without these bits starts a word: one table test picks the common case.
constexpr uint8_t kClassNoWord = kClassPunctuation | kClassEnd | kClassSlash | kClassQuote;
constexpr const char* kDefaultWhitespace = " \t\n\r";
constexpr int kMaxTokenLength = TokenParserLevel::kTokenSize - 1;

// Messages are kept in the common message buffer, never shown: parsing never stops the program.
void parserMessage(const char* format, ...) __attribute__((format(printf, 1, 2)));
void parserMessage(const char* format, ...) {
  if (!g_cmdSystem)
    return;
  char text[4096];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof(text), format, args);
  va_end(args);
  g_cmdSystem->error(0, "%s", text);
}

bool inOnePage(const char* p) {
  return (reinterpret_cast<uintptr_t>(p) & 4095) <= 4096 - 16;
}

#if defined(__SSE2__)
// Bits of the 16 bytes in v that may end a word: bytes up to the space (white space, NUL, control
// characters) and the level's set characters above it. The caller checks the class table there.
__attribute__((always_inline)) inline unsigned wordStopMask(__m128i v, const TokenParserLevel& l) {
  __m128i m = _mm_cmpeq_epi8(_mm_min_epu8(v, _mm_set1_epi8(0x20)), v);
  const __m128i* blocks = reinterpret_cast<const __m128i*>(l.wordStopBlocks);
  // Unrolled by the count: a set has a handful of characters, and the count never changes
  // within a level, so the jump into the chain is predicted.
#define QUILL_STOP(i) \
  case i + 1:         \
    m = _mm_or_si128(m, _mm_cmpeq_epi8(v, _mm_load_si128(blocks + i))); \
    [[fallthrough]];
  switch (l.wordStopCount) {
    QUILL_STOP(15) QUILL_STOP(14) QUILL_STOP(13) QUILL_STOP(12) QUILL_STOP(11) QUILL_STOP(10)
    QUILL_STOP(9) QUILL_STOP(8) QUILL_STOP(7) QUILL_STOP(6) QUILL_STOP(5) QUILL_STOP(4)
    QUILL_STOP(3) QUILL_STOP(2) QUILL_STOP(1) QUILL_STOP(0)
    default:
      break;
  }
#undef QUILL_STOP
  return unsigned(_mm_movemask_epi8(m));
}
#endif

// Reads the word at p (its first character starts one) into `out` from its character `n` on: at
// most 511 characters and the terminator; returns its length. Where 16 bytes lie in one page they
// are scanned as a block and stored as they are, so the scan is also the copy; the stores stay
// inside the 512-byte buffer (a block starts at or below 496).
QUILL_BLOCK_READ __attribute__((noinline)) int scanWordFrom(const char* p, char* out, const TokenParserLevel& l,
                                                            int n) {
  const uint8_t* cls = l.charClass;
#if defined(__SSE2__)
  if (l.wordStopCount >= 0) {
    while (n <= TokenParserLevel::kTokenSize - 16 && inOnePage(p + n)) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + n));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + n), v);
      // Control characters that are no white space are part of a word: skip those candidates.
      for (unsigned m = wordStopMask(v, l); m; m &= m - 1) {
        const int i = __builtin_ctz(m);
        if (cls[static_cast<unsigned char>(p[n + i])] & kClassWordEnd) {
          n += i;
          out[n] = '\0';
          return n;
        }
      }
      n += 16;
    }
    if (n > kMaxTokenLength) {
      out[kMaxTokenLength] = '\0';
      return kMaxTokenLength;
    }
  }
#endif
  for (; n < kMaxTokenLength; ++n) {
    const unsigned char c = static_cast<unsigned char>(p[n]);
    if (cls[c] & kClassWordEnd)
      break;
    out[n] = static_cast<char>(c);
  }
  out[n] = '\0';
  return n;
}

// scanWordFrom with the first block in line: most words end inside it.
QUILL_SCAN int scanWord(const char* p, char* out, const TokenParserLevel& l) {
#if defined(__SSE2__)
  if (l.wordStopCount >= 0 && inOnePage(p)) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), v);
    for (unsigned m = wordStopMask(v, l); m; m &= m - 1) {
      const int i = __builtin_ctz(m);
      if (l.charClass[static_cast<unsigned char>(p[i])] & kClassWordEnd) {
        out[i] = '\0';
        return i;
      }
    }
    return scanWordFrom(p, out, l, 16);
  }
#endif
  return scanWordFrom(p, out, l, 0);
}

// Reads a quoted string's text at p (behind the opening quote) into `out` from its character `n`
// on, up to its closing quote or the end of the text: at most 511 characters and the terminator;
// returns its length. The newlines in it are added to *lines. Blocks as in scanWordFrom.
QUILL_BLOCK_READ __attribute__((noinline)) int scanQuotedFrom(const char* p, char* out, int* lines, int n) {
#if defined(__SSE2__)
  const __m128i quote = _mm_set1_epi8('"');
  const __m128i newline = _mm_set1_epi8('\n');
  const __m128i zero = _mm_setzero_si128();
  while (n + 16 <= kMaxTokenLength && inOnePage(p + n)) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + n));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + n), v);
    const unsigned stop = unsigned(_mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, quote), _mm_cmpeq_epi8(v, zero))));
    unsigned breaks = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(v, newline)));
    if (stop)
      breaks &= (1u << __builtin_ctz(stop)) - 1;
    // Newlines in strings are rare; the baseline instruction set has no population count.
    for (; breaks; breaks &= breaks - 1)
      ++*lines;
    if (stop) {
      n += __builtin_ctz(stop);
      out[n] = '\0';
      return n;
    }
    n += 16;
  }
#endif
  for (; n < kMaxTokenLength; ++n) {
    const char c = p[n];
    if (c == '"' || c == '\0')
      break;
    *lines += c == '\n';
    out[n] = c;
  }
  out[n] = '\0';
  return n;
}

// scanQuotedFrom with the first block in line.
QUILL_SCAN int scanQuoted(const char* p, char* out, int* lines) {
#if defined(__SSE2__)
  if (inOnePage(p)) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), v);
    const unsigned stop = unsigned(_mm_movemask_epi8(
        _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('"')), _mm_cmpeq_epi8(v, _mm_setzero_si128()))));
    unsigned breaks = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8('\n'))));
    if (stop) {
      const int k = __builtin_ctz(stop);
      for (breaks &= (1u << k) - 1; breaks; breaks &= breaks - 1)
        ++*lines;
      out[k] = '\0';
      return k;
    }
    for (; breaks; breaks &= breaks - 1)
      ++*lines;
    return scanQuotedFrom(p, out, lines, 16);
  }
#endif
  return scanQuotedFrom(p, out, lines, 0);
}

// Past the comment that opens at p ("//" or "/*"). A line comment stops at its newline (which
// the caller skips or stops at); a block comment ends just past its "*/", or at the end of the
// text, and the newlines inside are added to *line.
QUILL_BLOCK_READ const char* skipComment(const char* p, int* line) {
  if (p[1] == '/')
    return strchrnul(p + 2, '\n');
  // Scanning from the "*" of the opening lets "/*/" close at once.
  ++p;
  for (;;) {
#if defined(__SSE2__)
    const __m128i star = _mm_set1_epi8('*');
    const __m128i newline = _mm_set1_epi8('\n');
    const __m128i zero = _mm_setzero_si128();
    while (inOnePage(p)) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      const unsigned stop = unsigned(_mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, star), _mm_cmpeq_epi8(v, zero))));
      unsigned breaks = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(v, newline)));
      if (stop)
        breaks &= (1u << __builtin_ctz(stop)) - 1;
      for (; breaks; breaks &= breaks - 1)
        ++*line;
      if (stop) {
        p += __builtin_ctz(stop);
        break;
      }
      p += 16;
    }
#endif
    while (*p && *p != '*') {
      *line += *p == '\n';
      ++p;
    }
    if (!*p)
      return p;
    if (p[1] == '/')
      return p + 2;
    ++p;
  }
}

void copySet(char* dst, const char* src) {
  size_t n = src ? std::strlen(src) : 0;
  if (n > TokenParserLevel::kSetSize - 1)
    n = TokenParserLevel::kSetSize - 1;
  if (n)
    std::memcpy(dst, src, n);
  dst[n] = '\0';
}

void buildCharClass(TokenParserLevel& l) {
  std::memset(l.charClass, 0, sizeof(l.charClass));
  for (const char* p = l.whitespace; *p; ++p)
    l.charClass[static_cast<unsigned char>(*p)] |= kClassWhitespace;
  for (const char* p = l.punctuation; *p; ++p)
    l.charClass[static_cast<unsigned char>(*p)] |= kClassPunctuation;
  // NUL ends every token and is never whitespace.
  l.charClass[0] = kClassEnd;
  // Comments and quoted strings open only where their characters are no white space.
  if (!(l.charClass[static_cast<unsigned char>('/')] & kClassWhitespace))
    l.charClass[static_cast<unsigned char>('/')] |= kClassSlash;
  if (!(l.charClass[static_cast<unsigned char>('"')] & kClassWhitespace))
    l.charClass[static_cast<unsigned char>('"')] |= kClassQuote;
  l.wordStopCount = 0;
  for (int c = 0x21; c < 256; ++c) {
    if (!(l.charClass[c] & (kClassWhitespace | kClassPunctuation)))
      continue;
    if (l.wordStopCount == int8_t(sizeof(l.wordStops))) {
      l.wordStopCount = -1;
      break;
    }
    std::memset(l.wordStopBlocks[l.wordStopCount], c, sizeof(l.wordStopBlocks[0]));
    l.wordStops[l.wordStopCount++] = char(c);
  }
}

// Past leading white space and one sign; `negative` tells which sign it was.
const char* skipSpaceAndSign(const char* p, bool* negative) {
  while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\f' || *p == '\v')
    ++p;
  *negative = *p == '-';
  if (*p == '+' || *p == '-')
    ++p;
  return p;
}

// Whether `p` points into the `length` characters of `text` (or at its end).
bool within(const char* p, const char* text, size_t length) {
  const uintptr_t at = reinterpret_cast<uintptr_t>(p), begin = reinterpret_cast<uintptr_t>(text);
  return text && at >= begin && at <= begin + length;
}

// Whether `text` lies inside `in` (`length` characters whose first line is `firstLine` of its file,
// 0 when unknown) or, with `copies`, is a copy of a part of it; `base` receives the file line
// before `text`'s first line, -1 when it is not known (a copy found twice). Pushes happen often and
// warnings rarely: a text too long to scan cheaply is searched for no copies and counts no lines.
bool locateIn(const char* text, const char* in, size_t length, int firstLine, bool copies, int* base) {
  constexpr size_t kMaxScan = 256 * 1024;
  *base = -1;
  if (!in || !text)
    return false;
  const char* at = within(text, in, length) ? text : nullptr;
  if (length > kMaxScan)
    return at != nullptr;
  if (!at && copies && *text) {
    at = std::strstr(in, text);
    if (!at)
      return false;
    if (std::strstr(at + 1, text))
      return true;  // found twice: which one is not known
  }
  if (!at)
    return false;
  if (firstLine > 0) {
    *base = firstLine - 1;
    for (const char* p = in; p < at; ++p)
      *base += *p == '\n';
  }
  return true;
}

// Prints the range warning with as much of the position as is known.
void numberRangeMessage(const char* name, int line, const char* number) {
  int length = 0;
  while (number[length] && !std::strchr(" \t\r\n,;()[]{}\"", number[length]) && length < 40)
    ++length;
  if (name && line > 0)
    parserMessage("WARNING: %s line %d: the number '%.*s' is out of range\n", name, line, length, number);
  else if (name)
    parserMessage("WARNING: %s: the number '%.*s' is out of range\n", name, length, number);
  else
    parserMessage("WARNING: line %d: the number '%.*s' is out of range\n", line, length, number);
}

// The length of a level's whole text, measured once.
int textLengthOf(const TokenParserLevel& l) {
  if (l.length < 0)
    l.length = l.start ? static_cast<int>(std::strlen(l.start)) : 0;
  return l.length;
}

int digitCount(int value) {
  int digits = 1;
  for (unsigned v = value < 0 ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value); v >= 10;
       v /= 10)
    ++digits;
  return digits;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Number conversion

double textToDouble(const char* text, const char** end) {
  if (end)
    *end = text;
  if (!text)
    return 0.0;
  bool negative = false;
  const char* p = skipSpaceAndSign(text, &negative);
  // from_chars takes no sign of its own beyond '-', so the sign is applied here.
  if (*p == '-' || *p == '+')
    return 0.0;
  double value = 0.0;
  const char* last = p + std::strlen(p);
  auto result = std::from_chars(p, last, value, std::chars_format::general);
  if (result.ec == std::errc::invalid_argument)
    return 0.0;
  if (result.ec == std::errc::result_out_of_range) {
    // from_chars leaves the value alone on range errors; strtod gives +-HUGE_VAL or 0.
    bool tiny = false;
    for (const char* q = p; q < result.ptr; ++q) {
      if (*q == 'e' || *q == 'E') {
        tiny = q[1] == '-';
        break;
      }
    }
    value = tiny ? 0.0 : HUGE_VAL;
  }
  if (end)
    *end = result.ptr;
  return negative ? -value : value;
}

int textToInt(const char* text) {
  if (!text)
    return 0;
  bool negative = false;
  const char* p = skipSpaceAndSign(text, &negative);
  long long value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    value = value * 10 + (*p - '0');
    if (value > static_cast<long long>(INT_MAX) + 1)
      value = static_cast<long long>(INT_MAX) + 1;
  }
  if (negative)
    value = -value;
  if (value > INT_MAX)
    return INT_MAX;
  if (value < INT_MIN)
    return INT_MIN;
  return static_cast<int>(value);
}

bool numberOutOfRange(const char* text) {
  if (!text)
    return false;
  const char* first = text;
  while (*first == ' ' || *first == '\t' || *first == '-' || *first == '+')
    ++first;
  if (!((*first >= '0' && *first <= '9') || *first == '.'))
    return false;  // "inf", "nan" and words are no numbers here
  const char* end = text;
  const double value = textToDouble(text, &end);
  if (end == text)
    return false;
  return !(std::fabs(value) < 4294967296.0);
}

const char* findNumberOutOfRange(const char* text) {
  if (!text)
    return nullptr;
  auto wordChar = [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' ||
           c == '.' || c == '/' || c == '\\';
  };
  for (const char* p = text; *p; ++p) {
    if (p > text && wordChar(p[-1]))
      continue;
    const char* digits = (*p == '-' || *p == '+') ? p + 1 : p;
    if (!((*digits >= '0' && *digits <= '9') || (*digits == '.' && digits[1] >= '0' && digits[1] <= '9')))
      continue;
    if (numberOutOfRange(p))
      return p;
  }
  return nullptr;
}

// ---------------------------------------------------------------------------------------------
// TokenParserSource

namespace {
thread_local const TokenParserSource* t_source = nullptr;
}

TokenParserSource::TokenParserSource(const char* file, const char* text, int firstLine)
    : file(file), text(text), firstLine(firstLine), outer_(t_source) {
  t_source = this;
}

TokenParserSource::~TokenParserSource() {
  t_source = outer_;
}

const TokenParserSource* TokenParserSource::current() {
  return t_source;
}

void TokenParserSource::warnNumberRange(const char* line, const char* text, int lineInText) {
  const char* number = findNumberOutOfRange(line);
  if (!number)
    return;
  const TokenParserSource* source = t_source;
  if (!source || !source->file) {
    numberRangeMessage(nullptr, lineInText, number);
    return;
  }
  int base = -1;
  if (!locateIn(text, source->text, source->text ? std::strlen(source->text) : 0, source->firstLine, true,
                &base)) {
    numberRangeMessage(nullptr, lineInText, number);
    return;
  }
  numberRangeMessage(source->file, base >= 0 ? base + lineInText : 0, number);
}

// ---------------------------------------------------------------------------------------------
// StringList64

StringList64& StringList64::operator=(const StringList64& other) {
  if (this == &other)
    return *this;
  int bytes = other.used();
  std::memcpy(buffer, other.buffer, static_cast<size_t>(bytes));
  if (bytes == 0)
    buffer[0] = '\0';
  count = other.count;
  for (int i = 0; i < count; ++i)
    strings[i] = buffer + (other.strings[i] - other.buffer);
  return *this;
}

int StringList64::used() const {
  if (count == 0)
    return 0;
  const char* lastString = strings[count - 1];
  return static_cast<int>(lastString - buffer) + static_cast<int>(std::strlen(lastString)) + 1;
}

int StringList64::appendPacked(const char* text) {
  if (!text)
    text = "";
  int offset = used();
  int length = static_cast<int>(std::strlen(text));
  if (count >= kMaxStrings || offset + length + 1 > kBufferSize)
    return -1;
  std::memcpy(buffer + offset, text, static_cast<size_t>(length) + 1);
  strings[count++] = buffer + offset;
  return kBufferSize - (offset + length + 1);
}

// ---------------------------------------------------------------------------------------------
// Levels

TokenParser::TokenParser() : m_current(-1) {
  std::memset(m_levels, 0, sizeof(m_levels));
  m_previousPunctuation[0] = '\0';
}

TokenParser::~TokenParser() {
  while (m_current >= 0)
    popText();
}

bool TokenParser::pushText(const char* text) {
  if (m_current >= kMaxLevels - 1)
    return false;
  if (!text)
    text = "";
  ++m_current;
  TokenParserLevel& l = m_levels[m_current];
  std::memset(&l, 0, sizeof(l));
  l.text = text;
  l.start = text;
  l.length = -1;
  l.line = 1;
  copySet(l.whitespace, kDefaultWhitespace);
  if (m_current > 0) {
    TokenParserLevel& below = m_levels[m_current - 1];
    copySet(l.punctuation, below.punctuation);
    if (below.text == text) {
      // Reading the same text again (a peek): a cut quoted string goes on in the new level, and a
      // pushed-back token moves up into it.
      l.flags = static_cast<uint8_t>(below.flags & TokenParserLevel::kInQuote);
      if (below.flags & TokenParserLevel::kPushedBack) {
        std::memcpy(l.token, below.token, sizeof(l.token));
        l.flags |=
            static_cast<uint8_t>(below.flags & (TokenParserLevel::kPushedBack | TokenParserLevel::kQuoted));
        below.token[0] = '\0';
        below.flags &= static_cast<uint8_t>(~TokenParserLevel::kPushedBack);
      }
    }
  }
  // Where the text stands in its file. A peek reads on from the position of the level below; any
  // other text belongs to the file of the level below, or else of the thread's source, only when it
  // lies inside that text or is a copy of part of it (a model read while an effect is parsed is
  // none of the effect file's).
  l.lineBase = -1;
  const TokenParserSource* source = TokenParserSource::current();
  TokenParserLevel* below = m_current > 0 ? &m_levels[m_current - 1] : nullptr;
  int base = -1;
  if (below && below->sourceName && below->text == text) {
    l.sourceName = below->sourceName;
    l.lineBase = below->lineBase >= 0 ? below->lineBase + below->line - 1 : -1;
  } else if (below && below->sourceName &&
             locateIn(text, below->start, size_t(textLengthOf(*below)), below->lineBase + 1, !below->file,
                      &base)) {
    // Copies are looked for only in texts of the caller's (a declaration's), not in whole files.
    l.sourceName = below->sourceName;
    l.lineBase = base;
  } else if (source && source->file &&
             locateIn(text, source->text, source->text ? std::strlen(source->text) : 0, source->firstLine,
                      true, &base)) {
    l.sourceName = source->file;
    l.lineBase = base;
  }
  buildCharClass(l);
  return true;
}

bool TokenParser::loadFile(const char* name, bool osPath) {
  if (!g_ioSystem || !name)
    return false;
  if (m_current >= kMaxLevels - 1)
    return false;
  IOData* data = g_ioSystem->loadFile(name, osPath);
  if (!data)
    return false;
  if (!pushText(data->buffer ? data->buffer : "")) {
    g_ioSystem->freeFile(data);
    return false;
  }
  m_levels[m_current].file = data;
  m_levels[m_current].sourceName = data->name;
  m_levels[m_current].lineBase = 0;
  return true;
}

const char* TokenParser::popText() {
  if (m_current < 0)
    return nullptr;
  TokenParserLevel& l = m_levels[m_current];
  --m_current;
  if (l.file) {
    IOData* data = l.file;
    l.file = nullptr;
    l.text = l.start = nullptr;
    if (g_ioSystem)
      g_ioSystem->freeFile(data);
    else if (data->heapOwned)
      delete data;  // the file system went first; the record frees its own buffer
    return nullptr;
  }
  if (!l.text || !*l.text)
    return nullptr;
  return l.text;
}

const char* TokenParser::textPosition() const {
  return m_current >= 0 ? level()->text : nullptr;
}
const char* TokenParser::textStart() const {
  return m_current >= 0 ? level()->start : nullptr;
}
int TokenParser::textLength() const {
  const TokenParserLevel* l = level();
  if (!l)
    return 0;
  if (l->length < 0)
    l->length = l->start ? static_cast<int>(std::strlen(l->start)) : 0;
  return l->length;
}
int TokenParser::lineNumber() const {
  return m_current >= 0 ? level()->line : 0;
}

const char* TokenParser::setPunctuation(const char* set, char* previous) {
  TokenParserLevel* l = level();
  if (!l) {
    if (previous)
      previous[0] = '\0';
    m_previousPunctuation[0] = '\0';
    return m_previousPunctuation;
  }
  // Taken first: the new set may be the old one this call returned last time (save and restore),
  // which the copies below overwrite.
  char next[TokenParserLevel::kSetSize] = {};
  copySet(next, set);
  std::memcpy(m_previousPunctuation, l->punctuation, sizeof(l->punctuation));
  if (previous)
    std::memcpy(previous, l->punctuation, sizeof(l->punctuation));
  std::memcpy(l->punctuation, next, sizeof(next));
  buildCharClass(*l);
  return m_previousPunctuation;
}

void TokenParser::setWhitespace(const char* set) {
  TokenParserLevel* l = level();
  if (!l)
    return;
  copySet(l->whitespace, set ? set : kDefaultWhitespace);
  buildCharClass(*l);
}

const char* TokenParser::getPunctuation(int offset) const {
  int index = m_current + offset;
  if (m_current < 0 || index < 0 || index > m_current)
    return "";
  return m_levels[index].punctuation;
}

bool TokenParser::isWhitespace(char c) const {
  const TokenParserLevel* l = level();
  return l && c != '\0' && (l->charClass[static_cast<unsigned char>(c)] & kClassWhitespace);
}

const char* TokenParser::token() const {
  return m_current >= 0 ? level()->token : "";
}

bool TokenParser::tokenWasQuoted() const {
  return m_current >= 0 && (level()->flags & TokenParserLevel::kQuoted);
}

bool TokenParser::tokenWasCut() const {
  return m_current >= 0 && (level()->flags & TokenParserLevel::kCut);
}

// ---------------------------------------------------------------------------------------------
// Skipping and reading

bool TokenParser::skipWhitespaceAndComments(bool crossLines, bool noComments) {
  TokenParserLevel* l = level();
  if (!l || !l->text)
    return false;
  const char* p = l->text;
  const uint8_t* cls = l->charClass;
  for (;;) {
    unsigned char c;
    while ((c = static_cast<unsigned char>(*p)) && (cls[c] & kClassWhitespace)) {
      if (c == '\n') {
        if (!crossLines) {
          l->text = p;
          return false;
        }
        ++l->line;
      }
      ++p;
    }
    if (!c) {
      l->text = p;
      return false;
    }
    if (!noComments && c == '/' && (p[1] == '/' || p[1] == '*')) {
      // A line comment stops before its newline, so the newline is skipped (and counted) above,
      // or stops a read that may not cross lines.
      p = skipComment(p, &l->line);
      continue;
    }
    l->text = p;
    return true;
  }
}

void TokenParser::readQuoted(TokenParserLevel& l) {
  const char* p = l.text;
  int lines = 0;
  const int n = scanQuoted(p, l.token, &lines);
  l.line += lines;
  p += n;
  if (*p == '"') {
    ++p;
    l.flags &= static_cast<uint8_t>(~TokenParserLevel::kInQuote);
  } else if (*p) {
    // Cut at 511 characters: the rest of the string, through its closing quote, is the next token.
    l.flags |= TokenParserLevel::kInQuote | TokenParserLevel::kCut;
  } else {
    l.flags &= static_cast<uint8_t>(~TokenParserLevel::kInQuote);
  }
  l.flags |= TokenParserLevel::kQuoted;
  l.text = p;
}

// The common read of a level in one pass, with no call: 1 a token was read, 0 none (end of the
// text, or of the line when lines may not be crossed), -1 the rest goes through readTokenSlow (a
// pushed-back token, a cut quoted string going on, a comment). White space, comments and the
// token are handled as in skipWhitespaceAndComments and readTokenSlow.
__attribute__((always_inline)) inline int readTokenFast(TokenParserLevel& l, bool crossLines) {
  const char* p = l.text;
  const uint8_t flags = l.flags;
  if (__builtin_expect((flags & (TokenParserLevel::kPushedBack | TokenParserLevel::kInQuote)) || !p, 0))
    return -1;
  l.flags = static_cast<uint8_t>(flags & ~(TokenParserLevel::kCut | TokenParserLevel::kQuoted));
  const uint8_t* cls = l.charClass;
  unsigned k = cls[static_cast<unsigned char>(*p)];
  while (k & kClassWhitespace) {
    if (*p == '\n') {
      if (!crossLines) {
        l.text = p;
        l.token[0] = '\0';
        return 0;
      }
      ++l.line;
    }
    k = cls[static_cast<unsigned char>(*++p)];
  }
  if (__builtin_expect(k & kClassNoWord, 0)) {
    if ((k & kClassSlash) && (p[1] == '/' || p[1] == '*')) {
      l.text = p;
      return -1;
    }
    if (k & kClassQuote) {
      int lines = 0;
      const int n = scanQuoted(p + 1, l.token, &lines);
      l.line += lines;
      p += 1 + n;
      if (*p == '"')
        ++p;
      else if (*p)
        l.flags |= TokenParserLevel::kInQuote | TokenParserLevel::kCut;  // the rest is the next token
      l.flags |= TokenParserLevel::kQuoted;
      l.text = p;
      return n != 0 || *p;
    }
    if (k & kClassEnd) {
      l.text = p;
      l.token[0] = '\0';
      return 0;
    }
    if (k & kClassPunctuation) {
      l.token[0] = *p;
      l.token[1] = '\0';
      l.text = p + 1;
      return 1;
    }
    // A "/" that opens no comment and is no punctuation starts a word.
  }
  const int n = scanWord(p, l.token, l);
  p += n;
  if (n == kMaxTokenLength && !(cls[static_cast<unsigned char>(*p)] & kClassWordEnd))
    l.flags |= TokenParserLevel::kCut;
  l.text = p;
  return 1;
}

bool TokenParser::readTokenSlow(bool crossLines) {
  TokenParserLevel& l = m_levels[m_current];
  if (l.flags & TokenParserLevel::kPushedBack) {
    l.flags &= static_cast<uint8_t>(~TokenParserLevel::kPushedBack);
    return l.token[0] != '\0' || (l.text && *l.text);
  }
  l.token[0] = '\0';
  if (!l.text)
    return false;
  l.flags &= static_cast<uint8_t>(~TokenParserLevel::kCut);
  if (l.flags & TokenParserLevel::kInQuote) {
    readQuoted(l);
    return l.token[0] != '\0' || *l.text;
  }
  l.flags &= static_cast<uint8_t>(~TokenParserLevel::kQuoted);
  if (!skipWhitespaceAndComments(crossLines, false))
    return false;

  const char* p = l.text;
  const uint8_t* cls = l.charClass;
  const unsigned k = cls[static_cast<unsigned char>(*p)];
  if (k & kClassQuote) {
    l.text = p + 1;
    readQuoted(l);
    return l.token[0] != '\0' || *l.text;
  }
  if (k & kClassPunctuation) {
    l.token[0] = *p++;
    l.token[1] = '\0';
    l.text = p;
    return true;
  }
  const int n = scanWord(p, l.token, l);
  p += n;
  if (n == kMaxTokenLength && !(cls[static_cast<unsigned char>(*p)] & kClassWordEnd))
    l.flags |= TokenParserLevel::kCut;
  l.text = p;
  return true;
}

// Out of line, so that the common read needs no stack frame.
__attribute__((noinline)) const char* TokenParser::nextTokenSlow(bool crossLines) {
  return readTokenSlow(crossLines) ? m_levels[m_current].token : nullptr;
}

bool TokenParser::setToken(char* out, int size) {
  TokenParserLevel* l = level();
  if (!l) {
    if (out && size > 0)
      out[0] = '\0';
    return false;
  }
  if (out && out != l->token && size > 0) {
    int limit = size < TokenParserLevel::kTokenSize ? size : TokenParserLevel::kTokenSize;
    size_t n = std::strlen(l->token);
    if (n > static_cast<size_t>(limit - 1))
      n = static_cast<size_t>(limit - 1);
    std::memcpy(out, l->token, n);
    out[n] = '\0';
  }
  return l->token[0] != '\0' || (l->text && *l->text);
}

bool TokenParser::readToken(char* out, int size, bool crossLines) {
  if (m_current < 0) {
    if (out && size > 0)
      out[0] = '\0';
    return false;
  }
  const int read = readTokenFast(m_levels[m_current], crossLines);
  const bool ok = read < 0 ? readTokenSlow(crossLines) : read != 0;
  setToken(out, size);
  return ok;
}

const char* TokenParser::nextToken(bool crossLines) {
  if (m_current < 0)
    return nullptr;
  TokenParserLevel& l = m_levels[m_current];
  const int read = readTokenFast(l, crossLines);
  if (__builtin_expect(read < 0, 0))
    return nextTokenSlow(crossLines);
  return read ? l.token : nullptr;
}

bool TokenParser::readTokenString(String& out, bool crossLines) {
  const char* t = nextToken(crossLines);
  if (!t) {
    out = "";
    return false;
  }
  out = t;
  return true;
}

void TokenParser::unreadToken() {
  TokenParserLevel* l = level();
  if (l)
    l->flags |= TokenParserLevel::kPushedBack;
}

const char* TokenParser::peekToken() {
  TokenParserLevel* l = level();
  if (!l)
    return nullptr;
  // A pushed-back token is the next token: it stays where it is.
  if (l->flags & TokenParserLevel::kPushedBack)
    return l->token;
  if (m_current < kMaxLevels - 1) {
    pushText(l->text);
    // The copy reads with the same sets (and their tables) as the level it peeks into.
    TokenParserLevel& copy = m_levels[m_current];
    std::memcpy(copy.whitespace, l->whitespace, sizeof(copy.whitespace));
    std::memcpy(copy.charClass, l->charClass, sizeof(copy.charClass));
    copy.wordStopCount = l->wordStopCount;
    std::memcpy(copy.wordStops, l->wordStops, sizeof(copy.wordStops));
    std::memcpy(copy.wordStopBlocks, l->wordStopBlocks, sizeof(copy.wordStopBlocks));
    const char* t = nextToken(true);
    popText();
    return t;
  }
  // No level left to read a copy in: consume and push back.
  const char* t = nextToken(true);
  if (!t)
    return nullptr;
  unreadToken();
  return t;
}

bool TokenParser::peekTokenOnLine() {
  TokenParserLevel* l = level();
  if (!l || !l->text)
    return false;
  if (l->flags & (TokenParserLevel::kPushedBack | TokenParserLevel::kInQuote))
    return true;
  const char* savedText = l->text;
  int savedLine = l->line;
  bool found = skipWhitespaceAndComments(false, false);
  // An empty quoted string that ends the text is no token (readToken gives false for it).
  if (found && l->text[0] == '"' && l->text[1] == '"' && l->text[2] == '\0')
    found = false;
  l->text = savedText;
  l->line = savedLine;
  return found;
}

bool TokenParser::checkToken(const char* expected, bool crossLines) {
  if (!nextToken(crossLines))
    return false;
  if (String::icmp(m_levels[m_current].token, expected ? expected : "") == 0)
    return true;
  unreadToken();
  return false;
}

bool TokenParser::expectToken(const char* expected, bool crossLines, const char* sourceName, int sourceLine) {
  if (!expected)
    expected = "";
  if (m_current < 0) {
    parserMessage("Syntax Error: parsed '%s' while expecting '%s'\n", "<EOF>", expected);
    return false;
  }
  if (!nextToken(crossLines)) {
    const TokenParserLevel& l = m_levels[m_current];
    bool atEnd = !l.text || !*l.text;
    parserMessage("Syntax Error: parsed '%s' while expecting '%s'\n",
                  atEnd || crossLines ? "<EOF>" : "<newline>", expected);
    printErrorReport(sourceName, sourceLine);
    return false;
  }
  if (String::icmp(m_levels[m_current].token, expected) == 0)
    return true;
  parserMessage("Syntax Error: parsed '%s' while expecting '%s'\n", m_levels[m_current].token, expected);
  printErrorReport(sourceName, sourceLine);
  return false;
}

// ---------------------------------------------------------------------------------------------
// Numbers

bool TokenParser::parseFloats(float* out, int count, char separator, bool crossLines) {
  if (!nextToken(true)) {
    parserMessage("Syntax Error: parsed '%d' floats while expecting '%d'\n", 0, count);
    return false;
  }
  bool parenthesised = std::strcmp(m_levels[m_current].token, "(") == 0;
  if (!parenthesised)
    unreadToken();
  const char separatorText[2] = {separator, '\0'};
  for (int i = 0; i < count; ++i) {
    const char* t = nextToken(crossLines);
    if (!t) {
      parserMessage("Syntax Error: parsed '%d' floats while expecting '%d'\n", i, count);
      printErrorReport("tokenparser", __LINE__);
      return false;
    }
    warnNumberRange(t);
    if (out)
      out[i] = static_cast<float>(textToDouble(t));
    if (separator && i + 1 < count && !expectToken(separatorText, crossLines, "tokenparser", __LINE__)) {
      parserMessage("Syntax Error: parsed '%d' floats while expecting '%d'\n", i + 1, count);
      return false;
    }
  }
  if (parenthesised)
    return expectToken(")", crossLines, "tokenparser", __LINE__);
  return true;
}

bool TokenParser::parseInts(int* out, int count, char separator, bool crossLines) {
  if (!nextToken(true))
    return false;
  bool parenthesised = std::strcmp(m_levels[m_current].token, "(") == 0;
  if (!parenthesised)
    unreadToken();
  const char separatorText[2] = {separator, '\0'};
  for (int i = 0; i < count; ++i) {
    const char* t = nextToken(crossLines);
    if (!t)
      return false;
    warnNumberRange(t);
    if (out)
      out[i] = textToInt(t);
    if (separator && i + 1 < count && !expectToken(separatorText, crossLines, "tokenparser", __LINE__))
      return false;
  }
  if (parenthesised)
    return expectToken(")", crossLines, "tokenparser", __LINE__);
  return true;
}

float TokenParser::parseFloat() {
  const char* t = nextToken(false);
  if (t)
    warnNumberRange(t);
  return t ? static_cast<float>(textToDouble(t)) : 0.0f;
}

int TokenParser::parseInt() {
  const char* t = nextToken(false);
  if (t)
    warnNumberRange(t);
  return t ? textToInt(t) : 0;
}

// ---------------------------------------------------------------------------------------------
// Lines, sections and blocks

bool TokenParser::readLine(char* out, int size) {
  TokenParserLevel* l = level();
  if (!l) {
    if (out && size > 0)
      out[0] = '\0';
    return false;
  }
  l->flags &= static_cast<uint8_t>(
      ~(TokenParserLevel::kPushedBack | TokenParserLevel::kInQuote | TokenParserLevel::kQuoted));
  l->token[0] = '\0';
  bool ok = skipWhitespaceAndComments(true, false);
  const char* p = l->text;
  int n = 0;
  while (ok) {
    unsigned char c = static_cast<unsigned char>(*p);
    if (c == '\0' || (c < 0x20 && c != '\t'))
      break;
    if (c == '/' && p[1] == '/')
      break;
    if (c == '/' && p[1] == '*') {
      const char* q = p + 1;
      while (*q && !(q[0] == '*' && q[1] == '/')) {
        if (*q == '\n')
          ++l->line;
        ++q;
      }
      if (!*q) {
        p = q;
        ok = false;
        break;
      }
      p = q + 2;
      continue;
    }
    if (n >= kMaxTokenLength)
      break;
    l->token[n++] = static_cast<char>(c);
    ++p;
  }
  l->token[n] = '\0';
  l->text = p;
  setToken(out, size);
  return ok;
}

bool TokenParser::readBracedSection(String& out) {
  out = "";
  TokenParserLevel* l = level();
  if (!l || !l->text)
    return false;
  const char* p = l->text;
  if ((l->flags & TokenParserLevel::kPushedBack) && std::strcmp(l->token, "{") == 0) {
    l->flags &= static_cast<uint8_t>(~TokenParserLevel::kPushedBack);
  } else {
    l->flags &= static_cast<uint8_t>(~TokenParserLevel::kPushedBack);
    while (*p && *p != '{') {
      if (*p == '\n')
        ++l->line;
      ++p;
    }
    if (!*p) {
      l->text = p;
      return false;
    }
    ++p;
  }
  l->flags &= static_cast<uint8_t>(~(TokenParserLevel::kInQuote | TokenParserLevel::kQuoted));

  int indent = 0;
  while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n') {
    if (*p == '\n') {
      ++l->line;
      indent = 0;
    } else if (*p != '\r') {
      ++indent;
    }
    ++p;
  }

  // Collected in a local buffer and assigned once: a body may be many kilobytes.
  int capacity = 256;
  int n = 0;
  char* buffer = new char[capacity];
  auto put = [&](char c) {
    if (n + 1 >= capacity) {
      char* bigger = new char[capacity * 2];
      std::memcpy(bigger, buffer, static_cast<size_t>(n));
      delete[] buffer;
      buffer = bigger;
      capacity *= 2;
    }
    buffer[n++] = c;
  };

  int depth = 1;
  while (*p) {
    char c = *p;
    if (c == '{') {
      ++depth;
    } else if (c == '}') {
      if (--depth == 0) {
        ++p;
        break;
      }
    }
    put(c);
    ++p;
    if (c == '\n') {
      ++l->line;
      int skipped = 0;
      while (skipped < indent && (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n')) {
        if (*p == '\n') {
          put('\n');
          ++l->line;
          ++p;
          skipped = 0;
          continue;
        }
        ++p;
        ++skipped;
      }
    }
  }
  while (n > 0 &&
         (buffer[n - 1] == ' ' || buffer[n - 1] == '\t' || buffer[n - 1] == '\r' || buffer[n - 1] == '\n'))
    --n;
  buffer[n] = '\0';
  l->text = p;
  out = buffer;
  delete[] buffer;
  return n > 0;
}

bool TokenParser::skipBlock(int depth) {
  if (depth <= 0) {
    if (!expectToken("{", true, "tokenparser", __LINE__))
      return false;
    depth = 1;
  }
  while (depth > 0) {
    const char* t = nextToken(true);
    if (!t)
      break;
    if (std::strchr(t, '{'))
      ++depth;
    if (std::strchr(t, '}'))
      --depth;
  }
  return true;
}

bool TokenParser::skipToLine(int line) {
  TokenParserLevel* l = level();
  if (!l || !l->text || line < 1)
    return false;
  l->flags = 0;
  l->token[0] = '\0';
  if (line < l->line) {
    l->text = l->start;
    l->line = 1;
  }
  const char* p = l->text;
  while (l->line < line) {
    const char* nl = std::strchr(p, '\n');
    if (!nl) {
      l->text = p + std::strlen(p);
      return false;
    }
    p = nl + 1;
    ++l->line;
  }
  l->text = p;
  return true;
}

void TokenParser::warnNumberRange(const char* text, int line) {
  TokenParserLevel* l = level();
  if (!l || (l->flags & TokenParserLevel::kNumberWarned))
    return;
  const char* number = findNumberOutOfRange(text);
  if (!number)
    return;
  l->flags |= TokenParserLevel::kNumberWarned;
  if (line <= 0)
    line = l->line;
  if (!l->sourceName)
    numberRangeMessage(nullptr, line, number);
  else
    numberRangeMessage(l->sourceName, l->lineBase >= 0 ? l->lineBase + line : 0, number);
}

void TokenParser::printErrorReport(const char* sourceName, int sourceLine) {
  const TokenParserLevel* l = level();
  if (l && l->file) {
    parserMessage("SCRIPT: file '%s' line '%d'\n", l->file->name, l->line);
  } else if (l) {
    parserMessage("SCRIPT_LINE: '%d'\n", l->line);
    if (m_levels[0].file)
      parserMessage("POTENTIAL_SCRIPT_SOURCE: %s\n", m_levels[0].file->name);
    parserMessage("SCRIPT_DATA:\n");
    int digits = digitCount(l->line);
    const char* p = l->start;
    for (int lineNo = 1; p && lineNo <= l->line + 1; ++lineNo) {
      const char* end = p;
      while (*end && *end != '\n')
        ++end;
      int length = static_cast<int>(end - p);
      if (length > 0 && p[length - 1] == '\r')
        --length;
      if (length > 3000)
        length = 3000;
      parserMessage("[%0*d] %.*s\n", digits, lineNo, length, p);
      if (!*end)
        break;
      p = end + 1;
    }
  }
  if (sourceName || sourceLine)
    parserMessage("CODE: file '%s' line '%d'\n", sourceName ? sourceName : "", sourceLine);
}

// ---------------------------------------------------------------------------------------------
// Statements and key/value text

int TokenParser::splitStatements(StringList64& list, const char* text) {
  list.clear();
  if (!text)
    return 0;
  TokenParser parser;
  parser.pushText(text);
  parser.setWhitespace(" \t\r");
  parser.setPunctuation(";\n");
  bool full = false;
  for (;;) {
    const char* t = parser.nextToken(true);
    if (!t)
      break;
    // A quoted ";" is a word, not the end of the statement.
    if (!parser.tokenWasQuoted() && (std::strcmp(t, ";") == 0 || std::strcmp(t, "\n") == 0))
      break;
    if (!full && list.appendPacked(t) < 0)
      full = true;
  }
  return static_cast<int>(parser.textPosition() - text);
}

bool copyBracedGroup(char* out, int size, const char* text) {
  if (!out || size <= 0)
    return false;
  out[0] = '\0';
  if (!text)
    return false;
  const char* open = std::strchr(text, '{');
  if (!open)
    return false;
  const char* close = std::strchr(open, '}');
  size_t length = close ? static_cast<size_t>(close - open) + 1 : std::strlen(open);
  if (length + 1 > static_cast<size_t>(size))
    return false;
  std::memcpy(out, open, length);
  out[length] = '\0';
  return true;
}

bool readKeyValue(TokenParser& parser, char* key, char* value) {
  key[0] = value[0] = '\0';
  if (!parser.readToken(key, TokenParserLevel::kTokenSize, true))
    return false;
  // A key without a value on its line reads as an empty value.
  parser.readToken(value, TokenParserLevel::kTokenSize, false);
  return true;
}

const char* findKeyValueInText(const char* text, const char* defaultText, const char* key) {
  static constexpr int kBufferSize = 8192;
  static char buffers[2][kBufferSize];
  static int which = 0;
  which ^= 1;
  char* result = buffers[which];
  result[0] = '\0';
  if (!text || !key || std::strlen(text) >= kBufferSize)
    return result;

  TokenParser parser;
  parser.pushText(text);
  char k[TokenParserLevel::kTokenSize];
  char v[TokenParserLevel::kTokenSize];
  while (readKeyValue(parser, k, v)) {
    if (v[0] && String::icmp(k, key) == 0) {
      std::snprintf(result, kBufferSize, "%s", v);
      return result;
    }
  }
  std::snprintf(result, kBufferSize, "%s", defaultText ? defaultText : "");
  return result;
}
