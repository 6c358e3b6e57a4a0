// Token parser: token rules, line counting, number lists, blocks, levels, error texts, the statement
// splitter and the key/value helpers, plus garbage input for the sanitizers.
#include "lib/tokenparser.h"

#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "lib/interface/cmdsystem.h"
#include "lib/interface/iosystem.h"
#include "lib/str.h"
#include "tests/support/capturecmdsystem.h"
#include "tests/support/memoryiosystem.h"

namespace {

class TokenParserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_cmdSystem = &cmd;
    g_ioSystem = &io;
  }
  void TearDown() override {
    EXPECT_EQ(cmd.fatalCount, 0) << "parsing must never raise a fatal error";
    g_cmdSystem = nullptr;
    g_ioSystem = nullptr;
  }

  // Every token of a text, crossing lines.
  static std::vector<std::string> allTokens(const char* text, const char* punctuation = nullptr) {
    TokenParser parser;
    EXPECT_TRUE(parser.pushText(text));
    if (punctuation)
      parser.setPunctuation(punctuation);
    std::vector<std::string> tokens;
    char token[512];
    while (parser.readToken(token, sizeof(token), true))
      tokens.push_back(token);
    return tokens;
  }

  CaptureCmdSystem cmd;
  MemoryIOSystem io;
};

using Tokens = std::vector<std::string>;

