// Key/value dictionaries and the string pools: sharing and release of pooled texts, case rules,
// typed getters, parsing, prefix matches and the pool console commands.
#include "lib/keydict.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "lib/interface/cmdsystem.h"
#include "lib/matrix.h"
#include "lib/tokenparser.h"
#include "lib/vector.h"
#include "tests/support/capturecmdsystem.h"

namespace {

class KeyDictTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_cmdSystem = &cmd;
    KeyDict::initPools();
  }
  void TearDown() override {
    a.clear();
    b.clear();
    EXPECT_EQ(g_keyPool.num(), 0) << "every key released once the dictionaries are cleared";
    EXPECT_EQ(g_valuePool.num(), 0) << "every value released once the dictionaries are cleared";
    KeyDict::shutdownPools();
    g_cmdSystem = nullptr;
  }

  static std::vector<std::string> keys(const KeyDict& d) {
    std::vector<std::string> out;
    for (int i = 0; i < d.count(); ++i)
      out.push_back(std::string(d.keyAt(i)) + "=" + d.valueAt(i));
    return out;
  }

  CaptureCmdSystem cmd;
  KeyDict a;
  KeyDict b;
};

TEST_F(KeyDictTest, KeysFoldCaseAndStaySorted) {
  a.set("Name", "a");
  a.set("name", "b");
  ASSERT_EQ(a.count(), 1);
  EXPECT_STREQ(a.keyAt(0), "Name") << "the first spelling stays";
  EXPECT_STREQ(a.valueAt(0), "b");
  a.set("zeta", "1");
  a.set("Alpha", "2");
  a.set("_under", "3");
  a.set("[x", "4");
  // icmp folds A-Z to lower case: "[" (91) and "_" (95) sort before every letter.
  EXPECT_EQ(keys(a), (std::vector<std::string>{"[x=4", "_under=3", "Alpha=2", "Name=b", "zeta=1"}));
  a.set("", "x");
  a.set(nullptr, "x");
  EXPECT_EQ(a.count(), 5) << "empty keys are ignored";
  a.set("nullvalue", nullptr);
  EXPECT_STREQ(a.getString("nullvalue", "def"), "");
}

TEST_F(KeyDictTest, PooledKeysShareTheFirstSpelling) {
  a.set("origin", "0 0 0");
  b.set("Origin", "1 1 1");
  EXPECT_STREQ(b.keyAt(0), "origin");
  EXPECT_EQ(a.pairAt(0)->key, b.pairAt(0)->key);
  EXPECT_EQ(a.pairAt(0)->key->refCount, 2);
  EXPECT_EQ(g_keyPool.num(), 1);
}

TEST_F(KeyDictTest, ValuesAreSharedAndReleasedWithTheLastUser) {
  a.set("k1", "x");
  b.set("k2", "x");
  PoolString* shared = a.pairAt(0)->value;
  EXPECT_EQ(shared, b.pairAt(0)->value);
  EXPECT_EQ(shared->refCount, 2);
  a.clear();
  ASSERT_EQ(g_valuePool.find("x"), shared);
  EXPECT_EQ(shared->refCount, 1);
  b.clear();
  EXPECT_EQ(g_valuePool.find("x"), nullptr);
  EXPECT_EQ(g_valuePool.num(), 0);
}

TEST_F(KeyDictTest, ValueCaseMattersKeyCaseDoesNot) {
  a.set("X", "X");
  b.set("x", "x");
  EXPECT_EQ(g_keyPool.num(), 1);
  EXPECT_EQ(g_valuePool.num(), 2);
  EXPECT_NE(a.pairAt(0)->value, b.pairAt(0)->value);
}

TEST_F(KeyDictTest, SettingTheSameValueKeepsItPooled) {
  a.set("k", "only");
  PoolString* value = a.pairAt(0)->value;
  a.set("k", "only");
  EXPECT_EQ(a.pairAt(0)->value, value);
  EXPECT_EQ(value->refCount, 1);
  a.setValueAt(0, "only");
  EXPECT_EQ(a.pairAt(0)->value, value);
  EXPECT_EQ(value->refCount, 1);
}

