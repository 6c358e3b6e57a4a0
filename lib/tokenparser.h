// The one tokenizer of every text format: quoted strings, words and one-character punctuation
// tokens over NUL-terminated text, with up to four stacked input levels. No escapes, no macros.
#pragma once

#include <cstdint>

class IOData;
class String;

// One input text of a TokenParser.
struct TokenParserLevel {
  static constexpr int kTokenSize = 512;  // at most 511 characters and the terminator
  static constexpr int kSetSize = 32;     // punctuation and whitespace sets: at most 31 characters

  // flags bits
  static constexpr uint8_t kPushedBack = 0x1;  // the next read returns `token` again
  static constexpr uint8_t kInQuote = 0x2;     // a quoted string was cut at 511 characters
  static constexpr uint8_t kQuoted = 0x4;      // the last token read was a quoted string
  static constexpr uint8_t kCut = 0x8;         // the last token was cut at 511 characters
  static constexpr uint8_t kNumberWarned = 0x10;  // an out-of-range number was reported already

  const char* text;   // current read position
  const char* start;  // first character of the text
  // Length of the whole text, measured on the first textLength() call (-1 until then): a push, and
  // so every peek, stays independent of the size of the text.
  mutable int length;
  int line;           // 1 for the first line
  char token[kTokenSize];
  char punctuation[kSetSize];
  char whitespace[kSetSize];
  uint8_t flags;
  IOData* file;  // loaded by loadFile and freed on pop; null for caller texts
  // The file the text comes from, for messages (null when unknown), and the file line of the
  // text's first line minus one (-1 when only the file is known).
  const char* sourceName;
  int lineBase;
  // Per-byte class built from the two sets (bit 0 whitespace, bit 1 punctuation).
  uint8_t charClass[256];
  // The set characters above the space, for the 16-byte word scan; -1 when there are too many.
  int8_t wordStopCount;
  char wordStops[16];
  // Each of those characters repeated over 16 bytes, ready for the block comparison.
  alignas(16) char wordStopBlocks[16][16];
};

// Names the caller texts pushed while it lives (on this thread): a declaration's body is parsed
// from a copy, so the parsers that read it learn here which file it comes from and on which file
// line `text` begins. A pushed text inside `text` gets its file line too; any other only the file.
class TokenParserSource {
 public:
  TokenParserSource(const char* file, const char* text, int firstLine);
  ~TokenParserSource();
  TokenParserSource(const TokenParserSource&) = delete;
  TokenParserSource& operator=(const TokenParserSource&) = delete;
  static const TokenParserSource* current();
  // The warning of TokenParser::warnNumberRange for a reader with no parser of its own: `line` is
  // the `lineInText`th line of `text`, which is this thread's source text or a copy of part of it.
  static void warnNumberRange(const char* line, const char* text, int lineInText);

  const char* file;
  const char* text;
  int firstLine;

 private:
  const TokenParserSource* outer_;
};

// The split of one statement: at most 64 strings packed one after another into 2,047 bytes.
struct StringList64 {
  static constexpr int kMaxStrings = 64;
  static constexpr int kBufferSize = 2047;

  int count = 0;
  char* strings[kMaxStrings];
  char buffer[kBufferSize];

  StringList64() { buffer[0] = '\0'; }
  StringList64(const StringList64& other) { *this = other; }
  StringList64& operator=(const StringList64& other);

  void clear() {
    count = 0;
    buffer[0] = '\0';
  }
  // The string at an index; "" for an index outside 0..count-1.
  const char* get(int index) const { return index >= 0 && index < count ? strings[index] : ""; }
  // Appends a string behind those held. Returns the bytes left in the buffer afterwards, or -1
  // (and nothing stored) when 64 strings are held or it does not fit.
  int appendPacked(const char* text);
  // Bytes of the buffer in use.
  int used() const;
};

class TokenParser {
 public:
  static constexpr int kMaxLevels = 4;

  TokenParser();
  TokenParser(const TokenParser&) = delete;
  TokenParser& operator=(const TokenParser&) = delete;
  // Pops every level, freeing files loaded through the file system.
  virtual ~TokenParser();

  // Loads a file through g_ioSystem (game-relative, or an operating-system path when `osPath`) and
  // pushes it; false (nothing pushed) when it cannot be loaded or four levels are in use.
  virtual bool loadFile(const char* name, bool osPath = false);

  // Pushes a caller's text, which must outlive the level; false when four levels are in use.
  bool pushText(const char* text);
  // Drops the top level. Null for a file level; otherwise where it stood, or null at the end.
  const char* popText();

  const char* textPosition() const;
  const char* textStart() const;
  int textLength() const;
  int lineNumber() const;
  int levelCount() const { return m_current + 1; }

