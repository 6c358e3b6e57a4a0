// Console variables: value conversion and clamping, registration of static declarations, the
// registry's lookups, listing and completion.
#include <gtest/gtest.h>

#include <cfloat>

#include <climits>
#include <cmath>
#include <string>

#include "lib/keydict.h"
#include "system/cmdmanager.h"
#include "system/convarmanager.h"

// Declared before any manager exists: they wait and register, most recent first, when the manager
// is made. Two of them share a name.
static ConVar test_shared_first("test_shared", "first", kConVarString, "declared first");
static ConVar test_shared_second("test_shared", "7", kConVarInt, "declared second", 0.0f, 10.0f);
static ConVar test_ranged("test_ranged", "5", kConVarInt, "a ranged integer", 10.0f, 1024.0f);

namespace {

std::string g_output;
void capture(void*, const char* text) {
  g_output += text;
}

class ConVarTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_output.clear();
    KeyDict::initPools();
    getCmdManager()->setOutput(capture, nullptr);
    getConVarManager();
  }
  void TearDown() override {
    destroyConVarManager();
    destroyCmdManager();
    KeyDict::shutdownPools();
  }
};

// A registered variable made for one case (the flags and range under test).
struct ScratchVar {
  ScratchVar(const char* name, const char* value, uint32_t flags, float minimum, float maximum)
      : declaration(name, value, flags, "", minimum, maximum) {}
  ConVar declaration;
};

}  // namespace

TEST_F(ConVarTest, SetValueConvertsClampsAndFormats) {
  struct Case {
    uint32_t flags;
    float minimum, maximum;
    const char* text;
    int intValue;
    float floatValue;
    const char* stored;
  };
  const Case cases[] = {
      // Ranged integers store the clamped integer as text.
      {0x20012, 10, 1024, "5", 10, 10.0f, "10"},
      {0x20012, 10, 1024, "2000", 1024, 1024.0f, "1024"},
      {0x20012, 10, 1024, "10", 10, 10.0f, "10"},
      {0x20002, 0, 64, "3.7", 3, 3.7f, "3"},
      {0x20002, 0, 64, "-3.7", 0, 0.0f, "0"},
      {0x20002, 0, 64, "abc", 0, 0.0f, "0"},
      // Float flag: five decimals with trailing zeros dropped, no range means no clamping.
      {0x20004, 1, -1, "0.0220", 0, 0.022f, "0.022"},
      {0x20004, 1, -1, "5", 5, 5.0f, "5"},
      {0x20004, 1, -1, "-2.5", -2, -2.5f, "-2.5"},
      {0x20004, 1, -1, "1.234567", 1, 1.234567f, "1.23457"},
      {0x20004, 1, -1, "-0", 0, 0.0f, "0"},
      {0x14, 1, -1, "3", 3, 3.0f, "3"},
      // Neither float nor ranged: the text is kept as given; integers truncate toward zero.
      {0x20012, 1, -1, "word", 0, 0.0f, "word"},
      {0x2, 1, -1, "-7.9", -7, -7.9f, "-7.9"},
      {0x8, 1, -1, "0 0 0", 0, 0.0f, "0 0 0"},
      {0x8, 1, -1, "  42xyz", 42, 42.0f, "  42xyz"},
      {0x8, 1, -1, "", 0, 0.0f, ""},
      // Out of the int range: the integer clamps, never undefined. Beyond the float range the float
      // clamps too; "nan" and "inf" are words, not numbers, and read as 0.
      {0x2, 1, -1, "1e20", INT_MAX, 1e20f, "1e20"},
      {0x2, 1, -1, "-1e20", INT_MIN, -1e20f, "-1e20"},
      {0x2, 1, -1, "nan", 0, 0.0f, "nan"},
      {0x2, 1, -1, "inf", 0, 0.0f, "inf"},
      {0x2, 1, -1, "-Infinity", 0, 0.0f, "-Infinity"},
      {0x2, 1, -1, "1e400", INT_MAX, FLT_MAX, "1e400"},
      {0x2, 1, -1, "-1e39", INT_MIN, -FLT_MAX, "-1e39"},
      {0x20004, 1, -1, "nan", 0, 0.0f, "0"},
      {0x20004, 1, -1, "inf", 0, 0.0f, "0"},
      {0x20004, 1, -1, "1e39", INT_MAX, FLT_MAX, "340282346638528859811704183484516925440"},
      {0x20004, 0, 10, "-inf", 0, 0.0f, "0"},
      {0x2, 0, 100, "nan", 0, 0.0f, "0"},
      {0x2, 0, 100, "1e20", 100, 100.0f, "100"},
      // A range whose maximum does not exceed the minimum is no range.
      {0x2, 5, 5, "9", 9, 9.0f, "9"},
  };
  int index = 0;
  for (const Case& c : cases) {
    std::string name = "test_case_" + std::to_string(index++);
    ScratchVar scratch(name.c_str(), "", c.flags, c.minimum, c.maximum);
    ConVar& var = scratch.declaration;
    ASSERT_TRUE(var.isRegistered());
    var.setString(c.text);
    SCOPED_TRACE(std::string("text \"") + c.text + "\"");
    EXPECT_EQ(var.getInt(), c.intValue);
    if (std::isnan(c.floatValue))
      EXPECT_TRUE(std::isnan(var.getFloat()));
    else
      EXPECT_FLOAT_EQ(var.getFloat(), c.floatValue);
    EXPECT_STREQ(var.getString(), c.stored);
  }
}