TEST_F(KeyDictTest, IndexOperationsOutsideTheRangeDoNothing) {
  a.set("a", "1");
  a.set("b", "2");
  for (int index : {-1, 2, 3, 1000}) {
    a.setValueAt(index, "changed");
    a.removeAt(index);
  }
  EXPECT_EQ(keys(a), (std::vector<std::string>{"a=1", "b=2"}));
  EXPECT_EQ(a.pairAt(2), nullptr);
  EXPECT_STREQ(a.keyAt(-1), "");
  a.setValueAt(1, "two");
  a.removeAt(0);
  EXPECT_EQ(keys(a), (std::vector<std::string>{"b=two"}));
  a.remove("B");
  a.remove("missing");
  a.remove(nullptr);
  EXPECT_EQ(a.count(), 0);
}

TEST_F(KeyDictTest, FindIndexGivesTheInsertionPlace) {
  a.set("b", "");
  a.set("d", "");
  int index = -1;
  EXPECT_FALSE(a.findIndex("a", index));
  EXPECT_EQ(index, 0);
  EXPECT_FALSE(a.findIndex("c", index));
  EXPECT_EQ(index, 1);
  EXPECT_FALSE(a.findIndex("e", index));
  EXPECT_EQ(index, 2);
  EXPECT_TRUE(a.findIndex("D", index));
  EXPECT_EQ(index, 1);
  EXPECT_EQ(a.findKeyIndex(""), -1);
  EXPECT_EQ(a.findKeyIndex(nullptr), -1);
  EXPECT_EQ(a.findKey("x"), nullptr);
  ASSERT_NE(a.findKey("B"), nullptr);
  EXPECT_STREQ(a.findKey("B")->keyText(), "b");
}

TEST_F(KeyDictTest, CopyShares) {
  a.set("k", "v");
  a.set("j", "w");
  b = a;
  EXPECT_EQ(keys(b), keys(a));
  EXPECT_EQ(b.pairAt(0)->key, a.pairAt(0)->key);
  EXPECT_EQ(b.pairAt(0)->value->refCount, 2);
  b = b;
  EXPECT_EQ(b.count(), 2);
  KeyDict c(a);
  EXPECT_EQ(a.pairAt(1)->value->refCount, 3);

  // Into a non-empty dictionary every pair goes through set.
  c.set("j", "old");
  c.set("extra", "e");
  c.copy(b);
  EXPECT_EQ(keys(c), (std::vector<std::string>{"extra=e", "j=w", "k=v"}));
  c.clear();

  b.clear();
  b.set("k", "mine");
  b.set("z", "z");
  b.copyMissing(&a);
  b.copyMissing(nullptr);
  EXPECT_EQ(keys(b), (std::vector<std::string>{"j=w", "k=mine", "z=z"}));
  EXPECT_EQ(b.findKey("j")->value, a.findKey("j")->value);
}

