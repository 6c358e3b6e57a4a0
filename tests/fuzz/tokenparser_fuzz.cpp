// Fuzzes the tokenizer: texts split at NUL bytes are pushed as up to four levels, and a script at
// the front of the input picks the operations, punctuation and whitespace sets, sizes and flags.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "lib/str.h"
#include "lib/tokenparser.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

// The sets the engine's formats use, the empty set, an over-long set (cut at 31 characters) and
// sets that overlap the whitespace and comment characters.
const char* const kPunctuation[] = {
    nullptr,
    "",
    ";\n",
    ",{}",
    "{}(),",
    "()",
    ",{}();",
    ",();",
    "{}",
    "=",
    "!\"#$%&'()*+,-./:;<=>?@[\\]^_`{|}~",
    "/*",
    "\" ",
    "\\",
    "\n\t ",
};
const char* const kWhitespace[] = {nullptr, " \t\n\r", "", " ", "\n", ",", "\"", "/", "{} \n"};

constexpr size_t kPunctuationCount = sizeof(kPunctuation) / sizeof(kPunctuation[0]);
constexpr size_t kWhitespaceCount = sizeof(kWhitespace) / sizeof(kWhitespace[0]);
// Buffer sizes handed to the copying readers, cut-offs included.
const int kSizes[] = {0, 1, 2, 3, 16, 511, 512, 4096};

fuzz::QuietCmdSystem g_quiet;

void runStatic(const char* text) {
  StringList64 list;
  const char* p = text;
  for (int guard = 0; *p && guard < 100000; ++guard) {
    int used = splitStatements(list, p);
    if (used <= 0)
      break;
    p += used;
  }
  char group[256];
  copyBracedGroup(group, sizeof(group), text);
  copyBracedGroup(group, 1, text);
  findKeyValueInText(text, "default", "name");
  findKeyValueInText(text, nullptr, "");
  textToDouble(text);
  textToInt(text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  g_cmdSystem = &g_quiet;
  fuzz::ByteReader in(data, size);
  const size_t scriptLength = in.byte() % 64;
  std::vector<uint8_t> script(in.rest(), in.rest() + std::min(scriptLength, in.restSize()));
  in.skip(scriptLength);

  // The texts: the rest of the input, one level per NUL-separated piece.
  std::vector<char> body(in.rest(), in.rest() + in.restSize());
  body.push_back('\0');
  std::vector<const char*> texts;
  for (size_t i = 0; i < body.size(); i += std::strlen(&body[i]) + 1)
    texts.push_back(&body[i]);
  size_t nextText = 0;

  runStatic(texts[0]);

  TokenParser parser;
  parser.pushText(texts[nextText++]);
  fuzz::ByteReader ops(script.data(), script.size());
  char out[4096];
  float floats[8];
  int ints[8];
  char previous[TokenParserLevel::kSetSize];
  String str;
  while (!ops.empty()) {
    const uint8_t op = ops.byte();
    const uint8_t arg = ops.byte();
    const bool cross = arg & 1;
    const int outSize = kSizes[(arg >> 1) % 8];
    switch (op % 26) {
      case 0:
        parser.readToken(outSize ? out : nullptr, outSize, cross);
        break;
      case 1:
        parser.nextToken(cross);
        break;
      case 2:
        parser.readTokenString(str, cross);
        break;
      case 3:
        parser.peekToken();
        break;
      case 4:
        parser.peekTokenOnLine();
        break;
      case 5:
        parser.unreadToken();
        break;
      case 6:
        parser.setToken(outSize ? out : nullptr, outSize);
        break;
      case 7:
        parser.checkToken(arg & 2 ? "{" : "}", cross);
        break;
      case 8:
        parser.expectToken(arg & 2 ? "(" : "=", cross, "fuzz", 1);
        break;
      case 9:
        parser.parseFloats(floats, 1 + (arg >> 2) % 8, arg & 2 ? ',' : 0, cross);
        break;
      case 10:
        parser.parseInts(ints, 1 + (arg >> 2) % 8, arg & 2 ? ',' : 0, cross);
        break;
      case 11:
        parser.parseFloat();
        parser.parseInt();
        break;
      case 12:
        parser.readLine(outSize ? out : nullptr, outSize);
        break;
      case 13:
        parser.readBracedSection(str);
        break;
      case 14:
        parser.skipBlock(arg % 3);
        break;
      case 15:
        parser.skipToLine(arg);
        break;
      case 16:
        parser.skipWhitespaceAndComments(cross, arg & 2);
        break;
      case 17:
        parser.popText();
        break;
      case 18:
        if (nextText < texts.size())
          parser.pushText(texts[nextText++]);
        else
          parser.pushText(texts[arg % texts.size()]);
        break;
      case 19:
        parser.setPunctuation(kPunctuation[arg % kPunctuationCount], arg & 0x80 ? previous : nullptr);
        break;
      case 20:
        parser.setWhitespace(kWhitespace[arg % kWhitespaceCount]);
        break;
      case 21:
        parser.getPunctuation(int(arg % 7) - 2);
        break;
      case 22:
        parser.printErrorReport(arg & 1 ? "fuzz" : nullptr, arg);
        break;
      case 23: {
        char key[TokenParserLevel::kTokenSize];
        char value[TokenParserLevel::kTokenSize];
        readKeyValue(parser, key, value);
        break;
      }
      case 24:
        parser.textPosition();
        parser.textStart();
        parser.textLength();
        parser.lineNumber();
        parser.token();
        parser.tokenWasQuoted();
        parser.tokenWasCut();
        parser.isWhitespace(char(arg));
        break;
      case 25:
        parser.setPunctuation(nullptr);
        break;
    }
  }
  // Reads whatever is left on every level; each read must consume text, so the bound is generous.
  for (size_t guard = 0; parser.levelCount() > 0 && guard < 4 * size + 64; ++guard) {
    if (!parser.readToken(out, sizeof(out), true))
      parser.popText();
  }
  return 0;
}
