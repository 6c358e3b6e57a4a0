// String: the engine's one text class (8-bit, zero-terminated, length kept,
// short texts inline), plus the free formatting helpers (va, bounded prints)
// and the number tests on plain character arrays.
#pragma once

#include <cstdarg>
#include <cstddef>

#if defined(__GNUC__)
#define QUILL_PRINTF_LIKE(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define QUILL_PRINTF_LIKE(fmt, args)
#endif

class String {
 public:
  // Texts of up to kBaseSize - 1 characters never touch the heap.
  static constexpr int kBaseSize = 20;
  // Heap storage is always a multiple of this many bytes.
  static constexpr int kAllocGranularity = 32;
  // Limits of the formatting operations (characters, without the terminator).
  static constexpr int kFormatLimit = 16383;
  static constexpr int kVFormatLimit = 31998;
  static constexpr int kFloatArrayLimit = 1023;

  String();
  String(const char* text);             // implicit on purpose: String s = "name";
  String(const char* text, int count);  // at most count characters of text
  String(const String& other);
  String(String&& other) noexcept;
  ~String();

  String& operator=(const String& other);
  String& operator=(String&& other) noexcept;
  String& operator=(const char* text);

  const char* c_str() const { return data; }
  int length() const { return len; }
  int allocated() const { return alloced; }
  bool isEmpty() const { return len == 0; }
  char operator[](int index) const;
  char& operator[](int index);

  // Storage.
  void reAllocate(int size, bool keepOld);
  void freeData();
  // Empties the string and returns to the inline buffer.
  void clear() { freeData(); }

  // Comparisons on zero-terminated texts: -1, 0 or 1. Characters compare as
  // signed bytes; the case-insensitive forms fold only "A"-"Z".
  static int cmp(const char* a, const char* b);
  static int cmpn(const char* a, const char* b, int n);
  static int icmp(const char* a, const char* b);
  static int icmpn(const char* a, const char* b, int n);
  static bool iendsWith(const char* text, const char* suffix);
  static bool istartsWith(const char* text, const char* prefix);
  int cmp(const char* text) const { return cmp(data, text); }
  int cmpn(const char* text, int n) const { return cmpn(data, text, n); }
  int icmp(const char* text) const { return icmp(data, text); }
  int icmpn(const char* text, int n) const { return icmpn(data, text, n); }
  bool iendsWith(const char* suffix) const { return iendsWith(data, suffix); }

  // ASCII case mapping in the C locale, whatever the process locale is.
  static char toLowerChar(char c);
  static char toUpperChar(char c);
  static bool isSpaceChar(char c);

  // Search; indices are into data, -1 when not found.
  int find(char ch, int start = 0, int end = -1) const;
  int rfind(char ch, int start = 0, int end = -1) const;
  int findText(const char* text, bool caseSensitive = true, int start = 0, int end = -1) const;
  // Case-insensitive substring search; the result points into string, or is
  // null when text does not occur (or either is null).
  static const char* ifind(const char* string, const char* text);

  // Editing; every operation keeps data[len] == 0.
  void append(const char* text);
  void append(const char* text, int count);
  void append(char ch);
  void appendString(const String& other);
  String& operator+=(const char* text) {
    append(text);
    return *this;
  }
  String& operator+=(const String& other) {
    appendString(other);
    return *this;
  }
  String& operator+=(char ch) {
    append(ch);
    return *this;
  }
  void replaceChar(char from, char to);
  void backSlashesToSlashes();
  bool stripLeadingOnce(const char* text);
  void stripLeading(const char* text);
  void stripLeadingChar(char ch);
  void stripTrailing(char ch);
  bool stripTrailingTextOnce(const char* text);
  void stripTrailingText(const char* text);
  void stripQuotes();
  void trim();
  void toLower();
  void toUpper();
  // Replaces every occurrence of find by with, left to right; replacements
  // never take part in later matches. An empty or null find changes nothing.
  void replace(const char* find, const char* with);
  // Reads the token at position (skipping leading delimiters) into out and
  // leaves position on the delimiter that ended it. Returns !out.isEmpty().
  bool tokenize(String& out, const char* delimiters, int& position) const;
  // Cuts the text to at most n characters.
  void capLength(int n);

  // Paths: a separator is "/" or "\". Outputs may be this same string.
  void setFileExtension(const char* ext);
  void setFileName(const char* name);
  void setFilePath(const char* path);
  void fileName(String& out) const;
  void filePath(String& out) const;
  // The file name without directory and extension ("maps/e1.bsp" -> "e1").
  void fileBase(String& out) const;
  // The extension without its dot, empty when there is none.
  void fileExtension(String& out) const;

  // Copies.
  String mid(int start, int length) const;
  String left(int n) const;
  String right(int n) const;
  static String concat(const String& a, const String& b);
  static String concatCString(const String& a, const char* b);
  static String concatCStr(const char* a, const String& b);

  // Number tests on the whole string (see isIntegerText / isNumericText).
  bool isInteger() const;
  bool isNumeric() const;

  // Prints into the string; returns the length, or -1 when the output was cut
  // to the limit (the string then holds the first kFormatLimit characters).
  int format(const char* fmt, ...) QUILL_PRINTF_LIKE(2, 3);
  // As format with a limit of kVFormatLimit characters.
  int vformat(const char* fmt, va_list args);

  // count floats at the given number of decimals, separated by one blank;
  // zeros ending the last number's decimals are removed ("3." at precision 5).
  // The result lives in a va buffer.
  static const char* floatArrayToString(const float* values, int count, int precision);

 private:
  void assignRaw(const char* text, size_t count);
  void appendRaw(const char* text, size_t count);

  int len;
  int alloced;
  char* data;
  char baseBuffer[kBaseSize];
};

bool operator==(const String& a, const String& b);
bool operator==(const String& a, const char* b);
bool operator!=(const String& a, const String& b);
bool operator!=(const String& a, const char* b);
// Exact byte order (String::cmp), for sorting.
bool operator<(const String& a, const String& b);
String operator+(const String& a, const String& b);
String operator+(const String& a, const char* b);
String operator+(const char* a, const String& b);

// Number tests over length characters of text (-1: up to the terminator).
// Integer: blanks anywhere, one sign before the first digit, at least one digit.
bool isIntegerText(const char* text, int length = -1);
// Numeric: an integer, or digits with "." after at least one digit ("1." yes,
// ".5" no); a second sign is refused.
bool isNumericText(const char* text, int length = -1);

// Prints into one of four rotating 16,384-byte buffers of the calling thread
// and returns it; a result stays valid until the fourth following call.
const char* va(const char* fmt, ...) QUILL_PRINTF_LIKE(1, 2);
// Prints at most size - 1 characters and always terminates (when size > 0).
// Returns the printed length, or -1 when the output was cut or printing failed.
int vsnprintfTerminated(char* buffer, size_t size, const char* fmt, va_list args);
int sprintfBounded(char* buffer, size_t size, const char* fmt, ...) QUILL_PRINTF_LIKE(3, 4);