TEST_F(KeyDictTest, TypedGetters) {
  a.set("f", "2.5");
  a.set("i", "-7");
  a.set("v2", "1 2");
  a.set("v4", "1 2 3 4 5");
  a.set("m", "2 0 0 0 3");
  a.set("bad", "x y");
  float f = 0;
  EXPECT_TRUE(a.getFloat("f", "0", f));
  EXPECT_FLOAT_EQ(f, 2.5f);
  EXPECT_FALSE(a.getFloat("nf", "1.25", f));
  EXPECT_FLOAT_EQ(f, 1.25f);
  EXPECT_FALSE(a.getFloat("nf", nullptr, f));
  EXPECT_FLOAT_EQ(f, 0.0f);
  int i = 0;
  EXPECT_TRUE(a.getInt("i", "0", i));
  EXPECT_EQ(i, -7);
  EXPECT_FALSE(a.getInt("ni", "12", i));
  EXPECT_EQ(i, 12);

  float v[9];
  EXPECT_TRUE(a.getVec3("v2", nullptr, v));
  EXPECT_EQ(std::vector<float>(v, v + 3), (std::vector<float>{1, 2, 0}));
  EXPECT_FALSE(a.getVec3("none", nullptr, v));
  EXPECT_EQ(std::vector<float>(v, v + 3), (std::vector<float>{0, 0, 0}));
  EXPECT_FALSE(a.getVec3Text("none", "4 5 6", v));
  EXPECT_EQ(std::vector<float>(v, v + 3), (std::vector<float>{4, 5, 6}));
  EXPECT_TRUE(a.getVec2("v4", nullptr, v));
  EXPECT_EQ(std::vector<float>(v, v + 2), (std::vector<float>{1, 2}));
  EXPECT_TRUE(a.getVec4("v4", nullptr, v));
  EXPECT_EQ(std::vector<float>(v, v + 4), (std::vector<float>{1, 2, 3, 4}));
  EXPECT_TRUE(a.getVec4("bad", nullptr, v));
  EXPECT_EQ(std::vector<float>(v, v + 4), (std::vector<float>{0, 0, 0, 0}));
  EXPECT_FALSE(a.getMat3("none", nullptr, v));
  EXPECT_EQ(std::vector<float>(v, v + 9), (std::vector<float>{1, 0, 0, 0, 1, 0, 0, 0, 1}));
  EXPECT_TRUE(a.getMat3("m", nullptr, v));
  EXPECT_EQ(std::vector<float>(v, v + 9), (std::vector<float>{2, 0, 0, 0, 3, 0, 0, 0, 1}))
      << "components the text does not supply keep the identity";
}

TEST_F(KeyDictTest, MathTypeGetters) {
  a.set("origin", "1 2");
  a.set("color", "0.5 0.25 1 0.75");
  a.set("axis", "0 1 0 -1 0 0");
  a.set("size", "8 16");
  Vec3 origin(9, 9, 9);
  EXPECT_TRUE(a.getVec3("origin", nullptr, origin));
  EXPECT_EQ(origin.x, 1.0f);
  EXPECT_EQ(origin.y, 2.0f);
  EXPECT_EQ(origin.z, 0.0f);
  EXPECT_FALSE(a.getVec3Text("none", "3 4 5", origin));
  EXPECT_EQ(origin.z, 5.0f);
  Vec4 color;
  EXPECT_TRUE(a.getVec4("color", nullptr, color));
  EXPECT_EQ(color.w, 0.75f);
  Vec2 size;
  EXPECT_TRUE(a.getVec2("size", nullptr, size));
  EXPECT_EQ(size.y, 16.0f);
  Mat3 axis;
  EXPECT_TRUE(a.getMat3("axis", nullptr, axis));
  EXPECT_EQ(axis.rows[0].y, 1.0f);
  EXPECT_EQ(axis.rows[1].x, -1.0f);
  EXPECT_EQ(axis.rows[2].z, 1.0f) << "the identity's last row stays";
}

TEST_F(KeyDictTest, GetBool) {
  struct Case {
    const char* value;
    bool expected;
  };
  const Case cases[] = {{"1", true},    {"TRUE", true}, {"true", true},   {"-3", true},   {"0", false},
                        {"yes", false}, {"", false},    {"false", false}, {"tRuE", true}, {" 1", true}};
  for (const Case& c : cases) {
    a.set("flag", c.value);
    bool out = !c.expected;
    EXPECT_TRUE(a.getBool("flag", "0", out));
    EXPECT_EQ(out, c.expected) << "'" << c.value << "'";
  }
  bool out = false;
  EXPECT_FALSE(a.getBool("none", "1", out));
  EXPECT_TRUE(out);
}