TEST_F(ConVarTest, DeclarationReadsDefaultBeforeRegistration) {
  destroyConVarManager();
  ConVar local("test_local_default", "2.75", kConVarFloat, "d");
  EXPECT_FALSE(local.isRegistered());
  EXPECT_EQ(local.getInt(), 2);
  EXPECT_FLOAT_EQ(local.getFloat(), 2.75f);
  EXPECT_STREQ(local.getString(), "2.75");
  local.setString("9");  // nothing holds a value before the manager exists
  EXPECT_STREQ(local.getString(), "2.75");
  getConVarManager();
  EXPECT_TRUE(local.isRegistered());
  EXPECT_STREQ(local.getString(), "2.75");
}

TEST_F(ConVarTest, WaitingDeclarationsRegisterMostRecentFirst) {
  // The second declaration registered first: its default, flags and range made the variable.
  ConVar* var = g_conVarSystem->find("test_shared");
  ASSERT_NE(var, nullptr);
  EXPECT_EQ(test_shared_first.getRegistered(), var);
  EXPECT_EQ(test_shared_second.getRegistered(), var);
  EXPECT_STREQ(var->getString(), "7");
  EXPECT_EQ(var->getFlags(), static_cast<uint32_t>(kConVarInt));
  EXPECT_STREQ(var->getDescription(), "declared second");
  test_shared_first.setString("25");
  EXPECT_EQ(test_shared_second.getInt(), 10);  // the shared range clamps
  EXPECT_STREQ(test_shared_first.getString(), "10");
}

TEST_F(ConVarTest, LaterDeclarationOfExistingNameSharesTheValue) {
  ConVar later("TEST_RANGED", "999", kConVarFloat, "ignored", 0.0f, 5000.0f);
  EXPECT_EQ(later.getRegistered(), test_ranged.getRegistered());
  EXPECT_EQ(later.getInt(), 10);
  EXPECT_EQ(later.getMaximum(), 1024.0f);
  EXPECT_STREQ(later.getDescription(), "a ranged integer");
}

TEST_F(ConVarTest, DestroyPointsDeclarationsBackAtThemselves) {
  test_ranged.setInt(500);
  EXPECT_EQ(test_ranged.getInt(), 500);
  destroyConVarManager();
  EXPECT_EQ(g_conVarSystem, nullptr);
  EXPECT_FALSE(test_ranged.isRegistered());
  EXPECT_EQ(test_ranged.getRegistered(), &test_ranged);
  EXPECT_STREQ(test_ranged.getString(), "5");  // the declaration's own default text
  EXPECT_STREQ(test_shared_first.getString(), "first");
  // A second manager starts clean from the declarations.
  getConVarManager();
  EXPECT_TRUE(test_ranged.isRegistered());
  EXPECT_EQ(test_ranged.getInt(), 10);
  EXPECT_STREQ(g_conVarSystem->getString("test_shared"), "7");
}

