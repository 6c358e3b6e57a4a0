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

constexpr uint8_t kClassWhitespace = 0x1;
constexpr uint8_t kClassPunctuation = 0x2;
constexpr uint8_t kClassEnd = 0x4;  // NUL only
// What ends a word: one table test per character.
constexpr uint8_t kClassWordEnd = kClassWhitespace | kClassPunctuation | kClassEnd;
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

// Offset (0..16) of the first of 16 bytes at p that may end a word: a byte up to the space
// (white space, NUL, control characters) or one of the level's set characters above it. The
// caller checks the class table there. Reads 16 bytes: call only where they lie in one page.
QUILL_BLOCK_READ int wordStopCandidate(const char* p, const TokenParserLevel& l) {
#if !defined(__SSE2__)
  (void)p;
  (void)l;
  return 0;  // byte by byte
#else
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i space = _mm_set1_epi8(0x20);
  __m128i m = _mm_cmpeq_epi8(_mm_min_epu8(v, space), v);
  for (int i = 0; i < l.wordStopCount; ++i)
    m = _mm_or_si128(m, _mm_cmpeq_epi8(v, _mm_load_si128(reinterpret_cast<const __m128i*>(l.wordStopBlocks[i]))));
  return __builtin_ctz(unsigned(_mm_movemask_epi8(m)) | 0x10000u);
#endif
}

bool inOnePage(const char* p) {
  return (reinterpret_cast<uintptr_t>(p) & 4095) <= 4096 - 16;
}

// Copies n bytes and the terminator into a token buffer; short tokens (most of them) move as one
// 16-byte block instead of a library call. The block may read past the text within its page.
// The stores stay inside the 512-byte buffer: a block starts below n <= 511, at a multiple of 16.
QUILL_BLOCK_READ void copyToken(char* out, const char* p, int n) {
  int i = 0;
#if defined(__SSE2__)
  for (; i < n && inOnePage(p + i); i += 16)
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i)));
#endif
  if (i < n)
    std::memcpy(out + i, p + i, size_t(n - i));
  out[n] = '\0';
}

// Length (at most `limit`) of a quoted string's text at p, up to its closing quote or the end of
// the text; the newlines in it are added to *lines.
QUILL_BLOCK_READ int quotedLength(const char* p, int limit, int* lines) {
  int n = 0;
#if defined(__SSE2__)
  const __m128i quote = _mm_set1_epi8('"');
  const __m128i newline = _mm_set1_epi8('\n');
  const __m128i zero = _mm_setzero_si128();
  while (n + 16 <= limit && inOnePage(p + n)) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + n));
    const unsigned stop = unsigned(_mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, quote), _mm_cmpeq_epi8(v, zero))));
    unsigned breaks = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(v, newline)));
    // Newlines inside strings are rare, and the baseline instruction set has no population count.
    if (stop) {
      const int k = __builtin_ctz(stop);
      breaks &= (1u << k) - 1;
      if (breaks)
        *lines += __builtin_popcount(breaks);
      return n + k;
    }
    if (breaks)
      *lines += __builtin_popcount(breaks);
    n += 16;
  }
#endif
  for (; n < limit; ++n) {
    const char c = p[n];
    if (c == '"' || c == '\0')
      break;
    *lines += c == '\n';
  }
  return n;
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
    if (!noComments && c == '/') {
      if (p[1] == '/') {
        // The comment ends before its newline, so the newline is skipped (and counted) above, or
        // stops a read that may not cross lines.
        p += 2;
        while (*p && *p != '\n')
          ++p;
        continue;
      }
      if (p[1] == '*') {
        // Scanning from the "*" of the opening lets "/*/" close at once.
        ++p;
        while (*p && !(p[0] == '*' && p[1] == '/')) {
          if (*p == '\n')
            ++l->line;
          ++p;
        }
        if (*p)
          p += 2;
        continue;
      }
    }
    l->text = p;
    return true;
  }
}

