// Fuzzes KeyDict parsing: the text goes through the tokenizer into a dictionary (optionally
// inside an opening "{"), then the typed getters, copies and removals run over what was read.
#include <cstdint>
#include <vector>

#include "lib/keydict.h"
#include "lib/tokenparser.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

fuzz::QuietCmdSystem g_quiet;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  g_cmdSystem = &g_quiet;
  KeyDict::initPools();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<char> text(data, data + size);
  text.push_back('\0');

  TokenParser parser;
  parser.pushText(text.data());
  // Entity and declaration bodies follow a "{"; the same text is also read without one.
  if (size > 0 && (data[0] & 1))
    parser.setPunctuation("{}");
  parser.checkToken("{");

  KeyDict dict;
  dict.parse(parser);

  KeyDict other;
  for (int i = 0; i < dict.count(); ++i) {
    const char* key = dict.keyAt(i);
    float v[9];
    int n = 0;
    bool b = false;
    dict.getFloat(key, "0", v[0]);
    dict.getInt(key, nullptr, n);
    dict.getBool(key, "1", b);
    dict.getVec2(key, nullptr, v);
    dict.getVec3(key, "1 2 3", v);
    dict.getVec3Text(key, nullptr, v);
    dict.getVec4(key, nullptr, v);
    dict.getMat3(key, nullptr, v);
    if (i < 16)
      dict.matchPrefix(key);  // a linear scan: a few keys are enough
    if (i % 2)
      other.set(dict.valueAt(i), key);
  }
  dict.randomValueWithPrefix("");
  dict.getString("missing", nullptr);
  dict.memoryUsed();

  KeyDict copy(dict);
  copy.copyMissing(&other);
  for (int i = copy.count() - 1; i >= 0; i -= 2)
    copy.removeAt(i);
  for (int i = 0; i < other.count(); ++i)
    copy.remove(other.keyAt(i));
  other = copy;
  other.clear();
  return 0;
}