TEST_F(ConVarTest, RegistryKeepsNamesSortedWithoutCase) {
  ConVar b("test_sort_b", "", 0);
  ConVar a("Test_Sort_A", "", 0);
  ConVar c("test_sort_C", "", 0);
  ConVarSystem* system = g_conVarSystem;
  for (int i = 1; i < system->count(); ++i) {
    std::string previous = system->at(i - 1)->getName();
    std::string current = system->at(i)->getName();
    for (char& ch : previous)
      ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    for (char& ch : current)
      ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    EXPECT_LT(previous, current);
  }
  EXPECT_EQ(system->find("TEST_SORT_a"), a.getRegistered());
  EXPECT_EQ(system->find("test_sort_c"), c.getRegistered());
  EXPECT_EQ(system->find(""), nullptr);
  EXPECT_EQ(system->find(nullptr), nullptr);
  EXPECT_EQ(system->find("test_sort"), nullptr);
  EXPECT_EQ(system->at(system->count()), nullptr);
}

TEST_F(ConVarTest, NamedAccessors) {
  ConVar var("test_named", "4", kConVarInt, "named access");
  ConVarSystem* system = g_conVarSystem;
  system->setInt("test_named", -12);
  EXPECT_EQ(system->getInt("test_named"), -12);
  EXPECT_STREQ(system->getString("TEST_NAMED"), "-12");
  system->setBool("test_named", true);
  EXPECT_TRUE(system->getBool("test_named"));
  system->setString("test_named", "0");
  EXPECT_FALSE(system->getBool("test_named"));
  system->setString("test_missing", "3");  // ignored
  EXPECT_EQ(system->find("test_missing"), nullptr);
  EXPECT_STREQ(system->getString("test_missing"), "");
  EXPECT_EQ(system->getInt("test_missing"), 0);
  var.setFloat(2.5f);
  EXPECT_STREQ(var.getString(), "2.5");
  var.setBool(false);
  EXPECT_STREQ(var.getString(), "0");
}

TEST_F(ConVarTest, PrintVarMessages) {
  ConVar var("test_print", "hello", kConVarString, "says hello");
  EXPECT_EQ(g_conVarSystem->printVar("test_print"), 1);
  EXPECT_EQ(g_conVarSystem->printVar("test_absent"), 0);
  EXPECT_EQ(g_conVarSystem->printVar(""), 0);
  EXPECT_EQ(g_output,
            "test_print \"hello\" (says hello)\n"
            "Cvar not found: test_absent\n"
            "Bad cvar name. || No cvars defined: \"CVARPrintf()\"\n");
}

TEST_F(ConVarTest, ListConVarsShowsFlagLettersAndFiltersCaseSensitively) {
  ConVar all("test_list_all", "1", 0x20000 | 0x80 | 0x2000 | 0x10000 | 0x10, "every letter");
  ConVar some("test_list_some", "x y", 0x20000 | 0x10);
  ConVar upper("Test_list_upper", "", 0);
  g_output.clear();
  g_cmdSystem->executeText("listConVars test_list");
  std::string expected =
      "AGCRD test_list_all \"1\" (every letter)\n"
      "A   D test_list_some \"x y\" ()\n"
      "\nTotal Cvars: " +
      std::to_string(g_conVarSystem->count()) + "\n";
  EXPECT_EQ(g_output, expected);
}

TEST_F(ConVarTest, ListConVarsIsRegisteredOnlyWithACommandManager) {
  EXPECT_NE(g_cmdSystem->findCommand("listConVars"), nullptr);
  destroyConVarManager();
  destroyCmdManager();
  getConVarManager();
  getCmdManager();
  EXPECT_EQ(g_cmdSystem->findCommand("listConVars"), nullptr);
}