TEST_F(TokenParserTest, TokenRules) {
  struct Case {
    const char* text;
    const char* punctuation;
    Tokens expected;
  };
  const Case cases[] = {
      {"a{b", "{", {"a", "{", "b"}},
      {"a{b", nullptr, {"a{b"}},
      {"a{{b}", "{}", {"a", "{", "{", "b", "}"}},
      {"\"x y\" z", nullptr, {"x y", "z"}},
      {"a \"\" b", nullptr, {"a", "", "b"}},
      {"\"a // b /* c\" d", nullptr, {"a // b /* c", "d"}},
      {"\"{a}\"", "{}", {"{a}"}},
      {"/*/ x", nullptr, {"x"}},
      {"a // comment\nb", nullptr, {"a", "b"}},
      {"a /* one\ntwo */ b", nullptr, {"a", "b"}},
      {"a /* never closed", nullptr, {"a"}},
      {"a // no newline", nullptr, {"a"}},
      {"x\"y\"", nullptr, {"x\"y\""}},
      {"  \t\r\n ", nullptr, {}},
      {"", nullptr, {}},
      {"\"unterminated text", nullptr, {"unterminated text"}},
      {"word\"", nullptr, {"word\""}},
      {"a/b", nullptr, {"a/b"}},
      {"(1,2)", "(),", {"(", "1", ",", "2", ")"}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(allTokens(c.text, c.punctuation), c.expected) << "text: " << c.text;
}

TEST_F(TokenParserTest, EmptyQuotedStringAtTheEndReadsFalse) {
  TokenParser parser;
  parser.pushText("a \"\"");
  char token[512];
  ASSERT_TRUE(parser.readToken(token, sizeof(token), true));
  EXPECT_FALSE(parser.readToken(token, sizeof(token), true));
  EXPECT_STREQ(token, "");
}

TEST_F(TokenParserTest, ReadingWithoutCrossingLinesStopsAtTheNewline) {
  TokenParser parser;
  parser.pushText("a\nb");
  char token[512];
  ASSERT_TRUE(parser.readToken(token, sizeof(token), false));
  EXPECT_STREQ(token, "a");
  EXPECT_FALSE(parser.readToken(token, sizeof(token), false));
  EXPECT_FALSE(parser.readToken(token, sizeof(token), false)) << "a second read stays at the line end";
  EXPECT_EQ(parser.lineNumber(), 1);
  ASSERT_TRUE(parser.readToken(token, sizeof(token), true));
  EXPECT_STREQ(token, "b");
  EXPECT_EQ(parser.lineNumber(), 2);
}

TEST_F(TokenParserTest, LineCommentEndsBeforeItsNewline) {
  TokenParser parser;
  parser.pushText("a // note\nb\nc");
  char token[512];
  ASSERT_TRUE(parser.readToken(token, sizeof(token), false));
  EXPECT_FALSE(parser.readToken(token, sizeof(token), false))
      << "the comment does not carry the read onto line 2";
  ASSERT_TRUE(parser.readToken(token, sizeof(token), true));
  EXPECT_STREQ(token, "b");
  EXPECT_EQ(parser.lineNumber(), 2) << "the comment's newline is counted";
  ASSERT_TRUE(parser.readToken(token, sizeof(token), true));
  EXPECT_EQ(parser.lineNumber(), 3);
}

TEST_F(TokenParserTest, LineNumbersCountEveryNewline) {
  struct Case {
    const char* text;
    int lineOfLastToken;
  };
  const Case cases[] = {
      {"// c\nx", 2},
      {"/* \n */ x", 2},
      {"a\n\n\nx", 4},
      {"a\r\nb\r\nx", 3},
      {"// one\n// two\n\nx", 4},
      {"\"multi\nline\" x", 2},
      {"/* a\nb\nc */ // d\nx", 4},
  };
  for (const Case& c : cases) {
    TokenParser parser;
    parser.pushText(c.text);
    const char* last = nullptr;
    int line = 0;
    while (const char* t = parser.nextToken(true)) {
      last = t;
      line = parser.lineNumber();
    }
    EXPECT_NE(last, nullptr) << c.text;
    EXPECT_EQ(line, c.lineOfLastToken) << "text: " << c.text;
  }
}

TEST_F(TokenParserTest, LongWordContinuesAsTheNextToken) {
  std::string word(600, 'w');
  std::string text = word + " next";
  Tokens tokens = allTokens(text.c_str());
  ASSERT_EQ(tokens.size(), 3u);
  EXPECT_EQ(tokens[0], std::string(511, 'w'));
  EXPECT_EQ(tokens[1], std::string(89, 'w'));
  EXPECT_EQ(tokens[2], "next");
}

TEST_F(TokenParserTest, LongQuotedStringContinuesInQuotedMode) {
  // The part after the cut holds blanks, a comment sign and punctuation: all of it belongs to the
  // string, and the closing quote must not open a new string.
  std::string body = std::string(511, 'q') + "  tail // x { y";
  std::string text = "\"" + body + "\" after \"next one\"";
  Tokens tokens = allTokens(text.c_str(), "{");
  ASSERT_EQ(tokens.size(), 4u);
  EXPECT_EQ(tokens[0], std::string(511, 'q'));
  EXPECT_EQ(tokens[1], "  tail // x { y");
  EXPECT_EQ(tokens[2], "after");
  EXPECT_EQ(tokens[3], "next one");

  // Exactly 511 characters fit into one token with its closing quote.
  std::string exact = "\"" + std::string(511, 'e') + "\" z";
  EXPECT_EQ(allTokens(exact.c_str()), (Tokens{std::string(511, 'e'), "z"}));

  // 1,100 characters: three pieces.
  std::string huge = "\"" + std::string(1100, 'h') + "\"";
  EXPECT_EQ(allTokens(huge.c_str()),
            (Tokens{std::string(511, 'h'), std::string(511, 'h'), std::string(78, 'h')}));
}

TEST_F(TokenParserTest, TokenWasCut) {
  struct Case {
    std::string text;
    std::vector<bool> cut;
  };
  const Case cases[] = {
      {std::string(511, 'w') + " x", {false, false}},
      {std::string(512, 'w') + " x", {true, false, false}},
      {std::string(511, 'w') + "{", {false, false}},
      {"\"" + std::string(511, 'q') + "\" x", {false, false}},
      {"\"" + std::string(512, 'q') + "\" x", {true, false, false}},
      {"\"" + std::string(1030, 'q') + "\"", {true, true, false}},
  };
  for (const Case& c : cases) {
    TokenParser parser;
    parser.pushText(c.text.c_str());
    parser.setPunctuation("{");
    std::vector<bool> cut;
    while (parser.nextToken(true))
      cut.push_back(parser.tokenWasCut());
    EXPECT_EQ(cut, c.cut) << c.text.size();
  }
}

TEST_F(TokenParserTest, SetTokenCutsToTheCallersBuffer) {
  TokenParser parser;
  parser.pushText("abcdefgh rest");
  char small[4];
  ASSERT_TRUE(parser.readToken(small, sizeof(small), true));
  EXPECT_STREQ(small, "abc");
  EXPECT_STREQ(parser.token(), "abcdefgh");
  EXPECT_TRUE(parser.readToken(nullptr, 0, true));
  EXPECT_STREQ(parser.token(), "rest");
}

TEST_F(TokenParserTest, ReadTokenStringEmptiesOnFailure) {
  TokenParser parser;
  parser.pushText("word");
  String s = "old";
  EXPECT_TRUE(parser.readTokenString(s, true));
  EXPECT_STREQ(s.c_str(), "word");
  EXPECT_FALSE(parser.readTokenString(s, true));
  EXPECT_STREQ(s.c_str(), "");
}

TEST_F(TokenParserTest, UnreadAndCheckToken) {
  TokenParser parser;
  parser.pushText("Alpha beta");
  EXPECT_TRUE(parser.checkToken("alpha", true));
  EXPECT_FALSE(parser.checkToken("gamma", true));
  EXPECT_TRUE(parser.checkToken("BETA", true)) << "a mismatch pushes the token back";
  EXPECT_FALSE(parser.checkToken("beta", true)) << "nothing left to read";
  EXPECT_TRUE(cmd.errors.empty());
}

TEST_F(TokenParserTest, PeekDoesNotConsume) {
  TokenParser parser;
  parser.pushText("first\nsecond");
  const char* peeked = parser.peekToken();
  ASSERT_NE(peeked, nullptr);
  EXPECT_STREQ(peeked, "first");
  EXPECT_STREQ(parser.peekToken(), "first");
  EXPECT_EQ(parser.levelCount(), 1);
  EXPECT_STREQ(parser.nextToken(true), "first");
  EXPECT_STREQ(parser.peekToken(), "second");
  EXPECT_EQ(parser.lineNumber(), 1) << "a peek leaves the line alone";
  EXPECT_STREQ(parser.nextToken(true), "second");
  EXPECT_EQ(parser.peekToken(), nullptr);
}

TEST_F(TokenParserTest, PeekKeepsAPushedBackToken) {
  TokenParser parser;
  parser.pushText("a b");
  parser.nextToken(true);
  parser.unreadToken();
  EXPECT_STREQ(parser.peekToken(), "a");
  EXPECT_STREQ(parser.nextToken(true), "a");
  EXPECT_STREQ(parser.nextToken(true), "b");
}

TEST_F(TokenParserTest, PeekWithAllLevelsInUse) {
  TokenParser parser;
  parser.pushText("outer");
  parser.pushText("one");
  parser.pushText("two");
  parser.pushText("x y");
  ASSERT_EQ(parser.levelCount(), 4);
  EXPECT_STREQ(parser.peekToken(), "x");
  EXPECT_EQ(parser.levelCount(), 4) << "the caller's level is never popped";
  EXPECT_STREQ(parser.peekToken(), "x");
  EXPECT_STREQ(parser.nextToken(true), "x");
  EXPECT_STREQ(parser.nextToken(true), "y");
  EXPECT_EQ(parser.nextToken(true), nullptr);
  parser.popText();
  EXPECT_STREQ(parser.nextToken(true), "two");
}

TEST_F(TokenParserTest, PeekInsideACutQuotedString) {
  std::string text = "\"" + std::string(520, 'p') + " end\" z";
  TokenParser parser;
  parser.pushText(text.c_str());
  parser.nextToken(true);
  EXPECT_STREQ(parser.peekToken(), (std::string(9, 'p') + " end").c_str());
  EXPECT_STREQ(parser.nextToken(true), (std::string(9, 'p') + " end").c_str());
  EXPECT_STREQ(parser.nextToken(true), "z");
}

// A peek reads a copy of the level with the level's own sets: for every set a peek and then a read
// give the same token, over a text long enough to take the block scans, and the text's length
// stays the whole text's at any point.
TEST_F(TokenParserTest, PeekAndReadAgreeForEverySet) {
  std::string text;
  for (int i = 0; i < 400; ++i) {
    text += "word" + std::to_string(i) + ",x;y{z}(" + std::string(size_t(i % 37), 'k') + ")";
    text += i % 5 ? " \"q u o t e d\" " : "\n// note\n";
    text += "a.b-c:d|e" + std::string(size_t(i % 19), 'm') + "\t";
  }
  struct Case {
    const char* punctuation;
    const char* whitespace;  // null: the default set
  } cases[] = {
      {"", nullptr},
      {"{}(),", nullptr},
      {"{}(),;:|.", " \t\n\r-"},
      {"!#$%&'*+,-./:;<=>?@[]^`{|}~", nullptr},  // more set characters than the block scan takes
      {"(", " \t\n\rkm"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.punctuation);
    TokenParser plain;
    plain.pushText(text.c_str());
    plain.setPunctuation(c.punctuation);
    plain.setWhitespace(c.whitespace);
    TokenParser peeking;
    peeking.pushText(text.c_str());
    peeking.setPunctuation(c.punctuation);
    peeking.setWhitespace(c.whitespace);
    int tokens = 0;
    for (;;) {
      const char* expected = plain.nextToken(true);
      const char* peeked = peeking.peekToken();
      if (!expected) {
        EXPECT_EQ(peeked, nullptr);
        break;
      }
      ASSERT_NE(peeked, nullptr) << "token " << tokens;
      const std::string peekedText = peeked;
      ASSERT_STREQ(peeking.nextToken(true), expected) << "token " << tokens;
      ASSERT_EQ(peekedText, expected) << "token " << tokens;
      EXPECT_EQ(peeking.lineNumber(), plain.lineNumber());
      ++tokens;
    }
    EXPECT_GT(tokens, 1000);
    EXPECT_EQ(peeking.textLength(), int(text.size()));
  }
}

TEST_F(TokenParserTest, TextLengthIsTheWholeTextOfTheLevel) {
  const std::string outer = "alpha beta gamma";
  const std::string inner(70000, 'z');
  TokenParser parser;
  parser.pushText(outer.c_str());
  parser.nextToken(true);
  parser.pushText(inner.c_str());
  EXPECT_EQ(parser.textLength(), 70000);
  parser.nextToken(true);
  EXPECT_EQ(parser.textLength(), 70000) << "reading does not change it";
  parser.popText();
  EXPECT_EQ(parser.textLength(), int(outer.size())) << "the level below measured when asked";
  parser.pushText("");
  EXPECT_EQ(parser.textLength(), 0);
  parser.popText();
  parser.pushText(nullptr);
  EXPECT_EQ(parser.textLength(), 0);
}

TEST_F(TokenParserTest, PeekTokenOnLine) {
  struct Case {
    const char* text;
    bool afterFirst;
  };
  const Case cases[] = {
      {"onAction method", true},    {"onAction\nmethod", false}, {"onAction // c\nm", false},
      {"onAction /* c */ m", true}, {"onAction \"q\"", true},    {"onAction", false},
      {"onAction   ", false},       {"onAction \"\"", false},    {"onAction \"\" x", true},
  };
  for (const Case& c : cases) {
    TokenParser parser;
    parser.pushText(c.text);
    ASSERT_STREQ(parser.nextToken(false), "onAction");
    EXPECT_EQ(parser.peekTokenOnLine(), c.afterFirst) << c.text;
    EXPECT_EQ(parser.peekTokenOnLine(), c.afterFirst) << "peeking twice: " << c.text;
    EXPECT_EQ(parser.nextToken(false) != nullptr, c.afterFirst) << "the peek consumed nothing: " << c.text;
  }
  // The event-line pattern: name, optional parameter, method.
  TokenParser parser;
  parser.pushText("onTime 500 fire\nonAction click\n");
  char first[64];
  ASSERT_TRUE(parser.readToken(first, sizeof(first), true));
  ASSERT_TRUE(parser.readToken(first, sizeof(first), false));
  EXPECT_TRUE(parser.peekTokenOnLine());
  ASSERT_TRUE(parser.readToken(first, sizeof(first), false));
  EXPECT_STREQ(first, "fire");
  EXPECT_FALSE(parser.peekTokenOnLine());
  ASSERT_TRUE(parser.readToken(first, sizeof(first), true));
  ASSERT_TRUE(parser.readToken(first, sizeof(first), false));
  EXPECT_STREQ(first, "click");
  EXPECT_FALSE(parser.peekTokenOnLine());
  // A pushed-back token is still to come.
  parser.unreadToken();
  EXPECT_TRUE(parser.peekTokenOnLine());
}

TEST_F(TokenParserTest, FifthPushIsRefusedAndLevelsStay) {
  TokenParser parser;
  const char* texts[] = {"l0 a", "l1 b", "l2 c", "l3 d"};
  for (const char* t : texts)
    ASSERT_TRUE(parser.pushText(t));
  parser.nextToken(true);
  const char* position = parser.textPosition();
  EXPECT_FALSE(parser.pushText("l4"));
  EXPECT_EQ(parser.levelCount(), 4);
  EXPECT_EQ(parser.textPosition(), position);
  EXPECT_STREQ(parser.token(), "l3");
  EXPECT_STREQ(parser.nextToken(true), "d");
  EXPECT_EQ(parser.popText(), nullptr) << "at the end of its text";
  EXPECT_STREQ(parser.nextToken(true), "l2");
  EXPECT_STREQ(parser.popText(), " c") << "where the level stood";
}

TEST_F(TokenParserTest, NoLevel) {
  TokenParser parser;
  char token[16] = "junk";
  EXPECT_FALSE(parser.readToken(token, sizeof(token), true));
  EXPECT_STREQ(token, "");
  EXPECT_EQ(parser.nextToken(true), nullptr);
  EXPECT_EQ(parser.peekToken(), nullptr);
  EXPECT_FALSE(parser.peekTokenOnLine());
  EXPECT_EQ(parser.popText(), nullptr);
  EXPECT_EQ(parser.textPosition(), nullptr);
  EXPECT_EQ(parser.textStart(), nullptr);
  EXPECT_EQ(parser.textLength(), 0);
  EXPECT_FALSE(parser.skipWhitespaceAndComments(true));
  EXPECT_FALSE(parser.isWhitespace(' '));
}

TEST_F(TokenParserTest, PushedLevelsInheritPunctuation) {
  TokenParser parser;
  parser.pushText("a,b");
  char old[32];
  parser.setPunctuation(",", old);
  EXPECT_STREQ(old, "");
  parser.pushText("c,d");
  EXPECT_STREQ(parser.setPunctuation(";"), ",") << "the previous set comes back";
  EXPECT_STREQ(parser.setPunctuation(","), ";");
  EXPECT_STREQ(parser.getPunctuation(), ",");
  EXPECT_STREQ(parser.getPunctuation(-1), ",");
  EXPECT_STREQ(parser.getPunctuation(-2), "");
  EXPECT_EQ(allTokens("c,d", ","), (Tokens{"c", ",", "d"}));
  parser.setPunctuation("0123456789abcdefghijklmnopqrstuvwxyz");
  EXPECT_EQ(std::strlen(parser.getPunctuation()), 31u) << "sets hold at most 31 characters";
  parser.setWhitespace(nullptr);
  EXPECT_TRUE(parser.isWhitespace('\n'));
  EXPECT_FALSE(parser.isWhitespace('\0'));
  parser.setWhitespace(" ");
  EXPECT_FALSE(parser.isWhitespace('\t'));
}

TEST_F(TokenParserTest, PunctuationRestoresFromTheReturnedSet) {
  TokenParser parser;
  parser.pushText("a{b}c");
  parser.setPunctuation("{}");
  const char* saved = parser.setPunctuation("}");
  parser.setPunctuation(saved);
  EXPECT_STREQ(parser.getPunctuation(), "{}") << "the returned old set is the argument of the next call";
  parser.setPunctuation(parser.getPunctuation());
  EXPECT_STREQ(parser.getPunctuation(), "{}");
  char tok[32];
  ASSERT_TRUE(parser.readToken(tok, sizeof(tok)));
  ASSERT_TRUE(parser.readToken(tok, sizeof(tok)));
  EXPECT_STREQ(tok, "{");
}

TEST_F(TokenParserTest, ParseFloats) {
  struct Case {
    const char* text;
    int count;
    char separator;
    bool ok;
    std::vector<float> values;
  };
  const Case cases[] = {
      {"( 1 2 3 )", 3, 0, true, {1, 2, 3}},   {"1 2 3", 3, 0, true, {1, 2, 3}},
      {"1 , 2 , 3", 3, ',', true, {1, 2, 3}}, {"( -1.5 2e2 .25 )", 3, 0, true, {-1.5f, 200.0f, 0.25f}},
      {"\n\n 4 5", 2, 0, true, {4, 5}},       {"1 2 x", 3, 0, true, {1, 2, 0}},
      {"1.5e", 1, 0, true, {1.5f}},
  };
  for (const Case& c : cases) {
    TokenParser parser;
    parser.pushText(c.text);
    parser.setPunctuation("(),");
    float out[8] = {};
    EXPECT_EQ(parser.parseFloats(out, c.count, c.separator, false), c.ok) << c.text;
    for (size_t i = 0; i < c.values.size(); ++i)
      EXPECT_FLOAT_EQ(out[i], c.values[i]) << c.text << " #" << i;
    EXPECT_EQ(cmd.errors, "") << c.text;
  }
}

TEST_F(TokenParserTest, ParseFloatsMissingCloseParenthesis) {
  TokenParser parser;
  parser.pushText("( 1 2 )");
  parser.setPunctuation("()");
  float out[3] = {9, 9, 9};
  EXPECT_FALSE(parser.parseFloats(out, 3, 0, false));
  EXPECT_FLOAT_EQ(out[2], 0.0f) << "the \")\" is read as the third number";
  EXPECT_EQ(cmd.errors.rfind("Syntax Error: parsed '<EOF>' while expecting ')'\n", 0), 0u) << cmd.errors;
  EXPECT_NE(cmd.errors.find("CODE: file 'tokenparser' line '"), std::string::npos);
}

TEST_F(TokenParserTest, ParseFloatsErrorTexts) {
  {
    TokenParser parser;
    parser.pushText("");
    EXPECT_FALSE(parser.parseFloats(nullptr, 3, 0, false));
    EXPECT_EQ(cmd.errors, "Syntax Error: parsed '0' floats while expecting '3'\n");
  }
  cmd.errors.clear();
  {
    TokenParser parser;
    parser.pushText("1 2\n3");
    float out[3];
    EXPECT_FALSE(parser.parseFloats(out, 3, 0, false));
    EXPECT_EQ(cmd.errors.rfind("Syntax Error: parsed '2' floats while expecting '3'\nSCRIPT_LINE: '1'\n", 0),
              0u)
        << cmd.errors;
  }
  cmd.errors.clear();
  {
    TokenParser parser;
    parser.pushText("1 ; 2");
    parser.setPunctuation(",;");
    float out[2];
    EXPECT_FALSE(parser.parseFloats(out, 2, ',', false));
    EXPECT_EQ(cmd.errors.rfind("Syntax Error: parsed ';' while expecting ','\n", 0), 0u) << cmd.errors;
    EXPECT_NE(cmd.errors.find("Syntax Error: parsed '1' floats while expecting '2'\n"), std::string::npos);
  }
}

TEST_F(TokenParserTest, ParseInts) {
  TokenParser parser;
  parser.pushText("( 1 -2 99999999999 ) 7 x");
  parser.setPunctuation("()");
  int out[3];
  ASSERT_TRUE(parser.parseInts(out, 3, 0, false));
  EXPECT_EQ(out[0], 1);
  EXPECT_EQ(out[1], -2);
  EXPECT_EQ(out[2], 2147483647) << "clamped";
  EXPECT_EQ(parser.parseInt(), 7);
  EXPECT_EQ(parser.parseInt(), 0);
  EXPECT_EQ(parser.parseInt(), 0) << "nothing left";
  EXPECT_FALSE(parser.parseInts(out, 1, 0, false));
  EXPECT_EQ(cmd.errors, "WARNING: line 1: the number '99999999999' is out of range\n")
      << "parseInts prints no count message; the clamped number is warned about";
}

TEST_F(TokenParserTest, ParseFloatReadsOnlyTheCurrentLine) {
  TokenParser parser;
  parser.pushText("0.5\n2");
  EXPECT_FLOAT_EQ(parser.parseFloat(), 0.5f);
  EXPECT_FLOAT_EQ(parser.parseFloat(), 0.0f);
  EXPECT_STREQ(parser.nextToken(true), "2");
}

TEST_F(TokenParserTest, NumberConversion) {
  struct Case {
    const char* text;
    double value;
  };
  const Case doubles[] = {{"1.5", 1.5}, {"  -2", -2}, {"+3.25", 3.25}, {"1e3", 1000},       {"abc", 0},
                          {"", 0},      {"7x", 7},    {".5", 0.5},     {"1e999", HUGE_VAL}, {"-1e-999", -0.0},
                          {"--1", 0},   {"-", 0},     {"1,5", 1}};
  for (const Case& c : doubles)
    EXPECT_EQ(textToDouble(c.text), c.value) << c.text;
  struct IntCase {
    const char* text;
    int value;
  };
  const IntCase ints[] = {{"42", 42},
                          {" -17", -17},
                          {"+8", 8},
                          {"3.9", 3},
                          {"x", 0},
                          {"2147483647", 2147483647},
                          {"2147483648", 2147483647},
                          {"-2147483648", -2147483647 - 1},
                          {"-99999999999999999999999", -2147483647 - 1},
                          {"123456789012345678901234567890", 2147483647}};
  for (const IntCase& c : ints)
    EXPECT_EQ(textToInt(c.text), c.value) << c.text;
  EXPECT_EQ(textToDouble(nullptr), 0.0);
  EXPECT_EQ(textToInt(nullptr), 0);
}

TEST_F(TokenParserTest, NumberConversionIgnoresTheLocale) {
  const char* locales[] = {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "C.UTF-8"};
  std::string old = std::setlocale(LC_NUMERIC, nullptr);
  bool set = false;
  for (const char* l : locales) {
    if (std::setlocale(LC_NUMERIC, l)) {
      set = true;
      break;
    }
  }
  TokenParser parser;
  parser.pushText("1.25 3.5");
  float out[2];
  EXPECT_TRUE(parser.parseFloats(out, 2, 0, false));
  std::setlocale(LC_NUMERIC, old.c_str());
  EXPECT_FLOAT_EQ(out[0], 1.25f);
  EXPECT_FLOAT_EQ(out[1], 3.5f);
  if (!set)
    GTEST_LOG_(INFO) << "no comma-decimal locale installed; checked in the C locale only";
}

TEST_F(TokenParserTest, ExpectTokenErrorTexts) {
  {
    TokenParser parser;
    parser.pushText("a\nb");
    ASSERT_TRUE(parser.expectToken("A", false, "src.cpp", 10));
    EXPECT_FALSE(parser.expectToken("b", false, "src.cpp", 11));
    EXPECT_EQ(cmd.errors,
              "Syntax Error: parsed '<newline>' while expecting 'b'\n"
              "SCRIPT_LINE: '1'\n"
              "SCRIPT_DATA:\n"
              "[1] a\n"
              "[2] b\n"
              "CODE: file 'src.cpp' line '11'\n");
  }
  cmd.errors.clear();
  {
    TokenParser parser;
    parser.pushText("x");
    parser.nextToken(true);
    EXPECT_FALSE(parser.expectToken("y", false, nullptr, 0));
    EXPECT_EQ(cmd.errors.rfind("Syntax Error: parsed '<EOF>' while expecting 'y'\n", 0), 0u) << cmd.errors;
    EXPECT_EQ(cmd.errors.find("CODE:"), std::string::npos) << "no source given, no CODE line";
  }
  cmd.errors.clear();
  {
    // Line numbers padded to the digits of the error line; the report ends one line past it.
    std::string text;
    for (int i = 1; i <= 12; ++i)
      text += 'l' + std::to_string(i) + '\n';
    text += "bad\nafter\nunseen\n";
    TokenParser parser;
    parser.pushText(text.c_str());
    while (std::strcmp(parser.nextToken(true), "l12") != 0) {
    }
    EXPECT_FALSE(parser.expectToken("good", true, "x.cpp", 5));
    EXPECT_NE(
        cmd.errors.find(
            "Syntax Error: parsed 'bad' while expecting 'good'\nSCRIPT_LINE: '13'\nSCRIPT_DATA:\n[01] l1\n"),
        std::string::npos)
        << cmd.errors;
    EXPECT_NE(cmd.errors.find("[13] bad\n[14] after\nCODE: file 'x.cpp' line '5'\n"), std::string::npos)
        << cmd.errors;
    EXPECT_EQ(cmd.errors.find("unseen"), std::string::npos);
  }
}

TEST_F(TokenParserTest, LoadFileAndItsErrorReport) {
  io.files["scripts/a.txt"] = "one\ntwo three";
  TokenParser parser;
  EXPECT_FALSE(parser.loadFile("missing.txt"));
  EXPECT_EQ(parser.levelCount(), 0);
  ASSERT_TRUE(parser.loadFile("scripts/a.txt"));
  EXPECT_STREQ(parser.nextToken(true), "one");
  EXPECT_FALSE(parser.expectToken("x", true, "caller.cpp", 3));
  EXPECT_EQ(cmd.errors,
            "Syntax Error: parsed 'two' while expecting 'x'\n"
            "SCRIPT: file 'scripts/a.txt' line '2'\n"
            "CODE: file 'caller.cpp' line '3'\n");
  cmd.errors.clear();
  // A text pushed over the file names it as the potential source.
  parser.pushText("inner");
  parser.printErrorReport(nullptr, 0);
  EXPECT_EQ(cmd.errors,
            "SCRIPT_LINE: '1'\nPOTENTIAL_SCRIPT_SOURCE: scripts/a.txt\nSCRIPT_DATA:\n[1] inner\n");
  parser.popText();
  EXPECT_EQ(parser.popText(), nullptr) << "a file level returns nothing";
  EXPECT_EQ(io.freed, 1);
}

// Numbers no content of the engine comes near: a reader keeps going, but the warning names the
// file and line, whether the text is a loaded file, a declaration copied out of one, or part of it.
TEST_F(TokenParserTest, NumbersOutOfRangeAreWarnedAboutWithTheirFileAndLine) {
  struct Case {
    const char* text;
    bool outOfRange;
  };
  for (const Case& c : {Case{"4294967295", false}, Case{"4294967296", true}, Case{"-4294967296999", true},
                        Case{"1e10", true}, Case{"1e400", true}, Case{"0.5", false}, Case{"inf", false},
                        Case{"nan", false}, Case{"word", false}, Case{"", false}})
    EXPECT_EQ(numberOutOfRange(c.text), c.outOfRange) << c.text;
  // Digits inside a name begin no number; an expression's do.
  EXPECT_EQ(findNumberOutOfRange("guiSurf entity4294967296999 maps/4294967296999"), nullptr);
  const char* expression = "\"table[time * 4294967296999.5] + 1\"";
  EXPECT_EQ(findNumberOutOfRange(expression), std::strstr(expression, "4294967296999.5"));

  // A loaded file: its own name and line, once per text.
  io.files["fx/a.txt"] = "size 1\nvolume 0.5, 4294967296999\ncount 5000000000\n";
  {
    TokenParser parser;
    ASSERT_TRUE(parser.loadFile("fx/a.txt"));
    parser.setPunctuation(",");
    EXPECT_STREQ(parser.nextToken(true), "size");
    EXPECT_EQ(parser.parseInt(), 1);
    EXPECT_STREQ(parser.nextToken(true), "volume");
    float v[2];
    EXPECT_TRUE(parser.parseFloats(v, 2, ','));
    EXPECT_FLOAT_EQ(v[1], 4294967296999.0f) << "the value is still read";
    EXPECT_STREQ(parser.nextToken(true), "count");
    parser.parseInt();
  }
  EXPECT_EQ(cmd.errors, "WARNING: fx/a.txt line 2: the number '4294967296999' is out of range\n");

  // A declaration body copied out of its file, and blocks of it copied again: the source names
  // the file and the line the body starts on.
  const std::string body = "size 4\nsprite\n{\n  count 70, 90\n  size 4294967296999\n}";
  const std::string block = body.substr(body.find("  count"), body.find('}') - body.find("  count"));
  const std::string twice = "a 9999999999\na 9999999999";
  struct Source {
    std::string pushed;
    const char* expected;
  };
  for (const Source& c :
       {Source{body, "WARNING: fx/b.fx line 15: the number '4294967296999' is out of range\n"},
        Source{block, "WARNING: fx/b.fx line 15: the number '4294967296999' is out of range\n"},
        // A text that is no part of the body (a model read while the body is parsed) is not of its file.
        Source{"other 4294967296999", "WARNING: line 1: the number '4294967296999' is out of range\n"}}) {
    cmd.errors.clear();
    const TokenParserSource source("fx/b.fx", body.c_str(), 11);
    TokenParser parser;
    ASSERT_TRUE(parser.pushText(c.pushed.c_str()));
    while (const char* t = parser.nextToken(true))
      parser.warnNumberRange(t);
    EXPECT_EQ(cmd.errors, c.expected) << c.pushed;
  }
  {
    // A copy found twice in the source gives only the file; no source, only the line.
    cmd.errors.clear();
    const TokenParserSource source("fx/c.fx", twice.c_str(), 3);
    TokenParserSource::warnNumberRange("a 9999999999", "a 9999999999", 1);
    TokenParserSource::warnNumberRange("a 9999999999", twice.c_str(), 2);
    EXPECT_EQ(cmd.errors,
              "WARNING: fx/c.fx: the number '9999999999' is out of range\n"
              "WARNING: fx/c.fx line 4: the number '9999999999' is out of range\n");
  }
  cmd.errors.clear();
  TokenParser parser;
  ASSERT_TRUE(parser.pushText("x\ny 1e20"));
  parser.nextToken(true);
  parser.nextToken(true);
  parser.warnNumberRange(parser.nextToken(true));
  EXPECT_EQ(cmd.errors, "WARNING: line 2: the number '1e20' is out of range\n");
}

TEST_F(TokenParserTest, LoadFileFreesOnRefusedPushAndInDestructor) {
  io.files["f"] = "data";
  {
    TokenParser parser;
    for (int i = 0; i < 3; ++i)
      parser.pushText("x");
    ASSERT_TRUE(parser.loadFile("f"));
    EXPECT_FALSE(parser.loadFile("f"));
    EXPECT_EQ(parser.levelCount(), 4);
  }
  EXPECT_EQ(io.loaded, io.freed) << "the destructor frees loaded levels";
  {
    TokenParser parser;
    ASSERT_TRUE(parser.loadFile("f"));
    g_ioSystem = nullptr;  // the file system is gone before the parser: no leak, no call
  }
  EXPECT_EQ(io.loaded, io.freed + 1);
}

TEST_F(TokenParserTest, SkipBlock) {
  TokenParser parser;
  parser.pushText("{ a { b } \"}\" } next");
  EXPECT_TRUE(parser.skipBlock(0));
  EXPECT_STREQ(parser.nextToken(true), "}") << "the quoted \"}\" closes the block";

  TokenParser open;
  open.pushText("x { y }");
  EXPECT_FALSE(open.skipBlock(0)) << "x is no {";
  EXPECT_EQ(cmd.errors.rfind("Syntax Error: parsed 'x' while expecting '{'\n", 0), 0u) << cmd.errors;
  cmd.errors.clear();

  TokenParser inside;
  inside.pushText("a { b } } after");
  EXPECT_TRUE(inside.skipBlock(1));
  EXPECT_STREQ(inside.nextToken(true), "after");

  TokenParser unbalanced;
  unbalanced.pushText("{ { {");
  EXPECT_TRUE(unbalanced.skipBlock(0)) << "the end of the text ends the skip";
}

TEST_F(TokenParserTest, ReadBracedSection) {
  struct Case {
    const char* text;
    bool ok;
    const char* body;
    const char* after;
  };
  const Case cases[] = {
      {"name {\n    a b\n    {\n        c\n    }\n}\nrest", true, "a b\n{\n    c\n}", "rest"},
      {"{ x }", true, "x", nullptr},
      {"{\n\t\tone\n\n\t\ttwo\n}", true, "one\n\ntwo", nullptr},
      {"{}", false, "", nullptr},
      {"{ \n }", false, "", nullptr},
      {"no brace", false, "", nullptr},
      {"{ never closed", true, "never closed", nullptr},
      {"{\n  a\n b\n}", true, "a\nb", nullptr},
  };
  for (const Case& c : cases) {
    TokenParser parser;
    parser.pushText(c.text);
    String body;
    EXPECT_EQ(parser.readBracedSection(body), c.ok) << c.text;
    EXPECT_STREQ(body.c_str(), c.body) << c.text;
    const char* next = parser.nextToken(true);
    if (c.after)
      EXPECT_STREQ(next, c.after) << c.text;
    else
      EXPECT_EQ(next, nullptr) << c.text;
  }
  // A pushed-back "{" counts as the opening brace; lines are counted through the body.
  TokenParser parser;
  parser.pushText("decl\n{\n  a\n  b\n}\nz");
  parser.nextToken(true);
  parser.nextToken(true);
  parser.unreadToken();
  String body;
  EXPECT_TRUE(parser.readBracedSection(body));
  EXPECT_STREQ(body.c_str(), "a\nb");
  EXPECT_STREQ(parser.nextToken(true), "z");
  EXPECT_EQ(parser.lineNumber(), 6);
}

TEST_F(TokenParserTest, ReadLine) {
  TokenParser parser;
  parser.pushText("  bind x \"a\" // comment\n\n set /* c */ y\tz\r\n/* open");
  char line[512];
  ASSERT_TRUE(parser.readLine(line, sizeof(line)));
  EXPECT_STREQ(line, "bind x \"a\" ");
  ASSERT_TRUE(parser.readLine(line, sizeof(line)));
  EXPECT_STREQ(line, "set  y\tz");
  EXPECT_EQ(parser.lineNumber(), 3);
  EXPECT_FALSE(parser.readLine(line, sizeof(line))) << "an unclosed comment at the end";

  std::string longLine(600, 'L');
  TokenParser longParser;
  longParser.pushText(longLine.c_str());
  ASSERT_TRUE(longParser.readLine(line, sizeof(line)));
  EXPECT_EQ(std::strlen(line), 511u);

  TokenParser inline_;
  inline_.pushText("a /* never closed");
  EXPECT_FALSE(inline_.readLine(line, sizeof(line)));
}

TEST_F(TokenParserTest, SkipToLine) {
  TokenParser parser;
  parser.pushText("l1\nl2\nl3 x\nl4");
  EXPECT_TRUE(parser.skipToLine(3));
  EXPECT_STREQ(parser.nextToken(true), "l3");
  EXPECT_EQ(parser.lineNumber(), 3);
  EXPECT_TRUE(parser.skipToLine(2));
  EXPECT_STREQ(parser.nextToken(true), "l2");
  EXPECT_TRUE(parser.skipToLine(4));
  EXPECT_STREQ(parser.nextToken(true), "l4");
  EXPECT_FALSE(parser.skipToLine(9));
  EXPECT_FALSE(parser.skipToLine(-1));
  EXPECT_TRUE(parser.skipToLine(1));
  EXPECT_STREQ(parser.nextToken(true), "l1");
}

TEST_F(TokenParserTest, SplitStatements) {
  struct Case {
    const char* text;
    Tokens words;
    int consumed;
  };
  const Case cases[] = {
      {"bind x \"say hi\"; echo", {"bind", "x", "say hi"}, 16},
      {"echo", {"echo"}, 4},
      {"a b\nc", {"a", "b"}, 4},
      {"say \";\" x; y", {"say", ";", "x"}, 10},
      {"a // note\nb", {"a"}, 10},
      {"; x", {}, 1},
      {"", {}, 0},
      {"  \t a\r\n", {"a"}, 7},
  };
  for (const Case& c : cases) {
    StringList64 list;
    EXPECT_EQ(TokenParser::splitStatements(list, c.text), c.consumed) << c.text;
    Tokens words;
    for (int i = 0; i < list.count; ++i)
      words.push_back(list.strings[i]);
    EXPECT_EQ(words, c.words) << c.text;
    EXPECT_STREQ(list.get(list.count), "") << "a missing word reads empty";
    EXPECT_STREQ(list.get(-1), "");
  }
}

TEST_F(TokenParserTest, SplitStatementsLimits) {
  std::string many;
  for (int i = 0; i < 70; ++i)
    many += 'w' + std::to_string(i) + ' ';
  many += "; next";
  StringList64 list;
  int consumed = TokenParser::splitStatements(list, many.c_str());
  EXPECT_EQ(list.count, 64);
  EXPECT_STREQ(list.strings[63], "w63");
  EXPECT_EQ(many.substr(static_cast<size_t>(consumed)), " next") << "the dropped words are still consumed";

  // 5 words of 511 characters overflow the 2,047-byte buffer after 4 (4 * 512 = 2048 > 2047).
  std::string big;
  for (int i = 0; i < 5; ++i)
    big += std::string(511, static_cast<char>('a' + i)) + " ";
  TokenParser::splitStatements(list, big.c_str());
  EXPECT_EQ(list.count, 3);
  EXPECT_EQ(list.used(), 3 * 512);
  StringList64 copy = list;
  EXPECT_EQ(copy.count, 3);
  EXPECT_EQ(copy.strings[2], copy.buffer + 1024) << "copies point into their own buffer";
}

TEST_F(TokenParserTest, SplitStatementsOverManyStatements) {
  std::string text;
  for (int i = 0; i < 100; ++i)
    text += "cmd" + std::to_string(i) + " arg;";
  const char* p = text.c_str();
  int statements = 0;
  StringList64 list;
  while (*p) {
    p += TokenParser::splitStatements(list, p);
    ASSERT_EQ(list.count, 2);
    EXPECT_EQ(std::string(list.get(0)), "cmd" + std::to_string(statements));
    ++statements;
  }
  EXPECT_EQ(statements, 100);
}

TEST_F(TokenParserTest, AppendPackedRefusesInsteadOfOverflowing) {
  StringList64 list;
  EXPECT_EQ(list.appendPacked("abc"), 2047 - 4);
  EXPECT_EQ(list.appendPacked(""), 2047 - 5);
  std::string fill(2047 - 5 - 1, 'f');
  EXPECT_EQ(list.appendPacked(fill.c_str()), 0);
  EXPECT_EQ(list.appendPacked(""), -1) << "no byte left for a terminator";
  EXPECT_EQ(list.count, 3);

  StringList64 words;
  for (int i = 0; i < 64; ++i)
    ASSERT_GE(words.appendPacked("w"), 0);
  EXPECT_EQ(words.appendPacked("w"), -1);
  EXPECT_EQ(words.count, 64);
}

TEST_F(TokenParserTest, CopyBracedGroup) {
  char out[16];
  EXPECT_TRUE(copyBracedGroup(out, sizeof(out), "x { a } { b }"));
  EXPECT_STREQ(out, "{ a }");
  EXPECT_TRUE(copyBracedGroup(out, sizeof(out), "{ open"));
  EXPECT_STREQ(out, "{ open");
  EXPECT_FALSE(copyBracedGroup(out, sizeof(out), "no group"));
  EXPECT_STREQ(out, "");
  EXPECT_FALSE(copyBracedGroup(out, sizeof(out), "{ this one is far too long }"));
  EXPECT_STREQ(out, "");
  EXPECT_TRUE(copyBracedGroup(out, 6, "{abc}"));
  EXPECT_FALSE(copyBracedGroup(out, 5, "{abc}"));
}

TEST_F(TokenParserTest, FindKeyValueInText) {
  const char* text = "name \"big box\"\nempty \"\"\nEmpty set\nmodel m.dmesh\n";
  EXPECT_STREQ(findKeyValueInText(text, "def", "NAME"), "big box");
  EXPECT_STREQ(findKeyValueInText(text, "def", "empty"), "set") << "empty values are passed over";
  EXPECT_STREQ(findKeyValueInText(text, "def", "missing"), "def");
  EXPECT_STREQ(findKeyValueInText(text, nullptr, "missing"), "");
  EXPECT_STREQ(findKeyValueInText(nullptr, "def", "name"), "");
  EXPECT_STREQ(findKeyValueInText(text, "def", nullptr), "");
  const char* first = findKeyValueInText(text, nullptr, "name");
  const char* second = findKeyValueInText(text, nullptr, "model");
  EXPECT_STREQ(first, "big box") << "two alternating buffers";
  EXPECT_STREQ(second, "m.dmesh");
  std::string huge(8192, 'k');
  EXPECT_STREQ(findKeyValueInText(huge.c_str(), "def", "k"), "");
}

TEST_F(TokenParserTest, GarbageInputTerminates) {
  std::mt19937 rng(12345);
  const char alphabet[] = "ab {}()\";/*\\\n\r\t ,.-0123456789eE";
  for (int round = 0; round < 400; ++round) {
    std::string text;
    int length = static_cast<int>(rng() % 1500);
    bool binary = round % 3 == 0;
    for (int i = 0; i < length; ++i) {
      char c = binary ? static_cast<char>(1 + rng() % 255) : alphabet[rng() % (sizeof(alphabet) - 1)];
      text += c;
    }
    TokenParser parser;
    parser.pushText(text.c_str());
    parser.setPunctuation("{}(),;");
    int steps = 0;
    for (;;) {
      ASSERT_LT(++steps, 10000) << "no progress";
      const char* before = parser.textPosition();
      switch (rng() % 9) {
        case 0:
          parser.peekToken();
          break;
        case 1:
          parser.peekTokenOnLine();
          break;
        case 2: {
          float f[3];
          parser.parseFloats(f, 3, rng() % 2 ? ',' : 0, rng() % 2);
          break;
        }
        case 3:
          parser.skipBlock(static_cast<int>(rng() % 2));
          break;
        case 4: {
          String s;
          parser.readBracedSection(s);
          break;
        }
        case 5: {
          char line[64];
          parser.readLine(line, sizeof(line));
          break;
        }
        default: {
          char token[512];
          parser.readToken(token, sizeof(token), rng() % 2);
          break;
        }
      }
      if (!*parser.textPosition())
        break;
      if (parser.textPosition() == before && parser.nextToken(true) == nullptr && !*parser.textPosition())
        break;
    }
    StringList64 list;
    const char* p = text.c_str();
    while (*p) {
      int used = TokenParser::splitStatements(list, p);
      ASSERT_GT(used, 0);
      p += used;
    }
    findKeyValueInText(text.c_str(), "d", "a");
  }
}

}  // namespace

namespace {

// Words, white space and punctuation only: what the 16-byte word scan must agree with.
std::vector<std::string> referenceWords(const std::string& text, const std::string& punctuation,
                                        const std::string& whitespace) {
  std::vector<std::string> out;
  std::string word;
  auto flush = [&] {
    for (size_t at = 0; at < word.size(); at += 511)
      out.push_back(word.substr(at, 511));
    word.clear();
  };
  for (char c : text) {
    if (whitespace.find(c) != std::string::npos) {
      flush();
    } else if (punctuation.find(c) != std::string::npos) {
      flush();
      out.push_back(std::string(1, c));
    } else {
      word += c;
    }
  }
  flush();
  return out;
}

}  // namespace

// Random texts that end right before an unreadable page, with control and high bytes inside words
// (false candidates of the wide scan), long words, and set sizes on both sides of the wide scan's
// limit.
TEST_F(TokenParserTest, WordScanAgreesWithTheRulesUpToAPageEnd) {
  const long page = sysconf(_SC_PAGESIZE);
  char* pages = static_cast<char*>(mmap(nullptr, size_t(page) * 2, PROT_READ | PROT_WRITE,
                                        MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(pages, MAP_FAILED);
  ASSERT_EQ(mprotect(pages + page, size_t(page), PROT_NONE), 0);
  struct Sets {
    std::string punctuation;
    std::string whitespace;
  } sets[] = {
      {"{}(),", " \t\n\r"},
      {"", " \t\n\r"},
      {"!#$%&()*+,-.:;<=>?@[]^`{|}~", " \t\n\r"},  // more than 16 set characters: byte by byte
      {"(", "\t\n"},                               // a space inside words
  };
  const char alphabet[] = {'a', 'b', '7', '.', '-', ' ', '\t', '\n', '(', ')', ',', '{', '\x01', '\x1f',
                           '\xe9', '\xff', '~', '!'};
  std::mt19937 rng(11);
  for (const Sets& s : sets) {
    for (int round = 0; round < 120; ++round) {
      const int length = int(rng() % 1200);
      const bool longWord = rng() % 4 == 0;
      std::string text;
      for (int i = 0; i < length; ++i)
        text += longWord && i > 20 && i < 900 ? 'w' : alphabet[rng() % sizeof(alphabet)];
      if (size_t(page) < text.size() + 1)
        continue;
      // No comment or quote starts: those rules are tested apart.
      for (char& c : text)
        if (c == '/' || c == '"')
          c = 'q';
      char* start = pages + page - long(text.size()) - 1;
      std::memcpy(start, text.c_str(), text.size() + 1);
      TokenParser parser;
      parser.pushText(start);
      parser.setPunctuation(s.punctuation.c_str());
      parser.setWhitespace(s.whitespace.c_str());
      std::vector<std::string> got;
      while (const char* t = parser.nextToken(true))
        got.push_back(t);
      ASSERT_EQ(got, referenceWords(text, s.punctuation, s.whitespace))
          << "punctuation \"" << s.punctuation << "\" round " << round;
    }
  }
  munmap(pages, size_t(page) * 2);
}

// Quoted strings of every length around the 16-byte steps, with newlines, closed and unclosed,
// ending right before an unreadable page: text and line count as the rules say.
TEST_F(TokenParserTest, QuotedScanAgreesUpToAPageEnd) {
  const long page = sysconf(_SC_PAGESIZE);
  char* pages = static_cast<char*>(mmap(nullptr, size_t(page) * 2, PROT_READ | PROT_WRITE,
                                        MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(pages, MAP_FAILED);
  ASSERT_EQ(mprotect(pages + page, size_t(page), PROT_NONE), 0);
  for (int length = 0; length < 600; length += (length < 48 ? 1 : 37)) {
    for (bool closed : {true, false}) {
      if (!closed && length == 0)
        continue;  // a lone quote at the end reads nothing (tested above)
      std::string body;
      for (int i = 0; i < length; ++i)
        body += i % 7 == 3 ? '\n' : char('a' + i % 26);
      const std::string text = "\"" + body + (closed ? "\" tail" : "");
      char* start = pages + page - long(text.size()) - 1;
      std::memcpy(start, text.c_str(), text.size() + 1);
      TokenParser parser;
      parser.pushText(start);
      const char* t = parser.nextToken(true);
      ASSERT_NE(t, nullptr) << length;
      const size_t kept = std::min<size_t>(body.size(), 511);
      EXPECT_EQ(std::string(t), body.substr(0, kept)) << length;
      int lines = 1;
      for (size_t i = 0; i < kept; ++i)
        lines += body[i] == '\n';
      EXPECT_EQ(parser.lineNumber(), lines) << length;
      if (closed && length <= 511) {
        const char* next = parser.nextToken(true);
        ASSERT_NE(next, nullptr) << length;
        EXPECT_STREQ(next, "tail");
      }
    }
  }
  munmap(pages, size_t(page) * 2);
}

// Inputs at the edges of the one-table dispatch and the block scans: numbers, punctuation and
// comment signs next to words, comment and quote characters that are white space or punctuation,
// comments cut by the end of the text, backslashes (no escapes), control and high bytes. Each
// text is read from ordinary memory and again ending right before an unreadable page; the tokens
// and the final line number must be those of the rules.
TEST_F(TokenParserTest, ScanningEdgeCases) {
  struct Case {
    const char* text;
    const char* punctuation;
    const char* whitespace;  // null: the default set
    Tokens expected;
    int line;
  };
  const Case cases[] = {
      {"-0.5e+3 1. .25 0x1F 1e-9", nullptr, nullptr, {"-0.5e+3", "1.", ".25", "0x1F", "1e-9"}, 1},
      {"( 1.5 -2 ){3,4}", "{}(),", nullptr, {"(", "1.5", "-2", ")", "{", "3", ",", "4", "}"}, 1},
      {"}}{{a", "{}", nullptr, {"}", "}", "{", "{", "a"}, 1},
      {"a/b a//b", nullptr, nullptr, {"a/b", "a//b"}, 1},
      {"a/b a//b\nc", "/", nullptr, {"a", "/", "b", "a", "c"}, 2},
      {"/ x", nullptr, nullptr, {"/", "x"}, 1},
      {"a/b a//b", nullptr, " /", {"a", "b", "a", "b"}, 1},
      {"\"a b\" c", nullptr, " \"", {"a", "b", "c"}, 1},
      {"x\"y z\"w", "\"", nullptr, {"x", "y z", "w"}, 1},
      {"\"a\\\"b\"", nullptr, nullptr, {"a\\", "b\""}, 1},
      {"a\\ b\\n", nullptr, nullptr, {"a\\", "b\\n"}, 1},
      {"a /*", nullptr, nullptr, {"a"}, 1},
      {"a /* *", nullptr, nullptr, {"a"}, 1},
      {"a /* \n*", nullptr, nullptr, {"a"}, 2},
      {"a //", nullptr, nullptr, {"a"}, 1},
      {"a /", nullptr, nullptr, {"a", "/"}, 1},
      {"/", nullptr, nullptr, {"/"}, 1},
      {"a/*/", nullptr, nullptr, {"a/*/"}, 1},
      {"a /**/b", nullptr, nullptr, {"a", "b"}, 1},
      {"/* ** \n *** \n ****/ x", nullptr, nullptr, {"x"}, 3},
      {"/* a comment much longer than one block, \n with * and / \n inside it */x\ny", nullptr, nullptr,
       {"x", "y"}, 4},
      {"// one\n// two\nz", nullptr, nullptr, {"z"}, 3},
      {"\"q\"//c\n\"r\"/*\n*/\"s\"", nullptr, nullptr, {"q", "r", "s"}, 3},
      {"\"line\none\" next", nullptr, nullptr, {"line\none", "next"}, 2},
      {"a\x01" "b c\x1f", nullptr, nullptr, {"a\x01" "b", "c\x1f"}, 1},
      {"a\xff" "b\xe9", "\xff", nullptr, {"a", "\xff", "b\xe9"}, 1},
      {"sixteen_letters_ seventeen_letters x", nullptr, nullptr,
       {"sixteen_letters_", "seventeen_letters", "x"}, 1},
      {"fifteen_letters,sixteen_letters_,", ",", nullptr, {"fifteen_letters", ",", "sixteen_letters_", ","}, 1},
  };
  const long page = sysconf(_SC_PAGESIZE);
  char* pages = static_cast<char*>(mmap(nullptr, size_t(page) * 2, PROT_READ | PROT_WRITE,
                                        MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(pages, MAP_FAILED);
  ASSERT_EQ(mprotect(pages + page, size_t(page), PROT_NONE), 0);
  for (const Case& c : cases) {
    const size_t length = std::strlen(c.text);
    char* atPageEnd = pages + page - long(length) - 1;
    std::memcpy(atPageEnd, c.text, length + 1);
    const std::string copy(c.text);
    for (const char* text : {copy.c_str(), const_cast<const char*>(atPageEnd)}) {
      TokenParser parser;
      parser.pushText(text);
      parser.setPunctuation(c.punctuation);
      if (c.whitespace)
        parser.setWhitespace(c.whitespace);
      Tokens got;
      while (const char* t = parser.nextToken(true))
        got.push_back(t);
      EXPECT_EQ(got, c.expected) << "text: " << c.text << (text == atPageEnd ? " (page end)" : "");
      EXPECT_EQ(parser.lineNumber(), c.line) << "text: " << c.text;
    }
  }
  munmap(pages, size_t(page) * 2);
}
