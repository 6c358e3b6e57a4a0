// String class: storage growth, comparisons, editing, paths, number tests and
// the formatting helpers.
#include "lib/str.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <thread>

namespace {

bool storedInline(const String& s) {
  const char* p = s.c_str();
  const char* self = reinterpret_cast<const char*>(&s);
  return p >= self && p < self + sizeof(String);
}

std::string repeat(char c, int n) {
  return std::string(size_t(n), c);
}

}  // namespace

// ---------------------------------------------------------------------------
// Storage

TEST(String, InlineUpTo19CharactersThenHeapInSteps32) {
  struct Case {
    int length;
    int alloced;
    bool inlineStorage;
  };
  const Case cases[] = {
      {0, 20, true},   {19, 20, true},  {20, 32, false}, {31, 32, false},
      {32, 64, false}, {33, 64, false}, {63, 64, false}, {64, 96, false},
  };
  for (const Case& c : cases) {
    // Grown one character at a time, as the console and parsers do.
    String s;
    for (int i = 0; i < c.length; i++) {
      s.append(char('a' + i % 26));
    }
    EXPECT_EQ(s.length(), c.length);
    EXPECT_EQ(s.allocated(), c.alloced) << "length " << c.length;
    EXPECT_EQ(storedInline(s), c.inlineStorage) << "length " << c.length;
    EXPECT_EQ(strlen(s.c_str()), size_t(c.length)) << "terminator missing at length " << c.length;

    // Built in one go.
    String t(repeat('x', c.length).c_str());
    EXPECT_EQ(t.allocated(), c.alloced) << "length " << c.length;
  }
}

TEST(String, FreeDataReturnsToInlineBuffer) {
  String s(repeat('q', 40).c_str());
  ASSERT_FALSE(storedInline(s));
  s.freeData();
  EXPECT_TRUE(storedInline(s));
  EXPECT_EQ(s.allocated(), 20);
  EXPECT_EQ(s.length(), 0);
  EXPECT_STREQ(s.c_str(), "");
  s = "short";
  EXPECT_TRUE(storedInline(s)) << "a short text after freeData must not touch the heap";
}

TEST(String, ReAllocateRoundsToMultiplesOf32AndKeepsText) {
  String s("hello");
  s.reAllocate(33, true);
  EXPECT_EQ(s.allocated(), 64);
  EXPECT_STREQ(s.c_str(), "hello");
  s.reAllocate(64, true);
  EXPECT_EQ(s.allocated(), 64) << "a multiple of 32 is kept";
  s.reAllocate(40, false);
  EXPECT_EQ(s.length(), 0);
  EXPECT_STREQ(s.c_str(), "");
}

TEST(String, AppendOfItsOwnTextSurvivesReallocation) {
  // The source points into the storage that the growth replaces.
  struct Case {
    int length;
    int offset;
  };
  const Case cases[] = {{19, 0}, {19, 5}, {31, 3}, {32, 0}, {100, 50}};
  for (const Case& c : cases) {
    std::string text;
    for (int i = 0; i < c.length; i++) {
      text += char('a' + i % 26);
    }
    String s(text.c_str());
    s.append(s.c_str() + c.offset);
    EXPECT_EQ(std::string(s.c_str()), text + text.substr(size_t(c.offset)))
        << "length " << c.length << " offset " << c.offset;
    EXPECT_EQ(s.length(), int(strlen(s.c_str())));

    String t(text.c_str());
    t.appendString(t);
    EXPECT_EQ(std::string(t.c_str()), text + text);
    t = t.c_str() + 3;  // assignment from its own tail
    EXPECT_EQ(std::string(t.c_str()), (text + text).substr(3));
  }
}