TEST_F(ConVarTest, CompletionOverVariableNames) {
  ConVar a("zz_alpha", "1", 0);
  ConVar b("zz_alphabet", "2", 0);
  ConVar c("zz_beta", "3", 0);
  ConVarSystem* system = g_conVarSystem;
  EXPECT_EQ(system->countMatches("ZZ_"), 3);
  EXPECT_EQ(system->countMatches("zz_alp"), 2);

  ConVar* exact = nullptr;
  ConVar* closest = nullptr;
  g_output.clear();
  EXPECT_EQ(system->completeName("zz_alpha", &exact, &closest), 2);
  EXPECT_EQ(exact, a.getRegistered());
  EXPECT_EQ(closest, b.getRegistered());
  EXPECT_EQ(g_output, "VAR: zz_alpha = 1\nVAR: zz_alphabet = 2\n");

  char text[128] = "ZZ_A";
  system->completePrefix(text, sizeof(text), a.getRegistered());
  EXPECT_STREQ(text, "zz_alpha");  // extended while both names still match
  char single[128] = "zz_b";
  system->completePrefix(single, sizeof(single), c.getRegistered());
  EXPECT_STREQ(single, "zz_beta");
  char tiny[6] = "zz_b";
  system->completePrefix(tiny, sizeof(tiny), c.getRegistered());
  EXPECT_STREQ(tiny, "zz_be");  // bounded by the caller's buffer
}

TEST_F(ConVarTest, GameModuleDeclarationOutlivedByItsRecord) {
  // A declaration that goes away (a freed module's static) leaves a record with its own copies.
  auto* declaration = new ConVar("test_module_var", "7", kConVarInt, "from a module");
  ConVar* record = declaration->getRegistered();
  delete declaration;
  EXPECT_EQ(g_conVarSystem->find("test_module_var"), record);
  EXPECT_STREQ(record->getDescription(), "from a module");
  EXPECT_EQ(record->getInt(), 7);
  for (ConVar* d = ConVar::firstDeclaration(); d; d = d->nextDeclaration())
    EXPECT_NE(d, declaration);
}

TEST_F(ConVarTest, ExportAndImportByFlagMask) {
  ConVar user("ex_user", "alice", kConVarString | kConVarUserInfo);
  ConVar server("ex_server", "e1m1", kConVarString | kConVarServerInfo);
  ConVar both("ex_both", "7", kConVarInt | kConVarUserInfo | kConVarServerInfo, "", 0.0f, 10.0f);
  ConVar neither("ex_neither", "n", kConVarString);

  // Only variables sharing a bit with the mask, each with its value text.
  auto checkExport = [](const KeyDict* dict, uint32_t mask) {
    ASSERT_NE(dict, nullptr);
    for (int i = 0; i < dict->count(); ++i) {
      ConVar* var = g_conVarSystem->find(dict->keyAt(i));
      ASSERT_NE(var, nullptr) << dict->keyAt(i);
      EXPECT_NE(var->getFlags() & mask, 0u) << dict->keyAt(i);
      EXPECT_STREQ(dict->valueAt(i), var->getString());
    }
  };
  const KeyDict* users = g_conVarSystem->exportToDict(kConVarUserInfo);
  checkExport(users, kConVarUserInfo);
  EXPECT_STREQ(users->getString("ex_user"), "alice");
  EXPECT_STREQ(users->getString("ex_both"), "7");
  EXPECT_EQ(users->findKeyIndex("ex_server"), -1);
  EXPECT_EQ(users->findKeyIndex("ex_neither"), -1);

  // The next export reuses the dictionary: the previous pairs are gone.
  const KeyDict* servers = g_conVarSystem->exportToDict(kConVarServerInfo);
  EXPECT_EQ(servers, users);
  checkExport(servers, kConVarServerInfo);
  EXPECT_EQ(servers->findKeyIndex("ex_user"), -1);
  EXPECT_STREQ(servers->getString("ex_server"), "e1m1");
  EXPECT_EQ(g_conVarSystem->exportToDict(0)->count(), 0);

  KeyDict incoming;
  incoming.set("EX_USER", "bob");
  incoming.set("ex_both", "99");
  incoming.set("ex_unknown", "z");
  EXPECT_EQ(g_conVarSystem->importFromDict(incoming), 3);
  EXPECT_STREQ(user.getString(), "bob");
  EXPECT_STREQ(both.getString(), "10");  // set as any other text: clamped
  EXPECT_EQ(g_conVarSystem->find("ex_unknown"), nullptr);
  EXPECT_STREQ(neither.getString(), "n");
  incoming.clear();
}