TEST_F(KeyDictTest, Parse) {
  struct Case {
    const char* text;
    bool ok;
    std::vector<std::string> pairs;
    const char* printed;
    const char* next;  // the token after the parse, null at the end
  };
  const Case cases[] = {
      {"a 1\nb\nc 3 }", true, {"a=1"}, "", "c"},
      {"a x \\ y }", true, {"a=xy"}, "", nullptr},
      {"a x \\\n y \\ \"z w\" }", true, {"a=xyz w"}, "", nullptr},
      {"a 1 a 2 }", false, {"a=2"}, "'a' already defined\n", nullptr},
      {"a 1 A 2 }", false, {"a=2"}, "'A' already defined\n", nullptr},
      {"\"spaced key\" \"spaced value\"\n// comment\nb 2\n} after",
       true,
       {"b=2", "spaced key=spaced value"},
       "",
       "after"},
      {"a 1\nb 2", true, {"a=1", "b=2"}, "", nullptr},
      {"a x \\", false, {}, "", nullptr},
      {"\"}\" quoted }", true, {"}=quoted"}, "", nullptr},
      {"}", true, {}, "", nullptr},
  };
  for (const Case& c : cases) {
    a.clear();
    cmd.output.clear();
    TokenParser parser;
    parser.pushText(c.text);
    EXPECT_EQ(a.parse(parser), c.ok) << c.text;
    EXPECT_EQ(keys(a), c.pairs) << c.text;
    EXPECT_EQ(cmd.output, c.printed) << c.text;
    const char* next = parser.nextToken(true);
    if (c.next)
      EXPECT_STREQ(next, c.next) << c.text;
    else
      EXPECT_EQ(next, nullptr) << c.text;
  }
}

TEST_F(KeyDictTest, ParseLongValues) {
  std::string text = "k \"" + std::string(600, 'v') + "\"\nj " + std::string(600, 'w') + "\n" +
                     std::string(700, 'K') + " long }";
  TokenParser parser;
  parser.pushText(text.c_str());
  a.parse(parser);
  EXPECT_EQ(std::string(a.getString("k")), std::string(511, 'v'));
  // The rest of an over-long value is dropped, not read as the next key.
  EXPECT_EQ(a.count(), 3);
  EXPECT_STREQ(a.getString(std::string(511, 'K').c_str()), "long") << "an over-long key is cut the same way";
  EXPECT_EQ(std::string(a.getString("j")), std::string(511, 'w'));

  std::string joined = "k " + std::string(400, 'a') + " \\ " + std::string(400, 'b') + " }";
  TokenParser joiner;
  joiner.pushText(joined.c_str());
  a.clear();
  EXPECT_TRUE(a.parse(joiner));
  EXPECT_EQ(std::string(a.getString("k")), std::string(400, 'a') + std::string(111, 'b')) << "cut at 511";
}

TEST_F(KeyDictTest, ParseGarbage) {
  std::mt19937 rng(4242);
  const char alphabet[] = "ab }{\"\\\n /*-.0123456789";
  for (int round = 0; round < 300; ++round) {
    std::string text;
    int length = static_cast<int>(rng() % 2000);
    for (int i = 0; i < length; ++i)
      text += alphabet[rng() % (sizeof(alphabet) - 1)];
    TokenParser parser;
    parser.pushText(text.c_str());
    a.parse(parser);
    for (int i = 1; i < a.count(); ++i)
      ASSERT_LT(String::icmp(a.keyAt(i - 1), a.keyAt(i)), 0);
    b = a;
    a.clear();
  }
  b.clear();
}

TEST_F(KeyDictTest, MatchPrefixAndRandomValue) {
  a.set("snd_a", "1");
  a.set("SND_b", "2");
  a.set("model", "m");
  a.set("snd_c", "3");
  std::vector<std::string> found;
  for (const KeyValue* p = a.matchPrefix("snd_"); p; p = a.matchPrefix("snd_", p))
    found.push_back(p->valueText());
  EXPECT_EQ(found, (std::vector<std::string>{"1", "2", "3"}));
  EXPECT_EQ(a.matchPrefix("x"), nullptr);
  EXPECT_EQ(a.matchPrefix(nullptr), nullptr);
  EXPECT_STREQ(a.randomValueWithPrefix("none"), "");
  std::set<std::string> picked;
  std::srand(7);
  for (int i = 0; i < 200; ++i)
    picked.insert(a.randomValueWithPrefix("snd"));
  EXPECT_EQ(picked, (std::set<std::string>{"1", "2", "3"}));
  EXPECT_STREQ(a.randomValueWithPrefix("mod"), "m");
}