TEST(String, CopyAndMoveKeepTextAndOwnership) {
  String longText(repeat('L', 50).c_str());
  String shortText("short");
  String a(longText);
  String b(shortText);
  EXPECT_NE(a.c_str(), longText.c_str()) << "a copy owns its own storage";
  String c(std::move(a));
  EXPECT_STREQ(c.c_str(), repeat('L', 50).c_str());
  EXPECT_STREQ(a.c_str(), "");
  EXPECT_TRUE(storedInline(a));
  String d(std::move(b));
  EXPECT_STREQ(d.c_str(), "short");
  EXPECT_TRUE(storedInline(d));
  d = std::move(c);
  EXPECT_EQ(d.length(), 50);
  d = d;
  EXPECT_EQ(d.length(), 50);
  d = static_cast<const char*>(nullptr);
  EXPECT_EQ(d.length(), 0);
}

// ---------------------------------------------------------------------------
// Comparison

TEST(String, ComparisonTable) {
  struct Case {
    const char* a;
    const char* b;
    int cmp;
    int icmp;
    const char* note;
  };
  const Case cases[] = {
      {"abc", "abc", 0, 0, "equal"},
      {"ABC", "abc", -1, 0, "A-Z fold"},
      {"a", "B", 1, -1, "folding changes the order"},
      {"ab", "abc", -1, -1, "prefix sorts first"},
      {"", "", 0, 0, "empty texts"},
      {"[", "{", -1, -1, "only A-Z fold"},
      {"@", "`", -1, -1, "only A-Z fold"},
      {"\x80", "a", -1, -1, "bytes compare signed"},
      {"a", "\xff", 1, 1, "bytes compare signed"},
      {"\xc9", "\xe9", -1, -1, "no folding outside ASCII"},
      {"\xe9", "\xe9", 0, 0, "equal high bytes"},
      {"Z", "z", -1, 0, "A-Z fold"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(String::cmp(c.a, c.b), c.cmp) << "cmp: " << c.note;
    EXPECT_EQ(String::icmp(c.a, c.b), c.icmp) << "icmp: " << c.note;
    EXPECT_EQ(String::cmp(c.b, c.a), -c.cmp) << "cmp must be antisymmetric: " << c.note;
    EXPECT_EQ(String::icmp(c.b, c.a), -c.icmp) << "icmp must be antisymmetric: " << c.note;
  }
}

TEST(String, BoundedComparisonTable) {
  struct Case {
    const char* a;
    const char* b;
    int n;
    int cmpn;
    int icmpn;
  };
  const Case cases[] = {
      {"abcd", "abcx", 3, 0, 0},   {"abcd", "abcx", 4, -1, -1}, {"ABCd", "abcX", 3, -1, 0},
      {"ab", "ab", 10, 0, 0},      {"ab", "abc", 10, -1, -1},   {"x", "y", 0, 0, 0},
      {"map_A", "MAP_b", 4, 1, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(String::cmpn(c.a, c.b, c.n), c.cmpn) << c.a << " " << c.b << " " << c.n;
    EXPECT_EQ(String::icmpn(c.a, c.b, c.n), c.icmpn) << c.a << " " << c.b << " " << c.n;
  }
}

TEST(String, IEndsWithTable) {
  struct Case {
    const char* text;
    const char* suffix;
    bool expected;
  };
  const Case cases[] = {
      {"models/a.MD5mesh", ".md5mesh", true},
      {"a.tga", "a.tga", true},
      {"tga", ".tga", false},
      {"abc", "", true},
      {"", "", true},
      {"a.tga", ".jpg", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(String::iendsWith(c.text, c.suffix), c.expected) << c.text << " / " << c.suffix;
  }
  EXPECT_FALSE(String::iendsWith(nullptr, "a"));
}

TEST(String, IStartsWithTable) {
  struct Case {
    const char* text;
    const char* prefix;
    bool expected;
  };
  const Case cases[] = {
      {"listConVars", "LISTcon", true}, {"g_fov", "g_fov", true}, {"g_", "g_fov", false},
      {"abc", "", true},                {"", "", true},           {"[x", "{x", false},
      {"ab", "b", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(String::istartsWith(c.text, c.prefix), c.expected) << c.text << " / " << c.prefix;
  }
  EXPECT_FALSE(String::istartsWith(nullptr, "a"));
  EXPECT_FALSE(String::istartsWith("a", nullptr));
}

TEST(String, OperatorsCompareExactly) {
  String a("Name");
  EXPECT_TRUE(a == "Name");
  EXPECT_FALSE(a == "name");
  EXPECT_TRUE(a != String("name"));
  EXPECT_TRUE(String("B") < String("a"));
  EXPECT_FALSE(a == static_cast<const char*>(nullptr));
  EXPECT_STREQ((a + "/" + String("x")).c_str(), "Name/x");
  EXPECT_STREQ(("pre" + a).c_str(), "preName");
}

// ---------------------------------------------------------------------------
// Case and white space take bytes, never the process locale

TEST(String, CaseFoldingAndTrimTouchOnlyAscii) {
  String s("\xc0Hello W\xe9rld\xff");
  s.toLower();
  EXPECT_STREQ(s.c_str(), "\xc0hello w\xe9rld\xff");
  s.toUpper();
  EXPECT_STREQ(s.c_str(), "\xc0HELLO W\xe9RLD\xff");

  String t(" \t\r\n\v\f\xa0 mid \x85\n ");
  t.trim();
  EXPECT_STREQ(t.c_str(), "\xa0 mid \x85") << "bytes 0x85 and 0xa0 are not white space";
  String blank(" \t \n");
  blank.trim();
  EXPECT_EQ(blank.length(), 0);
}

// ---------------------------------------------------------------------------
// Search

TEST(String, FindTable) {
  String s("abcabc");
  struct Case {
    char ch;
    int start;
    int end;
    int find;
    int rfind;
  };
  const Case cases[] = {
      {'a', 0, -1, 0, 3},   {'c', 0, -1, 2, 5},  {'a', 1, -1, 3, 3}, {'a', 1, 3, -1, -1},
      {'z', 0, -1, -1, -1}, {'b', 4, 2, -1, -1}, {'c', -5, 3, 2, 2}, {'a', 0, 100, 0, 3},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(s.find(c.ch, c.start, c.end), c.find) << c.ch << " " << c.start << " " << c.end;
    EXPECT_EQ(s.rfind(c.ch, c.start, c.end), c.rfind) << c.ch << " " << c.start << " " << c.end;
  }
}

TEST(String, FindTextTable) {
  struct Case {
    const char* text;
    const char* find;
    bool caseSensitive;
    int start;
    int end;
    int expected;
  };
  const Case cases[] = {
      {"abc", "c", true, 0, -1, 2},      {"abc", "abc", true, 0, -1, 0},    {"abc", "abcd", true, 0, -1, -1},
      {"xAbCx", "abc", false, 0, -1, 1}, {"xAbCx", "abc", true, 0, -1, -1}, {"abab", "ab", true, 1, -1, 2},
      {"abab", "ab", true, 0, 3, 0},     {"abab", "ab", true, 1, 3, -1},    {"[x]", "{X}", false, 0, -1, -1},
  };
  for (const Case& c : cases) {
    String s(c.text);
    EXPECT_EQ(s.findText(c.find, c.caseSensitive, c.start, c.end), c.expected) << c.text << " / " << c.find;
  }
  String self("same");
  EXPECT_EQ(self.findText(self.c_str()), 0);
}

TEST(String, IFindPointsIntoTheFirstText) {
  const char* text = "Textures/Base/WALL.tga";
  EXPECT_EQ(String::ifind(text, "wall"), text + 14);
  EXPECT_EQ(String::ifind(text, "TEXTURES"), text);
  EXPECT_EQ(String::ifind(text, ".jpg"), nullptr);
  EXPECT_EQ(String::ifind(text, "tga2"), nullptr);
  EXPECT_EQ(String::ifind(nullptr, "a"), nullptr);
}

// ---------------------------------------------------------------------------
// Editing

TEST(String, StripTable) {
  enum Op { kLeadingOnce, kLeading, kLeadingChar, kTrailing, kTrailingTextOnce, kTrailingText, kQuotes };
  struct Case {
    Op op;
    const char* text;
    const char* arg;
    const char* expected;
    bool result;  // for the *Once forms
  };
  const Case cases[] = {
      {kLeadingOnce, "abab-x", "ab", "ab-x", true},
      {kLeadingOnce, "abab-x", "AB", "abab-x", false},  // exact comparison
      {kLeadingOnce, "abc", "", "abc", false},
      {kLeadingOnce, "ab", "abc", "ab", false},
      {kLeading, "abab-x", "ab", "-x", true},
      {kLeading, "ab", "ab", "", true},
      {kLeadingChar, "///a/", "/", "a/", true},
      {kLeadingChar, "a", "", "a", true},
      {kTrailing, "1.500", "0", "1.5", true},
      {kTrailing, "000", "0", "", true},
      {kTrailingTextOnce, "a.TGA.tga", ".tga", "a.TGA", true},
      {kTrailingTextOnce, "a.tga", ".jpg", "a.tga", false},
      {kTrailingText, "a.TGA.tga", ".tga", "a", true},
      {kTrailingText, "abc", "", "abc", true},
      {kQuotes, "\"quoted\"", "", "quoted", true},
      {kQuotes, "\"open", "", "open", true},
      {kQuotes, "close\"", "", "close", true},
      {kQuotes, "\"", "", "", true},
      {kQuotes, "none", "", "none", true},
  };
  for (const Case& c : cases) {
    String s(c.text);
    bool result = true;
    switch (c.op) {
      case kLeadingOnce:
        result = s.stripLeadingOnce(c.arg);
        break;
      case kLeading:
        s.stripLeading(c.arg);
        break;
      case kLeadingChar:
        s.stripLeadingChar(c.arg[0]);
        break;
      case kTrailing:
        s.stripTrailing(c.arg[0]);
        break;
      case kTrailingTextOnce:
        result = s.stripTrailingTextOnce(c.arg);
        break;
      case kTrailingText:
        s.stripTrailingText(c.arg);
        break;
      case kQuotes:
        s.stripQuotes();
        break;
    }
    EXPECT_STREQ(s.c_str(), c.expected) << "op " << c.op << " on " << c.text;
    EXPECT_EQ(s.length(), int(strlen(c.expected))) << "op " << c.op << " on " << c.text;
    EXPECT_EQ(result, c.result) << "op " << c.op << " on " << c.text;
  }
  String s("x");
  EXPECT_FALSE(s.stripLeadingOnce(nullptr));
}

TEST(String, ReplaceTable) {
  struct Case {
    const char* text;
    const char* find;
    const char* with;
    const char* expected;
  };
  const Case cases[] = {
      {"aaa", "a", "a", "aaa"},
      {"aab", "ab", "ba", "aba"},
      {"aa", "a", "aa", "aaaa"},
      {"abcabc", "b", "", "acac"},
      {"a.b.c", ".", "::", "a::b::c"},
      {"xyz", "q", "long replacement", "xyz"},
      {"$a$b", "$", "$$", "$$a$$b"},  // replacements are never matched again
      {"aaaa", "aa", "b", "bb"},
      {"abc", "", "x", "abc"},
      {"base/textures/wall", "/", "\\", "base\\textures\\wall"},
  };
  for (const Case& c : cases) {
    String s(c.text);
    s.replace(c.find, c.with);
    EXPECT_STREQ(s.c_str(), c.expected) << c.text << ": " << c.find << " -> " << c.with;
    EXPECT_EQ(s.length(), int(strlen(c.expected)));
  }
  // Growth past the inline buffer.
  String grow("a,b,c,d,e,f,g,h");
  grow.replace(",", " and ");
  EXPECT_STREQ(grow.c_str(), "a and b and c and d and e and f and g and h");
}

TEST(String, TokenizeWalksDelimitedTokens) {
  String s("  a,b");
  String out("stale");
  int position = 0;
  EXPECT_TRUE(s.tokenize(out, " ,", position));
  EXPECT_STREQ(out.c_str(), "a");
  EXPECT_TRUE(s.tokenize(out, " ,", position));
  EXPECT_STREQ(out.c_str(), "b");
  EXPECT_FALSE(s.tokenize(out, " ,", position));
  EXPECT_STREQ(out.c_str(), "");
  EXPECT_EQ(position, 5);

  int negative = -1;
  out = "stale";
  s.tokenize(out, " ,", negative);
  EXPECT_STREQ(out.c_str(), "");
  EXPECT_EQ(negative, -1);

  String trailing("x  ");
  int p = 1;
  EXPECT_FALSE(trailing.tokenize(out, " ", p)) << "only delimiters left gives an empty token";

  String self("one two");
  int q = 0;
  self.tokenize(self, " ", q);
  EXPECT_STREQ(self.c_str(), "one") << "the output may be the tokenized string itself";
}

// ---------------------------------------------------------------------------
// Paths

TEST(String, PathTable) {
  enum Op { kExtension, kName, kPath };
  struct Case {
    Op op;
    const char* text;
    const char* arg;
    const char* expected;
  };
  const Case cases[] = {
      {kExtension, "textures/a.b/name", ".tga", "textures/a.b/name.tga"},
      {kExtension, "name.jpg", ".tga", "name.tga"},
      {kExtension, "name.tar.gz", ".zip", "name.tar.zip"},
      {kExtension, "dir\\name.jpg", "", "dir\\name"},
      {kExtension, "name", nullptr, "name"},
      {kName, "sound\\a.wav", "x.wav", "sound\\x.wav"},
      {kName, "a.wav", "x.wav", "x.wav"},
      {kName, "maps/", "e1.map", "maps/e1.map"},
      {kName, "maps/old.map", nullptr, "maps/"},
      {kPath, "old\\dir\\file.txt", "new\\place/", "new/place/file.txt"},
      {kPath, "file.txt", "base/", "base/file.txt"},
      {kPath, "a/file.txt", "nosep", "nosepfile.txt"},  // no separator is inserted
  };
  for (const Case& c : cases) {
    String s(c.text);
    switch (c.op) {
      case kExtension:
        s.setFileExtension(c.arg);
        break;
      case kName:
        s.setFileName(c.arg);
        break;
      case kPath:
        s.setFilePath(c.arg);
        break;
    }
    EXPECT_STREQ(s.c_str(), c.expected) << "op " << c.op << " on " << c.text;
  }
}

TEST(String, PathEditsTakeTextsFromTheStringItself) {
  // The extension argument points at the very characters the cut removes.
  String s("dir/name.tga");
  s.setFileExtension(s.c_str() + s.find('.'));
  EXPECT_STREQ(s.c_str(), "dir/name.tga");
  String t("sound/a.wav");
  t.setFileName(t.c_str() + 6);
  EXPECT_STREQ(t.c_str(), "sound/a.wav");
}

TEST(String, PathPartsTable) {
  struct Case {
    const char* text;
    const char* name;
    const char* path;
    const char* base;
    const char* extension;
  };
  const Case cases[] = {
      {"maps/test.bsp", "test.bsp", "maps", "test", "bsp"},
      {"test.bsp", "test.bsp", "test.bsp", "test", "bsp"},
      {"a\\b/c.d.e", "c.d.e", "a\\b", "c.d", "e"},
      {"dir.v2/noext", "noext", "dir.v2", "noext", ""},
      {"dir/", "", "dir", "", ""},
      {"", "", "", "", ""},
  };
  for (const Case& c : cases) {
    String s(c.text);
    String out;
    s.fileName(out);
    EXPECT_STREQ(out.c_str(), c.name) << c.text;
    s.filePath(out);
    EXPECT_STREQ(out.c_str(), c.path) << c.text;
    s.fileBase(out);
    EXPECT_STREQ(out.c_str(), c.base) << c.text;
    s.fileExtension(out);
    EXPECT_STREQ(out.c_str(), c.extension) << c.text;

    String same(c.text);
    same.fileBase(same);
    EXPECT_STREQ(same.c_str(), c.base) << "fileBase into itself: " << c.text;
    String same2(c.text);
    same2.filePath(same2);
    EXPECT_STREQ(same2.c_str(), c.path) << "filePath into itself: " << c.text;
  }
}

// ---------------------------------------------------------------------------
// Copies

TEST(String, MidLeftRightClampToTheText) {
  String s("abcdef");
  struct Case {
    int start;
    int length;
    const char* expected;
  };
  const Case cases[] = {
      {0, 3, "abc"},
      {2, 2, "cd"},
      {4, 100, "ef"},
      {6, 1, ""},
      {-2, 4, "ab"},
      {3, 0, ""},
      {3, -1, ""},
      {INT_MAX, INT_MAX, ""},
      {1, INT_MAX, "bcdef"},
      {INT_MIN, INT_MAX, ""},
      {-1, INT_MAX, "abcdef"},
  };
  for (const Case& c : cases) {
    EXPECT_STREQ(s.mid(c.start, c.length).c_str(), c.expected) << c.start << " " << c.length;
  }
  EXPECT_STREQ(s.left(2).c_str(), "ab");
  EXPECT_STREQ(s.left(99).c_str(), "abcdef");
  EXPECT_STREQ(s.left(-1).c_str(), "");
  EXPECT_STREQ(s.right(2).c_str(), "ef");
  EXPECT_STREQ(s.right(99).c_str(), "abcdef");
  EXPECT_STREQ(s.right(0).c_str(), "");
  EXPECT_STREQ(String::concat(String("ab"), String("cd")).c_str(), "abcd");
  EXPECT_STREQ(String::concatCString(String("ab"), nullptr).c_str(), "ab");
  EXPECT_STREQ(String::concatCStr("x", String("y")).c_str(), "xy");
}

// ---------------------------------------------------------------------------
// Number tests

TEST(String, NumberTestTable) {
  struct Case {
    const char* text;
    bool integer;
    bool numeric;
  };
  const Case cases[] = {
      {"12", true, true},     {"- 12", true, true},   {"+7", true, true},     {" 1 2 ", true, true},
      {"1-2", false, false},  {"--1", false, false},  {"", false, false},     {" ", false, false},
      {"-", false, false},    {"1.", false, true},    {".5", false, false},   {"1.2.3", false, true},
      {"-0.5", false, true},  {"1e5", false, false},  {"0x10", false, false}, {"-1-2.5", false, false},
      {"1.5-", false, false}, {"\xb2", false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(isIntegerText(c.text), c.integer) << "'" << c.text << "'";
    EXPECT_EQ(isNumericText(c.text), c.numeric) << "'" << c.text << "'";
    String s(c.text);
    EXPECT_EQ(s.isInteger(), c.integer) << "'" << c.text << "'";
    EXPECT_EQ(s.isNumeric(), c.numeric) << "'" << c.text << "'";
  }
  // An explicit length looks at that many characters only.
  EXPECT_TRUE(isIntegerText("12x", 2));
  EXPECT_FALSE(isIntegerText("12x", 3));
  EXPECT_TRUE(isNumericText("1.5abc", 3));
  EXPECT_FALSE(isIntegerText(nullptr));
}

// ---------------------------------------------------------------------------
// Formatting

TEST(String, VaRotatesOverFourBuffers) {
  const char* r[5];
  for (int i = 0; i < 5; i++) {
    r[i] = va("value %d", i);
  }
  EXPECT_EQ(r[0], r[4]) << "the fifth call reuses the first call's buffer";
  EXPECT_STREQ(r[0], "value 4");
  for (int i = 1; i < 4; i++) {
    EXPECT_STRNE(r[i], r[(i + 1) % 4]);
    EXPECT_STREQ(r[i], (std::string("value ") + std::to_string(i)).c_str());
  }
}

TEST(String, VaBuffersArePerThread) {
  const char* mine = va("main %s", "thread");
  std::thread worker([] {
    for (int i = 0; i < 8; i++) {
      va("worker %d", i);
    }
  });
  worker.join();
  EXPECT_STREQ(mine, "main thread");
}

TEST(String, VaCutsLongOutputAtItsBuffer) {
  std::string big(20000, 'x');
  const char* r = va("%s", big.c_str());
  EXPECT_EQ(strlen(r), 16383u);
}

TEST(String, BoundedPrintsDetectTruncation) {
  struct Case {
    size_t size;
    const char* arg;
    int expected;
    const char* stored;
    const char* note;
  };
  // The runtime returns the length it would have printed; a cut must not leak it out.
  const Case cases[] = {
      {8, "abc", 3, "abc", "fits with room"}, {4, "abc", 3, "abc", "exactly fits"},
      {3, "abc", -1, "ab", "cut by one"},     {1, "abc", -1, "", "room for the terminator only"},
      {8, "", 0, "", "empty output"},
  };
  for (const Case& c : cases) {
    char buffer[16];
    memset(buffer, '#', sizeof(buffer));
    EXPECT_EQ(sprintfBounded(buffer, c.size, "%s", c.arg), c.expected) << c.note;
    EXPECT_STREQ(buffer, c.stored) << c.note;
    EXPECT_EQ(buffer[c.size], '#') << "wrote past size " << c.size;
  }
  char untouched = '#';
  EXPECT_EQ(sprintfBounded(&untouched, 0, "%s", "abc"), -1);
  EXPECT_EQ(untouched, '#');
}

namespace {

int callVFormat(String& s, const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  int n = s.vformat(fmt, args);
  va_end(args);
  return n;
}

}  // namespace

TEST(String, FormatAndVFormat) {
  String s;
  EXPECT_EQ(s.format("%s=%d", "key", 42), 6);
  EXPECT_STREQ(s.c_str(), "key=42");
  EXPECT_EQ(callVFormat(s, "%05.1f|%x", 3.25, 255), 8);
  EXPECT_STREQ(s.c_str(), "003.2|ff");

  // The arguments may be this string's own text.
  String self(repeat('s', 30).c_str());
  self.format("%s+%s", self.c_str(), self.c_str());
  EXPECT_EQ(self.length(), 61);

  std::string big(40000, 'y');
  EXPECT_EQ(s.format("%s", big.c_str()), -1) << "output cut at the limit reports -1";
  EXPECT_EQ(s.length(), String::kFormatLimit);
  EXPECT_EQ(callVFormat(s, "%s", big.c_str()), -1);
  EXPECT_EQ(s.length(), String::kVFormatLimit);
  std::string fits(size_t(String::kVFormatLimit), 'z');
  EXPECT_EQ(callVFormat(s, "%s", fits.c_str()), String::kVFormatLimit);
}

TEST(String, FloatArrayToStringTable) {
  struct Case {
    float values[4];
    int count;
    int precision;
    const char* expected;
  };
  const Case cases[] = {
      {{1, 2, 3}, 3, 5, "1.00000 2.00000 3."},  // writers rely on the bare "3."
      {{10}, 1, 0, "10"},                       // no decimals: integer zeros stay
      {{100, 20}, 2, 0, "100 20"},
      {{1.5f, 2.25f}, 2, 2, "1.50 2.25"},
      {{0.5f}, 1, 2, "0.5"},
      {{100}, 1, 2, "100."},
      {{-0.125f, 0}, 2, 3, "-0.125 0."},
      {{1, 2, 3, 4}, 4, 1, "1.0 2.0 3.0 4."},
      {{7}, 0, 5, ""},
      {{2.5f}, 1, -3, "2"},  // negative precision counts as 0
  };
  for (const Case& c : cases) {
    EXPECT_STREQ(String::floatArrayToString(c.values, c.count, c.precision), c.expected)
        << "count " << c.count << " precision " << c.precision;
  }
}

TEST(String, FloatArrayToStringStaysWithinItsBuffer) {
  float values[200];
  for (float& v : values) {
    v = 123456.0f;
  }
  const char* r = String::floatArrayToString(values, 200, 5);
  EXPECT_LE(strlen(r), size_t(String::kFloatArrayLimit));
  EXPECT_GT(strlen(r), size_t(String::kFloatArrayLimit - 13)) << "the buffer is filled before cutting";
  EXPECT_EQ(strncmp(r, "123456.00000 123456.00000", 25), 0);
}