  // Null gives the empty set. Returns the old set (valid until the next call); `previous`, when
  // given, receives a copy of it (32 bytes).
  const char* setPunctuation(const char* set, char* previous = nullptr);
  // Null gives " \t\n\r".
  void setWhitespace(const char* set);
  // The punctuation set of the level `offset` away from the current one ("" when none).
  const char* getPunctuation(int offset = 0) const;
  bool isWhitespace(char c) const;

  // Reads the next token and copies it into `out` (size bytes, cut to fit). False at the end of
  // the text, or at the end of the line when `crossLines` is off.
  bool readToken(char* out, int size, bool crossLines = true);
  // readToken without a copy: the level's own token buffer, or null.
  const char* nextToken(bool crossLines = true);
  // On failure the string is emptied.
  bool readTokenString(String& out, bool crossLines = true);
  // The next token (crossing lines) without consuming it, or null at the end. The text stays valid
  // until the next read or push. A caller that asks "is there another token on this line"
  // uses peekTokenOnLine instead.
  const char* peekToken();
  // True when a further token follows on the current line; nothing is consumed.
  bool peekTokenOnLine();
  void unreadToken();
  // Copies the current token into `out`; true when it is not empty or text remains.
  bool setToken(char* out, int size);
  // The current token ("" without a level).
  const char* token() const;
  // True when the last token read was a quoted string.
  bool tokenWasQuoted() const;
  // True when the last token stopped at 511 characters and the next read continues it.
  bool tokenWasCut() const;

  // Case-insensitive. On a mismatch the token is pushed back.
  bool checkToken(const char* expected, bool crossLines = true);
  // Case-insensitive; a mismatch prints the syntax error and the error report.
  bool expectToken(const char* expected, bool crossLines, const char* sourceName, int sourceLine);

  // A list of numbers, optionally in "(" ")", with an optional separator character between them.
  bool parseFloats(float* out, int count, char separator = 0, bool crossLines = false);
  bool parseInts(int* out, int count, char separator = 0, bool crossLines = false);
  // One number from the current line; 0 when none is read.
  float parseFloat();
  int parseInt();

  // The rest of the line (comments left out) as one token.
  bool readLine(char* out, int size);
  // The text between a "{" and its matching "}" with the common indentation removed.
  bool readBracedSection(String& out);
  // Skips tokens until the braces balance; with depth 0 a "{" must come first.
  bool skipBlock(int depth = 0);
  bool skipToLine(int line);
  bool skipWhitespaceAndComments(bool crossLines, bool noComments = false);

  void printErrorReport(const char* sourceName, int sourceLine);
  // Warns once per text, naming the file and line, when `text` (a token, or a value of several
  // words) holds a number out of range (findNumberOutOfRange); `line` is the line of the current
  // text it stands on, 0 for the current line. The number reads below call it.
  void warnNumberRange(const char* text, int line = 0);

  // Splits one statement off `text` (up to ";" or a line end) into `list`; returns the number of
  // characters consumed, the separator included.
  static int splitStatements(StringList64& list, const char* text);

 private:
  TokenParserLevel* level() { return m_current >= 0 ? &m_levels[m_current] : nullptr; }
  const TokenParserLevel* level() const { return m_current >= 0 ? &m_levels[m_current] : nullptr; }
  bool readTokenSlow(bool crossLines);
  const char* nextTokenSlow(bool crossLines);
  void readQuoted(TokenParserLevel& l);

  TokenParserLevel m_levels[kMaxLevels];
  int m_current;
  char m_previousPunctuation[TokenParserLevel::kSetSize];
};

inline int splitStatements(StringList64& list, const char* text) {
  return TokenParser::splitStatements(list, text);
}

// Copies from the first "{" of `text` up to and including the next "}" (or to the end of the text)
// into `out`. False (and `out` emptied) when there is no "{" or the group does not fit.
bool copyBracedGroup(char* out, int size, const char* text);

// The value of the first pair of `text` whose key equals `key` (case-insensitive) and whose value
// is not empty, else `defaultText`; held in one of two alternating static buffers of 8,192 bytes.
// "" for a null text or key, or a text of 8,192 characters or more. Main thread only.
const char* findKeyValueInText(const char* text, const char* defaultText, const char* key);
// Reads one key and its value (on the key's line) into 512-byte buffers; false at the end.
bool readKeyValue(TokenParser& parser, char* key, char* value);

// Locale-independent conversions with the leniency of atof/atoi: leading blanks and a sign are
// accepted, the longest number prefix is read, anything else gives 0. Integers clamp.
double textToDouble(const char* text, const char** end = nullptr);
int textToInt(const char* text);
// True for a number whose magnitude reaches 2^32 (or is not finite): no count, size, time, colour
// or coordinate of this engine's content comes near it, and as an integer it does not even fit in
// 32 bits. Text that is no number is not out of range.
bool numberOutOfRange(const char* text);
// The first number of `text` that is out of range, or null: numbers are read where a word begins
// (a digit inside a name such as "entity12" or "maps/2" begins none).
const char* findNumberOutOfRange(const char* text);