TEST_F(KeyDictTest, MemoryUsed) {
  EXPECT_EQ(a.memoryUsed(), 0u);
  a.set("short", "v");
  size_t small = a.memoryUsed();
  EXPECT_EQ(small, 16 * sizeof(KeyValue)) << "inline texts cost nothing beyond the slots";
  a.set("long", std::string(40, 'x').c_str());
  EXPECT_EQ(a.memoryUsed(), small + 64) << "a 40-character text holds a 64-byte block";
  EXPECT_GT(g_valuePool.memoryUsed(), g_keyPool.memoryUsed());
}

TEST_F(KeyDictTest, PoolCommands) {
  KeyDict::registerCommands();
  ASSERT_EQ(cmd.commands.size(), 4u);
  for (const auto& [name, command] : cmd.commands)
    EXPECT_EQ(command.flags, 2u) << name;
  EXPECT_EQ(cmd.commands["showStringPool"].description, "string pool memory usage");
  EXPECT_EQ(cmd.commands["com_showStringPool"].description, "string pool memory usage");
  EXPECT_EQ(cmd.commands["listStringKeys"].description, "list global key string pool");
  EXPECT_EQ(cmd.commands["listStringValues"].description, "list global value string pool");

  a.set("beta", "Y");
  a.set("Alpha", "x");
  b.set("gamma", "x");
  cmd.run("listStringKeys");
  EXPECT_EQ(cmd.output, "Alpha\nbeta\ngamma\n    3 keys\n");
  cmd.output.clear();
  cmd.run("listStringValues");
  EXPECT_EQ(cmd.output, "Y\nx\n    2 values\n") << "byte order in the value pool";
  cmd.output.clear();
  cmd.run("showStringPool");
  char expected[128];
  snprintf(expected, sizeof(expected), "%5d KB in 3 keys\n%5d KB in 2 values\n",
           static_cast<int>(g_keyPool.memoryUsed() / 1024),
           static_cast<int>(g_valuePool.memoryUsed() / 1024));
  EXPECT_EQ(cmd.output, expected);
}

// Large dictionaries batch their insertions; every operation must still behave as on one sorted
// array. Checked against a model map with the same case rule.
TEST_F(KeyDictTest, LargeDictionaryMatchesASortedModel) {
  struct NoCaseLess {
    bool operator()(const std::string& x, const std::string& y) const {
      return String::icmp(x.c_str(), y.c_str()) < 0;
    }
  };
  std::map<std::string, std::string, NoCaseLess> model;
  std::mt19937 rng(77);
  auto randomKey = [&] {
    std::string k = "k" + std::to_string(rng() % 3000);
    if (rng() % 3 == 0)
      k[0] = 'K';
    return k;
  };
  auto check = [&](const char* when) {
    ASSERT_EQ(a.count(), static_cast<int>(model.size())) << when;
    int i = 0;
    for (const auto& [key, value] : model) {
      ASSERT_EQ(String::icmp(a.keyAt(i), key.c_str()), 0) << when << " #" << i;
      ASSERT_STREQ(a.valueAt(i), value.c_str()) << when << " #" << i;
      ++i;
    }
  };
  // Keys pooled by another dictionary but absent from this one take the slower path.
  for (int i = 0; i < 3000; i += 3)
    b.set(("K" + std::to_string(i)).c_str(), "other");
  for (int step = 0; step < 20000; ++step) {
    std::string key = randomKey();
    switch (rng() % 10) {
      case 0: {
        a.remove(key.c_str());
        model.erase(key);
        break;
      }
      case 1: {
        if (model.empty())
          break;
        int index = static_cast<int>(rng() % model.size());
        auto it = std::next(model.begin(), index);
        ASSERT_EQ(String::icmp(a.keyAt(index), it->first.c_str()), 0);
        if (rng() % 2) {
          a.setValueAt(index, "changed");
          it->second = "changed";
        } else {
          a.removeAt(index);
          model.erase(it);
        }
        break;
      }
      case 2: {
        const KeyValue* pair = a.findKey(key.c_str());
        auto it = model.find(key);
        ASSERT_EQ(pair != nullptr, it != model.end()) << key;
        if (pair) {
          ASSERT_STREQ(pair->valueText(), it->second.c_str());
        }
        break;
      }
      default: {
        std::string value = "v" + std::to_string(step);
        a.set(key.c_str(), value.c_str());
        model[key] = value;  // an existing key keeps its first spelling in both
        break;
      }
    }
    if (step % 2500 == 0)
      check("during");
  }
  check("end");
  b = a;
  EXPECT_EQ(b.count(), a.count());
  KeyDict c;
  c.set("k1", "mine");
  c.copyMissing(&a);
  EXPECT_EQ(c.count(), static_cast<int>(model.size() + (model.count("k1") ? 0 : 1)));
  EXPECT_STREQ(c.getString("k1"), "mine");
}