void TokenParser::readQuoted(TokenParserLevel& l) {
  const char* p = l.text;
  // Find the end first, then copy once.
  int lines = 0;
  const int n = quotedLength(p, kMaxTokenLength, &lines);
  copyToken(l.token, p, n);
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

// The common case in one pass with the position in a register: no pushed-back token, no cut
// quoted string pending. White space, comments and the token are handled as in
// skipWhitespaceAndComments and readTokenSlow.
__attribute__((always_inline)) inline bool TokenParser::readTokenInternal(bool crossLines) {
  TokenParserLevel& l = m_levels[m_current];
  if ((l.flags & (TokenParserLevel::kPushedBack | TokenParserLevel::kInQuote)) || !l.text)
    return readTokenSlow(crossLines);
  l.flags &= static_cast<uint8_t>(~(TokenParserLevel::kCut | TokenParserLevel::kQuoted));
  const uint8_t* cls = l.charClass;
  const char* p = l.text;
  char* out = l.token;
  int line = l.line;
  unsigned char c;
  for (;;) {
    c = static_cast<unsigned char>(*p);
    if (cls[c] & kClassWhitespace) {
      if (c == '\n') {
        if (!crossLines) {
          l.line = line;
          l.text = p;
          out[0] = '\0';
          return false;
        }
        ++line;
      }
      ++p;
      continue;
    }
    if (c == '/') {
      if (p[1] == '/') {
        p = strchrnul(p + 2, '\n');
        continue;
      }
      if (p[1] == '*') {
        ++p;
        while (*p && !(p[0] == '*' && p[1] == '/')) {
          line += *p == '\n';
          ++p;
        }
        if (*p)
          p += 2;
        continue;
      }
    }
    break;
  }
  l.line = line;
  if (!c) {
    l.text = p;
    out[0] = '\0';
    return false;
  }
  if (c == '"') {
    l.text = p + 1;
    readQuoted(l);
    return l.token[0] != '\0' || *l.text;
  }
  if (cls[c] & kClassPunctuation) {
    out[0] = static_cast<char>(c);
    out[1] = '\0';
    l.text = p + 1;
    return true;
  }
  // Bounded scan (a word longer than a token is cut, and the rest is the next word), 16 bytes a
  // step where the level's sets allow, then one copy.
  int n = 1;
  const bool wide = l.wordStopCount >= 0;
  while (n < kMaxTokenLength) {
    if (wide && inOnePage(p + n)) {
      const int k = wordStopCandidate(p + n, l);
      n += k;
      if (k == 16)
        continue;
      if (n >= kMaxTokenLength)
        break;
    }
    if (cls[static_cast<unsigned char>(p[n])] & kClassWordEnd)
      break;
    ++n;
  }
  if (n > kMaxTokenLength)
    n = kMaxTokenLength;
  copyToken(out, p, n);
  p += n;
  if (n == kMaxTokenLength && !(cls[static_cast<unsigned char>(*p)] & kClassWordEnd))
    l.flags |= TokenParserLevel::kCut;
  l.text = p;
  return true;
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
  if (*p == '"') {
    l.text = p + 1;
    readQuoted(l);
    return l.token[0] != '\0' || *l.text;
  }
  const uint8_t* cls = l.charClass;
  char* out = l.token;
  if (cls[static_cast<unsigned char>(*p)] & kClassPunctuation) {
    out[0] = *p++;
    out[1] = '\0';
    l.text = p;
    return true;
  }
  int n = 0;
  unsigned char c;
  while ((c = static_cast<unsigned char>(*p)) && !(cls[c] & (kClassWhitespace | kClassPunctuation)) &&
         n < kMaxTokenLength) {
    out[n++] = static_cast<char>(c);
    ++p;
  }
  out[n] = '\0';
  if (n == kMaxTokenLength && c && !(cls[c] & (kClassWhitespace | kClassPunctuation)))
    l.flags |= TokenParserLevel::kCut;
  l.text = p;
  return true;
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
  bool ok = readTokenInternal(crossLines);
  setToken(out, size);
  return ok;
}

const char* TokenParser::nextToken(bool crossLines) {
  if (m_current < 0)
    return nullptr;
  return readTokenInternal(crossLines) ? m_levels[m_current].token : nullptr;
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
  return t ? static_cast<float>(textToDouble(t)) : 0.0f;
}

int TokenParser::parseInt() {
  const char* t = nextToken(false);
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