TEST(StringPoolTest, ManyTextsKeepOrderAndLookups) {
  StringPool pool(false);
  std::mt19937 rng(99);
  std::vector<std::string> texts;
  for (int i = 0; i < 5000; ++i)
    texts.push_back("Key" + std::to_string(rng() % 100000) + "_" + std::to_string(i));
  std::vector<PoolString*> pooled;
  for (const std::string& t : texts)
    pooled.push_back(pool.allocate(t.c_str()));
  EXPECT_EQ(pool.num(), 5000);
  std::string shouted = texts[0];
  std::transform(shouted.begin(), shouted.end(), shouted.begin(), ::toupper);
  EXPECT_EQ(pool.allocate(shouted.c_str()), pooled[0]) << "the case-insensitive pool finds any spelling";
  EXPECT_EQ(pooled[0]->refCount, 2);
  pool.release(pooled[0]);

  // Release a random half; the rest must still be found, the released not.
  std::vector<size_t> order(texts.size());
  for (size_t i = 0; i < order.size(); ++i)
    order[i] = i;
  std::shuffle(order.begin(), order.end(), rng);
  std::set<size_t> gone(order.begin(), order.begin() + 2500);
  for (size_t i : gone)
    pool.release(pooled[i]);
  EXPECT_EQ(pool.num(), 2500);
  for (size_t i = 0; i < texts.size(); ++i) {
    std::string upper = texts[i];
    std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
    PoolString* found = pool.find(upper.c_str());
    if (gone.count(i))
      EXPECT_EQ(found, nullptr) << texts[i];
    else
      EXPECT_EQ(found, pooled[i]) << texts[i];
  }
  for (int i = 1; i < pool.num(); ++i)
    ASSERT_LT(String::icmp(pool[i - 1]->c_str(), pool[i]->c_str()), 0);
}

TEST(StringPoolTest, CaseSensitivePoolAndCrossPoolCopies) {
  StringPool values(true);
  StringPool keys(false);
  PoolString* upper = values.allocate("B");
  PoolString* lower = values.allocate("a");
  EXPECT_NE(values.allocate("b"), upper);
  ASSERT_EQ(values.num(), 3);
  EXPECT_STREQ(values[0]->c_str(), "B") << "byte order: upper case first";
  EXPECT_STREQ(values[1]->c_str(), "a");
  PoolString* copied = keys.copy(upper);
  EXPECT_EQ(copied->pool, &keys);
  EXPECT_EQ(keys.copy(copied), copied);
  EXPECT_EQ(copied->refCount, 2);
  EXPECT_EQ(values.copy(lower), lower);
  EXPECT_EQ(lower->refCount, 2);
  PoolString* empty = values.allocate(nullptr);
  EXPECT_STREQ(empty->c_str(), "");
  values.clear();
  EXPECT_EQ(values.num(), 0);
  EXPECT_EQ(values.find("a"), nullptr);
  // keys is cleared by its destructor.
}

}  // namespace
